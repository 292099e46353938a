#include "HotKeyDlg.h"

#include "LanguageText.h"
#include "MemDC.h"
#include "SettingsHost.h"
#include "SettingsStore.h"
#include "SharedFunctions.h"

BEGIN_MESSAGE_MAP(CHotKey, CPopupDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_BN_CLICKED(IDC_POPUP_OK, OnBnClickedOk)
    ON_BN_CLICKED(IDC_POPUP_CANCEL, OnBnClickedCancel)
    ON_BN_CLICKED(IDC_POPUP_CLOSE, OnBnClickedCancel)
    ON_COMMAND(IDOK, OnBnClickedOk)
    ON_COMMAND(IDCANCEL, OnBnClickedCancel)
END_MESSAGE_MAP()

int HotKeyFlagsToModifiers(int nHotKeyFlags)
{
    int n = 0;
    if (nHotKeyFlags & HOTKEYF_SHIFT)
        n |= MOD_SHIFT;
    if (nHotKeyFlags & HOTKEYF_CONTROL)
        n |= MOD_CONTROL;
    if (nHotKeyFlags & HOTKEYF_ALT)
        n |= MOD_ALT;
    return n;
}

int ModifiersToHotKeyFlags(int nModifiers)
{
    int n = 0;
    if (nModifiers & MOD_SHIFT)
        n |= HOTKEYF_SHIFT;
    if (nModifiers & MOD_CONTROL)
        n |= HOTKEYF_CONTROL;
    if (nModifiers & MOD_ALT)
        n |= HOTKEYF_ALT;
    return n;
}

namespace {
CString KeyName(UINT nVirtualKey, bool bExtended)
{
    UINT nScan = ::MapVirtualKeyW(nVirtualKey, 0 /* MAPVK_VK_TO_VSC */);
    LONG lParam = (LONG)(nScan << 16);
    if (bExtended)
        lParam |= 1 << 24;
    wchar_t buf[64] = {};
    int n = ::GetKeyNameTextW(lParam, buf, 64);
    if (n <= 0) {
        CString s;
        if ((nVirtualKey >= L'0' && nVirtualKey <= L'9') || (nVirtualKey >= L'A' && nVirtualKey <= L'Z'))
            s = CString((wchar_t)nVirtualKey);
        else if (nVirtualKey >= VK_F1 && nVirtualKey <= VK_F24)
            s.Format(L"F%d", nVirtualKey - VK_F1 + 1);
        else
            s.Format(L"0x%02X", nVirtualKey);
        return s;
    }
    return CString(buf);
}
} // namespace

CString HotKeyDisplayName(UINT nVirtualKey, int nHotKeyFlags)
{
    CString s;
    if (nHotKeyFlags & HOTKEYF_CONTROL)
        s += KeyName(VK_CONTROL, false) + L" + ";
    if (nHotKeyFlags & HOTKEYF_SHIFT)
        s += KeyName(VK_SHIFT, false) + L" + ";
    if (nHotKeyFlags & HOTKEYF_ALT)
        s += KeyName(VK_MENU, false) + L" + ";
    if (nVirtualKey)
        s += KeyName(nVirtualKey, (nHotKeyFlags & HOTKEYF_EXT) != 0);
    return s;
}

CHotKey::CHotKey(CWnd* pParent) : CPopupDialog(IDD, 21, pParent)
{
    CreateSettingsFont(m_fontTitle, 18, 500);
    CreateSettingsFont(m_fontText, 13, FW_NORMAL);
    LoadLanguageText();
}

HWND CHotKey::MainWindow() const
{
    CWnd* p = GetSettingsOwnerWindow();
    return p ? p->m_hWnd : nullptr;
}

void CHotKey::LoadLanguageText()
{
    m_strTitle = GetLanguageTextOr(L"HotKeyDlgTitle", L"Hotkey setting");
    m_strPrompt = GetLanguageTextOr(L"HotKeyStatic", L"Backup hotkey");
    m_strOk = GetLanguageTextOr(L"OK", L"OK");
    m_strCancel = GetLanguageTextOr(L"Cancel", L"Cancel");
}

int CHotKey::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    return 0;
}

void CHotKey::CreateControls()
{
    EnsureSettingsControlClasses();
    CRect rcWnd;
    GetWindowRect(&rcWnd);
    int W = rcWnd.Width();
    m_btnClose.Create(L"", WS_CHILD | WS_VISIBLE, CRect(W - 21, 4, W - 5, 20), this, IDC_POPUP_CLOSE);
    m_btnClose.SetIcons(163, 164, 165, 165);
    m_btnClose.ResetBackground(FALSE);
    m_btnClose.DrawBorder(FALSE, FALSE);

    CSize szTitle = MeasureText(m_fontTitle, m_strTitle);
    int xTitle = std::max<int>(5, (W - szTitle.cx) / 2);
    m_lblTitle.Create(m_strTitle, WS_CHILD | WS_VISIBLE | SS_CENTER,
                      CRect(xTitle, 3, xTitle + szTitle.cx, 3 + szTitle.cy), this, IDC_HOTKEY_TITLE);
    m_lblTitle.SetFont(&m_fontTitle, FALSE);

    CSize szPrompt = MeasureText(m_fontText, m_strPrompt);
    int yPrompt = 3 + szTitle.cy + 20;
    int xPrompt = std::max<int>(5, (W - szPrompt.cx - 5 - 160) / 2);
    m_lblPrompt.Create(m_strPrompt, WS_CHILD | WS_VISIBLE, CRect(xPrompt, yPrompt, xPrompt + szPrompt.cx,
                                                                  yPrompt + szPrompt.cy),
                       this, IDC_HOTKEY_PROMPT);
    m_lblPrompt.SetFont(&m_fontText, FALSE);
    int xKey = xPrompt + szPrompt.cx + 5;
    CRect rcKey(xKey, yPrompt - 3, xKey + 160, yPrompt + szPrompt.cy + 3);
    m_hotKey.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, rcKey, this, IDC_HOTKEY_CTRL);
    m_hotKey.SetFont(&m_fontText, FALSE);

    CSize szOk = MeasureText(m_fontText, m_strOk);
    CSize szCancel = MeasureText(m_fontText, m_strCancel);
    int w = std::max<int>(szOk.cx, szCancel.cx) + 20;
    int h = szOk.cy + 10;
    int top = rcKey.bottom + 10;
    m_btnOk.Create(m_strOk, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(W / 2 - 3 - w, top, W / 2 - 3, top + h), this,
                   IDC_POPUP_OK);
    m_btnCancel.Create(m_strCancel, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(W / 2 + 3, top, W / 2 + 3 + w, top + h),
                       this, IDC_POPUP_CANCEL);
    for (CButtonST* b : {&m_btnOk, &m_btnCancel}) {
        b->LoadSkinSlices();
        b->ResetBackground(FALSE);
        b->DrawBorder(FALSE, FALSE);
        b->SetFont(&m_fontText, FALSE);
    }
}

BOOL CHotKey::OnInitDialog()
{
    CDialog::OnInitDialog();
    OpenPopup(IDB_POPUP_BK, IDB_POPUP_BK);

    int nKey = 0, nMods = 0;
    ReadHotKey(nKey, nMods);
    // While the dialog is open the stored combination must reach the control, not the program.
    if (HWND hMain = MainWindow())
        ::UnregisterHotKey(hMain, ID_BACKUP_HOTKEY);
    int nFlags = ModifiersToHotKeyFlags(nMods);
    if (nKey && nFlags)
        m_hotKey.SetHotKey((WORD)(nKey & 0xFF), (WORD)nFlags);
    else
        m_hotKey.SendMessage(HKM_SETHOTKEY, 0x0600);
    m_hotKey.SetFocus();
    return FALSE;
}

void CHotKey::OnBnClickedOk()
{
    WORD vk = 0, flags = 0;
    m_hotKey.GetHotKey(vk, flags);
    int nMods = HotKeyFlagsToModifiers(flags);
    CString strName;
    HWND hMain = MainWindow();
    bool bRegistered = false;
    if (nMods && vk) {
        strName = HotKeyDisplayName(vk, flags);
        if (!hMain || !::RegisterHotKey(hMain, ID_BACKUP_HOTKEY, nMods, vk)) {
            // Taken by another program: the old combination stays in force.
            ::MessageBeep(MB_ICONEXCLAMATION);
            OnBnClickedCancel();
            return;
        }
        bRegistered = true;
    } else {
        vk = 0;
        nMods = 0;
    }
    if (!CheckSettingsWrite(SaveHotKey(strName, vk, nMods))) {
        if (bRegistered)
            ::UnregisterHotKey(hMain, ID_BACKUP_HOTKEY);
        OnBnClickedCancel();
        return;
    }
    EndDialog(IDOK);
}

void CHotKey::OnBnClickedCancel()
{
    int nKey = 0, nMods = 0;
    ReadHotKey(nKey, nMods);
    if (nKey && nMods) {
        if (HWND hMain = MainWindow())
            ::RegisterHotKey(hMain, ID_BACKUP_HOTKEY, nMods, nKey);
    }
    EndDialog(IDCANCEL);
}

void CHotKey::OnPaint()
{
    CPaintDC dcPaint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&dcPaint, &rc);
    dc.FillSolidRect(&rc, 0x7D7D7D);
    if (!m_imgBk.IsNull())
        m_imgBk.Draw(dc.m_hDC, -2, -2, rc.Width() + 3, rc.Height() + 3);
    CDC* pBk = ButtonBackground(&dc);
    m_btnClose.CopyParentBackground(pBk);
    m_btnOk.CopyParentBackground(pBk);
    m_btnCancel.CopyParentBackground(pBk);
}

HBRUSH CHotKey::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    int nID = pWnd ? pWnd->GetDlgCtrlID() : 0;
    if (nID == IDC_HOTKEY_TITLE || nID == IDC_HOTKEY_PROMPT) {
        pDC->SetBkMode(TRANSPARENT);
        if (nID == IDC_HOTKEY_TITLE)
            pDC->SetTextColor(RGB(255, 255, 255));   // on the blue band
        return (HBRUSH)::GetStockObject(NULL_BRUSH);
    }
    return CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
}
