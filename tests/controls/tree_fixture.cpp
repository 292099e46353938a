#include "tree_fixture.h"

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>

namespace {
std::atomic<int> g_nFolder{0};

void RemoveTree(const CString& strPath)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(strPath + L"\\*", &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            CString name(fd.cFileName);
            if (name == L"." || name == L"..")
                continue;
            CString full = strPath + L"\\" + name;
            ::SetFileAttributesW(full, FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                ::DeleteFileW(full);
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(strPath);
}
} // namespace

CTempFolder::CTempFolder()
{
    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    wchar_t szLong[MAX_PATH] = {};
    if (::GetLongPathNameW(szTemp, szLong, MAX_PATH))
        wcscpy(szTemp, szLong);
    m_strPath.Format(L"%lszul_manage_%lu_%d", szTemp, ::GetCurrentProcessId(), ++g_nFolder);
    RemoveTree(m_strPath);
    ::CreateDirectoryW(m_strPath, nullptr);
}

CTempFolder::~CTempFolder() { RemoveTree(m_strPath); }

CString CTempFolder::MakeFolder(const wchar_t* pszName) const
{
    CString p = *this / pszName;
    ::CreateDirectoryW(p, nullptr);
    return p;
}

CString CTempFolder::MakeFile(const wchar_t* pszName, const std::string& bytes) const
{
    CString p = *this / pszName;
    HANDLE h = ::CreateFileW(p, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n = 0;
    ::WriteFile(h, bytes.data(), (DWORD)bytes.size(), &n, nullptr);
    ::CloseHandle(h);
    return p;
}

std::string ReadBytes(const CString& strPath)
{
    HANDLE h = ::CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string s;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(h, buf, sizeof(buf), &n, nullptr) && n)
        s.append(buf, n);
    ::CloseHandle(h);
    return s;
}

bool Exists(const CString& strPath) { return ::GetFileAttributesW(strPath) != INVALID_FILE_ATTRIBUTES; }

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
