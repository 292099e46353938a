// The USB topology walk shared by the port-number look-up and the utility's bridge identity:
// host controllers, root hubs, hubs and ports through the hub I/O controls, the name and
// descriptor requests, and the device-tree look-ups by driver key.
#include "UsbTopology.h"
#include "ZedoDeviceIo.h"
#include "ZedoUSBDev.h"

#include <algorithm>
#include <cstring>
#include <vector>

const GUID kGuidUsbHostController = {0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};
const GUID kGuidDiskInterface = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kGuidCdromInterface = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

namespace {

// A name longer than this is not believed.
const ULONG kMaxNameBytes = 4096;
// Controllers looked at by the port-number search.
const DWORD kMaxControllers = 64;

// UTF-16 of at most nChars characters (ending early at a zero) to 8-bit text in the system code page.
std::string WideStrToMultiStr(const WCHAR* pText, size_t nChars)
{
    size_t n = 0;
    while (n < nChars && pText[n])
        ++n;
    if (n == 0)
        return std::string();
    int nBytes = WideCharToMultiByte(CP_ACP, 0, pText, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return std::string();
    std::string result(static_cast<size_t>(nBytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, pText, static_cast<int>(n), &result[0], nBytes, nullptr, nullptr);
    result.resize(strlen(result.c_str()));
    return result;
}

// Asks a name-returning control twice: once with the fixed record to learn the needed length, then
// with a zeroed buffer of that length. nNameOffset is where the name starts in the record; with a
// port (bConnection) the record starts with the connection index.
std::string AskName(HANDLE h, DWORD dwCode, bool bConnection, ULONG ulPort)
{
    const DWORD dwFixed = bConnection ? sizeof(UsbConnectionNameReply) : sizeof(UsbNameReply);
    const DWORD dwNameOffset = bConnection ? 8 : 4;
    BYTE fixed[sizeof(UsbConnectionNameReply)] = {};
    if (bConnection)
        memcpy(fixed, &ulPort, 4);
    DWORD dwReturned = 0;
    if (!DeviceIo().Control(h, dwCode, fixed, dwFixed, fixed, dwFixed, &dwReturned) || dwReturned < dwNameOffset)
        return std::string();
    ULONG ulNeeded = 0;
    memcpy(&ulNeeded, fixed + dwNameOffset - 4, 4);
    if (ulNeeded <= dwFixed || ulNeeded > kMaxNameBytes)
        return std::string();
    std::vector<BYTE> buffer(ulNeeded + sizeof(WCHAR), 0);
    if (bConnection)
        memcpy(buffer.data(), &ulPort, 4);
    dwReturned = 0;
    if (!DeviceIo().Control(h, dwCode, buffer.data(), ulNeeded, buffer.data(), ulNeeded, &dwReturned))
        return std::string();
    DWORD dwValid = std::min<DWORD>(dwReturned, ulNeeded);
    if (dwValid <= dwNameOffset)
        return std::string();
    std::vector<WCHAR> name((dwValid - dwNameOffset) / sizeof(WCHAR));
    if (!name.empty())
        memcpy(name.data(), buffer.data() + dwNameOffset, name.size() * sizeof(WCHAR));
    return WideStrToMultiStr(name.data(), name.size());
}

std::string NodeText(const std::string& driverKey, bool bHardwareId)
{
    if (driverKey.empty())
        return std::string();
    std::vector<ZedoDeviceNode> nodes;
    if (!DeviceIo().DeviceNodes(nodes))
        return std::string();
    for (const ZedoDeviceNode& node : nodes)
        if (node.driverKey == driverKey)
            return bHardwareId ? node.hardwareId : node.description;
    return std::string();
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

class CHandle {
public:
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle()
    {
        if (!ZedoBadHandle(m_h))
            DeviceIo().CloseDevice(m_h);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    bool Valid() const { return !ZedoBadHandle(m_h); }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

const char* const kBridgeIds[3] = {"VID_2B9D&PID_3100", "VID_2B9D&PID_4100", "VID_1043&PID_3100"};

int SearchHub(const std::string& hubName, ULONG* pulPorts)
{
    *pulPorts = 0;
    for (const char* pszId : kBridgeIds) {
        int nPort = GetHubPortOfDevice(hubName, pszId, pulPorts);
        if (nPort)
            return nPort;
    }
    return 0;
}

} // namespace

std::string DevicePathOfName(const std::string& name)
{
    return "\\\\.\\" + name;
}

std::string GetHCDDriverKeyName(HANDLE hController)
{
    return AskName(hController, ZEDO_IOCTL_GET_HCD_DRIVERKEY_NAME, false, 0);
}

std::string GetRootHubName(HANDLE hController)
{
    return AskName(hController, ZEDO_IOCTL_USB_GET_ROOT_HUB_NAME, false, 0);
}

std::string GetDriverKeyName(HANDLE hHub, ULONG ulPort)
{
    return AskName(hHub, ZEDO_IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, true, ulPort);
}

std::string GetExternalHubName(HANDLE hHub, ULONG ulPort)
{
    return AskName(hHub, ZEDO_IOCTL_USB_GET_NODE_CONNECTION_NAME, true, ulPort);
}

std::string DriverNameToDeviceDesc(const std::string& driverKey)
{
    return NodeText(driverKey, false);
}

std::string DriverNameToHardwareId(const std::string& driverKey)
{
    return NodeText(driverKey, true);
}

bool GetConnectionInformation(HANDLE hHub, ULONG ulPort, UsbNodeConnectionInformation* pInfo)
{
    memset(pInfo, 0, sizeof(*pInfo));
    pInfo->ConnectionIndex = ulPort;
    DWORD dwReturned = 0;
    if (!DeviceIo().Control(hHub, ZEDO_IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, pInfo, sizeof(*pInfo), pInfo,
                            sizeof(*pInfo), &dwReturned) ||
        dwReturned < USB_CONNECTION_FIXED_SIZE) {
        memset(pInfo, 0, sizeof(*pInfo));
        return false;
    }
    return true;
}

bool GetHubPortCount(HANDLE hHub, ULONG* pulPorts)
{
    *pulPorts = 0;
    UsbNodeInformation info = {};
    DWORD dwReturned = 0;
    if (!DeviceIo().Control(hHub, ZEDO_IOCTL_USB_GET_NODE_INFORMATION, &info, sizeof(info), &info, sizeof(info),
                            &dwReturned) ||
        dwReturned < USB_NODE_INFO_MIN_REPLY)
        return false;
    *pulPorts = info.HubDescriptor.bNumberOfPorts;
    return true;
}

bool GetPortDescriptor(HANDLE hHub, ULONG ulPort, BYTE ucType, BYTE ucIndex, WORD wLanguage, WORD wLength,
                       std::string* pBytes)
{
    pBytes->clear();
    wLength = std::min<WORD>(wLength, sizeof(UsbDescriptorRequest::Data));
    UsbDescriptorRequest request = {};
    request.ConnectionIndex = ulPort;
    request.bmRequest = 0x80;
    request.bRequest = 6;
    request.wValue = static_cast<WORD>((ucType << 8) | ucIndex);
    request.wIndex = wLanguage;
    request.wLength = wLength;
    const DWORD dwSize = USB_DESCRIPTOR_REQUEST_HEADER + wLength;
    DWORD dwReturned = 0;
    if (!DeviceIo().Control(hHub, ZEDO_IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, &request, dwSize, &request,
                            dwSize, &dwReturned))
        return false;
    if (dwReturned <= USB_DESCRIPTOR_REQUEST_HEADER)
        return false;
    DWORD dwData = std::min<DWORD>(dwReturned, dwSize) - USB_DESCRIPTOR_REQUEST_HEADER;
    pBytes->assign(reinterpret_cast<const char*>(request.Data), dwData);
    return true;
}

int GetHubPortOfDevice(const std::string& hubName, const char* pszText, ULONG* pulPorts)
{
    *pulPorts = 0;
    if (hubName.empty())
        return 0;
    CHandle hub(DeviceIo().OpenDevice(DevicePathOfName(hubName).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE));
    if (!hub.Valid())
        return 0;
    ULONG ulPorts = 0;
    if (!GetHubPortCount(hub.Get(), &ulPorts))
        return 0;
    *pulPorts = ulPorts;
    const std::string text = Upper(pszText ? pszText : "");
    int nFound = 0;
    for (ULONG ulPort = 1; ulPort <= ulPorts; ++ulPort) {
        UsbNodeConnectionInformation info;
        if (!GetConnectionInformation(hub.Get(), ulPort, &info) || info.ConnectionStatus != 1)
            continue;
        std::string hardwareId = Upper(DriverNameToHardwareId(GetDriverKeyName(hub.Get(), ulPort)));
        if (!text.empty() && hardwareId.find(text) != std::string::npos)
            nFound = static_cast<int>(ulPort);
    }
    return nFound;
}

// Which root-hub port of the PC the bridge is plugged into, counting the ports of the root hubs as
// one sequence; the description of the last controller searched goes to the caller.
int CZedoUSBDev2K::SCSI_GetUSBPortNum(USBDevList_* pList, BYTE ucIndex, char* pszDescription)
{
    if (!pList || !pszDescription || pList->nCount < 0 || pList->nCount > ZEDOUSB_MAX_DEVICES)
        return ZEDOUSB_ERR_ARGUMENT;
    memset(pszDescription, 0, 512);
    if (ucIndex >= pList->nCount)
        return 0;
    // First pass: a high-speed root hub ends the search, found or not.
    std::vector<std::string> otherHubs;
    for (DWORD dwIndex = 0; dwIndex < kMaxControllers; ++dwIndex) {
        char szPath[1024];
        if (!DeviceIo().InterfacePath(kGuidUsbHostController, dwIndex, szPath, sizeof(szPath)))
            break;
        CHandle controller(DeviceIo().OpenDevice(szPath, GENERIC_WRITE, FILE_SHARE_WRITE));
        if (!controller.Valid())
            continue;
        std::string description = DriverNameToDeviceDesc(GetHCDDriverKeyName(controller.Get()));
        if (!description.empty()) {
            memset(pszDescription, 0, 512);
            memcpy(pszDescription, description.data(), std::min<size_t>(description.size(), 511));
        }
        std::string rootHub = GetRootHubName(controller.Get());
        if (rootHub.empty())
            continue;
        if (rootHub.find("HUB20") != std::string::npos) {
            ULONG ulPorts = 0;
            int nPort = SearchHub(rootHub, &ulPorts);
            ZLOG("SCSI_GetUSBPortNum", "%s: port %d", rootHub.c_str(), nPort);
            return nPort;
        }
        otherHubs.push_back(rootHub);
    }
    // Second pass: the other root hubs in order, their ports numbered one after another.
    int nOffset = 0;
    for (const std::string& hubName : otherHubs) {
        ULONG ulPorts = 0;
        int nPort = SearchHub(hubName, &ulPorts);
        if (nPort)
            return nOffset + nPort;
        nOffset += static_cast<int>(ulPorts);
    }
    return 0;
}
