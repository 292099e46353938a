#include "HelpCommand.h"

#include "ShellIo.h"

#include <vector>

CString HelpFileForLanguage(const CString& strLanguage)
{
    CString id = strLanguage;
    id.MakeUpper();
    if (id == L"0X0804")
        return L"KVR_ZUL_HELP_CHS.chm";
    if (id == L"0X0404")
        return L"KVR_ZUL_HELP_CHT.chm";
    return L"KVR_ZUL_HELP_ENG.chm";
}

void BuildHelpCommand(const CString& strWindowsDir, const CString& strProgramFolder, const CString& strLanguage,
                      CString& strViewer, CString& strCommandLine)
{
    strViewer = strWindowsDir;
    if (strViewer.IsEmpty() || strViewer[strViewer.GetLength() - 1] != L'\\')
        strViewer += L'\\';
    strViewer += L"hh.exe";
    strCommandLine = L"\"" + strViewer + L"\" \"" + strProgramFolder + HelpFileForLanguage(strLanguage) + L"\"";
}

bool OpenHelp(const CString& strProgramFolder, const CString& strLanguage)
{
    UINT n = ::GetWindowsDirectoryW(nullptr, 0);
    if (n == 0)
        return false;
    std::vector<wchar_t> buf(n + 1, L'\0');
    UINT got = ::GetWindowsDirectoryW(buf.data(), n + 1);
    if (got == 0 || got > n)
        return false;
    CString strViewer, strCommand;
    BuildHelpCommand(CString(buf.data()), strProgramFolder, strLanguage, strViewer, strCommand);
    return ShellIo().StartProcess(strViewer, strCommand, nullptr) != FALSE;
}
