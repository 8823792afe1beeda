// Source images for the dithering tests: the shared synthetic images as 24-bit rows, and random
// images in the other layouts the library reads, made by the shared BMP builder.
#pragma once

#include "capture/test_images.h"
#include "support/bmp_builder.h"

#include <vector>

namespace testimg {

using testimages::Kind;

// A 24-bit image: B, G, R per pixel, rows padded to 4 bytes with 0, `rows` rows in memory order.
inline std::vector<BYTE> make24(Kind kind, int width, int rows, unsigned seed,
                                const RGBQUAD* palette = nullptr, int paletteSize = 0) {
    std::vector<BYTE> bits = testimages::Make(kind, width, rows, seed, palette, paletteSize).bits;
    const std::size_t stride = std::size_t(bmpfile::stride(width, 24));
    for (std::size_t i = 0; i < bits.size(); ++i) {
        bits[i] = i % stride < std::size_t(3 * width) ? bits[i] : 0;
    }
    return bits;
}

// A source image as the library is given it, from a BMP file: the header (with masks or colour
// table) and the rows; and the 24-bit rows the display sees in it, in the same memory order
// (what the reference loop is given).
struct Source {
    std::vector<BYTE> header;
    std::vector<BYTE> bits;
    std::vector<BYTE> seen24;
    const BITMAPINFOHEADER* info() const {
        return reinterpret_cast<const BITMAPINFOHEADER*>(header.data());
    }
};

inline Source from_file(const bmpfile::Bytes& file, std::vector<BYTE> seen24) {
    const auto rows = file.begin() + bmpfile::File{file}.OffBits();
    return {std::vector<BYTE>(file.begin() + 14, rows), std::vector<BYTE>(rows, file.end()),
            std::move(seen24)};
}

// 24-bit rows as they are (a negative height: top-down).
inline Source source24(const std::vector<BYTE>& rows, int width, int height) {
    bmpfile::FileLayout f;
    f.width = width;
    f.height = height;
    f.pixels = rows;
    return from_file(bmpfile::build(f), rows);
}

// Random pixels in the layout `v` describes.
inline Source random_source(const bmpfile::Variant& v, unsigned seed) {
    std::vector<std::uint32_t> rgb; // 0x00RRGGBB, top row first
    const bmpfile::Bytes file = bmpfile::make(v, seed, &rgb);
    const int stride = bmpfile::stride(v.width, 24);
    std::vector<BYTE> seen(static_cast<std::size_t>(stride) * v.height, 0);
    for (int i = 0; i < v.width * v.height; ++i) {
        const int row = v.top_down ? i / v.width : v.height - 1 - i / v.width;
        bmpfile::put(seen, std::size_t(stride) * row + 3 * (i % v.width), rgb[std::size_t(i)], 3);
    }
    return from_file(file, std::move(seen));
}

} // namespace testimg
