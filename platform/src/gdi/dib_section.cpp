// DIB sections (bitmaps whose pixels the program reads and writes directly, laid out as a DIB)
// and their colour tables.
#include "internal/faults.h"
#include "dib_gdi.h"

#include <algorithm>

namespace platform::gdi {

bool dib_fast_paths = true;

void resolve_palette_colors(dib::DibInfo& info, const Dc* dc) {
    if (!info.pal_colors) {
        return;
    }
    const Palette* pal = dc_palette(dc);
    for (int i = 0; i < info.color_count; ++i) {
        const std::size_t index = info.palette_indices[i];
        const PALETTEENTRY e = pal != nullptr && !pal->entries.empty()
                                   ? pal->entries[index < pal->entries.size() ? index : 0]
                                   : PALETTEENTRY{0, 0, 0, 0};
        info.colors[i] = RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
    }
    info.pal_colors = false;
}

const PixelFormat& section_format(const dib::DibInfo& info) {
    switch (info.bit_count) {
    case 1:
        return pixel_format(FormatId::mono);
    case 4:
        return pixel_format(FormatId::index4);
    case 8:
        return pixel_format(FormatId::index8);
    case 16:
        if (info.red.mask == 0x7C00 && info.green.mask == 0x03E0 && info.blue.mask == 0x001F) {
            return pixel_format(FormatId::rgb555);
        }
        if (info.red.mask == 0xF800 && info.green.mask == 0x07E0 && info.blue.mask == 0x001F) {
            return pixel_format(FormatId::rgb565);
        }
        return pixel_format(FormatId::bitfields16);
    case 24:
        return pixel_format(FormatId::rgb24);
    default:
        if (info.red.mask == 0xFF0000 && info.green.mask == 0x00FF00 &&
            info.blue.mask == 0x0000FF) {
            return pixel_format(FormatId::rgb32);
        }
        return pixel_format(FormatId::bitfields32);
    }
}

namespace {

// The section selected in a DC, when it has a colour table.
Bitmap* table_section(HDC hdc) {
    Dc* dc = lookup_dc(hdc);
    if (dc == nullptr || dc->kind != DcKind::memory) {
        return nullptr;
    }
    Bitmap* bmp = lookup_bitmap(dc->state.bitmap);
    if (bmp == nullptr || !bmp->is_dib_section || bmp->colors.empty()) {
        return nullptr;
    }
    return bmp;
}

} // namespace

HBITMAP create_dib_section(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                           HANDLE hSection, bool cleared) {
    return platform::no_throw<HBITMAP>(nullptr, [&]() -> HBITMAP {
        if (ppvBits != nullptr) {
            *ppvBits = nullptr;
        }
        dib::DibInfo info;
        if (!dib::read_info(pbmi, SIZE_MAX, usage, dib::Strictness::gdi, info) ||
            info.compression == BI_RLE8 || info.compression == BI_RLE4) {
            return nullptr;
        }
        // There are no file mappings on this platform to back a section with.
        if (hSection != nullptr) {
            return nullptr;
        }
        resolve_palette_colors(info, lookup_dc(hdc));

        auto bmp = std::make_unique<Bitmap>();
        const std::size_t bytes = info.stride * static_cast<std::size_t>(info.height);
        bmp->owned = allocate_pixels(bytes, cleared);
        if (!bmp->owned) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        bmp->memory = bmp->owned.get();
        bmp->width = info.width;
        bmp->height = info.height;
        bmp->bpp = info.bit_count;
        bmp->stride = static_cast<int>(info.stride);
        bmp->format = &section_format(info);
        bmp->top_down = info.top_down;
        bmp->is_dib_section = true;
        bmp->user_bits = bmp->memory;

        // What GetObjectA reports: a 40-byte header whatever the program passed, the height as a
        // row count, the whole table as used, and 16-bit sections always as bit fields.
        BITMAPINFOHEADER& h = bmp->info;
        h.biSize = sizeof(BITMAPINFOHEADER);
        h.biWidth = info.width;
        h.biHeight = info.height;
        h.biPlanes = 1;
        h.biBitCount = static_cast<WORD>(info.bit_count);
        h.biCompression = info.bit_count == 16 ? BI_BITFIELDS : info.compression;
        h.biSizeImage = static_cast<DWORD>(bytes);
        if (info.header_size >= sizeof(BITMAPINFOHEADER)) {
            h.biXPelsPerMeter = pbmi->bmiHeader.biXPelsPerMeter;
            h.biYPelsPerMeter = pbmi->bmiHeader.biYPelsPerMeter;
        }
        if (info.bit_count <= 8) {
            // The table always has its full size; entries the program did not give are black.
            bmp->colors.assign(std::size_t{1} << info.bit_count, RGBQUAD{0, 0, 0, 0});
            std::copy(info.colors, info.colors + info.color_count, bmp->colors.begin());
            h.biClrUsed = static_cast<DWORD>(bmp->colors.size());
        } else if (info.bit_count == 16 || info.compression == BI_BITFIELDS) {
            bmp->masks[0] = info.red.mask;
            bmp->masks[1] = info.green.mask;
            bmp->masks[2] = info.blue.mask;
        }
        void* bits = bmp->memory;
        HGDIOBJ handle = insert_object(std::move(bmp));
        if (handle == nullptr) {
            return nullptr;
        }
        if (ppvBits != nullptr) {
            *ppvBits = bits;
        }
        return static_cast<HBITMAP>(handle);
    });
}

} // namespace platform::gdi

using namespace platform::gdi;
namespace dib = platform::dib;

extern "C" {

HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                HANDLE hSection, DWORD offset) {
    (void)offset;
    return create_dib_section(hdc, pbmi, usage, ppvBits, hSection, true);
}

UINT WINAPI GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq) {
    Bitmap* bmp = table_section(hdc);
    if (bmp == nullptr || prgbq == nullptr || iStart >= bmp->colors.size()) {
        return 0;
    }
    const UINT n = std::min<UINT>(cEntries, static_cast<UINT>(bmp->colors.size()) - iStart);
    std::copy_n(bmp->colors.begin() + iStart, n, prgbq);
    return n;
}

UINT WINAPI SetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, const RGBQUAD* prgbq) {
    Bitmap* bmp = table_section(hdc);
    if (bmp == nullptr || prgbq == nullptr || iStart >= bmp->colors.size()) {
        return 0;
    }
    const UINT n = std::min<UINT>(cEntries, static_cast<UINT>(bmp->colors.size()) - iStart);
    for (UINT i = 0; i < n; ++i) {
        bmp->colors[iStart + i] = RGBQUAD{prgbq[i].rgbBlue, prgbq[i].rgbGreen, prgbq[i].rgbRed, 0};
    }
    return n;
}

} // extern "C"
