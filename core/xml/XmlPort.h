#pragma once
// The few things the XML document class takes from the platform: its string class, whole-file
// reading and safe replacing, system error texts and code-page conversion. On Windows these are
// the class layer and the Win32 calls; the parsing core itself uses none of them directly, so it
// also builds natively (the fuzzer builds it that way with a minimal string class below).

#include <cstddef>
#include <string>

#ifdef _WIN32
#include "afxstr.h"
#else
#include <cwchar>
#include <algorithm>

// Minimal stand-in for the class layer's CString on hosts without it; only the members the
// XML code uses. Characters are wchar_t holding UTF-16 units.
class CString {
public:
    CString() = default;
    CString(const wchar_t* psz) : m_s(psz ? psz : L"") {}
    CString(const wchar_t* p, int n) : m_s(p ? p : L"", p && n > 0 ? n : 0) {}
    CString(const std::wstring& s) : m_s(s) {}
    CString& operator=(const wchar_t* psz) { m_s = psz ? psz : L""; return *this; }
    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    wchar_t GetAt(int i) const { return (i >= 0 && i < GetLength()) ? m_s[i] : L'\0'; }
    operator const wchar_t*() const { return m_s.c_str(); }
    const wchar_t* GetString() const { return m_s.c_str(); }
    const std::wstring& str() const { return m_s; }
    CString& operator+=(const CString& s) { m_s += s.m_s; return *this; }
    CString& operator+=(const wchar_t* psz) { if (psz) m_s += psz; return *this; }
    CString& operator+=(wchar_t ch) { m_s += ch; return *this; }
    friend CString operator+(const CString& a, const CString& b) { CString r(a); r += b; return r; }
    friend CString operator+(const CString& a, const wchar_t* b) { CString r(a); r += b; return r; }
    friend CString operator+(const wchar_t* a, const CString& b) { CString r(a); r += b; return r; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const wchar_t* b) { return a.m_s == (b ? b : L""); }
    friend bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }
    CString Mid(int nFirst, int nCount) const
    {
        nFirst = std::clamp(nFirst, 0, GetLength());
        nCount = std::clamp(nCount, 0, GetLength() - nFirst);
        return CString(m_s.substr(nFirst, nCount));
    }
    CString Left(int n) const { return Mid(0, n); }
    int Insert(int i, const wchar_t* psz)
    {
        i = std::clamp(i, 0, GetLength());
        if (psz)
            m_s.insert(i, psz);
        return GetLength();
    }
    int Delete(int i, int n = 1)
    {
        if (i < 0)
            i = 0;
        if (i < GetLength() && n > 0)
            m_s.erase(i, std::min(n, GetLength() - i));
        return GetLength();
    }
    wchar_t* GetBufferSetLength(int n) { m_s.resize(n > 0 ? n : 0); return &m_s[0]; }
    void ReleaseBuffer(int n = -1)
    {
        if (n < 0)
            n = static_cast<int>(wcslen(m_s.c_str()));
        m_s.resize(std::min<size_t>(n, m_s.size()));
    }

private:
    std::wstring m_s;
};
#endif

namespace XmlPort {

// Reads a whole file. On failure nError holds the system error code.
bool ReadWholeFile(const wchar_t* pszPath, std::string& bytes, unsigned& nError);

// Writes a file so that a crash or power loss leaves either the old or the new contents:
// the bytes go to a temporary file in the same folder, are flushed to the disk, and the
// temporary file then replaces the old one in one move. nStage tells which step failed
// (0 open, 1 write, 2 close/flush/replace).
bool WriteFileReplacing(const wchar_t* pszPath, const char* pData, size_t nSize, unsigned& nError, int& nStage);

// First line of the system's message text for an error code.
CString ErrorText(unsigned nError);

// Sets the calling thread's last system error code, which callers of a failed save report.
void SetLastErrorCode(unsigned nError);

// The system ANSI code page.
unsigned AnsiCodePage();

// Code-page conversion for code pages other than UTF-8, UTF-16 and UTF-32 (which the class
// handles itself). bCheckLoss asks whether characters had no equivalent (one written as a
// look-alike counts as lost).
bool ToUtf16(unsigned nCodePage, const char* p, size_t n, std::wstring& out);
bool FromUtf16(unsigned nCodePage, const wchar_t* p, size_t n, std::string& out, bool bCheckLoss, bool& bLost);

} // namespace XmlPort
