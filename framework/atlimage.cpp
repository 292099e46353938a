#include "atlimage.h"

#include <algorithm>
#include <cstring>
#include <mutex>
// The GDI+ headers use unqualified min and max, which NOMINMAX removes.
namespace Gdiplus {
using std::max;
using std::min;
}
#include <gdiplus.h>

bool ZulStartGdiplus()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        // Never shut down: images live in program-wide objects until the process exits.
        started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    });
    return started;
}

BOOL CImage::Create(int nWidth, int nHeight, int nBPP, DWORD dwFlags)
{
    Destroy();
    if (nWidth <= 0 || nHeight == 0 || (nBPP != 1 && nBPP != 4 && nBPP != 8 && nBPP != 16 &&
                                        nBPP != 24 && nBPP != 32))
        return FALSE;
    // Palette formats get a grey ramp so that the bitmap is usable at once.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colors[256];
    } bi{};
    bi.h.biSize = sizeof(BITMAPINFOHEADER);
    bi.h.biWidth = nWidth;
    bi.h.biHeight = nHeight;
    bi.h.biPlanes = 1;
    bi.h.biBitCount = static_cast<WORD>(nBPP);
    bi.h.biCompression = BI_RGB;
    if (nBPP <= 8) {
        int n = 1 << nBPP;
        bi.h.biClrUsed = n;
        for (int i = 0; i < n; ++i) {
            BYTE v = static_cast<BYTE>(n > 1 ? i * 255 / (n - 1) : 0);
            bi.colors[i] = RGBQUAD{v, v, v, 0};
        }
    }
    void* pBits = nullptr;
    HBITMAP hbm = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS,
                                   &pBits, nullptr, 0);
    if (!hbm || !pBits) {
        if (hbm)
            DeleteObject(hbm);
        return FALSE;
    }
    int absHeight = nHeight < 0 ? -nHeight : nHeight;
    int stride = ((nWidth * nBPP + 31) / 32) * 4;
    m_hBitmap = hbm;
    m_nWidth = nWidth;
    m_nHeight = absHeight;
    m_nBPP = nBPP;
    m_bAlpha = nBPP == 32 && (dwFlags & createAlphaChannel) != 0;
    if (nHeight > 0) {
        m_nPitch = -stride;
        m_pTopRow = static_cast<BYTE*>(pBits) + static_cast<size_t>(absHeight - 1) * stride;
    } else {
        m_nPitch = stride;
        m_pTopRow = pBits;
    }
    return TRUE;
}

void CImage::Destroy()
{
    if (m_hBitmap)
        DeleteObject(m_hBitmap);
    m_hBitmap = nullptr;
    m_pTopRow = nullptr;
    m_nWidth = m_nHeight = m_nBPP = m_nPitch = 0;
    m_bAlpha = false;
}

static HRESULT LoadFromBitmap(CImage& image, Gdiplus::Bitmap& bmp)
{
    if (bmp.GetLastStatus() != Gdiplus::Ok)
        return E_FAIL;
    UINT w = bmp.GetWidth(), h = bmp.GetHeight();
    if (w == 0 || h == 0 || w > 0x7FFF || h > 0x7FFF)
        return E_FAIL;
    if (!image.Create(static_cast<int>(w), -static_cast<int>(h), 32, CImage::createAlphaChannel))
        return E_OUTOFMEMORY;
    // Decode straight into the DIB section's rows.
    Gdiplus::BitmapData data{};
    data.Width = w;
    data.Height = h;
    data.Stride = image.GetPitch();
    data.PixelFormat = PixelFormat32bppARGB;
    data.Scan0 = image.GetBits();
    Gdiplus::Rect rc(0, 0, static_cast<INT>(w), static_cast<INT>(h));
    if (bmp.LockBits(&rc, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                     PixelFormat32bppARGB, &data) != Gdiplus::Ok) {
        image.Destroy();
        return E_FAIL;
    }
    bmp.UnlockBits(&data);
    return S_OK;
}

HRESULT CImage::Load(IStream* pStream)
{
    Destroy();
    if (!pStream || !ZulStartGdiplus())
        return E_FAIL;
    Gdiplus::Bitmap bmp(pStream);
    return LoadFromBitmap(*this, bmp);
}

HRESULT CImage::Load(const wchar_t* pszFileName)
{
    Destroy();
    if (!pszFileName || !ZulStartGdiplus())
        return E_FAIL;
    Gdiplus::Bitmap bmp(pszFileName);
    return LoadFromBitmap(*this, bmp);
}

void* CImage::GetPixelAddress(int x, int y)
{
    if (!m_pTopRow || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight)
        return nullptr;
    return static_cast<BYTE*>(m_pTopRow) + static_cast<ptrdiff_t>(y) * m_nPitch +
           static_cast<ptrdiff_t>(x) * m_nBPP / 8;
}

BOOL CImage::Draw(HDC hDestDC, int xDest, int yDest, int nDestWidth, int nDestHeight, int xSrc,
                  int ySrc, int nSrcWidth, int nSrcHeight) const
{
    if (!m_hBitmap || !hDestDC)
        return FALSE;
    HDC hSrc = CreateCompatibleDC(hDestDC);
    if (!hSrc)
        return FALSE;
    HGDIOBJ old = SelectObject(hSrc, m_hBitmap);
    BOOL ok;
    if (m_bAlpha) {
        BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        ok = AlphaBlend(hDestDC, xDest, yDest, nDestWidth, nDestHeight, hSrc, xSrc, ySrc,
                        nSrcWidth, nSrcHeight, bf);
    } else {
        int oldMode = SetStretchBltMode(hDestDC, COLORONCOLOR);
        ok = StretchBlt(hDestDC, xDest, yDest, nDestWidth, nDestHeight, hSrc, xSrc, ySrc,
                        nSrcWidth, nSrcHeight, SRCCOPY);
        SetStretchBltMode(hDestDC, oldMode);
    }
    SelectObject(hSrc, old);
    DeleteDC(hSrc);
    return ok;
}

BOOL CImage::Draw(HDC hDestDC, int xDest, int yDest) const
{
    return Draw(hDestDC, xDest, yDest, m_nWidth, m_nHeight, 0, 0, m_nWidth, m_nHeight);
}

BOOL CImage::Draw(HDC hDestDC, int xDest, int yDest, int nDestWidth, int nDestHeight) const
{
    return Draw(hDestDC, xDest, yDest, nDestWidth, nDestHeight, 0, 0, m_nWidth, m_nHeight);
}

BOOL CImage::Draw(HDC hDestDC, const RECT& rectDest) const
{
    return Draw(hDestDC, rectDest.left, rectDest.top, rectDest.right - rectDest.left,
                rectDest.bottom - rectDest.top, 0, 0, m_nWidth, m_nHeight);
}

BOOL CImage::Draw(HDC hDestDC, const RECT& rectDest, const RECT& rectSrc) const
{
    return Draw(hDestDC, rectDest.left, rectDest.top, rectDest.right - rectDest.left,
                rectDest.bottom - rectDest.top, rectSrc.left, rectSrc.top,
                rectSrc.right - rectSrc.left, rectSrc.bottom - rectSrc.top);
}
