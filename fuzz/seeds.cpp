// Writes the seed corpus of the fuzz targets into the directory given: real titles in each
// encoding a title comes in, and the hostile titles of the soak. Each file is one input: a
// settings byte, then the title (see fuzz_check.h).
#include "tests/soak/hostile_titles.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Seed {
    std::string name;
    std::string bytes;
};

const std::string kEsc = "\x1B";

// An extended segment: ESC % / 1, its length in two bytes, the encoding's name, STX, the text.
std::string ExtendedSegment(const std::string& name, const std::string& text) {
    const std::size_t length = name.size() + 1 + text.size();
    return kEsc + "%/1" + static_cast<char>(0x80 | (length >> 7)) +
           static_cast<char>(0x80 | (length & 0x7F)) + name + '\x02' + text;
}

std::vector<Seed> RealTitles() {
    return {
        {"utf8-english", "Untitled Document 1 - Text Editor"},
        {"utf8-japanese", "無題 - メモ帳"},
        {"utf8-invoice-euro", "Rechnung 12 € – Tabelle"},
        {"utf8-russian", "Входящие (3) — Почта"},
        {"utf8-korean-chinese", "서울 날씨 · 北京天气 - 浏览器"},
        {"utf8-emoji", "🎵 Now playing: ｓｏｎｇ ♪"},
        {"latin1-french",
         "caf\xE9 cr\xE8me - \xC9"
         "diteur"},
        {"latin1-german",
         "Gr\xF6\xDF"
         "e: 12 \xB5m \xB1 0,5 \xA9"},
        {"ctext-jis-x-0208",
         kEsc + "$)B\xCC\xB5\xC2\xEA - \xA5\xE1\xA5\xE2\xC4\xA2"},  // 無題 - メモ帳
        {"ctext-jis-x-0208-left-half",
         kEsc + "$(BF|K\\8l$NJ8=q" + kEsc + "(B.txt"},  // 日本語の文書.txt
        {"ctext-jis-x-0201", kEsc + "(JC:\\memo " + kEsc + ")I\xB6\xC0\xB6\xC5"},  // ¥ and ｶﾀｶﾅ
        {"ctext-ks-c-5601",
         kEsc + "$)C\xC7\xD1\xB1\xB9\xBE\xEE \xB9\xAE\xBC\xAD - \xC6\xED\xC1\xFD\xB1\xE2"},
        {"ctext-gb-2312",
         kEsc + "$)A\xD6\xD0\xCE\xC4\xCE\xC4\xB5\xB5 - \xB1\xE0\xBC\xAD\xC6\xF7"},  // 中文文档 -
                                                                                    // 编辑器
        {"ctext-jis-x-0212", kEsc + "$)D\xB0\xA1\xB0\xA2"},
        {"ctext-latin1-cyrillic-greek", "caf\xE9 " + kEsc + "-L\xBF\xDE\xE7\xE2\xD0 " + kEsc +
                                            "-F\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC"},
        {"ctext-hebrew-right-to-left", kEsc + "-H\x9B"
                                              "2]\xF9\xEC\xE5\xED\x9B]"},
        {"ctext-utf8-segment", "Rechnung 12 " + kEsc + "%G€ 🎵" + kEsc + "%@"},
        // Findings of the fuzzer, fixed.
        {"finding-nul-in-utf8-segment", kEsc + "%G" + '\0'},
        {"finding-controls-in-extended-segment", ExtendedSegment("iso8859-15",
                                                                 "a\x01\x80"
                                                                 "b")},
        {"ctext-extended-segments",
         ExtendedSegment("iso8859-15", "\xA4 50") + " " +
             ExtendedSegment("big5-0", "\xC1\x63\xC5\xE9\xA4\xA4\xA4\xE5") + " " +
             ExtendedSegment("koi8-r", "\xF0\xCF\xDE\xD4\xC1")},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    std::vector<Seed> seeds = RealTitles();
    for (const HostileTitle& t : HostileTitles(/*huge=*/false)) {
        std::string name = std::string("hostile-") + t.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
        }
        // The start of the long ones is enough; a long seed would slow every execution.
        seeds.push_back({name, t.bytes.substr(0, 1024)});
    }
    for (const Seed& seed : seeds) {
        // Settings: a limit of about half the title, and the title complete.
        std::ofstream(dir / seed.name, std::ios::binary) << '\x80' << seed.bytes;
    }
    return 0;
}
