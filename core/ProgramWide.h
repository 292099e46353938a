#pragma once
// Program-wide objects of the main program that lower layers read, and the small interface
// through which the settings pages reach up to the main window. The main window defines what it
// owns at start-up and installs itself as the link; nothing here opens a window.

#include "afx.h"

class CXmlDocument;

// The selected language id text as stored in "language.xml" (for example "0x0409").
extern CString g_strLanguage;
// The language list "Language\Language.xml"; made and freed by the main window.
extern CXmlDocument* g_pLanguageListDoc;

// What the settings pages ask of the main window.
class IMainWindowLink {
public:
    virtual ~IMainWindowLink() = default;
    // Loads the language's string table and renews every text of the main window, its tray menu
    // and its pages.
    virtual void ApplyLanguage(const CString& strLanguageId) = 0;
    // Writes the default settings file again (a tab found it missing).
    virtual void WriteDefaultSettings() = 0;
    // Writes "language.xml" again (a tab found it missing).
    virtual void WriteLanguageSelect() = 0;
};

// The installed main window, or null before it exists and after it is gone.
IMainWindowLink* GetMainWindowLink();
void SetMainWindowLink(IMainWindowLink* pLink);
