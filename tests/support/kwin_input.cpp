// Moves the pointer of a KWin Wayland session to x, y through KWin's fake-input protocol. KWin
// offers the protocol to any client only when started with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>

#include "fake-input-client-protocol.h"

namespace {

org_kde_kwin_fake_input* fake_input = nullptr;

void Global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 3) {
        fake_input = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 3));
    }
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return 1;
    }
    static const wl_registry_listener listener = {Global, GlobalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
    wl_display_roundtrip(display);
    if (fake_input == nullptr) {
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fake_input, "tests", "moves the pointer");
    org_kde_kwin_fake_input_pointer_motion_absolute(
        fake_input, wl_fixed_from_int(std::atoi(argv[1])), wl_fixed_from_int(std::atoi(argv[2])));
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
