// Reading a font's character map for whether it has a glyph: the Unicode subtables of format 4
// and 12, as fonts lay them out, and tables that are cut short or point outside themselves.
#include "mainwindow/win32/font_cmap.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::byte>;

void Put(Bytes& b, std::uint32_t value, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) {
        b.push_back(static_cast<std::byte>(value >> shift & 0xff));
    }
}

struct Group {
    std::uint32_t first, last, glyph;
};

Bytes Format12(const std::vector<Group>& groups) {
    Bytes b;
    Put(b, 12, 2);
    Put(b, 0, 2);
    Put(b, static_cast<std::uint32_t>(16 + 12 * groups.size()), 4);
    Put(b, 0, 4);
    Put(b, static_cast<std::uint32_t>(groups.size()), 4);
    for (const Group& g : groups) {
        Put(b, g.first, 4);
        Put(b, g.last, 4);
        Put(b, g.glyph, 4);
    }
    return b;
}

// A segment maps by delta when `glyphs` is empty, else through its own glyphs (plus delta).
struct Segment {
    std::uint16_t first, last, delta;
    std::vector<std::uint16_t> glyphs;
};

Bytes Format4(std::vector<Segment> segments) {
    segments.push_back({0xffff, 0xffff, 1, {}});  // the last segment every format-4 table ends with
    const auto count = static_cast<std::uint32_t>(segments.size());
    Bytes b;
    Put(b, 4, 2);
    Put(b, 0, 2);  // length, unread
    Put(b, 0, 2);
    Put(b, 2 * count, 2);
    Put(b, 0, 6);  // search range, entry selector, range shift: unread
    for (const Segment& s : segments) {
        Put(b, s.last, 2);
    }
    Put(b, 0, 2);
    for (const Segment& s : segments) {
        Put(b, s.first, 2);
    }
    for (const Segment& s : segments) {
        Put(b, s.delta, 2);
    }
    // Each offset counts from where it lies to the segment's glyphs after the offsets.
    std::uint32_t glyphs_before = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const Segment& s = segments[i];
        Put(b, s.glyphs.empty() ? 0 : 2 * (count - i + glyphs_before), 2);
        glyphs_before += static_cast<std::uint32_t>(s.glyphs.size());
    }
    for (const Segment& s : segments) {
        for (const std::uint16_t glyph : s.glyphs) {
            Put(b, glyph, 2);
        }
    }
    return b;
}

struct Subtable {
    std::uint16_t platform, encoding;
    Bytes bytes;
};

Bytes Cmap(const std::vector<Subtable>& subtables) {
    Bytes b;
    Put(b, 0, 2);
    Put(b, static_cast<std::uint32_t>(subtables.size()), 2);
    auto offset = static_cast<std::uint32_t>(4 + 8 * subtables.size());
    for (const Subtable& s : subtables) {
        Put(b, s.platform, 2);
        Put(b, s.encoding, 2);
        Put(b, offset, 4);
        offset += static_cast<std::uint32_t>(s.bytes.size());
    }
    for (const Subtable& s : subtables) {
        b.insert(b.end(), s.bytes.begin(), s.bytes.end());
    }
    return b;
}

Bytes Cut(Bytes b, std::size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

constexpr char32_t kPin = 0x1f4cc;

const Bytes kPins = Format12({{0x20, 0x7e, 3}, {0x1f300, 0x1f5ff, 200}});
const Bytes kLatin = Format4({{0x20, 0x7e, static_cast<std::uint16_t>(3 - 0x20), {}}});

struct CmapCase {
    const char* name;
    Bytes cmap;
    char32_t character;
    bool mapped;
};

void PrintTo(const CmapCase& row, std::ostream* out) {
    *out << row.name;
}

class FontCmap : public ::testing::TestWithParam<CmapCase> {};

TEST_P(FontCmap, TellsWhetherTheFontHasAGlyphForTheCharacter) {
    EXPECT_EQ(CmapMapsCharacter(GetParam().cmap, GetParam().character), GetParam().mapped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FontCmap,
    ::testing::Values(
        CmapCase{"Format12GroupHoldsThePin", Cmap({{3, 10, kPins}}), kPin, true},
        CmapCase{"Format12GroupsOnEitherSide",
                 Cmap({{3, 10, Format12({{0x1f300, 0x1f4cb, 9}, {0x1f4cd, 0x1f5ff, 300}})}}), kPin,
                 false},
        CmapCase{"Format12FirstCodeOfAGroupAtGlyph0IsMissing",
                 Cmap({{3, 10, Format12({{kPin, kPin + 1, 0}})}}), kPin, false},
        CmapCase{"UnicodePlatformIsRead", Cmap({{0, 4, kPins}}), kPin, true},
        CmapCase{"MacintoshAndSymbolSubtablesAreNotRead", Cmap({{1, 0, kPins}, {3, 0, kPins}}),
                 kPin, false},
        CmapCase{"ASecondSubtableMaps", Cmap({{3, 1, kLatin}, {3, 10, kPins}}), kPin, true},
        CmapCase{"Format4HoldsNothingBeyondFFFF", Cmap({{3, 1, kLatin}}), kPin, false},
        CmapCase{"Format4ByDelta", Cmap({{3, 1, kLatin}}), U'A', true},
        CmapCase{"Format4OutsideEverySegment", Cmap({{3, 1, kLatin}}), U'\u3042', false},
        CmapCase{"Format4DeltaToGlyph0IsMissing",
                 Cmap({{3, 1, Format4({{0x41, 0x5a, static_cast<std::uint16_t>(-0x41), {}}})}}),
                 U'A', false},
        CmapCase{"Format4ThroughItsGlyphs",
                 Cmap({{3, 1, Format4({{0x20, 0x21, 0, {7, 8}}, {0x3041, 0x3043, 0, {5, 0, 6}}})}}),
                 U'\u3043', true},
        CmapCase{"Format4GlyphArrayEntry0IsMissing",
                 Cmap({{3, 1, Format4({{0x20, 0x21, 0, {7, 8}}, {0x3041, 0x3043, 0, {5, 0, 6}}})}}),
                 U'\u3042', false},
        CmapCase{"Format12CutShortInItsGroup", Cut(Cmap({{3, 10, kPins}}), 1), kPin, false},
        CmapCase{"Format4CutShortInItsGlyphs",
                 Cut(Cmap({{3, 1, Format4({{0x41, 0x42, 0, {5, 6}}})}}), 1), U'B', false},
        CmapCase{"SubtableOutsideTheTable", Cut(Cmap({{3, 10, kPins}}), kPins.size()), kPin, false},
        CmapCase{"NoTableAtAll", Bytes{}, kPin, false}),
    [](const auto& row) { return row.param.name; });

}  // namespace
