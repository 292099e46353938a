// A stand-in main program for the single-instance tests. It runs the program's own start-up
// check; the first start then makes a main window marked like the real one (after an optional
// delay that stands for the loading), a later start shows the running one and ends.
//   zul_instance_helper.exe [-delay MS] [-hidden] [-tag TAG]
// A tag gives the stand-in a mutex and a window mark of its own, so that test programs running
// side by side (and their main windows) do not meet.
// Exit codes: 0 the first start ended normally, 3 a later start found the running window,
// 4 a later start found none.
#include "SingleInstance.h"

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    DWORD delay = 0;
    bool hidden = false;
    std::wstring tag;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"-delay") == 0 && i + 1 < argc)
            delay = (DWORD)_wtoi(argv[++i]);
        else if (wcscmp(argv[i], L"-hidden") == 0)
            hidden = true;
        else if (wcscmp(argv[i], L"-tag") == 0 && i + 1 < argc)
            tag = argv[++i];
    }
    ::LocalFree(argv);

    std::wstring mutexName = tag.empty() ? std::wstring(kSingleInstanceMutex) : L"Local\\KvrZul.Test." + tag;
    std::wstring property = tag.empty() ? std::wstring(kMainWindowProperty) : L"KvrZul.Test." + tag;
    CSingleInstance instance;
    if (!instance.Acquire(mutexName.c_str()))
        return ActivateRunningInstance(5000, property.c_str()) ? 3 : 4;

    ::Sleep(delay);
    HWND h = ::CreateWindowExW(0, L"#32770", kMainWindowTitle, WS_POPUP | (hidden ? 0 : WS_VISIBLE), 10, 10, 200,
                               100, nullptr, nullptr, nullptr, nullptr);
    if (!h)
        return 5;
    MarkMainWindow(h, property.c_str());
    DWORD end = ::GetTickCount() + 30000;
    MSG msg;
    while ((int)(end - ::GetTickCount()) > 0 && ::IsWindow(h)) {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_CLOSE || (msg.hwnd == h && msg.message == WM_APP)) {
                ::DestroyWindow(h);
                break;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(10);
    }
    return 0;
}
