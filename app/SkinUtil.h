#pragma once
// Small pieces shared by the skinned dialogs of the main program.

#include "afxwin.h"
#include "atlimage.h"

// The window region becomes its rectangle with 7 x 7 rounded corners.
void ApplyRoundRegion(CWnd* pWnd);
// A font of the program's dialogs: character set 0, FF_SWISS, no italic, underline or strike-out.
void CreateDialogFont(CFont& font, int nHeight, int nWeight, const wchar_t* pszFace);
// Loads a PNG resource and premultiplies its alpha; false when it is missing.
bool LoadSkinImage(UINT nID, CImage& image);
// A memory DC holding a w x h bitmap with the image drawn stretched over it, for buttons that
// copy their background. The DC keeps its bitmap selected until Free.
class CSkinBackground {
public:
    ~CSkinBackground() { Free(); }
    bool Make(CWnd* pWnd, const CImage& image, int x, int y, int w, int h, int cx, int cy,
              COLORREF crFill);
    void Free();
    CDC* Dc() { return m_dc.m_hDC ? &m_dc : nullptr; }

private:
    CDC m_dc;
    CBitmap m_bmp;
    HGDIOBJ m_hOld = nullptr;
};
