#pragma once
// A model of the system's disks for the disk utilities, behind both seams: physical disks with
// their own sector size (512 or 4096), geometry and a sparse image file; the partition table the
// system knows (re-read only when asked to update the disk's properties); volumes behind drive
// letters with lock, unlock and dismount; an ATA translation that answers IDENTIFY, SMART and
// 48-bit reads and writes and checks every transfer length; and the system's tools: a partition
// tool that carries out its script on the model, a format tool and a label tool, each with
// settable exit codes and hangs. A fake clock moves with every transfer.
#include <windows.h>

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DiskPlatform.h"
#include "ZedoDeviceIo.h"

struct ModelPartition {
    unsigned long long start = 0;   // in sectors
    unsigned long long count = 0;
    BYTE type = 0;
    DWORD number = 0;               // partition number as the system reports it (1 and up)
};

struct ModelDisk {
    DWORD number = 0;
    DWORD bytesPerSector = 512;
    unsigned long long sectors = 0;
    std::string imagePath;
    HANDLE image = INVALID_HANDLE_VALUE;
    bool keepImage = false;
    bool gpt = false;
    std::vector<ModelPartition> layout;   // what the system believes; re-read on update
    int updates = 0;                      // IOCTL_DISK_UPDATE_PROPERTIES calls
    int sector0Writes = 0;
    std::vector<std::string> events;      // "write0", "update", "dismount" in order

    // ATA side.
    std::array<BYTE, 512> identify = {};
    bool identifyFails = false;
    DWORD logicalSectorSize = 512;        // size of the drive's own sectors on the ATA side
    std::array<BYTE, 512> smart = {};
    std::map<BYTE, std::array<BYTE, 512>> logs;
    std::map<unsigned long long, std::vector<BYTE>> beyond;   // sectors past the capacity, by LBA
    BYTE forcedStatus = 0;
    // Short answers: by ATA command (0xEC IDENTIFY, 0xB0 SMART, 0x25 READ DMA EXT), the most bytes
    // of data the disk sends back; the request's DataTransferLength says how many came.
    std::map<BYTE, DWORD> shortReplies;
};

struct ModelVolumeInfo {
    char letter = 0;
    DWORD disk = 0;
    size_t partition = 0;          // index into the disk's layout
    bool lockRefused = false;
    HANDLE lockOwner = nullptr;
    int dismounts = 0;
    int locks = 0;
    bool extents = true;           // answers the extents request
    std::string ntfsLabel;
    BYTE setType = 0;              // last type set through the volume
    bool labelFails = false;
};

struct AtaCommand {
    DWORD disk = 0;
    ZedoPassThroughHeader header = {};
    DWORD inLength = 0, outLength = 0;
    std::vector<BYTE> cdb;
    std::vector<BYTE> dataOut;
};

struct ToolCall {
    std::string file;
    std::string parameters;
    std::string script;            // the partition tool's script as read when it ran
};

// How a tool behaves on its next runs.
struct ToolBehaviour {
    bool startFails = false;
    bool hangs = false;
    DWORD exitCode = 0;
    bool act = true;               // carry out the work even when the exit code says otherwise
};

class CDiskModel : public CDeviceIo, public CDiskPlatform {
public:
    CDiskModel();
    ~CDiskModel() override;

    // A disk with a sparse image; disk 0 with volume C: is the system's and is made by the constructor.
    // With an image path the disk lives in that file, which stays when the model ends.
    ModelDisk& AddDisk(DWORD number, DWORD bytesPerSector, unsigned long long sectors,
                       const std::string& imagePath = "");
    // A volume over a partition that is written into the disk's table now.
    ModelVolumeInfo& AddVolume(char letter, DWORD disk, unsigned long long start, unsigned long long count,
                               BYTE type = 0x07, bool active = true);
    ModelDisk& Disk(DWORD number);
    ModelVolumeInfo& Volume(char letter);
    bool HasVolume(char letter);
    // A letter taken by a drive that is not one of the model's volumes.
    void TakeLetter(char letter) { m_taken[letter] = true; }

    // Raw access to a disk image, past every lock.
    std::vector<BYTE> ReadDisk(DWORD disk, unsigned long long offset, DWORD length);
    void WriteDisk(DWORD disk, unsigned long long offset, const std::vector<BYTE>& data);
    // The sectors behind a volume.
    unsigned long long VolumeOffset(char letter);
    unsigned long long VolumeLength(char letter);

    std::vector<AtaCommand> AtaCommands();
    std::vector<ToolCall> ToolCalls();
    int VolumeWrites() const { return m_volumeWrites; }
    int Rescans() const { return m_rescans; }
    int OpenHandles();
    std::vector<DWORD> Sleeps() const { return m_sleeps; }

    // Tools and the clock.
    std::map<std::string, ToolBehaviour> tools;      // by file name, e.g. "diskpart.exe"
    unsigned long long diskpartStart = 63;           // where the partition tool puts an MBR partition
    unsigned long long diskpartShortBy = 0;          // sectors it leaves unused before the disk's end
    long long clock = 0;                             // fake performance counter, 1 MHz
    bool realClock = false;                          // use the system's counter instead
    long long readTicksPerMiB = 0;                   // the clock's advance per MiB moved
    long long writeTicksPerMiB = 0;
    SYSTEMTIME now = {2046, 7, 0, 15, 13, 45, 30, 250};
    bool freeSpaceFails = false;
    DWORD freeClusters = 1000000, sectorsPerCluster = 8, bytesPerSectorFree = 512;
    std::string currentFolder;
    // Short answers of the disk and volume requests: by I/O control code, the most bytes answered.
    std::map<DWORD, DWORD> shortControls;
    // Called after every raw transfer on a volume, outside the model's lock.
    std::function<void(bool bWrite, unsigned long long offset, DWORD length)> onVolumeTransfer;

    // CDeviceIo
    HANDLE OpenDevice(const char* pszPath, DWORD dwAccess, DWORD dwShare) override;
    BOOL CloseDevice(HANDLE hDevice) override;
    BOOL Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut, DWORD dwOutLength,
                 DWORD* pdwReturned) override;
    BOOL VolumeNameForMountPoint(const char* pszMountPoint, char* pszName, DWORD dwChars) override;
    HANDLE OpenDisk(const char* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwFlags) override;
    BOOL ReadAt(HANDLE hDevice, unsigned long long ullOffset, void* pBuffer, DWORD dwLength, DWORD* pdwDone) override;
    BOOL WriteAt(HANDLE hDevice, unsigned long long ullOffset, const void* pBuffer, DWORD dwLength,
                 DWORD* pdwDone) override;

    // CDiskPlatform
    ToolRun RunTool(const char* pszFile, const char* pszParameters, DWORD dwTimeOutMs) override;
    std::string DriveRoot(char cLetter) override;
    UINT DriveType(char cLetter) override;
    BOOL VolumeInformation(char cLetter, char* pszLabel, DWORD dwLabelChars, char* pszFileSystem,
                           DWORD dwFileSystemChars) override;
    BOOL SetLabel(char cLetter, const char* pszLabel) override;
    BOOL DiskFreeSpace(char cLetter, DWORD* pdwSectorsPerCluster, DWORD* pdwBytesPerSector, DWORD* pdwFreeClusters,
                       DWORD* pdwTotalClusters) override;
    std::string SystemFolder() override { return "C:\\windows"; }
    std::string CurrentFolder() override { return currentFolder; }
    bool RescanDevices() override;
    long long Counter() override;
    long long CounterFrequency() override;
    void LocalTime(SYSTEMTIME* pTime) override { *pTime = now; }
    void Sleep(DWORD dwMs) override;

    // The file system found on a volume: "FAT32", "NTFS" or "".
    std::string FileSystemOf(char letter);
    std::string LabelOf(char letter);
    // The folder of the test run (real, under the temporary folder).
    const std::string& Folder() const { return m_folder; }

private:
    struct Open {
        enum Kind { Disk, Volume, VolumeName } kind;
        DWORD disk = 0;
        char letter = 0;
        DWORD flags = 0;
    };
    void ReadLayout(ModelDisk& disk);             // the system reads the partition table
    void WriteMbrEntry(ModelDisk& disk, int index, unsigned long long start, unsigned long long count, BYTE type,
                       bool active);
    bool ImageIo(ModelDisk& disk, bool bWrite, unsigned long long offset, void* p, DWORD length);
    BOOL Ata(ModelDisk& disk, BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD* pdwReturned);
    void RunDiskpart(const std::string& script);
    bool Transfer(HANDLE h, bool bWrite, unsigned long long offset, void* p, DWORD length, DWORD* pdwDone);

    std::recursive_mutex m_lock;
    std::map<DWORD, ModelDisk> m_disks;
    std::map<char, ModelVolumeInfo> m_volumes;
    std::map<char, bool> m_taken;
    std::map<HANDLE, Open> m_handles;
    UINT_PTR m_nextHandle = 0x9000;
    std::vector<AtaCommand> m_ata;
    std::vector<ToolCall> m_toolCalls;
    std::vector<DWORD> m_sleeps;
    int m_volumeWrites = 0;
    int m_rescans = 0;
    std::string m_folder;
};

// Puts a disk model behind both seams for the life of the object and catches the library's boxes.
class CDiskModelScope {
public:
    explicit CDiskModelScope(CDiskModel& model);
    ~CDiskModelScope();
    static std::vector<std::string> Messages();

private:
    CDeviceIo* m_pOldIo;
    CDiskPlatform* m_pOldPlatform;
    ZedoMessageSink m_pOldSink;
};
