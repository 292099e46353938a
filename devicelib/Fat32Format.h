#pragma once
// Writes a FAT32 file system straight onto the volume behind a drive letter, without the system's
// format tool. The layout itself is in Fat32Layout.h.
#include <windows.h>

#include "Fat32Layout.h"
#include "ZedoDeviceIo.h"

// Disk I/O control codes of the formatter and the disk utilities.
#define ZEDO_IOCTL_DISK_GET_DRIVE_GEOMETRY 0x00070000
#define ZEDO_IOCTL_DISK_GET_PARTITION_INFO 0x00074004
#define ZEDO_IOCTL_DISK_SET_PARTITION_INFO 0x0007C008
#define ZEDO_IOCTL_DISK_GET_PARTITION_INFO_EX 0x00070048
#define ZEDO_IOCTL_DISK_GET_DRIVE_LAYOUT_EX 0x00070050
#define ZEDO_IOCTL_DISK_UPDATE_PROPERTIES 0x00070140
#define ZEDO_FSCTL_LOCK_VOLUME 0x00090018
#define ZEDO_FSCTL_UNLOCK_VOLUME 0x0009001C
#define ZEDO_FSCTL_DISMOUNT_VOLUME 0x00090020

class CFat32Format {
public:
    CFat32Format();
    virtual ~CFat32Format();

    // Drive letter, sectors per cluster (0 chooses by size; at most 64) and the partition-information
    // flag (non-zero reads the extended partition information, which also serves GPT partitions).
    BYTE bSetFormatParam(BYTE ucDriveLetter, DWORD dwSectorsPerCluster, BYTE ucPartInfoEx);
    // Formats the volume of the stored letter with the given label; 1 only when every step succeeded.
    BYTE bFormatVolume(const char* pszLabel);

    // The volume's layout after the last format (for the log and the tests).
    const fat32::Layout& Layout() const { return m_layout; }

    void vClearPrivateData();
    BYTE bPreCheckFat32FormatParam(HANDLE hVolume);
    static DWORD dwGetFatSizeSectors(unsigned long long ullTotal, DWORD dwReserved, DWORD dwSpc, DWORD dwFats,
                                     DWORD dwBytesPerSector);
    DWORD dwGetVolumeId();
    static DWORD bGetSectorsPerCluster(unsigned long long ullSizeBytes, DWORD dwBytesPerSector);
    static DWORD bGetSpc(DWORD dwKiB, DWORD dwBytesPerSector);
    static BOOL vSeekToSect(HANDLE hVolume, DWORD dwSector, DWORD dwBytesPerSector, unsigned long long* pullOffset);
    static BOOL vWriteSect(HANDLE hVolume, unsigned long long ullSector, DWORD dwBytesPerSector, const void* pData,
                           DWORD dwSectors);
    static BOOL vZeroSectors(HANDLE hVolume, unsigned long long ullSector, DWORD dwBytesPerSector, DWORD dwSectors);

    // Parameters.
    DWORD m_dwSectorsPerClusterParam;
    BYTE m_ucDriveLetter;
    BYTE m_ucPartInfoEx;

private:
    // What the system reports of the volume.
    DISK_GEOMETRY m_geometry;
    PARTITION_INFORMATION m_partition;
    PARTITION_INFORMATION_EX m_partitionEx;
    BYTE m_setPartitionType[1];   // the record for IOCTL_DISK_SET_PARTITION_INFO: the type, 0x0C

    DWORD m_dwReservedSectors;
    DWORD m_dwNumFats;
    DWORD m_dwBackupBootSector;
    DWORD m_dwVolumeId;
    char m_szVolumeLabel[12];

    fat32::Layout m_layout;
    unsigned long long m_ullTotalSectors;
    unsigned long long m_ullHiddenSectors;
};
