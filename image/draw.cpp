// Drawing one frame straight onto the caller's device context: plainly, transparently,
// half-transparently, highlighted as selected or focused, or on a colour; and the plain copy of
// any rectangle of the strip bitmap. Each operation runs its checks first (a failing one returns
// 0 with the destination untouched), then the palette step, then draws in the strip's storage
// mode: through the image lists, or from the strip bitmaps.
#include <Image.h>

#include "image/draw_internal.h"

using image_draw::CanDrawFrame;
using image_draw::CanDrawSemiFrame;
using image_draw::CWorkDC;
using image_draw::DrawFromList;
using image_draw::FrameLeft;
using image_draw::IsDrawableDC;
using image_draw::IsFrameIndex;
using image_draw::SelectDitherPalette;

namespace {

// Copies cx x cy pixels of the strip bitmap from (sx, sy) to (x, y) of the destination through a
// memory context. 0 when the context cannot be made or the bitmap cannot be selected (a null
// bitmap included), otherwise the result of the blit.
int CopyFromStrip(CBitmap* pStrip, CDC* pDC, int x, int y, int cx, int cy, int sx, int sy) {
    CWorkDC strip;
    if (!strip.Create(pDC) || !strip.Select(pStrip)) {
        return 0;
    }
    strip.TakeMapMode(pDC);
    const int result = pDC->BitBlt(x, y, cx, cy, strip.Get(), sx, sy, SRCCOPY);
    strip.Release();
    return result;
}

} // namespace

int CImage::Draw(CDC* pDC, int x, int y, int nImage) {
    if (!CanDrawFrame(pDC, true, nImage, m_nImageNum, m_bImageListMethod, m_pImageList)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    if (m_bImageListMethod) {
        // With a background colour the list writes the whole rectangle, its masked pixels in
        // the transparent colour: the same picture as the plain copy below.
        return DrawFromList(m_pImageList, m_crTransparent, nImage, pDC, x, y, ILD_NORMAL);
    }
    return CopyFromStrip(m_pBitmap, pDC, x, y, m_sizeImage.cx, m_sizeImage.cy,
                         FrameLeft(m_sizeImage.cx, nImage), 0);
}

int CImage::Draw(CDC* pDC, int x, int y, const CPoint& size, int nSrcX, int nSrcY) {
    if (!IsDrawableDC(pDC) || m_bImageListMethod) {
        return 0;
    }
    SelectDitherPalette(pDC);
    // The rectangle is the caller's and may span frames; the blit clips it to the bitmap.
    return CopyFromStrip(m_pBitmap, pDC, x, y, size.x, size.y, nSrcX, nSrcY);
}

int CImage::DrawTransparent(CDC* pDC, int x, int y, int nImage) {
    if (!CanDrawFrame(pDC, true, nImage, m_nImageNum, m_bImageListMethod, m_pImageList)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    if (m_bImageListMethod) {
        return DrawFromList(m_pImageList, CLR_NONE, nImage, pDC, x, y, ILD_TRANSPARENT);
    }
    return DrawBitmapTransparent(m_pBitmap, pDC, x, y, nImage);
}

int CImage::DrawSemiTransparent(CDC* pDC, int x, int y, int nImage) {
    if (!CanDrawSemiFrame(pDC, m_bImageListMethod, m_pSemiImageList, m_pSemiBitmap, true, nImage,
                          m_nImageNum)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    if (m_bImageListMethod) {
        return DrawFromList(m_pSemiImageList, CLR_NONE, nImage, pDC, x, y, ILD_TRANSPARENT);
    }
    return DrawBitmapTransparent(m_pSemiBitmap, pDC, x, y, nImage);
}

namespace {

// The three operations that only image lists can do share their checks: image-list mode, the
// list, then the frame index.
bool CanDrawFromList(BOOL bImageListMethod, const CImageList* pList, int nImage, int nImageNum) {
    return bImageListMethod && pList != nullptr && IsFrameIndex(nImage, nImageNum);
}

} // namespace

int CImage::DrawSelected(CDC* pDC, int x, int y, int nImage) {
    if (!IsDrawableDC(pDC) ||
        !CanDrawFromList(m_bImageListMethod, m_pImageList, nImage, m_nImageNum)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return DrawFromList(m_pImageList, CLR_NONE, nImage, pDC, x, y, ILD_SELECTED);
}

int CImage::DrawFocused(CDC* pDC, int x, int y, int nImage) {
    if (!IsDrawableDC(pDC) ||
        !CanDrawFromList(m_bImageListMethod, m_pImageList, nImage, m_nImageNum)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return DrawFromList(m_pImageList, CLR_NONE, nImage, pDC, x, y, ILD_FOCUS);
}

int CImage::DrawOnColor(CDC* pDC, int x, int y, int nImage, COLORREF crColor) {
    if (!IsDrawableDC(pDC) ||
        !CanDrawFromList(m_bImageListMethod, m_pImageList, nImage, m_nImageNum)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return DrawFromList(m_pImageList, crColor, nImage, pDC, x, y, ILD_NORMAL);
}
