// The end of every copied file: the new copy takes the source's times and attributes and replaces
// the old copy in one step, whatever attributes the old copy has, and no temporary file stays.
// A source that changes while it is being copied is not taken for copied by the next run.
// Every copy is on the disk before it is stamped and named.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "SharedFunctions.h"
#include "engine_test_support.h"

namespace {

const DWORD kSticky = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

ULONGLONG Time100ns(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

} // namespace

TEST(EngineSettleTest, NewCopiesReplaceOldOnesOfAnyAttributesInBothForms)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    struct F {
        const wchar_t* name;
        DWORD attrs;
    };
    const F files[] = {{L"plain.txt", 0},
                       {L"ro.txt", FILE_ATTRIBUTE_READONLY},
                       {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
                       {L"both.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}};
    for (bool bCompress : {false, true}) {
        for (int round = 1; round <= 2; ++round) {
            for (const F& f : files) {
                const CString path = src + L"\\" + f.name;
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                WriteFileBytes(path, Pattern(5000 + round * 100, round + (bCompress ? 10 : 0)));
                SetLastWrite(path, 132000000000000000ull + round * 10000000ull);
                SetFileAttributesW(path, f.attrs ? f.attrs : FILE_ATTRIBUTE_NORMAL);
            }
            CBackUpEngine engine;
            CCapturedFailList fails;
            RunOptions opt;
            opt.bCompress = bCompress;
            RunBackUp(engine, root, {src}, opt, &fails);
            EXPECT_TRUE(fails.lines.empty()) << CStringA(fails.lines.empty() ? CString() : fails.lines[0]).GetString();
            for (const F& f : files) {
                const CString stored = StoredName(root, src + L"\\" + f.name) + (bCompress ? L".zip" : L"");
                EXPECT_EQ(AttributesOf(stored) & kSticky, f.attrs) << CStringA(stored).GetString();
                EXPECT_EQ(Time100ns(LastWriteOf(stored)), Time100ns(LastWriteOf(src + L"\\" + f.name))) << CStringA(stored).GetString() << " round " << round << " zip " << bCompress;
                if (!bCompress) {
                    EXPECT_TRUE(ReadFileBytes(stored) == ReadFileBytes(src + L"\\" + f.name)) << CStringA(stored).GetString();
                }
                // The next round finds an old copy that is read-only, hidden and system at once (system
                // files are not collected, but a stored copy can be made one).
                SetFileAttributesW(stored, kSticky);
            }
            EXPECT_TRUE(Temporaries(root).empty());
        }
    }
    // Switching to compressed copies left one form of each file.
    for (const F& f : files)
        EXPECT_FALSE(Exists(StoredName(root, src + L"\\" + f.name)));
}

TEST(EngineSettleTest, ASourceThatChangesDuringItsCopyIsCopiedAgainByTheNextRun)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const CString path = src + L"\\growing.log";
    WriteFileBytes(path, Pattern(5 * TestCopy::PieceSize, 3));
    SetLastWrite(path, 132000000000000000ull);
    const ULONGLONG before = Time100ns(LastWriteOf(path));

    CUseTestCopy copy;
    bool changed = false;
    // Someone writes to the file while its copy is half done.
    TestCopy::OnPiece = [&](const wchar_t*, ULONGLONG done) {
        if (!changed && done >= 2 * TestCopy::PieceSize) {
            changed = true;
            SetLastWrite(path, 132000000000000000ull + 50000000ull);
        }
    };
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(changed);
    EXPECT_TRUE(fails.lines.empty());
    // The copy carries the time of what it read, not the newer one.
    EXPECT_EQ(Time100ns(LastWriteOf(StoredName(root, path))), before);

    TestCopy::OnPiece = nullptr;
    TestCopy::nCalls = 0;
    RunOptions changedOnly;
    changedOnly.bChangedOnly = true;
    RunBackUp(engine, root, {src}, changedOnly, &fails);
    EXPECT_EQ(TestCopy::nCalls, 1);
    EXPECT_EQ(Time100ns(LastWriteOf(StoredName(root, path))), Time100ns(LastWriteOf(path)));
}

namespace {

// A stand-in for the engine's flush: notes what the copy looked like when it was flushed, how
// many flushes were under way at once, and fails on demand.
struct WatchedFlushes : CSystemIoOver {
    struct Seen {
        CString name;          // the file's path as the system names it then
        ULONGLONG size = 0;
        ULONGLONG lastWrite = 0;
    };
    static CRITICAL_SECTION cs;
    static std::vector<Seen> seen;
    static int nNow, nMost;
    static DWORD dwFail;        // the error of every flush, 0 for none
    static ULONGLONG nFailBelow; // with dwFail, only flushes of files shorter than this fail (0: all)
    static bool bWaitForCompany; // hold each flush until another one runs beside it (a while at most)

    static BOOL WINAPI Flush(HANDLE h)
    {
        Seen s;
        wchar_t name[1024] = {};
        if (GetFinalPathNameByHandleW(h, name, 1024, FILE_NAME_NORMALIZED) < 1024)
            s.name = name;
        LARGE_INTEGER size{};
        GetFileSizeEx(h, &size);
        s.size = static_cast<ULONGLONG>(size.QuadPart);
        FILETIME ft{};
        GetFileTime(h, nullptr, nullptr, &ft);
        s.lastWrite = Time100ns(ft);
        EnterCriticalSection(&cs);
        seen.push_back(s);
        if (++nNow > nMost)
            nMost = nNow;
        LeaveCriticalSection(&cs);
        for (int waited = 0; bWaitForCompany && waited < 200; ++waited) {
            EnterCriticalSection(&cs);
            const bool company = nMost > 1;
            LeaveCriticalSection(&cs);
            if (company)
                break;
            Sleep(5);
        }
        const bool bFail = dwFail && (!nFailBelow || s.size < nFailBelow);
        const BOOL ok = bFail ? FALSE : ::FlushFileBuffers(h);
        EnterCriticalSection(&cs);
        --nNow;
        LeaveCriticalSection(&cs);
        if (bFail)
            SetLastError(dwFail);
        return ok;
    }

    WatchedFlushes()
    {
        InitializeCriticalSection(&cs);
        Clear();
    }
    ~WatchedFlushes() override { DeleteCriticalSection(&cs); }
    BOOL FlushFile(HANDLE h) override { return Flush(h); }
    static void Clear()
    {
        seen.clear();
        nNow = nMost = 0;
        dwFail = 0;
        nFailBelow = 0;
        bWaitForCompany = false;
    }

private:
    // The settings the ways of a test change go back with the flushes' stand-in.
    CScopedSetting<int> m_lanes{CBackUpEngine::s_nCopyLanes, CBackUpEngine::s_nCopyLanes};
    CScopedSetting<bool> m_systemCopy{CBackUpEngine::s_bSystemCopyAlways, false};
    CScopedSystemIo m_install{*this};
};

CRITICAL_SECTION WatchedFlushes::cs;
std::vector<WatchedFlushes::Seen> WatchedFlushes::seen;
int WatchedFlushes::nNow = 0, WatchedFlushes::nMost = 0;
DWORD WatchedFlushes::dwFail = 0;
ULONGLONG WatchedFlushes::nFailBelow = 0;
bool WatchedFlushes::bWaitForCompany = false;

std::string Show(const std::vector<CString>& lines)
{
    std::string s;
    for (const CString& line : lines)
        s += std::string(CStringA(line).GetString()) + "\n";
    return s;
}

} // namespace

// Each way a copy is made: the engine's own plain copy (one file at a time, and several files
// at once), the system's copy used for files with further data streams, the compressed backup,
// and both restores. Every copy is flushed once, complete, while it still has its temporary
// name and before it gets the source's times; a flush that fails is a failed copy.
TEST(EngineSettleTest, EveryCopyIsFlushedWholeBeforeItIsStampedAndNamed)
{
    struct Way {
        const char* what;
        bool bRestore, bCompress, bSystemCopy;
        int nLanes;
    };
    const Way ways[] = {
        {"plain backup", false, false, false, 1},
        {"plain backup in lanes", false, false, false, 3},
        {"system copy", false, false, true, 1},
        {"compressed backup", false, true, false, 1},
        {"plain restore", true, false, false, 1},
        {"compressed restore", true, true, false, 1},
    };
    const size_t sizes[] = {0, 700, 65536 + 3000, 3 * 65536, 9000, 1200};
    const ULONGLONG kTime = 132000000000000000ull;
    WatchedFlushes flushes;
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        CTempTree t;
        const CString src = t.Path(L"src"), root = t.Path(L"dst");
        MakeFolders(src);
        std::vector<CString> paths;
        for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
            CString path;
            path.Format(L"%ls\\f%u.bin", src.GetString(), static_cast<unsigned>(i));
            WriteFileBytes(path, Pattern(sizes[i], static_cast<unsigned>(i)));
            SetLastWrite(path, kTime + i);
            paths.push_back(path);
        }
        const CString suffix = way.bCompress ? L".zip" : L"";
        RunOptions opt;
        opt.bCompress = way.bCompress;
        CBackUpEngine::s_nCopyLanes = way.nLanes;
        CBackUpEngine::s_bSystemCopyAlways = way.bSystemCopy;
        CBackUpEngine engine;

        // The store as a restore finds it (a backup replaces it).
        {
            CCapturedFailList fails;
            RunBackUp(engine, root, {src}, opt, &fails);
            ASSERT_TRUE(fails.lines.empty()) << Show(fails.lines);
        }
        // A backup has new contents to store; a restore finds the user's own files.
        std::vector<std::string> kept;   // what each file the run writes holds before it
        std::vector<CString> written;    // the files the run writes
        for (size_t i = 0; i < paths.size(); ++i) {
            written.push_back(way.bRestore ? paths[i] : StoredName(root, paths[i]) + suffix);
            WriteFileBytes(paths[i], way.bRestore ? std::string("the user's own newer file")
                                                  : Pattern(sizes[i], static_cast<unsigned>(50 + i)));
            SetLastWrite(paths[i], kTime + i);
            kept.push_back(ReadFileBytes(written.back()));
        }
        auto run = [&](CCapturedFailList& fails) {
            WatchedFlushes::seen.clear();
            if (way.bRestore)
                RunRestore(engine, root, {StoredName(root, src)}, RunOptions{}, &fails);
            else
                RunBackUp(engine, root, {src}, opt, &fails);
        };

        // A flush that fails: every file is a fail line, keeps what it held, and no temporary
        // copy stays.
        WatchedFlushes::dwFail = ERROR_WRITE_FAULT;
        {
            CCapturedFailList fails;
            run(fails);
            std::vector<CString> expected;
            for (size_t i = 0; i < paths.size(); ++i) {
                // A backup's plain copy names the source, like any failed write of it.
                const CString& named = way.bRestore || way.bCompress ? written[i] : paths[i];
                expected.push_back(named + L";" + FormatSystemError(ERROR_WRITE_FAULT));
            }
            std::sort(fails.lines.begin(), fails.lines.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(fails.lines, expected);
            EXPECT_EQ(WatchedFlushes::seen.size(), paths.size());
            EXPECT_EQ(engine.m_nDoneFiles, 0);
            for (size_t i = 0; i < paths.size(); ++i)
                EXPECT_TRUE(ReadFileBytes(written[i]) == kept[i]) << CStringA(written[i]).GetString();
            EXPECT_TRUE(Temporaries(t.Root()).empty());
        }

        // Flushes that succeed: once per file, before the rename and the times.
        WatchedFlushes::dwFail = 0;
        WatchedFlushes::bWaitForCompany = way.nLanes > 1;
        WatchedFlushes::nMost = 0;
        CCapturedFailList fails;
        run(fails);
        EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
        ASSERT_EQ(WatchedFlushes::seen.size(), paths.size());
        std::vector<ULONGLONG> flushedSizes, finalSizes;
        for (const WatchedFlushes::Seen& s : WatchedFlushes::seen) {
            EXPECT_TRUE(IsEngineTemporary(s.name)) << CStringA(s.name).GetString();
            // (The system's copy gives its file the source's times itself.)
            if (!way.bSystemCopy) {
                EXPECT_TRUE(s.lastWrite < kTime || s.lastWrite > kTime + paths.size()) << CStringA(s.name).GetString();
            }
            flushedSizes.push_back(s.size);
        }
        for (const CString& path : written)
            finalSizes.push_back(ReadFileBytes(path).size());
        std::sort(flushedSizes.begin(), flushedSizes.end());
        std::sort(finalSizes.begin(), finalSizes.end());
        EXPECT_EQ(flushedSizes, finalSizes);
        for (size_t i = 0; i < paths.size(); ++i)
            EXPECT_EQ(Time100ns(LastWriteOf(written[i])), kTime + i);
        if (way.bRestore || !way.bCompress) {
            for (size_t i = 0; i < paths.size(); ++i) {
                const std::string want = Pattern(sizes[i], static_cast<unsigned>(way.bRestore ? i : 50 + i));
                EXPECT_TRUE(ReadFileBytes(written[i]) == want) << CStringA(written[i]).GetString();
            }
        }
        // The lanes flush side by side: none waits for another's flush.
        if (way.nLanes > 1) {
            EXPECT_GE(WatchedFlushes::nMost, 2);
        }
        EXPECT_TRUE(Temporaries(t.Root()).empty());
    }
}

// A large copy is also flushed while it is being written, each time a good part more of it has
// been written, and whole at its end; a flush on the way that fails fails the copy just like
// a failed final flush, for a backup and for a restore.
TEST(EngineSettleTest, ALargeCopyIsFlushedOnTheWayAndAFailedFlushOnTheWayFailsIt)
{
    const size_t kSize = CBackUpEngine::FLUSH_BEHIND + 3 * CBackUpEngine::COPY_CHUNK + 5;
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const CString path = src + L"\\large.bin", stored = StoredName(root, path);
    const std::string first = Pattern(kSize, 1);
    WriteFileBytes(path, first);

    WatchedFlushes flushes;
    CUseTestCopy pieces;
    // Once the copy has written past the point where it asks for a flush, it waits (a while at
    // most) until a flush has come: that flush finds a copy that is not whole yet.
    bool bWaited = false;
    TestCopy::OnPiece = [&](const wchar_t*, ULONGLONG done) {
        if (bWaited || done <= CBackUpEngine::FLUSH_BEHIND)
            return;
        bWaited = true;
        for (int waited = 0; waited < 400; ++waited) {
            EnterCriticalSection(&WatchedFlushes::cs);
            const bool bFlushed = !WatchedFlushes::seen.empty();
            LeaveCriticalSection(&WatchedFlushes::cs);
            if (bFlushed)
                break;
            Sleep(5);
        }
    };
    CBackUpEngine engine;
    auto run = [&](bool bRestore, CCapturedFailList& fails) {
        WatchedFlushes::seen.clear();
        bWaited = false;
        if (bRestore)
            RunRestore(engine, root, {StoredName(root, src)}, RunOptions{}, &fails);
        else
            RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    };

    // Flushes that succeed: at least one on the way, the last one of the whole copy, all of
    // them while it has its temporary name.
    {
        CCapturedFailList fails;
        run(false, fails);
        EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
        ASSERT_GE(WatchedFlushes::seen.size(), 2u);
        EXPECT_LT(WatchedFlushes::seen.front().size, kSize);
        EXPECT_EQ(WatchedFlushes::seen.back().size, kSize);
        for (const WatchedFlushes::Seen& s : WatchedFlushes::seen) {
            EXPECT_TRUE(IsEngineTemporary(s.name)) << CStringA(s.name).GetString();
        }
        EXPECT_TRUE(ReadFileBytes(stored) == first);
        EXPECT_EQ(engine.m_nDoneFiles, 1);
    }

    // Only the flush on the way fails: the file is a fail line, nothing takes the final name
    // and no temporary copy stays.
    WatchedFlushes::dwFail = ERROR_WRITE_FAULT;
    WatchedFlushes::nFailBelow = kSize;
    const CString failLine = path + L";" + FormatSystemError(ERROR_WRITE_FAULT);
    {
        WriteFileBytes(path, Pattern(kSize, 2));
        CCapturedFailList fails;
        run(false, fails);
        EXPECT_EQ(Show(fails.lines), Show({failLine}));
        EXPECT_EQ(engine.m_nDoneFiles, 0);
        EXPECT_TRUE(ReadFileBytes(stored) == first);
        EXPECT_TRUE(Temporaries(t.Root()).empty());
    }
    {
        // A restore names the file it writes, and leaves the user's file as it was.
        WriteFileBytes(path, "the user's own newer file");
        CCapturedFailList fails;
        run(true, fails);
        EXPECT_EQ(Show(fails.lines), Show({failLine}));
        EXPECT_EQ(engine.m_nDoneFiles, 0);
        EXPECT_TRUE(ReadFileBytes(path) == "the user's own newer file");
        EXPECT_TRUE(Temporaries(t.Root()).empty());
    }
}
