// The exported interface: set-up and tear-down, the not-loaded answer, argument checks, chip class,
// button status and chip type.
#include <gtest/gtest.h>

#include <cstring>

#include "BridgeModel.h"
#include "ChipStatus.h"
#include "Library.h"
#include "Utility.h"
#include "ZedoUSBDev.h"

namespace {

const char* const kDisk = "\\\\.\\physicaldrive2";

class Exports : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (g_pUSBLib)
            ZedoUSBLib_Unload();
    }
    CBridgeModel model;
    CModelScope scope{model};
};

std::vector<WORD> RegistersRead(CBridgeModel& model, const char* path)
{
    std::vector<WORD> result;
    for (const ModelCommand& c : model.CommandsTo(path))
        if (c.cdb.size() == 6 && c.cdb[0] == 0xE4)
            result.push_back(static_cast<WORD>((c.cdb[3] << 8) | c.cdb[4]));
    return result;
}

} // namespace

TEST_F(Exports, LoadUnloadAndTheSingletons)
{
    EXPECT_EQ(-2, ZedoUSBLib_Unload());
    EXPECT_EQ(1, KZedoUSBLib_KT60X());
    ASSERT_EQ(0, ZedoUSBLib_Load());
    CZedoUSBLib* pFirst = g_pUSBLib;
    ASSERT_NE(nullptr, pFirst);
    EXPECT_NE(nullptr, pFirst->m_pUSBDev);
    CUtility* pUtility = g_pUtility;
    ASSERT_NE(nullptr, pUtility);
    // A second Load keeps the objects.
    EXPECT_EQ(0, ZedoUSBLib_Load());
    EXPECT_EQ(pFirst, g_pUSBLib);
    EXPECT_EQ(1, KZedoUSBLib_KT60X());
    EXPECT_EQ(0, ZedoUSBLib_Unload());
    EXPECT_EQ(nullptr, g_pUSBLib);
    EXPECT_EQ(-2, ZedoUSBLib_Unload());
    // Load again: a new library object, the same utility object.
    ASSERT_EQ(0, ZedoUSBLib_Load());
    EXPECT_NE(nullptr, g_pUSBLib->m_pUSBDev);
    EXPECT_EQ(pUtility, g_pUtility);
}

TEST_F(Exports, EveryDeviceExportAnswersNotLoadedWithoutTouchingADevice)
{
    model.AddDevice(kDisk, 2);
    HANDLE h = model.Open(kDisk);
    model.ClearLog();
    USBDevList_ list = {};
    BYTE buffer[512] = {};
    char szDescription[512];
    EXPECT_EQ(-2, ZedoUSBLib_OpenDev(&list));
    EXPECT_EQ(-2, ZedoUSBLib_OpenVirtualCD(&list));
    EXPECT_EQ(-2, ZedoUSBLib_CloseDev(&list));
    EXPECT_EQ(-2, ZedoUSBLib_GetUSBPortNum(&list, 0, szDescription));
    EXPECT_EQ(-2, ZedoUSBLib_GetZULStatus(h));
    EXPECT_EQ(-2, ZedoUSBLib_bGetChipType(0));
    EXPECT_EQ(-2, ZedoUSBLib_QT60X_AccessRegister(h, 0, 0xC8FF, buffer, 1));
    EXPECT_EQ(-2, ZedoUSBLib_QT60X_AccessConfigEEPROM(h, 0, buffer, 128));
    EXPECT_EQ(-2, ZedoUSBLib_QT60X_AccessFirmwareEEPROM(h, 0, buffer, 16));
    EXPECT_EQ(-2, ZedoUSBLib_QT60X_ATAPASSTHROUGH(h, buffer, 512));
    EXPECT_EQ(-2, ZedoUSBLib_QT60X_Disconnect(h));
    EXPECT_EQ(-2, ZedoUSBLib_QT60X_CPURST(h));
    EXPECT_EQ(-2, ZedoUSBLib_SCSI3E71_AccessHardDisk(h, 0, 0, buffer, 1));
    EXPECT_EQ(-2, ZedoUSBLib_SCSI3E71_ShowDisk(h));
    EXPECT_EQ(-2, ZedoUSBLib_SCSI3E71_HideDisk(h));
    EXPECT_EQ(-2, ZedoUSBLib_SCSI3E71_GetDiskStatus(h, buffer));
    EXPECT_TRUE(model.Commands().empty());
    EXPECT_TRUE(CModelScope::Messages().empty());

    // The same after an Unload.
    ASSERT_EQ(0, ZedoUSBLib_Load());
    ASSERT_EQ(0, ZedoUSBLib_Unload());
    EXPECT_EQ(-2, ZedoUSBLib_GetZULStatus(h));
    EXPECT_EQ(-2, ZedoUSBLib_QT60X_AccessRegister(h, 0, 0xC8FF, buffer, 1));
    EXPECT_TRUE(model.Commands().empty());

    // A library object without a device object answers -2 from every member that needs one.
    CZedoUSBLib lib;
    EXPECT_EQ(-2, lib.QT60X_GetZULStatus(h));
    EXPECT_EQ(-2, lib.QT60X_AccessRegister(h, 0, 0xC8FF, buffer, 1));
    EXPECT_EQ(-2, lib.ReadLBA(h, 0, 1, buffer));
    EXPECT_EQ(-2, lib.CloseDev(&list));
}

TEST_F(Exports, ListExportsCheckTheirArguments)
{
    model.AddDevice(kDisk, 2);
    ASSERT_EQ(0, ZedoUSBLib_Load());
    char szDescription[512] = "x";
    EXPECT_EQ(-3, ZedoUSBLib_OpenDev(nullptr));
    EXPECT_EQ(-3, ZedoUSBLib_OpenVirtualCD(nullptr));
    EXPECT_EQ(-3, ZedoUSBLib_CloseDev(nullptr));
    EXPECT_EQ(-3, ZedoUSBLib_GetUSBPortNum(nullptr, 0, szDescription));

    USBDevList_ list;
    memset(&list, 0xCC, sizeof(list));
    ASSERT_EQ(0, ZedoUSBLib_OpenDev(&list));
    ASSERT_EQ(1, list.nCount);
    EXPECT_EQ(-3, ZedoUSBLib_GetUSBPortNum(&list, 0, nullptr));
    EXPECT_EQ(0, ZedoUSBLib_GetUSBPortNum(&list, 0, szDescription));
    EXPECT_STREQ("", szDescription);
    list.nCount = 17;
    EXPECT_EQ(-3, ZedoUSBLib_CloseDev(&list));
    EXPECT_EQ(1, model.OpenHandles());
    list.nCount = 1;
    EXPECT_EQ(0, ZedoUSBLib_CloseDev(&list));
    EXPECT_EQ(0, ZedoUSBLib_CloseDev(&list));
    EXPECT_EQ(0, model.OpenHandles());

    // The list exports use the loaded device object and leave it in place.
    CZedoUSBDev* pDev = g_pUSBLib->m_pUSBDev;
    EXPECT_EQ(0, ZedoUSBLib_OpenVirtualCD(&list));
    EXPECT_EQ(0, ZedoUSBLib_CloseDev(&list));
    EXPECT_EQ(pDev, g_pUSBLib->m_pUSBDev);

    // The member CloseDev deletes the device object; the member OpenDev makes a new one.
    CZedoUSBLib lib;
    ASSERT_EQ(0, lib.OpenDev(&list));
    EXPECT_NE(nullptr, lib.m_pUSBDev);
    EXPECT_EQ(32, lib.m_nOSVersion);
    EXPECT_EQ(0, lib.CloseDev(&list));
    EXPECT_EQ(nullptr, lib.m_pUSBDev);
    EXPECT_EQ(-2, lib.CloseDev(&list));
    EXPECT_EQ(0, model.OpenHandles());
}

TEST_F(Exports, ButtonStatusFollowsTheChipClass)
{
    model.AddDevice(kDisk, 2);
    HANDLE h = model.Open(kDisk);
    ASSERT_EQ(0, ZedoUSBLib_Load());

    struct Case {
        BYTE id;
        WORD first, second;
    };
    for (const Case& c : {Case{3, 0xC880, 0xC884}, Case{16, 0xC880, 0xC884}, Case{17, 0xC880, 0xC884},
                          Case{18, 0xC880, 0xC884}, Case{2, 0xCA30, 0xCA34}, Case{0x40, 0xCA30, 0xCA34}}) {
        SCOPED_TRACE(c.id);
        model.SetRegister(kDisk, 0xC8FF, c.id);
        model.SetRegister(kDisk, c.first, 0x00);
        model.SetRegister(kDisk, c.second, 0x00);
        model.ClearLog();
        EXPECT_EQ(0, ZedoUSBLib_GetZULStatus(h)) << "pressed";
        EXPECT_EQ((std::vector<WORD>{0xC8FF, c.first, c.second}), RegistersRead(model, kDisk));
        model.SetRegister(kDisk, c.second, 0xFE | 0x01);
        EXPECT_EQ(1, ZedoUSBLib_GetZULStatus(h)) << "released";
        // First register with bit 0 set: not readable, the second is not read.
        model.SetRegister(kDisk, c.first, 0x01);
        model.ClearLog();
        EXPECT_EQ(-1, ZedoUSBLib_GetZULStatus(h));
        EXPECT_EQ((std::vector<WORD>{0xC8FF, c.first}), RegistersRead(model, kDisk));
    }

    // The identification read failing: the other pair is tried and fails as well. The poll says so
    // by its code alone (no box on a polling thread).
    model.Device(kDisk).failRegisterRead = true;
    EXPECT_EQ(-1, ZedoUSBLib_GetZULStatus(h));
    model.SetRemoved(kDisk, true);
    EXPECT_EQ(-1, ZedoUSBLib_GetZULStatus(h));
    EXPECT_EQ(-1, ZedoUSBLib_GetZULStatus(nullptr));
    EXPECT_TRUE(CModelScope::Messages().empty());

    EXPECT_EQ(0, ChipClassFromId(2));
    EXPECT_EQ(1, ChipClassFromId(3));
    EXPECT_EQ(255, ChipClassFromId(19));
    EXPECT_EQ(255, ChipClassFromId(0));
}

TEST_F(Exports, ChipTypeOfTheIndexedBridge)
{
    ASSERT_EQ(0, ZedoUSBLib_Load());
    // No bridge: the box tells the count, -1.
    EXPECT_EQ(-1, ZedoUSBLib_bGetChipType(0));
    EXPECT_EQ((std::vector<std::string>{"Error|Open Device Failed ! (Device Num = 0)"}), CModelScope::Messages());

    model.AddDevice("\\\\.\\physicaldrive1", 1);
    model.AddDevice(kDisk, 2);
    for (auto [id, type] : {std::pair<BYTE, int>{0x25, 3}, {0x05, 0}, {0x41, 255}, {0x15, 2}, {0x3F, 4}, {0xF0, 255}}) {
        SCOPED_TRACE(id);
        model.SetRegister(kDisk, 0xC8FF, id);
        EXPECT_EQ(type, ZedoUSBLib_bGetChipType(1));
        EXPECT_EQ(0, model.OpenHandles());
    }
    // An index past the bridges found is refused, and the list is closed again.
    CModelScope::ClearMessages();
    EXPECT_EQ(-3, ZedoUSBLib_bGetChipType(2));
    EXPECT_EQ(0, model.OpenHandles());
    EXPECT_TRUE(CModelScope::Messages().empty());
}

TEST(OperatingSystem, CodesFromTheVersionRecord)
{
    EXPECT_EQ(1, OSVersionTypeFrom(VER_PLATFORM_WIN32_WINDOWS, 4, 10));
    EXPECT_EQ(2, OSVersionTypeFrom(VER_PLATFORM_WIN32_WINDOWS, 4, 90));
    EXPECT_EQ(0, OSVersionTypeFrom(VER_PLATFORM_WIN32_WINDOWS, 4, 0));
    EXPECT_EQ(16, OSVersionTypeFrom(VER_PLATFORM_WIN32_NT, 5, 0));
    EXPECT_EQ(32, OSVersionTypeFrom(VER_PLATFORM_WIN32_NT, 5, 1));
    EXPECT_EQ(32, OSVersionTypeFrom(VER_PLATFORM_WIN32_NT, 5, 2));
    EXPECT_EQ(32, OSVersionTypeFrom(VER_PLATFORM_WIN32_NT, 6, 0));
    EXPECT_EQ(32, OSVersionTypeFrom(VER_PLATFORM_WIN32_NT, 10, 0));
    EXPECT_EQ(0, OSVersionTypeFrom(VER_PLATFORM_WIN32_NT, 4, 0));
    EXPECT_EQ(0, OSVersionTypeFrom(VER_PLATFORM_WIN32s, 3, 10));
}
