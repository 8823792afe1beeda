#include "test_modules.h"

#include <windows.h>
#include <platform/host.h>

#include <cstdio>
#include <string>

namespace {

std::string& log() {
    static std::string* s = new std::string();
    return *s;
}
int fail_next = 0;
int tracing = 0;

BOOL WINAPI linked_entry(HINSTANCE, DWORD reason, LPVOID) {
    kernel_test_log_append(reason == DLL_PROCESS_ATTACH ? "linked:attach" : "linked:detach");
    return TRUE;
}

[[maybe_unused]] const HMODULE registered = host::register_module("Linked.dll", linked_entry);

} // namespace

extern "C" const char* kernel_test_log() {
    return log().c_str();
}
extern "C" void kernel_test_log_append(const char* event) {
    if (!log().empty()) {
        log() += ' ';
    }
    log() += event;
    if (tracing) {
        std::fprintf(stderr, "%s\n", event);
    }
}
extern "C" void kernel_test_log_clear() {
    log().clear();
}
extern "C" void kernel_test_fail_next_attach(int fail) {
    fail_next = fail;
}
extern "C" int kernel_test_should_fail_attach() {
    return fail_next;
}
extern "C" void kernel_test_trace(int on) {
    tracing = on;
}
extern "C" int kernel_test_tracing() {
    return tracing;
}
