// The skinned button: behaviour flags, check toggling by the reflected click, the key
// filter, and its pixels in every state group.
#include <gtest/gtest.h>

#include "ButtonST.h"
#include "SharedFunctions.h"
#include "wintest_util.h"

namespace {

class CClickCounter : public CHostWnd {
public:
    int clicks = 0;

protected:
    void OnClicked() { ++clicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CClickCounter, CHostWnd)
    ON_BN_CLICKED(300, OnClicked)
    ON_BN_CLICKED(301, OnClicked)
END_MESSAGE_MAP()

void Click(CWnd& parent, CButtonST& btn)
{
    parent.SendMessage(WM_COMMAND, MAKEWPARAM(btn.GetDlgCtrlID(), BN_CLICKED), (LPARAM)btn.m_hWnd);
}

COLORREF DrawMiddle(CButtonST& btn, UINT state)
{
    CRect rc;
    btn.GetClientRect(&rc);
    CDibCanvas canvas(rc.Width(), rc.Height(), RGB(255, 0, 255));
    DRAWITEMSTRUCT dis = {ODT_BUTTON, (UINT)btn.GetDlgCtrlID(), 0, ODA_DRAWENTIRE, state, btn.m_hWnd, canvas.Dc(), rc, 0};
    btn.DrawItem(&dis);
    return canvas.Pixel(rc.Width() / 2, rc.Height() / 2);
}

}  // namespace

TEST(ButtonSTTest, StylesGiveBehaviourAndTheReflectedClickTogglesChecks)
{
    CClickCounter host;
    ASSERT_TRUE(host.CreateHost(100, 100, 300, 200));
    CButtonST check, radio, def;
    ASSERT_TRUE(check.Create(L"check", WS_VISIBLE | BS_AUTOCHECKBOX, CRect(10, 10, 100, 30), &host, 300));
    ASSERT_TRUE(radio.Create(L"radio", WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(10, 40, 100, 60), &host, 301));
    ASSERT_TRUE(def.Create(L"ok", WS_VISIBLE | BS_DEFPUSHBUTTON, CRect(10, 70, 100, 90), &host, 302));
    EXPECT_TRUE(check.IsCheckBox());
    EXPECT_FALSE(check.IsRadio());
    EXPECT_TRUE(radio.IsRadio());
    EXPECT_TRUE(def.IsDefault());
    EXPECT_FALSE(def.IsRadio());  // a default push button stays a push button
    // Every one became owner-drawn.
    EXPECT_EQ(check.GetStyle() & BS_TYPEMASK, (DWORD)BS_OWNERDRAW);
    EXPECT_EQ(def.GetStyle() & BS_TYPEMASK, (DWORD)BS_OWNERDRAW);
    EXPECT_TRUE(def.SendMessage(WM_GETDLGCODE) & DLGC_DEFPUSHBUTTON);
    EXPECT_TRUE(check.SendMessage(WM_GETDLGCODE) & DLGC_UNDEFPUSHBUTTON);

    // The check box toggles on each click; the parent still sees every click.
    Click(host, check);
    EXPECT_EQ(check.SendMessage(BM_GETCHECK), 1);
    Click(host, check);
    EXPECT_EQ(check.GetCheckState(), 0);
    EXPECT_EQ(host.clicks, 2);
    // A radio button becomes checked and stays checked until told otherwise.
    Click(host, radio);
    Click(host, radio);
    EXPECT_EQ(radio.GetCheckState(), 1);
    radio.SetCheckState(0);
    EXPECT_EQ(radio.SendMessage(BM_GETCHECK), 0);
    radio.SendMessage(BM_SETCHECK, BST_INDETERMINATE);
    EXPECT_EQ(radio.GetCheckState(), 1);
    // BM_SETSTYLE keeps it owner-drawn and tracks the default flag.
    def.SendMessage(BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    EXPECT_FALSE(def.IsDefault());
    EXPECT_EQ(def.GetStyle() & BS_TYPEMASK, (DWORD)BS_OWNERDRAW);

    // A real click through the control; with tracking off it is ignored.
    check.SendMessage(BM_CLICK);
    EXPECT_EQ(check.GetCheckState(), 1);
    check.SetTracking(FALSE);
    check.SendMessage(BM_CLICK);
    EXPECT_EQ(check.GetCheckState(), 1);
}

TEST(ButtonSTTest, FilterSwallowsOnlyEnterAndSpaceKeysAndUntrackedClicks)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 200, 100));
    CButtonST btn;
    ASSERT_TRUE(btn.Create(L"b", WS_VISIBLE, CRect(10, 10, 100, 34), &host, 310));
    MSG m = {btn.m_hWnd, WM_KEYDOWN, VK_RETURN, 0};
    EXPECT_TRUE(btn.PreTranslateMessage(&m));
    m.message = WM_CHAR;
    m.wParam = L' ';
    EXPECT_TRUE(btn.PreTranslateMessage(&m));
    // Other messages whose parameter happens to be 13 or 32 pass.
    m.message = WM_TIMER;
    m.wParam = 13;
    EXPECT_FALSE(btn.PreTranslateMessage(&m));
    m.message = WM_MOUSEMOVE;
    m.wParam = 0x20;
    EXPECT_FALSE(btn.PreTranslateMessage(&m));
    m.message = WM_KEYDOWN;
    m.wParam = VK_TAB;
    EXPECT_FALSE(btn.PreTranslateMessage(&m));
    // A double click becomes a press; presses pass only while tracking.
    m.message = WM_LBUTTONDBLCLK;
    m.wParam = 0;
    EXPECT_FALSE(btn.PreTranslateMessage(&m));
    EXPECT_EQ(m.message, (UINT)WM_LBUTTONDOWN);
    btn.SetTracking(FALSE);
    EXPECT_TRUE(btn.PreTranslateMessage(&m));
    btn.SetTracking(TRUE);
    btn.SetLocked(TRUE);
    EXPECT_TRUE(btn.PreTranslateMessage(&m));
}

namespace {

class CEnterDialog : public CDialog {
public:
    CEnterDialog() : CDialog(200) {}
    CButtonST skinned;
    int clicks = 0;
    BOOL OnInitDialog() override
    {
        skinned.SubclassDlgItem(1100, this);
        SetTimer(1, 100);
        SetTimer(2, 1500);
        return TRUE;
    }

protected:
    void OnTimer(UINT_PTR id)
    {
        if (id == 1) {
            KillTimer(1);
            skinned.SetFocus();
            for (UINT key : {(UINT)VK_RETURN, (UINT)VK_SPACE}) {
                ::PostMessageW(skinned.m_hWnd, WM_KEYDOWN, key, 0);
                ::PostMessageW(skinned.m_hWnd, WM_CHAR, key, 0);
                ::PostMessageW(skinned.m_hWnd, WM_KEYUP, key, 0xC0000000);
            }
        } else {
            EndDialog(-2);
        }
    }
    void OnSkinnedClicked() { ++clicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CEnterDialog, CDialog)
    ON_WM_TIMER()
    ON_BN_CLICKED(1100, OnSkinnedClicked)
END_MESSAGE_MAP()

}  // namespace

TEST(ButtonSTTest, EnterOnAFocusedSkinnedButtonClicksNothing)
{
    CEnterDialog dlg;
    // Neither the skinned button nor the dialog's default button was pressed.
    EXPECT_EQ(dlg.DoModal(), -2);
    EXPECT_EQ(dlg.clicks, 0);
}

TEST(ButtonSTTest, SkinPixelsFollowTheStateGroups)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 300, 120));
    CButtonST btn;
    ASSERT_TRUE(btn.Create(L"", WS_VISIBLE, CRect(20, 20, 120, 44), &host, 320));
    btn.LoadSkinSlices();
    const COLORREF normal = ImagePixel(254, 0, 12);
    const COLORREF pressed = ImagePixel(245, 0, 12);
    const COLORREF hover = ImagePixel(251, 0, 12);
    const COLORREF disabled = ImagePixel(248, 0, 12);
    ASSERT_NE(normal, CLR_INVALID);
    ASSERT_FALSE(Near(normal, pressed));

    EXPECT_TRUE(Near(DrawMiddle(btn, 0), normal)) << ColorText(DrawMiddle(btn, 0));
    EXPECT_TRUE(Near(DrawMiddle(btn, ODS_SELECTED), pressed));
    EXPECT_TRUE(Near(DrawMiddle(btn, ODS_DISABLED), disabled));

    // The same through the window: the owner-drawn paint reaches the screen.
    btn.Invalidate();
    btn.UpdateWindow();
    EXPECT_TRUE(Near(ScreenPixel(btn.m_hWnd, 50, 12), normal)) << ColorText(ScreenPixel(btn.m_hWnd, 50, 12));

    // Hover: the mouse over the button in an active window.
    btn.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(50, 12));
    ASSERT_TRUE(btn.IsHover());
    EXPECT_TRUE(Near(DrawMiddle(btn, 0), hover));
    // Disabled wins over hover.
    EXPECT_TRUE(Near(DrawMiddle(btn, ODS_DISABLED), disabled));
    btn.SendMessage(WM_MOUSELEAVE);
    EXPECT_FALSE(btn.IsHover());
    // The disabled look without disabling the window.
    btn.SetDisabledLook(TRUE, FALSE);
    EXPECT_TRUE(Near(DrawMiddle(btn, 0), disabled));
}

TEST(ButtonSTTest, TransparentButtonShowsTheParentBehindItsRoundedCorners)
{
    CHostWnd host;
    host.m_crFill = RGB(200, 30, 40);
    ASSERT_TRUE(host.CreateHost(100, 100, 300, 120));
    CButtonST btn;
    ASSERT_TRUE(btn.Create(L"", WS_VISIBLE, CRect(20, 20, 120, 44), &host, 330));
    btn.LoadSkinSlices();
    // Not transparent: the corner shows the button face colour under the skin's corner.
    EXPECT_EQ(btn.CopyParentBackground(nullptr), (DWORD)CButtonST::BTNST_BADPARAM);
    btn.ResetBackground(FALSE);
    ASSERT_TRUE(btn.IsTransparent());
    {
        CClientDC dc(&host);
        EXPECT_EQ(btn.CopyParentBackground(&dc), (DWORD)CButtonST::BTNST_OK);
    }
    // The corner shows the picture the button took, not whatever the parent paints there now:
    // with the parent repainted in another colour, the corner keeps the taken one.
    const COLORREF taken = host.m_crFill;
    host.m_crFill = RGB(20, 40, 230);
    host.Invalidate(TRUE);
    host.UpdateWindow();
    btn.Invalidate();
    btn.UpdateWindow();
    EXPECT_TRUE(Near(ScreenPixel(host.m_hWnd, 5, 5), host.m_crFill)) << ColorText(ScreenPixel(host.m_hWnd, 5, 5));
    EXPECT_TRUE(Near(ScreenPixel(btn.m_hWnd, 0, 0), taken)) << ColorText(ScreenPixel(btn.m_hWnd, 0, 0));
    EXPECT_TRUE(Near(ScreenPixel(btn.m_hWnd, 50, 12), ImagePixel(254, 0, 12)));
}

namespace {
COLORREF DrawAt(CButtonST& btn, UINT state, int x, int y)
{
    CRect rc;
    btn.GetClientRect(&rc);
    CDibCanvas canvas(rc.Width(), rc.Height(), RGB(255, 0, 255));
    DRAWITEMSTRUCT dis = {ODT_BUTTON, (UINT)btn.GetDlgCtrlID(), 0, ODA_DRAWENTIRE, state, btn.m_hWnd, canvas.Dc(), rc, 0};
    btn.DrawItem(&dis);
    return canvas.Pixel(x, y);
}
}  // namespace

TEST(ButtonSTTest, IconSlotsAndTheDerivedDisabledIcon)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 300, 120));
    CButtonST btn;
    ASSERT_TRUE(btn.Create(L"", WS_VISIBLE, CRect(20, 20, 120, 44), &host, 340));
    // The close glyph's strokes cross at the icon's centre: 4 in from the left, centred.
    const int cx = 4 + 8, cy = 12;
    ASSERT_EQ(btn.SetIcons(163, 164, CButtonST::BTNST_AUTO_DARKER, 165), (DWORD)CButtonST::BTNST_OK);
    COLORREF normal = DrawAt(btn, 0, cx, cy);
    EXPECT_TRUE(Near(normal, RGB(255, 255, 255), 8)) << ColorText(normal);
    // Darker copy: every channel at three quarters.
    COLORREF dark = DrawAt(btn, ODS_DISABLED, cx, cy);
    EXPECT_TRUE(Near(dark, RGB(191, 191, 191), 8)) << ColorText(dark);
    // Pressed uses slot 1 (its own picture: the glyph on a dark disc) moved by the pressed offset.
    COLORREF pressed = DrawAt(btn, ODS_SELECTED, cx + 1, cy + 1);
    EXPECT_TRUE(Near(pressed, RGB(255, 255, 255), 8)) << ColorText(pressed);
    COLORREF pressedDisc = DrawAt(btn, ODS_SELECTED, cx + 1 + 6, cy + 1);
    EXPECT_FALSE(Near(pressedDisc, ::GetSysColor(COLOR_BTNFACE), 8)) << ColorText(pressedDisc);
    // A missing icon slot falls back to the normal picture.
    ASSERT_EQ(btn.SetIcons(0, 0, 0, 165), (DWORD)CButtonST::BTNST_OK);
    EXPECT_TRUE(Near(DrawAt(btn, ODS_DISABLED, cx, cy), RGB(255, 255, 255), 8));
}
