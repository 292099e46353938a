// The utility object's own helpers: record reset, registry property texts, GUID texts, volume
// letters and media-type names.
#include <gtest/gtest.h>

#include <cstring>

#include "BridgeModel.h"
#include "Library.h"
#include "Utility.h"

TEST(Utility, ClearGivesEveryRecordItsNoneValues)
{
    ASSERT_EQ(0, CreateUtilityInstance());
    CUtility& u = *g_pUtility;
    memset(&u.m_pDevList, 0x5A, sizeof(u.m_pDevList));
    u.m_strSerialNumber = "stale";
    u.m_ucBridgeDisks = 3;
    u.vClearPrivateData();
    EXPECT_EQ(0u, u.m_pDevList.dwCount);
    EXPECT_EQ(0, u.m_pDevList.ucCurrent);
    EXPECT_TRUE(u.m_strSerialNumber.empty());
    EXPECT_EQ(0, u.m_ucBridgeDisks);
    for (const USBDevInfo_& rec : u.m_pDevList.Devs) {
        EXPECT_EQ(255, rec.ucIndex);
        EXPECT_EQ(0x7F, rec.cDriveLetter);
        EXPECT_EQ(0xFFFFFFFFu, rec.dwDiskSize[0]);
        EXPECT_EQ(0xFFFFFFFFu, rec.dwDiskSize[1]);
        EXPECT_EQ(255, rec.m_ucPhysicalAddress);
        EXPECT_EQ(255, rec.ucLocation);
        EXPECT_EQ(255, rec.nConfigFlag1);
        EXPECT_EQ(255, rec.nConfigFlag2);
        EXPECT_EQ(0, rec.nCDROM);
        EXPECT_EQ(0, rec.szSerialNumber[0]);
        EXPECT_EQ(0, rec.szSpeed[0]);
        for (BYTE b : rec.ucDiskArea)
            ASSERT_EQ(0, b);
    }
}

TEST(Utility, RegistryPropertiesAreFormattedByTheirType)
{
    const BYTE multi[] = "USB\\VID_2B9D&PID_3100&REV_0100\0USB\\VID_2B9D&PID_3100\0";
    EXPECT_EQ("USB\\VID_2B9D&PID_3100&REV_0100", CUtility::FormatRegistryProperty(REG_MULTI_SZ, multi, sizeof(multi), 1));
    // A string without its terminator is bounded by the data's size.
    const BYTE text[4] = {'A', 'B', 'C', 'D'};
    EXPECT_EQ("ABC", CUtility::FormatRegistryProperty(REG_SZ, text, 3, 0));
    const DWORD address = 0x00020005;
    EXPECT_EQ("5 2", CUtility::FormatRegistryProperty(REG_DWORD, reinterpret_cast<const BYTE*>(&address), 4, 28));
    EXPECT_EQ("131077", CUtility::FormatRegistryProperty(REG_DWORD, reinterpret_cast<const BYTE*>(&address), 4, 21));
    const DWORD negative = 0xFFFFFFFF;
    EXPECT_EQ("-1", CUtility::FormatRegistryProperty(REG_DWORD, reinterpret_cast<const BYTE*>(&negative), 4, 16));
    EXPECT_EQ("", CUtility::FormatRegistryProperty(REG_DWORD, text, 2, 16));
    const BYTE binary[2] = {0xAB, 0x01};
    EXPECT_EQ("1ab", CUtility::FormatRegistryProperty(REG_BINARY, binary, 2, 0));
    EXPECT_EQ("", CUtility::FormatRegistryProperty(REG_NONE, binary, 2, 0));
}

TEST(Utility, GuidTexts)
{
    const GUID hc = {0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};
    EXPECT_TRUE(IsEqualGUID(hc, CUtility::vCStringToGUID("{3ABF6F2D-71C4-462A-8A92-1E6861E6AF27}")));
    EXPECT_TRUE(IsEqualGUID(hc, CUtility::vCStringToGUID("3abf6f2d-71c4-462a-8a92-1e6861e6af27")));
    const GUID zero = {};
    EXPECT_TRUE(IsEqualGUID(zero, CUtility::vCStringToGUID("{3ABF6F2D-71C4}")));
    EXPECT_TRUE(IsEqualGUID(zero, CUtility::vCStringToGUID("{3ABF6F2D-71C4-462A-8A92-1E6861E6AF27")));
    EXPECT_TRUE(IsEqualGUID(zero, CUtility::vCStringToGUID(nullptr)));
}

TEST(Utility, FirstVolumeLetterOnADiskAndMediaNames)
{
    CBridgeModel model;
    CModelScope scope(model);
    model.AddVolume('C', {0});
    model.AddVolume('E', {3});
    model.AddVolume('F', {3});
    model.AddVolume('G', {}); // no extents
    EXPECT_EQ('E', CUtility::vGetLogicalAddressFromPhysicalAddress(3));
    EXPECT_EQ('C', CUtility::vGetLogicalAddressFromPhysicalAddress(0));
    EXPECT_EQ(0x7F, CUtility::vGetLogicalAddressFromPhysicalAddress(5));
    EXPECT_EQ(0, model.OpenHandles());

    EXPECT_STREQ("Format is unknown", CUtility::MediaTypeName(0));
    EXPECT_STREQ("A 3.5 floppy, with 1.44MB and 512 bytes/sector.", CUtility::MediaTypeName(2));
    EXPECT_STREQ("Removable media other than floppy.", CUtility::MediaTypeName(11));
    EXPECT_STREQ("Fixed hard disk media.", CUtility::MediaTypeName(12));
    EXPECT_STREQ("", CUtility::MediaTypeName(26));
    EXPECT_STREQ("", CUtility::MediaTypeName(0xFFFFFFFF));
}
