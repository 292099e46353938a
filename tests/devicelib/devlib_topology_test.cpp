// The USB topology walk on a model tree: the bridge's identity through GetConfig, and the root-hub
// port number of a bridge.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Library.h"
#include "UsbTreeModel.h"
#include "Utility.h"

namespace {

const char* const kHub20 = "USB#ROOT_HUB20#4&2b0c5a1&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
const char* const kHub11 = "USB#ROOT_HUB#4&1c3e9b2&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

class Topology : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ZedoUSBLib_Load()); }
    void TearDown() override
    {
        if (g_pUSBLib)
            ZedoUSBLib_Unload();
    }
    // GetConfig into a record and flags prefilled with a marker.
    int GetConfig()
    {
        memset(&cfg, 0xAA, sizeof(cfg));
        flags[0] = flags[1] = 7;
        return ZedoUSBLib_GetConfig(&cfg, flags);
    }
    std::string Serial() const { return std::string(cfg.szSerialNumber, strnlen(cfg.szSerialNumber, 20)); }

    CUsbTreeModel model;
    CModelScope scope{model};
    USBDevConfig_ cfg;
    int flags[2];
};

} // namespace

TEST_F(Topology, OneBridgeAtHighSpeedFillsTheRecord)
{
    int root = model.AddController(kHub20, 8, "Standard Enhanced PCI to USB Host Controller");
    TreeDevice& bridge = model.AttachDevice(root, 3, 0x2B9D, 0x3100, 0x0100, L"0123456789AB", L"ZEDO Corp",
                                            L"USB3.0 SATA Bridge");
    model.AddBridgeDisk(bridge, 2, 1);

    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ(0xAAAAAAAAu, cfg.dwReserved); // not written
    EXPECT_EQ(0, memcmp(cfg.szSerialNumber, "0123456789AB\0\0\0\0\0\0\0\0", 20));
    EXPECT_STREQ("ZEDO Corp", cfg.szManufacturer);
    EXPECT_STREQ("USB3.0 SATA Bridge", cfg.szProduct);
    EXPECT_EQ(0x2B9D, cfg.idVendor);
    EXPECT_EQ(0x3100, cfg.idProduct);
    EXPECT_EQ(0x0100, cfg.bcdDevice);
    EXPECT_EQ(0, cfg.wReserved);
    EXPECT_EQ(1u, cfg.dwSpeed);
    EXPECT_EQ(1, flags[0]);
    EXPECT_EQ(1, flags[1]);

    const USBDevInfo_& rec = g_pUtility->m_pDevList.Devs[0];
    EXPECT_EQ(2, rec.m_ucPhysicalAddress);
    EXPECT_EQ(3, rec.ucLocation);  // depth 0, controller 0, port 3
    EXPECT_EQ(3, rec.nPortNumber);
    EXPECT_EQ(std::string("\\\\.\\") + kHub20, rec.szHubName);
    EXPECT_STREQ("123456789abc", rec.szChipId);
    EXPECT_STREQ("HIGH", rec.szSpeed);
    EXPECT_STREQ("0100\n", rec.szDeviceRelease);
    EXPECT_STREQ("Fixed hard disk media.", reinterpret_cast<const char*>(rec.ucDiskArea));
    EXPECT_EQ(0x7F, rec.cDriveLetter); // no volume on it
    EXPECT_EQ(0x2000000u, rec.dwDiskSize[0]);
    // The second record keeps its none values.
    EXPECT_EQ(255, g_pUtility->m_pDevList.Devs[1].ucIndex);
    EXPECT_EQ(0, model.AllHandles());
}

TEST_F(Topology, TextFieldsAreCutToTheirWidthAndCopiedAsTheyAre)
{
    struct Case {
        std::wstring serial;
        BYTE speed;
        const char* expected; // 20 bytes of the field
        DWORD speedField;
    } cases[] = {
        {L"ABCDEFGHIJKLMNOPQRSTUVWX", 16, "ABCDEFGHIJKLMNOPQRST", 2},
        {L"A1B2C3D4", 0, "A1B2C3D4\0\0\0\0\0\0\0\0\0\0\0\0", 0},
        {L"50%d%s%n", 1, "50%d%s%n\0\0\0\0\0\0\0\0\0\0\0\0", 1},
    };
    for (const Case& c : cases) {
        CUsbTreeModel tree;
        SetDeviceIo(&tree);
        int root = tree.AddController(kHub20, 4);
        int hub = tree.AddHub(root, 1, "USB#VID_05E3&PID_0610#5&1#{f18a0e88}", 4);
        TreeDevice& bridge = tree.AttachDevice(hub, 2, 0x2B9D, 0x4100, 0x0203, c.serial);
        tree.AddBridgeDisk(bridge, 1, c.speed);
        ASSERT_EQ(1, GetConfig());
        EXPECT_EQ(0, memcmp(cfg.szSerialNumber, c.expected, 20)) << Serial();
        EXPECT_EQ(c.speedField, cfg.dwSpeed);
        EXPECT_EQ(0x0203, cfg.bcdDevice);
        SetDeviceIo(&model);
    }
}

TEST_F(Topology, BridgeBehindAnExternalHubIsFoundByTheRecursiveWalk)
{
    int root = model.AddController(kHub20, 2);
    model.AttachDevice(root, 1, 0x046D, 0xC077, 0x7200, L"", L"Logitech", L"Mouse"); // no serial
    int hub = model.AddHub(root, 2, "USB#VID_05E3&PID_0610#5&3a1&0&2#{f18a0e88-c30c-11d0-8815-00a0c906bed8}", 4);
    int inner = model.AddHub(hub, 1, "USB#VID_05E3&PID_0610#6&9f&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}", 4);
    TreeDevice& bridge = model.AttachDevice(inner, 4, 0x2B9D, 0x3100, 0x0100, L"SN00000042");
    model.AddBridgeDisk(bridge, 3);

    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("SN00000042", Serial());
    const USBDevInfo_& rec = g_pUtility->m_pDevList.Devs[0];
    EXPECT_EQ(2 * 10 + 4, rec.ucLocation);
    EXPECT_EQ(std::string("\\\\.\\") + model.hubs[inner].name, rec.szHubName);
    EXPECT_EQ(0, model.AllHandles());

    // The port-number look-up only looks at root-hub ports: not found there.
    USBDevList_ list = {};
    list.nCount = 1;
    char description[512];
    EXPECT_EQ(0, ZedoUSBLib_GetUSBPortNum(&list, 0, description));
}

TEST_F(Topology, RecordsAreClearedBetweenQueries)
{
    int root = model.AddController(kHub20, 4);
    // A mouse without a serial comes first: its empty serial matches no disk.
    model.AttachDevice(root, 1, 0x046D, 0xC077, 0x7200, L"", L"Logitech", L"Mouse");
    TreeDevice& bridge = model.AttachDevice(root, 2, 0x2B9D, 0x3100, 0x0100, L"SERIAL000001");
    model.AddBridgeDisk(bridge, 2);

    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("SERIAL000001", Serial());
    EXPECT_EQ(0x3100, cfg.idProduct);

    // Unplugged: the walk runs, finds no bridge, and nothing of the old one is reported.
    model.Unplug(root, 2);
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ(0, cfg.szSerialNumber[0]);
    EXPECT_EQ(0, cfg.szProduct[0]);
    EXPECT_EQ(0, cfg.idVendor);
    EXPECT_EQ(0, cfg.idProduct);
    EXPECT_EQ(0, flags[0]);
    EXPECT_EQ(0, flags[1]);
    EXPECT_EQ(255, g_pUtility->m_pDevList.Devs[0].m_ucPhysicalAddress);
    EXPECT_EQ(0, model.AllHandles());
}

TEST_F(Topology, ADiskThatIsNotTheBridgeOrOnAnotherBusIsNotTaken)
{
    int root = model.AddController(kHub20, 4);
    TreeDevice& bridge = model.AttachDevice(root, 1, 0x2B9D, 0x3100, 0x0100, L"SERIAL000001");
    ModelDevice& disk = model.AddBridgeDisk(bridge, 2);
    disk.id36 = disk.id37 = 0; // answers INQUIRY as some other chip
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ(0, cfg.szSerialNumber[0]);

    disk.id36 = 0x71;
    disk.id37 = 0x3E;
    model.busType = 11; // SATA
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ(0, cfg.szSerialNumber[0]);
    model.busType = 7;
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("SERIAL000001", Serial());
    EXPECT_EQ(0, model.AllHandles());
}

TEST_F(Topology, ABridgeSeenOnlyAsACdromIsTestedThroughItsOwnDevice)
{
    int root = model.AddController(kHub20, 4);
    TreeDevice& bridge = model.AttachDevice(root, 1, 0x2B9D, 0x3100, 0x0100, L"CDSERIAL0001");
    model.AddBridgeCdrom(bridge, 1);
    // Physical drive 1 is some other disk: it must not be taken for the CD-ROM 1.
    model.AddForeignDisk("\\\\.\\physicaldrive1", 1);

    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("CDSERIAL0001", Serial());
    const USBDevInfo_& rec = g_pUtility->m_pDevList.Devs[0];
    EXPECT_EQ(1, rec.nCDROM);
    EXPECT_EQ(1, rec.m_ucPhysicalAddress);
    EXPECT_EQ(0x7F, rec.cDriveLetter);
    EXPECT_EQ(0, model.Opens("\\\\.\\physicaldrive1"));
    EXPECT_EQ(0, model.AllHandles());
}

TEST_F(Topology, UntrustedRepliesAreReadWithinTheirBounds)
{
    int root = model.AddController(kHub20, 4);
    TreeDevice& bridge = model.AttachDevice(root, 2, 0x2B9D, 0x3100, 0x0100, L"SERIAL000001", L"ZEDO", L"Bridge");
    model.AddBridgeDisk(bridge, 2);

    // A configuration descriptor with an entry of length 0 ends its walk instead of looping.
    model.zeroLengthDescriptor = true;
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("SERIAL000001", Serial());
    model.zeroLengthDescriptor = false;

    // A string descriptor that claims more than the reply holds is read only as far as the reply.
    model.stringLengthOverride = 255;
    ASSERT_EQ(1, GetConfig());
    EXPECT_STREQ("ZEDO", cfg.szManufacturer);
    EXPECT_EQ("SERIAL000001", Serial());
    // One that claims less is cut to its length.
    model.stringLengthOverride = 8;
    ASSERT_EQ(1, GetConfig());
    EXPECT_STREQ("ZED", cfg.szManufacturer);
    model.stringLengthOverride = 0;

    // Failing controls: the controller, hub or port is passed over and nothing is found.
    for (DWORD code : {DWORD(ZEDO_IOCTL_USB_GET_ROOT_HUB_NAME), DWORD(ZEDO_IOCTL_USB_GET_NODE_CONNECTION_INFORMATION),
                       DWORD(ZEDO_IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION)}) {
        model.failingControls = {code};
        ASSERT_EQ(1, GetConfig()) << std::hex << code;
        EXPECT_EQ(0, cfg.szSerialNumber[0]) << std::hex << code;
        EXPECT_EQ(0, model.AllHandles());
    }
    model.failingControls.clear();
    // Short replies: a connection record or a name cut short is not believed.
    for (DWORD code : {DWORD(ZEDO_IOCTL_USB_GET_NODE_CONNECTION_INFORMATION), DWORD(ZEDO_IOCTL_USB_GET_ROOT_HUB_NAME),
                       DWORD(ZEDO_IOCTL_GET_HCD_DRIVERKEY_NAME)}) {
        model.replyLimits = {{code, 5}};
        ASSERT_EQ(1, GetConfig()) << std::hex << code;
        if (code == ZEDO_IOCTL_GET_HCD_DRIVERKEY_NAME)
            EXPECT_EQ("SERIAL000001", Serial()); // only the controller's description is lost
        else
            EXPECT_EQ(0, cfg.szSerialNumber[0]) << std::hex << code;
    }
    // A string reply that ends inside its descriptor is read up to its end.
    model.replyLimits = {{DWORD(ZEDO_IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION), 12 + 2 + 2 * 6}};
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("SERIAL", Serial());
    model.replyLimits.clear();

    // Without its strings the serial is unknown; the driver key failing costs only the description.
    model.failingControls = {DWORD(ZEDO_IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME)};
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("SERIAL000001", Serial());
    model.failingControls.clear();
    EXPECT_EQ(0, model.AllHandles());
}

TEST_F(Topology, AtMostTenControllersAreOpenedAndAllAreClosed)
{
    for (int i = 0; i < 11; ++i)
        model.AddController("USB#ROOT_HUB30#" + std::to_string(i) + "#{f18a0e88}", 2);
    TreeDevice& bridge = model.AttachDevice(model.controllers[10].rootHub, 1, 0x2B9D, 0x3100, 0x0100, L"SN11");
    model.AddBridgeDisk(bridge, 2);

    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ(0, cfg.szSerialNumber[0]);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(1, model.Opens(model.controllers[i].path)) << i;
    EXPECT_EQ(0, model.Opens(model.controllers[10].path));
    EXPECT_EQ(0, model.AllHandles());

    // On the tenth it is found.
    model.Unplug(model.controllers[10].rootHub, 1);
    TreeDevice& moved = model.AttachDevice(model.controllers[9].rootHub, 2, 0x2B9D, 0x3100, 0x0100, L"SN10");
    model.AddBridgeDisk(moved, 4);
    ASSERT_EQ(1, GetConfig());
    EXPECT_EQ("SN10", Serial());
    EXPECT_EQ(static_cast<BYTE>(0 * 10 + 9 * 100 + 2), g_pUtility->m_pDevList.Devs[0].ucLocation);
    EXPECT_EQ(0, model.AllHandles());
}

TEST_F(Topology, NullArgumentsGiveZero)
{
    int flagsOut[2] = {};
    USBDevConfig_ c = {};
    EXPECT_EQ(0, ZedoUSBLib_GetConfig(nullptr, flagsOut));
    EXPECT_EQ(0, ZedoUSBLib_GetConfig(&c, nullptr));
}

// ---- port numbers ----

namespace {

int PortNumber(char* description, int count = 1, BYTE index = 0)
{
    USBDevList_ list = {};
    list.nCount = count;
    return ZedoUSBLib_GetUSBPortNum(&list, index, description);
}

} // namespace

TEST_F(Topology, PortNumberOnAHighSpeedRootHub)
{
    int root = model.AddController(kHub20, 8, "Standard Enhanced PCI to USB Host Controller");
    model.AttachDevice(root, 1, 0x046D, 0xC077, 0x7200, L"");
    model.AttachDevice(root, 3, 0x2B9D, 0x3100, 0x0100, L"SN1");
    char description[512];
    memset(description, 'x', sizeof(description));
    EXPECT_EQ(3, PortNumber(description));
    EXPECT_STREQ("Standard Enhanced PCI to USB Host Controller", description);
    EXPECT_EQ(0, model.AllHandles());

    // A later matching port wins; the second identifier is tried when the first is absent.
    model.AttachDevice(root, 6, 0x2B9D, 0x3100, 0x0100, L"SN2");
    EXPECT_EQ(6, PortNumber(description));
    model.Unplug(root, 3);
    model.Unplug(root, 6);
    model.AttachDevice(root, 5, 0x2B9D, 0x4100, 0x0100, L"SN3");
    EXPECT_EQ(5, PortNumber(description));
}

TEST_F(Topology, PortNumbersOfOtherRootHubsFollowOneAnother)
{
    int a = model.AddController(kHub11, 2, "Controller A");
    model.AttachDevice(a, 1, 0x046D, 0xC077, 0x7200, L"");
    int b = model.AddController(kHub11 + std::string("B"), 4, "Controller B");
    model.AttachDevice(b, 1, 0x1043, 0x3100, 0x0100, L"SN1");
    char description[512];
    EXPECT_EQ(3, PortNumber(description));
    EXPECT_STREQ("Controller B", description); // the last controller searched
    EXPECT_EQ(0, model.AllHandles());
}

TEST_F(Topology, AHighSpeedRootHubWithoutABridgeEndsTheSearch)
{
    model.AddController(kHub20, 8, "Enhanced");
    int other = model.AddController(kHub11, 2, "Universal");
    model.AttachDevice(other, 1, 0x2B9D, 0x3100, 0x0100, L"SN1");
    char description[512];
    EXPECT_EQ(0, PortNumber(description));
    EXPECT_STREQ("Enhanced", description);
}

TEST_F(Topology, AnIndexPastTheListTouchesNoDevice)
{
    int root = model.AddController(kHub20, 8);
    model.AttachDevice(root, 3, 0x2B9D, 0x3100, 0x0100, L"SN1");
    char description[512];
    memset(description, 'x', sizeof(description));
    EXPECT_EQ(0, PortNumber(description, 2, 2));
    EXPECT_EQ(0, description[0]);
    EXPECT_EQ(0, model.Opens(model.controllers[0].path));
    // Failing name look-ups skip the controller.
    model.failingControls = {DWORD(ZEDO_IOCTL_USB_GET_ROOT_HUB_NAME)};
    EXPECT_EQ(0, PortNumber(description));
    model.failingControls = {DWORD(ZEDO_IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME)};
    EXPECT_EQ(0, PortNumber(description));
    model.failingControls.clear();
    EXPECT_EQ(3, PortNumber(description));
    EXPECT_EQ(0, model.AllHandles());
}
