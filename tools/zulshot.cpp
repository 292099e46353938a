// Saves the whole screen (the Wine desktop under Xvfb) as a PNG through GDI+.
// Usage: zulshot.exe out.png
#include <windows.h>
#include <gdiplus.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return 3;
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
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
