// The record of temporary copies: every temporary file a run makes is named in it before it is
// made, also with several copy lanes; a name stays until its file has gone, across the runs of
// one process; and a record of an ended run is read whole, however long.

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

// The text of a file as UTF-16.
std::wstring TextOf(const CString& strPath)
{
    const std::string bytes = ReadFileBytes(strPath);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// A record as an ended process left it: its name (an id no process has) and its lines.
void WriteEndedRecord(const CString& root, const std::wstring& text)
{
    MakeFolders(root + L"\\VEZORI");
    WriteFileBytes(root + L"\\VEZORI\\TempCopies_7ffffff0_1.log",
                   std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

// The flush of every copy, seen from the test: the copy's file must be named in the record of
// this process when its data is flushed.
CString g_strRecordRoot;
std::atomic<int> g_nFlushed{0}, g_nUnrecorded{0};

BOOL WINAPI FlushAndCheckRecorded(HANDLE hFile)
{
    alignas(8) BYTE buffer[4096];
    if (GetFileInformationByHandleEx(hFile, FileNameInfo, buffer, sizeof buffer - sizeof(wchar_t))) {
        const FILE_NAME_INFO* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
        std::wstring path(info->FileName, info->FileNameLength / sizeof(wchar_t));
        const std::wstring name = path.substr(path.rfind(L'\\') + 1);
        CString prefix;
        prefix.Format(L"TempCopies_%lx_", GetCurrentProcessId());
        bool recorded = false;
        for (const CString& record : Records(g_strRecordRoot))
            if (record.Left(prefix.GetLength()).CompareNoCase(prefix) == 0 &&
                TextOf(g_strRecordRoot + L"\\VEZORI\\" + record).find(L"\\" + name + L"\r\n") != std::wstring::npos)
                recorded = true;
        ++g_nFlushed;
        if (!recorded)
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

class CUseFlush {
public:
    explicit CUseFlush(CBackUpEngine::FlushFileFunc pfn) { CBackUpEngine::s_pfnFlushFile = pfn; }
    ~CUseFlush() { CBackUpEngine::s_pfnFlushFile = ::FlushFileBuffers; }
};

} // namespace

// Three copy lanes start together while the record is still being opened (the run first clears
// what a long record of an ended run names): each lane's temporary files are named in the
// record all the same.
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

    const int lanes = CBackUpEngine::s_nCopyLanes;
    CBackUpEngine::s_nCopyLanes = 3;
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
    CBackUpEngine::s_nCopyLanes = lanes;
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(g_nFlushed, 9);
    EXPECT_EQ(g_nUnrecorded, 0);
    EXPECT_EQ(ListFolder(StoredName(root, src)).size(), 9u);
    EXPECT_TRUE(Records(root).empty()) << Show(Records(root));
}

// A temporary file that cannot be removed keeps the record; the next run of the same process
// keeps its name, removes it once it can and only then the record.
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
    const CString leftName = left[0].Mid(left[0].ReverseFind(L'\\') + 1);
    EXPECT_NE(TextOf(root + L"\\VEZORI\\" + Records(root)[0]).find(leftName.GetString()), std::wstring::npos);

    // Still held: a run copies the file and keeps the record, with the name in it.
    fails.lines.clear();
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
    EXPECT_EQ(Temporaries(root), left);
    ASSERT_EQ(Records(root).size(), 1u) << "the record went while its temporary file is there";
    EXPECT_NE(TextOf(root + L"\\VEZORI\\" + Records(root)[0]).find(leftName.GetString()), std::wstring::npos);

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
