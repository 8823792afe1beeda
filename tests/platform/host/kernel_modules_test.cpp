// The module loader: implicit attach at start, LoadLibraryA/FreeLibrary counting, failed
// attaches, look-up by name and detaching at exit.
#include "modules/test_modules.h"
#include "platform/last_error.h"

#include <windows.h>
#include "support/host_display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Frees DynMod.dll until it is unloaded.
void unload_dyn() {
    HMODULE h;
    while ((h = GetModuleHandleA("DynMod.dll")) != nullptr) {
        FreeLibrary(h);
    }
    kernel_test_fail_next_attach(0);
    kernel_test_log_clear();
}

// Calls the module's function `name` (an int without arguments); -1 when it has none.
int call(HMODULE module, const char* name) {
    const auto f =
        reinterpret_cast<int (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return f != nullptr ? f() : -1;
}

} // namespace

TEST(KernelModules, LinkedModuleIsAttachedBeforeMain) {
    HMODULE linked = GetModuleHandleA("linked");
    ASSERT_NE(linked, nullptr);
    EXPECT_EQ(GetModuleHandleA("LINKED.DLL"), linked);
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(linked, path, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_NE(std::strstr(path, "libkernel_linked_module.so"), nullptr) << path;

    HMODULE program = GetModuleHandleA(nullptr);
    ASSERT_NE(program, nullptr);
    EXPECT_NE(program, linked);
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    EXPECT_NE(std::strstr(path, "kernel_host_tests"), nullptr) << path;
    // Too small a buffer: cut, terminated, and the full size returned.
    char small[4];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
    EXPECT_EQ(std::strlen(small), 3u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(KernelModules, LoadCountsAttachAndDetach) {
    unload_dyn();
    HMODULE first = LoadLibraryA("DynMod.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::string(kernel_test_log()), "dyn:attach");
    // Any case, with or without the extension, even with a directory: the same module.
    EXPECT_EQ(LoadLibraryA("dynmod"), first);
    EXPECT_EQ(LoadLibraryA("C:\\somewhere\\DYNMOD.DLL"), first);
    EXPECT_EQ(GetModuleHandleA("dynmod.dll"), first);
    EXPECT_EQ(std::string(kernel_test_log()), "dyn:attach");

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(std::string(kernel_test_log()), "dyn:attach");
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(std::string(kernel_test_log()), "dyn:attach dyn:detach");
    EXPECT_EQ(GetModuleHandleA("DynMod.dll"), nullptr);
    EXPECT_FAILS_WITH(FreeLibrary(first), FALSE, ERROR_INVALID_HANDLE);

    // Loading again attaches again, under the same handle.
    EXPECT_EQ(LoadLibraryA("DynMod.dll"), first);
    EXPECT_EQ(std::string(kernel_test_log()), "dyn:attach dyn:detach dyn:attach");
    unload_dyn();
}

TEST(KernelModules, FailedAttachFailsTheLoad) {
    unload_dyn();
    kernel_test_fail_next_attach(1);
    EXPECT_FAILS_WITH(LoadLibraryA("DynMod.dll"), nullptr, ERROR_DLL_INIT_FAILED);
    // Windows follows a failed attach with a detach before it unloads the module.
    EXPECT_EQ(std::string(kernel_test_log()), "dyn:attach-fail dyn:detach");
    EXPECT_EQ(GetModuleHandleA("DynMod.dll"), nullptr);

    kernel_test_fail_next_attach(0);
    HMODULE h = LoadLibraryA("DynMod.dll");
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(std::string(kernel_test_log()), "dyn:attach-fail dyn:detach dyn:attach");
    unload_dyn();
}

TEST(KernelModules, ProcAddressesAndMissingModules) {
    unload_dyn();
    HMODULE h = LoadLibraryA("DynMod.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(call(h, "dyn_answer"), 42);
    EXPECT_FAILS_WITH(GetProcAddress(h, "no_such_function"), nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(h, MAKEINTRESOURCEA(1)), nullptr);
    unload_dyn();
    // Once unloaded, the handle no longer serves.
    EXPECT_EQ(GetProcAddress(h, "dyn_answer"), nullptr);

    EXPECT_FAILS_WITH(LoadLibraryA("kernel_no_such_module.dll"), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetModuleHandleA("kernel_no_such_module"), nullptr);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x1234), nullptr, 0), 0u);
}

TEST(KernelModules, ReloadingAfterADisplayModeChangeSeesTheNewMode) {
    unload_dyn();
    for (int bpp : {32, 8, 4, 16}) {
        testhost::SetDepth(bpp);
        HMODULE h = LoadLibraryA("DynMod.dll");
        EXPECT_EQ(call(h, "dyn_bpp_at_attach"), bpp);
        EXPECT_TRUE(FreeLibrary(h));
    }
    EXPECT_EQ(std::string(kernel_test_log()),
              "dyn:attach dyn:detach dyn:attach dyn:detach dyn:attach dyn:detach "
              "dyn:attach dyn:detach");
    host::reset_display();
    kernel_test_log_clear();
}

TEST(KernelModules, LoadedModulesAreDetachedAtExitInReverseOrder) {
    EXPECT_EXIT(
        {
            unload_dyn();
            kernel_test_trace(1);
            LoadLibraryA("DynMod.dll");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "dyn:attach\ndyn:detach\nlinked:detach");
}
