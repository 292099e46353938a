// A plain backup that copies several small files at once: every file arrives whole with its
// times and attributes, the counters add up, the fail list reads as if the files had been
// copied one after the other, a cancel or a pause holds every thread, and a larger file is
// written alone.

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "BackUpEngine.h"
#include "WriteQueue.h"
#include "engine_test_support.h"

namespace {

const ULONGLONG kJan2020 = 132223104000000000ull; // 2020-01-01 in 100 ns units
const ULONGLONG kMinute = 600000000ull;
const DWORD kAttrMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Sets the number of files copied at once for the life of the object.
class CLanes {
public:
    explicit CLanes(int n) : m_nOld(CBackUpEngine::s_nCopyLanes) { CBackUpEngine::s_nCopyLanes = n; }
    ~CLanes() { CBackUpEngine::s_nCopyLanes = m_nOld; }

private:
    int m_nOld;
};

CString NameOf(int folder, int file)
{
    CString s;
    s.Format(L"d%d\\f%03d.bin", folder, file);
    return s;
}

// folders x files small files of varied sizes (some empty), with their own times; every
// seventh read-only, every eleventh hidden. Returns the file paths.
std::vector<CString> BuildSmallFiles(const CString& src, int folders, int files, unsigned seed)
{
    std::vector<CString> paths;
    for (int d = 0; d < folders; ++d) {
        MakeFolders(src + L"\\" + NameOf(d, 0).Left(2));
        for (int f = 0; f < files; ++f) {
            const CString path = src + L"\\" + NameOf(d, f);
            const int k = d * files + f;
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            WriteFileBytes(path, Pattern(static_cast<size_t>((k * 977) % 20000), seed + k));
            SetLastWrite(path, kJan2020 + (seed * 1000 + k) * kMinute);
            if (k % 7 == 3)
                SetFileAttributesW(path, FILE_ATTRIBUTE_READONLY);
            else if (k % 11 == 5)
                SetFileAttributesW(path, FILE_ATTRIBUTE_HIDDEN);
            paths.push_back(path);
        }
    }
    return paths;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void ExpectStoredCopiesOf(const CString& root, const std::vector<CString>& sources)
{
    for (const CString& source : sources) {
        const CString stored = StoredName(root, source);
        const CStringA name(stored);
        EXPECT_EQ(ReadFileBytes(source), ReadFileBytes(stored)) << name.GetString();
        EXPECT_TRUE(SameTime(LastWriteOf(source), LastWriteOf(stored))) << name.GetString();
        EXPECT_EQ(AttributesOf(source) & kAttrMask, AttributesOf(stored) & kAttrMask) << name.GetString();
    }
}

// A write that counts how many writes are under way at once, and stays a while in every
// write of a whole piece, so that anything copied beside a larger file would show.
struct WatchedWrites : CSystemIoOver {
    static std::atomic<int> nActive;
    static std::atomic<int> nBesideLarge;
    static BOOL WINAPI Write(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o)
    {
        const int active = ++nActive;
        if (n >= CBackUpEngine::COPY_CHUNK) {
            Sleep(30);
            if (nActive > 1 || active > 1)
                ++nBesideLarge;
        }
        const BOOL ok = ::WriteFile(h, p, n, pn, o);
        --nActive;
        return ok;
    }
    WatchedWrites()
    {
        nActive = 0;
        nBesideLarge = 0;
    }
    BOOL WriteBlock(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o) override { return Write(h, p, n, pn, o); }
    CScopedSystemIo install{*this};
};
std::atomic<int> WatchedWrites::nActive{0};
std::atomic<int> WatchedWrites::nBesideLarge{0};

// Writes of the first file's size fail after a while, writes of the second's at once, as on
// a disk that fills up (the sizes tell the files apart).
struct SlowThenFastFailures : CSystemIoOver {
    static std::atomic<DWORD> nSlow, nFast;
    static BOOL WINAPI Write(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o)
    {
        if (n == nSlow || n == nFast) {
            if (n == nSlow)
                Sleep(300);
            *pn = 0;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        return ::WriteFile(h, p, n, pn, o);
    }
    SlowThenFastFailures(const CString& slow, const CString& fast)
    {
        nSlow = static_cast<DWORD>(ReadFileBytes(slow).size());
        nFast = static_cast<DWORD>(ReadFileBytes(fast).size());
    }
    BOOL WriteBlock(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o) override { return Write(h, p, n, pn, o); }
    CScopedSystemIo install{*this};
};
std::atomic<DWORD> SlowThenFastFailures::nSlow{0};
std::atomic<DWORD> SlowThenFastFailures::nFast{0};

// A write that cancels the engine's run at the 40th write call, on whichever lane makes it.
struct CancelAtWrite : CSystemIoOver {
    static CBackUpEngine* pEngine;
    static std::atomic<int> nWrites;
    static BOOL WINAPI Write(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes, LPDWORD pnWritten,
                             LPOVERLAPPED pOverlapped)
    {
        if (++nWrites == 40)
            pEngine->m_bCancel = 1;
        return ::WriteFile(hFile, pBuffer, nBytes, pnWritten, pOverlapped);
    }
    BOOL WriteBlock(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o) override { return Write(h, p, n, pn, o); }
    CScopedSystemIo install{*this};
};
CBackUpEngine* CancelAtWrite::pEngine = nullptr;
std::atomic<int> CancelAtWrite::nWrites{0};

} // namespace

TEST(EngineLanesTest, SeveralFilesAtOnceStoreEveryFileWholeAndCountEveryByte)
{
    CLanes lanes(3);
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    std::vector<CString> sources = BuildSmallFiles(src, 4, 30, 1);
    // Two larger files among the small ones.
    const CString big1 = src + L"\\d1\\big1.dat", big2 = src + L"\\d2\\big2.dat";
    WriteFileBytes(big1, Pattern(2 * CBackUpEngine::COPY_CHUNK + 7, 91));
    WriteFileBytes(big2, Pattern(CBackUpEngine::COPY_CHUNK + 1, 92));
    sources.push_back(big1);
    sources.push_back(big2);

    CBackUpEngine engine;
    for (unsigned round = 0; round < 2; ++round) {
        if (round == 1) {
            // Every other file changes; the stored copies are replaced, read-only ones too.
            for (size_t i = 0; i < sources.size(); i += 2) {
                DWORD attrs = AttributesOf(sources[i]);
                SetFileAttributesW(sources[i], FILE_ATTRIBUTE_NORMAL);
                WriteFileBytes(sources[i], Pattern(5000 + i, 500 + static_cast<unsigned>(i)));
                SetLastWrite(sources[i], kJan2020 + (5000 + i) * kMinute);
                SetFileAttributesW(sources[i], attrs);
            }
        }
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << (fails.lines.empty() ? "" : CStringA(fails.lines[0]).GetString());
        EXPECT_EQ(engine.m_nDoneFiles, static_cast<int>(sources.size()));
        EXPECT_EQ(engine.m_nTotalFiles, static_cast<int>(sources.size()));
        EXPECT_EQ(engine.m_nDoneBytes, engine.m_nTotalBytes);
        EXPECT_EQ(engine.m_bDone, 1);
        ExpectStoredCopiesOf(root, sources);
        EXPECT_TRUE(Temporaries(root).empty());
        EXPECT_EQ(ListTree(root + L"\\VEZORI").size(), sources.size());
    }
}

TEST(EngineLanesTest, FailLinesFollowTheListOrderAsWhenCopyingOneFileAtATime)
{
    CTempTree t;
    const CString src = t.Path(L"src");
    const std::vector<CString> sources = BuildSmallFiles(src, 3, 25, 7);
    // Sources another program holds open without sharing cannot be read.
    std::vector<HANDLE> held;
    std::set<CString> locked;
    for (size_t i = 4; i < sources.size(); i += 9) {
        held.push_back(CreateFileW(sources[i], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(held.back(), INVALID_HANDLE_VALUE);
        locked.insert(sources[i]);
    }

    std::vector<CString> lines[2];
    std::vector<CString> listed;
    const int laneCounts[2] = {1, 3};
    for (int run = 0; run < 2; ++run) {
        CLanes lanes(laneCounts[run]);
        const CString root = t.Path(run == 0 ? L"one" : L"three");
        CBackUpEngine engine;
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
        lines[run] = fails.lines;
        EXPECT_EQ(engine.m_nDoneFiles, static_cast<int>(sources.size() - locked.size()));
        for (const CString& source : sources)
            EXPECT_EQ(Exists(StoredName(root, source)), locked.count(source) == 0)
                << CStringA(source).GetString();
        EXPECT_TRUE(Temporaries(root).empty());
        if (run == 1)
            for (INT_PTR i = 0; i < engine.m_arrFiles.GetSize(); ++i)
                if (locked.count(engine.m_arrFiles[i]))
                    listed.push_back(engine.m_arrFiles[i]);
    }
    for (HANDLE h : held)
        CloseHandle(h);

    EXPECT_EQ(lines[1], lines[0]);
    ASSERT_EQ(lines[1].size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i)
        EXPECT_EQ(lines[1][i].Left(lines[1][i].Find(L';')), listed[i]);

    // A file whose copy fails late still comes before the next file, which fails at once.
    {
        CLanes lanes(3);
        SlowThenFastFailures failures(sources[3], sources[4]);
        const CString root = t.Path(L"late");
        CBackUpEngine engine;
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
        std::vector<CString> paths;
        for (const CString& line : fails.lines)
            paths.push_back(line.Left(line.Find(L';')));
        EXPECT_EQ(paths, (std::vector<CString>{sources[3], sources[4]}));
        EXPECT_FALSE(Exists(StoredName(root, sources[3])));
        EXPECT_FALSE(Exists(StoredName(root, sources[4])));
        EXPECT_TRUE(Temporaries(root).empty());
    }
}

TEST(EngineLanesTest, CancelMidwayStopsEveryThreadAndLeavesOnlyWholeOldOrNewCopies)
{
    CLanes lanes(3);
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    const std::vector<CString> sources = BuildSmallFiles(src, 5, 60, 1);
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_EQ(engine.m_nDoneFiles, static_cast<int>(sources.size()));

    BuildSmallFiles(src, 5, 60, 2);   // new contents and times for every file
    // The cancel comes from inside the 40th write, so that it falls in the middle of the run
    // however fast the machine copies (a thread watching the count may wake only at the end).
    CancelAtWrite::pEngine = &engine;
    CancelAtWrite::nWrites = 0;
    {
        CancelAtWrite cancelAtWrite;
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    }

    EXPECT_EQ(engine.m_bDone, 1);
    EXPECT_TRUE(Temporaries(root).empty());
    int newer = 0, older = 0;
    for (size_t k = 0; k < sources.size(); ++k) {
        const std::string stored = ReadFileBytes(StoredName(root, sources[k]));
        const size_t size = (k * 977) % 20000;
        if (stored == Pattern(size, 2 + static_cast<unsigned>(k)))
            ++newer;
        else if (stored == Pattern(size, 1 + static_cast<unsigned>(k)) && size != 0)
            ++older;
        else
            EXPECT_EQ(stored.size(), 0u) << CStringA(sources[k]).GetString();
    }
    EXPECT_GE(newer, 30);
    EXPECT_GT(older, 0);   // the run stopped: later files keep their earlier copies
    EXPECT_LE(newer, engine.m_nDoneFiles.load());
}

TEST(EngineLanesTest, PauseHoldsEveryThreadUntilResumed)
{
    CLanes lanes(3);
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    const std::vector<CString> sources = BuildSmallFiles(src, 2, 30, 3);
    CBackUpEngine engine;
    CCapturedFailList fails;
    engine.Reset();
    engine.m_pFailList = &fails;
    engine.m_strTargetRoot = root;
    const CString store = root + L"\\VEZORI";
    engine.CollectBackUpFiles(src, store);
    HANDLE pause = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    engine.m_hPauseEvent = pause;
    std::thread worker([&] { engine.BackUpFileList(store); });
    Sleep(200);
    EXPECT_EQ(engine.m_nDoneFiles, 0);
    EXPECT_EQ(engine.m_nDoneBytes, 0u);
    EXPECT_EQ(engine.m_bDone, 0);
    SetEvent(pause);
    worker.join();
    CloseHandle(pause);
    engine.m_hPauseEvent = nullptr;
    EXPECT_EQ(engine.m_nDoneFiles, static_cast<int>(sources.size()));
    ExpectStoredCopiesOf(root, sources);
}

TEST(EngineLanesTest, ALargerFileIsWrittenWithNoOtherFileBesideIt)
{
    CLanes lanes(3);
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    std::vector<CString> sources = BuildSmallFiles(src, 2, 40, 5);
    for (int i = 0; i < 3; ++i) {
        CString big;
        big.Format(L"%ls\\d%d\\f%03dbig.dat", src.GetString(), i % 2, 10 + 10 * i);
        WriteFileBytes(big, Pattern(3 * CBackUpEngine::COPY_CHUNK, 70 + i));
        sources.push_back(big);
    }
    WatchedWrites watch;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_EQ(WatchedWrites::nBesideLarge, 0);
    EXPECT_EQ(engine.m_nDoneBytes, engine.m_nTotalBytes);
    ExpectStoredCopiesOf(root, sources);
}
