#include "winsys/user32_window_system.h"

namespace {

// The exported names, in the order of User32WindowSystem::Function: the eight operations (the
// 8-bit variants), then the functions of keeping titles.
constexpr std::array<const char*, 11> kExportedNames = {"GetCursorPos",
                                                        "WindowFromPoint",
                                                        "IsWindow",
                                                        "GetWindowTextA",
                                                        "SetWindowTextA",
                                                        "UpdateWindow",
                                                        "GetWindowRect",
                                                        "SetWindowPos",
                                                        "GetWindowTextW",
                                                        "SendMessageTimeoutW",
                                                        "GetWindowThreadProcessId"};

}  // namespace

User32WindowSystem::User32WindowSystem(const char* library, BindObserver observer)
    : library_name_(library), observer_(observer) {
    static_assert(kExportedNames.size() == kFunctionCount);
}

template <typename Fn>
Fn User32WindowSystem::Bound(Function function) {
    if (!tried_[function]) {
        tried_[function] = true;
        if (!library_tried_) {
            library_tried_ = true;
            library_ = LoadLibraryA(library_name_);
            if (observer_ != nullptr) {
                observer_(library_name_, library_ != nullptr);
            }
        }
        if (library_ != nullptr) {
            functions_[function] = GetProcAddress(library_, kExportedNames[function]);
        }
        if (observer_ != nullptr) {
            observer_(kExportedNames[function], functions_[function] != nullptr);
        }
    }
    // FARPROC is a generic function pointer; going through void (*)() says the cast is meant.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(functions_[function]));
}

// A function that cannot be bound answers as a failed call: zero, with its out record zeroed.

BOOL User32WindowSystem::GetCursorPos(POINT* point) {
    if (auto fn = Bound<decltype(&::GetCursorPos)>(kGetCursorPos)) {
        return fn(point);
    }
    *point = {};
    return FALSE;
}

HWND User32WindowSystem::WindowFromPoint(LONG x, LONG y) {
    if (auto fn = Bound<decltype(&::WindowFromPoint)>(kWindowFromPoint)) {
        return fn(POINT{x, y});
    }
    return nullptr;
}

BOOL User32WindowSystem::IsWindow(HWND window) {
    if (auto fn = Bound<decltype(&::IsWindow)>(kIsWindow)) {
        return fn(window);
    }
    return FALSE;
}

int User32WindowSystem::GetWindowTextA(HWND window, char* buffer, int capacity) {
    if (auto fn = Bound<decltype(&::GetWindowTextA)>(kGetWindowTextA)) {
        return fn(window, buffer, capacity);
    }
    if (capacity > 0) {
        buffer[0] = '\0';
    }
    return 0;
}

BOOL User32WindowSystem::SetWindowTextA(HWND window, const char* text) {
    if (auto fn = Bound<decltype(&::SetWindowTextA)>(kSetWindowTextA)) {
        return fn(window, text);
    }
    return FALSE;
}

BOOL User32WindowSystem::UpdateWindow(HWND window) {
    if (auto fn = Bound<decltype(&::UpdateWindow)>(kUpdateWindow)) {
        return fn(window);
    }
    return FALSE;
}

BOOL User32WindowSystem::GetWindowRect(HWND window, RECT* rect) {
    if (auto fn = Bound<decltype(&::GetWindowRect)>(kGetWindowRect)) {
        return fn(window, rect);
    }
    *rect = {};
    return FALSE;
}

BOOL User32WindowSystem::SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                                      UINT flags) {
    if (auto fn = Bound<decltype(&::SetWindowPos)>(kSetWindowPos)) {
        return fn(window, insert_after, x, y, cx, cy, flags);
    }
    return FALSE;
}

int User32WindowSystem::GetWindowTextW(HWND window, wchar_t* buffer, int capacity) {
    if (auto fn = Bound<decltype(&::GetWindowTextW)>(kGetWindowTextW)) {
        return fn(window, buffer, capacity);
    }
    if (capacity > 0) {
        buffer[0] = L'\0';
    }
    return 0;
}

LRESULT User32WindowSystem::SendMessageTimeoutW(HWND window, UINT message, WPARAM wparam,
                                                LPARAM lparam, UINT flags, UINT timeout_ms,
                                                DWORD_PTR* result) {
    if (auto fn = Bound<decltype(&::SendMessageTimeoutW)>(kSendMessageTimeoutW)) {
        return fn(window, message, wparam, lparam, flags, timeout_ms, result);
    }
    if (result != nullptr) {
        *result = 0;
    }
    return 0;
}

DWORD User32WindowSystem::GetWindowThreadProcessId(HWND window, DWORD* process) {
    if (auto fn = Bound<decltype(&::GetWindowThreadProcessId)>(kGetWindowThreadProcessId)) {
        return fn(window, process);
    }
    if (process != nullptr) {
        *process = 0;
    }
    return 0;
}
