#include "PasswordSetDlg.h"

#include "LanguageText.h"
#include "MemDC.h"
#include "SettingsHost.h"
#include "SharedFunctions.h"

BEGIN_MESSAGE_MAP(CPasswordSetDlg, CPopupDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_COMMAND(IDOK, OnIgnoreCommand)
    ON_BN_CLICKED(IDC_POPUP_CLOSE, OnCancel)
END_MESSAGE_MAP()

namespace {
const UINT kEditIds[4] = {IDC_OLD_PASSWORD, IDC_NEW_PASSWORD, IDC_NEW_PASSWORD2, IDC_PASSWORD_HINT};
const UINT kLabelIds[4] = {IDC_OLD_PASSWORD_LABEL, IDC_NEW_PASSWORD_LABEL, IDC_NEW_PASSWORD2_LABEL,
                           IDC_PASSWORD_HINT_LABEL};
} // namespace

CPasswordSetDlg::CPasswordSetDlg(CWnd* pParent) : CPopupDialog(IDD, 33, pParent)
{
    CreateSettingsFont(m_fontText, 12);
    CreateSettingsFont(m_fontTitle, 18);
}

void CPasswordSetDlg::LoadLanguageText()
{
    m_strLabels[0] = GetLanguageTextOr(L"OldPassword", L"Original Password:");
    m_strLabels[1] = GetLanguageTextOr(L"NewPassword", L"New Password:");
    m_strLabels[2] = GetLanguageTextOr(L"NewPasswordAgain", L"New password again:");
    m_strLabels[3] = GetLanguageTextOr(L"PasswordHint", L"Password hint:");
    m_strTitle = GetLanguageTextOr(L"PasswordSetTitle", L"Password Setting");
    m_strOk = GetLanguageTextOr(L"OK", L"OK");
    m_strCancel = GetLanguageTextOr(L"Cancel", L"Cancel");
}

int CPasswordSetDlg::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutControls();
    return 0;
}

void CPasswordSetDlg::LayoutControls()
{
    LoadLanguageText();
    CRect rcWnd;
    GetWindowRect(&rcWnd);
    int W = rcWnd.Width();
    m_btnClose.Create(L"", WS_CHILD | WS_VISIBLE, CRect(W - 26, 14, W - 10, 30), this, IDC_POPUP_CLOSE);
    m_btnClose.SetIcons(163, 164, 165, 165);
    m_btnClose.ResetBackground(FALSE);
    m_btnClose.DrawBorder(FALSE, FALSE);

    int wLabel = 0;
    for (const CString& s : m_strLabels)
        wLabel = std::max<int>(wLabel, MeasureText(m_fontText, s).cx);
    const int left = 20;
    const int xEdit = left + wLabel + 8;
    const int wEdit = W - 20 - xEdit;
    int top = 40;
    for (int i = 0; i < 4; ++i) {
        CSize sz = MeasureText(m_fontText, m_strLabels[i]);
        int rowH = std::max<int>(sz.cy + 6, 20);
        if (i == 3)
            top += 4;   // the hint stands a little apart from the three password fields
        m_labels[i].Create(m_strLabels[i], WS_CHILD | WS_VISIBLE | SS_RIGHT,
                           CRect(left, top + (rowH - sz.cy) / 2, left + wLabel, top + (rowH - sz.cy) / 2 + sz.cy),
                           this, kLabelIds[i]);
        m_labels[i].SetFont(&m_fontText, FALSE);
        m_edits[i].Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL,
                          CRect(xEdit, top, xEdit + wEdit, top + rowH), this, kEditIds[i]);
        m_edits[i].SetFont(&m_fontText, FALSE);
        m_edits[i].SetPasswordChar(L'*');
        const UINT focused[3] = {295, 296, 297}, disabled[3] = {298, 300, 299}, normal[3] = {289, 290, 291},
                   hover[3] = {292, 294, 293};
        m_edits[i].LoadSliceImages(focused, disabled, normal, hover);
        top += rowH + 2;
    }
    CSize szOk = MeasureText(m_fontText, m_strOk);
    CSize szCancel = MeasureText(m_fontText, m_strCancel);
    int w = std::max<int>(szOk.cx, szCancel.cx) + 20;
    int h = szOk.cy + 10;
    int btnTop = std::min(top + 4, kHeight - h - 6);
    m_btnOk.Create(m_strOk, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(W / 2 - 5 - w, btnTop, W / 2 - 5, btnTop + h),
                   this, IDOK);
    m_btnCancel.Create(m_strCancel, WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                       CRect(W / 2 + 5, btnTop, W / 2 + 5 + w, btnTop + h), this, IDCANCEL);
    for (CButtonST* b : {&m_btnOk, &m_btnCancel}) {
        b->LoadSkinSlices();
        b->ResetBackground(FALSE);
        b->DrawBorder(FALSE, FALSE);
        b->SetFont(&m_fontText, FALSE);
    }
}

BOOL CPasswordSetDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    OpenPopup(IDB_POPUP_BK, IDB_QUICK_PAGE);
    for (CMyEdit& e : m_edits)
        e.EnableWindow(TRUE);
    return TRUE;
}

BOOL CPasswordSetDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_CANCEL)) {
        wchar_t cls[16] = {};
        ::GetClassNameW(pMsg->hwnd, cls, 16);
        bool bMultiLineEdit = _wcsicmp(cls, L"Edit") == 0 && (::GetWindowLongW(pMsg->hwnd, GWL_STYLE) & ES_MULTILINE);
        if (bMultiLineEdit && (!m_btnCancel.m_hWnd || m_btnCancel.IsWindowEnabled())) {
            PostMessage(WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        }
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CPasswordSetDlg::OnPaint()
{
    CPaintDC dcPaint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&dcPaint, &rc);
    dc.FillSolidRect(&rc, 0x7D7D7D);
    if (!m_imgBk.IsNull())
        m_imgBk.Draw(dc.m_hDC, -3, -4, rc.Width() + 5, rc.Height() + 7);
    HGDIOBJ old = dc.SelectObject((HGDIOBJ)m_fontTitle.m_hObject);
    CSize sz = dc.GetTextExtent(m_strTitle);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(RGB(255, 255, 255));   // on the blue band
    dc.TextOut(10, 32 - sz.cy, m_strTitle);
    dc.SelectObject(old);
    CDC* pBk = ButtonBackground(&dc);
    m_btnOk.CopyParentBackground(pBk);
    m_btnCancel.CopyParentBackground(pBk);
    m_btnClose.CopyParentBackground(&dc);
}

HBRUSH CPasswordSetDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    int nID = pWnd ? pWnd->GetDlgCtrlID() : 0;
    if (nID >= IDC_OLD_PASSWORD_LABEL && nID <= IDC_PASSWORD_HINT_LABEL) {
        pDC->SetBkMode(TRANSPARENT);
        return (HBRUSH)::GetStockObject(NULL_BRUSH);
    }
    return CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
}
