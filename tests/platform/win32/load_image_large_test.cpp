// LoadImageA on files larger than its first read of a file: the pixels may start inside that
// read and run on past it, or start far beyond it after a gap. A DIB section at the image's own
// size takes them straight from the file; other requests take the whole file. Every way gives
// the pixels the file describes.
#include "platform/win32/dib_support.h"
#include "platform/win32/gdi_test_util.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kPath[] = "load_image_large.bmp";

} // namespace

TEST(LoadImageLarge, PixelsComeFromWhereverTheFileStartsThem) {
    // The first read is a few kilobytes: rows of a few hundred pixels run past it, and gaps of
    // a kilobyte and more move their start there and beyond.
    const bmpfile::Variant variants[] = {
        {"24 bit, pixels run past the first read", 40, 301, 9, 24, 0, false, {}, 0, 0, false},
        {"24 bit top-down, after a gap", 40, 211, 7, 24, 0, true, {}, 0, 3000, false},
        {"8 bit, start inside the first read", 40, 700, 5, 8, 0, false, {}, 0, 900, false},
        {"8 bit, start beyond the first read", 40, 700, 5, 8, 0, false, {}, 0, 1500, false},
        {"4 bit, 9 colours, after a gap", 40, 999, 7, 4, 0, false, {}, 9, 2100, false},
        {"16 bit 565 fields", 40, 333, 11, 16, 3, false, {0xF800, 0x07E0, 0x001F}, 0, 0, false},
        {"32 bit fields top-down", 56, 200, 5, 32, 3, true, {0xFF0000, 0xFF00, 0xFF}, 0, 7, false},
    };
    struct Request {
        const char* label;
        UINT flags;
        int cx, cy;
    };
    const Request requests[] = {
        {"section", LR_CREATEDIBSECTION, 0, 0},
        {"section, size given as its own", LR_CREATEDIBSECTION, -1, -1},
        {"section, transparent", LR_CREATEDIBSECTION | LR_LOADTRANSPARENT, 0, 0},
        {"device bitmap", 0, 0, 0},
    };
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const std::uint32_t window_rgb =
        (GetRValue(window) << 16) | (GetGValue(window) << 8) | GetBValue(window);
    const bool true_colour = gdi_test::expected_bpp() == 32;
    for (const auto& variant : variants) {
#ifdef _WIN32
        // Wine turns top-down files upside down and makes 16-bit bit-field files 5-5-5 sections;
        // the native run covers them.
        if (variant.top_down || (variant.bits == 16 && variant.compression == BI_BITFIELDS)) {
            continue;
        }
#endif
        std::vector<std::uint32_t> expected;
        const auto file = bmpfile::make(variant, 11, &expected);
        ASSERT_TRUE(bmpfile::write(kPath, file));
        const std::size_t offset = file[10] | (file[11] << 8) | (file[12] << 16);
        for (const Request& r : requests) {
            SCOPED_TRACE(std::string(variant.label) + ", " + r.label);
#ifdef _WIN32
            if (r.flags & LR_LOADTRANSPARENT) {
                continue; // Wine keys on another pixel of an image of several rows
            }
#endif
            const int cx = r.cx < 0 ? variant.width : r.cx;
            const int cy = r.cy < 0 ? variant.height : r.cy;
            HBITMAP bitmap = static_cast<HBITMAP>(
                LoadImageA(nullptr, kPath, IMAGE_BITMAP, cx, cy, LR_LOADFROMFILE | r.flags));
            ASSERT_NE(bitmap, nullptr);
            std::vector<std::uint32_t> want = expected;
            if ((r.flags & LR_LOADTRANSPARENT) && variant.bits <= 8) {
                // Every colour of the first stored pixel (bottom-left) becomes the window's.
                const std::size_t first = variant.top_down
                                              ? 0
                                              : (static_cast<std::size_t>(variant.height) - 1) *
                                                    static_cast<std::size_t>(variant.width);
                const std::uint32_t key = expected[first];
                for (std::uint32_t& p : want) {
                    p = p == key ? window_rgb : p;
                }
            }
            DIBSECTION ds = {};
            if (!(r.flags & LR_CREATEDIBSECTION)) {
                // A device bitmap for the display, not a section: GetObjectA fills a BITMAP.
                EXPECT_EQ(GetObjectA(bitmap, sizeof ds, &ds), static_cast<int>(sizeof(BITMAP)));
                EXPECT_EQ(ds.dsBm.bmBitsPixel, gdi_test::expected_bpp());
                EXPECT_EQ(ds.dsBm.bmBits, nullptr);
            }
            if (true_colour || (r.flags & LR_CREATEDIBSECTION)) {
                // A device bitmap holds the file's colours at 32 bits only.
                EXPECT_EQ(dibtest::pixels_of(bitmap, variant.width, variant.height), want);
            }
            if ((r.flags & LR_CREATEDIBSECTION) && variant.bits > 8) {
                // Direct colours: the section's memory is the file's pixel array.
                ASSERT_EQ(GetObjectA(bitmap, sizeof ds, &ds), static_cast<int>(sizeof ds));
                const std::size_t size =
                    static_cast<std::size_t>(ds.dsBm.bmWidthBytes) * variant.height;
                ASSERT_EQ(offset + size, file.size());
                EXPECT_EQ(std::memcmp(ds.dsBm.bmBits, file.data() + offset, size), 0);
            }
            EXPECT_TRUE(DeleteObject(bitmap));
        }
#ifndef _WIN32
        // One byte short of its pixels, the file is refused whichever way it is asked for (Wine
        // makes something of it).
        ASSERT_TRUE(bmpfile::write(kPath, std::vector<std::uint8_t>(file.begin(), file.end() - 1)));
        for (const Request& r : requests) {
            SCOPED_TRACE(std::string(variant.label) + ", cut short, " + r.label);
            SetLastError(0);
            EXPECT_EQ(LoadImageA(nullptr, kPath, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | r.flags),
                      nullptr);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
        }
#endif
    }
    DeleteFileA(kPath);
}
