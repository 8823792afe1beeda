// Device contexts: creation and deletion, selection rules, drawing state, device capabilities.
#include "internal/faults.h"
#include "internal/gdi_internal.h"
#include "platform/host.h"

#include <algorithm>
#include <strings.h>
#include <utility>

namespace platform::gdi {
namespace {

HDC new_dc(DcKind kind, const RECT* area) {
    auto dc = std::make_unique<Dc>(kind);
    if (area != nullptr) {
        dc->whole_screen = false;
        dc->area = *area;
    }
    dc->state.brush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    dc->state.pen = GetStockObject(BLACK_PEN);
    dc->state.palette = default_palette();
    if (kind == DcKind::memory) {
        dc->state.bitmap = stock_bitmap();
    }
    return static_cast<HDC>(insert_object(std::move(dc)));
}

void free_dc(HDC hdc, Dc& dc) {
    if (Bitmap* bmp = lookup_bitmap_as_is(dc.state.bitmap)) {
        if (bmp->selected_into == hdc) {
            bmp->selected_into = nullptr;
        }
    }
    const HGDIOBJ brush = dc.state.brush;
    const HGDIOBJ pen = dc.state.pen;
    const HGDIOBJ pal = dc.state.palette;
    destroy_object(hdc);
    release_selection(brush);
    release_selection(pen);
    release_selection(pal);
}

HGDIOBJ select_bitmap(HDC hdc, Dc& dc, HGDIOBJ h, Bitmap& bmp) {
    if (dc.kind != DcKind::memory) {
        return nullptr;
    }
    if (dc.state.bitmap == h) {
        return h;
    }
    if (!bmp.stock && bmp.selected_into != nullptr) {
        return nullptr; // one DC at a time
    }
    // Device-dependent bitmaps fit a memory DC only when monochrome or in the display's format.
    if (!bmp.is_dib_section && bmp.bpp != 1 && bmp.bpp != display_bpp()) {
        return nullptr;
    }
    const HGDIOBJ old = dc.state.bitmap;
    if (Bitmap* prev = lookup_bitmap_as_is(old)) {
        if (prev->selected_into == hdc) {
            prev->selected_into = nullptr;
        }
    }
    if (!bmp.stock) {
        bmp.selected_into = hdc;
    }
    dc.state.bitmap = static_cast<HBITMAP>(h);
    return old;
}

template <class H> HGDIOBJ swap_selection(H& slot, HGDIOBJ h, Object& obj) {
    const HGDIOBJ old = slot;
    if (old == h) {
        return old;
    }
    ++obj.select_count;
    slot = static_cast<H>(h);
    release_selection(old);
    return old;
}

} // namespace

bool resolve_target(const Dc& dc, Target& out, Access access) {
    if (dc.kind == DcKind::memory) {
        Bitmap* bmp = lookup_bitmap_as_is(dc.state.bitmap);
        if (bmp == nullptr) {
            return false;
        }
        out.surface = bmp;
        out.origin_x = 0;
        out.origin_y = 0;
        out.clip = RECT{0, 0, bmp->width, bmp->height};
        if (access == Access::any) {
            bmp->settle();
        } else if (access == Access::blit_dst) {
            bmp->release_copies();
        } else if (bmp->waiting) {
            resolve_waiting_source(out);
        } else {
            bmp->clear_if_blank();
        }
        return true;
    }
    Bitmap& screen = screen_surface();
    out.surface = &screen;
    out.clip = RECT{0, 0, screen.width, screen.height};
    out.origin_x = 0;
    out.origin_y = 0;
    if (!dc.whole_screen) {
        out.origin_x = dc.area.left;
        out.origin_y = dc.area.top;
        out.clip.left = std::max(out.clip.left, dc.area.left);
        out.clip.top = std::max(out.clip.top, dc.area.top);
        out.clip.right = std::min(out.clip.right, dc.area.right);
        out.clip.bottom = std::min(out.clip.bottom, dc.area.bottom);
    }
    if (dc.clipped) {
        out.clip.left = std::max(out.clip.left, dc.clip.left);
        out.clip.top = std::max(out.clip.top, dc.clip.top);
        out.clip.right = std::min(out.clip.right, dc.clip.right);
        out.clip.bottom = std::min(out.clip.bottom, dc.clip.bottom);
    }
    if (out.clip.right < out.clip.left) {
        out.clip.right = out.clip.left;
    }
    if (out.clip.bottom < out.clip.top) {
        out.clip.bottom = out.clip.top;
    }
    return true;
}

HDC create_screen_dc(const RECT* area) {
    return new_dc(DcKind::screen, area);
}

void clip_screen_dc(HDC hdc, const RECT& clip) {
    Dc* dc = lookup_dc(hdc);
    if (dc != nullptr && dc->kind == DcKind::screen) {
        dc->clipped = true;
        dc->clip = clip;
    }
}

bool release_screen_dc(HDC hdc) {
    Dc* dc = lookup_dc(hdc);
    if (dc == nullptr || dc->kind != DcKind::screen) {
        return false;
    }
    free_dc(hdc, *dc);
    return true;
}

} // namespace platform::gdi

using namespace platform::gdi;

extern "C" {

HDC WINAPI CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR, const void*) {
    return platform::no_throw<HDC>(nullptr, [&]() -> HDC {
        const char* name = pwszDriver != nullptr ? pwszDriver : pwszDevice;
        if (name == nullptr) {
            return nullptr;
        }
        if (strcasecmp(name, "DISPLAY") != 0 && strcasecmp(name, "\\\\.\\DISPLAY1") != 0) {
            return nullptr;
        }
        return new_dc(DcKind::display, nullptr);
    });
}

HDC WINAPI CreateCompatibleDC(HDC hdc) {
    return platform::no_throw<HDC>(nullptr, [&]() -> HDC {
        if (hdc != nullptr && lookup_dc(hdc) == nullptr) {
            return nullptr;
        }
        return new_dc(DcKind::memory, nullptr);
    });
}

BOOL WINAPI DeleteDC(HDC hdc) {
    Dc* dc = dc_or_error(hdc);
    if (dc == nullptr) {
        return FALSE;
    }
    free_dc(hdc, *dc);
    return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    Dc* dc = dc_or_error(hdc);
    Object* obj = lookup(h);
    if (dc == nullptr || obj == nullptr) {
        return nullptr;
    }
    switch (obj->type) {
    case OBJ_BITMAP:
        return select_bitmap(hdc, *dc, h, *static_cast<Bitmap*>(obj));
    case OBJ_BRUSH:
        return swap_selection(dc->state.brush, h, *obj);
    case OBJ_PEN:
        return swap_selection(dc->state.pen, h, *obj);
    default:
        return nullptr; // palettes go through SelectPalette
    }
}

HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type) {
    Dc* dc = lookup_dc(hdc);
    if (dc == nullptr) {
        return nullptr;
    }
    switch (type) {
    case OBJ_BITMAP:
        return dc->state.bitmap;
    case OBJ_BRUSH:
        return dc->state.brush;
    case OBJ_PEN:
        return dc->state.pen;
    case OBJ_PAL:
        return dc->state.palette;
    default:
        return nullptr;
    }
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
    if (dc_or_error(hdc) == nullptr) {
        return 0;
    }
    const host::DisplayMode mode = host::display_mode();
    const int bpp = mode.bits_per_pixel;
    switch (index) {
    case DRIVERVERSION:
        return 0x4000;
    case TECHNOLOGY:
        return DT_RASDISPLAY;
    case HORZSIZE:
        return (mode.width * 254 + 480) / 960; // millimetres at 96 dots per inch
    case VERTSIZE:
        return (mode.height * 254 + 480) / 960;
    case HORZRES:
        return mode.width;
    case VERTRES:
        return mode.height;
    case BITSPIXEL:
        return bpp;
    case PLANES:
        return 1;
    case NUMBRUSHES:
    case NUMPENS:
        return -1;
    case NUMCOLORS:
        return bpp == 8 ? 20 : bpp == 4 ? 16 : -1;
    case RASTERCAPS:
        return RC_BITBLT | RC_BITMAP64 | RC_GDI20_OUTPUT | RC_DI_BITMAP | RC_DIBTODEV | RC_BIGFONT |
               RC_STRETCHBLT | RC_FLOODFILL | RC_STRETCHDIB | RC_DEVBITS |
               (bpp <= 8 ? RC_PALETTE : 0);
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    case SIZEPALETTE:
        return bpp == 8 ? 256 : bpp == 4 ? 16 : 0;
    case NUMRESERVED:
        return 20;
    case COLORRES:
        return bpp <= 8 ? 18 : 24;
    default:
        return 0;
    }
}

int WINAPI SetMapMode(HDC hdc, int iMode) {
    Dc* dc = dc_or_error(hdc);
    if (dc == nullptr || iMode < MM_TEXT || iMode > MM_ANISOTROPIC) {
        return 0;
    }
    return std::exchange(dc->state.map_mode, iMode);
}

int WINAPI GetMapMode(HDC hdc) {
    Dc* dc = dc_or_error(hdc);
    return dc != nullptr ? dc->state.map_mode : 0;
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
    Dc* dc = dc_or_error(hdc);
    return dc != nullptr ? std::exchange(dc->state.bk_color, color) : CLR_INVALID;
}

COLORREF WINAPI GetBkColor(HDC hdc) {
    Dc* dc = dc_or_error(hdc);
    return dc != nullptr ? dc->state.bk_color : CLR_INVALID;
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
    Dc* dc = dc_or_error(hdc);
    return dc != nullptr ? std::exchange(dc->state.text_color, color) : CLR_INVALID;
}

COLORREF WINAPI GetTextColor(HDC hdc) {
    Dc* dc = dc_or_error(hdc);
    return dc != nullptr ? dc->state.text_color : CLR_INVALID;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
    Dc* dc = dc_or_error(hdc);
    if (dc == nullptr) {
        return 0;
    }
    if (mode != TRANSPARENT && mode != OPAQUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return std::exchange(dc->state.bk_mode, mode);
}

int WINAPI GetBkMode(HDC hdc) {
    Dc* dc = dc_or_error(hdc);
    return dc != nullptr ? dc->state.bk_mode : 0;
}

int WINAPI SetStretchBltMode(HDC hdc, int mode) {
    Dc* dc = dc_or_error(hdc);
    if (dc == nullptr) {
        return 0;
    }
    if (mode < BLACKONWHITE || mode > HALFTONE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return std::exchange(dc->state.stretch_mode, mode);
}

int WINAPI GetStretchBltMode(HDC hdc) {
    Dc* dc = dc_or_error(hdc);
    return dc != nullptr ? dc->state.stretch_mode : 0;
}

BOOL WINAPI SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT lppt) {
    Dc* dc = dc_or_error(hdc);
    if (dc == nullptr) {
        return FALSE;
    }
    if (lppt != nullptr) {
        *lppt = dc->state.brush_org;
    }
    dc->state.brush_org = POINT{x, y};
    return TRUE;
}

BOOL WINAPI GetBrushOrgEx(HDC hdc, LPPOINT lppt) {
    Dc* dc = dc_or_error(hdc);
    if (dc == nullptr || lppt == nullptr) {
        return FALSE;
    }
    *lppt = dc->state.brush_org;
    return TRUE;
}

int WINAPI SaveDC(HDC hdc) {
    return platform::no_throw<int>(0, [&]() -> int {
        Dc* dc = dc_or_error(hdc);
        if (dc == nullptr) {
            return 0;
        }
        dc->saved.push_back(dc->state);
        return static_cast<int>(dc->saved.size());
    });
}

BOOL WINAPI RestoreDC(HDC hdc, int nSavedDC) {
    Dc* dc = dc_or_error(hdc);
    if (dc == nullptr) {
        return FALSE;
    }
    const int depth = static_cast<int>(dc->saved.size());
    // Negative values count back from the most recent save.
    const int level = nSavedDC < 0 ? depth + 1 + nSavedDC : nSavedDC;
    if (level < 1 || level > depth) {
        return FALSE;
    }
    const DcState saved = dc->saved[level - 1];
    dc->saved.resize(level - 1);
    // Objects go back through the selection rules: one deleted or taken meanwhile stays out.
    if (saved.bitmap != nullptr) {
        SelectObject(hdc, saved.bitmap);
    }
    SelectObject(hdc, saved.brush);
    SelectObject(hdc, saved.pen);
    SelectPalette(hdc, saved.palette, saved.palette_background);
    dc->state.bk_color = saved.bk_color;
    dc->state.text_color = saved.text_color;
    dc->state.map_mode = saved.map_mode;
    dc->state.bk_mode = saved.bk_mode;
    dc->state.stretch_mode = saved.stretch_mode;
    dc->state.brush_org = saved.brush_org;
    return TRUE;
}

BOOL WINAPI GdiFlush(void) {
    return TRUE;
}

} // extern "C"
