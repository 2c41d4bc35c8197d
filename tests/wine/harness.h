// What the Win32 tests share: a report of checks, waiting while this thread's windows keep
// answering, Velmo.exe as a child process, target windows, and input as the user makes it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/wine/form_probe.h"

std::string Utf8(const std::wstring& text);
std::string Show(long long value);
std::string Show(const std::string& text);
std::string Show(const std::wstring& text);
std::string Show(const RECT& r);
std::string Show(const std::vector<std::string>& lines);
std::string Show(HWND window);  // the handle and the window's text
inline bool operator==(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != FALSE;
}

// Counts checks and writes one line for each, "ok NAME" or "FAIL NAME: DETAIL", and at the end
// "N passed, M failed".
class Report {
  public:
    explicit Report(std::FILE* out) : out_(out) {}
    bool Check(const std::string& name, bool ok, const std::string& detail = {});
    template <typename Seen, typename Wanted>
    bool Equal(const std::string& name, const Seen& seen, const Wanted& wanted) {
        return Check(name, seen == wanted, "seen " + Show(seen) + ", wanted " + Show(wanted));
    }
    void Close();
    // A line of figures, "# TEXT", which is no check.
    void Note(const std::string& text);
    int failed = 0;

  private:
    std::FILE* out_;
    int passed_ = 0;
};

// Handles what is sent or posted to this thread's windows (a write from Velmo.exe into one of
// them is a sent WM_SETTEXT) for `ms` milliseconds, and resets the titles of TitleWindows that
// are due.
void Pump(DWORD ms);

// Milliseconds on a steady clock finer than the tick count.
double NowMs();

// Pumps until `done()` holds or `timeout_ms` has passed; returns whether it held.
template <typename Done>
bool WaitFor(Done done, DWORD timeout_ms = 3000) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!done()) {
        if (GetTickCount64() >= end) {
            return false;
        }
        Pump(20);
    }
    return true;
}

// Waits, without answering it, until another thread has sent this thread a message and so
// waits for the answer; false if none came within `timeout_ms`.
bool AwaitSentMessage(DWORD timeout_ms = 3000);

// Registers a window class of this program, painted in the window colour; a second
// registration of the same name changes nothing.
void RegisterTestClass(const wchar_t* name, WNDPROC procedure);

// Any window's text through WM_GETTEXT and WM_SETTEXT, another process's too.
std::wstring Text(HWND window);
void SetText(HWND window, const std::wstring& text);
// A window's rectangle relative to the top-left corner of `parent`'s client area.
RECT RectIn(HWND parent, HWND window);

// Velmo.exe as a child process, with its binding trace (stderr) read through a pipe.
class Velmo {
  public:
    explicit Velmo(const std::wstring& exe);
    ~Velmo();
    Velmo(const Velmo&) = delete;
    Velmo& operator=(const Velmo&) = delete;

    HWND Form1() const { return form1_; }
    // Form1's child windows in their stacking order, which is their tab order: the two Command1
    // buttons, then Text1.
    std::vector<HWND> Children() const;
    HWND WriteButton() const { return Child(0); }
    HWND CaptureButton() const { return Child(1); }
    HWND Text1() const { return Child(2); }
    HWND Focus() const;
    bool Running() const;
    // Reads a window's font and Form1's labels inside Velmo.exe, through form_probe.dll, with
    // the title of `titled` as a tick reads it, once Velmo.exe has handled what was posted to it
    // before; false if no answer came within `timeout_ms`.
    bool Read(HWND window, FormProbeAnswer* answer, DWORD timeout_ms = 3000,
              HWND titled = nullptr) const;
    // The trace lines written so far.
    std::vector<std::string> Trace();
    // The processor time Velmo.exe's thread has used so far, user and kernel, in milliseconds.
    double ProcessorMs() const;
    // Closes Form1 as its close box does; the exit code, or -1 if the process did not end.
    long Close();

  private:
    HWND Child(size_t i) const;

    PROCESS_INFORMATION process_{};
    HANDLE trace_pipe_ = nullptr;
    std::string trace_;
    HWND form1_ = nullptr;
};

// A top-level window of this test with a Unicode title, shown without being activated.
class TestWindow {
  public:
    TestWindow(const std::wstring& title, RECT rect);
    ~TestWindow() { Destroy(); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND hwnd() const { return hwnd_; }
    void Destroy();

  private:
    HWND hwnd_;
};

// A top-level window of this test as an application that sets its own title: it counts what
// Velmo.exe writes to it (WM_SETTEXT sent from another thread), may refuse that (answers FALSE
// and keeps its title, as a window of a process with higher rights stays unchanged), and may
// set its own title again and again while this thread pumps, timing how soon each of those
// resets is written over.
class TitleWindow {
  public:
    TitleWindow(const std::wstring& title, RECT rect, bool refuses = false);
    ~TitleWindow();
    TitleWindow(const TitleWindow&) = delete;
    TitleWindow& operator=(const TitleWindow&) = delete;
    HWND hwnd() const { return hwnd_; }

    // Sets `title` now.
    void Reset(const std::wstring& title);
    // Sets `title` every `period_ms` from now while this thread pumps; 0 stops.
    void ResetEvery(double period_ms, const std::wstring& title);
    int resets() const { return resets_; }
    int writes() const { return writes_; }
    // For each reset that a write followed, the time until the first write after it; a reset
    // made while one waits for its write counts with it.
    const std::vector<double>& overwritten_after_ms() const { return overwritten_after_; }

    // Resets the titles of every TitleWindow that is due; when the next one is due.
    static std::optional<double> ResetDue();

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    bool refuses_;
    int writes_ = 0;
    int resets_ = 0;
    double period_ms_ = 0;
    double next_reset_ = 0;
    std::wstring reset_title_;
    std::optional<double> waiting_since_;  // a reset not yet written over
    std::vector<double> overwritten_after_;
};

// A top-level window of this test on a thread of its own, which can set its own title and then
// answer no message for a while, as an application that hangs. It counts what Velmo.exe writes
// to it.
class HangingWindow {
  public:
    HangingWindow(const std::wstring& title, RECT rect);
    // Waits for a hang to end, then ends the window and its thread.
    ~HangingWindow();
    HangingWindow(const HangingWindow&) = delete;
    HangingWindow& operator=(const HangingWindow&) = delete;
    HWND hwnd() const { return hwnd_; }

    // Sets `title`, then answers nothing for `ms` milliseconds; returns once the title is set.
    void SetTitleAndHang(const std::wstring& title, DWORD ms);
    bool Hanging() const { return WaitForSingleObject(answering_, 0) != WAIT_OBJECT_0; }
    // When, on the clock of NowMs, a message sent to it first waited during the last hang; 0
    // while none has.
    double SentDuringHang() const;
    // How many messages came to wait one after another during the last hang, and when the last
    // came; read once it answers again.
    int sends() const { return sends_; }
    double last_sent() const { return last_sent_at_; }
    // Waits until it answers again; when it did.
    double AwaitAnswering();
    // Its title, read without a message to it.
    std::wstring Title() const;
    int writes() const { return writes_; }

  private:
    static DWORD WINAPI Run(void* self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void Hang(DWORD ms);

    HWND hwnd_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD thread_id_ = 0;
    HANDLE ready_;      // the window exists, or the title of a hang is set
    HANDLE answering_;  // set while it is not hanging
    std::wstring title_;
    RECT rect_;
    double answering_since_ = 0;
    double sent_at_ = 0;
    double last_sent_at_ = 0;
    volatile LONG sends_ = 0;  // sent_at_ holds a time once it is above 0
    volatile LONG writes_ = 0;
};

// Input through SendInput: a key goes to whichever window has the keyboard focus; with `shift`
// the Shift key is held around it.
void PressKey(WORD virtual_key, bool shift = false);
void MovePointer(HWND onto);
// Moves the pointer onto the window and waits until a tick of Timer1 has made it Form1's
// TargetWindow: Label2 then shows its title, which no other window of the check has. If none
// has within 10 s, a failed check names what Label2 showed last.
void PointAt(Report& report, const Velmo& velmo, HWND window);
// Points at the window, then clicks it with the left button, with Shift held if `shift`.
void Click(Report& report, const Velmo& velmo, HWND window, bool shift = false);
