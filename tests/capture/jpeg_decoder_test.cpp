// Outside decoders read every file the encoder writes without a warning, at the right size, and
// photo-like images come back close to their input.
#include "capture/JpegEncoder.h"
#include "capture/test_images.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string SourceDir() {
    const char* dir = std::getenv("TALVO_SOURCE_DIR");
    return dir != nullptr ? dir : ".";
}

std::string ReadText(const std::string& path) {
    const bmpfile::Bytes bytes = bmpfile::ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

void WritePpm(testimages::Image& img, const std::string& path) {
    std::vector<COLORREF> colours;
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            colours.push_back(RGB(img.At(x, y)[2], img.At(x, y)[1], img.At(x, y)[0]));
        }
    }
    bmpfile::WritePpm(path, img.width, img.height, colours);
}

struct Decoded {
    bool ok = false;
    double psnrPillow = 0, psnrDjpeg = 0;
    std::string detail;
};

Decoded DecodeBoth(testimages::Image& img, const std::string& name) {
    CJpegEncoder encoder;
    encoder.Encode((name + ".jpg").c_str(), img.width, img.height, img.bits.data());
    WritePpm(img, name + ".in.ppm");
    Decoded d;
    std::string cmd = "djpeg -outfile " + name + ".djpeg.ppm " + name + ".jpg 2>" + name + ".err";
    int rc = std::system(cmd.c_str());
    std::string err = ReadText(name + ".err");
    if (rc != 0 || !err.empty()) {
        d.detail = "djpeg: " + err;
        return d;
    }
    cmd = "/usr/bin/python3 " + SourceDir() + "/tests/capture/decode_check.py " + name + ".jpg " +
          name + ".in.ppm " + name + ".djpeg.ppm >" + name + ".out 2>&1";
    rc = std::system(cmd.c_str());
    std::string out = ReadText(name + ".out");
    char word[8] = {};
    if (rc != 0 ||
        std::sscanf(out.c_str(), "%7s %lf %lf", word, &d.psnrPillow, &d.psnrDjpeg) != 3 ||
        std::string(word) != "ok") {
        d.detail = "Pillow: " + out;
        return d;
    }
    d.ok = true;
    return d;
}

TEST(JpegDecoders, EveryKindAndSizeDecodes) {
    struct Case {
        testimages::Kind kind;
        int width, height;
    } cases[] = {
        {testimages::Kind::Photo, 1, 1},
        {testimages::Kind::Photo, 5, 3},
        {testimages::Kind::Photo, 17, 9},
        {testimages::Kind::Gradient, 100, 37},
        {testimages::Kind::Noise, 33, 65},
        {testimages::Kind::Flat, 16, 8},
        {testimages::Kind::Edges, 120, 72},
        {testimages::Kind::Extreme, 64, 64},
        // The decoders stop at 65500 columns, short of the 65535 a frame header allows.
        {testimages::Kind::Gradient, 65500, 1},
    };
    unsigned seed = 10;
    for (const Case& c : cases) {
        auto img = testimages::Make(c.kind, c.width, c.height, seed++);
        std::string name = std::string(testimages::Name(c.kind)) + std::to_string(c.width) + "x" +
                           std::to_string(c.height);
        Decoded d = DecodeBoth(img, name);
        EXPECT_TRUE(d.ok) << name << ": " << d.detail;
    }
}

// The truncating quantisation costs a little against the usual rounding; photo-like content
// still comes back at about 29 dB or better.
TEST(JpegDecoders, PhotoLikeImagesKeepTheirQuality) {
    const int sizes[][2] = {{640, 480}, {203, 117}, {1024, 768}};
    unsigned seed = 40;
    for (const auto& s : sizes) {
        auto img = testimages::Make(testimages::Kind::Photo, s[0], s[1], seed++);
        std::string name = "quality" + std::to_string(s[0]);
        Decoded d = DecodeBoth(img, name);
        ASSERT_TRUE(d.ok) << name << ": " << d.detail;
        EXPECT_GE(d.psnrPillow, 29.0) << name;
        EXPECT_GE(d.psnrDjpeg, 29.0) << name;
        RecordProperty(name + "_psnr", std::to_string(d.psnrDjpeg));
        std::printf("%s: %.2f dB (Pillow), %.2f dB (djpeg)\n", name.c_str(), d.psnrPillow,
                    d.psnrDjpeg);
    }
}

} // namespace
