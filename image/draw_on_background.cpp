// Drawing one frame, transparently or half-transparently, over a background the caller names (a
// piece of a bitmap, or a colour) instead of over what the destination shows. The frame and its
// background are joined in an off-screen bitmap of the frame's size and the destination receives
// the finished rectangle in one copy: it is never read, and never shows a half-made picture.
#include <Image.h>

#include "image/draw_internal.h"

using image_draw::CanDrawFrame;
using image_draw::CanDrawSemiFrame;
using image_draw::CWorkDC;
using image_draw::DrawFromList;
using image_draw::SelectDitherPalette;

namespace {

// What the frame's transparent pixels show: the piece of `pBitmap` whose top-left is (x, y), or
// the colour when there is no bitmap.
struct Background {
    CBitmap* pBitmap;
    int x;
    int y;
    COLORREF crColor;
};

// Lays the background into a new off-screen frame of `size`, lets `drawFrame` draw the frame
// transparently onto that context at (0, 0), and copies the result to (x, y) of the destination.
// Any step that fails ends the call with 0 before the destination is written; whatever was made
// is selected back and released on every path.
template <class DrawFrame>
int ComposeAndCopy(CDC* pDC, int x, int y, const CSize& size, const Background& back,
                   DrawFrame drawFrame) {
    const int w = size.cx;
    const int h = size.cy;
    CWorkDC offscreen;
    CBitmap frame;
    CWorkDC backdrop;
    CBrush brush;
    int result = 0;
    if (offscreen.Create(pDC) && frame.CreateCompatibleBitmap(pDC, w, h) &&
        offscreen.Select(&frame)) {
        offscreen.TakeMapMode(pDC);
        bool laid = false;
        if (back.pBitmap != nullptr) {
            if (backdrop.Create(pDC) && backdrop.Select(back.pBitmap)) {
                backdrop.TakeMapMode(pDC);
                // The piece is not checked against the background's size: the blit clips it, and
                // what lies beyond the bitmap keeps the new frame's initial pixels.
                laid = offscreen->BitBlt(0, 0, w, h, backdrop.Get(), back.x, back.y, SRCCOPY) != 0;
            }
        } else if (brush.CreateSolidBrush(back.crColor)) {
            CRect all;
            all.SetRect(0, 0, w, h);
            offscreen->FillRect(&all, &brush);
            laid = true;
        }
        if (laid && drawFrame(offscreen.Get()) != 0) {
            result = pDC->BitBlt(x, y, w, h, offscreen.Get(), 0, 0, SRCCOPY);
        }
    }
    offscreen.Deselect();
    backdrop.Deselect();
    frame.DeleteObject();
    offscreen.Release();
    backdrop.Release();
    brush.DeleteObject();
    return result;
}

} // namespace

int CImage::DrawTransparentSetBackground(CDC* pDC, int x, int y, int nImage, CBitmap* pBackground,
                                         int nBkX, int nBkY) {
    if (!CanDrawFrame(pDC, pBackground != nullptr, nImage, m_nImageNum, m_bImageListMethod,
                      m_pImageList)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return ComposeAndCopy(pDC, x, y, m_sizeImage, {pBackground, nBkX, nBkY, 0},
                          [&](CDC* pOffscreen) {
                              if (m_bImageListMethod) {
                                  return DrawFromList(m_pImageList, CLR_NONE, nImage, pOffscreen, 0,
                                                      0, ILD_TRANSPARENT);
                              }
                              return DrawBitmapTransparent(m_pBitmap, pOffscreen, 0, 0, nImage);
                          });
}

int CImage::DrawTransparentSetBkColor(CDC* pDC, int x, int y, int nImage, COLORREF crBack) {
    if (!CanDrawFrame(pDC, true, nImage, m_nImageNum, m_bImageListMethod, m_pImageList)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return ComposeAndCopy(pDC, x, y, m_sizeImage, {nullptr, 0, 0, crBack}, [&](CDC* pOffscreen) {
        if (m_bImageListMethod) {
            return DrawFromList(m_pImageList, CLR_NONE, nImage, pOffscreen, 0, 0, ILD_TRANSPARENT);
        }
        return DrawBitmapTransparent(m_pBitmap, pOffscreen, 0, 0, nImage);
    });
}

int CImage::DrawSemiTransparentSetBackground(CDC* pDC, int x, int y, int nImage,
                                             CBitmap* pBackground, int nBkX, int nBkY) {
    if (!CanDrawSemiFrame(pDC, m_bImageListMethod, m_pSemiImageList, m_pSemiBitmap,
                          pBackground != nullptr, nImage, m_nImageNum)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return ComposeAndCopy(pDC, x, y, m_sizeImage, {pBackground, nBkX, nBkY, 0},
                          [&](CDC* pOffscreen) {
                              if (m_bImageListMethod) {
                                  return DrawFromList(m_pSemiImageList, CLR_NONE, nImage,
                                                      pOffscreen, 0, 0, ILD_TRANSPARENT);
                              }
                              return DrawBitmapTransparent(m_pSemiBitmap, pOffscreen, 0, 0, nImage);
                          });
}

int CImage::DrawSemiTransparentSetBkColor(CDC* pDC, int x, int y, int nImage, COLORREF crBack) {
    if (!CanDrawSemiFrame(pDC, m_bImageListMethod, m_pSemiImageList, m_pSemiBitmap, true, nImage,
                          m_nImageNum)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return ComposeAndCopy(pDC, x, y, m_sizeImage, {nullptr, 0, 0, crBack}, [&](CDC* pOffscreen) {
        if (m_bImageListMethod) {
            return DrawFromList(m_pSemiImageList, CLR_NONE, nImage, pOffscreen, 0, 0,
                                ILD_TRANSPARENT);
        }
        return DrawBitmapTransparent(m_pSemiBitmap, pOffscreen, 0, 0, nImage);
    });
}
