// Keys that reach velmo whichever window holds the keyboard focus: passive grabs on the root
// window, for each key with its modifiers and every combination of the lock modifiers (Caps
// Lock, Num Lock, and whichever modifier Scroll Lock sits on), so that a lit lock key does not
// disable them. They are grabbed again when the keyboard mapping changes and released at the end.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsys/platform.h"

class X11Connection;
typedef union _XEvent XEvent;

// A key as the user reads it: modifiers and a key joined by '+', as in "Super+Alt+Shift+W".
struct KeyName {
    enum Modifier : unsigned { kShift = 1, kControl = 2, kAlt = 4, kSuper = 8 };
    unsigned modifiers = 0;
    std::string key;  // the X keysym's name: "W", "Return", "F5"
    friend bool operator==(const KeyName&, const KeyName&) = default;
};
// Nothing for a name without a key, or with a modifier other than Shift, Control (Ctrl), Alt
// and Super.
std::optional<KeyName> ParseKeyName(std::string_view name);

class GlobalKeys {
  public:
    // Grabs the keys (their names as ParseKeyName reads them) on the root window. A key that
    // another client already holds in any combination goes without, and standard error says so
    // in one line; so does a name that names no key.
    GlobalKeys(X11Connection& x, std::vector<GlobalKey> keys);
    ~GlobalKeys();
    GlobalKeys(const GlobalKeys&) = delete;
    GlobalKeys& operator=(const GlobalKeys&) = delete;

    // Acts on an event: notes a grabbed key pressed, or grabs again for a new keyboard mapping.
    void OnEvent(const XEvent& event);
    // Runs the keys pressed since it last ran, in order.
    void RunPressed();

  private:
    struct Grab {
        unsigned int keycode;
        unsigned int modifiers;
        friend bool operator==(const Grab&, const Grab&) = default;
    };
    std::vector<std::vector<Grab>> Wanted(unsigned int* locks) const;
    void GrabAll();
    void UngrabAll();

    X11Connection& x_;
    std::vector<GlobalKey> keys_;
    std::vector<std::size_t> pressed_;  // keys pressed, not yet run
    std::vector<std::optional<KeyName>> names_;
    std::vector<std::vector<Grab>> wanted_;  // what each key needs
    std::vector<std::vector<Grab>> grabs_;   // what is held for each key
    std::vector<bool> reported_;             // each key's refusal is told once
    unsigned int locks_ = 0;                 // the lock modifiers, ignored in a key's state
};
