// Plain and colour-key drawing of one frame: the blit path on m_hBitmap with memory contexts, and
// the image-list path. The palette given (the object's own, or the tinted one of colorize
// drawing on palette devices) is selected and realized in the destination only around the one
// transfer that writes it.
#include "imageex_internal.h"

#include <afxcmn.h>

namespace {

// A memory context compatible with `hDC`, in its mapping mode, with `hBitmap` selected.
struct MemoryContext {
    HDC hDC = nullptr;
    HGDIOBJ hOld = nullptr;

    MemoryContext(HDC hTarget, HBITMAP hBitmap) {
        hDC = CreateCompatibleDC(hTarget);
        if (hDC != nullptr) {
            SetMapMode(hDC, GetMapMode(hTarget));
            if (hBitmap != nullptr) {
                hOld = SelectObject(hDC, hBitmap);
            }
        }
    }
    // Puts the old bitmap back and deletes the context; the bitmap itself stays.
    HBITMAP Release() {
        HBITMAP hBitmap = nullptr;
        if (hDC != nullptr) {
            if (hOld != nullptr) {
                hBitmap = static_cast<HBITMAP>(SelectObject(hDC, hOld));
            }
            DeleteDC(hDC);
            hDC = nullptr;
        }
        return hBitmap;
    }
};

// A memory context holding a bitmap made for this call alone; the bitmap is deleted with it.
struct ScratchContext : MemoryContext {
    ScratchContext(HDC hTarget, HBITMAP hBitmap) : MemoryContext(hTarget, hBitmap) {}
    ~ScratchContext() {
        if (HBITMAP hBitmap = Release()) {
            DeleteObject(hBitmap);
        }
    }
};

HBITMAP CompatibleBitmap(HDC hLike, int w, int h) {
    return hLike != nullptr ? CreateCompatibleBitmap(hLike, w, h) : nullptr;
}

// A new bitmap is freed at once when its context could not be made to hold it.
void DropIfNotHeld(HBITMAP hBitmap, const MemoryContext& context) {
    if (hBitmap != nullptr && context.hOld == nullptr) {
        DeleteObject(hBitmap);
    }
}

// The image-list path of the plain and colour-key drawing: the list's background colour, then the
// frame in `nStyle`, with the palette selected around the draw. 0 when the list could not be
// built: there is nothing to draw from.
int DrawFromList(CImageList* pList, HDC hDC, HPALETTE hPalette, COLORREF crBack, int nImage, int x,
                 int y, UINT nStyle) {
    if (pList == nullptr) {
        return 0;
    }
    DestinationPalette palette(hDC, hPalette);
    ImageList_SetBkColor(pList->m_hImageList, crBack);
    return ImageList_Draw(pList->m_hImageList, nImage, hDC, x, y, nStyle);
}

} // namespace

int CImageEx::Draw(HDC hDC, int x, int y, int nImage) {
    return HelpDraw(hDC, m_hPalette, x, y, nImage);
}

int CImageEx::DrawTransparent(HDC hDC, int x, int y, int nImage) {
    return HelpDrawTransparent(hDC, m_hPalette, x, y, nImage);
}

int CImageEx::HelpDraw(HDC hDC, HPALETTE hPalette, int x, int y, int nImage) {
    if (!CImageExAccess::BeginDraw(*this, hDC, nImage)) {
        return 0;
    }

    if (m_bImageListMethod) {
        // Masked pixels are painted in the key colour itself: the frame shows as in the file.
        return DrawFromList(m_pImageList, hDC, hPalette, m_crTransparent, nImage, x, y, ILD_NORMAL);
    }

    MemoryContext source(hDC, m_hBitmap);
    if (source.hOld != nullptr) {
        DestinationPalette palette(hDC, hPalette);
        StretchBlt(hDC, x, y, m_nWidth, m_nHeight, source.hDC, nImage * m_nWidth, 0, m_nWidth,
                   m_nHeight, SRCCOPY);
    }
    source.Release();
    return 1;
}

// The blit path builds a monochrome mask of the key colour, clears the key pixels of a copy of
// the frame, keeps the destination only under them in a copy of what lies under the frame,
// merges the two and writes the destination once.
int CImageEx::HelpDrawTransparent(HDC hDC, HPALETTE hPalette, int x, int y, int nImage) {
    if (!CImageExAccess::BeginDraw(*this, hDC, nImage)) {
        return 0;
    }

    if (m_bImageListMethod) {
        return DrawFromList(m_pImageList, hDC, hPalette, CLR_NONE, nImage, x, y, ILD_TRANSPARENT);
    }

    const int w = m_nWidth;
    const int h = m_nHeight;
    const int sx = nImage * w;
    MemoryContext source(hDC, m_hBitmap);
    {
        HBITMAP hMaskBitmap = CreateBitmap(w, h, 1, 1, nullptr);
        ScratchContext mask(hDC, hMaskBitmap);
        DropIfNotHeld(hMaskBitmap, mask);
        SetBkColor(source.hDC, m_crTransparent);
        StretchBlt(mask.hDC, 0, 0, w, h, source.hDC, sx, 0, w, h, SRCCOPY);

        HBITMAP hImageBitmap = CompatibleBitmap(source.hDC, w, h);
        ScratchContext image(hDC, hImageBitmap);
        DropIfNotHeld(hImageBitmap, image);
        StretchBlt(image.hDC, 0, 0, w, h, source.hDC, sx, 0, w, h, SRCCOPY);
        StretchBlt(image.hDC, 0, 0, w, h, mask.hDC, 0, 0, w, h, 0x00220326); // D & ~S

        HBITMAP hBackBitmap = CompatibleBitmap(source.hDC, w, h);
        ScratchContext back(hDC, hBackBitmap);
        DropIfNotHeld(hBackBitmap, back);
        StretchBlt(back.hDC, 0, 0, w, h, hDC, x, y, w, h, SRCCOPY);
        StretchBlt(back.hDC, 0, 0, w, h, mask.hDC, 0, 0, w, h, SRCAND);
        StretchBlt(back.hDC, 0, 0, w, h, image.hDC, 0, 0, w, h, SRCPAINT);

        // A context or bitmap that could not be made leaves the destination as it was.
        if (source.hOld != nullptr && mask.hOld != nullptr && image.hOld != nullptr &&
            back.hOld != nullptr) {
            DestinationPalette palette(hDC, hPalette);
            StretchBlt(hDC, x, y, w, h, back.hDC, 0, 0, w, h, SRCCOPY);
        }
        // The scratch contexts go in reverse order of making: back, image, mask.
    }
    source.Release();
    return 1;
}
