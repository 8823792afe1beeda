// Injected creation failures (host::fail_creation) as the platform's creating calls see them.
#pragma once

#include <platform/host.h>

#include <new>

namespace platform {

// Called by every call that is about to make an object of `kind`, at the point where the
// object would be made: counts the creation and answers whether the armed fault falls on it.
// A call told to fail sets `error` as its last error and returns its Win32 failure result.
bool creation_fails(host::FaultKind kind, DWORD error = ERROR_NOT_ENOUGH_MEMORY);

// Runs a Win32 entry point's body and turns running out of memory inside it into the call's
// failure result (with ERROR_NOT_ENOUGH_MEMORY), so that no exception crosses a Win32 call.
template <class R, class F> R no_throw(R failure, F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

} // namespace platform
