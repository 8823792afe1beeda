// CBitmap::LoadBitmap through the resource module chain: native only.
#ifndef _WIN32
#include "resource_chain.h"

namespace {

using mfc_test::add_bitmap;
using ResourceChain = mfc_test::ResourceChain;

int width_of(CBitmap& bitmap) {
    BITMAP bm = {};
    return bitmap.GetBitmap(&bm) != 0 ? bm.bmWidth : -1;
}

TEST_F(ResourceChain, LoadBitmapLoadsFromTheModuleThatHasIt) {
    const UINT id = 601;
    add_bitmap(first_, id, 1);
    add_bitmap(second_, id, 2);
    CBitmap from_second;
    ASSERT_TRUE(from_second.LoadBitmap(id));
    EXPECT_EQ(2, width_of(from_second));
    EXPECT_FALSE(from_second.LoadBitmap(id)) << "one bitmap per wrapper";

    AfxTermExtensionModule(second_state_);
    CBitmap from_first;
    ASSERT_TRUE(from_first.LoadBitmap(id));
    EXPECT_EQ(1, width_of(from_first));

    const std::vector<BYTE> f = mfc_test::bmp_file(4);
    ASSERT_TRUE(host::add_bitmap_resource(first_, "STRIP", f.data(), f.size()));
    CBitmap named;
    ASSERT_TRUE(named.LoadBitmap("STRIP"));
    EXPECT_EQ(4, width_of(named));

    CBitmap none;
    EXPECT_FALSE(none.LoadBitmap(999));
    EXPECT_FALSE(none.LoadBitmap(static_cast<LPCTSTR>(nullptr)));
    EXPECT_EQ(nullptr, none.GetSafeHandle());
}

} // namespace
#endif
