#pragma once
// Helpers of the file-management tests: a private temporary folder with files in it, and
// tree items laid out like the management trees (computer root, drives "(X:)", folders).

#include "afxwin.h"
#include "test_files.h"

#include <string>

// A fresh folder under the temporary folder, removed with everything in it at the end.
class CTempFolder : public testsupport::CTempFolder {
public:
    CTempFolder();
    CString MakeFolder(const wchar_t* pszName) const;
    CString MakeFile(const wchar_t* pszName, const std::string& bytes) const;
};

// A file's bytes; "<missing>" when it cannot be opened.
inline std::string ReadBytes(const CString& strPath) { return testsupport::ReadBytes(strPath, "<missing>"); }
using testsupport::FileExists;

// The item of a path ("C:\a\b"), made with its drive and folders under the root as needed.
// The drive item reads "Local Disk (C:)".
HTREEITEM TreeItemForPath(HWND hTree, HTREEITEM hRoot, const CString& strPath);
// The client-coordinate middle of an item's label (the item is made visible first).
CPoint ItemPoint(HWND hTree, HTREEITEM hItem);
CString ItemText(HWND hTree, HTREEITEM hItem);
// A child by text, or null.
HTREEITEM FindChild(HWND hTree, HTREEITEM hParent, const CString& strText);
int CountChildren(HWND hTree, HTREEITEM hParent);
