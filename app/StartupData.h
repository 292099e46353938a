#pragma once
// Start-up of the main program without windows: the program folder, the session user name and
// the per-user data folder, and the data the main window loads before it opens (selection
// pruning, language list, settings, language choice and table, last-backup record).

#include "afx.h"

class CXmlDocument;

// The full path of a module without truncation; false when the system cuts it (the path is
// longer than the largest buffer tried).
bool GetModulePath(HMODULE hModule, CString& strPath, DWORD nMaxChars = 32768);
// The folder of a full path, with its trailing backslash; empty when it has none.
CString FolderOfPath(const CString& strPath);

// Sets g_strAppDir and g_strUserName, makes the program folder current and creates the data
// folder by absolute path. An existing folder is fine. strError describes a failure the user
// must hear of (the program folder cannot be named, the data folder cannot be made); the result
// is false only when the program cannot go on.
bool PrepareProgramFolders(CString& strError);

// The loading that the main window does while it is constructed, in this order: pruning of the
// selection files, the language list (into g_pLanguageListDoc when it exists), the settings
// (defaults written when "init.xml" does not load), the language choice (g_strLanguage) and its
// string table (g_bLanguageLoaded), and the last-backup record.
void LoadProgramData(CXmlDocument& docSettings);
