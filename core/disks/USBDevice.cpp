#include "USBDevice.h"

#include <ntddscsi.h>
#include <dbt.h>
#include <cstddef>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <vector>

#include "DeviceIo.h"
#include "afxhandle.h"

CArray<CUSBDevice> g_arrUSBDevice;
HANDLE g_hDeviceListMutex = nullptr;
HDEVNOTIFY g_hDeviceNotify = nullptr;
LONG g_nScsiCommandCount = 0;

namespace {

// The disk interface class.
const GUID kDiskInterfaceClass = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// The bridge chip answers INQUIRY with its identifier 3E71 (little-endian) in bytes 36-37.
constexpr BYTE kBridgeIdLow = 0x71;
constexpr BYTE kBridgeIdHigh = 0x3E;
constexpr DWORD kInquiryLength = 38;

constexpr ULONG kSenseLength = 32;
constexpr ULONG kTimeoutSeconds = 30;
constexpr DWORD kBufferedDataMax = 512;
constexpr UCHAR kScsiStatusGood = 0x00;

// The direct request: the header, then room for the sense data at offset 48.
struct DirectRequest {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG nFiller;
    UCHAR sense[kSenseLength];
};
// The buffered request: the header, the sense data at offset 48 and the data at offset 80.
struct BufferedRequest {
    SCSI_PASS_THROUGH spt;
    ULONG nFiller;
    UCHAR sense[kSenseLength];
    UCHAR data[kBufferedDataMax];
};
#ifndef _WIN64
// The 32-bit layout the bridges are driven with (a 64-bit test build follows the platform's own).
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "direct pass-through header is 44 bytes");
static_assert(sizeof(SCSI_PASS_THROUGH) == 44, "buffered pass-through header is 44 bytes");
static_assert(offsetof(DirectRequest, sense) == 48 && sizeof(DirectRequest) == 80, "direct request layout");
static_assert(offsetof(BufferedRequest, sense) == 48 && offsetof(BufferedRequest, data) == 80 &&
              sizeof(BufferedRequest) == 592, "buffered request layout");
#endif

std::mutex g_sinkLock;
DebugMessageSink g_sink;

// Opens a device through the device stack; the handle is closed on scope exit.
class CDeviceHandle {
public:
    CDeviceHandle(const CString& strPath, DWORD dwAccess)
        : m_h(DeviceIo().OpenDevice(strPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0)) {}
    bool IsOpen() const { return m_h.IsValid(); }
    HANDLE Get() const { return m_h.Get(); }

private:
    CKernelHandle m_h;
};

// 8-bit text of a fixed-size field, up to its first zero byte and never past its end.
CString FieldText(const BYTE* p, size_t nSize)
{
    size_t n = 0;
    while (n < nSize && p[n] != 0)
        ++n;
    return n ? CString(reinterpret_cast<const char*>(p), static_cast<int>(n)) : CString();
}

DWORD BigEndian32(const BYTE* p)
{
    return (DWORD(p[0]) << 24) | (DWORD(p[1]) << 16) | (DWORD(p[2]) << 8) | DWORD(p[3]);
}

// The stack reports in DataTransferLength how many bytes the disk really sent: a reply shorter
// than asked leaves part of the buffer as it was cleared, and is no answer.
bool WholeAnswer(ULONG nTransferred, DWORD nAsked)
{
    return nTransferred >= nAsked;
}

// (last block + 1) x block length, or 0 when that is no size a disk can have: an address of all
// ones (no last block) or a product beyond a signed 64-bit byte offset, which would otherwise
// wrap around to a small disk.
ULONGLONG CapacityFrom(ULONGLONG nLast, DWORD nBlockLength)
{
    constexpr ULONGLONG kLargest = 0x7FFFFFFFFFFFFFFFull;
    if (nLast == ~0ull || nBlockLength == 0 || nLast + 1 > kLargest / nBlockLength)
        return 0;
    return (nLast + 1) * nBlockLength;
}

bool QueryDeviceNumber(HANDLE h, DWORD& nNumber)
{
    STORAGE_DEVICE_NUMBER sdn = {};
    DWORD nReturned = 0;
    if (!DeviceIo().IoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &sdn, sizeof(sdn), &nReturned) ||
        nReturned < sizeof(sdn))
        return false;
    nNumber = sdn.DeviceNumber;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------

void DebugMessage(int nLevel, const wchar_t* pszFormat, ...)
{
    if (nLevel < 0 || nLevel > 2 || !pszFormat)
        return;
    CString strText;
    va_list args;
    va_start(args, pszFormat);
    strText.FormatV(pszFormat, args);
    va_end(args);
    if (strText.GetLength() > 1024)
        strText = strText.Left(1024);

    DebugMessageSink sink;
    {
        std::lock_guard<std::mutex> lock(g_sinkLock);
        sink = g_sink;
    }
    if (sink)
        sink(nLevel, strText);
    else
        MessageBoxW(nullptr, strText, nullptr, MB_OK);
}

void SetDebugMessageSinkForTesting(DebugMessageSink sink)
{
    std::lock_guard<std::mutex> lock(g_sinkLock);
    g_sink = std::move(sink);
}

CString AnsiToCString(const char* pszText)
{
    return pszText ? CString(pszText) : CString();
}

ULONGLONG SwapBigEndian64(ULONGLONG nValue)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&nValue);
    ULONGLONG r = 0;
    for (int i = 0; i < 8; ++i)
        r = (r << 8) | p[i];
    return r;
}

void GetDiskVendorName(const CString& strVendor, CString& strDisplayName)
{
    static const struct { const wchar_t* pszKey; const wchar_t* pszName; } kVendors[] = {
        {L"WDC", L"Western Digital"}, {L"ST", L"Seagate"},        {L"Maxtor", L"Maxtor"},
        {L"IBM", L"IBM"},             {L"Fujitsu", L"Fujitsu"},   {L"Samsung", L"Samsung Electronics"},
        {L"HP", L"HP"},               {L"Sony", L"Sony"},         {L"Apple", L"Apple Inc"},
    };
    // Only the leading run of ASCII letters counts ("WDC     " is "WDC").
    int n = 0;
    while (n < strVendor.GetLength()) {
        wchar_t ch = strVendor[n];
        if (!((ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z')))
            break;
        ++n;
    }
    CString strCut = strVendor.Left(n);
    for (const auto& row : kVendors) {
        if (strCut.Find(row.pszKey) >= 0) {
            strDisplayName = row.pszName;
            return;
        }
    }
    strDisplayName = strCut;
}

// ---------------------------------------------------------------------------------------

CUSBDevice::CUSBDevice()
    : m_nReserved1(0), m_nReserved2(0), m_nDeviceNumber(0), m_geometry{}, m_nReserved3(0) {}

CUSBDevice::CUSBDevice(const CString& strDevicePath) : CUSBDevice()
{
    m_strDevicePath = strDevicePath;
}

BOOL CUSBDevice::RegisterUSBDeviceNotify(HWND hWnd)
{
    if (g_hDeviceNotify) {
        UnregisterDeviceNotification(g_hDeviceNotify);
        g_hDeviceNotify = nullptr;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kDiskInterfaceClass;
    g_hDeviceNotify = RegisterDeviceNotificationW(hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!g_hDeviceNotify) {
        DebugMessage(2, L"%ls=>RegisterDeviceNotification failed: %lu", L"CUSBDevice::RegisterUSBDeviceNotify",
                     GetLastError());
        return FALSE;
    }
    return TRUE;
}

void CUSBDevice::EnumUSBDevices(CArray<CUSBDevice>& arrDevices)
{
    std::vector<DiskInterfaceInfo> arrInterfaces;
    DeviceIo().EnumDiskInterfaces(arrInterfaces);
    for (const DiskInterfaceInfo& info : arrInterfaces) {
        CUSBDevice dev(info.strDevicePath);
        if (dev.m_strDevicePath.IsEmpty() || !dev.IdentifyDevice())
            continue;
        dev.m_strInstanceId = info.strInstanceId;
        DebugMessage(4, L"device(\"%ls\")\n\nDevice ID: %ls", dev.m_strDevicePath.GetString(),
                     dev.m_strInstanceId.GetString());
        dev.m_strParentInstanceId = info.strParentInstanceId;
        DebugMessage(4, L"device(\"%ls\")\n\nParent Device ID: %ls", dev.m_strDevicePath.GetString(),
                     dev.m_strParentInstanceId.GetString());

        bool bListed = false;
        INT_PTR nAt = arrDevices.GetSize();
        for (INT_PTR i = 0; i < arrDevices.GetSize(); ++i) {
            if (arrDevices[i].m_strDevicePath.CompareNoCase(dev.m_strDevicePath) == 0) {
                bListed = true;
                break;
            }
        }
        if (bListed)
            continue;
        for (INT_PTR i = 0; i < arrDevices.GetSize(); ++i) {
            if (arrDevices[i].m_nDeviceNumber > dev.m_nDeviceNumber) {
                nAt = i;
                break;
            }
        }
        arrDevices.InsertAt(nAt, dev);
    }
}

BOOL CUSBDevice::IdentifyDevice()
{
    if (m_strDevicePath.IsEmpty())
        return FALSE;
    BYTE data[kInquiryLength];
    const BYTE cdb[6] = {0x12, 0x00, 0x00, 0x00, static_cast<BYTE>(kInquiryLength), 0x00};
    if (!ExecuteSCSICommand(data, cdb, sizeof(cdb), sizeof(data)))
        return FALSE;
    if (data[36] != kBridgeIdLow || data[37] != kBridgeIdHigh)
        return FALSE;

    CString strVendor = FieldText(data + 8, 8);
    CString strProduct = FieldText(data + 16, 16);
    m_strProductName = strVendor + strProduct;
    m_strProductName.TrimRight();
    GetDiskVendorName(strVendor, m_strVendorName);
    GetDriveLetters();
    GetDiskGeometry();
    return TRUE;
}

BOOL CUSBDevice::ExecuteSCSICommand(BYTE* pData, const BYTE* pCdb, int nCdbLength, DWORD nDataLength)
{
    static const wchar_t kName[] = L"CUSBDevice::ExecuteSCSICommand";
    LONG nCount = InterlockedIncrement(&g_nScsiCommandCount);
    if (!pCdb || nCdbLength <= 0 || nCdbLength > 16 || (nDataLength && !pData))
        return FALSE;

    CDeviceHandle dev(m_strDevicePath, GENERIC_READ | GENERIC_WRITE);
    if (!dev.IsOpen()) {
        DebugMessage(2, L"time = %ld %ls=> CreateFile(\"%ls\") failed: %lu", nCount, kName,
                     m_strDevicePath.GetString(), GetLastError());
        return FALSE;
    }
    if (nDataLength)
        memset(pData, 0, nDataLength);

    DirectRequest direct = {};
    direct.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    direct.sptd.PathId = 0;
    direct.sptd.TargetId = 1;
    direct.sptd.Lun = 0;
    direct.sptd.CdbLength = static_cast<UCHAR>(nCdbLength);
    direct.sptd.SenseInfoLength = kSenseLength;
    direct.sptd.DataIn = SCSI_IOCTL_DATA_IN;
    direct.sptd.DataTransferLength = nDataLength;
    direct.sptd.TimeOutValue = kTimeoutSeconds;
    direct.sptd.DataBuffer = pData;
    direct.sptd.SenseInfoOffset = offsetof(DirectRequest, sense);
    memcpy(direct.sptd.Cdb, pCdb, nCdbLength);
    DWORD nReturned = 0;
    if (DeviceIo().IoControl(dev.Get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, &direct, sizeof(direct), &direct,
                             sizeof(direct), &nReturned))
        return direct.sptd.ScsiStatus == kScsiStatusGood && WholeAnswer(direct.sptd.DataTransferLength, nDataLength);

    DebugMessage(2, L"%ls=>IOCTL_SCSI_PASS_THROUGH_DIRECT: %ls failed: %lu", kName, m_strDevicePath.GetString(),
                 GetLastError());

    // The buffered request carries the data inside itself, so it cannot take more than its data area.
    if (nDataLength > kBufferedDataMax) {
        DebugMessage(2, L"%ls=>IOCTL_SCSI_PASS_THROUGH: %ls: data length %lu is above %lu bytes", kName,
                     m_strDevicePath.GetString(), nDataLength, kBufferedDataMax);
        return FALSE;
    }
    auto* pBuffered = new (std::nothrow) BufferedRequest();
    if (!pBuffered)
        return FALSE;
    BufferedRequest& req = *pBuffered;
    req.spt.Length = sizeof(SCSI_PASS_THROUGH);
    req.spt.PathId = 0;
    req.spt.TargetId = 1;
    req.spt.Lun = 0;
    req.spt.CdbLength = static_cast<UCHAR>(nCdbLength);
    req.spt.SenseInfoLength = kSenseLength;
    req.spt.DataIn = SCSI_IOCTL_DATA_IN;
    req.spt.DataTransferLength = nDataLength;
    req.spt.TimeOutValue = kTimeoutSeconds;
    req.spt.DataBufferOffset = offsetof(BufferedRequest, data);
    req.spt.SenseInfoOffset = offsetof(BufferedRequest, sense);
    memcpy(req.spt.Cdb, pCdb, nCdbLength);
    nReturned = 0;
    BOOL bResult = FALSE;
    if (DeviceIo().IoControl(dev.Get(), IOCTL_SCSI_PASS_THROUGH, &req, sizeof(req), &req, sizeof(req),
                             &nReturned)) {
        if (req.spt.ScsiStatus == kScsiStatusGood && WholeAnswer(req.spt.DataTransferLength, nDataLength)) {
            if (nDataLength)
                memcpy(pData, req.data, nDataLength);
            bResult = TRUE;
        }
    } else {
        DebugMessage(2, L"%ls=>IOCTL_SCSI_PASS_THROUGH: %ls failed: %lu", kName, m_strDevicePath.GetString(),
                     GetLastError());
    }
    delete pBuffered;
    return bResult;
}

ULONGLONG CUSBDevice::GetCapacity()
{
    BYTE data10[8];
    const BYTE cdb10[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (ExecuteSCSICommand(data10, cdb10, sizeof(cdb10), sizeof(data10))) {
        DWORD nLast = BigEndian32(data10);
        if (nLast != 0xFFFFFFFFu)
            return CapacityFrom(nLast, BigEndian32(data10 + 4));
    }
    // Too large for READ CAPACITY (10), or that command failed: ask with the 16-byte form.
    BYTE data16[12];
    BYTE cdb16[16] = {0x9E, 0x10};
    cdb16[13] = sizeof(data16);
    if (!ExecuteSCSICommand(data16, cdb16, sizeof(cdb16), sizeof(data16)))
        return 0;
    ULONGLONG nLast = 0;
    memcpy(&nLast, data16, 8);
    nLast = SwapBigEndian64(nLast);
    return CapacityFrom(nLast, BigEndian32(data16 + 8));
}

CString CUSBDevice::GetDriveLetters()
{
    bool bNumberKnown = false;
    {
        CDeviceHandle dev(m_strDevicePath, GENERIC_READ);
        DWORD nNumber = 0;
        if (dev.IsOpen() && QueryDeviceNumber(dev.Get(), nNumber)) {
            m_nDeviceNumber = static_cast<int>(nNumber);
            bNumberKnown = true;
        }
    }
    m_strDriveLetters.Empty();
    // Without the disk's own number every volume would be compared with a stale or default
    // number and could be taken for one of this disk's, so no letters are claimed then.
    if (!bNumberKnown)
        return m_strDriveLetters;

    DWORD nChars = GetLogicalDriveStringsW(0, nullptr);
    if (nChars == 0)
        return m_strDriveLetters;
    std::vector<wchar_t> drives(nChars + 1, L'\0');
    DWORD nGot = GetLogicalDriveStringsW(nChars, drives.data());
    if (nGot == 0 || nGot > nChars)
        return m_strDriveLetters;
    for (const wchar_t* p = drives.data(); *p; p += wcslen(p) + 1) {
        CString strVolume;
        strVolume.Format(L"\\\\.\\%lc:", p[0]);
        CDeviceHandle vol(strVolume, GENERIC_READ);
        DWORD nNumber = 0;
        if (vol.IsOpen() && QueryDeviceNumber(vol.Get(), nNumber) &&
            static_cast<int>(nNumber) == m_nDeviceNumber)
            m_strDriveLetters.AppendFormat(L"%lc: ", p[0]);
    }
    return m_strDriveLetters;
}

BOOL CUSBDevice::GetDiskGeometry()
{
    CDeviceHandle dev(m_strDevicePath, GENERIC_READ | GENERIC_WRITE);
    if (!dev.IsOpen())
        return FALSE;
    DISK_GEOMETRY geometry = {};
    DWORD nReturned = 0;
    if (!DeviceIo().IoControl(dev.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof(geometry),
                              &nReturned) ||
        nReturned < sizeof(geometry))
        return FALSE;
    m_geometry = geometry;
    return TRUE;
}
