// Partitioning through the partition tool's script, the realignment of a partition at sector 63,
// and formatting (FAT32 by the library's formatter, NTFS by the format tool) with the post-check.
#include <gtest/gtest.h>

#include "test_unix.h"

#include <cstring>
#include <memory>

#include "DiskModel.h"
#include "DiskUtility.h"
#include "Utility.h"
#include "ZedoUSBLib.h"

namespace {

DWORD Le32(const std::vector<BYTE>& v, size_t at)
{
    DWORD x;
    memcpy(&x, v.data() + at, 4);
    return x;
}

const unsigned long long kTB = 1000000000000ull;
const unsigned long long kMiB = 1ull << 20;
const unsigned long long kGiB = 1ull << 30;
const unsigned long long kTiB = 1ull << 40;

// The volume behind a letter as a file of its own, written as the formatter writes the volume, so
// that the system's tools can judge it as they would a device.
class VolumeImage {
public:
    VolumeImage(CDiskModel& model, char letter) : m_model(model), m_letter(letter)
    {
        m_path = model.Folder() + "\\volume-" + letter + ".img";
        m_file = CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        LARGE_INTEGER size;
        size.QuadPart = static_cast<LONGLONG>(model.VolumeLength(letter));
        SetFilePointerEx(m_file, size, nullptr, FILE_BEGIN);
        SetEndOfFile(m_file);
        model.onVolumeTransfer = [this](bool bWrite, unsigned long long offset, DWORD length) {
            if (!bWrite)
                return;
            const ModelVolumeInfo& volume = m_model.Volume(m_letter);
            std::vector<BYTE> data = m_model.ReadDisk(volume.disk, m_model.VolumeOffset(m_letter) + offset, length);
            for (BYTE b : data) {
                if (b) {
                    LARGE_INTEGER at;
                    at.QuadPart = static_cast<LONGLONG>(offset);
                    DWORD done = 0;
                    SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN);
                    WriteFile(m_file, data.data(), length, &done, nullptr);
                    break;
                }
            }
        };
    }
    ~VolumeImage()
    {
        m_model.onVolumeTransfer = nullptr;
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
        DeleteFileA(m_path.c_str());
    }

    // Runs fsck.fat -n on the image; its exit code, or -1 when it could not be run (under Wine only:
    // the tool is a program of the host).
    int CheckedByFsck(std::string* pOutput)
    {
        FlushFileBuffers(m_file);
        const CString image = testsupport::UnixPathOf(CString(m_path.c_str()));
        if (image.IsEmpty())
            return -1;
        return testsupport::RunUnixShell(L"PATH=/usr/sbin:/sbin:/usr/bin:/bin; fsck.fat -n '" + image + L"'", pOutput);
    }

private:
    CDiskModel& m_model;
    char m_letter;
    std::string m_path;
    HANDLE m_file = INVALID_HANDLE_VALUE;
};

class Partition : public ::testing::Test {
protected:
    CDiskModel model;
    CDiskModelScope scope{model};
    CUtility utility;

    // The letter the partition tool gave the disk's volume; 0 when none.
    char LetterOf(DWORD disk)
    {
        for (char c = 'D'; c <= 'X'; ++c)
            if (model.HasVolume(c) && model.Volume(c).disk == disk)
                return c;
        return 0;
    }

    std::string LastScript()
    {
        for (const ToolCall& call : model.ToolCalls())
            if (call.file == "diskpart.exe")
                return call.script;
        return "";
    }
};

TEST_F(Partition, ScriptsCarryTheDiskAndTheFirstFreeLetter)
{
    model.AddDisk(2, 512, 1000063);
    model.TakeLetter('E');
    model.TakeLetter('F');
    ASSERT_EQ(1, utility.vCreatePartition(2, 0));
    EXPECT_EQ(" list disk\n select disk 2\n clean \ncreate partition primary \n active\n select partition 1\n "
              "assign letter=G\n",
              LastScript());
    // The tool got the script by its full, quoted path, named after the disk; it is gone afterwards.
    const ToolCall call = model.ToolCalls().at(0);
    EXPECT_EQ(0u, call.parameters.find(" /s \""));
    EXPECT_NE(std::string::npos, call.parameters.find("\\DiskPartTarget2.sc\""));
    std::string path = call.parameters.substr(5, call.parameters.size() - 6);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
    EXPECT_TRUE(model.HasVolume('G'));

    model.AddDisk(3, 512, 4000000);
    for (char c = 'E'; c <= 'W'; ++c)
        model.TakeLetter(c);
    ASSERT_EQ(1, utility.vCreatePartition(3, 1));
    std::string gpt;
    for (const ToolCall& c : model.ToolCalls())
        gpt = c.script;
    EXPECT_EQ(" list disk\n select disk 3\n clean \n convert gpt\ncreate partition primary \n select partition 2\n "
              "assign letter=X\n",
              gpt);
    // GPT: two partitions, nothing rewritten.
    EXPECT_EQ(2u, model.Disk(3).layout.size());
    EXPECT_EQ(0, model.Disk(3).sector0Writes);
}

TEST_F(Partition, RefusedWithoutAFreeLetterOrOnTheSystemDisk)
{
    model.AddDisk(2, 512, 1000063);
    EXPECT_EQ(0, utility.vCreatePartition(0, 0));   // disk 0 holds the system
    for (char c = 'E'; c <= 'X'; ++c)
        model.TakeLetter(c);
    EXPECT_EQ(0x7F, utility.cGetUnusedDriveLetter());
    EXPECT_EQ(0, utility.vCreatePartition(2, 0));
    EXPECT_TRUE(model.ToolCalls().empty());
    EXPECT_TRUE(utility.ScriptPath().empty());
}

TEST_F(Partition, SystemDiskIsRecognisedByItsVolumeNotItsNumber)
{
    // The system's volume C: moves to disk 4 (as when booting from another disk).
    model.AddDisk(4, 512, 4000000);
    model.AddVolume('C', 4, 2048, 3000000);
    EXPECT_EQ(0, utility.vCreatePartition(4, 0));
    EXPECT_TRUE(model.ToolCalls().empty());
}

TEST_F(Partition, RealignsAPartitionAtSector63AndRereadsTheTableAfterTheWrite)
{
    for (DWORD bps : {512u, 4096u}) {
        SCOPED_TRACE(bps);
        const DWORD disk = bps == 512 ? 2 : 3;
        model.AddDisk(disk, bps, 1000063);
        model.diskpartStart = 63;
        ASSERT_EQ(1, utility.vCreatePartition(static_cast<BYTE>(disk), 0));
        std::vector<BYTE> mbr = model.ReadDisk(disk, 0, 512);
        EXPECT_EQ(0x80, mbr[446]);
        EXPECT_EQ(64u, Le32(mbr, 454));
        EXPECT_EQ(999936u, Le32(mbr, 458));   // (1,000,000 - 1) down to a multiple of 64
        // The system's view follows the new table because it was read after the write.
        ModelDisk& d = model.Disk(disk);
        ASSERT_EQ(1u, d.layout.size());
        EXPECT_EQ(64u, d.layout[0].start);
        EXPECT_EQ((std::vector<std::string>{"write0", "dismount", "update"}), d.events);
    }
}

// A partition at sector 63 too small to keep a sector once moved to 64 and cut to whole
// 64-sector units (0 sectors would wrap to 0xFFFFFFC0): sector 0 stays as the tool wrote it and
// the partitioning has failed. One of 65 sectors keeps 64.
TEST_F(Partition, RealignmentOfAPartitionWithoutSectorsIsRefused)
{
    struct Case {
        unsigned long long count;   // sectors the tool gives the partition
        BYTE result;
        DWORD start, sectors;       // the entry afterwards
    } cases[] = {{0, 0, 63, 0}, {64, 0, 63, 64}, {65, 1, 64, 64}};
    DWORD disk = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        model.AddDisk(disk, 512, 63 + c.count);
        model.diskpartStart = 63;
        EXPECT_EQ(c.result, utility.vCreatePartition(static_cast<BYTE>(disk), 0));
        std::vector<BYTE> mbr = model.ReadDisk(disk, 0, 512);
        EXPECT_EQ(c.start, Le32(mbr, 454));
        EXPECT_EQ(c.sectors, Le32(mbr, 458));
        EXPECT_EQ(c.result, model.Disk(disk).sector0Writes);
        ++disk;
    }
}

TEST_F(Partition, PartitionAt2048IsWrittenBackUnchanged)
{
    model.AddDisk(2, 512, 1002048);
    model.diskpartStart = 2048;
    ASSERT_EQ(1, utility.vCreatePartition(2, 0));
    std::vector<BYTE> mbr = model.ReadDisk(2, 0, 512);
    EXPECT_EQ(2048u, Le32(mbr, 454));
    EXPECT_EQ(1000000u, Le32(mbr, 458));
    EXPECT_EQ(1, model.Disk(2).sector0Writes);
}

TEST_F(Partition, AFailedOrHungToolLeavesAnOldPartitionAlone)
{
    model.AddDisk(2, 512, 1000063);
    // An old, live partition at 63 with its file system.
    model.AddVolume('K', 2, 63, 1000000);
    const std::vector<BYTE> before = model.ReadDisk(2, 0, 512);
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        ToolBehaviour& tool = model.tools["diskpart.exe"];
        tool = ToolBehaviour();
        tool.act = false;
        if (mode == 0)
            tool.exitCode = 0x80042413;   // the tool failed
        else if (mode == 1)
            tool.hangs = true;
        else
            tool.startFails = true;
        EXPECT_EQ(0, utility.vCreatePartition(2, 0));
        EXPECT_EQ(before, model.ReadDisk(2, 0, 512));
        EXPECT_EQ(0, model.Disk(2).sector0Writes);
    }
    // A failing tool is tried three times; a hung one only once; one that cannot start three
    // times with a pause between.
    EXPECT_EQ(3u + 1u + 3u, model.ToolCalls().size());
    EXPECT_EQ(3u, model.Sleeps().size());
}

TEST_F(Partition, FormatsFat32AndPassesThePostCheck)
{
    model.AddDisk(2, 512, 4 * 1024 * 1024);
    model.AddVolume('G', 2, 2048, 4 * 1024 * 1024 - 2048, 0x07);
    ASSERT_EQ(1, utility.vLowLevelFormatTracks(2, 'G', 0, 1));
    EXPECT_EQ("FAT32", model.FileSystemOf('G'));
    EXPECT_EQ("NewDisk", model.LabelOf('G'));
    EXPECT_EQ(0x0C, model.Volume('G').setType);
    EXPECT_EQ(0x0C, model.ReadDisk(2, 0, 512)[446 + 4]);
    EXPECT_GE(model.Volume('G').dismounts, 1);
    EXPECT_EQ(nullptr, model.Volume('G').lockOwner);
    EXPECT_EQ(1, model.OpenHandles() == 0 ? 1 : 0);
    // The boot sector's label agrees with the root directory's; 16 sectors per cluster on this size.
    std::vector<BYTE> boot = model.ReadDisk(2, 2048 * 512, 512);
    EXPECT_EQ(0, memcmp(boot.data() + 71, "NewDisk    ", 11));
    EXPECT_EQ(16, boot[13]);
    EXPECT_EQ(2048u, Le32(boot, 28));   // hidden sectors
    EXPECT_TRUE(model.ToolCalls().empty());
}

TEST_F(Partition, ClusterSizeFollowsTheDiskSize)
{
    // 0x22400 MiB exactly: 16 sectors per cluster; one MiB more: 32.
    const unsigned long long mib = 1048576 / 512;
    for (unsigned long long size : {0x22400ull, 0x22401ull}) {
        SCOPED_TRACE(size);
        const DWORD disk = size == 0x22400 ? 2 : 3;
        const char letter = size == 0x22400 ? 'G' : 'H';
        model.AddDisk(disk, 512, size * mib);
        model.AddVolume(letter, disk, 2048, size * mib - 2048);
        ASSERT_EQ(1, utility.vLowLevelFormatTracks(static_cast<BYTE>(disk), letter, 0, 1));
        EXPECT_EQ(size == 0x22400 ? 16 : 32, model.ReadDisk(disk, 2048 * 512, 512)[13]);
    }
}

TEST_F(Partition, NtfsThroughTheFormatToolAndOnlyWhenItSucceeded)
{
    model.AddDisk(2, 512, 4 * 1024 * 1024);
    model.AddVolume('G', 2, 2048, 4 * 1024 * 1024 - 2048);
    ASSERT_EQ(1, utility.vLowLevelFormatTracks(2, 'G', 0, 0));
    ASSERT_EQ(1u, model.ToolCalls().size());
    EXPECT_EQ("format.com", model.ToolCalls()[0].file);
    EXPECT_EQ(" G:/Q /FS:NTFS /y", model.ToolCalls()[0].parameters);
    EXPECT_EQ("NewDisk", model.LabelOf('G'));

    // The old volume is NTFS with the label already; a failing format tool is still a failure.
    model.tools["format.com"].exitCode = 1;
    model.tools["format.com"].act = false;
    EXPECT_EQ(0, utility.vLowLevelFormatTracks(2, 'G', 0, 0));
    EXPECT_EQ(3u, model.ToolCalls().size());   // two attempts

    // When the label cannot be set directly, the label tool sets it.
    model.tools["format.com"] = ToolBehaviour();
    model.Volume('G').labelFails = true;
    ASSERT_EQ(1, utility.vLowLevelFormatTracks(2, 'G', 0, 0));
    EXPECT_EQ("label.exe", model.ToolCalls().back().file);
    EXPECT_EQ("G: NewDisk", model.ToolCalls().back().parameters);
}

TEST_F(Partition, LargeDisksGetNtfsWhateverTheChoice)
{
    const unsigned long long sectors = 8ull * 1024 * 1024 * 1024 * 2;   // 8 TiB of 512-byte sectors
    model.AddDisk(2, 512, sectors);
    model.AddVolume('G', 2, 2048, 0xFFFFFFFF);
    EXPECT_EQ(0u, utility.vCheckFileSystemCapacity(2));
    ASSERT_EQ(1, utility.vLowLevelFormatTracks(2, 'G', 0, 1));
    EXPECT_EQ("NTFS", model.FileSystemOf('G'));
}

TEST_F(Partition, FormatGuards)
{
    model.AddDisk(2, 512, 4 * 1024 * 1024);
    model.AddDisk(3, 512, 4 * 1024 * 1024);
    model.AddVolume('G', 2, 2048, 4 * 1024 * 1024 - 2048);
    model.AddVolume('H', 3, 2048, 4 * 1024 * 1024 - 2048);
    const std::vector<BYTE> g = model.ReadDisk(2, 2048 * 512, 4096);
    EXPECT_EQ(0, utility.vLowLevelFormatTracks(2, 0x7F, 0, 1));   // no letter
    EXPECT_EQ(0, utility.vLowLevelFormatTracks(2, 'Q', 0, 1));    // a letter without a volume
    EXPECT_EQ(0, utility.vLowLevelFormatTracks(2, 'H', 0, 1));    // a letter on another disk
    EXPECT_EQ(0, utility.vLowLevelFormatTracks(0, 'C', 0, 1));    // the system's volume
    EXPECT_EQ(0, utility.vLowLevelFormatTracks(7, 'G', 0, 1));    // no such disk
    EXPECT_EQ(g, model.ReadDisk(2, 2048 * 512, 4096));
    EXPECT_EQ("", model.FileSystemOf('H'));
    EXPECT_TRUE(model.ToolCalls().empty());
}

// MBR reaches 2^32 sectors, whatever their size: on a larger disk the style is refused before the
// tool wipes anything; a disk of exactly 2^32 sectors is still partitioned whole.
TEST_F(Partition, MbrIsRefusedOnADiskItCannotCover)
{
    struct Case {
        DWORD bps;
        unsigned long long sectors;
    } cases[] = {{512, 3 * kTB / 512}, {512, 4 * kTB / 512}, {4096, 18 * kTB / 4096}, {512, 0x100000001ull}};
    DWORD disk = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sectors);
        model.AddDisk(disk, c.bps, c.sectors);
        const char letter = static_cast<char>('K' + disk);
        model.AddVolume(letter, disk, 2048, 1000000);
        model.WriteDisk(disk, 2048ull * c.bps, std::vector<BYTE>(c.bps, 0xA5));
        const std::vector<BYTE> before = model.ReadDisk(disk, 0, 2049 * c.bps);
        EXPECT_EQ(0, utility.vCreatePartition(static_cast<BYTE>(disk), 0));
        EXPECT_EQ(before, model.ReadDisk(disk, 0, 2049 * c.bps));
        EXPECT_TRUE(model.HasVolume(letter));
        ++disk;
    }
    EXPECT_TRUE(model.ToolCalls().empty());

    model.AddDisk(disk, 512, 0x100000000ull);
    ASSERT_EQ(1, utility.vCreatePartition(static_cast<BYTE>(disk), 0));
    std::vector<BYTE> mbr = model.ReadDisk(disk, 0, 512);
    EXPECT_EQ(64u, Le32(mbr, 454));
    EXPECT_EQ(0xFFFFFFC0u, Le32(mbr, 458));   // up to the disk's last sector
}

// A tool that leaves part of the disk outside its partition has not prepared the disk.
TEST_F(Partition, APartitionEndingShortOfTheDiskIsAFailure)
{
    model.diskpartShortBy = 4096;   // 2 MiB of 512-byte sectors
    model.AddDisk(2, 512, 4000000);
    EXPECT_EQ(0, utility.vCreatePartition(2, 0));
    model.AddDisk(3, 512, 4000000);
    EXPECT_EQ(0, utility.vCreatePartition(3, 1));
    model.diskpartShortBy = 0;
    EXPECT_EQ(1, utility.vCreatePartition(3, 1));
}

// The size class follows the volume's sectors: FAT32 below 2^32 of them, of either size; NTFS past
// that, as on a disk of 8 TiB or more. Every FAT32 volume made must pass the system's checker.
TEST_F(Partition, Fat32WhereTheVolumeCountsItsSectorsIn32BitsNtfsBeyond)
{
    struct Case {
        DWORD bps;
        unsigned long long bytes;
        BYTE style;
        const char* fileSystem;
    } cases[] = {{512, 2 * kTiB + kGiB, 1, "NTFS"},
                 {512, 3 * kTB, 1, "NTFS"},
                 {512, 2 * kTiB - kMiB, 0, "FAT32"},
                 {4096, 4 * kTB, 1, "FAT32"}};
    DWORD disk = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        model.AddDisk(disk, c.bps, c.bytes / c.bps);
        ASSERT_EQ(1, utility.vCreatePartition(static_cast<BYTE>(disk), c.style));
        const char letter = LetterOf(disk);
        ASSERT_NE(0, letter);
        std::unique_ptr<VolumeImage> image;
        if (std::string(c.fileSystem) == "FAT32")
            image.reset(new VolumeImage(model, letter));
        EXPECT_EQ(1, utility.vLowLevelFormatTracks(static_cast<BYTE>(disk), static_cast<BYTE>(letter), c.style, 1));
        EXPECT_EQ(c.fileSystem, model.FileSystemOf(letter));
        EXPECT_EQ("NewDisk", model.LabelOf(letter));
        if (image) {
            std::string output;
            const int code = image->CheckedByFsck(&output);
            EXPECT_EQ(0, code) << output;
            EXPECT_NE(std::string::npos, output.find(" files, 1/")) << output;
        }
        ++disk;
    }
}

TEST_F(Partition, ExportsReachTheUtilities)
{
    ASSERT_EQ(0, ZedoUSBLib_Load());
    model.AddDisk(2, 512, 1000063);
    EXPECT_EQ(1, ZedoUSBLib_CreatePartition(2, 0));
    ASSERT_TRUE(model.HasVolume('E'));
    EXPECT_EQ(1, ZedoUSBLib_LowLevelFormatTracks(2, 'E', 0, 1));
    EXPECT_EQ("FAT32", model.FileSystemOf('E'));
    EXPECT_EQ(0, ZedoUSBLib_CreatePartition(0, 0));
    ZedoUSBLib_Unload();
}

} // namespace
