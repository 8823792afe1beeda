// The loaded library as a client sees it, on both foundations: the display utilities, the dither
// palette the module entry makes on palette displays, and the library's resources found through
// the client's resource chain.
#include "image/strip_fixtures.h"
#include "support/bmp_builder.h"

#include <DitherDib.h>
#include <Image.h>

#include <afxwin.h>
#include <windows.h>

#include <gtest/gtest.h>

using bmpfile::DisplayBits;

// The library reports the display's depth (library_main.cpp checked it is the one the run names).
// Under Wine an 8-bit X screen must be a palette display, or the module entry has no reason to
// make the dither palette; the module entry makes it exactly when the display has a palette, and
// the dithering object reads indexed sections through it and refuses them without it.
TEST(LoadedLibrary, ReportsTheDisplaysDepthAndHasTheDitherPaletteOnPaletteDisplaysOnly) {
    EXPECT_EQ(CImage::GetSystemBitCount(), DisplayBits());
    HDC screen = GetDC(nullptr);
    const bool palette = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    const int entries = GetDeviceCaps(screen, SIZEPALETTE);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(palette, DisplayBits() <= 8);
    if (DisplayBits() == 8) {
        EXPECT_EQ(entries, 256);
    }
    CBitmap section; // 8 bits: the dithering object takes it only through the dither palette
    ASSERT_TRUE(section.Attach(bmpfile::section(4, 4, 8, {})));
    CDitherDib dib;
    EXPECT_EQ(dib.Create(&section) != FALSE, DisplayBits() <= 8);
}

TEST(LoadedLibrary, ItsResourcesAreFoundThroughTheClientsChain) {
    HINSTANCE module = AfxFindResourceHandle(MAKEINTRESOURCE(11101), RT_BITMAP);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module, GetModuleHandleA("TALVO.dll"));

    // The 8 x 8 pattern: red where x + y is even, green elsewhere (both exact at every depth),
    // read through a DC (the canvas deletes the bitmap).
    HBITMAP pattern = LoadBitmapA(module, MAKEINTRESOURCE(11101));
    ASSERT_NE(pattern, nullptr);
    std::vector<COLORREF> want;
    for (int i = 0; i < 64; ++i) {
        want.push_back((i % 8 + i / 8) % 2 == 0 ? RGB(255, 0, 0) : RGB(0, 255, 0));
    }
    EXPECT_EQ(strip_fixtures::Canvas(pattern).Pixels(), want);

    // The notice caption, in the US English the test runs in.
    if (GetUserDefaultUILanguage() == 1033) {
        CString caption;
        ASSERT_TRUE(caption.LoadString(11001));
        EXPECT_STREQ(static_cast<LPCTSTR>(caption), "Notice");
    }
}
