#include "TimingSetDlg.h"

#include "LanguageText.h"
#include "MemDC.h"
#include "SettingsCommon.h"
#include "SettingsHost.h"
#include "SettingsStore.h"
#include "SharedFunctions.h"
#include "TimeSet.h"
#include "XmlDocument.h"

BEGIN_MESSAGE_MAP(CTimingSetDlg, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CTimingSetDlg::CTimingSetDlg() : CDialog(IDD)
{
    CreateSettingsFont(m_font, 12);
    CreateSettingsFont(m_fontUnderline, 12, FW_NORMAL, true);
    LoadLanguageText();
}

CTimingSetDlg::~CTimingSetDlg()
{
    if (m_dcMem.m_hDC && m_hOldMemBitmap)
        ::SelectObject(m_dcMem.m_hDC, m_hOldMemBitmap);
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

void CTimingSetDlg::LoadLanguageText()
{
    m_arrDayNames.RemoveAll();
    for (int i = 0; i < 7; ++i) {
        m_strDayNames[i] = GetLanguageTextOr(kScheduleDays[i], kScheduleDays[i]);
        m_arrDayNames.Add(m_strDayNames[i]);
    }
}

int CTimingSetDlg::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    LayoutControls(true);
    return 0;
}

void CTimingSetDlg::LayoutControls(bool bCreate)
{
    int w = 0;
    for (const CString& s : m_strDayNames)
        w = std::max<int>(w, MeasureText(m_font, s).cx);
    int t = MeasureText(m_font, L"00:00").cx;
    int top = 20;
    int xTime = 20 + w + 35;
    for (int i = 0; i < 7; ++i) {
        CSize sz = MeasureText(m_font, m_strDayNames[i]);
        int h = std::max<int>(sz.cy, 16);
        CRect rcCheck(20, top, 20 + sz.cx + 30, top + h);
        CRect rcTime(xTime, top, xTime + t + 4, top + h);
        if (bCreate) {
            m_chkDays[i].Create(m_strDayNames[i], WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX, rcCheck, this,
                                IDC_DAY_MONDAY + i);
            m_chkDays[i].SetFont(&m_font, FALSE);
            m_btnTimes[i].Create(L"00:00", WS_CHILD | WS_VISIBLE, rcTime, this, IDC_TIME_MONDAY + i);
            m_btnTimes[i].SetFont(&m_fontUnderline, FALSE);
            m_btnTimes[i].ResetBackground(FALSE);
            m_btnTimes[i].DrawBorder(FALSE, FALSE);
            m_btnTimes[i].SetSingleLine(TRUE, FALSE);
            m_btnTimes[i].SetPressedOffset(0, 0, FALSE);
        } else {
            m_chkDays[i].SetWindowText(m_strDayNames[i]);
            m_chkDays[i].MoveWindow(&rcCheck, FALSE);
            m_btnTimes[i].MoveWindow(&rcTime, FALSE);
        }
        top = rcCheck.bottom + 15;
    }
    CRect rcClient;
    GetClientRect(&rcClient);
    m_rcTimeColumn.SetRect(xTime, rcClient.top, xTime + t + 4, rcClient.bottom);
}

BOOL CTimingSetDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CClientDC dc(this);
    m_dcMem.CreateCompatibleDC(&dc);
    LoadSchedule();
    return TRUE;
}

void CTimingSetDlg::LoadSchedule()
{
    CXmlDocument doc;
    bool bCanSave = LoadTabSettings(doc);
    bool bChanged = false;
    for (int i = 0; i < 7; ++i) {
        bool bAdded = false;
        if (!FindOrAddSetting(doc, kScheduleDays[i], nullptr, false, &bAdded)) {
            m_chkDays[i].SetCheckState(0);
            continue;
        }
        int pos = doc.GetChildPos();
        if (bAdded) {
            doc.SetAttributeAt(pos, L"IsSet", L"0");
            doc.SetAttributeAt(pos, L"Timing", L"00:00");
            bChanged = true;
        }
        m_btnTimes[i].SetWindowText(doc.GetAttributeAt(pos, L"Timing"));
        m_chkDays[i].SetCheckState(doc.GetAttributeAt(pos, L"IsSet") == L"1" ? 1 : 0);
    }
    if (bChanged && bCanSave && doc.IsWellFormed())
        CheckSettingsWrite(doc.SaveFile(GetSettingsPath()) ? SettingsWrite::Saved : SettingsWrite::Failed);
}

CString CTimingSetDlg::ReadDayTiming(const wchar_t* pszDay)
{
    CString strTiming;
    bool bSet = false;
    ReadDaySchedule(pszDay, strTiming, bSet);
    return strTiming;
}

void CTimingSetDlg::ShowStoredSchedule()
{
    for (int i = 0; i < 7; ++i) {
        CString strTiming;
        bool bSet = false;
        if (ReadDaySchedule(kScheduleDays[i], strTiming, bSet)) {
            m_btnTimes[i].SetWindowText(strTiming);
            m_chkDays[i].SetCheckState(bSet ? 1 : 0);
        }
    }
}

BOOL CTimingSetDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    UINT nID = LOWORD(wParam);
    UINT nCode = HIWORD(wParam);
    bool bDay = nID >= IDC_DAY_MONDAY && nID <= IDC_DAY_SUNDAY;
    bool bTime = nID >= IDC_TIME_MONDAY && nID <= IDC_TIME_SUNDAY;
    if (lParam && nCode == BN_CLICKED && (bDay || bTime)) {
        // Let the skinned button toggle itself first.
        LRESULT r = 0;
        if (CWnd* pChild = CWnd::FromHandlePermanent((HWND)lParam))
            pChild->OnChildNotify(WM_COMMAND, wParam, lParam, &r);
        if (bDay)
            OnDayClicked(nID - IDC_DAY_MONDAY);
        else
            EditDayTime(nID - IDC_TIME_MONDAY);
        return TRUE;
    }
    if (nID == IDOK || nID == IDCANCEL)
        return TRUE;
    return CDialog::OnCommand(wParam, lParam);
}

void CTimingSetDlg::OnDayClicked(int nDay)
{
    int nState = m_chkDays[nDay].GetCheckState();
    if (!CheckSettingsWrite(SaveDayIsSet(kScheduleDays[nDay], nState != 0)))
        m_chkDays[nDay].SetCheckState(nState ? 0 : 1);
}

INT_PTR CTimingSetDlg::RunTimeEditor(const wchar_t* pszDay, int* pnDayIndex)
{
    CTimeSet dlg(pszDay, &m_arrDayNames, pnDayIndex, GetSettingsOwnerWindow());
    return dlg.DoModal();
}

void CTimingSetDlg::EditDayTime(int nDay)
{
    if (nDay < 0 || nDay > 6)
        return;
    int nIndex = nDay;
    if (RunTimeEditor(kScheduleDays[nDay], &nIndex) == IDOK)
        ShowStoredSchedule();   // the boxes and times show what the file holds
    InvalidateRect(&m_rcTimeColumn, TRUE);
}

BOOL CTimingSetDlg::PreTranslateMessage(MSG* pMsg)
{
    if (AfxIsKeyMessageFor(pMsg, VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CTimingSetDlg::OnPaint()
{
    CPaintDC dcPaint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&dcPaint, &rc);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    if (m_imgBk.IsNull()) {
        LoadPngResource(IDB_PANEL_BK, m_imgBk);
        if (LoadPngResource(IDB_PANEL_BK, m_imgMemBk) && m_dcMem.m_hDC)
            m_hOldMemBitmap = ::SelectObject(m_dcMem.m_hDC, m_imgMemBk.GetHandle());
        for (CButtonST& b : m_chkDays)
            SetCheckButtonImages(b);
    }
    if (!m_imgBk.IsNull())
        m_imgBk.Draw(dc.m_hDC, -5, 0, rc.Width() + 10, rc.Height());
    CDC* pBk = m_hOldMemBitmap ? &m_dcMem : (CDC*)&dc;
    for (int i = 0; i < 7; ++i) {
        m_chkDays[i].CopyParentBackground(pBk);
        m_btnTimes[i].CopyParentBackground(pBk);
    }
}

void CTimingSetDlg::ReloadLanguageText()
{
    LoadLanguageText();
    LayoutControls(false);
    for (int i = 0; i < 7; ++i) {
        m_chkDays[i].ResetBackground(FALSE);
        m_btnTimes[i].ResetBackground(FALSE);
    }
    Invalidate();
}
