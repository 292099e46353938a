// Collection of backup and restore file lists: filters, system folders, links, odd paths.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "LongPath.h"
#include "SharedFunctions.h"
#include "engine_test_support.h"

namespace {

std::vector<CString> Names(const CBackUpEngine& engine)
{
    std::vector<CString> names;
    for (const CString& path : engine.m_arrFiles)
        names.push_back(path.Mid(path.ReverseFind(L'\\') + 1));
    std::sort(names.begin(), names.end());
    return names;
}

// A folder link to strTarget at strLink; false when this system makes none (a link call may
// also report success and make nothing).
bool MakeFolderLink(const CString& strLink, const CString& strTarget)
{
    auto isLink = [&] {
        DWORD a = AttributesOf(strLink);
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_REPARSE_POINT);
    };
    return CreateSymbolicLinkW(strLink, strTarget, SYMBOLIC_LINK_FLAG_DIRECTORY) && isLink();
}

} // namespace

TEST(EngineCollectTest, ExtensionFilterIgnoresCaseAndRejectsNamesWithoutExtension)
{
    EXPECT_EQ(CBackUpEngine::GetExtension(L"a.tar.gz"), L"gz");
    EXPECT_EQ(CBackUpEngine::GetExtension(L".profile"), L"");
    EXPECT_TRUE(CBackUpEngine::IsInExtensionList(L"wmv,mp3,Jpg", L"JPG"));
    EXPECT_TRUE(CBackUpEngine::IsInExtensionList(L"wmv,mp3,jpg", L"wmv"));
    EXPECT_FALSE(CBackUpEngine::IsInExtensionList(L"wmv,mp3", L"mp"));
    // A list that begins with a comma is one item as a whole.
    EXPECT_FALSE(CBackUpEngine::IsInExtensionList(L",txt", L"txt"));

    CTempTree t;
    CString src = t.Path(L"src");
    MakeFolders(src + L"\\sub");
    for (const wchar_t* name : {L"a.TXT", L"b.jpg", L"noext", L".txt", L"c.tar.gz", L"sub\\d.txt"})
        WriteFileBytes(src + L"\\" + name, "12345");

    CBackUpEngine engine;
    CCapturedFailList fails;
    engine.m_pFailList = &fails;
    engine.CollectBackUpFiles(src, t.Path(L"dst\\VEZORI"));
    EXPECT_EQ(Names(engine), (std::vector<CString>{L".txt", L"a.TXT", L"b.jpg", L"c.tar.gz", L"d.txt", L"noext"}));
    EXPECT_EQ(engine.m_nTotalFiles, 6);
    EXPECT_EQ(engine.m_nTotalBytes, 30u);

    engine.Reset();
    engine.m_pFailList = &fails;
    engine.m_strFileTypes = L"txt,GZ";
    engine.CollectBackUpFiles(src, t.Path(L"dst\\VEZORI"));
    EXPECT_EQ(Names(engine), (std::vector<CString>{L"a.TXT", L"c.tar.gz", L"d.txt"}));
    // Selected single files go through the same filter; a missing one is reported.
    engine.CollectBackUpFiles(src + L"\\noext", t.Path(L"dst\\VEZORI"));
    engine.CollectBackUpFiles(src + L"\\b.jpg", t.Path(L"dst\\VEZORI"));
    engine.CollectBackUpFiles(src + L"\\a.TXT", t.Path(L"dst\\VEZORI"));
    engine.CollectBackUpFiles(src + L"\\missing.txt", t.Path(L"dst\\VEZORI"));
    EXPECT_EQ(engine.m_nTotalFiles, 4);
    ASSERT_EQ(fails.lines.size(), 1u);
    EXPECT_EQ(fails.lines[0].Left(fails.lines[0].Find(L';')), src + L"\\missing.txt");

    // An empty selection gives nothing.
    engine.Reset();
    EXPECT_EQ(engine.m_nTotalFiles, 0);
    EXPECT_EQ(engine.m_nTotalBytes, 0u);
    EXPECT_TRUE(engine.m_arrFiles.IsEmpty());
}

TEST(EngineCollectTest, SystemFoldersAreSkippedOnlyAtTheSystemDriveRoot)
{
    CBackUpEngine engine;
    EXPECT_EQ(engine.m_strSystemDrive.GetLength(), 2);
    EXPECT_EQ(CBackUpEngine::IsNotSystemFolder(L"WINDOWS"), 0);
    EXPECT_EQ(CBackUpEngine::IsNotSystemFolder(L"Program Files (x86)"), 1);

    // Marker files with an extension of their own, so that the walk of the whole system
    // drive collects only them.
    CString ext;
    ext.Format(L"zul%lu", GetCurrentProcessId());
    CString drive = engine.m_strSystemDrive;
    CString inWindows = drive + L"\\windows\\skip." + ext;
    CString inProgramFiles = drive + L"\\Program Files\\skip." + ext;
    CTempTree t;
    CString deeper = t.Path(L"Windows");
    MakeFolders(deeper + L"\\Program Files");
    CString kept1 = deeper + L"\\keep1." + ext;
    CString kept2 = deeper + L"\\Program Files\\keep2." + ext;
    for (const CString& path : {inWindows, inProgramFiles, kept1, kept2})
        WriteFileBytes(path, "x");
    ASSERT_TRUE(Exists(inWindows));

    engine.m_strFileTypes = ext;
    engine.CollectBackUpFiles(drive, t.Path(L"dst\\VEZORI"));
    DeleteFileW(inWindows);
    DeleteFileW(inProgramFiles);
    EXPECT_EQ(Names(engine), (std::vector<CString>{L"keep1." + ext, L"keep2." + ext}));
    for (const CString& path : engine.m_arrFiles)
        EXPECT_EQ(path.Left(3), drive + L"\\");
}

TEST(EngineCollectTest, FolderLinksAreNotFollowed)
{
    CTempTree t;
    CString src = t.Path(L"src");
    MakeFolders(src + L"\\real");
    WriteFileBytes(src + L"\\real\\f.txt", "x");
    // The link leads back to the folder that holds it: a walk that followed it would not end.
    if (!MakeFolderLink(src + L"\\link", src))
        GTEST_SKIP() << "this system makes no folder links: the link call made nothing";
    ASSERT_TRUE(Exists(src + L"\\link\\real\\f.txt")) << "the link leads nowhere";
    CBackUpEngine engine;
    engine.CollectBackUpFiles(src, t.Path(L"dst\\VEZORI"));
    EXPECT_EQ(engine.m_arrFiles.GetSize(), 1);
    engine.Reset();
    engine.CollectFolderFiles(src);
    EXPECT_EQ(engine.m_arrFiles.GetSize(), 1);
    RemoveDirectoryW(src + L"\\link");
}

TEST(EngineCollectTest, StoreDrivesAndFolderTests)
{
    CTempTree t;
    CString store = t.Path(L"VEZORI");
    MakeFolders(store + L"\\C");
    MakeFolders(store + L"\\D");
    MakeFolders(store + L"\\long");
    WriteFileBytes(store + L"\\E", "a file, not a drive");
    CBackUpEngine engine;
    engine.ListStoreDrives(store);
    ASSERT_EQ(engine.m_arrDriveRoots.GetSize(), 2);
    EXPECT_EQ(engine.m_arrDriveRoots[0] + engine.m_arrDriveRoots[1] == L"C:\\D:\\" ||
                  engine.m_arrDriveRoots[0] + engine.m_arrDriveRoots[1] == L"D:\\C:\\",
              true);
    // Reset keeps the drive roots.
    engine.Reset();
    EXPECT_EQ(engine.m_arrDriveRoots.GetSize(), 2);

    EXPECT_TRUE(IsFolder(store));
    EXPECT_TRUE(IsFolder(store + L"\\"));
    EXPECT_FALSE(IsFolder(store + L"\\E"));
    EXPECT_FALSE(IsFolder(store + L"\\*"));
    EXPECT_FALSE(IsFolder(store + L"\\none"));
    EXPECT_TRUE(IsFolder(engine.m_strSystemDrive));
    EXPECT_TRUE(IsFolder(engine.m_strSystemDrive + L"\\"));

    // A restore walk of a store folder lists the stored files with their sizes.
    WriteFileBytes(store + L"\\C\\x.txt", "1234");
    WriteFileBytes(store + L"\\D\\y.txt.zip", "12");
    engine.CollectFolderFiles(store);
    EXPECT_EQ(Names(engine), (std::vector<CString>{L"E", L"x.txt", L"y.txt.zip"}));
    EXPECT_EQ(engine.m_nTotalBytes, 25u);
}

// Extensions typed into the "Others" edit come with dots, stars, capitals and other
// separators; each stands for the bare extension.
TEST(EngineCollectTest, TypedExtensionsMatchAsMeant)
{
    for (const wchar_t* list : {L".pdf", L"*.pdf", L"PDF", L" .Pdf ", L"doc;.pdf", L"doc\xFF0C*.pdf",
                                L"txt,*.PDF;.doc"})
        EXPECT_TRUE(CBackUpEngine::IsInExtensionList(list, L"pdf")) << CStringA(list).GetString();
    EXPECT_TRUE(CBackUpEngine::IsInExtensionList(L"doc\xFF0Cpdf", L"DOC"));
    EXPECT_FALSE(CBackUpEngine::IsInExtensionList(L"*.pdfx;.pd", L"pdf"));
    EXPECT_FALSE(CBackUpEngine::IsInExtensionList(L"doc\xFF0Cxls", L"pdf"));

    CTempTree t;
    CString src = t.Path(L"src");
    MakeFolders(src);
    for (const wchar_t* name : {L"a.pdf", L"b.DOC", L"c.txt", L"pdf"})
        WriteFileBytes(src + L"\\" + name, "x");
    CBackUpEngine engine;
    engine.m_strFileTypes = L"jpg,*.PDF\xFF0C.doc";
    engine.CollectBackUpFiles(src, t.Path(L"dst\\VEZORI"));
    EXPECT_EQ(Names(engine), (std::vector<CString>{L"a.pdf", L"b.DOC"}));
}

namespace {

// Stand-ins for the walks' folder listing: entries named in s_placeholders get a reparse point
// with that tag, and a listing of a folder whose name ends with s_failName fails as a device
// would, at its start or after its first entry.
std::vector<std::pair<CString, DWORD>> s_placeholders;
CString s_failName;
bool s_failAfterFirst = false;
std::set<HANDLE> s_failing;

void MarkEntry(WIN32_FIND_DATAW* pData)
{
    for (const auto& p : s_placeholders)
        if (p.first.CompareNoCase(pData->cFileName) == 0) {
            pData->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            pData->dwReserved0 = p.second;
        }
}

HANDLE WINAPI TestFindFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData)
{
    CString folder(pszPattern);
    folder = folder.Left(folder.ReverseFind(L'\\'));
    const bool failing = !s_failName.IsEmpty() && folder.Right(s_failName.GetLength()).CompareNoCase(s_failName) == 0;
    if (failing && !s_failAfterFirst) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = FindFirstFileW(pszPattern, pData);
    if (h != INVALID_HANDLE_VALUE) {
        MarkEntry(pData);
        if (failing)
            s_failing.insert(h);
    }
    return h;
}

BOOL WINAPI TestFindNext(HANDLE h, LPWIN32_FIND_DATAW pData)
{
    if (s_failing.erase(h)) {   // once: the walk gives the listing up
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    if (!FindNextFileW(h, pData))
        return FALSE;
    MarkEntry(pData);
    return TRUE;
}

struct CUseTestFind : CSystemIoOver {
    HANDLE FindFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData) override { return TestFindFirst(pszPattern, pData); }
    BOOL FindNext(HANDLE hFind, LPWIN32_FIND_DATAW pData) override { return TestFindNext(hFind, pData); }
    CScopedSystemIo install{*this};
    ~CUseTestFind() override
    {
        s_placeholders.clear();
        s_failName.Empty();
        s_failAfterFirst = false;
        s_failing.clear();
    }
};

CString FailPath(const CString& line)
{
    return line.Left(line.Find(L';'));
}

} // namespace

// What a run cannot take is said: a selected file or folder that has gone, also with "skip
// unchanged" on, and a folder that cannot be listed, on a backup and on a restore.
TEST(EngineCollectTest, WhatCannotBeCollectedIsReported)
{
    CTempTree t;
    CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src + L"\\deep\\locked");
    WriteFileBytes(src + L"\\kept.txt", "kept");
    WriteFileBytes(src + L"\\deep\\locked\\in.txt", "in");
    CUseTestCopy useTestCopy;
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(fails.lines.empty());

    // Gone since they were selected: a file and a folder, whatever the options.
    for (bool bChangedOnly : {false, true}) {
        SCOPED_TRACE(bChangedOnly ? "skip unchanged" : "all files");
        RunOptions opt;
        opt.bChangedOnly = bChangedOnly;
        fails.lines.clear();
        RunBackUp(engine, root, {src + L"\\gone.txt", src + L"\\gone folder", src + L"\\kept.txt"}, opt, &fails);
        ASSERT_EQ(fails.lines.size(), 2u);
        EXPECT_EQ(FailPath(fails.lines[0]), src + L"\\gone.txt");
        EXPECT_EQ(FailPath(fails.lines[1]), src + L"\\gone folder");
        EXPECT_GT(fails.lines[0].GetLength(), FailPath(fails.lines[0]).GetLength() + 1) << "no system text";
        EXPECT_EQ(engine.m_nTotalFiles, bChangedOnly ? 0 : 1);
        // The same on a restore: a stored file and a stored folder that have gone.
        fails.lines.clear();
        CString stored = StoredName(root, src);
        RunRestore(engine, root, {stored + L"\\gone.txt", stored + L"\\gone folder"}, opt, &fails);
        ASSERT_EQ(fails.lines.size(), 2u);
        EXPECT_EQ(FailPath(fails.lines[1]), stored + L"\\gone folder");
    }

    // A folder that refuses its listing, and one whose listing breaks off: one line each with
    // the system's text, the rest of the tree still collected.
    CUseTestFind useTestFind;
    for (bool bAfterFirst : {false, true}) {
        SCOPED_TRACE(bAfterFirst ? "listing breaks off" : "listing refused");
        s_failName = L"\\locked";
        s_failAfterFirst = bAfterFirst;
        const CString reason = FormatSystemError(bAfterFirst ? ERROR_NOT_READY : ERROR_ACCESS_DENIED);
        fails.lines.clear();
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
        ASSERT_EQ(fails.lines.size(), 1u);
        EXPECT_EQ(fails.lines[0], src + L"\\deep\\locked;" + reason);
        EXPECT_EQ(engine.m_nTotalFiles, 1);
        fails.lines.clear();
        RunRestore(engine, root, {root + L"\\VEZORI"}, RunOptions{}, &fails);
        ASSERT_EQ(fails.lines.size(), 1u);
        EXPECT_EQ(fails.lines[0], StoredName(root, src) + L"\\deep\\locked;" + reason);
        EXPECT_EQ(engine.m_nTotalFiles, 1);
    }

    // An empty folder is no failure.
    s_failName.Empty();
    MakeFolders(src + L"\\empty");
    fails.lines.clear();
    RunBackUp(engine, root, {src + L"\\empty"}, RunOptions{}, &fails);
    EXPECT_TRUE(fails.lines.empty());
}

// Folders with reparse points: placeholders of files kept elsewhere are walked like any
// folder; links and junctions (name surrogates), and reparse points without a tag, are not.
TEST(EngineCollectTest, PlaceholderFoldersAreWalkedLinksAreNot)
{
    CTempTree t;
    CString src = t.Path(L"src");
    for (const wchar_t* name : {L"cloud", L"dedup", L"junction", L"link", L"untagged"}) {
        MakeFolders(src + L"\\" + name);
        WriteFileBytes(src + L"\\" + name + L"\\f.txt", "x");
    }
    CUseTestFind useTestFind;
    s_placeholders = {{L"cloud", 0x9000601A}, {L"dedup", 0x80000013}, {L"junction", IO_REPARSE_TAG_MOUNT_POINT},
                      {L"link", IO_REPARSE_TAG_SYMLINK}, {L"untagged", 0}};
    CBackUpEngine engine;
    engine.CollectBackUpFiles(src, t.Path(L"dst\\VEZORI"));
    std::vector<CString> got(engine.m_arrFiles.GetData(), engine.m_arrFiles.GetData() + engine.m_arrFiles.GetSize());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<CString>{src + L"\\cloud\\f.txt", src + L"\\dedup\\f.txt"}));
    engine.Reset();
    engine.CollectFolderFiles(src);
    EXPECT_EQ(engine.m_arrFiles.GetSize(), 2);
}

// Names an ordinary path would change or refuse are listed and selected as they are.
TEST(EngineCollectTest, NamesOrdinaryPathsAlterAreCollected)
{
    CTempTree t;
    CString src = t.Path(L"src");
    CString longFolder = src;
    while (longFolder.GetLength() < MAX_PATH + 20)
        longFolder += L"\\a folder name of some length";
    ASSERT_TRUE(CreateDirectoryW(ExtendedPath(src), nullptr));
    for (int pos = longFolder.Find(L'\\', src.GetLength() + 1); pos > 0; pos = longFolder.Find(L'\\', pos + 1))
        CreateDirectoryW(ExtendedPath(longFolder.Left(pos)), nullptr);
    ASSERT_TRUE(CreateDirectoryW(ExtendedPath(longFolder), nullptr));
    const std::vector<CString> names{L"foo.", L"aux", L"con.txt", L"trailing "};
    auto write = [](const CString& path) {
        HANDLE h = CreateFileW(ExtendedPath(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD n = 0;
        WriteFile(h, "12", 2, &n, nullptr);
        CloseHandle(h);
    };
    for (const CString& name : names)
        write(src + L"\\" + name);
    write(longFolder + L"\\deep.txt");
    CBackUpEngine engine;
    CCapturedFailList fails;
    engine.m_pFailList = &fails;
    engine.CollectBackUpFiles(src, t.Path(L"dst\\VEZORI"));
    for (const CString& name : names)
        engine.CollectBackUpFiles(src + L"\\" + name, t.Path(L"dst\\VEZORI"));
    engine.CollectBackUpFiles(longFolder + L"\\deep.txt", t.Path(L"dst\\VEZORI"));
    EXPECT_TRUE(fails.lines.empty()) << CStringA(fails.lines.empty() ? CString() : fails.lines[0]).GetString();
    EXPECT_EQ(engine.m_nTotalFiles, 10);
    EXPECT_EQ(engine.m_nTotalBytes, 20u);
    // The tree's own removal takes ordinary paths: these go first.
    for (const CString& name : names)
        DeleteFileW(ExtendedPath(src + L"\\" + name));
    DeleteFileW(ExtendedPath(longFolder + L"\\deep.txt"));
    for (CString folder = longFolder; folder.GetLength() > src.GetLength();
         folder = folder.Left(folder.ReverseFind(L'\\')))
        RemoveDirectoryW(ExtendedPath(folder));
}
