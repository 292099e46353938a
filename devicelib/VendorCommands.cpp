// The bridge's vendor commands and the few standard ones, each one pass-through command
// (or a run of pieces of at most 0x10000 bytes).
#include "ZedoDeviceIo.h"
#include "ZedoUSBDev.h"

#include <algorithm>
#include <cstring>

namespace {

const DWORD kPiece = ZEDO_DATA_AREA;
// A piece index travels in one byte of the command block.
const unsigned long long kMaxIndexedTransfer = 256ULL * kPiece;

void PutBE16(BYTE* p, DWORD v)
{
    p[0] = static_cast<BYTE>(v >> 8);
    p[1] = static_cast<BYTE>(v);
}

void PutBE32(BYTE* p, DWORD v)
{
    p[0] = static_cast<BYTE>(v >> 24);
    p[1] = static_cast<BYTE>(v >> 16);
    p[2] = static_cast<BYTE>(v >> 8);
    p[3] = static_cast<BYTE>(v);
}

// The handle test of every command. With a name the box reads "<name>: hDevice is NULL"; with an
// empty name just "hDevice is NULL"; without one (nullptr) no box is shown.
bool HandleMissing(HANDLE hDevice, const char* pszBoxName)
{
    if (!ZedoBadHandle(hDevice))
        return false;
    if (pszBoxName) {
        if (*pszBoxName)
            ZedoErrorBox("%s: hDevice is NULL", pszBoxName);
        else
            ZedoErrorBox("hDevice is NULL");
    }
    return true;
}

const char* const kBox = "";      // box without a name
const char* const kNoBox = nullptr;

// A buffer is needed whenever there are bytes to move.
bool BufferMissing(const void* p, unsigned long long length)
{
    return length != 0 && p == nullptr;
}

ZedoScsiCommand Command(BYTE op, BYTE cdbLength = 12)
{
    ZedoScsiCommand cmd;
    cmd.Cdb[0] = op;
    cmd.CdbLength = cdbLength;
    return cmd;
}

// A command that reads into the buffered request: header in, header plus data out.
void BufferedIn(ZedoScsiCommand& cmd, BYTE* p, DWORD length)
{
    cmd.DataIn = ZEDO_DATA_IN;
    cmd.Data = p;
    cmd.DataLength = length;
    cmd.InLength = sizeof(ZedoPassThroughHeader);
    cmd.OutLength = ZEDO_DATA_OFFSET + length;
}

// A command that carries data (or a value) to the device: the whole block in.
void BufferedOut(ZedoScsiCommand& cmd, BYTE* p, DWORD length)
{
    cmd.DataIn = ZEDO_DATA_OUT;
    cmd.Data = p;
    cmd.DataLength = length;
    cmd.InLength = ZEDO_REQUEST_SIZE;
    cmd.OutLength = ZEDO_DATA_OFFSET + length;
}

void Direct(ZedoScsiCommand& cmd, BYTE dataIn, BYTE* p, DWORD length)
{
    cmd.Direct = true;
    cmd.DataIn = dataIn;
    cmd.Data = p;
    cmd.DataLength = length;
    cmd.InLength = ZEDO_DIRECT_REQUEST_SIZE;
    cmd.OutLength = ZEDO_DIRECT_REQUEST_SIZE;
}

// Runs a transfer in pieces of at most 0x10000 bytes: send(offset, piece, index).
template <class Send>
int InPieces(unsigned long long total, Send send)
{
    unsigned long long done = 0;
    DWORD index = 0;
    while (done < total) {
        DWORD piece = static_cast<DWORD>(std::min<unsigned long long>(total - done, kPiece));
        if (send(static_cast<DWORD>(done), piece, index) != 0)
            return ZEDOUSB_ERR_DEVICE;
        done += piece;
        ++index;
    }
    return 0;
}

} // namespace

int CZedoUSBDev2K::SCSI_ReadSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE* pValue)
{
    if (HandleMissing(hDevice, kBox) || !pValue)
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(0xE3);
    cmd.Cdb[5] = ucAddress;
    BufferedIn(cmd, pValue, 1);
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI_WriteSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE ucValue)
{
    // No handle test here: a missing handle lets the request fail.
    ZedoScsiCommand cmd = Command(0xE4);
    cmd.Cdb[5] = ucAddress;
    BufferedOut(cmd, &ucValue, 1);
    cmd.OutLength = ZEDO_DATA_OFFSET + 1;
    int nResult = ZedoBadHandle(hDevice) ? ZEDOUSB_ERR_DEVICE : ZedoSendCommand(hDevice, cmd);
    // The EEPROM needs its write cycle before the next command.
    Sleep(10);
    return nResult;
}

int CZedoUSBDev2K::SCSI_WritePageRdnt(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, "SCSI_WritePageRdnt") || BufferMissing(pBuffer, dwLength))
        return ZEDOUSB_ERR_ARGUMENT;
    return InPieces(dwLength, [&](DWORD offset, DWORD piece, DWORD) {
        ZedoScsiCommand cmd = Command(0xEF);
        cmd.Cdb[1] = ucArg;
        PutBE32(cmd.Cdb + 2, dwArg);
        Direct(cmd, ZEDO_DATA_OUT, pBuffer + offset, piece);
        return ZedoSendCommand(hDevice, cmd);
    });
}

int CZedoUSBDev2K::SCSI_VendRead(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || BufferMissing(pBuffer, dwLength) || dwLength > kPiece)
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(0xE7);
    cmd.Cdb[1] = ucArg;
    PutBE32(cmd.Cdb + 2, dwLength);
    BufferedIn(cmd, pBuffer, dwLength);
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI_VendWrite(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || BufferMissing(pBuffer, dwLength) || dwLength > kMaxIndexedTransfer)
        return ZEDOUSB_ERR_ARGUMENT;
    return InPieces(dwLength, [&](DWORD offset, DWORD piece, DWORD index) {
        ZedoScsiCommand cmd = Command(0xE6);
        cmd.Cdb[1] = ucArg;
        PutBE32(cmd.Cdb + 2, piece);
        PutBE32(cmd.Cdb + 6, dwLength);
        cmd.Cdb[10] = static_cast<BYTE>(index);
        BufferedOut(cmd, pBuffer + offset, piece);
        return ZedoSendCommand(hDevice, cmd);
    });
}

int CZedoUSBDev2K::SCSI_Restart(HANDLE hDevice)
{
    if (HandleMissing(hDevice, kBox))
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(0xE9);
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI_GetNANDInfo(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kBox) || BufferMissing(pBuffer, dwLength) || dwLength > kPiece)
        return ZEDOUSB_ERR_ARGUMENT;
    if (dwLength)
        memset(pBuffer, 0, dwLength);
    ZedoScsiCommand cmd = Command(0xEE);
    cmd.Cdb[8] = static_cast<BYTE>(dwLength);
    BufferedIn(cmd, pBuffer, dwLength);
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI_EraseNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg)
{
    if (HandleMissing(hDevice, kBox))
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(0xEB);
    cmd.Cdb[1] = ucArg;
    PutBE16(cmd.Cdb + 4, dwArg & 0xFFFF);
    return ZedoSendCommand(hDevice, cmd);
}

namespace {
int NandTransfer(HANDLE hDevice, BYTE op, BYTE dataIn, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength,
                 int nFlag)
{
    return InPieces(dwLength, [&](DWORD offset, DWORD piece, DWORD) {
        ZedoScsiCommand cmd = Command(op);
        cmd.Cdb[1] = ucArg;
        PutBE32(cmd.Cdb + 2, dwArg);
        PutBE16(cmd.Cdb + 7, piece);
        cmd.Cdb[9] = nFlag ? 1 : 0;
        Direct(cmd, dataIn, pBuffer + offset, piece);
        return ZedoSendCommand(hDevice, cmd);
    });
}

int DramTransfer(HANDLE hDevice, BYTE op, BYTE dataIn, DWORD timeOut, BYTE* pBuffer, DWORD dwLength)
{
    return InPieces(dwLength, [&](DWORD offset, DWORD piece, DWORD) {
        ZedoScsiCommand cmd = Command(op);
        PutBE16(cmd.Cdb + 6, piece);
        Direct(cmd, dataIn, pBuffer + offset, piece);
        cmd.TimeOut = timeOut;
        return ZedoSendCommand(hDevice, cmd);
    });
}

int IndexedTransfer(HANDLE hDevice, BYTE op, BYTE dataIn, DWORD timeOut, BYTE ucArg, BYTE* pBuffer,
                    DWORD dwLength)
{
    return InPieces(dwLength, [&](DWORD offset, DWORD piece, DWORD index) {
        ZedoScsiCommand cmd = Command(op);
        cmd.Cdb[1] = ucArg;
        PutBE32(cmd.Cdb + 2, dwLength);
        PutBE32(cmd.Cdb + 6, piece);
        cmd.Cdb[10] = static_cast<BYTE>(index);
        if (dataIn == ZEDO_DATA_IN)
            BufferedIn(cmd, pBuffer + offset, piece);
        else
            BufferedOut(cmd, pBuffer + offset, piece);
        cmd.TimeOut = timeOut;
        return ZedoSendCommand(hDevice, cmd);
    });
}

// READ(10) / WRITE(10) in pieces of up to 128 blocks, the address advancing with each piece.
int LbaTransfer(HANDLE hDevice, BYTE op, BYTE dataIn, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer)
{
    const DWORD kBlocksPerPiece = kPiece / 512;
    DWORD dwDone = 0;
    while (dwDone < dwBlocks) {
        DWORD dwPiece = std::min(dwBlocks - dwDone, kBlocksPerPiece);
        ZedoScsiCommand cmd = Command(op);
        PutBE32(cmd.Cdb + 2, dwLBA + dwDone);
        PutBE16(cmd.Cdb + 7, dwPiece);
        Direct(cmd, dataIn, pBuffer + static_cast<size_t>(dwDone) * 512, dwPiece * 512);
        cmd.TimeOut = 5;
        if (ZedoSendCommand(hDevice, cmd) != 0)
            return ZEDOUSB_ERR_DEVICE;
        dwDone += dwPiece;
    }
    return 0;
}

// The byte count of a block transfer must fit 32 bits and the last block must lie below 2^32.
bool LbaRangeBad(DWORD dwLBA, DWORD dwBlocks)
{
    return dwBlocks > 0x7FFFFF || static_cast<unsigned long long>(dwLBA) + dwBlocks > 0x100000000ULL;
}
} // namespace

int CZedoUSBDev2K::SCSI_WriteNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength,
                                      int nFlag)
{
    if (HandleMissing(hDevice, "SCSI_WriteNANDData") || BufferMissing(pBuffer, dwLength))
        return ZEDOUSB_ERR_ARGUMENT;
    return NandTransfer(hDevice, 0xED, ZEDO_DATA_OUT, ucArg, dwArg, pBuffer, dwLength, nFlag);
}

int CZedoUSBDev2K::SCSI_ReadNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength,
                                     int nFlag)
{
    if (HandleMissing(hDevice, "SCSI_ReadNANDData") || BufferMissing(pBuffer, dwLength))
        return ZEDOUSB_ERR_ARGUMENT;
    return NandTransfer(hDevice, 0xEC, ZEDO_DATA_IN, ucArg, dwArg, pBuffer, dwLength, nFlag);
}

int CZedoUSBDev2K::SCSI_ReceiveDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, "SCSI_ReceiveDRAMData") || BufferMissing(pBuffer, dwLength))
        return ZEDOUSB_ERR_ARGUMENT;
    return DramTransfer(hDevice, 0xEC, ZEDO_DATA_IN, 8, pBuffer, dwLength);
}

int CZedoUSBDev2K::SCSI_TransferDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, "SCSI_TransferDRAMData") || BufferMissing(pBuffer, dwLength))
        return ZEDOUSB_ERR_ARGUMENT;
    return DramTransfer(hDevice, 0xEB, ZEDO_DATA_OUT, 60, pBuffer, dwLength);
}

int CZedoUSBDev2K::SCSI_ReceiveData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || BufferMissing(pBuffer, dwLength) || dwLength > kMaxIndexedTransfer)
        return ZEDOUSB_ERR_ARGUMENT;
    return IndexedTransfer(hDevice, 0xE8, ZEDO_DATA_IN, 3, ucArg, pBuffer, dwLength);
}

int CZedoUSBDev2K::SCSI_TransferData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || BufferMissing(pBuffer, dwLength) || dwLength > kMaxIndexedTransfer)
        return ZEDOUSB_ERR_ARGUMENT;
    return IndexedTransfer(hDevice, 0xEA, ZEDO_DATA_OUT, 60, ucArg, pBuffer, dwLength);
}

int CZedoUSBDev2K::SCSI_GetPlatformInfo(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, WORD wLength)
{
    if (HandleMissing(hDevice, kBox) || BufferMissing(pBuffer, wLength))
        return ZEDOUSB_ERR_ARGUMENT;
    if (wLength)
        memset(pBuffer, 0, wLength);
    ZedoScsiCommand cmd = Command(0xE5);
    cmd.Cdb[1] = ucArg;
    PutBE32(cmd.Cdb + 6, wLength);
    BufferedIn(cmd, pBuffer, wLength);
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI_ReadLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer)
{
    if (HandleMissing(hDevice, "SCSI_ReadLBA") || LbaRangeBad(dwLBA, dwBlocks) || BufferMissing(pBuffer, dwBlocks))
        return ZEDOUSB_ERR_ARGUMENT;
    return LbaTransfer(hDevice, 0x28, ZEDO_DATA_IN, dwLBA, dwBlocks, pBuffer);
}

int CZedoUSBDev2K::SCSI_WriteLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer)
{
    if (HandleMissing(hDevice, "SCSI_WriteLBA") || LbaRangeBad(dwLBA, dwBlocks) || BufferMissing(pBuffer, dwBlocks))
        return ZEDOUSB_ERR_ARGUMENT;
    return LbaTransfer(hDevice, 0x2A, ZEDO_DATA_OUT, dwLBA, dwBlocks, pBuffer);
}

int CZedoUSBDev2K::SCSI_ReadCapacity(HANDLE hDevice, DWORD* pdwBlocks, DWORD* pdwBlockLength)
{
    if (HandleMissing(hDevice, "SCSI_ReadCapacity") || !pdwBlocks || !pdwBlockLength)
        return ZEDOUSB_ERR_ARGUMENT;
    BYTE data[8] = {};
    ZedoScsiCommand cmd = Command(0x25);
    BufferedIn(cmd, data, sizeof(data));
    if (ZedoSendCommand(hDevice, cmd) != 0) {
        *pdwBlocks = 0;
        *pdwBlockLength = 0;
        return ZEDOUSB_ERR_DEVICE;
    }
    DWORD dwLast = (DWORD(data[0]) << 24) | (DWORD(data[1]) << 16) | (DWORD(data[2]) << 8) | data[3];
    if (dwLast == 0xFFFFFFFF) {
        // A disk of 2^32 blocks or more: its block count does not fit the answer, and wrapped it
        // would read as an empty disk.
        *pdwBlocks = 0;
        *pdwBlockLength = 0;
        return ZEDOUSB_ERR_DEVICE;
    }
    *pdwBlocks = dwLast + 1;
    *pdwBlockLength = (DWORD(data[4]) << 24) | (DWORD(data[5]) << 16) | (DWORD(data[6]) << 8) | data[7];
    return 0;
}

int CZedoUSBDev2K::SCSI_ExecProc(HANDLE hDevice, DWORD dwArg, WORD wLength, BYTE* pBuffer)
{
    if (HandleMissing(hDevice, "SCSI_ExecProc") || BufferMissing(pBuffer, wLength))
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(0xE2);
    PutBE32(cmd.Cdb + 2, dwArg);
    PutBE16(cmd.Cdb + 7, wLength);
    Direct(cmd, ZEDO_DATA_OUT, pBuffer, wLength);
    cmd.TimeOut = 5;
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI3E71_AccessHardDisk(HANDLE hDevice, BYTE ucRW, unsigned long long ullLBA, BYTE* pBuffer,
                                           DWORD dwSectors)
{
    // At most 64 sectors (32768 bytes) a command, and the whole run below 2^48.
    if (HandleMissing(hDevice, kNoBox) || dwSectors > 64 || ullLBA >= (1ULL << 48) ||
        ullLBA + dwSectors > (1ULL << 48) ||
        BufferMissing(pBuffer, dwSectors))
        return ZEDOUSB_ERR_ARGUMENT;
    // A sector count of 0 would mean 65536 sectors to the drive: nothing to send.
    if (dwSectors == 0)
        return 0;
    const bool bWrite = ucRW == 1;
    ZedoScsiCommand cmd = Command(0xE6, 16);
    cmd.Cdb[4] = bWrite ? 0x35 : 0x25;
    cmd.Cdb[6] = static_cast<BYTE>(ullLBA);
    cmd.Cdb[7] = static_cast<BYTE>(ullLBA >> 8);
    cmd.Cdb[8] = static_cast<BYTE>(ullLBA >> 16);
    cmd.Cdb[9] = 0x40;
    cmd.Cdb[10] = static_cast<BYTE>(ullLBA >> 24);
    cmd.Cdb[11] = static_cast<BYTE>(ullLBA >> 32);
    cmd.Cdb[12] = static_cast<BYTE>(ullLBA >> 40);
    cmd.Cdb[14] = static_cast<BYTE>(dwSectors);
    cmd.Cdb[15] = static_cast<BYTE>(dwSectors >> 8);
    BufferedOut(cmd, pBuffer, dwSectors * 512);
    if (!bWrite)
        cmd.DataIn = ZEDO_DATA_IN;
    cmd.TimeOut = 10;
    return ZedoSendCommand(hDevice, cmd);
}

namespace {
int NoDataCommand(HANDLE hDevice, BYTE op, BYTE arg, DWORD outLength)
{
    if (HandleMissing(hDevice, kNoBox))
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(op);
    cmd.Cdb[1] = arg;
    cmd.InLength = ZEDO_REQUEST_SIZE;
    cmd.OutLength = outLength;
    return ZedoSendCommand(hDevice, cmd);
}
} // namespace

int CZedoUSBDev2K::SCSI3E71_ShowDisk(HANDLE hDevice)
{
    return NoDataCommand(hDevice, 0xE9, 0x01, ZEDO_DATA_OFFSET);
}

int CZedoUSBDev2K::SCSI3E71_HideDisk(HANDLE hDevice)
{
    return NoDataCommand(hDevice, 0xE9, 0x00, ZEDO_DATA_OFFSET);
}

int CZedoUSBDev2K::SCSI3E71_GetDiskStatus(HANDLE hDevice, BYTE* pStatus)
{
    if (HandleMissing(hDevice, kBox) || !pStatus)
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(0xEA);
    BufferedIn(cmd, pStatus, 1);
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI_QT60X_AtaPassThrougth(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || !pBuffer || dwLength != 512)
        return ZEDOUSB_ERR_ARGUMENT;
    static const BYTE kIdentify[12] = {0xA1, 0x08, 0x0D, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xEC, 0x00, 0x00};
    BYTE data[512] = {};
    ZedoScsiCommand cmd = Command(0xA1);
    memcpy(cmd.Cdb, kIdentify, sizeof(kIdentify));
    BufferedIn(cmd, data, sizeof(data));
    cmd.InLength = ZEDO_REQUEST_SIZE;
    int nResult = ZedoSendCommand(hDevice, cmd);
    if (nResult != 0)
        return nResult;
    // ATA words arrive little-endian; swapping each pair makes the text fields read in order.
    for (int k = 0; k < 256; ++k) {
        pBuffer[2 * k] = data[2 * k + 1];
        pBuffer[2 * k + 1] = data[2 * k];
    }
    return 0;
}

int CZedoUSBDev2K::SCSI_QT60X_AccessConfigEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || !pBuffer || dwLength != 128)
        return ZEDOUSB_ERR_ARGUMENT;
    ZedoScsiCommand cmd = Command(ucRW == 0 ? 0xE0 : 0xE1, 6);
    if (ucRW == 0) {
        BufferedIn(cmd, pBuffer, 128);
    } else {
        // Every write mode sends the caller's 128 bytes.
        BufferedOut(cmd, pBuffer, 128);
        cmd.TimeOut = 60;
    }
    cmd.InLength = ZEDO_REQUEST_SIZE;
    return ZedoSendCommand(hDevice, cmd);
}

int CZedoUSBDev2K::SCSI_QT60X_AccessRegister(HANDLE hDevice, BYTE ucRW, WORD wAddress, BYTE* pBuffer,
                                             DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || !pBuffer || dwLength == 0 || dwLength > 256)
        return ZEDOUSB_ERR_ARGUMENT;
    if (ucRW == 1) {
        // One register byte a command; the value travels in the command block.
        ZedoScsiCommand cmd = Command(0xE5, 6);
        cmd.Cdb[1] = pBuffer[0];
        PutBE16(cmd.Cdb + 3, wAddress);
        BufferedOut(cmd, nullptr, 0);
        cmd.OutLength = ZEDO_REQUEST_SIZE;
        cmd.TimeOut = 60;
        return ZedoSendCommand(hDevice, cmd);
    }
    const DWORD dwClear = std::min<DWORD>(dwLength, 4);
    memset(pBuffer, 0, dwClear);
    ZedoScsiCommand cmd = Command(0xE4, 6);
    cmd.Cdb[1] = static_cast<BYTE>(dwLength); // 256 travels as 0
    PutBE16(cmd.Cdb + 3, wAddress);
    BufferedIn(cmd, pBuffer, dwLength);
    cmd.InLength = ZEDO_REQUEST_SIZE;
    int nResult = ZedoSendCommand(hDevice, cmd);
    if (nResult != 0)
        memset(pBuffer, 0, dwClear);
    return nResult;
}

int CZedoUSBDev2K::SCSI_QT60X_AccessFirmwareEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength)
{
    if (HandleMissing(hDevice, kNoBox) || BufferMissing(pBuffer, dwLength))
        return ZEDOUSB_ERR_ARGUMENT;
    return InPieces(dwLength, [&](DWORD offset, DWORD piece, DWORD) {
        ZedoScsiCommand cmd = Command(ucRW == 0 ? 0xE2 : 0xE3, 6);
        if (ucRW == 0) {
            BufferedIn(cmd, pBuffer + offset, piece);
        } else {
            BufferedOut(cmd, pBuffer + offset, piece);
            cmd.TimeOut = 60;
        }
        cmd.InLength = ZEDO_REQUEST_SIZE;
        return ZedoSendCommand(hDevice, cmd);
    });
}

int CZedoUSBDev2K::SCSI_QT60X_Disconnect(HANDLE hDevice)
{
    return NoDataCommand(hDevice, 0xE8, 0x01, 0);
}

int CZedoUSBDev2K::SCSI_QT60X_CPURST(HANDLE hDevice)
{
    return NoDataCommand(hDevice, 0xE8, 0x00, ZEDO_DATA_OFFSET);
}

int CZedoUSBDev2K::SCSI_Inquiry(HANDLE hDevice, BYTE* pBuffer, BYTE ucLength)
{
    if (BufferMissing(pBuffer, ucLength))
        return ZEDOUSB_ERR_ARGUMENT;
    if (ucLength)
        memset(pBuffer, 0, ucLength);
    ZedoScsiCommand cmd = Command(0x12);
    cmd.Cdb[4] = ucLength;
    BufferedIn(cmd, pBuffer, ucLength);
    return ZedoSendCommand(hDevice, cmd);
}
