// CDC and the window DCs CClientDC and CWindowDC.
#include "gdi_maps.h"

#include <afxwin.h>

using afx_internal::DcMap;

CDC::~CDC() {
    if (m_hDC != NULL) {
        ::DeleteDC(Detach());
    }
}

CDC* PASCAL CDC::FromHandle(HDC hDC) {
    return DcMap::instance().from_handle<CDC>(hDC);
}

void PASCAL CDC::DeleteTempMap() {
    DcMap::instance().delete_temporaries();
}

BOOL CDC::Attach(HDC hDC) {
    if (hDC == NULL || m_hDC != NULL || ::GetObjectType(hDC) == 0) {
        return FALSE;
    }
    if (!DcMap::instance().add_owner(hDC, this)) {
        return FALSE;
    }
    m_hDC = m_hAttribDC = hDC;
    return TRUE;
}

HDC CDC::Detach() {
    HDC h = m_hDC;
    if (h != NULL) {
        DcMap::instance().remove_owner(h, this);
    }
    m_hDC = m_hAttribDC = NULL;
    return h;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    if (m_hDC != NULL) {
        return FALSE;
    }
    HDC h = ::CreateCompatibleDC(pDC != NULL ? pDC->m_hDC : NULL);
    if (h == NULL) {
        return FALSE;
    }
    if (!Attach(h)) {
        ::DeleteDC(h);
        return FALSE;
    }
    return TRUE;
}

BOOL CDC::DeleteDC() {
    if (m_hDC == NULL) {
        return FALSE;
    }
    return ::DeleteDC(Detach());
}

int CDC::SaveDC() {
    return ::SaveDC(m_hDC);
}
BOOL CDC::RestoreDC(int nSavedDC) {
    return ::RestoreDC(m_hDC, nSavedDC);
}
int CDC::GetDeviceCaps(int nIndex) const {
    return ::GetDeviceCaps(m_hAttribDC, nIndex);
}

CGdiObject* PASCAL CDC::SelectGdiObject(HDC hDC, HGDIOBJ h) {
    if (hDC == NULL || h == NULL) {
        return NULL;
    }
    return CGdiObject::FromHandle(::SelectObject(hDC, h));
}

CGdiObject* CDC::SelectStockObject(int nIndex) {
    return SelectGdiObject(m_hDC, ::GetStockObject(nIndex));
}

CBrush* CDC::SelectObject(CBrush* pBrush) {
    if (pBrush == NULL) {
        return NULL;
    }
    return CBrush::FromHandle(static_cast<HBRUSH>(m_hDC != NULL && pBrush->m_hObject != NULL
                                                      ? ::SelectObject(m_hDC, pBrush->m_hObject)
                                                      : NULL));
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
    if (pBitmap == NULL) {
        return NULL;
    }
    return CBitmap::FromHandle(static_cast<HBITMAP>(m_hDC != NULL && pBitmap->m_hObject != NULL
                                                        ? ::SelectObject(m_hDC, pBitmap->m_hObject)
                                                        : NULL));
}

CGdiObject* CDC::SelectObject(CGdiObject* pObject) {
    if (pObject == NULL) {
        return NULL;
    }
    return SelectGdiObject(m_hDC, pObject->m_hObject);
}

CPalette* CDC::SelectPalette(CPalette* pPalette, BOOL bForceBackground) {
    if (pPalette == NULL || m_hDC == NULL || pPalette->m_hObject == NULL) {
        return NULL;
    }
    return CPalette::FromHandle(
        ::SelectPalette(m_hDC, static_cast<HPALETTE>(pPalette->m_hObject), bForceBackground));
}

UINT CDC::RealizePalette() {
    return ::RealizePalette(m_hDC);
}

COLORREF CDC::GetNearestColor(COLORREF crColor) const {
    return ::GetNearestColor(m_hAttribDC, crColor);
}

COLORREF CDC::GetBkColor() const {
    return ::GetBkColor(m_hAttribDC);
}
COLORREF CDC::SetBkColor(COLORREF crColor) {
    return ::SetBkColor(m_hDC, crColor);
}
int CDC::GetBkMode() const {
    return ::GetBkMode(m_hAttribDC);
}
int CDC::SetBkMode(int nBkMode) {
    return ::SetBkMode(m_hDC, nBkMode);
}
COLORREF CDC::GetTextColor() const {
    return ::GetTextColor(m_hAttribDC);
}
COLORREF CDC::SetTextColor(COLORREF crColor) {
    return ::SetTextColor(m_hDC, crColor);
}
int CDC::GetStretchBltMode() const {
    return ::GetStretchBltMode(m_hAttribDC);
}
int CDC::SetStretchBltMode(int nStretchMode) {
    return ::SetStretchBltMode(m_hDC, nStretchMode);
}
int CDC::GetMapMode() const {
    return ::GetMapMode(m_hAttribDC);
}
int CDC::SetMapMode(int nMapMode) {
    return ::SetMapMode(m_hDC, nMapMode);
}

CPoint CDC::GetBrushOrg() const {
    POINT pt = {0, 0};
    ::GetBrushOrgEx(m_hDC, &pt);
    return pt;
}

CPoint CDC::SetBrushOrg(int x, int y) {
    POINT old = {0, 0};
    ::SetBrushOrgEx(m_hDC, x, y, &old);
    return old;
}

void CDC::FillRect(LPCRECT lpRect, CBrush* pBrush) {
    if (lpRect == NULL || pBrush == NULL) {
        return;
    }
    ::FillRect(m_hDC, lpRect, static_cast<HBRUSH>(pBrush->m_hObject));
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF clr) {
    if (lpRect == NULL) {
        return;
    }
    ::SetBkColor(m_hDC, clr);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, lpRect, NULL, 0, NULL);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF clr) {
    const RECT rect = {x, y, x + cx, y + cy};
    FillSolidRect(&rect, clr);
}

BOOL CDC::PatBlt(int x, int y, int nWidth, int nHeight, DWORD dwRop) {
    return ::PatBlt(m_hDC, x, y, nWidth, nHeight, dwRop);
}

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                 DWORD dwRop) {
    return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC != NULL ? pSrcDC->m_hDC : NULL, xSrc, ySrc,
                    dwRop);
}

BOOL CDC::StretchBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                     int nSrcWidth, int nSrcHeight, DWORD dwRop) {
    return ::StretchBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC != NULL ? pSrcDC->m_hDC : NULL, xSrc,
                        ySrc, nSrcWidth, nSrcHeight, dwRop);
}

COLORREF CDC::GetPixel(int x, int y) const {
    return ::GetPixel(m_hDC, x, y);
}

COLORREF CDC::SetPixel(int x, int y, COLORREF crColor) {
    return ::SetPixel(m_hDC, x, y, crColor);
}

BOOL CDC::SetPixelV(int x, int y, COLORREF crColor) {
    return ::SetPixelV(m_hDC, x, y, crColor);
}

// ---- Window DCs ------------------------------------------------------------------------------

CClientDC::CClientDC(CWnd* pWnd) : m_hWnd(pWnd != NULL ? pWnd->m_hWnd : NULL) {
    HDC h = ::GetDC(m_hWnd);
    if (!Attach(h)) {
        if (h != NULL) {
            ::ReleaseDC(m_hWnd, h);
        }
        AfxThrowResourceException();
    }
}

CClientDC::~CClientDC() {
    if (m_hDC != NULL) {
        ::ReleaseDC(m_hWnd, Detach());
    }
}

CWindowDC::CWindowDC(CWnd* pWnd) : m_hWnd(pWnd != NULL ? pWnd->m_hWnd : NULL) {
    HDC h = ::GetWindowDC(m_hWnd);
    if (!Attach(h)) {
        if (h != NULL) {
            ::ReleaseDC(m_hWnd, h);
        }
        AfxThrowResourceException();
    }
}

CWindowDC::~CWindowDC() {
    if (m_hDC != NULL) {
        ::ReleaseDC(m_hWnd, Detach());
    }
}
