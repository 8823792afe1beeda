// CDitherDib: one image held in memory as a device-independent bitmap (header, colour table,
// rows), turned into a screen bitmap on demand. On 4- and 8-bit displays, images of more than
// 8 bits per pixel are reduced to one of the two fixed palettes by error diffusion first.
#pragma once

#include <afxwin.h>

#include "TalvoExport.h"

class CBitmap;
class CPalette;

class TALVO_EXT_CLASS CDitherDib {
public:
    CDitherDib();
    // Copies are deep: a copy owns its own header block and rows, so either object may be
    // emptied or destroyed without touching the other.
    CDitherDib(const CDitherDib& other);
    CDitherDib& operator=(const CDitherDib& other);
    virtual ~CDitherDib();

    // Each Create replaces what the object held; one that fails leaves it empty, except
    // Create(CBitmap*) given null, which returns 0 before touching the object.
    BOOL Create(UINT nIDResource);
    BOOL Create(LPCSTR lpszFileName);
    BOOL Create(CBitmap* pBitmap); // a DIB section; below 16 bits only on a palette display

    // A device-dependent bitmap for the screen, owned by the caller; null on failure.
    CBitmap* CreateBitmap(CPalette* pPalette);

    // A logical palette for the current 4- or 8-bit display, owned by the caller; null on a
    // display without a palette.
    static CPalette* CreateDitherPalette();

    static const RGBQUAD Win256Palette[256];
    static const RGBQUAD Win16Palette[16];

private:
    // One palette entry prepared for the nearest-colour search.
    struct imgPal {
        int index; // position in the unsorted palette
        BYTE red;
        BYTE green;
        BYTE blue;
        BYTE spare;
    };

    void Empty();
    void ComputeMetrics();
    BOOL CopyFrom(const CDitherDib& other);

    static void InitTransPal(imgPal* pal, int* redIndex, int count, const RGBQUAD* colours);
    static void QuickPalSort(imgPal* pal, int lo, int hi);
    static long ColorDist(const imgPal* pal, int red, int green, int blue, int i);
    static int Closest(const imgPal* pal, const int* redIndex, int count, int red, int green,
                       int blue);
    static BOOL LoadLookUpTable(WORD* table, int bitCount, int entries);

    static HGLOBAL DitherDIB(const BITMAPINFOHEADER* source, const BYTE* sourceBits, int bitCount);
    static HGLOBAL DibGlobalReAlloc(HGLOBAL block, DWORD size);
    static BOOL DitherImageEx(BYTE* destBits, const BITMAPINFOHEADER* dest, const BYTE* sourceBits,
                              const BITMAPINFOHEADER* source);

    // Process-wide tables of the nearest-colour search: built on the first dither and kept for
    // the life of the process (dither/dither_state.cpp).
    static imgPal s_sortedPal[256];
    static int s_redIndex[256];
    static int s_bSortedPal;
    static WORD s_lookUp[32768];
    static int s_bLookUpLoaded;

    DWORD m_dwSizeImage;
    BYTE* m_pBits;
    BITMAPINFOHEADER* m_pInfo;

    // The library's own tools and tests reach the engine through this one door.
    friend struct CDitherDibAccess;
};
