// Synthetic 24-bit images in the layout the encoder and the dithering read (blue-green-red rows in
// memory order, each padded to a multiple of 4 bytes), for the comparisons with the literal
// encoder, the literal dithering loop and the outside decoders.
#pragma once

#include "capture/jpeg_reference.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace testimages {

// PaletteExact takes each pixel's colour from the palette given to Make.
enum class Kind { Photo, Gradient, Noise, Flat, Edges, Extreme, PaletteExact };

inline const char* Name(Kind k) {
    static const char* const names[] = {"photo", "gradient", "noise",        "flat",
                                        "edges", "extreme",  "palette-exact"};
    return names[static_cast<int>(k)];
}

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bits; // encoder layout

    std::uint8_t* At(int x, int y) {
        return &bits[std::size_t(y) * reference::Stride(width) + 3 * std::size_t(x)];
    }
};

// Photo-like: smooth colour fields, soft texture from interpolated noise, a few hard-edged shapes
// and a little grain.
inline Image Make(Kind kind, int width, int height, unsigned seed, const RGBQUAD* palette = nullptr,
                  int paletteSize = 0) {
    Image img;
    img.width = width;
    img.height = height;
    const int stride = reference::Stride(width);
    img.bits.assign(std::size_t(stride) * height, 0);
    std::mt19937 rng(seed);
    // Row padding bytes carry garbage, which the encoder must ignore.
    for (int y = 0; y < height; ++y) {
        for (int i = 3 * width; i < stride; ++i) {
            img.bits[std::size_t(y) * stride + i] = std::uint8_t(rng());
        }
    }
    std::uniform_int_distribution<int> byte(0, 255);
    const int cell = 16;
    const int gw = width / cell + 2, gh = height / cell + 2;
    std::vector<float> grid(std::size_t(gw) * gh * 3);
    for (float& g : grid) {
        g = float(byte(rng)) - 128.0f;
    }
    const int colour = byte(rng), colour2 = byte(rng);
    const int w1 = std::max(1, width - 1), h1 = std::max(1, height - 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = img.At(x, y);
            if (kind == Kind::PaletteExact) {
                const RGBQUAD& q = palette[rng() % unsigned(paletteSize)];
                p[0] = q.rgbBlue;
                p[1] = q.rgbGreen;
                p[2] = q.rgbRed;
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                int v = kind == Kind::Gradient ? (x * 255 / w1 + c * y * 255 / h1) / (c + 1)
                        : kind == Kind::Noise  ? byte(rng)
                        : kind == Kind::Flat ? (c == 0 ? colour : (c == 1 ? colour2 : 255 - colour))
                        : kind == Kind::Edges
                            ? ((((x / 5) ^ (y / 3)) & 1) ? 250 - 40 * c : 10 + 30 * c)
                        : kind == Kind::Extreme ? ((rng() & 1) ? 255 : 0)
                                                : 0;
                if (kind == Kind::Photo) {
                    float fx = float(x) / cell, fy = float(y) / cell;
                    int ix = int(fx), iy = int(fy);
                    float ax = fx - ix, ay = fy - iy;
                    auto g = [&](int gx, int gy) {
                        return grid[(std::size_t(gy) * gw + gx) * 3 + c];
                    };
                    float tex = (g(ix, iy) * (1 - ax) + g(ix + 1, iy) * ax) * (1 - ay) +
                                (g(ix, iy + 1) * (1 - ax) + g(ix + 1, iy + 1) * ax) * ay;
                    float base =
                        128.0f + 90.0f * std::sin(0.7f * c + float(x) / (width + 40.0f) * 3.0f +
                                                  float(y) / (height + 30.0f) * 2.0f);
                    v = int(base + 0.5f * tex) + int(rng() % 7) - 3;
                    if (((x / 37) + (y / 29)) % 5 == 0) {
                        v = (c == 0 ? colour : colour2) + int(rng() % 5) - 2;
                    }
                }
                p[c] = std::uint8_t(std::clamp(v, 0, 255));
            }
        }
    }
    return img;
}

} // namespace testimages
