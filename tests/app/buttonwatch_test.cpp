// The enclosure button watch against two (and sixteen) model bridges: presses latch once, a
// release withdraws only its own press, a failed read ends only its own watcher, a stop leaves
// no watcher running and every handle closed.
#include <gtest/gtest.h>

#include <string>

#include "BridgeModel.h"
#include "ButtonWatch.h"

namespace {

std::string Drive(int n)
{
    return "\\\\.\\physicaldrive" + std::to_string(n);
}

template <class P>
bool WaitFor(P pred, DWORD ms = 3000)
{
    for (DWORD t = 0; t < ms; t += 20) {
        if (pred())
            return true;
        Sleep(20);
    }
    return pred();
}

class Watch : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The library must be the statically linked one, or the model would not be behind it.
        ASSERT_EQ(nullptr, GetModuleHandleA("zedousb.dll"));
        for (int n = 1; n <= 2; ++n) {
            model.AddDevice(Drive(n), n);
            Release(n);
        }
        ASSERT_EQ(0, ZedoUSBLib_Load());
        g_bBackupButtonPressed = 0;
        g_bStopButtonWatch = 0;
    }
    void TearDown() override
    {
        StopButtonWatchAndClose();
        ZedoUSBLib_Unload();
    }
    // Chip class 1: the button is bit 0 of 0xC884 (0 pressed), 0xC880 bit 0 clear.
    void Press(int n) { model.SetRegister(Drive(n), 0xC884, 0x00); }
    void Release(int n) { model.SetRegister(Drive(n), 0xC884, 0x01); }
    bool Pressed() const { return g_bBackupButtonPressed != 0; }
    // Long enough for every watcher to poll several times.
    static void Polls(int n) { Sleep(300 * n + 100); }
    int Slots() const
    {
        int n = 0;
        for (CButtonWatchThread* p : g_pButtonWatchThread)
            n += p != nullptr;
        return n;
    }

    CBridgeModel model;
    CModelScope scope{model};
};

} // namespace

TEST_F(Watch, PressesLatchOncePerEnclosure)
{
    ASSERT_EQ(1, StartButtonWatch());
    ASSERT_EQ(2, g_usbDevList.nCount);
    EXPECT_EQ(2, Slots());

    // A held button counts once.
    Press(1);
    ASSERT_TRUE(WaitFor([&] { return Pressed(); }));
    EXPECT_TRUE(ConsumeBackupButtonPress());
    Polls(3);
    EXPECT_FALSE(Pressed());

    // The other enclosure's press while the first is held counts; the first one's release does not
    // withdraw it.
    Press(2);
    ASSERT_TRUE(WaitFor([&] { return Pressed(); }));
    Release(1);
    Polls(3);
    EXPECT_TRUE(Pressed());
    EXPECT_TRUE(ConsumeBackupButtonPress());

    // Release, then press again: a second press.
    Release(2);
    Polls(2);
    EXPECT_FALSE(Pressed());
    Press(2);
    ASSERT_TRUE(WaitFor([&] { return Pressed(); }));
    EXPECT_TRUE(ConsumeBackupButtonPress());
    EXPECT_FALSE(ConsumeBackupButtonPress());

    // A press released before anyone took it is dropped.
    Release(2);
    Polls(2);
    Press(1);
    ASSERT_TRUE(WaitFor([&] { return Pressed(); }));
    Release(1);
    EXPECT_TRUE(WaitFor([&] { return !Pressed(); }));

    // Stop: the watchers end first, then every handle is closed; nothing polls afterwards.
    EXPECT_EQ(1, StopButtonWatchAndClose());
    EXPECT_EQ(0, Slots());
    EXPECT_EQ(0, model.OpenHandles());
    EXPECT_EQ(nullptr, g_usbDevList.Entry[0].hDevice);
    EXPECT_EQ(nullptr, g_usbDevList.Entry[1].hDevice);
    size_t nSent = model.Commands().size();
    Polls(2);
    EXPECT_EQ(nSent, model.Commands().size());
    EXPECT_TRUE(CModelScope::Messages().empty());
}

TEST_F(Watch, AFailedReadEndsOnlyItsOwnWatcherAndAStopEndsTheRest)
{
    ASSERT_EQ(1, StartButtonWatch());
    ASSERT_EQ(2, Slots());
    HANDLE hFirst = nullptr, hSecond = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), g_pButtonWatchThread[0]->m_hThread, GetCurrentProcess(),
                                &hFirst, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), g_pButtonWatchThread[1]->m_hThread, GetCurrentProcess(),
                                &hSecond, 0, FALSE, DUPLICATE_SAME_ACCESS));

    // The second enclosure goes away: its watcher ends with 0, quietly.
    model.SetRemoved(Drive(2), true);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hSecond, 3000));
    DWORD dwCode = 99;
    GetExitCodeThread(hSecond, &dwCode);
    EXPECT_EQ(0u, dwCode);
    EXPECT_TRUE(CModelScope::Messages().empty());

    // The first still answers.
    Press(1);
    ASSERT_TRUE(WaitFor([&] { return Pressed(); }));
    EXPECT_TRUE(ConsumeBackupButtonPress());

    // With the library unloaded the status is -2 and the watcher keeps polling.
    ASSERT_EQ(0, ZedoUSBLib_Unload());
    Polls(2);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hFirst, 0));
    ASSERT_EQ(0, ZedoUSBLib_Load());
    Release(1);
    Polls(1);
    Press(1);
    ASSERT_TRUE(WaitFor([&] { return Pressed(); }));

    // A stop wakes the sleeping watcher: it ends with 1 well before a poll interval has passed.
    DWORD dwStart = GetTickCount();
    EXPECT_EQ(1, StopButtonWatchAndClose());
    EXPECT_LT(GetTickCount() - dwStart, 1000u);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hFirst, 0));
    GetExitCodeThread(hFirst, &dwCode);
    EXPECT_EQ(1u, dwCode);
    EXPECT_EQ(0, Slots());
    EXPECT_EQ(0, model.OpenHandles());
    CloseHandle(hFirst);
    CloseHandle(hSecond);
}

TEST_F(Watch, SixteenBridgesFillEverySlotAndARestartReplacesTheSet)
{
    for (int n = 3; n <= 18; ++n) {
        model.AddDevice(Drive(n), n);
        Release(n);
    }
    ASSERT_EQ(1, StartButtonWatch());
    EXPECT_EQ(16, g_usbDevList.nCount);
    EXPECT_EQ(16, Slots());
    EXPECT_EQ(16, model.OpenHandles());
    Press(18);
    Polls(2);
    EXPECT_FALSE(Pressed()) << "the seventeenth bridge is not watched";
    Press(16);
    ASSERT_TRUE(WaitFor([&] { return Pressed(); }));
    EXPECT_EQ(1L << 15, g_bBackupButtonPressed);
    ConsumeBackupButtonPress();

    // A restart as after a device change: stop and close, then start again.
    StopButtonWatchAndClose();
    EXPECT_EQ(0, model.OpenHandles());
    g_bStopButtonWatch = 0;
    ASSERT_EQ(1, StartButtonWatch());
    EXPECT_EQ(16, Slots());
    // Starting over a running watch replaces it instead of doubling it.
    ASSERT_EQ(1, StartButtonWatch());
    EXPECT_EQ(16, Slots());
    EXPECT_EQ(16, model.OpenHandles());
    StopButtonWatchAndClose();
    EXPECT_EQ(0, Slots());
    EXPECT_EQ(0, model.OpenHandles());
}

TEST_F(Watch, NoBridgeStartsNothing)
{
    model.SetRemoved(Drive(1), true);
    model.SetRemoved(Drive(2), true);
    EXPECT_EQ(1, StartButtonWatch());
    EXPECT_EQ(0, g_usbDevList.nCount);
    EXPECT_EQ(0, Slots());
    EXPECT_EQ(0, model.OpenHandles());
}
