// The blocking animations: every frame of the strip in turn at one place, each followed by the
// delay, the calling thread spinning in Delay meanwhile (no messages are dispatched). The
// transparent ones compose all frames off screen before the first is shown, so that playing is
// one copy per frame and every frame lies over the same background.
#include <Image.h>

#include "image/draw_internal.h"

using image_draw::CWorkDC;
using image_draw::FrameLeft;
using image_draw::IsDrawableDC;
using image_draw::SelectDitherPalette;

namespace {

struct Frames {
    int count;
    CSize size;      // of one frame
    int nStripWidth; // of the off-screen strip: composed frame i lies where frame i lies
};

// What goes under the frames: a piece of the background bitmap at (x, y), or, without one, the
// destination's pixels at the animation's own place.
struct Under {
    CBitmap* pBackground;
    int x;
    int y;
};

// Composes the frames in an off-screen strip and plays them. In image-list mode (`pList`) each
// frame is drawn from the list, transparently; in bitmap mode `drawBitmapFrame(i, context, left)`
// draws frame i with the colour-key blit. `wait()` is the delay after each frame. 0, with nothing
// shown, when a working object cannot be made or a selection fails; 1 once the frames have
// played.
template <class DrawBitmapFrame, class Wait>
int ComposeAndPlay(CDC* pDC, int x, int y, const Frames& frames, const Under& under,
                   CImageList* pList, DrawBitmapFrame drawBitmapFrame, Wait wait) {
    const int w = frames.size.cx;
    const int h = frames.size.cy;
    CWorkDC offscreen;
    CBitmap strip;
    CWorkDC backdrop;
    int result = 0;
    bool ready = offscreen.Create(pDC) &&
                 strip.CreateCompatibleBitmap(pDC, frames.nStripWidth, h) &&
                 offscreen.Select(&strip);
    if (ready) {
        offscreen.TakeMapMode(pDC);
        if (under.pBackground != nullptr) {
            ready = backdrop.Create(pDC) && backdrop.Select(under.pBackground);
            if (ready) {
                backdrop.TakeMapMode(pDC);
            }
        }
    }
    if (ready) {
        CDC* pUnder = under.pBackground != nullptr ? backdrop.Get() : pDC;
        if (pList != nullptr) {
            ImageList_SetBkColor(pList->GetSafeHandle(), CLR_NONE);
        }
        // Nothing reaches the destination while composing, so every frame is laid over the
        // same pixels. Failed draws are not looked at: the animation plays what there is.
        for (int i = 0; i < frames.count; ++i) {
            const int left = FrameLeft(w, i);
            offscreen->BitBlt(left, 0, w, h, pUnder, under.x, under.y, SRCCOPY);
            if (pList != nullptr) {
                ImageList_Draw(pList->GetSafeHandle(), i, offscreen->GetSafeHdc(), left, 0,
                               ILD_TRANSPARENT);
            } else {
                drawBitmapFrame(i, offscreen.Get(), left);
            }
        }
        for (int i = 0; i < frames.count; ++i) {
            pDC->BitBlt(x, y, w, h, offscreen.Get(), FrameLeft(w, i), 0, SRCCOPY);
            wait();
        }
        result = 1;
    }
    offscreen.Deselect();
    backdrop.Deselect();
    strip.DeleteObject();
    offscreen.Release();
    backdrop.Release();
    return result;
}

} // namespace

int CImage::Animate(CDC* pDC, int x, int y, DWORD dwDelay) {
    if (!IsDrawableDC(pDC) ||
        (m_bImageListMethod ? m_pImageList == nullptr : m_pBitmap == nullptr)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    if (m_bImageListMethod) {
        // The whole frame rectangle each time, transparent pixels in the transparent colour.
        ImageList_SetBkColor(m_pImageList->GetSafeHandle(), m_crTransparent);
        for (int i = 0; i < m_nImageNum; ++i) {
            ImageList_Draw(m_pImageList->GetSafeHandle(), i, pDC->GetSafeHdc(), x, y, ILD_NORMAL);
            Delay(dwDelay);
        }
        return 1;
    }
    CWorkDC frames;
    if (!frames.Create(pDC)) {
        return 0;
    }
    // Unlike the transparent animations, this one does not check the selection: a strip bitmap
    // that is selected elsewhere leaves the context with its own one-pixel bitmap, and the frames
    // are copied from that.
    frames.Select(m_pBitmap);
    frames.TakeMapMode(pDC);
    for (int i = 0; i < m_nImageNum; ++i) {
        pDC->BitBlt(x, y, m_sizeImage.cx, m_sizeImage.cy, frames.Get(),
                    FrameLeft(m_sizeImage.cx, i), 0, SRCCOPY);
        Delay(dwDelay);
    }
    frames.Release();
    return 1;
}

int CImage::AnimateTransparent(CDC* pDC, int x, int y, DWORD dwDelay) {
    if (!IsDrawableDC(pDC) ||
        (m_bImageListMethod ? m_pImageList == nullptr : m_pBitmap == nullptr)) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return ComposeAndPlay(
        pDC, x, y, {m_nImageNum, m_sizeImage, m_sizeBitmap.cx}, {nullptr, x, y},
        m_bImageListMethod ? m_pImageList : nullptr,
        [&](int i, CDC* pStrip, int left) { DrawBitmapTransparent(m_pBitmap, pStrip, left, 0, i); },
        [&] { Delay(dwDelay); });
}

int CImage::AnimateTransparentSetBackground(CDC* pDC, int x, int y, CBitmap* pBackground, int nBkX,
                                            int nBkY, DWORD dwDelay) {
    if (!IsDrawableDC(pDC) || pBackground == nullptr) {
        return 0;
    }
    if (m_bImageListMethod ? m_pImageList == nullptr : m_pBitmap == nullptr) {
        return 0;
    }
    SelectDitherPalette(pDC);
    return ComposeAndPlay(
        pDC, x, y, {m_nImageNum, m_sizeImage, m_sizeBitmap.cx}, {pBackground, nBkX, nBkY},
        m_bImageListMethod ? m_pImageList : nullptr,
        [&](int i, CDC* pStrip, int left) { DrawBitmapTransparent(m_pBitmap, pStrip, left, 0, i); },
        [&] { Delay(dwDelay); });
}
