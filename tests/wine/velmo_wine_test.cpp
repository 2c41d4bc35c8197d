// End-to-end tests of Velmo.exe under Wine: started as a child process, driven with real input
// and read back through Win32 calls from this process.
//
// Usage: velmo_wine_test VELMO.EXE DPI REPORT [OTHER.EXE...]
//   DPI is the density the system is expected to run at; REPORT receives one line per check.
//   OTHER.EXE are the builds of the other width, whose resources are read as data.
#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "mainwindow/layout.h"
#include "tests/support/typical_uses.h"
#include "tests/wine/harness.h"
#include "winsys/user32_text.h"

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
    }

    struct Child {
        const char* name;
        const wchar_t* window_class;
        RECT twips;  // left, top, width, height, relative to the client area
        std::wstring caption;
        bool tab_stop;
    };
    // In their tab order.
    const std::vector<Child> rows = {
        {"Command1(0)", L"Button", {120, 2160, 2415, 495}, L"ら・く・が・き", false},
        {"Command1(1)", L"Button", {3240, 2160, 2295, 495}, L"取り込み", false},
        {"Text1", L"Edit", {120, 1200, 5415, 615}, L"", true},
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

// A text of the typical uses in UTF-16, where a character the code page cannot hold is the
// code page's default character, never a look-alike.
std::wstring Wide(const std::string& utf8) {
    CPINFOEXW code_page{};
    GetCPInfoExW(CP_ACP, 0, &code_page);
    wchar_t default_char = 0;
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(code_page.DefaultChar), 1,
                        &default_char, 1);
    const wchar_t mark = AnsiToWide(kUnheld, CP_UTF8).value_or(L"?")[0];
    std::wstring text = AnsiToWide(utf8, CP_UTF8).value_or(L"(not UTF-8)");
    for (auto at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at)) {
        text.replace(at, IS_HIGH_SURROGATE(text[at + 1]) ? 3 : 2, 1, default_char);
    }
    return text;
}

void CheckUse(Report& report, Velmo& velmo, const TypicalUse& row, const std::string& prefix = {}) {
    const std::string name = prefix + row.name + ": ";
    const std::wstring captured = Wide(row.captured);
    const std::wstring written = Wide(row.written);
    TestWindow target(Wide(row.title), {700, 150, 1100, 450});
    PointAt(report, velmo, target.hwnd());

    PressKey(VK_ESCAPE);
    WaitFor([&] { return Text(velmo.Text1()) == captured; });
    report.Equal(name + "Escape captures the title into Text1", Text(velmo.Text1()), captured);

    SetText(velmo.Text1(), Wide(row.typed));
    PressKey(VK_RETURN);
    WaitFor([&] { return Text(target.hwnd()) == written; });
    report.Equal(name + "Enter writes Text1 as the title", Text(target.hwnd()), written);
    report.Check(name + "Form1 keeps the keyboard",
                 velmo.Focus() == velmo.Text1() && GetForegroundWindow() == velmo.Form1());
}

void CheckTypicalUse(Report& report, Velmo& velmo) {
    CPINFOEXW code_page{};
    GetCPInfoExW(CP_ACP, 0, &code_page);
    report.Equal("ANSI code page", code_page.CodePage, 932u);
    for (const TypicalUse& row : TypicalUses()) {
        CheckUse(report, velmo, row);
    }
}

// --- A vanished target, mouse clicks, Tab ---------------------------------------------------

// Label1 as Form1 painted it at the start, when no title was kept.
FormProbeAnswer g_label1_at_start{};

// Label1 as Form1 paints it now, told by its pixels: as at the start, or with more ink, which
// is the mark of a kept title.
const std::string kLabel1 = "Label1 as at the start";
const std::string kLabel1Kept = "Label1 with the mark of keeping";

std::string Label1(const Velmo& velmo) {
    FormProbeAnswer seen{};
    if (!velmo.Read(velmo.Form1(), &seen)) {
        return "(no answer)";
    }
    if (seen.label1_hash == g_label1_at_start.label1_hash) {
        return kLabel1;
    }
    return seen.label1_ink > g_label1_at_start.label1_ink ? kLabel1Kept
                                                          : "Label1 painted otherwise";
}

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

    // Shift changes nothing of a click: it writes, and keeps nothing.
    for (const auto& [how, shift, text] : {std::tuple{"a click", false, L"押された"},
                                           {"a Shift+click", true, L"シフトで押された"}}) {
        SetText(velmo.Text1(), text);
        Click(report, velmo, velmo.WriteButton(), shift);
        WaitFor([&] { return Text(velmo.WriteButton()) == text; });
        report.Equal(std::string(how) + " on the write button sets its own caption",
                     Text(velmo.WriteButton()), std::wstring(text));
        report.Equal(std::string(how) + " on the write button shows no mark of keeping",
                     Label1(velmo), kLabel1);
    }

    SetText(velmo.Text1(), L"タブ");  // a title of its own: the write button's differs
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

// --- Titles that stay: Shift+Enter writes and keeps, Shift+Escape gives back ---------------

const RECT kTargetRect = {700, 150, 1100, 450};

struct Key {
    WORD key;  // VK_RETURN or VK_ESCAPE
    bool shift;
    std::wstring typed;  // into Text1 before Enter
    bool writes;         // whether Velmo.exe then writes to the target (a refused write too)
};

// Presses the key on the target under the pointer; once Velmo.exe has written, if it is to.
void Press(TitleWindow& target, const Velmo& velmo, const Key& key) {
    const int before = target.writes();
    if (key.key == VK_RETURN) {
        SetText(velmo.Text1(), key.typed);
    }
    PressKey(key.key, key.shift);
    if (key.writes) {
        WaitFor([&] { return target.writes() > before; });
    }
}

// Returns once Velmo.exe has handled the keys pressed before: the capture key after them has
// filled the emptied Text1.
void Settle(const Velmo& velmo) {
    SetText(velmo.Text1(), L"");
    PressKey(VK_ESCAPE);
    WaitFor([&] { return !Text(velmo.Text1()).empty(); });
}

struct KeepingUse {
    const char* name;
    std::wstring title;  // the target's title before
    bool refuses;        // the target refuses every title from outside
    std::vector<Key> keys;
    std::wstring after;  // its title after them
    bool kept;           // Label1's mark shows, and a title the target sets is written over
};

void CheckKeeping(Report& report, Velmo& velmo) {
    const Key enter_and_keep = {VK_RETURN, true, L"保たれる題名", true};
    const Key give_back = {VK_ESCAPE, true, L"", true};
    // Characters code page 932 cannot hold: Hangul, Latin with accents, an en dash, and one
    // beyond U+FFFF (a surrogate pair).
    const std::wstring unheld = L"한국어 é – \U0001F600 ＡＢＣ";
    const std::vector<KeepingUse> rows = {
        {"Shift+Enter", L"保つ前", false, {enter_and_keep}, L"保たれる題名", true},
        {"a plain write after Shift+Enter",
         L"普通に戻る",
         false,
         {enter_and_keep, {VK_RETURN, false, L"普通の書き込み", true}},
         L"普通の書き込み",
         false},
        {"Shift+Escape after several writes",
         unheld,
         false,
         {{VK_RETURN, false, L"一", true},
          {VK_RETURN, true, L"二", true},
          {VK_RETURN, false, L"三", true},
          give_back},
         unheld,
         false},
        {"Shift+Escape on a window never written to",
         L"手付かず 한",
         false,
         {{VK_ESCAPE, true, L"", false}},
         L"手付かず 한",
         false},
        {"Shift+Enter on a window that refuses the title",
         L"拒む窓",
         true,
         {enter_and_keep},
         L"拒む窓",
         false},
    };
    for (const KeepingUse& row : rows) {
        const std::string name = std::string(row.name) + ": ";
        TitleWindow target(row.title, kTargetRect, row.refuses);
        PointAt(report, velmo, target.hwnd());
        for (const Key& key : row.keys) {
            Press(target, velmo, key);
        }
        Settle(velmo);
        report.Equal(name + "the title after the keys", Text(target.hwnd()), row.after);
        report.Equal(
            name + "writes that reached the window", target.writes(),
            std::count_if(row.keys.begin(), row.keys.end(), [](const Key& k) { return k.writes; }));
        report.Equal(name + "Label1", Label1(velmo), row.kept ? kLabel1Kept : kLabel1);

        // A kept title is written again at the next tick, or once the pace allows: within
        // 350 ms.
        const std::wstring reset = L"アプリが付けた題名";
        const int before = target.writes();
        target.Reset(reset);
        WaitFor([&] { return target.writes() > before; }, row.kept ? 2000 : 800);
        const std::string what = row.kept ? "a title the window sets is written over: "
                                          : "a title the window sets stays: ";
        report.Equal(name + what + "the title", Text(target.hwnd()), row.kept ? row.after : reset);
        report.Equal(name + what + "writes", target.writes() - before, row.kept ? 1 : 0);
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", ms);
    return text;
}

void CheckKeptThroughResets(Report& report, Velmo& velmo) {
    const std::string name = "kept through 3 s of resets every 300 ms: ";
    const std::wstring kept = L"三秒保つ題名";
    TitleWindow target(L"題名を戻す窓", kTargetRect);
    PointAt(report, velmo, target.hwnd());
    Press(target, velmo, {VK_RETURN, true, kept, true});
    target.ResetEvery(300, L"アプリの題名");
    Pump(3000);
    target.ResetEvery(0, L"");
    WaitFor([&] { return Text(target.hwnd()) == kept; }, 1000);
    const std::vector<double>& after = target.overwritten_after_ms();
    report.Check(name + "every reset is written over",
                 target.resets() >= 9 && static_cast<int>(after.size()) == target.resets(),
                 Show(static_cast<long long>(after.size())) + " of " + Show(target.resets()));
    report.Equal(name + "the title at the end", Text(target.hwnd()), kept);
    report.Equal(name + "Label1", Label1(velmo), kLabel1Kept);
    if (!after.empty()) {
        report.Note("a reset of a kept title is written over after " + Ms(Median(after)) +
                    " (median), " + Ms(*std::max_element(after.begin(), after.end())) +
                    " (worst), over " + Show(static_cast<long long>(after.size())) + " resets");
    }
}

void CheckFightingWindow(Report& report, Velmo& velmo) {
    const std::string name = "a window that sets its title 1000 times a second: ";
    TitleWindow fighter(L"戦う窓", kTargetRect);
    PointAt(report, velmo, fighter.hwnd());
    // Processor time over a span of pumping, with no probe of Velmo.exe in it.
    const auto cpu_over = [&](DWORD ms) {
        const double before = velmo.ProcessorMs();
        Pump(ms);
        return velmo.ProcessorMs() - before;
    };
    const double at_rest = cpu_over(2000);
    fighter.ResetEvery(1, L"窓が付ける題名");
    const double unkept = cpu_over(2000);

    Press(fighter, velmo, {VK_RETURN, true, L"保ちたい題名", true});
    const double start = NowMs();
    const int resets_before = fighter.resets();
    const double keeping = cpu_over(2000);
    const bool stopped = WaitFor([&] { return Label1(velmo) == kLabel1; }, 10000);
    const double stopped_after = NowMs() - start;
    const int writes = fighter.writes() - 1;  // the first is Shift+Enter's
    report.Check(name + "keeping stops within a few seconds", stopped && stopped_after < 6000,
                 "after " + Ms(stopped_after));
    report.Check(name + "written again at most four times a second",
                 writes >= 1 && writes <= 4 * stopped_after / 1000 + 1,
                 Show(writes) + " writes in " + Ms(stopped_after));
    const double after_stop = cpu_over(3000);
    report.Equal(name + "no write after keeping stopped", fighter.writes() - 1, writes);
    const double resets_per_s = (fighter.resets() - resets_before) / (NowMs() - start) * 1000;

    // Another window, while the fighter goes on.
    TestWindow other(L"ほかの窓", {700, 500, 1100, 700});
    PointAt(report, velmo, other.hwnd());
    SetText(velmo.Text1(), L"すぐに書ける");
    const double pressed = NowMs();
    PressKey(VK_RETURN);
    const bool written = WaitFor([&] { return Text(other.hwnd()) == L"すぐに書ける"; }, 1000);
    const double written_after = NowMs() - pressed;
    report.Check(name + "another window is written at once", written && written_after < 500,
                 "after " + Ms(written_after));
    fighter.ResetEvery(0, L"");

    report.Note("the fighting window set its title " + Show(std::lround(resets_per_s)) +
                " times a second; keeping stopped after " + Ms(stopped_after) + ", with " +
                Show(writes) + " writes");
    report.Note("Velmo.exe's processor time with the pointer on it: " + Ms(at_rest) +
                " in 2 s while it sets no title, " + Ms(unkept) +
                " in 2 s while it sets its title, before a write; " + Ms(keeping) +
                " in the first 2 s of keeping against it, " + Ms(after_stop) +
                " in 3 s after keeping stopped");
    report.Note("another window was written " + Ms(written_after) + " after Enter");
}

// A kept window that sets its title and then answers no message for a while: keeping's writes
// to it wait kWriteTimeoutMs at most, so Velmo.exe goes on handling keys and ticks. The user's
// own write to it (Enter) is SetWindowTextA, which waits for the window as the system makes it.
void CheckHungWindow(Report& report, Velmo& velmo) {
    const std::string name = "a kept window that hangs: ";
    const std::wstring kept = L"固まる窓に保つ題名";
    HangingWindow hung(L"固まる窓", kTargetRect);
    PointAt(report, velmo, hung.hwnd());
    SetText(velmo.Text1(), kept);
    PressKey(VK_RETURN, true);
    WaitFor([&] { return hung.Title() == kept && Label1(velmo) == kLabel1Kept; });
    report.Check(name + "kept before it hangs",
                 hung.Title() == kept && Label1(velmo) == kLabel1Kept);

    constexpr DWORD kHangMs = 4000;
    const int writes_before = hung.writes();
    hung.SetTitleAndHang(L"固まる前に付けた題名", kHangMs);
    const double hang_start = NowMs();
    // How long Velmo.exe's loop takes to come back to a message posted to it, while keeping
    // meets the hung window at every tick and at its pace.
    double held = 0;
    while (NowMs() - hang_start < 1500) {
        const double posted = NowMs();
        FormProbeAnswer ignored{};
        velmo.Read(velmo.Form1(), &ignored, 10000);
        held = std::max(held, NowMs() - posted);
        Pump(20);
    }
    report.Check(name + "Velmo.exe's loop comes back within 400 ms while it hangs", held < 400,
                 "held up " + Ms(held));
    report.Check(name + "keeping writes to it meanwhile", hung.SentDuringHang() != 0);

    TestWindow other(L"ほかの窓", {700, 500, 1100, 700});
    PointAt(report, velmo, other.hwnd());
    const std::wstring written = L"固まる間に書く";
    SetText(velmo.Text1(), written);
    const double pressed = NowMs();
    PressKey(VK_RETURN);
    const bool done = WaitFor([&] { return Text(other.hwnd()) == written; }, 1000);
    const double enter_ms = NowMs() - pressed;
    report.Check(name + "meanwhile Enter over another window writes it within a second",
                 done && hung.Hanging(),
                 done ? "after the hang ended" : "not written after " + Ms(enter_ms));
    hung.AwaitAnswering();
    Pump(300);
    report.Note("a kept window hanging for " + Ms(kHangMs) + ": Velmo.exe's loop held up " +
                Ms(held) + " at most; Enter over another window wrote it after " + Ms(enter_ms) +
                "; keeping sent it " + Show(hung.sends()) + " writes, the last " +
                Ms(hung.last_sent() - hang_start) + " into the hang; " +
                Show(hung.writes() - writes_before) + " reached it by 300 ms after the hang");

    // The user's own write to a hung window, with the pointer on it before it hangs. Its title
    // stays, so that keeping has nothing to write.
    PointAt(report, velmo, hung.hwnd());
    const std::wstring forced = L"固まった窓に書く";
    SetText(velmo.Text1(), forced);
    constexpr DWORD kSecondHangMs = 3000;
    hung.SetTitleAndHang(hung.Title(), kSecondHangMs);
    const double forced_at = NowMs();
    PressKey(VK_RETURN);
    WaitFor([&] { return hung.SentDuringHang() != 0 || !hung.Hanging(); }, kSecondHangMs + 1000);
    const double sent_after = hung.SentDuringHang() - forced_at;
    FormProbeAnswer after{};
    const bool back = velmo.Read(velmo.Form1(), &after, 20000);
    const double back_after = NowMs() - forced_at;
    const double answered_after = hung.AwaitAnswering() - forced_at;
    WaitFor([&] { return hung.Title() == forced; }, 2000);
    report.Check(name + "Enter on it sends the title while it hangs", sent_after > 0);
    report.Equal(name + "Enter on it writes the title once it answers", hung.Title(), forced);
    report.Check(name + "Velmo.exe runs on", back && velmo.Running());
    report.Note("Enter on a window hanging for " + Ms(kSecondHangMs) + ": the title reached it " +
                Ms(sent_after) + " after the press; Velmo.exe's loop came back after " +
                Ms(back_after) + ", the window answered again after " + Ms(answered_after));
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
    ULONGLONG stack_reserve = 0;  // address space for the main thread's stack
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
        format = {nt->OptionalHeader.Magic, nt->FileHeader.Machine, nt->OptionalHeader.Subsystem,
                  nt->OptionalHeader.SizeOfStackReserve};
        if (format.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC &&
            at + sizeof(IMAGE_NT_HEADERS64) <= read) {
            format.stack_reserve = reinterpret_cast<const IMAGE_NT_HEADERS64*>(head.data() + at)
                                       ->OptionalHeader.SizeOfStackReserve;
        }
    }
    return format;
}

std::string Describe(const PeFormat& f) {
    const char* kind = f.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC   ? "PE32+"
                       : f.magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC ? "PE32"
                                                                  : "not PE";
    return std::string(kind) + " machine " + Show(f.machine) + " subsystem " + Show(f.subsystem);
}

// The processorArchitecture values the embedded manifest names, in order. Read as a data file:
// 32-bit Wine maps no 64-bit executable as an image, not even for its resources.
std::vector<std::string> ManifestArchitectures(const std::wstring& exe) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
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
    report.Equal(of + "the main thread's stack reserve is the linker's default",
                 static_cast<long long>(seen.stack_reserve), 0x200000LL);
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

// --- Form1 above 4 GiB ----------------------------------------------------------------------

// A copy of `exe` whose header reserves `reserve` bytes for the main thread's stack; empty if
// it cannot be made.
std::wstring CopyWithStackReserve(const std::wstring& exe, ULONGLONG reserve) {
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    const std::wstring copy = std::wstring(dir) + L"Velmo-high-stack.exe";
    if (!CopyFileW(exe.c_str(), copy.c_str(), FALSE)) {
        return {};
    }
    HANDLE file = CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS64 nt{};
    DWORD done = 0;
    bool patched =
        file != INVALID_HANDLE_VALUE && ReadFile(file, &dos, sizeof dos, &done, nullptr) &&
        done == sizeof dos &&
        SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(file, &nt, sizeof nt, &done, nullptr) && done == sizeof nt &&
        nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    if (patched) {
        nt.OptionalHeader.SizeOfStackReserve = reserve;
        patched =
            SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            WriteFile(file, &nt, sizeof nt, &done, nullptr) && done == sizeof nt;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return patched ? copy : std::wstring();
}

// Wine gives a 64-bit process its memory below 4 GiB, where a pointer cut to 32 bits still
// works. A copy of Velmo.exe that reserves more stack than lies below 4 GiB has its main
// thread's stack, and Form1 on it, above: there a pointer cut to 32 bits fails at once.
void CheckAbove4GiB(Report& report, const std::wstring& exe) {
    const std::string name = "with a stack reserve of 4.25 GiB: ";
    const std::wstring copy = CopyWithStackReserve(exe, 0x110000000);
    if (!report.Check(name + "a copy of Velmo.exe is made", !copy.empty())) {
        return;
    }
    {
        Velmo velmo(copy);
        FormProbeAnswer seen{};
        const bool read = velmo.Form1() != nullptr && velmo.Read(velmo.Form1(), &seen);
        const auto form_at =
            static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(seen.form));
        report.Check(name + "Form1 lives above 4 GiB, where a pointer cut to 32 bits fails",
                     read && form_at >> 32 != 0, "seen " + Show(static_cast<long long>(form_at)));
        if (read) {
            CheckUse(report, velmo, TypicalUses().front(), name);
        }
        report.Equal(name + "closing ends the process with status 0", velmo.Close(), 0L);
    }
    DeleteFileW(copy.c_str());
}

// --- Window text between UTF-16 and the code pages -------------------------------------------

std::string Hex(const std::optional<std::string>& bytes) {
    if (!bytes) {
        return "(nothing)";
    }
    std::string hex;
    for (const char c : *bytes) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(c));
        hex += (hex.empty() ? "" : " ") + std::string(byte);
    }
    return "[" + hex + "]";
}

std::string ShowWide(const std::optional<std::wstring>& text) {
    return text ? Show(*text) : "(nothing)";
}

void CheckConversions(Report& report) {
    struct Conversion {
        const char* name;
        UINT code_page;
        std::wstring text;                 // Text1's text
        std::optional<std::string> ansi;   // what SetWindowTextA is given
        std::optional<std::wstring> back;  // what a Unicode window then holds
    };
    // No look-alike: the system would otherwise write é as e in 932, ā and Ł as a and L in 1252.
    const std::vector<Conversion> rows = {
        {"932 Japanese", 932, L"無題 - メモ帳", "\x96\xb3\x91\xe8 - \x83\x81\x83\x82\x92\xa0",
         L"無題 - メモ帳"},
        {"932 Hangul, é and ā: the default character", 932, L"한éā", "???", L"???"},
        {"1252 accents and the euro", 1252, L"café €", "caf\xe9 \x80", L"café €"},
        {"1252 ā and Ł: the default character", 1252, L"āŁ", "??", L"??"},
        {"65001 every character, one beyond U+FFFF too", 65001, L"é – 한 😀",
         "\xc3\xa9 \xe2\x80\x93 \xed\x95\x9c \xf0\x9f\x98\x80", L"é – 한 😀"},
        {"65001 a lone surrogate becomes U+FFFD", 65001, L"a\xd800", "a\xef\xbf\xbd", L"a\xfffd"},
        {"65000 (refuses every flag)", 65000, L"é", "+AOk-", L"é"},
        {"932 empty", 932, L"", "", L""},
        {"a code page that does not exist: nothing", 12345, L"abc", std::nullopt, std::nullopt},
    };
    for (const Conversion& row : rows) {
        const std::string name = std::string("conversion ") + row.name + ": ";
        const std::optional<std::string> ansi = WideToAnsi(row.text, row.code_page);
        report.Check(name + "to 8 bits", ansi == row.ansi,
                     "seen " + Hex(ansi) + ", wanted " + Hex(row.ansi));
        const std::optional<std::wstring> back =
            AnsiToWide(row.ansi.value_or("abc"), row.code_page);
        report.Check(name + "back", back == row.back,
                     "seen " + ShowWide(back) + ", wanted " + ShowWide(row.back));
    }

    // The flags: none where the system refuses every flag, else no look-alikes. Each is taken
    // by the system where it has the code page.
    const DWORD no_best_fit = WC_NO_BEST_FIT_CHARS;
    const std::vector<std::pair<UINT, DWORD>> flags = {{932, no_best_fit},
                                                       {1252, no_best_fit},
                                                       {936, no_best_fit},
                                                       {CP_ACP, no_best_fit},
                                                       {57001, no_best_fit},
                                                       {57012, no_best_fit},
                                                       {65001, 0},
                                                       {54936, 0},
                                                       {50220, 0},
                                                       {50221, 0},
                                                       {50222, 0},
                                                       {50225, 0},
                                                       {50227, 0},
                                                       {50229, 0},
                                                       {57002, 0},
                                                       {57006, 0},
                                                       {57011, 0},
                                                       {65000, 0},
                                                       {42, 0}};
    std::vector<std::string> wrong;
    std::vector<std::string> refused;
    for (const auto& [code_page, wanted] : flags) {
        const DWORD chosen = WideToAnsiFlags(code_page);
        if (chosen != wanted) {
            wrong.push_back(Show(code_page) + ": " + Show(chosen));
        }
        if (IsValidCodePage(code_page) && !WideToAnsi(L"abc", code_page)) {
            refused.push_back(Show(code_page));
        }
    }
    report.Equal("conversion flags chosen by code page, the wrong ones", wrong,
                 std::vector<std::string>{});
    report.Equal("conversion flags refused by the system where it has the code page", refused,
                 std::vector<std::string>{});
}

// --- The binding of the eight user32 functions --------------------------------------------

const std::vector<std::string> kBoundByTheFirstTick = {
    "user32 found",          "GetWindowRect found", "SetWindowPos found",  "GetCursorPos found",
    "WindowFromPoint found", "IsWindow found",      "GetWindowTextA found"};

// The first write to another process's window records its title before writing.
std::vector<std::string> BoundByTheFirstWrite() {
    std::vector<std::string> lines = kBoundByTheFirstTick;
    for (const char* line : {"GetWindowThreadProcessId found", "GetWindowTextW found",
                             "SetWindowTextA found", "UpdateWindow found"}) {
        lines.push_back(line);
    }
    return lines;
}

// Writing a kept title again, and giving one back, send UTF-16 with a time limit.
std::vector<std::string> BoundByKeeping() {
    std::vector<std::string> lines = BoundByTheFirstWrite();
    lines.push_back("SendMessageTimeoutW found");
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
            report.Check("Label1 is painted", velmo.Read(velmo.Form1(), &g_label1_at_start) &&
                                                  g_label1_at_start.label1_ink > 0);
            WaitFor([&] { return velmo.Trace().size() >= kBoundByTheFirstTick.size(); });
            report.Equal("functions bound by the first tick", velmo.Trace(), kBoundByTheFirstTick);
            CheckTypicalUse(report, velmo);
            CheckEdges(report, velmo);
            report.Equal("functions bound by the first writes", velmo.Trace(),
                         BoundByTheFirstWrite());
            CheckKeeping(report, velmo);
            CheckKeptThroughResets(report, velmo);
            CheckFightingWindow(report, velmo);
            CheckHungWindow(report, velmo);
            report.Equal("closing ends the process with status 0", velmo.Close(), 0L);
            report.Equal("each function bound once, on first use", velmo.Trace(), BoundByKeeping());
        }
    }
    if (sizeof(void*) == 8) {
        CheckAbove4GiB(report, exe);
    }
    CheckConversions(report);
    CheckExecutable(report, exe, "", true);
    for (int i = 4; i < argc; ++i) {
        CheckExecutable(report, argv[i], "the other build: ", false);
    }
    report.Close();
    std::fclose(out);
    return report.failed == 0 ? 0 : 1;
}
