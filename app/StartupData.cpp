#include "StartupData.h"

#include "DataFiles.h"
#include "LanguageText.h"
#include "ProgramWide.h"
#include "SelectionPrune.h"
#include "SystemIo.h"
#include "XmlDocument.h"

#include <vector>

bool GetModulePath(HMODULE hModule, CString& strPath, DWORD nMaxChars)
{
    strPath.Empty();
    DWORD n = MAX_PATH;
    for (;;) {
        if (n > nMaxChars)
            n = nMaxChars;
        std::vector<wchar_t> buf(n + 1, L'\0');
        ::SetLastError(ERROR_SUCCESS);
        DWORD got = ::GetModuleFileNameW(hModule, buf.data(), n);
        if (got == 0)
            return false;
        // A path that filled the buffer may have been cut.
        if (got < n && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            strPath = CString(buf.data(), (int)got);
            return true;
        }
        if (n >= nMaxChars)
            return false;
        n *= 4;
    }
}

CString FolderOfPath(const CString& strPath)
{
    int pos = strPath.ReverseFind(L'\\');
    return pos < 0 ? CString() : strPath.Left(pos + 1);
}

bool PrepareProgramFolders(CString& strError)
{
    strError.Empty();
    CString strModule;
    if (!GetModulePath(nullptr, strModule)) {
        strError = L"The program's folder cannot be determined: its path is too long.";
        return false;
    }
    g_strAppDir = FolderOfPath(strModule);
    CString strUser;
    if (SystemIo().QuerySessionUserName(strUser) && !strUser.IsEmpty()) {
        g_strUserName = strUser;
        ::SetCurrentDirectoryW(g_strAppDir);
        CString strData = GetDataFolder();
        if (!::CreateDirectoryW(strData, nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            strError.Format(L"The data folder \"%ls\" cannot be created.", (const wchar_t*)strData);
        }
    } else {
        // Without a session user name the data files live in the program folder itself.
        g_strUserName.Empty();
    }
    return true;
}

void LoadProgramData(CXmlDocument& docSettings)
{
    CString strData = GetDataFolder();
    PruneMissingPaths(strData);
    if (g_pLanguageListDoc)
        g_pLanguageListDoc->LoadFile(LanguageTablePath(g_strAppDir, L"Language"));
    LoadSettings(docSettings, strData);
    g_strLanguage = ReadLanguageSelect(g_strAppDir);
    g_bLanguageLoaded = LoadLanguageFile(LanguageTablePath(g_strAppDir, g_strLanguage));
    CXmlDocument docInfo;
    LoadBackUpInfo(docInfo, strData);
}
