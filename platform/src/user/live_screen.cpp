// Showing the simulated screen in a real window: the clock in real time, the presenter that
// hands the framebuffer out when it may have changed, and mouse input from outside.
//
// Everything here is off until a host turns it on; tests and programs that never do keep the
// manual clock exactly as clock.cpp describes it.
#include "internal/user_internal.h"

#include <platform/host.h>

#include <chrono>
#include <thread>

namespace platform::user {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct LiveScreen {
    bool real_time = false;
    SteadyClock::time_point started; // when real time was turned on
    host::Waiter waiter;
    host::Presenter presenter;
    bool changed = true; // the first presentation always shows the screen
    bool presenting = false;
};

LiveScreen& live() {
    static LiveScreen l;
    return l;
}

std::uint64_t ms_since(SteadyClock::time_point t) {
    const auto d = SteadyClock::now() - t;
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

} // namespace

std::uint64_t real_time_elapsed() {
    return live().real_time ? ms_since(live().started) : 0;
}

bool real_time_on() {
    return live().real_time;
}

void real_sleep(std::uint64_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool real_wait(bool has_due, std::uint64_t due) {
    LiveScreen& l = live();
    const std::uint64_t now = clock_elapsed();
    const std::uint64_t left = has_due ? (due > now ? due - now : 0) : 0;
    if (l.waiter) {
        // Copied, so that a waiter may replace itself.
        host::Waiter waiter = l.waiter;
        waiter(has_due ? static_cast<DWORD>(std::min<std::uint64_t>(left, INFINITE - 1))
                       : INFINITE);
        return true;
    }
    if (!has_due) {
        return false;
    }
    real_sleep(left);
    return true;
}

void screen_changed() {
    live().changed = true;
}

void present_if_changed() {
    if (live().changed) {
        host::present();
    }
}

} // namespace platform::user

namespace host {

void set_real_time(bool on) {
    using namespace platform::user;
    LiveScreen& l = live();
    if (on == l.real_time) {
        return;
    }
    if (on) {
        l.started = SteadyClock::now();
        l.real_time = true;
    } else {
        // The time that passed in real time stays passed.
        const std::uint64_t passed = real_time_elapsed();
        l.real_time = false;
        clock_advance(passed);
    }
}

bool real_time() {
    return platform::user::live().real_time;
}

void set_waiter(Waiter waiter) {
    platform::user::live().waiter = std::move(waiter);
}

void set_presenter(Presenter presenter) {
    platform::user::LiveScreen& l = platform::user::live();
    l.presenter = std::move(presenter);
    l.changed = true;
}

void present() {
    platform::user::LiveScreen& l = platform::user::live();
    if (!l.presenter || l.presenting) {
        return;
    }
    // A presenter that draws or pumps messages must not present again from inside.
    l.presenting = true;
    l.changed = false;
    Presenter presenter = l.presenter;
    presenter(screen_framebuffer());
    l.presenting = false;
}

HWND post_mouse_input(UINT msg, int x, int y, WPARAM keys) {
    HWND hwnd = WindowFromPoint(POINT{x, y});
    RECT rect;
    if (hwnd == nullptr || hwnd == GetDesktopWindow() || !GetWindowRect(hwnd, &rect)) {
        return nullptr;
    }
    const int cx = x - rect.left;
    const int cy = y - rect.top;
    const LPARAM where = MAKELPARAM(static_cast<WORD>(cx), static_cast<WORD>(cy));
    return PostMessageA(hwnd, msg, keys, where) ? hwnd : nullptr;
}

} // namespace host
