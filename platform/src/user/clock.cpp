// The manual clock behind GetTickCount, Sleep and the timers.
//
// Nothing here reads the real time: tests and the talvo program decide when time passes, so
// that animations and timers run exactly and instantly. See host.h for the rules. A host that
// shows the screen live turns real time on (live_screen.cpp), which adds to the manual time.
#include "internal/user_internal.h"

#include <platform/host.h>

namespace platform::user {
namespace {

struct Clock {
    std::uint64_t elapsed = 0;
    DWORD offset = 0; // tick count = offset + elapsed, modulo 2^32
    DWORD auto_step = 0;
};

Clock& the_clock() {
    static Clock c;
    return c;
}

} // namespace

std::uint64_t clock_elapsed() {
    return the_clock().elapsed + real_time_elapsed();
}

void clock_advance(std::uint64_t ms) {
    the_clock().elapsed += ms;
}

DWORD clock_tick_at(std::uint64_t elapsed) {
    return static_cast<DWORD>(the_clock().offset + static_cast<DWORD>(elapsed));
}

} // namespace platform::user

namespace host {

void set_tick_count(DWORD ms) {
    using namespace platform::user;
    // Moving the reading is not time passing: timers keep the time they had left.
    the_clock().offset = static_cast<DWORD>(ms - static_cast<DWORD>(the_clock().elapsed));
}

void advance_clock(DWORD ms) {
    platform::user::clock_advance(ms);
}

void set_auto_advance(DWORD step) {
    platform::user::the_clock().auto_step = step;
}

} // namespace host

extern "C" DWORD WINAPI GetTickCount(void) {
    using namespace platform::user;
    clock_advance(the_clock().auto_step);
    return clock_tick_at(clock_elapsed());
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
    // One thread, no one to wait for: sleeping is time passing (really, in real time).
    if (platform::user::real_time_on()) {
        platform::user::real_sleep(dwMilliseconds);
        return;
    }
    platform::user::clock_advance(dwMilliseconds);
}
