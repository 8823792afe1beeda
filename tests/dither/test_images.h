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

inline int widen(int v, int bits) {
    return bits == 5 ? (v << 3) | (v >> 2) : (v << 2) | (v >> 4);
}

inline Source make_source(Layout layout, const std::vector<BYTE>& rgb24, int width, int height,
                          unsigned seed) {
    const int rows = height < 0 ? -height : height;
    Source src;
    src.header.assign(40 + 256 * 4 + 12, 0);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(src.header.data());
    h->biSize = 40;
    h->biWidth = width;
    h->biHeight = height;
    h->biPlanes = 1;
    h->biCompression = BI_RGB;
    const int s24 = bmpfile::stride(width, 24);
    src.seen24.assign(rgb24.size(), 0);
    auto put_masks = [&](DWORD r, DWORD g, DWORD b) {
        h->biCompression = BI_BITFIELDS;
        std::memcpy(src.header.data() + 40, &r, 4);
        std::memcpy(src.header.data() + 44, &g, 4);
        std::memcpy(src.header.data() + 48, &b, 4);
    };
    static const int kBits[] = {24, 32, 16, 16, 32, 8};
    const int bits = kBits[static_cast<int>(layout)];
    h->biBitCount = static_cast<WORD>(bits);
    if (layout == Layout::Rgb565Masks) {
        put_masks(0xF800, 0x07E0, 0x001F);
    } else if (layout == Layout::Rgbx32Masks) {
        put_masks(0x000000FF, 0x0000FF00, 0x00FF0000);
    }
    std::mt19937 rng(seed);
    RGBQUAD* table = reinterpret_cast<RGBQUAD*>(src.header.data() + 40);
    if (layout == Layout::Indexed8) {
        h->biClrUsed = 256;
        for (int i = 0; i < 256; ++i) {
            table[i] = RGBQUAD{static_cast<BYTE>(rng()), static_cast<BYTE>(rng()),
                               static_cast<BYTE>(rng()), 0};
        }
    }
    const int sd = bmpfile::stride(width, bits);
    src.bits.assign(static_cast<std::size_t>(sd) * rows, 0);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            const BYTE* in = &rgb24[static_cast<std::size_t>(s24) * y + 3 * x];
            BYTE* seen = &src.seen24[static_cast<std::size_t>(s24) * y + 3 * x];
            BYTE* out = &src.bits[static_cast<std::size_t>(sd) * y];
            const int b = in[0], g = in[1], r = in[2];
            switch (layout) {
            case Layout::Bgr24:
                std::memcpy(out + 3 * x, in, 3);
                std::memcpy(seen, in, 3);
                break;
            case Layout::Bgrx32:
                out[4 * x] = in[0];
                out[4 * x + 1] = in[1];
                out[4 * x + 2] = in[2];
                out[4 * x + 3] = 0xA5; // the fourth byte means nothing
                std::memcpy(seen, in, 3);
                break;
            case Layout::Rgbx32Masks:
                out[4 * x] = static_cast<BYTE>(r);
                out[4 * x + 1] = static_cast<BYTE>(g);
                out[4 * x + 2] = static_cast<BYTE>(b);
                out[4 * x + 3] = 0x5A;
                std::memcpy(seen, in, 3);
                break;
            case Layout::Rgb555: {
                const int v = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
                out[2 * x] = static_cast<BYTE>(v);
                out[2 * x + 1] = static_cast<BYTE>(v >> 8);
                seen[0] = static_cast<BYTE>(widen(b >> 3, 5));
                seen[1] = static_cast<BYTE>(widen(g >> 3, 5));
                seen[2] = static_cast<BYTE>(widen(r >> 3, 5));
                break;
            }
            case Layout::Rgb565Masks: {
                const int v = (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
                out[2 * x] = static_cast<BYTE>(v);
                out[2 * x + 1] = static_cast<BYTE>(v >> 8);
                seen[0] = static_cast<BYTE>(widen(b >> 3, 5));
                seen[1] = static_cast<BYTE>(widen(g >> 2, 6));
                seen[2] = static_cast<BYTE>(widen(r >> 3, 5));
                break;
            }
            case Layout::Indexed8: {
                const BYTE index = static_cast<BYTE>((r + 3 * g + 7 * b) & 0xFF);
                out[x] = index;
                seen[0] = table[index].rgbBlue;
                seen[1] = table[index].rgbGreen;
                seen[2] = table[index].rgbRed;
                break;
            }
            }
        }
    }
    return src;
}

} // namespace testimg
