#include "internal/dib_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using platform::dib::DibInfo;
using platform::dib::RleImage;
using platform::dib::Strictness;

namespace {

// A packed description: header of `size` bytes (40 unless told), then `extra` (masks, table).
std::vector<BYTE> packed(LONG w, LONG h, WORD bits, DWORD compression = BI_RGB, DWORD clr_used = 0,
                         DWORD size_image = 0, std::vector<BYTE> extra = {},
                         DWORD size = sizeof(BITMAPINFOHEADER)) {
    std::vector<BYTE> out(std::max<DWORD>(size, sizeof(BITMAPINFOHEADER)), 0);
    BITMAPINFOHEADER h40{};
    h40.biSize = size;
    h40.biWidth = w;
    h40.biHeight = h;
    h40.biPlanes = 1;
    h40.biBitCount = bits;
    h40.biCompression = compression;
    h40.biSizeImage = size_image;
    h40.biClrUsed = clr_used;
    std::memcpy(out.data(), &h40, sizeof h40);
    out.resize(size); // a header shorter than 40 bytes is cut, as a bad caller's would be
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::vector<BYTE> table(int entries) {
    std::vector<BYTE> t;
    for (int i = 0; i < entries; ++i) {
        t.insert(t.end(), {BYTE(i), BYTE(2 * i), BYTE(255 - i), 0xEE});
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

TEST(DibInfo, RefusesInconsistentDescriptions) {
    struct Case {
        const char* name;
        std::vector<BYTE> data;
    };
    const Case cases[] = {
        {"header size 39", packed(4, 4, 8, BI_RGB, 0, 0, table(256), 39)},
        {"header size 0", packed(4, 4, 8, BI_RGB, 0, 0, table(256), 0)},
        {"header size past V5", packed(4, 4, 24, BI_RGB, 0, 0, {}, 200)},
        {"bit count 0", packed(4, 4, 0)},
        {"bit count 3", packed(4, 4, 3, BI_RGB, 0, 0, table(8))},
        {"bit count 64", packed(4, 4, 64)},
        {"zero width", packed(0, 4, 24)},
        {"negative width", packed(-4, 4, 24)},
        {"zero height", packed(4, 0, 24)},
        {"most negative height", packed(4, LONG(0x80000000), 24)},
        {"RLE8 at 4 bits", packed(4, 4, 4, BI_RLE8, 0, 8, table(16))},
        {"RLE4 at 8 bits", packed(4, 4, 8, BI_RLE4, 0, 8, table(256))},
        {"RLE8 at 24 bits", packed(4, 4, 24, BI_RLE8, 0, 8)},
        {"RLE without data size", packed(4, 4, 8, BI_RLE8, 0, 0, table(256))},
        {"top-down RLE", packed(4, -4, 8, BI_RLE8, 0, 8, table(256))},
        {"bit fields at 24 bits", packed(4, 4, 24, BI_BITFIELDS, 0, 0, masks(1, 2, 4))},
        {"bit fields at 8 bits", packed(4, 4, 8, BI_BITFIELDS, 0, 0, masks(1, 2, 4))},
        {"JPEG compression", packed(4, 4, 24, BI_JPEG)},
        {"unknown compression", packed(4, 4, 24, 9)},
        {"pixel array over 2 GiB", packed(1 << 20, 1 << 20, 32)},
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
    DibInfo info;
    EXPECT_FALSE(
        platform::dib::read_info(nullptr, SIZE_MAX, DIB_RGB_COLORS, Strictness::gdi, info));
    auto ok = packed(4, 4, 24);
    EXPECT_FALSE(platform::dib::read_info(ok.data(), ok.size(), 2, Strictness::gdi, info));
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

TEST(DibInfo, ReadsLayoutTableAndMasks) {
    DibInfo info;
    // Bottom-up 8 bits with a short table.
    ASSERT_TRUE(read(packed(5, 3, 8, BI_RGB, 3, 0, table(3)), info));
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 3);
    EXPECT_FALSE(info.top_down);
    EXPECT_EQ(info.stride, 8u);
    EXPECT_EQ(info.image_size, 24u);
    EXPECT_EQ(info.color_count, 3);
    EXPECT_EQ(info.colors[2].rgbRed, 253);
    EXPECT_EQ(info.colors[2].rgbReserved, 0); // the reserved byte is not carried over
    EXPECT_EQ(info.bits_offset, 40u + 12u);

    // Top-down 1 bit, full table when biClrUsed is 0; biSizeImage of uncompressed data ignored.
    ASSERT_TRUE(read(packed(33, -2, 1, BI_RGB, 0, 1, table(2)), info));
    EXPECT_TRUE(info.top_down);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(info.stride, 8u);
    EXPECT_EQ(info.image_size, 16u);
    EXPECT_EQ(info.color_count, 2);

    // 16 bits: 5-5-5 by default, masks after a 40-byte header, inside a V5 header.
    ASSERT_TRUE(read(packed(3, 1, 16), info));
    EXPECT_EQ(info.red.mask, 0x7C00u);
    EXPECT_EQ(info.red.shift, 10);
    EXPECT_EQ(info.green.bits, 5);
    ASSERT_TRUE(read(packed(3, 1, 16, BI_BITFIELDS, 0, 0, masks(0xF800, 0x07E0, 0x001F)), info));
    EXPECT_EQ(info.green.mask, 0x07E0u);
    EXPECT_EQ(info.green.bits, 6);
    EXPECT_EQ(info.bits_offset, 52u);
    auto v5 = packed(3, 1, 32, BI_BITFIELDS, 0, 0, {}, sizeof(BITMAPV5HEADER));
    const DWORD m[3] = {0x000000FF, 0x0000FF00, 0x00FF0000};
    std::memcpy(v5.data() + 40, m, sizeof m);
    ASSERT_TRUE(read(v5, info));
    EXPECT_EQ(info.red.shift, 0);
    EXPECT_EQ(info.blue.shift, 16);
    EXPECT_EQ(info.bits_offset, sizeof(BITMAPV5HEADER));

    // Core header: RGBTRIPLE entries, full table.
    std::vector<BYTE> core = {12, 0, 0, 0, 7, 0, 2, 0, 1, 0, 4, 0};
    for (int i = 0; i < 16; ++i) {
        core.insert(core.end(), {BYTE(i), 0, BYTE(16 * i)});
    }
    ASSERT_TRUE(read(core, info, Strictness::file));
    EXPECT_EQ(info.width, 7);
    EXPECT_EQ(info.color_count, 16);
    EXPECT_EQ(info.colors[15].rgbBlue, 15);
    EXPECT_EQ(info.colors[15].rgbRed, 240);
    EXPECT_EQ(info.bits_offset, 12u + 48u);

    // Palette indices instead of colours.
    auto pal = packed(2, 2, 1);
    pal.insert(pal.end(), {5, 0, 9, 1});
    ASSERT_TRUE(
        platform::dib::read_info(pal.data(), pal.size(), DIB_PAL_COLORS, Strictness::file, info));
    EXPECT_TRUE(info.pal_colors);
    EXPECT_EQ(info.palette_indices[1], 0x109);
    EXPECT_EQ(info.bits_offset, 44u);

    // Data size checks for file readers.
    ASSERT_TRUE(read(packed(5, 3, 8, BI_RGB, 1, 0, table(1)), info));
    EXPECT_TRUE(platform::dib::bits_fit(info, 24));
    EXPECT_FALSE(platform::dib::bits_fit(info, 23));
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

TEST(DibRle, RandomStreamsStayInBounds) {
    // Under the sanitizers this proves the decoder never reads or writes outside its buffers.
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        const int w = 1 + rng() % 9, h = 1 + rng() % 5;
        const bool four = rng() & 1;
        std::vector<BYTE> stream(rng() % 40);
        for (BYTE& b : stream) {
            b = static_cast<BYTE>(rng() % 4 == 0 ? rng() % 3 : rng());
        }
        const DWORD size = static_cast<DWORD>(stream.size()) + 1;
        auto d =
            packed(w, h, four ? 4 : 8, four ? BI_RLE4 : BI_RLE8, 0, size, table(four ? 16 : 256));
        DibInfo info;
        ASSERT_TRUE(read(d, info));
        // Exactly-sized heap copy so that any overread trips AddressSanitizer.
        std::unique_ptr<BYTE[]> exact(new BYTE[stream.size()]);
        std::copy(stream.begin(), stream.end(), exact.get());
        RleImage img;
        platform::dib::decode_rle(info, exact.get(), stream.size(), img);
        ASSERT_EQ(img.index.size(), static_cast<std::size_t>(w * h));
    }
}

TEST(DibRows, ChannelsExpandByReplicatingHighBits) {
    EXPECT_EQ(platform::dib::expand_channel(0x19, 5), 0xCE); // 200 stored at 5 bits reads 206
    EXPECT_EQ(platform::dib::expand_channel(0x1F, 5), 0xFF);
    EXPECT_EQ(platform::dib::expand_channel(0x32, 6), 0xCB);
    EXPECT_EQ(platform::dib::expand_channel(1, 1), 0xFF);
    EXPECT_EQ(platform::dib::expand_channel(0x5, 3), 0xB6);
    EXPECT_EQ(platform::dib::expand_channel(0x3FF, 10), 0xFF);
    EXPECT_EQ(platform::dib::expand_channel(0, 0), 0);
}

TEST(DibRows, PackedRowsReadBackAtEveryDepth) {
    struct Case {
        std::vector<BYTE> header;
        bool indexed;
        // Largest per-channel error a colour may come back with (dropped low bits).
        int tolerance;
    };
    const Case cases[] = {
        {packed(13, 1, 1, BI_RGB, 0, 0, table(2)), true, 0},
        {packed(13, 1, 4, BI_RGB, 0, 0, table(16)), true, 0},
        {packed(13, 1, 8, BI_RGB, 0, 0, table(256)), true, 0},
        {packed(13, 1, 16), false, 7},
        {packed(13, 1, 16, BI_BITFIELDS, 0, 0, masks(0xF800, 0x07E0, 0x001F)), false, 7},
        {packed(13, 1, 24), false, 0},
        {packed(13, 1, 32), false, 0},
        {packed(13, 1, 32, BI_BITFIELDS, 0, 0, masks(0xFF, 0xFF00, 0xFF0000)), false, 0},
        {packed(13, 1, 32, BI_BITFIELDS, 0, 0, masks(0x3FF00000, 0xFFC00, 0x3FF)), false, 0},
        {packed(13, 1, 16, BI_BITFIELDS, 0, 0, masks(0xF000, 0x0F00, 0x00F0)), false, 15},
    };
    std::mt19937 rng(3);
    for (const Case& c : cases) {
        DibInfo info;
        ASSERT_TRUE(read(c.header, info));
        std::vector<BYTE> row(info.stride + 8, 0xA5);
        const int n = info.width;
        if (c.indexed) {
            std::vector<BYTE> in(n), out(n);
            for (BYTE& v : in) {
                v = static_cast<BYTE>(rng() % info.color_count);
            }
            platform::dib::write_row_indices(info, row.data(), n, in.data());
            platform::dib::read_row_indices(info, row.data(), 0, n, out.data());
            EXPECT_EQ(in, out) << info.bit_count;
            // Reading from an odd start pixel lines up with the whole-row read.
            platform::dib::read_row_indices(info, row.data(), 3, n - 3, out.data());
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + n - 3, in.begin() + 3));
            std::vector<COLORREF> colors(n);
            platform::dib::read_row_colors(info, row.data(), 0, n, colors.data());
            EXPECT_EQ(colors[5], platform::dib::index_color(info, in[5]));
        } else {
            std::vector<COLORREF> in(n), out(n);
            for (COLORREF& v : in) {
                v = rng() & 0xFFFFFF;
            }
            platform::dib::write_row_colors(info, row.data(), n, in.data());
            platform::dib::read_row_colors(info, row.data(), 0, n, out.data());
            for (int i = 0; i < n; ++i) {
                for (int shift : {0, 8, 16}) {
                    const int a = (in[i] >> shift) & 0xFF, b = (out[i] >> shift) & 0xFF;
                    EXPECT_LE(std::abs(a - b), c.tolerance) << info.bit_count << " pixel " << i;
                }
            }
            // The row's padding is not written; 32-bit BI_RGB output keeps the fourth byte 0.
            EXPECT_EQ(row[static_cast<std::size_t>(n) * info.bit_count / 8], 0xA5);
            if (info.bit_count == 32 && info.compression == BI_RGB) {
                EXPECT_EQ(row[3], 0);
            }
        }
    }
}

TEST(DibRows, DefaultTablesAreTheOnesWindowsHandsOut) {
    RGBQUAD t[256];
    auto rgb = [&](int i) { return platform::dib::quad_to_colorref(t[i]); };
    platform::dib::default_color_table(1, t);
    EXPECT_EQ(rgb(0), RGB(0, 0, 0));
    EXPECT_EQ(rgb(1), RGB(255, 255, 255));
    platform::dib::default_color_table(4, t);
    EXPECT_EQ(rgb(7), RGB(0x80, 0x80, 0x80));
    EXPECT_EQ(rgb(8), RGB(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(rgb(9), RGB(0xFF, 0, 0));
    EXPECT_EQ(rgb(15), RGB(0xFF, 0xFF, 0xFF));
    platform::dib::default_color_table(8, t);
    EXPECT_EQ(rgb(9), RGB(0xA6, 0xCA, 0xF0));
    EXPECT_EQ(rgb(10), RGB(0x40, 0x20, 0x00));
    EXPECT_EQ(rgb(16), RGB(0x00, 0x40, 0x00));
    EXPECT_EQ(rgb(64), RGB(0x00, 0x00, 0x40));
    EXPECT_EQ(rgb(245), RGB(0xA0, 0xC0, 0xC0));
    EXPECT_EQ(rgb(246), RGB(0xFF, 0xFB, 0xF0));
    EXPECT_EQ(rgb(255), RGB(0xFF, 0xFF, 0xFF));
}

TEST(DibRows, NearestIndexPicksTheFirstClosestEntry) {
    RGBQUAD t[256];
    platform::dib::default_color_table(8, t);
    platform::dib::NearestIndex nearest(t, 256);
    // Colours of the pixels GetDIBits mapped into this table under Wine, and their indices.
    EXPECT_EQ(nearest(RGB(0, 200, 7)), 0x30);
    EXPECT_EQ(nearest(RGB(0, 200, 7)), 0x30); // from the cache
    EXPECT_EQ(nearest(RGB(200, 0, 7)), 0x0E);
    EXPECT_EQ(nearest(RGB(255, 255, 255)), 255);
    platform::dib::default_color_table(1, t);
    platform::dib::NearestIndex mono(t, 2);
    EXPECT_EQ(mono(RGB(108, 108, 108)), 0);
    EXPECT_EQ(mono(RGB(144, 144, 144)), 1);
    EXPECT_EQ(mono(RGB(0, 0, 255)), 0);
}
