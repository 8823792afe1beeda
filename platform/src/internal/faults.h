// Injected creation failures (host::fail_creation) as the platform's creating calls see them.
#pragma once

#include <platform/host.h>

#include <new>

namespace platform {

// Called by every call that is about to make an object of `kind`, at the point where the
// object would be made: counts the creation and answers whether the armed fault falls on it.
// A call told to fail sets `error` as its last error and returns its Win32 failure result.
bool creation_fails(host::FaultKind kind, DWORD error = ERROR_NOT_ENOUGH_MEMORY);

// Counts one of the platform's heap allocations made inside a platform call while the heap is
// watched (host::watch_heap) and answers whether the armed fault falls on it. For buffers the platform takes from the C heap
// itself; what it takes through operator new the program's hook reports.
bool heap_allocation_fails();

// Marks the time spent inside a platform call, for the heap watch (host::heap_allocation):
// only allocations made while one is open belong to the platform.
class PlatformCall {
public:
    PlatformCall();
    ~PlatformCall();
    PlatformCall(const PlatformCall&) = delete;
    PlatformCall& operator=(const PlatformCall&) = delete;
};

// Marks a call out of the platform into the program (a window procedure, a timer procedure, a
// module's entry point): what the program allocates there is its own, even inside a platform
// call.
class ProgramCall {
public:
    ProgramCall();
    ~ProgramCall();
    ProgramCall(const ProgramCall&) = delete;
    ProgramCall& operator=(const ProgramCall&) = delete;

private:
    int saved_depth_;
};

// Runs a Win32 entry point's body and turns running out of memory inside it into the call's
// failure result (with ERROR_NOT_ENOUGH_MEMORY), so that no exception crosses a Win32 call.
// Every entry point whose work can reach the C++ heap runs through here.
template <class R, class F> R no_throw(R failure, F&& body) {
    try {
        const PlatformCall call;
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

} // namespace platform
