// BitBlt, StretchBlt, PatBlt and the fill behind FillRect: one engine for every format pair.
//
// A blit maps each visible destination pixel to a source pixel (clipped to both surfaces, so
// nothing outside either is ever touched), converts source and pattern into raw values of the
// destination's format, and applies the raster operation bitwise to raw values row by row.
// Fast paths cover what sprite drawing does all the time: straight copies, the AND / OR / XOR
// / AND-NOT steps of masked drawing, colour-to-monochrome masks and solid fills.
#include "internal/gdi_internal.h"
#include "raster_ops.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// AVX2 loops chosen at run time: the library is built for plain x86-64, and at sprite sizes the
// SSE2 loops, not memory, are the limit. Not on Windows, where GCC cannot keep 32-byte stack
// spills aligned.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#define TALVO_BLIT_AVX2 1
#include <immintrin.h>
#else
#define TALVO_BLIT_AVX2 0
#endif

namespace platform::gdi {
namespace {

constexpr BYTE kSrcCopy = 0xCC;
constexpr BYTE kSrcAnd = 0x88;
constexpr BYTE kSrcPaint = 0xEE;
constexpr BYTE kSrcInvert = 0x66;
constexpr BYTE kSrcAndNot = 0x22; // 0x00220326: D AND NOT S
constexpr BYTE kPatCopy = 0xF0;

// Destination coordinates [start, start + count) and the source coordinate of each: src_start
// + k when contiguous (every 1:1 blit), else src[k].
struct Axis {
    int start = 0;
    int count = 0;
    int src_start = 0;
    bool contiguous = true;
    std::vector<int> src;
    // Shrinking in a combining stretch mode: the first source coordinate of each destination
    // pixel's span (the span ends at src[k]).
    std::vector<int> first;

    int at(int k) const { return contiguous ? src_start + k : src[static_cast<std::size_t>(k)]; }
};

// Maps one axis. A negative extent covers the coordinate and the pixels before it (width -4
// at x covers x - 3 to x, as Windows draws a mirrored rectangle); opposite signs on the two
// sides mirror. Stretching picks for destination pixel k the source pixel
//   shrinking:  ((2k + 2) * S - D) / (2D), the last pixel of the span that k covers
//   enlarging:  ((2k + 1) * S - 1) / (2D)
// (S source and D destination extents), which is what Windows draws; a mirrored k takes the
// pick of D - 1 - k.
void map_axis(long long d, long long dlen, long long s, long long slen, long dclip0, long dclip1,
              long sclip0, long sclip1, bool has_src, bool spans, Axis& out) {
    bool mirror = false;
    if (dlen < 0) {
        d += dlen + 1;
        dlen = -dlen;
        mirror = !mirror;
    }
    if (slen < 0) {
        s += slen + 1;
        slen = -slen;
        mirror = !mirror;
    }
    if (!has_src) {
        slen = dlen;
        s = 0;
        mirror = false;
        sclip0 = LONG_MIN;
        sclip1 = LONG_MAX;
    }
    long long k0 = std::max<long long>(0, dclip0 - d);
    long long k1 = std::min<long long>(dlen, dclip1 - d);
    if (slen == dlen && !mirror) {
        // 1:1: the visible part is an interval on both sides.
        k0 = std::max<long long>(k0, sclip0 - s);
        k1 = std::min<long long>(k1, sclip1 - s);
        out.contiguous = true;
        out.count = k1 > k0 ? static_cast<int>(k1 - k0) : 0;
        out.start = static_cast<int>(d + std::min(k0, k1));
        out.src_start = static_cast<int>(s + std::min(k0, k1));
        return;
    }
    out.contiguous = false;
    out.src.clear();
    out.first.clear();
    const bool shrink = slen > dlen;
    spans = spans && shrink;
    auto pick = [&](long long k) {
        return shrink ? ((2 * k + 2) * slen - dlen) / (2 * dlen)
                      : ((2 * k + 1) * slen - 1) / (2 * dlen);
    };
    bool started = false;
    for (long long k = k0; k < k1; ++k) {
        const long long kk = mirror ? dlen - 1 - k : k;
        const long long j = pick(kk);
        const long long sc = s + j;
        if (sc < sclip0 || sc >= sclip1) {
            if (started) {
                break; // the visible part is contiguous: nothing more after it
            }
            continue;
        }
        if (!started) {
            out.start = static_cast<int>(d + k);
            started = true;
        }
        out.src.push_back(static_cast<int>(sc));
        if (spans) {
            const long long first = s + (kk == 0 ? 0 : pick(kk - 1) + 1);
            out.first.push_back(static_cast<int>(std::max<long long>(first, sclip0)));
        }
    }
    out.count = static_cast<int>(out.src.size());
}

bool same_layout(const Bitmap& a, const Bitmap& b) {
    if (a.format != b.format) {
        return false;
    }
    if (a.format->indexed) {
        if (!a.is_dib_section && !b.is_dib_section) {
            return true;
        }
        if (a.is_dib_section != b.is_dib_section || a.colors.size() != b.colors.size()) {
            return false;
        }
        return a.colors.empty() || std::memcmp(a.colors.data(), b.colors.data(),
                                               a.colors.size() * sizeof(RGBQUAD)) == 0;
    }
    return std::memcmp(a.masks, b.masks, sizeof(a.masks)) == 0;
}

// Source raw values to destination raw values.
class Converter {
public:
    enum Kind { identity, table, key, direct, to_indexed };

    Converter(const Bitmap& src, const Dc* src_dc, const Bitmap& dst, const Dc* dst_dc)
        : s_(src), d_(dst), dst_dc_(dst_dc) {
        if (same_layout(src, dst)) {
            kind_ = identity;
        } else if (dst.bpp == 1 && !dst.is_dib_section) {
            // Colour to monochrome (a 1-bit DIB section instead takes the nearest colour of its
            // table, like any indexed section): 1 exactly where the raw value is the source DC's
            // background colour in the source's own format.
            key_ = color_to_pixel(src_dc, src,
                                  src_dc != nullptr ? src_dc->state.bk_color : RGB(255, 255, 255));
            kind_ = key;
            if (src.format->indexed) {
                build_table([&](DWORD i) { return i == key_ ? 1u : 0u; });
            }
        } else if (src.bpp == 1 && !src.is_dib_section) {
            // Monochrome to colour: 0 is the destination's text colour, 1 its background.
            const COLORREF text = dst_dc != nullptr ? dst_dc->state.text_color : RGB(0, 0, 0);
            const COLORREF bk = dst_dc != nullptr ? dst_dc->state.bk_color : RGB(255, 255, 255);
            lut_[0] = color_to_pixel(dst_dc, dst, text);
            lut_[1] = color_to_pixel(dst_dc, dst, bk);
            kind_ = table;
        } else if (src.format->indexed) {
            build_table(
                [&](DWORD i) { return color_to_pixel(dst_dc, dst, pixel_to_color(src, i)); });
        } else if (!dst.format->indexed) {
            kind_ = direct;
        } else {
            kind_ = to_indexed;
        }
    }

    Kind kind() const { return kind_; }

    // Raw source values already read (the combining stretch modes).
    void values(const DWORD* in, int n, DWORD* out) {
        for (int k = 0; k < n; ++k) {
            const DWORD v = in[k];
            switch (kind_) {
            case identity:
                out[k] = v;
                break;
            case table:
                out[k] = lut_[v & 0xFF];
                break;
            case key:
                out[k] = v == key_ ? 1u : 0u;
                break;
            case direct:
                out[k] = d_.format->from_rgb(d_, s_.format->to_rgb(s_, v));
                break;
            case to_indexed:
                out[k] = color_to_pixel(dst_dc_, d_, s_.format->to_rgb(s_, v));
                break;
            }
        }
    }
    DWORD key_value() const { return key_; }

    void row(const BYTE* src_row, const int* xs, int n, DWORD* out) {
        const auto read = s_.format->read;
        switch (kind_) {
        case identity:
            for (int k = 0; k < n; ++k) {
                out[k] = read(src_row, xs[k]);
            }
            break;
        case table:
            for (int k = 0; k < n; ++k) {
                out[k] = lut_[read(src_row, xs[k]) & 0xFF];
            }
            break;
        case key:
            for (int k = 0; k < n; ++k) {
                out[k] = read(src_row, xs[k]) == key_ ? 1u : 0u;
            }
            break;
        case direct:
            for (int k = 0; k < n; ++k) {
                out[k] = d_.format->from_rgb(d_, s_.format->to_rgb(s_, read(src_row, xs[k])));
            }
            break;
        case to_indexed:
            for (int k = 0; k < n; ++k) {
                const DWORD v = read(src_row, xs[k]);
                auto it = cache_.find(v);
                if (it == cache_.end()) {
                    it = cache_.emplace(v, color_to_pixel(dst_dc_, d_, s_.format->to_rgb(s_, v)))
                             .first;
                }
                out[k] = it->second;
            }
            break;
        }
    }

private:
    template <class F> void build_table(F f) {
        const int count = 1 << std::min(s_.bpp, 8);
        for (int i = 0; i < count; ++i) {
            lut_[i] = f(static_cast<DWORD>(i));
        }
        kind_ = table;
    }

    const Bitmap& s_;
    const Bitmap& d_;
    const Dc* dst_dc_;
    Kind kind_ = identity;
    DWORD key_ = 0;
    DWORD lut_[256]; // filled for the indices the source can hold
    std::unordered_map<DWORD, DWORD> cache_;
};

// The brush as raw destination values, tiled from the DC's brush origin.
struct Pattern {
    bool null = false;
    int width = 1;
    int height = 1;
    int org_x = 0; // device coordinates where the pattern's (0,0) falls
    int org_y = 0;
    std::vector<DWORD> values;

    void row(int y, int x0, int n, DWORD* out) const {
        if (width == 1 && height == 1) {
            std::fill(out, out + n, values[0]);
            return;
        }
        const int py = ((y - org_y) % height + height) % height;
        const DWORD* line = values.data() + static_cast<std::size_t>(py) * width;
        int px = ((x0 - org_x) % width + width) % width;
        for (int k = 0; k < n; ++k) {
            out[k] = line[px];
            if (++px == width) {
                px = 0;
            }
        }
    }
};

bool make_pattern(const Dc& dc, const Target& t, const Brush* brush, Pattern& out) {
    out.org_x = dc.state.brush_org.x + t.origin_x;
    out.org_y = dc.state.brush_org.y + t.origin_y;
    if (brush == nullptr) {
        return false;
    }
    if (brush->style == BS_NULL) {
        out.null = true;
        return true;
    }
    if (brush->pattern) {
        const Bitmap& p = *brush->pattern;
        Converter conv(p, &dc, *t.surface, &dc);
        out.width = p.width;
        out.height = p.height;
        out.values.resize(static_cast<std::size_t>(p.width) * p.height);
        std::vector<int> xs(p.width);
        for (int x = 0; x < p.width; ++x) {
            xs[x] = x;
        }
        for (int y = 0; y < p.height; ++y) {
            conv.row(p.row(y), xs.data(), p.width,
                     out.values.data() + static_cast<std::size_t>(y) * p.width);
        }
        return true;
    }
    out.values.assign(1, color_to_pixel(&dc, *t.surface, brush->color));
    return true;
}

// ---- Fast paths ----------------------------------------------------------------------------

#if TALVO_BLIT_AVX2
bool have_avx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

bool have_avx512() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0;
    }();
    return yes;
}

// As bytes_op_avx2, 256 bytes at a time.
template <BYTE Rop>
__attribute__((target("avx512f"))) std::size_t bytes_op_avx512(BYTE* d, const BYTE* s,
                                                               std::size_t n) {
    std::size_t i = 0;
    for (; i + 256 <= n; i += 256) {
        for (int j = 0; j < 256; j += 64) {
            const __m512i a = _mm512_loadu_si512(d + i + j);
            const __m512i b = _mm512_loadu_si512(s + i + j);
            __m512i r;
            if constexpr (Rop == kSrcAnd) {
                r = _mm512_and_si512(a, b);
            } else if constexpr (Rop == kSrcPaint) {
                r = _mm512_or_si512(a, b);
            } else if constexpr (Rop == kSrcInvert) {
                r = _mm512_xor_si512(a, b);
            } else {
                // Vector operators, not _mm512_andnot_si512, whose undefined pass-through
                // operand GCC 12 warns about.
                r = a & ~b;
            }
            _mm512_storeu_si512(d + i + j, r);
        }
    }
    return i;
}

// d = op(d, s) over the leading multiple of 128 bytes; returns how many bytes it did.
template <BYTE Rop>
__attribute__((target("avx2"))) std::size_t bytes_op_avx2(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t i = 0;
    for (; i + 128 <= n; i += 128) {
        for (int j = 0; j < 128; j += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + j));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + j));
            __m256i r;
            if constexpr (Rop == kSrcAnd) {
                r = _mm256_and_si256(a, b);
            } else if constexpr (Rop == kSrcPaint) {
                r = _mm256_or_si256(a, b);
            } else if constexpr (Rop == kSrcInvert) {
                r = _mm256_xor_si256(a, b);
            } else {
                r = _mm256_andnot_si256(b, a);
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i + j), r);
        }
    }
    return i;
}
#endif

// d = op(d, s) over n bytes; op works on any unsigned width, 16 bytes at a time where the
// machine has SSE2 (32 with AVX2).
template <BYTE Rop, class Op, class VecOp>
void bytes_op(BYTE* d, const BYTE* s, std::size_t n, Op op, VecOp vop) {
    std::size_t i = 0;
#if TALVO_BLIT_AVX2
    if (n >= 256 && have_avx2()) {
        // Aligned stores: a wide store that straddles two cache lines costs twice.
        const bool wide = have_avx512();
        const std::uintptr_t align = wide ? 64 : 32;
        const std::size_t head =
            static_cast<std::size_t>((align - reinterpret_cast<std::uintptr_t>(d) % align) % align);
        for (; i + 8 <= head; i += 8) {
            std::uint64_t a, b;
            std::memcpy(&a, d + i, 8);
            std::memcpy(&b, s + i, 8);
            a = op(a, b);
            std::memcpy(d + i, &a, 8);
        }
        for (; i < head; ++i) {
            d[i] = static_cast<BYTE>(op(std::uint64_t{d[i]}, std::uint64_t{s[i]}));
        }
        if (wide) {
            i += bytes_op_avx512<Rop>(d + i, s + i, n - i);
        }
        if (n - i >= 128) {
            i += bytes_op_avx2<Rop>(d + i, s + i, n - i);
        }
    }
#endif
#if defined(__SSE2__)
    for (; i + 64 <= n; i += 64) {
        for (std::size_t j = 0; j < 64; j += 16) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + j));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + j));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + j), vop(a, b));
        }
    }
#else
    (void)vop;
#endif
    for (; i + 8 <= n; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, d + i, 8);
        std::memcpy(&b, s + i, 8);
        a = op(a, b);
        std::memcpy(d + i, &a, 8);
    }
    for (; i < n; ++i) {
        d[i] = static_cast<BYTE>(op(std::uint64_t{d[i]}, std::uint64_t{s[i]}));
    }
}

#if defined(__SSE2__)
using Vec = __m128i;
#define TALVO_VEC_OP(expr) [](Vec a, Vec b) { return expr; }
#else
using Vec = int;
#define TALVO_VEC_OP(expr) [](Vec a, Vec) { return a; }
#endif

// Same-format rows at byte granularity: returns false when the rop has no fast path.
bool same_format_row(BYTE rop3, BYTE* d, const BYTE* s, std::size_t n) {
    switch (rop3) {
    case kSrcCopy:
        std::memmove(d, s, n);
        return true;
    case kSrcAnd:
        bytes_op<kSrcAnd>(
            d, s, n, [](std::uint64_t a, std::uint64_t b) { return a & b; },
            TALVO_VEC_OP(_mm_and_si128(a, b)));
        return true;
    case kSrcPaint:
        bytes_op<kSrcPaint>(
            d, s, n, [](std::uint64_t a, std::uint64_t b) { return a | b; },
            TALVO_VEC_OP(_mm_or_si128(a, b)));
        return true;
    case kSrcInvert:
        bytes_op<kSrcInvert>(
            d, s, n, [](std::uint64_t a, std::uint64_t b) { return a ^ b; },
            TALVO_VEC_OP(_mm_xor_si128(a, b)));
        return true;
    case kSrcAndNot:
        bytes_op<kSrcAndNot>(
            d, s, n, [](std::uint64_t a, std::uint64_t b) { return a & ~b; },
            TALVO_VEC_OP(_mm_andnot_si128(b, a)));
        return true;
    default:
        return false;
    }
}

// Colour to monochrome by key, 1:1, SRCCOPY: the mask step of transparent drawing.
constexpr std::array<BYTE, 256> make_reverse() {
    std::array<BYTE, 256> t{};
    for (int i = 0; i < 256; ++i) {
        int r = 0;
        for (int b = 0; b < 8; ++b) {
            r |= ((i >> b) & 1) << (7 - b);
        }
        t[i] = static_cast<BYTE>(r);
    }
    return t;
}
constexpr std::array<BYTE, 256> kReverse = make_reverse();

template <int Bytes> DWORD load_pixel(const BYTE* s, int k) {
    if constexpr (Bytes == 4) {
        DWORD v;
        std::memcpy(&v, s + 4 * k, 4);
        return v;
    } else if constexpr (Bytes == 2) {
        return static_cast<DWORD>(s[2 * k]) | (static_cast<DWORD>(s[2 * k + 1]) << 8);
    } else if constexpr (Bytes == 3) {
        return static_cast<DWORD>(s[3 * k]) | (static_cast<DWORD>(s[3 * k + 1]) << 8) |
               (static_cast<DWORD>(s[3 * k + 2]) << 16);
    } else {
        return s[k];
    }
}

// Eight key comparisons as one byte, leftmost pixel in bit 7.
template <int Bytes> BYTE mask_byte(const BYTE* s, DWORD key) {
#if defined(__SSE2__)
    if constexpr (Bytes == 4) {
        const __m128i k = _mm_set1_epi32(static_cast<int>(key));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const int lo = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, k)));
        const int hi = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(b, k)));
        return kReverse[static_cast<unsigned>(lo | (hi << 4))];
    } else if constexpr (Bytes == 2) {
        const __m128i k = _mm_set1_epi16(static_cast<short>(key));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i eq = _mm_cmpeq_epi16(a, k);
        const int bits = _mm_movemask_epi8(_mm_packs_epi16(eq, eq)) & 0xFF;
        return kReverse[static_cast<unsigned>(bits)];
    }
#endif
    unsigned byte = 0;
    for (int b = 0; b < 8; ++b) {
        byte = (byte << 1) | (load_pixel<Bytes>(s, b) == key ? 1u : 0u);
    }
    return static_cast<BYTE>(byte);
}

#if TALVO_BLIT_AVX2
// Thirty-two key comparisons per step into four output bytes; returns the pixels done.
template <int Bytes>
__attribute__((target("avx2"))) int mask_avx2(const BYTE* s, DWORD key, BYTE* out, int n) {
    // Reverses each run of eight bytes so that movemask puts the leftmost pixel in bit 7.
    const __m256i rev = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6,
                                         5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i k32 = _mm256_set1_epi32(static_cast<int>(key));
    const __m256i k16 = _mm256_set1_epi16(static_cast<short>(key));
    int k = 0;
    for (; k + 32 <= n; k += 32, s += 32 * Bytes, out += 4) {
        __m256i bytes;
        if constexpr (Bytes == 4) {
            const __m256i* p = reinterpret_cast<const __m256i*>(s);
            const __m256i a = _mm256_cmpeq_epi32(_mm256_loadu_si256(p), k32);
            const __m256i b = _mm256_cmpeq_epi32(_mm256_loadu_si256(p + 1), k32);
            const __m256i c = _mm256_cmpeq_epi32(_mm256_loadu_si256(p + 2), k32);
            const __m256i d = _mm256_cmpeq_epi32(_mm256_loadu_si256(p + 3), k32);
            // Packing works within 128-bit lanes: put the four-pixel groups back in order.
            bytes = _mm256_permutevar8x32_epi32(
                _mm256_packs_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d)),
                _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        } else {
            const __m256i* p = reinterpret_cast<const __m256i*>(s);
            const __m256i a = _mm256_cmpeq_epi16(_mm256_loadu_si256(p), k16);
            const __m256i b = _mm256_cmpeq_epi16(_mm256_loadu_si256(p + 1), k16);
            bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
        }
        const unsigned bits =
            static_cast<unsigned>(_mm256_movemask_epi8(_mm256_shuffle_epi8(bytes, rev)));
        out[0] = static_cast<BYTE>(bits);
        out[1] = static_cast<BYTE>(bits >> 8);
        out[2] = static_cast<BYTE>(bits >> 16);
        out[3] = static_cast<BYTE>(bits >> 24);
    }
    return k;
}
#endif

template <int Bytes> void mask_row(const BYTE* s, DWORD key, BYTE* d, int x0, int n) {
    auto put = [&](int k, bool on) {
        const int x = x0 + k;
        const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
        d[x >> 3] = static_cast<BYTE>(on ? (d[x >> 3] | bit) : (d[x >> 3] & ~bit));
    };
    int k = 0;
    while (k < n && ((x0 + k) & 7) != 0) {
        put(k, load_pixel<Bytes>(s, k) == key);
        ++k;
    }
    BYTE* out = d + ((x0 + k) >> 3);
#if TALVO_BLIT_AVX2
    if constexpr (Bytes == 4 || Bytes == 2) {
        if (n - k >= 32 && have_avx2()) {
            const int done =
                mask_avx2<Bytes>(s + static_cast<std::size_t>(k) * Bytes, key, out, n - k);
            k += done;
            out += done / 8;
        }
    }
#endif
#if defined(__SSE2__)
    if constexpr (Bytes == 4 || Bytes == 2) {
        // Sixteen pixels at a time: comparisons packed down to one bit each.
        const __m128i k32 = _mm_set1_epi32(static_cast<int>(key));
        const __m128i k16 = _mm_set1_epi16(static_cast<short>(key));
        for (; k + 16 <= n; k += 16) {
            const BYTE* p = s + static_cast<std::size_t>(k) * Bytes;
            __m128i lo, hi;
            if constexpr (Bytes == 4) {
                auto eq = [&](int off) {
                    return _mm_cmpeq_epi32(
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + off)), k32);
                };
                lo = _mm_packs_epi32(eq(0), eq(16));
                hi = _mm_packs_epi32(eq(32), eq(48));
            } else {
                lo = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k16);
                hi =
                    _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), k16);
            }
            const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi)));
            *out++ = kReverse[bits & 0xFF];
            *out++ = kReverse[bits >> 8];
        }
    }
#endif
    for (; k + 8 <= n; k += 8) {
        *out++ = mask_byte<Bytes>(s + static_cast<std::size_t>(k) * Bytes, key);
    }
    for (; k < n; ++k) {
        put(k, load_pixel<Bytes>(s, k) == key);
    }
}

void fill_row(BYTE* d, int bpp, DWORD v, int n) {
    switch (bpp) {
    case 8:
        std::memset(d, static_cast<int>(v & 0xFF), static_cast<std::size_t>(n));
        break;
    case 16: {
        const std::uint16_t w = static_cast<std::uint16_t>(v);
        for (int k = 0; k < n; ++k) {
            std::memcpy(d + 2 * k, &w, 2);
        }
        break;
    }
    case 24:
        for (int k = 0; k < n; ++k) {
            d[3 * k] = static_cast<BYTE>(v);
            d[3 * k + 1] = static_cast<BYTE>(v >> 8);
            d[3 * k + 2] = static_cast<BYTE>(v >> 16);
        }
        break;
    default:
        for (int k = 0; k < n; ++k) {
            std::memcpy(d + 4 * k, &v, 4);
        }
        break;
    }
}

struct BlitRequest {
    Dc* dst_dc;
    long long dx, dy, dw, dh; // logical coordinates of the destination DC
    Dc* src_dc;               // null when the rop needs no source
    long long sx, sy, sw, sh;
    DWORD rop;
    const Brush* brush; // null: the DC's selected brush
};

// ---- 1:1 blits between two surfaces ---------------------------------------------------------
// What sprite drawing calls most, often on small bitmaps where the cost per call and per row
// counts as much as the pixels: the clip is one interval per axis, and the loop over the rows
// is chosen once per call.

// The visible part of [d, d + len) on the destination and [s, s + len) on the source.
struct Span {
    int dst = 0;
    int src = 0;
    int count = 0;
};

void clip_span(long long d, long long len, long long s, long dclip0, long dclip1, long sclip0,
               long sclip1, Span& out) {
    const long long k0 = std::max({0LL, dclip0 - d, sclip0 - s});
    const long long k1 = std::min({len, dclip1 - d, sclip1 - s});
    if (k1 > k0) {
        out.count = static_cast<int>(k1 - k0);
        out.dst = static_cast<int>(d + k0);
        out.src = static_cast<int>(s + k0);
    }
}

template <BYTE Rop>
void rows_op(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch, std::size_t n,
             int rows) {
    for (int k = 0; k < rows; ++k, d += dpitch, s += spitch) {
        same_format_row(Rop, d, s, n);
    }
}

template <int Bytes>
void mask_rows(const BYTE* s, std::ptrdiff_t spitch, DWORD key, BYTE* d, std::ptrdiff_t dpitch,
               int x0, int n, int rows) {
#if TALVO_BLIT_AVX2
    if constexpr (Bytes == 4 || Bytes == 2) {
        // Byte-aligned rows of 32 pixels or more: the whole rectangle in one loop, the short
        // tail of each row (if any) through mask_row.
        if ((x0 & 7) == 0 && n >= 32 && have_avx2()) {
            const int body = n & ~31;
            BYTE* out = d + (x0 >> 3);
            for (int k = 0; k < rows; ++k, d += dpitch, out += dpitch, s += spitch) {
                mask_avx2<Bytes>(s, key, out, body);
                if (body < n) {
                    mask_row<Bytes>(s + static_cast<std::size_t>(body) * Bytes, key, d, x0 + body,
                                    n - body);
                }
            }
            return;
        }
    }
#endif
    for (int k = 0; k < rows; ++k, d += dpitch, s += spitch) {
        mask_row<Bytes>(s, key, d, x0, n);
    }
}

// False, having done nothing, when the blit needs the general engine: conversions other than
// the colour-to-monochrome key, rops without a byte-wise loop.
bool direct_blit(const BlitRequest& r, BYTE rop3, const Target& dt, const Target& st) {
    Bitmap& D = *dt.surface;
    const Bitmap& S = *st.surface;
    const bool bytewise = D.bpp >= 8 &&
                          (rop3 == kSrcCopy || rop3 == kSrcAnd || rop3 == kSrcPaint ||
                           rop3 == kSrcInvert || rop3 == kSrcAndNot) &&
                          same_layout(S, D);
    // The key conversion applies to a colour source without a colour table (see Converter).
    const bool mask = !bytewise && rop3 == kSrcCopy && D.bpp == 1 && !D.is_dib_section &&
                      S.bpp >= 8 && !S.format->indexed;
    if (!bytewise && !mask) {
        return false;
    }
    Span x, y;
    clip_span(r.dx + dt.origin_x, r.dw, r.sx + st.origin_x, dt.clip.left, dt.clip.right,
              st.clip.left, st.clip.right, x);
    clip_span(r.dy + dt.origin_y, r.dh, r.sy + st.origin_y, dt.clip.top, dt.clip.bottom,
              st.clip.top, st.clip.bottom, y);
    if (x.count == 0 || y.count == 0) {
        return true;
    }
    const std::size_t sx = static_cast<std::size_t>(x.src);
    BYTE* drow = D.row(y.dst);
    const BYTE* srow = S.row(y.src);
    if (mask) {
        const DWORD key = color_to_pixel(r.src_dc, S, r.src_dc->state.bk_color);
        switch (S.bpp) {
        case 32:
            mask_rows<4>(srow + 4 * sx, S.pitch(), key, drow, D.pitch(), x.dst, x.count, y.count);
            break;
        case 24:
            mask_rows<3>(srow + 3 * sx, S.pitch(), key, drow, D.pitch(), x.dst, x.count, y.count);
            break;
        case 16:
            mask_rows<2>(srow + 2 * sx, S.pitch(), key, drow, D.pitch(), x.dst, x.count, y.count);
            break;
        default:
            mask_rows<1>(srow + sx, S.pitch(), key, drow, D.pitch(), x.dst, x.count, y.count);
            break;
        }
        return true;
    }
    const std::size_t bytes_pp = static_cast<std::size_t>(D.bpp / 8);
    std::size_t n = static_cast<std::size_t>(x.count) * bytes_pp;
    int rows = y.count;
    drow += static_cast<std::size_t>(x.dst) * bytes_pp;
    srow += sx * bytes_pp;
    if (n == static_cast<std::size_t>(S.stride) && n == static_cast<std::size_t>(D.stride) &&
        S.pitch() == D.pitch()) {
        // Whole rows with no padding, in the same order: one block from the lowest address.
        if (D.pitch() < 0) {
            drow += D.pitch() * (rows - 1);
            srow += S.pitch() * (rows - 1);
        }
        n *= static_cast<std::size_t>(rows);
        rows = 1;
    }
    switch (rop3) {
    case kSrcCopy:
        rows_op<kSrcCopy>(drow, D.pitch(), srow, S.pitch(), n, rows);
        break;
    case kSrcAnd:
        rows_op<kSrcAnd>(drow, D.pitch(), srow, S.pitch(), n, rows);
        break;
    case kSrcPaint:
        rows_op<kSrcPaint>(drow, D.pitch(), srow, S.pitch(), n, rows);
        break;
    case kSrcInvert:
        rows_op<kSrcInvert>(drow, D.pitch(), srow, S.pitch(), n, rows);
        break;
    default:
        rows_op<kSrcAndNot>(drow, D.pitch(), srow, S.pitch(), n, rows);
        break;
    }
    return true;
}

void combine_spans(const BlitRequest& r, Converter& conv, const Bitmap& S, Bitmap& D,
                   const Axis& ax, const Axis& ay, bool use_and, bool use_pat, const Pattern& pat,
                   RopRowFn fn);

bool blit(const BlitRequest& r) {
    const BYTE rop3 = rop3_of(r.rop);
    const bool use_src = rop_uses_src(rop3);
    const bool use_pat = rop_uses_pat(rop3);
    Target dt;
    if (r.dst_dc == nullptr || !resolve_target(*r.dst_dc, dt)) {
        return false;
    }
    Target st;
    if (use_src && (r.src_dc == nullptr || !resolve_target(*r.src_dc, st))) {
        return false;
    }
    if (r.dw == 0 || r.dh == 0 || (use_src && (r.sw == 0 || r.sh == 0))) {
        return true;
    }
    if (use_src && !use_pat && r.dw > 0 && r.dh > 0 && r.sw == r.dw && r.sh == r.dh &&
        st.surface != dt.surface && direct_blit(r, rop3, dt, st)) {
        return true;
    }
    Pattern pat;
    if (use_pat) {
        if (!make_pattern(*r.dst_dc, dt,
                          r.brush != nullptr ? r.brush : lookup_brush(r.dst_dc->state.brush),
                          pat)) {
            return false;
        }
        if (pat.null) {
            return true; // a null brush draws nothing
        }
    }

    // BLACKONWHITE and WHITEONBLACK keep dark or light detail when shrinking by combining
    // the raw values of every source pixel a destination pixel covers (AND or OR).
    const int mode = r.dst_dc->state.stretch_mode;
    const bool spans = use_src && (mode == BLACKONWHITE || mode == WHITEONBLACK);
    Axis ax, ay;
    map_axis(r.dx + dt.origin_x, r.dw, r.sx + st.origin_x, r.sw, dt.clip.left, dt.clip.right,
             st.clip.left, st.clip.right, use_src, spans, ax);
    map_axis(r.dy + dt.origin_y, r.dh, r.sy + st.origin_y, r.sh, dt.clip.top, dt.clip.bottom,
             st.clip.top, st.clip.bottom, use_src, spans, ay);
    const int n = ax.count;
    const int rows = ay.count;
    if (n == 0 || rows == 0) {
        return true;
    }

    Bitmap& D = *dt.surface;
    const int x0 = ax.start;
    const std::size_t bytes_pp = static_cast<std::size_t>(D.bpp / 8);
    std::vector<DWORD> sbuf, dbuf, pbuf;
    if (use_pat) {
        pbuf.resize(n);
        if (pat.values.size() == 1) {
            pat.row(0, x0, n, pbuf.data());
        }
    }

    if (!use_src) {
        // Pattern and destination only.
        const RopRowFn fn = rop_row(rop3);
        const bool solid = pat.values.size() == 1;
        if (rop3 == kPatCopy && solid && D.bpp >= 8) {
            for (int k = 0; k < rows; ++k) {
                fill_row(D.row(ay.start + k) + x0 * bytes_pp, D.bpp, pat.values[0], n);
            }
            return true;
        }
        dbuf.resize(n);
        sbuf.assign(n, 0);
        if (!use_pat) {
            pbuf.assign(n, 0);
        }
        for (int k = 0; k < rows; ++k) {
            const int y = ay.start + k;
            BYTE* drow = D.row(y);
            if (use_pat && !solid) {
                pat.row(y, x0, n, pbuf.data());
            }
            for (int i = 0; i < n; ++i) {
                dbuf[i] = D.format->read(drow, x0 + i);
            }
            fn(dbuf.data(), sbuf.data(), pbuf.data(), n);
            for (int i = 0; i < n; ++i) {
                D.format->write(drow, x0 + i, dbuf[i]);
            }
        }
        return true;
    }

    Bitmap& S = *st.surface;
    Converter conv(S, r.src_dc, D, r.dst_dc);
    const bool same_surface = &S == &D;
    // Overlapping copies within one surface work as if the source were read first.
    const bool bottom_up = same_surface && ay.at(0) < ay.start;
    const bool bytewise = ax.contiguous && conv.kind() == Converter::identity && D.bpp >= 8 &&
                          !use_pat && (!same_surface || rop3 == kSrcCopy);
    const bool mask = ax.contiguous && conv.kind() == Converter::key && D.bpp == 1 &&
                      rop3 == kSrcCopy && S.bpp >= 8;
    const std::size_t row_bytes = static_cast<std::size_t>(n) * bytes_pp;

    if (bytewise && ay.contiguous && !same_surface &&
        row_bytes == static_cast<std::size_t>(S.stride) &&
        row_bytes == static_cast<std::size_t>(D.stride) && S.pitch() == D.pitch()) {
        // Whole rows with no padding, in the same order: one block.
        const int top = D.pitch() > 0 ? ay.start : ay.start + rows - 1;
        const int src_top = D.pitch() > 0 ? ay.src_start : ay.src_start + rows - 1;
        if (same_format_row(rop3, D.row(top), S.row(src_top), row_bytes * rows)) {
            return true;
        }
    }

    const RopRowFn fn = rop_row(rop3);
    if (!ax.first.empty() || !ay.first.empty()) {
        combine_spans(r, conv, S, D, ax, ay, mode == BLACKONWHITE, use_pat, pat, fn);
        return true;
    }
    std::vector<int> xs;
    if (!bytewise && !mask) {
        sbuf.resize(n);
        dbuf.resize(n);
        if (ax.contiguous) {
            xs.resize(n);
            for (int i = 0; i < n; ++i) {
                xs[i] = ax.src_start + i;
            }
        }
    }
    const int* xmap = ax.contiguous ? xs.data() : ax.src.data();

    for (int k = 0; k < rows; ++k) {
        const int idx = bottom_up ? rows - 1 - k : k;
        const int y = ay.start + idx;
        const BYTE* srow = S.row(ay.at(idx));
        BYTE* drow = D.row(y);
        if (bytewise && same_format_row(rop3, drow + x0 * bytes_pp, srow + ax.src_start * bytes_pp,
                                        row_bytes)) {
            continue;
        }
        if (mask) {
            const std::size_t sx = static_cast<std::size_t>(ax.src_start);
            switch (S.bpp) {
            case 32:
                mask_row<4>(srow + 4 * sx, conv.key_value(), drow, x0, n);
                break;
            case 24:
                mask_row<3>(srow + 3 * sx, conv.key_value(), drow, x0, n);
                break;
            case 16:
                mask_row<2>(srow + 2 * sx, conv.key_value(), drow, x0, n);
                break;
            default:
                mask_row<1>(srow + sx, conv.key_value(), drow, x0, n);
                break;
            }
            continue;
        }
        if (sbuf.empty()) {
            // A rop without a byte-wise fast path on otherwise byte-wise rows.
            sbuf.resize(n);
            dbuf.resize(n);
            xs.resize(n);
            for (int i = 0; i < n; ++i) {
                xs[i] = ax.src_start + i;
            }
            xmap = xs.data();
        }
        conv.row(srow, xmap, n, sbuf.data());
        if (use_pat && pat.values.size() != 1) {
            pat.row(y, x0, n, pbuf.data());
        }
        if (rop3 != kSrcCopy) {
            for (int i = 0; i < n; ++i) {
                dbuf[i] = D.format->read(drow, x0 + i);
            }
            fn(dbuf.data(), sbuf.data(), use_pat ? pbuf.data() : sbuf.data(), n);
        } else {
            dbuf.swap(sbuf);
        }
        for (int i = 0; i < n; ++i) {
            D.format->write(drow, x0 + i, dbuf[i]);
        }
    }
    return true;
}

// The shrinking path of BLACKONWHITE / WHITEONBLACK: each destination pixel gets the AND / OR
// of the raw source values in its span, converted like any other source value.
void combine_spans(const BlitRequest& r, Converter& conv, const Bitmap& S, Bitmap& D,
                   const Axis& ax, const Axis& ay, bool use_and, bool use_pat, const Pattern& pat,
                   RopRowFn fn) {
    (void)r;
    const int n = ax.count;
    std::vector<DWORD> acc(n), sbuf(n), dbuf(n), pbuf(n, 0);
    if (use_pat && pat.values.size() == 1) {
        pat.row(0, ax.start, n, pbuf.data());
    }
    const auto read = S.format->read;
    for (int k = 0; k < ay.count; ++k) {
        const int y1 = ay.at(k);
        const int y0 = ay.first.empty() ? y1 : ay.first[static_cast<std::size_t>(k)];
        for (int sy = y0; sy <= y1; ++sy) {
            const BYTE* srow = S.row(sy);
            for (int i = 0; i < n; ++i) {
                const int x1 = ax.at(i);
                const int x0 = ax.first.empty() ? x1 : ax.first[static_cast<std::size_t>(i)];
                DWORD v = read(srow, x0);
                for (int sx = x0 + 1; sx <= x1; ++sx) {
                    v = use_and ? (v & read(srow, sx)) : (v | read(srow, sx));
                }
                acc[i] = sy == y0 ? v : (use_and ? (acc[i] & v) : (acc[i] | v));
            }
        }
        conv.values(acc.data(), n, sbuf.data());
        const int y = ay.start + k;
        BYTE* drow = D.row(y);
        if (use_pat && pat.values.size() != 1) {
            pat.row(y, ax.start, n, pbuf.data());
        }
        for (int i = 0; i < n; ++i) {
            dbuf[i] = D.format->read(drow, ax.start + i);
        }
        fn(dbuf.data(), sbuf.data(), pbuf.data(), n);
        for (int i = 0; i < n; ++i) {
            D.format->write(drow, ax.start + i, dbuf[i]);
        }
    }
}

} // namespace

bool fill_rect(Dc& dc, const RECT& rect, const Brush& brush) {
    BlitRequest r{&dc,
                  rect.left,
                  rect.top,
                  static_cast<long long>(rect.right) - rect.left,
                  static_cast<long long>(rect.bottom) - rect.top,
                  nullptr,
                  0,
                  0,
                  0,
                  0,
                  PATCOPY,
                  &brush};
    // An inverted rectangle fills like PatBlt with the negative extent, as Windows does.
    return blit(r);
}

} // namespace platform::gdi

using namespace platform::gdi;

extern "C" {

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    BlitRequest r{lookup_dc(hdc), x, y, cx, cy, lookup_dc(hdcSrc), x1, y1, cx, cy, rop, nullptr};
    return blit(r) ? TRUE : FALSE;
}

BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                       int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) {
    BlitRequest r{lookup_dc(hdcDest),
                  xDest,
                  yDest,
                  wDest,
                  hDest,
                  lookup_dc(hdcSrc),
                  xSrc,
                  ySrc,
                  wSrc,
                  hSrc,
                  rop,
                  nullptr};
    return blit(r) ? TRUE : FALSE;
}

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    if (rop_uses_src(rop3_of(rop))) {
        return FALSE;
    }
    BlitRequest r{lookup_dc(hdc), x, y, w, h, nullptr, 0, 0, 0, 0, rop, nullptr};
    return blit(r) ? TRUE : FALSE;
}

} // extern "C"
