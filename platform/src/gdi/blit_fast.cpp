// The fast paths: what sprite drawing does all the time, row by row through the loops of the
// kernel set in use. Each row of the table says which blits it takes and how it does a row;
// the first that fits wins, and what none takes goes to the general engine. A fast path takes
// only blits whose source pixels of a row are one run (1:1 horizontally, not mirrored), with
// no combining shrink; rows may repeat or skip (vertical stretch), in the engine's order.
#include "blit_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace platform::gdi {

bool row_op_of(BYTE rop3, RowOp& op) {
    switch (rop3) {
    case kSrcCopy:
        op = RowOp::copy;
        return true;
    case kSrcAnd:
        op = RowOp::and_;
        return true;
    case kSrcPaint:
        op = RowOp::or_;
        return true;
    case kSrcInvert:
        op = RowOp::xor_;
        return true;
    case kSrcAndNot:
        op = RowOp::and_not;
        return true;
    default:
        return false;
    }
}

namespace {

// What a fast path's rows need, worked out once per blit.
struct RowJob {
    const BlitKernels* kernels;
    int dx;    // first destination pixel of every row
    int sx;    // first source pixel of every row
    int bytes; // bytes per pixel of the destination (of the source for masks)
    DWORD a;   // the key of a mask, the value of 0 of an expansion, the fill value
    DWORD b;   // the value of 1 of an expansion
    BytesFn op;
    MaskFn mask;
    ExpandFn expand;
    Convert16Fn convert;
    bool copy;
    bool whole_rows; // rows may run as one block when they are contiguous in both
    int dst_bits;    // bits per pixel on each side, to tell when they are
    int src_bits;
};

// n pixels of `rows` rows, each a pitch on from the one before.
using RectFn = void (*)(const RowJob& j, BYTE* d, std::ptrdiff_t dpitch, const BYTE* s,
                        std::ptrdiff_t spitch, int n, int rows);

struct FastPath {
    bool (*fits)(const Blit& b, RowJob& j);
    RectFn run;
};

bool source_rop(const Blit& b, RowOp& op) {
    return b.use_src && !b.use_pat && row_op_of(b.rop3, op);
}

bool is_mono_ddb(const Bitmap& bmp) {
    return bmp.bpp == 1 && !bmp.is_dib_section;
}

// Same layout at 8 bits and up: the rop on bytes. Within one surface only copies, which
// move whole rows and go bottom-up where needed.
void bytewise_job(const Blit& b, RowOp op, RowJob& j) {
    j.bytes = b.dst->bpp / 8;
    j.copy = op == RowOp::copy;
    j.op = j.kernels->bytes[static_cast<int>(op)];
    j.whole_rows = b.src != b.dst;
    j.dst_bits = j.src_bits = b.dst->bpp;
}
bool fits_bytewise(const Blit& b, RowJob& j) {
    RowOp op;
    if (!source_rop(b, op) || b.dst->bpp < 8 || !same_layout(*b.src, *b.dst) ||
        (b.src == b.dst && op != RowOp::copy)) {
        return false;
    }
    bytewise_job(b, op, j);
    return true;
}

// Blocks up to this size are copied by the kernel set rather than memmove (see below).
constexpr std::size_t kSmallBlock = 64 * 1024;

void bytewise_rect(const RowJob& j, BYTE* d, std::ptrdiff_t dpitch, const BYTE* s,
                   std::ptrdiff_t spitch, int n, int rows) {
    const std::size_t len = static_cast<std::size_t>(n) * j.bytes;
    d += static_cast<std::size_t>(j.dx) * j.bytes;
    s += static_cast<std::size_t>(j.sx) * j.bytes;
    if (!j.copy) {
        j.op(d, dpitch, s, spitch, len, rows);
        return;
    }
    const auto da = reinterpret_cast<std::uintptr_t>(d), sa = reinterpret_cast<std::uintptr_t>(s);
    if (rows == 1 && len <= kSmallBlock && (da + len <= sa || sa + len <= da)) {
        // A small block that does not overlap its source (whole rows of two bitmaps): the set's
        // wide copy, which for sprite-sized blocks beats the C library's memmove (that one wins
        // on large blocks, where it stores past the caches).
        j.kernels->copy_masked(d, 0, s, 0, len, 1, ~std::uint64_t{0});
        return;
    }
    for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {
        std::memmove(d, s, len);
    }
}

// Colour (without a colour table) to a monochrome device bitmap, SRCCOPY: the mask step.
bool fits_mask(const Blit& b, RowJob& j) {
    if (!b.use_src || b.rop3 != kSrcCopy || !is_mono_ddb(*b.dst) || b.src->bpp < 8 ||
        b.src->format->indexed) {
        return false;
    }
    j.bytes = b.src->bpp / 8;
    j.a = mono_key_value(b.request->src_dc, *b.src);
    j.mask = j.kernels->mask[j.bytes - 1];
    j.whole_rows = true; // two formats: never one surface
    j.dst_bits = 1;
    j.src_bits = b.src->bpp;
    return true;
}
void mask_rect(const RowJob& j, BYTE* d, std::ptrdiff_t dpitch, const BYTE* s,
               std::ptrdiff_t spitch, int n, int rows) {
    j.mask(s + static_cast<std::size_t>(j.sx) * j.bytes, spitch, j.a, d, dpitch, j.dx, n, rows);
}

// A monochrome device bitmap onto 16 or 32 bits without a colour table, with any of the
// byte-wise rops: the steps that cut the sprite out and clear its place.
bool fits_expand(const Blit& b, RowJob& j) {
    RowOp op;
    if (!source_rop(b, op) || !is_mono_ddb(*b.src) || b.dst->format->indexed ||
        (b.dst->bpp != 16 && b.dst->bpp != 32)) {
        return false;
    }
    j.bytes = b.dst->bpp / 8;
    j.a = mono_zero_value(b.request->dst_dc, *b.dst);
    j.b = mono_one_value(b.request->dst_dc, *b.dst);
    j.expand = (j.bytes == 4 ? j.kernels->expand32 : j.kernels->expand16)[static_cast<int>(op)];
    j.whole_rows = true; // two formats: never one surface
    j.dst_bits = b.dst->bpp;
    j.src_bits = 1;
    return true;
}
void expand_rect(const RowJob& j, BYTE* d, std::ptrdiff_t dpitch, const BYTE* s,
                 std::ptrdiff_t spitch, int n, int rows) {
    d += static_cast<std::size_t>(j.dx) * j.bytes;
    j.expand(s, spitch, j.sx, d, dpitch, d, dpitch, n, rows, j.a, j.b);
}

// Between the two 16-bit device layouts (5-6-5 and 5-5-5), with the byte-wise rops: what image
// lists of 5-5-5 sections drawn onto 5-6-5 bitmaps do. The set's conversion loop writes a copy
// straight into the destination; the other rops convert pixels aside, then combine them.
bool fits_relayout16(const Blit& b, RowJob& j) {
    RowOp op;
    if (!source_rop(b, op)) {
        return false;
    }
    const PixelFormat* r555 = &pixel_format(FormatId::rgb555);
    const PixelFormat* r565 = &pixel_format(FormatId::rgb565);
    if (b.src->format == r555 && b.dst->format == r565) {
        j.convert = j.kernels->to565;
    } else if (b.src->format == r565 && b.dst->format == r555) {
        j.convert = j.kernels->to555;
    } else {
        return false;
    }
    j.copy = op == RowOp::copy;
    j.op = j.kernels->bytes[static_cast<int>(op)];
    j.bytes = 2;
    j.whole_rows = true; // two layouts: never one surface
    j.dst_bits = j.src_bits = 16;
    return true;
}
void relayout16_rect(const RowJob& j, BYTE* d, std::ptrdiff_t dpitch, const BYTE* s,
                     std::ptrdiff_t spitch, int n, int rows) {
    const std::size_t len = static_cast<std::size_t>(n);
    d += static_cast<std::size_t>(j.dx) * 2;
    s += static_cast<std::size_t>(j.sx) * 2;
    if (j.copy) {
        j.convert(d, dpitch, s, spitch, len, rows);
        return;
    }
    constexpr std::size_t kChunk = 128; // pixels converted aside at a time
    BYTE converted[2 * kChunk];
    for (int r = 0; r < rows; ++r, d += dpitch, s += spitch) {
        for (std::size_t k = 0; k < len; k += kChunk) {
            const std::size_t m = std::min(kChunk, len - k);
            j.convert(converted, 0, s + 2 * k, 0, m, 1);
            j.op(d + 2 * k, 0, converted, 0, 2 * m, 1);
        }
    }
}

// PATCOPY with a solid brush at 8 bits and up: FillRect.
bool fits_fill(const Blit& b, RowJob& j) {
    if (b.use_src || b.rop3 != kPatCopy || !b.pat.solid() || b.dst->bpp < 8) {
        return false;
    }
    j.bytes = b.dst->bpp / 8;
    j.a = b.pat.values[0];
    return true;
}
template <int Bytes> void fill_rows(BYTE* d, std::ptrdiff_t pitch, DWORD v, int n, int rows) {
    for (int r = 0; r < rows; ++r, d += pitch) {
        BYTE* p = d;
        for (int k = 0; k < n; ++k, p += Bytes) {
            kernels::store<Bytes>(p, v);
        }
    }
}
void fill_rect(const RowJob& j, BYTE* d, std::ptrdiff_t dpitch, const BYTE*, std::ptrdiff_t, int n,
               int rows) {
    d += static_cast<std::size_t>(j.dx) * j.bytes;
    switch (j.bytes) {
    case 1:
        for (int r = 0; r < rows; ++r, d += dpitch) {
            std::memset(d, static_cast<int>(j.a & 0xFF), static_cast<std::size_t>(n));
        }
        break;
    case 2:
        fill_rows<2>(d, dpitch, j.a, n, rows);
        break;
    case 3:
        fill_rows<3>(d, dpitch, j.a, n, rows);
        break;
    default:
        fill_rows<4>(d, dpitch, j.a, n, rows);
        break;
    }
}

const FastPath kFastPaths[] = {
    {fits_bytewise, bytewise_rect},     // same layout
    {fits_mask, mask_rect},             // colour to monochrome
    {fits_expand, expand_rect},         // monochrome to colour
    {fits_relayout16, relayout16_rect}, // 5-5-5 to 5-6-5 and back
    {fits_fill, fill_rect},             // solid brush
};

RowJob new_job(const Blit& b) {
    RowJob j{};
    j.kernels = &blit_kernels();
    j.dx = b.x.start;
    j.sx = b.x.src_start;
    return j;
}

// Runs the rows of a blit through a path that fits it.
void run_path(const Blit& b, const RowJob& j, RectFn run) {
    Bitmap& D = *b.dst;
    const Bitmap* S = b.src;
    const int n = b.x.count;
    const int rows = b.y.count;
    if (!b.y.contiguous) {
        // A vertical stretch: row by row, each from the source row it picks.
        for (int k = 0; k < rows; ++k) {
            run(j, D.row(b.y.start + k), 0, S != nullptr ? S->row(b.y.at(k)) : nullptr, 0, n, 1);
        }
        return;
    }
    if (j.whole_rows && (S->pitch() > 0) == (D.pitch() > 0) &&
        static_cast<long long>(n) * j.dst_bits == 8LL * D.stride &&
        static_cast<long long>(n) * j.src_bits == 8LL * S->stride) {
        // Whole rows with no padding on either side (so from the first pixel), in the same
        // order: one row from the lowest address. A monochrome side's rows then run on bit by
        // bit, as they do in memory.
        const int top = D.pitch() > 0 ? 0 : rows - 1;
        run(j, D.row(b.y.start + top), 0, S->row(b.y.src_start + top), 0, n * rows, 1);
        return;
    }
    // Within one surface, a source below the destination is copied from the bottom row up.
    const int first = b.bottom_up() ? rows - 1 : 0;
    const std::ptrdiff_t sign = first == 0 ? 1 : -1;
    run(j, D.row(b.y.start + first), sign * D.pitch(),
        S != nullptr ? S->row(b.y.src_start + first) : nullptr,
        S != nullptr ? sign * S->pitch() : 0, n, rows);
}

} // namespace

bool fast_blit(const Blit& b) {
    if (!blit_fast_paths || !b.x.contiguous || !b.y.first.empty()) {
        return false;
    }
    RowJob j = new_job(b);
    for (const FastPath& f : kFastPaths) {
        if (f.fits(b, j)) {
            run_path(b, j, f.run);
            return true;
        }
    }
    return false;
}

bool fold_blit(const Blit& b, const Bitmap& from) {
    if (!blit_fast_paths || !b.x.contiguous || !b.y.contiguous) {
        return false;
    }
    RowJob j = new_job(b);
    const bool expand = fits_expand(b, j);
    if (!expand && !fits_bytewise(b, j)) {
        return false;
    }
    Bitmap& D = *b.dst;
    const Bitmap& S = *b.src;
    const int n = b.x.count;
    const int y0 = b.y.start;
    const int y1 = y0 + b.y.count;
    const std::size_t used = static_cast<std::size_t>(D.width) * j.bytes;
    const std::size_t left = static_cast<std::size_t>(b.x.start) * j.bytes;
    const std::size_t right = left + static_cast<std::size_t>(n) * j.bytes;
    // The rows above and below the rectangle are copied as they are.
    for (int y = 0; y < y0; ++y) {
        std::memcpy(D.row(y), from.row(y), used);
    }
    for (int y = y1; y < D.height; ++y) {
        std::memcpy(D.row(y), from.row(y), used);
    }
    if (!expand) {
        // A byte-wise rop reads back each row of the rectangle just after it is copied.
        for (int y = y0; y < y1; ++y) {
            std::memcpy(D.row(y), from.row(y), used);
            bytewise_rect(j, D.row(y), 0, S.row(b.y.src_start + (y - y0)), 0, n, 1);
        }
        return true;
    }
    // The expansion reads the rectangle from where the copy would bring it; the columns beside
    // it are copied as they are.
    if (left != 0 || right != used) {
        for (int y = y0; y < y1; ++y) {
            std::memcpy(D.row(y), from.row(y), left);
            std::memcpy(D.row(y) + right, from.row(y) + right, used - right);
        }
    }
    j.expand(S.row(b.y.src_start), S.pitch(), j.sx, D.row(y0) + left, D.pitch(),
             from.row(y0) + left, from.pitch(), n, b.y.count, j.a, j.b);
    return true;
}

void bytewise_blit(const Blit& b, RowOp op) {
    RowJob j = new_job(b);
    bytewise_job(b, op, j);
    run_path(b, j, bytewise_rect);
}

} // namespace platform::gdi
