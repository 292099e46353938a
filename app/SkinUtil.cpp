#include "SkinUtil.h"

#include "SharedFunctions.h"

void ApplyRoundRegion(CWnd* pWnd)
{
    if (!pWnd || !pWnd->m_hWnd)
        return;
    CRect rc;
    pWnd->GetWindowRect(&rc);
    HRGN h = ::CreateRoundRectRgn(0, 0, rc.Width() + 1, rc.Height() + 1, 7, 7);
    if (h && !pWnd->SetWindowRgn(h, TRUE))
        ::DeleteObject(h);
}

void CreateDialogFont(CFont& font, int nHeight, int nWeight, const wchar_t* pszFace)
{
    font.CreateFont(nHeight, 0, 0, 0, nWeight, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, pszFace);
}

bool LoadSkinImage(UINT nID, CImage& image)
{
    if (!LoadPngResource(nID, image))
        return false;
    PremultiplyAlpha(image);
    return true;
}

bool CSkinBackground::Make(CWnd* pWnd, const CImage& image, int x, int y, int w, int h, int cx,
                           int cy, COLORREF crFill)
{
    Free();
    CClientDC dc(pWnd);
    if (!m_dc.CreateCompatibleDC(&dc) || !m_bmp.CreateCompatibleBitmap(&dc, cx, cy))
        return false;
    m_hOld = ::SelectObject(m_dc.m_hDC, m_bmp.m_hObject);
    m_dc.FillSolidRect(0, 0, cx, cy, crFill);
    if (!image.IsNull())
        image.Draw(m_dc.m_hDC, x, y, w, h);
    return true;
}

void CSkinBackground::Free()
{
    if (m_dc.m_hDC && m_hOld)
        ::SelectObject(m_dc.m_hDC, m_hOld);
    m_hOld = nullptr;
    m_dc.DeleteDC();
    m_bmp.DeleteObject();
}
