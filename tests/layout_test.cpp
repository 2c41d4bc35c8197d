#include "mainwindow/layout.h"

#include <cmath>
#include <set>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using layout::kControls;
using layout::PixelRect;
using layout::ToPixels;
using layout::TwipsToPixels;

struct Expected {
    const char* name;
    int index;
    PixelRect at96;
};

// The pixel rectangles Form1's controls must have at 96 dots per inch.
const Expected kAt96[] = {
    {"Label1", 0, {88, 8, 185, 17}},      {"Label2", 0, {8, 32, 361, 41}},
    {"Text1", 0, {8, 80, 361, 41}},       {"Command1", 0, {8, 144, 161, 33}},
    {"Command1", 1, {216, 144, 153, 33}},
};

const layout::Control& Find(std::string_view name, int index) {
    for (const auto& c : kControls) {
        if (c.name == name && c.index == index) {
            return c;
        }
    }
    ADD_FAILURE() << "no control " << name << "(" << index << ")";
    return kControls[0];
}

int Scaled(int pixels96) {
    return static_cast<int>(std::lround(pixels96 * 1.25));
}

TEST(Layout, FormOpensAt133x191WithA376x185ClientAt96DpiAnd125PercentAt120) {
    struct Row {
        int dpi;
        int left, top, width, height;
    };
    for (const Row& row : {Row{96, 133, 191, 376, 185},
                           Row{120, Scaled(133), Scaled(191), Scaled(376), Scaled(185)}}) {
        SCOPED_TRACE(row.dpi);
        EXPECT_EQ(TwipsToPixels(layout::kFormLeft, row.dpi), row.left);
        EXPECT_EQ(TwipsToPixels(layout::kFormTop, row.dpi), row.top);
        EXPECT_EQ(TwipsToPixels(layout::kClientWidth, row.dpi), row.width);
        EXPECT_EQ(TwipsToPixels(layout::kClientHeight, row.dpi), row.height);
    }
}

TEST(Layout, ControlsSitAtTheirPixelsAt96DpiAndScaleAt120) {
    for (const Expected& e : kAt96) {
        SCOPED_TRACE(std::string(e.name) + "(" + std::to_string(e.index) + ")");
        const layout::Control& c = Find(e.name, e.index);
        const PixelRect p96 = ToPixels(c, 96);
        EXPECT_EQ(p96.left, e.at96.left);
        EXPECT_EQ(p96.top, e.at96.top);
        EXPECT_EQ(p96.width, e.at96.width);
        EXPECT_EQ(p96.height, e.at96.height);
        const PixelRect p120 = ToPixels(c, 120);
        EXPECT_EQ(p120.left, Scaled(e.at96.left));
        EXPECT_EQ(p120.top, Scaled(e.at96.top));
        EXPECT_EQ(p120.width, Scaled(e.at96.width));
        EXPECT_EQ(p120.height, Scaled(e.at96.height));
    }
}

TEST(Layout, NoTwoControlsOverlapAndAllFitInTheClientArea) {
    for (int dpi : {96, 120, 144, 192}) {
        const int client_w = TwipsToPixels(layout::kClientWidth, dpi);
        const int client_h = TwipsToPixels(layout::kClientHeight, dpi);
        for (size_t i = 0; i < kControls.size(); ++i) {
            const PixelRect a = ToPixels(kControls[i], dpi);
            EXPECT_GE(a.left, 0);
            EXPECT_GE(a.top, 0);
            EXPECT_LE(a.left + a.width, client_w) << kControls[i].name << " at " << dpi;
            EXPECT_LE(a.top + a.height, client_h) << kControls[i].name << " at " << dpi;
            for (size_t j = i + 1; j < kControls.size(); ++j) {
                const PixelRect b = ToPixels(kControls[j], dpi);
                const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                                   a.top + a.height <= b.top || b.top + b.height <= a.top;
                EXPECT_TRUE(apart)
                    << kControls[i].name << " and " << kControls[j].name << " at " << dpi;
            }
        }
    }
}

TEST(Layout, TabIndicesAreUniqueFrom0To4AndOnlyText1IsATabStop) {
    std::set<int> indices;
    for (const auto& c : kControls) {
        indices.insert(c.tab_index);
        EXPECT_EQ(c.tab_stop, c.name == "Text1") << c.name;
    }
    EXPECT_EQ(indices, (std::set<int>{0, 1, 2, 3, 4}));
}

TEST(Layout, TwipsRoundToTheNearestPixel) {
    struct Row {
        int twips, dpi, pixels;
    };
    for (const Row& r : {Row{15, 96, 1}, Row{7, 96, 0}, Row{8, 96, 1}, Row{1995, 120, 166},
                         Row{2865, 120, 239}, Row{-15, 96, -1}, Row{1440, 144, 144}}) {
        EXPECT_EQ(TwipsToPixels(r.twips, r.dpi), r.pixels) << r.twips << " at " << r.dpi;
    }
}

}  // namespace
