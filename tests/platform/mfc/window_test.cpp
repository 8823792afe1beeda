#include <afxwin.h>

#include "platform/window_system.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

HWND popup(int x, int y, int w, int h) {
    return ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, x, y, w, h, NULL, NULL,
                             ::GetModuleHandleA(NULL), NULL);
}

TEST(CWndTest, WrapsWindowsAndTheirDCs) {
    REQUIRE_WINDOWS();
    HWND hwnd = popup(10, 20, 30, 40);
    ASSERT_NE(nullptr, hwnd);

    CWnd* temp = CWnd::FromHandle(hwnd);
    ASSERT_NE(nullptr, temp);
    EXPECT_EQ(temp, CWnd::FromHandle(hwnd));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hwnd));
    CRect r;
    temp->GetWindowRect(&r);
    EXPECT_TRUE(r == CRect(10, 20, 40, 60));
    temp->GetClientRect(r);
    EXPECT_TRUE(r == CRect(0, 0, 30, 40));
    CWnd::DeleteTempMap();
    EXPECT_TRUE(::IsWindow(hwnd)) << "a temporary does not own its window";

    {
        CWnd owner;
        ASSERT_TRUE(owner.Attach(hwnd));
        EXPECT_EQ(&owner, CWnd::FromHandle(hwnd));
        EXPECT_EQ(&owner, CWnd::FromHandlePermanent(hwnd));
        CWnd other;
        EXPECT_FALSE(other.Attach(hwnd)) << "a window has one owner";
        {
            CClientDC dc(&owner);
            dc.FillSolidRect(0, 0, 2, 2, RGB(255, 0, 0));
            EXPECT_EQ(RGB(255, 0, 0), dc.GetPixel(1, 1));
            EXPECT_EQ(CLR_INVALID, dc.GetPixel(30, 0)) << "clipped to the window";
        }
        CDC* dc = owner.GetDC();
        ASSERT_NE(nullptr, dc);
        EXPECT_EQ(RGB(255, 0, 0), dc->GetPixel(0, 0));
        EXPECT_EQ(1, owner.ReleaseDC(dc));
        {
            CWindowDC whole(&owner);
            EXPECT_NE(nullptr, whole.GetSafeHdc());
        }
    }
    EXPECT_FALSE(::IsWindow(hwnd)) << "the owner destroyed its window";

    HWND kept = popup(0, 0, 5, 5);
    {
        CWnd owner;
        ASSERT_TRUE(owner.Attach(kept));
        EXPECT_EQ(kept, owner.Detach());
    }
    EXPECT_TRUE(::IsWindow(kept));
    CWnd adopter;
    ASSERT_TRUE(adopter.Attach(kept));
    EXPECT_TRUE(adopter.DestroyWindow());
    EXPECT_FALSE(adopter.DestroyWindow());
    EXPECT_FALSE(::IsWindow(kept));
}

} // namespace
