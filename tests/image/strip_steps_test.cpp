// The protected steps of Create called on their own: what each needs, what it leaves behind when
// it fails, and the half-transparent strip of the smallest example.
#include "image/strip_fixtures.h"

#include <gtest/gtest.h>

using namespace strip_fixtures;

namespace {

// A strip in bitmap mode whose m_pSemiBitmap holds a second, untouched copy of the strip.
void LoadWithSemiCopy(StripProbe& strip, CBitmap* client, int frames, COLORREF key) {
    ASSERT_EQ(strip.Create(client, frames, key, 0, 0), 1);
    ASSERT_NE(strip.CopySemiBitmap(client), 0);
}

// Holds a bitmap selected into a DC of its own for as long as it lives.
class SelectedElsewhere {
public:
    explicit SelectedElsewhere(CBitmap* bitmap) {
        m_dc.CreateCompatibleDC(nullptr);
        m_previous = ::SelectObject(m_dc.GetSafeHdc(), bitmap->GetSafeHandle());
    }
    ~SelectedElsewhere() { ::SelectObject(m_dc.GetSafeHdc(), m_previous); }
    bool Holds() const { return m_previous != nullptr; }

private:
    CDC m_dc;
    HGDIOBJ m_previous = nullptr;
};

} // namespace

TEST(StripSteps, SmallestHalfTransparentStrip) {
    CBitmap client;
    client.Attach(MakeClientSection(4, 2, [](int, int) { return RGB(255, 255, 255); }));
    StripProbe strip;
    LoadWithSemiCopy(strip, &client, 1, kBlue);
    ASSERT_EQ(strip.MakeSemiBitmap(), 1);
    EXPECT_EQ(strip.m_crTransparent, kBlue);
    const COLORREF w = StoredColour(RGB(255, 255, 255));
    const COLORREF b = StoredColour(kBlue);
    EXPECT_EQ(PixelsOf(strip.m_pSemiBitmap), (std::vector<COLORREF>{w, b, w, b, b, w, b, w}));
}

// Without its bitmap each step refuses at once; with a bitmap it cannot select (held by another
// DC) it fails with the strip as the failure rules leave it.
TEST(StripSteps, FailuresLeaveTheStripAsTheyFoundIt) {
    CBitmap client;
    client.Attach(MakeClientSection(12, 3, BusyStrip(kBlue)));

    StripProbe bare;
    EXPECT_EQ(bare.SetImageInfo(3, kBlue), 0);
    EXPECT_EQ(bare.CreateImageList(), 0);
    EXPECT_EQ(bare.CreateSemiImageList(), 0);
    EXPECT_EQ(bare.MakeSemiBitmap(), 0);
    EXPECT_TRUE(bare.Empty());
    EXPECT_EQ(bare.GetImageNum(), 0);

    StripProbe strip;
    LoadWithSemiCopy(strip, &client, 3, kBlue);
    EXPECT_EQ(strip.SetImageInfo(0, RGB(1, 1, 1)), 0);
    EXPECT_EQ(strip.SetImageInfo(-2, RGB(1, 1, 1)), 0);
    EXPECT_EQ(strip.GetImageNum(), 3);
    EXPECT_EQ(strip.m_crTransparent, kBlue);

    CBitmap* semi = strip.m_pSemiBitmap;
    const std::vector<COLORREF> copy = PixelsOf(semi);
    {
        SelectedElsewhere held(semi);
        ASSERT_TRUE(held.Holds());
        EXPECT_EQ(strip.MakeSemiBitmap(), 0);
        EXPECT_EQ(strip.m_crTransparent, kBlue);
        EXPECT_EQ(strip.m_pSemiBitmap, semi);
        EXPECT_EQ(PixelsOf(semi), copy);

        // An earlier half-transparent list goes; the semi bitmap stays.
        StripProbe earlier;
        ASSERT_EQ(earlier.Create(&client, 3, kBlue, 1, 1), 1);
        strip.m_pSemiImageList = earlier.m_pSemiImageList;
        earlier.m_pSemiImageList = nullptr;
        EXPECT_EQ(strip.CreateSemiImageList(), 0);
        EXPECT_EQ(strip.m_pSemiImageList, nullptr);
        EXPECT_EQ(strip.m_pSemiBitmap, semi);
        EXPECT_EQ(PixelsOf(semi), copy);
    }
    // Once free the same bitmap goes into the list and is released.
    ASSERT_EQ(strip.CreateSemiImageList(), 1);
    EXPECT_EQ(strip.m_pSemiBitmap, nullptr);
    EXPECT_EQ(strip.IsReadySemiTransparent(), 1);

    ASSERT_EQ(strip.CreateImageList(), 1);
    EXPECT_EQ(strip.m_pBitmap, nullptr);
    CImageList* list = strip.m_pImageList;
    EXPECT_EQ(strip.CreateImageList(), 0); // no bitmap left: the list stays
    EXPECT_EQ(strip.m_pImageList, list);
}
