// Shows the file-management page on its own, for a screenshot (see README): both trees filled
// from the computer folder, the first drive of the left tree opened.
#include "afxole.h"
#include "MangeDialog.h"
#include "screen_shot.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    ::OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    ::InitCommonControlsEx(&icc);
    {
        testsupport::CShotBackdrop host;
        host.CreateEx(0, nullptr, L"KVR ZUL", WS_POPUP | WS_VISIBLE, CRect(20, 20, 20 + 582, 20 + 324), nullptr, 0);
        CMangeDialog page;
        page.CreatePage(&host, CRect(20, 20, 20 + 542, 20 + 284));
        page.ShowWindow(SW_SHOW);
        HTREEITEM hDrive = page.m_tree1.GetChildItem(page.m_tree1.m_hRootItem);
        if (hDrive)
            page.m_tree1.Expand(hDrive, TVE_EXPAND);
        ::SetTimer(nullptr, 0, 15000, nullptr);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0)) {
            if (msg.message == WM_TIMER && !msg.hwnd)
                break;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    ::OleUninitialize();
    return 0;
}
