// Runtime-library functions that the Windows C runtime declares in stdlib.h and mbstring.h.
#pragma once

#include <windef.h>

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

extern "C" {
// Splits "d:\dir\name.ext" (either slash) into its parts; any output may be NULL.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
// Joins the parts; a missing separator or dot is added as the Windows runtime does.
void _makepath(char* path, const char* drive, const char* dir, const char* fname, const char* ext);
// Compares multibyte strings byte by byte as unsigned characters (single-byte code page).
int _mbscmp(const unsigned char* s1, const unsigned char* s2);
}
