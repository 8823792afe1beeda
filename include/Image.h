// CImage: an image strip, frames of equal size side by side in one bitmap, drawn one frame at a
// time onto MFC device contexts. Its display utilities, the BMP writer and the window capture are
// static and need no strip.
//
// A strip lives in one of two storage modes chosen by Create: bitmap mode keeps the frames in
// m_pBitmap (and the half-transparent checkerboard copy in m_pSemiBitmap); image-list mode moves
// them into m_pImageList (and m_pSemiImageList) and releases the bitmaps.
//
// Choices of this library where the behaviour is ours to decide:
//  - Frame counts of 0 or less are refused by Create with 0 (the strip left empty).
//  - Negative frame indices are refused with 0 by every drawing operation, before anything is
//    touched, exactly like an index not below the frame count: no operation reads outside the
//    strip bitmap.
//  - Copies share the source's objects (bitmaps, image lists, dithering object): a copy reports
//    the source's geometry, colour, mode and frames and draws the same pixels; each object is
//    deleted once, by the last strip that holds it (a process-wide count, image/lifecycle.cpp).
//    A Create or DeleteObject on one strip lets go of the shared objects and leaves the others'.
//  - DrawBitmapTransparent (one frame) returns 0 and draws nothing when one of its working
//    contexts cannot be created; a source selected into another DC, or a working bitmap that
//    cannot be made, draws nothing either, unreported (1).
#pragma once

#include <afxwin.h>

#include "TalvoExport.h"

class CDitherDib;
class CImageList;

class TALVO_EXT_CLASS CImage {
public:
    CImage();
    CImage(const CImage& other);
    CImage& operator=(const CImage& other);
    virtual ~CImage();

    // ---- Display utilities ---------------------------------------------------------------------
    // Bits per pixel of the screen (planes times bits per plane); 0 without a screen context.
    static int GetSystemBitCount();
    // 0 after a notice when the screen is narrower than 800 pixels; otherwise 1, with `rect`
    // set to the rectangle for the client's main window (nMode 1: the 790 x 574 layout).
    static int CheckResolutionAndColor(CRect& rect, int nMode);
    // "#RRGGBB" as a COLORREF; 0 for a text of any other form.
    static COLORREF GetColorFromHTMLFormat(CString strColor);

    // ---- BMP writer and capture ----------------------------------------------------------------
    // A zero-filled LocalAlloc'd BITMAPINFO (header and colour-table room) describing hBmp; the
    // caller frees it with LocalFree. NULL when the bitmap cannot be described.
    static PBITMAPINFO CreateBitmapInfoStruct(HBITMAP hBmp);
    // Writes hBmp as a BMP file through hDC, described by pbi; 1 on success, 0 on failure.
    static int CreateBMPFile(char* lpszFileName, PBITMAPINFO pbi, HBITMAP hBmp, HDC hDC);
    // Saves a window (or, with a null window, the screen) or a rectangle of it: an 8-bit BMP on a
    // 256-colour palette display, otherwise a JPEG. Rounds *lpRect to multiples of 4 in place.
    // Always 1.
    static int CaptureWindowToFile(HWND hWnd, RECT* lpRect, char* lpszFileName);

    // ---- Creation ------------------------------------------------------------------------------
    // Each returns 1 on success, 0 on failure (the strip then empty).
    int Create(UINT nIDResource, int nImageNum, COLORREF crTransparent, int bSemiTransparent,
               int bImageListMethod);
    int Create(const char* lpszResourceName, int nImageNum, COLORREF crTransparent,
               int bSemiTransparent, int bImageListMethod);
    int Create(CBitmap* pBitmap, int nImageNum, COLORREF crTransparent, int bSemiTransparent,
               int bImageListMethod);

    // ---- Accessors -----------------------------------------------------------------------------
    CSize& GetImageSize() { return m_sizeImage; }
    CSize& GetBitmapSize() { return m_sizeBitmap; }
    CBitmap* GetBitmap() { return m_pBitmap; }
    int GetImageNum() { return m_nImageNum; }
    BOOL IsReadySemiTransparent() { return m_pSemiImageList != nullptr ? 1 : 0; }
    BOOL IsImageListMethod() { return m_bImageListMethod; }

    // ---- Drawing onto the destination ----------------------------------------------------------
    // Each returns nonzero on success and 0 when a check fails (before anything is drawn).
    int Draw(CDC* pDC, int x, int y, int nImage);
    int Draw(CDC* pDC, int x, int y, const CPoint& size, int nSrcX, int nSrcY);
    int DrawTransparent(CDC* pDC, int x, int y, int nImage);
    int DrawSemiTransparent(CDC* pDC, int x, int y, int nImage);
    int DrawSelected(CDC* pDC, int x, int y, int nImage);
    int DrawFocused(CDC* pDC, int x, int y, int nImage);
    int DrawOnColor(CDC* pDC, int x, int y, int nImage, COLORREF crColor);

    // ---- Drawing over a background (composed off screen, one copy to the destination) ----------
    int DrawTransparentSetBackground(CDC* pDC, int x, int y, int nImage, CBitmap* pBackground,
                                     int nBkX, int nBkY);
    int DrawTransparentSetBkColor(CDC* pDC, int x, int y, int nImage, COLORREF crBack);
    int DrawSemiTransparentSetBackground(CDC* pDC, int x, int y, int nImage, CBitmap* pBackground,
                                         int nBkX, int nBkY);
    int DrawSemiTransparentSetBkColor(CDC* pDC, int x, int y, int nImage, COLORREF crBack);

    // ---- Blocking animations: every frame in turn, spinning `dwDelay` ms after each ------------
    int Animate(CDC* pDC, int x, int y, DWORD dwDelay);
    int AnimateTransparent(CDC* pDC, int x, int y, DWORD dwDelay);
    int AnimateTransparentSetBackground(CDC* pDC, int x, int y, CBitmap* pBackground, int nBkX,
                                        int nBkY, DWORD dwDelay);

protected:
    // Releases every owned object (dithering object, bitmaps, image lists); keeps the geometry.
    void DeleteObject();
    // Spins on GetTickCount until `dwMilliseconds` have passed (unsigned, wrap-safe).
    void Delay(DWORD dwMilliseconds);

    // Loaders: fill m_pBitmap / m_pSemiBitmap; nonzero on success.
    int LoadBitmap(UINT nIDResource);
    int LoadBitmap(const char* lpszResourceName);
    int LoadSemiBitmap(UINT nIDResource);
    int LoadSemiBitmap(const char* lpszResourceName);
    int CopyBitmap(CBitmap* pBitmap);
    int CopySemiBitmap(CBitmap* pBitmap);
    int SetImageInfo(int nImageNum, COLORREF crTransparent);

    // Image lists and the half-transparent strip.
    int CreateImageList();
    int CreateSemiImageList();
    int MakeSemiBitmap();

    // The colour-key blit: one frame of pBitmap, or the whole bitmap, drawn at (x, y) with
    // m_crTransparent keyed out. 0 for a null source or destination, otherwise 1 (but see the
    // choices above for the frame overload).
    int DrawBitmapTransparent(CBitmap* pBitmap, CDC* pDC, int x, int y, int nImage);
    int DrawBitmapTransparent(CBitmap* pBitmap, CDC* pDC, int x, int y);

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
