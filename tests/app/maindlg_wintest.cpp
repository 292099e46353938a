// The main window: its set-up, the shell-event table row by row through a table-driven shell
// and stand-in trees, a real shell notification, the device-change debounce, the hot key, quit
// while busy, and page switching in the panel.

#include "AppTestUtil.h"
#include "DataFiles.h"
#include "KelvariDlg.h"
#include "LangTestFolder.h"
#include "SingleInstance.h"
#include "TreeShared.h"
#include "wintest_util.h"

#include <gtest/gtest.h>
#include <shlobj.h>

using langtest::TempFolder;
using langtest::WriteBytes;

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

// A page that counts what the main window asks of it.
class CCountingPage : public CWnd, public IPanelPage {
public:
    static int s_nChecks;
    static std::vector<DWORD> s_refreshTicks;
    BOOL CreatePage(CPageBox* pPanel, const CRect& rc) override
    {
        return CreateEx(0, AfxRegisterWndClass(0), L"", WS_CHILD, rc, pPanel, 0);
    }
    CWnd* PageWnd() override { return this; }
    void CheckDestination() override { ++s_nChecks; }
    void RefreshDriveTree() override { s_refreshTicks.push_back(::GetTickCount()); }
};
int CCountingPage::s_nChecks = 0;
std::vector<DWORD> CCountingPage::s_refreshTicks;

// Answers (cancels) every prompt that opens on this thread and notes its text and the panel's
// state while it was up.
struct PromptLog {
    CPageBox* box = nullptr;
    std::vector<CString> messages;
    int nPageAtPrompt = -1;
    int nStartedByKey = -1;
} g_prompts;

BOOL CALLBACK FindOpenPrompt(HWND hWnd, LPARAM lParam)
{
    if (::IsWindowVisible(hWnd) && ::GetDlgItem(hWnd, IDC_MAKESURE_CANCEL)) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK CancelOpenPrompt(HWND, UINT, UINT_PTR, DWORD)
{
    HWND hPrompt = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindOpenPrompt, reinterpret_cast<LPARAM>(&hPrompt));
    if (!hPrompt || ::GetPropW(hPrompt, L"answered"))
        return;
    ::SetPropW(hPrompt, L"answered", (HANDLE)1);
    wchar_t szText[512] = {};
    ::GetDlgItemTextW(hPrompt, IDC_MAKESURE_MESSAGE, szText, 512);
    g_prompts.messages.push_back(szText);
    if (g_prompts.box) {
        g_prompts.nPageAtPrompt = g_prompts.box->m_nCurPage;
        g_prompts.nStartedByKey = g_prompts.box->m_bStartedByKey;
    }
    ::PostMessageW(hPrompt, WM_COMMAND, MAKEWPARAM(IDC_MAKESURE_CANCEL, BN_CLICKED),
                   (LPARAM)::GetDlgItem(hPrompt, IDC_MAKESURE_CANCEL));
}

class MainDialog : public ::testing::Test {
protected:
    TempFolder app{L"main"};
    CKelvariDlg* dlg = nullptr;

    void SetUp() override
    {
        g_strAppDir = app.Dir();
        g_strUserName = L"tester";
        ::CreateDirectoryW(GetDataFolder(), nullptr);
        CKelvariDlg::s_bShowSplash = false;
        RegisterPanelPage(CPageBox::PAGE_BACKUP, [] { return std::make_unique<CCountingPage>(); });
        RegisterPanelPage(CPageBox::PAGE_MANAGE, [] { return std::make_unique<CCountingPage>(); });
        CCountingPage::s_nChecks = 0;
        CCountingPage::s_refreshTicks.clear();
    }
    void Open()
    {
        g_bDefaultsWritten = 0;
        dlg = new CKelvariDlg;
        ASSERT_TRUE(dlg->Create(CKelvariDlg::IDD, nullptr));
        g_app.m_pMainWnd = dlg;
        dlg->ShowWindow(SW_SHOW);
    }
    void TearDown() override
    {
        g_app.m_pMainWnd = nullptr;
        if (dlg) {
            if (dlg->m_hWnd)
                dlg->DestroyWindow();
            delete dlg;
        }
        RegisterPanelPage(CPageBox::PAGE_BACKUP, nullptr);
        RegisterPanelPage(CPageBox::PAGE_MANAGE, nullptr);
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }
    void WriteHotKey(const char* pszKey, const char* pszModifiers)
    {
        ASSERT_TRUE(WriteBytes(JoinPath(GetDataFolder(), L"init.xml"),
                               std::string("<InitInfo>\r\n<HotKey Str=\"x\" VirtualKeyCode=\"") + pszKey +
                                   "\" keyModifiers=\"" + pszModifiers + "\"/>\r\n</InitInfo>\r\n"));
    }
};

// The four stand-in trees and the destination list, wired to the program-wide handles.
struct Trees {
    CTreeRecorder manage1{"m1"}, manage2{"m2"}, source{"src"}, dest{"dst"};
    CHostWnd host;
    CComboBox combo;
    Trees()
    {
        for (CTreeRecorder* p : {&manage1, &manage2, &source, &dest})
            p->CreateHidden();
        host.CreateHost(0, 0, 200, 100);
        combo.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, CRect(0, 0, 100, 200), &host, 1007);
        g_hManageTreeWnd = manage1.m_hWnd;
        g_hManageTree2Wnd = manage2.m_hWnd;
        g_hSourceTreeWnd = source.m_hWnd;
        g_hDestTreeWnd = dest.m_hWnd;
        g_hDestComboWnd = combo.m_hWnd;
    }
    ~Trees()
    {
        g_hManageTreeWnd = g_hManageTree2Wnd = g_hSourceTreeWnd = g_hDestTreeWnd = g_hDestComboWnd = nullptr;
    }
    void Clear()
    {
        for (CTreeRecorder* p : {&manage1, &manage2, &source, &dest})
            p->calls.clear();
    }
    // Every tree got exactly this one call.
    void ExpectAll(const std::string& call)
    {
        for (CTreeRecorder* p : {&manage1, &manage2, &source, &dest})
            EXPECT_EQ(std::vector<std::string>{call}, p->calls) << p->m_name;
        Clear();
    }
};

DriveFacts Drive(UINT type, const wchar_t* pszName, int icon, bool ready = true, const wchar_t* pszFs = L"NTFS")
{
    DriveFacts d;
    d.type = type;
    d.displayName = pszName;
    d.icon = icon;
    d.ready = ready;
    d.fileSystem = pszFs;
    return d;
}

CKelvariDlg* g_pAboutHost = nullptr;
void CALLBACK PressWhileAboutIsOpen(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_pAboutHost->m_pAboutDlg && g_pAboutHost->m_pAboutDlg->m_hWnd) {
        g_pAboutHost->SendMessage(WM_HOTKEY, ID_BACKUP_HOTKEY, 0);
        g_pAboutHost->m_pAboutDlg->EndDialog(IDOK);
    }
}

}  // namespace

TEST_F(MainDialog, SetUpTitleMarkTrayMenuAndImageLists)
{
    Open();
    EXPECT_EQ(CString(L"KVR ZUL"), dlg->GetWindowText());
    EXPECT_EQ(dlg->m_hWnd, FindMainWindow());
    CRect rc;
    dlg->GetWindowRect(&rc);
    EXPECT_EQ(CKelvariDlg::kWidth, rc.Width());
    EXPECT_EQ(CKelvariDlg::kHeight, rc.Height());
    // The caption buttons, right-aligned in the band.
    CRect rcQuit;
    dlg->m_btnQuit.GetWindowRect(&rcQuit);
    EXPECT_EQ(rc.right - 28, rcQuit.left);
    EXPECT_EQ(rc.top + 32, rcQuit.top);

    CMenu* pSub = dlg->m_trayIcon.GetTrayMenu()->GetSubMenu(0);
    ASSERT_NE(nullptr, pSub);
    const wchar_t* expected[4] = {L"Display KVR ZUL", L"Help", L"About KVR ZUL", L"Quit KVR ZUL"};
    const UINT ids[4] = {ID_TRAY_SHOW, ID_TRAY_HELP, ID_TRAY_ABOUT, ID_TRAY_QUIT};
    for (int i = 0; i < 4; ++i) {
        CString s;
        pSub->GetMenuString(i, s, MF_BYPOSITION);
        EXPECT_EQ(CString(expected[i]), s);
        EXPECT_EQ(ids[i], pSub->GetMenuItemID(i));
    }
    ASSERT_NE(nullptr, g_hStateImageList);
    EXPECT_EQ(6, ImageList_GetImageCount(g_hStateImageList));
    ASSERT_NE(nullptr, g_hNormalImageList);
    EXPECT_GE(g_nDiskImage, 0);
    // The page panel sits below the band.
    CRect rcPanel;
    dlg->m_pPageBox->GetWindowRect(&rcPanel);
    EXPECT_EQ(rc.left + 7, rcPanel.left);
    EXPECT_EQ(rc.top + 67, rcPanel.top);
    EXPECT_EQ(rc.Width() - 14, rcPanel.Width());
}

TEST_F(MainDialog, ShellEventTableRowByRow)
{
    CShellIoTable shell;
    shell.drives[L"C:\\"] = Drive(DRIVE_FIXED, L"System (C:)", 8);
    shell.drives[L"F:\\"] = Drive(DRIVE_REMOVABLE, L"Stick (F:)", 7, true, L"FAT32");
    shell.drives[L"G:\\"] = Drive(DRIVE_CDROM, L"CD Drive (G:)", 11);
    shell.drives[L"N:\\"] = Drive(DRIVE_REMOTE, L"share on srv (N:)", 3);
    shell.drives[L"K:\\"] = Drive(DRIVE_FIXED, L"Backup Disk", 8);
    shell.drives[L"R:\\"] = Drive(DRIVE_REMOVABLE, L"Reader (R:)", 7, false);
    Open();
    Trees t;
    int nChecks = CCountingPage::s_nChecks;

    dlg->HandleShellEvent(SHCNE_RENAMEITEM, L"C:\\d\\a.txt", L"C:\\d\\b.txt");
    t.ExpectAll("renamed C:\\d\\a.txt C:\\d\\b.txt");
    dlg->HandleShellEvent(SHCNE_RENAMEFOLDER, L"C:\\d\\x", L"C:\\e\\x");
    t.ExpectAll("moved C:\\d\\x C:\\e\\x");
    dlg->HandleShellEvent(SHCNE_CREATE, L"C:\\d\\new.txt", L"");
    t.ExpectAll("created C:\\d\\new.txt");
    dlg->HandleShellEvent(SHCNE_MKDIR, L"C:\\d\\sub", L"");
    t.ExpectAll("created C:\\d\\sub");
    dlg->HandleShellEvent(SHCNE_DELETE, L"C:\\d\\new.txt", L"");
    t.ExpectAll("deleted C:\\d\\new.txt");
    dlg->HandleShellEvent(SHCNE_RMDIR, L"C:\\d\\sub", L"");
    t.ExpectAll("deleted C:\\d\\sub");
    dlg->HandleShellEvent(SHCNE_NETSHARE, L"C:\\d", L"");
    t.ExpectAll("share C:\\d");
    dlg->HandleShellEvent(SHCNE_UPDATEDIR, L"C:\\d", L"");
    t.ExpectAll("updated C:\\d");
    dlg->HandleShellEvent(SHCNE_ATTRIBUTES, L"C:\\d", L"");  // not in the table: nothing
    for (CTreeRecorder* p : {&t.manage1, &t.manage2, &t.source, &t.dest})
        EXPECT_TRUE(p->calls.empty()) << p->m_name;
    dlg->HandleShellEvent(SHCNE_CREATE, L"", L"");  // no first path: nothing at all
    EXPECT_TRUE(t.source.calls.empty());
    // Every event with a first path re-checks the destination, the empty one does not.
    EXPECT_EQ(nChecks + 9, CCountingPage::s_nChecks);

    // A removable drive with a file system: unchecked source item, management items named up
    // to their "(F:)".
    dlg->HandleShellEvent(SHCNE_DRIVEADD, L"F:\\", L"");
    EXPECT_EQ(std::vector<std::string>{"adddrive F:\\ [Stick (F:)] 7 0x4600 1"}, t.source.calls);
    EXPECT_EQ(std::vector<std::string>{"adddrive F:\\ [Stick (F:)] 7 0x4600 0"}, t.manage1.calls);
    EXPECT_EQ(t.manage1.calls, t.manage2.calls);
    EXPECT_TRUE(t.dest.calls.empty());
    t.Clear();
    // A second arrival adds nothing twice.
    dlg->HandleShellEvent(SHCNE_MEDIAINSERTED, L"F:\\", L"");
    EXPECT_TRUE(t.source.calls.empty());
    EXPECT_TRUE(t.manage1.calls.empty());
    // Network drive: icon 3 is shown as 9. A name without "(X:)" stays whole.
    dlg->HandleShellEvent(SHCNE_DRIVEADD, L"N:\\", L"");
    EXPECT_EQ(std::vector<std::string>{"adddrive N:\\ [share on srv (N:)] 9 0x4e00 1"}, t.source.calls);
    dlg->HandleShellEvent(SHCNE_DRIVEADD, L"K:\\", L"");
    EXPECT_EQ("adddrive K:\\ [Backup Disk] 8 0x4b00 0", t.manage1.calls.back());
    t.Clear();
    // A removable drive without a medium: no file system, so the item is fixed (data + 2).
    dlg->HandleShellEvent(SHCNE_DRIVEADD, L"R:\\", L"");
    EXPECT_EQ(std::vector<std::string>{"adddrive R:\\ [Reader (R:)] 7 0x5202 5"}, t.source.calls);
    t.Clear();
    // A CD-ROM is never a source; the management trees replace its item.
    t.manage1.items.push_back(L"G:\\");
    dlg->HandleShellEvent(SHCNE_DRIVEADD, L"G:\\", L"");
    EXPECT_TRUE(t.source.calls.empty());
    EXPECT_EQ((std::vector<std::string>{"removedrive G:\\", "adddrive G:\\ [CD Drive (G:)] 11 0x4700 0"}),
              t.manage1.calls);
    t.Clear();
    // A drive's label changed (both paths the same): handled as an arrival.
    dlg->HandleShellEvent(SHCNE_RENAMEFOLDER, L"C:\\", L"C:\\");
    EXPECT_EQ(std::vector<std::string>{"adddrive C:\\ [System (C:)] 8 0x4300 1"}, t.source.calls);
    t.Clear();

    // Removal: a drive that is gone leaves the trees; a CD-ROM only gets its icon again.
    dlg->HandleShellEvent(SHCNE_DRIVEREMOVED, L"Q:\\", L"");
    for (CTreeRecorder* p : {&t.manage1, &t.manage2, &t.source})
        EXPECT_EQ(std::vector<std::string>{"removedrive Q:\\"}, p->calls) << p->m_name;
    EXPECT_TRUE(t.dest.calls.empty());
    t.Clear();
    dlg->HandleShellEvent(SHCNE_MEDIAREMOVED, L"G:\\", L"");
    t.ExpectAll("image G:\\ 11");
}

TEST_F(MainDialog, PulledMediumIsWaitedForOnItsOwnDriveOnly)
{
    CShellIoTable shell;
    shell.drives[L"R:\\"] = Drive(DRIVE_REMOVABLE, L"Reader (R:)", 7, true, L"FAT");
    shell.drives[L"S:\\"] = Drive(DRIVE_REMOVABLE, L"Other (S:)", 7, true, L"FAT");
    Open();
    Trees t;

    dlg->HandleShellEvent(SHCNE_MEDIAREMOVED, L"R:\\", L"");
    EXPECT_EQ(CString(L"R:\\"), dlg->m_strMediaPendingRoot);
    // While waiting, arrivals are held back and updates of other paths change nothing.
    dlg->HandleShellEvent(SHCNE_DRIVEADD, L"S:\\", L"");
    dlg->HandleShellEvent(SHCNE_UPDATEITEM, L"C:\\somefile.txt", L"");
    EXPECT_TRUE(t.source.calls.empty());
    EXPECT_EQ(CString(L"R:\\"), dlg->m_strMediaPendingRoot);
    // The update of the drive itself: the medium is gone, so the drive leaves and comes back.
    shell.drives[L"R:\\"].hasEntries = false;
    shell.drives[L"R:\\"].ready = false;
    dlg->HandleShellEvent(SHCNE_UPDATEITEM, L"R:\\", L"");
    EXPECT_TRUE(dlg->m_strMediaPendingRoot.IsEmpty());
    EXPECT_EQ((std::vector<std::string>{"removedrive R:\\", "adddrive R:\\ [Reader (R:)] 7 0x5202 5"}),
              t.source.calls);
    t.Clear();

    // A medium still there: nothing happens on the update.
    dlg->HandleShellEvent(SHCNE_MEDIAREMOVED, L"S:\\", L"");
    dlg->HandleShellEvent(SHCNE_UPDATEITEM, L"S:\\", L"");
    EXPECT_TRUE(t.source.calls.empty());
    // The wait ends by itself after a few seconds.
    dlg->HandleShellEvent(SHCNE_MEDIAREMOVED, L"S:\\", L"");
    dlg->m_dwMediaPendingSince = ::GetTickCount() - CKelvariDlg::kMediaWaitMs - 100;
    dlg->SendMessage(WM_TIMER, 1);
    EXPECT_TRUE(dlg->m_strMediaPendingRoot.IsEmpty());
}

TEST_F(MainDialog, RealShellNotificationReachesTheTrees)
{
    Open();
    ASSERT_NE(0u, dlg->m_nShellNotifyId);
    Trees t;
    CString strFolder = app / L"made_by_test";
    ASSERT_TRUE(::CreateDirectoryW(strFolder, nullptr));
    ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW | SHCNF_FLUSH, (const wchar_t*)strFolder, nullptr);
    std::string expected = "created " + Narrow(strFolder);
    EXPECT_TRUE(PumpUntil([&] { return !t.source.calls.empty(); }, 5000));
    ASSERT_FALSE(t.source.calls.empty());
    EXPECT_EQ(expected, t.source.calls[0]);
    t.Clear();

    // A file made in the watched folder, then renamed: both of the event's paths come through.
    CString strFile = strFolder + L"\\note.txt", strRenamed = strFolder + L"\\renamed.txt";
    ASSERT_TRUE(WriteBytes(strFile, "text"));
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW | SHCNF_FLUSH, (const wchar_t*)strFile, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return !t.source.calls.empty(); }, 5000));
    EXPECT_EQ(std::vector<std::string>{"created " + Narrow(strFile)}, t.source.calls);
    t.Clear();
    ASSERT_TRUE(::MoveFileW(strFile, strRenamed));
    ::SHChangeNotify(SHCNE_RENAMEITEM, SHCNF_PATHW | SHCNF_FLUSH, (const wchar_t*)strFile,
                     (const wchar_t*)strRenamed);
    EXPECT_TRUE(PumpUntil([&] { return !t.source.calls.empty(); }, 5000));
    EXPECT_EQ(std::vector<std::string>{"renamed " + Narrow(strFile) + " " + Narrow(strRenamed)}, t.source.calls);
}

TEST_F(MainDialog, DeviceChangeBurstGivesOneRefreshAfterTheLastChange)
{
    Open();
    // A change with data is answered and ignored.
    dlg->SendMessage(WM_DEVICECHANGE, 0x8000 /* DBT_DEVICEARRIVAL */, 1);
    EXPECT_EQ(0, dlg->m_bRefreshPending);
    DWORD last = 0;
    for (int i = 0; i < 5; ++i) {
        dlg->SendMessage(WM_DEVICECHANGE, 7 /* DBT_DEVNODES_CHANGED */, 0);
        last = ::GetTickCount();
        Pump(150);
    }
    EXPECT_TRUE(CCountingPage::s_refreshTicks.empty());
    // The refresh comes once, no sooner than a second after the last change; how much later
    // depends on the machine's load, so only its coming is waited for.
    ASSERT_TRUE(PumpUntil([] { return !CCountingPage::s_refreshTicks.empty(); }, 10000));
    DWORD after = CCountingPage::s_refreshTicks[0] - last;
    EXPECT_GE(after, 1000u);
    Pump(1200);
    EXPECT_EQ(1u, CCountingPage::s_refreshTicks.size());
}

TEST_F(MainDialog, HotKeyRegisteredOnlyWithKeyAndModifiers)
{
    WriteHotKey("123", "0");
    Open();
    EXPECT_EQ(0, dlg->m_bHotKeyRegistered);
    dlg->DestroyWindow();
    delete dlg;
    dlg = nullptr;

    WriteHotKey("123", "6");
    Open();
    EXPECT_EQ(1, dlg->m_bHotKeyRegistered);
    // The combination is taken: nobody else gets it while the main window lives.
    CHostWnd other;
    ASSERT_TRUE(other.CreateHost(0, 0, 10, 10));
    EXPECT_FALSE(::RegisterHotKey(other.m_hWnd, 1, MOD_CONTROL | MOD_SHIFT, 123));
    dlg->DestroyWindow();
    EXPECT_TRUE(::RegisterHotKey(other.m_hWnd, 1, MOD_CONTROL | MOD_SHIFT, 123));
    ::UnregisterHotKey(other.m_hWnd, 1);
}

TEST_F(MainDialog, HotKeyIgnoredWhileBusyPromptOrModalDialogOpen)
{
    Open();
    CPageBox* box = dlg->m_pPageBox;
    g_prompts = PromptLog();
    g_prompts.box = box;
    UINT_PTR answer = ::SetTimer(nullptr, 0, 50, CancelOpenPrompt);
    auto press = [&] { dlg->SendMessage(WM_HOTKEY, ID_BACKUP_HOTKEY, 0); };

    box->m_bBackupRunning = 1;
    press();
    box->m_bBackupRunning = 0;
    box->m_bRestoreRunning = 1;
    press();
    box->m_bRestoreRunning = 0;
    box->m_bPromptOpen = 1;
    press();
    box->m_bPromptOpen = 0;
    EXPECT_TRUE(g_prompts.messages.empty());
    EXPECT_EQ(0, box->m_bStartedByKey);

    // While the About box runs its modal loop.
    g_pAboutHost = dlg;
    UINT_PTR timer = ::SetTimer(nullptr, 0, 100, PressWhileAboutIsOpen);
    dlg->SendMessage(WM_COMMAND, IDC_MAIN_ABOUT);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(nullptr, dlg->m_pAboutDlg);
    EXPECT_TRUE(g_prompts.messages.empty());

    // Idle: the backup page comes up and the start, marked as made by a key, reaches its
    // checks (nothing is selected here); the refusal leaves every word cleared.
    box->OnBnClickedQuickPage();
    press();
    ::KillTimer(nullptr, answer);
    ASSERT_EQ(1u, g_prompts.messages.size());
    EXPECT_EQ(CString(L"Please select files for backup!"), g_prompts.messages[0]);
    EXPECT_EQ(1, g_prompts.nStartedByKey);
    EXPECT_EQ(CPageBox::PAGE_BACKUP, g_prompts.nPageAtPrompt);
    EXPECT_EQ(0, box->m_bStartedByKey);
    EXPECT_EQ(0, box->m_bPromptOpen);
    EXPECT_EQ(0, box->m_bBackupRunning);
    EXPECT_TRUE(dlg->IsWindowVisible());
}

TEST_F(MainDialog, QuitRefusedWhileAnOperationRuns)
{
    Open();
    HWND h = dlg->m_hWnd;
    dlg->m_pPageBox->m_bBackupRunning = 1;
    dlg->SendMessage(WM_COMMAND, IDC_MAIN_QUIT);
    dlg->SendMessage(WM_COMMAND, ID_TRAY_QUIT);
    dlg->SendMessage(WM_COMMAND, IDCANCEL);
    EXPECT_TRUE(::IsWindow(h));
    // The tray menu's quit item and the quit button show that a quit is refused.
    dlg->SendMessage(WM_TIMER, 1);
    EXPECT_TRUE(dlg->m_trayIcon.m_bBusy);
    EXPECT_TRUE(dlg->m_btnQuit.HasDisabledLook());
    dlg->m_pPageBox->m_bBackupRunning = 0;
    dlg->SendMessage(WM_TIMER, 1);
    EXPECT_FALSE(dlg->m_trayIcon.m_bBusy);
    EXPECT_FALSE(dlg->m_btnQuit.HasDisabledLook());
    // An operation prepared in the progress dialog marks this window busy at once.
    ASSERT_TRUE(dlg->m_pPageBox->m_pProgressDlg->InitOperation(FALSE, FALSE, L"x", TRUE, L"Q:", -1, -1));
    EXPECT_TRUE(dlg->m_trayIcon.m_bBusy);
    EXPECT_TRUE(dlg->m_btnQuit.HasDisabledLook());
    dlg->SetBusy(false);

    // Esc keys are swallowed; a timer whose parameter is 27 is not.
    MSG esc = {h, WM_KEYDOWN, VK_ESCAPE, 0};
    EXPECT_TRUE(dlg->PreTranslateMessage(&esc));
    MSG timer = {h, WM_TIMER, 27, 0};
    EXPECT_FALSE(dlg->PreTranslateMessage(&timer));

    // Alt+F4 (IDCANCEL) quits when idle.
    dlg->SendMessage(WM_COMMAND, IDCANCEL);
    EXPECT_FALSE(::IsWindow(h));
}

TEST_F(MainDialog, PanelOpensOnTheRightPageAndSwitchesSlots)
{
    // First start: the defaults were just written, so the backup page comes first.
    Open();
    CPageBox* box = dlg->m_pPageBox;
    EXPECT_EQ(CPageBox::PAGE_BACKUP, box->m_nCurPage);
    EXPECT_TRUE(box->GetSlotWnd(1)->IsWindowVisible());
    EXPECT_FALSE(box->m_dlgQuick.IsWindowVisible());
    EXPECT_TRUE(box->m_btnStart.IsWindowVisible());

    box->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PAGE_QUICK, BN_CLICKED), (LPARAM)box->m_btnPage[0].m_hWnd);
    EXPECT_EQ(CPageBox::PAGE_QUICK, box->m_nCurPage);
    EXPECT_TRUE(box->m_dlgQuick.IsWindowVisible());
    EXPECT_FALSE(box->GetSlotWnd(1)->IsWindowVisible());
    EXPECT_FALSE(box->m_btnStart.IsWindowVisible());
    EXPECT_FALSE(box->m_btnRestore.IsWindowVisible());

    // An empty slot still switches (the settings page is not part of this build).
    box->OnBnClickedSetPage();
    EXPECT_TRUE(box->GetSlotWnd(3)->IsWindowVisible());

    // An operation's window takes slot 1 and is what the backup page button shows.
    CWnd progress;
    ASSERT_TRUE(progress.CreateEx(0, AfxRegisterWndClass(0), L"", WS_CHILD, box->GetPageRect(), box, 0));
    box->SetSlotWnd(1, &progress);
    box->OnBnClickedBackupPage();
    EXPECT_TRUE(progress.IsWindowVisible());
    EXPECT_FALSE(box->GetPage(1)->PageWnd()->IsWindowVisible());
    box->RestoreSlot(1);
    EXPECT_FALSE(progress.IsWindowVisible());
    EXPECT_TRUE(box->GetPage(1)->PageWnd()->IsWindowVisible());
    progress.DestroyWindow();

    // A later start with settings in place opens on the quick-launch page.
    dlg->DestroyWindow();
    delete dlg;
    dlg = nullptr;
    Open();
    EXPECT_EQ(CPageBox::PAGE_QUICK, dlg->m_pPageBox->m_nCurPage);
}
