// The FAT32 formatter on a live volume: lock, ask the system for the geometry and partition,
// write the layout, set the partition type, dismount and unlock.
#include "Fat32Format.h"

#include "DiskPlatform.h"
#include "DiskUtility.h"
#include "ZedoDeviceIo.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

const char* const kFn = "CFat32Format::bFormatVolume";

// Sector-aligned buffer for unbuffered writes.
class CAlignedBuffer {
public:
    explicit CAlignedBuffer(size_t bytes)
        : m_p(static_cast<BYTE*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
    {
    }
    ~CAlignedBuffer()
    {
        if (m_p)
            VirtualFree(m_p, 0, MEM_RELEASE);
    }
    CAlignedBuffer(const CAlignedBuffer&) = delete;
    CAlignedBuffer& operator=(const CAlignedBuffer&) = delete;
    BYTE* Get() const { return m_p; }

private:
    BYTE* m_p;
};

// Hands the layout's sectors to the volume through an aligned bounce buffer.
class CVolumeSink : public fat32::SectorSink {
public:
    CVolumeSink(HANDLE hVolume, DWORD dwBytesPerSector)
        : m_hVolume(hVolume), m_dwBytesPerSector(dwBytesPerSector),
          m_buffer(size_t(fat32::kZeroChunkSectors) * dwBytesPerSector)
    {
    }
    bool Ready() const { return m_buffer.Get() != nullptr; }
    bool Write(uint64_t sector, const uint8_t* data, uint32_t count) override
    {
        if (count > fat32::kZeroChunkSectors)
            return false;
        memcpy(m_buffer.Get(), data, size_t(count) * m_dwBytesPerSector);
        return CFat32Format::vWriteSect(m_hVolume, sector, m_dwBytesPerSector, m_buffer.Get(), count) != FALSE;
    }

private:
    HANDLE m_hVolume;
    DWORD m_dwBytesPerSector;
    CAlignedBuffer m_buffer;
};

} // namespace

CFat32Format::CFat32Format() : m_dwSectorsPerClusterParam(0), m_ucDriveLetter(0x7F), m_ucPartInfoEx(0)
{
    vClearPrivateData();
}

CFat32Format::~CFat32Format()
{
    vClearPrivateData();
}

void CFat32Format::vClearPrivateData()
{
    memset(&m_geometry, 0, sizeof(m_geometry));
    memset(&m_partition, 0, sizeof(m_partition));
    memset(&m_partitionEx, 0, sizeof(m_partitionEx));
    m_setPartitionType[0] = 0x0C;
    m_dwReservedSectors = fat32::kReservedSectors;
    m_dwNumFats = fat32::kNumFats;
    m_dwBackupBootSector = fat32::kBackupBootSector;
    m_dwVolumeId = 0;
    memcpy(m_szVolumeLabel, "NO NAME    ", 12);
    m_layout = fat32::Layout();
    m_ullTotalSectors = 0;
    m_ullHiddenSectors = 0;
}

BYTE CFat32Format::bSetFormatParam(BYTE ucDriveLetter, DWORD dwSectorsPerCluster, BYTE ucPartInfoEx)
{
    if (dwSectorsPerCluster > 64) {
        m_ucDriveLetter = 0x7F;
        m_dwSectorsPerClusterParam = 0x7FFFFFFF;
        m_ucPartInfoEx = 0;
        return 0;
    }
    m_ucDriveLetter = ucDriveLetter;
    m_dwSectorsPerClusterParam = dwSectorsPerCluster;
    m_ucPartInfoEx = ucPartInfoEx;
    return 1;
}

DWORD CFat32Format::dwGetFatSizeSectors(unsigned long long ullTotal, DWORD dwReserved, DWORD dwSpc, DWORD dwFats,
                                        DWORD dwBytesPerSector)
{
    return fat32::FatSizeSectors(ullTotal, dwReserved, dwSpc, dwFats, dwBytesPerSector);
}

DWORD CFat32Format::dwGetVolumeId()
{
    SYSTEMTIME st = {};
    DiskPlatform().LocalTime(&st);
    fat32::Stamp now;
    now.year = st.wYear;
    now.month = st.wMonth;
    now.day = st.wDay;
    now.hour = st.wHour;
    now.minute = st.wMinute;
    now.second = st.wSecond;
    now.milliseconds = st.wMilliseconds;
    return fat32::VolumeId(now);
}

DWORD CFat32Format::bGetSectorsPerCluster(unsigned long long ullSizeBytes, DWORD dwBytesPerSector)
{
    return fat32::SectorsPerClusterFor(ullSizeBytes, dwBytesPerSector);
}

DWORD CFat32Format::bGetSpc(DWORD dwKiB, DWORD dwBytesPerSector)
{
    return fat32::SpcFromKiB(dwKiB, dwBytesPerSector);
}

BOOL CFat32Format::vSeekToSect(HANDLE, DWORD dwSector, DWORD dwBytesPerSector, unsigned long long* pullOffset)
{
    // Transfers carry their own 64-bit offset; the seek only works it out.
    *pullOffset = static_cast<unsigned long long>(dwSector) * dwBytesPerSector;
    return TRUE;
}

BOOL CFat32Format::vWriteSect(HANDLE hVolume, unsigned long long ullSector, DWORD dwBytesPerSector, const void* pData,
                              DWORD dwSectors)
{
    const DWORD dwBytes = dwSectors * dwBytesPerSector;
    DWORD dwDone = 0;
    BOOL bOk = DeviceIo().WriteAt(hVolume, ullSector * dwBytesPerSector, pData, dwBytes, &dwDone);
    if (!bOk || dwDone != dwBytes) {
        ZLOG("CFat32Format::vWriteSect", "write of %lu sectors at %llu failed: %lu of %lu bytes, dwErrorCode : %lu",
             dwSectors, ullSector, dwDone, dwBytes, GetLastError());
        return FALSE;
    }
    return TRUE;
}

BOOL CFat32Format::vZeroSectors(HANDLE hVolume, unsigned long long ullSector, DWORD dwBytesPerSector, DWORD dwSectors)
{
    CAlignedBuffer zeros(size_t(fat32::kZeroChunkSectors) * dwBytesPerSector);
    if (!zeros.Get())
        return FALSE;
    long long start = DiskPlatform().Counter();
    for (DWORD done = 0; done < dwSectors;) {
        DWORD n = dwSectors - done < fat32::kZeroChunkSectors ? dwSectors - done : fat32::kZeroChunkSectors;
        if (!vWriteSect(hVolume, ullSector + done, dwBytesPerSector, zeros.Get(), n))
            return FALSE;
        done += n;
    }
    long long ticks = DiskPlatform().Counter() - start;
    ZLOG("CFat32Format::vZeroSectors", "%lu sectors zeroed in %lld ticks", dwSectors, ticks);
    return TRUE;
}

BYTE CFat32Format::bPreCheckFat32FormatParam(HANDLE hVolume)
{
    DWORD dwReturned = 0;
    // Each answer must hold every field the format uses.
    if (!DeviceIo().Control(hVolume, ZEDO_IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &m_geometry, sizeof(m_geometry),
                            &dwReturned) ||
        dwReturned < sizeof(m_geometry)) {
        ZLOG("CFat32Format::bPreCheckFat32FormatParam", "geometry failed, dwErrorCode : %lu", GetLastError());
        return 0;
    }
    unsigned long long ullLength = 0;
    if (m_ucPartInfoEx) {
        if (!DeviceIo().Control(hVolume, ZEDO_IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &m_partitionEx,
                                sizeof(m_partitionEx), &dwReturned) ||
            dwReturned < offsetof(PARTITION_INFORMATION_EX, PartitionLength) + sizeof(m_partitionEx.PartitionLength))
            return 0;
        ullLength = m_partitionEx.PartitionLength.QuadPart;
        m_ullHiddenSectors = m_geometry.BytesPerSector
                                 ? m_partitionEx.StartingOffset.QuadPart / m_geometry.BytesPerSector
                                 : 0;
    } else {
        if (!DeviceIo().Control(hVolume, ZEDO_IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &m_partition,
                                sizeof(m_partition), &dwReturned) ||
            dwReturned < offsetof(PARTITION_INFORMATION, HiddenSectors) + sizeof(m_partition.HiddenSectors))
            return 0;
        ullLength = m_partition.PartitionLength.QuadPart;
        m_ullHiddenSectors = m_partition.HiddenSectors;
    }
    if (m_geometry.BytesPerSector == 0)
        return 0;
    m_ullTotalSectors = ullLength / m_geometry.BytesPerSector;
    if (m_ullTotalSectors < fat32::kMinTotalSectors || m_ullTotalSectors >= fat32::kMaxTotalSectors) {
        ZLOG("CFat32Format::bPreCheckFat32FormatParam", "volume of %llu sectors refused", m_ullTotalSectors);
        return 0;
    }
    return 1;
}

BYTE CFat32Format::bFormatVolume(const char* pszLabel)
{
    vClearPrivateData();
    const char cLetter = static_cast<char>(m_ucDriveLetter);
    if (cLetter == 'C' || m_ucDriveLetter == 0x7F || m_dwSectorsPerClusterParam > 64)
        return 0;
    // The system's own volume is never formatted, whatever its letter.
    if (DiskUtil::LetterOnSystemDisk(cLetter)) {
        ZLOG(kFn, "%c: lies on the system disk", cLetter);
        return 0;
    }
    fat32::LabelField(pszLabel, m_szVolumeLabel);
    m_szVolumeLabel[11] = 0;

    SYSTEMTIME st = {};
    DiskPlatform().LocalTime(&st);
    fat32::Stamp now;
    now.year = st.wYear;
    now.month = st.wMonth;
    now.day = st.wDay;
    now.hour = st.wHour;
    now.minute = st.wMinute;
    now.second = st.wSecond;
    now.milliseconds = st.wMilliseconds;
    m_dwVolumeId = fat32::VolumeId(now);

    char szVolume[8];
    snprintf(szVolume, sizeof(szVolume), "\\\\.\\%c:", cLetter);
    HANDLE hVolume = DeviceIo().OpenDisk(szVolume, GENERIC_READ | GENERIC_WRITE, 0, FILE_FLAG_NO_BUFFERING);
    if (hVolume == INVALID_HANDLE_VALUE) {
        ZLOG(kFn, "open %s failed, dwErrorCode : %lu", szVolume, GetLastError());
        return 0;
    }
    BYTE ucResult = 0;
    DWORD dwReturned = 0;
    const bool bLocked =
        DeviceIo().Control(hVolume, ZEDO_FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &dwReturned) != FALSE;
    try {
        if (bLocked && bPreCheckFat32FormatParam(hVolume)) {
            fat32::Volume volume;
            volume.bytesPerSector = m_geometry.BytesPerSector;
            volume.totalSectors = m_ullTotalSectors;
            volume.hiddenSectors = static_cast<uint32_t>(m_ullHiddenSectors);
            volume.sectorsPerTrack = m_geometry.SectorsPerTrack;
            volume.heads = m_geometry.TracksPerCylinder;
            fat32::Plan plan = fat32::PlanVolume(volume, m_dwSectorsPerClusterParam, &m_layout);
            if (plan != fat32::Plan::Ok) {
                ZLOG(kFn, "%llu sectors of %lu bytes: %s", m_ullTotalSectors, m_geometry.BytesPerSector,
                     fat32::PlanText(plan));
            } else {
                CVolumeSink sink(hVolume, m_geometry.BytesPerSector);
                bool bWritten =
                    sink.Ready() && fat32::WriteVolume(m_layout, volume, m_dwVolumeId, m_szVolumeLabel, now, sink);
                ZLOG(kFn, "%lu clusters of %lu sectors, FAT %lu sectors, written %d", m_layout.clusterCount,
                     m_layout.sectorsPerCluster, m_layout.fatSize, bWritten);
                // A GPT partition has no type byte to set; an MBR partition becomes 0x0C.
                bool bTyped = true;
                if (bWritten && !(m_ucPartInfoEx && m_partitionEx.PartitionStyle == PARTITION_STYLE_GPT))
                    bTyped = DeviceIo().Control(hVolume, ZEDO_IOCTL_DISK_SET_PARTITION_INFO, m_setPartitionType,
                                                sizeof(m_setPartitionType), nullptr, 0, &dwReturned) != FALSE;
                bool bDismounted =
                    DeviceIo().Control(hVolume, ZEDO_FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &dwReturned) !=
                    FALSE;
                ucResult = bWritten && bTyped && bDismounted ? 1 : 0;
            }
        }
    } catch (...) {
        ZLOG(kFn, "exception, dwErrorCode : %lu", GetLastError());
        ucResult = 0;
    }
    if (bLocked)
        DeviceIo().Control(hVolume, ZEDO_FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &dwReturned);
    DeviceIo().Control(hVolume, ZEDO_IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &dwReturned);
    DeviceIo().CloseDevice(hVolume);
    return ucResult;
}
