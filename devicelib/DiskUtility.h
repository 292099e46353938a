#pragma once
// The disk utilities of the utility object: partitioning and formatting, ATA pass-through and
// SMART, and the read/write and speed tests. Disk and volume requests go through DeviceIo(),
// tools, volumes, rescans and the clock through DiskPlatform().
#include <windows.h>

#include <string>

// Helpers shared by the utilities and the formatter.
namespace DiskUtil {
// The disk number of the first extent of a letter's volume; false when the letter has no volume
// or the volume lies on no disk.
bool DiskOfLetter(char cLetter, DWORD* pdwDisk);
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

class CDiskUtility {
public:
    CDiskUtility();
    ~CDiskUtility();
    CDiskUtility(const CDiskUtility&) = delete;
    CDiskUtility& operator=(const CDiskUtility&) = delete;

    // ---- Partitioning and formatting ----
    BYTE vCreatePartition(BYTE ucDisk, BYTE ucStyle);
    BYTE vLowLevelFormatTracks(BYTE ucDisk, BYTE ucDriveLetter, BYTE ucPartInfoEx, BYTE ucFileSystem);
    BYTE vSetDiskPartSetupInfo(BYTE ucDisk, BYTE ucStyle);
    BYTE vDelDiskPartSetupInfo(BYTE ucDisk);
    char cGetUnusedDriveLetter();
    BYTE vCheckFilePathExists(const char* pszPath, BYTE ucShowMessage);
    DWORD vGetPartitionCount(BYTE ucDisk);
    DWORD vCheckFileSystemCapacity(BYTE ucDisk);
    DWORD vGetDiskPhysicalSize(BYTE ucDisk);
    // The script of the last vSetDiskPartSetupInfo (empty when none).
    const std::string& ScriptPath() const { return m_strScriptPath; }

    // ---- ATA pass-through and SMART ----
    BYTE bSendATAPassThroughBySCSICMD(BYTE ucDisk, BYTE ucFeatures, BYTE ucSectorCount, BYTE ucLbaLow,
                                      BYTE ucLbaMid, BYTE ucLbaHigh, BYTE ucDevice, BYTE ucCommand, BYTE* pBuffer,
                                      DWORD dwLength);
    BYTE bSendATAPassThrough16BySCSICMD(BYTE ucDisk, WORD wFeatures, WORD wSectorCount, WORD wLbaLow, WORD wLbaMid,
                                        WORD wLbaHigh, BYTE ucDevice, BYTE ucCommand, BYTE* pBuffer,
                                        DWORD dwSectorLength);
    BYTE bSendIdentifyATAPassThrough(BYTE ucDisk, BYTE* pBuffer, DWORD dwLength);
    BYTE bSendSMARTCTLBySCSICMD(BYTE ucDisk, BYTE* pBuffer, BYTE ucFeature, BYTE ucLogPage);
    BYTE bSendATAPassThrough16(BYTE ucDisk, BYTE* pBuffer, WORD wSectorCount, WORD wLbaLow, WORD wLbaMid,
                               WORD wLbaHigh, BYTE ucWrite, DWORD dwSectorLength);
    // The private page just past the capacity the bridge shows; the caller's buffer holds 512 bytes.
    BYTE vReadWriteSmartLogPage_LastSector(BYTE ucDisk, BYTE ucWrite, BYTE* pBuffer);

    // ---- Read/write and speed tests ----
    BYTE vReadWriteTest(BYTE ucDriveLetter, const char* pszFileName);
    BYTE ReadWritePerfomanceTest(BYTE ucDisk, int nPercent, int nSizeMiB, float* pfReadRate, float* pfWriteRate,
                                 int* pnErrorCode);
    // Free MiB of a drive, -1 when it cannot be read.
    long long vGetDiskFreeSpace(BYTE ucDriveLetter);
    BYTE vReadFile(const char* pszPath, BYTE* pBuffer, DWORD dwLength);
    // Creates the file (it must not exist yet), writes it through and flushes it.
    BYTE vWriteFile(const char* pszPath, const BYTE* pBuffer, DWORD dwLength);
    BYTE bScanForHardwaeChanges();
    // The first letter from C to Z whose volume's first extent lies on the disk, or 0x7F.
    char vGetLogicalAddressFromPhysicalAddress(BYTE ucDisk);

    // Raw transfers on an open, locked volume at a byte offset, in pieces of at most 32 MiB; each
    // piece lands at its own place in the buffer. With the timed flag the rate of the whole transfer
    // (bytes over the time taken) goes to the read or write accumulator.
    BYTE vReadSectors(HANDLE hVolume, BYTE* pBuffer, unsigned long long ullOffset, DWORD dwBytes, BOOL bTimed);
    BYTE vWriteSectors(HANDLE hVolume, const BYTE* pBuffer, unsigned long long ullOffset, DWORD dwBytes, BOOL bTimed);

    float m_fWriteRate;   // MiB/s of the last timed write
    float m_fReadRate;    // MiB/s of the last timed read
    CRITICAL_SECTION m_SpeedTestCriticalSection;

private:
    bool ReadTargetUncached(const char* pszPath, BYTE* pBuffer, DWORD dwLength, char cLetter);
    void UpdateDiskProperties(BYTE ucDisk);

    std::string m_strScriptPath;
    std::string m_strScriptFolder;
};

// The reported write rate of the speed test from the measured write and read rates.
float ReportedWriteRate(float fWrite, float fRead);

// The one object the exports use (made on first use).
CDiskUtility& DiskUtility();
