// The 256 ternary raster operations on rows of raw pixel values.
#pragma once

#include <windows.h>

namespace platform::gdi {

// d[i] = rop(p[i], s[i], d[i]) bitwise, for the rop code in bits 16..23 of a Win32 ROP.
using RopRowFn = void (*)(DWORD* d, const DWORD* s, const DWORD* p, int n);
RopRowFn rop_row(BYTE rop3);

inline BYTE rop3_of(DWORD rop) {
    return static_cast<BYTE>((rop >> 16) & 0xFF);
}
// Whether the result depends on the source, the pattern, the destination.
inline bool rop_uses_src(BYTE r) {
    return ((r >> 2) ^ r) & 0x33;
}
inline bool rop_uses_pat(BYTE r) {
    return ((r >> 4) ^ r) & 0x0F;
}
inline bool rop_uses_dst(BYTE r) {
    return ((r >> 1) ^ r) & 0x55;
}

} // namespace platform::gdi
