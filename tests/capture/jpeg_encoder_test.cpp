// Whole files from Encode: byte-for-byte equality with the literal encoder over many images, the
// refusals, and outside decoders reading every kind and size without a warning (photo-like images
// close to their input).
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"
#include "capture/jpeg_reference.h"
#include "capture/test_images.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bmpfile::Exists;
using bmpfile::ReadAll;

// Sizes on and beside the block edges, larger images whose long runs of blocks carry the DC
// predictions far, then many small random images of every kind and size; one encoder for all.
TEST(JpegFile, SameBytesAsLiteralEncoder) {
    using testimages::Kind;
    std::vector<testimages::Image> images = {
        testimages::Make(Kind::Photo, 1, 1, 1),
        testimages::Make(Kind::Photo, 17, 9, 2),
        testimages::Make(Kind::Photo, 8, 8, 3),
        testimages::Make(Kind::Photo, 203, 117, 4),
        testimages::Make(Kind::Gradient, 31, 250, 5),
        testimages::Make(Kind::Noise, 99, 13, 6),
        testimages::Make(Kind::Edges, 120, 72, 7),
        testimages::Make(Kind::Extreme, 40, 24, 8),
        // The widest image a frame header holds, in one row.
        testimages::Make(Kind::Gradient, 65535, 1, 5),
    };
    std::mt19937 rng(2024);
    for (int i = 0; i < 150; ++i) {
        const Kind kind = Kind(rng() % 6);
        const int w = int(rng() % 70) + 1, h = int(rng() % 50) + 1;
        images.push_back(testimages::Make(kind, w, h, unsigned(rng())));
    }
    CJpegEncoder encoder;
    for (const testimages::Image& img : images) {
        SCOPED_TRACE(std::to_string(img.width) + "x" + std::to_string(img.height));
        encoder.Encode("same.jpg", img.width, img.height, img.bits.data());
        EXPECT_TRUE(ReadAll("same.jpg") ==
                    reference::Encode(img.width, img.height, img.bits.data()));
    }
}

// Sizes a frame header cannot hold, no pixels, no name, and a file that cannot be created: no
// file, and the encoder stays usable.
TEST(JpegFile, RefusesWhatItCannotWrite) {
    auto img = testimages::Make(testimages::Kind::Flat, 16, 16, 3);
    struct Bad {
        int width, height;
        const char* file;
        bool pixels;
    } cases[] = {{0, 8, "bad.jpg", true},
                 {8, 0, "bad.jpg", true},
                 {-8, 8, "bad.jpg", true},
                 {8, -1, "bad.jpg", true},
                 {65536, 1, "bad.jpg", true},
                 {1, 65536, "bad.jpg", true},
                 {INT_MIN, 8, "bad.jpg", true},
                 {8, 8, "bad.jpg", false},
                 {16, 16, "no-such-folder/out.jpg", true}};
    CJpegEncoder encoder;
    for (const Bad& b : cases) {
        SCOPED_TRACE(std::to_string(b.width) + "x" + std::to_string(b.height) + " " + b.file);
        std::remove(b.file);
        encoder.Encode(b.file, b.width, b.height, b.pixels ? img.bits.data() : nullptr);
        EXPECT_FALSE(Exists(b.file));
    }
    encoder.Encode(nullptr, 8, 8, img.bits.data()); // nothing to write to: nothing happens
    encoder.Encode("after.jpg", 16, 16, img.bits.data());
    EXPECT_TRUE(ReadAll("after.jpg") == reference::Encode(16, 16, img.bits.data()));
}

// Rows handed over one at a time: the same file as from a whole image, each row asked for once
// and in order, and an encode abandoned when the rows run out.
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
        EXPECT_TRUE(ReadAll("rows.jpg") == reference::Encode(w, h, img.bits.data()));
        ASSERT_EQ(asked.size(), std::size_t(h));
        for (int y = 0; y < h; ++y) {
            EXPECT_EQ(asked[std::size_t(y)], y);
        }
    }
    std::remove("rows.jpg");
}

// The coded data goes to the file as the rows are coded: held whole in memory, the data of a
// large image (beyond 2^31 bytes for 65535 x 65535 of noise) could not be written at all.
TEST(JpegRows, CodedDataReachesTheFileBeforeTheLastRow) {
    const int w = 1024, h = 1024;
    auto img = testimages::Make(testimages::Kind::Noise, w, h, 11);
    const std::size_t stride = std::size_t(reference::Stride(w));
    long sizeAtLastRow = 0;
    CJpegEncoder encoder;
    encoder.Encode("stream.jpg", w, h, [&](int y) -> const BYTE* {
        if (y == h - 1) {
            sizeAtLastRow = long(ReadAll("stream.jpg").size());
        }
        return img.bits.data() + stride * std::size_t(y);
    });
    const std::vector<std::uint8_t> file = ReadAll("stream.jpg");
    EXPECT_TRUE(file == reference::Encode(w, h, img.bits.data()));
    EXPECT_GT(sizeAtLastRow, long(file.size()) / 2) << "of " << file.size() << " bytes";
    std::remove("stream.jpg");
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
    const std::vector<std::uint8_t> f = ReadAll("short.jpg");
    ASSERT_GE(f.size(), 2u);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0xD8);
    EXPECT_FALSE(f[f.size() - 2] == 0xFF && f[f.size() - 1] == 0xD9);
    // The bits of the byte it was filling are gone: eight 0-bits make a 0 byte.
    CJpegEncoder next;
    next.PutBits(0, 8);
    ASSERT_EQ(next.m_nBufferPos, 1);
    EXPECT_EQ(next.m_pBuffer[0], 0);

    // No source at all: nothing is written.
    std::remove("short.jpg");
    encoder.Encode("short.jpg", 40, 40, CJpegEncoder::RowSource());
    EXPECT_TRUE(ReadAll("short.jpg").empty());
    // The encoder is fine for the next image.
    encoder.Encode("short.jpg", 40, 40, img.bits.data());
    EXPECT_TRUE(ReadAll("short.jpg") == reference::Encode(40, 40, img.bits.data()));
    std::remove("short.jpg");
}

// The truncating quantisation costs a little against the usual rounding; photo-like content
// still comes back at 29 dB or better. The decoders stop at 65500 columns, short of the 65535 a
// frame header allows.
TEST(JpegDecoders, EveryKindAndSizeDecodes) {
    using testimages::Kind;
    const struct {
        Kind kind;
        int width, height;
        const char* minimumDb; // "" for no quality bound
    } cases[] = {
        {Kind::Photo, 1, 1, ""},        {Kind::Photo, 5, 3, ""},
        {Kind::Photo, 17, 9, ""},       {Kind::Gradient, 100, 37, ""},
        {Kind::Noise, 33, 65, ""},      {Kind::Flat, 16, 8, ""},
        {Kind::Edges, 120, 72, ""},     {Kind::Extreme, 64, 64, ""},
        {Kind::Photo, 640, 480, "29"},  {Kind::Photo, 203, 117, "29"},
        {Kind::Gradient, 65500, 1, ""},
    };
    std::ofstream list("decoders.list");
    unsigned seed = 10;
    for (const auto& c : cases) {
        auto img = testimages::Make(c.kind, c.width, c.height, seed++);
        const std::string name = std::string(testimages::Name(c.kind)) + std::to_string(c.width) +
                                 "x" + std::to_string(c.height);
        CJpegEncoder().Encode((name + ".jpg").c_str(), img.width, img.height, img.bits.data());
        std::vector<COLORREF> colours;
        for (int i = 0; i < img.width * img.height; ++i) {
            const std::uint8_t* p = img.At(i % img.width, i / img.width);
            colours.push_back(RGB(p[2], p[1], p[0]));
        }
        bmpfile::WritePpm(name + ".ppm", img.width, img.height, colours);
        list << "jpeg " << name << ".jpg " << name << ".ppm " << c.minimumDb << "\n";
    }
    list.close();
    EXPECT_EQ(bmpfile::CheckWithOutsideDecoders("decoders.list"), "");
}

} // namespace
