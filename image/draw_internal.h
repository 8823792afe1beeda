// Steps that every drawing operation of CImage shares: refusing what cannot be drawn on, the
// palette step, frame indices and their columns, and the memory contexts that hold a bitmap
// for one call. Internal to the library.
#pragma once

#include <afxcmn.h>
#include <afxwin.h>

namespace image_draw {

// A destination we can draw on: a wrapper that holds a live device context. A null pointer or
// a context that has been deleted is refused with 0 before anything else, since no step could
// touch it.
bool IsDrawableDC(CDC* pDC);

// The palette step: the global dither palette, when the display has one, becomes the
// destination's foreground palette and is realized. It stays selected afterwards (the previous
// palette is not put back), so the caller's later drawing on that context uses it too.
void SelectDitherPalette(CDC* pDC);

// Frame indices run from 0 to the frame count - 1. A negative index is refused like one past
// the end, so no operation reads left of the strip.
inline bool IsFrameIndex(int nImage, int nImageNum) {
    return nImage >= 0 && nImage < nImageNum;
}

// The checks of the operations that draw one frame of the strip, in their order (the first that
// fails ends the call with 0 before anything is drawn): a drawable destination, the caller's
// background where the operation takes one (`bBackground`, true where it takes none), the frame
// index, and in image-list mode the list.
inline bool CanDrawFrame(CDC* pDC, bool bBackground, int nImage, int nImageNum,
                         BOOL bImageListMethod, const CImageList* pList) {
    return IsDrawableDC(pDC) && bBackground && IsFrameIndex(nImage, nImageNum) &&
           !(bImageListMethod && pList == nullptr);
}

// The half-transparent operations check the half-transparent strip in the storage mode's form
// (the list, or the bitmap) right after the destination, then the background and the frame index.
inline bool CanDrawSemiFrame(CDC* pDC, BOOL bImageListMethod, const CImageList* pSemiList,
                             const CBitmap* pSemiBitmap, bool bBackground, int nImage,
                             int nImageNum) {
    return IsDrawableDC(pDC) &&
           (bImageListMethod ? pSemiList != nullptr : pSemiBitmap != nullptr) && bBackground &&
           IsFrameIndex(nImage, nImageNum);
}

// Left column of frame nImage: the 32-bit product of frame width and index, wrapping as the
// platform's 32-bit arithmetic does instead of overflowing (only a caller who enlarged the frame
// size through GetImageSize can get there; the blit then clips).
inline int FrameLeft(int nFrameWidth, int nImage) {
    return static_cast<int>(static_cast<unsigned>(nFrameWidth) * static_cast<unsigned>(nImage));
}

// One image-list draw: the list's background colour set first (it is a lasting property of the
// list, so whatever an earlier call left there never shows), then the image drawn in the style.
int DrawFromList(CImageList* pList, COLORREF crBack, int nImage, CDC* pDC, int x, int y,
                 UINT nStyle);

// A memory device context compatible with a destination, holding one bitmap for the length of
// a call. The steps stay separate so that each operation runs them in its own order and with its
// own failure rules; Release undoes whatever was done, in order: the previous bitmap selected
// back, then the context deleted.
class CWorkDC {
public:
    CWorkDC() = default;
    CWorkDC(const CWorkDC&) = delete;
    CWorkDC& operator=(const CWorkDC&) = delete;
    ~CWorkDC() { Release(); }

    // CreateCompatibleDC on the destination; false when no context results.
    bool Create(CDC* pDest) { return m_dc.CreateCompatibleDC(pDest) != 0; }
    // Selects the bitmap; false when the selection returns no previous object, which is also
    // the answer for a null bitmap and for one selected into another context.
    bool Select(CBitmap* pBitmap);
    // The destination's mapping mode, so that coordinates mean the same on both.
    void TakeMapMode(CDC* pDest) { m_dc.SetMapMode(pDest->GetMapMode()); }
    // Puts the previous bitmap back (when a selection succeeded); the context stays.
    void Deselect();
    // Deselect, then delete the context.
    void Release();

    CDC* operator->() { return &m_dc; }
    CDC* Get() { return &m_dc; }

private:
    CDC m_dc;
    HGDIOBJ m_hPrevious = nullptr;
};

} // namespace image_draw
