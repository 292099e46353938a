// The file-management tree: renaming files and folders with its checks, drive labels,
// opening by double click, the shell's context menu, expansion and the shell nodes.
#include <gtest/gtest.h>

#include "ManageTreeCtrl.h"
#include "TreeShared.h"
#include "shell_double.h"
#include "tree_fixture.h"
#include "wintest_util.h"

#include <string>

namespace {

std::wstring W(const CString& s) { return std::wstring(s.GetString()); }

class CManageTreeTest : public ::testing::Test {
protected:
    CShellDouble shell;
    CTempFolder temp;
    CHostWnd host;
    CManageTreeCtrl tree, tree2;
    HTREEITEM root = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        ASSERT_TRUE(host.CreateHost(0, 0, 820, 600));
        DWORD style = WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_EDITLABELS |
                      TVS_SHOWSELALWAYS;
        ASSERT_TRUE(tree.Create(style, CRect(0, 0, 400, 590), &host, 1008));
        ASSERT_TRUE(tree2.Create(style, CRect(410, 0, 810, 590), &host, 1009));
        g_hManageTreeWnd = tree.m_hWnd;
        g_hManageTree2Wnd = tree2.m_hWnd;
        root = tree.m_hRootItem = tree.InsertItem(L"Computer");
        tree2.m_hRootItem = tree2.InsertItem(L"Computer");
    }
    void TearDown() override
    {
        g_hManageTreeWnd = g_hManageTree2Wnd = nullptr;
        host.DestroyWindow();
        ::OleUninitialize();
    }
    // The item of a path, its parent folder listed by the tree itself.
    HTREEITEM Item(const CString& path) { return TreeItemForPath(tree, root, path); }
    HTREEITEM Drive(CManageTreeCtrl& t, const CString& text, DWORD_PTR data)
    {
        HTREEITEM h = t.InsertItem(TVIF_TEXT | TVIF_PARAM, text, 0, 0, 0, 0, (LPARAM)data, t.m_hRootItem, TVI_LAST);
        t.InsertTempChildItem(h);
        return h;
    }
};

// ---------------------------------------------------------------------------------------

TEST_F(CManageTreeTest, RenameChecksKeepARenameFromBecomingAMoveOrAnOverwrite)
{
    CString a = temp.MakeFile(L"a.txt", "a");
    temp.MakeFile(L"b.txt", "b");
    temp.MakeFolder(L"dir");
    CString out;
    EXPECT_EQ(RENAME_OK, CManageTreeCtrl::CheckRename(a + L"\\", L"c.txt", out));
    EXPECT_EQ(W(temp / L"c.txt"), W(out));
    EXPECT_EQ(RENAME_OK, CManageTreeCtrl::CheckRename(a, L"A.TXT", out));  // a change of case
    EXPECT_EQ(RENAME_UNCHANGED, CManageTreeCtrl::CheckRename(a, L"a.txt", out));
    EXPECT_EQ(RENAME_EXISTS, CManageTreeCtrl::CheckRename(a, L"B.txt", out));
    EXPECT_EQ(RENAME_EXISTS, CManageTreeCtrl::CheckRename(a, L"dir", out));
    for (const wchar_t* bad : {L"", L"   ", L".", L".."})
        EXPECT_EQ(RENAME_EMPTY, CManageTreeCtrl::CheckRename(a, bad, out)) << W(bad);
    for (const wchar_t* bad : {L"..\\up.txt", L"dir\\in.txt", L"x/y", L"C:evil", L"a*b", L"a?", L"q\"", L"<x>", L"p|q",
                               L"dots."})
        EXPECT_EQ(RENAME_BAD_CHARACTER, CManageTreeCtrl::CheckRename(a, bad, out)) << W(bad);
    EXPECT_EQ(RENAME_TOO_LONG, CManageTreeCtrl::CheckRename(a, CString(L'n', 255), out));
    EXPECT_EQ(RENAME_NO_PATH, CManageTreeCtrl::CheckRename(L"C:\\", L"x", out));
    EXPECT_EQ(RENAME_NO_PATH, CManageTreeCtrl::CheckRename(L"Phone\\a.txt", L"x", out));
    EXPECT_TRUE(out.IsEmpty());
}

TEST_F(CManageTreeTest, RenamingAFileGoesThroughTheShellAndRelistsItsFolder)
{
    CString a = temp.MakeFile(L"a.txt", "payload");
    temp.MakeFile(L"taken.txt", "keep");
    HTREEITEM hFolder = Item(temp.Path());
    tree.ListFolder(hFolder, temp.Path());
    HTREEITEM hA = FindChild(tree, hFolder, L"a.txt");
    ASSERT_NE(nullptr, hA);

    // The exact operation: the old path and the new one, no questions, undo kept.
    shell.forwardFileOps = false;
    CString strEdit;
    ASSERT_TRUE(tree.BeginEdit(hA, strEdit));
    EXPECT_EQ(CString(L"a.txt"), strEdit);
    EXPECT_TRUE(tree.EndEdit(hA, L"b.txt"));
    ASSERT_EQ(1u, shell.fileOps.size());
    EXPECT_EQ((UINT)FO_RENAME, shell.fileOps[0].wFunc);
    EXPECT_EQ(W(a), shell.fileOps[0].from);
    EXPECT_EQ(W(temp / L"b.txt"), shell.fileOps[0].to);
    EXPECT_EQ(0x50, shell.fileOps[0].flags);
    Pump(50);

    // For real: the file has its new name and the tree, after the edit, shows it.
    shell.forwardFileOps = true;
    shell.fileOps.clear();
    hA = FindChild(tree, hFolder, L"a.txt");
    ASSERT_NE(nullptr, hA);
    ASSERT_TRUE(tree.BeginEdit(hA, strEdit));
    EXPECT_TRUE(tree.EndEdit(hA, L"  b.txt "));
    EXPECT_EQ("payload", ReadBytes(temp / L"b.txt"));
    EXPECT_FALSE(FileExists(a));
    EXPECT_NE(nullptr, FindChild(tree, hFolder, L"a.txt"));  // not inside the edit
    Pump(100);
    EXPECT_EQ(nullptr, FindChild(tree, hFolder, L"a.txt"));
    EXPECT_NE(nullptr, FindChild(tree, hFolder, L"b.txt"));

    // Refused names never reach the shell, and nothing is overwritten.
    HTREEITEM hB = FindChild(tree, hFolder, L"b.txt");
    for (const wchar_t* refused : {L"taken.txt", L"..\\b.txt", L"TAKEN.TXT", (const wchar_t*)nullptr}) {
        ASSERT_TRUE(tree.BeginEdit(hB, strEdit));
        EXPECT_FALSE(tree.EndEdit(hB, refused));
    }
    // An end without its beginning (a second notification) does nothing.
    EXPECT_FALSE(tree.EndEdit(hB, L"other.txt"));
    EXPECT_TRUE(shell.fileOps.size() == 1);
    EXPECT_EQ("keep", ReadBytes(temp / L"taken.txt"));
    EXPECT_EQ("payload", ReadBytes(temp / L"b.txt"));

    // The user's abort is no success.
    shell.forwardFileOps = false;
    shell.fileOpAborted = true;
    ASSERT_TRUE(tree.BeginEdit(hB, strEdit));
    EXPECT_FALSE(tree.EndEdit(hB, L"c.txt"));
}

TEST_F(CManageTreeTest, DriveLabelsAreWrittenOnlyWhenChangedAndShowInBothTrees)
{
    HTREEITEM hData = Drive(tree, L"DATA (C:)", (DWORD_PTR)L'C' << 8);
    Drive(tree2, L"DATA (C:)", (DWORD_PTR)L'C' << 8);
    shell.displayNames.push_back({L"C:\\", L"BACKUP (C:)"});

    // The real edit: the editor offers the label without "(C:)" and takes at most 10.
    tree.SetFocus();
    HWND hEdit = tree.EditLabel(hData);
    ASSERT_NE(nullptr, hEdit);
    wchar_t sz[64] = {};
    ::GetWindowTextW(hEdit, sz, 64);
    EXPECT_STREQ(L"DATA", sz);
    EXPECT_EQ(CManageTreeCtrl::DRIVE_LABEL_LIMIT, (int)::SendMessageW(hEdit, EM_GETLIMITTEXT, 0, 0));
    ::SetWindowTextW(hEdit, L"BACKUP");
    TreeView_EndEditLabelNow(tree.m_hWnd, FALSE);
    ASSERT_EQ(1u, shell.labels.size());
    EXPECT_EQ(L"C:\\", shell.labels[0].first);
    EXPECT_EQ(L"BACKUP", shell.labels[0].second);
    Pump(100);
    EXPECT_EQ(CString(L"BACKUP (C:)"), ItemText(tree, hData));
    EXPECT_EQ(CString(L"BACKUP (C:)"), ItemText(tree2, TreeView_GetChild(tree2.m_hWnd, tree2.m_hRootItem)));

    // A slow double click on a drive without a label: "Local Disk" comes back unchanged and
    // is not written as the label.
    tree.SetItemText(hData, L"Local Disk (C:)");
    CString strEdit;
    ASSERT_TRUE(tree.BeginEdit(hData, strEdit));
    EXPECT_EQ(CString(L"Local Disk"), strEdit);
    EXPECT_FALSE(tree.EndEdit(hData, L"Local Disk"));
    EXPECT_EQ(1u, shell.labels.size());
    // Too long for the editor's limit, or refused by the system: nothing changes.
    ASSERT_TRUE(tree.BeginEdit(hData, strEdit));
    EXPECT_FALSE(tree.EndEdit(hData, L"ELEVENCHARS"));
    shell.labelResult = FALSE;
    ASSERT_TRUE(tree.BeginEdit(hData, strEdit));
    EXPECT_FALSE(tree.EndEdit(hData, L"NEW"));
    Pump(50);
    EXPECT_EQ(CString(L"Local Disk (C:)"), ItemText(tree, hData));
}

TEST_F(CManageTreeTest, DoubleClickOpensOnlyFiles)
{
    CString file = temp.MakeFile(L"doc.txt", "x");
    CString folder = temp.MakeFolder(L"folder");
    HTREEITEM hNodeItem = nullptr;
    shell.AddNode(L"Phone", 1);
    LPITEMIDLIST pidl = (LPITEMIDLIST)shell.extraChildren[0].pidl.data();
    _NODE_EXPAND* pNode = NewNodeRecord(L"Phone", 3, pidl);
    hNodeItem = tree.AddNode(pNode);

    EXPECT_FALSE(tree.OpenItem(Item(folder)));
    EXPECT_FALSE(tree.OpenItem(TreeView_GetChild(tree.m_hWnd, root)));  // the drive
    EXPECT_FALSE(tree.OpenItem(root));
    EXPECT_FALSE(tree.OpenItem(hNodeItem));
    EXPECT_TRUE(shell.launches.empty());

    // A file: through the desktop shell first, else the ordinary open.
    EXPECT_TRUE(tree.OpenItem(Item(file)));
    ASSERT_EQ(2u, shell.launches.size());
    EXPECT_EQ(L"desktop", shell.launches[0].how);
    EXPECT_EQ(L"open", shell.launches[0].verb);
    EXPECT_EQ(W(file), shell.launches[0].file);
    EXPECT_EQ(L"execute", shell.launches[1].how);
    EXPECT_EQ(W(file), shell.launches[1].file);
    shell.launches.clear();
    shell.desktopResult = S_OK;
    EXPECT_TRUE(tree.OpenItem(Item(file)));
    EXPECT_EQ(1u, shell.launches.size());

    tree.RemoveNode(pNode);
    FreeNodeRecord(pNode);
}

TEST_F(CManageTreeTest, NodesAreKnownByTheListNeverByTheirData)
{
    shell.AddNode(L"Phone", 1);
    _NODE_EXPAND* pNode = NewNodeRecord(L"Phone", 3, (LPCITEMIDLIST)shell.extraChildren[0].pidl.data());
    ASSERT_NE(nullptr, pNode);
    HTREEITEM hNode = tree.AddNode(pNode);
    EXPECT_EQ(pNode, tree.NodeOfItem(hNode));
    EXPECT_TRUE(tree.GetItemPath(hNode).IsEmpty());
    // Items under the root whose data only looks like a record or a drive: a user folder
    // listed there by a newer system, and a record address that is not in this tree's list.
    HTREEITEM hDocs = tree.InsertItem(TVIF_TEXT | TVIF_PARAM, L"Documents", 0, 0, 0, 0, 0, root, TVI_LAST);
    _NODE_EXPAND* pOther = NewNodeRecord(L"Other", 3, (LPCITEMIDLIST)shell.extraChildren[0].pidl.data());
    HTREEITEM hStray = tree.InsertItem(TVIF_TEXT | TVIF_PARAM, L"Stray", 0, 0, 0, 0, (LPARAM)pOther, root, TVI_LAST);
    EXPECT_EQ(nullptr, tree.NodeOfItem(hDocs));
    EXPECT_EQ(nullptr, tree.NodeOfItem(hStray));
    EXPECT_TRUE(tree.GetItemPath(hDocs).IsEmpty());

    // The shell menu of each: no crash, nothing chosen, nothing run.
    EXPECT_EQ(0, tree.ShowShellMenu(hNode, CPoint(100, 100)));
    EXPECT_EQ(0, tree.ShowShellMenu(hDocs, CPoint(100, 100)));
    EXPECT_EQ(0, tree.ShowShellMenu(root, CPoint(100, 100)));
    // Nodes and the root keep their names and cannot be dragged.
    CString s;
    EXPECT_FALSE(tree.BeginEdit(hNode, s));
    EXPECT_FALSE(tree.BeginEdit(root, s));
    EXPECT_FALSE(tree.EndEdit(hNode, L"Renamed"));
    EXPECT_FALSE(tree.EndEdit(root, L"Renamed"));
    EXPECT_TRUE(shell.fileOps.empty());
    EXPECT_FALSE(CTreeDropTarget::BeginDrag(tree, hNode));

    tree.RemoveNode(pNode);
    EXPECT_EQ(0, tree.m_arrNodes.GetSize());
    EXPECT_EQ(nullptr, FindChild(tree, root, L"Phone"));
    FreeNodeRecord(pNode);
    FreeNodeRecord(pOther);
}

TEST_F(CManageTreeTest, TheShellMenuOfAFileRunsTheChosenCommand)
{
    CString file = temp.MakeFile(L"menu.txt", "m");
    HTREEITEM hFolder = Item(temp.Path());
    tree.ListFolder(hFolder, temp.Path());
    HTREEITEM hFile = FindChild(tree, hFolder, L"menu.txt");
    ASSERT_NE(nullptr, hFile);
    tree.SelectItem(hFile);
    tree.SetFocus();

    LONG_PTR proc = ::GetWindowLongPtrW(tree.m_hWnd, GWLP_WNDPROC);
    // Nothing chosen: nothing runs.
    EXPECT_EQ(0, tree.ShowShellMenu(hFile, CPoint(50, 50)));
    ASSERT_FALSE(shell.menuTexts.empty()) << "the shell gave no menu";
    // A harmless command of the shell's own menu runs through the shell.
    shell.menuChoice = L"Copy";
    EXPECT_EQ(1, tree.ShowShellMenu(hFile, CPoint(50, 50)));
    EXPECT_EQ(nullptr, g_pContextMenuTree);  // the window procedure is the tree's again
    EXPECT_EQ(proc, ::GetWindowLongPtrW(tree.m_hWnd, GWLP_WNDPROC));

    // Where the shell offers rename, it is the tree's own label edit.
    bool bOffered = false;
    for (const std::wstring& t : shell.menuTexts)
        bOffered = bOffered || t.find(L"Rename") != std::wstring::npos;
    if (bOffered) {
        shell.menuChoice = L"Rename";
        tree.ShowShellMenu(hFile, CPoint(50, 50));
        EXPECT_NE(nullptr, tree.GetEditControl());
        TreeView_EndEditLabelNow(tree.m_hWnd, TRUE);
    }
    EXPECT_EQ("m", ReadBytes(file));
}

TEST_F(CManageTreeTest, ExpandingListsOnceAndAReaderWithoutAMediumIsAskedAgain)
{
    temp.MakeFile(L"one.txt", "1");
    temp.MakeFolder(L"sub");
    HTREEITEM hFolder = Item(temp.Path());
    tree.InsertTempChildItem(hFolder);
    tree.Expand(hFolder, TVE_EXPAND);
    EXPECT_EQ(2, CountChildren(tree, hFolder));
    EXPECT_NE(nullptr, FindChild(tree, hFolder, L"one.txt"));
    HTREEITEM hSub = FindChild(tree, hFolder, L"sub");
    ASSERT_NE(nullptr, hSub);
    EXPECT_TRUE(tree.IsPlaceholderItem(tree.GetChildItem(hSub)));  // folders wait for their turn

    // A drive whose volume has no file system: stays closed with its placeholder, and is
    // listed once a medium is there.
    HTREEITEM hReader = Drive(tree2, L"Reader (C:)", ((DWORD_PTR)L'C' << 8) + 2);
    shell.noFileSystem = L"C";
    tree2.Expand(hReader, TVE_EXPAND);
    EXPECT_FALSE(tree2.GetItemState(hReader, TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_TRUE(tree2.IsPlaceholderItem(tree2.GetChildItem(hReader)));
    shell.noFileSystem.clear();
    tree2.Expand(hReader, TVE_EXPAND);
    EXPECT_TRUE(tree2.GetItemState(hReader, TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_FALSE(tree2.IsPlaceholderItem(tree2.GetChildItem(hReader)));
    EXPECT_EQ(((DWORD_PTR)L'C' << 8), tree2.GetItemData(hReader));
}

TEST(NodeRecords, SizesAreComparedBeforeBytes)
{
    const BYTE shortList[] = {4, 0, 'A', 'B', 0, 0};
    const BYTE longList[] = {4, 0, 'A', 'B', 4, 0, 'C', 'D', 0, 0};
    LONG before = NodeRecordsAlive();
    _NODE_EXPAND* a = NewNodeRecord(L"a", 1, (LPCITEMIDLIST)shortList);
    _NODE_EXPAND* b = NewNodeRecord(L"b", 1, (LPCITEMIDLIST)longList);
    _NODE_EXPAND* c = NewNodeRecord(L"c", 2, (LPCITEMIDLIST)shortList);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(6, a->nPidlSize);
    EXPECT_EQ(10, b->nPidlSize);
    EXPECT_FALSE(SameNode(a, b));  // a prefix of b, but not the same node
    EXPECT_FALSE(SameNode(b, a));
    EXPECT_TRUE(SameNode(a, c));
    EXPECT_NE((void*)a->pidl, (void*)shortList);  // a copy of its own
    EXPECT_EQ(before + 3, NodeRecordsAlive());
    FreeNodeRecord(a);
    FreeNodeRecord(b);
    FreeNodeRecord(c);
    EXPECT_EQ(before, NodeRecordsAlive());
}

} // namespace
