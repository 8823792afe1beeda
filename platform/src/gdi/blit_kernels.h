// The row loops behind the blit fast paths, as sets of one loop per step (portable, SSE2, AVX2,
// AVX-512), and the portable loops themselves, which every vector set must equal byte for byte
// and which the vector sets call for the pixels their wide steps leave over.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::gdi {

// The byte-wise steps of masked drawing: d = op(d, s).
enum class RowOp { copy, and_, or_, xor_, and_not, count };
constexpr int kRowOps = static_cast<int>(RowOp::count);

// Each loop works on a rectangle: `rows` rows, each `pitch` bytes on from the one before (a
// negative pitch goes upwards), so that small sprites pay for one call, not one per row.
//
// d = op(d, s) over n bytes of each row (never RowOp::copy: that is memmove in every set).
using BytesFn = void (*)(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch,
                         std::size_t n, int rows);
// Colour to monochrome: bit x0 + k of each monochrome row d (bit 7 of a byte is its leftmost
// pixel) becomes 1 where source pixel k equals key, for k < n; other bits stay.
using MaskFn = void (*)(const BYTE* s, std::ptrdiff_t spitch, DWORD key, BYTE* d,
                        std::ptrdiff_t dpitch, int x0, int n, int rows);
// Monochrome to colour: pixel k of each row d becomes op(o, bit ? c1 : c0) for pixel k of row o
// and bit sx + k of the monochrome row s, k < n. Rows o are those of d itself, or the rows a
// copy of them would bring (a blit onto a copy that waits reads them from where they are).
using ExpandFn = void (*)(const BYTE* s, std::ptrdiff_t spitch, int sx, BYTE* d,
                          std::ptrdiff_t dpitch, const BYTE* o, std::ptrdiff_t opitch, int n,
                          int rows, DWORD c0, DWORD c1);

// Between the two 16-bit layouts: n pixels of each row d become the pixels of row s, 5-5-5
// to 5-6-5 or back.
using Convert16Fn = void (*)(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch,
                             std::size_t n, int rows);

// n bytes of each row d become those of row s with only the bits of `mask8` kept: a pixel's mask
// repeated over eight bytes, starting at the first byte of each row (the DIB transfers clear the
// unused top byte of 32-bit pixels and the top bit of 5-5-5 words this way).
using MaskedCopyFn = void (*)(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch,
                              std::size_t n, int rows, std::uint64_t mask8);

struct BlitKernels {
    const char* name;
    BytesFn bytes[kRowOps];     // by RowOp; [copy] unused
    MaskFn mask[4];             // by source bytes per pixel - 1
    ExpandFn expand16[kRowOps]; // by RowOp
    ExpandFn expand32[kRowOps];
    Convert16Fn to565; // from 5-5-5
    Convert16Fn to555; // from 5-6-5
    MaskedCopyFn copy_masked;
};

// Every set this processor runs, portable first and the fastest last; the one in use is the
// last unless a test forced another.
const BlitKernels& portable_blit_kernels();
const BlitKernels* sse2_blit_kernels();   // null without the instructions
const BlitKernels* avx2_blit_kernels();   // null without the instructions
const BlitKernels* avx512_blit_kernels(); // null without the instructions (F and BW)

// The set in use, null until first asked for: every blit asks, so it is one load away.
extern const BlitKernels* g_blit_kernels;
const BlitKernels& choose_blit_kernels(); // sets g_blit_kernels
inline const BlitKernels& blit_kernels() {
    return g_blit_kernels != nullptr ? *g_blit_kernels : choose_blit_kernels();
}

// ---- The portable loops ------------------------------------------------------------------------

namespace kernels {

template <RowOp Op, class T> inline T apply(T d, T s) {
    if constexpr (Op == RowOp::copy) {
        return s;
    } else if constexpr (Op == RowOp::and_) {
        return d & s;
    } else if constexpr (Op == RowOp::or_) {
        return d | s;
    } else if constexpr (Op == RowOp::xor_) {
        return d ^ s;
    } else {
        return d & ~s;
    }
}

template <RowOp Op> inline void bytes_row(BYTE* d, const BYTE* s, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, d + i, 8);
        std::memcpy(&b, s + i, 8);
        a = apply<Op>(a, b);
        std::memcpy(d + i, &a, 8);
    }
    for (; i < n; ++i) {
        d[i] = apply<Op>(d[i], s[i]);
    }
}

template <int Bytes> inline DWORD load(const BYTE* p) {
    DWORD v = 0;
    std::memcpy(&v, p, Bytes); // little-endian, as every target of this library
    return v;
}
template <int Bytes> inline void store(BYTE* p, DWORD v) {
    std::memcpy(p, &v, Bytes);
}

inline void put_bit(BYTE* d, int x, bool on) {
    const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
    d[x >> 3] = static_cast<BYTE>(on ? (d[x >> 3] | bit) : (d[x >> 3] & ~bit));
}
inline bool get_bit(const BYTE* s, int x) {
    return ((s[x >> 3] >> (7 - (x & 7))) & 1) != 0;
}

template <int Bytes> inline void mask_row(const BYTE* s, DWORD key, BYTE* d, int x0, int n) {
    int k = 0;
    for (; k < n && ((x0 + k) & 7) != 0; ++k) {
        put_bit(d, x0 + k, load<Bytes>(s + k * Bytes) == key);
    }
    BYTE* out = d + ((x0 + k) >> 3);
    for (; k + 8 <= n; k += 8) {
        unsigned byte = 0;
        for (int b = 0; b < 8; ++b) {
            byte = (byte << 1) | (load<Bytes>(s + (k + b) * Bytes) == key ? 1u : 0u);
        }
        *out++ = static_cast<BYTE>(byte);
    }
    for (; k < n; ++k) {
        put_bit(d, x0 + k, load<Bytes>(s + k * Bytes) == key);
    }
}

template <RowOp Op, int Bytes>
inline void expand_row(const BYTE* s, int sx, BYTE* d, const BYTE* o, int n, DWORD c0, DWORD c1) {
    for (int k = 0; k < n; ++k, d += Bytes, o += Bytes) {
        store<Bytes>(d, apply<Op>(load<Bytes>(o), get_bit(s, sx + k) ? c1 : c0));
    }
}

template <RowOp Op>
void bytes(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch, std::size_t n,
           int rows) {
    for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {
        bytes_row<Op>(d, s, n);
    }
}

template <int Bytes>
void mask(const BYTE* s, std::ptrdiff_t spitch, DWORD key, BYTE* d, std::ptrdiff_t dpitch, int x0,
          int n, int rows) {
    for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {
        mask_row<Bytes>(s, key, d, x0, n);
    }
}

template <RowOp Op, int Bytes>
void expand(const BYTE* s, std::ptrdiff_t spitch, int sx, BYTE* d, std::ptrdiff_t dpitch,
            const BYTE* o, std::ptrdiff_t opitch, int n, int rows, DWORD c0, DWORD c1) {
    for (int r = 0; r < rows; ++r, d += dpitch, o += opitch, s += spitch) {
        expand_row<Op, Bytes>(s, sx, d, o, n, c0, c1);
    }
}

// The colour of a 5-5-5 pixel in 5-6-5 and back, as going through 8-bit channels gives it: red
// and blue keep their five bits; green's five bits widen to six with the top bit repeated below
// them, and six narrow to five by dropping the lowest. The unused top bit of 5-5-5 is ignored.
inline WORD rgb555_to_565(WORD v) {
    return static_cast<WORD>(((v & 0x7FE0u) << 1) | ((v >> 4) & 0x20u) | (v & 0x1Fu));
}
inline WORD rgb565_to_555(WORD v) {
    return static_cast<WORD>(((v >> 1) & 0x7FE0u) | (v & 0x1Fu));
}

template <WORD (*F)(WORD)> inline void convert16_row(BYTE* d, const BYTE* s, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        WORD v;
        std::memcpy(&v, s + 2 * k, 2);
        v = F(v);
        std::memcpy(d + 2 * k, &v, 2);
    }
}

template <WORD (*F)(WORD)>
void convert16(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch, std::size_t n,
               int rows) {
    for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {
        convert16_row<F>(d, s, n);
    }
}

// Eight bytes a step, then byte by byte; the vector sets call this from a multiple of eight
// bytes into the row, where the mask's pattern starts again.
inline void copy_masked_row(BYTE* d, const BYTE* s, std::size_t n, std::uint64_t mask8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, s + i, 8);
        v &= mask8;
        std::memcpy(d + i, &v, 8);
    }
    for (; i < n; ++i) {
        d[i] = static_cast<BYTE>(s[i] & (mask8 >> (8 * (i % 8))));
    }
}

inline void copy_masked(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch,
                        std::size_t n, int rows, std::uint64_t mask8) {
    for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {
        copy_masked_row(d, s, n, mask8);
    }
}

// Each byte's bits in reverse order, eight bytes at once: a comparison mask with pixel k in
// bit k becomes monochrome bytes with the leftmost pixel in bit 7.
inline std::uint64_t reverse_bits_in_bytes(std::uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555u) | ((v & 0x5555555555555555u) << 1);
    v = ((v >> 2) & 0x3333333333333333u) | ((v & 0x3333333333333333u) << 2);
    return ((v >> 4) & 0x0F0F0F0F0F0F0F0Fu) | ((v & 0x0F0F0F0F0F0F0F0Fu) << 4);
}

} // namespace kernels
} // namespace platform::gdi
