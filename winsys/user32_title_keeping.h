// Titles that stay on Windows, by the keeping rules: the eight operations of a
// User32WindowSystem, with its SetWindowTextA of another process's window as the rules' plain
// write, and titles recorded and kept in full as UTF-16, written again and given back without
// waiting on a window that does not answer.
#pragma once

#include <map>
#include <string>

#include "target/keeping.h"
#include "winsys/user32_window_system.h"
#include "winsys/window_system.h"

class User32TitleKeeping final : public WindowSystem,
                                 public TitleKeeping,
                                 private TitleStore<std::wstring> {
  public:
    explicit User32TitleKeeping(User32WindowSystem& windows) : windows_(windows) {}

    // Those of `windows`. The program's own windows are written as they are and never kept (a
    // kept Text1 would undo its own typing).
    BOOL GetCursorPos(POINT* point) override { return windows_.GetCursorPos(point); }
    HWND WindowFromPoint(LONG x, LONG y) override { return windows_.WindowFromPoint(x, y); }
    BOOL IsWindow(HWND window) override { return windows_.IsWindow(window); }
    int GetWindowTextA(HWND window, char* buffer, int capacity) override {
        return windows_.GetWindowTextA(window, buffer, capacity);
    }
    BOOL SetWindowTextA(HWND window, const char* text) override;
    BOOL UpdateWindow(HWND window) override { return windows_.UpdateWindow(window); }
    BOOL GetWindowRect(HWND window, RECT* rect) override {
        return windows_.GetWindowRect(window, rect);
    }
    BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                      UINT flags) override {
        return windows_.SetWindowPos(window, insert_after, x, y, cx, cy, flags);
    }

    bool KeepTitle(HWND window) override { return keeper_.KeepTitle(window); }
    bool GiveTitleBack(HWND window) override { return keeper_.GiveTitleBack(window); }
    bool IsTitleKept(HWND window) const override { return keeper_.IsTitleKept(window); }

    // The notices of the rules, by looking: reads the title of every kept window and tells of
    // those that changed or ended, checks a few more of the recorded windows for their end,
    // then has the changes answered. Runs at every tick of Timer1.
    void LookAtTitles();

  private:
    // What is known of a window whose first title is recorded.
    struct Watch {
        bool changes = false;  // its title is looked at every tick
        std::wstring seen;     // the title last read or written
    };

    bool ReadTitle(HWND window, std::wstring* title) override;
    bool WriteTitle(HWND window, const std::wstring& title) override;
    std::size_t TitleBytes(const std::wstring& title) const override {
        return title.size() * sizeof(wchar_t);
    }
    // A write of ours is no notice: a look finds the title it wrote.
    int NoticesPerWrite() const override { return 0; }
    void ListeningChanged(HWND window) override;

    bool Read(HWND window, std::wstring* title);
    bool IsOwnWindow(HWND window);
    void Saw(HWND window, const std::wstring& title);

    User32WindowSystem& windows_;
    TitleKeeper<std::wstring> keeper_{*this};
    std::map<HWND, Watch> watched_;
    HWND checked_last_ = nullptr;  // where the look for ended windows goes on at the next tick
};
