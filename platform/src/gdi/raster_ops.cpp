// The ternary raster operations: bit i of the rop code is the result for pattern, source and
// destination bits (P << 2 | S << 1 | D) = i. Each code gets its own loop so that the compiler
// reduces the minterms to a short expression.
#include "raster_ops.h"

#include <array>
#include <utility>

namespace platform::gdi {
namespace {

template <int R> inline DWORD eval(DWORD p, DWORD s, DWORD d) {
    DWORD r = 0;
    if constexpr ((R & 0x01) != 0) {
        r |= ~p & ~s & ~d;
    }
    if constexpr ((R & 0x02) != 0) {
        r |= ~p & ~s & d;
    }
    if constexpr ((R & 0x04) != 0) {
        r |= ~p & s & ~d;
    }
    if constexpr ((R & 0x08) != 0) {
        r |= ~p & s & d;
    }
    if constexpr ((R & 0x10) != 0) {
        r |= p & ~s & ~d;
    }
    if constexpr ((R & 0x20) != 0) {
        r |= p & ~s & d;
    }
    if constexpr ((R & 0x40) != 0) {
        r |= p & s & ~d;
    }
    if constexpr ((R & 0x80) != 0) {
        r |= p & s & d;
    }
    return r;
}

template <int R> void row(DWORD* d, const DWORD* s, const DWORD* p, int n) {
    for (int i = 0; i < n; ++i) {
        d[i] = eval<R>(p[i], s[i], d[i]);
    }
}

template <std::size_t... I>
constexpr std::array<RopRowFn, 256> make_table(std::index_sequence<I...>) {
    return {&row<static_cast<int>(I)>...};
}

constexpr std::array<RopRowFn, 256> kRows = make_table(std::make_index_sequence<256>{});

} // namespace

RopRowFn rop_row(BYTE rop3) {
    return kRows[rop3];
}

} // namespace platform::gdi
