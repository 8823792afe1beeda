// What the blit files share: the request, the mapping of destination pixels to source pixels,
// the conversion of source and brush into destination raw values, the fast-path table and the
// general engine.
//
// blit.cpp resolves a request and asks the fast-path table (blit_fast.cpp) for a row that fits;
// what no row takes goes to the general engine (blit_general.cpp), which handles every format
// pair, rop, stretch and overlap pixel by pixel.
#pragma once

#include "blit_kernels.h"
#include "internal/gdi_internal.h"
#include "raster_ops.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace platform::gdi {

constexpr BYTE kSrcCopy = 0xCC;
constexpr BYTE kSrcAnd = 0x88;
constexpr BYTE kSrcPaint = 0xEE;
constexpr BYTE kSrcInvert = 0x66;
constexpr BYTE kSrcAndNot = 0x22; // 0x00220326: D AND NOT S
constexpr BYTE kPatCopy = 0xF0;

// The byte-wise step a rop is, if it is one of them.
bool row_op_of(BYTE rop3, RowOp& op);

struct BlitRequest {
    Dc* dst_dc;
    long long dx, dy, dw, dh; // logical coordinates of the destination DC
    Dc* src_dc;               // null when the rop needs no source
    long long sx, sy, sw, sh;
    DWORD rop;
    const Brush* brush; // null: the DC's selected brush
};

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

// One axis of a 1:1 blit (extents equal and positive, or no source): the visible part is an
// interval on both sides.
inline void map_axis_1to1(long long d, long long len, long long s, long long dclip0,
                          long long dclip1, long long sclip0, long long sclip1, Axis& out) {
    const long long k0 = std::max({0LL, dclip0 - d, sclip0 - s});
    const long long k1 = std::min({len, dclip1 - d, sclip1 - s});
    const long long first = std::min(k0, k1);
    out.contiguous = true;
    out.count = k1 > k0 ? static_cast<int>(k1 - k0) : 0;
    out.start = static_cast<int>(d + first);
    out.src_start = static_cast<int>(s + first);
    out.src.clear();
    out.first.clear();
}

// Stretches, mirrors and blits without a source.
void map_axis_general(long long d, long long dlen, long long s, long long slen, long dclip0,
                      long dclip1, long sclip0, long sclip1, bool has_src, bool spans, Axis& out);

// Maps one axis: destination [d, d + dlen) from source [s, s + slen), clipped to both surfaces
// (without a source, only to the destination). `spans` asks for Axis::first when shrinking.
// Every member of `out` is set (the vectors emptied where not used). The plain copy of equal
// positive extents, which nearly every blit is, takes no detour through the general mapping.
inline void map_axis(long long d, long long dlen, long long s, long long slen, long dclip0,
                     long dclip1, long sclip0, long sclip1, bool has_src, bool spans, Axis& out) {
    if (has_src && dlen == slen && dlen > 0) {
        map_axis_1to1(d, dlen, s, dclip0, dclip1, sclip0, sclip1, out);
    } else {
        map_axis_general(d, dlen, s, slen, dclip0, dclip1, sclip0, sclip1, has_src, spans, out);
    }
}

// Same raw values mean the same colours: format, masks and colour table agree.
bool same_colour_table(const Bitmap& a, const Bitmap& b);
inline bool same_layout(const Bitmap& a, const Bitmap& b) {
    if (a.format != b.format) {
        return false;
    }
    if (a.format->indexed) {
        return same_colour_table(a, b);
    }
    return a.masks[0] == b.masks[0] && a.masks[1] == b.masks[1] && a.masks[2] == b.masks[2];
}

// Source raw values to destination raw values.
class Converter {
public:
    enum Kind { identity, table, key, direct, to_indexed };

    Converter(const Bitmap& src, const Dc* src_dc, const Bitmap& dst, const Dc* dst_dc);

    Kind kind() const { return kind_; }
    // Raw source values already read (the combining stretch modes).
    void values(const DWORD* in, int n, DWORD* out);
    // Source pixels xs[0..n) of a row.
    void row(const BYTE* src_row, const int* xs, int n, DWORD* out);

private:
    DWORD convert(DWORD v);
    template <class F> void build_table(F f);

    const Bitmap& s_;
    const Bitmap& d_;
    const Dc* dst_dc_;
    Kind kind_ = identity;
    DWORD key_ = 0;
    DWORD lut_[256]; // filled for the indices the source can hold
    std::unordered_map<DWORD, DWORD> cache_;
};

// The raw value a monochrome device bitmap's 0 and 1 become on a colour destination (its DC's
// text and background colours), and the source value a colour-to-monochrome blit makes 1 (the
// source DC's background colour).
DWORD mono_zero_value(const Dc* dst_dc, const Bitmap& dst);
DWORD mono_one_value(const Dc* dst_dc, const Bitmap& dst);
DWORD mono_key_value(const Dc* src_dc, const Bitmap& src);

// The brush as raw destination values, tiled from the DC's brush origin.
struct Pattern {
    bool null = false;
    int width = 1;
    int height = 1;
    int org_x = 0; // device coordinates where the pattern's (0,0) falls, within the first tile
    int org_y = 0;
    std::vector<DWORD> values;

    bool solid() const { return values.size() == 1; }
    void row(int y, int x0, int n, DWORD* out) const;
};
bool make_pattern(const Dc& dc, const Target& t, const Brush* brush, Pattern& out);

// A blit resolved to surfaces and mapped: what both the fast paths and the engine work from.
struct Blit {
    const BlitRequest* request;
    BYTE rop3;
    bool use_src;
    bool use_pat;
    Bitmap* dst;
    const Bitmap* src; // null without a source
    Axis x, y;
    Pattern pat;
    // Overlapping blits within one surface work as if the source were read first.
    bool bottom_up() const { return src == dst && y.at(0) < y.start; }
};

// Off (tests only): every blit goes through the general engine.
extern bool blit_fast_paths;

// Runs the blit through the first fast path that fits it; false, having done nothing, when
// none does.
bool fast_blit(const Blit& b);
// The byte-wise path of two bitmaps of one layout at 8 bits and up, for a caller that has made
// its checks (a 1:1 blit, not within one bitmap).
void bytewise_blit(const Blit& b, RowOp op);
// A blit onto a copy that still waits, whose rows are those of `from`, made as the copy is: the
// monochrome expansion reads the destination's pixels from `from` and writes the copy in one
// pass, a byte-wise rop copies each row just before it reads it back, and the pixels outside
// the rectangle are copied as they are. Only 1:1 blits through those two paths; false, having
// done nothing, for any other.
bool fold_blit(const Blit& b, const Bitmap& from);
// Every blit, pixel by pixel.
void general_blit(const Blit& b);
// Records a straight copy into the whole of a new bitmap instead of making it, when it may
// wait (deferred_copy.cpp); false, having done nothing, otherwise.
bool defer_copy(const Blit& b);
// Runs a blit that reads its destination, a waiting copy, while the copy is made, and drops the
// record (deferred_copy.cpp); false, having done nothing, when the blit takes no path that can.
bool fold_copy(const Blit& b);

} // namespace platform::gdi
