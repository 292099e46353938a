#include "MangeDialog.h"

#include "MemDC.h"
#include "SharedFunctions.h"
#include "ShellIo.h"
#include "TreeShared.h"

#include <shlobj.h>

namespace {

const DWORD kManageTreeStyle =
    WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_EDITLABELS | TVS_SHOWSELALWAYS;

// One child of the computer folder as the page sees it.
struct ComputerChild {
    enum Kind { Drive, Node, Other } kind = Other;
    CString strPath;      // "X:\" for a drive
    CString strText;      // the shell's display name
    int nIcon = 0;
    LPITEMIDLIST pidl = nullptr;  // absolute; owned
};

// The children of the computer folder in the shell's order: a drive is a child whose path is
// exactly a drive root; a node is a child without a file-system path; anything else (the
// user's folders listed there by newer systems) is of no interest here.
void EnumComputer(HWND hwndOwner, std::vector<ComputerChild>& children)
{
    std::vector<LPITEMIDLIST> pidls;
    ShellIo().EnumComputerFolder(hwndOwner, pidls);
    for (LPITEMIDLIST pidl : pidls) {
        ComputerChild c;
        c.pidl = pidl;
        wchar_t szPath[MAX_PATH] = {};
        if (!ShellIo().PathFromIDList(pidl, szPath))
            szPath[0] = 0;
        c.strPath = szPath;
        SHFILEINFOW sfi = {};
        if (ShellIo().IDListInfo(pidl, &sfi, SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
            c.strText = sfi.szDisplayName;
            c.nIcon = sfi.iIcon;
        }
        const CString& p = c.strPath;
        if (p.GetLength() == 3 && p[1] == L':' && p[2] == L'\\' &&
            ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')))
            c.kind = ComputerChild::Drive;
        else if (p.IsEmpty() && !c.strText.IsEmpty())
            c.kind = ComputerChild::Node;
        children.push_back(c);
    }
}

void FreeChildren(std::vector<ComputerChild>& children)
{
    for (ComputerChild& c : children)
        ::CoTaskMemFree(c.pidl);
    children.clear();
}

// The text of a drive item: the display name, cut after its last ")" when it runs on past
// it, and ending in "(X:)" with the drive's own letter, which the trees read paths from.
CString DriveItemText(const CString& strDisplayName, wchar_t chLetter)
{
    CString strText(strDisplayName);
    int nClose = strText.ReverseFind(L')');
    if (nClose >= 0 && nClose != strText.GetLength() - 1)
        strText = strText.Left(nClose + 1);
    CString strEnd;
    strEnd.Format(L"(%lc:)", chLetter);
    if (strText.GetLength() < 4 || strText.Right(4).CompareNoCase(strEnd) != 0)
        strText = strText.IsEmpty() ? strEnd : strText + L" " + strEnd;
    return strText;
}

} // namespace

BEGIN_MESSAGE_MAP(CMangeDialog, CDialog)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_SIZE()
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CMangeDialog::CMangeDialog() : CDialog(IDD) {}

CMangeDialog::~CMangeDialog()
{
    if (m_hWnd)
        DestroyWindow();
    ReleaseNodes();
}

BOOL CMangeDialog::CreatePage(CWnd* pPanel, const CRect& rcPage)
{
    if (!Create(IDD, pPanel))
        return FALSE;
    SetWindowPos(nullptr, rcPage.left, rcPage.top, rcPage.Width(), rcPage.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

BOOL CMangeDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_tree1.SubclassDlgItem(IDC_MANAGE_TREE1, this);
    m_tree2.SubclassDlgItem(IDC_MANAGE_TREE2, this);
    g_hManageTreeWnd = m_tree1.m_hWnd;
    g_hManageTree2Wnd = m_tree2.m_hWnd;
    if (LoadPngResource(IDB_MANAGE_PANEL, m_imgPanel))
        PremultiplyAlpha(m_imgPanel);
    FillTrees();
    m_tree1.DropTarget().Register(&m_tree1);
    m_tree2.DropTarget().Register(&m_tree2);
    LayoutTrees();
    return TRUE;
}

void CMangeDialog::FillTrees()
{
    CManageTreeCtrl* trees[2] = {&m_tree1, &m_tree2};

    CString strComputer = L"Computer";
    int nComputerIcon = 0;
    LPITEMIDLIST pidlComputer = nullptr;
    if (SUCCEEDED(::SHGetSpecialFolderLocation(m_hWnd, CSIDL_DRIVES, &pidlComputer)) && pidlComputer) {
        SHFILEINFOW sfi = {};
        if (ShellIo().IDListInfo(pidlComputer, &sfi, SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON) &&
            sfi.szDisplayName[0]) {
            strComputer = sfi.szDisplayName;
            nComputerIcon = sfi.iIcon;
        }
        ::CoTaskMemFree(pidlComputer);
    }

    for (CManageTreeCtrl* pTree : trees) {
        // The page's style joins the control's own (it stays a child).
        pTree->ModifyStyle(0, kManageTreeStyle);
        pTree->AttachImageLists();
        pTree->SetImageList(nullptr, TVSIL_STATE);  // no check boxes here
        pTree->m_hRootItem = pTree->InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, strComputer,
                                               nComputerIcon, nComputerIcon, 0, 0, 0, TVI_ROOT, TVI_LAST);
    }

    std::vector<ComputerChild> children;
    EnumComputer(m_hWnd, children);
    for (const ComputerChild& c : children) {
        if (c.kind == ComputerChild::Drive) {
            wchar_t chLetter = (wchar_t)(UINT_PTR)::CharUpperW((LPWSTR)(UINT_PTR)c.strPath[0]);
            DWORD_PTR dwData = (DWORD_PTR)chLetter << 8;
            wchar_t szFs[MAX_PATH] = {};
            if (!ShellIo().VolumeInformation(c.strPath, nullptr, 0, nullptr, nullptr, nullptr, szFs, MAX_PATH) ||
                !szFs[0])
                dwData += 2;
            CString strText = DriveItemText(c.strText, chLetter);
            for (CManageTreeCtrl* pTree : trees) {
                HTREEITEM h = pTree->InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, strText,
                                                c.nIcon, c.nIcon, 0, 0, (LPARAM)dwData, pTree->m_hRootItem, TVI_LAST);
                if (h)
                    pTree->InsertTempChildItem(h);
            }
        } else if (c.kind == ComputerChild::Node) {
            _NODE_EXPAND* pNode = NewNodeRecord(c.strText, c.nIcon, c.pidl);
            if (!pNode)
                continue;
            m_nodes.push_back(pNode);
            for (CManageTreeCtrl* pTree : trees)
                pTree->AddNode(pNode);
        }
    }
    FreeChildren(children);

    for (CManageTreeCtrl* pTree : trees) {
        pTree->SortChildren(pTree->m_hRootItem);
        pTree->Expand(pTree->m_hRootItem, TVE_EXPAND);
    }
}

void CMangeDialog::RefreshDriveTree()
{
    if (!m_hWnd)
        return;
    std::vector<ComputerChild> children;
    EnumComputer(m_hWnd, children);
    std::vector<_NODE_EXPAND*> fresh;
    for (const ComputerChild& c : children)
        if (c.kind == ComputerChild::Node)
            if (_NODE_EXPAND* p = NewNodeRecord(c.strText, c.nIcon, c.pidl))
                fresh.push_back(p);
    FreeChildren(children);

    // The nodes that went: listed now, not found any more.
    std::vector<_NODE_EXPAND*> gone;
    for (_NODE_EXPAND* pOld : m_nodes) {
        bool bFound = false;
        for (_NODE_EXPAND* pNew : fresh)
            bFound = bFound || SameNode(pOld, pNew);
        if (!bFound)
            gone.push_back(pOld);
    }
    // The nodes that came: listed from now on, in the shell's order, once each.
    for (_NODE_EXPAND* pNew : fresh) {
        bool bKnown = false;
        for (_NODE_EXPAND* pOld : m_nodes)
            bKnown = bKnown || SameNode(pOld, pNew);
        if (bKnown) {
            FreeNodeRecord(pNew);
            continue;
        }
        m_nodes.push_back(pNew);
        m_tree1.AddNode(pNew);
        m_tree2.AddNode(pNew);
    }
    for (_NODE_EXPAND* pOld : gone) {
        m_tree1.RemoveNode(pOld);
        m_tree2.RemoveNode(pOld);
        for (size_t i = 0; i < m_nodes.size(); ++i)
            if (m_nodes[i] == pOld) {
                m_nodes.erase(m_nodes.begin() + i);
                break;
            }
        FreeNodeRecord(pOld);
    }
}

void CMangeDialog::ReleaseNodes()
{
    for (_NODE_EXPAND* p : m_nodes) {
        if (m_tree1.m_hWnd)
            m_tree1.RemoveNode(p);
        if (m_tree2.m_hWnd)
            m_tree2.RemoveNode(p);
        FreeNodeRecord(p);
    }
    m_nodes.clear();
    m_tree1.m_arrNodes.RemoveAll();
    m_tree2.m_arrNodes.RemoveAll();
}

void CMangeDialog::OnMainWindowClosing()
{
    m_tree1.DropTarget().Revoke();
    m_tree2.DropTarget().Revoke();
    ReleaseNodes();
}

void CMangeDialog::OnDestroy()
{
    m_tree1.DropTarget().Revoke();
    m_tree2.DropTarget().Revoke();
    if (g_hManageTreeWnd == m_tree1.m_hWnd)
        g_hManageTreeWnd = nullptr;
    if (g_hManageTree2Wnd == m_tree2.m_hWnd)
        g_hManageTree2Wnd = nullptr;
    CDialog::OnDestroy();
}

CRect CMangeDialog::TreeRect(int nTree, int cx, int cy)
{
    int w = (cx - 10) / 2 - 15;
    // 15 pixels from the top and 10 from the bottom, so the tree's lower edge and its
    // horizontal scroll bar stay inside the page.
    int h = cy - 25;
    int x = nTree == 0 ? 10 : (cx + 10) / 2 + 15;
    return CRect(x, 15, x + w, 15 + h);
}

void CMangeDialog::LayoutTrees()
{
    if (!m_tree1.m_hWnd || !m_tree2.m_hWnd)
        return;
    CRect rc;
    GetClientRect(&rc);
    m_tree1.MoveWindow(TreeRect(0, rc.Width(), rc.Height()));
    m_tree2.MoveWindow(TreeRect(1, rc.Width(), rc.Height()));
}

void CMangeDialog::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    // The page's corners are rounded like the other pages'.
    CRect rc;
    GetWindowRect(&rc);
    HRGN hRgn = ::CreateRoundRectRgn(0, 0, rc.Width() + 1, rc.Height() + 1, 7, 7);
    if (hRgn && !SetWindowRgn(hRgn, TRUE))
        ::DeleteObject(hRgn);
    LayoutTrees();
}

BOOL CMangeDialog::OnEraseBkgnd(CDC*) { return TRUE; }

void CMangeDialog::OnPaint()
{
    CPaintDC paint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&paint, &rc);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    if (!m_imgPanel.IsNull()) {
        int w = (rc.Width() - 10) / 2;
        int h = m_imgPanel.GetHeight() + 8;
        m_imgPanel.Draw(dc.m_hDC, 0, 0, w, h);
        m_imgPanel.Draw(dc.m_hDC, (rc.Width() + 10) / 2, 0, w, h);
    }
}
