// The animation slots: the process-wide tables that InitializeAnimation creates, and the steps
// that PlayAni, StopAni, the timer callback and CImageEx's destruction share. Not exported.
#pragma once

#include "imageex_internal.h" // AnimationImageExit, the step of CImageEx::Exit defined here

// One slot's animation, ten fields in this order; the window and the saved background are held
// at the size of a handle.
struct aniSlot {
    int nSlot; // the slot's own number
    int nX;    // top-left corner of the frame in the window's client area
    int nY;
    int nFrame;          // the next frame to draw
    HWND hWnd;           // the window drawn into
    HBITMAP hBackground; // modes 11 and above: the window area saved when the slot was taken
    int nMode;           // drawing mode (1, 2, 3, 11 to 14; others draw no frame)
    int nParam;          // nAlpha or crColor for the modes that take one
    DWORD dwLastTime;    // timer time of the last frame drawn, 0 at start
    DWORD dwInterval;    // least time between two frames, in milliseconds
};

// The one set of animation state of the process, zero while the library is loaded and no table
// exists.
struct AnimationTables {
    aniSlot* pSlots;     // nSlotCount records, zero-filled when created
    CImageEx** ppOwners; // the object playing in each slot, null when the slot is free
    int nSlotCount;
    int nRunning;      // occupied slots; the timer stops when it falls to 0
    UINT_PTR nTimerId; // the identifier SetTimer gave the shared timer, 0 when stopped
};
AnimationTables& Animation();

// The shared timer: every 10 ms while an animation runs.
void CALLBACK AniTimerProc(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);
// (Re)starts the shared timer, or stops it.
void StartAnimationTimer();
void StopAnimationTimer();
// Frees an occupied slot: its owner becomes null, the running count drops and its saved
// background is deleted. The timer is left to the caller.
void FreeAnimationSlot(int nSlot);
