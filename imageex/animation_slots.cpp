// The animation slot tables and the shared 10 ms timer: InitializeAnimation, TerminateAnimation,
// AniTimerProc, and what CImageEx's destruction does to the slots.
//
// Choices of this library:
//  - Windows numbers a thread timer itself (SetTimer with no window ignores the identifier it
//    is given), so the identifier SetTimer returns is kept and is the one KillTimer is given.
//  - A negative slot count is refused (0); a count of 0 is accepted and makes no usable slot.
//  - TerminateAnimation first stops the slots still running, deleting their saved backgrounds
//    and stopping the timer, so that no timer tick reads a table that is gone.
//  - Destroying a CImageEx frees the slots it still occupies before the timer is stopped, so
//    that no slot points at a dead object.
#include "animation_internal.h"

#include <cstdint>

namespace {

AnimationTables g_animation; // zero at load time

} // namespace

AnimationTables& Animation() {
    return g_animation;
}

void StartAnimationTimer() {
    AnimationTables& a = Animation();
    StopAnimationTimer();
    // Identifier 0 asks for a new timer: a thread timer of the client that Windows happened to
    // number like an earlier one of ours must not be taken over.
    a.nTimerId = SetTimer(nullptr, 0, 10, AniTimerProc);
}

void StopAnimationTimer() {
    AnimationTables& a = Animation();
    if (a.nTimerId != 0) {
        KillTimer(nullptr, a.nTimerId);
        a.nTimerId = 0;
    }
}

void FreeAnimationSlot(int nSlot) {
    AnimationTables& a = Animation();
    --a.nRunning;
    a.ppOwners[nSlot] = nullptr;
    aniSlot& slot = a.pSlots[nSlot];
    if (slot.hBackground != nullptr) {
        DeleteObject(slot.hBackground);
        slot.hBackground = nullptr;
    }
}

void AnimationImageExit(CImageEx* pImage) {
    AnimationTables& a = Animation();
    for (int i = 0; i < a.nSlotCount; ++i) {
        if (a.ppOwners[i] == pImage) {
            FreeAnimationSlot(i);
        }
    }
    // Destroying any CImageEx stops the shared timer, even while other slots run; they resume
    // when a later PlayAni takes a slot.
    StopAnimationTimer();
}

extern "C" TALVO_API int InitializeAnimation(int nCount) {
    AnimationTables& a = Animation();
    if (a.nSlotCount > 0 || nCount < 0) {
        return 0;
    }
    // A count of 0 allocates nothing: there is no slot to hold, and nothing is left behind for
    // TerminateAnimation (which refuses a count of 0) to free.
    if (nCount == 0) {
        return 1;
    }
    const std::size_t count = static_cast<std::size_t>(nCount);
    if (count > SIZE_MAX / sizeof(aniSlot)) {
        return 0;
    }
    a.nSlotCount = nCount;
    a.pSlots = static_cast<aniSlot*>(LocalAlloc(LPTR, count * sizeof(aniSlot)));
    a.ppOwners = static_cast<CImageEx**>(LocalAlloc(LPTR, count * sizeof(CImageEx*)));
    if (a.pSlots == nullptr || a.ppOwners == nullptr) {
        if (a.pSlots != nullptr) {
            LocalFree(a.pSlots);
        }
        if (a.ppOwners != nullptr) {
            LocalFree(a.ppOwners);
        }
        a.pSlots = nullptr;
        a.ppOwners = nullptr;
        a.nSlotCount = 0;
        return 0;
    }
    // LPTR zero-fills: every owner is null and a record never taken holds no handle.
    return 1;
}

extern "C" TALVO_API int TerminateAnimation() {
    AnimationTables& a = Animation();
    if (a.nSlotCount == 0) {
        return 0;
    }
    for (int i = 0; i < a.nSlotCount; ++i) {
        if (a.ppOwners[i] != nullptr) {
            FreeAnimationSlot(i);
        }
    }
    StopAnimationTimer();
    LocalFree(a.pSlots);
    LocalFree(a.ppOwners);
    a.pSlots = nullptr;
    a.ppOwners = nullptr;
    a.nSlotCount = 0;
    return 1;
}

// On every tick: each occupied slot whose interval has passed draws its next frame. The
// difference of the two times wraps as unsigned 32-bit values, and the comparison is strict,
// so a slot draws at the earliest interval + 1 ms after its last frame, and a negative interval
// (2^31 ms or more) practically never. The slot count is read again at every step.
void CALLBACK AniTimerProc(HWND /*hWnd*/, UINT /*uMsg*/, UINT_PTR /*idEvent*/, DWORD dwTime) {
    AnimationTables& a = Animation();
    if (a.nSlotCount <= 0) {
        return;
    }
    for (int i = 0; i < a.nSlotCount; ++i) {
        CImageEx* pOwner = a.ppOwners[i];
        if (pOwner != nullptr &&
            static_cast<DWORD>(dwTime - a.pSlots[i].dwLastTime) > a.pSlots[i].dwInterval) {
            pOwner->DrawAnimation(i);
            a.pSlots[i].dwLastTime = dwTime;
        }
    }
}
