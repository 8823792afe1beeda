// The global dither palette: created when the module is loaded on a display of 8 bits per pixel
// or fewer, deleted when it is unloaded, null otherwise. Its existence is the library's one
// switch between palette-display and true-colour behaviour. Internal to the library.
#pragma once

class CPalette;

extern CPalette* g_pDitherPalette;
