// What the files of CImageEx share: the door to its private fields, the steps every drawing
// operation takes first, ownership of objects shared between copies, the device-independent
// copies the effects work on, and the pixel loops. Not part of the exported interface.
#pragma once

#include <ImageEx.h>

#include "module/holder_table.h"

#include <cstdint>
#include <vector>

// ---- Shared ownership (shared_objects.cpp) -----------------------------------------------------
// Copies of a CImageEx hold the same palette, bitmaps and image list. The objects carry no count
// of their own, so the library keeps one table of how many extra holders each shared object has;
// every release goes through it and only the last holder deletes the object.

// The holders of the objects copies of a CImageEx share.
HolderTable& SharedHolders();

// Releases a GDI object the calling CImageEx holds (deleted when no other copy holds it) and
// clears the field.
template <class Handle> void ReleaseHeld(Handle& handle) {
    if (handle != nullptr) {
        if (SharedHolders().Drop(handle)) {
            DeleteObject(handle);
        }
        handle = nullptr;
    }
}
void ReleaseHeld(CImageList*& pImageList);

// ---- Animation slots (defined with the slot tables, animation_*.cpp) -------------------------
// The last step of CImageEx::Exit: frees every slot `pImage` still occupies, deleting its saved
// background, and stops the shared animation timer (whether `pImage` was animated or not).
void AnimationImageExit(CImageEx* pImage);

// ---- Steps shared by the drawing operations ----------------------------------------------------
struct CImageExAccess {
    // The steps every drawing operation takes first. Without the strip bitmap there is nothing
    // to draw (false). Otherwise a device of another depth than the bitmaps were last built or
    // drawn for has the strip read again from its file (a failed read keeps the old bitmaps).
    // Then `nImage` becomes the frame drawn: the last one for an index beyond it, frame 0 for a
    // negative one, never a column outside the strip. The frames counted are those the strip
    // bitmap holds as well: a failed Create stores its frame count but keeps the strip it had.
    static bool BeginDraw(CImageEx& image, HDC hDC, int& nImage) {
        if (image.m_hBitmap == nullptr) {
            return false;
        }
        const int bits = GetDeviceCaps(hDC, BITSPIXEL);
        if (bits != image.m_nSystemBitCount) {
            image.ReGetBitmapHandle(hDC);
            image.m_nSystemBitCount = bits;
        }
        int frames = image.m_nImageNum;
        BITMAP bm = {};
        if (image.m_nWidth > 0 && GetObjectA(image.m_hBitmap, sizeof(bm), &bm) != 0 &&
            bm.bmWidth / image.m_nWidth < frames) {
            frames = bm.bmWidth / image.m_nWidth;
        }
        if (nImage >= frames) {
            nImage = frames - 1;
        }
        if (nImage < 0) {
            nImage = 0;
        }
        return true;
    }
};

// Selects `hPalette` (when given) into `hDC` as a foreground palette and realizes it; the
// destructor selects the previous one back. Lives around the one transfer to the destination.
class DestinationPalette {
public:
    DestinationPalette(HDC hDC, HPALETTE hPalette) : m_hDC(hDC) {
        if (hPalette != nullptr) {
            m_hOld = SelectPalette(hDC, hPalette, FALSE);
            m_bSelected = true;
            RealizePalette(hDC);
        }
    }
    ~DestinationPalette() {
        if (m_bSelected) {
            SelectPalette(m_hDC, m_hOld, FALSE);
        }
    }
    DestinationPalette(const DestinationPalette&) = delete;
    DestinationPalette& operator=(const DestinationPalette&) = delete;

private:
    HDC m_hDC;
    HPALETTE m_hOld = nullptr;
    bool m_bSelected = false;
};

// Bytes of a row of `width` pixels of `bpp` bits, padded to a multiple of 4. The bit count is
// taken in 64 bits: at 32 bits a pixel it passes an int from 2^26 pixels on, and the reader
// takes strips up to 2^29 pixels wide (rows of 32 bits that fit an int).
inline int PaddedRowBytes(int bpp, int width) {
    return static_cast<int>(((std::int64_t{bpp} * width + 31) >> 3) & ~std::int64_t{3});
}

// ---- Device-independent copies for the effects (effect_copies.cpp) --------------------------
// One frame of the strip and the destination rectangle under it, each in a memory bitmap and
// read out as bottom-up rows in the strip bitmap's own depth, so that frame and destination
// pixels pair by byte offset. The effect rewrites `dest`; Finish writes it back into the copy of
// the destination and puts that on the device in one transfer.
class EffectCopies {
public:
    // Reads the frame at column sx of hStrip (w x h) and hDC's rectangle at (x, y). False when a
    // buffer or context could not be made; what was made is released by the destructor.
    bool Prepare(HDC hDC, HBITMAP hStrip, int x, int y, int sx, int w, int h);
    // Writes `dest` back and copies the rectangle to (x, y) of hDC, through hPalette when given.
    void Finish(HPALETTE hPalette);
    // Frees the buffers, then releases the destination copy, the frame copy and the strip's
    // context, in that order.
    ~EffectCopies();

    int bpp = 0;
    int rowBytes = 0;
    BYTE* frame = nullptr;
    BYTE* dest = nullptr;

private:
    struct Surface {
        HDC hDC = nullptr;
        HBITMAP hBitmap = nullptr;
        HGDIOBJ hOld = nullptr;
    };
    struct InfoWithTable {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256]; // room for what GetDIBits writes at 8 bits and fewer
    };

    HDC m_hTarget = nullptr;
    int m_x = 0, m_y = 0, m_w = 0, m_h = 0;
    Surface m_source, m_frame, m_dest;
    InfoWithTable m_info = {};
    HGLOBAL m_hFrameBits = nullptr;
    HGLOBAL m_hDestBits = nullptr;
};

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

// The loops come in sets: the portable one (plain per-pixel loops) and, where the processor has
// them, vector loops that give the same bytes (pixel_kernels_sse2.cpp, pixel_kernels_avx2.cpp,
// pixel_kernels_avx512.cpp).
// The two functions above run the active set, the widest the processor has, chosen once.
struct EffectKernels {
    const char* name;
    decltype(&MixAlphaRows) mixAlpha;
    decltype(&ColorizeRows) colorize;
};
const EffectKernels& PortableEffectKernels();
const EffectKernels* VectorEffectKernels(); // SSE2; null where there are none
const EffectKernels* Avx2EffectKernels();   // null where the processor has no AVX2
const EffectKernels* Avx512EffectKernels(); // null without AVX-512 F and BW
// Every set this processor can run, the portable one first and the active one last.
std::vector<const EffectKernels*> EffectKernelSets();
const EffectKernels& ActiveEffectKernels();

// How a vector set walks the rows: `vectorRow(frame, dest, n)` over the first pixels of each row
// that fill whole registers of `step` pixels, `tailRow` (the same call's portable loop) over the
// rest. Depths other than 16 and 32 go to `tailRow` whole.
template <class VectorRow, class TailRow>
void WalkRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes, int step,
              const VectorRow& vectorRow, const TailRow& tailRow) {
    if (bpp != 32 && bpp != 16) {
        tailRow(frame, dest, width, height);
        return;
    }
    const int bytes = bpp / 8;
    const int vector = width - width % step;
    for (int y = 0; y < height; ++y) {
        const BYTE* f = frame + static_cast<size_t>(y) * rowBytes;
        BYTE* d = dest + static_cast<size_t>(y) * rowBytes;
        vectorRow(f, d, vector);
        if (vector < width) {
            tailRow(f + vector * bytes, d + vector * bytes, width - vector, 1);
        }
    }
}

// grey = (30 r + 59 g + 11 b) / 100, then each tint channel times grey / 255, as 0x00BBGGRR.
COLORREF TintOfGrey(int red, int green, int blue, COLORREF crTint);
