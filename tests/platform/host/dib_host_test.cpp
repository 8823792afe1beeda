// DIB transfers on points Wine cannot judge: 16-bit device bitmaps are 5-6-5 here, 8-bit ones
// hold system palette indices. (What the DIB calls leave behind is in gdi_live_counts_test.cpp.)
#include "platform/win32/gdi_support.h"
#include "support/host_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A description with room for a table of 256 colours.
struct Info {
    BITMAPINFOHEADER h{};
    RGBQUAD colors[256]{};
    Info(LONG w, LONG height, WORD bits) {
        std::memcpy(&h, gdi_test::info_header(w, height, bits).data(), sizeof h);
    }
    BITMAPINFO* bmi() { return reinterpret_cast<BITMAPINFO*>(this); }
};

class DisplayAt : public testing::Test {
protected:
    void TearDown() override { host::reset_display(); }
};

} // namespace

TEST_F(DisplayAt, SixteenBitsKeepsSixBitsOfGreen) {
    testhost::SetDepth(16);
    HDC screen = GetDC(nullptr);
    HBITMAP ddb = CreateCompatibleBitmap(screen, 2, 1);
    Info in(2, 1, 32);
    const DWORD px[2] = {0x000C00, 0xF80408};
    ASSERT_EQ(SetDIBits(screen, ddb, 0, 1, px, in.bmi(), DIB_RGB_COLORS), 1);
    WORD raw[2];
    ASSERT_EQ(GetBitmapBits(ddb, sizeof raw, raw), 4);
    EXPECT_EQ(raw[0], 0x0003 << 5);                 // g = 0x0C keeps its low bit at 6 bits
    EXPECT_EQ(raw[1], (0x1F << 11) | (1 << 5) | 1); // r 0xF8, g 0x04, b 0x08
    DWORD out[2];
    Info back(2, 1, 32);
    ASSERT_EQ(GetDIBits(screen, ddb, 0, 1, out, back.bmi(), DIB_RGB_COLORS), 1);
    EXPECT_EQ(out[0], 0x000C00u);
    EXPECT_EQ(out[1], 0xFF0408u); // 5-bit red replicated: 0xF8 -> 0xFF
    // Its own depth reads out as 5-6-5 bit fields.
    Info own(2, 1, 0);
    ASSERT_NE(GetDIBits(screen, ddb, 0, 1, nullptr, own.bmi(), DIB_RGB_COLORS), 0);
    EXPECT_EQ(own.h.biBitCount, 16);
    EXPECT_EQ(own.h.biCompression, DWORD(BI_BITFIELDS));
    DeleteObject(ddb);
    ReleaseDC(nullptr, screen);
}

TEST_F(DisplayAt, EightBitsMapsToSystemPaletteIndices) {
    testhost::SetDepth(8);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP ddb = CreateCompatibleBitmap(screen, 4, 1);
    // Static colours land on their system slots: black 0, maroon 1, red 249, white 255.
    Info in(4, 1, 24);
    const BYTE px[12] = {0, 0, 0, 0, 0, 0x80, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(SetDIBits(dc, ddb, 0, 1, px, in.bmi(), DIB_RGB_COLORS), 1);
    std::vector<BYTE> raw(4);
    ASSERT_EQ(GetBitmapBits(ddb, 4, raw.data()), 4);
    EXPECT_EQ(raw, (std::vector<BYTE>{0, 1, 249, 255}));

    // Read back at 8 bits: the system palette as the table and the indices as they are.
    Info out(4, 1, 8);
    std::vector<BYTE> bits(4);
    ASSERT_EQ(GetDIBits(dc, ddb, 0, 1, bits.data(), out.bmi(), DIB_RGB_COLORS), 1);
    EXPECT_EQ(bits, raw);
    PALETTEENTRY sys[256];
    ASSERT_EQ(GetSystemPaletteEntries(screen, 0, 256, sys), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(RGB(out.colors[i].rgbRed, out.colors[i].rgbGreen, out.colors[i].rgbBlue),
                  RGB(sys[i].peRed, sys[i].peGreen, sys[i].peBlue))
            << i;
    }
    DeleteObject(ddb);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

// Pixel memory and global blocks from 64 KiB on start on a 64-byte line, so that the kernels'
// wide steps do not straddle lines (cleared pixel memory of 2 MiB and more is left to calloc's
// untouched pages); a new section's pixels read as zero even in memory a freed one dirtied.
// Sizes from that threshold on.
TEST(PlatformMemory, LargeBlocksStartOnALineAndNewOnesReadZero) {
    const struct { LONG width, height; } sizes[] = {{128, 128}, {256, 256}, {512, 512}};
    const auto on_line = [](const void* p) {
        return reinterpret_cast<std::uintptr_t>(p) % 64 == 0;
    };
    for (const auto& s : sizes) {
        const std::size_t bytes = static_cast<std::size_t>(s.width) * s.height * 4;
        SCOPED_TRACE(bytes);
        for (int round = 0; round < 2; ++round) { // the second takes memory the first dirtied
            Info info(s.width, s.height, 32);
            void* bits = nullptr;
            HBITMAP h = CreateDIBSection(nullptr, info.bmi(), DIB_RGB_COLORS, &bits, nullptr, 0);
            ASSERT_NE(h, nullptr);
            EXPECT_TRUE(on_line(bits));
            const auto* b = static_cast<const unsigned char*>(bits);
            EXPECT_TRUE(std::all_of(b, b + bytes, [](unsigned char v) { return v == 0; }));
            std::memset(bits, 0xA5, bytes);
            DeleteObject(h);

            // (What global blocks hold when handed out again: the kernel memory tests.)
            HGLOBAL g = GlobalAlloc(GMEM_FIXED, bytes);
            ASSERT_NE(g, nullptr);
            EXPECT_TRUE(on_line(g));
            GlobalFree(g);
        }
    }
}
