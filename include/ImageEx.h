// CImageEx: an effect image. One strip of equally wide frames read from a BMP file by the
// library's own reader, kept as a bitmap compatible with the screen (and, in image-list mode, as
// an image list), drawn one frame at a time onto a raw HDC: plainly, with a colour key,
// alpha-blended or colorized, and played as a looping animation in a numbered slot driven by one
// shared 10 ms timer. The object remembers its file and reads it again whenever it is asked to
// draw on a device whose colour depth differs from the one its bitmaps were built for.
//
// Choices of this library where the behaviour is ours to decide:
//  - The reader takes uncompressed files (BI_RGB) with a 40-byte information header, a positive
//    width and height (bottom-up rows), 1, 4, 8, 16, 24 or 32 bits per pixel, at least one
//    pixel column per frame, and pixel rows that lie entirely inside the file. 8-bit files whose
//    biClrUsed exceeds 256 are refused, as are sizes whose rows (at any depth up to 32 bits) do
//    not fit in 2^31 bytes. Every refusal returns 0 before anything of the object changes.
//  - Loading is all or nothing: the new palette and bitmaps are built first and replace the old
//    ones only when all of them were made, so a failed Create or depth-change reload leaves the
//    previous strip drawable. (A failed image-list build after a good load still returns 0 with
//    the new bitmaps in place and no list.)
//  - A path of 260 characters or more does not fit m_szFileName: Create stores the window,
//    frame count, key and mode, leaves m_szFileName as it was and returns 0.
//  - A negative frame index draws frame 0 (an index not below the frame count draws the last
//    frame), so no operation reads outside the strip. The last frame is the last the strip
//    holds: after a failed Create the frame count is the new one, the strip still the old.
//  - Tint colours are taken as 0x00BBGGRR: the high byte of crColor is ignored.
//  - In image-list mode without an image list (its build failed) Draw and DrawTransparent
//    return 0 and draw nothing.
//  - Copies share the source's palette, bitmaps and image list (every field is copied as it
//    is). Ownership of shared objects is counted outside the object, in one table of the
//    library: an object is released only by the last CImageEx that holds it, whether it goes
//    through destruction, assignment or a reload.
//  - Destroying a CImageEx that still plays in animation slots frees those slots (their saved
//    backgrounds included) before the shared animation timer is stopped.
//  - Animation: Windows numbers a windowless timer itself, so the shared timer is known by the
//    identifier SetTimer returned, and that one is stopped. A negative slot count is refused
//    (0). TerminateAnimation with slots still running stops them first, deleting their saved
//    backgrounds and stopping the timer. In the modes below 11 a frame is composed on black.
#pragma once

#include <afxwin.h>

#include "TalvoExport.h"

class CImageList;

class TALVO_EXT_CLASS CImageEx {
public:
    CImageEx();
    CImageEx(const CImageEx& other);
    CImageEx& operator=(const CImageEx& other);
    virtual ~CImageEx();

    // Reads `lpszFileName` as a strip of nImageNum frames (1 when nImageNum < 1) with the colour
    // key crTransparent; in image-list mode also builds the image list. bSemiTransparent is not
    // used. The window, name, frame count, key and mode are stored even when loading fails.
    // 1 on success, 0 on failure.
    int Create(HWND hWnd, const char* lpszFileName, int nImageNum, COLORREF crTransparent,
               int bSemiTransparent, int bImageListMethod);

    // ---- Plain and colour-key drawing: 0 when nothing is loaded -------------------------------
    int Draw(HDC hDC, int x, int y, int nImage);
    int DrawTransparent(HDC hDC, int x, int y, int nImage);

    // ---- Alpha drawing: nAlpha is the destination's share in 256ths (0 frame, 256 destination).
    // 1 when mixed; 0 when nothing is loaded or, on a palette device, after drawing unmixed.
    int DrawAlpha(HDC hDC, int x, int y, int nImage, int nAlpha);
    int DrawAlphaTransparent(HDC hDC, int x, int y, int nImage, int nAlpha);

    // ---- Colorize drawing: the frame's grey levels times the tint crColor. 0 when nothing is
    // loaded, otherwise 1.
    int DrawColorize(HDC hDC, int x, int y, int nImage, COLORREF crColor);
    int DrawColorizeTransparent(HDC hDC, int x, int y, int nImage, COLORREF crColor);
    int DrawColorizeWithBack(HDC hDC, int x, int y, int nImage, COLORREF crColor);

    // ---- Timed animation in the slots of InitializeAnimation ---------------------------------
    // 1 when the slot was free and the animation started; 0 otherwise (an occupied slot only
    // takes the new position and parameter).
    int PlayAni(int nSlot, int nInterval, HWND hWnd, int x, int y, int nMode, int nParam);
    // 1 when a running animation was stopped.
    int StopAni(int nSlot);
    // Draws the slot's next frame with this object's strip.
    void DrawAnimation(int nSlot);

private:
    friend struct CImageExAccess; // the library's shared steps (imageex/imageex_internal.h)
    friend struct CImageExProbe;  // tests read the fields through it

    void Init();
    void Exit();
    int HelpCreate(const char* lpszFileName);
    int ReGetBitmapHandle(HDC hDC);
    int CreateImageList();

    int HelpDraw(HDC hDC, HPALETTE hPalette, int x, int y, int nImage);
    int HelpDrawTransparent(HDC hDC, HPALETTE hPalette, int x, int y, int nImage);
    int HelpDrawAlpha(HDC hDC, int x, int y, int nImage, int nAlpha, int bTransparent);
    int HelpDrawColorize(HDC hDC, int x, int y, int nImage, COLORREF crColor, int bTransparent,
                         int bWithBack);

    HPALETTE m_hPalette;         // from the file's colour table, or the system palette
    HBITMAP m_hBitmap;           // the whole strip, compatible with the screen
    HBITMAP m_hImageListBitmap;  // image-list mode: the copy handed to the image list
    int m_nWidth;                // frame width: file width / m_nImageNum
    int m_nHeight;               // frame (and file) height
    int m_nImageNum;             // frames, at least 1
    COLORREF m_crTransparent;    // colour key
    int m_nBitCount;             // bits per pixel of the file last read
    int m_nWidthBytes;           // bytes of one frame row at the file's depth, DWORD-aligned
    int m_nSystemBitCount;       // depth the bitmaps were last built or drawn for
    CImageList* m_pImageList;    // image-list mode: frame k is image k
    BOOL m_bImageListMethod;     // draw through m_pImageList instead of blitting m_hBitmap
    HWND m_hWnd;                 // recorded only
    char m_szFileName[MAX_PATH]; // read again when the display depth changes
};

// Creates the process-wide animation slot table with nCount slots: 1 on success, 0 when a
// table already exists, nCount is negative or memory runs out.
extern "C" TALVO_API int InitializeAnimation(int nCount);
// Removes the slot table: 1 on success, 0 when there is none.
extern "C" TALVO_API int TerminateAnimation();
