#pragma once
// CPageBox: the panel below the main window's caption band. Four page buttons on the left
// (quick launch, file backup, file management, settings), one page at a time to their right,
// and the hide, start and restore buttons at the bottom right. The panel owns its pages and is
// where every operation start passes; its state words tell the rest of the program whether an
// operation or a prompt is running.

#include "afxwin.h"
#include "atlimage.h"
#include "ButtonST.h"
#include "MakeSureDlg.h"
#include "PanelPage.h"
#include "ProgressDlg.h"
#include "QuickDialog.h"
#include "SkinUtil.h"
#include "resource.h"

#include <memory>

class CPageBox : public CDialog {
public:
    enum { IDD = IDD_PAGEBOX };
    enum { PAGE_QUICK = 0, PAGE_BACKUP = 1, PAGE_MANAGE = 2, PAGE_SETTINGS = 3, PAGE_COUNT = 4 };
    static constexpr int kWidth = 628;
    static constexpr int kHeight = 340;

    CPageBox();
    ~CPageBox() override;

    // Page switching (buttons 1006, 1004, 1005, 1007).
    void OnBnClickedQuickPage() { ShowPage(PAGE_QUICK); }
    void OnBnClickedBackupPage() { ShowPage(PAGE_BACKUP); }
    void OnBnClickedManagePage() { ShowPage(PAGE_MANAGE); }
    void OnBnClickedSetPage() { ShowPage(PAGE_SETTINGS); }
    void ShowPage(int nPage);
    // Operation starts. Each is refused (nothing changes but m_bStartedByKey, which is cleared)
    // while a prompt is open, an operation runs or the previous worker has not ended.
    void OnBnClickedBackup();           // start button, hot key, enclosure button
    void OnBnClickedRestore();
    void StartQuickBackup();            // quick-launch page
    // Backup page's schedule. False only when the start was refused as above (nothing shown,
    // the caller may ask again); true once it went on to its checks, its prompt and its run.
    bool StartScheduledBackup();
    void OnBnClickedMinimize();
    // 0 file backup, 1 disk copy, -1 refused (a message was shown).
    int CheckDiskCopySelection();
    // The 30-second start prompt of a click; 1 only for OK (or the countdown running out).
    int ConfirmStart(BOOL bDiskCopy);
    // Ends the open start prompt from outside: confirmed, or cancelled after a disk went away.
    void ClosePrompt();
    void ClosePromptForDrive();
    // Runs a start prompt with m_pPrompt pointing to it; true only for IDOK.
    bool RunPrompt(CMakeSureDlg& prompt);
    // Shows a plain message (heading "Tips" unless given).
    void ShowMessage(const CString& strMessage);
    void ShowMessage(const CString& strHeading, const CString& strMessage);
    // True while no operation may start: a prompt is open, an operation runs or is being
    // started, or the progress dialog's previous worker is still alive.
    bool IsStartBlocked();
    // The main window saw a drive go away: a backup or restore writing there stops.
    void OnTargetDiskRemoved(const CString& strDrive);

    // The start button takes clicks when there is a destination (or disk items for a disk
    // copy); the restore and quick-backup buttons only with a destination.
    void EnableActionButtons(BOOL bHasDestination);
    // Hides or shows the store folder of the selected destination as "HideBackupFiles" says.
    void UpdateBackupFolderHidden();
    // m_strFileTypeFilter from the file-type choice of the settings page.
    void BuildFileTypeFilter();
    // Appends the extensions of a type label ("Audio:wmv,mp3,wma") not yet in the filter.
    void AddFileTypeFilter(const CString& strList);

    // Ends of an operation, called by the progress dialog after it gave the slot back.
    void OnBackupFinished();
    void OnQuickBackupFinished();
    void OnRestoreFinished();
    void OnOperationCancelled();
    void OnQuickBackupCancelled();

    void UpdateActionButtons();
    void DisablePageButtons();
    void EnablePageButtons();
    void ReloadLanguageText();
    void LoadLanguageText();

    // A slot's page (the page itself, never the progress dialog); null when empty.
    IPanelPage* GetPage(int nSlot) const;
    // The window shown in a slot: the page, or what an operation put in its place.
    CWnd* GetSlotWnd(int nSlot) const { return nSlot >= 0 && nSlot < PAGE_COUNT ? m_pSlotWnd[nSlot] : nullptr; }
    // An operation puts its window into a slot instead of the page, and gives the slot back.
    void SetSlotWnd(int nSlot, CWnd* pWnd);
    void RestoreSlot(int nSlot);
    CRect GetPageRect() const;
    // True while any operation runs or is being started.
    bool IsOperationRunning() const { return m_bBackupRunning || m_bRestoreRunning || m_bQuickRunning; }
    CButtonST* PageButton(int nSlot) { return nSlot >= 0 && nSlot < PAGE_COUNT ? &m_btnPage[nSlot] : nullptr; }

    // State words.
    int m_bBackupRunning = 0;
    int m_bRestoreRunning = 0;
    int m_bPromptOpen = 0;
    CMakeSureDlg* m_pPrompt = nullptr;
    int m_bStartedByKey = 0;
    int m_nLastAction = 0;
    int m_bQuickRunning = 0;
    int m_nCurPage = -1;
    int m_nHighlight = 0;
    CString m_strFileTypeFilter;
    // The one progress dialog, created hidden at initialisation and kept for the panel's life.
    CPropressDlg* m_pProgressDlg = nullptr;

    CQuickDialog m_dlgQuick;
    CButtonST m_btnPage[PAGE_COUNT];   // in slot order: 1006, 1004, 1005, 1007
    CButtonST m_btnHide;
    CButtonST m_btnStart;
    CButtonST m_btnRestore;

    // Texts.
    CString m_strQuickActive, m_strBackup, m_strManage, m_strSet;
    CString m_strMinimize, m_strRevert, m_strBackupTip;
    CString m_strPromptTitle, m_strQuickPrompt, m_strChoseBackupFile, m_strChoseDestDisk;
    CString m_strVolumNotFormat, m_strBackupTitle, m_strBackupPrompt, m_strProgressBackup, m_strProgressRestore;
    CString m_strRestoreTitle, m_strRestorePrompt, m_strNoRestoreDisk, m_strChoseRestoreFile;
    CString m_strChoseSourceDisk, m_strSameDisk, m_strSourceGreater, m_strDeletePartitions;
    CString m_strSectorSizes;   // a %u for each sector size, the source's then the target's
    CString m_strDiskCopyTitle, m_strDiskCopyPrompt, m_strDiskGone;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    int OnCreate(LPCREATESTRUCT lpcs);
    BOOL OnInitDialog() override;
    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    void OnOK() override {}
    void OnCancel() override {}
    void LayoutControls();
    void CreatePages();
    DECLARE_MESSAGE_MAP()

    // Start helpers.
    void StartFileBackup(const CString& strTarget, BOOL bFromQuickPage);
    void StartDiskCopy(const CString& strTarget);
    // Puts the progress dialog into a slot, then starts the prepared operation in it.
    void RunInSlot(int nSlot);
    // The prompt of a key-started (or scheduled) start: no countdown; a further press of the
    // enclosure button confirms it.
    bool RunKeyPrompt(const CString& strHeading, const CString& strMessage);
    // Clears every word a refused start of the backup page set.
    void RefuseBackupStart();
    // Files chosen and a destination drive: true; otherwise says which is missing, refuses the
    // start and returns false.
    bool CheckBackupChoice(const CString& strTarget);
    // "BackupFinish" of the settings file; empty when the file or element is missing.
    CString ReadBackupFinish();

private:
    std::unique_ptr<IPanelPage> m_pOwnedPages[PAGE_COUNT];
    IPanelPage* m_pPages[PAGE_COUNT] = {};
    CWnd* m_pSlotWnd[PAGE_COUNT] = {};
    CImage m_imgStrip, m_imgSeparator, m_imgHighlight;
    CSkinBackground m_bk;
    CFont m_fontPage;
    HWND m_hToolTip[3] = {};
};

// An empty page for a slot whose page is not part of this build.
class CEmptyPage : public CWnd, public IPanelPage {
public:
    BOOL CreatePage(CPageBox* pPanel, const CRect& rcPage) override;
    CWnd* PageWnd() override { return this; }

protected:
    BOOL OnEraseBkgnd(CDC* pDC);
    DECLARE_MESSAGE_MAP()
};

// The device number of the checked device item among the top-level items of a tree, -1 for
// none.
int FindCheckedDeviceNumber(HWND hTree);
// The index of a device number in g_arrUSBDevice, -1 when it is not listed.
int FindDeviceIndex(int nDeviceNumber);

// True when the selection tree's top item says that nothing is chosen (no tree, no item,
// unchecked or fixed).
bool IsSourceSelectionEmpty();
// The current text of the destination drive list; empty without one.
CString GetDestinationText();
