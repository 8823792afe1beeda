// MFC subset: geometry, the GDI wrappers, device contexts, the resource module chain and
// message boxes, source-compatible with MFC 4.2 for the members talvo uses.
//
// Ownership. A wrapper owns the handle it created or was given with Attach: its destructor (or
// DeleteObject/DeleteDC) destroys that handle exactly once, and Detach gives the handle up
// without destroying it. A wrapper holds one handle at a time: Attach, and the Create* members,
// fail and create nothing when the wrapper already holds one, and Attach fails for a handle
// another wrapper already owns, so that no handle is ever destroyed twice.
//
// Temporary wrappers. FromHandle returns the owning wrapper when there is one. Otherwise it
// returns a temporary wrapper that does not own the handle: the same object for the same handle
// and class until the temporaries are deleted, which happens
//   - in AfxUnlockTempMaps when the lock count returns to 0 (an MFC program's idle processing
//     does AfxLockTempMaps/AfxUnlockTempMaps; a program without that loop may call the pair
//     itself between frames),
//   - in the DeleteTempMap members of CGdiObject, CDC, CWnd and CImageList,
//   - at process exit,
//   - and, for wrappers whose handle has been destroyed meanwhile, in a later FromHandle once
//     enough temporaries have piled up (so that a program that never idles does not grow).
// A temporary must not be deleted by its user; do not keep its pointer past those points.
// The wrappers returned by CDC::SelectObject, CDC::SelectPalette and CWnd::GetDC are
// FromHandle's.
#pragma once

#include <afx.h>

// ---- Geometry --------------------------------------------------------------------------------

class CSize;
class CPoint;
class CRect;

class CSize : public tagSIZE {
public:
    CSize() : tagSIZE{0, 0} {}
    CSize(int initCX, int initCY) : tagSIZE{initCX, initCY} {}
    CSize(SIZE initSize) : tagSIZE(initSize) {}
    CSize(POINT initPt) : tagSIZE{initPt.x, initPt.y} {}
    CSize(DWORD dwSize)
        : tagSIZE{static_cast<SHORT>(LOWORD(dwSize)), static_cast<SHORT>(HIWORD(dwSize))} {}

    BOOL operator==(SIZE size) const { return cx == size.cx && cy == size.cy; }
    BOOL operator!=(SIZE size) const { return !(*this == size); }
    // Exact-type overloads keep C++20's reversed comparisons unambiguous.
    BOOL operator==(const CSize& size) const { return cx == size.cx && cy == size.cy; }
    BOOL operator!=(const CSize& size) const { return !(*this == size); }
    void operator+=(SIZE size) {
        cx += size.cx;
        cy += size.cy;
    }
    void operator-=(SIZE size) {
        cx -= size.cx;
        cy -= size.cy;
    }
    CSize operator+(SIZE size) const { return CSize(cx + size.cx, cy + size.cy); }
    CSize operator-(SIZE size) const { return CSize(cx - size.cx, cy - size.cy); }
    CSize operator-() const { return CSize(-cx, -cy); }
    inline CPoint operator+(POINT point) const;
    inline CPoint operator-(POINT point) const;
    inline CRect operator+(const RECT* lpRect) const;
    inline CRect operator-(const RECT* lpRect) const;
};

class CPoint : public tagPOINT {
public:
    CPoint() : tagPOINT{0, 0} {}
    CPoint(int initX, int initY) : tagPOINT{initX, initY} {}
    CPoint(POINT initPt) : tagPOINT(initPt) {}
    CPoint(SIZE initSize) : tagPOINT{initSize.cx, initSize.cy} {}
    CPoint(DWORD dwPoint)
        : tagPOINT{static_cast<SHORT>(LOWORD(dwPoint)), static_cast<SHORT>(HIWORD(dwPoint))} {}

    void Offset(int xOffset, int yOffset) {
        x += xOffset;
        y += yOffset;
    }
    void Offset(POINT point) { Offset(point.x, point.y); }
    void Offset(SIZE size) { Offset(size.cx, size.cy); }
    BOOL operator==(POINT point) const { return x == point.x && y == point.y; }
    BOOL operator!=(POINT point) const { return !(*this == point); }
    BOOL operator==(const CPoint& point) const { return x == point.x && y == point.y; }
    BOOL operator!=(const CPoint& point) const { return !(*this == point); }
    void operator+=(SIZE size) { Offset(size); }
    void operator-=(SIZE size) { Offset(-size.cx, -size.cy); }
    void operator+=(POINT point) { Offset(point); }
    void operator-=(POINT point) { Offset(-point.x, -point.y); }
    CPoint operator+(SIZE size) const { return CPoint(x + size.cx, y + size.cy); }
    CPoint operator-(SIZE size) const { return CPoint(x - size.cx, y - size.cy); }
    CPoint operator-() const { return CPoint(-x, -y); }
    CPoint operator+(POINT point) const { return CPoint(x + point.x, y + point.y); }
    CSize operator-(POINT point) const { return CSize(x - point.x, y - point.y); }
    inline CRect operator+(const RECT* lpRect) const;
    inline CRect operator-(const RECT* lpRect) const;
};

// Rectangles follow Win32: right and bottom are outside; a rectangle is empty when its width
// or height is not positive. The set operations work on normalized input, as the USER
// functions they mirror do.
class CRect : public tagRECT {
public:
    CRect() : tagRECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : tagRECT{l, t, r, b} {}
    CRect(const RECT& srcRect) : tagRECT(srcRect) {}
    CRect(LPCRECT lpSrcRect) : tagRECT(*lpSrcRect) {}
    CRect(POINT point, SIZE size)
        : tagRECT{point.x, point.y, point.x + size.cx, point.y + size.cy} {}
    CRect(POINT topLeft, POINT bottomRight)
        : tagRECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y} {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint& TopLeft() { return *reinterpret_cast<CPoint*>(&left); }
    CPoint& BottomRight() { return *reinterpret_cast<CPoint*>(&right); }
    const CPoint& TopLeft() const { return *reinterpret_cast<const CPoint*>(&left); }
    const CPoint& BottomRight() const { return *reinterpret_cast<const CPoint*>(&right); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }

    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }

    BOOL IsRectEmpty() const { return left >= right || top >= bottom; }
    BOOL IsRectNull() const { return left == 0 && right == 0 && top == 0 && bottom == 0; }
    BOOL PtInRect(POINT point) const {
        return point.x >= left && point.x < right && point.y >= top && point.y < bottom;
    }

    void SetRect(int x1, int y1, int x2, int y2) {
        left = x1;
        top = y1;
        right = x2;
        bottom = y2;
    }
    void SetRect(POINT topLeft, POINT bottomRight) {
        SetRect(topLeft.x, topLeft.y, bottomRight.x, bottomRight.y);
    }
    void SetRectEmpty() { SetRect(0, 0, 0, 0); }
    void CopyRect(LPCRECT lpSrcRect) { *static_cast<RECT*>(this) = *lpSrcRect; }
    BOOL EqualRect(LPCRECT lpRect) const {
        return left == lpRect->left && top == lpRect->top && right == lpRect->right &&
               bottom == lpRect->bottom;
    }

    void InflateRect(int x, int y) {
        left -= x;
        top -= y;
        right += x;
        bottom += y;
    }
    void InflateRect(SIZE size) { InflateRect(size.cx, size.cy); }
    void InflateRect(LPCRECT lpRect) {
        left -= lpRect->left;
        top -= lpRect->top;
        right += lpRect->right;
        bottom += lpRect->bottom;
    }
    void InflateRect(int l, int t, int r, int b) {
        left -= l;
        top -= t;
        right += r;
        bottom += b;
    }
    void DeflateRect(int x, int y) { InflateRect(-x, -y); }
    void DeflateRect(SIZE size) { InflateRect(-size.cx, -size.cy); }
    void DeflateRect(LPCRECT lpRect) {
        left += lpRect->left;
        top += lpRect->top;
        right -= lpRect->right;
        bottom -= lpRect->bottom;
    }
    void DeflateRect(int l, int t, int r, int b) { InflateRect(-l, -t, -r, -b); }
    void NormalizeRect();

    void OffsetRect(int x, int y) {
        left += x;
        top += y;
        right += x;
        bottom += y;
    }
    void OffsetRect(SIZE size) { OffsetRect(size.cx, size.cy); }
    void OffsetRect(POINT point) { OffsetRect(point.x, point.y); }

    // Intersection and union as IntersectRect/UnionRect: an empty result is all zeros and
    // returns FALSE; empty inputs take no part in a union.
    BOOL IntersectRect(LPCRECT lpRect1, LPCRECT lpRect2);
    BOOL UnionRect(LPCRECT lpRect1, LPCRECT lpRect2);
    BOOL SubtractRect(LPCRECT lpRectSrc1, LPCRECT lpRectSrc2);

    CRect& operator=(const RECT& srcRect) {
        CopyRect(&srcRect);
        return *this;
    }
    BOOL operator==(const RECT& rect) const { return EqualRect(&rect); }
    BOOL operator!=(const RECT& rect) const { return !EqualRect(&rect); }
    BOOL operator==(const CRect& rect) const { return EqualRect(&rect); }
    BOOL operator!=(const CRect& rect) const { return !EqualRect(&rect); }
    void operator+=(POINT point) { OffsetRect(point); }
    void operator+=(SIZE size) { OffsetRect(size); }
    void operator+=(LPCRECT lpRect) { InflateRect(lpRect); }
    void operator-=(POINT point) { OffsetRect(-point.x, -point.y); }
    void operator-=(SIZE size) { OffsetRect(-size.cx, -size.cy); }
    void operator-=(LPCRECT lpRect) { DeflateRect(lpRect); }
    void operator&=(const RECT& rect) { IntersectRect(this, &rect); }
    void operator|=(const RECT& rect) { UnionRect(this, &rect); }

    CRect operator+(POINT pt) const {
        CRect r(*this);
        r.OffsetRect(pt);
        return r;
    }
    CRect operator-(POINT pt) const {
        CRect r(*this);
        r.OffsetRect(-pt.x, -pt.y);
        return r;
    }
    CRect operator+(SIZE size) const {
        CRect r(*this);
        r.OffsetRect(size);
        return r;
    }
    CRect operator-(SIZE size) const {
        CRect r(*this);
        r.OffsetRect(-size.cx, -size.cy);
        return r;
    }
    CRect operator+(LPCRECT lpRect) const {
        CRect r(*this);
        r.InflateRect(lpRect);
        return r;
    }
    CRect operator-(LPCRECT lpRect) const {
        CRect r(*this);
        r.DeflateRect(lpRect);
        return r;
    }
    CRect operator&(const RECT& rect2) const {
        CRect r;
        r.IntersectRect(this, &rect2);
        return r;
    }
    CRect operator|(const RECT& rect2) const {
        CRect r;
        r.UnionRect(this, &rect2);
        return r;
    }
};

inline CPoint CSize::operator+(POINT point) const {
    return CPoint(cx + point.x, cy + point.y);
}
inline CPoint CSize::operator-(POINT point) const {
    return CPoint(cx - point.x, cy - point.y);
}
inline CRect CSize::operator+(const RECT* lpRect) const {
    return CRect(lpRect) + *this;
}
inline CRect CSize::operator-(const RECT* lpRect) const {
    return CRect(lpRect) - *this;
}
inline CRect CPoint::operator+(const RECT* lpRect) const {
    return CRect(lpRect) + *this;
}
inline CRect CPoint::operator-(const RECT* lpRect) const {
    return CRect(lpRect) - *this;
}

// ---- GDI objects -------------------------------------------------------------------------------

class CDC;

class CGdiObject : public CObject {
public:
    CGdiObject() = default;
    // Destroys the object the wrapper owns (DeleteObject).
    ~CGdiObject() override;

    // The owning wrapper of hObject, or a temporary of the class that fits the object's type
    // (CBitmap, CBrush, CPalette, else CGdiObject); NULL for NULL.
    static CGdiObject* PASCAL FromHandle(HGDIOBJ hObject);
    static void PASCAL DeleteTempMap();

    // Takes ownership of hObject. FALSE for NULL or a handle that is not a live GDI object,
    // when this wrapper already holds a handle, or when another wrapper owns hObject.
    BOOL Attach(HGDIOBJ hObject);
    // Gives up ownership and returns the handle (NULL if none).
    HGDIOBJ Detach();
    // Destroys the owned object; FALSE if there is none or the system refuses (a bitmap still
    // selected into a DC), in which case the handle is detached but not destroyed, as in MFC.
    BOOL DeleteObject();

    operator HGDIOBJ() const { return m_hObject; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    int GetObject(int nCount, LPVOID lpObject) const;
    UINT GetObjectType() const;
    BOOL CreateStockObject(int nIndex);
    BOOL operator==(const CGdiObject& obj) const { return obj.m_hObject == m_hObject; }
    BOOL operator!=(const CGdiObject& obj) const { return obj.m_hObject != m_hObject; }

    HGDIOBJ m_hObject = NULL;
};

class CBitmap : public CGdiObject {
public:
    CBitmap() = default;

    static CBitmap* PASCAL FromHandle(HBITMAP hBitmap);

    // Resource bitmaps from the first module of the resource chain that has them.
    BOOL LoadBitmap(LPCTSTR lpszResourceName);
    BOOL LoadBitmap(UINT nIDResource);
    BOOL CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitcount, const void* lpBits);
    BOOL CreateBitmapIndirect(LPBITMAP lpBitmap);
    BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);

    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    int GetBitmap(BITMAP* pBitMap);
    DWORD SetBitmapBits(DWORD dwCount, const void* lpBits);
    DWORD GetBitmapBits(DWORD dwCount, LPVOID lpBits) const;
};

class CPalette : public CGdiObject {
public:
    CPalette() = default;

    static CPalette* PASCAL FromHandle(HPALETTE hPalette);

    BOOL CreatePalette(LPLOGPALETTE lpLogPalette);
    operator HPALETTE() const { return static_cast<HPALETTE>(m_hObject); }
    int GetEntryCount();
    UINT GetPaletteEntries(UINT nStartIndex, UINT nNumEntries,
                           LPPALETTEENTRY lpPaletteColors) const;
    UINT SetPaletteEntries(UINT nStartIndex, UINT nNumEntries, LPPALETTEENTRY lpPaletteColors);
    UINT GetNearestPaletteIndex(COLORREF crColor) const;
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    // These throw CResourceException* when the brush cannot be made, as in MFC.
    explicit CBrush(COLORREF crColor);
    explicit CBrush(CBitmap* pBitmap);

    static CBrush* PASCAL FromHandle(HBRUSH hBrush);

    BOOL CreateSolidBrush(COLORREF crColor);
    BOOL CreatePatternBrush(CBitmap* pBitmap);
    BOOL CreateBrushIndirect(const LOGBRUSH* lpLogBrush);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    int GetLogBrush(LOGBRUSH* pLogBrush);
};

// ---- Device contexts -------------------------------------------------------------------------

class CDC : public CObject {
public:
    CDC() = default;
    // Deletes the DC the wrapper owns (DeleteDC).
    ~CDC() override;

    static CDC* PASCAL FromHandle(HDC hDC);
    static void PASCAL DeleteTempMap();

    // Same rules as CGdiObject::Attach.
    BOOL Attach(HDC hDC);
    virtual HDC Detach();
    BOOL CreateCompatibleDC(CDC* pDC);
    BOOL DeleteDC();

    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

    int SaveDC();
    BOOL RestoreDC(int nSavedDC);
    int GetDeviceCaps(int nIndex) const;

    // Selection returns the wrapper of the object selected before (see FromHandle), or NULL when
    // the selection fails.
    CGdiObject* SelectStockObject(int nIndex);
    CBrush* SelectObject(CBrush* pBrush);
    CBitmap* SelectObject(CBitmap* pBitmap);
    CGdiObject* SelectObject(CGdiObject* pObject);
    static CGdiObject* PASCAL SelectGdiObject(HDC hDC, HGDIOBJ h);
    CPalette* SelectPalette(CPalette* pPalette, BOOL bForceBackground);
    UINT RealizePalette();
    COLORREF GetNearestColor(COLORREF crColor) const;

    COLORREF GetBkColor() const;
    virtual COLORREF SetBkColor(COLORREF crColor);
    int GetBkMode() const;
    int SetBkMode(int nBkMode);
    COLORREF GetTextColor() const;
    virtual COLORREF SetTextColor(COLORREF crColor);
    int GetStretchBltMode() const;
    int SetStretchBltMode(int nStretchMode);
    int GetMapMode() const;
    virtual int SetMapMode(int nMapMode);
    CPoint GetBrushOrg() const;
    CPoint SetBrushOrg(int x, int y);
    CPoint SetBrushOrg(POINT point) { return SetBrushOrg(point.x, point.y); }

    void FillRect(LPCRECT lpRect, CBrush* pBrush);
    // SetBkColor(clr) then an opaque ExtTextOutA over the rectangle: the DC's background colour
    // stays changed afterwards.
    void FillSolidRect(LPCRECT lpRect, COLORREF clr);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);
    BOOL PatBlt(int x, int y, int nWidth, int nHeight, DWORD dwRop);
    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                DWORD dwRop);
    BOOL StretchBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                    int nSrcWidth, int nSrcHeight, DWORD dwRop);
    COLORREF GetPixel(int x, int y) const;
    COLORREF GetPixel(POINT point) const { return GetPixel(point.x, point.y); }
    COLORREF SetPixel(int x, int y, COLORREF crColor);
    COLORREF SetPixel(POINT point, COLORREF crColor) { return SetPixel(point.x, point.y, crColor); }
    BOOL SetPixelV(int x, int y, COLORREF crColor);

    HDC m_hDC = NULL;
    HDC m_hAttribDC = NULL;
    BOOL m_bPrinting = FALSE;
};

// ---- Windows ---------------------------------------------------------------------------------

// Just enough of CWnd to name windows the MFC way: the handle, its wrappers and its DCs. The
// program creates its windows with the Win32 calls and wraps them with Attach or FromHandle.
class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    // Destroys the window the wrapper owns, as MFC does.
    ~CWnd() override;

    static CWnd* PASCAL FromHandle(HWND hWnd);
    static CWnd* PASCAL FromHandlePermanent(HWND hWnd);
    static void PASCAL DeleteTempMap();

    // Same rules as CGdiObject::Attach.
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    BOOL DestroyWindow();

    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }
    void GetWindowRect(LPRECT lpRect) const;
    void GetClientRect(LPRECT lpRect) const;
    // A temporary CDC for the window's client area or whole window; give it back with
    // ReleaseDC.
    CDC* GetDC();
    CDC* GetWindowDC();
    int ReleaseDC(CDC* pDC);

    HWND m_hWnd = NULL;
};

// The DC of a window's client area (GetDC), or of the whole screen for NULL; released on
// destruction. Construction throws CResourceException* when the system gives no DC.
class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd;
};

// The DC of a whole window (GetWindowDC), or of the screen for NULL.
class CWindowDC : public CDC {
public:
    explicit CWindowDC(CWnd* pWnd);
    ~CWindowDC() override;

protected:
    HWND m_hWnd;
};

// Temporary-map locking (see the top of this header).
void AFXAPI AfxLockTempMaps();
BOOL AFXAPI AfxUnlockTempMaps(BOOL bDeleteTemps = TRUE);

// ---- Modules, resources and message boxes ----------------------------------------------------

class CRuntimeClass;
class COleObjectFactory;

struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
    HMODULE hResource;
    CRuntimeClass* pFirstSharedClass;
    COleObjectFactory* pFirstSharedFactory;
};

// One extension module in the program's chain of resource modules. A new CDynLinkLibrary goes
// to the front of the chain, so later extension modules are searched first, as in MFC. It
// leaves the chain when deleted (AfxTermExtensionModule deletes those of its module).
class CDynLinkLibrary : public CCmdTarget {
public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
    CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource);
    ~CDynLinkLibrary() override;

    HMODULE m_hModule;
    HMODULE m_hResource;
    BOOL m_bSystem;
    CDynLinkLibrary* m_pNextDLL;
};

// Records the module's handle as its resource handle. FALSE for a NULL module. A module that
// was terminated with AfxTermExtensionModule may be initialized again (a module unloaded and
// loaded again comes back with its own handle).
BOOL AFXAPI AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);
// Deletes the module's CDynLinkLibrary objects (all of them with bAll).
void AFXAPI AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// The program's instance (GetModuleHandleA(NULL)) and its resource module (the instance unless
// set otherwise).
HINSTANCE AFXAPI AfxGetInstanceHandle();
HINSTANCE AFXAPI AfxGetResourceHandle();
void AFXAPI AfxSetResourceHandle(HINSTANCE hInstResource);

// The module that holds the resource: the program's resource module first, then the
// non-system extension modules in chain order, then the system ones. When none has it, the
// program's resource module, so that the load that follows fails there.
HINSTANCE AFXAPI AfxFindResourceHandle(LPCTSTR lpszName, LPCTSTR lpszType);
// Loads string nID into the buffer from the first module of the chain that has it; 0 (and an
// empty buffer) when none has.
int AFXAPI AfxLoadString(UINT nID, LPTSTR lpszBuf, UINT nMaxBuf = 256);

// The program's name: its file name without directory and extension. It is the caption of
// AfxMessageBox.
LPCTSTR AFXAPI AfxGetAppName();

// A message box with no owner window, the program's name as caption, and MFC's default icon
// when the type names none (exclamation for MB_OK and MB_OKCANCEL, question for the yes/no
// kinds). nIDHelp is accepted and unused: there is no help system.
int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));
