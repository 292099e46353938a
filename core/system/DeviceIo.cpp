#include "DeviceIo.h"

#include <initguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <winioctl.h>
#include <atomic>

namespace {

class CSystemDeviceIo final : public IDeviceIo {
public:
    HANDLE OpenDevice(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare,
                      DWORD dwDisposition, DWORD dwFlags) override
    {
        return CreateFileW(pszPath, dwAccess, dwShare, nullptr, dwDisposition, dwFlags, nullptr);
    }

    BOOL IoControl(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD nInSize,
                   void* pOut, DWORD nOutSize, DWORD* pnReturned) override
    {
        DWORD nDummy = 0;
        return DeviceIoControl(hDevice, dwCode, pIn, nInSize, pOut, nOutSize,
                               pnReturned ? pnReturned : &nDummy, nullptr);
    }

    void EnumDiskInterfaces(std::vector<DiskInterfaceInfo>& arrOut) override
    {
        HDEVINFO hSet = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (hSet == INVALID_HANDLE_VALUE)
            return;
        for (DWORD nIndex = 0;; ++nIndex) {
            SP_DEVICE_INTERFACE_DATA ifData = {};
            ifData.cbSize = sizeof(ifData);
            if (!SetupDiEnumDeviceInterfaces(hSet, nullptr, &GUID_DEVINTERFACE_DISK, nIndex, &ifData))
                break;
            DWORD nSize = 0;
            SetupDiGetDeviceInterfaceDetailW(hSet, &ifData, nullptr, 0, &nSize, nullptr);
            if (nSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
                break;
            auto* pDetail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(
                HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, nSize));
            if (!pDetail)
                break;
            pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SP_DEVINFO_DATA devData = {};
            devData.cbSize = sizeof(devData);
            if (!SetupDiGetDeviceInterfaceDetailW(hSet, &ifData, pDetail, nSize, nullptr, &devData)) {
                HeapFree(GetProcessHeap(), 0, pDetail);
                break;
            }
            DiskInterfaceInfo info;
            info.strDevicePath = pDetail->DevicePath;
            HeapFree(GetProcessHeap(), 0, pDetail);

            wchar_t szId[201] = {};
            if (CM_Get_Device_IDW(devData.DevInst, szId, 200, 0) == CR_SUCCESS)
                info.strInstanceId = szId;
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, devData.DevInst, 0) == CR_SUCCESS) {
                wchar_t szParent[201] = {};
                if (CM_Get_Device_IDW(parent, szParent, 200, 0) == CR_SUCCESS)
                    info.strParentInstanceId = szParent;
            }
            arrOut.push_back(info);
        }
        SetupDiDestroyDeviceInfoList(hSet);
    }
};

CSystemDeviceIo g_systemDeviceIo;
std::atomic<IDeviceIo*> g_pDeviceIo{nullptr};

} // namespace

BOOL IDeviceIo::ReadDevice(HANDLE hDevice, void* pBuffer, DWORD nBytes, DWORD* pnRead)
{
    DWORD nDummy = 0;
    return ReadFile(hDevice, pBuffer, nBytes, pnRead ? pnRead : &nDummy, nullptr);
}

BOOL IDeviceIo::WriteDevice(HANDLE hDevice, const void* pBuffer, DWORD nBytes, DWORD* pnWritten)
{
    DWORD nDummy = 0;
    return WriteFile(hDevice, pBuffer, nBytes, pnWritten ? pnWritten : &nDummy, nullptr);
}

BOOL IDeviceIo::SeekDevice(HANDLE hDevice, ULONGLONG nOffset)
{
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(nOffset);
    return SetFilePointerEx(hDevice, li, nullptr, FILE_BEGIN);
}

void IDeviceIo::EnumVolumes(std::vector<CString>& arrOut)
{
    wchar_t szName[MAX_PATH + 1] = {};
    HANDLE hFind = FindFirstVolumeW(szName, MAX_PATH);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        // "\\?\Volume{...}\" names the root folder; without the backslash, the volume itself.
        CString strName(szName);
        if (strName.GetLength() > 4 && strName[strName.GetLength() - 1] == L'\\')
            strName.Delete(strName.GetLength() - 1, 1);
        arrOut.push_back(strName);
    } while (FindNextVolumeW(hFind, szName, MAX_PATH));
    FindVolumeClose(hFind);
}

IDeviceIo& DeviceIo()
{
    IDeviceIo* p = g_pDeviceIo.load();
    return p ? *p : g_systemDeviceIo;
}

void SetDeviceIoForTesting(IDeviceIo* pDeviceIo)
{
    g_pDeviceIo.store(pDeviceIo);
}
