// Draws the icon of velmo_icon.h as pixel art and writes it out.
//
//   make_icon png SIZE FILE    a SIZE x SIZE 32-bit RGBA PNG
//   make_icon ico FILE         the Windows icon: 32 x 32 in 2 colours, 32 x 32 and 16 x 16 in 16
//   make_icon preview FILE     every image, 8 times enlarged and at their own size, for a look
//
// Each pixel takes the layer that covers most of its samples (or stays transparent), so the
// small images have hard edges in palette colours rather than blurred ones.
#include "velmo_icon.h"

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace velmo_icon;

constexpr int kTransparent = -1;
constexpr int kOutlineRole = static_cast<int>(kLayers.size());
constexpr int kSamples = 8;  // per pixel, in each direction

// Even-odd rule, so any simple quadrilateral works, convex or not.
bool Inside(const Quad& q, Point p) {
    bool in = false;
    for (std::size_t i = 0, j = q.size() - 1; i < q.size(); j = i++) {
        const Point& a = q[i];
        const Point& b = q[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y)) {
            in = !in;
        }
    }
    return in;
}

bool Covers(const Layer& layer, Point p) {
    return Inside(layer.corners, p) && (layer.clip < 0 || Inside(kLayers[layer.clip].corners, p));
}

// Per pixel, row by row from the top: the layer shown there, kOutlineRole or kTransparent.
std::vector<int> Roles(int size) {
    std::vector<int> roles(size * size, kTransparent);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            std::array<int, kLayers.size() + 1> votes{};  // [0] is the background
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Point p{(x + (sx + 0.5) / kSamples) / size,
                                  (y + (sy + 0.5) / kSamples) / size};
                    std::size_t top = 0;
                    for (std::size_t i = 0; i < kLayers.size(); ++i) {
                        if (Covers(kLayers[i], p)) {
                            top = i + 1;
                        }
                    }
                    ++votes[top];
                }
            }
            // A tie goes to the upper layer, so thin parts keep their pixels.
            std::size_t best = 0;
            for (std::size_t i = 1; i < votes.size(); ++i) {
                if (votes[i] >= votes[best]) {
                    best = i;
                }
            }
            roles[y * size + x] = static_cast<int>(best) - 1;
        }
    }

    const auto body = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= size || y >= size) {
            return false;
        }
        const int role = roles[y * size + x];
        return role != kTransparent && kLayers[role].body;
    };
    const int width = std::max(1, size / kOutlinePixels);
    std::vector<int> outlined = roles;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (!body(x, y)) {
                continue;
            }
            for (int dy = -width; dy <= width; ++dy) {
                for (int dx = -width; dx <= width; ++dx) {
                    if (std::abs(dx) + std::abs(dy) <= width && !body(x + dx, y + dy)) {
                        outlined[y * size + x] = kOutlineRole;
                    }
                }
            }
        }
    }
    return outlined;
}

// A picture as indices into a colour table, kTransparent where the background shows.
struct Picture {
    int size;
    std::vector<Rgb> table;
    std::vector<int> pixels;
};

Picture SixteenColours(int size) {
    Picture picture{size, {kPalette.begin(), kPalette.end()}, Roles(size)};
    for (int& p : picture.pixels) {
        if (p != kTransparent) {
            p = p == kOutlineRole ? kOutline : kLayers[p].colour;
        }
    }
    return picture;
}

Picture TwoColours(int size) {
    Picture picture{size, {kPalette[kBlack], kPalette[kWhite]}, Roles(size)};
    for (int i = 0; i < size * size; ++i) {
        int& p = picture.pixels[i];
        if (p == kTransparent) {
            continue;
        }
        switch (p == kOutlineRole ? kOutlineMono : kLayers[p].mono) {
            case Mono::kBlack:
                p = 0;
                break;
            case Mono::kWhite:
                p = 1;
                break;
            case Mono::kHalftone:
                p = (i % size + i / size) % 2 == 0 ? 0 : kTransparent;
                break;
        }
    }
    return picture;
}

std::vector<std::uint8_t> Rgba(const Picture& picture) {
    std::vector<std::uint8_t> rgba(picture.pixels.size() * 4, 0);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        if (picture.pixels[i] != kTransparent) {
            const Rgb c = picture.table[picture.pixels[i]];
            rgba[i * 4] = c.r;
            rgba[i * 4 + 1] = c.g;
            rgba[i * 4 + 2] = c.b;
            rgba[i * 4 + 3] = 0xFF;
        }
    }
    return rgba;
}

bool WritePng(const char* path, int width, int height, const std::vector<std::uint8_t>& rgba) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    const bool ok = png_image_write_to_file(&image, path, 0, rgba.data(), 0, nullptr) != 0;
    if (!ok) {
        std::fprintf(stderr, "make_icon: cannot write %s: %s\n", path, image.message);
    }
    png_image_free(&image);
    return ok;
}

void Put16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// 1, 2, 4 or 8: the fewest bits a pixel needs that hold an index into the colour table.
int BitsPerPixel(const Picture& picture) {
    int bits = 1;
    while ((1u << bits) < picture.table.size()) {
        bits *= 2;
    }
    return bits;
}

// BITMAPINFOHEADER, colour table, XOR bitmap, AND mask: the two bitmaps bottom-up, each row
// padded to four bytes, the height counting both. Transparent pixels are 0 in the XOR bitmap
// and 1 in the mask, so the screen shows through unchanged.
std::string Dib(const Picture& picture) {
    const int bits = BitsPerPixel(picture);
    const int size = picture.size;
    const int xor_row = (size * bits + 31) / 32 * 4;
    const int and_row = (size + 31) / 32 * 4;
    std::string xor_bits(xor_row * size, '\0');
    std::string and_bits(and_row * size, '\0');
    for (int y = 0; y < size; ++y) {
        const int row = size - 1 - y;
        for (int x = 0; x < size; ++x) {
            const int p = picture.pixels[y * size + x];
            if (p == kTransparent) {
                and_bits[row * and_row + x / 8] |= static_cast<char>(0x80 >> (x % 8));
            } else {
                const int shift = 8 - bits - (x * bits) % 8;
                xor_bits[row * xor_row + x * bits / 8] |= static_cast<char>(p << shift);
            }
        }
    }

    std::string dib;
    Put32(dib, 40);
    Put32(dib, size);
    Put32(dib, 2 * size);
    Put16(dib, 1);  // planes
    Put16(dib, bits);
    Put32(dib, 0);  // BI_RGB
    Put32(dib, static_cast<std::uint32_t>(xor_bits.size() + and_bits.size()));
    for (int i = 0; i < 4; ++i) {
        Put32(dib, 0);  // resolution and colour counts: the defaults
    }
    for (int i = 0; i < (1 << bits); ++i) {
        const Rgb c = i < static_cast<int>(picture.table.size()) ? picture.table[i] : Rgb{};
        dib += static_cast<char>(c.b);
        dib += static_cast<char>(c.g);
        dib += static_cast<char>(c.r);
        dib += '\0';
    }
    return dib + xor_bits + and_bits;
}

// ICONDIR, one ICONDIRENTRY per picture, then the pictures' DIBs in the same order.
bool WriteIco(const char* path, const std::vector<Picture>& pictures) {
    std::string head;
    std::string body;
    Put16(head, 0);
    Put16(head, 1);  // an icon, not a cursor
    Put16(head, static_cast<unsigned>(pictures.size()));
    const std::size_t first = 6 + 16 * pictures.size();
    for (const Picture& picture : pictures) {
        const std::string dib = Dib(picture);
        const int bits = BitsPerPixel(picture);
        head += static_cast<char>(picture.size);
        head += static_cast<char>(picture.size);
        head += static_cast<char>(bits < 8 ? 1 << bits : 0);
        head += '\0';
        Put16(head, 1);
        Put16(head, bits);
        Put32(head, static_cast<std::uint32_t>(dib.size()));
        Put32(head, static_cast<std::uint32_t>(first + body.size()));
        body += dib;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << head << body;
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", path);
        return false;
    }
    return true;
}

std::vector<Picture> IconPictures() {
    return {TwoColours(32), SixteenColours(32), SixteenColours(16)};
}

// Every picture at 8 times and at 1 times its size, side by side on a checkerboard that no
// palette colour matches, so transparency and white stand apart.
bool WritePreview(const char* path) {
    std::vector<Picture> pictures = IconPictures();
    pictures.push_back(SixteenColours(48));
    constexpr int kScale = 8;
    constexpr int kGap = 16;
    int width = kGap;
    for (const Picture& picture : pictures) {
        width += picture.size * kScale + kGap;
    }
    const int height = kGap + 48 * kScale + kGap + 48 + kGap;
    std::vector<std::uint8_t> canvas(width * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool dark = (x / 8 + y / 8) % 2 != 0;
            std::uint8_t* px = &canvas[(y * width + x) * 4];
            px[0] = dark ? 0xB8 : 0xD8;
            px[1] = dark ? 0x98 : 0xC0;
            px[2] = dark ? 0xD0 : 0xE8;
            px[3] = 0xFF;
        }
    }
    const auto draw = [&](const Picture& picture, int left, int top, int scale) {
        const std::vector<std::uint8_t> rgba = Rgba(picture);
        for (int y = 0; y < picture.size * scale; ++y) {
            for (int x = 0; x < picture.size * scale; ++x) {
                const std::uint8_t* src = &rgba[((y / scale) * picture.size + x / scale) * 4];
                if (src[3] != 0) {
                    std::copy(src, src + 4, &canvas[((top + y) * width + left + x) * 4]);
                }
            }
        }
    };
    int left = kGap;
    for (const Picture& picture : pictures) {
        draw(picture, left, kGap, kScale);
        draw(picture, left, kGap + 48 * kScale + kGap, 1);
        left += picture.size * kScale + kGap;
    }
    return WritePng(path, width, height, canvas);
}

int Usage() {
    std::fputs("usage: make_icon png SIZE FILE | make_icon ico FILE | make_icon preview FILE\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "png" && argc == 4) {
        const int size = std::atoi(argv[2]);
        if (size < 1 || size > 256) {
            return Usage();
        }
        const Picture picture = SixteenColours(size);
        return WritePng(argv[3], size, size, Rgba(picture)) ? 0 : 1;
    }
    if (mode == "ico" && argc == 3) {
        return WriteIco(argv[2], IconPictures()) ? 0 : 1;
    }
    if (mode == "preview" && argc == 3) {
        return WritePreview(argv[2]) ? 0 : 1;
    }
    return Usage();
}
