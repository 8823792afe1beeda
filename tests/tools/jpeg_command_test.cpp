// `talvo jpeg`: BMP files of several depths become the same bytes as the literal encoder gives
// for their pixels, and every failure is reported with a nonzero exit.
#include "capture/JpegEncoder.h"
#include "capture/jpeg_reference.h"
#include "capture/test_images.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Put16(std::vector<std::uint8_t>& v, int x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}

void Put32(std::vector<std::uint8_t>& v, std::int64_t x) {
    for (int i = 0; i < 4; ++i) {
        v.push_back(std::uint8_t(x >> (8 * i)));
    }
}

// A BMP file of the image at 24 or 32 bits (bottom-up), or at 8 bits through a palette that
// holds every colour the image uses (the image must have at most 256 of them).
void WriteBmp(testimages::Image& img, int bits, const std::string& path) {
    std::vector<std::uint32_t> palette;
    const int stride = ((img.width * bits + 31) / 32) * 4;
    std::vector<std::uint8_t> pixels(std::size_t(stride) * img.height, 0);
    for (int y = 0; y < img.height; ++y) {
        std::uint8_t* row = &pixels[std::size_t(img.height - 1 - y) * stride];
        for (int x = 0; x < img.width; ++x) {
            const std::uint8_t* p = img.At(x, y);
            if (bits == 8) {
                std::uint32_t c = p[0] | (p[1] << 8) | (p[2] << 16);
                std::size_t i = 0;
                while (i < palette.size() && palette[i] != c) {
                    ++i;
                }
                if (i == palette.size()) {
                    palette.push_back(c);
                }
                row[x] = std::uint8_t(i);
            } else {
                for (int c = 0; c < 3; ++c) {
                    row[x * (bits / 8) + c] = p[c];
                }
            }
        }
    }
    ASSERT_LE(palette.size(), 256u);
    const int tableSize = bits == 8 ? 1024 : 0;
    std::vector<std::uint8_t> f = {'B', 'M'};
    Put32(f, 54 + tableSize + std::int64_t(pixels.size()));
    Put32(f, 0);
    Put32(f, 54 + tableSize);
    Put32(f, 40);
    Put32(f, img.width);
    Put32(f, img.height);
    Put16(f, 1);
    Put16(f, bits);
    for (int i = 0; i < 6; ++i) {
        Put32(f, 0);
    }
    if (bits == 8) {
        palette.resize(256, 0);
        for (std::uint32_t c : palette) {
            Put32(f, c);
        }
    }
    f.insert(f.end(), pixels.begin(), pixels.end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
}

// Runs the program; returns its exit code and what it printed on each stream.
int Talvo(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
    std::string cmd = std::string(TALVO_PROGRAM) + " " + args + " >cmd.out 2>cmd.err";
    int status = std::system(cmd.c_str());
    if (out != nullptr) {
        *out = ReadText("cmd.out");
    }
    if (err != nullptr) {
        *err = ReadText("cmd.err");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
        EXPECT_TRUE(ReadFile(name + ".jpg") ==
                    reference::Encode(img.width, img.height, img.bits.data()))
            << name;
    }
}

// A large file: the bytes stay those of the encoder called directly.
TEST(JpegCommand, LargeFileMatchesTheEncoder) {
    auto img = testimages::Make(testimages::Kind::Photo, 1800, 1700, 8);
    WriteBmp(img, 24, "large.bmp");
    std::string err;
    ASSERT_EQ(Talvo("jpeg large.bmp large.jpg", nullptr, &err), 0) << err;
    CJpegEncoder encoder;
    encoder.Encode("direct.jpg", img.width, img.height, img.bits.data());
    std::vector<std::uint8_t> got = ReadFile("large.jpg");
    EXPECT_GT(got.size(), 595u);
    EXPECT_TRUE(got == ReadFile("direct.jpg"));
}

TEST(JpegCommand, RepeatReportsSpeed) {
    auto img = testimages::Make(testimages::Kind::Photo, 48, 32, 5);
    WriteBmp(img, 24, "repeat.bmp");
    std::string out;
    ASSERT_EQ(Talvo("jpeg repeat.bmp repeat.jpg --repeat 3", &out), 0);
    EXPECT_NE(out.find("48 x 32: best of 3:"), std::string::npos) << out;
    EXPECT_NE(out.find("Mpx/s"), std::string::npos) << out;
    EXPECT_TRUE(ReadFile("repeat.jpg") == reference::Encode(48, 32, img.bits.data()));
    ASSERT_EQ(Talvo("jpeg --help", &out), 0);
    EXPECT_NE(out.find("usage: talvo jpeg IN.bmp OUT.jpg [--repeat N]"), std::string::npos);
}

TEST(JpegCommand, FailuresGoToStandardErrorWithNonzeroExit) {
    auto img = testimages::Make(testimages::Kind::Flat, 8, 8, 6);
    WriteBmp(img, 24, "ok.bmp");
    std::ofstream("not-a-bitmap.bmp") << "this is text, not a bitmap";
    struct Case {
        const char* args;
        const char* message;
    } cases[] = {
        {"jpeg", "usage: talvo jpeg"},
        {"jpeg ok.bmp", "usage: talvo jpeg"},
        {"jpeg ok.bmp a.jpg b.jpg", "too many arguments"},
        {"jpeg ok.bmp a.jpg --repeat", "--repeat needs a count"},
        {"jpeg ok.bmp a.jpg --repeat 0", "--repeat needs a count"},
        {"jpeg ok.bmp a.jpg --fast", "unknown option"},
        {"jpeg missing.bmp a.jpg", "cannot load 'missing.bmp'"},
        {"jpeg not-a-bitmap.bmp a.jpg", "cannot load 'not-a-bitmap.bmp'"},
        {"jpeg ok.bmp no-such-folder/a.jpg",
         "cannot create 'no-such-folder/a.jpg': No such file or directory"},
        {"jpeg ok.bmp .", "cannot create '.'"},
    };
    for (const Case& c : cases) {
        std::string out, err;
        EXPECT_NE(Talvo(c.args, &out, &err), 0) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << ": " << err;
        EXPECT_EQ(out, "") << c.args;
    }
}

} // namespace
