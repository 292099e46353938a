// Saves the program's part of the screen (the Wine desktop under Xvfb) as a PNG through GDI+:
// the area of its visible windows titled "KVR ZUL" and of open menus, with a margin, or the
// whole screen when there is none.
// Usage: zulshot.exe out.png [ACTION]
// ACTION first asks the running main program for one of its windows, then the shot is taken:
//   about  the About box (the main window's about button)
//   tray   the tray icon's menu (a right click on the icon)
//   none   nothing (the default)
#include <windows.h>
#include <gdiplus.h>

#include <cwchar>

namespace {

BOOL CALLBACK FindMain(HWND h, LPARAM l)
{
    wchar_t cls[16] = {}, title[16] = {};
    ::GetClassNameW(h, cls, 16);
    ::GetWindowTextW(h, title, 16);
    if (wcscmp(cls, L"#32770") == 0 && wcscmp(title, L"KVR ZUL") == 0 && ::GetPropW(h, L"KvrZul.MainWindow")) {
        *(HWND*)l = h;
        return FALSE;
    }
    return TRUE;
}

void RunAction(const wchar_t* action)
{
    HWND main = nullptr;
    ::EnumWindows(FindMain, (LPARAM)&main);
    if (!main)
        return;
    if (wcscmp(action, L"about") == 0) {
        ::PostMessageW(main, WM_COMMAND, 1002, 0);
    } else if (wcscmp(action, L"tray") == 0) {
        RECT rc;
        ::GetWindowRect(main, &rc);
        ::SetCursorPos(rc.right - 220, rc.bottom - 140);
        ::PostMessageW(main, 1141 /* WM_TRAY_NOTIFY */, 0, WM_RBUTTONUP);
    } else {
        return;
    }
    ::Sleep(2000);
}

BOOL CALLBACK AddVisible(HWND h, LPARAM l)
{
    if (!::IsWindowVisible(h))
        return TRUE;
    wchar_t cls[16] = {}, title[16] = {};
    ::GetClassNameW(h, cls, 16);
    ::GetWindowTextW(h, title, 16);
    bool ours = wcscmp(title, L"KVR ZUL") == 0 && wcscmp(cls, L"#32770") == 0;
    bool menu = wcscmp(cls, L"#32768") == 0;
    if (!ours && !menu)
        return TRUE;
    RECT rc, *pAll = (RECT*)l;
    ::GetWindowRect(h, &rc);
    if (::IsRectEmpty(pAll))
        *pAll = rc;
    else
        ::UnionRect(pAll, pAll, &rc);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    if (argc > 2)
        RunAction(argv[2]);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return 3;
    RECT screenRect = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT area = {};
    ::EnumWindows(AddVisible, (LPARAM)&area);
    if (::IsRectEmpty(&area))
        area = screenRect;
    ::InflateRect(&area, 16, 16);
    ::IntersectRect(&area, &area, &screenRect);
    int w = area.right - area.left, h = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    SelectObject(mem, old);
    int rc = 4;
    {
        Gdiplus::Bitmap image(bmp, nullptr);
        // The PNG encoder of GDI+.
        CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        if (image.Save(argv[1], &png, nullptr) == Gdiplus::Ok)
            rc = 0;
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    Gdiplus::GdiplusShutdown(token);
    return rc;
}
