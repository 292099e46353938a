#pragma once
// The disk clone worker: copies one attached disk onto another, sector for sector, a
// cylinder per step, with pause, stop, progress and result reported through its job record.

#include <windows.h>
#include "afx.h"

struct DiskCopyJob {
    ULONGLONG m_nTotalBytes = 0;   // source capacity, resolved when the job is prepared
    ULONGLONG m_nCopiedBytes = 0;  // bytes copied so far (the offset reached)
    volatile int m_bStop = 0;      // stop request; set by the worker when it ends
    int m_nSourceIndex = -1;       // entries of g_arrUSBDevice when the job was prepared
    int m_nTargetIndex = -1;
    volatile int m_bSuccess = 1;
    volatile int m_bDone = 0;      // set when the worker ends

    // Resolved from the device list by PrepareDiskCopyJob; the worker uses only these, so
    // a disk arriving or leaving while it runs cannot send it to another disk.
    CString m_strSourcePath;
    CString m_strTargetPath;
    ULONGLONG m_nTargetBytes = 0;  // target capacity
    // The refusal of disks of different sector sizes, taken from the string table on the
    // user-interface thread (a %u for each size); the built-in English text when empty.
    CString m_strSectorSizeText;

    // The copied byte count, read whole while the worker may be updating it.
    ULONGLONG GetCopiedBytes() const;
};

// Manual-reset event: signalled lets the clone run, reset holds it before its next cylinder.
// Created by whoever starts a clone; a clone without it never pauses.
extern HANDLE g_hDiskCopyPauseEvent;

// Fills the job for a clone of g_arrUSBDevice[nSourceIndex] onto g_arrUSBDevice[nTargetIndex]:
// the two device paths and both capacities, with m_bSuccess 1 and the other flags cleared.
// Run on the user-interface thread before starting the worker (it takes g_hDeviceListMutex
// when that exists; the caller may already hold it). False, with the job marked ended
// unsuccessful, for an index outside the list or the same disk twice.
bool PrepareDiskCopyJob(DiskCopyJob* pJob, int nSourceIndex, int nTargetIndex);

// The text refusing a clone between disks of different logical sector sizes, in the active
// language, with a %u for each size (the source's, then the target's). On the user-interface
// thread only, as the string table is.
CString DiskCopySectorSizeTemplate();
// The template with the two sizes in place of its %u marks.
CString FormatSectorSizes(const CString& strTemplate, DWORD nSourceBytes, DWORD nTargetBytes);

// The worker, started with _beginthreadex and a pointer to a prepared job. Reading the
// next cylinder overlaps the writing of the current one.
unsigned __stdcall DiskCopyThreadProc(void* pParam);

// The same copy run on the calling thread; bOverlapped false reads and writes one cylinder
// after the other with nothing overlapping (kept for measurement).
void RunDiskCopy(DiskCopyJob* pJob, bool bOverlapped);
