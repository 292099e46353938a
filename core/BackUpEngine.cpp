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
#include "LegacyTempRecords.h"
#include "LongPath.h"
#include "SharedFunctions.h"
#include "StoreTimes.h"
#include "SystemIo.h"
#include "WriteQueue.h"

bool CBackUpEngine::s_bSystemCopyAlways = false;
int CBackUpEngine::s_nCopyLanes = 0;
const wchar_t kSelectionTooLargeText[] =
    L"The selection is too large for the memory of this computer; the run was stopped and nothing more was copied.";
const wchar_t kSameNameInOtherCaseText[] =
    L"A file of the same name in another letter case is stored; this one was not copied.";

// The progress timer reads the byte counters while the worker writes them; on a 32-bit
// machine they must not be split into two 32-bit halves.
static_assert(std::atomic<ULONGLONG>::is_always_lock_free, "64-bit counters must be lock-free");

namespace {

const wchar_t kStoreName[] = L"VEZORI";
// Engines alive; the first creates the write-queue objects and the last releases them.
int g_nEngines = 0;
// The copy lane of a further copy thread of a plain backup; none on any other thread.
thread_local void* t_pLane = nullptr;
// Files copied at once by a plain backup at most, by default.
const int kDefaultCopyLanes = 3;

// Holds a critical section for its scope, also when the scope is left by an exception.
class CSectionHold {
public:
    explicit CSectionHold(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CSectionHold() { LeaveCriticalSection(&m_cs); }
    CSectionHold(const CSectionHold&) = delete;
    CSectionHold& operator=(const CSectionHold&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

// Runs its action when its scope is left by an exception (memory running out), and only then:
// the ordinary ways out of a copy clean up after themselves. The action must not allocate.
template <class Action>
class COnUnwind {
public:
    explicit COnUnwind(Action action) : m_action(action), m_nExceptions(std::uncaught_exceptions()) {}
    ~COnUnwind()
    {
        if (std::uncaught_exceptions() > m_nExceptions)
            m_action();
    }
    COnUnwind(const COnUnwind&) = delete;
    COnUnwind& operator=(const COnUnwind&) = delete;

private:
    Action m_action;
    int m_nExceptions;
};

// Removes a temporary copy whose name is in the long-path form already (as CTempCopies makes
// it), without a call that allocates; a copy moved into place meanwhile is not there any more.
// True when it is gone.
bool DropTempCopy(const CString& strTemp)
{
    if (strTemp.IsEmpty())
        return false;
    SetFileAttributesW(strTemp, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(strTemp) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool IsDots(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool EndsWithBackslash(const CString& s)
{
    return !s.IsEmpty() && s[s.GetLength() - 1] == L'\\';
}

// "C:\dir\f" gives "C\dir\f": the path as it is mirrored below the store folder.
// A colon at the first character stays.
CString RemoveFirstColon(const CString& strPath)
{
    CString s(strPath);
    int colon = s.Find(L':');
    if (colon > 0)
        s.Delete(colon, 1);
    return s;
}

// A source path the store can mirror: a drive letter, a colon and a backslash.
bool IsDrivePath(const CString& s)
{
    wchar_t c = s[0];
    return s.GetLength() >= 3 && ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) &&
           s[1] == L':' && s[2] == L'\\';
}

bool LastWriteTimeOf(const CString& strPath, FILETIME& ft)
{
    if (strPath.IsEmpty() || strPath.FindOneOf(L"*?") >= 0)
        return false;
    // A file find: it reads the entry also of a file that someone holds open exclusively.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(ExtendedPath(strPath), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    ft = fd.ftLastWriteTime;
    return true;
}

bool FileExists(const CString& strPath)
{
    DWORD a = GetFileAttributesW(ExtendedPath(strPath));
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// Clears the attributes (so that read-only files go too) and deletes; on failure the file
// gets its attributes back and the error stays the deletion's.
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

// Moves the finished temporary copy over the final name in one step, so that the final name
// always holds either the old or the new complete file. A read-only (or hidden or system)
// old file refuses to be replaced until its attributes are cleared.
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

// The name in upper case: the key of the walks' name sets and maps.
CString UpperName(const CString& strName)
{
    CString s(strName);
    s.MakeUpper();
    return s;
}

// The store folder as a path prefix: no trailing backslash, no doubled one after a root.
CString NormalStoreFolder(const CString& strStoreFolder)
{
    CString s(strStoreFolder);
    int twice;
    while ((twice = s.Find(L"\\\\", 2)) >= 0)
        s.Delete(twice, 1);
    while (s.GetLength() > 3 && EndsWithBackslash(s))
        s.Delete(s.GetLength() - 1, 1);
    return s;
}

// True when the path is the store folder or lies below it.
bool IsInStore(const CString& strPath, const CString& strStore)
{
    if (strStore.IsEmpty())
        return false;
    CString path = NormalStoreFolder(strPath);
    int n = strStore.GetLength();
    if (path.GetLength() < n || path.Left(n).CompareNoCase(strStore) != 0)
        return false;
    return path.GetLength() == n || path[n] == L'\\';
}

// Gives the target the times and attributes of the source.
void CopySourceState(const CString& strSource, const CString& strTargetPath)
{
    const CString strTarget = ExtendedPath(strTargetPath);
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(ExtendedPath(strSource), GetFileExInfoStandard, &d))
        return;
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                           FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD attrs = d.dwFileAttributes & settable;
    if (!attrs)
        attrs = FILE_ATTRIBUTE_NORMAL;
    HANDLE h = CreateFileW(strTarget, FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetFileAttributesW(strTarget, attrs);
        return;
    }
    auto li = [](const FILETIME& ft) {
        LARGE_INTEGER v;
        v.LowPart = ft.dwLowDateTime;
        v.HighPart = static_cast<LONG>(ft.dwHighDateTime);
        return v;
    };
    FILE_BASIC_INFO bi{};
    bi.CreationTime = li(d.ftCreationTime);
    bi.LastAccessTime = li(d.ftLastAccessTime);
    bi.LastWriteTime = li(d.ftLastWriteTime);
    bi.FileAttributes = attrs;
    // Times and attributes in one call; the two-step way where a file system refuses it.
    bool done = SetFileInformationByHandle(h, FileBasicInfo, &bi, sizeof bi) != FALSE;
    if (!done)
        SetFileTime(h, &d.ftCreationTime, &d.ftLastAccessTime, &d.ftLastWriteTime);
    CloseHandle(h);
    if (!done)
        SetFileAttributesW(strTarget, attrs);
}

// The source's times and attributes as the handle call takes them.
FILE_BASIC_INFO BasicInfoOf(const WIN32_FILE_ATTRIBUTE_DATA& d)
{
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                           FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO bi{};
    bi.CreationTime.LowPart = d.ftCreationTime.dwLowDateTime;
    bi.CreationTime.HighPart = static_cast<LONG>(d.ftCreationTime.dwHighDateTime);
    bi.LastAccessTime.LowPart = d.ftLastAccessTime.dwLowDateTime;
    bi.LastAccessTime.HighPart = static_cast<LONG>(d.ftLastAccessTime.dwHighDateTime);
    bi.LastWriteTime.LowPart = d.ftLastWriteTime.dwLowDateTime;
    bi.LastWriteTime.HighPart = static_cast<LONG>(d.ftLastWriteTime.dwHighDateTime);
    bi.FileAttributes = d.dwFileAttributes & settable;
    if (!bi.FileAttributes)
        bi.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return bi;
}

// Gives the finished temporary copy the source's times and attributes and moves it over the
// final name, through one handle where the file system allows it: per small file that is a
// fraction of the calls that setting them by name and moving by name take. Where the handle
// way is refused (an old file that is read-only, hidden or system, or a file system without
// renames by handle), the steps by name do it, with the same result.
// pEntry: the source's entry when the caller has read it already (before the copy, so that a
// source changed during the copy keeps a newer time than its stored copy and goes again).
// hTemp: the temporary copy's handle when the caller holds one with write-attribute and
// delete access, else INVALID_HANDLE_VALUE; a handle opened here is kept in it too. It is closed
// here and set to INVALID_HANDLE_VALUE as it is, so that a caller cleaning up after an exception
// (memory running out on the way) closes what is still open, and nothing twice.
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

// True when the file has a data stream besides its main one (NTFS). A file system that cannot
// tell has none; bUnsupported is set then, so the caller need not ask again for that drive.
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

// The size, times and attributes of an open file. (Not GetFileInformationByHandle: it also
// asks for the volume's serial number, which some systems answer slowly.)
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

// Puts what was written to a copy on the disk: the stream of the handle and, with bStreams,
// every further data stream of the file at strPath (each stream is flushed through a handle
// of its own). False with the error when any of them cannot be flushed.
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
            HANDLE hStream = CreateFileW(path + name, GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (hStream == INVALID_HANDLE_VALUE)
                return false;
            const bool flushed = CBackUpEngine::FlushToDisk(hStream);
            const DWORD err = GetLastError();
            CloseHandle(hStream);
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

} // namespace

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
    HANDLE h = FindFirstFileW(ExtendedPath(s), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

DWORD CALLBACK BackUpCopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER,
                                  LARGE_INTEGER StreamBytesTransferred, DWORD dwStreamNumber,
                                  DWORD, HANDLE, HANDLE, LPVOID lpData)
{
    CBackUpEngine* pEngine = static_cast<CBackUpEngine*>(lpData);
    if (StreamBytesTransferred.QuadPart > 0)
        pEngine->AddCopyProgress(dwStreamNumber,
                                 static_cast<ULONGLONG>(StreamBytesTransferred.QuadPart));
    // The plain copy pauses here, inside the system's copy.
    pEngine->WaitWhilePaused();
    return pEngine->m_bCancel ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

CBackUpEngine::CBackUpEngine()
    : m_strMemoryFailText(kSelectionTooLargeText), m_strSameNameText(kSameNameInOtherCaseText)
{
    InitializeCriticalSection(&m_csCurrentFile);
    InitializeCriticalSection(&m_csStreamCopy);
    InitializeCriticalSection(&m_csDiskTurn);
    InitializeConditionVariable(&m_cvDiskTurn);
    Reset();
    m_hMutex = CreateMutexW(nullptr, FALSE, nullptr);
    if (g_nEngines++ == 0) {
        g_hWriteDoneEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        InitializeCriticalSection(&g_csWriteQueue);
    }
    g_pBackUpEngine = this;
}

CBackUpEngine::~CBackUpEngine()
{
    EndTempRecord();
    CloseSourceFile();
    m_lane.CloseSource();
    if (m_hMutex)
        CloseHandle(m_hMutex);
    DeleteCriticalSection(&m_csCurrentFile);
    DeleteCriticalSection(&m_csStreamCopy);
    DeleteCriticalSection(&m_csDiskTurn);
    if (m_hPauseEvent)
        CloseHandle(m_hPauseEvent);
    if (--g_nEngines == 0) {
        if (g_hWriteDoneEvent)
            CloseHandle(g_hWriteDoneEvent);
        g_hWriteDoneEvent = nullptr;
        DeleteCriticalSection(&g_csWriteQueue);
    }
    if (g_pBackUpEngine == this)
        g_pBackUpEngine = nullptr;
    m_arrFiles.RemoveAll();
    m_arrDriveRoots.RemoveAll();
}

void CBackUpEngine::Reset()
{
    m_arrFiles.RemoveAll();
    g_bWriteQueueClosed = 0;
    m_nTotalFiles = 0;
    m_nDoneFiles = 0;
    m_nTotalBytes = 0;
    m_nDoneBytes = 0;
    m_nFileDoneBytes = 0;
    m_nFileBytes = 0;
    m_bScanning = 0;
    m_bCompress = 0;
    m_bRestore = 0;
    m_bChangedOnly = 0;
    m_bCancel = 0;
    m_bFileStarted = 0;
    m_bDone = 0;
    // The progress dialog makes a new pause event for every start and owns the old one.
    m_hPauseEvent = nullptr;
    EnterCriticalSection(&m_csCurrentFile);
    m_strCurrentFile.Empty();
    LeaveCriticalSection(&m_csCurrentFile);
    m_strTargetRoot.Empty();
    m_strFileTypes.Empty();
    m_nLastCopyProgress = 0;
    m_dwLastCopyStream = 0;
    m_lane.Clear();
    m_nCurrentLane = 0;
    m_nNoStreamInfoDrives = 0;
    m_bLaneOutOfMemory = false;
    wchar_t sysDir[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryW(sysDir, MAX_PATH);
    m_strSystemDrive = CString(sysDir, n >= 2 && n <= MAX_PATH ? 2 : 0);
}

CString CBackUpEngine::GetCurrentFileName()
{
    CSectionHold hold(m_csCurrentFile);
    return CString(m_strCurrentFile.GetString(), m_strCurrentFile.GetLength());
}

void CBackUpEngine::SetCurrentFile(const CString& strSource)
{
    // Copied before the lock: a copy that cannot be made leaves the lock free.
    CString name(strSource);
    CSectionHold hold(m_csCurrentFile);
    m_strCurrentFile = std::move(name);
}

void CBackUpEngine::FileStarted(const CString& strSource)
{
    CCopyLane& lane = Lane();
    CString name(strSource);
    EnterCriticalSection(&m_csCurrentFile);
    m_nCurrentLane = lane.nId;
    m_strCurrentFile = std::move(name);
    m_nFileBytes = lane.nSize;
    m_nFileDoneBytes = 0;
    m_bFileStarted = 1;
    LeaveCriticalSection(&m_csCurrentFile);
    lane.nSize = 0;
}

void CBackUpEngine::AddFileDone(const CCopyLane& lane, ULONGLONG n)
{
    EnterCriticalSection(&m_csCurrentFile);
    if (m_nCurrentLane == lane.nId)
        m_nFileDoneBytes += n;
    LeaveCriticalSection(&m_csCurrentFile);
}

void CBackUpEngine::SetFileDone(const CCopyLane& lane, ULONGLONG n)
{
    EnterCriticalSection(&m_csCurrentFile);
    if (m_nCurrentLane == lane.nId)
        m_nFileDoneBytes = n;
    LeaveCriticalSection(&m_csCurrentFile);
}

bool CBackUpEngine::ReadFileProgress(ULONGLONG& nDone, ULONGLONG& nSize, CString* pNewName)
{
    bool bStarted = false;
    CSectionHold hold(m_csCurrentFile);
    nDone = m_nFileDoneBytes;
    nSize = m_nFileBytes;
    if (pNewName && m_bFileStarted.exchange(0)) {
        *pNewName = CString(m_strCurrentFile.GetString(), m_strCurrentFile.GetLength());
        bStarted = true;
    }
    return bStarted;
}

void CBackUpEngine::CCopyLane::Clear()
{
    CloseSource();
    bSourceEntry = false;
    nSize = 0;
    strEnteredFolder.Empty();
    mapEnteredNames.clear();
    bEnteredListed = false;
    strMadeFolder.Empty();
    strNewFolder.Empty();
    pFails = nullptr;
    bPauseChecked = false;
}

void CBackUpEngine::CCopyLane::CloseSource() { hSource.Close(); }

CBackUpEngine::CCopyLane& CBackUpEngine::Lane()
{
    return t_pLane ? *static_cast<CCopyLane*>(t_pLane) : m_lane;
}

void CBackUpEngine::HoldWhilePaused()
{
    // Asking the pause event is a call into the system, and under some systems a costly one
    // beside the copy of a small file: each thread asks at its first file and then no more
    // often than every kPauseCheckMs, so a pause holds the copy within that time (and the
    // file under way).
    CCopyLane& lane = Lane();
    const ULONGLONG now = GetTickCount64();
    if (lane.bPauseChecked && now - lane.nPauseCheckedAt < kPauseCheckMs)
        return;
    WaitWhilePaused();
    lane.bPauseChecked = true;
    lane.nPauseCheckedAt = GetTickCount64();
}

void CBackUpEngine::WaitWhilePaused()
{
    if (m_hPauseEvent)
        WaitForSingleObject(m_hPauseEvent, INFINITE);
}

void CBackUpEngine::AddFailLine(const CString& strPath, DWORD dwError)
{
    // The path as the user knows it, whichever form the call was made with.
    const CString line = DisplayPath(strPath) + L";" + FormatSystemError(dwError);
    CCopyLane& lane = Lane();
    if (lane.pFails)
        lane.pFails->push_back(line);
    else if (m_pFailList)
        m_pFailList->InsertStringAndSelect(line);
}

void CBackUpEngine::AddCancelLine(const CString& strPath)
{
    if (!m_bLaneOutOfMemory) {
        AddFailLine(strPath, ERROR_CANCELLED);
        return;
    }
    const CString line = DisplayPath(strPath) + L";" + m_strMemoryFailText;
    CCopyLane& lane = Lane();
    if (lane.pFails)
        lane.pFails->push_back(line);
    else if (m_pFailList)
        m_pFailList->InsertStringAndSelect(line);
}

void CBackUpEngine::EndOutOfMemory()
{
    m_bCancel = 1;
    // The list is what fills the memory of a large selection: it goes first (storage and all),
    // so that what follows finds room again.
    m_arrFiles = CStringArray();
    m_lane.CloseSource();
    m_lane.pFails = nullptr;
    m_bMarkerKnown = false;
    m_bLanes = false;
    try {
        EndTempRecord();
    } catch (const std::bad_alloc&) {
        // The record stays for a later run to clear.
    }
    try {
        if (m_pFailList)
            m_pFailList->InsertStringAndSelect(m_strTargetRoot + L";" + m_strMemoryFailText);
    } catch (const std::bad_alloc&) {
        // Not even the line fits: the run ends without it.
    }
    m_bDone = 1;
}

void CBackUpEngine::AddFile(const CString& strPath, ULONGLONG nSize)
{
    m_nTotalBytes += nSize;
    m_nTotalFiles++;
    m_arrFiles.Add(strPath);
}

void CBackUpEngine::AddCopyProgress(DWORD dwStreamNumber, ULONGLONG nStreamBytesTransferred)
{
    if (dwStreamNumber != m_dwLastCopyStream) {
        m_dwLastCopyStream = dwStreamNumber;
        m_nLastCopyProgress = 0;
    }
    if (nStreamBytesTransferred <= m_nLastCopyProgress)
        return;
    ULONGLONG delta = nStreamBytesTransferred - m_nLastCopyProgress;
    m_nLastCopyProgress = nStreamBytesTransferred;
    m_nStreamCopyCounted += delta;
    m_nDoneBytes += delta;
    AddFileDone(Lane(), delta);
}

// ---------------------------------------------------------------------------------------------
// Names, extensions and the store layout

namespace {

// What may stand between the items of a typed extension list.
bool IsListSeparator(wchar_t c)
{
    return c == L',' || c == L';' || c == 0xFF0C;   // the last: the full-width comma
}

// One typed item as the bare extension it stands for, in upper case: " .pdf", "*.pdf" and
// "PDF" all give "PDF".
CString BareExtension(CString item)
{
    item.Trim();
    int skip = 0;
    while (skip < item.GetLength() && (item[skip] == L'*' || item[skip] == L'.'))
        ++skip;
    item.Delete(0, skip);
    item.Trim();
    item.MakeUpper();
    return item;
}

// True when the name ends with ".zip" in any letter case and has something before it.
bool EndsWithZip(const CString& strName)
{
    return strName.GetLength() > 4 && strName.Right(4).CompareNoCase(L".zip") == 0;
}

} // namespace

CString CBackUpEngine::GetExtension(const CString& strName)
{
    int dot = strName.ReverseFind(L'.');
    return dot >= 1 ? strName.Mid(dot + 1) : CString();
}

bool CBackUpEngine::PassesFilter(const CString& strName) const
{
    // A name without an extension never passes a filter.
    if (m_strFileTypes.IsEmpty())
        return true;
    return strName.ReverseFind(L'.') >= 1 && IsInExtensionList(m_strFileTypes, GetExtension(strName));
}

bool CBackUpEngine::IsInExtensionList(const CString& strList, const CString& strExtension)
{
    CString ext(strExtension);
    ext.MakeUpper();
    if (!strList.IsEmpty() && strList[0] == L',') {
        CString list(strList);
        list.MakeUpper();
        return list == ext;
    }
    const int n = strList.GetLength();
    for (int start = 0; start <= n;) {
        int end = start;
        while (end < n && !IsListSeparator(strList[end]))
            ++end;
        if (BareExtension(strList.Mid(start, end - start)) == ext)
            return true;
        start = end + 1;
    }
    return false;
}

int CBackUpEngine::IsNotSystemFolder(const CString& strName)
{
    return IsSystemFolderName(strName) ? 0 : 1;
}

CString CBackUpEngine::StorePathToSourcePath(const CString& strStorePath)
{
    // ...\VEZORI\<letter>\<rest> -> <letter>:\<rest>
    CString upper(strStorePath);
    upper.MakeUpper();
    int pos = upper.Find(L"\\VEZORI\\");
    if (pos < 0)
        return CString();
    int letter = pos + 8;
    wchar_t c = strStorePath[letter];
    bool isLetter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
    if (!isLetter || strStorePath[letter + 1] != L'\\' || strStorePath.GetLength() <= letter + 2)
        return CString();
    return CString(c) + L":" + strStorePath.Mid(letter + 1);
}

bool CBackUpEngine::IsCompressedCopy(const CString& strStoredPath)
{
    return EndsWithZip(strStoredPath) && StartsWithCopyMarker(strStoredPath);
}

bool CBackUpEngine::StartsWithCopyMarker(const CString& strPath)
{
    HANDLE h = CreateFileW(ExtendedPath(strPath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD marker = 0, got = 0;
    BOOL ok = ReadFile(h, &marker, 4, &got, nullptr);
    CloseHandle(h);
    return ok && got == 4 && marker == 0xFFFFFFFFu;
}

bool CBackUpEngine::IsStoredCopyCurrent(const CString& strSource, const FILETIME& ftSource,
                                        const CString& strStored,
                                        const std::map<CString, FILETIME>* pStoredTimes,
                                        const std::set<CString>* pSourceNames)
{
    const int slash = strStored.ReverseFind(L'\\');
    const CString storedFolder = strStored.Left(slash + 1);
    const CString sourceFolder = strSource.Left(strSource.ReverseFind(L'\\') + 1);
    const CString name = strStored.Mid(slash + 1);
    // The time of the stored file of that name, when there is one.
    auto storedTime = [&](const CString& strName, FILETIME& ft) {
        if (!pStoredTimes)
            return LastWriteTimeOf(storedFolder + strName, ft);
        auto it = pStoredTimes->find(UpperName(strName));
        if (it == pStoredTimes->end())
            return false;
        ft = it->second;
        return true;
    };
    // True when the source folder holds a file of that name.
    auto sourceHas = [&](const CString& strName) {
        if (!pSourceNames)
            return FileExists(sourceFolder + strName);
        return pSourceNames->count(UpperName(strName)) != 0;
    };

    // "n.zip" in the store is both the compressed copy of "n" and the plain copy of "n.zip";
    // only the marker at its start and the source files present tell them apart.
    FILETIME ft;
    if (!m_bCompress) {
        if (storedTime(name, ft)) {
            if (!StoredTimeMatches(ft, ftSource))
                return false;
            // A stored "n.zip" with the marker that this file lacks is the compressed copy of
            // "n", not a copy of this file.
            return !(EndsWithZip(name) && StartsWithCopyMarker(storedFolder + name) &&
                     !StartsWithCopyMarker(strSource));
        }
        // The compressed copy of an earlier run: "n.zip", unless a source "n.zip" owns that
        // name or it is no compressed copy at all.
        return storedTime(name + L".zip", ft) && StoredTimeMatches(ft, ftSource) && !sourceHas(name + L".zip") &&
               StartsWithCopyMarker(storedFolder + name + L".zip");
    }
    if (storedTime(name + L".zip", ft)) {
        if (!StoredTimeMatches(ft, ftSource))
            return false;
        // Beside a source "n.zip", a stored "n.zip" without the marker is that file's plain copy.
        return !sourceHas(name + L".zip") || StartsWithCopyMarker(storedFolder + name + L".zip");
    }
    // The plain copy of an earlier run: "n", unless this file is "m.zip" and the stored "n" can
    // be the compressed copy of a source "m", present now or deleted since (it then carries
    // the marker).
    if (!storedTime(name, ft) || !StoredTimeMatches(ft, ftSource))
        return false;
    return !(EndsWithZip(name) &&
             (sourceHas(name.Left(name.GetLength() - 4)) || StartsWithCopyMarker(storedFolder + name)));
}

bool CBackUpEngine::IsRestoreTargetCurrent(const CString& strStored, const FILETIME& ftStored)
{
    // The same choice of target as the restore loop makes.
    CString target = StorePathToSourcePath(strStored);
    if (target.IsEmpty())
        return false;
    if (EndsWithZip(target) && StartsWithCopyMarker(strStored))
        target = target.Left(target.GetLength() - 4);
    FILETIME ft;
    return LastWriteTimeOf(target, ft) && StoredTimeMatches(ftStored, ft);
}

// ---------------------------------------------------------------------------------------------
// Collection

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
            FILETIME source{};
            if (LastWriteTimeOf(strPath, source) &&
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
    HANDLE hFind = SystemIo().FindFirst(JoinPath(strFolder, L"*"), &fd);
    if (hFind == INVALID_HANDLE_VALUE) {
        dwError = GetLastError();
        return false;
    }
    do {
        if (IsDots(fd.cFileName))
            continue;
        entries.push_back(WalkEntry{fd.cFileName, fd.dwFileAttributes, fd.dwReserved0, fd.ftLastWriteTime,
                                    (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow});
    } while (SystemIo().FindNext(hFind, &fd));
    dwError = GetLastError();
    FindClose(hFind);
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
    std::map<CString, FILETIME> storedTimes;
    std::set<CString> sourceNames;
    const CString storedFolder = JoinPath(strStoreFolder + L"\\" + RemoveFirstColon(walked), L"");
    if (m_bChangedOnly) {
        std::vector<WalkEntry> stored;
        DWORD storedErr = 0;
        ListFolder(ExtendedPath(storedFolder), stored, storedErr);
        for (const WalkEntry& e : stored) {
            if (e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            storedTimes[UpperName(e.strName)] = e.ftLastWrite;
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
            IsStoredCopyCurrent(child, e.ftLastWrite, storedFolder + name, &storedTimes, &sourceNames))
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
        FILETIME ftStored{};
        if (LastWriteTimeOf(strPath, ftStored) && IsRestoreTargetCurrent(strPath, ftStored))
            return;
    }
    // Read-only and existing only: a selection that has gone stale must not create a file
    // in the store.
    AddSelectedFile(strPath, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

void CBackUpEngine::AddSelectedFile(const CString& strPath, DWORD dwShare)
{
    HANDLE h = CreateFileW(ExtendedPath(strPath), GENERIC_READ, dwShare, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        AddFailLine(strPath, GetLastError());
        return;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    CloseHandle(h);
    AddFile(strPath, static_cast<ULONGLONG>(size.QuadPart));
}

namespace {

// True when the folder is a store folder: its last name is "VEZORI".
bool IsStoreFolderPath(const CString& strPath)
{
    CString s(strPath);
    while (EndsWithBackslash(s))
        s.Delete(s.GetLength() - 1, 1);
    return s.Mid(s.ReverseFind(L'\\') + 1).CompareNoCase(kStoreName) == 0;
}

} // namespace

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
        if (m_bChangedOnly && IsRestoreTargetCurrent(child, e.ftLastWrite))
            continue;
        AddFile(child, e.nSize);
    }
}

void CBackUpEngine::ListStoreDrives(const CString& strStoreFolder)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(JoinPath(ExtendedPath(strStoreFolder), L"*"), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        // (The engine's own folder has a longer name.)
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDots(fd.cFileName) &&
            fd.cFileName[0] && !fd.cFileName[1] && _wcsicmp(fd.cFileName, kEngineFolderName) != 0)
            m_arrDriveRoots.Add(CString(fd.cFileName) + L":\\");
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
}

// ---------------------------------------------------------------------------------------------
// Copying

bool CBackUpEngine::OpenPlainSource(const CString& strSource)
{
    CCopyLane& lane = Lane();
    lane.bSourceEntry = false;
    lane.CloseSource();
    CKernelHandle source(CreateFileW(ExtendedPath(strSource), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source || !EntryOf(source.Get(), lane.sourceEntry)) {
        DWORD err = GetLastError();
        source.Close();
        AddFailLine(strSource, err);
        return false;
    }
    lane.hSource = std::move(source);
    lane.nSize = (static_cast<ULONGLONG>(lane.sourceEntry.nFileSizeHigh) << 32) | lane.sourceEntry.nFileSizeLow;
    lane.bSourceEntry = true;
    return true;
}

void CBackUpEngine::CloseSourceFile() { m_hSourceFile.Close(); }

bool CBackUpEngine::TakeSourceSize(const CString& strSource, DWORD* pMarker)
{
    CCopyLane& lane = Lane();
    lane.bSourceEntry = false;
    if (!pMarker) {
        // The size alone comes from the file's entry: one call instead of an open, a query
        // and a close; the copy takes its times and attributes from the same entry. A file
        // that cannot be read fails in the copy, with its fail line there.
        if (!GetFileAttributesExW(ExtendedPath(strSource), GetFileExInfoStandard, &lane.sourceEntry)) {
            AddFailLine(strSource, GetLastError());
            return false;
        }
        lane.nSize = (static_cast<ULONGLONG>(lane.sourceEntry.nFileSizeHigh) << 32) |
                     lane.sourceEntry.nFileSizeLow;
        lane.bSourceEntry = true;
        return true;
    }
    HANDLE h = CreateFileW(ExtendedPath(strSource), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        AddFailLine(strSource, GetLastError());
        return false;
    }
    if (pMarker) {
        DWORD got = 0;
        if (!ReadFile(h, pMarker, 4, &got, nullptr) || got != 4)
            *pMarker = 0;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    lane.nSize = static_cast<ULONGLONG>(size.QuadPart);
    CloseHandle(h);
    return true;
}

void CBackUpEngine::BackUpFileList(const CString& strStoreFolder)
{
    m_lane.bPauseChecked = false;
    // (Done already when the run collected: a list handed over by itself needs it too.)
    ClearEndedRunsOnce();
    SetTempStore(strStoreFolder);
    const int lanes = m_bCompress ? 1 : CopyLanesFor(m_arrFiles.GetSize());
    if (lanes > 1) {
        BackUpInLanes(strStoreFolder, lanes);
    } else {
        for (INT_PTR i = 0; i < m_arrFiles.GetSize(); ++i)
            if (!BackUpListedFile(i, strStoreFolder))
                break;
    }
    EndTempRecord();
    m_bDone = 1;
}

bool CBackUpEngine::BackUpListedFile(INT_PTR i, const CString& strStoreFolder)
{
    HoldWhilePaused();
    if (m_bCancel)
        return false;
    // A listed path in the long-path form is copied as the path it stands for.
    CString source = DisplayPath(m_arrFiles[i]);
    if (!IsDrivePath(source)) {
        AddFailLine(source, ERROR_BAD_PATHNAME);
        return true;
    }
    CString target = strStoreFolder + L"\\" + RemoveFirstColon(source);
    // A plain copy reads the source through the handle that takes its size.
    if (!(m_bCompress ? TakeSourceSize(source, nullptr) : OpenPlainSource(source)))
        return true;
    CCopyLane& lane = Lane();
    const ULONGLONG size = (static_cast<ULONGLONG>(lane.sourceEntry.nFileSizeHigh) << 32) |
                           lane.sourceEntry.nFileSizeLow;
    const bool bLarge = size > COPY_CHUNK;
    BeginFileCopy(bLarge);
    {
        // The disk turn is given back also when memory runs out during the copy: the other
        // lanes would wait for it for ever.
        struct CTurnBack {
            CBackUpEngine& engine;
            bool bLarge;
            ~CTurnBack() { engine.EndFileCopy(bLarge); }
        } turnBack{*this, bLarge};
        MakeTargetFolders(target, source);
        // The copy arrives with the source's times and attributes (see CopyThroughTemp).
        CopyOneFile(source, target);
    }
    lane.CloseSource();
    CloseSourceFile();
    return true;
}

int CBackUpEngine::CopyLanesFor(INT_PTR nFiles) const
{
    int lanes = s_nCopyLanes;
    if (lanes <= 0) {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        lanes = static_cast<int>(si.dwNumberOfProcessors);
        if (lanes > kDefaultCopyLanes)
            lanes = kDefaultCopyLanes;
    }
    if (lanes > nFiles)
        lanes = static_cast<int>(nFiles);
    return lanes < 1 ? 1 : lanes;
}

void CBackUpEngine::BeginFileCopy(bool bLarge)
{
    if (!m_bLanes)
        return;
    // A larger file waits for the small ones under way and keeps new ones waiting: files
    // written side by side are fine while they are small, but two long streams written at
    // once make a disk seek between them.
    EnterCriticalSection(&m_csDiskTurn);
    if (bLarge) {
        ++m_nLargeWaiting;
        while (m_nSmallCopies > 0 || m_bLargeCopy)
            SleepConditionVariableCS(&m_cvDiskTurn, &m_csDiskTurn, INFINITE);
        --m_nLargeWaiting;
        m_bLargeCopy = true;
    } else {
        while (m_nLargeWaiting > 0 || m_bLargeCopy)
            SleepConditionVariableCS(&m_cvDiskTurn, &m_csDiskTurn, INFINITE);
        ++m_nSmallCopies;
    }
    LeaveCriticalSection(&m_csDiskTurn);
}

void CBackUpEngine::EndFileCopy(bool bLarge)
{
    if (!m_bLanes)
        return;
    EnterCriticalSection(&m_csDiskTurn);
    bool wake;
    if (bLarge) {
        m_bLargeCopy = false;
        wake = true;
    } else {
        wake = --m_nSmallCopies == 0 && m_nLargeWaiting > 0;
    }
    LeaveCriticalSection(&m_csDiskTurn);
    if (wake)
        WakeAllConditionVariable(&m_cvDiskTurn);
}

namespace {

// One further copy thread of a plain backup.
struct LaneThread {
    std::function<void()> run;
    HANDLE hThread = nullptr;
};

DWORD WINAPI LaneThreadProc(LPVOID pParam)
{
    static_cast<LaneThread*>(pParam)->run();
    return 0;
}

} // namespace

void CBackUpEngine::BackUpInLanes(const CString& strStoreFolder, int nLanes)
{
    // The files are handed out one at a time, in list order, to whichever lane is free. The
    // fail lines of each file are kept apart and passed on by this thread in list order, as
    // the files are finished, so the fail list reads as if the files had been copied one
    // after the other.
    const INT_PTR n = m_arrFiles.GetSize();
    std::vector<std::vector<CString>> fails(static_cast<size_t>(n));
    std::unique_ptr<std::atomic<bool>[]> finished(new std::atomic<bool>[static_cast<size_t>(n)]);
    for (INT_PTR i = 0; i < n; ++i)
        finished[i] = false;
    std::atomic<INT_PTR> next{0};
    // Set by a lane that ran out of memory: the run stops, and the worker ends it as failed.
    std::atomic<bool> bLaneOutOfMemory{false};
    m_nSmallCopies = m_nLargeWaiting = 0;
    m_bLargeCopy = false;
    m_bLanes = true;

    auto copyFiles = [&](CCopyLane& lane, const std::function<void()>& afterFile) {
        for (;;) {
            const INT_PTR i = next++;
            if (i >= n)
                break;
            lane.pFails = &fails[static_cast<size_t>(i)];
            const bool go = BackUpListedFile(i, strStoreFolder);
            lane.pFails = nullptr;
            finished[i] = true;
            if (afterFile)
                afterFile();
            if (!go) {
                next = n;   // cancelled: no further file is started
                break;
            }
        }
    };

    std::vector<std::unique_ptr<CCopyLane>> lanes;
    std::vector<std::unique_ptr<LaneThread>> threads;
    // Room for every lane before the first starts: once one runs, keeping a further one in
    // the lists must not fail.
    lanes.reserve(static_cast<size_t>(nLanes));
    threads.reserve(static_cast<size_t>(nLanes));

    INT_PTR passed = 0;
    auto passOn = [&](bool bAll) {
        for (; passed < n && (bAll || finished[passed]); ++passed) {
            std::vector<CString>& lines = fails[static_cast<size_t>(passed)];
            if (m_pFailList)
                for (const CString& line : lines)
                    m_pFailList->InsertStringAndSelect(line);
            std::vector<CString>().swap(lines);
        }
    };
    // Memory that runs out on this thread while lanes run stops them all; they are joined
    // before the exception goes on to the worker's end of the run.
    bool bOutOfMemory = false;
    try {
        for (int k = 1; k < nLanes; ++k) {
            auto lane = std::make_unique<CCopyLane>();
            lane->nId = k;
            CCopyLane* pLane = lane.get();
            auto thread = std::make_unique<LaneThread>();
            thread->run = [this, pLane, &copyFiles, &bLaneOutOfMemory] {
                t_pLane = pLane;
                try {
                    copyFiles(*pLane, nullptr);
                } catch (const std::bad_alloc&) {
                    bLaneOutOfMemory = true;
                    m_bLaneOutOfMemory = true;
                    m_bCancel = 1;   // no lane starts a further file
                }
                pLane->Clear();
                t_pLane = nullptr;
            };
            thread->hThread = CreateThread(nullptr, 256 * 1024, LaneThreadProc, thread.get(), 0, nullptr);
            if (!thread->hThread)
                break;   // fewer lanes, then
            lanes.push_back(std::move(lane));
            threads.push_back(std::move(thread));
        }
        copyFiles(m_lane, [&] { passOn(false); });
    } catch (const std::bad_alloc&) {
        bOutOfMemory = true;
        m_bLaneOutOfMemory = true;
        m_bCancel = 1;
        m_lane.pFails = nullptr;
    }
    for (auto& thread : threads) {
        WaitForSingleObject(thread->hThread, INFINITE);
        CloseHandle(thread->hThread);
    }
    m_bLanes = false;
    passOn(true);
    if (bOutOfMemory || bLaneOutOfMemory)
        throw std::bad_alloc();
}

void CBackUpEngine::RestoreFileList()
{
    ClearEndedRunsOnce();
    for (INT_PTR i = 0; i < m_arrFiles.GetSize(); ++i) {
        WaitWhilePaused();
        if (m_bCancel)
            break;
        CString source = m_arrFiles[i];
        CString target = StorePathToSourcePath(source);
        if (target.IsEmpty()) {
            // Not below a drive-letter folder of a store: there is no place to restore it to.
            AddFailLine(source, ERROR_BAD_PATHNAME);
            continue;
        }
        DWORD marker = 0;
        if (!TakeSourceSize(source, &marker))
            continue;
        if (marker == 0xFFFFFFFFu && EndsWithZip(target))
            target = target.Left(target.GetLength() - 4);
        MakeTargetFolders(target, source);
        // The copy arrives with the source's times and attributes (see CopyThroughTemp).
        m_bMarkerKnown = true;
        m_dwSourceMarker = marker;
        CopyOneFile(source, target);
        m_bMarkerKnown = false;
    }
    EndTempRecord();
    m_bDone = 1;
}

BOOL CBackUpEngine::CopyOneFile(const CString& strSource, CString& strTarget)
{
    return m_bRestore ? RestoreFile(strSource, strTarget) : BackUpFile(strSource, strTarget);
}

BOOL CBackUpEngine::BackUpFile(const CString& strSource, CString& strTarget)
{
    FileStarted(strSource);
    if (m_bCompress)
        strTarget += L".zip";
    return CopyThroughTemp(strSource, strTarget, m_bCompress != 0, false);
}

BOOL CBackUpEngine::RestoreFile(const CString& strSource, const CString& strTarget)
{
    FileStarted(strSource);
    // The list loop has read the first word already; a caller of its own has not.
    const bool bCompressed = m_bMarkerKnown ? m_dwSourceMarker == 0xFFFFFFFFu && EndsWithZip(strSource)
                                            : IsCompressedCopy(strSource);
    m_bMarkerKnown = false;
    return CopyThroughTemp(strSource, strTarget, bCompressed, true);
}

BOOL CBackUpEngine::CopyPlain(const CString& strSource, const CString& strTempTarget, DWORD& dwError)
{
    m_nLastCopyProgress = 0;
    m_dwLastCopyStream = 0;
    BOOL bCancel = FALSE;
    // The temporary target is an empty file of this run's own, so it may be overwritten.
    if (SystemIo().CopyWithStreams(ExtendedPath(strSource), ExtendedPath(strTempTarget), BackUpCopyProgress, this, &bCancel,
                      COPY_FILE_RESTARTABLE))
        return TRUE;
    dwError = GetLastError();
    return FALSE;
}

namespace {

// Errors of a copy that lie with the file being written rather than the one being read.
// Writes one chunk whole; false with the error (never 0) when it cannot. A write that takes
// nothing is a full disk.
bool WriteChunk(HANDLE hFile, const BYTE* p, DWORD nBytes, DWORD& dwError)
{
    for (DWORD left = nBytes; left > 0;) {
        DWORD written = 0;
        const BOOL wrote = SystemIo().WriteBlock(hFile, p, left, &written, nullptr);
        if (!wrote || written == 0) {
            dwError = wrote ? ERROR_DISK_FULL : GetLastError();
            if (dwError == ERROR_SUCCESS)
                dwError = ERROR_WRITE_FAULT;
            return false;
        }
        p += written;
        left -= written;
    }
    return true;
}

bool IsWriteSideError(DWORD err)
{
    return err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL || err == ERROR_WRITE_PROTECT ||
           err == ERROR_WRITE_FAULT;
}

// Reads a source in chunks of COPY_CHUNK into two buffers in turn on a thread of its own, one
// chunk ahead of the caller, who writes the other. The reading stops at the end of the file,
// at a failed read, or when the caller stops it (Stop, or the destructor, which wait for it).
class CReadAhead {
public:
    CReadAhead(HANDLE hSource, BYTE* pFirst, BYTE* pSecond) : m_hSource(hSource)
    {
        m_slot[0].pBuffer = pFirst;
        m_slot[1].pBuffer = pSecond;
    }
    ~CReadAhead() { Stop(); }
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;

    // False when the thread cannot run; the caller then reads by itself.
    bool Start()
    {
        m_hFree = CreateSemaphoreW(nullptr, 2, 2, nullptr);
        m_hFilled = CreateSemaphoreW(nullptr, 0, 2, nullptr);
        if (m_hFree && m_hFilled)
            m_hThread = CreateThread(nullptr, 64 * 1024, ThreadProc, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!m_hThread)
            CloseEvents();
        return m_hThread != nullptr;
    }
    // The next chunk: its bytes and length (0 at the end of the file); false with the error of
    // a read that failed. The chunk handed out before is free again from this call on.
    bool Next(const BYTE*& p, DWORD& got, DWORD& err)
    {
        if (m_nTaken > 0)
            ReleaseSemaphore(m_hFree, 1, nullptr);
        WaitForSingleObject(m_hFilled, INFINITE);
        const Slot& s = m_slot[m_nTaken++ % 2];
        p = s.pBuffer;
        got = s.nGot;
        err = s.dwError;
        return s.bRead;
    }
    void Stop()
    {
        if (!m_hThread)
            return;
        m_bStop = true;
        ReleaseSemaphore(m_hFree, 2, nullptr);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
        CloseEvents();
    }

private:
    struct Slot {
        BYTE* pBuffer = nullptr;
        DWORD nGot = 0;
        DWORD dwError = 0;
        bool bRead = false;
    };
    static DWORD WINAPI ThreadProc(LPVOID pParam)
    {
        CReadAhead& self = *static_cast<CReadAhead*>(pParam);
        for (unsigned k = 0;; ++k) {
            WaitForSingleObject(self.m_hFree, INFINITE);
            if (self.m_bStop)
                break;
            Slot& s = self.m_slot[k % 2];
            s.nGot = 0;
            s.bRead = ReadFile(self.m_hSource, s.pBuffer, CBackUpEngine::COPY_CHUNK, &s.nGot, nullptr) != FALSE;
            s.dwError = s.bRead ? 0 : GetLastError();
            const bool bEnd = !s.bRead || s.nGot == 0;
            ReleaseSemaphore(self.m_hFilled, 1, nullptr);
            if (bEnd)
                break;
        }
        return 0;
    }
    void CloseEvents()
    {
        if (m_hFree)
            CloseHandle(m_hFree);
        if (m_hFilled)
            CloseHandle(m_hFilled);
        m_hFree = m_hFilled = nullptr;
    }

    HANDLE m_hSource;
    HANDLE m_hThread = nullptr;
    HANDLE m_hFree = nullptr;     // buffers the reader may fill
    HANDLE m_hFilled = nullptr;   // buffers read and not yet handed out
    std::atomic<bool> m_bStop{false};
    Slot m_slot[2];
    unsigned m_nTaken = 0;
};

// Flushes a file on a thread of its own while its copy goes on writing it, so that the writes
// reach the disk behind the copy and the copy's final flush has little left to do. The copy
// asks (Request) as it grows; a request while a flush is under way is not taken. Every
// request taken is flushed, also when Stop comes right after it. A flush that fails ends the
// flushing; its error stays (Error).
class CFlushBehind {
public:
    explicit CFlushBehind(HANDLE hFile) : m_hFile(hFile) {}
    ~CFlushBehind() { Stop(); }
    CFlushBehind(const CFlushBehind&) = delete;
    CFlushBehind& operator=(const CFlushBehind&) = delete;

    // False when the thread cannot run; the copy's final flush then does it all.
    bool Start()
    {
        m_hWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (m_hWake)
            m_hThread = CreateThread(nullptr, 64 * 1024, ThreadProc, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!m_hThread && m_hWake) {
            CloseHandle(m_hWake);
            m_hWake = nullptr;
        }
        return m_hThread != nullptr;
    }
    // Asks for a flush of what has been written so far; false when one is still under way (or
    // one has failed, or the thread is not running).
    bool Request()
    {
        if (!m_hThread || m_bBusy.exchange(true))
            return false;
        SetEvent(m_hWake);
        return true;
    }
    // The error of the flush that failed; 0 while none has.
    DWORD Error() const { return m_dwError; }
    // Waits for the flush under way, if any, and for the thread's end.
    void Stop()
    {
        if (!m_hThread)
            return;
        m_bStop = true;
        SetEvent(m_hWake);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
        CloseHandle(m_hWake);
        m_hWake = nullptr;
    }

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam)
    {
        CFlushBehind& self = *static_cast<CFlushBehind*>(pParam);
        for (;;) {
            WaitForSingleObject(self.m_hWake, INFINITE);
            if (self.m_bBusy) {
                if (!CBackUpEngine::FlushToDisk(self.m_hFile)) {
                    // Busy for good: no further request is taken.
                    self.m_dwError = GetLastError();
                    break;
                }
                self.m_bBusy = false;
            }
            if (self.m_bStop)
                break;
        }
        return 0;
    }

    HANDLE m_hFile;
    HANDLE m_hThread = nullptr;
    HANDLE m_hWake = nullptr;
    std::atomic<bool> m_bBusy{false};   // a flush asked for and not yet done
    std::atomic<bool> m_bStop{false};
    std::atomic<DWORD> m_dwError{0};
};

} // namespace

void CBackUpEngine::EnterTargetFolder(const CString& strFolder)
{
    CCopyLane& lane = Lane();
    CString key(strFolder);
    key.MakeUpper();
    if (key == lane.strEnteredFolder)
        return;
    lane.strEnteredFolder = key;
    lane.mapEnteredNames.clear();
    lane.bEnteredListed = false;
    // A restore needs no names; a folder this run has just made has none.
    if (m_bRestore || key == lane.strNewFolder)
        return;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileExW(JoinPath(ExtendedPath(strFolder), L"*"), FindExInfoBasic, &fd,
                                    FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        lane.mapEnteredNames.emplace(UpperName(fd.cFileName), CString(fd.cFileName));
    } while (FindNextFileW(hFind, &fd));
    lane.bEnteredListed = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(hFind);
}

CString CBackUpEngine::TempRecordFolder() const
{
    if (!m_strTempRecordFolder.IsEmpty())
        return m_strTempRecordFolder;
    if (!g_strAppDir.IsEmpty())
        return GetDataFolder();
    wchar_t tmp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH, tmp);
    return n > 0 && n <= MAX_PATH ? CString(tmp) + L"ZulEngine" : CString();
}

void CBackUpEngine::SetTempStore(const CString& strStoreFolder)
{
    if (m_bTempStoreSet || strStoreFolder.IsEmpty())
        return;
    m_temps.SetStoreFolder(strStoreFolder);
    m_bTempStoreSet = true;
}

void CBackUpEngine::ClearEndedRunsOnce()
{
    // Before anything is collected: a store walk must not meet what an ended run left, and a
    // copy an ended run left waiting for its name has that name before it is collected.
    if (m_bEndedRunsCleared)
        return;
    m_bEndedRunsCleared = true;
    if (!m_strTargetRoot.IsEmpty())
        SetTempStore(m_strTargetRoot + L"\\" + kStoreName);
    m_temps.SetRecordFolder(TempRecordFolder());
    m_temps.ClearEndedRuns();
}

void CBackUpEngine::EndTempRecord()
{
    m_bEndedRunsCleared = false;
    m_bTempStoreSet = false;
    m_temps.EndRun();
}

bool CBackUpEngine::PlaceAgain(const CString& strTemp, const CString& strFinal, const CString& strSource,
                               bool bRestoreSide)
{
    // A store's temporary lies apart from its final folder, which may have gone meanwhile:
    // it is made again. (A restore's lies in that folder.)
    if (bRestoreSide || GetLastError() != ERROR_PATH_NOT_FOUND)
        return false;
    Lane().strMadeFolder.Empty();
    MakeTargetFolders(strFinal, strSource);
    return MoveIntoPlace(strTemp, strFinal);
}

void CBackUpEngine::RemoveTemp(const CString& strTemp, LONGLONG nSlot)
{
    if (RemoveFile(strTemp))
        m_temps.Gone(nSlot);
}

bool CBackUpEngine::TakeName(std::set<CString>& taken, const CString& strPath, const CString& strName)
{
    if (taken.insert(UpperName(strName)).second)
        return true;
    const CString line = DisplayPath(strPath) + L";" + m_strSameNameText;
    CCopyLane& lane = Lane();
    if (lane.pFails)
        lane.pFails->push_back(line);
    else if (m_pFailList)
        m_pFailList->InsertStringAndSelect(line);
    return false;
}

bool CBackUpEngine::MayExist(const CString& strPath)
{
    const CCopyLane& lane = Lane();
    int slash = strPath.ReverseFind(L'\\');
    CString folder = strPath.Left(slash < 0 ? 0 : slash);
    folder.MakeUpper();
    if (folder != lane.strEnteredFolder)
        return true;   // not the listed folder: ask the file system
    CString name = strPath.Mid(slash + 1);
    name.MakeUpper();
    return lane.mapEnteredNames.count(name) != 0;
}

bool CBackUpEngine::MayHoldOtherCase(const CString& strFinal)
{
    const CCopyLane& lane = Lane();
    const int slash = strFinal.ReverseFind(L'\\');
    const CString folder = UpperName(strFinal.Left(slash < 0 ? 0 : slash));
    if (folder == lane.strNewFolder)
        return false;   // made by this run: every name in it is one this run gave
    if (!lane.bEnteredListed || folder != lane.strEnteredFolder)
        return true;
    const CString name = strFinal.Mid(slash + 1);
    auto it = lane.mapEnteredNames.find(UpperName(name));
    return it != lane.mapEnteredNames.end() && it->second != name;
}

void CBackUpEngine::TakeFinalCase(const CString& strFinal)
{
    if (m_bRestore || !MayHoldOtherCase(strFinal))
        return;
    const CString finalPath = ExtendedPath(strFinal);
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(finalPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    FindClose(hFind);
    const int slash = finalPath.ReverseFind(L'\\');
    const CString name = finalPath.Mid(slash + 1);
    if (name == fd.cFileName || name.CompareNoCase(fd.cFileName) != 0)
        return;
    // The replaced file's name stayed on. While any case of the name is taken, no rename can
    // give it another: the stored copy goes aside for a moment and comes back under its name.
    m_temps.TakeCase(finalPath.Left(slash) + L"\\" + fd.cFileName, finalPath);
}

HANDLE CBackUpEngine::CreateTempIn(const CString& strFolder, const CString& strFinal,
                                   const CString& strSource, DWORD dwAccess, DWORD dwFlags,
                                   bool bRestoreSide, CString& strTemp, LONGLONG& nSlot)
{
    nSlot = -1;
    if (!bRestoreSide) {
        // In the run's own folder of the store of the final name.
        if (!m_bTempStoreSet) {
            CString upper(strFinal);
            upper.MakeUpper();
            const int at = upper.Find(L"\\VEZORI\\");
            if (at > 0)
                SetTempStore(strFinal.Left(at + 7));
        }
        return m_temps.CreateInStore(dwAccess, dwFlags, strTemp);
    }
    for (bool bRemade = false;;) {
        HANDLE h = m_temps.CreateBeside(strFolder, dwAccess, dwFlags, strTemp, nSlot);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PATH_NOT_FOUND || bRemade)
            return h;
        // The folder has gone since this run made sure of it: make it again.
        bRemade = true;
        Lane().strMadeFolder.Empty();
        MakeTargetFolders(strFinal, strSource);
    }
}

BOOL CBackUpEngine::CopyThroughTemp(const CString& strSource, const CString& strFinal,
                                    bool bCompressed, bool bRestoreSide)
{
    // The new copy is written to a temporary file (see CTempCopies) and only moved over the
    // final name once complete, with its times and attributes: a failed or cancelled copy
    // never costs the file that was there before, and the final name never holds a
    // half-written file.
    // The entry read for this file by the list loop, taken once.
    CCopyLane& lane = Lane();
    const bool bEntry = lane.bSourceEntry;
    lane.bSourceEntry = false;
    int slash = strFinal.ReverseFind(L'\\');
    if (slash <= 0) {
        AddFailLine(strFinal, ERROR_BAD_PATHNAME);
        return FALSE;
    }
    CString folder = strFinal.Left(slash);
    EnterTargetFolder(folder);
    if (!bCompressed)
        return CopyPlainFile(strSource, strFinal, folder, bRestoreSide, bEntry);

    CString temp;
    LONGLONG slot = -1;
    CKernelHandle tempFile(CreateTempIn(folder, strFinal, strSource, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL,
                                        bRestoreSide, temp, slot));
    if (!tempFile) {
        AddFailLine(strFinal, GetLastError());
        return FALSE;
    }
    tempFile.Close();   // the copies below open it again
    // Memory that runs out from here on leaves neither the copy nor an open handle behind: the
    // copies below keep theirs in m_hSourceFile/m_hTargetFile until they close them.
    COnUnwind dropTemp([&] {
        CloseSourceFile();
        m_hTargetFile.Close();
        if (DropTempCopy(temp))
            m_temps.Gone(slot);
    });

    BOOL ok = bRestoreSide ? RestoreCompressedFile(strSource, temp, strFinal)
                           : BackUpCompressedFile(strSource, temp, strFinal);
    if (ok && m_bCancel) {
        // Complete, but the run stops: it goes like any copy that did not complete.
        AddCancelLine(strSource);
        ok = FALSE;
    }
    if (!ok) {
        RemoveTemp(temp, slot);
        return FALSE;
    }
    return PlaceFinishedCopy(strSource, temp, slot, strFinal, bEntry ? &lane.sourceEntry : nullptr, tempFile,
                             bRestoreSide);
}

BOOL CBackUpEngine::PlaceFinishedCopy(const CString& strSource, const CString& strTemp, LONGLONG nSlot,
                                      const CString& strFinal, const WIN32_FILE_ATTRIBUTE_DATA* pEntry,
                                      CKernelHandle& hTemp, bool bRestoreSide)
{
    if (!SettleIntoPlace(strSource, strTemp, strFinal, pEntry, hTemp) &&
        !PlaceAgain(strTemp, strFinal, strSource, bRestoreSide)) {
        AddFailLine(strFinal, GetLastError());
        RemoveTemp(strTemp, nSlot);
        return FALSE;
    }
    m_temps.Gone(nSlot);
    // Done once it has its final name.
    m_nDoneFiles++;
    TakeFinalCase(strFinal);
    if (!PrepareTarget(strFinal, strSource)) {
        // The new copy is in place; only the other form could not be removed.
        DWORD err = GetLastError();
        AddFailLine(OtherFormOf(strFinal), err);
    }
    return TRUE;
}

BOOL CBackUpEngine::CopyPlainFile(const CString& strSource, const CString& strFinal,
                                  const CString& strFolder, bool bRestoreSide, bool bEntry)
{
    CCopyLane& lane = Lane();
    // The source OpenPlainSource opened into the lane, or one opened here; either is closed
    // once it is read.
    CKernelHandle source(lane.hSource.Release());
    if (!source) {
        source.Reset(CreateFileW(ExtendedPath(strSource), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!source) {
            AddFailLine(strSource, GetLastError());
            return FALSE;
        }
    }
    WIN32_FILE_ATTRIBUTE_DATA entry;
    if (bEntry) {
        entry = lane.sourceEntry;
    } else {
        if (!EntryOf(source.Get(), entry)) {
            AddFailLine(strSource, GetLastError());
            return FALSE;
        }
    }
    const ULONGLONG size = (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    const bool bSystemCopy = NeedsSystemCopy(strSource, source.Get());

    CString temp;
    LONGLONG slot = -1;
    CKernelHandle tempFile(CreateTempIn(strFolder, strFinal, strSource, GENERIC_WRITE | DELETE,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, bRestoreSide, temp, slot));
    if (!tempFile) {
        // A restore that cannot write names the place it writes to.
        AddFailLine(bRestoreSide ? strFinal : strSource, GetLastError());
        return FALSE;
    }
    // Memory that runs out from here on leaves neither the copy nor an open handle behind.
    COnUnwind dropTemp([&] {
        source.Close();
        tempFile.Close();
        if (DropTempCopy(temp))
            m_temps.Gone(slot);
    });

    CPlainCopy copy;
    if (bSystemCopy)
        CopyWithSystem(strSource, temp, source, tempFile, copy);
    else
        CopyInChunks(lane, source, tempFile, temp, size, copy);
    if (copy.bOk) {
        // A copy that counted less than the whole file (or nothing at all) still ends at the
        // file's size, so the totals reach 100 %.
        if (copy.nDone < size) {
            m_nDoneBytes += size - copy.nDone;
            SetFileDone(lane, size);
        }
    } else {
        // A cancelled copy is reported like any copy that did not complete.
        AddFailLine(bRestoreSide && copy.bWriteSide ? strFinal : strSource, copy.dwError);
    }
    if (copy.bOk && m_bCancel) {
        // Complete, but the run stops: thrown away, and reported the same way.
        AddCancelLine(strSource);
        copy.bOk = false;
    }
    if (!copy.bOk) {
        tempFile.Close();
        RemoveTemp(temp, slot);
        return FALSE;
    }
    return PlaceFinishedCopy(strSource, temp, slot, strFinal, &entry, tempFile, bRestoreSide);
}

bool CBackUpEngine::NeedsSystemCopy(const CString& strSource, HANDLE hSource)
{
    // Whether the source's drive can tell its streams is asked once a run.
    const int drive = IsDrivePath(strSource) ? (towupper(strSource[0]) - L'A') & 31 : 26;
    bool bSystemCopy = s_bSystemCopyAlways;
    if (!bSystemCopy && !(m_nNoStreamInfoDrives & (1u << drive))) {
        bool bUnsupported = false;
        bSystemCopy = HasFurtherStreams(hSource, bUnsupported);
        if (bUnsupported)
            m_nNoStreamInfoDrives.fetch_or(1u << drive);
    }
    return bSystemCopy;
}

void CBackUpEngine::CopyWithSystem(const CString& strSource, const CString& strTemp, CKernelHandle& source,
                                   CKernelHandle& tempFile, CPlainCopy& copy)
{
    // Further data streams: the system's copy carries them over.
    tempFile.Close();
    source.Close();
    {
        CSectionHold hold(m_csStreamCopy);
        m_nStreamCopyCounted = 0;
        copy.bOk = CopyPlain(strSource, strTemp, copy.dwError) != FALSE;
        copy.nDone = m_nStreamCopyCounted;
    }
    copy.bWriteSide = IsWriteSideError(copy.dwError);
    if (!copy.bOk)
        return;
    // The system's copy has closed the file and given it the source's attributes: it is
    // opened again, writable, to be flushed (every stream) and settled.
    const CString tempPath = ExtendedPath(strTemp);
    SetFileAttributesW(tempPath, FILE_ATTRIBUTE_NORMAL);
    tempFile.Reset(CreateFileW(tempPath, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!tempFile || !FlushCopy(tempFile.Get(), strTemp, true)) {
        copy.bOk = false;
        copy.dwError = GetLastError();
        copy.bWriteSide = true;
    }
}

void CBackUpEngine::CopyInChunks(CCopyLane& lane, CKernelHandle& source, CKernelHandle& tempFile,
                                 const CString& strTemp, ULONGLONG nSize, CPlainCopy& copy)
{
    const bool bLarge = nSize > COPY_CHUNK;
    if (!lane.pCopyBuffer || (bLarge && !lane.pAheadBuffer)) {
        try {
            if (!lane.pCopyBuffer)
                lane.pCopyBuffer.reset(new BYTE[COPY_CHUNK]);
            if (bLarge && !lane.pAheadBuffer)
                lane.pAheadBuffer.reset(new BYTE[COPY_CHUNK]);
        } catch (const std::bad_alloc&) {
            if (!lane.pCopyBuffer) {
                copy.bOk = false;
                copy.dwError = ERROR_NOT_ENOUGH_MEMORY;
            }
        }
    }
    const HANDLE hSource = source.Get(), hTemp = tempFile.Get();
    // A larger file is read a chunk ahead of its writes, on a thread of its own, so that
    // reading and writing overlap; without that thread the chunks are read here.
    CReadAhead ahead(hSource, lane.pCopyBuffer.get(), lane.pAheadBuffer.get());
    const bool bAhead = copy.bOk && bLarge && lane.pAheadBuffer && ahead.Start();
    // A copy of more than FLUSH_BEHIND bytes is flushed behind its writes as it goes.
    CFlushBehind behind(hTemp);
    const bool bBehind = copy.bOk && nSize > FLUSH_BEHIND && behind.Start();
    ULONGLONG flushAskedAt = 0;
    DWORD& err = copy.dwError;
    while (copy.bOk) {
        DWORD got = 0;
        const BYTE* p = lane.pCopyBuffer.get();
        if (bAhead ? !ahead.Next(p, got, err) : !ReadFile(hSource, lane.pCopyBuffer.get(), COPY_CHUNK, &got, nullptr)) {
            copy.bOk = false;
            if (!bAhead)
                err = GetLastError();
            break;
        }
        if (got == 0)
            break;
        if (!WriteChunk(hTemp, p, got, err)) {
            copy.bOk = false;
            copy.bWriteSide = true;
            break;
        }
        copy.nDone += got;
        AddFileDone(lane, got);
        m_nDoneBytes += got;
        if (bBehind) {
            if (const DWORD flushErr = behind.Error()) {
                copy.bOk = false;
                err = flushErr;
                copy.bWriteSide = true;
                break;
            }
            if (copy.nDone - flushAskedAt >= FLUSH_BEHIND && behind.Request())
                flushAskedAt = copy.nDone;
        }
        if (m_bCancel) {
            copy.bOk = false;
            err = ERROR_REQUEST_ABORTED;
            break;
        }
        // A short read is the end of a disk file; one that has grown is read on.
        if (got < COPY_CHUNK && copy.nDone >= nSize)
            break;
        // The plain copy pauses between pieces (the next file's start holds after the last one).
        WaitWhilePaused();
        if (m_bCancel) {
            copy.bOk = false;
            err = ERROR_REQUEST_ABORTED;
            break;
        }
    }
    ahead.Stop();
    behind.Stop();
    source.Close();
    if (copy.bOk && behind.Error()) {
        copy.bOk = false;
        err = behind.Error();
        copy.bWriteSide = true;
    }
    // On the disk before it is stamped and named: a copy carrying the source's time is never
    // compared again, so it must not be one that a crash can leave empty.
    if (copy.bOk && !FlushCopy(hTemp, strTemp, false)) {
        copy.bOk = false;
        err = GetLastError();
        copy.bWriteSide = true;
    }
}

CString CBackUpEngine::OtherFormOf(const CString& strTarget) const
{
    if (!m_bCompress)
        return strTarget + L".zip";
    if (EndsWithZip(strTarget))
        return strTarget.Left(strTarget.GetLength() - 4);
    return CString();
}

BOOL CBackUpEngine::PrepareTarget(const CString& strTarget, const CString& strSource)
{
    if (m_bRestore)
        return TRUE;
    // A store keeps one form of a file: the plain copy or the ".zip" one, whichever was
    // written last. The other name is removed only when it can be nothing but this file's
    // other form: "x.zip" is also the plain copy of a file "x.zip", and the compressed copy
    // of "x" is also named "x.zip".
    CString other = OtherFormOf(strTarget);
    if (other.IsEmpty() || !MayExist(other) || !FileExists(other))
        return TRUE;
    if (!m_bCompress) {
        // Plain "n" beside "n.zip": that is also where a file "n.zip" of the same folder is
        // stored, and a copy without the marker is no compressed copy of anything.
        if (FileExists(strSource + L".zip") || !IsCompressedCopy(other))
            return TRUE;
    } else if (other.GetLength() > 4 && other.Right(4).CompareNoCase(L".zip") == 0) {
        // Compressed "n.zip.zip" beside "n.zip": that is also the compressed copy of a file "n"
        // of the same folder, present now or deleted since (then it carries the marker).
        CString sibling = strSource.Left(strSource.GetLength() - 4);
        if (FileExists(sibling) || StartsWithCopyMarker(other))
            return TRUE;
    }
    return RemoveFile(other);
}

void CBackUpEngine::MakeTargetFolders(const CString& strTarget, const CString& strSource)
{
    // On a restore, the store the source lies in (the folder that holds "VEZORI"); folders
    // created at the restore place take the attributes of the store folders that mirror them.
    CString storeRoot = m_strTargetRoot;
    if (m_bRestore) {
        CString upper(strSource);
        upper.MakeUpper();
        int at = upper.Find(L"\\VEZORI\\");
        if (at > 0)
            storeRoot = strSource.Left(at);
    }
    int colon = strTarget.Find(L':');
    if (colon < 0)
        return;
    // Gives a folder this run has just created the attributes of the folder it mirrors.
    auto mirrorAttributes = [&](const CString& folder) {
        CString from;
        if (m_bRestore) {
            // C:\dir mirrors <target root>\VEZORI\C\dir.
            if (folder.GetLength() >= 2 && !storeRoot.IsEmpty())
                from = storeRoot + L"\\" + kStoreName + L"\\" + folder.Left(1) + folder.Mid(2);
        } else {
            // <store>\C\dir mirrors C:\dir; the store folder and its drive-letter folders
            // mirror nothing.
            CString upper(folder);
            upper.MakeUpper();
            int at = upper.Find(L"\\VEZORI\\");
            if (at >= 0) {
                CString rest = folder.Mid(at + 8);
                if (rest.GetLength() >= 3 && rest[1] == L'\\')
                    from = rest.Left(1) + L":" + rest.Mid(1);
            }
        }
        if (!from.IsEmpty()) {
            DWORD attrs = GetFileAttributesW(ExtendedPath(from));
            if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
                SetFileAttributesW(ExtendedPath(folder), attrs);
        }
    };
    // The files of a folder mostly come one after another: its chain is made sure of once.
    // (A chain removed meanwhile is made again when the copy cannot create its file there.)
    const int last = strTarget.ReverseFind(L'\\');
    if (last <= colon + 1)
        return;
    const CString leaf = strTarget.Left(last);
    CCopyLane& lane = Lane();
    if (leaf == lane.strMadeFolder)
        return;
    lane.strMadeFolder.Empty();
    // Most often the chain exists, or only its last folder is missing: one call for either.
    bool bLeafMade = CreateDirectoryW(ExtendedPath(leaf), nullptr) != FALSE;
    if (!bLeafMade && GetLastError() != ERROR_ALREADY_EXISTS) {
        // Further folders are missing: the chain from the top, the file name never a folder.
        for (int pos = strTarget.Find(L'\\', colon + 2); pos > 0 && pos <= last;
             pos = strTarget.Find(L'\\', pos + 1)) {
            CString folder = strTarget.Left(pos);
            if (!CreateDirectoryW(ExtendedPath(folder), nullptr))
                continue; // exists already (keeps its attributes) or cannot be made
            if (pos == last)
                bLeafMade = true;
            else
                mirrorAttributes(folder);
        }
        if (!bLeafMade && GetFileAttributesW(ExtendedPath(leaf)) == INVALID_FILE_ATTRIBUTES)
            return;   // cannot be made: the copy reports it
    }
    if (bLeafMade) {
        mirrorAttributes(leaf);
        // Empty: entering it needs no listing.
        lane.strNewFolder = leaf;
        lane.strNewFolder.MakeUpper();
    }
    lane.strMadeFolder = leaf;
}

void CBackUpEngine::CopyFileTimes(const CString& strSource, const CString& strTarget)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(ExtendedPath(strSource), GetFileExInfoStandard, &d))
        return;
    // Existing only: setting times must never create the file.
    HANDLE h = CreateFileW(ExtendedPath(strTarget), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    SetFileTime(h, &d.ftCreationTime, &d.ftLastAccessTime, &d.ftLastWriteTime);
    CloseHandle(h);
}
