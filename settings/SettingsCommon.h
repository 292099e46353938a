#pragma once
// Pieces shared by the settings page, its tabs and its pop-ups.

#include "afxwin.h"
#include "atlimage.h"
#include "SettingsStore.h"

class CButtonST;

// The background panel of the tabs (PNG 225, not premultiplied), alive from the first paint
// of the backup-options tab until the program ends.
extern CImage g_imgPanelBk;
// Loads g_imgPanelBk when it is not loaded yet.
void EnsurePanelBackground();

// The radio and check-box skins of the settings tabs: left-aligned caption, transparent over
// the parent's picture, and the five state icons.
void SetRadioButtonImages(CButtonST& button);
void SetCheckButtonImages(CButtonST& button);

// True when the extension is one of the comma-separated entries after the first ":" of a
// file-type label ("Picture:bmp,jpg,png,jepg"). The comparison is exact and case-sensitive.
bool IsExtensionInList(const CString& strList, const CString& strExtension);

// The settings windows' font: "MingLiU" of the given height and weight.
void CreateSettingsFont(CFont& font, int nHeight, int nWeight = FW_NORMAL, bool bUnderline = false);
// The extent of a text in a font, measured in a memory DC.
CSize MeasureText(CFont& font, const CString& strText);

// Reports a failed settings write to the host. true when the write succeeded. While a report
// is open, a further failure opens no second one.
bool CheckSettingsWrite(SettingsWrite result);

// Registers the common-control classes the pop-ups use (hot-key control, up-down arrows).
void EnsureSettingsControlClasses();

// A decimal field of the time editor: the value of its text, clamped to 0..nMax without ever
// overflowing (anything that is not a digit ends the number; an empty text is 0).
// bOutOfRange is set when the text was empty, had other characters, a leading zero, or a
// value above nMax, so that the field must be rewritten.
int ClampTimeField(const CString& strText, int nMax, bool& bOutOfRange);

// --- Start at logon -------------------------------------------------------------------------

extern const wchar_t kRunKeyPath[];    // SOFTWARE\Microsoft\Windows\CurrentVersion\Run
extern const wchar_t kRunValueName[];  // "KVR_ZUL"
// The launcher beside the running program, quoted: "<folder>\ZULTray.exe".
CString BuildLauncherCommand();
// The same for a given module path.
CString BuildLauncherCommand(const CString& strModulePath);

// --- Loading a tab's settings ---------------------------------------------------------------

class CXmlDocument;

// Loads the per-user settings for a tab. A file that does not load gets the defaults (the
// start-up rule, which keeps a damaged file beside it as ".bad"). Returns true when the
// document came from the file and may be written back; false when only defaults built in
// memory could be had (the file is then never written from this document).
bool LoadTabSettings(CXmlDocument& doc);

// The text of a setting under the root; a missing one is added as the root's first child with
// strInserted (bChanged set). An element without text when pszInserted is null.
CString GetOrAddSetting(CXmlDocument& doc, const wchar_t* pszName, const wchar_t* pszInserted, bool& bChanged);
// Sets a setting's text when it differs from strShown (bChanged set).
void FixSetting(CXmlDocument& doc, const wchar_t* pszName, const CString& strShown, bool& bChanged);

// The store folder's hidden attribute ("E:" + "\VEZORI"): added or removed, the other
// attributes kept. A folder whose attributes cannot be read is left alone (false).
bool SetStoreFolderHidden(const CString& strFolder, bool bHidden);
