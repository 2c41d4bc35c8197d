// Moves the pointer of a KWin Wayland session, or presses keys there, through KWin's fake-input
// protocol, as a user's devices would. KWin offers the protocol to any client only when started
// with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
//   kwin_input X Y             moves the pointer to x, y
//   kwin_input key CODE...     presses the keys (Linux input codes) in order, then releases them
//                              in reverse: "key 42 28" is Shift+Enter
//   kwin_input touch X Y       touches the screen at x, y and lifts the finger again: the
//                              session's seat gains a touch device (Xwayland adds one)
//   kwin_input sweep HZ SECONDS X0 Y0 X1 Y1
//                              moves the pointer HZ times a second for SECONDS, to and fro
//                              along the line from x0, y0 to x1, y1, a step each time
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fake-input-client-protocol.h"
#include "sweep.h"

namespace {

org_kde_kwin_fake_input* fake_input = nullptr;
uint32_t fake_input_version = 0;

void Global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 3) {
        fake_input_version = version < 4 ? version : 4;
        fake_input = static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
            registry, name, &org_kde_kwin_fake_input_interface, fake_input_version));
    }
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

}  // namespace

// Moves to and fro between two points, `hz` steps a second, on a steady clock.
void Sweep(wl_display* display, int hz, int seconds, int x0, int y0, int x1, int y1) {
    SweepPointer(hz, seconds, x0, y0, x1, y1, [display](int x, int y) {
        org_kde_kwin_fake_input_pointer_motion_absolute(fake_input, wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
        wl_display_flush(display);
    });
}

int main(int argc, char** argv) {
    const bool keys = argc >= 3 && std::strcmp(argv[1], "key") == 0;
    const bool touch = argc == 4 && std::strcmp(argv[1], "touch") == 0;
    const bool sweep = argc == 8 && std::strcmp(argv[1], "sweep") == 0;
    if (!keys && !touch && !sweep && argc != 3) {
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return 1;
    }
    static const wl_registry_listener listener = {Global, GlobalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
    wl_display_roundtrip(display);
    if (fake_input == nullptr || (keys && fake_input_version < 4)) {
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fake_input, "tests", "drives the session");
    if (keys) {
        std::vector<uint32_t> codes;
        for (int i = 2; i < argc; ++i) {
            codes.push_back(static_cast<uint32_t>(std::atoi(argv[i])));
        }
        for (const uint32_t code : codes) {
            org_kde_kwin_fake_input_keyboard_key(fake_input, code, WL_KEYBOARD_KEY_STATE_PRESSED);
            wl_display_roundtrip(display);
        }
        for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
            org_kde_kwin_fake_input_keyboard_key(fake_input, *it, WL_KEYBOARD_KEY_STATE_RELEASED);
            wl_display_roundtrip(display);
        }
    } else if (sweep) {
        const int hz = std::atoi(argv[2]);
        if (hz <= 0) {
            return 2;
        }
        Sweep(display, hz, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
              std::atoi(argv[6]), std::atoi(argv[7]));
    } else if (touch) {
        org_kde_kwin_fake_input_touch_down(fake_input, 0, wl_fixed_from_int(std::atoi(argv[2])),
                                           wl_fixed_from_int(std::atoi(argv[3])));
        org_kde_kwin_fake_input_touch_frame(fake_input);
        wl_display_roundtrip(display);
        org_kde_kwin_fake_input_touch_up(fake_input, 0);
        org_kde_kwin_fake_input_touch_frame(fake_input);
    } else {
        org_kde_kwin_fake_input_pointer_motion_absolute(fake_input,
                                                        wl_fixed_from_int(std::atoi(argv[1])),
                                                        wl_fixed_from_int(std::atoi(argv[2])));
    }
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
