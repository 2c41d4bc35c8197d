// Form1's fixed layout, captions and font, in twips (1/1440 inch), shared by both front-ends.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace layout {

// All texts here are UTF-8.
inline constexpr std::string_view kCaption = "Vellomar v1.0   made by ＱＵＸＩ";
inline constexpr std::string_view kFontFace = "ＭＳ Ｐゴシック";
inline constexpr int kFontPoints = 12;
inline constexpr int kFontWeight = 400;
inline constexpr int kFontCharset = 128;  // Shift-JIS

// Where faces with Japanese glyphs are tried, in order, when kFontFace is not installed.
inline constexpr std::array<std::string_view, 5> kFontFallbacks = {
    "MS PGothic", "IPAPGothic", "VL PGothic", "Noto Sans CJK JP", "IPAGothic"};

// The initial position places the outer frame; the size is that of the client area.
inline constexpr int kFormLeft = 1995;
inline constexpr int kFormTop = 2865;
inline constexpr int kClientWidth = 5640;
inline constexpr int kClientHeight = 2775;

inline constexpr int kTimerIntervalMs = 100;

enum class Kind { Label, Edit, Button };

struct Control {
    std::string_view name;
    int index;  // position in its control array, 0 for a lone control
    Kind kind;
    int left;
    int top;
    int width;
    int height;
    std::string_view initial_text;
    int tab_index;
    bool tab_stop;
    bool border;
};

inline constexpr std::array<Control, 5> kControls = {{
    {"Label1", 0, Kind::Label, 1320, 120, 2775, 255, "ターゲットウインドウ", 0, false, false},
    {"Label2", 0, Kind::Label, 120, 480, 5415, 615, "", 1, false, true},
    {"Text1", 0, Kind::Edit, 120, 1200, 5415, 615, "", 4, true, false},
    {"Command1", 0, Kind::Button, 120, 2160, 2415, 495, "ら・く・が・き", 2, false, false},
    {"Command1", 1, Kind::Button, 3240, 2160, 2295, 495, "取り込み", 3, false, false},
}};

// The controls in the order of their tab indices, the order a front-end makes them in.
constexpr std::array<const Control*, kControls.size()> InTabOrder() {
    std::array<const Control*, kControls.size()> order{};
    for (const Control& c : kControls) {
        order[static_cast<std::size_t>(c.tab_index)] = &c;
    }
    return order;
}

inline constexpr const Control& kLabel1 = kControls[0];
inline constexpr const Control& kLabel2 = kControls[1];
inline constexpr const Control& kText1 = kControls[2];
inline constexpr const Control& kWriteButton = kControls[3];
inline constexpr const Control& kCaptureButton = kControls[4];

// Twips to pixels at `dpi` dots per inch, rounded to the nearest pixel (15 twips a pixel at 96).
constexpr int TwipsToPixels(int twips, int dpi) {
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440));
}

struct PixelRect {
    int left;
    int top;
    int width;
    int height;
};

// A control's rectangle in client pixels; the right and bottom edges are rounded themselves so
// that neighbouring controls never overlap through rounding.
constexpr PixelRect ToPixels(const Control& c, int dpi) {
    const int left = TwipsToPixels(c.left, dpi);
    const int top = TwipsToPixels(c.top, dpi);
    return {left, top, TwipsToPixels(c.left + c.width, dpi) - left,
            TwipsToPixels(c.top + c.height, dpi) - top};
}

}  // namespace layout
