// Where the running program lives: its directory is the first place OpenFile looks, and its
// path is what GetModuleFileNameA(NULL) reports.
#include "internal/kernel_internal.h"

#include <string>

#include <unistd.h>

namespace platform {

std::string program_path() {
    static const std::string path = [] {
        char buf[4096];
        ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }();
    return path;
}

std::string program_directory() {
    const std::string path = program_path();
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace platform
