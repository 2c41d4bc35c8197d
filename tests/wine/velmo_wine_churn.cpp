// Velmo.exe under top-level windows that come and go beneath the pointer with hostile titles,
// with Escape and Enter sent to Text1 now and then so that its captures and writes meet
// windows that are going away. Then the write to a window destroyed between the tick and the
// key press, against a window that is not destroyed.
//
// Usage: velmo_wine_churn VELMO.EXE SECONDS REPORT   (exit status 0 when every check passed)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/soak/churn_mix.h"
#include "tests/soak/hostile_titles.h"
#include "tests/wine/harness.h"

namespace {

constexpr wchar_t kChurnClass[] = L"Vellomar.Churn";

// Titles only the wide entry point can carry: broken UTF-16 and characters the ANSI code page
// has no bytes for.
const std::vector<std::wstring>& HostileWideTitles() {
    static const std::vector<std::wstring> titles = {
        std::wstring(L"lone high \xd800 surrogate"),
        std::wstring(L"\xdfff lone low surrogate at the start"),
        std::wstring(L"noncharacters \xfffe\xffff"),
        std::wstring(L"\x202e\x0645\x0631\x062d\x0628\x0627 reversed"),
        std::wstring(L"emoji \xd83d\xde00 and hangul \xd55c"),
        std::wstring(300, L'\x3042'),
    };
    return titles;
}

// The 16 MiB titles are left out: Wine's X11 driver hands every top-level title to the X
// server in one request, which the server refuses above 16 MiB, and Xlib then ends the process
// that set the title (this one, not Velmo.exe).
class Churn {
  public:
    Churn(const Velmo& velmo, unsigned seed)
        : velmo_(velmo), rng_(seed), titles_(HostileTitles(false)) {
        RegisterTestClass(kChurnClass, DefWindowProcW);
        // Stay clear of Form1, which sits near the top left.
        area_ = {560, 40, std::max(760, GetSystemMetrics(SM_CXSCREEN) - 20),
                 std::max(560, GetSystemMetrics(SM_CYSCREEN) - 60)};
    }

    ~Churn() {
        for (HWND w : windows_) {
            DestroyWindow(w);
        }
    }

    void Run(double seconds) {
        const ULONGLONG start = GetTickCount64();
        const ULONGLONG end = start + static_cast<ULONGLONG>(seconds * 1000);
        ULONGLONG next_key = start + 500;
        double due = static_cast<double>(start);
        while (GetTickCount64() < end && velmo_.Running()) {
            ChurnOnce(*this, Pick(1, 100));
            ++changes_;
            if (GetTickCount64() >= next_key) {
                const WPARAM key = Chance(50) ? VK_ESCAPE : VK_RETURN;
                PostMessageW(velmo_.Text1(), WM_KEYDOWN, key, 1);
                PostMessageW(velmo_.Text1(), WM_KEYUP, key, 0xc0000001);
                ++keys_;
                next_key = GetTickCount64() + static_cast<ULONGLONG>(Pick(150, 700));
            }
            // Five milliseconds a change, answering what Velmo.exe sends us meanwhile.
            due += 5;
            const auto now = static_cast<double>(GetTickCount64());
            if (due > now) {
                Pump(static_cast<DWORD>(due - now));
            } else {
                Pump(0);
                due = std::max(due, now - 1000);
            }
        }
    }

    unsigned long changes() const { return changes_; }
    unsigned long keys() const { return keys_; }

  private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }
    HWND Any() {
        return windows_[static_cast<std::size_t>(Pick(0, static_cast<int>(windows_.size()) - 1))];
    }
    // Half of the time the window under the pointer, else any.
    HWND Target() {
        POINT p;
        GetCursorPos(&p);
        HWND under = WindowFromPoint(p);
        if (Chance(50) && std::find(windows_.begin(), windows_.end(), under) != windows_.end()) {
            return under;
        }
        return Any();
    }

    template <typename C>
    friend void ::ChurnOnce(C& churn, int roll);
    std::size_t Count() const { return windows_.size(); }
    void ShowOrHide(HWND w) { ShowWindow(w, IsWindowVisible(w) ? SW_HIDE : SW_SHOWNOACTIVATE); }
    // A Windows title cannot be taken away, only emptied.
    void DropTitle(HWND w) { SetWindowTextW(w, L""); }
    void Move(HWND w) {
        SetWindowPos(w, nullptr, Pick(area_.left, area_.right - 100),
                     Pick(area_.top, area_.bottom - 60), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void Create() {
        POINT p;
        GetCursorPos(&p);
        const int width = Pick(60, 320), height = Pick(40, 220);
        int x = Pick(area_.left, area_.right - width), y = Pick(area_.top, area_.bottom - height);
        if (Chance(50)) {  // appear right under the pointer
            x = std::clamp(static_cast<int>(p.x) - Pick(0, width - 1), static_cast<int>(area_.left),
                           static_cast<int>(area_.right) - width);
            y = std::clamp(static_cast<int>(p.y) - Pick(0, height - 1), static_cast<int>(area_.top),
                           static_cast<int>(area_.bottom) - height);
        }
        const DWORD style = Chance(50) ? WS_OVERLAPPEDWINDOW : WS_POPUP | WS_BORDER;
        HWND w = CreateWindowExW(WS_EX_NOACTIVATE, kChurnClass, L"", style, x, y, width, height,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (w == nullptr) {
            return;
        }
        if (Chance(30)) {  // a control under the pointer is a target of its own
            CreateWindowExW(0, Chance(50) ? L"BUTTON" : L"EDIT", L"child", WS_CHILD | WS_VISIBLE, 0,
                            0, width / 2, height / 2, w, nullptr, GetModuleHandleW(nullptr),
                            nullptr);
        }
        windows_.push_back(w);
        SetTitle(w);
        if (Chance(85)) {
            ShowWindow(w, SW_SHOWNOACTIVATE);
        }
    }

    void Destroy(HWND w) {
        DestroyWindow(w);
        windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
    }

    void SetTitle(HWND w) {
        if (Chance(15)) {
            const auto& wide = HostileWideTitles();
            SetWindowTextW(
                w,
                wide[static_cast<std::size_t>(Pick(0, static_cast<int>(wide.size()) - 1))].c_str());
            return;
        }
        for (;;) {
            const HostileTitle& t =
                titles_[static_cast<std::size_t>(Pick(0, static_cast<int>(titles_.size()) - 1))];
            const ULONGLONG now = GetTickCount64();
            // Big titles take a while to store; keep them to a few a second.
            if (t.bytes.size() >= (1u << 20) &&
                now - last_big_ < (t.bytes.size() >= kHugeTitleBytes ? 3000u : 500u)) {
                continue;
            }
            if (t.bytes.size() >= (1u << 20)) {
                last_big_ = now;
            }
            SetWindowTextA(w, t.bytes.c_str());
            return;
        }
    }

    void MovePointer() {
        POINT at{Pick(area_.left, area_.right - 1), Pick(area_.top, area_.bottom - 1)};
        if (!Chance(10)) {
            RECT r;
            if (GetWindowRect(Any(), &r) && r.right > r.left && r.bottom > r.top) {
                at = {Pick(r.left, r.right - 1), Pick(r.top, r.bottom - 1)};
            }
        }
        SetCursorPos(at.x, at.y);
    }

    const Velmo& velmo_;
    std::mt19937 rng_;
    std::vector<HostileTitle> titles_;
    std::vector<HWND> windows_;
    RECT area_{};
    ULONGLONG last_big_ = 0;
    unsigned long changes_ = 0, keys_ = 0;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (IsWindowVisible(window) && std::wstring(name) == L"#32770") {
        *reinterpret_cast<bool*>(found) = true;
    }
    return TRUE;
}

// A crash of any program shows a dialog (unless the crash dialog is turned off, and then the
// process is gone).
bool DialogShown() {
    bool found = false;
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct WriteCase {
    const char* name;
    bool destroy_before_press;
};

// Once a tick has made the window under the pointer the target, the window is destroyed (or
// not) and Enter is posted at once, ahead of the next tick. A window created in between may
// take the destroyed one's slot; it must not receive the write.
void CheckWriteToDestroyedWindow(Report& report, std::FILE* report_file, Velmo& velmo,
                                 const WriteCase& row, int n) {
    const std::wstring marker = L"written " + std::to_wstring(n);
    SetText(velmo.Text1(), marker);
    const std::wstring form1_caption = Text(velmo.Form1());
    auto target = std::make_unique<TestWindow>(L"target", RECT{600, 300, 900, 500});
    PointAt(report, velmo, target->hwnd());
    std::unique_ptr<TestWindow> newcomer;
    if (row.destroy_before_press) {
        const HWND gone = target->hwnd();
        target->Destroy();
        newcomer = std::make_unique<TestWindow>(L"newcomer", RECT{620, 560, 820, 660});
        // A handle cut to its low 16 bits would name the newcomer when it takes the same slot.
        std::fprintf(report_file, "# the newcomer %s the destroyed window's slot\n",
                     LOWORD(reinterpret_cast<UINT_PTR>(newcomer->hwnd())) ==
                             LOWORD(reinterpret_cast<UINT_PTR>(gone))
                         ? "takes"
                         : "does not take");
    }
    PostMessageW(velmo.Text1(), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(velmo.Text1(), WM_KEYUP, VK_RETURN, 0xc0000001);
    FormProbeAnswer handled{};
    velmo.Read(velmo.Form1(), &handled);  // answered once Velmo.exe has handled the keys
    const std::string name = row.name;
    if (row.destroy_before_press) {
        report.Equal(name + ": the window made after it keeps its title", Text(newcomer->hwnd()),
                     L"newcomer");
        report.Equal(name + ": Form1 keeps its caption", Text(velmo.Form1()), form1_caption);
        report.Check(name + ": Velmo.exe still runs", velmo.Running());
    } else {
        report.Equal(name + ": the title becomes Text1", Text(target->hwnd()), marker);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: velmo_wine_churn VELMO.EXE SECONDS REPORT\n", stderr);
        return 2;
    }
    const double seconds = _wtof(argv[2]);
    std::FILE* out = _wfopen(argv[3], L"wb");
    if (out == nullptr) {
        std::fputs("velmo_wine_churn: cannot write the report\n", stderr);
        return 2;
    }
    SetProcessDPIAware();
    Report report(out);
    {
        Velmo velmo(argv[1]);
        if (report.Check("Velmo.exe starts and shows Form1", velmo.Form1() != nullptr)) {
            const unsigned seed = GetTickCount() % 100000;
            {
                Churn churn(velmo, seed);
                churn.Run(seconds);
                std::fprintf(out, "# churn: seed %u, %lu changes, %lu keys in %.0f s\n", seed,
                             churn.changes(), churn.keys(), seconds);
                // A sanity check of the churn itself, far below its aim of 200 a second.
                report.Check("the churn ran", static_cast<double>(churn.changes()) >= 20 * seconds);
            }
            Pump(300);
            report.Check("Velmo.exe is alive after the churn", velmo.Running());
            report.Check("no crash dialog", !DialogShown());
            const WriteCase rows[] = {
                {"write to a live window", false},
                {"write to a window destroyed after the tick", true},
            };
            int n = 0;
            for (const WriteCase& row : rows) {
                CheckWriteToDestroyedWindow(report, out, velmo, row, ++n);
            }
            report.Equal("closing ends the process with status 0", velmo.Close(), 0);
        }
    }
    report.Close();
    std::fclose(out);
    return report.failed == 0 ? 0 : 1;
}
