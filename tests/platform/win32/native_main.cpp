// Test main of the native build: puts the simulated display in the depth the run asks for
// (TALVO_EXPECT_BPP, 32 by default), as Xvfb does for the Wine runs.
#include "platform/host.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    host::DisplayMode mode;
    if (const char* bpp = std::getenv("TALVO_EXPECT_BPP")) {
        mode.bits_per_pixel = std::atoi(bpp);
    }
    if (!host::set_display_mode(mode)) {
        std::fprintf(stderr, "unsupported TALVO_EXPECT_BPP\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
