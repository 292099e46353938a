// Collection of backup and restore file lists: filters, system folders, links, odd paths.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BackUpEngine.h"
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
