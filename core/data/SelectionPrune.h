#pragma once
// Start-up clean-up of the backup selection: paths that were selected but are gone are taken
// out of the flat list "backupfullpath.xml" and of the nested tree file "filepath.xml".
//
// Only paths that are really gone are pruned: the file system must answer "not found" while the
// drive itself is present and ready. A drive that is absent or has no medium at logon keeps its
// selection. In the nested file an element without "path" children means "everything below is
// selected", so an ancestor that loses its last child is removed too.

#include "afx.h"

class CXmlDocument;

// True when the path does not exist and its drive is present and ready (the path can be trusted
// to be gone). Drive facts go through the shell seam.
bool IsSelectedPathGone(const CString& strPath);

// Removes one path from a loaded nested selection document ("filepath" root). A path without a
// trailing backslash gets one; a drive root keeps its single backslash. Ancestors left without a
// "path" child are removed as well, up to and including the drive element. true when something
// was removed.
bool RemoveSelectionPath(CXmlDocument& docTree, const CString& strPath);

// Prunes the selection files of a data folder. pfnIsGone decides whether a path is gone (the
// default is IsSelectedPathGone). Each file is saved only when it loaded and changed; a file that
// does not load is left as it is. Returns the number of paths removed.
int PruneMissingPaths(const CString& strDataFolder, bool (*pfnIsGone)(const CString&) = nullptr);
