#pragma once
// CImage: a device-independent bitmap that the skinned windows draw from.
// Images are 32-bit DIB sections with an alpha channel when decoded from PNG, so they
// can be premultiplied and drawn with per-pixel alpha blending.

#include <windows.h>
#include <objidl.h>

class CImage {
public:
    enum { createAlphaChannel = 0x01 };

    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // A positive height gives a bottom-up bitmap (negative pitch), a negative height a top-down one.
    BOOL Create(int nWidth, int nHeight, int nBPP, DWORD dwFlags = 0);
    // Decodes any format GDI+ reads; the result is 32-bit with alpha (straight, not premultiplied).
    HRESULT Load(IStream* pStream);
    HRESULT Load(const wchar_t* pszFileName);
    void Destroy();

    bool IsNull() const { return m_hBitmap == nullptr; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    int GetBPP() const { return m_nBPP; }
    int GetPitch() const { return m_nPitch; }
    bool HasAlphaChannel() const { return m_bAlpha; }
    // Address of the first byte of the top row.
    void* GetBits() { return m_pTopRow; }
    const void* GetBits() const { return m_pTopRow; }
    void* GetPixelAddress(int x, int y);
    HBITMAP GetHandle() const { return m_hBitmap; }
    operator HBITMAP() const { return m_hBitmap; }

    // Draws through AlphaBlend when the image has an alpha channel (its colours must be
    // premultiplied, see PremultiplyAlpha), else through StretchBlt.
    BOOL Draw(HDC hDestDC, int xDest, int yDest, int nDestWidth, int nDestHeight,
              int xSrc, int ySrc, int nSrcWidth, int nSrcHeight) const;
    BOOL Draw(HDC hDestDC, int xDest, int yDest) const;
    BOOL Draw(HDC hDestDC, int xDest, int yDest, int nDestWidth, int nDestHeight) const;
    BOOL Draw(HDC hDestDC, const RECT& rectDest) const;
    BOOL Draw(HDC hDestDC, const RECT& rectDest, const RECT& rectSrc) const;

private:
    HBITMAP m_hBitmap = nullptr;
    void* m_pTopRow = nullptr;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBPP = 0;
    int m_nPitch = 0;
    bool m_bAlpha = false;
};

// Starts GDI+ once for the process (every later call returns at once); true when it runs.
bool ZulStartGdiplus();
