#pragma once
// CBackUpSetDialog: the backup-options tab of the settings page. What happens when a backup
// ends, whether it copies all or only changed files, the hidden store folder, confirmation,
// compression and the backup hot key. Every click stores its one element at once.

#include "afxwin.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "SkinControls.h"
#include "res_settings.h"

class CXmlDocument;

class CBackUpSetDialog : public CDialog {
public:
    enum { IDD = IDD_BACKUP_SET };
    static constexpr int kWidth = 534;
    static constexpr int kHeight = 250;

    CBackUpSetDialog();
    ~CBackUpSetDialog() override;

    void ReloadLanguageText();

    // The hot key as the hot-key dialog reads and stores it (window-free, in the settings store).
    static void ReadHotKey(int& nVirtualKey, int& nModifiers);
    static bool SaveHotKey(const wchar_t* pszText, int nVirtualKey, int nModifiers);

    int GetBackupFinish() const { return m_nBackupFinish; }
    int GetBackupStatus() const { return m_nBackupStatus; }
    CButtonST& Button(UINT nID);
    // What the page panel reads when it applies the hidden store folder.
    bool IsHideFilesChecked() const { return m_chkHideFiles.GetCheckState() != 0; }
    CString GetHotKeyText() const { return m_editHotKey.GetWindowText(); }
    HWND GetToolTip(int i) const { return m_hToolTips[i]; }
    // Rereads the hot key's text from the file into the text box.
    void RefreshHotKeyText();

    // The twelve buttons with tooltips, in the order of m_hToolTips.
    static const UINT kButtonIds[12];

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnIgnoreCommand() {}

    void OnBnClickedFinishInfo() { OnFinishClicked(0); }
    void OnBnClickedBackMainWnd() { OnFinishClicked(1); }
    void OnBnClickedShutDownPc() { OnFinishClicked(2); }
    void OnBnClickedRebootPc() { OnFinishClicked(3); }
    void OnBnClickedAllFiles() { OnStatusClicked(0); }
    void OnBnClickedChangeFiles() { OnStatusClicked(1); }
    void OnBnClickedHideFiles();
    void OnBnClickedMakeSure() { OnCheckClicked(m_chkMakeSure, L"MakeSure"); }
    void OnBnClickedCompress() { OnCheckClicked(m_chkCompress, L"CompressFile"); }
    void OnBnClickedHotKey();
    void OnBnClickedSetPassword() { OnCheckClicked(m_chkSetPassword, L"SetPassword"); }
    void OnBnClickedRevisePassword();
    void OnCbnSelchangePasswordStyle();
    DECLARE_MESSAGE_MAP()

private:
    void LoadLanguageText();
    void CreateControls();
    void LayoutControls(bool bCreate);
    void LoadSettings();
    void UpdateRadioButtons();
    void LoadImages();
    void SetControlImages();
    void OnFinishClicked(int nValue);
    void OnStatusClicked(int nValue);
    bool OnCheckClicked(CButtonST& check, const wchar_t* pszElement);
    bool SaveSetting(const wchar_t* pszElement, const CString& strValue);

    CDC m_dcMem;
    CImage m_imgMemBk;          // the copy of the panel selected into m_dcMem
    HGDIOBJ m_hOldMemBitmap = nullptr;
    CImage m_imgLineLeft, m_imgLineTop, m_imgLineRight, m_imgLineBottom;

    CButtonST* m_pCheckedFinish = nullptr;
    CButtonST* m_pCheckedStatus = nullptr;
    CButtonST m_radFinish[4];   // 1013, 1014, 1015, 1072
    int m_nBackupFinish = 0;
    CButtonST m_radStatus[2];   // 1021, 1022
    int m_nBackupStatus = 1;
    CButtonST m_chkSetPassword; // 1028, hidden
    CButtonST m_btnRevisePassword;  // 1029, hidden
    CMyComboBox m_comboPasswordStyle;  // 1030, hidden
    CButtonST m_chkHideFiles, m_chkMakeSure, m_chkCompress;  // 1024, 1025, 1026
    CStatic m_lblHotKey;        // 23358
    CMyEdit m_editHotKey;       // 2000
    CButtonST m_btnHotKey;      // 1027
    CFont m_font;
    CStatic m_lblFinish, m_lblStatus, m_lblDataSafe;  // 23355, 23356, 23359

    CString m_strFinishGroup, m_strStatusGroup, m_strDataSafe, m_strHotKeyLabel;
    CString m_strFinish[4], m_strStatus[2];
    CString m_strHideFiles, m_strMakeSure, m_strCompress, m_strHotKeyButton, m_strSetPassword,
        m_strRevisePassword;
    HWND m_hToolTips[12] = {};
    bool m_bImagesLoaded = false;
};
