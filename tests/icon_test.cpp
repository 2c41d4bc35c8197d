// The icon files that the build draws: the Windows icon's directory and bitmaps, the PNGs, and
// that every image shows a slanted white sheet with a cyan top edge, a black outline and a grey
// shadow on its right.
#include <png.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct Rgba {
    std::uint8_t r, g, b, a;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};
constexpr Rgba kClear{0, 0, 0, 0};
constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kCyan{0, 255, 255, 255};
constexpr Rgba kGrey{128, 128, 128, 255};

struct Image {
    int size = 0;
    std::vector<Rgba> pixels;  // rows from the top
    Rgba At(int x, int y) const { return pixels[y * size + x]; }
};

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned U16(const std::string& s, std::size_t at) {
    return static_cast<std::uint8_t>(s.at(at)) | static_cast<std::uint8_t>(s.at(at + 1)) << 8;
}
std::uint32_t U32(const std::string& s, std::size_t at) {
    return U16(s, at) | static_cast<std::uint32_t>(U16(s, at + 2)) << 16;
}
std::uint32_t U32BigEndian(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v = v << 8 | static_cast<std::uint8_t>(s.at(at + i));
    }
    return v;
}

Image ReadPng(const char* path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    Image image;
    if (png_image_begin_read_from_file(&png, path) == 0) {
        ADD_FAILURE() << path << ": " << png.message;
        return image;
    }
    png.format = PNG_FORMAT_RGBA;
    image.size = static_cast<int>(png.width);
    image.pixels.resize(png.width * png.height);
    if (png.width != png.height ||
        png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr) == 0) {
        ADD_FAILURE() << path << " is not square or unreadable";
        png_image_free(&png);
        return {};
    }
    return image;
}

struct Entry {
    unsigned width, height, colours, planes, bits;
    std::uint32_t bytes, offset;
};

std::vector<Entry> Directory(const std::string& ico) {
    std::vector<Entry> entries;
    for (unsigned i = 0; i < U16(ico, 4); ++i) {
        const std::size_t at = 6 + 16 * i;
        entries.push_back({static_cast<std::uint8_t>(ico.at(at)),
                           static_cast<std::uint8_t>(ico.at(at + 1)),
                           static_cast<std::uint8_t>(ico.at(at + 2)), U16(ico, at + 4),
                           U16(ico, at + 6), U32(ico, at + 8), U32(ico, at + 12)});
    }
    return entries;
}

std::size_t RowBytes(unsigned width, unsigned bits) {
    return (width * bits + 31) / 32 * 4;
}

// The picture the entry's DIB shows; a pixel left transparent by the AND mask must be 0 in the
// XOR bitmap, or Windows would invert the screen there.
Image DecodeDib(const std::string& ico, const Entry& e) {
    const std::size_t table = e.offset + 40;
    const std::size_t xor_bits = table + 4 * (std::size_t{1} << e.bits);
    const std::size_t and_bits = xor_bits + RowBytes(e.width, e.bits) * e.height;
    Image image{static_cast<int>(e.width), std::vector<Rgba>(e.width * e.height)};
    for (unsigned y = 0; y < e.height; ++y) {
        const unsigned row = e.height - 1 - y;
        for (unsigned x = 0; x < e.width; ++x) {
            const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(ico.at(at)); };
            const unsigned bit = x * e.bits;
            const unsigned packed = byte(xor_bits + row * RowBytes(e.width, e.bits) + bit / 8);
            const unsigned index = (packed >> (8 - e.bits - bit % 8)) & ((1u << e.bits) - 1);
            const unsigned mask = byte(and_bits + row * RowBytes(e.width, 1) + x / 8);
            const bool clear = ((mask >> (7 - x % 8)) & 1) != 0;
            const std::size_t c = table + 4 * index;
            EXPECT_FALSE(clear && index != 0) << "pixel " << x << "," << y;
            image.pixels[y * e.width + x] =
                clear ? kClear : Rgba{byte(c + 2), byte(c + 1), byte(c), 255};
        }
    }
    return image;
}

std::map<std::string, int> Census(const Image& image) {
    const std::map<std::string, Rgba> names{
        {"clear", kClear}, {"black", kBlack}, {"white", kWhite}, {"cyan", kCyan}, {"grey", kGrey}};
    std::map<std::string, int> counts;
    for (const Rgba& p : image.pixels) {
        std::string name = "other";
        for (const auto& [n, c] : names) {
            if (p == c) {
                name = n;
            }
        }
        ++counts[name];
    }
    return counts;
}

class IcoTest : public ::testing::Test {
  protected:
    std::string ico = ReadFile(VELLOMAR_ICON_ICO);
};

TEST_F(IcoTest, DirectoryHoldsThreeImagesInOrder) {
    ASSERT_GE(ico.size(), 6u + 3 * 16);
    EXPECT_EQ(U16(ico, 0), 0u);
    EXPECT_EQ(U16(ico, 2), 1u);  // an icon
    const std::vector<Entry> entries = Directory(ico);
    ASSERT_EQ(entries.size(), 3u);
    const unsigned expected[3][4] = {{32, 32, 2, 1}, {32, 32, 16, 4}, {16, 16, 16, 4}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Entry& e = entries[i];
        EXPECT_EQ(e.width, expected[i][0]);
        EXPECT_EQ(e.height, expected[i][1]);
        EXPECT_EQ(e.colours, expected[i][2]);
        EXPECT_EQ(e.bits, expected[i][3]);
        EXPECT_EQ(e.planes, 1u);
    }
}

TEST_F(IcoTest, EachImageIsAWellFormedDibInsideTheFile) {
    std::size_t end = 6 + 16 * Directory(ico).size();
    for (const Entry& e : Directory(ico)) {
        SCOPED_TRACE(e.width * 100 + e.bits);
        ASSERT_EQ(e.offset, end) << "images follow the directory and each other without gaps";
        const std::size_t masks = (RowBytes(e.width, e.bits) + RowBytes(e.width, 1)) * e.height;
        ASSERT_EQ(e.bytes, 40 + 4 * (std::size_t{1} << e.bits) + masks);
        ASSERT_LE(e.offset + e.bytes, ico.size());
        EXPECT_EQ(U32(ico, e.offset), 40u);               // BITMAPINFOHEADER
        EXPECT_EQ(U32(ico, e.offset + 4), e.width);       // width
        EXPECT_EQ(U32(ico, e.offset + 8), 2 * e.height);  // XOR and AND bitmaps
        EXPECT_EQ(U16(ico, e.offset + 12), 1u);           // planes
        EXPECT_EQ(U16(ico, e.offset + 14), e.bits);       // bits per pixel
        EXPECT_EQ(U32(ico, e.offset + 16), 0u);           // BI_RGB
        EXPECT_EQ(U32(ico, e.offset + 20), masks);        // image size
        EXPECT_EQ(U32(ico, e.offset + 32), 0u);           // all colours of the table used
        end = e.offset + e.bytes;
    }
    EXPECT_EQ(end, ico.size());
}

TEST_F(IcoTest, SixteenColourImagesAreThePngs) {
    const std::vector<Entry> entries = Directory(ico);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(DecodeDib(ico, entries[1]).pixels, ReadPng(VELLOMAR_ICON_PNG_32).pixels);
    EXPECT_EQ(DecodeDib(ico, entries[2]).pixels, ReadPng(VELLOMAR_ICON_PNG_16).pixels);
}

// Black and white where the 16-colour image has its outline and sheet, the cyan edge black, and
// the grey shadow half black, half clear.
TEST_F(IcoTest, TwoColourImageFollowsTheSixteenColourOne) {
    const std::vector<Entry> entries = Directory(ico);
    ASSERT_EQ(entries.size(), 3u);
    const Image mono = DecodeDib(ico, entries[0]);
    const Image colour = DecodeDib(ico, entries[1]);
    std::map<std::string, int> shadow;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const Rgba c = colour.At(x, y);
            const Rgba m = mono.At(x, y);
            SCOPED_TRACE(testing::Message() << x << "," << y);
            if (c == kWhite) {
                EXPECT_EQ(m, kWhite);
            } else if (c == kBlack || c == kCyan) {
                EXPECT_EQ(m, kBlack);
            } else if (c == kGrey) {
                ++shadow[m == kBlack ? "black" : m == kClear ? "clear" : "other"];
            } else {
                EXPECT_EQ(m, kClear);
            }
        }
    }
    EXPECT_GT(shadow["black"], 10);
    EXPECT_GT(shadow["clear"], 10);
    EXPECT_EQ(shadow["other"], 0);
}

class PngTest : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(PngTest, IsASquareRgbaImageWithHardEdges) {
    const auto [path, size] = GetParam();
    const std::string file = ReadFile(path);
    ASSERT_GE(file.size(), 33u);
    ASSERT_EQ(file.substr(12, 4), "IHDR");
    EXPECT_EQ(U32BigEndian(file, 16), static_cast<std::uint32_t>(size));
    EXPECT_EQ(U32BigEndian(file, 20), static_cast<std::uint32_t>(size));
    EXPECT_EQ(file[24], 8);  // bits per channel
    EXPECT_EQ(file[25], 6);  // RGBA
    const Image image = ReadPng(path);
    ASSERT_EQ(image.size, size);
    std::map<std::string, int> census = Census(image);
    EXPECT_EQ(census["other"], 0) << "every pixel clear or one of four palette colours";
    EXPECT_GT(census["clear"], 0);
    EXPECT_EQ(image.At(0, 0), kClear);
    EXPECT_EQ(image.At(size - 1, size - 1), kClear);
}

TEST_P(PngTest, ShowsTheSlantedSheet) {
    const Image image = ReadPng(GetParam().first);
    const int size = image.size;
    ASSERT_GT(size, 0);
    std::map<std::string, int> census = Census(image);
    EXPECT_GT(census["white"], census["black"]) << "mostly a white sheet";
    EXPECT_GT(census["black"], 0);

    int top_cyan = 0;
    double white_x = 0;
    double grey_x = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const Rgba p = image.At(x, y);
            if (p == kCyan && y < size / 4) {
                ++top_cyan;
            }
            EXPECT_FALSE(p == kCyan && y >= size / 3)
                << "cyan only along the top, " << x << "," << y;
            white_x += p == kWhite ? x : 0;
            grey_x += p == kGrey ? x : 0;
            // The outline closes the sheet: white and cyan never meet the background.
            if (p == kWhite || p == kCyan) {
                for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                    const int nx = x + dx;
                    const int ny = y + dy;
                    ASSERT_TRUE(nx >= 0 && ny >= 0 && nx < size && ny < size);
                    EXPECT_NE(image.At(nx, ny), kClear) << x << "," << y;
                }
            }
        }
    }
    EXPECT_GE(top_cyan, size / 2);
    ASSERT_GT(census["grey"], 0);
    EXPECT_GT(grey_x / census["grey"], white_x / census["white"]) << "shadow to the right";

    // Halfway down, the sheet ends in its outline and then its shadow, and the sheet's left
    // edge lies further right near the top than near the bottom.
    const auto first = [&](int y) {
        int x = 0;
        while (x < size && image.At(x, y) == kClear) {
            ++x;
        }
        return x;
    };
    const auto last = [&](int y) {
        int x = size - 1;
        while (x >= 0 && image.At(x, y) == kClear) {
            --x;
        }
        return x;
    };
    const int mid = size / 2;
    int x = last(mid);
    ASSERT_GT(x, 0);
    EXPECT_EQ(image.At(x, mid), kGrey);
    while (x > 0 && image.At(x, mid) == kGrey) {
        --x;
    }
    EXPECT_EQ(image.At(x, mid), kBlack);
    EXPECT_EQ(image.At(first(mid), mid), kBlack);
    EXPECT_GT(first(size / 4), first(size * 3 / 4));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngTest,
                         testing::Values(std::pair{VELLOMAR_ICON_PNG_16, 16},
                                         std::pair{VELLOMAR_ICON_PNG_32, 32},
                                         std::pair{VELLOMAR_ICON_PNG_48, 48}),
                         [](const auto& row) { return "Size" + std::to_string(row.param.second); });

}  // namespace
