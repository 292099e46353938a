#include "TimeSet.h"

#include "LanguageText.h"
#include "MemDC.h"
#include "SettingsHost.h"
#include "SettingsStore.h"
#include "SharedFunctions.h"

BEGIN_MESSAGE_MAP(CTimeSet, CPopupDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_WM_TIMER()
    ON_COMMAND(IDOK, OnIgnoreCommand)
    ON_COMMAND(IDCANCEL, OnIgnoreCommand)
    ON_BN_CLICKED(IDC_POPUP_CLOSE, OnBnClickedCancel)
    ON_BN_CLICKED(IDC_POPUP_CANCEL, OnBnClickedCancel)
    ON_BN_CLICKED(IDC_POPUP_OK, OnBnClickedOk)
    ON_EN_CHANGE(IDC_HOUR_EDIT, OnEnChangeHour)
    ON_EN_CHANGE(IDC_MINUTE_EDIT, OnEnChangeMinute)
    ON_NOTIFY(UDN_DELTAPOS, IDC_HOUR_SPIN, OnDeltaPosHour)
    ON_NOTIFY(UDN_DELTAPOS, IDC_MINUTE_SPIN, OnDeltaPosMinute)
    ON_CBN_SELCHANGE(IDC_DAY_COMBO, OnCbnSelchangeDays)
END_MESSAGE_MAP()

namespace {
// Hour and minute of a stored "Timing", each clamped into its range.
void SplitTiming(const CString& strTiming, int& nHour, int& nMinute)
{
    int nColon = strTiming.Find(L':');
    CString strHour = nColon < 0 ? strTiming : strTiming.Left(nColon);
    CString strMinute = nColon < 0 ? CString() : strTiming.Mid(nColon + 1);
    bool bIgnored = false;
    nHour = ClampTimeField(strHour, 23, bIgnored);
    nMinute = ClampTimeField(strMinute, 59, bIgnored);
}
} // namespace

CTimeSet::CTimeSet(const wchar_t* pszDay, const CStringArray* pDayNames, int* pnDayIndex, CWnd* pParent)
    : CPopupDialog(IDD, 26, pParent ? pParent : GetSettingsOwnerWindow()), m_pnDayIndex(pnDayIndex),
      m_pDayNames(pDayNames), m_strDay(pszDay)
{
    CreateSettingsFont(m_fontTitle, 20, 500);
    CreateSettingsFont(m_fontText, 15);
    LoadLanguageText();
}

void CTimeSet::LoadLanguageText()
{
    m_strTitle = GetLanguageTextOr(L"TimeSetTitle", L"Time setting");
    m_strAll = GetLanguageTextOr(L"AllTimeSet", L"All");
    m_strOk = GetLanguageTextOr(L"OK", L"OK");
    m_strCancel = GetLanguageTextOr(L"Cancel", L"Cancel");
}

int CTimeSet::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    int nIndex = m_pnDayIndex ? *m_pnDayIndex : 0;
    CString strName = m_strDay;
    if (m_pDayNames && nIndex >= 0 && nIndex < m_pDayNames->GetSize())
        strName = m_pDayNames->GetAt(nIndex);
    m_comboDays.AddString(strName);
    m_comboDays.AddString(m_strAll);
    m_comboDays.SetCurSel(0);
    return 0;
}

void CTimeSet::CreateControls()
{
    EnsureSettingsControlClasses();
    CRect R;
    GetWindowRect(&R);
    R.OffsetRect(-R.left, -R.top);
    m_btnClose.Create(L"", WS_CHILD | WS_VISIBLE, CRect(R.right - 21, 8, R.right - 5, 24), this, IDC_POPUP_CLOSE);
    m_btnClose.SetIcons(163, 164, 165, 165);
    m_btnClose.ResetBackground(FALSE);
    m_btnClose.DrawBorder(FALSE, FALSE);

    CSize szTitle = MeasureText(m_fontTitle, m_strTitle);
    m_lblTitle.Create(m_strTitle, WS_CHILD | WS_VISIBLE | SS_CENTER, CRect(5, 3, 5 + szTitle.cx, 3 + szTitle.cy), this,
                      IDC_TIME_TITLE);
    m_lblTitle.SetFont(&m_fontTitle, FALSE);

    CSize szOk = MeasureText(m_fontText, m_strOk);
    int cx = std::max<int>(szOk.cx, MeasureText(m_fontText, m_strCancel).cx);
    int bottom = R.bottom - 10;
    int top = bottom - szOk.cy - 8;
    int xCancel = R.right / 2 + 5;
    m_btnCancel.Create(m_strCancel, WS_CHILD | WS_VISIBLE, CRect(xCancel, top, xCancel + cx + 20, bottom), this,
                       IDC_POPUP_CANCEL);
    m_btnOk.Create(m_strOk, WS_CHILD | WS_VISIBLE, CRect(xCancel - 10 - cx - 20, top, xCancel - 10, bottom), this,
                   IDC_POPUP_OK);
    for (CButtonST* b : {&m_btnOk, &m_btnCancel}) {
        b->LoadSkinSlices();
        b->ResetBackground(FALSE);
        b->DrawBorder(FALSE, FALSE);
        b->SetFont(&m_fontText, FALSE);
    }

    int rowTop = 45;
    int rowBottom = 51 + MeasureText(m_fontText, L"A").cy;
    int x = 35;
    m_editHour.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_NUMBER, CRect(x, rowTop, x + 60, rowBottom),
                      this, IDC_HOUR_EDIT);
    x += 60;
    m_spinHour.CreateEx(0, UPDOWN_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT,
                        CRect(x, rowTop, x + 15, rowBottom), this, IDC_HOUR_SPIN);
    x += 15;
    m_lblColon.Create(L":", WS_CHILD | WS_VISIBLE | SS_CENTER, CRect(x, rowTop, x + 20, rowBottom), this,
                      IDC_TIME_COLON);
    x += 20;
    m_editMinute.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_NUMBER,
                        CRect(x, rowTop, x + 60, rowBottom), this, IDC_MINUTE_EDIT);
    x += 60;
    m_spinMinute.CreateEx(0, UPDOWN_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT,
                          CRect(x, rowTop, x + 15, rowBottom), this, IDC_MINUTE_SPIN);
    x += 15;
    m_editHour.SetFont(&m_fontText, FALSE);
    m_editMinute.SetFont(&m_fontText, FALSE);
    m_lblColon.SetFont(&m_fontText, FALSE);
    m_comboDays.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                       CRect(x + 10, rowTop, x + 10 + 150, rowBottom + 100), this, IDC_DAY_COMBO);
    m_comboDays.SetFont(&m_fontText, FALSE);
    m_comboDays.LoadSkinImages();
}

BOOL CTimeSet::OnInitDialog()
{
    m_bHourWasZero = m_bMinuteWasZero = 0;
    CString strTiming;
    bool bSet = false;
    int nHour = 0, nMinute = 0;
    if (ReadDaySchedule(m_strDay, strTiming, bSet))
        SplitTiming(strTiming, nHour, nMinute);
    CDialog::OnInitDialog();
    OpenPopup(IDB_POPUP_BK, IDB_POPUP_BK);
    m_strHour.Format(L"%d", nHour);
    m_strMinute.Format(L"%d", nMinute);
    m_editHour.SetWindowText(m_strHour);
    m_editMinute.SetWindowText(m_strMinute);
    m_bHourDirty = m_bMinuteDirty = 0;
    for (const wchar_t* d : kScheduleDays)
        m_arrDays.Add(d);
    m_editHour.SetFocus();
    m_editHour.SetSel(1, -1);
    SetTimer(1, 1);
    return FALSE;
}

int CTimeSet::GetHour() const
{
    bool b = false;
    return ClampTimeField(m_editHour.GetWindowText(), 23, b);
}

int CTimeSet::GetMinute() const
{
    bool b = false;
    return ClampTimeField(m_editMinute.GetWindowText(), 59, b);
}

void CTimeSet::OnFieldChanged(CEdit& edit, int nMax, int& bWasZero, int& bDirty, CString& strNormal)
{
    CString strText = edit.GetWindowText();
    bool bOutOfRange = false;
    int v = ClampTimeField(strText, nMax, bOutOfRange);
    if (v == 0) {
        bWasZero = 1;
    } else if (bWasZero) {
        bWasZero = 0;
        bDirty = 1;   // a digit typed after a lone 0 drops the 0
    }
    if (bOutOfRange)
        bDirty = 1;
    strNormal.Format(L"%d", v);
    if (strText == strNormal && !bOutOfRange)
        bDirty = 0;
}

void CTimeSet::RewriteField(CEdit& edit, int& bDirty, const CString& strNormal)
{
    if (!bDirty)
        return;
    int nStart = 0, nEnd = 0;
    edit.GetSel(nStart, nEnd);
    bDirty = 0;
    if (edit.GetWindowText() != strNormal)
        edit.SetWindowText(strNormal);
    if (nStart == 0 && nEnd == 0)
        edit.SetSel(1, 0);
    else
        edit.SetSel(nStart, nEnd);
}

void CTimeSet::OnTimer(UINT_PTR nIDEvent)
{
    RewriteField(m_editHour, m_bHourDirty, m_strHour);
    RewriteField(m_editMinute, m_bMinuteDirty, m_strMinute);
    CDialog::OnTimer(nIDEvent);
}

void CTimeSet::OnDeltaPos(NMHDR* pNMHDR, LRESULT* pResult, CEdit& edit, int nMax, CString& strNormal)
{
    *pResult = 0;
    NMUPDOWN* pUD = reinterpret_cast<NMUPDOWN*>(pNMHDR);
    int nStart = 0, nEnd = 0;
    edit.GetSel(nStart, nEnd);
    bool bIgnored = false;
    int v = ClampTimeField(edit.GetWindowText(), nMax, bIgnored);
    int nNew = v - pUD->iDelta;
    if ((v >= nMax && nNew > v) || (v <= 0 && nNew < v))
        return;
    nNew = nNew < 0 ? 0 : nNew > nMax ? nMax : nNew;
    strNormal.Format(L"%d", nNew);
    edit.SetWindowText(strNormal);
    edit.SetSel(nStart, -1);
}

void CTimeSet::SaveDayTiming(int nIndex)
{
    if (nIndex < 0 || nIndex >= m_arrDays.GetSize())
        return;
    CheckSettingsWrite(::SaveDayTiming(m_arrDays.GetAt(nIndex), GetHour(), GetMinute()));
}

void CTimeSet::SaveAllDaysTiming()
{
    // One load and one save for the whole week: a file that cannot be written is reported
    // once, and the week is stored whole or not at all.
    const wchar_t* days[7];
    int nDays = 0;
    for (int i = 0; i < m_arrDays.GetSize() && nDays < 7; ++i)
        days[nDays++] = m_arrDays.GetAt(i);
    CheckSettingsWrite(SaveDaysTiming(days, nDays, GetHour(), GetMinute()));
}

void CTimeSet::OnBnClickedOk()
{
    if (m_comboDays.GetCurSel() == 1) {
        if (m_pnDayIndex)
            *m_pnDayIndex = -1;
        SaveAllDaysTiming();
    } else if (m_pnDayIndex) {
        SaveDayTiming(*m_pnDayIndex);
    }
    EndDialog(IDOK);
}

void CTimeSet::OnPaint()
{
    CPaintDC dcPaint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&dcPaint, &rc);
    dc.FillSolidRect(&rc, RGB(125, 125, 125));
    if (!m_imgBk.IsNull())
        m_imgBk.Draw(dc.m_hDC, -3, -3, rc.right + 5, rc.bottom + 5);
    CDC* pBk = ButtonBackground(&dc);
    m_btnClose.CopyParentBackground(pBk);
    m_btnOk.CopyParentBackground(pBk);
    m_btnCancel.CopyParentBackground(pBk);
}

HBRUSH CTimeSet::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    int nID = pWnd ? pWnd->GetDlgCtrlID() : 0;
    if (nID == IDC_TIME_TITLE || nID == IDC_TIME_COLON) {
        pDC->SetBkMode(TRANSPARENT);
        if (nID == IDC_TIME_TITLE)
            pDC->SetTextColor(RGB(255, 255, 255));   // on the blue band
        return (HBRUSH)::GetStockObject(NULL_BRUSH);
    }
    return CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
}
