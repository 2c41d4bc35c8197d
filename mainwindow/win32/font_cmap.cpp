#include "mainwindow/win32/font_cmap.h"

#include <cstdint>
#include <optional>

namespace {

// A big-endian field of the table, if it lies inside.
std::optional<std::uint32_t> Field(std::span<const std::byte> bytes, std::size_t at,
                                   std::size_t size) {
    if (at > bytes.size() || bytes.size() - at < size) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = value << 8 | std::to_integer<std::uint32_t>(bytes[at + i]);
    }
    return value;
}

// Format 12: groups of consecutive codes given consecutive glyphs; glyph 0 is the missing one.
bool Format12Maps(std::span<const std::byte> cmap, std::size_t table, char32_t c) {
    const auto groups = Field(cmap, table + 12, 4);
    for (std::uint32_t g = 0; groups && g < *groups; ++g) {
        const std::size_t group = table + 16 + 12 * std::size_t{g};
        const auto first = Field(cmap, group, 4);
        const auto last = Field(cmap, group + 4, 4);
        const auto glyph = Field(cmap, group + 8, 4);
        if (!first || !last || !glyph) {
            return false;
        }
        if (*first <= c && c <= *last) {
            return *glyph + (c - *first) != 0;
        }
    }
    return false;
}

}  // namespace

bool CmapMapsCharacter(std::span<const std::byte> cmap, char32_t character) {
    const auto tables = Field(cmap, 2, 2);
    for (std::uint32_t i = 0; tables && i < *tables; ++i) {
        const std::size_t record = 4 + 8 * std::size_t{i};
        const auto platform = Field(cmap, record, 2);
        const auto encoding = Field(cmap, record + 2, 2);
        const auto offset = Field(cmap, record + 4, 4);
        if (!platform || !encoding || !offset) {
            return false;
        }
        const bool unicode = *platform == 0 || (*platform == 3 && *encoding == 10);
        if (unicode && Field(cmap, *offset, 2) == 12u && Format12Maps(cmap, *offset, character)) {
            return true;
        }
    }
    return false;
}
