// Window titles that other applications are free to set and that a reader of titles must
// survive: broken encodings, huge sizes, embedded zeros, control and direction characters,
// markup, format directives and property types nobody expects. Shared by the X and the Win32
// churn programs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct HostileTitle {
    const char* name;
    const char* x_type;  // the X property type it is stored with
    int x_format;        // 8, 16 or 32 bits per item on X; the bytes hold the items packed
    std::string bytes;
};

inline std::string Repeat(const std::string& piece, std::size_t total_bytes) {
    std::string out;
    out.reserve(total_bytes + piece.size());
    while (out.size() < total_bytes) {
        out += piece;
    }
    return out;
}

inline constexpr std::size_t kHugeTitleBytes = std::size_t{16} << 20;

// `huge` adds the 16 MiB titles, which cost a writer tens of milliseconds each.
inline std::vector<HostileTitle> HostileTitles(bool huge) {
    using namespace std::string_literals;
    const std::string esc = "\x1b";
    std::vector<HostileTitle> titles = {
        {"empty", "UTF8_STRING", 8, ""},
        {"plain", "UTF8_STRING", 8, "Untitled - Editor"},
        {"japanese", "UTF8_STRING", 8, "無題 - メモ帳"},
        {"overlong utf-8", "UTF8_STRING", 8, "\xc0\xaf\xe0\x80\xaf\xf0\x80\x80\xaf"},
        {"lone continuation bytes", "UTF8_STRING", 8, "a\x80\x81\xbf z"},
        {"surrogates in utf-8", "UTF8_STRING", 8, "\xed\xa0\x80\xed\xbf\xbf"},
        {"truncated sequence at end", "UTF8_STRING", 8, "タイトル\xe3\x81"},
        {"beyond U+10FFFF", "UTF8_STRING", 8, "\xf4\x90\x80\x80\xf8\x88\x80\x80\x80\xff\xfe"},
        {"multibyte across byte 99", "UTF8_STRING", 8, std::string(98, 'a') + "あいう"},
        {"four-byte across byte 99", "UTF8_STRING", 8, std::string(97, 'b') + "\xf0\x9f\x98\x80"},
        {"invalid across byte 99", "UTF8_STRING", 8, std::string(98, 'c') + "\xe3\x81\xff\xff"},
        {"zero bytes inside", "UTF8_STRING", 8, "before\0after\0\0end"s},
        {"only zero bytes", "STRING", 8, std::string(200, '\0')},
        {"control characters", "UTF8_STRING", 8,
         "\x01\x07\x08\t\n\r\x0b\x0c\x1b[31mred\x1b[0m\x7f"},
        {"c1 controls in utf-8", "UTF8_STRING", 8, "\xc2\x85\xc2\x9b\x32\x4a\xc2\x9d"},
        {"bidirectional marks", "UTF8_STRING", 8,
         "\u202e\u0645\u0631\u062d\u0628\u0627\u202c abc \u2067\u2066\u200f\u200e\u061c"},
        {"unpaired isolates and overrides", "UTF8_STRING", 8, Repeat("\u2068\u202d\u202b", 90)},
        {"combining marks", "UTF8_STRING", 8, "Z" + Repeat("\u0301\u0336\u0489", 600)},
        {"zero width and joiners", "UTF8_STRING", 8, Repeat("\u200b\u200d\ufeff\u2060", 50)},
        {"markup", "UTF8_STRING", 8,
         "<b>bold</b><img src=\"file:///etc/passwd\"><a href=x>&amp;&lt;&#0;&File"},
        {"rich text", "UTF8_STRING", 8, "<html><body><table><tr><td>" + Repeat("<p>", 300)},
        {"format directives", "UTF8_STRING", 8, "%s%s%s%n%n%x%p%999999999d%*.*s%ls{}{0}%1$s"},
        {"latin-1 string", "STRING", 8, "caf\xe9 na\xefve \xa9\xff\xa0"},
        {"utf-8 bytes typed string", "STRING", 8, "日本語"},
        {"compound text jis x 0208", "COMPOUND_TEXT", 8, esc + "$(B" + "\x46\x7c\x4b\x5c"},
        {"compound text odd double-byte run", "COMPOUND_TEXT", 8, esc + "$(B\x30\x21\x30"},
        {"compound text utf-8 segment", "COMPOUND_TEXT", 8,
         esc + "%G\xe3\x81\x82\xff" + esc + "%@tail"},
        {"compound text extended segment too long", "COMPOUND_TEXT", 8,
         esc + "%/1\x80\x7f" + "iso8859-15\x02" + "abc"},
        {"compound text truncated escape", "COMPOUND_TEXT", 8, "abc" + esc + "$"},
        {"compound text unknown final bytes", "COMPOUND_TEXT", 8,
         esc + "(Z" + esc + "$)~" + esc + "-\x7f" + "x"},
        {"compound text direction controls", "COMPOUND_TEXT", 8,
         "\x9b"
         "2]abc\x9b"
         "1]def\x9b]\x9b]\x9b]"},
        {"compound text right halves", "COMPOUND_TEXT", 8,
         esc + "-A\xe9\xe8" + esc + "$)A\xb0\xa1" + esc + "-F\xe1"},
        {"compound text c1 bytes", "COMPOUND_TEXT", 8, "\x85\x8d\x9b\x9c\x8e\x8f"},
        {"compound text escape storm", "COMPOUND_TEXT", 8,
         Repeat(esc + "-A" + esc + "(B" + esc + "$(B" + esc + "%G", 64 << 10)},
        {"made-up type", "VELLOMAR_UNHEARD_OF_TYPE", 8, "looks like text"},
        {"integer type", "INTEGER", 32, std::string(32, '\x41')},
        {"atom type", "ATOM", 32, std::string(8, '\0')},
        {"sixteen-bit utf-8", "UTF8_STRING", 16, "wide items here!"},
        {"thirty-two-bit string", "STRING", 32, std::string(16, 'q')},
        {"one mebibyte of kana", "UTF8_STRING", 8, Repeat("あいうえお", 1 << 20)},
        {"one mebibyte of invalid utf-8", "UTF8_STRING", 8, Repeat("\xe3\x81", 1 << 20)},
    };
    if (huge) {
        titles.push_back({"16 MiB utf-8", "UTF8_STRING", 8, Repeat("ｱ16MiB_", kHugeTitleBytes)});
        titles.push_back({"16 MiB string", "STRING", 8, Repeat("S\xe9", kHugeTitleBytes)});
        titles.push_back({"16 MiB compound text", "COMPOUND_TEXT", 8,
                          Repeat(esc + "$(B\x30\x21" + esc + "(Bab", kHugeTitleBytes)});
    }
    return titles;
}
