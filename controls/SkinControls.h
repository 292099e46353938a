#pragma once
// The small skinned controls: combo box and edit box framed by PNG slices per state, the
// failure list box that keeps its horizontal scroll range, and the PNG progress bar.

#include "afxwin.h"
#include "atlimage.h"
#include "FailSink.h"

class CMyComboBox : public CComboBox {
public:
    static const UINT kSkinIds[3][3];
    // Loads the nine slices (drawn opaque, so not premultiplied).
    void LoadSkinImages();
    const CRect& GetDropRect() const { return m_rcDrop; }
    BOOL IsHover() const { return m_bHover; }
    BOOL IsPressed() const { return m_bPressed; }

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    void OnSetFocus(CWnd* pOld);
    void OnKillFocus(CWnd* pNew);
    DECLARE_MESSAGE_MAP()

private:
    void InvalidateDrop();
    CImage m_img[3][3];
    BOOL m_bPressed = FALSE;
    BOOL m_bFocused = FALSE;
    BOOL m_bHover = FALSE;
    CRect m_rcDrop;
};

class CMyEdit : public CEdit {
public:
    // Whole-frame images: the given normal id, then 259 (hover), 257 (focused), 256 (disabled).
    void LoadImages(UINT nNormalId);
    // Slices, one (left cap, middle, right cap) triple per state, given in the order
    // focused, disabled, normal, hover.
    void LoadSliceImages(const UINT focused[3], const UINT disabled[3], const UINT normal[3], const UINT hover[3]);
    void SetTextColor(COLORREF c) { m_crText = c; }
    int GetStateIndex() const;

protected:
    void OnPaint();
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnRButtonUp(UINT nFlags, CPoint point);
    void OnContextMenu(CWnd* pWnd, CPoint point);
    void OnSetFocus(CWnd* pOld);
    void OnKillFocus(CWnd* pNew);
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    DECLARE_MESSAGE_MAP()

private:
    void RefreshFlags();
    CImage m_imgState[4];     // normal, hover, focused, disabled
    CImage m_imgSlice[4][3];  // by state 0..3 as above
    BOOL m_bHover = FALSE;
    BOOL m_bPressed = FALSE;
    BOOL m_bDisabled = FALSE;
    BOOL m_bReadOnly = FALSE;
    BOOL m_bFocused = FALSE;
    COLORREF m_crText = RGB(0, 0, 0);
};

// The progress dialog's list of failed files. The copy engine writes into it through
// the fail sink.
class CMyListbox : public CListBox, public CFailSink {
public:
    // Inserts the line at the index (-1 appends), widens the scroll range when the line is
    // the widest so far, selects it and returns its index (negative on failure).
    int InsertStringAndSelect(int nIndex, const CString& strText);
    void InsertStringAndSelect(const CString& strLine) override { InsertStringAndSelect(-1, strLine); }
    // Measures every line again; used after lines were removed or the font changed.
    void UpdateHorizontalExtent();
    int DeleteString(UINT nIndex);
    void ResetContent();

private:
    int TextWidth(const CString& s);
    int m_nMaxExtent = 0;  // widest line so far, in pixels
};

// The skinned progress bar. Owners write the members and invalidate the control.
class CProgressCtrlX : public CWnd {
public:
    CProgressCtrlX() = default;
    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    int m_nPos = 0;
    int m_nMin = 0;
    int m_nMax = 100;
    BOOL m_bAnimated = FALSE;
    BOOL m_bSegmented = FALSE;
    int m_nSegmentGap = 0;
    BOOL m_bShowPercent = FALSE;
    CImage m_imgLeft;
    CImage m_imgBar;
    CImage m_imgRight;
    CImage m_imgBack;

    void SetPos(int nPos) { m_nPos = nPos; if (m_hWnd) Invalidate(FALSE); }
    // Captures, once, the parent's area under the control and draws it into the context.
    void CopyParentBackground(CDC* pDC);
    // Drops the captured background so that the next paint takes it again.
    void ResetBackground();
    // The x (client coordinates, exclusive) where the bar ends for the current position:
    // the position is clamped into the range and an empty range draws no bar.
    int BarEnd(int nWidth) const;

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    DECLARE_MESSAGE_MAP()

private:
    CDC m_dcBk;
    CBitmap m_bmpBk;
    HGDIOBJ m_hOldBk = nullptr;
};
