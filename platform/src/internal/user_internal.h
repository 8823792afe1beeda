// What the USER layer's files share: the manual clock, windows and timers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace platform::user {

// ---- Clock
// ---------------------------------------------------------------------------------------
//
// Time is kept as milliseconds elapsed since the process started, in 64 bits so that it never
// wraps; GetTickCount shows it through a 32-bit offset that host::set_tick_count moves. Timers
// are scheduled on the elapsed time, so a tick count that wraps past 2^32, or one the host sets
// to another value, never makes them fire early or late.
std::uint64_t clock_elapsed();
// Lets time pass (advance_clock, Sleep, a GetMessageA that waits for a timer).
void clock_advance(std::uint64_t ms);
// The tick count shown at a given elapsed time.
DWORD clock_tick_at(std::uint64_t elapsed);

// ---- Real time and the live screen (live_screen.cpp)
// -------------------------------------------------------------------------------------------------
//
// Milliseconds of real time since host::set_real_time(true), 0 while the clock is manual;
// clock_elapsed() adds it to the manual time.
std::uint64_t real_time_elapsed();
bool real_time_on();
void real_sleep(std::uint64_t ms);
// GetMessageA has nothing to retrieve and the clock runs in real time: waits until the elapsed
// time `due` (when has_due) or lets the host's waiter wait. False when nothing can ever arrive.
bool real_wait(bool has_due, std::uint64_t due);
// A window or screen context was released: the screen may show something new.
void screen_changed();
// Hands the framebuffer to the host's presenter when the screen changed since it last did.
void present_if_changed();

// ---- Display -----------------------------------------------------------------------------------

// The host mode's work area; an empty one in the mode stands for the whole screen.
RECT work_area();

// ---- Windows
// -------------------------------------------------------------------------------------

struct WindowClass;

struct Window {
    const WindowClass* window_class = nullptr; // classes with windows cannot be unregistered
    WNDPROC proc = nullptr;
    HWND parent = nullptr; // the parent of a child window, the owner of a popup
    DWORD style = 0;
    DWORD ex_style = 0;
    RECT rect = {0, 0, 0, 0}; // on the screen; there is no non-client area, so also the client
    bool visible = false;
    bool destroying = false;
    bool is_desktop = false;
    // Painting (painting.cpp): the update region as the rectangle bounding it, in client
    // coordinates; whether its background still has to be erased; whether the last
    // WM_ERASEBKGND left it unerased (BeginPaint then reports fErase).
    bool needs_paint = false;
    RECT update = {0, 0, 0, 0};
    bool needs_erase = false;
    bool erase_left = false;
};

// The live window behind a handle, or nullptr. The desktop window is found too.
Window* find_window(HWND hwnd);
// find_window for a public call: a handle that names no window sets the last error, as Win32's
// window functions do.
Window* window_or_error(HWND hwnd);
// True when the window and all its ancestors are shown.
bool window_visible(HWND hwnd);

// Every live window but the desktop, in no particular order.
std::vector<HWND> all_windows();
// The first live window but the desktop for which `match` is true, or NULL; allocates nothing,
// for the message loop.
HWND first_window(bool (*match)(HWND, const Window&, const void*), const void* context);

// Painting (painting.cpp). A window that is shown has all of it invalidated and its background
// erased at once; its WM_PAINT waits for UpdateWindow or the message loop.
void invalidate_shown_window(HWND hwnd);
// A WM_PAINT for the message loop: a shown window passing the filter that has something to
// paint. The message stays until the window is validated (BeginPaint does that).
bool take_paint(HWND filter, MSG& out);

// Called when a window goes away: its timers stop and the contexts it handed out are released.
void kill_window_timers(HWND hwnd);
void release_window_dcs(HWND hwnd);

// ---- Timers
// --------------------------------------------------------------------------------------

// A WM_TIMER that is due and matches the filter: the earliest due timer first. With remove
// set, the timer starts its next period now, as a retrieved WM_TIMER restarts a Win32 timer.
bool take_due_timer(HWND filter, bool remove, MSG& out);
// Elapsed time at which the next timer matching the filter falls due; false without timers.
bool next_timer_due(HWND filter, std::uint64_t& due);
// True when a live timer has this callback (DispatchMessageA calls only those).
bool timer_proc_is_live(HWND hwnd, TIMERPROC proc);

// Whether a message for `hwnd` passes a GetMessageA/PeekMessageA window filter: NULL takes
// everything, (HWND)-1 only thread messages, a window its own messages and its children's.
bool window_filter_matches(HWND filter, HWND hwnd);

} // namespace platform::user
