// Every name a file system allows: names that ordinary paths change or refuse ("foo." beside
// "foo", a trailing space, device names) and paths past the old length limit are stored apart,
// replaced, and restored like any other file, plain and compressed. The files are listed for the
// engine directly, as the collection hands them over.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "SharedFunctions.h"
#include "engine_test_support.h"

namespace {

const ULONGLONG kJan2020 = 132223104000000000ull;   // 2020-01-01 in 100 ns units
const ULONGLONG kSecond = 10000000ull;

struct OddFile {
    CString path;
    size_t size;
};

// The odd names side by side in src, and one file deep enough for its path (and the path of its
// stored copy) to pass 260 characters.
std::vector<OddFile> OddFiles(const CString& src)
{
    std::vector<OddFile> files;
    const wchar_t* names[] = {L"foo", L"foo.", L"name ", L"aux", L"con.txt", L"nul.dat", L"com1.log"};
    size_t size = 100;
    for (const wchar_t* name : names) {
        files.push_back({src + L"\\" + name, size});
        size += 1000;
    }
    CString deep = src;
    for (int i = 0; i < 6; ++i) {
        CString folder;
        folder.Format(L"\\folder %d with a name long enough to add up quickly", i);
        deep += folder;
    }
    files.push_back({deep + L"\\a file at the end of a long path.", 70000});
    return files;
}

// Writes every file with contents and a time of the given version.
void WriteVersion(const std::vector<OddFile>& files, unsigned version)
{
    unsigned i = 0;
    for (const OddFile& f : files) {
        MakeFolders(f.path.Left(f.path.ReverseFind(L'\\')));
        WriteFileBytes(f.path, Pattern(f.size, version * 100 + i));
        SetLastWrite(f.path, kJan2020 + (version * 100 + i) * kSecond);
        ++i;
    }
}

ULONGLONG Time100ns(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string Show(const std::vector<CString>& lines)
{
    std::string s;
    for (const CString& line : lines)
        s += std::string(CStringA(line).GetString()) + "\n";
    return s;
}

void Start(CBackUpEngine& engine, const CString& root, bool bRestore, bool bCompress, CCapturedFailList& fails)
{
    engine.Reset();
    engine.m_pFailList = &fails;
    engine.m_strTargetRoot = root;
    engine.m_bRestore = bRestore;
    engine.m_bCompress = bCompress;
}

} // namespace

TEST(EngineNamesTest, NamesThatOrdinaryPathsChangeAreBackedUpReplacedAndRestored)
{
    for (bool bCompress : {false, true}) {
        SCOPED_TRACE(bCompress ? "compressed" : "plain");
        CTempTree t;
        const CString src = t.Path(L"src"), root = t.Path(L"dst"), store = root + L"\\VEZORI";
        const std::vector<OddFile> files = OddFiles(src);
        ASSERT_GT(files.back().path.GetLength(), MAX_PATH);
        WriteVersion(files, 1);
        // The names really are distinct files here.
        ASSERT_EQ(ListFolder(src).size(), 8u);
        ASSERT_EQ(ReadFileBytes(files.back().path), Pattern(files.back().size, 100 + 7));
        const CString suffix = bCompress ? L".zip" : L"";

        CBackUpEngine engine;
        // A first backup creates the copies, a second one replaces them.
        for (unsigned version : {1u, 2u}) {
            WriteVersion(files, version);
            CCapturedFailList fails;
            Start(engine, root, false, bCompress, fails);
            for (const OddFile& f : files)
                engine.m_arrFiles.Add(f.path);
            engine.BackUpFileList(store);
            EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
            EXPECT_EQ(engine.m_nDoneFiles, static_cast<int>(files.size()));
            for (const OddFile& f : files) {
                const CString stored = StoredName(root, f.path) + suffix;
                if (!bCompress) {
                    EXPECT_TRUE(ReadFileBytes(stored) == ReadFileBytes(f.path)) << CStringA(stored).GetString();
                }
                EXPECT_EQ(Time100ns(LastWriteOf(stored)), Time100ns(LastWriteOf(f.path)))
                    << CStringA(stored).GetString();
            }
            // Each name has its own copy, under its own name, and nothing else is left.
            std::vector<CString> expected = {L"foo", L"foo.", L"name ", L"aux", L"con.txt", L"nul.dat", L"com1.log"};
            for (CString& name : expected)
                name += suffix;
            expected.push_back(L"folder 0 with a name long enough to add up quickly");
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(ListFolder(StoredName(root, src)), expected);
            EXPECT_TRUE(Temporaries(root).empty());
        }

        // The user's files change; the restore brings back the second version, times included.
        WriteVersion(files, 3);
        CCapturedFailList fails;
        Start(engine, root, true, false, fails);
        for (const OddFile& f : files)
            engine.m_arrFiles.Add(StoredName(root, f.path) + suffix);
        engine.RestoreFileList();
        EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
        EXPECT_EQ(engine.m_nDoneFiles, static_cast<int>(files.size()));
        unsigned i = 0;
        for (const OddFile& f : files) {
            EXPECT_TRUE(ReadFileBytes(f.path) == Pattern(f.size, 200 + i)) << CStringA(f.path).GetString();
            EXPECT_EQ(Time100ns(LastWriteOf(f.path)), kJan2020 + (200 + i) * kSecond) << CStringA(f.path).GetString();
            ++i;
        }
        EXPECT_EQ(ListFolder(src).size(), 8u);
        EXPECT_TRUE(Temporaries(t.Root()).empty());
    }
}

TEST(EngineNamesTest, FailLinesNameLongAndOddPathsAsTheUserKnowsThem)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    std::vector<OddFile> files = OddFiles(src);
    WriteVersion(files, 1);
    // Gone since they were listed: the deep one, and "foo." (whose ordinary path would name
    // "foo", which is there).
    const CString gone[] = {files.back().path, src + L"\\foo."};
    for (const CString& path : gone)
        ASSERT_TRUE(DeleteFileW(L"\\\\?\\" + path));
    ASSERT_TRUE(Exists(src + L"\\foo"));
    for (bool bCompress : {false, true}) {
        CBackUpEngine engine;
        CCapturedFailList fails;
        Start(engine, root, false, bCompress, fails);
        for (const CString& path : gone)
            engine.m_arrFiles.Add(path);
        engine.BackUpFileList(root + L"\\VEZORI");
        const std::vector<CString> expected = {gone[0] + L";" + FormatSystemError(ERROR_FILE_NOT_FOUND),
                                               gone[1] + L";" + FormatSystemError(ERROR_FILE_NOT_FOUND)};
        EXPECT_EQ(fails.lines, expected) << (bCompress ? "compressed" : "plain");
        EXPECT_FALSE(Exists(StoredName(root, src + L"\\foo")));
    }
}

namespace {

// A backup run of every file in src, plain or compressed.
void BackUpFolder(CBackUpEngine& engine, const CString& root, const CString& src, bool bCompress,
                  CCapturedFailList& fails)
{
    RunOptions opt;
    opt.bCompress = bCompress;
    RunBackUp(engine, root, {src}, opt, &fails);
}

std::vector<CString> Sorted(std::vector<CString> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// Names are the file system's: "a.zip", "a.ZIP" and "A.Zip" are one name to it. A file "a"
// beside an archive of such a name, after any mix of plain and compressed runs: the store holds
// the last run's copies under the names the engine gave them, and every stored file restores
// to its own file, the folder as a whole and each stored file chosen alone.
TEST(EngineNamesTest, ZipNamesInAnyLetterCaseRestoreToTheirOwnFiles)
{
    CUseTestCopy useTestCopy;
    const std::string a = Pattern(30000, 11), archive = "PK\x03\x04" + Pattern(4000, 12);
    const char* mixes[] = {"P", "C", "PP", "PC", "CP", "CC", "PPC", "PCP", "PCC", "CPP", "CPC", "CCP"};
    for (const wchar_t* zipName : {L"a.zip", L"a.ZIP", L"A.Zip"}) {
        for (const char* mix : mixes) {
            SCOPED_TRACE(std::string(CStringA(zipName).GetString()) + " " + mix);
            CTempTree t;
            const CString src = t.Path(L"src"), root = t.Path(L"dst");
            MakeFolders(src);
            WriteFileBytes(src + L"\\a", a);
            WriteFileBytes(src + L"\\" + zipName, archive);
            ASSERT_EQ(ListFolder(src), Sorted({L"a", zipName}));

            CBackUpEngine engine;
            CCapturedFailList fails;
            for (const char* run = mix; *run; ++run)
                BackUpFolder(engine, root, src, *run == 'C', fails);
            ASSERT_TRUE(fails.lines.empty()) << Show(fails.lines);
            const bool bLastCompressed = mix[strlen(mix) - 1] == 'C';
            const CString stored = StoredName(root, src);
            // What each stored file is the copy of.
            struct Copy {
                CString stored, file;
                const std::string* bytes;
            };
            std::vector<Copy> copies = bLastCompressed
                                           ? std::vector<Copy>{{L"a.zip", L"a", &a},
                                                               {CString(zipName) + L".zip", zipName, &archive}}
                                           : std::vector<Copy>{{L"a", L"a", &a}, {zipName, zipName, &archive}};
            EXPECT_EQ(ListFolder(stored), Sorted({copies[0].stored, copies[1].stored}));
            EXPECT_TRUE(Temporaries(root).empty());

            RemoveTree(src);
            RunRestore(engine, root, {stored}, RunOptions{}, &fails);
            EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
            EXPECT_EQ(ListFolder(src), Sorted({L"a", zipName}));
            EXPECT_TRUE(ReadFileBytes(src + L"\\a") == a);
            EXPECT_TRUE(ReadFileBytes(src + L"\\" + zipName) == archive);

            // One stored file chosen alone brings back its own file, over a changed one, and
            // leaves the other file as it is.
            for (const Copy& copy : copies) {
                SCOPED_TRACE(CStringA(copy.stored).GetString());
                WriteFileBytes(src + L"\\a", "changed a");
                WriteFileBytes(src + L"\\" + zipName, "changed archive");
                RunRestore(engine, root, {stored + L"\\" + copy.stored}, RunOptions{}, &fails);
                EXPECT_TRUE(fails.lines.empty()) << Show(fails.lines);
                EXPECT_EQ(engine.m_nDoneFiles, 1);
                EXPECT_EQ(ListFolder(src), Sorted({L"a", zipName}));
                const bool bArchive = copy.file != L"a";
                EXPECT_TRUE(ReadFileBytes(src + L"\\a") == (bArchive ? std::string("changed a") : a));
                EXPECT_TRUE(ReadFileBytes(src + L"\\" + zipName) ==
                            (bArchive ? archive : std::string("changed archive")));
            }
            EXPECT_TRUE(Temporaries(t.Root()).empty());
        }
    }
}
