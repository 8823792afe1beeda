#include "test_modules.h"

#include <windows.h>
#include <platform/host.h>

namespace {

int bpp_at_attach = 0;

BOOL WINAPI dyn_entry(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH && kernel_test_should_fail_attach()) {
        kernel_test_log_append("dyn:attach-fail");
        return FALSE;
    }
    if (reason == DLL_PROCESS_ATTACH) {
        // What a library that adapts to the display would look at when it is loaded.
        HDC screen = GetDC(nullptr);
        bpp_at_attach = GetDeviceCaps(screen, BITSPIXEL);
        ReleaseDC(nullptr, screen);
    }
    kernel_test_log_append(reason == DLL_PROCESS_ATTACH ? "dyn:attach" : "dyn:detach");
    return TRUE;
}

[[maybe_unused]] const HMODULE registered = host::register_module("DynMod.dll", dyn_entry);

} // namespace

extern "C" int dyn_answer() {
    return 42;
}

extern "C" int dyn_bpp_at_attach() {
    return bpp_at_attach;
}
