// Keys that reach velmo whichever window holds the keyboard focus: passive grabs on the root
// window, for the key with Super and Alt held and every combination of the lock modifiers
// (Caps Lock, Num Lock, and whichever modifier Scroll Lock sits on), so that a lit lock key
// does not disable them. They are grabbed again when the keyboard mapping changes and released
// at exit.
#pragma once

#include <functional>
#include <string>
#include <vector>

typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

class GlobalKeys {
  public:
    struct Key {
        unsigned long keysym;  // pressed with Super and Alt
        std::string name;      // as the user reads it, "Super+Alt+C"
        std::function<void()> pressed;
        bool shift = false;  // Shift held too
    };

    // Grabs the keys on `display`'s root window. A key that another client already holds in
    // any combination goes without, and standard error says so in one line.
    GlobalKeys(Display* display, std::vector<Key> keys);
    ~GlobalKeys();
    GlobalKeys(const GlobalKeys&) = delete;
    GlobalKeys& operator=(const GlobalKeys&) = delete;

    // Acts on an event read from `display`: a grabbed key pressed, or a new keyboard mapping.
    void OnEvent(const XEvent& event);

  private:
    struct Grab {
        unsigned int keycode;
        unsigned int modifiers;
        friend bool operator==(const Grab&, const Grab&) = default;
    };
    std::vector<std::vector<Grab>> Wanted(unsigned int* locks) const;
    void GrabAll();
    void UngrabAll();

    Display* display_;
    std::vector<Key> keys_;
    std::vector<std::vector<Grab>> wanted_;  // what each key needs
    std::vector<std::vector<Grab>> grabs_;   // what is held for each key
    std::vector<bool> reported_;             // each key's refusal is told once
    unsigned int locks_ = 0;                 // the lock modifiers, ignored in a key's state
};
