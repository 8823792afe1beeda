// The alpha and colorize rules written out pixel by pixel from their definition, as the oracle
// for the library's row loops: every channel on its own, the quotient floored by hand rather
// than by a shift, keys compared as colours.
#pragma once

#include <windows.h>

#include <cstddef>

namespace literal {

inline int FloorDiv256(int v) {
    return v >= 0 ? v / 256 : -((-v + 255) / 256);
}

inline int Mix(int f, int d, int a) {
    return f + FloorDiv256((d - f) * a);
}

inline unsigned Grey(unsigned r, unsigned g, unsigned b) {
    return (30 * r + 59 * g + 11 * b) / 100;
}

struct Pixel {
    unsigned r, g, b, x; // x: the fourth byte at 32 bits
};

inline Pixel Read(const BYTE* p, int bpp) {
    if (bpp == 16) {
        const unsigned w = p[0] | p[1] << 8;
        return {(w >> 10) & 31, (w >> 5) & 31, w & 31, 0};
    }
    return {p[2], p[1], p[0], bpp == 32 ? p[3] : 0u};
}

inline void Write(BYTE* p, int bpp, Pixel v) {
    if (bpp == 16) {
        const unsigned w = (v.r << 10) | (v.g << 5) | v.b;
        p[0] = static_cast<BYTE>(w);
        p[1] = static_cast<BYTE>(w >> 8);
        return;
    }
    p[0] = static_cast<BYTE>(v.b);
    p[1] = static_cast<BYTE>(v.g);
    p[2] = static_cast<BYTE>(v.r);
    if (bpp == 32) {
        p[3] = static_cast<BYTE>(v.x);
    }
}

// Whether a frame pixel is the key: at 16 bits the whole word against the key's top five bits
// a channel (a word with bit 15 set is never the key).
inline bool IsKey(const BYTE* p, int bpp, COLORREF key) {
    if (bpp == 16) {
        const unsigned w = p[0] | p[1] << 8;
        const unsigned r = GetRValue(key) >> 3, g = GetGValue(key) >> 3, b = GetBValue(key) >> 3;
        return w == (r << 10 | g << 5 | b);
    }
    return RGB(p[2], p[1], p[0]) == key;
}

// Tint of a pixel's grey; 16-bit channels are widened by three bits first and cut back after.
inline Pixel Tint(Pixel c, int bpp, COLORREF tint) {
    const unsigned s = bpp == 16 ? 3 : 0;
    const unsigned grey = Grey(c.r << s, c.g << s, c.b << s);
    return {(grey * GetRValue(tint) / 255) >> s, (grey * GetGValue(tint) / 255) >> s,
            (grey * GetBValue(tint) / 255) >> s, 0};
}

inline void MixAlpha(int bpp, const BYTE* frame, BYTE* dest, int w, int h, int rowBytes, int a,
                     bool transparent, COLORREF key) {
    const int bytes = bpp / 8;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * rowBytes + x * bytes;
            const Pixel f = Read(frame + at, bpp);
            const Pixel d = Read(dest + at, bpp);
            if (transparent && IsKey(frame + at, bpp, key)) {
                continue;
            }
            Write(dest + at, bpp,
                  {static_cast<unsigned>(Mix(f.r, d.r, a)), static_cast<unsigned>(Mix(f.g, d.g, a)),
                   static_cast<unsigned>(Mix(f.b, d.b, a)), 0});
        }
    }
}

inline void Colorize(int bpp, const BYTE* frame, BYTE* dest, int w, int h, int rowBytes,
                     COLORREF tint, bool transparent, bool withBack, COLORREF key) {
    const int bytes = bpp / 8;
    tint &= 0x00FFFFFF;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * rowBytes + x * bytes;
            const Pixel f = Read(frame + at, bpp);
            if (transparent && IsKey(frame + at, bpp, key)) {
                if (withBack) {
                    Write(dest + at, bpp, Tint(Read(dest + at, bpp), bpp, tint));
                }
                continue;
            }
            Write(dest + at, bpp, Tint(f, bpp, tint));
        }
    }
}

} // namespace literal
