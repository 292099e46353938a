#pragma once
// The main program's own data files: the settings "init.xml" and the last-backup record
// "backupinfo.xml" in the per-user data folder, and the language choice "language.xml" in the
// program folder. Everything here works on the folders it is given, without a window, so the
// start-up code, the settings tabs and the tests share one implementation.
//
// Files the program writes have one element per line, every line ended by "\r\n", no
// indentation, no declaration, UTF-8 without a mark. Every save replaces the old file in one
// move (a crash leaves the old or the new file, never half of one). A file that exists but does
// not load is kept beside it as "<name>.bad" before its defaults are written, so that settings a
// person edited by hand can still be recovered.

#include "afx.h"

class CXmlDocument;

// Program folder (ends with a backslash) and session user name, set once at start-up; the
// per-user data folder is their concatenation.
extern CString g_strAppDir;
extern CString g_strUserName;
// Set to 1 when the default settings have been written; the page panel then opens the backup
// page first.
extern int g_bDefaultsWritten;

// File names.
extern const wchar_t kSettingsFile[];     // "init.xml"
extern const wchar_t kBackUpInfoFile[];   // "backupinfo.xml"
extern const wchar_t kLanguageFile[];     // "language.xml"
extern const wchar_t kFullPathFile[];     // "backupfullpath.xml"
extern const wchar_t kTreePathFile[];     // "filepath.xml"
extern const wchar_t kRestoreListFile[];  // "restoreTempPath.xml"

// The per-user data folder, g_strAppDir + g_strUserName (no trailing backslash).
CString GetDataFolder();
// strFolder + "\" + pszName; no second backslash when the folder already ends with one, and
// the name alone for an empty folder (a relative name stays relative).
CString JoinPath(const CString& strFolder, const wchar_t* pszName);

// Moves a file that exists but does not load to "<path>.bad" (replacing an older one), or copies
// it there when it cannot be moved. A missing or loadable file is left alone. true when there
// was nothing to keep or it was kept.
bool KeepUnloadableFile(const wchar_t* pszPath);

// --- Settings "init.xml" --------------------------------------------------------------------

// Builds the default settings into doc, replacing whatever it held: root "InitInfo" and its 24
// elements in their fixed order. Leaves no element current.
void BuildDefaultSettings(CXmlDocument& doc);

// Writes the default settings to strDataFolder\init.xml (an existing unloadable file is kept as
// ".bad" first), deletes the machine-wide logon value "KVR_ZUL" and sets g_bDefaultsWritten.
// doc holds the defaults afterwards. true when the file was saved.
bool WriteDefaultSettings(CXmlDocument& doc, const CString& strDataFolder);

// Loads strDataFolder\init.xml into doc; when it does not load, writes the defaults and loads
// them. pbDefaultsWritten (optional) tells whether that happened. true when doc holds settings.
bool LoadSettings(CXmlDocument& doc, const CString& strDataFolder, bool* pbDefaultsWritten = nullptr);

// The text of a setting directly under the root of a loaded settings document; empty when the
// element is missing. Positions are reset first.
CString GetSettingText(CXmlDocument& doc, const wchar_t* pszName);

// Deletes the value "KVR_ZUL" under HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run
// (nothing when the key does not open).
void DeleteMachineRunValue();

// --- Last-backup record "backupinfo.xml" --------------------------------------------------

// Builds the empty record into doc: root "BackUpInfo" holding an empty "Time" and a "Path" that
// holds one empty "path".
void BuildEmptyBackUpInfo(CXmlDocument& doc);

// Loads strDataFolder\backupinfo.xml into doc; when it does not load, keeps it as ".bad",
// writes the empty record and leaves doc holding it. true when doc holds a record.
bool LoadBackUpInfo(CXmlDocument& doc, const CString& strDataFolder);

// --- Language choice "language.xml" -------------------------------------------------------

// "0x" and four lower-case hexadecimal digits of a Windows language id (0x804 gives "0x0804").
CString FormatLanguageCode(unsigned nLangId);

// The code for a language id when its string table strAppDir\Language\<code>.xml loads,
// else "0x0409".
CString ChooseLanguageCode(const CString& strAppDir, unsigned nLangId);

// Writes strAppDir\language.xml with the chosen code of nLangId (an existing unloadable file
// is kept as ".bad" first). true when saved.
bool WriteLanguageSelect(const CString& strAppDir, unsigned nLangId);
// The same for the system's default language.
bool WriteLanguageSelect(const CString& strAppDir);

// The selected language code from strAppDir\language.xml, writing the file first when it does
// not load or holds no choice (with nLangId's code, or the system default when nLangId is 0).
CString ReadLanguageSelect(const CString& strAppDir, unsigned nLangId = 0);
