// Shows the start prompt with its 30-second countdown on its own, for the screenshots of the
// README (tools/screenshot.sh build/bin/zul_prompt_demo.exe).
#include "MakeSureDlg.h"

class CPromptDemoApp : public CWinApp {
public:
    BOOL InitInstance() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
        ::InitCommonControlsEx(&icc);
        CMakeSureDlg dlg(L"File Backup", L"Start backup now ?", 0);
        dlg.m_bCountDown = 1;
        dlg.m_nCountDown = 30;
        dlg.DoModal();
        return FALSE;
    }
};

CPromptDemoApp theApp;

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPWSTR lpCmdLine, int nShow)
{
    return AfxWinMain(hInstance, hPrev, lpCmdLine, nShow);
}
