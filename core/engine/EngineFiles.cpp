// The engine's file primitives: removing, moving into place, times and attributes, entries,
// flushes, and the compressed copy's marker.

#include "BackUpEngine.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "DataFiles.h"
#include "EngineFiles.h"
#include "EngineGuards.h"
#include "LegacyTempRecords.h"
#include "LongPath.h"
#include "SharedFunctions.h"
#include "StoreNames.h"
#include "StoreTimes.h"
#include "SystemIo.h"
#include "WriteQueue.h"

using namespace copyengine;

namespace copyengine {

bool DropTempCopy(const CString& strTemp)
{
    if (strTemp.IsEmpty())
        return false;
    SetFileAttributesW(strTemp, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(strTemp) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool TimeAndSizeOf(const CString& strPath, FILETIME& ft, ULONGLONG& nSize)
{
    if (strPath.IsEmpty() || strPath.FindOneOf(L"*?") >= 0)
        return false;
    // A file find: it reads the entry also of a file that someone holds open exclusively.
    WIN32_FIND_DATAW fd;
    if (!CFindHandle(FindFirstFileW(ExtendedPath(strPath), &fd)))
        return false;
    ft = fd.ftLastWriteTime;
    nSize = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    return true;
}

bool FileExists(const CString& strPath)
{
    DWORD a = GetFileAttributesW(ExtendedPath(strPath));
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const CString& strPath)
{
    const CString path = ExtendedPath(strPath);
    DWORD attrs = GetFileAttributesW(path);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path))
        return true;
    DWORD err = GetLastError();
    SetFileAttributesW(path, attrs);
    SetLastError(err);
    return false;
}

bool IsGoneError(DWORD err)
{
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

bool RemoveIfThere(const CString& strPath)
{
    const DWORD attrs = GetFileAttributesW(strPath);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return IsGoneError(GetLastError());
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    SetFileAttributesW(strPath, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(strPath))
        return true;
    const DWORD err = GetLastError();
    SetFileAttributesW(strPath, attrs);
    SetLastError(err);
    return false;
}

bool MoveIntoPlace(const CString& strTempPath, const CString& strFinalPath)
{
    const CString strTemp = ExtendedPath(strTempPath), strFinal = ExtendedPath(strFinalPath);
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(strTemp, strFinal, flags))
        return true;
    DWORD err = GetLastError();
    DWORD attrs = GetFileAttributesW(strFinal);
    const DWORD sticky = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (err != ERROR_ACCESS_DENIED || attrs == INVALID_FILE_ATTRIBUTES ||
        (attrs & FILE_ATTRIBUTE_DIRECTORY) || !(attrs & sticky)) {
        SetLastError(err);
        return false;
    }
    SetFileAttributesW(strFinal, FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExW(strTemp, strFinal, flags))
        return true;
    err = GetLastError();
    SetFileAttributesW(strFinal, attrs);
    SetLastError(err);
    return false;
}

} // namespace copyengine

namespace {

// The attributes a copy takes from its source (the rest belong to the file system: folder,
// compression, encryption, sparse, reparse point).
const DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The source's times and attributes as the handle call takes them.
FILE_BASIC_INFO BasicInfoOf(const WIN32_FILE_ATTRIBUTE_DATA& d)
{
    FILE_BASIC_INFO bi{};
    bi.CreationTime.LowPart = d.ftCreationTime.dwLowDateTime;
    bi.CreationTime.HighPart = static_cast<LONG>(d.ftCreationTime.dwHighDateTime);
    bi.LastAccessTime.LowPart = d.ftLastAccessTime.dwLowDateTime;
    bi.LastAccessTime.HighPart = static_cast<LONG>(d.ftLastAccessTime.dwHighDateTime);
    bi.LastWriteTime.LowPart = d.ftLastWriteTime.dwLowDateTime;
    bi.LastWriteTime.HighPart = static_cast<LONG>(d.ftLastWriteTime.dwHighDateTime);
    bi.FileAttributes = d.dwFileAttributes & kCopiedAttributes;
    if (!bi.FileAttributes)
        bi.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return bi;
}

// Gives the target the times and attributes of the source.
void CopySourceState(const CString& strSource, const CString& strTargetPath)
{
    const CString strTarget = ExtendedPath(strTargetPath);
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(ExtendedPath(strSource), GetFileExInfoStandard, &d))
        return;
    FILE_BASIC_INFO bi = BasicInfoOf(d);
    CKernelHandle target(CreateFileW(strTarget, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        SetFileAttributesW(strTarget, bi.FileAttributes);
        return;
    }
    // Times and attributes in one call; the two-step way where a file system refuses it.
    bool done = SetFileInformationByHandle(target.Get(), FileBasicInfo, &bi, sizeof bi) != FALSE;
    if (!done)
        SetFileTime(target.Get(), &d.ftCreationTime, &d.ftLastAccessTime, &d.ftLastWriteTime);
    target.Close();
    if (!done)
        SetFileAttributesW(strTarget, bi.FileAttributes);
}

} // namespace

namespace copyengine {

bool SettleIntoPlace(const CString& strSource, const CString& strTemp, const CString& strFinal,
                     const WIN32_FILE_ATTRIBUTE_DATA* pEntry, CKernelHandle& hTemp)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    CKernelHandle& h = hTemp;
    if (pEntry)
        d = *pEntry;
    const bool bEntry = pEntry || GetFileAttributesExW(ExtendedPath(strSource), GetFileExInfoStandard, &d);
    if (!bEntry)
        h.Close();
    if (bEntry && !h)
        h.Reset(CreateFileW(ExtendedPath(strTemp), FILE_WRITE_ATTRIBUTES | DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        CopySourceState(strSource, strTemp);
        return MoveIntoPlace(strTemp, strFinal);
    }
    FILE_BASIC_INFO bi = BasicInfoOf(d);
    if (!SetFileInformationByHandle(h.Get(), FileBasicInfo, &bi, sizeof bi)) {
        h.Close();
        CopySourceState(strSource, strTemp);
        return MoveIntoPlace(strTemp, strFinal);
    }
    // The rename replaces the old copy in one step, as the move by name does. The name is
    // taken as it stands, like every other name of the copy.
    const CString finalName = ExtendedPath(strFinal);
    const DWORD nameBytes = static_cast<DWORD>(finalName.GetLength()) * sizeof(wchar_t);
    // Room for the name and a terminating zero, which some systems read the name up to.
    alignas(FILE_RENAME_INFO) BYTE onStack[sizeof(FILE_RENAME_INFO) + 2 * MAX_PATH + 2];
    std::vector<BYTE> onHeap;
    BYTE* buffer = onStack;
    const DWORD bufferBytes = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + nameBytes + sizeof(wchar_t));
    if (bufferBytes > sizeof onStack) {
        onHeap.resize(bufferBytes);
        buffer = onHeap.data();
    }
    std::memset(buffer, 0, bufferBytes);
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = nameBytes;
    std::memcpy(rename->FileName, finalName.GetString(), nameBytes);
    const bool moved = SetFileInformationByHandle(h.Get(), FileRenameInfo, rename, bufferBytes) != FALSE;
    h.Close();
    return moved || MoveIntoPlace(strTemp, strFinal);
}

bool HasFurtherStreams(HANDLE h, bool& bUnsupported)
{
    alignas(8) BYTE buffer[4096];
    if (!GetFileInformationByHandleEx(h, FileStreamInfo, buffer, sizeof buffer)) {
        const DWORD err = GetLastError();
        bUnsupported = err == ERROR_INVALID_FUNCTION || err == ERROR_NOT_SUPPORTED ||
                       err == ERROR_INVALID_PARAMETER;
        return err == ERROR_MORE_DATA;
    }
    const FILE_STREAM_INFO* info = reinterpret_cast<const FILE_STREAM_INFO*>(buffer);
    return info->NextEntryOffset != 0;
}

bool EntryOf(HANDLE h, WIN32_FILE_ATTRIBUTE_DATA& d)
{
    FILE_BASIC_INFO bi;
    LARGE_INTEGER size;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &bi, sizeof bi) || !GetFileSizeEx(h, &size))
        return false;
    auto ft = [](const LARGE_INTEGER& v) {
        FILETIME f;
        f.dwLowDateTime = v.LowPart;
        f.dwHighDateTime = static_cast<DWORD>(v.HighPart);
        return f;
    };
    d.dwFileAttributes = bi.FileAttributes;
    d.ftCreationTime = ft(bi.CreationTime);
    d.ftLastAccessTime = ft(bi.LastAccessTime);
    d.ftLastWriteTime = ft(bi.LastWriteTime);
    d.nFileSizeHigh = static_cast<DWORD>(static_cast<ULONGLONG>(size.QuadPart) >> 32);
    d.nFileSizeLow = size.LowPart;
    return true;
}

bool FlushCopy(HANDLE h, const CString& strPath, bool bStreams)
{
    if (!CBackUpEngine::FlushToDisk(h))
        return false;
    if (!bStreams)
        return true;
    std::vector<BYTE> buffer(4096);
    while (!GetFileInformationByHandleEx(h, FileStreamInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) {
        if (GetLastError() != ERROR_MORE_DATA || buffer.size() >= (1u << 22))
            return true;   // a file system that cannot list streams has none besides the main one
        buffer.resize(buffer.size() * 4);
    }
    const CString path = ExtendedPath(strPath);
    for (size_t at = 0;;) {
        const FILE_STREAM_INFO* info = reinterpret_cast<const FILE_STREAM_INFO*>(buffer.data() + at);
        const CString name(info->StreamName, static_cast<int>(info->StreamNameLength / sizeof(wchar_t)));
        if (!name.IsEmpty() && name.CompareNoCase(L"::$DATA") != 0) {
            CKernelHandle stream(CreateFileW(path + name, GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!stream)
                return false;
            const bool flushed = CBackUpEngine::FlushToDisk(stream.Get());
            const DWORD err = GetLastError();
            stream.Close();
            if (!flushed) {
                SetLastError(err);
                return false;
            }
        }
        if (!info->NextEntryOffset)
            return true;
        at += info->NextEntryOffset;
    }
}

} // namespace copyengine

bool CBackUpEngine::FlushToDisk(HANDLE hFile)
{
    if (SystemIo().FlushFile(hFile))
        return true;
    if (GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_WRITE_FAULT);
    return false;
}

bool IsFolder(const CString& strPath)
{
    CString s(strPath);
    if (EndsWithBackslash(s))
        s.Delete(s.GetLength() - 1, 1);
    if (s.IsEmpty() || s.FindOneOf(L"*?") >= 0)
        return false;
    if (s.GetLength() == 2 && s[1] == L':') {
        // A drive as letter and colon: a file find cannot name the root itself.
        DWORD a = GetFileAttributesW(ExtendedPath(s + L"\\"));
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    WIN32_FIND_DATAW fd;
    if (!CFindHandle(FindFirstFileW(ExtendedPath(s), &fd)))
        return false;
    return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CBackUpEngine::IsCompressedCopy(const CString& strStoredPath)
{
    return EndsWithZip(strStoredPath) && StartsWithCopyMarker(strStoredPath);
}

bool CBackUpEngine::StartsWithCopyMarker(const CString& strPath)
{
    CKernelHandle file(CreateFileW(ExtendedPath(strPath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD marker = 0, got = 0;
    BOOL ok = ReadFile(file.Get(), &marker, 4, &got, nullptr);
    file.Close();
    return ok && got == 4 && marker == 0xFFFFFFFFu;
}
