// The main program end to end: the real main window with its pages over a bridge disk whose
// volume is a drive letter of the prefix, the enclosure's button in the chip model, and a system
// that records the finishing action instead of carrying it out. Each road starts where a user
// starts it (the enclosure button, the hot key, the schedule, a click) and ends with the files in
// the store, the result shown and the finishing action recorded.

#include "road_harness.h"

#include "AppTestUtil.h"
#include "ButtonWatch.h"
#include "DataFiles.h"
#include "ProgressDlg.h"
#include "QuickDialog.h"
#include "SettingsStore.h"
#include "USBDevice.h"

#include <gtest/gtest.h>

using road::CPromptHand;
using road::CRoadScene;
using road::PumpUntil;

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

const wchar_t kStartQuestion[] = L"Start backup now ?";
const wchar_t kBackupDone[] = L"The backup for selected files has been finished !";
const wchar_t kRestoreDone[] = L"The restore for selected files has been finished ";
const wchar_t kCancelQuestion[] = L"Cancel the backup operation?";

class Road : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scene.drive->IsMapped()) << Narrow(scene.drive->Error()); }

    CPageBox* Panel() { return scene.Panel(); }
    CPropressDlg* Progress() { return Panel()->m_pProgressDlg; }
    CString Drive() { return scene.drive->Drive(); }
    CString Docs() { return scene.strSource + L"\\docs"; }
    CString StoredDocs() { return road::StorePath(Drive(), Docs()); }

    // Source files, the main window, and the folder checked in the source tree.
    void OpenWithDocs(int nFiles, size_t nSize)
    {
        scene.MakeSourceFiles(nFiles, nSize, L"docs");
        ASSERT_TRUE(scene.Open());
        ASSERT_NE(nullptr, road::SourceTree()) << "the backup page is not there";
        ASSERT_EQ(Drive(), road::DestinationText());
        ASSERT_TRUE(road::CheckSourcePath(Docs()));
    }

    // Nothing runs, nothing is being started, no worker is left.
    bool Idle()
    {
        CPageBox* p = Panel();
        return !p->m_bBackupRunning && !p->m_bRestoreRunning && !p->m_bQuickRunning && !p->m_bPromptOpen &&
               !p->m_pPrompt && !Progress()->IsRunning() && !Progress()->IsWorkerAlive();
    }
    // Waits for the end of the operation that runs.
    // The prompts the hand met, for a failure's message.
    std::string SeenMessages()
    {
        std::string str;
        for (const CPromptHand::Seen& seen : scene.hand.seen)
            str += "\n  \"" + Narrow(seen.message) + "\"";
        return str;
    }
    bool WaitForEnd(DWORD nMs = 30000)
    {
        return PumpUntil([&] { return Progress()->m_nEnd != CPropressDlg::END_NONE && Idle(); }, nMs);
    }
    void ExpectIdle()
    {
        CPageBox* p = Panel();
        EXPECT_EQ(0, p->m_bBackupRunning);
        EXPECT_EQ(0, p->m_bRestoreRunning);
        EXPECT_EQ(0, p->m_bQuickRunning);
        EXPECT_EQ(0, p->m_bPromptOpen);
        EXPECT_EQ(0, p->m_bStartedByKey);
        EXPECT_EQ(nullptr, p->m_pPrompt);
        EXPECT_FALSE(Progress()->IsWorkerAlive());
        // The backup page is back in its slot.
        EXPECT_NE(static_cast<CWnd*>(Progress()), p->GetSlotWnd(CPageBox::PAGE_BACKUP));
    }
    void PressHotKey() { scene.Main()->SendMessage(WM_HOTKEY, ID_BACKUP_HOTKEY, 0); }
    void ClickPanel(UINT nId) { Panel()->SendMessage(WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), 0); }

    // The stored docs: compressed copies carry ".zip" and start with the marker word.
    void ExpectStoredDocs(int nFiles, bool bCompressed)
    {
        auto stored = road::ListFiles(StoredDocs());
        ASSERT_EQ((size_t)nFiles, stored.size());
        for (int i = 0; i < nFiles; ++i) {
            CString strName;
            strName.Format(bCompressed ? L"f%03d.txt.zip" : L"f%03d.txt", i);
            EXPECT_EQ(strName, stored[i].first);
            std::string bytes = langtest::ReadBytes(StoredDocs() + L"\\" + strName);
            CString strSource;
            strSource.Format(L"%ls\\f%03d.txt", Docs().GetString(), i);
            if (bCompressed) {
                ASSERT_GE(bytes.size(), 4u);
                EXPECT_EQ(std::string(4, '\xFF'), bytes.substr(0, 4));
                EXPECT_LT(bytes.size(), langtest::ReadBytes(strSource).size());
            } else {
                EXPECT_TRUE(langtest::ReadBytes(strSource) == bytes) << Narrow(strName);
            }
        }
    }

    CRoadScene scene;
};

}  // namespace

// The scene itself: the mapped letter reaches its folder and belongs to the bridge disk; the
// backup page lists the letter as the destination and both disks in both trees, never the
// bridge volume as a source; the main window comes up hidden.
TEST_F(Road, SceneMapsTheDiskVolumeIntoTheBackupPage)
{
    const CString strRoot = scene.drive->Root();
    ASSERT_TRUE(langtest::WriteBytes(strRoot + L"probe.txt", "probe"));
    EXPECT_EQ("probe", langtest::ReadBytes(scene.strTargetFolder + L"\\probe.txt"));
    ::DeleteFileW(strRoot + L"probe.txt");

    CArray<CUSBDevice> list;
    CUSBDevice::EnumUSBDevices(list);
    ASSERT_EQ(2, list.GetSize());
    EXPECT_EQ(CRoadScene::kDiskNumber, list[0].m_nDeviceNumber);
    EXPECT_EQ(Drive() + L" ", list[0].GetDriveLetters());
    EXPECT_EQ(CString(), list[1].GetDriveLetters());

    ASSERT_TRUE(scene.Open());
    EXPECT_FALSE(scene.Main()->IsWindowVisible());
    EXPECT_EQ(Drive(), road::DestinationText());
    CBackUpTreeCtrl* pSource = road::SourceTree();
    ASSERT_NE(nullptr, pSource);
    pSource->Expand(pSource->m_hRootItem, TVE_EXPAND);
    EXPECT_NE(nullptr, pSource->FindListedItem(L"C:\\"));
    EXPECT_EQ(nullptr, pSource->FindListedItem(scene.drive->Root()));
    int nDisks = 0;
    for (CBackUpTreeCtrl* pTree : {pSource, static_cast<CBackUpTreeCtrl*>(road::DestTree())})
        for (HTREEITEM h = pTree->GetRootItem(); h; h = pTree->GetNextSiblingItem(h))
            nDisks += CBackUpTreeCtrl::IsDeviceItemData(pTree->GetItemData(h));
    EXPECT_EQ(4, nDisks);
    EXPECT_EQ(1, g_usbDevList.nCount);   // the enclosure is watched
}

// The enclosure button: the first press brings the main window up on the backup page with the
// start prompt (no countdown), a second press confirms it; the files arrive as compressed
// copies, the result is shown, the quick page's last-backup time is set and the computer is
// powered off with the backup page's reason code.
TEST_F(Road, EnclosureButtonTwiceBacksUpCompressedAndPowersOff)
{
    ASSERT_TRUE(scene.SetSetting(L"BackupFinish", L"2"));
    OpenWithDocs(3, 9000);
    EXPECT_EQ(CString(), ReadLastBackupTime(scene.strData));
    Panel()->OnBnClickedQuickPage();

    bool bVisibleAtPrompt = false;
    int nPageAtPrompt = -1;
    scene.hand.script = [&](const CPromptHand::Seen& s) {
        if (s.message != kStartQuestion)
            return CPromptHand::OK;
        bVisibleAtPrompt = scene.Main()->IsWindowVisible() != FALSE;
        nPageAtPrompt = Panel()->m_nCurPage;
        return CPromptHand::LEAVE;
    };
    // While the prompt is up: let go of the first press, then press again.
    scene.hand.whileOpen = [&](const CPromptHand::Seen&, DWORD ms) {
        if (ms < 400)
            scene.ReleaseButton();
        else if (ms < 1400)
            scene.PressButton();
        else
            scene.ReleaseButton();
    };
    scene.ClickButton();
    ASSERT_TRUE(WaitForEnd());

    ASSERT_GE(scene.hand.seen.size(), 2u);
    EXPECT_EQ(CString(kStartQuestion), scene.hand.seen[0].message);
    EXPECT_FALSE(scene.hand.seen[0].bCountDown);
    EXPECT_TRUE(bVisibleAtPrompt);
    EXPECT_EQ(CPageBox::PAGE_BACKUP, nPageAtPrompt);
    EXPECT_EQ(CString(kBackupDone), scene.hand.seen[1].message);
    EXPECT_EQ(2u, scene.hand.seen.size()) << "one backup only";
    EXPECT_EQ(CPropressDlg::END_BACKUP, Progress()->m_nEnd);
    ExpectStoredDocs(3, true);
    EXPECT_NE(CString(), ReadLastBackupTime(scene.strData));
    ASSERT_EQ(1u, scene.system.calls.size());
    EXPECT_EQ((UINT)EWX_POWEROFF, scene.system.calls[0].uFlags);
    EXPECT_EQ(4u, scene.system.calls[0].dwReason);
    ExpectIdle();
}

// The hot key: the prompt without countdown, answered on the prompt; plain copies when
// "CompressFile" is off; "BackupFinish" 1 shows the quick page and powers nothing off.
TEST_F(Road, HotKeyBacksUpPlainCopiesAndReturnsToTheQuickPage)
{
    ASSERT_TRUE(scene.SetSetting(L"CompressFile", L"0"));
    ASSERT_TRUE(scene.SetSetting(L"BackupFinish", L"1"));
    OpenWithDocs(4, 5000);
    PressHotKey();
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(2u, scene.hand.seen.size()) << SeenMessages();
    EXPECT_EQ(CString(kStartQuestion), scene.hand.seen[0].message);
    EXPECT_FALSE(scene.hand.seen[0].bCountDown);
    EXPECT_EQ(CString(kBackupDone), scene.hand.seen[1].message);
    EXPECT_TRUE(scene.Main()->IsWindowVisible());
    ExpectStoredDocs(4, false);
    EXPECT_EQ(CPageBox::PAGE_QUICK, Panel()->m_nCurPage);
    EXPECT_TRUE(scene.system.calls.empty());
    ExpectIdle();

    // A second run copies nothing twice: unchanged files are skipped, the store stays whole.
    scene.hand.seen.clear();
    PressHotKey();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(scene.hand.Saw(kBackupDone));
    ExpectStoredDocs(4, false);
}

// The weekly schedule with the clock of the system seam: the due minute of an enabled day
// brings the prompt up once; "BackupFinish" 3 restarts the computer.
TEST_F(Road, ScheduleAtItsMinuteBacksUpOnceAndRestarts)
{
    ASSERT_TRUE(scene.SetSetting(L"BackupFinish", L"3"));
    ASSERT_TRUE(WriteSucceeded(SaveDayIsSet(L"Monday", true)));
    ASSERT_TRUE(WriteSucceeded(SaveDayTiming(L"Monday", 8, 5)));
    // Monday 7 December 2026, one minute early.
    scene.system.SetClock(2026, 12, 7, 1, 8, 4);
    OpenWithDocs(2, 4000);
    road::Pump(600);
    EXPECT_TRUE(scene.hand.seen.empty());

    scene.system.SetClock(2026, 12, 7, 1, 8, 5);
    ASSERT_TRUE(PumpUntil([&] { return !scene.hand.seen.empty(); }, 3000));
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(2u, scene.hand.seen.size()) << SeenMessages();
    EXPECT_EQ(CString(kStartQuestion), scene.hand.seen[0].message);
    EXPECT_FALSE(scene.hand.seen[0].bCountDown);
    EXPECT_EQ(CString(kBackupDone), scene.hand.seen[1].message);
    ExpectStoredDocs(2, true);
    ASSERT_EQ(1u, scene.system.calls.size());
    EXPECT_EQ((UINT)EWX_REBOOT, scene.system.calls[0].uFlags);
    EXPECT_EQ(4u, scene.system.calls[0].dwReason);

    // The rest of the minute starts nothing more.
    road::Pump(800);
    EXPECT_EQ(2u, scene.hand.seen.size()) << SeenMessages();
    ExpectIdle();
}

// A click on the start button: the prompt counts down and confirms by itself at zero;
// "BackupFinish" 0 stays on the backup page.
TEST_F(Road, StartButtonCountdownConfirmsByItself)
{
    OpenWithDocs(2, 3000);
    Panel()->OnBnClickedBackupPage();
    scene.hand.script = [&](const CPromptHand::Seen& s) {
        if (s.message != kStartQuestion)
            return CPromptHand::OK;
        road::RunCountDown(s.hWnd);
        return CPromptHand::LEAVE;
    };
    ClickPanel(IDC_ACTION_START);
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(2u, scene.hand.seen.size()) << SeenMessages();
    EXPECT_TRUE(scene.hand.seen[0].bCountDown);
    EXPECT_EQ(CString(kBackupDone), scene.hand.seen[1].message);
    ExpectStoredDocs(2, true);
    EXPECT_EQ(CPageBox::PAGE_BACKUP, Panel()->m_nCurPage);
    EXPECT_TRUE(scene.system.calls.empty());
    ExpectIdle();
}

// A restore: the store is checked in the destination tree and the restore button brings the
// compressed copies back to where they came from, byte for byte; no finishing action.
TEST_F(Road, RestoreBringsCompressedCopiesBack)
{
    ASSERT_TRUE(scene.SetSetting(L"BackupFinish", L"2"));
    OpenWithDocs(3, 20000);
    std::vector<std::string> original;
    for (auto& f : road::ListFiles(Docs()))
        original.push_back(langtest::ReadBytes(Docs() + L"\\" + f.first));
    PressHotKey();
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(1u, scene.system.calls.size());
    for (auto& f : road::ListFiles(Docs()))
        ASSERT_TRUE(::DeleteFileW(Docs() + L"\\" + f.first));

    scene.hand.seen.clear();
    Panel()->OnBnClickedBackupPage();
    ASSERT_TRUE(road::CheckDestPath(StoredDocs()));
    ClickPanel(IDC_ACTION_RESTORE);
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(2u, scene.hand.seen.size()) << SeenMessages();
    EXPECT_EQ(CString(L"Restore the selected files?"), scene.hand.seen[0].message);
    EXPECT_TRUE(scene.hand.seen[0].bCountDown);
    EXPECT_EQ(CString(kRestoreDone), scene.hand.seen[1].message);
    EXPECT_EQ(CPropressDlg::END_RESTORE, Progress()->m_nEnd);
    auto restored = road::ListFiles(Docs());
    ASSERT_EQ(original.size(), restored.size());
    for (size_t i = 0; i < restored.size(); ++i)
        EXPECT_TRUE(original[i] == langtest::ReadBytes(Docs() + L"\\" + restored[i].first)) << i;
    EXPECT_EQ(1u, scene.system.calls.size()) << "a restore has no finishing action";
    ExpectIdle();
}

// A disk copy between the two bridge disks chosen in the two trees: the target's image holds
// the source's sectors afterwards.
TEST_F(Road, DiskCopyClonesTheChosenDisk)
{
    ASSERT_TRUE(scene.Open());
    CBackUpTreeCtrl* pSource = road::SourceTree();
    CUsbTreeCtrl* pDest = road::DestTree();
    ASSERT_TRUE(pSource && pDest);
    ASSERT_TRUE(road::CheckDiskItem(*pSource, CRoadScene::kDiskNumber));
    ASSERT_TRUE(road::CheckDiskItem(*pDest, CRoadScene::kSpareDiskNumber));
    Panel()->OnBnClickedBackupPage();
    ClickPanel(IDC_ACTION_START);
    ASSERT_TRUE(WaitForEnd(60000));
    ASSERT_EQ(2u, scene.hand.seen.size()) << SeenMessages();
    EXPECT_EQ(CString(L"Determine to copy the selected disk？"), scene.hand.seen[0].message);
    EXPECT_EQ(CString(L"The disk copy has been completed!"), scene.hand.seen[1].message);
    std::vector<BYTE> source = ReadWholeFile(scene.root / L"disk5.img");
    std::vector<BYTE> target = ReadWholeFile(scene.root / L"disk6.img");
    ASSERT_GE(target.size(), source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.end(), target.begin()));
    ExpectIdle();
}

// A cancel in the middle of a second backup, answered on its question: the run stops, no
// finishing action follows, and every stored file is a whole copy (the old one or the new one).
TEST_F(Road, CancelInTheMiddleKeepsEveryStoredCopyWhole)
{
    ASSERT_TRUE(scene.SetSetting(L"CompressFile", L"0"));
    ASSERT_TRUE(scene.SetSetting(L"BackupStatus", L"0"));
    ASSERT_TRUE(scene.SetSetting(L"BackupFinish", L"2"));
    const int nFiles = 200;
    OpenWithDocs(nFiles, 64 * 1024);
    PressHotKey();
    ASSERT_TRUE(WaitForEnd());
    ExpectStoredDocs(nFiles, false);
    std::vector<std::string> before;
    for (int i = 0; i < nFiles; ++i) {
        CString strName;
        strName.Format(L"\\f%03d.txt", i);
        before.push_back(langtest::ReadBytes(Docs() + strName));
    }
    // New contents, then a second run cancelled after its first files.
    for (int i = 0; i < nFiles; ++i) {
        CString strName;
        strName.Format(L"\\f%03d.txt", i);
        ASSERT_TRUE(langtest::WriteBytes(Docs() + strName, std::string(64 * 1024, char('A' + i % 26))));
    }
    scene.system.calls.clear();
    scene.hand.seen.clear();
    PressHotKey();
    // Once the run has started, wait for its first files without handling messages: the worker
    // needs none, and a message handled here could be the run's own end.
    ASSERT_TRUE(PumpUntil([&] { return Progress()->IsRunning(); }));
    for (DWORD t0 = ::GetTickCount(); Progress()->m_engine.m_nDoneFiles == 0 && ::GetTickCount() - t0 < 20000;)
        ::Sleep(1);
    // Hold the worker at its next file, as the cancel button itself does first, so that a fast
    // copy cannot run to its end before the click arrives.
    ::ResetEvent(Progress()->m_engine.m_hPauseEvent);
    Progress()->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(scene.hand.Saw(kCancelQuestion));
    EXPECT_FALSE(scene.hand.Saw(kBackupDone));
    EXPECT_EQ(CPropressDlg::END_CANCELLED, Progress()->m_nEnd);
    EXPECT_TRUE(scene.system.calls.empty());
    ExpectIdle();

    auto stored = road::ListFiles(StoredDocs());
    ASSERT_EQ((size_t)nFiles, stored.size()) << "nothing lost, nothing half-written left beside";
    int nNew = 0;
    for (int i = 0; i < nFiles; ++i) {
        std::string bytes = langtest::ReadBytes(StoredDocs() + L"\\" + stored[i].first);
        bool bNew = bytes == std::string(64 * 1024, char('A' + i % 26));
        EXPECT_TRUE(bNew || bytes == before[i]) << Narrow(stored[i].first);
        nNew += bNew;
    }
    EXPECT_LT(nNew, nFiles) << "the run was not cancelled in the middle";
}
