#pragma once
// COtherSetDlg: the tab dialog behind the "File type" and "Others" tabs. The file-type group
// chooses which kinds of files a file-type backup takes; the other group holds the start at
// logon, the enclosure-button switch and the language.

#include "afxwin.h"
#include "ButtonST.h"
#include "SkinControls.h"
#include "res_settings.h"

#include <vector>

class COtherSetDlg : public CDialog {
public:
    enum { IDD = IDD_OTHER_SET };
    static constexpr int kWidth = 534;
    static constexpr int kHeight = 250;
    enum { TYPE_IMAGES, TYPE_AUDIOS, TYPE_VIDEOS, TYPE_DATAS, TYPE_OTHERS, TYPE_COUNT };

    COtherSetDlg();
    ~COtherSetDlg() override;

    void ReloadLanguageText();
    // Shows the file-type group (bFileTypes) or the other group, hiding the rest.
    void ShowGroup(bool bFileTypes);

    // What a file-type backup reads when it starts: whether a type is checked, its label
    // ("Picture:bmp,jpg,png,jepg,jpeg"; test extensions with IsExtensionInList), and the
    // extensions typed for "Others" (never the grey prompt).
    bool IsTypeChecked(int nType) const { return m_chkTypes[nType].GetCheckState() != 0; }
    const CString& GetTypeLabel(int nType) const { return m_strTypeLabels[nType]; }
    CString GetOtherExtensions() const;

    CButtonST m_chkAutoStart;   // 1040
    CButtonST m_chkUsbHotKey;   // 1041
    CButtonST m_chkTypes[TYPE_COUNT];  // 1075, 1076, 1077, 1078, 1079
    CMyEdit m_editExt;          // 1081
    CMyComboBox m_comboLanguage;  // 1042
    CStatic m_lblFileType;      // 10001
    CStatic m_lblLanguage;      // 23360
    HWND m_hToolTip = nullptr;
    int m_nLanguageIndex = -1;
    bool IsPromptShown() const { return m_bPromptShown; }

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnTimer(UINT_PTR nIDEvent);
    void OnOK() override {}
    void OnCancel() override {}
    void OnIgnoreCommand() {}
    void OnBnClickedAutoStart();
    void OnBnClickedUsbHotKey();
    void OnBnClickedBackupImages() { OnTypeClicked(TYPE_IMAGES); }
    void OnBnClickedBackupAudios() { OnTypeClicked(TYPE_AUDIOS); }
    void OnBnClickedBackupVedios() { OnTypeClicked(TYPE_VIDEOS); }
    void OnBnClickedBackupDatas() { OnTypeClicked(TYPE_DATAS); }
    void OnBnClickedOtherTypes();
    void OnCbnSelchangeLanguage();
    void OnEnSetfocusExtEdit();
    DECLARE_MESSAGE_MAP()

private:
    void LoadLanguageText();
    void CreateControls();
    void LayoutControls();
    void FillLanguageCombo();
    void LoadSettings();
    void OnTypeClicked(int nType);
    void ShowPrompt();
    void CheckRunValue();

    CFont m_font;
    bool m_bSkinsLoaded = false;
    bool m_bPromptShown = false;
    bool m_bFileTypeGroup = false;
    // The Run-value check runs on inside the modal loop of its own failure report, also while
    // the tab is hidden. A "0" for "AutoStart" that could not be stored is tried again on the
    // following ticks; its failure is reported once until a write of it succeeds or a click
    // on the box writes its own value, and never while a report is still open.
    bool m_bAutoStartOffPending = false;
    bool m_bAutoStartFailReported = false;
    bool m_bRunCheckReporting = false;
    CString m_strTypeNames[TYPE_COUNT];
    CString m_strTypeLabels[TYPE_COUNT];
    CString m_strEditPrompt, m_strPromptTitle, m_strSelectFileType;
    CString m_strAutoStart, m_strUsbHotKey, m_strLanguage;
};

// The language list "Language\Language.xml" of the program folder: display names and ids, in
// file order.
struct LanguageEntry {
    CString strName;
    CString strId;
};
std::vector<LanguageEntry> ReadLanguageList(const CString& strAppDir);
