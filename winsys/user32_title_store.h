// Titles on Windows as the keeping rules need them: in full as UTF-16, read where the system
// keeps them and written without waiting on a window that does not answer. Windows tells no
// process of another's title changes without a hook, so Pump looks at the titles listened to, at
// every tick.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "winsys/platform.h"
#include "winsys/title_store.h"
#include "winsys/user32_window_system.h"

class User32TitleStore final : public TitleStore<std::wstring>, public EventSource {
  public:
    explicit User32TitleStore(User32WindowSystem& windows) : windows_(windows) {}

    bool ReadTitle(HWND window, std::wstring* title) override;
    bool WriteTitle(HWND window, const std::wstring& title) override;
    // The system converts 8-bit text from the ANSI code page for a Unicode window.
    bool TitleOfText(const char* text, std::wstring* title) override;
    std::size_t TitleBytes(const std::wstring& title) const override {
        return title.size() * sizeof(wchar_t);
    }
    // A write of ours is no notice: a look finds the title it wrote.
    int NoticesPerWrite() const override { return 0; }
    // The windows of this process.
    bool IsOwnWindow(HWND window) override;
    void Listen(HWND window, Listening listening) override;
    void NotifyTo(TitleNotices* notices) override { notices_ = notices; }

    // No descriptor: the front-end pumps at each tick.
    int EventDescriptor() const override { return -1; }
    // Reads the title of every window listened to for changes and tells of those that changed
    // or ended, checks a few more of the others for their end, then has the changes answered.
    void Pump() override;

  private:
    // What is known of a window listened to.
    struct Watch {
        bool changes = false;  // its title is looked at every tick
        std::wstring seen;     // the title last read or written
    };

    bool Read(HWND window, std::wstring* title);
    void Saw(HWND window, const std::wstring& title);

    User32WindowSystem& windows_;
    TitleNotices* notices_ = nullptr;
    std::map<HWND, Watch> watched_;
    HWND checked_last_ = nullptr;  // where the look for ended windows goes on at the next tick
};
