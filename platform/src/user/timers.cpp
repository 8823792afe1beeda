// SetTimer and KillTimer: thread timers and window timers, fired by the message loop.
//
// A timer posts nothing by itself. When GetMessageA or PeekMessageA finds the queue empty it
// asks for a due timer and makes one WM_TIMER of it; retrieving that message starts the timer's
// next period. However long the loop was away, a timer is therefore due at most once, which is
// how Win32 coalesces WM_TIMER.
#include "internal/faults.h"
#include "internal/user_internal.h"

#include <platform/host.h>

#include <vector>

namespace platform::user {
namespace {

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    std::uint64_t due; // elapsed time, see clock.cpp
};

struct Timers {
    std::vector<Timer> list; // in order of creation, which breaks ties between due timers
    UINT_PTR next_thread_id = kMaxThreadId;
    static constexpr UINT_PTR kMaxThreadId = 0x7FFF;
};

// Never destroyed, like the other user-interface state: programs stop timers, destroy windows
// and unregister classes from their own static destructors, after main has returned.
Timers& timers() {
    static auto* t = new Timers;
    return *t;
}

Timer* find_timer(HWND hwnd, UINT_PTR id) {
    for (Timer& t : timers().list) {
        if (t.hwnd == hwnd && t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

// Identifiers of thread timers count down from 0x7FFF and wrap, skipping those in use, so a
// freed identifier is not handed out again at once. 0 when all are taken.
UINT_PTR new_thread_timer_id() {
    Timers& t = timers();
    for (UINT_PTR tries = 0; tries < Timers::kMaxThreadId; ++tries) {
        UINT_PTR id = t.next_thread_id;
        t.next_thread_id = id > 1 ? id - 1 : Timers::kMaxThreadId;
        if (find_timer(nullptr, id) == nullptr) {
            return id;
        }
    }
    return 0;
}

bool filter_takes(HWND filter, const Timer& t) {
    return window_filter_matches(filter, t.hwnd);
}

} // namespace

bool take_due_timer(HWND filter, bool remove, MSG& out) {
    const std::uint64_t now = clock_elapsed();
    Timer* best = nullptr;
    for (Timer& t : timers().list) {
        if (t.due <= now && filter_takes(filter, t) && (best == nullptr || t.due < best->due)) {
            best = &t;
        }
    }
    if (best == nullptr) {
        return false;
    }
    out = MSG{};
    out.hwnd = best->hwnd;
    out.message = WM_TIMER;
    out.wParam = best->id;
    out.lParam = reinterpret_cast<LPARAM>(best->proc);
    out.time = clock_tick_at(now);
    if (remove) {
        best->due = now + best->elapse;
    }
    return true;
}

bool next_timer_due(HWND filter, std::uint64_t& due) {
    bool found = false;
    for (const Timer& t : timers().list) {
        if (filter_takes(filter, t) && (!found || t.due < due)) {
            due = t.due;
            found = true;
        }
    }
    return found;
}

bool timer_proc_is_live(HWND hwnd, TIMERPROC proc) {
    for (const Timer& t : timers().list) {
        if (t.hwnd == hwnd && t.proc == proc) {
            return true;
        }
    }
    return false;
}

void kill_window_timers(HWND hwnd) {
    std::erase_if(timers().list, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
}

} // namespace platform::user

int host::live_timers() {
    return static_cast<int>(platform::user::timers().list.size());
}

using namespace platform::user;

// A thread timer (hWnd NULL) keeps nIDEvent only when it names one of the thread's timers, which
// is then reset; otherwise Win32 makes a new timer and returns a new identifier, which is the
// one KillTimer needs. A window timer is known by its window and nIDEvent.
extern "C" UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse,
                                    TIMERPROC lpTimerFunc) {
    return platform::no_throw<UINT_PTR>(0, [&]() -> UINT_PTR {
        if (uElapse < USER_TIMER_MINIMUM) {
            uElapse = USER_TIMER_MINIMUM;
        } else if (uElapse > USER_TIMER_MAXIMUM) {
            uElapse = USER_TIMER_MAXIMUM;
        }
        if (hWnd != nullptr) {
            const Window* w = window_or_error(hWnd);
            if (w == nullptr || w->is_desktop) {
                return 0;
            }
        }
        UINT_PTR id = nIDEvent;
        Timer* existing = (hWnd != nullptr || nIDEvent != 0) ? find_timer(hWnd, nIDEvent) : nullptr;
        const std::uint64_t due = clock_elapsed() + uElapse;
        if (existing != nullptr) {
            existing->elapse = uElapse;
            existing->proc = lpTimerFunc;
            existing->due = due;
        } else {
            if (hWnd == nullptr) {
                id = new_thread_timer_id();
                if (id == 0) {
                    return 0;
                }
            }
            timers().list.push_back(Timer{hWnd, id, uElapse, lpTimerFunc, due});
        }
        // A window timer with identifier 0 exists, but 0 would read as failure.
        return id != 0 ? id : 1;
    });
}

// An identifier that names no timer of the window (or thread) is a bad parameter; a window that
// does not exist is a bad window handle, as for SetTimer.
extern "C" BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    if (hWnd != nullptr && window_or_error(hWnd) == nullptr) {
        return FALSE;
    }
    auto& list = timers().list;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->hwnd == hWnd && it->id == uIDEvent) {
            list.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
