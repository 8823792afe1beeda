// SSE2 versions of the alpha and colorize row loops at 32 and 16 bits a pixel (24-bit rows and
// the last pixels of a row that do not fill a register go to the portable loops). They must give
// the portable loops' bytes exactly:
//  - alpha: the 32-bit product (d - f) * a is formed from its low and high 16-bit halves, so that
//    shifting it right by 8 stays arithmetic (rounding toward minus infinity); at 16 bits the
//    product of 5-bit channels fits 16 bits and is shifted arithmetically as it is.
//  - colorize: the divisions by the constants become multiply-highs that are exact over the
//    whole range they see: sum / 100 = (sum * 41944) >> 22 for sums up to 25500, and
//    x / 255 = (x * 32897) >> 23 for products up to 65025.
#include "imageex_internal.h"

#if defined(__SSE2__) || defined(_M_X64)

#include <emmintrin.h>

namespace {

// The key as the 32-bit frame pixel holds it (B, G, R in the low three bytes), or a value no
// masked pixel can equal when the key has a high byte and so never matches.
inline __m128i Key32(COLORREF crKey) {
    const DWORD key = (crKey >> 24) != 0 ? 0xFFFFFFFF
                                         : (GetRValue(crKey) << 16) | (GetGValue(crKey) << 8) |
                                               static_cast<DWORD>(GetBValue(crKey));
    return _mm_set1_epi32(static_cast<int>(key));
}

inline __m128i Key16(COLORREF crKey) {
    return _mm_set1_epi16(static_cast<short>(((GetRValue(crKey) >> 3) << 10) |
                                             ((GetGValue(crKey) >> 3) << 5) |
                                             (GetBValue(crKey) >> 3)));
}

// f + ((d - f) * a) >> 8 on eight 16-bit lanes of 8-bit values.
inline __m128i Mix8(__m128i f, __m128i d, __m128i a) {
    const __m128i diff = _mm_sub_epi16(d, f);
    const __m128i lo = _mm_mullo_epi16(diff, a);
    const __m128i hi = _mm_mulhi_epi16(diff, a);
    const __m128i shifted = _mm_or_si128(_mm_slli_epi16(hi, 8), _mm_srli_epi16(lo, 8));
    return _mm_add_epi16(f, shifted);
}

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

void MixRow32(const BYTE* frame, BYTE* dest, int n, __m128i a, BOOL bTransparent, __m128i key) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    for (int x = 0; x < n; x += 4) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frame + 4 * x));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dest + 4 * x));
        const __m128i lo = Mix8(_mm_unpacklo_epi8(f, zero), _mm_unpacklo_epi8(d, zero), a);
        const __m128i hi = Mix8(_mm_unpackhi_epi8(f, zero), _mm_unpackhi_epi8(d, zero), a);
        __m128i out = _mm_and_si128(_mm_packus_epi16(lo, hi), rgb);
        if (bTransparent) {
            out = Select(_mm_cmpeq_epi32(_mm_and_si128(f, rgb), key), d, out);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 4 * x), out);
    }
}

void MixRow16(const BYTE* frame, BYTE* dest, int n, __m128i a, BOOL bTransparent, __m128i key) {
    const __m128i five = _mm_set1_epi16(31);
    for (int x = 0; x < n; x += 8) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frame + 2 * x));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dest + 2 * x));
        __m128i out = _mm_setzero_si128();
        for (int shift : {10, 5, 0}) {
            const __m128i s = _mm_cvtsi32_si128(shift);
            const __m128i fc = _mm_and_si128(_mm_srl_epi16(f, s), five);
            const __m128i dc = _mm_and_si128(_mm_srl_epi16(d, s), five);
            // 5-bit differences times a <= 256 fit 16 bits: the shift is arithmetic as it is.
            const __m128i mixed =
                _mm_add_epi16(fc, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(dc, fc), a), 8));
            out = _mm_or_si128(out, _mm_sll_epi16(mixed, s));
        }
        if (bTransparent) {
            out = Select(_mm_cmpeq_epi16(f, key), d, out);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 2 * x), out);
    }
}

struct TintFactors {
    __m128i red, green, blue;
};

// The tint of eight pixels' grey, channels given as 16-bit lanes of 0 to 255.
inline void Tint8(__m128i r, __m128i g, __m128i b, const TintFactors& t, __m128i& outR,
                  __m128i& outG, __m128i& outB) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(30)),
                                                    _mm_mullo_epi16(g, _mm_set1_epi16(59))),
                                      _mm_mullo_epi16(b, _mm_set1_epi16(11)));
    const __m128i grey = _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(-23592)), 6); // 41944
    const __m128i by255 = _mm_set1_epi16(-32639);                                         // 32897
    outR = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(grey, t.red), by255), 7);
    outG = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(grey, t.green), by255), 7);
    outB = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(grey, t.blue), by255), 7);
}

// Channels of eight 32-bit pixels (two registers) as 16-bit lanes.
inline void Split32(__m128i p0, __m128i p1, __m128i& r, __m128i& g, __m128i& b) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    b = _mm_packs_epi32(_mm_and_si128(p0, byte), _mm_and_si128(p1, byte));
    g = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, 8), byte),
                        _mm_and_si128(_mm_srli_epi32(p1, 8), byte));
    r = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, 16), byte),
                        _mm_and_si128(_mm_srli_epi32(p1, 16), byte));
}

// Eight tinted 32-bit pixels (fourth byte 0) of the pixels in p0, p1.
inline void TintPixels32(__m128i p0, __m128i p1, const TintFactors& t, __m128i& out0,
                         __m128i& out1) {
    __m128i r, g, b;
    Split32(p0, p1, r, g, b);
    Tint8(r, g, b, t, r, g, b);
    // b | g << 8 in the low half of each pixel, r (fourth byte 0) in the high half.
    const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
    out0 = _mm_unpacklo_epi16(bg, r);
    out1 = _mm_unpackhi_epi16(bg, r);
}

void ColorizeRow32(const BYTE* frame, BYTE* dest, int n, const TintFactors& t, BOOL bTransparent,
                   BOOL bWithBack, __m128i key) {
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    for (int x = 0; x < n; x += 8) {
        const auto* fp = reinterpret_cast<const __m128i*>(frame + 4 * x);
        auto* dp = reinterpret_cast<__m128i*>(dest + 4 * x);
        const __m128i f0 = _mm_loadu_si128(fp), f1 = _mm_loadu_si128(fp + 1);
        __m128i out0, out1;
        TintPixels32(f0, f1, t, out0, out1);
        if (bTransparent) {
            const __m128i d0 = _mm_loadu_si128(dp), d1 = _mm_loadu_si128(dp + 1);
            const __m128i k0 = _mm_cmpeq_epi32(_mm_and_si128(f0, rgb), key);
            const __m128i k1 = _mm_cmpeq_epi32(_mm_and_si128(f1, rgb), key);
            __m128i back0 = d0, back1 = d1;
            if (bWithBack) {
                TintPixels32(d0, d1, t, back0, back1);
            }
            out0 = Select(k0, back0, out0);
            out1 = Select(k1, back1, out1);
        }
        _mm_storeu_si128(dp, out0);
        _mm_storeu_si128(dp + 1, out1);
    }
}

// Eight tinted 16-bit words of the words in w: channels widened by three bits, cut back after.
inline __m128i TintWords(__m128i w, const TintFactors& t) {
    const __m128i five = _mm_set1_epi16(31);
    __m128i r = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(w, 10), five), 3);
    __m128i g = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(w, 5), five), 3);
    __m128i b = _mm_slli_epi16(_mm_and_si128(w, five), 3);
    Tint8(r, g, b, t, r, g, b);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_srli_epi16(r, 3), 10),
                                     _mm_slli_epi16(_mm_srli_epi16(g, 3), 5)),
                        _mm_srli_epi16(b, 3));
}

void ColorizeRow16(const BYTE* frame, BYTE* dest, int n, const TintFactors& t, BOOL bTransparent,
                   BOOL bWithBack, __m128i key) {
    for (int x = 0; x < n; x += 8) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frame + 2 * x));
        __m128i out = TintWords(f, t);
        if (bTransparent) {
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dest + 2 * x));
            out = Select(_mm_cmpeq_epi16(f, key), bWithBack ? TintWords(d, t) : d, out);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 2 * x), out);
    }
}

void VectorMixAlphaRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                        int nAlpha, BOOL bTransparent, COLORREF crKey) {
    const __m128i a = _mm_set1_epi16(static_cast<short>(nAlpha));
    const __m128i key = bpp == 32 ? Key32(crKey) : Key16(crKey);
    WalkRows(
        bpp, frame, dest, width, height, rowBytes, bpp == 32 ? 4 : 8,
        [&](const BYTE* f, BYTE* d, int n) {
            if (bpp == 32) {
                MixRow32(f, d, n, a, bTransparent, key);
            } else {
                MixRow16(f, d, n, a, bTransparent, key);
            }
        },
        [&](const BYTE* f, BYTE* d, int n, int rows) {
            PortableEffectKernels().mixAlpha(bpp, f, d, n, rows, rowBytes, nAlpha, bTransparent,
                                             crKey);
        });
}

void VectorColorizeRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                        COLORREF crTint, BOOL bTransparent, BOOL bWithBack, COLORREF crKey) {
    const TintFactors t = {_mm_set1_epi16(static_cast<short>(GetRValue(crTint))),
                           _mm_set1_epi16(static_cast<short>(GetGValue(crTint))),
                           _mm_set1_epi16(static_cast<short>((crTint >> 16) & 0xFF))};
    const __m128i key = bpp == 32 ? Key32(crKey) : Key16(crKey);
    WalkRows(
        bpp, frame, dest, width, height, rowBytes, 8,
        [&](const BYTE* f, BYTE* d, int n) {
            if (bpp == 32) {
                ColorizeRow32(f, d, n, t, bTransparent, bWithBack, key);
            } else {
                ColorizeRow16(f, d, n, t, bTransparent, bWithBack, key);
            }
        },
        [&](const BYTE* f, BYTE* d, int n, int rows) {
            PortableEffectKernels().colorize(bpp, f, d, n, rows, rowBytes, crTint, bTransparent,
                                             bWithBack, crKey);
        });
}

} // namespace

const EffectKernels* VectorEffectKernels() {
    static const EffectKernels kernels = {"sse2", VectorMixAlphaRows, VectorColorizeRows};
    return &kernels;
}

#else

const EffectKernels* VectorEffectKernels() {
    return nullptr;
}

#endif
