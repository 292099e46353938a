// Compressed copies: the program-wide write queue, its writer thread, and the compressed
// backup and restore of one file.
//
// A compressed copy ("<name>.zip"; it is no ZIP archive) is the marker 0xFFFFFFFF followed by
// one block per 65536 source bytes (the last one holds the rest). A block is its source length
// and its stored length (16 bits each, little-endian, 0 meaning 65536) and the stored bytes:
// the coded block, or the source bytes themselves when coding does not make them smaller, in
// which case the two length fields are equal.
//
// Both directions write into a temporary file that the caller moves over the final name only
// when the copy is complete; every failure here ends in a fail line and FALSE, and the caller
// removes the temporary file, so neither an older stored copy nor the user's file is lost.

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "BackUpEngine.h"
#include "CompressLZ77.h"
#include "WriteQueue.h"

CBackUpEngine* g_pBackUpEngine = nullptr;
HANDLE g_hWriteDoneEvent = nullptr;
CRITICAL_SECTION g_csWriteQueue;
CONDITION_VARIABLE g_cvWriteQueue = CONDITION_VARIABLE_INIT;
std::atomic<int> g_bWriteQueueClosed{0};
CArray<_WRITE*> g_arrWrite;
ZulWriteFileFunc g_pfnWriteBlock = ::WriteFile;
ZulCreateThreadFunc g_pfnCreateWriterThread = ::CreateThread;
int g_nCoderThreads = 0;

namespace {

const DWORD kMarker = 0xFFFFFFFFu;
const DWORD kBlock = 65536;
// Blocks read from the source in one call at most (1 MiB).
const DWORD kReadBlocks = 16;

// What the producer and the writer of one file share besides the queue. It lives on the
// producer's stack; the producer returns only after the writer has set g_hWriteDoneEvent,
// which is the writer's last access.
struct WriterJob {
    HANDLE hTarget = INVALID_HANDLE_VALUE;
    CBackUpEngine* pEngine = nullptr;
    bool bStopped = false;   // under g_csWriteQueue: the writer takes no more blocks
    DWORD dwError = 0;       // the first failed write's error, 0 when every write succeeded
};

// Blocks the writer has written, kept for the producer to fill again, so that a file's blocks
// are allocated once and not once per block; under g_csWriteQueue. Never more than the queue
// and the coders hold at a time.
std::vector<_WRITE*> g_freeBlocks;

// Frees every queued and every spare block; the caller holds g_csWriteQueue.
void EmptyQueueLocked()
{
    for (_WRITE* p : g_arrWrite)
        delete p;
    g_arrWrite.RemoveAll();
    for (_WRITE* p : g_freeBlocks)
        delete p;
    g_freeBlocks.clear();
}

// A block record to fill: a spare one when there is one, else a new one.
_WRITE* TakeFreeBlock()
{
    EnterCriticalSection(&g_csWriteQueue);
    _WRITE* p = nullptr;
    if (!g_freeBlocks.empty()) {
        p = g_freeBlocks.back();
        g_freeBlocks.pop_back();
    }
    LeaveCriticalSection(&g_csWriteQueue);
    return p ? p : new _WRITE;
}

// Writes all n bytes or reports why not.
bool WriteAll(HANDLE h, const BYTE* p, DWORD n, DWORD& dwError)
{
    while (n > 0) {
        DWORD written = 0;
        if (!g_pfnWriteBlock(h, p, n, &written, nullptr)) {
            dwError = GetLastError();
            if (dwError == ERROR_SUCCESS)
                dwError = ERROR_WRITE_FAULT;
            return false;
        }
        if (written == 0) {
            // A write that takes nothing is a full disk.
            dwError = ERROR_DISK_FULL;
            return false;
        }
        p += written;
        n -= written;
    }
    return true;
}

// Reads exactly n bytes; false (with the reason) when the file ends early or a read fails.
bool ReadAll(HANDLE h, BYTE* p, DWORD n, DWORD& dwError)
{
    while (n > 0) {
        DWORD got = 0;
        if (!ReadFile(h, p, n, &got, nullptr)) {
            dwError = GetLastError();
            return false;
        }
        if (got == 0) {
            dwError = ERROR_HANDLE_EOF;
            return false;
        }
        p += got;
        n -= got;
    }
    return true;
}

HANDLE OpenSource(const CString& strPath)
{
    return CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The temporary target is created empty, whatever was there: no tail of an older, longer
// file can survive behind the new content.
HANDLE CreateTarget(const CString& strPath)
{
    return CreateFileW(strPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
}

} // namespace

DWORD WINAPI WriteQueueThreadProc(LPVOID pParam)
{
    WriterJob* job = static_cast<WriterJob*>(pParam);
    CBackUpEngine* engine = job->pEngine;
    _WRITE* written = nullptr;   // the last block written, handed back with the next lock
    for (;;) {
        EnterCriticalSection(&g_csWriteQueue);
        if (written) {
            try {
                g_freeBlocks.push_back(written);
            } catch (const std::bad_alloc&) {
                delete written;
            }
            written = nullptr;
        }
        while (g_arrWrite.IsEmpty() && !g_bWriteQueueClosed && !engine->m_bCancel)
            SleepConditionVariableCS(&g_cvWriteQueue, &g_csWriteQueue, INFINITE);
        if (engine->m_bCancel || g_arrWrite.IsEmpty()) {
            // Cancelled (queued blocks are dropped), or closed and drained.
            LeaveCriticalSection(&g_csWriteQueue);
            break;
        }
        std::unique_ptr<_WRITE> block(g_arrWrite[0]);
        g_arrWrite.RemoveAt(0);
        WakeAllConditionVariable(&g_cvWriteQueue);   // room for the producer
        LeaveCriticalSection(&g_csWriteQueue);

        DWORD dwError = 0;
        if (!WriteAll(job->hTarget, block->block, block->nLength, dwError)) {
            job->dwError = dwError;
            break;
        }
        engine->m_nFileDoneBytes += block->nSourceBytes;
        engine->m_nDoneBytes += block->nSourceBytes;
        written = block.release();
    }
    delete written;
    CloseHandle(job->hTarget);
    job->hTarget = INVALID_HANDLE_VALUE;
    EnterCriticalSection(&g_csWriteQueue);
    job->bStopped = true;
    EmptyQueueLocked();
    WakeAllConditionVariable(&g_cvWriteQueue);
    LeaveCriticalSection(&g_csWriteQueue);
    SetEvent(g_hWriteDoneEvent);   // last access to the job: the producer may return now
    return 0;
}

bool CBackUpEngine::OpenCopyHandles(const CString& strSource, const CString& strTempTarget,
                                    const CString& strTarget)
{
    HANDLE hSource = OpenSource(strSource);
    if (hSource == INVALID_HANDLE_VALUE) {
        AddFailLine(strSource, GetLastError());
        return false;
    }
    HANDLE hTarget = CreateTarget(strTempTarget);
    if (hTarget == INVALID_HANDLE_VALUE) {
        AddFailLine(strTarget, GetLastError());
        CloseHandle(hSource);
        return false;
    }
    m_hSourceFile = hSource;
    m_hTargetFile = hTarget;
    return true;
}

namespace {

// Codes n source bytes into a block record: the header (source length, stored length) and the
// coded bytes, or the source bytes themselves when coding does not make them smaller.
void CodeBlock(CCompressLZ77& coder, const BYTE* pSource, DWORD n, _WRITE& out)
{
    const WORD sourceField = static_cast<WORD>(n == kBlock ? 0 : n);
    const int coded = coder.Compress(pSource, static_cast<int>(n), out.block + 4);
    WORD storedField;
    DWORD stored;
    if (coded > 0) {
        stored = static_cast<DWORD>(coded);
        storedField = static_cast<WORD>(coded);
    } else {
        stored = n;
        storedField = sourceField;
        std::memcpy(out.block + 4, pSource, n);
    }
    out.block[0] = static_cast<BYTE>(sourceField);
    out.block[1] = static_cast<BYTE>(sourceField >> 8);
    out.block[2] = static_cast<BYTE>(storedField);
    out.block[3] = static_cast<BYTE>(storedField >> 8);
    out.nSourceBytes = n;
    out.nLength = stored + 4;
}

// Appends a coded block to the write queue, waiting while the queue is full. False when the
// writer has stopped (a failed write or a cancel): the block is then dropped.
bool QueueBlock(WriterJob& job, std::unique_ptr<_WRITE>& block)
{
    EnterCriticalSection(&g_csWriteQueue);
    while (g_arrWrite.GetSize() >= ZUL_WRITE_QUEUE_MAX && !job.bStopped)
        SleepConditionVariableCS(&g_cvWriteQueue, &g_csWriteQueue, INFINITE);
    if (job.bStopped) {
        LeaveCriticalSection(&g_csWriteQueue);
        return false;
    }
    bool bQueued = true;
    try {
        g_arrWrite.Add(block.get());
        block.release();
    } catch (const std::bad_alloc&) {
        bQueued = false;   // never leave the lock held
    }
    WakeAllConditionVariable(&g_cvWriteQueue);
    LeaveCriticalSection(&g_csWriteQueue);
    if (!bQueued)
        throw std::bad_alloc();
    return true;
}

// Coder threads for the blocks of one file. Every block is coded from an empty dictionary, so
// the blocks of a file can be coded at the same time; the producer reads them into slots in
// file order, any free thread codes a slot with its own coder, and the producer takes the
// slots back in file order. A pool of T threads has 4T slots: while the producer waits for
// the oldest block, every thread still has blocks to work on, and the producer reads many
// blocks in one call. The slots' source buffers lie one after another, so consecutive slots
// are read into at once.
class CoderPool {
public:
    enum State { Free, Waiting, Done, Failed };
    enum { SLOTS_PER_THREAD = 4 };
    struct Slot {
        BYTE* source = nullptr;   // kBlock bytes in m_pSources
        DWORD n = 0;
        std::unique_ptr<_WRITE> block;
        State state = Free;
    };

    CoderPool()
    {
        InitializeCriticalSection(&m_cs);
        InitializeConditionVariable(&m_cvWork);
        InitializeConditionVariable(&m_cvDone);
    }
    ~CoderPool()
    {
        // Blocks not taken yet are dropped; a block being coded is finished first, since it
        // reads its slot.
        EnterCriticalSection(&m_cs);
        m_bQuit = true;
        m_pending.clear();
        WakeAllConditionVariable(&m_cvWork);
        LeaveCriticalSection(&m_cs);
        for (HANDLE h : m_threads) {
            WaitForSingleObject(h, INFINITE);
            CloseHandle(h);
        }
        DeleteCriticalSection(&m_cs);
    }
    CoderPool(const CoderPool&) = delete;
    CoderPool& operator=(const CoderPool&) = delete;

    // Starts up to nThreads coders with SLOTS_PER_THREAD slots each; returns the number
    // started (0 when none could start or the slots could not be had).
    int Start(int nThreads)
    {
        try {
            const size_t n = static_cast<size_t>(SLOTS_PER_THREAD * nThreads);
            m_pSources.reset(new BYTE[n * kBlock]);
            m_slots.resize(n);
            for (size_t k = 0; k < n; ++k) {
                m_slots[k].source = m_pSources.get() + k * kBlock;
                m_slots[k].block.reset(new _WRITE);
            }
            m_pending.reserve(m_slots.size());
        } catch (const std::bad_alloc&) {
            m_slots.clear();
            return 0;
        }
        for (int k = 0; k < nThreads; ++k) {
            // A coder needs little stack; a small reservation spares the address space of a
            // 32-bit process.
            HANDLE h = CreateThread(nullptr, 256 * 1024, ThreadProc, this,
                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
            if (!h)
                break;
            m_threads.push_back(h);
        }
        if (m_threads.empty())
            m_slots.clear();
        else
            m_slots.resize(SLOTS_PER_THREAD * m_threads.size());
        return static_cast<int>(m_threads.size());
    }
    int SlotCount() const { return static_cast<int>(m_slots.size()); }
    Slot& At(size_t index) { return m_slots[index % m_slots.size()]; }

    // Hands a filled slot to the coders.
    void Submit(size_t index)
    {
        Slot& slot = At(index);
        EnterCriticalSection(&m_cs);
        slot.state = Waiting;
        m_pending.push_back(&slot);
        WakeConditionVariable(&m_cvWork);
        LeaveCriticalSection(&m_cs);
    }
    // Waits until the slot is coded (Done) or could not be (Failed).
    State Wait(size_t index)
    {
        Slot& slot = At(index);
        EnterCriticalSection(&m_cs);
        while (slot.state == Waiting)
            SleepConditionVariableCS(&m_cvDone, &m_cs, INFINITE);
        const State state = slot.state;
        LeaveCriticalSection(&m_cs);
        return state;
    }
    bool IsCoded(size_t index)
    {
        EnterCriticalSection(&m_cs);
        const bool coded = At(index).state != Waiting;
        LeaveCriticalSection(&m_cs);
        return coded;
    }

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam)
    {
        static_cast<CoderPool*>(pParam)->Run();
        return 0;
    }
    void Run()
    {
        std::unique_ptr<CCompressLZ77> coder;
        try {
            coder.reset(new CCompressLZ77);
        } catch (const std::bad_alloc&) {
            // Without a coder every block this thread takes fails: the file fails, not the run.
        }
        for (;;) {
            EnterCriticalSection(&m_cs);
            while (m_pending.empty() && !m_bQuit)
                SleepConditionVariableCS(&m_cvWork, &m_cs, INFINITE);
            if (m_pending.empty()) {
                LeaveCriticalSection(&m_cs);
                return;
            }
            Slot* slot = m_pending.front();
            m_pending.erase(m_pending.begin());
            LeaveCriticalSection(&m_cs);

            State state = Failed;
            if (coder) {
                try {
                    CodeBlock(*coder, slot->source, slot->n, *slot->block);
                    state = Done;
                } catch (const std::bad_alloc&) {
                }
            }
            EnterCriticalSection(&m_cs);
            slot->state = state;
            WakeAllConditionVariable(&m_cvDone);
            LeaveCriticalSection(&m_cs);
        }
    }

    CRITICAL_SECTION m_cs;
    CONDITION_VARIABLE m_cvWork;
    CONDITION_VARIABLE m_cvDone;
    std::unique_ptr<BYTE[]> m_pSources;
    std::vector<Slot> m_slots;
    std::vector<Slot*> m_pending;   // slots waiting for a coder, oldest first
    std::vector<HANDLE> m_threads;
    bool m_bQuit = false;
};

// Waits for the coded block of a slot and queues it for the writer. False when the file must
// stop: the block could not be coded (out of memory) or the writer has stopped.
bool QueueCoded(CoderPool& pool, size_t index, WriterJob& job, bool& bWriterStopped,
                DWORD& dwError)
{
    if (pool.Wait(index) != CoderPool::Done) {
        dwError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    CoderPool::Slot& slot = pool.At(index);
    std::unique_ptr<_WRITE> block(std::move(slot.block));
    slot.block.reset(TakeFreeBlock());   // the queue owns the coded one now
    slot.state = CoderPool::Free;
    if (!QueueBlock(job, block)) {
        bWriterStopped = true;
        return false;
    }
    return true;
}

// Coder threads worth starting for a file of the given size: one per processor, none for a
// file of one block (it is coded on the calling thread) or on a single processor.
int CoderThreadsFor(ULONGLONG nSize)
{
    if (nSize <= kBlock)
        return 0;
    int n = g_nCoderThreads;
    if (n <= 0) {
        SYSTEM_INFO si{};
        GetSystemInfo(&si);
        n = static_cast<int>(si.dwNumberOfProcessors);
    }
    if (n > ZUL_CODER_THREADS_MAX)
        n = ZUL_CODER_THREADS_MAX;
    const ULONGLONG blocks = (nSize + kBlock - 1) / kBlock;
    if (static_cast<ULONGLONG>(n) > blocks)
        n = static_cast<int>(blocks);
    return n > 1 ? n : 0;
}

} // namespace

BOOL CBackUpEngine::BackUpCompressedFile(const CString& strSource, const CString& strTempTarget,
                                         const CString& strTarget)
{
    if (!OpenCopyHandles(strSource, strTempTarget, strTarget))
        return FALSE;
    HANDLE hSource = m_hSourceFile;
    HANDLE hTarget = m_hTargetFile;
    LARGE_INTEGER size{};
    DWORD dwError = 0;
    if (!GetFileSizeEx(hSource, &size)) {
        AddFailLine(strSource, GetLastError());
        CloseHandle(hSource);
        CloseHandle(hTarget);
        m_hSourceFile = m_hTargetFile = INVALID_HANDLE_VALUE;
        return FALSE;
    }
    if (!WriteAll(hTarget, reinterpret_cast<const BYTE*>(&kMarker), 4, dwError)) {
        AddFailLine(strTarget, dwError);
        CloseHandle(hSource);
        CloseHandle(hTarget);
        m_hSourceFile = m_hTargetFile = INVALID_HANDLE_VALUE;
        return FALSE;
    }

    // One writer at a time: wait until the previous one has finished, then start ours.
    WaitForSingleObject(g_hWriteDoneEvent, INFINITE);
    ResetEvent(g_hWriteDoneEvent);
    WriterJob job;
    job.hTarget = hTarget;
    job.pEngine = this;
    EnterCriticalSection(&g_csWriteQueue);
    EmptyQueueLocked();
    g_bWriteQueueClosed = 0;
    LeaveCriticalSection(&g_csWriteQueue);
    HANDLE hThread = g_pfnCreateWriterThread(nullptr, 0, WriteQueueThreadProc, &job, 0, nullptr);
    if (!hThread) {
        // Without a writer nothing would ever drain the queue: fail this file, not the run.
        AddFailLine(strTarget, GetLastError());
        SetEvent(g_hWriteDoneEvent);
        CloseHandle(hSource);
        CloseHandle(hTarget);
        m_hSourceFile = m_hTargetFile = INVALID_HANDLE_VALUE;
        return FALSE;
    }
    CloseHandle(hThread);   // the end is handed over through g_hWriteDoneEvent

    ULONGLONG remaining = static_cast<ULONGLONG>(size.QuadPart);
    DWORD dwReadError = 0;
    bool bWriterStopped = false;
    try {
        std::unique_ptr<CoderPool> pool;
        if (const int nThreads = CoderThreadsFor(remaining)) {
            pool.reset(new CoderPool);
            if (!pool->Start(nThreads))
                pool.reset();   // no thread could start: code on this thread
        }
        if (pool) {
            // Blocks are read and handed out in file order, and queued for the writer in file
            // order as they come back; at most SlotCount() blocks are out at a time. Reads wait
            // until half the slots are free (or the rest of the file fits), so that one call
            // reads many blocks while the coders still have the other half to work on.
            const size_t slots = static_cast<size_t>(pool->SlotCount());
            const size_t batch = slots / 2 < kReadBlocks ? (slots / 2 ? slots / 2 : 1) : kReadBlocks;
            size_t read = 0, queued = 0;
            bool bStop = false;
            while (!bStop) {
                const size_t free = slots - (read - queued);
                const ULONGLONG left = (remaining + kBlock - 1) / kBlock;
                if (remaining > 0 && free > 0 && (free >= batch || left <= free || queued == read)) {
                    WaitWhilePaused();
                    if (m_bCancel)
                        break;
                    // As many blocks as are free, up to the end of the ring, in one read.
                    size_t k = free < slots - read % slots ? free : slots - read % slots;
                    if (k > kReadBlocks)
                        k = kReadBlocks;
                    if (static_cast<ULONGLONG>(k) > left)
                        k = static_cast<size_t>(left);
                    const ULONGLONG want = static_cast<ULONGLONG>(k) * kBlock;
                    const DWORD bytes = static_cast<DWORD>(remaining < want ? remaining : want);
                    if (!ReadAll(hSource, pool->At(read).source, bytes, dwReadError))
                        break;
                    for (DWORD at = 0; at < bytes && !bStop;) {
                        if (at > 0) {
                            // Pause and cancel hold between blocks.
                            WaitWhilePaused();
                            if (m_bCancel) {
                                bStop = true;
                                break;
                            }
                        }
                        const DWORD n = bytes - at < kBlock ? bytes - at : kBlock;
                        pool->At(read).n = n;
                        pool->Submit(read++);
                        remaining -= n;
                        at += n;
                        // Pass on whatever is coded already, so the writer is never kept waiting.
                        while (queued < read && pool->IsCoded(queued) && !bStop)
                            bStop = !QueueCoded(*pool, queued++, job, bWriterStopped, dwReadError);
                    }
                    continue;
                }
                if (queued == read)
                    break;
                bStop = !QueueCoded(*pool, queued++, job, bWriterStopped, dwReadError);
            }
        } else {
            // Blocks are read kReadBlocks at a time (a file of one block: that block).
            CCompressLZ77 coder;
            const DWORD chunk = remaining < kReadBlocks * kBlock ? static_cast<DWORD>(remaining)
                                                                 : kReadBlocks * kBlock;
            std::unique_ptr<BYTE[]> buffer(new BYTE[chunk ? chunk : 1]);
            DWORD have = 0, at = 0;   // bytes read into the buffer, and coded of them
            while (remaining > 0) {
                WaitWhilePaused();
                if (m_bCancel)
                    break;
                if (at == have) {
                    have = remaining < chunk ? static_cast<DWORD>(remaining) : chunk;
                    at = 0;
                    if (!ReadAll(hSource, buffer.get(), have, dwReadError))
                        break;
                }
                const DWORD n = have - at < kBlock ? have - at : kBlock;
                std::unique_ptr<_WRITE> block(TakeFreeBlock());
                CodeBlock(coder, buffer.get() + at, n, *block);
                if (!QueueBlock(job, block)) {
                    bWriterStopped = true;
                    break;
                }
                at += n;
                remaining -= n;
            }
        }
    } catch (const std::bad_alloc&) {
        // Out of memory for the coder or a block: this file fails, the writer still ends.
        dwReadError = ERROR_NOT_ENOUGH_MEMORY;
    }

    // Close the queue and wait for the writer to drain it and close the target.
    EnterCriticalSection(&g_csWriteQueue);
    g_bWriteQueueClosed = 1;
    WakeAllConditionVariable(&g_cvWriteQueue);
    LeaveCriticalSection(&g_csWriteQueue);
    WaitForSingleObject(g_hWriteDoneEvent, INFINITE);
    EnterCriticalSection(&g_csWriteQueue);
    g_bWriteQueueClosed = 0;
    EmptyQueueLocked();
    LeaveCriticalSection(&g_csWriteQueue);
    CloseHandle(hSource);
    m_hSourceFile = m_hTargetFile = INVALID_HANDLE_VALUE;

    if (m_bCancel)
        return FALSE;
    if (job.dwError) {
        // A block that could not be written: the copy is incomplete.
        AddFailLine(strTarget, job.dwError);
        return FALSE;
    }
    if (dwReadError) {
        AddFailLine(strSource, dwReadError);
        return FALSE;
    }
    if (bWriterStopped || remaining > 0) {
        AddFailLine(strTarget, ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

BOOL CBackUpEngine::RestoreCompressedFile(const CString& strSource, const CString& strTempTarget,
                                          const CString& strTarget)
{
    if (!OpenCopyHandles(strSource, strTempTarget, strTarget))
        return FALSE;
    HANDLE hSource = m_hSourceFile;
    HANDLE hTarget = m_hTargetFile;
    auto finish = [&](BOOL ok) {
        CloseHandle(hSource);
        CloseHandle(hTarget);
        m_hSourceFile = m_hTargetFile = INVALID_HANDLE_VALUE;
        return ok;
    };

    // Every header and every block must be read whole and lie within the file; a damaged or
    // cut copy ends as a fail line for the stored file instead of running past its end.
    LARGE_INTEGER size{};
    DWORD dwError = 0;
    if (!GetFileSizeEx(hSource, &size)) {
        AddFailLine(strSource, GetLastError());
        return finish(FALSE);
    }
    DWORD marker = 0;
    if (size.QuadPart < 4 || !ReadAll(hSource, reinterpret_cast<BYTE*>(&marker), 4, dwError) ||
        marker != kMarker) {
        AddFailLine(strSource, dwError ? dwError : ERROR_FILE_CORRUPT);
        return finish(FALSE);
    }
    m_nDoneBytes += 4;
    m_nFileDoneBytes = 4;

    std::unique_ptr<CCompressLZ77> coder;
    std::unique_ptr<BYTE[]> stored, expanded;
    try {
        coder.reset(new CCompressLZ77);
        stored.reset(new BYTE[kBlock]);
        expanded.reset(new BYTE[kBlock]);
    } catch (const std::bad_alloc&) {
        AddFailLine(strSource, ERROR_NOT_ENOUGH_MEMORY);
        return finish(FALSE);
    }
    ULONGLONG remaining = static_cast<ULONGLONG>(size.QuadPart) - 4;
    while (remaining > 0) {
        WaitWhilePaused();
        if (m_bCancel)
            return finish(FALSE);
        BYTE header[4];
        if (remaining < 4) {
            AddFailLine(strSource, ERROR_FILE_CORRUPT);
            return finish(FALSE);
        }
        if (!ReadAll(hSource, header, 4, dwError)) {
            AddFailLine(strSource, dwError == ERROR_HANDLE_EOF ? ERROR_FILE_CORRUPT : dwError);
            return finish(FALSE);
        }
        const DWORD sourceField = header[0] | header[1] << 8;
        const DWORD storedField = header[2] | header[3] << 8;
        const DWORD n = sourceField ? sourceField : kBlock;
        const DWORD s = storedField ? storedField : n;
        if (static_cast<ULONGLONG>(s) + 4 > remaining) {
            AddFailLine(strSource, ERROR_FILE_CORRUPT);
            return finish(FALSE);
        }
        if (!ReadAll(hSource, stored.get(), s, dwError)) {
            AddFailLine(strSource, dwError == ERROR_HANDLE_EOF ? ERROR_FILE_CORRUPT : dwError);
            return finish(FALSE);
        }
        remaining -= 4 + static_cast<ULONGLONG>(s);
        const BYTE* data = stored.get();
        if (sourceField != storedField) {
            if (!coder->Decompress(expanded.get(), static_cast<int>(n), stored.get(),
                                  static_cast<int>(s))) {
                AddFailLine(strSource, ERROR_FILE_CORRUPT);
                return finish(FALSE);
            }
            data = expanded.get();
        }
        if (!WriteAll(hTarget, data, n, dwError)) {
            AddFailLine(strTarget, dwError);
            return finish(FALSE);
        }
        m_nFileDoneBytes += s + 4;
        m_nDoneBytes += s + 4;
    }
    return finish(TRUE);
}
