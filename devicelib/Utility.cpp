// The utility singleton and the exports that act on it. The topology walk, safe removal and image
// rebuild answer their failure code until they are built; the disk utilities are in DiskExports.cpp.
#include "Utility.h"
#include "ZedoDeviceIo.h"
#include "ZedoUSBLib.h"

#include <cstring>

CUtility* g_pUtility = nullptr;

int CreateUtilityInstance()
{
    if (!g_pUtility)
        g_pUtility = new CUtility;
    return 0;
}

extern "C" {

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_GetConfig(USBDevConfig_* pConfig, int* pFlags)
{
    (void)pConfig;
    (void)pFlags;
    return 0;
}

ZEDOUSB_API int ZEDOUSB_CALL Zedo_SafeRemoveUSB(const char*, const char*, const char*)
{
    return 0;
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_REBUILD_BINFILE(const char* pszInput, const char* pszOutput, int, int)
{
    if (!pszInput || !pszOutput)
        return -3;
    return -1;
}

} // extern "C"
