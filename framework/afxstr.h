#pragma once
// CString: the program's UTF-16 string, with the members the windows and the core use.
// CStringA: the 8-bit form in the system code page, for the few places that need one.

#include <windows.h>
#include <cstdarg>
#include <string>

class CStringA;

class CString {
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString(const wchar_t* psz) : m_s(psz ? psz : L"") {}
    CString(const wchar_t* p, int nLength) : m_s(p ? p : L"", p && nLength > 0 ? nLength : 0) {}
    CString(wchar_t ch, int nRepeat = 1) : m_s(nRepeat > 0 ? nRepeat : 0, ch) {}
    CString(const std::wstring& s) : m_s(s) {}
    // 8-bit text in the system code page (CP_ACP).
    explicit CString(const char* psz);
    explicit CString(const char* p, int nLength);

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const wchar_t* psz) { m_s = psz ? psz : L""; return *this; }
    CString& operator=(wchar_t ch) { m_s.assign(1, ch); return *this; }

    // Access
    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    wchar_t GetAt(int i) const { return (i >= 0 && i < GetLength()) ? m_s[i] : L'\0'; }
    void SetAt(int i, wchar_t ch) { if (i >= 0 && i < GetLength()) m_s[i] = ch; }
    wchar_t operator[](int i) const { return GetAt(i); }
    operator const wchar_t*() const { return m_s.c_str(); }
    const wchar_t* GetString() const { return m_s.c_str(); }
    const std::wstring& str() const { return m_s; }

    // Concatenation
    CString& operator+=(const CString& s) { m_s += s.m_s; return *this; }
    CString& operator+=(const wchar_t* psz) { if (psz) m_s += psz; return *this; }
    CString& operator+=(wchar_t ch) { m_s += ch; return *this; }
    CString& Append(const wchar_t* psz) { return *this += psz; }
    CString& AppendChar(wchar_t ch) { return *this += ch; }
    friend CString operator+(const CString& a, const CString& b) { CString r(a); r += b; return r; }
    friend CString operator+(const CString& a, const wchar_t* b) { CString r(a); r += b; return r; }
    friend CString operator+(const wchar_t* a, const CString& b) { CString r(a); r += b; return r; }
    friend CString operator+(const CString& a, wchar_t b) { CString r(a); r += b; return r; }
    friend CString operator+(wchar_t a, const CString& b) { CString r(a); r += b; return r; }

    // Comparison
    int Compare(const wchar_t* psz) const { return wcscmp(m_s.c_str(), psz ? psz : L""); }
    int CompareNoCase(const wchar_t* psz) const;
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
    friend bool operator==(const wchar_t* a, const CString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_s != b.m_s; }
    friend bool operator!=(const CString& a, const wchar_t* b) { return a.Compare(b) != 0; }
    friend bool operator!=(const wchar_t* a, const CString& b) { return b.Compare(a) != 0; }
    friend bool operator<(const CString& a, const CString& b) { return a.m_s < b.m_s; }

    // Search: positions are character indexes, -1 when not found.
    int Find(wchar_t ch, int nStart = 0) const;
    int Find(const wchar_t* psz, int nStart = 0) const;
    int ReverseFind(wchar_t ch) const;
    int FindOneOf(const wchar_t* pszChars) const;

    // Extraction: out-of-range counts are clamped, never read past the end.
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString SpanExcluding(const wchar_t* pszChars) const;

    // Editing; each returns the new length (or the count of changes) as the class library does.
    int Insert(int nIndex, wchar_t ch);
    int Insert(int nIndex, const wchar_t* psz);
    int Delete(int nIndex, int nCount = 1);
    int Replace(wchar_t chOld, wchar_t chNew);
    int Replace(const wchar_t* pszOld, const wchar_t* pszNew);
    int Remove(wchar_t ch);
    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();
    CString& Trim();
    CString& TrimLeft();
    CString& TrimRight();
    CString& TrimLeft(wchar_t ch);
    CString& TrimRight(wchar_t ch);
    CString& TrimRight(const wchar_t* pszChars);
    CString Tokenize(const wchar_t* pszTokens, int& iStart) const;

    // Formatting with the C99 printf family: %ls for wide text, %hs or %s with char* is narrow.
    void Format(const wchar_t* pszFormat, ...);
    void AppendFormat(const wchar_t* pszFormat, ...);
    void FormatV(const wchar_t* pszFormat, va_list args);

    // Direct buffer access. GetBuffer gives room for at least nMinLength characters plus
    // a terminator; ReleaseBuffer(-1) takes the length up to the first zero.
    wchar_t* GetBuffer(int nMinLength = 0);
    wchar_t* GetBufferSetLength(int nLength);
    void ReleaseBuffer(int nNewLength = -1);

    // String table resources of the running module.
    BOOL LoadString(UINT nID);

private:
    std::wstring m_s;
};

class CStringA {
public:
    CStringA() = default;
    CStringA(const char* psz) : m_s(psz ? psz : "") {}
    CStringA(const char* p, int n) : m_s(p ? p : "", p && n > 0 ? n : 0) {}
    // Converts through the system code page (CP_ACP).
    explicit CStringA(const CString& s);
    explicit CStringA(const wchar_t* psz) : CStringA(CString(psz)) {}
    operator const char*() const { return m_s.c_str(); }
    const char* GetString() const { return m_s.c_str(); }
    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    const std::string& str() const { return m_s; }
    friend bool operator==(const CStringA& a, const CStringA& b) { return a.m_s == b.m_s; }
    void Format(const char* pszFormat, ...);

private:
    std::string m_s;
};
