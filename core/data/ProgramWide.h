#pragma once
// Program-wide objects of the main program that lower layers read. The main window defines
// and fills them at start-up; nothing here opens a window.

#include "afx.h"

class CXmlDocument;

// The selected language id text as stored in "language.xml" (for example "0x0409").
extern CString g_strLanguage;
// The language list "Language\Language.xml"; made and freed by the main window.
extern CXmlDocument* g_pLanguageListDoc;
