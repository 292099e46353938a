#include "TrayIcon.h"

#include <cwchar>

UINT g_nTaskbarCreatedMsg = ::RegisterWindowMessageW(L"TaskbarCreated");
PFN_SHELLNOTIFYICON g_pfnShellNotifyIcon = ::Shell_NotifyIconW;

CTrayIcon::CTrayIcon(UINT uID)
{
    ZeroMemory(&m_nid, sizeof(m_nid));
    m_nid.cbSize = sizeof(m_nid);
    m_nid.uID = uID;
    m_notifyHook.m_pTrayIcon = this;
    m_parentHook.m_pTrayIcon = this;
}

CTrayIcon::~CTrayIcon()
{
    delete m_pMenu;
    m_pMenu = nullptr;
    if (IsIconShown()) {
        m_nid.uFlags = 0;
        g_pfnShellNotifyIcon(NIM_DELETE, &m_nid);
        m_nid.hIcon = nullptr;
    }
    m_notifyHook.AttachToWindow(nullptr);
    m_parentHook.AttachToWindow(nullptr);
}

void CTrayIcon::AttachNotifyWnd(HWND hWnd)
{
    m_nid.hWnd = hWnd;
    m_nid.uCallbackMessage = WM_TRAY_NOTIFY;
    m_notifyHook.AttachToWindow(hWnd);
    HWND hTop = hWnd;
    while (hTop && (::GetWindowLongW(hTop, GWL_STYLE) & WS_CHILD) && ::GetParent(hTop))
        hTop = ::GetParent(hTop);
    m_parentHook.AttachToWindow(hTop != hWnd ? hTop : nullptr);
}

BOOL CTrayIcon::LoadTrayMenu()
{
    if (!m_pMenu)
        m_pMenu = new CMenu;
    m_bMenuLoaded = TRUE;
    if (!m_pMenu->LoadMenu(IDR_TRAY_MENU)) {
        delete m_pMenu;
        m_pMenu = nullptr;
        return FALSE;
    }
    return TRUE;
}

UINT CTrayIcon::Flags() const
{
    UINT f = 0;
    if (m_nid.szTip[0])
        f |= NIF_TIP;
    if (m_nid.uCallbackMessage && m_nid.hWnd)
        f |= NIF_MESSAGE;
    return f;
}

BOOL CTrayIcon::UpdateIcon(HICON hIcon, const wchar_t* pszTip)
{
    if (pszTip) {
        // At most 127 characters and the terminator.
        wcsncpy(m_nid.szTip, pszTip, 127);
        m_nid.szTip[127] = L'\0';
    }
    if (!hIcon) {
        m_hWantedIcon = nullptr;
        if (!IsIconShown())
            return TRUE;
        m_nid.uFlags = Flags();
        BOOL r = g_pfnShellNotifyIcon(NIM_DELETE, &m_nid);
        m_nid.hIcon = nullptr;
        return r;
    }
    DWORD op = IsIconShown() ? NIM_MODIFY : NIM_ADD;
    m_hWantedIcon = hIcon;
    m_nid.hIcon = hIcon;
    m_nid.uFlags = Flags() | NIF_ICON;
    BOOL r = g_pfnShellNotifyIcon(op, &m_nid);
    if (!r)
        m_nid.hIcon = nullptr;
    return r;
}

LRESULT CTrayIcon::OnTrayMessage(WPARAM wParam, LPARAM lParam)
{
    if (wParam != m_nid.uID)
        return 0;
    HWND hWnd = m_nid.hWnd;
    switch (LOWORD(lParam)) {
    case WM_RBUTTONUP: {
        if (!m_pMenu)
            return 0;
        CMenu* pSub = m_pMenu->GetSubMenu(0);
        if (!pSub)
            return 0;
        pSub->EnableMenuItem(ID_TRAY_QUIT, MF_BYCOMMAND | (m_bBusy ? (MF_GRAYED | MF_DISABLED) : MF_ENABLED));
        BOOL visible = (::GetWindowLongW(hWnd, GWL_STYLE) & WS_VISIBLE) != 0;
        pSub->EnableMenuItem(ID_TRAY_SHOW, MF_BYCOMMAND | (visible ? (MF_GRAYED | MF_DISABLED) : MF_ENABLED));
        pSub->SetDefaultItem(0, TRUE);
        POINT pt;
        ::GetCursorPos(&pt);
        ::SetForegroundWindow(hWnd);
        ::TrackPopupMenu(pSub->m_hMenu, TPM_LEFTBUTTON, pt.x, pt.y, 0, hWnd, nullptr);
        // Lets the menu close when the user clicks elsewhere.
        ::PostMessageW(hWnd, WM_NULL, 0, 0);
        return 1;
    }
    case WM_LBUTTONDBLCLK:
        if (::IsWindowVisible(hWnd)) {
            if (::GetForegroundWindow() == hWnd)
                ::SendMessageW(hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            else
                ::SetForegroundWindow(hWnd);
        } else {
            ::SendMessageW(hWnd, WM_SYSCOMMAND, m_nShowState == 3 ? SC_MAXIMIZE : SC_RESTORE, 0);
        }
        return 1;
    default:
        return 0;
    }
}

LRESULT CTrayIcon::OnTaskbarRestart(WPARAM, LPARAM)
{
    // The new shell knows nothing of our icon. An icon that the shell refused earlier
    // (it was not running yet) is offered again too.
    if (!m_hWantedIcon)
        return 0;
    m_nid.hIcon = m_hWantedIcon;
    m_nid.uFlags = Flags() | NIF_ICON;
    if (!g_pfnShellNotifyIcon(NIM_ADD, &m_nid))
        m_nid.hIcon = nullptr;
    return 0;
}

LRESULT CTrayIcon::CTrayHook::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (m_pTrayIcon) {
        if (msg == m_pTrayIcon->m_nid.uCallbackMessage && msg != 0 && m_hWnd == m_pTrayIcon->m_nid.hWnd)
            m_pTrayIcon->OnTrayMessage(wParam, lParam);
        else if (msg == g_nTaskbarCreatedMsg && msg != 0)
            m_pTrayIcon->OnTaskbarRestart(wParam, lParam);
    }
    return CSubclassWnd::HandleMessage(msg, wParam, lParam);
}
