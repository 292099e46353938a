// The real zedousb.dll, loaded as any caller loads it. There is no bridge here: the scan finds none,
// every export answers with its documented code and nothing crashes.
//
// The DLL would work on the system's own devices. Its device calls into the system (opening a
// device, its control requests, reads and writes on it, the volume names of drive letters) are
// taken over in the DLL's import table and answered by the disk model, so its scans of physical
// drives, CD-ROMs and volumes meet the model's disks and no request reaches a real one. Beyond
// that, the disk utilities are called only with arguments they refuse before any disk is opened
// (no buffer, no drive letter, no rates to give back, a disk number no system has); what they do
// to a disk is tested on the disk model behind the library's own device seam.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DiskModel.h"
#include "ZedoUSBLib.h"

namespace {

// ---- The DLL's device calls, answered by a disk model ----

CDiskModel* g_pModel = nullptr;
std::mutex g_seamLock;
std::set<HANDLE> g_modelHandles;
std::vector<std::string> g_devicePaths;   // every device path the DLL opened, in order

decltype(&CreateFileA) g_realCreateFile = nullptr;
decltype(&DeviceIoControl) g_realControl = nullptr;
decltype(&CloseHandle) g_realClose = nullptr;
decltype(&ReadFile) g_realRead = nullptr;
decltype(&WriteFile) g_realWrite = nullptr;

bool IsModelHandle(HANDLE h)
{
    std::lock_guard<std::mutex> lock(g_seamLock);
    return g_modelHandles.count(h) != 0;
}

// A path in the device namespace ("\\.\..." or an interface's "\\?\...").
bool IsDevicePath(const char* pszPath)
{
    return pszPath && (strncmp(pszPath, "\\\\.\\", 4) == 0 || strncmp(pszPath, "\\\\?\\", 4) == 0);
}

HANDLE WINAPI SeamCreateFile(LPCSTR pszPath, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES pSecurity,
                             DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate)
{
    if (!IsDevicePath(pszPath))
        return g_realCreateFile(pszPath, dwAccess, dwShare, pSecurity, dwDisposition, dwFlags, hTemplate);
    HANDLE h = g_pModel->OpenDisk(pszPath, dwAccess, dwShare, dwFlags);
    DWORD dwError = GetLastError();
    {
        std::lock_guard<std::mutex> lock(g_seamLock);
        g_devicePaths.push_back(pszPath);
        if (h != INVALID_HANDLE_VALUE)
            g_modelHandles.insert(h);
    }
    SetLastError(dwError);
    return h;
}

BOOL WINAPI SeamControl(HANDLE h, DWORD dwCode, LPVOID pIn, DWORD dwInLength, LPVOID pOut, DWORD dwOutLength,
                        LPDWORD pdwReturned, LPOVERLAPPED pOverlapped)
{
    if (!IsModelHandle(h))
        return g_realControl(h, dwCode, pIn, dwInLength, pOut, dwOutLength, pdwReturned, pOverlapped);
    DWORD dwReturned = 0;
    BOOL bOk = g_pModel->Control(h, dwCode, pIn, dwInLength, pOut, dwOutLength, &dwReturned);
    if (pdwReturned)
        *pdwReturned = dwReturned;
    return bOk;
}

BOOL WINAPI SeamClose(HANDLE h)
{
    if (!IsModelHandle(h))
        return g_realClose(h);
    {
        std::lock_guard<std::mutex> lock(g_seamLock);
        g_modelHandles.erase(h);
    }
    return g_pModel->CloseDevice(h);
}

unsigned long long OffsetOf(const OVERLAPPED* pAt)
{
    return pAt ? (static_cast<unsigned long long>(pAt->OffsetHigh) << 32) | pAt->Offset : 0;
}

BOOL WINAPI SeamRead(HANDLE h, LPVOID pBuffer, DWORD dwLength, LPDWORD pdwDone, LPOVERLAPPED pAt)
{
    if (!IsModelHandle(h))
        return g_realRead(h, pBuffer, dwLength, pdwDone, pAt);
    DWORD dwDone = 0;
    BOOL bOk = g_pModel->ReadAt(h, OffsetOf(pAt), pBuffer, dwLength, &dwDone);
    if (pdwDone)
        *pdwDone = dwDone;
    return bOk;
}

BOOL WINAPI SeamWrite(HANDLE h, LPCVOID pData, DWORD dwLength, LPDWORD pdwDone, LPOVERLAPPED pAt)
{
    if (!IsModelHandle(h))
        return g_realWrite(h, pData, dwLength, pdwDone, pAt);
    DWORD dwDone = 0;
    BOOL bOk = g_pModel->WriteAt(h, OffsetOf(pAt), pData, dwLength, &dwDone);
    if (pdwDone)
        *pdwDone = dwDone;
    return bOk;
}

BOOL WINAPI SeamVolumeName(LPCSTR pszMountPoint, LPSTR pszName, DWORD dwChars)
{
    return g_pModel->VolumeNameForMountPoint(pszMountPoint, pszName, dwChars);
}

// Points the module's import of dll!name at the hook; the import's old target goes to *ppReal.
bool RedirectImport(HMODULE hModule, const char* pszDll, const char* pszName, void* pHook, void** ppReal)
{
    BYTE* base = reinterpret_cast<BYTE*>(hModule);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return false;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (_stricmp(reinterpret_cast<const char*>(base + imp->Name), pszDll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), pszName) != 0)
                continue;
            DWORD dwOld = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &dwOld))
                return false;
            *ppReal = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(pHook);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), dwOld, &dwOld);
            return true;
        }
    }
    return false;
}

// Puts the model in place of the system for the DLL's device calls. False when an import is missing.
template <class F>
bool Redirect(HMODULE hLib, const char* pszName, F hook, F* pReal)
{
    void* pOld = nullptr;
    if (!RedirectImport(hLib, "kernel32.dll", pszName, reinterpret_cast<void*>(hook), &pOld))
        return false;
    *pReal = reinterpret_cast<F>(pOld);
    return true;
}

bool PutModelBehind(HMODULE hLib, CDiskModel& model)
{
    g_pModel = &model;
    decltype(&GetVolumeNameForVolumeMountPointA) pRealVolumeName = nullptr;
    return Redirect(hLib, "CreateFileA", &SeamCreateFile, &g_realCreateFile) &&
           Redirect(hLib, "DeviceIoControl", &SeamControl, &g_realControl) &&
           Redirect(hLib, "CloseHandle", &SeamClose, &g_realClose) &&
           Redirect(hLib, "ReadFile", &SeamRead, &g_realRead) &&
           Redirect(hLib, "WriteFile", &SeamWrite, &g_realWrite) &&
           Redirect(hLib, "GetVolumeNameForVolumeMountPointA", &SeamVolumeName, &pRealVolumeName);
}

std::vector<std::string> DevicePaths()
{
    std::lock_guard<std::mutex> lock(g_seamLock);
    return g_devicePaths;
}

// ---- The library's boxes ----

struct BoxSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindBoxProc(HWND hWnd, LPARAM lParam)
{
    auto* s = reinterpret_cast<BoxSearch*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    char szTitle[16] = {};
    GetWindowTextA(hWnd, szTitle, sizeof(szTitle));
    // Visible: the box has its text once it shows.
    if (pid == s->pid && IsWindowVisible(hWnd) && strcmp(szTitle, "Error") == 0) {
        s->found = hWnd;
        return FALSE;
    }
    return TRUE;
}

// A shown "Error" box of this process (another program's box on the same desktop is not ours).
HWND FindOwnErrorBox()
{
    BoxSearch search = {GetCurrentProcessId(), nullptr};
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Closes the library's "Error" boxes and remembers their texts, so a box never blocks the run.
class BoxCloser {
public:
    BoxCloser()
        : m_thread([this] {
              while (!m_stop) {
                  if (HWND hBox = FindOwnErrorBox()) {
                      char szText[256] = {};
                      GetDlgItemTextA(hBox, 0xFFFF, szText, sizeof(szText));
                      {
                          std::lock_guard<std::mutex> lock(m_lock);
                          m_texts.push_back(szText);
                      }
                      PostMessageA(hBox, WM_COMMAND, IDOK, 0);
                      for (int i = 0; i < 250 && IsWindow(hBox); ++i)
                          Sleep(20);
                  }
                  Sleep(20);
              }
          })
    {
    }
    ~BoxCloser()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_texts;
    }

private:
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::string> m_texts;
    std::thread m_thread;
};

template <class F>
F Export(HMODULE h, const char* name)
{
    FARPROC p = GetProcAddress(h, name);
    EXPECT_NE(nullptr, p) << name;
    return reinterpret_cast<F>(p);
}

} // namespace

TEST(Smoke, TheDllAnswersEveryExportWithItsCode)
{
    HMODULE hLib = LoadLibraryA("zedousb.dll");
    ASSERT_NE(nullptr, hLib);
    // Disk 0 with volume C:, the system's, and nothing else.
    CDiskModel model;
    ASSERT_TRUE(PutModelBehind(hLib, model));
    BoxCloser closer;

    auto load = Export<int(__cdecl*)()>(hLib, "ZedoUSBLib_Load");
    auto unload = Export<int(__cdecl*)()>(hLib, "ZedoUSBLib_Unload");
    auto kt60x = Export<int(__cdecl*)()>(hLib, "KZedoUSBLib_KT60X");
    auto openDev = Export<int(__cdecl*)(USBDevList_*)>(hLib, "ZedoUSBLib_OpenDev");
    auto openCD = Export<int(__cdecl*)(USBDevList_*)>(hLib, "ZedoUSBLib_OpenVirtualCD");
    auto closeDev = Export<int(__cdecl*)(USBDevList_*)>(hLib, "ZedoUSBLib_CloseDev");
    auto portNum = Export<int(__cdecl*)(USBDevList_*, BYTE, char*)>(hLib, "ZedoUSBLib_GetUSBPortNum");
    auto status = Export<int(__cdecl*)(HANDLE)>(hLib, "ZedoUSBLib_GetZULStatus");
    auto chipType = Export<int(__cdecl*)(BYTE)>(hLib, "ZedoUSBLib_bGetChipType");
    auto reg = Export<int(__cdecl*)(HANDLE, BYTE, WORD, BYTE*, DWORD)>(hLib, "ZedoUSBLib_QT60X_AccessRegister");
    auto config = Export<int(__cdecl*)(HANDLE, BYTE, BYTE*, DWORD)>(hLib, "ZedoUSBLib_QT60X_AccessConfigEEPROM");
    auto firmware = Export<int(__cdecl*)(HANDLE, BYTE, BYTE*, DWORD)>(hLib, "ZedoUSBLib_QT60X_AccessFirmwareEEPROM");
    auto ata = Export<int(__cdecl*)(HANDLE, BYTE*, DWORD)>(hLib, "ZedoUSBLib_QT60X_ATAPASSTHROUGH");
    auto disconnect = Export<int(__cdecl*)(HANDLE)>(hLib, "ZedoUSBLib_QT60X_Disconnect");
    auto cpuReset = Export<int(__cdecl*)(HANDLE)>(hLib, "ZedoUSBLib_QT60X_CPURST");
    auto disk = Export<int(__cdecl*)(HANDLE, BYTE, unsigned long long, BYTE*, DWORD)>(
        hLib, "ZedoUSBLib_SCSI3E71_AccessHardDisk");
    auto show = Export<int(__cdecl*)(HANDLE)>(hLib, "ZedoUSBLib_SCSI3E71_ShowDisk");
    auto hide = Export<int(__cdecl*)(HANDLE)>(hLib, "ZedoUSBLib_SCSI3E71_HideDisk");
    auto diskStatus = Export<int(__cdecl*)(HANDLE, BYTE*)>(hLib, "ZedoUSBLib_SCSI3E71_GetDiskStatus");
    auto getConfig = Export<int(__cdecl*)(USBDevConfig_*, int*)>(hLib, "ZedoUSBLib_GetConfig");
    auto safeRemove = Export<int(__cdecl*)(const char*, const char*, const char*)>(hLib, "Zedo_SafeRemoveUSB");
    auto rebuild = Export<int(__cdecl*)(const char*, const char*, int, int)>(hLib, "ZedoUSBLib_REBUILD_BINFILE");
    auto partition = Export<int(__cdecl*)(BYTE, BYTE)>(hLib, "ZedoUSBLib_CreatePartition");
    auto format = Export<int(__cdecl*)(BYTE, BYTE, BYTE, BYTE)>(hLib, "ZedoUSBLib_LowLevelFormatTracks");
    auto rwTest = Export<int(__cdecl*)(BYTE, char*)>(hLib, "ZedoUSBLib_ReadWriteTest");
    auto readLog = Export<BYTE(__cdecl*)(BYTE, char*, BYTE)>(hLib, "ZedoUSBLib_ReadSmartLog");
    auto writeLog = Export<BYTE(__cdecl*)(BYTE, char*, BYTE)>(hLib, "ZedoUSBLib_WriteSmartLog");
    auto attribute = Export<BYTE(__cdecl*)(BYTE, char*)>(hLib, "ZedoUSBLib_GetSmartAttribute");
    auto lastSector = Export<BYTE(__cdecl*)(BYTE, BYTE, char*)>(hLib, "ZedoUSBLib_vReadWriteSmartLogPage_LastSector");
    auto speed = Export<BYTE(__cdecl*)(BYTE, int, int, float*, float*, int*)>(hLib, "ZedoUSBLib_ReadWritePerfomanceTest");
    ASSERT_FALSE(HasFailure());

    USBDevList_ list = {};
    BYTE buffer[512] = {};
    char text[512] = {};

    USBDevConfig_ cfg = {};
    int flags[2] = {7, 7};
    const BYTE kNoDisk = 0xFF;
    const BYTE kNoLetter = 0x7F;
    float r = 0, w = 0;
    int err = 0;

    // Not loaded yet. The image rebuild needs no loaded library.
    EXPECT_EQ(0, getConfig(&cfg, flags));
    EXPECT_EQ(0, safeRemove("VID_0000", "PID_0000", ""));
    EXPECT_EQ(-3, rebuild(nullptr, "out.bin", 0, 2));
    EXPECT_EQ(1, kt60x());
    EXPECT_EQ(-2, unload());
    EXPECT_EQ(-2, openDev(&list));
    EXPECT_EQ(-2, status(nullptr));
    EXPECT_EQ(0, readLog(kNoDisk, nullptr, 0));
    EXPECT_EQ(0, speed(kNoDisk, 0, 0, nullptr, nullptr, &err));

    ASSERT_EQ(0, load());
    EXPECT_EQ(0, load());
    // No bridge here: the scans find none and leave nothing open.
    EXPECT_EQ(-2, openDev(&list));
    EXPECT_EQ(0, list.nCount);
    EXPECT_EQ(0, closeDev(&list));
    EXPECT_EQ(-2, openCD(&list));
    EXPECT_EQ(0, list.nCount);
    EXPECT_EQ(0, closeDev(&list));
    EXPECT_EQ(0, portNum(&list, 0, text));
    EXPECT_EQ(-3, openDev(nullptr));
    // The scans went through the model: physical drives and CD-ROMs were asked for there, and
    // what they opened is closed again.
    std::vector<std::string> paths = DevicePaths();
    auto opened = [&](const char* pszPath) {
        for (const std::string& p : paths)
            if (_stricmp(p.c_str(), pszPath) == 0)
                return true;
        return false;
    };
    EXPECT_TRUE(opened("\\\\.\\physicaldrive0"));
    EXPECT_TRUE(opened("\\\\.\\CDROM0"));
    printf("device paths the scans opened on the model: %zu\n", paths.size());
    EXPECT_EQ(0, model.OpenHandles());

    // Per-device calls without a device.
    EXPECT_EQ(-1, status(nullptr));
    EXPECT_EQ(-3, reg(nullptr, 0, 0xC8FF, buffer, 1));
    EXPECT_EQ(-3, config(nullptr, 0, buffer, 128));
    EXPECT_EQ(-3, firmware(nullptr, 0, buffer, 16));
    EXPECT_EQ(-3, ata(nullptr, buffer, 512));
    EXPECT_EQ(-3, disconnect(nullptr));
    EXPECT_EQ(-3, cpuReset(INVALID_HANDLE_VALUE));
    EXPECT_EQ(-3, disk(nullptr, 0, 0, buffer, 1));
    EXPECT_EQ(-3, show(nullptr));
    EXPECT_EQ(-3, hide(nullptr));
    EXPECT_EQ(-3, diskStatus(nullptr, buffer));
    EXPECT_EQ(-1, chipType(0));
    // The missing handle and the failed scan were told in the library's boxes, each closed by
    // the closer once it showed.
    EXPECT_EQ((std::vector<std::string>{"hDevice is NULL", "Open Device Failed ! (Device Num = 0)"}), closer.Texts());

    // No USB host controller here: the walk runs and finds no bridge, so the record is empty.
    memset(&cfg, 0x55, sizeof(cfg));
    EXPECT_EQ(1, getConfig(&cfg, flags));
    EXPECT_EQ(0, cfg.szSerialNumber[0]);
    EXPECT_EQ(0, flags[0]);
    EXPECT_EQ(0, flags[1]);
    EXPECT_EQ(0, getConfig(nullptr, flags));
    EXPECT_EQ(0, getConfig(&cfg, nullptr));

    // Safe removal finds no such device here: nothing is left to remove (1). Where the system gives
    // no device tree to walk, nothing can be removed and the answer is a failure (0). Empty ids
    // eject nothing.
    int nRemoved = safeRemove("VID_0000", "PID_0000", "");
    EXPECT_TRUE(nRemoved == 1 || nRemoved == 0) << nRemoved;
    printf("safe removal without such a device: %d\n", nRemoved);
    EXPECT_EQ(0, safeRemove("", "", ""));
    EXPECT_EQ(0, safeRemove(nullptr, "PID_0000", ""));
    EXPECT_EQ(-3, rebuild(nullptr, "out.bin", 0, 2));
    EXPECT_EQ(-3, rebuild("in.bin", nullptr, 0, 2));
    EXPECT_EQ(-4, rebuild("no-such-folder\\firmware_1abcdefg.bin", "out.bin", 0, 2));

    // Disk utilities, with arguments refused before any disk is opened. (The partitioning and
    // formatting exports take nothing that is refused that early; they are only looked up here.)
    (void)partition;
    (void)format;
    char rwName[] = "rw.bin";
    EXPECT_EQ(0, rwTest(kNoLetter, rwName));
    EXPECT_EQ(0, readLog(kNoDisk, nullptr, 0));
    EXPECT_EQ(0, writeLog(kNoDisk, nullptr, 0));
    EXPECT_EQ(0, attribute(kNoDisk, nullptr));
    EXPECT_EQ(0, lastSector(kNoDisk, 1, nullptr));
    EXPECT_EQ(0, speed(kNoDisk, 0, 1, nullptr, &w, &err));
    EXPECT_EQ(0, speed(kNoDisk, 0, 0, &r, &w, &err));
    EXPECT_EQ(0, speed(kNoDisk, 101, 1, &r, &w, &err));
    EXPECT_EQ(0, err);   // no disk was tried, so no error code

    EXPECT_EQ(0, unload());
    EXPECT_EQ(-2, reg(nullptr, 0, 0xC8FF, buffer, 1));
    EXPECT_EQ(-2, closeDev(&list));
    EXPECT_EQ(0, model.OpenHandles());
    FreeLibrary(hLib);
    g_pModel = nullptr;
}
