#pragma once
// CTrayIcon: the program's icon in the notification area, its menu, and the show/hide
// behaviour on a double click. It watches the main window's messages through two hooks
// of the subclass chain, and puts the icon back when the shell restarts.

#include "afxwin.h"
#include "SubclassWnd.h"

#define WM_TRAY_NOTIFY 1141
// Tray menu resource and its commands.
#define IDR_TRAY_MENU 135
#define ID_TRAY_SHOW 32772
#define ID_TRAY_HELP 32773
#define ID_TRAY_ABOUT 32774
#define ID_TRAY_QUIT 32775

// The number the system gives the shell's "TaskbarCreated" broadcast.
extern UINT g_nTaskbarCreatedMsg;

// The one call into the shell. Tests put a recorder here; the program never changes it.
typedef BOOL(WINAPI* PFN_SHELLNOTIFYICON)(DWORD, PNOTIFYICONDATAW);
extern PFN_SHELLNOTIFYICON g_pfnShellNotifyIcon;

#ifndef _WIN64
static_assert(sizeof(NOTIFYICONDATAW) == 956, "the shell's notification-icon record");
#endif

class CTrayIcon : public CCmdTarget {
public:
    class CTrayHook : public CSubclassWnd {
    public:
        CTrayIcon* m_pTrayIcon = nullptr;
        LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    };

    explicit CTrayIcon(UINT uID = 0);
    ~CTrayIcon() override;

    // Callback window and message; hooks the window and, when different, its top-level parent.
    void AttachNotifyWnd(CWnd* pWnd) { AttachNotifyWnd(pWnd ? pWnd->m_hWnd : nullptr); }
    void AttachNotifyWnd(HWND hWnd);
    // Loads menu resource 135 (a second call replaces the menu); FALSE when it is missing.
    BOOL LoadTrayMenu();
    CMenu* GetTrayMenu() const { return m_pMenu; }
    // With an icon: shows it (add or modify); without: removes it. The tip is cut to 127
    // characters. Returns the shell's result.
    BOOL UpdateIcon(HICON hIcon, const wchar_t* pszTip = nullptr);
    BOOL IsIconShown() const { return m_nid.hIcon != nullptr; }
    const NOTIFYICONDATAW& GetData() const { return m_nid; }

    virtual LRESULT OnTrayMessage(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnTaskbarRestart(WPARAM wParam, LPARAM lParam);

    NOTIFYICONDATAW m_nid;
    BOOL m_bBusy = FALSE;
    int m_nShowState = 1;

private:
    UINT Flags() const;
    CTrayHook m_notifyHook;
    CTrayHook m_parentHook;
    CMenu* m_pMenu = nullptr;
    BOOL m_bMenuLoaded = FALSE;
    HICON m_hWantedIcon = nullptr;  // the icon the owner asked for, shown or not
};
