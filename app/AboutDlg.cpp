#include "AboutDlg.h"

#include "MemDC.h"
#include "SharedFunctions.h"

#include <vector>

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
    ON_WM_CREATE()
    ON_WM_TIMER()
    ON_WM_LBUTTONUP()
    ON_WM_ERASEBKGND()
    AFX_ENTRY(WM_SIZE, AfxSig_v_uii, void (CWnd::*)(UINT, int, int), OnSizeNoOp)
    ON_BN_CLICKED(IDC_ABOUT_LINK, OnBnClickedLink)
END_MESSAGE_MAP()

namespace {
const COLORREF kLinkHover = 0xEE0000;
const COLORREF kLinkNormal = 0x969696;
const COLORREF kLinkVisited = 0x8B1A55;
const COLORREF kNoticeColor = 0x969696;

void MakeFont(CFont& font, BOOL bUnderline)
{
    font.CreateFont(14, 0, 0, 0, FW_NORMAL, FALSE, bUnderline, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 32, L"MingLiU");
}
}  // namespace

CAboutDlg::CAboutDlg(CWnd* pParent, int nMode) : CDialog(IDD, pParent), m_nMode(nMode)
{
    m_strLink = L"http://www.kvrzul.example/";
    m_strNotice = L"Copyright (C) KVR. All rights reserved.";
    MakeFont(m_fontLink, TRUE);
    MakeFont(m_fontNotice, FALSE);
}

CAboutDlg::~CAboutDlg()
{
    // Controls first, while the dialog window still exists.
    m_btnLink.DestroyWindow();
    m_progress.DestroyWindow();
}

int CAboutDlg::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    return 0;
}

void CAboutDlg::CreateControls()
{
    CRect rcWnd;
    GetWindowRect(&rcWnd);
    int w = rcWnd.Width();
    int h = rcWnd.Height();

    CClientDC dc(this);
    HGDIOBJ old = ::SelectObject(dc.m_hDC, m_fontLink.m_hObject);
    CSize sz = dc.GetTextExtent(m_strLink);
    ::SelectObject(dc.m_hDC, old);

    CRect rcLink;
    rcLink.left = w - 210;
    rcLink.right = rcLink.left + sz.cx;
    rcLink.bottom = h - 10;
    rcLink.top = rcLink.bottom - sz.cy;
    m_btnLink.Create(m_strLink, WS_CHILD | WS_VISIBLE, rcLink, this, IDC_ABOUT_LINK);
    m_btnLink.ResetBackground(FALSE);
    m_btnLink.DrawBorder(FALSE, FALSE);
    m_btnLink.SetFont(&m_fontLink);
    m_btnLink.SetColor(CButtonST::BTNST_COLOR_FG_IN, kLinkHover, FALSE);
    m_btnLink.SetColor(CButtonST::BTNST_COLOR_FG_OUT, kLinkNormal, FALSE);
    m_btnLink.SetColor(CButtonST::BTNST_COLOR_FG_FOCUS, kLinkNormal, FALSE);

    CRect rcBar(25, h - 120, w - 25, h - 96);
    m_progress.Create(WS_CHILD | WS_VISIBLE, rcBar, this, IDC_ABOUT_PROGRESS);
    m_progress.m_nPos = 50;
    m_progress.m_bAnimated = TRUE;
    if (LoadPngResource(IDB_SPLASH_BAR_LEFT, m_progress.m_imgLeft))
        PremultiplyAlpha(m_progress.m_imgLeft);
    LoadPngResource(IDB_SPLASH_BAR_BODY, m_progress.m_imgBar);
    if (LoadPngResource(IDB_SPLASH_BAR_RIGHT, m_progress.m_imgRight))
        PremultiplyAlpha(m_progress.m_imgRight);
    if (LoadPngResource(IDB_SPLASH_TRACK, m_progress.m_imgBack))
        PremultiplyAlpha(m_progress.m_imgBack);
}

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(L"KVR ZUL");
    if (LoadPngResource(IDB_SPLASH_BACKGROUND, m_imgBk))
        PremultiplyAlpha(m_imgBk);
    SetTimer(1, 30);
    if (m_nMode == MODE_SPLASH)
        m_btnLink.ShowWindow(SW_HIDE);
    else
        m_progress.ShowWindow(SW_HIDE);
    CenterWindow();
    return TRUE;
}

void CAboutDlg::OnTimer(UINT_PTR)
{
    ++m_nFrame;
    m_progress.m_nPos = m_nFrame;
    m_progress.Invalidate(FALSE);
    if (m_nFrame >= 125)
        m_nFrame = 0;
    if (m_bCloseRequest)
        EndDialog(IDOK);
}

void CAboutDlg::OnLButtonUp(UINT nFlags, CPoint point)
{
    if (m_nMode != MODE_ABOUT)
        return;  // a click does not close the splash
    CDialog::OnLButtonUp(nFlags, point);
    EndDialog(IDOK);
    if (m_pParentWnd && m_pParentWnd->m_hWnd)
        ::UpdateWindow(m_pParentWnd->m_hWnd);
}

BOOL CAboutDlg::OnEraseBkgnd(CDC* pDC)
{
    CRect rc;
    GetClientRect(&rc);
    int w = rc.Width();
    int h = rc.Height();
    pDC->FillSolidRect(&rc, RGB(255, 255, 255));
    if (!m_imgBk.IsNull())
        m_imgBk.Draw(pDC->m_hDC, -4, -4, w + 8, h + 8);

    // The notice: word-wrapped, its last line on the bottom of its box.
    CRect rcNotice(w - 210, h - 62, w - 10, h - 22);
    HGDIOBJ old = ::SelectObject(pDC->m_hDC, m_fontNotice.m_hObject);
    CRect rcCalc = rcNotice;
    pDC->DrawText(m_strNotice, &rcCalc, DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
    CRect rcText(rcNotice.left, rcNotice.bottom - rcCalc.Height(), rcNotice.right, rcNotice.bottom);
    pDC->SetBkMode(TRANSPARENT);
    pDC->SetTextColor(kNoticeColor);
    pDC->DrawText(m_strNotice, &rcText, DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(pDC->m_hDC, old);

    m_btnLink.CopyParentBackground(pDC);
    return TRUE;
}

void CAboutDlg::OnBnClickedLink()
{
    CString link = m_btnLink.GetWindowText();
    int r = OpenHyperlink(link);
    if (r <= 32) {
        ::MessageBeep(MB_ICONEXCLAMATION);
        ReportHyperlinkError(r);
    }
    m_btnLink.SetColor(CButtonST::BTNST_COLOR_FG_IN, kLinkHover, FALSE);
    m_btnLink.SetColor(CButtonST::BTNST_COLOR_FG_OUT, kLinkVisited, FALSE);
    m_btnLink.SetColor(CButtonST::BTNST_COLOR_FG_FOCUS, kLinkVisited, FALSE);
    m_btnLink.Invalidate();
}

// ---------------------------------------------------------------------------------------
// Opening the link
// ---------------------------------------------------------------------------------------

LONG ReadRegistryDefaultValue(HKEY hKey, CString& strValue)
{
    strValue.Empty();
    // Sizes here are in bytes; the buffer is sized from the value and always terminated.
    DWORD type = 0, cb = 0;
    if (::RegQueryValueExW(hKey, nullptr, nullptr, &type, nullptr, &cb) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && cb > 0) {
        std::vector<wchar_t> buf(cb / sizeof(wchar_t) + 1, L'\0');
        DWORD cb2 = (DWORD)((buf.size() - 1) * sizeof(wchar_t));
        if (::RegQueryValueExW(hKey, nullptr, nullptr, &type, (BYTE*)buf.data(), &cb2) == ERROR_SUCCESS) {
            buf[std::min<size_t>(cb2 / sizeof(wchar_t), buf.size() - 1)] = L'\0';
            strValue = buf.data();
        }
    }
    ::RegCloseKey(hKey);
    return 0;
}

CString BuildBrowserCommand(const CString& strCommand, const CString& strLink)
{
    CString cmd = strCommand;
    int pos = cmd.Find(L"\"%1\"");
    if (pos < 0)
        pos = cmd.Find(L"%1");
    if (pos >= 0)
        cmd = cmd.Left(pos);
    cmd.TrimRight();
    return cmd + L" " + strLink;
}

int OpenHyperlink(const CString& strLink)
{
    int result = (int)(INT_PTR)::ShellExecuteW(nullptr, L"open", strLink, nullptr, nullptr, SW_SHOW);
    if (result > 32)
        return result;
    HKEY hKey = nullptr;
    if (::RegOpenKeyW(HKEY_CLASSES_ROOT, L".htm", &hKey) != ERROR_SUCCESS)
        return result;
    CString docClass;
    ReadRegistryDefaultValue(hKey, docClass);
    if (docClass.IsEmpty())
        return result;
    docClass += L"\\shell\\open\\command";
    if (::RegOpenKeyW(HKEY_CLASSES_ROOT, docClass, &hKey) != ERROR_SUCCESS)
        return result;
    CString command;
    ReadRegistryDefaultValue(hKey, command);
    if (command.IsEmpty())
        return result;
    CStringA cmdA(BuildBrowserCommand(command, strLink));
    return (int)::WinExec(cmdA, SW_SHOW);
}

CString HyperlinkErrorText(int nCode)
{
    switch (nCode) {
    case 0: return L"The operating system is out\nof memory or resources.";
    case SE_ERR_FNF: return L"The specified file was not found.";
    case SE_ERR_PNF: return L"The specified path was not found.";
    case SE_ERR_ACCESSDENIED: return L"The operating system denied\naccess to the specified file.";
    case SE_ERR_OOM: return L"There was not enough memory to complete the operation.";
    case ERROR_BAD_FORMAT: return L"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case SE_ERR_SHARE: return L"A sharing violation occurred. ";
    case SE_ERR_ASSOCINCOMPLETE: return L"The filename association is\nincomplete or invalid.";
    case SE_ERR_DDETIMEOUT: return L"The DDE transaction could not\nbe completed because the request timed out.";
    case SE_ERR_DDEFAIL: return L"The DDE transaction failed.";
    case SE_ERR_DDEBUSY:
        return L"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case SE_ERR_NOASSOC: return L"There is no application associated\nwith the given filename extension.";
    case SE_ERR_DLLNOTFOUND: return L"The specified dynamic-link library was not found.";
    default: {
        CString s;
        s.Format(L"Unknown Error (%d) occurred.", nCode);
        return s;
    }
    }
}

void ReportHyperlinkError(int nCode)
{
    CString text = L"Unable to open hyperlink:\n\n" + HyperlinkErrorText(nCode);
    AfxMessageBox(text, MB_ICONEXCLAMATION);
}
