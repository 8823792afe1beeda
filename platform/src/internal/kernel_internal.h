// KERNEL services shared with the other platform layers (USER loads bitmaps from files and
// resources through these). Not part of the public headers.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// Win32 path to a path this host understands: backslashes become slashes.
std::string host_path(const char* win32_path);

// The running program's file and directory (without a trailing slash; "" if unknown).
std::string program_path();
// The directory of the running program, without a trailing slash ("" if unknown).
std::string program_directory();

// Reads a whole regular file through the host. False (with the Win32 last error set) when it
// cannot be opened or is larger than `max_size` bytes.
bool read_whole_file(const char* win32_path, std::vector<unsigned char>& out, std::size_t max_size);

// The string `id` of a module (NULL: the program) in the user's language, else US English,
// else the first language it has. False when the module has no such string.
bool find_string(HINSTANCE module, UINT id, std::u16string& out);

} // namespace platform
