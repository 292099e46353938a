// What a user of a USB disk meets around the engine's temporary copies: a backup killed in the
// middle of a copy with the disk coming back under another letter, user's files named like the
// engine's files, copies thrown away at a stop, names that differ only in letter case, a
// restore beside another process's running backup, a restore killed at any step of
// replacing a user's file, a backup cancelled while it collects before one to another disk,
// a restore whose data folder cannot hold the record of its temporaries, a user's things in the
// engine's folder of the store and a file in its way. Nothing the engine made is ever restored
// or left for good, and nothing of the user's is removed, replaced or renamed by something the
// engine left.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "BackUpThread.h"
#include "DataFiles.h"
#include "SharedFunctions.h"
#include "TempCopies.h"
#include <optional>

#include "backup_folders.h"
#include "engine_test_support.h"

namespace {

// Wine only: renames a file to a name that differs from one beside it only in letter case,
// through the Unix side (the only one that makes such a name), and waits until it is done.
void MakeCaseTwin(const CString& strFolder, const CString& strFrom, const CString& strTo)
{
    RunUnixShell(L"mv '" + UnixPathOf(strFolder + L"\\" + strFrom) + L"' '" + UnixPathOf(strFolder) + L"/" + strTo +
                 L"'");
}

std::string Show(const std::vector<CString>& lines)
{
    std::string s;
    for (const CString& line : lines)
        s += std::string(CStringA(line).GetString()) + "\n";
    return s;
}


// --- The child runs ---------------------------------------------------------------------------
//
// A test starts this program again as a child that runs one backup or restore and ends in the
// middle: "k" kills itself at the third piece of a copy; "h" signals kMidwayEvent there and
// waits to be killed; "s" restores and kills itself at the n-th step of its temporaries (a name
// noted, the first piece written, before and after a copy's flush, a name about to be struck).
// The variable holds the mode, "c" for compressed or "-", the target root, the selection and n,
// separated by "|".
const wchar_t kChildVariable[] = L"ZUL_ENGINE_TEMPS_CHILD";
const wchar_t kMidwayEvent[] = L"ZulEngineTempsChildMidway";
const DWORD kKilled = 3, kCompleted = 4;

std::atomic<int> g_nStepsLeft{0};

void Step()
{
    if (--g_nStepsLeft == 0)
        TerminateProcess(GetCurrentProcess(), kKilled);
}

void CALLBACK OnTempStep(int)
{
    Step();
}

BOOL WINAPI FlushStep(HANDLE hFile)
{
    Step();
    const BOOL ok = ::FlushFileBuffers(hFile);
    Step();
    return ok;
}

class CChild {
public:
    explicit CChild(const CString& strRun)
    {
        PROCESS_INFORMATION pi{};
        if (StartTestChild(L"EngineTempsChild.*", kChildVariable, strRun, 0, pi)) {
            m_hProcess = pi.hProcess;
            CloseHandle(pi.hThread);
        }
    }
    ~CChild()
    {
        Kill();
        if (m_hProcess)
            CloseHandle(m_hProcess);
    }
    // Its exit code once it has ended (0 when it could not start or did not end in time).
    DWORD Wait()
    {
        DWORD code = 0;
        if (m_hProcess && WaitForSingleObject(m_hProcess, 120000) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_hProcess, &code);
        return code;
    }
    void Kill()
    {
        if (m_hProcess && WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_hProcess, kKilled);
            WaitForSingleObject(m_hProcess, 30000);
        }
    }

private:
    HANDLE m_hProcess = nullptr;
};

CString ChildRun(wchar_t chMode, bool bCompress, const CString& strRoot, const CString& strPath, int nStep = 0)
{
    CString s;
    s.Format(L"%lc|%lc|%ls|%ls|%d", chMode, bCompress ? L'c' : L'-', strRoot.GetString(), strPath.GetString(), nStep);
    return s;
}

} // namespace

TEST(EngineTempsChild, Run)
{
    wchar_t run[4096] = {};
    if (!GetEnvironmentVariableW(kChildVariable, run, 4096))
        GTEST_SKIP() << "the half of another test";
    std::vector<CString> f;
    CString s(run);
    for (int start = 0;;) {
        const int bar = s.Find(L'|', start);
        f.push_back(s.Mid(start, bar < 0 ? s.GetLength() - start : bar - start));
        if (bar < 0)
            break;
        start = bar + 1;
    }
    ASSERT_EQ(f.size(), 5u);
    const wchar_t mode = f[0][0];
    RunOptions opt;
    opt.bCompress = f[1] == L"c";
    CUseTestCopy useTestCopy;
    std::optional<CUseFlush> flushSteps;
    if (mode == L's') {
        g_nStepsLeft = _wtoi(f[4]);
        CTempCopies::s_pfnStep = OnTempStep;
        flushSteps.emplace(FlushStep);
        TestCopy::OnPiece = [](const wchar_t*, ULONGLONG nDone) {
            if (nDone == TestCopy::PieceSize)
                Step();
        };
    } else {
        TestCopy::OnPiece = [mode](const wchar_t*, ULONGLONG nDone) {
            if (nDone < 3 * TestCopy::PieceSize)
                return;
            if (mode == L'k')
                TerminateProcess(GetCurrentProcess(), kKilled);
            HANDLE h = OpenEventW(EVENT_MODIFY_STATE, FALSE, kMidwayEvent);
            SetEvent(h);
            Sleep(INFINITE);
        };
    }
    CBackUpEngine engine;
    CCapturedFailList fails;
    if (mode == L's')
        RunRestore(engine, f[2], {f[3]}, opt, &fails);
    else
        RunBackUp(engine, f[2], {f[3]}, opt, &fails);
    TerminateProcess(GetCurrentProcess(), kCompleted);
}

// A backup killed in the middle of a large copy on one drive letter; the disk comes back under
// another. A restore from it into the emptied folder brings back only what was stored, a
// backup completes the store, and neither the folder nor the store keeps anything the engine
// made.
TEST(EngineTempsTest, KilledBackupAndTheDiskBackUnderAnotherLetter)
{
    CTempTree t;
    const CString disk = t.Path(L"disk"), src = t.Path(L"src");
    MakeFolders(disk);
    MakeFolders(src);
    const std::string data = Pattern(100000, 11);
    WriteFileBytes(src + L"\\data.bin", data);
    WriteFileBytes(src + L"\\note.txt", "note");
    if (!MapDriveLetter(L'p', disk) || !MapDriveLetter(L'q', disk))
        GTEST_SKIP() << "this system gives no folder a drive letter of its own";
    struct CUnmap {
        ~CUnmap()
        {
            MapDriveLetter(L'p', CString());
            MapDriveLetter(L'q', CString());
        }
    } unmap;
    ASSERT_TRUE(Exists(L"Q:\\"));

    CChild child(ChildRun(L'k', false, L"P:", src));
    ASSERT_EQ(child.Wait(), kKilled);
    ASSERT_EQ(Temporaries(disk).size(), 1u) << "the killed run left no temporary copy";
    // The disk comes back as Q: only.
    ASSERT_TRUE(MapDriveLetter(L'p', CString()));

    std::vector<CString> stored = ListTree(StoredName(disk, src));
    RemoveTree(src);
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunRestore(engine, L"Q:", {L"Q:\\VEZORI"}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    std::vector<CString> userFiles;
    for (const CString& name : stored)
        if (!IsEngineTemporary(L"\\" + name))
            userFiles.push_back(name);
    EXPECT_EQ(ListTree(src), userFiles);
    EXPECT_TRUE(Temporaries(src).empty()) << Show(Temporaries(src));
    EXPECT_TRUE(Temporaries(disk).empty()) << Show(Temporaries(disk));
    EXPECT_TRUE(Records(disk).empty()) << Show(Records(disk));

    MakeFolders(src);
    WriteFileBytes(src + L"\\data.bin", data);
    WriteFileBytes(src + L"\\note.txt", "note");
    RunBackUp(engine, L"Q:", {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(ListTree(StoredName(disk, src)), (std::vector<CString>{L"data.bin", L"note.txt"}));
    EXPECT_TRUE(ReadFileBytes(StoredName(disk, src) + L"\\data.bin") == data);
    EXPECT_EQ(ListFolder(disk + L"\\VEZORI").size(), 1u) << Show(ListFolder(disk + L"\\VEZORI"));
}

// User's files named like the engine's files (temporaries of earlier versions, of this process
// among them, counter names of a run folder, a lock, a note, a folder of the engine's name
// below a drive folder) are stored, restored and kept through every later run.
TEST(EngineTempsTest, UsersFilesNamedLikeTheEnginesSurviveEveryRun)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src + L"\\~ZUL.work");
    std::vector<CString> names;
    for (wchar_t c = L'a'; c <= L'f'; ++c)
        names.push_back(CString(c) + L".txt");
    for (unsigned k = 0; k < 16; ++k) {
        CString own, fresh;
        own.Format(L"~zu%lx_%x.tmp", GetCurrentProcessId(), k);
        fresh.Format(L"~zu20_%x.tmp", k);
        names.push_back(own);
        if (fresh != own)   // (this process may be the one of id 0x20)
            names.push_back(fresh);
    }
    for (const wchar_t* name : {L"0", L"1", L"2", L"3", L"run.lock", L"0.name", L"~zu0123456789abcdef0123456789abcdef.tmp"})
        names.push_back(name);
    names.push_back(L"~ZUL.work\\0");
    std::sort(names.begin(), names.end());
    for (const CString& name : names)
        WriteFileBytes(src + L"\\" + name, "user's " + std::string(CStringA(name).GetString()));
    auto expectAll = [&](const CString& folder) {
        EXPECT_EQ(Show(ListTree(folder)), Show(names));
        for (const CString& name : names)
            EXPECT_EQ(ReadFileBytes(folder + L"\\" + name), "user's " + std::string(CStringA(name).GetString()))
                << CStringA(name).GetString();
    };
    const CString stored = StoredName(root, src);
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    expectAll(stored);
    RemoveTree(src);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    expectAll(src);
    expectAll(stored);
    // Backed up again, restored again beside the files, and once more.
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    expectAll(src);
    expectAll(stored);
    EXPECT_EQ(ListFolder(root + L"\\VEZORI").size(), 1u) << Show(ListFolder(root + L"\\VEZORI"));
    EXPECT_TRUE(UserRecords().empty()) << Show(UserRecords());
}

namespace {

// A stop that comes the moment a copy is complete: the flush of the copy's data sets the
// engine's cancel flag (as the progress dialog does) at the chosen flush.
CBackUpEngine* g_pStopped = nullptr;
std::atomic<int> g_nFlushes{0}, g_nStopAt{0};

BOOL WINAPI FlushThenStop(HANDLE hFile)
{
    const BOOL ok = ::FlushFileBuffers(hFile);
    if (++g_nFlushes == g_nStopAt)
        g_pStopped->m_bCancel = 1;
    return ok;
}

} // namespace

// A stop that arrives when copies are complete but not yet in place: they are thrown away, each
// with its fail line, and the done count holds only the copies that reached their names; one
// file at a time, several at once and compressed, backup and restore.
TEST(EngineTempsTest, FinishedCopiesThrownAwayAtAStopAreFailLinesNotDoneFiles)
{
    struct Way {
        const char* what;
        int nLanes;
        bool bCompress, bRestore;
    };
    for (const Way& way : {Way{"one at a time", 1, false, false}, Way{"three lanes", 3, false, false},
                           Way{"compressed", 1, true, false}, Way{"restore", 1, false, true}}) {
        SCOPED_TRACE(way.what);
        CTempTree t;
        const CString src = t.Path(L"src"), root = t.Path(L"dst");
        MakeFolders(src);
        std::vector<CString> files;
        for (int i = 0; i < 6; ++i) {
            CString path;
            path.Format(L"%ls\\f%d.bin", src.GetString(), i);
            WriteFileBytes(path, Pattern(3000 + i, i));
            files.push_back(path);
        }
        CScopedSetting<int> lanes(CBackUpEngine::s_nCopyLanes, way.nLanes);
        CBackUpEngine engine;
        CCapturedFailList fails;
        RunOptions opt;
        opt.bCompress = way.bCompress;
        if (way.bRestore) {
            RunBackUp(engine, root, {src}, opt, &fails);
            for (const CString& path : files)
                WriteFileBytes(path, "user's");
        }
        g_pStopped = &engine;
        g_nFlushes = 0;
        g_nStopAt = 2;
        {
            CUseFlush flush(FlushThenStop);
            if (way.bRestore)
                RunRestore(engine, root, {StoredName(root, src)}, opt, &fails);
            else
                RunBackUp(engine, root, {src}, opt, &fails);
        }

        int inPlace = 0, failed = 0, cancelled = 0;
        for (const CString& file : files) {
            const CString written = way.bRestore ? file : StoredName(root, file) + (way.bCompress ? L".zip" : L"");
            const bool placed = way.bRestore ? ReadFileBytes(written) != "user's" : Exists(written);
            // A fail line names the file the copy was made from.
            const CString path = way.bRestore ? StoredName(root, file) : file;
            bool lined = false;
            for (const CString& line : fails.lines) {
                lined = lined || line.Left(path.GetLength() + 1) == path + L";";
                cancelled += line == path + L";" + FormatSystemError(ERROR_CANCELLED);
            }
            EXPECT_FALSE(placed && lined) << CStringA(path).GetString();
            inPlace += placed;
            failed += lined;
        }
        // Every copy that was complete is in place or said to be thrown away.
        EXPECT_GE(inPlace + failed, g_nFlushes.load()) << Show(fails.lines);
        EXPECT_GE(cancelled, 1) << Show(fails.lines);
        EXPECT_LT(inPlace, static_cast<int>(files.size()));
        EXPECT_EQ(engine.m_nDoneFiles, inPlace);
        EXPECT_TRUE(Temporaries(t.Root()).empty()) << Show(Temporaries(t.Root()));
    }
}

// Two entries of one folder whose names differ only in letter case (a folder of a
// case-sensitive file system): the first is copied whole, the second is a fail line that says
// a file of the same name in another case is stored; plain, compressed, and on a restore.
TEST(EngineTempsTest, NamesThatDifferOnlyInCaseStoreTheFirstAndReportTheSecond)
{
    CTempTree t;
    const CString src = t.Path(L"src");
    MakeFolders(src);
    WriteFileBytes(src + L"\\Report.txt", "upper");
    WriteFileBytes(src + L"\\twin", "lower");
    // Only the Unix side makes a second name of another case beside the first.
    MakeCaseTwin(src, L"twin", L"report.txt");
    const std::vector<CString> order = ListFolderAsListed(src);
    if (order.size() != 2 || order[0].CompareNoCase(order[1]) != 0)
        GTEST_SKIP() << "this system keeps no two names that differ only in case in one folder";
    const std::string firstText = order[0] == L"Report.txt" ? "upper" : "lower";
    const CString sameName = L";" + CString(kSameNameInOtherCaseText);

    CUseTestCopy useTestCopy;
    for (bool bCompress : {false, true}) {
        SCOPED_TRACE(bCompress ? "compressed" : "plain");
        const CString root = t.Path(bCompress ? L"zipped" : L"plain");
        CBackUpEngine engine;
        CCapturedFailList fails;
        RunOptions opt;
        opt.bCompress = bCompress;
        RunBackUp(engine, root, {src}, opt, &fails);
        EXPECT_EQ(Show(fails.lines), Show({src + L"\\" + order[1] + sameName}));
        EXPECT_EQ(engine.m_nDoneFiles, 1);
        const CString stored = StoredName(root, src);
        const CString suffix = bCompress ? L".zip" : L"";
        EXPECT_EQ(ListFolder(stored), std::vector<CString>{order[0] + suffix});

        // Restored into a folder of its own: the first file's content under its name.
        const CString back = t.Path(bCompress ? L"zipped back" : L"plain back");
        MakeFolders(back);
        fails.lines.clear();
        const CString from = StoredName(root, back);
        MakeFolders(from.Left(from.ReverseFind(L'\\')));
        MoveFileW(stored, from);
        RunRestore(engine, root, {from}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
        EXPECT_EQ(ListFolder(back), std::vector<CString>{order[0]});
        EXPECT_EQ(ReadFileBytes(back + L"\\" + order[0]), firstText);
    }

    // A store folder holding both names: a restore brings back the first and reports the second.
    const CString root = t.Path(L"twinstore"), dest = t.Path(L"dest");
    const CString stored = StoredName(root, dest);
    MakeFolders(stored);
    WriteFileBytes(stored + L"\\Report.txt", "upper");
    WriteFileBytes(stored + L"\\twin", "lower");
    MakeCaseTwin(stored, L"twin", L"report.txt");
    const std::vector<CString> storedOrder = ListFolderAsListed(stored);
    ASSERT_EQ(storedOrder.size(), 2u);
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_EQ(Show(fails.lines), Show({stored + L"\\" + storedOrder[1] + sameName}));
    EXPECT_EQ(ListFolder(dest), std::vector<CString>{storedOrder[0]});
    EXPECT_EQ(ReadFileBytes(dest + L"\\" + storedOrder[0]), storedOrder[0] == L"Report.txt" ? "upper" : "lower");
    EXPECT_EQ(engine.m_nDoneFiles, 1);
}

// A restore while another process's backup into the same store holds a copy half-made: the
// restore brings back the stored files and nothing else, with no fail line; once that backup
// is killed, the next run clears what it left. Plain and compressed.
TEST(EngineTempsTest, RestoreBesideAnotherProcesssRunningBackupTakesOnlyStoredFiles)
{
    for (bool bCompress : {false, true}) {
        SCOPED_TRACE(bCompress ? "compressed" : "plain");
        CTempTree t;
        const CString src = t.Path(L"src"), other = t.Path(L"other"), root = t.Path(L"dst");
        MakeFolders(src);
        MakeFolders(other);
        const std::string big = Pattern(100000, 3);
        WriteFileBytes(src + L"\\big.bin", big);
        WriteFileBytes(src + L"\\small.txt", "small");
        WriteFileBytes(other + L"\\new.bin", Pattern(100000, 4));
        CUseTestCopy useTestCopy;
        CBackUpEngine engine;
        CCapturedFailList fails;
        RunOptions opt;
        opt.bCompress = bCompress;
        RunBackUp(engine, root, {src}, opt, &fails);
        ASSERT_TRUE(fails.lines.empty()) << Show(fails.lines);

        // The other process backs up a folder of its own into the same store.
        HANDLE hMidway = CreateEventW(nullptr, TRUE, FALSE, kMidwayEvent);
        CChild child(ChildRun(L'h', bCompress, root, other));
        ASSERT_EQ(WaitForSingleObject(hMidway, 60000), WAIT_OBJECT_0);
        CloseHandle(hMidway);
        ASSERT_EQ(Temporaries(root).size(), 1u) << Show(ListTree(root));

        // The whole store is restored.
        RemoveTree(src);
        RunRestore(engine, root, {root + L"\\VEZORI"}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
        EXPECT_EQ(ListTree(src), (std::vector<CString>{L"big.bin", L"small.txt"}));
        EXPECT_TRUE(ReadFileBytes(src + L"\\big.bin") == big);
        EXPECT_EQ(ListTree(other), std::vector<CString>{L"new.bin"});
        // The running backup's copy is left alone.
        EXPECT_EQ(Temporaries(root).size(), 1u);

        child.Kill();
        RunRestore(engine, root, {root + L"\\VEZORI"}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
        EXPECT_TRUE(Temporaries(root).empty()) << Show(Temporaries(root));
        EXPECT_TRUE(Records(root).empty()) << Show(Records(root));
    }
}

// A restore killed at every step of replacing a user's file in turn (its temporary's name
// noted, its first piece written, before and after its flush, its name about to be struck) and
// the restore after it: the user's file holds its own or the restored content whole, keeps its
// name and letter case, and nothing else is left in the folder or in the record.
TEST(EngineTempsTest, RestoreKilledAtAnyStepOfReplacingAUsersFileLosesNothing)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string data = Pattern(30000, 5);
    WriteFileBytes(src + L"\\data.bin", data);
    WriteFileBytes(src + L"\\note.txt", "note");
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(fails.lines.empty()) << Show(fails.lines);
    const CString stored = StoredName(root, src);
    // The user's file is named in another letter case now, with newer content.
    // (In two moves: some systems keep a name's old case on a rename to another case of it.)
    ASSERT_TRUE(MoveFileW(src + L"\\data.bin", src + L"\\renamed"));
    ASSERT_TRUE(MoveFileW(src + L"\\renamed", src + L"\\Data.BIN"));

    bool bCompleted = false;
    int steps = 1;
    for (; steps < 40 && !bCompleted; ++steps) {
        const int step = steps;
        SCOPED_TRACE(testing::Message() << "killed at step " << step);
        WriteFileBytes(src + L"\\Data.BIN", "user's newer");
        CChild child(ChildRun(L's', false, root, stored, step));
        const DWORD code = child.Wait();
        ASSERT_TRUE(code == kKilled || code == kCompleted) << code;
        bCompleted = code == kCompleted;
        std::vector<CString> names = ListFolderAsListed(src);
        std::sort(names.begin(), names.end());
        std::vector<CString> users;
        for (const CString& name : names)
            if (!IsEngineTemporary(L"\\" + name))
                users.push_back(name);
        EXPECT_EQ(Show(users), Show({L"Data.BIN", L"note.txt"}));
        const std::string now = ReadFileBytes(src + L"\\Data.BIN");
        EXPECT_TRUE(now == "user's newer" || now == data) << now.size() << " bytes";

        RunRestore(engine, root, {stored}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
        names = ListFolderAsListed(src);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(Show(names), Show({L"Data.BIN", L"note.txt"}));
        EXPECT_TRUE(ReadFileBytes(src + L"\\Data.BIN") == data);
        EXPECT_TRUE(UserRecords().empty()) << Show(UserRecords());
        if (HasFailure())
            break;
    }
    EXPECT_TRUE(bCompleted);
    std::printf("a restore killed at each of %d steps\n", steps - 1);
}

namespace {

// A stop while the run collects: its first folder listing sets the engine's cancel flag, as the
// progress dialog does.
class CCancelAtListing : public CSystemIoOver {
public:
    explicit CCancelAtListing(CBackUpEngine& engine) : m_engine(engine) {}
    HANDLE FindFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData) override
    {
        m_engine.m_bCancel = 1;
        return CSystemIoOver::FindFirst(pszPattern, pData);
    }

private:
    CBackUpEngine& m_engine;
    CScopedSystemIo m_install{*this};
};

// One run of the worker on this thread, prepared as the progress dialog prepares it.
void RunWorker(CBackUpEngine& engine, bool bRestore, const CString& strRoot, const CString& strApp,
               const CString& strData, CFailSink* pFail)
{
    engine.Reset();
    engine.m_pFailList = pFail;
    engine.m_strTargetRoot = strRoot;
    engine.m_bRestore = bRestore ? 1 : 0;
    RunBackUpOrRestore(engine, strApp, strData);
}

} // namespace

// A backup cancelled while it collects, the user then choosing another disk: nothing of the
// cancelled run is on the first disk or held open there (it can go at once), and the next run
// clears what ended runs left on the second disk and stores every file there.
TEST(EngineTempsTest, BackupCancelledWhileCollectingLeavesNothingToTheNextOnAnotherDisk)
{
    CTempTree t;
    const CString src = t.Path(L"src"), first = t.Path(L"first"), second = t.Path(L"second");
    const CString app = t.Path(L"app"), data = t.Path(L"app\\user");
    MakeFolders(src);
    MakeFolders(first);
    MakeFolders(data);
    WriteFileBytes(src + L"\\a.txt", "a");
    WriteFileBytes(src + L"\\b.bin", Pattern(9000, 2));
    ASSERT_TRUE(testsupport::WritePathList(JoinPath(data, kFullPathFile), {src}));
    const CString ended = second + L"\\VEZORI\\~ZUL.work\\0123456789abcdef0123456789abcdef";
    MakeFolders(ended);
    WriteFileBytes(ended + L"\\run.lock", "");
    WriteFileBytes(ended + L"\\0", "half a copy");

    CBackUpEngine engine;
    CCapturedFailList fails;
    {
        CCancelAtListing cancel(engine);
        RunWorker(engine, false, first, app, data, &fails);
    }
    EXPECT_EQ(engine.m_nDoneFiles, 0);
    EXPECT_EQ(Show(ListTree(first)), "");
    EXPECT_TRUE(RemoveTree(first) && !Exists(first)) << "something of the cancelled run holds the disk";

    RunBackUp(engine, second, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(ListTree(StoredName(second, src)), (std::vector<CString>{L"a.txt", L"b.bin"}));
    EXPECT_TRUE(Records(second).empty()) << Show(Records(second));
    EXPECT_FALSE(Exists(first));
}

namespace {

// The user's temporary folder (GetTempPathW) set to another for the life of the object.
class CScopedTempFolder {
public:
    explicit CScopedTempFolder(const CString& strFolder)
    {
        wchar_t old[MAX_PATH + 1] = {};
        m_bHad = GetEnvironmentVariableW(L"TMP", old, MAX_PATH) != 0;
        m_strOld = old;
        SetEnvironmentVariableW(L"TMP", strFolder);
    }
    ~CScopedTempFolder() { SetEnvironmentVariableW(L"TMP", m_bHad ? m_strOld.GetString() : nullptr); }

private:
    bool m_bHad = false;
    CString m_strOld;
};

// The most records seen in a folder when a restore notes a name.
CString g_strSecondRecords;
int g_nSecondRecords = -1;

void CALLBACK CountSecondRecords(int nStep)
{
    const int n = static_cast<int>(ListFolder(g_strSecondRecords).size());
    if (nStep == CTempCopies::kNoted && n > g_nSecondRecords)
        g_nSecondRecords = n;
}

} // namespace

// A restore whose per-user data folder cannot be made keeps the record of its temporaries in a
// folder of the user's temporary folder, where the clearing of ended runs looks too. Where that
// cannot be made either, nothing is written beside the user's files, and each file's line says
// where the record could not be kept and why.
TEST(EngineTempsTest, RestoreKeepsItsRecordInTheTemporaryFolderWhenTheDataFolderCannotHoldIt)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst"), app = t.Path(L"app"), blocker = t.Path(L"file");
    const CString data = blocker + L"\\user";   // below a file: never made
    MakeFolders(src);
    MakeFolders(app);
    WriteFileBytes(blocker, "a file");
    const std::string big = Pattern(9000, 3);
    WriteFileBytes(src + L"\\a.txt", "a");
    WriteFileBytes(src + L"\\b.bin", big);
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(fails.lines.empty()) << Show(fails.lines);
    auto restore = [&](const CString& strTemp) {
        ASSERT_TRUE(testsupport::WritePathList(JoinPath(app, kRestoreListFile), {StoredName(root, src)}));
        WriteFileBytes(src + L"\\a.txt", "user's");
        WriteFileBytes(src + L"\\b.bin", "user's");
        fails.lines.clear();
        CScopedTempFolder temp(strTemp);
        RunWorker(engine, true, root, app, data, &fails);
    };

    // An ended run's record in the second place names a temporary it left beside a user's file.
    const CString second = t.Path(L"tmp\\ZulEngine\\Temporaries");
    const CString left = src + L"\\~zu0123456789abcdef0123456789abcdef.tmp";
    WriteFileBytes(left, "half a copy");
    MakeFolders(second);
    std::string entry(8, '\0');
    const DWORD header[2] = {0x5A554C31u, static_cast<DWORD>(left.GetLength())};
    std::memcpy(&entry[0], header, sizeof header);
    entry.append(reinterpret_cast<const char*>(left.GetString()), left.GetLength() * sizeof(wchar_t));
    WriteFileBytes(second + L"\\fedcba9876543210fedcba9876543210.rec", entry);
    g_strSecondRecords = second;
    g_nSecondRecords = -1;
    CTempCopies::s_pfnStep = CountSecondRecords;
    restore(t.Path(L"tmp"));
    CTempCopies::s_pfnStep = nullptr;
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(g_nSecondRecords, 1) << "the run's record was not in the second place";
    EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"a.txt", L"b.bin"}));
    EXPECT_EQ(ReadFileBytes(src + L"\\a.txt"), "a");
    EXPECT_TRUE(ReadFileBytes(src + L"\\b.bin") == big);
    EXPECT_TRUE(ListFolder(second).empty()) << Show(ListFolder(second));

    // Neither place can be made.
    restore(blocker + L"\\tmp");
    EXPECT_FALSE(CreateDirectoryW(data + L"\\Temporaries", nullptr));
    const CString why = L": " + FormatSystemError(GetLastError());
    const CString notKept = L";Not restored, because the record of temporary copies could not be kept in " + data +
                            L"\\Temporaries" + why;
    std::vector<CString> lines = fails.lines;
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(Show(lines), Show({src + L"\\a.txt" + notKept, src + L"\\b.bin" + notKept}));
    EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"a.txt", L"b.bin"}));
    EXPECT_EQ(ReadFileBytes(src + L"\\a.txt"), "user's");
    EXPECT_EQ(ReadFileBytes(src + L"\\b.bin"), "user's");
}

// The engine takes for its own only run folders (32 hex digits) in its folder of the store, and
// in them only the files it makes; a user's folder of the store's name with one of the engine
// folder's name in it is the user's, backed up and restored like any other.
TEST(EngineTempsTest, OnlyWhatTheEngineMakesIsTakenForItsOwn)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    const CString work = root + L"\\VEZORI\\~ZUL.work", run = work + L"\\0123456789abcdef0123456789abcdef";
    MakeFolders(src + L"\\VEZORI\\~ZUL.work");
    WriteFileBytes(src + L"\\VEZORI\\~ZUL.work\\0", "user's 0");
    WriteFileBytes(src + L"\\a.txt", "a");
    MakeFolders(work + L"\\My things");
    WriteFileBytes(work + L"\\My things\\note.txt", "user's note");
    MakeFolders(run);
    WriteFileBytes(run + L"\\run.lock", "");
    WriteFileBytes(run + L"\\1f", "half a copy");
    WriteFileBytes(run + L"\\notes.txt", "user's notes");

    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(ReadFileBytes(work + L"\\My things\\note.txt"), "user's note");
    EXPECT_EQ(Show(ListFolder(run)), Show({L"notes.txt", L"run.lock"}));
    const CString stored = StoredName(root, src);
    EXPECT_EQ(Show(ListTree(stored)), Show({L"VEZORI\\~ZUL.work\\0", L"a.txt"}));

    RemoveTree(src);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(ReadFileBytes(src + L"\\VEZORI\\~ZUL.work\\0"), "user's 0");
    EXPECT_EQ(ReadFileBytes(src + L"\\a.txt"), "a");
}

// A file where the engine's folder of the store goes: the backup's one fail line names it, and
// the file is left as it was.
TEST(EngineTempsTest, AFileWhereTheEnginesFolderGoesIsOneFailLine)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\a.txt", "a");
    WriteFileBytes(src + L"\\b.txt", "b");
    MakeFolders(root + L"\\VEZORI");
    WriteFileBytes(root + L"\\VEZORI\\~ZUL.work", "user's file");

    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_EQ(Show(fails.lines), Show({root + L"\\VEZORI\\~ZUL.work;" + kEngineFolderInTheWayText}));
    EXPECT_EQ(ReadFileBytes(root + L"\\VEZORI\\~ZUL.work"), "user's file");
    EXPECT_EQ(engine.m_nDoneFiles, 0);
}
