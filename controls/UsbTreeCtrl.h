#pragma once
// CUsbTreeCtrl: the destination tree of the backup page. It shows the chosen backup disk's
// drive root with only its store folder "VEZORI" below it, lets the user check what a restore
// takes, deletes files of the store through the shell's recycle bin, and shows the backup
// disks as device items that pair with the source tree's. It never touches the user's
// selection files; a restore has it write its checked items to the restore list.

#include "BackUpTreeCtrl.h"

class CUsbTreeCtrl : public CBackUpTreeCtrl {
public:
    CUsbTreeCtrl() = default;
    ~CUsbTreeCtrl() override = default;

    CString m_strRootPath;     // the drive root shown, with its backslash
    int m_nDeviceReset = 0;    // set by the page when the chosen device went away

    static constexpr UINT ID_DELETE_SELECTED = 900;

    // Shows a drive's root and its store folder (an empty path only removes the drive root).
    void ShowDriveRoot(const CString& strPath);
    HTREEITEM GetDriveRootItem() const;

    CString GetItemPath(HTREEITEM hItem) override;
    HTREEITEM FindItemByPath(const CString& strPath, BOOL& bUnlisted) override;
    void FillFolder(HTREEITEM hItem, CString strPath) override;
    void WriteCheckedItems(HTREEITEM hItem, std::vector<CString>& entries) override;
    // Writes the checked items to the list file (g_strAppDir + m_strListFile, normally
    // "restoreTempPath.xml"), replacing it in one move. False (reported) when it could not be
    // written: the restore must then not start.
    bool SaveSelection() override;

    // Shell changes on the destination disk.
    int AddSelPath(const CString& strPath) override;
    int RemoveSelPath(const CString& strPath) override;
    int RenameSelItem(const CString& strOld, const CString& strNew) override;
    int RefreshSelFolder(const CString& strPath) override;

    LRESULT ClickStateIcon(HTREEITEM hItem) override;
    // The path the delete command would remove for an item: inside the store, existing, without
    // the trailing backslash; empty when there is nothing to offer.
    CString GetDeletablePath(HTREEITEM hItem);
    // The delete command: the item's path to the recycle bin through the shell (which asks).
    // True when the shell reported success.
    BOOL DeleteItemFiles(HTREEITEM hItem);
    // The right click on an item: selects it and offers the delete menu at a screen point.
    void ShowDeleteMenu(HTREEITEM hItem, CPoint ptScreen);

    BOOL PreTranslateMessage(MSG*) override { return FALSE; }

protected:
    CBackUpTreeCtrl* OtherTree() override;
    void ForgetItem(HTREEITEM hItem) override;

    void OnNMRClick(NMHDR* pNMHDR, LRESULT* pResult);
    DECLARE_MESSAGE_MAP()
};
