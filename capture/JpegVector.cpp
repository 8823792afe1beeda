// Vectorised kernels of the pixel pipeline for x86-64 processors with AVX-512 (BW, VL, DQ, VBMI)
// and FMA. They produce exactly the values of the literal arithmetic:
// - colour conversion: single precision with a proven error bound, and the exact double-precision
//   evaluation for the pixels it cannot decide (see ConvertRowVector);
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

// The even outputs use the table's structure further: row 4 has one magnitude, and rows 2 and 6
// share theirs. Each product still passes through at most five roundings.
TALVO_TARGET inline void Forward8x2(const __m512* in, __m512* out) {
    __m512 e[4], o[4];
#pragma GCC unroll 4
    for (int n = 0; n < 4; ++n) {
        e[n] = _mm512_add_ps(in[n], in[7 - n]);
        o[n] = _mm512_sub_ps(in[n], in[7 - n]);
    }
    const __m512 sum03 = _mm512_add_ps(e[0], e[3]), sum12 = _mm512_add_ps(e[1], e[2]);
    const __m512 diff03 = _mm512_sub_ps(e[0], e[3]), diff12 = _mm512_sub_ps(e[1], e[2]);
    const __m512 c4 = _mm512_set1_ps(kCosine[4][0]);
    const __m512 c2a = _mm512_set1_ps(kCosine[2][0]), c2b = _mm512_set1_ps(kCosine[2][1]);
    out[0] = _mm512_add_ps(sum03, sum12);
    out[4] = _mm512_mul_ps(c4, _mm512_sub_ps(sum03, sum12));
    out[2] = _mm512_fmadd_ps(c2b, diff12, _mm512_mul_ps(c2a, diff03));
    out[6] = _mm512_fnmadd_ps(c2a, diff12, _mm512_mul_ps(c2b, diff03));
#pragma GCC unroll 4
    for (int k = 1; k < 8; k += 2) {
        const float* c = kCosine[k];
        __m512 acc = _mm512_mul_ps(_mm512_set1_ps(c[0]), o[0]);
        acc = _mm512_fmadd_ps(_mm512_set1_ps(c[1]), o[1], acc);
        acc = _mm512_fmadd_ps(_mm512_set1_ps(c[2]), o[2], acc);
        out[k] = _mm512_fmadd_ps(_mm512_set1_ps(c[3]), o[3], acc);
    }
}

// Reorders a block's 64 results into zig-zag order and lays them over the block, 8 per row.
TALVO_TARGET inline void StoreZigZag(__m512i lo, __m512i hi, short* pBlock, int nStride) {
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

    // Quantise; a lane is undecided when its value lies within the tolerance of a nonzero
    // multiple of its quantiser. The DC lanes (0 and 8 of row 0) are exact already.
    __m256i q16[8];
    __mmask16 undecided[8];
    __mmask16 any = 0;
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
        __m512 value = _mm512_mul_ps(rows[u], _mm512_load_ps(pair.scale[u]));
        __m512 ratio = _mm512_mul_ps(value, _mm512_load_ps(pair.inverse[u]));
        __m512 nearest = _mm512_roundscale_ps(ratio, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        __m512 distance =
            _mm512_abs_ps(_mm512_fnmadd_ps(nearest, _mm512_load_ps(pair.q[u]), value));
        __mmask16 nonzero = _mm512_cmp_ps_mask(nearest, _mm512_setzero_ps(), _CMP_NEQ_OQ);
        undecided[u] =
            _mm512_mask_cmp_ps_mask(nonzero, distance, _mm512_set1_ps(kTolerance), _CMP_LE_OQ);
        if (u == 0) {
            undecided[0] &= __mmask16(~0x0101u);
        }
        any |= undecided[u];
        q16[u] = _mm512_cvtepi32_epi16(_mm512_cvttps_epi32(ratio));
    }

    // Rows u of both blocks are side by side in q16[u]: gather each block in natural order,
    // rows 0..3 in lo and 4..7 in hi.
    __m512i z01 = _mm512_inserti64x4(_mm512_castsi256_si512(q16[0]), q16[1], 1);
    __m512i z23 = _mm512_inserti64x4(_mm512_castsi256_si512(q16[2]), q16[3], 1);
    __m512i z45 = _mm512_inserti64x4(_mm512_castsi256_si512(q16[4]), q16[5], 1);
    __m512i z67 = _mm512_inserti64x4(_mm512_castsi256_si512(q16[6]), q16[7], 1);
    __m512i aLo = _mm512_shuffle_i64x2(z01, z23, _MM_SHUFFLE(2, 0, 2, 0));
    __m512i aHi = _mm512_shuffle_i64x2(z45, z67, _MM_SHUFFLE(2, 0, 2, 0));
    __m512i bLo = _mm512_shuffle_i64x2(z01, z23, _MM_SHUFFLE(3, 1, 3, 1));
    __m512i bHi = _mm512_shuffle_i64x2(z45, z67, _MM_SHUFFLE(3, 1, 3, 1));
    aLo = _mm512_mask_set1_epi16(aLo, 1, short(short(DcCoefficient(sumA)) / table.dcQuant));
    bLo = _mm512_mask_set1_epi16(bLo, 1, short(short(DcCoefficient(sumB)) / table.dcQuant));

    if (any != 0) {
        alignas(64) short natural[2][64];
        _mm512_store_si512(natural[0], aLo);
        _mm512_store_si512(natural[0] + 32, aHi);
        _mm512_store_si512(natural[1], bLo);
        _mm512_store_si512(natural[1] + 32, bHi);
        const short* blocks[2] = {pA, pB};
        for (int u = 0; u < 8; ++u) {
            for (unsigned m = undecided[u]; m != 0; m &= m - 1) {
                int lane = std::countr_zero(m);
                int block = lane >> 3, v = lane & 7;
                double literal = LiteralCoefficient(blocks[block], nStride, u, v);
                natural[block][8 * u + v] = short(short(literal) / int(table.q[8 * u + v]));
            }
        }
        aLo = _mm512_load_si512(natural[0]);
        aHi = _mm512_load_si512(natural[0] + 32);
        bLo = _mm512_load_si512(natural[1]);
        bHi = _mm512_load_si512(natural[1] + 32);
    }
    StoreZigZag(aLo, aHi, pA, nStride);
    StoreZigZag(bLo, bHi, pB, nStride);
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

// Rounds two halves of eight doubles to single precision and truncates them. No clamp is needed
// below: Y lies in 0..255.0000019 (which rounds to 255), Cb and Cr in 0.5..255.5, so only the
// upper bound of Cb and Cr needs applying, after truncation.
TALVO_TARGET inline __m512i RoundedTruncated(__m512d lo, __m512d hi) {
    __m512 v =
        _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)), _mm512_cvtpd_ps(hi), 1);
    return _mm512_cvttps_epi32(v);
}

TALVO_TARGET inline __m512i Truncated(__m512d lo, __m512d hi) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(lo)),
                              _mm512_cvttpd_epi32(hi), 1);
}

TALVO_TARGET inline __m512d Low(__m512i v) {
    return _mm512_cvtepi32_pd(_mm512_castsi512_si256(v));
}

TALVO_TARGET inline __m512d High(__m512i v) {
    return _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1));
}

// The defined conversion of 16 pixels, in double precision: every product and sum is exact (the
// constants are multiples of 2^-27 and the results stay below 2^9), so the order and fusion of
// the operations change nothing; then Y and Cb are rounded to single precision and all three
// truncated.
TALVO_TARGET inline void ConvertExact(__m512i b32, __m512i g32, __m512i r32, __m512i& yi,
                                      __m512i& cbi, __m512i& cri) {
    const __m512d yr = _mm512_set1_pd(double(0.299f)), yg = _mm512_set1_pd(double(0.587f)),
                  yb = _mm512_set1_pd(double(0.114f));
    const __m512d cbr = _mm512_set1_pd(double(0.1687f)), cbg = _mm512_set1_pd(double(0.3313f));
    const __m512d crg = _mm512_set1_pd(double(0.4187f)), crb = _mm512_set1_pd(double(0.0813f));
    const __m512d half = _mm512_set1_pd(0.5), offset = _mm512_set1_pd(128.0);
    __m512d bl = Low(b32), bh = High(b32), gl = Low(g32), gh = High(g32);
    __m512d rl = Low(r32), rh = High(r32);
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
    const __m512i top = _mm512_set1_epi32(255);
    yi = RoundedTruncated(yl, yh);
    cbi = _mm512_min_epi32(RoundedTruncated(cbl, cbh), top);
    cri = _mm512_min_epi32(Truncated(crl, crh), top);
}

// Lanes whose single-precision value is within kColourTolerance of a nonzero integer.
TALVO_TARGET inline __mmask16 NearInteger(__m512 v) {
    constexpr float kColourTolerance = 1.0f / 8192.0f;
    __m512 nearest = _mm512_roundscale_ps(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __mmask16 nonzero = _mm512_cmp_ps_mask(nearest, _mm512_setzero_ps(), _CMP_NEQ_OQ);
    return _mm512_mask_cmp_ps_mask(nonzero, _mm512_abs_ps(_mm512_sub_ps(v, nearest)),
                                   _mm512_set1_ps(kColourTolerance), _CMP_LE_OQ);
}

// The conversion is first evaluated in single precision, within 2.7e-5 of the exact values
// (three roundings of at most 7.6e-6 each below 256, plus the half unit by which rounding the
// exact Y or Cb to single precision can move it). Away from integers that decides the truncated
// results; the 16 pixels are evaluated exactly when a lane comes within 1/8192 of a nonzero
// integer. Grey pixels (R = G = B = v) always sit there, on the integers Y = v, Cb = 128 and
// Cr = 128 (v = 0) or just below it (127): they take those values directly.
TALVO_TARGET void ConvertRowVector(const BYTE* pIn, BYTE* pOut, short* pY, short* pCb, short* pCr,
                                   int nWidth) {
    const __m512i deinterleave = _mm512_load_si512(kShuffles.deinterleave);
    const __m512i interleave = _mm512_load_si512(kShuffles.interleave);
    const __m512 yr = _mm512_set1_ps(0.299f), yg = _mm512_set1_ps(0.587f),
                 yb = _mm512_set1_ps(0.114f);
    const __m512 cbr = _mm512_set1_ps(0.1687f), cbg = _mm512_set1_ps(0.3313f);
    const __m512 crg = _mm512_set1_ps(0.4187f), crb = _mm512_set1_ps(0.0813f);
    const __m512 half = _mm512_set1_ps(0.5f), offset = _mm512_set1_ps(128.0f);
    const __m512i level = _mm512_set1_epi32(128), top = _mm512_set1_epi32(255);
    for (int x = 0; x < nWidth; x += 16) {
        const int n = nWidth - x < 16 ? nWidth - x : 16;
        const __mmask64 bytes = (std::uint64_t(1) << (3 * n)) - 1;
        const __mmask16 lanes = __mmask16((1u << n) - 1);
        __m512i planar =
            _mm512_permutexvar_epi8(deinterleave, _mm512_maskz_loadu_epi8(bytes, pIn + 3 * x));
        __m512i b32 = _mm512_cvtepu8_epi32(_mm512_castsi512_si128(planar));
        __m512i g32 = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(planar, 1));
        __m512i r32 = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(planar, 2));
        __m512 b = _mm512_cvtepi32_ps(b32), g = _mm512_cvtepi32_ps(g32),
               r = _mm512_cvtepi32_ps(r32);
        __m512 yf = _mm512_fmadd_ps(yb, b, _mm512_fmadd_ps(yg, g, _mm512_mul_ps(yr, r)));
        __m512 cbf = _mm512_fmadd_ps(
            half, b, _mm512_sub_ps(offset, _mm512_fmadd_ps(cbg, g, _mm512_mul_ps(cbr, r))));
        __m512 crf =
            _mm512_fnmadd_ps(crb, b, _mm512_fnmadd_ps(crg, g, _mm512_fmadd_ps(half, r, offset)));
        __m512i yi = _mm512_cvttps_epi32(yf);
        __m512i cbi = _mm512_min_epi32(_mm512_cvttps_epi32(cbf), top);
        __m512i cri = _mm512_min_epi32(_mm512_cvttps_epi32(crf), top);

        __mmask16 grey = _mm512_mask_cmpeq_epi32_mask(_mm512_cmpeq_epi32_mask(b32, g32), g32, r32);
        yi = _mm512_mask_mov_epi32(yi, grey, g32);
        cbi = _mm512_mask_mov_epi32(cbi, grey, level);
        cri = _mm512_mask_mov_epi32(
            cri, grey,
            _mm512_mask_mov_epi32(_mm512_set1_epi32(127),
                                  _mm512_cmpeq_epi32_mask(g32, _mm512_setzero_si512()), level));
        __mmask16 undecided = NearInteger(yf) | NearInteger(cbf) | NearInteger(crf);
        if ((undecided & ~grey & lanes) != 0) {
            ConvertExact(b32, g32, r32, yi, cbi, cri);
        }

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
