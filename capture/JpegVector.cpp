// Vectorised kernels of the pixel pipeline for x86-64 processors with AVX-512 (BW, VL, DQ, VBMI)
// and FMA. They produce exactly the values of the literal arithmetic:
// - colour conversion: every product and sum of the definition is exact in double precision
//   (the constants are multiples of 2^-27 and the results stay below 2^9), so the vector version
//   computes the same doubles and then rounds and truncates them the same way;
// - transform: the separable single-precision evaluation of JpegTransform.cpp (at most five
//   roundings per pass, FMA only removing some), with the same tolerance check and literal
//   evaluation of the coefficients it cannot decide.
#include "capture/JpegTables.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TALVO_JPEG_X86 1
#include <immintrin.h>
#if !defined(__clang__)
// g++ 12 warns about the deliberately undefined pass-through operands inside its own AVX-512
// intrinsics.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#endif

namespace jpeg {

#ifdef TALVO_JPEG_X86

namespace {

#define TALVO_TARGET                                                                               \
    __attribute__((target("avx2,fma,avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")))

constexpr float kTolerance = 1.0f / 128.0f; // see JpegTransform.cpp

// Per-table constants in natural order.
struct QuantTable {
    alignas(32) float q[64];
    alignas(32) float inverse[64];
    alignas(32) float scale[64];
    int dcQuant;
    explicit QuantTable(const BYTE* zigzag) {
        for (int k = 0; k < 64; ++k) {
            int n = kZigZag[k];
            q[n] = zigzag[k];
            inverse[n] = 1.0f / float(zigzag[k]);
            int u = n >> 3, v = n & 7;
            double cu = u == 0 ? double(kScale0) : 1.0;
            double cv = v == 0 ? double(kScale0) : 1.0;
            scale[n] = float(cu * cv * 0.25);
        }
        dcQuant = zigzag[0];
    }
};
const QuantTable kLumTable(kLuminanceQuant);
const QuantTable kChromaTable(kChrominanceQuant);

struct ZigZagIndex {
    alignas(64) std::uint16_t index[64]; // for _mm512_permutex2var_epi16
    ZigZagIndex() {
        for (int k = 0; k < 64; ++k) {
            index[k] = kZigZag[k];
        }
    }
};
const ZigZagIndex kZigZagIndex;

TALVO_TARGET inline void Transpose8(__m256* r) {
    __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
    r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
    r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
    r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
    r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
    r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
    r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
    r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

// out[k] = sum_n in[n] * kCosine[k][n] lane by lane, through the symmetric and antisymmetric
// halves of the input.
TALVO_TARGET inline void Forward8(const __m256* in, __m256* out) {
    __m256 e[4], o[4];
    for (int n = 0; n < 4; ++n) {
        e[n] = _mm256_add_ps(in[n], in[7 - n]);
        o[n] = _mm256_sub_ps(in[n], in[7 - n]);
    }
    for (int k = 0; k < 8; ++k) {
        const float* c = kCosine[k];
        const __m256* h = (k & 1) ? o : e;
        __m256 acc = _mm256_mul_ps(_mm256_set1_ps(c[0]), h[0]);
        acc = _mm256_fmadd_ps(_mm256_set1_ps(c[1]), h[1], acc);
        acc = _mm256_fmadd_ps(_mm256_set1_ps(c[2]), h[2], acc);
        out[k] = _mm256_fmadd_ps(_mm256_set1_ps(c[3]), h[3], acc);
    }
}

TALVO_TARGET void TransformVector(const short* pBlock, int nStride, const BYTE* quant, short* out) {
    const QuantTable& table = quant == kChrominanceQuant ? kChromaTable : kLumTable;
    __m256 rows[8], t[8];
    __m256i sum32 = _mm256_setzero_si256();
    for (int y = 0; y < 8; ++y) {
        __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBlock + y * nStride));
        __m256i s32 = _mm256_cvtepi16_epi32(s);
        sum32 = _mm256_add_epi32(sum32, s32);
        rows[y] = _mm256_cvtepi32_ps(s32);
    }
    Transpose8(rows);  // rows[x] = column x, lane y
    Forward8(rows, t); // t[v] = row transform, lane y
    Transpose8(t);     // t[y] lane v
    Forward8(t, rows); // rows[u] lane v

    alignas(64) short natural[64];
    std::uint64_t undecided = 0;
    for (int u = 0; u < 8; ++u) {
        __m256 value = _mm256_mul_ps(rows[u], _mm256_load_ps(table.scale + 8 * u));
        __m256 q = _mm256_load_ps(table.q + 8 * u);
        __m256 ratio = _mm256_mul_ps(value, _mm256_load_ps(table.inverse + 8 * u));
        __m256 nearest = _mm256_round_ps(ratio, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        __m256 distance = _mm256_fnmadd_ps(nearest, q, value);
        distance = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), distance);
        __mmask8 close = _mm256_cmp_ps_mask(distance, _mm256_set1_ps(kTolerance), _CMP_LE_OQ);
        __mmask8 nonzero = _mm256_cmp_ps_mask(nearest, _mm256_setzero_ps(), _CMP_NEQ_OQ);
        undecided |= std::uint64_t(close & nonzero) << (8 * u);
        __m128i q16 = _mm256_cvtepi32_epi16(_mm256_cvttps_epi32(ratio));
        _mm_store_si128(reinterpret_cast<__m128i*>(natural + 8 * u), q16);
    }

    // DC: the sum of the samples is exact, and so is the literal DC from it.
    __m128i s4 = _mm_add_epi32(_mm256_castsi256_si128(sum32), _mm256_extracti128_si256(sum32, 1));
    s4 = _mm_add_epi32(s4, _mm_shuffle_epi32(s4, _MM_SHUFFLE(1, 0, 3, 2)));
    s4 = _mm_add_epi32(s4, _mm_shuffle_epi32(s4, _MM_SHUFFLE(2, 3, 0, 1)));
    natural[0] = short(short(DcCoefficient(_mm_cvtsi128_si32(s4))) / table.dcQuant);
    undecided &= ~std::uint64_t(1);
    while (undecided != 0) {
        int n = std::countr_zero(undecided);
        undecided &= undecided - 1;
        double literal = LiteralCoefficient(pBlock, nStride, n >> 3, n & 7);
        natural[n] = short(short(literal) / int(table.q[n]));
    }

    __m512i lo = _mm512_load_si512(natural);
    __m512i hi = _mm512_load_si512(natural + 32);
    __m512i i0 = _mm512_load_si512(kZigZagIndex.index);
    __m512i i1 = _mm512_load_si512(kZigZagIndex.index + 32);
    _mm512_storeu_si512(out, _mm512_permutex2var_epi16(lo, i0, hi));
    _mm512_storeu_si512(out + 32, _mm512_permutex2var_epi16(lo, i1, hi));
}

// Two blocks side by side: block A in lanes 0..7, block B in lanes 8..15 of each vector.
struct PairTable {
    alignas(64) float q[8][16];
    alignas(64) float inverse[8][16];
    alignas(64) float scale[8][16];
    explicit PairTable(const QuantTable& t) {
        for (int n = 0; n < 64; ++n) {
            for (int half = 0; half < 2; ++half) {
                q[n >> 3][8 * half + (n & 7)] = t.q[n];
                inverse[n >> 3][8 * half + (n & 7)] = t.inverse[n];
                scale[n >> 3][8 * half + (n & 7)] = t.scale[n];
            }
        }
    }
};
const PairTable kLumPair(kLumTable);
const PairTable kChromaPair(kChromaTable);

TALVO_TARGET inline void Transpose8x2(__m512* r) {
    __m512 t0 = _mm512_unpacklo_ps(r[0], r[1]), t1 = _mm512_unpackhi_ps(r[0], r[1]);
    __m512 t2 = _mm512_unpacklo_ps(r[2], r[3]), t3 = _mm512_unpackhi_ps(r[2], r[3]);
    __m512 t4 = _mm512_unpacklo_ps(r[4], r[5]), t5 = _mm512_unpackhi_ps(r[4], r[5]);
    __m512 t6 = _mm512_unpacklo_ps(r[6], r[7]), t7 = _mm512_unpackhi_ps(r[6], r[7]);
    __m512 s0 = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    __m512 s1 = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    __m512 s2 = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    __m512 s3 = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    __m512 s4 = _mm512_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    __m512 s5 = _mm512_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    __m512 s6 = _mm512_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    __m512 s7 = _mm512_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    // Low and high 128-bit quarters of each block's half, as a 256-bit transpose would join them.
    const __m512i lo = _mm512_setr_epi32(0, 1, 2, 3, 16, 17, 18, 19, 8, 9, 10, 11, 24, 25, 26, 27);
    const __m512i hi =
        _mm512_setr_epi32(4, 5, 6, 7, 20, 21, 22, 23, 12, 13, 14, 15, 28, 29, 30, 31);
    r[0] = _mm512_permutex2var_ps(s0, lo, s4);
    r[1] = _mm512_permutex2var_ps(s1, lo, s5);
    r[2] = _mm512_permutex2var_ps(s2, lo, s6);
    r[3] = _mm512_permutex2var_ps(s3, lo, s7);
    r[4] = _mm512_permutex2var_ps(s0, hi, s4);
    r[5] = _mm512_permutex2var_ps(s1, hi, s5);
    r[6] = _mm512_permutex2var_ps(s2, hi, s6);
    r[7] = _mm512_permutex2var_ps(s3, hi, s7);
}

TALVO_TARGET inline void Forward8x2(const __m512* in, __m512* out) {
    __m512 e[4], o[4];
#pragma GCC unroll 4
    for (int n = 0; n < 4; ++n) {
        e[n] = _mm512_add_ps(in[n], in[7 - n]);
        o[n] = _mm512_sub_ps(in[n], in[7 - n]);
    }
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        const float* c = kCosine[k];
        const __m512* h = (k & 1) ? o : e;
        __m512 acc = _mm512_mul_ps(_mm512_set1_ps(c[0]), h[0]);
        acc = _mm512_fmadd_ps(_mm512_set1_ps(c[1]), h[1], acc);
        acc = _mm512_fmadd_ps(_mm512_set1_ps(c[2]), h[2], acc);
        out[k] = _mm512_fmadd_ps(_mm512_set1_ps(c[3]), h[3], acc);
    }
}

// Reorders a block's 64 results into zig-zag order and lays them over the block, 8 per row.
TALVO_TARGET inline void StoreZigZag(const short* natural, short* pBlock, int nStride) {
    __m512i lo = _mm512_load_si512(natural);
    __m512i hi = _mm512_load_si512(natural + 32);
    __m512i z0 = _mm512_permutex2var_epi16(lo, _mm512_load_si512(kZigZagIndex.index), hi);
    __m512i z1 = _mm512_permutex2var_epi16(lo, _mm512_load_si512(kZigZagIndex.index + 32), hi);
    auto row = [&](int r) {
        return reinterpret_cast<__m128i*>(pBlock + std::ptrdiff_t(r) * nStride);
    };
    _mm_storeu_si128(row(0), _mm512_castsi512_si128(z0));
    _mm_storeu_si128(row(1), _mm512_extracti32x4_epi32(z0, 1));
    _mm_storeu_si128(row(2), _mm512_extracti32x4_epi32(z0, 2));
    _mm_storeu_si128(row(3), _mm512_extracti32x4_epi32(z0, 3));
    _mm_storeu_si128(row(4), _mm512_castsi512_si128(z1));
    _mm_storeu_si128(row(5), _mm512_extracti32x4_epi32(z1, 1));
    _mm_storeu_si128(row(6), _mm512_extracti32x4_epi32(z1, 2));
    _mm_storeu_si128(row(7), _mm512_extracti32x4_epi32(z1, 3));
}

TALVO_TARGET void TransformPairVector(short* pA, short* pB, int nStride, const BYTE* quant) {
    const bool chroma = quant == kChrominanceQuant;
    const QuantTable& table = chroma ? kChromaTable : kLumTable;
    const PairTable& pair = chroma ? kChromaPair : kLumPair;
    __m512 rows[8], t[8];
#pragma GCC unroll 8
    for (int y = 0; y < 8; ++y) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pA + y * nStride));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pB + y * nStride));
        rows[y] = _mm512_cvtepi32_ps(_mm512_cvtepi16_epi32(_mm256_set_m128i(b, a)));
    }
    Transpose8x2(rows);
    Forward8x2(rows, t);
    Transpose8x2(t);
    Forward8x2(t, rows);

    // Before scaling, the DC term is the plain sum of the samples: every step of its evaluation
    // adds integers well below 2^24, so it is exact.
    const int sumA = int(_mm512_cvtss_f32(rows[0]));
    const int sumB = int(_mm_cvtss_f32(_mm512_extractf32x4_ps(rows[0], 2)));

    alignas(64) short naturalA[64];
    alignas(64) short naturalB[64];
    std::uint64_t undecidedA = 0, undecidedB = 0;
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
        __m512 value = _mm512_mul_ps(rows[u], _mm512_load_ps(pair.scale[u]));
        __m512 q = _mm512_load_ps(pair.q[u]);
        __m512 ratio = _mm512_mul_ps(value, _mm512_load_ps(pair.inverse[u]));
        __m512 nearest = _mm512_roundscale_ps(ratio, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        __m512 distance = _mm512_abs_ps(_mm512_fnmadd_ps(nearest, q, value));
        __mmask16 close = _mm512_cmp_ps_mask(distance, _mm512_set1_ps(kTolerance), _CMP_LE_OQ);
        __mmask16 nonzero = _mm512_cmp_ps_mask(nearest, _mm512_setzero_ps(), _CMP_NEQ_OQ);
        unsigned undecided = close & nonzero;
        undecidedA |= std::uint64_t(undecided & 0xFF) << (8 * u);
        undecidedB |= std::uint64_t(undecided >> 8) << (8 * u);
        __m256i q16 = _mm512_cvtepi32_epi16(_mm512_cvttps_epi32(ratio));
        _mm_store_si128(reinterpret_cast<__m128i*>(naturalA + 8 * u), _mm256_castsi256_si128(q16));
        _mm_store_si128(reinterpret_cast<__m128i*>(naturalB + 8 * u),
                        _mm256_extracti128_si256(q16, 1));
    }
    naturalA[0] = short(short(DcCoefficient(sumA)) / table.dcQuant);
    naturalB[0] = short(short(DcCoefficient(sumB)) / table.dcQuant);
    const short* blocks[2] = {pA, pB};
    short* naturals[2] = {naturalA, naturalB};
    std::uint64_t undecided[2] = {undecidedA & ~std::uint64_t(1), undecidedB & ~std::uint64_t(1)};
    for (int i = 0; i < 2; ++i) {
        while (undecided[i] != 0) {
            int n = std::countr_zero(undecided[i]);
            undecided[i] &= undecided[i] - 1;
            double literal = LiteralCoefficient(blocks[i], nStride, n >> 3, n & 7);
            naturals[i][n] = short(short(literal) / int(table.q[n]));
        }
    }
    StoreZigZag(naturalA, pA, nStride);
    StoreZigZag(naturalB, pB, nStride);
}

struct ByteShuffles {
    alignas(64) std::uint8_t deinterleave[64]; // B0..B15 G0..G15 R0..R15 from B G R triples
    alignas(64) std::uint8_t interleave[64];   // the inverse
    ByteShuffles() {
        for (int i = 0; i < 64; ++i) {
            deinterleave[i] = std::uint8_t(i < 48 ? 3 * (i % 16) + i / 16 : i);
            interleave[i] = std::uint8_t(i < 48 ? 16 * (i % 3) + i / 3 : i);
        }
    }
};
const ByteShuffles kShuffles;

// Rounds two halves of eight doubles to single precision, then clamps to 0..255.
TALVO_TARGET inline __m512 RoundedClamped(__m512d lo, __m512d hi) {
    __m512 v =
        _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)), _mm512_cvtpd_ps(hi), 1);
    return _mm512_min_ps(_mm512_max_ps(v, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
}

TALVO_TARGET inline __m512i TruncatedClamped(__m512d lo, __m512d hi) {
    const __m512d zero = _mm512_setzero_pd(), top = _mm512_set1_pd(255.0);
    lo = _mm512_min_pd(_mm512_max_pd(lo, zero), top);
    hi = _mm512_min_pd(_mm512_max_pd(hi, zero), top);
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(lo)),
                              _mm512_cvttpd_epi32(hi), 1);
}

TALVO_TARGET inline __m512d Low(__m512i v) {
    return _mm512_cvtepi32_pd(_mm512_castsi512_si256(v));
}

TALVO_TARGET inline __m512d High(__m512i v) {
    return _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1));
}

TALVO_TARGET void ConvertRowVector(const BYTE* pIn, BYTE* pOut, short* pY, short* pCb, short* pCr,
                                   int nWidth) {
    const __m512i deinterleave = _mm512_load_si512(kShuffles.deinterleave);
    const __m512i interleave = _mm512_load_si512(kShuffles.interleave);
    const __m512d yr = _mm512_set1_pd(double(0.299f)), yg = _mm512_set1_pd(double(0.587f)),
                  yb = _mm512_set1_pd(double(0.114f));
    const __m512d cbr = _mm512_set1_pd(double(0.1687f)), cbg = _mm512_set1_pd(double(0.3313f));
    const __m512d crg = _mm512_set1_pd(double(0.4187f)), crb = _mm512_set1_pd(double(0.0813f));
    const __m512d half = _mm512_set1_pd(0.5), offset = _mm512_set1_pd(128.0);
    const __m512i level = _mm512_set1_epi32(128);
    for (int x = 0; x < nWidth; x += 16) {
        const int n = nWidth - x < 16 ? nWidth - x : 16;
        const __mmask64 bytes = (std::uint64_t(1) << (3 * n)) - 1;
        const __mmask16 lanes = __mmask16((1u << n) - 1);
        __m512i planar =
            _mm512_permutexvar_epi8(deinterleave, _mm512_maskz_loadu_epi8(bytes, pIn + 3 * x));
        __m512i b32 = _mm512_cvtepu8_epi32(_mm512_castsi512_si128(planar));
        __m512i g32 = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(planar, 1));
        __m512i r32 = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(planar, 2));
        __m512d bl = Low(b32), bh = High(b32), gl = Low(g32), gh = High(g32);
        __m512d rl = Low(r32), rh = High(r32);
        // Every intermediate value here is exact, so fusing operations changes nothing.
        __m512d yl = _mm512_fmadd_pd(yb, bl, _mm512_fmadd_pd(yg, gl, _mm512_mul_pd(yr, rl)));
        __m512d yh = _mm512_fmadd_pd(yb, bh, _mm512_fmadd_pd(yg, gh, _mm512_mul_pd(yr, rh)));
        __m512d cbl = _mm512_fmadd_pd(
            half, bl, _mm512_sub_pd(offset, _mm512_fmadd_pd(cbg, gl, _mm512_mul_pd(cbr, rl))));
        __m512d cbh = _mm512_fmadd_pd(
            half, bh, _mm512_sub_pd(offset, _mm512_fmadd_pd(cbg, gh, _mm512_mul_pd(cbr, rh))));
        __m512d crl =
            _mm512_fnmadd_pd(crb, bl, _mm512_fnmadd_pd(crg, gl, _mm512_fmadd_pd(half, rl, offset)));
        __m512d crh =
            _mm512_fnmadd_pd(crb, bh, _mm512_fnmadd_pd(crg, gh, _mm512_fmadd_pd(half, rh, offset)));
        __m512i yi = _mm512_cvttps_epi32(RoundedClamped(yl, yh));
        __m512i cbi = _mm512_cvttps_epi32(RoundedClamped(cbl, cbh));
        __m512i cri = TruncatedClamped(crl, crh);

        __m512i out = _mm512_castsi128_si512(_mm512_cvtepi32_epi8(yi));
        out = _mm512_inserti32x4(out, _mm512_cvtepi32_epi8(cbi), 1);
        out = _mm512_inserti32x4(out, _mm512_cvtepi32_epi8(cri), 2);
        _mm512_mask_storeu_epi8(pOut + 3 * x, bytes, _mm512_permutexvar_epi8(interleave, out));
        _mm256_mask_storeu_epi16(pY + x, lanes, _mm512_cvtepi32_epi16(_mm512_sub_epi32(yi, level)));
        _mm256_mask_storeu_epi16(pCb + x, lanes,
                                 _mm512_cvtepi32_epi16(_mm512_sub_epi32(cbi, level)));
        _mm256_mask_storeu_epi16(pCr + x, lanes,
                                 _mm512_cvtepi32_epi16(_mm512_sub_epi32(cri, level)));
    }
}

TALVO_TARGET std::uint64_t NonzeroVector(const short* pBlock, int nStride) {
    auto row = [&](int r) {
        return _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(pBlock + std::ptrdiff_t(r) * nStride));
    };
    __m512i lo = _mm512_castsi128_si512(row(0));
    lo = _mm512_inserti32x4(lo, row(1), 1);
    lo = _mm512_inserti32x4(lo, row(2), 2);
    lo = _mm512_inserti32x4(lo, row(3), 3);
    __m512i hi = _mm512_castsi128_si512(row(4));
    hi = _mm512_inserti32x4(hi, row(5), 1);
    hi = _mm512_inserti32x4(hi, row(6), 2);
    hi = _mm512_inserti32x4(hi, row(7), 3);
    return std::uint64_t(_mm512_test_epi16_mask(lo, lo)) |
           (std::uint64_t(_mm512_test_epi16_mask(hi, hi)) << 32);
}

const Kernels kVector = {"avx512", ConvertRowVector, TransformVector, TransformPairVector,
                         NonzeroVector};

bool Supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
           __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vbmi");
}

} // namespace

const Kernels* VectorKernels() {
    static const bool supported = Supported();
    return supported ? &kVector : nullptr;
}

#else

const Kernels* VectorKernels() {
    return nullptr;
}

#endif

} // namespace jpeg
