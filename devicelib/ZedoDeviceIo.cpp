// The system side of the library: device opening, I/O control, message boxes, the pass-through
// transport shared by every command.
#include "ZedoDeviceIo.h"
#include "ZedoUSBLib.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::string GuidText(const GUID& g)
{
    char sz[40];
    snprintf(sz, sizeof(sz), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
             g.Data4[7]);
    return sz;
}

// A text property of a device node; a multi-string gives its first string.
std::string NodeProperty(DEVINST inst, ULONG ulProperty)
{
    char buffer[1024 + 2] = {};
    ULONG ulType = 0;
    ULONG ulLength = 1024;
    if (CM_Get_DevNode_Registry_PropertyA(inst, ulProperty, &ulType, buffer, &ulLength, 0) != CR_SUCCESS)
        return std::string();
    if (ulType != REG_SZ && ulType != REG_MULTI_SZ && ulType != REG_EXPAND_SZ)
        return std::string();
    buffer[1024] = 0;
    return buffer;
}

ZedoDeviceNode NodeRecord(DEVINST inst)
{
    ZedoDeviceNode node;
    char szId[MAX_DEVICE_ID_LEN + 2] = {};
    if (CM_Get_Device_IDA(inst, szId, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS) {
        szId[MAX_DEVICE_ID_LEN] = 0;
        node.instanceId = szId;
    }
    node.classGuid = NodeProperty(inst, CM_DRP_CLASSGUID);
    node.driverKey = NodeProperty(inst, CM_DRP_DRIVER);
    node.description = NodeProperty(inst, CM_DRP_DEVICEDESC);
    node.hardwareId = NodeProperty(inst, CM_DRP_HARDWAREID);
    return node;
}

// A step of the tree walk: the output starts as the node itself, so a call that succeeds without
// writing its output reads as "no such node".
bool TreeStep(CONFIGRET (WINAPI* pfnStep)(PDEVINST, DEVINST, ULONG), DEVINST from, DEVINST* pTo)
{
    DEVINST to = from;
    if (pfnStep(&to, from, 0) != CR_SUCCESS || to == from || to == 0)
        return false;
    *pTo = to;
    return true;
}
} // namespace

HANDLE CDeviceIo::OpenDevice(const char* pszPath, DWORD dwAccess, DWORD dwShare)
{
    return CreateFileA(pszPath, dwAccess, dwShare, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL CDeviceIo::CloseDevice(HANDLE hDevice)
{
    return CloseHandle(hDevice);
}

BOOL CDeviceIo::Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut, DWORD dwOutLength,
                        DWORD* pdwReturned)
{
    return DeviceIoControl(hDevice, dwCode, pIn, dwInLength, pOut, dwOutLength, pdwReturned, nullptr);
}

BOOL CDeviceIo::VolumeNameForMountPoint(const char* pszMountPoint, char* pszName, DWORD dwChars)
{
    return GetVolumeNameForVolumeMountPointA(pszMountPoint, pszName, dwChars);
}

bool CDeviceIo::InterfacePath(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars)
{
    if (dwChars == 0)
        return false;
    pszPath[0] = 0;
    HDEVINFO hSet = SetupDiGetClassDevsA(&guidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == INVALID_HANDLE_VALUE)
        return false;
    bool bFound = false;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    if (SetupDiEnumDeviceInterfaces(hSet, nullptr, &guidClass, dwIndex, &data)) {
        DWORD dwSize = 0;
        SetupDiGetDeviceInterfaceDetailA(hSet, &data, nullptr, 0, &dwSize, nullptr);
        if (dwSize >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            std::vector<BYTE> detail(dwSize);
            auto* pDetail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.data());
            pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, dwSize, nullptr, nullptr)) {
                lstrcpynA(pszPath, pDetail->DevicePath, static_cast<int>(dwChars));
                bFound = pszPath[0] != 0;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(hSet);
    return bFound;
}

bool CDeviceIo::InterfaceDevice(const GUID& guidClass, DWORD dwIndex, ZedoInterfaceDevice* pInterface)
{
    *pInterface = ZedoInterfaceDevice();
    HDEVINFO hSet = SetupDiGetClassDevsA(&guidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == INVALID_HANDLE_VALUE)
        return false;
    bool bFound = false;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    if (SetupDiEnumDeviceInterfaces(hSet, nullptr, &guidClass, dwIndex, &data)) {
        // The detail record is at most 1024 bytes.
        DWORD dwSize = 0;
        SetupDiGetDeviceInterfaceDetailA(hSet, &data, nullptr, 0, &dwSize, nullptr);
        if (dwSize >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) && dwSize <= 1024) {
            std::vector<BYTE> detail(dwSize + 2, 0);
            auto* pDetail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.data());
            pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            SP_DEVINFO_DATA devInfo = {};
            devInfo.cbSize = sizeof(devInfo);
            if (SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, dwSize, nullptr, &devInfo)) {
                pInterface->path = pDetail->DevicePath;
                char szId[MAX_DEVICE_ID_LEN + 2] = {};
                if (SetupDiGetDeviceInstanceIdA(hSet, &devInfo, szId, MAX_DEVICE_ID_LEN, nullptr))
                    pInterface->instanceId = szId;
                pInterface->deviceClass = GuidText(devInfo.ClassGuid);
                bFound = !pInterface->path.empty();
            }
        }
    }
    SetupDiDestroyDeviceInfoList(hSet);
    return bFound;
}

bool CDeviceIo::DeviceNodes(std::vector<ZedoDeviceNode>& nodes)
{
    nodes.clear();
    // The root: a null identifier names it; some systems want the root's own identifier instead.
    DEVINST root = 0;
    char szRoot[] = "HTREE\\ROOT\\0";
    if (CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS &&
        CM_Locate_DevNodeA(&root, szRoot, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
        return false;
    // Depth first: child, else next sibling, else climb to a parent and take its sibling. Every
    // failed or unchanged step ends that direction, and the walk is bounded.
    const int kMaxSteps = 16384;
    DEVINST current = root;
    int nSteps = 0;
    while (nSteps++ < kMaxSteps) {
        nodes.push_back(NodeRecord(current));
        DEVINST next = 0;
        if (TreeStep(CM_Get_Child, current, &next)) {
            current = next;
            continue;
        }
        DEVINST at = current;
        bool bMoved = false;
        while (at != root && nSteps++ < kMaxSteps) {
            if (TreeStep(CM_Get_Sibling, at, &next)) {
                current = next;
                bMoved = true;
                break;
            }
            if (!TreeStep(CM_Get_Parent, at, &next))
                break;
            at = next;
        }
        if (!bMoved)
            break;
    }
    return true;
}

bool CDeviceIo::RequestEject(const char* pszInstanceId, DWORD* pdwVetoType, char* pszVetoName, DWORD dwChars)
{
    *pdwVetoType = 0;
    if (dwChars)
        memset(pszVetoName, 0, dwChars);
    DEVINST inst = 0;
    if (CM_Locate_DevNodeA(&inst, const_cast<char*>(pszInstanceId), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
        return false;
    PNP_VETO_TYPE veto = PNP_VetoTypeUnknown;
    CONFIGRET cr = CM_Request_Device_EjectA(inst, &veto, pszVetoName, dwChars, 0);
    if (dwChars)
        pszVetoName[dwChars - 1] = 0;
    *pdwVetoType = static_cast<DWORD>(veto);
    return cr == CR_SUCCESS;
}

BOOL CDeviceIo::WriteBytes(HANDLE hFile, const void* pData, DWORD dwLength, DWORD* pdwWritten)
{
    return WriteFile(hFile, pData, dwLength, pdwWritten, nullptr);
}

HANDLE CDeviceIo::OpenDisk(const char* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwFlags)
{
    return CreateFileA(pszPath, dwAccess, dwShare, nullptr, OPEN_EXISTING, dwFlags, nullptr);
}

BOOL CDeviceIo::ReadAt(HANDLE hDevice, unsigned long long ullOffset, void* pBuffer, DWORD dwLength, DWORD* pdwDone)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(ullOffset);
    at.OffsetHigh = static_cast<DWORD>(ullOffset >> 32);
    *pdwDone = 0;
    return ReadFile(hDevice, pBuffer, dwLength, pdwDone, &at);
}

BOOL CDeviceIo::WriteAt(HANDLE hDevice, unsigned long long ullOffset, const void* pBuffer, DWORD dwLength,
                        DWORD* pdwDone)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(ullOffset);
    at.OffsetHigh = static_cast<DWORD>(ullOffset >> 32);
    *pdwDone = 0;
    return WriteFile(hDevice, pBuffer, dwLength, pdwDone, &at);
}

namespace {
CDeviceIo g_systemIo;
CDeviceIo* g_pDeviceIo = &g_systemIo;

void SystemMessageBox(const char* pszText, const char* pszCaption, UINT uType)
{
    MessageBoxA(nullptr, pszText, pszCaption, uType);
}
ZedoMessageSink g_pMessageSink = SystemMessageBox;
} // namespace

CDeviceIo& zedo::DeviceIo()
{
    return *g_pDeviceIo;
}

CDeviceIo* SetDeviceIo(CDeviceIo* pIo)
{
    CDeviceIo* pOld = g_pDeviceIo;
    g_pDeviceIo = pIo ? pIo : &g_systemIo;
    return pOld;
}

void ZedoShowMessage(const char* pszText, const char* pszCaption, UINT uType)
{
    g_pMessageSink(pszText, pszCaption, uType);
}

ZedoMessageSink SetZedoMessageSink(ZedoMessageSink pSink)
{
    ZedoMessageSink pOld = g_pMessageSink;
    g_pMessageSink = pSink ? pSink : SystemMessageBox;
    return pOld;
}

void ZedoErrorBox(const char* pszFormat, ...)
{
    char szText[512];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    ZedoShowMessage(szText, "Error", MB_OK | MB_ICONERROR);
}

void ZedoDebugLog(const char*, ...)
{
    // The log has no file, window or setting: lines are handed over and dropped.
}

int ZedoSendCommand(HANDLE hDevice, const ZedoScsiCommand& cmd)
{
    if (cmd.DataLength > ZEDO_DATA_AREA || (cmd.DataLength != 0 && cmd.Data == nullptr))
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoPassThroughHeader header = {};
    header.Length = sizeof(ZedoPassThroughHeader);
    header.CdbLength = cmd.CdbLength;
    header.SenseInfoLength = ZEDO_SENSE_LENGTH;
    header.DataIn = cmd.DataIn;
    header.DataTransferLength = cmd.DataLength;
    header.TimeOutValue = cmd.TimeOut;
    header.SenseInfoOffset = ZEDO_SENSE_OFFSET;
    memcpy(header.Cdb, cmd.Cdb, sizeof(header.Cdb));

    DWORD dwReturned = 0;
    BOOL bOk;
    if (cmd.Direct) {
        BYTE request[ZEDO_DIRECT_REQUEST_SIZE] = {};
        header.DataBuffer = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(cmd.Data));
        memcpy(request, &header, sizeof(header));
        bOk = DeviceIo().Control(hDevice, ZEDO_IOCTL_SCSI_PASS_THROUGH_DIRECT, request, sizeof(request), request,
                                 sizeof(request), &dwReturned);
        header.ScsiStatus = reinterpret_cast<ZedoPassThroughHeader*>(request)->ScsiStatus;
        header.DataTransferLength = reinterpret_cast<ZedoPassThroughHeader*>(request)->DataTransferLength;
    } else {
        // The request block is 0x10050 bytes: kept off the caller's stack, which for a polling
        // thread may be small.
        std::vector<BYTE> request;
        try {
            request.assign(ZEDO_REQUEST_SIZE, 0);
        } catch (...) {
            ZLOG("ZedoSendCommand", "no memory for the request block");
            return ZEDOUSB_ERR_DEVICE;
        }
        header.DataBuffer = ZEDO_DATA_OFFSET;
        memcpy(request.data(), &header, sizeof(header));
        if (cmd.DataIn == ZEDO_DATA_OUT && cmd.DataLength)
            memcpy(request.data() + ZEDO_DATA_OFFSET, cmd.Data, cmd.DataLength);
        bOk = DeviceIo().Control(hDevice, ZEDO_IOCTL_SCSI_PASS_THROUGH, request.data(), cmd.InLength,
                                 request.data(), cmd.OutLength, &dwReturned);
        header.ScsiStatus = reinterpret_cast<ZedoPassThroughHeader*>(request.data())->ScsiStatus;
        header.DataTransferLength = reinterpret_cast<ZedoPassThroughHeader*>(request.data())->DataTransferLength;
        if (bOk && header.ScsiStatus == 0 && cmd.DataIn == ZEDO_DATA_IN && cmd.DataLength &&
            header.DataTransferLength >= cmd.DataLength)
            memcpy(cmd.Data, request.data() + ZEDO_DATA_OFFSET, cmd.DataLength);
    }
    if (!bOk || header.ScsiStatus != 0) {
        DWORD dwError = GetLastError();
        ZLOG("ZedoSendCommand", "op 0x%02X failed: bResult=%d ScsiStatus=0x%02X dwErrorCode=%lu", cmd.Cdb[0],
             bOk, header.ScsiStatus, dwError);
        SetLastError(dwError);
        return ZEDOUSB_ERR_DEVICE;
    }
    // The stack reports in DataTransferLength how many bytes the device really sent. Every reader
    // of the library uses all the bytes it asks for, so an answer that came up short is a failure,
    // never a buffer whose missing bytes read as zeros.
    if (cmd.DataIn == ZEDO_DATA_IN && header.DataTransferLength < cmd.DataLength) {
        ZLOG("ZedoSendCommand", "op 0x%02X answered %lu of %lu bytes", cmd.Cdb[0], header.DataTransferLength,
             cmd.DataLength);
        SetLastError(ERROR_INVALID_DATA);
        return ZEDOUSB_ERR_DEVICE;
    }
    return 0;
}

bool ZedoQueryVolumeExtent(HANDLE hVolume, ZedoVolumeExtent* pExtent)
{
    *pExtent = {};
    DWORD dwReturned = 0;
    const BOOL bOk = DeviceIo().Control(hVolume, ZEDO_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, pExtent,
                                        sizeof(*pExtent), &dwReturned);
    return bOk && pExtent->NumberOfDiskExtents >= 1 && dwReturned >= sizeof(*pExtent);
}
