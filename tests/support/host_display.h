// The screen and the clock for the native tests that drive the host: a display mode set in one
// call, the library attached again at a depth, the manual clock moved on with what falls due
// dispatched, and message boxes collected instead of shown.
#pragma once

#include <platform/host.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testhost {

// Sets the screen's depth (and size and work area), failing the test when the mode is refused.
inline void SetDepth(int bits, int width = 1024, int height = 768, RECT workArea = {0, 0, 0, 0}) {
    host::DisplayMode mode;
    mode.width = width;
    mode.height = height;
    mode.bits_per_pixel = bits;
    mode.work_area = workArea;
    ASSERT_TRUE(host::set_display_mode(mode));
}

// Detaches the library, sets the depth (0: the default mode) and attaches it again: the library
// decides on its dither palette when it attaches.
inline void AttachAtDepth(int bits) {
    HMODULE library = GetModuleHandleA("TALVO.dll");
    ASSERT_TRUE(FreeLibrary(library));
    if (bits == 0) {
        host::reset_display();
    } else {
        SetDepth(bits);
    }
    ASSERT_EQ(LoadLibraryA("TALVO.dll"), library);
}

// Moves the manual clock on by `ms` and dispatches what fell due.
inline void Pass(DWORD ms) {
    host::advance_clock(ms);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&m);
    }
}

// Message boxes collected instead of shown, for as long as it lives (each answered IDOK).
struct MessageBoxes {
    struct Box {
        HWND owner;
        std::string text, caption;
        UINT type;
    };
    std::vector<Box> shown;

    MessageBoxes() {
        host::set_message_box_handler(
            [this](HWND owner, const char* text, const char* caption, UINT type) {
                shown.push_back({owner, text, caption, type});
                return IDOK;
            });
    }
    ~MessageBoxes() { host::set_message_box_handler(nullptr); }
};

} // namespace testhost
