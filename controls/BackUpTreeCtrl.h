#pragma once
// CBackUpTreeCtrl: the check-box source tree of the backup page. Every item carries a check
// image (TreeCheckState): 1 unchecked, 2 mixed, 3 checked, 5 fixed. A click on a check box
// checks or unchecks the item with its whole subtree and recomputes its ancestors; the
// selection files are rewritten at once from what the tree shows (see SelectionFiles.h), so
// the backup always copies what the tree shows. A drive whose images are not the user's (one
// not there now, one shown fixed, one whose folders cannot be read) keeps what the files hold
// for it. Device items (one per backup disk, beside the computer root) are a single choice
// shared with the destination tree.
//
// Mouse handling is split so that tests can drive it without a cursor: ClickStateIcon is a
// click on an item's check box, UpdateHoverTip the mouse over an item.

#include "InitTreeCtrl.h"

#include <set>
#include <vector>

class CSelection;

class CBackUpTreeCtrl : public CInitTreeCtrl {
public:
    CBackUpTreeCtrl() = default;
    ~CBackUpTreeCtrl() override = default;

    HTREEITEM m_hHoverItem = nullptr;       // the item under the mouse (tooltip)
    CString m_strListFile;                  // selection list file, relative to the program folder
    int m_bRestoreMode = 0;
    int m_bTrackingMouse = 0;
    CString m_strBasePath;
    int m_nChosenDevice = -1;               // device chosen in this tree, -1 for none
    int m_nDeviceReset = 0;                 // set by the page when the chosen device went away
    HTREEITEM m_hChosenDeviceItem = nullptr;
    HTREEITEM m_hFixedDeviceItem = nullptr; // this tree's item fixed by the other tree's choice
    CString m_strTipDriveCaption;
    CString m_strTipSizeCaption;
    CString m_strHoverTip;                  // text of the tooltip last shown

    void SetListFile(const CString& strName) { m_strListFile = strName; }

    // --- Check images ---
    // Sets an item's image (value << 12), gives its descendants the same (fixed ones keep
    // theirs) and recomputes its ancestors. Returns the topmost ancestor whose image changed.
    HTREEITEM SetCheckImage(UINT nImageShifted, HTREEITEM hItem, BOOL bForce);
    void SetSubtreeCheck(HTREEITEM hItem, int nImage);
    // Recomputes the ancestors of an item from their children; *phTop (optional) receives the
    // topmost one that changed.
    void PropagateCheckUp(HTREEITEM hItem, int nImage, BOOL bForce, HTREEITEM* phTop = nullptr);
    // Recomputes an item's parent as if the item were gone (before it is removed); returns the
    // topmost changed ancestor or null.
    HTREEITEM UpdateParentCheck(HTREEITEM hItem, BOOL bForce);

    // --- Listing ---
    virtual void FillFolder(HTREEITEM hItem, CString strPath);
    virtual void IgnorePath(const CString&) {}
    // Called when an item is about to expand; lists it on its first expansion.
    void ExpandingItem(HTREEITEM hItem, UINT nState);

    // --- Selection ---
    // Writes the selection the tree shows; false (reported, tree reloaded) on failure.
    virtual bool SaveSelection();
    // Sets the images of the drives and of every listed item from "filepath.xml".
    void ReloadCheckImages();
    // True when the tree shows what lies inside an item: it is listed and its folder could be
    // read when it was.
    bool ShowsContents(HTREEITEM hItem) const;
    // The flat entries of the checked items below an item, as a backup or restore list.
    virtual void WriteCheckedItems(HTREEITEM hItem, std::vector<CString>& entries);

    // --- Shell-change operations (source tree) ---
    virtual int AddSelPath(const CString& strPath);
    virtual int RemoveSelPath(const CString& strPath);
    virtual int RenameSelItem(const CString& strOld, const CString& strNew);
    virtual int RenameSelFolder(const CString& strOld, const CString& strNew);
    virtual int RefreshSelFolder(const CString& strPath);

    // The main window's shell events go to the operations above.
    void ShellRenameAcrossFolders(const CString& strOld, const CString& strNew) override
    {
        RenameSelFolder(strOld, strNew);
    }
    void ShellRenameInFolder(const CString& strOld, const CString& strNew) override { RenameSelItem(strOld, strNew); }
    void ShellItemCreated(const CString& strPath) override { AddSelPath(strPath); }
    void ShellItemDeleted(const CString& strPath) override { RemoveSelPath(strPath); }
    void ShellFolderUpdated(const CString& strPath) override { RefreshSelFolder(strPath); }
    // A drive item removed takes its images' share of the root with it.
    void RemoveDriveItem(const CString& strRoot) override;
    // A drive that arrives takes its images from "filepath.xml", as the drives shown when the
    // page opens do; nCheckState only tells a drive shown fixed (TCS_FIXED).
    void AddDriveItem(const CString& strRoot, const CString& strText, int nImage, DWORD_PTR dwItemData,
                      int nCheckState) override;

    // --- Mouse, split for callers without a cursor ---
    // A click on the check box of an item: the result of the click notification (1 handled).
    virtual LRESULT ClickStateIcon(HTREEITEM hItem);
    // The mouse over an item (null: over no item).
    void UpdateHoverTip(HTREEITEM hItem);
    void LeaveHover();

    // The tree object of a window handle (null when it is not one of these trees).
    static CBackUpTreeCtrl* FromTreeWnd(HWND hWnd);

    BOOL PreTranslateMessage(MSG* pMsg) override;

    static bool IsDeviceItemData(DWORD_PTR d) { return IsTreeDeviceData(d); }

protected:
    void ForgetItem(HTREEITEM hItem) override;
    // The other tree of the device pairing.
    virtual CBackUpTreeCtrl* OtherTree();
    // Recomputes one item from its children; returns true when its image changed.
    bool RecomputeFromChildren(HTREEITEM hItem, BOOL bForce);
    void BuildSelection(CSelection& sel, const CSelection& old);
    // The images of one drive item and of its listed items from a selection (a drive shown
    // fixed keeps its image).
    void ApplyDriveImages(HTREEITEM hDrive, const CSelection& sel);
    void AddItemToSelection(HTREEITEM hItem, const CString& strPath, CSelection& sel, const CSelection& old);
    bool WriteSelection(const CSelection& sel);
    void ApplyImagesBelow(HTREEITEM hItem, const CString& strPath, const CSelection& sel);
    void ReportWriteFailure(const CString& strFile, DWORD dwError);
    void ReleaseDevicePair();
    // The other tree's device item fixed by this tree's choice goes back to unchecked.
    void ReleaseOtherFixed(CBackUpTreeCtrl* pOther);
    // A click on a device item's check box (image nImage): an unchecked device becomes this
    // tree's one chosen device and fixes the same device in the other tree; a checked one is
    // given up and releases it there.
    void ClickDeviceItem(HTREEITEM hItem, int nImage);
    // The item of a path for a shell event, as FindItemByPath finds it; a path below a folder
    // that could not be read when it was listed gives that folder, with bUnlisted set, as a path
    // below a folder not listed yet does.
    HTREEITEM FindShellEventItem(const CString& strPath, BOOL& bUnlisted);
    // Removes an item after recomputing its parent as if it were gone (fixed items aside).
    void RemoveItemAndUpdateParent(HTREEITEM hItem, BOOL bForce);
    // Shows a renamed entry: a new item with the old one's image under the same parent when the
    // new path is not shown yet (shortcuts with the link overlay when bLinkOverlay), then the
    // old item goes and the parent is sorted.
    void ReplaceRenamedItem(HTREEITEM hItem, const CString& strNew, BOOL bForce, bool bLinkOverlay);
    // The image of a folder's children when it is listed: unchecked below an unchecked or mixed
    // folder, else the folder's own.
    static int ListedChildImage(int nFolderImage);
    // The image of an entry that appears in a folder: the folder's when it is checked or fixed,
    // else unchecked.
    static int NewEntryImage(int nFolderImage);
    CString DeviceTipText(int nDeviceNumber) const;

    void OnNMClick(NMHDR* pNMHDR, LRESULT* pResult);
    void OnTvnItemexpanding(NMHDR* pNMHDR, LRESULT* pResult);
    void OnTvnBeginlabeledit(NMHDR* pNMHDR, LRESULT* pResult);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    DECLARE_MESSAGE_MAP()

    CToolTipCtrl m_tip;
    bool m_bTipTool = false;
    // Items whose folder could not be read when they were listed (a drive without its medium,
    // a folder denied): what is selected inside them is known only to the files.
    std::set<HTREEITEM> m_unreadItems;
};
