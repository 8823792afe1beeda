// CDitherDib: loading an image into memory from a resource, a file or a DIB section, and making
// a screen bitmap from it, dithered to the fixed palette on 4- and 8-bit displays.
#include <DitherDib.h>

#include "module/dither_palette.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Every header block has room behind the header for three bit masks and a full 256-entry
// colour table, zero-filled. GetDIBits writes a whole table at 8 bits and masks at 16 and 32
// bits whatever the header asked for, and an 8-bit pixel may name any of 256 entries: with
// this room none of them can reach outside the block.
constexpr std::size_t kHeaderRoom = 3 * sizeof(DWORD) + 256 * sizeof(RGBQUAD);

// Largest width or height taken from a file; larger images are refused as absurd.
constexpr int kMaxDimension = 1 << 16;
// Largest compressed image, in pixels, whose decoded size a file cannot bound by its length.
constexpr std::int64_t kMaxCompressedPixels = std::int64_t{1} << 26;

BITMAPINFOHEADER* alloc_header_block(std::size_t headerBytes) {
    BYTE* block = new (std::nothrow) BYTE[headerBytes + kHeaderRoom];
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, 0, headerBytes + kHeaderRoom);
    return reinterpret_cast<BITMAPINFOHEADER*>(block);
}

void free_header_block(BITMAPINFOHEADER* header) {
    delete[] reinterpret_cast<BYTE*>(header);
}

std::int64_t stride_of(const BITMAPINFOHEADER& h) {
    return ((static_cast<std::int64_t>(h.biBitCount) * h.biWidth + 31) / 32) * 4;
}

std::int64_t rows_of(const BITMAPINFOHEADER& h) {
    return std::abs(static_cast<std::int64_t>(h.biHeight));
}

bool is_compressed(const BITMAPINFOHEADER& h) {
    return h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4;
}

// What a header read from a file must satisfy before anything trusts it.
bool header_is_sane(const BITMAPINFOHEADER& h, std::size_t headerBytes) {
    const DWORD size = h.biSize;
    if (size != 40 && size != 52 && size != 56 && size != 108 && size != 124) {
        return false;
    }
    if (size > headerBytes) {
        return false;
    }
    if (h.biWidth <= 0 || h.biWidth > kMaxDimension || h.biHeight == 0 ||
        h.biHeight < -kMaxDimension || h.biHeight > kMaxDimension) {
        return false;
    }
    if (h.biPlanes != 1) {
        return false;
    }
    const int bits = h.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return false;
    }
    if (h.biClrUsed > 256) {
        return false;
    }
    switch (h.biCompression) {
    case BI_RGB:
        return true;
    case BI_RLE8:
        return bits == 8 && h.biHeight > 0;
    case BI_RLE4:
        return bits == 4 && h.biHeight > 0;
    case BI_BITFIELDS:
        // The three masks follow a 40-byte header or sit inside the larger ones.
        return (bits == 16 || bits == 32) && headerBytes >= 40 + 3 * sizeof(DWORD);
    default:
        return false;
    }
}

// The screen's depth, as the display reports it.
int display_bits(HDC dc) {
    return GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
}

} // namespace

CDitherDib::CDitherDib() : m_dwSizeImage(0), m_pBits(nullptr), m_pInfo(nullptr) {}

CDitherDib::CDitherDib(const CDitherDib& other)
    : m_dwSizeImage(0), m_pBits(nullptr), m_pInfo(nullptr) {
    CopyFrom(other);
}

CDitherDib& CDitherDib::operator=(const CDitherDib& other) {
    if (this != &other) {
        Empty();
        CopyFrom(other);
    }
    return *this;
}

CDitherDib::~CDitherDib() {
    Empty();
}

// A copy that cannot get its memory ends empty, like a failed Create.
BOOL CDitherDib::CopyFrom(const CDitherDib& other) {
    if (other.m_pInfo == nullptr) {
        return 1;
    }
    const std::size_t headerBytes = other.m_pInfo->biSize;
    m_pInfo = alloc_header_block(headerBytes);
    if (m_pInfo == nullptr) {
        return 0;
    }
    std::memcpy(m_pInfo, other.m_pInfo, headerBytes + kHeaderRoom);
    if (other.m_pBits != nullptr && other.m_dwSizeImage != 0) {
        m_pBits = new (std::nothrow) BYTE[other.m_dwSizeImage];
        if (m_pBits == nullptr) {
            Empty();
            return 0;
        }
        std::memcpy(m_pBits, other.m_pBits, other.m_dwSizeImage);
    }
    m_dwSizeImage = other.m_dwSizeImage;
    return 1;
}

void CDitherDib::Empty() {
    free_header_block(m_pInfo);
    delete[] m_pBits;
    m_pInfo = nullptr;
    m_pBits = nullptr;
    m_dwSizeImage = 0;
}

// A top-down image (negative height) is sized by its number of rows.
void CDitherDib::ComputeMetrics() {
    m_dwSizeImage = m_pInfo->biSizeImage;
    if (m_dwSizeImage == 0) {
        const DWORD bitsPerRow =
            static_cast<DWORD>(m_pInfo->biBitCount) * static_cast<DWORD>(m_pInfo->biWidth);
        const DWORD stride = ((bitsPerRow + 31) / 32) * 4;
        m_dwSizeImage = stride * static_cast<DWORD>(rows_of(*m_pInfo));
    }
}

BOOL CDitherDib::Create(UINT nIDResource) {
    Empty();
    HINSTANCE module = AfxFindResourceHandle(MAKEINTRESOURCE(nIDResource), RT_BITMAP);
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(module, MAKEINTRESOURCE(nIDResource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr) {
        return 0;
    }
    // The loaded section is only a carrier for its rows: it is deleted on every way out.
    BOOL ok = 0;
    DIBSECTION section;
    if (GetObjectA(bitmap, sizeof(DIBSECTION), &section) == sizeof(DIBSECTION)) {
        m_pInfo = alloc_header_block(sizeof(BITMAPINFOHEADER));
        if (m_pInfo != nullptr) {
            *m_pInfo = section.dsBmih;
            m_pInfo->biSize = sizeof(BITMAPINFOHEADER);
            ComputeMetrics();
            const std::int64_t needed = stride_of(*m_pInfo) * rows_of(*m_pInfo);
            if (!is_compressed(*m_pInfo) && m_dwSizeImage < needed) {
                m_dwSizeImage = static_cast<DWORD>(needed);
            }
            m_pBits = new (std::nothrow) BYTE[m_dwSizeImage](); // row padding reads as 0
            HDC screen = m_pBits != nullptr ? GetDC(nullptr) : nullptr;
            if (screen != nullptr) {
                const int rows = static_cast<int>(rows_of(*m_pInfo));
                const int lines = GetDIBits(screen, bitmap, 0, static_cast<UINT>(rows), m_pBits,
                                            reinterpret_cast<BITMAPINFO*>(m_pInfo), DIB_RGB_COLORS);
                ReleaseDC(nullptr, screen);
                ok = lines == rows;
            }
        }
    }
    DeleteObject(bitmap);
    if (!ok) {
        Empty();
    }
    return ok;
}

// A resource number made into a name (MAKEINTRESOURCE) is no path and is not read as one.
BOOL CDitherDib::Create(LPCSTR lpszFileName) {
    Empty();
    if (lpszFileName == nullptr || IS_INTRESOURCE(lpszFileName)) {
        return 0;
    }
    BOOL ok = 0;
    try {
        CFile file(lpszFileName, CFile::modeRead | CFile::shareDenyWrite);
        const ULONGLONG length = file.GetLength();

        BITMAPFILEHEADER fileHeader;
        if (file.Read(&fileHeader, sizeof(fileHeader)) == sizeof(fileHeader) &&
            fileHeader.bfType == 0x4D42 && fileHeader.bfOffBits >= sizeof(fileHeader) + 40 &&
            fileHeader.bfOffBits <= length) {
            const std::size_t headerBytes = fileHeader.bfOffBits - sizeof(fileHeader);
            m_pInfo = alloc_header_block(headerBytes);
            if (m_pInfo != nullptr &&
                file.Read(m_pInfo, static_cast<UINT>(headerBytes)) == headerBytes &&
                header_is_sane(*m_pInfo, headerBytes)) {
                ComputeMetrics();
                // Rows must be there in full; the size a header claims is trusted only as far
                // as the file bears it out.
                const std::int64_t available =
                    static_cast<std::int64_t>(length) - fileHeader.bfOffBits;
                std::int64_t toRead = m_dwSizeImage;
                bool sane;
                if (is_compressed(*m_pInfo)) {
                    sane = m_dwSizeImage != 0 && toRead <= available &&
                           m_pInfo->biWidth * rows_of(*m_pInfo) <= kMaxCompressedPixels;
                } else {
                    // The rows are read in full whatever size the header claims: more is not
                    // part of the image, less (some writers leave out the last row's padding)
                    // would leave rows unread. The file must hold them all.
                    const std::int64_t needed = stride_of(*m_pInfo) * rows_of(*m_pInfo);
                    toRead = needed;
                    m_dwSizeImage = static_cast<DWORD>(needed);
                    sane = needed <= available;
                }
                if (sane) {
                    m_pBits = new (std::nothrow) BYTE[m_dwSizeImage](); // row padding reads as 0
                    ok = m_pBits != nullptr &&
                         file.Read(m_pBits, static_cast<UINT>(toRead)) == toRead;
                }
            }
        }
        file.Close();
    } catch (CException* e) {
        e->Delete();
        ok = 0;
    }
    if (!ok) {
        Empty();
    }
    return ok;
}

BOOL CDitherDib::Create(CBitmap* pBitmap) {
    if (pBitmap == nullptr) {
        return 0;
    }
    Empty();
    HBITMAP bitmap = static_cast<HBITMAP>(pBitmap->GetSafeHandle());
    if (bitmap == nullptr) {
        return 0;
    }
    DIBSECTION section;
    if (GetObjectA(bitmap, sizeof(DIBSECTION), &section) != sizeof(DIBSECTION)) {
        return 0;
    }
    const WORD bits = static_cast<WORD>(section.dsBm.bmBitsPixel * section.dsBm.bmPlanes);
    // Below 16 bits the rows are indices: they are read through the dither palette, which only
    // a palette display has.
    if (bits < 16 && (g_pDitherPalette == nullptr || (bits != 1 && bits != 4 && bits != 8))) {
        return 0;
    }

    m_pInfo = alloc_header_block(sizeof(BITMAPINFOHEADER));
    if (m_pInfo == nullptr) {
        return 0;
    }
    if (bits >= 16) {
        *m_pInfo = section.dsBmih;
        m_pInfo->biSize = sizeof(BITMAPINFOHEADER);
    } else {
        const int colours = 1 << bits;
        m_pInfo->biSize = sizeof(BITMAPINFOHEADER);
        m_pInfo->biWidth = section.dsBm.bmWidth;
        m_pInfo->biHeight = section.dsBm.bmHeight;
        m_pInfo->biPlanes = 1;
        m_pInfo->biBitCount = bits;
        m_pInfo->biClrUsed = static_cast<DWORD>(colours);
        m_pInfo->biClrImportant = static_cast<DWORD>(colours);
        std::memcpy(reinterpret_cast<BYTE*>(m_pInfo) + sizeof(BITMAPINFOHEADER), Win256Palette,
                    sizeof(RGBQUAD) * colours);
    }
    ComputeMetrics();
    const std::int64_t needed = stride_of(*m_pInfo) * rows_of(*m_pInfo);
    if (m_dwSizeImage < needed) {
        m_dwSizeImage = static_cast<DWORD>(needed);
    }
    m_pBits = new (std::nothrow) BYTE[m_dwSizeImage](); // row padding reads as 0
    HDC screen = m_pBits != nullptr ? GetDC(nullptr) : nullptr;
    if (screen == nullptr) {
        Empty();
        return 0;
    }
    HPALETTE previous = nullptr;
    if (bits < 16) {
        // GetDIBits replaces the table with the bitmap's own colours.
        previous =
            SelectPalette(screen, static_cast<HPALETTE>(g_pDitherPalette->GetSafeHandle()), FALSE);
    }
    const int rows = static_cast<int>(rows_of(*m_pInfo));
    const int lines = GetDIBits(screen, bitmap, 0, static_cast<UINT>(rows), m_pBits,
                                reinterpret_cast<BITMAPINFO*>(m_pInfo), DIB_RGB_COLORS);
    if (bits < 16) {
        SelectPalette(screen, previous, FALSE);
    }
    ReleaseDC(nullptr, screen);
    if (lines != rows) {
        Empty();
        return 0;
    }
    return 1;
}

CBitmap* CDitherDib::CreateBitmap(CPalette* pPalette) {
    if (m_dwSizeImage == 0 || m_pBits == nullptr || m_pInfo == nullptr) {
        return nullptr;
    }
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return nullptr;
    }
    HPALETTE previous = nullptr;
    if (pPalette != nullptr) {
        previous = SelectPalette(screen, static_cast<HPALETTE>(pPalette->GetSafeHandle()), FALSE);
        RealizePalette(screen);
    }

    const int bits = display_bits(screen);
    HBITMAP made = nullptr;
    if ((bits == 4 || bits == 8) && m_pInfo->biBitCount > 8) {
        HGLOBAL block = DitherDIB(m_pInfo, m_pBits, bits);
        if (block != nullptr) {
            auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
            if (header != nullptr) {
                DWORD colours = header->biClrUsed;
                if (colours == 0) {
                    colours = header->biBitCount == 4 ? 16 : 256;
                }
                const BYTE* rows =
                    reinterpret_cast<const BYTE*>(header) + header->biSize + colours * 4;
                made = CreateDIBitmap(screen, header, CBM_INIT, rows,
                                      reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
                GlobalUnlock(block);
            }
            GlobalFree(block);
        }
    }
    if (made == nullptr) {
        made = CreateDIBitmap(screen, m_pInfo, CBM_INIT, m_pBits,
                              reinterpret_cast<const BITMAPINFO*>(m_pInfo), DIB_RGB_COLORS);
    }

    if (pPalette != nullptr) {
        SelectPalette(screen, previous, FALSE);
    }
    ReleaseDC(nullptr, screen);

    CBitmap* result = new (std::nothrow) CBitmap;
    if (result == nullptr || !result->Attach(made)) {
        delete result;
        if (made != nullptr) {
            DeleteObject(made); // nobody else holds it
        }
        return nullptr;
    }
    return result;
}
