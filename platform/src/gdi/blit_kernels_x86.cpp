// The SSE2, AVX2 and AVX-512 sets of the blit row loops. Each loop gives exactly the bytes of its
// portable counterpart in blit_kernels.h (no arithmetic, only bit operations, compares and
// selects), and hands the pixels its wide steps leave over to that counterpart. The library is
// built for plain x86-64; AVX2 and AVX-512 code is compiled per function and used only when the
// processor has it.
#include "blit_kernels.h"

#include <algorithm>
#include <bit>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define TALVO_BLIT_X86 1
#else
#define TALVO_BLIT_X86 0
#endif

namespace platform::gdi {

#if TALVO_BLIT_X86
namespace {

using kernels::reverse_bits_in_bytes;

// The portable loops do the pixels before and after the wide steps. They are called only when
// there are such pixels: in the middle of a rectangle loop a call costs the vector registers.

// ---- SSE2 --------------------------------------------------------------------------------------

template <RowOp Op> inline __m128i op128(__m128i d, __m128i s) {
    if constexpr (Op == RowOp::copy) {
        return s;
    } else if constexpr (Op == RowOp::and_) {
        return _mm_and_si128(d, s);
    } else if constexpr (Op == RowOp::or_) {
        return _mm_or_si128(d, s);
    } else if constexpr (Op == RowOp::xor_) {
        return _mm_xor_si128(d, s);
    } else {
        return _mm_andnot_si128(s, d);
    }
}

inline __m128i load128(const BYTE* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store128(BYTE* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline __m128i select128(__m128i m, __m128i c0, __m128i c1) {
    return _mm_or_si128(_mm_and_si128(m, c1), _mm_andnot_si128(m, c0));
}

template <RowOp Op> inline void bytes_sse2_row(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        for (std::size_t j = i; j < i + 64; j += 16) {
            store128(d + j, op128<Op>(load128(d + j), load128(s + j)));
        }
    }
    for (; i + 16 <= n; i += 16) {
        store128(d + i, op128<Op>(load128(d + i), load128(s + i)));
    }
    if (i < n) {
        kernels::bytes_row<Op>(d + i, s + i, n - i);
    }
}

// Pixels before the first whole byte of the monochrome row, by the portable loop; returns them.
template <int Bytes> int mask_head(const BYTE* s, DWORD key, BYTE* d, int x0, int n) {
    const int head = std::min(n, (8 - (x0 & 7)) & 7);
    if (head > 0) {
        kernels::mask_row<Bytes>(s, key, d, x0, head);
    }
    return head;
}

template <int Bytes> inline void mask_sse2_row(const BYTE* s, DWORD key, BYTE* d, int x0, int n) {
    int k = mask_head<Bytes>(s, key, d, x0, n);
    BYTE* out = d + ((x0 + k) >> 3);
    const __m128i k32 = _mm_set1_epi32(static_cast<int>(key));
    const __m128i k16 = _mm_set1_epi16(static_cast<short>(key));
    for (; k + 16 <= n; k += 16, out += 2) {
        const BYTE* p = s + static_cast<std::size_t>(k) * Bytes;
        unsigned bits;
        if constexpr (Bytes == 4) {
            auto eq = [&](int i) {
                return static_cast<unsigned>(
                    _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(load128(p + 16 * i), k32))));
            };
            bits = eq(0) | (eq(1) << 4) | (eq(2) << 8) | (eq(3) << 12);
        } else {
            const __m128i lo = _mm_cmpeq_epi16(load128(p), k16);
            const __m128i hi = _mm_cmpeq_epi16(load128(p + 16), k16);
            bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi)));
        }
        const auto rev = static_cast<std::uint16_t>(reverse_bits_in_bytes(bits));
        std::memcpy(out, &rev, 2);
    }
    if (k < n) {
        kernels::mask_row<Bytes>(s + static_cast<std::size_t>(k) * Bytes, key, d, x0 + k, n - k);
    }
}

// Pixels before the first whole byte of the monochrome source, by the portable loop.
template <RowOp Op, int Bytes>
int expand_head(const BYTE* s, int sx, BYTE* d, const BYTE* o, int n, DWORD c0, DWORD c1) {
    const int head = std::min(n, (8 - (sx & 7)) & 7);
    if (head > 0) {
        kernels::expand_row<Op, Bytes>(s, sx, d, o, head, c0, c1);
    }
    return head;
}

template <RowOp Op, int Bytes>
inline void expand_sse2_row(const BYTE* s, int sx, BYTE* d, const BYTE* o, int n, DWORD c0,
                            DWORD c1) {
    int k = expand_head<Op, Bytes>(s, sx, d, o, n, c0, c1);
    const BYTE* b = s + ((sx + k) >> 3);
    d += static_cast<std::size_t>(k) * Bytes;
    o += static_cast<std::size_t>(k) * Bytes;
    if constexpr (Bytes == 4) {
        const __m128i hi = _mm_setr_epi32(0x80, 0x40, 0x20, 0x10);
        const __m128i lo = _mm_setr_epi32(8, 4, 2, 1);
        const __m128i v0 = _mm_set1_epi32(static_cast<int>(c0));
        const __m128i v1 = _mm_set1_epi32(static_cast<int>(c1));
        for (; k + 8 <= n; k += 8, ++b, d += 32, o += 32) {
            const __m128i bits = _mm_set1_epi32(*b);
            const __m128i m0 = _mm_cmpeq_epi32(_mm_and_si128(bits, hi), hi);
            const __m128i m1 = _mm_cmpeq_epi32(_mm_and_si128(bits, lo), lo);
            store128(d, op128<Op>(load128(o), select128(m0, v0, v1)));
            store128(d + 16, op128<Op>(load128(o + 16), select128(m1, v0, v1)));
        }
    } else {
        const __m128i sel = _mm_setr_epi16(0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1);
        const __m128i v0 = _mm_set1_epi16(static_cast<short>(c0));
        const __m128i v1 = _mm_set1_epi16(static_cast<short>(c1));
        for (; k + 8 <= n; k += 8, ++b, d += 16, o += 16) {
            const __m128i m = _mm_cmpeq_epi16(_mm_and_si128(_mm_set1_epi16(*b), sel), sel);
            store128(d, op128<Op>(load128(o), select128(m, v0, v1)));
        }
    }
    if (k < n) {
        kernels::expand_row<Op, Bytes>(s, sx + k, d, o, n - k, c0, c1);
    }
}

// ---- AVX2 --------------------------------------------------------------------------------------

#define TALVO_AVX2 __attribute__((target("avx2")))
#define TALVO_AVX2_ROW __attribute__((target("avx2"), always_inline)) inline

template <RowOp Op> TALVO_AVX2 inline __m256i op256(__m256i d, __m256i s) {
    if constexpr (Op == RowOp::copy) {
        return s;
    } else if constexpr (Op == RowOp::and_) {
        return _mm256_and_si256(d, s);
    } else if constexpr (Op == RowOp::or_) {
        return _mm256_or_si256(d, s);
    } else if constexpr (Op == RowOp::xor_) {
        return _mm256_xor_si256(d, s);
    } else {
        return _mm256_andnot_si256(s, d);
    }
}

TALVO_AVX2 inline __m256i load256(const BYTE* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
TALVO_AVX2 inline void store256(BYTE* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Long rows start with a portable head up to a 32-byte boundary of d: a wide store that
// straddles two cache lines costs twice.
template <RowOp Op> TALVO_AVX2_ROW void bytes_avx2_row(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t i = 0;
    if (n >= 512) {
        i = (32 - reinterpret_cast<std::uintptr_t>(d) % 32) % 32;
        if (i > 0) {
            kernels::bytes_row<Op>(d, s, i);
        }
    }
    for (; i + 128 <= n; i += 128) {
        for (std::size_t j = i; j < i + 128; j += 32) {
            store256(d + j, op256<Op>(load256(d + j), load256(s + j)));
        }
    }
    for (; i + 32 <= n; i += 32) {
        store256(d + i, op256<Op>(load256(d + i), load256(s + i)));
    }
    if (i < n) {
        kernels::bytes_row<Op>(d + i, s + i, n - i);
    }
}

template <int Bytes>
TALVO_AVX2_ROW void mask_avx2_row(const BYTE* s, DWORD key, BYTE* d, int x0, int n) {
    int k = mask_head<Bytes>(s, key, d, x0, n);
    BYTE* out = d + ((x0 + k) >> 3);
    const __m256i k32 = _mm256_set1_epi32(static_cast<int>(key));
    const __m256i k16 = _mm256_set1_epi16(static_cast<short>(key));
    for (; k + 32 <= n; k += 32, out += 4) {
        const BYTE* p = s + static_cast<std::size_t>(k) * Bytes;
        __m256i bytes;
        if constexpr (Bytes == 4) {
            const __m256i a = _mm256_cmpeq_epi32(load256(p), k32);
            const __m256i b = _mm256_cmpeq_epi32(load256(p + 32), k32);
            const __m256i c = _mm256_cmpeq_epi32(load256(p + 64), k32);
            const __m256i d4 = _mm256_cmpeq_epi32(load256(p + 96), k32);
            // Packing works within 128-bit lanes: put the four-pixel groups back in order.
            bytes = _mm256_permutevar8x32_epi32(
                _mm256_packs_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d4)),
                _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        } else {
            const __m256i a = _mm256_cmpeq_epi16(load256(p), k16);
            const __m256i b = _mm256_cmpeq_epi16(load256(p + 32), k16);
            bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
        }
        // Each run of eight comparison bytes reversed, so that movemask puts the leftmost pixel
        // in bit 7.
        const auto rev = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(
            bytes, _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5,
                                    4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8))));
        std::memcpy(out, &rev, 4);
    }
    if (k < n) {
        kernels::mask_row<Bytes>(s + static_cast<std::size_t>(k) * Bytes, key, d, x0 + k, n - k);
    }
}

template <RowOp Op, int Bytes>
TALVO_AVX2_ROW void expand_avx2_row(const BYTE* s, int sx, BYTE* d, const BYTE* o, int n, DWORD c0,
                                    DWORD c1) {
    int k = expand_head<Op, Bytes>(s, sx, d, o, n, c0, c1);
    const BYTE* b = s + ((sx + k) >> 3);
    d += static_cast<std::size_t>(k) * Bytes;
    o += static_cast<std::size_t>(k) * Bytes;
    if constexpr (Bytes == 4) {
        const __m256i sel = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1);
        const __m256i v0 = _mm256_set1_epi32(static_cast<int>(c0));
        const __m256i v1 = _mm256_set1_epi32(static_cast<int>(c1));
        for (; k + 8 <= n; k += 8, ++b, d += 32, o += 32) {
            const __m256i m = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(*b), sel), sel);
            store256(d, op256<Op>(load256(o), _mm256_blendv_epi8(v0, v1, m)));
        }
    } else {
        const __m256i sel = _mm256_setr_epi16(0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1, 0x80, 0x40, 0x20,
                                              0x10, 8, 4, 2, 1);
        const __m256i v0 = _mm256_set1_epi16(static_cast<short>(c0));
        const __m256i v1 = _mm256_set1_epi16(static_cast<short>(c1));
        for (; k + 16 <= n; k += 16, b += 2, d += 32, o += 32) {
            const __m256i bits = _mm256_set_m128i(_mm_set1_epi16(b[1]), _mm_set1_epi16(b[0]));
            const __m256i m = _mm256_cmpeq_epi16(_mm256_and_si256(bits, sel), sel);
            store256(d, op256<Op>(load256(o), _mm256_blendv_epi8(v0, v1, m)));
        }
    }
    if (k < n) {
        kernels::expand_row<Op, Bytes>(s, sx + k, d, o, n - k, c0, c1);
    }
}

// ---- AVX-512 (F and BW) ------------------------------------------------------------------------

#define TALVO_AVX512 __attribute__((target("avx512f,avx512bw")))
#define TALVO_AVX512_ROW __attribute__((target("avx512f,avx512bw"), always_inline)) inline

// Lane indices that reverse each group of eight 32-bit lanes.
alignas(64) constexpr std::uint32_t kReverse32[16] = {7,  6,  5,  4,  3,  2,  1, 0,
                                                      15, 14, 13, 12, 11, 10, 9, 8};
// Bytes that reverse the eight 16-bit lanes of each 128-bit lane (a byte shuffle, which
// stays within 128-bit lanes and costs less than a permute across them).
alignas(64) constexpr std::uint8_t kReverse16[64] = {
    14, 15, 12, 13, 10, 11, 8,  9,  6,  7,  4,  5,  2,  3,  0,  1,  14, 15, 12, 13, 10, 11,
    8,  9,  6,  7,  4,  5,  2,  3,  0,  1,  14, 15, 12, 13, 10, 11, 8,  9,  6,  7,  4,  5,
    2,  3,  0,  1,  14, 15, 12, 13, 10, 11, 8,  9,  6,  7,  4,  5,  2,  3,  0,  1};

template <RowOp Op> TALVO_AVX512 inline __m512i op512(__m512i d, __m512i s) {
    if constexpr (Op == RowOp::copy) {
        return s;
    } else if constexpr (Op == RowOp::and_) {
        return _mm512_and_si512(d, s);
    } else if constexpr (Op == RowOp::or_) {
        return _mm512_or_si512(d, s);
    } else if constexpr (Op == RowOp::xor_) {
        return _mm512_xor_si512(d, s);
    } else {
        // Vector operators, not _mm512_andnot_si512, whose undefined pass-through operand
        // GCC 12 warns about.
        return d & ~s;
    }
}

// The first n bytes (n < 64) of a 64-byte step, through masked loads and stores.
template <RowOp Op> TALVO_AVX512 inline void bytes_part512(BYTE* d, const BYTE* s, std::size_t n) {
    const __mmask64 m = (std::uint64_t{1} << n) - 1;
    _mm512_mask_storeu_epi8(
        d, m, op512<Op>(_mm512_maskz_loadu_epi8(m, d), _mm512_maskz_loadu_epi8(m, s)));
}

// Long rows start with a part step up to a 64-byte boundary of d; the end is a part step too.
// Their 256-byte steps read the next step before they store their own. A load that follows a
// store to an address equal in its low 12 bits waits for that store, and two bitmaps of one size
// made one after the other lie just so (a few bytes more than a multiple of 4 KiB apart): read a
// step ahead, no load follows a store it could be taken for.
template <RowOp Op> TALVO_AVX512 inline void op_step512(BYTE* d, const BYTE* s, __m512i* out) {
    for (int k = 0; k < 4; ++k) {
        out[k] = op512<Op>(_mm512_loadu_si512(d + 64 * k), _mm512_loadu_si512(s + 64 * k));
    }
}
TALVO_AVX512 inline void store_step512(BYTE* d, const __m512i* v) {
    for (int k = 0; k < 4; ++k) {
        _mm512_storeu_si512(d + 64 * k, v[k]);
    }
}
template <RowOp Op> TALVO_AVX512_ROW void bytes_avx512_row(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t i = 0;
    if (n >= 1024) {
        i = (64 - reinterpret_cast<std::uintptr_t>(d) % 64) % 64;
        bytes_part512<Op>(d, s, i);
        __m512i step[4], next[4];
        op_step512<Op>(d + i, s + i, step); // at least 960 bytes are left
        for (; i + 512 <= n; i += 256) {
            op_step512<Op>(d + i + 256, s + i + 256, next);
            store_step512(d + i, step);
            std::copy(next, next + 4, step);
        }
        store_step512(d + i, step);
        i += 256;
    }
    for (; i + 256 <= n; i += 256) {
        for (std::size_t j = i; j < i + 256; j += 64) {
            _mm512_storeu_si512(d + j,
                                op512<Op>(_mm512_loadu_si512(d + j), _mm512_loadu_si512(s + j)));
        }
    }
    for (; i + 64 <= n; i += 64) {
        _mm512_storeu_si512(d + i, op512<Op>(_mm512_loadu_si512(d + i), _mm512_loadu_si512(s + i)));
    }
    if (i < n) {
        bytes_part512<Op>(d + i, s + i, n - i);
    }
}

template <int Bytes>
TALVO_AVX512_ROW void mask_avx512_row(const BYTE* s, DWORD key, BYTE* d, int x0, int n) {
    int k = mask_head<Bytes>(s, key, d, x0, n);
    BYTE* out = d + ((x0 + k) >> 3);
    // Pixels reversed within each group of eight before comparing, so that the comparison mask
    // has the leftmost pixel of each group in bit 7, as a monochrome byte has.
    const __m512i rev = _mm512_loadu_si512(Bytes == 4 ? static_cast<const void*>(kReverse32)
                                                      : static_cast<const void*>(kReverse16));
    const __m512i key_v = Bytes == 4 ? _mm512_set1_epi32(static_cast<int>(key))
                                     : _mm512_set1_epi16(static_cast<short>(key));
    for (; k + 64 <= n; k += 64, out += 8) {
        const BYTE* p = s + static_cast<std::size_t>(k) * Bytes;
        std::uint64_t bits;
        if constexpr (Bytes == 4) {
            auto eq = [](const BYTE* q, __m512i r, __m512i kv) TALVO_AVX512 {
                return _mm512_cmpeq_epi32_mask(
                    _mm512_maskz_permutexvar_epi32(0xFFFF, r, _mm512_loadu_si512(q)), kv);
            };
            const __mmask32 lo = _mm512_kunpackw(eq(p + 64, rev, key_v), eq(p, rev, key_v));
            const __mmask32 hi = _mm512_kunpackw(eq(p + 192, rev, key_v), eq(p + 128, rev, key_v));
            bits = _mm512_kunpackd(hi, lo);
        } else {
            auto eq = [](const BYTE* q, __m512i r, __m512i kv) TALVO_AVX512 {
                return _mm512_cmpeq_epi16_mask(_mm512_shuffle_epi8(_mm512_loadu_si512(q), r), kv);
            };
            bits = _mm512_kunpackd(eq(p + 64, rev, key_v), eq(p, rev, key_v));
        }
        std::memcpy(out, &bits, 8);
    }
    // Whole bytes left (fewer than 64 pixels): masked compares of up to 64 source bytes.
    constexpr int kStep = 64 / Bytes;
    for (int count; (count = std::min(n - k, kStep) & ~7) > 0; k += count) {
        const BYTE* p = s + static_cast<std::size_t>(k) * Bytes;
        std::uint64_t bits;
        if constexpr (Bytes == 4) {
            const __mmask16 m = static_cast<__mmask16>((1u << count) - 1);
            bits = _mm512_mask_cmpeq_epi32_mask(
                m, _mm512_maskz_permutexvar_epi32(0xFFFF, rev, _mm512_maskz_loadu_epi32(m, p)),
                key_v);
        } else {
            const __mmask32 m = static_cast<__mmask32>((std::uint64_t{1} << count) - 1);
            bits = _mm512_mask_cmpeq_epi16_mask(
                m, _mm512_shuffle_epi8(_mm512_maskz_loadu_epi16(m, p), rev), key_v);
        }
        std::memcpy(out, &bits, static_cast<std::size_t>(count / 8));
        out += count / 8;
    }
    if (k < n) {
        kernels::mask_row<Bytes>(s + static_cast<std::size_t>(k) * Bytes, key, d, x0 + k, n - k);
    }
}

// The 64 / Bytes pixels of a whole step from the monochrome bytes at b.
template <int Bytes>
TALVO_AVX512 inline __m512i expand_pixels512(const BYTE* b, __m512i rev, __m512i v0, __m512i v1) {
    if constexpr (Bytes == 4) {
        std::uint16_t bits;
        std::memcpy(&bits, b, 2);
        return _mm512_maskz_permutexvar_epi32(0xFFFF, rev, _mm512_mask_blend_epi32(bits, v0, v1));
    } else {
        std::uint32_t bits;
        std::memcpy(&bits, b, 4);
        return _mm512_shuffle_epi8(_mm512_mask_blend_epi16(bits, v0, v1), rev);
    }
}

// One step of up to 64 / Bytes pixels from the monochrome bytes at b; a part step loads and
// stores only its pixels and reads only the monochrome bytes it needs.
template <RowOp Op, int Bytes>
TALVO_AVX512 inline void expand_step512(const BYTE* b, BYTE* d, const BYTE* o, int count,
                                        __m512i rev, __m512i v0, __m512i v1) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, b, static_cast<std::size_t>((count + 7) / 8));
    // Lane j of the blend holds pixel j with its position in its group of eight reversed.
    if constexpr (Bytes == 4) {
        const __mmask16 lanes = static_cast<__mmask16>((1u << count) - 1);
        const __m512i x = _mm512_maskz_permutexvar_epi32(
            0xFFFF, rev, _mm512_mask_blend_epi32(static_cast<__mmask16>(bits), v0, v1));
        _mm512_mask_storeu_epi32(d, lanes, op512<Op>(_mm512_maskz_loadu_epi32(lanes, o), x));
    } else {
        const __mmask32 lanes = static_cast<__mmask32>((std::uint64_t{1} << count) - 1);
        const __m512i x =
            _mm512_shuffle_epi8(_mm512_mask_blend_epi16(static_cast<__mmask32>(bits), v0, v1), rev);
        _mm512_mask_storeu_epi16(d, lanes, op512<Op>(_mm512_maskz_loadu_epi16(lanes, o), x));
    }
}

template <RowOp Op, int Bytes>
TALVO_AVX512_ROW void expand_avx512_row(const BYTE* s, int sx, BYTE* d, const BYTE* o, int n,
                                        DWORD c0, DWORD c1) {
    int k = expand_head<Op, Bytes>(s, sx, d, o, n, c0, c1);
    const BYTE* b = s + ((sx + k) >> 3);
    d += static_cast<std::size_t>(k) * Bytes;
    o += static_cast<std::size_t>(k) * Bytes;
    // One 64-byte step holds kStep pixels, kStep / 8 monochrome bytes.
    constexpr int kStep = 64 / Bytes;
    const __m512i rev = _mm512_loadu_si512(Bytes == 4 ? static_cast<const void*>(kReverse32)
                                                      : static_cast<const void*>(kReverse16));
    const __m512i v0 = Bytes == 4 ? _mm512_set1_epi32(static_cast<int>(c0))
                                  : _mm512_set1_epi16(static_cast<short>(c0));
    const __m512i v1 = Bytes == 4 ? _mm512_set1_epi32(static_cast<int>(c1))
                                  : _mm512_set1_epi16(static_cast<short>(c1));
    // Four steps at a time, all four read before any is stored (see op_step512): when the pixels
    // combined come from rows other than those written, a load that follows a store of the same
    // low address bits would wait for it.
    for (; k + 4 * kStep <= n; k += 4 * kStep, b += kStep / 2, d += 256, o += 256) {
        __m512i in[4];
        for (int i = 0; i < 4; ++i) {
            in[i] = _mm512_loadu_si512(o + 64 * i);
        }
        for (int i = 0; i < 4; ++i) {
            _mm512_storeu_si512(
                d + 64 * i,
                op512<Op>(in[i], expand_pixels512<Bytes>(b + i * (kStep / 8), rev, v0, v1)));
        }
    }
    for (; k + kStep <= n; k += kStep, b += kStep / 8, d += 64, o += 64) {
        expand_step512<Op, Bytes>(b, d, o, kStep, rev, v0, v1);
    }
    if (k < n) {
        expand_step512<Op, Bytes>(b, d, o, n - k, rev, v0, v1);
    }
}

// ---- Between the 16-bit layouts ---------------------------------------------------------------

// The bit moves of kernels::rgb555_to_565 and rgb565_to_555, 8, 16 or 32 pixels at a time.
template <bool To565> inline __m128i convert16_128(__m128i v) {
    const __m128i rb = _mm_and_si128(v, _mm_set1_epi16(0x1F));
    if constexpr (To565) {
        return _mm_or_si128(
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(0x7FE0)), 1), rb),
            _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi16(0x20)));
    } else {
        return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 1), _mm_set1_epi16(0x7FE0)), rb);
    }
}
template <bool To565> TALVO_AVX2 inline __m256i convert16_256(__m256i v) {
    const __m256i rb = _mm256_and_si256(v, _mm256_set1_epi16(0x1F));
    if constexpr (To565) {
        return _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(v, _mm256_set1_epi16(0x7FE0)), 1),
                            rb),
            _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi16(0x20)));
    } else {
        return _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(v, 1), _mm256_set1_epi16(0x7FE0)),
                               rb);
    }
}
template <bool To565> TALVO_AVX512 inline __m512i convert16_512(__m512i v) {
    const __m512i rb = _mm512_and_si512(v, _mm512_set1_epi16(0x1F));
    if constexpr (To565) {
        return _mm512_or_si512(
            _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(v, _mm512_set1_epi16(0x7FE0)), 1),
                            rb),
            _mm512_and_si512(_mm512_srli_epi16(v, 4), _mm512_set1_epi16(0x20)));
    } else {
        return _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi16(v, 1), _mm512_set1_epi16(0x7FE0)),
                               rb);
    }
}

template <bool To565> inline void finish_convert16(BYTE* d, const BYTE* s, std::size_t n) {
    if constexpr (To565) {
        kernels::convert16_row<kernels::rgb555_to_565>(d, s, n);
    } else {
        kernels::convert16_row<kernels::rgb565_to_555>(d, s, n);
    }
}

template <bool To565> inline void convert16_sse2_row(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        store128(d + 2 * k, convert16_128<To565>(load128(s + 2 * k)));
    }
    if (k < n) {
        finish_convert16<To565>(d + 2 * k, s + 2 * k, n - k);
    }
}
template <bool To565>
TALVO_AVX2_ROW void convert16_avx2_row(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        store256(d + 2 * k, convert16_256<To565>(load256(s + 2 * k)));
    }
    if (k < n) {
        finish_convert16<To565>(d + 2 * k, s + 2 * k, n - k);
    }
}
template <bool To565>
TALVO_AVX512_ROW void convert16_avx512_row(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t k = 0;
    for (; k + 32 <= n; k += 32) {
        _mm512_storeu_si512(d + 2 * k, convert16_512<To565>(_mm512_loadu_si512(s + 2 * k)));
    }
    if (k < n) {
        // The last pixels through a masked step: at most 31, so a 32-bit lane mask.
        const __mmask32 m = static_cast<__mmask32>((1ull << (n - k)) - 1);
        _mm512_mask_storeu_epi16(d + 2 * k, m,
                                 convert16_512<To565>(_mm512_maskz_loadu_epi16(m, s + 2 * k)));
    }
}

// Masked copies: 64, 128 or 256 bytes a step, then single vectors; what is left (at most 15 or 31
// bytes, from a multiple of eight) goes to the portable loop, or at AVX-512 to one masked step.
inline void copy_masked_sse2_row(BYTE* d, const BYTE* s, std::size_t n, std::uint64_t mask8) {
    const __m128i m = _mm_set1_epi64x(static_cast<long long>(mask8));
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        for (std::size_t j = i; j < i + 64; j += 16) {
            store128(d + j, _mm_and_si128(load128(s + j), m));
        }
    }
    for (; i + 16 <= n; i += 16) {
        store128(d + i, _mm_and_si128(load128(s + i), m));
    }
    if (i < n) {
        kernels::copy_masked_row(d + i, s + i, n - i, mask8);
    }
}
TALVO_AVX2_ROW void copy_masked_avx2_row(BYTE* d, const BYTE* s, std::size_t n,
                                         std::uint64_t mask8) {
    const __m256i m = _mm256_set1_epi64x(static_cast<long long>(mask8));
    std::size_t i = 0;
    for (; i + 128 <= n; i += 128) {
        for (std::size_t j = i; j < i + 128; j += 32) {
            store256(d + j, _mm256_and_si256(load256(s + j), m));
        }
    }
    for (; i + 32 <= n; i += 32) {
        store256(d + i, _mm256_and_si256(load256(s + i), m));
    }
    if (i < n) {
        kernels::copy_masked_row(d + i, s + i, n - i, mask8);
    }
}
// Long rows go as the byte-wise ones do: a part step up to a 64-byte boundary of d (stores that
// straddle two cache lines cost twice over, and bitmaps below 64 KiB are not aligned), then
// 256-byte steps each read before the one before is stored. The mask's pattern starts again at
// the first byte of each row, so past the part step it is turned to where that step ended.
TALVO_AVX512 inline void masked_step512(const BYTE* s, __m512i m, __m512i* out) {
    for (int k = 0; k < 4; ++k) {
        out[k] = _mm512_and_si512(_mm512_loadu_si512(s + 64 * k), m);
    }
}
TALVO_AVX512_ROW void copy_masked_avx512_row(BYTE* d, const BYTE* s, std::size_t n,
                                             std::uint64_t mask8) {
    __m512i m = _mm512_set1_epi64(static_cast<long long>(mask8));
    std::size_t i = 0;
    if (n >= 1024) {
        i = (64 - reinterpret_cast<std::uintptr_t>(d) % 64) % 64;
        const __mmask64 head = (std::uint64_t{1} << i) - 1;
        _mm512_mask_storeu_epi8(d, head, _mm512_and_si512(_mm512_maskz_loadu_epi8(head, s), m));
        m = _mm512_set1_epi64(static_cast<long long>(std::rotr(mask8, static_cast<int>(8 * i))));
        __m512i step[4], next[4];
        masked_step512(s + i, m, step); // at least 960 bytes are left
        for (; i + 512 <= n; i += 256) {
            masked_step512(s + i + 256, m, next);
            store_step512(d + i, step);
            std::copy(next, next + 4, step);
        }
        store_step512(d + i, step);
        i += 256;
    }
    for (; i + 256 <= n; i += 256) {
        for (std::size_t j = i; j < i + 256; j += 64) {
            _mm512_storeu_si512(d + j, _mm512_and_si512(_mm512_loadu_si512(s + j), m));
        }
    }
    for (; i + 64 <= n; i += 64) {
        _mm512_storeu_si512(d + i, _mm512_and_si512(_mm512_loadu_si512(s + i), m));
    }
    if (i < n) {
        const __mmask64 part = (std::uint64_t{1} << (n - i)) - 1;
        _mm512_mask_storeu_epi8(d + i, part,
                                _mm512_and_si512(_mm512_maskz_loadu_epi8(part, s + i), m));
    }
}

// ---- The sets ----------------------------------------------------------------------------------

// The rectangle loops of one set around its row loops (inlined, constants set up once).
#define TALVO_RECT_LOOPS(set, attr)                                                                \
    template <RowOp Op>                                                                            \
    attr void bytes_##set(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch,    \
                          std::size_t n, int rows) {                                               \
        for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {                                 \
            bytes_##set##_row<Op>(d, s, n);                                                        \
        }                                                                                          \
    }                                                                                              \
    template <int Bytes>                                                                           \
    attr void mask_##set(const BYTE* s, std::ptrdiff_t spitch, DWORD key, BYTE* d,                 \
                         std::ptrdiff_t dpitch, int x0, int n, int rows) {                         \
        for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {                                 \
            mask_##set##_row<Bytes>(s, key, d, x0, n);                                             \
        }                                                                                          \
    }                                                                                              \
    template <RowOp Op, int Bytes>                                                                 \
    attr void expand_##set(const BYTE* s, std::ptrdiff_t spitch, int sx, BYTE* d,                  \
                           std::ptrdiff_t dpitch, const BYTE* o, std::ptrdiff_t opitch, int n,     \
                           int rows, DWORD c0, DWORD c1) {                                         \
        for (int r = 0; r < rows; ++r, d += dpitch, o += opitch, s += spitch) {                    \
            expand_##set##_row<Op, Bytes>(s, sx, d, o, n, c0, c1);                                 \
        }                                                                                          \
    }                                                                                              \
    template <bool To565>                                                                          \
    attr void convert16_##set(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s,                       \
                              std::ptrdiff_t spitch, std::size_t n, int rows) {                    \
        for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {                                 \
            convert16_##set##_row<To565>(d, s, n);                                                 \
        }                                                                                          \
    }                                                                                              \
    attr void copy_masked_##set(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s,                     \
                                std::ptrdiff_t spitch, std::size_t n, int rows,                    \
                                std::uint64_t mask8) {                                             \
        for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {                                 \
            copy_masked_##set##_row(d, s, n, mask8);                                               \
        }                                                                                          \
    }

TALVO_RECT_LOOPS(sse2, )
TALVO_RECT_LOOPS(avx2, TALVO_AVX2)
TALVO_RECT_LOOPS(avx512, TALVO_AVX512)

#define TALVO_BYTES(f)                                                                             \
    { nullptr, &f<RowOp::and_>, &f<RowOp::or_>, &f<RowOp::xor_>, &f<RowOp::and_not> }
#define TALVO_MASK(f)                                                                              \
    { &kernels::mask<1>, &f<2>, &kernels::mask<3>, &f<4> }
#define TALVO_EXPAND(f, B)                                                                         \
    {                                                                                              \
        &f<RowOp::copy, B>, &f<RowOp::and_, B>, &f<RowOp::or_, B>, &f<RowOp::xor_, B>,             \
            &f<RowOp::and_not, B>                                                                  \
    }

const BlitKernels kSse2 = {"sse2",
                           TALVO_BYTES(bytes_sse2),
                           TALVO_MASK(mask_sse2),
                           TALVO_EXPAND(expand_sse2, 2),
                           TALVO_EXPAND(expand_sse2, 4),
                           &convert16_sse2<true>,
                           &convert16_sse2<false>,
                           &copy_masked_sse2};
const BlitKernels kAvx2 = {"avx2",
                           TALVO_BYTES(bytes_avx2),
                           TALVO_MASK(mask_avx2),
                           TALVO_EXPAND(expand_avx2, 2),
                           TALVO_EXPAND(expand_avx2, 4),
                           &convert16_avx2<true>,
                           &convert16_avx2<false>,
                           &copy_masked_avx2};
const BlitKernels kAvx512 = {"avx512",
                             TALVO_BYTES(bytes_avx512),
                             TALVO_MASK(mask_avx512),
                             TALVO_EXPAND(expand_avx512, 2),
                             TALVO_EXPAND(expand_avx512, 4),
                             &convert16_avx512<true>,
                             &convert16_avx512<false>,
                             &copy_masked_avx512};

} // namespace

const BlitKernels* sse2_blit_kernels() {
    return &kSse2; // part of x86-64
}
const BlitKernels* avx2_blit_kernels() {
    static const bool yes = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
    return yes ? &kAvx2 : nullptr;
}
const BlitKernels* avx512_blit_kernels() {
    static const bool yes = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f") != 0 &&
                                                       __builtin_cpu_supports("avx512bw") != 0);
    return yes ? &kAvx512 : nullptr;
}

#else

const BlitKernels* sse2_blit_kernels() {
    return nullptr;
}
const BlitKernels* avx2_blit_kernels() {
    return nullptr;
}
const BlitKernels* avx512_blit_kernels() {
    return nullptr;
}

#endif

} // namespace platform::gdi
