#pragma once
// CManageTreeCtrl: the folder tree of the file-management page. No check boxes: it renames
// files, folders and volume labels in place, opens files on a double click, shows the
// shell's own context menu for an item, starts drags and carries the drop target that takes
// them (CTreeDropTarget).
//
// Under the computer root it lists the drives and the computer's shell nodes without a
// file-system path (_NODE_EXPAND). The page owns the node records; each of its two trees
// keeps a list of the same records, and an item is a node only when its data is one of the
// records in that list.

#include "InitTreeCtrl.h"
#include "TreeDropTarget.h"
#include "afxtempl.h"

#include <shlobj.h>

// One node of the computer folder that has no file-system path (a portable device and the
// like). Allocated zero-filled from the global heap with its item-identifier list in a block
// of its own: NewNodeRecord and FreeNodeRecord.
struct _NODE_EXPAND {
    wchar_t szName[260];  // the shell's display name
    int nIcon;            // small icon in the system image list
    int nPidlSize;        // bytes of the absolute item-identifier list, terminator included
    LPITEMIDLIST pidl;    // the absolute item-identifier list
};
static_assert(sizeof(void*) != 4 || sizeof(_NODE_EXPAND) == 532, "node record is 532 bytes");

// A new record with a copy of the absolute list; null when out of memory.
_NODE_EXPAND* NewNodeRecord(const wchar_t* pszName, int nIcon, LPCITEMIDLIST pidl);
void FreeNodeRecord(_NODE_EXPAND* pNode);
// How many records are allocated and not yet freed.
LONG NodeRecordsAlive();
// True when both name the same node: lists of the same size and the same bytes.
bool SameNode(const _NODE_EXPAND* a, const _NODE_EXPAND* b);
// Size in bytes of an item-identifier list with its terminator (0 for none).
UINT ItemIdListSize(LPCITEMIDLIST pidl);

// Why a new name for a file or folder is refused (0 when it is good).
enum RenameCheck {
    RENAME_OK = 0,
    RENAME_UNCHANGED,      // the same name: nothing to do
    RENAME_EMPTY,          // empty or only blanks, "." or ".."
    RENAME_BAD_CHARACTER,  // a path separator or another character names cannot hold
    RENAME_TOO_LONG,       // the new path would not fit
    RENAME_EXISTS,         // another file or folder has that name already
    RENAME_NO_PATH,        // the item is not a file or folder on a drive
};

class CManageTreeCtrl : public CInitTreeCtrl {
public:
    static constexpr int DRIVE_LABEL_LIMIT = 10;

    CManageTreeCtrl();
    ~CManageTreeCtrl() override;

    // The shell nodes shown under this tree's root (not owned: the page owns the records).
    CArray<_NODE_EXPAND*> m_arrNodes;
    // The node record of an item, or null when the item is no node of this tree.
    _NODE_EXPAND* NodeOfItem(HTREEITEM hItem) const;
    // Lists the record and shows it as the last child of the root.
    HTREEITEM AddNode(_NODE_EXPAND* pNode);
    // Takes the record out of the list and its item out of the tree (the record stays).
    void RemoveNode(_NODE_EXPAND* pNode);

    // The drop target of this tree (the page registers it with the tree's window).
    CTreeDropTarget& DropTarget() { return m_dropTarget; }

    // Nodes have no path.
    CString GetItemPath(HTREEITEM hItem) override;

    // The menu captions kept for the disk commands ("Lock", "Ulock", "Password set").
    void LoadMenuCaptions();
    CString m_strLockCaption, m_strUnlockCaption, m_strPasswordCaption;

    // --- The operations behind the handlers, for callers without a mouse ---
    // Opens an item as a double click does: files only. TRUE when a file was opened.
    BOOL OpenItem(HTREEITEM hItem);
    // The shell's context menu of an item at a screen point; the result of the right click
    // (1 when a command ran).
    LRESULT ShowShellMenu(HTREEITEM hItem, CPoint ptScreen);
    // The text the label editor starts with (a drive without its "(X:)"), and whether the
    // item can be edited at all.
    BOOL BeginEdit(HTREEITEM hItem, CString& strEditText);
    // Applies an edited label: a drive's volume label or a file's or folder's new name.
    // TRUE when something was changed; the trees are brought up to date after the edit.
    BOOL EndEdit(HTREEITEM hItem, const wchar_t* pszNewText);
    // Checks a new name for the file or folder at strOldPath ("C:\dir\a.txt\" or without
    // the backslash); the new full path goes to strNewPath.
    static RenameCheck CheckRename(const CString& strOldPath, const CString& strNewName, CString& strNewPath);
    // Lists the folder again in the four folder trees of the program.
    static void RefreshFolderEverywhere(const CString& strFolder);
    // Shows a drive's current display name in both management trees.
    static void RefreshDriveText(wchar_t chLetter);

protected:
    CTreeDropTarget m_dropTarget;
    int m_nReserved = 0;

    // The shell menu while it is open.
    IContextMenu3* m_pContextMenu3 = nullptr;
    IContextMenu2* m_pContextMenu2 = nullptr;
    IContextMenu* m_pContextMenu = nullptr;
    HMENU m_hContextMenu = nullptr;
    CPoint m_ptContextMenu;
    WNDPROC m_pfnOldWndProc = nullptr;
    static LRESULT CALLBACK ContextMenuWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT ForwardContextMenuMsg(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    // The label edit in progress: what the editor was given and which item it edits.
    CString m_strEditStart;
    HTREEITEM m_hEditItem = nullptr;
    // Work left for after the label edit: a folder to list again, a drive whose text changed.
    CString m_strPendingFolder;
    wchar_t m_chPendingDrive = 0;

    void ForgetItem(HTREEITEM hItem) override;
    HTREEITEM HitItemAtCursor(UINT nFlagsWanted, CPoint* pptClient = nullptr);

    void OnTvnBeginlabeledit(NMHDR* pNMHDR, LRESULT* pResult);
    void OnTvnEndlabeledit(NMHDR* pNMHDR, LRESULT* pResult);
    void OnNMRClick(NMHDR* pNMHDR, LRESULT* pResult);
    void OnNMDblclk(NMHDR* pNMHDR, LRESULT* pResult);
    void OnTvnItemexpanding(NMHDR* pNMHDR, LRESULT* pResult);
    void OnTvnBegindrag(NMHDR* pNMHDR, LRESULT* pResult);
    void OnMouseMove(UINT nFlags, CPoint point);
    LRESULT OnAfterEdit(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()
};

// The tree whose shell menu is open (only during a right click).
extern CManageTreeCtrl* g_pContextMenuTree;
