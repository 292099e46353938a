// FAT32 layout and on-disk structures (no platform headers).
#include "Fat32Layout.h"

#include <cstring>
#include <vector>

namespace fat32 {

namespace {

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

bool PowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

uint32_t FloorPowerOfTwo(uint32_t v)
{
    uint32_t p = 1;
    while (p <= v / 2)
        p *= 2;
    return p;
}

} // namespace

const char* PlanText(Plan plan)
{
    switch (plan) {
    case Plan::Ok: return "ok";
    case Plan::BadSectorSize: return "unsupported sector size";
    case Plan::TooSmall: return "volume too small";
    case Plan::TooLarge: return "volume too large";
    case Plan::TooFewClusters: return "too few clusters for FAT32";
    case Plan::TooManyClusters: return "too many clusters for FAT32";
    }
    return "?";
}

uint32_t SpcFromKiB(uint32_t kib, uint32_t bytesPerSector)
{
    if (bytesPerSector == 0)
        return 1;
    uint32_t spc = kib * 1024 / bytesPerSector;
    return spc ? spc : 1;
}

uint32_t SectorsPerClusterFor(uint64_t ullSizeBytes, uint32_t bytesPerSector)
{
    uint64_t mib = ullSizeBytes / 0x100000;
    if (mib <= 512)
        return 1;
    if (mib <= 8192)
        return SpcFromKiB(4, bytesPerSector);
    if (mib <= 16384)
        return SpcFromKiB(8, bytesPerSector);
    if (mib <= 32768)
        return SpcFromKiB(16, bytesPerSector);
    return SpcFromKiB(32, bytesPerSector);
}

uint32_t FatSizeSectors(uint64_t total, uint32_t reserved, uint32_t spc, uint32_t fats, uint32_t bytesPerSector)
{
    uint64_t divisor = uint64_t(spc) * bytesPerSector + 4ull * fats;
    if (total <= reserved || divisor == 0)
        return 1;
    return static_cast<uint32_t>((4 * (total - reserved)) / divisor + 1);
}

uint32_t VolumeId(const Stamp& now)
{
    uint32_t lo = (uint32_t(now.day + now.month * 256) + uint32_t(now.milliseconds / 10 + now.second * 256)) & 0xFFFF;
    uint32_t hi = (uint32_t(now.minute + now.hour * 256) + uint32_t(now.year)) & 0xFFFF;
    return (hi << 16) | lo;
}

void LabelField(const char* pszLabel, char out[11])
{
    memset(out, ' ', 11);
    if (!pszLabel || !pszLabel[0]) {
        memcpy(out, "NO NAME", 7);
        return;
    }
    for (int i = 0; i < 11 && pszLabel[i]; ++i)
        out[i] = pszLabel[i];
}

Plan PlanVolume(const Volume& volume, uint32_t requestedSpc, Layout* pLayout)
{
    *pLayout = Layout();
    const uint32_t bps = volume.bytesPerSector;
    if (bps < 512 || bps > 4096 || !PowerOfTwo(bps))
        return Plan::BadSectorSize;
    if (volume.totalSectors < kMinTotalSectors)
        return Plan::TooSmall;
    if (volume.totalSectors >= kMaxTotalSectors)
        return Plan::TooLarge;
    const uint64_t total = volume.totalSectors;

    uint32_t spc = requestedSpc ? requestedSpc : SectorsPerClusterFor(total * bps, bps);
    spc = FloorPowerOfTwo(spc ? spc : 1);
    while (spc > 1 && spc * bps > kMaxClusterBytes)
        spc /= 2;

    for (;;) {
        uint32_t fatSize = FatSizeSectors(total, kReservedSectors, spc, kNumFats, bps);
        uint64_t user = 0, clusters = 0;
        // The FAT must hold an entry for every cluster and the two reserved entries.
        for (;;) {
            uint64_t system = kReservedSectors + uint64_t(kNumFats) * fatSize;
            user = total > system ? total - system : 0;
            clusters = user / spc;
            if (uint64_t(fatSize) * bps / 4 >= clusters + 2)
                break;
            ++fatSize;
        }
        if (clusters < kMinClusters) {
            if (spc == 1)
                return Plan::TooFewClusters;
            spc /= 2;
            continue;
        }
        if (clusters > kMaxClusters)
            return Plan::TooManyClusters;
        pLayout->bytesPerSector = bps;
        pLayout->sectorsPerCluster = spc;
        pLayout->totalSectors = static_cast<uint32_t>(total);
        pLayout->fatSize = fatSize;
        pLayout->userArea = static_cast<uint32_t>(user);
        pLayout->clusterCount = static_cast<uint32_t>(clusters);
        pLayout->freeClusters = static_cast<uint32_t>(clusters - 1);
        pLayout->rootSector = kReservedSectors + kNumFats * fatSize;
        pLayout->systemArea = pLayout->rootSector + spc;
        return Plan::Ok;
    }
}

void BuildBootSector(const Layout& layout, const Volume& volume, uint32_t volumeId, const char label[11],
                     uint8_t* s)
{
    memset(s, 0, layout.bytesPerSector);
    s[0] = 0xEB;
    s[1] = 0x5A;
    s[2] = 0x90;
    memcpy(s + 3, "MSWIN4.1", 8);
    Put16(s + 11, layout.bytesPerSector);
    s[13] = static_cast<uint8_t>(layout.sectorsPerCluster);
    Put16(s + 14, kReservedSectors);
    s[16] = kNumFats;
    Put16(s + 17, 0);
    Put16(s + 19, 0);
    s[21] = 0xF8;
    Put16(s + 22, 0);
    Put16(s + 24, volume.sectorsPerTrack);
    Put16(s + 26, volume.heads);
    Put32(s + 28, volume.hiddenSectors);
    Put32(s + 32, layout.totalSectors);
    Put32(s + 36, layout.fatSize);
    Put16(s + 40, 0);
    Put16(s + 42, 0);
    Put32(s + 44, 2);
    Put16(s + 48, kFsInfoSector);
    Put16(s + 50, kBackupBootSector);
    s[64] = 0x80;
    s[66] = 0x29;
    Put32(s + 67, volumeId);
    memcpy(s + 71, label, 11);
    memcpy(s + 82, "FAT32   ", 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    if (layout.bytesPerSector > 512) {
        s[layout.bytesPerSector - 2] = 0x55;
        s[layout.bytesPerSector - 1] = 0xAA;
    }
}

void BuildFsInfo(const Layout& layout, uint8_t* s)
{
    memset(s, 0, layout.bytesPerSector);
    Put32(s + 0, 0x41615252);
    Put32(s + 484, 0x61417272);
    Put32(s + 488, layout.freeClusters);
    Put32(s + 492, 3);
    Put32(s + 508, 0xAA550000);
}

void BuildFirstFatSector(const Layout& layout, uint8_t* s)
{
    memset(s, 0, layout.bytesPerSector);
    Put32(s + 0, 0x0FFFFFF8);
    Put32(s + 4, 0x0FFFFFFF);
    Put32(s + 8, 0x0FFFFFFF);   // cluster 2, the root directory, is a chain of one
}

void BuildRootSector(const Layout& layout, const char label[11], const Stamp& now, uint8_t* s)
{
    memset(s, 0, layout.bytesPerSector);
    memcpy(s, label, 11);
    s[11] = 0x08;
    uint32_t time = uint32_t(now.minute) << 5 | uint32_t(now.hour) << 11 | ((uint32_t(now.second) & 15) + 1);
    // The year field counts from 1980 in seven bits (to 2107).
    int year = now.year - 1980;
    year = year < 0 ? 0 : (year > 127 ? 127 : year);
    uint32_t date = uint32_t(now.month) << 5 | uint32_t(year) << 9 | uint32_t(now.day);
    Put16(s + 22, time);
    Put16(s + 24, date);
}

bool WriteVolume(const Layout& layout, const Volume& volume, uint32_t volumeId, const char label[11],
                 const Stamp& now, SectorSink& sink)
{
    const uint32_t bps = layout.bytesPerSector;
    {
        std::vector<uint8_t> zeros(size_t(kZeroChunkSectors) * bps, 0);
        for (uint32_t done = 0; done < layout.systemArea;) {
            uint32_t n = layout.systemArea - done;
            if (n > kZeroChunkSectors)
                n = kZeroChunkSectors;
            if (!sink.Write(done, zeros.data(), n))
                return false;
            done += n;
        }
    }
    std::vector<uint8_t> boot(bps), info(bps), fat(bps), root(bps);
    BuildBootSector(layout, volume, volumeId, label, boot.data());
    BuildFsInfo(layout, info.data());
    BuildFirstFatSector(layout, fat.data());
    BuildRootSector(layout, label, now, root.data());
    if (!sink.Write(0, boot.data(), 1) || !sink.Write(kFsInfoSector, info.data(), 1) ||
        !sink.Write(kBackupBootSector, boot.data(), 1) || !sink.Write(kBackupBootSector + 1, info.data(), 1))
        return false;
    for (uint32_t i = 0; i < kNumFats; ++i)
        if (!sink.Write(kReservedSectors + uint64_t(i) * layout.fatSize, fat.data(), 1))
            return false;
    return sink.Write(layout.rootSector, root.data(), 1);
}

} // namespace fat32
