// Finding the bridges: the physical drives, the CD-ROM devices and two device-interface classes are
// opened, asked for INQUIRY data and, when they answer as the bridge, kept open in the caller's list.
#include "ZedoDeviceIo.h"
#include "DeviceScan.h"
#include "ZedoUSBDev.h"

#include <cstdio>
#include <cstring>

namespace {

const GUID kInterfaceClasses[2] = {
    {0xC058131F, 0x85F4, 0x4E6A, {0x9E, 0x9E, 0xE2, 0xCD, 0x5C, 0xBA, 0xB4, 0x9F}},
    {0xA2FF3E57, 0xFC43, 0x4A6D, {0xAC, 0xCF, 0xE6, 0xC0, 0xE6, 0x56, 0xDC, 0xCF}},
};

const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The bridge answers INQUIRY with the word 0x3E71 (little-endian) at bytes 36 and 37.
bool IsBridge(const BYTE* inquiry)
{
    char szId[8];
    snprintf(szId, sizeof(szId), "%02X%02X", inquiry[37], inquiry[36]);
    return _stricmp(szId, "3E71") == 0;
}

bool DeviceNumber(HANDLE hDevice, DWORD* pdwNumber)
{
    struct {
        DWORD DeviceType;
        DWORD DeviceNumber;
        DWORD PartitionNumber;
    } number = {};
    DWORD dwReturned = 0;
    if (!DeviceIo().Control(hDevice, ZEDO_IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                            &dwReturned))
        return false;
    *pdwNumber = number.DeviceNumber;
    return true;
}

bool Listed(const USBDevList_* pList, int nEntries, DWORD dwNumber)
{
    for (int k = nEntries - 1; k >= 0; --k)
        if (pList->Entry[k].dwDeviceNumber == dwNumber)
            return true;
    return false;
}

} // namespace

void vGetDriveLetters(DWORD dwDeviceNumber, char szLetters[16])
{
    char szResult[16] = {};
    int nLetters = 0;
    for (char c = 'D'; c <= 'Z'; ++c) {
        char szMountPoint[4] = {c, ':', '\\', 0};
        char szVolume[512] = {};
        if (!DeviceIo().VolumeNameForMountPoint(szMountPoint, szVolume, sizeof(szVolume)) || !szVolume[0])
            continue;
        szVolume[strlen(szVolume) - 1] = 0; // the volume is opened without its trailing backslash
        HANDLE hVolume = DeviceIo().OpenDevice(szVolume, GENERIC_READ, kShareAll);
        if (hVolume == INVALID_HANDLE_VALUE)
            continue;
        // A volume that spans several disks, or lies on none, is skipped.
        ZedoVolumeExtent extent;
        if (ZedoQueryVolumeExtent(hVolume, &extent) && extent.DiskNumber == dwDeviceNumber && nLetters < 15)
            szResult[nLetters++] = c;
        DeviceIo().CloseDevice(hVolume);
    }
    memcpy(szLetters, szResult, sizeof(szResult));
}

bool GetDevicePathByGUID(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars)
{
    if (!pszPath || dwChars == 0)
        return false;
    pszPath[0] = 0;
    if (!DeviceIo().InterfacePath(guidClass, dwIndex, pszPath, dwChars)) {
        pszPath[0] = 0;
        return false;
    }
    return pszPath[0] != 0;
}

// One pass over "<format>0" to "<format>19". The full scan reads the chip identification register
// and fills the whole entry; the short scan fills only the handle and the device number.
int CZedoUSBDev2K::ScanPass(USBDevList_* pList, const char* pszFormat, bool bReadChipId, bool bFullEntry, int& nNext)
{
    int nResult = ZEDOUSB_ERR_NOT_LOADED;
    for (int n = 0; n < 20; ++n) {
        char szPath[64];
        snprintf(szPath, sizeof(szPath), pszFormat, n);
        HANDLE hDevice = DeviceIo().OpenDevice(szPath, kReadWrite, kShareAll);
        if (hDevice == INVALID_HANDLE_VALUE || hDevice == nullptr)
            continue;
        BYTE inquiry[38];
        DWORD dwNumber = 0;
        BYTE ucChipId = 0;
        bool bKeep = SCSI_Inquiry(hDevice, inquiry, sizeof(inquiry)) == 0 && IsBridge(inquiry) &&
                     (!bReadChipId || SCSI_QT60X_AccessRegister(hDevice, 0, 0xC8FF, &ucChipId, 1) == 0) &&
                     DeviceNumber(hDevice, &dwNumber);
        if (!bKeep || Listed(pList, nNext, dwNumber) || nNext >= ZEDOUSB_MAX_DEVICES) {
            DeviceIo().CloseDevice(hDevice);
            continue;
        }
        USBDevEntry_& entry = pList->Entry[nNext++];
        entry.hDevice = hDevice;
        entry.dwDeviceNumber = dwNumber;
        entry.ucPhysicalAddress = static_cast<BYTE>(dwNumber);
        if (bFullEntry) {
            vGetDriveLetters(dwNumber, entry.szDriveLetters);
            memcpy(entry.ucRevision, inquiry + 32, 4);
        }
        ZLOG("CZedoUSBDev2K::ScanPass", "%s: device number %lu, entry %d", szPath, dwNumber, nNext - 1);
        nResult = 0;
    }
    return nResult;
}

int CZedoUSBDev2K::SCSI_OpenDev(USBDevList_* pList)
{
    if (!pList)
        return ZEDOUSB_ERR_ARGUMENT;
    int nNext = 0;
    int nResult = ZEDOUSB_ERR_NOT_LOADED;
    if (ScanPass(pList, "\\\\.\\physicaldrive%d", true, true, nNext) == 0)
        nResult = 0;
    if (ScanPass(pList, "\\\\.\\CDROM%d", true, true, nNext) == 0)
        nResult = 0;
    // Interface paths: no chip register, no device number, and they do not make the scan a success.
    for (const GUID& guid : kInterfaceClasses) {
        for (DWORD dwIndex = 0; dwIndex < 10; ++dwIndex) {
            char szPath[512];
            if (!GetDevicePathByGUID(guid, dwIndex, szPath, sizeof(szPath)))
                continue;
            HANDLE hDevice = DeviceIo().OpenDevice(szPath, kReadWrite, kShareAll);
            if (hDevice == INVALID_HANDLE_VALUE || hDevice == nullptr)
                continue;
            BYTE inquiry[38];
            if (SCSI_Inquiry(hDevice, inquiry, sizeof(inquiry)) != 0 || !IsBridge(inquiry) ||
                nNext >= ZEDOUSB_MAX_DEVICES) {
                DeviceIo().CloseDevice(hDevice);
                continue;
            }
            USBDevEntry_& entry = pList->Entry[nNext++];
            entry.hDevice = hDevice;
            entry.szDriveLetters[0] = 0;
            entry.dwDeviceNumber = 0;
            memcpy(entry.ucRevision, inquiry + 32, 4);
        }
    }
    pList->nCount = nNext;
    ZLOG("CZedoUSBDev2K::SCSI_OpenDev", "nResult : %d, count : %d", nResult, nNext);
    return nResult;
}

int CZedoUSBDev2K::SCSI_OpenVirtualCD(USBDevList_* pList)
{
    if (!pList)
        return ZEDOUSB_ERR_ARGUMENT;
    int nNext = 0;
    int nResult = ScanPass(pList, "\\\\.\\PhysicalDrive%d", false, false, nNext);
    pList->nCount = nNext;
    return nResult;
}

int CZedoUSBDev2K::SCSI_CloseDev(USBDevList_* pList)
{
    if (!pList || pList->nCount < 0 || pList->nCount > ZEDOUSB_MAX_DEVICES)
        return ZEDOUSB_ERR_ARGUMENT;
    for (int k = 0; k < pList->nCount; ++k) {
        if (pList->Entry[k].hDevice) {
            DeviceIo().CloseDevice(pList->Entry[k].hDevice);
            pList->Entry[k].hDevice = nullptr;
        }
    }
    return 0;
}
