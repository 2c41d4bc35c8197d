#include "mainwindow/win32/font_cmap.h"

#include <cstdint>
#include <optional>

namespace {

// Big-endian fields of the table, each read only where it lies inside.
class Fields {
  public:
    explicit Fields(std::span<const std::byte> bytes) : bytes_(bytes) {}

    std::optional<std::uint32_t> U16(std::size_t at) const { return Read(at, 2); }
    std::optional<std::uint32_t> U32(std::size_t at) const { return Read(at, 4); }

  private:
    std::optional<std::uint32_t> Read(std::size_t at, std::size_t size) const {
        if (at > bytes_.size() || bytes_.size() - at < size) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value = value << 8 | std::to_integer<std::uint32_t>(bytes_[at + i]);
        }
        return value;
    }

    std::span<const std::byte> bytes_;
};

// Format 4: segments of 16-bit codes, sorted by their last code; glyph 0 is the missing glyph.
bool Format4Maps(const Fields& f, std::size_t table, char32_t c) {
    const auto seg_count_x2 = f.U16(table + 6);
    if (!seg_count_x2 || c > 0xffff) {
        return false;
    }
    const std::size_t ends = table + 14;
    const std::size_t starts = ends + *seg_count_x2 + 2;
    const std::size_t deltas = starts + *seg_count_x2;
    const std::size_t range_offsets = deltas + *seg_count_x2;
    for (std::size_t seg = 0; seg < *seg_count_x2 / 2; ++seg) {
        const auto end = f.U16(ends + 2 * seg);
        if (!end) {
            return false;
        }
        if (c > *end) {
            continue;
        }
        const auto start = f.U16(starts + 2 * seg);
        const auto delta = f.U16(deltas + 2 * seg);
        const std::size_t range_offset_at = range_offsets + 2 * seg;
        const auto range_offset = f.U16(range_offset_at);
        if (!start || !delta || !range_offset || c < *start) {
            return false;
        }
        if (*range_offset == 0) {
            return ((c + *delta) & 0xffff) != 0;
        }
        // The offset counts from where it is stored, into the glyph array after it.
        const auto glyph = f.U16(range_offset_at + *range_offset + 2 * (c - *start));
        return glyph && *glyph != 0 && ((*glyph + *delta) & 0xffff) != 0;
    }
    return false;
}

// Format 12: groups of consecutive codes given consecutive glyphs.
bool Format12Maps(const Fields& f, std::size_t table, char32_t c) {
    const auto groups = f.U32(table + 12);
    if (!groups) {
        return false;
    }
    for (std::uint32_t g = 0; g < *groups; ++g) {
        const std::size_t group = table + 16 + 12 * std::size_t{g};
        const auto first = f.U32(group);
        const auto last = f.U32(group + 4);
        const auto glyph = f.U32(group + 8);
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
    const Fields f(cmap);
    const auto tables = f.U16(2);
    for (std::uint32_t i = 0; tables && i < *tables; ++i) {
        const std::size_t record = 4 + 8 * std::size_t{i};
        const auto platform = f.U16(record);
        const auto encoding = f.U16(record + 2);
        const auto offset = f.U32(record + 4);
        if (!platform || !encoding || !offset) {
            return false;
        }
        if (*platform != 0 && !(*platform == 3 && (*encoding == 1 || *encoding == 10))) {
            continue;
        }
        const auto format = f.U16(*offset);
        if ((format == 4u && Format4Maps(f, *offset, character)) ||
            (format == 12u && Format12Maps(f, *offset, character))) {
            return true;
        }
    }
    return false;
}
