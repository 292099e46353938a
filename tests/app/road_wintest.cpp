// The main program end to end: the real main window with its pages over a bridge disk whose
// volume is a drive letter of the prefix, the enclosure's button in the chip model, and a system
// that records the finishing action instead of carrying it out.

#include "road_harness.h"

#include "AppTestUtil.h"

#include "ButtonWatch.h"
#include "DataFiles.h"
#include "ProgressDlg.h"
#include "USBDevice.h"

#include <gtest/gtest.h>

using road::CPromptHand;
using road::CRoadScene;
using road::PumpUntil;

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

class Road : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scene.drive->IsMapped()) << Narrow(scene.drive->Error()); }
    CRoadScene scene;
};

}  // namespace

// The scene itself: the mapped letter reaches its folder and belongs to the bridge disk, the
// main window comes up hidden, and the watcher sees the enclosure's button.
TEST_F(Road, SceneMapsTheDiskVolumeAndTheButton)
{
    const CString strRoot = scene.drive->Root();
    ASSERT_TRUE(langtest::WriteBytes(strRoot + L"probe.txt", "probe"));
    EXPECT_EQ("probe", langtest::ReadBytes(scene.strTargetFolder + L"\\probe.txt"));
    ::DeleteFileW(strRoot + L"probe.txt");

    CArray<CUSBDevice> list;
    CUSBDevice::EnumUSBDevices(list);
    ASSERT_EQ(2, list.GetSize());
    EXPECT_EQ(CRoadScene::kDiskNumber, list[0].m_nDeviceNumber);
    EXPECT_EQ(scene.drive->Drive() + L" ", list[0].GetDriveLetters());
    EXPECT_EQ(CString(), list[1].GetDriveLetters());

    ASSERT_TRUE(scene.Open());
    EXPECT_FALSE(scene.Main()->IsWindowVisible());
    ASSERT_NE(nullptr, scene.Panel());

    if (!g_pButtonWatchThread[0]) {
        ASSERT_EQ(0, ZedoUSBLib_Load());
        g_bStopButtonWatch = 0;
        ASSERT_EQ(1, StartButtonWatch());
    }
    ASSERT_EQ(1, g_usbDevList.nCount);
    scene.PressButton();
    EXPECT_TRUE(PumpUntil([&] { return g_bBackupButtonPressed != 0 || scene.Main()->IsWindowVisible(); }, 3000));
    StopButtonWatchAndClose();
    ZedoUSBLib_Unload();
}

// The last stretch of the road on the mapped drive: the progress dialog in the panel's backup
// slot runs the real worker into "VEZORI" of the bridge disk's volume, compressed copies named
// ".zip", and hands the slot back.
TEST_F(Road, ProgressDialogInThePanelStoresOnTheBridgeVolume)
{
    scene.MakeSourceFiles(4, 7000, L"docs");
    ASSERT_TRUE(scene.Select({scene.strSource + L"\\docs"}));
    ASSERT_TRUE(scene.Open());
    CPageBox* pPanel = scene.Panel();
    CPropressDlg dlg;
    ASSERT_TRUE(dlg.CreateInPanel(pPanel, pPanel, CPageBox::PAGE_BACKUP, pPanel->GetPageRect()));
    pPanel->SetSlotWnd(CPageBox::PAGE_BACKUP, &dlg);
    pPanel->m_bBackupRunning = 1;
    ASSERT_TRUE(dlg.InitOperation(FALSE, FALSE, L"Backup from PC to USB HDD", TRUE, scene.drive->Drive(), -1, -1));
    ASSERT_TRUE(dlg.StartOperation());
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_nEnd != CPropressDlg::END_NONE; }));
    EXPECT_EQ(CPropressDlg::END_BACKUP, dlg.m_nEnd);
    EXPECT_TRUE(scene.hand.Saw(L"The backup for selected files has been finished !"));
    EXPECT_FALSE(dlg.IsWorkerAlive());
    EXPECT_EQ(0, pPanel->m_bBackupRunning);

    auto stored = road::ListFiles(road::StorePath(scene.drive->Drive(), scene.strSource + L"\\docs"));
    ASSERT_EQ(4u, stored.size());
    EXPECT_EQ(CString(L"f000.txt.zip"), stored[0].first);
    EXPECT_LT(stored[0].second, 7000u);
    // The same files seen through the volume's own folder.
    EXPECT_EQ(stored.size(), road::ListFiles(scene.strTargetFolder + L"\\VEZORI").size());
    pPanel->RestoreSlot(CPageBox::PAGE_BACKUP);
    dlg.DestroyWindow();
}
