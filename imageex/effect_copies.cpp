// The device-independent copies alpha and colorize drawing work on: the frame cut out of the
// strip and the destination rectangle, each in a memory bitmap, read out through one 40-byte
// header in the strip bitmap's depth (bottom-up rows, no colour table), so that both buffers
// share one layout.
#include "imageex_internal.h"

bool EffectCopies::Prepare(HDC hDC, HBITMAP hStrip, int x, int y, int sx, int w, int h) {
    m_hTarget = hDC;
    m_x = x;
    m_y = y;
    m_w = w;
    m_h = h;
    BITMAP bm = {};
    if (GetObjectA(hStrip, sizeof(bm), &bm) == 0) {
        return false;
    }

    // A memory context in hDC's mapping mode with `hBitmap` selected. A bitmap `made` for this
    // call belongs to the surface once selected, and is deleted here when it cannot be.
    const auto open = [&](Surface& s, HBITMAP hBitmap, bool made) {
        s.hDC = CreateCompatibleDC(hDC);
        if (s.hDC != nullptr && hBitmap != nullptr) {
            SetMapMode(s.hDC, GetMapMode(hDC));
            s.hOld = SelectObject(s.hDC, hBitmap);
        }
        if (s.hOld == nullptr) {
            if (made && hBitmap != nullptr) {
                DeleteObject(hBitmap);
            }
            return false;
        }
        s.hBitmap = made ? hBitmap : nullptr;
        return true;
    };
    if (!open(m_source, hStrip, false) ||
        !open(m_frame, CreateCompatibleBitmap(m_source.hDC, w, h), true)) {
        return false;
    }
    StretchBlt(m_frame.hDC, 0, 0, w, h, m_source.hDC, sx, 0, w, h, SRCCOPY);
    if (!open(m_dest, CreateCompatibleBitmap(hDC, w, h), true)) {
        return false;
    }
    StretchBlt(m_dest.hDC, 0, 0, w, h, hDC, x, y, w, h, SRCCOPY);

    bpp = bm.bmBitsPixel;
    rowBytes = PaddedRowBytes(bpp, w);
    const SIZE_T size = static_cast<SIZE_T>(rowBytes) * static_cast<SIZE_T>(h);
    m_hFrameBits = GlobalAlloc(GMEM_FIXED, size);
    m_hDestBits = m_hFrameBits != nullptr ? GlobalAlloc(GMEM_FIXED, size) : nullptr;
    if (m_hDestBits == nullptr) {
        return false;
    }
    frame = static_cast<BYTE*>(GlobalLock(m_hFrameBits));
    dest = static_cast<BYTE*>(GlobalLock(m_hDestBits));

    BITMAPINFOHEADER& bi = m_info.header;
    bi.biSize = sizeof(BITMAPINFOHEADER);
    bi.biWidth = w;
    bi.biHeight = bm.bmHeight;
    bi.biPlanes = bm.bmPlanes;
    bi.biBitCount = bm.bmBitsPixel;
    bi.biCompression = BI_RGB;
    bi.biSizeImage = static_cast<DWORD>(size);
    auto* info = reinterpret_cast<BITMAPINFO*>(&m_info);
    GetDIBits(m_frame.hDC, m_frame.hBitmap, 0, static_cast<UINT>(h), frame, info, DIB_RGB_COLORS);
    m_info.header = bi; // GetDIBits may rewrite the header; both transfers use the same one
    GetDIBits(m_dest.hDC, m_dest.hBitmap, 0, static_cast<UINT>(h), dest, info, DIB_RGB_COLORS);
    m_info.header = bi;
    return true;
}

void EffectCopies::Finish(HPALETTE hPalette) {
    SetDIBits(m_dest.hDC, m_dest.hBitmap, 0, static_cast<UINT>(m_h), dest,
              reinterpret_cast<BITMAPINFO*>(&m_info), DIB_RGB_COLORS);
    DestinationPalette palette(m_hTarget, hPalette);
    StretchBlt(m_hTarget, m_x, m_y, m_w, m_h, m_dest.hDC, 0, 0, m_w, m_h, SRCCOPY);
}

EffectCopies::~EffectCopies() {
    if (m_hDestBits != nullptr) {
        GlobalFree(m_hDestBits);
    }
    if (m_hFrameBits != nullptr) {
        GlobalFree(m_hFrameBits);
    }
    for (Surface* s : {&m_dest, &m_frame, &m_source}) {
        if (s->hDC == nullptr) {
            continue;
        }
        if (s->hOld != nullptr) {
            SelectObject(s->hDC, s->hOld);
        }
        if (s->hBitmap != nullptr) {
            DeleteObject(s->hBitmap);
        }
        DeleteDC(s->hDC);
    }
}
