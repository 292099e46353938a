#pragma once
// CQuickDialog: the quick-launch page. A heading, the large quick-backup button and the time
// of the last backup from "backupinfo.xml". SaveLastBackupTime stores that time when a backup
// starts.

#include "afxwin.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "PanelPage.h"
#include "SkinUtil.h"
#include "resource.h"

class CQuickDialog : public CDialog, public IPanelPage {
public:
    enum { IDD = IDD_QUICK_PAGE };
    static constexpr int kWidth = 542;
    static constexpr int kHeight = 284;

    CQuickDialog();
    ~CQuickDialog() override;

    // IPanelPage
    BOOL CreatePage(CPageBox* pPanel, const CRect& rcPage) override;
    CWnd* PageWnd() override { return this; }
    void ReloadLanguageText() override;

    void LoadLanguageText();
    BOOL PreTranslateMessage(MSG* pMsg) override;

    CButtonST m_btnQuick;
    CString m_strLastBackup;   // label before the time
    CString m_strToolTip;      // tooltip of the button

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    void OnSize(UINT nType, int cx, int cy);
    void OnBnClickedQuickBackup();
    void OnOK() override {}
    void OnCancel() override {}
    void LoadImages();
    DECLARE_MESSAGE_MAP()

private:
    CPageBox* m_pPanel = nullptr;
    CSkinBackground m_bk;
    CImage m_imgPage;
    CImage m_imgSeparator;
    bool m_bImagesLoaded = false;
    CFont m_fontText;
    CFont m_fontHeading;
    HWND m_hToolTip = nullptr;
};

// The local time as "%d-%s-%s %s:%s:%s": the year in full, then month, day, hour, minute and
// second as two digits each.
CString FormatBackupTime(const SYSTEMTIME& st);

// Stores the start time of a backup as "Time" in the per-user "backupinfo.xml". A file that does
// not load is set aside and written afresh with its empty record first, so the time always lands
// in a whole record.
void SaveLastBackupTime();
// The same with a given time and data folder (tests).
bool SaveLastBackupTime(const SYSTEMTIME& st, const CString& strDataFolder);

// The stored time text, empty when there is none.
CString ReadLastBackupTime(const CString& strDataFolder);
