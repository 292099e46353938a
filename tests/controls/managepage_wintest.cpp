// The file-management page: both trees filled alike from the computer folder, only drives
// and path-less nodes listed, the nodes kept in step with the system, each record freed
// once, the layout and the drop targets.
#include <gtest/gtest.h>

#include "MangeDialog.h"
#include "TreeShared.h"
#include "shell_double.h"
#include "tree_fixture.h"
#include "wintest_util.h"

#include <string>
#include <vector>

namespace {

std::wstring W(const CString& s) { return std::wstring(s.GetString()); }

std::vector<CString> RootChildren(HWND hTree)
{
    std::vector<CString> v;
    HTREEITEM hRoot = TreeView_GetRoot(hTree);
    for (HTREEITEM h = TreeView_GetChild(hTree, hRoot); h; h = TreeView_GetNextSibling(hTree, h))
        v.push_back(ItemText(hTree, h));
    return v;
}

class CManagePageTest : public ::testing::Test {
protected:
    CShellDouble shell;
    CHostWnd host;
    LONG recordsBefore = 0;
    size_t systemNodes = 0;  // the nodes the system's own computer folder has

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        ASSERT_TRUE(host.CreateHost(0, 0, 640, 360));
        recordsBefore = NodeRecordsAlive();
        CMangeDialog page;
        ASSERT_TRUE(page.CreatePage(&host, CRect(0, 0, 542, 284)));
        systemNodes = page.Nodes().size();
    }
    void TearDown() override
    {
        host.DestroyWindow();
        ::OleUninitialize();
    }
    bool Has(const std::vector<CString>& v, const wchar_t* s)
    {
        for (const CString& x : v)
            if (x == s)
                return true;
        return false;
    }
};

TEST_F(CManagePageTest, BothTreesShowTheSameDrivesAndNodesAndNothingElse)
{
    shell.AddNode(L"Phone", 1, 5);
    shell.AddNode(L"Documents", 2, 6, L"C:\\users\\me\\Documents");  // a user folder, not a drive
    shell.AddNode(L"Camera", 3, 7);
    CMangeDialog page;
    ASSERT_TRUE(page.CreatePage(&host, CRect(0, 0, 542, 284)));
    EXPECT_EQ(page.m_tree1.m_hWnd, g_hManageTreeWnd);
    EXPECT_EQ(page.m_tree2.m_hWnd, g_hManageTree2Wnd);

    std::vector<CString> one = RootChildren(page.m_tree1), two = RootChildren(page.m_tree2);
    EXPECT_EQ(one, two);
    EXPECT_TRUE(Has(one, L"Phone"));
    EXPECT_TRUE(Has(one, L"Camera"));
    EXPECT_FALSE(Has(one, L"Documents"));
    EXPECT_EQ(page.m_tree1.GetItemText(page.m_tree1.m_hRootItem), page.m_tree2.GetItemText(page.m_tree2.m_hRootItem));
    ASSERT_EQ(systemNodes + 2, page.Nodes().size());
    EXPECT_EQ(recordsBefore + (LONG)page.Nodes().size(), NodeRecordsAlive());

    // Every other child is a drive "(X:)" whose data carries its letter; drives come by letter.
    wchar_t chLast = 0;
    for (HTREEITEM h = page.m_tree1.GetChildItem(page.m_tree1.m_hRootItem); h; h = page.m_tree1.GetNextSiblingItem(h)) {
        if (page.m_tree1.NodeOfItem(h)) {
            EXPECT_TRUE(page.m_tree1.GetItemPath(h).IsEmpty());
            continue;
        }
        CString text = page.m_tree1.GetItemText(h);
        ASSERT_GE(text.GetLength(), 4) << W(text);
        wchar_t ch = text[text.GetLength() - 3];
        EXPECT_EQ(L'(', text[text.GetLength() - 4]);
        EXPECT_EQ(ch, (wchar_t)((page.m_tree1.GetItemData(h) >> 8) & 0xFF));
        CString path = page.m_tree1.GetItemPath(h);
        EXPECT_EQ(3, path.GetLength());
        EXPECT_GT(ch, chLast);
        chLast = ch;
    }
    // Both trees hold the same records.
    for (_NODE_EXPAND* p : page.Nodes()) {
        bool b1 = false, b2 = false;
        for (INT_PTR i = 0; i < page.m_tree1.m_arrNodes.GetSize(); ++i)
            b1 = b1 || page.m_tree1.m_arrNodes[i] == p;
        for (INT_PTR i = 0; i < page.m_tree2.m_arrNodes.GetSize(); ++i)
            b2 = b2 || page.m_tree2.m_arrNodes[i] == p;
        EXPECT_TRUE(b1 && b2);
    }
    // The trees keep the child style and gain the page's.
    DWORD style = page.m_tree1.GetStyle();
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_EQ((DWORD)(TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_EDITLABELS | TVS_SHOWSELALWAYS),
              style & (TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_EDITLABELS | TVS_SHOWSELALWAYS));
    // Each tree has its drop target registered.
    EXPECT_EQ(page.m_tree1.m_hWnd, page.m_tree1.DropTarget().GetRegisteredWnd()->m_hWnd);
    EXPECT_EQ(page.m_tree2.m_hWnd, page.m_tree2.DropTarget().GetRegisteredWnd()->m_hWnd);

    // The shell menu of a node: no crash.
    HTREEITEM hPhone = FindChild(page.m_tree1, page.m_tree1.m_hRootItem, L"Phone");
    EXPECT_EQ(0, page.m_tree1.ShowShellMenu(hPhone, CPoint(100, 100)));
}

TEST_F(CManagePageTest, RefreshFollowsTheSystemAndFreesEachRecordOnce)
{
    for (BYTE tag = 1; tag <= 4; ++tag)
        shell.AddNode(std::wstring(L"Node ") + (wchar_t)(L'0' + tag), tag);
    {
        CMangeDialog page;
        ASSERT_TRUE(page.CreatePage(&host, CRect(0, 0, 542, 284)));
        ASSERT_EQ(systemNodes + 4, page.Nodes().size());

        // A node added and two adjacent ones removed.
        shell.RemoveNode(2);
        shell.RemoveNode(3);
        shell.AddNode(L"Node 5", 5);
        page.RefreshDriveTree();
        for (HWND h : {page.m_tree1.m_hWnd, page.m_tree2.m_hWnd}) {
            std::vector<CString> v = RootChildren(h);
            EXPECT_TRUE(Has(v, L"Node 1"));
            EXPECT_FALSE(Has(v, L"Node 2"));
            EXPECT_FALSE(Has(v, L"Node 3"));
            EXPECT_TRUE(Has(v, L"Node 4"));
            EXPECT_TRUE(Has(v, L"Node 5"));
        }
        const size_t n = systemNodes + 3;
        EXPECT_EQ(n, page.Nodes().size());
        EXPECT_EQ((INT_PTR)n, page.m_tree1.m_arrNodes.GetSize());
        EXPECT_EQ((INT_PTR)n, page.m_tree2.m_arrNodes.GetSize());
        EXPECT_EQ(recordsBefore + (LONG)n, NodeRecordsAlive());

        // Nothing changed: nothing moves, nothing is left allocated.
        page.RefreshDriveTree();
        EXPECT_EQ(n, page.Nodes().size());
        EXPECT_EQ(recordsBefore + (LONG)n, NodeRecordsAlive());

        // One device swapped for another: the count stays, the trees still follow.
        shell.RemoveNode(1);
        shell.AddNode(L"Node 6", 6);
        page.RefreshDriveTree();
        std::vector<CString> v = RootChildren(page.m_tree2);
        EXPECT_FALSE(Has(v, L"Node 1"));
        EXPECT_TRUE(Has(v, L"Node 6"));
        EXPECT_EQ(recordsBefore + (LONG)n, NodeRecordsAlive());

        // All gone.
        shell.extraChildren.clear();
        page.RefreshDriveTree();
        EXPECT_EQ(systemNodes, page.Nodes().size());
        EXPECT_EQ(recordsBefore + (LONG)systemNodes, NodeRecordsAlive());
        shell.AddNode(L"Node 7", 7);
        page.RefreshDriveTree();
        EXPECT_EQ(systemNodes + 1, page.Nodes().size());
    }
    // The page took its records with it.
    EXPECT_EQ(recordsBefore, NodeRecordsAlive());
    EXPECT_EQ(nullptr, g_hManageTreeWnd);
}

TEST_F(CManagePageTest, TreesSitSideBySideInsideThePage)
{
    CMangeDialog page;
    ASSERT_TRUE(page.CreatePage(&host, CRect(0, 0, 542, 284)));
    CRect r1, r2;
    page.m_tree1.GetWindowRect(&r1);
    page.m_tree2.GetWindowRect(&r2);
    page.ScreenToClient(&r1);
    page.ScreenToClient(&r2);
    EXPECT_EQ(CRect(10, 15, 10 + 251, 15 + 259), r1);
    EXPECT_EQ(CRect(291, 15, 291 + 251, 15 + 259), r2);
    CRect rc;
    page.GetClientRect(&rc);
    EXPECT_LE(r2.right, rc.right);
    EXPECT_LE(r1.bottom, rc.bottom);
}

} // namespace
