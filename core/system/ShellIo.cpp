#include "ShellIo.h"

#include "afxhandle.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <atomic>

namespace {

// COM for the length of one call on a thread that may not have it yet.
class CComScope {
public:
    CComScope() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComScope()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }

private:
    HRESULT m_hr;
};

template <class T>
void SafeRelease(T*& p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// True when the process runs with raised (administrator) rights.
bool IsProcessElevated()
{
    HANDLE hRaw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hRaw))
        return false;
    CKernelHandle token(hRaw);
    TOKEN_ELEVATION elevation = {};
    DWORD cb = 0;
    BOOL bOk = ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &cb);
    return bOk && elevation.TokenIsElevated;
}

// The desktop's shell automation object (IShellDispatch2 of the shell that draws the
// desktop), or an error when there is no such shell.
HRESULT DesktopShellDispatch(IShellDispatch2** ppDispatch)
{
    *ppDispatch = nullptr;
    IShellWindows* pWindows = nullptr;
    IDispatch* pDesktop = nullptr;
    IServiceProvider* pProvider = nullptr;
    IShellBrowser* pBrowser = nullptr;
    IShellView* pView = nullptr;
    IDispatch* pBackground = nullptr;
    IShellFolderViewDual* pFolderView = nullptr;
    IDispatch* pApplication = nullptr;

    HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                    (void**)&pWindows);
    if (SUCCEEDED(hr)) {
        VARIANT vEmpty;
        ::VariantInit(&vEmpty);
        long hwnd = 0;
        hr = pWindows->FindWindowSW(&vEmpty, &vEmpty, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, &pDesktop);
        if (hr == S_OK && !pDesktop)
            hr = E_FAIL;
        else if (hr == S_FALSE)
            hr = E_FAIL;
    }
    if (SUCCEEDED(hr))
        hr = pDesktop->QueryInterface(IID_IServiceProvider, (void**)&pProvider);
    if (SUCCEEDED(hr))
        hr = pProvider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, (void**)&pBrowser);
    if (SUCCEEDED(hr))
        hr = pBrowser->QueryActiveShellView(&pView);
    if (SUCCEEDED(hr) && !pView)
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = pView->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, (void**)&pBackground);
    if (SUCCEEDED(hr))
        hr = pBackground->QueryInterface(IID_IShellFolderViewDual, (void**)&pFolderView);
    if (SUCCEEDED(hr))
        hr = pFolderView->get_Application(&pApplication);
    if (SUCCEEDED(hr) && !pApplication)
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = pApplication->QueryInterface(IID_IShellDispatch2, (void**)ppDispatch);

    SafeRelease(pApplication);
    SafeRelease(pFolderView);
    SafeRelease(pBackground);
    SafeRelease(pView);
    SafeRelease(pBrowser);
    SafeRelease(pProvider);
    SafeRelease(pDesktop);
    SafeRelease(pWindows);
    return hr;
}

VARIANT TextVariant(const wchar_t* psz)
{
    VARIANT v;
    ::VariantInit(&v);
    if (psz && *psz) {
        v.vt = VT_BSTR;
        v.bstrVal = ::SysAllocString(psz);
    }
    return v;
}

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
            // The program runs on by itself; its handles are given back before the caller's
            // error code is put back, so that their closing cannot change it.
            CKernelHandle thread(pi.hThread);
            CKernelHandle process(pi.hProcess);
        }
        SetLastError(dwError);
        return bOk;
    }

    BOOL SetLabel(const wchar_t* pszRoot, const wchar_t* pszLabel) override
    {
        return ::SetVolumeLabelW(pszRoot, pszLabel);
    }

    HRESULT EnumComputerFolder(HWND hwndOwner, std::vector<LPITEMIDLIST>& children) override
    {
        LPITEMIDLIST pidlComputer = nullptr;
        HRESULT hr = ::SHGetSpecialFolderLocation(hwndOwner, CSIDL_DRIVES, &pidlComputer);
        if (FAILED(hr))
            return hr;
        IShellFolder* pDesktop = nullptr;
        IShellFolder* pComputer = nullptr;
        IEnumIDList* pEnum = nullptr;
        hr = ::SHGetDesktopFolder(&pDesktop);
        if (SUCCEEDED(hr))
            hr = pDesktop->BindToObject(pidlComputer, nullptr, IID_IShellFolder, (void**)&pComputer);
        if (SUCCEEDED(hr))
            hr = pComputer->EnumObjects(hwndOwner, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &pEnum);
        if (SUCCEEDED(hr) && pEnum) {
            LPITEMIDLIST pidlChild = nullptr;
            ULONG nFetched = 0;
            while (pEnum->Next(1, &pidlChild, &nFetched) == S_OK && pidlChild) {
                LPITEMIDLIST pidlAbsolute = ::ILCombine(pidlComputer, pidlChild);
                ::CoTaskMemFree(pidlChild);
                pidlChild = nullptr;
                if (pidlAbsolute)
                    children.push_back(pidlAbsolute);
            }
        }
        if (hr == S_FALSE)
            hr = S_OK;
        SafeRelease(pEnum);
        SafeRelease(pComputer);
        SafeRelease(pDesktop);
        ::CoTaskMemFree(pidlComputer);
        return hr;
    }

    BOOL PathFromIDList(LPCITEMIDLIST pidl, wchar_t* pszPath) override
    {
        pszPath[0] = L'\0';
        BOOL bOk = ::SHGetPathFromIDListW(pidl, pszPath);
        if (!bOk)
            pszPath[0] = L'\0';
        return bOk;
    }

    DWORD_PTR IDListInfo(LPCITEMIDLIST pidl, SHFILEINFOW* psfi, UINT uFlags) override
    {
        return ::SHGetFileInfoW((const wchar_t*)pidl, 0, psfi, sizeof(SHFILEINFOW), uFlags | SHGFI_PIDL);
    }

    UINT TrackMenu(HMENU hMenu, UINT uFlags, int x, int y, HWND hwndOwner) override
    {
        return (UINT)::TrackPopupMenu(hMenu, uFlags | TPM_RETURNCMD, x, y, 0, hwndOwner, nullptr);
    }

    HRESULT CreateLink(const wchar_t* pszTarget, const wchar_t* pszLinkFile) override
    {
        if (!pszTarget || !pszLinkFile || !*pszLinkFile)
            return E_INVALIDARG;
        if (::GetFileAttributesW(pszLinkFile) != INVALID_FILE_ATTRIBUTES)
            return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
        CComScope com;
        IShellLinkW* pLink = nullptr;
        IPersistFile* pFile = nullptr;
        HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                        (void**)&pLink);
        if (SUCCEEDED(hr))
            hr = pLink->SetPath(pszTarget);
        if (SUCCEEDED(hr))
            hr = pLink->QueryInterface(IID_IPersistFile, (void**)&pFile);
        if (SUCCEEDED(hr)) {
            // Written under a private name first and then given its own name by a rename
            // that refuses to replace, so a file that appeared meanwhile is kept.
            CString strTemp;
            strTemp.Format(L"%ls.%lu.tmp", pszLinkFile, ::GetCurrentProcessId());
            hr = pFile->Save(strTemp, TRUE);
            if (SUCCEEDED(hr) && !::MoveFileW(strTemp, pszLinkFile)) {
                DWORD dwError = ::GetLastError();
                hr = (dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_FILE_EXISTS)
                         ? HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)
                         : HRESULT_FROM_WIN32(dwError);
            }
            if (FAILED(hr))
                ::DeleteFileW(strTemp);
        }
        SafeRelease(pFile);
        SafeRelease(pLink);
        return hr;
    }

    HRESULT ResolveLink(const wchar_t* pszLinkFile, CString& strTarget) override
    {
        strTarget.Empty();
        CComScope com;
        IShellLinkW* pLink = nullptr;
        IPersistFile* pFile = nullptr;
        HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                        (void**)&pLink);
        if (SUCCEEDED(hr))
            hr = pLink->QueryInterface(IID_IPersistFile, (void**)&pFile);
        if (SUCCEEDED(hr))
            hr = pFile->Load(pszLinkFile, STGM_READ);
        if (SUCCEEDED(hr)) {
            // No window, no search and no tracking: this runs inside the drag loop.
            pLink->Resolve(nullptr, SLR_NO_UI | SLR_NOUPDATE | SLR_NOSEARCH | SLR_NOTRACK | (1u << 16));
            wchar_t szPath[MAX_PATH] = {};
            hr = pLink->GetPath(szPath, MAX_PATH, nullptr, 0);
            if (hr == S_OK)
                strTarget = szPath;
            else if (SUCCEEDED(hr))
                hr = E_FAIL;  // a shortcut to something without a path
        }
        SafeRelease(pFile);
        SafeRelease(pLink);
        return hr;
    }

    HRESULT ExecuteAsDesktopUser(const wchar_t* pszVerb, const wchar_t* pszFile, const wchar_t* pszParameters,
                                 const wchar_t* pszDirectory, int nShow) override
    {
        if (!pszFile || !*pszFile)
            return E_INVALIDARG;
        if (!IsProcessElevated())
            return S_FALSE;
        CComScope com;
        IShellDispatch2* pDispatch = nullptr;
        HRESULT hr = DesktopShellDispatch(&pDispatch);
        if (FAILED(hr))
            return hr;
        BSTR bstrFile = ::SysAllocString(pszFile);
        VARIANT vArgs = TextVariant(pszParameters);
        VARIANT vDir = TextVariant(pszDirectory);
        VARIANT vVerb = TextVariant(pszVerb);
        VARIANT vShow;
        ::VariantInit(&vShow);
        vShow.vt = VT_I4;
        vShow.lVal = nShow;
        hr = pDispatch->ShellExecute(bstrFile, vArgs, vDir, vVerb, vShow);
        ::VariantClear(&vVerb);
        ::VariantClear(&vDir);
        ::VariantClear(&vArgs);
        ::SysFreeString(bstrFile);
        pDispatch->Release();
        return SUCCEEDED(hr) ? S_OK : hr;
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
    CFindHandle h(::FindFirstFileW(strPattern, &fd));
    if (!h)
        return false;
    bool bFound = false;
    do {
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0)
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM)
            continue;
        bFound = true;
    } while (!bFound && ::FindNextFileW(h.Get(), &fd));
    return bFound;
}
std::atomic<IShellIo*> g_pShellIo{nullptr};

} // namespace

bool IShellIo::FolderHasEntries(const wchar_t* pszFolder) { return ListHasUserEntries(pszFolder); }

HRESULT IShellIo::EnumComputerFolder(HWND hwndOwner, std::vector<LPITEMIDLIST>& children)
{
    return SystemShellIo().EnumComputerFolder(hwndOwner, children);
}

BOOL IShellIo::PathFromIDList(LPCITEMIDLIST pidl, wchar_t* pszPath) { return SystemShellIo().PathFromIDList(pidl, pszPath); }

DWORD_PTR IShellIo::IDListInfo(LPCITEMIDLIST pidl, SHFILEINFOW* psfi, UINT uFlags)
{
    return SystemShellIo().IDListInfo(pidl, psfi, uFlags);
}

UINT IShellIo::TrackMenu(HMENU, UINT, int, int, HWND) { return 0; }

HRESULT IShellIo::CreateLink(const wchar_t* pszTarget, const wchar_t* pszLinkFile)
{
    return SystemShellIo().CreateLink(pszTarget, pszLinkFile);
}

HRESULT IShellIo::ResolveLink(const wchar_t* pszLinkFile, CString& strTarget)
{
    return SystemShellIo().ResolveLink(pszLinkFile, strTarget);
}

HRESULT IShellIo::ExecuteAsDesktopUser(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, int)
{
    return E_NOTIMPL;
}

IShellIo& ShellIo()
{
    IShellIo* p = g_pShellIo.load();
    return p ? *p : g_systemShellIo;
}

void SetShellIoForTesting(IShellIo* pShellIo) { g_pShellIo.store(pShellIo); }

IShellIo& SystemShellIo() { return g_systemShellIo; }
