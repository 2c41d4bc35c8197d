// The COMPOUND_TEXT that velmo writes into WM_NAME, read back by libX11's own decoder, as
// window managers and other clients that read only WM_NAME see it.

// GoogleTest comes before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "tests/support/x_session.h"
#include "winsys/x11_text.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(char32_t cp) {
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (cp < 0x80) {
        return {byte(cp)};
    }
    if (cp < 0x800) {
        return {byte(0xC0 | (cp >> 6)), byte(0x80 | (cp & 0x3F))};
    }
    if (cp < 0x10000) {
        return {byte(0xE0 | (cp >> 12)), byte(0x80 | ((cp >> 6) & 0x3F)), byte(0x80 | (cp & 0x3F))};
    }
    return {byte(0xF0 | (cp >> 18)), byte(0x80 | ((cp >> 12) & 0x3F)),
            byte(0x80 | ((cp >> 6) & 0x3F)), byte(0x80 | (cp & 0x3F))};
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (const char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", static_cast<unsigned char>(c));
        out += b;
    }
    return out;
}

// Each character on its own: Xlib gives nothing back for a whole property when it meets one
// code it does not know, and one call per character still takes well under a second.
TEST(Utf8ToCompoundText, EveryCharacterReadsBackThroughXlib) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    ASSERT_TRUE(XSupportsLocale());
    std::string error;
    const auto session = XSession::Start({.window_manager = XSession::WindowManager::Bare}, &error);
    ASSERT_NE(session, nullptr) << error;
    Display* d = session->display();
    const Atom compound_text = XInternAtom(d, "COMPOUND_TEXT", False);

    std::vector<char32_t> characters = {U'\t', U'\n'};
    for (char32_t cp = 0x20; cp <= 0x10FFFF; ++cp) {
        const bool control = cp == 0x7F || (cp >= 0x80 && cp < 0xA0);
        const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
        // Beyond the BMP, a sample: every 7th code point.
        if (!control && !surrogate && (cp <= 0xFFFF || cp % 7 == 0 || cp == 0x10FFFF)) {
            characters.push_back(cp);
        }
    }
    int failures = 0;
    for (const char32_t cp : characters) {
        const std::string text = Utf8(cp);
        std::string ctext = x11_text::Utf8ToCompoundText(text);
        XTextProperty p{};
        p.value = reinterpret_cast<unsigned char*>(ctext.data());
        p.encoding = compound_text;
        p.format = 8;
        p.nitems = ctext.size();
        char** list = nullptr;
        int count = 0;
        const int status = XmbTextPropertyToTextList(d, &p, &list, &count);
        const std::string back = status == Success && count == 1 ? list[0] : "(nothing)";
        if (list != nullptr) {
            XFreeStringList(list);
        }
        if (back != text && ++failures <= 20) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(cp));
            ADD_FAILURE() << name << " written as " << Hex(ctext) << "reads back as " << back;
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(characters.size(), 0xF000u + 0x100000u / 7);
}

}  // namespace
