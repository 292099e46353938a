#include "AppTestUtil.h"

const DriveFacts* CShellIoTable::Find(const wchar_t* pszPath) const
{
    if (!pszPath || !pszPath[0] || pszPath[1] != L':')
        return nullptr;
    std::wstring root{(wchar_t)towupper(pszPath[0]), L':', L'\\'};
    auto it = drives.find(root);
    return it == drives.end() ? nullptr : &it->second;
}

DWORD CShellIoTable::LogicalDrives()
{
    DWORD mask = 0;
    for (auto& d : drives)
        mask |= 1u << (d.first[0] - L'A');
    return mask;
}

UINT CShellIoTable::DriveType(const wchar_t* pszRoot)
{
    const DriveFacts* d = Find(pszRoot);
    return d ? d->type : DRIVE_NO_ROOT_DIR;
}

BOOL CShellIoTable::VolumeInformation(const wchar_t* pszRoot, wchar_t* pszLabel, DWORD nLabelSize, DWORD*, DWORD*,
                                      DWORD*, wchar_t* pszFileSystem, DWORD nFileSystemSize)
{
    const DriveFacts* d = Find(pszRoot);
    if (!d || !d->ready) {
        ::SetLastError(d ? ERROR_NOT_READY : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (pszLabel && nLabelSize)
        pszLabel[0] = 0;
    if (pszFileSystem && nFileSystemSize)
        lstrcpynW(pszFileSystem, d->fileSystem, (int)nFileSystemSize);
    return TRUE;
}

DWORD_PTR CShellIoTable::FileInfo(const wchar_t* pszPath, DWORD dwAttr, SHFILEINFOW* psfi, UINT uFlags)
{
    const DriveFacts* d = Find(pszPath);
    if (!d)
        return SystemShellIo().FileInfo(pszPath, dwAttr, psfi, uFlags);
    if (psfi) {
        ZeroMemory(psfi, sizeof(*psfi));
        lstrcpynW(psfi->szDisplayName, d->displayName, MAX_PATH);
        psfi->iIcon = d->icon;
    }
    if (uFlags & SHGFI_SYSICONINDEX) {
        SHFILEINFOW tmp = {};
        return SystemShellIo().FileInfo(L"C:\\", 0, &tmp, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    }
    return 1;
}

bool CShellIoTable::FolderHasEntries(const wchar_t* pszFolder)
{
    const DriveFacts* d = Find(pszFolder);
    return d ? d->hasEntries : IShellIo::FolderHasEntries(pszFolder);
}

std::string Narrow(const CString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out += s[i] < 128 ? (char)s[i] : '?';
    return out;
}

BOOL CTreeRecorder::CreateHidden()
{
    return CreateEx(0, AfxRegisterWndClass(0), L"", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0);
}

void CTreeRecorder::Log(const char* what, const CString& a, const CString& b)
{
    std::string line = std::string(what) + " " + Narrow(a);
    if (!b.IsEmpty())
        line += " " + Narrow(b);
    calls.push_back(line);
}

bool CTreeRecorder::HasItemForPath(const CString& a)
{
    for (auto& s : items) {
        if (CString(s.c_str()).CompareNoCase(a) == 0)
            return true;
    }
    return false;
}

void CTreeRecorder::SetPathItemImage(const CString& a, int n)
{
    CString s;
    s.Format(L"%ls %d", (const wchar_t*)a, n);
    Log("image", s);
}

void CTreeRecorder::AddDriveItem(const CString& root, const CString& text, int image, DWORD_PTR data, int state)
{
    CString s;
    s.Format(L"%ls [%ls] %d 0x%x %d", (const wchar_t*)root, (const wchar_t*)text, image, (unsigned)data, state);
    Log("adddrive", s);
    items.push_back((const wchar_t*)root);
}

void CTreeRecorder::RemoveDriveItem(const CString& root)
{
    Log("removedrive", root);
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (CString(it->c_str()).CompareNoCase(root) == 0) {
            items.erase(it);
            break;
        }
    }
}
