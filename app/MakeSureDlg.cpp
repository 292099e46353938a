#include "MakeSureDlg.h"

#include "LanguageText.h"

BEGIN_MESSAGE_MAP(CMakeSureDlg, CPopupDialog)
    ON_WM_CREATE()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_WM_TIMER()
    ON_BN_CLICKED(IDC_MAKESURE_OK, OnBnClickedOk)
    ON_BN_CLICKED(IDC_MAKESURE_CANCEL, OnBnClickedCancel)
    ON_BN_CLICKED(IDC_MAKESURE_CLOSE, OnBnClickedCancel)
END_MESSAGE_MAP()

CMakeSureDlg::CMakeSureDlg(const CString& strHeading, const CString& strMessage, int bOkOnly, CWnd* pParent)
    : CPopupDialog(IDD, kDragBand, pParent), m_strHeading(strHeading), m_strMessage(strMessage), m_bOkOnly(bOkOnly)
{
    CreateDialogFont(m_fontHeading, 18, 600, L"MingLiU");
    CreateDialogFont(m_fontText, 14, 400, L"MingLiU");
    LoadLanguageText();
}

CMakeSureDlg::~CMakeSureDlg()
{
    m_btnClose.DestroyWindow();
    m_btnOk.DestroyWindow();
    m_btnCancel.DestroyWindow();
    m_stHeading.DestroyWindow();
    m_stMessage.DestroyWindow();
}

void CMakeSureDlg::LoadLanguageText()
{
    m_strOk = GetLanguageTextOr(L"OK", L"OK");
    m_strCancel = GetLanguageTextOr(L"Cancel", L"Cancel");
}

INT_PTR CMakeSureDlg::DoModal()
{
    if (!m_pParentWnd) {
        CWnd* pMain = AfxGetMainWnd();
        if (pMain && pMain->m_hWnd && ::IsWindow(pMain->m_hWnd) &&
            ::GetWindowThreadProcessId(pMain->m_hWnd, nullptr) == ::GetCurrentThreadId())
            m_pParentWnd = pMain;
    }
    INT_PTR r = CDialog::DoModal();
    // A prompt that could not be shown is no consent.
    return r == IDOK ? IDOK : IDCANCEL;
}

int CMakeSureDlg::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    if (m_bCountDown) {
        m_strCountDown.Format(L"%d", m_nCountDown);
        Invalidate();
    }
    m_nTimer = (int)SetTimer(1, 1000);
    return 0;
}

void CMakeSureDlg::CreateControls()
{
    CRect R;
    GetWindowRect(&R);
    R.OffsetRect(-R.left, -R.top);

    CClientDC screen(nullptr);
    CDC dc;
    dc.CreateCompatibleDC(&screen);

    // Close button
    m_btnClose.Create(L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(R.right - 21, 7, R.right - 5, 23), this,
                      IDC_MAKESURE_CLOSE);
    m_btnClose.SetIcons(IDI_CAPTION_CLOSE_PRESSED, IDI_CAPTION_CLOSE_HOVER, IDI_CAPTION_CLOSE_NORMAL,
                        IDI_CAPTION_CLOSE_NORMAL);
    m_btnClose.ResetBackground(FALSE);
    m_btnClose.DrawBorder(FALSE, FALSE);
    m_btnClose.Invalidate();

    // Heading, centred, exactly as large as its text
    HGDIOBJ old = ::SelectObject(dc.m_hDC, m_fontHeading.m_hObject);
    CSize szHeading = dc.GetTextExtent(m_strHeading);
    CRect rcHeading(20, 32, 20 + szHeading.cx, 32 + szHeading.cy);
    m_stHeading.Create(m_strHeading, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX, rcHeading, this,
                       IDC_MAKESURE_HEADING);
    m_stHeading.SetFont(&m_fontHeading);

    // Message, word-wrapped, never closer than 10 pixels to the right edge
    ::SelectObject(dc.m_hDC, m_fontText.m_hObject);
    CSize szText = dc.GetTextExtent(m_strMessage);
    CRect rcMessage(20, rcHeading.bottom + 10, 20 + szText.cx, rcHeading.bottom + 10);
    if (rcMessage.right > R.right - 10)
        rcMessage.right = R.right - 10;
    CRect rcCalc = rcMessage;
    dc.DrawText(m_strMessage, &rcCalc, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_EDITCONTROL | DT_NOPREFIX);
    rcMessage.bottom = rcMessage.top + rcCalc.Height();
    m_stMessage.Create(m_strMessage, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, rcMessage, this,
                       IDC_MAKESURE_MESSAGE);
    m_stMessage.SetFont(&m_fontText);

    // Buttons sized by the longer caption (OK's when equally long)
    const CString& strLonger = m_strCancel.GetLength() > m_strOk.GetLength() ? m_strCancel : m_strOk;
    CSize sz = dc.GetTextExtent(strLonger.IsEmpty() ? CString(L" ") : strLonger);
    ::SelectObject(dc.m_hDC, old);
    int w = sz.cx + 20, h = sz.cy + 10;
    CRect rcCancel(R.right - 15 - w, R.bottom - 10 - h, R.right - 15, R.bottom - 10);
    CRect rcOk(rcCancel.left - 10 - w, rcCancel.top, rcCancel.left - 10, rcCancel.bottom);
    if (m_bOkOnly)
        rcOk = rcCancel;
    m_btnOk.Create(m_strOk, WS_CHILD | WS_VISIBLE | WS_TABSTOP, rcOk, this, IDC_MAKESURE_OK);
    m_btnCancel.Create(m_strCancel, WS_CHILD | (m_bOkOnly ? 0 : WS_VISIBLE) | WS_TABSTOP, rcCancel, this,
                       IDC_MAKESURE_CANCEL);
    for (CButtonST* p : {&m_btnOk, &m_btnCancel}) {
        p->LoadSkinSlices();
        p->ResetBackground(FALSE);
        p->DrawBorder(FALSE, FALSE);
        p->SetFont(&m_fontText);
    }
}

BOOL CMakeSureDlg::OnInitDialog()
{
    BOOL r = CDialog::OnInitDialog();
    SetWindowText(L"KVR ZUL");
    LoadSkinImage(IDB_PROMPT_BACKGROUND, m_imgBk);
    m_bk.Make(this, m_imgBk, -3, -3, kWidth + 5, kHeight + 5, kWidth, kHeight, RGB(255, 255, 255));
    CenterWindow(m_pParentWnd && m_pParentWnd->IsWindowVisible() ? m_pParentWnd : nullptr);
    m_btnClose.SetFocus();
    // The focus was placed by hand.
    (void)r;
    return FALSE;
}

BOOL CMakeSureDlg::OnEraseBkgnd(CDC* pDC)
{
    CRect R;
    GetClientRect(&R);
    pDC->FillSolidRect(&R, RGB(255, 255, 255));
    if (!m_imgBk.IsNull())
        m_imgBk.Draw(pDC->m_hDC, -3, -3, R.right + 5, R.bottom + 5);

    HGDIOBJ old = ::SelectObject(pDC->m_hDC, m_fontHeading.m_hObject);
    pDC->SetTextColor(RGB(255, 0, 0));
    pDC->SetBkMode(TRANSPARENT);
    CRect rc;
    if (!m_strCountDown.IsEmpty()) {
        CSize sz = pDC->GetTextExtent(m_strCountDown);
        rc.SetRect(R.right - 10 - sz.cx, 32, R.right - 10, 32 + sz.cy);
        pDC->DrawText(m_strCountDown, &rc, DT_BOTTOM | DT_WORDBREAK | DT_NOPREFIX);
    }
    if (CDC* pBk = m_bk.Dc()) {
        m_btnClose.CopyParentBackground(pBk);
        m_btnOk.CopyParentBackground(pBk);
        m_btnCancel.CopyParentBackground(pBk);
    }
    // Two digits may be wider than one: keep the widest place the count was drawn in.
    if (!rc.IsRectEmpty())
        m_rcCountDown.UnionRect(m_rcCountDown.IsRectEmpty() ? &rc : &m_rcCountDown, &rc);
    ::SelectObject(pDC->m_hDC, old);
    return TRUE;
}

HBRUSH CMakeSureDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    HBRUSH hbr = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
    if (pWnd && (pWnd->m_hWnd == m_stHeading.m_hWnd || pWnd->m_hWnd == m_stMessage.m_hWnd)) {
        pDC->SetBkMode(TRANSPARENT);
        return (HBRUSH)::GetStockObject(NULL_BRUSH);
    }
    return hbr;
}

void CMakeSureDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (m_bCountDown) {
        --m_nCountDown;
        m_strCountDown.Format(L"%d", m_nCountDown);
        InvalidateRect(&m_rcCountDown, TRUE);
        if (m_nCountDown <= 0) {
            Finish(IDOK);
            return;
        }
    }
    // The main window went away: nobody is left to agree.
    CWnd* pMain = AfxGetMainWnd();
    if (pMain && pMain != this && !::IsWindow(pMain->m_hWnd)) {
        Finish(IDCANCEL);
        return;
    }
    CDialog::OnTimer(nIDEvent);
}

void CMakeSureDlg::Finish(int nResult)
{
    if (m_nTimer) {
        KillTimer(1);
        m_nTimer = 0;
    }
    EndDialog(nResult);
}

void CMakeSureDlg::OnBnClickedOk() { Finish(IDOK); }
void CMakeSureDlg::OnBnClickedCancel() { Finish(IDCANCEL); }

void CMakeSureDlg::ConfirmFromOutside()
{
    if (m_hWnd && IsModal())
        Finish(IDOK);
}

void CMakeSureDlg::CancelFromOutside()
{
    if (m_hWnd && IsModal())
        Finish(IDCANCEL);
}
