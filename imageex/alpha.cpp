// Alpha drawing: one frame mixed with what lies on the destination, with one weight for the
// whole frame (the destination's share in 256ths), optionally leaving the key pixels out. Palette
// devices get the frame unmixed.
#include "imageex_internal.h"

int CImageEx::DrawAlpha(HDC hDC, int x, int y, int nImage, int nAlpha) {
    return HelpDrawAlpha(hDC, x, y, nImage, nAlpha, 0);
}

int CImageEx::DrawAlphaTransparent(HDC hDC, int x, int y, int nImage, int nAlpha) {
    return HelpDrawAlpha(hDC, x, y, nImage, nAlpha, 1);
}

int CImageEx::HelpDrawAlpha(HDC hDC, int x, int y, int nImage, int nAlpha, int bTransparent) {
    if (!CImageExAccess::BeginDraw(*this, hDC, nImage)) {
        return 0;
    }
    if (m_nSystemBitCount <= 8) {
        if (bTransparent) {
            DrawTransparent(hDC, x, y, nImage);
        } else {
            Draw(hDC, x, y, nImage);
        }
        return 0;
    }

    // The GDI calls are not checked one by one: a copy that cannot be made leaves the
    // destination untouched, and the call still counts as drawn.
    EffectCopies copies;
    if (copies.Prepare(hDC, m_hBitmap, x, y, nImage * m_nWidth, m_nWidth, m_nHeight)) {
        const int a = nAlpha < 0 ? 0 : (nAlpha > 256 ? 256 : nAlpha);
        MixAlphaRows(copies.bpp, copies.frame, copies.dest, m_nWidth, m_nHeight, copies.rowBytes, a,
                     bTransparent, m_crTransparent);
        copies.Finish(nullptr);
    }
    return 1;
}
