// The engine itself: construction, the state of a run, the current file and its progress, the
// pause, and the fail lines.

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

bool CBackUpEngine::s_bSystemCopyAlways = false;

int CBackUpEngine::s_nCopyLanes = 0;

const wchar_t kSelectionTooLargeText[] =
    L"The selection is too large for the memory of this computer; the run was stopped and nothing more was copied.";

const wchar_t kSameNameInOtherCaseText[] =
    L"A file of the same name in another letter case is stored; this one was not copied.";

const wchar_t kTempRecordNotKeptText[] =
    L"Not restored, because the record of temporary copies could not be kept in %s: %s";

const wchar_t kEngineFolderInTheWayText[] =
    L"Nothing was backed up: a file has the name of the folder the backup keeps its temporary copies in. "
    L"Rename or move that file, then back up again.";

// The progress timer reads the byte counters while the worker writes them; on a 32-bit
// machine they must not be split into two 32-bit halves.
static_assert(std::atomic<ULONGLONG>::is_always_lock_free, "64-bit counters must be lock-free");

namespace {

// Engines alive; the first creates the write-queue objects and the last releases them.
int g_nEngines = 0;

} // namespace

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
    : m_strMemoryFailText(kSelectionTooLargeText), m_strSameNameText(kSameNameInOtherCaseText),
      m_strRecordNotKeptText(kTempRecordNotKeptText),
      m_strInTheWayText(kEngineFolderInTheWayText)
{
    InitializeCriticalSection(&m_csCurrentFile);
    InitializeCriticalSection(&m_csStreamCopy);
    InitializeCriticalSection(&m_csDiskTurn);
    InitializeConditionVariable(&m_cvDiskTurn);
    Reset();
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
    DeleteCriticalSection(&m_csCurrentFile);
    DeleteCriticalSection(&m_csStreamCopy);
    DeleteCriticalSection(&m_csDiskTurn);
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
    // Whatever way the last run ended, its temporaries do not steer this one (its store may be
    // on a disk that has gone, or that the user has just chosen against).
    EndTempRecord();
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
    AddFailLineText(strPath,
                    dwError == CTempCopies::kRecordNotKept ? RecordNotKeptLine() : FormatSystemError(dwError));
}

void CBackUpEngine::AddFailLineText(const CString& strPath, const CString& strText)
{
    const CString line = DisplayPath(strPath) + L";" + strText;
    CCopyLane& lane = Lane();
    if (lane.pFails)
        lane.pFails->push_back(line);
    else if (m_pFailList)
        m_pFailList->InsertStringAndSelect(line);
}

CString CBackUpEngine::RecordNotKeptLine() const
{
    CString folder;
    const DWORD dwWhy = m_temps.RecordNotKept(folder);
    // Filled in by hand rather than as a format, so that a table's text can never be read as
    // one with other arguments.
    CString text = m_strRecordNotKeptText;
    const CString parts[] = {DisplayPath(folder), FormatSystemError(dwWhy)};
    int from = 0;
    for (const CString& part : parts) {
        const int at = text.Find(L"%s", from);
        if (at < 0)
            break;
        text = text.Left(at) + part + text.Mid(at + 2);
        from = at + part.GetLength();
    }
    return text;
}

void CBackUpEngine::AddCancelLine(const CString& strPath)
{
    if (!m_bLaneOutOfMemory) {
        AddFailLine(strPath, ERROR_CANCELLED);
        return;
    }
    AddFailLineText(strPath, m_strMemoryFailText);
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
