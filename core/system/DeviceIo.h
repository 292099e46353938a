#pragma once
// The one place where the program meets the storage device stack: opening a device
// path, one I/O-control call on an open device, and the list of present disk
// interfaces. The program always goes through the real calls; tests install a double
// that stands in for disks the test machine does not have.

#include <windows.h>
#include <vector>
#include "afx.h"

// One present disk interface: its path and the instance identifiers of its device
// node and of that node's parent (empty when they cannot be read).
struct DiskInterfaceInfo {
    CString strDevicePath;
    CString strInstanceId;
    CString strParentInstanceId;
};

class IDeviceIo {
public:
    virtual ~IDeviceIo() = default;
    // Same contract as CreateFileW without security attributes or template:
    // INVALID_HANDLE_VALUE and the last error on failure. The handle is closed with CloseHandle.
    virtual HANDLE OpenDevice(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare,
                              DWORD dwDisposition, DWORD dwFlags) = 0;
    // Same contract as a synchronous DeviceIoControl.
    virtual BOOL IoControl(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD nInSize,
                           void* pOut, DWORD nOutSize, DWORD* pnReturned) = 0;
    // The present devices exposing the disk interface class, in enumeration order.
    virtual void EnumDiskInterfaces(std::vector<DiskInterfaceInfo>& arrOut) = 0;

    // Raw transfers on an open disk, with the contract of a synchronous ReadFile/WriteFile;
    // a disk takes whole sectors only, at a position of whole sectors.
    virtual BOOL ReadDevice(HANDLE hDevice, void* pBuffer, DWORD nBytes, DWORD* pnRead);
    virtual BOOL WriteDevice(HANDLE hDevice, const void* pBuffer, DWORD nBytes, DWORD* pnWritten);
    // Moves the position of an open disk to a byte offset from its start.
    virtual BOOL SeekDevice(HANDLE hDevice, ULONGLONG nOffset);
    // Paths that open the volumes of the system (OpenDevice), one per volume, mounted or not.
    virtual void EnumVolumes(std::vector<CString>& arrOut);
};

// The device stack in use: the system's own unless a test has installed another.
IDeviceIo& DeviceIo();

// Installs a replacement (nullptr restores the system's). Only tests call this.
void SetDeviceIoForTesting(IDeviceIo* pDeviceIo);
