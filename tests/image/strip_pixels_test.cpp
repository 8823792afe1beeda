// The pixels a strip is made of and drawn with, compared with direct computations of the two
// rules: the half-transparent checkerboard (bitmap mode and image-list mode) and the colour-key
// blit. Colours are compared as they read back from display-format bitmaps, so the same tests
// hold at every depth.
#include "image/strip_fixtures.h"

#include <gtest/gtest.h>

using namespace strip_fixtures;

namespace {

struct SemiCase {
    const char* name;
    int width;
    int height;
    int frames;
    COLORREF key;
};

// Odd frame widths flip the phase of every other frame; the red key leaves the strip as it is;
// a key that rounds to red at 16 bits does the same there; green holes are keyed out as well.
const SemiCase kSemiCases[] = {
    {"blue key, odd frames", 15, 6, 3, kBlue},
    {"blue key, even frames", 16, 5, 2, kBlue},
    {"red key", 15, 4, 3, kRed},
    {"near red key", 12, 3, 4, RGB(0xFA, 0, 0)},
    {"green key", 9, 5, 3, kGreen},
    {"grey key", 14, 4, 2, RGB(0x40, 0x60, 0x80)},
};

} // namespace

// The half-transparent bitmap holds the rule; the lists are checked by what they draw: every
// image over a known background, transparently.
TEST(SemiTransparentStrip, BothModesFollowTheCheckerboardRule) {
    const COLORREF storedRed = StoredColour(kRed);
    for (const SemiCase& c : kSemiCases) {
        SCOPED_TRACE(c.name);
        CBitmap client;
        client.Attach(MakeClientSection(c.width, c.height, BusyStrip(c.key)));
        StripProbe reference; // bitmap mode: the strip's own pixels and the half-transparent ones
        ASSERT_EQ(reference.Create(&client, c.frames, c.key, 1, 0), 1);
        EXPECT_EQ(reference.m_crTransparent, c.key);
        const std::vector<COLORREF> image = PixelsOf(reference.m_pBitmap);
        ASSERT_EQ(image.size(), static_cast<std::size_t>(c.width * c.height));
        const COLORREF key = StoredColour(c.key);
        const std::vector<COLORREF> semi = SemiStripModel(image, c.width, c.height, key, storedRed);
        EXPECT_EQ(PixelsOf(reference.m_pSemiBitmap), semi);
        // The colours the lists draw the strip's pixels with (keyed where `image` has the key).
        const std::vector<COLORREF> listed =
            ThroughImageList(static_cast<HBITMAP>(reference.m_pBitmap->GetSafeHandle()));
        StripProbe strip;
        ASSERT_EQ(strip.Create(&client, c.frames, c.key, 1, 1), 1);
        const int frameWidth = c.width / c.frames;
        const int covered = (c.width / frameWidth) * frameWidth;
        auto background = [](int x, int y) { return RGB(10 + x, 200 - y, 30); };
        for (int list = 0; list < 2; ++list) {
            SCOPED_TRACE(list == 0 ? "frames" : "half-transparent frames");
            Canvas canvas(c.width, c.height, background);
            std::vector<COLORREF> expected = canvas.Pixels();
            const std::vector<COLORREF>& rule = list == 0 ? image : semi;
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < covered; ++x) {
                    const std::size_t at = static_cast<std::size_t>(y) * c.width + x;
                    if (rule[at] != key) {
                        expected[at] = listed[at];
                    }
                }
            }
            DrawAllImages(list == 0 ? strip.m_pImageList : strip.m_pSemiImageList, frameWidth,
                          canvas);
            EXPECT_EQ(canvas.Pixels(), expected);
        }
    }
}

// Sections of 24 bits keep every colour exactly, and the destination passes through the
// source's format, which on a 32-bit display loses nothing: there one step off the key is drawn.
TEST(TransparentBlit, FrameOverloadFollowsTheColourKeyRule) {
    struct Case {
        const char* name;
        int width, height, frameWidth, frame, x, y;
        COLORREF key;
        PixelFn pixels;
        bool section24 = false;
    };
    const COLORREF grey = RGB(128, 128, 128), dark = RGB(10, 20, 30);
    const Case cases[] = {
        {"frame 2 of 32 wide", 100, 6, 32, 2, 3, 2, kBlue, BusyStrip(kBlue)},
        {"no key pixels", 20, 4, 10, 1, 0, 0, kBlue,
         [](int x, int y) { return RGB(x * 9, 255 - y * 7, 77); }},
        {"key only", 20, 4, 10, 0, 5, 1, RGB(1, 2, 3), [](int, int) { return RGB(1, 2, 3); }},
        {"grey key at the left edge", 12, 5, 4, 0, 0, 3, grey, BusyStrip(grey)},
        // Only an exact match in the source's format is transparent: one step off in blue is
        // drawn where the format keeps it, and matches where it drops it (16 bits keep 5 of 8).
        {"one step off the key", 2, 1, 2, 0, 0, 0, kBlue,
         [](int x, int) { return x == 0 ? kBlue : RGB(0, 0, 0xFE); }},
        {"24-bit section", 9, 3, 3, 0, 0, 0, dark,
         [&](int x, int y) {
             return (x + y) % 3 == 0 ? dark : x == 1 ? RGB(10, 20, 31) : RGB(x * 20, y * 40, 5);
         },
         true},
    };
    auto background = [](int x, int y) { return RGB(x * 5, y * 11, 200); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.section24 && DisplayBits() != 32) {
            continue;
        }
        CBitmap source;
        source.Attach(c.section24 ? MakeDibSection(c.width, c.height, c.pixels, 24)
                                  : MakeDdb(c.width, c.height, c.pixels));
        const std::vector<COLORREF> sourcePixels = PixelsOf(&source);
        StripProbe strip;
        strip.m_sizeImage = CSize(c.frameWidth, c.height);
        strip.m_crTransparent = c.key;

        Canvas canvas(c.frameWidth + 8, c.height + 6, background);
        const std::vector<COLORREF> expected =
            KeyedBlitModel(sourcePixels, c.width, c.frame * c.frameWidth, canvas.Pixels(),
                           c.frameWidth + 8, c.x, c.y, c.frameWidth, c.height, StoredColour(c.key));
        EXPECT_EQ(strip.DrawBitmapTransparent(&source, canvas.dc(), c.x, c.y, c.frame), 1);
        EXPECT_EQ(canvas.Pixels(), expected);
        EXPECT_EQ(PixelsOf(&source), sourcePixels);
    }
}

TEST(TransparentBlit, WholeBitmapOverloadAndRefusals) {
    const int w = 13;
    const int h = 7;
    CBitmap source;
    source.Attach(MakeDdb(w, h, BusyStrip(kGreen)));
    StripProbe strip;
    strip.m_sizeBitmap = CSize(w, h);
    strip.m_sizeImage = CSize(5, h); // the whole-bitmap overload ignores the frame size
    strip.m_crTransparent = kGreen;
    auto background = [](int x, int y) { return RGB(255 - x, 100, y * 30); };
    Canvas canvas(w, h, background);
    const std::vector<COLORREF> before = canvas.Pixels();

    EXPECT_EQ(strip.DrawBitmapTransparent(nullptr, canvas.dc(), 0, 0), 0);
    EXPECT_EQ(strip.DrawBitmapTransparent(nullptr, canvas.dc(), 0, 0, 0), 0);
    EXPECT_EQ(strip.DrawBitmapTransparent(&source, nullptr, 0, 0), 0);
    EXPECT_EQ(strip.DrawBitmapTransparent(&source, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(canvas.Pixels(), before);

    {
        // A source selected into another DC cannot be drawn from: nothing reaches the
        // destination, and the call does not report it.
        CDC elsewhere;
        ASSERT_TRUE(elsewhere.CreateCompatibleDC(nullptr));
        HGDIOBJ previous = ::SelectObject(elsewhere.GetSafeHdc(), source.GetSafeHandle());
        ASSERT_NE(previous, nullptr);
        EXPECT_EQ(strip.DrawBitmapTransparent(&source, canvas.dc(), 0, 0), 1);
        EXPECT_EQ(strip.DrawBitmapTransparent(&source, canvas.dc(), 0, 0, 0), 1);
        EXPECT_EQ(canvas.Pixels(), before);
        ::SelectObject(elsewhere.GetSafeHdc(), previous);
    }

    EXPECT_EQ(strip.DrawBitmapTransparent(&source, canvas.dc(), 0, 0), 1);
    EXPECT_EQ(canvas.Pixels(),
              KeyedBlitModel(PixelsOf(&source), w, 0, before, w, 0, 0, w, h, StoredColour(kGreen)));
}
