// A hundred start and cancel cycles through the main window with real workers: each run is
// started by the hot key, cancelled on its progress dialog once files are moving, and the
// question answered yes. Afterwards no worker is left, the panel's state words are clear and
// every stored copy is whole.

#include "road_harness.h"

#include "AppTestUtil.h"
#include "ProgressDlg.h"

#include <gtest/gtest.h>

using road::CPromptHand;
using road::CRoadScene;
using road::PumpUntil;

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

constexpr size_t kFileSize = 8 * 1024;

std::string Contents(int nFile, int nRound)
{
    return std::string(kFileSize, char('a' + (nFile + nRound) % 26));
}

}  // namespace

TEST(RoadCycles, HundredStartsAndCancelsLeaveNoWorkerAndLoseNoCopy)
{
    CRoadScene scene;
    ASSERT_TRUE(scene.drive->IsMapped()) << Narrow(scene.drive->Error());
    ASSERT_TRUE(scene.SetSetting(L"CompressFile", L"0"));
    ASSERT_TRUE(scene.SetSetting(L"BackupStatus", L"0"));   // every run copies every file
    ASSERT_TRUE(scene.SetSetting(L"BackupFinish", L"2"));
    const int nFiles = 150;   // enough that a run is still copying when its cancel comes
    const CString strDocs = scene.strSource + L"\\docs";
    scene.MakeSourceFiles(nFiles, 1000, L"docs");
    ASSERT_TRUE(scene.Open());
    ASSERT_TRUE(road::CheckSourcePath(strDocs));
    CPageBox* pPanel = scene.Panel();
    CPropressDlg* pProgress = pPanel->m_pProgressDlg;
    ASSERT_NE(nullptr, pProgress);

    auto fileName = [](int i) {
        CString s;
        s.Format(L"\\f%03d.txt", i);
        return s;
    };
    auto writeRound = [&](int nRound) {
        for (int i = 0; i < nFiles; ++i)
            langtest::WriteBytes(strDocs + fileName(i), Contents(i, nRound));
    };
    auto idle = [&] {
        return !pPanel->m_bBackupRunning && !pPanel->m_bRestoreRunning && !pPanel->m_bQuickRunning &&
               !pPanel->m_bPromptOpen && !pPanel->m_pPrompt && !pProgress->IsRunning() && !pProgress->IsWorkerAlive();
    };

    // One whole run first: every file has a stored copy of round 0.
    writeRound(0);
    scene.Main()->SendMessage(WM_HOTKEY, ID_BACKUP_HOTKEY, 0);
    ASSERT_TRUE(PumpUntil([&] { return pProgress->m_nEnd == CPropressDlg::END_BACKUP && idle(); }));
    scene.system.calls.clear();

    const CString strStore = road::StorePath(scene.drive->Drive(), strDocs);
    DWORD dwStart = ::GetTickCount();
    int nCancelledMidway = 0, nCompleted = 0;
    for (int nRound = 1; nRound <= 100; ++nRound) {
        // New contents every tenth round: a torn copy would mix two of them.
        if (nRound % 10 == 1)
            writeRound(nRound);
        scene.Main()->SendMessage(WM_HOTKEY, ID_BACKUP_HOTKEY, 0);
        ASSERT_TRUE(pProgress->IsRunning()) << "round " << nRound << ": the start was refused";
        ASSERT_TRUE(PumpUntil([&] { return pProgress->m_engine.m_nDoneFiles > 0 || !pProgress->IsRunning(); }))
            << "round " << nRound;
        if (pProgress->IsRunning()) {
            pProgress->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CANCEL, BN_CLICKED), 0);
            nCancelledMidway += pProgress->m_nEnd == CPropressDlg::END_CANCELLED;
        }
        ASSERT_TRUE(PumpUntil([&] { return pProgress->m_nEnd != CPropressDlg::END_NONE && idle(); }))
            << "round " << nRound << " did not end";
        ASSERT_EQ(0, pPanel->m_bStartedByKey) << "round " << nRound;
        nCompleted += pProgress->m_nEnd == CPropressDlg::END_BACKUP;
    }
    DWORD dwElapsed = ::GetTickCount() - dwStart;
    std::printf("100 start/cancel cycles: %lu ms, %d cancelled while copying, %d ran to their end\n",
                (unsigned long)dwElapsed, nCancelledMidway, nCompleted);
    EXPECT_GT(nCancelledMidway, 50) << "most runs must be stopped while copying";
    // Only a run that reached its end powers off; a cancelled one does not.
    EXPECT_EQ((size_t)nCompleted, scene.system.calls.size());

    // Every stored copy is whole: one of the rounds' contents, never a mixture or a stub.
    auto stored = road::ListFiles(strStore);
    ASSERT_EQ((size_t)nFiles, stored.size());
    for (int i = 0; i < nFiles; ++i) {
        std::string bytes = langtest::ReadBytes(strStore + fileName(i));
        ASSERT_EQ(kFileSize, bytes.size()) << i;
        EXPECT_EQ(std::string(bytes.size(), bytes[0]), bytes) << i;
    }
}
