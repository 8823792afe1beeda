// Window capture of CImage: copies a window, part of a window or a screen rectangle from the
// display and saves it, as an 8-bit BMP file with the system palette on a display with a
// 256-entry hardware palette, and as a JPEG file through CJpegEncoder on every other display.
//
// Choices of this library where the behaviour is ours to decide:
//  - Rows are laid out by width, not by assuming a multiple of 4: the rows handed to the encoder
//    are 3 bytes a pixel padded to 4 bytes, as it reads them, and the rows of a BMP file are
//    padded to 4 bytes, as the format has them; the device rows are read at the copy's own
//    stride (GetBitmapBits pads them to 2 bytes). For widths that are a multiple of 4 this is
//    byte for byte the packed layout.
//  - Displays of fewer than 16 bits per pixel without the 256-entry palette (4 bits, or 8 bits
//    with a fixed palette) are converted to 24 bits with GetDIBits, so that the JPEG file shows
//    the colours the screen shows.
//  - Only an 8-bit copy goes to a BMP file; a display that reports 256 palette entries at another
//    depth is saved as a JPEG file like any other.
//  - Nothing is written for an empty capture rectangle, one wider or higher than 16,384 pixels,
//    or a window whose rectangle cannot be read; a window wholly off the screen is captured like
//    any other, as black. Nothing is written either when the display context, the copy or a
//    buffer cannot be had, or the copy's pixels cannot be read; whatever was made is released. A
//    null file name writes no JPEG file and, on the BMP path, fails to open. The result is 1 all
//    the same.
//  - On the BMP path a failure to close the file is reported like a failed write, once.
#include <Image.h>

#include "capture/JpegEncoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The one colour count that selects an 8-bit BMP file.
constexpr int kPaletteSize = 256;
// No screen is larger; the buffers then stay below 2^31 bytes, as GetBitmapBits counts them.
constexpr LONG kMaxCaptureSide = 16384;

// Truncation toward zero to a multiple of m.
LONG TruncateTo(LONG v, LONG m) {
    return v / m * m;
}

// The rectangle to copy, in screen coordinates, by the caller's (already rounded) rectangle and
// window; false when a window is given whose rectangle cannot be read.
bool ChooseRect(HWND hWnd, const RECT* lpRect, int screenWidth, int screenHeight,
                std::int64_t r[4]) {
    if (hWnd == nullptr) {
        if (lpRect == nullptr) {
            r[0] = 0;
            r[1] = 0;
            r[2] = screenWidth;
            r[3] = screenHeight;
        } else {
            r[0] = lpRect->left < 0 ? 0 : lpRect->left;
            r[1] = lpRect->top < 0 ? 0 : lpRect->top;
            r[2] = lpRect->right < screenWidth ? lpRect->right : screenWidth;
            r[3] = lpRect->bottom < screenHeight ? lpRect->bottom : screenHeight;
        }
        return true;
    }
    RECT w;
    if (!GetWindowRect(hWnd, &w)) {
        return false;
    }
    if (lpRect == nullptr) {
        r[0] = TruncateTo(w.left, 2);
        r[1] = TruncateTo(w.top, 2);
        r[2] = TruncateTo(w.right, 2);
        r[3] = TruncateTo(w.bottom, 2);
        return true;
    }
    // Sums are taken in 64 bits: the caller's offsets may be anything.
    r[0] = lpRect->left >= 0 ? std::int64_t{w.left} + lpRect->left : w.left;
    r[1] = lpRect->top >= 0 ? std::int64_t{w.top} + lpRect->top : w.top;
    r[2] = std::int64_t{w.right} - w.left < lpRect->right ? w.right
                                                          : std::int64_t{w.left} + lpRect->right;
    r[3] = std::int64_t{w.bottom} - w.top < lpRect->bottom ? w.bottom
                                                           : std::int64_t{w.top} + lpRect->bottom;
    return true;
}

// Everything one capture makes, released in the order it was made, on every path.
struct Capture {
    HDC screen = nullptr;
    HBITMAP copy = nullptr;
    BYTE* block = nullptr;
    BYTE* raw = nullptr;
    PALETTEENTRY* entries = nullptr;

    ~Capture() {
        if (copy != nullptr) {
            DeleteObject(copy);
        }
        if (screen != nullptr) {
            DeleteDC(screen);
        }
        for (void* p :
             {static_cast<void*>(block), static_cast<void*>(raw), static_cast<void*>(entries)}) {
            if (p != nullptr) {
                GlobalFree(p);
            }
        }
    }
};

// Copies w x h pixels of the display at (left, top) into a new display-compatible bitmap.
HBITMAP CopyScreen(HDC screen, LONG left, LONG top, int w, int h) {
    HDC mem = CreateCompatibleDC(screen);
    if (mem == nullptr) {
        return nullptr;
    }
    HBITMAP copy = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = copy != nullptr ? SelectObject(mem, copy) : nullptr;
    if (old != nullptr) {
        BitBlt(mem, 0, 0, w, h, screen, left, top, SRCCOPY);
        SelectObject(mem, old);
    }
    DeleteDC(mem);
    if (old == nullptr && copy != nullptr) {
        DeleteObject(copy);
        copy = nullptr;
    }
    return copy;
}

// Device rows (rawStride bytes apart, top row first) to 24-bit rows of the encoder's layout.
// 16 bits: 5-6-5 words with the low bits of each channel left 0; 32 bits: the first three
// bytes of each pixel; 24 bits: the rows as they are.
void ConvertTo24(const BYTE* raw, std::size_t rawStride, int bits, int w, int h, BYTE* out,
                 std::size_t outStride) {
    for (int y = 0; y < h; ++y) {
        const BYTE* src = raw + rawStride * y;
        BYTE* dst = out + outStride * y;
        if (bits == 24) {
            std::memcpy(dst, src, std::size_t(w) * 3);
            continue;
        }
        for (int x = 0; x < w; ++x, dst += 3) {
            if (bits == 16) {
                const unsigned p = src[2 * x] | src[2 * x + 1] << 8;
                dst[0] = static_cast<BYTE>((p << 3) & 0xFF);
                dst[1] = static_cast<BYTE>((p >> 3) & 0xFC);
                dst[2] = static_cast<BYTE>((p >> 8) & 0xF8);
            } else {
                dst[0] = src[4 * x];
                dst[1] = src[4 * x + 1];
                dst[2] = src[4 * x + 2];
            }
        }
    }
}

// Writes the 8-bit BMP file: the name's extension becomes "bmp"; a failed open or write shows
// "write error" and the capture goes on.
void WriteBmpFile(const char* lpszFileName, const BITMAPFILEHEADER& fileHeader, const BYTE* block,
                  UINT blockSize) {
    char path[_MAX_PATH] = "";
    // A name the runtime could not split whole, or one that with "bmp" would not fit a path, is
    // left empty: the open then fails like any other. _makepath writes without a bound, and
    // the runtime's _splitpath cuts parts that are too long.
    const std::size_t length = lpszFileName != nullptr ? std::strlen(lpszFileName) : _MAX_PATH;
    if (length < _MAX_PATH) {
        char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
        _splitpath(lpszFileName, drive, dir, fname, ext);
        // Split whole, drive, directory, name and extension add up to the name given.
        const std::size_t stem = std::strlen(drive) + std::strlen(dir) + std::strlen(fname);
        if (stem + std::strlen(ext) == length && stem + std::strlen(".bmp") < _MAX_PATH) {
            _makepath(path, drive, dir, fname, "bmp");
        }
    }
    CFile file;
    // The result of the open is not looked at: writing to a file that is not open throws, and
    // that is where the failure is reported.
    file.Open(path, CFile::modeCreate | CFile::modeWrite);
    bool reported = false;
    try {
        file.Write(&fileHeader, sizeof fileHeader);
        file.Write(block, blockSize);
    } catch (CException* e) {
        e->Delete();
        AfxMessageBox("write error", MB_OK, 0);
        reported = true;
    }
    try {
        file.Close();
    } catch (CException* e) {
        e->Delete();
        if (!reported) {
            AfxMessageBox("write error", MB_OK, 0);
        }
    }
}

} // namespace

int CImage::CaptureWindowToFile(HWND hWnd, RECT* lpRect, char* lpszFileName) {
    Capture c;
    c.screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    const int screenWidth = c.screen != nullptr ? GetDeviceCaps(c.screen, HORZRES) : 0;
    const int screenHeight = c.screen != nullptr ? GetDeviceCaps(c.screen, VERTRES) : 0;

    // The caller's rectangle is rounded in place whether or not anything can be captured.
    if (lpRect != nullptr) {
        SetRect(lpRect, TruncateTo(lpRect->left, 4), TruncateTo(lpRect->top, 4),
                TruncateTo(lpRect->right, 4), TruncateTo(lpRect->bottom, 4));
    }
    if (c.screen == nullptr) {
        return 1;
    }
    // Parts of the rectangle off the screen come out as the copy's initial black.
    std::int64_t r[4];
    if (!ChooseRect(hWnd, lpRect, screenWidth, screenHeight, r)) {
        return 1;
    }
    const std::int64_t width = r[2] - r[0];
    const std::int64_t height = r[3] - r[1];
    if (width <= 0 || height <= 0 || width > kMaxCaptureSide || height > kMaxCaptureSide) {
        return 1;
    }

    c.copy = CopyScreen(c.screen, static_cast<LONG>(r[0]), static_cast<LONG>(r[1]),
                        static_cast<int>(width), static_cast<int>(height));
    if (c.copy == nullptr) {
        return 1;
    }

    // The hardware palette's size, else the colour count; -1 (more than 8 bits) counts as 0.
    int n = GetDeviceCaps(c.screen, SIZEPALETTE);
    if (n == 0) {
        n = GetDeviceCaps(c.screen, NUMCOLORS);
    }
    if (n < 0) {
        n = 0;
    }
    if (n > 0) {
        c.entries = static_cast<PALETTEENTRY*>(GlobalAlloc(GPTR, sizeof(PALETTEENTRY) * n));
        if (c.entries == nullptr) {
            return 1;
        }
        GetSystemPaletteEntries(c.screen, 0, static_cast<UINT>(n), c.entries);
    }

    BITMAP bm;
    if (GetObject(c.copy, sizeof(BITMAP), &bm) == 0) {
        return 1;
    }
    const int w = bm.bmWidth;
    const int h = bm.bmHeight;
    const int bits = bm.bmBitsPixel;
    const bool bmp = n == kPaletteSize && bits == 8;
    const int target = bmp ? 8 : 24;
    const std::size_t targetRow = ((std::size_t(target) * w + 31) >> 3) & ~std::size_t{3};
    const std::size_t rawRow = ((std::size_t(bits) * w + 31) >> 3) & ~std::size_t{3};
    const std::size_t areaSize = targetRow * h;
    const std::size_t rawSize = rawRow * h;
    // The device rows as GetBitmapBits gives them: bmWidthBytes apart, top row first.
    const std::size_t deviceRow = static_cast<std::size_t>(bm.bmWidthBytes);
    if (deviceRow * h > rawSize || deviceRow * 8 < std::size_t(bits) * w) {
        return 1;
    }

    const std::size_t tableSize = sizeof(RGBQUAD) * n;
    const std::size_t areaOffset = sizeof(BITMAPINFOHEADER) + (bmp ? tableSize : 0);
    c.block =
        static_cast<BYTE*>(GlobalAlloc(GPTR, sizeof(BITMAPINFOHEADER) + tableSize + areaSize));
    c.raw = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, rawSize));
    if (c.block == nullptr || c.raw == nullptr) {
        return 1;
    }
    BITMAPFILEHEADER fileHeader;
    fileHeader.bfType = 0x4D42; // "BM"
    fileHeader.bfSize = static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) +
                                           tableSize + areaSize);
    fileHeader.bfReserved1 = 0;
    fileHeader.bfReserved2 = 0;
    fileHeader.bfOffBits =
        static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + tableSize);
    auto* info = reinterpret_cast<BITMAPINFOHEADER*>(c.block);
    info->biSize = sizeof(BITMAPINFOHEADER);
    info->biWidth = w;
    info->biHeight = h;
    info->biPlanes = bm.bmPlanes;
    info->biBitCount = static_cast<WORD>(target);
    info->biClrUsed = static_cast<DWORD>(n);
    info->biClrImportant = static_cast<DWORD>(n);
    BYTE* area = c.block + areaOffset;

    if (GetBitmapBits(c.copy, static_cast<LONG>(rawSize), c.raw) <
        static_cast<LONG>(deviceRow * h)) {
        return 1;
    }

    if (bmp) {
        auto* table = reinterpret_cast<RGBQUAD*>(c.block + sizeof(BITMAPINFOHEADER));
        for (int i = 0; i < kPaletteSize; ++i) {
            table[i] = RGBQUAD{c.entries[i].peBlue, c.entries[i].peGreen, c.entries[i].peRed, 0};
        }
        // BMP rows run bottom row first.
        for (int y = 0; y < h; ++y) {
            std::memcpy(area + targetRow * (h - 1 - y), c.raw + deviceRow * y, std::size_t(w));
        }
        WriteBmpFile(lpszFileName, fileHeader, c.block,
                     static_cast<UINT>(sizeof(BITMAPINFOHEADER) + tableSize + areaSize));
        return 1;
    }

    if (bits == 16 || bits == 24 || bits == 32) {
        ConvertTo24(c.raw, deviceRow, bits, w, h, area, targetRow);
    } else {
        // Palette indices without the 256-entry palette: the system gives their colours.
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h; // top row first, as the encoder reads them
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        bi.bmiHeader.biCompression = BI_RGB;
        if (GetDIBits(c.screen, c.copy, 0, static_cast<UINT>(h), area, &bi, DIB_RGB_COLORS) != h) {
            return 1;
        }
    }
    if (lpszFileName != nullptr) {
        CJpegEncoder encoder;
        encoder.Encode(lpszFileName, w, h, area);
    }
    return 1;
}
