// Drawing frames onto a device context: each operation's pixels against the rule it draws by, in
// both storage modes and at the display depth of the run; the palette step; and what every
// operation refuses.
#include "image/draw_operations.h"
#include "image/strip_fixtures.h"

#include <climits>
#include <functional>
#include <map>

using namespace drawtest;

namespace {

constexpr int kX = 9;
constexpr int kY = 6;

class ImageDraw : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(strips.ok); }
    Strips strips;
    BackgroundBitmap background;
};

} // namespace

// Every frame, in both modes, over two different destinations: the frame's rectangle follows
// the operation's rule, nothing outside it changes, and on palette displays the destination ends
// with the dither palette. An animation leaves its last frame. The background operations give the
// same pixels over both destinations: they never read it.
TEST_F(ImageDraw, EachOperationDrawsByItsRule) {
    const int w = strips.picture.frameWidth;
    const int h = strips.picture.height;
    const int last = strips.picture.frames - 1;
    // Only if an earlier frame covers a pixel that the last leaves transparent does the last
    // frame show whether each frame of an animation was laid over the original pixels.
    bool covered = false;
    for (int p = 0; p < w * h; ++p) {
        covered |= strips.Key(last, p % w, p / w) && !strips.Key(0, p % w, p / w);
    }
    ASSERT_TRUE(covered);

    // What shows where a frame's pixel is hidden (the key, or for the half-transparent frames
    // also the checkerboard's holes), given the destination's pixel.
    using Under = std::function<Raw(int i, int j, Raw was)>;
    const Under keyColour = [](int, int, Raw) { return RawOf(kKey); };
    const Under destination = [](int, int, Raw was) { return was; };
    const Under backColour = [](int, int, Raw) { return RawOf(kBackColour); };
    const Under backgroundBitmap = [&](int i, int j, Raw) { return background.At(20 + i, 10 + j); };
    const std::map<std::string, Under> underOf = {
        {"Draw", keyColour},
        {"Draw rectangle", keyColour},
        {"Animate", keyColour},
        {"DrawTransparent", destination},
        {"DrawSemiTransparent", destination},
        {"AnimateTransparent", destination},
        {"DrawOnColor", [](int, int, Raw) { return RawOf(RGB(0, 0, 0)); }},
        {"DrawTransparentSetBkColor", backColour},
        {"DrawSemiTransparentSetBkColor", backColour},
        {"DrawTransparentSetBackground", backgroundBitmap},
        {"DrawSemiTransparentSetBackground", backgroundBitmap},
        {"AnimateTransparentSetBackground", backgroundBitmap},
    };
    for (const DrawOperation& op : DrawOperations()) {
        const auto under = underOf.find(op.name);
        if (under == underOf.end()) {
            continue; // selected and focused: the platform's styles, below
        }
        for (bool imageList : {false, true}) {
            if (!op.RunsIn(imageList)) {
                continue;
            }
            for (int frame = 0; frame < strips.picture.frames; ++frame) {
                const int shown = op.animation ? last : frame;
                for (unsigned seed : {7u, 8u}) {
                    SCOPED_TRACE(::testing::Message()
                                 << op.name << (imageList ? ", image list" : ", bitmap")
                                 << ", frame " << shown << ", destination " << seed);
                    Destination dest(seed);
                    const std::vector<Raw> before = dest.Read();
                    EXPECT_NE(op.run(strips.Semi(imageList), dest.DC(), kX, kY, frame,
                                     &background.bitmap),
                              0);
                    EXPECT_TRUE(
                        MatchesModel(dest.Read(), before, kX, kY, w, h, [&](int i, int j, Raw was) {
                            const bool hidden =
                                op.semi ? strips.SemiKey(shown, i, j) : strips.Key(shown, i, j);
                            if (!hidden) {
                                return strips.Pixel(shown, i, j);
                            }
                            return under->second(i, j, was);
                        }));
                    EXPECT_TRUE(HasDitherPalette(dest.Palette()));
                }
                if (op.animation) {
                    break;
                }
            }
        }
    }
}

// The rectangle copy knows nothing of frames: it may start inside one and span several.
TEST_F(ImageDraw, DrawRectangleCopiesAnyPieceOfTheStripBitmap) {
    Destination dest;
    const std::vector<Raw> before = dest.Read();
    // Columns 5 to 14 span frames 0, 1 and 2 (frames are 7 wide).
    EXPECT_NE(strips.bitmapSemi.Draw(dest.DC(), kX, kY, CPoint(10, 4), 5, 1), 0);
    EXPECT_TRUE(MatchesModel(dest.Read(), before, kX, kY, 10, 4, [&](int i, int j, Raw) {
        return RawOf(strips.picture.At(5 + i, 1 + j));
    }));
}

// Selected and focused are the platform's own list styles: the strip's list draws exactly what a
// list filled by hand from the same frames draws, and its key pixels keep the destination.
TEST_F(ImageDraw, SelectedAndFocusedAreThePlatformsListStyles) {
    const int w = strips.picture.frameWidth;
    const int h = strips.picture.height;
    // The reference list, from a bitmap of the same picture (its colours are exact at every depth).
    CBitmap copy;
    copy.Attach(strip_fixtures::MakeDdb(strips.picture.Width(), h,
                                        [&](int x, int y) { return strips.picture.At(x, y); }));
    HIMAGELIST reference = ImageList_Create(w, h, ILC_MASK | strip_fixtures::ImageListColourFlag(),
                                            strips.picture.frames, 1);
    ASSERT_NE(reference, nullptr);
    ASSERT_EQ(ImageList_AddMasked(reference, copy, kKey), 0);
    ImageList_SetBkColor(reference, CLR_NONE);

    const struct {
        const char* name;
        UINT style;
        int (CImage::*draw)(CDC*, int, int, int);
    } styles[] = {{"selected", ILD_SELECTED, &CImage::DrawSelected},
                  {"focused", ILD_FOCUS, &CImage::DrawFocused}};
    for (const auto& s : styles) {
        for (int frame = 0; frame < strips.picture.frames; ++frame) {
            SCOPED_TRACE(::testing::Message() << s.name << ", frame " << frame);
            Destination dest, expected;
            const std::vector<Raw> before = dest.Read();
            EXPECT_NE((strips.listSemi.*s.draw)(dest.DC(), kX, kY, frame), 0);
            EXPECT_TRUE(HasDitherPalette(dest.Palette()));
            // The reference draws under the palette the call left (on palette displays the
            // highlight colour maps through it).
            ::SelectPalette(expected.DC()->GetSafeHdc(), static_cast<HPALETTE>(dest.Palette()),
                            FALSE);
            ::RealizePalette(expected.DC()->GetSafeHdc());
            ASSERT_TRUE(
                ImageList_Draw(reference, frame, expected.DC()->GetSafeHdc(), kX, kY, s.style));
            const std::vector<Raw> want = expected.Read();
            EXPECT_TRUE(MatchesModel(dest.Read(), before, kX, kY, w, h, [&](int i, int j, Raw b) {
                const Raw listed = want[static_cast<size_t>(kY + j) * Destination::kWidth + kX + i];
                // Key pixels must keep the destination whatever the list style does.
                return strips.Key(frame, i, j) ? b : listed;
            }));
        }
    }
    ImageList_Destroy(reference);
}

// A call that a check refuses returns 0 before the palette step: the destination keeps its
// pixels and its palette. The checks: a frame index not in 0 .. count - 1, the mode the operation
// needs, the half-transparent frames, a background bitmap, and (for every operation) a live
// destination. A background the caller holds selected, and a strip whose later Create failed
// (it keeps its frame count and mode, so what is missing is found at the storage), are refused
// too, but after the palette step; the background is never written.
TEST_F(ImageDraw, RefusalsLeaveTheDestinationAlone) {
    CImage never, emptied[2];
    for (int list : {0, 1}) {
        ASSERT_TRUE(CreateStrip(emptied[list], strips.picture, true, list != 0));
        ASSERT_EQ(emptied[list].Create("no such strip.bmp", 3, kKey, 1, list), 0);
    }
    for (const DrawOperation& op : DrawOperations()) {
        for (bool imageList : {false, true}) {
            struct Refused {
                std::string why;
                CImage* strip;
                int frame;
                bool background;
                bool held = false; // the background selected into the caller's own context
                bool late = false; // found after the palette step
            };
            std::vector<Refused> cases;
            CImage* semi = &strips.Semi(imageList);
            if (op.TakesFrameIndex()) {
                for (int frame : {3, 4, -1, INT_MIN}) {
                    cases.push_back({"frame " + std::to_string(frame), semi, frame, true});
                }
            }
            if (!op.RunsIn(imageList)) {
                cases.push_back({"wrong mode", semi, 0, true});
            }
            if (op.semi) {
                cases.push_back({"no half-transparent frames", &strips.Plain(imageList), 0, true});
            }
            if (op.background) {
                cases.push_back({"null background", semi, 0, false});
                cases.push_back({"background selected elsewhere", semi, 0, true, true, true});
            }
            // An empty strip fails the rectangle copy only at the selection, after the palette
            // step, as the emptied one does.
            if (op.modes != DrawOperation::kBitmapOnly) {
                cases.push_back({"never created", &never, 0, true});
            }
            cases.push_back(
                {"emptied by a failed Create", &emptied[imageList], 1, true, false, true});
            for (const Refused& c : cases) {
                SCOPED_TRACE(::testing::Message()
                             << op.name << (imageList ? ", image list" : ", bitmap") << ": "
                             << c.why);
                CBitmap* bg = c.background ? &background.bitmap : nullptr;
                Destination dest;
                const std::vector<Raw> before = dest.Read();
                CDC holder;
                holder.CreateCompatibleDC(nullptr);
                HGDIOBJ previous = c.held ? ::SelectObject(holder, bg->GetSafeHandle()) : nullptr;
                EXPECT_EQ(op.run(*c.strip, dest.DC(), kX, kY, c.frame, bg), 0);
                if (c.held) {
                    EXPECT_EQ(::SelectObject(holder, previous), bg->GetSafeHandle());
                }
                EXPECT_EQ(dest.Read(), before);
                if (!c.late) {
                    EXPECT_EQ(dest.Palette(), GetStockObject(DEFAULT_PALETTE));
                }
            }
            // No destination, or a wrapper whose context was deleted.
            CDC stale;
            ASSERT_TRUE(stale.CreateCompatibleDC(nullptr));
            ASSERT_TRUE(::DeleteDC(stale.GetSafeHdc()));
            for (CDC* dc : {static_cast<CDC*>(nullptr), &stale}) {
                EXPECT_EQ(op.run(*semi, dc, kX, kY, 0, &background.bitmap), 0);
            }
            stale.Detach();
        }
    }
    EXPECT_EQ(ReadRaw(&background.bitmap), background.pixels);
}

// A caller can enlarge the frame size through GetImageSize. Blits clip to the bitmaps; no frame-
// or strip-sized scratch bitmap can be had, so the operations that compose off screen give 0 and
// draw nothing. None reads or writes outside a bitmap (the sanitizer build watches).
TEST_F(ImageDraw, HugeFramesAreClippedOrRefused) {
    for (CSize huge : {CSize(1 << 20, 1 << 20), CSize(INT_MAX, 1 << 20), CSize(INT_MAX, 3)}) {
        for (bool imageList : {false, true}) {
            CImage strip;
            ASSERT_TRUE(CreateStrip(strip, strips.picture, true, imageList));
            strip.GetImageSize() = huge;
            strip.GetBitmapSize() = CSize(huge.cx, strips.picture.height);
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
