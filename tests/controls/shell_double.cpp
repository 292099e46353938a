#include "shell_double.h"

#include <cstring>
#include <cwctype>

UINT PidlSize(LPCITEMIDLIST pidl)
{
    if (!pidl)
        return 0;
    UINT n = 0;
    const BYTE* p = reinterpret_cast<const BYTE*>(pidl);
    for (;;) {
        USHORT cb;
        memcpy(&cb, p + n, sizeof(cb));
        if (cb == 0)
            return n + 2;
        n += cb;
    }
}

CShellDouble::CShellDouble() { SetShellIoForTesting(this); }

CShellDouble::~CShellDouble() { SetShellIoForTesting(nullptr); }

std::vector<BYTE> CShellDouble::ComputerChildPidl(BYTE tag)
{
    LPITEMIDLIST pidlComputer = nullptr;
    std::vector<BYTE> bytes;
    if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &pidlComputer))) {
        UINT n = PidlSize(pidlComputer) - 2;
        bytes.assign(reinterpret_cast<BYTE*>(pidlComputer), reinterpret_cast<BYTE*>(pidlComputer) + n);
        ::CoTaskMemFree(pidlComputer);
    }
    // One made-up child item: size, a type byte no real folder uses, the tag, padding.
    const BYTE child[] = {8, 0, 0x7E, tag, 'Z', 'U', 'L', 0};
    bytes.insert(bytes.end(), child, child + sizeof(child));
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

size_t CShellDouble::AddNode(const std::wstring& name, BYTE tag, int icon, const std::wstring& path)
{
    FakeChild c;
    c.pidl = ComputerChildPidl(tag);
    c.name = name;
    c.icon = icon;
    c.path = path;
    extraChildren.push_back(c);
    return extraChildren.size() - 1;
}

void CShellDouble::RemoveNode(BYTE tag)
{
    std::vector<BYTE> pidl = ComputerChildPidl(tag);
    for (size_t i = 0; i < extraChildren.size(); ++i)
        if (extraChildren[i].pidl == pidl) {
            extraChildren.erase(extraChildren.begin() + i);
            return;
        }
}

const CShellDouble::FakeChild* CShellDouble::FindFake(LPCITEMIDLIST pidl) const
{
    UINT n = PidlSize(pidl);
    for (const FakeChild& c : extraChildren)
        if (c.pidl.size() == n && memcmp(c.pidl.data(), pidl, n) == 0)
            return &c;
    return nullptr;
}

DWORD CShellDouble::LogicalDrives() { return SystemShellIo().LogicalDrives(); }

UINT CShellDouble::DriveType(const wchar_t* pszRoot) { return SystemShellIo().DriveType(pszRoot); }

BOOL CShellDouble::VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize, DWORD* pnSerial,
                                     DWORD* pnMaxComponent, DWORD* pnFlags, wchar_t* pszFileSystem,
                                     DWORD nFileSystemSize)
{
    if (pszRoot && pszRoot[0] && noFileSystem.find(towupper(pszRoot[0])) != std::wstring::npos) {
        ::SetLastError(ERROR_UNRECOGNIZED_VOLUME);
        return FALSE;
    }
    return SystemShellIo().VolumeInformation(pszRoot, pszLabel, nLabelSize, pnSerial, pnMaxComponent, pnFlags,
                                             pszFileSystem, nFileSystemSize);
}

BOOL CShellDouble::DiskFreeSpace(const wchar_t* pszPath, ULARGE_INTEGER* pFreeToCaller, ULARGE_INTEGER* pTotal,
                                 ULARGE_INTEGER* pTotalFree)
{
    return SystemShellIo().DiskFreeSpace(pszPath, pFreeToCaller, pTotal, pTotalFree);
}

DWORD_PTR CShellDouble::FileInfo(const wchar_t* pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT uFlags)
{
    DWORD_PTR r = SystemShellIo().FileInfo(pszPath, dwFileAttributes, psfi, uFlags);
    if ((uFlags & SHGFI_DISPLAYNAME) && pszPath && !(uFlags & SHGFI_PIDL)) {
        for (const auto& dn : displayNames)
            if (_wcsicmp(dn.first.c_str(), pszPath) == 0) {
                wcsncpy(psfi->szDisplayName, dn.second.c_str(), MAX_PATH - 1);
                return r ? r : 1;
            }
    }
    return r;
}

namespace {
std::wstring ListText(const wchar_t* p)
{
    std::wstring s;
    if (!p)
        return s;
    // Up to the double terminator, the single ones kept.
    while (*p) {
        size_t n = wcslen(p);
        if (!s.empty())
            s.push_back(L'|');
        s.append(p, n);
        p += n + 1;
    }
    return s;
}
} // namespace

int CShellDouble::FileOperation(SHFILEOPSTRUCTW* pOp)
{
    FileOp op;
    op.wFunc = pOp->wFunc;
    op.from = ListText(pOp->pFrom);
    op.to = ListText(pOp->pTo);
    op.flags = pOp->fFlags;
    op.title = pOp->lpszProgressTitle ? pOp->lpszProgressTitle : L"";
    op.hwnd = pOp->hwnd;
    fileOps.push_back(op);
    if (forwardFileOps)
        return SystemShellIo().FileOperation(pOp);
    pOp->fAnyOperationsAborted = fileOpAborted;
    return fileOpResult;
}

HINSTANCE CShellDouble::Execute(HWND, const wchar_t* pszVerb, const wchar_t* pszFile, const wchar_t* pszParameters,
                                const wchar_t*, int)
{
    launches.push_back({L"execute", pszVerb ? pszVerb : L"", pszFile ? pszFile : L"",
                        pszParameters ? pszParameters : L""});
    return (HINSTANCE)42;
}

BOOL CShellDouble::StartProcess(const wchar_t* pszApplication, const wchar_t* pszCommandLine, const wchar_t*)
{
    launches.push_back({L"process", L"", pszApplication ? pszApplication : L"", pszCommandLine ? pszCommandLine : L""});
    return TRUE;
}

BOOL CShellDouble::SetLabel(const wchar_t* pszRoot, const wchar_t* pszLabel)
{
    labels.emplace_back(pszRoot ? pszRoot : L"", pszLabel ? pszLabel : L"");
    return labelResult;
}

HRESULT CShellDouble::EnumComputerFolder(HWND hwndOwner, std::vector<LPITEMIDLIST>& children)
{
    if (!hideSystemChildren) {
        HRESULT hr = SystemShellIo().EnumComputerFolder(hwndOwner, children);
        if (FAILED(hr))
            return hr;
    }
    for (const FakeChild& c : extraChildren) {
        LPITEMIDLIST p = (LPITEMIDLIST)::CoTaskMemAlloc(c.pidl.size());
        memcpy(p, c.pidl.data(), c.pidl.size());
        children.push_back(p);
    }
    return S_OK;
}

BOOL CShellDouble::PathFromIDList(LPCITEMIDLIST pidl, wchar_t* pszPath)
{
    if (const FakeChild* c = FindFake(pidl)) {
        wcsncpy(pszPath, c->path.c_str(), MAX_PATH - 1);
        pszPath[MAX_PATH - 1] = 0;
        return !c->path.empty();
    }
    return SystemShellIo().PathFromIDList(pidl, pszPath);
}

DWORD_PTR CShellDouble::IDListInfo(LPCITEMIDLIST pidl, SHFILEINFOW* psfi, UINT uFlags)
{
    if (const FakeChild* c = FindFake(pidl)) {
        memset(psfi, 0, sizeof(*psfi));
        wcsncpy(psfi->szDisplayName, c->name.c_str(), MAX_PATH - 1);
        psfi->iIcon = c->icon;
        psfi->dwAttributes = c->attributes;
        return 1;
    }
    return SystemShellIo().IDListInfo(pidl, psfi, uFlags);
}

UINT CShellDouble::TrackMenu(HMENU hMenu, UINT, int, int, HWND)
{
    menuTexts.clear();
    UINT chosen = 0;
    int n = ::GetMenuItemCount(hMenu);
    for (int i = 0; i < n; ++i) {
        wchar_t sz[256] = {};
        ::GetMenuStringW(hMenu, i, sz, 255, MF_BYPOSITION);
        std::wstring text;
        for (const wchar_t* p = sz; *p; ++p)
            if (*p != L'&')
                text.push_back(*p);
        menuTexts.push_back(text);
        if (!chosen && !menuChoice.empty() && text.find(menuChoice) != std::wstring::npos) {
            UINT id = ::GetMenuItemID(hMenu, i);
            if (id != (UINT)-1)
                chosen = id;
        }
    }
    return chosen;
}

HRESULT CShellDouble::CreateLink(const wchar_t* pszTarget, const wchar_t* pszLinkFile)
{
    return SystemShellIo().CreateLink(pszTarget, pszLinkFile);
}

HRESULT CShellDouble::ResolveLink(const wchar_t* pszLinkFile, CString& strTarget)
{
    return SystemShellIo().ResolveLink(pszLinkFile, strTarget);
}

HRESULT CShellDouble::ExecuteAsDesktopUser(const wchar_t* pszVerb, const wchar_t* pszFile,
                                           const wchar_t* pszParameters, const wchar_t*, int)
{
    launches.push_back({L"desktop", pszVerb ? pszVerb : L"", pszFile ? pszFile : L"",
                        pszParameters ? pszParameters : L""});
    return desktopResult;
}
