// ATA commands to the disk behind a bridge, wrapped in the SCSI ATA PASS-THROUGH commands (12-byte
// form 0xA1 for 28-bit commands, 16-byte form 0x85 for 48-bit ones): IDENTIFY DEVICE, SMART READ
// DATA, READ LOG and WRITE LOG, and the private page just past the disk's reported capacity.
#include "DiskUtility.h"
#include "Utility.h"

#include "Fat32Format.h"
#include "ZedoDeviceIo.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const DWORD kAtaRequestSize = ZEDO_DATA_OFFSET + ZEDO_DATA_AREA;   // 65,616 bytes
const DWORD kAtaTimeOut = 0xFFFF;
const DWORD kCallerPage = 512;

// One pass-through request on "\\.\PhysicalDrive%d"; 1 when the request succeeded with good status.
BYTE SendAtaRequest(BYTE ucDisk, const BYTE* pCdb, BYTE ucCdbLength, BYTE ucSenseLength, bool bDataIn,
                    BYTE* pBuffer, DWORD dwLength)
{
    const char* const kFn = "CUtility::SendAtaRequest";
    if (dwLength > ZEDO_DATA_AREA || (dwLength && !pBuffer))
        return 0;
    std::vector<BYTE> request(kAtaRequestSize, 0);
    if (bDataIn)
        memset(pBuffer, 0, dwLength < 4 ? dwLength : 4);
    else if (dwLength)
        memcpy(request.data() + ZEDO_DATA_OFFSET, pBuffer, dwLength);

    ZedoPassThroughHeader header = {};
    header.Length = sizeof(ZedoPassThroughHeader);
    header.CdbLength = ucCdbLength;
    header.SenseInfoLength = ucSenseLength;
    header.DataIn = bDataIn ? ZEDO_DATA_IN : ZEDO_DATA_OUT;
    header.DataTransferLength = dwLength;
    header.TimeOutValue = kAtaTimeOut;
    header.DataBuffer = ZEDO_DATA_OFFSET;
    header.SenseInfoOffset = ZEDO_SENSE_OFFSET;
    memcpy(header.Cdb, pCdb, ucCdbLength);
    memcpy(request.data(), &header, sizeof(header));

    char szPath[32];
    snprintf(szPath, sizeof(szPath), "\\\\.\\PhysicalDrive%d", ucDisk);
    HANDLE hDisk = DeviceIo().OpenDevice(szPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (hDisk == INVALID_HANDLE_VALUE) {
        ZLOG(kFn, "open %s failed, dwErrorCode : %lu", szPath, GetLastError());
        return 0;
    }
    DWORD dwReturned = 0;
    BOOL bOk = DeviceIo().Control(hDisk, ZEDO_IOCTL_SCSI_PASS_THROUGH, request.data(), kAtaRequestSize,
                                  request.data(), ZEDO_DATA_OFFSET + dwLength, &dwReturned);
    const BYTE ucStatus = reinterpret_cast<ZedoPassThroughHeader*>(request.data())->ScsiStatus;
    const DWORD dwMoved = reinterpret_cast<ZedoPassThroughHeader*>(request.data())->DataTransferLength;
    DeviceIo().CloseDevice(hDisk);
    if (!bOk || ucStatus != 0) {
        ZLOG(kFn, "command 0x%02X failed: bResult=%d ScsiStatus=0x%02X dwErrorCode : %lu", pCdb[0], bOk, ucStatus,
             GetLastError());
        return 0;
    }
    // A page is used whole: an answer shorter than the page is no page.
    if (bDataIn && dwMoved < dwLength) {
        ZLOG(kFn, "command 0x%02X answered %lu of %lu bytes", pCdb[0], dwMoved, dwLength);
        return 0;
    }
    if (bDataIn && dwLength)
        memcpy(pBuffer, request.data() + ZEDO_DATA_OFFSET, dwLength);
    return 1;
}

} // namespace

BYTE CUtility::bSendATAPassThroughBySCSICMD(BYTE ucDisk, BYTE ucFeatures, BYTE ucSectorCount, BYTE ucLbaLow,
                                                BYTE ucLbaMid, BYTE ucLbaHigh, BYTE ucDevice, BYTE ucCommand,
                                                BYTE* pBuffer, DWORD dwLength)
{
    bool bDataIn;
    if (ucCommand == 0xEC)
        bDataIn = true;
    else if (ucCommand == 0xB0)
        bDataIn = ucFeatures == 0xD5 || ucFeatures == 0xD0;
    else
        return 0;
    BYTE cdb[12] = {};
    cdb[0] = 0xA1;
    cdb[1] = bDataIn ? 0x08 : 0x0A;
    cdb[2] = bDataIn ? 0x0D : 0x05;
    cdb[3] = ucFeatures;
    cdb[4] = ucSectorCount;
    cdb[5] = ucLbaLow;
    cdb[6] = ucLbaMid;
    cdb[7] = ucLbaHigh;
    cdb[8] = ucDevice;
    cdb[9] = ucCommand;
    return SendAtaRequest(ucDisk, cdb, sizeof(cdb), 24, bDataIn, pBuffer, dwLength);
}

BYTE CUtility::bSendATAPassThrough16BySCSICMD(BYTE ucDisk, WORD wFeatures, WORD wSectorCount, WORD wLbaLow,
                                                  WORD wLbaMid, WORD wLbaHigh, BYTE ucDevice, BYTE ucCommand,
                                                  BYTE* pBuffer, DWORD dwSectorLength)
{
    if (ucCommand != 0x25 && ucCommand != 0x35)
        return 0;
    const bool bDataIn = ucCommand == 0x25;
    const unsigned long long ullLength = static_cast<unsigned long long>(dwSectorLength) * wSectorCount;
    if (ullLength > ZEDO_DATA_AREA)
        return 0;
    BYTE cdb[16] = {};
    cdb[0] = 0x85;
    cdb[1] = bDataIn ? 0x15 : 0x17;
    cdb[2] = bDataIn ? 0x0E : 0x06;
    cdb[3] = static_cast<BYTE>(wFeatures >> 8);
    cdb[4] = static_cast<BYTE>(wFeatures);
    cdb[5] = static_cast<BYTE>(wSectorCount >> 8);
    cdb[6] = static_cast<BYTE>(wSectorCount);
    cdb[7] = static_cast<BYTE>(wLbaLow >> 8);
    cdb[8] = static_cast<BYTE>(wLbaLow);
    cdb[9] = static_cast<BYTE>(wLbaMid >> 8);
    cdb[10] = static_cast<BYTE>(wLbaMid);
    cdb[11] = static_cast<BYTE>(wLbaHigh >> 8);
    cdb[12] = static_cast<BYTE>(wLbaHigh);
    cdb[13] = ucDevice;
    cdb[14] = ucCommand;
    return SendAtaRequest(ucDisk, cdb, sizeof(cdb), 32, bDataIn, pBuffer, static_cast<DWORD>(ullLength));
}

BYTE CUtility::bSendIdentifyATAPassThrough(BYTE ucDisk, BYTE* pBuffer, DWORD dwLength)
{
    return bSendATAPassThroughBySCSICMD(ucDisk, 1, 0, 0, 0, 0, 0x10, 0xEC, pBuffer, dwLength);
}

BYTE CUtility::bSendSMARTCTLBySCSICMD(BYTE ucDisk, BYTE* pBuffer, BYTE ucFeature, BYTE ucLogPage)
{
    return bSendATAPassThroughBySCSICMD(ucDisk, ucFeature, ucFeature == 0xD0 ? 0 : 1, ucLogPage, 0x4F, 0xC2, 0,
                                        0xB0, pBuffer, 512);
}

BYTE CUtility::bSendATAPassThrough16(BYTE ucDisk, BYTE* pBuffer, WORD wSectorCount, WORD wLbaLow, WORD wLbaMid,
                                         WORD wLbaHigh, BYTE ucWrite, DWORD dwSectorLength)
{
    return bSendATAPassThrough16BySCSICMD(ucDisk, 0, wSectorCount, wLbaLow, wLbaMid, wLbaHigh, 0x50,
                                          ucWrite ? 0x35 : 0x25, pBuffer, dwSectorLength);
}

BYTE CUtility::vReadWriteSmartLogPage_LastSector(BYTE ucDisk, BYTE ucWrite, BYTE* pBuffer)
{
    const char* const kFn = "CUtility::vReadWriteSmartLogPage_LastSector";
    if (!pBuffer)
        return 0;
    try {
        unsigned long long ullSize = 0;
        DWORD dwBytesPerSector = 0;
        if (!DiskUtil::DiskGeometry(ucDisk, &ullSize, &dwBytesPerSector) || dwBytesPerSector == 0)
            return 0;
        unsigned long long ullSectors = ullSize / dwBytesPerSector;
        WORD wSectorsPerPage = 1;
        DWORD dwPageLength = dwBytesPerSector;

        BYTE identify[512];
        const BYTE ucIdentified = bSendIdentifyATAPassThrough(ucDisk, identify, sizeof(identify));
        if (dwBytesPerSector == 4096) {
            // The page address must be in the drive's own logical sectors; without a valid word 106
            // it cannot be known, and a guess could land in user data.
            const WORD w106 = static_cast<WORD>(identify[212] | (identify[213] << 8));
            if (!ucIdentified || (w106 >> 14) != 1) {
                ZLOG(kFn, "disk %d: 4096-byte sectors with unknown logical size, page refused", ucDisk);
                return 0;
            }
            if (!(w106 & 0x1000)) {
                ullSectors *= 8;
                wSectorsPerPage = 8;
                dwPageLength = 512;
            }
        }
        if (ullSectors >> 48)
            return 0;
        const WORD wLow = static_cast<WORD>(((ullSectors >> 24) & 0xFF) << 8 | (ullSectors & 0xFF));
        const WORD wMid = static_cast<WORD>(((ullSectors >> 32) & 0xFF) << 8 | ((ullSectors >> 8) & 0xFF));
        const WORD wHigh = static_cast<WORD>(((ullSectors >> 40) & 0xFF) << 8 | ((ullSectors >> 16) & 0xFF));

        const DWORD dwTotal = dwPageLength * wSectorsPerPage;
        std::vector<BYTE> page(dwTotal, 0);
        const DWORD dwCopy = dwTotal < kCallerPage ? dwTotal : kCallerPage;
        if (ucWrite)
            memcpy(page.data(), pBuffer, dwCopy);
        if (!bSendATAPassThrough16(ucDisk, page.data(), wSectorsPerPage, wLow, wMid, wHigh, ucWrite, dwPageLength))
            return 0;
        memcpy(pBuffer, page.data(), dwCopy);
        return 1;
    } catch (...) {
        ZLOG(kFn, "exception, dwErrorCode : %lu", GetLastError());
        return 0;
    }
}
