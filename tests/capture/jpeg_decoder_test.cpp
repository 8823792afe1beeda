// Outside decoders read every file the encoder writes without a warning, at the right size, and
// photo-like images come back close to their input.
#include "capture/JpegEncoder.h"
#include "capture/test_images.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

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
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) {
                colours.push_back(RGB(img.At(x, y)[2], img.At(x, y)[1], img.At(x, y)[0]));
            }
        }
        bmpfile::WritePpm(name + ".ppm", img.width, img.height, colours);
        list << "jpeg " << name << ".jpg " << name << ".ppm " << c.minimumDb << "\n";
    }
    list.close();
    EXPECT_EQ(bmpfile::CheckWithOutsideDecoders("decoders.list"), "");
}

} // namespace
