#pragma once
// CTimingSetDlg: the weekly schedule tab. One row per weekday: a check box that arms the day
// and a time button that opens the time editor.

#include "afxwin.h"
#include "afxcoll.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "res_settings.h"

class CTimingSetDlg : public CDialog {
public:
    enum { IDD = IDD_TIMING_SET };

    CTimingSetDlg();
    ~CTimingSetDlg() override;

    void ReloadLanguageText();
    // The day's stored "Timing", empty when the day is missing.
    static CString ReadDayTiming(const wchar_t* pszDay);
    // Opens the time editor for a day (0 Monday to 6 Sunday) and shows what the file then holds.
    void EditDayTime(int nDay);
    // Shows the stored check and time of every day.
    void ShowStoredSchedule();

    CButtonST m_chkDays[7];    // 1033 to 1039
    CButtonST m_btnTimes[7];   // 24001 to 24007
    CStringArray m_arrDayNames;
    CRect m_rcTimeColumn;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnOK() override {}
    void OnCancel() override {}
    DECLARE_MESSAGE_MAP()

    // The time editor's modal run; tests replace it.
    virtual INT_PTR RunTimeEditor(const wchar_t* pszDay, int* pnDayIndex);

private:
    void LoadLanguageText();
    void LayoutControls(bool bCreate);
    void LoadSchedule();
    void OnDayClicked(int nDay);

    CDC m_dcMem;
    CImage m_imgBk;
    CImage m_imgMemBk;
    HGDIOBJ m_hOldMemBitmap = nullptr;
    CFont m_font, m_fontUnderline;
    CString m_strDayNames[7];
};
