#include "tests/wine/harness.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "winsys/user32_text.h"

std::string Utf8(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    std::string out(static_cast<size_t>(size) * 3, '\0');
    out.resize(
        static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(),
                                                static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::string Show(long long value) {
    return std::to_string(value);
}

std::string Show(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Show(const std::wstring& text) {
    if (text.size() > 60) {
        return "\"" + Utf8(text.substr(0, 20)) + "...\" (" + std::to_string(text.size()) +
               " characters)";
    }
    return "\"" + Utf8(text) + "\"";
}

std::string Show(const RECT& r) {
    std::ostringstream s;
    s << r.left << "," << r.top << " " << r.right - r.left << "x" << r.bottom - r.top;
    return s.str();
}

std::string Show(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& line : lines) {
        s += (s.empty() ? "" : ", ") + line;
    }
    return "[" + s + "]";
}

std::string Show(HWND window) {
    char handle[24];
    std::snprintf(handle, sizeof handle, "%p ", static_cast<void*>(window));
    return handle + Show(Text(window));
}

bool Report::Check(const std::string& name, bool ok, const std::string& detail) {
    (ok ? passed_ : failed)++;
    std::fprintf(out_, "%s %s%s%s\n", ok ? "ok" : "FAIL", name.c_str(),
                 ok || detail.empty() ? "" : ": ", ok ? "" : detail.c_str());
    std::fflush(out_);
    return ok;
}

void Report::Note(const std::string& text) {
    std::fprintf(out_, "# %s\n", text.c_str());
    std::fflush(out_);
}

void Report::Close() {
    std::fprintf(out_, "%d passed, %d failed\n", passed_, failed);
    std::fflush(out_);
}

void Pump(DWORD ms) {
    const double end = NowMs() + ms;
    for (double now = NowMs(); now < end; now = NowMs()) {
        double wait = end - now;
        if (const std::optional<double> due = TitleWindow::ResetDue()) {
            wait = std::min(wait, *due - NowMs());
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::ceil(std::max(wait, 0.0))), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

double NowMs() {
    static const double ticks_per_ms = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticks_per_ms;
}

bool AwaitSentMessage(DWORD timeout_ms) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    while ((HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) == 0) {
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

std::wstring Text(HWND window) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 3000, &copied);
    text.resize(copied < length ? copied : length);
    return text;
}

void RegisterTestClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

void SetText(HWND window, const std::wstring& text) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 3000, &ignored);
}

RECT RectIn(HWND parent, HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// --- Velmo -------------------------------------------------------------------------------

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

HWND FindForm1(DWORD process) {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[32] = {};
        GetClassNameW(window, name, 32);
        if (owner == process && std::wstring(name) == L"Vellomar.Form1" &&
            IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

}  // namespace

Velmo::Velmo(const std::wstring& exe) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE write_end = nullptr;
    CreatePipe(&trace_pipe_, &write_end, &inherited, 1 << 16);
    SetHandleInformation(trace_pipe_, HANDLE_FLAG_INHERIT, 0);
    SetEnvironmentVariableW(L"VELLOMAR_TRACE_BINDING", L"1");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = write_end;
    std::wstring command = L"\"" + exe + L"\"";
    const BOOL created = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process_);
    CloseHandle(write_end);
    if (created) {
        WaitFor([&] { return (form1_ = FindForm1(process_.dwProcessId)) != nullptr; }, 10000);
    }
}

Velmo::~Velmo() {
    if (Running()) {
        TerminateProcess(process_.hProcess, 99);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    CloseHandle(trace_pipe_);
}

std::vector<HWND> Velmo::Children() const {
    std::vector<HWND> children;
    EnumChildWindows(form1_, CollectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND Velmo::Child(size_t i) const {
    const std::vector<HWND> children = Children();
    return i < children.size() ? children[i] : nullptr;
}

HWND Velmo::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(process_.dwThreadId, &info);
    return info.hwndFocus;
}

bool Velmo::Running() const {
    return process_.hProcess != nullptr &&
           WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

namespace {

FormProbeAnswer g_probe_answer;
bool g_probe_answered = false;

LRESULT CALLBACK ReceiveProbeAnswer(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (message == WM_COPYDATA && copy->dwData == kFormProbeAnswer &&
        copy->cbData == sizeof g_probe_answer) {
        g_probe_answer = *static_cast<const FormProbeAnswer*>(copy->lpData);
        g_probe_answered = true;
        return TRUE;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND ProbeAnswerReceiver() {
    RegisterTestClass(L"Vellomar.ProbeAnswer", ReceiveProbeAnswer);
    return CreateWindowExW(0, L"Vellomar.ProbeAnswer", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// form_probe.dll lies beside this program.
HMODULE LoadFormProbe() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll = path;
    dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"form_probe.dll";
    return LoadLibraryW(dll.c_str());
}

}  // namespace

bool Velmo::Read(HWND window, FormProbeAnswer* answer, DWORD timeout_ms, HWND titled) const {
    static const HMODULE probe = LoadFormProbe();
    static const HWND receiver = ProbeAnswerReceiver();
    const auto hook = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(probe, kFormProbeHook)));
    HHOOK hooked =
        hook ? SetWindowsHookExW(WH_GETMESSAGE, hook, probe, process_.dwThreadId) : nullptr;
    if (hooked == nullptr) {
        return false;
    }
    g_probe_answered = false;
    PostMessageW(window, RegisterWindowMessageW(kFormProbeMessage),
                 reinterpret_cast<WPARAM>(receiver), reinterpret_cast<LPARAM>(titled));
    const bool answered = WaitFor([] { return g_probe_answered; }, timeout_ms);
    UnhookWindowsHookEx(hooked);
    *answer = g_probe_answer;
    return answered;
}

std::vector<std::string> Velmo::Trace() {
    DWORD available = 0;
    while (PeekNamedPipe(trace_pipe_, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        std::string chunk(available, '\0');
        DWORD read = 0;
        ReadFile(trace_pipe_, chunk.data(), available, &read, nullptr);
        trace_.append(chunk, 0, read);
    }
    std::vector<std::string> lines;
    std::istringstream in(trace_);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

double Velmo::ProcessorMs() const {
    // Velmo.exe does all its work on its one thread. Its times, unlike the process's: Wine
    // answers GetProcessTimes of another process with those of the caller.
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(process_.hThread, &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ms = [](const FILETIME& t) {
        return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 |
                                   t.dwLowDateTime) /
               10000;
    };
    return ms(kernel) + ms(user);
}

long Velmo::Close() {
    PostMessageW(form1_, WM_CLOSE, 0, 0);
    DWORD code = 0;
    if (!WaitFor([&] { return !Running(); }, 5000) ||
        !GetExitCodeProcess(process_.hProcess, &code)) {
        return -1;
    }
    return static_cast<long>(code);
}

// --- Target windows and input ------------------------------------------------------------

// A static control needs no class of our own and keeps whatever title it is given.
TestWindow::TestWindow(const std::wstring& title, RECT rect)
    : hwnd_(CreateWindowExW(0, L"STATIC", title.c_str(), WS_OVERLAPPEDWINDOW, rect.left, rect.top,
                            rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr)) {
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    Pump(100);
}

void TestWindow::Destroy() {
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

namespace {

INPUT Key(WORD virtual_key, bool up) {
    INPUT key = {};
    key.type = INPUT_KEYBOARD;
    key.ki.wVk = virtual_key;
    key.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC));
    key.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return key;
}

// `inputs`, with the Shift key pressed before and released after them if `shift`.
void SendWithShift(std::vector<INPUT> inputs, bool shift) {
    if (shift) {
        inputs.insert(inputs.begin(), Key(VK_SHIFT, false));
        inputs.push_back(Key(VK_SHIFT, true));
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace

void PressKey(WORD virtual_key, bool shift) {
    SendWithShift({Key(virtual_key, false), Key(virtual_key, true)}, shift);
}

void MovePointer(HWND onto) {
    RECT r;
    GetWindowRect(onto, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

void PointAt(Report& report, const Velmo& velmo, HWND window) {
    MovePointer(window);
    FormProbeAnswer seen{};
    if (!WaitFor(
            [&] {
                return velmo.Read(velmo.Form1(), &seen, 3000, window) &&
                       std::string(seen.label2) == seen.title;
            },
            10000)) {
        const auto shown = [](const char* ansi) { return AnsiToWide(ansi, CP_ACP).value_or(L""); };
        report.Equal("a tick makes the window under the pointer the target: Label2 shows its title",
                     shown(seen.label2), shown(seen.title));
    }
}

void Click(Report& report, const Velmo& velmo, HWND window, bool shift) {
    PointAt(report, velmo, window);
    std::vector<INPUT> buttons(2);
    buttons[0].type = buttons[1].type = INPUT_MOUSE;
    buttons[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    buttons[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendWithShift(std::move(buttons), shift);
}

// --- TitleWindow ---------------------------------------------------------------------------

namespace {

constexpr wchar_t kTitleWindowClass[] = L"Vellomar.TitleWindow";

std::vector<TitleWindow*>& Resetting() {
    static std::vector<TitleWindow*> windows;
    return windows;
}

}  // namespace

TitleWindow::TitleWindow(const std::wstring& title, RECT rect, bool refuses) : refuses_(refuses) {
    RegisterTestClass(kTitleWindowClass, WindowProc);
    hwnd_ = CreateWindowExW(0, kTitleWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, rect.left,
                            rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
    Resetting().push_back(this);
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    Pump(100);
}

TitleWindow::~TitleWindow() {
    auto& windows = Resetting();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
    DestroyWindow(hwnd_);
}

void TitleWindow::Reset(const std::wstring& title) {
    ++resets_;
    if (!waiting_since_) {
        waiting_since_ = NowMs();
    }
    SetWindowTextW(hwnd_, title.c_str());
}

void TitleWindow::ResetEvery(double period_ms, const std::wstring& title) {
    period_ms_ = period_ms;
    reset_title_ = title;
    next_reset_ = NowMs() + period_ms;
}

std::optional<double> TitleWindow::ResetDue() {
    std::optional<double> next;
    for (TitleWindow* w : Resetting()) {
        if (w->period_ms_ <= 0) {
            continue;
        }
        const double now = NowMs();
        if (now >= w->next_reset_) {
            w->Reset(w->reset_title_);
            // Late resets are made up for, unless far behind.
            w->next_reset_ = std::max(w->next_reset_ + w->period_ms_, now - 10 * w->period_ms_);
        }
        next = std::min(next.value_or(w->next_reset_), w->next_reset_);
    }
    return next;
}

namespace {

// The object a test window was made for, kept in its user data from WM_NCCREATE on; null before.
template <typename T>
T* Attached(HWND window, UINT message, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace

LRESULT CALLBACK TitleWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = Attached<TitleWindow>(window, message, lparam);
    // A text sent from another thread is Velmo.exe's; this thread sets its own directly.
    if (message == WM_SETTEXT && self != nullptr && InSendMessage()) {
        ++self->writes_;
        if (self->refuses_) {
            return FALSE;
        }
        if (self->waiting_since_) {
            self->overwritten_after_.push_back(NowMs() - *self->waiting_since_);
            self->waiting_since_.reset();
        }
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// --- HangingWindow -------------------------------------------------------------------------

namespace {

constexpr wchar_t kHangingWindowClass[] = L"Vellomar.HangingWindow";
// Posted to the window's thread: set title_, then hang for wParam milliseconds.
constexpr UINT kHangMessage = WM_APP + 1;

}  // namespace

HangingWindow::HangingWindow(const std::wstring& title, RECT rect)
    : ready_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      answering_(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      title_(title),
      rect_(rect) {
    RegisterTestClass(kHangingWindowClass, WindowProc);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &thread_id_);
    WaitForSingleObject(ready_, 10000);
    Pump(100);
}

HangingWindow::~HangingWindow() {
    AwaitAnswering();
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    CloseHandle(answering_);
}

void HangingWindow::SetTitleAndHang(const std::wstring& title, DWORD ms) {
    title_ = title;
    InterlockedExchange(&sends_, 0);
    ResetEvent(answering_);
    PostThreadMessageW(thread_id_, kHangMessage, ms, 0);
    WaitForSingleObject(ready_, 10000);
}

double HangingWindow::SentDuringHang() const {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&sends_), 0, 0) != 0 ? sent_at_
                                                                                      : 0;
}

// Sleeps, looking at the queue without taking anything from it. A message sent with a time
// limit leaves the queue when its sender stops waiting.
void HangingWindow::Hang(DWORD ms) {
    const double end = NowMs() + ms;
    bool waiting = false;
    while (NowMs() < end) {
        const bool sent = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
        if (sent && !waiting) {
            last_sent_at_ = NowMs();
            if (sends_ == 0) {
                sent_at_ = last_sent_at_;
            }
            InterlockedIncrement(&sends_);
        }
        waiting = sent;
        Sleep(5);
    }
    answering_since_ = NowMs();
    SetEvent(answering_);
}

double HangingWindow::AwaitAnswering() {
    WaitForSingleObject(answering_, 30000);
    return answering_since_;
}

std::wstring HangingWindow::Title() const {
    wchar_t title[256] = {};
    InternalGetWindowText(hwnd_, title, 256);
    return title;
}

DWORD WINAPI HangingWindow::Run(void* param) {
    auto* self = static_cast<HangingWindow*>(param);
    const RECT& r = self->rect_;
    self->hwnd_ = CreateWindowExW(0, kHangingWindowClass, self->title_.c_str(), WS_OVERLAPPEDWINDOW,
                                  r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), self);
    ShowWindow(self->hwnd_, SW_SHOWNOACTIVATE);
    SetEvent(self->ready_);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kHangMessage) {
            SetWindowTextW(self->hwnd_, self->title_.c_str());
            SetEvent(self->ready_);
            self->Hang(static_cast<DWORD>(message.wParam));
            continue;
        }
        DispatchMessageW(&message);
    }
    DestroyWindow(self->hwnd_);
    return 0;
}

LRESULT CALLBACK HangingWindow::WindowProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    auto* self = Attached<HangingWindow>(window, message, lparam);
    // A text sent from another thread is Velmo.exe's; the window's own thread sets its own.
    if (message == WM_SETTEXT && self != nullptr && InSendMessage()) {
        InterlockedIncrement(&self->writes_);
    }
    return DefWindowProcW(window, message, wparam, lparam);
}
