// What the files of CImageEx share: the door to its private fields, the steps every drawing
// operation takes first, ownership of objects shared between copies, the device-independent
// copies the effects work on, and the pixel loops. Not part of the exported interface.
#pragma once

#include <ImageEx.h>

// ---- Pixel loops (pixel_kernels.cpp) ---------------------------------------------------------
// Both work on two buffers of the same layout: `height` rows of `rowBytes` bytes, `width` pixels
// of `bpp` bits each (16: x-5-5-5 words; 24: B, G, R; 32: B, G, R, X). The frame is read, the
// destination is read and written. Depths other than 16, 24 and 32 are left alone. A key pixel
// is a frame pixel equal to `crKey` in the buffers' own format (at 16 bits the key reduced to
// five bits a channel); keys are looked for only when `bTransparent` is set.

// dest = frame + ((dest - frame) * nAlpha) >> 8 per channel (arithmetic shift), nAlpha already
// bounded to 0..256; key pixels keep the destination. At 32 bits the fourth byte of every mixed
// pixel becomes 0.
void MixAlphaRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                  int nAlpha, BOOL bTransparent, COLORREF crKey);

// dest = tint of the frame pixel's grey; at key pixels the destination stays, or with
// `bWithBack` becomes the tint of its own grey. crTint is 0x00BBGGRR (its high byte ignored).
// At 32 bits every written pixel gets a fourth byte of 0.
void ColorizeRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                  COLORREF crTint, BOOL bTransparent, BOOL bWithBack, COLORREF crKey);

// grey = (30 r + 59 g + 11 b) / 100, then each tint channel times grey / 255, as 0x00BBGGRR.
COLORREF TintOfGrey(int red, int green, int blue, COLORREF crTint);
