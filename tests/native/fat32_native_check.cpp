// Formats sparse disk images with the FAT32 layout code and has the standard tools judge them:
// fsck.fat -n must find nothing to mend, mdir/minfo must read the volume, the label must read back
// and the free-cluster count must agree with what the formatter recorded. Prints one line per case
// and a closing "fat32-native: N passed, F failed".
#include "../../devicelib/Fat32Layout.cpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

int g_passed = 0, g_failed = 0;

// Writes into a new sparse image; zero writes are skipped, as the file reads zeros there already.
class ImageSink : public fat32::SectorSink {
public:
    ImageSink(int fd, uint32_t bps) : m_fd(fd), m_bps(bps) {}
    bool Write(uint64_t sector, const uint8_t* data, uint32_t count) override
    {
        size_t bytes = size_t(count) * m_bps;
        bool zero = true;
        for (size_t i = 0; i < bytes && zero; ++i)
            zero = data[i] == 0;
        if (zero)
            return true;
        return pwrite(m_fd, data, bytes, off_t(sector * m_bps)) == ssize_t(bytes);
    }

private:
    int m_fd;
    uint32_t m_bps;
};

std::string Run(const std::string& command, int* pStatus)
{
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) {
        *pStatus = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    int status = pclose(p);
    *pStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

struct Case {
    uint64_t sectors;
    uint32_t bps;
    uint32_t spc;
};

void Fail(const Case& c, const std::string& why, const std::string& detail = "")
{
    ++g_failed;
    printf("FAIL %" PRIu64 " sectors x %u bytes, %u sectors per cluster: %s\n", c.sectors, c.bps, c.spc, why.c_str());
    if (!detail.empty())
        printf("%s\n", detail.substr(0, 2000).c_str());
}

// Cases the formatter must refuse: a volume of 65,536 sectors cannot hold 65,525 clusters at any
// cluster size, and single-sector clusters on the largest volumes would need more clusters than
// FAT32 allows.
bool MustRefuse(const Case& c)
{
    return c.sectors == 65536 || (c.spc == 1 && c.sectors >= 1000000000ull);
}

double Seconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void Check(const Case& c, const std::string& dir)
{
    const double t0 = Seconds();
    fat32::Volume volume;
    volume.bytesPerSector = c.bps;
    volume.totalSectors = c.sectors;
    fat32::Layout layout;
    fat32::Plan plan = fat32::PlanVolume(volume, c.spc, &layout);
    if (MustRefuse(c)) {
        if (plan == fat32::Plan::Ok)
            Fail(c, "was formatted but cannot be a valid FAT32 volume");
        else {
            ++g_passed;
            printf("ok   %" PRIu64 " x %u, spc %u: refused (%s)\n", c.sectors, c.bps, c.spc, fat32::PlanText(plan));
        }
        return;
    }
    if (plan != fat32::Plan::Ok)
        return Fail(c, std::string("refused: ") + fat32::PlanText(plan));

    std::string image = dir + "/vol.img";
    unlink(image.c_str());
    int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, off_t(c.sectors * c.bps)) != 0) {
        if (fd >= 0)
            close(fd);
        return Fail(c, "cannot make the image");
    }
    fat32::Stamp now;
    now.year = 2046; now.month = 7; now.day = 15; now.hour = 13; now.minute = 45; now.second = 30;
    char label[11];
    fat32::LabelField("NewDisk", label);
    ImageSink sink(fd, c.bps);
    bool written = fat32::WriteVolume(layout, volume, fat32::VolumeId(now), label, now, sink);
    close(fd);
    if (!written)
        return Fail(c, "write failed");

    int status = 0;
    std::string fsck = Run("fsck.fat -n '" + image + "'", &status);
    if (status != 0)
        return Fail(c, "fsck.fat -n exit " + std::to_string(status), fsck);
    // "vol.img: 0 files, 1/N clusters"
    unsigned long used = 0, clusters = 0;
    const char* p = strstr(fsck.c_str(), " files, ");
    if (!p || sscanf(p, " files, %lu/%lu clusters", &used, &clusters) != 2)
        return Fail(c, "fsck.fat gave no cluster line", fsck);
    if (clusters != layout.clusterCount || used != 1)
        return Fail(c, "fsck.fat counts " + std::to_string(used) + "/" + std::to_string(clusters), fsck);

    std::string env = "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 ";
    std::string mdir = Run(env + "mdir -i '" + image + "' ::", &status);
    if (status != 0)
        return Fail(c, "mdir exit " + std::to_string(status), mdir);
    if (mdir.find("Volume in drive : is NewDisk") == std::string::npos)
        return Fail(c, "label does not read back", mdir);
    // "   123 456 789 bytes free" (digit groups separated by blanks)
    size_t at = mdir.find(" bytes free");
    if (at == std::string::npos)
        return Fail(c, "mdir gave no free space", mdir);
    size_t start = mdir.rfind('\n', at);
    std::string digits;
    for (size_t i = start == std::string::npos ? 0 : start; i < at; ++i)
        if (mdir[i] >= '0' && mdir[i] <= '9')
            digits += mdir[i];
    unsigned long long freeBytes = strtoull(digits.c_str(), nullptr, 10);
    unsigned long long expected = 1ull * layout.freeClusters * layout.sectorsPerCluster * layout.bytesPerSector;
    if (freeBytes != expected)
        return Fail(c, "mdir free " + std::to_string(freeBytes) + ", formatter " + std::to_string(expected), mdir);

    std::string minfo = Run(env + "minfo -i '" + image + "' ::", &status);
    if (status != 0)
        return Fail(c, "minfo exit " + std::to_string(status), minfo);
    char want[64];
    snprintf(want, sizeof(want), "cluster size: %u sectors", layout.sectorsPerCluster);
    if (minfo.find(want) == std::string::npos || minfo.find("disk label=\"NewDisk    \"") == std::string::npos)
        return Fail(c, "minfo disagrees", minfo);

    ++g_passed;
    printf("ok   %" PRIu64 " x %u, spc %u: %u clusters of %u sectors, FAT %u sectors (%.1f s)\n", c.sectors, c.bps,
           c.spc, layout.clusterCount, layout.sectorsPerCluster, layout.fatSize, Seconds() - t0);
    unlink(image.c_str());
}

} // namespace

int main()
{
    char tmpl[] = "/tmp/fat32-native-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) {
        printf("fat32-native: cannot make a folder\nfat32-native: 0 passed, 1 failed\n");
        return 1;
    }
    const uint64_t sizes[] = {65536, 1049456, 2097166, 1000000000ull, 1000003922ull};
    const uint32_t sectorSizes[] = {512, 4096};
    const uint32_t clusterSizes[] = {1, 16, 64};
    for (uint64_t s : sizes)
        for (uint32_t b : sectorSizes)
            for (uint32_t k : clusterSizes) {
                fflush(stdout);
                Check(Case{s, b, k}, dir);
            }
    // 2 TiB - 1 MiB of 512-byte sectors, near the largest volume the library gives FAT32, with the
    // cluster size it chooses there (32 KiB). The tools cannot judge what lies beyond: fsck.fat 4.2
    // crashes on volumes of more than 2^27 clusters (smaller clusters here, 4096-byte sectors past
    // 4 TiB), mkfs.fat's own included, and mtools' sector arithmetic overflows within a cluster of
    // 2^32 sectors.
    fflush(stdout);
    Check(Case{(2ull << 40) / 512 - 2048, 512, 64}, dir);
    rmdir(dir);
    printf("fat32-native: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}
