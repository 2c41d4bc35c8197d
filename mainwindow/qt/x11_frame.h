// Whether the window manager has finished placing a new top-level window.
#pragma once

typedef struct _XDisplay Display;

// True once `window` is viewable and, when an EWMH window manager runs, managed by it with its
// frame extents published: from then on the window's outer rectangle is where it will stay.
bool IsFramed(Display* display, unsigned long window);
