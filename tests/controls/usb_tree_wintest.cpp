// The destination tree on a drive letter standing for a private folder: only the store below
// the drive root, the restore list, the delete command kept inside the store, the device choice
// shared with the source tree, the device tooltip and handles forgotten with their items.

#include "BackUpTreeCtrl.h"
#include "DataFiles.h"
#include "USBDevice.h"
#include "UsbTreeCtrl.h"
#include "tree_test_support.h"

#include <gtest/gtest.h>

#include <memory>

using namespace treetest;

namespace {

class DestTreeTest : public ::testing::Test {
protected:
    CTempDir m_app{L"uapp"};
    CString m_strDrive;   // the folder behind the test drive
    CString m_strRoot;    // the test drive's root, "R:\"
    CTreeImageLists m_lists;
    CFakeShell m_shell;
    CReportSink m_reports;
    CTreeHost m_host;
    std::unique_ptr<CUsbTreeCtrl> m_dest;
    std::unique_ptr<CBackUpTreeCtrl> m_source;

    void SetUp() override
    {
        g_strAppDir = m_app.Path() + L"\\";
        g_strUserName = L"user";
        MakeFolder(m_app / L"user");
        const CMappedDrive* pDrive = FreshDrive(L'R', &m_strDrive);
        ASSERT_NE(nullptr, pDrive) << "no drive letter can stand for a temporary folder here";
        m_strRoot = pDrive->Root();
        const wchar_t* folders[] = {L"VEZORI", L"VEZORI\\C", L"VEZORI\\C\\Data", L"VEZORI\\C\\Mixed",
                                    L"VEZORI\\C\\a", L"Other"};
        for (const wchar_t* f : folders)
            ASSERT_TRUE(MakeFolder(m_strDrive + L"\\" + f));
        const wchar_t* files[] = {L"VEZORI\\C\\Data\\f.txt", L"VEZORI\\C\\Mixed\\g.txt", L"VEZORI\\C\\Mixed\\h.txt",
                                  L"VEZORI\\C\\a.txt", L"loose.txt"};
        for (const wchar_t* f : files)
            ASSERT_TRUE(WriteBytes(m_strDrive + L"\\" + f, "x"));
        m_shell.displayNames[W(L"")] = (L"(" + Drive() + L") Backup").str();
        m_shell.fileSystems[W(L"")] = L"NTFS";
        m_shell.displayNames[W(L"VEZORI\\C\\A.TXT")] = L"a";   // extensions hidden
        ASSERT_TRUE(m_host.CreateHost());
        const DWORD style = WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_CHECKBOXES;
        m_source = std::make_unique<CBackUpTreeCtrl>();
        ASSERT_TRUE(m_source->Create(style, CRect(0, 0, 340, 480), &m_host, 1031));
        m_source->AttachImageLists();
        m_dest = std::make_unique<CUsbTreeCtrl>();
        ASSERT_TRUE(m_dest->Create(style, CRect(350, 0, 690, 480), &m_host, 1032));
        m_dest->AttachImageLists();
        g_hSourceTreeWnd = m_source->m_hWnd;
        g_hDestTreeWnd = m_dest->m_hWnd;
        m_source->InsertComputerItem();
        m_dest->ShowDriveRoot(Drive());
    }

    // A path on the test drive, relative to its root.
    CString P(const wchar_t* pszRel) const { return m_strRoot + pszRel; }
    std::wstring W(const wchar_t* pszRel) const { return P(pszRel).str(); }
    std::string A(const wchar_t* pszRel) const { return CStringA(P(pszRel)).str(); }
    CString Drive() const { return m_strRoot.Left(2); }

    void TearDown() override
    {
        if (m_dest && m_dest->m_hWnd)
            m_dest->DestroyWindow();
        if (m_source && m_source->m_hWnd)
            m_source->DestroyWindow();
        g_hSourceTreeWnd = g_hDestTreeWnd = nullptr;
        if (m_host.m_hWnd)
            m_host.DestroyWindow();
        g_arrUSBDevice.RemoveAll();
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }

    HTREEITEM Open(const CString& strPath)
    {
        // Walk from the drive root, expanding on the way.
        return OpenTreePath(*m_dest, m_dest->GetDriveRootItem(), P(L""), strPath);
    }

    std::vector<CString> TopTexts(CTreeCtrl& tree)
    {
        std::vector<CString> out;
        for (HTREEITEM h = tree.GetRootItem(); h; h = tree.GetNextSiblingItem(h))
            out.push_back(tree.GetItemText(h));
        return out;
    }
};

} // namespace

TEST_F(DestTreeTest, ShowsOnlyTheStoreBelowTheDriveRoot)
{
    HTREEITEM hRoot = m_dest->GetDriveRootItem();
    ASSERT_NE(nullptr, hRoot);
    EXPECT_EQ(L"(" + Drive() + L") Backup", m_dest->GetItemText(hRoot));
    EXPECT_EQ(P(L""), m_dest->GetItemPath(hRoot));
    HTREEITEM hStore = m_dest->GetChildItem(hRoot);
    ASSERT_NE(nullptr, hStore);
    EXPECT_EQ(CString(L"VEZORI"), m_dest->GetItemText(hStore));
    EXPECT_EQ(nullptr, m_dest->GetNextSiblingItem(hStore));

    // Entries created in the drive root are not shown; the store's folders are, once.
    ASSERT_TRUE(WriteBytes(P(L"new.txt"), "n"));
    EXPECT_EQ(0, m_dest->AddSelPath(P(L"new.txt")));
    EXPECT_EQ(0, m_dest->AddSelPath(P(L"Other")));
    EXPECT_EQ(nullptr, m_dest->GetNextSiblingItem(hStore));
    HTREEITEM hC = Open(P(L"VEZORI\\C"));
    ASSERT_NE(nullptr, hC);
    m_dest->Expand(hC, TVE_EXPAND);
    ASSERT_TRUE(MakeFolder(P(L"VEZORI\\C\\Later")));
    EXPECT_EQ(1, m_dest->AddSelPath(P(L"VEZORI\\C\\Later")));
    EXPECT_EQ(0, m_dest->AddSelPath(P(L"VEZORI\\C\\Later")));
    EXPECT_NE(nullptr, m_dest->FindListedItem(P(L"VEZORI\\C\\Later")));
    // Paths are compared exactly here, letter case included.
    BOOL bUnlisted = FALSE;
    EXPECT_EQ(nullptr, m_dest->FindItemByPath(L"r:\\vezori\\c", bUnlisted));
    EXPECT_EQ(1, m_dest->RemoveSelPath(P(L"VEZORI\\C\\Later")));
    EXPECT_EQ(nullptr, m_dest->FindListedItem(P(L"VEZORI\\C\\Later")));
    // Item texts are file names even where the shell shows another name.
    EXPECT_NE(nullptr, m_dest->FindListedItem(P(L"VEZORI\\C\\a.txt")));

    // Another drive replaces the root; an empty path only removes it.
    m_dest->ShowDriveRoot(L"");
    EXPECT_EQ(nullptr, m_dest->GetDriveRootItem());
    EXPECT_TRUE(m_dest->m_strRootPath.IsEmpty());
    // A volume without a file system shows its root fixed.
    m_shell.fileSystems[W(L"")] = L"";
    m_dest->ShowDriveRoot(P(L""));
    ASSERT_NE(nullptr, m_dest->GetDriveRootItem());
    EXPECT_EQ(P(L""), m_dest->m_strRootPath);
    EXPECT_EQ(TCS_FIXED, m_dest->GetCheck(m_dest->GetDriveRootItem()));
    EXPECT_EQ(1, m_dest->ClickStateIcon(m_dest->GetChildItem(m_dest->GetDriveRootItem())));
    EXPECT_EQ(TCS_FIXED, m_dest->GetCheck(m_dest->GetChildItem(m_dest->GetDriveRootItem())));
}

// The copy engine's own folder in the store holds nothing of the user's and is never shown; a
// user's folder of that name below a drive folder is.
TEST_F(DestTreeTest, EnginesFolderInTheStoreIsNotShown)
{
    ASSERT_TRUE(MakeFolder(P(L"VEZORI\\~ZUL.work")));
    ASSERT_TRUE(MakeFolder(P(L"VEZORI\\C\\~ZUL.work")));
    HTREEITEM hStore = Open(P(L"VEZORI"));
    ASSERT_NE(nullptr, hStore);
    m_dest->Expand(hStore, TVE_EXPAND);
    std::vector<CString> texts;
    for (HTREEITEM h = m_dest->GetChildItem(hStore); h; h = m_dest->GetNextSiblingItem(h))
        texts.push_back(m_dest->GetItemText(h));
    EXPECT_EQ(std::vector<CString>{L"C"}, texts);
    EXPECT_EQ(0, m_dest->AddSelPath(P(L"VEZORI\\~ZUL.work")));
    EXPECT_NE(nullptr, Open(P(L"VEZORI\\C\\~ZUL.work")));
}

TEST_F(DestTreeTest, RestoreListHoldsExactlyTheCheckedItems)
{
    m_dest->ClickStateIcon(Open(P(L"VEZORI\\C\\Data")));
    m_dest->ClickStateIcon(Open(P(L"VEZORI\\C\\Mixed\\g.txt")));
    EXPECT_EQ(TCS_MIXED, m_dest->GetCheck(Open(P(L"VEZORI\\C\\Mixed"))));
    EXPECT_EQ(TCS_MIXED, m_dest->GetCheck(m_dest->GetDriveRootItem()));
    EXPECT_FALSE(FileExists(m_app / L"restoreTempPath.xml"));   // nothing is written on a click
    m_dest->m_bRestoreMode = 1;
    m_dest->SetListFile(L"restoreTempPath.xml");
    ASSERT_TRUE(m_dest->SaveSelection());
    EXPECT_EQ("<filepath>\r\n<path path=\"" + A(L"VEZORI\\C\\Data") + "\"/>\r\n<path path=\"" +
                  A(L"VEZORI\\C\\Mixed\\g.txt") + "\"/>\r\n</filepath>\r\n",
              ReadBytes(m_app / L"restoreTempPath.xml"));

    // Everything checked: the drive root takes the common image, the list names the store.
    m_dest->ClickStateIcon(Open(P(L"VEZORI")));   // mixed -> checked
    EXPECT_EQ(TCS_CHECKED, m_dest->GetCheck(m_dest->GetDriveRootItem()));
    ASSERT_TRUE(m_dest->SaveSelection());
    EXPECT_EQ("<filepath>\r\n<path path=\"" + A(L"VEZORI") + "\"/>\r\n</filepath>\r\n",
              ReadBytes(m_app / L"restoreTempPath.xml"));

    // A list that cannot be written stops the restore and is reported.
    HANDLE hHold = ::CreateFileW(m_app / L"restoreTempPath.xml", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHold);
    EXPECT_FALSE(m_dest->SaveSelection());
    ::CloseHandle(hHold);
    EXPECT_EQ(1u, m_reports.files.size());
    // The user's own selection files are never touched by this tree.
    EXPECT_FALSE(FileExists(JoinPath(GetDataFolder(), kTreePathFile)));
    EXPECT_FALSE(FileExists(JoinPath(GetDataFolder(), kFullPathFile)));
}

TEST_F(DestTreeTest, DeleteStaysInsideTheStore)
{
    m_shell.bPerformDeletes = true;
    HTREEITEM hFile = Open(P(L"VEZORI\\C\\a.txt"));
    ASSERT_NE(nullptr, hFile);
    EXPECT_TRUE(m_dest->DeleteItemFiles(hFile));
    ASSERT_EQ(1u, m_shell.deletedLists.size());
    EXPECT_EQ(W(L"VEZORI\\C\\a.txt"), m_shell.deletedLists[0]);
    EXPECT_FALSE(FileExists(P(L"VEZORI\\C\\a.txt")));
    EXPECT_TRUE(FileExists(P(L"VEZORI\\C\\a")));   // the folder beside it is untouched

    // Nothing is offered for the drive root, a path gone already, or a path outside the store.
    EXPECT_TRUE(m_dest->GetDeletablePath(m_dest->GetDriveRootItem()).IsEmpty());
    EXPECT_FALSE(m_dest->DeleteItemFiles(hFile));   // its file is gone
    HTREEITEM hLoose = m_dest->InsertItem(L"loose.txt", m_dest->GetDriveRootItem());
    EXPECT_EQ(CString(P(L"loose.txt\\")), m_dest->GetItemPath(hLoose));
    EXPECT_FALSE(m_dest->DeleteItemFiles(hLoose));
    EXPECT_TRUE(FileExists(P(L"loose.txt")));

    // A path longer than the old fixed buffer: no shorter path that happens to exist is deleted.
    HTREEITEM hC = Open(P(L"VEZORI\\C"));
    CString strPrefixName(L'x', MAX_PATH - 1 - 12);   // "R:\VEZORI\C\" + this is 259 characters
    ASSERT_TRUE(MakeFolder(P(L"VEZORI\\C\\") + strPrefixName));
    HTREEITEM hLong = m_dest->InsertItem(CString(L'x', 300 - 12), hC);
    EXPECT_GE(m_dest->GetItemPath(hLong).GetLength(), 300);
    EXPECT_TRUE(m_dest->GetDeletablePath(hLong).IsEmpty());
    EXPECT_FALSE(m_dest->DeleteItemFiles(hLong));
    EXPECT_EQ(1u, m_shell.deletedLists.size());
    EXPECT_TRUE(FileExists(P(L"VEZORI\\C\\") + strPrefixName));

    // The right-click menu: offered inside the store only, acting only on its command.
    HTREEITEM hG = Open(P(L"VEZORI\\C\\Mixed\\g.txt"));
    m_dest->ShowDeleteMenu(m_dest->GetDriveRootItem(), CPoint(10, 10));
    EXPECT_EQ(0, m_shell.nMenusShown);
    m_dest->ShowDeleteMenu(hG, CPoint(10, 10));   // dismissed
    EXPECT_EQ(1, m_shell.nMenusShown);
    EXPECT_EQ(1u, m_shell.deletedLists.size());
    m_shell.nMenuChoice = CUsbTreeCtrl::ID_DELETE_SELECTED;
    m_dest->ShowDeleteMenu(hG, CPoint(10, 10));
    EXPECT_EQ(W(L"VEZORI\\C\\Mixed\\g.txt"), m_shell.deletedLists.back());

    // A folder of the store goes whole, named exactly.
    HTREEITEM hData = Open(P(L"VEZORI\\C\\Data"));
    EXPECT_EQ(CString(P(L"VEZORI\\C\\Data")), m_dest->GetDeletablePath(hData));
    EXPECT_TRUE(m_dest->DeleteItemFiles(hData));
    EXPECT_EQ(W(L"VEZORI\\C\\Data"), m_shell.deletedLists.back());
}

TEST_F(DestTreeTest, DeviceChoiceIsSharedWithTheSourceTree)
{
    HTREEITEM hS2 = m_source->InsertDeviceItem(2, L"Disk( 2 )", TCS_UNCHECKED);
    HTREEITEM hS3 = m_source->InsertDeviceItem(3, L"Disk( 3 )", TCS_UNCHECKED);
    HTREEITEM hD2 = m_dest->InsertDeviceItem(2, L"Disk( 2 )", TCS_UNCHECKED);
    HTREEITEM hD3 = m_dest->InsertDeviceItem(3, L"Disk( 3 )", TCS_UNCHECKED);
    EXPECT_EQ(CString(L"Disk( 2 )\\"), m_dest->GetItemPath(hD2));

    // Choosing a disk in the destination tree clears the checks below the drive root and fixes
    // the same disk in the source tree; a second click releases both.
    m_dest->ClickStateIcon(Open(P(L"VEZORI\\C\\Data")));
    EXPECT_EQ(1, m_dest->ClickStateIcon(hD2));
    EXPECT_EQ(TCS_CHECKED, m_dest->GetCheck(hD2));
    EXPECT_EQ(2, m_dest->m_nChosenDevice);
    EXPECT_EQ(TCS_UNCHECKED, m_dest->GetCheck(Open(P(L"VEZORI\\C\\Data"))));
    EXPECT_EQ(TCS_UNCHECKED, m_dest->GetCheck(m_dest->GetDriveRootItem()));
    EXPECT_EQ(TCS_FIXED, m_source->GetCheck(hS2));
    EXPECT_EQ(hS2, m_source->m_hFixedDeviceItem);
    EXPECT_EQ(1, m_source->ClickStateIcon(hS2));   // fixed: nothing happens
    EXPECT_EQ(TCS_FIXED, m_source->GetCheck(hS2));
    m_dest->ClickStateIcon(hD2);
    EXPECT_EQ(TCS_UNCHECKED, m_dest->GetCheck(hD2));
    EXPECT_EQ(TCS_UNCHECKED, m_source->GetCheck(hS2));
    EXPECT_EQ(nullptr, m_source->m_hFixedDeviceItem);
    EXPECT_EQ(-1, m_dest->m_nChosenDevice);

    // Choosing another disk in the source tree releases the first in both trees.
    m_source->ClickStateIcon(hS3);
    EXPECT_EQ(TCS_FIXED, m_dest->GetCheck(hD3));
    m_source->ClickStateIcon(hS2);
    EXPECT_EQ(TCS_UNCHECKED, m_source->GetCheck(hS3));
    EXPECT_EQ(TCS_UNCHECKED, m_dest->GetCheck(hD3));
    EXPECT_EQ(TCS_FIXED, m_dest->GetCheck(hD2));
    EXPECT_EQ(2, m_source->m_nChosenDevice);
    // A click on any other check box releases the choice in both trees.
    m_source->ClickStateIcon(m_source->m_hRootItem);
    EXPECT_EQ(TCS_UNCHECKED, m_source->GetCheck(hS2));
    EXPECT_EQ(TCS_UNCHECKED, m_dest->GetCheck(hD2));
    EXPECT_EQ(nullptr, m_dest->m_hFixedDeviceItem);
    EXPECT_EQ(-1, m_source->m_nChosenDevice);

    // Handles of deleted items are forgotten.
    m_source->ClickStateIcon(hS3);
    ASSERT_EQ(hD3, m_dest->m_hFixedDeviceItem);
    m_dest->DeleteItem(hD3);
    EXPECT_EQ(nullptr, m_dest->m_hFixedDeviceItem);
    m_source->DeleteTreeItem(hS3);
    EXPECT_EQ(nullptr, m_source->m_hChosenDeviceItem);
    EXPECT_EQ(-1, m_source->m_nChosenDevice);
}

TEST_F(DestTreeTest, DeviceTooltipUsesTheDeviceListOnly)
{
    CUSBDevice disk;
    disk.m_nDeviceNumber = 2;
    disk.m_strDriveLetters = L"R: S: ";
    disk.m_geometry.Cylinders.QuadPart = 1000;
    disk.m_geometry.TracksPerCylinder = 255;
    disk.m_geometry.SectorsPerTrack = 63;
    disk.m_geometry.BytesPerSector = 512;
    g_arrUSBDevice.Add(disk);
    m_dest->m_strTipDriveCaption = L"partitions:";
    m_dest->m_strTipSizeCaption = L"size:";
    HTREEITEM hD2 = m_dest->InsertDeviceItem(2, L"Disk( 2 )", TCS_UNCHECKED);
    HTREEITEM hD9 = m_dest->InsertDeviceItem(9, L"Disk( 9 )", TCS_UNCHECKED);
    LONG nBefore = g_nScsiCommandCount;
    m_dest->UpdateHoverTip(hD2);
    EXPECT_EQ(hD2, m_dest->m_hHoverItem);
    EXPECT_EQ(CString(L"partitions:R: S: \r\nsize:7.66G"), m_dest->m_strHoverTip);
    EXPECT_EQ(nBefore, g_nScsiCommandCount);
    m_dest->UpdateHoverTip(hD9);   // no such disk: no text
    EXPECT_TRUE(m_dest->m_strHoverTip.IsEmpty());
    m_dest->UpdateHoverTip(m_dest->GetDriveRootItem());
    EXPECT_TRUE(m_dest->m_strHoverTip.IsEmpty());
    m_dest->UpdateHoverTip(hD2);
    // The hovered item deleted: the handle goes with it.
    m_dest->DeleteItem(hD2);
    EXPECT_EQ(nullptr, m_dest->m_hHoverItem);
    m_dest->UpdateHoverTip(nullptr);
    EXPECT_EQ(nullptr, m_dest->m_hHoverItem);
    // The space key is not swallowed here.
    MSG msg = {m_dest->m_hWnd, WM_KEYDOWN, VK_SPACE, 0, 0, {}};
    EXPECT_FALSE(m_dest->PreTranslateMessage(&msg));
}
