// The program's icon: a slanted sheet of paper with a cyan top edge, a black outline and a grey
// shadow on its right. Drawn as quadrilaterals in the unit square (x to the right, y down),
// painted in order; make_icon.cpp turns it into pixels at each size.
#pragma once

#include <array>
#include <cstdint>

namespace velmo_icon {

struct Rgb {
    std::uint8_t r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The sixteen VGA colours, in the order of a 4-bit Windows icon's colour table.
enum Colour : std::uint8_t {
    kBlack,
    kMaroon,
    kGreen,
    kOlive,
    kNavy,
    kPurple,
    kTeal,
    kSilver,
    kGrey,
    kRed,
    kLime,
    kYellow,
    kBlue,
    kFuchsia,
    kCyan,
    kWhite,
};
inline constexpr std::array<Rgb, 16> kPalette{{
    {0x00, 0x00, 0x00},
    {0x80, 0x00, 0x00},
    {0x00, 0x80, 0x00},
    {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80},
    {0x80, 0x00, 0x80},
    {0x00, 0x80, 0x80},
    {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80},
    {0xFF, 0x00, 0x00},
    {0x00, 0xFF, 0x00},
    {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF},
    {0xFF, 0x00, 0xFF},
    {0x00, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF},
}};

struct Point {
    double x, y;
};
using Quad = std::array<Point, 4>;

// How a layer shows in two colours; a halftone is black on every other pixel, a checkerboard
// with the background.
enum class Mono { kBlack, kWhite, kHalftone };

struct Layer {
    Quad corners;
    Colour colour;  // in 16 colours
    Mono mono;      // in 2 colours
    int clip;       // drawn only inside this earlier layer; -1 for everywhere
    bool body;      // inside the outline
};

constexpr Quad Shifted(Quad q, double dx, double dy) {
    for (Point& p : q) {
        p.x += dx;
        p.y += dy;
    }
    return q;
}

// The sheet leans to the right: its top edge is level and its sides slope.
inline constexpr Quad kSheet{{{0.29, 0.05}, {0.87, 0.05}, {0.69, 0.87}, {0.11, 0.87}}};
// The band that the sheet clips to its cyan top edge.
inline constexpr Quad kTopBand{{{0.0, 0.0}, {1.0, 0.0}, {1.0, 0.24}, {0.0, 0.24}}};

inline constexpr std::array<Layer, 3> kLayers{{
    {Shifted(kSheet, 0.08, 0.07), kGrey, Mono::kHalftone, -1, false},
    {kSheet, kWhite, Mono::kWhite, -1, true},
    {kTopBand, kCyan, Mono::kBlack, 1, true},
}};

// The outline is drawn over the rim of the body, one pixel wide for every kOutlinePixels
// pixels of the icon's size (at least one).
inline constexpr Colour kOutline = kBlack;
inline constexpr Mono kOutlineMono = Mono::kBlack;
inline constexpr int kOutlinePixels = 32;

}  // namespace velmo_icon
