// MFC core subset: CObject, the exception classes, CString and CFile, source-compatible with
// MFC 4.2 for the members talvo uses. Built only on the public Win32 API, so the same source
// compiles against this platform's headers and against the real Windows headers.
//
// Threads: like MFC's own maps and module state, everything here belongs to the user-interface
// thread; nothing is locked.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <new>
#include <string>

#ifndef AFXAPI
#define AFXAPI
#endif
#ifndef AFX_CDECL
#define AFX_CDECL
#endif
#ifndef PASCAL
#define PASCAL
#endif

#if defined(__GNUC__)
#define AFX_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define AFX_PRINTF_LIKE(fmt, args)
#endif

class CString;

// ---- CObject ---------------------------------------------------------------------------------

// The root of the class tree. Objects are not copyable, as in MFC.
class CObject {
public:
    virtual ~CObject() = default;

    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

protected:
    CObject() = default;
};

// A CObject that can receive commands in MFC; here only the base of CDynLinkLibrary.
class CCmdTarget : public CObject {
public:
    CCmdTarget() = default;
};

// ---- Exceptions ------------------------------------------------------------------------------

// MFC throws exceptions as pointers to heap objects; the catcher calls Delete() when done.
// Delete() frees only exceptions made with new: one constructed on the stack (for example the
// CFileException given to CFile::Open) ignores it, so calling it is never a double free.
class CException : public CObject {
public:
    CException();
    explicit CException(BOOL bAutoDelete);
    ~CException() override = default;

    void Delete();

    // Writes a description into lpszError (always terminated when nMaxError > 0).
    virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL);
    // Shows the description in a message box (AfxMessageBox) and returns the answer.
    virtual int ReportError(UINT nType = MB_OK, UINT nMessageID = 0);

    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void* p) noexcept;
    static void operator delete(void* p, const std::nothrow_t&) noexcept;
    static void operator delete(void*, void*) noexcept {}

protected:
    BOOL m_bAutoDelete;

private:
    bool m_bOnHeap; // made by CException::operator new
};

class CMemoryException : public CException {
public:
    CMemoryException() = default;
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;
};

class CResourceException : public CException {
public:
    CResourceException() = default;
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;
};

class CNotSupportedException : public CException {
public:
    CNotSupportedException() = default;
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;
};

[[noreturn]] void AFXAPI AfxThrowMemoryException();
[[noreturn]] void AFXAPI AfxThrowResourceException();
[[noreturn]] void AFXAPI AfxThrowNotSupportedException();

// The exception macros of MFC, over C++ exceptions. As in MFC, an exception caught by
// CATCH/AND_CATCH/CATCH_ALL is deleted at the end of its handler unless THROW_LAST() passes it
// on; code written with plain try/catch calls Delete() itself.
struct AFX_EXCEPTION_LINK {
    CException* m_pException = nullptr;
    AFX_EXCEPTION_LINK() = default;
    AFX_EXCEPTION_LINK(const AFX_EXCEPTION_LINK&) = delete;
    AFX_EXCEPTION_LINK& operator=(const AFX_EXCEPTION_LINK&) = delete;
    ~AFX_EXCEPTION_LINK() {
        if (m_pException != nullptr) {
            m_pException->Delete();
        }
    }
};

#define TRY                                                                                        \
    {                                                                                              \
        AFX_EXCEPTION_LINK _afxExceptionLink;                                                      \
        try {
#define CATCH(class, e)                                                                            \
    }                                                                                              \
    catch (class * e) {                                                                            \
        _afxExceptionLink.m_pException = e;
#define AND_CATCH(class, e)                                                                        \
    }                                                                                              \
    catch (class * e) {                                                                            \
        _afxExceptionLink.m_pException = e;
#define END_CATCH                                                                                  \
    }                                                                                              \
    }
#define CATCH_ALL(e) CATCH(CException, e)
#define AND_CATCH_ALL(e) AND_CATCH(CException, e)
#define END_CATCH_ALL END_CATCH
#define THROW(e) throw e
#define THROW_LAST()                                                                               \
    {                                                                                              \
        _afxExceptionLink.m_pException = nullptr;                                                  \
        throw;                                                                                     \
    }

// ---- CString ---------------------------------------------------------------------------------

// An 8-bit character string (this platform's ANSI code page is UTF-8; lengths count bytes).
// Indexes outside the string are refused rather than read: GetAt and operator[] give '\0',
// SetAt does nothing, and Mid/Left/Right clamp their arguments as MFC's release build does.
class CString {
public:
    CString() = default;
    CString(const CString& stringSrc) = default;
    CString(CString&& stringSrc) noexcept = default;
    // A MAKEINTRESOURCE value loads that string resource, as in MFC; NULL gives "".
    CString(LPCSTR lpsz);
    CString(const unsigned char* psz);
    CString(LPCSTR lpch, int nLength);
    CString(TCHAR ch, int nRepeat = 1);
    ~CString() = default;

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    TCHAR GetAt(int nIndex) const;
    TCHAR operator[](int nIndex) const { return GetAt(nIndex); }
    void SetAt(int nIndex, TCHAR ch);
    operator LPCTSTR() const { return m_str.c_str(); }

    CString& operator=(const CString& stringSrc) = default;
    CString& operator=(CString&& stringSrc) noexcept = default;
    CString& operator=(TCHAR ch);
    CString& operator=(LPCSTR lpsz);
    CString& operator=(const unsigned char* psz);

    CString& operator+=(const CString& string);
    CString& operator+=(TCHAR ch);
    CString& operator+=(LPCTSTR lpsz);

    friend CString AFXAPI operator+(const CString& string1, const CString& string2);
    friend CString AFXAPI operator+(const CString& string, TCHAR ch);
    friend CString AFXAPI operator+(TCHAR ch, const CString& string);
    friend CString AFXAPI operator+(const CString& string, LPCTSTR lpsz);
    friend CString AFXAPI operator+(LPCTSTR lpsz, const CString& string);

    // Byte-wise comparisons (as unsigned characters); NULL compares as "".
    int Compare(LPCTSTR lpsz) const;
    int CompareNoCase(LPCTSTR lpsz) const;
    int Collate(LPCTSTR lpsz) const { return Compare(lpsz); }
    int CollateNoCase(LPCTSTR lpsz) const { return CompareNoCase(lpsz); }

    CString Mid(int nFirst, int nCount) const;
    CString Mid(int nFirst) const;
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString SpanIncluding(LPCTSTR lpszCharSet) const;
    CString SpanExcluding(LPCTSTR lpszCharSet) const;

    void MakeUpper();
    void MakeLower();
    void MakeReverse();
    void TrimLeft();
    void TrimLeft(TCHAR chTarget);
    void TrimLeft(LPCTSTR lpszTargets);
    void TrimRight();
    void TrimRight(TCHAR chTarget);
    void TrimRight(LPCTSTR lpszTargets);

    int Replace(TCHAR chOld, TCHAR chNew);
    int Replace(LPCTSTR lpszOld, LPCTSTR lpszNew);
    int Remove(TCHAR chRemove);
    int Insert(int nIndex, TCHAR ch);
    int Insert(int nIndex, LPCTSTR pstr);
    int Delete(int nIndex, int nCount = 1);

    // Positions are byte offsets; -1 when not found.
    int Find(TCHAR ch) const { return Find(ch, 0); }
    int Find(TCHAR ch, int nStart) const;
    int Find(LPCTSTR lpszSub) const { return Find(lpszSub, 0); }
    int Find(LPCTSTR lpszSub, int nStart) const;
    int ReverseFind(TCHAR ch) const;
    int FindOneOf(LPCTSTR lpszCharSet) const;

    void AFX_CDECL Format(LPCTSTR lpszFormat, ...) AFX_PRINTF_LIKE(2, 3);
    void AFX_CDECL Format(UINT nFormatID, ...);
    void FormatV(LPCTSTR lpszFormat, va_list argList);

    // Loads string nID from the first module of the resource chain that has it (the program,
    // then the extension modules; see AfxFindResourceHandle). Returns FALSE and leaves the string
    // empty when no module has it.
    BOOL LoadString(UINT nID);

    // Direct access to the characters: GetBuffer gives room for at least nMinBufLength
    // characters plus the terminator; ReleaseBuffer ends the access and sets the length (to the
    // first '\0' when nNewLength is -1).
    LPTSTR GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);
    LPTSTR GetBufferSetLength(int nNewLength);
    void FreeExtra() { m_str.shrink_to_fit(); }

private:
    std::string m_str;
};

bool AFXAPI operator==(const CString& s1, const CString& s2);
bool AFXAPI operator==(const CString& s1, LPCTSTR s2);
bool AFXAPI operator==(LPCTSTR s1, const CString& s2);
bool AFXAPI operator!=(const CString& s1, const CString& s2);
bool AFXAPI operator!=(const CString& s1, LPCTSTR s2);
bool AFXAPI operator!=(LPCTSTR s1, const CString& s2);
bool AFXAPI operator<(const CString& s1, const CString& s2);
bool AFXAPI operator<(const CString& s1, LPCTSTR s2);
bool AFXAPI operator<(LPCTSTR s1, const CString& s2);
bool AFXAPI operator>(const CString& s1, const CString& s2);
bool AFXAPI operator>(const CString& s1, LPCTSTR s2);
bool AFXAPI operator>(LPCTSTR s1, const CString& s2);
bool AFXAPI operator<=(const CString& s1, const CString& s2);
bool AFXAPI operator<=(const CString& s1, LPCTSTR s2);
bool AFXAPI operator<=(LPCTSTR s1, const CString& s2);
bool AFXAPI operator>=(const CString& s1, const CString& s2);
bool AFXAPI operator>=(const CString& s1, LPCTSTR s2);
bool AFXAPI operator>=(LPCTSTR s1, const CString& s2);

// ---- CFileException --------------------------------------------------------------------------

class CFileException : public CException {
public:
    enum {
        none,
        generic,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    explicit CFileException(int cause = CFileException::none, LONG lOsError = -1,
                            LPCTSTR lpszArchiveName = NULL);

    void Clear();
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;

    // Maps a Win32 error code (GetLastError) to one of the causes above.
    static int PASCAL OsErrorToException(LONG lOsError);
    [[noreturn]] static void PASCAL ThrowOsError(LONG lOsError, LPCTSTR lpszFileName = NULL);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

[[noreturn]] void AFXAPI AfxThrowFileException(int cause, LONG lOsError = -1,
                                               LPCTSTR lpszFileName = NULL);

// ---- CFile -----------------------------------------------------------------------------------

// An unbuffered file over CreateFileA/ReadFile/WriteFile. Open reports failure through its
// result (and the optional CFileException); every other operation throws a CFileException* when
// the system call fails, as MFC does. Files are always binary: typeBinary and typeText are
// accepted and ignored.
class CFile : public CObject {
public:
    enum OpenFlags {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = static_cast<int>(0x8000)
    };
    enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };

    static const HANDLE hFileNull;

    CFile();
    // Wraps an open handle; the CFile does not close it on destruction.
    explicit CFile(HANDLE hFile);
    // Opens the file or throws the CFileException* that Open would have filled in.
    CFile(LPCTSTR lpszFileName, UINT nOpenFlags);
    ~CFile() override;

    operator HANDLE() const { return m_hFile; }

    // Fails (FALSE, the exception filled in when given) for a bad mode, a CFile that is already
    // open, or an error from the system.
    virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = NULL);
    virtual UINT Read(void* lpBuf, UINT nCount);
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual LONG Seek(LONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    DWORD SeekToEnd() { return static_cast<DWORD>(Seek(0, end)); }
    virtual DWORD GetLength() const;
    virtual DWORD GetPosition() const;
    virtual void SetLength(DWORD dwNewLen);
    virtual void Flush();
    // Close throws when the system fails to close; Abort never throws.
    virtual void Close();
    virtual void Abort();

    virtual CString GetFileName() const;
    virtual CString GetFilePath() const { return m_strFileName; }

    HANDLE m_hFile;
    BOOL m_bCloseOnDelete;
    CString m_strFileName;
};
