// The animation slots driven by a real message loop: the shared timer's ticks arrive through
// PeekMessageA/DispatchMessageA, every tick draws the next frame, and the timer really stops
// when the last slot is freed or any CImageEx is destroyed. Runs on both foundations (on
// Windows the timer's identifier is one Windows chose, which is what KillTimer must be given).
#include "imageex/animation_test_util.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace imageex_test;
using animation_test::kFrames;
using animation_test::kH;
using animation_test::kW;

// Waits (up to about 10 s) for one WM_TIMER and dispatches it, with whatever came before it;
// one tick at a time, even when the real clock lets the next one fall due meanwhile. False
// when none came.
bool DispatchNextTick() {
    for (int i = 0; i < 2000; ++i) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&m);
            if (m.message == WM_TIMER) {
                return true;
            }
        }
        Sleep(5);
    }
    return false;
}

// True when no WM_TIMER comes within 60 ms.
bool NoMoreTicks() {
    Sleep(60);
    MSG m;
    return !PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
}

class AnimationLoop : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<animation_test::Window>(64, 16);
        if (window_->hwnd() == nullptr) {
            GTEST_SKIP() << "no windows on this display";
        }
        strip_ = animation_test::StripPicture(3);
        image_ = std::make_unique<CImageEx>();
        ASSERT_EQ(image_->Create(window_->hwnd(),
                                 animation_test::WriteStrip("loop.bmp", strip_).c_str(), kFrames,
                                 animation_test::kKey, 0, 0),
                  1);
        window_->Paint(animation_test::Background(64, 16, 0));
    }
    void TearDown() override {
        TerminateAnimation();
        image_.reset();
        window_.reset();
    }

    // The frame shown with its top-left corner at (x, 0), -1 for none.
    int ShownFrame(int x) const { return animation_test::ShownFrame(*window_, strip_, x, 0); }

    std::unique_ptr<animation_test::Window> window_;
    std::unique_ptr<CImageEx> image_;
    Picture strip_;
};

TEST_F(AnimationLoop, TicksDrawFramesUntilTheLastSlotStops) {
    ASSERT_EQ(InitializeAnimation(2), 1);
    ASSERT_EQ(image_->PlayAni(0, 0, window_->hwnd(), 0, 0, 1, 0), 1);
    ASSERT_EQ(image_->PlayAni(1, 0, window_->hwnd(), 24, 0, 11, 0), 1);
    EXPECT_EQ(ShownFrame(0), -1) << "nothing before the first tick";
    // Interval 0: each tick draws the next frame of both slots.
    for (int tick = 0; tick < kFrames + 2; ++tick) {
        SCOPED_TRACE(tick);
        ASSERT_TRUE(DispatchNextTick()) << "the timer ticks through the message loop";
        EXPECT_EQ(ShownFrame(0), tick % kFrames);
        EXPECT_EQ(ShownFrame(24), tick % kFrames);
    }
    EXPECT_EQ(image_->StopAni(0), 1);
    const int slot1 = ShownFrame(24);
    ASSERT_TRUE(DispatchNextTick()) << "slot 1 keeps the timer running";
    EXPECT_EQ(ShownFrame(24), (slot1 + 1) % kFrames);
    EXPECT_EQ(image_->StopAni(1), 1);
    EXPECT_TRUE(NoMoreTicks()) << "KillTimer was given the timer's own identifier";
}

TEST_F(AnimationLoop, DestroyingAnyImageStopsTheTimer) {
    ASSERT_EQ(InitializeAnimation(1), 1);
    ASSERT_EQ(image_->PlayAni(0, 0, window_->hwnd(), 0, 0, 1, 0), 1);
    ASSERT_TRUE(DispatchNextTick());
    { CImageEx other; }
    EXPECT_TRUE(NoMoreTicks());
    const int shown = ShownFrame(0);
    EXPECT_EQ(image_->PlayAni(0, 0, window_->hwnd(), 0, 0, 1, 0), 0) << "the slot is still taken";
    EXPECT_TRUE(NoMoreTicks()) << "an occupied slot's PlayAni does not restart the timer";
    EXPECT_EQ(ShownFrame(0), shown);
    // Terminating with the slot occupied frees it and leaves no timer behind.
    EXPECT_EQ(TerminateAnimation(), 1);
    EXPECT_TRUE(NoMoreTicks());
}

} // namespace
