#pragma once
// A stand-in for the storage stack in tests: disks behind the maker's bridge (and foreign
// ones) that live in image files, answer the SCSI commands and disk I/O controls the
// program sends, and read and write their image through real file handles.
//
// Like a real disk, a fake disk refuses what the system refuses: transfers that are not whole
// sectors at a whole-sector position, writes past the end of its medium, and writes inside
// one of its volumes while that volume is mounted and not locked. A read or a write can be
// made to fail at a chosen sector.

#include <windows.h>
#include <winioctl.h>
#include <deque>
#include <map>
#include <ostream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "DeviceIo.h"
#include "USBDevice.h"

struct FakeDiskConfig {
    CString strDevicePath;
    CString strImagePath;
    bool bBridge = true;               // INQUIRY bytes 36/37 carry 0x71 0x3E
    std::string vendor = "WDC";        // blank-padded to 8 bytes; exactly 8 bytes are used
    std::string product = "Fake Disk"; // blank-padded to 16 bytes
    DWORD nDeviceNumber = 1;
    // Zero TracksPerCylinder means 255 x 63 x 512 with as many whole cylinders as the image holds.
    DISK_GEOMETRY geometry = {};
    ULONGLONG nReportedBlocks = 0;     // 0: the image's own size in blocks
    DWORD nBlockLength = 512;
    bool bDirectFails = false;         // direct pass-through refused with error 50
    bool bBufferedFails = false;       // buffered pass-through refused with error 50
    std::set<BYTE> checkConditionOps;  // opcodes answered with CHECK CONDITION
    bool bCapacity10Saturated = false; // READ CAPACITY (10) answers 0xFFFFFFFF
    // Short answers: by operation code, the most bytes of data the disk sends (DataTransferLength
    // then says how many came).
    std::map<BYTE, DWORD> shortReplies;
    bool bUnopenable = false;
    bool bNoDeviceNumber = false;
    bool bGeometryFails = false;
    std::wstring volumes;              // drive letters of the volumes on this disk
    // Where a volume lies on the disk, in bytes (offset, length); a letter without an entry
    // spans from 1 MiB to the end of the disk.
    std::map<wchar_t, std::pair<ULONGLONG, ULONGLONG>> volumeRanges;
    std::wstring volumesInUse;         // volumes whose lock is refused (files open on them)
    ULONGLONG nFailReadSector = ~0ull; // a read that covers this sector fails with dwFailError
    ULONGLONG nFailWriteSector = ~0ull;
    DWORD dwFailError = ERROR_CRC;
    CString strInstanceId;
    CString strParentInstanceId;
};

class FakeDeviceStack final : public IDeviceIo {
public:
    FakeDeviceStack();   // installs itself
    ~FakeDeviceStack();  // restores the system's stack
    FakeDeviceStack(const FakeDeviceStack&) = delete;
    FakeDeviceStack& operator=(const FakeDeviceStack&) = delete;

    void AddDisk(const FakeDiskConfig& config);
    FakeDiskConfig& Disk(size_t i) { return m_disks[i]; }

    int DirectCalls() const { return m_nDirect; }
    int BufferedCalls() const { return m_nBuffered; }

    HANDLE OpenDevice(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                      DWORD dwFlags) override;
    BOOL IoControl(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD nInSize, void* pOut, DWORD nOutSize,
                   DWORD* pnReturned) override;
    void EnumDiskInterfaces(std::vector<DiskInterfaceInfo>& arrOut) override;
    BOOL ReadDevice(HANDLE hDevice, void* pBuffer, DWORD nBytes, DWORD* pnRead) override;
    BOOL WriteDevice(HANDLE hDevice, const void* pBuffer, DWORD nBytes, DWORD* pnWritten) override;
    void EnumVolumes(std::vector<CString>& arrOut) override;

    // State of a volume of disk nDisk: dismounted at least once, and locked by a handle that
    // is still open.
    bool VolumeDismounted(size_t nDisk, wchar_t chLetter);
    bool VolumeLocked(size_t nDisk, wchar_t chLetter);

private:
    struct Open {
        size_t nDisk;
        bool bVolume;
        wchar_t chLetter = 0;
        CString strToken;   // a volume handle's own file, gone once the handle is closed
    };
    struct VolumeState {
        bool bDismounted = false;
        CString strLockToken;
    };
    bool LockAliveLocked(const VolumeState& state) const;
    std::pair<ULONGLONG, ULONGLONG> VolumeRange(const FakeDiskConfig& disk, wchar_t chLetter, ULONGLONG nDiskBytes) const;
    // Checks a transfer of nBytes at the handle's position; false with the error set when the
    // disk would refuse it.
    bool CheckTransfer(const Open& open, HANDLE hDevice, DWORD nBytes, bool bWrite);
    // Runs one CDB; false for CHECK CONDITION.
    bool Execute(const FakeDiskConfig& disk, HANDLE hImage, const BYTE* pCdb, std::vector<BYTE>& response);
    BOOL PassThrough(const Open& open, HANDLE hDevice, bool bDirect, void* pIn, DWORD nInSize, void* pOut,
                     DWORD nOutSize, DWORD* pnReturned);

    std::deque<FakeDiskConfig> m_disks;  // references handed out stay valid as disks are added
    std::map<HANDLE, Open> m_handles;
    std::map<std::pair<size_t, wchar_t>, VolumeState> m_volumeStates;
    unsigned m_nTokens = 0;
    std::mutex m_lock;
    int m_nDirect = 0;
    int m_nBuffered = 0;
};

// Captures DebugMessage texts instead of showing message boxes.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    std::vector<CString> Texts();
    size_t Count();

private:
    std::mutex m_lock;
    std::vector<CString> m_texts;
};

// A private folder under the system's temporary folder, removed with its files.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    CString Path(const wchar_t* pszName) const;

private:
    CString m_strDir;
    std::vector<CString> m_files;
};

// Writes an image of nSize bytes whose every 32-bit word depends on its offset and the seed.
bool WritePatternImage(const CString& strPath, ULONGLONG nSize, DWORD nSeed);
std::vector<BYTE> ReadWholeFile(const CString& strPath);

// Readable CString values in test failure output.
inline void PrintTo(const CString& s, std::ostream* os)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, s.GetString(), s.GetLength(), nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, s.GetString(), s.GetLength(), &utf8[0], n, nullptr, nullptr);
    *os << '"' << utf8 << '"';
}
