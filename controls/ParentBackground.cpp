#include "ParentBackground.h"

#include <algorithm>

void FreeParentBackground(CDC& dcBk, CBitmap& bmpBk, HGDIOBJ& hOldBk)
{
    if (dcBk.m_hDC) {
        ::SelectObject(dcBk.m_hDC, hOldBk);
        hOldBk = nullptr;
        dcBk.DeleteDC();
    }
    bmpBk.DeleteObject();
}

void KeepBackground(CDC& dcBk, CBitmap& bmpBk, HGDIOBJ& hOldBk, CDC* pFrom, int xFrom, int yFrom, int cx, int cy)
{
    dcBk.CreateCompatibleDC(pFrom);
    bmpBk.CreateCompatibleBitmap(pFrom, std::max(1, cx), std::max(1, cy));  // never a 0-pixel bitmap
    hOldBk = ::SelectObject(dcBk.m_hDC, bmpBk.m_hObject);
    dcBk.BitBlt(0, 0, cx, cy, pFrom, xFrom, yFrom, SRCCOPY);
}

CPoint OriginInParent(const CWnd& wnd)
{
    CRect rcWnd;
    wnd.GetWindowRect(&rcWnd);
    ::ScreenToClient(::GetParent(wnd.m_hWnd), (LPPOINT)&rcWnd);
    return rcWnd.TopLeft();
}

void KeepParentBackground(const CWnd& wnd, CDC& dcBk, CBitmap& bmpBk, HGDIOBJ& hOldBk, int cx, int cy)
{
    HWND hParent = ::GetParent(wnd.m_hWnd);
    CPoint origin = OriginInParent(wnd);
    HDC hParentDC = ::GetDC(hParent);
    CDC parentDC;
    parentDC.Attach(hParentDC);
    KeepBackground(dcBk, bmpBk, hOldBk, &parentDC, origin.x, origin.y, cx, cy);
    parentDC.Detach();
    ::ReleaseDC(hParent, hParentDC);
}
