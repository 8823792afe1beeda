// Input the drawing operations must survive: strips without frames and frame sizes far beyond any
// bitmap (backgrounds held by another context and deleted destinations: with the refusals).
#include "image/draw_operations.h"
#include "image/strip_fixtures.h"

#include <climits>

using namespace drawtest;

namespace {

constexpr int kX = 5;
constexpr int kY = 4;

class ImageDrawBadInput : public ::testing::Test {
protected:
    StripPicture picture;
    BackgroundBitmap background;
};

} // namespace

// A strip whose later Create failed keeps its frame count and mode, so the frame checks pass and
// what is missing is found at the storage. Nothing is drawn. (A strip never created: with the
// refusals.)
TEST_F(ImageDrawBadInput, StripsWithoutFramesDrawNothing) {
    for (bool imageList : {false, true}) {
        CImage emptied;
        ASSERT_TRUE(CreateStrip(emptied, picture, true, imageList));
        ASSERT_EQ(emptied.Create("no such strip.bmp", 3, kKey, 1, imageList ? 1 : 0), 0);
        ASSERT_EQ(emptied.GetImageNum(), 3);
        for (const DrawOperation& op : DrawOperations()) {
            SCOPED_TRACE(::testing::Message()
                         << op.name << (imageList ? ", image list" : ", bitmap"));
            Destination dest;
            const std::vector<Raw> before = dest.Read();
            EXPECT_EQ(op.run(emptied, dest.DC(), kX, kY, 1, &background.bitmap), 0);
            EXPECT_EQ(dest.Read(), before);
        }
    }
}

// A caller can enlarge the frame size through GetImageSize. Blits clip to the bitmaps; no frame-
// or strip-sized scratch bitmap can be had, so the operations that compose off screen give 0 and
// draw nothing. None reads or writes outside a bitmap (the sanitizer build watches).
TEST_F(ImageDrawBadInput, HugeFramesAreClippedOrRefused) {
    for (CSize huge : {CSize(1 << 20, 1 << 20), CSize(INT_MAX, 1 << 20), CSize(INT_MAX, 3)}) {
        for (bool imageList : {false, true}) {
            CImage strip;
            ASSERT_TRUE(CreateStrip(strip, picture, true, imageList));
            strip.GetImageSize() = huge;
            strip.GetBitmapSize() = CSize(huge.cx, picture.height);
            for (const DrawOperation& op : DrawOperations()) {
                SCOPED_TRACE(::testing::Message()
                             << op.name << (imageList ? ", image list" : ", bitmap") << ", "
                             << huge.cx << " x " << huge.cy);
                Destination dest;
                const std::vector<Raw> before = dest.Read();
                const int result = op.run(strip, dest.DC(), kX, kY, 1, &background.bitmap);
                if (op.offscreen) {
                    EXPECT_EQ(result, 0);
                    EXPECT_EQ(dest.Read(), before);
                }
            }
        }
    }
}
