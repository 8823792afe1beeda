// Running out of memory inside an MFC call: the call fails the way it fails for any other cause
// (its FALSE or NULL, GetLastError ERROR_NOT_ENOUGH_MEMORY), no std::bad_alloc leaves it. On our
// platform the call also counts as a platform call for the heap watch; built for Windows, the
// MFC subset stands on the system's own DLLs and only catches.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <new>

namespace afx_internal {

template <class R, class F> R no_throw(R failure, F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

} // namespace afx_internal
#else
#include "internal/faults.h"

namespace afx_internal {
using platform::no_throw;
} // namespace afx_internal
#endif
