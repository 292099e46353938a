// The page panel running real operations: a destination drive letter standing for a private
// folder, the two folder trees and the drive list on a host window, the real progress dialog
// and workers, fake bridge disks for disk copies, and a system double that records power
// requests. Prompts are answered through the prompt windows themselves.

#include "AppTestUtil.h"
#include "BackUpThread.h"
#include "BackUpTreeCtrl.h"
#include "DataFiles.h"
#include "PageBox.h"
#include "PanelPages.h"
#include "SetDialog.h"
#include "SettingsStore.h"
#include "USBDevice.h"
#include "UsbTreeCtrl.h"
#include "XmlDocument.h"
#include "backup_folders.h"
#include "tree_test_support.h"
#include "usb_fake_disk.h"
#include "wintest_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace treetest;

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

// Power requests instead of a power-off.
class CPowerRecorder : public ISystemIo {
public:
    CPowerRecorder() { SetSystemIoForTesting(this); }
    ~CPowerRecorder() override { SetSystemIoForTesting(nullptr); }
    struct Call {
        UINT uFlags;
        DWORD dwReason;
    };
    std::vector<Call> calls;
    BOOL ShutDown(UINT uFlags, DWORD dwReason) override
    {
        calls.push_back({uFlags, dwReason});
        return TRUE;
    }
    BOOL QuerySessionUserName(CString& s) override
    {
        s = L"user";
        return TRUE;
    }
};

// Answers every prompt that opens on this thread: notes its message, runs the script (which may
// act while the prompt is up) and presses the button the script returns (none for 0).
std::function<int(const CString&)> g_script;
std::vector<CString> g_messages;

BOOL CALLBACK FindPrompt(HWND hWnd, LPARAM lParam)
{
    if (::IsWindowVisible(hWnd) && ::GetDlgItem(hWnd, IDC_MAKESURE_OK) && !::GetPropW(hWnd, L"answered")) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerProc(HWND, UINT, UINT_PTR, DWORD)
{
    HWND hPrompt = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindPrompt, reinterpret_cast<LPARAM>(&hPrompt));
    if (!hPrompt)
        return;
    ::SetPropW(hPrompt, L"answered", (HANDLE)1);
    wchar_t szText[512] = {};
    ::GetDlgItemTextW(hPrompt, IDC_MAKESURE_MESSAGE, szText, 512);
    g_messages.push_back(szText);
    int nAnswer = g_script ? g_script(szText) : IDOK;
    if (nAnswer == 0)
        return;  // the script ended it some other way
    int nId = nAnswer == IDOK ? IDC_MAKESURE_OK : IDC_MAKESURE_CANCEL;
    ::PostMessageW(hPrompt, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)::GetDlgItem(hPrompt, nId));
}

const CString kSelectFiles = L"Please select files for backup!";
const CString kSelectTarget = L"Please select target disk for backup!";
const CString kStartBackup = L"Start backup now ?";
const CString kStartQuick = L"Start Quick backup ?";
const CString kStartCopy = L"Determine to copy the selected disk\uFF1F";
const CString kBackupDone = L"The backup for selected files has been finished !";

class PageBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strApp = m_root.Path() + L"\\app\\";
        m_strData = m_strApp + L"user";
        m_strSource = m_root / L"src";
        ASSERT_TRUE(MakeFolder(m_strApp));
        ASSERT_TRUE(MakeFolder(m_strData));
        ASSERT_TRUE(MakeFolder(m_strSource));
        g_strAppDir = m_strApp;
        g_strUserName = L"user";
        CXmlDocument settings;
        ASSERT_TRUE(WriteDefaultSettings(settings, m_strData));
        SaveInitValueIn(m_strData, L"MakeSure", L"0");
        SaveInitValueIn(m_strData, L"BackupFinish", L"0");
        for (int i = 0; i < 3; ++i) {
            CString strName;
            strName.Format(L"%ls\\f%d.txt", (const wchar_t*)m_strSource, i);
            ASSERT_TRUE(WriteBytes(strName, std::string(3000, (char)('a' + i))));
        }
        SelectForBackup(m_strSource);

        const CMappedDrive* pDrive = FreshDrive(L'P', &m_strDrive);
        ASSERT_NE(nullptr, pDrive) << "no drive letter can stand for a temporary folder here";
        m_strTarget = pDrive->Drive();
        m_shell.displayNames[(m_strTarget + L"\\").str()] = (L"(" + m_strTarget + L") Backup").str();
        m_shell.fileSystems[(m_strTarget + L"\\").str()] = L"NTFS";

        g_messages.clear();
        g_script = nullptr;
        m_nAnswerTimer = ::SetTimer(nullptr, 0, 30, AnswerProc);

        ASSERT_TRUE(m_host.CreateHost(0, 0, 1000, 700));
        const DWORD style = WS_CHILD | TVS_HASBUTTONS | TVS_CHECKBOXES;
        ASSERT_TRUE(m_source.Create(style, CRect(640, 0, 800, 300), &m_host, 1031));
        m_source.AttachImageLists();
        ASSERT_TRUE(m_dest.Create(style, CRect(800, 0, 990, 300), &m_host, 1032));
        m_dest.AttachImageLists();
        ASSERT_TRUE(m_combo.Create(WS_CHILD | CBS_DROPDOWNLIST, CRect(640, 320, 800, 500), &m_host, 1007));
        g_hSourceTreeWnd = m_source.m_hWnd;
        g_hDestTreeWnd = m_dest.m_hWnd;
        g_hDestComboWnd = m_combo.m_hWnd;
        m_source.InsertComputerItem();
    }

    void TearDown() override
    {
        if (m_nAnswerTimer)
            ::KillTimer(nullptr, m_nAnswerTimer);
        if (m_pBox) {
            if (m_pBox->m_pProgressDlg) {
                // A run that a failed case left held at a file goes on to its end.
                if (HANDLE hPause = m_pBox->m_pProgressDlg->m_engine.m_hPauseEvent)
                    ::SetEvent(hPause);
                EXPECT_TRUE(m_pBox->m_pProgressDlg->WaitForWorker(20000));
            }
            m_pBox->DestroyWindow();
            delete m_pBox;
        }
        g_app.m_pMainWnd = nullptr;
        g_hSourceTreeWnd = g_hDestTreeWnd = g_hDestComboWnd = nullptr;
        if (m_dest.m_hWnd)
            m_dest.DestroyWindow();
        if (m_source.m_hWnd)
            m_source.DestroyWindow();
        if (m_host.m_hWnd)
            m_host.DestroyWindow();
        RegisterPanelPage(CPageBox::PAGE_SETTINGS, nullptr);
        RegisterPanelPage(CPageBox::PAGE_BACKUP, nullptr);
        RegisterPanelPage(CPageBox::PAGE_MANAGE, nullptr);
        g_arrUSBDevice.RemoveAll();
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }

    // The panel on the backup page (bSettingsPage: with the real settings page).
    void OpenPanel(bool bSettingsPage = false)
    {
        if (bSettingsPage) {
            // The settings page alone: the trees and the drive list here are the test's own.
            InstallPanelPages();
            RegisterPanelPage(CPageBox::PAGE_BACKUP, nullptr);
            RegisterPanelPage(CPageBox::PAGE_MANAGE, nullptr);
        }
        g_bDefaultsWritten = 1;
        m_pBox = new CPageBox;
        ASSERT_TRUE(m_pBox->Create(CPageBox::IDD, &m_host));
        m_pBox->MoveWindow(0, 0, CPageBox::kWidth, CPageBox::kHeight);
        m_pBox->ShowWindow(SW_SHOW);
        g_app.m_pMainWnd = &m_host;
        m_host.SetForegroundWindow();
        ASSERT_NE(nullptr, m_pBox->m_pProgressDlg);
        EXPECT_EQ(CPageBox::PAGE_BACKUP, m_pBox->m_nCurPage);
    }

    // Something to back up, and the destination drive in the list and the tree.
    void SelectEverything()
    {
        m_source.SetCheck(m_source.GetRootItem(), TCS_CHECKED);
        ASSERT_TRUE(MakeFolder(m_strDrive + L"\\VEZORI"));
        m_combo.SetCurSel(m_combo.AddString(m_strTarget));
        m_dest.ShowDriveRoot(m_strTarget);
    }

    void SelectForBackup(const CString& strPath)
    {
        ASSERT_TRUE(testsupport::WritePathList(JoinPath(m_strData, kFullPathFile), {strPath}));
    }

    bool WaitForEnd() { return PumpUntil([&] { return m_pBox->m_pProgressDlg->m_nEnd != CPropressDlg::END_NONE; }, 30000); }

    // Every word of a panel at rest.
    void ExpectIdle()
    {
        EXPECT_EQ(0, m_pBox->m_bBackupRunning);
        EXPECT_EQ(0, m_pBox->m_bRestoreRunning);
        EXPECT_EQ(0, m_pBox->m_bQuickRunning);
        EXPECT_EQ(0, m_pBox->m_bPromptOpen);
        EXPECT_EQ(0, m_pBox->m_bStartedByKey);
        EXPECT_EQ(nullptr, m_pBox->m_pPrompt);
        for (int i = 0; i < CPageBox::PAGE_COUNT; ++i)
            EXPECT_TRUE(m_pBox->PageButton(i)->IsWindowEnabled());
        EXPECT_NE(m_pBox->m_pProgressDlg, m_pBox->GetSlotWnd(CPageBox::PAGE_BACKUP));
        EXPECT_NE(m_pBox->m_pProgressDlg, m_pBox->GetSlotWnd(CPageBox::PAGE_QUICK));
    }

    // Where the store on the destination keeps a copy of a file (C:\dir\f as <store>\C\dir\f).
    CString StorePathOf(const CString& strSourcePath) const
    {
        CString strRest = strSourcePath;
        strRest.Delete(1);
        return m_strDrive + L"\\VEZORI\\" + strRest;
    }

    CString StoredCopy(const CString& strName) const { return StorePathOf(m_strSource + L"\\" + strName); }

    // Stored copies of n small files of the folder strFolder (outside the backup selection),
    // as a backup would have left them.
    void FillStore(const CString& strFolder, int n)
    {
        const CString strStored = StorePathOf(strFolder);
        for (int nPos = strStored.Find(L'\\', 3); nPos > 0; nPos = strStored.Find(L'\\', nPos + 1))
            ASSERT_TRUE(MakeFolder(strStored.Left(nPos)));
        ASSERT_TRUE(MakeFolder(strStored));
        for (int i = 0; i < n; ++i) {
            CString strName;
            strName.Format(L"%ls\\r%03d.txt", (const wchar_t*)strStored, i);
            ASSERT_TRUE(WriteBytes(strName, std::string(512, (char)('a' + i % 26))));
        }
    }

    CTempDir m_root{L"pagebox"};
    CString m_strApp, m_strData, m_strSource, m_strDrive;
    CString m_strTarget;   // the destination drive standing for m_strDrive, "P:"
    CTreeImageLists m_lists;
    CFakeShell m_shell;
    CReportSink m_reports;
    CPowerRecorder m_power;
    UINT_PTR m_nAnswerTimer = 0;
    CHostWnd m_host;
    CBackUpTreeCtrl m_source;
    CUsbTreeCtrl m_dest;
    CComboBox m_combo;
    CPageBox* m_pBox = nullptr;
};

}  // namespace

TEST_F(PageBoxTest, FileTypeFilterTakesAudioFirstWithoutRepeatsAndNeverThePrompt)
{
    ASSERT_NO_FATAL_FAILURE(OpenPanel(true));
    m_pBox->m_strFileTypeFilter.Empty();
    m_pBox->AddFileTypeFilter(L"Audio:wmv,mp3,wma");
    m_pBox->AddFileTypeFilter(L"mp3,,iso");
    m_pBox->AddFileTypeFilter(L"X:");
    EXPECT_EQ(CString(L"wmv,mp3,wma,iso"), m_pBox->m_strFileTypeFilter);

    CSetDialog* pSet = dynamic_cast<CSetDialog*>(m_pBox->GetSlotWnd(CPageBox::PAGE_SETTINGS));
    ASSERT_NE(nullptr, pSet);
    COtherSetDlg& other = pSet->m_dlgOther;
    m_pBox->BuildFileTypeFilter();
    EXPECT_EQ(CString(), m_pBox->m_strFileTypeFilter);

    other.m_chkTypes[COtherSetDlg::TYPE_IMAGES].SetCheckState(1);
    other.m_chkTypes[COtherSetDlg::TYPE_AUDIOS].SetCheckState(1);
    m_pBox->BuildFileTypeFilter();
    EXPECT_EQ(CString(L"wmv,mp3,wma,bmp,jpg,png,jepg,jpeg"), m_pBox->m_strFileTypeFilter);

    // "Others" checked with an empty edit shows the grey prompt, which is no extension.
    // (the click reaches the box first, which checks itself, then the tab)
    other.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_TYPE_OTHERS, BN_CLICKED),
                      (LPARAM)other.m_chkTypes[COtherSetDlg::TYPE_OTHERS].m_hWnd);
    ASSERT_TRUE(other.IsTypeChecked(COtherSetDlg::TYPE_OTHERS));
    ASSERT_TRUE(other.IsPromptShown());
    m_pBox->BuildFileTypeFilter();
    EXPECT_EQ(CString(L"wmv,mp3,wma,bmp,jpg,png,jepg,jpeg"), m_pBox->m_strFileTypeFilter);
}

TEST_F(PageBoxTest, RefusedStartsShowTheirMessageAndClearEveryWord)
{
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    // Nothing selected, whether by click, key, schedule or quick page.
    m_pBox->OnBnClickedBackup();
    m_pBox->m_bStartedByKey = 1;
    m_pBox->OnBnClickedBackup();
    m_pBox->StartScheduledBackup();
    m_pBox->StartQuickBackup();
    EXPECT_EQ(std::vector<CString>(4, kSelectFiles), g_messages);
    ExpectIdle();

    // A fixed (unusable) source root counts as nothing selected for the schedule too.
    g_messages.clear();
    m_source.SetCheck(m_source.GetRootItem(), TCS_FIXED);
    m_pBox->StartScheduledBackup();
    EXPECT_EQ(std::vector<CString>{kSelectFiles}, g_messages);
    ExpectIdle();

    // Something selected, but no destination.
    g_messages.clear();
    m_source.SetCheck(m_source.GetRootItem(), TCS_CHECKED);
    m_pBox->OnBnClickedBackup();
    m_pBox->StartScheduledBackup();
    m_pBox->StartQuickBackup();
    EXPECT_EQ(std::vector<CString>(3, kSelectTarget), g_messages);
    ExpectIdle();

    // No destination tree items: nothing to restore from.
    g_messages.clear();
    m_pBox->OnBnClickedRestore();
    EXPECT_EQ(std::vector<CString>{L"No disk for restore!"}, g_messages);
    ExpectIdle();

    // A destination whose volume is unusable.
    g_messages.clear();
    SelectEverything();
    m_dest.SetCheck(m_dest.GetRootItem(), TCS_FIXED);
    m_pBox->m_bStartedByKey = 1;
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ(std::vector<CString>{
                  L"Target partition may not be formatted or be not usable, please reselect!"},
              g_messages);
    ExpectIdle();

    // Nothing checked for a restore.
    g_messages.clear();
    m_dest.SetCheck(m_dest.GetRootItem(), TCS_UNCHECKED);
    m_pBox->OnBnClickedRestore();
    EXPECT_EQ(std::vector<CString>{L"Please select files for restore!"}, g_messages);
    ExpectIdle();

    // Every start prompt answered Cancel: click (countdown), key, schedule, quick with MakeSure.
    g_messages.clear();
    SaveInitValueIn(m_strData, L"MakeSure", L"1");
    g_script = [](const CString&) { return IDCANCEL; };
    m_pBox->OnBnClickedBackup();
    m_pBox->m_bStartedByKey = 1;
    m_pBox->OnBnClickedBackup();
    m_pBox->StartScheduledBackup();
    m_pBox->StartQuickBackup();
    EXPECT_EQ((std::vector<CString>{kStartBackup, kStartBackup, kStartBackup, kStartQuick}), g_messages);
    ExpectIdle();
    EXPECT_FALSE(m_pBox->m_pProgressDlg->IsRunning());
    EXPECT_EQ(CPropressDlg::END_NONE, m_pBox->m_pProgressDlg->m_nEnd);
}

TEST_F(PageBoxTest, KeyStartedPromptWaitsForTheButtonAndDriveRemovalCancelsIt)
{
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    SelectEverything();
    // A drive removed while the key's prompt is up (a destination still listed) cancels it.
    int nCountDown = -1;
    g_script = [&](const CString& strMessage) {
        if (strMessage != kStartBackup || !m_pBox->m_pPrompt)
            return IDOK;
        nCountDown = m_pBox->m_pPrompt->m_bCountDown;
        m_pBox->ClosePromptForDrive();
        return 0;
    };
    m_pBox->m_bStartedByKey = 1;
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ(0, nCountDown);
    EXPECT_EQ(std::vector<CString>{kStartBackup}, g_messages);
    EXPECT_EQ(CPropressDlg::END_NONE, m_pBox->m_pProgressDlg->m_nEnd);
    ExpectIdle();

    // A second press of the enclosure button confirms it.
    g_messages.clear();
    g_script = [&](const CString& strMessage) {
        if (strMessage != kStartBackup || !m_pBox->m_pPrompt)
            return IDOK;
        m_pBox->ClosePrompt();
        return 0;
    };
    m_pBox->m_bStartedByKey = 1;
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ(0, m_pBox->m_bStartedByKey);
    EXPECT_EQ(1, m_pBox->m_bBackupRunning);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ((std::vector<CString>{kStartBackup, kBackupDone}), g_messages);
    ExpectIdle();

    // The start button follows the destination (or disk items for a disk copy); the restore
    // and quick-backup buttons follow the destination alone.
    m_dest.ShowDriveRoot(CString());
    m_pBox->EnableActionButtons(FALSE);
    EXPECT_FALSE(m_pBox->m_btnStart.GetTracking());
    EXPECT_FALSE(m_pBox->m_btnRestore.GetTracking());
    EXPECT_FALSE(m_pBox->m_dlgQuick.m_btnQuick.GetTracking());
    m_dest.InsertDeviceItem(7, L"Disk 7", TCS_UNCHECKED);
    m_pBox->EnableActionButtons(FALSE);
    EXPECT_FALSE(m_pBox->m_btnStart.GetTracking());
    m_dest.InsertDeviceItem(8, L"Disk 8", TCS_UNCHECKED);
    m_pBox->EnableActionButtons(FALSE);
    EXPECT_TRUE(m_pBox->m_btnStart.GetTracking());
    EXPECT_FALSE(m_pBox->m_btnRestore.GetTracking());
    m_pBox->EnableActionButtons(TRUE);
    EXPECT_TRUE(m_pBox->m_btnRestore.GetTracking());
    EXPECT_TRUE(m_pBox->m_dlgQuick.m_btnQuick.GetTracking());
}

TEST_F(PageBoxTest, NoSecondStartWhilePromptIsOpenOrOperationRuns)
{
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    SelectEverything();
    // Every other start tried while the click's prompt is up does nothing at all.
    struct Seen {
        int nPromptOpen = -1, nBackupRunning = -1, nStartedByKey = -1;
        size_t nMessages = 0;
    } seen;
    g_script = [&](const CString& strMessage) {
        if (strMessage != kStartBackup)
            return IDOK;
        m_pBox->m_bStartedByKey = 1;
        m_pBox->OnBnClickedBackup();
        m_pBox->StartScheduledBackup();
        m_pBox->StartQuickBackup();
        m_pBox->OnBnClickedRestore();
        seen.nPromptOpen = m_pBox->m_bPromptOpen;
        seen.nBackupRunning = m_pBox->m_bBackupRunning;
        seen.nStartedByKey = m_pBox->m_bStartedByKey;
        seen.nMessages = g_messages.size();
        return IDCANCEL;
    };
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ(1, seen.nPromptOpen);
    EXPECT_EQ(1, seen.nBackupRunning);
    EXPECT_EQ(0, seen.nStartedByKey);
    EXPECT_EQ(1u, seen.nMessages);
    ExpectIdle();

    // A running backup: no start of any kind gets through until it has ended.
    g_messages.clear();
    g_script = nullptr;
    m_pBox->StartQuickBackup();
    ASSERT_EQ(1, m_pBox->m_bBackupRunning);
    ASSERT_EQ(1, m_pBox->m_bQuickRunning);
    EXPECT_EQ(m_pBox->m_pProgressDlg, m_pBox->GetSlotWnd(CPageBox::PAGE_QUICK));
    for (int i = 0; i < CPageBox::PAGE_COUNT; ++i)
        EXPECT_FALSE(m_pBox->PageButton(i)->IsWindowEnabled());
    m_pBox->m_bStartedByKey = 1;
    m_pBox->OnBnClickedBackup();
    m_pBox->OnBnClickedRestore();
    m_pBox->StartScheduledBackup();
    m_pBox->StartQuickBackup();
    EXPECT_EQ(0, m_pBox->m_bStartedByKey);
    EXPECT_EQ(0, m_pBox->m_bRestoreRunning);
    EXPECT_TRUE(g_messages.empty());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(CPropressDlg::END_QUICK, m_pBox->m_pProgressDlg->m_nEnd);
    EXPECT_EQ(std::vector<CString>{kBackupDone}, g_messages);
    EXPECT_TRUE(FileExists(StoredCopy(L"f0.txt")) || FileExists(StoredCopy(L"f0.txt.zip")));
    ExpectIdle();
}

// "BackupFinish" after a backup from the backup page and after a quick backup: the page that
// follows and the power request (reason 4 after the backup page, 0 after the quick page).
struct FinishCase {
    bool bQuick;
    const wchar_t* pszFinish;
    int nPageAfter;
    UINT uFlags;  // 0: no power request
    DWORD dwReason;
};

class PageBoxFinishTest : public PageBoxTest, public ::testing::WithParamInterface<FinishCase> {};

TEST_P(PageBoxFinishTest, FinishingActionFollowsTheSetting)
{
    const FinishCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    SelectEverything();
    SaveInitValueIn(m_strData, L"BackupFinish", c.pszFinish);
    ::SetCurrentDirectoryW(m_root.Path());
    if (c.bQuick) {
        m_pBox->OnBnClickedQuickPage();
        m_pBox->StartQuickBackup();
    } else {
        m_pBox->OnBnClickedBackup();
    }
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(c.bQuick ? CPropressDlg::END_QUICK : CPropressDlg::END_BACKUP, m_pBox->m_pProgressDlg->m_nEnd);
    std::vector<CString> expected;
    if (!c.bQuick)
        expected.push_back(kStartBackup);
    expected.push_back(kBackupDone);
    EXPECT_EQ(expected, g_messages);
    EXPECT_EQ(c.nPageAfter, m_pBox->m_nCurPage);
    if (c.uFlags) {
        ASSERT_EQ(1u, m_power.calls.size());
        EXPECT_EQ(c.uFlags, m_power.calls[0].uFlags);
        EXPECT_EQ(c.dwReason, m_power.calls[0].dwReason);
    } else {
        EXPECT_TRUE(m_power.calls.empty());
    }
    wchar_t szDir[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szDir);
    EXPECT_EQ(0, CString(szDir).TrimRight(L'\\').CompareNoCase(CString(m_strApp).TrimRight(L'\\')));
    ExpectIdle();
    if (m_pBox->m_nCurPage == CPageBox::PAGE_BACKUP) {
        EXPECT_TRUE(m_pBox->m_btnStart.IsWindowVisible());
        EXPECT_TRUE(m_pBox->m_btnRestore.IsWindowVisible());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, PageBoxFinishTest,
    ::testing::Values(FinishCase{false, L"0", CPageBox::PAGE_BACKUP, 0, 0},
                      FinishCase{false, L"1", CPageBox::PAGE_QUICK, 0, 0},
                      FinishCase{false, L"2", CPageBox::PAGE_BACKUP, EWX_POWEROFF, 4},
                      FinishCase{false, L"3", CPageBox::PAGE_BACKUP, EWX_REBOOT, 4},
                      FinishCase{false, L"", CPageBox::PAGE_BACKUP, 0, 0},
                      FinishCase{true, L"0", CPageBox::PAGE_QUICK, 0, 0},
                      FinishCase{true, L"1", CPageBox::PAGE_QUICK, 0, 0},
                      FinishCase{true, L"2", CPageBox::PAGE_QUICK, EWX_POWEROFF, 0},
                      FinishCase{true, L"3", CPageBox::PAGE_QUICK, EWX_REBOOT, 0}));

TEST_F(PageBoxTest, CancelledRunsGiveFocusBackAndKeepTheStoreFolderAsSet)
{
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    SelectEverything();
    const bool bAttributes = DosAttributesWork(m_strDrive);
    const CString strStore = m_strTarget + L"\\VEZORI";

    // A backup cancelled at once: the start button gets the focus; the store is hidden.
    m_pBox->OnBnClickedBackup();
    ASSERT_TRUE(m_pBox->m_pProgressDlg->IsRunning());
    EXPECT_FALSE(m_pBox->m_btnStart.IsWindowVisible());
    m_pBox->m_pProgressDlg->OnBnClickedCancel();
    EXPECT_EQ(CPropressDlg::END_CANCELLED, m_pBox->m_pProgressDlg->m_nEnd);
    EXPECT_EQ(m_pBox->m_btnStart.m_hWnd, ::GetFocus());
    if (bAttributes) {
        EXPECT_TRUE(::GetFileAttributesW(strStore) & FILE_ATTRIBUTE_HIDDEN);
    }
    ExpectIdle();
    ASSERT_TRUE(m_pBox->m_pProgressDlg->WaitForWorker(20000));

    // A restore of the checked store, cancelled: the restore button gets the focus; with
    // "HideBackupFiles" off the store is shown again. The store holds many more files, so the
    // run is still at its files when it is held below.
    const int kStoredFiles = 300;
    ASSERT_NO_FATAL_FAILURE(FillStore(m_root / L"back", kStoredFiles));
    SaveInitValueIn(m_strData, L"HideBackupFiles", L"0");
    g_messages.clear();
    m_dest.ShowDriveRoot(m_strTarget);
    m_dest.ClickStateIcon(m_dest.GetRootItem());
    CPropressDlg* pProgress = m_pBox->m_pProgressDlg;
    m_pBox->OnBnClickedRestore();
    // The worker is under way: hold it at its next file, as the cancel button itself does first.
    // It removes its list at its very end, which only comes after the last of its files.
    ::ResetEvent(pProgress->m_engine.m_hPauseEvent);
    EXPECT_TRUE(pProgress->IsRunning());
    EXPECT_EQ(1, m_pBox->m_bRestoreRunning);
    EXPECT_TRUE(FileExists(m_strApp + kRestoreListFile))
        << (g_bBackUpThreadDone ? "the run had ended before it was held" : "the list is gone while the run lives");
    pProgress->OnBnClickedCancel();
    EXPECT_EQ((std::vector<CString>{L"Restore the selected files?", L"Cancel the restore operation?"}), g_messages);
    EXPECT_EQ(CPropressDlg::END_CANCELLED, pProgress->m_nEnd);
    EXPECT_EQ(m_pBox->m_btnRestore.m_hWnd, ::GetFocus());
    if (bAttributes) {
        EXPECT_FALSE(::GetFileAttributesW(strStore) & FILE_ATTRIBUTE_HIDDEN);
    }
    ExpectIdle();
    // The held run stopped among its files, and its list went with it.
    ASSERT_TRUE(pProgress->WaitForWorker(20000));
    EXPECT_LT(pProgress->m_engine.m_nDoneFiles.load(), kStoredFiles);
    EXPECT_FALSE(FileExists(m_strApp + kRestoreListFile));
    EXPECT_TRUE(m_power.calls.empty());

    // After a whole backup the store is hidden again, a file-management tree shows the target
    // as a fresh node to be listed again, and the destination tree shows the store.
    SaveInitValueIn(m_strData, L"HideBackupFiles", L"1");
    CInitTreeCtrl manage;
    ASSERT_TRUE(manage.Create(WS_CHILD | TVS_HASBUTTONS, CRect(0, 400, 200, 600), &m_host, 1050));
    g_hManageTreeWnd = manage.m_hWnd;
    HTREEITEM hOld = manage.InsertDriveItem(m_strTarget + L"\\", manage.InsertComputerItem(), 0);
    manage.ListFolder(hOld, m_strTarget + L"\\");
    ASSERT_TRUE(manage.IsItemListed(hOld));
    m_dest.ShowDriveRoot(CString());
    // (the trees took their check images from the selection files again after the restore)
    m_source.SetCheck(m_source.GetRootItem(), TCS_CHECKED);
    m_pBox->OnBnClickedBackup();
    ASSERT_TRUE(m_pBox->m_pProgressDlg->IsRunning());
    ASSERT_TRUE(WaitForEnd());
    g_hManageTreeWnd = nullptr;
    EXPECT_EQ(CPropressDlg::END_BACKUP, m_pBox->m_pProgressDlg->m_nEnd);
    HTREEITEM hNew = manage.FindListedItem(m_strTarget + L"\\");
    ASSERT_NE(nullptr, hNew);
    EXPECT_FALSE(manage.IsItemListed(hNew));
    EXPECT_EQ(L"(" + m_strTarget + L") Backup", manage.GetItemText(hNew));
    ASSERT_NE(nullptr, m_dest.GetDriveRootItem());
    EXPECT_NE(nullptr, m_dest.FindListedItem(m_strTarget + L"\\VEZORI\\"));
    if (bAttributes) {
        EXPECT_TRUE(::GetFileAttributesW(strStore) & FILE_ATTRIBUTE_HIDDEN);
    }
}

// Disk copies between fake bridge disks behind the two trees' device items.
class PageBoxDiskCopyTest : public PageBoxTest {
protected:
    void SetUp() override
    {
        PageBoxTest::SetUp();
        if (IsSkipped())
            return;
        g_hDeviceListMutex = ::CreateMutexW(nullptr, FALSE, nullptr);
        g_hDiskCopyPauseEvent = nullptr;
    }
    void TearDown() override
    {
        PageBoxTest::TearDown();
        if (g_hDeviceListMutex)
            ::CloseHandle(g_hDeviceListMutex);
        g_hDeviceListMutex = nullptr;
    }

    FakeDiskConfig& AddDisk(int n, ULONGLONG nSize, DWORD nBytesPerSector = 512)
    {
        FakeDiskConfig d;
        d.strDevicePath.Format(L"\\\\?\\usbstor#disk&ven_fake#panel%d#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
        CString name;
        name.Format(L"panel%d.img", n);
        d.strImagePath = m_images.Path(name);
        d.nDeviceNumber = n;
        d.geometry.MediaType = FixedMedia;
        d.geometry.TracksPerCylinder = 4;
        d.geometry.SectorsPerTrack = 8;
        d.geometry.BytesPerSector = nBytesPerSector;
        d.geometry.Cylinders.QuadPart = nSize / (4 * 8 * nBytesPerSector);
        d.nBlockLength = nBytesPerSector;
        EXPECT_TRUE(WritePatternImage(d.strImagePath, nSize, 0x2000 + n));
        m_stack.AddDisk(d);
        return m_stack.Disk(m_nDisks++);
    }

    // Disks 1 and 2 listed; device 1 chosen in the source tree, device 2 in the destination.
    void ChooseDisks(ULONGLONG nSource, ULONGLONG nTarget, DWORD nTargetSector = 512)
    {
        m_src = &AddDisk(1, nSource);
        m_dst = &AddDisk(2, nTarget, nTargetSector);
        CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
        ASSERT_EQ(2, g_arrUSBDevice.GetSize());
        SelectEverything();
        m_source.SetCheck(m_source.GetRootItem(), TCS_UNCHECKED);
        HTREEITEM s1 = m_source.InsertDeviceItem(1, L"Disk 1", TCS_UNCHECKED);
        m_source.InsertDeviceItem(2, L"Disk 2", TCS_UNCHECKED);
        m_dest.InsertDeviceItem(1, L"Disk 1", TCS_UNCHECKED);
        HTREEITEM d2 = m_dest.InsertDeviceItem(2, L"Disk 2", TCS_UNCHECKED);
        m_source.ClickStateIcon(s1);
        m_dest.ClickStateIcon(d2);
        ASSERT_EQ(1, m_source.m_nChosenDevice);
        ASSERT_EQ(2, m_dest.m_nChosenDevice);
    }

    TempFolder m_images;
    FakeDeviceStack m_stack;
    MessageCapture m_debug;
    size_t m_nDisks = 0;
    FakeDiskConfig* m_src = nullptr;
    FakeDiskConfig* m_dst = nullptr;
};

TEST_F(PageBoxDiskCopyTest, ADiskArrivingDuringThePromptStillClonesTheChosenDisks)
{
    const ULONGLONG nSize = 4 * 16384;
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    ASSERT_NO_FATAL_FAILURE(ChooseDisks(nSize, nSize));
    FakeDiskConfig& other = AddDisk(3, nSize);
    SaveInitValueIn(m_strData, L"BackupFinish", L"3");
    // While the question is up a disk arrives at the front of the list: every index moves.
    g_script = [&](const CString& strMessage) {
        if (strMessage == kStartCopy)
            g_arrUSBDevice.InsertAt(0, CUSBDevice(other.strDevicePath));
        return IDOK;
    };
    m_pBox->OnBnClickedBackup();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ((std::vector<CString>{kStartCopy, L"The disk copy has been completed!"}), g_messages);
    EXPECT_EQ(CPropressDlg::END_BACKUP, m_pBox->m_pProgressDlg->m_nEnd);
    std::vector<BYTE> src = ReadWholeFile(m_src->strImagePath);
    EXPECT_TRUE(src == ReadWholeFile(m_dst->strImagePath));
    EXPECT_FALSE(src == ReadWholeFile(other.strImagePath));
    ASSERT_EQ(1u, m_power.calls.size());
    EXPECT_EQ((UINT)EWX_REBOOT, m_power.calls[0].uFlags);
    ExpectIdle();
}

TEST_F(PageBoxDiskCopyTest, ChosenDiskGoneOrReplacedDuringThePromptIsRefused)
{
    const ULONGLONG nSize = 4 * 16384;
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    ASSERT_NO_FATAL_FAILURE(ChooseDisks(nSize, nSize));
    const std::vector<BYTE> before = ReadWholeFile(m_dst->strImagePath);
    const CString kGone = L"The selected disk is no longer attached, please reselect!";
    g_script = [&](const CString& strMessage) {
        if (strMessage == kStartCopy)
            g_arrUSBDevice.RemoveAt(1);
        return IDOK;
    };
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ((std::vector<CString>{kStartCopy, kGone}), g_messages);
    ExpectIdle();

    // Another disk under the same number is not the disk that was chosen.
    g_messages.clear();
    g_arrUSBDevice.RemoveAll();
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    FakeDiskConfig& stranger = AddDisk(4, nSize);
    g_script = [&](const CString& strMessage) {
        if (strMessage == kStartCopy) {
            CUSBDevice d(stranger.strDevicePath);
            d.m_nDeviceNumber = 2;
            g_arrUSBDevice[1] = d;
        }
        return IDOK;
    };
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ((std::vector<CString>{kStartCopy, kGone}), g_messages);
    ExpectIdle();
    EXPECT_EQ(CPropressDlg::END_NONE, m_pBox->m_pProgressDlg->m_nEnd);
    EXPECT_TRUE(before == ReadWholeFile(m_dst->strImagePath));
}

TEST_F(PageBoxDiskCopyTest, DisksOfDifferentSectorSizesAreRefusedBeforeThePrompt)
{
    const ULONGLONG nSize = 4 * 16384;
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    ASSERT_NO_FATAL_FAILURE(ChooseDisks(nSize, nSize, 4096));
    const std::vector<BYTE> before = ReadWholeFile(m_dst->strImagePath);
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ(std::vector<CString>{L"The two disks have different sector sizes (source 512 bytes, target 4096 bytes); "
                                   L"a disk cannot be cloned onto one of another sector size. Nothing was written."},
              g_messages);
    ExpectIdle();
    EXPECT_TRUE(before == ReadWholeFile(m_dst->strImagePath));
}

TEST_F(PageBoxDiskCopyTest, SelectionChecksAndAFailedCopyRunNoFinishingAction)
{
    const ULONGLONG nSize = 4 * 16384;
    ASSERT_NO_FATAL_FAILURE(OpenPanel());
    ASSERT_NO_FATAL_FAILURE(ChooseDisks(nSize, nSize - 16384));
    SaveInitValueIn(m_strData, L"BackupFinish", L"2");
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ(std::vector<CString>{L"Source disk's Capacity is greater than the target disk, please re-select"},
              g_messages);
    ExpectIdle();

    // Only one tree with a chosen device.
    g_messages.clear();
    m_dest.ClickStateIcon(m_dest.m_hChosenDeviceItem);
    ASSERT_EQ(-1, m_dest.m_nChosenDevice);
    m_pBox->OnBnClickedBackup();
    EXPECT_EQ(std::vector<CString>{kSelectTarget}, g_messages);
    ExpectIdle();

    // A target that fails to be written: failure message, slot back, no power-off.
    g_messages.clear();
    g_arrUSBDevice.RemoveAll();
    FakeDiskConfig& big = AddDisk(5, nSize);
    big.nFailWriteSector = 40;
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    HTREEITEM d5 = m_dest.InsertDeviceItem(5, L"Disk 5", TCS_UNCHECKED);
    m_dest.ClickStateIcon(d5);
    ASSERT_EQ(5, m_dest.m_nChosenDevice);
    m_pBox->OnBnClickedBackup();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ((std::vector<CString>{kStartCopy, L"The disk copy has failed!"}), g_messages);
    EXPECT_EQ(CPropressDlg::END_CANCELLED, m_pBox->m_pProgressDlg->m_nEnd);
    EXPECT_TRUE(m_power.calls.empty());
    EXPECT_EQ(m_pBox->m_btnStart.m_hWnd, ::GetFocus());
    ExpectIdle();
}
