// The half-transparent strip of bitmap mode, made in place in m_pSemiBitmap with the library's
// own colour-key blit: the checker drawn over a fill of the transparent colour with its green
// keyed out leaves red where x + y is even; that drawn over a copy of the strip with its red keyed
// out keeps the strip's pixel there and puts the transparent colour everywhere else. A transparent
// colour that is the checker's red keys out everything in the second draw: the strip stays as it
// was. A draw that cannot finish (a working context or bitmap it cannot make) fails the call:
// the strip would be left all key colour or not checkered at all.
#include "image/image_internal.h"

using image_internal::CheckerWorkspace;
using image_internal::DrawWholeKeyed;

int CImage::MakeSemiBitmap() {
    BITMAP record;
    if (m_pSemiBitmap == nullptr ||
        GetObjectA(m_pSemiBitmap->GetSafeHandle(), sizeof(BITMAP), &record) == 0) {
        return 0;
    }
    CheckerWorkspace work;
    if (!work.Create(record)) {
        return 0;
    }
    const int cx = m_sizeBitmap.cx;
    const int cy = m_sizeBitmap.cy;
    CDC* semiDC = work.Context(CheckerWorkspace::kSemi);
    CDC* copyDC = work.Context(CheckerWorkspace::kCopy);
    CDC* keyDC = work.Context(CheckerWorkspace::kKey);
    CDC* checkerDC = work.Context(CheckerWorkspace::kChecker);

    // The key is switched to the checker's colours for the two draws and restored on every way out
    // from here on.
    const COLORREF saved = m_crTransparent;
    bool ok = work.SelectAll(m_pSemiBitmap) && work.LoadPattern() &&
              copyDC->BitBlt(0, 0, cx, cy, semiDC, 0, 0, SRCCOPY);
    if (ok) {
        keyDC->FillSolidRect(0, 0, cx, cy, saved);
        const RECT all = {0, 0, cx, cy};
        checkerDC->FillRect(&all, work.PatternBrush());
        work.Deselect(CheckerWorkspace::kChecker);

        m_crTransparent = image_internal::kCheckerGreen;
        ok = DrawWholeKeyed(work.Bitmap(CheckerWorkspace::kChecker), keyDC, 0, 0, m_sizeBitmap,
                            m_crTransparent);
    }
    if (ok) {
        work.Deselect(CheckerWorkspace::kKey);
        m_crTransparent = image_internal::kCheckerRed;
        ok = DrawWholeKeyed(work.Bitmap(CheckerWorkspace::kKey), copyDC, 0, 0, m_sizeBitmap,
                            m_crTransparent);
    }
    if (ok) {
        semiDC->BitBlt(0, 0, cx, cy, copyDC, 0, 0, SRCCOPY);
        work.Deselect(CheckerWorkspace::kSemi);
        work.Deselect(CheckerWorkspace::kCopy);
    }
    m_crTransparent = saved;
    return ok ? 1 : 0;
}
