// Stands in for the main program in the launcher's tests: it writes "started.txt" beside
// itself and ends. The file holds, in UTF-16 without a byte-order mark, its own full path, a
// line feed, and the command line it was started with, exactly as the system gave it.
#include <windows.h>

#include <cwchar>

namespace {

bool WriteAll(HANDLE h, const wchar_t* psz)
{
    DWORD nBytes = (DWORD)(wcslen(psz) * sizeof(wchar_t));
    DWORD written = 0;
    return ::WriteFile(h, psz, nBytes, &written, nullptr) && written == nBytes;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t path[4096] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, 4096);
    if (n == 0 || n >= 4096)
        return 1;
    wchar_t out[4096];
    wcscpy(out, path);
    wchar_t* slash = wcsrchr(out, L'\\');
    if (!slash || (size_t)(slash + 1 - out) + wcslen(L"started.txt.part") >= 4096)
        return 1;
    wcscpy(slash + 1, L"started.txt");
    // Written under another name first, so that the test never reads half a file.
    wchar_t temp[4096];
    wcscpy(temp, out);
    wcscat(temp, L".part");
    HANDLE h = ::CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    const wchar_t* line = ::GetCommandLineW();
    bool ok = WriteAll(h, path) && WriteAll(h, L"\n") && WriteAll(h, line ? line : L"");
    ::CloseHandle(h);
    if (!ok || !::MoveFileExW(temp, out, MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(temp);
        return 1;
    }
    return 0;
}
