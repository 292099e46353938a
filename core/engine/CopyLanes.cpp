// The copy lanes: the loops over a collected list, a plain backup's several files at once and
// their turns at the disk, and the sources the lanes open.

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

namespace {

// The copy lane of a further copy thread of a plain backup; none on any other thread.
thread_local void* t_pLane = nullptr;

// Files copied at once by a plain backup at most, by default.
const int kDefaultCopyLanes = 3;

} // namespace

CBackUpEngine::CCopyLane& CBackUpEngine::Lane()
{
    return t_pLane ? *static_cast<CCopyLane*>(t_pLane) : m_lane;
}

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
    CKernelHandle source(CreateFileW(ExtendedPath(strSource), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) {
        AddFailLine(strSource, GetLastError());
        return false;
    }
    if (pMarker) {
        DWORD got = 0;
        if (!ReadFile(source.Get(), pMarker, 4, &got, nullptr) || got != 4)
            *pMarker = 0;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(source.Get(), &size);
    lane.nSize = static_cast<ULONGLONG>(size.QuadPart);
    return true;
}

void CBackUpEngine::BackUpFileList(const CString& strStoreFolder)
{
    m_lane.bPauseChecked = false;
    // (Done already when the run collected: a list handed over by itself needs it too.)
    ClearEndedRunsOnce();
    SetTempStore(strStoreFolder);
    if (m_arrFiles.GetSize() > 0 && m_temps.EngineFolderInTheWay()) {
        // No copy could be made: one line names what is in the way, not one per file.
        AddFailLineText(m_temps.EngineFolder(), m_strInTheWayText);
        EndTempRecord();
        m_bDone = 1;
        return;
    }
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
    CKernelHandle hThread;
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
            thread->hThread.Reset(CreateThread(nullptr, 256 * 1024, LaneThreadProc, thread.get(), 0, nullptr));
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
        WaitForSingleObject(thread->hThread.Get(), INFINITE);
        thread->hThread.Close();
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
