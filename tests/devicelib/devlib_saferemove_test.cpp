// Safe removal on the model's device tree: which device is ejected, how often, and what a veto or
// unusable ids give.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Library.h"
#include "UsbTreeModel.h"
#include "Utility.h"

namespace {

const char* const kHub20 = "USB#ROOT_HUB20#4&2b0c5a1&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

class SafeRemove : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, ZedoUSBLib_Load());
        root = model.AddController(kHub20, 4);
        // Devices of other classes and other makers come first in the tree.
        model.AddNode("HID\\VID_2B9D&PID_3100\\7&1F&0&0000", kHidClassText);
        model.AttachDevice(root, 1, 0x046D, 0xC077, 0x7200, L"");
        TreeDevice& bridge = model.AttachDevice(root, 2, 0x2B9D, 0x3100, 0x0100, L"SERIAL000001");
        model.AddBridgeDisk(bridge, 2);
    }
    void TearDown() override
    {
        if (g_pUSBLib)
            ZedoUSBLib_Unload();
    }
    CUsbTreeModel model;
    CModelScope scope{model};
    int root = -1;
};

const std::string kBridgeId = "USB\\VID_2B9D&PID_3100\\SERIAL000001";

} // namespace

TEST_F(SafeRemove, TheMatchingUsbDeviceIsEjectedAndTheSecondRequestFindsItGone)
{
    EXPECT_EQ(1, Zedo_SafeRemoveUSB("VID_2B9D", "PID_3100", "whatever"));
    EXPECT_EQ((std::vector<std::string>{kBridgeId}), model.ejections);
    EXPECT_TRUE(model.hubs[root].devices.count(2) == 0);

    // A device that stays after its ejection is asked twice; the result is the second answer.
    model.ejections.clear();
    model.ejectRemoves = false;
    TreeDevice& again = model.AttachDevice(root, 3, 0x2B9D, 0x3100, 0x0100, L"SERIAL000002");
    EXPECT_EQ(1, Zedo_SafeRemoveUSB("VID_2B9D", "PID_3100", ""));
    EXPECT_EQ((std::vector<std::string>{again.instanceId, again.instanceId}), model.ejections);
}

TEST_F(SafeRemove, IdsAreComparedUpperCasedInCopies)
{
    char vid[] = "vid_2b9d";
    char pid[] = "pid_3100";
    EXPECT_EQ(1, Zedo_SafeRemoveUSB(vid, pid, nullptr));
    EXPECT_EQ((std::vector<std::string>{kBridgeId}), model.ejections);
    EXPECT_STREQ("vid_2b9d", vid);
    EXPECT_STREQ("pid_3100", pid);
}

TEST_F(SafeRemove, OnlyUsbAndDiskDevicesMatchAndNotAtTheVeryStart)
{
    // A disk-drive node whose identifier names the ids matches too (after the USB devices here).
    model.AddNode("USBSTOR\\DISK&VID_1234&PID_5678\\X&0", kDiskDriveClassText);
    // The vid text only at the very start of the identifier does not match.
    model.AddNode("VID_ABCD&PID_0001\\Y", kUsbClassText);

    EXPECT_EQ(1, Zedo_SafeRemoveUSB("VID_ABCD", "PID_0001", ""));
    EXPECT_TRUE(model.ejections.empty());
    EXPECT_EQ(1, Zedo_SafeRemoveUSB("VID_1234", "PID_5678", ""));
    EXPECT_EQ((std::vector<std::string>{"USBSTOR\\DISK&VID_1234&PID_5678\\X&0"}), model.ejections);
    // No such device: nothing to remove.
    model.ejections.clear();
    EXPECT_EQ(1, Zedo_SafeRemoveUSB("VID_9999", "PID_3100", ""));
    EXPECT_TRUE(model.ejections.empty());
}

TEST_F(SafeRemove, EmptyOrMissingIdsEjectNothing)
{
    EXPECT_EQ(0, Zedo_SafeRemoveUSB("", "", ""));
    EXPECT_EQ(0, Zedo_SafeRemoveUSB("VID_2B9D", "", ""));
    EXPECT_EQ(0, Zedo_SafeRemoveUSB("", "PID_3100", ""));
    EXPECT_EQ(0, Zedo_SafeRemoveUSB(nullptr, "PID_3100", ""));
    EXPECT_EQ(0, Zedo_SafeRemoveUSB("VID_2B9D", nullptr, ""));
    EXPECT_TRUE(model.ejections.empty());
}

TEST_F(SafeRemove, AVetoedEjectionIsAFailure)
{
    model.vetoed.insert(kBridgeId);
    EXPECT_EQ(0, Zedo_SafeRemoveUSB("VID_2B9D", "PID_3100", ""));
    EXPECT_EQ((std::vector<std::string>{kBridgeId, kBridgeId}), model.ejections);
    EXPECT_TRUE(model.hubs[root].devices.count(2) == 1);
    // The utility's own request answers the same way.
    EXPECT_EQ(0, g_pUtility->vForceEjectUSB(kBridgeId.c_str()));
    model.vetoed.clear();
    EXPECT_EQ(1, g_pUtility->vForceEjectUSB(kBridgeId.c_str()));
}
