// Entry point of the main program. Until the main dialog exists, this shows the splash
// while a plain window comes up, so the window layer can be looked at by hand.
#include "afxwin.h"
#include "Splash.h"
#include "resource.h"

namespace {

class CPlainWnd : public CWnd {
public:
    CSplash* m_pSplash = nullptr;

protected:
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
};

BEGIN_MESSAGE_MAP(CPlainWnd, CWnd)
    ON_WM_PAINT()
    ON_WM_DESTROY()
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
        CRect rc(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT + 642, CW_USEDEFAULT + 436);
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
