// Image lists against the host's live-object counts: every call leaves the GDI objects as it
// found them, at every display depth, and a list's own bitmaps go with it.
#include <windows.h>
#include <commctrl.h>
#include "support/host_display.h"

#include <gtest/gtest.h>

namespace {

TEST(ImageListHost, LeavesNoObjectsBehind) {
    for (int bpp : {32, 16, 8}) {
        SCOPED_TRACE(bpp);
        testhost::SetDepth(bpp);
        const int before = host::live_gdi_objects_total();

        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP strip = CreateCompatibleBitmap(screen, 40, 8);
        HBITMAP dst = CreateCompatibleBitmap(screen, 16, 16);
        ReleaseDC(nullptr, screen);
        const int with_bitmaps = host::live_gdi_objects_total();

        HIMAGELIST il = ImageList_Create(8, 8, ILC_MASK | ILC_COLORDDB, 1, 1);
        ASSERT_NE(il, nullptr);
        const int with_list = host::live_gdi_objects_total();
        EXPECT_EQ(with_list, with_bitmaps + 2) << "colour bitmap and mask";
        // Growing replaces the list's bitmaps rather than adding to them.
        EXPECT_EQ(ImageList_AddMasked(il, strip, RGB(255, 0, 255)), 0);
        EXPECT_EQ(ImageList_Add(il, strip, nullptr), 5);
        EXPECT_EQ(host::live_gdi_objects_total(), with_list);

        HGDIOBJ old = SelectObject(dc, dst);
        for (UINT style : {ILD_NORMAL, ILD_TRANSPARENT, ILD_SELECTED, ILD_FOCUS}) {
            ImageList_SetBkColor(il, style == ILD_NORMAL ? RGB(0, 0, 255) : CLR_NONE);
            EXPECT_TRUE(ImageList_Draw(il, 3, dc, 2, 2, style));
        }
        // A failed draw cleans up as well.
        EXPECT_FALSE(ImageList_Draw(il, 3, nullptr, 0, 0, ILD_NORMAL));
        EXPECT_TRUE(ImageList_Remove(il, 1));
        EXPECT_EQ(host::live_gdi_objects_total(), with_list);
        // A bitmap selected elsewhere is added without being selected, and leaves nothing.
        SelectObject(dc, strip);
        EXPECT_EQ(ImageList_AddMasked(il, strip, RGB(255, 0, 255)), 9);
        EXPECT_EQ(ImageList_GetImageCount(il), 14);
        EXPECT_EQ(host::live_gdi_objects_total(), with_list);
        SelectObject(dc, old);

        EXPECT_TRUE(ImageList_Destroy(il));
        EXPECT_FALSE(ImageList_Destroy(il)) << "a destroyed list is a stale handle";
        EXPECT_EQ(ImageList_GetImageCount(il), 0);
        EXPECT_EQ(host::live_gdi_objects_total(), with_bitmaps);
        DeleteDC(dc);
        DeleteObject(strip);
        DeleteObject(dst);
        EXPECT_EQ(host::live_gdi_objects_total(), before);
    }
    host::reset_display();
}

TEST(ImageListHost, AbsurdSizesAreRefused) {
    const int before = host::live_gdi_objects_total();
    EXPECT_EQ(ImageList_Create(1 << 30, 1 << 30, ILC_MASK | ILC_COLOR32, 1, 1), nullptr);
    EXPECT_EQ(ImageList_Create(4, 4, ILC_MASK | ILC_COLOR32, 1 << 30, 1), nullptr);
    HIMAGELIST il = ImageList_Create(4, 4, ILC_MASK | ILC_COLOR32, 1, 1 << 30);
    ASSERT_NE(il, nullptr);
    HBITMAP wide = CreateBitmap(64, 4, 1, 1, nullptr);
    // The growth asked for cannot be had, but what the bitmap needs can.
    EXPECT_EQ(ImageList_AddMasked(il, wide, RGB(0, 0, 0)), 0);
    EXPECT_EQ(ImageList_GetImageCount(il), 16);
    ImageList_Destroy(il);
    DeleteObject(wide);
    EXPECT_EQ(host::live_gdi_objects_total(), before);
}

} // namespace
