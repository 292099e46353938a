#pragma once
// File helpers shared by the test programs of every folder: a private temporary folder, and
// whole-tree removal and whole-file reads and writes. Paths are absolute and are taken as
// they stand (through the long-path form), so names such as "foo." or "aux" and paths of any
// length name exactly that file; a relative path is used as it is.

#include "afxstr.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// Removes a file, or a folder with everything in it; true when nothing is left. A linked folder
// (a reparse point) is removed as the link alone: what it points to is not this test's.
bool RemoveTree(const CString& strPath);
// Makes a folder (its parent must exist); true when it is there afterwards.
bool MakeFolder(const CString& strPath);
bool FileExists(const CString& strPath);
// The whole file; strMissing when it cannot be opened.
std::string ReadBytes(const CString& strPath, const std::string& strMissing = std::string());
// Replaces the file with exactly these bytes.
bool WriteBytes(const CString& strPath, const std::string& bytes);
// Names of the entries of a folder (no "." and ".."), sorted.
std::vector<CString> ListFolder(const CString& strPath);

// A fresh folder below the system's temporary path, named after the tag, the process and a
// running number, and removed with everything in it when the object goes.
class CTempFolder {
public:
    explicit CTempFolder(const wchar_t* pszTag);
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const CString& Path() const { return m_strPath; }   // no trailing backslash
    // The folder with a trailing backslash, the way the program folder is kept.
    CString Dir() const { return m_strPath + L"\\"; }
    CString operator/(const wchar_t* pszName) const { return m_strPath + L"\\" + pszName; }

private:
    CString m_strPath;
};

} // namespace testsupport
