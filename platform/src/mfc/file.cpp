// CFile and CFileException.
#include "afx_no_throw.h"
#include <afx.h>

#include <cstdio>
#include <cstring>

// Win32 error codes the cause mapping knows, for headers that do not define them all.
#ifndef ERROR_TOO_MANY_OPEN_FILES
#define ERROR_TOO_MANY_OPEN_FILES 4L
#endif
#ifndef ERROR_INVALID_ACCESS
#define ERROR_INVALID_ACCESS 12L
#endif
#ifndef ERROR_INVALID_DRIVE
#define ERROR_INVALID_DRIVE 15L
#endif
#ifndef ERROR_CURRENT_DIRECTORY
#define ERROR_CURRENT_DIRECTORY 16L
#endif
#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17L
#endif
#ifndef ERROR_WRITE_PROTECT
#define ERROR_WRITE_PROTECT 19L
#endif
#ifndef ERROR_NOT_READY
#define ERROR_NOT_READY 21L
#endif
#ifndef ERROR_CRC
#define ERROR_CRC 23L
#endif
#ifndef ERROR_SEEK
#define ERROR_SEEK 25L
#endif
#ifndef ERROR_WRITE_FAULT
#define ERROR_WRITE_FAULT 29L
#endif
#ifndef ERROR_READ_FAULT
#define ERROR_READ_FAULT 30L
#endif
#ifndef ERROR_SHARING_VIOLATION
#define ERROR_SHARING_VIOLATION 32L
#endif
#ifndef ERROR_LOCK_VIOLATION
#define ERROR_LOCK_VIOLATION 33L
#endif
#ifndef ERROR_HANDLE_EOF
#define ERROR_HANDLE_EOF 38L
#endif
#ifndef ERROR_HANDLE_DISK_FULL
#define ERROR_HANDLE_DISK_FULL 39L
#endif
#ifndef ERROR_FILE_EXISTS
#define ERROR_FILE_EXISTS 80L
#endif
#ifndef ERROR_CANNOT_MAKE
#define ERROR_CANNOT_MAKE 82L
#endif
#ifndef ERROR_DISK_FULL
#define ERROR_DISK_FULL 112L
#endif
#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123L
#endif
#ifndef ERROR_NEGATIVE_SEEK
#define ERROR_NEGATIVE_SEEK 131L
#endif
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267L
#endif
#ifndef ERROR_ALREADY_EXISTS
#define ERROR_ALREADY_EXISTS 183L
#endif
#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206L
#endif
#ifndef ERROR_OPEN_FAILED
#define ERROR_OPEN_FAILED 110L
#endif

// ---- CFileException --------------------------------------------------------------------------

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName) {}

void CFileException::Clear() {
    m_cause = none;
    m_lOsError = -1;
    m_strFileName.Empty();
}

int PASCAL CFileException::OsErrorToException(LONG lOsError) {
    switch (lOsError) {
    case ERROR_SUCCESS:
        return none;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_OPEN_FAILED:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_SAME_DEVICE:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
        return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
    case ERROR_WRITE_PROTECT:
    case ERROR_WRITE_FAULT:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_CANNOT_MAKE:
        return accessDenied;
    case ERROR_CURRENT_DIRECTORY:
        return removeCurrentDir;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
    case ERROR_READ_FAULT:
        return badSeek;
    case ERROR_NOT_READY:
    case ERROR_CRC:
        return hardIO;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_LOCK_VIOLATION:
        return lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
        return diskFull;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    default:
        return generic;
    }
}

void PASCAL CFileException::ThrowOsError(LONG lOsError, LPCTSTR lpszFileName) {
    AfxThrowFileException(OsErrorToException(lOsError), lOsError, lpszFileName);
}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    static const char* const kCauses[] = {
        "no error occurred",
        "an unspecified error occurred",
        "the file could not be located",
        "all or part of the path is invalid",
        "too many files are open",
        "access to the file was denied",
        "an invalid file handle was used",
        "the current directory cannot be removed",
        "the directory is full",
        "the file pointer was set to an illegal position",
        "a hardware I/O error occurred",
        "a sharing violation occurred",
        "a locking violation occurred",
        "the disk is full",
        "the end of the file was reached",
    };
    if (pnHelpContext != NULL) {
        *pnHelpContext = 0;
    }
    if (lpszError == NULL || nMaxError == 0) {
        return FALSE;
    }
    const char* cause = m_cause >= 0 && m_cause <= endOfFile ? kCauses[m_cause] : kCauses[generic];
    const char* name =
        m_strFileName.IsEmpty() ? "an unnamed file" : static_cast<LPCTSTR>(m_strFileName);
    std::snprintf(lpszError, nMaxError, "%s: %s.", name, cause);
    return TRUE;
}

void AFXAPI AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
    throw new CFileException(cause, lOsError, lpszFileName);
}

// ---- CFile -----------------------------------------------------------------------------------

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

namespace {

// Operations on a CFile that is not open fail as the system fails them for an invalid handle,
// without handing the system the value INVALID_HANDLE_VALUE (which Windows reads as the
// current process).
void require_open(const CFile& file) {
    if (file.m_hFile == CFile::hFileNull) {
        CFileException::ThrowOsError(ERROR_INVALID_HANDLE, file.m_strFileName);
    }
}

} // namespace

CFile::CFile() : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {}

CFile::CFile(HANDLE hFile) : m_hFile(hFile), m_bCloseOnDelete(FALSE) {}

CFile::CFile(LPCTSTR lpszFileName, UINT nOpenFlags) : CFile() {
    CFileException e;
    if (!Open(lpszFileName, nOpenFlags, &e)) {
        AfxThrowFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
    }
}

CFile::~CFile() {
    // A destructor must not throw: an error while closing is dropped, as Abort does.
    if (m_hFile != hFileNull && m_bCloseOnDelete) {
        Abort();
    }
}

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    // Out of memory, the open fails like any other (a generic cause, the system's error).
    const BOOL opened = afx_internal::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        if (pError != NULL) {
            pError->Clear();
            pError->m_strFileName = lpszFileName;
        }
        auto refuse = [&](int cause, LONG os_error) {
            if (pError != NULL) {
                pError->m_cause = cause;
                pError->m_lOsError = os_error;
            }
            return FALSE;
        };
        if (m_hFile != hFileNull) {
            return refuse(CFileException::generic, -1); // one open file per CFile
        }
        if (lpszFileName == NULL || *lpszFileName == '\0') {
            return refuse(CFileException::badPath, ERROR_PATH_NOT_FOUND);
        }
        // There is no text mode: every CFile is binary.
        nOpenFlags &= ~static_cast<UINT>(typeBinary | typeText);

        DWORD access = 0;
        switch (nOpenFlags & 3) {
        case modeRead:
            access = GENERIC_READ;
            break;
        case modeWrite:
            access = GENERIC_WRITE;
            break;
        case modeReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            return refuse(CFileException::generic, ERROR_INVALID_PARAMETER);
        }
        DWORD share = 0;
        switch (nOpenFlags & 0x70) {
        case shareCompat:
        case shareExclusive:
            share = 0;
            break;
        case shareDenyWrite:
            share = FILE_SHARE_READ;
            break;
        case shareDenyRead:
            share = FILE_SHARE_WRITE;
            break;
        case shareDenyNone:
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            break;
        default:
            return refuse(CFileException::generic, ERROR_INVALID_PARAMETER);
        }
        DWORD disposition = OPEN_EXISTING;
        if (nOpenFlags & modeCreate) {
            disposition = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
        }

        // The name first: once the file is open, nothing may fail any more.
        m_strFileName = lpszFileName;
        HANDLE h = ::CreateFileA(lpszFileName, access, share, NULL, disposition,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE) {
            const LONG error = static_cast<LONG>(::GetLastError());
            return refuse(CFileException::OsErrorToException(error), error);
        }
        m_hFile = h;
        m_bCloseOnDelete = TRUE;
        return TRUE;
    });
    if (!opened && pError != NULL && GetLastError() == ERROR_NOT_ENOUGH_MEMORY &&
        pError->m_cause == CFileException::none) {
        pError->m_cause = CFileException::generic;
        pError->m_lOsError = ERROR_NOT_ENOUGH_MEMORY;
    }
    return opened;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    if (nCount == 0) {
        return 0;
    }
    require_open(*this);
    if (lpBuf == NULL) {
        AfxThrowFileException(CFileException::generic, ERROR_INVALID_PARAMETER, m_strFileName);
    }
    DWORD read = 0;
    if (!::ReadFile(m_hFile, lpBuf, nCount, &read, NULL)) {
        CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
    }
    return static_cast<UINT>(read);
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount == 0) {
        return;
    }
    require_open(*this);
    if (lpBuf == NULL) {
        AfxThrowFileException(CFileException::generic, ERROR_INVALID_PARAMETER, m_strFileName);
    }
    DWORD written = 0;
    if (!::WriteFile(m_hFile, lpBuf, nCount, &written, NULL)) {
        CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
    }
    if (written != nCount) {
        AfxThrowFileException(CFileException::diskFull, -1, m_strFileName);
    }
}

LONG CFile::Seek(LONG lOff, UINT nFrom) {
    require_open(*this);
    if (nFrom > end) {
        AfxThrowFileException(CFileException::badSeek, ERROR_INVALID_PARAMETER, m_strFileName);
    }
    const DWORD pos = ::SetFilePointer(m_hFile, lOff, NULL, nFrom);
    if (pos == INVALID_SET_FILE_POINTER) {
        CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
    }
    return static_cast<LONG>(pos);
}

DWORD CFile::GetLength() const {
    require_open(*this);
    const DWORD size = ::GetFileSize(m_hFile, NULL);
    if (size == INVALID_FILE_SIZE) {
        CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
    }
    return size;
}

DWORD CFile::GetPosition() const {
    require_open(*this);
    const DWORD pos = ::SetFilePointer(m_hFile, 0, NULL, FILE_CURRENT);
    if (pos == INVALID_SET_FILE_POINTER) {
        CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
    }
    return pos;
}

void CFile::SetLength(DWORD dwNewLen) {
    // Without SetEndOfFile in the subset, a file can only grow: write zeros up to the length.
    const DWORD length = GetLength();
    if (dwNewLen < length) {
        AfxThrowNotSupportedException();
    }
    const DWORD pos = GetPosition();
    Seek(static_cast<LONG>(length), begin);
    static const char zeros[4096] = {};
    for (DWORD left = dwNewLen - length; left > 0;) {
        const UINT n = left < sizeof zeros ? static_cast<UINT>(left) : sizeof zeros;
        Write(zeros, n);
        left -= n;
    }
    Seek(static_cast<LONG>(pos), begin);
}

void CFile::Flush() {
    // Writes go straight to the system: there is nothing buffered here.
}

void CFile::Close() {
    BOOL ok = TRUE;
    if (m_hFile != hFileNull) {
        ok = ::CloseHandle(m_hFile);
    }
    const LONG error = ok ? 0 : static_cast<LONG>(::GetLastError());
    const CString name = m_strFileName;
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
    if (!ok) {
        CFileException::ThrowOsError(error, name);
    }
}

void CFile::Abort() {
    if (m_hFile != hFileNull) {
        ::CloseHandle(m_hFile);
        m_hFile = hFileNull;
    }
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
}

CString CFile::GetFileName() const {
    const int slash = [&] {
        int a = m_strFileName.ReverseFind('\\');
        int b = m_strFileName.ReverseFind('/');
        return a > b ? a : b;
    }();
    return m_strFileName.Mid(slash + 1);
}
