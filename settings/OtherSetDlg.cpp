#include "OtherSetDlg.h"

#include "DataFiles.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "ProgramWide.h"
#include "SettingsCommon.h"
#include "SettingsHost.h"
#include "SettingsStore.h"
#include "SharedFunctions.h"
#include "XmlDocument.h"

BEGIN_MESSAGE_MAP(COtherSetDlg, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_WM_TIMER()
    ON_COMMAND(IDOK, OnIgnoreCommand)
    ON_COMMAND(IDCANCEL, OnIgnoreCommand)
    ON_BN_CLICKED(IDC_AUTOSTART, OnBnClickedAutoStart)
    ON_BN_CLICKED(IDC_USB_HOTKEY, OnBnClickedUsbHotKey)
    ON_BN_CLICKED(IDC_TYPE_IMAGES, OnBnClickedBackupImages)
    ON_BN_CLICKED(IDC_TYPE_AUDIOS, OnBnClickedBackupAudios)
    ON_BN_CLICKED(IDC_TYPE_VIDEOS, OnBnClickedBackupVedios)
    ON_BN_CLICKED(IDC_TYPE_DATAS, OnBnClickedBackupDatas)
    ON_BN_CLICKED(IDC_TYPE_OTHERS, OnBnClickedOtherTypes)
    ON_CBN_SELCHANGE(IDC_LANGUAGE_COMBO, OnCbnSelchangeLanguage)
    ON_EN_SETFOCUS(IDC_EXT_EDIT, OnEnSetfocusExtEdit)
END_MESSAGE_MAP()

namespace {
const UINT kTypeIds[COtherSetDlg::TYPE_COUNT] = {IDC_TYPE_IMAGES, IDC_TYPE_AUDIOS, IDC_TYPE_VIDEOS, IDC_TYPE_DATAS,
                                                 IDC_TYPE_OTHERS};
// The settings of the first four types; "Others" is not stored.
const wchar_t* const kTypeElements[4] = {L"BackupImages", L"BackupAudios", L"BackupVedios", L"BackupDatas"};
// The extensions of each type. The picture list takes the common "jpeg" beside "jepg".
const wchar_t* const kTypeExtensions[COtherSetDlg::TYPE_COUNT] = {
    L":bmp,jpg,png,jepg,jpeg", L":wmv,mp3,wma", L":avi,mp4,rmvb", L":txt,doc,docx,xls,ppt,pdf", L":"};
const COLORREF kPromptColor = 0x646464;

// The Run key of the current user, opened without creating it; null when it does not open.
HKEY OpenRunKey()
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyW(HKEY_CURRENT_USER, kRunKeyPath, &hKey) != ERROR_SUCCESS)
        return nullptr;
    return hKey;
}
} // namespace

std::vector<LanguageEntry> ReadLanguageList(const CString& strAppDir)
{
    std::vector<LanguageEntry> list;
    // The list the main window loaded at start-up, else the file itself.
    CXmlDocument local;
    CXmlDocument* pDoc = g_pLanguageListDoc;
    if (!pDoc || !pDoc->IsWellFormed()) {
        if (!local.LoadFile(JoinPath(strAppDir, L"Language\\Language.xml")))
            return list;
        pDoc = &local;
    }
    CXmlDocument& doc = *pDoc;
    doc.ResetPosition();
    while (doc.FindChildElement(L"Language")) {
        LanguageEntry e;
        e.strName = doc.GetChildAttribute(L"value");
        e.strId = doc.GetChildAttribute(L"LanguageID");
        list.push_back(e);
    }
    return list;
}

COtherSetDlg::COtherSetDlg() : CDialog(IDD)
{
    CreateSettingsFont(m_font, 12);
    LoadLanguageText();
}

COtherSetDlg::~COtherSetDlg()
{
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

void COtherSetDlg::LoadLanguageText()
{
    m_strAutoStart = GetLanguageTextOr(L"AutoStart", L"Run automatically at startup");
    m_strUsbHotKey = GetLanguageTextOr(L"StartUsbKey", L"Activate USB hotkey");
    m_strLanguage = GetLanguageTextOr(L"CheckLanuage", L"Select language");
    m_strTypeNames[TYPE_IMAGES] = GetLanguageTextOr(L"Image", L"Picture");
    m_strTypeNames[TYPE_AUDIOS] = GetLanguageTextOr(L"Audio", L"Audio");
    m_strTypeNames[TYPE_VIDEOS] = GetLanguageTextOr(L"Vedio", L"Video");
    m_strTypeNames[TYPE_DATAS] = GetLanguageTextOr(L"Data", L"Data");
    m_strTypeNames[TYPE_OTHERS] = GetLanguageTextOr(L"Other", L"Others");
    m_strEditPrompt = GetLanguageTextOr(L"EditPrompt",
                                        L"Please input the file extensions which should be separated by ','");
    m_strPromptTitle = GetLanguageTextOr(L"PromptTitle", L"Tips");
    m_strSelectFileType = GetLanguageTextOr(L"SelectFileType", L"Select the backup file type:");
    for (int i = 0; i < TYPE_COUNT; ++i)
        m_strTypeLabels[i] = m_strTypeNames[i] + kTypeExtensions[i];
}

int COtherSetDlg::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    FillLanguageCombo();
    return 0;
}

void COtherSetDlg::CreateControls()
{
    const CRect r0(0, 0, 1, 1);
    const DWORD kCheck = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX;
    m_lblFileType.Create(m_strSelectFileType, WS_CHILD | WS_VISIBLE, r0, this, IDC_FILETYPE_LABEL);
    for (int i = 0; i < TYPE_COUNT; ++i)
        m_chkTypes[i].Create(m_strTypeLabels[i], kCheck, r0, this, kTypeIds[i]);
    m_editExt.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, r0, this, IDC_EXT_EDIT);
    m_chkAutoStart.Create(m_strAutoStart, kCheck, r0, this, IDC_AUTOSTART);
    m_chkUsbHotKey.Create(m_strUsbHotKey, kCheck, r0, this, IDC_USB_HOTKEY);
    m_lblLanguage.Create(m_strLanguage, WS_CHILD | WS_VISIBLE | SS_CENTER, r0, this, IDC_LANGUAGE_LABEL);
    m_comboLanguage.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL, CRect(0, 0, 140, 120),
                           this, IDC_LANGUAGE_COMBO);
    CWnd* all[] = {&m_lblFileType, &m_editExt, &m_chkAutoStart, &m_chkUsbHotKey, &m_lblLanguage, &m_comboLanguage};
    for (CWnd* p : all)
        p->SetFont(&m_font, FALSE);
    for (CButtonST& b : m_chkTypes)
        b.SetFont(&m_font, FALSE);
    LayoutControls();
    InitToolTip(m_hToolTip, m_hWnd, m_editExt.m_hWnd, m_strEditPrompt);
}

void COtherSetDlg::LayoutControls()
{
    CRect rc;
    GetClientRect(&rc);
    auto height = [](const CSize& sz) { return std::max<int>(sz.cy, 16); };

    CSize sz = MeasureText(m_font, m_strSelectFileType);
    m_lblFileType.MoveWindow(20, 20, std::max<int>(rc.right - 30 - 20, sz.cx), height(sz), FALSE);
    int top = 20 + height(sz) + 10;
    for (int i = 0; i < TYPE_COUNT; ++i) {
        sz = MeasureText(m_font, m_strTypeLabels[i]);
        m_chkTypes[i].MoveWindow(20, top, sz.cx + 30, height(sz), FALSE);
        if (i == TYPE_OTHERS) {
            int x = 20 + sz.cx + 30 + 4;
            m_editExt.MoveWindow(x, top - 2, std::max<int>(rc.right - 10 - x, 40), height(sz) + 4, FALSE);
        }
        top += height(sz) + 10;
    }

    sz = MeasureText(m_font, m_strAutoStart);
    m_chkAutoStart.MoveWindow(20, 20, sz.cx + 30, height(sz), FALSE);
    top = 20 + height(sz) + 15;
    sz = MeasureText(m_font, m_strUsbHotKey);
    m_chkUsbHotKey.MoveWindow(20, top, sz.cx + 30, height(sz), FALSE);
    top += height(sz) + 15;
    sz = MeasureText(m_font, m_strLanguage);
    m_lblLanguage.MoveWindow(24, top + 3, sz.cx, height(sz), FALSE);
    m_comboLanguage.MoveWindow(24 + sz.cx + 10, top, 140, 120, FALSE);
}

void COtherSetDlg::FillLanguageCombo()
{
    m_comboLanguage.ResetContent();
    for (const LanguageEntry& e : ReadLanguageList(g_strAppDir))
        m_comboLanguage.AddString(e.strName);
    if (m_comboLanguage.GetCount() == 0)
        m_comboLanguage.AddString(L"English");
}

BOOL COtherSetDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    LoadSettings();
    SetTimer(1, 500);
    m_editExt.EnableWindow(FALSE);
    return TRUE;
}

void COtherSetDlg::LoadSettings()
{
    CXmlDocument doc;
    bool bCanSave = LoadTabSettings(doc);
    bool bChanged = false;
    ISettingsHost* pHost = GetSettingsHost();

    // A missing switch is added off and leaves the watch as it is.
    bool bAdded = false;
    bool bUsb = false;
    if (FindOrAddSetting(doc, L"USBHotKey", L"0", true, &bAdded))
        bUsb = doc.GetChildData() == L"1";
    if (bAdded)
        bChanged = true;
    m_chkUsbHotKey.SetCheckState(bUsb ? 1 : 0);
    FixSetting(doc, L"USBHotKey", bUsb ? L"1" : L"0", bChanged);
    if (!bAdded && pHost)
        pHost->SetButtonWatch(bUsb);

    bool bAuto = GetOrAddSetting(doc, L"AutoStart", L"0", bChanged) == L"1";
    m_chkAutoStart.SetCheckState(bAuto ? 1 : 0);
    FixSetting(doc, L"AutoStart", bAuto ? L"1" : L"0", bChanged);

    // The language in force: the name of the chosen id when its table loads, else English.
    CString strId = ReadLanguageSelect(g_strAppDir);
    CString strName = L"English";
    CXmlDocument table;
    if (table.LoadFile(LanguageTablePath(g_strAppDir, strId))) {
        for (const LanguageEntry& e : ReadLanguageList(g_strAppDir)) {
            if (e.strId == strId)
                strName = e.strName;
        }
    }
    m_nLanguageIndex = m_comboLanguage.FindString(-1, strName);
    m_comboLanguage.SetCurSel(m_nLanguageIndex);

    for (int i = 0; i < 4; ++i) {
        bool bOn = GetOrAddSetting(doc, kTypeElements[i], L"0", bChanged) == L"1";
        m_chkTypes[i].SetCheckState(bOn ? 1 : 0);
        FixSetting(doc, kTypeElements[i], bOn ? L"1" : L"0", bChanged);
    }

    if (bChanged && bCanSave && doc.IsWellFormed())
        CheckSettingsWrite(doc.SaveFile(GetSettingsPath()) ? SettingsWrite::Saved : SettingsWrite::Failed);
}

// ---------------------------------------------------------------------------------------------
// Clicks

void COtherSetDlg::OnBnClickedAutoStart()
{
    HCURSOR hOld = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    int nState = m_chkAutoStart.GetCheckState();
    HKEY hKey = OpenRunKey();
    if (!hKey) {
        // Without the key nothing starts at logon: the box says so.
        nState = 0;
    } else {
        if (nState) {
            CString strCommand = BuildLauncherCommand();
            DWORD cb = (DWORD)((strCommand.GetLength() + 1) * sizeof(wchar_t));
            if (strCommand.IsEmpty() ||
                ::RegSetValueExW(hKey, kRunValueName, 0, REG_SZ, (const BYTE*)strCommand.GetString(), cb) !=
                    ERROR_SUCCESS)
                nState = 0;
        } else {
            ::RegDeleteValueW(hKey, kRunValueName);
        }
        ::RegCloseKey(hKey);
    }
    m_chkAutoStart.SetCheckState(nState);
    // The click's own value supersedes a "0" the check still had to store, and its write,
    // stored or reported here, ends the check's report: the next failure of the check is
    // reported again.
    m_bAutoStartOffPending = false;
    m_bAutoStartFailReported = false;
    CheckSettingsWrite(SaveInitValue(L"AutoStart", nState ? L"1" : L"0"));
    ::SetCursor(hOld);
}

void COtherSetDlg::CheckRunValue()
{
    if (m_bRunCheckReporting)
        return;
    if (m_chkAutoStart.GetCheckState()) {
        // A Run key that cannot be opened tells nothing about the value: the box stays as it
        // is (a click says what it can).
        HKEY hKey = OpenRunKey();
        if (!hKey)
            return;
        const bool bPresent =
            ::RegQueryValueExW(hKey, kRunValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        ::RegCloseKey(hKey);
        if (bPresent)
            return;
        // Nothing starts at log-on any more: the box says so at once, stored or not.
        m_chkAutoStart.SetCheckState(0);
        m_chkAutoStart.Invalidate();
        m_bAutoStartOffPending = true;
    }
    if (!m_bAutoStartOffPending)
        return;
    SettingsWrite result = SaveInitValue(L"AutoStart", L"0");
    if (WriteSucceeded(result)) {
        m_bAutoStartOffPending = false;
        m_bAutoStartFailReported = false;
        return;
    }
    if (m_bAutoStartFailReported)
        return;
    m_bAutoStartFailReported = true;
    m_bRunCheckReporting = true;
    CheckSettingsWrite(result);
    m_bRunCheckReporting = false;
}

void COtherSetDlg::OnTimer(UINT_PTR)
{
    CheckRunValue();
}

void COtherSetDlg::OnBnClickedUsbHotKey()
{
    HCURSOR hOld = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    int nState = m_chkUsbHotKey.GetCheckState();
    ISettingsHost* pHost = GetSettingsHost();
    if (pHost)
        pHost->SetButtonWatch(nState != 0);
    if (!CheckSettingsWrite(SaveInitValue(L"USBHotKey", nState ? L"1" : L"0"))) {
        // Not stored: the switch and the watch go back to what the file says.
        m_chkUsbHotKey.SetCheckState(nState ? 0 : 1);
        if (pHost)
            pHost->SetButtonWatch(nState == 0);
    }
    ::SetCursor(hOld);
}

void COtherSetDlg::OnTypeClicked(int nType)
{
    int nState = m_chkTypes[nType].GetCheckState();
    if (!CheckSettingsWrite(SaveInitValue(kTypeElements[nType], nState ? L"1" : L"0")))
        m_chkTypes[nType].SetCheckState(nState ? 0 : 1);
}

void COtherSetDlg::ShowPrompt()
{
    m_bPromptShown = true;
    m_editExt.SetTextColor(kPromptColor);
    m_editExt.SetWindowText(m_strEditPrompt);
}

void COtherSetDlg::OnBnClickedOtherTypes()
{
    if (m_chkTypes[TYPE_OTHERS].GetCheckState()) {
        m_editExt.EnableWindow(TRUE);
        if (m_editExt.GetWindowTextLength() == 0)
            ShowPrompt();
    } else {
        m_editExt.EnableWindow(FALSE);
        if (m_bPromptShown) {
            m_bPromptShown = false;
            m_editExt.SetWindowText(L"");
        }
    }
    m_editExt.Invalidate();
}

void COtherSetDlg::OnEnSetfocusExtEdit()
{
    if (!m_bPromptShown)
        return;
    m_bPromptShown = false;
    m_editExt.SetWindowText(L"");
    m_editExt.SetTextColor(RGB(0, 0, 0));
    m_editExt.Invalidate();
}

CString COtherSetDlg::GetOtherExtensions() const
{
    if (m_bPromptShown)
        return CString();
    return m_editExt.GetWindowText();
}

void COtherSetDlg::OnCbnSelchangeLanguage()
{
    int nSel = m_comboLanguage.GetCurSel();
    if (nSel == m_nLanguageIndex || nSel < 0)
        return;
    CString strName;
    m_comboLanguage.GetLBText(nSel, strName);
    CString strId;
    for (const LanguageEntry& e : ReadLanguageList(g_strAppDir)) {
        if (e.strName == strName)
            strId = e.strId;
    }
    CXmlDocument table;
    bool bTable = !strId.IsEmpty() && table.LoadFile(LanguageTablePath(g_strAppDir, strId));
    if (!bTable && strName != L"English") {
        m_comboLanguage.SetCurSel(m_nLanguageIndex);
        m_comboLanguage.Invalidate();
        return;
    }
    if (strId.IsEmpty())
        strId = L"0x0409";
    if (!CheckSettingsWrite(SaveLanguageSelect(g_strAppDir, strId))) {
        m_comboLanguage.SetCurSel(m_nLanguageIndex);
        m_comboLanguage.Invalidate();
        return;
    }
    m_nLanguageIndex = nSel;
    g_strLanguage = strId;
    // The main window loads the table and renews every window's texts, this page's included.
    if (ISettingsHost* pHost = GetSettingsHost())
        pHost->ApplyLanguage(strId);
}

// ---------------------------------------------------------------------------------------------
// Groups, texts and painting

void COtherSetDlg::ShowGroup(bool bFileTypes)
{
    m_bFileTypeGroup = bFileTypes;
    int nTypes = bFileTypes ? SW_SHOW : SW_HIDE;
    int nOther = bFileTypes ? SW_HIDE : SW_SHOW;
    for (CButtonST& b : m_chkTypes)
        b.ShowWindow(nTypes);
    m_editExt.ShowWindow(nTypes);
    m_lblFileType.ShowWindow(nTypes);
    m_chkAutoStart.ShowWindow(nOther);
    m_chkUsbHotKey.ShowWindow(nOther);
    m_lblLanguage.ShowWindow(nOther);
    m_comboLanguage.ShowWindow(nOther);
}

void COtherSetDlg::ReloadLanguageText()
{
    CString strOldPrompt = m_strEditPrompt;
    LoadLanguageText();
    m_lblFileType.SetWindowText(m_strSelectFileType);
    for (int i = 0; i < TYPE_COUNT; ++i)
        m_chkTypes[i].SetWindowText(m_strTypeLabels[i]);
    m_chkAutoStart.SetWindowText(m_strAutoStart);
    m_chkUsbHotKey.SetWindowText(m_strUsbHotKey);
    m_lblLanguage.SetWindowText(m_strLanguage);
    if (m_bPromptShown)
        m_editExt.SetWindowText(m_strEditPrompt);
    LayoutControls();
    UpdateToolTipText(m_hToolTip, m_editExt.m_hWnd, m_strEditPrompt);
    for (CButtonST& b : m_chkTypes)
        b.ResetBackground(FALSE);
    m_chkAutoStart.ResetBackground(FALSE);
    m_chkUsbHotKey.ResetBackground(FALSE);
    Invalidate();
}

HBRUSH COtherSetDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    int nID = pWnd ? pWnd->GetDlgCtrlID() : 0;
    if (nID == IDC_LANGUAGE_LABEL || nID == IDC_FILETYPE_LABEL) {
        pDC->SetBkMode(TRANSPARENT);
        return (HBRUSH)::GetStockObject(NULL_BRUSH);
    }
    return CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
}

BOOL COtherSetDlg::PreTranslateMessage(MSG* pMsg)
{
    if (m_hToolTip)
        ::SendMessageW(m_hToolTip, TTM_RELAYEVENT, 0, (LPARAM)pMsg);
    if (AfxIsKeyMessageFor(pMsg, VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void COtherSetDlg::OnPaint()
{
    CPaintDC dcPaint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&dcPaint, &rc);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    EnsurePanelBackground();
    if (!g_imgPanelBk.IsNull())
        g_imgPanelBk.Draw(dc.m_hDC, -5, 0, rc.Width() + 10, rc.Height());
    if (!m_bSkinsLoaded) {
        m_bSkinsLoaded = true;
        for (CButtonST& b : m_chkTypes)
            SetCheckButtonImages(b);
        const UINT focused[3] = {295, 296, 297}, disabled[3] = {298, 300, 299}, normal[3] = {289, 290, 291},
                   hover[3] = {292, 294, 293};
        m_editExt.LoadSliceImages(focused, disabled, normal, hover);
        SetCheckButtonImages(m_chkAutoStart);
        SetCheckButtonImages(m_chkUsbHotKey);
        m_comboLanguage.LoadSkinImages();
    }
}
