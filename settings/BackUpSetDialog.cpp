#include "BackUpSetDialog.h"

#include "HotKeyDlg.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "PasswordSetDlg.h"
#include "SettingsCommon.h"
#include "SettingsHost.h"
#include "SharedFunctions.h"
#include "XmlDocument.h"

BEGIN_MESSAGE_MAP(CBackUpSetDialog, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_COMMAND(IDOK, OnIgnoreCommand)
    ON_COMMAND(IDCANCEL, OnIgnoreCommand)
    ON_COMMAND(1016, OnIgnoreCommand)
    ON_COMMAND(1017, OnIgnoreCommand)
    ON_BN_CLICKED(IDC_FINISH_INFO, OnBnClickedFinishInfo)
    ON_BN_CLICKED(IDC_FINISH_MAINWND, OnBnClickedBackMainWnd)
    ON_BN_CLICKED(IDC_FINISH_SHUTDOWN, OnBnClickedShutDownPc)
    ON_BN_CLICKED(IDC_FINISH_REBOOT, OnBnClickedRebootPc)
    ON_BN_CLICKED(IDC_STATUS_ALL, OnBnClickedAllFiles)
    ON_BN_CLICKED(IDC_STATUS_CHANGED, OnBnClickedChangeFiles)
    ON_BN_CLICKED(IDC_HIDE_FILES, OnBnClickedHideFiles)
    ON_BN_CLICKED(IDC_MAKE_SURE, OnBnClickedMakeSure)
    ON_BN_CLICKED(IDC_COMPRESS, OnBnClickedCompress)
    ON_BN_CLICKED(IDC_HOTKEY_BUTTON, OnBnClickedHotKey)
    ON_BN_CLICKED(IDC_SET_PASSWORD, OnBnClickedSetPassword)
    ON_BN_CLICKED(IDC_REVISE_PASSWORD, OnBnClickedRevisePassword)
    ON_CBN_SELCHANGE(IDC_PASSWORD_STYLE, OnCbnSelchangePasswordStyle)
END_MESSAGE_MAP()

const UINT CBackUpSetDialog::kButtonIds[12] = {
    IDC_FINISH_INFO, IDC_FINISH_MAINWND, IDC_FINISH_SHUTDOWN, IDC_FINISH_REBOOT,
    IDC_STATUS_ALL,  IDC_STATUS_CHANGED, IDC_HIDE_FILES,      IDC_MAKE_SURE,
    IDC_COMPRESS,    IDC_HOTKEY_BUTTON,  IDC_SET_PASSWORD,    IDC_REVISE_PASSWORD,
};

namespace {
const UINT kFinishIds[4] = {IDC_FINISH_INFO, IDC_FINISH_MAINWND, IDC_FINISH_SHUTDOWN, IDC_FINISH_REBOOT};
const UINT kStatusIds[2] = {IDC_STATUS_ALL, IDC_STATUS_CHANGED};
const wchar_t* const kFinishValues[4] = {L"0", L"1", L"2", L"3"};
} // namespace

CBackUpSetDialog::CBackUpSetDialog() : CDialog(IDD)
{
    CreateSettingsFont(m_font, 12);
}

CBackUpSetDialog::~CBackUpSetDialog()
{
    if (m_dcMem.m_hDC && m_hOldMemBitmap)
        ::SelectObject(m_dcMem.m_hDC, m_hOldMemBitmap);
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

CButtonST& CBackUpSetDialog::Button(UINT nID)
{
    for (int i = 0; i < 4; ++i)
        if (kFinishIds[i] == nID)
            return m_radFinish[i];
    for (int i = 0; i < 2; ++i)
        if (kStatusIds[i] == nID)
            return m_radStatus[i];
    switch (nID) {
    case IDC_HIDE_FILES: return m_chkHideFiles;
    case IDC_MAKE_SURE: return m_chkMakeSure;
    case IDC_COMPRESS: return m_chkCompress;
    case IDC_HOTKEY_BUTTON: return m_btnHotKey;
    case IDC_SET_PASSWORD: return m_chkSetPassword;
    default: return m_btnRevisePassword;
    }
}

void CBackUpSetDialog::ReadHotKey(int& nVirtualKey, int& nModifiers) { ::ReadHotKey(nVirtualKey, nModifiers); }

bool CBackUpSetDialog::SaveHotKey(const wchar_t* pszText, int nVirtualKey, int nModifiers)
{
    return CheckSettingsWrite(::SaveHotKey(pszText, nVirtualKey, nModifiers));
}

// ---------------------------------------------------------------------------------------------
// Texts and layout

void CBackUpSetDialog::LoadLanguageText()
{
    m_strFinishGroup = GetLanguageTextOr(L"BackUpFinish", L"When complete backup task");
    m_strFinish[0] = GetLanguageTextOr(L"FinishInfo", L"Show information");
    m_strFinish[1] = GetLanguageTextOr(L"BackMainWND", L"Back to the main interface");
    m_strFinish[2] = GetLanguageTextOr(L"ShutDownPc", L"Shut down computer");
    m_strFinish[3] = GetLanguageTextOr(L"RebootPc", L"Reboot computer");
    m_strStatusGroup = GetLanguageTextOr(L"BackUpStatus", L"Backup status");
    m_strStatus[0] = GetLanguageTextOr(L"BackUpAllFiles", L"Backup/restore all files");
    m_strStatus[1] = GetLanguageTextOr(L"BackUpChangeFiles", L"Backup/restore modified files");
    m_strHideFiles = GetLanguageTextOr(L"HideFiles", L"Hide backup files");
    m_strMakeSure = GetLanguageTextOr(L"MakeSure", L"Require confirmation when starting backup");
    m_strCompress = GetLanguageTextOr(L"Compress", L"Compress backup files");
    m_strHotKeyLabel = GetLanguageTextOr(L"HotKeyStatic", L"Backup hotkey");
    m_strHotKeyButton = GetLanguageTextOr(L"HotKeyButton", L"Edit");
    m_strDataSafe = GetLanguageTextOr(L"DataSafe", L"Data security");
    m_strSetPassword = GetLanguageTextOr(L"SetPassword", L"Encryption");
    m_strRevisePassword = GetLanguageTextOr(L"RevisePassword", L"Set password");
}

int CBackUpSetDialog::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    LoadLanguageText();
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    return 0;
}

void CBackUpSetDialog::CreateControls()
{
    const DWORD kRadio = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON;
    const DWORD kCheck = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX;
    const CRect r0(0, 0, 1, 1);
    m_lblFinish.Create(m_strFinishGroup, WS_CHILD | WS_VISIBLE | SS_CENTER, r0, this, IDC_FINISH_GROUP);
    for (int i = 0; i < 4; ++i)
        m_radFinish[i].Create(m_strFinish[i], kRadio, r0, this, kFinishIds[i]);
    m_lblStatus.Create(m_strStatusGroup, WS_CHILD | WS_VISIBLE | SS_CENTER, r0, this, IDC_STATUS_GROUP);
    for (int i = 0; i < 2; ++i)
        m_radStatus[i].Create(m_strStatus[i], kRadio, r0, this, kStatusIds[i]);
    m_chkHideFiles.Create(m_strHideFiles, kCheck, r0, this, IDC_HIDE_FILES);
    m_chkMakeSure.Create(m_strMakeSure, kCheck, r0, this, IDC_MAKE_SURE);
    m_chkCompress.Create(m_strCompress, kCheck, r0, this, IDC_COMPRESS);
    m_lblHotKey.Create(m_strHotKeyLabel, WS_CHILD | WS_VISIBLE | SS_CENTER, r0, this, IDC_HOTKEY_LABEL);
    m_editHotKey.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, r0, this, IDC_HOTKEY_TEXT);
    m_btnHotKey.Create(m_strHotKeyButton, WS_CHILD | WS_VISIBLE | WS_TABSTOP, r0, this, IDC_HOTKEY_BUTTON);
    m_lblDataSafe.Create(m_strDataSafe, WS_CHILD | WS_VISIBLE | SS_CENTER, r0, this, IDC_DATASAFE_LABEL);
    m_chkSetPassword.Create(m_strSetPassword, kCheck, r0, this, IDC_SET_PASSWORD);
    m_btnRevisePassword.Create(m_strRevisePassword, WS_CHILD | WS_VISIBLE | WS_TABSTOP, r0, this,
                               IDC_REVISE_PASSWORD);
    m_btnRevisePassword.ResetBackground(FALSE);
    m_btnRevisePassword.SetSingleLine(TRUE, FALSE);
    m_comboPasswordStyle.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL, CRect(0, 0, 120, 100), this,
                                IDC_PASSWORD_STYLE);
    m_comboPasswordStyle.AddString(L"SHA-256");
    CWnd* all[] = {&m_lblFinish, &m_lblStatus, &m_chkHideFiles, &m_chkMakeSure, &m_chkCompress,
                   &m_lblHotKey, &m_editHotKey, &m_btnHotKey,   &m_lblDataSafe, &m_chkSetPassword,
                   &m_btnRevisePassword, &m_comboPasswordStyle};
    for (CWnd* p : all)
        p->SetFont(&m_font, FALSE);
    for (CButtonST& b : m_radFinish)
        b.SetFont(&m_font, FALSE);
    for (CButtonST& b : m_radStatus)
        b.SetFont(&m_font, FALSE);
    LayoutControls(true);
}

// Places every control by the layout rules and gives each button's tooltip its text: the
// caption when the control cut it, empty when it fits.
void CBackUpSetDialog::LayoutControls(bool bCreate)
{
    auto ext = [&](const CString& s) { return MeasureText(m_font, s); };
    auto place = [](CWnd& w, int l, int t, int r, int b) { w.MoveWindow(l, t, r - l, b - t, FALSE); };
    CString tips[12];

    CSize sz = ext(m_strFinishGroup);
    place(m_lblFinish, 15, 10 - sz.cy / 2, 15 + sz.cx, 10 - sz.cy / 2 + sz.cy);
    int top = 20;
    for (int i = 0; i < 4; ++i) {
        sz = ext(m_strFinish[i]);
        int h = std::max<int>(sz.cy, 16);
        int want = 6 + sz.cx + 30;
        place(m_radFinish[i], 6, top, std::min(want, 195), top + h);
        if (want > 195)
            tips[i] = m_strFinish[i];
        top += h + 7;
    }
    sz = ext(m_strStatusGroup);
    place(m_lblStatus, 225, 10 - sz.cy / 2, 225 + sz.cx, 10 - sz.cy / 2 + sz.cy);
    top = 32;
    for (int i = 0; i < 2; ++i) {
        sz = ext(m_strStatus[i]);
        int h = std::max<int>(sz.cy, 16);
        int want = 216 + sz.cx + 30;
        place(m_radStatus[i], 216, top, std::min(want, 515), top + h);
        if (want > 515)
            tips[4 + i] = m_strStatus[i];
        top += h + 25;
    }
    CButtonST* checks[3] = {&m_chkHideFiles, &m_chkMakeSure, &m_chkCompress};
    const CString* texts[3] = {&m_strHideFiles, &m_strMakeSure, &m_strCompress};
    top = 126;
    for (int i = 0; i < 3; ++i) {
        sz = ext(*texts[i]);
        int h = std::max<int>(sz.cy, 16);
        int want = 4 + sz.cx + 30;
        place(*checks[i], 4, top, std::min(want, 200), top + h);
        if (want > 200)
            tips[6 + i] = *texts[i];
        top += h + 10;
    }
    sz = ext(m_strHotKeyLabel);
    place(m_lblHotKey, 4, 220, 4 + sz.cx, 220 + sz.cy);
    int x = 4 + sz.cx + 4;
    place(m_editHotKey, x, 215, x + 120, 215 + sz.cy + 10);
    x += 120 + 4;
    place(m_btnHotKey, x, 215, x + 100, 215 + sz.cy + 10);
    if (ext(m_strHotKeyButton).cx > 100)
        tips[9] = m_strHotKeyButton;

    sz = ext(m_strDataSafe);
    int lblTop = 126 - sz.cy / 2;
    place(m_lblDataSafe, 395, lblTop, 395 + sz.cx, lblTop + sz.cy);
    CSize szPwd = ext(m_strSetPassword);
    int pwdTop = lblTop + 30;
    int pwdBottom = pwdTop + std::max<int>(szPwd.cy, 16);
    place(m_chkSetPassword, 385, pwdTop, 515, pwdBottom);
    if (szPwd.cx > 100)
        tips[10] = m_strSetPassword;
    CSize szRev = ext(m_strRevisePassword);
    place(m_btnRevisePassword, 391, pwdBottom + 5, 515, pwdBottom + 5 + szRev.cy + 10);
    if (szRev.cx > 124)
        tips[11] = m_strRevisePassword;
    int comboTop = pwdBottom + 5 + szRev.cy + 10 + 10;
    place(m_comboPasswordStyle, 390, comboTop, 510, comboTop + 15);

    for (int i = 0; i < 12; ++i) {
        HWND hTool = Button(kButtonIds[i]).m_hWnd;
        if (bCreate)
            InitToolTip(m_hToolTips[i], m_hWnd, hTool, tips[i]);
        else
            UpdateToolTipText(m_hToolTips[i], hTool, tips[i]);
    }
}

// ---------------------------------------------------------------------------------------------
// Loading

BOOL CBackUpSetDialog::OnInitDialog()
{
    CClientDC dc(this);
    m_dcMem.CreateCompatibleDC(&dc);
    CDialog::OnInitDialog();
    LoadSettings();
    UpdateRadioButtons();
    m_lblDataSafe.ShowWindow(SW_HIDE);
    m_btnRevisePassword.ShowWindow(SW_HIDE);
    m_chkSetPassword.ShowWindow(SW_HIDE);
    m_comboPasswordStyle.ShowWindow(SW_HIDE);
    return TRUE;
}

void CBackUpSetDialog::LoadSettings()
{
    CXmlDocument doc;
    bool bCanSave = LoadTabSettings(doc);
    bool bChanged = false;

    // Every value is shown as the controls can show it, and what is shown is what is stored.
    CString s = GetOrAddSetting(doc, L"BackupFinish", L"0", bChanged);
    m_nBackupFinish = s == L"0" ? 0 : s == L"1" ? 1 : s == L"2" ? 2 : 3;
    FixSetting(doc, L"BackupFinish", kFinishValues[m_nBackupFinish], bChanged);

    // A missing status gets the default "1" (only changed files), shown and stored alike.
    s = GetOrAddSetting(doc, L"BackupStatus", L"1", bChanged);
    m_nBackupStatus = s == L"0" ? 0 : 1;
    FixSetting(doc, L"BackupStatus", m_nBackupStatus ? L"1" : L"0", bChanged);

    struct CheckSetting {
        const wchar_t* pszName;
        CButtonST* pCheck;
    } checks[] = {{L"HideBackupFiles", &m_chkHideFiles},
                  {L"MakeSure", &m_chkMakeSure},
                  {L"CompressFile", &m_chkCompress},
                  {L"SetPassword", &m_chkSetPassword}};
    for (const CheckSetting& c : checks) {
        bool bOn = GetOrAddSetting(doc, c.pszName, L"0", bChanged) == L"1";
        c.pCheck->SetCheckState(bOn ? 1 : 0);
        FixSetting(doc, c.pszName, bOn ? L"1" : L"0", bChanged);
    }

    int nStyle = 0;
    ParseDecimal(GetOrAddSetting(doc, L"PasswordStyle", L"0", bChanged), nStyle);
    if (nStyle < 0 || nStyle >= m_comboPasswordStyle.GetCount())
        nStyle = 0;
    m_comboPasswordStyle.SetCurSel(nStyle);
    CString strStyle;
    strStyle.Format(L"%d", nStyle);
    FixSetting(doc, L"PasswordStyle", strStyle, bChanged);

    bool bAdded = false;
    if (FindOrAddSetting(doc, L"HotKey", nullptr, true, &bAdded)) {
        if (bAdded) {
            int pos = doc.GetChildPos();
            doc.SetAttributeAt(pos, L"Str", L"");
            doc.SetAttributeAt(pos, L"VirtualKeyCode", L"");
            doc.SetAttributeAt(pos, L"keyModifiers", L"");
            bChanged = true;
        }
        m_editHotKey.SetWindowText(RemoveSpaces(doc.GetChildAttribute(L"Str")));
    }

    if (bChanged && bCanSave && doc.IsWellFormed())
        CheckSettingsWrite(doc.SaveFile(GetSettingsPath()) ? SettingsWrite::Saved : SettingsWrite::Failed);
}

void CBackUpSetDialog::RefreshHotKeyText()
{
    m_editHotKey.SetWindowText(RemoveSpaces(ReadHotKeyText()));
}

void CBackUpSetDialog::UpdateRadioButtons()
{
    auto update = [](CButtonST* radios, int n, int nValue, CButtonST*& pChecked) {
        if (nValue < 0 || nValue >= n)
            return;
        for (int i = 0; i < n; ++i) {
            if (i != nValue && radios[i].GetCheckState())
                radios[i].SetCheckState(0);
        }
        radios[nValue].SetCheckState(1);
        pChecked = &radios[nValue];
    };
    update(m_radFinish, 4, m_nBackupFinish, m_pCheckedFinish);
    update(m_radStatus, 2, m_nBackupStatus, m_pCheckedStatus);
    UpdateWindow();
}

// ---------------------------------------------------------------------------------------------
// Clicks

bool CBackUpSetDialog::SaveSetting(const wchar_t* pszElement, const CString& strValue)
{
    return CheckSettingsWrite(SaveInitValue(pszElement, strValue));
}

void CBackUpSetDialog::OnFinishClicked(int nValue)
{
    if (nValue != m_nBackupFinish && SaveSetting(L"BackupFinish", kFinishValues[nValue]))
        m_nBackupFinish = nValue;
    UpdateRadioButtons();   // also takes the check back from a click that could not be stored
}

void CBackUpSetDialog::OnStatusClicked(int nValue)
{
    if (nValue != m_nBackupStatus && SaveSetting(L"BackupStatus", nValue ? L"1" : L"0"))
        m_nBackupStatus = nValue;
    UpdateRadioButtons();
}

bool CBackUpSetDialog::OnCheckClicked(CButtonST& check, const wchar_t* pszElement)
{
    // The skinned check box has already toggled itself.
    int nState = check.GetCheckState();
    if (SaveSetting(pszElement, nState ? L"1" : L"0"))
        return true;
    check.SetCheckState(nState ? 0 : 1);
    return false;
}

void CBackUpSetDialog::OnBnClickedHideFiles()
{
    if (OnCheckClicked(m_chkHideFiles, L"HideBackupFiles")) {
        if (ISettingsHost* pHost = GetSettingsHost())
            pHost->UpdateBackupFolderHidden();
    }
}

void CBackUpSetDialog::OnCbnSelchangePasswordStyle()
{
    CString s;
    s.Format(L"%d", m_comboPasswordStyle.GetCurSel());
    SaveSetting(L"PasswordStyle", s);
}

void CBackUpSetDialog::OnBnClickedHotKey()
{
    m_btnHotKey.CancelHover();
    Invalidate();
    UpdateWindow();
    CHotKey dlg(GetSettingsOwnerWindow());
    if (dlg.DoModal() == IDOK)
        RefreshHotKeyText();
}

void CBackUpSetDialog::OnBnClickedRevisePassword()
{
    m_btnRevisePassword.CancelHover();
    Invalidate();
    UpdateWindow();
    CPasswordSetDlg dlg(GetSettingsOwnerWindow());
    dlg.DoModal();
}

// ---------------------------------------------------------------------------------------------
// Messages

BOOL CBackUpSetDialog::PreTranslateMessage(MSG* pMsg)
{
    for (HWND hTip : m_hToolTips) {
        if (hTip)
            ::SendMessageW(hTip, TTM_RELAYEVENT, 0, (LPARAM)pMsg);
    }
    if (AfxIsKeyMessageFor(pMsg, VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

HBRUSH CBackUpSetDialog::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    int nID = pWnd ? pWnd->GetDlgCtrlID() : 0;
    if (nID >= IDC_FINISH_GROUP && nID <= IDC_DATASAFE_LABEL) {
        pDC->SetBkMode(TRANSPARENT);
        return (HBRUSH)::GetStockObject(NULL_BRUSH);
    }
    return CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
}

void CBackUpSetDialog::LoadImages()
{
    auto load = [](UINT id, CImage& img) {
        if (img.IsNull() && LoadPngResource(id, img))
            PremultiplyAlpha(img);
    };
    load(IDB_GROUP_LINE_LEFT, m_imgLineLeft);
    load(IDB_GROUP_LINE_TOP, m_imgLineTop);
    load(IDB_GROUP_LINE_RIGHT, m_imgLineRight);
    load(IDB_GROUP_LINE_BOTTOM, m_imgLineBottom);
    EnsurePanelBackground();
    if (m_imgMemBk.IsNull() && LoadPngResource(IDB_PANEL_BK, m_imgMemBk) && m_dcMem.m_hDC)
        m_hOldMemBitmap = ::SelectObject(m_dcMem.m_hDC, m_imgMemBk.GetHandle());
}

void CBackUpSetDialog::SetControlImages()
{
    for (CButtonST& b : m_radFinish)
        SetRadioButtonImages(b);
    for (CButtonST& b : m_radStatus)
        SetRadioButtonImages(b);
    SetCheckButtonImages(m_chkHideFiles);
    SetCheckButtonImages(m_chkMakeSure);
    SetCheckButtonImages(m_chkCompress);
    SetCheckButtonImages(m_chkSetPassword);
    for (CButtonST* b : {&m_btnHotKey, &m_btnRevisePassword}) {
        b->LoadSkinSlices();
        b->ResetBackground(FALSE);
        b->DrawBorder(FALSE, FALSE);
        b->Invalidate();
    }
    m_editHotKey.LoadImages(IDB_EDIT_NORMAL);
    m_comboPasswordStyle.LoadSkinImages();
}

void CBackUpSetDialog::OnPaint()
{
    CPaintDC dcPaint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&dcPaint, &rc);
    HGDIOBJ oldFont = dc.SelectObject((HGDIOBJ)m_font.m_hObject);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    if (!m_bImagesLoaded) {
        m_bImagesLoaded = true;
        LoadImages();
        SetControlImages();
    }
    if (!g_imgPanelBk.IsNull())
        g_imgPanelBk.Draw(dc.m_hDC, -5, 0, rc.Width() + 10, rc.Height());

    auto vline = [&](CImage& img, int x, int y, int h) {
        if (!img.IsNull())
            img.Draw(dc.m_hDC, x, y, img.GetWidth(), h, 0, 0, img.GetWidth(), img.GetHeight());
    };
    auto hline = [&](CImage& img, int x, int y, int w) {
        if (!img.IsNull() && w > 0)
            img.Draw(dc.m_hDC, x, y, w, img.GetHeight(), 0, 0, img.GetWidth(), img.GetHeight());
    };
    int c1 = MeasureText(m_font, m_strFinishGroup).cx;
    vline(m_imgLineLeft, 4, 10, 100);
    hline(m_imgLineTop, 5, 10, 10);
    hline(m_imgLineTop, c1 + 15, 10, 191 - c1);
    vline(m_imgLineRight, 205, 11, 99);
    hline(m_imgLineBottom, 5, 109, 201);
    int c2 = MeasureText(m_font, m_strStatusGroup).cx;
    vline(m_imgLineLeft, 214, 10, 100);
    hline(m_imgLineTop, 215, 10, 10);
    hline(m_imgLineTop, c2 + 225, 10, 301 - c2);
    vline(m_imgLineRight, 525, 11, 99);
    hline(m_imgLineBottom, 215, 109, 311);

    for (UINT id : kButtonIds)
        Button(id).CopyParentBackground(m_dcMem.m_hDC ? &m_dcMem : &dc);
    dc.SelectObject(oldFont);
}

void CBackUpSetDialog::ReloadLanguageText()
{
    LoadLanguageText();
    m_lblFinish.SetWindowText(m_strFinishGroup);
    for (int i = 0; i < 4; ++i)
        m_radFinish[i].SetWindowText(m_strFinish[i]);
    m_lblStatus.SetWindowText(m_strStatusGroup);
    for (int i = 0; i < 2; ++i)
        m_radStatus[i].SetWindowText(m_strStatus[i]);
    m_chkHideFiles.SetWindowText(m_strHideFiles);
    m_chkMakeSure.SetWindowText(m_strMakeSure);
    m_chkCompress.SetWindowText(m_strCompress);
    m_lblHotKey.SetWindowText(m_strHotKeyLabel);
    m_btnHotKey.SetWindowText(m_strHotKeyButton);
    m_lblDataSafe.SetWindowText(m_strDataSafe);
    m_chkSetPassword.SetWindowText(m_strSetPassword);
    m_btnRevisePassword.SetWindowText(m_strRevisePassword);
    LayoutControls(false);
    for (UINT id : kButtonIds)
        Button(id).ResetBackground(FALSE);
    Invalidate();
}
