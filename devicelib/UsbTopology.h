#pragma once
// The USB topology: host controllers, their root hubs and the hubs below them, with the records
// the hub I/O controls exchange, the name look-ups and the device-tree look-ups by driver key.
#include <windows.h>

#include <string>

// Interface class of the USB host controllers.
extern const GUID kGuidUsbHostController;
// Interface classes of disks and CD-ROM devices.
extern const GUID kGuidDiskInterface;
extern const GUID kGuidCdromInterface;

#pragma pack(push, 1)
struct UsbDeviceDescriptor {
    BYTE bLength;
    BYTE bDescriptorType;
    WORD bcdUSB;
    BYTE bDeviceClass;
    BYTE bDeviceSubClass;
    BYTE bDeviceProtocol;
    BYTE bMaxPacketSize0;
    WORD idVendor;
    WORD idProduct;
    WORD bcdDevice;
    BYTE iManufacturer;
    BYTE iProduct;
    BYTE iSerialNumber;
    BYTE bNumConfigurations;
};

enum { USB_PIPE_INFO_SIZE = 11, USB_MAX_PIPES = 30 };

// A port's connection information, with room for 30 pipes.
struct UsbNodeConnectionInformation {
    ULONG ConnectionIndex;
    UsbDeviceDescriptor DeviceDescriptor;
    BYTE CurrentConfigurationValue;
    BYTE LowSpeed;
    BYTE DeviceIsHub;
    WORD DeviceAddress;
    ULONG NumberOfOpenPipes;
    ULONG ConnectionStatus;   // 0 none, 1 connected, others: a failure of the device
    BYTE PipeList[USB_MAX_PIPES * USB_PIPE_INFO_SIZE];
};
enum { USB_CONNECTION_FIXED_SIZE = 35 };

struct UsbHubDescriptor {
    BYTE bDescriptorLength;
    BYTE bDescriptorType;
    BYTE bNumberOfPorts;
    WORD wHubCharacteristics;
    BYTE bPowerOnToPowerGood;
    BYTE bHubControlCurrent;
    BYTE bRemoveAndPowerMask[64];
};

// A hub's node information (76 bytes).
struct UsbNodeInformation {
    ULONG NodeType;           // 0 hub
    UsbHubDescriptor HubDescriptor;
    BYTE HubIsBusPowered;
};
// The reply must reach the port count.
enum { USB_NODE_INFO_MIN_REPLY = 7 };

// A descriptor request through a hub port (2060 bytes).
struct UsbDescriptorRequest {
    ULONG ConnectionIndex;
    BYTE bmRequest;
    BYTE bRequest;
    WORD wValue;
    WORD wIndex;
    WORD wLength;
    BYTE Data[2048];
};
enum { USB_DESCRIPTOR_REQUEST_HEADER = 12 };

// Name replies: the needed length in bytes of the whole record, then the UTF-16 name.
struct UsbNameReply {
    ULONG ActualLength;
    WCHAR Name[1];
};
struct UsbConnectionNameReply {
    ULONG ConnectionIndex;
    ULONG ActualLength;
    WCHAR Name[1];
};
#pragma pack(pop)

static_assert(sizeof(UsbDeviceDescriptor) == 18, "device descriptor is 18 bytes");
static_assert(sizeof(UsbNodeConnectionInformation) == 35 + 330, "connection information with 30 pipes");
static_assert(sizeof(UsbNodeInformation) == 76, "node information is 76 bytes");
static_assert(sizeof(UsbDescriptorRequest) == 2060, "descriptor request block is 2060 bytes");
static_assert(sizeof(UsbNameReply) == 6 && sizeof(UsbConnectionNameReply) == 10, "fixed name records");

// Name look-ups: empty when the control fails or its answer does not hold together.
std::string GetHCDDriverKeyName(HANDLE hController);
std::string GetRootHubName(HANDLE hController);
std::string GetDriverKeyName(HANDLE hHub, ULONG ulPort);
std::string GetExternalHubName(HANDLE hHub, ULONG ulPort);

// Device-tree look-ups by driver key: the device description or the first hardware identifier of
// the node whose driver key equals the name; empty when none.
std::string DriverNameToDeviceDesc(const std::string& driverKey);
std::string DriverNameToHardwareId(const std::string& driverKey);

// A port's connection information; false when the request fails or the reply is short.
bool GetConnectionInformation(HANDLE hHub, ULONG ulPort, UsbNodeConnectionInformation* pInfo);
// A hub's port count; false when the request fails or the reply is short.
bool GetHubPortCount(HANDLE hHub, ULONG* pulPorts);
// One standard descriptor of the device on a port; the descriptor's bytes, bounded by the reply.
bool GetPortDescriptor(HANDLE hHub, ULONG ulPort, BYTE ucType, BYTE ucIndex, WORD wLanguage, WORD wLength,
                       std::string* pBytes);

// The highest port of the hub whose device's first hardware identifier (upper-cased) contains the
// text; 0 when none. The hub's port count comes back (0 when it cannot be opened).
int GetHubPortOfDevice(const std::string& hubName, const char* pszText, ULONG* pulPorts);

// "\\.\" followed by a hub or controller name.
std::string DevicePathOfName(const std::string& name);
