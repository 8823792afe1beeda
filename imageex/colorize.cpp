// Colorize drawing: one frame shown as its grey levels times a tint. Above 8 bits a pixel the
// frame and the destination rectangle are converted in software; on palette devices the
// unchanged strip is drawn through a tinted copy of the system palette.
#include "imageex_internal.h"

int CImageEx::DrawColorize(HDC hDC, int x, int y, int nImage, COLORREF crColor) {
    return HelpDrawColorize(hDC, x, y, nImage, crColor, 0, 0);
}

int CImageEx::DrawColorizeTransparent(HDC hDC, int x, int y, int nImage, COLORREF crColor) {
    return HelpDrawColorize(hDC, x, y, nImage, crColor, 1, 0);
}

int CImageEx::DrawColorizeWithBack(HDC hDC, int x, int y, int nImage, COLORREF crColor) {
    return HelpDrawColorize(hDC, x, y, nImage, crColor, 1, 1);
}

int CImageEx::HelpDrawColorize(HDC hDC, int x, int y, int nImage, COLORREF crColor,
                               int bTransparent, int bWithBack) {
    if (!CImageExAccess::BeginDraw(*this, hDC, nImage)) {
        return 0;
    }
    // Tints are colours 0x00BBGGRR; a high byte would scale blue past a byte, so it is dropped.
    crColor &= 0x00FFFFFF;

    if (m_nSystemBitCount <= 8) {
        // Every system colour becomes the tint of its grey (key-coloured entries stay as they
        // are for the transparent operations), and the strip is drawn through that palette.
        const int bits = m_nSystemBitCount < 1 ? 0 : m_nSystemBitCount;
        const int count = 1 << bits;
        struct {
            WORD version;
            WORD count;
            PALETTEENTRY entries[256];
        } log = {0x300, static_cast<WORD>(count), {}};
        GetSystemPaletteEntries(hDC, 0, static_cast<UINT>(count), log.entries);
        for (int i = 0; i < count; ++i) {
            PALETTEENTRY& e = log.entries[i];
            if (bTransparent && RGB(e.peRed, e.peGreen, e.peBlue) == m_crTransparent) {
                e.peFlags = 0;
                continue;
            }
            const COLORREF tinted = TintOfGrey(e.peRed, e.peGreen, e.peBlue, crColor);
            e = {GetRValue(tinted), GetGValue(tinted), GetBValue(tinted), 0};
        }
        // Without the tinted palette the frame would show untinted: nothing is drawn instead.
        HPALETTE hTinted = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&log));
        if (hTinted != nullptr) {
            if (bTransparent) {
                HelpDrawTransparent(hDC, hTinted, x, y, nImage);
            } else {
                HelpDraw(hDC, hTinted, x, y, nImage);
            }
            DeleteObject(hTinted);
        }
        return 1;
    }

    EffectCopies copies;
    if (copies.Prepare(hDC, m_hBitmap, x, y, nImage * m_nWidth, m_nWidth, m_nHeight)) {
        ColorizeRows(copies.bpp, copies.frame, copies.dest, m_nWidth, m_nHeight, copies.rowBytes,
                     crColor, bTransparent, bWithBack, m_crTransparent);
        copies.Finish(m_hPalette);
    }
    return 1;
}
