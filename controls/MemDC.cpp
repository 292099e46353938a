#include "MemDC.h"

CMemDC::CMemDC(CDC* pDC, const RECT* pRect) : m_pDC(pDC), m_bPrinting(pDC->IsPrinting())
{
    if (pRect)
        m_rect = *pRect;
    else
        pDC->GetClipBox(&m_rect);
    if (m_bPrinting) {
        m_hDC = pDC->m_hDC;
        m_hAttribDC = pDC->m_hAttribDC;
        return;
    }
    CreateCompatibleDC(pDC);
    // An empty clip box still gets a bitmap, so that drawing into it is harmless.
    int w = m_rect.Width() > 0 ? m_rect.Width() : 1;
    int h = m_rect.Height() > 0 ? m_rect.Height() : 1;
    m_bitmap.CreateCompatibleBitmap(pDC, w, h);
    m_hOldBitmap = ::SelectObject(m_hDC, m_bitmap.m_hObject);
    SetWindowOrg(m_rect.left, m_rect.top);
}

CMemDC::~CMemDC()
{
    if (m_bPrinting) {
        Detach();
        return;
    }
    if (!m_rect.IsRectEmpty())
        m_pDC->BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), this, m_rect.left, m_rect.top,
                      SRCCOPY);
    ::SelectObject(m_hDC, m_hOldBitmap);
    DeleteDC();
}
