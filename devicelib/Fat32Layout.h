#pragma once
// The FAT32 volume the formatter lays down, apart from any platform: the choice of cluster size,
// the FAT size, the boot sector and its backup, FSInfo, the first sector of each FAT and the root
// directory with the volume label. The formatter plans a volume here and hands every sector it
// writes to a sink; the same code builds natively, where a test writes disk images with it.
#include <cstddef>
#include <cstdint>

namespace fat32 {

constexpr uint32_t kReservedSectors = 32;
constexpr uint32_t kNumFats = 2;
constexpr uint32_t kBackupBootSector = 6;
constexpr uint32_t kFsInfoSector = 1;
constexpr uint64_t kMinTotalSectors = 65536;
constexpr uint64_t kMaxTotalSectors = 0xFFFFFFFFull;   // exclusive
constexpr uint32_t kMinClusters = 65525;               // fewer would make the volume FAT16 by count
constexpr uint32_t kMaxClusters = 0x0FFFFFF5;
constexpr uint32_t kMaxClusterBytes = 32768;
constexpr uint32_t kZeroChunkSectors = 128;

// Local time as the formatter reads it.
struct Stamp {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// What the system reports of the volume.
struct Volume {
    uint32_t bytesPerSector = 512;
    uint64_t totalSectors = 0;     // partition length / bytes per sector
    uint32_t hiddenSectors = 0;    // sectors before the partition
    uint32_t sectorsPerTrack = 63;
    uint32_t heads = 255;
};

struct Layout {
    uint32_t bytesPerSector = 0;
    uint32_t sectorsPerCluster = 0;
    uint32_t totalSectors = 0;
    uint32_t fatSize = 0;          // sectors per FAT
    uint32_t userArea = 0;         // sectors after the reserved area and the FATs
    uint32_t clusterCount = 0;
    uint32_t freeClusters = 0;     // every cluster but the root directory's
    uint32_t rootSector = 0;       // first sector of cluster 2
    uint32_t systemArea = 0;       // reserved + FATs + the root cluster: zeroed by the format
};

enum class Plan { Ok, BadSectorSize, TooSmall, TooLarge, TooFewClusters, TooManyClusters };
const char* PlanText(Plan plan);

// Cluster size chosen from the volume size when the caller leaves it open.
uint32_t SectorsPerClusterFor(uint64_t ullSizeBytes, uint32_t bytesPerSector);
// Sectors per cluster for a cluster size in KiB (at least 1).
uint32_t SpcFromKiB(uint32_t kib, uint32_t bytesPerSector);
// (4 x (total - reserved)) / (sectors per cluster x bytes per sector + 4 x FATs) + 1.
uint32_t FatSizeSectors(uint64_t total, uint32_t reserved, uint32_t spc, uint32_t fats, uint32_t bytesPerSector);
// Serial number of the volume from the local time.
uint32_t VolumeId(const Stamp& now);
// The 11-character label: cut at 11, padded with blanks; an empty label is "NO NAME".
void LabelField(const char* pszLabel, char out[11]);

// Plans a volume. requestedSpc 0 chooses by size. Sectors per cluster become a power of two with
// at most 32 KiB per cluster; they are halved until the volume holds at least 65,525 clusters.
Plan PlanVolume(const Volume& volume, uint32_t requestedSpc, Layout* pLayout);

// The structures, each one sector of the layout's size.
void BuildBootSector(const Layout& layout, const Volume& volume, uint32_t volumeId, const char label[11],
                     uint8_t* sector);
void BuildFsInfo(const Layout& layout, uint8_t* sector);
void BuildFirstFatSector(const Layout& layout, uint8_t* sector);
void BuildRootSector(const Layout& layout, const char label[11], const Stamp& now, uint8_t* sector);

class SectorSink {
public:
    virtual ~SectorSink() {}
    // Writes count sectors at the given sector; false when the write failed or was short.
    virtual bool Write(uint64_t sector, const uint8_t* data, uint32_t count) = 0;
};

// Writes the whole file system: zeroes the system area, then the boot sector and FSInfo at 0 and 1
// with their backups at 6 and 7, the first sector of each FAT and the root directory. Stops at the
// first failed write.
bool WriteVolume(const Layout& layout, const Volume& volume, uint32_t volumeId, const char label[11],
                 const Stamp& now, SectorSink& sink);

} // namespace fat32
