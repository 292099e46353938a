#pragma once
// The device-command interface and its pass-through implementation.
#include "ZedoUSBLib.h"

// Every command the library sends to a bridge. The slot order is part of the interface.
class CZedoUSBDev {
public:
    virtual int SCSI_ReadSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE* pValue) = 0;
    virtual int SCSI_WriteSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE ucValue) = 0;
    virtual int SCSI_WritePageRdnt(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_VendRead(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_VendWrite(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_Restart(HANDLE hDevice) = 0;
    virtual int SCSI_GetNANDInfo(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_EraseNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg) = 0;
    virtual int SCSI_WriteNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength,
                                   int nFlag) = 0;
    virtual int SCSI_ReadNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength,
                                  int nFlag) = 0;
    virtual int SCSI_ReceiveDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_TransferDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_ReceiveData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_TransferData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_GetPlatformInfo(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, WORD wLength) = 0;
    virtual int SCSI_CloseDev(USBDevList_* pList) = 0;
    virtual int SCSI_OpenDev(USBDevList_* pList) = 0;
    virtual int SCSI_OpenVirtualCD(USBDevList_* pList) = 0;
    virtual int SCSI_ReadLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer) = 0;
    virtual int SCSI_WriteLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer) = 0;
    virtual int SCSI_ReadCapacity(HANDLE hDevice, DWORD* pdwBlocks, DWORD* pdwBlockLength) = 0;
    virtual int SCSI_ExecProc(HANDLE hDevice, DWORD dwArg, WORD wLength, BYTE* pBuffer) = 0;
    virtual int SCSI_GetUSBPortNum(USBDevList_* pList, BYTE ucIndex, char* pszDescription) = 0;
    virtual int SCSI3E71_AccessHardDisk(HANDLE hDevice, BYTE ucRW, unsigned long long ullLBA, BYTE* pBuffer,
                                        DWORD dwSectors) = 0;
    virtual int SCSI3E71_ShowDisk(HANDLE hDevice) = 0;
    virtual int SCSI3E71_HideDisk(HANDLE hDevice) = 0;
    virtual int SCSI3E71_GetDiskStatus(HANDLE hDevice, BYTE* pStatus) = 0;
    virtual int SCSI_QT60X_AtaPassThrougth(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_QT60X_AccessConfigEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_QT60X_AccessRegister(HANDLE hDevice, BYTE ucRW, WORD wAddress, BYTE* pBuffer,
                                          DWORD dwLength) = 0;
    virtual int SCSI_QT60X_AccessFirmwareEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength) = 0;
    virtual int SCSI_QT60X_Disconnect(HANDLE hDevice) = 0;
    virtual int SCSI_QT60X_CPURST(HANDLE hDevice) = 0;
    virtual ~CZedoUSBDev() {}
    virtual int SCSI_Inquiry(HANDLE hDevice, BYTE* pBuffer, BYTE ucLength) = 0;
};

// The one implementation: stateless, so one object serves any number of handles and lists.
class CZedoUSBDev2K : public CZedoUSBDev {
public:
    int SCSI_ReadSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE* pValue) override;
    int SCSI_WriteSerEEPROM(HANDLE hDevice, BYTE ucAddress, BYTE ucValue) override;
    int SCSI_WritePageRdnt(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_VendRead(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_VendWrite(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_Restart(HANDLE hDevice) override;
    int SCSI_GetNANDInfo(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_EraseNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg) override;
    int SCSI_WriteNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength,
                           int nFlag) override;
    int SCSI_ReadNANDData(HANDLE hDevice, BYTE ucArg, DWORD dwArg, BYTE* pBuffer, DWORD dwLength,
                          int nFlag) override;
    int SCSI_ReceiveDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_TransferDRAMData(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_ReceiveData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_TransferData(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_GetPlatformInfo(HANDLE hDevice, BYTE ucArg, BYTE* pBuffer, WORD wLength) override;
    int SCSI_CloseDev(USBDevList_* pList) override;
    int SCSI_OpenDev(USBDevList_* pList) override;
    int SCSI_OpenVirtualCD(USBDevList_* pList) override;
    int SCSI_ReadLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer) override;
    int SCSI_WriteLBA(HANDLE hDevice, DWORD dwLBA, DWORD dwBlocks, BYTE* pBuffer) override;
    int SCSI_ReadCapacity(HANDLE hDevice, DWORD* pdwBlocks, DWORD* pdwBlockLength) override;
    int SCSI_ExecProc(HANDLE hDevice, DWORD dwArg, WORD wLength, BYTE* pBuffer) override;
    int SCSI_GetUSBPortNum(USBDevList_* pList, BYTE ucIndex, char* pszDescription) override;
    int SCSI3E71_AccessHardDisk(HANDLE hDevice, BYTE ucRW, unsigned long long ullLBA, BYTE* pBuffer,
                                DWORD dwSectors) override;
    int SCSI3E71_ShowDisk(HANDLE hDevice) override;
    int SCSI3E71_HideDisk(HANDLE hDevice) override;
    int SCSI3E71_GetDiskStatus(HANDLE hDevice, BYTE* pStatus) override;
    int SCSI_QT60X_AtaPassThrougth(HANDLE hDevice, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_QT60X_AccessConfigEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_QT60X_AccessRegister(HANDLE hDevice, BYTE ucRW, WORD wAddress, BYTE* pBuffer,
                                  DWORD dwLength) override;
    int SCSI_QT60X_AccessFirmwareEEPROM(HANDLE hDevice, BYTE ucRW, BYTE* pBuffer, DWORD dwLength) override;
    int SCSI_QT60X_Disconnect(HANDLE hDevice) override;
    int SCSI_QT60X_CPURST(HANDLE hDevice) override;
    ~CZedoUSBDev2K() override {}
    int SCSI_Inquiry(HANDLE hDevice, BYTE* pBuffer, BYTE ucLength) override;

private:
    int ScanPass(USBDevList_* pList, const char* pszFormat, bool bReadChipId, bool bFullEntry, int& nNext);
};
