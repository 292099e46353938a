#pragma once
// Support for the folder-tree tests: a private temporary folder standing in for a drive through
// a drive letter of its own, the program's two image lists, a table-driven shell double that
// records file operations, and a report sink for failed selection writes.

#include "ShellIo.h"
#include "TreeShared.h"
#include "afxwin.h"
#include "test_files.h"

#include <map>
#include <string>
#include <vector>

class CInitTreeCtrl;

namespace treetest {

// File helpers (absolute paths) and a fresh folder below the temporary path, removed at the end.
using testsupport::FileExists;
using testsupport::MakeFolder;
using testsupport::ReadBytes;
using testsupport::RemoveTree;
using testsupport::WriteBytes;
typedef testsupport::CTempFolder CTempDir;
// Relative paths of every file below a folder, sorted, upper-cased.
std::vector<std::wstring> FilesBelow(const CString& strFolder);

// A drive letter that stands for a folder while the object lives. The preferred letter is tried
// first, then the other letters from D to Y after it; a letter already in use is passed over.
// A letter counts as mapped only when the folder is seen through it, so that two test programs
// mapping at the same moment never share one.
class CMappedDrive {
public:
    CMappedDrive(const CString& strFolder, wchar_t chPreferred);
    ~CMappedDrive();
    bool Ok() const { return m_ch != 0; }
    wchar_t Letter() const { return m_ch; }
    CString Root() const;    // "Q:\"
    CString Drive() const;   // "Q:"
    // A path on the drive: Root() followed by a path relative to it ("A\b.txt").
    CString operator/(const wchar_t* pszRel) const { return Root() + pszRel; }

private:
    bool TryLetter(wchar_t ch);
    // True when the folder is what the letter shows now.
    bool ShowsFolder(wchar_t ch) const;

    wchar_t m_ch = 0;
    CString m_strTarget;
};

// A drive letter mapped once for the whole test program to a private folder, emptied on each
// call (the folder in *pstrFolder): null when no letter at all could be mapped, which a test
// reports as a failure.
const CMappedDrive* FreshDrive(wchar_t chPreferred, CString* pstrFolder);

// True when a hidden or system attribute set on a file in the folder reads back (Wine keeps
// DOS attributes only where the file system can store them).
bool DosAttributesWork(const CString& strFolder);

// The shell double: display names and file systems of drive roots from a table, icon 1 for
// everything else (with optional shell attributes per path), the drive type from a table, else
// fixed for a drive with a display name, else the system's answer; file operations are recorded
// and, when bPerformDeletes, carried out.
class CFakeShell : public IShellIo {
public:
    CFakeShell();
    ~CFakeShell() override;

    std::map<std::wstring, std::wstring> displayNames;   // upper-cased "Q:\" -> "(Q:) Store"
    std::map<std::wstring, std::wstring> fileSystems;    // upper-cased "Q:\" -> "NTFS" ("" none)
    std::map<std::wstring, DWORD> shellAttributes;       // upper-cased path -> SFGAO_*
    std::map<std::wstring, int> icons;                   // upper-cased path -> icon (else 1)
    std::map<std::wstring, UINT> driveTypes;             // upper-cased "Q:\" -> DRIVE_* (overrides)
    std::vector<std::wstring> deletedLists;              // each FO_DELETE's list, zeros as '|'
    bool bPerformDeletes = false;
    int nFileInfoCalls = 0;

    DWORD LogicalDrives() override { return SystemShellIo().LogicalDrives(); }
    UINT DriveType(const wchar_t* pszRoot) override;
    BOOL VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize, DWORD* pnSerial,
                           DWORD* pnMaxComponent, DWORD* pnFlags, wchar_t* pszFileSystem,
                           DWORD nFileSystemSize) override;
    BOOL DiskFreeSpace(const wchar_t* p, ULARGE_INTEGER* a, ULARGE_INTEGER* b, ULARGE_INTEGER* c) override
    {
        return SystemShellIo().DiskFreeSpace(p, a, b, c);
    }
    DWORD_PTR FileInfo(const wchar_t* pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT uFlags) override;
    int FileOperation(SHFILEOPSTRUCTW* pOp) override;
    HINSTANCE Execute(HWND, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, int) override
    {
        return (HINSTANCE)2;
    }
    BOOL StartProcess(const wchar_t*, const wchar_t*, const wchar_t*) override { return FALSE; }
    BOOL SetLabel(const wchar_t*, const wchar_t*) override { return FALSE; }
    // The shell namespace comes from the system (the interface's own answer).
    // Menus answer with nMenuChoice (0: dismissed) instead of waiting for a person.
    UINT nMenuChoice = 0;
    int nMenusShown = 0;
    UINT TrackMenu(HMENU, UINT, int, int, HWND) override
    {
        ++nMenusShown;
        return nMenuChoice;
    }
    HRESULT CreateLink(const wchar_t*, const wchar_t*) override { return E_NOTIMPL; }
    HRESULT ResolveLink(const wchar_t*, CString&) override { return E_NOTIMPL; }
};

// Records failed selection writes.
class CReportSink : public ITreeReporter {
public:
    CReportSink() { SetTreeReporter(this); }
    ~CReportSink() override { SetTreeReporter(nullptr); }
    void SelectionWriteFailed(HWND, const wchar_t* pszFile, DWORD dwError) override
    {
        files.push_back(pszFile);
        errors.push_back(dwError);
    }
    std::vector<std::wstring> files;
    std::vector<DWORD> errors;
};

// The normal and state image lists, set into the program-wide handles for the test's life.
class CTreeImageLists {
public:
    CTreeImageLists();
    ~CTreeImageLists();
};

// A plain parent window for the trees (reflects their notifications).
class CTreeHost : public CWnd {
public:
    BOOL CreateHost();
};

// Expands a tree from an item listed for a root path ("C:\") down to a path below it, the way a
// user opens the folders, and returns the path's item (null when it is not listed).
HTREEITEM OpenTreePath(CInitTreeCtrl& tree, HTREEITEM hRootItem, const CString& strRoot, const CString& strPath);

} // namespace treetest
