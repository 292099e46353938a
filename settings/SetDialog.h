#pragma once
// CSetDialog: the settings page of the page panel. A strip of four tab buttons over one of
// the three tab dialogs it owns (the other-settings dialog serves two tabs).
//
// The page panel owns one CSetDialog, creates it once with CreatePage(panel, x, y) (the page
// sizes itself to 542 x 284), shows and hides it like its other pages, and calls
// ReloadLanguageText after a language change. The main program installs an ISettingsHost
// (SettingsHost.h) before the page is created: the tabs load their settings, and switch the
// enclosure button watch, while the page is being created.

#include "afxwin.h"
#include "atlimage.h"
#include "BackUpSetDialog.h"
#include "ButtonST.h"
#include "OtherSetDlg.h"
#include "TimingSetDlg.h"
#include "res_settings.h"

class CSetDialog : public CDialog {
public:
    enum { IDD = IDD_SET_DIALOG };
    static constexpr int kWidth = 542;
    static constexpr int kHeight = 284;
    enum { TAB_BACKUP = 0, TAB_TIMING = 1, TAB_FILTER = 2, TAB_OTHER = 3, TAB_COUNT = 4 };

    CSetDialog();
    ~CSetDialog() override;

    // Creates the page as a child of the page panel at the given place (its size is fixed).
    BOOL CreatePage(CWnd* pPanel, int x, int y);
    // After a language change: captions, tab widths and the three tabs' texts.
    void ReloadLanguageText();
    // Shows a tab as a click on its button does.
    void SelectTab(int nTab);
    int GetCurrentTab() const { return m_nCurrentTab; }
    int GetTabWidth(int nTab) const { return m_nTabWidths[nTab]; }
    CButtonST& TabButton(int nTab) { return m_btnTabs[nTab]; }

    CBackUpSetDialog m_dlgBackUpSet;
    CTimingSetDlg m_dlgTiming;
    COtherSetDlg m_dlgOther;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    void OnSizeNoOp(UINT, int, int) {}
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnIgnoreCommand() {}
    void OnBnClickedTab0() { SelectTab(TAB_BACKUP); }
    void OnBnClickedTab1() { SelectTab(TAB_TIMING); }
    void OnBnClickedTab2() { SelectTab(TAB_FILTER); }
    void OnBnClickedTab3() { SelectTab(TAB_OTHER); }
    DECLARE_MESSAGE_MAP()

private:
    void LoadLanguageText();
    void LayoutControls(bool bCreate);
    void CreateTabs();
    void LoadSkinImages();

    CString m_strCaptions[TAB_COUNT];   // strip order
    CButtonST m_btnTabs[TAB_COUNT];     // 1010, 1011, 1084, 1012
    CDialog* m_pPages[TAB_COUNT] = {};
    int m_nCurrentTab = 0;
    CButtonST* m_pCurrentButton = nullptr;
    int m_nTabWidths[TAB_COUNT] = {};
    CFont m_font;
    CImage m_imgBandTop, m_imgBandMiddle, m_imgBandBottom;
    CImage m_imgFirst[3], m_imgOther[3], m_imgFirstCurrent[3], m_imgOtherCurrent[3];
};
