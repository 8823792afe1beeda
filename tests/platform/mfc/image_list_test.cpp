#include <afxcmn.h>

#include <gtest/gtest.h>

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kKey = RGB(255, 0, 255);

// A DC with a fresh bitmap compatible with the screen, filled white.
struct Canvas {
    CClientDC screen{NULL};
    CDC dc;
    CBitmap bitmap;
    CBitmap* original = nullptr;

    Canvas(int w, int h) {
        dc.CreateCompatibleDC(&screen);
        bitmap.CreateCompatibleBitmap(&screen, w, h);
        original = dc.SelectObject(&bitmap);
        dc.PatBlt(0, 0, w, h, WHITENESS);
    }
    ~Canvas() { release(); }
    // Takes the bitmap out of the DC, so that it can be given to an image list.
    void release() {
        if (original != nullptr) {
            dc.SelectObject(original);
            original = nullptr;
        }
    }
};

TEST(CImageListTest, AddsDrawsAndRemovesMaskedImages) {
    // A strip of two 4x4 images, red and blue, each with one key-coloured pixel.
    Canvas strip(8, 4);
    strip.dc.FillSolidRect(0, 0, 4, 4, kRed);
    strip.dc.FillSolidRect(4, 0, 4, 4, kBlue);
    strip.dc.SetPixel(1, 1, kKey);
    strip.dc.SetPixel(5, 1, kKey);
    strip.release();

    CImageList list;
    ASSERT_TRUE(list.Create(4, 4, ILC_COLOR24 | ILC_MASK, 2, 1));
    EXPECT_FALSE(list.Create(4, 4, ILC_COLOR24 | ILC_MASK, 2, 1)) << "one list per wrapper";
    EXPECT_EQ(0, list.Add(&strip.bitmap, kKey));
    EXPECT_EQ(2, list.GetImageCount());

    // (What each style draws: the image list tests of the Win32 program.)
    EXPECT_EQ(CLR_NONE, list.GetBkColor());
    EXPECT_EQ(CLR_NONE, list.SetBkColor(kRed));
    Canvas target(4, 4);
    ASSERT_TRUE(list.Draw(&target.dc, 1, CPoint(0, 0), ILD_NORMAL));
    EXPECT_EQ(kBlue, target.dc.GetPixel(0, 0));
    EXPECT_EQ(kRed, target.dc.GetPixel(1, 1)) << "the key pixel is masked, shown in red";

    EXPECT_TRUE(list.Remove(0));
    EXPECT_EQ(1, list.GetImageCount());
    target.dc.PatBlt(0, 0, 4, 4, WHITENESS);
    ASSERT_TRUE(list.Draw(&target.dc, 0, CPoint(0, 0), ILD_TRANSPARENT));
    EXPECT_EQ(kBlue, target.dc.GetPixel(3, 3)) << "the former image 1 is image 0";
    EXPECT_FALSE(list.Draw(nullptr, 0, CPoint(0, 0), ILD_NORMAL));

    // With a mask bitmap (all 1: every pixel masked), or none (every pixel drawn).
    const BYTE ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    CBitmap mask;
    ASSERT_TRUE(mask.CreateBitmap(8, 4, 1, 1, ones));
    EXPECT_EQ(1, list.Add(&strip.bitmap, &mask));
    EXPECT_EQ(3, list.Add(&strip.bitmap, static_cast<CBitmap*>(nullptr)));
    target.dc.PatBlt(0, 0, 4, 4, WHITENESS);
    ASSERT_TRUE(list.Draw(&target.dc, 1, CPoint(0, 0), ILD_TRANSPARENT));
    EXPECT_EQ(kWhite, target.dc.GetPixel(0, 0));
    ASSERT_TRUE(list.Draw(&target.dc, 3, CPoint(0, 0), ILD_TRANSPARENT));
    EXPECT_EQ(kRed, target.dc.GetPixel(0, 0));
}

} // namespace
