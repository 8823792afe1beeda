// The commands of the talvo program. Each takes the arguments after its name and returns the
// process exit code; errors go to standard error.
#pragma once

struct Command {
    const char* name;
    const char* usage;   // one line: arguments and options
    const char* summary; // one line: what it does
    int (*run)(int argc, char** argv);
};

// Why the last call failed, when it was for want of memory: the platform says so through
// GetLastError (ERROR_NOT_ENOUGH_MEMORY), the C library behind the library's own allocations
// through errno (ENOMEM). Clear both before the call with ClearFailureReason.
void ClearFailureReason();
bool FailedForMemory();

// Each command file defines one of these (declare it here as `extern const Command kNameCommand;`)
// and main.cpp lists it in kCommands.

extern const Command kCaptureCommand;
extern const Command kDemoCommand;
extern const Command kDitherCommand;
extern const Command kJpegCommand;
