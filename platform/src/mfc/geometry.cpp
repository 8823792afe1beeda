// The CRect operations that are more than one line. They compute into a local first because
// the destination may be one of the inputs (r &= other).
#include <afxwin.h>

#include <algorithm>

namespace {

bool empty(const RECT& r) {
    return r.left >= r.right || r.top >= r.bottom;
}

} // namespace

void CRect::NormalizeRect() {
    if (left > right) {
        std::swap(left, right);
    }
    if (top > bottom) {
        std::swap(top, bottom);
    }
}

BOOL CRect::IntersectRect(LPCRECT lpRect1, LPCRECT lpRect2) {
    const RECT a = *lpRect1;
    const RECT b = *lpRect2;
    const RECT r = {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                    std::min(a.bottom, b.bottom)};
    if (empty(a) || empty(b) || empty(r)) {
        SetRectEmpty();
        return FALSE;
    }
    CopyRect(&r);
    return TRUE;
}

BOOL CRect::UnionRect(LPCRECT lpRect1, LPCRECT lpRect2) {
    const RECT a = *lpRect1;
    const RECT b = *lpRect2;
    if (empty(a) && empty(b)) {
        SetRectEmpty();
        return FALSE;
    }
    if (empty(a)) {
        CopyRect(&b);
    } else if (empty(b)) {
        CopyRect(&a);
    } else {
        SetRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom));
    }
    return TRUE;
}

BOOL CRect::SubtractRect(LPCRECT lpRectSrc1, LPCRECT lpRectSrc2) {
    const CRect src(*lpRectSrc1);
    if (src.IsRectEmpty()) {
        SetRectEmpty();
        return FALSE;
    }
    CRect cut;
    if (!cut.IntersectRect(&src, lpRectSrc2)) {
        CopyRect(&src);
        return TRUE;
    }
    if (cut == src) {
        SetRectEmpty();
        return FALSE;
    }
    // Only a cut across the whole height or width leaves a rectangle; anything else leaves
    // the source as it is.
    CRect r(src);
    if (cut.top == src.top && cut.bottom == src.bottom) {
        if (cut.left == src.left) {
            r.left = cut.right;
        } else if (cut.right == src.right) {
            r.right = cut.left;
        }
    } else if (cut.left == src.left && cut.right == src.right) {
        if (cut.top == src.top) {
            r.top = cut.bottom;
        } else if (cut.bottom == src.bottom) {
            r.bottom = cut.top;
        }
    }
    CopyRect(&r);
    return TRUE;
}
