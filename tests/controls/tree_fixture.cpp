#include "tree_fixture.h"

#include <commctrl.h>
#include <shellapi.h>

CTempFolder::CTempFolder() : testsupport::CTempFolder(L"manage") {}

CString CTempFolder::MakeFolder(const wchar_t* pszName) const
{
    CString p = *this / pszName;
    testsupport::MakeFolder(p);
    return p;
}

CString CTempFolder::MakeFile(const wchar_t* pszName, const std::string& bytes) const
{
    CString p = *this / pszName;
    testsupport::WriteBytes(p, bytes);
    return p;
}

CString ItemText(HWND hTree, HTREEITEM hItem)
{
    wchar_t sz[600] = {};
    TVITEMW tvi = {};
    tvi.mask = TVIF_TEXT;
    tvi.hItem = hItem;
    tvi.pszText = sz;
    tvi.cchTextMax = 600;
    TreeView_GetItem(hTree, &tvi);
    return sz;
}

HTREEITEM FindChild(HWND hTree, HTREEITEM hParent, const CString& strText)
{
    for (HTREEITEM h = TreeView_GetChild(hTree, hParent); h; h = TreeView_GetNextSibling(hTree, h))
        if (ItemText(hTree, h).CompareNoCase(strText) == 0)
            return h;
    return nullptr;
}

int CountChildren(HWND hTree, HTREEITEM hParent)
{
    int n = 0;
    for (HTREEITEM h = TreeView_GetChild(hTree, hParent); h; h = TreeView_GetNextSibling(hTree, h))
        ++n;
    return n;
}

static HTREEITEM ChildOrNew(HWND hTree, HTREEITEM hParent, const CString& strText)
{
    if (HTREEITEM h = FindChild(hTree, hParent, strText))
        return h;
    TVINSERTSTRUCTW tvis = {};
    tvis.hParent = hParent;
    tvis.hInsertAfter = TVI_LAST;
    tvis.item.mask = TVIF_TEXT;
    tvis.item.pszText = const_cast<wchar_t*>(strText.GetString());
    return TreeView_InsertItem(hTree, &tvis);
}

HTREEITEM TreeItemForPath(HWND hTree, HTREEITEM hRoot, const CString& strPath)
{
    CString drive;
    drive.Format(L"Local Disk (%lc:)", strPath[0]);
    HTREEITEM h = ChildOrNew(hTree, hRoot, drive);
    int i = 3;
    while (i < strPath.GetLength()) {
        int j = strPath.Find(L'\\', i);
        if (j < 0)
            j = strPath.GetLength();
        h = ChildOrNew(hTree, h, strPath.Mid(i, j - i));
        i = j + 1;
    }
    return h;
}

CPoint ItemPoint(HWND hTree, HTREEITEM hItem)
{
    TreeView_EnsureVisible(hTree, hItem);
    RECT rc = {};
    TreeView_GetItemRect(hTree, hItem, &rc, TRUE);
    return CPoint((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
}
