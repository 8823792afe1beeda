// A long random run of the animation slots on the manual clock: 64 slots, objects created and
// destroyed while they play, a million milliseconds of ticks. At every checkpoint the live
// bitmaps are exactly the strips and saved backgrounds the run holds, no context is left open and
// the timer runs exactly when it should; at the end everything, heap included, is back.
#include "imageex/animation_test_util.h"
#include "support/host_display.h"

#include <platform/host.h>

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using animation_test::kFrames;
using animation_test::kKey;
using testhost::Pass;

// Under AddressSanitizer the heap is its own (mallinfo2 sees none of it) and LeakSanitizer checks
// what is left at exit, so one run is enough there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRuns = 1;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kRuns = 1;
#else
constexpr int kRuns = 3;
#endif
#else
constexpr int kRuns = 3;
#endif

constexpr int kSlots = 64;
constexpr int kImages = 8;

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

struct SoakRun {
    HWND hwnd;
    std::string files[2];
    std::array<std::unique_ptr<CImageEx>, kImages> images;
    std::array<int, kSlots> owner; // index into images, -1 when free
    std::array<bool, kSlots> background;
    std::array<int, kImages> held{}; // bitmaps each image made when it was created
    bool timer = false;
    std::mt19937 rnd{20240613};

    int Pick(int n) { return static_cast<int>(rnd() % static_cast<unsigned>(n)); }

    void Step() {
        const int what = Pick(1000);
        const int i = Pick(kImages);
        const int slot = Pick(kSlots);
        if (what < 60) { // play
            if (!images[i]) {
                return;
            }
            const int modes[] = {1, 2, 3, 11, 12, 13, 14, 0, 30};
            const int mode = modes[Pick(9)];
            const int taken = images[i]->PlayAni(slot, Pick(400) - 20, hwnd, Pick(150), Pick(80),
                                                 mode, Pick(257));
            ASSERT_EQ(taken, owner[slot] < 0 ? 1 : 0);
            if (taken) {
                owner[slot] = i;
                background[slot] = mode >= 11;
                timer = true;
            }
        } else if (what < 100) { // stop, through any object
            const bool running = owner[slot] >= 0;
            if (images[i]) {
                ASSERT_EQ(images[i]->StopAni(slot), running ? 1 : 0);
                if (running && std::count(owner.begin(), owner.end(), -1) == kSlots - 1) {
                    timer = false; // that was the last one
                }
            } else {
                CImageEx any;
                ASSERT_EQ(any.StopAni(slot), running ? 1 : 0);
                timer = false; // `any` is gone
            }
            owner[slot] = -1;
            background[slot] = false;
        } else if (what < 106) { // create
            if (!images[i]) {
                const int before = host::live_gdi_objects(OBJ_BITMAP);
                images[i] = std::make_unique<CImageEx>();
                ASSERT_EQ(
                    images[i]->Create(hwnd, files[i % 2].c_str(), kFrames, kKey, 0, i % 3 == 0), 1);
                held[i] = host::live_gdi_objects(OBJ_BITMAP) - before;
            }
        } else if (what < 112) { // destroy
            if (images[i]) {
                images[i].reset();
                timer = false;
                for (int s = 0; s < kSlots; ++s) {
                    if (owner[s] == i) {
                        owner[s] = -1;
                        background[s] = false;
                    }
                }
            }
        }
    }

    // Bitmaps the run holds: what each image made when it was created, each saved background.
    int HeldBitmaps() const {
        int n = 0;
        for (int i = 0; i < kImages; ++i) {
            n += images[i] ? held[i] : 0;
        }
        for (bool b : background) {
            n += b ? 1 : 0;
        }
        return n;
    }
};

TEST(AnimationSoak, SixtyFourSlotsForAMillionMilliseconds) {
    animation_test::Window window(200, 100);
    ASSERT_NE(window.hwnd(), nullptr);
    const std::string files[2] = {
        animation_test::WriteStrip("soak-a.bmp", animation_test::StripPicture(1)),
        animation_test::WriteStrip("soak-b.bmp", animation_test::StripPicture(2))};
    const int bitmaps = host::live_gdi_objects(OBJ_BITMAP);
    const int total = host::live_gdi_objects_total();
    const int dcs = host::live_gdi_objects(OBJ_DC) + host::live_gdi_objects(OBJ_MEMDC);
    const int timers = host::live_timers();
    const int blocks = host::live_local_blocks();

    // The same run three times: the first grows the platform's tables and the heap's towards the
    // run's peaks; the third is then held to the second at every checkpoint and at the end.
    std::vector<std::size_t> heap[3];
    for (auto& h : heap) {
        h.reserve(128);
    }
    for (int pass = 0; pass < kRuns; ++pass) {
        SCOPED_TRACE(pass);
        SoakRun run;
        run.hwnd = window.hwnd();
        run.files[0] = files[0];
        run.files[1] = files[1];
        run.owner.fill(-1);
        run.background.fill(false);
        ASSERT_EQ(InitializeAnimation(kSlots), 1);
        for (int t = 0; t < 1000000; t += 10) {
            run.Step();
            ASSERT_FALSE(::testing::Test::HasFatalFailure());
            Pass(10);
            if (t % 10000 == 0) {
                SCOPED_TRACE(t);
                ASSERT_EQ(host::live_gdi_objects(OBJ_BITMAP), bitmaps + run.HeldBitmaps());
                ASSERT_EQ(host::live_gdi_objects(OBJ_DC) + host::live_gdi_objects(OBJ_MEMDC), dcs);
                ASSERT_EQ(host::live_timers(), timers + (run.timer ? 1 : 0));
                heap[pass].push_back(HeapInUse());
            }
        }
        ASSERT_EQ(TerminateAnimation(), 1);
        for (auto& image : run.images) {
            image.reset();
        }
        Pass(10);
        EXPECT_EQ(host::live_gdi_objects_total(), total);
        EXPECT_EQ(host::live_timers(), timers);
        EXPECT_EQ(host::live_local_blocks(), blocks);
        heap[pass].push_back(HeapInUse());
    }
    // A leak of one block per operation would show as tens of kilobytes (a hundred thousand steps
    // each run). Along the way the platform's tables may still reach a new peak a little later in
    // the second run than in the third, a few kilobytes held until the end of the run; once every
    // object is released the two runs must agree to the heap's own bookkeeping.
    for (size_t i = 0; kRuns == 3 && i + 1 < heap[1].size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(heap[2][i], heap[1][i] + 8192) << "heap in use at the same point of the run";
    }
    if (kRuns == 3 && !heap[1].empty()) {
        EXPECT_LE(heap[2].back(), heap[1].back() + 1024) << "heap in use after the run";
    }
}

} // namespace
