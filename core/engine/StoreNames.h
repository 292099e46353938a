#pragma once
// The copy engine's naming rules shared by its files (see StoreNames.cpp): no I/O.

#include <windows.h>

#include "afxstr.h"

namespace copyengine {

extern const wchar_t kStoreName[];

// "." or "..", the entries of a folder listing that are no children.
bool IsDots(const wchar_t* name);

// The path ends with a backslash (a root, or a folder written as one).
bool EndsWithBackslash(const CString& s);

// "C:\dir\f" gives "C\dir\f": the path as it is mirrored below the store folder.
// A colon at the first character stays.
CString RemoveFirstColon(const CString& strPath);

// A source path the store can mirror: a drive letter, a colon and a backslash.
bool IsDrivePath(const CString& s);

// The name in upper case: the key of the walks' name sets and maps.
CString UpperName(const CString& strName);

// The store folder as a path prefix: no trailing backslash, no doubled one after a root.
CString NormalStoreFolder(const CString& strStoreFolder);

// True when the path is the store folder or lies below it.
bool IsInStore(const CString& strPath, const CString& strStore);

// True when the name ends with ".zip" in any letter case and has something before it.
bool EndsWithZip(const CString& strName);

// Splits a path at its store folder, the first of its names that is "VEZORI" (a user's folder
// of that name, mirrored below the store, is no store): strRoot gets what is above it ("E:"),
// strBelow what is below it, without a leading backslash (empty for the store folder itself).
// False, with both left as they were, when no name of the path is the store's.
bool SplitAtStore(const CString& strPath, CString& strRoot, CString& strBelow);

// True when the folder is a store folder: its last name is "VEZORI" and none above it is.
bool IsStoreFolderPath(const CString& strPath);

} // namespace copyengine
