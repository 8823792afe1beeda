// Source images for the dithering tests: photo-like, gradients, noise and colours taken straight
// from a palette, as 24-bit rows, plus the other layouts the library reads.
#pragma once

#include "support/bmp_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace testimg {

enum class Kind { Photo, Gradient, Noise, PaletteExact };

inline const char* name(Kind k) {
    static const char* const names[] = {"photo", "gradient", "noise", "palette-exact"};
    return names[static_cast<int>(k)];
}

// A 24-bit image: B, G, R per pixel, rows padded to 4 bytes, `rows` rows in memory order.
inline std::vector<BYTE> make24(Kind kind, int width, int rows, unsigned seed,
                                const RGBQUAD* palette = nullptr, int paletteSize = 0) {
    std::mt19937 rng(seed);
    const int s = bmpfile::stride(width, 24);
    std::vector<BYTE> out(static_cast<std::size_t>(s) * rows, 0);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            BYTE* p = &out[static_cast<std::size_t>(s) * y + 3 * x];
            int r = 0, g = 0, b = 0;
            switch (kind) {
            case Kind::Photo: {
                // Soft shapes, a sky-like gradient, an edge and sensor-like noise.
                const double fx = width > 1 ? static_cast<double>(x) / (width - 1) : 0.5;
                const double fy = rows > 1 ? static_cast<double>(y) / (rows - 1) : 0.5;
                const double blob =
                    std::exp(-((fx - 0.4) * (fx - 0.4) + (fy - 0.6) * (fy - 0.6)) * 8.0);
                const int noise = static_cast<int>(rng() % 13) - 6;
                r = static_cast<int>(60 + 150 * blob + 40 * fy) + noise;
                g = static_cast<int>(90 + 100 * fx * (1 - fy) + 50 * blob) + noise;
                b = static_cast<int>(180 - 120 * fy + (fx > 0.7 ? 40 : 0)) + noise;
                break;
            }
            case Kind::Gradient:
                r = width > 1 ? x * 255 / (width - 1) : 128;
                g = rows > 1 ? y * 255 / (rows - 1) : 128;
                b = (x + y) * 255 / (width + rows);
                break;
            case Kind::Noise:
                r = static_cast<int>(rng() & 0xFF);
                g = static_cast<int>(rng() & 0xFF);
                b = static_cast<int>(rng() & 0xFF);
                break;
            case Kind::PaletteExact: {
                const RGBQUAD& q = palette[rng() % static_cast<unsigned>(paletteSize)];
                r = q.rgbRed;
                g = q.rgbGreen;
                b = q.rgbBlue;
                break;
            }
            }
            p[0] = static_cast<BYTE>(std::clamp(b, 0, 255));
            p[1] = static_cast<BYTE>(std::clamp(g, 0, 255));
            p[2] = static_cast<BYTE>(std::clamp(r, 0, 255));
        }
    }
    return out;
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
    *h = BITMAPINFOHEADER{40,
                          width,
                          height,
                          1,
                          static_cast<WORD>(bits),
                          d.fields && !indexed ? DWORD{BI_BITFIELDS} : DWORD{BI_RGB},
                          0,
                          0,
                          0,
                          indexed ? 256u : 0u,
                          0};
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
