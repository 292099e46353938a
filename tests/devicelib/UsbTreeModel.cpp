// The USB tree model: answers the hub and controller controls by the kind of handle, and the
// device-tree, interface and ejection requests of the library's seam.
#include "UsbTreeModel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char* const kUsbClassText = "{36FC9E60-C465-11CF-8056-444553540000}";
const char* const kDiskDriveClassText = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
const char* const kHidClassText = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
const char* const kCdromClassText = "{4D36E965-E325-11CE-BFC1-08002BE10318}";

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w)
        s += static_cast<char>(c & 0xFF);
    return s;
}

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

// A name reply as the hub driver gives it: the needed length always, the name as far as it fits.
BOOL NameReply(const std::string& name, bool bConnection, const BYTE* pIn, DWORD dwInLength, BYTE* pOut,
               DWORD dwOutLength, DWORD* pdwReturned)
{
    const DWORD dwHeader = bConnection ? 8 : 4;
    if (dwOutLength < dwHeader + 2 || (bConnection && dwInLength < 4))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    ULONG ulIndex = 0;
    if (bConnection)
        memcpy(&ulIndex, pIn, 4);
    std::wstring wide(name.begin(), name.end());
    const DWORD dwActual = dwHeader + static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR));
    memset(pOut, 0, dwOutLength);
    if (bConnection)
        memcpy(pOut, &ulIndex, 4);
    memcpy(pOut + dwHeader - 4, &dwActual, 4);
    const DWORD dwRoom = (dwOutLength - dwHeader) / sizeof(WCHAR);
    memcpy(pOut + dwHeader, wide.c_str(), std::min<DWORD>(dwRoom, static_cast<DWORD>(wide.size())) * sizeof(WCHAR));
    *pdwReturned = std::min(dwOutLength, dwActual);
    return TRUE;
}

std::vector<BYTE> MassStorageConfiguration(bool bZeroLength)
{
    std::vector<BYTE> bytes = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
    if (bZeroLength) {
        const BYTE bogus[4] = {0, 0x24, 0, 0};
        bytes.insert(bytes.end(), bogus, bogus + 4);
    }
    const BYTE itf[9] = {9, 4, 0, 0, 2, 8, 6, 0x50, 0};
    const BYTE ep1[7] = {7, 5, 0x81, 2, 0, 2, 0};
    const BYTE ep2[7] = {7, 5, 0x02, 2, 0, 2, 0};
    bytes.insert(bytes.end(), itf, itf + 9);
    bytes.insert(bytes.end(), ep1, ep1 + 7);
    bytes.insert(bytes.end(), ep2, ep2 + 7);
    bytes[2] = static_cast<BYTE>(bytes.size());
    return bytes;
}

} // namespace

int CUsbTreeModel::AddController(const std::string& rootHubName, int ports, const std::string& description)
{
    TreeHub hub;
    hub.name = rootHubName;
    hub.portCount = ports;
    hubs.push_back(hub);
    TreeController c;
    char sz[160];
    snprintf(sz, sizeof(sz), "\\\\?\\pci#ven_8086&dev_%04x#3&11583659&0&%02x#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}",
             0x1000 + static_cast<int>(controllers.size()), static_cast<int>(controllers.size()));
    c.path = sz;
    snprintf(sz, sizeof(sz), "{36FC9E60-C465-11CF-8056-444553540000}\\%04d", m_nextKey++);
    c.driverKey = sz;
    c.description = description;
    c.rootHub = static_cast<int>(hubs.size()) - 1;
    controllers.push_back(c);
    return c.rootHub;
}

int CUsbTreeModel::AddHub(int parentHub, int port, const std::string& name, int ports)
{
    TreeHub hub;
    hub.name = name;
    hub.portCount = ports;
    hubs.push_back(hub);
    const int id = static_cast<int>(hubs.size()) - 1;
    TreeDevice& device = AttachDevice(parentHub, port, 0x05E3, 0x0610, 0x0100, L"", L"", L"Hub");
    device.descriptor.bDeviceClass = 9;
    device.hub = id;
    return id;
}

TreeDevice& CUsbTreeModel::AttachDevice(int hub, int port, WORD vid, WORD pid, WORD bcd, const std::wstring& serial,
                                        const std::wstring& manufacturer, const std::wstring& product)
{
    TreeDevice device;
    UsbDeviceDescriptor& d = device.descriptor;
    d.bLength = 18;
    d.bDescriptorType = 1;
    d.bcdUSB = 0x0200;
    d.bMaxPacketSize0 = 64;
    d.idVendor = vid;
    d.idProduct = pid;
    d.bcdDevice = bcd;
    d.bNumConfigurations = 1;
    BYTE next = 1;
    if (!manufacturer.empty()) {
        d.iManufacturer = next;
        device.strings[next++] = manufacturer;
    }
    if (!product.empty()) {
        d.iProduct = next;
        device.strings[next++] = product;
    }
    if (!serial.empty()) {
        d.iSerialNumber = next;
        device.strings[next++] = serial;
    }
    device.configuration = MassStorageConfiguration(false);
    char sz[160];
    snprintf(sz, sizeof(sz), "USB\\VID_%04X&PID_%04X\\%s", vid, pid,
             serial.empty() ? "5&2B0C5A1&0&1" : Narrow(serial).c_str());
    device.instanceId = sz;
    device.classGuid = kUsbClassText;
    snprintf(sz, sizeof(sz), "{36FC9E60-C465-11CF-8056-444553540000}\\%04d", m_nextKey++);
    device.driverKey = sz;
    device.description = "USB Mass Storage Device";
    snprintf(sz, sizeof(sz), "USB\\Vid_%04x&Pid_%04x&Rev_%04x", vid, pid, bcd);
    device.hardwareId = sz;
    TreeDevice& placed = hubs.at(hub).devices[port];
    placed = device;
    return placed;
}

ModelDevice& CUsbTreeModel::AddBridgeDisk(TreeDevice& device, DWORD number, BYTE speedRegister)
{
    return AddBridgeStorage(device, number, speedRegister, false);
}

ModelDevice& CUsbTreeModel::AddBridgeCdrom(TreeDevice& device, DWORD number, BYTE speedRegister)
{
    return AddBridgeStorage(device, number, speedRegister, true);
}

ModelDevice& CUsbTreeModel::AddBridgeStorage(TreeDevice& device, DWORD number, BYTE speedRegister, bool cdrom)
{
    char sz[64];
    snprintf(sz, sizeof(sz), cdrom ? "\\\\.\\cdrom%lu" : "\\\\.\\physicaldrive%lu", static_cast<unsigned long>(number));
    const std::string path = sz;
    AddDevice(path, number);
    const BYTE chip[7] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
    for (int i = 0; i < 7; ++i)
        SetRegister(path, static_cast<WORD>(0x07F0 + i), chip[i]);
    SetRegister(path, 0x9002, speedRegister);
    device.diskPath = Lower(path);

    std::string serial;
    if (device.descriptor.iSerialNumber)
        serial = Narrow(device.strings[device.descriptor.iSerialNumber]);
    TreeDiskInterface itf;
    if (cdrom) {
        itf.path = "\\\\?\\usbstor#cdrom&ven_zedo&prod_virtual#" + Lower(serial) + "&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
        itf.instanceId = "USBSTOR\\CDROM&VEN_ZEDO&PROD_VIRTUAL\\" + Upper(serial) + "&0";
        itf.deviceClass = kCdromClassText;
        itf.cdrom = true;
    } else {
        itf.path = "\\\\?\\usbstor#disk&ven_zedo&prod_bridge#" + Lower(serial) + "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
        itf.instanceId = "USBSTOR\\DISK&VEN_ZEDO&PROD_BRIDGE\\" + Upper(serial) + "&0";
        itf.deviceClass = kDiskDriveClassText;
    }
    itf.diskPath = device.diskPath;
    AddDevice(itf.path, number);
    diskInterfaces.push_back(itf);
    return Device(path);
}

void CUsbTreeModel::Unplug(int hub, int port)
{
    auto it = hubs.at(hub).devices.find(port);
    if (it == hubs.at(hub).devices.end())
        return;
    const std::string disk = it->second.diskPath;
    if (!disk.empty()) {
        SetRemoved(disk, true);
        for (auto d = diskInterfaces.begin(); d != diskInterfaces.end();) {
            if (d->diskPath == disk) {
                SetRemoved(d->path, true);
                d = diskInterfaces.erase(d);
            } else {
                ++d;
            }
        }
    }
    hubs.at(hub).devices.erase(it);
}

void CUsbTreeModel::AddNode(const std::string& instanceId, const std::string& classGuid, const std::string& driverKey)
{
    ZedoDeviceNode node;
    node.instanceId = instanceId;
    node.classGuid = classGuid;
    node.driverKey = driverKey;
    extraNodes.push_back(node);
}

int CUsbTreeModel::Opens(const std::string& path)
{
    return m_opens[Lower(path)];
}

HANDLE CUsbTreeModel::OpenDevice(const char* pszPath, DWORD dwAccess, DWORD dwShare)
{
    const std::string key = Lower(pszPath);
    ++m_opens[key];
    for (size_t i = 0; i < controllers.size(); ++i) {
        if (Lower(controllers[i].path) == key) {
            HANDLE h = reinterpret_cast<HANDLE>(m_nextHandle += 4);
            m_tree[h] = TreeHandle{true, static_cast<int>(i)};
            return h;
        }
    }
    for (size_t i = 0; i < hubs.size(); ++i) {
        if (Lower("\\\\.\\" + hubs[i].name) == key) {
            HANDLE h = reinterpret_cast<HANDLE>(m_nextHandle += 4);
            m_tree[h] = TreeHandle{false, static_cast<int>(i)};
            return h;
        }
    }
    HANDLE h = CBridgeModel::OpenDevice(pszPath, dwAccess, dwShare);
    if (h != INVALID_HANDLE_VALUE)
        m_bridgeHandles[h] = key;
    return h;
}

BOOL CUsbTreeModel::CloseDevice(HANDLE hDevice)
{
    if (m_tree.erase(hDevice))
        return TRUE;
    m_bridgeHandles.erase(hDevice);
    return CBridgeModel::CloseDevice(hDevice);
}

BOOL CUsbTreeModel::Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut, DWORD dwOutLength,
                            DWORD* pdwReturned)
{
    *pdwReturned = 0;
    auto t = m_tree.find(hDevice);
    if (t != m_tree.end()) {
        if (failingControls.count(dwCode))
            return Fail(ERROR_GEN_FAILURE);
        BYTE* in = static_cast<BYTE*>(pIn);
        BYTE* out = static_cast<BYTE*>(pOut);
        BOOL bOk = t->second.controller ? ControllerControl(controllers.at(t->second.id), dwCode, in, dwInLength,
                                                            out, dwOutLength, pdwReturned)
                                        : HubControl(hubs.at(t->second.id), dwCode, in, dwInLength, out,
                                                     dwOutLength, pdwReturned);
        auto limit = replyLimits.find(dwCode);
        if (bOk && limit != replyLimits.end() && *pdwReturned > limit->second) {
            // What lies beyond the short reply is garbage, not zeros.
            memset(out + limit->second, 0xCD, dwOutLength - limit->second);
            *pdwReturned = limit->second;
        }
        return bOk;
    }
    auto b = m_bridgeHandles.find(hDevice);
    ModelDevice* pDisk = nullptr;
    if (b != m_bridgeHandles.end()) {
        try {
            pDisk = &Device(b->second); // volumes are not devices of the model
        } catch (...) {
            pDisk = nullptr;
        }
    }
    if (pDisk && !pDisk->removed) {
        ModelDevice& dev = *pDisk;
        const bool cdromPath = b->second.find("cdrom") != std::string::npos;
        if (dwCode == ZEDO_IOCTL_STORAGE_GET_DEVICE_NUMBER && cdromPath) {
            if (dwOutLength < 12)
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            DWORD number[3] = {2, dev.number, 0xFFFFFFFF};
            memcpy(pOut, number, sizeof(number));
            *pdwReturned = sizeof(number);
            return TRUE;
        }
        if (dwCode == ZEDO_IOCTL_STORAGE_QUERY_PROPERTY) {
            if (dwOutLength < 40)
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            BYTE* out = static_cast<BYTE*>(pOut);
            memset(out, 0, 40);
            DWORD header[2] = {sizeof(DWORD) * 10, 40};
            memcpy(out, header, 8);
            memcpy(out + 28, &busType, 4);
            *pdwReturned = 40;
            return TRUE;
        }
        if (dwCode == ZEDO_IOCTL_DISK_GET_DRIVE_GEOMETRY_EX) {
            if (dwOutLength < 40)
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            const LONGLONG size = (static_cast<LONGLONG>(dev.lastLba) + 1) * dev.blockLength;
            LONGLONG cylinders = std::max<LONGLONG>(1, size / (255 * 63 * 512));
            DWORD values[4] = {12, 255, 63, 512};
            BYTE* out = static_cast<BYTE*>(pOut);
            memset(out, 0, 40);
            memcpy(out, &cylinders, 8);
            memcpy(out + 8, values, 16);
            memcpy(out + 24, &size, 8);
            *pdwReturned = 40;
            return TRUE;
        }
    }
    return CBridgeModel::Control(hDevice, dwCode, pIn, dwInLength, pOut, dwOutLength, pdwReturned);
}

BOOL CUsbTreeModel::ControllerControl(TreeController& c, DWORD dwCode, BYTE* pIn, DWORD dwInLength, BYTE* pOut,
                                      DWORD dwOutLength, DWORD* pdwReturned)
{
    if (dwCode == ZEDO_IOCTL_GET_HCD_DRIVERKEY_NAME)
        return NameReply(c.driverKey, false, pIn, dwInLength, pOut, dwOutLength, pdwReturned);
    if (dwCode == ZEDO_IOCTL_USB_GET_ROOT_HUB_NAME)
        return NameReply(hubs.at(c.rootHub).name, false, pIn, dwInLength, pOut, dwOutLength, pdwReturned);
    return Fail(ERROR_INVALID_FUNCTION);
}

TreeDevice* CUsbTreeModel::PortDevice(TreeHub& hub, const BYTE* pIn, DWORD dwInLength)
{
    if (dwInLength < 4)
        return nullptr;
    ULONG ulPort = 0;
    memcpy(&ulPort, pIn, 4);
    auto it = hub.devices.find(static_cast<int>(ulPort));
    return it == hub.devices.end() ? nullptr : &it->second;
}

BOOL CUsbTreeModel::HubControl(TreeHub& hub, DWORD dwCode, BYTE* pIn, DWORD dwInLength, BYTE* pOut,
                               DWORD dwOutLength, DWORD* pdwReturned)
{
    BOOL bOk = FALSE;
    switch (dwCode) {
    case ZEDO_IOCTL_USB_GET_NODE_INFORMATION: {
        if (dwOutLength < sizeof(UsbNodeInformation))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        UsbNodeInformation info = {};
        info.HubDescriptor.bDescriptorLength = 9;
        info.HubDescriptor.bDescriptorType = 0x29;
        info.HubDescriptor.bNumberOfPorts = static_cast<BYTE>(hub.portCount);
        memcpy(pOut, &info, sizeof(info));
        *pdwReturned = sizeof(info);
        bOk = TRUE;
        break;
    }
    case ZEDO_IOCTL_USB_GET_NODE_CONNECTION_INFORMATION: {
        if (dwInLength < 4 || dwOutLength < USB_CONNECTION_FIXED_SIZE)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        ULONG ulPort = 0;
        memcpy(&ulPort, pIn, 4);
        if (ulPort == 0 || ulPort > static_cast<ULONG>(hub.portCount))
            return Fail(ERROR_INVALID_PARAMETER);
        UsbNodeConnectionInformation info = {};
        info.ConnectionIndex = ulPort;
        if (TreeDevice* d = PortDevice(hub, pIn, dwInLength)) {
            info.DeviceDescriptor = d->descriptor;
            info.CurrentConfigurationValue = d->currentConfiguration;
            info.DeviceIsHub = d->hub >= 0 ? 1 : 0;
            info.DeviceAddress = static_cast<WORD>(ulPort + 1);
            info.ConnectionStatus = d->status;
        }
        memset(pOut, 0, dwOutLength);
        memcpy(pOut, &info, USB_CONNECTION_FIXED_SIZE);
        *pdwReturned = USB_CONNECTION_FIXED_SIZE;
        bOk = TRUE;
        break;
    }
    case ZEDO_IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION: {
        if (dwInLength < USB_DESCRIPTOR_REQUEST_HEADER || dwOutLength < USB_DESCRIPTOR_REQUEST_HEADER)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        TreeDevice* d = PortDevice(hub, pIn, dwInLength);
        if (!d || d->status != 1)
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        BYTE header[USB_DESCRIPTOR_REQUEST_HEADER];
        memcpy(header, pIn, sizeof(header));
        const BYTE type = header[7];
        const BYTE index = header[6];
        const WORD length = static_cast<WORD>(header[10] | (header[11] << 8));
        std::vector<BYTE> bytes;
        if (type == 1) {
            const BYTE* p = reinterpret_cast<const BYTE*>(&d->descriptor);
            bytes.assign(p, p + sizeof(d->descriptor));
        } else if (type == 2) {
            bytes = zeroLengthDescriptor ? MassStorageConfiguration(true) : d->configuration;
        } else if (type == 3 && index == 0) {
            bytes = {4, 3, static_cast<BYTE>(d->language), static_cast<BYTE>(d->language >> 8)};
        } else if (type == 3) {
            auto s = d->strings.find(index);
            if (s == d->strings.end())
                return Fail(ERROR_GEN_FAILURE);
            const size_t chars = std::min<size_t>(s->second.size(), 126);
            bytes.push_back(static_cast<BYTE>(2 + 2 * chars));
            bytes.push_back(3);
            for (size_t i = 0; i < chars; ++i) {
                bytes.push_back(static_cast<BYTE>(s->second[i]));
                bytes.push_back(static_cast<BYTE>(s->second[i] >> 8));
            }
            if (stringLengthOverride)
                bytes[0] = stringLengthOverride;
        } else {
            return Fail(ERROR_GEN_FAILURE);
        }
        const DWORD n = std::min<DWORD>(std::min<DWORD>(length, static_cast<DWORD>(bytes.size())),
                                        dwOutLength - USB_DESCRIPTOR_REQUEST_HEADER);
        memcpy(pOut, header, sizeof(header));
        memcpy(pOut + USB_DESCRIPTOR_REQUEST_HEADER, bytes.data(), n);
        *pdwReturned = USB_DESCRIPTOR_REQUEST_HEADER + n;
        bOk = TRUE;
        break;
    }
    case ZEDO_IOCTL_USB_GET_NODE_CONNECTION_NAME: {
        TreeDevice* d = PortDevice(hub, pIn, dwInLength);
        if (!d || d->hub < 0)
            return Fail(ERROR_INVALID_PARAMETER);
        bOk = NameReply(hubs.at(d->hub).name, true, pIn, dwInLength, pOut, dwOutLength, pdwReturned);
        break;
    }
    case ZEDO_IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME: {
        TreeDevice* d = PortDevice(hub, pIn, dwInLength);
        if (!d)
            return Fail(ERROR_INVALID_PARAMETER);
        bOk = NameReply(d->driverKey, true, pIn, dwInLength, pOut, dwOutLength, pdwReturned);
        break;
    }
    default:
        return Fail(ERROR_INVALID_FUNCTION);
    }
    return bOk;
}

bool CUsbTreeModel::InterfacePath(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars)
{
    if (!IsEqualGUID(guidClass, kGuidUsbHostController))
        return CBridgeModel::InterfacePath(guidClass, dwIndex, pszPath, dwChars);
    if (dwIndex >= controllers.size() || controllers[dwIndex].path.size() >= dwChars) {
        if (dwChars)
            pszPath[0] = 0;
        return false;
    }
    strcpy(pszPath, controllers[dwIndex].path.c_str());
    return true;
}

bool CUsbTreeModel::InterfaceDevice(const GUID& guidClass, DWORD dwIndex, ZedoInterfaceDevice* pInterface)
{
    *pInterface = ZedoInterfaceDevice();
    const bool cdrom = IsEqualGUID(guidClass, kGuidCdromInterface);
    if (!cdrom && !IsEqualGUID(guidClass, kGuidDiskInterface))
        return false;
    DWORD n = 0;
    for (const TreeDiskInterface& itf : diskInterfaces) {
        if (itf.cdrom != cdrom || n++ != dwIndex)
            continue;
        pInterface->path = itf.path;
        pInterface->instanceId = itf.instanceId;
        pInterface->deviceClass = itf.deviceClass;
        return true;
    }
    return false;
}

bool CUsbTreeModel::DeviceNodes(std::vector<ZedoDeviceNode>& nodes)
{
    nodes.clear();
    ZedoDeviceNode root;
    root.instanceId = "HTREE\\ROOT\\0";
    nodes.push_back(root);
    for (const TreeController& c : controllers) {
        ZedoDeviceNode node;
        node.instanceId = "PCI\\VEN_8086&DEV_1000\\" + c.driverKey.substr(c.driverKey.size() - 4);
        node.classGuid = kUsbClassText;
        node.driverKey = c.driverKey;
        node.description = c.description;
        nodes.push_back(node);
    }
    for (const TreeHub& hub : hubs) {
        for (const auto& [port, d] : hub.devices) {
            ZedoDeviceNode node;
            node.instanceId = d.instanceId;
            node.classGuid = d.classGuid;
            node.driverKey = d.driverKey;
            node.description = d.description;
            node.hardwareId = d.hardwareId;
            nodes.push_back(node);
        }
    }
    for (const TreeDiskInterface& itf : diskInterfaces) {
        ZedoDeviceNode node;
        node.instanceId = itf.instanceId;
        node.classGuid = itf.deviceClass;
        node.driverKey = std::string(kDiskDriveClassText) + "\\0001";
        node.description = "ZEDO Bridge USB Device";
        nodes.push_back(node);
    }
    nodes.insert(nodes.end(), extraNodes.begin(), extraNodes.end());
    return true;
}

bool CUsbTreeModel::RequestEject(const char* pszInstanceId, DWORD* pdwVetoType, char* pszVetoName, DWORD dwChars)
{
    const std::string id = pszInstanceId;
    ejections.push_back(id);
    *pdwVetoType = 0;
    if (dwChars)
        memset(pszVetoName, 0, dwChars);
    if (vetoed.count(id)) {
        *pdwVetoType = 6; // outstanding open
        snprintf(pszVetoName, dwChars, "%s", "STORAGE\\Volume\\1&19f7e59c&0&_??_USBSTOR#Disk");
        return true;
    }
    if (!ejectRemoves)
        return true;
    for (size_t h = 0; h < hubs.size(); ++h) {
        for (auto& [port, d] : hubs[h].devices) {
            if (d.instanceId == id) {
                Unplug(static_cast<int>(h), port);
                return true;
            }
        }
    }
    extraNodes.erase(std::remove_if(extraNodes.begin(), extraNodes.end(),
                                    [&](const ZedoDeviceNode& n) { return n.instanceId == id; }),
                     extraNodes.end());
    return true;
}
