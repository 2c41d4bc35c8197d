// What the two files of the title codecs share: UTF-8 one character at a time, and conversions
// between UTF-8 and other character sets through iconv.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace x11_text {

inline constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

struct Decoded {
    enum Kind { kOk, kIllFormed, kCutOff };
    char32_t code_point;
    std::size_t length;  // for kIllFormed and kCutOff: the bytes that belong to the bad sequence
    Kind kind;
};

// One character of UTF-8 at `i`, with the well-formed ranges of Unicode's table 3-7 (no
// overlong forms, no surrogates, nothing beyond U+10FFFF).
Decoded DecodeUtf8(std::string_view s, std::size_t i);
void AppendUtf8(std::string* out, char32_t cp);

// Appends the UTF-8 form of one character given in `charset`, or U+FFFD if it has none.
void AppendCharacter(const char* charset, std::string_view bytes, std::string* out);
// Appends `bytes` of a multi-character run in `charset`; each byte that cannot be converted
// becomes U+FFFD and the conversion goes on after it.
void AppendRun(const char* charset, std::string_view bytes, std::string* out);
// Appends the UTF-8 `text` in `charset`; false, with `out` as it was, unless all of it has an
// exact counterpart there.
bool FromUtf8(const char* charset, std::string_view text, std::string* out);

}  // namespace x11_text
