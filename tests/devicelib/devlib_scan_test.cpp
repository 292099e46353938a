// The bridge scan into the caller's device list, drive letters and closing.
#include <gtest/gtest.h>

#include <cstring>

#include "BridgeModel.h"
#include "ZedoUSBDev.h"

namespace {

const GUID kFirstClass = {0xC058131F, 0x85F4, 0x4E6A, {0x9E, 0x9E, 0xE2, 0xCD, 0x5C, 0xBA, 0xB4, 0x9F}};
const GUID kSecondClass = {0xA2FF3E57, 0xFC43, 0x4A6D, {0xAC, 0xCF, 0xE6, 0xC0, 0xE6, 0x56, 0xDC, 0xCF}};

std::string Drive(int n)
{
    return "\\\\.\\physicaldrive" + std::to_string(n);
}

class Scan : public ::testing::Test {
protected:
    Scan() { memset(&list, 0xCC, sizeof(list)); }
    CBridgeModel model;
    CModelScope scope{model};
    CZedoUSBDev2K dev;
    USBDevList_ list;
};

std::vector<BYTE> Bytes(const void* p, size_t n)
{
    const BYTE* b = static_cast<const BYTE*>(p);
    return std::vector<BYTE>(b, b + n);
}

} // namespace

TEST_F(Scan, TwoBridgesAndAForeignDiskFillTheRecordExactly)
{
    model.AddForeignDisk(Drive(0), 0);
    model.AddDevice(Drive(2), 2);
    ModelDevice& second = model.AddDevice(Drive(3), 3);
    second.revision = "0207";
    // The same bridge also shows as a CD-ROM device: listed once.
    model.AddDevice("\\\\.\\CDROM1", 2);
    model.AddVolume('E', {2});
    model.AddVolume('F', {2});
    model.AddVolume('G', {});      // no extents: on no disk
    model.AddVolume('H', {3});
    model.AddVolume('I', {3}, true); // spans several disks
    model.AddVolume('J', {0});
    model.AddVolume('C', {2});     // letters before D are not looked at

    ASSERT_EQ(0, dev.SCSI_OpenDev(&list));

    // The expected record, byte for byte; entries from the count on keep what they held.
    USBDevList_ expected;
    memset(&expected, 0xCC, sizeof(expected));
    expected.nCount = 2;
    USBDevEntry_ e0 = {};
    e0.hDevice = list.Entry[0].hDevice;
    strcpy(e0.szDriveLetters, "EF");
    e0.dwDeviceNumber = 2;
    memcpy(e0.ucRevision, "0105", 4);
    e0.ucPhysicalAddress = 2;
    memset(e0.ucReserved, 0xCC, sizeof(e0.ucReserved));
    USBDevEntry_ e1 = e0;
    e1.hDevice = list.Entry[1].hDevice;
    memset(e1.szDriveLetters, 0, sizeof(e1.szDriveLetters));
    strcpy(e1.szDriveLetters, "H");
    e1.dwDeviceNumber = 3;
    memcpy(e1.ucRevision, "0207", 4);
    e1.ucPhysicalAddress = 3;
    expected.Entry[0] = e0;
    expected.Entry[1] = e1;
    EXPECT_EQ(Bytes(&expected, sizeof(expected)), Bytes(&list, sizeof(list)));

    // Only the two listed handles stay open, and each belongs to its disk.
    EXPECT_EQ(2, model.OpenHandles());
    EXPECT_FALSE(model.CommandsTo(Drive(2)).empty());
    EXPECT_NE(list.Entry[0].hDevice, list.Entry[1].hDevice);
    // The bridge is asked INQUIRY (38 bytes) and its identification register.
    auto toBridge = model.CommandsTo(Drive(2));
    ASSERT_GE(toBridge.size(), 2u);
    EXPECT_EQ((std::vector<BYTE>{0x12, 0, 0, 0, 38, 0, 0, 0, 0, 0, 0, 0}), toBridge[0].cdb);
    EXPECT_EQ((std::vector<BYTE>{0xE4, 0x01, 0x00, 0xC8, 0xFF, 0x00}), toBridge[1].cdb);
    // The foreign disk gets nothing past INQUIRY.
    EXPECT_EQ(1u, model.CommandsTo(Drive(0)).size());

    // Close: every handle closed and null, count kept; a second close does nothing more.
    EXPECT_EQ(0, dev.SCSI_CloseDev(&list));
    EXPECT_EQ(0, model.OpenHandles());
    EXPECT_EQ(2, list.nCount);
    EXPECT_EQ(nullptr, list.Entry[0].hDevice);
    EXPECT_EQ(nullptr, list.Entry[1].hDevice);
    EXPECT_EQ(0, dev.SCSI_CloseDev(&list));
}

TEST_F(Scan, WhatEachScanAcceptsAndRefuses)
{
    // Nothing attached: -2, count 0, nothing left open.
    EXPECT_EQ(-2, dev.SCSI_OpenDev(&list));
    EXPECT_EQ(0, list.nCount);
    EXPECT_EQ(0, model.OpenHandles());

    // A bridge whose identification register cannot be read: refused by the full scan,
    // listed by the short one (handle, number and address only).
    ModelDevice& mute = model.AddDevice(Drive(4), 4);
    mute.failRegisterRead = true;
    model.AddVolume('E', {4});
    EXPECT_EQ(-2, dev.SCSI_OpenDev(&list));
    EXPECT_EQ(0, list.nCount);
    EXPECT_EQ(0, model.OpenHandles());
    memset(&list, 0xCC, sizeof(list));
    EXPECT_EQ(0, dev.SCSI_OpenVirtualCD(&list));
    ASSERT_EQ(1, list.nCount);
    EXPECT_EQ(4u, list.Entry[0].dwDeviceNumber);
    EXPECT_EQ(4, list.Entry[0].ucPhysicalAddress);
    EXPECT_EQ(0xCC, static_cast<BYTE>(list.Entry[0].szDriveLetters[0]));
    EXPECT_EQ(0xCC, list.Entry[0].ucRevision[0]);
    EXPECT_EQ(0, dev.SCSI_CloseDev(&list));
    EXPECT_EQ(0, model.OpenHandles());

    // A bridge that does not tell its device number is not listed.
    mute.failRegisterRead = false;
    mute.answersNumber = false;
    EXPECT_EQ(-2, dev.SCSI_OpenDev(&list));
    EXPECT_EQ(0, model.OpenHandles());
}

TEST_F(Scan, SixteenEntriesAtMostAndInterfacePathsLast)
{
    for (int n = 0; n < 17; ++n)
        model.AddDevice(Drive(n), n);
    model.AddInterface(kFirstClass, "\\\\?\\usb#first");
    ASSERT_EQ(0, dev.SCSI_OpenDev(&list));
    EXPECT_EQ(16, list.nCount);
    EXPECT_EQ(16, model.OpenHandles());
    EXPECT_EQ(15u, list.Entry[15].dwDeviceNumber);
    EXPECT_EQ(0, dev.SCSI_CloseDev(&list));
    EXPECT_EQ(0, model.OpenHandles());
}

TEST_F(Scan, InterfacePathBridgesAloneDoNotMakeTheScanSucceed)
{
    model.AddInterface(kSecondClass, "\\\\?\\usb#second");
    model.AddInterface(kFirstClass, "\\\\?\\usb#first");
    model.AddDevice("\\\\?\\usb#second", 9);
    model.AddDevice("\\\\?\\usb#first", 8).revision = "0300";
    EXPECT_EQ(-2, dev.SCSI_OpenDev(&list));
    ASSERT_EQ(2, list.nCount);
    // The first class is searched first; neither entry has a number or letters.
    EXPECT_EQ(0, memcmp(list.Entry[0].ucRevision, "0300", 4));
    EXPECT_EQ(0u, list.Entry[0].dwDeviceNumber);
    EXPECT_EQ(0u, list.Entry[1].dwDeviceNumber);
    EXPECT_STREQ("", list.Entry[1].szDriveLetters);
    EXPECT_TRUE(model.CommandsTo("\\\\?\\usb#first").size() == 1) << "INQUIRY only";
    EXPECT_EQ(0, dev.SCSI_CloseDev(&list));
    EXPECT_EQ(0, model.OpenHandles());
}
