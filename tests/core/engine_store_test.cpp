// What the store holds after runs that meet awkward names and places: a file whose name is
// another file's compressed name, a source that contains the store, temporary copies left by
// an interrupted run, and a restore that cannot write its target.

#include <gtest/gtest.h>

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

// A run that was killed leaves its temporary copies behind; they are neither backed up nor
// restored, and the next run writing into their folder removes them. A temporary copy of a
// run still going (this process) is left alone.
TEST(EngineStoreTest, TemporaryCopiesOfAnInterruptedRunAreNotCollectedAndAreCleared)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\a.txt", "aaaa");
    WriteFileBytes(src + L"\\" + DeadTempName(), "half a copy");
    CString live;
    live.Format(L"~zu%lx_fffff.tmp", GetCurrentProcessId());
    WriteFileBytes(src + L"\\" + live, "a copy being written");
    CString stored = StoredName(root, src);
    MakeFolders(stored);
    WriteFileBytes(stored + L"\\" + DeadTempName(), "half a stored copy");

    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    EXPECT_EQ(engine.m_nTotalFiles, 1);
    EXPECT_EQ(ListFolder(stored), std::vector<CString>{L"a.txt"});

    // The restore walk leaves a stray temporary copy in the store out, and the restore
    // clears the one left in the user's folder.
    WriteFileBytes(stored + L"\\" + DeadTempName(), "half a stored copy");
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(FirstLine(fails)).GetString();
    EXPECT_EQ(engine.m_nTotalFiles, 1);
    EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"a.txt", live}));
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
