// The library as a library: its application object, the two singletons, set-up and tear-down,
// the operating-system check, the library object's members and the device exports.
#include "Library.h"
#include "ZedoDeviceIo.h"
#include "FirmwareImage.h"
#include "Utility.h"
#include "ZedoUSBDev.h"

#include <cstring>

namespace {
// The library's application object; it has no start-up or exit work of its own.
class CZedousbApp {
public:
    CZedousbApp() {}
};
CZedousbApp theApp;

// Runs one operation so that no exception crosses the library boundary.
template <class F>
int Guarded(const char* pszName, int nOnException, F f)
{
    try {
        return f();
    } catch (...) {
        ZLOG(pszName, "exception caught, dwErrorCode : %lu", GetLastError());
        return nOnException;
    }
}

// Load and Unload make and delete the singleton while polling threads may be inside an export:
// the exports hold this shared, Load and Unload hold it exclusively.
SRWLOCK g_libraryLock = SRWLOCK_INIT;

class CLibraryUse {
public:
    explicit CLibraryUse(bool bExclusive) : m_bExclusive(bExclusive)
    {
        if (m_bExclusive)
            AcquireSRWLockExclusive(&g_libraryLock);
        else
            AcquireSRWLockShared(&g_libraryLock);
    }
    ~CLibraryUse()
    {
        if (m_bExclusive)
            ReleaseSRWLockExclusive(&g_libraryLock);
        else
            ReleaseSRWLockShared(&g_libraryLock);
    }
    CLibraryUse(const CLibraryUse&) = delete;
    CLibraryUse& operator=(const CLibraryUse&) = delete;

private:
    bool m_bExclusive;
};

bool ListCountBad(const USBDevList_* pList)
{
    return pList->nCount < 0 || pList->nCount > ZEDOUSB_MAX_DEVICES;
}
} // namespace

CZedoUSBLib* g_pUSBLib = nullptr;

int OSVersionTypeFrom(DWORD dwPlatformId, DWORD dwMajor, DWORD dwMinor)
{
    if (dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (dwMinor == 10)
            return 1;
        if (dwMinor == 90)
            return 2;
        return 0;
    }
    if (dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (dwMajor == 5)
            return dwMinor == 0 ? 16 : 32;
        if (dwMajor >= 6)
            return 32;
        return 0;
    }
    return 0;
}

int GetOSVersionType()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info))
        return 0;
#pragma GCC diagnostic pop
    return OSVersionTypeFrom(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

// ---- CZedoUSBLib ----

CZedoUSBLib::CZedoUSBLib() : m_pUSBDev(nullptr), m_nOSVersion(0)
{
    memset(&m_USBDevList, 0, sizeof(m_USBDevList));
}

CZedoUSBLib::~CZedoUSBLib() {}

int CZedoUSBLib::CreateDevice()
{
    if (m_pUSBDev)
        return 0;
    m_nOSVersion = GetOSVersionType();
    if (m_nOSVersion != 16 && m_nOSVersion != 32) {
        ZedoErrorBox("OS doesn't support.");
        return ZEDOUSB_ERR_OS;
    }
    m_pUSBDev = new CZedoUSBDev2K;
    return 0;
}

int CZedoUSBLib::OpenDev(USBDevList_* pList)
{
    return Guarded("CZedoUSBLib::OpenDev", ZEDOUSB_ERR_DEVICE, [&]() -> int {
        int nResult = CreateDevice();
        return nResult != 0 ? nResult : m_pUSBDev->SCSI_OpenDev(pList);
    });
}

int CZedoUSBLib::OpenVirtualCD(USBDevList_* pList)
{
    return Guarded("CZedoUSBLib::OpenVirtualCD", ZEDOUSB_ERR_DEVICE, [&]() -> int {
        int nResult = CreateDevice();
        return nResult != 0 ? nResult : m_pUSBDev->SCSI_OpenVirtualCD(pList);
    });
}

int CZedoUSBLib::CloseDev(USBDevList_* pList)
{
    return Guarded("CZedoUSBLib::CloseDev", ZEDOUSB_ERR_DEVICE, [&]() -> int {
        if (!m_pUSBDev)
            return ZEDOUSB_ERR_NOT_LOADED;
        int nResult = m_pUSBDev->SCSI_CloseDev(pList);
        delete m_pUSBDev;
        m_pUSBDev = nullptr;
        return nResult;
    });
}

BYTE CZedoUSBLib::vScanUSBPort()
{
    try {
        if (!g_pUSBLib)
            return 0;
        g_pUSBLib->OpenDev(&g_pUSBLib->m_USBDevList);
        return 1;
    } catch (...) {
        return 0;
    }
}

// Every member below reaches the device object: -2 without one.
#define ZEDO_MEMBER(name, call)                                                                                \
    return Guarded("CZedoUSBLib::" name, ZEDOUSB_ERR_DEVICE, [&]() -> int { return m_pUSBDev ? m_pUSBDev->call : ZEDOUSB_ERR_NOT_LOADED; })

int CZedoUSBLib::ReadSerEEPROM(HANDLE h, BYTE a, BYTE* p) { ZEDO_MEMBER("ReadSerEEPROM", SCSI_ReadSerEEPROM(h, a, p)); }
int CZedoUSBLib::WriteSerEEPROM(HANDLE h, BYTE a, BYTE v) { ZEDO_MEMBER("WriteSerEEPROM", SCSI_WriteSerEEPROM(h, a, v)); }
int CZedoUSBLib::WritePageRdnt(HANDLE h, BYTE b, DWORD d, BYTE* p, DWORD n)
{
    ZEDO_MEMBER("WritePageRdnt", SCSI_WritePageRdnt(h, b, d, p, n));
}
int CZedoUSBLib::VendRead(HANDLE h, BYTE b, BYTE* p, DWORD n) { ZEDO_MEMBER("VendRead", SCSI_VendRead(h, b, p, n)); }
int CZedoUSBLib::VendWrite(HANDLE h, BYTE b, BYTE* p, DWORD n) { ZEDO_MEMBER("VendWrite", SCSI_VendWrite(h, b, p, n)); }
int CZedoUSBLib::Restart(HANDLE h) { ZEDO_MEMBER("Restart", SCSI_Restart(h)); }
int CZedoUSBLib::GetNANDInfo(HANDLE h, BYTE* p, DWORD n) { ZEDO_MEMBER("GetNANDInfo", SCSI_GetNANDInfo(h, p, n)); }
int CZedoUSBLib::EraseNANDData(HANDLE h, BYTE b, DWORD d) { ZEDO_MEMBER("EraseNANDData", SCSI_EraseNANDData(h, b, d)); }
int CZedoUSBLib::WriteNANDData(HANDLE h, BYTE b, DWORD d, BYTE* p, DWORD n, int f)
{
    ZEDO_MEMBER("WriteNANDData", SCSI_WriteNANDData(h, b, d, p, n, f));
}
int CZedoUSBLib::ReadNANDData(HANDLE h, BYTE b, DWORD d, BYTE* p, DWORD n, int f)
{
    ZEDO_MEMBER("ReadNANDData", SCSI_ReadNANDData(h, b, d, p, n, f));
}
int CZedoUSBLib::ReceiveDRAMData(HANDLE h, BYTE* p, DWORD n) { ZEDO_MEMBER("ReceiveDRAMData", SCSI_ReceiveDRAMData(h, p, n)); }
int CZedoUSBLib::TransferDRAMData(HANDLE h, BYTE* p, DWORD n)
{
    ZEDO_MEMBER("TransferDRAMData", SCSI_TransferDRAMData(h, p, n));
}
int CZedoUSBLib::ReceiveData(HANDLE h, BYTE b, BYTE* p, DWORD n) { ZEDO_MEMBER("ReceiveData", SCSI_ReceiveData(h, b, p, n)); }
int CZedoUSBLib::TransferData(HANDLE h, BYTE b, BYTE* p, DWORD n) { ZEDO_MEMBER("TransferData", SCSI_TransferData(h, b, p, n)); }
int CZedoUSBLib::GetPlatformInfo(HANDLE h, BYTE b, BYTE* p, WORD n)
{
    ZEDO_MEMBER("GetPlatformInfo", SCSI_GetPlatformInfo(h, b, p, n));
}
int CZedoUSBLib::ReadLBA(HANDLE h, DWORD l, DWORD n, BYTE* p) { ZEDO_MEMBER("ReadLBA", SCSI_ReadLBA(h, l, n, p)); }
int CZedoUSBLib::WriteLBA(HANDLE h, DWORD l, DWORD n, BYTE* p) { ZEDO_MEMBER("WriteLBA", SCSI_WriteLBA(h, l, n, p)); }
int CZedoUSBLib::ReadCapacity(HANDLE h, DWORD* b, DWORD* l) { ZEDO_MEMBER("ReadCapacity", SCSI_ReadCapacity(h, b, l)); }
int CZedoUSBLib::ExecProc(HANDLE h, DWORD d, WORD n, BYTE* p) { ZEDO_MEMBER("ExecProc", SCSI_ExecProc(h, d, n, p)); }
int CZedoUSBLib::GetUSBPortNum(USBDevList_* l, BYTE i, char* s) { ZEDO_MEMBER("GetUSBPortNum", SCSI_GetUSBPortNum(l, i, s)); }
int CZedoUSBLib::SCSI3E71_AccessHardDisk(HANDLE h, BYTE rw, unsigned long long lba, BYTE* p, DWORD n)
{
    ZEDO_MEMBER("SCSI3E71_AccessHardDisk", SCSI3E71_AccessHardDisk(h, rw, lba, p, n));
}
int CZedoUSBLib::SCSI3E71_ShowDisk(HANDLE h) { ZEDO_MEMBER("SCSI3E71_ShowDisk", SCSI3E71_ShowDisk(h)); }
int CZedoUSBLib::SCSI3E71_HideDisk(HANDLE h) { ZEDO_MEMBER("SCSI3E71_HideDisk", SCSI3E71_HideDisk(h)); }
int CZedoUSBLib::SCSI3E71_GetDiskStatus(HANDLE h, BYTE* s)
{
    ZEDO_MEMBER("SCSI3E71_GetDiskStatus", SCSI3E71_GetDiskStatus(h, s));
}
int CZedoUSBLib::QT60X_AtaPassThrougth(HANDLE h, BYTE* p, DWORD n)
{
    ZEDO_MEMBER("QT60X_AtaPassThrougth", SCSI_QT60X_AtaPassThrougth(h, p, n));
}
int CZedoUSBLib::QT60X_AccessConfigEEPROM(HANDLE h, BYTE rw, BYTE* p, DWORD n)
{
    ZEDO_MEMBER("QT60X_AccessConfigEEPROM", SCSI_QT60X_AccessConfigEEPROM(h, rw, p, n));
}
int CZedoUSBLib::QT60X_AccessRegister(HANDLE h, BYTE rw, WORD a, BYTE* p, DWORD n)
{
    ZEDO_MEMBER("QT60X_AccessRegister", SCSI_QT60X_AccessRegister(h, rw, a, p, n));
}
int CZedoUSBLib::QT60X_AccessFirmwareEEPROM(HANDLE h, BYTE rw, BYTE* p, DWORD n)
{
    ZEDO_MEMBER("QT60X_AccessFirmwareEEPROM", SCSI_QT60X_AccessFirmwareEEPROM(h, rw, p, n));
}
int CZedoUSBLib::QT60X_Disconnect(HANDLE h) { ZEDO_MEMBER("QT60X_Disconnect", SCSI_QT60X_Disconnect(h)); }
int CZedoUSBLib::QT60X_CPURST(HANDLE h) { ZEDO_MEMBER("QT60X_CPURST", SCSI_QT60X_CPURST(h)); }

#undef ZEDO_MEMBER

// ---- C exports ----

extern "C" {

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_Load(void)
{
    return Guarded("ZedoUSBLib_Load", ZEDOUSB_ERR_DEVICE, []() -> int {
        CLibraryUse use(true);
        if (g_pUSBLib)
            return 0;
        int nOS = GetOSVersionType();
        if (nOS != 1 && nOS != 2 && nOS != 16 && nOS != 32) {
            ZedoErrorBox("OS doesn't support");
            return ZEDOUSB_ERR_OS;
        }
        CZedoUSBLib* pLib = new CZedoUSBLib;
        pLib->m_pUSBDev = new CZedoUSBDev2K;
        g_pUSBLib = pLib;
        CreateUtilityInstance();
        ZLOG("ZedoUSBLib_Load", "loaded, OS code %d", nOS);
        return 0;
    });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_Unload(void)
{
    return Guarded("ZedoUSBLib_Unload", ZEDOUSB_ERR_DEVICE, []() -> int {
        CLibraryUse use(true);
        if (!g_pUSBLib)
            return ZEDOUSB_ERR_NOT_LOADED;
        delete g_pUSBLib->m_pUSBDev;
        g_pUSBLib->m_pUSBDev = nullptr;
        delete g_pUSBLib;
        g_pUSBLib = nullptr;
        ZLOG("ZedoUSBLib_Unload", "unloaded");
        return 0;
    });
}

ZEDOUSB_API int ZEDOUSB_CALL KZedoUSBLib_KT60X(void)
{
    return 1;
}

// The list exports use the loaded library's device object directly: they neither make nor delete it.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_OpenDev(USBDevList_* pList)
{
    return Guarded("ZedoUSBLib_OpenDev", ZEDOUSB_ERR_DEVICE, [&]() -> int {
        CLibraryUse use(false);
        if (!g_pUSBLib || !g_pUSBLib->m_pUSBDev)
            return ZEDOUSB_ERR_NOT_LOADED;
        if (!pList)
            return ZEDOUSB_ERR_ARGUMENT;
        return g_pUSBLib->m_pUSBDev->SCSI_OpenDev(pList);
    });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_OpenVirtualCD(USBDevList_* pList)
{
    return Guarded("ZedoUSBLib_OpenVirtualCD", ZEDOUSB_ERR_DEVICE, [&]() -> int {
        CLibraryUse use(false);
        if (!g_pUSBLib || !g_pUSBLib->m_pUSBDev)
            return ZEDOUSB_ERR_NOT_LOADED;
        if (!pList)
            return ZEDOUSB_ERR_ARGUMENT;
        return g_pUSBLib->m_pUSBDev->SCSI_OpenVirtualCD(pList);
    });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_CloseDev(USBDevList_* pList)
{
    return Guarded("ZedoUSBLib_CloseDev", ZEDOUSB_ERR_DEVICE, [&]() -> int {
        CLibraryUse use(false);
        if (!g_pUSBLib || !g_pUSBLib->m_pUSBDev)
            return ZEDOUSB_ERR_NOT_LOADED;
        if (!pList || ListCountBad(pList))
            return ZEDOUSB_ERR_ARGUMENT;
        return g_pUSBLib->m_pUSBDev->SCSI_CloseDev(pList);
    });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_GetUSBPortNum(USBDevList_* pList, BYTE ucIndex, char* pszDescription)
{
    return Guarded("ZedoUSBLib_GetUSBPortNum", 0, [&]() -> int {
        CLibraryUse use(false);
        if (!g_pUSBLib)
            return ZEDOUSB_ERR_NOT_LOADED;
        if (!pList || !pszDescription || ListCountBad(pList))
            return ZEDOUSB_ERR_ARGUMENT;
        return g_pUSBLib->GetUSBPortNum(pList, ucIndex, pszDescription);
    });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_GetZULStatus(HANDLE hDevice)
{
    return Guarded("ZedoUSBLib_GetZULStatus", ZEDOUSB_ERR_DEVICE, [&]() -> int {
        CLibraryUse use(false);
        if (!g_pUSBLib)
            return ZEDOUSB_ERR_NOT_LOADED;
        return g_pUSBLib->QT60X_GetZULStatus(hDevice);
    });
}

#define ZEDO_EXPORT(name, call)                                                                                \
    return Guarded(name, ZEDOUSB_ERR_DEVICE, [&]() -> int {                                                                             \
        CLibraryUse use(false);                                                                                \
        return g_pUSBLib ? g_pUSBLib->call : ZEDOUSB_ERR_NOT_LOADED;                                                             \
    })

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_AccessRegister(HANDLE h, BYTE rw, WORD a, BYTE* p, DWORD n)
{
    ZEDO_EXPORT("ZedoUSBLib_QT60X_AccessRegister", QT60X_AccessRegister(h, rw, a, p, n));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_AccessConfigEEPROM(HANDLE h, BYTE rw, BYTE* p, DWORD n)
{
    ZEDO_EXPORT("ZedoUSBLib_QT60X_AccessConfigEEPROM", QT60X_AccessConfigEEPROM(h, rw, p, n));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_AccessFirmwareEEPROM(HANDLE h, BYTE rw, BYTE* p, DWORD n)
{
    ZEDO_EXPORT("ZedoUSBLib_QT60X_AccessFirmwareEEPROM", QT60X_AccessFirmwareEEPROM(h, rw, p, n));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_ATAPASSTHROUGH(HANDLE h, BYTE* p, DWORD n)
{
    ZEDO_EXPORT("ZedoUSBLib_QT60X_ATAPASSTHROUGH", QT60X_AtaPassThrougth(h, p, n));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_Disconnect(HANDLE h)
{
    ZEDO_EXPORT("ZedoUSBLib_QT60X_Disconnect", QT60X_Disconnect(h));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_QT60X_CPURST(HANDLE h)
{
    ZEDO_EXPORT("ZedoUSBLib_QT60X_CPURST", QT60X_CPURST(h));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_AccessHardDisk(HANDLE h, BYTE rw, unsigned long long lba, BYTE* p,
                                                                DWORD n)
{
    ZEDO_EXPORT("ZedoUSBLib_SCSI3E71_AccessHardDisk", SCSI3E71_AccessHardDisk(h, rw, lba, p, n));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_ShowDisk(HANDLE h)
{
    ZEDO_EXPORT("ZedoUSBLib_SCSI3E71_ShowDisk", SCSI3E71_ShowDisk(h));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_HideDisk(HANDLE h)
{
    ZEDO_EXPORT("ZedoUSBLib_SCSI3E71_HideDisk", SCSI3E71_HideDisk(h));
}
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_SCSI3E71_GetDiskStatus(HANDLE h, BYTE* s)
{
    ZEDO_EXPORT("ZedoUSBLib_SCSI3E71_GetDiskStatus", SCSI3E71_GetDiskStatus(h, s));
}

#undef ZEDO_EXPORT

// ---- utility exports ----

// The bridge's USB identity and speed. The utility object outlives Unload, so only a call before
// the first Load, or a null record or flag array, fails.
ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_GetConfig(USBDevConfig_* pConfig, int* pFlags)
{
    return Guarded("ZedoUSBLib_GetConfig", 0, [&]() -> int {
        if (!g_pUtility || !pConfig || !pFlags)
            return 0;
        return Utility_GetConfig(pConfig, pFlags);
    });
}

ZEDOUSB_API int ZEDOUSB_CALL Zedo_SafeRemoveUSB(const char* pszVendorId, const char* pszProductId,
                                                const char* pszSerialNumber)
{
    return Guarded("Zedo_SafeRemoveUSB", 0, [&]() -> int {
        if (!g_pUtility || !pszVendorId || !pszProductId)
            return 0;
        int nResult = Utility_vSafeRemoveUSB(pszVendorId, pszProductId, pszSerialNumber);
        ZLOG("ZedoUSBLib::SafeRemoveUSB", "Checking, bResult=%x ,  VID[%s] PID[%s] SN[%s]", nResult, pszVendorId,
             pszProductId, pszSerialNumber ? pszSerialNumber : "");
        return nResult;
    });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_REBUILD_BINFILE(const char* pszInput, const char* pszOutput, int nAddCrc,
                                                        int nChipType)
{
    return Guarded("ZedoUSBLib_REBUILD_BINFILE", ZEDOUSB_ERR_DEVICE,
                   [&] { return RebuildFirmwareImage(pszInput, pszOutput, nAddCrc, nChipType); });
}

} // extern "C"

#if defined(ZEDOUSB_BUILD)
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
#endif
