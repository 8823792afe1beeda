// Colours to raw pixels and back, through the DC's palette where the format has indices.
#include "internal/gdi_internal.h"

namespace platform::gdi {

const Palette* dc_palette(const Dc* dc) {
    if (dc != nullptr) {
        if (const Palette* pal = lookup_palette(dc->state.palette)) {
            return pal;
        }
    }
    return lookup_palette(default_palette());
}

DWORD color_to_pixel(const Dc* dc, const Bitmap& bmp, COLORREF color) {
    const Palette* pal = dc_palette(dc);
    const bool system_indices = !bmp.is_dib_section && bmp.bpp == 8;
    const DWORD kind = color >> 24;
    if (kind == 0x01) {
        // PALETTEINDEX: an entry of the selected palette (entry 0 when out of range, black
        // when the palette has no entries at all).
        DWORD index = color & 0xFFFF;
        if (index >= pal->entries.size()) {
            index = 0;
        }
        if (pal->entries.empty()) {
            color = 0;
        } else if (system_indices) {
            return palette_entry_system_index(*pal, static_cast<int>(index));
        } else {
            const PALETTEENTRY& e = pal->entries[index];
            color = RGB(e.peRed, e.peGreen, e.peBlue);
        }
    } else if (kind == 0xFF) {
        color = 0; // Win32 draws such colours as black
    } else {
        color &= 0x00FFFFFF;
    }
    if (!bmp.format->indexed) {
        return bmp.format->from_rgb(bmp, color);
    }
    if (system_indices) {
        // 8-bit DDBs hold system indices: nearest logical entry, then where it was realized.
        int entry =
            nearest_entry(pal->entries.data(), static_cast<int>(pal->entries.size()), color);
        return palette_entry_system_index(*pal, entry);
    }
    ColorTable ct = color_table(bmp);
    if (ct.count == 0) {
        return 0;
    }
    return static_cast<DWORD>(nearest_entry(ct.entries, ct.count, color));
}

COLORREF pixel_to_color(const Bitmap& bmp, DWORD value) {
    if (!bmp.format->indexed) {
        return bmp.format->to_rgb(bmp, value);
    }
    ColorTable ct = color_table(bmp);
    if (value >= static_cast<DWORD>(ct.count)) {
        return 0;
    }
    const RGBQUAD& q = ct.entries[value];
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

} // namespace platform::gdi
