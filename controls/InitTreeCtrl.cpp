#include "InitTreeCtrl.h"

#include "DataFiles.h"
#include "SelectionFiles.h"
#include "ShellIo.h"

#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace {

const wchar_t kPlaceholderText[] = L"temp";
constexpr UINT kCheckMask = TVIS_STATEIMAGEMASK;   // 0xF000
constexpr UINT kOverlayMask = TVIS_OVERLAYMASK;    // 0x0F00
constexpr int kDiskIconId = 198;

CString Upper(const CString& s)
{
    CString u(s);
    u.MakeUpper();
    return u;
}

// The drive letter written in a display text as "(X:)", or 0.
wchar_t LetterFromText(const CString& strText)
{
    for (int i = strText.GetLength() - 1; i >= 2; --i) {
        if (strText[i] == L':' && strText[i - 2] == L'(') {
            wchar_t ch = strText[i - 1];
            if ((ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z'))
                return ch;
        }
    }
    return 0;
}

} // namespace

BEGIN_MESSAGE_MAP(CInitTreeCtrl, CTreeCtrl)
    ON_WM_CREATE()
    ON_WM_ERASEBKGND()
    ON_NOTIFY_REFLECT(TVN_ITEMEXPANDEDW, OnTvnItemexpanded)
    ON_NOTIFY_REFLECT(TVN_ITEMEXPANDEDA, OnTvnItemexpanded)
    ON_NOTIFY_REFLECT(TVN_DELETEITEMW, OnTvnDeleteitem)
    ON_NOTIFY_REFLECT(TVN_DELETEITEMA, OnTvnDeleteitem)
END_MESSAGE_MAP()

// --- Helpers ---------------------------------------------------------------------------------

CString CInitTreeCtrl::WithBackslash(const CString& s)
{
    if (!s.IsEmpty() && s[s.GetLength() - 1] == L'\\')
        return s;
    return s + L"\\";
}

CString CInitTreeCtrl::ParentPath(const CString& strPath)
{
    CString s(strPath);
    while (s.GetLength() > 3 && s[s.GetLength() - 1] == L'\\')
        s.Delete(s.GetLength() - 1);
    int n = s.ReverseFind(L'\\');
    return n < 0 ? CString() : s.Left(n + 1);
}

CString CInitTreeCtrl::LastName(const CString& strPath)
{
    CString s(strPath);
    while (s.GetLength() > 3 && s[s.GetLength() - 1] == L'\\')
        s.Delete(s.GetLength() - 1);
    int n = s.ReverseFind(L'\\');
    return n < 0 ? s : s.Mid(n + 1);
}

bool CInitTreeCtrl::EndsWithNoCase(const CString& s, const wchar_t* pszEnd)
{
    int n = (int)wcslen(pszEnd);
    return s.GetLength() >= n && s.Right(n).CompareNoCase(pszEnd) == 0;
}

int CInitTreeCtrl::ShellIconOf(const CString& strPath, DWORD* pdwAttributes)
{
    SHFILEINFOW sfi = {};
    sfi.iIcon = 0;
    UINT uFlags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
    if (pdwAttributes) {
        uFlags |= SHGFI_ATTRIBUTES;
        sfi.dwAttributes = SFGAO_SHARE | SFGAO_LINK | SFGAO_FOLDER;
        *pdwAttributes = 0;
    }
    if (!ShellIo().FileInfo(strPath, 0, &sfi, uFlags))
        return 0;
    if (pdwAttributes)
        *pdwAttributes = sfi.dwAttributes;
    return sfi.iIcon;
}

int CInitTreeCtrl::OverlayFor(DWORD dwShellAttributes)
{
    if (dwShellAttributes & SFGAO_SHARE)
        return g_nShareOverlay;
    if (dwShellAttributes & SFGAO_LINK)
        return 2;
    return 0;
}

CString CInitTreeCtrl::DriveDisplayName(const CString& strRoot, int& nIcon)
{
    nIcon = 0;
    SHFILEINFOW sfi = {};
    if (!ShellIo().FileInfo(strRoot, 0, &sfi, SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
        return CString();
    nIcon = sfi.iIcon;
    return CString(sfi.szDisplayName);
}

bool CInitTreeCtrl::HasFileSystem(const CString& strRoot)
{
    wchar_t szFs[MAX_PATH] = {};
    return ShellIo().VolumeInformation(strRoot, nullptr, 0, nullptr, nullptr, nullptr, szFs, MAX_PATH) && szFs[0];
}

CString CInitTreeCtrl::UpdatedFolder(const CString& strPath)
{
    return EndsWithNoCase(strPath, L"rar") ? ParentPath(strPath) : strPath;
}

bool CInitTreeCtrl::IsFolderAfterRename(const CString& strNewFull, HTREEITEM hOld) const
{
    DWORD dwAttr = ::GetFileAttributesW(strNewFull);
    if (dwAttr != INVALID_FILE_ATTRIBUTES)
        return (dwAttr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return GetItemData(hOld) == TREE_DATA_FOLDER;
}

void CInitTreeCtrl::SetOverlay(HTREEITEM hItem, int nOverlay)
{
    SetItemState(hItem, INDEXTOOVERLAYMASK(nOverlay), kOverlayMask);
}

int CInitTreeCtrl::GetCheck(HTREEITEM hItem) const
{
    if (!hItem)
        return 0;
    return (int)((GetItemState(hItem, kCheckMask) & kCheckMask) >> 12);
}

void CInitTreeCtrl::SetCheck(HTREEITEM hItem, int nCheck)
{
    if (hItem)
        SetItemState(hItem, INDEXTOSTATEIMAGEMASK(nCheck), kCheckMask);
}

// --- Creation and painting -------------------------------------------------------------------

void CInitTreeCtrl::AttachImageLists()
{
    if (!m_hWnd)
        return;
    HIMAGELIST hNormal = g_hNormalImageList;
    if (!hNormal) {
        SHFILEINFOW sfi = {};
        hNormal = (HIMAGELIST)ShellIo().FileInfo(L"C:\\", 0, &sfi, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
        if (hNormal) {
            HICON hDisk = (HICON)::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDiskIconId),
                                              IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
            if (hDisk) {
                g_nDiskImage = ImageList_AddIcon(hNormal, hDisk);
                ::DestroyIcon(hDisk);
            }
            g_hNormalImageList = hNormal;
        }
    }
    if (hNormal) {
        ImageList_SetOverlayImage(hNormal, g_nShareOverlaySysImage, 1);
        ImageList_SetOverlayImage(hNormal, g_nLinkOverlaySysImage, 2);
        SetImageList(hNormal, TVSIL_NORMAL);
    }
    if (g_hStateImageList)
        SetImageList(g_hStateImageList, TVSIL_STATE);
}

int CInitTreeCtrl::OnCreate(LPCREATESTRUCT lpcs)
{
    int n = CTreeCtrl::OnCreate(lpcs);
    if (n != -1)
        AttachImageLists();
    return n;
}

BOOL CInitTreeCtrl::OnEraseBkgnd(CDC* pDC)
{
    RECT rc;
    GetClientRect(&rc);
    HBRUSH hBrush = ::CreateSolidBrush(RGB(255, 255, 255));
    ::FillRect(pDC->GetSafeHdc(), &rc, hBrush);
    ::DeleteObject(hBrush);
    return TRUE;
}

void CInitTreeCtrl::OnTvnItemexpanded(NMHDR* pNMHDR, LRESULT* pResult)
{
    NMTREEVIEWW* pNM = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    *pResult = 0;
    if (pNM->itemNew.hItem && pNM->itemNew.hItem == m_hRootItem)
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CInitTreeCtrl::OnTvnDeleteitem(NMHDR* pNMHDR, LRESULT* pResult)
{
    NMTREEVIEWW* pNM = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    *pResult = 0;
    if (pNM->itemOld.hItem) {
        if (pNM->itemOld.hItem == m_hRootItem)
            m_hRootItem = nullptr;
        ForgetItem(pNM->itemOld.hItem);
    }
}

void CInitTreeCtrl::ForgetSubtree(HTREEITEM hItem)
{
    ForgetItem(hItem);
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h))
        ForgetSubtree(h);
}

void CInitTreeCtrl::DeleteTreeItem(HTREEITEM hItem)
{
    if (!hItem)
        return;
    ForgetSubtree(hItem);
    if (hItem == m_hRootItem)
        m_hRootItem = nullptr;
    DeleteItem(hItem);
}

void CInitTreeCtrl::DeleteChildren(HTREEITEM hItem)
{
    HTREEITEM h = GetChildItem(hItem);
    while (h) {
        HTREEITEM hNext = GetNextSiblingItem(h);
        DeleteTreeItem(h);
        h = hNext;
    }
}

// --- Items -----------------------------------------------------------------------------------

HTREEITEM CInitTreeCtrl::InsertTempChildItem(HTREEITEM hParent)
{
    return InsertItem(TVIF_TEXT | TVIF_PARAM, kPlaceholderText, 0, 0, 0, 0, (LPARAM)TREE_DATA_PLACEHOLDER,
                      hParent, TVI_LAST);
}

BOOL CInitTreeCtrl::IsPlaceholderItem(HTREEITEM hItem) const
{
    return hItem && GetItemData(hItem) == TREE_DATA_PLACEHOLDER && GetItemText(hItem) == kPlaceholderText &&
           !GetChildItem(hItem);
}

BOOL CInitTreeCtrl::IsItemListed(HTREEITEM hItem) const
{
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h))
        if (IsPlaceholderItem(h))
            return FALSE;
    return TRUE;
}

HTREEITEM CInitTreeCtrl::InsertComputerItem()
{
    CString strName;
    int nIcon = 0;
    LPITEMIDLIST pidl = nullptr;
    if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &pidl)) && pidl) {
        SHFILEINFOW sfi = {};
        if (ShellIo().IDListInfo(pidl, &sfi, SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
            strName = sfi.szDisplayName;
            nIcon = sfi.iIcon;
        }
        ::CoTaskMemFree(pidl);
    }
    if (strName.IsEmpty())
        strName = L"Computer";
    m_hRootItem = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE, strName,
                             nIcon, nIcon, INDEXTOSTATEIMAGEMASK(TCS_FIXED), kCheckMask, 0, TVI_ROOT, TVI_LAST);
    InsertTempChildItem(m_hRootItem);
    // Mixed while the user's selection file names anything.
    CSelection sel;
    CSelectionFiles(GetDataFolder()).Read(sel);
    if (!sel.IsEmpty())
        SetCheck(m_hRootItem, TCS_MIXED);
    return m_hRootItem;
}

HTREEITEM CInitTreeCtrl::InsertDriveItem(const CString& strRoot, HTREEITEM hParent, int nCheck)
{
    CString strDrive = WithBackslash(strRoot);
    if (strDrive.GetLength() < 3 || strDrive[1] != L':')
        return nullptr;
    int nIcon = 0;
    CString strText = DriveDisplayName(strDrive, nIcon);
    if (strText.IsEmpty())
        strText = strDrive.Left(2);
    wchar_t chLetter = strDrive[0];
    if (chLetter >= L'a' && chLetter <= L'z')
        chLetter = (wchar_t)(chLetter - L'a' + L'A');
    DWORD_PTR dwData = (DWORD_PTR)chLetter << 8;
    if (!HasFileSystem(strDrive)) {
        dwData += 2;
        nCheck = TCS_FIXED;
    }
    HTREEITEM hItem = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE, strText,
                                 nIcon, nIcon, INDEXTOSTATEIMAGEMASK(nCheck), kCheckMask, (LPARAM)dwData,
                                 hParent ? hParent : TVI_ROOT, TVI_LAST);
    if (hItem)
        InsertTempChildItem(hItem);
    return hItem;
}

HTREEITEM CInitTreeCtrl::InsertDeviceItem(int nDeviceNumber, const CString& strLabel, int nCheck, HTREEITEM hAfter)
{
    return InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE, strLabel,
                      g_nDiskImage, g_nDiskImage, INDEXTOSTATEIMAGEMASK(nCheck), kCheckMask,
                      (LPARAM)(nDeviceNumber + TREE_DATA_DEVICE_BASE), TVI_ROOT, hAfter);
}

HTREEITEM CInitTreeCtrl::InsertEntry(HTREEITEM hParent, HTREEITEM hAfter, const CString& strName,
                                     const CString& strFullPath, bool bFolder, DWORD_PTR dwFileData, int nCheck)
{
    DWORD dwAttr = 0;
    int nIcon = ShellIconOf(strFullPath, &dwAttr);
    UINT nState = INDEXTOOVERLAYMASK(OverlayFor(dwAttr));
    UINT nMask = kOverlayMask;
    if (nCheck) {
        nState |= INDEXTOSTATEIMAGEMASK(nCheck);
        nMask |= kCheckMask;
    }
    HTREEITEM hItem = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE, strName,
                                 nIcon, nIcon, nState, nMask, (LPARAM)(bFolder ? TREE_DATA_FOLDER : dwFileData),
                                 hParent, hAfter ? hAfter : TVI_LAST);
    if (hItem && bFolder)
        InsertTempChildItem(hItem);
    return hItem;
}

// --- Paths -----------------------------------------------------------------------------------

CString CInitTreeCtrl::GetItemPath(HTREEITEM hItem)
{
    if (!m_hRootItem)
        m_hRootItem = GetRootItem();
    if (!hItem || hItem == m_hRootItem)
        return CString();
    CString strPath;
    for (HTREEITEM h = hItem; h; h = GetParentItem(h)) {
        HTREEITEM hParent = GetParentItem(h);
        if (!hParent) {
            // A top-level item other than the root: a device item.
            return h == hItem ? WithBackslash(GetItemText(h)) : CString();
        }
        if (hParent == m_hRootItem) {
            wchar_t ch = TreeDriveLetter(GetItemData(h));
            if (!ch)
                ch = LetterFromText(GetItemText(h));
            if (!ch)
                return CString();
            CString strDrive;
            strDrive.Format(L"%lc:\\", ch);
            return strDrive + strPath;
        }
        if (IsPlaceholderItem(h))
            return CString();
        strPath = WithBackslash(GetItemText(h)) + strPath;
    }
    return CString();
}

HTREEITEM CInitTreeCtrl::FindItemByPath(const CString& strPath, BOOL& bUnlisted)
{
    bUnlisted = FALSE;
    CString strUpper = Upper(WithBackslash(strPath));
    if (strUpper.GetLength() < 3 || !m_hRootItem)
        return nullptr;
    HTREEITEM hLevel = GetChildItem(m_hRootItem);
    int nMatched = 0;
    while (hLevel) {
        int nNext = strUpper.Find(L'\\', nMatched);
        CString strPrefix = strUpper.Left(nNext + 1);
        HTREEITEM hFound = nullptr;
        for (HTREEITEM h = hLevel; h; h = GetNextSiblingItem(h)) {
            if (IsPlaceholderItem(h))
                continue;
            if (Upper(GetItemPath(h)) == strPrefix) {
                hFound = h;
                break;
            }
        }
        if (!hFound)
            return nullptr;
        if (strPrefix.GetLength() == strUpper.GetLength())
            return hFound;
        if (!IsItemListed(hFound)) {
            bUnlisted = TRUE;
            return hFound;
        }
        nMatched = nNext + 1;
        hLevel = GetChildItem(hFound);
    }
    return nullptr;
}

HTREEITEM CInitTreeCtrl::FindListedItem(const CString& strPath)
{
    BOOL bUnlisted = FALSE;
    HTREEITEM h = FindItemByPath(strPath, bUnlisted);
    return bUnlisted ? nullptr : h;
}

// --- Listing and sorting ---------------------------------------------------------------------

void CInitTreeCtrl::ListFolder(HTREEITEM hItem, CString strFolder)
{
    strFolder = WithBackslash(strFolder);
    if (GetParentItem(hItem) == m_hRootItem && ShellIo().DriveType(strFolder.Left(3)) == DRIVE_NO_ROOT_DIR)
        return;
    ListEntries(hItem, strFolder, [](const WIN32_FIND_DATAW& fd, const CString& strFull, DWORD_PTR& dwData, int&) {
        if (fd.dwFileAttributes & (FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY))
            return false;
        int nIcon = ShellIconOf(strFull);
        dwData = nIcon ? (DWORD_PTR)nIcon : 1;
        return true;
    });
}

DWORD CInitTreeCtrl::ListEntries(HTREEITEM hItem, const CString& strFolder, const EntryFilter& filter)
{
    DeleteChildren(hItem);
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW(strFolder + L"*.*", &fd);
    if (hFind == INVALID_HANDLE_VALUE) {
        DWORD dwError = ::GetLastError();
        return dwError ? dwError : ERROR_FILE_NOT_FOUND;
    }
    HTREEITEM hAfter = TVI_FIRST;
    do {
        CString strName(fd.cFileName);
        if (strName == L"." || strName == L"..")
            continue;
        CString strFull = strFolder + strName;
        DWORD_PTR dwData = TREE_DATA_FILE;
        int nCheck = 0;
        if (!filter(fd, strFull, dwData, nCheck))
            continue;
        bool bFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        HTREEITEM h = InsertEntry(hItem, hAfter, strName, strFull, bFolder, dwData, nCheck);
        if (h)
            hAfter = h;
    } while (::FindNextFileW(hFind, &fd));
    ::FindClose(hFind);
    SortChildren(hItem);
    return 0;
}

int CALLBACK CInitTreeCtrl::CompareFoldersFirst(LPARAM lData1, LPARAM lData2, LPARAM)
{
    bool b1 = lData1 != 0, b2 = lData2 != 0;
    if (b1 == b2)
        return 0;
    return b1 ? 1 : -1;
}

int CALLBACK CInitTreeCtrl::CompareDriveLetters(LPARAM lData1, LPARAM lData2, LPARAM)
{
    // Items without data (the computer root) first, then drives by letter, then everything
    // else (devices by number, the placeholder last).
    auto key = [](LPARAM d) -> int {
        if (d == 0)
            return 0;
        if ((DWORD_PTR)d == TREE_DATA_PLACEHOLDER)
            return 1000;
        int nHigh = (int)((d & 0xFFFF) >> 8);
        return nHigh > 64 && nHigh <= 122 ? nHigh : 500;
    };
    int k1 = key(lData1), k2 = key(lData2);
    if (k1 != k2)
        return k1 < k2 ? -1 : 1;
    if (lData1 != lData2)
        return lData1 < lData2 ? -1 : 1;
    return 0;
}

namespace {

struct SortEntry {
    DWORD_PTR dwData;
    CString strText;
};
struct SortContext {
    std::vector<SortEntry>* pEntries;
    bool bDrives;
};

int CALLBACK CompareEntries(LPARAM l1, LPARAM l2, LPARAM lCtx)
{
    SortContext* pCtx = reinterpret_cast<SortContext*>(lCtx);
    const SortEntry& a = (*pCtx->pEntries)[(size_t)l1];
    const SortEntry& b = (*pCtx->pEntries)[(size_t)l2];
    int n = pCtx->bDrives ? CInitTreeCtrl::CompareDriveLetters((LPARAM)a.dwData, (LPARAM)b.dwData, 0)
                          : CInitTreeCtrl::CompareFoldersFirst((LPARAM)a.dwData, (LPARAM)b.dwData, 0);
    if (n)
        return n;
    // A placeholder among files goes last; names alphabetically; then by position.
    bool bp1 = a.dwData == TREE_DATA_PLACEHOLDER, bp2 = b.dwData == TREE_DATA_PLACEHOLDER;
    if (bp1 != bp2)
        return bp1 ? 1 : -1;
    n = ::lstrcmpiW(a.strText, b.strText);
    if (n)
        return n;
    return l1 < l2 ? -1 : (l1 > l2 ? 1 : 0);
}

} // namespace

void CInitTreeCtrl::SortChildren(HTREEITEM hItem)
{
    // One sort with one consistent order: the kind first, then the name. The item data is
    // swapped for an index during the sort and put back afterwards.
    std::vector<SortEntry> entries;
    std::vector<HTREEITEM> items;
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h)) {
        entries.push_back({GetItemData(h), GetItemText(h)});
        items.push_back(h);
    }
    if (items.size() < 2)
        return;
    for (size_t i = 0; i < items.size(); ++i)
        SetItemData(items[i], (DWORD_PTR)i);
    SortContext ctx{&entries, hItem == m_hRootItem || hItem == TVI_ROOT || hItem == nullptr};
    TVSORTCB sort = {};
    sort.hParent = hItem ? hItem : TVI_ROOT;
    sort.lpfnCompare = CompareEntries;
    sort.lParam = (LPARAM)&ctx;
    SortChildrenCB(&sort);
    for (size_t i = 0; i < items.size(); ++i)
        SetItemData(items[i], entries[i].dwData);
}

// --- Shell-change operations ----------------------------------------------------------------

int CInitTreeCtrl::AddPathItem(const CString& strPath)
{
    BOOL bUnlisted = FALSE;
    HTREEITEM hExisting = FindItemByPath(strPath, bUnlisted);
    if (hExisting)
        return 0;   // already shown, or inside a folder that is not listed yet
    HTREEITEM hParent = FindListedItem(ParentPath(strPath));
    if (!hParent || !IsItemListed(hParent))
        return 0;
    DWORD dwFileAttr = ::GetFileAttributesW(strPath);
    bool bFolder = dwFileAttr != INVALID_FILE_ATTRIBUTES && (dwFileAttr & FILE_ATTRIBUTE_DIRECTORY);
    CString strFull = ParentPath(strPath) + LastName(strPath);
    int nIcon = ShellIconOf(strFull);
    HTREEITEM h = InsertEntry(hParent, TVI_LAST, LastName(strPath), strFull, bFolder,
                              nIcon ? (DWORD_PTR)nIcon : 1, 0);
    if (!h)
        return 0;
    SortChildren(hParent);
    return 1;
}

int CInitTreeCtrl::RemovePathItem(const CString& strPath)
{
    HTREEITEM h = FindListedItem(strPath);
    if (!h || h == m_hRootItem)
        return 0;
    DeleteTreeItem(h);
    return 1;
}

int CInitTreeCtrl::RemovePathItemIf(const CString& strPath) { return RemovePathItem(strPath); }

int CInitTreeCtrl::RenamePathItem(const CString& strOld, const CString& strNew)
{
    HTREEITEM hOld = FindListedItem(strOld);
    if (!hOld || hOld == m_hRootItem)
        return 0;
    HTREEITEM hParent = GetParentItem(hOld);
    if (!hParent || hParent == m_hRootItem)
        return 0;   // drives are renamed through their labels, not here
    bool bFolder = IsFolderAfterRename(strNew, hOld);
    CString strFull = ParentPath(strNew) + LastName(strNew);
    int nIcon = ShellIconOf(strFull);
    InsertEntry(hParent, TVI_LAST, LastName(strNew), strFull, bFolder, nIcon ? (DWORD_PTR)nIcon : 1, 0);
    DeleteTreeItem(hOld);
    SortChildren(hParent);
    return 1;
}

int CInitTreeCtrl::RenameFolderItems(const CString& strOld, const CString& strNew)
{
    int n = RemovePathItem(strOld);
    return AddPathItem(strNew) | n;
}

int CInitTreeCtrl::RefreshPathItem(const CString& strPath)
{
    CString strFolder = UpdatedFolder(strPath);
    HTREEITEM h = FindListedItem(strFolder);
    if (!h || h == m_hRootItem)
        return 0;
    ListFolder(h, strFolder);
    return 1;
}

int CInitTreeCtrl::ToggleShareOverlay(const CString& strPath)
{
    HTREEITEM h = FindListedItem(strPath);
    if (!h)
        return 0;
    if (GetItemState(h, kOverlayMask) & kOverlayMask)
        SetOverlay(h, 0);
    else
        SetOverlay(h, 1);
    return 1;
}

// --- Shell events from the main window ------------------------------------------------------

void CInitTreeCtrl::ShellRenameAcrossFolders(const CString& strOld, const CString& strNew)
{
    RenameFolderItems(strOld, strNew);
}
void CInitTreeCtrl::ShellRenameInFolder(const CString& strOld, const CString& strNew)
{
    RenamePathItem(strOld, strNew);
}
void CInitTreeCtrl::ShellItemCreated(const CString& strPath) { AddPathItem(strPath); }
void CInitTreeCtrl::ShellItemDeleted(const CString& strPath) { RemovePathItem(strPath); }
void CInitTreeCtrl::ShellShareChanged(const CString& strPath) { ToggleShareOverlay(strPath); }
void CInitTreeCtrl::ShellFolderUpdated(const CString& strPath) { RefreshPathItem(strPath); }

bool CInitTreeCtrl::HasItemForPath(const CString& strPath) { return FindListedItem(strPath) != nullptr; }

void CInitTreeCtrl::SetPathItemImage(const CString& strPath, int nImage)
{
    if (HTREEITEM h = FindListedItem(strPath))
        SetItemImage(h, nImage, nImage);
}

void CInitTreeCtrl::AddDriveItem(const CString& strRoot, const CString& strText, int nImage, DWORD_PTR dwItemData,
                                 int nCheckState)
{
    if (HasItemForPath(strRoot))
        return;
    if (!m_hRootItem)
        m_hRootItem = GetRootItem();
    HTREEITEM hParent = m_hRootItem ? m_hRootItem : TVI_ROOT;
    UINT nMask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    if (nCheckState)
        nMask |= TVIF_STATE;
    HTREEITEM h = InsertItem(nMask, strText, nImage, nImage, INDEXTOSTATEIMAGEMASK(nCheckState),
                             nCheckState ? TVIS_STATEIMAGEMASK : 0, (LPARAM)dwItemData, hParent, TVI_LAST);
    if (!h)
        return;
    InsertTempChildItem(h);
    SortChildren(hParent == TVI_ROOT ? nullptr : hParent);
}

void CInitTreeCtrl::RemoveDriveItem(const CString& strRoot) { RemovePathItemIf(strRoot); }
