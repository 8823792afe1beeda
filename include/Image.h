// CImage: an image strip, frames of equal size side by side in one bitmap, drawn one frame at a
// time onto MFC device contexts. Its display utilities are static and need no strip.
#pragma once

#include <afxwin.h>

#include "TalvoExport.h"

class CDitherDib;
class CImageList;

class TALVO_EXT_CLASS CImage {
public:
    // Bits per pixel of the screen (planes times bits per plane); 0 without a screen context.
    static int GetSystemBitCount();
    // 0 after a notice when the screen is narrower than 800 pixels; otherwise 1, with `rect`
    // set to the rectangle for the client's main window (nMode 1: the 790 x 574 layout).
    static int CheckResolutionAndColor(CRect& rect, int nMode);
    // "#RRGGBB" as a COLORREF; 0 for a text of any other form.
    static COLORREF GetColorFromHTMLFormat(CString strColor);

protected:
    BOOL m_bImageListMethod;
    CDitherDib* m_pDitherDib;
    CBitmap* m_pBitmap;
    CBitmap* m_pSemiBitmap;
    CImageList* m_pImageList;
    CImageList* m_pSemiImageList;
    int m_nImageNum;
    COLORREF m_crTransparent;
    CSize m_sizeBitmap;
    CSize m_sizeImage;
};
