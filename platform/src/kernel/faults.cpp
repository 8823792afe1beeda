// Injected creation failures and the creation counts behind host::fail_creation.
#include "internal/faults.h"

namespace platform {
namespace {

constexpr int kKinds = 6;

struct Faults {
    unsigned armed_kinds = 0; // 0: nothing armed
    unsigned remaining = 0;   // creations of the armed kinds still to go, the failing one included
    unsigned counted[kKinds] = {};
};

// Depth of nested platform calls on this thread (see PlatformCall).
// (initial-exec: a plain load on the hot path of every blit, the library being linked, never
// opened at run time)
__attribute__((tls_model("initial-exec"))) thread_local int t_call_depth = 0;
bool g_heap_watched = false;

Faults& faults() {
    static Faults f;
    return f;
}

int index_of(host::FaultKind kind) {
    for (int i = 0; i < kKinds; ++i) {
        if (kind == (1u << i)) {
            return i;
        }
    }
    return -1;
}

} // namespace

PlatformCall::PlatformCall() {
    ++t_call_depth;
}
PlatformCall::~PlatformCall() {
    --t_call_depth;
}

ProgramCall::ProgramCall() : saved_depth_(t_call_depth) {
    t_call_depth = 0;
}
ProgramCall::~ProgramCall() {
    t_call_depth = saved_depth_;
}

bool heap_allocation_fails() {
    if (!g_heap_watched || t_call_depth == 0) {
        return false;
    }
    // Not through creation_fails: a failed allocation sets no last error of its own; the call
    // that meets it does.
    Faults& f = faults();
    ++f.counted[index_of(host::heap)];
    if ((f.armed_kinds & host::heap) == 0 || --f.remaining != 0) {
        return false;
    }
    f.armed_kinds = 0;
    return true;
}

bool creation_fails(host::FaultKind kind, DWORD error) {
    Faults& f = faults();
    const int i = index_of(kind);
    if (i < 0) {
        return false;
    }
    ++f.counted[i];
    if ((f.armed_kinds & kind) == 0 || --f.remaining != 0) {
        return false;
    }
    f.armed_kinds = 0;
    SetLastError(error);
    return true;
}

} // namespace platform

namespace host {

void watch_heap(bool on) {
    platform::g_heap_watched = on;
}

HeapAnswer heap_allocation() {
    if (!platform::g_heap_watched || platform::t_call_depth == 0) {
        return HeapAnswer::outside;
    }
    return platform::heap_allocation_fails() ? HeapAnswer::fail : HeapAnswer::platform;
}

void fail_creation(unsigned n, unsigned kinds) {
    platform::Faults& f = platform::faults();
    f.armed_kinds = n != 0 ? kinds & all : 0;
    f.remaining = f.armed_kinds != 0 ? n : 0;
}

void clear_faults() {
    fail_creation(0);
}

bool fault_pending() {
    return platform::faults().armed_kinds != 0;
}

unsigned creations_counted(unsigned kinds) {
    const platform::Faults& f = platform::faults();
    unsigned total = 0;
    for (int i = 0; i < platform::kKinds; ++i) {
        if (kinds & (1u << i)) {
            total += f.counted[i];
        }
    }
    return total;
}

void reset_creation_count() {
    for (unsigned& n : platform::faults().counted) {
        n = 0;
    }
}

} // namespace host
