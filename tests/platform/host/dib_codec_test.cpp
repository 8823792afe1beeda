#include "internal/dib_internal.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using platform::dib::DibInfo;
using platform::dib::RleImage;
using platform::dib::Strictness;

namespace {

// A packed description: header of `size` bytes (40 unless told; one shorter is cut, as a bad
// caller's would be), then `extra` (masks, table).
std::vector<BYTE> packed(LONG w, LONG h, WORD bits, DWORD compression = BI_RGB, DWORD clr_used = 0,
                         DWORD size_image = 0, std::vector<BYTE> extra = {},
                         DWORD size = sizeof(BITMAPINFOHEADER)) {
    const bmpfile::Bytes file =
        bmpfile::build({w, h, bits, compression, size_image, clr_used, size, 1, {}, {}, extra, 0});
    return {file.begin() + 14, file.end()};
}

// Sized up front: g++ 12 at -O3 takes growing the vector four bytes at a time for an overflow.
std::vector<BYTE> table(int entries) {
    std::vector<BYTE> t(static_cast<size_t>(entries) * 4);
    for (int i = 0; i < entries; ++i) {
        BYTE* e = &t[static_cast<size_t>(i) * 4];
        e[0] = BYTE(i);
        e[1] = BYTE(2 * i);
        e[2] = BYTE(255 - i);
        e[3] = 0xEE;
    }
    return t;
}

std::vector<BYTE> masks(DWORD r, DWORD g, DWORD b) {
    std::vector<BYTE> m(12);
    std::memcpy(m.data(), &r, 4);
    std::memcpy(m.data() + 4, &g, 4);
    std::memcpy(m.data() + 8, &b, 4);
    return m;
}

bool read(const std::vector<BYTE>& d, DibInfo& info, Strictness s = Strictness::gdi,
          std::size_t available = SIZE_MAX) {
    return platform::dib::read_info(d.data(), available == SIZE_MAX ? d.size() : available,
                                    DIB_RGB_COLORS, s, info);
}

} // namespace

// (The refusals every DIB call makes, checked through them: the DIB transfer tests; tables and
// masks cut short: the truncations below.)
TEST(DibInfo, RefusesInconsistentDescriptions) {
    struct Case {
        const char* name;
        std::vector<BYTE> data;
    };
    const Case cases[] = {
        {"header size past V5", packed(4, 4, 24, BI_RGB, 0, 0, {}, 200)},
        {"most negative height", packed(4, LONG(0x80000000), 24)},
        {"RLE8 at 4 bits", packed(4, 4, 4, BI_RLE8, 0, 8, table(16))},
        {"top-down RLE", packed(4, -4, 8, BI_RLE8, 0, 8, table(256))},
        {"bit fields at 8 bits", packed(4, 4, 8, BI_BITFIELDS, 0, 0, masks(1, 2, 4))},
        {"mask with a hole", packed(4, 4, 16, BI_BITFIELDS, 0, 0, masks(0xF400, 0x07E0, 0x1F))},
        {"16-bit mask past 16 bits",
         packed(4, 4, 16, BI_BITFIELDS, 0, 0, masks(0xF8000, 0x7E0, 0x1F))},
    };
    for (const Case& c : cases) {
        DibInfo info;
        EXPECT_FALSE(read(c.data, info)) << c.name;
        EXPECT_FALSE(read(c.data, info, Strictness::file)) << c.name;
    }
}

TEST(DibInfo, EveryTruncationOfAPackedHeaderIsRefused) {
    const std::vector<BYTE> whole[] = {
        packed(3, 2, 8, BI_RGB, 0, 0, table(256)),
        packed(3, 2, 4, BI_RGB, 5, 0, table(5)),
        packed(3, 2, 16, BI_BITFIELDS, 0, 0, masks(0xF800, 0x07E0, 0x001F)),
        packed(3, 2, 32, BI_BITFIELDS, 0, 0, {}, sizeof(BITMAPV4HEADER)),
    };
    for (const auto& d : whole) {
        DibInfo info;
        ASSERT_TRUE(read(d, info, Strictness::file));
        EXPECT_EQ(info.bits_offset, d.size());
        for (std::size_t n = 0; n < d.size(); ++n) {
            EXPECT_FALSE(read(d, info, Strictness::file, n)) << n << " of " << d.size();
        }
    }
}

TEST(DibInfo, GdiToleratesWhatFilesMayNot) {
    // Windows cuts an oversized colour count to the full table and ignores biPlanes.
    auto big_count = packed(4, 4, 4, BI_RGB, 17, 0, table(17));
    auto planes = packed(4, 4, 24);
    planes[12] = 2;
    DibInfo info;
    ASSERT_TRUE(read(big_count, info));
    EXPECT_EQ(info.color_count, 16);
    EXPECT_FALSE(read(big_count, info, Strictness::file));
    EXPECT_TRUE(read(planes, info));
    EXPECT_FALSE(read(planes, info, Strictness::file));
}

// An uncompressed image needs every row, whatever biSizeImage says. (Where the pixels start for
// each way a table or masks follow the header, and the RLE size: the truncations above and the
// files of every layout.)
TEST(DibInfo, UncompressedPixelsNeedEveryRow) {
    DibInfo info;
    ASSERT_TRUE(read(packed(33, -2, 1, BI_RGB, 0, 1, table(2)), info, Strictness::file));
    EXPECT_EQ(info.bits_offset, 48u);
    EXPECT_EQ(info.image_size, 16u);
}

namespace {

// Decodes an RLE8 stream into a 4 x 3 image with a table whose index i is colour i, and draws
// the result top row first: "." for a pixel the stream did not write.
std::string decode8(std::vector<BYTE> stream) {
    const int w = 4, h = 3;
    auto d = packed(w, h, 8, BI_RLE8, 0, std::max<DWORD>(1, static_cast<DWORD>(stream.size())),
                    table(256));
    DibInfo info;
    EXPECT_TRUE(read(d, info));
    RleImage img;
    platform::dib::decode_rle(info, stream.data(), stream.size(), img);
    std::string out;
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            out += img.written[i] ? "0123456789abcdef"[img.index[i] & 15] : '.';
        }
        out += y ? "/" : "";
    }
    return out;
}

} // namespace

// The expected images are what Windows draws for the same streams (checked under Wine): runs are
// cut at the row's end, an end code or the end of the data stops the image, a literal run cut
// short by the end of the data draws nothing. (Plain runs, literals, deltas and both nibble
// orders: the files of every layout and the DIB transfer tests.)
TEST(DibRle, DecodesLikeWindows) {
    struct Case {
        const char* name;
        std::vector<BYTE> stream;
        const char* image;
    };
    const Case cases[] = {
        {"run past the row is cut", {6, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 1}, "3333/2222/1111"},
        {"rows without end-of-row codes", {4, 1, 4, 2, 4, 3, 0, 1}, "..../..../1111"},
        {"early end of image", {2, 1, 0, 1, 4, 2}, "..../..../11.."},
        {"no end of image", {4, 1, 0, 0, 4, 2}, "..../2222/1111"},
        {"rows past the image", {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 4, 1, 0, 1}, "3333/2222/1111"},
        {"delta past the image", {0, 2, 0, 5, 4, 1, 0, 1}, "..../..../...."},
        {"literal cut short", {0, 5, 1, 2}, "..../..../...."},
        {"odd byte at the end", {2, 1, 0}, "..../..../11.."},
        {"delta cut short", {1, 1, 0, 2, 1}, "..../..../1..."},
        {"empty", {}, "..../..../...."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode8(c.stream), c.image) << c.name;
    }
}
