// CGdiObject and the object wrappers CBitmap, CPalette and CBrush.
#include "gdi_maps.h"

#include <afxwin.h>

using afx_internal::GdiMap;

// ---- CGdiObject ------------------------------------------------------------------------------

CGdiObject::~CGdiObject() {
    DeleteObject();
}

CGdiObject* PASCAL CGdiObject::FromHandle(HGDIOBJ hObject) {
    if (CGdiObject* owner = GdiMap::instance().owner(hObject)) {
        return owner;
    }
    // A temporary of the class that fits the object, so that the casts of SelectObject's
    // results (CBitmap*, CBrush*, CPalette*) name the object's real class.
    switch (::GetObjectType(hObject)) {
    case OBJ_BITMAP:
        return CBitmap::FromHandle(static_cast<HBITMAP>(hObject));
    case OBJ_BRUSH:
        return CBrush::FromHandle(static_cast<HBRUSH>(hObject));
    case OBJ_PAL:
        return CPalette::FromHandle(static_cast<HPALETTE>(hObject));
    default:
        return GdiMap::instance().from_handle<CGdiObject>(hObject);
    }
}

void PASCAL CGdiObject::DeleteTempMap() {
    GdiMap::instance().delete_temporaries();
}

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
    if (hObject == NULL || m_hObject != NULL || ::GetObjectType(hObject) == 0) {
        return FALSE;
    }
    if (!GdiMap::instance().add_owner(hObject, this)) {
        return FALSE;
    }
    m_hObject = hObject;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ h = m_hObject;
    if (h != NULL) {
        GdiMap::instance().remove_owner(h, this);
    }
    m_hObject = NULL;
    return h;
}

BOOL CGdiObject::DeleteObject() {
    if (m_hObject == NULL) {
        return FALSE;
    }
    return ::DeleteObject(Detach());
}

int CGdiObject::GetObject(int nCount, LPVOID lpObject) const {
    return ::GetObjectA(m_hObject, nCount, lpObject);
}

UINT CGdiObject::GetObjectType() const {
    return static_cast<UINT>(::GetObjectType(m_hObject));
}

BOOL CGdiObject::CreateStockObject(int nIndex) {
    // Stock objects belong to the system and any number of wrappers may hold one, so the
    // wrapper does not become its owner (DeleteObject of a stock object does nothing anyway).
    if (m_hObject != NULL) {
        return FALSE;
    }
    m_hObject = ::GetStockObject(nIndex);
    return m_hObject != NULL;
}

namespace {

// Attaches a handle just made for w, or destroys it when w cannot take it.
BOOL attach_new(CGdiObject* w, HGDIOBJ h) {
    if (h == NULL) {
        return FALSE;
    }
    if (!w->Attach(h)) {
        ::DeleteObject(h);
        return FALSE;
    }
    return TRUE;
}

} // namespace

// ---- CBitmap ---------------------------------------------------------------------------------

CBitmap* PASCAL CBitmap::FromHandle(HBITMAP hBitmap) {
    return GdiMap::instance().from_handle<CBitmap>(hBitmap);
}

BOOL CBitmap::CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitcount,
                           const void* lpBits) {
    if (m_hObject != NULL) {
        return FALSE;
    }
    return attach_new(this, ::CreateBitmap(nWidth, nHeight, nPlanes, nBitcount, lpBits));
}

BOOL CBitmap::CreateBitmapIndirect(LPBITMAP lpBitmap) {
    if (m_hObject != NULL || lpBitmap == NULL) {
        return FALSE;
    }
    return attach_new(this, ::CreateBitmapIndirect(lpBitmap));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
    if (m_hObject != NULL || pDC == NULL) {
        return FALSE;
    }
    return attach_new(this, ::CreateCompatibleBitmap(pDC->m_hDC, nWidth, nHeight));
}

int CBitmap::GetBitmap(BITMAP* pBitMap) {
    return ::GetObjectA(m_hObject, sizeof(BITMAP), pBitMap);
}

DWORD CBitmap::SetBitmapBits(DWORD dwCount, const void* lpBits) {
    return static_cast<DWORD>(::SetBitmapBits(static_cast<HBITMAP>(m_hObject), dwCount, lpBits));
}

DWORD CBitmap::GetBitmapBits(DWORD dwCount, LPVOID lpBits) const {
    return static_cast<DWORD>(
        ::GetBitmapBits(static_cast<HBITMAP>(m_hObject), static_cast<LONG>(dwCount), lpBits));
}

// ---- CPalette --------------------------------------------------------------------------------

CPalette* PASCAL CPalette::FromHandle(HPALETTE hPalette) {
    return GdiMap::instance().from_handle<CPalette>(hPalette);
}

BOOL CPalette::CreatePalette(LPLOGPALETTE lpLogPalette) {
    if (m_hObject != NULL || lpLogPalette == NULL) {
        return FALSE;
    }
    return attach_new(this, ::CreatePalette(lpLogPalette));
}

int CPalette::GetEntryCount() {
    // GetObject of a palette gives its entry count as a WORD.
    WORD nEntries = 0;
    if (::GetObjectA(m_hObject, sizeof(WORD), &nEntries) == 0) {
        return 0;
    }
    return nEntries;
}

UINT CPalette::GetPaletteEntries(UINT nStartIndex, UINT nNumEntries,
                                 LPPALETTEENTRY lpPaletteColors) const {
    return ::GetPaletteEntries(static_cast<HPALETTE>(m_hObject), nStartIndex, nNumEntries,
                               lpPaletteColors);
}

UINT CPalette::SetPaletteEntries(UINT nStartIndex, UINT nNumEntries,
                                 LPPALETTEENTRY lpPaletteColors) {
    return ::SetPaletteEntries(static_cast<HPALETTE>(m_hObject), nStartIndex, nNumEntries,
                               lpPaletteColors);
}

UINT CPalette::GetNearestPaletteIndex(COLORREF crColor) const {
    return ::GetNearestPaletteIndex(static_cast<HPALETTE>(m_hObject), crColor);
}

// ---- CBrush ----------------------------------------------------------------------------------

CBrush::CBrush(COLORREF crColor) {
    if (!CreateSolidBrush(crColor)) {
        AfxThrowResourceException();
    }
}

CBrush::CBrush(CBitmap* pBitmap) {
    if (!CreatePatternBrush(pBitmap)) {
        AfxThrowResourceException();
    }
}

CBrush* PASCAL CBrush::FromHandle(HBRUSH hBrush) {
    return GdiMap::instance().from_handle<CBrush>(hBrush);
}

BOOL CBrush::CreateSolidBrush(COLORREF crColor) {
    if (m_hObject != NULL) {
        return FALSE;
    }
    return attach_new(this, ::CreateSolidBrush(crColor));
}

BOOL CBrush::CreatePatternBrush(CBitmap* pBitmap) {
    if (m_hObject != NULL || pBitmap == NULL) {
        return FALSE;
    }
    return attach_new(this, ::CreatePatternBrush(static_cast<HBITMAP>(pBitmap->m_hObject)));
}

BOOL CBrush::CreateBrushIndirect(const LOGBRUSH* lpLogBrush) {
    if (m_hObject != NULL || lpLogBrush == NULL) {
        return FALSE;
    }
    return attach_new(this, ::CreateBrushIndirect(lpLogBrush));
}

int CBrush::GetLogBrush(LOGBRUSH* pLogBrush) {
    return ::GetObjectA(m_hObject, sizeof(LOGBRUSH), pLogBrush);
}
