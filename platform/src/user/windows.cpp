// Windows on the simulated screen.
//
// There is no window manager: a window is a rectangle on the screen with a procedure, a parent
// and a visibility flag. It has no frame or caption (its client area is the whole window, for
// every style) and owns no pixels: it is painted straight onto the screen by its own WM_ERASEBKGND
// and WM_PAINT (painting.cpp), hiding or destroying it leaves the framebuffer as it is, and
// windows do not clip one another. What a program draws through the window's device context
// lands on the screen at the window's place.
#include "internal/faults.h"
#include "internal/user_internal.h"
#include "common/handle_table.h"
#include "window_classes.h"

#include <platform/host.h>

#include <algorithm>
#include <vector>

namespace platform::user {
namespace {

struct Windows {
    HandleTable<Window> table{kTagWindow};
    HWND desktop = nullptr;
};

Windows& windows() {
    static auto* w = new Windows; // never destroyed: see timers()
    return *w;
}

HWND to_hwnd(std::uintptr_t h) {
    return reinterpret_cast<HWND>(h);
}

RECT screen_rect() {
    const host::DisplayMode mode = host::display_mode();
    return RECT{0, 0, mode.width, mode.height};
}

// A direct call of the window's procedure; the window may be gone when it returns.
LRESULT send(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    const Window* w = find_window(hwnd);
    if (w == nullptr || w->proc == nullptr) {
        return 0;
    }
    const ProgramCall program;
    return w->proc(hwnd, msg, wparam, lparam);
}

std::vector<HWND> windows_with_parent(HWND parent, bool children) {
    std::vector<HWND> out;
    windows().table.for_each([&](std::uintptr_t h, const Window& w) {
        if (w.parent == parent && ((w.style & WS_CHILD) != 0) == children) {
            out.push_back(to_hwnd(h));
        }
    });
    return out;
}

void destroy_window(HWND hwnd);

// Owned popups go first, then the window hears WM_DESTROY, then its children are destroyed
// and last it hears WM_NCDESTROY: the order in which Win32 tears a window down.
void destroy_window(HWND hwnd) {
    Window* w = find_window(hwnd);
    if (w == nullptr || w->destroying) {
        return;
    }
    w->destroying = true;
    w->visible = false;
    for (HWND owned : windows_with_parent(hwnd, false)) {
        destroy_window(owned);
    }
    send(hwnd, WM_DESTROY, 0, 0);
    for (HWND child : windows_with_parent(hwnd, true)) {
        destroy_window(child);
    }
    send(hwnd, WM_NCDESTROY, 0, 0);
    kill_window_timers(hwnd);
    release_window_dcs(hwnd);
    windows().table.remove(hwnd);
}

LRESULT erase_background(HWND hwnd, HDC hdc) {
    const Window* w = find_window(hwnd);
    if (w == nullptr || hdc == nullptr || w->window_class == nullptr ||
        w->window_class->background == nullptr) {
        return 0;
    }
    HBRUSH brush = w->window_class->background;
    const auto value = reinterpret_cast<std::uintptr_t>(brush);
    // A class brush may be a system colour index plus one.
    const bool sys_color = value >= 1 && value <= 31;
    if (sys_color) {
        brush = CreateSolidBrush(GetSysColor(static_cast<int>(value) - 1));
    }
    const RECT client = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    FillRect(hdc, &client, brush);
    if (sys_color) {
        DeleteObject(brush);
    }
    return 1;
}

} // namespace

Window* find_window(HWND hwnd) {
    Window* w = windows().table.get(hwnd);
    if (w != nullptr && w->is_desktop) {
        w->rect = screen_rect(); // follows the display mode
    }
    return w;
}

Window* window_or_error(HWND hwnd) {
    Window* w = find_window(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return w;
}

bool window_visible(HWND hwnd) {
    for (const Window* w = find_window(hwnd); w != nullptr; w = find_window(w->parent)) {
        if (!w->visible) {
            return false;
        }
        if ((w->style & WS_CHILD) == 0) {
            return true;
        }
    }
    return false;
}

bool window_filter_matches(HWND filter, HWND hwnd) {
    if (filter == nullptr) {
        return true;
    }
    if (filter == reinterpret_cast<HWND>(-1)) {
        return hwnd == nullptr;
    }
    for (HWND h = hwnd; h != nullptr;) {
        if (h == filter) {
            return true;
        }
        const Window* w = find_window(h);
        if (w == nullptr || (w->style & WS_CHILD) == 0) {
            return false;
        }
        h = w->parent;
    }
    return false;
}

std::vector<HWND> all_windows() {
    std::vector<HWND> out;
    windows().table.for_each([&](std::uintptr_t h, const Window& w) {
        if (!w.is_desktop) {
            out.push_back(to_hwnd(h));
        }
    });
    return out;
}

HWND first_window(bool (*match)(HWND, const Window&, const void*), const void* context) {
    HWND found = nullptr;
    windows().table.for_each([&](std::uintptr_t h, const Window& w) {
        if (found == nullptr && !w.is_desktop && match(to_hwnd(h), w, context)) {
            found = to_hwnd(h);
        }
    });
    return found;
}

bool class_has_windows(const WindowClass* c) {
    bool found = false;
    windows().table.for_each(
        [&](std::uintptr_t, const Window& w) { found = found || w.window_class == c; });
    return found;
}

} // namespace platform::user

int host::live_windows() {
    using namespace platform::user;
    const std::size_t desktop = windows().desktop != nullptr ? 1 : 0;
    return static_cast<int>(windows().table.live() - desktop);
}

using namespace platform::user;

// CW_USEDEFAULT places a window at the top-left of its parent's client area or of the work area;
// it gives an overlapped window three quarters of the work area, a popup or child no size.
extern "C" HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                       DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                       HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                       LPVOID lpParam) {
    return platform::no_throw<HWND>(nullptr, [&]() -> HWND {
        const WindowClass* cls = find_class(lpClassName, hInstance);
        if (cls == nullptr) {
            SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
            return nullptr;
        }
        const bool child = (dwStyle & WS_CHILD) != 0;
        const Window* parent = hWndParent != nullptr ? window_or_error(hWndParent) : nullptr;
        if (hWndParent != nullptr && (parent == nullptr || parent->destroying)) {
            return nullptr;
        }
        if (child && parent == nullptr) {
            SetLastError(ERROR_TLW_WITH_WSCHILD);
            return nullptr;
        }
        // Win32 keeps the desktop out of ownership: a top-level window's "owner" desktop is none.
        if (!child && parent != nullptr && parent->is_desktop) {
            hWndParent = nullptr;
            parent = nullptr;
        }
        const bool overlapped = (dwStyle & (WS_CHILD | WS_POPUP)) == 0;
        const RECT area = child ? parent->rect : work_area();
        if (X == CW_USEDEFAULT) {
            X = child ? 0 : area.left;
            Y = child ? 0 : area.top;
        }
        if (nWidth == CW_USEDEFAULT) {
            nWidth = overlapped ? (area.right - area.left) * 3 / 4 : 0;
            nHeight = overlapped ? (area.bottom - area.top) * 3 / 4 : 0;
        }
        nWidth = std::max(nWidth, 0);
        nHeight = std::max(nHeight, 0);
        // A child is placed in its parent's client area; everything else on the screen.
        const long long left = static_cast<long long>(X) + (child ? parent->rect.left : 0);
        const long long top = static_cast<long long>(Y) + (child ? parent->rect.top : 0);
        const auto clamp = [](long long v) {
            return static_cast<LONG>(std::clamp<long long>(v, -(1LL << 30), 1LL << 30));
        };

        // The parent may be gone by the time WM_MOVE is sent: keep its origin now.
        const RECT origin = child ? parent->rect : RECT{0, 0, 0, 0};

        auto w = std::make_unique<Window>();
        w->window_class = cls;
        w->proc = cls->proc;
        w->parent = hWndParent;
        w->style = dwStyle & ~static_cast<DWORD>(WS_VISIBLE);
        w->ex_style = dwExStyle;
        w->rect = RECT{clamp(left), clamp(top), clamp(left + nWidth), clamp(top + nHeight)};
        const RECT rect = w->rect;
        HWND hwnd = to_hwnd(windows().table.insert(std::move(w)));
        if (hwnd == nullptr) {
            return nullptr;
        }

        CREATESTRUCTA cs = {};
        cs.lpCreateParams = lpParam;
        cs.hInstance = hInstance;
        cs.hMenu = hMenu;
        cs.hwndParent = hWndParent;
        cs.cx = static_cast<int>(rect.right - rect.left);
        cs.cy = static_cast<int>(rect.bottom - rect.top);
        cs.x = X;
        cs.y = Y;
        cs.style = static_cast<LONG>(dwStyle);
        cs.lpszName = lpWindowName;
        cs.lpszClass = lpClassName;
        cs.dwExStyle = dwExStyle;
        const LPARAM create = reinterpret_cast<LPARAM>(&cs);

        // A procedure that refuses WM_NCCREATE or WM_CREATE fails the creation.
        if (send(hwnd, WM_NCCREATE, 0, create) == 0) {
            if (Window* gone = find_window(hwnd)) {
                gone->destroying = true;
                send(hwnd, WM_NCDESTROY, 0, 0);
                kill_window_timers(hwnd);
                release_window_dcs(hwnd);
                windows().table.remove(hwnd);
            }
            return nullptr;
        }
        if (find_window(hwnd) == nullptr || send(hwnd, WM_CREATE, 0, create) == -1) {
            destroy_window(hwnd);
            return nullptr;
        }
        if (find_window(hwnd) == nullptr) {
            return nullptr;
        }
        send(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cs.cx, cs.cy));
        send(hwnd, WM_MOVE, 0, MAKELPARAM(rect.left - origin.left, rect.top - origin.top));
        if ((dwStyle & WS_VISIBLE) != 0) {
            ShowWindow(hwnd, SW_SHOW);
        }
        return find_window(hwnd) != nullptr ? hwnd : nullptr;
    });
}

extern "C" BOOL WINAPI DestroyWindow(HWND hWnd) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        Window* w = window_or_error(hWnd);
        if (w == nullptr || w->is_desktop) {
            return FALSE;
        }
        // Asked again while its WM_DESTROY runs: the destruction under way goes on.
        if (!w->destroying) {
            destroy_window(hWnd);
        }
        return TRUE;
    });
}

extern "C" BOOL WINAPI IsWindow(HWND hWnd) {
    return find_window(hWnd) != nullptr;
}

extern "C" BOOL WINAPI IsWindowVisible(HWND hWnd) {
    return window_visible(hWnd);
}

extern "C" BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    const Window* w = window_or_error(hWnd);
    if (w == nullptr || lpRect == nullptr) {
        return FALSE;
    }
    *lpRect = w->rect;
    return TRUE;
}

extern "C" BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    const Window* w = window_or_error(hWnd);
    if (w == nullptr || lpRect == nullptr) {
        return FALSE;
    }
    *lpRect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

// Minimizing and maximizing only show the window: there is no window manager to resize it.
extern "C" BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        Window* w = window_or_error(hWnd);
        if (w == nullptr || w->is_desktop) {
            return FALSE;
        }
        const bool was_visible = w->visible;
        const bool show = nCmdShow != SW_HIDE;
        if (show != was_visible) {
            send(hWnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
            if (Window* still = find_window(hWnd)) {
                still->visible = show;
                if (show) {
                    invalidate_shown_window(hWnd);
                }
            }
        }
        return was_visible ? TRUE : FALSE;
    });
}

extern "C" HWND WINAPI GetDesktopWindow(void) {
    Windows& all = windows();
    if (find_window(all.desktop) == nullptr) {
        auto w = std::make_unique<Window>();
        w->is_desktop = true;
        w->visible = true;
        w->proc = DefWindowProcA;
        w->style = WS_POPUP | WS_VISIBLE;
        all.desktop = to_hwnd(all.table.insert(std::move(w)));
    }
    return all.desktop;
}

// The deepest shown window whose rectangle holds the point: a top-level window, then its child
// under the point, and so on; the desktop when no other window is there, NULL off the screen.
// There is no z-order: of overlapping siblings, the one in the table's last slot is taken.
extern "C" HWND WINAPI WindowFromPoint(POINT Point) {
    return platform::no_throw<HWND>(nullptr, [&]() -> HWND {
        HWND found = nullptr;
        for (;;) {
            HWND next = nullptr;
            windows().table.for_each([&](std::uintptr_t h, const Window& w) {
                const bool child = (w.style & WS_CHILD) != 0;
                if (!w.is_desktop && !w.destroying && w.visible && child == (found != nullptr) &&
                    (found == nullptr || w.parent == found) && PtInRect(&w.rect, Point)) {
                    next = to_hwnd(h);
                }
            });
            if (next == nullptr) {
                break;
            }
            found = next;
        }
        if (found == nullptr) {
            const RECT screen = screen_rect();
            return PtInRect(&screen, Point) ? GetDesktopWindow() : nullptr;
        }
        return found;
    });
}

extern "C" LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_ERASEBKGND:
        return erase_background(hWnd, reinterpret_cast<HDC>(wParam));
    case WM_PAINT: {
        // Validates the window, erasing its background first when that is still owed.
        PAINTSTRUCT ps;
        if (BeginPaint(hWnd, &ps) != nullptr) {
            EndPaint(hWnd, &ps);
        }
        return 0;
    }
    default:
        return 0;
    }
}

extern "C" LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return send(hWnd, Msg, wParam, lParam);
}
