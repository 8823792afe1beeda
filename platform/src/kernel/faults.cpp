// Injected creation failures and the creation counts behind host::fail_creation.
#include "internal/faults.h"

namespace platform {
namespace {

constexpr int kKinds = 5;

struct Faults {
    unsigned armed_kinds = 0; // 0: nothing armed
    unsigned remaining = 0;   // creations of the armed kinds still to go, the failing one included
    unsigned counted[kKinds] = {};
};

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
