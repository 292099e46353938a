#pragma once
// The folders of a backup test, shared by the worker's and the progress window's tests: a
// program folder with its user's data folder, a source and a target below one temporary
// folder; and the path lists the program keeps (the selection, the restore list).

#include "test_files.h"

#include <initializer_list>

namespace testsupport {

// Below a fresh temporary folder: "app\" with the user "user" whose data folder "app\user"
// holds the default settings, and "dst" as the target. "src" is the source, made by the test
// (some check what a missing source does). The program's folder names (g_strAppDir,
// g_strUserName) point here from Open() until the object goes.
class CBackupFolders {
public:
    explicit CBackupFolders(const wchar_t* pszTag);
    ~CBackupFolders();
    // false at the first folder or file that could not be made.
    bool Open();
    // One element of the stored settings given a new text.
    bool SetSetting(const wchar_t* pszName, const wchar_t* pszValue) const;

    CTempFolder root;
    const CString strApp;      // with its trailing backslash, the way the program keeps it
    const CString strData;
    const CString strSource;
    const CString strTarget;
};

// Saves a list of paths the way the program keeps its selection and restore lists: one
// <path path="..."/> each under <filepath>.
bool WritePathList(const CString& strFile, std::initializer_list<CString> paths);

} // namespace testsupport
