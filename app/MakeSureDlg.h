#pragma once
// CMakeSureDlg: the program's one modal question and message box. A heading, a message and
// OK with Cancel or OK alone; optionally a countdown that confirms by itself. Only IDOK means
// consent: Cancel, the close button, Esc, a cancel from outside and a main window that went
// away all give IDCANCEL.

#include "afxwin.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "PopupDialog.h"
#include "SkinUtil.h"
#include "resource.h"

class CMakeSureDlg : public CPopupDialog {
public:
    enum { IDD = IDD_MAKESURE };
    static constexpr int kWidth = 413;
    static constexpr int kHeight = 126;
    static constexpr int kDragBand = 26;

    // Without a parent the prompt is owned by the main window, which it disables while open.
    CMakeSureDlg(const CString& strHeading, const CString& strMessage, int bOkOnly, CWnd* pParent = nullptr);
    ~CMakeSureDlg() override;

    INT_PTR DoModal() override;
    // Ends the open prompt from outside: confirmed (a second press of the enclosure button) or
    // cancelled (the target drive went away). Nothing happens when it is not open.
    void ConfirmFromOutside();
    void CancelFromOutside();

    int m_nTimer = 0;       // result of setting the one-second timer
    int m_nCountDown = 0;   // seconds still to count
    int m_bCountDown = 0;   // 1: show and run the countdown
    CString m_strCountDown; // the countdown as shown

    // Captions and layout, readable by the tests.
    const CString& OkCaption() const { return m_strOk; }
    const CString& CancelCaption() const { return m_strCancel; }
    CButtonST m_btnClose;
    CButtonST m_btnOk;
    CButtonST m_btnCancel;
    CStatic m_stHeading;
    CStatic m_stMessage;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    BOOL OnEraseBkgnd(CDC* pDC);
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnTimer(UINT_PTR nIDEvent);
    void OnBnClickedOk();
    void OnBnClickedCancel();
    // Enter confirms nothing: only the OK button does.
    void OnOK() override {}
    void OnCancel() override { OnBnClickedCancel(); }
    void LoadLanguageText();
    void CreateControls();
    void Finish(int nResult);
    DECLARE_MESSAGE_MAP()

private:
    CSkinBackground m_bk;   // the background alone, for the buttons to copy from
    CFont m_fontHeading;
    CFont m_fontText;
    CString m_strHeading;
    CString m_strMessage;
    CString m_strOk;
    CString m_strCancel;
    CRect m_rcCountDown;
    int m_bOkOnly;
};
