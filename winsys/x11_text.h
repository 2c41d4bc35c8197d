// Conversions between the encodings X window titles come in and UTF-8, the form window text
// takes on Linux. None of them depends on the process's locale: character sets other than
// ASCII and Latin-1 go through iconv with explicit encoding names.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace x11_text {

// `bytes` as valid UTF-8, each ill-formed sequence replaced by U+FFFD. With `more_follows`,
// `bytes` is the start of a longer text, so a sequence cut off at its end is dropped instead.
std::string ValidUtf8(std::string_view bytes, bool more_follows = false);

// The length of the longest start of the valid UTF-8 `text` that ends on a character boundary
// and has at most `max_bytes` bytes.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t max_bytes);

std::string Latin1ToUtf8(std::string_view latin1);

// The Latin-1 form of the valid UTF-8 `text`, or nothing if a character lies beyond U+00FF.
std::optional<std::string> Utf8ToLatin1(std::string_view text);

// COMPOUND_TEXT as UTF-8. Characters of sets it cannot decode become U+FFFD; control
// characters other than tab and newline are dropped. `more_follows` as for ValidUtf8.
std::string CompoundTextToUtf8(std::string_view ctext, bool more_follows = false);

// The valid UTF-8 `text` as COMPOUND_TEXT, which decodes back to `text` less the control
// characters COMPOUND_TEXT cannot carry (all but tab and newline). Japanese goes into
// JIS X 0208 and JIS X 0201, other scripts into the first standard set that holds them, the rest
// into UTF-8 segments.
std::string Utf8ToCompoundText(std::string_view text);

}  // namespace x11_text
