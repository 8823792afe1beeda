// The BMP writer of CImage: CreateBitmapInfoStruct describes a bitmap (header plus room for its
// colour table) and CreateBMPFile fetches the bitmap's pixels in that layout and writes file
// header, information header, colour table and rows.
//
// Choices of this library where the behaviour is ours to decide:
//  - A handle that is not a bitmap is refused by CreateBitmapInfoStruct with NULL, and so is a
//    description block that cannot be allocated.
//  - CreateBMPFile closes the file and frees the pixel buffer on every failure path; what it wrote
//    before the failure stays on disk.
//  - CreateBMPFile refuses (0, before allocating) a block whose rows would not fit in its
//    biSizeImage bytes, so that GetDIBits can never write past the pixel buffer.
#include <Image.h>

#include <cstdint>

namespace {

constexpr WORD kBitmapFileType = 0x4D42; // "BM"
constexpr DWORD kInfoHeaderSize = 40;
constexpr DWORD kFileHeaderSize = 14;

// Bytes of the rows GetDIBits stores for the block's header: every row it will fill, padded to a
// multiple of 4 bytes. 0 for a header GetDIBits refuses anyway.
std::uint64_t RowBytesNeeded(const BITMAPINFOHEADER& h) {
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biBitCount == 0) {
        return 0;
    }
    const std::uint64_t stride =
        (static_cast<std::uint64_t>(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    // The line count is the height taken as an unsigned 16-bit value; GetDIBits stores no more
    // rows than the header has.
    const std::uint64_t height =
        h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
    const std::uint64_t lines = static_cast<WORD>(h.biHeight);
    return stride * (lines < height ? lines : height);
}

// Planes times bits per pixel raised to the next depth a BMP file knows.
WORD StandardDepth(WORD bits) {
    if (bits == 1) {
        return 1;
    }
    if (bits <= 4) {
        return 4;
    }
    if (bits <= 8) {
        return 8;
    }
    if (bits <= 16) {
        return 16;
    }
    return bits <= 24 ? 24 : 32;
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

} // namespace

PBITMAPINFO CImage::CreateBitmapInfoStruct(HBITMAP hBmp) {
    BITMAP bmp;
    if (GetObjectType(hBmp) != OBJ_BITMAP || !GetObject(hBmp, sizeof(BITMAP), &bmp)) {
        return nullptr;
    }
    const WORD clrBits = StandardDepth(static_cast<WORD>(bmp.bmPlanes * bmp.bmBitsPixel));

    // Room for 2^clrBits colours below 24 bits (65,536 of them at 16 bits, which nothing fills);
    // none at 24 bits; a single unused entry at 32 bits.
    SIZE_T size = sizeof(BITMAPINFOHEADER);
    if (clrBits < 24) {
        size += sizeof(RGBQUAD) * (SIZE_T{1} << clrBits);
    } else if (clrBits == 32) {
        size += sizeof(RGBQUAD);
    }
    PBITMAPINFO pbmi = static_cast<PBITMAPINFO>(LocalAlloc(LPTR, size));
    if (pbmi == nullptr) {
        return nullptr;
    }

    BITMAPINFOHEADER& h = pbmi->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = bmp.bmWidth;
    h.biHeight = bmp.bmHeight;
    h.biPlanes = bmp.bmPlanes;
    h.biBitCount = bmp.bmBitsPixel;
    h.biCompression = BI_RGB;
    if (clrBits < 24) {
        h.biClrUsed = DWORD{1} << clrBits;
    }
    // Rows padded to 32 bits; the division is that of signed ints, as is the product.
    const std::int64_t rowBits = (static_cast<std::int64_t>(h.biWidth) * clrBits + 31) & ~31;
    h.biSizeImage = static_cast<DWORD>(static_cast<int>(rowBits / 8 * h.biHeight));
    h.biClrImportant = 0;
    return pbmi;
}

int CImage::CreateBMPFile(char* lpszFileName, PBITMAPINFO pbi, HBITMAP hBmp, HDC hDC) {
    if (pbi == nullptr) {
        return 0;
    }
    BITMAPINFOHEADER& h = pbi->bmiHeader;
    // GetDIBits rewrites biClrUsed (to 0) and biSizeImage in the caller's block, as Windows does.
    // The file keeps the layout the block was made for: its header, the size of the colour table
    // written and the pixel byte count use the values read here, before the fetch.
    const DWORD clrUsed = h.biClrUsed;
    const DWORD sizeImage = h.biSizeImage;
    if (RowBytesNeeded(h) > sizeImage) {
        return 0;
    }

    LPBYTE bits = static_cast<LPBYTE>(GlobalAlloc(GMEM_FIXED, sizeImage));
    if (bits == nullptr) {
        return 0;
    }
    if (!GetDIBits(hDC, hBmp, 0, static_cast<WORD>(h.biHeight), bits, pbi, DIB_RGB_COLORS)) {
        GlobalFree(bits);
        return 0;
    }

    HANDLE file = CreateFileA(lpszFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        GlobalFree(bits);
        return 0;
    }

    BITMAPFILEHEADER hdr;
    hdr.bfType = kBitmapFileType;
    const DWORD tableSize = clrUsed * static_cast<DWORD>(sizeof(RGBQUAD));
    hdr.bfSize = kFileHeaderSize + h.biSize + tableSize + sizeImage;
    hdr.bfReserved1 = 0;
    hdr.bfReserved2 = 0;
    hdr.bfOffBits = kFileHeaderSize + h.biSize + tableSize;

    // The information header counts as 40 bytes whatever biSize holds.
    const bool written = WriteAll(file, &hdr, kFileHeaderSize) &&
                         WriteAll(file, pbi, kInfoHeaderSize + tableSize) &&
                         WriteAll(file, bits, sizeImage);
    if (!written) {
        CloseHandle(file);
        GlobalFree(bits);
        return 0;
    }
    if (!CloseHandle(file)) {
        GlobalFree(bits);
        return 0;
    }
    GlobalFree(bits);
    return 1;
}
