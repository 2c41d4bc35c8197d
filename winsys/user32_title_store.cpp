#include "winsys/user32_title_store.h"

#include <optional>
#include <utility>
#include <vector>

#include "winsys/user32_text.h"

namespace {

// Windows listened to for their end only, checked at each tick: all 256 within a few seconds,
// for a few calls a tick.
constexpr std::size_t kEndChecksPerTick = 8;

// How long a write of keeping waits for the window to take the title. Another process's window
// that has not answered by then is not waited for (nor at all, once the system counts it as
// hung): the write has not taken, the title it left is a change, and the keeping rules answer
// it again at their pace, or give up.
constexpr UINT kWriteTimeoutMs = 100;

}  // namespace

void User32TitleStore::Pump() {
    if (notices_ == nullptr) {
        return;
    }
    std::vector<HWND> changed;
    std::vector<HWND> ended;
    for (auto& [window, watch] : watched_) {
        if (!watch.changes) {
            continue;
        }
        std::wstring title;
        if (!Read(window, &title)) {
            ended.push_back(window);
        } else if (title != watch.seen) {
            watch.seen = std::move(title);
            changed.push_back(window);
        }
    }
    // The others in turn, from where the last tick stopped.
    auto it = watched_.upper_bound(checked_last_);
    for (std::size_t n = 0; n < kEndChecksPerTick && n < watched_.size(); ++n, ++it) {
        if (it == watched_.end()) {
            it = watched_.begin();
        }
        checked_last_ = it->first;
        if (!it->second.changes && !windows_.IsWindow(it->first)) {
            ended.push_back(it->first);
        }
    }

    // The rules tell through Listen what they want to hear, which changes watched_: nothing of
    // it is iterated from here on.
    for (const HWND window : ended) {
        notices_->OnWindowEnded(window);
        watched_.erase(window);
    }
    for (const HWND window : changed) {
        notices_->OnTitleChanged(window);
    }
    notices_->AnswerChanges();
}

// At most kMaxTitleBytes of the title; false when the window has gone (GetWindowTextW answers
// 0 for an empty title too). Another process's window is not asked: its title is read where the
// system keeps it, so a window that does not answer holds up nothing.
bool User32TitleStore::Read(HWND window, std::wstring* title) {
    if (!windows_.IsWindow(window)) {
        return false;
    }
    title->assign(kMaxTitleBytes / sizeof(wchar_t) + 1, L'\0');
    const int length =
        windows_.GetWindowTextW(window, title->data(), static_cast<int>(title->size()));
    title->resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return true;
}

bool User32TitleStore::ReadTitle(HWND window, std::wstring* title) {
    if (!Read(window, title)) {
        return false;
    }
    Saw(window, *title);
    return true;
}

bool User32TitleStore::WriteTitle(HWND window, const std::wstring& title) {
    // Seen even when the write did not take: the title it left is then a change, answered at
    // the pace until the rules give up.
    Saw(window, title);
    DWORD_PTR taken = FALSE;
    return windows_.SendMessageTimeoutW(window, WM_SETTEXT, 0,
                                        reinterpret_cast<LPARAM>(title.c_str()), SMTO_ABORTIFHUNG,
                                        kWriteTimeoutMs, &taken) != 0 &&
           taken != FALSE;
}

bool User32TitleStore::TitleOfText(const char* text, std::wstring* title) {
    std::optional<std::wstring> wide = AnsiToWide(text, CP_ACP);
    if (!wide) {
        return false;
    }
    *title = std::move(*wide);
    return true;
}

void User32TitleStore::Listen(HWND window, Listening listening) {
    if (!listening.end) {
        watched_.erase(window);
        return;
    }
    Watch& watch = watched_[window];
    // Looked at from the title it has now: a plain write went past the store.
    if (listening.changes && !watch.changes) {
        Read(window, &watch.seen);
    }
    watch.changes = listening.changes;
}

bool User32TitleStore::IsOwnWindow(HWND window) {
    DWORD process = 0;
    windows_.GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

void User32TitleStore::Saw(HWND window, const std::wstring& title) {
    if (const auto it = watched_.find(window); it != watched_.end()) {
        it->second.seen = title;
    }
}
