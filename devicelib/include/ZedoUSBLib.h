#pragma once
// zedousb: the bridge device library's exported interface.
//
// Every C function uses the C calling convention and 8-bit strings in the system code page.
// Device functions return one of the status codes below; a handle is the hDevice of an entry
// that ZedoUSBLib_OpenDev put into a caller-owned USBDevList_.
#include <windows.h>

#if defined(ZEDOUSB_BUILD)
#define ZEDOUSB_API __declspec(dllexport)
#else
// Importers bind through the import library's call stubs; the same declarations also serve a
// program that links the library's sources statically.
#define ZEDOUSB_API
#endif
#define ZEDOUSB_CALL __cdecl

// Status codes of the device functions.
enum {
    ZEDOUSB_OK = 0,             // success
    ZEDOUSB_ERR_DEVICE = -1,    // the device request failed or the SCSI status was not good
    ZEDOUSB_ERR_NOT_LOADED = -2, // library not loaded / no device object / the scan found no bridge
    ZEDOUSB_ERR_ARGUMENT = -3,  // bad argument: missing handle, null buffer, length over the limit
    ZEDOUSB_ERR_FILE = -4,      // an input file cannot be opened
    ZEDOUSB_ERR_CHIP_TYPE = -5, // the firmware file is meant for another chip type
    ZEDOUSB_ERR_OS = -6,        // operating system not supported
    ZEDOUSB_ERR_TOO_LARGE = -7  // a firmware file of 65,536 bytes or more: its length does not fit the image
};

#define ZEDOUSB_MAX_DEVICES 16

#pragma pack(push, 1)
// One opened bridge device (39 bytes).
struct USBDevEntry_ {
    HANDLE hDevice;            // open device handle; null once closed
    char szDriveLetters[16];   // letters of the volumes on the disk, e.g. "EF", zero-terminated
    DWORD dwDeviceNumber;      // storage device number (N of \\.\PhysicalDriveN or \\.\CDROMN)
    BYTE ucRevision[4];        // INQUIRY product revision (bridge firmware revision), not terminated
    BYTE ucPhysicalAddress;    // low byte of dwDeviceNumber
    BYTE ucReserved[10];       // never touched by the library
};

// The device list a caller owns and the library fills and empties (628 bytes).
struct USBDevList_ {
    int nCount;                               // valid entries, 0 to 16
    USBDevEntry_ Entry[ZEDOUSB_MAX_DEVICES];  // entries from nCount on keep what they held
};

// USB identity of the attached bridge (128 bytes). Texts fill their fields and are zero-terminated
// only when shorter than the field.
struct USBDevConfig_ {
    DWORD dwReserved;
    char szSerialNumber[20];
    char szManufacturer[44];
    char szProduct[48];
    WORD idVendor;
    WORD idProduct;
    WORD bcdDevice;
    WORD wReserved;
    DWORD dwSpeed;   // 0 full, 1 high, 2 super speed
};
#pragma pack(pop)

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(USBDevEntry_) == 39, "USBDevEntry_ is 39 bytes");
static_assert(sizeof(USBDevList_) == 628, "USBDevList_ is 628 bytes");
static_assert(sizeof(USBDevConfig_) == 128, "USBDevConfig_ is 128 bytes");
#endif

class CZedoUSBDev;

// The library object: one device object, the operating-system code and a list of its own.
class ZEDOUSB_API CZedoUSBLib {
public:
    CZedoUSBLib();
    // The object owns its device object: a copy would delete it a second time.
    CZedoUSBLib(const CZedoUSBLib& other) = delete;
    CZedoUSBLib& operator=(const CZedoUSBLib& other) = delete;
    virtual ~CZedoUSBLib();

    int OpenDev(USBDevList_* pList);
    int OpenVirtualCD(USBDevList_* pList);
    int CloseDev(USBDevList_* pList);
    BYTE vScanUSBPort();

    int ReadSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE* pValue);
    int WriteSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE ucValue);
    int WritePageRdnt(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength);
    int VendRead(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength);
    int VendWrite(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength);
    int Restart(HANDLE hDevice);
    int GetNANDInfo(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength);
    int EraseNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg);
    int WriteNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength, int nFlag);
    int ReadNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength, int nFlag);
    int ReceiveDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength);
    int TransferDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength);
    int ReceiveData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength);
    int TransferData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength);
    int GetPlatformInfo(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, WORD wLength);
    int ReadLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer);
    int WriteLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer);
    int ReadCapacity(HANDLE hDevice, DWORD* pdwBlocks, DWORD* pdwBlockLength);
    int ExecProc(HANDLE hDevice, DWORD dwArg, WORD wLength, BYTE* pBuffer);
    int GetUSBPortNum(USBDevList_* pList, BYTE ucIndex, char* pszDescription);
    int SCSI3E71_AccessHardDisk(HANDLE hDevice, BYTE ucRW, unsigned long long ullLBA, BYTE* pBuffer,
                                DWORD dwSectors);
    int SCSI3E71_ShowDisk(HANDLE hDevice);
    int SCSI3E71_HideDisk(HANDLE hDevice);
    int SCSI3E71_GetDiskStatus(HANDLE hDevice, BYTE* pStatus);
    int QT60X_AtaPassThrougth(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength);
    int QT60X_AccessConfigEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength);
    int QT60X_AccessRegister(HANDLE hDevice, BYTE ucRW, WORD wAddress, BYTE* pBuffer, DWORD dwLength);
    int QT60X_AccessFirmwareEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength);
    int QT60X_Disconnect(HANDLE hDevice);
    int QT60X_CPURST(HANDLE hDevice);
    int QT60X_GetZULStatus(HANDLE hDevice);

    CZedoUSBDev* m_pUSBDev;   // null until created; owned
    int m_nOSVersion;         // operating-system code stored when the device object is made
    USBDevList_ m_USBDevList; // filled by vScanUSBPort

private:
    int CreateDevice();
};

extern "C" {

// Set-up.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_Load(void);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_Unload(void);
ZEDOUSB_API int ZEDOUSB_CALL KZedoUSBLib_KT60X(void);

// Devices.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_OpenDev(USBDevList_* pList);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_OpenVirtualCD(USBDevList_* pList);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_CloseDev(USBDevList_* pList);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_GetUSBPortNum(USBDevList_* pList, BYTE ucIndex, char* pszDescription);

// Button status and chip type.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_GetZULStatus(HANDLE hDevice);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_bGetChipType(BYTE ucIndex);

// Chip register, EEPROM and firmware access.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_AccessRegister(HANDLE hDevice, BYTE ucRW, WORD wAddress,
                                                             BYTE* pBuffer, DWORD dwLength);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_AccessConfigEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer,
                                                                 DWORD dwLength);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_AccessFirmwareEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer,
                                                                   DWORD dwLength);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_ATAPASSTHROUGH(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_Disconnect(HANDLE hDevice);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_CPURST(HANDLE hDevice);

// Second bridge model.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_AccessHardDisk(HANDLE hDevice, BYTE ucRW,
                                                                unsigned long long ullLBA, BYTE* pBuffer,
                                                                DWORD dwSectors);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_ShowDisk(HANDLE hDevice);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_HideDisk(HANDLE hDevice);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_GetDiskStatus(HANDLE hDevice, BYTE* pStatus);

// Configuration, safe removal, firmware image rebuild.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_GetConfig(USBDevConfig_* pConfig, int* pFlags);
ZEDOUSB_API int ZEDOUSB_CALL Zedo_SafeRemoveUSB(const char* pszVendorId, const char* pszProductId,
                                                const char* pszSerialNumber);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_REBUILD_BINFILE(const char* pszInput, const char* pszOutput, int nAddCrc,
                                                        int nChipType);

// Disk utilities: 1 success, 0 failure.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_CreatePartition(BYTE ucDisk, BYTE ucStyle);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_LowLevelFormatTracks(BYTE ucDisk, BYTE ucDriveLetter, BYTE ucPartInfo,
                                                             BYTE ucFileSystem);
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_ReadWriteTest(BYTE ucDriveLetter, char* pszFileName);
ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_ReadSmartLog(BYTE ucDisk, char* pBuffer, BYTE ucLogPage);
ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_WriteSmartLog(BYTE ucDisk, char* pBuffer, BYTE ucLogPage);
ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_GetSmartAttribute(BYTE ucDisk, char* pBuffer);
ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_vReadWriteSmartLogPage_LastSector(BYTE ucDisk, BYTE ucWrite, char* pBuffer);
ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_ReadWritePerfomanceTest(BYTE ucDisk, int nPositionPercent, int nSizeMiB,
                                                                 float* pfReadRate, float* pfWriteRate,
                                                                 int* pnErrorCode);

} // extern "C"
