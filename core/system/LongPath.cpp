#include "LongPath.h"

#include <string>
#include <vector>

namespace {

bool IsSlash(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Appends the names of rest to out, one backslash before each, resolving "." and "..";
// ".." never climbs above the root (out as it is on entry, ending in a backslash or not).
// A trailing separator is kept.
void AppendNames(std::wstring& out, const wchar_t* rest)
{
    std::vector<size_t> starts; // where each appended name began in out
    const size_t root = out.size();
    const wchar_t* p = rest;
    bool trailing = false;
    while (*p) {
        while (IsSlash(*p))
            ++p;
        if (!*p)
            break;
        const wchar_t* end = p;
        while (*end && !IsSlash(*end))
            ++end;
        const size_t n = static_cast<size_t>(end - p);
        trailing = *end != 0;
        if (n == 1 && p[0] == L'.') {
            // the folder itself
        } else if (n == 2 && p[0] == L'.' && p[1] == L'.') {
            if (!starts.empty()) {
                out.resize(starts.back());
                starts.pop_back();
            }
        } else {
            starts.push_back(out.size());
            if (!out.empty() && out.back() != L'\\')
                out += L'\\';
            out.append(p, n);
        }
        p = end;
    }
    if (trailing && out.size() > root && out.back() != L'\\')
        out += L'\\';
}

} // namespace

CString ExtendedPath(const CString& strPath)
{
    const int n = strPath.GetLength();
    const wchar_t* s = strPath.GetString();
    if (n >= 4 && s[0] == L'\\' && s[1] == L'\\' && (s[2] == L'?' || s[2] == L'.') && s[3] == L'\\')
        return strPath;
    if (n >= 2 && IsLetter(s[0]) && s[1] == L':') {
        if (n > 2 && !IsSlash(s[2]))
            return strPath; // "C:x" is relative to the drive's current folder
        std::wstring out(L"\\\\?\\");
        out += s[0];
        out += L":\\";
        AppendNames(out, s + 2);
        return CString(out);
    }
    if (n >= 3 && IsSlash(s[0]) && IsSlash(s[1]) && !IsSlash(s[2])) {
        // "\\server\share\...": the server and the share stay as they are, and ".." never
        // climbs above the share.
        const wchar_t* p = s + 2;
        const wchar_t* server = p;
        while (*p && !IsSlash(*p))
            ++p;
        std::wstring out(L"\\\\?\\UNC\\");
        out.append(server, static_cast<size_t>(p - server));
        while (IsSlash(*p))
            ++p;
        const wchar_t* share = p;
        while (*p && !IsSlash(*p))
            ++p;
        if (p > share) {
            out += L'\\';
            out.append(share, static_cast<size_t>(p - share));
        }
        AppendNames(out, p);
        return CString(out);
    }
    return strPath;
}

CString DisplayPath(const CString& strPath)
{
    if (strPath.GetLength() >= 8 && strPath.Left(8).CompareNoCase(L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + strPath.Mid(8);
    if (strPath.GetLength() >= 6 && strPath.Left(4) == L"\\\\?\\" && IsLetter(strPath[4]) &&
        strPath[5] == L':')
        return strPath.Mid(4);
    return strPath;
}
