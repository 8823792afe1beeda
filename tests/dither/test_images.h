// Source images for the dithering tests: the shared synthetic images as 24-bit rows, and the
// other layouts the library reads.
#pragma once

#include "capture/test_images.h"
#include "support/bmp_builder.h"

#include <cstring>
#include <random>
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

// A source image in one of the layouts the library reads, with the 24-bit image the display
// would see in it (what the reference loop is given).
struct Source {
    std::vector<BYTE> header; // BITMAPINFOHEADER, then masks or a colour table
    std::vector<BYTE> bits;
    std::vector<BYTE> seen24;
    const BITMAPINFOHEADER* info() const {
        return reinterpret_cast<const BITMAPINFOHEADER*>(header.data());
    }
};

enum class Layout { Bgr24, Bgrx32, Rgb555, Rgb565Masks, Rgbx32Masks, Indexed8 };

inline const char* name(Layout l) {
    static const char* const names[] = {"24",       "32", "16-555", "16-565-masks", "32-rgbx-masks",
                                        "8-indexed"};
    return names[static_cast<int>(l)];
}

// Depth, red, green and blue masks, and what the unused bits hold, of each layout but the last.
struct Direct {
    int bits;
    DWORD masks[3];
    DWORD filler;
    bool fields; // the masks go into the header
};
constexpr Direct kDirect[] = {
    {24, {0xFF0000, 0x00FF00, 0x0000FF}, 0, false},
    {32, {0xFF0000, 0x00FF00, 0x0000FF}, 0xA5000000, false}, // the fourth byte means nothing
    {16, {0x7C00, 0x03E0, 0x001F}, 0, false},
    {16, {0xF800, 0x07E0, 0x001F}, 0, true},
    {32, {0x0000FF, 0x00FF00, 0xFF0000}, 0x5A000000, true},
};

// An 8-bit channel cut to the width of `mask` and moved into place.
inline DWORD pack(int v, DWORD mask) {
    int shift = 0, bits = 0;
    for (DWORD m = mask; m != 0; m >>= 1) {
        shift += bits == 0 && !(m & 1);
        bits += m & 1;
    }
    return static_cast<DWORD>(v >> (8 - bits)) << shift;
}

inline Source make_source(Layout layout, const std::vector<BYTE>& rgb24, int width, int height,
                          unsigned seed) {
    const int rows = height < 0 ? -height : height;
    const bool indexed = layout == Layout::Indexed8;
    const Direct& d = kDirect[indexed ? 0 : static_cast<int>(layout)];
    const int bits = indexed ? 8 : d.bits;
    Source src;
    src.header.assign(40 + 256 * 4 + 12, 0);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(src.header.data());
    const DWORD compression = d.fields && !indexed ? BI_BITFIELDS : BI_RGB;
    const DWORD used = indexed ? 256 : 0;
    *h = BITMAPINFOHEADER{40, width, height, 1, WORD(bits), compression, 0, 0, 0, used, 0};
    auto* table = reinterpret_cast<RGBQUAD*>(h + 1);
    std::mt19937 rng(seed);
    if (indexed) {
        for (int i = 0; i < 256; ++i) {
            table[i] = RGBQUAD{static_cast<BYTE>(rng()), static_cast<BYTE>(rng()),
                               static_cast<BYTE>(rng()), 0};
        }
    } else if (d.fields) {
        std::memcpy(h + 1, d.masks, sizeof(d.masks));
    }
    const int s24 = bmpfile::stride(width, 24);
    const int sd = bmpfile::stride(width, bits);
    src.seen24.assign(rgb24.size(), 0);
    src.bits.assign(static_cast<std::size_t>(sd) * rows, 0);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            const BYTE* in = &rgb24[static_cast<std::size_t>(s24) * y + 3 * x];
            BYTE* seen = &src.seen24[static_cast<std::size_t>(s24) * y + 3 * x];
            BYTE* out = &src.bits[static_cast<std::size_t>(sd) * y + (bits / 8) * x];
            const int b = in[0], g = in[1], r = in[2];
            if (indexed) {
                out[0] = static_cast<BYTE>((r + 3 * g + 7 * b) & 0xFF);
                std::memcpy(seen, &table[out[0]], 3);
                continue;
            }
            const DWORD v =
                pack(r, d.masks[0]) | pack(g, d.masks[1]) | pack(b, d.masks[2]) | d.filler;
            std::memcpy(out, &v, static_cast<std::size_t>(bits / 8)); // little-endian
            for (int c = 0; c < 3; ++c) {
                seen[2 - c] = static_cast<BYTE>(bmpfile::channel(v, d.masks[c]));
            }
        }
    }
    return src;
}

} // namespace testimg
