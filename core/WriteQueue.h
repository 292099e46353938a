#pragma once
// The queue of coded blocks between the copy engine (producer, on the worker thread) and the
// writer thread of a compressed copy. One set for the program; the engine's constructor
// creates the event and the critical section, its destructor releases them.

#include <atomic>
#include <windows.h>

#include "afxtempl.h"

class CBackUpEngine;

// Largest block record: 4-byte header (source length, stored length) + 65536 data bytes,
// with some room to spare for the coder's worst case.
enum { ZUL_WRITE_BLOCK_MAX = 65556 };

// One coded block as it goes to the file.
struct _WRITE {
    ULONGLONG nSourceBytes;            // source bytes of the block, counted when written
    DWORD nLength;                     // bytes of block[] to write (header + stored bytes)
    BYTE block[ZUL_WRITE_BLOCK_MAX];   // header and stored bytes
};

extern CBackUpEngine* g_pBackUpEngine;      // the engine the writer reports to
extern HANDLE g_hWriteDoneEvent;            // manual reset; set while no writer runs
extern CRITICAL_SECTION g_csWriteQueue;     // guards g_arrWrite
extern std::atomic<int> g_bWriteQueueClosed; // 1 when the producer has queued its last block
extern CArray<_WRITE> g_arrWrite;           // the queue, oldest first
