// ZULTray: started by the logon entry, it starts "KVR ZUL.exe" from its own folder and ends.
// It asks for no rights of its own; the main program's elevation goes through the shell.
#include "afxwin.h"

namespace {

// The launcher's own path and then the main program's path live in this many characters
// (terminator included).
constexpr DWORD kPathChars = 128;
const wchar_t kMainProgram[] = L"KVR ZUL.exe";

// The full path of "KVR ZUL.exe" beside the launcher; false when the launcher's own path or the
// program's path does not fit, so that nothing is started from a cut path.
bool BuildMainProgramPath(wchar_t (&path)[kPathChars])
{
    path[0] = L'\0';
    ::SetLastError(ERROR_SUCCESS);
    DWORD n = ::GetModuleFileNameW(nullptr, path, kPathChars);
    if (n == 0 || n >= kPathChars || ::GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        return false;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash)
        return false;
    slash[1] = L'\0';
    size_t folder = (size_t)(slash + 1 - path);
    if (folder + wcslen(kMainProgram) + 1 > kPathChars)
        return false;
    wcscpy(slash + 1, kMainProgram);
    return true;
}

}  // namespace

class CZULTrayApp : public CWinApp {
public:
    BOOL InitInstance() override
    {
        wchar_t path[kPathChars];
        if (BuildMainProgramPath(path))
            ::ShellExecuteW(nullptr, L"OPEN", path, L"", L"", SW_SHOW);
        return FALSE;
    }
};

CZULTrayApp theApp;

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPWSTR lpCmdLine, int nShow)
{
    return AfxWinMain(hInstance, hPrev, lpCmdLine, nShow);
}
