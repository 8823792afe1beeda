// CBitmap::LoadBitmap: bitmap resources from the program's resource module chain.
#include <afxwin.h>

BOOL CBitmap::LoadBitmap(LPCTSTR lpszResourceName) {
    if (m_hObject != NULL || lpszResourceName == NULL) {
        return FALSE;
    }
    HINSTANCE module = AfxFindResourceHandle(lpszResourceName, RT_BITMAP);
    HBITMAP h = ::LoadBitmapA(module, lpszResourceName);
    if (h == NULL) {
        return FALSE;
    }
    if (!Attach(h)) {
        ::DeleteObject(h);
        return FALSE;
    }
    return TRUE;
}

BOOL CBitmap::LoadBitmap(UINT nIDResource) {
    return LoadBitmap(MAKEINTRESOURCE(nIDResource));
}
