// Device contexts of the screen and of windows.
#include "internal/gdi_internal.h"

extern "C" {

HDC WINAPI GetDC(HWND hWnd) {
    if (hWnd != nullptr) {
        return nullptr; // window contexts arrive with windows
    }
    return platform::gdi::create_screen_dc(nullptr);
}

HDC WINAPI GetWindowDC(HWND hWnd) {
    return GetDC(hWnd);
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
    (void)hWnd;
    return platform::gdi::release_screen_dc(hDC) ? 1 : 0;
}

} // extern "C"
