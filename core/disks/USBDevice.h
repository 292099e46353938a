#pragma once
// The program's own view of the attached disks behind the maker's bridge chip: the disk
// record, the program-wide list of such disks, and the two SCSI commands the program
// sends itself (INQUIRY and READ CAPACITY).

#include <windows.h>
#include <winioctl.h>
#include <functional>
#include "afx.h"

class CUSBDevice {
public:
    CUSBDevice();
    explicit CUSBDevice(const CString& strDevicePath);
    CUSBDevice(const CUSBDevice& other) = default;
    CUSBDevice& operator=(const CUSBDevice& other) = default;
    ~CUSBDevice() = default;

    // Registers the window for arrival and removal notifications of disk interfaces,
    // replacing an earlier registration.
    static BOOL RegisterUSBDeviceNotify(HWND hWnd);
    // Adds every present disk behind the bridge to the array, keeping it in ascending
    // device-number order; a disk whose path is already listed is not added twice.
    static void EnumUSBDevices(CArray<CUSBDevice>& arrDevices);

    // True when the disk at m_strDevicePath sits behind the bridge; fills the names,
    // device number, drive letters and geometry.
    BOOL IdentifyDevice();
    // Sends one data-in SCSI command. True only when the command reached the disk, the disk
    // answered with GOOD status and sent all nDataLength bytes; the data buffer is cleared
    // first either way.
    BOOL ExecuteSCSICommand(BYTE* pData, const BYTE* pCdb, int nCdbLength, DWORD nDataLength);
    // The disk size in bytes; 0 when the disk answers neither capacity command, or answers a
    // size beyond a signed 64-bit byte offset.
    ULONGLONG GetCapacity();
    // Sets m_nDeviceNumber and rebuilds m_strDriveLetters ("E: G: ").
    CString GetDriveLetters();
    BOOL GetDiskGeometry();

    CString m_strReserved;
    CString m_strDevicePath;
    CString m_strProductName;
    CString m_strVendorName;
    int m_nReserved1;
    int m_nReserved2;
    int m_nDeviceNumber;
    DISK_GEOMETRY m_geometry;
    CString m_strDriveLetters;
    int m_nReserved3;
    CString m_strInstanceId;
    CString m_strParentInstanceId;
};

// The attached bridge disks in ascending device-number order.
extern CArray<CUSBDevice> g_arrUSBDevice;
// Guards g_arrUSBDevice where entries are added or removed and while a disk clone starts;
// created by the backup page.
extern HANDLE g_hDeviceListMutex;
// The one disk-interface notification registration.
extern HDEVNOTIFY g_hDeviceNotify;
// Number of SCSI commands sent since start, shown in the open-failure message.
extern LONG g_nScsiCommandCount;

// The display name of a disk maker from the INQUIRY vendor text.
void GetDiskVendorName(const CString& strVendor, CString& strDisplayName);
// UTF-16 text from 8-bit text in the system ANSI code page (empty for NULL).
CString AnsiToCString(const char* pszText);
// A big-endian 64-bit value in host order.
ULONGLONG SwapBigEndian64(ULONGLONG nValue);

// Shows a message to the user for levels 0, 1 and 2 (2: failures the user should see);
// other levels (4: traces) and a NULL format do nothing.
void DebugMessage(int nLevel, const wchar_t* pszFormat, ...);

// Where DebugMessage texts go: a message box unless a test has installed a sink.
using DebugMessageSink = std::function<void(int nLevel, const CString& strText)>;
void SetDebugMessageSinkForTesting(DebugMessageSink sink);
