// CWnd: window handles and their wrappers.
#include "handle_map.h"

#include <afxwin.h>

namespace {

struct WndTraits {
    using Handle = HWND;
    using Base = CWnd;
    static void assign(CWnd* w, HWND h) { w->m_hWnd = h; }
    static bool alive(HWND h) { return ::IsWindow(h) != FALSE; }
};

using WndMap = afx_internal::HandleMap<WndTraits>;

} // namespace

CWnd::~CWnd() {
    DestroyWindow();
}

CWnd* PASCAL CWnd::FromHandle(HWND hWnd) {
    return WndMap::instance().from_handle<CWnd>(hWnd);
}

CWnd* PASCAL CWnd::FromHandlePermanent(HWND hWnd) {
    return WndMap::instance().owner(hWnd);
}

void PASCAL CWnd::DeleteTempMap() {
    WndMap::instance().delete_temporaries();
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (hWndNew == NULL || m_hWnd != NULL || !::IsWindow(hWndNew)) {
        return FALSE;
    }
    if (!WndMap::instance().add_owner(hWndNew, this)) {
        return FALSE;
    }
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h != NULL) {
        WndMap::instance().remove_owner(h, this);
    }
    m_hWnd = NULL;
    return h;
}

BOOL CWnd::DestroyWindow() {
    if (m_hWnd == NULL) {
        return FALSE;
    }
    return ::DestroyWindow(Detach());
}

void CWnd::GetWindowRect(LPRECT lpRect) const {
    ::GetWindowRect(m_hWnd, lpRect);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    ::GetClientRect(m_hWnd, lpRect);
}

CDC* CWnd::GetDC() {
    return CDC::FromHandle(::GetDC(m_hWnd));
}

CDC* CWnd::GetWindowDC() {
    return CDC::FromHandle(::GetWindowDC(m_hWnd));
}

int CWnd::ReleaseDC(CDC* pDC) {
    if (pDC == NULL) {
        return 0;
    }
    return ::ReleaseDC(m_hWnd, pDC->m_hDC);
}
