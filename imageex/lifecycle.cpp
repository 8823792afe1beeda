// CImageEx construction, copies, release, Create and the reload from the remembered file.
#include "imageex_internal.h"

#include <afxcmn.h>

#include <cstring>

CImageEx::CImageEx() {
    Init();
    m_nBitCount = 0;
    m_szFileName[0] = '\0';
}

// A copy holds the source's objects too; the shared-ownership table counts it, so that neither
// object deletes what the other still draws with.
CImageEx::CImageEx(const CImageEx& other) {
    Init();
    m_nBitCount = 0;
    m_szFileName[0] = '\0';
    *this = other;
}

CImageEx& CImageEx::operator=(const CImageEx& other) {
    if (this == &other) {
        return *this;
    }
    // Let go of our own objects first (the table deletes those no copy holds), then hold the
    // source's. Animation slots and the timer are not touched.
    ReleaseHeld(m_hPalette);
    ReleaseHeld(m_hBitmap);
    ReleaseHeld(m_hImageListBitmap);
    ReleaseHeld(m_pImageList);
    m_hPalette = SharedHolders().Hold(other.m_hPalette);
    m_hBitmap = SharedHolders().Hold(other.m_hBitmap);
    m_hImageListBitmap = SharedHolders().Hold(other.m_hImageListBitmap);
    m_nWidth = other.m_nWidth;
    m_nHeight = other.m_nHeight;
    m_nImageNum = other.m_nImageNum;
    m_crTransparent = other.m_crTransparent;
    m_nBitCount = other.m_nBitCount;
    m_nWidthBytes = other.m_nWidthBytes;
    m_nSystemBitCount = other.m_nSystemBitCount;
    m_pImageList = SharedHolders().Hold(other.m_pImageList);
    m_bImageListMethod = other.m_bImageListMethod;
    m_hWnd = other.m_hWnd;
    std::memcpy(m_szFileName, other.m_szFileName, sizeof(m_szFileName));
    return *this;
}

CImageEx::~CImageEx() {
    Exit();
}

void CImageEx::Init() {
    m_hPalette = nullptr;
    m_hBitmap = nullptr;
    m_hImageListBitmap = nullptr;
    m_nWidth = 0;
    m_nHeight = 0;
    m_nImageNum = 1;
    m_crTransparent = 0;
    m_nWidthBytes = 0;
    m_nSystemBitCount = 0;
    m_pImageList = nullptr;
    m_bImageListMethod = 0;
    m_hWnd = nullptr;
}

void CImageEx::Exit() {
    ReleaseHeld(m_hPalette);
    ReleaseHeld(m_hBitmap);
    ReleaseHeld(m_hImageListBitmap);
    ReleaseHeld(m_pImageList);
    AnimationImageExit(this);
}

int CImageEx::Create(HWND hWnd, const char* lpszFileName, int nImageNum, COLORREF crTransparent,
                     int /*bSemiTransparent*/, int bImageListMethod) {
    m_hWnd = hWnd;
    // A path that does not fit the field (259 characters and the NUL) is refused, the name held
    // so far kept, rather than cut to a different file.
    const bool bNameFits = lpszFileName != nullptr &&
                           strnlen(lpszFileName, sizeof(m_szFileName)) < sizeof(m_szFileName);
    if (bNameFits) {
        std::strcpy(m_szFileName, lpszFileName);
    }
    m_nImageNum = nImageNum > 0 ? nImageNum : 1;
    m_crTransparent = crTransparent;
    m_bImageListMethod = bImageListMethod;
    if (!bNameFits) {
        return 0;
    }
    return HelpCreate(lpszFileName);
}

// The device context is not used: the bitmaps are always rebuilt against the screen.
int CImageEx::ReGetBitmapHandle(HDC /*hDC*/) {
    if (m_hBitmap == nullptr) {
        return 0;
    }
    return HelpCreate(m_szFileName);
}
