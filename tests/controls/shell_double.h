#pragma once
// A shell for the file-management tests: it records what the program asks of the shell,
// never starts programs, opens files or writes volume labels, and answers the computer
// folder's enumeration with the system's children plus the nodes a test adds. Everything
// else (file facts, shortcuts, file operations unless told otherwise) goes to the system.

#include "ShellIo.h"

#include <string>
#include <vector>

class CShellDouble : public IShellIo {
public:
    CShellDouble();   // installs itself
    ~CShellDouble() override;  // puts the system's shell back

    struct FileOp {
        UINT wFunc;
        std::wstring from, to;  // up to the double terminator
        FILEOP_FLAGS flags;
        std::wstring title;
        HWND hwnd;
    };
    struct Launch {
        std::wstring how;  // "desktop", "execute" or "process"
        std::wstring verb, file, parameters;
    };
    struct FakeChild {
        std::vector<BYTE> pidl;  // absolute
        std::wstring path;       // empty for a node without a file-system path
        std::wstring name;
        int icon = 0;
        DWORD attributes = 0;
    };

    // Recorded calls.
    std::vector<FileOp> fileOps;
    std::vector<Launch> launches;
    std::vector<std::pair<std::wstring, std::wstring>> labels;
    std::vector<std::wstring> menuTexts;  // the items of the last menu shown

    // Answers.
    bool forwardFileOps = true;     // run the system's file operation
    int fileOpResult = 0;           // when not forwarded
    bool fileOpAborted = false;     // when not forwarded: the user cancelled
    HRESULT desktopResult = E_FAIL; // no desktop shell: callers fall back
    BOOL labelResult = TRUE;
    std::wstring menuChoice;        // the menu item whose text (without '&') contains this
    bool hideSystemChildren = false;
    std::vector<std::pair<std::wstring, std::wstring>> displayNames;  // path -> display name
    std::wstring noFileSystem;      // drive letters whose volume shows no file system
    std::vector<FakeChild> extraChildren;

    // A node of the computer folder with a made-up item-identifier list; returns its index.
    size_t AddNode(const std::wstring& name, BYTE tag, int icon = 3, const std::wstring& path = L"");
    void RemoveNode(BYTE tag);
    static std::vector<BYTE> ComputerChildPidl(BYTE tag);

    DWORD LogicalDrives() override;
    UINT DriveType(const wchar_t* pszRoot) override;
    BOOL VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize, DWORD* pnSerial,
                           DWORD* pnMaxComponent, DWORD* pnFlags, wchar_t* pszFileSystem,
                           DWORD nFileSystemSize) override;
    BOOL DiskFreeSpace(const wchar_t* pszPath, ULARGE_INTEGER* pFreeToCaller, ULARGE_INTEGER* pTotal,
                       ULARGE_INTEGER* pTotalFree) override;
    DWORD_PTR FileInfo(const wchar_t* pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT uFlags) override;
    int FileOperation(SHFILEOPSTRUCTW* pOp) override;
    HINSTANCE Execute(HWND hwnd, const wchar_t* pszVerb, const wchar_t* pszFile, const wchar_t* pszParameters,
                      const wchar_t* pszDirectory, int nShow) override;
    BOOL StartProcess(const wchar_t* pszApplication, const wchar_t* pszCommandLine,
                      const wchar_t* pszDirectory) override;
    BOOL SetLabel(const wchar_t* pszRoot, const wchar_t* pszLabel) override;
    HRESULT EnumComputerFolder(HWND hwndOwner, std::vector<LPITEMIDLIST>& children) override;
    BOOL PathFromIDList(LPCITEMIDLIST pidl, wchar_t* pszPath) override;
    DWORD_PTR IDListInfo(LPCITEMIDLIST pidl, SHFILEINFOW* psfi, UINT uFlags) override;
    UINT TrackMenu(HMENU hMenu, UINT uFlags, int x, int y, HWND hwndOwner) override;
    HRESULT CreateLink(const wchar_t* pszTarget, const wchar_t* pszLinkFile) override;
    HRESULT ResolveLink(const wchar_t* pszLinkFile, CString& strTarget) override;
    HRESULT ExecuteAsDesktopUser(const wchar_t* pszVerb, const wchar_t* pszFile, const wchar_t* pszParameters,
                                 const wchar_t* pszDirectory, int nShow) override;

private:
    const FakeChild* FindFake(LPCITEMIDLIST pidl) const;
};

// Size in bytes of an item-identifier list with its terminator.
UINT PidlSize(LPCITEMIDLIST pidl);
