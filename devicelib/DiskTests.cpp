// The read/write test (a file copied to a drive, read back past the cache and compared) and the
// raw speed test (an area of a disk read and written back unchanged under one volume lock, timed).
#include "DiskUtility.h"
#include "Utility.h"

#include "DiskPlatform.h"
#include "Fat32Format.h"
#include "ZedoDeviceIo.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kLargestTestFile = 0xB400000;     // 180 MiB
const DWORD kLargestPiece = 0x2000000;        // 32 MiB
const unsigned long long kLargestArea = 0x40000000ull;
const double kMiB = 1048576.0;

// Memory from VirtualAlloc: page-aligned, as unbuffered transfers need.
class CPages {
public:
    explicit CPages(size_t bytes)
        : m_p(bytes ? static_cast<BYTE*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
                    : nullptr)
    {
    }
    ~CPages()
    {
        if (m_p)
            VirtualFree(m_p, 0, MEM_RELEASE);
    }
    CPages(const CPages&) = delete;
    CPages& operator=(const CPages&) = delete;
    BYTE* Get() const { return m_p; }

private:
    BYTE* m_p;
};

class CEnter {
public:
    explicit CEnter(CRITICAL_SECTION* p) : m_p(p) { EnterCriticalSection(m_p); }
    ~CEnter() { LeaveCriticalSection(m_p); }
    CEnter(const CEnter&) = delete;
    CEnter& operator=(const CEnter&) = delete;

private:
    CRITICAL_SECTION* m_p;
};

bool IsDirectory(const char* pszPath)
{
    DWORD dwAttributes = GetFileAttributesA(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Opens the volume of a letter for raw transfers and takes its lock; the lock and the handle go
// together when the object ends.
class CLockedVolume {
public:
    explicit CLockedVolume(char cLetter)
    {
        char szVolume[8];
        snprintf(szVolume, sizeof(szVolume), "\\\\.\\%c:", cLetter);
        m_hVolume = DeviceIo().OpenDisk(szVolume, GENERIC_READ | GENERIC_WRITE, kShareAll,
                                        FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN);
        if (m_hVolume == INVALID_HANDLE_VALUE)
            return;
        DWORD dwReturned = 0;
        m_bLocked = DeviceIo().Control(m_hVolume, ZEDO_FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &dwReturned) != FALSE;
    }
    ~CLockedVolume()
    {
        if (m_hVolume == INVALID_HANDLE_VALUE)
            return;
        DWORD dwReturned = 0;
        if (m_bLocked) {
            DeviceIo().Control(m_hVolume, ZEDO_FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &dwReturned);
            bool bUnlocked = false;
            for (int i = 0; i < 5 && !bUnlocked; ++i)
                bUnlocked =
                    DeviceIo().Control(m_hVolume, ZEDO_FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &dwReturned) != FALSE;
        }
        DeviceIo().CloseDevice(m_hVolume);
    }
    CLockedVolume(const CLockedVolume&) = delete;
    CLockedVolume& operator=(const CLockedVolume&) = delete;
    bool Locked() const { return m_hVolume != INVALID_HANDLE_VALUE && m_bLocked; }
    HANDLE Handle() const { return m_hVolume; }
    // The volume's length in bytes; 0 when it cannot be read.
    unsigned long long Length() const
    {
        PARTITION_INFORMATION_EX info = {};
        DWORD dwReturned = 0;
        if (!DeviceIo().Control(m_hVolume, ZEDO_IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof(info),
                                &dwReturned) ||
            dwReturned < offsetof(PARTITION_INFORMATION_EX, PartitionLength) + sizeof(info.PartitionLength))
            return 0;
        return info.PartitionLength.QuadPart;
    }

private:
    HANDLE m_hVolume = INVALID_HANDLE_VALUE;
    bool m_bLocked = false;
};

} // namespace

float ReportedWriteRate(float fWrite, float fRead)
{
    if (fWrite > fRead) {
        const int d = static_cast<int>(fWrite + fRead) % 10;
        return fRead - static_cast<float>(d / 10 + d % 5);
    }
    return (fWrite + fRead) / 2;
}

BYTE CUtility::bScanForHardwaeChanges()
{
    return DiskPlatform().RescanDevices() ? 1 : 0;
}

long long CUtility::vGetDiskFreeSpace(BYTE ucDriveLetter)
{
    DWORD dwSpc = 0, dwBps = 0, dwFree = 0, dwTotal = 0;
    if (!DiskPlatform().DiskFreeSpace(static_cast<char>(ucDriveLetter), &dwSpc, &dwBps, &dwFree, &dwTotal))
        return -1;
    return static_cast<long long>((static_cast<unsigned long long>(dwFree) * dwSpc * dwBps) >> 20);
}

BYTE CUtility::vReadFile(const char* pszPath, BYTE* pBuffer, DWORD dwLength)
{
    if (!pBuffer || !pszPath || !vCheckFilePathExists(pszPath, 0))
        return 0;
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER size = {};
    BYTE ucResult = 0;
    if (GetFileSizeEx(hFile, &size)) {
        DWORD dwWant = size.QuadPart < dwLength ? static_cast<DWORD>(size.QuadPart) : dwLength;
        DWORD dwRead = 0;
        ucResult = ReadFile(hFile, pBuffer, dwWant, &dwRead, nullptr) && dwRead == dwWant ? 1 : 0;
    }
    CloseHandle(hFile);
    return ucResult;
}

BYTE CUtility::vWriteFile(const char* pszPath, const BYTE* pBuffer, DWORD dwLength)
{
    if (!pBuffer || !pszPath)
        return 0;
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    DWORD dwWritten = 0;
    LARGE_INTEGER size = {};
    BOOL bOk = WriteFile(hFile, pBuffer, dwLength, &dwWritten, nullptr) && dwWritten == dwLength &&
               FlushFileBuffers(hFile) && GetFileSizeEx(hFile, &size) && size.QuadPart == dwLength;
    CloseHandle(hFile);
    return bOk ? 1 : 0;
}

bool CUtility::ReadTargetUncached(const char* pszPath, BYTE* pBuffer, DWORD dwLength, char cLetter)
{
    // Unbuffered reads move whole sectors into sector-aligned memory.
    DWORD dwSpc = 0, dwSector = 0, dwFree = 0, dwTotal = 0;
    if (!DiskPlatform().DiskFreeSpace(cLetter, &dwSpc, &dwSector, &dwFree, &dwTotal) || dwSector == 0 ||
        dwSector > 4096 || (dwSector & (dwSector - 1)))
        dwSector = 4096;
    const size_t cbRounded = (size_t(dwLength) + dwSector - 1) / dwSector * dwSector;
    CPages pages(cbRounded ? cbRounded : dwSector);
    if (!pages.Get())
        return false;
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    size_t cbDone = 0;
    bool bOk = true;
    while (cbDone < dwLength) {
        DWORD dwPiece = static_cast<DWORD>(cbRounded - cbDone < kLargestPiece ? cbRounded - cbDone : kLargestPiece);
        DWORD dwRead = 0;
        if (!ReadFile(hFile, pages.Get() + cbDone, dwPiece, &dwRead, nullptr) || dwRead == 0) {
            bOk = false;
            break;
        }
        cbDone += dwRead;
    }
    CloseHandle(hFile);
    if (!bOk || cbDone < dwLength)
        return false;
    memcpy(pBuffer, pages.Get(), dwLength);
    return true;
}

BYTE CUtility::vReadWriteTest(BYTE ucDriveLetter, const char* pszFileName)
{
    const char* const kFn = "CUtility::vReadWriteTest";
    if (ucDriveLetter == 0x7F || !pszFileName || !pszFileName[0])
        return 0;
    try {
        const std::string source = DiskPlatform().CurrentFolder() + "\\" + pszFileName;
        if (!vCheckFilePathExists(source.c_str(), 0) || IsDirectory(source.c_str()))
            return 0;
        HANDLE hSource = CreateFileA(source.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER size = {};
        if (hSource == INVALID_HANDLE_VALUE || !GetFileSizeEx(hSource, &size)) {
            if (hSource != INVALID_HANDLE_VALUE)
                CloseHandle(hSource);
            ZedoShowMessage("R/W test file Error because the ini info is incorrect", "Error", MB_OK | MB_ICONERROR);
            return 0;
        }
        CloseHandle(hSource);
        if (size.QuadPart > kLargestTestFile) {
            std::string text = source + " WrRdTest file size too large";
            ZedoShowMessage(text.c_str(), "Error", MB_OK | MB_ICONERROR);
            return 0;
        }
        const DWORD dwLength = static_cast<DWORD>(size.QuadPart);
        const long long llFree = vGetDiskFreeSpace(ucDriveLetter);
        if (llFree != -1 && llFree < static_cast<long long>((static_cast<unsigned long long>(dwLength) * 10) >> 20)) {
            ZLOG(kFn, "%lld MiB free, too little for %lu bytes", llFree, dwLength);
            return 0;
        }
        const std::string target = DiskPlatform().DriveRoot(static_cast<char>(ucDriveLetter)) + pszFileName;
        // A file of that name on the drive is the user's: the test does not run over it.
        if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
            ZLOG(kFn, "%s exists already", target.c_str());
            return 0;
        }
        CPages first(dwLength + 4), second(dwLength + 4);
        if (!first.Get() || !second.Get())
            return 0;
        if (!vReadFile(source.c_str(), first.Get(), dwLength))
            return 0;
        memcpy(second.Get(), first.Get(), dwLength);
        if (!vWriteFile(target.c_str(), second.Get(), dwLength)) {
            // Only a file this test created may be removed.
            DWORD dwAttributes = GetFileAttributesA(target.c_str());
            if (dwAttributes != INVALID_FILE_ATTRIBUTES)
                DeleteFileA(target.c_str());
            return 0;
        }
        memset(first.Get(), 0, 4);
        bool bSame = ReadTargetUncached(target.c_str(), first.Get(), dwLength, static_cast<char>(ucDriveLetter)) &&
                     memcmp(first.Get(), second.Get(), dwLength) == 0;
        BOOL bDeleted = DeleteFileA(target.c_str());
        ZLOG(kFn, "%s: %lu bytes, same %d, deleted %d", target.c_str(), dwLength, bSame, bDeleted);
        return bSame && bDeleted ? 1 : 0;
    } catch (...) {
        ZLOG(kFn, "exception, dwErrorCode : %lu", GetLastError());
        return 0;
    }
}

BYTE CUtility::vReadSectors(HANDLE hVolume, BYTE* pBuffer, unsigned long long ullOffset, DWORD dwBytes, BOOL bTimed)
{
    for (int nPass = 0; nPass < 2; ++nPass) {
        const bool bTiming = bTimed && nPass == 1;
        long long llTicks = 0;
        for (DWORD dwDone = 0; dwDone < dwBytes;) {
            const DWORD dwPiece = dwBytes - dwDone < kLargestPiece ? dwBytes - dwDone : kLargestPiece;
            DWORD dwRead = 0;
            const long long llStart = DiskPlatform().Counter();
            BOOL bOk = DeviceIo().ReadAt(hVolume, ullOffset + dwDone, pBuffer + dwDone, dwPiece, &dwRead);
            llTicks += DiskPlatform().Counter() - llStart;
            if (!bOk || dwRead != dwPiece) {
                ZLOG("CUtility::vReadSectors", "read at %llu failed: %lu of %lu, dwErrorCode : %lu", ullOffset + dwDone,
                     dwRead, dwPiece, GetLastError());
                return 0;
            }
            dwDone += dwPiece;
        }
        if (bTiming) {
            const long long llFrequency = DiskPlatform().CounterFrequency();
            m_fReadRate = llTicks > 0 && llFrequency > 0
                              ? static_cast<float>(dwBytes / (double(llTicks) / llFrequency) / kMiB)
                              : 0.0f;
        }
    }
    return 1;
}

BYTE CUtility::vWriteSectors(HANDLE hVolume, const BYTE* pBuffer, unsigned long long ullOffset, DWORD dwBytes,
                                 BOOL bTimed)
{
    for (int nPass = 0; nPass < 2; ++nPass) {
        const bool bTiming = bTimed && nPass == 1;
        long long llTicks = 0;
        for (DWORD dwDone = 0; dwDone < dwBytes;) {
            const DWORD dwPiece = dwBytes - dwDone < kLargestPiece ? dwBytes - dwDone : kLargestPiece;
            DWORD dwWritten = 0;
            const long long llStart = DiskPlatform().Counter();
            BOOL bOk = DeviceIo().WriteAt(hVolume, ullOffset + dwDone, pBuffer + dwDone, dwPiece, &dwWritten);
            llTicks += DiskPlatform().Counter() - llStart;
            if (!bOk || dwWritten != dwPiece) {
                ZLOG("CUtility::vWriteSectors", "write at %llu failed: %lu of %lu, dwErrorCode : %lu",
                     ullOffset + dwDone, dwWritten, dwPiece, GetLastError());
                return 0;
            }
            dwDone += dwPiece;
        }
        if (bTiming) {
            const long long llFrequency = DiskPlatform().CounterFrequency();
            m_fWriteRate = llTicks > 0 && llFrequency > 0
                               ? static_cast<float>(dwBytes / (double(llTicks) / llFrequency) / kMiB)
                               : 0.0f;
        }
    }
    return 1;
}

BYTE CUtility::ReadWritePerfomanceTest(BYTE ucDisk, int nPercent, int nSizeMiB, float* pfReadRate,
                                           float* pfWriteRate, int* pnErrorCode)
{
    const char* const kFn = "CUtility::ReadWritePerfomanceTest";
    CEnter enter(&m_SpeedTestCriticalSection);
    try {
        if (!pfReadRate || !pfWriteRate || nPercent < 0 || nPercent > 100 || nSizeMiB <= 0)
            return 0;
        const unsigned long long ullArea = static_cast<unsigned long long>(nSizeMiB) * 1048576 / 4;
        if (ullArea > kLargestArea || DiskUtil::IsSystemDisk(ucDisk))
            return 0;
        unsigned long long ullDiskSize = 0;
        DWORD dwBytesPerSector = 0;
        if (!DiskUtil::DiskGeometry(ucDisk, &ullDiskSize, &dwBytesPerSector) || dwBytesPerSector == 0)
            return 0;
        const DWORD dwArea = static_cast<DWORD>(ullArea / dwBytesPerSector * dwBytesPerSector);
        const unsigned long long ullStartSector = ullDiskSize / dwBytesPerSector * nPercent / 100;
        const char cLetter = vGetLogicalAddressFromPhysicalAddress(ucDisk);
        CPages area(dwArea);
        if (!area.Get() || cLetter == 0x7F) {
            if (pnErrorCode)
                *pnErrorCode = -11;
            return 0;
        }

        BYTE ucResult = 1;
        for (int nCycle = 0; nCycle < 2; ++nCycle) {
            const BOOL bTimed = nCycle == 1;
            m_fReadRate = m_fWriteRate = 0;
            // The area is read and written back under one lock, so nobody's writes land in between
            // and are undone; without the lock nothing is written.
            std::unique_ptr<CLockedVolume> pVolume;
            unsigned long long ullOffset = 0;
            for (int nAttempt = 0; nAttempt < 3 && !pVolume; ++nAttempt) {
                if (nAttempt)
                    bScanForHardwaeChanges();
                auto pTry = std::make_unique<CLockedVolume>(cLetter);
                bool bRead = false;
                if (pTry->Locked()) {
                    // The area's place on the disk, kept inside the volume.
                    const unsigned long long ullLength = pTry->Length() / dwBytesPerSector * dwBytesPerSector;
                    ullOffset = ullStartSector * dwBytesPerSector;
                    if (ullLength >= dwArea && ullOffset > ullLength - dwArea)
                        ullOffset = ullLength - dwArea;
                    bRead = ullLength >= dwArea && vReadSectors(pTry->Handle(), area.Get(), ullOffset, dwArea, bTimed);
                }
                if (bRead)
                    pVolume = std::move(pTry);
            }
            if (!pVolume) {
                ZLOG(kFn, "disk %d: the area could not be read", ucDisk);
                if (pnErrorCode)
                    *pnErrorCode = -11;
                return 0;
            }
            bool bWritten = false;
            for (int nAttempt = 0; nAttempt < 5 && !bWritten; ++nAttempt) {
                if (nAttempt)
                    bScanForHardwaeChanges();
                bWritten = vWriteSectors(pVolume->Handle(), area.Get(), ullOffset, dwArea, bTimed) != 0;
            }
            pVolume.reset();
            if (!bWritten) {
                ZLOG(kFn, "disk %d: the area could not be written back", ucDisk);
                if (pnErrorCode)
                    *pnErrorCode = -12;
                ucResult = 0;
            }
            const float fWrite = m_fWriteRate, fRead = m_fReadRate;
            m_fReadRate = m_fWriteRate = 0;
            *pfReadRate = fRead;
            *pfWriteRate = ReportedWriteRate(fWrite, fRead);
        }
        return ucResult;
    } catch (...) {
        ZLOG(kFn, "exception, dwErrorCode : %lu", GetLastError());
        return 0;
    }
}
