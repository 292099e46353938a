// What the store holds after runs that meet awkward names and places: a file whose name is
// another file's compressed name, a source that contains the store, temporary copies left by
// an interrupted run, and a restore that cannot write its target.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "BackUpEngine.h"
#include "SharedFunctions.h"
#include "engine_test_support.h"

namespace {

std::vector<CString> FailPaths(const CCapturedFailList& fails)
{
    std::vector<CString> paths;
    for (const CString& line : fails.lines)
        paths.push_back(line.Left(line.Find(L';')));
    return paths;
}

CString FirstLine(const CCapturedFailList& fails)
{
    return fails.lines.empty() ? CString() : fails.lines[0];
}

// A temporary copy name as the engine makes them, for a process that has ended.
CString DeadTempName()
{
    return L"~zu7ffffff0_3.tmp";
}

} // namespace

// "x" stored compressed is "x.zip", the same name as the plain copy of "x.zip". Neither run
// may take one file's copy for the other's second form.
TEST(EngineStoreTest, FileNamedLikeAnotherFilesCompressedCopyKeepsBothCopies)
{
    CUseTestCopy useTestCopy;
    for (bool bCompressFirst : {false, true}) {
        SCOPED_TRACE(bCompressFirst ? "compressed, then plain" : "plain, then compressed");
        CTempTree t;
        CString src = t.Path(L"src"), root = t.Path(L"dst");
        MakeFolders(src);
        MakeFolders(root);
        const std::string x = Pattern(70000, 1), xzip = "PK\x03\x04" + Pattern(5000, 2);
        WriteFileBytes(src + L"\\x", x);
        WriteFileBytes(src + L"\\x.zip", xzip);
        CString stored = StoredName(root, src);

        CBackUpEngine engine;
        CCapturedFailList fails;
        RunOptions first, second;
        first.bCompress = bCompressFirst;
        second.bCompress = !bCompressFirst;
        RunBackUp(engine, root, {src}, first, &fails);
        ASSERT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
        RunBackUp(engine, root, {src}, second, &fails);
        ASSERT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
        EXPECT_EQ(engine.m_nDoneFiles, 2);
        if (second.bCompress)
            EXPECT_EQ(ListFolder(stored), (std::vector<CString>{L"x.zip", L"x.zip.zip"}));
        else
            EXPECT_EQ(ListFolder(stored), (std::vector<CString>{L"x", L"x.zip"}));

        // Both files come back from the store as they were.
        RemoveTree(src);
        RunRestore(engine, root, {stored}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
        EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"x", L"x.zip"}));
        EXPECT_EQ(ReadFileBytes(src + L"\\x"), x);
        EXPECT_EQ(ReadFileBytes(src + L"\\x.zip"), xzip);
    }

    // The compressed copy of a file the user has since deleted is not taken for the plain
    // form of its namesake either.
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\y", Pattern(3000, 3));
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunOptions compress;
    compress.bCompress = true;
    RunBackUp(engine, root, {src}, compress, &fails);
    DeleteFileW(src + L"\\y");
    WriteFileBytes(src + L"\\y.zip", "later file");
    RunBackUp(engine, root, {src}, compress, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    EXPECT_EQ(ListFolder(StoredName(root, src)), (std::vector<CString>{L"y.zip", L"y.zip.zip"}));
}

// A selection that holds the target's store (a folder above it) leaves the store out, so it
// is never copied into itself.
TEST(EngineStoreTest, BackUpOfAFolderHoldingTheStoreLeavesTheStoreOut)
{
    CTempTree t;
    CString root = t.Path(L"disk");
    MakeFolders(root + L"\\docs");
    WriteFileBytes(root + L"\\docs\\a.txt", "aaaa");
    WriteFileBytes(root + L"\\b.txt", "bb");

    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    for (int run = 0; run < 2; ++run) {
        RunBackUp(engine, root, {root}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
        EXPECT_EQ(engine.m_nTotalFiles, 2) << "run " << run;
        EXPECT_EQ(engine.m_nTotalBytes, 6u);
    }
    CString mirrored = StoredName(L"", root).Mid(8);   // "<letter>\...\disk"
    EXPECT_EQ(ListTree(root + L"\\VEZORI"),
              (std::vector<CString>{mirrored + L"\\b.txt", mirrored + L"\\docs\\a.txt"}));

    // Selecting the store itself, or a file in it, for a backup adds nothing either.
    RunBackUp(engine, root, {root + L"\\vezori", root + L"\\VEZORI\\" + mirrored + L"\\b.txt"},
              RunOptions{}, &fails);
    EXPECT_EQ(engine.m_nTotalFiles, 0);
    EXPECT_TRUE(fails.lines.empty());
}

namespace {

// The child half of the interrupted-run test: a backup or a restore that ends its process in
// the middle of its copy of a file larger than a few pieces. The parent names the run in the
// environment: "b" or "r", the target root and the selection, separated by "|".
const wchar_t kEndedRunVariable[] = L"ZUL_ENGINE_ENDED_RUN";

// beforeRun: called with the child's process id before the child runs.
DWORD RunEndedChild(const CString& strRun, const std::function<void(DWORD)>& beforeRun = nullptr)
{
    PROCESS_INFORMATION pi{};
    if (!StartTestChild(L"EngineStoreChild.*", kEndedRunVariable, strRun, beforeRun ? CREATE_SUSPENDED : 0, pi))
        return 0;
    if (beforeRun) {
        beforeRun(pi.dwProcessId);
        ResumeThread(pi.hThread);
    }
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

} // namespace

TEST(EngineStoreChild, RunEndedInTheMiddleOfACopy)
{
    wchar_t run[4096] = {};
    if (!GetEnvironmentVariableW(kEndedRunVariable, run, 4096))
        GTEST_SKIP() << "the half of another test";
    CString s(run);
    const CString root = s.Mid(2, s.Find(L'|', 2) - 2), path = s.Mid(s.Find(L'|', 2) + 1);
    CUseTestCopy useTestCopy;
    TestCopy::OnPiece = [](const wchar_t*, ULONGLONG nDone) {
        if (nDone >= 3 * TestCopy::PieceSize)
            TerminateProcess(GetCurrentProcess(), 3);
    };
    CBackUpEngine engine;
    CCapturedFailList fails;
    if (s[0] == L'b')
        RunBackUp(engine, root, {path}, RunOptions{}, &fails);
    else
        RunRestore(engine, root, {path}, RunOptions{}, &fails);
    TerminateProcess(GetCurrentProcess(), 4);   // the copy did not reach its middle
}

// A user's files named like the engine's temporary copies are backed up and restored like any
// other. A run that was killed leaves its temporary copies behind; the next run clears those,
// and only those, on the backup and on the restore side.
TEST(EngineStoreTest, TemporaryCopiesOfAnEndedRunAreClearedAndUsersFilesOfSuchNamesKept)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string big = Pattern(100000, 5);
    WriteFileBytes(src + L"\\big.bin", big);
    CString live;
    live.Format(L"~zu%lx_fffff.tmp", GetCurrentProcessId());
    std::vector<CString> userNames{DeadTempName(), live};
    std::sort(userNames.begin(), userNames.end());
    std::vector<CString> expected{L"big.bin", userNames[0], userNames[1]};
    for (const CString& name : userNames)
        WriteFileBytes(src + L"\\" + name, CStringA(name).GetString());
    CString stored = StoredName(root, src);

    // A backup killed in the middle of its copy of big.bin: its temporary copy is in the
    // engine's folder of the store, none beside the stored files.
    ASSERT_EQ(RunEndedChild(L"b|" + root + L"|" + src), 3u);
    std::vector<CString> left;
    for (const CString& name : ListFolder(stored))
        if (std::find(userNames.begin(), userNames.end(), name) == userNames.end() && name != L"big.bin")
            left.push_back(name);
    ASSERT_TRUE(left.empty()) << CStringA(left[0]).GetString();
    ASSERT_EQ(Temporaries(root).size(), 1u) << "the killed run left no temporary copy";

    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    EXPECT_EQ(engine.m_nTotalFiles, 3);
    EXPECT_EQ(ListFolder(stored), expected);

    // A restore killed in the middle of its copy back of big.bin; the next restore clears its
    // temporary copy in the user's folder and restores the user's files of such names.
    RemoveTree(src);
    ASSERT_EQ(RunEndedChild(L"r|" + root + L"|" + stored), 3u);
    left.clear();
    for (const CString& name : ListFolder(src))
        if (std::find(userNames.begin(), userNames.end(), name) == userNames.end())
            left.push_back(name);
    ASSERT_EQ(left.size(), 1u) << "the killed restore left no temporary copy";
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    EXPECT_EQ(ListFolder(src), expected);
    EXPECT_EQ(ReadFileBytes(src + L"\\big.bin"), big);
    for (const CString& name : userNames)
        EXPECT_EQ(ReadFileBytes(src + L"\\" + name), CStringA(name).GetString());
    // Nothing of the ended runs is left beside the store's drive folder either.
    EXPECT_EQ(ListFolder(root + L"\\VEZORI").size(), 1u);
}

// "x" and "x.zip" with "skip unchanged": each file is compared with its own copy, never with
// the other file's, whichever mode stored what; every file comes back on a restore.
TEST(EngineStoreTest, SkipUnchangedKeepsAFileAndItsZipNamesakeApart)
{
    CUseTestCopy useTestCopy;
    const ULONGLONG kTime = 0x01D5000000000000ull;
    struct Case {
        const char* what;
        bool bFirstCompress, bSecondCompress;
        bool bSameTime;   // the later "x.zip" has the time of "x"
    };
    for (const Case& c : {Case{"compressed x, then x.zip in a plain run", true, false, false},
                          Case{"compressed x, then x.zip of the same time, plain run", true, false, true},
                          Case{"compressed x, then x.zip of the same time, compressed run", true, true, true},
                          Case{"plain x, then x.zip of the same time, compressed run", false, true, true},
                          Case{"plain x, then x.zip of the same time, plain run", false, false, true}}) {
        SCOPED_TRACE(c.what);
        CTempTree t;
        CString src = t.Path(L"src"), root = t.Path(L"dst");
        MakeFolders(src);
        const std::string x = Pattern(20000, 7), xzip = "PK\x03\x04" + Pattern(3000, 8);
        WriteFileBytes(src + L"\\x", x);
        SetLastWrite(src + L"\\x", kTime);
        CBackUpEngine engine;
        CCapturedFailList fails;
        RunOptions first, second;
        first.bCompress = c.bFirstCompress;
        second.bCompress = c.bSecondCompress;
        first.bChangedOnly = second.bChangedOnly = true;
        RunBackUp(engine, root, {src}, first, &fails);
        WriteFileBytes(src + L"\\x.zip", xzip);
        SetLastWrite(src + L"\\x.zip", c.bSameTime ? kTime : kTime + 10000000);
        for (int run = 0; run < 2; ++run)
            RunBackUp(engine, root, {src}, second, &fails);
        // A run after the first that skipped x in another mode copies x again in this one;
        // the store holds one copy of each file.
        EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
        EXPECT_EQ(engine.m_nTotalFiles, 0) << "the second run with the same files copied again";

        RemoveTree(src);
        RunRestore(engine, root, {StoredName(root, src)}, RunOptions{}, &fails);
        EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
        EXPECT_EQ(ReadFileBytes(src + L"\\x"), x);
        EXPECT_EQ(ReadFileBytes(src + L"\\x.zip"), xzip);

    }

    // A restore with "skip unchanged" compares a compressed copy with the file it restores to,
    // not with a namesake "x.zip" of the copy's time.
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string x = Pattern(20000, 9);
    WriteFileBytes(src + L"\\x", x);
    SetLastWrite(src + L"\\x", kTime);
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunOptions compress;
    compress.bCompress = true;
    RunBackUp(engine, root, {src}, compress, &fails);
    WriteFileBytes(src + L"\\x", "changed since");
    WriteFileBytes(src + L"\\x.zip", "a namesake");
    SetLastWrite(src + L"\\x.zip", kTime);
    RunOptions restoreChanged;
    restoreChanged.bChangedOnly = true;
    RunRestore(engine, root, {StoredName(root, src)}, restoreChanged, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    EXPECT_EQ(ReadFileBytes(src + L"\\x"), x);
    EXPECT_EQ(ReadFileBytes(src + L"\\x.zip"), "a namesake");
    // Restored and unchanged since: the next restore skips it.
    RunRestore(engine, root, {StoredName(root, src)}, restoreChanged, &fails);
    EXPECT_EQ(engine.m_nTotalFiles, 0);
}

// A restore that cannot write its target names the target in its fail line.
TEST(EngineStoreTest, RestoreThatCannotWriteItsTargetNamesTheTarget)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src + L"\\sub");
    WriteFileBytes(src + L"\\sub\\f.txt", "plain");
    WriteFileBytes(src + L"\\sub\\g.txt", Pattern(9000, 4));
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src + L"\\sub\\f.txt"}, RunOptions{}, &fails);
    RunOptions compress;
    compress.bCompress = true;
    RunBackUp(engine, root, {src + L"\\sub\\g.txt"}, compress, &fails);
    ASSERT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();

    // A file now stands where the target's folder was: neither copy can be written.
    RemoveTree(src + L"\\sub");
    WriteFileBytes(src + L"\\sub", "in the way");
    CString stored = StoredName(root, src);
    RunRestore(engine, root, {stored + L"\\sub\\f.txt", stored + L"\\sub\\g.txt.zip"}, RunOptions{}, &fails);
    EXPECT_EQ(FailPaths(fails), (std::vector<CString>{src + L"\\sub\\f.txt", src + L"\\sub\\g.txt"}));
    EXPECT_EQ(ReadFileBytes(src + L"\\sub"), "in the way");
    EXPECT_EQ(engine.m_nDoneFiles, 0);
}

namespace {

// A temporary copy name as the engine makes them, for the given process and counter.
CString TempNameOf(DWORD pid, unsigned counter)
{
    CString s;
    s.Format(L"~zu%lx_%x.tmp", pid, counter);
    return s;
}

} // namespace

// User's files that carry the names a run's next temporary copies would have, beside its copies
// in the store and at the place a restore writes to: the run makes its copies under other names,
// and the files survive the clearing of that run once it has been killed.
TEST(EngineStoreTest, UsersFilesNamedLikeTheNextTemporaryCopiesOfARunSurviveIt)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string big = Pattern(100000, 6);
    WriteFileBytes(src + L"\\big.bin", big);
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    const CString stored = StoredName(root, src);

    // A backup killed in the middle of its copy of big.bin, with the user's files of its first
    // temporary names in the source folder and in the store (an earlier backup stored them).
    std::vector<CString> names;
    ASSERT_EQ(RunEndedChild(L"b|" + root + L"|" + src,
                            [&](DWORD pid) {
                                for (unsigned k = 0; k < 4; ++k) {
                                    names.push_back(TempNameOf(pid, k));
                                    WriteFileBytes(src + L"\\" + names.back(), "user's " + std::to_string(k));
                                    WriteFileBytes(stored + L"\\" + names.back(), "user's " + std::to_string(k));
                                }
                            }),
              3u);
    // The restore clears the killed run, and brings back every file it stored.
    RemoveTree(src);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    std::vector<CString> expected{names.begin(), names.end()};
    expected.push_back(L"big.bin");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFolder(src), expected);
    EXPECT_EQ(ListFolder(stored), expected);
    for (unsigned k = 0; k < names.size(); ++k)
        EXPECT_EQ(ReadFileBytes(src + L"\\" + names[k]), "user's " + std::to_string(k));
    EXPECT_EQ(ReadFileBytes(src + L"\\big.bin"), big);

    // A restore killed in the middle of big.bin, with user's files of its first temporary
    // names (never backed up) in the folder it restores to.
    names.clear();
    ASSERT_EQ(RunEndedChild(L"r|" + root + L"|" + stored + L"\\big.bin",
                            [&](DWORD pid) {
                                for (unsigned k = 0; k < 4; ++k) {
                                    names.push_back(TempNameOf(pid, k));
                                    WriteFileBytes(src + L"\\" + names.back(), "new " + std::to_string(k));
                                }
                            }),
              3u);
    RunRestore(engine, root, {stored + L"\\big.bin"}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    for (unsigned k = 0; k < names.size(); ++k)
        EXPECT_EQ(ReadFileBytes(src + L"\\" + names[k]), "new " + std::to_string(k));
    EXPECT_EQ(ReadFileBytes(src + L"\\big.bin"), big);
    EXPECT_EQ(ListFolder(src).size(), expected.size() + names.size());
    EXPECT_TRUE(Records(root).empty());
}

// Process ids are given out again: they decide nothing. A killed backup is an ended run,
// whatever process looks at it: its temporary copy is cleared, and a restore brings back only
// the user's files.
TEST(EngineStoreTest, KilledRunWhoseIdTheCurrentProcessHasIsCleared)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string big = Pattern(100000, 8);
    WriteFileBytes(src + L"\\big.bin", big);
    WriteFileBytes(src + L"\\small.txt", "small");
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    const CString stored = StoredName(root, src);

    ASSERT_EQ(RunEndedChild(L"b|" + root + L"|" + src), 3u);
    ASSERT_EQ(Temporaries(root).size(), 1u) << "the killed run left no temporary copy";
    ASSERT_EQ(Records(root).size(), 1u);

    RemoveTree(src);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"big.bin", L"small.txt"}));
    EXPECT_EQ(ReadFileBytes(src + L"\\big.bin"), big);
    EXPECT_TRUE(Temporaries(root).empty());
    EXPECT_TRUE(Records(root).empty());
}
