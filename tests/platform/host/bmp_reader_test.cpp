// The BMP reader against Pillow's decoding, and the malformed files it must refuse.
#include "internal/bmp_internal.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Our pixels as R, G, B, rows top-down.
bool decode_rgb(const Bytes& file, int& width, int& height, Bytes& rgb) {
    platform::BmpImage image;
    platform::DecodedDib decoded;
    if (!platform::read_bmp_file(file.data(), file.size(), image) ||
        !platform::decode_dib(image, decoded)) {
        return false;
    }
    platform::dib::DibInfo info;
    if (!platform::dib::read_info(decoded.info.data(), decoded.info.size(), DIB_RGB_COLORS,
                                  platform::dib::Strictness::file, info)) {
        return false;
    }
    width = info.width;
    height = info.height;
    rgb.clear();
    std::vector<COLORREF> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        const int stored = info.top_down ? y : height - 1 - y;
        platform::dib::read_row_colors(info, decoded.bits + info.stride * stored, 0, width,
                                       row.data());
        for (COLORREF c : row) {
            rgb.push_back(GetRValue(c));
            rgb.push_back(GetGValue(c));
            rgb.push_back(GetBValue(c));
        }
    }
    return true;
}

using bmpfile::put;

std::uint32_t get32(const Bytes& b, std::size_t at) {
    return bmpfile::File{b}.U32(at);
}

bool refused(const Bytes& file) {
    platform::BmpImage image;
    return !platform::read_bmp_file(file.data(), file.size(), image);
}

} // namespace

TEST(BmpReader, EveryVariantMatchesPillow) {
    if (std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) {
        GTEST_SKIP() << "Pillow is not installed";
    }
    const char* source = std::getenv("TALVO_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const auto variants = bmpfile::all_variants();
    std::string command =
        std::string("/usr/bin/python3 ") + source + "/tests/platform/host/pil_decode.py";
    for (std::size_t i = 0; i < variants.size(); ++i) {
        for (std::uint32_t seed = 1; seed <= 3; ++seed) {
            const std::string name =
                "variant_" + std::to_string(i) + "_" + std::to_string(seed) + ".bmp";
            bmpfile::write(name, bmpfile::make(variants[i], seed));
            // Pillow does not read the 52- and 56-byte headers; it reads the same pixels with a
            // 40-byte header and the masks after it.
            bmpfile::Variant oracle_variant = variants[i];
            if (oracle_variant.header_size == 52 || oracle_variant.header_size == 56) {
                oracle_variant.header_size = 40;
            }
            bmpfile::write("oracle_" + name, bmpfile::make(oracle_variant, seed));
            std::remove(("oracle_" + name + ".rgb").c_str());
            command += " oracle_" + name;
        }
    }
    ASSERT_EQ(std::system(command.c_str()), 0);

    for (std::size_t i = 0; i < variants.size(); ++i) {
        for (std::uint32_t seed = 1; seed <= 3; ++seed) {
            const std::string name =
                "variant_" + std::to_string(i) + "_" + std::to_string(seed) + ".bmp";
            SCOPED_TRACE(std::string(variants[i].label) + " seed " + std::to_string(seed));
            if (variants[i].rle_delta) {
                continue; // Pillow 9 decodes deltas to nothing; see RleStreams
            }
            const Bytes oracle = bmpfile::ReadAll("oracle_" + name + ".rgb");
            // Pillow widens 5- and 6-bit channels by scaling, Windows by repeating their high
            // bits: the channel values agree and the filled-in low bits may differ by one.
            const int tolerance = variants[i].bits == 16 ? 1 : 0;
            ASSERT_GE(oracle.size(), 8u) << "Pillow could not read " << name;
            int width = 0, height = 0;
            Bytes ours;
            ASSERT_TRUE(decode_rgb(bmpfile::ReadAll(name), width, height, ours));
            EXPECT_EQ(width, static_cast<int>(get32(oracle, 0)));
            EXPECT_EQ(height, static_cast<int>(get32(oracle, 4)));
            const Bytes theirs(oracle.begin() + 8, oracle.end());
            ASSERT_EQ(ours.size(), theirs.size());
            for (std::size_t p = 0; p < ours.size(); ++p) {
                ASSERT_LE(std::abs(ours[p] - theirs[p]), tolerance)
                    << "pixel " << p / 3 << " channel " << p % 3 << ": ours " << int(ours[p])
                    << ", Pillow " << int(theirs[p]);
            }
        }
    }
}

// RLE streams in grey-table files (bmpfile::rle_file): the grey level of every pixel, rows
// top-down, or nothing where the reader must refuse the file.
TEST(BmpReader, RleStreams) {
    const struct {
        const char* name;
        int width, height, bits;
        Bytes stream;
        std::vector<int> grey;
    } cases[] = {
        // (Pixels a delta skips keep index 0: the LoadImage tests, through the same decoding.)
        {"delta to a row's end", 3, 2, 8, {0, 2, 3, 0, 0, 0, 1, 5, 0, 1}, {5, 0, 0, 0, 0, 0}},
        {"delta past the row", 3, 2, 8, {0, 2, 4, 0, 0, 1}, {}},
        // 0 3 12 30: three pixels 1, 2, 3 from two bytes (the bottom row); 0 5 12 34 50 00: five
        // from three bytes and a pad byte.
        {"odd absolute RLE4 runs",
         5,
         2,
         4,
         {0, 3, 0x12, 0x30, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 1},
         {0x10, 0x20, 0x30, 0x40, 0x50, 0x10, 0x20, 0x30, 0, 0}},
        {"absolute run without its pad", 8, 1, 8, {0, 3, 1, 2, 3}, {}},
        {"delta cut short", 8, 1, 8, {0, 2, 1}, {}},
        {"a run below the last row", 2, 1, 8, {2, 1, 0, 0, 1, 1, 0, 1}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = bmpfile::rle_file(c.width, c.height, c.bits, c.stream);
        if (c.grey.empty()) {
            EXPECT_TRUE(refused(file));
            continue;
        }
        int width = 0, height = 0;
        Bytes rgb, expected;
        ASSERT_TRUE(decode_rgb(file, width, height, rgb));
        for (int g : c.grey) {
            expected.insert(expected.end(), 3, static_cast<std::uint8_t>(g));
        }
        EXPECT_EQ(rgb, expected);
    }
}

TEST(BmpReader, EveryTruncationIsRefused) {
    // Every variant cut short anywhere: the header, the table, the pixels or the RLE stream.
    for (const auto& variant : bmpfile::all_variants()) {
        const Bytes file = bmpfile::make(variant);
        ASSERT_FALSE(refused(file)) << variant.label;
        for (std::size_t n = 0; n < file.size(); ++n) {
            const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
            ASSERT_TRUE(refused(cut)) << variant.label << " cut to " << n << " bytes";
        }
    }
}

// What the file around the description gets wrong. (Descriptions the reader refuses through the
// DIB description reader: dib_codec_test.cpp; two planes, which only files refuse, shows that the
// reader asks for the files' strictness; pixels past the end: every truncation above.)
TEST(BmpReader, MalformedFilesAreRefused) {
    const Bytes base8 = bmpfile::make({"", 40, 8, 4, 8, 0, false, {}, 0, 0, false});
    const Bytes base24 = bmpfile::make({"", 40, 8, 4, 24, 0, false, {}, 0, 0, false});
    const Bytes rle8 = bmpfile::make({"", 40, 8, 4, 8, 1, false, {}, 0, 0, false});
    const std::size_t rle_bits = get32(rle8, 10);
    // Each file is its base with `size` bytes at `at` overwritten by `value` (little-endian).
    const struct {
        const char* what;
        const Bytes& base;
        std::size_t at;
        std::uint64_t value;
        int size;
    } cases[] = {
        {"signature", base8, 1, 'X', 1},
        {"pixels inside the colour table", base8, 10, 14 + 40 + 100, 4},
        {"absurd top-down size", base24, 18, 0x8000000000010000ull, 8},
        {"two planes", base8, 26, 2, 2},
        {"RLE claiming 100000 x 100000", rle8, 18, 100000 | (100000ull << 32), 8},
        // End of bitmap becomes end of line: one line too many.
        {"RLE without end of bitmap", rle8, rle8.size() - 1, 0, 1},
        {"RLE run past the row", rle8, rle_bits, 9, 2},               // nine pixels of index 0
        {"RLE delta past the bottom", rle8, rle_bits, 0x04000200, 4}, // 0 2 0 4
    };
    for (const auto& c : cases) {
        Bytes file = c.base;
        put(file, c.at, c.value, c.size);
        EXPECT_TRUE(refused(file)) << c.what;
    }
}

TEST(BmpReader, PackedDibsAreCheckedLikeFiles) {
    const Bytes file = bmpfile::make({"", 40, 5, 3, 4, 0, false, {}, 0, 0, false});
    const Bytes packed(file.begin() + 14, file.end());
    platform::BmpImage image;
    ASSERT_TRUE(platform::read_packed_dib(packed.data(), packed.size(), image));
    EXPECT_EQ(image.bits, packed.data() + 40 + 16 * 4);
    EXPECT_EQ(image.bits_size, 4u * 3);
    EXPECT_FALSE(platform::read_packed_dib(packed.data(), packed.size() - 1, image));
    EXPECT_FALSE(platform::read_packed_dib(packed.data(), 40, image));
    EXPECT_FALSE(platform::read_packed_dib(nullptr, 0, image));
}
