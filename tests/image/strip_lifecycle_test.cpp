// A strip's fields through construction, release and copies: copies share the source's objects,
// report its geometry, colour, mode and frames, and release nothing twice (run under ASan too).
#include "image/strip_fixtures.h"

#include <gtest/gtest.h>

#include <memory>

using namespace strip_fixtures;

namespace {

// A client bitmap every strip of these tests is made from (a DIB section: accepted on every
// display).
struct ClientStrip {
    ClientStrip(int w, int h) { bitmap.Attach(MakeClientSection(w, h, BusyStrip(kBlue))); }
    CBitmap bitmap;
};

// The strip bitmap's pixels, or in image-list mode every image drawn side by side over black.
std::vector<COLORREF> Picture(const StripProbe& strip) {
    if (strip.m_pBitmap != nullptr) {
        return PixelsOf(strip.m_pBitmap);
    }
    if (strip.m_pImageList == nullptr) {
        return {};
    }
    const CSize size = strip.m_sizeImage;
    Canvas canvas(size.cx * strip.m_pImageList->GetImageCount(), size.cy,
                  [](int, int) { return RGB(0, 0, 0); });
    DrawAllImages(strip.m_pImageList, size.cx, canvas);
    return canvas.Pixels();
}

void ExpectSameStrip(StripProbe& copy, const StripProbe& source,
                     const std::vector<COLORREF>& picture) {
    EXPECT_EQ(copy.GetImageNum(), source.m_nImageNum);
    EXPECT_EQ(copy.GetImageSize(), source.m_sizeImage);
    EXPECT_EQ(copy.GetBitmapSize(), source.m_sizeBitmap);
    EXPECT_EQ(copy.m_crTransparent, source.m_crTransparent);
    EXPECT_EQ(copy.IsImageListMethod(), source.m_bImageListMethod);
    EXPECT_EQ(Picture(copy), picture);
}

} // namespace

TEST(StripLifecycle, ANewStripIsEmptyAndReleasingItTwiceIsHarmless) {
    StripProbe strip;
    EXPECT_TRUE(strip.Empty());
    EXPECT_EQ(strip.GetImageNum(), 0);
    EXPECT_EQ(strip.GetImageSize(), CSize(0, 0));
    EXPECT_EQ(strip.GetBitmapSize(), CSize(0, 0));
    EXPECT_EQ(strip.GetBitmap(), nullptr);
    EXPECT_EQ(strip.IsImageListMethod(), 0);
    EXPECT_EQ(strip.IsReadySemiTransparent(), 0);
    EXPECT_EQ(strip.m_crTransparent, kBlue);
    strip.DeleteObject();
    strip.DeleteObject();
    EXPECT_TRUE(strip.Empty());
    strip.Delay(0);
}

TEST(StripLifecycle, DeleteObjectReleasesTheObjectsAndKeepsTheGeometry) {
    ClientStrip client(30, 4);
    for (int mode : {0, 2}) {
        SCOPED_TRACE(mode);
        StripProbe strip;
        ASSERT_EQ(strip.Create(&client.bitmap, 3, RGB(1, 2, 3), 1, mode), 1);
        EXPECT_EQ(strip.IsImageListMethod(), mode); // stored as given, not normalised
        strip.DeleteObject();
        EXPECT_TRUE(strip.Empty());
        EXPECT_EQ(strip.GetImageNum(), 3);
        EXPECT_EQ(strip.GetImageSize(), CSize(10, 4));
        EXPECT_EQ(strip.GetBitmapSize(), CSize(30, 4));
        EXPECT_EQ(strip.m_crTransparent, RGB(1, 2, 3));
        EXPECT_EQ(strip.IsImageListMethod(), mode);
    }
}

TEST(StripLifecycle, CopiesShowTheSourceAndOutliveIt) {
    ClientStrip client(30, 5);
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        auto source = std::make_unique<StripProbe>();
        ASSERT_EQ(source->Create(&client.bitmap, 3, kBlue, 1, mode), 1);
        const std::vector<COLORREF> picture = Picture(*source);
        ASSERT_FALSE(picture.empty());

        StripProbe copy(*source);
        StripProbe assigned;
        ASSERT_EQ(assigned.Create(&client.bitmap, 2, RGB(9, 9, 9), 0, !mode), 1);
        assigned = *source; // over a created strip: its own objects go
        ExpectSameStrip(copy, *source, picture);
        ExpectSameStrip(assigned, *source, picture);
        EXPECT_EQ(copy.IsReadySemiTransparent(), source->IsReadySemiTransparent());

        StripProbe expected = *source;
        source.reset(); // the copies still hold every object
        ExpectSameStrip(copy, expected, picture);
        ExpectSameStrip(assigned, expected, picture);

        StripProbe& alias = copy;
        copy = alias;    // self-assignment keeps everything
        copy = assigned; // two holders of the same objects
        ExpectSameStrip(copy, expected, picture);
        assigned.DeleteObject();
        ExpectSameStrip(copy, expected, picture);
        EXPECT_EQ(Picture(assigned), std::vector<COLORREF>{});

        // A copy made again creates its own objects and leaves the others alone.
        ASSERT_EQ(copy.Create(&client.bitmap, 5, kBlue, 0, 0), 1);
        ExpectSameStrip(expected, expected, picture);
    }
}
