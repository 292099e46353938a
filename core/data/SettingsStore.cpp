#include "SettingsStore.h"

#include "DataFiles.h"
#include "SharedFunctions.h"
#include "XmlDocument.h"

#include <windows.h>

const wchar_t* const kScheduleDays[7] = {L"Monday", L"Tuesday", L"Wednesday", L"Thursday",
                                          L"Friday", L"Saturday", L"Sunday"};

namespace {

bool FileIsMissing(const wchar_t* pszPath)
{
    if (::GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD e = ::GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

// Loads, lets the edit change the document, and saves when it did. The edit returns false
// when it could not be applied, true otherwise, and sets bChanged when the text changed.
template <class Edit>
SettingsWrite EditSettings(const CString& strDataFolder, Edit edit)
{
    CXmlDocument doc;
    if (!LoadSettingsForEdit(doc, strDataFolder))
        return SettingsWrite::Failed;
    bool bChanged = false;
    if (!edit(doc, bChanged))
        return SettingsWrite::Failed;
    if (!bChanged)
        return SettingsWrite::Unchanged;
    if (!doc.IsWellFormed())
        return SettingsWrite::Failed;
    return doc.SaveFile(JoinPath(strDataFolder, kSettingsFile)) ? SettingsWrite::Saved : SettingsWrite::Failed;
}

// Sets one attribute of the current child when it differs.
bool SetChildAttributeIfDifferent(CXmlDocument& doc, const wchar_t* pszName, const wchar_t* pszValue,
                                  bool& bChanged)
{
    int pos = doc.GetChildPos();
    CString strOld = doc.GetAttributeAt(pos, pszName);
    // An attribute that is absent reads as empty; set it anyway so that it exists.
    if (strOld == pszValue && !strOld.IsEmpty())
        return true;
    if (!doc.SetAttributeAt(pos, pszName, pszValue))
        return false;
    bChanged = true;
    return true;
}

bool IsScheduleDay(const wchar_t* pszDay)
{
    if (!pszDay)
        return false;
    for (const wchar_t* d : kScheduleDays) {
        if (wcscmp(d, pszDay) == 0)
            return true;
    }
    return false;
}

} // namespace

CString GetSettingsPath()
{
    return JoinPath(GetDataFolder(), kSettingsFile);
}

bool LoadSettingsForEdit(CXmlDocument& doc, const CString& strDataFolder)
{
    CString strPath = JoinPath(strDataFolder, kSettingsFile);
    if (doc.LoadFile(strPath) && doc.IsWellFormed())
        return true;
    if (!FileIsMissing(strPath))
        return false;   // locked or damaged: leave it for the person or the next start
    if (!WriteDefaultSettings(doc, strDataFolder))
        return false;
    return doc.LoadFile(strPath) && doc.IsWellFormed();
}

bool FindOrAddSetting(CXmlDocument& doc, const wchar_t* pszName, const wchar_t* pszText, bool bFirst,
                      bool* pbAdded)
{
    if (pbAdded)
        *pbAdded = false;
    doc.ResetPosition();
    if (!doc.FindElement(nullptr))
        return false;   // no root
    if (doc.FindChildElement(pszName))
        return true;
    // The root is current; the new element goes under it, never beside it.
    doc.ResetPosition();
    doc.FindElement(nullptr);
    int nFlags = CXmlDocument::ADD_AS_CHILD | (bFirst ? CXmlDocument::ADD_BEFORE : 0);
    if (!bFirst) {
        // After the last child, so that the new element is appended.
        while (doc.FindChildElement(nullptr)) {
        }
        // FindChildElement leaves the last child current when it runs out.
    }
    if (!doc.AddElement(pszName, pszText, nFlags))
        return false;
    if (pbAdded)
        *pbAdded = true;
    // Point at the new element as the root's current child.
    doc.ResetPosition();
    return doc.FindChildElement(pszName);
}

SettingsWrite SaveInitValueIn(const CString& strDataFolder, const wchar_t* pszName, const wchar_t* pszValue)
{
    if (!pszName || !*pszName)
        return SettingsWrite::Failed;
    const wchar_t* pszText = pszValue ? pszValue : L"";
    return EditSettings(strDataFolder, [&](CXmlDocument& doc, bool& bChanged) {
        bool bAdded = false;
        if (!FindOrAddSetting(doc, pszName, pszText, false, &bAdded))
            return false;
        if (bAdded) {
            bChanged = true;
            return true;
        }
        if (doc.GetChildData() == pszText)
            return true;
        if (!doc.SetChildData(pszText))
            return false;
        bChanged = true;
        return true;
    });
}

SettingsWrite SaveInitValue(const wchar_t* pszName, const wchar_t* pszValue)
{
    return SaveInitValueIn(GetDataFolder(), pszName, pszValue);
}

void ReadHotKey(int& nVirtualKey, int& nModifiers)
{
    CXmlDocument doc;
    if (!doc.LoadFile(GetSettingsPath()))
        return;
    doc.ResetPosition();
    if (!doc.FindChildElement(L"HotKey"))
        return;
    ParseDecimal(doc.GetChildAttribute(L"VirtualKeyCode"), nVirtualKey);
    ParseDecimal(doc.GetChildAttribute(L"keyModifiers"), nModifiers);
}

CString ReadHotKeyText()
{
    CXmlDocument doc;
    if (!doc.LoadFile(GetSettingsPath()))
        return CString();
    doc.ResetPosition();
    if (!doc.FindChildElement(L"HotKey"))
        return CString();
    return doc.GetChildAttribute(L"Str");
}

SettingsWrite SaveHotKey(const wchar_t* pszText, int nVirtualKey, int nModifiers)
{
    CString strKey, strMods;
    strKey.Format(L"%d", nVirtualKey);
    strMods.Format(L"%d", nModifiers);
    const wchar_t* pszStr = pszText ? pszText : L"";
    return EditSettings(GetDataFolder(), [&](CXmlDocument& doc, bool& bChanged) {
        bool bAdded = false;
        if (!FindOrAddSetting(doc, L"HotKey", nullptr, false, &bAdded))
            return false;
        bChanged = bAdded;
        return SetChildAttributeIfDifferent(doc, L"Str", pszStr, bChanged) &&
               SetChildAttributeIfDifferent(doc, L"VirtualKeyCode", strKey, bChanged) &&
               SetChildAttributeIfDifferent(doc, L"keyModifiers", strMods, bChanged);
    });
}

CString FormatTiming(int nHour, int nMinute)
{
    nHour = nHour < 0 ? 0 : nHour > 23 ? 23 : nHour;
    nMinute = nMinute < 0 ? 0 : nMinute > 59 ? 59 : nMinute;
    CString s;
    s.Format(L"%02d:%02d", nHour, nMinute);
    return s;
}

SettingsWrite SaveDayIsSet(const wchar_t* pszDay, bool bSet)
{
    if (!IsScheduleDay(pszDay))
        return SettingsWrite::Failed;
    return EditSettings(GetDataFolder(), [&](CXmlDocument& doc, bool& bChanged) {
        bool bAdded = false;
        if (!FindOrAddSetting(doc, pszDay, nullptr, false, &bAdded))
            return false;
        bChanged = bAdded;
        if (!SetChildAttributeIfDifferent(doc, L"IsSet", bSet ? L"1" : L"0", bChanged))
            return false;
        return !bAdded || SetChildAttributeIfDifferent(doc, L"Timing", L"00:00", bChanged);
    });
}

SettingsWrite SaveDayTiming(const wchar_t* pszDay, int nHour, int nMinute)
{
    return SaveDaysTiming(&pszDay, 1, nHour, nMinute);
}

SettingsWrite SaveDaysTiming(const wchar_t* const* ppszDays, int nDays, int nHour, int nMinute)
{
    if (!ppszDays || nDays <= 0)
        return SettingsWrite::Failed;
    for (int i = 0; i < nDays; ++i) {
        if (!IsScheduleDay(ppszDays[i]))
            return SettingsWrite::Failed;
    }
    CString strTiming = FormatTiming(nHour, nMinute);
    return EditSettings(GetDataFolder(), [&](CXmlDocument& doc, bool& bChanged) {
        for (int i = 0; i < nDays; ++i) {
            bool bAdded = false;
            if (!FindOrAddSetting(doc, ppszDays[i], nullptr, false, &bAdded))
                return false;
            if (bAdded)
                bChanged = true;
            if (!SetChildAttributeIfDifferent(doc, L"IsSet", L"1", bChanged) ||
                !SetChildAttributeIfDifferent(doc, L"Timing", strTiming, bChanged))
                return false;
        }
        return true;
    });
}

bool ReadDaySchedule(const wchar_t* pszDay, CString& strTiming, bool& bSet)
{
    strTiming.Empty();
    bSet = false;
    CXmlDocument doc;
    if (!doc.LoadFile(GetSettingsPath()))
        return false;
    doc.ResetPosition();
    if (!doc.FindChildElement(pszDay))
        return false;
    strTiming = doc.GetChildAttribute(L"Timing");
    bSet = doc.GetChildAttribute(L"IsSet") == L"1";
    return true;
}

SettingsWrite SaveLanguageSelect(const CString& strAppDir, const wchar_t* pszId)
{
    CString strPath = JoinPath(strAppDir, kLanguageFile);
    CXmlDocument doc;
    if (!doc.LoadFile(strPath) || !doc.IsWellFormed()) {
        // The file holds nothing but the choice: a fresh one loses nothing (a damaged one is
        // kept beside it first).
        if (!KeepUnloadableFile(strPath))
            return SettingsWrite::Failed;
        doc.SetDocText(nullptr);
        doc.AddElement(L"Language");
        doc.EnterElement();
        doc.AddElement(L"LanguageSelect", pszId);
        doc.LeaveElement();
        return doc.SaveFile(strPath) ? SettingsWrite::Saved : SettingsWrite::Failed;
    }
    bool bAdded = false;
    if (!FindOrAddSetting(doc, L"LanguageSelect", pszId, false, &bAdded))
        return SettingsWrite::Failed;
    if (!bAdded) {
        if (doc.GetChildData() == pszId)
            return SettingsWrite::Unchanged;
        if (!doc.SetChildData(pszId))
            return SettingsWrite::Failed;
    }
    return doc.SaveFile(strPath) ? SettingsWrite::Saved : SettingsWrite::Failed;
}
