// Test main of the library's semantic tests in the native build. The library (TALVO.dll) is
// attached when the program starts, at the default 32 bits per pixel; the run's depth comes from
// TALVO_EXPECT_BPP, as Xvfb gives it to the Wine runs, so the display is switched and the library
// freed and loaded again to attach at that depth (creating the dither palette on palette displays).
#include "platform/host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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
