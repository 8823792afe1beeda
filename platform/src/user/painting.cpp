// The paint cycle: update regions, WM_ERASEBKGND and WM_PAINT, BeginPaint and EndPaint.
//
// As in Win32, invalidating a window only records what needs painting: the background is erased
// when the window is shown, by RDW_ERASENOW, or in BeginPaint; WM_PAINT is sent by UpdateWindow
// and RDW_UPDATENOW, or retrieved by the message loop once no posted message is waiting, and
// comes again until the window is validated. Only shown windows are erased and painted. The
// update region is kept as the rectangle that bounds all that was invalidated, so validating
// part of it validates nothing, and a paint context is clipped to that rectangle.
#include "internal/faults.h"
#include "internal/gdi_internal.h"
#include "internal/user_internal.h"

#include <algorithm>

namespace platform::user {
namespace {

RECT client_rect(const Window& w) {
    return RECT{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top};
}

bool empty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

// Adds a rectangle in client coordinates (null: all of the client area) to the update region.
void invalidate(Window& w, const RECT* rect, bool erase) {
    const RECT client = client_rect(w);
    RECT part = client;
    if (rect != nullptr && !IntersectRect(&part, rect, &client)) {
        return;
    }
    if (empty(part)) {
        return;
    }
    if (w.needs_paint) {
        w.update.left = std::min(w.update.left, part.left);
        w.update.top = std::min(w.update.top, part.top);
        w.update.right = std::max(w.update.right, part.right);
        w.update.bottom = std::max(w.update.bottom, part.bottom);
    } else {
        w.update = part;
        w.needs_paint = true;
    }
    w.needs_erase = w.needs_erase || erase;
}

// Takes a rectangle (null: everything) out of the update region. Only a rectangle that covers
// the whole bounding rectangle can empty it.
void validate(Window& w, const RECT* rect) {
    if (!w.needs_paint) {
        return;
    }
    if (rect == nullptr || (rect->left <= w.update.left && rect->top <= w.update.top &&
                            rect->right >= w.update.right && rect->bottom >= w.update.bottom)) {
        w.needs_paint = false;
        w.needs_erase = false;
        w.update = RECT{0, 0, 0, 0};
    }
}

// A context of the window clipped to its update region (nothing, without one).
HDC update_dc(HWND hwnd, const Window& w) {
    HDC dc = GetDC(hwnd);
    if (dc == nullptr) {
        return nullptr;
    }
    RECT clip = w.needs_paint ? w.update : RECT{0, 0, 0, 0};
    OffsetRect(&clip, w.rect.left, w.rect.top);
    platform::gdi::clip_screen_dc(dc, clip);
    return dc;
}

// Sends WM_ERASEBKGND when the background is owed and the window is shown.
void erase_now(HWND hwnd) {
    Window* w = find_window(hwnd);
    if (w == nullptr || !w->needs_erase || !window_visible(hwnd)) {
        return;
    }
    HDC dc = update_dc(hwnd, *w);
    if (dc == nullptr) {
        return; // still owed
    }
    w->needs_erase = false;
    const LRESULT erased = SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    if (Window* still = find_window(hwnd)) {
        still->erase_left = erased == 0;
    }
    ReleaseDC(hwnd, dc);
}

// Sends WM_PAINT when the window is shown and has something to paint.
void paint_now(HWND hwnd) {
    const Window* w = find_window(hwnd);
    if (w != nullptr && w->needs_paint && window_visible(hwnd)) {
        SendMessageA(hwnd, WM_PAINT, 0, 0);
    }
}

// The windows a call names: one window, or for NULL every shown top-level window.
std::vector<HWND> named_windows(HWND hwnd) {
    if (hwnd != nullptr) {
        return {hwnd};
    }
    std::vector<HWND> out;
    for (HWND h : all_windows()) {
        const Window* w = find_window(h);
        if (w != nullptr && (w->style & WS_CHILD) == 0 && window_visible(h)) {
            out.push_back(h);
        }
    }
    return out;
}

} // namespace

void invalidate_shown_window(HWND hwnd) {
    Window* w = find_window(hwnd);
    if (w == nullptr) {
        return;
    }
    invalidate(*w, nullptr, true);
    erase_now(hwnd);
}

bool take_paint(HWND filter, MSG& out) {
    const auto to_paint = [](HWND hwnd, const Window& w, const void* context) {
        return w.needs_paint && !w.destroying && window_visible(hwnd) &&
               window_filter_matches(*static_cast<const HWND*>(context), hwnd);
    };
    HWND hwnd = first_window(to_paint, &filter);
    if (hwnd == nullptr) {
        return false;
    }
    out = MSG{};
    out.hwnd = hwnd;
    out.message = WM_PAINT;
    out.time = clock_tick_at(clock_elapsed());
    return true;
}

} // namespace platform::user

using namespace platform::user;

extern "C" {

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        // NULL: every window is invalidated and erased before the call returns.
        if (hWnd == nullptr) {
            for (HWND h : named_windows(nullptr)) {
                if (Window* w = find_window(h)) {
                    invalidate(*w, nullptr, true);
                    erase_now(h);
                }
            }
            return TRUE;
        }
        Window* w = window_or_error(hWnd);
        if (w == nullptr) {
            return FALSE;
        }
        invalidate(*w, lpRect, bErase != FALSE);
        return TRUE;
    });
}

BOOL WINAPI ValidateRect(HWND hWnd, const RECT* lpRect) {
    Window* w = window_or_error(hWnd);
    if (w == nullptr) {
        return FALSE;
    }
    validate(*w, lpRect);
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL bErase) {
    const Window* w = window_or_error(hWnd);
    if (w == nullptr) {
        return FALSE;
    }
    if (bErase) {
        erase_now(hWnd);
        w = find_window(hWnd);
        if (w == nullptr) {
            return FALSE;
        }
    }
    if (lpRect != nullptr) {
        *lpRect = w->needs_paint ? w->update : RECT{0, 0, 0, 0};
    }
    return w->needs_paint ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        if (window_or_error(hWnd) == nullptr) {
            return FALSE;
        }
        paint_now(hWnd);
        return TRUE;
    });
}

// Regions are not kept here: a region given stands for the whole client area.
BOOL WINAPI RedrawWindow(HWND hWnd, const RECT* lprcUpdate, HRGN hrgnUpdate, UINT flags) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        if (hWnd != nullptr && window_or_error(hWnd) == nullptr) {
            return FALSE;
        }
        const RECT* rect = hrgnUpdate != nullptr ? nullptr : lprcUpdate;
        for (HWND h : named_windows(hWnd)) {
            if (Window* w = find_window(h)) {
                if (flags & RDW_INVALIDATE) {
                    invalidate(*w, rect, (flags & RDW_ERASE) != 0);
                } else if (flags & RDW_VALIDATE) {
                    validate(*w, rect);
                    if (flags & RDW_NOERASE) {
                        w->needs_erase = false;
                    }
                }
            }
            if (flags & RDW_UPDATENOW) {
                paint_now(h);
            } else if (flags & RDW_ERASENOW) {
                erase_now(h);
            }
        }
        return TRUE;
    });
}

// The context is the window's, clipped to the update region; the window is validated. A
// background still owed is erased first, and fErase tells whether it stayed unerased.
HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    return platform::no_throw<HDC>(nullptr, [&]() -> HDC {
        Window* w = window_or_error(hWnd);
        if (w == nullptr || lpPaint == nullptr) {
            return nullptr;
        }
        HDC dc = update_dc(hWnd, *w);
        if (dc == nullptr) {
            return nullptr;
        }
        const RECT painted = w->needs_paint ? w->update : RECT{0, 0, 0, 0};
        if (w->needs_erase && window_visible(hWnd)) {
            w->needs_erase = false;
            const LRESULT erased =
                SendMessageA(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
            w = find_window(hWnd);
            if (w == nullptr) {
                ReleaseDC(hWnd, dc);
                return nullptr;
            }
            w->erase_left = erased == 0;
        }
        *lpPaint = PAINTSTRUCT{};
        lpPaint->hdc = dc;
        lpPaint->fErase = w->erase_left ? TRUE : FALSE;
        lpPaint->rcPaint = painted;
        w->erase_left = false;
        validate(*w, nullptr);
        return dc;
    });
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint) {
    if (lpPaint != nullptr && lpPaint->hdc != nullptr) {
        ReleaseDC(hWnd, lpPaint->hdc);
    }
    return TRUE;
}

} // extern "C"
