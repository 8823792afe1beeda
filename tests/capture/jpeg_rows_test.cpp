// Encode with the rows handed over one at a time: the same file as from a whole image, each row
// asked for once and in order, and an encode abandoned when the rows run out.
#include "capture/JpegEncoder.h"
#include "capture/jpeg_reference.h"
#include "capture/test_images.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(JpegRows, RowsFromAnyLayoutGiveTheFileOfTheWholeImage) {
    // Odd sizes: a last block row and column of padding, rows of no multiple of four bytes.
    for (const auto& size : {std::pair{37, 21}, std::pair{8, 8}, std::pair{203, 17}}) {
        const int w = size.first, h = size.second;
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        auto img = testimages::Make(testimages::Kind::Photo, w, h, 3);
        // Stored bottom-up and packed tight, as no caller of the whole-image form could pass.
        const std::size_t row = 3 * std::size_t(w);
        std::vector<BYTE> packed(row * std::size_t(h));
        for (int y = 0; y < h; ++y) {
            std::memcpy(&packed[row * std::size_t(h - 1 - y)], img.At(0, y), row);
        }
        std::vector<int> asked;
        CJpegEncoder encoder;
        encoder.Encode("rows.jpg", w, h, [&](int y) -> const BYTE* {
            asked.push_back(y);
            return &packed[row * std::size_t(h - 1 - y)];
        });
        EXPECT_TRUE(ReadFile("rows.jpg") == reference::Encode(w, h, img.bits.data()));
        ASSERT_EQ(asked.size(), std::size_t(h));
        for (int y = 0; y < h; ++y) {
            EXPECT_EQ(asked[std::size_t(y)], y);
        }
    }
    std::remove("rows.jpg");
}

TEST(JpegRows, RunningOutOfRowsAbandonsTheEncode) {
    auto img = testimages::Make(testimages::Kind::Noise, 40, 40, 4);
    const std::size_t stride = std::size_t(reference::Stride(40));
    int calls = 0;
    CJpegEncoder encoder;
    encoder.Encode("short.jpg", 40, 40, [&](int y) -> const BYTE* {
        ++calls;
        return y < 20 ? img.bits.data() + stride * std::size_t(y) : nullptr;
    });
    EXPECT_EQ(calls, 21);
    // The headers are there, the data and end marker are not.
    const std::vector<std::uint8_t> f = ReadFile("short.jpg");
    ASSERT_GE(f.size(), 2u);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0xD8);
    EXPECT_FALSE(f[f.size() - 2] == 0xFF && f[f.size() - 1] == 0xD9);

    // No source at all: nothing is written.
    std::remove("short.jpg");
    encoder.Encode("short.jpg", 40, 40, CJpegEncoder::RowSource());
    EXPECT_TRUE(ReadFile("short.jpg").empty());
    // The encoder is fine for the next image.
    encoder.Encode("short.jpg", 40, 40, img.bits.data());
    EXPECT_TRUE(ReadFile("short.jpg") == reference::Encode(40, 40, img.bits.data()));
    std::remove("short.jpg");
}

} // namespace
