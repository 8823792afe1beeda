// Two small modules for the loader tests. "Linked.dll" is linked into the test program, so it
// attaches before main(); "DynMod.dll" (libdynmod.so) is only ever loaded with LoadLibraryA.
// Both write what their entry points see into one log.
#pragma once

extern "C" {
// The entry calls seen so far, as "name:event" words separated by spaces.
const char* kernel_test_log();
void kernel_test_log_append(const char* event);
void kernel_test_log_clear();
// Makes the next attach of DynMod.dll fail.
void kernel_test_fail_next_attach(int fail);
int kernel_test_should_fail_attach();
// Entry calls are also written to standard error while this is set (for the exit test).
void kernel_test_trace(int on);
int kernel_test_tracing();
}
