#include "test_files.h"

#include "LongPath.h"
#include "afxhandle.h"

#include <algorithm>

namespace testsupport {

bool RemoveTree(const CString& strPathAsGiven)
{
    const CString strPath = ExtendedPath(strPathAsGiven);
    DWORD dwAttr = ::GetFileAttributesW(strPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return true;
    ::SetFileAttributesW(strPath, FILE_ATTRIBUTE_NORMAL);
    if (!(dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return ::DeleteFileW(strPath) != FALSE;
    if (!(dwAttr & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const CString& strName : ListFolder(strPath))
            RemoveTree(strPath + L"\\" + strName);
    }
    // The file system may finish closing a file just copied a moment later under load.
    for (int nTry = 0; nTry < 50; ++nTry) {
        if (::RemoveDirectoryW(strPath))
            return true;
        ::Sleep(20);
    }
    return false;
}

bool MakeFolder(const CString& strPath)
{
    return ::CreateDirectoryW(ExtendedPath(strPath), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool FileExists(const CString& strPath)
{
    return ::GetFileAttributesW(ExtendedPath(strPath)) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const CString& strPath, const std::string& strMissing)
{
    CKernelHandle h(::CreateFileW(ExtendedPath(strPath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h)
        return strMissing;
    std::string bytes;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(h.Get(), buf, sizeof(buf), &n, nullptr) && n)
        bytes.append(buf, n);
    return bytes;
}

bool WriteBytes(const CString& strPath, const std::string& bytes)
{
    CKernelHandle h(::CreateFileW(ExtendedPath(strPath), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h)
        return false;
    DWORD n = 0;
    bool bOk = bytes.empty() || (::WriteFile(h.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
                                 n == bytes.size());
    // The close is part of the write: it can report what the system could not store.
    return h.Close() && bOk;
}

std::vector<CString> ListFolder(const CString& strPath)
{
    std::vector<CString> names;
    WIN32_FIND_DATAW fd;
    CFindHandle h(::FindFirstFileW(ExtendedPath(strPath) + L"\\*", &fd));
    if (!h)
        return names;
    do {
        if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0)
            names.push_back(fd.cFileName);
    } while (::FindNextFileW(h.Get(), &fd));
    std::sort(names.begin(), names.end());
    return names;
}

CTempFolder::CTempFolder(const wchar_t* pszTag)
{
    wchar_t szTemp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    // The long form, so that a path the program builds from it compares equal to it.
    wchar_t szLong[MAX_PATH + 1] = {};
    if (::GetLongPathNameW(szTemp, szLong, MAX_PATH))
        wcscpy(szTemp, szLong);
    static LONG s_nNext = 0;
    m_strPath.Format(L"%lszul_%ls_%lu_%ld", szTemp, pszTag, ::GetCurrentProcessId(),
                     ::InterlockedIncrement(&s_nNext));
    RemoveTree(m_strPath);
    ::CreateDirectoryW(m_strPath, nullptr);
}

CTempFolder::~CTempFolder() { RemoveTree(m_strPath); }

} // namespace testsupport
