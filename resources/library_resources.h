// The library's own resources: the notice strings 11001 and 11002 in five languages and the
// 8 x 8 pattern bitmap 11101. On Windows they come from talvo.rc; on the portable platform the
// module entry adds them to its module through the host.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

struct LibraryString {
    UINT id;
    LANGID language;
    const char* utf8;
};

// Every string of the table, in every language it exists in.
extern const LibraryString kLibraryStrings[];
extern const std::size_t kLibraryStringCount;

constexpr UINT kPatternBitmapId = 11101;

// The pattern bitmap as the bytes of a BMP file: 8 x 8 at 8 bits, bottom-up, 256 colour entries
// of which entry 0 is pure green and entry 1 pure red; red where x + y is even counting from the
// top-left pixel.
std::vector<BYTE> PatternBitmapFile();

#ifndef _WIN32
void AddLibraryResources(HMODULE module);
#endif
