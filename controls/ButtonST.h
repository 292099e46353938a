#pragma once
// CButtonST: the skinned push button, check box and radio button of every window.
// An owner-drawn button that tracks hover, press, focus and disabled states and paints in
// layers: background (a colour, the parent's background, or a three-slice PNG skin),
// border, an icon or a PNG image per state, and the caption.

#include "afxwin.h"
#include "atlimage.h"

class CButtonST : public CButton {
public:
    CButtonST();
    ~CButtonST() override;

    // Colour slots: background and text for the three looks.
    enum {
        BTNST_COLOR_BK_IN = 0,   // hover or pressed
        BTNST_COLOR_FG_IN,
        BTNST_COLOR_BK_OUT,      // normal
        BTNST_COLOR_FG_OUT,
        BTNST_COLOR_BK_FOCUS,    // focused
        BTNST_COLOR_FG_FOCUS,
        BTNST_MAX_COLORS
    };
    enum { ST_ALIGN_HORIZ = 0, ST_ALIGN_VERT = 1, ST_ALIGN_HORIZ_RIGHT = 2 };
    enum { BTNST_OK = 0, BTNST_INVALIDINDEX = 1, BTNST_BADPARAM = 5 };
    // SetIcons' third argument may name a derived picture instead of a resource.
    enum { BTNST_AUTO_GRAY = -2, BTNST_AUTO_DARKER = -3 };

    static constexpr UINT kHandCursorId = 131;
    static const UINT kSkinIds[4][3];

    // Icons: SetIcons(pressed, hover, disabled, normal) for push buttons; 0 leaves a slot
    // empty. SetStateIcons gives the five slots directly (check and radio buttons).
    DWORD SetIcons(int nPressed, int nHover, int nDisabled, int nNormal);
    DWORD SetStateIcons(int n0, int n1, int n2, int n3, int n4);
    // PNG images per state (normal, pressed, hover, disabled or 0).
    DWORD LoadPngImages(UINT nNormal, UINT nPressed, UINT nHover, UINT nDisabled = 0);
    // The three-slice skin of the table kSkinIds.
    DWORD LoadSkinSlices();

    void SetCheckState(int nCheck);
    int GetCheckState() const { return m_nCheck; }
    void CancelHover();
    DWORD ResetBackground(BOOL bRepaint = TRUE);
    DWORD CopyParentBackground(CDC* pDC);

    DWORD SetColor(BYTE byIndex, COLORREF crColor, BOOL bRepaint = TRUE);
    DWORD SetDefaultColors(BOOL bRepaint = TRUE);
    void SetFlat(BOOL b = TRUE, BOOL bRepaint = TRUE) { m_bIsFlat = b; Redraw(bRepaint); }
    void DrawBorder(BOOL b = TRUE, BOOL bRepaint = TRUE) { m_bDrawBorder = b; Redraw(bRepaint); }
    void SetAlign(BYTE byAlign, BOOL bRepaint = TRUE) { m_byAlign = byAlign <= 2 ? byAlign : 0; Redraw(bRepaint); }
    void SetSingleLine(BOOL b = TRUE, BOOL bRepaint = TRUE) { m_bSingleLine = b; Redraw(bRepaint); }
    void SetLeftAlign(BOOL b = TRUE, BOOL bRepaint = TRUE) { m_bLeftAlign = b; Redraw(bRepaint); }
    // The caption is drawn as it is: an "&" is shown, not taken as a mnemonic prefix (for
    // captions that are data, such as a file name).
    void SetNoPrefix(BOOL b = TRUE, BOOL bRepaint = TRUE) { m_bNoPrefix = b; Redraw(bRepaint); }
    void SetImageOrigin(int x, int y, BOOL bRepaint = TRUE) { m_ptImageOrg = CPoint(x, y); Redraw(bRepaint); }
    void SetPressedOffset(int x, int y, BOOL bRepaint = TRUE) { m_ptPressedOffset = CPoint(x, y); Redraw(bRepaint); }
    void SetCustomBackground(BOOL bOn, COLORREF crBk = 0, COLORREF crBottomLine = 0, BOOL bRepaint = TRUE);
    void SetPremultiply(BOOL b) { m_bPremultiply = b; }
    // Mouse input and hover tracking happen only while tracking is on and the button is not locked.
    void SetTracking(BOOL b) { m_bTracking = b; }
    void SetLocked(BOOL b) { m_bLocked = b; }
    BOOL GetTracking() const { return m_bTracking; }
    // Draws the disabled look while the window itself stays enabled.
    void SetDisabledLook(BOOL b, BOOL bRepaint = TRUE) { m_bDisabledLook = b; Redraw(bRepaint); }
    BOOL HasDisabledLook() const { return m_bDisabledLook; }

    BOOL IsCheckBox() const { return m_bIsCheckBox; }
    BOOL IsRadio() const { return m_bIsRadio; }
    BOOL IsDefault() const { return m_bIsDefault; }
    BOOL IsHover() const { return m_bMouseOnButton; }
    BOOL IsTransparent() const { return m_bTransparent; }
    BOOL IsSkinned() const { return m_bUseSkin; }

    BOOL PreTranslateMessage(MSG* pMsg) override;
    void DrawItem(LPDRAWITEMSTRUCT lpDIS) override;

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    void OnKillFocus(CWnd* pNewWnd);
    void OnCancelMode();
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnEnable(BOOL bEnable);
    void OnLButtonDown(UINT nFlags, CPoint point);
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnSysColorChange();
    BOOL OnEraseBkgnd(CDC* pDC);
    UINT OnGetDlgCode();
    BOOL OnClicked();
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    DECLARE_MESSAGE_MAP()

private:
    struct IconSlot {
        HICON hIcon = nullptr;
        int cx = 0;
        int cy = 0;
    };

    void Redraw(BOOL bRepaint)
    {
        if (bRepaint && m_hWnd)
            Invalidate();
    }
    void FreeIcons();
    void FreeImages();
    DWORD SetIconSlot(int slot, int nID);
    HICON MakeDerivedIcon(HICON hSource, bool bGray) const;
    int SlotForState(int nDisabledSlot) const;
    int IconSlotForState() const;
    int ImageSlotForState() const;
    CRect ImageRect(const CRect& rcItem, int cx, int cy) const;
    CRect HoverRect() const;
    void PaintBk(CDC* pDC, const CRect& rc);
    void DrawCaption(CDC* pDC, CRect rcCaption);

    UINT m_nTypeStyle = 0;
    BOOL m_bSingleLine = FALSE;
    BOOL m_bLeftAlign = FALSE;
    BOOL m_bNoPrefix = FALSE;
    BOOL m_bTracking = TRUE;
    BOOL m_bLocked = FALSE;
    CPoint m_ptImageOrg{4, 4};
    CPoint m_ptPressedOffset{1, 1};
    BOOL m_bCustomBk = FALSE;
    COLORREF m_crCustomBk = 0;
    COLORREF m_crBottomLine = 0;
    BOOL m_bPremultiply = TRUE;
    BOOL m_bUseSkin = FALSE;
    BOOL m_bIsFlat = TRUE;
    BOOL m_bDrawBorder = TRUE;
    BOOL m_bMouseOnButton = FALSE;
    BOOL m_bTransparent = FALSE;
    BOOL m_bIsPressed = FALSE;
    BOOL m_bIsFocused = FALSE;
    BOOL m_bIsDisabled = FALSE;
    BOOL m_bIsDefault = FALSE;
    BOOL m_bDisabledLook = FALSE;
    BYTE m_byAlign = ST_ALIGN_HORIZ;
    COLORREF m_crColors[BTNST_MAX_COLORS] = {};
    HCURSOR m_hCursor = nullptr;
    BOOL m_bIsCheckBox = FALSE;
    BOOL m_bIsRadio = FALSE;
    int m_nCheck = 0;
    IconSlot m_icons[5];
    CImage m_images[5];
    BOOL m_bHasImages = FALSE;
    CImage m_skin[4][3];
    // The parent's background under the button, captured once for transparent drawing.
    CDC m_dcBk;
    CBitmap m_bmpBk;
    HGDIOBJ m_hOldBk = nullptr;
};
