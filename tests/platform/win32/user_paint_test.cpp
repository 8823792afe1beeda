// The paint cycle through windows.h only: what showing and invalidating send, when, with which
// update rectangle and erase flag, what the message loop retrieves, and the built-in static
// control's face colour. Pixels are read through the window's own context, which Wine keeps
// current (the screen context there lags behind the windows).
#include "platform/win32/gdi_support.h"
#include "platform/window_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using gdi_test::kGreen, gdi_test::kRed;

// What the window procedure saw: erases with their result, paints with what BeginPaint gave.
struct Event {
    UINT msg;
    RECT paint; // WM_PAINT: rcPaint
    BOOL erase; // WM_PAINT: fErase
};
std::vector<Event> g_events;
LRESULT g_erase_result = 1; // 0: the procedure leaves the background as it is

LRESULT CALLBACK paint_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_ERASEBKGND:
        g_events.push_back(Event{msg, {}, FALSE});
        return g_erase_result != 0 ? DefWindowProcA(hwnd, msg, wparam, lparam) : 0;
    case WM_PAINT: {
        // Recorded before BeginPaint, so that an erase BeginPaint asks for comes after it.
        g_events.push_back(Event{msg, {}, FALSE});
        const std::size_t at = g_events.size() - 1;
        PAINTSTRUCT ps;
        if (BeginPaint(hwnd, &ps) != nullptr) {
            g_events[at].paint = ps.rcPaint;
            g_events[at].erase = ps.fErase;
            EndPaint(hwnd, &ps);
        }
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

std::vector<UINT> seen() {
    std::vector<UINT> out;
    for (const Event& e : g_events) {
        out.push_back(e.msg);
    }
    g_events.clear();
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

void fill(HWND hwnd, COLORREF colour) {
    HDC dc = GetDC(hwnd);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all;
    GetClientRect(hwnd, &all);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(hwnd, dc);
}

bool same(const RECT& r, LONG l, LONG t, LONG rr, LONG b) {
    return r.left == l && r.top == t && r.right == rr && r.bottom == b;
}

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
    // A hidden 40 x 30 popup of the class.
    HWND make() {
        hwnd_ = CreateWindowExA(0, "talvo-paint-test", "", WS_POPUP, 500, 400, 40, 30, nullptr,
                                nullptr, nullptr, nullptr);
        g_events.clear();
        return hwnd_;
    }
    HBRUSH brush_ = nullptr;
    HWND hwnd_ = nullptr;
};

using Messages = std::vector<UINT>;

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
    EXPECT_EQ(seen(), Messages{}) << "hidden windows are not painted";

    ShowWindow(hwnd, SW_SHOW);
    std::vector<UINT> shown = seen();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), WM_ERASEBKGND), 1);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), WM_PAINT), 0);
    EXPECT_EQ(pixel(hwnd, 0, 0), kRed);
    EXPECT_EQ(pixel(hwnd, 39, 29), kRed);
    RECT update = {};
    EXPECT_TRUE(GetUpdateRect(hwnd, &update, FALSE));
    EXPECT_TRUE(same(update, 0, 0, 40, 30));

    ASSERT_TRUE(UpdateWindow(hwnd));
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_events[0].msg, static_cast<UINT>(WM_PAINT));
    EXPECT_TRUE(same(g_events[0].paint, 0, 0, 40, 30));
    EXPECT_FALSE(g_events[0].erase);
    g_events.clear();
    EXPECT_FALSE(GetUpdateRect(hwnd, &update, FALSE));
    UpdateWindow(hwnd);
    EXPECT_EQ(pump(hwnd), 0);
    EXPECT_EQ(seen(), Messages{});
}

// Invalidated parts add up to the rectangle that bounds them; the loop retrieves WM_PAINT after
// posted messages, BeginPaint erases inside the update rectangle only, and validation ends it.
TEST_F(Painting, TheLoopPaintsWhatWasInvalidatedAfterPostedMessages) {
    REQUIRE_WINDOWS();
    HWND hwnd = make();
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    fill(hwnd, kGreen);
    g_events.clear();

    const RECT a = {5, 5, 15, 10};
    const RECT b = {20, 12, 30, 20};
    EXPECT_TRUE(InvalidateRect(hwnd, &a, TRUE));
    EXPECT_TRUE(InvalidateRect(hwnd, &b, FALSE));
    EXPECT_EQ(seen(), Messages{}) << "invalidating sends nothing";
    EXPECT_EQ(pixel(hwnd, 7, 7), kGreen);
    RECT update = {};
    EXPECT_TRUE(GetUpdateRect(hwnd, &update, FALSE));
    EXPECT_TRUE(same(update, 5, 5, 30, 20));

    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 0, 0));
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
    ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(m.hwnd, hwnd);
    // Not taken out of the queue by being retrieved: only validation ends it.
    ASSERT_TRUE(PeekMessageA(&m, hwnd, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    DispatchMessageA(&m);
    ASSERT_EQ(g_events.size(), 2u);
    EXPECT_EQ(g_events[0].msg, static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(g_events[1].msg, static_cast<UINT>(WM_ERASEBKGND));
    EXPECT_TRUE(same(g_events[0].paint, 5, 5, 30, 20));
    EXPECT_FALSE(g_events[0].erase);
    g_events.clear();
    EXPECT_EQ(pump(hwnd), 0);

    // The erase stayed inside the update rectangle.
    EXPECT_EQ(pixel(hwnd, 5, 5), kRed);
    EXPECT_EQ(pixel(hwnd, 29, 19), kRed);
    EXPECT_EQ(pixel(hwnd, 4, 5), kGreen);
    EXPECT_EQ(pixel(hwnd, 30, 19), kGreen);
    EXPECT_EQ(pixel(hwnd, 29, 20), kGreen);

    // Validated by hand, nothing is left to paint.
    InvalidateRect(hwnd, nullptr, TRUE);
    EXPECT_TRUE(ValidateRect(hwnd, nullptr));
    EXPECT_EQ(pump(hwnd), 0);
    EXPECT_EQ(seen(), Messages{});
}

// RedrawWindow: invalidating sends nothing, RDW_ERASENOW erases only, RDW_UPDATENOW paints (and
// a background still owed is erased inside BeginPaint); a procedure that leaves the background
// alone gets fErase set.
TEST_F(Painting, RedrawWindowErasesAndPaintsWhenAsked) {
    REQUIRE_WINDOWS();
    HWND hwnd = make();
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    g_events.clear();

    EXPECT_TRUE(RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE));
    EXPECT_EQ(seen(), Messages{});
    EXPECT_TRUE(RedrawWindow(hwnd, nullptr, nullptr, RDW_ERASENOW));
    EXPECT_EQ(seen(), Messages{WM_ERASEBKGND});
    EXPECT_TRUE(RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW));
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_FALSE(g_events[0].erase);
    EXPECT_EQ(seen(), Messages{WM_PAINT});

    EXPECT_TRUE(RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW));
    EXPECT_EQ(seen(), (Messages{WM_PAINT, WM_ERASEBKGND}));
    EXPECT_TRUE(RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW));
    EXPECT_EQ(seen(), Messages{WM_PAINT});

    g_erase_result = 0;
    EXPECT_TRUE(RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW));
    ASSERT_EQ(g_events.size(), 2u);
    EXPECT_TRUE(g_events[0].erase);
    g_events.clear();

    const RECT part = {0, 0, 10, 10};
    EXPECT_TRUE(RedrawWindow(hwnd, &part, nullptr, RDW_INVALIDATE));
    EXPECT_TRUE(RedrawWindow(hwnd, nullptr, nullptr, RDW_VALIDATE));
    EXPECT_EQ(pump(hwnd), 0);
    EXPECT_EQ(seen(), Messages{});
}

// The static control has no class brush: it paints its face colour in WM_PAINT, over what the
// update rectangle covers. At 8 bits per pixel Wine dithers that light grey (white and grey
// pixels) and we take the nearest palette colour, so there only painted or not is checked.
TEST(StaticControl, PaintsTheButtonFaceInWmPaint) {
    REQUIRE_WINDOWS();
    const bool exact = gdi_test::expected_bpp() > 8;
    gdi_test::MemSurface one(1, 1);
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
    EXPECT_EQ(pixel(hwnd, 9, 10), kGreen);
    EXPECT_EQ(pixel(hwnd, 20, 14), kGreen);
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
