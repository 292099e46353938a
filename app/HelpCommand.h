#pragma once
// The help viewer: which help file a language asks for, and the command line that opens it.

#include "afx.h"

// "KVR_ZUL_HELP_CHS.chm" for 0x0804, "KVR_ZUL_HELP_CHT.chm" for 0x0404 (any letter case),
// "KVR_ZUL_HELP_ENG.chm" for anything else.
CString HelpFileForLanguage(const CString& strLanguage);

// The viewer's full path in the Windows folder and the quoted command line
// "<viewer>" "<program folder><help file>". The program folder ends with a backslash.
void BuildHelpCommand(const CString& strWindowsDir, const CString& strProgramFolder,
                      const CString& strLanguage, CString& strViewer, CString& strCommandLine);

// Opens the help of the selected language (never a viewer from the program folder). Nothing is
// reported when it cannot start.
bool OpenHelp(const CString& strProgramFolder, const CString& strLanguage);
