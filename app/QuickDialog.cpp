#include "QuickDialog.h"

#include "DataFiles.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "PageBox.h"
#include "XmlDocument.h"

BEGIN_MESSAGE_MAP(CQuickDialog, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_SIZE()
    ON_BN_CLICKED(IDC_QUICK_BACKUP, OnBnClickedQuickBackup)
END_MESSAGE_MAP()

CQuickDialog::CQuickDialog() : CDialog(IDD)
{
    CreateDialogFont(m_fontText, 16, 400, L"MingLiU");
    CreateDialogFont(m_fontHeading, 30, 800, L"Arial");
}

CQuickDialog::~CQuickDialog()
{
    m_btnQuick.DestroyWindow();
    if (m_hToolTip && ::IsWindow(m_hToolTip))
        ::DestroyWindow(m_hToolTip);
}

BOOL CQuickDialog::CreatePage(CPageBox* pPanel, const CRect& rcPage)
{
    m_pPanel = pPanel;
    if (!Create(IDD, pPanel))
        return FALSE;
    SetWindowPos(nullptr, rcPage.left, rcPage.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

int CQuickDialog::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_btnQuick.Create(L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(20, 100, 190, 170), this, IDC_QUICK_BACKUP);
    m_btnQuick.LoadPngImages(IDB_QUICK_NORMAL, IDB_QUICK_PRESSED, IDB_QUICK_HOVER, IDB_QUICK_DISABLED);
    m_btnQuick.DrawBorder(FALSE, FALSE);
    m_btnQuick.ResetBackground(FALSE);
    return 0;
}

BOOL CQuickDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    LoadLanguageText();
    InitToolTip(m_hToolTip, m_hWnd, m_btnQuick.m_hWnd, m_strToolTip);
    return TRUE;
}

void CQuickDialog::LoadLanguageText()
{
    m_strLastBackup = GetLanguageTextOr(L"LastBackupTime", L"Last backup time:");
    m_strToolTip = GetLanguageTextOr(L"QuickBackupToolTip", L"Quick launch");
}

void CQuickDialog::ReloadLanguageText()
{
    LoadLanguageText();
    if (m_hToolTip)
        UpdateToolTipText(m_hToolTip, m_btnQuick.m_hWnd, m_strToolTip);
    if (m_hWnd)
        Invalidate(FALSE);
}

BOOL CQuickDialog::PreTranslateMessage(MSG* pMsg)
{
    if (m_hToolTip) {
        MSG msg = *pMsg;
        ::SendMessageW(m_hToolTip, TTM_RELAYEVENT, 0, (LPARAM)&msg);
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CQuickDialog::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    ApplyRoundRegion(this);
}

void CQuickDialog::LoadImages()
{
    // Once: the pictures do not change while the program runs.
    m_bImagesLoaded = true;
    LoadSkinImage(IDB_QUICK_PAGE, m_imgPage);
    LoadSkinImage(IDB_QUICK_SEPARATOR, m_imgSeparator);
}

void CQuickDialog::OnPaint()
{
    CPaintDC paint(this);
    CRect R;
    GetClientRect(&R);
    int W = R.Width();
    if (!m_bImagesLoaded) {
        LoadImages();
        m_bk.Make(this, m_imgPage, 0, 0, R.Width(), R.Height(), R.Width(), R.Height(), RGB(255, 255, 255));
    }
    CMemDC dc(&paint, &R);
    dc.FillSolidRect(&R, RGB(255, 255, 255));
    if (!m_imgPage.IsNull())
        m_imgPage.Draw(dc.m_hDC, 0, 0, R.Width(), R.Height());
    if (!m_imgSeparator.IsNull())
        m_imgSeparator.Draw(dc.m_hDC, 25, 60);

    const CString strHeading = L"Quick Launch";
    HGDIOBJ old = ::SelectObject(dc.m_hDC, m_fontHeading.m_hObject);
    CSize szHeading = dc.GetTextExtent(strHeading);
    dc.SetTextColor(RGB(0, 150, 240));
    dc.SetBkMode(TRANSPARENT);
    CRect rcHeading(20, 20, 20 + szHeading.cx, 20 + szHeading.cy);
    dc.DrawText(strHeading, &rcHeading, DT_LEFT | DT_TOP | DT_NOPREFIX);

    CString strTime = ReadLastBackupTime(GetDataFolder());
    if (!strTime.IsEmpty()) {
        ::SelectObject(dc.m_hDC, m_fontText.m_hObject);
        CSize sz = dc.GetTextExtent(m_strLastBackup);
        bool bOneLine = 190 + sz.cx + 160 < W;
        CRect rcLabel(190, 100 + (70 - sz.cy) / 2, 190 + sz.cx, 0);
        if (!bOneLine)
            rcLabel.top -= sz.cy / 2 + 6;
        rcLabel.bottom = rcLabel.top + sz.cy;
        dc.DrawText(m_strLastBackup, &rcLabel, DT_LEFT | DT_TOP | DT_NOPREFIX);
        CRect rcTime = bOneLine ? CRect(rcLabel.right + 5, rcLabel.top, rcLabel.right + 5 + 160, rcLabel.bottom)
                                : CRect(190, rcLabel.bottom + 6, 190 + 160, rcLabel.bottom + 6 + sz.cy);
        dc.DrawText(strTime, &rcTime, DT_LEFT | DT_TOP | DT_NOPREFIX);
    }
    ::SelectObject(dc.m_hDC, old);
    if (CDC* pBk = m_bk.Dc())
        m_btnQuick.CopyParentBackground(pBk);
}

void CQuickDialog::OnBnClickedQuickBackup()
{
    if (m_pPanel)
        m_pPanel->StartQuickBackup();
}

// ---------------------------------------------------------------------------------------
// The last-backup record
// ---------------------------------------------------------------------------------------

CString FormatBackupTime(const SYSTEMTIME& st)
{
    CString s;
    s.Format(L"%d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    return s;
}

bool SaveLastBackupTime(const SYSTEMTIME& st, const CString& strDataFolder)
{
    CXmlDocument doc;
    // LoadBackUpInfo leaves the empty record in doc when the file did not load, so the time is
    // never written into the remains of a failed load.
    if (!LoadBackUpInfo(doc, strDataFolder))
        return false;
    doc.ResetPosition();
    if (!doc.FindElement(L"BackUpInfo"))
        return false;
    if (doc.FindChildElement(L"Time")) {
        doc.RemoveChildElement();
    }
    if (doc.GetChildPos() == 0) {
        // "Time" was the first child or there was none: the new one becomes the last child.
        while (doc.FindChildElement())
            ;
    }
    if (!doc.AddChildElement(L"Time", FormatBackupTime(st)))
        return false;
    return doc.SaveFile(JoinPath(strDataFolder, kBackUpInfoFile));
}

void SaveLastBackupTime()
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    SaveLastBackupTime(st, GetDataFolder());
}

CString ReadLastBackupTime(const CString& strDataFolder)
{
    CXmlDocument doc;
    if (!doc.LoadFile(JoinPath(strDataFolder, kBackUpInfoFile)))
        return CString();
    doc.ResetPosition();
    if (!doc.FindElement(L"BackUpInfo") || !doc.FindChildElement(L"Time"))
        return CString();
    return doc.GetChildData();
}
