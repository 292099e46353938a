#pragma once
// What a folder tree does when the shell reports a change. The main window receives the shell's
// change notifications and drive arrivals and removals, decodes them, and hands each to the
// trees through this interface; a tree window implements it beside its window class, and the
// main window finds it from the tree's window handle. Paths are full paths ("E:\Data\a.txt",
// a drive root with its backslash "E:\").

#include "afx.h"
#include <windows.h>

class IShellChangeSink {
public:
    virtual ~IShellChangeSink() = default;

    // --- Items inside drives ---
    // A rename that moved the item to another folder (strOld and strNew differ in their folder).
    virtual void ShellRenameAcrossFolders(const CString& strOld, const CString& strNew) = 0;
    // A rename within one folder.
    virtual void ShellRenameInFolder(const CString& strOld, const CString& strNew) = 0;
    virtual void ShellItemCreated(const CString& strPath) = 0;
    virtual void ShellItemDeleted(const CString& strPath) = 0;
    // The sharing of a folder changed (its overlay is toggled).
    virtual void ShellShareChanged(const CString& strPath) = 0;
    // The contents of a folder changed as a whole.
    virtual void ShellFolderUpdated(const CString& strPath) = 0;

    // --- Drive items ---
    // True when the tree shows an item for the path.
    virtual bool HasItemForPath(const CString& strPath) = 0;
    // The item of the path (when shown) takes this image as its image and selected image.
    virtual void SetPathItemImage(const CString& strPath, int nImage) = 0;
    // Adds a top-level drive item (with the placeholder child) and sorts the top level.
    // nCheckState is the check image (TreeCheckState) or 0 for a tree without check boxes; a
    // tree that keeps a stored selection shows the drive's images from it instead, unless the
    // drive is fixed.
    virtual void AddDriveItem(const CString& strRoot, const CString& strText, int nImage,
                              DWORD_PTR dwItemData, int nCheckState) = 0;
    // Deletes the item of the path when the tree shows one.
    virtual void RemoveDriveItem(const CString& strRoot) = 0;

    // --- The destination tree of a bridge disk only ---
    // Adds a drive root ("E:\") to the list of roots the tree can show.
    virtual void AddDriveRoot(const CString&) {}
    // Shows drive D ("E:") as the tree's top item.
    virtual void ShowDriveRoot(const CString&) {}
    // Deletes the top item when it is drive D ("E:"); true when it was.
    virtual bool RemoveTopDriveItem(const CString&) { return false; }
};
