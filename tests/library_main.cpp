// Test main of the library's semantic tests.
//
// Natively the library (TALVO.dll) is attached when the program starts, at the default 32 bits
// per pixel; the run's depth comes from TALVO_EXPECT_BPP, as Xvfb gives it to the Wine runs, so
// the display is switched and the library freed and loaded again to attach at that depth
// (creating the dither palette on palette displays).
//
// Under Wine the display is what the X server gives, and the library attached to it when the
// program started; TALVO_EXPECT_BPP, when set, must name that depth, so that a run meant for a
// palette display cannot pass on another one.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (const char* expected = std::getenv("TALVO_EXPECT_BPP")) {
        HDC screen = GetDC(nullptr);
        const int bpp = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
        ReleaseDC(nullptr, screen);
        if (bpp != std::atoi(expected)) {
            std::fprintf(stderr, "the display has %d bits per pixel, not %s\n", bpp, expected);
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}

#else

#include "platform/host.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    host::DisplayMode mode;
    if (const char* bpp = std::getenv("TALVO_EXPECT_BPP")) {
        mode.bits_per_pixel = std::atoi(bpp);
    }
    HMODULE library = GetModuleHandleA("TALVO.dll");
    if (library == nullptr || !FreeLibrary(library)) {
        std::fprintf(stderr, "TALVO.dll is not attached\n");
        return 2;
    }
    if (!host::set_display_mode(mode)) {
        std::fprintf(stderr, "unsupported TALVO_EXPECT_BPP\n");
        return 2;
    }
    if (LoadLibraryA("TALVO.dll") == nullptr) {
        std::fprintf(stderr, "TALVO.dll does not attach at %d bits per pixel\n",
                     mode.bits_per_pixel);
        return 2;
    }
    return RUN_ALL_TESTS();
}

#endif
