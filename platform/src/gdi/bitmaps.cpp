// Device-dependent bitmaps: creation, raw bits in WORD-aligned rows, single pixels.
#include "internal/faults.h"
#include "internal/gdi_internal.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace platform::gdi {

void FreeDeleter::operator()(BYTE* p) const {
    std::free(p);
}

// Pixel memory of a large bitmap comes fresh from the system, a page fault for every 4 KiB page
// when it is first written; for a picture of a few megapixels that costs more than the work done
// on it. Such memory is therefore asked for in 2 MiB pages where the system offers them (the
// whole 2 MiB pages inside the block: the bitmap takes no more memory than it did). Memory that
// need not be cleared starts on such a page, so that all but its tail is in them.
constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Smaller blocks from 64 KiB start on a cache line: the kernels' wide loads and stores then never
// straddle two lines when the rows are a whole number of lines long. (Below that, aligning costs
// more than it saves.)
constexpr std::size_t kLineAlign = 64;
constexpr std::size_t kAlignFrom = std::size_t{64} << 10;

static void advise_large_pages(BYTE* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kLarge = kLargePage;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kLarge - 1) & ~(kLarge - 1);
    const std::uintptr_t end = (start + bytes) & ~(kLarge - 1);
    if (end > first) {
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
#else
    (void)block;
    (void)bytes;
#endif
}

std::unique_ptr<BYTE, FreeDeleter> allocate_pixels(std::size_t bytes, bool cleared) {
    if (bytes > kMaxBitmapBytes) {
        return nullptr;
    }
    // calloc: large cleared bitmaps start as untouched zero pages. Blocks under 64 KiB are left to
    // malloc as they come.
    void* block = nullptr;
    if (heap_allocation_fails()) {
        // as if the system had none
    } else if (bytes < kAlignFrom || (cleared && bytes >= kLargePage)) {
        block = cleared ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
    } else if (posix_memalign(&block, bytes < kLargePage ? kLineAlign : kLargePage, bytes) != 0) {
        block = nullptr;
    } else if (cleared) {
        std::memset(block, 0, bytes);
    }
    if (block != nullptr) {
        advise_large_pages(static_cast<BYTE*>(block), bytes);
    } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return std::unique_ptr<BYTE, FreeDeleter>(static_cast<BYTE*>(block));
}

void Bitmap::clear_if_blank() {
    if (blank) {
        std::memset(memory, 0, byte_size());
        blank = false;
    }
}

static long long stride_of(int width, int bpp, int align_bytes) {
    const long long bits = static_cast<long long>(width) * bpp;
    const long long align_bits = 8LL * align_bytes;
    return (bits + align_bits - 1) / align_bits * align_bytes;
}

int ddb_stride(int width, int bpp) {
    return static_cast<int>(stride_of(width, bpp, 2));
}
int dib_stride(int width, int bpp) {
    return static_cast<int>(stride_of(width, bpp, 4));
}

static std::unique_ptr<Bitmap> new_bitmap(int width, int height, int bpp, int row_align,
                                          const PixelFormat* format, bool zero) {
    const long long stride = stride_of(width, bpp, row_align);
    // Divided rather than multiplied: a stride of several gigabytes times a height near INT_MAX
    // does not fit in 64 bits.
    if (width < 0 || height < 0 ||
        (height > 0 && stride > static_cast<long long>(kMaxBitmapBytes) / height)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto bmp = std::make_unique<Bitmap>();
    bmp->owned = allocate_pixels(static_cast<std::size_t>(stride * height), zero);
    if (!bmp->owned) {
        return nullptr;
    }
    bmp->memory = bmp->owned.get();
    bmp->width = width;
    bmp->height = height;
    bmp->bpp = bpp;
    bmp->stride = static_cast<int>(stride);
    bmp->format = format;
    bmp->blank = !zero;
    return bmp;
}

std::unique_ptr<Bitmap> allocate_bitmap(int width, int height, int bpp, int row_align,
                                        const PixelFormat* format) {
    return new_bitmap(width, height, bpp, row_align, format, true);
}

std::unique_ptr<Bitmap> make_ddb(int width, int height, int bpp, bool blank) {
    const PixelFormat* format = ddb_format(bpp);
    if (format == nullptr || width <= 0 || height <= 0) {
        return nullptr;
    }
    return new_bitmap(width, height, bpp, 2, format, !blank);
}

// A new bitmap laid out like a DIB section (same depth, masks and colour table), bottom-up
// whatever the row order of the one it copies, as Windows makes it.
static std::unique_ptr<Bitmap> make_dib_like(const Bitmap& like, int width, int height) {
    auto bmp = allocate_bitmap(width, height, like.bpp, 4, like.format);
    if (!bmp) {
        return nullptr;
    }
    bmp->top_down = false;
    bmp->is_dib_section = true;
    bmp->info = like.info;
    bmp->info.biWidth = width;
    bmp->info.biHeight = height;
    bmp->info.biSizeImage = static_cast<DWORD>(bmp->byte_size());
    std::memcpy(bmp->masks, like.masks, sizeof(bmp->masks));
    bmp->colors = like.colors;
    bmp->user_bits = bmp->memory;
    return bmp;
}

// Win32 rounds a requested depth up to the next one it has.
static int round_depth(UINT bits) {
    if (bits == 1) {
        return 1;
    }
    if (bits >= 2 && bits <= 4) {
        return 4;
    }
    if (bits >= 5 && bits <= 8) {
        return 8;
    }
    if (bits >= 9 && bits <= 16) {
        return 16;
    }
    if (bits >= 17 && bits <= 24) {
        return 24;
    }
    if (bits >= 25 && bits <= 32) {
        return 32;
    }
    return 0;
}

// Resolves a DC's target and maps a logical point to the surface; false when outside the clip.
static bool locate(HDC hdc, int x, int y, Dc*& dc, Target& t, int& sx, int& sy) {
    t.surface = nullptr;
    sx = sy = 0;
    dc = lookup_dc(hdc);
    if (dc == nullptr || !resolve_target(*dc, t)) {
        return false;
    }
    // A point far off a window's context would overflow an int once moved to its place.
    const long long px = static_cast<long long>(x) + t.origin_x;
    const long long py = static_cast<long long>(y) + t.origin_y;
    if (px < t.clip.left || px >= t.clip.right || py < t.clip.top || py >= t.clip.bottom) {
        return false;
    }
    sx = static_cast<int>(px);
    sy = static_cast<int>(py);
    return true;
}

} // namespace platform::gdi

using namespace platform::gdi;

extern "C" {

HBITMAP WINAPI CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                            const void* lpBits) {
    return platform::no_throw<HBITMAP>(nullptr, [&]() -> HBITMAP {
        // Win32 takes the size of a negative extent.
        nWidth = nWidth == INT_MIN ? INT_MIN : std::abs(nWidth);
        nHeight = nHeight == INT_MIN ? INT_MIN : std::abs(nHeight);
        if (nWidth < 0 || nHeight < 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (nWidth == 0 || nHeight == 0) {
            return stock_bitmap();
        }
        const int bpp = round_depth(nBitCount);
        if (nPlanes != 1 || bpp == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        auto bmp = make_ddb(nWidth, nHeight, bpp, true);
        if (!bmp) {
            return nullptr;
        }
        if (lpBits != nullptr) {
            std::memcpy(bmp->memory, lpBits, bmp->byte_size()); // every byte, padding too
            bmp->blank = false;
        }
        return static_cast<HBITMAP>(insert_object(std::move(bmp)));
    });
}

HBITMAP WINAPI CreateBitmapIndirect(const BITMAP* pbm) {
    if (pbm == nullptr) {
        return nullptr;
    }
    return CreateBitmap(pbm->bmWidth, pbm->bmHeight, pbm->bmPlanes, pbm->bmBitsPixel, pbm->bmBits);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    return platform::no_throw<HBITMAP>(nullptr, [&]() -> HBITMAP {
        Dc* dc = lookup_dc(hdc);
        if (dc == nullptr || cx == INT_MIN || cy == INT_MIN) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        cx = std::abs(cx);
        cy = std::abs(cy);
        if (cx == 0 || cy == 0) {
            return stock_bitmap();
        }
        std::unique_ptr<Bitmap> bmp;
        if (dc->kind == DcKind::memory) {
            const Bitmap* selected = lookup_bitmap_as_is(dc->state.bitmap);
            if (selected == nullptr) {
                return nullptr;
            }
            // A DIB section selected makes the new bitmap a section of the same layout.
            bmp = selected->is_dib_section ? make_dib_like(*selected, cx, cy)
                                           : make_ddb(cx, cy, selected->bpp, true);
        } else {
            bmp = make_ddb(cx, cy, display_bpp(), true);
        }
        if (!bmp) {
            return nullptr;
        }
        return static_cast<HBITMAP>(insert_object(std::move(bmp)));
    });
}

LONG WINAPI GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits) {
    Bitmap* bmp = lookup_bitmap(hbit);
    if (bmp == nullptr) {
        return 0;
    }
    const int row_bytes = ddb_stride(bmp->width, bmp->bpp);
    const LONG size = row_bytes * bmp->height;
    if (lpvBits == nullptr) {
        return size;
    }
    if (cb <= 0) {
        return 0;
    }
    const LONG count = std::min(cb, size);
    BYTE* out = static_cast<BYTE*>(lpvBits);
    for (LONG done = 0, y = 0; done < count; done += row_bytes, ++y) {
        const LONG n = std::min<LONG>(row_bytes, count - done);
        std::memcpy(out + done, bmp->row(y), static_cast<std::size_t>(n));
    }
    return count;
}

LONG WINAPI SetBitmapBits(HBITMAP hbm, DWORD cb, const void* pvBits) {
    Bitmap* bmp = lookup_bitmap(hbm);
    if (bmp == nullptr || bmp->stock || pvBits == nullptr) {
        return 0;
    }
    const int row_bytes = ddb_stride(bmp->width, bmp->bpp);
    const LONG size = row_bytes * bmp->height;
    const LONG count = static_cast<LONG>(std::min<DWORD>(cb, static_cast<DWORD>(size)));
    const BYTE* in = static_cast<const BYTE*>(pvBits);
    for (LONG done = 0, y = 0; done < count; done += row_bytes, ++y) {
        // DIB sections have wider rows: only the WORD-aligned part is addressed.
        const LONG n = std::min<LONG>(row_bytes, count - done);
        std::memcpy(bmp->row(y), in + done, static_cast<std::size_t>(n));
    }
    return count;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    Dc* dc;
    Target t;
    int sx, sy;
    if (!locate(hdc, x, y, dc, t, sx, sy)) {
        return CLR_INVALID;
    }
    const Bitmap& s = *t.surface;
    return pixel_to_color(s, s.format->read(s.row(sy), sx));
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
    Dc* dc;
    Target t;
    int sx, sy;
    const bool inside = locate(hdc, x, y, dc, t, sx, sy);
    if (dc == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CLR_INVALID;
    }
    if (t.surface == nullptr) {
        return CLR_INVALID;
    }
    // Outside the clip nothing is written, yet the colour that would be stored is returned.
    Bitmap& s = *t.surface;
    const DWORD value = color_to_pixel(dc, s, color);
    if (inside) {
        s.format->write(s.row(sy), sx, value);
    }
    return pixel_to_color(s, value);
}

BOOL WINAPI SetPixelV(HDC hdc, int x, int y, COLORREF color) {
    return dc_or_error(hdc) != nullptr && SetPixel(hdc, x, y, color) != CLR_INVALID ? TRUE : FALSE;
}

} // extern "C"
