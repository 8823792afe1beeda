// Whole files from Encode: their layout, byte-for-byte equality with the literal encoder over
// many images, and the refusals.
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"
#include "capture/jpeg_reference.h"
#include "capture/test_images.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

using bmpfile::Exists;
using bmpfile::ReadAll;

std::vector<std::uint8_t> EncodeFile(const testimages::Image& img, const std::string& path) {
    CJpegEncoder encoder;
    encoder.Encode(path.c_str(), img.width, img.height, img.bits.data());
    return ReadAll(path);
}

TEST(JpegFile, LayoutOf640x480) {
    auto img = testimages::Make(testimages::Kind::Photo, 640, 480, 1);
    std::vector<std::uint8_t> f = EncodeFile(img, "layout.jpg");
    ASSERT_GT(f.size(), 595u);
    const std::vector<std::uint8_t> start = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43,
                                             0x00, 0x10, 0x0B, 0x0C, 0x0E};
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.begin() + 11), start);
    // Second quantisation table, then the Huffman segment of the typical tables.
    const std::vector<std::uint8_t> dqt1 = {0xFF, 0xDB, 0x00, 0x43, 0x01, 17, 18, 18, 24};
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 71, f.begin() + 80), dqt1);
    ASSERT_EQ(reference::DhtSegment().size(), 420u);
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 140, f.begin() + 560), reference::DhtSegment());
    const std::vector<std::uint8_t> dht = {0xFF, 0xC4, 0x01, 0xA2, 0x00, 0x00, 0x01, 0x05};
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 140, f.begin() + 148), dht);
    const std::vector<std::uint8_t> sof = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0,
                                           0x02, 0x80, 0x03, 0x01, 0x11, 0x00, 0x02,
                                           0x11, 0x01, 0x03, 0x11, 0x01};
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 560, f.begin() + 579), sof);
    const std::vector<std::uint8_t> sos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                                           0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 579, f.begin() + 593), sos);
    EXPECT_EQ(f[f.size() - 2], 0xFF);
    EXPECT_EQ(f[f.size() - 1], 0xD9);
    // No marker inside the entropy-coded data: every 0xFF there is stuffed.
    for (std::size_t i = 593; i + 2 < f.size(); ++i) {
        if (f[i] == 0xFF) {
            EXPECT_EQ(f[i + 1], 0x00) << "at " << i;
            ++i;
        }
    }
}

struct Case {
    testimages::Kind kind;
    int width, height;
};

// Sizes on and beside the block edges, and larger images whose long runs of blocks carry the
// DC predictions far; the random test below covers every kind at small sizes.
const Case kCases[] = {
    {testimages::Kind::Photo, 1, 1},       {testimages::Kind::Photo, 17, 9},
    {testimages::Kind::Photo, 8, 8},       {testimages::Kind::Photo, 203, 117},
    {testimages::Kind::Gradient, 31, 250}, {testimages::Kind::Noise, 99, 13},
    {testimages::Kind::Edges, 120, 72},    {testimages::Kind::Extreme, 40, 24},
};

TEST(JpegFile, SameBytesAsLiteralEncoder) {
    unsigned seed = 1;
    for (const Case& c : kCases) {
        auto img = testimages::Make(c.kind, c.width, c.height, seed++);
        std::string name = std::string(testimages::Name(c.kind)) + "_" + std::to_string(c.width) +
                           "x" + std::to_string(c.height) + ".jpg";
        std::vector<std::uint8_t> got = EncodeFile(img, name);
        std::vector<std::uint8_t> want = reference::Encode(img.width, img.height, img.bits.data());
        EXPECT_EQ(got.size(), want.size()) << name;
        EXPECT_TRUE(got == want) << name;
    }
}

// Many small random images of every kind and size, one encoder reused for all of them.
TEST(JpegFile, RandomImagesMatchLiteralEncoder) {
    std::mt19937 rng(2024);
    CJpegEncoder encoder;
    for (int i = 0; i < 150; ++i) {
        auto kind = testimages::Kind(rng() % 6);
        int w = int(rng() % 70) + 1, h = int(rng() % 50) + 1;
        auto img = testimages::Make(kind, w, h, unsigned(rng()));
        encoder.Encode("random.jpg", w, h, img.bits.data());
        EXPECT_TRUE(ReadAll("random.jpg") == reference::Encode(w, h, img.bits.data()))
            << testimages::Name(kind) << " " << w << "x" << h;
    }
}

TEST(JpegFile, RefusesSizesItCannotWrite) {
    auto img = testimages::Make(testimages::Kind::Flat, 8, 8, 3);
    struct Bad {
        int width, height;
    } cases[] = {{0, 8}, {8, 0}, {-8, 8}, {8, -1}, {65536, 1}, {1, 65536}, {-2147483647 - 1, 8}};
    for (const Bad& b : cases) {
        std::remove("bad.jpg");
        CJpegEncoder encoder;
        encoder.Encode("bad.jpg", b.width, b.height, img.bits.data());
        EXPECT_FALSE(Exists("bad.jpg")) << b.width << "x" << b.height;
    }
    CJpegEncoder encoder;
    encoder.Encode("bad.jpg", 8, 8, nullptr);
    EXPECT_FALSE(Exists("bad.jpg"));
    encoder.Encode(nullptr, 8, 8, img.bits.data()); // nothing to write to: nothing happens
}

TEST(JpegFile, FileThatCannotBeCreated) {
    auto img = testimages::Make(testimages::Kind::Photo, 16, 16, 4);
    CJpegEncoder encoder;
    encoder.Encode("no-such-folder/out.jpg", 16, 16, img.bits.data());
    EXPECT_FALSE(Exists("no-such-folder/out.jpg"));
    // The encoder stays usable.
    encoder.Encode("after.jpg", 16, 16, img.bits.data());
    EXPECT_TRUE(ReadAll("after.jpg") == reference::Encode(16, 16, img.bits.data()));
}

#if defined(__SANITIZE_ADDRESS__)
#define TALVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALVO_ADDRESS_SANITIZER 1
#endif
#endif

// When the buffers cannot be had, nothing is written and nothing crashes. A child process with
// little address space left to it encodes an image whose entropy buffer does not fit.
TEST(JpegFile, BuffersThatCannotBeHadWriteNothing) {
#ifdef TALVO_ADDRESS_SANITIZER
    GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
#else
    auto img = testimages::Make(testimages::Kind::Gradient, 2400, 2000, 6);
    std::remove("nomemory.jpg");
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0, size = 0;
        if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) {
                pages = 0;
            }
            std::fclose(f);
        }
        size = pages * sysconf(_SC_PAGESIZE);
        rlimit limit = {rlim_t(size + (4 << 20)), rlim_t(size + (4 << 20))};
        if (size == 0 || setrlimit(RLIMIT_AS, &limit) != 0) {
            _exit(3);
        }
        CJpegEncoder encoder;
        encoder.Encode("nomemory.jpg", img.width, img.height, img.bits.data());
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the encoder crashed";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(Exists("nomemory.jpg"));
    // With its memory back, the same encode succeeds.
    std::vector<std::uint8_t> f = EncodeFile(img, "nomemory.jpg");
    ASSERT_GT(f.size(), 595u);
    EXPECT_EQ(f[f.size() - 2], 0xFF);
    EXPECT_EQ(f[f.size() - 1], 0xD9);
#endif
}

// A width of 65535 is the largest a frame header holds; one row keeps the test small.
TEST(JpegFile, WidestImage) {
    auto img = testimages::Make(testimages::Kind::Gradient, 65535, 1, 5);
    std::vector<std::uint8_t> got = EncodeFile(img, "wide.jpg");
    EXPECT_TRUE(got == reference::Encode(65535, 1, img.bits.data()));
}

} // namespace
