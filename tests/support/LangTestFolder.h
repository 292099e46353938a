#pragma once
// Small helpers for the tests of the data files, language texts and the backup worker: a
// private temporary folder under the system's temporary path, and whole-file reads and writes
// (the shared ones of tests/support, under the names these tests know them by).

#include "test_files.h"

#include <string>

namespace langtest {

using testsupport::FileExists;
using testsupport::MakeFolder;
using testsupport::ReadBytes;
using testsupport::RemoveTree;
using testsupport::WriteBytes;
typedef testsupport::CTempFolder TempFolder;

// Names of the entries of a folder, sorted, joined by "|".
inline std::wstring ListFolder(const CString& strPath)
{
    std::wstring names;
    for (const CString& strName : testsupport::ListFolder(strPath))
        names += (names.empty() ? L"" : L"|") + strName.str();
    return names;
}

} // namespace langtest
