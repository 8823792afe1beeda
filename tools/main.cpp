// talvo: command-line front end of the library.
#include "commands.h"
#include "output_file.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const Command kCommands[] = {
    kCaptureCommand,
    kDemoCommand,
    kDitherCommand,
    kJpegCommand,
    {nullptr, nullptr, nullptr, nullptr},
};

void print_usage(std::FILE* out) {
    std::fprintf(out, "usage: talvo COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command& c : kCommands) {
        if (c.name != nullptr) {
            std::fprintf(out, "  talvo %s %s\n      %s\n", c.name, c.usage, c.summary);
        }
    }
    std::fprintf(out, "\n'talvo COMMAND --help' shows the options of a command.\n");
}

} // namespace

void ClearFailureReason() {
    SetLastError(ERROR_SUCCESS);
    errno = 0;
}

bool FailedForMemory() {
    return GetLastError() == ERROR_NOT_ENOUGH_MEMORY || errno == ENOMEM;
}

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        print_usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    InstallOutputSignalHandlers();
    for (const Command& c : kCommands) {
        if (c.name != nullptr && std::strcmp(c.name, argv[1]) == 0) {
            // Memory the platform cannot get fails its call; what the program's own containers
            // cannot get ends here, with the reason and no partial output.
            try {
                return c.run(argc - 2, argv + 2);
            } catch (const std::bad_alloc&) {
                std::fprintf(stderr, "talvo %s: out of memory\n", c.name);
                return 1;
            }
        }
    }
    std::fprintf(stderr, "talvo: unknown command '%s'\n", argv[1]);
    print_usage(stderr);
    return 2;
}
