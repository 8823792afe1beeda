// Device contexts of the screen and of windows.
//
// A window's context draws on the screen framebuffer with its origin at the window's top-left
// corner. It is clipped to the window, to the window's parent when that clips on the right
// or bottom, and to the screen; the context of a hidden window draws nothing. The clip is
// fixed when the context is obtained, as if the window did not change while it is held.
#include "internal/faults.h"
#include "internal/gdi_internal.h"
#include "internal/user_internal.h"

#include <algorithm>
#include <map>

namespace platform::user {
namespace {

// Contexts handed out for windows, so that destroying a window releases them.
std::map<HDC, HWND>& window_dcs() {
    static std::map<HDC, HWND> dcs;
    return dcs;
}

RECT drawing_area(HWND hwnd) {
    const Window* w = find_window(hwnd);
    RECT area = w->rect;
    if (!window_visible(hwnd)) {
        // Keeps the origin, clips everything.
        return RECT{area.left, area.top, area.left, area.top};
    }
    for (const Window* p = w; (p->style & WS_CHILD) != 0;) {
        p = find_window(p->parent);
        if (p == nullptr) {
            break;
        }
        // Clipping on the left or top would move the origin; those edges are left unclipped.
        area.right = std::max(area.left, std::min(area.right, p->rect.right));
        area.bottom = std::max(area.top, std::min(area.bottom, p->rect.bottom));
    }
    return area;
}

} // namespace

void release_window_dcs(HWND hwnd) {
    auto& dcs = window_dcs();
    for (auto it = dcs.begin(); it != dcs.end();) {
        if (it->second == hwnd) {
            platform::gdi::release_screen_dc(it->first);
            it = dcs.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace platform::user

using namespace platform::user;

extern "C" {

// GetDC(NULL) and the desktop window's context cover the whole screen.
HDC WINAPI GetDC(HWND hWnd) {
    return platform::no_throw<HDC>(nullptr, [&]() -> HDC {
        if (hWnd == nullptr) {
            return platform::gdi::create_screen_dc(nullptr);
        }
        const Window* w = window_or_error(hWnd);
        if (w == nullptr || w->destroying) {
            return nullptr;
        }
        if (w->is_desktop) {
            return platform::gdi::create_screen_dc(nullptr);
        }
        const RECT area = drawing_area(hWnd);
        HDC dc = platform::gdi::create_screen_dc(&area);
        if (dc != nullptr) {
            try {
                window_dcs()[dc] = hWnd;
            } catch (const std::bad_alloc&) {
                platform::gdi::release_screen_dc(dc);
                throw;
            }
        }
        return dc;
    });
}

// Windows have no frame here, so the whole window is its client area.
HDC WINAPI GetWindowDC(HWND hWnd) {
    return platform::no_throw<HDC>(nullptr, [&]() -> HDC { return GetDC(hWnd); });
}

// As in Win32, the context is released whichever window is named with it.
int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
    (void)hWnd;
    window_dcs().erase(hDC);
    if (!platform::gdi::release_screen_dc(hDC)) {
        return 0;
    }
    screen_changed(); // what was drawn through it may now be presented
    return 1;
}

} // extern "C"
