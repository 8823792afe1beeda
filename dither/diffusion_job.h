// What the dithering loops are given: source and destination rows, the palette, and the
// nearest-colour cache.
#pragma once

#include <windows.h>

#include <cstdint>

namespace talvo_dither {

struct DiffusionJob {
    const BYTE* src;
    std::int64_t srcStride;
    BYTE* dst;
    std::int64_t dstStride;
    int width;
    int rows;             // in memory order
    int colours;          // indices at or above it are written as 0
    const RGBQUAD* table; // the destination's colour table
    WORD* cache;          // the process-wide lookup cache
};

// Dithered pixel out: 8 bits, or 4 bits with the left pixel of a pair in the high nibble.
template <int DestBits> struct PixelPacker {
    BYTE* row;
    BYTE pending = 0;

    void put(int x, int index) {
        if constexpr (DestBits == 8) {
            row[x] = static_cast<BYTE>(index);
        } else if ((x & 1) == 0) {
            pending = static_cast<BYTE>(index << 4);
        } else {
            row[x >> 1] = static_cast<BYTE>(pending | index);
        }
    }
    // An odd row ends with its last pixel alone in the high nibble.
    void finish(int width) {
        if constexpr (DestBits == 4) {
            if (width & 1) {
                row[width >> 1] = pending;
            }
        }
    }
};

inline int cache_key(int r, int g, int b) {
    return (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
}

} // namespace talvo_dither
