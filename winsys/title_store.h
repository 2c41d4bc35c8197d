// What a backend offers for keeping titles: reading and writing a window's title in the
// backend's own form, and the notices that a title has changed or a window has ended. The rules
// of keeping are composed with a store at the program's entry; a backend knows nothing of them.
#pragma once

#include <cstddef>

#include "winsys/window_system.h"

// How long a title may be to be kept; a store reads no more than this of a first title.
inline constexpr std::size_t kMaxTitleBytes = 4096;

// Told by a store of what it has seen happen to the windows it was asked to watch.
class TitleNotices {
  public:
    virtual void OnTitleChanged(HWND window) = 0;
    virtual void OnWindowEnded(HWND window) = 0;
    // Every notice the store holds has been passed on: changes may be answered now. Called at
    // least every tick, and only from the backend's Pump, never from the eight operations.
    virtual void AnswerChanges() = 0;

  protected:
    ~TitleNotices() = default;
};

// What a store is to pass on for a window: its end, and its title's changes.
struct Listening {
    bool end = false;
    bool changes = false;
    friend bool operator==(const Listening&, const Listening&) = default;
};

// Titles in the backend's own form `Title`: any value with ==, such as both raw title
// properties with their types, or UTF-16 text.
template <typename Title>
class TitleStore {
  public:
    // The title `window` has now, of at most kMaxTitleBytes; false when the window has gone.
    virtual bool ReadTitle(HWND window, Title* title) = 0;
    // Writes a title without ever waiting on a window that does not answer; false when the
    // write did not take.
    virtual bool WriteTitle(HWND window, const Title& title) = 0;
    // What a window holds once SetWindowTextA has given it `text`; false when that cannot be
    // told, and the text is then not to be written.
    virtual bool TitleOfText(const char* text, Title* title) = 0;
    // The bytes of `title` that count against kMaxTitleBytes.
    virtual std::size_t TitleBytes(const Title& title) const = 0;
    // How many notices of a change one WriteTitle brings back, which are then not taken for
    // the application's.
    virtual int NoticesPerWrite() const = 0;
    // The program's own windows are written as they are and never kept (a kept Text1 would
    // undo its own typing).
    virtual bool IsOwnWindow(HWND window) = 0;
    // From now on, passes on for `window` what `listening` asks for.
    virtual void Listen(HWND window, Listening listening) = 0;
    // Where the notices go; nullptr: nowhere.
    virtual void NotifyTo(TitleNotices* notices) = 0;

  protected:
    ~TitleStore() = default;
};
