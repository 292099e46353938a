// The settings page and its three tabs on a private program folder: every click stores its one
// element and nothing else, what a tab shows is what the file holds, a click never loses the
// other settings, the next backup follows the tab, the Run value and the button watch follow
// the other-settings tab, and a language change reaches the open windows.

#include "BackUpEngine.h"
#include "BackUpThread.h"
#include "DataFiles.h"
#include "LanguageText.h"
#include "SetDialog.h"
#include "SettingsCommon.h"
#include "XmlDocument.h"
#include "backup_folders.h"
#include "settings_test_util.h"

#include <gtest/gtest.h>

using langtest::ReadBytes;
using langtest::WriteBytes;

namespace {

class PageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
        ::InitCommonControlsEx(&icc);
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName);
    }
    void TearDown() override { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName); }

    void OpenPage()
    {
        m_env.m_host.m_pPage = &m_page;
        ASSERT_TRUE(m_page.CreatePage(&m_env.m_main, 20, 20));
        m_page.ShowWindow(SW_SHOW);
        Pump(100);
    }
    HWND Item(CWnd& tab, UINT nID) { return ::GetDlgItem(tab.m_hWnd, nID); }
    // The stored file with one element's text replaced, as the writers save it.
    std::string WithElement(const std::string& bytes, const wchar_t* pszName, const wchar_t* pszValue)
    {
        CString strTmp = m_env.m_root / L"expected.xml";
        WriteBytes(strTmp, bytes);
        CXmlDocument doc;
        EXPECT_TRUE(doc.LoadFile(strTmp));
        doc.ResetPosition();
        EXPECT_TRUE(doc.FindChildElement(pszName));
        doc.SetChildData(pszValue);
        doc.SaveFile(strTmp);
        return ReadBytes(strTmp);
    }

    SettingsEnv m_env;
    CSetDialog m_page;
};

class LinesSink : public CFailSink {
public:
    void InsertStringAndSelect(const CString& strLine) override { m_lines.push_back(strLine); }
    std::vector<CString> m_lines;
};

bool SameTime(const FILETIME& a, const FILETIME& b) { return ::CompareFileTime(&a, &b) == 0; }

} // namespace

TEST_F(PageTest, StripShowsFourTabsAndSwapsTheirDialogs)
{
    OpenPage();
    const wchar_t* captions[4] = {L"Setting", L"Backup on schedule", L"File type", L"Others"};
    int nPrevRight = 0;
    for (int i = 0; i < 4; ++i) {
        CButtonST& b = m_page.TabButton(i);
        EXPECT_EQ(captions[i], b.GetWindowText());
        CRect rc;
        b.GetWindowRect(&rc);
        m_page.ScreenToClient(&rc);
        EXPECT_EQ(m_page.GetTabWidth(i), rc.Width() + 4);   // caption + 28 against caption + 24
        if (i > 0) {
            EXPECT_GE(rc.left, nPrevRight + 6);
        } else {
            EXPECT_EQ(2, rc.left);
        }
        nPrevRight = rc.right;
    }
    EXPECT_TRUE(m_page.m_dlgBackUpSet.IsWindowVisible());
    EXPECT_FALSE(m_page.m_dlgTiming.IsWindowVisible());

    Click(m_page.TabButton(CSetDialog::TAB_FILTER).m_hWnd);
    EXPECT_EQ(CSetDialog::TAB_FILTER, m_page.GetCurrentTab());
    EXPECT_FALSE(m_page.m_dlgBackUpSet.IsWindowVisible());
    EXPECT_TRUE(m_page.m_dlgOther.IsWindowVisible());
    EXPECT_TRUE(::IsWindowVisible(Item(m_page.m_dlgOther, IDC_TYPE_IMAGES)));
    EXPECT_FALSE(::IsWindowVisible(Item(m_page.m_dlgOther, IDC_AUTOSTART)));

    // The others tab keeps the same dialog window and only swaps its groups.
    HWND hOther = m_page.m_dlgOther.m_hWnd;
    Click(m_page.TabButton(CSetDialog::TAB_OTHER).m_hWnd);
    EXPECT_EQ(hOther, m_page.m_dlgOther.m_hWnd);
    EXPECT_TRUE(m_page.m_dlgOther.IsWindowVisible());
    EXPECT_FALSE(::IsWindowVisible(Item(m_page.m_dlgOther, IDC_TYPE_IMAGES)));
    EXPECT_TRUE(::IsWindowVisible(Item(m_page.m_dlgOther, IDC_LANGUAGE_COMBO)));

    // Enter and Esc anywhere on the page change nothing. (The autostart check has cleared the
    // box first: the Run value is missing here.)
    ASSERT_TRUE(PumpUntil([&] { return !m_page.m_dlgOther.m_chkAutoStart.GetCheckState(); }, 3000));
    std::string before = m_env.SettingsBytes();
    for (HWND h : {Item(m_page.m_dlgOther, IDC_AUTOSTART), m_page.TabButton(1).m_hWnd}) {
        PostKey(h, VK_ESCAPE);
        PostKey(h, VK_RETURN);
    }
    Pump(200);
    EXPECT_TRUE(m_page.IsWindowVisible());
    EXPECT_TRUE(m_page.m_dlgOther.IsWindowVisible());
    EXPECT_EQ(before, m_env.SettingsBytes());
}

TEST_F(PageTest, EveryBackupOptionClickStoresItsOneElement)
{
    OpenPage();
    CBackUpSetDialog& tab = m_page.m_dlgBackUpSet;
    EXPECT_EQ(0, tab.GetBackupFinish());
    EXPECT_EQ(1, tab.GetBackupStatus());
    EXPECT_TRUE(tab.Button(IDC_COMPRESS).GetCheckState());
    EXPECT_TRUE(tab.Button(IDC_FINISH_INFO).GetCheckState());

    struct {
        UINT nID;
        const wchar_t* pszElement;
        const wchar_t* pszValue;
    } clicks[] = {{IDC_FINISH_SHUTDOWN, L"BackupFinish", L"2"}, {IDC_FINISH_REBOOT, L"BackupFinish", L"3"},
                  {IDC_FINISH_MAINWND, L"BackupFinish", L"1"},  {IDC_STATUS_ALL, L"BackupStatus", L"0"},
                  {IDC_HIDE_FILES, L"HideBackupFiles", L"0"},   {IDC_MAKE_SURE, L"MakeSure", L"1"},
                  {IDC_COMPRESS, L"CompressFile", L"0"},        {IDC_STATUS_CHANGED, L"BackupStatus", L"1"}};
    for (const auto& c : clicks) {
        SCOPED_TRACE(CStringA(c.pszElement).GetString());
        std::string expected = WithElement(m_env.SettingsBytes(), c.pszElement, c.pszValue);
        Click(tab.Button(c.nID).m_hWnd);
        EXPECT_EQ(expected, m_env.SettingsBytes());
    }
    EXPECT_EQ(1, tab.GetBackupFinish());
    EXPECT_TRUE(tab.Button(IDC_FINISH_MAINWND).GetCheckState());
    EXPECT_FALSE(tab.Button(IDC_FINISH_REBOOT).GetCheckState());
    EXPECT_EQ(1, m_env.m_host.m_nHiddenUpdates);

    // The radio already checked writes nothing at all.
    FILETIME before = m_env.SettingsWriteTime();
    std::string bytes = m_env.SettingsBytes();
    ::Sleep(20);
    Click(tab.Button(IDC_FINISH_MAINWND).m_hWnd);
    Click(tab.Button(IDC_STATUS_CHANGED).m_hWnd);
    EXPECT_TRUE(SameTime(before, m_env.SettingsWriteTime()));
    EXPECT_EQ(bytes, m_env.SettingsBytes());
    EXPECT_EQ(0, m_env.m_host.m_nWriteFailures);
}

TEST_F(PageTest, StoredValuesTheTabCannotShowAreWrittenBackAsShown)
{
    // An odd finish action, an empty status, a word for a check, two settings missing.
    m_env.WriteSettingsBytes("<InitInfo>\r\n<BackupFinish>7</BackupFinish>\r\n<BackupStatus></BackupStatus>\r\n"
                             "<HideBackupFiles>yes</HideBackupFiles>\r\n<CompressFile>1</CompressFile>\r\n"
                             "<USBHotKey>1</USBHotKey>\r\n</InitInfo>\r\n");
    OpenPage();
    CBackUpSetDialog& tab = m_page.m_dlgBackUpSet;
    EXPECT_TRUE(tab.Button(IDC_FINISH_REBOOT).GetCheckState());
    EXPECT_EQ(L"3", m_env.Stored(L"BackupFinish"));
    EXPECT_TRUE(tab.Button(IDC_STATUS_CHANGED).GetCheckState());
    EXPECT_EQ(L"1", m_env.Stored(L"BackupStatus"));
    EXPECT_FALSE(tab.Button(IDC_HIDE_FILES).GetCheckState());
    EXPECT_EQ(L"0", m_env.Stored(L"HideBackupFiles"));
    EXPECT_EQ(L"0", m_env.Stored(L"MakeSure"));   // added, as the root's child
    EXPECT_EQ(L"", m_env.StoredAttribute(L"HotKey", L"VirtualKeyCode"));
    EXPECT_EQ(L"0", m_env.StoredAttribute(L"Sunday", L"IsSet"));
    EXPECT_EQ(L"00:00", m_env.StoredAttribute(L"Sunday", L"Timing"));
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(m_env.SettingsPath()));
    EXPECT_TRUE(doc.IsWellFormed());
    // The enclosure switch read at start-up sets the watch going.
    ASSERT_FALSE(m_env.m_host.m_watch.empty());
    EXPECT_TRUE(m_env.m_host.m_watch.back());
}

TEST_F(PageTest, ClickAfterTheFileWasDeletedLockedOrDamagedLosesNothing)
{
    OpenPage();
    CBackUpSetDialog& tab = m_page.m_dlgBackUpSet;
    CButtonST& makeSure = tab.Button(IDC_MAKE_SURE);

    ASSERT_TRUE(::DeleteFileW(m_env.SettingsPath()));
    Click(makeSure.m_hWnd);
    EXPECT_EQ(L"1", m_env.Stored(L"MakeSure"));
    EXPECT_EQ(L"1", m_env.Stored(L"CompressFile"));   // the defaults came back beside it

    std::string before = m_env.SettingsBytes();
    HANDLE h = ::CreateFileW(m_env.SettingsPath(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    Click(makeSure.m_hWnd);
    ::CloseHandle(h);
    EXPECT_EQ(before, m_env.SettingsBytes());
    EXPECT_EQ(1, makeSure.GetCheckState());   // the box shows what is stored
    EXPECT_EQ(1, m_env.m_host.m_nWriteFailures);

    const std::string damaged = "<InitInfo><MakeSure>1</MakeSure>";
    m_env.WriteSettingsBytes(damaged);
    Click(tab.Button(IDC_FINISH_SHUTDOWN).m_hWnd);
    Click(m_page.m_dlgTiming.m_chkDays[2].m_hWnd);
    Click(m_page.m_dlgOther.m_chkTypes[0].m_hWnd);
    EXPECT_EQ(damaged, m_env.SettingsBytes());
    EXPECT_EQ(0, tab.GetBackupFinish());
    EXPECT_TRUE(tab.Button(IDC_FINISH_INFO).GetCheckState());
    EXPECT_FALSE(tab.Button(IDC_FINISH_SHUTDOWN).GetCheckState());
    EXPECT_FALSE(m_page.m_dlgTiming.m_chkDays[2].GetCheckState());
    EXPECT_FALSE(m_page.m_dlgOther.m_chkTypes[0].GetCheckState());
    EXPECT_EQ(4, m_env.m_host.m_nWriteFailures);
}

TEST_F(PageTest, NextBackupFollowsTheTab)
{
    OpenPage();
    CString strSource = m_env.m_root / L"src";
    CString strTarget = m_env.m_root / L"dst";
    ASSERT_TRUE(langtest::MakeFolder(strSource));
    ASSERT_TRUE(langtest::MakeFolder(strTarget));
    ASSERT_TRUE(WriteBytes(strSource + L"\\a.txt", std::string(5000, 'a')));
    ASSERT_TRUE(testsupport::WritePathList(JoinPath(GetDataFolder(), kFullPathFile), {strSource}));
    CString strStored = strTarget + L"\\VEZORI\\" + strSource.Left(1) + strSource.Mid(2) + L"\\a.txt";

    HANDLE hPause = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    LinesSink sink;
    auto runBackup = [&] {
        CBackUpEngine engine;
        engine.Reset();
        engine.m_pFailList = &sink;
        engine.m_hPauseEvent = hPause;
        engine.m_strTargetRoot = strTarget;
        RunBackUpOrRestore(engine, g_strAppDir, GetDataFolder());
        return engine.m_nDoneFiles.load();
    };
    // Compression off in the tab: a plain copy.
    Click(m_page.m_dlgBackUpSet.Button(IDC_COMPRESS).m_hWnd);
    EXPECT_EQ(1, runBackup());
    EXPECT_TRUE(langtest::FileExists(strStored));
    EXPECT_FALSE(langtest::FileExists(strStored + L".zip"));
    // Only changed files (the default): nothing to copy now; all files: copied again, compressed.
    EXPECT_EQ(0, runBackup());
    Click(m_page.m_dlgBackUpSet.Button(IDC_STATUS_ALL).m_hWnd);
    Click(m_page.m_dlgBackUpSet.Button(IDC_COMPRESS).m_hWnd);
    EXPECT_EQ(1, runBackup());
    EXPECT_TRUE(langtest::FileExists(strStored + L".zip"));
    EXPECT_FALSE(langtest::FileExists(strStored));
    EXPECT_TRUE(sink.m_lines.empty());
    ::CloseHandle(hPause);
}

TEST_F(PageTest, ScheduleTabStoresDaysAndAddsMissingOnes)
{
    m_env.WriteSettingsBytes("<InitInfo>\r\n<Monday IsSet=\"1\" Timing=\"7:5\"/>\r\n<Tuesday IsSet=\"0\" "
                             "Timing=\"12:30\"/>\r\n</InitInfo>\r\n");
    OpenPage();
    CTimingSetDlg& tab = m_page.m_dlgTiming;
    EXPECT_EQ(L"7:5", tab.m_btnTimes[0].GetWindowText());   // shown as stored
    EXPECT_TRUE(tab.m_chkDays[0].GetCheckState());
    EXPECT_EQ(L"12:30", tab.m_btnTimes[1].GetWindowText());
    EXPECT_FALSE(tab.m_chkDays[1].GetCheckState());
    EXPECT_EQ(L"00:00", tab.m_btnTimes[6].GetWindowText());
    EXPECT_EQ(L"0", m_env.StoredAttribute(L"Sunday", L"IsSet"));
    EXPECT_EQ(L"00:00", m_env.StoredAttribute(L"Sunday", L"Timing"));

    std::string before = m_env.SettingsBytes();
    Click(tab.m_chkDays[1].m_hWnd);
    EXPECT_EQ(L"1", m_env.StoredAttribute(L"Tuesday", L"IsSet"));
    Click(tab.m_chkDays[1].m_hWnd);
    EXPECT_EQ(before, m_env.SettingsBytes());

    // Rows line up: the time column starts right of the widest day name for every row.
    CRect rc0, rc6;
    tab.m_btnTimes[0].GetWindowRect(&rc0);
    tab.m_btnTimes[6].GetWindowRect(&rc6);
    EXPECT_EQ(rc0.left, rc6.left);
    EXPECT_GT(rc6.top, rc0.top);
}

TEST_F(PageTest, OtherTabKeepsTheRunValueAndTheButtonWatchInStep)
{
    OpenPage();
    COtherSetDlg& tab = m_page.m_dlgOther;
    HKEY hRun = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_CURRENT_USER, kRunKeyPath, &hRun));
    auto runValue = [&]() -> CString {
        wchar_t buf[600] = {};
        DWORD cb = sizeof(buf) - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegQueryValueExW(hRun, kRunValueName, nullptr, &type, (BYTE*)buf, &cb) != ERROR_SUCCESS)
            return L"<none>";
        EXPECT_EQ((DWORD)REG_SZ, type);
        EXPECT_EQ((wcslen(buf) + 1) * sizeof(wchar_t), cb);   // the terminating null counted
        return buf;
    };

    // The defaults say "1" but the Run value is missing: the check clears the box.
    ASSERT_TRUE(PumpUntil([&] { return !tab.m_chkAutoStart.GetCheckState(); }, 3000));
    EXPECT_EQ(L"0", m_env.Stored(L"AutoStart"));

    Click(tab.m_chkAutoStart.m_hWnd);
    EXPECT_TRUE(tab.m_chkAutoStart.GetCheckState());
    EXPECT_EQ(L"1", m_env.Stored(L"AutoStart"));
    EXPECT_EQ(BuildLauncherCommand(), runValue());
    EXPECT_EQ(L'"', runValue()[0]);

    Click(tab.m_chkAutoStart.m_hWnd);
    EXPECT_EQ(L"<none>", runValue());
    EXPECT_EQ(L"0", m_env.Stored(L"AutoStart"));

    // Deleted outside the program: the box clears within about half a second, and the handle
    // count does not grow with the checks.
    Click(tab.m_chkAutoStart.m_hWnd);
    Pump(1200);
    DWORD nHandles = 0, nHandlesAfter = 0;
    BOOL bCounted = ::GetProcessHandleCount(::GetCurrentProcess(), &nHandles);
    Pump(3000);
    EXPECT_TRUE(tab.m_chkAutoStart.GetCheckState());
    if (bCounted && ::GetProcessHandleCount(::GetCurrentProcess(), &nHandlesAfter)) {
        EXPECT_LE(nHandlesAfter, nHandles + 2);
    }
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteValueW(hRun, kRunValueName));
    EXPECT_TRUE(PumpUntil([&] { return !tab.m_chkAutoStart.GetCheckState(); }, 1500));
    EXPECT_EQ(L"0", m_env.Stored(L"AutoStart"));
    ::RegCloseKey(hRun);

    // The enclosure-button switch stops and starts the watch and stores itself.
    size_t nCalls = m_env.m_host.m_watch.size();
    Click(tab.m_chkUsbHotKey.m_hWnd);
    EXPECT_EQ(L"0", m_env.Stored(L"USBHotKey"));
    Click(tab.m_chkUsbHotKey.m_hWnd);
    EXPECT_EQ(L"1", m_env.Stored(L"USBHotKey"));
    ASSERT_EQ(nCalls + 2, m_env.m_host.m_watch.size());
    EXPECT_FALSE(m_env.m_host.m_watch[nCalls]);
    EXPECT_TRUE(m_env.m_host.m_watch[nCalls + 1]);

    // File types: the four stored ones, and "Others" with its grey prompt that is never
    // handed out as extensions.
    Click(m_page.TabButton(CSetDialog::TAB_FILTER).m_hWnd);
    Click(tab.m_chkTypes[COtherSetDlg::TYPE_DATAS].m_hWnd);
    EXPECT_EQ(L"1", m_env.Stored(L"BackupDatas"));
    EXPECT_TRUE(IsExtensionInList(tab.GetTypeLabel(COtherSetDlg::TYPE_DATAS), L"docx"));
    Click(tab.m_chkTypes[COtherSetDlg::TYPE_OTHERS].m_hWnd);
    EXPECT_TRUE(tab.m_editExt.IsWindowEnabled());
    EXPECT_TRUE(tab.IsPromptShown());
    EXPECT_EQ(L"", tab.GetOtherExtensions());
    tab.m_editExt.SetFocus();
    Pump(50);
    EXPECT_FALSE(tab.IsPromptShown());
    tab.m_editExt.SetWindowText(L"iso,vhd");
    EXPECT_EQ(L"iso,vhd", tab.GetOtherExtensions());
}

TEST_F(PageTest, RunValueCheckLeavesTheBoxWhileTheRunKeyCannotBeOpened)
{
    OpenPage();
    COtherSetDlg& tab = m_page.m_dlgOther;
    ASSERT_TRUE(PumpUntil([&] { return !tab.m_chkAutoStart.GetCheckState(); }, 3000));
    Click(tab.m_chkAutoStart.m_hWnd);
    ASSERT_TRUE(tab.m_chkAutoStart.GetCheckState());
    ASSERT_EQ(L"1", m_env.Stored(L"AutoStart"));

    // The user's hive seen through an empty key of its own: the Run key is not there to open.
    HKEY hEmpty = nullptr;
    const wchar_t* kEmptyRoot = L"Software\\ZulTabsTestEmptyRoot";
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kEmptyRoot);
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_CURRENT_USER, kEmptyRoot, &hEmpty));
    ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CURRENT_USER, hEmpty));
    Pump(1600);   // three ticks of the check
    const int nState = tab.m_chkAutoStart.GetCheckState();
    const CString strStored = m_env.Stored(L"AutoStart");
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegCloseKey(hEmpty);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kEmptyRoot);
    EXPECT_TRUE(nState);
    EXPECT_EQ(L"1", strStored);
    EXPECT_EQ(0, m_env.m_host.m_nWriteFailures);

    // The key back, the value still there: the box stays on.
    Pump(1100);
    EXPECT_TRUE(tab.m_chkAutoStart.GetCheckState());
    EXPECT_EQ(L"1", m_env.Stored(L"AutoStart"));
}

TEST_F(PageTest, RunValueCheckReportsAStoreThatFailsOnceUntilOneSucceeds)
{
    OpenPage();
    COtherSetDlg& tab = m_page.m_dlgOther;
    HKEY hRun = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_CURRENT_USER, kRunKeyPath, &hRun));
    ASSERT_TRUE(PumpUntil([&] { return !tab.m_chkAutoStart.GetCheckState(); }, 3000));
    // Each report stays open for three ticks of the check (a report opened inside another one
    // is counted and closed at once, so that a fault cannot nest them without end).
    m_env.m_host.m_onWriteFailure = [&] {
        if (m_env.m_host.m_nReportsOpen == 1)
            Pump(1500);
    };

    // The second time the tab is hidden: its check goes on all the same.
    for (int nRound = 1; nRound <= 2; ++nRound) {
        SCOPED_TRACE(nRound);
        Click(m_page.TabButton(CSetDialog::TAB_OTHER).m_hWnd);
        Click(tab.m_chkAutoStart.m_hWnd);
        ASSERT_EQ(L"1", m_env.Stored(L"AutoStart"));
        if (nRound == 2)
            Click(m_page.TabButton(CSetDialog::TAB_BACKUP).m_hWnd);
        HANDLE h = ::CreateFileW(m_env.SettingsPath(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteValueW(hRun, kRunValueName));

        // The box clears at once; the "0" cannot be stored on any tick while the file is
        // locked, and that is reported once, one report at a time.
        EXPECT_TRUE(PumpUntil([&] { return m_env.m_host.m_nWriteFailures >= nRound; }, 3000));
        Pump(2000);
        EXPECT_FALSE(tab.m_chkAutoStart.GetCheckState());
        EXPECT_EQ(nRound, m_env.m_host.m_nWriteFailures);
        EXPECT_EQ(1, m_env.m_host.m_nMostReportsOpen);
        ::CloseHandle(h);

        // Once the file can be written again the "0" is stored after all, and a later failure
        // is reported anew.
        EXPECT_TRUE(PumpUntil([&] { return m_env.Stored(L"AutoStart") == L"0"; }, 3000));
    }
    EXPECT_EQ(2, m_env.m_host.m_nWriteFailures);
    m_env.m_host.m_onWriteFailure = nullptr;
    ::RegCloseKey(hRun);
}

TEST_F(PageTest, RunValueCheckOpensNoReportInsideAClicksAndReportsAgainAfterAClick)
{
    OpenPage();
    COtherSetDlg& tab = m_page.m_dlgOther;
    HKEY hRun = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_CURRENT_USER, kRunKeyPath, &hRun));
    ASSERT_TRUE(PumpUntil([&] { return !tab.m_chkAutoStart.GetCheckState(); }, 3000));
    Click(m_page.TabButton(CSetDialog::TAB_OTHER).m_hWnd);
    Click(tab.m_chkAutoStart.m_hWnd);
    ASSERT_EQ(L"1", m_env.Stored(L"AutoStart"));
    HANDLE h = ::CreateFileW(m_env.SettingsPath(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);

    // A type click on the locked file reports; while that report is open the Run value goes,
    // and the check, failing on the same file, opens nothing inside it nor after it.
    bool bDeleted = false;
    m_env.m_host.m_onWriteFailure = [&] {
        if (m_env.m_host.m_nReportsOpen != 1)
            return;
        if (!bDeleted) {
            bDeleted = true;
            EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteValueW(hRun, kRunValueName));
        }
        Pump(1500);
    };
    Click(m_page.TabButton(CSetDialog::TAB_FILTER).m_hWnd);
    Click(tab.m_chkTypes[COtherSetDlg::TYPE_IMAGES].m_hWnd);
    ASSERT_TRUE(bDeleted);
    EXPECT_FALSE(tab.m_chkAutoStart.GetCheckState());
    Pump(1500);
    EXPECT_EQ(1, m_env.m_host.m_nWriteFailures);
    EXPECT_EQ(1, m_env.m_host.m_nMostReportsOpen);

    // A click on the box while the file is still locked reports its own write; the check has
    // nothing left to store. A later failure of the check is its own again and is reported.
    Click(m_page.TabButton(CSetDialog::TAB_OTHER).m_hWnd);
    Click(tab.m_chkAutoStart.m_hWnd);
    EXPECT_TRUE(tab.m_chkAutoStart.GetCheckState());
    EXPECT_EQ(2, m_env.m_host.m_nWriteFailures);
    ::CloseHandle(h);
    Pump(1500);
    EXPECT_EQ(2, m_env.m_host.m_nWriteFailures);
    h = ::CreateFileW(m_env.SettingsPath(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    Click(m_page.TabButton(CSetDialog::TAB_BACKUP).m_hWnd);
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteValueW(hRun, kRunValueName));
    EXPECT_TRUE(PumpUntil([&] { return m_env.m_host.m_nWriteFailures >= 3; }, 3000));
    Pump(1500);
    EXPECT_EQ(3, m_env.m_host.m_nWriteFailures);
    EXPECT_EQ(1, m_env.m_host.m_nMostReportsOpen);
    ::CloseHandle(h);
    EXPECT_TRUE(PumpUntil([&] { return m_env.Stored(L"AutoStart") == L"0"; }, 3000));
    m_env.m_host.m_onWriteFailure = nullptr;
    ::RegCloseKey(hRun);
}

TEST_F(PageTest, LanguageChoiceSwitchesTheOpenWindows)
{
    OpenPage();
    COtherSetDlg& tab = m_page.m_dlgOther;
    Click(m_page.TabButton(CSetDialog::TAB_FILTER).m_hWnd);
    Click(tab.m_chkTypes[COtherSetDlg::TYPE_OTHERS].m_hWnd);   // the grey prompt shows
    ASSERT_TRUE(tab.IsPromptShown());
    int nOldWidth = m_page.GetTabWidth(CSetDialog::TAB_TIMING);

    int nIndex = tab.m_comboLanguage.FindStringExact(-1, L"\x7e41\x9ad4\x4e2d\x6587");   // Traditional Chinese
    ASSERT_GE(nIndex, 0);
    tab.m_comboLanguage.SetCurSel(nIndex);
    ::SendMessageW(tab.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_COMBO, CBN_SELCHANGE),
                   (LPARAM)tab.m_comboLanguage.m_hWnd);
    ASSERT_EQ(1u, m_env.m_host.m_languages.size());
    EXPECT_EQ(L"0x0404", m_env.m_host.m_languages[0]);
    EXPECT_EQ(L"0x0404", ReadLanguageSelect(g_strAppDir));
    // Every tab shows the table's texts.
    EXPECT_EQ(GetLanguageText(L"TimingBackup"), m_page.TabButton(CSetDialog::TAB_TIMING).GetWindowText());
    EXPECT_FALSE(GetLanguageText(L"TimingBackup").IsEmpty());
    EXPECT_NE(nOldWidth, m_page.GetTabWidth(CSetDialog::TAB_TIMING));
    EXPECT_EQ(GetLanguageText(L"Monday"), m_page.m_dlgTiming.m_chkDays[0].GetWindowText());
    EXPECT_EQ(GetLanguageText(L"Compress"), m_page.m_dlgBackUpSet.Button(IDC_COMPRESS).GetWindowText());
    EXPECT_EQ(GetLanguageText(L"Image"), tab.m_chkTypes[0].GetWindowText().Left(GetLanguageText(L"Image").GetLength()));
    // The prompt follows the language and is still not taken for extensions.
    EXPECT_EQ(GetLanguageText(L"EditPrompt"), tab.m_editExt.GetWindowText());
    EXPECT_EQ(L"", tab.GetOtherExtensions());

    // The entry already in force does nothing; a language without its table snaps back.
    ::SendMessageW(tab.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_COMBO, CBN_SELCHANGE),
                   (LPARAM)tab.m_comboLanguage.m_hWnd);
    EXPECT_EQ(1u, m_env.m_host.m_languages.size());
    ASSERT_TRUE(::DeleteFileW(g_strAppDir + L"Language\\0x0804.xml"));
    int nSimplified = tab.m_comboLanguage.FindStringExact(-1, L"\x7b80\x4f53\x4e2d\x6587");
    ASSERT_GE(nSimplified, 0);
    tab.m_comboLanguage.SetCurSel(nSimplified);
    ::SendMessageW(tab.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_COMBO, CBN_SELCHANGE),
                   (LPARAM)tab.m_comboLanguage.m_hWnd);
    EXPECT_EQ(nIndex, tab.m_comboLanguage.GetCurSel());
    EXPECT_EQ(1u, m_env.m_host.m_languages.size());
    EXPECT_EQ(L"0x0404", ReadLanguageSelect(g_strAppDir));
}
