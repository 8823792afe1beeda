// Transfers between device-independent bitmaps and GDI surfaces: SetDIBits, SetDIBitsToDevice,
// StretchDIBits, CreateDIBitmap one way and GetDIBits the other.
//
// Every call first checks the description (dib::read_info), so that nothing below reads a
// table, a mask or a row the description does not promise. Colours from the DIB are mapped
// into the surface's format the way drawing maps them (through the DC's palette on palette
// surfaces); colours read from a surface are packed into the requested DIB format, with the
// nearest entry of the table handed out for formats of 8 bits and fewer.
#include "internal/faults.h"
#include "blit_kernels.h"
#include "dib_gdi.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace platform::gdi {
namespace {

// A DIB given to a call: its checked description, its pixel bytes and the band of rows they
// hold (SetDIBits and SetDIBitsToDevice may pass some rows only).
//
// Bands count rows from the bottom of the image whatever the row order: the band of `start`
// and `lines` is the `lines` rows above the lowest `start` ones, and its bytes hold them in the
// DIB's own row order. That is how Windows reads bands of top-down DIBs too.
struct DibSource {
    dib::DibInfo info;
    const BYTE* bits = nullptr;
    int band_start = 0; // rows below the band
    int band_rows = 0;  // rows in it
    bool rle = false;
    dib::RleImage decoded;

    // Stored row of image row y (counted from the top): RLE images are decoded in stored order.
    int stored_row(int y) const { return info.top_down ? y : info.height - 1 - y; }
    // The bytes of image row y, or nullptr when the band does not hold it.
    const BYTE* row_bytes(int y) const {
        const int from_bottom = info.height - 1 - y;
        if (from_bottom < band_start || from_bottom >= band_start + band_rows) {
            return nullptr;
        }
        const int index =
            info.top_down ? band_start + band_rows - 1 - from_bottom : from_bottom - band_start;
        return bits + static_cast<std::size_t>(index) * info.stride;
    }
};

// Checks and prepares a DIB for drawing. `start`/`lines` give the band of rows present for
// uncompressed data; RLE data always describes the whole image.
bool prepare(DibSource& src, const BITMAPINFO* bmi, const void* bits, UINT usage, const Dc* dc,
             long long start, long long lines) {
    if (bits == nullptr || !dib::read_info(bmi, SIZE_MAX, usage, dib::Strictness::gdi, src.info)) {
        return false;
    }
    resolve_palette_colors(src.info, dc);
    src.bits = static_cast<const BYTE*>(bits);
    src.rle = src.info.compression == BI_RLE8 || src.info.compression == BI_RLE4;
    const long long height = src.info.height;
    start = std::clamp<long long>(start, 0, height);
    lines = std::clamp<long long>(lines, 0, height - start);
    src.band_start = static_cast<int>(start);
    src.band_rows = static_cast<int>(lines);
    if (src.rle) {
        // A compressed image is always whole.
        src.band_start = 0;
        src.band_rows = src.info.height;
        dib::decode_rle(src.info, src.bits, src.info.image_size, src.decoded);
    }
    return true;
}

// ---- Straight conversions between common layouts ---------------------------------------------
//
// The colour-by-colour path above reads each pixel into a COLORREF and packs it again through
// function pointers. For the layouts games move around all the time (24 and 32 bits onto
// 32-bit surfaces, 5-5-5 DIBs onto 5-6-5 surfaces and back) these do the same in one step,
// between the 16-bit layouts through the row loops of the blit kernel set in use; the
// DibFastPaths test holds them to exactly the results of the general path.

bool is_888(const dib::DibInfo& info) {
    return info.red.mask == 0xFF0000 && info.green.mask == 0x00FF00 && info.blue.mask == 0x0000FF;
}
bool has_masks(const dib::DibInfo& info, DWORD r, DWORD g, DWORD b) {
    return info.red.mask == r && info.green.mask == g && info.blue.mask == b;
}
bool is_format(const Bitmap& bmp, FormatId id) {
    return bmp.format == &pixel_format(id);
}

DWORD load16(const BYTE* p) {
    return DWORD{p[0]} | (DWORD{p[1]} << 8);
}
DWORD load24(const BYTE* p) {
    return DWORD{p[0]} | (DWORD{p[1]} << 8) | (DWORD{p[2]} << 16);
}
DWORD load32(const BYTE* p) {
    DWORD v;
    std::memcpy(&v, p, 4);
    return v;
}

// Rows whose stored bytes are already the other side's, but for bits that one side does not
// keep (the unused top byte of 32-bit pixels, the top bit of 5-5-5 words): copied whole through
// the masked copy of the blit kernel set in use, those bits cleared.
void copy_masked32(MaskedCopyFn copy, const BYTE* src, BYTE* dst, int n, DWORD mask) {
    copy(dst, 0, src, 0, 4 * static_cast<std::size_t>(n), 1, mask * 0x0000000100000001ull);
}
void copy_masked16(MaskedCopyFn copy, const BYTE* src, BYTE* dst, int n, WORD mask) {
    if (mask == 0xFFFF) {
        std::memcpy(dst, src, 2 * static_cast<std::size_t>(n));
        return;
    }
    copy(dst, 0, src, 0, 2 * static_cast<std::size_t>(n), 1, mask * 0x0001000100010001ull);
}

// What every row of a band takes when it is just a masked copy or a conversion between the
// 16-bit layouts: then the band goes to the kernel in one call instead of row by row.
struct BandOp {
    MaskedCopyFn copy = nullptr;
    std::uint64_t mask8 = 0;
    Convert16Fn convert = nullptr;

    explicit operator bool() const { return copy != nullptr || convert != nullptr; }
    void run(BYTE* d, std::ptrdiff_t dpitch, const BYTE* s, std::ptrdiff_t spitch, int n, int bytes,
             int rows) const {
        if (copy != nullptr) {
            copy(d, dpitch, s, spitch, static_cast<std::size_t>(n) * bytes, rows, mask8);
        } else {
            convert(d, dpitch, s, spitch, static_cast<std::size_t>(n), rows);
        }
    }
};

// Stores raw values of a surface's format into a row from pixel x on.
void store_row(const Bitmap& surface, BYTE* row, int x, const DWORD* values, int n) {
    switch (surface.bpp) {
    case 32:
        std::memcpy(row + 4 * static_cast<std::size_t>(x), values, 4 * static_cast<std::size_t>(n));
        break;
    case 24: {
        BYTE* p = row + 3 * static_cast<std::size_t>(x);
        for (int i = 0; i < n; ++i, p += 3) {
            p[0] = static_cast<BYTE>(values[i]);
            p[1] = static_cast<BYTE>(values[i] >> 8);
            p[2] = static_cast<BYTE>(values[i] >> 16);
        }
        break;
    }
    case 16: {
        BYTE* p = row + 2 * static_cast<std::size_t>(x);
        for (int i = 0; i < n; ++i, p += 2) {
            p[0] = static_cast<BYTE>(values[i]);
            p[1] = static_cast<BYTE>(values[i] >> 8);
        }
        break;
    }
    case 8:
        for (int i = 0; i < n; ++i) {
            row[x + i] = static_cast<BYTE>(values[i]);
        }
        break;
    default:
        for (int i = 0; i < n; ++i) {
            surface.format->write(row, x + i, values[i]);
        }
        break;
    }
}

// DIB colours to raw values of one surface, drawn through one DC.
class ToSurface {
public:
    ToSurface(const DibSource& src, const Dc* dc, const Bitmap& surface)
        : src_(src), dc_(dc), surface_(surface) {
        if (src.info.bit_count <= 8) {
            for (int i = 0; i < 256; ++i) {
                lut_[i] = convert(dib::index_color(src.info, i));
            }
        } else if (dib_fast_paths) {
            const dib::DibInfo& info = src.info;
            const bool rgb =
                is_format(surface, FormatId::rgb32) || is_format(surface, FormatId::rgb24);
            if (info.bit_count == 32 && is_888(info) && rgb) {
                straight_ = Straight::xrgb;
            } else if (info.bit_count == 24 && rgb) {
                straight_ = Straight::rgb;
            } else if (info.bit_count == 16 && has_masks(info, 0x7C00, 0x03E0, 0x001F) &&
                       is_format(surface, FormatId::rgb565)) {
                straight_ = Straight::widen_green;
                widen_ = blit_kernels().to565;
            } else if (info.bit_count == 16 && ((has_masks(info, 0x7C00, 0x03E0, 0x001F) &&
                                                 is_format(surface, FormatId::rgb555)) ||
                                                (has_masks(info, 0xF800, 0x07E0, 0x001F) &&
                                                 is_format(surface, FormatId::rgb565)))) {
                straight_ = Straight::same16;
            }
        }
    }

    // Pixels [x0, x0 + n) of an uncompressed image row y stored straight into a surface row from
    // pixel tx, where the DIB's bytes are the surface's own. False when they need converting.
    bool copy_row(int y, int x0, int n, BYTE* row, int tx) const {
        const BYTE* bytes = src_.row_bytes(y);
        const std::size_t from = static_cast<std::size_t>(x0);
        const std::size_t to = static_cast<std::size_t>(tx);
        if (straight_ == Straight::xrgb && surface_.bpp == 32) {
            copy_masked32(masked_, bytes + 4 * from, row + 4 * to, n, 0xFFFFFF);
            return true;
        }
        if (straight_ == Straight::rgb && surface_.bpp == 24) {
            std::memcpy(row + 3 * to, bytes + 3 * from, 3 * static_cast<std::size_t>(n));
            return true;
        }
        if (straight_ == Straight::widen_green) {
            widen_(row + 2 * to, 0, bytes + 2 * from, 0, static_cast<std::size_t>(n), 1);
            return true;
        }
        if (straight_ == Straight::same16) {
            const DWORD mask = surface_.format->value_mask &
                               (src_.info.red.mask | src_.info.green.mask | src_.info.blue.mask);
            copy_masked16(masked_, bytes + 2 * from, row + 2 * to, n, static_cast<WORD>(mask));
            return true;
        }
        return false;
    }

    // What copy_row does to each row, when it is all a row takes; empty otherwise.
    BandOp band() const {
        BandOp op;
        if (straight_ == Straight::xrgb && surface_.bpp == 32) {
            op.copy = masked_;
            op.mask8 = 0x00FFFFFF00FFFFFFull;
        } else if (straight_ == Straight::same16) {
            const DWORD mask = surface_.format->value_mask &
                               (src_.info.red.mask | src_.info.green.mask | src_.info.blue.mask);
            op.copy = masked_;
            op.mask8 = (mask & 0xFFFF) * 0x0001000100010001ull;
        } else if (straight_ == Straight::widen_green) {
            op.convert = widen_;
        }
        return op;
    }

    // Pixels [x0, x0 + n) of image row y into `out`; `skip[i]` is set where the DIB leaves the
    // destination as it is (pixels an RLE stream does not reach).
    void row(int y, int x0, int n, DWORD* out, BYTE* skip) {
        const dib::DibInfo& info = src_.info;
        if (src_.rle) {
            const int stored = src_.stored_row(y);
            const std::size_t at = static_cast<std::size_t>(stored) * info.width + x0;
            for (int i = 0; i < n; ++i) {
                skip[i] = !src_.decoded.written[at + i];
                out[i] = lut_[src_.decoded.index[at + i]];
            }
            return;
        }
        std::fill(skip, skip + n, BYTE{0});
        const BYTE* bytes = src_.row_bytes(y);
        if (info.bit_count <= 8) {
            indices_.resize(static_cast<std::size_t>(n));
            dib::read_row_indices(info, bytes, x0, n, indices_.data());
            for (int i = 0; i < n; ++i) {
                out[i] = lut_[indices_[i]];
            }
            return;
        }
        switch (straight_) {
        case Straight::xrgb:
            for (int i = 0; i < n; ++i) {
                out[i] = load32(bytes + 4 * static_cast<std::size_t>(x0 + i)) & 0xFFFFFF;
            }
            return;
        case Straight::rgb:
            for (int i = 0; i < n; ++i) {
                out[i] = load24(bytes + 3 * static_cast<std::size_t>(x0 + i));
            }
            return;
        case Straight::same16:
            for (int i = 0; i < n; ++i) {
                out[i] = load16(bytes + 2 * static_cast<std::size_t>(x0 + i)) &
                         surface_.format->value_mask &
                         (info.red.mask | info.green.mask | info.blue.mask);
            }
            return;
        case Straight::widen_green: // copy_row takes these rows
        case Straight::none:
            break;
        }
        colors_.resize(static_cast<std::size_t>(n));
        dib::read_row_colors(info, bytes, x0, n, colors_.data());
        if (!surface_.format->indexed) {
            for (int i = 0; i < n; ++i) {
                out[i] = surface_.format->from_rgb(surface_, colors_[i]);
            }
            return;
        }
        // Palette surfaces: the nearest-colour search is remembered per colour.
        if (cache_.empty()) {
            cache_.assign(kCacheSlots, CacheSlot{});
        }
        for (int i = 0; i < n; ++i) {
            const COLORREF c = colors_[i];
            CacheSlot& slot = cache_[(c * 2654435761u) >> (32 - kCacheBits)];
            if (!slot.used || slot.color != c) {
                slot = CacheSlot{c, convert(c), true};
            }
            out[i] = slot.value;
        }
    }

private:
    enum class Straight { none, xrgb, rgb, widen_green, same16 };

    DWORD convert(COLORREF c) const { return color_to_pixel(dc_, surface_, c); }

    Straight straight_ = Straight::none;
    Convert16Fn widen_ = nullptr; // Straight::widen_green
    MaskedCopyFn masked_ = blit_kernels().copy_masked;
    const DibSource& src_;
    const Dc* dc_;
    const Bitmap& surface_;
    DWORD lut_[256]; // the raw value of each table index, filled whole for 8 bits and fewer
    std::vector<BYTE> indices_;
    std::vector<COLORREF> colors_;
    struct CacheSlot {
        COLORREF color = 0;
        DWORD value = 0;
        bool used = false;
    };
    static constexpr int kCacheBits = 12;
    static constexpr std::size_t kCacheSlots = std::size_t{1} << kCacheBits;
    std::vector<CacheSlot> cache_;
};

// Copies the image rectangle (sx, sy, w, h) (top-down image coordinates) of a DIB to (dx, dy)
// on a surface, clipped to the image, to the rows present and to `clip`.
void put(const DibSource& src, const Dc* dc, Bitmap& surface, long long dx, long long dy,
         long long sx, long long sy, long long w, long long h, const RECT& clip) {
    // Clip in source coordinates: the image, then the destination rectangle.
    long long x0 = std::max<long long>({sx, 0, sx + (clip.left - dx)});
    long long x1 = std::min<long long>({sx + w, src.info.width, sx + (clip.right - dx)});
    long long y0 = std::max<long long>({sy, 0, sy + (clip.top - dy)});
    long long y1 = std::min<long long>({sy + h, src.info.height, sy + (clip.bottom - dy)});
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const int n = static_cast<int>(x1 - x0);
    ToSurface conv(src, dc, surface);
    const BandOp band = src.rle ? BandOp{} : conv.band();
    if (band) {
        // The rows the band holds, in one call.
        const long long height = src.info.height;
        y0 = std::max<long long>(y0, height - src.band_start - src.band_rows);
        y1 = std::min<long long>(y1, height - src.band_start);
        if (y0 < y1) {
            const int bytes = surface.bpp / 8;
            const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(src.info.stride);
            band.run(surface.row(static_cast<int>(y0 - sy + dy)) + bytes * (x0 - sx + dx),
                     surface.pitch(), src.row_bytes(static_cast<int>(y0)) + bytes * x0,
                     src.info.top_down ? stride : -stride, n, bytes, static_cast<int>(y1 - y0));
        }
        return;
    }
    std::vector<DWORD> values(static_cast<std::size_t>(n));
    std::vector<BYTE> skip(static_cast<std::size_t>(n));
    const auto write = surface.format->write;
    for (long long y = y0; y < y1; ++y) {
        if (!src.rle && src.row_bytes(static_cast<int>(y)) == nullptr) {
            continue;
        }
        BYTE* row = surface.row(static_cast<int>(y - sy + dy));
        const int tx = static_cast<int>(x0 - sx + dx);
        if (!src.rle && conv.copy_row(static_cast<int>(y), static_cast<int>(x0), n, row, tx)) {
            continue;
        }
        conv.row(static_cast<int>(y), static_cast<int>(x0), n, values.data(), skip.data());
        if (!src.rle) {
            store_row(surface, row, tx, values.data(), n);
            continue;
        }
        for (int i = 0; i < n; ++i) {
            if (!skip[i]) {
                write(row, tx + i, values[i]);
            }
        }
    }
}

// A scratch surface laid out like `like` (same format, table and masks), so that a blit from it
// copies raw values.
std::unique_ptr<Bitmap> scratch_like(const Bitmap& like, int width, int height) {
    auto bmp = allocate_bitmap(width, height, like.bpp, 4, like.format);
    if (!bmp) {
        return nullptr;
    }
    bmp->is_dib_section = like.is_dib_section;
    bmp->info = like.info;
    std::memcpy(bmp->masks, like.masks, sizeof bmp->masks);
    bmp->colors = like.colors;
    bmp->user_bits = like.is_dib_section ? bmp->memory : nullptr;
    return bmp;
}

// StretchDIBits beyond a straight copy: the image goes into a scratch bitmap in the
// destination's own format, and the blit engine scales, mirrors and combines from there.
// Pixels an RLE stream skips show the destination only in a straight copy; here they hold
// whatever the scratch bitmap held (the first table colour).
bool stretch_through_blit(HDC hdc, Dc& dc, const DibSource& src, int xDest, int yDest,
                          int DestWidth, int DestHeight, int xSrc, long long ySrcTop, int SrcWidth,
                          int SrcHeight, DWORD rop) {
    Target t;
    if (!resolve_target(dc, t)) {
        return false;
    }
    auto scratch = scratch_like(*t.surface, src.info.width, src.info.height);
    if (!scratch) {
        return false;
    }
    put(src, &dc, *scratch, 0, 0, 0, 0, src.info.width, src.info.height,
        RECT{0, 0, src.info.width, src.info.height});
    HGDIOBJ handle = insert_object(std::move(scratch));
    if (handle == nullptr) {
        return false;
    }
    bool ok = false;
    HDC mem = CreateCompatibleDC(hdc);
    if (mem != nullptr) {
        HGDIOBJ old = SelectObject(mem, handle);
        if (old != nullptr) {
            ok = StretchBlt(hdc, xDest, yDest, DestWidth, DestHeight, mem, xSrc,
                            static_cast<int>(ySrcTop), SrcWidth, SrcHeight, rop) != FALSE;
            SelectObject(mem, old);
        }
        DeleteDC(mem);
    }
    DeleteObject(handle);
    return ok;
}

// ---- GetDIBits
// -----------------------------------------------------------------------------------

// The BITMAPINFOHEADER of a bitmap's own format (GetDIBits with biBitCount 0).
void describe_bitmap(const Bitmap& bmp, BITMAPINFOHEADER& h) {
    h.biWidth = bmp.width;
    h.biHeight = bmp.height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bmp.bpp);
    h.biCompression = bmp.bpp == 16 || bmp.bpp == 32 ? BI_BITFIELDS : BI_RGB;
    if (bmp.is_dib_section) {
        h.biCompression = bmp.info.biCompression;
    }
    h.biSizeImage = static_cast<DWORD>(dib_stride(bmp.width, bmp.bpp)) * bmp.height;
    h.biXPelsPerMeter = 0;
    h.biYPelsPerMeter = 0;
    h.biClrUsed = 0;
    h.biClrImportant = 0;
}

// Writes the table of an output DIB into the caller's BITMAPINFO (RGBQUADs, RGBTRIPLEs after
// a core header, or palette indices with DIB_PAL_COLORS).
void store_table(BITMAPINFO* bmi, const dib::DibInfo& info, const RGBQUAD* table, int count,
                 UINT usage) {
    BYTE* at = reinterpret_cast<BYTE*>(bmi) + info.header_size;
    for (int i = 0; i < count; ++i) {
        if (usage == DIB_PAL_COLORS) {
            const WORD index = static_cast<WORD>(i);
            std::memcpy(at + 2 * i, &index, 2);
        } else if (info.header_size == sizeof(BITMAPCOREHEADER)) {
            at[3 * i] = table[i].rgbBlue;
            at[3 * i + 1] = table[i].rgbGreen;
            at[3 * i + 2] = table[i].rgbRed;
        } else {
            const RGBQUAD q{table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed, 0};
            std::memcpy(at + 4 * i, &q, 4);
        }
    }
}

// The bytes of a DIB row past the bitmap's width (none, mostly: a call per row costs).
void clear_tail(BYTE* p, std::size_t bytes) {
    if (bytes != 0) {
        std::memset(p, 0, bytes);
    }
}

// GetDIBits rows between common layouts in one step (see the straight conversions above),
// the layouts looked at once per call. Pixels past the bitmap's width are written as the
// general path writes them: black.
class StraightOut {
public:
    StraightOut(const Bitmap& bmp, const dib::DibInfo& info, int n)
        : on_(dib_fast_paths && info.bit_count > 8), bit_count_(info.bit_count), n_(n),
          pad_(static_cast<std::size_t>(info.width - n)), is_888_(is_888(info)),
          rgb32_(is_format(bmp, FormatId::rgb32)), rgb24_(is_format(bmp, FormatId::rgb24)),
          out555_(has_masks(info, 0x7C00, 0x03E0, 0x001F)),
          out565_(has_masks(info, 0xF800, 0x07E0, 0x001F)),
          in555_(is_format(bmp, FormatId::rgb555)), in565_(is_format(bmp, FormatId::rgb565)),
          relayout_(in565_ ? blit_kernels().to555 : blit_kernels().to565),
          masked_(blit_kernels().copy_masked) {}

    // False, having written nothing, when the row needs the general path.
    bool row(const BYTE* src, BYTE* dst) const;

    // What row() does to each row, when it is all a row takes (nothing past the bitmap's
    // width); empty otherwise.
    BandOp band() const {
        BandOp op;
        if (!on_ || pad_ != 0) {
            return op;
        }
        if (bit_count_ == 32 && is_888_ && rgb32_) {
            op.copy = masked_;
            op.mask8 = 0x00FFFFFF00FFFFFFull;
        } else if (bit_count_ == 16 && (in555_ || in565_) && (out555_ || out565_)) {
            if (in555_ == out555_) {
                op.copy = masked_;
                op.mask8 = in555_ ? 0x7FFF7FFF7FFF7FFFull : ~std::uint64_t{0};
            } else {
                op.convert = relayout_;
            }
        }
        return op;
    }

private:
    bool on_;
    int bit_count_;
    int n_;
    std::size_t pad_;
    bool is_888_, rgb32_, rgb24_, out555_, out565_, in555_, in565_;
    Convert16Fn relayout_; // between the 16-bit layouts, when they differ
    MaskedCopyFn masked_;
};

bool StraightOut::row(const BYTE* src, BYTE* dst) const {
    if (!on_) {
        return false;
    }
    const int n = n_;
    const std::size_t pad = pad_;
    const bool rgb32 = rgb32_;
    const bool rgb24 = rgb24_;
    if (bit_count_ == 32 && is_888_ && rgb32) {
        copy_masked32(masked_, src, dst, n, 0xFFFFFF);
        clear_tail(dst + 4 * static_cast<std::size_t>(n), 4 * pad);
        return true;
    }
    if (bit_count_ == 24 && rgb24) {
        std::memcpy(dst, src, 3 * static_cast<std::size_t>(n));
        clear_tail(dst + 3 * static_cast<std::size_t>(n), 3 * pad);
        return true;
    }
    if (bit_count_ == 32 && is_888_ && (rgb32 || rgb24)) {
        for (int x = 0; x < n; ++x) {
            const DWORD v = rgb32 ? load32(src + 4 * static_cast<std::size_t>(x)) & 0xFFFFFF
                                  : load24(src + 3 * static_cast<std::size_t>(x));
            std::memcpy(dst + 4 * static_cast<std::size_t>(x), &v, 4);
        }
        clear_tail(dst + 4 * static_cast<std::size_t>(n), 4 * pad);
        return true;
    }
    if (bit_count_ == 24 && (rgb32 || rgb24)) {
        for (int x = 0; x < n; ++x) {
            const DWORD v = rgb32 ? load32(src + 4 * static_cast<std::size_t>(x))
                                  : load24(src + 3 * static_cast<std::size_t>(x));
            dst[3 * x] = static_cast<BYTE>(v);
            dst[3 * x + 1] = static_cast<BYTE>(v >> 8);
            dst[3 * x + 2] = static_cast<BYTE>(v >> 16);
        }
        clear_tail(dst + 3 * static_cast<std::size_t>(n), 3 * pad);
        return true;
    }
    if (bit_count_ == 16) {
        const bool out555 = out555_, out565 = out565_, in555 = in555_, in565 = in565_;
        if (!((out555 || out565) && (in555 || in565))) {
            return false;
        }
        if (in555 == out555) {
            copy_masked16(masked_, src, dst, n, in555 ? 0x7FFF : 0xFFFF);
            clear_tail(dst + 2 * static_cast<std::size_t>(n), 2 * pad);
            return true;
        }
        relayout_(dst, 0, src, 0, static_cast<std::size_t>(n), 1);
        clear_tail(dst + 2 * static_cast<std::size_t>(n), 2 * pad);
        return true;
    }
    return false;
}

int get_dib_bits(Dc* dc, const Bitmap& bmp, UINT start, UINT lines, void* bits, BITMAPINFO* bmi,
                 UINT usage) {
    DWORD header_size;
    std::memcpy(&header_size, bmi, sizeof header_size);
    if (header_size >= sizeof(BITMAPINFOHEADER) && bmi->bmiHeader.biBitCount == 0) {
        // Only a description of the bitmap is asked for.
        if (header_size > sizeof(BITMAPV5HEADER)) {
            return 0;
        }
        describe_bitmap(bmp, bmi->bmiHeader);
        return bits == nullptr ? bmp.height : 0;
    }
    // The description is checked from a copy of the header alone: what follows it (table or
    // masks) is output here, never input, and a caller may well have passed nothing but the
    // header (a copy of a section's dsBmih, say).
    if (header_size != sizeof(BITMAPCOREHEADER) &&
        (header_size < sizeof(BITMAPINFOHEADER) || header_size > sizeof(BITMAPV5HEADER))) {
        return 0;
    }
    // Past the header, read_info finds zeros where it reads: masks (never, as asked below, but
    // cleared all the same) and, at 8 bits and fewer, the table. The rest is left uncleared.
    alignas(4) BYTE local[sizeof(BITMAPV5HEADER) + 256 * sizeof(RGBQUAD)];
    std::memcpy(local, bmi, header_size);
    WORD asked_bits;
    std::memcpy(&asked_bits, local + (header_size == sizeof(BITMAPCOREHEADER) ? 10 : 14), 2);
    std::memset(local + header_size, 0,
                asked_bits <= 8 ? sizeof local - header_size : 3 * sizeof(DWORD));
    auto* local_header = reinterpret_cast<BITMAPINFOHEADER*>(local);
    // Bit fields asked for with a plain 40-byte header would have their masks written after it,
    // where the caller may have no room (a copy of a section's dsBmih is just that). Such a
    // request is answered in the BI_RGB layout of the depth instead (5-5-5, 8-8-8), and the
    // header says so, so that it stays true to the pixels wherever it is passed next.
    const bool plain_fields = header_size >= sizeof(BITMAPINFOHEADER) && header_size < 52 &&
                              local_header->biCompression == BI_BITFIELDS;
    if (plain_fields) {
        local_header->biCompression = BI_RGB;
    }
    dib::DibInfo info;
    if (!dib::read_info(local, sizeof local, usage, dib::Strictness::gdi, info) ||
        info.compression == BI_RLE8 || info.compression == BI_RLE4) {
        return 0; // encoding into RLE is not offered
    }
    if (header_size >= sizeof(BITMAPINFOHEADER)) {
        if (plain_fields) {
            bmi->bmiHeader.biCompression = BI_RGB;
        }
        bmi->bmiHeader.biSizeImage = static_cast<DWORD>(info.image_size);
        bmi->bmiHeader.biClrUsed = 0;
        bmi->bmiHeader.biClrImportant = 0;
    }

    // The table: the bitmap's own when it has one of this size (indices then copy as they
    // are), otherwise the standard one for the depth. All of its entries are written.
    RGBQUAD table[256];
    bool raw_indices = false;
    int table_count = 0;
    if (info.bit_count <= 8) {
        table_count = 1 << info.bit_count;
        const ColorTable own = color_table(bmp);
        if (bmp.format->indexed && bmp.bpp == info.bit_count && own.count > 0) {
            raw_indices = true;
            std::fill(table, table + table_count, RGBQUAD{0, 0, 0, 0});
            std::copy_n(own.entries, std::min(own.count, table_count), table);
        } else {
            dib::default_color_table(info.bit_count, table);
        }
        store_table(bmi, info, table, table_count, usage);
        info.color_count = table_count;
        std::copy_n(table, table_count, info.colors);
    }
    if (bits == nullptr) {
        return 1; // the description is filled in, nothing more was asked
    }

    // The band of `lines` rows above the lowest `start` ones (counted from the bottom whatever
    // the row order, as for SetDIBits), as far as both images reach, stored in the DIB's own
    // row order. The DIB's top row is the bitmap's top row.
    const long long first = std::min<long long>(start, info.height);
    const long long last = std::min<long long>(static_cast<long long>(start) + lines, info.height);
    const int n = std::min(info.width, bmp.width);
    BYTE* out = static_cast<BYTE*>(bits);
    // The bytes that pad a row out to four are written as zeros, as Windows writes them.
    const std::size_t used = (static_cast<std::size_t>(info.width) * info.bit_count + 7) / 8;
    const std::size_t padding = info.stride - used;
    const StraightOut straight(bmp, info, n);
    if (const BandOp band = straight.band()) {
        // The rows of the band that the bitmap has, in one call from the band's top row down.
        const long long lowest =
            std::max<long long>(first, static_cast<long long>(info.height) - bmp.height);
        if (lowest >= last) {
            return 0;
        }
        const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(info.stride);
        BYTE* top =
            out + (info.top_down ? 0 : static_cast<std::ptrdiff_t>(last - 1 - first)) * stride;
        band.run(top, info.top_down ? stride : -stride,
                 bmp.row(static_cast<int>(info.height - last)), bmp.pitch(), n, info.bit_count / 8,
                 static_cast<int>(last - lowest));
        for (long long row = 0; padding != 0 && row < last - lowest; ++row) {
            std::memset(top + (info.top_down ? row : -row) * stride + used, 0, padding);
        }
        return static_cast<int>(last - lowest);
    }
    // Buffers of the general path, made when a row first needs them.
    std::vector<COLORREF> colors;
    std::vector<BYTE> indices;
    dib::NearestIndex nearest(table, table_count);
    int copied = 0;
    for (long long b = first; b < last; ++b) {
        const long long y = info.height - 1 - b;
        if (y >= bmp.height) {
            continue;
        }
        const BYTE* src = bmp.row(static_cast<int>(y));
        const long long index = info.top_down ? last - 1 - b : b - first;
        BYTE* dst = out + static_cast<std::size_t>(index) * info.stride;
        if (info.bit_count <= 8) {
            indices.resize(static_cast<std::size_t>(info.width));
            for (int x = 0; x < n; ++x) {
                const DWORD v = bmp.format->read(src, x);
                indices[x] = raw_indices ? static_cast<BYTE>(v) : nearest(pixel_to_color(bmp, v));
            }
            dib::write_row_indices(info, dst, info.width, indices.data());
        } else if (!straight.row(src, dst)) {
            colors.resize(static_cast<std::size_t>(info.width));
            for (int x = 0; x < n; ++x) {
                colors[x] = pixel_to_color(bmp, bmp.format->read(src, x));
            }
            dib::write_row_colors(info, dst, info.width, colors.data());
        }
        std::memset(dst + used, 0, padding);
        ++copied;
    }
    (void)dc;
    return copied;
}

} // namespace
} // namespace platform::gdi

using namespace platform::gdi;
namespace dib = platform::dib;

extern "C" {

int WINAPI SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, const void* lpBits,
                     const BITMAPINFO* lpbmi, UINT ColorUse) {
    return platform::no_throw<int>(0, [&]() -> int {
        Bitmap* bmp = lookup_bitmap_as_is(hbm);
        if (bmp == nullptr) {
            return 0;
        }
        const Dc* dc = lookup_dc(hdc);
        DibSource src;
        if (!prepare(src, lpbmi, lpBits, ColorUse, dc, start, cLines)) {
            return 0;
        }
        // Rows of every pixel, none skipped: what the bitmap held is neither cleared nor copied.
        const int height = src.info.height;
        if (src.rle || src.info.width < bmp->width || height < bmp->height ||
            src.band_start > height - bmp->height || src.band_start + src.band_rows < height) {
            bmp->settle();
        }
        Overwrite write(*bmp);
        // The DIB lies on the bitmap with their top-left corners together.
        put(src, dc, *bmp, 0, 0, 0, 0, src.info.width, src.info.height,
            RECT{0, 0, bmp->width, bmp->height});
        write.done();
        return src.band_rows;
    });
}

int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                             UINT StartScan, UINT cLines, const void* lpvBits,
                             const BITMAPINFO* lpbmi, UINT ColorUse) {
    return platform::no_throw<int>(0, [&]() -> int {
        Dc* dc = dc_or_error(hdc);
        Target t;
        if (dc == nullptr || !resolve_target(*dc, t)) {
            return 0;
        }
        DibSource src;
        if (!prepare(src, lpbmi, lpvBits, ColorUse, dc, StartScan, cLines)) {
            return 0;
        }
        // Source coordinates count from the image's bottom-left corner, for top-down DIBs too.
        const long long height = static_cast<long long>(h);
        const long long top = static_cast<long long>(src.info.height) - ySrc - height;
        put(src, dc, *t.surface, static_cast<long long>(xDest) + t.origin_x,
            static_cast<long long>(yDest) + t.origin_y, xSrc, top, static_cast<long long>(w),
            height, t.clip);
        // Lines set: for a bottom-up DIB those of the band up to the top of the source rectangle,
        // for a top-down one the whole band.
        if (src.info.top_down) {
            return src.band_rows;
        }
        const long long reached = std::min<long long>(src.band_start + src.band_rows,
                                                      static_cast<long long>(ySrc) + height);
        return static_cast<int>(std::max<long long>(0, reached - src.band_start));
    });
}

int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc,
                         int ySrc, int SrcWidth, int SrcHeight, const void* lpBits,
                         const BITMAPINFO* lpbmi, UINT iUsage, DWORD rop) {
    return platform::no_throw<int>(0, [&]() -> int {
        Dc* dc = dc_or_error(hdc);
        Target t;
        if (dc == nullptr || !resolve_target(*dc, t)) {
            return 0;
        }
        DibSource src;
        if (!prepare(src, lpbmi, lpBits, iUsage, dc, 0, dib::kMaxImageBytes)) {
            return 0;
        }
        // The source rectangle in image rows from the top: ySrc counts from the bottom, as for
        // SetDIBitsToDevice.
        const long long top = static_cast<long long>(src.info.height) - ySrc - SrcHeight;
        if (rop == SRCCOPY && DestWidth == SrcWidth && DestHeight == SrcHeight && SrcWidth > 0 &&
            SrcHeight > 0) {
            put(src, dc, *t.surface, static_cast<long long>(xDest) + t.origin_x,
                static_cast<long long>(yDest) + t.origin_y, xSrc, top, SrcWidth, SrcHeight, t.clip);
            return src.info.height;
        }
        if (top < INT_MIN || top > INT_MAX) {
            return 0;
        }
        return stretch_through_blit(hdc, *dc, src, xDest, yDest, DestWidth, DestHeight, xSrc, top,
                                    SrcWidth, SrcHeight, rop)
                   ? src.info.height
                   : 0;
    });
}

HBITMAP WINAPI CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* pbmih, DWORD flInit,
                              const void* pjBits, const BITMAPINFO* pbmi, UINT iUsage) {
    return platform::no_throw<HBITMAP>(nullptr, [&]() -> HBITMAP {
        if (pbmih == nullptr) {
            return nullptr;
        }
        // Only the size is taken from the header here; the data is checked by SetDIBits below.
        LONG width, height;
        if (pbmih->biSize == sizeof(BITMAPCOREHEADER)) {
            const auto* core = reinterpret_cast<const BITMAPCOREHEADER*>(pbmih);
            width = core->bcWidth;
            height = core->bcHeight;
        } else if (pbmih->biSize >= sizeof(BITMAPINFOHEADER) &&
                   pbmih->biSize <= sizeof(BITMAPV5HEADER)) {
            width = pbmih->biWidth;
            height = pbmih->biHeight;
            if (pbmih->biCompression == BI_JPEG || pbmih->biCompression == BI_PNG) {
                return nullptr;
            }
        } else {
            return nullptr;
        }
        if (width < 0 || height == LONG(0x80000000) || iUsage > DIB_PAL_COLORS) {
            return nullptr;
        }
        if (height < 0) {
            height = -height;
        }
        if ((flInit & CBM_INIT) && (pjBits == nullptr || pbmi == nullptr)) {
            return nullptr;
        }
        // The reference DC gives the format: a fresh memory DC (or none) makes a monochrome bitmap.
        HBITMAP bmp = hdc != nullptr ? CreateCompatibleBitmap(hdc, width, height)
                                     : CreateBitmap(width, height, 1, 1, nullptr);
        if (bmp == nullptr) {
            return nullptr;
        }
        if ((flInit & CBM_INIT) &&
            SetDIBits(hdc, bmp, 0, static_cast<UINT>(height), pjBits, pbmi, iUsage) == 0) {
            DeleteObject(bmp);
            return nullptr;
        }
        return bmp;
    });
}

int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits,
                     LPBITMAPINFO lpbmi, UINT usage) {
    return platform::no_throw<int>(0, [&]() -> int {
        Dc* dc = lookup_dc(hdc);
        Bitmap* bmp = lookup_bitmap_as_is(hbm);
        if (dc == nullptr || bmp == nullptr || lpbmi == nullptr || usage > DIB_PAL_COLORS) {
            return 0;
        }
        Bitmap view;
        return get_dib_bits(dc, readable(*bmp, view), start, cLines, lpvBits, lpbmi, usage);
    });
}

} // extern "C"
