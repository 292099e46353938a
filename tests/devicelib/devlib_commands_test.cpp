// The command blocks, lengths, directions and time-outs the library sends, checked against the
// bridge model's record of every request.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

#include "BridgeModel.h"
#include "ZedoUSBDev.h"

// The library object owns its device object; a copy would delete it twice.
static_assert(!std::is_copy_constructible_v<CZedoUSBLib> && !std::is_copy_assignable_v<CZedoUSBLib>,
              "the library object cannot be copied");

namespace {

const char* const kDisk = "\\\\.\\physicaldrive1";

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        model.AddDevice(kDisk, 1);
        h = model.Open(kDisk);
        lib.m_pUSBDev = new CZedoUSBDev2K;
        model.ClearLog();
        CModelScope::ClearMessages();
    }
    void TearDown() override { delete lib.m_pUSBDev; }

    CBridgeModel model;
    CModelScope scope{model};
    CZedoUSBLib lib;
    HANDLE h = nullptr;
};

struct Expected {
    const char* name;
    std::function<int(CZedoUSBLib&, HANDLE, BYTE*)> call;
    std::vector<BYTE> cdb; // as long as the command block
    BYTE dataIn;
    DWORD length;
    DWORD timeOut;
    bool direct;
    DWORD inLength;
    DWORD outLength;
};

const DWORD kWhole = 0x10050;

std::vector<BYTE> Pattern(size_t n, BYTE seed)
{
    std::vector<BYTE> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<BYTE>(seed + i * 13);
    return v;
}

} // namespace

TEST_F(Commands, EveryCommandSendsItsBlockDirectionLengthAndTimeOut)
{
    const std::vector<Expected> table = {
        {"ReadSerEEPROM", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReadSerEEPROM(h, 0x12, b); },
         {0xE3, 0, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0}, 1, 1, 3, false, 0x2C, 0x51},
        {"WriteSerEEPROM", [](CZedoUSBLib& l, HANDLE h, BYTE*) { return l.WriteSerEEPROM(h, 0x34, 0x56); },
         {0xE4, 0, 0, 0, 0, 0x34, 0, 0, 0, 0, 0, 0}, 0, 1, 3, false, kWhole, 0x51},
        {"WritePageRdnt", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.WritePageRdnt(h, 0xAB, 0x01020304, b, 0x200); },
         {0xEF, 0xAB, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0}, 0, 0x200, 3, true, 0x50, 0x50},
        {"VendRead", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.VendRead(h, 5, b, 0x40); },
         {0xE7, 5, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0}, 1, 0x40, 3, false, 0x2C, 0x90},
        {"VendWrite", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.VendWrite(h, 7, b, 0x100); },
         {0xE6, 7, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, 0, 0x100, 3, false, kWhole, 0x150},
        {"Restart", [](CZedoUSBLib& l, HANDLE h, BYTE*) { return l.Restart(h); },
         {0xE9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 0, 3, false, 0x2C, 0x50},
        {"GetNANDInfo", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.GetNANDInfo(h, b, 0x120); },
         {0xEE, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0}, 1, 0x120, 3, false, 0x2C, 0x170},
        {"EraseNANDData", [](CZedoUSBLib& l, HANDLE h, BYTE*) { return l.EraseNANDData(h, 9, 0x00ABCDEF); },
         {0xEB, 9, 0, 0, 0xCD, 0xEF, 0, 0, 0, 0, 0, 0}, 2, 0, 3, false, 0x2C, 0x50},
        {"WriteNANDData", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.WriteNANDData(h, 2, 0x11223344, b, 0x800, 5); },
         {0xED, 2, 0x11, 0x22, 0x33, 0x44, 0, 0x08, 0x00, 1, 0, 0}, 0, 0x800, 3, true, 0x50, 0x50},
        {"ReadNANDData", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReadNANDData(h, 2, 0x11223344, b, 0x800, 0); },
         {0xEC, 2, 0x11, 0x22, 0x33, 0x44, 0, 0x08, 0x00, 0, 0, 0}, 1, 0x800, 3, true, 0x50, 0x50},
        {"ReceiveDRAMData", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReceiveDRAMData(h, b, 0x400); },
         {0xEC, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0, 0, 0}, 1, 0x400, 8, true, 0x50, 0x50},
        {"TransferDRAMData", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.TransferDRAMData(h, b, 0x400); },
         {0xEB, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0, 0, 0}, 0, 0x400, 60, true, 0x50, 0x50},
        {"ReceiveData", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReceiveData(h, 3, b, 0x300); },
         {0xE8, 3, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0}, 1, 0x300, 3, false, 0x2C, 0x350},
        {"TransferData", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.TransferData(h, 3, b, 0x300); },
         {0xEA, 3, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0}, 0, 0x300, 60, false, kWhole, 0x350},
        {"GetPlatformInfo", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.GetPlatformInfo(h, 4, b, 0x102); },
         {0xE5, 4, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0}, 1, 0x102, 3, false, 0x2C, 0x152},
        {"ReadLBA", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReadLBA(h, 0x01020304, 2, b); },
         {0x28, 0, 1, 2, 3, 4, 0, 0, 2, 0, 0, 0}, 1, 0x400, 5, true, 0x50, 0x50},
        {"WriteLBA", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.WriteLBA(h, 0x01020304, 2, b); },
         {0x2A, 0, 1, 2, 3, 4, 0, 0, 2, 0, 0, 0}, 0, 0x400, 5, true, 0x50, 0x50},
        {"ReadCapacity", [](CZedoUSBLib& l, HANDLE h, BYTE* b) {
             return l.ReadCapacity(h, reinterpret_cast<DWORD*>(b), reinterpret_cast<DWORD*>(b + 4)); },
         {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 8, 3, false, 0x2C, 0x58},
        {"ExecProc", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ExecProc(h, 0xA0B0C0D0, 0x10, b); },
         {0xE2, 0, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0x10, 0, 0, 0}, 0, 0x10, 5, true, 0x50, 0x50},
        {"SCSI3E71 read", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.SCSI3E71_AccessHardDisk(h, 0, 0x0102030405ULL, b, 2); },
         {0xE6, 0, 0, 0, 0x25, 0, 0x05, 0x04, 0x03, 0x40, 0x02, 0x01, 0x00, 0, 2, 0}, 1, 0x400, 10, false, kWhole, 0x450},
        {"SCSI3E71 write", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.SCSI3E71_AccessHardDisk(h, 1, 0x0102030405ULL, b, 2); },
         {0xE6, 0, 0, 0, 0x35, 0, 0x05, 0x04, 0x03, 0x40, 0x02, 0x01, 0x00, 0, 2, 0}, 0, 0x400, 10, false, kWhole, 0x450},
        {"ShowDisk", [](CZedoUSBLib& l, HANDLE h, BYTE*) { return l.SCSI3E71_ShowDisk(h); },
         {0xE9, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 0, 3, false, kWhole, 0x50},
        {"HideDisk", [](CZedoUSBLib& l, HANDLE h, BYTE*) { return l.SCSI3E71_HideDisk(h); },
         {0xE9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 0, 3, false, kWhole, 0x50},
        {"GetDiskStatus", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.SCSI3E71_GetDiskStatus(h, b); },
         {0xEA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 1, 3, false, 0x2C, 0x51},
        {"ATA IDENTIFY", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AtaPassThrougth(h, b, 512); },
         {0xA1, 0x08, 0x0D, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xEC, 0x00, 0x00}, 1, 512, 3, false, kWhole, 0x250},
        {"config EEPROM read", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessConfigEEPROM(h, 0, b, 128); },
         {0xE0, 0, 0, 0, 0, 0}, 1, 128, 3, false, kWhole, 0xD0},
        {"config EEPROM write", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessConfigEEPROM(h, 1, b, 128); },
         {0xE1, 0, 0, 0, 0, 0}, 0, 128, 60, false, kWhole, 0xD0},
        {"register read", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessRegister(h, 0, 0xC8FF, b, 1); },
         {0xE4, 0x01, 0x00, 0xC8, 0xFF, 0x00}, 1, 1, 3, false, kWhole, 0x51},
        {"register read 256", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessRegister(h, 0, 0x1234, b, 256); },
         {0xE4, 0x00, 0x00, 0x12, 0x34, 0x00}, 1, 256, 3, false, kWhole, 0x150},
        {"register write", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { b[0] = 0x5A; return l.QT60X_AccessRegister(h, 1, 0xC880, b, 1); },
         {0xE5, 0x5A, 0x00, 0xC8, 0x80, 0x00}, 0, 0, 60, false, kWhole, kWhole},
        {"firmware EEPROM read", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessFirmwareEEPROM(h, 0, b, 0x100); },
         {0xE2, 0, 0, 0, 0, 0}, 1, 0x100, 3, false, kWhole, 0x150},
        {"firmware EEPROM write", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessFirmwareEEPROM(h, 1, b, 0x100); },
         {0xE3, 0, 0, 0, 0, 0}, 0, 0x100, 60, false, kWhole, 0x150},
        {"Disconnect", [](CZedoUSBLib& l, HANDLE h, BYTE*) { return l.QT60X_Disconnect(h); },
         {0xE8, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 0, 3, false, kWhole, 0},
        {"CPURST", [](CZedoUSBLib& l, HANDLE h, BYTE*) { return l.QT60X_CPURST(h); },
         {0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 0, 3, false, kWhole, 0x50},
        {"INQUIRY", [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.m_pUSBDev->SCSI_Inquiry(h, b, 38); },
         {0x12, 0, 0, 0, 38, 0, 0, 0, 0, 0, 0, 0}, 1, 38, 3, false, 0x2C, 0x76},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        std::vector<BYTE> buffer = Pattern(0x1000, 0x21);
        const std::vector<BYTE> sent = buffer;
        model.ClearLog();
        ASSERT_EQ(0, e.call(lib, h, buffer.data()));
        std::vector<ModelCommand> log = model.Commands();
        ASSERT_EQ(1u, log.size());
        const ModelCommand& c = log[0];
        EXPECT_EQ(e.cdb, c.cdb);
        std::vector<BYTE> rest(c.header.Cdb + c.cdb.size(), c.header.Cdb + 16);
        EXPECT_EQ(std::vector<BYTE>(16 - c.cdb.size(), 0), rest) << "bytes after the block are 0";
        EXPECT_EQ(e.dataIn, c.header.DataIn);
        EXPECT_EQ(e.length, c.header.DataTransferLength);
        EXPECT_EQ(e.timeOut, c.header.TimeOutValue);
        EXPECT_EQ(e.direct, c.Direct());
        EXPECT_EQ(e.inLength, c.inLength);
        EXPECT_EQ(e.outLength, c.outLength);
        EXPECT_EQ(0x2C, c.header.Length);
        EXPECT_EQ(24, c.header.SenseInfoLength);
        EXPECT_EQ(0x30u, c.header.SenseInfoOffset);
        EXPECT_EQ(0, c.header.PathId + c.header.TargetId + c.header.Lun);
        const DWORD dwExpectedBuffer =
            e.direct ? static_cast<DWORD>(reinterpret_cast<UINT_PTR>(buffer.data())) : 0x50u;
        EXPECT_EQ(dwExpectedBuffer, c.header.DataBuffer);
        if (e.dataIn == 0 && e.length > 1) {
            EXPECT_EQ(std::vector<BYTE>(sent.begin(), sent.begin() + e.length), c.dataOut);
        }
    }
    EXPECT_TRUE(CModelScope::Messages().empty());
}

TEST_F(Commands, LongTransfersGoInPiecesOf64KiB)
{
    // 0x18000 bytes: two commands carrying piece length, total length and piece index.
    std::vector<BYTE> data = Pattern(0x18000, 3);
    ASSERT_EQ(0, lib.VendWrite(h, 0x11, data.data(), 0x18000));
    auto log = model.Commands();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(0x10000u, BE32(&log[0].cdb[2]));
    EXPECT_EQ(0x8000u, BE32(&log[1].cdb[2]));
    EXPECT_EQ(0x18000u, BE32(&log[0].cdb[6]));
    EXPECT_EQ(0x18000u, BE32(&log[1].cdb[6]));
    EXPECT_EQ(0, log[0].cdb[10]);
    EXPECT_EQ(1, log[1].cdb[10]);
    EXPECT_TRUE(std::equal(log[1].dataOut.begin(), log[1].dataOut.end(), data.begin() + 0x10000));

    // Exactly 0x10000 bytes is one command; 0x10001 are two of 0x10000 and 1 byte.
    model.ClearLog();
    ASSERT_EQ(0, lib.QT60X_AccessFirmwareEEPROM(h, 1, data.data(), 0x10000));
    EXPECT_EQ(1u, model.Commands().size());
    model.ClearLog();
    ASSERT_EQ(0, lib.ReceiveData(h, 0, data.data(), 0x10001));
    log = model.Commands();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(0x10000u, log[0].header.DataTransferLength);
    EXPECT_EQ(1u, log[1].header.DataTransferLength);
    EXPECT_EQ(0x10001u, BE32(&log[1].cdb[2]));
    EXPECT_EQ(1u, BE32(&log[1].cdb[6]));
    EXPECT_EQ(1, log[1].cdb[10]);

    // The firmware EEPROM takes 0x10001 bytes in two pieces and gives them back the same way.
    model.ClearLog();
    std::vector<BYTE> image = Pattern(0x10001, 0x77);
    ASSERT_EQ(0, lib.QT60X_AccessFirmwareEEPROM(h, 1, image.data(), 0x10001));
    std::vector<BYTE> back(0x10001);
    ASSERT_EQ(0, lib.QT60X_AccessFirmwareEEPROM(h, 0, back.data(), 0x10001));
    EXPECT_EQ(image, back);
    EXPECT_EQ(4u, model.Commands().size());

    // Block commands advance the address by each piece's 128 blocks.
    model.ClearLog();
    std::vector<BYTE> blocks = Pattern(129 * 512, 9);
    ASSERT_EQ(0, lib.WriteLBA(h, 1000, 129, blocks.data()));
    log = model.Commands();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(1000u, BE32(&log[0].cdb[2]));
    EXPECT_EQ(128, (log[0].cdb[7] << 8) | log[0].cdb[8]);
    EXPECT_EQ(1128u, BE32(&log[1].cdb[2]));
    EXPECT_EQ(1, (log[1].cdb[7] << 8) | log[1].cdb[8]);
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(blocks.data() + 128 * 512), log[1].header.DataBuffer);
    std::vector<BYTE> readBack(129 * 512);
    ASSERT_EQ(0, lib.ReadLBA(h, 1000, 129, readBack.data()));
    EXPECT_EQ(blocks, readBack);

    // Nothing to move: nothing sent.
    model.ClearLog();
    EXPECT_EQ(0, lib.VendWrite(h, 0, nullptr, 0));
    EXPECT_EQ(0, lib.ReadLBA(h, 5, 0, nullptr));
    EXPECT_EQ(0, lib.QT60X_AccessFirmwareEEPROM(h, 0, nullptr, 0));
    EXPECT_TRUE(model.Commands().empty());
}

TEST_F(Commands, AnswersAreHandedOverAsTheDeviceMeansThem)
{
    // Second-model disk access: the LBA travels in ATA taskfile order.
    std::vector<BYTE> sectors = Pattern(64 * 512, 1);
    ASSERT_EQ(0, lib.SCSI3E71_AccessHardDisk(h, 1, 0x123456789ABCULL, sectors.data(), 64));
    std::vector<BYTE> back(64 * 512);
    model.ClearLog();
    ASSERT_EQ(0, lib.SCSI3E71_AccessHardDisk(h, 0, 0x123456789ABCULL, back.data(), 64));
    EXPECT_EQ((std::vector<BYTE>{0xE6, 0x00, 0x00, 0x00, 0x25, 0x00, 0xBC, 0x9A, 0x78, 0x40, 0x56, 0x34, 0x12, 0x00,
                                 0x40, 0x00}),
              model.Commands().at(0).cdb);
    EXPECT_EQ(sectors, back);

    // IDENTIFY words are byte-swapped for the caller.
    model.Device(kDisk).identify[0] = 0x40;
    model.Device(kDisk).identify[1] = 0x00;
    BYTE identify[512];
    ASSERT_EQ(0, lib.QT60X_AtaPassThrougth(h, identify, 512));
    EXPECT_EQ(0x00, identify[0]);
    EXPECT_EQ(0x40, identify[1]);
    EXPECT_EQ(3, identify[2]); // data byte 3
    EXPECT_EQ(2, identify[3]);

    // READ CAPACITY 00 00 FF FF 00 00 02 00: 0x10000 blocks of 512 bytes.
    DWORD dwBlocks = 0, dwLength = 0;
    ASSERT_EQ(0, lib.ReadCapacity(h, &dwBlocks, &dwLength));
    EXPECT_EQ(0x10000u, dwBlocks);
    EXPECT_EQ(512u, dwLength);

    // A configuration EEPROM write sends the caller's bytes in every write mode.
    std::vector<BYTE> config = Pattern(128, 0x40);
    for (BYTE rw : {1, 2, 0xFF}) {
        SCOPED_TRACE(rw);
        model.ClearLog();
        model.Device(kDisk).config.fill(0);
        ASSERT_EQ(0, lib.QT60X_AccessConfigEEPROM(h, rw, config.data(), 128));
        EXPECT_EQ(config, model.Commands().at(0).dataOut);
        BYTE read[128] = {};
        ASSERT_EQ(0, lib.QT60X_AccessConfigEEPROM(h, 0, read, 128));
        EXPECT_EQ(config, std::vector<BYTE>(read, read + 128));
    }

    // Register write then read back; a read of several bytes reads consecutive registers.
    BYTE value = 0x5A;
    ASSERT_EQ(0, lib.QT60X_AccessRegister(h, 1, 0xC880, &value, 1));
    value = 0x33;
    ASSERT_EQ(0, lib.QT60X_AccessRegister(h, 1, 0xC881, &value, 1));
    BYTE two[2] = {};
    ASSERT_EQ(0, lib.QT60X_AccessRegister(h, 0, 0xC880, two, 2));
    EXPECT_EQ(0x5A, two[0]);
    EXPECT_EQ(0x33, two[1]);

    // Show and hide reach the second model's status byte.
    BYTE status = 0xEE;
    ASSERT_EQ(0, lib.SCSI3E71_HideDisk(h));
    ASSERT_EQ(0, lib.SCSI3E71_GetDiskStatus(h, &status));
    EXPECT_EQ(0, status);
    ASSERT_EQ(0, lib.SCSI3E71_ShowDisk(h));
    ASSERT_EQ(0, lib.SCSI3E71_GetDiskStatus(h, &status));
    EXPECT_EQ(1, status);
}

TEST_F(Commands, FailuresAndBadArgumentsGiveTheirCodes)
{
    // A device that answers CHECK CONDITION fails although the request itself succeeded.
    model.Device(kDisk).forcedStatus = 0x02;
    DWORD dwBlocks = 7, dwLength = 7;
    EXPECT_EQ(-1, lib.ReadCapacity(h, &dwBlocks, &dwLength));
    EXPECT_EQ(0u, dwBlocks);
    EXPECT_EQ(0u, dwLength);
    BYTE reg[8];
    memset(reg, 0xAA, sizeof(reg));
    EXPECT_EQ(-1, lib.QT60X_AccessRegister(h, 0, 0xC8FF, reg, 8));
    EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}), std::vector<BYTE>(reg, reg + 8));
    // A failing piece ends the transfer at once.
    model.ClearLog();
    std::vector<BYTE> big(0x30000);
    EXPECT_EQ(-1, lib.VendWrite(h, 0, big.data(), 0x30000));
    EXPECT_EQ(1u, model.Commands().size());
    model.Device(kDisk).forcedStatus = 0;

    // A removed device fails the request itself.
    model.SetRemoved(kDisk, true);
    EXPECT_EQ(-1, lib.QT60X_CPURST(h));
    model.SetRemoved(kDisk, false);

    // Limits: nothing is sent.
    model.ClearLog();
    std::vector<BYTE> buffer(0x20000);
    BYTE* b = buffer.data();
    EXPECT_EQ(-3, lib.QT60X_AccessRegister(h, 0, 0xC8FF, b, 257));
    EXPECT_EQ(-3, lib.QT60X_AccessRegister(h, 0, 0xC8FF, b, 0));
    EXPECT_EQ(-3, lib.QT60X_AccessRegister(h, 0, 0xC8FF, nullptr, 1));
    EXPECT_EQ(-3, lib.QT60X_AccessRegister(h, 1, 0xC8FF, nullptr, 1));
    EXPECT_EQ(-3, lib.QT60X_AccessConfigEEPROM(h, 0, b, 127));
    EXPECT_EQ(-3, lib.QT60X_AccessConfigEEPROM(h, 1, nullptr, 128));
    EXPECT_EQ(-3, lib.QT60X_AtaPassThrougth(h, b, 511));
    EXPECT_EQ(-3, lib.QT60X_AtaPassThrougth(h, nullptr, 512));
    EXPECT_EQ(-3, lib.QT60X_AccessFirmwareEEPROM(h, 0, nullptr, 16));
    EXPECT_EQ(-3, lib.SCSI3E71_AccessHardDisk(h, 0, 0x123456789ABCULL, b, 65));
    EXPECT_EQ(-3, lib.SCSI3E71_AccessHardDisk(h, 0, 1ULL << 48, b, 1));
    EXPECT_EQ(-3, lib.SCSI3E71_AccessHardDisk(h, 0, (1ULL << 48) - 1, b, 2));
    EXPECT_EQ(-3, lib.SCSI3E71_AccessHardDisk(h, 0, ~0ULL, b, 1));
    EXPECT_EQ(-3, lib.SCSI3E71_AccessHardDisk(h, 0, 0, nullptr, 1));
    EXPECT_EQ(-3, lib.SCSI3E71_GetDiskStatus(h, nullptr));
    EXPECT_EQ(-3, lib.ReadLBA(h, 0xFFFFFFFF, 2, b));
    EXPECT_EQ(-3, lib.WriteLBA(h, 0, 0x800000, b));
    EXPECT_EQ(-3, lib.ReadLBA(h, 0, 1, nullptr));
    EXPECT_EQ(-3, lib.ReadCapacity(h, nullptr, &dwLength));
    EXPECT_EQ(-3, lib.VendRead(h, 0, b, 0x10001));
    EXPECT_EQ(-3, lib.GetNANDInfo(h, b, 0x10001));
    // A piece index travels in one byte: at most 256 pieces.
    EXPECT_EQ(-3, lib.VendWrite(h, 0, b, 256 * 0x10000 + 1));
    EXPECT_EQ(-3, lib.TransferData(h, 0, b, 256 * 0x10000 + 1));
    EXPECT_EQ(-3, lib.ReceiveData(h, 0, b, 0xFFFFFFFF));
    EXPECT_EQ(-3, lib.ReadSerEEPROM(h, 0, nullptr));
    EXPECT_TRUE(model.Commands().empty());
    EXPECT_TRUE(CModelScope::Messages().empty());

    // Missing handles: -3 and no request; some commands say so in a box first.
    for (HANDLE bad : {HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
        CModelScope::ClearMessages();
        EXPECT_EQ(-3, lib.ReadLBA(bad, 0, 1, b));
        EXPECT_EQ(-3, lib.Restart(bad));
        EXPECT_EQ(-3, lib.QT60X_AccessRegister(bad, 0, 0xC8FF, b, 1));
        EXPECT_EQ(-3, lib.SCSI3E71_ShowDisk(bad));
        EXPECT_EQ(-3, lib.QT60X_Disconnect(bad));
        EXPECT_EQ(-3, lib.ExecProc(bad, 0, 1, b));
        // The serial EEPROM write tests no handle: the request fails.
        EXPECT_EQ(-1, lib.WriteSerEEPROM(bad, 0, 1));
        EXPECT_EQ((std::vector<std::string>{"Error|SCSI_ReadLBA: hDevice is NULL", "Error|hDevice is NULL",
                                            "Error|SCSI_ExecProc: hDevice is NULL"}),
                  CModelScope::Messages());
    }
    EXPECT_TRUE(model.Commands().empty());
}

// The chip does what the commands ask, so a wrong byte shows as a wrong answer: data written
// with one command comes back with its counterpart, and a block the chip cannot take is refused.
TEST_F(Commands, TheChipCarriesOutWhatItKnowsAndRefusesTheRest)
{
    // Serial EEPROM, one byte at an address.
    ASSERT_EQ(0, lib.WriteSerEEPROM(h, 0x34, 0x56));
    ASSERT_EQ(0, lib.WriteSerEEPROM(h, 0x35, 0x78));
    BYTE value = 0;
    ASSERT_EQ(0, lib.ReadSerEEPROM(h, 0x34, &value));
    EXPECT_EQ(0x56, value);

    // Vendor data in pieces, read back in one command.
    std::vector<BYTE> vendor = Pattern(0x10000, 5), vendorBack(0x10000);
    ASSERT_EQ(0, lib.VendWrite(h, 7, vendor.data(), 0x10000));
    ASSERT_EQ(0, lib.VendRead(h, 7, vendorBack.data(), 0x10000));
    EXPECT_EQ(vendor, vendorBack);

    // Bulk data, DRAM and NAND pages over more than one piece each.
    std::vector<BYTE> bulk = Pattern(0x18000, 9), back(0x18000);
    ASSERT_EQ(0, lib.TransferData(h, 2, bulk.data(), 0x18000));
    ASSERT_EQ(0, lib.ReceiveData(h, 2, back.data(), 0x18000));
    EXPECT_EQ(bulk, back);
    std::fill(back.begin(), back.end(), 0);
    ASSERT_EQ(0, lib.TransferDRAMData(h, bulk.data(), 0x18000));
    ASSERT_EQ(0, lib.ReceiveDRAMData(h, back.data(), 0x18000));
    EXPECT_EQ(bulk, back);
    std::fill(back.begin(), back.end(), 0);
    ASSERT_EQ(0, lib.WriteNANDData(h, 1, 0x00020003, bulk.data(), 0x18000, 1));
    ASSERT_EQ(0, lib.ReadNANDData(h, 1, 0x00020003, back.data(), 0x18000, 1));
    EXPECT_EQ(bulk, back);
    // An erased block reads as all ones.
    ASSERT_EQ(0, lib.EraseNANDData(h, 1, 0x0003));
    ASSERT_EQ(0, lib.ReadNANDData(h, 1, 0x00020003, back.data(), 0x200, 1));
    EXPECT_EQ(std::vector<BYTE>(0x200, 0xFF), std::vector<BYTE>(back.begin(), back.begin() + 0x200));

    // Code to run arrives with its address.
    std::vector<BYTE> code = Pattern(0x40, 1);
    ASSERT_EQ(0, lib.ExecProc(h, 0x8000, 0x40, code.data()));
    EXPECT_EQ(0x8000u, model.Device(kDisk).lastExecAddress);
    EXPECT_EQ(code, model.Device(kDisk).lastExecData);

    // Blocks the chip does not know, or that do not fit their command, end with CHECK
    // CONDITION and ILLEGAL REQUEST sense: an unknown operation code, a register read whose
    // count disagrees with its transfer, a 6-byte command sent as a 12-byte one, a register
    // write that would carry data in, and a vendor write whose piece length is not its transfer.
    struct Bad {
        const char* name;
        std::vector<BYTE> cdb;
        BYTE dataIn;
        DWORD length;
        BYTE asc;
    };
    const std::vector<Bad> bad = {
        {"unknown", {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ZEDO_DATA_NONE, 0, 0x20},
        {"vendor unknown", {0xE1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ZEDO_DATA_IN, 16, 0x20},
        {"register count", {0xE4, 0x02, 0x00, 0xC8, 0xFF, 0x00}, ZEDO_DATA_IN, 1, 0x24},
        {"register read as 12 bytes", {0xE4, 0x01, 0x00, 0xC8, 0xFF, 0x00, 0, 0, 0, 0, 0, 0}, ZEDO_DATA_IN, 1, 0x24},
        {"register write in", {0xE5, 0x5A, 0x00, 0xC8, 0x80, 0x00}, ZEDO_DATA_IN, 1, 0x24},
        {"vendor piece", {0xE6, 7, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, ZEDO_DATA_OUT, 0x80, 0x24},
        {"capacity out", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ZEDO_DATA_OUT, 8, 0x24},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        std::vector<BYTE> buffer(0x100);
        ZedoScsiCommand cmd;
        memcpy(cmd.Cdb, b.cdb.data(), b.cdb.size());
        cmd.CdbLength = static_cast<BYTE>(b.cdb.size());
        cmd.DataIn = b.dataIn;
        cmd.Data = buffer.data();
        cmd.DataLength = b.length;
        cmd.InLength = ZEDO_REQUEST_SIZE;
        cmd.OutLength = ZEDO_DATA_OFFSET + b.length;
        model.ClearLog();
        EXPECT_EQ(-1, ZedoSendCommand(h, cmd));
        auto log = model.Commands();
        ASSERT_EQ(1u, log.size());
        EXPECT_EQ(0x02, log[0].status);
        ASSERT_EQ(18u, log[0].sense.size());
        EXPECT_EQ(0x05, log[0].sense[2]);   // ILLEGAL REQUEST
        EXPECT_EQ(b.asc, log[0].sense[12]);
    }
    // A register read of the register file is still answered.
    BYTE reg = 0;
    ASSERT_EQ(0, lib.QT60X_AccessRegister(h, 0, 0xC8FF, &reg, 1));
    EXPECT_EQ(0x03, reg);

    // Pass-through needs a handle open for reading and writing.
    HANDLE hRead = model.OpenDevice(kDisk, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, hRead);
    model.ClearLog();
    EXPECT_EQ(-1, lib.QT60X_AccessRegister(hRead, 0, 0xC8FF, &reg, 1));
    EXPECT_TRUE(model.Commands().empty());
    model.CloseDevice(hRead);
}

// A device that sends fewer bytes than a reader asked for (the storage stack says so in the
// request's DataTransferLength) has not answered: every reader fails rather than hand over a
// buffer whose missing bytes read as zeros.
TEST_F(Commands, ShortAnswersFailEveryReader)
{
    struct Reader {
        const char* name;
        BYTE op;
        DWORD length;   // the bytes the reader asks for in one command
        std::function<int(CZedoUSBLib&, HANDLE, BYTE*)> call;
    };
    const std::vector<Reader> readers = {
        {"ReadSerEEPROM", 0xE3, 1, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReadSerEEPROM(h, 0x12, b); }},
        {"VendRead", 0xE7, 0x40, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.VendRead(h, 5, b, 0x40); }},
        {"GetNANDInfo", 0xEE, 0x120, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.GetNANDInfo(h, b, 0x120); }},
        {"ReadNANDData", 0xEC, 0x800,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReadNANDData(h, 2, 0x11223344, b, 0x800, 0); }},
        {"ReceiveDRAMData", 0xEC, 0x400, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReceiveDRAMData(h, b, 0x400); }},
        {"ReceiveData", 0xE8, 0x300, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReceiveData(h, 3, b, 0x300); }},
        {"GetPlatformInfo", 0xE5, 0x102,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.GetPlatformInfo(h, 4, b, 0x102); }},
        {"ReadLBA", 0x28, 0x400, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.ReadLBA(h, 0x100, 2, b); }},
        {"ReadCapacity", 0x25, 8,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) {
             return l.ReadCapacity(h, reinterpret_cast<DWORD*>(b), reinterpret_cast<DWORD*>(b + 4));
         }},
        {"SCSI3E71_AccessHardDisk", 0xE6, 0x400,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.SCSI3E71_AccessHardDisk(h, 0, 0x100, b, 2); }},
        {"SCSI3E71_GetDiskStatus", 0xEA, 1, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.SCSI3E71_GetDiskStatus(h, b); }},
        {"QT60X_AtaPassThrougth", 0xA1, 512,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AtaPassThrougth(h, b, 512); }},
        {"QT60X_AccessConfigEEPROM", 0xE0, 128,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessConfigEEPROM(h, 0, b, 128); }},
        {"QT60X_AccessRegister", 0xE4, 4,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessRegister(h, 0, 0xC880, b, 4); }},
        {"QT60X_AccessFirmwareEEPROM", 0xE2, 0x10000,
         [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.QT60X_AccessFirmwareEEPROM(h, 0, b, 0x18000); }},
        {"SCSI_Inquiry", 0x12, 38, [](CZedoUSBLib& l, HANDLE h, BYTE* b) { return l.m_pUSBDev->SCSI_Inquiry(h, b, 38); }},
    };
    model.SetRegister(kDisk, 0xC880, 0x5A);
    for (const Reader& r : readers) {
        SCOPED_TRACE(r.name);
        std::vector<BYTE> buffer(0x20000, 0xAA);
        // The whole answer is taken.
        ASSERT_EQ(0, r.call(lib, h, buffer.data()));
        // One byte short, or nothing at all, is a failure.
        for (DWORD sent : {r.length - 1, 0ul}) {
            model.Device(kDisk).shortReplies[r.op] = sent;
            EXPECT_EQ(-1, r.call(lib, h, buffer.data())) << sent;
        }
        model.Device(kDisk).shortReplies.clear();
    }

    // Cut answers leave nothing that looks like data: the register read clears what it clears on
    // any failure, the capacity reads as none.
    model.Device(kDisk).shortReplies[0xE4] = 2;
    BYTE reg[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(-1, lib.QT60X_AccessRegister(h, 0, 0xC880, reg, 4));
    EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 0}), std::vector<BYTE>(reg, reg + 4));
    model.Device(kDisk).shortReplies[0x25] = 4;
    DWORD dwBlocks = 7, dwLength = 7;
    EXPECT_EQ(-1, lib.ReadCapacity(h, &dwBlocks, &dwLength));
    EXPECT_EQ(0u, dwBlocks);
    EXPECT_EQ(0u, dwLength);

    // The button poll: register answers that do not come are no press (zeros would read as one).
    model.SetRegister(kDisk, 0xC880, 0x00);
    model.SetRegister(kDisk, 0xC884, 0x01);
    ASSERT_EQ(1, lib.QT60X_GetZULStatus(h));
    model.Device(kDisk).shortReplies[0xE4] = 0;
    EXPECT_EQ(-1, lib.QT60X_GetZULStatus(h));
}

// READ CAPACITY (10) answers a last address of all ones for a disk of 2^32 blocks or more: its
// block count does not fit the 32-bit answer and is refused, not wrapped to an empty disk.
TEST_F(Commands, CapacityBeyond32BitsIsRefused)
{
    model.Device(kDisk).lastLba = 0xFFFFFFFE;
    DWORD dwBlocks = 0, dwLength = 0;
    ASSERT_EQ(0, lib.ReadCapacity(h, &dwBlocks, &dwLength));
    EXPECT_EQ(0xFFFFFFFFu, dwBlocks);
    EXPECT_EQ(512u, dwLength);

    model.Device(kDisk).lastLba = 0xFFFFFFFF;
    dwBlocks = dwLength = 7;
    EXPECT_EQ(-1, lib.ReadCapacity(h, &dwBlocks, &dwLength));
    EXPECT_EQ(0u, dwBlocks);
    EXPECT_EQ(0u, dwLength);
}
