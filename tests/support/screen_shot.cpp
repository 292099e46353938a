#include "screen_shot.h"

#include <gdiplus.h>

namespace testsupport {

BEGIN_MESSAGE_MAP(CShotBackdrop, CWnd)
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

BOOL CShotBackdrop::OnEraseBkgnd(CDC* pDC)
{
    CRect rc;
    GetClientRect(&rc);
    pDC->FillSolidRect(&rc, RGB(0x2C, 0x5A, 0x8C));
    return TRUE;
}

bool SaveScreenPng(const RECT& rc, const CString& strPath)
{
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    HDC hScreen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(hScreen);
    HBITMAP bmp = ::CreateCompatibleBitmap(hScreen, w, h);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY);
    ::SelectObject(mem, old);
    bool bOk = false;
    {
        Gdiplus::Bitmap image(bmp, nullptr);
        CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        bOk = image.Save(strPath, &png, nullptr) == Gdiplus::Ok;
    }
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, hScreen);
    return bOk;
}

} // namespace testsupport
