// CImage with the host API (native only): strips made from the program's own bitmap resources at
// each depth, and the delay on the manual clock. (What a Create leaves behind, successful or not,
// is counted by the fault sweeps.)
#include "image/strip_host_fixture.h"

#include <platform/host.h>

#include <gtest/gtest.h>

using strip_fixtures::BusyStrip;
using strip_fixtures::PaletteDisplay;
using strip_fixtures::PixelsOf;
using strip_fixtures::StripProbe;
using namespace strip_host;

// A resource number of the program's module, a name that is a resource, and a name that is only
// a file all give the same strip; on a palette display a name is only ever a file path.
TEST_P(AtDepth, LoadsFromTheProgramsResourcesAndFiles) {
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        StripProbe byNumber;
        ASSERT_EQ(byNumber.Create(kStripResource, 3, kBlue, 1, mode), 1);
        EXPECT_EQ(byNumber.GetImageSize(), CSize(10, kHeight));
        StripProbe byName;
        EXPECT_EQ(byName.Create(kStripName, 3, kBlue, 1, mode), PaletteDisplay() ? 0 : 1);
        StripProbe byFile;
        ASSERT_EQ(byFile.Create(kStripFile, 3, kBlue, 1, mode), 1);
        if (mode == 0) {
            const auto pixels = PixelsOf(byNumber.m_pBitmap);
            EXPECT_EQ(PixelsOf(byFile.m_pBitmap), pixels);
            if (!PaletteDisplay()) {
                EXPECT_EQ(PixelsOf(byName.m_pBitmap), pixels);
            }
        }
        // A resource number is its low 16 bits: 4711 + 65536 names resource 4711.
        StripProbe wide;
        EXPECT_EQ(wide.Create(kStripResource + 0x10000u, 3, kBlue, 0, mode), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, AtDepth, ::testing::Values(32, 16, 8), DepthName);

// The delay spins on the tick count, which moves here only as it is read; the wait ends once the
// unsigned difference from the start reaches the delay, also across the wrap of the count.
TEST(StripDelay, WaitsOnTheTickCountAcrossItsWrap) {
    struct Case {
        DWORD start;
        DWORD delay;
    };
    const Case cases[] = {{1000, 0}, {1000, 25}, {0xFFFFFFF0u, 40}, {0xFFFFFFFFu, 1}};
    host::set_auto_advance(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        host::set_tick_count(c.start);
        StripProbe strip;
        const DWORD before = GetTickCount();
        strip.Delay(c.delay);
        const DWORD waited = GetTickCount() - before;
        EXPECT_GE(waited, c.delay);
        // It stops at the first reading past the delay: the start, the readings, and this one.
        EXPECT_LE(waited, c.delay + 3 * 3);
    }
    host::set_auto_advance(0);
}
