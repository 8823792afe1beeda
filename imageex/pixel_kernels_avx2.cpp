// AVX2 versions of the alpha and colorize row loops at 32 and 16 bits a pixel: the SSE2 loops
// (pixel_kernels_sse2.cpp, where the arithmetic is explained) on registers twice as wide. Unpacks
// and packs work within each 128-bit half, and every one is undone by its opposite in the same
// half, so pixels come out in the order they went in. 24-bit rows and the last pixels of a row
// that do not fill a register go to the portable loops. Compiled for AVX2 function by function
// and chosen only when the processor has it.
#include "imageex_internal.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

#define TALVO_AVX2 __attribute__((target("avx2")))

namespace {

TALVO_AVX2 inline __m256i Key32(COLORREF crKey) {
    const DWORD key = (crKey >> 24) != 0 ? 0xFFFFFFFF
                                         : (GetRValue(crKey) << 16) | (GetGValue(crKey) << 8) |
                                               static_cast<DWORD>(GetBValue(crKey));
    return _mm256_set1_epi32(static_cast<int>(key));
}

TALVO_AVX2 inline __m256i Key16(COLORREF crKey) {
    return _mm256_set1_epi16(static_cast<short>(((GetRValue(crKey) >> 3) << 10) |
                                                ((GetGValue(crKey) >> 3) << 5) |
                                                (GetBValue(crKey) >> 3)));
}

TALVO_AVX2 inline __m256i Select(__m256i mask, __m256i ifSet, __m256i ifClear) {
    return _mm256_blendv_epi8(ifClear, ifSet, mask);
}

TALVO_AVX2 inline __m256i Load(const BYTE* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TALVO_AVX2 inline void Store(BYTE* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// f + ((d - f) * a) >> 8 is (f * (256 - a) + d * a) >> 8, whose sum is at most 255 * 256 and so
// fits a 16-bit lane without a sign. The even bytes of each word (blue, red) and the odd ones
// (green, the fourth byte) are mixed in place, with no unpacking: the even results land in the
// low byte after the shift, the odd ones are kept in the high byte by a mask that also clears
// the fourth byte.
TALVO_AVX2 void MixRow32(const BYTE* frame, BYTE* dest, int n, __m256i a, BOOL bTransparent,
                         __m256i key) {
    const __m256i keep = _mm256_sub_epi16(_mm256_set1_epi16(256), a);
    const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
    const __m256i green = _mm256_set1_epi32(0x0000FF00);
    const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
    for (int x = 0; x < n; x += 8) {
        const __m256i f = Load(frame + 4 * x);
        const __m256i d = Load(dest + 4 * x);
        const __m256i even =
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(f, lowBytes), keep),
                             _mm256_mullo_epi16(_mm256_and_si256(d, lowBytes), a));
        const __m256i odd = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(f, 8), keep),
                                             _mm256_mullo_epi16(_mm256_srli_epi16(d, 8), a));
        __m256i out = _mm256_or_si256(_mm256_srli_epi16(even, 8), _mm256_and_si256(odd, green));
        if (bTransparent) {
            out = Select(_mm256_cmpeq_epi32(_mm256_and_si256(f, rgb), key), d, out);
        }
        Store(dest + 4 * x, out);
    }
}

// One 5-bit channel of sixteen words mixed in place; the differences times a <= 256 fit 16 bits.
template <int kShift> TALVO_AVX2 inline __m256i MixChannel16(__m256i f, __m256i d, __m256i a) {
    const __m256i five = _mm256_set1_epi16(31);
    const __m256i fc = _mm256_and_si256(_mm256_srli_epi16(f, kShift), five);
    const __m256i dc = _mm256_and_si256(_mm256_srli_epi16(d, kShift), five);
    const __m256i mixed =
        _mm256_add_epi16(fc, _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(dc, fc), a), 8));
    return _mm256_slli_epi16(mixed, kShift);
}

TALVO_AVX2 void MixRow16(const BYTE* frame, BYTE* dest, int n, __m256i a, BOOL bTransparent,
                         __m256i key) {
    for (int x = 0; x < n; x += 16) {
        const __m256i f = Load(frame + 2 * x);
        const __m256i d = Load(dest + 2 * x);
        __m256i out =
            _mm256_or_si256(_mm256_or_si256(MixChannel16<10>(f, d, a), MixChannel16<5>(f, d, a)),
                            MixChannel16<0>(f, d, a));
        if (bTransparent) {
            out = Select(_mm256_cmpeq_epi16(f, key), d, out);
        }
        Store(dest + 2 * x, out);
    }
}

struct TintFactors {
    __m256i red, green, blue;
};

// The tint of sixteen pixels' grey, channels given as 16-bit lanes of 0 to 255:
// sum / 100 = (sum * 41944) >> 22 and x / 255 = (x * 32897) >> 23, exact over these ranges.
TALVO_AVX2 inline void Tint16(__m256i r, __m256i g, __m256i b, const TintFactors& t, __m256i& outR,
                              __m256i& outG, __m256i& outB) {
    const __m256i sum =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(30)),
                                          _mm256_mullo_epi16(g, _mm256_set1_epi16(59))),
                         _mm256_mullo_epi16(b, _mm256_set1_epi16(11)));
    const __m256i grey =
        _mm256_srli_epi16(_mm256_mulhi_epu16(sum, _mm256_set1_epi16(-23592)), 6); // 41944
    const __m256i by255 = _mm256_set1_epi16(-32639);                              // 32897
    outR = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_mullo_epi16(grey, t.red), by255), 7);
    outG = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_mullo_epi16(grey, t.green), by255), 7);
    outB = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_mullo_epi16(grey, t.blue), by255), 7);
}

// Sixteen tinted 32-bit pixels (fourth byte 0) of the pixels in p0, p1. The pack interleaves the
// halves of p0 and p1; the unpacks at the end sort them back.
TALVO_AVX2 inline void TintPixels32(__m256i p0, __m256i p1, const TintFactors& t, __m256i& out0,
                                    __m256i& out1) {
    const __m256i byte = _mm256_set1_epi32(0xFF);
    __m256i b = _mm256_packs_epi32(_mm256_and_si256(p0, byte), _mm256_and_si256(p1, byte));
    __m256i g = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(p0, 8), byte),
                                   _mm256_and_si256(_mm256_srli_epi32(p1, 8), byte));
    __m256i r = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(p0, 16), byte),
                                   _mm256_and_si256(_mm256_srli_epi32(p1, 16), byte));
    Tint16(r, g, b, t, r, g, b);
    const __m256i bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
    out0 = _mm256_unpacklo_epi16(bg, r);
    out1 = _mm256_unpackhi_epi16(bg, r);
}

TALVO_AVX2 void ColorizeRow32(const BYTE* frame, BYTE* dest, int n, const TintFactors& t,
                              BOOL bTransparent, BOOL bWithBack, __m256i key) {
    const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
    for (int x = 0; x < n; x += 16) {
        const __m256i f0 = Load(frame + 4 * x), f1 = Load(frame + 4 * x + 32);
        __m256i out0, out1;
        TintPixels32(f0, f1, t, out0, out1);
        if (bTransparent) {
            const __m256i d0 = Load(dest + 4 * x), d1 = Load(dest + 4 * x + 32);
            const __m256i k0 = _mm256_cmpeq_epi32(_mm256_and_si256(f0, rgb), key);
            const __m256i k1 = _mm256_cmpeq_epi32(_mm256_and_si256(f1, rgb), key);
            __m256i back0 = d0, back1 = d1;
            if (bWithBack) {
                TintPixels32(d0, d1, t, back0, back1);
            }
            out0 = Select(k0, back0, out0);
            out1 = Select(k1, back1, out1);
        }
        Store(dest + 4 * x, out0);
        Store(dest + 4 * x + 32, out1);
    }
}

// Sixteen tinted 16-bit words of the words in w: channels widened by three bits, cut back after.
TALVO_AVX2 inline __m256i TintWords(__m256i w, const TintFactors& t) {
    const __m256i five = _mm256_set1_epi16(31);
    __m256i r = _mm256_slli_epi16(_mm256_and_si256(_mm256_srli_epi16(w, 10), five), 3);
    __m256i g = _mm256_slli_epi16(_mm256_and_si256(_mm256_srli_epi16(w, 5), five), 3);
    __m256i b = _mm256_slli_epi16(_mm256_and_si256(w, five), 3);
    Tint16(r, g, b, t, r, g, b);
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_srli_epi16(r, 3), 10),
                                           _mm256_slli_epi16(_mm256_srli_epi16(g, 3), 5)),
                           _mm256_srli_epi16(b, 3));
}

TALVO_AVX2 void ColorizeRow16(const BYTE* frame, BYTE* dest, int n, const TintFactors& t,
                              BOOL bTransparent, BOOL bWithBack, __m256i key) {
    for (int x = 0; x < n; x += 16) {
        const __m256i f = Load(frame + 2 * x);
        __m256i out = TintWords(f, t);
        if (bTransparent) {
            const __m256i d = Load(dest + 2 * x);
            out = Select(_mm256_cmpeq_epi16(f, key), bWithBack ? TintWords(d, t) : d, out);
        }
        Store(dest + 2 * x, out);
    }
}

// One row's whole registers; the vectors are made here, inside the AVX2 code, so that what the
// row walk passes around holds none.
TALVO_AVX2 void MixRow(int bpp, const BYTE* frame, BYTE* dest, int n, int nAlpha, BOOL bTransparent,
                       COLORREF crKey) {
    const __m256i a = _mm256_set1_epi16(static_cast<short>(nAlpha));
    if (bpp == 32) {
        MixRow32(frame, dest, n, a, bTransparent, Key32(crKey));
    } else {
        MixRow16(frame, dest, n, a, bTransparent, Key16(crKey));
    }
}

TALVO_AVX2 void ColorizeRow(int bpp, const BYTE* frame, BYTE* dest, int n, COLORREF crTint,
                            BOOL bTransparent, BOOL bWithBack, COLORREF crKey) {
    const TintFactors t = {_mm256_set1_epi16(static_cast<short>(GetRValue(crTint))),
                           _mm256_set1_epi16(static_cast<short>(GetGValue(crTint))),
                           _mm256_set1_epi16(static_cast<short>((crTint >> 16) & 0xFF))};
    if (bpp == 32) {
        ColorizeRow32(frame, dest, n, t, bTransparent, bWithBack, Key32(crKey));
    } else {
        ColorizeRow16(frame, dest, n, t, bTransparent, bWithBack, Key16(crKey));
    }
}

void Avx2MixAlphaRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                      int nAlpha, BOOL bTransparent, COLORREF crKey) {
    WalkRows(
        bpp, frame, dest, width, height, rowBytes, bpp == 32 ? 8 : 16,
        [&](const BYTE* f, BYTE* d, int n) { MixRow(bpp, f, d, n, nAlpha, bTransparent, crKey); },
        [&](const BYTE* f, BYTE* d, int n, int rows) {
            PortableEffectKernels().mixAlpha(bpp, f, d, n, rows, rowBytes, nAlpha, bTransparent,
                                             crKey);
        });
}

void Avx2ColorizeRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                      COLORREF crTint, BOOL bTransparent, BOOL bWithBack, COLORREF crKey) {
    WalkRows(
        bpp, frame, dest, width, height, rowBytes, 16,
        [&](const BYTE* f, BYTE* d, int n) {
            ColorizeRow(bpp, f, d, n, crTint, bTransparent, bWithBack, crKey);
        },
        [&](const BYTE* f, BYTE* d, int n, int rows) {
            PortableEffectKernels().colorize(bpp, f, d, n, rows, rowBytes, crTint, bTransparent,
                                             bWithBack, crKey);
        });
}

} // namespace

const EffectKernels* Avx2EffectKernels() {
    static const EffectKernels kernels = {"avx2", Avx2MixAlphaRows, Avx2ColorizeRows};
    static const bool present = __builtin_cpu_supports("avx2");
    return present ? &kernels : nullptr;
}

#else

const EffectKernels* Avx2EffectKernels() {
    return nullptr;
}

#endif
