#pragma once
// CPropressDlg: the panel that runs a file backup, a restore or a disk copy in place of a page.
// It owns the copy engine and the disk-copy record, starts the matching worker (joinable: a new
// run waits until the previous worker has ended), polls the counters on a 1 ms timer, shows
// totals, times, both bars and the files that failed, guards a backup against a full or removed
// target, offers a pausing cancel with its question, shows the result and gives the slot back to
// the page panel.

#include "afxwin.h"
#include "atlimage.h"
#include "BackUpEngine.h"
#include "ButtonST.h"
#include "DiskCopy.h"
#include "FailSink.h"
#include "SkinControls.h"
#include "SkinUtil.h"
#include "resource.h"

#include <mutex>
#include <vector>

class CPageBox;

// The main window, as the progress dialog sees it: while an operation runs it shows that it
// cannot be quit (the tray menu's quit item grayed, the quit button drawn disabled).
class IBusyWindow {
public:
    virtual ~IBusyWindow() = default;
    virtual void SetBusy(bool bBusy) = 0;
};

// The engine's failed files, collected from the worker and shown by the dialog's timer, so the
// worker never waits for the user-interface thread.
class CFailLineQueue : public CFailSink {
public:
    void InsertStringAndSelect(const CString& strLine) override;
    // Moves the queued lines out.
    std::vector<CString> Take();

private:
    std::mutex m_lock;
    std::vector<CString> m_lines;
};

// "1,234": a "," before every group of three digits counted from the right.
CString GroupDigits(ULONGLONG n);
// Seconds as "hh:mm:ss"; hours above 99 keep all their digits.
CString FormatElapsedTime(ULONGLONG nSeconds);
// True when both texts name the same drive letter ("E:", "E:\", "e:\dir").
bool IsSameDriveLetter(const CString& a, const CString& b);

class CPropressDlg : public CDialog {
public:
    enum { IDD = IDD_PROGRESS };
    static constexpr int kWidth = 542;
    static constexpr int kHeight = 284;
    static constexpr ULONGLONG kMinFreeBytes = 4194304;  // a backup stops below 4 MiB free

    // How the last operation ended, for the panel and the tests.
    enum EndKind { END_NONE, END_BACKUP, END_QUICK, END_RESTORE, END_CANCELLED, END_QUICK_CANCELLED };

    CPropressDlg();
    ~CPropressDlg() override;

    // Creates the window as a hidden child of pParent at rcPage; slot is the panel slot it
    // stands in for (the panel gets it back at the end). pPanel may be null (no panel calls).
    BOOL CreateInPanel(CWnd* pParent, CPageBox* pPanel, int nSlot, const CRect& rcPage);

    // Prepares an operation. FALSE while the previous worker still runs (nothing is reset).
    BOOL InitOperation(BOOL bDiskCopy, BOOL bFromQuickPage, const CString& strTitle, BOOL bBackUp,
                       const CString& strTargetPath, int nSourceDisk, int nTargetDisk);
    // Starts the worker and the timer. FALSE when no worker could be started (the operation
    // has then ended as failed, with its message).
    BOOL StartOperation();
    // A drive was removed; stops a backup or restore whose target is on it.
    void OnTargetDiskRemoved(const CString& strDrive);

    void OnBnClickedCancel();
    void OnBnClickedClose();

    // True while a worker thread of this dialog has not ended.
    bool IsWorkerAlive();
    // Waits up to nMs for the worker to end, and joins it; true when none is left.
    bool WaitForWorker(DWORD nMs);
    // True from StartOperation until the run is over or stopped.
    bool IsRunning() const { return m_bRunning != 0; }

    // One timer step (also driven by the tests).
    void TimerStep();

    CBackUpEngine m_engine;
    DiskCopyJob m_job;
    CFailLineQueue m_failQueue;

    // Operation parameters.
    int m_bDiskCopy = 0;
    int m_bFromQuickPage = 0;
    int m_bBackUp = 1;
    CString m_strTitle;
    CString m_strTargetPath;
    int m_nSourceDisk = -1;
    int m_nTargetDisk = -1;

    // State words.
    int m_bFiguresShown = 0;
    int m_bFailListShown = 0;
    int m_bPromptOpen = 0;
    int m_bFinished = 0;
    int m_bTargetRemoved = 0;
    int m_bRunning = 0;
    int m_bFailed = 0;          // the operation ended unsuccessfully (disk copy)
    ULONGLONG m_nElapsed = 0;
    DWORD m_dwSecondStamp = 0;
    int m_nShownDoneFiles = -1;
    int m_nPercent = 0;
    int m_nFilePercent = 0;
    UINT_PTR m_nTimer = 0;
    EndKind m_nEnd = END_NONE;
    CString m_strLastMessage;   // the last result or guard message shown

    // The progress of the current file the file bar shows, and the name beside it: always
    // one file's.
    ULONGLONG m_nShownFileDone = 0;
    ULONGLONG m_nShownFileSize = 0;
    CString m_strShownFile;

    CStatic m_stTitle;
    CStatic m_stLabel[4];       // total, time spent, finished, time left
    // The value fields and the current file: skinned buttons used as labels (no border, no
    // hover, no clicks, drawn over the dialog's own background).
    CButtonST m_btnValue[4];
    CButtonST m_btnFile;
    CProgressCtrlX m_barTotal, m_barFile;
    CMyListbox m_listFail;
    CButtonST m_btnCancel, m_btnClose;
    HWND m_hToolTip = nullptr;  // the current file's full name

    // Texts.
    CString m_strTotal, m_strSpent, m_strFinish, m_strLeft, m_strCancel, m_strClose, m_strScan;
    CString m_strBackupTitle, m_strBackupDone, m_strRestoreTitle, m_strRestoreDone;
    CString m_strSmallTitle, m_strSmall, m_strPromptTitle, m_strPromptCancel, m_strCancelRestore;
    CString m_strCancelDiskCopy, m_strRemoveDisk, m_strDiskCopyDone, m_strDiskCopyFailed;
    CString m_strBackupFailed, m_strRestoreFailed;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSize(UINT nType, int cx, int cy);
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnOK() override {}
    void OnCancel() override {}
    DECLARE_MESSAGE_MAP()

    void LoadLanguageText();
    void LayoutControls();
    void ShowFigures(bool bShow);
    void UpdateBackUpProgress();
    void UpdateDiskCopyProgress();
    void DrainFailLines();
    void RunOver();
    void OnOperationFinished();
    // The stop path of the cancel button, without its question.
    void StopOperation();
    // Shows a modal message (OK alone, or OK and Cancel); true for OK.
    bool ShowPrompt(const CString& strHeading, const CString& strMessage, bool bOkOnly);
    void SetValue(int i, const CString& s);
    // The current file's text; its tooltip follows.
    void SetFileText(const CString& s);
    // A see-through label's new text: the dialog's background is drawn again under it.
    void SetLabelText(CStatic& label, const CString& s);
    // The dialog's background (white, the panel picture stretched, the line under the title),
    // kept for the see-through controls, and handed to them.
    void MakeBackground();
    void HandOutBackground(CDC* pDC);
    void MarkMainWindowBusy(bool bBusy);
    void SetBar(CProgressCtrlX& bar, int nPercent);
    void GiveBackSlot();
    void RefreshTrees();
    void CloseWorkerHandle();

private:
    CPageBox* m_pPanel = nullptr;
    int m_nSlot = -1;
    HANDLE m_hThread = nullptr;
    unsigned m_nRunId = 0;      // counts the operations prepared, so an answer finds its own
    CFont m_fontTitle, m_fontText, m_fontValue;
    CImage m_imgPanel, m_imgLine;
    CSkinBackground m_bk;
};
