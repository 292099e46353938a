// The exports of the disk utilities: partitioning, formatting, SMART and the tests. They act on the
// utility object and need ZedoUSBLib_Load to have run once; before that they answer 0.
#include "DiskUtility.h"
#include "Utility.h"
#include "ZedoDeviceIo.h"
#include "ZedoUSBLib.h"

namespace {

// Runs one utility so that no exception crosses the library boundary.
template <class F>
BYTE Utility(const char* pszName, F f)
{
    if (!g_pUtility)
        return 0;
    try {
        return f(*g_pUtility);
    } catch (...) {
        ZLOG(pszName, "exception caught, dwErrorCode : %lu", GetLastError());
        return 0;
    }
}

} // namespace

extern "C" {

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_CreatePartition(BYTE ucDisk, BYTE ucStyle)
{
    return Utility("ZedoUSBLib_CreatePartition",
                   [&](CUtility& u) { return u.vCreatePartition(ucDisk, ucStyle); });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_LowLevelFormatTracks(BYTE ucDisk, BYTE ucDriveLetter, BYTE ucPartInfo,
                                                             BYTE ucFileSystem)
{
    return Utility("ZedoUSBLib_LowLevelFormatTracks", [&](CUtility& u) {
        return u.vLowLevelFormatTracks(ucDisk, ucDriveLetter, ucPartInfo, ucFileSystem);
    });
}

ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_ReadWriteTest(BYTE ucDriveLetter, char* pszFileName)
{
    return Utility("ZedoUSBLib_ReadWriteTest",
                   [&](CUtility& u) { return u.vReadWriteTest(ucDriveLetter, pszFileName); });
}

ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_ReadSmartLog(BYTE ucDisk, char* pBuffer, BYTE ucLogPage)
{
    if (!pBuffer)
        return 0;
    return Utility("ZedoUSBLib_ReadSmartLog", [&](CUtility& u) {
        return u.bSendSMARTCTLBySCSICMD(ucDisk, reinterpret_cast<BYTE*>(pBuffer), 0xD5, ucLogPage);
    });
}

ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_WriteSmartLog(BYTE ucDisk, char* pBuffer, BYTE ucLogPage)
{
    if (!pBuffer)
        return 0;
    return Utility("ZedoUSBLib_WriteSmartLog", [&](CUtility& u) {
        return u.bSendSMARTCTLBySCSICMD(ucDisk, reinterpret_cast<BYTE*>(pBuffer), 0xD6, ucLogPage);
    });
}

ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_GetSmartAttribute(BYTE ucDisk, char* pBuffer)
{
    if (!pBuffer)
        return 0;
    return Utility("ZedoUSBLib_GetSmartAttribute", [&](CUtility& u) {
        return u.bSendSMARTCTLBySCSICMD(ucDisk, reinterpret_cast<BYTE*>(pBuffer), 0xD0, 0);
    });
}

ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_vReadWriteSmartLogPage_LastSector(BYTE ucDisk, BYTE ucWrite, char* pBuffer)
{
    if (!pBuffer)
        return 0;
    return Utility("ZedoUSBLib_vReadWriteSmartLogPage_LastSector", [&](CUtility& u) {
        return u.vReadWriteSmartLogPage_LastSector(ucDisk, ucWrite, reinterpret_cast<BYTE*>(pBuffer));
    });
}

ZEDOUSB_API BYTE ZEDOUSB_CALL ZedoUSBLib_ReadWritePerfomanceTest(BYTE ucDisk, int nPositionPercent, int nSizeMiB,
                                                                 float* pfReadRate, float* pfWriteRate,
                                                                 int* pnErrorCode)
{
    return Utility("ZedoUSBLib_ReadWritePerfomanceTest", [&](CUtility& u) {
        return u.ReadWritePerfomanceTest(ucDisk, nPositionPercent, nSizeMiB, pfReadRate, pfWriteRate, pnErrorCode);
    });
}

} // extern "C"
