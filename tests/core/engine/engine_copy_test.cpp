// Backup and restore of real files in a temporary tree: store layout, bytes, times and
// attributes, skip-unchanged, the two forms of a stored file, cancel and progress.

#include <gtest/gtest.h>

#include <thread>

#include "BackUpEngine.h"
#include "SharedFunctions.h"
#include "engine_test_support.h"

namespace {

const DWORD kAttrMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const ULONGLONG kJan2020 = 132223104000000000ull; // 2020-01-01 in 100 ns units
const ULONGLONG kHour = 36000000000ull;

// The store path of a source path: <root>\VEZORI\<source without its colon>.
bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

struct SourceFile {
    const wchar_t* rel;
    size_t size;
    DWORD attrs;
};

const SourceFile kTree[] = {
    {L"a.txt", 1000, 0},
    {L"empty.txt", 0, 0},
    {L"noext", 77, 0},
    {L"sub\\deep\\b.dat", 200000, 0},
    {L"sub\\ro.txt", 300, FILE_ATTRIBUTE_READONLY},
    {L"sub\\hid.txt", 20, FILE_ATTRIBUTE_HIDDEN},
    {L"hfolder\\c.txt", 5000, 0},
};

// Builds the mixed tree with distinct contents, times and attributes.
void BuildTree(const CString& src, unsigned seed)
{
    MakeFolders(src + L"\\sub\\deep");
    MakeFolders(src + L"\\hfolder");
    int i = 0;
    for (const SourceFile& f : kTree) {
        CString path = src + L"\\" + f.rel;
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        WriteFileBytes(path, Pattern(f.size, seed + i));
        SetLastWrite(path, kJan2020 + (seed * 100 + i) * kHour);
        if (f.attrs)
            SetFileAttributesW(path, f.attrs);
        ++i;
    }
    SetFileAttributesW(src + L"\\hfolder", FILE_ATTRIBUTE_HIDDEN);
}

void ExpectSameFile(const CString& expected, const CString& actual)
{
    EXPECT_EQ(ReadFileBytes(expected), ReadFileBytes(actual)) << CStringA(actual).GetString();
    EXPECT_TRUE(SameTime(LastWriteOf(expected), LastWriteOf(actual))) << CStringA(actual).GetString();
    EXPECT_EQ(AttributesOf(expected) & kAttrMask, AttributesOf(actual) & kAttrMask)
        << CStringA(actual).GetString();
}

std::vector<CString> FailPaths(const CCapturedFailList& fails)
{
    std::vector<CString> paths;
    for (const CString& line : fails.lines)
        paths.push_back(line.Left(line.Find(L';')));
    return paths;
}

} // namespace

TEST(EngineCopyTest, BackUpThenRestoreGivesTheSameTree)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    BuildTree(src, 1);
    CString saved = t.Path(L"saved");
    BuildTree(saved, 1); // the same tree again, to compare with after the sources change
    CreateDirectoryW(root, nullptr);

    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(fails.lines.empty() ? CString() : fails.lines[0]).GetString();
    EXPECT_EQ(engine.m_bDone, 1);
    EXPECT_EQ(engine.m_nTotalFiles, 7);
    EXPECT_EQ(engine.m_nDoneFiles, 7);
    ULONGLONG total = 0;
    for (const SourceFile& f : kTree)
        total += f.size;
    EXPECT_EQ(engine.m_nTotalBytes, total);
    EXPECT_EQ(engine.m_nDoneBytes, total);

    // The store mirrors drive letter and path, holds nothing else, and every stored file has
    // the source's bytes, last-write time and attributes.
    CString storedSrc = StoredName(root, src);
    std::vector<CString> expectedNames;
    for (const SourceFile& f : kTree) {
        ExpectSameFile(src + L"\\" + f.rel, storedSrc + L"\\" + f.rel);
        expectedNames.push_back(f.rel);
    }
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(ListTree(storedSrc), expectedNames);
    EXPECT_EQ(ListFolder(root + L"\\VEZORI"), std::vector<CString>{src.Left(1)});
    // Created store folders take the attributes of the folder they mirror.
    EXPECT_EQ(AttributesOf(storedSrc + L"\\hfolder") & kAttrMask,
              AttributesOf(src + L"\\hfolder") & kAttrMask);
    EXPECT_EQ(AttributesOf(root + L"\\VEZORI") & kAttrMask, 0u);

    // Change the sources: new bytes (a read-only file stays read-only), a file and a hidden
    // folder gone. The restore brings every file back as it was stored.
    BuildTree(src, 2);
    RemoveTree(src + L"\\sub\\deep\\b.dat");
    RemoveTree(src + L"\\hfolder");
    ASSERT_NE(ReadFileBytes(src + L"\\sub\\ro.txt"), ReadFileBytes(saved + L"\\sub\\ro.txt"));

    RunRestore(engine, root, {storedSrc}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(fails.lines.empty() ? CString() : fails.lines[0]).GetString();
    EXPECT_EQ(engine.m_nDoneFiles, 7);
    for (const SourceFile& f : kTree)
        ExpectSameFile(saved + L"\\" + f.rel, src + L"\\" + f.rel);
    EXPECT_EQ(ListTree(src), expectedNames);
    EXPECT_EQ(AttributesOf(src + L"\\hfolder") & kAttrMask, AttributesOf(saved + L"\\hfolder") & kAttrMask);
}

TEST(EngineCopyTest, SkipUnchangedComparesWithTheStoredCopyOfEitherForm)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    BuildTree(src, 1);
    CreateDirectoryW(root, nullptr);
    CString storedSrc = StoredName(root, src);

    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_EQ(engine.m_nDoneFiles, 7);

    RunOptions changed;
    changed.bChangedOnly = true;
    RunBackUp(engine, root, {src}, changed, &fails);
    EXPECT_EQ(engine.m_nTotalFiles, 0);
    EXPECT_EQ(engine.m_arrFiles.GetSize(), 0);
    EXPECT_EQ(engine.m_nTotalBytes, 0u);
    // A single selected file is tested the same way.
    RunBackUp(engine, root, {src + L"\\a.txt"}, changed, &fails);
    EXPECT_EQ(engine.m_nTotalFiles, 0);

    // A stored copy that exists only in the ".zip" form (a compressed run's) is compared by
    // its time too.
    RunOptions compress;
    compress.bCompress = true;
    RunBackUp(engine, root, {src + L"\\noext"}, compress, &fails);
    ASSERT_FALSE(Exists(storedSrc + L"\\noext"));
    ASSERT_TRUE(Exists(storedSrc + L"\\noext.zip"));
    SetLastWrite(src + L"\\a.txt", kJan2020 + 999 * kHour);
    RunBackUp(engine, root, {src}, changed, &fails);
    ASSERT_EQ(engine.m_arrFiles.GetSize(), 1);
    EXPECT_EQ(engine.m_arrFiles[0], src + L"\\a.txt");

    // Restore side: the source file's time against the stored file's time (the run above
    // stored a.txt with its new time).
    SetLastWrite(src + L"\\a.txt", kJan2020 + 1000 * kHour);
    RunRestore(engine, root, {storedSrc}, changed, &fails);
    ASSERT_EQ(engine.m_arrFiles.GetSize(), 1);
    EXPECT_EQ(engine.m_arrFiles[0], storedSrc + L"\\a.txt");
    RunRestore(engine, root, {storedSrc + L"\\noext.zip"}, changed, &fails);
    EXPECT_EQ(engine.m_nTotalFiles, 0);
    EXPECT_TRUE(fails.lines.empty());
}

TEST(EngineCopyTest, StoreKeepsExactlyOneFormOfEachFile)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\f.txt", "new plain");
    CString stored = StoredName(root, src + L"\\f.txt");
    CString storedFolder = StoredName(root, src);
    MakeFolders(storedFolder);
    // An earlier compressed copy, read-only.
    WriteFileBytes(stored + L".zip", std::string("\xFF\xFF\xFF\xFF", 4));
    SetFileAttributesW(stored + L".zip", FILE_ATTRIBUTE_READONLY);

    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_EQ(ReadFileBytes(stored), "new plain");
    EXPECT_EQ(ListFolder(storedFolder), std::vector<CString>{L"f.txt"});

    // With compression on, the compressed copy replaces the plain one.
    WriteFileBytes(src + L"\\f.txt", "newer");
    RunOptions compress;
    compress.bCompress = true;
    RunBackUp(engine, root, {src}, compress, &fails);
    EXPECT_TRUE(fails.lines.empty()) << CStringA(fails.lines.empty() ? CString() : fails.lines[0]).GetString();
    EXPECT_EQ(ListFolder(storedFolder), std::vector<CString>{L"f.txt.zip"});
    std::string zipped = ReadFileBytes(stored + L".zip");
    EXPECT_EQ(zipped.substr(0, 4), std::string("\xFF\xFF\xFF\xFF", 4));

    // It restores to the newer bytes under the plain name.
    WriteFileBytes(src + L"\\f.txt", "changed since");
    RunRestore(engine, root, {stored + L".zip"}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_EQ(ListFolder(src), std::vector<CString>{L"f.txt"});
    EXPECT_EQ(ReadFileBytes(src + L"\\f.txt"), "newer");
}

TEST(EngineCopyTest, CancelInTheMiddleLosesNothingAndLeavesNoPartialFile)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const wchar_t* names[] = {L"a.txt", L"big.bin", L"z.txt"};
    for (int i = 0; i < 3; ++i)
        WriteFileBytes(src + L"\\" + names[i], Pattern(i == 1 ? 100000 : 9000, i));
    CString storedFolder = StoredName(root, src);

    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_EQ(engine.m_nDoneFiles, 3);
    // Progress came in pieces and reached the total, never going backwards.
    EXPECT_EQ(engine.m_nDoneBytes, engine.m_nTotalBytes);

    // New contents; the backup is cancelled while the big file is half copied.
    for (int i = 0; i < 3; ++i)
        WriteFileBytes(src + L"\\" + names[i], Pattern(i == 1 ? 100000 : 9000, 10 + i));
    ULONGLONG last = 0;
    bool wentBack = false;
    TestCopy::OnPiece = [&](const wchar_t* source, ULONGLONG done) {
        wentBack |= engine.m_nDoneBytes < last;
        last = engine.m_nDoneBytes;
        if (wcsstr(source, L"big.bin") && done >= 40000)
            engine.m_bCancel = 1;
    };
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    EXPECT_FALSE(wentBack);
    EXPECT_EQ(engine.m_bDone, 1);
    EXPECT_EQ(ReadFileBytes(storedFolder + L"\\big.bin"), Pattern(100000, 1));
    EXPECT_EQ(ListFolder(storedFolder), (std::vector<CString>{L"a.txt", L"big.bin", L"z.txt"}));
    for (const wchar_t* name : names) {
        std::string bytes = ReadFileBytes(storedFolder + L"\\" + name);
        int i = name == names[0] ? 0 : name == names[1] ? 1 : 2;
        size_t size = i == 1 ? 100000 : 9000;
        EXPECT_TRUE(bytes == Pattern(size, i) || bytes == Pattern(size, 10 + i));
    }

    // A cancelled restore leaves the file at the restore place as it was.
    WriteFileBytes(src + L"\\big.bin", "user's newer file");
    RunRestore(engine, root, {storedFolder}, RunOptions{}, &fails);
    EXPECT_EQ(engine.m_bDone, 1);
    EXPECT_EQ(ReadFileBytes(src + L"\\big.bin"), "user's newer file");
    EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"a.txt", L"big.bin", L"z.txt"}));
}

TEST(EngineCopyTest, ProgressCountsOnlyNewBytesOfEachStreamAndHonoursPauseAndCancel)
{
    CBackUpEngine engine;
    auto report = [&](DWORD stream, LONGLONG bytes) {
        LARGE_INTEGER zero{}, n{};
        n.QuadPart = bytes;
        return BackUpCopyProgress(zero, zero, zero, n, stream, CALLBACK_CHUNK_FINISHED, nullptr,
                                  nullptr, &engine);
    };
    EXPECT_EQ(report(1, 100), static_cast<DWORD>(PROGRESS_CONTINUE));
    report(1, 100);
    report(1, 60); // a report behind the last one adds nothing and takes nothing away
    EXPECT_EQ(engine.m_nDoneBytes, 100u);
    report(1, 300);
    report(2, 50); // a further stream counts from its own zero
    report(2, 80);
    report(3, 10);
    EXPECT_EQ(engine.m_nDoneBytes, 390u);
    EXPECT_EQ(engine.m_nFileDoneBytes, 390u);
    // Sizes beyond 4 GiB are counted whole.
    engine.Reset();
    report(1, 0x100000005ll);
    EXPECT_EQ(engine.m_nDoneBytes, 0x100000005ull);

    // A reset pause event holds the copy inside the progress routine.
    engine.m_hPauseEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> returned{0};
    std::thread worker([&] {
        report(1, 0x100000010ll);
        returned = 1;
    });
    Sleep(150);
    EXPECT_EQ(returned, 0);
    SetEvent(engine.m_hPauseEvent);
    worker.join();
    EXPECT_EQ(returned, 1);
    engine.m_bCancel = 1;
    EXPECT_EQ(report(1, 0x100000020ll), static_cast<DWORD>(PROGRESS_CANCEL));
}

TEST(EngineCopyTest, BadOrStaleStorePathsAreFailLinesAndCreateNothing)
{
    EXPECT_EQ(CBackUpEngine::StorePathToSourcePath(L"E:\\VEZORI\\C\\dir\\f"), L"C:\\dir\\f");
    EXPECT_EQ(CBackUpEngine::StorePathToSourcePath(L"E:\\vezori\\d\\f.zip"), L"d:\\f.zip");
    for (const wchar_t* bad : {L"", L"x", L"E:\\VEZORI", L"E:\\VEZORI\\", L"E:\\VEZORI\\C",
                               L"E:\\VEZORI\\C\\", L"E:\\VEZORI\\stray.txt", L"E:\\VEZORI\\1\\f",
                               L"E:\\other\\C\\f"})
        EXPECT_EQ(CBackUpEngine::StorePathToSourcePath(bad), L"") << CStringA(bad).GetString();

    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    WriteFileBytes(src + L"\\ok.txt", "ok");
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(fails.lines.empty());
    RemoveTree(src);

    // A stray file directly in the store folder has no place to go back to.
    CString store = root + L"\\VEZORI";
    WriteFileBytes(store + L"\\stray.txt", "stray");
    RunRestore(engine, root, {store + L"\\stray.txt", StoredName(root, src) + L"\\ok.txt"},
               RunOptions{}, &fails);
    EXPECT_EQ(FailPaths(fails), std::vector<CString>{store + L"\\stray.txt"});
    EXPECT_EQ(ReadFileBytes(src + L"\\ok.txt"), "ok");
    EXPECT_EQ(ListTree(root), (std::vector<CString>{L"VEZORI\\" + StoredName(L"", src).Mid(8) + L"\\ok.txt",
                                                    L"VEZORI\\stray.txt"}));

    // A stale selection of a stored file that has gone is reported and not created.
    fails.lines.clear();
    CString gone = StoredName(root, src) + L"\\gone.txt";
    RunRestore(engine, root, {gone}, RunOptions{}, &fails);
    EXPECT_EQ(FailPaths(fails), std::vector<CString>{gone});
    EXPECT_EQ(fails.lines[0], gone + L";" + FormatSystemError(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Exists(gone));
    EXPECT_EQ(engine.m_nTotalFiles, 0);

    // A listed source without a drive is not mirrored into the store.
    fails.lines.clear();
    engine.Reset();
    engine.m_pFailList = &fails;
    engine.m_arrFiles.Add(L"relative\\x.txt");
    engine.BackUpFileList(store);
    EXPECT_EQ(FailPaths(fails), std::vector<CString>{L"relative\\x.txt"});
    EXPECT_EQ(engine.m_bDone, 1);
}

TEST(EngineCopyTest, RestoreTakesTheCompressedPathOnlyForMarkedZipNames)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    CString storedFolder = StoredName(root, src);
    CBackUpEngine engine;
    CCapturedFailList fails;
    // A compressed copy whose name ends in ".ZIP": the file system's names have no letter case.
    MakeFolders(src);
    WriteFileBytes(src + L"\\upper", "upper's bytes");
    RunOptions compress;
    compress.bCompress = true;
    RunBackUp(engine, root, {src + L"\\upper"}, compress, &fails);
    const std::string coded = ReadFileBytes(storedFolder + L"\\upper.zip");
    ASSERT_TRUE(DeleteFileW(storedFolder + L"\\upper.zip"));
    WriteFileBytes(storedFolder + L"\\upper.ZIP", coded);
    RemoveTree(src);

    const std::string marker("\xFF\xFF\xFF\xFF", 4);
    WriteFileBytes(storedFolder + L"\\plain.zip", "PK\x03\x04 a real archive");
    WriteFileBytes(storedFolder + L"\\marked.bin", marker + "abc");
    WriteFileBytes(storedFolder + L"\\coded.zip", marker);
    EXPECT_FALSE(CBackUpEngine::IsCompressedCopy(storedFolder + L"\\plain.zip"));
    EXPECT_FALSE(CBackUpEngine::IsCompressedCopy(storedFolder + L"\\marked.bin"));
    EXPECT_TRUE(CBackUpEngine::IsCompressedCopy(storedFolder + L"\\upper.ZIP"));
    EXPECT_TRUE(CBackUpEngine::IsCompressedCopy(storedFolder + L"\\coded.zip"));

    RunRestore(engine, root, {storedFolder}, RunOptions{}, &fails);
    // Names that are not compressed copies come back unchanged, under their own names.
    EXPECT_EQ(ReadFileBytes(src + L"\\plain.zip"), "PK\x03\x04 a real archive");
    EXPECT_EQ(ReadFileBytes(src + L"\\marked.bin"), marker + "abc");
    // The compressed copies come back as "upper" and "coded" (the marker alone: an empty file).
    EXPECT_TRUE(fails.lines.empty()) << CStringA(fails.lines.empty() ? CString() : fails.lines[0]).GetString();
    EXPECT_EQ(ListFolder(src), (std::vector<CString>{L"coded", L"marked.bin", L"plain.zip", L"upper"}));
    EXPECT_EQ(ReadFileBytes(src + L"\\coded"), "");
    EXPECT_EQ(ReadFileBytes(src + L"\\upper"), "upper's bytes");
}
