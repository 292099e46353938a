#pragma once
// Helpers of the window tests: a plain host window, message pumping and pixel reading.

#include "afxwin.h"
#include "test_pump.h"

#include <cstdint>

using testsupport::Pump;
using testsupport::PumpUntil;

// A visible top-level popup filled with one colour.
class CHostWnd : public CWnd {
public:
    COLORREF m_crFill = RGB(10, 200, 30);
    BOOL CreateHost(int x, int y, int w, int h, DWORD extraStyle = 0);

protected:
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnPaint();
    DECLARE_MESSAGE_MAP()
};

// A 32-bit top-down DIB with a memory DC, for drawing code under test.
class CDibCanvas {
public:
    CDibCanvas(int w, int h, COLORREF fill);
    ~CDibCanvas();
    HDC Dc() const { return m_hdc; }
    COLORREF Pixel(int x, int y) const;

private:
    int m_w, m_h;
    HDC m_hdc = nullptr;
    HBITMAP m_bmp = nullptr;
    HGDIOBJ m_old = nullptr;
    uint32_t* m_bits = nullptr;
};

// The colour on screen of a window's client pixel.
COLORREF ScreenPixel(HWND hWnd, int x, int y);
// Colours equal within a tolerance per channel.
bool Near(COLORREF a, COLORREF b, int tol = 6);
// The colour of a pixel of a PNG resource of the program; CLR_INVALID when it does not load.
COLORREF ImagePixel(UINT id, int x, int y);
// For failure messages: "(r,g,b)".
std::string ColorText(COLORREF c);
