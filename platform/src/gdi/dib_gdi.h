// What the DIB calls of the GDI layer share: turning a checked DIB description into colours a
// DC can draw, and the bitmap layout a description stands for.
#pragma once

#include "internal/dib_internal.h"
#include "internal/gdi_internal.h"

namespace platform::gdi {

// With DIB_PAL_COLORS the table holds indices into the DC's selected palette: look them up so
// that the rest of the code sees colours only. An index past the palette shows entry 0.
void resolve_palette_colors(dib::DibInfo& info, const Dc* dc);

// Straight conversions between common layouts (on unless a test compares them with the general
// colour-by-colour path).
extern bool dib_fast_paths;

// The pixel format of a DIB section of this description.
const PixelFormat& section_format(const dib::DibInfo& info);

} // namespace platform::gdi
