// The FAT32 formatter on a live volume of the disk model: the structures it writes, where it writes
// them, the volume's lock, type, dismount and unlock, and the volumes it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "DiskModel.h"
#include "Fat32Format.h"

namespace {

DWORD Le32(const std::vector<BYTE>& v, size_t at)
{
    DWORD x;
    memcpy(&x, v.data() + at, 4);
    return x;
}

WORD Le16(const std::vector<BYTE>& v, size_t at)
{
    return static_cast<WORD>(v[at] | (v[at + 1] << 8));
}

class Fat32 : public ::testing::Test {
protected:
    CDiskModel model;
    CDiskModelScope scope{model};

    BYTE Format(char letter, DWORD spc, const char* label = "NewDisk", BYTE ex = 0)
    {
        CFat32Format format;
        if (!format.bSetFormatParam(static_cast<BYTE>(letter), spc, ex))
            return 0;
        return format.bFormatVolume(label);
    }
};

TEST_F(Fat32, LargeVolumeLayoutAndStructures)
{
    // 1,000,000,000 sectors of 512 bytes with 64 sectors per cluster.
    const unsigned long long start = 2048;
    model.AddDisk(2, 512, 1000000000ull + start);
    model.AddVolume('G', 2, start, 1000000000ull, 0x07);
    // Old contents inside the area the format clears, and beyond it.
    const unsigned long long base = start * 512;
    model.WriteDisk(2, base + 100 * 512, std::vector<BYTE>(512, 0xEE));
    model.WriteDisk(2, base + 500000ull * 512, std::vector<BYTE>(512, 0xDD));
    ASSERT_EQ(1, Format('G', 64));

    std::vector<BYTE> boot = model.ReadDisk(2, base, 512);
    EXPECT_EQ(0xEB, boot[0]);
    EXPECT_EQ(0x5A, boot[1]);
    EXPECT_EQ(0x90, boot[2]);
    EXPECT_EQ(0, memcmp(boot.data() + 3, "MSWIN4.1", 8));
    EXPECT_EQ(512, Le16(boot, 11));
    EXPECT_EQ(64, boot[13]);
    EXPECT_EQ(32, Le16(boot, 14));
    EXPECT_EQ(2, boot[16]);
    EXPECT_EQ(0xF8, boot[21]);
    EXPECT_EQ(63, Le16(boot, 24));
    EXPECT_EQ(255, Le16(boot, 26));
    EXPECT_EQ(2048u, Le32(boot, 28));
    EXPECT_EQ(1000000000u, Le32(boot, 32));
    EXPECT_EQ(122041u, Le32(boot, 36));   // 4 x 999,999,968 / (32,768 + 8) + 1
    EXPECT_EQ(2u, Le32(boot, 44));
    EXPECT_EQ(1, Le16(boot, 48));
    EXPECT_EQ(6, Le16(boot, 50));
    EXPECT_EQ(0x80, boot[64]);
    EXPECT_EQ(0x29, boot[66]);
    EXPECT_EQ(0, memcmp(boot.data() + 71, "NewDisk    ", 11));
    EXPECT_EQ(0, memcmp(boot.data() + 82, "FAT32   ", 8));
    EXPECT_EQ(0x55, boot[510]);
    EXPECT_EQ(0xAA, boot[511]);
    // Volume id of 15 July 2046, 13:45:30.250.
    const DWORD lo = (15 + 7 * 256) + (25 + 30 * 256);
    const DWORD hi = (45 + 13 * 256) + 2046;
    EXPECT_EQ((hi << 16) | lo, Le32(boot, 67));

    EXPECT_EQ(boot, model.ReadDisk(2, base + 6 * 512, 512));
    std::vector<BYTE> info = model.ReadDisk(2, base + 512, 512);
    EXPECT_EQ(0x41615252u, Le32(info, 0));
    EXPECT_EQ(0x61417272u, Le32(info, 484));
    const DWORD clusters = (1000000000u - 32 - 2 * 122041) / 64;
    EXPECT_EQ(clusters - 1, Le32(info, 488));
    EXPECT_EQ(3u, Le32(info, 492));
    EXPECT_EQ(0xAA550000u, Le32(info, 508));
    EXPECT_EQ(info, model.ReadDisk(2, base + 7 * 512, 512));

    for (unsigned long long fat : {32ull, 32ull + 122041}) {
        std::vector<BYTE> first = model.ReadDisk(2, base + fat * 512, 512);
        EXPECT_EQ(0x0FFFFFF8u, Le32(first, 0));
        EXPECT_EQ(0x0FFFFFFFu, Le32(first, 4));
        EXPECT_EQ(0x0FFFFFFFu, Le32(first, 8));
        EXPECT_EQ(0u, Le32(first, 12));
    }
    // Root directory at 244,114 with the label entry; its date keeps the year 2046.
    std::vector<BYTE> root = model.ReadDisk(2, base + 244114ull * 512, 512);
    EXPECT_EQ(0, memcmp(root.data(), "NewDisk    ", 11));
    EXPECT_EQ(0x08, root[11]);
    EXPECT_EQ(2046 - 1980, Le16(root, 24) >> 9);
    EXPECT_EQ(7, (Le16(root, 24) >> 5) & 15);
    EXPECT_EQ(15, Le16(root, 24) & 31);
    EXPECT_EQ(0, root[32]);

    EXPECT_EQ(std::vector<BYTE>(512, 0), model.ReadDisk(2, base + 100 * 512, 512));
    EXPECT_EQ(std::vector<BYTE>(512, 0xDD), model.ReadDisk(2, base + 500000ull * 512, 512));
    // Type 0x0C, dismounted and unlocked; nothing left open.
    EXPECT_EQ(0x0C, model.Volume('G').setType);
    EXPECT_EQ(1, model.Volume('G').locks);
    EXPECT_EQ(1, model.Volume('G').dismounts);
    EXPECT_EQ(nullptr, model.Volume('G').lockOwner);
    EXPECT_EQ(0, model.OpenHandles());
}

TEST_F(Fat32, SectorsOf4096Bytes)
{
    model.AddDisk(2, 4096, 1100000);
    model.AddVolume('G', 2, 256, 1049456);
    ASSERT_EQ(1, Format('G', 16, "A label longer than eleven"));
    const unsigned long long base = 256ull * 4096;
    std::vector<BYTE> boot = model.ReadDisk(2, base, 4096);
    EXPECT_EQ(4096, Le16(boot, 11));
    EXPECT_EQ(8, boot[13]);   // 16 x 4096 would be 64 KiB: halved to 32 KiB
    EXPECT_EQ(0x55, boot[510]);
    EXPECT_EQ(0xAA, boot[511]);
    EXPECT_EQ(0x55, boot[4094]);
    EXPECT_EQ(0xAA, boot[4095]);
    EXPECT_EQ(0, memcmp(boot.data() + 71, "A label lon", 11));
    EXPECT_EQ(boot, model.ReadDisk(2, base + 6 * 4096, 4096));
    EXPECT_EQ("A label lon", model.LabelOf('G'));
    // The FAT holds an entry for every cluster.
    const DWORD fat = Le32(boot, 36);
    const DWORD clusters = (1049456 - 32 - 2 * fat) / 8;
    EXPECT_GE(static_cast<unsigned long long>(fat) * 4096 / 4, clusters + 2ull);
}

TEST_F(Fat32, RefusedVolumes)
{
    model.AddDisk(2, 512, 200000);
    model.AddVolume('G', 2, 2048, 65535);
    model.AddVolume('H', 2, 70000, 65536);
    model.AddDisk(3, 512, 4000000);
    model.AddVolume('J', 3, 2048, 3000000);
    const std::vector<BYTE> before = model.ReadDisk(2, 2048 * 512, 4096);
    EXPECT_EQ(0, Format('G', 1));   // under 65,536 sectors
    EXPECT_EQ(before, model.ReadDisk(2, 2048 * 512, 4096));
    // 65,536 sectors pass the size check but cannot hold 65,525 clusters: refused, nothing written.
    EXPECT_EQ(0, Format('H', 1));
    EXPECT_EQ(0, model.VolumeWrites());
    EXPECT_EQ(0, Format('C', 1));   // the letter C
    // More than 64 sectors per cluster is refused and clears the letter.
    CFat32Format format;
    EXPECT_EQ(0, format.bSetFormatParam('J', 128, 1));
    EXPECT_EQ(0x7F, format.m_ucDriveLetter);
    EXPECT_EQ(0x7FFFFFFFu, format.m_dwSectorsPerClusterParam);
    EXPECT_EQ(0, format.bFormatVolume("NewDisk"));
    // A volume whose lock is refused is not written.
    model.Volume('J').lockRefused = true;
    EXPECT_EQ(0, Format('J', 16));
    EXPECT_EQ(0, model.VolumeWrites());
    EXPECT_EQ("", model.FileSystemOf('J'));
    EXPECT_EQ(0, model.OpenHandles());
}

TEST_F(Fat32, ExtendedPartitionInformationAndChosenClusterSize)
{
    model.AddDisk(2, 512, 40ull * 1024 * 1024 * 2);   // 40 GiB
    model.AddVolume('G', 2, 2048, 40ull * 1024 * 1024 * 2 - 4096);
    ASSERT_EQ(1, Format('G', 0, "NewDisk", 1));
    std::vector<BYTE> boot = model.ReadDisk(2, 2048 * 512, 512);
    EXPECT_EQ(64, boot[13]);   // above 32 GiB: 32 KiB clusters
    EXPECT_EQ(2048u, Le32(boot, 28));
}

// Answers about the volume that stop short of a field the format uses format nothing: a record
// without the high half of the partition length (a 6 GiB volume read as 2 GiB), a classic record
// without the hidden sectors.
TEST_F(Fat32, ShortAnswersAboutTheVolumeFormatNothing)
{
    model.AddDisk(2, 512, 12ull * 1024 * 1024);   // 6 GiB
    model.AddVolume('G', 2, 2048, 12ull * 1024 * 1024 - 4096);
    model.shortControls[0x00070048] = 20;   // IOCTL_DISK_GET_PARTITION_INFO_EX
    EXPECT_EQ(0, Format('G', 0, "NewDisk", 1));
    model.shortControls = {{0x00074004, 16}};   // IOCTL_DISK_GET_PARTITION_INFO
    EXPECT_EQ(0, Format('G', 0, "NewDisk", 0));
    EXPECT_EQ(0, model.VolumeWrites());
    EXPECT_EQ("", model.FileSystemOf('G'));
    model.shortControls.clear();
    ASSERT_EQ(1, Format('G', 0, "NewDisk", 1));
    EXPECT_EQ(12u * 1024 * 1024 - 4096, Le32(model.ReadDisk(2, 2048 * 512, 512), 32));
}

TEST(Fat32Layout, ClusterChoiceAndFatSize)
{
    EXPECT_EQ(1u, CFat32Format::bGetSectorsPerCluster(512ull << 20, 512));
    EXPECT_EQ(8u, CFat32Format::bGetSectorsPerCluster(513ull << 20, 512));
    EXPECT_EQ(16u, CFat32Format::bGetSectorsPerCluster(16384ull << 20, 512));
    EXPECT_EQ(32u, CFat32Format::bGetSectorsPerCluster(16385ull << 20, 512));
    EXPECT_EQ(8u, CFat32Format::bGetSectorsPerCluster(40000ull << 20, 4096));
    // The written formula is one entry short on some sizes; the plan grows the FAT until it fits.
    int grown = 0;
    for (unsigned long long total = 1049000; total < 1051000; ++total) {
        fat32::Volume volume;
        volume.totalSectors = total;
        fat32::Layout layout;
        ASSERT_EQ(fat32::Plan::Ok, fat32::PlanVolume(volume, 1, &layout));
        ASSERT_GE(static_cast<unsigned long long>(layout.fatSize) * 128, layout.clusterCount + 2ull) << total;
        if (layout.fatSize != CFat32Format::dwGetFatSizeSectors(total, 32, 1, 2, 512))
            ++grown;
    }
    EXPECT_GT(grown, 0);
}

} // namespace
