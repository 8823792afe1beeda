#include "test_modules.h"

#include <windows.h>
#include <platform/host.h>

namespace {

BOOL WINAPI dyn_entry(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH && kernel_test_should_fail_attach()) {
        kernel_test_log_append("dyn:attach-fail");
        return FALSE;
    }
    kernel_test_log_append(reason == DLL_PROCESS_ATTACH ? "dyn:attach" : "dyn:detach");
    return TRUE;
}

[[maybe_unused]] const HMODULE registered = host::register_module("DynMod.dll", dyn_entry);

} // namespace

extern "C" int dyn_answer() {
    return 42;
}
