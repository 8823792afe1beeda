// AVX-512 (F and BW) versions of the alpha and colorize loops at 32 and 16 bits a pixel, with
// the arithmetic of the SSE2 and AVX2 loops (pixel_kernels_sse2.cpp explains it) on registers of
// sixteen 32-bit or thirty-two 16-bit pixels. Pixels are independent of one another, so the last
// pixels of a row that do not fill a register are done by the same code under a lane mask
// (masked loads never touch memory past the mask), and key pixels are left out of the store's
// mask instead of being blended back. Two buffers whose rows carry no padding are one run of
// pixels. 24-bit rows go to the portable loops. Compiled for AVX-512 function by function and
// chosen only when the processor has it.
#include "imageex_internal.h"

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

#define TALVO_AVX512 __attribute__((target("avx512f,avx512bw")))
#define TALVO_AVX512_INLINE __attribute__((target("avx512f,avx512bw"), always_inline)) inline

namespace {

// What a call keeps fixed, as plain integers: the vectors are made inside the AVX-512 code, so
// nothing that crosses a call outside it holds one.
struct Params {
    int nAlpha;
    BOOL bTransparent;
    BOOL bWithBack;
    COLORREF crTint; // 0x00BBGGRR
    COLORREF crKey;
};

// One register of frame pixels and one of the destination pixels under them.
struct Pixels {
    __m512i frame, dest;
};

// x << kBits in each 32-bit lane, through the zero-masking form: the plain one passes an undefined
// register that GCC 12 warns about.
template <int kBits> TALVO_AVX512_INLINE __m512i ShiftLeft32(__m512i x) {
    return _mm512_maskz_slli_epi32(0xFFFF, x, kBits);
}

// ---- Arithmetic ---------------------------------------------------------------------------------

// x / 255 for x up to 65025 in 16-bit lanes: (x * 32897) >> 23.
TALVO_AVX512_INLINE __m512i By255(__m512i x) {
    return _mm512_srli_epi16(_mm512_mulhi_epu16(x, _mm512_set1_epi16(-32639)), 7); // 32897
}

// sum / 100 for sums up to 25500 in 16-bit lanes: (sum * 41944) >> 22.
TALVO_AVX512_INLINE __m512i By100(__m512i sum) {
    return _mm512_srli_epi16(_mm512_mulhi_epu16(sum, _mm512_set1_epi16(-23592)), 6); // 41944
}

// One 5-bit channel of 32 words mixed in place; the differences times a <= 256 fit 16 bits.
template <int kShift> TALVO_AVX512_INLINE __m512i MixChannel16(__m512i f, __m512i d, __m512i a) {
    const __m512i five = _mm512_set1_epi16(31);
    const __m512i fc = _mm512_and_si512(_mm512_srli_epi16(f, kShift), five);
    const __m512i dc = _mm512_and_si512(_mm512_srli_epi16(d, kShift), five);
    const __m512i mixed =
        _mm512_add_epi16(fc, _mm512_srai_epi16(_mm512_mullo_epi16(_mm512_sub_epi16(dc, fc), a), 8));
    return _mm512_slli_epi16(mixed, kShift);
}

// ---- The two depths -----------------------------------------------------------------------------

// Sixteen 32-bit pixels a register.
struct Depth32 {
    using Mask = __mmask16;
    static constexpr std::size_t kLanes = 16;
    static constexpr Mask kAll = 0xFFFF;

    // The tint's weights: blue in the low word of each pixel and red in the high one, and
    // green in the low word alone.
    struct Tints {
        __m512i blueRed, green;
    };

    TALVO_AVX512_INLINE static __m512i Load(Mask lanes, const BYTE* p) {
        return _mm512_maskz_loadu_epi32(lanes, p);
    }
    TALVO_AVX512_INLINE static void Store(BYTE* p, Mask lanes, __m512i v) {
        _mm512_mask_storeu_epi32(p, lanes, v);
    }
    TALVO_AVX512_INLINE static __m512i Select(__m512i v, Mask lanes, __m512i other) {
        return _mm512_mask_mov_epi32(v, lanes, other);
    }
    // The key as the frame holds it (B, G, R), or all ones, which no masked pixel equals, when
    // the key has a high byte and so never matches.
    TALVO_AVX512_INLINE static __m512i Key(COLORREF crKey) {
        const DWORD key = (crKey >> 24) != 0 ? 0xFFFFFFFF
                                             : (GetRValue(crKey) << 16) | (GetGValue(crKey) << 8) |
                                                   static_cast<DWORD>(GetBValue(crKey));
        return _mm512_set1_epi32(static_cast<int>(key));
    }
    TALVO_AVX512_INLINE static Mask Keys(__m512i f, __m512i key) {
        return _mm512_cmpeq_epi32_mask(_mm512_and_si512(f, _mm512_set1_epi32(0x00FFFFFF)), key);
    }

    // (f * (256 - a) + d * a) >> 8, even bytes (blue, red) and odd ones (green, fourth byte) in
    // place in their 16-bit lanes; the odd results are kept in the high byte by a mask that
    // also clears the fourth byte.
    TALVO_AVX512_INLINE static __m512i Mix(__m512i f, __m512i d, __m512i a) {
        const __m512i keep = _mm512_sub_epi16(_mm512_set1_epi16(256), a);
        const __m512i lowBytes = _mm512_set1_epi16(0x00FF);
        const __m512i even =
            _mm512_add_epi16(_mm512_mullo_epi16(_mm512_and_si512(f, lowBytes), keep),
                             _mm512_mullo_epi16(_mm512_and_si512(d, lowBytes), a));
        const __m512i odd = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_srli_epi16(f, 8), keep),
                                             _mm512_mullo_epi16(_mm512_srli_epi16(d, 8), a));
        return _mm512_or_si512(_mm512_srli_epi16(even, 8),
                               _mm512_and_si512(odd, _mm512_set1_epi32(0x0000FF00)));
    }

    TALVO_AVX512_INLINE static Tints MakeTints(COLORREF crTint) {
        const int blue = static_cast<int>((crTint >> 16) & 0xFF);
        return {_mm512_set1_epi32(blue | GetRValue(crTint) << 16),
                _mm512_set1_epi32(GetGValue(crTint))};
    }
    // Tinted pixels (fourth byte 0) without unpacking: 11 b + 59 g in the low word and 30 r in
    // the high word of each pixel by one multiply-add of bytes (no sum reaches the saturation),
    // the two words added by a second; the grey, in the low word, is then spread to both words
    // and scaled by the blue and red weights at once.
    TALVO_AVX512_INLINE static __m512i Tint(__m512i p, const Tints& t) {
        const __m512i weights = _mm512_set1_epi32(0x001E3B0B); // 11, 59, 30, 0
        const __m512i sum =
            _mm512_madd_epi16(_mm512_maddubs_epi16(p, weights), _mm512_set1_epi16(1));
        const __m512i grey = By100(sum); // the high word stays 0
        const __m512i both = _mm512_or_si512(grey, ShiftLeft32<16>(grey));
        const __m512i blueRed = By255(_mm512_mullo_epi16(both, t.blueRed));
        const __m512i green = By255(_mm512_mullo_epi16(grey, t.green));
        return _mm512_or_si512(blueRed, ShiftLeft32<8>(green));
    }
};

// Thirty-two 16-bit (x-5-5-5) pixels a register.
struct Depth16 {
    using Mask = __mmask32;
    static constexpr std::size_t kLanes = 32;
    static constexpr Mask kAll = 0xFFFFFFFF;

    struct Tints {
        __m512i red, green, blue;
    };

    TALVO_AVX512_INLINE static __m512i Load(Mask lanes, const BYTE* p) {
        return _mm512_maskz_loadu_epi16(lanes, p);
    }
    TALVO_AVX512_INLINE static void Store(BYTE* p, Mask lanes, __m512i v) {
        _mm512_mask_storeu_epi16(p, lanes, v);
    }
    TALVO_AVX512_INLINE static __m512i Select(__m512i v, Mask lanes, __m512i other) {
        return _mm512_mask_mov_epi16(v, lanes, other);
    }
    // The key cut to five bits a channel; bit 15 of a frame pixel takes part in the test.
    TALVO_AVX512_INLINE static __m512i Key(COLORREF crKey) {
        return _mm512_set1_epi16(static_cast<short>(((GetRValue(crKey) >> 3) << 10) |
                                                    ((GetGValue(crKey) >> 3) << 5) |
                                                    (GetBValue(crKey) >> 3)));
    }
    TALVO_AVX512_INLINE static Mask Keys(__m512i f, __m512i key) {
        return _mm512_cmpeq_epi16_mask(f, key);
    }

    TALVO_AVX512_INLINE static __m512i Mix(__m512i f, __m512i d, __m512i a) {
        return _mm512_or_si512(_mm512_or_si512(MixChannel16<10>(f, d, a), MixChannel16<5>(f, d, a)),
                               MixChannel16<0>(f, d, a));
    }

    TALVO_AVX512_INLINE static Tints MakeTints(COLORREF crTint) {
        return {_mm512_set1_epi16(static_cast<short>(GetRValue(crTint))),
                _mm512_set1_epi16(static_cast<short>(GetGValue(crTint))),
                _mm512_set1_epi16(static_cast<short>((crTint >> 16) & 0xFF))};
    }
    // Channels widened by three bits, the grey's tint per channel, cut back after.
    TALVO_AVX512_INLINE static __m512i Tint(__m512i w, const Tints& t) {
        const __m512i five = _mm512_set1_epi16(31);
        const __m512i r = _mm512_slli_epi16(_mm512_and_si512(_mm512_srli_epi16(w, 10), five), 3);
        const __m512i g = _mm512_slli_epi16(_mm512_and_si512(_mm512_srli_epi16(w, 5), five), 3);
        const __m512i b = _mm512_slli_epi16(_mm512_and_si512(w, five), 3);
        const __m512i sum =
            _mm512_add_epi16(_mm512_add_epi16(_mm512_mullo_epi16(r, _mm512_set1_epi16(30)),
                                              _mm512_mullo_epi16(g, _mm512_set1_epi16(59))),
                             _mm512_mullo_epi16(b, _mm512_set1_epi16(11)));
        const __m512i grey = By100(sum);
        const __m512i outR = By255(_mm512_mullo_epi16(grey, t.red));
        const __m512i outG = By255(_mm512_mullo_epi16(grey, t.green));
        const __m512i outB = By255(_mm512_mullo_epi16(grey, t.blue));
        return _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi16(_mm512_srli_epi16(outR, 3), 10),
                                               _mm512_slli_epi16(_mm512_srli_epi16(outG, 3), 5)),
                               _mm512_srli_epi16(outB, 3));
    }
};

// ---- The two operations -------------------------------------------------------------------------

// Each reads a register of pixels (Load) and writes what it makes of them (Store).

// dest = the mix of frame and dest; key pixels are left out of the store.
template <class D> struct MixOp : D {
    static constexpr bool kReadAhead = true;
    __m512i a, key;
    bool keyed;

    TALVO_AVX512_INLINE explicit MixOp(const Params& p)
        : a(_mm512_set1_epi16(static_cast<short>(p.nAlpha))), key(D::Key(p.crKey)),
          keyed(p.bTransparent != 0) {}
    TALVO_AVX512_INLINE Pixels Load(const BYTE* frame, const BYTE* dest,
                                    typename D::Mask lanes) const {
        return {D::Load(lanes, frame), D::Load(lanes, dest)};
    }
    TALVO_AVX512_INLINE void Store(BYTE* dest, typename D::Mask lanes, const Pixels& in) const {
        if (keyed) {
            lanes &= static_cast<typename D::Mask>(~D::Keys(in.frame, key));
        }
        D::Store(dest, lanes, D::Mix(in.frame, in.dest, a));
    }
};

// dest = the tint of the frame's grey; key pixels are left out of the store, or with the
// background take the tint of the destination's own grey (then alone is the destination read).
template <class D> struct ColorizeOp : D {
    static constexpr bool kReadAhead = false;
    typename D::Tints t;
    __m512i key;
    bool keyed, withBack;

    TALVO_AVX512_INLINE explicit ColorizeOp(const Params& p)
        : t(D::MakeTints(p.crTint)), key(D::Key(p.crKey)), keyed(p.bTransparent != 0),
          withBack(keyed && p.bWithBack != 0) {}
    TALVO_AVX512_INLINE Pixels Load(const BYTE* frame, const BYTE* dest,
                                    typename D::Mask lanes) const {
        return {D::Load(lanes, frame), withBack ? D::Load(lanes, dest) : _mm512_setzero_si512()};
    }
    TALVO_AVX512_INLINE void Store(BYTE* dest, typename D::Mask lanes, const Pixels& in) const {
        __m512i out = D::Tint(in.frame, t);
        if (keyed) {
            const typename D::Mask keys = D::Keys(in.frame, key);
            if (withBack) {
                out = D::Select(out, keys, D::Tint(in.dest, t));
            } else {
                lanes &= static_cast<typename D::Mask>(~keys);
            }
        }
        D::Store(dest, lanes, out);
    }
};

// ---- Runs ---------------------------------------------------------------------------------------

// n pixels of one operation: single registers, then the last pixels under a lane mask. The
// alpha mix, which does little to each pixel it reads, first goes four registers a step, each
// step read before the one before is stored: a load that follows a store to an address equal
// in its low 12 bits waits for it, and two buffers of one size taken one after the other lie
// just a few bytes over a multiple of 4 KiB apart. (The tint, with more to do, loses more by
// holding eight registers than it gains.)
template <class Op>
TALVO_AVX512_INLINE void Run(const BYTE* frame, BYTE* dest, std::size_t n, const Params& p) {
    const Op op(p);
    constexpr std::size_t kLanes = Op::kLanes, kBytes = 64 / kLanes, kStep = 4 * kLanes;
    std::size_t x = 0;
    if constexpr (Op::kReadAhead) {
        if (n >= 2 * kStep) {
            Pixels step[4], next[4];
            for (std::size_t k = 0; k < 4; ++k) {
                const std::size_t at = kBytes * (x + k * kLanes);
                step[k] = op.Load(frame + at, dest + at, Op::kAll);
            }
            for (; x + 2 * kStep <= n; x += kStep) {
                for (std::size_t k = 0; k < 4; ++k) {
                    const std::size_t at = kBytes * (x + kStep + k * kLanes);
                    next[k] = op.Load(frame + at, dest + at, Op::kAll);
                }
                for (std::size_t k = 0; k < 4; ++k) {
                    op.Store(dest + kBytes * (x + k * kLanes), Op::kAll, step[k]);
                    step[k] = next[k];
                }
            }
            for (std::size_t k = 0; k < 4; ++k) {
                op.Store(dest + kBytes * (x + k * kLanes), Op::kAll, step[k]);
            }
            x += kStep;
        }
    }
    for (; x + kLanes <= n; x += kLanes) {
        op.Store(dest + kBytes * x, Op::kAll,
                 op.Load(frame + kBytes * x, dest + kBytes * x, Op::kAll));
    }
    if (x < n) {
        const auto lanes = static_cast<typename Op::Mask>((std::uint64_t{1} << (n - x)) - 1);
        op.Store(dest + kBytes * x, lanes, op.Load(frame + kBytes * x, dest + kBytes * x, lanes));
    }
}

TALVO_AVX512 void MixRun32(const BYTE* frame, BYTE* dest, std::size_t n, const Params& p) {
    Run<MixOp<Depth32>>(frame, dest, n, p);
}
TALVO_AVX512 void MixRun16(const BYTE* frame, BYTE* dest, std::size_t n, const Params& p) {
    Run<MixOp<Depth16>>(frame, dest, n, p);
}
TALVO_AVX512 void ColorizeRun32(const BYTE* frame, BYTE* dest, std::size_t n, const Params& p) {
    Run<ColorizeOp<Depth32>>(frame, dest, n, p);
}
TALVO_AVX512 void ColorizeRun16(const BYTE* frame, BYTE* dest, std::size_t n, const Params& p) {
    Run<ColorizeOp<Depth16>>(frame, dest, n, p);
}

// ---- Row walk -----------------------------------------------------------------------------------

using RunFn = void (*)(const BYTE* frame, BYTE* dest, std::size_t n, const Params& p);

// Rows of `width` pixels one by one, or all of them as one run when no row has padding.
void WalkRuns(RunFn run, int bpp, const BYTE* frame, BYTE* dest, int width, int height,
              int rowBytes, const Params& p) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(width);
    if (static_cast<std::size_t>(rowBytes) == n * static_cast<std::size_t>(bpp / 8)) {
        run(frame, dest, n * static_cast<std::size_t>(height), p);
        return;
    }
    for (int y = 0; y < height; ++y) {
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(rowBytes);
        run(frame + at, dest + at, n, p);
    }
}

void Avx512MixAlphaRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                        int nAlpha, BOOL bTransparent, COLORREF crKey) {
    if (bpp != 32 && bpp != 16) {
        PortableEffectKernels().mixAlpha(bpp, frame, dest, width, height, rowBytes, nAlpha,
                                         bTransparent, crKey);
        return;
    }
    const Params p = {nAlpha, bTransparent, FALSE, 0, crKey};
    WalkRuns(bpp == 32 ? MixRun32 : MixRun16, bpp, frame, dest, width, height, rowBytes, p);
}

void Avx512ColorizeRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                        COLORREF crTint, BOOL bTransparent, BOOL bWithBack, COLORREF crKey) {
    if (bpp != 32 && bpp != 16) {
        PortableEffectKernels().colorize(bpp, frame, dest, width, height, rowBytes, crTint,
                                         bTransparent, bWithBack, crKey);
        return;
    }
    const Params p = {0, bTransparent, bWithBack, crTint, crKey};
    WalkRuns(bpp == 32 ? ColorizeRun32 : ColorizeRun16, bpp, frame, dest, width, height, rowBytes,
             p);
}

} // namespace

const EffectKernels* Avx512EffectKernels() {
    static const EffectKernels kernels = {"avx512", Avx512MixAlphaRows, Avx512ColorizeRows};
    static const bool present = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f") != 0 &&
                                                           __builtin_cpu_supports("avx512bw") != 0);
    return present ? &kernels : nullptr;
}

#else

const EffectKernels* Avx512EffectKernels() {
    return nullptr;
}

#endif
