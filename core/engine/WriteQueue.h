#pragma once
// The blocks of one compressed backup on their way from the source to the target: the copy
// engine (producer, on the worker thread) reads them, coders code them, and the writer thread
// of the file writes them. One set of globals for the program; the engine's constructor
// creates the event and the critical section, its destructor releases them.
//
// The blocks of a file pass through a ring of ZUL_WRITE_RING slots (CompressedCopy.cpp); each
// slot holds a block's source bytes and its record as it goes to the file (4-byte header and
// stored bytes), and the records of the slots lie one after another, so that blocks stored as
// they are form one piece of memory and go to the file in one write.
//
// Protocol for one compressed file: the producer waits for g_hWriteDoneEvent (no writer
// running), resets it and starts WriteQueueThreadProc; it reads blocks into free slots in file
// order, many in one call, and hands them to the coders (or codes them itself); the writer
// writes the coded slots in file order, gathering consecutive ones into one write, and frees
// them. At most ZUL_WRITE_RING (<= ZUL_WRITE_QUEUE_MAX) blocks are held between their read and
// their write; the producer sleeps while the ring is full, the writer while its next block is
// not coded. The producer then sets g_bWriteQueueClosed and waits for g_hWriteDoneEvent again.
// The writer stops when every block is written, or on cancel (held blocks are dropped), or at
// the first failed write; it then closes the file and sets the event. The counters and the
// slot states change under g_csWriteQueue; each side is woken only when the other is asleep
// waiting for exactly that change.

#include <atomic>
#include <windows.h>

class CBackUpEngine;

// Largest block record: 4-byte header (source length, stored length) + 65536 data bytes,
// with room for the coder's scratch beyond a block that does not shrink.
enum { ZUL_WRITE_BLOCK_MAX = 65556 };
// Blocks held between their read and their write at most (the bound of the write queue).
enum { ZUL_WRITE_QUEUE_MAX = 101 };
// Slots of the ring of one file (fewer for a file of fewer blocks): a multiple of the blocks
// read, and gathered into one write, at a time, within ZUL_WRITE_QUEUE_MAX.
enum { ZUL_WRITE_RING = 96 };
static_assert(static_cast<int>(ZUL_WRITE_RING) <= static_cast<int>(ZUL_WRITE_QUEUE_MAX), "the ring is the write queue");

// Coder threads of one compressed backup at most. Blocks of a file are coded by a pool of
// coder threads when the file has more than one block and the machine more than one
// processor; each thread has its own coder (1 to 3 MB, up to about 7 MB on the most
// repetitive data) and a 64 KiB scratch record. Besides, the ring takes 128 KiB a slot
// (12 MB for 96 slots, less for a smaller file). That bounds a compressed backup at about
// 15 MB on one coder and about 37 MB (70 MB at worst) on eight.
enum { ZUL_CODER_THREADS_MAX = 8 };
// Coder threads per file: 0 (the default) for one per processor, 1 to code on the worker
// thread alone, more for that many (tests and benchmarks set it).
extern int g_nCoderThreads;

// One block of the ring as it goes to the file.
struct _WRITE {
    ULONGLONG nSourceBytes;   // source bytes of the block, counted when written
    DWORD nLength;            // bytes of the record (header + stored bytes)
    BYTE* pBlock;             // the record: header and stored bytes, in the ring
};

extern CBackUpEngine* g_pBackUpEngine;      // the engine made last, while it lives (tests ask it)
extern HANDLE g_hWriteDoneEvent;            // manual reset; set while no writer runs
extern CRITICAL_SECTION g_csWriteQueue;     // guards the ring of the current file
extern std::atomic<int> g_bWriteQueueClosed; // 1 when the producer has read its last block
// Blocks of the current file read and not yet written (under g_csWriteQueue); never more
// than ZUL_WRITE_RING, 0 while no compressed backup runs.
extern int g_nWriteQueued;

// The writer thread of one compressed file; its parameter is the file's ring
// (CompressedCopy.cpp), which holds the target handle.
DWORD WINAPI WriteQueueThreadProc(LPVOID pParam);

// The block writes and the writer thread go through SystemIo().WriteBlock and StartThread
// (SystemIo.h), where tests make a block write or the writer's start fail.
