#pragma once
// Small helpers for the tests of the data files, language texts and the backup worker: a
// private temporary folder under the system's temporary path, and whole-file reads and writes.

#include "afx.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace langtest {

inline bool RemoveTree(const CString& strPath)
{
    DWORD dwAttr = ::GetFileAttributesW(strPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return true;
    ::SetFileAttributesW(strPath, FILE_ATTRIBUTE_NORMAL);
    if (!(dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return ::DeleteFileW(strPath) != FALSE;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW(strPath + L"\\*", &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0)
                RemoveTree(strPath + L"\\" + fd.cFileName);
        } while (::FindNextFileW(hFind, &fd));
        ::FindClose(hFind);
    }
    // The file system may finish closing a file just copied a moment later under load.
    for (int nTry = 0; nTry < 50; ++nTry) {
        if (::RemoveDirectoryW(strPath))
            return true;
        ::Sleep(20);
    }
    return false;
}

// A fresh folder below the temporary path, removed with everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const wchar_t* pszTag)
    {
        wchar_t szTemp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH, szTemp);
        static LONG s_nNext = 0;
        m_strPath.Format(L"%lszul_%ls_%lu_%ld", szTemp, pszTag, ::GetCurrentProcessId(),
                         ::InterlockedIncrement(&s_nNext));
        RemoveTree(m_strPath);
        ::CreateDirectoryW(m_strPath, nullptr);
    }
    ~TempFolder() { RemoveTree(m_strPath); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const CString& Path() const { return m_strPath; }
    // The folder with a trailing backslash, the way the program folder is kept.
    CString Dir() const { return m_strPath + L"\\"; }
    CString operator/(const wchar_t* pszName) const { return m_strPath + L"\\" + pszName; }

private:
    CString m_strPath;
};

inline bool FileExists(const CString& strPath)
{
    return ::GetFileAttributesW(strPath) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadBytes(const CString& strPath)
{
    std::string bytes;
    FILE* f = _wfopen(strPath, L"rb");
    if (!f)
        return bytes;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        bytes.append(buf, n);
    fclose(f);
    return bytes;
}

inline bool WriteBytes(const CString& strPath, const std::string& bytes)
{
    FILE* f = _wfopen(strPath, L"wb");
    if (!f)
        return false;
    bool bOk = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && bOk;
}

inline bool MakeFolder(const CString& strPath)
{
    return ::CreateDirectoryW(strPath, nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// Names of the entries of a folder, sorted, joined by "|".
inline std::wstring ListFolder(const CString& strPath)
{
    std::vector<std::wstring> arr;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW(strPath + L"\\*", &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0)
                arr.push_back(fd.cFileName);
        } while (::FindNextFileW(hFind, &fd));
        ::FindClose(hFind);
    }
    std::sort(arr.begin(), arr.end());
    std::wstring names;
    for (const std::wstring& n : arr)
        names += (names.empty() ? L"" : L"|") + n;
    return names;
}

} // namespace langtest
