// Plain and colour-key drawing of CImageEx frames, on the blit path and the image-list path,
// checked pixel by pixel against what the operation defines; and what every drawing operation
// does with an empty object or a palette.
#include "imageex/imageex_fixture.h"

using namespace imageex_test;

namespace {

constexpr int kFrames = 3;
constexpr int kW = kStripW;
constexpr int kH = kStripH;

} // namespace

// Both operations on both paths, every frame and indices out of range, over a background.
TEST(ImageExDraw, PlainAndKeyedOnBothPaths) {
    const KeyedStrip strip = MakeKeyedStrip(DisplayBits() <= 8 ? 8 : 24, "keyed.bmp");
    const auto plain = [](COLORREF f, COLORREF) { return f; };
    for (int listMode : {0, 1}) {
        CImageEx image;
        ASSERT_EQ(image.Create(nullptr, strip.file.c_str(), kFrames, strip.key, 0, listMode), 1);
        ASSERT_EQ(CImageExProbe::ImageListMethod(image), listMode);
        const KeyedStrip& s = strip;
        const auto keyed = [&s](COLORREF f, COLORREF d) { return f == s.key ? d : f; };
        for (int transparent : {0, 1}) {
            for (int nImage : {0, 1, 2, 3, -4}) {
                SCOPED_TRACE(testing::Message() << "list " << listMode << ", transparent "
                                                << transparent << ", frame " << nImage);
                const int frame = nImage < 0 ? 0 : std::min(nImage, kFrames - 1);
                const Picture background = RandomPicture(kW + 6, kH + 4, ExactColours(), 77);
                Canvas canvas(background);
                const int result = transparent ? image.DrawTransparent(canvas.dc(), 2, 3, nImage)
                                               : image.Draw(canvas.dc(), 2, 3, nImage);
                EXPECT_NE(result, 0);
                if (!ValuesComparable()) {
                    continue;
                }
                // The plain operation shows key pixels in the key colour itself on both paths.
                const Picture expected =
                    transparent ? Compose(background, s.picture, frame, kW, 2, 3, keyed)
                                : Compose(background, s.picture, frame, kW, 2, 3, plain);
                EXPECT_TRUE(SamePicture(expected, canvas.Read()));
                if (transparent && frame == 1) {
                    EXPECT_TRUE(SamePicture(background, canvas.Read()));
                }
            }
        }
    }
}

TEST(ImageExDraw, DestinationKeepsItsPalette) {
    const KeyedStrip s = MakeKeyedStrip(8, "palette.bmp");
    struct {
        WORD version, count;
        PALETTEENTRY entries[2];
    } log = {0x300, 2, {{1, 2, 3, 0}, {4, 5, 6, 0}}};
    HPALETTE mine = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&log));
    for (int listMode : {0, 1}) {
        CImageEx image;
        ASSERT_EQ(image.Create(nullptr, s.file.c_str(), kFrames, s.key, 0, listMode), 1);
        ASSERT_NE(CImageExProbe::Palette(image), nullptr);
        Canvas canvas(kW, kH);
        HPALETTE before = SelectPalette(canvas.dc(), mine, FALSE);
        for (const DrawOperation& op : kDrawOperations) {
            op.run(image, canvas.dc(), 0);
            EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_PAL), mine) << op.name;
        }
        SelectPalette(canvas.dc(), before, FALSE);
    }
    DeleteObject(mine);

    CImageEx empty;
    const Picture background = RandomPicture(4, 4, ExactColours(), 2);
    Canvas canvas(background);
    for (const DrawOperation& op : kDrawOperations) {
        EXPECT_EQ(op.run(empty, canvas.dc(), 0), 0) << op.name;
    }
    if (ValuesComparable()) {
        EXPECT_TRUE(SamePicture(background, canvas.Read()));
    }
}
