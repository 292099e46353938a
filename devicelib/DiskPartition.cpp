// Partitioning a whole disk through the system's partition tool, realigning a partition the tool
// placed at sector 63, and formatting the volume behind a letter (NTFS through the system's format
// tool, FAT32 through the library's own formatter), with the label and the post-check.
#include "DiskUtility.h"
#include "Utility.h"

#include "DiskPlatform.h"
#include "Fat32Format.h"
#include "ZedoDeviceIo.h"

#include <io.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kToolTimeOutMs = 12000000;   // 200 minutes
const DWORD kLabelTimeOutMs = 1000000;
const char* const kScriptName = "DiskPartTarget";
const char* const kScriptExtension = "sc";
const char* const kNewLabel = "NewDisk";

std::string DiskPath(DWORD dwDisk)
{
    char szPath[32];
    snprintf(szPath, sizeof(szPath), "\\\\.\\PhysicalDrive%lu", dwDisk);
    return szPath;
}


// An MBR entry holds a partition's start and length in 32 bits, and the system keeps an MBR
// partition within the disk's first 2^32 sectors: on a larger disk the rest would lie outside
// any partition.
const unsigned long long kMbrReachSectors = 0x100000000ull;
// What the partition tool may leave unused after the last partition: its end aligned to 1 MiB,
// and on a GPT disk the backup table (33 sectors).
const unsigned long long kToolTailAlignment = 0x100000;
const unsigned long long kBackupTableSectors = 33;

bool VolumeName(char cLetter, char* pszName, DWORD dwChars)
{
    char szMountPoint[4] = {cLetter, ':', '\\', 0};
    pszName[0] = 0;
    return DeviceIo().VolumeNameForMountPoint(szMountPoint, pszName, dwChars) && pszName[0];
}

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX with a buffer of 192 bytes plus 144 bytes per earlier attempt,
// grown while the answer says it is too small; the entries that came back.
bool ReadDriveLayout(HANDLE hDisk, std::vector<PARTITION_INFORMATION_EX>* pEntries)
{
    pEntries->clear();
    for (int nAttempt = 0; nAttempt < 64; ++nAttempt) {
        std::vector<BYTE> buffer(192 + 144 * size_t(nAttempt));
        DWORD dwReturned = 0;
        if (!DeviceIo().Control(hDisk, ZEDO_IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                                static_cast<DWORD>(buffer.size()), &dwReturned)) {
            DWORD dwError = GetLastError();
            if ((dwError == ERROR_INSUFFICIENT_BUFFER && dwReturned == 0) || dwError == ERROR_MORE_DATA)
                continue;
            return false;
        }
        auto* pLayout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
        const size_t nRoom = (buffer.size() - offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) /
                             sizeof(PARTITION_INFORMATION_EX);
        const size_t nEntries = pLayout->PartitionCount < nRoom ? pLayout->PartitionCount : nRoom;
        pEntries->assign(pLayout->PartitionEntry, pLayout->PartitionEntry + nEntries);
        return true;
    }
    return false;
}

// True when the partitions the system now knows on the disk reach its end, but for what the
// tool leaves to alignment: a disk partitioned only in part is not a prepared disk.
bool PartitionsCoverDisk(DWORD dwDisk)
{
    const char* const kFn = "CUtility::vCreatePartition";
    unsigned long long ullSize = 0;
    DWORD dwBytesPerSector = 0;
    if (!DiskUtil::DiskGeometry(dwDisk, &ullSize, &dwBytesPerSector) || dwBytesPerSector == 0) {
        ZLOG(kFn, "disk %lu: size unreadable after partitioning, dwErrorCode : %lu", dwDisk, GetLastError());
        return false;
    }
    HANDLE hDisk = DeviceIo().OpenDisk(DiskPath(dwDisk).c_str(), 0, kShareAll, FILE_FLAG_NO_BUFFERING);
    if (hDisk == INVALID_HANDLE_VALUE)
        return false;
    std::vector<PARTITION_INFORMATION_EX> entries;
    const bool bRead = ReadDriveLayout(hDisk, &entries);
    DeviceIo().CloseDevice(hDisk);
    unsigned long long ullEnd = 0;
    for (const PARTITION_INFORMATION_EX& entry : entries) {
        if (entry.PartitionNumber == 0 || entry.PartitionLength.QuadPart <= 0 || entry.StartingOffset.QuadPart < 0)
            continue;
        const unsigned long long ullPartitionEnd =
            static_cast<unsigned long long>(entry.StartingOffset.QuadPart) +
            static_cast<unsigned long long>(entry.PartitionLength.QuadPart);
        if (ullPartitionEnd > ullEnd)
            ullEnd = ullPartitionEnd;
    }
    const unsigned long long ullSlack = kToolTailAlignment + kBackupTableSectors * dwBytesPerSector;
    const bool bCovers = bRead && ullEnd > 0 && ullEnd <= ullSize && ullSize - ullEnd <= ullSlack;
    if (!bCovers)
        ZLOG(kFn, "disk %lu: partitions end at byte %llu of %llu: the disk is not partitioned whole", dwDisk, ullEnd,
             ullSize);
    return bCovers;
}

} // namespace

// ---- Helpers ----

bool DiskUtil::LetterHasVolume(char cLetter)
{
    char szVolume[512];
    return VolumeName(cLetter, szVolume, sizeof(szVolume));
}

bool DiskUtil::DiskOfLetter(char cLetter, DWORD* pdwDisk)
{
    unsigned long long ullLength = 0;
    return VolumeExtent(cLetter, pdwDisk, &ullLength);
}

bool DiskUtil::VolumeExtent(char cLetter, DWORD* pdwDisk, unsigned long long* pullLength)
{
    char szVolume[512];
    if (!VolumeName(cLetter, szVolume, sizeof(szVolume)))
        return false;
    size_t n = strlen(szVolume);
    if (szVolume[n - 1] == '\\')
        szVolume[n - 1] = 0;   // the volume is opened without its trailing backslash
    HANDLE hVolume = DeviceIo().OpenDevice(szVolume, GENERIC_READ, kShareAll);
    if (hVolume == INVALID_HANDLE_VALUE)
        return false;
    ZedoVolumeExtent extent;
    const bool bOk = ZedoQueryVolumeExtent(hVolume, &extent);
    DeviceIo().CloseDevice(hVolume);
    if (!bOk)
        return false;
    *pdwDisk = extent.DiskNumber;
    *pullLength = static_cast<unsigned long long>(extent.ExtentLength);
    return true;
}

bool DiskUtil::SystemDisk(DWORD* pdwDisk)
{
    std::string folder = DiskPlatform().SystemFolder();
    if (folder.size() < 2 || folder[1] != ':')
        return false;
    return DiskOfLetter(folder[0], pdwDisk);
}

bool DiskUtil::IsSystemDisk(DWORD dwDisk)
{
    DWORD dwSystem = 0;
    return !SystemDisk(&dwSystem) || dwSystem == dwDisk;
}

bool DiskUtil::LetterOnSystemDisk(char cLetter)
{
    DWORD dwDisk = 0;
    if (!DiskOfLetter(cLetter, &dwDisk))
        return LetterHasVolume(cLetter);   // a volume whose disk cannot be told may be the system's
    return IsSystemDisk(dwDisk);
}

bool DiskUtil::DiskGeometry(DWORD dwDisk, unsigned long long* pullSize, DWORD* pdwBytesPerSector)
{
    HANDLE hDisk = DeviceIo().OpenDisk(DiskPath(dwDisk).c_str(), GENERIC_READ, kShareAll, 0);
    if (hDisk == INVALID_HANDLE_VALUE)
        return false;
    DISK_GEOMETRY_EX geometry = {};
    DWORD dwReturned = 0;
    BOOL bOk = DeviceIo().Control(hDisk, ZEDO_IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry,
                                  sizeof(geometry), &dwReturned);
    DeviceIo().CloseDevice(hDisk);
    // The answer must reach to the end of the disk size.
    if (!bOk || dwReturned < offsetof(DISK_GEOMETRY_EX, DiskSize) + sizeof(geometry.DiskSize))
        return false;
    *pullSize = geometry.DiskSize.QuadPart;
    *pdwBytesPerSector = geometry.Geometry.BytesPerSector;
    return true;
}

// ---- CUtility: partitioning and formatting ----

char CUtility::cGetUnusedDriveLetter()
{
    try {
        bool bFree[24];
        for (int i = 0; i < 24; ++i) {
            UINT uType = DiskPlatform().DriveType(static_cast<char>('A' + i));
            bFree[i] = !(uType >= DRIVE_REMOVABLE && uType <= DRIVE_RAMDISK);
        }
        for (int i = 'E' - 'A'; i < 24; ++i)
            if (bFree[i])
                return static_cast<char>('A' + i);
    } catch (...) {
    }
    return 0x7F;
}

BYTE CUtility::vCheckFilePathExists(const char* pszPath, BYTE ucShowMessage)
{
    if (!pszPath)
        return 0;
    char szText[600];
    if (_access(pszPath, 0) != 0) {
        if (ucShowMessage == 1) {
            snprintf(szText, sizeof(szText), "%s File/Path Not Exist", pszPath);
            ZedoShowMessage(szText, "Error", MB_OK | MB_ICONERROR);
        }
        return 0;
    }
    if (_access(pszPath, 6) != 0) {
        if (ucShowMessage == 1) {
            snprintf(szText, sizeof(szText), "%s File/Path Not Read/Write", pszPath);
            ZedoShowMessage(szText, "Error", MB_OK | MB_ICONERROR);
        }
        return 0;
    }
    return 1;
}

DWORD CUtility::vGetPartitionCount(BYTE ucDisk)
{
    HANDLE hDisk = DeviceIo().OpenDisk(DiskPath(ucDisk).c_str(), 0, kShareAll, FILE_FLAG_NO_BUFFERING);
    if (hDisk == INVALID_HANDLE_VALUE)
        return 0x7FFFFFFF;
    DWORD dwResult = 0x7FFFFFFF;
    std::vector<PARTITION_INFORMATION_EX> entries;
    if (ReadDriveLayout(hDisk, &entries))
        for (const PARTITION_INFORMATION_EX& entry : entries)
            if (entry.PartitionNumber != 0)
                dwResult = entry.PartitionNumber;
    DeviceIo().CloseDevice(hDisk);
    return dwResult;
}

DWORD CUtility::vCheckFileSystemCapacity(BYTE ucDisk)
{
    unsigned long long ullSize = 0;
    DWORD dwBytesPerSector = 0;
    if (!DiskUtil::DiskGeometry(ucDisk, &ullSize, &dwBytesPerSector))
        return 0x7FFFFFFF;
    return ullSize / 0x100000 < 0x800000 ? 1 : 0;
}

DWORD CUtility::vGetDiskPhysicalSize(BYTE ucDisk)
{
    unsigned long long ullSize = 0;
    DWORD dwBytesPerSector = 0;
    if (!DiskUtil::DiskGeometry(ucDisk, &ullSize, &dwBytesPerSector))
        return 0xFFFFFFFF;
    unsigned long long ullMiB = ullSize / 0x100000;
    return ullMiB >= 0xFFFFFFFF ? 0xFFFFFFFE : static_cast<DWORD>(ullMiB);
}

BYTE CUtility::vSetDiskPartSetupInfo(BYTE ucDisk, BYTE ucStyle)
{
    const char cLetter = cGetUnusedDriveLetter();
    if (ucDisk == 0 || DiskUtil::IsSystemDisk(ucDisk))
        return 0;
    if (cLetter == 0x7F) {
        ZLOG("CUtility::vSetDiskPartSetupInfo", "no free drive letter");
        return 0;
    }
    char szScript[8192];
    if (ucStyle == 0)
        snprintf(szScript, sizeof(szScript),
                 " list disk\n select disk %d\n clean \ncreate partition primary \n active\n select partition 1\n "
                 "assign letter=%c\n",
                 ucDisk, cLetter);
    else
        snprintf(szScript, sizeof(szScript),
                 " list disk\n select disk %d\n clean \n convert gpt\ncreate partition primary \n select partition "
                 "2\n assign letter=%c\n",
                 ucDisk, cLetter);

    vDelDiskPartSetupInfo(ucDisk);
    // The script lives in a new folder of the user's own temporary folder, created here and
    // written with nobody else sharing it, so nothing can change it before the tool reads it.
    std::string temp = DiskPlatform().TempFolder();
    if (temp.empty())
        return 0;
    if (temp.back() != '\\')
        temp += '\\';
    std::string folder;
    for (int nTry = 0; nTry < 100 && folder.empty(); ++nTry) {
        char szName[64];
        snprintf(szName, sizeof(szName), "zedopart-%lu-%lu-%d", GetCurrentProcessId(), GetTickCount(), nTry);
        if (CreateDirectoryA((temp + szName).c_str(), nullptr))
            folder = temp + szName;
    }
    if (folder.empty())
        return 0;
    char szFile[64];
    snprintf(szFile, sizeof(szFile), "\\%s%d.%s", kScriptName, ucDisk, kScriptExtension);
    std::string path = folder + szFile;
    m_strScriptFolder = folder;
    m_strScriptPath = path;
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    DWORD dwLength = static_cast<DWORD>(strlen(szScript)), dwWritten = 0;
    BOOL bOk = WriteFile(hFile, szScript, dwLength, &dwWritten, nullptr) && dwWritten == dwLength &&
               FlushFileBuffers(hFile);
    CloseHandle(hFile);
    ZLOG("CUtility::vSetDiskPartSetupInfo", "script %s for disk %d, letter %c: %d", path.c_str(), ucDisk, cLetter,
         bOk);
    return bOk && vCheckFilePathExists(path.c_str(), 0) ? 1 : 0;
}

BYTE CUtility::vDelDiskPartSetupInfo(BYTE)
{
    try {
        if (!m_strScriptPath.empty()) {
            DeleteFileA(m_strScriptPath.c_str());
            if (!m_strScriptFolder.empty())
                RemoveDirectoryA(m_strScriptFolder.c_str());
            m_strScriptPath.clear();
            m_strScriptFolder.clear();
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

void CUtility::UpdateDiskProperties(BYTE ucDisk)
{
    HANDLE hDisk = DeviceIo().OpenDisk(DiskPath(ucDisk).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                       FILE_FLAG_NO_BUFFERING);
    if (hDisk == INVALID_HANDLE_VALUE)
        return;
    DWORD dwReturned = 0;
    DeviceIo().Control(hDisk, ZEDO_IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &dwReturned);
    DeviceIo().CloseDevice(hDisk);
}

BYTE CUtility::vCreatePartition(BYTE ucDisk, BYTE ucStyle)
{
    const char* const kFn = "CUtility::vCreatePartition";
    BYTE ucResult = 0;
    try {
        // Refused before the tool wipes anything: a disk whose size is unknown cannot be seen to be
        // partitioned whole, and MBR does not reach past 2^32 sectors (whatever their size).
        unsigned long long ullSize = 0;
        DWORD dwBytesPerSector = 0;
        if (!DiskUtil::DiskGeometry(ucDisk, &ullSize, &dwBytesPerSector) || dwBytesPerSector == 0) {
            ZLOG(kFn, "disk %d: size unreadable, not partitioned, dwErrorCode : %lu", ucDisk, GetLastError());
            return 0;
        }
        const unsigned long long ullSectors = ullSize / dwBytesPerSector;
        if (ucStyle == 0 && ullSectors > kMbrReachSectors) {
            ZLOG(kFn, "disk %d: %llu sectors of %lu bytes, more than MBR reaches (%llu sectors): refused, use GPT",
                 ucDisk, ullSectors, dwBytesPerSector, kMbrReachSectors);
            return 0;
        }
        if (!vSetDiskPartSetupInfo(ucDisk, ucStyle)) {
            vDelDiskPartSetupInfo(ucDisk);
            return 0;
        }
        std::string parameters = " /s \"" + m_strScriptPath + "\"";
        bool bPartitioned = false;
        DWORD dwCount = 0x7FFFFFFF;
        for (int nAttempt = 0; nAttempt < 3 && !bPartitioned; ++nAttempt) {
            ToolRun run = DiskPlatform().RunTool("diskpart.exe", parameters.c_str(), kToolTimeOutMs);
            ZLOG(kFn, "diskpart: started %d finished %d exit %lu", run.bStarted, run.bFinished, run.dwExitCode);
            if (!run.bStarted) {
                DiskPlatform().Sleep(500);
                continue;
            }
            if (!run.bFinished)
                break;   // still working on the disk: nothing more may be done to it
            if (!run.Succeeded())
                continue;
            dwCount = vGetPartitionCount(ucDisk);
            bPartitioned = dwCount != 0x7FFFFFFF;
        }
        if (bPartitioned) {
            ucResult = 1;
            if (dwCount == 1) {
                ucResult = 0;
                HANDLE hDisk = DeviceIo().OpenDisk(DiskPath(ucDisk).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                   kShareAll, FILE_FLAG_NO_BUFFERING);
                if (hDisk != INVALID_HANDLE_VALUE) {
                    // Sector 0 in the disk's own sector size: 512 bytes, else 4096.
                    BYTE* pSector = static_cast<BYTE*>(
                        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
                    DWORD dwSize = 0, dwDone = 0;
                    if (pSector) {
                        if (DeviceIo().ReadAt(hDisk, 0, pSector, 512, &dwDone) && dwDone == 512)
                            dwSize = 512;
                        else if (DeviceIo().ReadAt(hDisk, 0, pSector, 4096, &dwDone) && dwDone == 4096)
                            dwSize = 4096;
                    }
                    if (dwSize) {
                        DWORD dwStart = 0, dwSectors = 0;
                        memcpy(&dwStart, pSector + 454, 4);
                        memcpy(&dwSectors, pSector + 458, 4);
                        bool bRealign = pSector[510] == 0x55 && pSector[511] == 0xAA && pSector[446] == 0x80 &&
                                        (dwStart & 0xFF) == 63;
                        if (bRealign && dwSectors < 65) {
                            // Moved one sector on and cut to whole 64-sector units, such a partition
                            // keeps no sector at all (and one of 0 sectors would wrap to 4 billion):
                            // sector 0 is left as the tool wrote it, and the partitioning failed.
                            ZLOG(kFn, "partition of %lu sectors cannot be realigned", dwSectors);
                        } else {
                            if (bRealign) {
                                dwStart = (dwStart & ~0xFFu) | 64;
                                dwSectors = (dwSectors - 1) & ~63u;
                                memcpy(pSector + 454, &dwStart, 4);
                                memcpy(pSector + 458, &dwSectors, 4);
                                ZLOG(kFn, "partition moved to %lu, %lu sectors", dwStart, dwSectors);
                            }
                            ucResult =
                                DeviceIo().WriteAt(hDisk, 0, pSector, dwSize, &dwDone) && dwDone == dwSize ? 1 : 0;
                            DWORD dwReturned = 0;
                            DeviceIo().Control(hDisk, ZEDO_FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                                               &dwReturned);
                        }
                    } else {
                        ZLOG(kFn, "sector 0 unreadable, dwErrorCode : %lu", GetLastError());
                    }
                    if (pSector)
                        VirtualFree(pSector, 0, MEM_RELEASE);
                    DeviceIo().CloseDevice(hDisk);
                }
            }
            // The system reads the partition table again only now, after any rewrite of sector 0.
            UpdateDiskProperties(ucDisk);
            if (ucResult && !PartitionsCoverDisk(ucDisk))
                ucResult = 0;
        }
    } catch (...) {
        ZLOG(kFn, "exception, dwErrorCode : %lu", GetLastError());
        ucResult = 0;
    }
    if (!vDelDiskPartSetupInfo(ucDisk))
        ucResult = 0;
    return ucResult;
}

BYTE CUtility::vLowLevelFormatTracks(BYTE ucDisk, BYTE ucDriveLetter, BYTE ucPartInfoEx, BYTE ucFileSystem)
{
    const char* const kFn = "CUtility::vLowLevelFormatTracks";
    const char cLetter = static_cast<char>(ucDriveLetter);
    std::string testFolder;
    try {
        unsigned long long ullSize = 0;
        DWORD dwBytesPerSector = 0;
        DiskUtil::DiskGeometry(ucDisk, &ullSize, &dwBytesPerSector);
        const DWORD dwClass = vCheckFileSystemCapacity(ucDisk);
        ZLOG(kFn, "disk %d: %llu bytes, class %lu", ucDisk, ullSize, dwClass);

        DWORD dwDiskOfLetter = 0xFFFFFFFF;
        unsigned long long ullVolumeBytes = 0;
        if (ucDriveLetter == 0x7F || !DiskUtil::LetterHasVolume(cLetter) ||
            !DiskUtil::VolumeExtent(cLetter, &dwDiskOfLetter, &ullVolumeBytes) || dwDiskOfLetter != ucDisk ||
            DiskUtil::IsSystemDisk(ucDisk) || dwClass == 0x7FFFFFFF) {
            ZLOG(kFn, "refused: letter 0x%02X on disk %ld", ucDriveLetter, static_cast<long>(dwDiskOfLetter));
            return 0;
        }
        // FAT32 counts a volume's sectors in 32 bits (the formatter stops short of all ones), so a
        // larger volume gets NTFS, as a disk of 8 TiB or more does, whatever its sectors' size.
        const unsigned long long ullVolumeSectors = dwBytesPerSector ? ullVolumeBytes / dwBytesPerSector : 0;
        const bool bFat32Fits = ullVolumeSectors < fat32::kMaxTotalSectors;
        if (ucFileSystem != 0 && !bFat32Fits)
            ZLOG(kFn, "volume of %llu sectors of %lu bytes is too large for FAT32: NTFS", ullVolumeSectors,
                 dwBytesPerSector);
        const bool bFat32 = dwClass == 1 && ucFileSystem != 0 && bFat32Fits;
        const char* const pszFileSystem = bFat32 ? "FAT32" : "NTFS";

        BYTE ucResult = 0;
        for (int nAttempt = 0; nAttempt < 2 && !ucResult; ++nAttempt) {
            bool bFormatted = false;
            if (!bFat32) {
                char szParameters[64];
                snprintf(szParameters, sizeof(szParameters), " %c:/Q /FS:%s /y", cLetter, pszFileSystem);
                bFormatted = DiskPlatform().RunTool("format.com", szParameters, kToolTimeOutMs).Succeeded();
            } else {
                const DWORD dwMiB = vGetDiskPhysicalSize(ucDisk);
                DWORD dwSpc = 64;
                if (dwMiB > 0 && dwMiB <= 0x22400)
                    dwSpc = 16;
                else if (dwMiB > 0x22400 && dwMiB <= 0x44800)
                    dwSpc = 32;
                CFat32Format format;
                bFormatted = format.bSetFormatParam(ucDriveLetter, dwSpc, ucPartInfoEx) &&
                             format.bFormatVolume(kNewLabel);
            }
            ZLOG(kFn, "%s format of %c: attempt %d: %d", pszFileSystem, cLetter, nAttempt, bFormatted);
            if (bFormatted) {
                testFolder = DiskPlatform().DriveRoot(cLetter) + "tmp";
                if (!CreateDirectoryA(testFolder.c_str(), nullptr)) {
                    ZLOG(kFn, "%s cannot be made, dwErrorCode : %lu", testFolder.c_str(), GetLastError());
                    testFolder.clear();
                    DiskPlatform().Sleep(1000);
                } else {
                    RemoveDirectoryA(testFolder.c_str());
                    testFolder.clear();
                    if (!bFat32 && !DiskPlatform().SetLabel(cLetter, kNewLabel)) {
                        char szParameters[64];
                        snprintf(szParameters, sizeof(szParameters), "%c: %s", cLetter, kNewLabel);
                        DiskPlatform().RunTool("label.exe", szParameters, kLabelTimeOutMs);
                    }
                    char szLabel[MAX_PATH + 1] = {}, szFileSystem[MAX_PATH + 1] = {};
                    if (DiskPlatform().VolumeInformation(cLetter, szLabel, sizeof(szLabel), szFileSystem,
                                                         sizeof(szFileSystem)) &&
                        _stricmp(szFileSystem, pszFileSystem) == 0 && _stricmp(szLabel, kNewLabel) == 0)
                        ucResult = 1;
                    ZLOG(kFn, "%c: holds %s labelled \"%s\"", cLetter, szFileSystem, szLabel);
                }
            }
            if (!ucResult)
                UpdateDiskProperties(ucDisk);
        }
        return ucResult;
    } catch (...) {
        ZLOG(kFn, "exception, dwErrorCode : %lu", GetLastError());
        if (!testFolder.empty())
            RemoveDirectoryA(testFolder.c_str());
        return 0;
    }
}
