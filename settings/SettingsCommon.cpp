#include "SettingsCommon.h"

#include "ButtonST.h"
#include "SettingsHost.h"
#include "SharedFunctions.h"
#include "res_settings.h"
#include "DataFiles.h"
#include "XmlDocument.h"

#include <string>

CImage g_imgPanelBk;

const wchar_t kRunKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"KVR_ZUL";

void EnsurePanelBackground()
{
    if (g_imgPanelBk.IsNull())
        LoadPngResource(IDB_PANEL_BK, g_imgPanelBk);
}

namespace {
void SetStateImages(CButtonST& button, int n0, int n1, int n2, int n3, int n4)
{
    button.SetLeftAlign(TRUE, FALSE);
    button.Invalidate();
    button.ResetBackground(FALSE);
    button.SetStateIcons(n0, n1, n2, n3, n4);
}
} // namespace

void SetRadioButtonImages(CButtonST& button) { SetStateImages(button, 194, 193, 196, 195, 197); }

void SetCheckButtonImages(CButtonST& button) { SetStateImages(button, 180, 179, 182, 181, 183); }

bool IsExtensionInList(const CString& strList, const CString& strExtension)
{
    int nStart = strList.Find(L':');
    nStart = nStart < 0 ? 0 : nStart + 1;
    for (;;) {
        int nComma = strList.Find(L',', nStart);
        if (nComma < 0)
            break;
        if (strList.Mid(nStart, nComma - nStart) == strExtension)
            return true;
        nStart = nComma + 1;
    }
    return strList.Mid(nStart) == strExtension;
}

void CreateSettingsFont(CFont& font, int nHeight, int nWeight, bool bUnderline)
{
    font.CreateFont(nHeight, 0, 0, 0, nWeight, FALSE, bUnderline ? TRUE : FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"MingLiU");
}

CSize MeasureText(CFont& font, const CString& strText)
{
    HDC hScreen = ::GetDC(nullptr);
    HDC hdc = ::CreateCompatibleDC(hScreen);
    HGDIOBJ old = ::SelectObject(hdc, font.m_hObject);
    SIZE sz = {0, 0};
    if (strText.IsEmpty()) {
        TEXTMETRICW tm;
        ::GetTextMetricsW(hdc, &tm);
        sz.cy = tm.tmHeight;
    } else {
        ::GetTextExtentPoint32W(hdc, strText, strText.GetLength(), &sz);
    }
    ::SelectObject(hdc, old);
    ::DeleteDC(hdc);
    ::ReleaseDC(nullptr, hScreen);
    return CSize(sz.cx, sz.cy);
}

bool CheckSettingsWrite(SettingsWrite result)
{
    if (WriteSucceeded(result))
        return true;
    // One report at a time. The tabs' timers go on inside an open report's modal loop; a
    // failure found there is the same file's, and its report is already on the screen.
    static bool s_bReportOpen = false;
    if (s_bReportOpen)
        return false;
    s_bReportOpen = true;
    if (ISettingsHost* pHost = GetSettingsHost())
        pHost->ReportSettingsWriteFailure(GetSettingsPath());
    else
        ::MessageBeep(MB_ICONEXCLAMATION);
    s_bReportOpen = false;
    return false;
}

void EnsureSettingsControlClasses()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_HOTKEY_CLASS | ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
    s_bDone = ::InitCommonControlsEx(&icc) != FALSE;
}

int ClampTimeField(const CString& strText, int nMax, bool& bOutOfRange)
{
    bOutOfRange = false;
    int n = strText.GetLength();
    if (n == 0) {
        bOutOfRange = true;
        return 0;
    }
    long long v = 0;
    int i = 0;
    for (; i < n; ++i) {
        wchar_t c = strText[i];
        if (c < L'0' || c > L'9')
            break;
        if (v <= nMax)
            v = v * 10 + (c - L'0');
    }
    if (i < n || (n > 1 && strText[0] == L'0'))
        bOutOfRange = true;
    if (v > nMax) {
        v = nMax;
        bOutOfRange = true;
    }
    return (int)v;
}

CString BuildLauncherCommand(const CString& strModulePath)
{
    int nSlash = strModulePath.ReverseFind(L'\\');
    CString strFolder = nSlash >= 0 ? strModulePath.Left(nSlash + 1) : CString();
    return L"\"" + strFolder + L"ZULTray.exe\"";
}

CString BuildLauncherCommand()
{
    // The module name may be longer than MAX_PATH on systems with long paths: grow until it fits.
    std::wstring buf(MAX_PATH + 1, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, &buf[0], (DWORD)buf.size());
        if (n == 0)
            return CString();
        if (n < buf.size() - 1) {
            buf.resize(n);
            break;
        }
        if (buf.size() > 32768)
            return CString();
        buf.resize(buf.size() * 2);
    }
    return BuildLauncherCommand(CString(buf.c_str()));
}

bool LoadTabSettings(CXmlDocument& doc)
{
    CString strFolder = GetDataFolder();
    if (LoadSettingsForEdit(doc, strFolder))
        return true;
    // Exists but does not load: the start-up rule keeps it aside and writes the defaults.
    if (LoadSettings(doc, strFolder) && LoadSettingsForEdit(doc, strFolder))
        return true;
    BuildDefaultSettings(doc);
    return false;
}

CString GetOrAddSetting(CXmlDocument& doc, const wchar_t* pszName, const wchar_t* pszInserted, bool& bChanged)
{
    bool bAdded = false;
    if (!FindOrAddSetting(doc, pszName, pszInserted, true, &bAdded))
        return pszInserted ? CString(pszInserted) : CString();
    if (bAdded)
        bChanged = true;
    return doc.GetChildData();
}

void FixSetting(CXmlDocument& doc, const wchar_t* pszName, const CString& strShown, bool& bChanged)
{
    bool bAdded = false;
    if (!FindOrAddSetting(doc, pszName, strShown, true, &bAdded))
        return;
    if (bAdded)
        bChanged = true;
    else if (doc.GetChildData() != strShown && doc.SetChildData(strShown))
        bChanged = true;
}

bool SetStoreFolderHidden(const CString& strFolder, bool bHidden)
{
    DWORD dwAttr = ::GetFileAttributesW(strFolder);
    if (dwAttr == INVALID_FILE_ATTRIBUTES || !(dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    DWORD dwNew = bHidden ? (dwAttr | FILE_ATTRIBUTE_HIDDEN) : (dwAttr & ~FILE_ATTRIBUTE_HIDDEN);
    if (dwNew == dwAttr)
        return true;
    return ::SetFileAttributesW(strFolder, dwNew) != FALSE;
}
