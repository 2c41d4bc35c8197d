// COMPOUND_TEXT, the ISO 2022 encoding that older X clients give their titles in.
#include "winsys/x11_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "winsys/x11_text_internal.h"

namespace x11_text {
namespace {

constexpr char kEsc = '\x1B';

// The controls COMPOUND_TEXT does not allow: all of C0 and C1 but tab and newline, and DEL.
bool IsForbiddenControl(char32_t cp) {
    return (cp < 0x20 && cp != '\t' && cp != '\n') || (cp >= 0x7F && cp < 0xA0);
}

// Appends the valid UTF-8 `text` less those controls, which UTF-8 and extended segments could
// otherwise smuggle in.
void AppendWithoutControls(std::string_view text, std::string* out) {
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeUtf8(text, i);
        if (!IsForbiddenControl(d.code_point)) {
            out->append(text.substr(i, d.length));
        }
        i += d.length;
    }
}

std::string Bytes(std::initializer_list<unsigned> list) {
    std::string s;
    for (const unsigned b : list) {
        s.push_back(static_cast<char>(b));
    }
    return s;
}

// --- COMPOUND_TEXT --------------------------------------------------------------------------

// The character sets of COMPOUND_TEXT, each with the way to decode it.
enum class Set : std::uint8_t {
    kAscii,
    kLatin1,    // the right half of ISO 8859-1
    kIso8859,   // the right half of another part of ISO 8859; `part` says which
    kJisRoman,  // JIS X 0201, left half
    kJisKana,   // JIS X 0201, right half
    kJis0208,
    kJis0212,
    kGb2312,
    kKsc5601,
    kCns11643,  // `part` is the plane
    kUnknown,   // designated, but not one this code decodes: each character becomes U+FFFD
};

struct Designation {
    Set set = Set::kAscii;
    int part = 0;
    int size = 1;        // bytes per character
    bool is_96 = false;  // 96 characters per byte (0x20..0x7F) rather than 94 (0x21..0x7E)
};

Designation OneByte94(char final) {
    switch (final) {
        case 'B':
            return {Set::kAscii, 0, 1, false};
        case 'J':
            return {Set::kJisRoman, 0, 1, false};
        case 'I':
            return {Set::kJisKana, 0, 1, false};
        default:
            return {Set::kUnknown, 0, 1, false};
    }
}

Designation OneByte96(char final) {
    if (final == 'A') {
        return {Set::kLatin1, 0, 1, true};
    }
    // The registered final bytes of the other parts of ISO 8859.
    static constexpr std::pair<char, int> kParts[] = {
        {'B', 2}, {'C', 3},  {'D', 4},  {'L', 5},  {'G', 6},  {'F', 7},  {'H', 8},
        {'M', 9}, {'V', 10}, {'T', 11}, {'Y', 13}, {'_', 14}, {'b', 15}, {'f', 16}};
    for (const auto& [f, part] : kParts) {
        if (f == final) {
            return {Set::kIso8859, part, 1, true};
        }
    }
    return {Set::kUnknown, 0, 1, true};
}

Designation TwoByte94(char final) {
    switch (final) {
        case '@':
        case 'B':
            return {Set::kJis0208, 0, 2, false};
        case 'A':
            return {Set::kGb2312, 0, 2, false};
        case 'C':
            return {Set::kKsc5601, 0, 2, false};
        case 'D':
            return {Set::kJis0212, 0, 2, false};
        default:
            break;
    }
    if (final >= 'G' && final <= 'M') {
        return {Set::kCns11643, final - 'G' + 1, 2, false};
    }
    // Multi-byte sets with final bytes from 0x60 on have three or four bytes a character.
    const auto f = static_cast<unsigned char>(final);
    return {Set::kUnknown, 0, f < 0x60 ? 2 : f < 0x70 ? 3 : 4, false};
}

// Appends the character whose bytes, without their high bits, are `b` (b.size() == d.size).
void AppendInSet(const Designation& d, const unsigned char* b, std::string* out) {
    switch (d.set) {
        case Set::kAscii:
            out->push_back(static_cast<char>(b[0]));
            return;
        case Set::kLatin1:
            AppendUtf8(out, b[0] | 0x80);
            return;
        case Set::kIso8859:
            AppendCharacter(("ISO-8859-" + std::to_string(d.part)).c_str(), Bytes({b[0] | 0x80u}),
                            out);
            return;
        case Set::kJisRoman:
            AppendUtf8(out, b[0] == 0x5C ? U'\u00A5' : b[0] == 0x7E ? U'\u203E' : b[0]);
            return;
        case Set::kJisKana:
            if (b[0] <= 0x5F) {
                AppendUtf8(out, U'\uFF61' + (b[0] - 0x21));
            } else {
                out->append(kReplacement);
            }
            return;
        case Set::kJis0208:
            AppendCharacter("EUC-JP", Bytes({b[0] | 0x80u, b[1] | 0x80u}), out);
            return;
        case Set::kJis0212:
            AppendCharacter("EUC-JP", Bytes({0x8F, b[0] | 0x80u, b[1] | 0x80u}), out);
            return;
        case Set::kGb2312:
            AppendCharacter("EUC-CN", Bytes({b[0] | 0x80u, b[1] | 0x80u}), out);
            return;
        case Set::kKsc5601:
            AppendCharacter("EUC-KR", Bytes({b[0] | 0x80u, b[1] | 0x80u}), out);
            return;
        case Set::kCns11643:
            AppendCharacter(
                "EUC-TW",
                Bytes({0x8E, 0xA0u + static_cast<unsigned>(d.part), b[0] | 0x80u, b[1] | 0x80u}),
                out);
            return;
        case Set::kUnknown:
            out->append(kReplacement);
            return;
    }
}

// The iconv names of the encodings that extended segments name, by their segment names.
const char* ExtendedSegmentCharset(std::string_view name) {
    static constexpr std::pair<std::string_view, const char*> kNames[] = {
        {"iso8859-14", "ISO-8859-14"},
        {"iso8859-15", "ISO-8859-15"},
        {"big5-0", "BIG5"},
        {"big5hkscs-0", "BIG5-HKSCS"},
        {"gbk-0", "GBK"},
        {"koi8-r", "KOI8-R"}};
    for (const auto& [n, charset] : kNames) {
        if (n == name) {
            return charset;
        }
    }
    return nullptr;
}

class CompoundTextDecoder {
  public:
    CompoundTextDecoder(std::string_view s, bool more_follows) : s_(s), more_(more_follows) {}

    std::string Run() {
        gl_ = OneByte94('B');
        gr_ = OneByte96('A');
        while (i_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[i_]);
            if (c == static_cast<unsigned char>(kEsc)) {
                if (!Escape()) {
                    break;
                }
            } else if (other_ != Other::kNone) {
                OtherCoding();
            } else if (c == 0x9B) {
                if (!DirectionSequence()) {
                    break;
                }
            } else if (c == '\t' || c == '\n' || c == ' ') {
                out_.push_back(static_cast<char>(c));
                ++i_;
            } else if (IsForbiddenControl(c)) {
                ++i_;
            } else if (!Character(c & 0x80 ? gr_ : gl_)) {
                break;
            }
        }
        return std::move(out_);
    }

  private:
    enum class Other { kNone, kUtf8, kUnknown };

    // Whatever cannot be decoded because the text stops early: dropped when more follows,
    // else one U+FFFD. Ends the decoding.
    bool CutOff() {
        if (!more_) {
            out_.append(kReplacement);
        }
        i_ = s_.size();
        return false;
    }

    bool Character(const Designation& d) {
        const std::size_t n = static_cast<std::size_t>(d.size);
        if (i_ + n > s_.size()) {
            return CutOff();
        }
        unsigned char b[4];
        const bool right = (static_cast<unsigned char>(s_[i_]) & 0x80) != 0;
        for (std::size_t k = 0; k < n; ++k) {
            const auto byte = static_cast<unsigned char>(s_[i_ + k]);
            b[k] = byte & 0x7F;
            const bool in_range = d.is_96 ? b[k] >= 0x20 : (b[k] >= 0x21 && b[k] <= 0x7E);
            if (((byte & 0x80) != 0) != right || !in_range) {
                out_.append(kReplacement);
                ++i_;
                return true;
            }
        }
        AppendInSet(d, b, &out_);
        i_ += n;
        return true;
    }

    // Bytes of a UTF-8 or unknown other coding, up to the next escape sequence.
    void OtherCoding() {
        std::size_t end = s_.find(kEsc, i_);
        if (end == std::string_view::npos) {
            end = s_.size();
        }
        if (other_ == Other::kUtf8) {
            AppendWithoutControls(ValidUtf8(s_.substr(i_, end - i_), more_ && end == s_.size()),
                                  &out_);
        } else {
            out_.append(kReplacement);
        }
        i_ = end;
    }

    // CSI 1 ], CSI 2 ] and CSI ] mark the direction of the text; it does not change the bytes.
    bool DirectionSequence() {
        std::size_t j = i_ + 1;
        if (j < s_.size() && (s_[j] == '1' || s_[j] == '2')) {
            ++j;
        }
        if (j >= s_.size()) {
            return CutOff();
        }
        i_ = s_[j] == ']' ? j + 1 : i_ + 1;
        return true;
    }

    // An escape sequence: ESC, intermediate bytes 0x20..0x2F, a final byte 0x30..0x7E.
    bool Escape() {
        std::size_t j = i_ + 1;
        while (j < s_.size() && s_[j] >= 0x20 && s_[j] <= 0x2F) {
            ++j;
        }
        if (j >= s_.size()) {
            return CutOff();
        }
        const char final = s_[j];
        if (final < 0x30 || final > 0x7E) {
            ++i_;  // not an escape sequence: drop the ESC
            return true;
        }
        const std::string_view intermediates = s_.substr(i_ + 1, j - i_ - 1);
        i_ = j + 1;
        if (intermediates == "(") {
            gl_ = OneByte94(final);
        } else if (intermediates == ")") {
            gr_ = OneByte94(final);
        } else if (intermediates == "-") {
            gr_ = OneByte96(final);
        } else if (intermediates == "$(" || (intermediates == "$" && final <= 'B')) {
            gl_ = TwoByte94(final);
        } else if (intermediates == "$)") {
            gr_ = TwoByte94(final);
        } else if (intermediates == "%") {
            other_ = final == '@' ? Other::kNone : final == 'G' ? Other::kUtf8 : Other::kUnknown;
        } else if (intermediates == "%/") {
            return ExtendedSegment();
        }
        return true;  // other sequences (ESC # ...) carry no text
    }

    // ESC % / F, two length bytes M L, then the segment: its encoding's name, STX, the bytes.
    bool ExtendedSegment() {
        if (i_ + 2 > s_.size()) {
            return CutOff();
        }
        const auto m = static_cast<unsigned char>(s_[i_]);
        const auto l = static_cast<unsigned char>(s_[i_ + 1]);
        const std::size_t length = ((m & 0x7Fu) << 7) | (l & 0x7Fu);
        i_ += 2;
        if (i_ + length > s_.size()) {
            return CutOff();
        }
        const std::string_view segment = s_.substr(i_, length);
        i_ += length;
        const std::size_t stx = segment.find('\x02');
        const char* charset = stx == std::string_view::npos
                                  ? nullptr
                                  : ExtendedSegmentCharset(segment.substr(0, stx));
        if (charset == nullptr) {
            out_.append(kReplacement);
        } else {
            std::string run;
            AppendRun(charset, segment.substr(stx + 1), &run);
            AppendWithoutControls(run, &out_);
        }
        return true;
    }

    std::string_view s_;
    bool more_;
    std::size_t i_ = 0;
    Designation gl_;
    Designation gr_;
    Other other_ = Other::kNone;
    std::string out_;
};

// A character in one of the sets the encoder writes: its designation and its bytes.
struct Encoded {
    Set set;
    const char* designation;
    std::string bytes;
};

bool DecodesTo(const Designation& d, std::string_view bytes, std::string_view expected) {
    unsigned char b[4];
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        b[k] = static_cast<unsigned char>(bytes[k]) & 0x7F;
    }
    std::string back;
    AppendInSet(d, b, &back);
    return back == expected;
}

// Whether libX11, which other X clients read COMPOUND_TEXT with, decodes this code of `set` to
// the same character as glibc. Its KS C 5601 predates the euro sign and the Korean postal mark
// (0x2266 and 0x2268, in the right half A2E6 and A2E8), and its JIS X 0212 reads 0x2237 as the
// ASCII tilde, not U+FF5E.
bool SharedWithXlib(Set set, unsigned char b0, unsigned char b1) {
    static constexpr struct {
        Set set;
        unsigned char b0, b1;
    } kUnshared[] = {
        {Set::kKsc5601, 0xA2, 0xE6}, {Set::kKsc5601, 0xA2, 0xE8}, {Set::kJis0212, 0xA2, 0xB7}};
    for (const auto& u : kUnshared) {
        if (u.set == set && u.b0 == b0 && u.b1 == b1) {
            return false;
        }
    }
    return true;
}

// `ch` (one UTF-8 character, beyond U+00FF) in the first set that holds it exactly and that
// libX11 reads the same way.
std::optional<Encoded> EncodeInStandardSet(char32_t cp, std::string_view ch) {
    if (cp >= 0xFF61 && cp <= 0xFF9F) {
        return Encoded{Set::kJisKana, "\x1B)I",
                       std::string(1, static_cast<char>(0xA1 + (cp - 0xFF61)))};
    }
    struct Candidate {
        const char* charset;
        Set set;
        char final;
        const char* designation;
        std::size_t prefix;  // bytes that select the set within the EUC encoding
    };
    static constexpr Candidate kCandidates[] = {
        {"EUC-JP", Set::kJis0208, 'B', "\x1B$)B", 0},
        {"EUC-JP", Set::kJis0212, 'D', "\x1B$)D", 1},
        {"EUC-CN", Set::kGb2312, 'A', "\x1B$)A", 0},
        {"EUC-KR", Set::kKsc5601, 'C', "\x1B$)C", 0},
    };
    for (const Candidate& c : kCandidates) {
        std::string euc;
        if (!FromUtf8(c.charset, ch, &euc)) {
            continue;
        }
        if (euc.size() != c.prefix + 2 || (c.prefix == 1 && euc[0] != '\x8F')) {
            continue;
        }
        std::string bytes = euc.substr(c.prefix);
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 < 0xA1 || b0 > 0xFE || b1 < 0xA1 || b1 > 0xFE || !SharedWithXlib(c.set, b0, b1)) {
            continue;
        }
        if (DecodesTo(TwoByte94(c.final), bytes, ch)) {
            return Encoded{c.set, c.designation, std::move(bytes)};
        }
    }
    return std::nullopt;
}

}  // namespace

std::string CompoundTextToUtf8(std::string_view ctext, bool more_follows) {
    return CompoundTextDecoder(ctext, more_follows).Run();
}

std::string Utf8ToCompoundText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    Set gr = Set::kLatin1;  // the right half COMPOUND_TEXT starts with
    std::string utf8_run;   // characters that no standard set holds, written as one segment
    auto end_utf8_run = [&] {
        if (!utf8_run.empty()) {
            out.append("\x1B%G").append(utf8_run).append("\x1B%@");
            utf8_run.clear();
        }
    };
    for (std::size_t i = 0; i < text.size();) {
        Decoded d = DecodeUtf8(text, i);
        std::string_view ch = text.substr(i, d.length);
        i += d.length;
        if (d.kind != Decoded::kOk) {
            d.code_point = 0xFFFD;
            ch = kReplacement;
        }
        const char32_t cp = d.code_point;
        if (cp == '\t' || cp == '\n' || (cp >= 0x20 && cp < 0x7F)) {
            end_utf8_run();
            out.push_back(static_cast<char>(cp));
            continue;
        }
        if (IsForbiddenControl(cp)) {
            continue;
        }
        std::optional<Encoded> e;
        if (cp <= 0xFF) {
            e = Encoded{Set::kLatin1, "\x1B-A", std::string(1, static_cast<char>(cp))};
        } else {
            e = EncodeInStandardSet(cp, ch);
        }
        if (!e) {
            utf8_run.append(ch);
            continue;
        }
        end_utf8_run();
        if (e->set != gr) {
            out.append(e->designation);
            gr = e->set;
        }
        out.append(e->bytes);
    }
    end_utf8_run();
    return out;
}

}  // namespace x11_text
