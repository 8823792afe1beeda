// Playing a CImageEx in a slot: PlayAni takes a slot (saving the window area under it in the
// transparent modes) and starts the shared timer, StopAni frees it, and DrawAnimation composes
// the slot's next frame off screen and puts it on the window in one transfer.
//
// Choice of this library: for the modes below 11 the off-screen bitmap is made black before the
// frame is drawn, so mode 2 mixes the frame with black and unlisted modes show black, on every
// platform alike.
#include "animation_internal.h"

namespace {

// Frames are drawn at (0, 0) of the off-screen bitmap, in the slot's mode.
void DrawSlotFrame(CImageEx& image, HDC hDC, const aniSlot& slot) {
    const int n = slot.nFrame;
    switch (slot.nMode) {
    case 1:
        image.Draw(hDC, 0, 0, n);
        break;
    case 2:
        image.DrawAlpha(hDC, 0, 0, n, slot.nParam);
        break;
    case 3:
        image.DrawColorize(hDC, 0, 0, n, static_cast<COLORREF>(slot.nParam));
        break;
    case 11:
        image.DrawTransparent(hDC, 0, 0, n);
        break;
    case 12:
        image.DrawAlphaTransparent(hDC, 0, 0, n, slot.nParam);
        break;
    case 13:
        image.DrawColorizeTransparent(hDC, 0, 0, n, static_cast<COLORREF>(slot.nParam));
        break;
    case 14:
        image.DrawColorizeWithBack(hDC, 0, 0, n, static_cast<COLORREF>(slot.nParam));
        break;
    default:
        break; // no frame
    }
}

bool SlotInRange(int nSlot) {
    const AnimationTables& a = Animation();
    return nSlot >= 0 && nSlot < a.nSlotCount && a.ppOwners != nullptr;
}

} // namespace

int CImageEx::PlayAni(int nSlot, int nInterval, HWND hWnd, int x, int y, int nMode, int nParam) {
    AnimationTables& a = Animation();
    if (!SlotInRange(nSlot)) {
        return 0;
    }
    aniSlot& slot = a.pSlots[nSlot];
    if (a.ppOwners[nSlot] != nullptr) {
        // An occupied slot, whoever plays in it, only moves and takes the new parameter.
        slot.nX = x;
        slot.nY = y;
        slot.nParam = nParam;
        return 0;
    }
    a.ppOwners[nSlot] = this;
    slot.nSlot = nSlot;
    slot.nX = x;
    slot.nY = y;
    slot.nFrame = 0;
    slot.hWnd = hWnd;
    slot.hBackground = nullptr;
    slot.nMode = nMode;
    slot.nParam = nParam;
    if (nMode >= 11) {
        HDC hWndDC = GetDC(hWnd);
        HDC hMemDC = CreateCompatibleDC(hWndDC);
        slot.hBackground = CreateCompatibleBitmap(hWndDC, m_nWidth, m_nHeight);
        HGDIOBJ hOld = SelectObject(hMemDC, slot.hBackground);
        BitBlt(hMemDC, 0, 0, m_nWidth, m_nHeight, hWndDC, x, y, SRCCOPY);
        SelectObject(hMemDC, hOld);
        DeleteDC(hMemDC);
        ReleaseDC(hWnd, hWndDC);
    }
    slot.dwLastTime = 0;
    slot.dwInterval = static_cast<DWORD>(nInterval);
    StartAnimationTimer();
    ++a.nRunning;
    return 1;
}

// Does not depend on the object it is called on: any CImageEx stops any slot.
int CImageEx::StopAni(int nSlot) {
    AnimationTables& a = Animation();
    if (!SlotInRange(nSlot) || a.ppOwners[nSlot] == nullptr) {
        return 0;
    }
    FreeAnimationSlot(nSlot);
    if (a.nRunning == 0) {
        StopAnimationTimer();
    }
    // The window keeps the last frame drawn; the background is not put back.
    return 1;
}

// Whether the slot is occupied, and by whom, is not examined: the record is drawn with this
// object's strip. A record never taken is all zero (mode 0: no frame, the window NULL).
void CImageEx::DrawAnimation(int nSlot) {
    AnimationTables& a = Animation();
    if (!SlotInRange(nSlot)) {
        return;
    }
    aniSlot& slot = a.pSlots[nSlot];
    HDC hWndDC = GetDC(slot.hWnd);
    HDC hOffDC = CreateCompatibleDC(hWndDC);
    HBITMAP hOffBitmap = CreateCompatibleBitmap(hWndDC, m_nWidth, m_nHeight);
    HGDIOBJ hOldOff = SelectObject(hOffDC, hOffBitmap);

    HDC hBackDC = nullptr;
    HGDIOBJ hOldBack = nullptr;
    if (slot.nMode >= 11) {
        hBackDC = CreateCompatibleDC(hWndDC);
        hOldBack = SelectObject(hBackDC, slot.hBackground);
        BitBlt(hOffDC, 0, 0, m_nWidth, m_nHeight, hBackDC, 0, 0, SRCCOPY);
    } else {
        PatBlt(hOffDC, 0, 0, m_nWidth, m_nHeight, BLACKNESS);
    }

    DrawSlotFrame(*this, hOffDC, slot);
    BitBlt(hWndDC, slot.nX, slot.nY, m_nWidth, m_nHeight, hOffDC, 0, 0, SRCCOPY);

    if (hBackDC != nullptr) {
        if (hOldBack != nullptr) {
            SelectObject(hBackDC, hOldBack);
        }
        DeleteDC(hBackDC);
    }
    if (hOldOff != nullptr) {
        SelectObject(hOffDC, hOldOff);
    }
    DeleteObject(hOffBitmap);
    DeleteDC(hOffDC);
    ReleaseDC(slot.hWnd, hWndDC);

    if (++slot.nFrame >= m_nImageNum) {
        slot.nFrame = 0;
    }
}
