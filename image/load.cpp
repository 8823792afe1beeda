// Loading and creation of a strip: the three Create overloads, the loaders that fill the strip
// bitmap and its second copy for the half-transparent strip, and the frame geometry.
//
// Every loader has two branches. When the global dither palette exists (a display of 8 bits per
// pixel or fewer) the image goes through a CDitherDib, which makes a screen bitmap for that
// palette; otherwise GDI loads or copies it directly.
#include "image/image_internal.h"

#include "module/dither_palette.h"

#include <DitherDib.h>

#include <cstddef>
#include <cstdint>
#include <new>

using image_internal::Release;

namespace {

// The palette-display branch of every loader: a new dithering object replaces the strip's, reads
// the source, and its screen bitmap replaces the one in `field`. A bitmap it cannot make leaves
// the dithering object in place until the strip is released.
template <class Source>
int LoadThroughDitherDib(CDitherDib*& ditherDib, CBitmap*& field, Source source) {
    Release(ditherDib);
    ditherDib = new (std::nothrow) CDitherDib;
    if (ditherDib == nullptr) {
        return 0;
    }
    if (!ditherDib->Create(source)) {
        Release(ditherDib);
        return 0;
    }
    Release(field);
    field = ditherDib->CreateBitmap(g_pDitherPalette);
    return field != nullptr ? 1 : 0;
}

int LoadByNumber(CDitherDib*& ditherDib, CBitmap*& field, UINT nIDResource) {
    if (g_pDitherPalette != nullptr) {
        return LoadThroughDitherDib(ditherDib, field, nIDResource);
    }
    // The wrapper is made before the bitmap is looked for, as the strip's field is released
    // first; the handle is attached right after the load.
    Release(field);
    field = new (std::nothrow) CBitmap;
    if (field == nullptr) {
        return 0;
    }
    LPCSTR name = MAKEINTRESOURCE(LOWORD(nIDResource));
    HINSTANCE module = AfxFindResourceHandle(name, RT_BITMAP);
    HBITMAP handle = ::LoadBitmapA(module, name);
    if (!field->Attach(handle)) {
        if (handle != nullptr) {
            ::DeleteObject(handle);
        }
        Release(field);
        return 0;
    }
    return 1;
}

// A name is a bitmap resource of the client's module chain or else a bitmap file. On a palette
// display it is only ever read as a file path. A null name finds neither. A resource number
// made into a name (MAKEINTRESOURCE) is no path: it is looked for only as a resource, and a
// palette display, which reads names as paths only, refuses it.
int LoadByName(CDitherDib*& ditherDib, CBitmap*& field, const char* name) {
    if (g_pDitherPalette != nullptr) {
        return LoadThroughDitherDib(ditherDib, field, name);
    }
    Release(field);
    field = new (std::nothrow) CBitmap;
    if (field == nullptr) {
        return 0;
    }
    HANDLE handle = nullptr;
    if (name != nullptr) {
        HINSTANCE module = AfxFindResourceHandle(name, RT_BITMAP);
        handle = LoadImageA(module, name, IMAGE_BITMAP, 0, 0, 0);
        if (handle == nullptr && !IS_INTRESOURCE(name)) {
            handle = LoadImageA(nullptr, name, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
        }
    }
    if (handle == nullptr) {
        Release(field);
        return 0;
    }
    HBITMAP bitmap = static_cast<HBITMAP>(handle);
    if (!field->Attach(bitmap)) {
        ::DeleteObject(bitmap);
        Release(field);
        return 0;
    }
    return 1;
}

// A copy of the client's bitmap with its width, height, planes, depth and pixel bytes. The
// client's bitmap is only read.
int CopyClientBitmap(CDitherDib*& ditherDib, CBitmap*& field, CBitmap* source) {
    if (source == nullptr) {
        return 0;
    }
    if (g_pDitherPalette != nullptr) {
        return LoadThroughDitherDib(ditherDib, field, source);
    }
    BITMAP record;
    if (GetObjectA(source->GetSafeHandle(), sizeof(BITMAP), &record) == 0) {
        return 0;
    }
    Release(field);
    field = new (std::nothrow) CBitmap;
    if (field == nullptr) {
        return 0;
    }
    // The new bitmap starts empty: its bytes come from the copy below, so the creation is not
    // given the bits pointer of a section's record to read from.
    record.bmBits = nullptr;
    bool ok = field->CreateBitmapIndirect(&record) != 0;
    BYTE* buffer = nullptr;
    if (ok) {
        const std::int64_t size = static_cast<std::int64_t>(record.bmWidthBytes) *
                                  static_cast<std::int64_t>(record.bmHeight);
        // A record whose byte size does not fit a DWORD cannot be copied by the calls below.
        if (size > 0 && size <= static_cast<std::int64_t>(0xFFFFFFFFu)) {
            buffer = new (std::nothrow) BYTE[static_cast<std::size_t>(size)];
        }
        ok = buffer != nullptr;
        if (ok) {
            const DWORD copied = source->GetBitmapBits(static_cast<DWORD>(size), buffer);
            ok = copied != 0 && field->SetBitmapBits(copied, buffer) != 0;
        }
    }
    delete[] buffer;
    if (!ok) {
        Release(field);
        return 0;
    }
    return 1;
}

} // namespace

int CImage::LoadBitmap(UINT nIDResource) {
    return LoadByNumber(m_pDitherDib, m_pBitmap, nIDResource);
}

int CImage::LoadSemiBitmap(UINT nIDResource) {
    return LoadByNumber(m_pDitherDib, m_pSemiBitmap, nIDResource);
}

int CImage::LoadBitmap(const char* lpszResourceName) {
    return LoadByName(m_pDitherDib, m_pBitmap, lpszResourceName);
}

int CImage::LoadSemiBitmap(const char* lpszResourceName) {
    return LoadByName(m_pDitherDib, m_pSemiBitmap, lpszResourceName);
}

int CImage::CopyBitmap(CBitmap* pBitmap) {
    return CopyClientBitmap(m_pDitherDib, m_pBitmap, pBitmap);
}

int CImage::CopySemiBitmap(CBitmap* pBitmap) {
    return CopyClientBitmap(m_pDitherDib, m_pSemiBitmap, pBitmap);
}

// A frame count below 1 is refused: the frame width would be a division by zero or negative.
int CImage::SetImageInfo(int nImageNum, COLORREF crTransparent) {
    if (m_pBitmap == nullptr || nImageNum < 1) {
        return 0;
    }
    BITMAP record;
    if (GetObjectA(m_pBitmap->GetSafeHandle(), sizeof(BITMAP), &record) == 0) {
        return 0;
    }
    m_crTransparent = crTransparent;
    m_sizeBitmap = CSize(record.bmWidth, record.bmHeight);
    m_nImageNum = nImageNum;
    m_sizeImage = CSize(record.bmWidth / nImageNum, record.bmHeight);
    return 1;
}

// Create, for each source: load the strip, set its geometry, move it into image lists if asked,
// then load a second copy and make the half-transparent strip from it if asked. Any failure
// releases every object of the strip (the geometry set so far stays) and returns 0. A frame count
// below 1 fails before anything is loaded.

int CImage::Create(UINT nIDResource, int nImageNum, COLORREF crTransparent, int bSemiTransparent,
                   int bImageListMethod) {
    if (nImageNum < 1 || !LoadBitmap(nIDResource) || !SetImageInfo(nImageNum, crTransparent) ||
        (bImageListMethod && !CreateImageList()) ||
        (bSemiTransparent && (!LoadSemiBitmap(nIDResource) ||
                              !(bImageListMethod ? CreateSemiImageList() : MakeSemiBitmap())))) {
        DeleteObject();
        return 0;
    }
    m_bImageListMethod = bImageListMethod;
    return 1;
}

int CImage::Create(const char* lpszResourceName, int nImageNum, COLORREF crTransparent,
                   int bSemiTransparent, int bImageListMethod) {
    if (nImageNum < 1 || !LoadBitmap(lpszResourceName) || !SetImageInfo(nImageNum, crTransparent) ||
        (bImageListMethod && !CreateImageList()) ||
        (bSemiTransparent && (!LoadSemiBitmap(lpszResourceName) ||
                              !(bImageListMethod ? CreateSemiImageList() : MakeSemiBitmap())))) {
        DeleteObject();
        return 0;
    }
    m_bImageListMethod = bImageListMethod;
    return 1;
}

// The client's bitmap is copied, never taken over: it stays the client's, unchanged. It may be
// the strip's own bitmap (GetBitmap): the loaders let go of the bitmap in the field they fill
// before they copy, so the strip holds it once more until both copies are made.
int CImage::Create(CBitmap* pBitmap, int nImageNum, COLORREF crTransparent, int bSemiTransparent,
                   int bImageListMethod) {
    const bool own = pBitmap != nullptr && (pBitmap == m_pBitmap || pBitmap == m_pSemiBitmap);
    CBitmap* held = own ? image_internal::Holders().Hold(pBitmap) : nullptr;
    int result = 0;
    if (own && held == nullptr) {
        DeleteObject();
    } else if (nImageNum < 1 || !CopyBitmap(pBitmap) || !SetImageInfo(nImageNum, crTransparent) ||
               (bImageListMethod && !CreateImageList()) ||
               (bSemiTransparent &&
                (!CopySemiBitmap(pBitmap) ||
                 !(bImageListMethod ? CreateSemiImageList() : MakeSemiBitmap())))) {
        DeleteObject();
    } else {
        m_bImageListMethod = bImageListMethod;
        result = 1;
    }
    Release(held);
    return result;
}
