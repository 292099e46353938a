#pragma once
// CInitTreeCtrl: the common base of the program's folder trees. It owns the item model they
// share: a computer root, drive and device items beside or below it, folders and files listed
// lazily behind a placeholder child, the path of an item, the search of an item by path,
// sorting, the image lists with their overlays, and the small shell-change operations.
//
// Item text: the shell's display name for the computer root and the drives, the file-system
// name for folders and files (so that a path built from the texts is a real path). Item data:
// see TreeShared.h. The check image (TreeCheckState) is the item's state image.
//
// User-interface thread only.

#include "ShellChangeSink.h"
#include "TreeShared.h"
#include "afxctl.h"
#include "afxwin.h"

#include <functional>

class CInitTreeCtrl : public CTreeCtrl, public IShellChangeSink {
public:
    CInitTreeCtrl() = default;
    ~CInitTreeCtrl() override = default;

    // The computer root (the first top-level item of a source or management tree).
    HTREEITEM m_hRootItem = nullptr;

    // Gives the control the program's normal and state image lists (the system's small icons
    // when the main window has not set a normal list up) and binds the share and link overlays.
    // Called on creation; a page that subclasses a dialog control calls it itself.
    void AttachImageLists();

    // --- Items ---
    HTREEITEM InsertComputerItem();
    // The placeholder "temp" as the last child of hParent.
    HTREEITEM InsertTempChildItem(HTREEITEM hParent);
    BOOL IsPlaceholderItem(HTREEITEM hItem) const;
    // True when the item's children are in the tree (no placeholder child).
    BOOL IsItemListed(HTREEITEM hItem) const;
    // A drive item at the end of the top level (or below the computer root when hParent is
    // given): text and icon from the shell, data the letter << 8 (+2 and check image 5 when the
    // volume has no file system, else nCheck), a placeholder child. The caller sorts.
    HTREEITEM InsertDriveItem(const CString& strRoot, HTREEITEM hParent, int nCheck);
    // A device item: text, the program's disk image, data number + 3, check image nCheck,
    // inserted after hAfter (TVI_LAST for the end) at the top level.
    HTREEITEM InsertDeviceItem(int nDeviceNumber, const CString& strLabel, int nCheck,
                               HTREEITEM hAfter = TVI_LAST);

    // Check image of an item (0 for none) and its setter.
    int GetCheck(HTREEITEM hItem) const;
    void SetCheck(HTREEITEM hItem, int nCheck);

    // Path of an item, always ending in a backslash: "C:\" for a drive, "C:\A\b.txt\" for a
    // file; empty for the root and for an item whose drive is unknown. A top-level item other
    // than the root gives its text and a backslash.
    virtual CString GetItemPath(HTREEITEM hItem);
    // The item of a path (with or without the trailing backslash, any letter case). When the
    // walk reaches a folder that is not listed yet, that folder is returned and bUnlisted set.
    virtual HTREEITEM FindItemByPath(const CString& strPath, BOOL& bUnlisted);
    // The item of exactly this path when it is in the tree; null otherwise.
    HTREEITEM FindListedItem(const CString& strPath);

    // Lists a folder under its item (management trees) and sorts it.
    void ListFolder(HTREEITEM hItem, CString strFolder);
    // Decides on one entry of a folder being listed ("." and ".." never reach it): false leaves
    // it out; otherwise the item data it gets as a file and its check image (0 for none).
    using EntryFilter =
        std::function<bool(const WIN32_FIND_DATAW& fd, const CString& strFull, DWORD_PTR& dwFileData, int& nCheck)>;
    // Replaces an item's children by the entries of a folder (ending in a backslash) that the
    // filter keeps, in the order the file system gives them, then sorts them. Returns 0, or the
    // system's error when the folder could not be searched (ERROR_FILE_NOT_FOUND: nothing in it).
    DWORD ListEntries(HTREEITEM hItem, const CString& strFolder, const EntryFilter& filter);
    // Folders before files, each kind alphabetically; under the root, drives by letter.
    void SortChildren(HTREEITEM hItem);
    static int CALLBACK CompareFoldersFirst(LPARAM lData1, LPARAM lData2, LPARAM);
    static int CALLBACK CompareDriveLetters(LPARAM lData1, LPARAM lData2, LPARAM);

    // Deletes an item; every handle the tree keeps to it or below it is forgotten first.
    void DeleteTreeItem(HTREEITEM hItem);
    // Deletes every child of an item.
    void DeleteChildren(HTREEITEM hItem);

    // --- Shell-change operations (full paths as the shell reports them); 1 when acted ---
    int AddPathItem(const CString& strPath);
    int RemovePathItem(const CString& strPath);
    int RemovePathItemIf(const CString& strPath);
    int RenamePathItem(const CString& strOld, const CString& strNew);
    int RenameFolderItems(const CString& strOld, const CString& strNew);
    int RefreshPathItem(const CString& strPath);
    int ToggleShareOverlay(const CString& strPath);

    // --- The main window's shell events (IShellChangeSink) ---
    void ShellRenameAcrossFolders(const CString& strOld, const CString& strNew) override;
    void ShellRenameInFolder(const CString& strOld, const CString& strNew) override;
    void ShellItemCreated(const CString& strPath) override;
    void ShellItemDeleted(const CString& strPath) override;
    void ShellShareChanged(const CString& strPath) override;
    void ShellFolderUpdated(const CString& strPath) override;
    bool HasItemForPath(const CString& strPath) override;
    void SetPathItemImage(const CString& strPath, int nImage) override;
    // Below the computer root when the tree has one, else at the top level; then sorted.
    void AddDriveItem(const CString& strRoot, const CString& strText, int nImage, DWORD_PTR dwItemData,
                      int nCheckState) override;
    void RemoveDriveItem(const CString& strRoot) override;

    // Helpers for the derived trees.
    static CString WithBackslash(const CString& s);
    static CString ParentPath(const CString& strPath);   // up to and including the last backslash
    static CString LastName(const CString& strPath);     // after the last backslash
    static bool EndsWithNoCase(const CString& s, const wchar_t* pszEnd);
    // Shell icon index and attributes (SFGAO_*) of a path through the shell seam.
    static int ShellIconOf(const CString& strPath, DWORD* pdwAttributes = nullptr);
    // The shell's display name and small icon of a drive root; empty when the shell has none.
    static CString DriveDisplayName(const CString& strRoot, int& nIcon);
    // True when the volume of a drive root reports a file system.
    static bool HasFileSystem(const CString& strRoot);
    // The folder a shell update names: an update of a ".rar" stands for its folder.
    static CString UpdatedFolder(const CString& strPath);
    // Whether the renamed entry strNewFull is a folder: from the file system, or from the old
    // item when the entry is already gone again.
    bool IsFolderAfterRename(const CString& strNewFull, HTREEITEM hOld) const;
    // Overlay index for an entry with the given shell attributes.
    static int OverlayFor(DWORD dwShellAttributes);
    void SetOverlay(HTREEITEM hItem, int nOverlay);
    // Inserts one listed entry (file-system name) after hAfter under hParent.
    HTREEITEM InsertEntry(HTREEITEM hParent, HTREEITEM hAfter, const CString& strName,
                          const CString& strFullPath, bool bFolder, DWORD_PTR dwFileData, int nCheck);

protected:
    // Called for every item about to leave the tree (the item and each descendant).
    virtual void ForgetItem(HTREEITEM) {}
    void ForgetSubtree(HTREEITEM hItem);

    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnTvnItemexpanded(NMHDR* pNMHDR, LRESULT* pResult);
    void OnTvnDeleteitem(NMHDR* pNMHDR, LRESULT* pResult);
    DECLARE_MESSAGE_MAP()
};
