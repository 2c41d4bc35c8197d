// End-to-end tests of Velmo.exe under Wine: started as a child process, driven with real input
// and read back through Win32 calls from this process.
//
// Usage: velmo_wine_test VELMO.EXE DPI REPORT [OTHER.EXE...]
//   DPI is the density the system is expected to run at; REPORT receives one line per check.
//   OTHER.EXE are the builds of the other width, whose resources are read as data.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "mainwindow/layout.h"
#include "tests/wine/harness.h"

namespace {

using layout::TwipsToPixels;

const std::wstring kCaption = L"Vellomar v1.0   made by ＱＵＸＩ";

RECT TwipsRect(int left, int top, int width, int height, int dpi) {
    return {TwipsToPixels(left, dpi), TwipsToPixels(top, dpi), TwipsToPixels(left + width, dpi),
            TwipsToPixels(top + height, dpi)};
}

// --- Form1 and its controls, read from outside --------------------------------------------

void CheckLayout(Report& report, Velmo& velmo, int dpi) {
    const std::string at = " at " + std::to_string(dpi) + " dpi";
    HDC screen = GetDC(nullptr);
    report.Equal("system density" + at, GetDeviceCaps(screen, LOGPIXELSY), dpi);
    ReleaseDC(nullptr, screen);

    HWND form = velmo.Form1();
    report.Equal("Form1 caption", Text(form), kCaption);
    const LONG style = GetWindowLongW(form, GWL_STYLE);
    report.Check("Form1 is topmost", (GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    report.Check("Form1 has a fixed frame with minimise and close, no maximise",
                 (style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) == 0 &&
                     (style & (WS_MINIMIZEBOX | WS_SYSMENU)) == (WS_MINIMIZEBOX | WS_SYSMENU));
    RECT outer;
    RECT client;
    GetWindowRect(form, &outer);
    GetClientRect(form, &client);
    const RECT placed = {outer.left, outer.top, outer.left + client.right,
                         outer.top + client.bottom};
    report.Equal("Form1's frame origin and client size" + at, placed,
                 TwipsRect(1995, 2865, 5640, 2775, dpi));
    if (dpi == 96) {
        report.Equal("Form1 in pixels at 96 dpi", placed, RECT{133, 191, 133 + 376, 191 + 185});
    }

    FormProbeAnswer font{};
    const bool font_read = velmo.Read(form, &font) && font.read;
    if (report.Check("Form1's font read inside Velmo.exe", font_read)) {
        const LOGFONTW& f = font.requested;
        report.Equal("font face", std::wstring(f.lfFaceName), L"ＭＳ Ｐゴシック");
        report.Equal("font character set", f.lfCharSet, SHIFTJIS_CHARSET);
        report.Equal("font height" + at, f.lfHeight, -MulDiv(12, dpi, 72));
        report.Equal("font weight 400, not italic, underlined or struck out",
                     f.lfWeight + f.lfItalic + f.lfUnderline + f.lfStrikeOut, 400);
        report.Equal("font as the mapper realised it", std::wstring(font.realized),
                     L"ＭＳ Ｐゴシック");
        report.Equal("realised character set", font.realized_charset, SHIFTJIS_CHARSET);
        report.Check("the buttons are those of the common controls 6", font.common_controls_6);
        // Wine gives a 64-bit process its memory below 4 GiB, where a pointer cut to 32 bits
        // would still work; the 64-bit build reserves its stack, and Form1 with it, above.
        const auto form_at =
            static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(font.form));
        if (sizeof(void*) == 8) {
            report.Check("Form1 lives above 4 GiB, where a pointer cut to 32 bits fails",
                         form_at >> 32 != 0, "seen " + Show(static_cast<long long>(form_at)));
        }
    }

    struct Child {
        const char* name;
        const wchar_t* window_class;
        RECT twips;  // left, top, width, height, relative to the client area
        std::wstring caption;
        bool tab_stop;
    };
    const std::vector<Child> rows = {
        {"Text1", L"Edit", {120, 1200, 5415, 615}, L"", true},
        {"Command1(0)", L"Button", {120, 2160, 2415, 495}, L"ら・く・が・き", false},
        {"Command1(1)", L"Button", {3240, 2160, 2295, 495}, L"取り込み", false},
    };
    const std::vector<HWND> children = velmo.Children();
    report.Equal("Form1 has three child windows", children.size(), rows.size());
    for (size_t i = 0; i < rows.size() && i < children.size(); ++i) {
        const Child& row = rows[i];
        const std::string name = row.name;
        HWND child = children[i];
        wchar_t window_class[32] = {};
        GetClassNameW(child, window_class, 32);
        report.Check(name + " class " + Utf8(row.window_class),
                     lstrcmpiW(window_class, row.window_class) == 0, Utf8(window_class));
        report.Equal(
            name + " rectangle" + at, RectIn(form, child),
            TwipsRect(row.twips.left, row.twips.top, row.twips.right, row.twips.bottom, dpi));
        report.Equal(name + " text", Text(child), row.caption);
        report.Equal(name + (row.tab_stop ? " is a tab stop" : " is no tab stop"),
                     (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0, row.tab_stop);
        FormProbeAnswer child_font{};
        report.Check(name + " has Form1's font",
                     font_read && velmo.Read(child, &child_font) && child_font.font == font.font);
    }
}

// --- The typical use: capture another window's title, write a new one -------------------

void CheckTypicalUse(Report& report, Velmo& velmo) {
    CPINFOEXW code_page{};
    GetCPInfoExW(CP_ACP, 0, &code_page);
    report.Equal("ANSI code page", code_page.CodePage, 932u);
    // What a character the code page cannot hold (한, é) becomes: the code page's default
    // character, never a look-alike.
    wchar_t default_char = 0;
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(code_page.DefaultChar), 1,
                        &default_char, 1);
    const std::wstring unheld(1, default_char);

    struct Use {
        const char* name;
        std::wstring title;     // the target's title before
        std::wstring captured;  // what the capture key puts into Text1
        std::wstring typed;     // what the user then types into Text1
        std::wstring written;   // the target's title after the write key
    };
    const std::vector<Use> rows = {
        {"Japanese", L"無題 - メモ帳", L"無題 - メモ帳", L"落書きされた題名", L"落書きされた題名"},
        {"OutsideCodePage932", L"韓国語: 한", L"韓国語: " + unheld, L"Ｘ한éＹ",
         L"Ｘ" + unheld + unheld + L"Ｙ"},
        {"LongTitle", std::wstring(150, L'x'), std::wstring(99, L'x'), std::wstring(3000, L'y'),
         std::wstring(3000, L'y')},
        {"Empty", L"題名あり", L"題名あり", L"", L""},
    };
    for (const Use& row : rows) {
        const std::string name = std::string(row.name) + ": ";
        TestWindow target(row.title, {700, 150, 1100, 450});
        PointAt(report, velmo, target.hwnd());

        PressKey(VK_ESCAPE);
        WaitFor([&] { return Text(velmo.Text1()) == row.captured; });
        report.Equal(name + "Escape captures the title into Text1", Text(velmo.Text1()),
                     row.captured);

        SetText(velmo.Text1(), row.typed);
        PressKey(VK_RETURN);
        WaitFor([&] { return Text(target.hwnd()) == row.written; });
        report.Equal(name + "Enter writes Text1 as the title", Text(target.hwnd()), row.written);
        report.Check(name + "Form1 keeps the keyboard",
                     velmo.Focus() == velmo.Text1() && GetForegroundWindow() == velmo.Form1());
    }
}

// --- A vanished target, mouse clicks, Tab ---------------------------------------------------

void CheckEdges(Report& report, Velmo& velmo) {
    {
        const std::string name = "write to a target destroyed since the last tick: ";
        TestWindow below(L"下の窓", {700, 150, 1100, 450});
        TestWindow doomed(L"消える窓", {750, 200, 1050, 400});
        SetText(velmo.Text1(), L"書き込み");
        PointAt(report, velmo, doomed.hwnd());
        // A first write blocks Velmo.exe in its WM_SETTEXT to `doomed` until this thread
        // answers, so no tick can run between the window's end and the second write, whose key
        // is queued now and handled before any tick: the tick that finds the window beneath
        // comes after it.
        PressKey(VK_RETURN);
        report.Check(name + "a first write reaches it", AwaitSentMessage());
        PressKey(VK_RETURN);
        doomed.Destroy();
        PointAt(report, velmo, below.hwnd());
        DWORD_PTR ignored = 0;
        report.Check(name + "Velmo.exe runs on and answers",
                     velmo.Running() && SendMessageTimeoutW(velmo.Form1(), WM_NULL, 0, 0,
                                                            SMTO_ABORTIFHUNG, 3000, &ignored));
        report.Equal(name + "the window beneath is unchanged", Text(below.hwnd()), L"下の窓");
        report.Equal(name + "Form1's caption is unchanged", Text(velmo.Form1()), kCaption);
    }

    SetText(velmo.Text1(), L"押された");
    Click(report, velmo, velmo.WriteButton());
    WaitFor([&] { return Text(velmo.WriteButton()) == L"押された"; });
    report.Equal("a click on the write button sets its own caption", Text(velmo.WriteButton()),
                 L"押された");

    for (const auto& [from, first] : {std::pair{"Text1", velmo.Text1()},
                                      std::pair{"the capture button", velmo.CaptureButton()}}) {
        Click(report, velmo, first);
        WaitFor([&] { return velmo.Focus() == first; });
        PressKey(VK_TAB);
        Pump(200);
        report.Check(std::string("Tab from ") + from + " puts the focus in Text1",
                     velmo.Focus() == velmo.Text1());
    }
}

// --- What the executable carries: version record and icon -----------------------------------

void CheckVersionRecord(Report& report, const std::wstring& exe, const std::string& of) {
    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    WORD* translation = nullptr;
    UINT size = 0;
    const bool read =
        !data.empty() &&
        GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) &&
        VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) &&
        VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translation), &size) &&
        size == 4;
    if (!report.Check(of + "version record readable", read)) {
        return;
    }
    report.Equal(of + "file version",
                 Show(HIWORD(fixed->dwFileVersionMS)) + "." + Show(LOWORD(fixed->dwFileVersionMS)) +
                     "." + Show(HIWORD(fixed->dwFileVersionLS)) + "." +
                     Show(LOWORD(fixed->dwFileVersionLS)),
                 std::string("1.0.0.0"));
    report.Check(of + "product version 1.0.0.0",
                 fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0);
    report.Equal(of + "file type application", fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    report.Equal(of + "language Japanese, code page 1200", MAKELONG(translation[0], translation[1]),
                 MAKELONG(0x0411, 1200));
    for (const auto& [field, value] :
         {std::pair{L"ProductName", L"Vellomar v1.0"}, std::pair{L"FileVersion", L"1.00"},
          std::pair{L"ProductVersion", L"1.00"}, std::pair{L"InternalName", L"Velmo"},
          std::pair{L"OriginalFilename", L"Velmo.exe"}}) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\041104b0\\") + field;
        wchar_t* seen = nullptr;
        const bool found =
            VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&seen), &size);
        report.Equal(of + Utf8(field), found && seen ? std::wstring(seen) : L"(missing)",
                     std::wstring(value));
    }
}

#pragma pack(push, 2)
struct IconGroup {  // GRPICONDIR with its entries (GRPICONDIRENTRY)
    WORD reserved, type, count;
    struct {
        BYTE width, height, colours, reserved;
        WORD planes, bits;
        DWORD bytes;
        WORD id;
    } entries[1];
};
#pragma pack(pop)

BOOL CALLBACK CountResource(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

void CheckIcon(Report& report, const std::wstring& exe, const std::string& of) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    int groups = 0;
    int images = 0;
    EnumResourceNamesW(module, RT_GROUP_ICON, CountResource, reinterpret_cast<LONG_PTR>(&groups));
    EnumResourceNamesW(module, RT_ICON, CountResource, reinterpret_cast<LONG_PTR>(&images));
    report.Equal(of + "one icon of three images", Show(groups) + " of " + Show(images),
                 std::string("1 of 3"));
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    const auto* group =
        static_cast<const IconGroup*>(found ? LockResource(LoadResource(module, found)) : nullptr);
    std::vector<std::string> seen;  // width x height x bits per pixel, colours
    for (int i = 0; group != nullptr && i < group->count; ++i) {
        const auto& e = group->entries[i];
        seen.push_back(Show(e.width) + "x" + Show(e.height) + "x" + Show(e.bits) + " " +
                       Show(e.colours));
    }
    std::sort(seen.begin(), seen.end());
    report.Equal(of + "the icon's images", seen,
                 std::vector<std::string>{"16x16x4 16", "32x32x1 2", "32x32x4 16"});
    FreeLibrary(module);
}

// --- The executable's format, and a manifest that fits it ----------------------------------

struct PeFormat {
    WORD magic = 0;  // IMAGE_NT_OPTIONAL_HDR32_MAGIC or ..._HDR64_MAGIC
    WORD machine = 0;
    WORD subsystem = 0;
};

// The fields of the PE headers that say what kind of program a file is; zero where unread.
PeFormat ReadPeFormat(const std::wstring& exe) {
    PeFormat format;
    HANDLE file =
        CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<BYTE> head(4096);
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, head.data(), 4096, &read, nullptr)) {
        read = 0;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    const auto at = static_cast<DWORD>(dos->e_lfanew);
    if (read < sizeof *dos || dos->e_magic != IMAGE_DOS_SIGNATURE ||
        at + sizeof(IMAGE_NT_HEADERS32) > read) {
        return format;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(head.data() + at);
    if (nt->Signature == IMAGE_NT_SIGNATURE) {
        // The subsystem lies at the same offset in both optional headers.
        format = {nt->OptionalHeader.Magic, nt->FileHeader.Machine, nt->OptionalHeader.Subsystem};
    }
    return format;
}

std::string Describe(const PeFormat& f) {
    const char* kind = f.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC   ? "PE32+"
                       : f.magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC ? "PE32"
                                                                  : "not PE";
    return std::string(kind) + " machine " + Show(f.machine) + " subsystem " + Show(f.subsystem);
}

// The processorArchitecture values the embedded manifest names, in order.
std::vector<std::string> ManifestArchitectures(const std::wstring& exe) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST) : nullptr;
    const char* data =
        found ? static_cast<const char*>(LockResource(LoadResource(module, found))) : nullptr;
    const std::string text = data ? std::string(data, SizeofResource(module, found)) : "";
    if (module != nullptr) {
        FreeLibrary(module);
    }
    std::vector<std::string> names;
    const std::regex attribute(R"re(processorArchitecture="([^"]*)")re");
    for (std::sregex_iterator it(text.begin(), text.end(), attribute), end; it != end; ++it) {
        names.push_back((*it)[1]);
    }
    return names;
}

// `same_width`: the executable is of this test program's width (the build under test), else of
// the other one.
void CheckFormat(Report& report, const std::wstring& exe, const std::string& of, bool same_width) {
    const bool wide = (sizeof(void*) == 8) == same_width;
    const PeFormat wanted = {
        static_cast<WORD>(wide ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC),
        static_cast<WORD>(wide ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386),
        IMAGE_SUBSYSTEM_WINDOWS_GUI};
    const PeFormat seen = ReadPeFormat(exe);
    report.Check(of + (wide ? "a PE32+ x86-64 GUI program" : "a PE32 i386 GUI program"),
                 seen.magic == wanted.magic && seen.machine == wanted.machine &&
                     seen.subsystem == wanted.subsystem,
                 "seen " + Describe(seen) + ", wanted " + Describe(wanted));
    // An architecture the program is not built for makes Windows refuse to start it, and Wine
    // fall back to the old common controls.
    const std::string own = wide ? "amd64" : "x86";
    const std::vector<std::string> named = ManifestArchitectures(exe);
    report.Check(of + "the manifest names the program and the common controls 6 for " + own,
                 named.size() == 2 &&
                     std::all_of(named.begin(), named.end(),
                                 [&](const std::string& a) { return a == "*" || a == own; }),
                 "seen " + Show(named));
}

void CheckExecutable(Report& report, const std::wstring& exe, const std::string& of,
                     bool same_width) {
    CheckFormat(report, exe, of, same_width);
    CheckVersionRecord(report, exe, of);
    CheckIcon(report, exe, of);
}

// --- The binding of the eight user32 functions --------------------------------------------

const std::vector<std::string> kBoundByTheFirstTick = {
    "user32 found",          "GetWindowRect found", "SetWindowPos found",  "GetCursorPos found",
    "WindowFromPoint found", "IsWindow found",      "GetWindowTextA found"};

std::vector<std::string> BoundByTheFirstWrite() {
    std::vector<std::string> lines = kBoundByTheFirstTick;
    lines.push_back("SetWindowTextA found");
    lines.push_back("UpdateWindow found");
    return lines;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::FILE* out = argc >= 4 ? _wfopen(argv[3], L"wb") : nullptr;
    if (out == nullptr) {
        std::fputs("usage: velmo_wine_test VELMO.EXE DPI REPORT [OTHER.EXE...]\n", stderr);
        return 2;
    }
    const std::wstring exe = argv[1];
    SetProcessDPIAware();
    Report report(out);
    {
        Velmo velmo(exe);
        if (report.Check("Velmo.exe starts and shows Form1", velmo.Form1() != nullptr)) {
            CheckLayout(report, velmo, _wtoi(argv[2]));
            report.Check("Text1 holds the focus at start", velmo.Focus() == velmo.Text1());
            WaitFor([&] { return velmo.Trace().size() >= kBoundByTheFirstTick.size(); });
            report.Equal("functions bound by the first tick", velmo.Trace(), kBoundByTheFirstTick);
            CheckTypicalUse(report, velmo);
            CheckEdges(report, velmo);
            report.Equal("closing ends the process with status 0", velmo.Close(), 0L);
            report.Equal("each function bound once, on first use", velmo.Trace(),
                         BoundByTheFirstWrite());
        }
    }
    CheckExecutable(report, exe, "", true);
    for (int i = 4; i < argc; ++i) {
        CheckExecutable(report, argv[i], "the other build: ", false);
    }
    report.Close();
    std::fclose(out);
    return report.failed == 0 ? 0 : 1;
}
