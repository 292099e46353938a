// The subclass chain and the tray icon, with the shell call recorded instead of made.
#include <gtest/gtest.h>

#include "TrayIcon.h"
#include "resource.h"
#include "wintest_util.h"

#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------
// Subclass chain
// ---------------------------------------------------------------------------------------

std::vector<std::string> g_log;
int g_ncDestroyed = 0;

LRESULT CALLBACK OriginalProc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    if (msg == WM_APP)
        g_log.push_back("orig");
    if (msg == WM_NCDESTROY)
        ++g_ncDestroyed;
    return ::DefWindowProcW(h, msg, w, l);
}

HWND MakePlainWindow()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = OriginalProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ZulChainTest";
        ::RegisterClassW(&wc);
        registered = true;
    }
    return ::CreateWindowExW(0, L"ZulChainTest", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

class CRecHook : public CSubclassWnd {
public:
    explicit CRecHook(const char* n) : name(n) {}
    std::string name;
    LRESULT HandleMessage(UINT msg, WPARAM w, LPARAM l) override
    {
        if (msg == WM_APP) {
            g_log.push_back(name);
            // The class layer's current message is the one being handled.
            if (AfxGetCurrentMessage()->message != msg)
                g_log.push_back("wrong current message");
        }
        return CSubclassWnd::HandleMessage(msg, w, l);
    }
};

}  // namespace

TEST(SubclassWndTest, HooksChainNewestFirstAndDetachInAnyOrder)
{
    HWND h = MakePlainWindow();
    ASSERT_NE(h, nullptr);
    WNDPROC original = (WNDPROC)::GetWindowLongPtrW(h, GWLP_WNDPROC);
    CRecHook older("older"), newer("newer");
    EXPECT_TRUE(older.AttachToWindow(h));
    EXPECT_TRUE(newer.AttachToWindow(h));
    g_log.clear();
    ::SendMessageW(h, WM_APP, 0, 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"newer", "older", "orig"}));

    // Detaching the older one keeps the newer one working.
    older.AttachToWindow(nullptr);
    g_log.clear();
    ::SendMessageW(h, WM_APP, 0, 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"newer", "orig"}));
    // The last one out puts the window's own procedure back.
    newer.AttachToWindow(nullptr);
    EXPECT_EQ((WNDPROC)::GetWindowLongPtrW(h, GWLP_WNDPROC), original);
    EXPECT_EQ(CSubclassWndMap::Instance().Lookup(h), nullptr);

    // Destroying a hooked window drops every hook, and the window ends normally once.
    older.AttachToWindow(h);
    newer.AttachToWindow(h);
    g_ncDestroyed = 0;
    ::DestroyWindow(h);
    EXPECT_FALSE(older.IsAttached());
    EXPECT_FALSE(newer.IsAttached());
    EXPECT_EQ(CSubclassWndMap::Instance().Lookup(h), nullptr);
    EXPECT_EQ(g_ncDestroyed, 1);
}

TEST(SubclassWndTest, HookOnAClassLayerWindowKeepsItsMessageMap)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 50, 50));
    {
        CRecHook hook("hook");
        hook.AttachToWindow(host.m_hWnd);
        g_log.clear();
        host.SendMessage(WM_APP);
        EXPECT_EQ(g_log, (std::vector<std::string>{"hook"}));
        host.Invalidate();
        host.UpdateWindow();  // the map's paint handler still runs behind the hook
        EXPECT_TRUE(Near(ScreenPixel(host.m_hWnd, 5, 5), host.m_crFill));
    }  // the hook's destructor unhooks
    host.DestroyWindow();
    EXPECT_EQ(host.m_hWnd, nullptr);
}

// ---------------------------------------------------------------------------------------
// Tray icon
// ---------------------------------------------------------------------------------------

namespace {

struct ShellCall {
    DWORD op;
    NOTIFYICONDATAW nid;
};
std::vector<ShellCall> g_calls;
BOOL g_shellResult = TRUE;

BOOL WINAPI RecordShellCall(DWORD op, PNOTIFYICONDATAW p)
{
    g_calls.push_back({op, *p});
    return g_shellResult;
}

struct ShellSeam {
    PFN_SHELLNOTIFYICON saved = g_pfnShellNotifyIcon;
    ShellSeam()
    {
        g_pfnShellNotifyIcon = RecordShellCall;
        g_calls.clear();
        g_shellResult = TRUE;
    }
    ~ShellSeam() { g_pfnShellNotifyIcon = saved; }
};

HICON AppIcon() { return (HICON)::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 16, 16, 0); }

}  // namespace

TEST(TrayIconTest, ShowModifyRemoveAndTaskbarRestart)
{
    ShellSeam seam;
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 50, 50));
    HICON icon = AppIcon();
    ASSERT_NE(icon, nullptr);
    {
        CTrayIcon tray;
        tray.AttachNotifyWnd(&host);
        std::wstring tip(200, L'x');
        EXPECT_TRUE(tray.UpdateIcon(icon, tip.c_str()));
        ASSERT_EQ(g_calls.size(), 1u);
        EXPECT_EQ(g_calls[0].op, (DWORD)NIM_ADD);
        EXPECT_EQ(g_calls[0].nid.uFlags, (UINT)(NIF_ICON | NIF_TIP | NIF_MESSAGE));
        EXPECT_EQ(wcslen(g_calls[0].nid.szTip), 127u);  // cut to 127 characters
        EXPECT_EQ(g_calls[0].nid.uCallbackMessage, (UINT)WM_TRAY_NOTIFY);
        EXPECT_EQ(g_calls[0].nid.hWnd, host.m_hWnd);
        EXPECT_EQ(g_calls[0].nid.cbSize, (DWORD)sizeof(NOTIFYICONDATAW));

        tray.UpdateIcon(icon, L"KVR ZUL");
        EXPECT_EQ(g_calls.back().op, (DWORD)NIM_MODIFY);

        // The shell restarted: the icon is added again, with its tip.
        host.SendMessage(g_nTaskbarCreatedMsg);
        EXPECT_EQ(g_calls.back().op, (DWORD)NIM_ADD);
        EXPECT_STREQ(g_calls.back().nid.szTip, L"KVR ZUL");

        EXPECT_TRUE(tray.UpdateIcon(nullptr));
        EXPECT_EQ(g_calls.back().op, (DWORD)NIM_DELETE);
        EXPECT_FALSE(tray.IsIconShown());
        size_t n = g_calls.size();
        EXPECT_TRUE(tray.UpdateIcon(nullptr));  // nothing shown: nothing to do
        EXPECT_EQ(g_calls.size(), n);
        host.SendMessage(g_nTaskbarCreatedMsg);  // a removed icon is not brought back
        EXPECT_EQ(g_calls.size(), n);

        // A shell that is not up yet refuses the icon; its restart brings it.
        g_shellResult = FALSE;
        EXPECT_FALSE(tray.UpdateIcon(icon));
        EXPECT_FALSE(tray.IsIconShown());
        g_shellResult = TRUE;
        host.SendMessage(g_nTaskbarCreatedMsg);
        EXPECT_EQ(g_calls.back().op, (DWORD)NIM_ADD);
        EXPECT_TRUE(tray.IsIconShown());
        g_calls.clear();
    }
    // The destructor removed the shown icon.
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].op, (DWORD)NIM_DELETE);
    ::DestroyIcon(icon);
}

TEST(TrayIconTest, ChildNotifyWindowHearsTheRestartThroughItsTopLevelParent)
{
    ShellSeam seam;
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 80, 80));
    CWnd child;
    ASSERT_TRUE(child.Create(nullptr, L"", WS_VISIBLE, CRect(0, 0, 20, 20), &host, 5));
    HICON icon = AppIcon();
    CTrayIcon tray;
    tray.AttachNotifyWnd(&child);
    tray.UpdateIcon(icon, L"tip");
    g_calls.clear();
    host.SendMessage(g_nTaskbarCreatedMsg);  // broadcasts reach top-level windows only
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].op, (DWORD)NIM_ADD);
    tray.UpdateIcon(nullptr);
    ::DestroyIcon(icon);
}

TEST(TrayIconTest, DoubleClickShowsAndHides)
{
    ShellSeam seam;
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 200, 150, WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    CTrayIcon tray;
    tray.AttachNotifyWnd(&host);

    // Hidden, created maximised: a double click brings it back maximised.
    host.ShowWindow(SW_HIDE);
    tray.m_nShowState = 3;
    EXPECT_EQ(host.SendMessage(WM_TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK), 0);
    EXPECT_TRUE(host.IsWindowVisible());
    EXPECT_TRUE(host.IsZoomed());

    // Another icon's messages are not ours.
    host.ShowWindow(SW_HIDE);
    host.SendMessage(WM_TRAY_NOTIFY, 5, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(host.IsWindowVisible());

    // Hidden, normal: restored.
    tray.m_nShowState = 1;
    host.SendMessage(WM_TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(host.IsWindowVisible());
    EXPECT_FALSE(host.IsZoomed());

    // Visible and in front: minimised.
    host.SetForegroundWindow();
    if (::GetForegroundWindow() == host.m_hWnd) {
        host.SendMessage(WM_TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK);
        EXPECT_TRUE(host.IsIconic());
    }
}

namespace {

UINT g_quitState = 0, g_showState = 0;
HMENU g_trayMenu = nullptr;
int g_menuTicks = 0;

void CALLBACK CloseMenuTimer(HWND, UINT, UINT_PTR, DWORD)
{
    // Read while the menu is open, then close it.
    ++g_menuTicks;
    g_quitState = ::GetMenuState(g_trayMenu, ID_TRAY_QUIT, MF_BYCOMMAND);
    g_showState = ::GetMenuState(g_trayMenu, ID_TRAY_SHOW, MF_BYCOMMAND);
    ::EndMenu();
}

void OpenMenu(CWnd& host)
{
    g_menuTicks = 0;
    UINT_PTR t = ::SetTimer(nullptr, 0, 150, CloseMenuTimer);
    host.SendMessage(WM_TRAY_NOTIFY, 0, WM_RBUTTONUP);
    ::KillTimer(nullptr, t);
    if (g_menuTicks == 0) {  // the menu did not run a loop of its own: read the states now
        g_quitState = ::GetMenuState(g_trayMenu, ID_TRAY_QUIT, MF_BYCOMMAND);
        g_showState = ::GetMenuState(g_trayMenu, ID_TRAY_SHOW, MF_BYCOMMAND);
    }
}

}  // namespace

TEST(TrayIconTest, MenuGraysQuitWhileBusyAndShowWhileVisible)
{
    ShellSeam seam;
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 200, 150));
    CTrayIcon tray;
    tray.AttachNotifyWnd(&host);
    ASSERT_TRUE(tray.LoadTrayMenu());
    ASSERT_TRUE(tray.LoadTrayMenu());  // a second load replaces the first
    g_trayMenu = ::GetSubMenu(tray.GetTrayMenu()->m_hMenu, 0);
    ASSERT_NE(g_trayMenu, nullptr);

    tray.m_bBusy = TRUE;
    OpenMenu(host);
    EXPECT_TRUE(g_quitState & MF_GRAYED);
    EXPECT_TRUE(g_showState & MF_GRAYED);
    EXPECT_EQ(::GetMenuDefaultItem(g_trayMenu, TRUE, GMDI_USEDISABLED), 0u);

    tray.m_bBusy = FALSE;
    host.ShowWindow(SW_HIDE);
    OpenMenu(host);
    EXPECT_FALSE(g_quitState & MF_GRAYED);
    EXPECT_FALSE(g_showState & MF_GRAYED);
}
