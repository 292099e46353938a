#pragma once
// CTimeSet: the pop-up in which the scheduled backup time of one weekday, or of all seven, is
// set. OK stores two-digit hours and minutes with "IsSet" "1" and reports through the caller's
// day index (-1 when "All" was chosen).

#include "afxwin.h"
#include "afxcoll.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "PopupDialog.h"
#include "SettingsCommon.h"
#include "SkinControls.h"
#include "res_settings.h"

class CTimeSet : public CPopupDialog {
public:
    enum { IDD = IDD_TIME_SET };
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 126;

    // pszDay: the element name of the day ("Monday" to "Sunday"); pDayNames: the displayed
    // names, Monday first; pnDayIndex: the day's index, set to -1 when "All" is stored.
    CTimeSet(const wchar_t* pszDay, const CStringArray* pDayNames, int* pnDayIndex, CWnd* pParent = nullptr);

    CEdit m_editHour, m_editMinute;
    CMyComboBox m_comboDays;

    // The values the two fields stand for (what OK stores).
    int GetHour() const;
    int GetMinute() const;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnTimer(UINT_PTR nIDEvent);
    void OnOK() override {}
    void OnCancel() override {}
    void OnIgnoreCommand() {}
    void OnBnClickedOk();
    void OnBnClickedCancel() { EndDialog(IDCANCEL); }
    void OnEnChangeHour() { OnFieldChanged(m_editHour, 23, m_bHourWasZero, m_bHourDirty, m_strHour); }
    void OnEnChangeMinute() { OnFieldChanged(m_editMinute, 59, m_bMinuteWasZero, m_bMinuteDirty, m_strMinute); }
    void OnDeltaPosHour(NMHDR* pNMHDR, LRESULT* pResult) { OnDeltaPos(pNMHDR, pResult, m_editHour, 23, m_strHour); }
    void OnDeltaPosMinute(NMHDR* pNMHDR, LRESULT* pResult)
    {
        OnDeltaPos(pNMHDR, pResult, m_editMinute, 59, m_strMinute);
    }
    void OnCbnSelchangeDays() { m_comboDays.Invalidate(); }
    DECLARE_MESSAGE_MAP()

private:
    void LoadLanguageText();
    void CreateControls();
    void OnFieldChanged(CEdit& edit, int nMax, int& bWasZero, int& bDirty, CString& strNormal);
    void OnDeltaPos(NMHDR* pNMHDR, LRESULT* pResult, CEdit& edit, int nMax, CString& strNormal);
    void RewriteField(CEdit& edit, int& bDirty, const CString& strNormal);
    void SaveDayTiming(int nIndex);
    void SaveAllDaysTiming();

    int* m_pnDayIndex;
    CStringArray m_arrDays;
    const CStringArray* m_pDayNames;
    CButtonST m_btnClose, m_btnOk, m_btnCancel;
    CStatic m_lblTitle, m_lblColon;
    CWnd m_spinHour, m_spinMinute;
    CFont m_fontTitle, m_fontText;
    CString m_strTitle, m_strAll, m_strOk, m_strCancel, m_strDay, m_strHour, m_strMinute;
    int m_bHourDirty = 0, m_bMinuteDirty = 0;
    int m_bHourWasZero = 0, m_bMinuteWasZero = 0;
};
