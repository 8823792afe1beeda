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

// (The refusals every DIB call makes, checked through them: the DIB transfer tests.)
TEST(DibInfo, RefusesInconsistentDescriptions) {
    struct Case {
        const char* name;
        std::vector<BYTE> data;
    };
    const Case cases[] = {
        {"header size past V5", packed(4, 4, 24, BI_RGB, 0, 0, {}, 200)},
        {"bit count 64", packed(4, 4, 64)},
        {"most negative height", packed(4, LONG(0x80000000), 24)},
        {"RLE8 at 4 bits", packed(4, 4, 4, BI_RLE8, 0, 8, table(16))},
        {"top-down RLE", packed(4, -4, 8, BI_RLE8, 0, 8, table(256))},
        {"bit fields at 8 bits", packed(4, 4, 8, BI_BITFIELDS, 0, 0, masks(1, 2, 4))},
        {"unknown compression", packed(4, 4, 24, 9)},
        {"row size overflows", packed(0x7FFFFFFF, 1, 32)},
        {"table cut short", packed(4, 4, 8, BI_RGB, 0, 0, table(255))},
        {"masks cut short", packed(4, 4, 16, BI_BITFIELDS, 0, 0, {0, 0xF8, 0, 0})},
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

TEST(DibInfo, FindsThePixelsOfAPackedDib) {
    // Where the pixels start (a file reader's resource path depends on it) and how many bytes
    // they need, for each way a table or masks can follow the header.
    auto v5 = packed(3, 1, 32, BI_BITFIELDS, 0, 0, {}, sizeof(BITMAPV5HEADER));
    std::vector<BYTE> core = {12, 0, 0, 0, 7, 0, 2, 0, 1, 0, 4, 0};
    core.resize(12 + 16 * 3);
    auto pal = packed(2, 2, 1);
    pal.insert(pal.end(), {5, 0, 9, 1});
    struct Case {
        const char* name;
        std::vector<BYTE> data;
        UINT usage;
        std::size_t bits_offset, image_size;
    };
    const Case cases[] = {
        {"short table", packed(5, 3, 8, BI_RGB, 3, 0, table(3)), DIB_RGB_COLORS, 52, 24},
        {"full table, top-down", packed(33, -2, 1, BI_RGB, 0, 1, table(2)), DIB_RGB_COLORS, 48, 16},
        {"masks after the header", packed(3, 1, 16, BI_BITFIELDS, 0, 0, masks(0xF800, 0x7E0, 0x1F)),
         DIB_RGB_COLORS, 52, 8},
        {"masks inside a V5 header", v5, DIB_RGB_COLORS, sizeof(BITMAPV5HEADER), 12},
        {"core header, RGBTRIPLE table", core, DIB_RGB_COLORS, 60, 8},
        {"palette indices", pal, DIB_PAL_COLORS, 44, 8},
        {"RLE: biSizeImage", packed(5, 3, 8, BI_RLE8, 1, 7, table(1)), DIB_RGB_COLORS, 44, 7},
    };
    for (const Case& c : cases) {
        DibInfo info;
        ASSERT_TRUE(
            platform::dib::read_info(c.data.data(), c.data.size(), c.usage, Strictness::file, info))
            << c.name;
        EXPECT_EQ(info.bits_offset, c.bits_offset) << c.name;
        EXPECT_EQ(info.image_size, c.image_size) << c.name;
        EXPECT_TRUE(platform::dib::bits_fit(info, c.image_size)) << c.name;
        EXPECT_FALSE(platform::dib::bits_fit(info, c.image_size - 1)) << c.name;
    }
}

namespace {

// Decodes an RLE8 stream into a 4 x 3 image with a table whose index i is colour i, and draws
// the result top row first: "." for a pixel the stream did not write.
std::string decode8(std::vector<BYTE> stream, int w = 4, int h = 3, DWORD compression = BI_RLE8) {
    auto d = packed(w, h, compression == BI_RLE8 ? 8 : 4, compression, 0,
                    std::max<DWORD>(1, static_cast<DWORD>(stream.size())),
                    table(compression == BI_RLE8 ? 256 : 16));
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

// The expected images are what Windows draws for the same streams (checked under Wine):
// runs are cut at the row's end, deltas skip pixels, an end code or the end of the data stops
// the image, a literal run cut short by the end of the data draws nothing.
TEST(DibRle, DecodesLikeWindows) {
    struct Case {
        const char* name;
        std::vector<BYTE> stream;
        const char* image;
    };
    const Case cases[] = {
        {"runs, rows, literal",
         {2, 1, 2, 2, 0, 0, 4, 3, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1},
         "123./3333/1122"},
        {"run past the row is cut", {6, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 1}, "3333/2222/1111"},
        {"rows without end-of-row codes", {4, 1, 4, 2, 4, 3, 0, 1}, "..../..../1111"},
        {"delta", {1, 1, 0, 2, 2, 1, 2, 3, 0, 1}, "..../...3/1..."},
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

TEST(DibRle, DecodesFourBitRuns) {
    // Runs alternate the two nibbles; literal nibbles are padded to whole words.
    EXPECT_EQ(decode8({5, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 1}, 5, 2, BI_RLE4),
              "34567/12121");
    EXPECT_EQ(decode8({0, 3, 0xAB, 0xC0, 2, 0xDE, 0, 1}, 5, 1, BI_RLE4), "abcde");
}
