#include "test_unix.h"

#include <windows.h>

#include <cstdio>

namespace testsupport {

namespace {

typedef char*(CDECL* UnixNameFunc)(LPCWSTR pszPath);

UnixNameFunc UnixNameOf()
{
    return reinterpret_cast<UnixNameFunc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}

// The first bytes of a file; empty when it cannot be read.
std::string ReadStart(const CString& strPath)
{
    std::string text;
    if (FILE* f = _wfopen(strPath, L"rb")) {
        char buffer[4096];
        text.assign(buffer, fread(buffer, 1, sizeof(buffer), f));
        fclose(f);
    }
    return text;
}

} // namespace

CString UnixPathOf(const CString& strPath)
{
    UnixNameFunc f = UnixNameOf();
    char* p = f ? f(strPath) : nullptr;
    if (!p)
        return CString();
    CString out(p);
    HeapFree(GetProcessHeap(), 0, p);
    return out;
}

int RunUnixShell(const CString& strScript, std::string* pOutput, DWORD nSeconds)
{
    wchar_t tmp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, tmp);
    CString base;
    base.Format(L"%lszul_unix_%lu_%lu", tmp, GetCurrentProcessId(), GetCurrentThreadId());
    const CString out = base + L".out", rc = base + L".rc";
    const CString unixOut = UnixPathOf(out), unixRc = UnixPathOf(rc);
    if (unixOut.IsEmpty() || unixRc.IsEmpty())
        return -1;
    DeleteFileW(out);
    DeleteFileW(rc);
    // The code file is written under another name and renamed, so that it is whole once seen.
    CString command = L"Z:\\bin\\sh -c \"{ " + strScript + L"; } >'" + unixOut + L"' 2>&1; echo $? >'" + unixRc +
                      L".part'; mv '" + unixRc + L".part' '" + unixRc + L"'\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessW(nullptr, command.GetBuffer(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    command.ReleaseBuffer();
    if (!started)
        return -1;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    int code = -1;
    for (DWORD waited = 0; waited < nSeconds * 1000 && code < 0; waited += 50) {
        const std::string text = ReadStart(rc);
        if (text.empty() || sscanf(text.c_str(), "%d", &code) != 1)
            Sleep(50);
    }
    if (pOutput)
        *pOutput = ReadStart(out);
    DeleteFileW(out);
    DeleteFileW(rc);
    return code;
}

} // namespace testsupport
