// The utility singleton: construction and reset of its records, the helpers its operations share
// (registry properties, GUID texts, volume letters, media-type names) and safe removal.
#include "Utility.h"
#include "ZedoDeviceIo.h"

#include <rpc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

CUtility* g_pUtility = nullptr;

namespace {

const DWORD kSpinCount = 0x80000400;

const char* const kMediaTypeNames[] = {
    "Format is unknown",
    "A 5.25 floppy, with 1.2MB and 512 bytes/sector.",
    "A 3.5 floppy, with 1.44MB and 512 bytes/sector.",
    "A 3.5 floppy, with 2.88MB and 512 bytes/sector.",
    "A 3.5 floppy, with 20.8MB and 512 bytes/sector.",
    "A 3.5 floppy, with 720KB and 512 bytes/sector.",
    "A 5.25 floppy, with 360KB and 512 bytes/sector.",
    "A 5.25 floppy, with 320KB and 512 bytes/sector.",
    "A 5.25 floppy, with 320KB and 1024 bytes/sector.",
    "A 5.25 floppy, with 180KB and 512 bytes/sector.",
    "A 5.25 floppy, with 160KB and 512 bytes/sector.",
    "Removable media other than floppy.",
    "Fixed hard disk media.",
    "A 3.5 floppy, with 120MB and 512 bytes/sector.",
    "A 3.5 floppy, with 640KB and 512 bytes/sector.",
    "A 5.25 floppy, with 640KB and 512 bytes/sector.",
    "A 5.25 floppy, with 720KB and 512 bytes/sector.",
    "A 3.5 floppy, with 1.2MB and 512 bytes/sector.",
    "A 3.5 floppy, with 1.23MB and 1024 bytes/sector.",
    "A 5.25 floppy, with 1.23MB and 1024 bytes/sector.",
    "A 3.5 floppy, with 128MB and 512 bytes/sector.",
    "A 3.5 floppy, with 230MB and 512 bytes/sector.",
    "An 8 floppy, with 256KB and 128 bytes/sector.",
    "A 3.5 floppy, with 200MB and 512 bytes/sector. (HiFD).",
    "A 3.5 floppy, with 240MB and 512 bytes/sector. (HiFD).",
    "A 3.5 floppy, with 32MB and 512 bytes/sector.",
};
static_assert(sizeof(kMediaTypeNames) / sizeof(kMediaTypeNames[0]) == 26, "26 media-type names");

// The two setup classes safe removal looks at.
const char* const kUsbClass = "{36FC9E60-C465-11CF-8056-444553540000}";
const char* const kDiskDriveClass = "{4D36E967-E325-11CE-BFC1-08002BE10318}";

std::string Upper(const char* psz)
{
    std::string s = psz ? psz : "";
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// The text occurs in the identifier at a position after its first character.
bool ContainsAfterFirst(const std::string& id, const std::string& text)
{
    return !text.empty() && id.size() > 1 && id.find(text, 1) != std::string::npos;
}

void ClearRecord(USBDevInfo_& rec)
{
    memset(&rec, 0, sizeof(rec));
    rec.ucIndex = 255;
    rec.cDriveLetter = 0x7F;
    rec.dwDiskSize[0] = 0xFFFFFFFF;
    rec.dwDiskSize[1] = 0xFFFFFFFF;
    rec.m_ucPhysicalAddress = 255;
    rec.ucLocation = 255;
    rec.nConfigFlag1 = 255;
    rec.nConfigFlag2 = 255;
}

} // namespace

int CreateUtilityInstance()
{
    if (!g_pUtility)
        g_pUtility = new CUtility;
    return 0;
}

CUtility::CUtility()
{
    m_pCurrentTable = &m_pDevList;
    vInitialPrivateData();
    memset(&m_pDevList, 0, sizeof(m_pDevList));
    for (USBDevInfo_& rec : m_pDevList.Devs)
        ClearRecord(rec);
    InitializeCriticalSectionAndSpinCount(&m_UpdateConfigurationCriticalSection, kSpinCount);
    InitializeCriticalSectionAndSpinCount(&m_UpdateFirmwareCriticalSection, kSpinCount);
    InitializeCriticalSectionAndSpinCount(&m_FormatCriticalSection, kSpinCount);
    InitializeCriticalSectionAndSpinCount(&m_PartitionCriticalSection, kSpinCount);
    InitializeCriticalSectionAndSpinCount(&m_ReloadFWCriticalSection, kSpinCount);
    InitializeCriticalSectionAndSpinCount(&m_SpeedTestCriticalSection, kSpinCount);
    memset(m_szCurrentDirectory, 0, sizeof(m_szCurrentDirectory));
    memset(m_szModulePath, 0, sizeof(m_szModulePath));
    DWORD n = GetCurrentDirectoryA(sizeof(m_szCurrentDirectory) - 1, m_szCurrentDirectory);
    if (n == 0 || n >= sizeof(m_szCurrentDirectory) - 1)
        m_szCurrentDirectory[0] = 0;
    HMODULE hModule = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&CreateUtilityInstance), &hModule);
    n = GetModuleFileNameA(hModule, m_szModulePath, sizeof(m_szModulePath) - 1);
    if (n == 0 || n >= sizeof(m_szModulePath) - 1)
        m_szModulePath[0] = 0;
}

void CUtility::vInitialPrivateData()
{
    m_ucConfigQuery = 0;
    m_ucBridgeDisks = 0;
    m_ucPortOffset = 0;
    m_ucLocation = 0;
    m_ulPort = 0;
    m_nConfigFlag1 = 0;
    m_nConfigFlag2 = 0;
    m_strVendorId.clear();
    m_strProductId.clear();
    m_strDeviceRelease.clear();
    m_strManufacturer.clear();
    m_strProduct.clear();
    m_strSerialNumber.clear();
    m_strHubName.clear();
    m_strDriverKeyName.clear();
    m_strDeviceDesc.clear();
    m_strDescriptorDump.clear();
    m_strDiskSerial.clear();
    memset(m_ucReserved, 0, sizeof(m_ucReserved));
}

void CUtility::vClearPrivateData()
{
    vInitialPrivateData();
    for (USBDevInfo_& rec : m_pDevList.Devs)
        ClearRecord(rec);
    m_pDevList.dwCount = 0;
    m_pDevList.ucCurrent = 0;
}

std::string CUtility::FormatRegistryProperty(DWORD dwRegType, const BYTE* pData, DWORD dwSize, DWORD dwProperty)
{
    char sz[64];
    switch (dwRegType) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
        // The first string, bounded by the data's size.
        DWORD n = 0;
        while (n < dwSize && pData[n])
            ++n;
        return std::string(reinterpret_cast<const char*>(pData), n);
    }
    case REG_BINARY: {
        DWORD v = 0;
        memcpy(&v, pData, std::min<DWORD>(dwSize, 4));
        snprintf(sz, sizeof(sz), "%lx", static_cast<unsigned long>(v));
        return sz;
    }
    case REG_DWORD: {
        if (dwSize < 4)
            return std::string();
        DWORD v = 0;
        memcpy(&v, pData, 4);
        if (dwProperty == SPDRP_ADDRESS)
            snprintf(sz, sizeof(sz), "%d %d", static_cast<int>(LOWORD(v)), static_cast<int>(HIWORD(v)));
        else
            snprintf(sz, sizeof(sz), "%d", static_cast<int>(v));
        return sz;
    }
    default:
        return std::string();
    }
}

std::string CUtility::vGetSetupDiDeviceRegistryProperty(HDEVINFO hDevInfo, SP_DEVINFO_DATA* pDevInfoData,
                                                        DWORD dwProperty)
{
    std::vector<BYTE> buffer(4096 + 2, 0);
    DWORD dwType = REG_NONE;
    DWORD dwSize = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDevInfoData, dwProperty, &dwType, buffer.data(), 4096,
                                           &dwSize))
        return std::string();
    return FormatRegistryProperty(dwType, buffer.data(), std::min<DWORD>(dwSize, 4096), dwProperty);
}

GUID CUtility::vCStringToGUID(const char* pszText)
{
    GUID guid = {};
    if (!pszText)
        return guid;
    std::string text = pszText;
    if (text.size() >= 2 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, text.size() - 2);
    UUID uuid = {};
    if (UuidFromStringA(reinterpret_cast<RPC_CSTR>(const_cast<char*>(text.c_str())), &uuid) != RPC_S_OK)
        return GUID{};
    memcpy(&guid, &uuid, sizeof(guid));
    return guid;
}

char CUtility::vGetLogicalAddressFromPhysicalAddress(DWORD dwDiskNumber)
{
    for (char c = 'C'; c <= 'Z'; ++c) {
        char szMountPoint[4] = {c, ':', '\\', 0};
        char szVolume[MAX_PATH + 2] = {};
        if (!DeviceIo().VolumeNameForMountPoint(szMountPoint, szVolume, MAX_PATH) || !szVolume[0])
            continue;
        szVolume[MAX_PATH] = 0;
        size_t n = strlen(szVolume);
        if (szVolume[n - 1] == '\\')
            szVolume[n - 1] = 0;
        HANDLE hVolume = DeviceIo().OpenDevice(szVolume, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (ZedoBadHandle(hVolume))
            continue;
        ZedoVolumeExtent extent;
        const bool bOnDisk = ZedoQueryVolumeExtent(hVolume, &extent) && extent.DiskNumber == dwDiskNumber;
        DeviceIo().CloseDevice(hVolume);
        if (bOnDisk)
            return c;
    }
    return 0x7F;
}

const char* CUtility::MediaTypeName(DWORD dwMediaType)
{
    if (dwMediaType >= sizeof(kMediaTypeNames) / sizeof(kMediaTypeNames[0]))
        return "";
    return kMediaTypeNames[dwMediaType];
}

// ---- safe removal ----

BYTE CUtility::vForceEjectUSB(const char* pszInstanceId)
{
    if (!pszInstanceId || !*pszInstanceId)
        return 0;
    DWORD dwVeto = 0;
    char szVetoName[260] = {};
    bool bAccepted = DeviceIo().RequestEject(pszInstanceId, &dwVeto, szVetoName, sizeof(szVetoName));
    szVetoName[sizeof(szVetoName) - 1] = 0;
    bool bDone = bAccepted && dwVeto == 0 && szVetoName[0] == 0;
    ZLOG("CUtility::vForceEjectUSB", "%s: accepted %d, veto type %lu [%s]", pszInstanceId, bAccepted ? 1 : 0,
         static_cast<unsigned long>(dwVeto), szVetoName);
    return bDone ? 1 : 0;
}

BYTE CUtility::vSafeRemoveUSB(const char* pszVendorId, const char* pszProductId, const char* pszSerialNumber)
{
    // Empty ids would match every device: nothing is ejected.
    const std::string vid = Upper(pszVendorId);
    const std::string pid = Upper(pszProductId);
    if (vid.empty() || pid.empty())
        return 0;
    std::vector<ZedoDeviceNode> nodes;
    if (!DeviceIo().DeviceNodes(nodes))
        return 0;
    for (const ZedoDeviceNode& node : nodes) {
        const std::string cls = Upper(node.classGuid.c_str());
        if (cls != kUsbClass && cls != kDiskDriveClass)
            continue;
        const std::string id = Upper(node.instanceId.c_str());
        ZLOG("CUtility::vSafeRemoveUSB", "%s [%s] %s SN[%s]", id.c_str(), cls.c_str(), node.description.c_str(),
             pszSerialNumber ? pszSerialNumber : "");
        if (ContainsAfterFirst(id, vid) && ContainsAfterFirst(id, pid))
            return vForceEjectUSB(node.instanceId.c_str());
    }
    return 1;
}

BYTE Utility_vSafeRemoveUSB(const char* pszVendorId, const char* pszProductId, const char* pszSerialNumber)
{
    try {
        if (!g_pUtility)
            return 0;
        // Asked twice: the second request finds the device gone, or ejects what came back.
        g_pUtility->vSafeRemoveUSB(pszVendorId, pszProductId, pszSerialNumber);
        return g_pUtility->vSafeRemoveUSB(pszVendorId, pszProductId, pszSerialNumber);
    } catch (...) {
        return 0;
    }
}
