// LoadImageA and LoadBitmapA: bitmaps from a module's resources or from BMP files, made with the
// public GDI calls. A device-dependent bitmap is made for the display (monochrome for a black
// and white image); LR_CREATEDIBSECTION gives a DIB section at the image's own depth with its
// colours exact.
//
// Choices where Windows leaves room: only IMAGE_BITMAP is supported (icons and cursors fail
// with ERROR_INVALID_PARAMETER); LR_SHARED is accepted but every call makes a new bitmap, which
// the caller may delete; a NULL instance names the system's predefined bitmaps, of which this
// platform has none.
//
// A file is read in two steps: its head (file header, description, colour table), then the
// rest. An uncompressed image loaded as a DIB section of its own size, the usual way to get at
// a picture's pixels, has its pixels read straight into the section's memory: no copy of the
// file is made and nothing is cleared first.
#include "internal/faults.h"
#include "internal/bmp_internal.h"
#include "internal/gdi_internal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
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

// Index of the first stored pixel (the bottom-left one of a bottom-up image), whose first byte
// is `b`.
int first_pixel_index(int bit_count, BYTE b) {
    return bit_count == 1 ? b >> 7 : bit_count == 4 ? b >> 4 : b;
}

// The colour-table edits of LR_LOADMAP3DCOLORS and LR_LOADTRANSPARENT. They only apply to
// images with a colour table; `first_byte` is the first byte of the pixels.
void recolor(DecodedDib& dib, UINT flags, BYTE first_byte) {
    const int count = color_count(dib);
    if (count == 0) {
        return;
    }
    RGBQUAD* table = color_table(dib);
    const int first = first_pixel_index(dib.bit_count, first_byte);
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
    out.decoded.resize(w * 4 * static_cast<std::size_t>(dib.height));
    std::vector<COLORREF> row(w);
    for (std::size_t y = 0; y < static_cast<std::size_t>(dib.height); ++y) {
        dib::read_row_colors(info, dib.bits + y * info.stride, 0, dib.width, row.data());
        for (std::size_t x = 0; x < w; ++x) {
            const COLORREF c = dib.written[y * w + x] ? row[x] : RGB(0, 0, 0);
            const RGBQUAD q = quad_of(c);
            std::memcpy(out.decoded.data() + (y * w + x) * 4, &q, 4);
        }
    }
    out.bits = out.decoded.data();
    out.bits_size = out.decoded.size();
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
        ok = SetDIBits(screen, bitmap, 0, static_cast<UINT>(dib.height), dib.bits,
                       dib.bitmap_info(), DIB_RGB_COLORS) == dib.height;
    } else {
        HDC memory = CreateCompatibleDC(screen);
        HGDIOBJ old = memory != nullptr ? SelectObject(memory, bitmap) : nullptr;
        ok = old != nullptr;
        if (ok) {
            SetStretchBltMode(memory, COLORONCOLOR);
            ok = StretchDIBits(memory, 0, 0, width, height, 0, 0, dib.width, dib.height, dib.bits,
                               dib.bitmap_info(), DIB_RGB_COLORS, SRCCOPY) != 0;
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
    recolor(dib, flags, dib.bits_size > 0 ? dib.bits[0] : 0);
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
        // At the image's own size every byte is copied in: no need to clear them first.
        const bool copy = width == dib.width && height == dib.height;
        void* bits = nullptr;
        HBITMAP section =
            gdi::create_dib_section(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()),
                                    DIB_RGB_COLORS, &bits, nullptr, !copy);
        if (section == nullptr) {
            return nullptr;
        }
        if (copy && bits != nullptr) {
            std::memcpy(bits, dib.bits, dib.bits_size);
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

namespace {

// What is read of a file first: the file header, the largest description and a full colour
// table (1162 bytes at most), with room to spare.
constexpr std::size_t kHeadBytes = 2048;

struct FileCloser {
    HANDLE file;
    ~FileCloser() { CloseHandle(file); }
};

// Reads exactly `size` bytes at the file's position; a file that turns out shorter than it was
// is not a bitmap any more.
bool read_exactly(HANDLE file, BYTE* out, std::size_t size) {
    DWORD got = 0;
    if (!ReadFile(file, out, static_cast<DWORD>(size), &got, nullptr)) {
        return false;
    }
    if (got != size) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    return true;
}

// An uncompressed image as a DIB section of its own size, its pixels read from the file into
// the section. `head` holds the first `have` bytes of the file, read already.
HBITMAP read_section(HANDLE file, const BYTE* head, std::size_t have, std::size_t offset,
                     const BmpImage& image, UINT flags) {
    DecodedDib dib;
    describe_dib(image.info, dib);
    recolor(dib, flags, offset < have ? head[offset] : 0);
    reinterpret_cast<BITMAPINFOHEADER*>(dib.info.data())->biSizeImage = 0;
    void* memory = nullptr;
    HBITMAP section = gdi::create_dib_section(nullptr, dib.bitmap_info(), DIB_RGB_COLORS, &memory,
                                              nullptr, false);
    if (section == nullptr) {
        return nullptr;
    }
    // The section's memory is exactly the file's pixel array: every byte is read into it.
    BYTE* bits = static_cast<BYTE*>(memory);
    std::size_t done = 0;
    bool ok = true;
    if (offset < have) {
        done = std::min(have - offset, image.bits_size);
        std::memcpy(bits, head + offset, done);
    } else if (offset > have) {
        ok = SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
             static_cast<DWORD>(offset);
    }
    ok = ok && read_exactly(file, bits + done, image.bits_size - done);
    if (!ok) {
        const DWORD error = GetLastError();
        DeleteObject(section);
        SetLastError(error);
        return nullptr;
    }
    return section;
}

HBITMAP load_file(LPCSTR name, UINT flags, int cx, int cy) {
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    FileCloser closer{file};
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    const std::size_t size = low;
    if (high != 0 || size > kMaxBmpFileSize) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    BYTE head[kHeadBytes];
    const std::size_t have = std::min(size, kHeadBytes);
    if (!read_exactly(file, head, have)) {
        return nullptr;
    }
    BmpImage image;
    std::size_t offset = 0;
    if (!read_bmp_file_head(head, have, size, image, offset)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    const dib::DibInfo& info = image.info;
    const bool rle = info.compression == BI_RLE8 || info.compression == BI_RLE4;
    const bool own_size = (cx == 0 || cx == info.width) && (cy == 0 || cy == info.height);
    // LR_LOADTRANSPARENT looks at the first pixel before the section is made.
    const bool first_pixel_known = !(flags & LR_LOADTRANSPARENT) || offset < have;
    if (!rle && own_size && first_pixel_known && (flags & LR_CREATEDIBSECTION) &&
        !(flags & LR_MONOCHROME)) {
        return read_section(file, head, have, offset, image, flags);
    }

    // Anything else is made from the whole file.
    std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[size]);
    if (data == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::memcpy(data.get(), head, have);
    if (!read_exactly(file, data.get() + have, size - have)) {
        return nullptr;
    }
    if (!read_bmp_file(data.get(), size, image)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    return create_bitmap(image, flags, cx, cy);
}

} // namespace

} // namespace platform

extern "C" HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy,
                                    UINT fuLoad) {
    return platform::no_throw<HANDLE>(nullptr, [&]() -> HANDLE {
        if (type != IMAGE_BITMAP || name == nullptr || cx < 0 || cy < 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (fuLoad & LR_LOADFROMFILE) {
            if (IS_INTRESOURCE(name)) {
                return nullptr;
            }
            return platform::load_file(name, fuLoad, cx, cy);
        }
        if (hInst == nullptr) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        HRSRC resource = FindResourceA(hInst, name, RT_BITMAP);
        if (resource == nullptr) {
            return nullptr;
        }
        const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(hInst, resource)));
        platform::BmpImage image;
        if (data == nullptr ||
            !platform::read_packed_dib(data, SizeofResource(hInst, resource), image)) {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
        return platform::create_bitmap(image, fuLoad, cx, cy);
    });
}

extern "C" HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName) {
    return static_cast<HBITMAP>(
        LoadImageA(hInstance, lpBitmapName, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}
