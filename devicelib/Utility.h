#pragma once
// The utility singleton: made by the first ZedoUSBLib_Load and kept until the process ends. It
// carries the USB topology walk and the bridge identity (GetConfig), safe removal, and the disk
// utilities; its device table holds the bridge disks the last walk found.
#include <windows.h>
#include <setupapi.h>

#include <string>

#include "ZedoUSBDev.h"
#include "ZedoUSBLib.h"

// Text sizes of a device record (each zero-terminated within its size).
enum {
    ZEDO_MEDIA_AREA = 540,      // media-type name (up to 512 bytes) followed by the geometry values
    ZEDO_MEDIA_NAME = 512,
    ZEDO_ID_TEXT = 8,           // four hex digits
    ZEDO_RELEASE_TEXT = 8,      // four hex digits and a line break
    ZEDO_STRING_TEXT = 256,     // serial, manufacturer and product strings
    ZEDO_CHIP_ID_TEXT = 16,     // twelve hex digits
    ZEDO_HUB_NAME_TEXT = 512,
    ZEDO_SPEED_TEXT = 8
};

// One bridge disk found by the topology walk. The "none" values are those vClearPrivateData stores.
struct USBDevInfo_ {
    BYTE ucIndex;                                // own index in the table's Devs; 255
    BYTE ucSelected;                             // 1 marks a chosen record; the library never sets it
    char cDriveLetter;                           // first volume letter on the disk; 0x7F
    BYTE ucDiskArea[ZEDO_MEDIA_AREA];            // media-type name, then the geometry; zeros
    DWORD dwDiskSize[2];                         // size in bytes, low and high half; -1, -1
    BYTE m_ucPhysicalAddress;                    // physical drive number; 255
    char szProductId[ZEDO_ID_TEXT];              // "%4.4x" of idProduct
    char szVendorId[ZEDO_ID_TEXT];               // "%4.4x" of idVendor
    char szSerialNumber[ZEDO_STRING_TEXT];
    char szManufacturer[ZEDO_STRING_TEXT];
    char szProduct[ZEDO_STRING_TEXT];
    char szDeviceRelease[ZEDO_RELEASE_TEXT];     // "%4.4x" of bcdDevice and "\n"
    BYTE ucLocation;                             // low byte of depth*10 + controller*100 + port; 255
    char szChipId[ZEDO_CHIP_ID_TEXT];            // bytes 0-5 of register 0x07F0 as hex digits
    int nCDROM;                                  // 1 when found among the CD-ROM devices; 0
    char szHubName[ZEDO_HUB_NAME_TEXT];          // device path of the hub the device hangs on
    int nPortNumber;                             // port on that hub
    char szSpeed[ZEDO_SPEED_TEXT];               // "FULL", "HIGH", "SUPER" or empty
    BYTE ucConfigArea[128];                      // zeros
    int nConfigFlag1;                            // current configuration value (1 configured); 255
    int nConfigFlag2;                            // port connection status (1 connected); 255
    BYTE ucReserved[6];
    int nReserved1;
    int nReserved2;
};

// The utility's device table: a count, the index of the current record and two records.
struct USBDevTable_ {
    DWORD dwCount;
    BYTE ucCurrent;
    USBDevInfo_ Devs[2];
};

class CUtility {
public:
    CUtility();
    CUtility(const CUtility&) = delete;
    CUtility& operator=(const CUtility&) = delete;

    // ---- state ----
    void vInitialPrivateData();
    void vClearPrivateData();

    // ---- shared helpers ----
    // A device's registry property as text, by its registry type.
    static std::string vGetSetupDiDeviceRegistryProperty(HDEVINFO hDevInfo, SP_DEVINFO_DATA* pDevInfoData,
                                                         DWORD dwProperty);
    // The text form of a registry value of the given type (the formatting half of the above).
    static std::string FormatRegistryProperty(DWORD dwRegType, const BYTE* pData, DWORD dwSize, DWORD dwProperty);
    // "{...}" or "..." to a GUID; all zeros when the text does not parse.
    static GUID vCStringToGUID(const char* pszText);
    // First letter C to Z whose volume's first extent lies on the disk; 0x7F when none.
    static char vGetLogicalAddressFromPhysicalAddress(DWORD dwDiskNumber);
    // Name of a media-type value; empty outside the table.
    static const char* MediaTypeName(DWORD dwMediaType);

    // ---- safe removal ----
    // 1 when the system took the request with no veto, else 0.
    BYTE vForceEjectUSB(const char* pszInstanceId);
    // 1 done (or nothing matching to remove), 0 on a veto, a failed request or unusable ids.
    BYTE vSafeRemoveUSB(const char* pszVendorId, const char* pszProductId, const char* pszSerialNumber);

    // ---- USB topology and bridge identity ----
    int Open(USBDevTable_* pTable);
    int Enum();
    BYTE OpenDevice(HANDLE* phControllers, int* pnCount, BOOL bOverlapped);
    void EnumerateHostController(HANDLE hController, int nController);
    // false ends the whole walk (a bridge disk was found and its record filled).
    bool GetPortData(HANDLE hHub, ULONG ulPorts, int nDepth, int nController, const char* pszHubName);
    bool GetDeviceDescriptor(HANDLE hHub, ULONG ulPort);
    std::string GetStringDescriptor(HANDLE hHub, ULONG ulPort, USHORT* pwLanguage, BYTE ucIndex);
    WORD GetConfigurationDescriptor(HANDLE hHub, ULONG ulPort, WORD wValue);
    // Tests "\\.\physicaldriveN" (or "\\.\CDROMN") for a bridge disk and fills the current record.
    bool vTestHandleFromPhysicalAddress(BYTE ucNumber, bool bCDROM);
    // Physical drive (mode 7) or CD-ROM (mode 2) number of the bridge whose instance id holds
    // the serial; 255 when none.
    BYTE ucGetPhysicalAddressFromSN(const char* pszSerial, int nMode);
    BYTE GetDisksProperty(HANDLE hDevice, DWORD* pdwBusType);
    int SCSIT60X_Inquiry(HANDLE hDevice, BYTE* pBuffer, BYTE ucLength);
    int SCSIT60X_AccessRegister(HANDLE hDevice, BYTE ucRW, WORD wAddress, BYTE* pBuffer, DWORD dwLength);
    int SCSIT60X_AccessConfigEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength);
    BYTE ATAPassThrough_GetHDSerialNumber(HANDLE hDevice, char* pszSerial, DWORD dwChars);
    // GetConfig's work: 1 when a record was found and copied, else 0.
    int GetConfig(USBDevConfig_* pConfig, int* pFlags);

    // ---- partitioning, FAT32 formatting, SMART and disk tests ----
    // Their members and the embedded formatter object are declared here, beside the ones above,
    // by the code that builds them.

    // ---- members ----
    CZedoUSBLib m_USBLib;
    char m_szCurrentDirectory[256];
    char m_szModulePath[256];

    USBDevTable_ m_pDevList;           // the device table
    USBDevTable_* m_pCurrentTable;     // table the current enumeration fills
    BYTE m_ucConfigQuery;              // set by Open: the walk looks for the bridge disk by serial

    // Current-device texts, set for each device the walk visits.
    std::string m_strVendorId;         // "%4.4x"
    std::string m_strProductId;        // "%4.4x"
    std::string m_strDeviceRelease;    // "%4.4x\n"
    std::string m_strManufacturer;
    std::string m_strProduct;
    std::string m_strSerialNumber;
    std::string m_strHubName;
    std::string m_strDriverKeyName;
    std::string m_strDeviceDesc;
    std::string m_strDescriptorDump;   // text dump of the last device descriptor
    std::string m_strDiskSerial;       // serial read from the disk by ATA IDENTIFY

    BYTE m_ucBridgeDisks;              // bridge disks tested good in this walk
    BYTE m_ucPortOffset;
    BYTE m_ucLocation;
    ULONG m_ulPort;
    int m_nConfigFlag1;                // remembered for the device on the current port
    int m_nConfigFlag2;
    BYTE m_ucReserved[8];

    CRITICAL_SECTION m_UpdateConfigurationCriticalSection;
    CRITICAL_SECTION m_UpdateFirmwareCriticalSection;
    CRITICAL_SECTION m_FormatCriticalSection;
    CRITICAL_SECTION m_PartitionCriticalSection;
    CRITICAL_SECTION m_ReloadFWCriticalSection;
    CRITICAL_SECTION m_SpeedTestCriticalSection;

private:
    CZedoUSBDev2K m_Dev;               // commands the utility issues itself
};

extern CUtility* g_pUtility;
int CreateUtilityInstance();
int Utility_GetConfig(USBDevConfig_* pConfig, int* pFlags);
BYTE Utility_vSafeRemoveUSB(const char* pszVendorId, const char* pszProductId, const char* pszSerialNumber);
