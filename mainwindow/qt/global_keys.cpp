#include "mainwindow/qt/global_keys.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

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

}  // namespace

GlobalKeys::GlobalKeys(Display* display, std::vector<Key> keys)
    : display_(display),
      keys_(std::move(keys)),
      grabs_(keys_.size()),
      reported_(keys_.size(), false) {
    GrabAll();
}

GlobalKeys::~GlobalKeys() {
    UngrabAll();
    xcb_flush(XGetXCBConnection(display_));
}

// The grabs each key needs with the modifier map in place now, and the lock modifiers.
std::vector<std::vector<GlobalKeys::Grab>> GlobalKeys::Wanted(unsigned int* all_locks) const {
    std::vector<std::vector<Grab>> wanted(keys_.size());
    *all_locks = 0;
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (map == nullptr) {
        return wanted;
    }
    unsigned int super = ModifierOf(display_, map, XK_Super_L);
    super = super != 0 ? super : Mod4Mask;
    unsigned int alt = ModifierOf(display_, map, XK_Alt_L);
    alt = alt != 0 ? alt : Mod1Mask;
    std::vector<unsigned int> locks;
    for (unsigned int lock :
         {static_cast<unsigned int>(LockMask), ModifierOf(display_, map, XK_Num_Lock),
          ModifierOf(display_, map, XK_Scroll_Lock)}) {
        if (lock != 0 && (lock & (super | alt | *all_locks)) == 0) {
            locks.push_back(lock);
            *all_locks |= lock;
        }
    }
    XFreeModifiermap(map);
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const KeyCode code = XKeysymToKeycode(display_, keys_[i].keysym);
        if (code == 0) {
            continue;
        }
        for (unsigned int set = 0; set < (1u << locks.size()); ++set) {
            unsigned int modifiers = super | alt | (keys_[i].shift ? ShiftMask : 0u);
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
    xcb_connection_t* c = XGetXCBConnection(display_);
    const xcb_window_t root = static_cast<xcb_window_t>(DefaultRootWindow(display_));
    std::vector<std::vector<std::pair<Grab, xcb_void_cookie_t>>> asked(keys_.size());
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        for (const Grab& grab : wanted_[i]) {
            asked[i].push_back(
                {grab, xcb_grab_key_checked(c, 1, root, static_cast<std::uint16_t>(grab.modifiers),
                                            static_cast<xcb_keycode_t>(grab.keycode),
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
        }
    }
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
                xcb_ungrab_key(c, static_cast<xcb_keycode_t>(grab.keycode), root,
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
    xcb_connection_t* c = XGetXCBConnection(display_);
    const xcb_window_t root = static_cast<xcb_window_t>(DefaultRootWindow(display_));
    for (std::vector<Grab>& grabs : grabs_) {
        for (const Grab& grab : grabs) {
            xcb_ungrab_key(c, static_cast<xcb_keycode_t>(grab.keycode), root,
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
                keys_[i].pressed();
                return;
            }
        }
    }
}
