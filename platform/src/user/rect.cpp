// Rectangle helpers and FillRect.
#include "internal/faults.h"
#include "internal/gdi_internal.h"

#include <algorithm>

extern "C" {

BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom) {
    if (lprc == nullptr) {
        return FALSE;
    }
    *lprc = RECT{xLeft, yTop, xRight, yBottom};
    return TRUE;
}

BOOL WINAPI SetRectEmpty(LPRECT lprc) {
    return SetRect(lprc, 0, 0, 0, 0);
}

BOOL WINAPI CopyRect(LPRECT lprcDst, const RECT* lprcSrc) {
    if (lprcDst == nullptr || lprcSrc == nullptr) {
        return FALSE;
    }
    *lprcDst = *lprcSrc;
    return TRUE;
}

BOOL WINAPI OffsetRect(LPRECT lprc, int dx, int dy) {
    if (lprc == nullptr) {
        return FALSE;
    }
    lprc->left += dx;
    lprc->right += dx;
    lprc->top += dy;
    lprc->bottom += dy;
    return TRUE;
}

BOOL WINAPI IsRectEmpty(const RECT* lprc) {
    return lprc == nullptr || lprc->left >= lprc->right || lprc->top >= lprc->bottom;
}

BOOL WINAPI IntersectRect(LPRECT lprcDst, const RECT* lprcSrc1, const RECT* lprcSrc2) {
    if (lprcDst == nullptr) {
        return FALSE;
    }
    if (lprcSrc1 == nullptr || lprcSrc2 == nullptr || IsRectEmpty(lprcSrc1) ||
        IsRectEmpty(lprcSrc2) || lprcSrc1->left >= lprcSrc2->right ||
        lprcSrc2->left >= lprcSrc1->right || lprcSrc1->top >= lprcSrc2->bottom ||
        lprcSrc2->top >= lprcSrc1->bottom) {
        SetRectEmpty(lprcDst);
        return FALSE;
    }
    *lprcDst = RECT{
        std::max(lprcSrc1->left, lprcSrc2->left), std::max(lprcSrc1->top, lprcSrc2->top),
        std::min(lprcSrc1->right, lprcSrc2->right), std::min(lprcSrc1->bottom, lprcSrc2->bottom)};
    return TRUE;
}

BOOL WINAPI PtInRect(const RECT* lprc, POINT pt) {
    return lprc != nullptr && pt.x >= lprc->left && pt.x < lprc->right && pt.y >= lprc->top &&
           pt.y < lprc->bottom;
}

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    return platform::no_throw<int>(0, [&]() -> int {
        using namespace platform::gdi;
        Dc* dc = lookup_dc(hDC);
        Brush* brush = lookup_brush(hbr);
        if (dc == nullptr || brush == nullptr || lprc == nullptr) {
            return 0;
        }
        return fill_rect(*dc, *lprc, *brush) ? 1 : 0;
    });
}

} // extern "C"
