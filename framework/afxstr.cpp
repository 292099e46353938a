#include "afxstr.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

std::wstring AnsiToWide(const char* p, int n)
{
    if (!p || n <= 0)
        return std::wstring();
    int len = MultiByteToWideChar(CP_ACP, 0, p, n, nullptr, 0);
    std::wstring w(len > 0 ? len : 0, L'\0');
    if (len > 0)
        MultiByteToWideChar(CP_ACP, 0, p, n, &w[0], len);
    return w;
}

bool IsBlank(wchar_t ch) { return iswspace(ch) != 0; }

} // namespace

CString::CString(const char* psz) : m_s(psz ? AnsiToWide(psz, static_cast<int>(strlen(psz))) : std::wstring()) {}

CString::CString(const char* p, int nLength) : m_s(AnsiToWide(p, nLength)) {}

int CString::CompareNoCase(const wchar_t* psz) const
{
    return _wcsicmp(m_s.c_str(), psz ? psz : L"");
}

int CString::Find(wchar_t ch, int nStart) const
{
    if (nStart < 0 || nStart >= GetLength())
        return -1;
    size_t pos = m_s.find(ch, static_cast<size_t>(nStart));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const wchar_t* psz, int nStart) const
{
    if (!psz || nStart < 0 || nStart > GetLength())
        return -1;
    size_t pos = m_s.find(psz, static_cast<size_t>(nStart));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(wchar_t ch) const
{
    size_t pos = m_s.rfind(ch);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(const wchar_t* pszChars) const
{
    if (!pszChars)
        return -1;
    size_t pos = m_s.find_first_of(pszChars);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int nCount) const
{
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_s.substr(0, nCount));
}

CString CString::Right(int nCount) const
{
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_s.substr(m_s.size() - nCount));
}

CString CString::Mid(int nFirst) const
{
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const
{
    nFirst = std::clamp(nFirst, 0, GetLength());
    nCount = std::clamp(nCount, 0, GetLength() - nFirst);
    return CString(m_s.substr(nFirst, nCount));
}

CString CString::SpanExcluding(const wchar_t* pszChars) const
{
    int pos = FindOneOf(pszChars);
    return pos < 0 ? *this : Left(pos);
}

int CString::Insert(int nIndex, wchar_t ch)
{
    nIndex = std::clamp(nIndex, 0, GetLength());
    m_s.insert(m_s.begin() + nIndex, ch);
    return GetLength();
}

int CString::Insert(int nIndex, const wchar_t* psz)
{
    nIndex = std::clamp(nIndex, 0, GetLength());
    if (psz)
        m_s.insert(nIndex, psz);
    return GetLength();
}

int CString::Delete(int nIndex, int nCount)
{
    if (nIndex < 0)
        nIndex = 0;
    if (nIndex < GetLength() && nCount > 0)
        m_s.erase(nIndex, std::min(nCount, GetLength() - nIndex));
    return GetLength();
}

int CString::Replace(wchar_t chOld, wchar_t chNew)
{
    int n = 0;
    for (auto& c : m_s) {
        if (c == chOld) {
            c = chNew;
            ++n;
        }
    }
    return n;
}

int CString::Replace(const wchar_t* pszOld, const wchar_t* pszNew)
{
    if (!pszOld || !*pszOld)
        return 0;
    std::wstring from(pszOld), to(pszNew ? pszNew : L"");
    int n = 0;
    size_t pos = 0;
    while ((pos = m_s.find(from, pos)) != std::wstring::npos) {
        m_s.replace(pos, from.size(), to);
        pos += to.size();
        ++n;
    }
    return n;
}

int CString::Remove(wchar_t ch)
{
    size_t before = m_s.size();
    m_s.erase(std::remove(m_s.begin(), m_s.end(), ch), m_s.end());
    return static_cast<int>(before - m_s.size());
}

CString& CString::MakeUpper()
{
    if (!m_s.empty())
        CharUpperBuffW(&m_s[0], static_cast<DWORD>(m_s.size()));
    return *this;
}

CString& CString::MakeLower()
{
    if (!m_s.empty())
        CharLowerBuffW(&m_s[0], static_cast<DWORD>(m_s.size()));
    return *this;
}

CString& CString::MakeReverse()
{
    std::reverse(m_s.begin(), m_s.end());
    return *this;
}

CString& CString::Trim()
{
    return TrimRight().TrimLeft();
}

CString& CString::TrimLeft()
{
    size_t i = 0;
    while (i < m_s.size() && IsBlank(m_s[i]))
        ++i;
    m_s.erase(0, i);
    return *this;
}

CString& CString::TrimRight()
{
    while (!m_s.empty() && IsBlank(m_s.back()))
        m_s.pop_back();
    return *this;
}

CString& CString::TrimLeft(wchar_t ch)
{
    size_t i = 0;
    while (i < m_s.size() && m_s[i] == ch)
        ++i;
    m_s.erase(0, i);
    return *this;
}

CString& CString::TrimRight(wchar_t ch)
{
    while (!m_s.empty() && m_s.back() == ch)
        m_s.pop_back();
    return *this;
}

CString& CString::TrimRight(const wchar_t* pszChars)
{
    if (!pszChars)
        return *this;
    while (!m_s.empty() && wcschr(pszChars, m_s.back()))
        m_s.pop_back();
    return *this;
}

CString CString::Tokenize(const wchar_t* pszTokens, int& iStart) const
{
    if (iStart < 0 || iStart > GetLength()) {
        iStart = -1;
        return CString();
    }
    std::wstring delims(pszTokens ? pszTokens : L"");
    size_t begin = m_s.find_first_not_of(delims, iStart);
    if (begin == std::wstring::npos) {
        iStart = -1;
        return CString();
    }
    size_t end = m_s.find_first_of(delims, begin);
    if (end == std::wstring::npos)
        end = m_s.size();
    iStart = static_cast<int>(end) + (end < m_s.size() ? 1 : 0);
    return CString(m_s.substr(begin, end - begin));
}

void CString::FormatV(const wchar_t* pszFormat, va_list args)
{
    if (!pszFormat) {
        m_s.clear();
        return;
    }
    // vswprintf fails rather than truncating when the buffer is short: grow and retry.
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = vswprintf(buf.data(), buf.size(), pszFormat, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buf.size()) {
            m_s.assign(buf.data(), n);
            return;
        }
        if (buf.size() >= (1u << 26)) { // 64 M characters: a format this long is a fault
            m_s.clear();
            return;
        }
        buf.resize(buf.size() * 4);
    }
}

void CString::Format(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::AppendFormat(const wchar_t* pszFormat, ...)
{
    CString more;
    va_list args;
    va_start(args, pszFormat);
    more.FormatV(pszFormat, args);
    va_end(args);
    m_s += more.m_s;
}

wchar_t* CString::GetBuffer(int nMinLength)
{
    if (nMinLength > GetLength())
        m_s.resize(nMinLength, L'\0');
    // std::wstring keeps a terminator after size() characters, so the caller has
    // room for nMinLength characters plus the zero.
    return &m_s[0];
}

wchar_t* CString::GetBufferSetLength(int nLength)
{
    m_s.resize(nLength > 0 ? nLength : 0, L'\0');
    return &m_s[0];
}

void CString::ReleaseBuffer(int nNewLength)
{
    if (nNewLength < 0) {
        size_t n = wcsnlen(m_s.c_str(), m_s.size());
        m_s.resize(n);
    } else {
        m_s.resize(std::min<size_t>(nNewLength, m_s.size()));
    }
}

BOOL CString::LoadString(UINT nID)
{
    const wchar_t* p = nullptr;
    int n = ::LoadStringW(GetModuleHandleW(nullptr), nID, reinterpret_cast<LPWSTR>(&p), 0);
    if (n <= 0 || !p) {
        m_s.clear();
        return FALSE;
    }
    m_s.assign(p, n);
    return TRUE;
}

CStringA::CStringA(const CString& s)
{
    int n = s.GetLength();
    if (n == 0)
        return;
    int len = WideCharToMultiByte(CP_ACP, 0, s.GetString(), n, nullptr, 0, nullptr, nullptr);
    if (len > 0) {
        m_s.resize(len);
        WideCharToMultiByte(CP_ACP, 0, s.GetString(), n, &m_s[0], len, nullptr, nullptr);
    }
}

void CStringA::Format(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (n < 0) {
        m_s.clear();
    } else {
        m_s.resize(n + 1);
        vsnprintf(&m_s[0], n + 1, pszFormat, args);
        m_s.resize(n);
    }
    va_end(args);
}
