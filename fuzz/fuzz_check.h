// What the fuzz targets share: how they read an input, a check of UTF-8 of their own (apart
// from the code under test), and the trap that turns a broken property into a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

// Stops the target with a crash that libFuzzer records, naming the property that broke.
#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                            \
        }                                                                                \
    } while (false)

namespace fuzz {

// An input is one byte of settings, then the text. Bit 0 of the settings is `more_follows`;
// the other seven give a byte limit as a fraction (n / 127) of the text's length.
struct Input {
    bool more_follows = false;
    std::size_t limit = 0;
    std::string_view text;
};

inline Input Read(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return {};
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    return {(data[0] & 1) != 0, text.size() * (data[0] >> 1) / 127, text};
}

// The character at `*i`, moving `*i` past it; nothing if the bytes there are not its shortest
// UTF-8 form or it is no Unicode scalar value.
inline std::optional<char32_t> NextCharacter(std::string_view s, std::size_t* i) {
    const auto lead = static_cast<unsigned char>(s[*i]);
    const std::size_t n = lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (n == 0 || lead > 0xF7 || *i + n > s.size()) {
        return std::nullopt;
    }
    char32_t cp = n == 1 ? lead : lead & (0x3Fu >> (n - 1));
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[*i + k]);
        if ((b & 0xC0) != 0x80) {
            return std::nullopt;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    const std::size_t shortest = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    if (n != shortest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    *i += n;
    return cp;
}

// C0 and C1 controls and DEL, less tab and newline: what COMPOUND_TEXT cannot carry.
inline bool IsControl(char32_t cp) {
    return (cp < 0x20 && cp != '\t' && cp != '\n') || (cp >= 0x7F && cp < 0xA0);
}

inline bool IsValidUtf8(std::string_view s, bool controls_allowed = true) {
    for (std::size_t i = 0; i < s.size();) {
        const std::optional<char32_t> cp = NextCharacter(s, &i);
        if (!cp || (!controls_allowed && IsControl(*cp))) {
            return false;
        }
    }
    return true;
}

}  // namespace fuzz
