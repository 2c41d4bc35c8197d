// Reading a font's character map for whether it has a glyph beyond U+FFFF: the format-12
// subtables of Unicode, as fonts lay them out, and tables cut short or pointing outside.
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

struct Subtable {
    std::uint16_t platform, encoding, format;
    std::vector<Group> groups;
};

// The header, the encoding records, then each subtable: format, reserved, length, language,
// the number of groups and the groups.
Bytes Cmap(const std::vector<Subtable>& subtables) {
    Bytes head, tables;
    Put(head, 0, 2);
    Put(head, static_cast<std::uint32_t>(subtables.size()), 2);
    for (const Subtable& s : subtables) {
        Put(head, s.platform, 2);
        Put(head, s.encoding, 2);
        Put(head, static_cast<std::uint32_t>(4 + 8 * subtables.size() + tables.size()), 4);
        Put(tables, s.format, 2);
        Put(tables, 0, 2);
        Put(tables, static_cast<std::uint32_t>(16 + 12 * s.groups.size()), 4);
        Put(tables, 0, 4);
        Put(tables, static_cast<std::uint32_t>(s.groups.size()), 4);
        for (const Group& g : s.groups) {
            Put(tables, g.first, 4);
            Put(tables, g.last, 4);
            Put(tables, g.glyph, 4);
        }
    }
    head.insert(head.end(), tables.begin(), tables.end());
    return head;
}

Bytes Cut(Bytes b, std::size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

constexpr char32_t kPin = 0x1f4cc;
const std::vector<Group> kPins = {{0x20, 0x7e, 3}, {0x1f300, 0x1f5ff, 200}};

struct CmapCase {
    const char* name;
    Bytes cmap;
    bool mapped;  // whether the pin is
};

void PrintTo(const CmapCase& row, std::ostream* out) {
    *out << row.name;
}

class FontCmap : public ::testing::TestWithParam<CmapCase> {};

TEST_P(FontCmap, TellsWhetherTheFontHasAGlyphForThePin) {
    EXPECT_EQ(CmapMapsCharacter(GetParam().cmap, kPin), GetParam().mapped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FontCmap,
    ::testing::Values(
        CmapCase{"AGroupOfWindowsUnicodeHoldsIt", Cmap({{3, 10, 12, kPins}}), true},
        CmapCase{"AGroupOfTheUnicodePlatformHoldsIt", Cmap({{0, 4, 12, kPins}}), true},
        CmapCase{"ASecondSubtableHoldsIt", Cmap({{3, 1, 4, {}}, {3, 10, 12, kPins}}), true},
        CmapCase{"GroupsOnEitherSide",
                 Cmap({{3, 10, 12, {{0x1f300, kPin - 1, 9}, {kPin + 1, 0x1f5ff, 300}}}}), false},
        CmapCase{"TheFirstCodeOfAGroupAtGlyph0IsMissing",
                 Cmap({{3, 10, 12, {{kPin, kPin + 1, 0}}}}), false},
        CmapCase{"MacintoshAndSymbolSubtablesAreNotRead",
                 Cmap({{1, 0, 12, kPins}, {3, 0, 12, kPins}}), false},
        CmapCase{"AFormat4SubtableHoldsNothingBeyondFFFF", Cmap({{3, 10, 4, kPins}}), false},
        CmapCase{"CutShortInItsGroup", Cut(Cmap({{3, 10, 12, kPins}}), 1), false},
        CmapCase{"TheSubtableLiesOutside", Cut(Cmap({{3, 10, 12, kPins}}), 40), false},
        CmapCase{"NoTableAtAll", Bytes{}, false}),
    [](const auto& row) { return row.param.name; });

}  // namespace
