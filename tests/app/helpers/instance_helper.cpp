// A stand-in main program for the single-instance tests. It runs the program's own start-up
// check; the first start then makes a main window marked like the real one (after an optional
// delay that stands for the loading), a later start shows the running one and ends.
//   zul_instance_helper.exe [-delay MS] [-hidden]
// Exit codes: 0 the first start ended normally, 3 a later start found the running window,
// 4 a later start found none.
#include "SingleInstance.h"

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    DWORD delay = 0;
    bool hidden = false;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"-delay") == 0 && i + 1 < argc)
            delay = (DWORD)_wtoi(argv[++i]);
        else if (wcscmp(argv[i], L"-hidden") == 0)
            hidden = true;
    }
    ::LocalFree(argv);

    CSingleInstance instance;
    if (!instance.Acquire())
        return ActivateRunningInstance(5000) ? 3 : 4;

    ::Sleep(delay);
    HWND h = ::CreateWindowExW(0, L"#32770", kMainWindowTitle, WS_POPUP | (hidden ? 0 : WS_VISIBLE), 10, 10, 200,
                               100, nullptr, nullptr, nullptr, nullptr);
    if (!h)
        return 5;
    MarkMainWindow(h);
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
