// Every drawing operation with each of its creations made to fail in turn, at each display
// depth and in both modes: nothing leaks, a call that reports failure has not touched the
// destination, and a failure among the operation's own working objects is reported.
#include "image/draw_operations.h"
#include "image/draw_strips.h"

#include "fault_sweep.h"

#include <map>
#include <memory>

using namespace drawtest;

namespace {

void AttachAt(int bits) {
    HMODULE library = GetModuleHandleA("TALVO.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_TRUE(FreeLibrary(library));
    host::DisplayMode mode;
    mode.bits_per_pixel = bits;
    ASSERT_TRUE(host::set_display_mode(mode));
    ASSERT_NE(LoadLibraryA("TALVO.dll"), nullptr);
}

class ImageDrawFaults : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { AttachAt(GetParam()); }
    void TearDown() override {
        host::clear_faults();
        AttachAt(32);
    }
};

// How many creations each operation makes itself before anything reaches the destination (the
// memory contexts, the off-screen bitmap, the brush); a failure of any of them ends the call
// with 0. What the frame draws make after them belongs to the image list or the colour-key blit.
int OwnCreations(const DrawOperation& op, bool imageList) {
    static const std::map<std::string, int> bitmapMode = {
        {"Draw", 1},
        {"Draw rectangle", 1},
        {"Animate", 1},
        {"DrawTransparentSetBackground", 3},
        {"DrawTransparentSetBkColor", 3},
        {"DrawSemiTransparentSetBackground", 3},
        {"DrawSemiTransparentSetBkColor", 3},
        {"AnimateTransparent", 2},
        {"AnimateTransparentSetBackground", 3},
    };
    if (imageList && !op.offscreen) {
        return 0;
    }
    const auto found = bitmapMode.find(op.name);
    return found == bitmapMode.end() ? 0 : found->second;
}

} // namespace

TEST_P(ImageDrawFaults, EveryCreationThatFailsIsSurvived) {
    StripPicture picture;
    BackgroundBitmap background;
    for (bool imageList : {false, true}) {
        CImage strip;
        ASSERT_TRUE(CreateStrip(strip, picture, true, imageList));
        for (const DrawOperation& op : DrawOperations()) {
            if (!op.RunsIn(imageList)) {
                continue;
            }
            SCOPED_TRACE(::testing::Message()
                         << op.name << (imageList ? ", image list" : ", bitmap"));
            std::unique_ptr<Destination> dest;
            std::vector<Raw> before;
            int result = 0;
            const unsigned swept = sweep_creations(
                [&] {
                    dest = std::make_unique<Destination>();
                    before = dest->Read();
                },
                [&] { result = op.run(strip, dest->DC(), 5, 4, 1, background.bitmap.Bitmap()); },
                [&](unsigned failed) {
                    if (failed == 0) {
                        EXPECT_NE(result, 0);
                    } else if (static_cast<int>(failed) <= OwnCreations(op, imageList)) {
                        EXPECT_EQ(result, 0);
                    } else if (imageList && !op.animation) {
                        // The list's draw reports its own failures, and they end the call.
                        EXPECT_EQ(result, 0);
                    }
                    if (result == 0) {
                        EXPECT_EQ(dest->Read(), before);
                    }
                    dest.reset();
                });
            EXPECT_GE(swept, static_cast<unsigned>(OwnCreations(op, imageList)));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, ImageDrawFaults, ::testing::Values(32, 16, 8),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "bpp";
                         });
