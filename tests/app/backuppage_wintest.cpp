// The backup page hosted in a real page panel: what it lists at start (drives, backup disks,
// destination drives, check images from the selection file), disks arriving and going through
// WM_DEVICECHANGE, the weekly schedule on an injected clock (also while the last run's worker
// has not ended), and the enclosure button with and without an open start prompt.

#include "AppTestUtil.h"
#include "BackUpDialog.h"
#include "ButtonWatch.h"
#include "DataFiles.h"
#include "MakeSureDlg.h"
#include "PageBox.h"
#include "PanelPage.h"
#include "ProgressDlg.h"
#include "tree_test_support.h"
#include "usb_fake_disk.h"
#include "LangTestFolder.h"
#include "test_pump.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

// The page with the schedule's start requests counted. They are taken, or refused as the panel
// refuses a start while the last run ends, without the panel; or handed to the real panel.
class CCountingBackUpPage : public CBackUpDialog {
public:
    int nScheduled = 0;     // start requests
    int nRefusals = 0;      // how many of the next requests are refused
    bool bToPanel = false;

protected:
    bool OnScheduleDue() override
    {
        ++nScheduled;
        if (bToPanel)
            return CBackUpDialog::OnScheduleDue();
        if (nRefusals > 0) {
            --nRefusals;
            return false;
        }
        return true;
    }
};

class CTestPanelPage : public IPanelPage {
public:
    static CCountingBackUpPage* s_pPage;
    CTestPanelPage() { s_pPage = &m_dlg; }
    ~CTestPanelPage() override
    {
        m_dlg.DestroyWindow();
        if (s_pPage == &m_dlg)
            s_pPage = nullptr;
    }
    BOOL CreatePage(CPageBox* pPanel, const CRect& rc) override { return m_dlg.CreatePage(pPanel, rc); }
    CWnd* PageWnd() override { return &m_dlg; }
    void CheckDestination() override { m_dlg.CheckDestination(); }

private:
    CCountingBackUpPage m_dlg;
};
CCountingBackUpPage* CTestPanelPage::s_pPage = nullptr;

class CClock : public CSystemIoDouble {
public:
    CClock() : CSystemIoDouble(true) {}
    SYSTEMTIME now = {};
    void Set(int y, int mo, int d, int dow, int h, int mi, int s = 0)
    {
        now = {};
        now.wYear = (WORD)y;
        now.wMonth = (WORD)mo;
        now.wDay = (WORD)d;
        now.wDayOfWeek = (WORD)dow;
        now.wHour = (WORD)h;
        now.wMinute = (WORD)mi;
        now.wSecond = (WORD)s;
    }
    void GetLocalTime(SYSTEMTIME* p) override { *p = now; }
};

// Counts the prompts the panel opens on this thread (each start the page hands it shows one:
// its question or the message of a refusal), notes whether the start was a key's and its text,
// and cancels. A prompt showing strConfirm is confirmed instead, and not counted.
struct CPromptCounter {
    CPageBox* panel = nullptr;
    int nStarts = 0;
    int nStartsByKey = 0;
    int nPageAtStart = -1;
    std::vector<CString> messages;
    CString strConfirm;
} g_promptCounter;

BOOL CALLBACK FindPanelPrompt(HWND hWnd, LPARAM lParam)
{
    if (::IsWindowVisible(hWnd) && ::GetDlgItem(hWnd, IDC_MAKESURE_CANCEL) && !::GetPropW(hWnd, L"counted")) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK CountAndCancelPrompt(HWND, UINT, UINT_PTR, DWORD)
{
    HWND hPrompt = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindPanelPrompt, reinterpret_cast<LPARAM>(&hPrompt));
    if (!hPrompt)
        return;
    ::SetPropW(hPrompt, L"counted", (HANDLE)1);
    wchar_t szText[512] = {};
    ::GetDlgItemTextW(hPrompt, IDC_MAKESURE_MESSAGE, szText, 512);
    if (!g_promptCounter.strConfirm.IsEmpty() && g_promptCounter.strConfirm == szText) {
        ::PostMessageW(hPrompt, WM_COMMAND, MAKEWPARAM(IDC_MAKESURE_OK, BN_CLICKED),
                       (LPARAM)::GetDlgItem(hPrompt, IDC_MAKESURE_OK));
        return;
    }
    g_promptCounter.messages.push_back(szText);
    ++g_promptCounter.nStarts;
    if (g_promptCounter.panel) {
        g_promptCounter.nStartsByKey += g_promptCounter.panel->m_bStartedByKey ? 1 : 0;
        g_promptCounter.nPageAtStart = g_promptCounter.panel->m_nCurPage;
    }
    ::PostMessageW(hPrompt, WM_COMMAND, MAKEWPARAM(IDC_MAKESURE_CANCEL, BN_CLICKED),
                   (LPARAM)::GetDlgItem(hPrompt, IDC_MAKESURE_CANCEL));
}

CString InterfacePath(int n)
{
    CString s;
    s.Format(L"\\\\?\\usbstor#disk&ven_fake&prod_disk#%04d#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
    return s;
}

// The first letter the system itself reports (a fake disk's volume must carry a real letter).
wchar_t FirstSystemLetter()
{
    wchar_t buf[512] = {};
    ::GetLogicalDriveStringsW(511, buf);
    return buf[0];
}

CUSBDevice ListedDisk(int n, const wchar_t* pszProduct, const wchar_t* pszLetters)
{
    CUSBDevice d(InterfacePath(n));
    d.m_nDeviceNumber = n;
    d.m_strProductName = pszProduct;
    d.m_strDriveLetters = pszLetters;
    return d;
}

// The fake disks with every read of a thread other than this one held until Release: a disk
// copy's worker stays alive, in the middle of its copy, for as long as the test wants.
class CHeldReads : public IDeviceIo {
public:
    explicit CHeldReads(FakeDeviceStack& disks) : m_disks(disks) { SetDeviceIoForTesting(this); }
    ~CHeldReads() override
    {
        Release();
        SetDeviceIoForTesting(&m_disks);
        ::CloseHandle(m_hGate);
        ::CloseHandle(m_hReached);
    }
    void Release() { ::SetEvent(m_hGate); }
    // True once a read is being held.
    bool WaitUntilHeld() { return ::WaitForSingleObject(m_hReached, 20000) == WAIT_OBJECT_0; }

    HANDLE OpenDevice(const wchar_t* p, DWORD a, DWORD s, DWORD d, DWORD f) override
    {
        return m_disks.OpenDevice(p, a, s, d, f);
    }
    BOOL IoControl(HANDLE h, DWORD c, void* i, DWORD ni, void* o, DWORD no, DWORD* pn) override
    {
        return m_disks.IoControl(h, c, i, ni, o, no, pn);
    }
    void EnumDiskInterfaces(std::vector<DiskInterfaceInfo>& a) override { m_disks.EnumDiskInterfaces(a); }
    BOOL ReadDevice(HANDLE h, void* p, DWORD n, DWORD* pn) override
    {
        if (::GetCurrentThreadId() != m_dwTestThread) {
            ::SetEvent(m_hReached);
            ::WaitForSingleObject(m_hGate, INFINITE);
        }
        return m_disks.ReadDevice(h, p, n, pn);
    }
    BOOL WriteDevice(HANDLE h, const void* p, DWORD n, DWORD* pn) override { return m_disks.WriteDevice(h, p, n, pn); }
    BOOL SeekDevice(HANDLE h, ULONGLONG n) override { return m_disks.SeekDevice(h, n); }
    void EnumVolumes(std::vector<CString>& a) override { m_disks.EnumVolumes(a); }

private:
    FakeDeviceStack& m_disks;
    const DWORD m_dwTestThread = ::GetCurrentThreadId();
    HANDLE m_hGate = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_hReached = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

using testsupport::PumpUntil;

class BackUpPage : public ::testing::Test {
protected:
    langtest::TempFolder m_app{L"bpage"};
    TempFolder m_images;
    FakeDeviceStack m_stack;
    MessageCapture m_messages;
    CShellIoTable m_shell;
    treetest::CTreeImageLists m_lists;
    CClock m_clock;
    CWnd m_host;
    CPageBox* m_panel = nullptr;
    CCountingBackUpPage* m_page = nullptr;

    void SetUp() override
    {
        g_strAppDir = m_app.Dir();
        g_strUserName = L"tester";
        ::CreateDirectoryW(GetDataFolder(), nullptr);
        g_arrUSBDevice.RemoveAll();
        g_bScheduleFired = 0;
        g_bUSBHotKey = 0;
        g_bBackupButtonPressed = 0;
        g_bDefaultsWritten = 0;
        RegisterPanelPage(CPageBox::PAGE_BACKUP, [] { return std::make_unique<CTestPanelPage>(); });
        AddDrive(L"D:\\", DRIVE_FIXED, L"Data (D:)");
    }
    void TearDown() override
    {
        delete m_panel;
        if (m_host.m_hWnd)
            m_host.DestroyWindow();
        RegisterPanelPage(CPageBox::PAGE_BACKUP, nullptr);
        g_arrUSBDevice.RemoveAll();
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }

    void AddDrive(const wchar_t* pszRoot, UINT type, const wchar_t* pszName, const wchar_t* pszFs = L"NTFS")
    {
        DriveFacts f;
        f.type = type;
        f.displayName = pszName;
        f.fileSystem = pszFs;
        m_shell.drives[pszRoot] = f;
    }
    void AddFakeDisk(int n, const wchar_t* pszVolumes)
    {
        FakeDiskConfig d;
        d.strDevicePath = InterfacePath(n);
        CString name;
        name.Format(L"disk%d.img", n);
        d.strImagePath = m_images.Path(name);
        d.nDeviceNumber = n;
        d.product = "Disk" + std::to_string(n);
        d.volumes = pszVolumes;
        ASSERT_TRUE(WritePatternImage(d.strImagePath, 64 * 1024, n));
        m_stack.AddDisk(d);
    }
    void Open()
    {
        ASSERT_TRUE(m_host.CreateEx(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, CRect(0, 0, 700, 420), nullptr, 0));
        m_panel = new CPageBox;
        ASSERT_TRUE(m_panel->Create(CPageBox::IDD, &m_host));
        m_page = CTestPanelPage::s_pPage;
        ASSERT_NE(nullptr, m_page);
        ASSERT_TRUE(m_page->m_hWnd);
        // The tests tick the page themselves.
        m_page->KillTimer(CBackUpDialog::kTimerId);
    }

    void SendDeviceChange(UINT nEvent, const CString& strPath)
    {
        std::vector<BYTE> buf(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + (strPath.GetLength() + 1) * sizeof(wchar_t));
        auto* p = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buf.data());
        p->dbcc_size = (DWORD)buf.size();
        p->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        wcscpy(p->dbcc_name, strPath);
        m_page->SendMessage(WM_DEVICECHANGE, nEvent, (LPARAM)p);
    }

    // Text of the top-level items of a tree, item data in brackets.
    static std::vector<std::wstring> TopItems(CTreeCtrl& tree)
    {
        std::vector<std::wstring> v;
        for (HTREEITEM h = tree.GetRootItem(); h; h = tree.GetNextSiblingItem(h)) {
            CString s;
            s.Format(L"%ls[%d]", tree.GetItemText(h).GetString(), (int)tree.GetItemData(h));
            v.push_back(s.GetString());
        }
        return v;
    }
    static std::vector<std::wstring> Children(CTreeCtrl& tree, HTREEITEM hParent)
    {
        std::vector<std::wstring> v;
        for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h))
            v.push_back(tree.GetItemText(h).GetString());
        return v;
    }
    std::vector<std::wstring> ComboEntries()
    {
        std::vector<std::wstring> v;
        for (int i = 0; i < m_page->m_cbDest.GetCount(); ++i) {
            CString s;
            m_page->m_cbDest.GetLBText(i, s);
            v.push_back(s.GetString());
        }
        return v;
    }
    std::wstring ComboSelection()
    {
        int n = m_page->m_cbDest.GetCurSel();
        CString s;
        if (n >= 0)
            m_page->m_cbDest.GetLBText(n, s);
        return s.GetString();
    }
    std::vector<int> ListedNumbers()
    {
        std::vector<int> v;
        for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i)
            v.push_back(g_arrUSBDevice[i].m_nDeviceNumber);
        return v;
    }
    HTREEITEM DriveItem(wchar_t ch)
    {
        CTreeCtrl& t = m_page->m_treeSource;
        for (HTREEITEM h = t.GetChildItem(m_page->m_treeSource.m_hRootItem); h; h = t.GetNextSiblingItem(h))
            if (TreeDriveLetter(t.GetItemData(h)) == ch)
                return h;
        return nullptr;
    }
    void WriteSettings(const char* pszWeekdays)
    {
        ASSERT_TRUE(langtest::WriteBytes(JoinPath(GetDataFolder(), kSettingsFile),
                                         std::string("<InitInfo>\r\n<MakeSure>0</MakeSure>\r\n") + pszWeekdays +
                                             "<USBHotKey>0</USBHotKey>\r\n</InitInfo>\r\n"));
    }
    void Tick() { m_page->OnTimer(CBackUpDialog::kTimerId); }
};

} // namespace

TEST_F(BackUpPage, StartListsSourceDrivesDisksAndDestinationsWithCheckImagesFromTheSelection)
{
    const wchar_t chBridge = FirstSystemLetter();
    CString strBridgeRoot;
    strBridgeRoot.Format(L"%lc:\\", chBridge);
    AddDrive(strBridgeRoot, DRIVE_FIXED, L"Backup disk");   // a bridge volume: never a source
    AddDrive(L"E:\\", DRIVE_CDROM, L"DVD (E:)");
    AddDrive(L"F:\\", DRIVE_REMOTE, L"Share (F:)");
    AddDrive(L"G:\\", DRIVE_FIXED, L"Raw (G:)", L"");       // no file system: fixed
    AddDrive(L"H:\\", DRIVE_FIXED, L"Name without a letter");
    AddFakeDisk(3, std::wstring(1, chBridge).c_str());
    // Drives in the selection file in the opposite order of the tree: H:\ whole, D:\ in part.
    ASSERT_TRUE(langtest::WriteBytes(JoinPath(GetDataFolder(), kTreePathFile),
                                     "<filepath>\r\n<path path=\"H:\\\">\r\n</path>\r\n<path path=\"D:\\\">\r\n"
                                     "<path path=\"Docs\\\">\r\n</path>\r\n</path>\r\n</filepath>\r\n"));
    Open();

    CBackUpTreeCtrl& src = m_page->m_treeSource;
    EXPECT_EQ(g_hSourceTreeWnd, src.m_hWnd);
    EXPECT_EQ(g_hDestTreeWnd, m_page->m_treeDest.m_hWnd);
    EXPECT_EQ(g_hDestComboWnd, m_page->m_cbDest.m_hWnd);
    EXPECT_NE(nullptr, g_hDeviceListMutex);

    EXPECT_EQ((std::vector<std::wstring>{L"Data (D:)", L"Raw (G:)", L"Name without a letter"}),
              Children(src, src.m_hRootItem));
    ASSERT_TRUE(DriveItem(L'D') && DriveItem(L'G') && DriveItem(L'H'));
    EXPECT_EQ((DWORD_PTR)(L'H' << 8), src.GetItemData(DriveItem(L'H')));   // the letter of the drive itself
    EXPECT_EQ((DWORD_PTR)((L'G' << 8) + 2), src.GetItemData(DriveItem(L'G')));
    EXPECT_EQ(TCS_FIXED, src.GetCheck(DriveItem(L'G')));
    EXPECT_EQ(TCS_MIXED, src.GetCheck(DriveItem(L'D')));
    EXPECT_EQ(TCS_CHECKED, src.GetCheck(DriveItem(L'H')));

    std::vector<std::wstring> top = TopItems(src);
    ASSERT_EQ(2u, top.size());
    EXPECT_EQ(L"WDC     Disk3( 3 )[6]", top[1]);
    std::vector<std::wstring> dest = TopItems(m_page->m_treeDest);
    ASSERT_EQ(2u, dest.size());   // the destination's drive root, then the disk
    EXPECT_EQ(L"WDC     Disk3( 3 )[6]", dest[1]);
    EXPECT_EQ(std::vector<std::wstring>{std::wstring(1, chBridge) + L":"}, ComboEntries());
    EXPECT_EQ(std::wstring(1, chBridge) + L":", ComboSelection());
    EXPECT_EQ(std::vector<int>{3}, ListedNumbers());
    EXPECT_EQ(1, m_page->m_treeDest.m_bRestoreMode);
}

TEST_F(BackUpPage, ArrivalAddsADiskOnceAndRemovalTakesAllItsLettersButKeepsAnotherDisksDestination)
{
    const wchar_t chNew = FirstSystemLetter();
    const std::wstring strNew = std::wstring(1, chNew) + L":";
    g_arrUSBDevice.Add(ListedDisk(1, L"Alpha", L"R: S: "));
    g_arrUSBDevice.Add(ListedDisk(4, L"Beta", L"T: "));
    Open();
    EXPECT_EQ((std::vector<std::wstring>{L"R:", L"S:", L"T:"}), ComboEntries());
    EXPECT_EQ(L"R:", ComboSelection());

    AddFakeDisk(2, std::wstring(1, chNew).c_str());
    for (int nRepeat = 0; nRepeat < 2; ++nRepeat) {
        SendDeviceChange(DBT_DEVICEARRIVAL, InterfacePath(2));
        EXPECT_EQ((std::vector<int>{1, 2, 4}), ListedNumbers()) << nRepeat;
        std::vector<std::wstring> src = TopItems(m_page->m_treeSource);
        ASSERT_EQ(4u, src.size()) << nRepeat;
        EXPECT_EQ(L"Alpha( 1 )[4]", src[1]);
        EXPECT_EQ(L"WDC     Disk2( 2 )[5]", src[2]);
        EXPECT_EQ(L"Beta( 4 )[7]", src[3]);
        std::vector<std::wstring> dst = TopItems(m_page->m_treeDest);
        ASSERT_EQ(4u, dst.size()) << nRepeat;   // drive root R:, 1, 2, 4
        EXPECT_EQ(L"WDC     Disk2( 2 )[5]", dst[2]);
        std::vector<std::wstring> combo = ComboEntries();
        EXPECT_EQ(4u, combo.size()) << nRepeat;
        EXPECT_EQ(1, (int)std::count(combo.begin(), combo.end(), strNew)) << nRepeat;
    }
    EXPECT_EQ(1, m_page->m_bCurDeviceValid);

    // A foreign disk changes nothing.
    SendDeviceChange(DBT_DEVICEARRIVAL, InterfacePath(9));
    EXPECT_EQ(0, m_page->m_bCurDeviceValid);
    EXPECT_EQ((std::vector<int>{1, 2, 4}), ListedNumbers());

    // The destination is on disk 4; disk 1 (two letters) goes, its path reported in other case.
    m_page->m_cbDest.SetCurSel(m_page->m_cbDest.FindStringExact(-1, L"T:"));
    m_page->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BACKUP_DEST_COMBO, CBN_SELCHANGE), (LPARAM)m_page->m_cbDest.m_hWnd);
    m_page->m_treeSource.m_nChosenDevice = 1;
    CString strUpper = InterfacePath(1);
    strUpper.MakeUpper();
    SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, strUpper);
    EXPECT_EQ((std::vector<int>{2, 4}), ListedNumbers());
    EXPECT_EQ((std::vector<std::wstring>{strNew, L"T:"}), ComboEntries());
    EXPECT_EQ(L"T:", ComboSelection());
    EXPECT_EQ(L"T:\\", std::wstring(m_page->m_treeDest.m_strRootPath.GetString()));
    EXPECT_EQ(-1, m_page->m_treeSource.m_nChosenDevice);
    EXPECT_EQ(1, m_page->m_treeSource.m_nDeviceReset);
    EXPECT_EQ(3u, TopItems(m_page->m_treeSource).size());
    EXPECT_EQ(3u, TopItems(m_page->m_treeDest).size());

    // Now the disk of the destination goes: the first remaining entry is chosen.
    SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, InterfacePath(4));
    EXPECT_EQ((std::vector<int>{2}), ListedNumbers());
    EXPECT_EQ(std::vector<std::wstring>{strNew}, ComboEntries());
    EXPECT_EQ(strNew, ComboSelection());

    // An unknown path and a notification without data change nothing.
    SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, InterfacePath(7));
    EXPECT_EQ(FALSE, m_page->SendMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));
    EXPECT_EQ((std::vector<int>{2}), ListedNumbers());
}

TEST_F(BackUpPage, ScheduleFiresOnceOnItsDateAndMinuteAndWaitsWhileAnythingElseRuns)
{
    // Sunday is last in the file; Wednesday is due at 08:05.
    WriteSettings("<Monday IsSet=\"0\" Timing=\"08:05\"/>\r\n<Wednesday IsSet=\"1\" Timing=\"08:05\"/>\r\n"
                  "<Sunday IsSet=\"1\" Timing=\"23:59\"/>\r\n");
    Open();
    m_clock.Set(2026, 12, 9, 3, 8, 4);
    Tick();
    EXPECT_EQ(0, m_page->nScheduled);

    // The minute comes while a prompt is open, then while a restore runs: nothing starts ...
    m_clock.Set(2026, 12, 9, 3, 8, 5, 1);
    m_panel->m_bPromptOpen = 1;
    Tick();
    m_panel->m_bPromptOpen = 0;
    m_panel->m_bRestoreRunning = 1;
    Tick();
    m_panel->m_bBackupRunning = 1;
    m_panel->m_bRestoreRunning = 0;
    Tick();
    EXPECT_EQ(0, m_page->nScheduled);
    // ... and the schedule fires later in the same minute, once.
    m_panel->m_bBackupRunning = 0;
    m_clock.Set(2026, 12, 9, 3, 8, 5, 30);
    Tick();
    Tick();
    EXPECT_EQ(1, m_page->nScheduled);
    EXPECT_EQ(1, g_bScheduleFired);
    m_clock.Set(2026, 12, 9, 3, 8, 6);
    Tick();
    EXPECT_EQ(1, m_page->nScheduled);

    // The clock goes back an hour and passes 08:05 again on the same date.
    m_clock.Set(2026, 12, 9, 3, 8, 5, 10);
    Tick();
    EXPECT_EQ(1, m_page->nScheduled);

    // A week later it fires again; Sunday is found although it is the last element.
    m_clock.Set(2026, 12, 16, 3, 8, 5);
    Tick();
    EXPECT_EQ(2, m_page->nScheduled);
    m_clock.Set(2026, 12, 20, 0, 23, 59);
    Tick();
    EXPECT_EQ(3, m_page->nScheduled);

    // A time written without its leading zero never matches.
    WriteSettings("<Wednesday IsSet=\"1\" Timing=\"8:05\"/>\r\n");
    m_clock.Set(2026, 12, 23, 3, 8, 5);
    Tick();
    EXPECT_EQ(3, m_page->nScheduled);
    // Nor does a day that is not set, or a missing settings file.
    WriteSettings("<Wednesday IsSet=\"0\" Timing=\"08:05\"/>\r\n");
    m_clock.Set(2026, 12, 30, 3, 8, 5);
    Tick();
    ::DeleteFileW(JoinPath(GetDataFolder(), kSettingsFile));
    m_clock.Set(2027, 1, 6, 3, 8, 5);
    Tick();
    EXPECT_EQ(3, m_page->nScheduled);
}

TEST_F(BackUpPage, ScheduleRefusedWhileTheLastRunEndsIsAskedForAgainInItsMinuteAndThenFiresOnce)
{
    WriteSettings("<Wednesday IsSet=\"1\" Timing=\"08:05\"/>\r\n");
    Open();
    m_clock.Set(2026, 12, 9, 3, 8, 5);
    Tick();
    ASSERT_EQ(1, m_page->nScheduled);
    ASSERT_EQ(1, g_bScheduleFired);

    // A week later the first two requests are refused: each following tick asks again (the
    // schedule has fired before, so the minute's stamp is there), until one is taken.
    m_page->nRefusals = 2;
    m_clock.Set(2026, 12, 16, 3, 8, 5, 0);
    Tick();
    m_clock.Set(2026, 12, 16, 3, 8, 5, 1);
    Tick();
    EXPECT_EQ(3, m_page->nScheduled);
    m_clock.Set(2026, 12, 16, 3, 8, 5, 2);
    Tick();
    EXPECT_EQ(4, m_page->nScheduled);
    Tick();
    m_clock.Set(2026, 12, 16, 3, 8, 6);
    Tick();
    m_clock.Set(2026, 12, 16, 3, 8, 5, 30);
    Tick();
    EXPECT_EQ(4, m_page->nScheduled);

    // Refused all through its minute: the next minute asks nothing; the next week fires.
    m_page->nRefusals = 1000;
    m_clock.Set(2026, 12, 23, 3, 8, 5, 0);
    Tick();
    m_clock.Set(2026, 12, 23, 3, 8, 5, 59);
    Tick();
    EXPECT_EQ(6, m_page->nScheduled);
    m_page->nRefusals = 0;
    m_clock.Set(2026, 12, 23, 3, 8, 6);
    Tick();
    EXPECT_EQ(6, m_page->nScheduled);
    m_clock.Set(2026, 12, 30, 3, 8, 5);
    Tick();
    Tick();
    EXPECT_EQ(7, m_page->nScheduled);
}

TEST_F(BackUpPage, ScheduleDueWhileACancelledCopysWorkerStillRunsStartsOnceTheWorkerHasEnded)
{
    const wchar_t chDest = FirstSystemLetter();
    AddFakeDisk(1, L"");
    AddFakeDisk(2, L"");
    AddFakeDisk(3, std::wstring(1, chDest).c_str());
    WriteSettings("<Wednesday IsSet=\"1\" Timing=\"08:05\"/>\r\n");
    Open();
    ASSERT_EQ((std::vector<int>{1, 2, 3}), ListedNumbers());
    m_page->bToPanel = true;

    // A disk copy from disk 1 to disk 2, held in its first read, is cancelled: the panel is idle
    // again, but the copy's worker has not ended.
    CPropressDlg& progress = *m_panel->m_pProgressDlg;
    CHeldReads held(m_stack);
    struct CEndWorker {
        CHeldReads& held;
        CPropressDlg& progress;
        ~CEndWorker()
        {
            held.Release();
            progress.WaitForWorker(20000);
        }
    } endWorker{held, progress};
    ASSERT_TRUE(progress.InitOperation(TRUE, FALSE, L"Disk copy", TRUE, CString(), 0, 1));
    ASSERT_TRUE(progress.StartOperation());
    ASSERT_TRUE(held.WaitUntilHeld());
    g_promptCounter = CPromptCounter();
    g_promptCounter.panel = m_panel;
    g_promptCounter.strConfirm = progress.m_strCancelDiskCopy;
    UINT_PTR nAnswer = ::SetTimer(nullptr, 0, 50, CountAndCancelPrompt);
    progress.OnBnClickedCancel();
    ASSERT_EQ(CPropressDlg::END_CANCELLED, progress.m_nEnd);
    EXPECT_EQ(0, m_panel->m_bBackupRunning);
    EXPECT_EQ(0, m_panel->m_bPromptOpen);
    ASSERT_TRUE(progress.IsWorkerAlive());
    // Something to back up (the cancel gave the trees their stored checks again), and a
    // destination: a start that is taken asks its question.
    m_page->m_treeSource.SetCheck(m_page->m_treeSource.GetRootItem(), TCS_CHECKED);
    ASSERT_FALSE(ComboSelection().empty());

    // The due minute's ticks while the worker lives start nothing and use up nothing.
    m_clock.Set(2026, 12, 9, 3, 8, 5, 0);
    Tick();
    m_clock.Set(2026, 12, 9, 3, 8, 5, 1);
    Tick();
    EXPECT_EQ(2, m_page->nScheduled);
    EXPECT_EQ(0, g_promptCounter.nStarts);
    EXPECT_EQ(0, g_bScheduleFired);

    // Once the worker has ended, the next tick of that minute starts the backup, once.
    held.Release();
    ASSERT_TRUE(progress.WaitForWorker(20000));
    m_clock.Set(2026, 12, 9, 3, 8, 5, 40);
    Tick();
    Tick();
    ::KillTimer(nullptr, nAnswer);
    EXPECT_EQ(3, m_page->nScheduled);
    EXPECT_EQ(std::vector<CString>{m_panel->m_strBackupPrompt}, g_promptCounter.messages);
    EXPECT_EQ(1, g_bScheduleFired);
    EXPECT_EQ(0, m_panel->m_bBackupRunning);
    EXPECT_EQ(0, m_panel->m_bPromptOpen);
}

TEST_F(BackUpPage, ButtonPressStartsOneBackupAndASecondPressConfirmsItsPrompt)
{
    Open();
    // A press while a start prompt is up confirms that prompt.
    m_panel->m_bBackupRunning = 1;
    m_panel->m_bPromptOpen = 1;
    g_bBackupButtonPressed = 1;
    m_page->SetTimer(CBackUpDialog::kTimerId, CBackUpDialog::kTimerMs);
    CMakeSureDlg prompt(L"Tips", L"Start the backup?", 0);
    EXPECT_TRUE(m_panel->RunPrompt(prompt));
    m_panel->m_bPromptOpen = 0;
    m_panel->m_bBackupRunning = 0;
    EXPECT_EQ(0, g_bBackupButtonPressed);

    // A press on an idle panel starts once, as a key's start, on the backup page.
    g_promptCounter = CPromptCounter();
    g_promptCounter.panel = m_panel;
    UINT_PTR nAnswer = ::SetTimer(nullptr, 0, 50, CountAndCancelPrompt);
    m_panel->OnBnClickedQuickPage();
    g_bBackupButtonPressed = 1;
    ASSERT_TRUE(PumpUntil([&] { return g_promptCounter.nStarts > 0 && !m_panel->m_bPromptOpen; }, 15000));
    EXPECT_EQ(1, g_promptCounter.nStarts);
    EXPECT_EQ(1, g_promptCounter.nStartsByKey);
    EXPECT_EQ(CPageBox::PAGE_BACKUP, g_promptCounter.nPageAtStart);
    PumpUntil([] { return false; }, 700);
    EXPECT_EQ(1, g_promptCounter.nStarts);
    m_page->KillTimer(CBackUpDialog::kTimerId);

    // A press while a restore runs waits; it starts nothing until the restore has ended.
    m_panel->m_bRestoreRunning = 1;
    g_bBackupButtonPressed = 1;
    Tick();
    EXPECT_EQ(1, g_promptCounter.nStarts);
    m_panel->m_bRestoreRunning = 0;
    Tick();
    ::KillTimer(nullptr, nAnswer);
    EXPECT_EQ(2, g_promptCounter.nStarts);

    // A start the panel refuses leaves no key start behind.
    EXPECT_EQ(0, m_panel->m_bStartedByKey);
    EXPECT_EQ(0, g_bBackupButtonPressed);
}
