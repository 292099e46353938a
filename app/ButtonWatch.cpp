// The enclosure button watch.
#include "ButtonWatch.h"

#include <process.h>

#include <new>

USBDevList_ g_usbDevList = {};
CButtonWatchThread* g_pButtonWatchThread[ZEDOUSB_MAX_DEVICES] = {};
volatile LONG g_bBackupButtonPressed = 0;
volatile LONG g_bStopButtonWatch = 0;
HANDLE g_hOpenDevEvent = nullptr;
int g_bUSBHotKey = 0;

namespace {

const DWORD kPollMs = 300;
// How long a stop waits for all watchers together: a poll is three register reads, each with a
// 3-second time-out, so a watcher stuck in a slow device answers within this.
const DWORD kJoinBudgetMs = 10000;

// Each start makes a new generation; a watcher whose generation is over ends at its next check,
// even when a later start has lowered the stop word again.
volatile LONG g_nWatchGeneration = 0;
// Wakes sleeping watchers at once when a stop is raised.
HANDLE g_hStopEvent = nullptr;

bool StopRequested(LONG nGeneration)
{
    return g_bStopButtonWatch != 0 || g_nWatchGeneration != nGeneration;
}

bool AnySlotUsed()
{
    for (CButtonWatchThread* p : g_pButtonWatchThread)
        if (p)
            return true;
    return false;
}

} // namespace

bool ConsumeBackupButtonPress()
{
    return InterlockedExchange(&g_bBackupButtonPressed, 0) != 0;
}

unsigned __stdcall ButtonWatchThreadProc(void* pParam)
{
    const UINT_PTR nParam = reinterpret_cast<UINT_PTR>(pParam);
    const int nIndex = static_cast<int>(nParam & 0xFF);
    const LONG nGeneration = static_cast<LONG>(nParam >> 8);
    const LONG nBit = 1L << nIndex;
    bool bLatch = false;
    for (;;) {
        // The handle is read afresh on every pass.
        int nStatus = ZedoUSBLib_GetZULStatus(g_usbDevList.Entry[nIndex].hDevice);
        if (nStatus == -1)
            return 0;
        if (StopRequested(nGeneration))
            return 1;
        if (nStatus == 0) {
            // A held button counts once.
            if (!bLatch) {
                bLatch = true;
                InterlockedOr(&g_bBackupButtonPressed, nBit);
            }
        } else if (nStatus == 1) {
            // Only this enclosure's own release edge withdraws its own unconsumed press.
            if (bLatch) {
                bLatch = false;
                InterlockedAnd(&g_bBackupButtonPressed, ~nBit);
            }
        }
        if (!g_hStopEvent || WaitForSingleObject(g_hStopEvent, kPollMs) == WAIT_FAILED)
            Sleep(kPollMs);
        if (StopRequested(nGeneration))
            return 1;
    }
}

int StartButtonWatch()
{
    // A watch still running would poll beside the new one: end it first.
    if (AnySlotUsed()) {
        StopButtonWatchAndClose();
        g_bStopButtonWatch = 0;
    }

    if (g_hOpenDevEvent) {
        WaitForSingleObject(g_hOpenDevEvent, INFINITE);
        ResetEvent(g_hOpenDevEvent);
    }
    int nResult = ZedoUSBLib_OpenDev(&g_usbDevList);
    if (g_hOpenDevEvent)
        SetEvent(g_hOpenDevEvent);
    if (nResult != 0 || g_usbDevList.nCount <= 0) {
        ZedoUSBLib_CloseDev(&g_usbDevList);
        return 1;
    }

    if (!g_hStopEvent)
        g_hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_hStopEvent)
        ResetEvent(g_hStopEvent);
    const LONG nGeneration = InterlockedIncrement(&g_nWatchGeneration);

    const int nCount = g_usbDevList.nCount < ZEDOUSB_MAX_DEVICES ? g_usbDevList.nCount : ZEDOUSB_MAX_DEVICES;
    for (BYTE i = 0; i < nCount; ++i) {
        void* pParam = reinterpret_cast<void*>((static_cast<UINT_PTR>(nGeneration) << 8) | i);
        unsigned nThreadID = 0;
        HANDLE hThread = reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, ButtonWatchThreadProc, pParam, CREATE_SUSPENDED, &nThreadID));
        if (!hThread)
            break; // the devices after this one are not watched
        SetThreadPriority(hThread, THREAD_PRIORITY_HIGHEST);
        CButtonWatchThread* pThread = new (std::nothrow) CButtonWatchThread{hThread, nThreadID};
        if (!pThread) {
            // Without a slot the thread could not be stopped: do not let it run.
            InterlockedIncrement(&g_nWatchGeneration);
            ResumeThread(hThread);
            WaitForSingleObject(hThread, kJoinBudgetMs);
            CloseHandle(hThread);
            break;
        }
        g_pButtonWatchThread[i] = pThread;
        ResumeThread(hThread);
    }
    return 1;
}

int StopButtonWatchThreads()
{
    g_bStopButtonWatch = 1;
    InterlockedIncrement(&g_nWatchGeneration);
    if (g_hStopEvent)
        SetEvent(g_hStopEvent);
    const DWORD dwStart = GetTickCount();
    for (CButtonWatchThread*& pThread : g_pButtonWatchThread) {
        if (!pThread)
            continue;
        DWORD dwSpent = GetTickCount() - dwStart;
        DWORD dwLeft = dwSpent < kJoinBudgetMs ? kJoinBudgetMs - dwSpent : 0;
        // A watcher that is still inside a slow device request after the budget finishes that
        // request and then ends by itself: its generation is over.
        WaitForSingleObject(pThread->m_hThread, dwLeft);
        CloseHandle(pThread->m_hThread);
        delete pThread;
        pThread = nullptr;
    }
    return 1;
}

int StopButtonWatchAndClose()
{
    // The watchers end before their handles are closed under them.
    g_bStopButtonWatch = 1;
    StopButtonWatchThreads();
    ZedoUSBLib_CloseDev(&g_usbDevList);
    return 1;
}
