// The dithering loop written the plain way: two error rows of width + 2 triples, each pixel's
// shares added where they belong, the rows swapped and cleared at the end of each row. The
// library's loop must give the same bytes; this is the reference it is held to.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace literal {

// Dithers a 24-bit image (or an 8-bit one when `indexTable` is given, reading rows of width
// bytes) onto `palette` with `n` colours, packing 8 or 4 bits per pixel. `cache` is read and
// filled exactly as the library fills its own; `closest` resolves empty entries.
inline std::vector<BYTE> dither(int width, int height, const BYTE* src, int srcBits,
                                const RGBQUAD* indexTable, const RGBQUAD* palette, int n,
                                int destBits, std::vector<WORD>& cache,
                                const std::function<int(int, int, int)>& closest) {
    struct Triple {
        int r, g, b;
    };
    const int srcStride = ((srcBits * width + 31) / 32) * 4;
    const int dstStride = ((destBits * width + 31) / 32) * 4;
    std::vector<BYTE> out(static_cast<std::size_t>(dstStride) * height, 0);
    std::vector<Triple> rowA(width + 2, Triple{0, 0, 0});
    std::vector<Triple> rowB(width + 2, Triple{0, 0, 0});
    Triple* cur = rowA.data();
    Triple* next = rowB.data();

    for (int y = 0; y < height; ++y) {
        const BYTE* s = src + static_cast<std::size_t>(srcStride) * y;
        BYTE* d = out.data() + static_cast<std::size_t>(dstStride) * y;
        for (int x = 0; x < width; ++x) {
            int r, g, b;
            if (srcBits == 8) {
                const RGBQUAD& q = indexTable[s[x]];
                b = q.rgbBlue;
                g = q.rgbGreen;
                r = q.rgbRed;
            } else {
                b = s[3 * x];
                g = s[3 * x + 1];
                r = s[3 * x + 2];
            }
            r = std::clamp(r + cur[x].r, 0, 255);
            g = std::clamp(g + cur[x].g, 0, 255);
            b = std::clamp(b + cur[x].b, 0, 255);

            const int key = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
            int index = cache[key];
            if (index == 0xFFFF || index == 0x7FFF) {
                index = closest(r, g, b);
                cache[key] = static_cast<WORD>(index);
            }
            if (index >= n) {
                index = 0;
            }

            const int er = r - palette[index].rgbRed;
            const int eg = g - palette[index].rgbGreen;
            const int eb = b - palette[index].rgbBlue;
            cur[x + 1].r += er * 7 / 16;
            cur[x + 1].g += eg * 7 / 16;
            cur[x + 1].b += eb * 7 / 16;
            if (x > 0) {
                next[x - 1].r += er * 3 / 16;
                next[x - 1].g += eg * 3 / 16;
                next[x - 1].b += eb * 3 / 16;
            }
            next[x].r += er * 5 / 16;
            next[x].g += eg * 5 / 16;
            next[x].b += eb * 5 / 16;
            next[x + 1].r += er * 1 / 16;
            next[x + 1].g += eg * 1 / 16;
            next[x + 1].b += eb * 1 / 16;

            if (destBits == 8) {
                d[x] = static_cast<BYTE>(index);
            } else if (x % 2 == 0) {
                d[x / 2] = static_cast<BYTE>(index << 4);
            } else {
                d[x / 2] |= static_cast<BYTE>(index);
            }
        }
        std::swap(cur, next);
        std::fill(next, next + width + 2, Triple{0, 0, 0});
    }
    return out;
}

} // namespace literal
