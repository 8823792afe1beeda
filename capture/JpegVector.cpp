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

TALVO_TARGET void ConvertRowVector(BYTE* pPixels, short* pY, short* pCb, short* pCr, int nWidth) {
    const __m512i deinterleave = _mm512_load_si512(kShuffles.deinterleave);
    const __m512i interleave = _mm512_load_si512(kShuffles.interleave);
    const __m512d yr = _mm512_set1_pd(double(0.299f)), yg = _mm512_set1_pd(double(0.587f)),
                  yb = _mm512_set1_pd(double(0.114f));
    const __m512d cbr = _mm512_set1_pd(double(0.1687f)), cbg = _mm512_set1_pd(double(0.3313f));
    const __m512d crg = _mm512_set1_pd(double(0.4187f)), crb = _mm512_set1_pd(double(0.0813f));
    const __m512d half = _mm512_set1_pd(0.5), offset = _mm512_set1_pd(128.0);
    const __m512i level = _mm512_set1_epi32(128);
    for (int x = 0; x < nWidth; x += 16) {
        int n = nWidth - x < 16 ? nWidth - x : 16;
        __mmask64 bytes = (std::uint64_t(1) << (3 * n)) - 1;
        __mmask16 lanes = __mmask16((1u << n) - 1);
        BYTE* p = pPixels + 3 * x;
        __m512i planar = _mm512_permutexvar_epi8(deinterleave, _mm512_maskz_loadu_epi8(bytes, p));
        __m512i b32 = _mm512_cvtepu8_epi32(_mm512_castsi512_si128(planar));
        __m512i g32 = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(planar, 1));
        __m512i r32 = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(planar, 2));
        __m512d b[2] = {_mm512_cvtepi32_pd(_mm512_castsi512_si256(b32)),
                        _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(b32, 1))};
        __m512d g[2] = {_mm512_cvtepi32_pd(_mm512_castsi512_si256(g32)),
                        _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(g32, 1))};
        __m512d r[2] = {_mm512_cvtepi32_pd(_mm512_castsi512_si256(r32)),
                        _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(r32, 1))};
        __m512d y[2], cb[2], cr[2];
        for (int h = 0; h < 2; ++h) {
            // Each of these is exact, whatever the order or fusion of the operations.
            y[h] = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(yr, r[h]), _mm512_mul_pd(yg, g[h])),
                                 _mm512_mul_pd(yb, b[h]));
            cb[h] = _mm512_add_pd(
                _mm512_sub_pd(_mm512_mul_pd(half, b[h]),
                              _mm512_add_pd(_mm512_mul_pd(cbr, r[h]), _mm512_mul_pd(cbg, g[h]))),
                offset);
            cr[h] = _mm512_add_pd(
                _mm512_sub_pd(_mm512_sub_pd(_mm512_mul_pd(half, r[h]), _mm512_mul_pd(crg, g[h])),
                              _mm512_mul_pd(crb, b[h])),
                offset);
        }
        __m512i yi = _mm512_cvttps_epi32(RoundedClamped(y[0], y[1]));
        __m512i cbi = _mm512_cvttps_epi32(RoundedClamped(cb[0], cb[1]));
        __m512i cri = TruncatedClamped(cr[0], cr[1]);

        __m512i out = _mm512_castsi128_si512(_mm512_cvtepi32_epi8(yi));
        out = _mm512_inserti32x4(out, _mm512_cvtepi32_epi8(cbi), 1);
        out = _mm512_inserti32x4(out, _mm512_cvtepi32_epi8(cri), 2);
        _mm512_mask_storeu_epi8(p, bytes, _mm512_permutexvar_epi8(interleave, out));
        _mm256_mask_storeu_epi16(pY + x, lanes, _mm512_cvtepi32_epi16(_mm512_sub_epi32(yi, level)));
        _mm256_mask_storeu_epi16(pCb + x, lanes,
                                 _mm512_cvtepi32_epi16(_mm512_sub_epi32(cbi, level)));
        _mm256_mask_storeu_epi16(pCr + x, lanes,
                                 _mm512_cvtepi32_epi16(_mm512_sub_epi32(cri, level)));
    }
}

TALVO_TARGET std::uint64_t NonzeroVector(const short* z) {
    __m512i lo = _mm512_loadu_si512(z);
    __m512i hi = _mm512_loadu_si512(z + 32);
    return std::uint64_t(_mm512_test_epi16_mask(lo, lo)) |
           (std::uint64_t(_mm512_test_epi16_mask(hi, hi)) << 32);
}

const Kernels kVector = {"avx512", ConvertRowVector, TransformVector, NonzeroVector};

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
