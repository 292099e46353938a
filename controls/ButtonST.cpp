#include "ButtonST.h"

#include "ParentBackground.h"
#include "SharedFunctions.h"

#include <vector>

const UINT CButtonST::kSkinIds[4][3] = {
    {253, 254, 255},  // normal
    {244, 245, 246},  // pressed
    {250, 251, 252},  // hover
    {247, 248, 249},  // disabled
};

BEGIN_MESSAGE_MAP(CButtonST, CButton)
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSELEAVE()
    ON_WM_KILLFOCUS()
    ON_WM_CANCELMODE()
    ON_WM_ACTIVATE()
    ON_WM_ENABLE()
    ON_WM_LBUTTONDOWN()
    ON_WM_SETCURSOR()
    ON_WM_SYSCOLORCHANGE()
    ON_WM_ERASEBKGND()
    ON_WM_GETDLGCODE()
    ON_CONTROL_REFLECT_EX(BN_CLICKED, OnClicked)
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

CButtonST::CButtonST() { SetDefaultColors(FALSE); }

CButtonST::~CButtonST()
{
    if (m_dcBk.m_hDC && m_hOldBk)
        ::SelectObject(m_dcBk.m_hDC, m_hOldBk);
    FreeIcons();
    if (m_hCursor)
        ::DestroyCursor(m_hCursor);
    // The window goes while the object is still a CButtonST.
    if (m_hWnd && ::IsWindow(m_hWnd) && ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId())
        ::DestroyWindow(m_hWnd);
}

void CButtonST::PreSubclassWindow()
{
    UINT style = GetStyle() & 0x1F;
    m_nTypeStyle = style;
    if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
        // A default push button stays a push button.
        m_bIsDefault = TRUE;
        m_nTypeStyle = style & ~BS_TYPEMASK;
    } else if (style & 0x2) {
        m_bIsCheckBox = TRUE;
    } else if ((style & 0x1) || (style & 0x8) || (style & BS_TYPEMASK) == BS_RADIOBUTTON) {
        m_bIsRadio = TRUE;
    }
    ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW);
}

LRESULT CButtonST::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case BM_SETSTYLE:
        m_bIsDefault = (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        // Whatever style is asked for, the button stays owner-drawn.
        return CButton::WindowProc(message, (wParam & ~BS_TYPEMASK) | BS_OWNERDRAW, lParam);
    case BM_SETCHECK:
        if (m_bIsCheckBox || m_bIsRadio)
            SetCheckState(wParam == BST_CHECKED || wParam == BST_INDETERMINATE ? 1 : 0);
        return 0;
    case BM_GETCHECK:
        return m_nCheck;
    default:
        return CButton::WindowProc(message, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------------------

DWORD CButtonST::SetColor(BYTE byIndex, COLORREF crColor, BOOL bRepaint)
{
    if (byIndex >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    m_crColors[byIndex] = crColor;
    Redraw(bRepaint);
    return BTNST_OK;
}

DWORD CButtonST::SetDefaultColors(BOOL bRepaint)
{
    m_crColors[BTNST_COLOR_BK_IN] = ::GetSysColor(COLOR_BTNFACE);
    m_crColors[BTNST_COLOR_FG_IN] = ::GetSysColor(COLOR_BTNTEXT);
    m_crColors[BTNST_COLOR_BK_OUT] = ::GetSysColor(COLOR_BTNFACE);
    m_crColors[BTNST_COLOR_FG_OUT] = ::GetSysColor(COLOR_BTNTEXT);
    m_crColors[BTNST_COLOR_BK_FOCUS] = ::GetSysColor(COLOR_BTNFACE);
    m_crColors[BTNST_COLOR_FG_FOCUS] = ::GetSysColor(COLOR_BTNTEXT);
    Redraw(bRepaint);
    return BTNST_OK;
}

void CButtonST::SetCustomBackground(BOOL bOn, COLORREF crBk, COLORREF crBottomLine, BOOL bRepaint)
{
    m_bCustomBk = bOn;
    m_crCustomBk = crBk;
    m_crBottomLine = crBottomLine;
    Redraw(bRepaint);
}

void CButtonST::FreeIcons()
{
    for (IconSlot& s : m_icons) {
        if (s.hIcon)
            ::DestroyIcon(s.hIcon);
        s = IconSlot();
    }
}

void CButtonST::FreeImages()
{
    for (CImage& img : m_images)
        img.Destroy();
    m_bHasImages = FALSE;
}

HICON CButtonST::MakeDerivedIcon(HICON hSource, bool bGray) const
{
    ICONINFO ii = {};
    if (!::GetIconInfo(hSource, &ii))
        return nullptr;
    HICON result = nullptr;
    BITMAP bm = {};
    if (ii.hbmColor && ::GetObjectW(ii.hbmColor, sizeof(bm), &bm)) {
        int w = bm.bmWidth, h = bm.bmHeight;
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        std::vector<BYTE> px((size_t)w * h * 4);
        HDC hdc = ::GetDC(nullptr);
        if (::GetDIBits(hdc, ii.hbmColor, 0, h, px.data(), &bi, DIB_RGB_COLORS) == h) {
            for (size_t i = 0; i < px.size(); i += 4) {
                BYTE& b = px[i];
                BYTE& g = px[i + 1];
                BYTE& r = px[i + 2];
                if (bGray) {
                    BYTE lum = (BYTE)(0.299 * r + 0.587 * g + 0.114 * b);
                    r = g = b = lum;
                } else if (r || g || b) {
                    r = (BYTE)(r * 3 / 4);
                    g = (BYTE)(g * 3 / 4);
                    b = (BYTE)(b * 3 / 4);
                }
            }
            HBITMAP hNew = ::CreateCompatibleBitmap(hdc, w, h);
            if (hNew && ::SetDIBits(hdc, hNew, 0, h, px.data(), &bi, DIB_RGB_COLORS) == h) {
                ICONINFO out = ii;
                out.hbmColor = hNew;
                result = ::CreateIconIndirect(&out);
            }
            if (hNew)
                ::DeleteObject(hNew);
        }
        ::ReleaseDC(nullptr, hdc);
    }
    if (ii.hbmColor)
        ::DeleteObject(ii.hbmColor);
    if (ii.hbmMask)
        ::DeleteObject(ii.hbmMask);
    return result;
}

DWORD CButtonST::SetIconSlot(int slot, int nID)
{
    if (nID <= 0)
        return BTNST_OK;
    HICON h = (HICON)::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nID), IMAGE_ICON, 0, 0, 0);
    if (!h)
        return BTNST_OK;  // a missing icon leaves the slot empty
    ICONINFO ii = {};
    if (!::GetIconInfo(h, &ii)) {
        ::DestroyIcon(h);
        FreeIcons();
        return BTNST_INVALIDINDEX;
    }
    m_icons[slot].hIcon = h;
    m_icons[slot].cx = (int)ii.xHotspot * 2;
    m_icons[slot].cy = (int)ii.yHotspot * 2;
    if (ii.hbmColor)
        ::DeleteObject(ii.hbmColor);
    if (ii.hbmMask)
        ::DeleteObject(ii.hbmMask);
    return BTNST_OK;
}

DWORD CButtonST::SetIcons(int nPressed, int nHover, int nDisabled, int nNormal)
{
    FreeIcons();
    FreeImages();
    DWORD r = SetIconSlot(0, nNormal);
    if (r == BTNST_OK)
        r = SetIconSlot(1, nPressed);
    if (r == BTNST_OK)
        r = SetIconSlot(2, nHover);
    if (r == BTNST_OK) {
        if ((nDisabled == BTNST_AUTO_DARKER || nDisabled == BTNST_AUTO_GRAY) && m_icons[0].hIcon) {
            m_icons[4].hIcon = MakeDerivedIcon(m_icons[0].hIcon, nDisabled == BTNST_AUTO_GRAY);
            m_icons[4].cx = m_icons[0].cx;
            m_icons[4].cy = m_icons[0].cy;
        } else {
            r = SetIconSlot(4, nDisabled);
        }
    }
    Redraw(TRUE);
    return r;
}

DWORD CButtonST::SetStateIcons(int n0, int n1, int n2, int n3, int n4)
{
    FreeIcons();
    FreeImages();
    const int ids[5] = {n0, n1, n2, n3, n4};
    DWORD r = BTNST_OK;
    for (int i = 0; i < 5 && r == BTNST_OK; ++i)
        r = SetIconSlot(i, ids[i]);
    Redraw(TRUE);
    return r;
}

DWORD CButtonST::LoadPngImages(UINT nNormal, UINT nPressed, UINT nHover, UINT nDisabled)
{
    FreeImages();
    FreeIcons();
    const UINT ids[4] = {nNormal, nPressed, nHover, nDisabled};
    if (nNormal && LoadPngResource(nNormal, m_images[0])) {
        for (int i = 1; i < 4; ++i) {
            if (ids[i])
                LoadPngResource(ids[i], m_images[i]);
        }
        if (m_bPremultiply) {
            for (CImage& img : m_images) {
                if (!img.IsNull())
                    PremultiplyAlpha(img);
            }
        }
        m_bHasImages = TRUE;
    } else {
        m_images[0].Destroy();
    }
    Redraw(TRUE);
    return BTNST_OK;
}

DWORD CButtonST::LoadSkinSlices()
{
    m_bUseSkin = TRUE;
    for (int g = 0; g < 4; ++g) {
        for (int s = 0; s < 3; ++s) {
            m_skin[g][s].Destroy();
            if (LoadPngResource(kSkinIds[g][s], m_skin[g][s]))
                PremultiplyAlpha(m_skin[g][s]);
        }
    }
    Redraw(TRUE);
    return BTNST_OK;
}

void CButtonST::SetCheckState(int nCheck)
{
    if (!m_bIsCheckBox && !m_bIsRadio)
        return;
    m_nCheck = nCheck ? 1 : 0;
    if (m_hWnd) {
        CRect rc = HoverRect();
        InvalidateRect(&rc);
    }
}

void CButtonST::CancelHover()
{
    if (!m_bIsFlat || !m_bMouseOnButton)
        return;
    m_bMouseOnButton = FALSE;
    if (!m_hWnd)
        return;
    if (m_bIsCheckBox || m_bIsRadio) {
        CRect rc = HoverRect();
        InvalidateRect(&rc);
    } else {
        Invalidate();
    }
}

DWORD CButtonST::ResetBackground(BOOL bRepaint)
{
    if (m_bMouseOnButton && !m_bLocked)
        return BTNST_OK;
    m_bTransparent = TRUE;
    FreeParentBackground(m_dcBk, m_bmpBk, m_hOldBk);
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CButtonST::CopyParentBackground(CDC* pDC)
{
    if (!m_bTransparent || !pDC || !m_hWnd)
        return BTNST_BADPARAM;
    CRect rcClient;
    GetClientRect(&rcClient);
    CPoint origin = OriginInParent(*this);
    FreeParentBackground(m_dcBk, m_bmpBk, m_hOldBk);
    KeepBackground(m_dcBk, m_bmpBk, m_hOldBk, pDC, origin.x, origin.y, rcClient.Width(), rcClient.Height());
    return BTNST_OK;
}

void CButtonST::PaintBk(CDC* pDC, const CRect& rc)
{
    if (!m_dcBk.m_hDC)  // first paint: take the parent's current picture under the button
        KeepParentBackground(*this, m_dcBk, m_bmpBk, m_hOldBk, rc.Width(), rc.Height());
    pDC->BitBlt(rc.left, rc.top, rc.Width(), rc.Height(), &m_dcBk, 0, 0, SRCCOPY);
}

// ---------------------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------------------

BOOL CButtonST::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->hwnd == m_hWnd) {
        if (pMsg->message == WM_LBUTTONDBLCLK)
            pMsg->message = WM_LBUTTONDOWN;
        if ((pMsg->message == WM_LBUTTONDOWN || pMsg->message == WM_LBUTTONUP) && !(m_bTracking && !m_bLocked))
            return TRUE;
        // The buttons act on mouse clicks only: Enter and the space bar do not press them.
        if (AfxIsKeyMessageFor(pMsg, VK_RETURN) || AfxIsKeyMessageFor(pMsg, VK_SPACE))
            return TRUE;
    }
    return CButton::PreTranslateMessage(pMsg);
}

void CButtonST::OnMouseMove(UINT nFlags, CPoint point)
{
    CButton::OnMouseMove(nFlags, point);
    if (!m_bIsFlat || !m_bTracking || m_bLocked)
        return;
    CPoint screen = point;
    ClientToScreen(&screen);
    HWND hUnder = ::WindowFromPoint(screen);
    if (hUnder == m_hWnd && ::GetActiveWindow()) {
        if (!m_bMouseOnButton) {
            m_bMouseOnButton = TRUE;
            if (!m_hCursor)
                m_hCursor = (HCURSOR)::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(kHandCursorId),
                                                  IMAGE_CURSOR, 0, 0, 0);
            if (m_bIsCheckBox || m_bIsRadio || m_bTransparent) {
                CRect rc = HoverRect();
                InvalidateRect(&rc);
            } else {
                Invalidate();
            }
            TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, HOVER_DEFAULT};
            ::TrackMouseEvent(&tme);
        }
    } else {
        CancelHover();
    }
}

void CButtonST::OnMouseLeave()
{
    CancelHover();
    Default();
}

void CButtonST::OnKillFocus(CWnd* pNewWnd)
{
    CButton::OnKillFocus(pNewWnd);
    CancelHover();
}

void CButtonST::OnCancelMode()
{
    CButton::OnCancelMode();
    CancelHover();
}

void CButtonST::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized)
{
    CButton::OnActivate(nState, pWndOther, bMinimized);
    if (nState == WA_INACTIVE)
        CancelHover();
}

void CButtonST::OnEnable(BOOL bEnable)
{
    CButton::OnEnable(bEnable);
    if (!bEnable) {
        // A disabled window must not keep the keyboard focus.
        if (::GetFocus() == m_hWnd) {
            HWND hParent = ::GetParent(m_hWnd);
            HWND hNext = hParent ? ::GetNextDlgTabItem(hParent, m_hWnd, FALSE) : nullptr;
            if (hNext && hNext != m_hWnd)
                ::SetFocus(hNext);
            else if (hParent)
                ::SetFocus(hParent);
        }
        CancelHover();
    }
}

void CButtonST::OnLButtonDown(UINT nFlags, CPoint point)
{
    if (m_bTracking && !m_bLocked)
        CButton::OnLButtonDown(nFlags, point);
}

BOOL CButtonST::OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message)
{
    if (m_hCursor) {
        ::SetCursor(m_hCursor);
        return TRUE;
    }
    return CButton::OnSetCursor(pWnd, nHitTest, message);
}

void CButtonST::OnSysColorChange()
{
    CButton::OnSysColorChange();
    SetDefaultColors(TRUE);
}

BOOL CButtonST::OnEraseBkgnd(CDC*) { return TRUE; }

UINT CButtonST::OnGetDlgCode()
{
    UINT code = (UINT)Default();
    code &= ~(DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
    code |= m_bIsDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON;
    return code;
}

BOOL CButtonST::OnClicked()
{
    if (m_bIsCheckBox) {
        SetCheckState(m_nCheck ? 0 : 1);
    } else if (m_bIsRadio && !m_nCheck) {
        SetCheckState(1);
    }
    return FALSE;  // the parent sees the click too
}

HBRUSH CButtonST::CtlColor(CDC*, UINT) { return (HBRUSH)::GetStockObject(NULL_BRUSH); }

// ---------------------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------------------

// The picture slot the button's state calls for. Icons and images keep a disabled push
// button's picture in different slots, so the caller names that one.
int CButtonST::SlotForState(int nDisabledSlot) const
{
    int slot = 0;
    if (m_bIsCheckBox || m_bIsRadio) {
        if (m_nCheck)
            slot = m_bIsDisabled ? 4 : 2;
        else
            slot = m_bIsDisabled ? 3 : (m_bMouseOnButton ? 1 : 0);
    } else {
        if (m_bIsDisabled)
            slot = nDisabledSlot;
        else if (m_bIsPressed)
            slot = 1;
        else if (m_bMouseOnButton)
            slot = 2;
    }
    return slot;
}

int CButtonST::IconSlotForState() const
{
    int slot = SlotForState(4);
    return m_icons[slot].hIcon ? slot : 0;
}

int CButtonST::ImageSlotForState() const
{
    int slot = SlotForState(3);
    return m_images[slot].IsNull() ? 0 : slot;
}

CRect CButtonST::ImageRect(const CRect& rcItem, int cx, int cy) const
{
    CRect r;
    switch (m_byAlign) {
    case ST_ALIGN_VERT:
        r.left = rcItem.left + (rcItem.Width() - cx) / 2;
        r.top = rcItem.top + m_ptImageOrg.y;
        break;
    case ST_ALIGN_HORIZ_RIGHT:
        r.left = rcItem.right - m_ptImageOrg.x - cx;
        r.top = rcItem.top + (rcItem.Height() - cy) / 2;
        break;
    default:
        r.left = rcItem.left + m_ptImageOrg.x;
        r.top = rcItem.top + (rcItem.Height() - cy) / 2;
        break;
    }
    r.right = r.left + cx;
    r.bottom = r.top + cy;
    if (m_bIsPressed && !m_bIsCheckBox && !m_bIsRadio)
        r.OffsetRect(m_ptPressedOffset.x, m_ptPressedOffset.y);
    return r;
}

// The area that changes when only the hover or check look changes.
CRect CButtonST::HoverRect() const
{
    CRect rc;
    GetClientRect(&rc);
    int cx = 0, cy = 0;
    if (m_icons[0].hIcon) {
        cx = m_icons[0].cx;
        cy = m_icons[0].cy;
    } else if (!m_images[0].IsNull()) {
        cx = (m_bIsCheckBox || m_bIsRadio) ? 13 : m_images[0].GetWidth();
        cy = (m_bIsCheckBox || m_bIsRadio) ? 13 : m_images[0].GetHeight();
    }
    if (cx == 0 || m_bTransparent)
        return rc;  // no image: the caption colour may change, so the whole button
    CRect r = ImageRect(rc, cx, cy);
    r.InflateRect(1, 1);
    return r;
}

void CButtonST::DrawCaption(CDC* pDC, CRect rcCaption)
{
    CString title = GetWindowText();
    if (title.IsEmpty())
        return;
    if (m_bIsPressed && !m_bIsCheckBox && !m_bIsRadio)
        rcCaption.OffsetRect(m_ptPressedOffset.x, m_ptPressedOffset.y);
    bool plainPush = !m_bIsCheckBox && !m_bIsRadio;
    UINT wrap = (plainPush && !m_bSingleLine) ? DT_WORDBREAK : 0;
    const UINT prefix = m_bNoPrefix ? DT_NOPREFIX : 0;
    CRect rcCalc = rcCaption;
    pDC->DrawText(title, &rcCalc, DT_CALCRECT | DT_CENTER | DT_END_ELLIPSIS | wrap | prefix);
    // Vertically centred on the measured height; horizontally the whole caption area with
    // the alignment, so that the measured width never cuts the last character.
    int h = rcCalc.Height();
    CRect rcText(rcCaption.left, rcCaption.top + (rcCaption.Height() - h) / 2, rcCaption.right, 0);
    rcText.bottom = rcText.top + h;
    if (m_bLeftAlign && !plainPush)
        rcText.left += 1;
    COLORREF fg = (m_bMouseOnButton || m_bIsPressed) ? m_crColors[BTNST_COLOR_FG_IN]
                  : m_bIsFocused                    ? m_crColors[BTNST_COLOR_FG_FOCUS]
                                                    : m_crColors[BTNST_COLOR_FG_OUT];
    pDC->SetBkMode(TRANSPARENT);
    pDC->SetTextColor(fg);
    pDC->DrawText(title, &rcText, DT_END_ELLIPSIS | wrap | prefix | (m_bLeftAlign ? DT_LEFT : DT_CENTER));
}

void CButtonST::DrawItem(LPDRAWITEMSTRUCT lpDIS)
{
    CDC dc;
    dc.Attach(lpDIS->hDC);
    CDC* pDC = &dc;
    int saved = pDC->SaveDC();

    m_bIsPressed = (lpDIS->itemState & ODS_SELECTED) != 0;
    if (m_bIsCheckBox || m_bIsRadio)
        m_bIsPressed = FALSE;
    m_bIsFocused = (lpDIS->itemState & ODS_FOCUS) != 0;
    m_bIsDisabled = (lpDIS->itemState & ODS_DISABLED) != 0 || m_bDisabledLook;

    CRect rcItem = lpDIS->rcItem;
    pDC->SetBkMode(TRANSPARENT);

    // Background.
    if (m_bTransparent) {
        PaintBk(pDC, rcItem);
    } else {
        COLORREF bk = m_bCustomBk                        ? m_crCustomBk
                      : (m_bMouseOnButton || m_bIsPressed) ? m_crColors[BTNST_COLOR_BK_IN]
                      : m_bIsFocused                     ? m_crColors[BTNST_COLOR_BK_FOCUS]
                                                         : m_crColors[BTNST_COLOR_BK_OUT];
        pDC->FillSolidRect(&rcItem, bk);
    }

    // Border.
    if (m_bIsPressed) {
        if (m_bIsFlat) {
            if (m_bDrawBorder)
                pDC->Draw3dRect(&rcItem, ::GetSysColor(COLOR_BTNSHADOW), ::GetSysColor(COLOR_BTNHILIGHT));
        } else {
            CBrush br(::GetSysColor(COLOR_BTNSHADOW));
            pDC->FrameRect(&rcItem, &br);
        }
    } else if (!m_bIsFlat) {
        CRect r = rcItem;
        pDC->Draw3dRect(&r, ::GetSysColor(COLOR_BTNHILIGHT), ::GetSysColor(COLOR_3DDKSHADOW));
        r.DeflateRect(1, 1);
        pDC->Draw3dRect(&r, ::GetSysColor(COLOR_3DLIGHT), ::GetSysColor(COLOR_BTNSHADOW));
    } else if (m_bMouseOnButton && m_bDrawBorder && !m_bIsCheckBox && !m_bIsRadio) {
        pDC->Draw3dRect(&rcItem, ::GetSysColor(COLOR_BTNHILIGHT), ::GetSysColor(COLOR_BTNSHADOW));
    }
    if (m_bCustomBk && m_crBottomLine)
        pDC->FillSolidRect(rcItem.left, rcItem.bottom - 1, rcItem.Width(), 1, m_crBottomLine);

    CRect rcCaption = rcItem;
    // The caption takes the room the picture leaves, on the side the alignment gives.
    auto fitCaptionBeside = [&](const CRect& rImg) {
        if (m_byAlign == ST_ALIGN_VERT)
            rcCaption.top = rImg.bottom;
        else if (m_byAlign == ST_ALIGN_HORIZ_RIGHT)
            rcCaption.right = rImg.left;
        else
            rcCaption.left = rImg.right;
    };
    // Icon.
    if (m_icons[0].hIcon) {
        const IconSlot& ic = m_icons[IconSlotForState()];
        CRect rImg = ImageRect(rcItem, ic.cx, ic.cy);
        pDC->DrawState(rImg.TopLeft(), rImg.Size(), ic.hIcon, DSS_NORMAL);
        fitCaptionBeside(rImg);
    } else if (m_bHasImages && !m_images[0].IsNull()) {
        // PNG image.
        const CImage& img = m_images[ImageSlotForState()];
        bool small = m_bIsCheckBox || m_bIsRadio;
        int cx = small ? 13 : img.GetWidth();
        int cy = small ? 13 : img.GetHeight();
        CRect rImg = ImageRect(rcItem, cx, cy);
        img.Draw(pDC->m_hDC, rImg.left, rImg.top, cx, cy, 0, 0, img.GetWidth(), img.GetHeight());
        fitCaptionBeside(rImg);
    }

    // Skin: left cap, stretched middle, right cap, all at the button's height.
    if (m_bUseSkin) {
        int g = m_bIsDisabled ? 3 : m_bIsPressed ? 1 : m_bMouseOnButton ? 2 : 0;
        if (m_skin[g][0].IsNull())
            g = 0;
        const CImage& l = m_skin[g][0];
        const CImage& m = m_skin[g][1];
        const CImage& r = m_skin[g][2];
        int h = rcItem.Height();
        int lw = l.IsNull() ? 0 : l.GetWidth();
        int rw = r.IsNull() ? 0 : r.GetWidth();
        if (!l.IsNull())
            l.Draw(pDC->m_hDC, rcItem.left, rcItem.top, lw, h, 0, 0, lw, l.GetHeight());
        if (!m.IsNull() && rcItem.Width() > lw + rw)
            m.Draw(pDC->m_hDC, rcItem.left + lw, rcItem.top, rcItem.Width() - lw - rw, h, 0, 0, m.GetWidth(),
                   m.GetHeight());
        if (!r.IsNull())
            r.Draw(pDC->m_hDC, rcItem.right - rw, rcItem.top, rw, h, 0, 0, rw, r.GetHeight());
    }

    // Caption, in the button's font.
    HFONT hFont = (HFONT)::SendMessageW(m_hWnd, WM_GETFONT, 0, 0);
    if (hFont)
        ::SelectObject(pDC->m_hDC, hFont);
    DrawCaption(pDC, rcCaption);

    pDC->RestoreDC(saved);
    dc.Detach();
}
