// Chip class, backup-button status and chip type, all read from bridge registers.
#include "ChipStatus.h"
#include "ZedoDeviceIo.h"
#include "Library.h"
#include "ZedoUSBDev.h"

namespace {
const WORD kChipIdRegister = 0xC8FF;

int ReadRegisterByte(CZedoUSBDev* pDev, HANDLE hDevice, WORD wAddress, BYTE* pValue)
{
    *pValue = 0;
    return pDev->SCSI_QT60X_AccessRegister(hDevice, 0, wAddress, pValue, 1);
}
} // namespace

int ChipClassFromId(BYTE ucId)
{
    switch (ucId) {
    case 2:
        return 0;
    case 3:
        return 1;
    case 16:
    case 17:
    case 18:
        return 2;
    default:
        return 255;
    }
}

int ChipTypeFromId(BYTE ucId)
{
    switch (ucId & 0xF0) {
    case 0x00:
        return 0;
    case 0x10:
        return 2;
    case 0x20:
        return 3;
    case 0x30:
        return 4;
    default:
        return 255;
    }
}

int GetChipClass(CZedoUSBDev* pDev, HANDLE hDevice, bool bReport)
{
    BYTE ucId = 0;
    int nCode = ReadRegisterByte(pDev, hDevice, kChipIdRegister, &ucId);
    if (nCode != 0) {
        ZLOG("GetChipClass", "Read Chip Type Failed ! (%d)", nCode);
        if (bReport)
            ZedoErrorBox("Read Chip Type Failed ! (%d)", nCode);
        return ZEDOUSB_ERR_DEVICE;
    }
    return ChipClassFromId(ucId);
}

int CZedoUSBLib::QT60X_GetZULStatus(HANDLE hDevice)
{
    if (!m_pUSBDev)
        return ZEDOUSB_ERR_NOT_LOADED;
    // The status is polled by a watcher thread: a failed read is answered by its code alone, so a
    // removed enclosure never leaves a modal box on that thread.
    int nClass = GetChipClass(m_pUSBDev, hDevice, false);
    WORD wFirst = 0xCA30, wSecond = 0xCA34;
    if (nClass == 1 || nClass == 2) {
        wFirst = 0xC880;
        wSecond = 0xC884;
    }
    BYTE ucValue = 0;
    if (ReadRegisterByte(m_pUSBDev, hDevice, wFirst, &ucValue) != 0 || (ucValue & 1))
        return ZEDOUSB_ERR_DEVICE;
    if (ReadRegisterByte(m_pUSBDev, hDevice, wSecond, &ucValue) != 0)
        return ZEDOUSB_ERR_DEVICE;
    return ucValue & 1;
}

extern "C" ZEDOUSB_API int ZEDOUSB_CALL ZedoUSBLib_bGetChipType(BYTE ucIndex)
{
    try {
        if (!g_pUSBLib)
            return ZEDOUSB_ERR_NOT_LOADED;
        USBDevList_ list = {};
        int nResult = ZedoUSBLib_OpenDev(&list);
        if (nResult != 0 || list.nCount <= 0) {
            ZedoErrorBox("Open Device Failed ! (Device Num = %d)", list.nCount);
            ZedoUSBLib_CloseDev(&list);
            return ZEDOUSB_ERR_DEVICE;
        }
        if (ucIndex >= list.nCount) {
            ZedoUSBLib_CloseDev(&list);
            return ZEDOUSB_ERR_ARGUMENT;
        }
        BYTE ucId = 0;
        int nCode = ZedoUSBLib_QT60X_AccessRegister(list.Entry[ucIndex].hDevice, 0, kChipIdRegister, &ucId, 1);
        if (nCode != 0) {
            ZedoErrorBox("Read Chip Type Failed ! (%d)", nCode);
            ZedoUSBLib_CloseDev(&list);
            return ZEDOUSB_ERR_DEVICE;
        }
        ZedoUSBLib_CloseDev(&list);
        return ChipTypeFromId(ucId);
    } catch (...) {
        return ZEDOUSB_ERR_DEVICE;
    }
}
