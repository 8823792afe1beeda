// The loaded library as a client sees it, on both foundations: the display utilities, the dither
// palette the module entry makes on palette displays, and the library's resources found through
// the client's resource chain.
#include <DitherDib.h>
#include <Image.h>

#include <afxwin.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

int ScreenBits() {
    HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    return bits;
}

// An 8-bit DIB section, which the dithering object takes only through the dither palette.
HBITMAP MakeIndexedSection() {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = 4;
    info.header.biHeight = 4;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    void* bits = nullptr;
    return CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits,
                            nullptr, 0);
}

} // namespace

// Under Wine an 8-bit X screen must be a palette display, or the module entry has no reason to
// make the dither palette.
TEST(LoadedLibrary, ReportsTheDisplaysDepth) {
    EXPECT_EQ(CImage::GetSystemBitCount(), ScreenBits());
    HDC screen = GetDC(nullptr);
    const bool palette = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    const int entries = GetDeviceCaps(screen, SIZEPALETTE);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(palette, ScreenBits() <= 8);
    if (ScreenBits() == 8) {
        EXPECT_EQ(entries, 256);
    }
    if (const char* expected = std::getenv("TALVO_EXPECT_BPP")) {
        EXPECT_EQ(CImage::GetSystemBitCount(), std::atoi(expected));
    }
}

// The module entry makes the dither palette exactly when the display has a palette; the
// dithering object reads indexed sections through it and refuses them without it.
TEST(LoadedLibrary, HasTheDitherPaletteOnPaletteDisplaysOnly) {
    CBitmap section;
    ASSERT_TRUE(section.Attach(MakeIndexedSection()));
    CDitherDib dib;
    EXPECT_EQ(dib.Create(&section) != FALSE, ScreenBits() <= 8);
}

TEST(LoadedLibrary, ItsResourcesAreFoundThroughTheClientsChain) {
    HINSTANCE module = AfxFindResourceHandle(MAKEINTRESOURCE(11101), RT_BITMAP);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module, GetModuleHandleA("TALVO.dll"));

    // The 8 x 8 pattern: red where x + y is even, green elsewhere (both exact at every depth).
    CBitmap pattern;
    ASSERT_TRUE(pattern.Attach(LoadBitmapA(module, MAKEINTRESOURCE(11101))));
    BITMAP bm = {};
    ASSERT_EQ(pattern.GetObject(sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 8);
    EXPECT_EQ(bm.bmHeight, 8);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, pattern.GetSafeHandle());
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
            EXPECT_EQ(GetPixel(dc, x, y), (x + y) % 2 == 0 ? RGB(255, 0, 0) : RGB(0, 255, 0));
        }
    }
    SelectObject(dc, old);
    DeleteDC(dc);

    // The notice caption, in the US English the test runs in.
    if (GetUserDefaultUILanguage() == 1033) {
        CString caption;
        ASSERT_TRUE(caption.LoadString(11001));
        EXPECT_STREQ(static_cast<LPCTSTR>(caption), "Notice");
    }
}
