#include "TreeDropTarget.h"

#include "BackUpEngine.h"
#include "ShellIo.h"
#include "TreeShared.h"

TreeDragItem CTreeDropTarget::s_drag;

namespace {

CString TreeItemText(HWND hTree, HTREEITEM hItem)
{
    wchar_t sz[MAX_PATH + 64] = {};
    TVITEMW tvi = {};
    tvi.mask = TVIF_TEXT | TVIF_HANDLE;
    tvi.hItem = hItem;
    tvi.pszText = sz;
    tvi.cchTextMax = (int)(sizeof(sz) / sizeof(sz[0]));
    if (!TreeView_GetItem(hTree, &tvi))
        return CString();
    return CString(sz);
}

// The letter of a drive item's text "... (X:)", 0 when the text has no such ending.
wchar_t DriveLetterOfText(const CString& strText)
{
    int n = strText.GetLength();
    if (n < 4 || strText[n - 1] != L')' || strText[n - 2] != L':' || strText[n - 4] != L'(')
        return 0;
    wchar_t c = strText[n - 3];
    if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'))
        return c;
    return 0;
}

bool EndsWithNoCase(const CString& s, const wchar_t* pszEnd)
{
    int n = (int)wcslen(pszEnd);
    return s.GetLength() >= n && s.Right(n).CompareNoCase(pszEnd) == 0;
}

// Clears the drop highlight. Some tree controls ignore the request while no item is
// selected; the item's highlight bit is then cleared by hand.
void ClearDropHighlight(HWND hTree)
{
    TreeView_SelectDropTarget(hTree, nullptr);
    if (HTREEITEM h = TreeView_GetDropHilight(hTree))
        TreeView_SetItemState(hTree, h, 0, TVIS_DROPHILITED);
}

bool PathExists(const CString& strOperationPath)
{
    return ::GetFileAttributesW(strOperationPath) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

CTreeDropTarget::CTreeDropTarget() { ResetHover(); }

CTreeDropTarget::~CTreeDropTarget() = default;

// ---------------------------------------------------------------------------------------
// The drag session
// ---------------------------------------------------------------------------------------

BOOL CTreeDropTarget::BeginDrag(HWND hSourceTree, HTREEITEM hItem)
{
    EndDrag();
    if (!::IsWindow(hSourceTree) || !hItem)
        return FALSE;
    CString strPath = GetItemPath(hSourceTree, hItem);
    if (!IsDrivePath(strPath))
        return FALSE;
    HTREEITEM hParent = TreeView_GetParent(hSourceTree, hItem);
    s_drag.hSourceTree = hSourceTree;
    s_drag.hItem = hItem;
    s_drag.strPath = strPath;
    s_drag.strLabel = TreeItemText(hSourceTree, hItem);
    s_drag.bDrive = hParent && !TreeView_GetParent(hSourceTree, hParent);
    g_hDragSourceTree = hSourceTree;
    return TRUE;
}

void CTreeDropTarget::EndDrag()
{
    s_drag = TreeDragItem();
    g_hDragSourceTree = nullptr;
}

bool CTreeDropTarget::SourceTreeAlive() const
{
    return g_hDragSourceTree && g_hDragSourceTree == s_drag.hSourceTree && ::IsWindow(g_hDragSourceTree) &&
           !s_drag.strPath.IsEmpty();
}

// ---------------------------------------------------------------------------------------
// Rules
// ---------------------------------------------------------------------------------------

DROPEFFECT CTreeDropTarget::EffectForKeys(bool bDraggedDrive, DWORD dwKeyState)
{
    DROPEFFECT effect = DROPEFFECT_MOVE;
    if (dwKeyState & MK_SHIFT)
        effect = DROPEFFECT_MOVE;
    if (dwKeyState & MK_CONTROL)
        effect = DROPEFFECT_COPY;
    if (bDraggedDrive || (dwKeyState & MK_ALT))
        effect = DROPEFFECT_LINK;
    return effect;
}

DROPEFFECT CTreeDropTarget::DecideEffect(bool bDraggedDrive, DWORD dwKeyState, DropSpot spot)
{
    switch (spot) {
    case DropSpot::Folder:
        return EffectForKeys(bDraggedDrive, dwKeyState);
    case DropSpot::Program:
        return DROPEFFECT_RUN;
    default:
        return DROPEFFECT_NONE;
    }
}

bool CTreeDropTarget::IsDrivePath(const CString& strPath)
{
    if (strPath.GetLength() < 3 || strPath[1] != L':' || strPath[2] != L'\\')
        return false;
    wchar_t c = strPath[0];
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

CString CTreeDropTarget::OperationPath(const CString& strItemPath)
{
    CString s(strItemPath);
    if (s.GetLength() > 3 && s[s.GetLength() - 1] == L'\\')
        s.Delete(s.GetLength() - 1, 1);
    return s;
}

std::wstring CTreeDropTarget::NameList(const CString& strPath)
{
    std::wstring list(strPath.GetString());
    list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

DropSpot CTreeDropTarget::ClassifyPath(const CString& strPath, CString* pstrProgram)
{
    if (pstrProgram)
        pstrProgram->Empty();
    if (!IsDrivePath(strPath))
        return DropSpot::Nothing;
    if (strPath.GetLength() <= 3 || IsFolder(strPath))
        return DropSpot::Folder;
    CString strFile = OperationPath(strPath);
    if (!PathExists(strFile))
        return DropSpot::Nothing;
    CString strProgram = strFile;
    if (EndsWithNoCase(strFile, L".lnk"))
        strProgram = ResolveShortcut(strFile);
    if (EndsWithNoCase(strProgram, L".exe")) {
        if (pstrProgram)
            *pstrProgram = strProgram;
        return DropSpot::Program;
    }
    return DropSpot::OtherFile;
}

// ---------------------------------------------------------------------------------------
// Paths, shortcuts, programs
// ---------------------------------------------------------------------------------------

CString CTreeDropTarget::GetItemPath(HWND hTree, HTREEITEM hItem)
{
    if (!hTree || !hItem)
        return CString();
    CString strPath;
    HTREEITEM h = hItem;
    for (;;) {
        HTREEITEM hParent = TreeView_GetParent(hTree, h);
        if (!hParent)
            return CString();  // the root itself, or an item that lost its way to it
        CString strText = TreeItemText(hTree, h);
        CString strPart;
        if (!TreeView_GetParent(hTree, hParent)) {
            // A child of the root: only a drive has a path.
            wchar_t c = DriveLetterOfText(strText);
            if (!c)
                return CString();
            strPart = CString(c) + L":";
        } else {
            if (strText.IsEmpty() || strText.FindOneOf(L"\\/") >= 0)
                return CString();
            strPart = strText;
        }
        strPath = strPart + L"\\" + strPath;
        if (!TreeView_GetParent(hTree, hParent))
            return strPath;
        h = hParent;
    }
}

CString CTreeDropTarget::ShortcutFileName(const CString& strFolder, const CString& strLabel, bool bDrive)
{
    CString strName(strLabel);
    if (bDrive)
        strName.Remove(L':');
    // Whatever else a file name cannot hold is replaced, never taken as a folder.
    for (int i = 0; i < strName.GetLength(); ++i)
        if (wcschr(L"\\/:*?\"<>|", strName[i]) || strName[i] < 32)
            strName.SetAt(i, L'_');
    CString strFile(strFolder);
    if (strFile.IsEmpty() || strFile[strFile.GetLength() - 1] != L'\\')
        strFile += L"\\";
    return strFile + strName + L".lnk";
}

BOOL CTreeDropTarget::CreateShortcut(const CString& strSource, const CString& strLabel, const CString& strFolder,
                                     bool bDrive, CString* pstrLinkFile)
{
    if (!IsDrivePath(strSource) || !IsDrivePath(strFolder) || strLabel.IsEmpty())
        return FALSE;
    CString strFirst = ShortcutFileName(strFolder, strLabel, bDrive);
    CString strStem = strFirst.Left(strFirst.GetLength() - 4);
    for (int n = 1; n <= 100; ++n) {
        CString strLink = strFirst;
        if (n > 1)
            strLink.Format(L"%ls (%d).lnk", strStem.GetString(), n);
        if (strLink.GetLength() >= MAX_PATH)
            return FALSE;
        HRESULT hr = ShellIo().CreateLink(strSource, strLink);
        if (SUCCEEDED(hr)) {
            if (pstrLinkFile)
                *pstrLinkFile = strLink;
            return TRUE;
        }
        if (hr != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS))
            return FALSE;
    }
    return FALSE;
}

CString CTreeDropTarget::ResolveShortcut(const CString& strLinkFile)
{
    CString strTarget;
    if (FAILED(ShellIo().ResolveLink(strLinkFile, strTarget)))
        strTarget.Empty();
    return strTarget;
}

BOOL CTreeDropTarget::RunWithFile(const CString& strProgram, const CString& strFile)
{
    if (strProgram.IsEmpty())
        return FALSE;
    CWaitCursor wait;
    CString strArgument = L"\"" + strFile + L"\"";
    if (ShellIo().ExecuteAsDesktopUser(nullptr, strProgram, strArgument, nullptr, SW_SHOW) == S_OK)
        return TRUE;
    CString strCommand = L"\"" + strProgram + L"\" " + strArgument;
    return ShellIo().StartProcess(nullptr, strCommand, nullptr);
}

BOOL CTreeDropTarget::TransferItem(UINT wFunc, const CString& strSource, const CString& strFolder, HWND hwndOwner)
{
    if (wFunc != FO_COPY && wFunc != FO_MOVE)
        return FALSE;
    if (!IsDrivePath(strSource) || !IsDrivePath(strFolder))
        return FALSE;
    CString strFrom = OperationPath(strSource);
    CString strTo = OperationPath(strFolder);
    if (strFrom.GetLength() >= MAX_PATH || strTo.GetLength() >= MAX_PATH)
        return FALSE;
    if (strFrom.GetLength() <= 3)
        return FALSE;  // a whole drive is never copied or moved, only linked
    CString strFromKey = strFrom + L"\\";
    CString strToKey = strTo.GetLength() > 3 ? strTo + L"\\" : strTo;
    strFromKey.MakeUpper();
    strToKey.MakeUpper();
    // Into itself or below itself.
    if (strToKey.GetLength() >= strFromKey.GetLength() && strToKey.Left(strFromKey.GetLength()) == strFromKey)
        return FALSE;
    // A move into the folder it is in already changes nothing.
    CString strParentKey = strFromKey.Left(strFromKey.Left(strFromKey.GetLength() - 1).ReverseFind(L'\\') + 1);
    if (wFunc == FO_MOVE && strParentKey == strToKey)
        return FALSE;

    std::wstring from = NameList(strFrom);
    std::wstring to = NameList(strTo);
    SHFILEOPSTRUCTW op = {};
    op.hwnd = hwndOwner;
    op.wFunc = wFunc;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_ALLOWUNDO | FOF_SIMPLEPROGRESS;
    op.lpszProgressTitle = wFunc == FO_COPY ? L"COPY" : L"MOVE";
    int nResult = ShellIo().FileOperation(&op);
    return nResult == 0 && !op.fAnyOperationsAborted;
}

// ---------------------------------------------------------------------------------------
// The drop target's overrides
// ---------------------------------------------------------------------------------------

void CTreeDropTarget::ResetHover()
{
    m_hLastHover = nullptr;
    m_dwHoverTick = ::GetTickCount();
    m_hSpotItem = nullptr;
    m_spot = DropSpot::Nothing;
}

DropSpot CTreeDropTarget::SpotOf(HWND hTree, HTREEITEM hItem)
{
    if (!hItem)
        return DropSpot::Nothing;
    if (hItem != m_hSpotItem || hTree != m_hTargetTree) {
        m_hSpotItem = hItem;
        m_spot = ClassifyPath(GetItemPath(hTree, hItem));
    }
    return m_spot;
}

void CTreeDropTarget::AutoScroll(HWND hTree, CPoint point)
{
    RECT rc;
    ::GetClientRect(hTree, &rc);
    if (point.y >= rc.bottom - SCROLL_MARGIN)
        ::SendMessageW(hTree, WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
    else if (point.y <= rc.top + SCROLL_MARGIN)
        ::SendMessageW(hTree, WM_VSCROLL, MAKEWPARAM(SB_LINEUP, 0), 0);
    if (point.x <= rc.left + SCROLL_MARGIN)
        ::SendMessageW(hTree, WM_HSCROLL, MAKEWPARAM(SB_LINELEFT, 0), 0);
    else if (point.x >= rc.right - SCROLL_MARGIN)
        ::SendMessageW(hTree, WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), 0);
}

DROPEFFECT CTreeDropTarget::OnDragEnter(CWnd* pWnd, COleDataObject*, DWORD dwKeyState, CPoint point)
{
    ResetHover();
    if (!pWnd || !pWnd->m_hWnd || !SourceTreeAlive())
        return DROPEFFECT_NONE;
    m_hTargetTree = pWnd->m_hWnd;
    TVHITTESTINFO hit = {};
    hit.pt = point;
    HTREEITEM hItem = TreeView_HitTest(m_hTargetTree, &hit);
    return DecideEffect(s_drag.bDrive, dwKeyState, SpotOf(m_hTargetTree, hItem));
}

DROPEFFECT CTreeDropTarget::OnDragOver(CWnd* pWnd, COleDataObject*, DWORD dwKeyState, CPoint point)
{
    if (!pWnd || !pWnd->m_hWnd || !SourceTreeAlive())
        return DROPEFFECT_NONE;
    if (pWnd->m_hWnd != m_hTargetTree) {
        ResetHover();
        m_hTargetTree = pWnd->m_hWnd;
    }
    HWND hTree = m_hTargetTree;
    TVHITTESTINFO hit = {};
    hit.pt = point;
    HTREEITEM hItem = TreeView_HitTest(hTree, &hit);
    DROPEFFECT effect = DecideEffect(s_drag.bDrive, dwKeyState, SpotOf(hTree, hItem));

    // A folder hovered long enough opens.
    DWORD dwNow = ::GetTickCount();
    if (!hItem) {
        m_hLastHover = nullptr;
        m_dwHoverTick = dwNow;
    } else if (hItem != m_hLastHover) {
        m_hLastHover = hItem;
        m_dwHoverTick = dwNow;
    } else if (dwNow - m_dwHoverTick >= HOVER_EXPAND_MS) {
        TreeView_Expand(hTree, hItem, TVE_EXPAND);
    }
    if (hItem != TreeView_GetDropHilight(hTree)) {
        ClearDropHighlight(hTree);
        if (hItem)
            TreeView_SelectDropTarget(hTree, hItem);
    }

    AutoScroll(hTree, point);
    return effect;
}

void CTreeDropTarget::OnDragLeave(CWnd* pWnd)
{
    if (pWnd && pWnd->m_hWnd) {
        m_hTargetTree = pWnd->m_hWnd;
        ClearDropHighlight(m_hTargetTree);
    }
    ResetHover();
}

BOOL CTreeDropTarget::OnDrop(CWnd* pWnd, COleDataObject*, DROPEFFECT dropEffect, CPoint point)
{
    if (!pWnd || !pWnd->m_hWnd)
        return FALSE;
    m_hTargetTree = pWnd->m_hWnd;
    HWND hTree = m_hTargetTree;
    // The item under the cursor where the button was let go. (The tree's drop highlight
    // is not asked: some tree controls do not move it onto the selected item, so it can
    // still name an item hovered earlier.)
    TVHITTESTINFO hit = {};
    hit.pt = point;
    HTREEITEM hDropItem = TreeView_HitTest(hTree, &hit);
    ClearDropHighlight(hTree);
    ResetHover();
    if (!hDropItem || !SourceTreeAlive())
        return FALSE;

    // The dragged item as it was when the drag began; shell events may have changed the
    // source tree's selection since, and the item may be gone.
    const TreeDragItem drag = s_drag;
    if (!IsDrivePath(drag.strPath) || !PathExists(OperationPath(drag.strPath)))
        return FALSE;
    CString strDropPath = GetItemPath(hTree, hDropItem);
    CString strProgram;
    DropSpot spot = ClassifyPath(strDropPath, &strProgram);

    if (dropEffect == DROPEFFECT_RUN) {
        if (spot != DropSpot::Program)
            return FALSE;
        return RunWithFile(strProgram, OperationPath(drag.strPath));
    }
    if (spot != DropSpot::Folder)
        return FALSE;
    switch (dropEffect) {
    case DROPEFFECT_COPY:
        return !drag.bDrive && TransferItem(FO_COPY, drag.strPath, strDropPath, hTree);
    case DROPEFFECT_MOVE:
        return !drag.bDrive && TransferItem(FO_MOVE, drag.strPath, strDropPath, hTree);
    case DROPEFFECT_LINK:
        return CreateShortcut(OperationPath(drag.strPath), drag.strLabel, OperationPath(strDropPath), drag.bDrive);
    default:
        return FALSE;
    }
}
