// Logical palettes: creation, entries, selection and realization, nearest colours, and the
// system palette as programs see it.
#include "internal/faults.h"
#include "internal/gdi_internal.h"

#include <algorithm>
#include <cstring>

using namespace platform::gdi;

extern "C" {

HPALETTE WINAPI CreatePalette(const LOGPALETTE* plpal) {
    return platform::no_throw<HPALETTE>(nullptr, [&]() -> HPALETTE {
        // Win32 checks neither the version nor the count: an empty palette is a palette.
        if (plpal == nullptr) {
            return nullptr;
        }
        auto pal = std::make_unique<Palette>();
        pal->entries.assign(plpal->palPalEntry, plpal->palPalEntry + plpal->palNumEntries);
        // Room for the system mapping now, so that RealizePalette never allocates.
        pal->system_index.reserve(pal->entries.size());
        return static_cast<HPALETTE>(insert_object(std::move(pal)));
    });
}

UINT WINAPI GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries,
                              LPPALETTEENTRY pPalEntries) {
    Palette* pal = lookup_palette(hpal);
    if (pal == nullptr) {
        return 0;
    }
    const UINT size = static_cast<UINT>(pal->entries.size());
    if (pPalEntries == nullptr) {
        return size;
    }
    if (iStart >= size) {
        return 0;
    }
    const UINT n = std::min(cEntries, size - iStart);
    std::memcpy(pPalEntries, pal->entries.data() + iStart, n * sizeof(PALETTEENTRY));
    return n;
}

UINT WINAPI SetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries,
                              const PALETTEENTRY* pPalEntries) {
    Palette* pal = lookup_palette(hpal);
    if (pal == nullptr || pal->stock || pPalEntries == nullptr) {
        return 0;
    }
    const UINT size = static_cast<UINT>(pal->entries.size());
    if (iStart >= size) {
        return 0;
    }
    const UINT n = std::min(cEntries, size - iStart);
    std::memcpy(pal->entries.data() + iStart, pPalEntries, n * sizeof(PALETTEENTRY));
    pal->realized_epoch = 0; // the new colours need realizing
    return n;
}

UINT WINAPI GetNearestPaletteIndex(HPALETTE h, COLORREF color) {
    Palette* pal = lookup_palette(h);
    if (pal == nullptr) {
        return CLR_INVALID;
    }
    return static_cast<UINT>(
        nearest_entry(pal->entries.data(), static_cast<int>(pal->entries.size()), color));
}

COLORREF WINAPI GetNearestColor(HDC hdc, COLORREF color) {
    Dc* dc = lookup_dc(hdc);
    Target t;
    if (dc == nullptr || !resolve_target(*dc, t)) {
        return CLR_INVALID;
    }
    // What the DC's surface would actually hold for this colour.
    return pixel_to_color(*t.surface, color_to_pixel(dc, *t.surface, color));
}

HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd) {
    Dc* dc = dc_or_error(hdc);
    Palette* pal = lookup_palette(hPal);
    if (dc == nullptr || pal == nullptr) {
        return nullptr;
    }
    const HPALETTE old = dc->state.palette;
    dc->state.palette_background = bForceBkgd != FALSE;
    if (old != hPal) {
        ++pal->select_count;
        dc->state.palette = hPal;
        release_selection(old);
    }
    return old;
}

UINT WINAPI RealizePalette(HDC hdc) {
    Dc* dc = lookup_dc(hdc);
    if (dc == nullptr) {
        return GDI_ERROR;
    }
    Palette* pal = lookup_palette(dc->state.palette);
    if (pal == nullptr) {
        return GDI_ERROR;
    }
    // Memory DCs realize in the background: they take free slots but push nobody out.
    const bool foreground = !dc->state.palette_background && dc->kind != DcKind::memory;
    return realize_palette(*pal, foreground);
}

UINT WINAPI GetSystemPaletteEntries(HDC hdc, UINT iStart, UINT cEntries,
                                    LPPALETTEENTRY pPalEntries) {
    const int bpp = display_bpp();
    if (lookup_dc(hdc) == nullptr || (bpp != 8 && bpp != 4)) {
        return 0;
    }
    // A 4-bit display's hardware palette is the 16 standard colours.
    const UINT size = bpp == 8 ? 256 : 16;
    if (pPalEntries == nullptr) {
        return size;
    }
    if (iStart >= size) {
        return 0;
    }
    const UINT n = std::min(cEntries, size - iStart);
    if (bpp == 8) {
        std::memcpy(pPalEntries, system_palette() + iStart, n * sizeof(PALETTEENTRY));
    } else {
        const RGBQUAD* q = standard16_colors() + iStart;
        for (UINT i = 0; i < n; ++i) {
            pPalEntries[i] = PALETTEENTRY{q[i].rgbRed, q[i].rgbGreen, q[i].rgbBlue, 0};
        }
    }
    return n;
}

UINT WINAPI GetSystemPaletteUse(HDC hdc) {
    return lookup_dc(hdc) != nullptr ? SYSPAL_STATIC : SYSPAL_ERROR;
}

} // extern "C"
