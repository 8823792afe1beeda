// CException and the simple exception classes.
#include <afxwin.h>

#include <cstring>
#include <new>

namespace {

// Set by CException::operator new for the constructor that runs right after it, so that an
// exception knows whether Delete() may free it.
thread_local bool constructing_on_heap = false;

BOOL copy_message(LPTSTR lpszError, UINT nMaxError, const char* text) {
    if (lpszError == NULL || nMaxError == 0) {
        return FALSE;
    }
    std::size_t n = std::strlen(text);
    if (n >= nMaxError) {
        n = nMaxError - 1;
    }
    std::memcpy(lpszError, text, n);
    lpszError[n] = '\0';
    return TRUE;
}

} // namespace

void* CException::operator new(std::size_t size) {
    void* p = ::operator new(size);
    constructing_on_heap = true;
    return p;
}

void* CException::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    void* p = ::operator new(size, std::nothrow);
    constructing_on_heap = p != nullptr;
    return p;
}

void CException::operator delete(void* p) noexcept {
    ::operator delete(p);
}

void CException::operator delete(void* p, const std::nothrow_t&) noexcept {
    ::operator delete(p);
}

CException::CException() : CException(TRUE) {}

CException::CException(BOOL bAutoDelete)
    : m_bAutoDelete(bAutoDelete), m_bOnHeap(constructing_on_heap) {
    constructing_on_heap = false;
}

void CException::Delete() {
    if (m_bAutoDelete && m_bOnHeap) {
        delete this;
    }
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext != NULL) {
        *pnHelpContext = 0;
    }
    copy_message(lpszError, nMaxError, "");
    return FALSE;
}

BOOL CMemoryException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext != NULL) {
        *pnHelpContext = 0;
    }
    return copy_message(lpszError, nMaxError, "Out of memory.");
}

BOOL CResourceException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext != NULL) {
        *pnHelpContext = 0;
    }
    return copy_message(lpszError, nMaxError, "A required resource was unavailable.");
}

BOOL CNotSupportedException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                             UINT* pnHelpContext) {
    if (pnHelpContext != NULL) {
        *pnHelpContext = 0;
    }
    return copy_message(lpszError, nMaxError, "An unsupported operation was attempted.");
}

void AFXAPI AfxThrowMemoryException() {
    throw new CMemoryException;
}
void AFXAPI AfxThrowResourceException() {
    throw new CResourceException;
}
void AFXAPI AfxThrowNotSupportedException() {
    throw new CNotSupportedException;
}
