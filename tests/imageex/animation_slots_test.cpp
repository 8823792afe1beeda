// The animation slots on the manual clock: when frames come, what each mode leaves on the window
// at every tick, how a taken slot moves, and the tables and slot numbers. Native only: it moves
// the clock by hand and counts live timers and objects. (When the shared timer runs, which
// objects stop and free which slots, and what each holds: the soak test checks them at every
// checkpoint of a long random run, the loop test with a real message loop.)
#include "imageex/animation_test_util.h"
#include "support/host_display.h"

#include <platform/host.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace imageex_test;
using animation_test::kFrames;
using animation_test::kH;
using animation_test::kKey;
using animation_test::kW;
using testhost::Pass;

class AnimationSlots : public ::testing::Test {
protected:
    void SetUp() override {
        Pass(0);
        timers_ = host::live_timers();
        bitmaps_ = host::live_gdi_objects(OBJ_BITMAP);
        dcs_ = host::live_gdi_objects(OBJ_DC) + host::live_gdi_objects(OBJ_MEMDC);
        blocks_ = host::live_local_blocks();
        host::set_tick_count(1000);
        window_ = std::make_unique<animation_test::Window>(80, 40);
        strip_ = animation_test::StripPicture(1);
        image_ = std::make_unique<CImageEx>();
        ASSERT_EQ(image_->Create(window_->hwnd(),
                                 animation_test::WriteStrip("slots.bmp", strip_).c_str(), kFrames,
                                 kKey, 0, 0),
                  1);
    }
    void TearDown() override {
        TerminateAnimation();
        image_.reset();
        window_.reset();
        EXPECT_EQ(host::live_timers(), timers_);
        EXPECT_EQ(host::live_gdi_objects(OBJ_BITMAP), bitmaps_);
        EXPECT_EQ(host::live_gdi_objects(OBJ_DC) + host::live_gdi_objects(OBJ_MEMDC), dcs_);
        EXPECT_EQ(host::live_local_blocks(), blocks_);
    }

    // The frame index a slot in mode 1 at (x, y) shows, or -1 for none of them.
    int ShownFrame(int x, int y) const {
        return animation_test::ShownFrame(*window_, strip_, x, y);
    }

    int timers_ = 0, bitmaps_ = 0, dcs_ = 0, blocks_ = 0;
    std::unique_ptr<animation_test::Window> window_;
    Picture strip_;
    std::unique_ptr<CImageEx> image_;
};

TEST_F(AnimationSlots, EachModeComposesItsFrameOnTheWindowAtEveryTick) {
    struct Case {
        const char* name;
        int mode;
        int param;
    };
    const Case cases[] = {
        {"plain", 1, 0},
        {"alpha", 2, 96},
        {"colorize", 3, static_cast<int>(RGB(255, 128, 40))},
        {"keyed", 11, 0},
        {"keyed alpha", 12, 160},
        {"keyed colorize", 13, static_cast<int>(RGB(90, 200, 255))},
        {"colorize with back", 14, static_cast<int>(RGB(255, 255, 255))},
        {"no frame below 11: black", 7, 0},
        {"no frame from 11: the background", 20, 0},
    };
    const int x = 13, y = 9;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture before = window_->Paint(animation_test::Background(80, 40, c.mode));
        ASSERT_EQ(InitializeAnimation(2), 1);
        ASSERT_EQ(image_->PlayAni(1, 0, window_->hwnd(), x, y, c.mode, c.param), 1);
        EXPECT_TRUE(SamePicture(before, window_->Read())) << "nothing drawn before the first tick";
        for (int tick = 0; tick < kFrames + 2; ++tick) {
            SCOPED_TRACE(tick);
            Pass(10);
            const Picture expected =
                Compose(before, strip_, tick % kFrames, kW, x, y, [&](COLORREF f, COLORREF under) {
                    return animation_test::ModeModel(c.mode, c.param, f, under);
                });
            ASSERT_TRUE(SamePicture(expected, window_->Read()));
        }
        EXPECT_EQ(image_->StopAni(1), 1);
        EXPECT_EQ(TerminateAnimation(), 1);
    }
}

TEST_F(AnimationSlots, FramesComeOnTheFirstTickAfterTheIntervalHasPassed) {
    // Ticks come every 10 ms after PlayAni; a frame is drawn on the first tick more than the
    // interval after the last one (the first on the first tick after time 0).
    struct Case {
        const char* name;
        DWORD start; // tick count when PlayAni is called
        int interval;
        DWORD first;  // tick count of the first frame
        DWORD period; // between frames; 0: no frame at all
    };
    const Case cases[] = {
        {"interval 0: every tick", 1000, 0, 1010, 10},
        {"interval 10: every other tick", 1000, 10, 1010, 20},
        {"interval 100: the first tick 101 ms on", 1000, 100, 1010, 110},
        {"interval 25 near time 0: not before time 26", 5, 25, 35, 30},
        {"negative interval: never", 1000, -1, 0, 0},
        {"a first tick at time 0 is no later than time 0", 0xFFFFFFF6u, 0, 10, 10},
        {"across the wrap", 0xFFFFFF00u, 100, 0xFFFFFF0Au, 110},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window_->Paint(animation_test::Background(80, 40, 0));
        ASSERT_EQ(InitializeAnimation(1), 1);
        host::set_tick_count(c.start);
        ASSERT_EQ(image_->PlayAni(0, c.interval, window_->hwnd(), 0, 0, 1, 0), 1);
        std::vector<DWORD> draws, expected;
        std::vector<int> frames;
        int shown = ShownFrame(0, 0);
        for (DWORD passed = 10; passed <= 250; passed += 10) {
            Pass(10);
            const int now = ShownFrame(0, 0);
            if (now != shown) {
                draws.push_back(GetTickCount());
                frames.push_back(now);
                shown = now;
            }
        }
        for (DWORD t = c.first; c.period != 0 && t - c.start <= 250; t += c.period) {
            expected.push_back(t);
        }
        EXPECT_EQ(draws, expected);
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i], static_cast<int>(i % kFrames)) << "frames cycle 0, 1, 2, 3, 0";
        }
        TerminateAnimation();
    }
}

TEST_F(AnimationSlots, AnOccupiedSlotOnlyMovesAndKeepsTheBackgroundSavedFirst) {
    const Picture before = window_->Paint(animation_test::Background(80, 40, 11));
    Picture other = animation_test::StripPicture(2);
    CImageEx intruder;
    ASSERT_EQ(intruder.Create(window_->hwnd(),
                              animation_test::WriteStrip("other.bmp", other).c_str(), kFrames, kKey,
                              0, 0),
              1);
    ASSERT_EQ(InitializeAnimation(3), 1);
    ASSERT_EQ(image_->PlayAni(2, 0, window_->hwnd(), 4, 3, 12, 200), 1);
    Pass(10); // frame 0 at (4, 3)
    const int bitmaps = host::live_gdi_objects(OBJ_BITMAP);
    // The owner moves it; another object's call moves it too, without taking it over.
    EXPECT_EQ(image_->PlayAni(2, 500, nullptr, 40, 20, 1, 64), 0);
    EXPECT_EQ(intruder.PlayAni(2, 500, nullptr, 50, 25, 1, 32), 0);
    EXPECT_EQ(host::live_gdi_objects(OBJ_BITMAP), bitmaps) << "no second background";
    const Picture after_first = window_->Read();
    Pass(10);
    // Frame 1 of the owner's strip, mixed by the new parameter over the background of (4, 3),
    // at the last position; the interval and mode are the first call's. Outside the new place
    // the window keeps what it showed.
    Picture expected = after_first;
    for (int j = 0; j < kH; ++j) {
        for (int i = 0; i < kW; ++i) {
            expected.at(50 + i, 25 + j) =
                animation_test::ModeModel(12, 32, strip_.at(kW + i, j), before.at(4 + i, 3 + j));
        }
    }
    EXPECT_TRUE(SamePicture(expected, window_->Read()));
}

TEST_F(AnimationSlots, TablesAndSlotNumbers) {
    EXPECT_EQ(TerminateAnimation(), 0) << "no tables";
    EXPECT_EQ(image_->PlayAni(0, 0, window_->hwnd(), 0, 0, 1, 0), 0) << "no tables";
    EXPECT_EQ(InitializeAnimation(-1), 0);
    EXPECT_EQ(InitializeAnimation(0), 1);
    EXPECT_EQ(host::live_local_blocks(), blocks_) << "nothing to hold";
    EXPECT_EQ(image_->PlayAni(0, 0, window_->hwnd(), 0, 0, 1, 0), 0);
    EXPECT_EQ(TerminateAnimation(), 0) << "a count of 0 is no table";

    EXPECT_EQ(InitializeAnimation(3), 1) << "accepted after a count of 0";
    EXPECT_EQ(InitializeAnimation(5), 0) << "tables exist";
    for (int slot : {-1, 3, 4, 0x7FFFFFFF}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(image_->PlayAni(slot, 0, window_->hwnd(), 0, 0, 1, 0), 0);
        EXPECT_EQ(image_->StopAni(slot), 0);
        image_->DrawAnimation(slot); // draws nothing, holds nothing
    }
    EXPECT_EQ(host::live_timers(), timers_);
    EXPECT_EQ(image_->PlayAni(2, 0, window_->hwnd(), 0, 0, 14, 0), 1) << "the first tables stay";

    // Terminating with a slot running stops it: its background and the timer go too.
    EXPECT_EQ(TerminateAnimation(), 1);
    EXPECT_EQ(host::live_timers(), timers_);
    EXPECT_EQ(host::live_gdi_objects(OBJ_BITMAP), bitmaps_ + 1) << "only the strip is left";
    EXPECT_EQ(host::live_local_blocks(), blocks_);
    EXPECT_EQ(image_->StopAni(2), 0);
    EXPECT_EQ(InitializeAnimation(1), 1);
}

} // namespace
