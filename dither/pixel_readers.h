// Readers of source pixels for the dithering loops, one per row layout. Each gives a pixel as
// blue | green << 8 | red << 16, the colour the display would show for it.
#pragma once

#include <windows.h>

#include <bit>
#include <cstring>

namespace talvo_dither {

// `inner` reads a pixel that is not the last of its row, and may read the next one's first byte.
struct ReadBgr24 {
    DWORD operator()(const BYTE* row, int x) const {
        const BYTE* p = row + 3 * x;
        return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
               static_cast<DWORD>(p[2]) << 16;
    }
    DWORD inner(const BYTE* row, int x) const {
        if constexpr (std::endian::native == std::endian::little) {
            DWORD v;
            std::memcpy(&v, row + 3 * x, 4);
            return v & 0x00FFFFFF;
        } else {
            return (*this)(row, x);
        }
    }
};

struct ReadBgrx32 {
    DWORD operator()(const BYTE* row, int x) const {
        DWORD v;
        std::memcpy(&v, row + 4 * x, 4);
        if constexpr (std::endian::native == std::endian::big) {
            v = (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000);
        }
        return v & 0x00FFFFFF;
    }
    DWORD inner(const BYTE* row, int x) const { return (*this)(row, x); }
};

// 8-bit sources: the colour table turned into ready pixels once per image.
struct ReadIndexed8 {
    DWORD colours[256];
    explicit ReadIndexed8(const RGBQUAD* table) {
        for (int i = 0; i < 256; ++i) {
            colours[i] = static_cast<DWORD>(table[i].rgbBlue) |
                         static_cast<DWORD>(table[i].rgbGreen) << 8 |
                         static_cast<DWORD>(table[i].rgbRed) << 16;
        }
    }
    DWORD operator()(const BYTE* row, int x) const { return colours[row[x]]; }
    DWORD inner(const BYTE* row, int x) const { return colours[row[x]]; }
};

// A channel of a 16- or 32-bit pixel given by a bit mask, widened to 8 bits by repeating its
// high bits into the low ones, as the display does when it reads such a pixel back. Wider
// channels keep their top 8 bits. Narrow channels are widened through a table made once.
struct MaskedChannel {
    DWORD mask = 0;
    int shift = 0;
    int width = 0;
    BYTE widened[256] = {};

    explicit MaskedChannel(DWORD m) : mask(m) {
        if (m == 0) {
            return;
        }
        shift = std::countr_zero(m);
        width = 32 - std::countl_zero(static_cast<DWORD>(m >> shift));
        if (width < 8) {
            for (DWORD v = 0; v < (DWORD{1} << width); ++v) {
                DWORD out = 0;
                for (int s = 8 - width; s > -width; s -= width) {
                    out |= s >= 0 ? v << s : v >> -s;
                }
                widened[v] = static_cast<BYTE>(out);
            }
        }
    }
    DWORD operator()(DWORD pixel) const {
        const DWORD v = (pixel & mask) >> shift;
        if (width < 8) {
            return widened[v];
        }
        return v >> (width - 8);
    }
};

template <int Bytes> struct ReadMasked {
    MaskedChannel red, green, blue;
    DWORD operator()(const BYTE* row, int x) const {
        const BYTE* p = row + Bytes * x;
        DWORD pixel = static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8;
        if constexpr (Bytes == 4) {
            pixel |= static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
        }
        return blue(pixel) | green(pixel) << 8 | red(pixel) << 16;
    }
    DWORD inner(const BYTE* row, int x) const { return (*this)(row, x); }
};

} // namespace talvo_dither
