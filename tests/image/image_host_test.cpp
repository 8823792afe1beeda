// CImage with the host API, at each display depth (native only): strips made from the program's
// own bitmap resources, the delay and the blocking animations timed on the manual clock, the
// palette step seen in the system palette of an 8-bit display, and the live-object counts of every
// drawing operation's paths. (Every creation of every operation made to fail in turn, and what a
// Create leaves behind: in the API fault sweep.)
#include "image/draw_operations.h"
#include "image/strip_host_fixture.h"

#include "fault_sweep.h"

#include "module/dither_palette.h"

#include <platform/host.h>

#include <algorithm>

using namespace drawtest;
using namespace strip_host;
using strip_fixtures::PaletteDisplay;
using strip_fixtures::PixelsOf;
using strip_fixtures::StripProbe;

namespace {

// The library attached again at the depth of the run (with the dither palette on palette
// displays).
class ImageHost : public AtDepth {
protected:
    void TearDown() override {
        host::set_auto_advance(0);
        host::clear_faults();
        AtDepth::TearDown();
    }
};

constexpr int kX = 5;
constexpr int kY = 4;

struct Animation {
    const char* name;
    std::function<int(CImage&, CDC*, CBitmap*, DWORD)> play;
};

const Animation kAnimations[] = {
    {"Animate", [](CImage& s, CDC* dc, CBitmap*, DWORD d) { return s.Animate(dc, kX, kY, d); }},
    {"AnimateTransparent",
     [](CImage& s, CDC* dc, CBitmap*, DWORD d) { return s.AnimateTransparent(dc, kX, kY, d); }},
    {"AnimateTransparentSetBackground",
     [](CImage& s, CDC* dc, CBitmap* bg, DWORD d) {
         return s.AnimateTransparentSetBackground(dc, kX, kY, bg, 1, 2, d);
     }},
};

} // namespace

// With the clock moving a millisecond per reading, an animation of n frames takes at least n
// delays and less than one delay more, also when the tick count wraps during it. One that cannot
// start returns at once.
TEST_P(ImageHost, AnimationsLastTheirFramesTimesTheDelay) {
    StripPicture picture;
    picture.frames = 4;
    BackgroundBitmap background;
    constexpr DWORD kDelay = 100;
    host::set_auto_advance(1);
    for (bool imageList : {false, true}) {
        CImage strip, never;
        ASSERT_TRUE(CreateStrip(strip, picture, false, imageList));
        for (const Animation& a : kAnimations) {
            for (DWORD start : {1000u, 0xFFFFFF00u}) {
                SCOPED_TRACE(::testing::Message()
                             << a.name << (imageList ? ", image list" : ", bitmap") << ", clock at "
                             << start);
                Destination dest;
                host::set_tick_count(start);
                const DWORD before = GetTickCount();
                EXPECT_EQ(a.play(strip, dest.DC(), &background.bitmap, kDelay), 1);
                const DWORD took = GetTickCount() - before;
                EXPECT_GE(took, 4 * kDelay);
                EXPECT_LT(took, 5 * kDelay);

                const DWORD refused = GetTickCount();
                EXPECT_EQ(a.play(never, dest.DC(), &background.bitmap, kDelay), 0);
                EXPECT_LT(GetTickCount() - refused, kDelay);
            }
        }
    }
}

namespace {

bool SystemPaletteHolds(COLORREF colour) {
    HDC screen = GetDC(nullptr);
    PALETTEENTRY entries[256] = {};
    const UINT count = GetSystemPaletteEntries(screen, 0, 256, entries);
    ReleaseDC(nullptr, screen);
    return std::any_of(entries, entries + count, [&](const PALETTEENTRY& e) {
        return RGB(e.peRed, e.peGreen, e.peBlue) == colour;
    });
}

} // namespace

// On a palette display a successful call leaves the dither palette selected in the destination
// and realized: its colours are in the system palette again after the display was reset. A call
// refused by a check does neither. (Every operation takes this one palette step; that each selects
// the palette, and each refusal leaves the stock one, the drawing tests check at every depth.)
TEST_P(ImageHost, ThePaletteStepRealizesTheDitherPalette) {
    if (GetParam() > 8) {
        EXPECT_EQ(g_pDitherPalette, nullptr);
        return;
    }
    ASSERT_NE(g_pDitherPalette, nullptr);
    CImage strip;
    ASSERT_TRUE(CreateStrip(strip, StripPicture(), true, false));
    // A colour of the dither palette that is not one of the display's static colours.
    const RGBQUAD& q = CDitherDib::Win256Palette[14];
    const COLORREF ditherOnly = RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    const host::DisplayMode mode = host::display_mode();
    for (int frame : {1, 3}) { // a frame index equal to the count is refused
        SCOPED_TRACE(frame);
        ASSERT_TRUE(host::set_display_mode(mode)); // static colours only
        ASSERT_FALSE(SystemPaletteHolds(ditherOnly));
        HDC screen = GetDC(nullptr);
        CDC dc;
        dc.Attach(screen);
        EXPECT_EQ(strip.DrawSemiTransparent(&dc, kX, kY, frame) != 0, frame == 1);
        EXPECT_EQ(GetCurrentObject(screen, OBJ_PAL),
                  frame == 1 ? g_pDitherPalette->GetSafeHandle() : GetStockObject(DEFAULT_PALETTE));
        dc.Detach();
        ReleaseDC(nullptr, screen);
        EXPECT_EQ(SystemPaletteHolds(ditherOnly), frame == 1);
    }
}

// Every path of every operation gives back what it made: success, a refusing check, a background
// held by another context, a strip whose Create failed.
TEST_P(ImageHost, NoPathLeaksAnObject) {
    StripPicture picture;
    BackgroundBitmap background;
    for (bool imageList : {false, true}) {
        CImage strip, emptied;
        ASSERT_TRUE(CreateStrip(strip, picture, true, imageList));
        ASSERT_TRUE(CreateStrip(emptied, picture, true, imageList));
        ASSERT_EQ(emptied.Create("no such strip.bmp", 3, kKey, 1, imageList ? 1 : 0), 0);
        Destination dest;
        CDC holder;
        holder.CreateCompatibleDC(nullptr);
        for (const DrawOperation& op : DrawOperations()) {
            SCOPED_TRACE(::testing::Message()
                         << op.name << (imageList ? ", image list" : ", bitmap"));
            CBitmap* bg = &background.bitmap;
            const fault_sweep::LiveCounts before = fault_sweep::LiveCounts::now();
            op.run(strip, dest.DC(), kX, kY, 1, bg);
            op.run(strip, dest.DC(), kX, kY, 3, bg);
            op.run(emptied, dest.DC(), kX, kY, 1, bg);
            HGDIOBJ previous = ::SelectObject(holder, bg->GetSafeHandle());
            op.run(strip, dest.DC(), kX, kY, 1, bg);
            ::SelectObject(holder, previous);
            EXPECT_EQ(fault_sweep::LiveCounts::now(), before);
        }
    }
}

// A resource number of the program's module, a name that is a resource, and a name that is only
// a file all give the same strip; on a palette display a name is only ever a file path. A number
// passed as a name (MAKEINTRESOURCE) is the resource of that number, refused on a palette display.
TEST_P(ImageHost, LoadsFromTheProgramsResourcesAndFiles) {
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        StripProbe byNumber;
        ASSERT_EQ(byNumber.Create(kStripResource, 3, kBlue, 1, mode), 1);
        EXPECT_EQ(byNumber.GetImageSize(), CSize(10, kHeight));
        StripProbe byName;
        EXPECT_EQ(byName.Create(kStripName, 3, kBlue, 1, mode), PaletteDisplay() ? 0 : 1);
        StripProbe byFile;
        ASSERT_EQ(byFile.Create(kStripFile, 3, kBlue, 1, mode), 1);
        StripProbe numberAsName;
        EXPECT_EQ(numberAsName.Create(MAKEINTRESOURCE(kStripResource), 3, kBlue, 1, mode),
                  PaletteDisplay() ? 0 : 1);
        if (mode == 0) {
            const auto pixels = PixelsOf(byNumber.m_pBitmap);
            EXPECT_EQ(PixelsOf(byFile.m_pBitmap), pixels);
            if (!PaletteDisplay()) {
                EXPECT_EQ(PixelsOf(byName.m_pBitmap), pixels);
                EXPECT_EQ(PixelsOf(numberAsName.m_pBitmap), pixels);
            }
        }
        // A resource number is its low 16 bits: 4711 + 65536 names resource 4711.
        StripProbe wide;
        EXPECT_EQ(wide.Create(kStripResource + 0x10000u, 3, kBlue, 0, mode), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, ImageHost, ::testing::Values(32, 16, 8), DepthName);
