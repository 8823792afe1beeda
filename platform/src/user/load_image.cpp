// LoadImageA and LoadBitmapA: bitmaps from a module's resources or from BMP files, made with the
// public GDI calls. A device-dependent bitmap is made for the display (monochrome for a black
// and white image); LR_CREATEDIBSECTION gives a DIB section at the image's own depth with its
// colours exact.
//
// Choices where Windows leaves room: only IMAGE_BITMAP is supported (icons and cursors fail
// with ERROR_INVALID_PARAMETER); LR_SHARED is accepted but every call makes a new bitmap, which
// the caller may delete; a NULL instance names the system's predefined bitmaps, of which this
// platform has none.
#include "internal/faults.h"
#include "internal/bmp_internal.h"
#include "internal/kernel_internal.h"

#include <cstring>
#include <vector>

namespace platform {

namespace {

bool is_black_or_white(const RGBQUAD& q) {
    const bool black = q.rgbRed == 0 && q.rgbGreen == 0 && q.rgbBlue == 0;
    const bool white = q.rgbRed == 0xFF && q.rgbGreen == 0xFF && q.rgbBlue == 0xFF;
    return black || white;
}

RGBQUAD quad_of(COLORREF c) {
    return RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
}

RGBQUAD* color_table(DecodedDib& dib) {
    BYTE* p = dib.info.data() + sizeof(BITMAPINFOHEADER);
    if (dib.bitmap_info()->bmiHeader.biCompression == BI_BITFIELDS) {
        p += 3 * sizeof(DWORD);
    }
    return reinterpret_cast<RGBQUAD*>(p);
}

int color_count(const DecodedDib& dib) {
    return dib.bit_count <= 8 ? static_cast<int>(dib.bitmap_info()->bmiHeader.biClrUsed) : 0;
}

// Index of the first stored pixel (the bottom-left one of a bottom-up image).
int first_pixel_index(const DecodedDib& dib) {
    const BYTE b = dib.bits.empty() ? 0 : dib.bits[0];
    return dib.bit_count == 1 ? b >> 7 : dib.bit_count == 4 ? b >> 4 : b;
}

// The colour-table edits of LR_LOADMAP3DCOLORS and LR_LOADTRANSPARENT. They only apply to
// images with a colour table.
void recolor(DecodedDib& dib, UINT flags) {
    const int count = color_count(dib);
    if (count == 0) {
        return;
    }
    RGBQUAD* table = color_table(dib);
    const int first = first_pixel_index(dib);
    const bool transparent = (flags & LR_LOADTRANSPARENT) && first < count;
    const RGBQUAD first_color = transparent ? table[first] : RGBQUAD{};
    if (flags & LR_LOADMAP3DCOLORS) {
        struct Map {
            BYTE grey;
            int sys_color;
        };
        const Map maps[] = {{128, COLOR_3DSHADOW}, {192, COLOR_3DFACE}, {223, COLOR_3DLIGHT}};
        for (int i = 0; i < count; ++i) {
            for (const Map& m : maps) {
                if (table[i].rgbRed == m.grey && table[i].rgbGreen == m.grey &&
                    table[i].rgbBlue == m.grey) {
                    table[i] = quad_of(GetSysColor(m.sys_color));
                    break;
                }
            }
        }
    }
    if (transparent) {
        // Every entry of the first pixel's colour takes the background colour.
        const RGBQUAD background =
            quad_of(GetSysColor((flags & LR_LOADMAP3DCOLORS) ? COLOR_3DFACE : COLOR_WINDOW));
        for (int i = 0; i < count; ++i) {
            if (std::memcmp(&table[i], &first_color, sizeof(RGBQUAD)) == 0) {
                table[i] = background;
            }
        }
    }
}

// An RLE image whose stream skipped pixels: as 32-bit colours with the skipped ones black,
// which is what a new device-dependent bitmap shows where SetDIBits wrote nothing.
DecodedDib with_unwritten_black(const DecodedDib& dib) {
    DecodedDib out;
    out.width = dib.width;
    out.height = dib.height;
    out.bit_count = 32;
    BITMAPINFOHEADER h = {};
    h.biSize = sizeof h;
    h.biWidth = dib.width;
    h.biHeight = dib.height; // RLE images are bottom-up
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    out.info.resize(sizeof h);
    std::memcpy(out.info.data(), &h, sizeof h);

    dib::DibInfo info;
    dib::read_info(dib.info.data(), dib.info.size(), DIB_RGB_COLORS, dib::Strictness::gdi, info);
    const std::size_t w = static_cast<std::size_t>(dib.width);
    out.bits.resize(w * 4 * static_cast<std::size_t>(dib.height));
    std::vector<COLORREF> row(w);
    for (std::size_t y = 0; y < static_cast<std::size_t>(dib.height); ++y) {
        dib::read_row_colors(info, dib.bits.data() + y * info.stride, 0, dib.width, row.data());
        for (std::size_t x = 0; x < w; ++x) {
            const COLORREF c = dib.written[y * w + x] ? row[x] : RGB(0, 0, 0);
            const RGBQUAD q = quad_of(c);
            std::memcpy(out.bits.data() + (y * w + x) * 4, &q, 4);
        }
    }
    return out;
}

// Copies the image into `bitmap`, stretched to its size when that differs.
bool fill(HBITMAP bitmap, const DecodedDib& dib, int width, int height) {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return false;
    }
    bool ok;
    if (width == dib.width && height == dib.height) {
        ok = SetDIBits(screen, bitmap, 0, static_cast<UINT>(dib.height), dib.bits.data(),
                       dib.bitmap_info(), DIB_RGB_COLORS) == dib.height;
    } else {
        HDC memory = CreateCompatibleDC(screen);
        HGDIOBJ old = memory != nullptr ? SelectObject(memory, bitmap) : nullptr;
        ok = old != nullptr;
        if (ok) {
            SetStretchBltMode(memory, COLORONCOLOR);
            ok = StretchDIBits(memory, 0, 0, width, height, 0, 0, dib.width, dib.height,
                               dib.bits.data(), dib.bitmap_info(), DIB_RGB_COLORS, SRCCOPY) != 0;
            SelectObject(memory, old);
        }
        if (memory != nullptr) {
            DeleteDC(memory);
        }
    }
    ReleaseDC(nullptr, screen);
    return ok;
}

} // namespace

HBITMAP create_bitmap(const BmpImage& image, UINT flags, int cx, int cy) {
    DecodedDib dib;
    if (!decode_dib(image, dib)) {
        return nullptr;
    }
    recolor(dib, flags);
    // Sizes other than zero ask for the image stretched to them.
    const int width = cx > 0 ? cx : dib.width;
    const int height = cy > 0 ? cy : dib.height;

    const int colors = color_count(dib);
    const RGBQUAD* table = color_table(dib);
    const bool black_and_white = dib.bit_count == 1 && colors == 2 && is_black_or_white(table[0]) &&
                                 is_black_or_white(table[1]);
    const bool monochrome = (flags & LR_MONOCHROME) != 0 || black_and_white;

    if ((flags & LR_CREATEDIBSECTION) && !(flags & LR_MONOCHROME)) {
        std::vector<BYTE> info = dib.info;
        auto* header = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
        header->biWidth = width;
        header->biHeight = dib.top_down ? -height : height;
        header->biSizeImage = 0;
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()),
                                           DIB_RGB_COLORS, &bits, nullptr, 0);
        if (section == nullptr) {
            return nullptr;
        }
        if (width == dib.width && height == dib.height && bits != nullptr) {
            std::memcpy(bits, dib.bits.data(), dib.bits.size());
        } else if (!fill(section, dib, width, height)) {
            DeleteObject(section);
            return nullptr;
        }
        return section;
    }

    HBITMAP bitmap = nullptr;
    if (monochrome) {
        bitmap = CreateBitmap(width, height, 1, 1, nullptr);
    } else {
        HDC screen = GetDC(nullptr);
        if (screen != nullptr) {
            bitmap = CreateCompatibleBitmap(screen, width, height);
            ReleaseDC(nullptr, screen);
        }
    }
    if (bitmap == nullptr) {
        return nullptr;
    }
    const bool ok = dib.written.empty() ? fill(bitmap, dib, width, height)
                                        : fill(bitmap, with_unwritten_black(dib), width, height);
    if (!ok) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

} // namespace platform

extern "C" HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy,
                                    UINT fuLoad) {
    return platform::no_throw<HANDLE>(nullptr, [&]() -> HANDLE {
        if (type != IMAGE_BITMAP || name == nullptr || cx < 0 || cy < 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        platform::BmpImage image;
        std::vector<unsigned char> file;
        if (fuLoad & LR_LOADFROMFILE) {
            if (IS_INTRESOURCE(name) ||
                !platform::read_whole_file(name, file, platform::kMaxBmpFileSize)) {
                return nullptr;
            }
            if (!platform::read_bmp_file(file.data(), file.size(), image)) {
                SetLastError(ERROR_INVALID_DATA);
                return nullptr;
            }
        } else {
            if (hInst == nullptr) {
                SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
                return nullptr;
            }
            HRSRC resource = FindResourceA(hInst, name, RT_BITMAP);
            if (resource == nullptr) {
                return nullptr;
            }
            const auto* data =
                static_cast<const BYTE*>(LockResource(LoadResource(hInst, resource)));
            if (data == nullptr ||
                !platform::read_packed_dib(data, SizeofResource(hInst, resource), image)) {
                SetLastError(ERROR_INVALID_DATA);
                return nullptr;
            }
        }
        return platform::create_bitmap(image, fuLoad, cx, cy);
    });
}

extern "C" HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName) {
    return static_cast<HBITMAP>(
        LoadImageA(hInstance, lpBitmapName, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}
