// Timers and the message loop, as a program sees them through windows.h. Natively the clock is
// manual and a waiting GetMessageA moves it; under Wine these run on real time, so the periods
// are short and only what holds on both is asserted.
#include "platform/win32/gdi_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using gdi_test::fields, gdi_test::Fields, gdi_test::kWine, gdi_test::peek;

namespace {

struct Tick {
    HWND hwnd;
    UINT msg;
    UINT_PTR id;
    DWORD time;
};
std::vector<Tick> g_ticks;

void CALLBACK record_tick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time) {
    g_ticks.push_back(Tick{hwnd, msg, id, time});
}

// Drops whatever an earlier test left in the queue.
void drain() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// Runs the loop until `count` timer callbacks were recorded or a message limit is hit.
void pump_ticks(std::size_t count) {
    MSG m;
    for (int guard = 0; g_ticks.size() < count && guard < 1000; ++guard) {
        if (GetMessageA(&m, nullptr, 0, 0) <= 0) {
            break;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        g_ticks.clear();
        drain();
    }
};

TEST_F(Timers, ThreadTimerIdIsChosenBySystem) {
    // The id passed for a windowless timer is ignored unless it names a live timer.
    const UINT_PTR a = SetTimer(nullptr, 120, 10, record_tick);
    const UINT_PTR b = SetTimer(nullptr, 120, 10, record_tick);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b) << "two calls make two timers";
    // Naming a live timer resets that timer and returns its id.
    EXPECT_EQ(SetTimer(nullptr, a, 20, record_tick), a);
    if (a != 120 && b != 120) {
        EXPECT_FALSE(KillTimer(nullptr, 120));
    }
    EXPECT_TRUE(KillTimer(nullptr, a));
    EXPECT_FALSE(KillTimer(nullptr, a)) << "already gone";
    EXPECT_TRUE(KillTimer(nullptr, b));
}

TEST_F(Timers, CallbackGetsNullWindowIdAndTickTime) {
    const UINT_PTR id = SetTimer(nullptr, 0, 10, record_tick);
    ASSERT_NE(id, 0u);
    const DWORD start = GetTickCount();
    pump_ticks(3);
    const DWORD end = GetTickCount();
    KillTimer(nullptr, id);
    ASSERT_EQ(g_ticks.size(), 3u);
    for (std::size_t i = 0; i < g_ticks.size(); ++i) {
        const Tick& t = g_ticks[i];
        EXPECT_TRUE(t.hwnd == nullptr && t.msg == WM_TIMER && t.id == id);
        EXPECT_LE(t.time - start, end - start) << "a GetTickCount time within the loop";
        // On the manual clock the ticks are exactly one period apart. Under Wine on a busy
        // machine a late tick may be followed at once by the next, so only their order holds.
        if (i > 0 && !kWine) {
            EXPECT_EQ(t.time - g_ticks[i - 1].time, 10u) << "one period apart";
        } else if (i > 0) {
            EXPECT_LE(g_ticks[i - 1].time - start, t.time - start) << "in order";
        }
    }
    EXPECT_GE(end - start, 25u) << "three periods of 10 ms have passed";
}

TEST_F(Timers, DueTimerIsReportedOncePerLook) {
    // However long the loop was away, a timer gives one WM_TIMER, not one per period.
    const UINT_PTR fast = SetTimer(nullptr, 0, 10, nullptr);
    const UINT_PTR slow = SetTimer(nullptr, 0, 30, nullptr);
    Sleep(120);
    std::vector<UINT_PTR> seen;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        ASSERT_EQ(fields(m), (Fields{0, WM_TIMER, LPARAM(m.wParam), 0})) << "no callback";
        EXPECT_EQ(DispatchMessageA(&m), 0);
        seen.push_back(m.wParam);
    }
    // Twelve periods of the fast timer passed while the loop slept: one message each for the
    // two timers. Under Wine the loop itself may be held up by a busy machine long enough for the
    // fast timer to fall due again while it drains, so there a second one is allowed.
    EXPECT_GE(std::count(seen.begin(), seen.end(), fast), 1);
    EXPECT_LE(std::count(seen.begin(), seen.end(), fast), kWine ? 2 : 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), slow), 1);
    EXPECT_EQ(seen.size(),
              static_cast<std::size_t>(std::count(seen.begin(), seen.end(), fast) + 1));
    KillTimer(nullptr, fast);
    KillTimer(nullptr, slow);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "killed timers stay quiet";
}

TEST_F(Timers, NoRemoveLeavesTheTimerDue) {
    const UINT_PTR id = SetTimer(nullptr, 0, 10, nullptr);
    Sleep(30);
    EXPECT_EQ(peek(nullptr, 0, 0, PM_NOREMOVE).message, UINT{WM_TIMER});
    EXPECT_EQ(peek().wParam, id);
    KillTimer(nullptr, id);
}

TEST_F(Timers, PostedMessagesComeFirstAndQuitEndsTheLoop) {
    const UINT_PTR id = SetTimer(nullptr, 0, 10, nullptr);
    Sleep(30);
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER, 5, 6));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 1, 0, 0));
    // The quit flag comes after posted messages, before timers, and is taken once.
    for (const Fields& want :
         {Fields{0, WM_USER, 5, 6}, Fields{0, WM_USER + 1, 0, 0}, Fields{0, WM_QUIT, 7, 0}}) {
        MSG m;
        EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), want[1] != WM_QUIT);
        EXPECT_EQ(fields(m), want);
    }
    EXPECT_EQ(peek().message, UINT{WM_TIMER});
    KillTimer(nullptr, id);
}

TEST_F(Timers, RangeFilterSkipsMessagesButNotQuit) {
    PostMessageA(nullptr, WM_USER + 5, 0, 0);
    PostMessageA(nullptr, WM_USER + 9, 0, 0);
    EXPECT_EQ(peek(nullptr, WM_USER + 9, WM_USER + 9).message, WM_USER + 9u);
    EXPECT_EQ(peek(nullptr, WM_USER + 9, WM_USER + 10).message, 0u);
    PostQuitMessage(0);
    EXPECT_EQ(peek(nullptr, WM_USER + 9, WM_USER + 10).message, UINT{WM_QUIT});
    EXPECT_EQ(peek().message, WM_USER + 5u);
}

TEST_F(Timers, BadWindowFails) {
    MSG m;
    const HWND bogus = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x5a5a5a5a));
    EXPECT_EQ(GetMessageA(&m, bogus, 0, 0), -1);
    EXPECT_FALSE(PeekMessageA(&m, bogus, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PostMessageA(bogus, WM_USER, 0, 0));
    EXPECT_EQ(SetTimer(bogus, 1, 10, nullptr), 0u);
    EXPECT_FAILS_WITH(KillTimer(nullptr, 0x12345), FALSE, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(KillTimer(bogus, 1));
}

#ifndef _WIN32
// Ours alone: Wine crashes on a NULL message and calls whatever pointer a WM_TIMER carries.
// Here a WM_TIMER calls only the callback of a live timer, so a stale or made-up message is
// never a call through a dangling pointer.
TEST_F(Timers, StaleOrForgedTimerMessageCallsNothing) {
    const UINT_PTR id = SetTimer(nullptr, 0, 10, record_tick);
    Sleep(30);
    MSG m = peek(nullptr, WM_TIMER, WM_TIMER);
    ASSERT_EQ(m.message, UINT{WM_TIMER});
    KillTimer(nullptr, id);
    DispatchMessageA(&m);
    m.lParam = reinterpret_cast<LPARAM>(&drain);
    DispatchMessageA(&m);
    EXPECT_TRUE(g_ticks.empty());
    EXPECT_EQ(DispatchMessageA(nullptr), 0);
    EXPECT_FALSE(TranslateMessage(nullptr));
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
}

// Ours alone: Wine sets no limit. A queue holds 10000 posted messages, as Windows' does by
// default; the next post fails for want of quota, and taking one makes room again.
TEST_F(Timers, PostingToAFullQueueFails) {
    for (int i = 0; i < 10000; ++i) {
        ASSERT_TRUE(PostMessageA(nullptr, WM_USER, static_cast<WPARAM>(i), 0)) << i;
    }
    EXPECT_FAILS_WITH(PostMessageA(nullptr, WM_USER, 0, 0), FALSE, ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(fields(peek()), (Fields{0, WM_USER, 0, 0}));
    EXPECT_TRUE(PostMessageA(nullptr, WM_USER, 0, 0));
    drain();
}
#endif

} // namespace
