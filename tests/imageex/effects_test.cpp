// Alpha and colorize drawing of CImageEx frames, against per-pixel models of the two rules: the
// mix f + ((d - f) * a) >> 8 and the tint grey * t / 255 with grey = (30r + 59g + 11b) / 100.
// True-colour displays mix 8-bit channels, checked against the models here; 16-bit displays
// mix 5-bit channels (the loops are checked against the literal rules in host_test.cpp, the
// whole operation here on the rules' own figures, on our platform only: Wine's 16-bit memory
// bitmaps are 5-5-5); palette displays draw the frame unmixed, or through a tinted palette.
#include "imageex/imageex_fixture.h"

using namespace imageex_test;

namespace {

// A single-frame file of one pixel.
std::string SolidFile(const char* name, COLORREF colour) {
    return WriteFile(name, StripFile(Picture{1, 1, {colour}}, 24));
}

// Runs one effect at (x, y) over `background` and returns the destination.
template <class Op> Picture DrawOver(const Picture& background, Op op) {
    Canvas canvas(background);
    op(canvas.dc());
    return canvas.Read();
}

} // namespace

// The rules' own figures: 8-bit channels on a true-colour display; at 16 bits (on our platform
// only) the 5-bit channels mixed and tinted as they are, over black: 200, 100, 50 is the word
// 0x6586, and with the tint 255, 128, 0 becomes 0x3CE0.
TEST(ImageExEffects, FiguresOfTheRules) {
    enum Op { kDraw, kAlpha, kColorize };
    const struct {
        COLORREF frame, back;
        Op op;
        DWORD param; // the weight or the tint
        COLORREF want;
        DWORD word; // at 16 bits; 0: not checked there
    } cases[] = {
        {RGB(200, 100, 50), RGB(0, 0, 0), kDraw, 0, RGB(200, 100, 50), 0x6586},
        // At 16 bits 25, 12, 6 at a = 64: 25 - 6.25 -> 18, 12 - 3 -> 9, 6 - 1.5 -> 4.
        {RGB(200, 100, 50), RGB(0, 0, 0), kAlpha, 64, RGB(150, 75, 37), (18 << 10) | (9 << 5) | 4},
        {RGB(0, 0, 0), RGB(11, 11, 11), kAlpha, 128, RGB(5, 5, 5), 0},
        {RGB(11, 11, 11), RGB(0, 0, 0), kAlpha, 128, RGB(5, 5, 5), 0},
        {RGB(200, 100, 50), RGB(0, 0, 0), kColorize, RGB(255, 128, 0), RGB(124, 62, 0), 0x3CE0},
        // A tint with a high byte counts as its colour alone.
        {RGB(200, 100, 50), RGB(9, 9, 9), kColorize, 0xAB000000 | RGB(255, 128, 0), RGB(124, 62, 0),
         0},
    };
    const int bits = DisplayBits();
#ifdef _WIN32
    if (bits <= 16) { // Wine's 16-bit memory bitmaps are 5-5-5
#else
    if (bits < 16) {
#endif
        GTEST_SKIP() << "the rules' figures hold on true-colour displays and at 16 bits";
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.frame << " over " << c.back);
        if (bits == 16 && c.word == 0) {
            continue;
        }
        CImageEx image;
        ASSERT_EQ(
            image.Create(nullptr, SolidFile("solid.bmp", c.frame).c_str(), 1, RGB(1, 1, 1), 0, 0),
            1);
        Canvas canvas(Picture{1, 1, {c.back}});
        HDC dc = canvas.dc();
        EXPECT_EQ(c.op == kDraw    ? image.Draw(dc, 0, 0, 0)
                  : c.op == kAlpha ? image.DrawAlpha(dc, 0, 0, 0, static_cast<int>(c.param))
                                   : image.DrawColorize(dc, 0, 0, 0, c.param),
                  1);
        if (bits > 16) {
            EXPECT_EQ(canvas.Read().at(0, 0), c.want);
            continue;
        }
        // The pixel as the 16-bit word GetDIBits gives, padded to 4 bytes.
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), 1, 1, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
        DWORD row = 0;
        GetDIBits(canvas.dc(), canvas.handle(), 0, 1, &row, &info, DIB_RGB_COLORS);
        EXPECT_EQ(row & 0xFFFF, c.word);
    }
}

// Every weight from below 0 to above 256, with and without the key, over a background.
TEST(ImageExEffects, AlphaFollowsTheMixingRule) {
    const int bits = DisplayBits();
    const KeyedStrip s = MakeKeyedStrip(24, "alpha.bmp");
    const Picture background = RandomPicture(kStripW + 4, kStripH + 2, ExactColours(), 42);
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, s.file.c_str(), 3, s.key, 0, 0), 1);
    for (int transparent : {0, 1}) {
        for (int nAlpha : {-5, 0, 1, 64, 127, 128, 200, 255, 256, 300}) {
            SCOPED_TRACE(testing::Message()
                         << "transparent " << transparent << ", alpha " << nAlpha);
            const int a = std::clamp(nAlpha, 0, 256);
            const auto draw = [&](HDC dc) {
                const int r = transparent ? image.DrawAlphaTransparent(dc, 3, 1, 0, nAlpha)
                                          : image.DrawAlpha(dc, 3, 1, 0, nAlpha);
                EXPECT_EQ(r, bits > 8 ? 1 : 0);
            };
            if (bits > 16) {
                const Picture expected =
                    Compose(background, s.picture, 0, kStripW, 3, 1, [&](COLORREF f, COLORREF d) {
                        return transparent && f == s.key ? d : AlphaModel(f, d, a);
                    });
                EXPECT_TRUE(SamePicture(expected, DrawOver(background, draw)));
            } else if (bits <= 8) {
                // Palette displays: the frame is drawn unmixed, as Draw/DrawTransparent draw it.
                const Picture unmixed = DrawOver(background, [&](HDC dc) {
                    transparent ? image.DrawTransparent(dc, 3, 1, 0) : image.Draw(dc, 3, 1, 0);
                });
                EXPECT_TRUE(SamePicture(unmixed, DrawOver(background, draw)));
            }
        }
    }
}

// The three colorize operations differ only at the frame's key pixels.
TEST(ImageExEffects, ColorizeFollowsTheTintRule) {
    const int bits = DisplayBits();
    const KeyedStrip s = MakeKeyedStrip(24, "colorize.bmp");
    const Picture background = RandomPicture(kStripW + 4, kStripH + 2, ExactColours(), 42);
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, s.file.c_str(), 3, s.key, 0, 0), 1);
    enum Op { kPlain, kTransparent, kWithBack };
    for (COLORREF tint : {RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 128, 0), RGB(17, 99, 230),
                          static_cast<COLORREF>(0x7F0A0B0C)}) {
        for (Op op : {kPlain, kTransparent, kWithBack}) {
            SCOPED_TRACE(testing::Message() << "tint " << std::hex << tint << ", op " << op);
            const auto draw = [&](HDC dc) {
                const int r = op == kPlain ? image.DrawColorize(dc, 3, 1, -4, tint)
                              : op == kTransparent
                                  ? image.DrawColorizeTransparent(dc, 3, 1, -4, tint)
                                  : image.DrawColorizeWithBack(dc, 3, 1, -4, tint);
                EXPECT_EQ(r, 1);
            };
            const COLORREF t = tint & 0xFFFFFF;
            if (bits > 16) {
                const Picture expected =
                    Compose(background, s.picture, 0, kStripW, 3, 1, [&](COLORREF f, COLORREF d) {
                        if (op == kPlain || f != s.key) {
                            return TintModel(f, t);
                        }
                        return op == kWithBack ? TintModel(d, t) : d;
                    });
                EXPECT_TRUE(SamePicture(expected, DrawOver(background, draw)));
            } else if (bits <= 8 && op == kWithBack) {
                // On palette displays the destination plays no part: with-back draws as the
                // transparent operation does.
                const Picture transparent = DrawOver(
                    background, [&](HDC dc) { image.DrawColorizeTransparent(dc, 3, 1, -4, tint); });
                EXPECT_TRUE(SamePicture(transparent, DrawOver(background, draw)));
            }
        }
    }
}
