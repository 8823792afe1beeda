// Brushes and fills, logical palettes and the system palette.
#include "platform/win32/gdi_support.h"

#include <gtest/gtest.h>

#include <climits>

using namespace gdi_test;

namespace {

// One row per y with a lone bit that walks right, plus the rightmost bit.
const BYTE kPattern[8 * 2] = {0x81, 0, 0x41, 0, 0x21, 0, 0x11, 0,
                              0x09, 0, 0x05, 0, 0x03, 0, 0x01, 0};
bool pattern_bit(int x, int y) {
    return (kPattern[2 * (y & 7)] >> (7 - (x & 7))) & 1;
}

} // namespace

// A pattern brush tiles from the DC's origin (and its brush origin), not from the rectangle,
// and keeps drawing after its bitmap is gone, however far off the brush origin is. Monochrome
// patterns take the DC's text colour for 0 and background colour for 1.
TEST(GdiBrush, PatternBrushTilesFromTheOrigin) {
    for (POINT org : {POINT{0, 0}, POINT{2, 1}, POINT{INT_MAX, INT_MIN}, POINT{INT_MIN, INT_MAX}}) {
        HBITMAP bits = CreateBitmap(8, 8, 1, 1, kPattern);
        HBRUSH brush = CreatePatternBrush(bits);
        ASSERT_NE(brush, nullptr);
        DeleteObject(bits);
        MemSurface s(20, 16);
        SetTextColor(s.dc, kRed);
        SetBkColor(s.dc, kBlue);
        SetBrushOrgEx(s.dc, org.x, org.y, nullptr);
        RECT r = {3, 2, 13, 11};
        EXPECT_EQ(FillRect(s.dc, &r, brush), 1);
        SCOPED_TRACE(testing::Message() << "origin " << org.x << "," << org.y);
        expect_image(s.dc, 20, 16, [&](int x, int y) {
            if (x < 3 || x >= 13 || y < 2 || y >= 11) {
                return kBlack;
            }
            return pattern_bit(static_cast<int>((x - static_cast<long long>(org.x)) & 7),
                               static_cast<int>((y - static_cast<long long>(org.y)) & 7))
                       ? kBlue
                       : kRed;
        });
        DeleteObject(brush);
    }
}

TEST(GdiBrush, ColourPatternBrushAndMonochromeTarget) {
    MemSurface tile(8, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            SetPixel(tile.dc, x, y, pattern_bit(x, y) ? kBlue : kRed);
        }
    }
    HBRUSH brush = CreatePatternBrush(tile.bmp);
    MemSurface s(16, 16);
    RECT all = {0, 0, 16, 16};
    FillRect(s.dc, &all, brush);
    expect_image(s.dc, 16, 16, [](int x, int y) { return pattern_bit(x, y) ? kBlue : kRed; });
    DeleteObject(brush);

    // A monochrome pattern on a monochrome bitmap is copied bit for bit.
    HBITMAP bits = CreateBitmap(8, 8, 1, 1, kPattern);
    brush = CreatePatternBrush(bits);
    DeleteObject(bits);
    MemSurface m(16, 8, true);
    FillRect(m.dc, &all, brush);
    expect_image(m.dc, 16, 8, [](int x, int y) { return pattern_bit(x, y) ? kWhite : kBlack; });
    DeleteObject(brush);
}

// A fill covers left to right - 1 and top to bottom - 1; an inverted rectangle fills like a
// negative extent, from the right edge back (x 6 to 10 for 10 to 5).
TEST(GdiBrush, FillsExcludeTheRightAndBottomEdges) {
    MemSurface s(12, 8);
    HBRUSH red = CreateSolidBrush(kRed);
    struct Case {
        RECT r;
        int x0, x1, y0, y1; // the pixels filled, last ones included
    };
    for (const Case& c : {Case{{1, 2, 4, 6}, 1, 3, 2, 5}, Case{{10, 2, 5, 3}, 6, 10, 2, 2}}) {
        PatBlt(s.dc, 0, 0, 12, 8, BLACKNESS);
        EXPECT_EQ(FillRect(s.dc, &c.r, red), 1);
        SCOPED_TRACE(testing::Message() << "rectangle from x " << c.r.left);
        expect_image(s.dc, 12, 8, [&](int x, int y) {
            return x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1 ? kRed : kBlack;
        });
    }
    // Stock brushes fill too.
    RECT one = {0, 0, 1, 1};
    EXPECT_EQ(FillRect(s.dc, &one, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 1);
    EXPECT_EQ(GetPixel(s.dc, 0, 0), RGB(255, 255, 255));
    DeleteObject(red);
#ifndef _WIN32
    // A stale brush or a missing rectangle fails here (Windows faults on the latter).
    EXPECT_EQ(FillRect(s.dc, &one, red), 0);
    EXPECT_EQ(FillRect(s.dc, nullptr, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 0);
#endif
    LOGBRUSH lb = {BS_SOLID, kBlue, 0};
    HBRUSH blue = CreateBrushIndirect(&lb);
    ASSERT_NE(blue, nullptr);
    EXPECT_EQ(FillRect(s.dc, &one, blue), 1);
    EXPECT_EQ(GetPixel(s.dc, 0, 0), kBlue);
    DeleteObject(blue);
}

// FillSolidRect's way: the background colour and an opaque text-out rectangle.
TEST(GdiBrush, OpaqueTextOutFillsWithTheBackgroundColour) {
    MemSurface s(8, 8);
    SetBkColor(s.dc, kBlue);
    RECT r = {2, 2, 5, 4};
    EXPECT_TRUE(ExtTextOutA(s.dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr));
    expect_pixels(s.dc, {{2, 2, kBlue}, {4, 3, kBlue}, {5, 3, kBlack}, {4, 4, kBlack}});
    EXPECT_EQ(GetBkColor(s.dc), kBlue);
}

TEST(GdiPalette, EntriesAndNearestIndex) {
    HPALETTE pal = palette({{10, 20, 30, 0}, {200, 100, 50, 0}, {0, 0, 255, 0}});
    ASSERT_NE(pal, nullptr);
    // (Its type and its record through GetObjectA: the MFC wrapper tests.)
    EXPECT_EQ(GetPaletteEntries(pal, 0, 0, nullptr), 3u);
    PALETTEENTRY out[4] = {};
    EXPECT_EQ(GetPaletteEntries(pal, 1, 4, out), 2u);
    EXPECT_EQ(out[0].peRed, 200);
    EXPECT_EQ(out[1].peBlue, 255);
    EXPECT_EQ(GetPaletteEntries(pal, 3, 1, out), 0u);
    EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(190, 90, 60)), 1u);
    EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(0, 0, 0)), 0u);
    const PALETTEENTRY green = {0, 255, 0, 0};
    EXPECT_EQ(SetPaletteEntries(pal, 2, 5, &green), 1u);
    EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(0, 250, 0)), 2u);
    EXPECT_EQ(SetPaletteEntries(pal, 3, 1, &green), 0u);

    HDC mem = CreateCompatibleDC(nullptr);
    EXPECT_EQ(SelectObject(mem, pal), nullptr); // palettes go through SelectPalette
    HPALETTE old = SelectPalette(mem, pal, FALSE);
    EXPECT_EQ(old, GetStockObject(DEFAULT_PALETTE));
    EXPECT_EQ(SelectPalette(mem, old, FALSE), pal);
    EXPECT_EQ(SelectPalette(mem, nullptr, FALSE), nullptr);
    DeleteDC(mem);
    EXPECT_TRUE(DeleteObject(pal));
    EXPECT_EQ(GetPaletteEntries(pal, 0, 0, nullptr), 0u);

    // A palette without entries: every index into it draws black.
    HPALETTE empty = palette({});
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GetNearestPaletteIndex(empty, RGB(1, 2, 3)), 0u);
    MemSurface s(section(2, 1, 32));
    SelectPalette(s.dc, empty, FALSE);
    EXPECT_EQ(SetPixel(s.dc, 0, 0, PALETTEINDEX(0)), kBlack);
    EXPECT_EQ(SetPixel(s.dc, 1, 0, PALETTEINDEX(5)), kBlack);
    EXPECT_EQ(GetNearestColor(s.dc, PALETTEINDEX(2)), kBlack);
    SelectPalette(s.dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(empty);
}

TEST(GdiPalette, SystemPaletteHoldsTheStaticColours) {
    HDC screen = GetDC(nullptr);
    PALETTEENTRY sys[256] = {};
    const UINT n = GetSystemPaletteEntries(screen, 0, 256, sys);
    if (expected_bpp() != 8) {
        EXPECT_EQ(n, 0u);
        // Nothing to realize without a palette.
        HPALETTE pal = palette({{1, 2, 3, 0}});
        HPALETTE old = SelectPalette(screen, pal, FALSE);
        EXPECT_EQ(RealizePalette(screen), 0u);
        SelectPalette(screen, old, FALSE);
        DeleteObject(pal);
    } else {
        ASSERT_EQ(n, 256u);
        const struct {
            int index;
            BYTE r, g, b;
        } statics[] = {{0, 0, 0, 0},          {1, 0x80, 0, 0},         {7, 0xc0, 0xc0, 0xc0},
                       {9, 0xa6, 0xca, 0xf0}, {246, 0xff, 0xfb, 0xf0}, {249, 0xff, 0, 0},
                       {252, 0, 0, 0xff},     {255, 0xff, 0xff, 0xff}};
        for (const auto& s : statics) {
            const PALETTEENTRY& e = sys[s.index];
            EXPECT_EQ(RGB(e.peRed, e.peGreen, e.peBlue), RGB(s.r, s.g, s.b)) << s.index;
        }
    }
    ReleaseDC(nullptr, screen);
}

#ifndef _WIN32
// 8-bit realization and colour mapping (Wine maps 8-bit memory bitmaps through a fixed table).
TEST(GdiPalette, RealizationFillsFreeSlotsAndColoursMapThroughIt) {
    if (expected_bpp() != 8) {
        GTEST_SKIP() << "palette display only";
    }
    HDC screen = GetDC(nullptr);
    // Two new colours around a static one, which is reused.
    HPALETTE pal = palette({{0x10, 0x20, 0x30, 0}, {0xff, 0x00, 0x00, 0}, {0x40, 0x50, 0x60, 0}});
    HPALETTE old = SelectPalette(screen, pal, FALSE);
    EXPECT_EQ(RealizePalette(screen), 3u);
    EXPECT_EQ(RealizePalette(screen), 0u); // nothing new the second time
    PALETTEENTRY sys[256] = {};
    GetSystemPaletteEntries(screen, 0, 256, sys);
    EXPECT_EQ((std::vector<BYTE>{sys[10].peRed, sys[11].peRed, sys[12].peRed}),
              (std::vector<BYTE>{0x10, 0x40, 0x00}));

    // Drawing through the palette: nearest entry, then the slot it was realized to.
    MemSurface s(4, 1);
    SelectPalette(s.dc, pal, FALSE);
    EXPECT_EQ(SetPixel(s.dc, 0, 0, RGB(0x12, 0x22, 0x2e)), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(SetPixel(s.dc, 1, 0, PALETTEINDEX(2)), RGB(0x40, 0x50, 0x60));
    EXPECT_EQ(SetPixel(s.dc, 2, 0, RGB(250, 10, 10)), RGB(255, 0, 0));
    EXPECT_EQ(s.bits(), (std::vector<BYTE>{10, 11, 249, 0})); // the fourth not yet set
    EXPECT_EQ(GetNearestColor(s.dc, RGB(0x41, 0x51, 0x61)), RGB(0x40, 0x50, 0x60));
    SelectPalette(s.dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    // With the default palette only the static colours are reachable.
    EXPECT_EQ(SetPixel(s.dc, 3, 0, RGB(0x10, 0x20, 0x30)), RGB(0, 0, 0));

    // A new foreground palette takes the free slots back.
    HPALETTE pal2 = palette({{0x99, 0x88, 0x77, 0}});
    SelectPalette(screen, pal2, FALSE);
    EXPECT_EQ(RealizePalette(screen), 1u);
    GetSystemPaletteEntries(screen, 10, 1, sys);
    EXPECT_EQ(sys[0].peRed, 0x99);
    SelectPalette(screen, old, FALSE);
    DeleteObject(pal);
    DeleteObject(pal2);
    ReleaseDC(nullptr, screen);
}
#endif
