// `talvo jpeg`: BMP files of several depths become the same bytes as the literal encoder gives
// for their pixels, and every failure is reported with the exit code of its kind.
#include "capture/jpeg_reference.h"
#include "capture/test_images.h"
#include "support/bmp_builder.h"
#include "tools/run_talvo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A bottom-up BMP file of the image at 24 or 32 bits, or at 8 bits through a palette that holds
// every colour the image uses (the image must have at most 256 of them).
void WriteBmp(testimages::Image& img, int bits, const std::string& path) {
    bmpfile::FileLayout s;
    s.width = img.width;
    s.height = img.height;
    s.bits = bits;
    const std::size_t stride = std::size_t(bmpfile::stride(img.width, bits));
    s.pixels.assign(stride * std::size_t(img.height), 0);
    for (int y = 0; y < img.height; ++y) {
        std::uint8_t* row = &s.pixels[stride * std::size_t(img.height - 1 - y)];
        for (int x = 0; x < img.width; ++x) {
            const std::uint8_t* p = img.At(x, y);
            if (bits != 8) {
                std::memcpy(row + x * (bits / 8), p, 3);
                continue;
            }
            const auto same = [&](const RGBQUAD& q) {
                return q.rgbBlue == p[0] && q.rgbGreen == p[1] && q.rgbRed == p[2];
            };
            auto it = std::find_if(s.colours.begin(), s.colours.end(), same);
            if (it == s.colours.end()) {
                it = s.colours.insert(it, RGBQUAD{p[0], p[1], p[2], 0});
            }
            row[x] = std::uint8_t(it - s.colours.begin());
        }
    }
    ASSERT_LE(s.colours.size(), 256u);
    if (bits == 8) {
        s.colours.resize(256, RGBQUAD{0, 0, 0, 0});
    }
    bmpfile::write(path, bmpfile::build(s));
}

TEST(JpegCommand, EncodesBmpFilesOfEveryDepthLikeTheLiteralEncoder) {
    struct Case {
        testimages::Kind kind;
        int width, height, bits;
    } cases[] = {
        {testimages::Kind::Photo, 203, 117, 24}, {testimages::Kind::Photo, 64, 48, 32},
        {testimages::Kind::Edges, 37, 21, 8},    {testimages::Kind::Flat, 1, 1, 24},
        {testimages::Kind::Noise, 17, 9, 24},
    };
    unsigned seed = 70;
    for (const Case& c : cases) {
        auto img = testimages::Make(c.kind, c.width, c.height, seed++);
        std::string name = std::string(testimages::Name(c.kind)) + std::to_string(c.bits);
        WriteBmp(img, c.bits, name + ".bmp");
        std::string err;
        ASSERT_EQ(Talvo("jpeg " + name + ".bmp " + name + ".jpg", nullptr, &err), 0) << err;
        EXPECT_EQ(err, "");
        EXPECT_TRUE(bmpfile::ReadAll(name + ".jpg") ==
                    reference::Encode(img.width, img.height, img.bits.data()))
            << name;
    }
}

TEST(JpegCommand, RepeatReportsSpeed) {
    auto img = testimages::Make(testimages::Kind::Photo, 48, 32, 5);
    WriteBmp(img, 24, "repeat.bmp");
    std::string out;
    ASSERT_EQ(Talvo("jpeg repeat.bmp repeat.jpg --repeat 3", &out), 0);
    EXPECT_NE(out.find("48 x 32: best of 3:"), std::string::npos) << out;
    EXPECT_NE(out.find("Mpx/s"), std::string::npos) << out;
    EXPECT_TRUE(bmpfile::ReadAll("repeat.jpg") == reference::Encode(48, 32, img.bits.data()));
    ASSERT_EQ(Talvo("jpeg --help", &out), 0);
    EXPECT_NE(out.find("usage: talvo jpeg IN.bmp OUT.jpg [--repeat N]"), std::string::npos);
}

TEST(JpegCommand, FailuresGoToStandardErrorWithTheirExitCode) {
    auto img = testimages::Make(testimages::Kind::Flat, 8, 8, 6);
    WriteBmp(img, 24, "ok.bmp");
    std::ofstream("not-a-bitmap.bmp") << "this is text, not a bitmap";
    struct Case {
        const char* args;
        int code; // 2 for a usage error, 1 for a failure
        const char* message;
    } cases[] = {
        {"jpeg", 2, "usage: talvo jpeg"},
        {"jpeg ok.bmp", 2, "usage: talvo jpeg"},
        {"jpeg ok.bmp a.jpg b.jpg", 2, "too many arguments"},
        {"jpeg ok.bmp a.jpg --repeat", 2, "--repeat needs a count"},
        {"jpeg ok.bmp a.jpg --repeat 0", 2, "--repeat needs a count"},
        {"jpeg ok.bmp a.jpg --fast", 2, "unknown option"},
        {"jpeg missing.bmp a.jpg", 1, "cannot load 'missing.bmp'"},
        {"jpeg not-a-bitmap.bmp a.jpg", 1, "cannot load 'not-a-bitmap.bmp'"},
        {"jpeg ok.bmp no-such-folder/a.jpg", 1,
         "cannot create 'no-such-folder/a.jpg': No such file or directory"},
        {"jpeg ok.bmp .", 1, "cannot create '.'"},
    };
    for (const Case& c : cases) {
        std::string out, err;
        EXPECT_EQ(Talvo(c.args, &out, &err), c.code) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << ": " << err;
        EXPECT_EQ(out, "") << c.args;
    }
}

} // namespace
