// Whether a window's title can be written at all. Some windows show a title that no request of
// the program can change: a native Wayland window read through the compositor. The front-end
// marks such a target, so that the user does not wait for a write that cannot take.
#pragma once

#include "winsys/window_system.h"

class TitleAccess {
  public:
    // False for a window whose title this program reads but can never write; true for every
    // other handle, 0 and windows that have gone included.
    virtual bool CanWriteTitle(HWND window) = 0;

  protected:
    ~TitleAccess() = default;
};
