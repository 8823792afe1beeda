// BitBlt, StretchBlt, PatBlt and the fill behind FillRect: resolve both contexts to surfaces,
// map the destination rectangle onto the source (clipped to both, so nothing outside either is
// ever touched), then take the first fast path that fits or else the general engine.
#include "internal/faults.h"
#include "blit_internal.h"

#include <cstring>
#include <iterator>

namespace platform::gdi {
namespace {

// A blit that writes every pixel of its destination without reading any.
bool overwrites(const Bitmap& d, const Blit& b) {
    return !rop_uses_dst(b.rop3) && b.src != &d && b.x.start == 0 && b.x.count == d.width &&
           b.y.start == 0 && b.y.count == d.height;
}

// Within one surface, rows that are stretched or mirrored cannot be taken in an order that reads
// each source row before it is written over (1:1 blits can: bottom-up or top-down). Such a blit
// reads a copy of the source rows it uses instead. False when memory for it runs out.
bool detach_source(Blit& b, std::unique_ptr<Bitmap>& copy) {
    const Bitmap& s = *b.src;
    int lo = s.height, hi = -1;
    for (int k = 0; k < b.y.count; ++k) {
        const int last = b.y.at(k);
        const int first = b.y.first.empty() ? last : b.y.first[static_cast<std::size_t>(k)];
        lo = std::min(lo, first);
        hi = std::max(hi, last);
    }
    copy = std::make_unique<Bitmap>();
    copy->owned = allocate_pixels(static_cast<std::size_t>(s.stride) * (hi - lo + 1), false);
    if (!copy->owned) {
        return false;
    }
    copy->memory = copy->owned.get();
    copy->width = s.width;
    copy->height = hi - lo + 1;
    copy->bpp = s.bpp;
    copy->stride = s.stride;
    copy->format = s.format;
    copy->is_dib_section = s.is_dib_section;
    copy->info = s.info;
    std::copy(std::begin(s.masks), std::end(s.masks), copy->masks);
    copy->colors = s.colors;
    for (int y = lo; y <= hi; ++y) {
        std::memcpy(copy->row(y - lo), s.row(y), static_cast<std::size_t>(s.stride));
    }
    for (int& v : b.y.src) {
        v -= lo;
    }
    for (int& v : b.y.first) {
        v -= lo;
    }
    b.src = copy.get();
    return true;
}

// The blit sprite drawing makes most: a rop on bytes, 1:1, between two settled bitmaps of one
// layout selected into memory contexts. It goes to its fast path without resolving the contexts
// as targets, the brush, the stretch mode or the walk through the fast paths, and does what the
// general way below does with it. False, having changed nothing, for any other blit.
bool plain_blit(const BlitRequest& r, Blit& b) {
    RowOp op;
    if (!blit_fast_paths || !row_op_of(rop3_of(r.rop), op) || r.dw != r.sw || r.dh != r.sh ||
        r.dw <= 0 || r.dh <= 0 || r.dst_dc == nullptr || r.src_dc == nullptr ||
        r.dst_dc->kind != DcKind::memory || r.src_dc->kind != DcKind::memory) {
        return false;
    }
    Bitmap* d = lookup_bitmap_as_is(r.dst_dc->state.bitmap);
    const Bitmap* s = lookup_bitmap_as_is(r.src_dc->state.bitmap);
    if (d == nullptr || s == nullptr || d == s || !d->settled() || !s->settled() || d->bpp < 8 ||
        !same_layout(*s, *d)) {
        return false;
    }
    map_axis_1to1(r.dx, r.dw, r.sx, 0, d->width, 0, s->width, b.x);
    map_axis_1to1(r.dy, r.dh, r.sy, 0, d->height, 0, s->height, b.y);
    if (b.x.count > 0 && b.y.count > 0) {
        b.request = &r;
        b.rop3 = rop3_of(r.rop);
        b.use_src = true;
        b.use_pat = false;
        b.dst = d;
        b.src = s;
        bytewise_blit(b, op);
    }
    return true;
}

bool blit(const BlitRequest& r) {
    // One resolved blit serves every call (the platform runs on one thread at a time): sprite
    // drawing makes many small blits, and clearing a new one each time costs more than a row.
    // map_axis and make_pattern set all of what they fill.
    static Blit b;
    if (plain_blit(r, b)) {
        return true;
    }
    b.request = &r;
    b.rop3 = rop3_of(r.rop);
    b.use_src = rop_uses_src(b.rop3);
    b.use_pat = rop_uses_pat(b.rop3);
    Target dt;
    if (r.dst_dc == nullptr || !resolve_target(*r.dst_dc, dt, Access::blit_dst)) {
        return false;
    }
    Target st;
    if (b.use_src && (r.src_dc == nullptr || !resolve_target(*r.src_dc, st, Access::blit_src))) {
        return false;
    }
    if (r.dw == 0 || r.dh == 0 || (b.use_src && (r.sw == 0 || r.sh == 0))) {
        return true;
    }
    if (b.use_pat) {
        const Brush* brush = r.brush != nullptr ? r.brush : lookup_brush(r.dst_dc->state.brush);
        if (!make_pattern(*r.dst_dc, dt, brush, b.pat)) {
            return false;
        }
        if (b.pat.null) {
            return true; // a null brush draws nothing
        }
    }
    // BLACKONWHITE and WHITEONBLACK keep dark or light detail when shrinking by combining
    // the raw values of every source pixel a destination pixel covers (AND or OR).
    const int mode = r.dst_dc->state.stretch_mode;
    const bool spans = b.use_src && (mode == BLACKONWHITE || mode == WHITEONBLACK);
    map_axis(r.dx + dt.origin_x, r.dw, r.sx + st.origin_x, r.sw, dt.clip.left, dt.clip.right,
             st.clip.left, st.clip.right, b.use_src, spans, b.x);
    map_axis(r.dy + dt.origin_y, r.dh, r.sy + st.origin_y, r.sh, dt.clip.top, dt.clip.bottom,
             st.clip.top, st.clip.bottom, b.use_src, spans, b.y);
    if (b.x.count == 0 || b.y.count == 0) {
        return true;
    }
    b.dst = dt.surface;
    b.src = b.use_src ? st.surface : nullptr;
    if (b.dst->blank && defer_copy(b)) {
        return true;
    }
    // A blit that reads a waiting copy makes it as it goes, reading the rows from where the copy
    // would bring them: one pass instead of two. It needs no memory, so it cannot stop part way
    // and needs no Overwrite scope.
    if (b.dst->waiting && !overwrites(*b.dst, b) && fold_copy(b)) {
        return true;
    }
    // A blank destination is cleared and a waiting copy made real before the blit, unless the
    // blit writes every pixel without reading any.
    if ((b.dst->blank || b.dst->waiting) && !overwrites(*b.dst, b)) {
        b.dst->settle();
    }
    std::unique_ptr<Bitmap> detached;
    if (b.src == b.dst && !b.y.contiguous && !detach_source(b, detached)) {
        return false;
    }
    Overwrite write(*b.dst);
    if (!fast_blit(b)) {
        general_blit(b);
    }
    write.done();
    return true;
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

namespace {

// The contexts are looked up before the request is made, so that it is built in one go.
BOOL stretch(HDC hdst, long long dx, long long dy, long long dw, long long dh, HDC hsrc,
             long long sx, long long sy, long long sw, long long sh, DWORD rop) {
    Dc* dst = dc_or_error(hdst);
    Dc* src = hsrc != nullptr ? lookup_dc(hsrc) : nullptr;
    const BlitRequest r{dst, dx, dy, dw, dh, src, sx, sy, sw, sh, rop, nullptr};
    return blit(r) ? TRUE : FALSE;
}

} // namespace

extern "C" {

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    return platform::no_throw<BOOL>(
        FALSE, [&]() -> BOOL { return stretch(hdc, x, y, cx, cy, hdcSrc, x1, y1, cx, cy, rop); });
}

BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                       int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        return stretch(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, wSrc, hSrc, rop);
    });
}

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        if (rop_uses_src(rop3_of(rop))) {
            return FALSE;
        }
        return stretch(hdc, x, y, w, h, nullptr, 0, 0, 0, 0, rop);
    });
}

} // extern "C"
