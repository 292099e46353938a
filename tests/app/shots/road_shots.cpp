// Pictures of the main window at work for the README, taken in the program itself: the same
// scene as the road tests (a bridge disk whose volume is a drive letter of the prefix, files
// chosen in the source tree), then each page of the panel, and a backup during its run and with
// its result. Usage: road_shots.exe FOLDER (run under Wine on an Xvfb screen; see
// tests/app/shots/road_shots.sh). Each picture is FOLDER\<name>.png.
#include "road_harness.h"

#include "ProgressDlg.h"
#include "QuickDialog.h"
#include "screen_shot.h"

namespace {

using road::CPromptHand;
using road::Pump;
using road::PumpUntil;

// Saves what the screen shows in the rectangle (with a margin) as a PNG.
bool Capture(RECT rc, const CString& strPath)
{
    ::InflateRect(&rc, 12, 12);
    RECT screen = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::IntersectRect(&rc, &rc, &screen);
    return testsupport::SaveScreenPng(rc, strPath);
}

// The program object the window classes expect, as in the tests.
struct CShotsApp : CWinApp {
    CShotsApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

class CRoadShots {
public:
    explicit CRoadShots(const CString& strFolder) : m_strFolder(strFolder) {}
    int Run();

private:
    // The main window (and a prompt over it), after a moment for painting.
    bool Shot(const wchar_t* pszName, HWND hOver = nullptr)
    {
        if (!hOver)
            Pump(700);
        RECT rc;
        ::GetWindowRect(AfxGetMainWnd()->m_hWnd, &rc);
        if (hOver) {
            RECT rcOver;
            ::GetWindowRect(hOver, &rcOver);
            ::UnionRect(&rc, &rc, &rcOver);
        }
        return Capture(rc, m_strFolder + L"\\" + pszName + L".png");
    }

    CString m_strFolder;
};

int CRoadShots::Run()
{
    road::CRoadScene scene;
    if (!scene.drive->IsMapped())
        return 2;
    scene.SetSetting(L"BackupFinish", L"0");
    scene.MakeSourceFiles(400, 48 * 1024, L"docs");
    scene.MakeSourceFiles(6, 2000, L"notes");
    if (!scene.Open())
        return 3;
    CKelvariDlg* pMain = scene.Main();
    CPageBox* pPanel = scene.Panel();
    pMain->SetWindowPos(nullptr, 60, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    pMain->ShowWindow(SW_SHOW);
    Pump(1000);

    // The backup page: the chosen folder checked in the source tree, the disks and the
    // destination drive on the right.
    pPanel->OnBnClickedBackupPage();
    const CString strDocs = scene.strSource + L"\\docs";
    if (!road::CheckSourcePath(strDocs))
        return 4;
    CBackUpTreeCtrl* pSource = road::SourceTree();
    pSource->EnsureVisible(pSource->FindListedItem(strDocs + L"\\"));
    Shot(L"backup-page-filled");

    // A backup started by the hot key, held in the middle of its run by its pause event.
    scene.hand.script = [](const CPromptHand::Seen& s) {
        return s.message == L"Start backup now ?" ? CPromptHand::OK : CPromptHand::LEAVE;
    };
    pMain->PostMessage(WM_HOTKEY, ID_BACKUP_HOTKEY, 0);
    CPropressDlg* pProgress = pPanel->m_pProgressDlg;
    if (!PumpUntil([&] { return pProgress->IsRunning() && pProgress->m_engine.m_nDoneFiles >= 150; }, 60000))
        return 5;
    ::ResetEvent(pProgress->m_engine.m_hPauseEvent);
    Pump(1500);
    Shot(L"progress-running");
    ::SetEvent(pProgress->m_engine.m_hPauseEvent);

    // Its end: the result over the progress dialog, taken while the message is up.
    bool bResultShot = false;
    scene.hand.whileOpen = [&](const CPromptHand::Seen& seen, DWORD ms) {
        if (bResultShot || ms < 800)
            return;
        bResultShot = true;
        Shot(L"progress-result", seen.hWnd);
        CPromptHand::Press(seen.hWnd, IDC_MAKESURE_OK);
    };
    if (!PumpUntil([&] { return bResultShot && !pPanel->IsOperationRunning() && !pProgress->IsWorkerAlive(); },
                   120000))
        return 6;

    // Each page of the panel; the quick-launch page shows the time of that backup.
    pPanel->OnBnClickedQuickPage();
    Shot(L"page-quick");
    pPanel->OnBnClickedBackupPage();
    Shot(L"page-backup");
    pPanel->OnBnClickedManagePage();
    Pump(1500);
    Shot(L"page-manage");
    pPanel->OnBnClickedSetPage();
    Shot(L"page-settings");
    scene.Close();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    ::InitCommonControlsEx(&icc);
    ::OleInitialize(nullptr);
    ZulStartGdiplus();
    int nResult = CRoadShots(argc > 1 ? argv[1] : L".").Run();
    ::OleUninitialize();
    return nResult;
}
