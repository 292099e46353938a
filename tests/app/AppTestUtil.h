#pragma once
// Doubles and helpers of the main program's tests: a shell that answers drive facts from a
// table and records the programs it is asked to start, a system whose session query can fail,
// and a folder-tree stand-in that records what the shell events ask of it.

#include "afxwin.h"
#include "ShellChangeSink.h"
#include "ShellIo.h"
#include "SystemIo.h"

#include <map>
#include <string>
#include <vector>

// One drive as the shell double reports it.
struct DriveFacts {
    UINT type = DRIVE_FIXED;
    CString displayName;     // SHGFI_DISPLAYNAME
    int icon = 8;            // SHGFI_SYSICONINDEX
    bool ready = true;       // medium present (volume information answers)
    CString fileSystem = L"NTFS";
    bool hasEntries = true;  // listing the root finds user entries
};

class CShellIoTable : public IShellIo {
public:
    CShellIoTable() { SetShellIoForTesting(this); }
    ~CShellIoTable() override { SetShellIoForTesting(nullptr); }

    std::map<std::wstring, DriveFacts> drives;  // key "E:\"
    struct Started {
        CString application, commandLine;
    };
    std::vector<Started> started;

    const DriveFacts* Find(const wchar_t* pszPath) const;

    DWORD LogicalDrives() override;
    UINT DriveType(const wchar_t* pszRoot) override;
    BOOL VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize, DWORD* pnSerial,
                           DWORD* pnMaxComponent, DWORD* pnFlags, wchar_t* pszFileSystem,
                           DWORD nFileSystemSize) override;
    BOOL DiskFreeSpace(const wchar_t* pszPath, ULARGE_INTEGER* a, ULARGE_INTEGER* b, ULARGE_INTEGER* c) override
    {
        return SystemShellIo().DiskFreeSpace(pszPath, a, b, c);
    }
    DWORD_PTR FileInfo(const wchar_t* pszPath, DWORD dwAttr, SHFILEINFOW* psfi, UINT uFlags) override;
    int FileOperation(SHFILEOPSTRUCTW* pOp) override { return SystemShellIo().FileOperation(pOp); }
    HINSTANCE Execute(HWND, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, int) override
    {
        return (HINSTANCE)33;
    }
    BOOL StartProcess(const wchar_t* pszApplication, const wchar_t* pszCommandLine, const wchar_t*) override
    {
        started.push_back({pszApplication ? pszApplication : L"", pszCommandLine ? pszCommandLine : L""});
        return TRUE;
    }
    BOOL SetLabel(const wchar_t*, const wchar_t*) override { return FALSE; }
    bool FolderHasEntries(const wchar_t* pszFolder) override;
    // The shell namespace, menus, shortcuts and the desktop user's launches: the interface's
    // own answers (the system's, no menu choice, nothing started through the desktop).
};

class CSystemIoDouble : public ISystemIo {
public:
    explicit CSystemIoDouble(bool bSessionOk, const wchar_t* pszUser = L"tester") : m_bOk(bSessionOk), m_strUser(pszUser)
    {
        SetSystemIoForTesting(this);
    }
    ~CSystemIoDouble() override { SetSystemIoForTesting(nullptr); }
    BOOL ShutDown(UINT, DWORD) override { return FALSE; }
    BOOL QuerySessionUserName(CString& s) override
    {
        if (!m_bOk)
            return FALSE;
        s = m_strUser;
        return TRUE;
    }

private:
    bool m_bOk;
    CString m_strUser;
};

// A window that stands in for a folder tree and writes each call as one line.
class CTreeRecorder : public CWnd, public IShellChangeSink {
public:
    explicit CTreeRecorder(const char* pszName) : m_name(pszName) {}
    BOOL CreateHidden();

    std::string m_name;
    std::vector<std::string> calls;
    std::vector<std::wstring> items;  // paths that HasItemForPath reports as shown

    void ShellRenameAcrossFolders(const CString& a, const CString& b) override { Log("moved", a, b); }
    void ShellRenameInFolder(const CString& a, const CString& b) override { Log("renamed", a, b); }
    void ShellItemCreated(const CString& a) override { Log("created", a); }
    void ShellItemDeleted(const CString& a) override { Log("deleted", a); }
    void ShellShareChanged(const CString& a) override { Log("share", a); }
    void ShellFolderUpdated(const CString& a) override { Log("updated", a); }
    bool HasItemForPath(const CString& a) override;
    void SetPathItemImage(const CString& a, int n) override;
    void AddDriveItem(const CString& root, const CString& text, int image, DWORD_PTR data, int state) override;
    void RemoveDriveItem(const CString& root) override;
    void AddDriveRoot(const CString& root) override { Log("root", root); }
    void ShowDriveRoot(const CString& d) override { Log("show", d); }
    bool RemoveTopDriveItem(const CString& d) override
    {
        Log("removetop", d);
        return true;
    }

    void Log(const char* what, const CString& a, const CString& b = CString());
};

std::string Narrow(const CString& s);
