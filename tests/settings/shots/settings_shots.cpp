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
#include "screen_shot.h"
#include "test_pump.h"

#include <string>

namespace {

using testsupport::CShotBackdrop;
using testsupport::Pump;
using testsupport::SaveScreenPng;

class CShotHost : public ISettingsHost {
public:
    CWnd* m_pMain = nullptr;
    CWnd* GetMainWindow() override { return m_pMain; }
    void SetButtonWatch(bool) override {}
    void ApplyLanguage(const CString&) override {}
    void UpdateBackupFolderHidden() override {}
    void ReportSettingsWriteFailure(const CString&) override {}
};

// While a pop-up runs modally: after a moment, the shot, then the pop-up's own close command.
CString g_strShotPath;
RECT g_rcShot;
UINT g_nCloseId = 0;
int g_nTicks = 0;
void CALLBACK PopupShotTimer(HWND, UINT, UINT_PTR nID, DWORD)
{
    if (++g_nTicks < 8)
        return;
    ::KillTimer(nullptr, nID);
    HWND hPopup = ::GetActiveWindow();
    SaveScreenPng(g_rcShot, g_strShotPath);
    if (hPopup)
        ::PostMessageW(hPopup, WM_COMMAND, MAKEWPARAM(g_nCloseId, BN_CLICKED), (LPARAM)::GetDlgItem(hPopup, g_nCloseId));
}

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

    CShotBackdrop main;
    main.CreateEx(0, nullptr, L"KVR ZUL", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, CRect(100, 100, 680, 440), nullptr, 0);
    CShotHost host;
    host.m_pMain = &main;
    SetSettingsHost(&host);

    CSetDialog page;
    page.CreatePage(&main, 19, 28);
    page.ShowWindow(SW_SHOW);
    main.UpdateWindow();
    ::GetWindowRect(main.m_hWnd, &g_rcShot);

    // "all FOLDER": every view in turn, saved as settings-<view>.png in the folder.
    std::wstring strOut;
    if (what.rfind(L"all ", 0) == 0) {
        strOut = what.substr(4);
        if (!strOut.empty() && strOut.back() != L'\\')
            strOut += L'\\';
    }
    const wchar_t* views[] = {L"backup", L"schedule", L"filetype", L"others", L"hotkey", L"time", L"password"};
    for (const wchar_t* view : views) {
        if (strOut.empty() && what != view)
            continue;
        std::wstring v = view;
        g_strShotPath = CString((strOut + L"settings-" + v + L".png").c_str());
        page.SelectTab(v == L"schedule" || v == L"time" ? CSetDialog::TAB_TIMING
                       : v == L"filetype"               ? CSetDialog::TAB_FILTER
                       : v == L"others"                 ? CSetDialog::TAB_OTHER
                                                        : CSetDialog::TAB_BACKUP);
        Pump(strOut.empty() ? 200 : 1500);
        g_nTicks = 0;
        if (v == L"hotkey") {
            g_nCloseId = IDC_POPUP_CANCEL;
            if (!strOut.empty())
                ::SetTimer(nullptr, 0, 150, PopupShotTimer);
            CHotKey dlg(&main);
            dlg.DoModal();
        } else if (v == L"time") {
            g_nCloseId = IDC_POPUP_CANCEL;
            if (!strOut.empty())
                ::SetTimer(nullptr, 0, 150, PopupShotTimer);
            int nDay = 0;
            CTimeSet dlg(L"Monday", &page.m_dlgTiming.m_arrDayNames, &nDay, &main);
            dlg.DoModal();
        } else if (v == L"password") {
            g_nCloseId = IDCANCEL;
            if (!strOut.empty())
                ::SetTimer(nullptr, 0, 150, PopupShotTimer);
            CPasswordSetDlg dlg(&main);
            dlg.DoModal();
        } else if (!strOut.empty()) {
            SaveScreenPng(g_rcShot, g_strShotPath);
        } else {
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                if (!CWnd::WalkPreTranslateTree(nullptr, &msg)) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageW(&msg);
                }
            }
        }
    }
    SetSettingsHost(nullptr);
    return 0;
}
