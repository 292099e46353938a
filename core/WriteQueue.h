#pragma once
// The queue of coded blocks between the copy engine (producer, on the worker thread) and the
// writer thread of a compressed copy. One set for the program; the engine's constructor
// creates the event and the critical section, its destructor releases them.
//
// Protocol for one compressed file: the producer waits for g_hWriteDoneEvent (no writer
// running), resets it and starts WriteQueueThreadProc; it queues blocks in file order, at most
// ZUL_WRITE_QUEUE_MAX of them (it sleeps while the queue is full); it then sets
// g_bWriteQueueClosed and waits for g_hWriteDoneEvent again. The writer writes the blocks in
// order, sleeps while the queue is empty and open, and, when the queue is empty and closed, or
// on cancel, or at the first failed write, closes the file, empties the queue and sets the
// event. Every change to g_arrWrite and g_bWriteQueueClosed is made under g_csWriteQueue, and
// every such change wakes the other side through g_cvWriteQueue.

#include <atomic>
#include <windows.h>

#include "afxtempl.h"

class CBackUpEngine;

// Largest block record: 4-byte header (source length, stored length) + 65536 data bytes,
// with room for the coder's scratch beyond a block that does not shrink.
enum { ZUL_WRITE_BLOCK_MAX = 65556 };
// Blocks the queue holds at most (about 6.5 MB).
enum { ZUL_WRITE_QUEUE_MAX = 101 };

// Coder threads of one compressed backup at most. Blocks of a file are coded by a pool of
// coder threads when the file has more than one block and the machine more than one
// processor; each thread has its own coder (1 to 3 MB, up to about 7 MB on the most
// repetitive data) and four slots (a 64 KiB source buffer and a block record each, 512 KiB).
// Besides, the queue holds at most 101 block records (6.5 MB), the writer one, and the spare
// records kept for reuse are never more than were out at once. That bounds a compressed backup
// at about 8 MB on one coder (its 1 MiB read buffer included) and about 38 MB (70 MB at worst)
// on eight.
enum { ZUL_CODER_THREADS_MAX = 8 };
// Coder threads per file: 0 (the default) for one per processor, 1 to code on the worker
// thread alone, more for that many (tests and benchmarks set it).
extern int g_nCoderThreads;

// One coded block as it goes to the file.
struct _WRITE {
    ULONGLONG nSourceBytes;            // source bytes of the block, counted when written
    DWORD nLength;                     // bytes of block[] to write (header + stored bytes)
    BYTE block[ZUL_WRITE_BLOCK_MAX];   // header and stored bytes
};

extern CBackUpEngine* g_pBackUpEngine;      // the engine the writer reports to
extern HANDLE g_hWriteDoneEvent;            // manual reset; set while no writer runs
extern CRITICAL_SECTION g_csWriteQueue;     // guards g_arrWrite and g_bWriteQueueClosed
extern CONDITION_VARIABLE g_cvWriteQueue;   // wakes the side waiting on the queue
extern std::atomic<int> g_bWriteQueueClosed; // 1 when the producer has queued its last block
// The queue, oldest first. It holds the blocks by pointer, so taking the oldest one moves
// pointers and not 64 KiB records; each block is owned by the queue while it is in it.
extern CArray<_WRITE*> g_arrWrite;

// The writer thread of one compressed file; its parameter is the file's writer job
// (CompressedCopy.cpp), which holds the target handle.
DWORD WINAPI WriteQueueThreadProc(LPVOID pParam);

// The two system calls of the compressed path that cannot be made to fail on demand: always
// WriteFile and CreateThread in the program; tests put stand-ins here to see a failing block
// write and a writer that cannot start.
typedef BOOL(WINAPI* ZulWriteFileFunc)(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes,
                                       LPDWORD pnWritten, LPOVERLAPPED pOverlapped);
typedef HANDLE(WINAPI* ZulCreateThreadFunc)(LPSECURITY_ATTRIBUTES pAttributes, SIZE_T nStack,
                                            LPTHREAD_START_ROUTINE pfnStart, LPVOID pParam,
                                            DWORD dwFlags, LPDWORD pdwThreadId);
extern ZulWriteFileFunc g_pfnWriteBlock;
extern ZulCreateThreadFunc g_pfnCreateWriterThread;
