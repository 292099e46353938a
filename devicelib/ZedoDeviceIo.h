#pragma once
// Where the library meets the operating system's storage stack: opening devices, their I/O
// control requests, volume mount points and device-interface paths. The library always talks
// to the system through DeviceIo(); a test may put a bridge model in its place.
#include <windows.h>

#include <string>
#include <vector>

// One present device node: its instance identifier, class GUID text ("{...}"), driver key,
// description and first hardware identifier (each empty when the system has none).
struct ZedoDeviceNode {
    std::string instanceId;
    std::string classGuid;
    std::string driverKey;
    std::string description;
    std::string hardwareId;
};

// One present interface of an interface class, with the device that exposes it.
struct ZedoInterfaceDevice {
    std::string path;         // device path of the interface
    std::string instanceId;   // instance identifier of its device
    std::string deviceClass;  // setup class GUID text of its device ("{...}")
};

class CDeviceIo {
public:
    virtual ~CDeviceIo() {}
    // CreateFileA with OPEN_EXISTING; INVALID_HANDLE_VALUE on failure.
    virtual HANDLE OpenDevice(const char* pszPath, DWORD dwAccess, DWORD dwShare);
    virtual BOOL CloseDevice(HANDLE hDevice);
    // A synchronous DeviceIoControl.
    virtual BOOL Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut,
                         DWORD dwOutLength, DWORD* pdwReturned);
    // GetVolumeNameForVolumeMountPointA.
    virtual BOOL VolumeNameForMountPoint(const char* pszMountPoint, char* pszName, DWORD dwChars);
    // The device path of the index-th present interface of a class; false (and an empty path) when none.
    virtual bool InterfacePath(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars);
    // The index-th present interface of a class with its device; false when none.
    virtual bool InterfaceDevice(const GUID& guidClass, DWORD dwIndex, ZedoInterfaceDevice* pInterface);
    // Every present device node of the device tree, parents before children; false when the tree
    // cannot be read at all.
    virtual bool DeviceNodes(std::vector<ZedoDeviceNode>& nodes);
    // Asks the system to eject the device with this instance identifier. True when the request
    // was accepted; the veto type (0 none) and the vetoing device's name come back either way.
    virtual bool RequestEject(const char* pszInstanceId, DWORD* pdwVetoType, char* pszVetoName, DWORD dwChars);
    // WriteFile on a file the library created.
    virtual BOOL WriteBytes(HANDLE hFile, const void* pData, DWORD dwLength, DWORD* pdwWritten);

    // ---- Raw disk and volume access ----
    // CreateFileA with OPEN_EXISTING and the given flags (unbuffered, write-through, ...).
    virtual HANDLE OpenDisk(const char* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwFlags);
    // One synchronous transfer at a 64-bit byte offset; *pdwDone gets the bytes moved.
    virtual BOOL ReadAt(HANDLE hDevice, unsigned long long ullOffset, void* pBuffer, DWORD dwLength, DWORD* pdwDone);
    virtual BOOL WriteAt(HANDLE hDevice, unsigned long long ullOffset, const void* pBuffer, DWORD dwLength,
                         DWORD* pdwDone);
};

// In a namespace of its own: the main program has a storage seam of the same name, and a
// program that links both statically must not have one bind to the other.
namespace zedo {
CDeviceIo& DeviceIo();
}
using zedo::DeviceIo;
// Installs another implementation (null puts the system's back); returns the previous one.
CDeviceIo* SetDeviceIo(CDeviceIo* pIo);

// The library's message boxes (modal, no owner). A test may catch them instead.
typedef void (*ZedoMessageSink)(const char* pszText, const char* pszCaption, UINT uType);
void ZedoShowMessage(const char* pszText, const char* pszCaption, UINT uType);
ZedoMessageSink SetZedoMessageSink(ZedoMessageSink pSink);
// The box for a failure: caption "Error", error icon; the text is formatted.
void ZedoErrorBox(const char* pszFormat, ...);

// The debug log: every line is "\r\n%s:%d: " with the function and the line, then the values.
// Nothing is kept.
void ZedoDebugLog(const char* pszFormat, ...);
#define ZLOG(fn, fmt, ...) ZedoDebugLog("\r\n%s:%d: " fmt, fn, __LINE__, ##__VA_ARGS__)

// I/O control codes the library uses.
#define ZEDO_IOCTL_SCSI_PASS_THROUGH 0x4D004
#define ZEDO_IOCTL_SCSI_PASS_THROUGH_DIRECT 0x4D014
#define ZEDO_IOCTL_STORAGE_GET_DEVICE_NUMBER 0x2D1080
#define ZEDO_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS 0x560000
#define ZEDO_IOCTL_STORAGE_QUERY_PROPERTY 0x2D1400
#define ZEDO_IOCTL_DISK_GET_DRIVE_GEOMETRY_EX 0x700A0
// USB host controllers and hubs. The root-hub name (asked of a controller) and the node
// information (asked of a hub) share one code.
#define ZEDO_IOCTL_GET_HCD_DRIVERKEY_NAME 0x220424
#define ZEDO_IOCTL_USB_GET_ROOT_HUB_NAME 0x220408
#define ZEDO_IOCTL_USB_GET_NODE_INFORMATION 0x220408
#define ZEDO_IOCTL_USB_GET_NODE_CONNECTION_INFORMATION 0x22040C
#define ZEDO_IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION 0x220410
#define ZEDO_IOCTL_USB_GET_NODE_CONNECTION_NAME 0x220414
#define ZEDO_IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME 0x220420

// The pass-through header, laid out as the storage stack reads it on a 32-bit system.
#pragma pack(push, 4)
struct ZedoPassThroughHeader {
    WORD Length;              // 0x2C
    BYTE ScsiStatus;
    BYTE PathId;
    BYTE TargetId;
    BYTE Lun;
    BYTE CdbLength;
    BYTE SenseInfoLength;
    BYTE DataIn;              // 1 data in, 0 data out, 2 no data
    DWORD DataTransferLength;
    DWORD TimeOutValue;       // seconds
    DWORD DataBuffer;         // buffered: offset of the data area; direct: address of the caller's buffer
    DWORD SenseInfoOffset;
    BYTE Cdb[16];
};
#pragma pack(pop)
static_assert(sizeof(ZedoPassThroughHeader) == 0x2C, "pass-through header is 44 bytes");

#define ZEDO_SENSE_OFFSET 0x30
#define ZEDO_SENSE_LENGTH 24
#define ZEDO_DATA_OFFSET 0x50
#define ZEDO_DATA_AREA 0x10000
#define ZEDO_REQUEST_SIZE (ZEDO_DATA_OFFSET + ZEDO_DATA_AREA)
#define ZEDO_DIRECT_REQUEST_SIZE 0x50

enum { ZEDO_DATA_OUT = 0, ZEDO_DATA_IN = 1, ZEDO_DATA_NONE = 2 };

// One pass-through command.
struct ZedoScsiCommand {
    BYTE Cdb[16] = {};
    BYTE CdbLength = 12;
    BYTE DataIn = ZEDO_DATA_NONE;
    BYTE* Data = nullptr;         // caller's buffer
    DWORD DataLength = 0;         // bytes moved by this command (at most 0x10000)
    DWORD TimeOut = 3;
    DWORD InLength = sizeof(ZedoPassThroughHeader);
    DWORD OutLength = ZEDO_DATA_OFFSET;
    bool Direct = false;
};

// Sends one command; 0 when the request succeeded, the SCSI status is good and, for data from the
// device, the device sent the whole DataLength; else -1.
int ZedoSendCommand(HANDLE hDevice, const ZedoScsiCommand& cmd);

// A null handle or the invalid-handle value.
inline bool ZedoBadHandle(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }

// The answer of IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS with room for one extent, as the storage
// stack lays it out: a volume that spans several disks fails the request.
struct ZedoVolumeExtent {
    DWORD NumberOfDiskExtents;
    DWORD Padding;
    DWORD DiskNumber;
    DWORD Padding2;
    LONGLONG StartingOffset;
    LONGLONG ExtentLength;
};
static_assert(sizeof(ZedoVolumeExtent) == 32, "one-extent answer is 32 bytes");

// The one disk extent of an open volume, asked through DeviceIo(); false for a volume that lies
// on no disk or on several, or when the request fails.
bool ZedoQueryVolumeExtent(HANDLE hVolume, ZedoVolumeExtent* pExtent);
