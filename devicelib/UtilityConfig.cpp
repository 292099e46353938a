// The utility's walk of the USB topology for the bridge's identity: every host controller, its
// root hub and the hubs below it; each connected device's descriptor and strings; the device tied
// to its disk by serial number and the disk tested for the bridge chip.
#include "UsbTopology.h"
#include "Utility.h"
#include "ZedoDeviceIo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kHostControllerClass = "{3ABF6F2D-71C4-462A-8A92-1E6861E6AF27}";
const char* const kUsbClass = "{36FC9E60-C465-11CF-8056-444553540000}";
const char* const kDiskDriveClass = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
const char* const kCdromClass = "{4D36E965-E325-11CE-BFC1-08002BE10318}";

const int kMaxControllers = 10;   // the controller handle array
const int kMaxHubDepth = 7;       // hubs below a root hub
const DWORD kMaxInterfaces = 64;  // disk or CD-ROM interfaces looked at
const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// Copies a text into a fixed field, cut to the field and always terminated.
template <size_t N>
void CopyText(char (&field)[N], const std::string& text)
{
    memset(field, 0, N);
    memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// A configuration field: the text cut to the field's width, zero-filled when shorter (a text that
// fills the field has no terminator).
template <size_t N, size_t M>
void FillField(char (&field)[N], const char (&text)[M])
{
    const size_t n = strnlen(text, M);
    memset(field, 0, N);
    memcpy(field, text, std::min(n, N));
}

std::string Format(const char* pszFormat, unsigned v)
{
    char sz[32];
    snprintf(sz, sizeof(sz), pszFormat, v);
    return sz;
}

class CHandle {
public:
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    bool Valid() const { return !ZedoBadHandle(m_h); }
    HANDLE Get() const { return m_h; }
    void Close()
    {
        if (Valid())
            DeviceIo().CloseDevice(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

bool StorageDeviceNumber(HANDLE h, DWORD* pdwType, DWORD* pdwNumber)
{
    DWORD number[3] = {};
    DWORD dwReturned = 0;
    if (!DeviceIo().Control(h, ZEDO_IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number, sizeof(number),
                            &dwReturned) ||
        dwReturned < 8)
        return false;
    *pdwType = number[0];
    *pdwNumber = number[1];
    return true;
}

std::string BridgeId(const BYTE* inquiry)
{
    char sz[8];
    snprintf(sz, sizeof(sz), "%02X%02X", inquiry[37], inquiry[36]);
    return sz;
}

} // namespace

// ---- commands the utility issues itself ----

int CUtility::SCSIT60X_Inquiry(HANDLE hDevice, BYTE* pBuffer, BYTE ucLength)
{
    return m_Dev.SCSI_Inquiry(hDevice, pBuffer, ucLength);
}

int CUtility::SCSIT60X_AccessRegister(HANDLE hDevice, BYTE ucRW, WORD wAddress, BYTE* pBuffer, DWORD dwLength)
{
    return m_Dev.SCSI_QT60X_AccessRegister(hDevice, ucRW, wAddress, pBuffer, dwLength);
}

int CUtility::SCSIT60X_AccessConfigEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength)
{
    return m_Dev.SCSI_QT60X_AccessConfigEEPROM(hDevice, ucRW, pBuffer, dwLength);
}

BYTE CUtility::ATAPassThrough_GetHDSerialNumber(HANDLE hDevice, char* pszSerial, DWORD dwChars)
{
    if (!pszSerial || dwChars == 0)
        return 0;
    memset(pszSerial, 0, dwChars);
    if (ZedoBadHandle(hDevice))
        return 0;
    BYTE identify[512] = {};
    ZedoScsiCommand cmd;
    const BYTE cdb[12] = {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00};
    memcpy(cmd.Cdb, cdb, sizeof(cdb));
    cmd.CdbLength = 12;
    cmd.DataIn = ZEDO_DATA_IN;
    cmd.Data = identify;
    cmd.DataLength = sizeof(identify);
    cmd.OutLength = ZEDO_DATA_OFFSET + sizeof(identify);
    cmd.TimeOut = 3;
    if (ZedoSendCommand(hDevice, cmd) != 0)
        return 0;
    // Words 10 to 19, each word's bytes swapped; blanks around it dropped.
    std::string serial;
    for (int i = 20; i < 40; i += 2) {
        serial += static_cast<char>(identify[i + 1]);
        serial += static_cast<char>(identify[i]);
    }
    size_t first = serial.find_first_not_of(" \0", 0, 2);
    size_t last = serial.find_last_not_of(" \0", std::string::npos, 2);
    serial = first == std::string::npos ? std::string() : serial.substr(first, last - first + 1);
    memcpy(pszSerial, serial.data(), std::min<size_t>(serial.size(), dwChars - 1));
    m_strDiskSerial = serial;
    return 1;
}

BYTE CUtility::GetDisksProperty(HANDLE hDevice, DWORD* pdwBusType)
{
    *pdwBusType = 0;
    DWORD query[3] = {0, 0, 0}; // device property, standard query
    BYTE reply[1024] = {};
    DWORD dwReturned = 0;
    if (!DeviceIo().Control(hDevice, ZEDO_IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof(query), reply,
                            sizeof(reply), &dwReturned) ||
        dwReturned < 32)
        return 0;
    memcpy(pdwBusType, reply + 28, 4);
    return 1;
}

// ---- the walk ----

int CUtility::Open(USBDevTable_* pTable)
{
    try {
        m_ucConfigQuery = 1;
        m_pCurrentTable = pTable ? pTable : &m_pDevList;
        Enum();
        return 1;
    } catch (...) {
        return 0;
    }
}

int CUtility::Enum()
{
    HANDLE handles[kMaxControllers];
    for (HANDLE& h : handles)
        h = INVALID_HANDLE_VALUE;
    int nCount = 0;
    OpenDevice(handles, &nCount, FALSE);
    // Every controller handle is closed, whatever the walk does.
    struct CCloseAll {
        HANDLE* p;
        ~CCloseAll()
        {
            for (int i = 0; i < kMaxControllers; ++i)
                if (!ZedoBadHandle(p[i]))
                    DeviceIo().CloseDevice(p[i]);
        }
    } closeAll{handles};
    for (int i = 0; i < nCount && i < kMaxControllers; ++i) {
        if (ZedoBadHandle(handles[i]))
            continue;
        EnumerateHostController(handles[i], i);
        if (m_ucBridgeDisks)
            break;
    }
    return m_ucBridgeDisks ? 1 : 0;
}

BYTE CUtility::OpenDevice(HANDLE* phControllers, int* pnCount, BOOL bOverlapped)
{
    // The library's requests are synchronous: the flag is accepted and not used.
    (void)bOverlapped;
    *pnCount = 0;
    const GUID guid = vCStringToGUID(kHostControllerClass);
    BYTE ucFound = 0;
    for (DWORD dwIndex = 0; dwIndex < static_cast<DWORD>(kMaxControllers); ++dwIndex) {
        char szPath[1024];
        if (!DeviceIo().InterfacePath(guid, dwIndex, szPath, sizeof(szPath)))
            break;
        ucFound = 1;
        phControllers[dwIndex] = DeviceIo().OpenDevice(szPath, kReadWrite, kShareAll);
        *pnCount = static_cast<int>(dwIndex) + 1;
    }
    return ucFound;
}

void CUtility::EnumerateHostController(HANDLE hController, int nController)
{
    m_strDriverKeyName = GetHCDDriverKeyName(hController);
    std::string rootHub = GetRootHubName(hController);
    if (rootHub.empty()) {
        ZLOG("EnumerateHostController", "IOCTL_USB_GET_ROOT_HUB_NAME fail , dwErrorCode : %lu", GetLastError());
        return;
    }
    const std::string path = DevicePathOfName(rootHub);
    CHandle hub(DeviceIo().OpenDevice(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE));
    if (!hub.Valid())
        return;
    ULONG ulPorts = 0;
    if (!GetHubPortCount(hub.Get(), &ulPorts)) {
        ZLOG("EnumerateHostController", "IOCTL_USB_GET_NODE_INFORMATION fail , dwErrorCode : %lu", GetLastError());
        return;
    }
    m_ucPortOffset = 0;
    GetPortData(hub.Get(), ulPorts, 0, nController, path.c_str());
}

bool CUtility::GetPortData(HANDLE hHub, ULONG ulPorts, int nDepth, int nController, const char* pszHubName)
{
    USBDevInfo_& record = m_pCurrentTable->Devs[0];
    for (ULONG ulPort = 1; ulPort <= ulPorts; ++ulPort) {
        UsbNodeConnectionInformation info;
        bool bOk = GetConnectionInformation(hHub, ulPort, &info);
        m_nConfigFlag1 = bOk ? info.CurrentConfigurationValue : 0;
        m_nConfigFlag2 = bOk ? static_cast<int>(info.ConnectionStatus) : 3;
        if (!bOk || info.ConnectionStatus != 1)
            continue;

        if (info.DeviceIsHub) {
            if (nDepth + 1 > kMaxHubDepth)
                continue;
            std::string name = GetExternalHubName(hHub, ulPort);
            if (name.empty())
                continue;
            const std::string path = DevicePathOfName(name);
            CHandle hub(DeviceIo().OpenDevice(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE));
            ULONG ulHubPorts = 0;
            if (!hub.Valid() || !GetHubPortCount(hub.Get(), &ulHubPorts))
                continue;
            if (!GetPortData(hub.Get(), ulHubPorts, nDepth + 1, nController, path.c_str()))
                return false;
            m_ucPortOffset = static_cast<BYTE>(m_ucPortOffset + ulHubPorts);
            continue;
        }

        m_strDriverKeyName = GetDriverKeyName(hHub, ulPort);
        m_strDeviceDesc = DriverNameToDeviceDesc(m_strDriverKeyName);
        if (!GetDeviceDescriptor(hHub, ulPort))
            continue;
        // The disk node below the USB device is not the one examined.
        if (_stricmp(m_strDriverKeyName.substr(0, 38).c_str(), kDiskDriveClass) == 0)
            continue;
        WORD wConfig = GetConfigurationDescriptor(hHub, ulPort, info.CurrentConfigurationValue);
        ZLOG("GetPortData", "port %lu: %s:%s [%s] configuration %u", ulPort, m_strVendorId.c_str(),
             m_strProductId.c_str(), m_strDeviceDesc.c_str(), wConfig);
        if (m_strVendorId == record.szVendorId && m_strProductId == record.szProductId) {
            record.nConfigFlag1 = m_nConfigFlag1;
            record.nConfigFlag2 = m_nConfigFlag2;
        }
        m_ucLocation = static_cast<BYTE>(nDepth * 10 + nController * 100 + static_cast<int>(ulPort));
        m_strHubName = pszHubName ? pszHubName : "";
        m_ulPort = ulPort;

        BYTE ucDrive = 255;
        bool bCDROM = false;
        if (m_ucConfigQuery) {
            ucDrive = ucGetPhysicalAddressFromSN(m_strSerialNumber.c_str(), 7);
            if (ucDrive == 255) {
                ucDrive = ucGetPhysicalAddressFromSN(m_strSerialNumber.c_str(), 2);
                bCDROM = ucDrive != 255;
            }
        } else {
            ucDrive = record.m_ucPhysicalAddress;
        }
        if (ucDrive != 255 && vTestHandleFromPhysicalAddress(ucDrive, bCDROM))
            return false;
    }
    return true;
}

bool CUtility::GetDeviceDescriptor(HANDLE hHub, ULONG ulPort)
{
    UsbNodeConnectionInformation info;
    if (!GetConnectionInformation(hHub, ulPort, &info))
        return false;
    const UsbDeviceDescriptor& d = info.DeviceDescriptor;
    char szDump[512];
    snprintf(szDump, sizeof(szDump),
             "Device Descriptor\r\nbLength %2.2x\r\nbDescriptorType %2.2x\r\nbcdUSB %4.4x\r\n"
             "bDeviceClass %2.2x\r\nbMaxPacketSize0 %2.2x\r\nwVendorID %4.4x\r\nwProductID %4.4x\r\n"
             "bcdDevice %4.4x\r\niManufacturer %2.2x\r\niProduct %2.2x\r\niSerialNumber %2.2x\r\n"
             "bNumConfigurations %2.2x\r\n",
             d.bLength, d.bDescriptorType, d.bcdUSB, d.bDeviceClass, d.bMaxPacketSize0, d.idVendor, d.idProduct,
             d.bcdDevice, d.iManufacturer, d.iProduct, d.iSerialNumber, d.bNumConfigurations);
    m_strDescriptorDump = szDump;
    m_strVendorId = Format("%4.4x", d.idVendor);
    m_strProductId = Format("%4.4x", d.idProduct);
    m_strDeviceRelease = Format("%4.4x", d.bcdDevice) + "\n";
    USHORT wLanguage = 0;
    m_strManufacturer = d.iManufacturer ? GetStringDescriptor(hHub, ulPort, &wLanguage, d.iManufacturer) : "";
    m_strProduct = d.iProduct ? GetStringDescriptor(hHub, ulPort, &wLanguage, d.iProduct) : "";
    m_strSerialNumber = d.iSerialNumber ? GetStringDescriptor(hHub, ulPort, &wLanguage, d.iSerialNumber) : "";
    return true;
}

std::string CUtility::GetStringDescriptor(HANDLE hHub, ULONG ulPort, USHORT* pwLanguage, BYTE ucIndex)
{
    // The language list first; its first entry is the language asked for.
    std::string bytes;
    if (!GetPortDescriptor(hHub, ulPort, 3, 0, 0, 4, &bytes) || bytes.size() < 4)
        return std::string();
    BYTE ucLength = static_cast<BYTE>(bytes[0]);
    if (ucLength < 4 || static_cast<BYTE>(bytes[1]) != 3)
        return std::string();
    *pwLanguage = static_cast<USHORT>(static_cast<BYTE>(bytes[2]) | (static_cast<BYTE>(bytes[3]) << 8));
    if (!GetPortDescriptor(hHub, ulPort, 3, ucIndex, *pwLanguage, 255, &bytes) || bytes.size() < 2)
        return std::string();
    // The device does not terminate its strings: bounded by the descriptor's length and the reply.
    size_t nLength = std::min<size_t>(static_cast<BYTE>(bytes[0]), bytes.size());
    if (nLength < 2 || static_cast<BYTE>(bytes[1]) != 3)
        return std::string();
    std::string text;
    for (size_t i = 2; i + 1 < nLength; i += 2) {
        char c = bytes[i]; // the low byte of each character
        if (c == 0)
            break;
        text += c;
    }
    return text;
}

WORD CUtility::GetConfigurationDescriptor(HANDLE hHub, ULONG ulPort, WORD wValue)
{
    std::string bytes;
    if (!GetPortDescriptor(hHub, ulPort, 2, 0, 0, 256, &bytes))
        return wValue;
    // Walked by the length bytes, within the reply; a length below 2 ends the walk.
    size_t nTotal = bytes.size();
    if (nTotal >= 4)
        nTotal = std::min<size_t>(nTotal, static_cast<BYTE>(bytes[2]) | (static_cast<BYTE>(bytes[3]) << 8));
    for (size_t off = 0; off + 2 <= nTotal;) {
        BYTE ucLength = static_cast<BYTE>(bytes[off]);
        if (ucLength < 2 || off + ucLength > nTotal)
            break;
        if (static_cast<BYTE>(bytes[off + 1]) == 4 && ucLength >= 9) {
            BYTE ucClass = static_cast<BYTE>(bytes[off + 5]);
            BYTE ucProtocol = static_cast<BYTE>(bytes[off + 7]);
            if (ucClass != 8 || ucProtocol != 0x50)
                return 255;
        }
        off += ucLength;
    }
    return wValue;
}

BYTE CUtility::ucGetPhysicalAddressFromSN(const char* pszSerial, int nMode)
{
    // An empty serial is found in every identifier: it matches no disk.
    if (!pszSerial || !*pszSerial || (nMode != 7 && nMode != 2))
        return 255;
    const bool bCDROM = nMode == 2;
    const std::string serial = Upper(pszSerial);
    for (DWORD dwIndex = 0; dwIndex < kMaxInterfaces; ++dwIndex) {
        ZedoInterfaceDevice itf;
        if (!DeviceIo().InterfaceDevice(bCDROM ? kGuidCdromInterface : kGuidDiskInterface, dwIndex, &itf))
            break;
        const std::string cls = Upper(itf.deviceClass);
        if (cls != kUsbClass && cls != (bCDROM ? kCdromClass : kDiskDriveClass))
            continue;
        DWORD dwType = 0, dwNumber = 0, dwBus = 0;
        {
            CHandle h(DeviceIo().OpenDevice(itf.path.c_str(), 0, kShareAll));
            if (!h.Valid() || !StorageDeviceNumber(h.Get(), &dwType, &dwNumber))
                continue;
            if (dwType != (bCDROM ? 2u : 7u) || !GetDisksProperty(h.Get(), &dwBus) || (dwBus != 7 && dwBus != 1))
                continue;
        }
        char szPath[64];
        snprintf(szPath, sizeof(szPath), "\\\\.\\%s%lu", bCDROM ? "CDROM" : "PHYSICALDRIVE",
                 static_cast<unsigned long>(dwNumber));
        {
            CHandle h(DeviceIo().OpenDevice(szPath, kReadWrite, kShareAll));
            BYTE inquiry[38] = {};
            if (!h.Valid() || SCSIT60X_Inquiry(h.Get(), inquiry, sizeof(inquiry)) != 0 ||
                BridgeId(inquiry) != "3E71") {
                ZLOG("ucGetPhysicalAddressFromSN", "This USB is not ZEDO Chip: \t pspdidd->DevicePath: %s ",
                     itf.path.c_str());
                continue;
            }
        }
        if (Upper(itf.instanceId).find(serial) == std::string::npos)
            continue;
        const BYTE ucNumber = static_cast<BYTE>(dwNumber);
        if (ucNumber == m_pDevList.Devs[0].m_ucPhysicalAddress || ucNumber == m_pDevList.Devs[1].m_ucPhysicalAddress)
            continue;
        return ucNumber;
    }
    return 255;
}

bool CUtility::vTestHandleFromPhysicalAddress(BYTE ucNumber, bool bCDROM)
{
    char szPath[64];
    snprintf(szPath, sizeof(szPath), "\\\\.\\%s%d", bCDROM ? "CDROM" : "physicaldrive", ucNumber);
    CHandle h(DeviceIo().OpenDevice(szPath, kReadWrite, kShareAll));
    if (!h.Valid())
        return false;
    BYTE inquiry[38] = {};
    if (SCSIT60X_Inquiry(h.Get(), inquiry, sizeof(inquiry)) != 0)
        return false;
    const std::string id = BridgeId(inquiry);
    if (id != "3E71" && id != "3412")
        return false;
    DWORD dwType = 0, dwNumber = 0;
    if (!StorageDeviceNumber(h.Get(), &dwType, &dwNumber))
        return false;
    char szExpected[64];
    snprintf(szExpected, sizeof(szExpected), "\\\\.\\%s%lu", bCDROM ? "CDROM" : "PHYSICALDRIVE",
             static_cast<unsigned long>(dwNumber));
    if (_stricmp(szExpected, szPath) != 0)
        return false;

    BYTE geometry[40] = {};
    DWORD dwReturned = 0;
    LONGLONG llCylinders = 0;
    DWORD dwMediaType = 0, dwTracks = 0, dwSectors = 0;
    LONGLONG llSize = 0;
    bool bGeometry = DeviceIo().Control(h.Get(), ZEDO_IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry,
                                        sizeof(geometry), &dwReturned) &&
                     dwReturned >= 32;
    if (bGeometry) {
        memcpy(&llCylinders, geometry, 8);
        memcpy(&dwMediaType, geometry + 8, 4);
        memcpy(&dwTracks, geometry + 12, 4);
        memcpy(&dwSectors, geometry + 16, 4);
        memcpy(&llSize, geometry + 24, 8);
        bGeometry = llCylinders != 0 && dwTracks != 0 && dwSectors != 0;
    }

    USBDevInfo_& rec = m_pCurrentTable->Devs[0];
    rec.nConfigFlag1 = m_nConfigFlag1;
    rec.nConfigFlag2 = m_nConfigFlag2;
    rec.ucIndex = 0;
    if (m_ucConfigQuery)
        rec.m_ucPhysicalAddress = ucNumber;
    rec.ucLocation = m_ucLocation;
    CopyText(rec.szProductId, m_strProductId);
    CopyText(rec.szVendorId, m_strVendorId);
    CopyText(rec.szSerialNumber, m_strSerialNumber);
    CopyText(rec.szManufacturer, m_strManufacturer);
    CopyText(rec.szProduct, m_strProduct);
    CopyText(rec.szDeviceRelease, m_strDeviceRelease);
    rec.nPortNumber = static_cast<int>(m_ulPort);
    CopyText(rec.szHubName, m_strHubName);
    rec.nCDROM = bCDROM ? 1 : 0;
    memset(rec.ucDiskArea, 0, sizeof(rec.ucDiskArea));
    if (bGeometry) {
        rec.cDriveLetter = bCDROM ? 0x7F : vGetLogicalAddressFromPhysicalAddress(ucNumber);
        const char* pszMedia = MediaTypeName(dwMediaType);
        memcpy(rec.ucDiskArea, pszMedia, std::min<size_t>(strlen(pszMedia), ZEDO_MEDIA_NAME - 1));
        // After the name: the geometry as the system gave it (cylinders to bytes per sector).
        memcpy(rec.ucDiskArea + ZEDO_MEDIA_NAME, geometry, 24);
        rec.dwDiskSize[0] = static_cast<DWORD>(llSize);
        rec.dwDiskSize[1] = static_cast<DWORD>(static_cast<unsigned long long>(llSize) >> 32);
    } else {
        rec.cDriveLetter = 0x7F;
        rec.dwDiskSize[0] = 0xFFFFFFFF;
        rec.dwDiskSize[1] = 0xFFFFFFFF;
    }

    BYTE chip[7] = {};
    memset(rec.szChipId, 0, sizeof(rec.szChipId));
    if (SCSIT60X_AccessRegister(h.Get(), 0, 0x07F0, chip, sizeof(chip)) == 0)
        snprintf(rec.szChipId, sizeof(rec.szChipId), "%02x%02x%02x%02x%02x%02x", chip[0], chip[1], chip[2],
                 chip[3], chip[4], chip[5]);
    BYTE speed = 0xFF;
    memset(rec.szSpeed, 0, sizeof(rec.szSpeed));
    if (SCSIT60X_AccessRegister(h.Get(), 0, 0x9002, &speed, 1) == 0) {
        if (speed == 0)
            CopyText(rec.szSpeed, "FULL");
        else if (speed == 1)
            CopyText(rec.szSpeed, "HIGH");
        else if (speed == 16)
            CopyText(rec.szSpeed, "SUPER");
    }

    ++m_ucBridgeDisks;
    m_pCurrentTable->dwCount = 1;
    if (m_ucConfigQuery)
        m_pCurrentTable->ucCurrent = rec.ucIndex;
    ZLOG("vTestHandleFromPhysicalAddress", "%s: bridge %s SN[%s] speed %s", szPath, rec.szChipId,
         rec.szSerialNumber, rec.szSpeed);
    return true;
}

int CUtility::GetConfig(USBDevConfig_* pConfig, int* pFlags)
{
    try {
        // Every query starts from empty records: nothing of an unplugged bridge is reported.
        vClearPrivateData();
        m_pDevList.Devs[0].nConfigFlag1 = 0;
        m_pDevList.Devs[0].nConfigFlag2 = 0;
        int nResult = Open(&m_pDevList);
        const USBDevInfo_* pRec = &m_pDevList.Devs[0];
        if (m_pDevList.Devs[0].ucSelected != 1 && m_pDevList.Devs[1].ucSelected == 1)
            pRec = &m_pDevList.Devs[1];
        pFlags[0] = pRec->nConfigFlag1 == 1 ? 1 : 0;
        pFlags[1] = pRec->nConfigFlag2 == 1 ? 1 : 0;
        if (nResult != 1)
            return 0;
        // Fields are cut to their width; a shorter text is zero-filled.
        FillField(pConfig->szSerialNumber, pRec->szSerialNumber);
        FillField(pConfig->szManufacturer, pRec->szManufacturer);
        FillField(pConfig->szProduct, pRec->szProduct);
        pConfig->idVendor = static_cast<WORD>(strtoul(pRec->szVendorId, nullptr, 16));
        pConfig->idProduct = static_cast<WORD>(strtoul(pRec->szProductId, nullptr, 16));
        pConfig->bcdDevice = static_cast<WORD>(strtoul(pRec->szDeviceRelease, nullptr, 16));
        pConfig->wReserved = 0;
        const std::string speed = Upper(std::string(pRec->szSpeed, strnlen(pRec->szSpeed, 4)));
        if (speed == "SUPE")
            pConfig->dwSpeed = 2;
        else if (speed == "HIGH")
            pConfig->dwSpeed = 1;
        else if (speed == "FULL")
            pConfig->dwSpeed = 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int Utility_GetConfig(USBDevConfig_* pConfig, int* pFlags)
{
    if (!g_pUtility || !pConfig || !pFlags)
        return 0;
    return g_pUtility->GetConfig(pConfig, pFlags);
}
