// The dithering loop for a lookup cache without empty entries, where the order in which pixels
// are visited cannot change any result.
//
// One pixel's error feeds the next, so a single row is a long chain of dependent steps. A pixel
// needs of the row above only its neighbours up to x + 1, so several rows can run at once, each
// two pixels behind the one above it: the chains interleave and the processor overlaps them.
// The three channels travel together as 16-bit lanes of one SSE2 register (values stay within
// -255..510, errors within -255..255), with the same truncating divisions as the plain loop.
#pragma once

#include "dither/diffusion_job.h"

#include <cstdint>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TALVO_DITHER_WAVEFRONT 1

namespace talvo_dither {

// Per-image tables of the wavefront loop.
struct WaveTables {
    BYTE nearest[32768];                      // palette index per cache key, already below n
    alignas(16) std::int16_t palette[256][4]; // blue, green, red, 0
};

namespace wave {

inline __m128i div16(__m128i t) {
    const __m128i negative = _mm_srai_epi16(t, 15);
    return _mm_srai_epi16(_mm_add_epi16(t, _mm_and_si128(negative, _mm_set1_epi16(15))), 4);
}

template <int DestBits> struct Row {
    __m128i right = _mm_setzero_si128(); // 7/16 of the left neighbour's error
    __m128i open = _mm_setzero_si128();  // row below at x - 1, still missing x's 3/16
    __m128i next = _mm_setzero_si128();  // row below at x, so far x - 1's 1/16
    const BYTE* src = nullptr;
    PixelPacker<DestBits> out{nullptr};
};

template <int DestBits, typename Reader> struct Loop {
    const DiffusionJob& job;
    const Reader& read;
    const WaveTables& tables;
    std::int16_t* errors; // 4 per pixel, with one spare pixel in front for x - 1 at x = 0

    // `Inner`: x is not the last pixel of its row, so the reader may fetch a little more.
    template <bool Inner> inline void step(Row<DestBits>& row, int x) const {
        const __m128i zero = _mm_setzero_si128();
        DWORD bgr;
        if constexpr (Inner) {
            bgr = read.inner(row.src, x);
        } else {
            bgr = read(row.src, x);
        }
        __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(bgr)), zero);
        v = _mm_add_epi16(v, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(errors + 4 * x)));
        v = _mm_add_epi16(v, row.right);
        v = _mm_min_epi16(_mm_max_epi16(v, zero), _mm_set1_epi16(255));

        const __m128i levels = _mm_srli_epi16(v, 3);
        const __m128i sums = _mm_madd_epi16(levels, _mm_setr_epi16(1, 32, 1024, 0, 0, 0, 0, 0));
        const int key = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 4));
        const int index = tables.nearest[key];

        const __m128i e = _mm_sub_epi16(
            v, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tables.palette[index])));
        // Two shares per register: 7/16 beside 3/16, and 5/16 beside 1/16. Only the low four
        // lanes of any register are ever read, so what the high ones carry does not matter.
        const __m128i both = _mm_unpacklo_epi64(e, e);
        const __m128i s73 = div16(_mm_mullo_epi16(both, _mm_setr_epi16(7, 7, 7, 7, 3, 3, 3, 3)));
        const __m128i s51 = div16(_mm_mullo_epi16(both, _mm_setr_epi16(5, 5, 5, 5, 1, 1, 1, 1)));
        row.right = s73;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(errors + 4 * (x - 1)),
                         _mm_add_epi16(row.open, _mm_srli_si128(s73, 8)));
        row.open = _mm_add_epi16(row.next, s51);
        row.next = _mm_srli_si128(s51, 8);
        row.out.put(x, index);
    }

    inline void finish(Row<DestBits>& row) const {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(errors + 4 * (job.width - 1)), row.open);
        row.out.finish(job.width);
    }

    template <int K> inline void visit(Row<DestBits>& row, int t) const {
        const int x = t - 2 * K;
        if (x >= 0 && x < job.width) {
            step<false>(row, x);
            if (x == job.width - 1) {
                finish(row);
            }
        }
    }

    // Rows y .. y + sizeof...(K) - 1 together, row k two pixels behind row k - 1.
    template <int... K> void band(int y, std::integer_sequence<int, K...>) const {
        constexpr int kRows = sizeof...(K);
        Row<DestBits> rows[kRows];
        for (int k = 0; k < kRows; ++k) {
            rows[k].src = job.src + job.srcStride * (y + k);
            rows[k].out.row = job.dst + job.dstStride * (y + k);
        }
        // While every row of the band is inside the image and short of its last pixel, no
        // edge needs looking after; before and after, each row checks where it is.
        const int lead = 2 * (kRows - 1);
        const int end = job.width + lead;
        int t = 0;
        for (; t < lead && t < end; ++t) {
            (visit<K>(rows[K], t), ...);
        }
        for (; t < job.width - 1; ++t) {
            (step<true>(rows[K], t - 2 * K), ...);
        }
        for (; t < end; ++t) {
            (visit<K>(rows[K], t), ...);
        }
    }
};

} // namespace wave

template <int DestBits, typename Reader>
void diffuse_wavefront(const DiffusionJob& job, const Reader& read, const WaveTables& tables,
                       std::int16_t* errorRow) {
    constexpr int kBand = 4;
    std::int16_t* errors = errorRow + 4; // one spare pixel in front
    for (int i = 0; i < 4 * (job.width + 1); ++i) {
        errorRow[i] = 0;
    }
    const wave::Loop<DestBits, Reader> loop{job, read, tables, errors};
    int y = 0;
    for (; y + kBand <= job.rows; y += kBand) {
        loop.band(y, std::make_integer_sequence<int, kBand>{});
    }
    for (; y < job.rows; ++y) {
        loop.band(y, std::make_integer_sequence<int, 1>{});
    }
}

} // namespace talvo_dither

#endif
