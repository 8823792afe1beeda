// The native CImage tests' fixture: the library attached again at a depth, with a strip among
// the program's bitmap resources (by number and by name) and as a file in the working directory.
#pragma once

#include "image/strip_fixtures.h"
#include "support/host_display.h"

#include <platform/host.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace strip_host {

using strip_fixtures::BusyStrip;

inline constexpr COLORREF kBlue = 0x00FF0000;
inline constexpr UINT kStripResource = 4711;
inline const char* const kStripName = "SPRITESTRIP";
inline const char* const kStripFile = "strip_host.bmp";

// Attaches the library again at a depth and gives the program a strip as bitmap resource number
// kStripResource, as the resource named kStripName and as the file kStripFile.
class AtDepth : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        testhost::AttachAtDepth(GetParam());
        const std::vector<BYTE> bmp = bmpfile::from_pixels(kWidth, kHeight, 24, BusyStrip(kBlue));
        ASSERT_TRUE(host::add_bitmap_resource(nullptr, MAKEINTRESOURCE(kStripResource), bmp.data(),
                                              bmp.size()));
        ASSERT_TRUE(host::add_bitmap_resource(nullptr, kStripName, bmp.data(), bmp.size()));
        ASSERT_TRUE(bmpfile::write(kStripFile, bmp));
    }
    void TearDown() override {
        std::remove(kStripFile);
        host::clear_resources(nullptr);
        testhost::AttachAtDepth(0);
    }

    static constexpr int kWidth = 30;
    static constexpr int kHeight = 7;
};

inline std::string DepthName(const ::testing::TestParamInfo<int>& info) {
    return std::to_string(info.param) + "bpp";
}

} // namespace strip_host
