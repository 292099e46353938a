#pragma once
// The one place where the program meets the desktop shell: drive facts, display names
// and icons, file operations, launching files and programs, and volume labels. The
// program always goes through the system's own calls; tests install a double that
// answers from a table and records what it was asked to do.
//
// Grow this interface when a new shell service is needed; do not add a second seam.

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include "afx.h"

#include <vector>

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

    // --- Shell namespace, menus, shortcuts, starting files as the desktop user ---
    // Doubles that do not fake these get the system's answers, except that no menu choice is
    // made (0) and nothing is started through the desktop shell (E_NOTIMPL).

    // The children of the computer folder (folders and non-folders, in the shell's own
    // order) as absolute item-identifier lists; each is allocated with CoTaskMemAlloc and
    // the caller frees it (ILFree). The folder's errors come back as they are.
    virtual HRESULT EnumComputerFolder(HWND hwndOwner, std::vector<LPITEMIDLIST>& children);
    // Same contract as SHGetPathFromIDListW (a MAX_PATH buffer; empty text on failure).
    virtual BOOL PathFromIDList(LPCITEMIDLIST pidl, wchar_t* pszPath);
    // Same contract as SHGetFileInfoW with SHGFI_PIDL (added here).
    virtual DWORD_PTR IDListInfo(LPCITEMIDLIST pidl, SHFILEINFOW* psfi, UINT uFlags);
    // The modal choice from a popup menu, the shell's context menus included. Same
    // contract as TrackPopupMenu with TPM_RETURNCMD: the chosen command, 0 for none.
    virtual UINT TrackMenu(HMENU hMenu, UINT uFlags, int x, int y, HWND hwndOwner);
    // Writes a new shortcut file to the target. Never replaces a file: fails with
    // HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) when the link file is there already.
    virtual HRESULT CreateLink(const wchar_t* pszTarget, const wchar_t* pszLinkFile);
    // The target path of a shortcut file, as stored in it. Shows no window and searches
    // for nothing (it runs inside the drag loop).
    virtual HRESULT ResolveLink(const wchar_t* pszLinkFile, CString& strTarget);
    // Opens a file, or starts a program with parameters, through the desktop's own shell,
    // so that it runs with the desktop user's rights rather than the program's raised ones.
    // S_OK when the desktop shell took it; S_FALSE when this process runs without raised
    // rights (the ordinary call does the same); an error when there is no desktop shell to
    // ask. Callers fall back to Execute or StartProcess on anything but S_OK.
    virtual HRESULT ExecuteAsDesktopUser(const wchar_t* pszVerb, const wchar_t* pszFile,
                                         const wchar_t* pszParameters, const wchar_t* pszDirectory,
                                         int nShow);
};

// The shell in use: the system's own unless a test has installed another.
IShellIo& ShellIo();

// Installs a replacement (nullptr restores the system's). Only tests call this.
void SetShellIoForTesting(IShellIo* pShellIo);

// The system's own shell, for a double that forwards what it does not fake.
IShellIo& SystemShellIo();
