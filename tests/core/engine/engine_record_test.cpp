// Where a run's temporary copies are, and who may clear them: every temporary file a backup
// makes lies in a run folder of the store whose lock the run holds, also with several copy
// lanes; a temporary that cannot be removed stays until its file has gone, across the runs of
// one process; a finished copy an ended run left waiting for its name gets it; and an old
// record of an ended run is read whole, however long, and cleared by its own rules.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "engine_test_support.h"

namespace {

std::string Show(const std::vector<CString>& lines)
{
    std::string s;
    for (const CString& line : lines)
        s += std::string(CStringA(line).GetString()) + "\n";
    return s;
}

// A record as an ended process left it: its name (an id no process has) and its lines.
void WriteEndedRecord(const CString& root, const std::wstring& text)
{
    MakeFolders(root + L"\\VEZORI");
    WriteFileBytes(root + L"\\VEZORI\\TempCopies_7ffffff0_1.log",
                   std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

// The flush of every copy, seen from the test: the copy's file must lie in a run folder of the
// store whose lock is held (nobody else can take it) when its data is flushed.
CString g_strRecordRoot;
std::atomic<int> g_nFlushed{0}, g_nUnrecorded{0};

BOOL WINAPI FlushAndCheckRecorded(HANDLE hFile)
{
    alignas(8) BYTE buffer[4096];
    if (GetFileInformationByHandleEx(hFile, FileNameInfo, buffer, sizeof buffer - sizeof(wchar_t))) {
        const FILE_NAME_INFO* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
        const CString path = g_strRecordRoot.Left(2) +
                             CString(info->FileName, static_cast<int>(info->FileNameLength / sizeof(wchar_t)));
        const CString folder = path.Left(path.ReverseFind(L'\\'));
        CString upper(folder);
        upper.MakeUpper();
        CString store(g_strRecordRoot + L"\\VEZORI\\~ZUL.WORK\\");
        store.MakeUpper();
        bool held = false;
        if (upper.Left(store.GetLength()) == store) {
            HANDLE h = CreateFileW(folder + L"\\run.lock", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            held = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        }
        ++g_nFlushed;
        if (!held)
            ++g_nUnrecorded;
    }
    return ::FlushFileBuffers(hFile);
}

// A flush that fails and leaves the copy's file held open (so that it cannot be removed) until
// the test lets it go.
HANDLE g_hHeld = nullptr;

BOOL WINAPI FlushFailsHoldingTheFile(HANDLE hFile)
{
    if (!g_hHeld)
        DuplicateHandle(GetCurrentProcess(), hFile, GetCurrentProcess(), &g_hHeld, 0, FALSE, DUPLICATE_SAME_ACCESS);
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
}

} // namespace

// Three copy lanes start together while the run first clears what a long old record of an
// ended run names: each lane's temporary files lie in the run's own folder, whose lock it holds.
TEST(EngineRecordTest, EveryTemporaryOfSeveralLanesIsRecordedBeforeItIsMade)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    std::vector<CString> files;
    for (int i = 0; i < 9; ++i) {
        CString name;
        name.Format(L"%ls\\f%d.bin", src.GetString(), i);
        WriteFileBytes(name, Pattern(2000 + i, i));
        files.push_back(name);
    }
    std::wstring ended;
    for (int i = 0; i < 20000; ++i) {
        CString line;
        line.Format(L"\\\\?\\%ls\\VEZORI\\~zu7ffffff0_%x.tmp\r\n", root.GetString(), i);
        ended += line.GetString();
    }
    WriteEndedRecord(root, ended);

    CScopedSetting<int> lanes(CBackUpEngine::s_nCopyLanes, 3);
    g_strRecordRoot = root;
    g_nFlushed = g_nUnrecorded = 0;
    CBackUpEngine engine;
    CCapturedFailList fails;
    {
        CUseFlush flush(FlushAndCheckRecorded);
        // The files handed over as the collection does; the run clears ended runs as it opens
        // its record.
        engine.Reset();
        engine.m_pFailList = &fails;
        engine.m_strTargetRoot = root;
        for (const CString& f : files)
            engine.m_arrFiles.Add(f);
        engine.BackUpFileList(root + L"\\VEZORI");
    }
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(g_nFlushed, 9);
    EXPECT_EQ(g_nUnrecorded, 0);
    EXPECT_EQ(ListFolder(StoredName(root, src)).size(), 9u);
    EXPECT_TRUE(Records(root).empty()) << Show(Records(root));
}

// A temporary file that cannot be removed keeps its run folder; the next run of the same process
// leaves it while it is held, removes it once it can and only then the run folder.
TEST(EngineRecordTest, NameOfATemporaryLeftByARunStaysUntilItsFileHasGone)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\f.bin", Pattern(9000, 1));
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    g_hHeld = nullptr;
    {
        CUseFlush flush(FlushFailsHoldingTheFile);
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    }
    ASSERT_NE(g_hHeld, nullptr);
    EXPECT_EQ(fails.lines.size(), 1u) << Show(fails.lines);
    const std::vector<CString> left = Temporaries(root);
    ASSERT_EQ(left.size(), 1u) << "the temporary file could be removed";
    ASSERT_EQ(Records(root).size(), 1u) << Show(ListTree(root));
    EXPECT_EQ(left[0].Left(Records(root)[0].GetLength() + 8), L"VEZORI\\" + Records(root)[0] + L"\\");

    // Still held: a run copies the file and keeps that run folder, with the file in it.
    fails.lines.clear();
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(Temporaries(root), left);
    ASSERT_EQ(Records(root).size(), 1u) << "the run folder went while its temporary file is there";

    // Let go: the next run clears it, and the record goes.
    CloseHandle(g_hHeld);
    g_hHeld = nullptr;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_TRUE(Temporaries(root).empty());
    EXPECT_TRUE(Records(root).empty()) << Show(Records(root));
    EXPECT_EQ(ReadFileBytes(StoredName(root, src) + L"\\f.bin"), Pattern(9000, 1));
}

// A record of an ended run of 64 MiB and more (mostly struck lines) is read to its end: what
// its last line names is cleared, and neither the store nor a restore keeps it.
TEST(EngineRecordTest, LongRecordOfAnEndedRunIsReadWhole)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\f.txt", "file");
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    const CString stored = StoredName(root, src);
    const CString half = stored + L"\\~zu7ffffff0_2a.tmp";
    WriteFileBytes(half, "half a copy");

    const std::wstring struck = std::wstring(126, L' ') + L"\r\n";
    std::wstring text;
    text.reserve((64 << 20) / sizeof(wchar_t) + 1024);
    while (text.size() * sizeof(wchar_t) < (64u << 20))
        text += struck;
    text += std::wstring(L"\\\\?\\") + half.GetString() + L"\r\n";
    WriteEndedRecord(root, text);
    ASSERT_EQ(Records(root).size(), 1u);

    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_FALSE(Exists(half));
    EXPECT_EQ(ListFolder(src), std::vector<CString>{L"f.txt"});
    EXPECT_TRUE(Records(root).empty());
}

// A run that ended while a finished copy stood aside, waiting for its final name (see the
// letter case of names): the next run gives it that name; a copy whose name another file has
// taken meanwhile goes, the other file stays.
TEST(EngineRecordTest, FinishedCopyOfAnEndedRunWaitingForItsNameGetsIt)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\other.txt", "other");
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    const CString stored = StoredName(root, src);
    const CString aside = stored + L"\\~zu7ffffff0_7.tmp", taken = stored + L"\\~zu7ffffff0_8.tmp";
    WriteFileBytes(aside, "finished copy");
    WriteFileBytes(taken, "finished, too late");
    const std::wstring prefix = L"\\\\?\\";
    WriteEndedRecord(root, prefix + aside.GetString() + L"|" + prefix + stored.GetString() + L"\\Name.txt\r\n" +
                               prefix + taken.GetString() + L"|" + prefix + stored.GetString() + L"\\other.txt\r\n");

    RemoveTree(src);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(ListFolder(stored), (std::vector<CString>{L"Name.txt", L"other.txt"}));
    EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"Name.txt", L"other.txt"}));
    EXPECT_EQ(ReadFileBytes(src + L"\\Name.txt"), "finished copy");
    EXPECT_EQ(ReadFileBytes(src + L"\\other.txt"), "other");
    EXPECT_TRUE(Records(root).empty());
}

// Run folders that ended runs left in a store's engine folder, as a run leaves them when it is
// killed: a finished copy waiting with its note for its final name gets it (also in a folder
// that has gone since); one whose name another file holds now goes, the other file stays; a
// half-made copy goes. A run folder whose lock is held is left as it is.
TEST(EngineRecordTest, EndedRunFoldersAreClearedAndHeldOnesLeft)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\other.txt", "other");
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    const CString stored = StoredName(root, src);
    const CString rel = stored.Mid(root.GetLength() + 8);   // below the store: "<letter>\\..."
    auto note = [](const CString& path, const CString& text) {
        WriteFileBytes(path, std::string(reinterpret_cast<const char*>(text.GetString()),
                                         text.GetLength() * sizeof(wchar_t)));
    };
    const CString ended = root + L"\\VEZORI\\~ZUL.work\\0123456789abcdef0123456789abcdef";
    MakeFolders(ended);
    WriteFileBytes(ended + L"\\run.lock", "");
    WriteFileBytes(ended + L"\\3", "finished copy");
    note(ended + L"\\3.name", rel + L"\\Name.txt");
    WriteFileBytes(ended + L"\\4", "finished, too late");
    note(ended + L"\\4.name", rel + L"\\other.txt");
    WriteFileBytes(ended + L"\\5", "new folder");
    note(ended + L"\\5.name", rel + L"\\gone\\deeper.txt");
    WriteFileBytes(ended + L"\\6", "half a copy");
    const CString held = root + L"\\VEZORI\\~ZUL.work\\fedcba9876543210fedcba9876543210";
    MakeFolders(held);
    WriteFileBytes(held + L"\\0", "being written");
    HANDLE hLock = CreateFileW(held + L"\\run.lock", GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, 0,
                               nullptr);
    ASSERT_NE(hLock, INVALID_HANDLE_VALUE);

    RemoveTree(src);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(ListTree(stored), (std::vector<CString>{L"Name.txt", L"gone\\deeper.txt", L"other.txt"}));
    EXPECT_EQ(ListTree(src), (std::vector<CString>{L"Name.txt", L"gone\\deeper.txt", L"other.txt"}));
    EXPECT_EQ(ReadFileBytes(src + L"\\Name.txt"), "finished copy");
    EXPECT_EQ(ReadFileBytes(src + L"\\other.txt"), "other");
    EXPECT_FALSE(Exists(ended));
    EXPECT_EQ(ListFolder(held), (std::vector<CString>{L"0", L"run.lock"}));
    CloseHandle(hLock);
    RunRestore(engine, root, {stored}, RunOptions{}, &fails);
    EXPECT_TRUE(Records(root).empty()) << Show(Records(root));
}
