#include "SkinControls.h"

#include "MemDC.h"
#include "ParentBackground.h"
#include "SharedFunctions.h"

#include <algorithm>

namespace {

// Draws an image stretched into a rectangle (alpha-blended when it has alpha).
void DrawStretched(const CImage& img, HDC hdc, int x, int y, int w, int h)
{
    if (img.IsNull() || w <= 0 || h <= 0)
        return;
    img.Draw(hdc, x, y, w, h, 0, 0, img.GetWidth(), img.GetHeight());
}

void LoadPremultiplied(UINT nID, CImage& img)
{
    img.Destroy();
    if (nID && LoadPngResource(nID, img))
        PremultiplyAlpha(img);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Combo box
// ---------------------------------------------------------------------------------------

const UINT CMyComboBox::kSkinIds[3][3] = {
    {268, 269, 265},  // normal
    {268, 269, 262},  // pressed
    {268, 269, 264},  // hover
};

BEGIN_MESSAGE_MAP(CMyComboBox, CComboBox)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_LBUTTONDOWN()
    ON_WM_LBUTTONUP()
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSELEAVE()
    ON_WM_SETFOCUS()
    ON_WM_KILLFOCUS()
END_MESSAGE_MAP()

void CMyComboBox::LoadSkinImages()
{
    for (int g = 0; g < 3; ++g) {
        for (int s = 0; s < 3; ++s) {
            m_img[g][s].Destroy();
            LoadPngResource(kSkinIds[g][s], m_img[g][s]);
        }
    }
    if (m_hWnd)
        Invalidate();
}

void CMyComboBox::InvalidateDrop()
{
    if (!m_hWnd)
        return;
    if (m_rcDrop.IsRectEmpty())
        Invalidate(FALSE);
    else
        InvalidateRect(&m_rcDrop, FALSE);
}

void CMyComboBox::OnPaint()
{
    if (m_img[0][0].IsNull()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC mem(&dc, &rc);
    int g = m_bPressed ? 1 : m_bHover ? 2 : 0;
    if (m_img[g][0].IsNull())
        g = 0;
    const CImage& l = m_img[g][0];
    const CImage& m = m_img[g][1];
    const CImage& r = m_img[g][2];
    int h = rc.Height();
    int lw = l.IsNull() ? 0 : l.GetWidth();
    int rw = r.IsNull() ? 0 : std::max(0, r.GetWidth() - 2);
    m_rcDrop.SetRect(rc.right - rw, rc.top, rc.right, rc.bottom);
    mem.FillSolidRect(&rc, RGB(255, 255, 255));
    DrawStretched(l, mem.m_hDC, rc.left, rc.top, lw, h);
    DrawStretched(m, mem.m_hDC, rc.left + lw, rc.top, (rc.right - rw + 2) - (rc.left + lw), h);
    // The right cap, squeezed 2 pixels narrower than its image (its frame stays whole).
    DrawStretched(r, mem.m_hDC, m_rcDrop.left, m_rcDrop.top, rw, h);

    CString text;
    int sel = GetCurSel();
    if (sel >= 0)
        GetLBText(sel, text);
    else
        GetWindowText(text);
    CRect rcText(rc.left + 4, rc.top, m_rcDrop.left, rc.bottom);
    HFONT hFont = (HFONT)SendMessage(WM_GETFONT);
    HGDIOBJ old = hFont ? ::SelectObject(mem.m_hDC, hFont) : nullptr;
    mem.SetBkMode(TRANSPARENT);
    mem.SetTextColor(::GetSysColor(IsWindowEnabled() ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    mem.DrawText(text, &rcText, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (old)
        ::SelectObject(mem.m_hDC, old);
}

void CMyComboBox::OnLButtonDown(UINT nFlags, CPoint point)
{
    m_bPressed = TRUE;
    InvalidateDrop();
    CComboBox::OnLButtonDown(nFlags, point);
}

void CMyComboBox::OnLButtonUp(UINT nFlags, CPoint point)
{
    m_bPressed = FALSE;
    InvalidateDrop();
    CComboBox::OnLButtonUp(nFlags, point);
}

void CMyComboBox::OnMouseMove(UINT nFlags, CPoint point)
{
    if ((nFlags & MK_LBUTTON) && !m_bHover) {
        Default();
        return;
    }
    if (!m_bHover) {
        m_bHover = TRUE;
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, HOVER_DEFAULT};
        ::TrackMouseEvent(&tme);
        InvalidateDrop();
    }
    CComboBox::OnMouseMove(nFlags, point);
}

void CMyComboBox::OnMouseLeave()
{
    m_bHover = FALSE;
    m_bPressed = FALSE;
    InvalidateDrop();
    Default();
}

void CMyComboBox::OnSetFocus(CWnd* pOld)
{
    m_bFocused = TRUE;
    CComboBox::OnSetFocus(pOld);
}

void CMyComboBox::OnKillFocus(CWnd* pNew)
{
    m_bFocused = FALSE;
    m_bPressed = FALSE;
    CComboBox::OnKillFocus(pNew);
    Invalidate(FALSE);
}

// ---------------------------------------------------------------------------------------
// Edit box
// ---------------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CMyEdit, CEdit)
    ON_WM_PAINT()
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSELEAVE()
    ON_WM_LBUTTONDOWN()
    ON_WM_LBUTTONUP()
    ON_WM_RBUTTONUP()
    ON_WM_CONTEXTMENU()
    ON_WM_SETFOCUS()
    ON_WM_KILLFOCUS()
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

void CMyEdit::LoadImages(UINT nNormalId)
{
    const UINT ids[4] = {nNormalId, 259, 257, 256};
    for (int i = 0; i < 4; ++i)
        LoadPremultiplied(ids[i], m_imgState[i]);
    if (m_hWnd)
        Invalidate();
}

void CMyEdit::LoadSliceImages(const UINT focused[3], const UINT disabled[3], const UINT normal[3], const UINT hover[3])
{
    const UINT* byState[4] = {normal, hover, focused, disabled};
    for (int st = 0; st < 4; ++st) {
        for (int s = 0; s < 3; ++s)
            LoadPremultiplied(byState[st] ? byState[st][s] : 0, m_imgSlice[st][s]);
    }
    if (m_hWnd)
        Invalidate();
}

void CMyEdit::RefreshFlags()
{
    DWORD style = GetStyle();
    m_bReadOnly = (style & ES_READONLY) != 0;
    m_bDisabled = !IsWindowEnabled();
    m_bFocused = ::GetFocus() == m_hWnd;
}

int CMyEdit::GetStateIndex() const
{
    int st = m_bDisabled ? 3 : m_bFocused ? 2 : m_bHover ? 1 : 0;
    bool loaded = !m_imgState[st].IsNull() || !m_imgSlice[st][0].IsNull();
    return loaded ? st : 0;
}

void CMyEdit::OnPaint()
{
    RefreshFlags();
    CPaintDC dc(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC mem(&dc, &rc);
    mem.FillSolidRect(&rc, ::GetSysColor(m_bDisabled ? COLOR_BTNFACE : COLOR_WINDOW));
    int st = GetStateIndex();
    // The frame covers the whole window; the client area shows its inner part.
    CRect rcWnd;
    GetWindowRect(&rcWnd);
    ScreenToClient(&rcWnd);
    if (!m_imgState[st].IsNull()) {
        DrawStretched(m_imgState[st], mem.m_hDC, rcWnd.left, rcWnd.top, rcWnd.Width(), rcWnd.Height());
    } else if (!m_imgSlice[st][0].IsNull()) {
        const CImage& l = m_imgSlice[st][0];
        const CImage& m = m_imgSlice[st][1];
        const CImage& r = m_imgSlice[st][2];
        int lw = l.GetWidth();
        int rw = r.IsNull() ? 0 : r.GetWidth();
        DrawStretched(l, mem.m_hDC, rcWnd.left, rcWnd.top, lw, rcWnd.Height());
        DrawStretched(m, mem.m_hDC, rcWnd.left + lw, rcWnd.top, rcWnd.Width() - lw - rw, rcWnd.Height());
        DrawStretched(r, mem.m_hDC, rcWnd.right - rw, rcWnd.top, rw, rcWnd.Height());
    }
    CString text = GetWindowText();
    if (GetStyle() & ES_PASSWORD)
        text = CString(L'*', text.GetLength());
    HFONT hFont = (HFONT)SendMessage(WM_GETFONT);
    HGDIOBJ old = hFont ? ::SelectObject(mem.m_hDC, hFont) : nullptr;
    mem.SetBkMode(TRANSPARENT);
    mem.SetTextColor(m_bDisabled ? ::GetSysColor(COLOR_GRAYTEXT) : m_crText);
    CRect rcText = rc;
    rcText.DeflateRect(2, 0);
    mem.DrawText(text, &rcText, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    if (old)
        ::SelectObject(mem.m_hDC, old);
}

void CMyEdit::OnMouseMove(UINT nFlags, CPoint point)
{
    if (!m_bHover) {
        m_bHover = TRUE;
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, HOVER_DEFAULT};
        ::TrackMouseEvent(&tme);
        Invalidate(FALSE);
    }
    CEdit::OnMouseMove(nFlags, point);
}

void CMyEdit::OnMouseLeave()
{
    m_bHover = FALSE;
    Invalidate(FALSE);
    Default();
}

void CMyEdit::OnLButtonDown(UINT nFlags, CPoint point)
{
    RefreshFlags();
    if (m_bReadOnly)
        return;  // a read-only box takes no clicks for editing
    m_bPressed = TRUE;
    CEdit::OnLButtonDown(nFlags, point);
    Invalidate(FALSE);
}

void CMyEdit::OnLButtonUp(UINT nFlags, CPoint point)
{
    m_bPressed = FALSE;
    CEdit::OnLButtonUp(nFlags, point);
}

void CMyEdit::OnRButtonUp(UINT nFlags, CPoint point)
{
    RefreshFlags();
    if (!m_bReadOnly)
        CEdit::OnRButtonUp(nFlags, point);
}

void CMyEdit::OnContextMenu(CWnd* pWnd, CPoint point)
{
    RefreshFlags();
    if (!m_bReadOnly)
        CEdit::OnContextMenu(pWnd, point);
}

void CMyEdit::OnSetFocus(CWnd* pOld)
{
    CEdit::OnSetFocus(pOld);
    Invalidate(FALSE);
}

void CMyEdit::OnKillFocus(CWnd* pNew)
{
    CEdit::OnKillFocus(pNew);
    Invalidate(FALSE);
}

HBRUSH CMyEdit::CtlColor(CDC* pDC, UINT)
{
    pDC->SetBkMode(TRANSPARENT);
    return (HBRUSH)::GetStockObject(NULL_BRUSH);
}

// ---------------------------------------------------------------------------------------
// List box
// ---------------------------------------------------------------------------------------

int CMyListbox::TextWidth(const CString& s)
{
    // Measured in the list box's own font, which is what it draws with.
    CClientDC dc(this);
    HFONT hFont = (HFONT)SendMessage(WM_GETFONT);
    HGDIOBJ old = hFont ? ::SelectObject(dc.m_hDC, hFont) : nullptr;
    SIZE sz = {};
    ::GetTextExtentPoint32W(dc.m_hDC, s, s.GetLength(), &sz);
    if (old)
        ::SelectObject(dc.m_hDC, old);
    return sz.cx;
}

int CMyListbox::InsertStringAndSelect(int nIndex, const CString& strText)
{
    int i = InsertString(nIndex, strText);
    if (i < 0)
        return i;
    // A running maximum: one new line is measured, not every line again.
    int w = TextWidth(strText);
    if (w > m_nMaxExtent) {
        m_nMaxExtent = w;
        SetHorizontalExtent(w);
    }
    SetCurSel(i);
    return i;
}

void CMyListbox::UpdateHorizontalExtent()
{
    int widest = 0;
    int n = GetCount();
    CString s;
    for (int i = 0; i < n; ++i) {
        GetText(i, s);
        widest = std::max(widest, TextWidth(s));
    }
    m_nMaxExtent = widest;
    SetHorizontalExtent(widest);
}

int CMyListbox::DeleteString(UINT nIndex)
{
    int r = CListBox::DeleteString(nIndex);
    if (r >= 0)
        UpdateHorizontalExtent();
    return r;
}

void CMyListbox::ResetContent()
{
    CListBox::ResetContent();
    m_nMaxExtent = 0;
    SetHorizontalExtent(0);
}

// ---------------------------------------------------------------------------------------
// Progress bar
// ---------------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CProgressCtrlX, CWnd)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

BOOL CProgressCtrlX::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateEx(0, nullptr, nullptr, dwStyle | WS_CHILD, rect, pParentWnd, nID);
}

int CProgressCtrlX::BarEnd(int nWidth) const
{
    long long range = (long long)m_nMax - m_nMin;
    if (range <= 0 || nWidth <= 0)
        return 0;  // an empty or reversed range has no bar
    long long pos = std::clamp<long long>(m_nPos, m_nMin, m_nMax);
    return (int)((pos - m_nMin) * nWidth / range);
}

void CProgressCtrlX::ResetBackground()
{
    FreeParentBackground(m_dcBk, m_bmpBk, m_hOldBk);
}

void CProgressCtrlX::CopyParentBackground(CDC* pDC)
{
    CRect rc;
    GetClientRect(&rc);
    if (!m_dcBk.m_hDC)
        KeepParentBackground(*this, m_dcBk, m_bmpBk, m_hOldBk, rc.Width(), rc.Height());
    pDC->BitBlt(0, 0, rc.Width(), rc.Height(), &m_dcBk, 0, 0, SRCCOPY);
}

void CProgressCtrlX::OnPaint()
{
    CPaintDC dc(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC mem(&dc, &rc);
    CopyParentBackground(&mem);
    if (!m_imgBack.IsNull())
        DrawStretched(m_imgBack, mem.m_hDC, rc.left, rc.top, rc.Width(), rc.Height());

    CRect rcBar = rc;
    rcBar.DeflateRect(1, 1);
    int w = rcBar.Width();
    int h = rcBar.Height();
    long long range = (long long)m_nMax - m_nMin;
    int saved = mem.SaveDC();
    if (m_bAnimated) {
        // The block runs on past the end and comes back from the start; only the part
        // inside the control shows.
        if (range > 0 && w > 0 && !m_imgBar.IsNull()) {
            long long end = ((long long)m_nPos - m_nMin) * w / range;
            long long block = 25LL * w / range;
            long long start = end - block;
            mem.IntersectClipRect(rcBar.left, rcBar.top, rcBar.right, rcBar.bottom);
            if (end > 0 && start < w)
                DrawStretched(m_imgBar, mem.m_hDC, rcBar.left + (int)start, rcBar.top, (int)(end - start), h);
        }
    } else {
        int end = BarEnd(w);
        if (end > 0) {
            int xEnd = rcBar.left + end;
            mem.IntersectClipRect(rcBar.left, rcBar.top, xEnd, rcBar.bottom);
            int lw = m_imgLeft.IsNull() ? 0 : m_imgLeft.GetWidth();
            if (m_bSegmented) {
                DrawStretched(m_imgLeft, mem.m_hDC, rcBar.left, rcBar.top, lw, h);
                int bw = m_imgBar.IsNull() ? 0 : m_imgBar.GetWidth();
                if (bw > 0) {
                    int step = bw + std::max(0, m_nSegmentGap);
                    for (int x = rcBar.left + lw; x + bw <= xEnd; x += step)
                        DrawStretched(m_imgBar, mem.m_hDC, x, rcBar.top, bw, h);
                }
            } else if (!m_imgLeft.IsNull() && !m_imgBar.IsNull() && !m_imgRight.IsNull()) {
                int rw = m_imgRight.GetWidth();
                DrawStretched(m_imgLeft, mem.m_hDC, rcBar.left, rcBar.top, lw, h);
                if (m_nPos >= m_nMax) {
                    DrawStretched(m_imgRight, mem.m_hDC, xEnd - rw, rcBar.top, rw, h);
                    DrawStretched(m_imgBar, mem.m_hDC, rcBar.left + lw, rcBar.top, xEnd - rw - (rcBar.left + lw), h);
                } else {
                    DrawStretched(m_imgBar, mem.m_hDC, rcBar.left + lw, rcBar.top, xEnd - (rcBar.left + lw), h);
                }
            }
        }
    }
    mem.RestoreDC(saved);

    if (m_bShowPercent) {
        int percent = range > 0 ? (int)((std::clamp<long long>(m_nPos, m_nMin, m_nMax) - m_nMin) * 100 / range) : 0;
        CString text;
        text.Format(L"%d%%", percent);
        HFONT hFont = (HFONT)::SendMessageW(::GetParent(m_hWnd), WM_GETFONT, 0, 0);
        HGDIOBJ old = hFont ? ::SelectObject(mem.m_hDC, hFont) : nullptr;
        mem.SetBkMode(TRANSPARENT);
        mem.SetTextColor(RGB(255, 192, 0));
        mem.DrawText(text, &rc, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
        if (old)
            ::SelectObject(mem.m_hDC, old);
    }
}
