#include <afxwin.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<LONG> sides(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

TEST(CRectTest, SetOperationsFollowTheUserFunctions) {
    // Right and bottom are outside, empty rectangles take no part in a union, and only a cut
    // across a whole side shrinks a rectangle. Under Windows the USER functions check the table.
    const RECT z = {0, 0, 0, 0};
    const RECT a = {0, 0, 10, 10};
    const RECT m = {-5, -5, 5, 5};
    struct Case {
        RECT a, b;
        BOOL i_ok;
        RECT i;
        BOOL u_ok;
        RECT u;
        BOOL s_ok;
        RECT s;
    } cases[] = {
        {a, {5, 5, 15, 15}, TRUE, {5, 5, 10, 10}, TRUE, {0, 0, 15, 15}, TRUE, a},
        {a, {10, 0, 20, 10}, FALSE, z, TRUE, {0, 0, 20, 10}, TRUE, a},
        {a, {50, 50, 50, 60}, FALSE, z, TRUE, a, TRUE, a},
        {{3, 3, 3, 3}, {4, 4, 4, 9}, FALSE, z, FALSE, z, FALSE, z},
        {m, {-2, -8, 2, 8}, TRUE, {-2, -5, 2, 5}, TRUE, {-5, -8, 5, 8}, TRUE, m},
        {a, {0, 0, 4, 10}, TRUE, {0, 0, 4, 10}, TRUE, a, TRUE, {4, 0, 10, 10}},
        {a, {6, -3, 12, 13}, TRUE, {6, 0, 10, 10}, TRUE, {0, -3, 12, 13}, TRUE, {0, 0, 6, 10}},
        {a, {-1, 7, 11, 10}, TRUE, {0, 7, 10, 10}, TRUE, {-1, 0, 11, 10}, TRUE, {0, 0, 10, 7}},
        {a, {2, 2, 4, 4}, TRUE, {2, 2, 4, 4}, TRUE, a, TRUE, a},
        {a, {-1, -1, 11, 11}, TRUE, a, TRUE, {-1, -1, 11, 11}, FALSE, z},
        {{10, 10, 0, 0}, {0, 0, 5, 5}, FALSE, z, TRUE, {0, 0, 5, 5}, FALSE, z},
    };
    for (const Case& c : cases) {
        CRect r(1, 2, 3, 4);
        EXPECT_EQ(c.i_ok, r.IntersectRect(&c.a, &c.b));
        EXPECT_EQ(sides(r), sides(c.i));
        EXPECT_EQ(sides(CRect(c.a) & c.b), sides(c.i));
        CRect in_place(c.a);
        in_place &= c.b;
        EXPECT_EQ(sides(in_place), sides(c.i));

        CRect u(1, 2, 3, 4);
        EXPECT_EQ(c.u_ok, u.UnionRect(&c.a, &c.b));
        EXPECT_EQ(sides(u), sides(c.u));
        EXPECT_EQ(sides(CRect(c.a) | c.b), sides(c.u));

        CRect s(1, 2, 3, 4);
        EXPECT_EQ(c.s_ok, s.SubtractRect(&c.a, &c.b));
        EXPECT_EQ(sides(s), sides(c.s));
#ifdef _WIN32
        RECT w;
        EXPECT_EQ(c.i_ok, ::IntersectRect(&w, &c.a, &c.b));
        EXPECT_EQ(sides(w), sides(c.i));
        EXPECT_EQ(c.u_ok, ::UnionRect(&w, &c.a, &c.b));
        EXPECT_EQ(sides(w), sides(c.u));
        EXPECT_EQ(c.s_ok, ::SubtractRect(&w, &c.a, &c.b));
        EXPECT_EQ(sides(w), sides(c.s));
#endif
    }
}

TEST(CRectTest, MembersAndConversions) {
    CRect r(CPoint(10, 20), CSize(30, 40));
    EXPECT_EQ(30, r.Width());
    EXPECT_EQ(40, r.Height());
    EXPECT_TRUE(r.Size() == CSize(30, 40));
    EXPECT_TRUE(r.CenterPoint() == CPoint(25, 40));
    r.TopLeft() = CPoint(0, 0);
    EXPECT_EQ(sides(r), sides(CRect(0, 0, 40, 60)));
    EXPECT_TRUE(r.PtInRect(CPoint(39, 59)));
    EXPECT_FALSE(r.PtInRect(CPoint(40, 59)));

    // The LPRECT conversion hands the rectangle itself to Win32 calls.
    LPRECT lp = r;
    EXPECT_EQ(lp, static_cast<RECT*>(&r));
    LPCRECT cr = static_cast<const CRect&>(r);
    EXPECT_EQ(cr, static_cast<const RECT*>(&r));

    CRect flipped(10, 20, 0, 5);
    EXPECT_TRUE(flipped.IsRectEmpty());
    flipped.NormalizeRect();
    EXPECT_EQ(sides(flipped), sides(CRect(0, 5, 10, 20)));

    CRect moved = CRect(0, 0, 2, 2) + CPoint(5, 6) - CSize(1, 1);
    EXPECT_EQ(sides(moved), sides(CRect(4, 5, 6, 7)));
    CRect grown(4, 4, 6, 6);
    grown.InflateRect(1, 2);
    EXPECT_EQ(sides(grown), sides(CRect(3, 2, 7, 8)));
    grown.DeflateRect(1, 2, 3, 4);
    EXPECT_EQ(sides(grown), sides(CRect(4, 4, 4, 4)));
    EXPECT_TRUE(CPoint(5, 5) - CPoint(2, 3) == CSize(3, 2));
}

} // namespace
