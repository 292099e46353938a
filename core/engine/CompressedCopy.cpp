// Compressed copies: the ring of blocks between the source and the target, its writer thread,
// the coder threads, and the compressed backup and restore of one file.
//
// A compressed copy ("<name>.zip"; it is no ZIP archive) is the marker 0xFFFFFFFF followed by
// one block per 65536 source bytes (the last one holds the rest). A block is its source length
// and its stored length (16 bits each, little-endian, 0 meaning 65536) and the stored bytes:
// the coded block, or the source bytes themselves when coding does not make them smaller, in
// which case the two length fields are equal.
//
// Both directions write into a temporary file (see CTempCopies) that the caller moves over the
// final name only when the copy is complete; every failure here ends in a fail line and FALSE, and the caller
// removes the temporary file, so neither an older stored copy nor the user's file is lost.

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "BackUpEngine.h"
#include "CompressLZ77.h"
#include "LongPath.h"
#include "SystemIo.h"
#include "WriteQueue.h"

CBackUpEngine* g_pBackUpEngine = nullptr;
HANDLE g_hWriteDoneEvent = nullptr;
CRITICAL_SECTION g_csWriteQueue;
std::atomic<int> g_bWriteQueueClosed{0};
int g_nWriteQueued = 0;
int g_nCoderThreads = 0;

namespace {

const DWORD kMarker = 0xFFFFFFFFu;
const DWORD kBlock = 65536;
// A record in the ring: the 4-byte header and a block stored as it is.
const DWORD kRecord = kBlock + 4;
// Blocks read from the source in one call, and gathered into one write, at most (1 MiB).
const DWORD kReadBlocks = 16;
static_assert(ZUL_WRITE_RING % kReadBlocks == 0, "reads and writes never cross the ring's end");
// Milliseconds between two looks at the pause event during a compressed backup at most.
const ULONGLONG kPauseLookMs = 15;

// Writes all n bytes or reports why not.
bool WriteAll(HANDLE h, const BYTE* p, DWORD n, DWORD& dwError)
{
    while (n > 0) {
        DWORD written = 0;
        if (!SystemIo().WriteBlock(h, p, n, &written, nullptr)) {
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
    return CreateFileW(ExtendedPath(strPath), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The temporary target is created empty, whatever was there: no tail of an older, longer
// file can survive behind the new content.
HANDLE CreateTarget(const CString& strPath)
{
    return CreateFileW(ExtendedPath(strPath), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
}

// Puts the copy on the disk before it is stamped and named; write-through alone leaves that to
// the drive. False with the error (never 0) when it cannot.
bool FlushTarget(HANDLE h, DWORD& dwError)
{
    if (CBackUpEngine::FlushToDisk(h))
        return true;
    dwError = GetLastError();
    return false;
}

} // namespace

bool CBackUpEngine::OpenCopyHandles(const CString& strSource, const CString& strTempTarget,
                                    const CString& strTarget)
{
    CKernelHandle source(OpenSource(strSource));
    if (!source) {
        AddFailLine(strSource, GetLastError());
        return false;
    }
    CKernelHandle target(CreateTarget(strTempTarget));
    if (!target) {
        const DWORD err = GetLastError();
        source.Close();   // first: the fail line may find no memory
        AddFailLine(strTarget, err);
        return false;
    }
    m_hSourceFile = std::move(source);
    m_hTargetFile = std::move(target);
    return true;
}

namespace {

// Closes the engine's handles of a compressed copy however the copy of the file returns (the
// target's only while it is the engine's: the writer thread closes it once it has it).
class CCopyHandlesClosed {
public:
    explicit CCopyHandlesClosed(CBackUpEngine& engine) : m_engine(engine) {}
    ~CCopyHandlesClosed()
    {
        m_engine.m_hSourceFile.Close();
        m_engine.m_hTargetFile.Close();
    }
    CCopyHandlesClosed(const CCopyHandlesClosed&) = delete;
    CCopyHandlesClosed& operator=(const CCopyHandlesClosed&) = delete;

private:
    CBackUpEngine& m_engine;
};

} // namespace

namespace {

// The blocks of one file between their read and their write. It lives on the producer's
// stack; the producer returns only after the coder threads have ended and the writer has set
// g_hWriteDoneEvent, which is the writer's last access.
//
// Block k of the file lies in slot k % slots: its source bytes at source + slot * kBlock (so
// that consecutive slots are read in one call) and its record at records + slot * kRecord (so
// that consecutive blocks stored as they are lie one after another and are written in one
// call; a coded block's shorter record is moved up behind the one before it when written).
// Blocks [0, nWritten) are written, [nWritten, nTaken) are being coded or coded (or being
// written), [nTaken, nRead) wait for a coder; the producer reads into [nRead, nWritten + slots).
struct CopyRing {
    enum State { Free, Waiting, Coded, Failed };
    struct Slot {
        _WRITE rec{};
        State state = Free;
    };

    CKernelHandle hTarget;   // the writer's from its start; it closes it at its end
    CBackUpEngine* pEngine = nullptr;
    size_t slots = 0;
    std::unique_ptr<BYTE[]> source;
    std::unique_ptr<BYTE[]> records;
    std::vector<Slot> slot;

    // Under g_csWriteQueue.
    ULONGLONG nRead = 0;      // blocks read (and handed to the coders)
    ULONGLONG nTaken = 0;     // blocks a coder has taken
    ULONGLONG nWritten = 0;   // blocks written; their slots are free
    bool bStopped = false;    // the writer takes no more blocks
    bool bQuit = false;       // no more blocks come: the coders end when they run out
    bool bWriterAsleep = false;
    bool bProducerAsleep = false;
    int nCodersAsleep = 0;
    CONDITION_VARIABLE cvWork;    // a coder waits for a block to code
    CONDITION_VARIABLE cvCoded;   // the writer waits for its next block
    CONDITION_VARIABLE cvFree;    // the producer waits for free slots

    // Set by the writer before it stops.
    DWORD dwError = 0;        // the first failed write's error, 0 when every write succeeded
    bool bCodeFailed = false; // a block could not be coded (out of memory)

    CopyRing()
    {
        InitializeConditionVariable(&cvWork);
        InitializeConditionVariable(&cvCoded);
        InitializeConditionVariable(&cvFree);
    }
    Slot& At(ULONGLONG block) { return slot[static_cast<size_t>(block % slots)]; }
    BYTE* SourceOf(ULONGLONG block) { return source.get() + static_cast<size_t>(block % slots) * kBlock; }
    BYTE* RecordOf(ULONGLONG block) { return records.get() + static_cast<size_t>(block % slots) * kRecord; }

    // Marks a block coded (or failed); the writer is woken only when it waits for this block.
    // The caller holds g_csWriteQueue.
    void FinishLocked(ULONGLONG block, State state)
    {
        At(block).state = state;
        if (block == nWritten && bWriterAsleep)
            WakeConditionVariable(&cvCoded);
    }
};

// Codes the n source bytes of a block into its record in the ring: the header (source length,
// stored length) and the coded bytes, or the source bytes themselves when coding does not make
// them smaller. scratch holds ZUL_WRITE_BLOCK_MAX bytes: the coder may write past the end of a
// block that does not shrink, and the records lie next to each other.
void CodeBlock(CCompressLZ77& coder, BYTE* scratch, const BYTE* pSource, DWORD n, BYTE* pRecord,
               _WRITE& out)
{
    const WORD sourceField = static_cast<WORD>(n == kBlock ? 0 : n);
    const int coded = coder.Compress(pSource, static_cast<int>(n), scratch + 4);
    WORD storedField;
    DWORD stored;
    if (coded > 0) {
        stored = static_cast<DWORD>(coded);
        storedField = static_cast<WORD>(coded);
        std::memcpy(pRecord + 4, scratch + 4, stored);
    } else {
        stored = n;
        storedField = sourceField;
        std::memcpy(pRecord + 4, pSource, n);
    }
    pRecord[0] = static_cast<BYTE>(sourceField);
    pRecord[1] = static_cast<BYTE>(sourceField >> 8);
    pRecord[2] = static_cast<BYTE>(storedField);
    pRecord[3] = static_cast<BYTE>(storedField >> 8);
    out.nSourceBytes = n;
    out.nLength = stored + 4;
    out.pBlock = pRecord;
}

// A coder and its scratch record; null parts when memory is short.
struct CoderWork {
    std::unique_ptr<CCompressLZ77> coder;
    std::unique_ptr<BYTE[]> scratch;
    CoderWork()
    {
        try {
            coder.reset(new CCompressLZ77);
            scratch.reset(new BYTE[ZUL_WRITE_BLOCK_MAX]);
        } catch (const std::bad_alloc&) {
            coder.reset();
        }
    }
    // Codes one block of the ring; Failed when there is no coder or memory ran out.
    CopyRing::State Code(CopyRing& ring, ULONGLONG block)
    {
        if (!coder || !scratch)
            return CopyRing::Failed;
        CopyRing::Slot& s = ring.At(block);
        try {
            CodeBlock(*coder, scratch.get(), ring.SourceOf(block), static_cast<DWORD>(s.rec.nSourceBytes),
                      ring.RecordOf(block), s.rec);
        } catch (const std::bad_alloc&) {
            return CopyRing::Failed;
        }
        return CopyRing::Coded;
    }
};

// A coder thread: takes the oldest block waiting, codes it with its own coder, and marks it
// coded; every block is coded from an empty dictionary, so the blocks of a file can be coded
// at the same time. Ends when the producer has read its last block and none is left to code.
// Once the writer has stopped, blocks are marked failed without being coded.
DWORD WINAPI CoderThreadProc(LPVOID pParam)
{
    CopyRing& ring = *static_cast<CopyRing*>(pParam);
    CoderWork work;
    EnterCriticalSection(&g_csWriteQueue);
    for (;;) {
        while (ring.nTaken == ring.nRead && !ring.bQuit) {
            ring.nCodersAsleep++;
            SleepConditionVariableCS(&ring.cvWork, &g_csWriteQueue, INFINITE);
            ring.nCodersAsleep--;
        }
        if (ring.nTaken == ring.nRead)
            break;
        const ULONGLONG block = ring.nTaken++;
        const bool bSkip = ring.bStopped;
        LeaveCriticalSection(&g_csWriteQueue);
        const CopyRing::State state = bSkip ? CopyRing::Failed : work.Code(ring, block);
        EnterCriticalSection(&g_csWriteQueue);
        ring.FinishLocked(block, state);
    }
    LeaveCriticalSection(&g_csWriteQueue);
    return 0;
}

} // namespace

DWORD WINAPI WriteQueueThreadProc(LPVOID pParam)
{
    CopyRing& ring = *static_cast<CopyRing*>(pParam);
    CBackUpEngine* engine = ring.pEngine;
    bool bComplete = false;
    EnterCriticalSection(&g_csWriteQueue);
    for (;;) {
        if (engine->m_bCancel)
            break;   // the blocks held are dropped
        const ULONGLONG first = ring.nWritten;
        if (first == ring.nRead && g_bWriteQueueClosed) {
            bComplete = true;   // every block is written
            break;
        }
        const CopyRing::State state = first < ring.nRead ? ring.At(first).state : CopyRing::Waiting;
        if (state == CopyRing::Failed) {
            ring.bCodeFailed = true;
            break;
        }
        if (state != CopyRing::Coded) {
            ring.bWriterAsleep = true;
            SleepConditionVariableCS(&ring.cvCoded, &g_csWriteQueue, INFINITE);
            ring.bWriterAsleep = false;
            continue;
        }
        // The coded blocks that follow, up to the end of the ring, in one write.
        ULONGLONG end = first + 1;
        while (end < ring.nRead && end - first < kReadBlocks && end % ring.slots != 0 &&
               ring.At(end).state == CopyRing::Coded)
            ++end;
        LeaveCriticalSection(&g_csWriteQueue);

        // Records shorter than a slot leave gaps: the later ones move up to close them.
        BYTE* const start = ring.RecordOf(first);
        BYTE* at = start;
        ULONGLONG nSource = 0;
        for (ULONGLONG k = first; k < end; ++k) {
            const _WRITE& rec = ring.At(k).rec;
            if (rec.pBlock != at)
                std::memmove(at, rec.pBlock, rec.nLength);
            at += rec.nLength;
            nSource += rec.nSourceBytes;
        }
        DWORD dwError = 0;
        if (!WriteAll(ring.hTarget.Get(), start, static_cast<DWORD>(at - start), dwError)) {
            EnterCriticalSection(&g_csWriteQueue);
            ring.dwError = dwError;
            break;
        }
        engine->m_nFileDoneBytes += nSource;
        engine->m_nDoneBytes += nSource;

        EnterCriticalSection(&g_csWriteQueue);
        for (ULONGLONG k = first; k < end; ++k)
            ring.At(k).state = CopyRing::Free;
        ring.nWritten = end;
        g_nWriteQueued = static_cast<int>(ring.nRead - ring.nWritten);
        if (ring.bProducerAsleep)
            WakeConditionVariable(&ring.cvFree);
    }
    // Held under g_csWriteQueue here.
    ring.bStopped = true;
    WakeAllConditionVariable(&ring.cvFree);
    WakeAllConditionVariable(&ring.cvWork);
    LeaveCriticalSection(&g_csWriteQueue);
    // The whole copy on the disk before the producer counts it made (a failed flush is a
    // failed write: the producer reports it and the copy is not used).
    DWORD dwFlushError = 0;
    if (bComplete && !engine->m_bCancel && !FlushTarget(ring.hTarget.Get(), dwFlushError))
        ring.dwError = dwFlushError;
    ring.hTarget.Close();
    SetEvent(g_hWriteDoneEvent);   // last access to the ring: the producer may return now
    return 0;
}


namespace {

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

// The coder threads of one file; the destructor lets them code what is left (or skip it once
// the writer has stopped) and joins them.
class CoderThreads {
public:
    explicit CoderThreads(CopyRing& ring) : m_ring(ring) {}
    ~CoderThreads() { Join(); }
    CoderThreads(const CoderThreads&) = delete;
    CoderThreads& operator=(const CoderThreads&) = delete;

    // Starts up to n threads; returns the number started.
    int Start(int n)
    {
        try {
            m_threads.reserve(static_cast<size_t>(n));
        } catch (const std::bad_alloc&) {
            return 0;
        }
        for (int k = 0; k < n; ++k) {
            // A coder needs little stack; a small reservation spares the address space of a
            // 32-bit process.
            CKernelHandle thread(CreateThread(nullptr, 256 * 1024, CoderThreadProc, &m_ring,
                                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
            if (!thread)
                break;
            m_threads.push_back(std::move(thread));
        }
        return static_cast<int>(m_threads.size());
    }
    void Join()
    {
        Quit();
        for (CKernelHandle& thread : m_threads) {
            WaitForSingleObject(thread.Get(), INFINITE);
            thread.Close();
        }
        m_threads.clear();
    }

private:
    void Quit()
    {
        EnterCriticalSection(&g_csWriteQueue);
        m_ring.bQuit = true;
        WakeAllConditionVariable(&m_ring.cvWork);
        LeaveCriticalSection(&g_csWriteQueue);
    }
    CopyRing& m_ring;
    std::vector<CKernelHandle> m_threads;
};

} // namespace

namespace {

// The producer's part of a compressed backup: reads the file's blocks into the ring, many at a
// time, and hands them to the coder threads, or codes them itself where none can run, until
// the file is read, the run is cancelled or the writer stops. remaining: the bytes not read yet.
void ReadAndCode(CBackUpEngine& engine, CopyRing& ring, HANDLE hSource, ULONGLONG& remaining, DWORD& dwReadError)
{
    std::unique_ptr<CoderWork> ownCoder;
    // Without coder threads (one block, one processor, or none could start) the blocks
    // are coded here, between reads.
    CoderThreads coders(ring);
    const int nThreads = CoderThreadsFor(remaining);
    if (!nThreads || !coders.Start(nThreads)) {
        ownCoder.reset(new (std::nothrow) CoderWork);
        if (!ownCoder)
            dwReadError = ERROR_NOT_ENOUGH_MEMORY;
    }
    ULONGLONG nextRead = 0;
    bool bPauseLooked = false;
    ULONGLONG tPauseLooked = 0;
    while (remaining > 0 && !dwReadError) {
        // Room for a whole read: as many blocks as are left, up to kReadBlocks (the
        // ring holds a multiple of kReadBlocks, or the whole file).
        const ULONGLONG left = (remaining + kBlock - 1) / kBlock;
        const ULONGLONG want = left < kReadBlocks ? left : kReadBlocks;
        EnterCriticalSection(&g_csWriteQueue);
        while (!ring.bStopped && ring.slots - (nextRead - ring.nWritten) < want) {
            ring.bProducerAsleep = true;
            SleepConditionVariableCS(&ring.cvFree, &g_csWriteQueue, INFINITE);
            ring.bProducerAsleep = false;
        }
        const bool bStopped = ring.bStopped;
        LeaveCriticalSection(&g_csWriteQueue);
        if (bStopped)
            break;
        // Pause and cancel hold between blocks: here, before a read. A wait on the pause
        // event is a call into the system, so it is made before the first read and then
        // at most once a tick; the cancel flag is read before every read.
        const ULONGLONG now = GetTickCount64();
        if (!bPauseLooked || now - tPauseLooked >= kPauseLookMs) {
            engine.WaitWhilePaused();
            bPauseLooked = true;
            tPauseLooked = GetTickCount64();
        }
        if (engine.m_bCancel)
            break;
        const ULONGLONG wantBytes = want * kBlock;
        const DWORD bytes = static_cast<DWORD>(remaining < wantBytes ? remaining : wantBytes);
        if (!ReadAll(hSource, ring.SourceOf(nextRead), bytes, dwReadError))
            break;
        remaining -= bytes;
        if (!ownCoder) {
            // Hand the blocks to the coders all at once.
            EnterCriticalSection(&g_csWriteQueue);
            for (DWORD at = 0; at < bytes; at += kBlock) {
                CopyRing::Slot& s = ring.At(nextRead++);
                s.rec.nSourceBytes = bytes - at < kBlock ? bytes - at : kBlock;
                s.state = CopyRing::Waiting;
            }
            ring.nRead = nextRead;
            g_nWriteQueued = static_cast<int>(ring.nRead - ring.nWritten);
            if (ring.nCodersAsleep)
                WakeAllConditionVariable(&ring.cvWork);
            LeaveCriticalSection(&g_csWriteQueue);
            continue;
        }
        for (DWORD at = 0; at < bytes; at += kBlock) {
            if (at > 0 && engine.m_bCancel)
                break;
            const ULONGLONG block = nextRead++;
            CopyRing::Slot& s = ring.At(block);
            s.rec.nSourceBytes = bytes - at < kBlock ? bytes - at : kBlock;
            const CopyRing::State state = ownCoder->Code(ring, block);
            EnterCriticalSection(&g_csWriteQueue);
            ring.nRead = ring.nTaken = nextRead;
            g_nWriteQueued = static_cast<int>(ring.nRead - ring.nWritten);
            ring.FinishLocked(block, state);
            LeaveCriticalSection(&g_csWriteQueue);
        }
        if (engine.m_bCancel)
            break;
    }
    // The coders code what was handed to them and end; the writer writes it.
}

} // namespace

BOOL CBackUpEngine::BackUpCompressedFile(const CString& strSource, const CString& strTempTarget,
                                         const CString& strTarget)
{
    if (!OpenCopyHandles(strSource, strTempTarget, strTarget))
        return FALSE;
    CCopyHandlesClosed closed(*this);
    const HANDLE hSource = m_hSourceFile.Get();
    LARGE_INTEGER size{};
    DWORD dwError = 0;
    if (!GetFileSizeEx(hSource, &size)) {
        AddFailLine(strSource, GetLastError());
        return FALSE;
    }
    if (!WriteAll(m_hTargetFile.Get(), reinterpret_cast<const BYTE*>(&kMarker), 4, dwError)) {
        AddFailLine(strTarget, dwError);
        return FALSE;
    }

    ULONGLONG remaining = static_cast<ULONGLONG>(size.QuadPart);
    const ULONGLONG nBlocks = (remaining + kBlock - 1) / kBlock;
    CopyRing ring;
    ring.pEngine = this;
    ring.slots = nBlocks < ZUL_WRITE_RING ? static_cast<size_t>(nBlocks ? nBlocks : 1) : ZUL_WRITE_RING;
    try {
        ring.source.reset(new BYTE[ring.slots * kBlock]);
        ring.records.reset(new BYTE[ring.slots * kRecord]);
        ring.slot.resize(ring.slots);
    } catch (const std::bad_alloc&) {
        AddFailLine(strSource, ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }

    // One writer at a time: wait until the previous one has finished, then start ours.
    WaitForSingleObject(g_hWriteDoneEvent, INFINITE);
    ResetEvent(g_hWriteDoneEvent);
    EnterCriticalSection(&g_csWriteQueue);
    g_bWriteQueueClosed = 0;
    g_nWriteQueued = 0;
    LeaveCriticalSection(&g_csWriteQueue);
    // The target goes with the ring to the writer, which closes it.
    ring.hTarget = std::move(m_hTargetFile);
    CKernelHandle writer(SystemIo().StartThread(nullptr, 0, WriteQueueThreadProc, &ring, 0, nullptr));
    if (!writer) {
        // Without a writer nothing would ever drain the ring: fail this file, not the run.
        const DWORD err = GetLastError();
        SetEvent(g_hWriteDoneEvent);
        AddFailLine(strTarget, err);
        ring.hTarget.Close();
        return FALSE;
    }
    writer.Close();   // the end is handed over through g_hWriteDoneEvent

    DWORD dwReadError = 0;
    ReadAndCode(*this, ring, hSource, remaining, dwReadError);

    // Close the ring and wait for the writer to drain it and close the target.
    EnterCriticalSection(&g_csWriteQueue);
    g_bWriteQueueClosed = 1;
    if (ring.bWriterAsleep)
        WakeConditionVariable(&ring.cvCoded);
    LeaveCriticalSection(&g_csWriteQueue);
    WaitForSingleObject(g_hWriteDoneEvent, INFINITE);
    EnterCriticalSection(&g_csWriteQueue);
    g_bWriteQueueClosed = 0;
    g_nWriteQueued = 0;
    const bool bCodeFailed = ring.bCodeFailed;
    const bool bStopped = ring.bStopped && ring.nWritten < ring.nRead;
    LeaveCriticalSection(&g_csWriteQueue);
    m_hSourceFile.Close();

    if (m_bCancel) {
        // A copy the run's stop cut short is reported like any copy that did not complete.
        AddCancelLine(strSource);
        return FALSE;
    }
    if (ring.dwError) {
        // A block that could not be written: the copy is incomplete.
        AddFailLine(strTarget, ring.dwError);
        return FALSE;
    }
    if (dwReadError) {
        AddFailLine(strSource, dwReadError);
        return FALSE;
    }
    if (bCodeFailed) {
        AddFailLine(strSource, ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (bStopped || remaining > 0) {
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
    CCopyHandlesClosed closed(*this);
    const HANDLE hSource = m_hSourceFile.Get();
    const HANDLE hTarget = m_hTargetFile.Get();

    // Every header and every block must be read whole and lie within the file; a damaged or
    // cut copy ends as a fail line for the stored file instead of running past its end.
    LARGE_INTEGER size{};
    DWORD dwError = 0;
    if (!GetFileSizeEx(hSource, &size)) {
        AddFailLine(strSource, GetLastError());
        return FALSE;
    }
    DWORD marker = 0;
    if (size.QuadPart < 4 || !ReadAll(hSource, reinterpret_cast<BYTE*>(&marker), 4, dwError) ||
        marker != kMarker) {
        AddFailLine(strSource, dwError ? dwError : ERROR_FILE_CORRUPT);
        return FALSE;
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
        return FALSE;
    }
    ULONGLONG remaining = static_cast<ULONGLONG>(size.QuadPart) - 4;
    while (remaining > 0) {
        WaitWhilePaused();
        if (m_bCancel) {
            AddCancelLine(strSource);
            return FALSE;
        }
        BYTE header[4];
        if (remaining < 4) {
            AddFailLine(strSource, ERROR_FILE_CORRUPT);
            return FALSE;
        }
        if (!ReadAll(hSource, header, 4, dwError)) {
            AddFailLine(strSource, dwError == ERROR_HANDLE_EOF ? ERROR_FILE_CORRUPT : dwError);
            return FALSE;
        }
        const DWORD sourceField = header[0] | header[1] << 8;
        const DWORD storedField = header[2] | header[3] << 8;
        const DWORD n = sourceField ? sourceField : kBlock;
        const DWORD s = storedField ? storedField : n;
        if (static_cast<ULONGLONG>(s) + 4 > remaining) {
            AddFailLine(strSource, ERROR_FILE_CORRUPT);
            return FALSE;
        }
        if (!ReadAll(hSource, stored.get(), s, dwError)) {
            AddFailLine(strSource, dwError == ERROR_HANDLE_EOF ? ERROR_FILE_CORRUPT : dwError);
            return FALSE;
        }
        remaining -= 4 + static_cast<ULONGLONG>(s);
        const BYTE* data = stored.get();
        if (sourceField != storedField) {
            if (!coder->Decompress(expanded.get(), static_cast<int>(n), stored.get(),
                                  static_cast<int>(s))) {
                AddFailLine(strSource, ERROR_FILE_CORRUPT);
                return FALSE;
            }
            data = expanded.get();
        }
        if (!WriteAll(hTarget, data, n, dwError)) {
            AddFailLine(strTarget, dwError);
            return FALSE;
        }
        m_nFileDoneBytes += s + 4;
        m_nDoneBytes += s + 4;
        // Only the last block holds fewer than 65536 bytes: a short block with more after it
        // means blocks were lost or the copy was pieced together wrongly.
        if (n < kBlock && remaining > 0) {
            AddFailLine(strSource, ERROR_FILE_CORRUPT);
            return FALSE;
        }
    }
    if (!FlushTarget(hTarget, dwError)) {
        AddFailLine(strTarget, dwError);
        return FALSE;
    }
    return TRUE;
}
