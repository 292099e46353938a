#include "backup_folders.h"

#include "DataFiles.h"
#include "XmlDocument.h"

namespace testsupport {

CBackupFolders::CBackupFolders(const wchar_t* pszTag)
    : root(pszTag),
      strApp(root.Dir() + L"app\\"),
      strData(strApp + L"user"),
      strSource(root / L"src"),
      strTarget(root / L"dst")
{
}

CBackupFolders::~CBackupFolders()
{
    g_strAppDir.Empty();
    g_strUserName.Empty();
}

bool CBackupFolders::Open()
{
    if (!MakeFolder(strApp) || !MakeFolder(strData) || !MakeFolder(strTarget))
        return false;
    CXmlDocument settings;
    if (!WriteDefaultSettings(settings, strData))
        return false;
    g_strAppDir = strApp;
    g_strUserName = L"user";
    return true;
}

bool CBackupFolders::SetSetting(const wchar_t* pszName, const wchar_t* pszValue) const
{
    CXmlDocument doc;
    const CString strFile = JoinPath(strData, kSettingsFile);
    if (!doc.LoadFile(strFile))
        return false;
    doc.ResetPosition();
    return doc.FindChildElement(pszName) && doc.SetChildData(pszValue) && doc.SaveFile(strFile);
}

bool WritePathList(const CString& strFile, std::initializer_list<CString> paths)
{
    CXmlDocument doc;
    doc.AddElement(L"filepath");
    doc.EnterElement();
    for (const CString& p : paths) {
        doc.AddElement(L"path");
        doc.SetAttributeAt(doc.GetCurrentPos(), L"path", p);
    }
    doc.LeaveElement();
    return doc.SaveFile(strFile);
}

} // namespace testsupport
