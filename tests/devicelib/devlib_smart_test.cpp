// ATA pass-through: the 12- and 16-byte command blocks byte for byte, the request header, IDENTIFY
// and SMART through the exports, and the private page past the capacity on 512- and 4096-byte disks.
#include <gtest/gtest.h>

#include <cstring>

#include "DiskModel.h"
#include "DiskUtility.h"
#include "Utility.h"
#include "ZedoUSBLib.h"

namespace {

using Bytes = std::vector<BYTE>;

class Ata : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ZedoUSBLib_Load()); }
    void TearDown() override { ZedoUSBLib_Unload(); }
    CDiskModel model;
    CDiskModelScope scope{model};
    CUtility utility;

    AtaCommand Last()
    {
        std::vector<AtaCommand> all = model.AtaCommands();
        return all.empty() ? AtaCommand() : all.back();
    }
};

void ExpectHeader(const AtaCommand& c, BYTE cdbLength, BYTE senseLength, BYTE dataIn, DWORD length)
{
    EXPECT_EQ(44, c.header.Length);
    EXPECT_EQ(0, c.header.PathId);
    EXPECT_EQ(0, c.header.TargetId);
    EXPECT_EQ(0, c.header.Lun);
    EXPECT_EQ(cdbLength, c.header.CdbLength);
    EXPECT_EQ(senseLength, c.header.SenseInfoLength);
    EXPECT_EQ(dataIn, c.header.DataIn);
    EXPECT_EQ(length, c.header.DataTransferLength);
    EXPECT_EQ(0xFFFFu, c.header.TimeOutValue);
    EXPECT_EQ(80u, c.header.DataBuffer);
    EXPECT_EQ(48u, c.header.SenseInfoOffset);
    EXPECT_EQ(65616u, c.inLength);
    EXPECT_EQ(80u + length, c.outLength);
}

TEST_F(Ata, IdentifyAndSmartCommandsThroughTheExports)
{
    model.AddDisk(2, 512, 1000000);
    char buffer[512];
    ASSERT_EQ(1, utility.bSendIdentifyATAPassThrough(2, reinterpret_cast<BYTE*>(buffer), 512));
    EXPECT_EQ(Bytes({0xA1, 0x08, 0x0D, 0x01, 0x00, 0x00, 0x00, 0x00, 0x10, 0xEC, 0x00, 0x00}), Last().cdb);
    ExpectHeader(Last(), 12, 24, 1, 512);
    EXPECT_EQ(0, memcmp(buffer, model.Disk(2).identify.data(), 512));

    ASSERT_EQ(1, ZedoUSBLib_GetSmartAttribute(2, buffer));
    EXPECT_EQ(Bytes({0xA1, 0x08, 0x0D, 0xD0, 0x00, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00}), Last().cdb);
    EXPECT_EQ(0, memcmp(buffer, model.Disk(2).smart.data(), 512));

    for (int i = 0; i < 512; ++i)
        buffer[i] = static_cast<char>(i * 5);
    ASSERT_EQ(1, ZedoUSBLib_WriteSmartLog(2, buffer, 0x80));
    EXPECT_EQ(Bytes({0xA1, 0x0A, 0x05, 0xD6, 0x01, 0x80, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00}), Last().cdb);
    ExpectHeader(Last(), 12, 24, 0, 512);
    EXPECT_EQ(Bytes(buffer, buffer + 512), Last().dataOut);

    char back[512] = {};
    ASSERT_EQ(1, ZedoUSBLib_ReadSmartLog(2, back, 0x80));
    EXPECT_EQ(Bytes({0xA1, 0x08, 0x0D, 0xD5, 0x01, 0x80, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00}), Last().cdb);
    EXPECT_EQ(0, memcmp(buffer, back, 512));

    // Null buffers and disks that are not there.
    EXPECT_EQ(0, ZedoUSBLib_ReadSmartLog(2, nullptr, 0));
    EXPECT_EQ(0, ZedoUSBLib_GetSmartAttribute(9, back));
    // Commands the senders do not carry.
    EXPECT_EQ(0, utility.bSendATAPassThroughBySCSICMD(2, 0, 1, 0, 0, 0, 0, 0x25, reinterpret_cast<BYTE*>(back), 512));
    EXPECT_EQ(0, utility.bSendATAPassThrough16BySCSICMD(2, 0, 1, 0, 0, 0, 0x50, 0xEC, reinterpret_cast<BYTE*>(back),
                                                        512));
}

TEST_F(Ata, ExportsAimedAtADiskThatIsNotThereReachNoOtherDisk)
{
    model.AddDisk(2, 512, 1000000);
    char buffer[512];
    memset(buffer, 0x5A, sizeof(buffer));
    float read = 0, write = 0;
    int error = 0;
    EXPECT_EQ(0, ZedoUSBLib_WriteSmartLog(9, buffer, 0x80));
    EXPECT_EQ(0, ZedoUSBLib_ReadSmartLog(9, buffer, 0x80));
    EXPECT_EQ(0, ZedoUSBLib_GetSmartAttribute(9, buffer));
    memset(buffer, 0x5A, sizeof(buffer));
    EXPECT_EQ(0, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(9, 1, buffer));
    EXPECT_EQ(0, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(9, 0, buffer));
    EXPECT_EQ(0, ZedoUSBLib_ReadWritePerfomanceTest(9, 0, 1, &read, &write, &error));
    EXPECT_EQ(0, error);
    // Nothing went to the disks that are there: no command, no write, no page past a capacity.
    EXPECT_TRUE(model.AtaCommands().empty());
    EXPECT_EQ(0, model.VolumeWrites());
    for (DWORD disk : {0u, 2u}) {
        EXPECT_TRUE(model.Disk(disk).events.empty()) << disk;
        EXPECT_TRUE(model.Disk(disk).beyond.empty()) << disk;
        EXPECT_EQ(0u, model.Disk(disk).logs.count(0x80)) << disk;
    }
}

TEST_F(Ata, FailedStatusCopiesNothing)
{
    model.AddDisk(2, 512, 1000000);
    model.Disk(2).forcedStatus = 2;   // CHECK CONDITION
    BYTE buffer[512];
    memset(buffer, 0x77, sizeof(buffer));
    EXPECT_EQ(0, ZedoUSBLib_GetSmartAttribute(2, reinterpret_cast<char*>(buffer)));
    EXPECT_EQ(0u, buffer[0] | buffer[1] | buffer[2] | buffer[3]);
    EXPECT_EQ(0x77, buffer[4]);
    EXPECT_EQ(0x77, buffer[511]);
}

// Answers shorter than what a reader uses are failures, never pages or sizes padded with zeros:
// IDENTIFY, the SMART pages and the private page through the pass-through, and the disk size.
TEST_F(Ata, ShortAnswersAreFailures)
{
    model.AddDisk(2, 512, 1000000);
    BYTE buffer[512];
    ASSERT_EQ(1, utility.bSendIdentifyATAPassThrough(2, buffer, 512));
    model.Disk(2).shortReplies[0xEC] = 511;
    EXPECT_EQ(0, utility.bSendIdentifyATAPassThrough(2, buffer, 512));

    model.Disk(2).shortReplies[0xB0] = 100;
    memset(buffer, 0x77, sizeof(buffer));
    EXPECT_EQ(0, ZedoUSBLib_GetSmartAttribute(2, reinterpret_cast<char*>(buffer)));
    EXPECT_EQ(0, ZedoUSBLib_ReadSmartLog(2, reinterpret_cast<char*>(buffer), 0x80));
    // Nothing of the cut answer was handed over.
    EXPECT_EQ(0u, buffer[0] | buffer[1] | buffer[2] | buffer[3]);
    EXPECT_EQ(Bytes(508, 0x77), Bytes(buffer + 4, buffer + 512));
    // Writing a page moves nothing back and is not affected.
    EXPECT_EQ(1, ZedoUSBLib_WriteSmartLog(2, reinterpret_cast<char*>(buffer), 0x80));

    char page[512];
    memset(page, 0x3C, sizeof(page));
    ASSERT_EQ(1, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 1, page));
    model.Disk(2).shortReplies[0x25] = 256;
    EXPECT_EQ(0, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 0, page));
}

// A disk-geometry answer that stops before the disk size gives no size: without the check the
// size read as 0 and the private page "past the capacity" was sector 0, the partition table.
TEST_F(Ata, GeometryWithoutTheDiskSizeGivesNoSize)
{
    model.AddDisk(2, 512, 1000000);
    model.shortControls[0x000700A0] = 24;   // the geometry record alone
    const Bytes mbr = model.ReadDisk(2, 0, 512);
    char page[512];
    memset(page, 0x3C, sizeof(page));
    EXPECT_EQ(0, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 1, page));
    EXPECT_EQ(mbr, model.ReadDisk(2, 0, 512));
    EXPECT_TRUE(model.AtaCommands().empty());
    EXPECT_EQ(0xFFFFFFFFu, utility.vGetDiskPhysicalSize(2));
    EXPECT_EQ(0x7FFFFFFFu, utility.vCheckFileSystemCapacity(2));

    model.shortControls.clear();
    EXPECT_EQ(488u, utility.vGetDiskPhysicalSize(2));
    EXPECT_EQ(1u, utility.vCheckFileSystemCapacity(2));
}

TEST_F(Ata, SixteenByteBlocks)
{
    model.AddDisk(2, 512, 1000000);
    BYTE buffer[512] = {};
    // LBA 1,000,000 = 0x0F4240: low field 0x00,0x40; mid 0x00,0x42; high 0x00,0x0F.
    ASSERT_EQ(1, utility.bSendATAPassThrough16BySCSICMD(2, 0, 1, 0x0040, 0x0042, 0x000F, 0x50, 0x25, buffer, 512));
    EXPECT_EQ(Bytes({0x85, 0x15, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x40, 0x00, 0x42, 0x00, 0x0F, 0x50, 0x25, 0x00}),
              Last().cdb);
    ExpectHeader(Last(), 16, 32, 1, 512);
    // LBA 0x123456789A: bits 31-24 0x34, 7-0 0x9A; 39-32 0x12, 15-8 0x78; 47-40 0x00, 23-16 0x56.
    utility.bSendATAPassThrough16BySCSICMD(2, 0x0102, 8, 0x349A, 0x1278, 0x0056, 0x50, 0x35, buffer, 512);
    EXPECT_EQ(Bytes({0x85, 0x17, 0x06, 0x01, 0x02, 0x00, 0x08, 0x34, 0x9A, 0x12, 0x78, 0x00, 0x56, 0x50, 0x35, 0x00}),
              Last().cdb);
    ExpectHeader(Last(), 16, 32, 0, 8 * 512);
}

TEST_F(Ata, PrivatePageOn512ByteDisk)
{
    model.AddDisk(2, 512, 1000000);
    char page[512];
    for (int i = 0; i < 512; ++i)
        page[i] = static_cast<char>(i ^ 0x5A);
    ASSERT_EQ(1, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 1, page));
    EXPECT_EQ(Bytes({0x85, 0x17, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x40, 0x00, 0x42, 0x00, 0x0F, 0x50, 0x35, 0x00}),
              Last().cdb);
    // The page is past the capacity: no user sector changed.
    ASSERT_EQ(1u, model.Disk(2).beyond.count(1000000));
    char back[512] = {};
    ASSERT_EQ(1, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 0, back));
    EXPECT_EQ(0, memcmp(page, back, 512));
}

TEST_F(Ata, PrivatePageOn4096ByteDisk)
{
    // 1,000,000 sectors of 4096 bytes; the drive's own sectors are 512 bytes.
    model.AddDisk(2, 4096, 1000000);
    char page[512];
    for (int i = 0; i < 512; ++i)
        page[i] = static_cast<char>(i * 7);
    ASSERT_EQ(1, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 1, page));
    AtaCommand c = Last();
    // LBA 8,000,000 = 0x7A1200, eight 512-byte sectors.
    EXPECT_EQ(Bytes({0x85, 0x17, 0x06, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x12, 0x00, 0x7A, 0x50, 0x35, 0x00}),
              c.cdb);
    EXPECT_EQ(4096u, c.header.DataTransferLength);
    EXPECT_EQ(0, memcmp(c.dataOut.data(), page, 512));
    EXPECT_EQ(Bytes(3584, 0), Bytes(c.dataOut.begin() + 512, c.dataOut.end()));
    char back[600];
    memset(back, 0x11, sizeof(back));
    ASSERT_EQ(1, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 0, back));
    EXPECT_EQ(0, memcmp(page, back, 512));
    EXPECT_EQ(0x11, back[512]);   // never more than the caller's 512 bytes

    // Without a valid word 106, or without IDENTIFY at all, the address cannot be known: refused.
    const size_t before = model.AtaCommands().size();
    model.Disk(2).identify[213] = 0x00;
    EXPECT_EQ(0, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 1, page));
    model.Disk(2).identify[213] = 0x60;
    model.Disk(2).identifyFails = true;
    EXPECT_EQ(0, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 1, page));
    std::vector<AtaCommand> after = model.AtaCommands();
    ASSERT_EQ(before + 2, after.size());   // only the two IDENTIFY requests
    for (size_t i = before; i < after.size(); ++i)
        EXPECT_EQ(0xEC, after[i].cdb[9]);
    // No user data was touched by any of it.
    EXPECT_EQ(Bytes(4096, 0), model.ReadDisk(2, (1000000ull - 1) * 4096, 4096));
}

TEST_F(Ata, PrivatePageOnDiskWith4096ByteDriveSectors)
{
    // Word 106 says the drive's own sectors are 4096 bytes (bit 12 set): one sector, LBA in those units.
    model.AddDisk(2, 4096, 1000000);
    model.Disk(2).identify[213] = 0x70;
    model.Disk(2).logicalSectorSize = 4096;
    char page[512];
    memset(page, 0x3C, sizeof(page));
    ASSERT_EQ(1, ZedoUSBLib_vReadWriteSmartLogPage_LastSector(2, 1, page));
    EXPECT_EQ(Bytes({0x85, 0x17, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x40, 0x00, 0x42, 0x00, 0x0F, 0x50, 0x35, 0x00}),
              Last().cdb);
    EXPECT_EQ(4096u, Last().header.DataTransferLength);
}

} // namespace
