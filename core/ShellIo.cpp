#include "ShellIo.h"

#include <atomic>

namespace {

class CSystemShellIo final : public IShellIo {
public:
    DWORD LogicalDrives() override { return ::GetLogicalDrives(); }

    UINT DriveType(const wchar_t* pszRoot) override { return ::GetDriveTypeW(pszRoot); }

    BOOL VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize,
                              DWORD* pnSerial, DWORD* pnMaxComponent, DWORD* pnFlags,
                              wchar_t* pszFileSystem, DWORD nFileSystemSize) override
    {
        return ::GetVolumeInformationW(pszRoot, pszLabel, nLabelSize, pnSerial, pnMaxComponent,
                                       pnFlags, pszFileSystem, nFileSystemSize);
    }

    BOOL DiskFreeSpace(const wchar_t* pszPath, ULARGE_INTEGER* pFreeToCaller,
                          ULARGE_INTEGER* pTotal, ULARGE_INTEGER* pTotalFree) override
    {
        return ::GetDiskFreeSpaceExW(pszPath, pFreeToCaller, pTotal, pTotalFree);
    }

    DWORD_PTR FileInfo(const wchar_t* pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi,
                          UINT uFlags) override
    {
        return ::SHGetFileInfoW(pszPath, dwFileAttributes, psfi, sizeof(SHFILEINFOW), uFlags);
    }

    int FileOperation(SHFILEOPSTRUCTW* pOp) override { return ::SHFileOperationW(pOp); }

    HINSTANCE Execute(HWND hwnd, const wchar_t* pszVerb, const wchar_t* pszFile,
                           const wchar_t* pszParameters, const wchar_t* pszDirectory,
                           int nShow) override
    {
        return ::ShellExecuteW(hwnd, pszVerb, pszFile, pszParameters, pszDirectory, nShow);
    }

    BOOL StartProcess(const wchar_t* pszApplication, const wchar_t* pszCommandLine,
                      const wchar_t* pszDirectory) override
    {
        // CreateProcessW may write into the command line, so it gets a private copy.
        CString strLine(pszCommandLine ? pszCommandLine : L"");
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        wchar_t* pLine = strLine.GetBuffer(strLine.GetLength() + 1);
        BOOL bOk = ::CreateProcessW(pszApplication, pLine, nullptr, nullptr, FALSE, 0, nullptr,
                                    pszDirectory, &si, &pi);
        DWORD dwError = GetLastError();
        strLine.ReleaseBuffer();
        if (bOk) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        SetLastError(dwError);
        return bOk;
    }

    BOOL SetLabel(const wchar_t* pszRoot, const wchar_t* pszLabel) override
    {
        return ::SetVolumeLabelW(pszRoot, pszLabel);
    }
};

CSystemShellIo g_systemShellIo;

bool ListHasUserEntries(const wchar_t* pszFolder)
{
    if (!pszFolder || !*pszFolder)
        return false;
    CString strPattern(pszFolder);
    if (strPattern[strPattern.GetLength() - 1] != L'\\')
        strPattern += L'\\';
    strPattern += L"*.*";
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(strPattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool bFound = false;
    do {
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0)
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM)
            continue;
        bFound = true;
    } while (!bFound && ::FindNextFileW(h, &fd));
    ::FindClose(h);
    return bFound;
}
std::atomic<IShellIo*> g_pShellIo{nullptr};

} // namespace

bool IShellIo::FolderHasEntries(const wchar_t* pszFolder) { return ListHasUserEntries(pszFolder); }

IShellIo& ShellIo()
{
    IShellIo* p = g_pShellIo.load();
    return p ? *p : g_systemShellIo;
}

void SetShellIoForTesting(IShellIo* pShellIo) { g_pShellIo.store(pShellIo); }

IShellIo& SystemShellIo() { return g_systemShellIo; }
