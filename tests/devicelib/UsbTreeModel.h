#pragma once
// A small USB tree behind the library's device seam, on top of the bridge model: host controllers
// with their root hubs, hubs with ports, devices with descriptor bytes, strings and connection
// status, bridge disks tied to their USB device by serial, the device tree with driver keys and
// hardware identifiers, and an ejection log with a veto. Fault knobs make requests fail, replies
// short and descriptors lie about their length.
#include <windows.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "BridgeModel.h"
#include "UsbTopology.h"

extern const char* const kUsbClassText;
extern const char* const kDiskDriveClassText;
extern const char* const kHidClassText;
extern const char* const kCdromClassText;

struct TreeDevice {
    UsbDeviceDescriptor descriptor = {};
    std::map<BYTE, std::wstring> strings;  // by string index
    WORD language = 0x0409;
    std::vector<BYTE> configuration;       // the configuration descriptor's bytes
    BYTE currentConfiguration = 1;
    ULONG status = 1;                      // connection status of the port
    std::string instanceId;                // device-tree node of the USB device
    std::string classGuid;
    std::string driverKey;
    std::string description;
    std::string hardwareId;
    int hub = -1;                          // a hub on this port: its hub id
    std::string diskPath;                  // its bridge disk, if any
};

struct TreeHub {
    std::string name;                      // as the name requests give it (no "\\.\")
    int portCount = 0;
    std::map<int, TreeDevice> devices;     // by port number; a port not here has nothing connected
};

struct TreeController {
    std::string path;                      // interface path
    std::string driverKey;
    std::string description;
    int rootHub = -1;
};

struct TreeDiskInterface {
    std::string path;
    std::string instanceId;
    std::string deviceClass;
    std::string diskPath;                  // the physical drive it belongs to
    bool cdrom = false;
};

class CUsbTreeModel : public CBridgeModel {
public:
    // A controller and its root hub; returns the hub id.
    int AddController(const std::string& rootHubName, int ports, const std::string& description = "");
    // A hub on a port of another hub; returns its hub id.
    int AddHub(int parentHub, int port, const std::string& name, int ports);
    // A device on a port with vendor, product, release and strings (an empty text: index 0).
    TreeDevice& AttachDevice(int hub, int port, WORD vid, WORD pid, WORD bcd, const std::wstring& serial,
                             const std::wstring& manufacturer = L"Maker", const std::wstring& product = L"Bridge");
    // A bridge disk on the device: physical drive N, its disk interface and its disk-drive node;
    // the register file answers the chip identifier and the speed register.
    ModelDevice& AddBridgeDisk(TreeDevice& device, DWORD number, BYTE speedRegister = 1);
    // The same as a CD-ROM device ("\\.\cdromN" with its CD-ROM interface).
    ModelDevice& AddBridgeCdrom(TreeDevice& device, DWORD number, BYTE speedRegister = 1);
    // The device on the port goes away with its disk.
    void Unplug(int hub, int port);
    // A device-tree node that is not on any hub (for safe removal).
    void AddNode(const std::string& instanceId, const std::string& classGuid, const std::string& driverKey = "");

    // Ejection: every request is logged; a vetoed instance stays, an accepted one goes away when
    // ejectRemoves is set.
    std::vector<std::string> ejections;
    std::set<std::string> vetoed;
    bool ejectRemoves = true;

    // Faults.
    std::set<DWORD> failingControls;       // these codes fail on every tree handle
    std::map<DWORD, DWORD> replyLimits;    // replies of these codes are cut to this many bytes
    bool zeroLengthDescriptor = false;     // configuration descriptors carry an entry of length 0
    BYTE stringLengthOverride = 0;         // non-zero: string descriptors claim this length
    DWORD busType = 7;                     // storage bus type of the disks

    int TreeHandles() const { return static_cast<int>(m_tree.size()); }
    int AllHandles() { return TreeHandles() + OpenHandles(); }
    int Opens(const std::string& path);    // opens asked of a path, successful or not

    HANDLE OpenDevice(const char* pszPath, DWORD dwAccess, DWORD dwShare) override;
    BOOL CloseDevice(HANDLE hDevice) override;
    BOOL Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut, DWORD dwOutLength,
                 DWORD* pdwReturned) override;
    bool InterfacePath(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars) override;
    bool InterfaceDevice(const GUID& guidClass, DWORD dwIndex, ZedoInterfaceDevice* pInterface) override;
    bool DeviceNodes(std::vector<ZedoDeviceNode>& nodes) override;
    bool RequestEject(const char* pszInstanceId, DWORD* pdwVetoType, char* pszVetoName, DWORD dwChars) override;

    std::vector<TreeController> controllers;
    std::deque<TreeHub> hubs;
    std::vector<TreeDiskInterface> diskInterfaces;
    std::vector<ZedoDeviceNode> extraNodes;

private:
    struct TreeHandle {
        bool controller;
        int id;
    };
    BOOL ControllerControl(TreeController& c, DWORD dwCode, BYTE* pIn, DWORD dwInLength, BYTE* pOut,
                           DWORD dwOutLength, DWORD* pdwReturned);
    BOOL HubControl(TreeHub& hub, DWORD dwCode, BYTE* pIn, DWORD dwInLength, BYTE* pOut, DWORD dwOutLength,
                    DWORD* pdwReturned);
    TreeDevice* PortDevice(TreeHub& hub, const BYTE* pIn, DWORD dwInLength);
    ModelDevice& AddBridgeStorage(TreeDevice& device, DWORD number, BYTE speedRegister, bool cdrom);

    std::map<HANDLE, TreeHandle> m_tree;
    std::map<HANDLE, std::string> m_bridgeHandles; // handles of the bridge model and their paths
    std::map<std::string, int> m_opens;
    UINT_PTR m_nextHandle = 0x100000;
    int m_nextKey = 1;
};
