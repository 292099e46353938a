// The speed test (an area read and written back under one lock, timed on a fake clock) and the
// read/write file test.
#include <gtest/gtest.h>

#include <cstring>

#include "DiskModel.h"
#include "DiskUtility.h"
#include "Utility.h"
#include "ZedoUSBLib.h"

namespace {

const unsigned long long kStart = 2048;
const unsigned long long kMiB = 1048576;

class SpeedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A 2 GiB disk with one volume E: over almost all of it.
        model.AddDisk(2, 512, 4 * 1024 * 1024);
        model.AddVolume('E', 2, kStart, 4 * 1024 * 1024 - kStart);
    }
    // Fills [offset, offset + bytes) of the volume with a pattern and returns it.
    std::vector<BYTE> Fill(unsigned long long offset, size_t bytes)
    {
        std::vector<BYTE> data(bytes);
        for (size_t i = 0; i < bytes; ++i)
            data[i] = static_cast<BYTE>((i / 4096) * 31 + (i % 251));
        model.WriteDisk(2, kStart * 512 + offset, data);
        return data;
    }
    CDiskModel model;
    CDiskModelScope scope{model};
    CUtility utility;
};

TEST_F(SpeedTest, LargeAreaComesBackByteIdenticalAndOthersCannotWriteInBetween)
{
    // 1024 MiB of buffer: a 256 MiB area, in eight pieces of 32 MiB, at 25% of the disk.
    const unsigned long long area = 256 * kMiB;
    const unsigned long long offset = 4ull * 1024 * 1024 * 512 / 4;
    const std::vector<BYTE> before = Fill(offset - kMiB, static_cast<size_t>(area + 2 * kMiB));
    // Another writer tries the area while the test runs.
    int attempts = 0, accepted = 0;
    model.onVolumeTransfer = [&](bool, unsigned long long, DWORD) {
        ++attempts;
        HANDLE h = model.OpenDisk("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, 0);
        if (h == INVALID_HANDLE_VALUE)
            return;
        std::vector<BYTE> junk(4096, 0xFF);
        DWORD done = 0;
        if (model.WriteAt(h, offset + 4096, junk.data(), 4096, &done))
            ++accepted;
        model.CloseDevice(h);
    };
    float read = -1, write = -1;
    int error = 0;
    ASSERT_EQ(1, utility.ReadWritePerfomanceTest(2, 25, 1024, &read, &write, &error));
    model.onVolumeTransfer = nullptr;
    EXPECT_EQ(0, error);
    EXPECT_GT(attempts, 0);
    EXPECT_EQ(0, accepted);
    EXPECT_TRUE(before == model.ReadDisk(2, kStart * 512 + offset - kMiB, static_cast<DWORD>(area + 2 * kMiB)));
    // Two cycles, each reading and writing the area twice: 8 x 32 MiB pieces a pass.
    EXPECT_EQ(2 * 2 * 8, model.VolumeWrites());
    EXPECT_EQ(2, model.Volume('E').locks);
    EXPECT_EQ(2, model.Volume('E').dismounts);
    EXPECT_EQ(nullptr, model.Volume('E').lockOwner);
    EXPECT_EQ(0, model.OpenHandles());
}

TEST_F(SpeedTest, WithoutTheLockNothingIsWritten)
{
    const std::vector<BYTE> before = Fill(0, 4 * kMiB);
    model.Volume('E').lockRefused = true;
    float read = 0, write = 0;
    int error = 0;
    EXPECT_EQ(0, ZedoUSBLib_Load());
    EXPECT_EQ(0, ZedoUSBLib_ReadWritePerfomanceTest(2, 0, 16, &read, &write, &error));
    ZedoUSBLib_Unload();
    EXPECT_EQ(-11, error);
    EXPECT_EQ(0, model.VolumeWrites());
    EXPECT_EQ(0, model.Volume('E').dismounts);
    EXPECT_EQ(2, model.Rescans());   // three attempts, a rescan before each retry
    EXPECT_EQ(before, model.ReadDisk(2, kStart * 512, static_cast<DWORD>(4 * kMiB)));
}

TEST_F(SpeedTest, RatesFromTheClock)
{
    Fill(0, 4 * kMiB);
    model.readTicksPerMiB = 10000;   // 100 MiB/s on a 1 MHz clock
    float read = 0, write = 0;
    int error = 0;
    model.writeTicksPerMiB = 8333;   // 120 MiB/s: write above read reports the read rate less d mod 5
    ASSERT_EQ(1, utility.ReadWritePerfomanceTest(2, 0, 16, &read, &write, &error));
    EXPECT_NEAR(100.0f, read, 0.01f);
    EXPECT_NEAR(100.0f, write, 0.01f);
    model.writeTicksPerMiB = 11111;  // 90 MiB/s: the mean
    ASSERT_EQ(1, utility.ReadWritePerfomanceTest(2, 0, 16, &read, &write, &error));
    EXPECT_NEAR(95.0f, write, 0.01f);
    EXPECT_EQ(0.0f, utility.m_fReadRate);
    EXPECT_EQ(0.0f, utility.m_fWriteRate);

    EXPECT_FLOAT_EQ(100.0f, ReportedWriteRate(120.0f, 100.0f));
    EXPECT_FLOAT_EQ(95.0f, ReportedWriteRate(90.0f, 100.0f));
    EXPECT_FLOAT_EQ(97.0f, ReportedWriteRate(103.0f, 100.0f));   // d = 3
}

TEST_F(SpeedTest, AreaAtTheEndStaysInsideTheVolumeAndBadArgumentsAreRefused)
{
    const unsigned long long length = model.VolumeLength('E');
    const std::vector<BYTE> before = Fill(length - 8 * kMiB, static_cast<size_t>(8 * kMiB));
    float read = 0, write = 0;
    int error = 0;
    ASSERT_EQ(1, utility.ReadWritePerfomanceTest(2, 100, 16, &read, &write, &error));
    EXPECT_EQ(before, model.ReadDisk(2, kStart * 512 + length - 8 * kMiB, static_cast<DWORD>(8 * kMiB)));
    EXPECT_GT(model.VolumeWrites(), 0);
    EXPECT_EQ(0, utility.ReadWritePerfomanceTest(2, 101, 16, &read, &write, &error));
    EXPECT_EQ(0, utility.ReadWritePerfomanceTest(2, 0, 0, &read, &write, &error));
    EXPECT_EQ(0, utility.ReadWritePerfomanceTest(2, 0, 0x7FFFFFFF, &read, &write, &error));
    EXPECT_EQ(0, utility.ReadWritePerfomanceTest(0, 0, 16, &read, &write, &error));   // the system disk
    EXPECT_EQ(0, utility.ReadWritePerfomanceTest(2, 0, 16, nullptr, &write, &error));
}

// Answers about the disk and the volume that stop short of what the test uses end it before it
// reads or writes anything: a geometry without the disk size (which read as 0 put a test at
// 100 % at the disk's start), a partition record without the high half of its length (a 6 GiB
// volume read as 2 GiB).
TEST_F(SpeedTest, ShortAnswersAboutDiskAndVolumeEndTheTest)
{
    model.AddDisk(3, 512, 12 * 1024 * 1024);
    model.AddVolume('F', 3, kStart, 12 * 1024 * 1024 - kStart);
    float read = 0, write = 0;
    int error = 0;
    model.shortControls[0x000700A0] = 24;   // IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: the geometry alone
    EXPECT_EQ(0, utility.ReadWritePerfomanceTest(2, 100, 16, &read, &write, &error));
    EXPECT_EQ(0, model.VolumeWrites());
    model.shortControls.clear();
    model.shortControls[0x00070048] = 20;   // IOCTL_DISK_GET_PARTITION_INFO_EX: the length's low half
    EXPECT_EQ(0, utility.ReadWritePerfomanceTest(3, 100, 16, &read, &write, &error));
    EXPECT_EQ(-11, error);
    EXPECT_EQ(0, model.VolumeWrites());
    model.shortControls.clear();
    ASSERT_EQ(1, utility.ReadWritePerfomanceTest(3, 100, 16, &read, &write, &error));
    EXPECT_GT(model.VolumeWrites(), 0);
}

// ---- The file test ----

class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model.TakeLetter('T');
        target = model.DriveRoot('T');
    }
    std::string MakeSource(const char* name, DWORD bytes)
    {
        std::string path = model.currentFolder + "\\" + name;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        std::vector<BYTE> data(bytes < 1 << 20 ? bytes : 1 << 20);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<BYTE>(i * 13 + 7);
        DWORD done = 0;
        if (bytes <= data.size()) {
            WriteFile(h, data.data(), bytes, &done, nullptr);
        } else {
            LARGE_INTEGER size;
            size.QuadPart = bytes;
            SetFilePointerEx(h, size, nullptr, FILE_BEGIN);
            SetEndOfFile(h);
        }
        CloseHandle(h);
        return path;
    }
    CDiskModel model;
    CDiskModelScope scope{model};
    CUtility utility;
    std::string target;
};

TEST_F(FileTest, CopiesReadsBackAndRemovesItsFile)
{
    std::string source = MakeSource("rw.bin", 300000);   // needs 2 MiB free
    EXPECT_EQ(1, utility.vReadWriteTest('T', "rw.bin"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((target + "rw.bin").c_str()));
    // Free space that cannot be read does not stop it; too little does.
    model.freeSpaceFails = true;
    EXPECT_EQ(1, utility.vReadWriteTest('T', "rw.bin"));
    model.freeSpaceFails = false;
    model.freeClusters = 1;
    EXPECT_EQ(0, utility.vReadWriteTest('T', "rw.bin"));
    model.freeClusters = 1000000;
    // A letter that lies on no disk.
    EXPECT_EQ(0, utility.vReadWriteTest('Z', "rw.bin"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((model.DriveRoot('Z') + "rw.bin").c_str()));
    DeleteFileA(source.c_str());
    EXPECT_TRUE(CDiskModelScope::Messages().empty());
    // Missing file, empty name, no letter.
    EXPECT_EQ(0, utility.vReadWriteTest('T', "rw.bin"));
    EXPECT_EQ(0, utility.vReadWriteTest('T', ""));
    EXPECT_EQ(0, utility.vReadWriteTest(0x7F, "rw.bin"));
}

TEST_F(FileTest, AUsersFileOfThatNameIsLeftAlone)
{
    MakeSource("rw.bin", 5000);
    std::string mine = target + "rw.bin";
    HANDLE h = CreateFileA(mine.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    WriteFile(h, "keep", 4, &done, nullptr);
    CloseHandle(h);
    EXPECT_EQ(0, utility.vReadWriteTest('T', "rw.bin"));
    char text[8] = {};
    h = CreateFileA(mine.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ReadFile(h, text, sizeof(text), &done, nullptr);
    CloseHandle(h);
    EXPECT_STREQ("keep", text);
    DeleteFileA(mine.c_str());
}

TEST_F(FileTest, LargestFile)
{
    MakeSource("big.bin", 0xB400001);
    EXPECT_EQ(0, utility.vReadWriteTest('T', "big.bin"));
    ASSERT_EQ(1u, CDiskModelScope::Messages().size());
    EXPECT_EQ("Error|" + model.currentFolder + "\\big.bin WrRdTest file size too large",
              CDiskModelScope::Messages()[0]);
    model.freeClusters = 0xFFFFFFFF;   // 16 TiB free: no wrap below the file's needs
    model.sectorsPerCluster = 8;
    model.bytesPerSectorFree = 512;
    EXPECT_EQ(16ll * 1024 * 1024 - 1, utility.vGetDiskFreeSpace('T'));
    MakeSource("big.bin", 0xB400000);
    EXPECT_EQ(1, utility.vReadWriteTest('T', "big.bin"));
    DeleteFileA((model.currentFolder + "\\big.bin").c_str());
}

} // namespace
