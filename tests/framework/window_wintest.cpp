// The window layer under Wine: message maps, reflection, the creation hook, handle maps
// and the modal loop.
#include <gtest/gtest.h>

#include "afxwin.h"

#include <string>
#include <vector>

namespace {

const UINT WM_TEST_PING = WM_APP + 1;
UINT g_nRegistered = ::RegisterWindowMessageW(L"ZulWindowTestMessage");

// ---------------------------------------------------------------------------------------

class CBaseWnd : public CWnd {
public:
    std::vector<std::string> log;

protected:
    int OnCreate(LPCREATESTRUCT lpcs)
    {
        log.push_back("create");
        return CWnd::OnCreate(lpcs);
    }
    void OnSize(UINT, int cx, int cy) { log.push_back("size " + std::to_string(cx) + "x" + std::to_string(cy)); }
    LRESULT OnPing(WPARAM w, LPARAM l) { return (LRESULT)(w + l); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseWnd, CWnd)
    ON_WM_CREATE()
    ON_WM_SIZE()
    ON_MESSAGE(WM_TEST_PING, OnPing)
END_MESSAGE_MAP()

class CDerivedWnd : public CBaseWnd {
public:
    int commands = 0;
    int clicks = 0;
    int notifies = 0;
    int drawItems = 0;
    int registered = 0;
    CBrush parentBrush{RGB(1, 2, 3)};

protected:
    // Overrides the base's ON_MESSAGE entry for the same message.
    LRESULT OnPing(WPARAM w, LPARAM l) { return (LRESULT)(w * l); }
    LRESULT OnRegistered(WPARAM, LPARAM) { return ++registered; }
    LRESULT OnSetTextHook(WPARAM, LPARAM)
    {
        log.push_back("settext");
        return Default();  // the per-thread current message goes on to the default
    }
    void OnMenuCommand() { ++commands; }
    void OnChildClicked() { ++clicks; }
    void OnChildNotify(NMHDR*, LRESULT* pResult)
    {
        ++notifies;
        *pResult = 7;
    }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
    {
        HBRUSH h = CBaseWnd::OnCtlColor(pDC, pWnd, nCtlColor);  // reflection, else the default
        return pWnd && pWnd->GetDlgCtrlID() == 201 ? (HBRUSH)parentBrush.m_hObject : h;
    }
    void OnDrawItem(int id, LPDRAWITEMSTRUCT p)
    {
        ++drawItems;
        CBaseWnd::OnDrawItem(id, p);  // reflected to the control's DrawItem
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedWnd, CBaseWnd)
    ON_MESSAGE(WM_TEST_PING, OnPing)
    ON_REGISTERED_MESSAGE(g_nRegistered, OnRegistered)
    ON_MESSAGE(WM_SETTEXT, OnSetTextHook)
    ON_COMMAND(40001, OnMenuCommand)
    ON_BN_CLICKED(200, OnChildClicked)
    ON_BN_CLICKED(201, OnChildClicked)
    ON_NOTIFY(NM_CLICK, 200, OnChildNotify)
    ON_NOTIFY(NM_CLICK, 201, OnChildNotify)
    ON_WM_CTLCOLOR()
    ON_WM_DRAWITEM()
END_MESSAGE_MAP()

// A button that sees its own notifications first.
class CReflectButton : public CButton {
public:
    BOOL consume = FALSE;
    int reflectedClicks = 0;
    int reflectedNotifies = 0;
    int drawn = 0;
    int created = 0;
    int presubclassed = 0;
    HBRUSH brush = nullptr;

    void DrawItem(LPDRAWITEMSTRUCT) override { ++drawn; }

protected:
    void PreSubclassWindow() override { ++presubclassed; }
    int OnCreate(LPCREATESTRUCT lpcs)
    {
        ++created;
        return CButton::OnCreate(lpcs);
    }
    BOOL OnClicked()
    {
        ++reflectedClicks;
        return consume;
    }
    void OnNotifyClick(NMHDR*, LRESULT* pResult)
    {
        ++reflectedNotifies;
        *pResult = 42;
    }
    HBRUSH CtlColor(CDC*, UINT) { return brush; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CReflectButton, CButton)
    ON_WM_CREATE()
    ON_CONTROL_REFLECT_EX(BN_CLICKED, OnClicked)
    ON_NOTIFY_REFLECT(NM_CLICK, OnNotifyClick)
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class CRefusingWnd : public CWnd {
protected:
    int OnCreate(LPCREATESTRUCT) { return -1; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRefusingWnd, CWnd)
    ON_WM_CREATE()
END_MESSAGE_MAP()

}  // namespace

TEST(MessageMapTest, DispatchesAlongTheClassChainAndKeepsTheCurrentMessage)
{
    CDerivedWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, L"map", WS_POPUP, CRect(0, 0, 100, 80), nullptr, 0));
    // OnCreate of the base ran through the creation hook, before the window existed for the caller.
    ASSERT_FALSE(wnd.log.empty());
    EXPECT_EQ(wnd.log[0], "create");
    EXPECT_EQ(CWnd::FromHandlePermanent(wnd.m_hWnd), &wnd);

    // The derived entry wins over the base entry for the same message.
    EXPECT_EQ(wnd.SendMessage(WM_TEST_PING, 6, 7), 42);
    // A base-only entry still dispatches.
    wnd.SetWindowPos(nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(wnd.log.back(), "size 120x90");
    // Registered message numbers are looked up at run time.
    EXPECT_EQ(wnd.SendMessage(g_nRegistered), 1);
    // Default() passes the handler's own message on: the text is set.
    wnd.SetWindowText(L"hello");
    EXPECT_EQ(wnd.log.back(), "settext");
    EXPECT_EQ(wnd.GetWindowText(), CString(L"hello"));
    // Menu commands (no control) reach ON_COMMAND.
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(40001, 0), 0);
    EXPECT_EQ(wnd.commands, 1);
    // Unmapped messages go to the default procedure.
    EXPECT_EQ(wnd.SendMessage(WM_GETTEXTLENGTH), 5);
    wnd.DestroyWindow();
    EXPECT_EQ(wnd.m_hWnd, nullptr);
}

TEST(MessageMapTest, ReflectsCommandsNotificationsColoursAndDrawing)
{
    CDerivedWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, L"parent", WS_POPUP | WS_VISIBLE, CRect(0, 0, 200, 100), nullptr, 0));
    CReflectButton passes, consumes;
    ASSERT_TRUE(passes.Create(L"a", WS_VISIBLE | BS_PUSHBUTTON, CRect(0, 0, 50, 20), &parent, 200));
    ASSERT_TRUE(consumes.Create(L"b", WS_VISIBLE | BS_OWNERDRAW, CRect(60, 0, 110, 20), &parent, 201));
    consumes.consume = TRUE;
    // The creation hook ran PreSubclassWindow and OnCreate for controls made in code.
    EXPECT_EQ(passes.presubclassed, 1);
    EXPECT_EQ(passes.created, 1);

    // ON_CONTROL_REFLECT_EX: FALSE lets the parent see the click, TRUE keeps it.
    parent.SendMessage(WM_COMMAND, MAKEWPARAM(200, BN_CLICKED), (LPARAM)passes.m_hWnd);
    EXPECT_EQ(passes.reflectedClicks, 1);
    EXPECT_EQ(parent.clicks, 1);
    parent.SendMessage(WM_COMMAND, MAKEWPARAM(201, BN_CLICKED), (LPARAM)consumes.m_hWnd);
    EXPECT_EQ(consumes.reflectedClicks, 1);
    EXPECT_EQ(parent.clicks, 1);

    // ON_NOTIFY_REFLECT consumes the notification and sets the result.
    NMHDR nm = {passes.m_hWnd, 200, (UINT)NM_CLICK};
    EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 200, (LPARAM)&nm), 42);
    EXPECT_EQ(passes.reflectedNotifies, 1);
    EXPECT_EQ(parent.notifies, 0);

    // Colour: the control's brush when it gives one, else the parent's.
    CBrush childBrush(RGB(9, 9, 9));
    passes.brush = (HBRUSH)childBrush.m_hObject;
    HDC hdc = ::GetDC(parent.m_hWnd);
    EXPECT_EQ((HBRUSH)parent.SendMessage(WM_CTLCOLORBTN, (WPARAM)hdc, (LPARAM)passes.m_hWnd), passes.brush);
    passes.brush = nullptr;
    EXPECT_EQ((HBRUSH)parent.SendMessage(WM_CTLCOLORBTN, (WPARAM)hdc, (LPARAM)passes.m_hWnd),
              (HBRUSH)::DefWindowProcW(parent.m_hWnd, WM_CTLCOLORBTN, (WPARAM)hdc, (LPARAM)passes.m_hWnd));
    EXPECT_EQ((HBRUSH)parent.SendMessage(WM_CTLCOLORBTN, (WPARAM)hdc, (LPARAM)consumes.m_hWnd),
              (HBRUSH)parent.parentBrush.m_hObject);
    ::ReleaseDC(parent.m_hWnd, hdc);

    // WM_DRAWITEM of an owner-drawn control ends in its DrawItem.
    consumes.Invalidate();
    consumes.UpdateWindow();
    EXPECT_GE(consumes.drawn, 1);
    EXPECT_GE(parent.drawItems, 1);
}

TEST(HandleMapTest, PermanentAndTemporaryObjects)
{
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, L"owner", WS_POPUP, CRect(0, 0, 50, 50), nullptr, 0));
    HWND plain = ::CreateWindowExW(0, L"STATIC", L"plain", WS_CHILD, 0, 0, 10, 10, owner.m_hWnd, nullptr,
                                   nullptr, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(CWnd::FromHandle(owner.m_hWnd), &owner);
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
    CWnd* temp = CWnd::FromHandle(plain);
    ASSERT_NE(temp, nullptr);
    EXPECT_EQ(temp->m_hWnd, plain);
    EXPECT_EQ(CWnd::FromHandle(plain), temp);
    EXPECT_EQ(owner.GetDlgItem(0) ? owner.GetDlgItem(0)->m_hWnd : nullptr, plain);

    // A window that refuses creation leaves its object free again.
    CRefusingWnd refusing;
    EXPECT_FALSE(refusing.CreateEx(0, nullptr, L"no", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    EXPECT_EQ(refusing.m_hWnd, nullptr);

    // Subclassing an existing window joins it to the map; destruction leaves it.
    CWnd sub;
    ASSERT_TRUE(sub.SubclassWindow(plain));
    EXPECT_EQ(CWnd::FromHandle(plain), &sub);
    EXPECT_FALSE(CWnd().SubclassWindow(plain));  // one owner per window
    owner.DestroyWindow();
    EXPECT_EQ(sub.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
    AfxPurgeTemporaryMaps();
}

// ---------------------------------------------------------------------------------------
// Dialogs
// ---------------------------------------------------------------------------------------

namespace {

std::vector<std::string> g_order;

class CLoggingButton : public CButton {
public:
    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        if (pMsg->message == WM_KEYDOWN)
            g_order.push_back("button");
        return CButton::PreTranslateMessage(pMsg);
    }
};

class CPage : public CDialog {
public:
    int created = 0;
    CLoggingButton inner;
    BOOL OnInitDialog() override
    {
        inner.SubclassDlgItem(1001, this);
        return TRUE;
    }
    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        // The page leaves keyboard navigation to the dialog that holds it.
        if (pMsg->message == WM_KEYDOWN)
            g_order.push_back("page");
        return FALSE;
    }

protected:
    int OnCreate(LPCREATESTRUCT lpcs)
    {
        ++created;
        return CDialog::OnCreate(lpcs);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPage, CDialog)
    ON_WM_CREATE()
END_MESSAGE_MAP()

class CTestDialog : public CDialog {
public:
    explicit CTestDialog(CWnd* parent = nullptr) : CDialog(100, parent) {}
    int created = 0;
    int inits = 0;
    UINT keyToSend = 0;
    HWND keyTarget = nullptr;  // the edit when not given
    bool swallowF5 = true;
    CPage page;
    std::vector<std::string> steps;

    BOOL OnInitDialog() override
    {
        ++inits;
        page.Create(101, this);
        page.SetWindowPos(nullptr, 0, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        SetTimer(1, 50);
        SetTimer(99, 2000);  // never wait for ever
        return TRUE;
    }
    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        if (pMsg->message == WM_KEYDOWN)
            g_order.push_back("dialog");
        if (swallowF5 && AfxIsKeyMessageFor(pMsg, VK_F5))
            return TRUE;
        return CDialog::PreTranslateMessage(pMsg);
    }

protected:
    int OnCreate(LPCREATESTRUCT lpcs)
    {
        ++created;
        return CDialog::OnCreate(lpcs);
    }
    void OnTimer(UINT_PTR id)
    {
        if (id == 99) {
            EndDialog(-2);
            return;
        }
        KillTimer(1);
        if (keyToSend) {
            // Posted to a known control: the focus may belong to another program's window.
            HWND target = keyTarget ? keyTarget : ::GetDlgItem(m_hWnd, 1000);
            ::PostMessageW(target, WM_KEYDOWN, keyToSend, 0);
        }
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDialog, CDialog)
    ON_WM_CREATE()
    ON_WM_TIMER()
END_MESSAGE_MAP()

// Another top-level window whose timer must keep running under a modal dialog.
class CTickWnd : public CWnd {
public:
    int ticks = 0;

protected:
    void OnTimer(UINT_PTR) { ++ticks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTickWnd, CWnd)
    ON_WM_TIMER()
END_MESSAGE_MAP()

}  // namespace

TEST(DialogTest, ModalLoopEndsOnEscAndEnterAndKeepsOtherTimers)
{
    CTickWnd other;
    ASSERT_TRUE(other.CreateEx(0, nullptr, L"ticks", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    other.SetTimer(7, 20);

    CTestDialog esc;
    esc.keyToSend = VK_ESCAPE;
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(esc.DoModal(), IDCANCEL);
    EXPECT_EQ(esc.created, 1);  // OnCreate ran for the dialog
    EXPECT_EQ(esc.inits, 1);
    EXPECT_EQ(esc.page.created, 1);  // and for its modeless child page
    EXPECT_EQ(esc.m_hWnd, nullptr);
    EXPECT_LT(::GetTickCount() - t0, 4000u);
    EXPECT_GE(other.ticks, 1);

    CTestDialog enter;
    enter.keyToSend = VK_RETURN;
    EXPECT_EQ(enter.DoModal(), IDOK);

    // A parent window is disabled while the dialog runs and enabled again after.
    CTickWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, L"owner", WS_POPUP | WS_VISIBLE, CRect(0, 0, 50, 50), nullptr, 0));
    CTestDialog owned(&owner);
    owned.keyToSend = VK_ESCAPE;
    EXPECT_EQ(owned.DoModal(), IDCANCEL);
    EXPECT_TRUE(owner.IsWindowEnabled());
}

TEST(DialogTest, PreTranslateMessageRunsFromTheTargetUpToTheTopLevelWindow)
{
    g_order.clear();
    // Focus the page's button, so that the key is posted to it; the dialog's filter
    // swallows F5, so only the safety timer ends the dialog.
    class CFocusDialog : public CTestDialog {
    public:
        BOOL OnInitDialog() override
        {
            CTestDialog::OnInitDialog();
            keyTarget = page.inner.m_hWnd;
            return TRUE;
        }
    } focused;
    focused.keyToSend = VK_F5;
    EXPECT_EQ(focused.DoModal(), -2);
    ASSERT_GE(g_order.size(), 3u);
    EXPECT_EQ(g_order[0], "button");
    EXPECT_EQ(g_order[1], "page");
    EXPECT_EQ(g_order[2], "dialog");
}

TEST(KeyFilterTest, OnlyKeyMessagesCarryingTheKeyMatch)
{
    MSG m = {};
    m.wParam = VK_RETURN;
    for (UINT msg : {WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_SYSKEYDOWN}) {
        m.message = msg;
        EXPECT_TRUE(AfxIsKeyMessageFor(&m, VK_RETURN)) << msg;
    }
    // A timer with id 13, a mouse move with a button flag equal to the key, a command...
    for (UINT msg : {(UINT)WM_TIMER, (UINT)WM_MOUSEMOVE, (UINT)WM_COMMAND, (UINT)WM_NULL}) {
        m.message = msg;
        EXPECT_FALSE(AfxIsKeyMessageFor(&m, VK_RETURN)) << msg;
    }
    m.message = WM_KEYDOWN;
    m.wParam = VK_ESCAPE;
    EXPECT_FALSE(AfxIsKeyMessageFor(&m, VK_RETURN));
    EXPECT_FALSE(AfxIsKeyMessageFor(nullptr, VK_RETURN));
}

namespace {
class CHelpDialog : public CDialog {
public:
    int helps = 0;
    void WinHelp(DWORD_PTR, UINT) override { ++helps; }
};
}  // namespace

TEST(DialogTest, ModelessDialogAndTheHelpRequest)
{
    CHelpDialog dlg;
    ASSERT_TRUE(dlg.Create(100, nullptr));
    EXPECT_FALSE(dlg.IsModal());
    EXPECT_NE(::GetDlgItem(dlg.m_hWnd, 1000), nullptr);  // the template's controls
    HELPINFO hi = {sizeof(hi)};
    dlg.SendMessage(WM_HELP, 0, (LPARAM)&hi);
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(ID_HELP, BN_CLICKED), 0);
    EXPECT_EQ(dlg.helps, 2);
    dlg.DestroyWindow();
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}
