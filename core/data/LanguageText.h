#pragma once
// User-interface texts by key from the active language's string table, and the tooltip helpers
// that show such texts.
//
// A string table is an XML file "Language\<id>.xml" in the program folder: one top-level element
// and under it one element per key, named by the key, whose text is the string. While a table is
// loaded (g_bLanguageLoaded is 1) a window shows the table's text of each of its keys; while
// none is loaded, and for a key that the loaded table lacks or leaves blank, it shows its own
// built-in English text. A window never shows an empty text in place of one it has.
//
// The keys the program asks for are listed in LanguageKeys.h.

#include "afx.h"

#include <windows.h>

class CXmlDocument;

// The document that holds the active string table. Created and released by the main window;
// used on the user-interface thread only.
extern CXmlDocument* g_pLanguageDoc;
// 1 while a string table is active; callers store LoadLanguageFile's result here.
extern int g_bLanguageLoaded;

// Loads the string table at the path into g_pLanguageDoc. 1 when the file loaded and is
// well-formed, else 0; a table that fails to load leaves the document empty, so no text of an
// earlier table can show through.
int LoadLanguageFile(const wchar_t* pszPath);

// The decoded text of the first element named pszKey directly under the table's top-level
// element; empty when there is no such element, no table or no key.
CString GetLanguageText(const wchar_t* pszKey);

// The text a window shows for one of its keys: GetLanguageText while a table is active, the
// window's built-in English text otherwise. A key the active table lacks, or whose text is empty
// or nothing but white space, also gives the English text. A table's text is kept exactly as it
// is written, blanks at either end included (windows append counts and paths to some).
CString GetLanguageTextOr(const wchar_t* pszKey, const wchar_t* pszEnglish);

// Path of a language's string table in the program folder strAppDir:
// strAppDir + "Language\" + id + ".xml" (a backslash is put between when strAppDir lacks one).
CString LanguageTablePath(const CString& strAppDir, const CString& strLanguageId);

// Creates the tooltip control hToolTip on hParent (always shown, white, 500 ms automatic delay;
// dwStyle adds window styles such as TTS_NOPREFIX) and adds hTool to it with the text. TRUE
// when the control exists and holds the tool.
BOOL InitToolTip(HWND& hToolTip, HWND hParent, HWND hTool, const wchar_t* pszText, DWORD dwStyle = 0);

// Replaces the text of hTool's tip in place, so that a tip on the screen stays up and shows the
// new text; a tool the control does not hold yet is added with it.
BOOL UpdateToolTipText(HWND hToolTip, HWND hTool, const wchar_t* pszText);
