// Entry point of the main program. Until the main dialog exists, this shows the splash
// while a plain window comes up, so the window layer can be looked at by hand.
#include "afxwin.h"
#include "ButtonST.h"
#include "SharedFunctions.h"
#include "SkinControls.h"
#include "Splash.h"
#include "resource.h"

namespace {

class CPlainWnd : public CWnd {
public:
    CSplash* m_pSplash = nullptr;

protected:
    int OnCreate(LPCREATESTRUCT lpcs)
    {
        if (CWnd::OnCreate(lpcs) == -1)
            return -1;
        m_font.CreateFont(13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 32, L"MingLiU");
        m_btnAbout.Create(L"About KVR ZUL", WS_VISIBLE | WS_TABSTOP, CRect(20, 20, 140, 44), this, 100);
        m_btnAbout.SetFont(&m_font);
        m_btnAbout.LoadSkinSlices();
        m_btnAbout.ResetBackground(FALSE);
        m_check.Create(L"Compress files", WS_VISIBLE | BS_AUTOCHECKBOX, CRect(20, 60, 160, 80), this, 101);
        m_check.SetFont(&m_font);
        m_check.SetLeftAlign(TRUE, FALSE);
        m_check.ResetBackground(FALSE);
        m_check.SetStateIcons(180, 179, 182, 181, 183);
        m_check.SetCheckState(1);
        m_combo.Create(WS_VISIBLE | CBS_DROPDOWNLIST, CRect(20, 96, 200, 200), this, 102);
        m_combo.SetFont(&m_font);
        m_combo.LoadSkinImages();
        m_combo.AddString(L"E:\\");
        m_combo.SetCurSel(0);
        m_edit.Create(WS_VISIBLE, CRect(220, 96, 400, 118), this, 103);
        m_edit.SetFont(&m_font);
        m_edit.LoadImages(258);
        m_edit.SetWindowText(L"mp3,wma");
        m_progress.Create(WS_VISIBLE, CRect(20, 140, 512, 158), this, 104);
        if (LoadPngResource(281, m_progress.m_imgBack))
            PremultiplyAlpha(m_progress.m_imgBack);
        if (LoadPngResource(282, m_progress.m_imgBar))
            PremultiplyAlpha(m_progress.m_imgBar);
        if (LoadPngResource(283, m_progress.m_imgLeft))
            PremultiplyAlpha(m_progress.m_imgLeft);
        m_progress.m_bSegmented = TRUE;
        m_progress.m_nSegmentGap = 2;
        m_progress.m_bShowPercent = TRUE;
        m_progress.m_nPos = 60;
        return 0;
    }
    void OnAbout()
    {
        CAboutDlg about(this, CAboutDlg::MODE_ABOUT);
        about.DoModal();
    }
    void OnPaint()
    {
        CPaintDC dc(this);
        CRect rc;
        GetClientRect(&rc);
        dc.FillSolidRect(&rc, RGB(244, 246, 249));
        // The first paint of the main window ends the splash.
        if (m_pSplash)
            m_pSplash->RequestClose();
    }
    void OnDestroy()
    {
        CWnd::OnDestroy();
        ::PostQuitMessage(0);
    }
    DECLARE_MESSAGE_MAP()

private:
    CFont m_font;
    CButtonST m_btnAbout;
    CButtonST m_check;
    CMyComboBox m_combo;
    CMyEdit m_edit;
    CProgressCtrlX m_progress;
};

BEGIN_MESSAGE_MAP(CPlainWnd, CWnd)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_DESTROY()
    ON_BN_CLICKED(100, OnAbout)
END_MESSAGE_MAP()

class CDemoApp : public CWinApp {
public:
    CDemoApp() : CWinApp(L"KVR ZUL") {}
    BOOL InitInstance() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
        ::InitCommonControlsEx(&icc);
        m_splash.Start();
        ::Sleep(1500);  // let the splash run a little before the window comes up
        m_wnd.m_pSplash = &m_splash;
        if (!m_wnd.CreateEx(0, nullptr, L"KVR ZUL", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CRect(100, 100, 742, 536),
                            nullptr, 0))
            return FALSE;
        m_wnd.SetIcon((HICON)::LoadImageW(m_hInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 32, 32, 0), TRUE);
        m_pMainWnd = &m_wnd;
        return TRUE;
    }
    int ExitInstance() override
    {
        m_splash.Close();
        return 0;
    }

private:
    CSplash m_splash;
    CPlainWnd m_wnd;
};

CDemoApp theApp;

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPWSTR lpCmdLine, int nShow)
{
    return AfxWinMain(hInstance, hPrev, lpCmdLine, nShow);
}
