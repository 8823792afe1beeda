// Every GDI operation leaves the live-object counts where they were once its objects are gone.
#include <windows.h>

#include "fault_sweep.h"
#include "platform/host.h"

#include <gtest/gtest.h>

#include <functional>

using Counts = fault_sweep::LiveCounts;

TEST(HostLiveCounts, CountsFollowCreationAndDeletion) {
    const Counts before = Counts::now();
    const int total = host::live_gdi_objects_total();
    HBITMAP bmp = CreateBitmap(4, 4, 1, 1, nullptr);
    HDC mem = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(host::live_gdi_objects(OBJ_BITMAP), before.gdi[OBJ_BITMAP] + 1);
    EXPECT_EQ(host::live_gdi_objects(OBJ_MEMDC), before.gdi[OBJ_MEMDC] + 1);
    EXPECT_EQ(host::live_gdi_objects(OBJ_DC), before.gdi[OBJ_DC] + 1);
    EXPECT_EQ(host::live_gdi_objects_total(), total + 3);
    // Stock objects are not counted.
    EXPECT_EQ(CreateBitmap(0, 0, 1, 1, nullptr), CreateCompatibleBitmap(screen, 0, 0));
    DeleteObject(GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(host::live_gdi_objects(OBJ_BITMAP), before.gdi[OBJ_BITMAP] + 1);
    ReleaseDC(nullptr, screen);
    DeleteDC(mem);
    DeleteObject(bmp);
    EXPECT_EQ(Counts::now(), before);
    EXPECT_EQ(host::live_gdi_objects_total(), total);
}

// (Blits make no objects; a brush deleted while selected and released again: the Win32 DC tests;
// pattern brushes made and deleted: the MFC wrapper tests, which count live objects too.)
TEST(HostLiveCounts, EveryOperationReleasesWhatItMade) {
    const std::function<void()> operations[] = {
        [] { // a DC deleted with objects still selected frees the pending ones
            HDC mem = CreateCompatibleDC(nullptr);
            HBITMAP bmp = CreateBitmap(8, 8, 1, 1, nullptr);
            HBRUSH brush = CreateSolidBrush(RGB(9, 9, 9));
            SelectObject(mem, bmp);
            SelectObject(mem, brush);
            DeleteObject(brush);
            DeleteDC(mem);
            DeleteObject(bmp);
        },
        [] { // palettes selected, realized and deleted while selected
            HDC screen = GetDC(nullptr);
            struct {
                WORD version, count;
                PALETTEENTRY entries[2];
            } lp = {0x300, 2, {{10, 20, 30, 0}, {40, 50, 60, 0}}};
            HPALETTE pal = CreatePalette(reinterpret_cast<LOGPALETTE*>(&lp));
            HPALETTE old = SelectPalette(screen, pal, FALSE);
            RealizePalette(screen);
            DeleteObject(pal);
            SelectPalette(screen, old, FALSE);
            ReleaseDC(nullptr, screen);
        },
        [] { // DIB transfers, and an RLE description without its data size, refused after the
             // bitmap was made (scaled and combined ones: the composite calls' creation sweep)
            struct {
                BITMAPINFOHEADER h;
                RGBQUAD colors[256];
            } rle = {{sizeof(BITMAPINFOHEADER), 2, 2, 1, 8, BI_RLE8, 0, 0, 0, 0, 0}, {}};
            auto* rle_info = reinterpret_cast<BITMAPINFO*>(&rle);
            BITMAPINFO info = {};
            info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
            const DWORD px[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
            HDC screen = GetDC(nullptr);
            void* bits = nullptr;
            DeleteObject(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
            DeleteObject(
                CreateDIBitmap(screen, &info.bmiHeader, CBM_INIT, px, &info, DIB_RGB_COLORS));
            EXPECT_EQ(CreateDIBitmap(screen, &rle.h, CBM_INIT, px, rle_info, DIB_RGB_COLORS),
                      nullptr);
            HDC dc = CreateCompatibleDC(screen);
            HBITMAP bmp = CreateCompatibleBitmap(screen, 8, 8);
            HGDIOBJ old = SelectObject(dc, bmp);
            EXPECT_EQ(
                StretchDIBits(dc, 0, 0, 8, 8, 0, 0, 2, 2, px, rle_info, DIB_RGB_COLORS, SRCINVERT),
                0);
            DWORD out[4];
            EXPECT_EQ(GetDIBits(dc, bmp, 0, 2, out, &info, DIB_RGB_COLORS), 2);
            SelectObject(dc, old);
            DeleteObject(bmp);
            DeleteDC(dc);
            ReleaseDC(nullptr, screen);
        },
        [] { // failures create nothing
            CreateBitmap(1 << 20, 1 << 20, 1, 32, nullptr);
            CreateCompatibleBitmap(nullptr, 4, 4);
            CreatePatternBrush(nullptr);
            CreateCompatibleDC(reinterpret_cast<HDC>(1));
        },
    };
    for (std::size_t i = 0; i < std::size(operations); ++i) {
        const Counts before = Counts::now();
        operations[i]();
        EXPECT_EQ(Counts::now(), before) << "operation " << i;
    }
}
