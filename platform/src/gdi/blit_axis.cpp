// Which source pixel each destination pixel shows: clipping to both surfaces, mirroring and
// the stretch picks.
#include "blit_internal.h"

#include <algorithm>
#include <climits>

namespace platform::gdi {

// Maps one axis. A negative extent covers the coordinate and the pixels before it (width -4
// at x covers x - 3 to x, as Windows draws a mirrored rectangle); opposite signs on the two
// sides mirror. Stretching picks for destination pixel k the source pixel
//   shrinking:  ((2k + 2) * S - D) / (2D), the last pixel of the span that k covers
//   enlarging:  ((2k + 1) * S - 1) / (2D)
// (S source and D destination extents), which is what Windows draws; a mirrored k takes the
// pick of D - 1 - k.
void map_axis_general(long long d, long long dlen, long long s, long long slen, long dclip0,
                      long dclip1, long sclip0, long sclip1, bool has_src, bool spans, Axis& out) {
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
    if (slen == dlen && !mirror) {
        map_axis_1to1(d, dlen, s, dclip0, dclip1, sclip0, sclip1, out);
        return;
    }
    out.start = 0;
    out.src_start = 0;
    out.src.clear();
    out.first.clear();
    const long long k0 = std::max<long long>(0, dclip0 - d);
    const long long k1 = std::min<long long>(dlen, dclip1 - d);
    out.contiguous = false;
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

} // namespace platform::gdi
