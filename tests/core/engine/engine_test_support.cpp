#include "engine_test_support.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>

#include "BackUpEngine.h"
#include "LongPath.h"
#include "WriteQueue.h"

std::function<void(const wchar_t*, ULONGLONG)> TestCopy::OnPiece;
int TestCopy::nCalls = 0;

CTempTree::CTempTree()
{
    static std::atomic<int> counter{0};
    wchar_t tmp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, tmp);
    m_strRoot.Format(L"%lszul_core_%lu_%d", tmp, GetCurrentProcessId(), counter++);
    RemoveTree(m_strRoot);
    CreateDirectoryW(m_strRoot, nullptr);
}

CTempTree::~CTempTree()
{
    RemoveTree(m_strRoot);
}

void MakeFolders(const CString& strPath)
{
    for (int pos = strPath.Find(L'\\', 3); pos > 0; pos = strPath.Find(L'\\', pos + 1))
        CreateDirectoryW(ExtendedPath(strPath.Left(pos)), nullptr);
    CreateDirectoryW(ExtendedPath(strPath), nullptr);
}

void WriteFileBytes(const CString& strPath, const std::string& bytes)
{
    HANDLE h = CreateFileW(ExtendedPath(strPath), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadFileBytes(const CString& strPath)
{
    std::string out;
    HANDLE h = CreateFileW(ExtendedPath(strPath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool Exists(const CString& strPath)
{
    return GetFileAttributesW(ExtendedPath(strPath)) != INVALID_FILE_ATTRIBUTES;
}

DWORD AttributesOf(const CString& strPath)
{
    return GetFileAttributesW(ExtendedPath(strPath));
}

FILETIME LastWriteOf(const CString& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA d{};
    GetFileAttributesExW(ExtendedPath(strPath), GetFileExInfoStandard, &d);
    return d.ftLastWriteTime;
}

void SetLastWrite(const CString& strPathAsGiven, ULONGLONG nTime100ns)
{
    const CString strPath = ExtendedPath(strPathAsGiven);
    DWORD attrs = GetFileAttributesW(strPath);
    SetFileAttributesW(strPath, FILE_ATTRIBUTE_NORMAL);
    HANDLE h = CreateFileW(strPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        FILETIME ft{static_cast<DWORD>(nTime100ns), static_cast<DWORD>(nTime100ns >> 32)};
        SetFileTime(h, nullptr, nullptr, &ft);
        CloseHandle(h);
    }
    SetFileAttributesW(strPath, attrs);
}

std::vector<CString> ListFolderAsListed(const CString& strPath)
{
    std::vector<CString> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(ExtendedPath(strPath) + L"\\*", &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L".."))
            names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

std::vector<CString> ListFolder(const CString& strPath)
{
    std::vector<CString> names = ListFolderAsListed(strPath);
    std::sort(names.begin(), names.end());
    return names;
}

static void ListTreeInto(const CString& strRoot, const CString& strRel, std::vector<CString>& out)
{
    CString folder = strRel.IsEmpty() ? strRoot : strRoot + L"\\" + strRel;
    for (const CString& name : ListFolder(folder)) {
        CString rel = strRel.IsEmpty() ? name : strRel + L"\\" + name;
        if (AttributesOf(strRoot + L"\\" + rel) & FILE_ATTRIBUTE_DIRECTORY)
            ListTreeInto(strRoot, rel, out);
        else
            out.push_back(rel);
    }
}

std::vector<CString> ListTree(const CString& strPath)
{
    std::vector<CString> out;
    ListTreeInto(strPath, CString(), out);
    std::sort(out.begin(), out.end());
    return out;
}

CString StoredName(const CString& root, const CString& source)
{
    CString s(source);
    s.Delete(1, 1);
    return root + L"\\VEZORI\\" + s;
}

bool IsEngineTemporary(const CString& strPath)
{
    const CString name = strPath.Mid(strPath.ReverseFind(L'\\') + 1);
    if (name.Find(L"~zu") >= 0)
        return true;
    CString upper(strPath);
    upper.MakeUpper();
    return upper.Find(L"\\~ZUL.WORK\\") >= 0 && name.CompareNoCase(L"run.lock") != 0;
}

std::vector<CString> Temporaries(const CString& folder)
{
    std::vector<CString> out;
    for (const CString& name : ListTree(folder))
        if (IsEngineTemporary(L"\\" + name))
            out.push_back(name);
    return out;
}

std::vector<CString> Records(const CString& root)
{
    std::vector<CString> out;
    for (const CString& name : ListFolder(root + L"\\VEZORI"))
        if (name.Left(11).CompareNoCase(L"TempCopies_") == 0)
            out.push_back(name);
    for (const CString& name : ListFolder(root + L"\\VEZORI\\~ZUL.work"))
        out.push_back(L"~ZUL.work\\" + name);
    return out;
}

bool StartTestChild(const wchar_t* pszFilter, const wchar_t* pszVariable, const CString& strValue, DWORD dwFlags,
                    PROCESS_INFORMATION& pi)
{
    wchar_t exe[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    CString command;
    command.Format(L"\"%ls\" --gtest_filter=%ls", exe, pszFilter);
    SetEnvironmentVariableW(pszVariable, strValue);
    // The child's own test report would read as this program's.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE hNul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = hNul;
    pi = PROCESS_INFORMATION{};
    const BOOL started =
        CreateProcessW(nullptr, command.GetBuffer(), nullptr, nullptr, TRUE, dwFlags, nullptr, nullptr, &si, &pi);
    command.ReleaseBuffer();
    if (hNul != INVALID_HANDLE_VALUE)
        CloseHandle(hNul);
    SetEnvironmentVariableW(pszVariable, nullptr);
    return started != FALSE;
}

CString TestRecordFolder()
{
    wchar_t tmp[MAX_PATH + 1] = {}, exe[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, tmp);
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    CString name(exe);
    name = name.Mid(name.ReverseFind(L'\\') + 1);
    CString folder;
    folder.Format(L"%lszul_records_%ls", tmp, name.GetString());
    return folder;
}

std::vector<CString> UserRecords()
{
    return ListFolder(TestRecordFolder() + L"\\Temporaries");
}

bool MapDriveLetter(wchar_t chLetter, const CString& strFolder)
{
    // The mount manager's request that gives a drive letter to a Unix folder.
    struct UnixDrive {
        ULONG size;
        ULONG type;
        ULONG fsType;
        DWORD serial;
        ULONGLONG unixDev;
        WCHAR letter;
        USHORT mountPointOffset;
        USHORT deviceOffset;
        USHORT labelOffset;
    };
    const DWORD kDefineUnixDrive = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
    std::string unixPath;
    if (!strFolder.IsEmpty()) {
        const CString u = UnixPathOf(strFolder);
        if (u.IsEmpty())
            return false;
        unixPath = CStringA(u).GetString();
    }
    std::vector<BYTE> buffer(sizeof(UnixDrive) + unixPath.size() + 1);
    UnixDrive* d = reinterpret_cast<UnixDrive*>(buffer.data());
    d->size = static_cast<ULONG>(buffer.size());
    d->type = unixPath.empty() ? DRIVE_NO_ROOT_DIR : DRIVE_FIXED;
    d->letter = static_cast<WCHAR>(towlower(chLetter));
    d->mountPointOffset = unixPath.empty() ? 0 : sizeof(UnixDrive);
    std::memcpy(buffer.data() + sizeof(UnixDrive), unixPath.c_str(), unixPath.size() + 1);
    HANDLE mgr = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (mgr == INVALID_HANDLE_VALUE)
        return false;
    DWORD got = 0;
    const BOOL ok = DeviceIoControl(mgr, kDefineUnixDrive, buffer.data(), d->size, nullptr, 0, &got, nullptr);
    CloseHandle(mgr);
    return ok != FALSE;
}

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

BOOL WINAPI TestCopy::Write(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes, LPDWORD pnWritten,
                            LPOVERLAPPED pOverlapped)
{
    // Pieces of PieceSize, each followed by OnPiece with the file's running count; a new
    // file begins at offset 0.
    *pnWritten = 0;
    LARGE_INTEGER zero{}, pos{};
    SetFilePointerEx(hFile, zero, &pos, FILE_CURRENT);
    if (pos.QuadPart == 0)
        ++nCalls;
    const CString source = g_pBackUpEngine ? g_pBackUpEngine->GetCurrentFileName() : CString();
    const char* p = static_cast<const char*>(pBuffer);
    while (*pnWritten < nBytes) {
        DWORD piece = nBytes - *pnWritten < PieceSize ? nBytes - *pnWritten : PieceSize;
        DWORD written = 0;
        if (!::WriteFile(hFile, p + *pnWritten, piece, &written, pOverlapped))
            return FALSE;
        *pnWritten += written;
        if (OnPiece)
            OnPiece(source.GetString(), static_cast<ULONGLONG>(pos.QuadPart) + *pnWritten);
    }
    return TRUE;
}

CUseTestCopy::CUseTestCopy() : m_lanes(CBackUpEngine::s_nCopyLanes, 1)
{
    TestCopy::OnPiece = nullptr;
    TestCopy::nCalls = 0;
}

CUseTestCopy::~CUseTestCopy() { TestCopy::OnPiece = nullptr; }

static void Prepare(CBackUpEngine& engine, const CString& strTargetRoot, const RunOptions& opt,
                    CFailSink* pFail)
{
    engine.Reset();
    engine.m_pFailList = pFail;
    engine.m_strTargetRoot = strTargetRoot;
    engine.m_strFileTypes = opt.strFileTypes;
    engine.m_bRestore = opt.bRestore;
    engine.m_bCompress = opt.bCompress;
    engine.m_bChangedOnly = opt.bChangedOnly;
    engine.m_strTempRecordFolder = TestRecordFolder();
}

void RunBackUp(CBackUpEngine& engine, const CString& strTargetRoot,
               const std::vector<CString>& selection, const RunOptions& opt, CFailSink* pFail)
{
    Prepare(engine, strTargetRoot, opt, pFail);
    engine.m_bRestore = 0;
    CString store = strTargetRoot + L"\\VEZORI";
    engine.m_bScanning = 1;
    for (const CString& path : selection)
        engine.CollectBackUpFiles(path, store);
    engine.m_bScanning = 0;
    engine.BackUpFileList(store);
}

void RunRestore(CBackUpEngine& engine, const CString& strTargetRoot,
                const std::vector<CString>& selection, const RunOptions& opt, CFailSink* pFail)
{
    Prepare(engine, strTargetRoot, opt, pFail);
    engine.m_bRestore = 1;
    engine.m_bScanning = 1;
    for (const CString& path : selection)
        engine.CollectFolderFiles(path);
    engine.m_bScanning = 0;
    engine.RestoreFileList();
}
