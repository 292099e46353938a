#include "ManageTreeCtrl.h"

#include "BackUpEngine.h"
#include "BackUpTreeCtrl.h"
#include "LanguageText.h"
#include "ShellIo.h"
#include "USBDevice.h"

#include <string>

CManageTreeCtrl* g_pContextMenuTree = nullptr;

static LONG g_nNodeRecords = 0;

LONG NodeRecordsAlive() { return g_nNodeRecords; }

namespace {

// Posted to the tree itself: the work that must wait until the label edit has ended.
const UINT WM_MANAGE_AFTER_EDIT = WM_APP + 0x141;

const wchar_t kForbiddenNameChars[] = L"\\/:*?\"<>|";

template <class T>
void SafeRelease(T*& p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

bool IsDriveRootPath(const CString& s)
{
    return s.GetLength() == 3 && s[1] == L':' && s[2] == L'\\' &&
           ((s[0] >= L'A' && s[0] <= L'Z') || (s[0] >= L'a' && s[0] <= L'z'));
}

CString WithoutTrailingBackslash(const CString& strPath)
{
    CString s(strPath);
    if (s.GetLength() > 3 && s[s.GetLength() - 1] == L'\\')
        s.Delete(s.GetLength() - 1);
    return s;
}

CManageTreeCtrl* ManageTreeOf(HWND hWnd)
{
    return hWnd ? dynamic_cast<CManageTreeCtrl*>(CWnd::FromHandlePermanent(hWnd)) : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Node records
// ---------------------------------------------------------------------------------------

UINT ItemIdListSize(LPCITEMIDLIST pidl)
{
    if (!pidl)
        return 0;
    const BYTE* p = reinterpret_cast<const BYTE*>(pidl);
    UINT n = 0;
    for (;;) {
        USHORT cb;
        memcpy(&cb, p + n, sizeof(cb));
        if (cb == 0)
            return n + sizeof(USHORT);
        n += cb;
    }
}

_NODE_EXPAND* NewNodeRecord(const wchar_t* pszName, int nIcon, LPCITEMIDLIST pidl)
{
    UINT nSize = ItemIdListSize(pidl);
    if (!nSize)
        return nullptr;
    auto* pNode = static_cast<_NODE_EXPAND*>(::GlobalAlloc(GPTR, sizeof(_NODE_EXPAND)));
    if (!pNode)
        return nullptr;
    pNode->pidl = static_cast<LPITEMIDLIST>(::GlobalAlloc(GPTR, nSize));
    if (!pNode->pidl) {
        ::GlobalFree(pNode);
        return nullptr;
    }
    memcpy(pNode->pidl, pidl, nSize);
    ::InterlockedIncrement(&g_nNodeRecords);
    pNode->nPidlSize = (int)nSize;
    pNode->nIcon = nIcon;
    if (pszName)
        lstrcpynW(pNode->szName, pszName, (int)(sizeof(pNode->szName) / sizeof(wchar_t)));
    return pNode;
}

void FreeNodeRecord(_NODE_EXPAND* pNode)
{
    if (!pNode)
        return;
    if (pNode->pidl)
        ::GlobalFree(pNode->pidl);
    ::GlobalFree(pNode);
    ::InterlockedDecrement(&g_nNodeRecords);
}

bool SameNode(const _NODE_EXPAND* a, const _NODE_EXPAND* b)
{
    if (!a || !b || !a->pidl || !b->pidl)
        return false;
    return a->nPidlSize == b->nPidlSize && memcmp(a->pidl, b->pidl, a->nPidlSize) == 0;
}

// ---------------------------------------------------------------------------------------
// The tree
// ---------------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CManageTreeCtrl, CInitTreeCtrl)
    ON_NOTIFY_REFLECT(TVN_BEGINLABELEDITW, OnTvnBeginlabeledit)
    ON_NOTIFY_REFLECT(TVN_ENDLABELEDITW, OnTvnEndlabeledit)
    ON_NOTIFY_REFLECT(NM_RCLICK, OnNMRClick)
    ON_NOTIFY_REFLECT(NM_DBLCLK, OnNMDblclk)
    ON_NOTIFY_REFLECT(TVN_ITEMEXPANDINGW, OnTvnItemexpanding)
    ON_NOTIFY_REFLECT(TVN_BEGINDRAGW, OnTvnBegindrag)
    ON_WM_MOUSEMOVE()
    ON_MESSAGE(WM_MANAGE_AFTER_EDIT, OnAfterEdit)
END_MESSAGE_MAP()

CManageTreeCtrl::CManageTreeCtrl() = default;

CManageTreeCtrl::~CManageTreeCtrl()
{
    if (g_pContextMenuTree == this)
        g_pContextMenuTree = nullptr;
    m_dropTarget.Revoke();
}

_NODE_EXPAND* CManageTreeCtrl::NodeOfItem(HTREEITEM hItem) const
{
    if (!hItem || !m_hRootItem || GetParentItem(hItem) != m_hRootItem)
        return nullptr;
    DWORD_PTR d = GetItemData(hItem);
    for (INT_PTR i = 0; i < m_arrNodes.GetSize(); ++i)
        if ((DWORD_PTR)m_arrNodes[i] == d)
            return m_arrNodes[i];
    return nullptr;
}

HTREEITEM CManageTreeCtrl::AddNode(_NODE_EXPAND* pNode)
{
    if (!pNode || !m_hRootItem)
        return nullptr;
    m_arrNodes.Add(pNode);
    return InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, pNode->szName, pNode->nIcon,
                      pNode->nIcon, 0, 0, (LPARAM)pNode, m_hRootItem, TVI_LAST);
}

void CManageTreeCtrl::RemoveNode(_NODE_EXPAND* pNode)
{
    if (m_hRootItem) {
        HTREEITEM h = GetChildItem(m_hRootItem);
        while (h) {
            HTREEITEM hNext = GetNextSiblingItem(h);  // taken before the item goes
            if (NodeOfItem(h) == pNode)
                DeleteTreeItem(h);
            h = hNext;
        }
    }
    for (INT_PTR i = m_arrNodes.GetSize() - 1; i >= 0; --i)
        if (m_arrNodes[i] == pNode)
            m_arrNodes.RemoveAt(i);
}

CString CManageTreeCtrl::GetItemPath(HTREEITEM hItem)
{
    // A node's data is the address of its record, which must never be read as a drive.
    for (HTREEITEM h = hItem; h; h = GetParentItem(h))
        if (NodeOfItem(h))
            return CString();
    return CInitTreeCtrl::GetItemPath(hItem);
}

void CManageTreeCtrl::ForgetItem(HTREEITEM hItem)
{
    if (hItem == m_hEditItem)
        m_hEditItem = nullptr;
}

void CManageTreeCtrl::LoadMenuCaptions()
{
    m_strLockCaption = GetLanguageTextOr(L"LockDisk", L"Lock");
    m_strUnlockCaption = GetLanguageTextOr(L"UlockDisk", L"Ulock");
    m_strPasswordCaption = GetLanguageTextOr(L"DiskPasswordSet", L"Password set");
}

HTREEITEM CManageTreeCtrl::HitItemAtCursor(UINT nFlagsWanted, CPoint* pptClient)
{
    CPoint pt;
    ::GetCursorPos(&pt);
    ScreenToClient(&pt);
    if (pptClient)
        *pptClient = pt;
    UINT nFlags = 0;
    HTREEITEM h = HitTest(pt, &nFlags);
    return (h && (nFlags & nFlagsWanted)) ? h : nullptr;
}

// ---------------------------------------------------------------------------------------
// Mouse
// ---------------------------------------------------------------------------------------

void CManageTreeCtrl::OnMouseMove(UINT, CPoint point)
{
    UINT nFlags = 0;
    HTREEITEM h = HitTest(point, &nFlags);
    HWND hTip = GetToolTips();
    if (h && (nFlags & TVHT_ONITEMLABEL)) {
        if (hTip)
            ::SendMessageW(hTip, TTM_ACTIVATE, TRUE, 0);
        Default();
    } else if (hTip) {
        ::SendMessageW(hTip, TTM_ACTIVATE, FALSE, 0);
    }
}

void CManageTreeCtrl::OnNMDblclk(NMHDR*, LRESULT* pResult)
{
    *pResult = 0;
    HTREEITEM h = HitItemAtCursor(TVHT_ONITEM);
    if (!h)
        return;
    SelectItem(h);
    OpenItem(h);
}

BOOL CManageTreeCtrl::OpenItem(HTREEITEM hItem)
{
    CString strPath = WithoutTrailingBackslash(GetItemPath(hItem));
    if (strPath.GetLength() <= 3 || IsFolder(strPath))
        return FALSE;  // folders, drive roots, the root and nodes are not opened
    if (::GetFileAttributesW(strPath) == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    // Through the desktop's shell where it can, so the file's program does not inherit this
    // program's raised rights.
    if (ShellIo().ExecuteAsDesktopUser(L"open", strPath, nullptr, nullptr, SW_SHOW) == S_OK)
        return TRUE;
    return (INT_PTR)ShellIo().Execute(m_hWnd, L"open", strPath, nullptr, nullptr, SW_SHOW) > 32;
}

// ---------------------------------------------------------------------------------------
// Label editing: renames and volume labels
// ---------------------------------------------------------------------------------------

void CManageTreeCtrl::OnTvnBeginlabeledit(NMHDR* pNMHDR, LRESULT* pResult)
{
    auto* pInfo = reinterpret_cast<NMTVDISPINFOW*>(pNMHDR);
    *pResult = 0;
    CString strText;
    if (!BeginEdit(pInfo->item.hItem, strText)) {
        *pResult = 1;  // the root and the nodes keep their names
        return;
    }
    HWND hEdit = GetEditControl();
    if (hEdit && IsDriveRootPath(GetItemPath(pInfo->item.hItem))) {
        ::SetWindowTextW(hEdit, strText);
        ::SendMessageW(hEdit, EM_LIMITTEXT, DRIVE_LABEL_LIMIT, 0);
    }
}

BOOL CManageTreeCtrl::BeginEdit(HTREEITEM hItem, CString& strEditText)
{
    m_hEditItem = nullptr;
    m_strEditStart.Empty();
    CString strPath = GetItemPath(hItem);
    if (strPath.IsEmpty())
        return FALSE;
    strEditText = GetItemText(hItem);
    if (IsDriveRootPath(strPath)) {
        // "DATA (E:)" is edited as "DATA".
        strEditText = strEditText.Left(strEditText.GetLength() - 4);
        strEditText.Trim();
    }
    m_hEditItem = hItem;
    m_strEditStart = strEditText;
    return TRUE;
}

void CManageTreeCtrl::OnTvnEndlabeledit(NMHDR* pNMHDR, LRESULT* pResult)
{
    auto* pInfo = reinterpret_cast<NMTVDISPINFOW*>(pNMHDR);
    // The tree keeps its label: the shell's notifications and the relisting after the edit
    // show the new name.
    *pResult = 0;
    EndEdit(pInfo->item.hItem, pInfo->item.pszText);
}

RenameCheck CManageTreeCtrl::CheckRename(const CString& strOldPath, const CString& strNewName, CString& strNewPath)
{
    strNewPath.Empty();
    CString strOld = WithoutTrailingBackslash(strOldPath);
    if (strOld.GetLength() <= 3 || strOld[1] != L':' || strOld[2] != L'\\')
        return RENAME_NO_PATH;
    int nSlash = strOld.ReverseFind(L'\\');
    CString strParent = strOld.Left(nSlash + 1);
    CString strOldName = strOld.Mid(nSlash + 1);
    CString strName(strNewName);
    strName.Trim();
    if (strName.IsEmpty() || strName == L"." || strName == L"..")
        return RENAME_EMPTY;
    for (int i = 0; i < strName.GetLength(); ++i)
        if (strName[i] < 32 || wcschr(kForbiddenNameChars, strName[i]))
            return RENAME_BAD_CHARACTER;
    // Names the platform strips of trailing dots would end up as another name.
    if (strName[strName.GetLength() - 1] == L'.')
        return RENAME_BAD_CHARACTER;
    if (strName == strOldName)
        return RENAME_UNCHANGED;
    CString strNew = strParent + strName;
    if (strNew.GetLength() >= MAX_PATH)
        return RENAME_TOO_LONG;
    // Another item of that name would be replaced; a change of letter case only is fine.
    if (strName.CompareNoCase(strOldName) != 0 && ::GetFileAttributesW(strNew) != INVALID_FILE_ATTRIBUTES)
        return RENAME_EXISTS;
    strNewPath = strNew;
    return RENAME_OK;
}

BOOL CManageTreeCtrl::EndEdit(HTREEITEM hItem, const wchar_t* pszNewText)
{
    CString strStart = m_strEditStart;
    bool bEdited = hItem && hItem == m_hEditItem;
    m_hEditItem = nullptr;
    m_strEditStart.Empty();
    // Only the end of an edit that began here counts, once.
    if (!bEdited || !pszNewText)
        return FALSE;  // cancelled
    CString strPath = GetItemPath(hItem);
    if (strPath.IsEmpty())
        return FALSE;

    if (IsDriveRootPath(strPath)) {
        CString strLabel(pszNewText);
        strLabel.Trim();
        // Only a label the user changed is written: confirming the text the editor was
        // given (a drive without a label shows its kind, "Local Disk") changes nothing.
        if (strLabel == strStart)
            return FALSE;
        wchar_t szCurrent[MAX_PATH + 1] = {};
        if (ShellIo().VolumeInformation(strPath, szCurrent, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0) &&
            strLabel == szCurrent)
            return FALSE;
        if (strLabel.GetLength() > DRIVE_LABEL_LIMIT)
            return FALSE;
        if (!ShellIo().SetLabel(strPath, strLabel))
            return FALSE;
        m_chPendingDrive = strPath[0];
        PostMessage(WM_MANAGE_AFTER_EDIT);
        return TRUE;
    }

    CString strNewPath;
    if (CheckRename(strPath, pszNewText, strNewPath) != RENAME_OK)
        return FALSE;
    CString strOld = WithoutTrailingBackslash(strPath);
    std::wstring from(strOld.GetString());
    from.append(2, L'\0');
    std::wstring to(strNewPath.GetString());
    to.append(2, L'\0');
    SHFILEOPSTRUCTW op = {};
    op.hwnd = m_hWnd;
    op.wFunc = FO_RENAME;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_ALLOWUNDO;
    if (ShellIo().FileOperation(&op) != 0 || op.fAnyOperationsAborted)
        return FALSE;
    m_strPendingFolder = strOld.Left(strOld.ReverseFind(L'\\') + 1);
    PostMessage(WM_MANAGE_AFTER_EDIT);
    return TRUE;
}

LRESULT CManageTreeCtrl::OnAfterEdit(WPARAM, LPARAM)
{
    CString strFolder = m_strPendingFolder;
    wchar_t chDrive = m_chPendingDrive;
    m_strPendingFolder.Empty();
    m_chPendingDrive = 0;
    if (!strFolder.IsEmpty())
        RefreshFolderEverywhere(strFolder);
    if (chDrive)
        RefreshDriveText(chDrive);
    return 0;
}

void CManageTreeCtrl::RefreshFolderEverywhere(const CString& strFolder)
{
    for (HWND h : {g_hManageTreeWnd, g_hManageTree2Wnd}) {
        if (CManageTreeCtrl* pTree = ManageTreeOf(h))
            pTree->RefreshPathItem(strFolder);
    }
    for (HWND h : {g_hSourceTreeWnd, g_hDestTreeWnd}) {
        if (auto* pTree = h ? dynamic_cast<CBackUpTreeCtrl*>(CWnd::FromHandlePermanent(h)) : nullptr)
            pTree->RefreshSelFolder(strFolder);
    }
}

void CManageTreeCtrl::RefreshDriveText(wchar_t chLetter)
{
    CString strRoot;
    strRoot.Format(L"%lc:\\", chLetter);
    SHFILEINFOW sfi = {};
    if (!ShellIo().FileInfo(strRoot, 0, &sfi, SHGFI_DISPLAYNAME))
        return;
    CString strText(sfi.szDisplayName);
    CString strEnd;
    strEnd.Format(L"(%lc:)", chLetter);
    if (strText.GetLength() < 4 || strText.Right(4).CompareNoCase(strEnd) != 0)
        strText += L" " + strEnd;
    for (HWND h : {g_hManageTreeWnd, g_hManageTree2Wnd}) {
        CManageTreeCtrl* pTree = ManageTreeOf(h);
        if (!pTree || !pTree->m_hRootItem)
            continue;
        for (HTREEITEM hItem = pTree->GetChildItem(pTree->m_hRootItem); hItem;
             hItem = pTree->GetNextSiblingItem(hItem)) {
            CString strPath = pTree->GetItemPath(hItem);
            if (IsDriveRootPath(strPath) && strPath.Left(1).CompareNoCase(strRoot.Left(1)) == 0)
                pTree->SetItemText(hItem, strText);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Expanding
// ---------------------------------------------------------------------------------------

void CManageTreeCtrl::OnTvnItemexpanding(NMHDR* pNMHDR, LRESULT* pResult)
{
    auto* pNM = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    *pResult = 0;
    HTREEITEM hItem = pNM->itemNew.hItem;
    if (!hItem || pNM->action != TVE_EXPAND)
        return;
    if (GetItemState(hItem, TVIS_EXPANDEDONCE) & TVIS_EXPANDEDONCE)
        return;
    if (NodeOfItem(hItem))
        return;
    CWaitCursor wait;
    bool bDrive = m_hRootItem && GetParentItem(hItem) == m_hRootItem;
    if (bDrive) {
        for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i)
            if (g_arrUSBDevice[i].m_strDriveLetters.IsEmpty())
                g_arrUSBDevice[i].GetDriveLetters();
    }
    DWORD_PTR dwData = GetItemData(hItem);
    if (bDrive && (dwData & 0xF) == 2) {
        // A volume without a file system (a card reader without a card, say): look again,
        // and keep the item closed, with its placeholder, while there is still nothing.
        CString strRoot = GetItemPath(hItem);
        wchar_t szFs[MAX_PATH] = {};
        if (strRoot.IsEmpty() ||
            !ShellIo().VolumeInformation(strRoot, nullptr, 0, nullptr, nullptr, nullptr, szFs, MAX_PATH) ||
            !szFs[0]) {
            *pResult = 1;
            return;
        }
        SetItemData(hItem, dwData & ~(DWORD_PTR)0xF);
    }
    HTREEITEM hFirst = GetChildItem(hItem);
    // Only an item still waiting for its listing is listed: children already there (an item
    // opened to show a selected descendant, say) are never swept away under the caller.
    if (hFirst && !IsPlaceholderItem(hFirst))
        return;
    if (hFirst)
        DeleteTreeItem(hFirst);
    if (hItem == m_hRootItem)
        return;
    CString strPath = GetItemPath(hItem);
    if (strPath.GetLength() < 2)
        return;
    ListFolder(hItem, strPath);
    SortChildren(hItem);
}

// ---------------------------------------------------------------------------------------
// Dragging
// ---------------------------------------------------------------------------------------

void CManageTreeCtrl::OnTvnBegindrag(NMHDR* pNMHDR, LRESULT* pResult)
{
    auto* pNM = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    *pResult = 0;
    HTREEITEM hItem = pNM->itemNew.hItem;
    if (!hItem || hItem == m_hRootItem)
        return;
    SelectItem(hItem);
    SelectDropTarget(hItem);
    // The item is captured now; shell events during the drag may change the selection.
    if (CTreeDropTarget::BeginDrag(m_hWnd, hItem)) {
        COleDataSource source;
        source.DoDragDrop(DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK, nullptr, &m_dropTarget);
    }
    SelectDropTarget(nullptr);
    if (HTREEITEM h = GetDropHilightItem())
        SetItemState(h, 0, TVIS_DROPHILITED);
    CTreeDropTarget::EndDrag();
}

// ---------------------------------------------------------------------------------------
// The shell's context menu
// ---------------------------------------------------------------------------------------

void CManageTreeCtrl::OnNMRClick(NMHDR*, LRESULT* pResult)
{
    *pResult = 0;
    LoadMenuCaptions();
    CPoint ptClient;
    HTREEITEM h = HitItemAtCursor(TVHT_ONITEM, &ptClient);
    if (!h)
        return;
    SelectItem(h);
    CRect rc;
    GetClientRect(&rc);
    if (!rc.PtInRect(ptClient))
        return;
    CPoint ptScreen = ptClient;
    ClientToScreen(&ptScreen);
    *pResult = ShowShellMenu(h, ptScreen);
}

LRESULT CManageTreeCtrl::ShowShellMenu(HTREEITEM hItem, CPoint ptScreen)
{
    if (!hItem || m_hContextMenu)
        return 0;
    // The item as the shell knows it: a node's own list, else the parsed path.
    LPITEMIDLIST pidlParsed = nullptr;
    LPCITEMIDLIST pidl = nullptr;
    if (_NODE_EXPAND* pNode = NodeOfItem(hItem)) {
        pidl = pNode->pidl;
    } else {
        CString strPath = GetItemPath(hItem);
        strPath.Trim();
        if (strPath.IsEmpty())
            return 0;
        strPath = WithoutTrailingBackslash(strPath);
        if (FAILED(::SHParseDisplayName(strPath, nullptr, &pidlParsed, 0, nullptr)) || !pidlParsed)
            return 0;
        pidl = pidlParsed;
    }
    if (!pidl)
        return 0;

    IShellFolder* pFolder = nullptr;
    LPCITEMIDLIST pidlChild = nullptr;
    HRESULT hr = ::SHBindToParent(pidl, IID_IShellFolder, (void**)&pFolder, &pidlChild);
    if (SUCCEEDED(hr))
        hr = pFolder->GetUIObjectOf(m_hWnd, 1, &pidlChild, IID_IContextMenu, nullptr, (void**)&m_pContextMenu);
    SafeRelease(pFolder);
    if (pidlParsed)
        ::CoTaskMemFree(pidlParsed);
    if (FAILED(hr) || !m_pContextMenu) {
        SafeRelease(m_pContextMenu);
        return 0;
    }
    if (FAILED(m_pContextMenu->QueryInterface(IID_IContextMenu3, (void**)&m_pContextMenu3)))
        m_pContextMenu3 = nullptr;
    if (!m_pContextMenu3 &&
        FAILED(m_pContextMenu->QueryInterface(IID_IContextMenu2, (void**)&m_pContextMenu2)))
        m_pContextMenu2 = nullptr;

    LRESULT lResult = 0;
    m_hContextMenu = ::CreatePopupMenu();
    if (m_hContextMenu &&
        SUCCEEDED(m_pContextMenu->QueryContextMenu(m_hContextMenu, 3, 1, 1000, CMF_EXPLORE | CMF_CANRENAME))) {
        m_ptContextMenu = ptScreen;
        bool bHooked = false;
        if (m_pContextMenu3 || m_pContextMenu2) {
            g_pContextMenuTree = this;
            m_pfnOldWndProc = (WNDPROC)::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, (LONG_PTR)ContextMenuWndProc);
            bHooked = true;
        }
        UINT nCommand = ShellIo().TrackMenu(m_hContextMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON, ptScreen.x,
                                            ptScreen.y, m_hWnd);
        if (bHooked) {
            ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, (LONG_PTR)m_pfnOldWndProc);
            m_pfnOldWndProc = nullptr;
            g_pContextMenuTree = nullptr;
        }
        if (nCommand > 0) {
            wchar_t szVerb[64] = {};
            if (FAILED(m_pContextMenu->GetCommandString(nCommand - 1, GCS_VERBW, nullptr, (LPSTR)szVerb, 64)))
                szVerb[0] = 0;
            if (_wcsicmp(szVerb, L"rename") == 0) {
                // Renaming is the tree's own label edit, with its checks.
                if (HTREEITEM hSel = GetSelectedItem())
                    EditLabel(hSel);
                lResult = 1;
            } else {
                CMINVOKECOMMANDINFO ci = {};
                ci.cbSize = sizeof(ci);
                ci.hwnd = m_hWnd;
                ci.lpVerb = MAKEINTRESOURCEA(nCommand - 1);
                ci.nShow = SW_SHOWNORMAL;
                lResult = SUCCEEDED(m_pContextMenu->InvokeCommand(&ci)) ? 1 : 0;
            }
        }
    }
    SafeRelease(m_pContextMenu3);
    SafeRelease(m_pContextMenu2);
    if (m_hContextMenu) {
        ::DestroyMenu(m_hContextMenu);
        m_hContextMenu = nullptr;
    }
    SafeRelease(m_pContextMenu);
    return lResult;
}

LRESULT CALLBACK CManageTreeCtrl::ContextMenuWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ForwardContextMenuMsg(hWnd, message, wParam, lParam);
}

LRESULT CManageTreeCtrl::ForwardContextMenuMsg(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CManageTreeCtrl* pTree = g_pContextMenuTree;
    if (!pTree || !pTree->m_pfnOldWndProc)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    bool bMenuMessage = ((message == WM_DRAWITEM || message == WM_MEASUREITEM) && wParam == 0) ||
                        message == WM_INITMENUPOPUP;
    if (bMenuMessage) {
        if (pTree->m_pContextMenu3)
            pTree->m_pContextMenu3->HandleMenuMsg2(message, wParam, lParam, nullptr);
        else if (pTree->m_pContextMenu2)
            pTree->m_pContextMenu2->HandleMenuMsg(message, wParam, lParam);
        if (message != WM_INITMENUPOPUP)
            return TRUE;
    }
    return ::CallWindowProcW(pTree->m_pfnOldWndProc, hWnd, message, wParam, lParam);
}
