// Windows, window classes, metrics and system colours, through windows.h only.
#include "platform/win32/gdi_support.h"
#include "platform/window_system.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <vector>

using namespace gdi_test;

namespace {

std::vector<MSG> g_seen; // what the window procedure was called with
LRESULT g_create_result = 0;

LRESULT CALLBACK recording_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    g_seen.push_back(MSG{hwnd, msg, wparam, lparam, 0, {}});
    if (msg == WM_CREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        EXPECT_EQ(cs->lpCreateParams, &g_create_result);
        return g_create_result;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

const char kClass[] = "talvo-user-test";

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_create_result = 0;
        atom_ = register_class();
        ASSERT_NE(atom_, 0);
    }
    static ATOM register_class() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = recording_proc;
        wc.lpszClassName = kClass;
        return RegisterClassA(&wc);
    }
    void TearDown() override { EXPECT_TRUE(UnregisterClassA(kClass, nullptr)); }

    HWND popup(int x, int y, int w, int h, DWORD style = WS_POPUP, HWND parent = nullptr) {
        return CreateWindowExA(0, kClass, "test", style, x, y, w, h, parent, nullptr, nullptr,
                               &g_create_result);
    }
    std::size_t index_of(HWND hwnd, UINT msg) const {
        for (std::size_t i = 0; i < g_seen.size(); ++i) {
            if (g_seen[i].hwnd == hwnd && g_seen[i].message == msg) {
                return i;
            }
        }
        return g_seen.size();
    }
    ATOM atom_ = 0;
};

// A window's rectangle on the screen, or its client rectangle; empty when the call fails.
using Sides = std::vector<LONG>;
Sides window_rect(HWND hwnd, bool client = false) {
    RECT r;
    if (!(client ? GetClientRect(hwnd, &r) : GetWindowRect(hwnd, &r))) {
        return {};
    }
    return {r.left, r.top, r.right, r.bottom};
}

// Dispatches whatever the queue holds.
void pump() {
    for (MSG m = peek(); m.message != 0; m = peek()) {
        DispatchMessageA(&m);
    }
}

TEST_F(Windows, PopupRectanglesAndLifecycleMessages) {
    REQUIRE_WINDOWS();
    HWND hwnd = popup(10, 20, 300, 200);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(window_rect(hwnd), (Sides{10, 20, 310, 220}));
    EXPECT_EQ(window_rect(hwnd, true), (Sides{0, 0, 300, 200}));

    const std::size_t nccreate = index_of(hwnd, WM_NCCREATE);
    const std::size_t create = index_of(hwnd, WM_CREATE);
    ASSERT_LT(create, g_seen.size());
    EXPECT_LT(nccreate, create);
    EXPECT_EQ(index_of(hwnd, WM_DESTROY), g_seen.size()) << "no WM_DESTROY yet";

    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW)) << "was hidden";
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(ShowWindow(hwnd, SW_SHOW)) << "was visible";
    EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(hwnd));

    // Class with a live window cannot go.
    EXPECT_FAILS_WITH(UnregisterClassA(kClass, nullptr), FALSE, ERROR_CLASS_HAS_WINDOWS);

    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_LT(index_of(hwnd, WM_DESTROY), index_of(hwnd, WM_NCDESTROY));
    EXPECT_EQ(index_of(hwnd, WM_NCDESTROY), g_seen.size() - 1) << "nothing after WM_NCDESTROY";
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(window_rect(hwnd), Sides{});
}

TEST_F(Windows, ChildSitsInParentAndDiesWithIt) {
    REQUIRE_WINDOWS();
    HWND parent = popup(40, 50, 100, 100);
    ASSERT_NE(parent, nullptr);
    HWND child = popup(5, 6, 10, 12, WS_CHILD | WS_VISIBLE, parent);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(window_rect(child), (Sides{45, 56, 55, 68}));
    EXPECT_FALSE(IsWindowVisible(child)) << "its parent is hidden";
    ShowWindow(parent, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(child));

    // A timer of the child goes with it.
    EXPECT_EQ(SetTimer(child, 3, 10, nullptr), 3u);
    g_seen.clear();
    ASSERT_TRUE(DestroyWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(KillTimer(child, 3));
    // The parent hears WM_DESTROY first and WM_NCDESTROY last.
    ASSERT_FALSE(g_seen.empty());
    EXPECT_LT(index_of(parent, WM_DESTROY), index_of(child, WM_DESTROY));
    EXPECT_LT(index_of(child, WM_NCDESTROY), index_of(parent, WM_NCDESTROY));
    EXPECT_LT(index_of(parent, WM_NCDESTROY), g_seen.size());
}

TEST_F(Windows, RefusalsSizesAndBadArguments) {
    REQUIRE_WINDOWS();
    // A procedure that refuses WM_CREATE: no window, and the one begun is destroyed.
    g_create_result = -1;
    EXPECT_EQ(popup(0, 0, 10, 10), nullptr);
    ASSERT_FALSE(g_seen.empty());
    EXPECT_FALSE(IsWindow(g_seen.front().hwnd));
    EXPECT_EQ(g_seen.back().message, UINT{WM_NCDESTROY});
    g_create_result = 0;

    HWND neg = popup(5, 5, -50, -50);
    EXPECT_EQ(window_rect(neg), (Sides{5, 5, 5, 5}));
    DestroyWindow(neg);

    EXPECT_FAILS_WITH(CreateWindowExA(0, "no such class", "", WS_POPUP, 0, 0, 1, 1, nullptr,
                                      nullptr, nullptr, nullptr),
                      nullptr, ERROR_CLASS_DOES_NOT_EXIST);
    const auto by_atom = [&](DWORD style) {
        return CreateWindowExA(0, MAKEINTRESOURCEA(atom_), "", style, 0, 0, 1, 1, nullptr, nullptr,
                               nullptr, &g_create_result);
    };
    EXPECT_EQ(by_atom(WS_CHILD), nullptr) << "a child needs a parent";
    EXPECT_TRUE(DestroyWindow(by_atom(WS_POPUP)));

    const HWND bogus = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x5a5a5a5a));
    EXPECT_FALSE(IsWindow(bogus));
    RECT r;
    EXPECT_FAILS_WITH(GetClientRect(bogus, &r), FALSE, ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(ShowWindow(bogus, SW_SHOW));
    EXPECT_FALSE(DestroyWindow(bogus));
    EXPECT_FALSE(IsWindow(nullptr));

    EXPECT_FAILS_WITH(register_class(), 0, ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_FAILS_WITH(UnregisterClassA("no such class", nullptr), FALSE,
                      ERROR_CLASS_DOES_NOT_EXIST);
}

TEST_F(Windows, PostedWindowMessageReachesProcedure) {
    REQUIRE_WINDOWS();
    HWND hwnd = popup(0, 0, 10, 10);
    ASSERT_NE(hwnd, nullptr);
    pump();
    // A window filter takes that window's messages only; the procedure gets them as they are.
    const auto delivered = [&](const Fields& want) {
        g_seen.clear();
        const MSG m = peek(hwnd, UINT(want[1]), UINT(want[1]));
        EXPECT_EQ(fields(m), want);
        DispatchMessageA(&m);
        ASSERT_EQ(g_seen.size(), 1u);
        EXPECT_EQ(fields(g_seen[0]), want);
    };
    const LPARAM window = reinterpret_cast<LPARAM>(hwnd);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 3, 11, 22));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 4, 0, 0));
    delivered(Fields{window, WM_USER + 3, 11, 22});
    EXPECT_EQ(peek(hwnd, WM_USER, WM_USER + 10).message, 0u);
    EXPECT_EQ(peek(nullptr, WM_USER, WM_USER + 10).message, WM_USER + 4u);
    // A window timer without callback goes to the window procedure.
    EXPECT_EQ(SetTimer(hwnd, 9, 10, nullptr), 9u);
    Sleep(30);
    delivered(Fields{window, WM_TIMER, 9, 0});
    EXPECT_TRUE(KillTimer(hwnd, 9));
    EXPECT_FAILS_WITH(KillTimer(hwnd, 9), FALSE, ERROR_INVALID_PARAMETER);
    DestroyWindow(hwnd);
}

TEST_F(Windows, WindowContextDrawsAtTheWindowsPlace) {
    REQUIRE_WINDOWS();
    HWND hwnd = popup(10, 20, 30, 20);
    ASSERT_NE(hwnd, nullptr);

    // A hidden window shows nothing of what is drawn on it.
    HDC dc = GetDC(hwnd);
    ASSERT_NE(dc, nullptr);
    SetPixel(dc, 1, 1, kGreen);
    EXPECT_EQ(GetPixel(dc, 1, 1), CLR_INVALID);
    EXPECT_EQ(ReleaseDC(hwnd, dc), 1);

    ShowWindow(hwnd, SW_SHOW);
    pump();
    dc = GetWindowDC(hwnd);
    ASSERT_NE(dc, nullptr);
    HBRUSH red = CreateSolidBrush(kRed);
    const RECT corner = {0, 0, 4, 3};
    FillRect(dc, &corner, red);
    DeleteObject(red);
    SetPixel(dc, 29, 19, kBlue);
    EXPECT_NE(GetPixel(dc, 4, 2), kRed);
    // Clipped to the window, however far off the point is.
    expect_pixels(dc, {{3, 2, kRed}, {29, 19, kBlue}, {30, 19, CLR_INVALID}, {-1, 0, CLR_INVALID}});
    expect_pixels(dc, {{INT_MAX, INT_MAX, CLR_INVALID}, {INT_MIN, INT_MIN, CLR_INVALID}});
#ifndef _WIN32
    // Ours alone: Wine keeps a window's pixels out of what the screen context reads back.
    HDC screen = GetDC(nullptr);
    expect_pixels(screen, {{10, 20, kRed}, {13, 22, kRed}, {39, 39, kBlue}});
    ReleaseDC(nullptr, screen);
#endif
    EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
    EXPECT_EQ(ReleaseDC(hwnd, dc), 0) << "already released";
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x5a5a5a5a))), nullptr);
    DestroyWindow(hwnd);
    EXPECT_EQ(GetDC(hwnd), nullptr);
}

// (The desktop's and the work area's rectangles against the display mode: the host tests.)
TEST(Metrics, ScreenSizeAndColours) {
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), GetDeviceCaps(screen, HORZRES));
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), GetDeviceCaps(screen, VERTRES));
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), RGB(48, 150, 250));
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), RGB(0, 0, 0));
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHTTEXT), RGB(255, 255, 255));
    EXPECT_FALSE(DestroyWindow(GetDesktopWindow()));
}

} // namespace
