#pragma once
// CPasswordSetDlg: the password form (old password, the new one twice and a hint). A form
// only: OK keeps it open and nothing typed is checked, stored or passed on.

#include "afxwin.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "PopupDialog.h"
#include "SettingsCommon.h"
#include "SkinControls.h"
#include "res_settings.h"

class CPasswordSetDlg : public CPopupDialog {
public:
    enum { IDD = IDD_PASSWORD_SET };
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 160;

    explicit CPasswordSetDlg(CWnd* pParent = nullptr);

    CMyEdit m_edits[4];   // 1067, 1068, 1069, 1087

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnOK() override {}
    void OnCancel() override { EndDialog(IDCANCEL); }
    void OnIgnoreCommand() {}
    void OnClose() { EndDialog(IDCANCEL); }
    DECLARE_MESSAGE_MAP()

private:
    void LoadLanguageText();
    void LayoutControls();

    CFont m_fontText, m_fontTitle;
    CButtonST m_btnClose, m_btnOk, m_btnCancel;
    CStatic m_labels[4];  // 23400 to 23403
    CString m_strLabels[4], m_strTitle, m_strOk, m_strCancel;
};
