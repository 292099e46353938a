#pragma once
// The one place where the program meets the desktop shell: drive facts, display names
// and icons, file operations, launching files and programs, and volume labels. The
// program always goes through the system's own calls; tests install a double that
// answers from a table and records what it was asked to do.
//
// Grow this interface when a new shell service is needed; do not add a second seam.

#include <windows.h>
#include <shellapi.h>
#include "afx.h"

class IShellIo {
public:
    virtual ~IShellIo() = default;

    // --- Drive facts ---
    // Same contract as GetLogicalDrives.
    virtual DWORD LogicalDrives() = 0;
    // Same contract as GetDriveTypeW ("X:\" form).
    virtual UINT DriveType(const wchar_t* pszRoot) = 0;
    // Same contract as GetVolumeInformationW; any out pointer may be null. Fails
    // (FALSE, ERROR_NOT_READY) for a drive without a medium.
    virtual BOOL VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize,
                                      DWORD* pnSerial, DWORD* pnMaxComponent, DWORD* pnFlags,
                                      wchar_t* pszFileSystem, DWORD nFileSystemSize) = 0;
    // Same contract as GetDiskFreeSpaceExW.
    virtual BOOL DiskFreeSpace(const wchar_t* pszPath, ULARGE_INTEGER* pFreeToCaller,
                                  ULARGE_INTEGER* pTotal, ULARGE_INTEGER* pTotalFree) = 0;

    // --- Display names and icons ---
    // Same contract as SHGetFileInfoW with a path (not an item-identifier list).
    virtual DWORD_PTR FileInfo(const wchar_t* pszPath, DWORD dwFileAttributes,
                                  SHFILEINFOW* psfi, UINT uFlags) = 0;

    // --- File operations ---
    // Same contract as SHFileOperationW.
    virtual int FileOperation(SHFILEOPSTRUCTW* pOp) = 0;

    // --- Launching ---
    // Same contract as ShellExecuteW.
    virtual HINSTANCE Execute(HWND hwnd, const wchar_t* pszVerb, const wchar_t* pszFile,
                                   const wchar_t* pszParameters, const wchar_t* pszDirectory,
                                   int nShow) = 0;
    // Starts a program with a complete command line (same contract as CreateProcessW
    // with no inherited handles); the process and thread handles are closed here.
    virtual BOOL StartProcess(const wchar_t* pszApplication, const wchar_t* pszCommandLine,
                              const wchar_t* pszDirectory) = 0;

    // --- Volume labels ---
    // Same contract as SetVolumeLabelW.
    virtual BOOL SetLabel(const wchar_t* pszRoot, const wchar_t* pszLabel) = 0;

    // --- Folder contents ---
    // True when listing pszFolder + "*.*" finds an entry other than "." and ".." and entries
    // with the system attribute (a drive whose medium was pulled lists nothing). Doubles that
    // do not fake it get the system's answer.
    virtual bool FolderHasEntries(const wchar_t* pszFolder);
};

// The shell in use: the system's own unless a test has installed another.
IShellIo& ShellIo();

// Installs a replacement (nullptr restores the system's). Only tests call this.
void SetShellIoForTesting(IShellIo* pShellIo);

// The system's own shell, for a double that forwards what it does not fake.
IShellIo& SystemShellIo();
