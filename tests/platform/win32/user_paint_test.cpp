// The paint cycle through windows.h only: what showing and invalidating send, when, with which
// update rectangle and erase flag, what the message loop retrieves, and the built-in static
// control's face colour. Pixels are read through the window's own context, which Wine keeps
// current (the screen context there lags behind the windows).
#include "platform/win32/gdi_support.h"
#include "platform/window_system.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace gdi_test;

// What the window procedure saw: {WM_ERASEBKGND}, or {WM_PAINT, the sides of the rcPaint that
// BeginPaint gave, its fErase}.
using Events = std::vector<std::vector<LONG>>;
Events g_events;
LRESULT g_erase_result = 1; // 0: the procedure leaves the background as it is

LRESULT CALLBACK paint_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_ERASEBKGND:
        g_events.push_back({WM_ERASEBKGND});
        return g_erase_result != 0 ? DefWindowProcA(hwnd, msg, wparam, lparam) : 0;
    case WM_PAINT: {
        // Recorded before BeginPaint, so that an erase BeginPaint asks for comes after it.
        g_events.push_back({WM_PAINT});
        const std::size_t at = g_events.size() - 1;
        PAINTSTRUCT ps;
        if (BeginPaint(hwnd, &ps) != nullptr) {
            const RECT& r = ps.rcPaint;
            g_events[at].insert(g_events[at].end(), {r.left, r.top, r.right, r.bottom, ps.fErase});
            EndPaint(hwnd, &ps);
        }
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

Events seen() {
    Events out;
    out.swap(g_events);
    return out;
}

// Dispatches every message the loop has for the window; the count of WM_PAINT among them.
int pump(HWND hwnd) {
    int paints = 0;
    MSG m;
    for (int guard = 0; guard < 100 && PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE); ++guard) {
        paints += m.message == WM_PAINT;
        DispatchMessageA(&m);
    }
    return paints;
}

COLORREF pixel(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
}

void expect_pixels(HWND hwnd, std::initializer_list<Px> want) {
    HDC dc = GetDC(hwnd);
    gdi_test::expect_pixels(dc, want);
    ReleaseDC(hwnd, dc);
}

void fill(HWND hwnd, COLORREF colour) {
    HDC dc = GetDC(hwnd);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all;
    GetClientRect(hwnd, &all);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(hwnd, dc);
}

// The window's update rectangle; empty when there is none.
std::vector<LONG> update_rect(HWND hwnd) {
    RECT r = {};
    if (!GetUpdateRect(hwnd, &r, FALSE)) {
        return {};
    }
    return {r.left, r.top, r.right, r.bottom};
}
using Sides = std::vector<LONG>;

class Painting : public ::testing::Test {
protected:
    void SetUp() override {
        g_events.clear();
        g_erase_result = 1;
        brush_ = CreateSolidBrush(kRed);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = paint_proc;
        wc.hbrBackground = brush_;
        wc.lpszClassName = "talvo-paint-test";
        ASSERT_NE(RegisterClassA(&wc), 0);
    }
    void TearDown() override {
        if (hwnd_ != nullptr) {
            DestroyWindow(hwnd_);
        }
        EXPECT_TRUE(UnregisterClassA("talvo-paint-test", nullptr));
        DeleteObject(brush_);
    }
    // A 40 x 30 popup of the class, hidden, or shown and painted.
    HWND make(bool shown = false) {
        hwnd_ = CreateWindowExA(0, "talvo-paint-test", "", WS_POPUP, 500, 400, 40, 30, nullptr,
                                nullptr, nullptr, nullptr);
        if (shown) {
            ShowWindow(hwnd_, SW_SHOW);
            UpdateWindow(hwnd_);
        }
        g_events.clear();
        return hwnd_;
    }
    HBRUSH brush_ = nullptr;
    HWND hwnd_ = nullptr;
};

const Events kErase = {{WM_ERASEBKGND}};
const std::vector<LONG> kPaintAll = {WM_PAINT, 0, 0, 40, 30, FALSE};

} // namespace

// Showing erases at once with the class brush; WM_PAINT waits for UpdateWindow, comes once and
// owes no erase; a hidden window is never painted.
TEST_F(Painting, ShowingErasesAndUpdateWindowPaintsOnce) {
    REQUIRE_WINDOWS();
    HWND hwnd = make();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(InvalidateRect(hwnd, nullptr, TRUE));
    EXPECT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(pump(hwnd), 0);
    EXPECT_EQ(seen(), Events{}) << "hidden windows are not painted";

    ShowWindow(hwnd, SW_SHOW);
    EXPECT_EQ(seen(), kErase);
    expect_pixels(hwnd, {{0, 0, kRed}, {39, 29, kRed}});
    EXPECT_EQ(update_rect(hwnd), (Sides{0, 0, 40, 30}));

    ASSERT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(seen(), Events{kPaintAll});
    EXPECT_EQ(update_rect(hwnd), Sides{});
    UpdateWindow(hwnd);
    EXPECT_EQ(pump(hwnd), 0);
    EXPECT_EQ(seen(), Events{});
}

// Invalidated parts add up to the rectangle that bounds them; the loop retrieves WM_PAINT after
// posted messages, BeginPaint erases inside the update rectangle only, and validation ends it.
TEST_F(Painting, TheLoopPaintsWhatWasInvalidatedAfterPostedMessages) {
    REQUIRE_WINDOWS();
    HWND hwnd = make(true);
    fill(hwnd, kGreen);
    const RECT a = {5, 5, 15, 10};
    const RECT b = {20, 12, 30, 20};
    EXPECT_TRUE(InvalidateRect(hwnd, &a, TRUE));
    EXPECT_TRUE(InvalidateRect(hwnd, &b, FALSE));
    EXPECT_EQ(seen(), Events{}) << "invalidating sends nothing";
    EXPECT_EQ(pixel(hwnd, 7, 7), kGreen);
    EXPECT_EQ(update_rect(hwnd), (Sides{5, 5, 30, 20}));

    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(peek(hwnd).message, UINT{WM_USER});
    const MSG m = peek(hwnd);
    EXPECT_TRUE(m.message == WM_PAINT && m.hwnd == hwnd);
    // Not taken out of the queue by being retrieved: only validation ends it.
    EXPECT_EQ(peek(hwnd, WM_PAINT, WM_PAINT, PM_NOREMOVE).message, UINT{WM_PAINT});
    DispatchMessageA(&m);
    EXPECT_EQ(seen(), (Events{{WM_PAINT, 5, 5, 30, 20, FALSE}, {WM_ERASEBKGND}}));
    EXPECT_EQ(pump(hwnd), 0);
    // The erase stayed inside the update rectangle.
    expect_pixels(hwnd, {{5, 5, kRed}, {29, 19, kRed}, {4, 5, kGreen}, {30, 19, kGreen}});
    EXPECT_EQ(pixel(hwnd, 29, 20), kGreen);

    // Validated by hand, nothing is left to paint.
    InvalidateRect(hwnd, nullptr, TRUE);
    EXPECT_TRUE(ValidateRect(hwnd, nullptr));
    EXPECT_EQ(pump(hwnd), 0);
    EXPECT_EQ(seen(), Events{});
}

// RedrawWindow: invalidating sends nothing, RDW_ERASENOW erases only, RDW_UPDATENOW paints (and
// a background still owed is erased inside BeginPaint); a procedure that leaves the background
// alone gets fErase set.
TEST_F(Painting, RedrawWindowErasesAndPaintsWhenAsked) {
    REQUIRE_WINDOWS();
    HWND hwnd = make(true);
    auto redraw = [&](UINT flags, const RECT* part = nullptr) {
        EXPECT_TRUE(RedrawWindow(hwnd, part, nullptr, flags));
        return seen();
    };
    EXPECT_EQ(redraw(RDW_INVALIDATE | RDW_ERASE), Events{});
    EXPECT_EQ(redraw(RDW_ERASENOW), kErase);
    EXPECT_EQ(redraw(RDW_UPDATENOW), Events{kPaintAll});
    EXPECT_EQ(redraw(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW), (Events{kPaintAll, kErase[0]}));
    EXPECT_EQ(redraw(RDW_INVALIDATE | RDW_UPDATENOW), Events{kPaintAll});
    g_erase_result = 0;
    EXPECT_EQ(redraw(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW),
              (Events{{WM_PAINT, 0, 0, 40, 30, TRUE}, kErase[0]}));

    const RECT part = {0, 0, 10, 10};
    EXPECT_EQ(redraw(RDW_INVALIDATE, &part), Events{});
    EXPECT_EQ(redraw(RDW_VALIDATE), Events{});
    EXPECT_EQ(pump(hwnd), 0);
    EXPECT_EQ(seen(), Events{});
}

// The static control has no class brush: it paints its face colour in WM_PAINT, over what the
// update rectangle covers. At 8 bits per pixel Wine dithers that light grey (white and grey
// pixels) and we take the nearest palette colour, so there only painted or not is checked.
TEST(StaticControl, PaintsTheButtonFaceInWmPaint) {
    REQUIRE_WINDOWS();
    const bool exact = expected_bpp() > 8;
    MemSurface one(1, 1);
    const COLORREF face = SetPixel(one.dc, 0, 0, GetSysColor(COLOR_BTNFACE));

    HWND hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP, 300, 200, 50, 40, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    fill(hwnd, kGreen);
    EXPECT_EQ(pixel(hwnd, 0, 0), kGreen) << "showing erased nothing";
    // The face colour where painted, as the display stores it.
    auto painted = [&](HWND h, int x, int y) {
        const COLORREF c = pixel(h, x, y);
        return exact ? c == face : c != kGreen && c != CLR_INVALID;
    };
    UpdateWindow(hwnd);
    EXPECT_TRUE(painted(hwnd, 0, 0));
    EXPECT_TRUE(painted(hwnd, 49, 39));

    fill(hwnd, kGreen);
    const RECT part = {10, 10, 20, 15};
    InvalidateRect(hwnd, &part, FALSE);
    EXPECT_EQ(pump(hwnd), 1);
    EXPECT_TRUE(painted(hwnd, 10, 10));
    EXPECT_TRUE(painted(hwnd, 19, 14));
    expect_pixels(hwnd, {{9, 10, kGreen}, {20, 14, kGreen}});
    DestroyWindow(hwnd);

    // Made visible, it is painted by the first pass of the message loop.
    hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 360, 200, 20, 20, nullptr,
                           nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(pump(hwnd), 1);
    EXPECT_TRUE(painted(hwnd, 5, 5));
    EXPECT_EQ(pump(hwnd), 0);
    DestroyWindow(hwnd);
}
