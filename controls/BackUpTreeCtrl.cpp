#include "BackUpTreeCtrl.h"

#include "DataFiles.h"
#include "SelectionFiles.h"
#include "SharedFunctions.h"
#include "ShellIo.h"
#include "USBDevice.h"

#include <set>

namespace {

CString Upper(const CString& s)
{
    CString u(s);
    u.MakeUpper();
    return u;
}

// "C:\" for the drive the system lives on.
CString SystemDriveRoot()
{
    wchar_t szDir[MAX_PATH] = {};
    UINT n = ::GetSystemWindowsDirectoryW(szDir, MAX_PATH);
    if (n < 2 || n >= MAX_PATH || szDir[1] != L':')
        return L"C:\\";
    CString s(szDir, 2);
    s.MakeUpper();
    return s + L"\\";
}

// The folders of the system drive that the source tree never shows.
bool IsHiddenSystemPath(const CString& strFullPath)
{
    CString strRoot = SystemDriveRoot();
    CString u = Upper(strFullPath);
    return u == strRoot + L"WINDOWS" || u == strRoot + L"PROGRAM FILES" ||
           u == strRoot + L"DOCUMENTS AND SETTINGS";
}

// An entry the source tree lists: not "." or "..", no system attribute unless it is one of the
// well-known folders, no temporary attribute, not one of the system drive's own folders.
bool IsListedEntry(const CString& strName, DWORD dwAttributes, const CString& strFullPath)
{
    if (strName == L"." || strName == L"..")
        return false;
    if ((dwAttributes & FILE_ATTRIBUTE_SYSTEM) && !IsSystemFolderName(strName))
        return false;
    if (dwAttributes & FILE_ATTRIBUTE_TEMPORARY)
        return false;
    return !IsHiddenSystemPath(strFullPath);
}

bool HasListedChildren(const CInitTreeCtrl& tree, HTREEITEM hItem)
{
    for (HTREEITEM h = tree.GetChildItem(hItem); h; h = tree.GetNextSiblingItem(h))
        if (!tree.IsPlaceholderItem(h))
            return true;
    return false;
}

// Whether a folder search that ended with this error leaves the folder's contents unknown. An
// empty drive has nothing to find; a folder that is gone from a drive that is there has no
// contents any more; anything else (no medium, access denied...) says nothing about them.
bool IsUnreadFolder(DWORD dwError, const CString& strFolder)
{
    switch (dwError) {
    case 0:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
        return false;
    case ERROR_PATH_NOT_FOUND:
        return ::GetFileAttributesW(strFolder.Left(3)) == INVALID_FILE_ATTRIBUTES;
    default:
        return true;
    }
}

class CWaitCursorScope {
public:
    CWaitCursorScope() : m_hOld(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~CWaitCursorScope() { ::SetCursor(m_hOld); }

private:
    HCURSOR m_hOld;
};

} // namespace

BEGIN_MESSAGE_MAP(CBackUpTreeCtrl, CInitTreeCtrl)
    ON_NOTIFY_REFLECT(NM_CLICK, OnNMClick)
    ON_NOTIFY_REFLECT(TVN_ITEMEXPANDINGW, OnTvnItemexpanding)
    ON_NOTIFY_REFLECT(TVN_ITEMEXPANDINGA, OnTvnItemexpanding)
    ON_NOTIFY_REFLECT(TVN_BEGINLABELEDITW, OnTvnBeginlabeledit)
    ON_NOTIFY_REFLECT(TVN_BEGINLABELEDITA, OnTvnBeginlabeledit)
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSELEAVE()
END_MESSAGE_MAP()

CBackUpTreeCtrl* CBackUpTreeCtrl::FromTreeWnd(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    return dynamic_cast<CBackUpTreeCtrl*>(CWnd::FromHandlePermanent(hWnd));
}

CBackUpTreeCtrl* CBackUpTreeCtrl::OtherTree()
{
    CBackUpTreeCtrl* p = FromTreeWnd(g_hDestTreeWnd);
    return p == this ? nullptr : p;
}

void CBackUpTreeCtrl::ForgetItem(HTREEITEM hItem)
{
    if (hItem == m_hHoverItem) {
        m_hHoverItem = nullptr;
        if (m_bTipTool && m_tip.m_hWnd) {
            m_tip.Activate(FALSE);
            m_tip.DelTool(this);
            m_bTipTool = false;
        }
    }
    if (hItem == m_hChosenDeviceItem) {
        m_hChosenDeviceItem = nullptr;
        m_nChosenDevice = -1;
    }
    if (hItem == m_hFixedDeviceItem)
        m_hFixedDeviceItem = nullptr;
    m_unreadItems.erase(hItem);
}

BOOL CBackUpTreeCtrl::PreTranslateMessage(MSG* pMsg)
{
    // The keyboard must not toggle check boxes: key messages for the space key stop here.
    if (AfxIsKeyMessageFor(pMsg, VK_SPACE))
        return TRUE;
    return CInitTreeCtrl::PreTranslateMessage(pMsg);
}

// --- Check images ----------------------------------------------------------------------------

void CBackUpTreeCtrl::SetSubtreeCheck(HTREEITEM hItem, int nImage)
{
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h)) {
        if (IsPlaceholderItem(h))
            continue;
        if (GetCheck(h) != TCS_FIXED)
            SetCheck(h, nImage);
        SetSubtreeCheck(h, nImage);
    }
}

namespace {

// The image a parent takes from its children (the excluded one left out): 0 when the children
// give none (no children, or only fixed ones).
int CommonImage(const CBackUpTreeCtrl& tree, HTREEITEM hParent, HTREEITEM hExclude)
{
    bool bChecked = false, bUnchecked = false, bMixed = false;
    for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h)) {
        if (h == hExclude || tree.IsPlaceholderItem(h))
            continue;
        switch (tree.GetCheck(h)) {
        case TCS_CHECKED: bChecked = true; break;
        case TCS_MIXED: bMixed = true; break;
        case TCS_FIXED: break;
        default: bUnchecked = true; break;
        }
    }
    if (bMixed || (bChecked && bUnchecked))
        return TCS_MIXED;
    if (bChecked)
        return TCS_CHECKED;
    if (bUnchecked)
        return TCS_UNCHECKED;
    return 0;
}

} // namespace

bool CBackUpTreeCtrl::RecomputeFromChildren(HTREEITEM hItem, BOOL bForce)
{
    int nOld = GetCheck(hItem);
    int nNew = nOld;
    if (hItem == m_hRootItem && !bForce) {
        // The computer root: 2 while anything below it is selected, else fixed.
        int c = CommonImage(*this, hItem, nullptr);
        nNew = (c == TCS_CHECKED || c == TCS_MIXED) ? TCS_MIXED : TCS_FIXED;
    } else {
        if (nOld == TCS_FIXED)
            return false;
        int c = CommonImage(*this, hItem, nullptr);
        if (c)
            nNew = c;
    }
    if (nNew == nOld)
        return false;
    SetCheck(hItem, nNew);
    return true;
}

void CBackUpTreeCtrl::PropagateCheckUp(HTREEITEM hItem, int, BOOL bForce, HTREEITEM* phTop)
{
    if (phTop)
        *phTop = nullptr;
    for (HTREEITEM p = GetParentItem(hItem); p; p = GetParentItem(p)) {
        if (!RecomputeFromChildren(p, bForce))
            break;   // nothing above can change either
        if (phTop)
            *phTop = p;
    }
}

HTREEITEM CBackUpTreeCtrl::SetCheckImage(UINT nImageShifted, HTREEITEM hItem, BOOL bForce)
{
    int nImage = (int)(nImageShifted >> 12);
    SetCheck(hItem, nImage);
    if (nImageShifted < 0x1000)
        return nullptr;
    SetSubtreeCheck(hItem, nImage);
    HTREEITEM hTop = nullptr;
    PropagateCheckUp(hItem, nImage, bForce, &hTop);
    return hTop;
}

HTREEITEM CBackUpTreeCtrl::UpdateParentCheck(HTREEITEM hItem, BOOL bForce)
{
    HTREEITEM p = GetParentItem(hItem);
    if (!p)
        return nullptr;
    int nOld = GetCheck(p);
    int nNew = nOld;
    int c = CommonImage(*this, p, hItem);
    if (p == m_hRootItem && !bForce) {
        nNew = (c == TCS_CHECKED || c == TCS_MIXED) ? TCS_MIXED : TCS_FIXED;
    } else if (nOld != TCS_FIXED) {
        // With no other child a checked folder stays checked (new files in it are still
        // backed up); a mixed one has nothing selected left.
        if (c)
            nNew = c;
        else if (nOld != TCS_CHECKED)
            nNew = TCS_UNCHECKED;
    }
    if (nNew == nOld)
        return nullptr;
    SetCheck(p, nNew);
    HTREEITEM hTop = nullptr;
    PropagateCheckUp(p, nNew, bForce, &hTop);
    return hTop ? hTop : p;
}

// --- Listing -------------------------------------------------------------------------------

int CBackUpTreeCtrl::ListedChildImage(int nFolderImage)
{
    bool bUnchecked = nFolderImage == TCS_MIXED || nFolderImage == TCS_UNCHECKED_ALT || nFolderImage == TCS_NONE;
    return bUnchecked ? TCS_UNCHECKED : nFolderImage;
}

int CBackUpTreeCtrl::NewEntryImage(int nFolderImage)
{
    return (nFolderImage == TCS_CHECKED || nFolderImage == TCS_FIXED) ? nFolderImage : TCS_UNCHECKED;
}

void CBackUpTreeCtrl::FillFolder(HTREEITEM hItem, CString strPath)
{
    strPath = WithBackslash(strPath);
    if (GetParentItem(hItem) == m_hRootItem && ShellIo().DriveType(strPath.Left(3)) == DRIVE_NO_ROOT_DIR) {
        // The drive is not there now; children listed before stay.
        if (!HasListedChildren(*this, hItem))
            m_unreadItems.insert(hItem);
        return;
    }
    int nImage = GetCheck(hItem);
    int nChildImage = ListedChildImage(nImage);
    CSelection sel;
    if (nImage == TCS_MIXED)
        CSelectionFiles(GetDataFolder()).Read(sel);
    DWORD dwError =
        ListEntries(hItem, strPath, [&](const WIN32_FIND_DATAW& fd, const CString& strFull, DWORD_PTR&, int& nCheck) {
            if (!IsListedEntry(fd.cFileName, fd.dwFileAttributes, strFull))
                return false;
            nCheck = nImage == TCS_MIXED ? sel.StateOf(strFull) : nChildImage;
            return true;
        });
    if (IsUnreadFolder(dwError, strPath))
        m_unreadItems.insert(hItem);
    else
        m_unreadItems.erase(hItem);
}

bool CBackUpTreeCtrl::ShowsContents(HTREEITEM hItem) const
{
    return IsItemListed(hItem) && !m_unreadItems.count(hItem);
}

void CBackUpTreeCtrl::ExpandingItem(HTREEITEM hItem, UINT nState)
{
    if (!hItem)
        return;
    CWaitCursorScope wait;
    HTREEITEM h = GetChildItem(hItem);
    while (h) {
        HTREEITEM hNext = GetNextSiblingItem(h);
        if (IsPlaceholderItem(h))
            DeleteTreeItem(h);
        h = hNext;
    }
    if (nState & TVIS_EXPANDEDONCE)
        return;
    if (hItem == m_hRootItem) {
        m_hHoverItem = nullptr;
        return;   // the drives come from the page and stay
    }
    CString strPath = GetItemPath(hItem);
    if (strPath.GetLength() < 2)
        return;
    if (strPath.GetLength() == 3 && GetCheck(hItem) == TCS_FIXED)
        return;
    FillFolder(hItem, strPath);
}

void CBackUpTreeCtrl::OnTvnItemexpanding(NMHDR* pNMHDR, LRESULT* pResult)
{
    NMTREEVIEWW* pNM = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    *pResult = 0;
    if (pNM->action & TVE_EXPAND)
        ExpandingItem(pNM->itemNew.hItem, GetItemState(pNM->itemNew.hItem, TVIS_EXPANDEDONCE));
}

void CBackUpTreeCtrl::OnTvnBeginlabeledit(NMHDR*, LRESULT* pResult) { *pResult = 1; }

// --- Selection -------------------------------------------------------------------------------

void CBackUpTreeCtrl::AddItemToSelection(HTREEITEM hItem, const CString& strPath, CSelection& sel,
                                         const CSelection& old)
{
    int nImage = GetCheck(hItem);
    if (nImage == TCS_CHECKED) {
        sel.Check(strPath);
    } else if (nImage == TCS_FIXED) {
        // Not the user's state (a drive without a readable file system): what the files hold
        // for it stays, as for a drive that is not shown at all.
        if (const CSelectionNode* pOld = old.Find(strPath))
            sel.Graft(strPath, *pOld);
    } else if (nImage == TCS_MIXED) {
        if (ShowsContents(hItem)) {
            for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h)) {
                if (!IsPlaceholderItem(h))
                    AddItemToSelection(h, strPath + WithBackslash(GetItemText(h)), sel, old);
            }
        } else if (const CSelectionNode* pOld = old.Find(strPath)) {
            // Not listed, or not readable: what lies inside is known only to the file.
            if (!pOld->children.empty())
                sel.Graft(strPath, *pOld);
        }
    }
}

void CBackUpTreeCtrl::BuildSelection(CSelection& sel, const CSelection& old)
{
    sel.Clear();
    if (!m_hRootItem)
        m_hRootItem = GetRootItem();
    if (!m_hRootItem)
        return;
    std::set<std::wstring> shown;
    for (HTREEITEM h = GetChildItem(m_hRootItem); h; h = GetNextSiblingItem(h)) {
        if (IsPlaceholderItem(h))
            continue;
        CString strPath = GetItemPath(h);
        if (strPath.GetLength() != 3)
            continue;
        shown.insert(Upper(strPath).str());
        AddItemToSelection(h, strPath, sel, old);
    }
    // Drives that are not shown now (a disk unplugged) keep their selection.
    for (const auto& pDrive : old.Root().children) {
        if (!shown.count(Upper(pDrive->strName).str()))
            sel.Graft(pDrive->strName, *pDrive);
    }
}

void CBackUpTreeCtrl::ReportWriteFailure(const CString& strFile, DWORD dwError)
{
    if (ITreeReporter* p = GetTreeReporter())
        p->SelectionWriteFailed(m_hWnd, strFile, dwError);
}

bool CBackUpTreeCtrl::WriteSelection(const CSelection& sel)
{
    CSelectionFiles files(GetDataFolder());
    DWORD dwError = 0;
    if (files.Write(sel, &dwError))
        return true;
    ReportWriteFailure(files.NestedPath(), dwError);
    ReloadCheckImages();
    return false;
}

bool CBackUpTreeCtrl::SaveSelection()
{
    CSelectionFiles files(GetDataFolder());
    CSelection old;
    files.Read(old);
    CSelection sel;
    BuildSelection(sel, old);
    return WriteSelection(sel);
}

void CBackUpTreeCtrl::ApplyImagesBelow(HTREEITEM hItem, const CString& strPath, const CSelection& sel)
{
    int nImage = GetCheck(hItem);
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h)) {
        if (IsPlaceholderItem(h))
            continue;
        CString strChild = strPath + WithBackslash(GetItemText(h));
        SetCheck(h, nImage == TCS_MIXED ? sel.StateOf(strChild) : NewEntryImage(nImage));
        if (IsItemListed(h))
            ApplyImagesBelow(h, strChild, sel);
    }
}

void CBackUpTreeCtrl::ReloadCheckImages()
{
    if (!m_hRootItem)
        m_hRootItem = GetRootItem();
    if (!m_hRootItem)
        return;
    CSelection sel;
    CSelectionFiles(GetDataFolder()).Read(sel);
    for (HTREEITEM h = GetChildItem(m_hRootItem); h; h = GetNextSiblingItem(h))
        ApplyDriveImages(h, sel);
    RecomputeFromChildren(m_hRootItem, FALSE);
}

void CBackUpTreeCtrl::ApplyDriveImages(HTREEITEM hDrive, const CSelection& sel)
{
    if (IsPlaceholderItem(hDrive) || GetCheck(hDrive) == TCS_FIXED)
        return;
    CString strPath = GetItemPath(hDrive);
    if (strPath.GetLength() != 3)
        return;
    SetCheck(hDrive, sel.StateOf(strPath));
    if (IsItemListed(hDrive))
        ApplyImagesBelow(hDrive, strPath, sel);
}

void CBackUpTreeCtrl::AddDriveItem(const CString& strRoot, const CString& strText, int nImage, DWORD_PTR dwItemData,
                                   int nCheckState)
{
    if (HasItemForPath(strRoot))
        return;
    CInitTreeCtrl::AddDriveItem(strRoot, strText, nImage, dwItemData, nCheckState);
    if (!m_hRootItem)
        return;
    HTREEITEM h = FindListedItem(strRoot);
    if (!h || GetParentItem(h) != m_hRootItem)
        return;
    CSelection sel;
    CSelectionFiles(GetDataFolder()).Read(sel);
    ApplyDriveImages(h, sel);
    RecomputeFromChildren(m_hRootItem, FALSE);
}

void CBackUpTreeCtrl::WriteCheckedItems(HTREEITEM hItem, std::vector<CString>& entries)
{
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h)) {
        if (IsPlaceholderItem(h))
            continue;
        int nImage = GetCheck(h);
        if (nImage == TCS_CHECKED) {
            CString strPath = GetItemPath(h);
            if (!strPath.IsEmpty())
                entries.push_back(CSelection::FlatForm(strPath));
        } else if (nImage == TCS_MIXED) {
            WriteCheckedItems(h, entries);
        }
    }
}

// --- Clicks ----------------------------------------------------------------------------------

void CBackUpTreeCtrl::ReleaseOtherFixed(CBackUpTreeCtrl* pOther)
{
    if (pOther && pOther->m_hFixedDeviceItem) {
        pOther->SetCheck(pOther->m_hFixedDeviceItem, TCS_UNCHECKED);
        pOther->m_hFixedDeviceItem = nullptr;
    }
}

void CBackUpTreeCtrl::ClickDeviceItem(HTREEITEM hItem, int nImage)
{
    CBackUpTreeCtrl* pOther = OtherTree();
    int nDevice = (int)(GetItemData(hItem) - TREE_DATA_DEVICE_BASE);
    if (nImage == TCS_UNCHECKED || nImage == TCS_UNCHECKED_ALT) {
        if (m_hChosenDeviceItem) {
            SetCheck(m_hChosenDeviceItem, TCS_UNCHECKED);
            ReleaseOtherFixed(pOther);
        }
        SetCheck(hItem, TCS_CHECKED);
        m_hChosenDeviceItem = hItem;
        m_nChosenDevice = nDevice;
        if (!pOther)
            return;
        for (HTREEITEM h = pOther->GetRootItem(); h; h = pOther->GetNextSiblingItem(h)) {
            DWORD_PTR d = pOther->GetItemData(h);
            if (IsTreeDeviceData(d) && (int)(d - TREE_DATA_DEVICE_BASE) == nDevice) {
                if (h == pOther->m_hChosenDeviceItem) {
                    pOther->m_hChosenDeviceItem = nullptr;
                    pOther->m_nChosenDevice = -1;
                }
                pOther->SetCheck(h, TCS_FIXED);
                pOther->m_hFixedDeviceItem = h;
                break;
            }
        }
    } else if (nImage == TCS_CHECKED) {
        m_hChosenDeviceItem = nullptr;
        SetCheck(hItem, TCS_UNCHECKED);
        m_nChosenDevice = -1;
        ReleaseOtherFixed(pOther);
    }
}

void CBackUpTreeCtrl::ReleaseDevicePair()
{
    CBackUpTreeCtrl* pOther = OtherTree();
    if (pOther && pOther->m_hFixedDeviceItem && m_hChosenDeviceItem) {
        SetCheck(m_hChosenDeviceItem, TCS_UNCHECKED);
        pOther->SetCheck(pOther->m_hFixedDeviceItem, TCS_UNCHECKED);
        m_hChosenDeviceItem = nullptr;
        pOther->m_hFixedDeviceItem = nullptr;
    }
    m_nChosenDevice = -1;
}

LRESULT CBackUpTreeCtrl::ClickStateIcon(HTREEITEM hItem)
{
    if (!hItem)
        return 0;
    if (!m_hRootItem)
        m_hRootItem = GetRootItem();
    int nImage = GetCheck(hItem);
    if (nImage == TCS_FIXED && hItem != m_hRootItem)
        return 1;
    if (!GetParentItem(hItem) && hItem != m_hRootItem && IsTreeDeviceData(GetItemData(hItem))) {
        ClickDeviceItem(hItem, nImage);
        return 1;
    }

    ReleaseDevicePair();
    if (hItem == m_hRootItem)
        return 1;
    // An item whose path is unknown (a drive without its letter) changes nothing.
    CString strPath = GetItemPath(hItem);
    if (strPath.IsEmpty() || !GetParentItem(hItem))
        return 1;
    int nNew = nImage == TCS_CHECKED ? TCS_UNCHECKED : TCS_CHECKED;
    SelectItem(hItem);
    SetCheckImage((UINT)nNew << 12, hItem, FALSE);
    SetListFile(g_strUserName + L"\\" + kFullPathFile);
    SaveSelection();
    return 1;
}

void CBackUpTreeCtrl::OnNMClick(NMHDR*, LRESULT* pResult)
{
    *pResult = 0;
    POINT pt;
    ::GetCursorPos(&pt);
    ::ScreenToClient(m_hWnd, &pt);
    UINT nFlags = 0;
    HTREEITEM h = HitTest(CPoint(pt.x, pt.y), &nFlags);
    if (!h || !(nFlags & TVHT_ONITEMSTATEICON))
        return;
    *pResult = ClickStateIcon(h);
}

// --- Hover tooltip ---------------------------------------------------------------------------

CString CBackUpTreeCtrl::DeviceTipText(int nDeviceNumber) const
{
    // Only what the device list already holds: no device I/O on this thread.
    const CUSBDevice* pFound = nullptr;
    for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i) {
        if (g_arrUSBDevice[i].m_nDeviceNumber == nDeviceNumber)
            pFound = &g_arrUSBDevice[i];
    }
    if (!pFound)
        return CString();
    const DISK_GEOMETRY& g = pFound->m_geometry;
    ULONGLONG nBytes = g.Cylinders.QuadPart > 0
                           ? (ULONGLONG)g.Cylinders.QuadPart * g.TracksPerCylinder * g.SectorsPerTrack * g.BytesPerSector
                           : 0;
    CString strText;
    strText.Format(L"%ls%ls\r\n%ls%.2fG", m_strTipDriveCaption.GetString(), pFound->m_strDriveLetters.GetString(),
                   m_strTipSizeCaption.GetString(), (double)(nBytes >> 20) / 1024.0);
    return strText;
}

void CBackUpTreeCtrl::UpdateHoverTip(HTREEITEM hItem)
{
    if (!m_tip.m_hWnd)
        m_tip.Create(this);
    if (!hItem) {
        m_hHoverItem = nullptr;
        if (m_tip.m_hWnd) {
            m_tip.Activate(FALSE);
            m_tip.DelTool(this);
        }
        m_bTipTool = false;
        return;
    }
    if (hItem == m_hHoverItem) {
        if (m_tip.m_hWnd && m_bTipTool)
            m_tip.Activate(TRUE);
        return;
    }
    if (m_tip.m_hWnd) {
        m_tip.Activate(FALSE);
        m_tip.DelTool(this);
    }
    m_bTipTool = false;
    m_strHoverTip.Empty();
    DWORD_PTR d = GetItemData(hItem);
    if (!GetParentItem(hItem) && hItem != m_hRootItem && IsTreeDeviceData(d)) {
        m_strHoverTip = DeviceTipText((int)(d - TREE_DATA_DEVICE_BASE));
        if (m_tip.m_hWnd) {
            m_tip.AddTool(this, m_strHoverTip);
            m_tip.SendMessage(TTM_SETMAXTIPWIDTH, 0, 500);
            m_tip.Activate(TRUE);
            m_bTipTool = true;
        }
    }
    m_hHoverItem = hItem;
}

void CBackUpTreeCtrl::LeaveHover()
{
    m_hHoverItem = nullptr;
    m_bTrackingMouse = 0;
}

void CBackUpTreeCtrl::OnMouseMove(UINT, CPoint point)
{
    UINT nFlags = 0;
    HTREEITEM h = HitTest(point, &nFlags);
    if (!m_bTrackingMouse) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, HOVER_DEFAULT};
        if (::TrackMouseEvent(&tme))
            m_bTrackingMouse = 1;
    }
    if (!h || !(nFlags & (TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON)))
        h = nullptr;
    if (m_tip.m_hWnd && h) {
        MSG msg = {m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y), 0, {}};
        m_tip.RelayEvent(&msg);
    }
    UpdateHoverTip(h);
    Default();
}

void CBackUpTreeCtrl::OnMouseLeave()
{
    m_hHoverItem = nullptr;
    Default();
    m_bTrackingMouse = 0;
}

// --- Shell-change operations -----------------------------------------------------------------

HTREEITEM CBackUpTreeCtrl::FindShellEventItem(const CString& strPath, BOOL& bUnlisted)
{
    HTREEITEM h = FindItemByPath(strPath, bUnlisted);
    if (h)
        return h;
    // Not shown: the nearest shown folder above it tells whether that is because the folder
    // could not be read.
    for (CString strUp = ParentPath(strPath); strUp.GetLength() >= 3; strUp = ParentPath(strUp)) {
        if (HTREEITEM hUp = FindListedItem(strUp)) {
            if (!m_unreadItems.count(hUp))
                return nullptr;
            bUnlisted = TRUE;
            return hUp;
        }
        if (strUp.GetLength() == 3)
            break;
    }
    return nullptr;
}

int CBackUpTreeCtrl::AddSelPath(const CString& strPath)
{
    if (!m_hRootItem)
        return 0;
    BOOL bUnlisted = FALSE;
    if (FindItemByPath(strPath, bUnlisted))
        return 0;   // shown already, or inside a folder not listed yet
    CString strParent = ParentPath(strPath);
    HTREEITEM hParent = FindListedItem(strParent);
    if (!hParent || hParent == m_hRootItem || !IsItemListed(hParent))
        return 0;
    if (m_unreadItems.count(hParent)) {
        // The folder could not be read when it was listed, so its selection is known only to
        // the files: it is listed again (with the images the files give) rather than shown
        // with the new entry alone, which would leave it unchecked.
        FillFolder(hParent, GetItemPath(hParent));
        return 1;
    }
    CString strName = LastName(strPath);
    CString strFull = strParent + strName;
    DWORD dwAttr = ::GetFileAttributesW(strFull);
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        dwAttr = 0;
    if (!IsListedEntry(strName, dwAttr, strFull))
        return 0;
    bool bFolder = (dwAttr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A new entry takes its folder's selection: inside a checked folder it is checked (the
    // folder's entry already covers it), elsewhere it is unchecked.
    int nImage = NewEntryImage(GetCheck(hParent));
    HTREEITEM h = InsertEntry(hParent, TVI_LAST, strName, strFull, bFolder, TREE_DATA_FILE, nImage);
    if (!h)
        return 0;
    if (EndsWithNoCase(strName, L"lnk"))
        SetOverlay(h, 2);
    SortChildren(hParent);
    HTREEITEM hTop = nullptr;
    PropagateCheckUp(h, nImage, FALSE, &hTop);
    if (hTop)
        SaveSelection();
    return 1;
}

int CBackUpTreeCtrl::RemoveSelPath(const CString& strPath)
{
    if (!m_hRootItem)
        return 0;
    BOOL bUnlisted = FALSE;
    HTREEITEM h = FindShellEventItem(strPath, bUnlisted);
    if (!h || h == m_hRootItem)
        return 0;
    if (!bUnlisted) {
        RemoveItemAndUpdateParent(h, FALSE);
        SaveSelection();
        return 1;
    }
    // Below a folder not listed yet, or not readable when it was: only the path's own element
    // and entries go, with the elements above it that are left empty; the shown images follow
    // the file.
    CSelectionFiles files(GetDataFolder());
    CSelection sel;
    if (!files.Read(sel))
        return 0;
    if (sel.Remove(strPath)) {
        WriteSelection(sel);
        ReloadCheckImages();
    }
    return 1;
}

int CBackUpTreeCtrl::RenameSelItem(const CString& strOld, const CString& strNew)
{
    if (!m_hRootItem)
        return 0;
    BOOL bUnlisted = FALSE;
    HTREEITEM h = FindShellEventItem(strOld, bUnlisted);
    if (!h || h == m_hRootItem)
        return 0;
    CSelectionFiles files(GetDataFolder());
    CSelection sel;
    if (!files.Read(sel))
        return 0;
    bool bRenamed = sel.Rename(strOld, strNew);
    if (bUnlisted) {
        if (bRenamed) {
            WriteSelection(sel);
            ReloadCheckImages();
        }
        return 1;
    }
    HTREEITEM hParent = GetParentItem(h);
    if (!hParent || hParent == m_hRootItem)
        return 0;
    ReplaceRenamedItem(h, strNew, FALSE, true);
    CSelection built;
    BuildSelection(built, sel);
    WriteSelection(built);
    return 1;
}

void CBackUpTreeCtrl::RemoveDriveItem(const CString& strRoot)
{
    HTREEITEM h = FindListedItem(strRoot);
    if (!h || h == m_hRootItem || GetParentItem(h) != m_hRootItem)
        return;
    // The drive's selection stays in the files (the disk may come back); only the images go.
    DeleteTreeItem(h);
    if (m_hRootItem)
        RecomputeFromChildren(m_hRootItem, FALSE);
}

void CBackUpTreeCtrl::RemoveItemAndUpdateParent(HTREEITEM hItem, BOOL bForce)
{
    if (GetCheck(hItem) != TCS_FIXED)
        UpdateParentCheck(hItem, bForce);
    DeleteTreeItem(hItem);
}

void CBackUpTreeCtrl::ReplaceRenamedItem(HTREEITEM hItem, const CString& strNew, BOOL bForce, bool bLinkOverlay)
{
    HTREEITEM hParent = GetParentItem(hItem);
    if (!FindListedItem(strNew)) {
        CString strFull = ParentPath(strNew) + LastName(strNew);
        HTREEITEM hNew = InsertEntry(hParent, TVI_LAST, LastName(strNew), strFull, IsFolderAfterRename(strFull, hItem),
                                     TREE_DATA_FILE, GetCheck(hItem));
        if (hNew && bLinkOverlay && EndsWithNoCase(strFull, L"lnk"))
            SetOverlay(hNew, 2);
    } else {
        UpdateParentCheck(hItem, bForce);
    }
    DeleteTreeItem(hItem);
    SortChildren(hParent);
}

int CBackUpTreeCtrl::RenameSelFolder(const CString& strOld, const CString& strNew)
{
    int n = RemoveSelPath(strOld);
    return AddSelPath(strNew) | n;
}

int CBackUpTreeCtrl::RefreshSelFolder(const CString& strPath)
{
    HTREEITEM h = FindListedItem(UpdatedFolder(strPath));
    if (!h || h == m_hRootItem)
        return 0;
    FillFolder(h, GetItemPath(h));
    return 1;
}
