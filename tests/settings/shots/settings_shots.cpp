// Shows one settings window for a screenshot: the settings page on one of its tabs, or one of
// the pop-ups over it. The first argument names it: backup, schedule, filetype, others,
// hotkey, time, password. Data files live in a private folder under the temporary path.
#include "afxwin.h"
#include "DataFiles.h"
#include "HotKeyDlg.h"
#include "LanguageText.h"
#include "PasswordSetDlg.h"
#include "SetDialog.h"
#include "SettingsHost.h"
#include "TimeSet.h"
#include "XmlDocument.h"

#include <string>

namespace {

class CShotWnd : public CWnd {
protected:
    BOOL OnEraseBkgnd(CDC* pDC)
    {
        CRect rc;
        GetClientRect(&rc);
        pDC->FillSolidRect(&rc, RGB(0x2C, 0x5A, 0x8C));
        return TRUE;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CShotWnd, CWnd)
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

class CShotHost : public ISettingsHost {
public:
    CWnd* m_pMain = nullptr;
    CWnd* GetMainWindow() override { return m_pMain; }
    void SetButtonWatch(bool) override {}
    void ApplyLanguage(const CString&) override {}
    void UpdateBackupFolderHidden() override {}
    void ReportSettingsWriteFailure(const CString&) override {}
};

CString PrepareFolder()
{
    wchar_t szTemp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    CString strApp = CString(szTemp) + L"zul_settings_shots\\";
    ::CreateDirectoryW(strApp, nullptr);
    ::CreateDirectoryW(strApp + L"user", nullptr);
    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    CString strExeDir(szExe);
    strExeDir = strExeDir.Left(strExeDir.ReverseFind(L'\\') + 1);
    ::CreateDirectoryW(strApp + L"Language", nullptr);
    for (const wchar_t* f : {L"Language.xml", L"0x0409.xml", L"0x0804.xml", L"0x0404.xml"})
        ::CopyFileW(strExeDir + L"Language\\" + f, strApp + L"Language\\" + f, FALSE);
    return strApp;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR lpCmdLine, int)
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_HOTKEY_CLASS | ICC_UPDOWN_CLASS};
    ::InitCommonControlsEx(&icc);
    ZulStartGdiplus();
    std::wstring what = lpCmdLine ? lpCmdLine : L"";
    g_strAppDir = PrepareFolder();
    g_strUserName = L"user";
    CXmlDocument settings;
    WriteDefaultSettings(settings, g_strAppDir + L"user");
    WriteLanguageSelect(g_strAppDir, 0x0409);
    // A little stored state, so that the windows show something.
    SaveHotKey(L"Ctrl + Alt + B", 'B', MOD_CONTROL | MOD_ALT);
    SaveDayTiming(L"Monday", 8, 30);
    SaveDayTiming(L"Friday", 18, 5);

    CShotWnd main;
    main.CreateEx(0, nullptr, L"KVR ZUL", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, CRect(100, 100, 680, 440), nullptr, 0);
    CShotHost host;
    host.m_pMain = &main;
    SetSettingsHost(&host);

    CSetDialog page;
    page.CreatePage(&main, 19, 28);
    page.ShowWindow(SW_SHOW);
    if (what == L"schedule")
        page.SelectTab(CSetDialog::TAB_TIMING);
    else if (what == L"filetype")
        page.SelectTab(CSetDialog::TAB_FILTER);
    else if (what == L"others")
        page.SelectTab(CSetDialog::TAB_OTHER);
    main.UpdateWindow();

    if (what == L"hotkey") {
        CHotKey dlg(&main);
        dlg.DoModal();
    } else if (what == L"time") {
        page.SelectTab(CSetDialog::TAB_TIMING);
        int nDay = 0;
        CTimeSet dlg(L"Monday", &page.m_dlgTiming.m_arrDayNames, &nDay, &main);
        dlg.DoModal();
    } else if (what == L"password") {
        CPasswordSetDlg dlg(&main);
        dlg.DoModal();
    } else {
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (!CWnd::WalkPreTranslateTree(nullptr, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
    }
    SetSettingsHost(nullptr);
    return 0;
}
