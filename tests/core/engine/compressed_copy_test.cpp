// Compressed backup and restore of real files: the stored format, round trips of every kind of
// data and block-size edge, the bounded queue, cancel, failing writes, a writer that cannot
// start, and damaged or cut copies.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "CompressLZ77.h"
#include "WriteQueue.h"
#include "engine_test_support.h"
#include "lz77_corpus.h"

namespace {

std::string ToString(const lz77corpus::Bytes& b)
{
    return std::string(b.begin(), b.end());
}

std::vector<CString> FailPaths(const CCapturedFailList& fails)
{
    std::vector<CString> paths;
    for (const CString& line : fails.lines)
        paths.push_back(line.Left(line.Find(L';')));
    return paths;
}

// Files in a folder tree that are not ours: temporary copies left behind.
std::vector<CString> Leftovers(const CString& folder)
{
    std::vector<CString> out;
    for (const CString& name : ListTree(folder))
        if (name.Find(L"~zu") >= 0 || name.Right(4) == L".tmp")
            out.push_back(name);
    return out;
}

struct Block {
    DWORD sourceField, storedField;
    std::string data;
};

// Reads a compressed copy independently of the engine; false when it is not well formed.
bool ParseCopy(const std::string& file, std::vector<Block>& blocks, std::string& content)
{
    if (file.size() < 4 || file.compare(0, 4, "\xFF\xFF\xFF\xFF", 4) != 0)
        return false;
    size_t at = 4;
    CCompressLZ77 coder;
    while (at < file.size()) {
        if (file.size() - at < 4)
            return false;
        const unsigned char* h = reinterpret_cast<const unsigned char*>(file.data() + at);
        Block b{DWORD(h[0] | h[1] << 8), DWORD(h[2] | h[3] << 8), {}};
        const DWORD n = b.sourceField ? b.sourceField : 65536;
        const DWORD s = b.storedField ? b.storedField : n;
        at += 4;
        if (file.size() - at < s)
            return false;
        b.data = file.substr(at, s);
        at += s;
        if (b.sourceField == b.storedField) {
            content += b.data;
        } else {
            std::string out(n, '\0');
            if (coder.Decompress(reinterpret_cast<unsigned char*>(&out[0]), (int)n,
                                 reinterpret_cast<const unsigned char*>(b.data.data()), (int)s) != 1)
                return false;
            content += out;
        }
        blocks.push_back(b);
    }
    return true;
}

RunOptions Compressed()
{
    RunOptions o;
    o.bCompress = true;
    return o;
}

// Stand-ins for the block write and the thread start, installed for one test.
struct Seams : CSystemIoOver {
    static std::atomic<int> writes;
    static int failAt;            // 1-based write that fails; 0: none
    static bool failShort;        // fail by writing nothing instead of returning FALSE
    static bool failPartial;      // write half of it, then return FALSE
    static DWORD failedBytes;     // bytes the failing write was given
    static CBackUpEngine* cancelEngine;
    static int cancelAt;          // write after which the engine is cancelled
    static DWORD sleepMs;         // a slow disk: every write of the first ones waits
    static int holdUntilQueued;   // the first block write (after the marker) waits until the
                                  // queue holds more than this
    static int maxQueued;
    static HANDLE pauseEvent;     // reset after the pauseAt-th write
    static int pauseAt;

    static void SampleQueue()
    {
        EnterCriticalSection(&g_csWriteQueue);
        maxQueued = std::max(maxQueued, g_nWriteQueued);
        LeaveCriticalSection(&g_csWriteQueue);
    }
    static BOOL WINAPI Write(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o)
    {
        const int k = ++writes;
        SampleQueue();
        if (holdUntilQueued && k == 2) {
            // However slowly the producer is scheduled, it gets the time to run ahead; a
            // producer that never fills the queue lets the run go on after a minute.
            const ULONGLONG until = GetTickCount64() + 60000;
            while (maxQueued <= holdUntilQueued && GetTickCount64() < until) {
                Sleep(5);
                SampleQueue();
            }
        }
        if (sleepMs && k < 20) {
            Sleep(sleepMs);
            SampleQueue();   // the producer had time to run ahead
        }
        if (failAt && k == failAt) {
            failedBytes = n;
            if (failShort) {
                *pn = 0;
                return TRUE;
            }
            if (failPartial) {
                // Part of the write reaches the disk before it fails.
                ::WriteFile(h, p, n / 2, pn, o);
            }
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        BOOL ok = ::WriteFile(h, p, n, pn, o);
        if (cancelEngine && k == cancelAt)
            cancelEngine->m_bCancel = 1;
        if (pauseEvent && k == pauseAt)
            ResetEvent(pauseEvent);
        return ok;
    }
    static HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                  DWORD, LPDWORD)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }

    Seams()
    {
        writes = 0;
        failAt = 0;
        failShort = false;
        failPartial = false;
        failedBytes = 0;
        cancelEngine = nullptr;
        cancelAt = 0;
        sleepMs = 0;
        holdUntilQueued = 0;
        maxQueued = 0;
        pauseEvent = nullptr;
        pauseAt = 0;
    }
    BOOL WriteBlock(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o) override { return Write(h, p, n, pn, o); }
    HANDLE StartThread(LPSECURITY_ATTRIBUTES a, SIZE_T n, LPTHREAD_START_ROUTINE f, LPVOID p, DWORD d,
                       LPDWORD pd) override
    {
        return noThread ? NoThread(a, n, f, p, d, pd) : Below().StartThread(a, n, f, p, d, pd);
    }
    bool noThread = false;        // the writer thread cannot start
    CScopedSystemIo install{*this};
};
std::atomic<int> Seams::writes{0};
int Seams::failAt = 0;
bool Seams::failShort = false;
bool Seams::failPartial = false;
DWORD Seams::failedBytes = 0;
CBackUpEngine* Seams::cancelEngine = nullptr;
int Seams::cancelAt = 0;
DWORD Seams::sleepMs = 0;
int Seams::holdUntilQueued = 0;
int Seams::maxQueued = 0;
HANDLE Seams::pauseEvent = nullptr;
int Seams::pauseAt = 0;

// The engine tests run with the blocks coded on the worker thread alone and on a pool.
class CompressedCopyCoders : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { g_nCoderThreads = GetParam(); }
    void TearDown() override { g_nCoderThreads = 0; }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Coders, CompressedCopyCoders, ::testing::Values(1, 4));

TEST_P(CompressedCopyCoders, EveryDataClassAndBlockEdgeRoundTrips)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    struct F {
        CString name;
        std::string bytes;
    };
    std::vector<F> files;
    const int sizes[] = {0, 1, 65535, 65536, 65537, 3 * 65536 + 1};
    const auto& classes = lz77corpus::Classes();
    int k = 0;
    for (int size : sizes)
        files.push_back({L"edge" + CString(std::to_wstring(size).c_str()) + L".bin",
                         ToString(classes[k++ % classes.size()].make(size + 1, size))});
    for (const auto& dc : classes)
        files.push_back({CString(dc.name) + L".dat", ToString(dc.make(3, 2 * 65536 + 999))});
    ULONGLONG total = 0;
    for (const F& f : files) {
        WriteFileBytes(src + L"\\" + f.name, f.bytes);
        total += f.bytes.size();
    }

    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, Compressed(), &fails);
    EXPECT_TRUE(fails.lines.empty()) << (fails.lines.empty() ? "" : CStringA(fails.lines[0]).GetString());
    EXPECT_EQ(engine.m_nDoneFiles, (int)files.size());
    EXPECT_EQ(engine.m_nDoneBytes, total);   // a backup counts source bytes

    ULONGLONG storedTotal = 0;
    for (const F& f : files) {
        const CString stored = StoredName(root, src + L"\\" + f.name) + L".zip";
        const std::string copy = ReadFileBytes(stored);
        storedTotal += copy.size();
        std::vector<Block> blocks;
        std::string content;
        ASSERT_TRUE(ParseCopy(copy, blocks, content)) << CStringA(f.name).GetString();
        EXPECT_EQ(content, f.bytes) << CStringA(f.name).GetString();
        // One block per 65536 bytes, the last with the rest; full blocks say 0.
        ASSERT_EQ(blocks.size(), (f.bytes.size() + 65535) / 65536);
        for (size_t b = 0; b < blocks.size(); ++b) {
            const size_t n = std::min<size_t>(65536, f.bytes.size() - b * 65536);
            EXPECT_EQ(blocks[b].sourceField, n == 65536 ? 0u : n);
            if (blocks[b].sourceField == blocks[b].storedField) {
                EXPECT_EQ(blocks[b].data, f.bytes.substr(b * 65536, n));   // stored as it is
            } else {
                EXPECT_LT(blocks[b].data.size(), n);
            }
        }
    }
    // An empty source is the marker alone.
    EXPECT_EQ(ReadFileBytes(StoredName(root, src + L"\\edge0.bin") + L".zip"),
              std::string("\xFF\xFF\xFF\xFF", 4));
    // Incompressible data is stored as it is.
    {
        std::vector<Block> blocks;
        std::string content;
        ParseCopy(ReadFileBytes(StoredName(root, src + L"\\incompressible.dat") + L".zip"), blocks,
                  content);
        for (const Block& b : blocks)
            EXPECT_EQ(b.sourceField, b.storedField);
    }

    // Restore over files that are now longer and different: each comes back exactly.
    for (const F& f : files)
        WriteFileBytes(src + L"\\" + f.name, std::string(f.bytes.size() + 70000, 'x'));
    CCapturedFailList restoreFails;
    RunRestore(engine, root, {StoredName(root, src)}, RunOptions{}, &restoreFails);
    EXPECT_TRUE(restoreFails.lines.empty());
    for (const F& f : files)
        EXPECT_EQ(ReadFileBytes(src + L"\\" + f.name), f.bytes) << CStringA(f.name).GetString();
    EXPECT_EQ(engine.m_nDoneBytes, storedTotal);   // a restore counts stored bytes
    EXPECT_TRUE(Leftovers(t.Root()).empty());
}

TEST(CompressedCopyTest, PlainFileNamedZipRestoresAsItIs)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const CString stored = StoredName(root, src + L"\\photo.zip");
    MakeFolders(StoredName(root, src));
    WriteFileBytes(stored, "PK\x03\x04 not ours");
    // A real compressed copy whose name lacks ".zip" is a plain file too.
    const CString storedNoZip = StoredName(root, src + L"\\marker.bin");
    WriteFileBytes(storedNoZip, std::string("\xFF\xFF\xFF\xFF", 4));
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunRestore(engine, root, {stored, storedNoZip}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_EQ(ReadFileBytes(src + L"\\photo.zip"), "PK\x03\x04 not ours");
    EXPECT_EQ(ReadFileBytes(src + L"\\marker.bin"), std::string("\xFF\xFF\xFF\xFF", 4));
}

TEST_P(CompressedCopyCoders, QueueStaysBoundedBehindASlowDisk)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    // 160 blocks of quickly coded data against a writer that is slow at first.
    std::string bytes = ToString(lz77corpus::Runs(5, 160 * 65536));
    WriteFileBytes(src + L"\\big.bin", bytes);
    Seams seams;
    Seams::sleepMs = 40;
    Seams::holdUntilQueued = ZUL_WRITE_RING - 16;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, Compressed(), &fails);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_LE(Seams::maxQueued, ZUL_WRITE_QUEUE_MAX);
    // The producer did run ahead: it reads 16 blocks at a time into the free slots.
    EXPECT_GT(Seams::maxQueued, ZUL_WRITE_RING - 16);
    std::vector<Block> blocks;
    std::string content;
    ASSERT_TRUE(ParseCopy(ReadFileBytes(StoredName(root, src + L"\\big.bin") + L".zip"), blocks,
                          content));
    EXPECT_EQ(content, bytes);
    EXPECT_EQ(g_nWriteQueued, 0);
    EXPECT_EQ(WaitForSingleObject(g_hWriteDoneEvent, 0), WAIT_OBJECT_0);
}

TEST_P(CompressedCopyCoders, CancelFailedWriteAndWriterStartKeepThePreviousCopy)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string v1 = ToString(lz77corpus::Text(1, 5 * 65536));
    WriteFileBytes(src + L"\\f.txt", v1);
    const CString zip = StoredName(root, src + L"\\f.txt") + L".zip";
    CBackUpEngine engine;
    {
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, Compressed(), &fails);
        ASSERT_TRUE(fails.lines.empty());
    }
    const std::string previous = ReadFileBytes(zip);
    // Blocks that are stored as they are, so that a gathered write is longer than one block.
    WriteFileBytes(src + L"\\f.txt", ToString(lz77corpus::Random(2, 40 * 65536 + 5)));

    // Cancel while blocks are being written: no new copy, the previous one stays.
    {
        Seams seams;
        Seams::cancelEngine = &engine;
        Seams::cancelAt = 3;
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, Compressed(), &fails);
        EXPECT_EQ(ReadFileBytes(zip), previous);
        EXPECT_TRUE(Leftovers(t.Root()).empty());
        EXPECT_EQ(g_nWriteQueued, 0);
    }
    // A write of several gathered blocks that fails, that writes nothing, and that fails
    // part-way: one fail line for the copy. The disk is slow at first, so that blocks gather.
    for (int mode = 0; mode < 3; ++mode) {
        Seams seams;
        Seams::sleepMs = 100;
        Seams::failAt = 3;   // the marker, one block, then several
        Seams::failShort = mode == 1;
        Seams::failPartial = mode == 2;
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, Compressed(), &fails);
        EXPECT_EQ(FailPaths(fails), std::vector<CString>{zip}) << mode;
        EXPECT_GT(Seams::failedBytes, 65540u) << mode;
        EXPECT_EQ(ReadFileBytes(zip), previous);
        EXPECT_TRUE(Leftovers(t.Root()).empty());
        EXPECT_EQ(engine.m_nDoneFiles, 0);
        EXPECT_LT(engine.m_nDoneBytes.load(), 40ull * 65536);   // what was not written is not counted
        EXPECT_EQ(g_nWriteQueued, 0);
    }
    // A writer that cannot start fails the file instead of hanging, and the next run works.
    {
        Seams seams;
        seams.noThread = true;
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, Compressed(), &fails);
        EXPECT_EQ(FailPaths(fails), std::vector<CString>{zip});
        EXPECT_EQ(ReadFileBytes(zip), previous);
        EXPECT_TRUE(Leftovers(t.Root()).empty());
    }
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, Compressed(), &fails);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_NE(ReadFileBytes(zip), previous);
}

TEST(CompressedCopyTest, PooledCodersStoreTheSameBytesAsOne)
{
    CTempTree t;
    CString src = t.Path(L"src");
    MakeFolders(src);
    using namespace lz77corpus;
    std::vector<std::pair<CString, std::string>> files = {
        {L"text.txt", ToString(Text(7, 5 * 65536 + 77))},
        {L"program.exe", ToString(Executable(8, 4 * 65536))},
        {L"photo.jpg", ToString(Random(9, 3 * 65536 + 1))},
        {L"disk.img", ToString(DiskImage(10, 17 * 65536 + 4095))},
        {L"two.bin", ToString(Runs(11, 65537))},
    };
    // Blocks that code and blocks that are stored as they are, in one file.
    std::string mixed;
    for (int k = 0; k < 9; ++k)
        mixed += ToString(k % 2 ? Random(20 + k, 65536) : Bitmap24(20 + k, 65536));
    files.push_back({L"mixed.bin", mixed});
    for (const auto& f : files)
        WriteFileBytes(src + L"\\" + f.first, f.second);

    std::vector<std::string> reference;
    for (int coders : {1, 3, 16}) {
        g_nCoderThreads = coders;
        const CString root = t.Path((L"dst" + std::to_wstring(coders)).c_str());
        CBackUpEngine engine;
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, Compressed(), &fails);
        EXPECT_TRUE(fails.lines.empty()) << coders;
        EXPECT_EQ(engine.m_nDoneFiles, (int)files.size());
        for (size_t k = 0; k < files.size(); ++k) {
            const std::string copy = ReadFileBytes(StoredName(root, src + L"\\" + files[k].first) + L".zip");
            if (coders == 1) {
                std::vector<Block> blocks;
                std::string content;
                ASSERT_TRUE(ParseCopy(copy, blocks, content));
                EXPECT_EQ(content, files[k].second);
                reference.push_back(copy);
            } else {
                EXPECT_TRUE(copy == reference[k]) << coders << " coders, " << CStringA(files[k].first).GetString();
            }
        }
    }
    g_nCoderThreads = 0;
}

namespace {

struct PausedRun {
    CBackUpEngine* engine;
    CString root, src;
    CCapturedFailList fails;
};

DWORD WINAPI PausedRunProc(LPVOID p)
{
    PausedRun* run = static_cast<PausedRun*>(p);
    CBackUpEngine& engine = *run->engine;
    engine.Reset();
    engine.m_pFailList = &run->fails;
    engine.m_strTargetRoot = run->root;
    engine.m_bCompress = 1;
    engine.m_hPauseEvent = Seams::pauseEvent;
    const CString store = run->root + L"\\VEZORI";
    engine.CollectBackUpFiles(run->src, store);
    engine.BackUpFileList(store);
    return 0;
}

// Waits until the block writes have stopped for a second (a loaded machine may take a while
// between two writes); returns their count, or -1 when they never stop.
int WritesWhenSettled()
{
    int last = -1, still = 0;
    for (int k = 0; k < 300; ++k) {
        Sleep(100);
        const int now = Seams::writes;
        still = now == last ? still + 1 : 0;
        if (still >= 10)
            return now;
        last = now;
    }
    return -1;
}

} // namespace

TEST_P(CompressedCopyCoders, PauseHoldsTheCopyBetweenBlocks)
{
    CTempTree t;
    CString src = t.Path(L"src");
    MakeFolders(src);
    // More blocks than the queue holds, behind a disk that is slow at first: the producer
    // is still reading when the pause comes.
    const std::string bytes = ToString(lz77corpus::Runs(12, 160 * 65536 + 3));
    WriteFileBytes(src + L"\\big.exe", bytes);
    Seams seams;
    Seams::sleepMs = 20;
    Seams::pauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    Seams::pauseAt = 3;
    CBackUpEngine engine;
    PausedRun run{&engine, t.Path(L"dst"), src, {}};
    HANDLE thread = CreateThread(nullptr, 0, PausedRunProc, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // Paused: what was queued is written, then nothing more, and the file is not done.
    const int settled = WritesWhenSettled();
    EXPECT_GE(settled, 3);
    EXPECT_LT(settled, 162);   // the marker and 161 blocks
    Sleep(500);
    EXPECT_EQ(Seams::writes, settled);
    EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(engine.m_nDoneFiles, 0);
    // Resumed: the copy completes, whole.
    SetEvent(Seams::pauseEvent);
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(run.fails.lines.empty());
    EXPECT_EQ(engine.m_nDoneFiles, 1);
    std::vector<Block> blocks;
    std::string content;
    ASSERT_TRUE(ParseCopy(ReadFileBytes(StoredName(t.Path(L"dst"), src + L"\\big.exe") + L".zip"),
                          blocks, content));
    EXPECT_EQ(content, bytes);
    CloseHandle(Seams::pauseEvent);
}

TEST(CompressedCopyTest, DamagedOrCutCopiesAreFailLinesAndKeepTheUsersFile)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string original = ToString(lz77corpus::Text(4, 3 * 65536 + 500));
    WriteFileBytes(src + L"\\f.txt", original);
    CBackUpEngine engine;
    {
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, Compressed(), &fails);
        ASSERT_TRUE(fails.lines.empty());
    }
    const CString zip = StoredName(root, src + L"\\f.txt") + L".zip";
    const std::string good = ReadFileBytes(zip);
    std::vector<Block> blocks;
    std::string content;
    ASSERT_TRUE(ParseCopy(good, blocks, content));
    ASSERT_NE(blocks[0].sourceField, blocks[0].storedField);   // text codes
    const size_t firstData = 8, secondHeader = 8 + blocks[0].data.size();

    std::vector<std::pair<const char*, std::string>> damaged;
    std::string flipped(good);
    for (size_t x = firstData + 10; x < secondHeader; x += 7)
        flipped[x] = (char)(flipped[x] ^ 0x5A);
    damaged.push_back({"damaged data", flipped});
    damaged.push_back({"cut inside a block", good.substr(0, secondHeader - 100)});
    damaged.push_back({"cut inside a header", good.substr(0, secondHeader + 2)});
    std::string bigHeader(good);
    bigHeader[secondHeader + 2] = (char)0xFF;   // stored length beyond the end of the file
    bigHeader[secondHeader + 3] = (char)0xFF;
    damaged.push_back({"length past the end", bigHeader.substr(0, secondHeader + 4 + 1000)});
    // Every block but the last holds 65536 bytes: a shorter one with more after it means blocks
    // are missing, each block being whole and well-formed.
    auto storedBlock = [](const std::string& bytes) {
        const size_t n = bytes.size();
        std::string header = {(char)(n & 0xFF), (char)(n >> 8), (char)(n & 0xFF), (char)(n >> 8)};
        return header + bytes;
    };
    damaged.push_back({"short block before full ones", good.substr(0, 4) + storedBlock(original.substr(0, 500)) +
                                                            good.substr(4)});
    damaged.push_back({"two short blocks", good.substr(0, 4) + storedBlock(original.substr(0, 300)) +
                                                storedBlock(original.substr(300, 200))});

    const std::string users = "the user's own newer file";
    for (const auto& d : damaged) {
        WriteFileBytes(zip, d.second);
        WriteFileBytes(src + L"\\f.txt", users);
        CCapturedFailList fails;
        RunRestore(engine, root, {zip}, RunOptions{}, &fails);
        EXPECT_EQ(FailPaths(fails), std::vector<CString>{zip}) << d.first;
        if (!fails.lines.empty()) {
            EXPECT_GT(fails.lines[0].GetLength(), zip.GetLength() + 1) << d.first;   // an error text
        }
        EXPECT_EQ(ReadFileBytes(src + L"\\f.txt"), users) << d.first;
        EXPECT_TRUE(Leftovers(t.Root()).empty()) << d.first;
    }
    // The undamaged copy restores.
    WriteFileBytes(zip, good);
    CCapturedFailList fails;
    RunRestore(engine, root, {zip}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_EQ(ReadFileBytes(src + L"\\f.txt"), original);
}
