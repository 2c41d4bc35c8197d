#include "mainwindow/qt/x11_frame.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

bool HasProperty(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False,
                           AnyPropertyType, &type, &format, &count, &after, &data);
    if (data != nullptr) {
        XFree(data);
    }
    return status == Success && type != None;
}

}  // namespace

bool IsFramed(Display* display, unsigned long window) {
    auto* old_handler = XSetErrorHandler(IgnoreErrors);
    XWindowAttributes attributes{};
    const bool viewable = XGetWindowAttributes(display, window, &attributes) != 0 &&
                          attributes.map_state == IsViewable;
    const bool framed = viewable && (!HasProperty(display, DefaultRootWindow(display),
                                                  "_NET_SUPPORTING_WM_CHECK") ||
                                     (HasProperty(display, window, "WM_STATE") &&
                                      HasProperty(display, window, "_NET_FRAME_EXTENTS")));
    XSync(display, False);
    XSetErrorHandler(old_handler);
    return framed;
}
