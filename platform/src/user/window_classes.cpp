// Window classes: RegisterClassA, UnregisterClassA and the built-in "STATIC".
#include "internal/faults.h"
#include "window_classes.h"

#include <windows.h>

#include <memory>
#include <strings.h>
#include <vector>

namespace platform::user {
namespace {

// Atoms of registered classes, as Win32 numbers them.
constexpr ATOM kFirstAtom = 0xC000;

// Built-in classes belong to no module of the program.
const HINSTANCE kSystemInstance = reinterpret_cast<HINSTANCE>(~std::uintptr_t{0});

// The static control paints its whole background in WM_PAINT, in the button face colour, and
// leaves WM_ERASEBKGND alone; it has no class brush. Its text is not drawn: this platform has
// no fonts.
LRESULT CALLBACK static_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc == nullptr) {
            return 0;
        }
        RECT client;
        GetClientRect(hwnd, &client);
        HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
        if (face != nullptr) {
            FillRect(dc, &client, face);
            DeleteObject(face);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

struct Classes {
    std::vector<std::unique_ptr<WindowClass>> list;
    ATOM next_atom = kFirstAtom;

    Classes() {
        auto s = std::make_unique<WindowClass>();
        s->name = "STATIC";
        s->atom = next_atom++;
        s->proc = static_proc;
        s->instance = kSystemInstance;
        list.push_back(std::move(s));
    }
};

Classes& classes() {
    static auto* c = new Classes; // never destroyed: see timers()
    return *c;
}

bool same_name(const WindowClass& c, LPCSTR name) {
    if (IS_INTRESOURCE(name)) {
        return c.atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name));
    }
    return strcasecmp(c.name.c_str(), name) == 0;
}

// A null instance stands for the program's own module, as in Win32.
bool same_instance(HINSTANCE a, HINSTANCE b) {
    return a == b || a == nullptr || b == nullptr;
}

} // namespace

const WindowClass* find_class(LPCSTR name, HINSTANCE instance) {
    if (name == nullptr) {
        return nullptr;
    }
    // The module's own class first, then any other class of that name, built-in ones last.
    const WindowClass* fallback = nullptr;
    for (const auto& c : classes().list) {
        if (!same_name(*c, name)) {
            continue;
        }
        if (c->instance != kSystemInstance && same_instance(c->instance, instance)) {
            return c.get();
        }
        if (fallback == nullptr || fallback->instance == kSystemInstance) {
            fallback = c.get();
        }
    }
    return fallback;
}

} // namespace platform::user

using namespace platform::user;

extern "C" ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
    return platform::no_throw<ATOM>(0, [&]() -> ATOM {
        if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr ||
            lpWndClass->lpszClassName == nullptr || IS_INTRESOURCE(lpWndClass->lpszClassName) ||
            lpWndClass->lpszClassName[0] == '\0') {
            return 0;
        }
        Classes& all = classes();
        for (const auto& c : all.list) {
            if (c->instance != kSystemInstance && same_name(*c, lpWndClass->lpszClassName) &&
                same_instance(c->instance, lpWndClass->hInstance)) {
                SetLastError(ERROR_CLASS_ALREADY_EXISTS);
                return 0;
            }
        }
        if (all.next_atom == 0) {
            return 0; // the atom table is full
        }
        auto c = std::make_unique<WindowClass>();
        c->name = lpWndClass->lpszClassName;
        c->atom = all.next_atom++;
        c->proc = lpWndClass->lpfnWndProc;
        c->instance = lpWndClass->hInstance;
        c->background = lpWndClass->hbrBackground;
        c->style = lpWndClass->style;
        const ATOM atom = c->atom;
        all.list.push_back(std::move(c));
        return atom;
    });
}

// Fails for a class that still has windows, as Win32 does, and for the built-in classes.
extern "C" BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
    if (lpClassName == nullptr) {
        return FALSE;
    }
    auto& list = classes().list;
    for (auto it = list.begin(); it != list.end(); ++it) {
        const WindowClass& c = **it;
        if (c.instance == kSystemInstance || !same_name(c, lpClassName) ||
            !same_instance(c.instance, hInstance)) {
            continue;
        }
        if (class_has_windows(&c)) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
        list.erase(it);
        return TRUE;
    }
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
}
