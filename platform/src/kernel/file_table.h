// The table of open files. An HFILE is an int, and programs pass file handles between the
// CreateFileA family and the OpenFile/_l* family by casting, so every handle value must fit in
// 31 bits, which the generic table gives in a layout of its own.
#pragma once

#include "common/handle_table.h"

#include <windows.h>

#include <cstdint>

#include <sys/types.h>

namespace platform {

struct FileObject {
    int fd = -1;
    DWORD access = 0;
    DWORD share = 0;
    dev_t dev = 0;
    ino_t ino = 0;
};

// Bits 0..15 slot + 1, bits 16..23 generation, bits 24..30 the file tag (nothing above).
struct FileHandles {
    static constexpr std::uintptr_t kIndexMask = 0xFFFF;
    static constexpr unsigned kGenerationShift = 16;
    static constexpr std::uintptr_t kGenerationMask = 0xFF;
    static constexpr std::uintptr_t kTagMask = ~std::uintptr_t{0} >> 24;
    static constexpr std::size_t kMaxSlots = 0xFFFF;
};

// Full (insert returns 0) when 65535 files are open.
using FileTable = HandleTable<FileObject, FileHandles>;

} // namespace platform
