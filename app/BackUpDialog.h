#pragma once
// CBackUpDialog: the file-backup page of the page panel. The PC's drives in the check-box
// source tree, the backup disks in both trees and their drive letters in the destination list.
// Besides, the page keeps the program's list of backup disks (g_arrUSBDevice) current as disks
// come and go, loads and unloads the device library, and its 200 ms timer turns an enclosure
// button press or a due weekly schedule into a start request on the panel.
//
// User-interface thread only.

#include "afxwin.h"
#include "atlimage.h"
#include "BackUpTreeCtrl.h"
#include "SkinControls.h"
#include "USBDevice.h"
#include "UsbTreeCtrl.h"
#include "resource.h"

class CPageBox;

// The frame around one of the page's trees: white inside, a thin light border.
class CTreeFrame : public CStatic {
protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    DECLARE_MESSAGE_MAP()
};

// 1 once the weekly schedule has fired.
extern int g_bScheduleFired;
// "08:05": hour and minute with two digits each, as the schedule stores its times.
CString FormatTimeHHMM(int nHour, int nMinute);

class CBackUpDialog : public CDialog {
public:
    enum { IDD = IDD_BACKUP_PAGE };
    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kTimerMs = 200;
    static constexpr int kWidth = 542;
    static constexpr int kHeight = 284;

    CBackUpDialog();
    ~CBackUpDialog() override;

    // Creates the page as a hidden child of the panel, placed in rcPage (panel coordinates).
    BOOL CreatePage(CPageBox* pPanel, const CRect& rcPage);

    // A drive came or went: the panel's start buttons follow whether a destination is listed.
    void CheckDestination();
    // Title and the trees' tooltip captions from the language table (English without one).
    void LoadLanguageText();
    void ReloadLanguageText();

    // One timer tick: the enclosure button, then the weekly schedule.
    void OnTimer(UINT_PTR nIDEvent);
    // WM_DEVICECHANGE for disk interfaces: arrival and removal of a backup disk.
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);

    CMyComboBox m_cbDest;          // 1007
    CBackUpTreeCtrl m_treeSource;  // 1031
    CUsbTreeCtrl m_treeDest;       // 1032
    CTreeFrame m_frameSource;      // 1010
    CTreeFrame m_frameDest;        // 1011

    CString m_strTitle;
    CString m_strWeekDays[7];      // element names of the weekdays, Sunday first
    CString m_strScheduleStamp;    // "y-m-d h:m" of the last enabled weekday check
    CString m_strScheduleFiredDate;// "y-m-d" on which the schedule last fired
    CUSBDevice m_curDevice;        // the last arrived disk
    int m_bCurDeviceValid = 0;
    CStringArray m_arrDriveRoots;  // "E:\" of every listed backup disk volume

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnSize(UINT nType, int cx, int cy);
    void OnDestroy();
    void OnCbnSelchangeDestination();
    // The weekly schedule is due: asks the panel for the scheduled backup. False when the panel
    // refused it because a run or its worker has not ended yet.
    virtual bool OnScheduleDue();
    DECLARE_MESSAGE_MAP()

    void InitTrees();
    void LayoutTrees();
    void InsertSourceDrives();
    void RefreshDeviceList();
    void FillDeviceViews();
    void AddDeviceToViews(CUSBDevice& dev);
    void RemoveDeviceFromViews(const CUSBDevice& dev);
    void RestartButtonWatch();
    void AddComboLetters(CUSBDevice& dev, bool bAtTop);
    void SelectDestination(int nIndex);
    void CheckSchedule();
    void DrawTitle(CDC& dc, const CImage& img, int x, const CString& strText, int nRight);

private:
    CPageBox* m_pPanel = nullptr;
    CFont m_font;
    CImage m_imgHeader, m_imgIcon, m_imgDevice;
    bool m_bIconsLoaded = false;
    bool m_bLibraryLoaded = false;
};
