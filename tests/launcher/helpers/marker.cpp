// Stands in for the main program in the launcher's tests: it writes "started.txt" beside
// itself, holding its own full path and its command line, and ends.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t path[4096] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, 4096);
    if (n == 0 || n >= 4096)
        return 1;
    wchar_t out[4096];
    wcscpy(out, path);
    wchar_t* slash = wcsrchr(out, L'\\');
    if (!slash)
        return 1;
    wcscpy(slash + 1, L"started.txt");
    HANDLE h = ::CreateFileW(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    ::WriteFile(h, path, (DWORD)(wcslen(path) * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(h);
    return 0;
}
