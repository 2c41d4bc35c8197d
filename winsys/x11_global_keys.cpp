#include "winsys/x11_global_keys.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "winsys/x11_connection.h"

namespace {

// The modifier bit of the first modifier whose keys include one that produces `keysym`, or 0.
unsigned int ModifierOf(Display* display, const XModifierKeymap* map, KeySym keysym) {
    const KeyCode code = XKeysymToKeycode(display, keysym);
    if (code == 0) {
        return 0;
    }
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            if (map->modifiermap[modifier * map->max_keypermod + k] == code) {
                return 1u << modifier;
            }
        }
    }
    return 0;
}

KeySym KeysymOf(const std::optional<KeyName>& name) {
    return name ? XStringToKeysym(name->key.c_str()) : NoSymbol;
}

}  // namespace

std::optional<KeyName> ParseKeyName(std::string_view name) {
    static constexpr std::pair<std::string_view, unsigned> kModifiers[] = {
        {"Shift", KeyName::kShift},
        {"Control", KeyName::kControl},
        {"Ctrl", KeyName::kControl},
        {"Alt", KeyName::kAlt},
        {"Super", KeyName::kSuper}};
    KeyName parsed;
    for (std::size_t plus = name.find('+'); plus != std::string_view::npos; plus = name.find('+')) {
        const std::string_view part = name.substr(0, plus);
        bool known = false;
        for (const auto& [modifier, bit] : kModifiers) {
            if (part == modifier) {
                parsed.modifiers |= bit;
                known = true;
            }
        }
        if (!known) {
            return std::nullopt;
        }
        name.remove_prefix(plus + 1);
    }
    if (name.empty()) {
        return std::nullopt;
    }
    parsed.key = name;
    return parsed;
}

GlobalKeys::GlobalKeys(X11Connection& x, std::vector<GlobalKey> keys)
    : x_(x), keys_(std::move(keys)), grabs_(keys_.size()), reported_(keys_.size(), false) {
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        names_.push_back(ParseKeyName(keys_[i].name));
        if (KeysymOf(names_.back()) == NoSymbol) {
            std::fprintf(stderr, "velmo: %s names no key; velmo runs on without it\n",
                         keys_[i].name.c_str());
        }
    }
    GrabAll();
}

GlobalKeys::~GlobalKeys() {
    UngrabAll();
    xcb_flush(x_.xcb());
}

// The grabs each key needs with the modifier map in place now, and the lock modifiers.
std::vector<std::vector<GlobalKeys::Grab>> GlobalKeys::Wanted(unsigned int* all_locks) const {
    Display* display = x_.display();
    std::vector<std::vector<Grab>> wanted(keys_.size());
    *all_locks = 0;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return wanted;
    }
    unsigned int super = ModifierOf(display, map, XK_Super_L);
    super = super != 0 ? super : Mod4Mask;
    unsigned int alt = ModifierOf(display, map, XK_Alt_L);
    alt = alt != 0 ? alt : Mod1Mask;
    std::vector<unsigned int> locks;
    for (unsigned int lock :
         {static_cast<unsigned int>(LockMask), ModifierOf(display, map, XK_Num_Lock),
          ModifierOf(display, map, XK_Scroll_Lock)}) {
        if (lock != 0 && (lock & (super | alt | *all_locks)) == 0) {
            locks.push_back(lock);
            *all_locks |= lock;
        }
    }
    XFreeModifiermap(map);
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const KeySym keysym = KeysymOf(names_[i]);
        const KeyCode code = keysym != NoSymbol ? XKeysymToKeycode(display, keysym) : 0;
        if (code == 0) {
            continue;
        }
        const unsigned named = names_[i]->modifiers;
        const unsigned int held = ((named & KeyName::kShift) != 0 ? ShiftMask : 0u) |
                                  ((named & KeyName::kControl) != 0 ? ControlMask : 0u) |
                                  ((named & KeyName::kAlt) != 0 ? alt : 0u) |
                                  ((named & KeyName::kSuper) != 0 ? super : 0u);
        for (unsigned int set = 0; set < (1u << locks.size()); ++set) {
            unsigned int modifiers = held;
            for (std::size_t l = 0; l < locks.size(); ++l) {
                modifiers |= (set & (1u << l)) != 0 ? locks[l] : 0;
            }
            wanted[i].push_back({code, modifiers});
        }
    }
    return wanted;
}

void GlobalKeys::GrabAll() {
    wanted_ = Wanted(&locks_);
    // Every request first, then the answers: one round trip for all of them.
    xcb_connection_t* c = x_.xcb();
    std::vector<std::vector<std::pair<Grab, xcb_void_cookie_t>>> asked(keys_.size());
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        for (const Grab& grab : wanted_[i]) {
            asked[i].push_back(
                {grab,
                 xcb_grab_key_checked(c, 1, x_.root(), static_cast<std::uint16_t>(grab.modifiers),
                                      static_cast<xcb_keycode_t>(grab.keycode), XCB_GRAB_MODE_ASYNC,
                                      XCB_GRAB_MODE_ASYNC)});
        }
    }
    x_.Wait();
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        bool taken = false;
        for (const auto& [grab, cookie] : asked[i]) {
            if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
                taken = true;
                std::free(error);
            } else {
                grabs_[i].push_back(grab);
            }
        }
        if (taken) {
            // Half a key would work only with some lock keys lit: it goes whole or not at all.
            for (const Grab& grab : grabs_[i]) {
                xcb_ungrab_key(c, static_cast<xcb_keycode_t>(grab.keycode), x_.root(),
                               static_cast<std::uint16_t>(grab.modifiers));
            }
            grabs_[i].clear();
            if (!reported_[i]) {
                reported_[i] = true;
                std::fprintf(stderr, "velmo: another program holds %s; velmo runs on without it\n",
                             keys_[i].name.c_str());
            }
        }
    }
    xcb_flush(c);
}

void GlobalKeys::UngrabAll() {
    for (std::vector<Grab>& grabs : grabs_) {
        for (const Grab& grab : grabs) {
            xcb_ungrab_key(x_.xcb(), static_cast<xcb_keycode_t>(grab.keycode), x_.root(),
                           static_cast<std::uint16_t>(grab.modifiers));
        }
        grabs.clear();
    }
    locks_ = 0;
}

void GlobalKeys::OnEvent(const XEvent& event) {
    if (event.type == MappingNotify) {
        XMappingEvent mapping = event.xmapping;
        XRefreshKeyboardMapping(&mapping);
        // The server also tells of a new mapping when another keyboard device takes over, often
        // with the same keys: the grabs are then left alone, as another program could take
        // them while they are released.
        unsigned int locks = 0;
        if ((mapping.request == MappingKeyboard || mapping.request == MappingModifier) &&
            Wanted(&locks) != wanted_) {
            UngrabAll();
            GrabAll();
        }
        return;
    }
    if (event.type != KeyPress) {
        return;
    }
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        for (const Grab& grab : grabs_[i]) {
            if (event.xkey.keycode == grab.keycode &&
                (event.xkey.state & ~locks_) == (grab.modifiers & ~locks_)) {
                pressed_.push_back(i);
                return;
            }
        }
    }
}

void GlobalKeys::RunPressed() {
    for (const std::size_t i : std::exchange(pressed_, {})) {
        keys_[i].pressed();
    }
}
