// One window system as the program sees it: the eight operations, a store of titles for
// keeping, the program's own windows, which titles can be written, a source of events with one
// Pump, and keys that reach the program wherever the focus is. The program's entry chooses one
// and nothing else does.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "winsys/own_windows.h"
#include "winsys/title_access.h"
#include "winsys/title_store.h"
#include "winsys/window_system.h"

// Where a backend's events come from, and the one place it acts on them: writing a kept title
// again, keeping a window above, telling that a window is placed, a global key's press. The
// eight operations may read events to answer from fresh state, but never act on them.
class EventSource {
  public:
    // A descriptor that turns readable when events arrive, or -1 when the backend has none and
    // is pumped at each tick.
    virtual int EventDescriptor() const = 0;
    // Acts on what has arrived. The front-end calls it when the descriptor turns readable and
    // before its loop sleeps (at each tick where there is no descriptor); cheap when nothing
    // has happened.
    virtual void Pump() = 0;

  protected:
    ~EventSource() = default;
};

// A key that reaches the program whichever window holds the focus, by the name the user reads
// ("Super+Alt+C"). Pump calls `pressed` when it is pressed.
struct GlobalKey {
    std::string name;
    std::function<void()> pressed;
};

template <typename Title>
class Platform : public WindowSystem,
                 public TitleStore<Title>,
                 public OwnWindows,
                 public TitleAccess,
                 public EventSource {
  public:
    using TitleType = Title;

    // Grabs `keys` where the platform has global keys; a key that cannot be had goes without,
    // and standard error says so in one line.
    virtual void BindGlobalKeys(std::vector<GlobalKey> keys) = 0;
};
