#pragma once
// Helpers of the utility object's disk utilities (partitioning and formatting, ATA pass-through
// and SMART, the read/write and speed tests, whose members are in Utility.h). Disk and volume
// requests go through DeviceIo(); tools, volumes, rescans and the clock through DiskPlatform().
#include <windows.h>

#include <string>

// Helpers shared by the utilities and the formatter.
namespace DiskUtil {
// The disk number of the first extent of a letter's volume; false when the letter has no volume
// or the volume lies on no disk.
bool DiskOfLetter(char cLetter, DWORD* pdwDisk);
// The same, with the length in bytes of that first extent.
bool VolumeExtent(char cLetter, DWORD* pdwDisk, unsigned long long* pullLength);
// True when the letter has a volume at all.
bool LetterHasVolume(char cLetter);
// The disk that holds the system folder; false when it cannot be told.
bool SystemDisk(DWORD* pdwDisk);
// True when the disk is the system disk, or when the system disk cannot be told.
bool IsSystemDisk(DWORD dwDisk);
// True when the letter's volume lies on the system disk (or that cannot be told).
bool LetterOnSystemDisk(char cLetter);
// Disk size and sector size from IOCTL_DISK_GET_DRIVE_GEOMETRY_EX.
bool DiskGeometry(DWORD dwDisk, unsigned long long* pullSize, DWORD* pdwBytesPerSector);
} // namespace DiskUtil

// The reported write rate of the speed test from the measured write and read rates.
float ReportedWriteRate(float fWrite, float fRead);
