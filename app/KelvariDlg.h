#pragma once
// CKelvariDlg: the main window. A borderless, skinned dialog with its own caption band (drag
// area, four caption buttons, logo, version text) and the page panel below it. Besides its
// window it owns the program-wide set-up: the data it loads while constructed, the tray icon
// and its menu, the backup hot key, the shell's change notifications that keep the folder trees
// in step with drives, folders and files, and the refresh after device changes.

#include "afxwin.h"
#include "atlimage.h"
#include "AboutDlg.h"
#include "ButtonST.h"
#include "PageBox.h"
#include "ProgramWide.h"
#include "SettingsHost.h"
#include "ShellChangeSink.h"
#include "Splash.h"
#include "TrayIcon.h"
#include "XmlDocument.h"
#include "resource.h"

class CKelvariDlg : public CDialog, public ISettingsHost, public IBusyWindow {
public:
    enum { IDD = IDD_KELVARI_DIALOG };
    static constexpr int kWidth = 642;
    static constexpr int kHeight = 436;
    static constexpr int kDragBand = 60;
    static constexpr DWORD kDeviceSettleMs = 1000;
    static constexpr DWORD kMediaWaitMs = 5000;
    // Tests turn the splash off.
    static bool s_bShowSplash;

    explicit CKelvariDlg(CWnd* pParent = nullptr);
    ~CKelvariDlg() override;

    // ISettingsHost: what the settings pages ask of the main window.
    CWnd* GetMainWindow() override { return this; }
    void SetButtonWatch(bool bOn) override;
    void ApplyLanguage(const CString& strLanguageId) override;
    void UpdateBackupFolderHidden() override;
    void ReportSettingsWriteFailure(const CString& strPath) override;
    // IBusyWindow: while an operation runs the tray menu's quit item is grayed and the quit
    // button is drawn disabled (a quit is refused then).
    void SetBusy(bool bBusy) override;

    // The data files, written again when a part of the program found them missing.
    void WriteDefaultSettings();
    void WriteLanguageSelect();
    void LoadBackUpInfo();

    // One shell event with its first and second path, as decoded from WM_SHELL_NOTIFY.
    void HandleShellEvent(LONG lEvent, const CString& strPath1, const CString& strPath2);
    LRESULT OnDriveAdded(const CString& strRoot);
    void OnDriveRemoved(const CString& strRoot);

    // Commands.
    void OnBnClickedQuit();
    void OnHelp();
    void OnBnClickedAbout();
    void OnBnClickedHide();
    void OnTrayShow();
    void WinHelp(DWORD_PTR, UINT) override { OnHelp(); }

    // True while the hot key must be ignored: an operation or a prompt runs, or a modal dialog
    // (About, a settings pop-up) is open over the main window.
    bool IsHotKeyBlocked() const;
    bool IsOperationRunning() const { return m_pPageBox && m_pPageBox->IsOperationRunning(); }

    BOOL PreTranslateMessage(MSG* pMsg) override;

    CPageBox* m_pPageBox = nullptr;
    CTrayIcon m_trayIcon;
    CXmlDocument m_docSettings;
    CButtonST m_btnQuit, m_btnHelp, m_btnAbout, m_btnHide;
    CAboutDlg* m_pAboutDlg = nullptr;
    int m_bHotKeyRegistered = 0;
    ULONG m_nShellNotifyId = 0;
    // Device-change refresh.
    int m_bRefreshPending = 0;
    DWORD m_dwLastDeviceChange = 0;
    int m_nDriveTreeRefreshes = 0;
    // Media removal: the drive whose medium went, and since when.
    CString m_strMediaPendingRoot;
    DWORD m_dwMediaPendingSince = 0;
    // Texts.
    CString m_strQuit, m_strMinimize, m_strHelp, m_strAbout, m_strShow, m_strProduct;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    void OnSize(UINT nType, int cx, int cy);
    HCURSOR OnQueryDragIcon() { return (HCURSOR)m_hIcon; }
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnTimer(UINT_PTR nIDEvent);
    void OnDestroy();
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);
    LRESULT OnShellNotify(WPARAM wParam, LPARAM lParam);
    void OnHotKey(UINT nHotKeyId, UINT nKey1, UINT nKey2);
    void OnOK() override {}
    void OnCancel() override { OnBnClickedQuit(); }

    void CreateCaptionButtons();
    void InitMainWindow();
    void InitCaptionButtons();
    void LoadLanguageText();
    void BuildTrayMenu();
    void CreateStateImageList();
    void SetUpNormalImageList();
    void CreatePageBox();
    void RegisterStoredHotKey();
    void ClearMediaPending();
    DECLARE_MESSAGE_MAP()

private:
    CSplash m_splash;
    CImage m_imgFrame, m_imgBackground, m_imgPanel, m_imgLogo;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    HWND m_hToolTip[4] = {};
    int m_bDragPending = 0;
    CPoint m_ptDrag;
};

// The folder of a path up to and including its last backslash.
CString FolderPartOfPath(const CString& strPath);
// The tree window's change sink, or null when the window is gone or implements none.
IShellChangeSink* ShellChangeSinkOf(HWND hTree);
