// The door through which the library's own tools and tests reach the private engine of
// CDitherDib: the nearest-colour search, the lookup table, the dithering and the held image.
// Not part of the exported interface.
#pragma once

#include <DitherDib.h>

struct CDitherDibAccess {
    using imgPal = CDitherDib::imgPal;

    static void InitTransPal(imgPal* pal, int* redIndex, int count, const RGBQUAD* colours) {
        CDitherDib::InitTransPal(pal, redIndex, count, colours);
    }
    static void QuickPalSort(imgPal* pal, int lo, int hi) { CDitherDib::QuickPalSort(pal, lo, hi); }
    static long ColorDist(const imgPal* pal, int red, int green, int blue, int i) {
        return CDitherDib::ColorDist(pal, red, green, blue, i);
    }
    static int Closest(const imgPal* pal, const int* redIndex, int count, int red, int green,
                       int blue) {
        return CDitherDib::Closest(pal, redIndex, count, red, green, blue);
    }
    static BOOL LoadLookUpTable(WORD* table, int bitCount, int entries) {
        return CDitherDib::LoadLookUpTable(table, bitCount, entries);
    }
    static HGLOBAL DitherDIB(const BITMAPINFOHEADER* source, const BYTE* sourceBits, int bitCount) {
        return CDitherDib::DitherDIB(source, sourceBits, bitCount);
    }
    static HGLOBAL DibGlobalReAlloc(HGLOBAL block, DWORD size) {
        return CDitherDib::DibGlobalReAlloc(block, size);
    }
    static BOOL DitherImageEx(BYTE* destBits, const BITMAPINFOHEADER* dest, const BYTE* sourceBits,
                              const BITMAPINFOHEADER* source) {
        return CDitherDib::DitherImageEx(destBits, dest, sourceBits, source);
    }

    // The process-wide tables, as the first dither of the process left them.
    static const imgPal* SortedPalette() { return CDitherDib::s_sortedPal; }
    static const int* RedIndex() { return CDitherDib::s_redIndex; }
    static bool SortedPaletteBuilt() { return CDitherDib::s_bSortedPal != 0; }
    static WORD* LookUpCache() { return CDitherDib::s_lookUp; }
    static bool LookUpLoaded() { return CDitherDib::s_bLookUpLoaded != 0; }

    // Forgets the sorted palette and the lookup cache, so that the next dither starts as the
    // first one of a new process would.
    static void ForgetProcessTables() {
        CDitherDib::s_bSortedPal = 0;
        CDitherDib::s_bLookUpLoaded = 0;
    }

    // The image a successful Create holds.
    static const BITMAPINFOHEADER* Info(const CDitherDib& dib) { return dib.m_pInfo; }
    static const BYTE* Bits(const CDitherDib& dib) { return dib.m_pBits; }
    static DWORD SizeImage(const CDitherDib& dib) { return dib.m_dwSizeImage; }
};
