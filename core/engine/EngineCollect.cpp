// Collection: the walks of a backup's sources and of the store, with "skip unchanged"'s compare.

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

bool CBackUpEngine::IsStoredCopyCurrent(const CString& strSource, const CFileStamp& source,
                                        const CString& strStored, const std::map<CString, CFileStamp>* pStored,
                                        const std::set<CString>* pSourceNames)
{
    const int slash = strStored.ReverseFind(L'\\');
    const CString storedFolder = strStored.Left(slash + 1);
    const CString sourceFolder = strSource.Left(strSource.ReverseFind(L'\\') + 1);
    const CString name = strStored.Mid(slash + 1);
    // The time and size of the stored file of that name, when there is one.
    auto storedStamp = [&](const CString& strName, CFileStamp& stamp) {
        if (!pStored)
            return TimeAndSizeOf(storedFolder + strName, stamp.ftLastWrite, stamp.nSize);
        auto it = pStored->find(UpperName(strName));
        if (it == pStored->end())
            return false;
        stamp = it->second;
        return true;
    };
    // True when the source folder holds a file of that name.
    auto sourceHas = [&](const CString& strName) {
        if (!pSourceNames)
            return FileExists(sourceFolder + strName);
        return pSourceNames->count(UpperName(strName)) != 0;
    };
    // A plain copy holds the source's bytes, so a size of its own is an edit that the times
    // (2 s apart on FAT, 10 ms on exFAT, or a stored time that only lies on such a grid)
    // can hide.
    auto plainMatches = [&](const CFileStamp& stored) {
        return stored.nSize == source.nSize && StoredTimeMatches(stored.ftLastWrite, source.ftLastWrite);
    };
    auto compressedMatches = [&](const CFileStamp& stored) {
        return StoredTimeMatches(stored.ftLastWrite, source.ftLastWrite);
    };

    // "n.zip" in the store is both the compressed copy of "n" and the plain copy of "n.zip";
    // only the marker at its start and the source files present tell them apart.
    CFileStamp stored;
    if (!m_bCompress) {
        if (storedStamp(name, stored)) {
            if (!plainMatches(stored))
                return false;
            // A stored "n.zip" with the marker that this file lacks is the compressed copy of
            // "n", not a copy of this file.
            return !(EndsWithZip(name) && StartsWithCopyMarker(storedFolder + name) &&
                     !StartsWithCopyMarker(strSource));
        }
        // The compressed copy of an earlier run: "n.zip", unless a source "n.zip" owns that
        // name or it is no compressed copy at all.
        return storedStamp(name + L".zip", stored) && compressedMatches(stored) && !sourceHas(name + L".zip") &&
               StartsWithCopyMarker(storedFolder + name + L".zip");
    }
    if (storedStamp(name + L".zip", stored)) {
        if (!compressedMatches(stored))
            return false;
        // Beside a source "n.zip", a stored "n.zip" without the marker is that file's plain copy.
        return !sourceHas(name + L".zip") || StartsWithCopyMarker(storedFolder + name + L".zip");
    }
    // The plain copy of an earlier run: "n", unless this file is "m.zip" and the stored "n" can
    // be the compressed copy of a source "m", present now or deleted since (it then carries
    // the marker).
    if (!storedStamp(name, stored) || !plainMatches(stored))
        return false;
    return !(EndsWithZip(name) &&
             (sourceHas(name.Left(name.GetLength() - 4)) || StartsWithCopyMarker(storedFolder + name)));
}

bool CBackUpEngine::IsRestoreTargetCurrent(const CString& strStored, const CFileStamp& stored)
{
    // The same choice of target as the restore loop makes.
    CString target = StorePathToSourcePath(strStored);
    if (target.IsEmpty())
        return false;
    const bool bCompressed = EndsWithZip(target) && StartsWithCopyMarker(strStored);
    if (bCompressed)
        target = target.Left(target.GetLength() - 4);
    CFileStamp user;
    return TimeAndSizeOf(target, user.ftLastWrite, user.nSize) && (bCompressed || user.nSize == stored.nSize) &&
           StoredTimeMatches(stored.ftLastWrite, user.ftLastWrite);
}

namespace {

// One entry of a folder listing, as the walks keep it.
struct WalkEntry {
    CString strName;
    DWORD dwAttributes;
    DWORD dwReparseTag;
    FILETIME ftLastWrite;
    ULONGLONG nSize;
};

// A folder the walks go into: any folder but a link or a junction (a reparse point whose tag
// is a name surrogate). Those lead to folders that are backed up where they really are, or
// back up the tree itself; placeholders and the like hold the folder's own files. A reparse
// point without a tag (some systems show links so) is taken for a link.
bool IsWalkedFolder(const WalkEntry& e)
{
    return !(e.dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
           (e.dwReparseTag != 0 && !IsReparseTagNameSurrogate(e.dwReparseTag));
}

} // namespace

void CBackUpEngine::ReportUnlistedFolder(const CString& strFolder, DWORD dwError)
{
    // A drive root without any entry has no "." either: "no file found" there is an empty folder.
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_NO_MORE_FILES) {
        CString root(strFolder);
        if (root.GetLength() == 2)
            root += L"\\";
        DWORD attrs = GetFileAttributesW(ExtendedPath(root));
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
            return;
        dwError = attrs == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    }
    AddFailLine(strFolder, dwError);
}

void CBackUpEngine::CollectBackUpFiles(const CString& strPath, const CString& strStoreFolder)
{
    if (m_bCancel) {
        m_bDone = 1;
        return;
    }
    ClearEndedRunsOnce();
    // The target's own store is never backed up into itself.
    const CString store = NormalStoreFolder(strStoreFolder);
    if (IsInStore(strPath, store))
        return;
    if (strPath.GetLength() > 3 && !IsFolder(strPath)) {
        // One selected file, or a selection that has gone since (a file or a folder): that
        // is said, whatever the filter and the comparison would have made of it.
        if (GetFileAttributesW(ExtendedPath(strPath)) == INVALID_FILE_ATTRIBUTES) {
            AddFailLine(strPath, GetLastError());
            return;
        }
        CString name = strPath.Mid(strPath.ReverseFind(L'\\') + 1);
        if (!PassesFilter(name))
            return;
        if (m_bChangedOnly) {
            // Only a file whose time can be read is compared; any other is opened below and
            // reported.
            CFileStamp source{};
            if (TimeAndSizeOf(strPath, source.ftLastWrite, source.nSize) &&
                IsStoredCopyCurrent(strPath, source, strStoreFolder + L"\\" + RemoveFirstColon(strPath),
                                    nullptr, nullptr))
                return;
        }
        AddSelectedFile(strPath, FILE_SHARE_READ);
        return;
    }

    // A folder or a drive root ("C:" is walked as "C:\").
    WalkBackUpFolder(strPath, strStoreFolder, store);
}

namespace {

// Lists a folder (long-path form, no trailing backslash needed) into entries; false with the
// error when the listing could not begin or could not be finished.
bool ListFolder(const CString& strFolder, std::vector<WalkEntry>& entries, DWORD& dwError)
{
    WIN32_FIND_DATAW fd;
    CFindHandle find(SystemIo().FindFirst(JoinPath(strFolder, L"*"), &fd));
    if (!find) {
        dwError = GetLastError();
        return false;
    }
    do {
        if (IsDots(fd.cFileName))
            continue;
        entries.push_back(WalkEntry{fd.cFileName, fd.dwFileAttributes, fd.dwReserved0, fd.ftLastWriteTime,
                                    (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow});
    } while (SystemIo().FindNext(find.Get(), &fd));
    dwError = GetLastError();
    find.Close();
    return dwError == ERROR_NO_MORE_FILES;
}

} // namespace

void CBackUpEngine::WalkBackUpFolder(const CString& walked, const CString& strStoreFolder,
                                     const CString& strStore)
{
    std::vector<WalkEntry> entries;
    DWORD err = 0;
    if (!ListFolder(ExtendedPath(walked.GetLength() <= 2 ? walked + L"\\" : walked), entries, err)) {
        ReportUnlistedFolder(walked, err);
        // What was listed before a device error is still collected.
    }
    if (entries.empty())
        return;
    bool atSystemRoot = walked.GetLength() < 3 && walked.CompareNoCase(m_strSystemDrive) == 0;
    // "Skip unchanged" compares with the stored folder's listing, and asks which files lie
    // beside each other here.
    std::map<CString, CFileStamp> storedStamps;
    std::set<CString> sourceNames;
    const CString storedFolder = JoinPath(strStoreFolder + L"\\" + RemoveFirstColon(walked), L"");
    if (m_bChangedOnly) {
        std::vector<WalkEntry> stored;
        DWORD storedErr = 0;
        ListFolder(ExtendedPath(storedFolder), stored, storedErr);
        for (const WalkEntry& e : stored) {
            if (e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            storedStamps[UpperName(e.strName)] = CFileStamp{e.ftLastWrite, e.nSize};
        }
        for (const WalkEntry& e : entries) {
            if (e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            sourceNames.insert(UpperName(e.strName));
        }
    }
    // Names the store holds once: of two that differ only in letter case, the first is taken.
    std::set<CString> taken;
    for (const WalkEntry& e : entries) {
        if (m_bCancel) {
            m_bDone = 1;
            break;
        }
        const CString& name = e.strName;
        if ((e.dwAttributes & FILE_ATTRIBUTE_SYSTEM) && !IsSystemFolderName(name))
            continue;
        CString child = JoinPath(walked, name);
        if (e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (atSystemRoot && !IsNotSystemFolder(name))
                continue;
            if (!IsWalkedFolder(e))
                continue;
            if (IsInStore(child, strStore))
                continue;
            if (!TakeName(taken, child, name))
                continue;
            WalkBackUpFolder(child, strStoreFolder, strStore);
            continue;
        }
        if (!PassesFilter(name))
            continue;
        if (!TakeName(taken, child, name))
            continue;
        if (m_bChangedOnly &&
            IsStoredCopyCurrent(child, CFileStamp{e.ftLastWrite, e.nSize}, storedFolder + name, &storedStamps,
                                &sourceNames))
            continue;
        AddFile(child, e.nSize);
    }
}

void CBackUpEngine::CollectFolderFiles(const CString& strPath)
{
    if (m_bCancel) {
        m_bDone = 1;
        return;
    }
    ClearEndedRunsOnce();
    if (IsFolder(strPath)) {
        WalkStoreFolder(strPath);
        return;
    }

    // One selected stored file (one that has gone since is reported by the open below).
    if (m_bChangedOnly) {
        CFileStamp stored{};
        if (TimeAndSizeOf(strPath, stored.ftLastWrite, stored.nSize) && IsRestoreTargetCurrent(strPath, stored))
            return;
    }
    // Read-only and existing only: a selection that has gone stale must not create a file
    // in the store.
    AddSelectedFile(strPath, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

void CBackUpEngine::AddSelectedFile(const CString& strPath, DWORD dwShare)
{
    CKernelHandle file(CreateFileW(ExtendedPath(strPath), GENERIC_READ, dwShare, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        AddFailLine(strPath, GetLastError());
        return;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file.Get(), &size);
    file.Close();
    AddFile(strPath, static_cast<ULONGLONG>(size.QuadPart));
}

void CBackUpEngine::WalkStoreFolder(const CString& strPath)
{
    std::vector<WalkEntry> entries;
    DWORD err = 0;
    if (!ListFolder(ExtendedPath(strPath.GetLength() <= 2 ? strPath + L"\\" : strPath), entries, err))
        ReportUnlistedFolder(strPath, err);
    const bool bStoreRoot = IsStoreFolderPath(strPath);
    std::set<CString> taken;
    for (const WalkEntry& e : entries) {
        if (m_bCancel) {
            m_bDone = 1;
            break;
        }
        const CString& name = e.strName;
        CString child = JoinPath(strPath, name);
        if (e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (strPath.GetLength() < 3 && (name.CompareNoCase(L"System Volume Information") == 0 ||
                                            name.CompareNoCase(L"RECYCLER") == 0))
                continue;
            if (strPath.GetLength() < 4 && name.CompareNoCase(kStoreName) == 0)
                continue;
            // The engine's own folder holds no stored file.
            if (bStoreRoot && name.CompareNoCase(kEngineFolderName) == 0)
                continue;
            if (!IsWalkedFolder(e))
                continue;
            if (!TakeName(taken, child, name))
                continue;
            WalkStoreFolder(child);
            continue;
        }
        // Old records of temporary copies lie beside the drive-letter folders, where no
        // stored file does.
        if (bStoreRoot && IsLegacyRecordName(name))
            continue;
        if (!TakeName(taken, child, name))
            continue;
        if (m_bChangedOnly && IsRestoreTargetCurrent(child, CFileStamp{e.ftLastWrite, e.nSize}))
            continue;
        AddFile(child, e.nSize);
    }
}

void CBackUpEngine::ListStoreDrives(const CString& strStoreFolder)
{
    WIN32_FIND_DATAW fd;
    CFindHandle find(FindFirstFileW(JoinPath(ExtendedPath(strStoreFolder), L"*"), &fd));
    if (!find)
        return;
    do {
        // (The engine's own folder has a longer name.)
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDots(fd.cFileName) &&
            fd.cFileName[0] && !fd.cFileName[1] && _wcsicmp(fd.cFileName, kEngineFolderName) != 0)
            m_arrDriveRoots.Add(CString(fd.cFileName) + L":\\");
    } while (FindNextFileW(find.Get(), &fd));
}

bool CBackUpEngine::TakeName(std::set<CString>& taken, const CString& strPath, const CString& strName)
{
    if (taken.insert(UpperName(strName)).second)
        return true;
    AddFailLineText(strPath, m_strSameNameText);
    return false;
}
