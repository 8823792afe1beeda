// The dithering loop for a lookup cache that still has empty entries. Such an entry is filled
// with the nearest colour of the first pixel that needs it, so pixels must be visited in the
// plain order: row by row, left to right.
//
// It keeps the error travelling right and the shares still open for the row below in
// registers, and needs one error row only: the row below receives its final value at x - 1
// just after x - 1 has been read for this row.
#pragma once

#include "dither/diffusion_job.h"

#include <cstring>

namespace talvo_dither {

inline int clamp_channel(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// `errors` holds 3 * width ints; `closest` resolves a colour whose cache entry is empty.
template <int DestBits, typename Reader, typename Closest>
void diffuse_serial(const DiffusionJob& job, const Reader& read, const Closest& closest,
                    int* errors) {
    const int width = job.width;
    std::memset(errors, 0, sizeof(int) * 3 * static_cast<std::size_t>(width));
    const BYTE* srcRow = job.src;
    BYTE* dstRow = job.dst;

    for (int y = 0; y < job.rows; ++y) {
        int rightR = 0, rightG = 0, rightB = 0; // 7/16 of the left neighbour's error
        int openR = 0, openG = 0, openB = 0;    // row below at x - 1, still missing x's 3/16
        int nextR = 0, nextG = 0, nextB = 0;    // row below at x, so far x - 1's 1/16
        PixelPacker<DestBits> out{dstRow};

        for (int x = 0; x < width; ++x) {
            int* e = errors + 3 * x;
            const DWORD bgr = read(srcRow, x);
            const int r = clamp_channel(static_cast<int>((bgr >> 16) & 0xFF) + e[0] + rightR);
            const int g = clamp_channel(static_cast<int>((bgr >> 8) & 0xFF) + e[1] + rightG);
            const int b = clamp_channel(static_cast<int>(bgr & 0xFF) + e[2] + rightB);

            WORD& slot = job.cache[cache_key(r, g, b)];
            int index = slot;
            if (index == 0xFFFF || index == 0x7FFF) {
                index = closest(job.colours, r, g, b);
                slot = static_cast<WORD>(index);
            }
            if (index >= job.colours) {
                index = 0;
            }
            const RGBQUAD& q = job.table[index];
            const int er = r - q.rgbRed;
            const int eg = g - q.rgbGreen;
            const int eb = b - q.rgbBlue;

            rightR = er * 7 / 16;
            rightG = eg * 7 / 16;
            rightB = eb * 7 / 16;
            if (x > 0) {
                e[-3] = openR + er * 3 / 16;
                e[-2] = openG + eg * 3 / 16;
                e[-1] = openB + eb * 3 / 16;
            }
            openR = nextR + er * 5 / 16;
            openG = nextG + eg * 5 / 16;
            openB = nextB + eb * 5 / 16;
            nextR = er / 16;
            nextG = eg / 16;
            nextB = eb / 16;
            out.put(x, index);
        }
        out.finish(width);
        int* last = errors + 3 * (width - 1);
        last[0] = openR;
        last[1] = openG;
        last[2] = openB;

        srcRow += job.srcStride;
        dstRow += job.dstStride;
    }
}

} // namespace talvo_dither
