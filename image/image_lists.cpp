// Image-list mode: the frames moved from the strip bitmap into an image list with a mask made
// from the transparent colour, and the half-transparent frames into a second list. Also the
// library's checker pattern and the working set from which the half-transparent strip is made
// (shared with MakeSemiBitmap).
#include "image/image_internal.h"

#include <new>

using image_internal::CheckerWorkspace;
using image_internal::Release;

namespace image_internal {

UINT ImageListColorFlag() {
    switch (CImage::GetSystemBitCount()) {
    case 16:
        return ILC_COLOR16;
    case 24:
        return ILC_COLOR24;
    case 32:
        return ILC_COLOR32;
    default:
        return ILC_COLORDDB;
    }
}

CheckerWorkspace::~CheckerWorkspace() {
    for (int slot = kSemi; slot <= kChecker; ++slot) {
        Deselect(static_cast<Slot>(slot));
    }
    m_brush.DeleteObject();
    m_pattern.DeleteObject();
    for (CDC& context : m_contexts) {
        context.DeleteDC();
    }
    for (CBitmap& bitmap : m_bitmaps) {
        bitmap.DeleteObject();
    }
}

bool CheckerWorkspace::Create(const BITMAP& record) {
    for (CBitmap& bitmap : m_bitmaps) {
        BITMAP copy = record;
        copy.bmBits = nullptr; // new and empty: the pixels come by blits
        if (!bitmap.CreateBitmapIndirect(&copy)) {
            return false;
        }
    }
    for (CDC& context : m_contexts) {
        if (!context.CreateCompatibleDC(nullptr)) {
            return false;
        }
    }
    return true;
}

bool CheckerWorkspace::SelectAll(CBitmap* semi) {
    HGDIOBJ objects[4] = {semi->GetSafeHandle(), m_bitmaps[0].GetSafeHandle(),
                          m_bitmaps[1].GetSafeHandle(), m_bitmaps[2].GetSafeHandle()};
    for (int slot = kSemi; slot <= kChecker; ++slot) {
        m_previous[slot] = ::SelectObject(m_contexts[slot].GetSafeHdc(), objects[slot]);
        if (m_previous[slot] == nullptr) {
            return false;
        }
    }
    return true;
}

void CheckerWorkspace::Deselect(Slot slot) {
    if (m_previous[slot] != nullptr) {
        ::SelectObject(m_contexts[slot].GetSafeHdc(), m_previous[slot]);
        m_previous[slot] = nullptr;
    }
}

// The 8 x 8 checker of the library's resources: red where x + y is even, green where it is odd.
bool CheckerWorkspace::LoadPattern() {
    LPCSTR name = MAKEINTRESOURCE(kPatternBitmap);
    HINSTANCE module = AfxFindResourceHandle(name, RT_BITMAP);
    HBITMAP pattern = ::LoadBitmapA(module, name);
    if (!m_pattern.Attach(pattern)) {
        if (pattern != nullptr) {
            ::DeleteObject(pattern);
        }
        return false;
    }
    return m_brush.CreatePatternBrush(&m_pattern) != 0;
}

} // namespace image_internal

// Frame i becomes image i; on success the strip bitmap is released, on failure it stays and the
// new list is released.
int CImage::CreateImageList() {
    if (m_pBitmap == nullptr) {
        return 0;
    }
    Release(m_pImageList);
    m_pImageList = new (std::nothrow) CImageList;
    if (m_pImageList == nullptr) {
        return 0;
    }
    const UINT flags = image_internal::ImageListColorFlag() | ILC_MASK;
    if (!m_pImageList->Create(m_sizeImage.cx, m_sizeImage.cy, flags, m_nImageNum, 1) ||
        ImageList_AddMasked(m_pImageList->GetSafeHandle(),
                            static_cast<HBITMAP>(m_pBitmap->GetSafeHandle()),
                            m_crTransparent) == -1) {
        Release(m_pImageList);
        return 0;
    }
    Release(m_pBitmap);
    return 1;
}

// The half-transparent strip is made with image lists: the checker drawn over a fill of the
// transparent colour with its green keyed out gives red where x + y is even; that drawn over a
// copy of the strip with its red keyed out leaves the strip's pixel there and the transparent
// colour everywhere else. Its frames then go into m_pSemiImageList and the semi bitmap is
// released. On failure m_pSemiBitmap stays as it was given.
int CImage::CreateSemiImageList() {
    BITMAP record;
    if (m_pSemiBitmap == nullptr ||
        GetObjectA(m_pSemiBitmap->GetSafeHandle(), sizeof(BITMAP), &record) == 0) {
        return 0;
    }
    const UINT flags = image_internal::ImageListColorFlag() | ILC_MASK;
    CheckerWorkspace work;
    if (!work.Create(record)) {
        return 0;
    }
    // Declared after the workspace so that it is destroyed first.
    CImageList scratch;
    const int cx = m_sizeBitmap.cx;
    const int cy = m_sizeBitmap.cy;
    CDC* semiDC = work.Context(CheckerWorkspace::kSemi);
    CDC* copyDC = work.Context(CheckerWorkspace::kCopy);
    CDC* keyDC = work.Context(CheckerWorkspace::kKey);
    CDC* checkerDC = work.Context(CheckerWorkspace::kChecker);

    bool ok = work.SelectAll(m_pSemiBitmap) && work.LoadPattern() &&
              copyDC->BitBlt(0, 0, cx, cy, semiDC, 0, 0, SRCCOPY) &&
              scratch.Create(cx, cy, flags, 1, 1);
    if (ok) {
        keyDC->FillSolidRect(0, 0, cx, cy, m_crTransparent);
        const RECT all = {0, 0, cx, cy};
        checkerDC->FillRect(&all, work.PatternBrush());
        work.Deselect(CheckerWorkspace::kChecker);

        // The scratch bitmap of `slot` becomes the list's image 0 with `key` masked out, and is
        // drawn transparently onto `target`.
        HIMAGELIST list = scratch.GetSafeHandle();
        const auto drawKeyed = [&](CheckerWorkspace::Slot slot, COLORREF key, CDC* target) {
            if (ImageList_AddMasked(list, static_cast<HBITMAP>(work.Bitmap(slot)->GetSafeHandle()),
                                    key) == -1) {
                return false;
            }
            ImageList_SetBkColor(list, CLR_NONE);
            return ImageList_Draw(list, 0, target->GetSafeHdc(), 0, 0, ILD_TRANSPARENT) != 0;
        };
        ok = drawKeyed(CheckerWorkspace::kChecker, image_internal::kCheckerGreen, keyDC);
        if (ok) {
            work.Deselect(CheckerWorkspace::kKey);
            ok = ImageList_Remove(list, 0) &&
                 drawKeyed(CheckerWorkspace::kKey, image_internal::kCheckerRed, copyDC);
        }
        if (ok) {
            semiDC->BitBlt(0, 0, cx, cy, copyDC, 0, 0, SRCCOPY);
            work.Deselect(CheckerWorkspace::kSemi);
            Release(m_pSemiImageList);
            m_pSemiImageList = new (std::nothrow) CImageList;
            ok = m_pSemiImageList != nullptr &&
                 m_pSemiImageList->Create(m_sizeImage.cx, m_sizeImage.cy, flags, m_nImageNum, 1) &&
                 ImageList_AddMasked(m_pSemiImageList->GetSafeHandle(),
                                     static_cast<HBITMAP>(m_pSemiBitmap->GetSafeHandle()),
                                     m_crTransparent) != -1;
        }
    }
    if (!ok) {
        // Every selection is undone by the workspace; the half-made list goes.
        Release(m_pSemiImageList);
        return 0;
    }
    work.Deselect(CheckerWorkspace::kCopy);
    Release(m_pSemiBitmap);
    return 1;
}
