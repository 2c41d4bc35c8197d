#pragma once

#include "winsys/window_system.h"

// Lifts Form1 above all other windows, shown and not activated, where it already is.
void Form_Load(WindowSystem& windows, HWND Form1);
