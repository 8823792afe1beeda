// MessageBoxA: modal, answered by the host's handler or, without one, on standard error.
#include "internal/faults.h"
#include <platform/host.h>

#include <cstdio>
#include <utility>

namespace {

host::MessageBoxHandler& handler() {
    static host::MessageBoxHandler h;
    return h;
}

// Without a handler nobody can press a button: the box is answered with its default button,
// as if the user had pressed Enter (IDOK for a plain MB_OK box). A default button beyond the
// box's buttons falls back to the first, as in Win32.
int default_answer(UINT type) {
    static const int kButtons[][3] = {
        {IDOK, IDOK, IDOK},                 // MB_OK
        {IDOK, IDCANCEL, IDOK},             // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},       // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},            // MB_YESNOCANCEL
        {IDYES, IDNO, IDYES},               // MB_YESNO
        {IDRETRY, IDCANCEL, IDRETRY},       // MB_RETRYCANCEL
        {IDCANCEL, IDTRYAGAIN, IDCONTINUE}, // MB_CANCELTRYCONTINUE
    };
    const UINT kind = type & MB_TYPEMASK;
    if (kind >= sizeof(kButtons) / sizeof(kButtons[0])) {
        return IDOK;
    }
    const UINT button = (type & MB_DEFMASK) >> 8;
    return kButtons[kind][button < 3 ? button : 0];
}

} // namespace

void host::set_message_box_handler(MessageBoxHandler h) {
    handler() = std::move(h);
}

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    return platform::no_throw<int>(0, [&]() -> int {
        const char* text = lpText != nullptr ? lpText : "";
        // Win32 captions an untitled box "Error".
        const char* caption = lpCaption != nullptr ? lpCaption : "Error";
        if (handler()) {
            // A copy, so that a handler may replace itself while it runs.
            host::MessageBoxHandler h = handler();
            const platform::ProgramCall program;
            return h(hWnd, text, caption, uType);
        }
        std::fprintf(stderr, "[%s] %s\n", caption, text);
        return default_answer(uType);
    });
}
