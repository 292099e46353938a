#include "UsbTreeCtrl.h"

#include "DataFiles.h"
#include "LanguageText.h"
#include "SelectionFiles.h"
#include "ShellIo.h"
#include "StoreNames.h"
#include "TempCopies.h"

#include <vector>

using copyengine::kStoreName;

namespace {

bool PathExists(const CString& strPath) { return ::GetFileAttributesW(strPath) != INVALID_FILE_ATTRIBUTES; }

// The copy engine's own folder in the store holds nothing of the user's: never shown.
bool IsEngineFolder(const CString& strParent, const CString& strName, const CString& strRootPath)
{
    CString parent(strParent);
    if (!parent.IsEmpty() && parent[parent.GetLength() - 1] != L'\\')
        parent += L"\\";
    return strName.CompareNoCase(kEngineFolderName) == 0 &&
           parent.CompareNoCase(strRootPath + kStoreName + L"\\") == 0;
}

} // namespace

BEGIN_MESSAGE_MAP(CUsbTreeCtrl, CBackUpTreeCtrl)
    ON_NOTIFY_REFLECT(NM_RCLICK, OnNMRClick)
END_MESSAGE_MAP()

CBackUpTreeCtrl* CUsbTreeCtrl::OtherTree()
{
    CBackUpTreeCtrl* p = FromTreeWnd(g_hSourceTreeWnd);
    return p == this ? nullptr : p;
}

void CUsbTreeCtrl::ForgetItem(HTREEITEM hItem) { CBackUpTreeCtrl::ForgetItem(hItem); }

HTREEITEM CUsbTreeCtrl::GetDriveRootItem() const
{
    HTREEITEM h = GetRootItem();
    return h && GetItemData(h) == TREE_DATA_DEST_ROOT ? h : nullptr;
}

// --- Drive root ------------------------------------------------------------------------------

void CUsbTreeCtrl::ShowDriveRoot(const CString& strPath)
{
    m_hHoverItem = nullptr;
    if (HTREEITEM hOld = GetDriveRootItem())
        DeleteTreeItem(hOld);
    m_hChosenDeviceItem = nullptr;

    if (!strPath.IsEmpty()) {
        m_strRootPath = WithBackslash(strPath);
        int nIcon = 0;
        CString strName = DriveDisplayName(m_strRootPath, nIcon);
        if (!strName.IsEmpty()) {
            int nCheck = HasFileSystem(m_strRootPath) ? TCS_UNCHECKED : TCS_FIXED;
            HTREEITEM hRoot = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE,
                                         strName, nIcon, nIcon, INDEXTOSTATEIMAGEMASK(nCheck), TVIS_STATEIMAGEMASK,
                                         (LPARAM)TREE_DATA_DEST_ROOT, TVI_ROOT, TVI_FIRST);
            WIN32_FIND_DATAW fd;
            HANDLE hFind = hRoot ? ::FindFirstFileW(m_strRootPath + kStoreName, &fd) : INVALID_HANDLE_VALUE;
            if (hFind != INVALID_HANDLE_VALUE) {
                ::FindClose(hFind);
                bool bFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                InsertEntry(hRoot, TVI_LAST, fd.cFileName, m_strRootPath + fd.cFileName, bFolder, TREE_DATA_FILE,
                            nCheck);
            }
        }
    } else {
        m_strRootPath.Empty();
    }

    for (HTREEITEM h = GetRootItem(); h; h = GetNextSiblingItem(h)) {
        if (GetItemData(h) != TREE_DATA_DEST_ROOT && GetCheck(h) == TCS_CHECKED)
            m_hChosenDeviceItem = h;
    }
}

void CUsbTreeCtrl::AddDriveRoot(const CString& strRoot)
{
    CString strWith = WithBackslash(strRoot);
    for (INT_PTR i = 0; i < m_arrDriveRoots.GetSize(); ++i)
        if (m_arrDriveRoots[i].CompareNoCase(strWith) == 0)
            return;
    m_arrDriveRoots.Add(strWith);
}

bool CUsbTreeCtrl::RemoveTopDriveItem(const CString& strDrive)
{
    HTREEITEM hRoot = GetDriveRootItem();
    if (!hRoot || strDrive.GetLength() < 2 || m_strRootPath.Left(2).CompareNoCase(strDrive.Left(2)) != 0)
        return false;
    m_hHoverItem = nullptr;
    DeleteTreeItem(hRoot);
    return true;
}

// --- Paths -----------------------------------------------------------------------------------

CString CUsbTreeCtrl::GetItemPath(HTREEITEM hItem)
{
    if (!hItem)
        return CString();
    CString strRel;
    HTREEITEM hTop = hItem;
    while (HTREEITEM hParent = GetParentItem(hTop)) {
        if (IsPlaceholderItem(hTop))
            return CString();
        strRel = WithBackslash(GetItemText(hTop)) + strRel;
        hTop = hParent;
    }
    if (GetItemData(hTop) == TREE_DATA_DEST_ROOT)
        return m_strRootPath.IsEmpty() ? CString() : m_strRootPath + strRel;
    return hTop == hItem ? WithBackslash(GetItemText(hItem)) : CString();
}

HTREEITEM CUsbTreeCtrl::FindItemByPath(const CString& strPath, BOOL& bUnlisted)
{
    bUnlisted = FALSE;
    CString strTarget = WithBackslash(strPath);
    if (strTarget.GetLength() < 3)
        return nullptr;
    HTREEITEM hLevel = GetRootItem();
    while (hLevel) {
        HTREEITEM hDeeper = nullptr;
        for (HTREEITEM h = hLevel; h; h = GetNextSiblingItem(h)) {
            if (IsPlaceholderItem(h))
                continue;
            CString strItem = GetItemPath(h);
            if (strItem.IsEmpty())
                continue;
            if (strItem == strTarget)
                return h;
            bool bPrefix = strTarget.GetLength() > strItem.GetLength() &&
                           strTarget.Left(strItem.GetLength()) == strItem;
            if (bPrefix && (GetParentItem(h) || GetItemData(h) == TREE_DATA_DEST_ROOT)) {
                hDeeper = h;
                break;
            }
        }
        if (!hDeeper)
            return nullptr;
        if (!IsItemListed(hDeeper)) {
            bUnlisted = TRUE;
            return hDeeper;
        }
        hLevel = GetChildItem(hDeeper);
    }
    return nullptr;
}

// --- Listing ---------------------------------------------------------------------------------

void CUsbTreeCtrl::FillFolder(HTREEITEM hItem, CString strPath)
{
    if (hItem == GetDriveRootItem())
        return;   // the drive root shows the store folder only
    int nChild = ListedChildImage(GetCheck(hItem));
    const CString strFolder = WithBackslash(strPath);
    const CString strRoot = m_strRootPath;
    ListEntries(hItem, strFolder,
                [nChild, &strFolder, &strRoot](const WIN32_FIND_DATAW& fd, const CString&, DWORD_PTR&, int& nCheck) {
                    nCheck = nChild;
                    return (fd.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) == 0 &&
                           !IsEngineFolder(strFolder, fd.cFileName, strRoot);
                });
}

// --- Restore list ----------------------------------------------------------------------------

void CUsbTreeCtrl::WriteCheckedItems(HTREEITEM hItem, std::vector<CString>& entries)
{
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h)) {
        if (IsPlaceholderItem(h))
            continue;
        int nImage = GetCheck(h);
        if (nImage == TCS_CHECKED) {
            CString strPath = GetItemPath(h);
            if (strPath.GetLength() > 3)
                entries.push_back(CSelection::FlatForm(strPath));
        } else if (nImage == TCS_MIXED) {
            if (!IsItemListed(h) && m_bRestoreMode)
                FillFolder(h, GetItemPath(h));
            WriteCheckedItems(h, entries);
        }
    }
}

bool CUsbTreeCtrl::SaveSelection()
{
    std::vector<CString> entries;
    // Only what lies inside the drive root: device items are choices, not paths, and a checked
    // drive root stands for the store folder below it.
    if (HTREEITEM hRoot = GetDriveRootItem()) {
        int nImage = GetCheck(hRoot);
        if (nImage == TCS_CHECKED || nImage == TCS_MIXED)
            WriteCheckedItems(hRoot, entries);
    }
    CString strFile = g_strAppDir + (m_strListFile.IsEmpty() ? CString(kRestoreListFile) : m_strListFile);
    DWORD dwError = 0;
    if (WritePathListFile(strFile, entries, &dwError))
        return true;
    ::DeleteFileW(strFile);   // no older list may stand in for this one
    ReportWriteFailure(strFile, dwError);
    return false;
}

// --- Clicks ----------------------------------------------------------------------------------

LRESULT CUsbTreeCtrl::ClickStateIcon(HTREEITEM hItem)
{
    if (!hItem)
        return 0;
    int nImage = GetCheck(hItem);
    if (nImage == TCS_FIXED)
        return 1;
    if (!GetParentItem(hItem) && IsTreeDeviceData(GetItemData(hItem))) {
        if (nImage == TCS_UNCHECKED || nImage == TCS_UNCHECKED_ALT) {
            // Choosing a device gives up what was checked on the drive shown.
            HTREEITEM hRoot = GetDriveRootItem();
            if (hRoot && GetCheck(hRoot) != TCS_FIXED) {
                SetCheck(hRoot, TCS_UNCHECKED);
                for (HTREEITEM h = GetChildItem(hRoot); h; h = GetNextSiblingItem(h)) {
                    int n = GetCheck(h);
                    if (n == TCS_CHECKED || n == TCS_MIXED) {
                        SetCheck(h, TCS_UNCHECKED);
                        SetSubtreeCheck(h, TCS_UNCHECKED);
                    }
                }
            }
        }
        ClickDeviceItem(hItem, nImage);
        return 1;
    }
    ReleaseDevicePair();
    SelectItem(hItem);
    SetCheckImage((UINT)(nImage == TCS_CHECKED ? TCS_UNCHECKED : TCS_CHECKED) << 12, hItem, TRUE);
    return 1;   // the restore list is written when a restore starts
}

// --- Delete ----------------------------------------------------------------------------------

CString CUsbTreeCtrl::GetDeletablePath(HTREEITEM hItem)
{
    if (!hItem || m_strRootPath.GetLength() < 3)
        return CString();
    CString strPath = GetItemPath(hItem);
    if (strPath.GetLength() <= 3)
        return CString();
    CString strFlat = CSelection::FlatForm(strPath);
    // Nothing outside the chosen disk's store is ever offered.
    if (!CSelection::IsAtOrBelow(strFlat, m_strRootPath + kStoreName))
        return CString();
    if (strFlat.GetLength() >= MAX_PATH || !PathExists(strFlat))
        return CString();
    return strFlat;
}

BOOL CUsbTreeCtrl::DeleteItemFiles(HTREEITEM hItem)
{
    CString strPath = GetDeletablePath(hItem);
    if (strPath.IsEmpty())
        return FALSE;
    // The shell reads a list ended by two zero characters: size it by the path.
    std::vector<wchar_t> from((size_t)strPath.GetLength() + 2, L'\0');
    wmemcpy(from.data(), strPath.GetString(), (size_t)strPath.GetLength());
    SHFILEOPSTRUCTW op = {};
    op.hwnd = m_hWnd;
    op.wFunc = FO_DELETE;
    op.pFrom = from.data();
    op.fFlags = FOF_ALLOWUNDO;
    return ShellIo().FileOperation(&op) == 0 && !op.fAnyOperationsAborted;
}

void CUsbTreeCtrl::ShowDeleteMenu(HTREEITEM hItem, CPoint ptScreen)
{
    if (GetDeletablePath(hItem).IsEmpty())
        return;
    CString strText = GetLanguageTextOr(L"DeleteSelectFile", L"Delete selected files");
    strText += L"(&D)";
    HMENU hMenu = ::CreatePopupMenu();
    if (!hMenu)
        return;
    ::AppendMenuW(hMenu, MF_STRING, ID_DELETE_SELECTED, strText);
    UINT nCmd = ShellIo().TrackMenu(hMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON, ptScreen.x, ptScreen.y, m_hWnd);
    ::DestroyMenu(hMenu);
    if (nCmd == ID_DELETE_SELECTED)
        DeleteItemFiles(hItem);
}

void CUsbTreeCtrl::OnNMRClick(NMHDR*, LRESULT* pResult)
{
    *pResult = 1;
    POINT pt;
    ::GetCursorPos(&pt);
    POINT ptClient = pt;
    ::ScreenToClient(m_hWnd, &ptClient);
    UINT nFlags = 0;
    HTREEITEM h = HitTest(CPoint(ptClient.x, ptClient.y), &nFlags);
    if (h && (nFlags & (TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON)))
        SelectItem(h);
    ShowDeleteMenu(GetSelectedItem(), CPoint(pt.x, pt.y));
}

// --- Shell changes ---------------------------------------------------------------------------

int CUsbTreeCtrl::AddSelPath(const CString& strPath)
{
    CString strParent = ParentPath(strPath);
    CString strName = LastName(strPath);
    if (strParent.CompareNoCase(m_strRootPath) == 0 && strName.CompareNoCase(kStoreName) != 0)
        return 0;   // only the store is shown in the drive root
    if (IsEngineFolder(strParent, strName, m_strRootPath))
        return 0;
    BOOL bUnlisted = FALSE;
    if (FindItemByPath(strPath, bUnlisted))
        return 0;
    HTREEITEM hParent = FindItemByPath(strParent, bUnlisted);
    if (!hParent || bUnlisted || (!GetParentItem(hParent) && hParent != GetDriveRootItem()))
        return 0;
    CString strFull = strParent + strName;
    DWORD dwAttr = ::GetFileAttributesW(strFull);
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_SYSTEM))
        return 0;
    bool bFolder = dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
    int nImage = NewEntryImage(GetCheck(hParent));
    HTREEITEM h = InsertEntry(hParent, TVI_LAST, strName, strFull, bFolder, TREE_DATA_FILE, nImage);
    if (!h)
        return 0;
    PropagateCheckUp(h, nImage, TRUE);
    SortChildren(hParent);
    return 1;
}

int CUsbTreeCtrl::RemoveSelPath(const CString& strPath)
{
    HTREEITEM h = FindListedItem(strPath);
    if (!h || !GetParentItem(h))
        return 0;
    RemoveItemAndUpdateParent(h, TRUE);
    return 1;
}

int CUsbTreeCtrl::RenameSelItem(const CString& strOld, const CString& strNew)
{
    HTREEITEM h = FindListedItem(strOld);
    if (!h || !GetParentItem(h))
        return 0;
    ReplaceRenamedItem(h, strNew, TRUE, false);
    return 1;
}

int CUsbTreeCtrl::RefreshSelFolder(const CString& strPath)
{
    if (m_strRootPath.IsEmpty() || strPath.Left(3).CompareNoCase(m_strRootPath.Left(3)) != 0)
        return 0;
    CString strFolder = UpdatedFolder(strPath);
    if (CSelection::FlatForm(strFolder).GetLength() <= 3) {
        ShowDriveRoot(m_strRootPath);
        return 1;
    }
    HTREEITEM h = FindListedItem(strFolder);
    if (!h || !GetParentItem(h))
        return 0;
    FillFolder(h, GetItemPath(h));
    return 1;
}
