// Window classes as the window code sees them.
#pragma once

#include <windows.h>

#include <string>

namespace platform::user {

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HBRUSH background = nullptr;
    UINT style = 0;
};

// The class CreateWindowExA uses for a name or atom, or nullptr.
const WindowClass* find_class(LPCSTR name, HINSTANCE instance);
// True while a window of the class exists (windows.cpp).
bool class_has_windows(const WindowClass* c);

} // namespace platform::user
