// The live screen: presenting the framebuffer between messages, real time handed to a waiter,
// and mouse input reaching the window under a point.
#include <windows.h>
#include <platform/host.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A window of the STATIC class at (x, y), w x h, shown; a child of `parent` when it is given.
HWND window(int x, int y, int w, int h, HWND parent = nullptr, DWORD shown = WS_VISIBLE) {
    return CreateWindowExA(0, "STATIC", "", (parent ? WS_CHILD : WS_POPUP) | shown, x, y, w, h,
                           parent, nullptr, nullptr, nullptr);
}

// Dispatches whatever is waiting.
void drain() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&m);
    }
}

class LiveScreen : public ::testing::Test {
protected:
    void SetUp() override { drain(); }
    void TearDown() override {
        host::set_presenter(nullptr);
        host::set_waiter(nullptr);
        host::set_real_time(false);
        drain();
    }
};

TEST_F(LiveScreen, PresentsOnceAfterEachReleasedContext) {
    HWND w = window(10, 20, 30, 40);
    ASSERT_NE(w, nullptr);
    int shown = 0;
    BYTE* bits = nullptr;
    host::set_presenter([&](const host::Framebuffer& fb) {
        ++shown;
        bits = fb.bits;
        MSG m;
        PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE); // does not present again from inside
    });
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(shown, 1) << "a new presenter is shown the screen at once";
    EXPECT_EQ(bits, host::screen_framebuffer().bits);
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(shown, 1) << "nothing was drawn";

    HDC dc = GetDC(w);
    SetPixel(dc, 1, 1, RGB(9, 9, 9));
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(shown, 1) << "still held";
    ReleaseDC(w, dc);
    ReleaseDC(w, dc); // a second release changes nothing
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(shown, 2);

    host::present();
    EXPECT_EQ(shown, 3);
    DestroyWindow(w);
}

TEST_F(LiveScreen, RealTimeHandsTheWaitToTheWaiter) {
    host::set_real_time(true);
    EXPECT_TRUE(host::real_time());
    std::vector<DWORD> waits;
    int calls = 0;
    host::set_waiter([&](DWORD max_ms) {
        waits.push_back(max_ms);
        if (++calls == 2) {
            PostMessageA(nullptr, WM_USER, 7, 0);
        }
    });
    MSG m;
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(waits, (std::vector<DWORD>{INFINITE, INFINITE})) << "no timer to wait for";

    waits.clear();
    const UINT_PTR id = SetTimer(nullptr, 0, 500, nullptr);
    host::set_waiter([&](DWORD max_ms) {
        waits.push_back(max_ms);
        PostQuitMessage(3);
    });
    EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.wParam, 3u);
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_LE(waits[0], 500u) << "never past the timer";
    KillTimer(nullptr, id);
}

TEST_F(LiveScreen, RealTimeWithoutWaiterSleepsForTheTimer) {
    host::set_real_time(true);
    const DWORD before = GetTickCount();
    Sleep(20);
    const DWORD slept = GetTickCount();
    EXPECT_GE(slept - before, 20u) << "Sleep really sleeps";

    const UINT_PTR id = SetTimer(nullptr, 0, 30, nullptr);
    MSG m;
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    EXPECT_GE(m.time - slept, 30u);
    KillTimer(nullptr, id);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0)) << "nothing can arrive";
    testing::internal::GetCapturedStderr();

    const DWORD last = GetTickCount();
    host::set_real_time(false);
    EXPECT_LT(GetTickCount() - last, 0x80000000u) << "turning it off keeps the time that passed";
}

TEST_F(LiveScreen, MouseInputGoesToTheDeepestWindowUnderThePoint) {
    HWND top = window(10, 20, 300, 200);
    HWND child = window(5, 5, 50, 50, top);
    HWND hidden = window(100, 100, 50, 50, top, 0);
    ASSERT_TRUE(top && child && hidden);
    drain(); // the shown windows' paint messages; only input is looked at below
    struct Case {
        const char* name;
        int x, y;
        UINT msg;
        HWND target;
        int cx, cy;
    };
    const Case cases[] = {
        {"top-level", 12, 23, WM_MOUSEMOVE, top, 2, 3},
        {"child", 20, 30, WM_LBUTTONDOWN, child, 5, 5},
        {"under a hidden child", 115, 125, WM_LBUTTONUP, top, 105, 105},
        {"right edge is outside", 310, 30, WM_MOUSEMOVE, nullptr, 0, 0},
        {"off the screen", -5, 30, WM_MOUSEMOVE, nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(host::post_mouse_input(c.msg, c.x, c.y, MK_LBUTTON), c.target);
        MSG m;
        const BOOL got = PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
        EXPECT_EQ(got != FALSE, c.target != nullptr);
        if (got) {
            EXPECT_EQ(m.hwnd, c.target);
            EXPECT_EQ(m.message, c.msg);
            EXPECT_EQ(m.wParam, static_cast<WPARAM>(MK_LBUTTON));
            EXPECT_EQ(static_cast<short>(LOWORD(m.lParam)), c.cx);
            EXPECT_EQ(static_cast<short>(HIWORD(m.lParam)), c.cy);
        }
    }
    DestroyWindow(top);
}

} // namespace
