// The colour-key blit: draws a rectangle of a bitmap onto a device context, leaving the
// destination as it was wherever the source has the strip's transparent colour. It works off
// screen: a one-bit mask of the key, the frame with its key pixels cleared, the destination with
// the frame's opaque pixels cleared, the two joined, then one copy to the destination.
#include "image/image_internal.h"

#include <cstdint>

namespace {

constexpr DWORD kAndNotSource = 0x00220326; // D = D AND NOT S

// The working contexts and bitmaps of one call. Whatever was made is selected back and released
// by the destructor, in the order composite, cut-out, mask, image.
class KeyedBlit {
public:
    KeyedBlit(CDC* destination, int width, int height)
        : m_destination(destination), m_mapMode(destination->GetMapMode()), m_width(width),
          m_height(height) {}
    KeyedBlit(const KeyedBlit&) = delete;
    KeyedBlit& operator=(const KeyedBlit&) = delete;

    ~KeyedBlit() {
        Unselect(m_composite, m_oldComposite);
        Unselect(m_cutout, m_oldCutout);
        Unselect(m_mask, m_oldMask);
        Unselect(m_image, m_oldImage);
        m_compositeBitmap.DeleteObject();
        m_cutoutBitmap.DeleteObject();
        m_maskBitmap.DeleteObject();
        m_composite.DeleteDC();
        m_cutout.DeleteDC();
        m_mask.DeleteDC();
        m_image.DeleteDC();
    }

    // Draws the rectangle of `source` that starts at column sx of row 0 at (x, y) of the
    // destination. With `stopWithoutContext`, the first working context that cannot be created
    // ends the call before anything reaches the destination (false); otherwise such failures go
    // unnoticed and the call goes through every step (true). Drew() tells whether the
    // destination received the finished picture.
    bool Run(CBitmap* source, COLORREF key, int x, int y, int sx, bool stopWithoutContext) {
        const int w = m_width;
        const int h = m_height;
        if (!Open(m_image) && stopWithoutContext) {
            return false;
        }
        m_oldImage = ::SelectObject(m_image.GetSafeHdc(), source->GetSafeHandle());
        m_image.SetMapMode(m_mapMode);

        if (!Open(m_mask) && stopWithoutContext) {
            return false;
        }
        m_mask.SetMapMode(m_mapMode);
        m_maskBitmap.CreateBitmap(w, h, 1, 1, nullptr);
        m_oldMask = ::SelectObject(m_mask.GetSafeHdc(), m_maskBitmap.GetSafeHandle());

        // The mask: 1 exactly where the source has the key, compared in the source's format.
        m_image.SetBkColor(key);
        m_mask.BitBlt(0, 0, w, h, &m_image, sx, 0, SRCCOPY);

        if (!Open(m_cutout) && stopWithoutContext) {
            return false;
        }
        m_cutout.SetMapMode(m_mapMode);
        m_cutoutBitmap.CreateCompatibleBitmap(&m_image, w, h);
        m_oldCutout = ::SelectObject(m_cutout.GetSafeHdc(), m_cutoutBitmap.GetSafeHandle());
        // The frame, then its key pixels cleared to 0 (a mask 1 becomes all bits set).
        m_cutout.BitBlt(0, 0, w, h, &m_image, sx, 0, SRCCOPY);
        m_cutout.BitBlt(0, 0, w, h, &m_mask, 0, 0, kAndNotSource);

        if (!Open(m_composite) && stopWithoutContext) {
            return false;
        }
        m_composite.SetMapMode(m_mapMode);
        m_compositeBitmap.CreateCompatibleBitmap(&m_image, w, h);
        m_oldComposite =
            ::SelectObject(m_composite.GetSafeHdc(), m_compositeBitmap.GetSafeHandle());
        // The destination under the frame, cleared where the frame is opaque, joined with the
        // cut-out: each is 0 where the other holds the picture.
        m_composite.BitBlt(0, 0, w, h, m_destination, x, y, SRCCOPY);
        m_composite.BitBlt(0, 0, w, h, &m_mask, 0, 0, SRCAND);
        m_composite.BitBlt(0, 0, w, h, &m_cutout, 0, 0, SRCINVERT);

        // The destination is written once, and only from a complete composition: a source that
        // could not be selected (it is selected elsewhere) or a working bitmap that could not be
        // made leaves it untouched rather than covered with whatever the working contexts hold.
        if (m_oldImage != nullptr && m_oldMask != nullptr && m_oldCutout != nullptr &&
            m_oldComposite != nullptr) {
            m_drew = m_destination->BitBlt(x, y, w, h, &m_composite, 0, 0, SRCCOPY) != 0;
        }
        return true;
    }

    bool Drew() const { return m_drew; }

private:
    bool Open(CDC& context) { return context.CreateCompatibleDC(m_destination) != 0; }

    static void Unselect(CDC& context, HGDIOBJ previous) {
        if (previous != nullptr) {
            ::SelectObject(context.GetSafeHdc(), previous);
        }
    }

    CDC* m_destination;
    int m_mapMode;
    int m_width;
    int m_height;
    CDC m_image;
    CDC m_mask;
    CDC m_cutout;
    CDC m_composite;
    CBitmap m_maskBitmap;
    CBitmap m_cutoutBitmap;
    CBitmap m_compositeBitmap;
    HGDIOBJ m_oldImage = nullptr;
    HGDIOBJ m_oldMask = nullptr;
    HGDIOBJ m_oldCutout = nullptr;
    HGDIOBJ m_oldComposite = nullptr;
    bool m_drew = false;
};

} // namespace

// A null destination is refused like a null source. When a working context cannot be created
// the frame is not drawn at all, and the call says so with 0: the drawing operations then report
// a failure instead of a frame that never reached their destination. A source that cannot be
// selected or a working bitmap that cannot be made is not reported (1), and draws nothing.
int CImage::DrawBitmapTransparent(CBitmap* pBitmap, CDC* pDC, int x, int y, int nImage) {
    if (pBitmap == nullptr || pDC == nullptr) {
        return 0;
    }
    // The source column is a 32-bit product, as the frame geometry is.
    const int sx = static_cast<int>(static_cast<std::int64_t>(m_sizeImage.cx) * nImage);
    KeyedBlit blit(pDC, m_sizeImage.cx, m_sizeImage.cy);
    return blit.Run(pBitmap, m_crTransparent, x, y, sx, true) ? 1 : 0;
}

bool image_internal::DrawWholeKeyed(CBitmap* source, CDC* dest, int x, int y, CSize size,
                                    COLORREF key) {
    if (source == nullptr || dest == nullptr) {
        return false;
    }
    KeyedBlit blit(dest, size.cx, size.cy);
    blit.Run(source, key, x, y, 0, false);
    return blit.Drew();
}

// The whole bitmap, m_sizeBitmap in size. Failures after the null checks are not reported: the
// call returns 1 (with nothing drawn when the composition could not be completed).
int CImage::DrawBitmapTransparent(CBitmap* pBitmap, CDC* pDC, int x, int y) {
    if (pBitmap == nullptr || pDC == nullptr) {
        return 0;
    }
    image_internal::DrawWholeKeyed(pBitmap, pDC, x, y, m_sizeBitmap, m_crTransparent);
    return 1;
}
