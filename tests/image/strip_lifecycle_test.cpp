// A strip's fields through construction, release and copies: copies share the source's objects,
// report its geometry, colour, mode and frames, and release nothing twice (run under ASan too).
// The protected steps of Create called on their own: what each needs, what it leaves behind when
// it fails, and the half-transparent strip of the smallest example.
#include "image/strip_fixtures.h"

#include <gtest/gtest.h>

#include <memory>

using namespace strip_fixtures;

namespace {

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

// A strip in bitmap mode whose m_pSemiBitmap holds a second, untouched copy of the strip.
void LoadWithSemiCopy(StripProbe& strip, CBitmap* client, int frames, COLORREF key) {
    ASSERT_EQ(strip.Create(client, frames, key, 0, 0), 1);
    ASSERT_NE(strip.CopySemiBitmap(client), 0);
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
    CBitmap client; // a DIB section: accepted on every display
    client.Attach(MakeClientSection(30, 4, BusyStrip(kBlue)));
    for (int mode : {0, 2}) {
        SCOPED_TRACE(mode);
        StripProbe strip;
        ASSERT_EQ(strip.Create(&client, 3, RGB(1, 2, 3), 1, mode), 1);
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
    CBitmap client; // a DIB section: accepted on every display
    client.Attach(MakeClientSection(30, 5, BusyStrip(kBlue)));
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        auto source = std::make_unique<StripProbe>();
        ASSERT_EQ(source->Create(&client, 3, kBlue, 1, mode), 1);
        const std::vector<COLORREF> picture = Picture(*source);
        ASSERT_FALSE(picture.empty());

        StripProbe copy(*source);
        StripProbe assigned;
        ASSERT_EQ(assigned.Create(&client, 2, RGB(9, 9, 9), 0, !mode), 1);
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
        ASSERT_EQ(copy.Create(&client, 5, kBlue, 0, 0), 1);
        ExpectSameStrip(expected, expected, picture);
    }
}

// Game clients keep strips in globals, released by the C++ runtime after main has returned. This
// one and a copy of it are still loaded then; their release must find the count of holders alive
// (run under ASan).
StripProbe g_loadedAtExit;
StripProbe g_copyAtExit;

TEST(StripLifecycle, StripsWithStaticStorageAreReleasedAtExit) {
    CBitmap client;
    client.Attach(MakeClientSection(20, 4, BusyStrip(kBlue)));
    ASSERT_EQ(g_loadedAtExit.Create(&client, 2, kBlue, 1, 0), 1);
    g_copyAtExit = g_loadedAtExit;
    ASSERT_EQ(g_copyAtExit.GetBitmap(), g_loadedAtExit.GetBitmap());
}

TEST(StripSteps, SmallestHalfTransparentStrip) {
    CBitmap client;
    client.Attach(MakeClientSection(4, 2, [](int, int) { return RGB(255, 255, 255); }));
    StripProbe strip;
    LoadWithSemiCopy(strip, &client, 1, kBlue);
    ASSERT_EQ(strip.MakeSemiBitmap(), 1);
    EXPECT_EQ(strip.m_crTransparent, kBlue);
    const COLORREF w = StoredColour(RGB(255, 255, 255));
    const COLORREF b = StoredColour(kBlue);
    EXPECT_EQ(PixelsOf(strip.m_pSemiBitmap), (std::vector<COLORREF>{w, b, w, b, b, w, b, w}));
}

// Without its bitmap each step refuses at once; with a bitmap it cannot select (held by another
// DC) it fails with the strip as the failure rules leave it.
TEST(StripSteps, FailuresLeaveTheStripAsTheyFoundIt) {
    CBitmap client;
    client.Attach(MakeClientSection(12, 3, BusyStrip(kBlue)));

    StripProbe bare;
    EXPECT_EQ(bare.SetImageInfo(3, kBlue), 0);
    EXPECT_EQ(bare.CreateImageList(), 0);
    EXPECT_EQ(bare.CreateSemiImageList(), 0);
    EXPECT_EQ(bare.MakeSemiBitmap(), 0);
    EXPECT_TRUE(bare.Empty());
    EXPECT_EQ(bare.GetImageNum(), 0);

    StripProbe strip;
    LoadWithSemiCopy(strip, &client, 3, kBlue);
    EXPECT_EQ(strip.SetImageInfo(0, RGB(1, 1, 1)), 0);
    EXPECT_EQ(strip.SetImageInfo(-2, RGB(1, 1, 1)), 0);
    EXPECT_EQ(strip.GetImageNum(), 3);
    EXPECT_EQ(strip.m_crTransparent, kBlue);

    CBitmap* semi = strip.m_pSemiBitmap;
    const std::vector<COLORREF> copy = PixelsOf(semi);
    {
        CDC held;
        held.CreateCompatibleDC(nullptr);
        HGDIOBJ previous = ::SelectObject(held.GetSafeHdc(), semi->GetSafeHandle());
        ASSERT_NE(previous, nullptr);
        EXPECT_EQ(strip.MakeSemiBitmap(), 0);
        EXPECT_EQ(strip.m_crTransparent, kBlue);
        EXPECT_EQ(strip.m_pSemiBitmap, semi);
        EXPECT_EQ(PixelsOf(semi), copy);

        // An earlier half-transparent list goes; the semi bitmap stays.
        StripProbe earlier;
        ASSERT_EQ(earlier.Create(&client, 3, kBlue, 1, 1), 1);
        strip.m_pSemiImageList = earlier.m_pSemiImageList;
        earlier.m_pSemiImageList = nullptr;
        EXPECT_EQ(strip.CreateSemiImageList(), 0);
        EXPECT_EQ(strip.m_pSemiImageList, nullptr);
        EXPECT_EQ(strip.m_pSemiBitmap, semi);
        EXPECT_EQ(PixelsOf(semi), copy);
        ::SelectObject(held.GetSafeHdc(), previous);
    }
    // Once free the same bitmap goes into the list and is released.
    ASSERT_EQ(strip.CreateSemiImageList(), 1);
    EXPECT_EQ(strip.m_pSemiBitmap, nullptr);
    EXPECT_EQ(strip.IsReadySemiTransparent(), 1);

    ASSERT_EQ(strip.CreateImageList(), 1);
    EXPECT_EQ(strip.m_pBitmap, nullptr);
    CImageList* list = strip.m_pImageList;
    EXPECT_EQ(strip.CreateImageList(), 0); // no bitmap left: the list stays
    EXPECT_EQ(strip.m_pImageList, list);
}
