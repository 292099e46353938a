#include "tree_test_support.h"

#include "InitTreeCtrl.h"
#include "afxhandle.h"

#include <algorithm>
#include <cstdio>

namespace treetest {

static void CollectFiles(const CString& strBase, const CString& strRel, std::vector<std::wstring>& out)
{
    WIN32_FIND_DATAW fd;
    CString strDir = strRel.IsEmpty() ? strBase : strBase + L"\\" + strRel;
    CFindHandle hFind(::FindFirstFileW(strDir + L"\\*", &fd));
    if (!hFind)
        return;
    do {
        CString strName(fd.cFileName);
        if (strName == L"." || strName == L"..")
            continue;
        CString strChild = strRel.IsEmpty() ? strName : strRel + L"\\" + strName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectFiles(strBase, strChild, out);
        } else {
            strChild.MakeUpper();
            out.push_back(strChild.str());
        }
    } while (::FindNextFileW(hFind.Get(), &fd));
}

std::vector<std::wstring> FilesBelow(const CString& strFolder)
{
    std::vector<std::wstring> out;
    CollectFiles(strFolder, CString(), out);
    std::sort(out.begin(), out.end());
    return out;
}

namespace {

// The Unix path of a Windows path under Wine (empty elsewhere).
std::string UnixPathOf(const CString& strPath)
{
    typedef char*(CDECL * PFN)(LPCWSTR);
    PFN pfn = (PFN)::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!pfn)
        return std::string();
    char* p = pfn(strPath);
    std::string s = p ? p : "";
    if (p)
        ::HeapFree(::GetProcessHeap(), 0, p);
    return s;
}

// Runs a Unix program through Wine's process creation and waits for it.
bool RunUnix(const std::string& strCommandLine)
{
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::string line = strCommandLine;
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    ::WaitForSingleObject(pi.hProcess, 20000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

std::string DosDeviceLink(wchar_t ch)
{
    char szPrefix[1024] = {};
    if (!::GetEnvironmentVariableA("WINEPREFIX", szPrefix, sizeof(szPrefix)) || !szPrefix[0])
        return std::string();
    std::string s = szPrefix;
    s += "/dosdevices/";
    s += (char)towlower(ch);
    s += ":";
    return s;
}

} // namespace

CMappedDrive::CMappedDrive(const CString& strFolder, wchar_t chPreferred) : m_strTarget(strFolder)
{
    // D to Y: A and B are floppy letters, C is the system's, Z is Wine's view of the Unix root.
    const wchar_t chFirst = L'D', chLast = L'Y';
    chPreferred = (wchar_t)towupper(chPreferred);
    if (chPreferred < chFirst || chPreferred > chLast)
        chPreferred = chFirst;
    const int nLetters = chLast - chFirst + 1;
    for (int i = 0; i < nLetters && !m_ch; ++i) {
        wchar_t ch = (wchar_t)(chFirst + (chPreferred - chFirst + i) % nLetters);
        if (TryLetter(ch))
            m_ch = ch;
    }
}

bool CMappedDrive::ShowsFolder(wchar_t ch) const
{
    // A marker made in the folder must be visible through the letter.
    CString strMarker;
    strMarker.Format(L"drive_claim_%lu.tmp", ::GetCurrentProcessId());
    CString strInFolder = m_strTarget + L"\\" + strMarker;
    if (!WriteBytes(strInFolder, "claim"))
        return false;
    CString strThrough;
    strThrough.Format(L"%lc:\\%ls", ch, strMarker.GetString());
    bool bSeen = ::GetFileAttributesW(strThrough) != INVALID_FILE_ATTRIBUTES;
    ::DeleteFileW(strInFolder);
    return bSeen;
}

bool CMappedDrive::TryLetter(wchar_t ch)
{
    // Wine finds its drive letters as links in the prefix's "dosdevices" folder.
    CString strRoot;
    strRoot.Format(L"%lc:\\", ch);
    if (::GetFileAttributesW(strRoot) != INVALID_FILE_ATTRIBUTES)
        return false;   // in use
    std::string strLink = DosDeviceLink(ch);
    std::string strTarget = UnixPathOf(m_strTarget);
    if (strLink.empty() || strTarget.empty())
        return false;
    // A link left behind to a folder that is gone is removed; the new link is made without
    // replacing anything, so that a program that got the letter first keeps it.
    RunUnix("/bin/rm -f \"" + strLink + "\"");
    RunUnix("/bin/ln -sn \"" + strTarget + "\" \"" + strLink + "\"");
    // A Unix program started this way may still be running when the wait returns.
    for (int nTry = 0; nTry < 100; ++nTry) {
        if (::GetFileAttributesW(strRoot) != INVALID_FILE_ATTRIBUTES)
            return ShowsFolder(ch);
        ::Sleep(30);
    }
    return false;
}

CMappedDrive::~CMappedDrive()
{
    if (m_ch && ShowsFolder(m_ch))
        RunUnix("/bin/rm -f \"" + DosDeviceLink(m_ch) + "\"");
}

const CMappedDrive* FreshDrive(wchar_t chPreferred, CString* pstrFolder)
{
    static CTempDir s_folder(L"drive");
    static CMappedDrive s_drive(s_folder.Path(), chPreferred);
    if (!s_drive.Ok())
        return nullptr;
    for (const CString& strName : testsupport::ListFolder(s_folder.Path()))
        RemoveTree(s_folder.Path() + L"\\" + strName);
    if (pstrFolder)
        *pstrFolder = s_folder.Path();
    return &s_drive;
}

CString CMappedDrive::Root() const
{
    CString s;
    s.Format(L"%lc:\\", m_ch);
    return s;
}

CString CMappedDrive::Drive() const
{
    CString s;
    s.Format(L"%lc:", m_ch);
    return s;
}

bool DosAttributesWork(const CString& strFolder)
{
    CString strProbe = strFolder + L"\\attr_probe.txt";
    if (!WriteBytes(strProbe, "x"))
        return false;
    bool bOk = ::SetFileAttributesW(strProbe, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN) &&
               (::GetFileAttributesW(strProbe) & FILE_ATTRIBUTE_SYSTEM);
    ::SetFileAttributesW(strProbe, FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(strProbe);
    return bOk;
}

// --- Shell double ----------------------------------------------------------------------------

static std::wstring UpperKey(const wchar_t* psz)
{
    CString s(psz ? psz : L"");
    s.MakeUpper();
    return s.str();
}

CFakeShell::CFakeShell() { SetShellIoForTesting(this); }
CFakeShell::~CFakeShell() { SetShellIoForTesting(nullptr); }

UINT CFakeShell::DriveType(const wchar_t* pszRoot)
{
    auto it = driveTypes.find(UpperKey(pszRoot));
    if (it != driveTypes.end())
        return it->second;
    if (displayNames.count(UpperKey(pszRoot)))
        return DRIVE_FIXED;
    return SystemShellIo().DriveType(pszRoot);
}

BOOL CFakeShell::VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize, DWORD* pnSerial,
                                   DWORD* pnMaxComponent, DWORD* pnFlags, wchar_t* pszFileSystem,
                                   DWORD nFileSystemSize)
{
    auto it = fileSystems.find(UpperKey(pszRoot));
    if (it == fileSystems.end())
        return SystemShellIo().VolumeInformation(pszRoot, pszLabel, nLabelSize, pnSerial, pnMaxComponent, pnFlags,
                                                 pszFileSystem, nFileSystemSize);
    if (pszLabel && nLabelSize)
        pszLabel[0] = 0;
    if (pszFileSystem && nFileSystemSize)
        lstrcpynW(pszFileSystem, it->second.c_str(), (int)nFileSystemSize);
    return TRUE;
}

DWORD_PTR CFakeShell::FileInfo(const wchar_t* pszPath, DWORD, SHFILEINFOW* psfi, UINT uFlags)
{
    ++nFileInfoCalls;
    std::wstring key = UpperKey(pszPath);
    if (psfi) {
        auto itIcon = icons.find(key);
        psfi->iIcon = itIcon != icons.end() ? itIcon->second : 1;
        psfi->szDisplayName[0] = 0;
        if (uFlags & SHGFI_DISPLAYNAME) {
            auto it = displayNames.find(key);
            if (it != displayNames.end())
                lstrcpynW(psfi->szDisplayName, it->second.c_str(), MAX_PATH);
            else {
                CString strName(pszPath);
                int n = strName.ReverseFind(L'\\');
                lstrcpynW(psfi->szDisplayName, n >= 0 ? strName.Mid(n + 1).GetString() : pszPath, MAX_PATH);
            }
        }
        if (uFlags & SHGFI_ATTRIBUTES) {
            auto it = shellAttributes.find(key);
            psfi->dwAttributes = it != shellAttributes.end() ? it->second : 0;
        }
    }
    return 1;
}

int CFakeShell::FileOperation(SHFILEOPSTRUCTW* pOp)
{
    if (pOp->wFunc != FO_DELETE)
        return 1;
    std::wstring list;
    const wchar_t* p = pOp->pFrom;
    while (*p) {
        std::wstring one(p);
        if (!list.empty())
            list += L'|';
        list += one;
        p += one.size() + 1;
    }
    deletedLists.push_back(list);
    pOp->fAnyOperationsAborted = FALSE;
    if (bPerformDeletes) {
        for (const wchar_t* q = pOp->pFrom; *q; q += wcslen(q) + 1)
            RemoveTree(q);
    }
    return 0;
}

// --- Image lists and host --------------------------------------------------------------------

CTreeImageLists::CTreeImageLists()
{
    g_hStateImageList = ImageList_Create(16, 16, ILC_COLOR16 | ILC_MASK, 6, 6);
    g_hNormalImageList = ImageList_Create(16, 16, ILC_COLOR16 | ILC_MASK, 8, 8);
    HICON hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    for (int i = 0; i < 6; ++i)
        ImageList_AddIcon(g_hStateImageList, hIcon);
    for (int i = 0; i < 8; ++i)
        ImageList_AddIcon(g_hNormalImageList, hIcon);
    g_nDiskImage = 7;
}

CTreeImageLists::~CTreeImageLists()
{
    ImageList_Destroy(g_hStateImageList);
    ImageList_Destroy(g_hNormalImageList);
    g_hStateImageList = nullptr;
    g_hNormalImageList = nullptr;
}

BOOL CTreeHost::CreateHost()
{
    return CreateEx(0, nullptr, L"trees", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, CRect(0, 0, 700, 500), nullptr, 0);
}

HTREEITEM OpenTreePath(CInitTreeCtrl& tree, HTREEITEM hRootItem, const CString& strRoot, const CString& strPath)
{
    HTREEITEM h = hRootItem;
    CString strRest = strPath.Mid(strRoot.GetLength());
    CString strSoFar = strRoot;
    int nStart = 0;
    while (h && nStart < strRest.GetLength()) {
        CString strPart = strRest.Tokenize(L"\\", nStart);
        if (strPart.IsEmpty())
            break;
        tree.Expand(h, TVE_EXPAND);
        strSoFar += strPart + L"\\";
        h = tree.FindListedItem(strSoFar);
    }
    return h;
}

} // namespace treetest
