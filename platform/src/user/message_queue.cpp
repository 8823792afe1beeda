// The thread's message queue: posted messages, the quit flag and timers, retrieved by
// GetMessageA and PeekMessageA and delivered by DispatchMessageA.
//
// The platform runs on one thread, so there is one queue. Retrieval follows Win32's order:
// posted messages first, then WM_QUIT once PostQuitMessage was called and nothing else is
// posted, then WM_PAINT of windows with something to paint, then WM_TIMER of due timers.
#include "internal/faults.h"
#include "internal/user_internal.h"

#include <deque>
#include <cstdio>

namespace platform::user {
namespace {

// Win32 refuses posts beyond 10000 pending messages; so do we, rather than grow without end.
constexpr std::size_t kQueueLimit = 10000;

struct Queue {
    std::deque<MSG> posted;
    bool quit = false;
    int exit_code = 0;
};

Queue& queue() {
    static auto* q = new Queue; // never destroyed: see timers()
    return *q;
}

bool in_range(UINT msg, UINT first, UINT last) {
    return (first == 0 && last == 0) || (msg >= first && msg <= last);
}

bool valid_filter(HWND filter) {
    return filter == nullptr || filter == reinterpret_cast<HWND>(-1) ||
           window_or_error(filter) != nullptr;
}

bool take(MSG& out, HWND filter, UINT first, UINT last, bool remove) {
    Queue& q = queue();
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (in_range(it->message, first, last) && window_filter_matches(filter, it->hwnd)) {
            out = *it;
            if (remove) {
                q.posted.erase(it);
            }
            return true;
        }
    }
    // WM_QUIT passes any filter.
    if (q.quit) {
        out = MSG{};
        out.message = WM_QUIT;
        out.wParam = static_cast<WPARAM>(q.exit_code);
        out.time = clock_tick_at(clock_elapsed());
        if (remove) {
            q.quit = false;
        }
        return true;
    }
    // WM_PAINT is never removed: it comes until the window is validated.
    if (in_range(WM_PAINT, first, last) && take_paint(filter, out)) {
        return true;
    }
    return in_range(WM_TIMER, first, last) && take_due_timer(filter, remove, out);
}

} // namespace
} // namespace platform::user

using namespace platform::user;

// Waiting for a message is time passing: with nothing to retrieve, the manual clock moves on to
// the moment the next timer falls due (in real time the wait is real, see live_screen.cpp). When
// nothing can ever arrive (no timer, and no other thread to post one), Win32 would block for good;
// here GetMessageA says so on standard error and returns 0 with WM_QUIT, so that a message loop
// ends instead of hanging a test.
extern "C" BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    return platform::no_throw<BOOL>(-1, [&]() -> BOOL {
        if (lpMsg == nullptr || !valid_filter(hWnd)) {
            return -1;
        }
        for (;;) {
            present_if_changed();
            if (take(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) {
                return lpMsg->message != WM_QUIT;
            }
            std::uint64_t due = 0;
            const bool timer =
                in_range(WM_TIMER, wMsgFilterMin, wMsgFilterMax) && next_timer_due(hWnd, due);
            if (real_time_on() && real_wait(timer, due)) {
                continue;
            }
            if (!timer) {
                std::fputs("GetMessageA: no message and no timer to wait for; returning WM_QUIT\n",
                           stderr);
                *lpMsg = MSG{};
                lpMsg->message = WM_QUIT;
                lpMsg->time = clock_tick_at(clock_elapsed());
                return FALSE;
            }
            if (due > clock_elapsed()) {
                clock_advance(due - clock_elapsed());
            }
        }
    });
}

extern "C" BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                                    UINT wRemoveMsg) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        if (lpMsg == nullptr || !valid_filter(hWnd)) {
            return FALSE;
        }
        present_if_changed();
        return take(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0);
    });
}

// There is no keyboard, so there is never a key message to translate.
extern "C" BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    (void)lpMsg;
    return FALSE;
}

// A WM_TIMER with a callback calls it with the current tick count, but only when a timer with
// that callback still exists: a made-up or stale message never becomes a call through a
// pointer it carries. Other messages go to their window's procedure.
extern "C" LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (lpMsg == nullptr) {
        return 0;
    }
    if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
        auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        if (timer_proc_is_live(lpMsg->hwnd, proc)) {
            proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, clock_tick_at(clock_elapsed()));
        }
        return 0;
    }
    const Window* w = find_window(lpMsg->hwnd);
    if (lpMsg->hwnd == nullptr || w == nullptr || w->proc == nullptr) {
        return 0;
    }
    return w->proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

// A NULL window posts a thread message, which GetMessageA returns with a NULL hwnd.
extern "C" BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        if (hWnd != nullptr) {
            const Window* w = window_or_error(hWnd);
            if (w == nullptr || w->is_desktop) {
                return FALSE;
            }
        }
        Queue& q = queue();
        if (q.posted.size() >= kQueueLimit) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        MSG m = {};
        m.hwnd = hWnd;
        m.message = Msg;
        m.wParam = wParam;
        m.lParam = lParam;
        m.time = clock_tick_at(clock_elapsed());
        q.posted.push_back(m);
        return TRUE;
    });
}

extern "C" void WINAPI PostQuitMessage(int nExitCode) {
    queue().quit = true;
    queue().exit_code = nExitCode;
}
