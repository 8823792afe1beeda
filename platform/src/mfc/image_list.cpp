// CImageList over the common-controls image lists.
#include "handle_map.h"

#include <afxcmn.h>

namespace {

struct ImageListTraits {
    using Handle = HIMAGELIST;
    using Base = CImageList;
    static void assign(CImageList* w, HIMAGELIST h) { w->m_hImageList = h; }
    // Windows gives no safe test for a destroyed image list (its handle is a pointer), so
    // image-list temporaries are never pruned: they go with the explicit deletions only.
    static bool alive(HIMAGELIST h) { return h != NULL; }
};

using ImageListMap = afx_internal::HandleMap<ImageListTraits>;

HBITMAP bitmap_of(CBitmap* p) {
    return p != NULL ? static_cast<HBITMAP>(p->m_hObject) : NULL;
}

} // namespace

CImageList::~CImageList() {
    DeleteImageList();
}

CImageList* PASCAL CImageList::FromHandle(HIMAGELIST hImageList) {
    return ImageListMap::instance().from_handle<CImageList>(hImageList);
}

CImageList* PASCAL CImageList::FromHandlePermanent(HIMAGELIST hImageList) {
    return ImageListMap::instance().owner(hImageList);
}

void PASCAL CImageList::DeleteTempMap() {
    ImageListMap::instance().delete_temporaries();
}

BOOL CImageList::Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow) {
    if (m_hImageList != NULL) {
        return FALSE;
    }
    HIMAGELIST h = ::ImageList_Create(cx, cy, nFlags, nInitial, nGrow);
    if (h == NULL) {
        return FALSE;
    }
    if (!Attach(h)) {
        ::ImageList_Destroy(h);
        return FALSE;
    }
    return TRUE;
}

BOOL CImageList::Attach(HIMAGELIST hImageList) {
    if (hImageList == NULL || m_hImageList != NULL || !ImageListTraits::alive(hImageList)) {
        return FALSE;
    }
    if (!ImageListMap::instance().add_owner(hImageList, this)) {
        return FALSE;
    }
    m_hImageList = hImageList;
    return TRUE;
}

HIMAGELIST CImageList::Detach() {
    HIMAGELIST h = m_hImageList;
    if (h != NULL) {
        ImageListMap::instance().remove_owner(h, this);
    }
    m_hImageList = NULL;
    return h;
}

BOOL CImageList::DeleteImageList() {
    if (m_hImageList == NULL) {
        return FALSE;
    }
    return ::ImageList_Destroy(Detach());
}

int CImageList::GetImageCount() const {
    return ::ImageList_GetImageCount(m_hImageList);
}

COLORREF CImageList::SetBkColor(COLORREF cr) {
    return ::ImageList_SetBkColor(m_hImageList, cr);
}

COLORREF CImageList::GetBkColor() const {
    return ::ImageList_GetBkColor(m_hImageList);
}

BOOL CImageList::GetImageInfo(int nImage, IMAGEINFO* pImageInfo) const {
    return ::ImageList_GetImageInfo(m_hImageList, nImage, pImageInfo);
}

int CImageList::Add(CBitmap* pbmImage, CBitmap* pbmMask) {
    return ::ImageList_Add(m_hImageList, bitmap_of(pbmImage), bitmap_of(pbmMask));
}

int CImageList::Add(CBitmap* pbmImage, COLORREF crMask) {
    return ::ImageList_AddMasked(m_hImageList, bitmap_of(pbmImage), crMask);
}

BOOL CImageList::Remove(int nImage) {
    return ::ImageList_Remove(m_hImageList, nImage);
}

BOOL CImageList::Draw(CDC* pDC, int nImage, POINT pt, UINT nStyle) {
    if (pDC == NULL) {
        return FALSE;
    }
    return ::ImageList_Draw(m_hImageList, nImage, pDC->m_hDC, pt.x, pt.y, nStyle);
}
