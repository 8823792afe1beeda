// The steps the drawing operations share (image/draw_internal.h).
#include "image/draw_internal.h"

#include "module/dither_palette.h"

namespace image_draw {

bool IsDrawableDC(CDC* pDC) {
    if (pDC == nullptr || pDC->GetSafeHdc() == nullptr) {
        return false;
    }
    return ::GetObjectType(pDC->GetSafeHdc()) != 0;
}

void SelectDitherPalette(CDC* pDC) {
    if (g_pDitherPalette == nullptr) {
        return;
    }
    pDC->SelectPalette(g_pDitherPalette, FALSE);
    pDC->RealizePalette();
}

int DrawFromList(CImageList* pList, COLORREF crBack, int nImage, CDC* pDC, int x, int y,
                 UINT nStyle) {
    ImageList_SetBkColor(pList->GetSafeHandle(), crBack);
    return ImageList_Draw(pList->GetSafeHandle(), nImage, pDC->GetSafeHdc(), x, y, nStyle);
}

bool CWorkDC::Select(CBitmap* pBitmap) {
    if (pBitmap == nullptr || m_dc.GetSafeHdc() == nullptr || m_hPrevious != nullptr) {
        return false;
    }
    m_hPrevious = ::SelectObject(m_dc.GetSafeHdc(), pBitmap->GetSafeHandle());
    return m_hPrevious != nullptr;
}

void CWorkDC::Deselect() {
    if (m_hPrevious != nullptr) {
        ::SelectObject(m_dc.GetSafeHdc(), m_hPrevious);
        m_hPrevious = nullptr;
    }
}

void CWorkDC::Release() {
    Deselect();
    if (m_dc.GetSafeHdc() != nullptr) {
        m_dc.DeleteDC();
    }
}

} // namespace image_draw
