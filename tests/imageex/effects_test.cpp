// Alpha and colorize drawing of CImageEx frames, against per-pixel models of the two rules: the
// mix f + ((d - f) * a) >> 8 and the tint grey * t / 255 with grey = (30r + 59g + 11b) / 100.
// True-colour displays mix 8-bit channels, checked against the models here; 16-bit displays
// mix 5-bit channels (the loops are checked against the literal rules in host_test.cpp, the
// whole operation here on the rules' own figures, on our platform only: Wine's 16-bit memory
// bitmaps are 5-5-5); palette displays draw the frame unmixed, or through a tinted palette.
#include "imageex/imageex_fixture.h"

using namespace imageex_test;

namespace {

constexpr int kW = 11;
constexpr int kH = 5;

// A single-frame file of one colour.
std::string SolidFile(const char* name, COLORREF colour, int w = 2, int h = 2) {
    Picture p{w, h, std::vector<COLORREF>(static_cast<size_t>(w) * h, colour)};
    return WriteFile(name, StripFile(p, 24));
}

// Runs one effect at (x, y) over `background` and returns the destination.
template <class Op> Picture DrawOver(const Picture& background, Op op) {
    Canvas canvas(background);
    op(canvas.dc());
    return canvas.Read();
}

struct Scene {
    Picture strip; // two frames
    Picture background;
    COLORREF key;
    std::string file;
};

Scene MakeScene(const char* name) {
    const std::vector<COLORREF> colours = ExactColours();
    Scene s;
    s.key = colours[3];
    s.strip = RandomPicture(2 * kW, kH, colours, 41);
    for (int i = 0; i < kW * kH; i += 4) {
        s.strip.at(kW + i % kW, i / kW) = s.key; // frame 1 has key pixels
    }
    s.background = RandomPicture(kW + 4, kH + 2, colours, 42);
    s.file = WriteFile(name, StripFile(s.strip, 24));
    return s;
}

} // namespace

// The rule's own figures, on a true-colour display.
TEST(ImageExEffects, FiguresOfTheRules) {
    if (DisplayBits() <= 16) {
        GTEST_SKIP() << "8-bit channels are mixed on true-colour displays only";
    }
    using Draw = int (*)(CImageEx&, HDC);
    const struct {
        COLORREF frame, back;
        Draw draw;
        COLORREF want;
    } cases[] = {
        {RGB(200, 100, 50), RGB(0, 0, 0),
         [](CImageEx& i, HDC dc) { return i.DrawAlpha(dc, 0, 0, 0, 64); }, RGB(150, 75, 37)},
        {RGB(0, 0, 0), RGB(11, 11, 11),
         [](CImageEx& i, HDC dc) { return i.DrawAlpha(dc, 0, 0, 0, 128); }, RGB(5, 5, 5)},
        {RGB(11, 11, 11), RGB(0, 0, 0),
         [](CImageEx& i, HDC dc) { return i.DrawAlpha(dc, 0, 0, 0, 128); }, RGB(5, 5, 5)},
        {RGB(200, 100, 50), RGB(9, 9, 9),
         [](CImageEx& i, HDC dc) { return i.DrawColorize(dc, 0, 0, 0, RGB(255, 128, 0)); },
         RGB(124, 62, 0)},
        // A tint with a high byte counts as its colour alone.
        {RGB(200, 100, 50), RGB(9, 9, 9),
         [](CImageEx& i, HDC dc) {
             return i.DrawColorize(dc, 0, 0, 0, 0xAB000000 | RGB(255, 128, 0));
         },
         RGB(124, 62, 0)},
    };
    for (const auto& c : cases) {
        CImageEx image;
        ASSERT_EQ(
            image.Create(nullptr, SolidFile("solid.bmp", c.frame).c_str(), 1, RGB(1, 1, 1), 0, 0),
            1);
        const Picture bg{2, 2, std::vector<COLORREF>(4, c.back)};
        EXPECT_EQ(DrawOver(bg, [&](HDC dc) { EXPECT_EQ(c.draw(image, dc), 1); }).at(1, 1), c.want)
            << std::hex << c.frame << " over " << c.back;
    }
}

#ifndef _WIN32
// At 16 bits the 5-bit channels are mixed and tinted as they are: 200, 100, 50 is the word
// 0x6586, and with the tint 255, 128, 0 becomes 0x3CE0.
TEST(ImageExEffects, FiguresOfTheRulesAt16Bits) {
    if (DisplayBits() != 16) {
        GTEST_SKIP();
    }
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, SolidFile("w6586.bmp", RGB(200, 100, 50)).c_str(), 1, 0, 0, 0),
              1);
    // The pixel of a 1 x 1 destination, black before, as the 16-bit word GetDIBits gives.
    const auto word = [](auto draw) {
        Canvas canvas(1, 1);
        draw(canvas.dc());
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), 1, 1, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
        DWORD row = 0; // the word, padded to 4 bytes
        GetDIBits(canvas.dc(), canvas.handle(), 0, 1, &row, &info, DIB_RGB_COLORS);
        return row & 0xFFFF;
    };
    EXPECT_EQ(word([&](HDC dc) { image.Draw(dc, 0, 0, 0); }), 0x6586);
    EXPECT_EQ(word([&](HDC dc) { image.DrawColorize(dc, 0, 0, 0, RGB(255, 128, 0)); }), 0x3CE0);
    // 25, 12, 6 over black at a = 64: 25 - 6.25 -> 18, 12 - 3 -> 9, 6 - 1.5 -> 4.
    EXPECT_EQ(word([&](HDC dc) { image.DrawAlpha(dc, 0, 0, 0, 64); }), (18 << 10) | (9 << 5) | 4);
}
#endif

// Every weight from below 0 to above 256, with and without the key, over a background.
TEST(ImageExEffects, AlphaFollowsTheMixingRule) {
    const int bits = DisplayBits();
    const Scene s = MakeScene("alpha.bmp");
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, s.file.c_str(), 2, s.key, 0, 0), 1);
    for (int transparent : {0, 1}) {
        for (int nAlpha : {-5, 0, 1, 64, 127, 128, 200, 255, 256, 300}) {
            SCOPED_TRACE(testing::Message()
                         << "transparent " << transparent << ", alpha " << nAlpha);
            const int a = std::clamp(nAlpha, 0, 256);
            const auto draw = [&](HDC dc) {
                const int r = transparent ? image.DrawAlphaTransparent(dc, 3, 1, 1, nAlpha)
                                          : image.DrawAlpha(dc, 3, 1, 1, nAlpha);
                EXPECT_EQ(r, bits > 8 ? 1 : 0);
            };
            if (bits > 16) {
                const Picture expected =
                    Compose(s.background, s.strip, 1, kW, 3, 1, [&](COLORREF f, COLORREF d) {
                        return transparent && f == s.key ? d : AlphaModel(f, d, a);
                    });
                EXPECT_TRUE(SamePicture(expected, DrawOver(s.background, draw)));
            } else if (bits <= 8) {
                // Palette displays: the frame is drawn unmixed, as Draw/DrawTransparent draw it.
                const Picture unmixed = DrawOver(s.background, [&](HDC dc) {
                    transparent ? image.DrawTransparent(dc, 3, 1, 1) : image.Draw(dc, 3, 1, 1);
                });
                EXPECT_TRUE(SamePicture(unmixed, DrawOver(s.background, draw)));
            }
        }
    }
}

// The three colorize operations differ only at the frame's key pixels.
TEST(ImageExEffects, ColorizeFollowsTheTintRule) {
    const int bits = DisplayBits();
    const Scene s = MakeScene("colorize.bmp");
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, s.file.c_str(), 2, s.key, 0, 0), 1);
    enum Op { kPlain, kTransparent, kWithBack };
    for (COLORREF tint : {RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 128, 0), RGB(17, 99, 230),
                          static_cast<COLORREF>(0x7F0A0B0C)}) {
        for (Op op : {kPlain, kTransparent, kWithBack}) {
            SCOPED_TRACE(testing::Message() << "tint " << std::hex << tint << ", op " << op);
            const auto draw = [&](HDC dc) {
                const int r = op == kPlain ? image.DrawColorize(dc, 3, 1, 9, tint)
                              : op == kTransparent
                                  ? image.DrawColorizeTransparent(dc, 3, 1, 9, tint)
                                  : image.DrawColorizeWithBack(dc, 3, 1, 9, tint);
                EXPECT_EQ(r, 1);
            };
            const COLORREF t = tint & 0xFFFFFF;
            if (bits > 16) {
                const Picture expected =
                    Compose(s.background, s.strip, 1, kW, 3, 1, [&](COLORREF f, COLORREF d) {
                        if (op == kPlain || f != s.key) {
                            return TintModel(f, t);
                        }
                        return op == kWithBack ? TintModel(d, t) : d;
                    });
                EXPECT_TRUE(SamePicture(expected, DrawOver(s.background, draw)));
            } else if (bits <= 8 && op == kWithBack) {
                // On palette displays the destination plays no part: with-back draws as the
                // transparent operation does.
                const Picture transparent = DrawOver(s.background, [&](HDC dc) {
                    image.DrawColorizeTransparent(dc, 3, 1, 9, tint);
                });
                EXPECT_TRUE(SamePicture(transparent, DrawOver(s.background, draw)));
            }
        }
    }
}
