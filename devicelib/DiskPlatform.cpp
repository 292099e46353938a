// The system side of the disk utilities: tools, volumes, device rescan and the clock.
#include "DiskPlatform.h"

#include <cfgmgr32.h>
#include <shellapi.h>

ToolRun CDiskPlatform::RunTool(const char* pszFile, const char* pszParameters, DWORD dwTimeOutMs)
{
    ToolRun run;
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = pszFile;
    info.lpParameters = pszParameters;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info) || !info.hProcess)
        return run;
    run.bStarted = true;
    if (WaitForSingleObject(info.hProcess, dwTimeOutMs) == WAIT_OBJECT_0) {
        DWORD dwCode = 0;
        if (GetExitCodeProcess(info.hProcess, &dwCode) && dwCode != STILL_ACTIVE) {
            run.bFinished = true;
            run.dwExitCode = dwCode;
        }
    }
    CloseHandle(info.hProcess);
    return run;
}

std::string CDiskPlatform::DriveRoot(char cLetter)
{
    return std::string(1, cLetter) + ":\\";
}

UINT CDiskPlatform::DriveType(char cLetter)
{
    return GetDriveTypeA(DriveRoot(cLetter).c_str());
}

BOOL CDiskPlatform::VolumeInformation(char cLetter, char* pszLabel, DWORD dwLabelChars, char* pszFileSystem,
                                      DWORD dwFileSystemChars)
{
    return GetVolumeInformationA(DriveRoot(cLetter).c_str(), pszLabel, dwLabelChars, nullptr, nullptr, nullptr,
                                 pszFileSystem, dwFileSystemChars);
}

BOOL CDiskPlatform::SetLabel(char cLetter, const char* pszLabel)
{
    return SetVolumeLabelA(DriveRoot(cLetter).c_str(), pszLabel);
}

BOOL CDiskPlatform::DiskFreeSpace(char cLetter, DWORD* pdwSectorsPerCluster, DWORD* pdwBytesPerSector,
                                  DWORD* pdwFreeClusters, DWORD* pdwTotalClusters)
{
    return GetDiskFreeSpaceA(DriveRoot(cLetter).c_str(), pdwSectorsPerCluster, pdwBytesPerSector, pdwFreeClusters,
                             pdwTotalClusters);
}

std::string CDiskPlatform::SystemFolder()
{
    char szPath[MAX_PATH] = {};
    UINT n = GetSystemWindowsDirectoryA(szPath, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(szPath) : std::string();
}

std::string CDiskPlatform::TempFolder()
{
    char szPath[MAX_PATH + 1] = {};
    DWORD n = GetTempPathA(sizeof(szPath), szPath);
    return n > 0 && n < sizeof(szPath) ? std::string(szPath) : std::string();
}

std::string CDiskPlatform::CurrentFolder()
{
    char szPath[255] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(szPath), szPath);
    return n > 0 && n < sizeof(szPath) ? std::string(szPath) : std::string();
}

bool CDiskPlatform::RescanDevices()
{
    DEVINST root = 0;
    if (CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
        return false;
    return CM_Reenumerate_DevNode(root, 0) == CR_SUCCESS;
}

long long CDiskPlatform::Counter()
{
    LARGE_INTEGER value = {};
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

long long CDiskPlatform::CounterFrequency()
{
    LARGE_INTEGER value = {};
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

void CDiskPlatform::LocalTime(SYSTEMTIME* pTime)
{
    GetLocalTime(pTime);
}

void CDiskPlatform::Sleep(DWORD dwMs)
{
    ::Sleep(dwMs);
}

namespace {
CDiskPlatform g_systemPlatform;
CDiskPlatform* g_pDiskPlatform = &g_systemPlatform;
} // namespace

CDiskPlatform& DiskPlatform()
{
    return *g_pDiskPlatform;
}

CDiskPlatform* SetDiskPlatform(CDiskPlatform* pPlatform)
{
    CDiskPlatform* pOld = g_pDiskPlatform;
    g_pDiskPlatform = pPlatform ? pPlatform : &g_systemPlatform;
    return pOld;
}
