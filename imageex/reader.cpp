// The BMP reader of CImageEx and its image-list builder. The reader takes a 40-byte information
// header directly followed by the colour table and the pixel rows, makes the logical palette
// (from the file's table, or from the system palette on a palette screen) and draws the rows
// into bitmaps compatible with the screen.
#include "imageex_internal.h"

#include <afxcmn.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// File header, information header and the largest colour table (256 entries).
constexpr DWORD kHeadBytes = 14 + 40 + 256 * 4;
// The file is read two bytes into the head buffer so that the information header at file
// offset 14 lands on a 4-byte boundary and can be handed to GDI as a BITMAPINFO.
constexpr DWORD kHeadShift = 2;

DWORD ReadDword(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
           static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
}

WORD ReadWord(const BYTE* p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}

// What the reader takes from a file's headers, once they are known to describe rows it can
// draw: geometry, depth, colour-table size and where and how big the pixel rows are.
struct FileLayout {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    int colours = 0;      // colour-table entries (0 above 8 bits)
    DWORD pixelStart = 0; // file offset of the rows
    DWORD pixelBytes = 0; // ((bitCount x width + 31) >> 5) x 4 x height
};

// Checks the headers in `file` (`got` bytes of it read) against what this reader handles. The
// refusals go beyond the plain layout so that no file makes the reader or GDI read past the
// file's bytes or its buffers: only 40-byte headers, no compression, positive sizes, a frame at
// least one pixel wide, at most 256 colours, and rows that fit both an int and the file.
bool CheckLayout(const BYTE* file, DWORD got, DWORD fileSize, int nImageNum, FileLayout& out) {
    if (got < 54 || ReadDword(file + 14) != 40 || ReadDword(file + 30) != BI_RGB) {
        return false;
    }
    const auto width = static_cast<LONG>(ReadDword(file + 18));
    const auto height = static_cast<LONG>(ReadDword(file + 22));
    const int bitCount = ReadWord(file + 28);
    if (width <= 0 || height <= 0 || width < nImageNum) {
        return false;
    }
    int colours = 0;
    switch (bitCount) {
    case 1:
        colours = 2;
        break;
    case 4:
        colours = 16; // biClrUsed is not consulted below 8 bits
        break;
    case 8: {
        const DWORD used = ReadDword(file + 46);
        if (used > 256) {
            return false;
        }
        colours = used != 0 ? static_cast<int>(used) : 256;
        break;
    }
    case 16:
    case 24:
    case 32:
        break;
    default:
        return false;
    }
    // Every buffer made from this strip later (the file's rows here, rows of up to 32 bits a
    // pixel in the effects) must fit an int.
    const auto rowBytes = [&](int bits) {
        return ((static_cast<std::int64_t>(bits) * width + 31) >> 5) * 4;
    };
    if (rowBytes(32) * height > INT_MAX) {
        return false;
    }
    out.width = width;
    out.height = height;
    out.bitCount = bitCount;
    out.colours = colours;
    out.pixelStart = 54 + 4 * static_cast<DWORD>(colours);
    out.pixelBytes = static_cast<DWORD>(rowBytes(bitCount) * height);
    return got >= out.pixelStart && fileSize >= out.pixelStart &&
           fileSize - out.pixelStart >= out.pixelBytes;
}

// A logical palette of `count` entries, version 0x300, flags 0.
HPALETTE MakePalette(const PALETTEENTRY* entries, int count) {
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } log = {0x300, static_cast<WORD>(count), {}};
    std::memcpy(log.entries, entries, sizeof(PALETTEENTRY) * count);
    return CreatePalette(reinterpret_cast<const LOGPALETTE*>(&log));
}

// The file's colour table (RGBQUAD: blue, green, red, reserved) as a logical palette.
HPALETTE PaletteFromTable(const BYTE* table, int count) {
    PALETTEENTRY entries[256];
    for (int i = 0; i < count; ++i) {
        entries[i] = {table[4 * i + 2], table[4 * i + 1], table[4 * i], 0};
    }
    return MakePalette(entries, count);
}

HPALETTE PaletteFromSystem(HDC hScreen, int bits) {
    PALETTEENTRY entries[256] = {};
    const int count = 1 << bits;
    GetSystemPaletteEntries(hScreen, 0, static_cast<UINT>(count), entries);
    for (int i = 0; i < count; ++i) {
        entries[i].peFlags = 0;
    }
    return MakePalette(entries, count);
}

// A bitmap compatible with the screen holding the whole file, drawn one to one through the
// palette (when there is one) in a memory context of its own. Null when a context or the
// bitmap cannot be made; nothing is left behind then.
HBITMAP DrawStrip(HDC hScreen, HPALETTE hPalette, const BITMAPINFO* info, const BYTE* bits,
                  int width, int height) {
    HDC hMem = CreateCompatibleDC(hScreen);
    if (hMem == nullptr) {
        return nullptr;
    }
    HBITMAP hBitmap = CreateCompatibleBitmap(hScreen, width, height);
    HGDIOBJ hOld = hBitmap != nullptr ? SelectObject(hMem, hBitmap) : nullptr;
    if (hOld == nullptr) {
        if (hBitmap != nullptr) {
            DeleteObject(hBitmap);
        }
        DeleteDC(hMem);
        return nullptr;
    }
    SetMapMode(hMem, GetMapMode(hScreen));
    HPALETTE hOldPalette = nullptr;
    if (hPalette != nullptr) {
        hOldPalette = SelectPalette(hMem, hPalette, FALSE);
        RealizePalette(hMem);
    }
    StretchDIBits(hMem, 0, 0, width, height, 0, 0, width, height, bits, info, DIB_RGB_COLORS,
                  SRCCOPY);
    if (hPalette != nullptr) {
        SelectPalette(hMem, hOldPalette, FALSE);
    }
    SelectObject(hMem, hOld);
    DeleteDC(hMem);
    return hBitmap;
}

// What one read of the file holds until it is either taken by the object or given back.
struct Loading {
    HANDLE hFile = INVALID_HANDLE_VALUE;
    HGLOBAL hHead = nullptr;
    HGLOBAL hPixels = nullptr;
    HDC hScreen = nullptr;
    HPALETTE hPalette = nullptr; // made by this read
    HBITMAP hBitmap = nullptr;
    HBITMAP hImageListBitmap = nullptr;

    Loading() = default;
    Loading(const Loading&) = delete;
    Loading& operator=(const Loading&) = delete;

    // Gives back the screen context, both buffers and the file.
    void Close() {
        if (hScreen != nullptr) {
            ReleaseDC(nullptr, hScreen);
            hScreen = nullptr;
        }
        if (hPixels != nullptr) {
            GlobalFree(hPixels);
            hPixels = nullptr;
        }
        if (hHead != nullptr) {
            GlobalFree(hHead);
            hHead = nullptr;
        }
        if (hFile != INVALID_HANDLE_VALUE) {
            CloseHandle(hFile);
            hFile = INVALID_HANDLE_VALUE;
        }
    }

    ~Loading() {
        Close();
        // Whatever is still here was not taken: the read failed.
        for (HGDIOBJ h : {static_cast<HGDIOBJ>(hImageListBitmap), static_cast<HGDIOBJ>(hBitmap),
                          static_cast<HGDIOBJ>(hPalette)}) {
            if (h != nullptr) {
                DeleteObject(h);
            }
        }
    }
};

} // namespace

// Everything is made before anything of the object is replaced, so a read that fails at any
// point (a refused file, a GDI object or buffer that cannot be made) returns 0 and leaves the
// object as it was.
int CImageEx::HelpCreate(const char* lpszFileName) {
    Loading load;
    load.hFile = CreateFileA(lpszFileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (load.hFile == INVALID_HANDLE_VALUE) {
        return 0;
    }
    load.hHead = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kHeadShift + kHeadBytes);
    if (load.hHead == nullptr) {
        return 0;
    }
    BYTE* file = static_cast<BYTE*>(GlobalLock(load.hHead)) + kHeadShift;
    DWORD got = 0;
    if (!ReadFile(load.hFile, file, kHeadBytes, &got, nullptr)) {
        got = 0;
    }
    if (got < 2 || ReadWord(file) != 0x4D42) {
        return 0;
    }
    DWORD sizeHigh = 0;
    DWORD fileSize = GetFileSize(load.hFile, &sizeHigh);
    if (fileSize == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return 0;
    }
    if (sizeHigh != 0) {
        fileSize = 0xFFFFFFFF; // larger than any strip the layout check lets through
    }
    FileLayout layout;
    if (!CheckLayout(file, got, fileSize, m_nImageNum, layout)) {
        return 0;
    }

    // The header later handed to GDI carries the computed size, whatever the file said.
    file[34] = static_cast<BYTE>(layout.pixelBytes);
    file[35] = static_cast<BYTE>(layout.pixelBytes >> 8);
    file[36] = static_cast<BYTE>(layout.pixelBytes >> 16);
    file[37] = static_cast<BYTE>(layout.pixelBytes >> 24);
    // GDI must not look for more colour-table entries than the head buffer holds: a count the
    // reader does not take (any above 8 bits; above the depth's full table at 1 and 4 bits) is
    // cleared, which leaves what GDI draws unchanged.
    if (layout.bitCount > 8 || ReadDword(file + 46) > (1u << layout.bitCount)) {
        std::memset(file + 46, 0, 4);
    }
    if (layout.colours > 0) {
        load.hPalette = PaletteFromTable(file + 54, layout.colours);
        if (load.hPalette == nullptr) {
            return 0;
        }
    }

    load.hPixels = GlobalAlloc(GMEM_FIXED, layout.pixelBytes);
    if (load.hPixels == nullptr) {
        return 0;
    }
    BYTE* pixels = static_cast<BYTE*>(GlobalLock(load.hPixels));
    DWORD read = 0;
    if (SetFilePointer(load.hFile, static_cast<LONG>(layout.pixelStart), nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER ||
        !ReadFile(load.hFile, pixels, layout.pixelBytes, &read, nullptr)) {
        read = 0;
    }
    // A file that shrank since its size was taken reads short; the rest of the rows stay black
    // rather than undefined.
    std::memset(pixels + read, 0, layout.pixelBytes - read);

    load.hScreen = GetDC(nullptr);
    if (load.hScreen == nullptr) {
        return 0;
    }
    const int systemBits = GetDeviceCaps(load.hScreen, BITSPIXEL);
    // A file without a colour table keeps the palette of an earlier file; on a palette screen
    // without any, the system palette stands in.
    if (load.hPalette == nullptr && m_hPalette == nullptr && systemBits >= 1 && systemBits <= 8) {
        load.hPalette = PaletteFromSystem(load.hScreen, systemBits);
        if (load.hPalette == nullptr) {
            return 0;
        }
    }
    const HPALETTE hPalette = load.hPalette != nullptr ? load.hPalette : m_hPalette;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(file + 14);
    load.hBitmap = DrawStrip(load.hScreen, hPalette, info, pixels, layout.width, layout.height);
    if (load.hBitmap == nullptr) {
        return 0;
    }
    if (m_bImageListMethod) {
        load.hImageListBitmap =
            DrawStrip(load.hScreen, hPalette, info, pixels, layout.width, layout.height);
        if (load.hImageListBitmap == nullptr) {
            return 0;
        }
    }

    // Everything is made: the new objects replace the old ones.
    if (load.hPalette != nullptr) {
        ReleaseHeld(m_hPalette);
        m_hPalette = load.hPalette;
        load.hPalette = nullptr;
    }
    ReleaseHeld(m_hBitmap);
    m_hBitmap = load.hBitmap;
    load.hBitmap = nullptr;
    if (m_bImageListMethod) {
        ReleaseHeld(m_hImageListBitmap);
        m_hImageListBitmap = load.hImageListBitmap;
        load.hImageListBitmap = nullptr;
    }
    m_nWidth = layout.width / m_nImageNum;
    m_nHeight = layout.height;
    m_nBitCount = layout.bitCount;
    m_nWidthBytes = PaddedRowBytes(m_nBitCount, m_nWidth);
    m_nSystemBitCount = systemBits;
    load.Close();

    if (!m_bImageListMethod) {
        return 1;
    }
    if (!CreateImageList()) {
        return 0;
    }
    m_bImageListMethod = 1;
    return 1;
}

int CImageEx::CreateImageList() {
    if (m_hImageListBitmap == nullptr) {
        return 0;
    }
    ReleaseHeld(m_pImageList);
    auto* pImageList = new (std::nothrow) CImageList;
    if (pImageList == nullptr) {
        return 0;
    }
    UINT flags;
    switch (m_nSystemBitCount) {
    case 16:
        flags = ILC_COLOR16;
        break;
    case 24:
        flags = ILC_COLOR24;
        break;
    case 32:
        flags = ILC_COLOR32;
        break;
    default:
        flags = ILC_COLORDDB;
        break;
    }
    if (!pImageList->Create(m_nWidth, m_nHeight, flags | ILC_MASK, m_nImageNum, 1) ||
        ImageList_AddMasked(pImageList->m_hImageList, m_hImageListBitmap, m_crTransparent) == -1) {
        delete pImageList;
        return 0;
    }
    m_pImageList = pImageList;
    return 1;
}
