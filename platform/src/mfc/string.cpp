// CString: everything but loading from resources (resources.cpp).
#include <afx.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char* safe(LPCTSTR s) {
    return s != NULL ? s : "";
}

int compare_bytes(const char* a, const char* b) {
    // strcmp compares as unsigned char, which is the byte order MFC's single-byte build uses.
    int r = std::strcmp(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int compare_no_case(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = std::tolower(static_cast<unsigned char>(*a));
        int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == 0) {
            return 0;
        }
    }
}

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Length of s, looking at no more than max bytes.
std::size_t bounded_length(const char* s, std::size_t max) {
    const void* nul = std::memchr(s, '\0', max);
    return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - s) : max;
}

} // namespace

CString::CString(LPCSTR lpsz) {
    if (lpsz != NULL && IS_INTRESOURCE(lpsz)) {
        LoadString(LOWORD(reinterpret_cast<ULONG_PTR>(lpsz)));
    } else if (lpsz != NULL) {
        m_str = lpsz;
    }
}

CString::CString(const unsigned char* psz) : CString(reinterpret_cast<LPCSTR>(psz)) {}

CString::CString(LPCSTR lpch, int nLength) {
    if (lpch != NULL && nLength > 0) {
        // Up to an embedded terminator: a count longer than the text never reads past its end.
        m_str.assign(lpch, bounded_length(lpch, static_cast<std::size_t>(nLength)));
    }
}

CString::CString(TCHAR ch, int nRepeat) {
    if (nRepeat > 0) {
        m_str.assign(static_cast<std::size_t>(nRepeat), ch);
    }
}

TCHAR CString::GetAt(int nIndex) const {
    if (nIndex < 0 || nIndex >= GetLength()) {
        return '\0';
    }
    return m_str[static_cast<std::size_t>(nIndex)];
}

void CString::SetAt(int nIndex, TCHAR ch) {
    if (nIndex >= 0 && nIndex < GetLength() && ch != '\0') {
        m_str[static_cast<std::size_t>(nIndex)] = ch;
    }
}

CString& CString::operator=(TCHAR ch) {
    m_str.assign(1, ch);
    return *this;
}

CString& CString::operator=(LPCSTR lpsz) {
    // Assigning from the string's own characters (s = s.Mid(...) done by hand) must work.
    m_str = std::string(safe(lpsz));
    return *this;
}

CString& CString::operator=(const unsigned char* psz) {
    return *this = reinterpret_cast<LPCSTR>(psz);
}

CString& CString::operator+=(const CString& string) {
    m_str += string.m_str;
    return *this;
}

CString& CString::operator+=(TCHAR ch) {
    m_str += ch;
    return *this;
}

CString& CString::operator+=(LPCTSTR lpsz) {
    m_str += std::string(safe(lpsz));
    return *this;
}

CString AFXAPI operator+(const CString& string1, const CString& string2) {
    CString s(string1);
    s += string2;
    return s;
}

CString AFXAPI operator+(const CString& string, TCHAR ch) {
    CString s(string);
    s += ch;
    return s;
}

CString AFXAPI operator+(TCHAR ch, const CString& string) {
    CString s(ch);
    s += string;
    return s;
}

CString AFXAPI operator+(const CString& string, LPCTSTR lpsz) {
    CString s(string);
    s += lpsz;
    return s;
}

CString AFXAPI operator+(LPCTSTR lpsz, const CString& string) {
    CString s;
    s += lpsz;
    s += string;
    return s;
}

int CString::Compare(LPCTSTR lpsz) const {
    return compare_bytes(m_str.c_str(), safe(lpsz));
}

int CString::CompareNoCase(LPCTSTR lpsz) const {
    return compare_no_case(m_str.c_str(), safe(lpsz));
}

CString CString::Mid(int nFirst, int nCount) const {
    const int len = GetLength();
    nFirst = std::clamp(nFirst, 0, len);
    nCount = std::clamp(nCount, 0, len - nFirst);
    return CString(m_str.data() + nFirst, nCount);
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Left(int nCount) const {
    return Mid(0, nCount);
}

CString CString::Right(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return Mid(GetLength() - nCount, nCount);
}

CString CString::SpanIncluding(LPCTSTR lpszCharSet) const {
    return Left(static_cast<int>(std::strspn(m_str.c_str(), safe(lpszCharSet))));
}

CString CString::SpanExcluding(LPCTSTR lpszCharSet) const {
    return Left(static_cast<int>(std::strcspn(m_str.c_str(), safe(lpszCharSet))));
}

void CString::MakeUpper() {
    for (char& c : m_str) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
}

void CString::MakeLower() {
    for (char& c : m_str) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
}

void CString::MakeReverse() {
    std::reverse(m_str.begin(), m_str.end());
}

void CString::TrimLeft() {
    auto it = std::find_if_not(m_str.begin(), m_str.end(), is_space);
    m_str.erase(m_str.begin(), it);
}

void CString::TrimLeft(TCHAR chTarget) {
    m_str.erase(0, std::min(m_str.find_first_not_of(chTarget), m_str.size()));
}

void CString::TrimLeft(LPCTSTR lpszTargets) {
    m_str.erase(0, std::min(m_str.find_first_not_of(safe(lpszTargets)), m_str.size()));
}

void CString::TrimRight() {
    while (!m_str.empty() && is_space(m_str.back())) {
        m_str.pop_back();
    }
}

void CString::TrimRight(TCHAR chTarget) {
    while (!m_str.empty() && m_str.back() == chTarget) {
        m_str.pop_back();
    }
}

void CString::TrimRight(LPCTSTR lpszTargets) {
    const char* targets = safe(lpszTargets);
    while (!m_str.empty() && m_str.back() != '\0' && std::strchr(targets, m_str.back())) {
        m_str.pop_back();
    }
}

int CString::Replace(TCHAR chOld, TCHAR chNew) {
    int n = 0;
    if (chOld == chNew) {
        return 0;
    }
    for (char& c : m_str) {
        if (c == chOld) {
            c = chNew;
            ++n;
        }
    }
    return n;
}

int CString::Replace(LPCTSTR lpszOld, LPCTSTR lpszNew) {
    const std::string from(safe(lpszOld));
    const std::string to(safe(lpszNew));
    if (from.empty()) {
        return 0;
    }
    int n = 0;
    std::string out;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = m_str.find(from, pos)) != std::string::npos; ++n) {
        out.append(m_str, pos, hit - pos);
        out += to;
        pos = hit + from.size();
    }
    out.append(m_str, pos, std::string::npos);
    m_str.swap(out);
    return n;
}

int CString::Remove(TCHAR chRemove) {
    const std::size_t before = m_str.size();
    m_str.erase(std::remove(m_str.begin(), m_str.end(), chRemove), m_str.end());
    return static_cast<int>(before - m_str.size());
}

int CString::Insert(int nIndex, TCHAR ch) {
    nIndex = std::clamp(nIndex, 0, GetLength());
    m_str.insert(static_cast<std::size_t>(nIndex), 1, ch);
    return GetLength();
}

int CString::Insert(int nIndex, LPCTSTR pstr) {
    nIndex = std::clamp(nIndex, 0, GetLength());
    m_str.insert(static_cast<std::size_t>(nIndex), std::string(safe(pstr)));
    return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
    const int len = GetLength();
    nIndex = std::clamp(nIndex, 0, len);
    nCount = std::clamp(nCount, 0, len - nIndex);
    m_str.erase(static_cast<std::size_t>(nIndex), static_cast<std::size_t>(nCount));
    return GetLength();
}

int CString::Find(TCHAR ch, int nStart) const {
    if (nStart < 0 || nStart >= GetLength()) {
        return -1;
    }
    std::size_t pos = m_str.find(ch, static_cast<std::size_t>(nStart));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(LPCTSTR lpszSub, int nStart) const {
    if (lpszSub == NULL || nStart < 0 || nStart > GetLength()) {
        return -1;
    }
    std::size_t pos = m_str.find(lpszSub, static_cast<std::size_t>(nStart));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(TCHAR ch) const {
    std::size_t pos = m_str.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(LPCTSTR lpszCharSet) const {
    std::size_t pos = m_str.find_first_of(safe(lpszCharSet));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

void CString::Format(LPCTSTR lpszFormat, ...) {
    va_list args;
    va_start(args, lpszFormat);
    FormatV(lpszFormat, args);
    va_end(args);
}

void CString::Format(UINT nFormatID, ...) {
    CString format;
    format.LoadString(nFormatID);
    va_list args;
    va_start(args, nFormatID);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(LPCTSTR lpszFormat, va_list argList) {
    if (lpszFormat == NULL) {
        m_str.clear();
        return;
    }
    // The format may be this string's own text: build the result apart.
    va_list probe;
    va_copy(probe, argList);
    const int n = std::vsnprintf(nullptr, 0, lpszFormat, probe);
    va_end(probe);
    if (n < 0) {
        m_str.clear();
        return;
    }
    std::vector<char> out(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), lpszFormat, argList);
    m_str.assign(out.data(), static_cast<std::size_t>(n));
}

LPTSTR CString::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > GetLength()) {
        m_str.resize(static_cast<std::size_t>(nMinBufLength), '\0');
    }
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) {
        nNewLength = static_cast<int>(bounded_length(m_str.c_str(), m_str.size()));
    }
    m_str.resize(static_cast<std::size_t>(std::min(nNewLength, GetLength())));
}

LPTSTR CString::GetBufferSetLength(int nNewLength) {
    if (nNewLength < 0) {
        nNewLength = 0;
    }
    m_str.resize(static_cast<std::size_t>(nNewLength), '\0');
    return m_str.data();
}

bool AFXAPI operator==(const CString& s1, const CString& s2) {
    return s1.Compare(s2) == 0;
}
bool AFXAPI operator==(const CString& s1, LPCTSTR s2) {
    return s1.Compare(s2) == 0;
}
bool AFXAPI operator==(LPCTSTR s1, const CString& s2) {
    return s2.Compare(s1) == 0;
}
bool AFXAPI operator!=(const CString& s1, const CString& s2) {
    return s1.Compare(s2) != 0;
}
bool AFXAPI operator!=(const CString& s1, LPCTSTR s2) {
    return s1.Compare(s2) != 0;
}
bool AFXAPI operator!=(LPCTSTR s1, const CString& s2) {
    return s2.Compare(s1) != 0;
}
bool AFXAPI operator<(const CString& s1, const CString& s2) {
    return s1.Compare(s2) < 0;
}
bool AFXAPI operator<(const CString& s1, LPCTSTR s2) {
    return s1.Compare(s2) < 0;
}
bool AFXAPI operator<(LPCTSTR s1, const CString& s2) {
    return s2.Compare(s1) > 0;
}
bool AFXAPI operator>(const CString& s1, const CString& s2) {
    return s1.Compare(s2) > 0;
}
bool AFXAPI operator>(const CString& s1, LPCTSTR s2) {
    return s1.Compare(s2) > 0;
}
bool AFXAPI operator>(LPCTSTR s1, const CString& s2) {
    return s2.Compare(s1) < 0;
}
bool AFXAPI operator<=(const CString& s1, const CString& s2) {
    return s1.Compare(s2) <= 0;
}
bool AFXAPI operator<=(const CString& s1, LPCTSTR s2) {
    return s1.Compare(s2) <= 0;
}
bool AFXAPI operator<=(LPCTSTR s1, const CString& s2) {
    return s2.Compare(s1) >= 0;
}
bool AFXAPI operator>=(const CString& s1, const CString& s2) {
    return s1.Compare(s2) >= 0;
}
bool AFXAPI operator>=(const CString& s1, LPCTSTR s2) {
    return s1.Compare(s2) >= 0;
}
bool AFXAPI operator>=(LPCTSTR s1, const CString& s2) {
    return s2.Compare(s1) <= 0;
}
