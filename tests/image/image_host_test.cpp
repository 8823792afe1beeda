// CImage with the host API (native only): strips made from the program's own bitmap resources,
// every creation and failure at each depth leaking nothing, and the delay on the manual clock.
#include "image/strip_host_fixture.h"

#include "fault_sweep.h"

#include <platform/host.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

using strip_fixtures::BusyStrip;
using strip_fixtures::PaletteDisplay;
using strip_fixtures::ReadPixels;
using strip_fixtures::StripProbe;
using namespace strip_host;
using LiveCounts = fault_sweep::LiveCounts;

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
            const auto pixels =
                ReadPixels(static_cast<HBITMAP>(byNumber.m_pBitmap->GetSafeHandle()));
            EXPECT_EQ(ReadPixels(static_cast<HBITMAP>(byFile.m_pBitmap->GetSafeHandle())), pixels);
            if (!PaletteDisplay()) {
                EXPECT_EQ(ReadPixels(static_cast<HBITMAP>(byName.m_pBitmap->GetSafeHandle())),
                          pixels);
            }
        }
        // A resource number is its low 16 bits: 4711 + 65536 names resource 4711.
        StripProbe wide;
        EXPECT_EQ(wide.Create(kStripResource + 0x10000u, 3, kBlue, 0, mode), 1);
    }
}

// Every way of making a strip, successful or not, in both modes and with and without the
// half-transparent strip, leaves the live counts where they were once the strip is gone.
TEST_P(AtDepth, CreationsAndFailuresLeakNothing) {
    CBitmap ddb;
    ddb.Attach(strip_fixtures::MakeDdb(kWidth, kHeight, BusyStrip(kBlue)));
    CBitmap section;
    section.Attach(strip_fixtures::MakeClientSection(kWidth, kHeight, BusyStrip(kBlue)));
    struct Case {
        const char* name;
        std::function<int(CImage&, int semi, int mode)> create;
    };
    const Case cases[] = {
        {"number", [](CImage& s, int semi,
                      int mode) { return s.Create(kStripResource, 3, kBlue, semi, mode); }},
        {"name",
         [](CImage& s, int semi, int mode) { return s.Create(kStripName, 3, kBlue, semi, mode); }},
        {"file",
         [](CImage& s, int semi, int mode) { return s.Create(kStripFile, 4, kBlue, semi, mode); }},
        {"device bitmap",
         [&](CImage& s, int semi, int mode) { return s.Create(&ddb, 3, kBlue, semi, mode); }},
        {"section",
         [&](CImage& s, int semi, int mode) { return s.Create(&section, 2, kBlue, semi, mode); }},
        {"missing number",
         [](CImage& s, int semi, int mode) { return s.Create(4712u, 3, kBlue, semi, mode); }},
        {"missing file", [](CImage& s, int semi,
                            int mode) { return s.Create("missing.bmp", 3, kBlue, semi, mode); }},
        {"no frames",
         [&](CImage& s, int semi, int mode) { return s.Create(&section, 0, kBlue, semi, mode); }},
    };
    for (const Case& c : cases) {
        for (int semi : {0, 1}) {
            for (int mode : {0, 1}) {
                SCOPED_TRACE(testing::Message() << c.name << " semi " << semi << " mode " << mode);
                const LiveCounts before = LiveCounts::now();
                {
                    StripProbe strip;
                    const int created = c.create(strip, semi, mode);
                    EXPECT_EQ(created == 0, strip.Empty());
                    // A second Create over the first replaces what it makes.
                    c.create(strip, semi, mode);
                    StripProbe copy(strip);
                    copy = strip;
                }
                EXPECT_EQ(LiveCounts::now(), before);
            }
        }
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
