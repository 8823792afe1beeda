// The manual clock, timers across the wrap of the tick count, the message-box handler and the
// live counts of windows and timers: the parts of USER that a test drives through the host API.
#include <windows.h>
#include "support/host_display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<DWORD> g_times;

void CALLBACK record_time(HWND, UINT, UINT_PTR, DWORD time) {
    g_times.push_back(time);
}

// Dispatches everything that is ready now, without letting time pass.
int pump_ready() {
    MSG m;
    int n = 0;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&m);
        ++n;
    }
    return n;
}

// Moves the clock on by `ms`; what is ready then is dispatched and counted.
int pump_after(DWORD ms) {
    host::advance_clock(ms);
    return pump_ready();
}

class Clock : public ::testing::Test {
protected:
    void SetUp() override {
        g_times.clear();
        pump_ready();
        host::set_auto_advance(0);
        timers_ = host::live_timers();
        windows_ = host::live_windows();
    }
    void TearDown() override {
        host::set_auto_advance(0);
        EXPECT_EQ(host::live_timers(), timers_);
        EXPECT_EQ(host::live_windows(), windows_);
    }
    int timers_ = 0;
    int windows_ = 0;
};

TEST_F(Clock, MovesOnlyWhenTold) {
    host::set_tick_count(1000);
    EXPECT_EQ(GetTickCount(), 1000u);
    EXPECT_EQ(GetTickCount(), 1000u);
    host::advance_clock(15);
    EXPECT_EQ(GetTickCount(), 1015u);
    Sleep(5);
    EXPECT_EQ(GetTickCount(), 1020u);
    host::set_auto_advance(3);
    EXPECT_EQ(GetTickCount(), 1023u) << "each read moves first";
    EXPECT_EQ(GetTickCount(), 1026u);
    host::set_auto_advance(0);
    EXPECT_EQ(GetTickCount(), 1026u);
    // It wraps at 32 bits.
    host::set_tick_count(0xFFFFFFF0u);
    host::advance_clock(0x20);
    EXPECT_EQ(GetTickCount(), 0x10u);
    host::set_tick_count(0xFFFFFFFFu);
    Sleep(1);
    EXPECT_EQ(GetTickCount(), 0u);
}

TEST_F(Clock, TimerFiresEveryPeriodAcrossTheWrap) {
    host::set_tick_count(0xFFFFFFFFu - 25);
    const UINT_PTR id = SetTimer(nullptr, 0, 10, record_time);
    ASSERT_NE(id, 0u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pump_after(9), 0) << "not due before its period";
        EXPECT_EQ(pump_after(1), 1);
    }
    KillTimer(nullptr, id);
    const std::vector<DWORD> expected = {0xFFFFFFFFu - 15, 0xFFFFFFFFu - 5, 4, 14, 24};
    EXPECT_EQ(g_times, expected);
}

TEST_F(Clock, SettingTheTickCountIsNotTimePassing) {
    const UINT_PTR id = SetTimer(nullptr, 0, 50, record_time);
    host::advance_clock(30);
    host::set_tick_count(5); // backwards
    EXPECT_EQ(pump_ready(), 0);
    host::set_tick_count(0x7FFFFFFFu); // far forwards
    EXPECT_EQ(pump_ready(), 0);
    EXPECT_EQ(pump_after(20), 1);
    EXPECT_EQ(g_times, std::vector<DWORD>{0x7FFFFFFFu + 20});
    KillTimer(nullptr, id);
}

TEST_F(Clock, LongStepFiresEachTimerOnceAndRestartsIt) {
    host::set_tick_count(0);
    const UINT_PTR a = SetTimer(nullptr, 0, 10, record_time);
    const UINT_PTR b = SetTimer(nullptr, 0, 25, record_time);
    EXPECT_EQ(pump_after(1000), 2);
    // Retrieval starts the next period from now.
    EXPECT_EQ(pump_after(10), 1);
    EXPECT_EQ(pump_after(15), 2);
    KillTimer(nullptr, a);
    KillTimer(nullptr, b);
}

TEST_F(Clock, GetMessageWaitsForTheNextTimer) {
    host::set_tick_count(100);
    const UINT_PTR slow = SetTimer(nullptr, 0, 40, record_time);
    const UINT_PTR fast = SetTimer(nullptr, 0, 15, record_time);
    MSG m;
    std::vector<UINT_PTR> order;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
        order.push_back(m.wParam);
        EXPECT_EQ(m.time, GetTickCount());
        DispatchMessageA(&m);
    }
    // fast at 115, 130; slow at 140; fast at 145
    EXPECT_EQ(order, (std::vector<UINT_PTR>{fast, fast, slow, fast}));
    EXPECT_EQ(g_times, (std::vector<DWORD>{115, 130, 140, 145}));
    KillTimer(nullptr, slow);
    KillTimer(nullptr, fast);
}

TEST_F(Clock, TimerMinimumAndReplacement) {
    host::set_tick_count(0);
    // Periods below 10 ms are raised to 10, as Win32 does.
    const UINT_PTR id = SetTimer(nullptr, 0, 1, record_time);
    EXPECT_EQ(pump_after(9), 0);
    EXPECT_EQ(pump_after(1), 1);
    // Resetting the timer through its id restarts its period with the new length.
    EXPECT_EQ(SetTimer(nullptr, id, 100, record_time), id);
    EXPECT_EQ(host::live_timers(), timers_ + 1);
    EXPECT_EQ(pump_after(99), 0);
    EXPECT_EQ(pump_after(1), 1);
    KillTimer(nullptr, id);
}

TEST_F(Clock, GetMessageWithNothingToWaitForEndsTheLoop) {
    MSG m;
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
    // A timer outside the message range cannot end the wait either.
    const UINT_PTR id = SetTimer(nullptr, 0, 10, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetMessageA(&m, nullptr, WM_USER, WM_USER), FALSE);
    testing::internal::GetCapturedStderr();
    KillTimer(nullptr, id);
}

TEST(WindowHost, DestroyingWindowsReleasesTheirContextsAndTimers) {
    const int windows = host::live_windows();
    const int timers = host::live_timers();
    const int dcs = host::live_gdi_objects(OBJ_DC);
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND child = CreateWindowExA(0, "static", "", WS_CHILD | WS_VISIBLE, 40, 40, 30, 30, parent,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(host::live_windows(), windows + 2);
    // Contexts a program forgot to release, and timers it forgot to kill.
    ASSERT_NE(GetDC(parent), nullptr);
    HDC child_dc = GetDC(child);
    ASSERT_NE(child_dc, nullptr);
    SetTimer(parent, 1, 10, nullptr);
    SetTimer(child, 2, 10, nullptr);
    EXPECT_EQ(host::live_gdi_objects(OBJ_DC), dcs + 2);
    EXPECT_EQ(host::live_timers(), timers + 2);

    // The child is clipped by its parent on the right and bottom.
    EXPECT_NE(SetPixel(child_dc, 9, 9, RGB(1, 2, 3)), CLR_INVALID);
    EXPECT_NE(GetPixel(child_dc, 9, 9), CLR_INVALID);
    EXPECT_EQ(GetPixel(child_dc, 10, 9), CLR_INVALID);
    EXPECT_EQ(GetPixel(child_dc, 9, 10), CLR_INVALID);

    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_EQ(host::live_windows(), windows);
    EXPECT_EQ(host::live_timers(), timers);
    EXPECT_EQ(host::live_gdi_objects(OBJ_DC), dcs);
    EXPECT_EQ(GetPixel(child_dc, 0, 0), CLR_INVALID) << "the context went with its window";
}

TEST(WindowHost, DesktopFollowsTheDisplayMode) {
    testhost::SetDepth(32, 800, 600, RECT{0, 0, 800, 570});
    RECT r;
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &r));
    EXPECT_EQ(r.right, 800);
    EXPECT_EQ(r.bottom, 600);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0));
    EXPECT_EQ(r.bottom, 570);
    EXPECT_EQ(GetSystemMetrics(SM_CYFULLSCREEN), 570 - GetSystemMetrics(SM_CYCAPTION));
    EXPECT_FALSE(SystemParametersInfoA(SPI_GETWORKAREA, 0, nullptr, 0));
    host::reset_display();
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0));
    EXPECT_EQ(r.right, 1024);
    EXPECT_EQ(r.bottom, 768) << "the whole screen by default";
}

TEST(MessageBox, WithoutHandlerWritesStderrAndTakesDefaultButton) {
    struct Case {
        UINT type;
        int answer;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_ICONINFORMATION, IDOK},
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNO | MB_DEFBUTTON3, IDYES},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(MessageBoxA(nullptr, "write error", "talvo", c.type), c.answer) << c.type;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("write error"), std::string::npos);
        EXPECT_NE(err.find("talvo"), std::string::npos);
    }
    // A box without text or caption: "Error" above nothing. (The handler's side, with the text,
    // caption, type and owner it is given and the answer it returns, is in the MFC and module
    // tests.)
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Error] \n");
}

} // namespace
