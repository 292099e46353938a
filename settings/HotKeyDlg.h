#pragma once
// CHotKey: the pop-up in which the user presses the key combination that starts a backup. It
// registers the combination on the main window under ID_BACKUP_HOTKEY and stores it.

#include "afxwin.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "PopupDialog.h"
#include "SettingsCommon.h"
#include "res_settings.h"

// The hot-key control reports HOTKEYF_SHIFT 1, HOTKEYF_CONTROL 2, HOTKEYF_ALT 4; registration and
// storage use MOD_ALT 1, MOD_CONTROL 2, MOD_SHIFT 4. Shift and Alt swap places; the extended-key
// and Windows-key flags have no counterpart and are dropped.
int HotKeyFlagsToModifiers(int nHotKeyFlags);
int ModifiersToHotKeyFlags(int nModifiers);
// The display name of a combination ("Ctrl + Shift + F9"), from the system's key names.
CString HotKeyDisplayName(UINT nVirtualKey, int nHotKeyFlags);

class CHotKey : public CPopupDialog {
public:
    enum { IDD = IDD_HOTKEY };
    static constexpr int kWidth = 280;
    static constexpr int kHeight = 100;

    explicit CHotKey(CWnd* pParent = nullptr);

    CHotKeyCtrl m_hotKey;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnOK() override { OnBnClickedOk(); }
    void OnCancel() override { OnBnClickedCancel(); }
    void OnBnClickedOk();
    void OnBnClickedCancel();
    DECLARE_MESSAGE_MAP()

private:
    void LoadLanguageText();
    void CreateControls();
    HWND MainWindow() const;

    CButtonST m_btnClose, m_btnOk, m_btnCancel;
    CStatic m_lblTitle, m_lblPrompt;
    CFont m_fontTitle, m_fontText;
    CString m_strTitle, m_strPrompt, m_strOk, m_strCancel;
};
