#pragma once
// CAboutDlg: the start-up splash (mode 1) and the About box (mode 0). Both show the same
// picture; the splash runs an endless progress bar until the main window asks it to
// close, the About box shows the web link and closes on a click.

#include "afxwin.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "SkinControls.h"
#include "resource.h"

#include <atomic>

class CAboutDlg : public CDialog {
public:
    enum { IDD = IDD_ABOUTBOX };
    enum { MODE_ABOUT = 0, MODE_SPLASH = 1 };
    static constexpr int kWidth = 407;
    static constexpr int kHeight = 271;

    CAboutDlg(CWnd* pParent, int nMode);
    ~CAboutDlg() override;

    int m_nMode;
    // Set once by the main window's first paint, polled by the splash's timer on its own
    // thread.
    std::atomic<int> m_bCloseRequest{0};
    int m_nFrame = 0;

    CButtonST m_btnLink;
    CProgressCtrlX m_progress;
    CString m_strLink;
    CString m_strNotice;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR nIDEvent);
    void OnLButtonUp(UINT nFlags, CPoint point);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnSizeNoOp(UINT, int, int) {}
    void OnBnClickedLink();
    void CreateControls();
    DECLARE_MESSAGE_MAP()

private:
    CFont m_fontLink;    // underlined
    CFont m_fontNotice;  // plain
    CImage m_imgBk;
};

// Opens a web link with the shell, or with the command registered for ".htm" pages.
// Greater than 32 means success, as for the shell's own call.
int OpenHyperlink(const CString& strLink);
// The browser command line with the link put where "%1" stood (quoted or not) or, when
// the command has no placeholder, after the whole command.
CString BuildBrowserCommand(const CString& strCommand, const CString& strLink);
// The message text for a failed open, and the message box that shows it.
CString HyperlinkErrorText(int nCode);
void ReportHyperlinkError(int nCode);
// Reads the default value of an open key into strValue and closes the key; always 0.
LONG ReadRegistryDefaultValue(HKEY hKey, CString& strValue);
