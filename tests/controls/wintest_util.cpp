#include "wintest_util.h"

#include "SharedFunctions.h"

#include <cstdlib>
#include <string>

BEGIN_MESSAGE_MAP(CHostWnd, CWnd)
    ON_WM_ERASEBKGND()
    ON_WM_PAINT()
END_MESSAGE_MAP()

BOOL CHostWnd::CreateHost(int x, int y, int w, int h, DWORD extraStyle)
{
    if (!CreateEx(0, nullptr, L"host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | extraStyle, CRect(x, y, x + w, y + h),
                  nullptr, 0))
        return FALSE;
    ::SetForegroundWindow(m_hWnd);
    ::SetActiveWindow(m_hWnd);
    UpdateWindow();
    return TRUE;
}

BOOL CHostWnd::OnEraseBkgnd(CDC* pDC)
{
    CRect rc;
    GetClientRect(&rc);
    pDC->FillSolidRect(&rc, m_crFill);
    return TRUE;
}

void CHostWnd::OnPaint()
{
    CPaintDC dc(this);
    CRect rc;
    GetClientRect(&rc);
    dc.FillSolidRect(&rc, m_crFill);
}

CDibCanvas::CDibCanvas(int w, int h, COLORREF fill) : m_w(w), m_h(h)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    m_hdc = ::CreateCompatibleDC(nullptr);
    m_bmp = ::CreateDIBSection(m_hdc, &bi, DIB_RGB_COLORS, (void**)&m_bits, nullptr, 0);
    m_old = ::SelectObject(m_hdc, m_bmp);
    RECT r = {0, 0, w, h};
    HBRUSH br = ::CreateSolidBrush(fill);
    ::FillRect(m_hdc, &r, br);
    ::DeleteObject(br);
}

CDibCanvas::~CDibCanvas()
{
    ::SelectObject(m_hdc, m_old);
    ::DeleteObject(m_bmp);
    ::DeleteDC(m_hdc);
}

COLORREF CDibCanvas::Pixel(int x, int y) const
{
    ::GdiFlush();
    uint32_t v = m_bits[y * m_w + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

COLORREF ScreenPixel(HWND hWnd, int x, int y)
{
    HDC hdc = ::GetDC(hWnd);
    COLORREF c = ::GetPixel(hdc, x, y);
    ::ReleaseDC(hWnd, hdc);
    return c;
}

bool Near(COLORREF a, COLORREF b, int tol)
{
    return std::abs(GetRValue(a) - GetRValue(b)) <= tol && std::abs(GetGValue(a) - GetGValue(b)) <= tol &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tol;
}

COLORREF ImagePixel(UINT id, int x, int y)
{
    CImage img;
    if (!LoadPngResource(id, img))
        return CLR_INVALID;
    const BYTE* p = static_cast<const BYTE*>(img.GetPixelAddress(x, y));
    return RGB(p[2], p[1], p[0]);
}

std::string ColorText(COLORREF c)
{
    return "(" + std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
           std::to_string(GetBValue(c)) + ")";
}
