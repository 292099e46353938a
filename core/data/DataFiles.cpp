#include "DataFiles.h"

#include "LanguageText.h"
#include "XmlDocument.h"

#include <windows.h>

CString g_strAppDir;
CString g_strUserName;
int g_bDefaultsWritten = 0;

const wchar_t kSettingsFile[] = L"init.xml";
const wchar_t kBackUpInfoFile[] = L"backupinfo.xml";
const wchar_t kLanguageFile[] = L"language.xml";
const wchar_t kFullPathFile[] = L"backupfullpath.xml";
const wchar_t kTreePathFile[] = L"filepath.xml";
const wchar_t kRestoreListFile[] = L"restoreTempPath.xml";

CString GetDataFolder()
{
    return g_strAppDir + g_strUserName;
}

CString JoinPath(const CString& strFolder, const wchar_t* pszName)
{
    CString strPath(strFolder);
    if (!strPath.IsEmpty() && strPath[strPath.GetLength() - 1] != L'\\')
        strPath += L'\\';
    strPath += pszName;
    return strPath;
}

bool KeepUnloadableFile(const wchar_t* pszPath)
{
    if (::GetFileAttributesW(pszPath) == INVALID_FILE_ATTRIBUTES)
        return true;   // missing: nothing to keep
    CXmlDocument probe;
    if (probe.LoadFile(pszPath))
        return true;   // a good file that its writer replaces on purpose
    CString strBad = CString(pszPath) + L".bad";
    // A read-only ".bad" left by a person would block the replace.
    ::SetFileAttributesW(strBad, FILE_ATTRIBUTE_NORMAL);
    if (::MoveFileExW(pszPath, strBad, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    return ::CopyFileW(pszPath, strBad, FALSE) != FALSE;
}

// --- Settings -----------------------------------------------------------------------------

namespace {

// The settings with their defaults, in the order the file holds them.
struct DefaultSetting {
    const wchar_t* pszName;
    const wchar_t* pszValue;
};
const DefaultSetting kLeadingDefaults[] = {
    {L"BackupFinish", L"0"},    {L"WindowsFile", L"0"},     {L"ProgramFiles", L"0"},
    {L"DocAndSetFiles", L"0"},  {L"BackupStatus", L"1"},    {L"HideBackupFiles", L"1"},
    {L"MakeSure", L"0"},        {L"CompressFile", L"1"},    {L"SetPassword", L"0"},
    {L"PasswordStyle", L"0"},
};
const wchar_t* const kWeekdays[] = {L"Monday", L"Tuesday", L"Wednesday", L"Thursday",
                                    L"Friday", L"Saturday", L"Sunday"};
const DefaultSetting kTrailingDefaults[] = {
    {L"USBHotKey", L"1"},    {L"AutoStart", L"1"},   {L"BackupImages", L"0"},
    {L"BackupAudios", L"0"}, {L"BackupVedios", L"0"}, {L"BackupDatas", L"0"},
};

} // namespace

void BuildDefaultSettings(CXmlDocument& doc)
{
    doc.SetDocText(nullptr);
    doc.AddElement(L"InitInfo");
    doc.EnterElement();
    for (const DefaultSetting& s : kLeadingDefaults)
        doc.AddElement(s.pszName, s.pszValue);
    doc.AddElement(L"HotKey");
    doc.SetAttributeAt(doc.GetCurrentPos(), L"Str", L"");
    doc.SetAttributeAt(doc.GetCurrentPos(), L"VirtualKeyCode", L"");
    doc.SetAttributeAt(doc.GetCurrentPos(), L"keyModifiers", L"");
    for (const wchar_t* pszDay : kWeekdays) {
        doc.AddElement(pszDay);
        doc.SetAttributeAt(doc.GetCurrentPos(), L"IsSet", L"0");
        doc.SetAttributeAt(doc.GetCurrentPos(), L"Timing", L"00:00");
    }
    for (const DefaultSetting& s : kTrailingDefaults)
        doc.AddElement(s.pszName, s.pszValue);
    doc.LeaveElement();
    doc.ResetPosition();
}

void DeleteMachineRunValue()
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", &hKey) !=
        ERROR_SUCCESS)
        return;
    ::RegDeleteValueW(hKey, L"KVR_ZUL");
    ::RegCloseKey(hKey);
}

bool WriteDefaultSettings(CXmlDocument& doc, const CString& strDataFolder)
{
    CString strPath = JoinPath(strDataFolder, kSettingsFile);
    // An unloadable file that cannot be set aside is not overwritten: the defaults then serve
    // from memory only, and the person's file stays for recovery.
    bool bKept = KeepUnloadableFile(strPath);
    // Start-up creates the data folder; a tab writing defaults after a person removed it
    // would otherwise fail to save.
    ::CreateDirectoryW(strDataFolder, nullptr);
    BuildDefaultSettings(doc);
    bool bSaved = bKept && doc.SaveFile(strPath);
    DeleteMachineRunValue();
    g_bDefaultsWritten = 1;
    return bSaved;
}

bool LoadSettings(CXmlDocument& doc, const CString& strDataFolder, bool* pbDefaultsWritten)
{
    if (pbDefaultsWritten)
        *pbDefaultsWritten = false;
    CString strPath = JoinPath(strDataFolder, kSettingsFile);
    if (doc.LoadFile(strPath))
        return true;
    WriteDefaultSettings(doc, strDataFolder);
    if (pbDefaultsWritten)
        *pbDefaultsWritten = true;
    // Read back what was written; when the folder cannot be written the defaults built in
    // memory still serve this run.
    if (doc.LoadFile(strPath))
        return true;
    BuildDefaultSettings(doc);
    return doc.IsWellFormed();
}

CString GetSettingText(CXmlDocument& doc, const wchar_t* pszName)
{
    doc.ResetPosition();
    if (!pszName || !*pszName || !doc.FindChildElement(pszName))
        return CString();
    return doc.GetChildData();
}

// --- Last-backup record -------------------------------------------------------------------

void BuildEmptyBackUpInfo(CXmlDocument& doc)
{
    doc.SetDocText(nullptr);
    doc.AddElement(L"BackUpInfo");
    doc.EnterElement();
    doc.AddElement(L"Time", L"");
    doc.AddElement(L"Path");
    doc.AddChildElement(L"path");
    doc.LeaveElement();
    doc.ResetPosition();
}

bool LoadBackUpInfo(CXmlDocument& doc, const CString& strDataFolder)
{
    CString strPath = JoinPath(strDataFolder, kBackUpInfoFile);
    if (doc.LoadFile(strPath))
        return true;
    bool bKept = KeepUnloadableFile(strPath);
    BuildEmptyBackUpInfo(doc);
    if (bKept)
        doc.SaveFile(strPath);
    return doc.IsWellFormed();
}

// --- Language choice ----------------------------------------------------------------------

CString FormatLanguageCode(unsigned nLangId)
{
    CString strCode;
    strCode.Format(L"0x%04x", nLangId & 0xFFFF);
    return strCode;
}

CString ChooseLanguageCode(const CString& strAppDir, unsigned nLangId)
{
    CString strCode = FormatLanguageCode(nLangId);
    CXmlDocument table;
    if (table.LoadFile(LanguageTablePath(strAppDir, strCode)))
        return strCode;
    return CString(L"0x0409");
}

bool WriteLanguageSelect(const CString& strAppDir, unsigned nLangId)
{
    CString strCode = ChooseLanguageCode(strAppDir, nLangId);
    CString strPath = JoinPath(strAppDir, kLanguageFile);
    if (!KeepUnloadableFile(strPath))
        return false;
    CXmlDocument doc;
    doc.AddElement(L"Language");
    doc.EnterElement();
    doc.AddElement(L"LanguageSelect", strCode);
    doc.LeaveElement();
    return doc.SaveFile(strPath);
}

bool WriteLanguageSelect(const CString& strAppDir)
{
    return WriteLanguageSelect(strAppDir, ::GetSystemDefaultLangID());
}

CString ReadLanguageSelect(const CString& strAppDir, unsigned nLangId)
{
    CString strPath = JoinPath(strAppDir, kLanguageFile);
    CXmlDocument doc;
    if (!doc.LoadFile(strPath)) {
        if (nLangId)
            WriteLanguageSelect(strAppDir, nLangId);
        else
            WriteLanguageSelect(strAppDir);
        if (!doc.LoadFile(strPath))
            return ChooseLanguageCode(strAppDir, nLangId ? nLangId : ::GetSystemDefaultLangID());
    }
    CString strCode = GetSettingText(doc, L"LanguageSelect");
    if (!strCode.IsEmpty())
        return strCode;
    // A file without a choice holds nothing worth keeping: write a fresh one.
    unsigned nId = nLangId ? nLangId : ::GetSystemDefaultLangID();
    WriteLanguageSelect(strAppDir, nId);
    return ChooseLanguageCode(strAppDir, nId);
}
