#include "test_pump.h"

#include "afxwin.h"

namespace testsupport {

namespace {

bool RunOneMessage()
{
    MSG msg;
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (!CWnd::WalkPreTranslateTree(nullptr, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return true;
}

} // namespace

void Pump(DWORD ms)
{
    // The clock is read after every message, so that a window whose timers keep the queue
    // full cannot hold the pump past its time.
    const DWORD dwStart = ::GetTickCount();
    do {
        if (!RunOneMessage())
            ::Sleep(1);
    } while (::GetTickCount() - dwStart < ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms)
{
    const DWORD dwStart = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - dwStart >= ms)
            return false;
        if (!RunOneMessage())
            ::Sleep(1);
    }
    return true;
}

} // namespace testsupport
