#pragma once
// A software model of the bridge chips behind the library's device seam: physical drives, CD-ROM
// devices, interface paths and volumes, each bridge with its register file, configuration and
// firmware EEPROM, INQUIRY data, sector store and button registers. Every pass-through request
// is recorded with its header, command block, lengths and outgoing data.
//
// The chip carries out the commands it knows and nothing else: a command it does not know, or
// one whose block length, data direction or transfer length does not fit the command, ends with
// CHECK CONDITION and ILLEGAL REQUEST sense data. Pass-through needs a handle opened for reading
// and writing, as the storage stack demands.
#include <windows.h>

#include <array>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ZedoDeviceIo.h"

struct ModelCommand {
    std::string path;          // device the handle belongs to
    DWORD ioctl = 0;
    ZedoPassThroughHeader header = {};
    std::vector<BYTE> cdb;     // CdbLength bytes
    DWORD inLength = 0;
    DWORD outLength = 0;
    std::vector<BYTE> dataOut; // bytes carried to the device
    BYTE status = 0;           // SCSI status answered
    std::vector<BYTE> sense;   // sense data answered with CHECK CONDITION (fixed format, 18 bytes)
    bool Direct() const { return ioctl == ZEDO_IOCTL_SCSI_PASS_THROUGH_DIRECT; }
};

struct ModelDevice {
    std::string path;
    // INQUIRY
    std::string vendor = "ZEDO    ";
    std::string product = "USB3 Bridge     ";
    std::string revision = "0105";
    BYTE id36 = 0x71, id37 = 0x3E;   // the bridge word 0x3E71
    // storage device number
    bool answersNumber = true;
    DWORD number = 0;
    // chip
    std::map<WORD, BYTE> registers;
    bool failRegisterRead = false;   // register reads end with CHECK CONDITION
    std::array<BYTE, 128> config = {};
    std::vector<BYTE> firmware = std::vector<BYTE>(0x30000);
    size_t firmwareCursor = 0;
    int lastFirmwareOp = -1;
    std::array<BYTE, 512> identify = {};
    std::map<unsigned long long, std::array<BYTE, 512>> sectors;
    DWORD lastLba = 0xFFFF, blockLength = 512;
    bool hidden = false;
    // the older firmware tools' commands
    std::array<BYTE, 256> serialEeprom = {};
    std::map<BYTE, std::vector<BYTE>> vendorData;   // E6/E7, by byte argument
    std::map<BYTE, std::vector<BYTE>> transferData; // EA/E8, by byte argument
    std::map<unsigned long long, std::vector<BYTE>> nand;     // by (flag, byte argument, address)
    std::map<unsigned long long, std::vector<BYTE>> pageRdnt; // by (byte argument, address)
    std::vector<BYTE> dram = std::vector<BYTE>(0x40000);
    std::vector<BYTE> nandInfo = std::vector<BYTE>(512);
    std::vector<BYTE> platformInfo = std::vector<BYTE>(512);
    DWORD lastExecAddress = 0;
    std::vector<BYTE> lastExecData;
    int restarts = 0, cpuResets = 0;
    bool disconnected = false;
    // Transfers longer than one command continue where the previous piece of the same run
    // ended; any other command starts the next run at 0.
    unsigned long long streamKey = ~0ull, streamPrevKey = ~0ull;
    size_t streamCursor = 0;
    // faults
    BYTE forcedStatus = 0;           // every pass-through ends with this SCSI status
    bool removed = false;            // every request fails (the device went away)
    // Short answers: by operation code, the most bytes of data the chip sends back; the request's
    // DataTransferLength then says how many came, as the storage stack reports it.
    std::map<BYTE, DWORD> shortReplies;
    int openCount = 0;
};

struct ModelVolume {
    std::string name;                // "\\?\Volume{...}\" as the mount point reports it
    std::vector<DWORD> extents;      // disk number of each extent; empty: no extents
    bool tooManyExtents = false;     // the one-extent answer does not fit
};

class CBridgeModel : public CDeviceIo {
public:
    ModelDevice& AddDevice(const std::string& path, DWORD number);
    // A disk that is not behind the bridge.
    ModelDevice& AddForeignDisk(const std::string& path, DWORD number);
    void AddVolume(char letter, std::vector<DWORD> extents, bool tooMany = false);
    void AddInterface(const GUID& guid, const std::string& path);

    void SetRegister(const std::string& path, WORD address, BYTE value);
    void SetRemoved(const std::string& path, bool removed);
    ModelDevice& Device(const std::string& path);

    std::vector<ModelCommand> Commands();
    std::vector<ModelCommand> CommandsTo(const std::string& path);
    void ClearLog();
    int OpenHandles();
    // Opens a device of the model directly, as a scan would.
    HANDLE Open(const std::string& path);

    HANDLE OpenDevice(const char* pszPath, DWORD dwAccess, DWORD dwShare) override;
    BOOL CloseDevice(HANDLE hDevice) override;
    BOOL Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut, DWORD dwOutLength,
                 DWORD* pdwReturned) override;
    BOOL VolumeNameForMountPoint(const char* pszMountPoint, char* pszName, DWORD dwChars) override;
    bool InterfacePath(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars) override;

private:
    BOOL PassThrough(ModelDevice& dev, DWORD code, BYTE* in, DWORD inLength, BYTE* out, DWORD outLength,
                     DWORD* pdwReturned);
    // Carries out one command block; asc receives the additional sense code of a refusal.
    BYTE Execute(ModelDevice& dev, const ZedoPassThroughHeader& h, BYTE* data, BYTE& asc);
    BYTE ExecuteVendor(ModelDevice& dev, const ZedoPassThroughHeader& h, BYTE* data, BYTE& asc);

    std::recursive_mutex m_lock;
    std::map<std::string, ModelDevice> m_devices;
    std::map<char, ModelVolume> m_volumes;
    std::vector<std::pair<GUID, std::string>> m_interfaces;
    std::map<HANDLE, std::string> m_handles;
    std::map<HANDLE, DWORD> m_handleAccess;
    UINT_PTR m_nextHandle = 0x7000;
    std::vector<ModelCommand> m_log;
};

// Puts a model behind the library for the life of the object and catches the library's boxes.
class CModelScope {
public:
    explicit CModelScope(CBridgeModel& model);
    ~CModelScope();
    static std::vector<std::string> Messages();
    static void ClearMessages();
};

// A big-endian helper for the tests.
inline DWORD BE32(const BYTE* p)
{
    return (DWORD(p[0]) << 24) | (DWORD(p[1]) << 16) | (DWORD(p[2]) << 8) | p[3];
}
