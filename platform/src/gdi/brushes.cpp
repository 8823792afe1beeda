// Brushes, and the one kind of text output the library uses: an opaque rectangle fill.
#include "internal/faults.h"
#include "internal/gdi_internal.h"

#include <cstring>

namespace platform::gdi {

// An independent copy of a bitmap's pixels and layout.
static std::unique_ptr<Bitmap> copy_bitmap(const Bitmap& src) {
    auto bmp = std::make_unique<Bitmap>();
    bmp->owned = allocate_pixels(src.byte_size());
    if (!bmp->owned) {
        return nullptr;
    }
    std::memcpy(bmp->owned.get(), src.memory, src.byte_size());
    bmp->memory = bmp->owned.get();
    bmp->width = src.width;
    bmp->height = src.height;
    bmp->bpp = src.bpp;
    bmp->stride = src.stride;
    bmp->format = src.format;
    bmp->top_down = src.top_down;
    bmp->is_dib_section = src.is_dib_section;
    bmp->info = src.info;
    std::memcpy(bmp->masks, src.masks, sizeof(bmp->masks));
    bmp->colors = src.colors;
    return bmp;
}

} // namespace platform::gdi

using namespace platform::gdi;

extern "C" {

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    return platform::no_throw<HBRUSH>(nullptr, [&]() -> HBRUSH {
        auto brush = std::make_unique<Brush>();
        brush->style = BS_SOLID;
        brush->color = color;
        return static_cast<HBRUSH>(insert_object(std::move(brush)));
    });
}

HBRUSH WINAPI CreatePatternBrush(HBITMAP hbm) {
    return platform::no_throw<HBRUSH>(nullptr, [&]() -> HBRUSH {
        const Bitmap* src = lookup_bitmap(hbm);
        if (src == nullptr) {
            return nullptr;
        }
        auto brush = std::make_unique<Brush>();
        brush->style = BS_PATTERN;
        brush->hatch = reinterpret_cast<ULONG_PTR>(hbm);
        // The brush keeps its own pixels: deleting the bitmap afterwards leaves it working.
        brush->pattern = copy_bitmap(*src);
        if (!brush->pattern) {
            return nullptr;
        }
        brush->pattern->stock = true;
        return static_cast<HBRUSH>(insert_object(std::move(brush)));
    });
}

HBRUSH WINAPI CreateBrushIndirect(const LOGBRUSH* plbrush) {
    if (plbrush == nullptr) {
        return nullptr;
    }
    switch (plbrush->lbStyle) {
    case BS_SOLID:
        return CreateSolidBrush(plbrush->lbColor);
    case BS_NULL:
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    case BS_PATTERN:
        return CreatePatternBrush(reinterpret_cast<HBITMAP>(plbrush->lbHatch));
    default:
        return nullptr; // hatched and DIB-pattern brushes are not part of this subset
    }
}

BOOL WINAPI ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT* lprect, LPCSTR lpString,
                        UINT c, const INT* lpDx) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        (void)x;
        (void)y;
        (void)lpDx;
        Dc* dc = dc_or_error(hdc);
        if (dc == nullptr) {
            return FALSE;
        }
        if (c > 0 && lpString == nullptr) {
            return FALSE;
        }
        if ((options & ETO_OPAQUE) != 0 && lprect != nullptr) {
            Brush bk;
            bk.color = dc->state.bk_color;
            if (!fill_rect(*dc, *lprect, bk)) {
                return FALSE;
            }
        }
        // Glyphs are not drawn: the library only uses the opaque rectangle.
        return TRUE;
    });
}

} // extern "C"
