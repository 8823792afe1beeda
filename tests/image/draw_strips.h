// The strips the drawing tests draw from: the same picture in bitmap mode and in image-list mode,
// each with and without the half-transparent frames.
#pragma once

#include "image/draw_fixture.h"

namespace drawtest {

struct Strips {
    StripPicture picture;
    CImage bitmapSemi, listSemi, bitmapPlain, listPlain;

    Strips() {
        ok = CreateStrip(bitmapSemi, picture, true, false) &&
             CreateStrip(listSemi, picture, true, true) &&
             CreateStrip(bitmapPlain, picture, false, false) &&
             CreateStrip(listPlain, picture, false, true);
    }
    // The strip with semi-transparent frames in the mode asked for.
    CImage& Semi(bool imageList) { return imageList ? listSemi : bitmapSemi; }
    CImage& Plain(bool imageList) { return imageList ? listPlain : bitmapPlain; }

    // Raw value of pixel (i, j) of frame `frame`, and whether the key or the checkerboard hides
    // it in the half-transparent frame.
    Raw Pixel(int frame, int i, int j) const {
        return RawOf(picture.At(frame * picture.frameWidth + i, j));
    }
    bool Key(int frame, int i, int j) const {
        return picture.IsKey(frame * picture.frameWidth + i, j);
    }
    bool SemiKey(int frame, int i, int j) const {
        return picture.IsSemiKey(frame * picture.frameWidth + i, j);
    }

    bool ok = false;
};

// A display-format bitmap, not selected anywhere, used as a background; 64 x 40, its own pattern.
struct BackgroundBitmap {
    RawBitmap bitmap{64, 40};
    std::vector<Raw> pixels = UnderPattern(64, 40, 4242);
    BackgroundBitmap() { bitmap.Write(pixels); }
    Raw At(int x, int y) const { return pixels[static_cast<size_t>(y) * 64 + x]; }
};

} // namespace drawtest
