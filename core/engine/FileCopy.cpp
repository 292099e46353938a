// One file's copy: its temporary, the plain copy (the compressed one is in CompressedCopy.cpp),
// putting the finished copy in place, the target folders and the other form of a stored file.

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

// Errors of a copy that lie with the file being written rather than the one being read.
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
        m_hFree.Reset(CreateSemaphoreW(nullptr, 2, 2, nullptr));
        m_hFilled.Reset(CreateSemaphoreW(nullptr, 0, 2, nullptr));
        if (m_hFree && m_hFilled)
            m_hThread.Reset(CreateThread(nullptr, 64 * 1024, ThreadProc, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!m_hThread)
            CloseEvents();
        return m_hThread.IsValid();
    }
    // The next chunk: its bytes and length (0 at the end of the file); false with the error of
    // a read that failed. The chunk handed out before is free again from this call on.
    bool Next(const BYTE*& p, DWORD& got, DWORD& err)
    {
        if (m_nTaken > 0)
            ReleaseSemaphore(m_hFree.Get(), 1, nullptr);
        WaitForSingleObject(m_hFilled.Get(), INFINITE);
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
        ReleaseSemaphore(m_hFree.Get(), 2, nullptr);
        WaitForSingleObject(m_hThread.Get(), INFINITE);
        m_hThread.Close();
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
            WaitForSingleObject(self.m_hFree.Get(), INFINITE);
            if (self.m_bStop)
                break;
            Slot& s = self.m_slot[k % 2];
            s.nGot = 0;
            s.bRead = ReadFile(self.m_hSource, s.pBuffer, CBackUpEngine::COPY_CHUNK, &s.nGot, nullptr) != FALSE;
            s.dwError = s.bRead ? 0 : GetLastError();
            const bool bEnd = !s.bRead || s.nGot == 0;
            ReleaseSemaphore(self.m_hFilled.Get(), 1, nullptr);
            if (bEnd)
                break;
        }
        return 0;
    }
    void CloseEvents()
    {
        m_hFree.Close();
        m_hFilled.Close();
    }

    HANDLE m_hSource;
    CKernelHandle m_hThread;
    CKernelHandle m_hFree;     // buffers the reader may fill
    CKernelHandle m_hFilled;   // buffers read and not yet handed out
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
        m_hWake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (m_hWake)
            m_hThread.Reset(CreateThread(nullptr, 64 * 1024, ThreadProc, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!m_hThread)
            m_hWake.Close();
        return m_hThread.IsValid();
    }
    // Asks for a flush of what has been written so far; false when one is still under way (or
    // one has failed, or the thread is not running).
    bool Request()
    {
        if (!m_hThread || m_bBusy.exchange(true))
            return false;
        SetEvent(m_hWake.Get());
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
        SetEvent(m_hWake.Get());
        WaitForSingleObject(m_hThread.Get(), INFINITE);
        m_hThread.Close();
        m_hWake.Close();
    }

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam)
    {
        CFlushBehind& self = *static_cast<CFlushBehind*>(pParam);
        for (;;) {
            WaitForSingleObject(self.m_hWake.Get(), INFINITE);
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
    CKernelHandle m_hThread;
    CKernelHandle m_hWake;
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
    CFindHandle find(FindFirstFileExW(JoinPath(ExtendedPath(strFolder), L"*"), FindExInfoBasic, &fd,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find)
        return;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        lane.mapEnteredNames.emplace(UpperName(fd.cFileName), CString(fd.cFileName));
    } while (FindNextFileW(find.Get(), &fd));
    lane.bEnteredListed = GetLastError() == ERROR_NO_MORE_FILES;
}

void CBackUpEngine::TempRecordFolders(CString& strFirst, CString& strSecond) const
{
    // The second place is this user's on this computer too, and is there when the data folder
    // cannot be made or written.
    wchar_t tmp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH, tmp);
    strSecond = n > 0 && n <= MAX_PATH ? CString(tmp) + L"ZulEngine" : CString();
    if (!m_strTempRecordFolder.IsEmpty())
        strFirst = m_strTempRecordFolder;
    else if (!g_strAppDir.IsEmpty())
        strFirst = GetDataFolder();
    else
        strFirst = strSecond;
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
    CString first, second;
    TempRecordFolders(first, second);
    m_temps.SetRecordFolders(first, second);
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
    if (!CFindHandle(FindFirstFileW(finalPath, &fd)))
        return;
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
            CString root, below;
            if (SplitAtStore(strFinal, root, below) && !root.IsEmpty())
                SetTempStore(root + L"\\" + kStoreName);
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
        CString root, below;
        if (SplitAtStore(strSource, root, below) && !root.IsEmpty())
            storeRoot = root;
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
            CString root, rest;
            if (SplitAtStore(folder, root, rest) && rest.GetLength() >= 3 && rest[1] == L'\\')
                from = rest.Left(1) + L":" + rest.Mid(1);
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
