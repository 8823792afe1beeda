// Device contexts, selection rules, object records and bad handles.
#include "platform/win32/gdi_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

using namespace gdi_test;

TEST(GdiDisplay, ReportsTheExpectedDepthAndSize) {
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    const int bpp = expected_bpp();
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), bpp);
    EXPECT_EQ(GetDeviceCaps(screen, PLANES), 1);
    EXPECT_GT(GetDeviceCaps(screen, HORZRES), 0);
    EXPECT_GT(GetDeviceCaps(screen, VERTRES), 0);
    EXPECT_EQ((GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0, bpp == 8) << "a palette";
    if (bpp == 8) {
        EXPECT_EQ(GetDeviceCaps(screen, SIZEPALETTE), 256);
#ifndef _WIN32
        EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), 20); // Wine on Xvfb says -1
#endif
    } else {
        EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), -1);
    }
    // A memory DC reports the display's depth whatever is selected into it. (What it holds when
    // new: the tests of selection and of SaveDC.)
    HDC mem = CreateCompatibleDC(screen);
    EXPECT_EQ(GetObjectType(mem), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(GetObjectType(screen), static_cast<DWORD>(OBJ_DC));
    EXPECT_EQ(GetDeviceCaps(mem, BITSPIXEL), bpp);
    EXPECT_EQ(GetDeviceCaps(mem, HORZRES), GetDeviceCaps(screen, HORZRES));
    DeleteDC(mem);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);

    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(GetDeviceCaps(display, BITSPIXEL), bpp);
    EXPECT_EQ(GetObjectType(display), static_cast<DWORD>(OBJ_DC));
    EXPECT_TRUE(DeleteDC(display));
}

TEST(GdiDc, BitmapIsSelectedIntoOneDcAtATime) {
    HBITMAP bmp = CreateBitmap(8, 8, 1, 1, nullptr);
    HDC a = CreateCompatibleDC(nullptr);
    HDC b = CreateCompatibleDC(nullptr);
    HGDIOBJ stock = SelectObject(a, bmp);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(SelectObject(b, bmp), nullptr);                   // taken
    EXPECT_EQ(shape_of(GetCurrentObject(b, OBJ_BITMAP))[0], 1); // b unchanged
    EXPECT_EQ(SelectObject(a, bmp), bmp);                       // again into the same DC
    // The stock bitmap goes into any number of DCs.
    EXPECT_NE(SelectObject(b, stock), nullptr);
    EXPECT_EQ(SelectObject(a, stock), bmp);
    EXPECT_EQ(SelectObject(b, bmp), stock);
    // Deleting the DC leaves the bitmap valid and free to select elsewhere.
    EXPECT_TRUE(DeleteDC(b));
    EXPECT_EQ(shape_of(bmp)[0], 8);
    EXPECT_NE(SelectObject(a, bmp), nullptr);
    SelectObject(a, stock);
    DeleteDC(a);
    EXPECT_TRUE(DeleteObject(bmp));
}

TEST(GdiDc, OnlyMonochromeOrDisplayFormatBitmapsFitAMemoryDc) {
    const int bpp = expected_bpp();
    for (int depth : {1, 4, 8, 16, 24, 32}) {
        if (kWine && depth == 32) {
            continue; // Wine takes 32-bit bitmaps on any display
        }
        HBITMAP bmp = CreateBitmap(4, 4, 1, depth, nullptr);
        ASSERT_NE(bmp, nullptr) << depth;
        HDC mem = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(mem, bmp);
        EXPECT_EQ(old != nullptr, depth == 1 || depth == bpp) << depth;
        if (old != nullptr) {
            SelectObject(mem, old);
        }
        DeleteDC(mem);
        DeleteObject(bmp);
    }
}

TEST(GdiDc, CompatibleBitmapTakesTheReferenceFormat) {
    const int bpp = expected_bpp();
    const auto& [screen, mem] = Dcs();

    HBITMAP from_screen = CreateCompatibleBitmap(screen, 5, 3);
    HBITMAP from_fresh = CreateCompatibleBitmap(mem, 5, 3); // holds the stock mono bitmap
    HGDIOBJ old = SelectObject(mem, from_screen);
    HBITMAP from_colour = CreateCompatibleBitmap(mem, 5, 3);
    EXPECT_EQ(shape_of(from_screen), (Shape{5, 3, bpp}));
    EXPECT_EQ(shape_of(from_fresh), (Shape{5, 3, 1}));
    EXPECT_EQ(shape_of(from_colour), (Shape{5, 3, bpp}));
    BITMAP bm{};
    GetObjectA(from_colour, sizeof bm, &bm);
    EXPECT_EQ(bm.bmType, 0);
    EXPECT_EQ(bm.bmBits, nullptr);

    // An empty size gives the stock 1x1 monochrome bitmap, which deleting leaves alone.
    HBITMAP empty = CreateCompatibleBitmap(screen, 0, 0);
    EXPECT_EQ(shape_of(empty), (Shape{1, 1, 1}));
    EXPECT_EQ(CreateCompatibleBitmap(screen, 0, 0), empty);
    DeleteObject(empty);
    EXPECT_EQ(shape_of(empty), (Shape{1, 1, 1}));

    SelectObject(mem, old);
    DeleteObject(from_screen);
    DeleteObject(from_fresh);
    DeleteObject(from_colour);
}

TEST(GdiBitmap, RowsAreWordAligned) {
    struct Case {
        int width, bpp, stride;
    };
    const Case cases[] = {{1, 24, 4}, {2, 24, 6}, {3, 24, 10}, {5, 24, 16}, {7, 24, 22},
                          {1, 1, 2},  {16, 1, 2}, {17, 1, 4},  {3, 4, 2},   {5, 4, 4},
                          {3, 8, 4},  {1, 16, 2}, {3, 16, 6},  {1, 32, 4},  {3, 32, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.bpp);
        HBITMAP bmp = CreateBitmap(c.width, 3, 1, c.bpp, nullptr);
        BITMAP bm{};
        ASSERT_EQ(GetObjectA(bmp, sizeof bm, &bm), static_cast<int>(sizeof bm));
        EXPECT_EQ(bm.bmWidthBytes, c.stride);
        EXPECT_EQ(GetBitmapBits(bmp, 0, nullptr), c.stride * 3);
        DeleteObject(bmp);
    }
}

// (A bitmap's record through GetObjectA: the DIB section, LoadImageA and resource tests; a brush's
// and a made palette's: the MFC wrapper tests.)
TEST(GdiPalette, TheStockPaletteHasTwentyEntries) {
    WORD count = 0;
    EXPECT_EQ(GetObjectA(GetStockObject(DEFAULT_PALETTE), sizeof(count), &count),
              static_cast<int>(sizeof(WORD)));
    EXPECT_EQ(count, 20);
    EXPECT_EQ(GetObjectType(GetStockObject(DEFAULT_PALETTE)), static_cast<DWORD>(OBJ_PAL));
}

TEST(GdiBitmap, BitmapBitsCopyTopRowFirstAndClampTheCount) {
    // Monochrome: bit 7 of byte 0 is the leftmost pixel and 1 is white.
    const BYTE rows[4] = {0x80, 0x00, 0x01, 0x00}; // (0,0) white, (7,1) white
    HBITMAP bmp = CreateBitmap(16, 2, 1, 1, rows);
    MemSurface s(bmp);
    expect_pixels(s.dc, {{0, 0, kWhite}, {1, 0, kBlack}, {7, 1, kWhite}, {15, 1, kBlack}});
    expect_pixels(s.dc, {{16, 0, CLR_INVALID}, {0, -1, CLR_INVALID}});

    // The count is not rounded to rows, and clamped to the bitmap's bytes.
    std::vector<BYTE> out(8, 0xAA);
    EXPECT_EQ(GetBitmapBits(bmp, 3, out.data()), 3);
    EXPECT_EQ(out, (std::vector<BYTE>{0x80, 0, 0x01, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(GetBitmapBits(bmp, 8, out.data()), 4);
    EXPECT_EQ(out, (std::vector<BYTE>{0x80, 0, 0x01, 0, 0xAA, 0xAA, 0xAA, 0xAA}));

    const std::vector<BYTE> more(8, 0xFF);
    EXPECT_EQ(SetBitmapBits(bmp, 1, more.data()), 1);
    expect_pixels(s.dc, {{7, 0, kWhite}, {8, 0, kBlack}});
    EXPECT_EQ(SetBitmapBits(bmp, 8, more.data()), 4);
    EXPECT_EQ(GetPixel(s.dc, 8, 1), kWhite);
}

TEST(GdiBitmap, SetPixelReturnsTheStoredColour) {
    MemSurface s(4, 4);
    // Black and white exist at every depth; PALETTEINDEX goes through the default palette.
    EXPECT_EQ(SetPixel(s.dc, 1, 1, RGB(255, 255, 255)), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(s.dc, 1, 1), RGB(255, 255, 255));
    EXPECT_EQ(SetPixel(s.dc, 2, 1, PALETTEINDEX(19)), RGB(255, 255, 255));
    EXPECT_EQ(SetPixel(s.dc, 2, 2, PALETTEINDEX(13)), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(s.dc, 0, 0), RGB(0, 0, 0));
    // Outside the bitmap nothing is stored; the colour it would have is still returned.
    EXPECT_EQ(SetPixel(s.dc, 4, 0, RGB(255, 255, 255)), RGB(255, 255, 255));
    EXPECT_EQ(SetPixel(s.dc, -1, 0, RGB(255, 255, 255)), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(s.dc, 3, 0), RGB(0, 0, 0));
    if (expected_bpp() == 32) {
        EXPECT_EQ(SetPixel(s.dc, 3, 3, RGB(1, 2, 3)), RGB(1, 2, 3));
        EXPECT_EQ(GetPixel(s.dc, 3, 3), RGB(1, 2, 3));
        const std::vector<BYTE> raw = s.bits();
        EXPECT_EQ(std::vector<BYTE>(raw.begin() + 60, raw.end()), (std::vector<BYTE>{3, 2, 1, 0}));
    }
}

TEST(GdiBadInput, NullStaleAndWrongHandlesFail) {
    HBITMAP bmp = CreateBitmap(2, 2, 1, 1, nullptr);
    DeleteObject(bmp); // now stale
    HDC mem = CreateCompatibleDC(nullptr);
    HDC dead = CreateCompatibleDC(nullptr);
    DeleteDC(dead);
    HBRUSH brush = CreateSolidBrush(0);
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(bmp, sizeof(bm), &bm), 0);
    EXPECT_EQ(GetObjectA(nullptr, sizeof(bm), &bm), 0);
    // Calls that work on a DC blame the handle when it is not one.
    EXPECT_FAILS_WITH(GetObjectType(bmp), 0u, ERROR_INVALID_HANDLE);
    EXPECT_EQ(SelectObject(mem, bmp), nullptr);
    EXPECT_FAILS_WITH(SelectObject(dead, brush), nullptr, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(SelectObject(nullptr, brush), nullptr, ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeleteObject(bmp));
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_FAILS_WITH(DeleteDC(dead), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(DeleteDC(nullptr), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_EQ(CreateCompatibleDC(dead), nullptr);
    EXPECT_FAILS_WITH(CreateCompatibleBitmap(nullptr, 4, 4), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(CreateCompatibleBitmap(dead, 4, 4), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetBitmapBits(bmp, 0, nullptr), 0);
    EXPECT_EQ(GetPixel(dead, 0, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(nullptr, 0, 0), CLR_INVALID);
    EXPECT_FAILS_WITH(GetDeviceCaps(dead, BITSPIXEL), 0, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(GetBkColor(dead), CLR_INVALID, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(SetTextColor(nullptr, 0), CLR_INVALID, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(SetPixel(dead, 0, 0, 0), CLR_INVALID, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(GetMapMode(dead), 0, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(SaveDC(dead), 0, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(BitBlt(dead, 0, 0, 1, 1, mem, 0, 0, SRCCOPY), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FALSE(BitBlt(mem, 0, 0, 1, 1, dead, 0, 0, SRCCOPY));
    EXPECT_FAILS_WITH(PatBlt(dead, 0, 0, 1, 1, PATCOPY), FALSE, ERROR_INVALID_HANDLE);
    // Modes that do not exist are bad parameters.
    EXPECT_FAILS_WITH(SetBkMode(mem, 0), 0, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(SetStretchBltMode(mem, 0), 0, ERROR_INVALID_PARAMETER);
    // A handle of one type used as another fails.
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(brush), brush), nullptr);
    EXPECT_EQ(GetBitmapBits(reinterpret_cast<HBITMAP>(brush), 0, nullptr), 0);
    DeleteObject(brush);
    DeleteDC(mem);
}

TEST(GdiBadInput, NegativeAndHugeBitmapsFailCleanly) {
    // Negative extents are taken by their size.
    HBITMAP neg = CreateBitmap(-3, -4, 1, 1, nullptr);
    EXPECT_EQ(shape_of(neg), (Shape{3, 4, 1}));
    DeleteObject(neg);
    // Whatever is wrong, the parameters are blamed.
    EXPECT_FAILS_WITH(CreateBitmap(4, 4, 2, 8, nullptr), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(CreateBitmap(1 << 20, 1 << 20, 1, 32, nullptr), nullptr,
                      ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(CreateBitmap(1 << 20, 1 << 20, 1, 1, nullptr), nullptr,
                      ERROR_INVALID_PARAMETER);
    // bytes beyond 64 bits
    EXPECT_FAILS_WITH(CreateBitmap(INT_MAX, INT_MAX, 1, 32, nullptr), nullptr,
                      ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(CreateBitmap(INT_MIN, 2, 1, 1, nullptr), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(CreateBitmap(4, 4, 1, 33, nullptr), nullptr, ERROR_INVALID_PARAMETER);
    HDC screen = GetDC(nullptr);
    EXPECT_FAILS_WITH(CreateCompatibleBitmap(screen, 1 << 20, 1 << 20), nullptr,
                      ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(CreateCompatibleBitmap(screen, INT_MAX, INT_MAX), nullptr,
                      ERROR_INVALID_PARAMETER);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(CreateBitmapIndirect(nullptr), nullptr);
}

// A selected brush is deleted when its DC lets it go. Windows documents that a bitmap still
// selected into a DC cannot be deleted (Wine deletes it). DeleteObject on a DC deletes the DC.
TEST(GdiDc, DeletingSelectedObjects) {
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HBITMAP bmp = CreateBitmap(2, 2, 1, 1, nullptr);
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old_brush = SelectObject(mem, brush);
    HGDIOBJ old_bmp = SelectObject(mem, bmp);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH)); // still in use
    if (!kWine) {
        EXPECT_FALSE(DeleteObject(bmp));
    }
    EXPECT_EQ(GetObjectType(bmp), static_cast<DWORD>(OBJ_BITMAP));
    SelectObject(mem, old_brush);
    SelectObject(mem, old_bmp);
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_TRUE(DeleteObject(bmp));
    EXPECT_TRUE(DeleteObject(mem));
    EXPECT_EQ(GetObjectType(mem), 0u);
}

// With a DIB section selected, a compatible bitmap is a (bottom-up) section of the same depth.
TEST(GdiDc, CompatibleBitmapOfASectionIsASection) {
    MemSurface s(section(4, -3, 32));
    HBITMAP made = CreateCompatibleBitmap(s.dc, 5, 2);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectA(made, sizeof(ds), &ds), static_cast<int>(sizeof(DIBSECTION)));
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 32);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 20);
    EXPECT_NE(ds.dsBm.bmBits, nullptr);
    EXPECT_EQ(ds.dsBmih.biHeight, 2);
    DeleteObject(made);
}

// Setters answer the previous value; SaveDC and RestoreDC bring a whole state back.
TEST(GdiDc, SettersAndSaveAndRestoreState) {
    HDC mem = CreateCompatibleDC(nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(9, 9, 9));
    // What SaveDC keeps of what is set here.
    const auto state = [&] {
        POINT org{-1, -1};
        EXPECT_TRUE(GetBrushOrgEx(mem, &org));
        return std::vector<std::uintptr_t>{
            GetBkColor(mem),
            GetTextColor(mem),
            static_cast<std::uintptr_t>(GetMapMode(mem)),
            static_cast<std::uintptr_t>(GetBkMode(mem)),
            static_cast<std::uintptr_t>(GetStretchBltMode(mem)),
            static_cast<std::uintptr_t>(org.x),
            static_cast<std::uintptr_t>(org.y),
            reinterpret_cast<std::uintptr_t>(GetCurrentObject(mem, OBJ_BRUSH))};
    };
    const auto stock = reinterpret_cast<std::uintptr_t>(GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SetBkColor(mem, RGB(1, 2, 3)), RGB(255, 255, 255));
    const std::vector<std::uintptr_t> first = {RGB(1, 2, 3), 0, MM_TEXT, OPAQUE,
                                               BLACKONWHITE, 0, 0,       stock};
    EXPECT_EQ(state(), first);
    EXPECT_EQ(SaveDC(mem), 1);
    EXPECT_EQ(SetBkColor(mem, RGB(4, 5, 6)), RGB(1, 2, 3));
    EXPECT_EQ(SetTextColor(mem, RGB(7, 8, 9)), RGB(0, 0, 0));
    SelectObject(mem, brush);
    EXPECT_EQ(SetMapMode(mem, MM_ANISOTROPIC), MM_TEXT);
    EXPECT_EQ(SetBkMode(mem, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetStretchBltMode(mem, COLORONCOLOR), BLACKONWHITE);
    POINT org{-1, -1};
    EXPECT_TRUE(SetBrushOrgEx(mem, 3, 2, &org));
    EXPECT_TRUE(org.x == 0 && org.y == 0);
    EXPECT_EQ(SaveDC(mem), 2);
    EXPECT_EQ(SetBkColor(mem, RGB(10, 11, 12)), RGB(4, 5, 6));
    EXPECT_EQ(SetMapMode(mem, MM_TEXT), MM_ANISOTROPIC);
    EXPECT_TRUE(RestoreDC(mem, -1)); // the latest save
    EXPECT_EQ(state(), (std::vector<std::uintptr_t>{RGB(4, 5, 6), RGB(7, 8, 9), MM_ANISOTROPIC,
                                                    TRANSPARENT, COLORONCOLOR, 3, 2,
                                                    reinterpret_cast<std::uintptr_t>(brush)}));
    EXPECT_TRUE(RestoreDC(mem, 1));
    EXPECT_EQ(state(), first);
    EXPECT_FALSE(RestoreDC(mem, 1)); // used up
    EXPECT_FALSE(RestoreDC(mem, 5));
    DeleteDC(mem);
    DeleteObject(brush);
}
