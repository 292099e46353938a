#include "SetDialog.h"

#include "LanguageText.h"
#include "MemDC.h"
#include "SettingsCommon.h"
#include "SharedFunctions.h"

BEGIN_MESSAGE_MAP(CSetDialog, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    AFX_ENTRY(WM_SIZE, AfxSig_v_uii, void (CWnd::*)(UINT, int, int), OnSizeNoOp)
    ON_COMMAND(IDOK, OnIgnoreCommand)
    ON_COMMAND(IDCANCEL, OnIgnoreCommand)
    ON_BN_CLICKED(IDC_TAB_BACKUPSET, OnBnClickedTab0)
    ON_BN_CLICKED(IDC_TAB_TIMING, OnBnClickedTab1)
    ON_BN_CLICKED(IDC_TAB_FILTER, OnBnClickedTab2)
    ON_BN_CLICKED(IDC_TAB_OTHER, OnBnClickedTab3)
END_MESSAGE_MAP()

namespace {
const UINT kTabIds[CSetDialog::TAB_COUNT] = {IDC_TAB_BACKUPSET, IDC_TAB_TIMING, IDC_TAB_FILTER, IDC_TAB_OTHER};
const int kTabIcons[CSetDialog::TAB_COUNT] = {237, 239, 285, 238};
const COLORREF kTabText = RGB(60, 60, 60);
const COLORREF kCurrentTabText = RGB(0, 100, 200);
} // namespace

CSetDialog::CSetDialog() : CDialog(IDD)
{
    CreateSettingsFont(m_font, 12);
}

CSetDialog::~CSetDialog()
{
    // The tabs go before the page (their destructors destroy their own windows).
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

BOOL CSetDialog::CreatePage(CWnd* pPanel, int x, int y)
{
    if (!Create(IDD, pPanel))
        return FALSE;
    SetWindowPos(nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

void CSetDialog::LoadLanguageText()
{
    m_strCaptions[TAB_BACKUP] = GetLanguageTextOr(L"BackUpSet", L"Setting");
    m_strCaptions[TAB_TIMING] = GetLanguageTextOr(L"TimingBackup", L"Backup on schedule");
    m_strCaptions[TAB_FILTER] = GetLanguageTextOr(L"Filter", L"File type");
    m_strCaptions[TAB_OTHER] = GetLanguageTextOr(L"OtherSet", L"Others");
}

int CSetDialog::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LoadLanguageText();
    LayoutControls(true);
    CreateTabs();
    return 0;
}

void CSetDialog::LayoutControls(bool bCreate)
{
    int x = 2;
    for (int i = 0; i < TAB_COUNT; ++i) {
        int cx = MeasureText(m_font, m_strCaptions[i]).cx;
        CRect rc(x, 1, x + cx + 24, 24);
        m_nTabWidths[i] = cx + 28;
        if (bCreate) {
            m_btnTabs[i].Create(m_strCaptions[i], WS_CHILD | WS_VISIBLE, rc, this, kTabIds[i]);
            m_btnTabs[i].SetIcons(kTabIcons[i], kTabIcons[i], 0, kTabIcons[i]);
            m_btnTabs[i].SetFont(&m_font, FALSE);
            m_btnTabs[i].DrawBorder(FALSE, FALSE);
            m_btnTabs[i].SetPressedOffset(0, 0, FALSE);
            m_btnTabs[i].SetColor(CButtonST::BTNST_COLOR_FG_OUT, kTabText, FALSE);
            m_btnTabs[i].SetColor(CButtonST::BTNST_COLOR_FG_FOCUS, kTabText, FALSE);
            m_btnTabs[i].ResetBackground(FALSE);
        } else {
            m_btnTabs[i].SetWindowText(m_strCaptions[i]);
            m_btnTabs[i].MoveWindow(&rc, FALSE);
        }
        x = rc.right + 6;
    }
}

void CSetDialog::CreateTabs()
{
    CRect rc;
    GetClientRect(&rc);
    rc.DeflateRect(4, 30, 4, 4);
    m_dlgBackUpSet.Create(IDD_BACKUP_SET, this);
    m_dlgTiming.Create(IDD_TIMING_SET, this);
    m_dlgOther.Create(IDD_OTHER_SET, this);
    CDialog* pages[3] = {&m_dlgBackUpSet, &m_dlgTiming, &m_dlgOther};
    for (CDialog* p : pages) {
        if (p->m_hWnd)
            p->SetWindowPos(nullptr, rc.left, rc.top, rc.Width(), rc.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (m_dlgBackUpSet.m_hWnd)
        m_dlgBackUpSet.ShowWindow(SW_SHOW);
    if (m_dlgTiming.m_hWnd)
        m_dlgTiming.ShowWindow(SW_HIDE);
    if (m_dlgOther.m_hWnd)
        m_dlgOther.ShowWindow(SW_HIDE);
    m_pPages[TAB_BACKUP] = &m_dlgBackUpSet;
    m_pPages[TAB_TIMING] = &m_dlgTiming;
    m_pPages[TAB_FILTER] = &m_dlgOther;
    m_pPages[TAB_OTHER] = &m_dlgOther;
}

BOOL CSetDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_nCurrentTab = TAB_BACKUP;
    m_pCurrentButton = &m_btnTabs[TAB_BACKUP];
    m_pCurrentButton->SetColor(CButtonST::BTNST_COLOR_FG_OUT, kCurrentTabText, FALSE);
    m_pCurrentButton->SetColor(CButtonST::BTNST_COLOR_FG_FOCUS, kCurrentTabText, FALSE);
    return TRUE;
}

void CSetDialog::SelectTab(int nTab)
{
    if (nTab < 0 || nTab >= TAB_COUNT)
        return;
    if (m_pCurrentButton) {
        m_pCurrentButton->SetColor(CButtonST::BTNST_COLOR_FG_OUT, kTabText, FALSE);
        m_pCurrentButton->SetColor(CButtonST::BTNST_COLOR_FG_FOCUS, kTabText, FALSE);
    }
    m_pCurrentButton = &m_btnTabs[nTab];
    m_pCurrentButton->SetColor(CButtonST::BTNST_COLOR_FG_OUT, kCurrentTabText, FALSE);
    m_pCurrentButton->SetColor(CButtonST::BTNST_COLOR_FG_FOCUS, kCurrentTabText, FALSE);
    if (m_pPages[m_nCurrentTab] && m_pPages[m_nCurrentTab]->m_hWnd)
        m_pPages[m_nCurrentTab]->ShowWindow(SW_HIDE);
    m_nCurrentTab = nTab;
    if (nTab == TAB_FILTER || nTab == TAB_OTHER)
        m_dlgOther.ShowGroup(nTab == TAB_FILTER);
    if (m_pPages[nTab] && m_pPages[nTab]->m_hWnd)
        m_pPages[nTab]->ShowWindow(SW_SHOW);
    UpdateWindow();
    Invalidate();
}

void CSetDialog::LoadSkinImages()
{
    auto load = [](UINT id, CImage& img) {
        if (LoadPngResource(id, img))
            PremultiplyAlpha(img);
    };
    load(IDB_SET_BAND_TOP, m_imgBandTop);
    load(IDB_PANEL_BK, m_imgBandMiddle);
    load(IDB_SET_BAND_BOTTOM, m_imgBandBottom);
    for (int i = 0; i < 3; ++i) {
        load(227 + i, m_imgFirst[i]);
        load(230 + i, m_imgOther[i]);
        load(270 + i, m_imgFirstCurrent[i]);
        load(273 + i, m_imgOtherCurrent[i]);
    }
}

void CSetDialog::OnPaint()
{
    CPaintDC dcPaint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&dcPaint, &rc);
    if (m_imgBandMiddle.IsNull())
        LoadSkinImages();
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    int hTop = m_imgBandTop.IsNull() ? 0 : m_imgBandTop.GetHeight();
    int hBottom = m_imgBandBottom.IsNull() ? 0 : m_imgBandBottom.GetHeight();
    if (!m_imgBandTop.IsNull())
        m_imgBandTop.Draw(dc.m_hDC, 0, 0, rc.Width(), hTop);
    if (!m_imgBandBottom.IsNull())
        m_imgBandBottom.Draw(dc.m_hDC, 0, rc.bottom - hBottom, rc.Width(), hBottom);
    if (!m_imgBandMiddle.IsNull())
        m_imgBandMiddle.Draw(dc.m_hDC, 0, hTop, rc.Width(), rc.Height() - hTop - hBottom);

    int x = rc.left;
    for (int i = 0; i < TAB_COUNT; ++i) {
        int w = m_nTabWidths[i];
        CImage* imgs = (i == m_nCurrentTab) ? (i == 0 ? m_imgFirstCurrent : m_imgOtherCurrent)
                                            : (i == 0 ? m_imgFirst : m_imgOther);
        if (!imgs[0].IsNull() && !imgs[1].IsNull() && !imgs[2].IsNull()) {
            int lw = imgs[0].GetWidth();
            int rw = imgs[2].GetWidth();
            int h = imgs[1].GetHeight();
            imgs[1].Draw(dc.m_hDC, x + lw - 2, rc.top, w - lw - rw + 2, h, 0, 0, imgs[1].GetWidth(), h);
            imgs[0].Draw(dc.m_hDC, x, rc.top);
            imgs[2].Draw(dc.m_hDC, x + w - rw, rc.top);
        }
        x += w + 2;
    }
    // The buttons lay their captions over the strip just drawn.
    for (CButtonST& b : m_btnTabs) {
        b.CopyParentBackground(&dc);
        b.Invalidate();
    }
}

BOOL CSetDialog::PreTranslateMessage(MSG* pMsg)
{
    // Enter and Esc never close or change anything on the page.
    if (AfxIsKeyMessageFor(pMsg, VK_RETURN) || AfxIsKeyMessageFor(pMsg, VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CSetDialog::ReloadLanguageText()
{
    LoadLanguageText();
    LayoutControls(false);
    Invalidate();
    m_dlgBackUpSet.ReloadLanguageText();
    m_dlgTiming.ReloadLanguageText();
    m_dlgOther.ReloadLanguageText();
}
