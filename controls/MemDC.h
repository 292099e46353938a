#pragma once
// CMemDC: a paint context that draws into an off-screen bitmap of the destination's clip
// box and copies it to the destination in one step when it goes out of scope, so that a
// window never shows a half-painted state. Drawing code keeps the destination's
// coordinates: the window origin is moved to the clip box's top-left.

#include "afxwin.h"

class CMemDC : public CDC {
public:
    explicit CMemDC(CDC* pDC, const RECT* pRect = nullptr);
    ~CMemDC() override;
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    CMemDC* operator->() { return this; }
    operator CMemDC*() { return this; }
    BOOL IsPrinting() const override { return m_bPrinting; }
    const CRect& GetRect() const { return m_rect; }

private:
    CDC* m_pDC;             // the destination
    CBitmap m_bitmap;       // the off-screen picture
    HGDIOBJ m_hOldBitmap = nullptr;
    CRect m_rect;           // the part being painted, in the destination's coordinates
    BOOL m_bPrinting;       // a printer context is drawn into directly
};
