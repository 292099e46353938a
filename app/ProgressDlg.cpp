#include "ProgressDlg.h"

#include "BackUpThread.h"
#include "InitTreeCtrl.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "MakeSureDlg.h"
#include "PageBox.h"
#include "SharedFunctions.h"
#include "ShellIo.h"
#include "SkinUtil.h"
#include "USBDevice.h"
#include "UsbTreeCtrl.h"

#include <commctrl.h>
#include <process.h>

// ---------------------------------------------------------------------------------------
// Helpers

void CFailLineQueue::InsertStringAndSelect(const CString& strLine)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_lines.push_back(strLine);
}

std::vector<CString> CFailLineQueue::Take()
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<CString> lines;
    lines.swap(m_lines);
    return lines;
}

CString GroupDigits(ULONGLONG n)
{
    wchar_t digits[32];
    swprintf(digits, 32, L"%llu", n);
    CString s;
    int nLen = (int)wcslen(digits);
    for (int i = 0; i < nLen; ++i) {
        if (i > 0 && (nLen - i) % 3 == 0)
            s += L',';
        s += digits[i];
    }
    return s;
}

CString FormatElapsedTime(ULONGLONG nSeconds)
{
    ULONGLONG h = nSeconds / 3600, m = nSeconds % 3600 / 60, s = nSeconds % 60;
    CString str;
    str.Format(L"%ls%llu:%ls%llu:%ls%llu", h > 9 ? L"" : L"0", h, m > 9 ? L"" : L"0", m, s > 9 ? L"" : L"0", s);
    return str;
}

bool IsSameDriveLetter(const CString& a, const CString& b)
{
    if (a.GetLength() < 2 || b.GetLength() < 2 || a[1] != L':' || b[1] != L':')
        return false;
    return ::towupper(a[0]) == ::towupper(b[0]);
}

namespace {

constexpr UINT_PTR kTimerId = 1;
// Bar skins: the track, the body (also its right end) and the left end.
constexpr UINT kBarBackImage = 281;
constexpr UINT kBarBodyImage = 282;
constexpr UINT kBarLeftImage = 283;

unsigned __stdcall BackUpWorker(void* pEngine)
{
    BackUpThreadProc(pEngine);
    return 0;
}

CString FilesText(ULONGLONG n)
{
    return GroupDigits(n) + L" Files";
}

CString KbText(ULONGLONG nBytes)
{
    return GroupDigits(nBytes / 1024) + L"KB";
}

// done * 100 / total, with done clamped to total.
int Percent(ULONGLONG nDone, ULONGLONG nTotal)
{
    if (nTotal == 0)
        return 0;
    if (nDone > nTotal)
        nDone = nTotal;
    // Split so that done * 100 cannot overflow for any size.
    return (int)(nDone / nTotal * 100 + (nDone % nTotal) * 100 / nTotal);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The dialog

BEGIN_MESSAGE_MAP(CPropressDlg, CDialog)
    ON_WM_CREATE()
    ON_WM_TIMER()
    ON_WM_SIZE()
    ON_WM_PAINT()
    ON_WM_CTLCOLOR()
    ON_WM_ERASEBKGND()
    ON_BN_CLICKED(IDC_PROGRESS_CANCEL, OnBnClickedCancel)
    ON_BN_CLICKED(IDC_PROGRESS_CLOSE, OnBnClickedClose)
END_MESSAGE_MAP()

CPropressDlg::CPropressDlg() : CDialog(IDD)
{
    CreateDialogFont(m_fontTitle, 18, 600, L"MingLiU");
    CreateDialogFont(m_fontText, 12, 400, L"MingLiU");
    CreateDialogFont(m_fontValue, 12, 500, L"MingLiU");
    LoadLanguageText();
}

CPropressDlg::~CPropressDlg()
{
    // A worker still running uses the engine and the record: stop it and wait for it.
    if (IsWorkerAlive()) {
        m_engine.m_bCancel = 1;
        m_job.m_bStop = 1;
        if (m_engine.m_hPauseEvent)
            SetEvent(m_engine.m_hPauseEvent);
        if (g_hDiskCopyPauseEvent)
            SetEvent(g_hDiskCopyPauseEvent);
        WaitForWorker(INFINITE);
    }
    CloseWorkerHandle();
    if (m_engine.m_hPauseEvent) {
        CloseHandle(m_engine.m_hPauseEvent);
        m_engine.m_hPauseEvent = nullptr;
    }
    if (g_hDiskCopyPauseEvent) {
        CloseHandle(g_hDiskCopyPauseEvent);
        g_hDiskCopyPauseEvent = nullptr;
    }
    if (m_hToolTip && ::IsWindow(m_hToolTip))
        ::DestroyWindow(m_hToolTip);
    m_hToolTip = nullptr;
    if (m_hWnd)
        DestroyWindow();
}

BOOL CPropressDlg::CreateInPanel(CWnd* pParent, CPageBox* pPanel, int nSlot, const CRect& rcPage)
{
    m_pPanel = pPanel;
    m_nSlot = nSlot;
    if (!Create(IDD, pParent))
        return FALSE;
    SetWindowPos(nullptr, rcPage.left, rcPage.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

int CPropressDlg::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CRect r(0, 0, 10, 10);
    m_stTitle.Create(L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, r, this, IDC_PROGRESS_TITLE);
    static const UINT kLabelIds[4] = {IDC_PROGRESS_TOTAL_LABEL, IDC_PROGRESS_SPENT_LABEL, IDC_PROGRESS_DONE_LABEL,
                                      IDC_PROGRESS_LEFT_LABEL};
    static const UINT kValueIds[4] = {IDC_PROGRESS_TOTAL_VALUE, IDC_PROGRESS_SPENT_VALUE, IDC_PROGRESS_DONE_VALUE,
                                      IDC_PROGRESS_LEFT_VALUE};
    for (int i = 0; i < 4; ++i) {
        m_stLabel[i].Create(L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, r, this, kLabelIds[i]);
        m_btnValue[i].Create(L"", WS_CHILD | WS_VISIBLE, r, this, kValueIds[i]);
    }
    m_btnFile.Create(L"", WS_CHILD | WS_VISIBLE, r, this, IDC_PROGRESS_FILE);
    // Labels drawn as skinned buttons: the text on the dialog's background, nothing to press.
    for (CButtonST* p : {&m_btnValue[0], &m_btnValue[1], &m_btnValue[2], &m_btnValue[3], &m_btnFile}) {
        p->SetTracking(FALSE);
        p->DrawBorder(FALSE, FALSE);
        p->SetSingleLine(TRUE, FALSE);
        p->SetLeftAlign(TRUE, FALSE);
        p->SetPressedOffset(0, 0, FALSE);
        // A file name is shown as it is, "&" and all.
        p->SetNoPrefix(TRUE, FALSE);
        p->ResetBackground(FALSE);
    }
    // The two skinned bars: segmented with a gap of 2 pixels, the overall one with its percent.
    for (CProgressCtrlX* pBar : {&m_barTotal, &m_barFile}) {
        pBar->Create(WS_CHILD | WS_VISIBLE, r, this, pBar == &m_barTotal ? IDC_PROGRESS_TOTALBAR : IDC_PROGRESS_FILEBAR);
        pBar->m_bSegmented = TRUE;
        pBar->m_nSegmentGap = 2;
        if (LoadPngResource(kBarBackImage, pBar->m_imgBack))
            PremultiplyAlpha(pBar->m_imgBack);
        LoadPngResource(kBarBodyImage, pBar->m_imgBar);
        if (LoadPngResource(kBarBodyImage, pBar->m_imgRight))
            PremultiplyAlpha(pBar->m_imgRight);
        if (LoadPngResource(kBarLeftImage, pBar->m_imgLeft))
            PremultiplyAlpha(pBar->m_imgLeft);
    }
    m_barTotal.m_bShowPercent = TRUE;
    m_listFail.Create(WS_CHILD | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, r, this,
                      IDC_PROGRESS_FAILLIST);
    m_btnCancel.Create(L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, r, this, IDC_PROGRESS_CANCEL);
    m_btnClose.Create(L"", WS_CHILD | WS_TABSTOP, r, this, IDC_PROGRESS_CLOSE);
    for (CButtonST* p : {&m_btnCancel, &m_btnClose}) {
        p->LoadSkinSlices();
        p->ResetBackground(FALSE);
        p->DrawBorder(FALSE, FALSE);
    }
    m_stTitle.SetFont(&m_fontTitle);
    m_btnFile.SetFont(&m_fontText);
    for (int i = 0; i < 4; ++i) {
        m_stLabel[i].SetFont(&m_fontText);
        m_btnValue[i].SetFont(&m_fontValue);
    }
    m_listFail.SetFont(&m_fontText);
    m_btnCancel.SetFont(&m_fontText);
    m_btnClose.SetFont(&m_fontText);
    return 0;
}

BOOL CPropressDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    LoadSkinImage(IDB_PROGRESS_PANEL, m_imgPanel);
    LoadSkinImage(IDB_PROGRESS_LINE, m_imgLine);
    MakeBackground();
    LayoutControls();
    // The tip shows the current file's full name as it is: an "&" in it is no prefix.
    InitToolTip(m_hToolTip, m_hWnd, m_btnFile.m_hWnd, L"", TTS_NOPREFIX);
    return TRUE;
}

BOOL CPropressDlg::PreTranslateMessage(MSG* pMsg)
{
    if (m_hToolTip) {
        MSG msg = *pMsg;
        ::SendMessageW(m_hToolTip, TTM_RELAYEVENT, 0, (LPARAM)&msg);
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CPropressDlg::LoadLanguageText()
{
    m_strTotal = GetLanguageTextOr(L"ProgressTotal", L"Total:");
    m_strSpent = GetLanguageTextOr(L"HaveUseTime", L"Time spent:");
    m_strFinish = GetLanguageTextOr(L"HaveFinish", L"Finished:");
    m_strLeft = GetLanguageTextOr(L"PrecastTime", L"Time left:");
    m_strCancel = GetLanguageTextOr(L"Cancel", L"Cancel");
    m_strClose = GetLanguageTextOr(L"Close", L"Close");
    m_strScan = GetLanguageTextOr(L"ScanFile", L"Scanning files now...");
    m_strBackupTitle = GetLanguageTextOr(L"BackupFinishTipTitle", L"File Backup");
    m_strBackupDone = GetLanguageTextOr(L"BackupFinishTipMessage", L"The backup for selected files has been finished !");
    m_strRestoreTitle = GetLanguageTextOr(L"RestoreFinishTipTitle", L"File Restore");
    m_strRestoreDone = GetLanguageTextOr(L"RestoreFinishTipMessage", L"The restore for selected files has been finished ");
    m_strSmallTitle = GetLanguageTextOr(L"DiskIsSmallTitle", L"Tips");
    m_strSmall = GetLanguageTextOr(L"DiskIsSmallMessage", L"Backup terminated:No enough free disk space!");
    m_strPromptTitle = GetLanguageTextOr(L"PromptTitle", L"Tips");
    m_strPromptCancel = GetLanguageTextOr(L"PromptCancel", L"Cancel the backup operation?");
    m_strCancelRestore = GetLanguageTextOr(L"CancelRestore", L"Cancel the restore operation?");
    m_strCancelDiskCopy = GetLanguageTextOr(L"CancelDiskCopy", L"Cancel disk copy?");
    m_strRemoveDisk = GetLanguageTextOr(L"RemoveDisk", L"Backup terminated: Disk has already been removed!");
    m_strDiskCopyDone = GetLanguageTextOr(L"DiskCopyFinish", L"The disk copy has been completed!");
    m_strDiskCopyFailed = GetLanguageTextOr(L"DiskCopyFailed", L"The disk copy has failed!");
    m_strBackupFailed = GetLanguageTextOr(L"BackupFailed", L" file(s) backup fail!");
    m_strRestoreFailed = GetLanguageTextOr(L"RestoreFailed", L" file(s) restore fail!");
}

void CPropressDlg::LayoutControls()
{
    if (!m_hWnd)
        return;
    CRect rc;
    GetClientRect(&rc);
    const int w = rc.Width();
    SetLabelText(m_stTitle, m_strTitle);
    m_stTitle.MoveWindow(25, 28, w - 50, 22);   // its bottom at y 50
    m_btnFile.MoveWindow(25, 70, w - 50, 12);
    // Each value field starts 5 pixels after its label, whatever the language makes the label.
    CClientDC dc(this);
    HGDIOBJ old = ::SelectObject(dc.m_hDC, m_fontText.m_hObject);
    const CString* labels[4] = {&m_strTotal, &m_strSpent, &m_strFinish, &m_strLeft};
    for (int i = 0; i < 4; ++i) {
        const int x = (i % 2) ? 300 : 25;
        const int y = (i < 2) ? 88 : 88 + 12 + 6;
        const int nLabel = dc.GetTextExtent(*labels[i]).cx + 1;
        m_stLabel[i].MoveWindow(x, y, nLabel, 12);
        SetLabelText(m_stLabel[i], *labels[i]);
        m_btnValue[i].MoveWindow(x + nLabel + 5, y, (i % 2) ? 100 : 150, 12);
    }
    ::SelectObject(dc.m_hDC, old);
    m_listFail.MoveWindow(25, 125, w - 50, 65);
    m_barTotal.MoveWindow(25, 200, w - 50, 24);
    m_barFile.MoveWindow(25, 230, w - 50, 10);
    m_btnCancel.SetWindowText(m_strCancel);
    m_btnClose.SetWindowText(m_strClose);
    m_btnCancel.MoveWindow(w - 10 - 80 - 90, 250, 80, 24);
    m_btnClose.MoveWindow(w - 10 - 80, 250, 80, 24);
    // The controls that moved take their background again from where they are now.
    HandOutBackground(m_bk.Dc());
    for (CProgressCtrlX* pBar : {&m_barTotal, &m_barFile})
        pBar->ResetBackground();
    Invalidate(FALSE);
}

void CPropressDlg::MakeBackground()
{
    CRect rc;
    GetClientRect(&rc);
    m_bk.Make(this, m_imgPanel, 0, 0, rc.Width(), rc.Height(), rc.Width(), rc.Height(), RGB(255, 255, 255));
    if (CDC* pBk = m_bk.Dc()) {
        if (!m_imgLine.IsNull())
            m_imgLine.Draw(pBk->m_hDC, 25, 60);
    }
}

void CPropressDlg::HandOutBackground(CDC* pDC)
{
    if (!pDC)
        return;
    for (CButtonST* p : {&m_btnValue[0], &m_btnValue[1], &m_btnValue[2], &m_btnValue[3], &m_btnFile, &m_btnCancel,
                         &m_btnClose}) {
        if (p->m_hWnd)
            p->CopyParentBackground(pDC);
    }
}

void CPropressDlg::OnPaint()
{
    CPaintDC paint(this);
    CRect rc;
    GetClientRect(&rc);
    CMemDC dc(&paint, &rc);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    if (!m_imgPanel.IsNull())
        m_imgPanel.Draw(dc.m_hDC, 0, 0, rc.Width(), rc.Height());
    if (!m_imgLine.IsNull())
        m_imgLine.Draw(dc.m_hDC, 25, 60);
    HandOutBackground(&dc);
}

void CPropressDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    ApplyRoundRegion(this);
}

HBRUSH CPropressDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    // The title and the four labels are see-through: the dialog's picture shows under them.
    if (nCtlColor == CTLCOLOR_STATIC && pWnd && pWnd->m_hWnd != m_listFail.m_hWnd) {
        pDC->SetBkMode(TRANSPARENT);
        return (HBRUSH)::GetStockObject(NULL_BRUSH);
    }
    return (HBRUSH)Default();
}

BOOL CPropressDlg::OnEraseBkgnd(CDC*)
{
    return TRUE;  // OnPaint draws the whole client area
}

void CPropressDlg::SetValue(int i, const CString& s)
{
    CString cur;
    m_btnValue[i].GetWindowText(cur);
    if (cur != s) {
        m_btnValue[i].SetWindowText(s);
        m_btnValue[i].Invalidate(FALSE);
    }
}

void CPropressDlg::SetFileText(const CString& s)
{
    CString cur;
    m_btnFile.GetWindowText(cur);
    if (cur == s)
        return;
    m_btnFile.SetWindowText(s);
    m_btnFile.Invalidate(FALSE);
    if (m_hToolTip)
        UpdateToolTipText(m_hToolTip, m_btnFile.m_hWnd, s);   // a tip that is up stays up
}

void CPropressDlg::SetLabelText(CStatic& label, const CString& s)
{
    CString cur;
    label.GetWindowText(cur);
    if (cur == s)
        return;
    label.SetWindowText(s);
    // Nothing erases under a see-through label: the dialog draws its picture there again first.
    CRect rc;
    label.GetWindowRect(&rc);
    ScreenToClient(&rc);
    RedrawWindow(&rc, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void CPropressDlg::SetBar(CProgressCtrlX& bar, int nPercent)
{
    if (bar.m_nPos != nPercent)
        bar.SetPos(nPercent);
}

void CPropressDlg::MarkMainWindowBusy(bool bBusy)
{
    if (!m_hWnd)
        return;
    HWND hMain = ::GetAncestor(m_hWnd, GA_ROOT);
    if (IBusyWindow* pMain = dynamic_cast<IBusyWindow*>(CWnd::FromHandlePermanent(hMain)))
        pMain->SetBusy(bBusy);
}

void CPropressDlg::ShowFigures(bool bShow)
{
    int n = bShow ? SW_SHOW : SW_HIDE;
    for (int i = 1; i < 4; ++i) {
        m_stLabel[i].ShowWindow(n);
        m_btnValue[i].ShowWindow(n);
    }
    m_barTotal.ShowWindow(n);
    // A disk copy has one bar only: there is no current file.
    m_barFile.ShowWindow(bShow && !m_bDiskCopy ? SW_SHOW : SW_HIDE);
    m_bFiguresShown = bShow ? 1 : 0;
}

bool CPropressDlg::ShowPrompt(const CString& strHeading, const CString& strMessage, bool bOkOnly)
{
    m_strLastMessage = strMessage;
    CMakeSureDlg prompt(strHeading, strMessage, bOkOnly ? 1 : 0);
    return prompt.DoModal() == IDOK;
}

// ---------------------------------------------------------------------------------------
// Worker

bool CPropressDlg::IsWorkerAlive()
{
    return m_hThread && WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT;
}

bool CPropressDlg::WaitForWorker(DWORD nMs)
{
    if (!m_hThread)
        return true;
    if (WaitForSingleObject(m_hThread, nMs) != WAIT_OBJECT_0)
        return false;
    CloseWorkerHandle();
    return true;
}

void CPropressDlg::CloseWorkerHandle()
{
    if (m_hThread) {
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
}

BOOL CPropressDlg::InitOperation(BOOL bDiskCopy, BOOL bFromQuickPage, const CString& strTitle, BOOL bBackUp,
                                 const CString& strTargetPath, int nSourceDisk, int nTargetDisk)
{
    // Nothing of the previous run is touched while its worker lives.
    if (IsWorkerAlive())
        return FALSE;
    CloseWorkerHandle();
    ++m_nRunId;
    LoadLanguageText();
    m_bDiskCopy = bDiskCopy ? 1 : 0;
    m_bFromQuickPage = bFromQuickPage ? 1 : 0;
    m_strTitle = strTitle;
    m_bBackUp = bBackUp ? 1 : 0;
    m_strTargetPath = strTargetPath;
    m_nSourceDisk = nSourceDisk;
    m_nTargetDisk = nTargetDisk;
    // The dialog stands in for the page the operation started from.
    if (m_pPanel)
        m_nSlot = m_bFromQuickPage ? 0 : 1;
    m_bFiguresShown = m_bFailListShown = m_bPromptOpen = m_bFinished = m_bTargetRemoved = 0;
    m_bRunning = m_bFailed = 0;
    m_nElapsed = 0;
    m_dwSecondStamp = GetTickCount();
    m_nShownDoneFiles = -1;
    m_nPercent = m_nFilePercent = 0;
    m_nShownFileDone = m_nShownFileSize = 0;
    m_strShownFile.Empty();
    m_nEnd = END_NONE;
    m_strLastMessage.Empty();
    m_job.m_nTotalBytes = 0;
    m_job.m_nCopiedBytes = 0;
    m_job.m_nTargetBytes = 0;
    m_job.m_bStop = 0;
    m_job.m_bSuccess = 1;
    m_job.m_bDone = 0;
    g_bBackUpThreadDone = 0;
    // The previous run's pause event is the dialog's: it goes before the engine forgets it.
    if (m_engine.m_hPauseEvent) {
        CloseHandle(m_engine.m_hPauseEvent);
        m_engine.m_hPauseEvent = nullptr;
    }
    m_engine.Reset();
    m_failQueue.Take();
    if (m_hWnd) {
        for (int i = 0; i < 4; ++i)
            SetValue(i, CString());
        SetValue(0, m_bDiskCopy ? CString(L"0KB") : CString(L"0 Files"));
        SetValue(1, L"00:00:00");
        SetValue(2, m_bDiskCopy ? CString(L"0KB") : CString(L"0 Files"));
        SetValue(3, L"00:00:00");
        SetBar(m_barTotal, 0);
        SetBar(m_barFile, 0);
        SetFileText(CString());
        m_btnCancel.ShowWindow(SW_SHOW);
        m_btnClose.ShowWindow(SW_HIDE);
        LayoutControls();
    }
    // Nothing quits the program under the operation: the main window shows it.
    MarkMainWindowBusy(true);
    return TRUE;
}

BOOL CPropressDlg::StartOperation()
{
    if (IsWorkerAlive())
        return FALSE;
    m_listFail.ResetContent();
    m_listFail.ShowWindow(SW_HIDE);
    m_bRunning = 1;
    if (m_bDiskCopy) {
        bool bStarted = false;
        DWORD dwWait = g_hDeviceListMutex ? WaitForSingleObject(g_hDeviceListMutex, INFINITE) : WAIT_OBJECT_0;
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED) {
            if (PrepareDiskCopyJob(&m_job, m_nSourceDisk, m_nTargetDisk) && m_job.m_nTotalBytes != 0) {
                if (!g_hDiskCopyPauseEvent)
                    g_hDiskCopyPauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
                else
                    SetEvent(g_hDiskCopyPauseEvent);
                m_job.m_bSuccess = 1;
                m_hThread = (HANDLE)_beginthreadex(nullptr, 0, DiskCopyThreadProc, &m_job, 0, nullptr);
                bStarted = m_hThread != nullptr;
            }
            if (g_hDeviceListMutex)
                ReleaseMutex(g_hDeviceListMutex);
        }
        if (!bStarted) {
            // No capacity, no such disk, or no thread: the copy ends at once as failed.
            m_job.m_bSuccess = 0;
            m_job.m_bDone = 1;
            m_job.m_bStop = 1;
            m_bFailed = 1;
            RunOver();
            return FALSE;
        }
        ShowFigures(true);
    } else {
        ShowFigures(false);
        m_engine.m_pFailList = &m_failQueue;
        if (m_engine.m_hPauseEvent)
            CloseHandle(m_engine.m_hPauseEvent);
        m_engine.m_hPauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        m_engine.m_strFileTypes = m_pPanel ? m_pPanel->m_strFileTypeFilter : CString();
        m_engine.m_bRestore = m_bBackUp ? 0 : 1;
        m_engine.m_strTargetRoot = m_strTargetPath;
        // The worker cannot ask the string table: the text of a run that runs out of memory
        // goes with the engine.
        m_engine.m_strMemoryFailText = GetLanguageTextOr(L"SelectionTooLarge", kSelectionTooLargeText);
        m_engine.m_strSameNameText = GetLanguageTextOr(L"SameNameInOtherCase", kSameNameInOtherCaseText);
        m_engine.m_strRecordNotKeptText = GetLanguageTextOr(L"TempRecordNotKept", kTempRecordNotKeptText);
        m_engine.m_strInTheWayText = GetLanguageTextOr(L"EngineFolderInTheWay", kEngineFolderInTheWayText);
        m_hThread = (HANDLE)_beginthreadex(nullptr, 0, BackUpWorker, &m_engine, 0, nullptr);
        if (!m_hThread) {
            m_engine.m_bCancel = 1;
            m_engine.m_bDone = 1;
            m_failQueue.InsertStringAndSelect(m_strTargetPath + L";" + GetLanguageTextOr(L"ThreadFailed", L"The operation could not be started."));
            DrainFailLines();
            RunOver();
            return FALSE;
        }
    }
    m_dwSecondStamp = GetTickCount();
    m_nTimer = SetTimer(kTimerId, 1);
    m_btnCancel.SetFocus();
    SetFileText(m_bDiskCopy ? CString() : m_strScan);
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Timer

void CPropressDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kTimerId)
        TimerStep();
}

void CPropressDlg::TimerStep()
{
    if (!m_bRunning)
        return;
    if (m_bDiskCopy)
        UpdateDiskCopyProgress();
    else
        UpdateBackUpProgress();
}

void CPropressDlg::DrainFailLines()
{
    std::vector<CString> lines = m_failQueue.Take();
    if (lines.empty() || !m_listFail.m_hWnd)
        return;
    for (const CString& s : lines)
        m_listFail.InsertStringAndSelect(-1, s);
}

void CPropressDlg::UpdateBackUpProgress()
{
    if (m_bPromptOpen) {
        m_dwSecondStamp = GetTickCount();
        return;
    }
    // One reading of every counter per step.
    const int nTotalFiles = m_engine.m_nTotalFiles.load();
    const int nDoneFiles = m_engine.m_nDoneFiles.load();
    const ULONGLONG nTotalBytes = m_engine.m_nTotalBytes.load();
    const ULONGLONG nDoneBytes = m_engine.m_nDoneBytes.load();
    const int bScanning = m_engine.m_bScanning.load();
    const int bCancel = m_engine.m_bCancel.load();

    CString strTotal = FilesText(nTotalFiles < 0 ? 0 : nTotalFiles);
    if (bScanning && !bCancel) {
        SetValue(0, strTotal);
        m_nElapsed = 0;
        m_dwSecondStamp = GetTickCount();
        return;
    }

    if (m_bBackUp && !bCancel) {
        CString strRoot = m_strTargetPath.Left(2) + L"\\";
        ULARGE_INTEGER nFree{}, nTotal{}, nAllFree{};
        if (!ShellIo().DiskFreeSpace(strRoot, &nFree, &nTotal, &nAllFree)) {
            // A drive that no longer answers has gone.
            OnTargetDiskRemoved(m_strTargetPath.Left(2));
            return;
        }
        if (nFree.QuadPart < kMinFreeBytes) {
            KillTimer(kTimerId);
            m_engine.m_bCancel = 1;
            m_bPromptOpen = 1;
            ShowPrompt(m_strSmallTitle, m_strSmall, false);
            m_bFinished = 1;
            StopOperation();
            return;
        }
    }

    if (!m_bFiguresShown)
        ShowFigures(true);
    DrainFailLines();
    if (!m_bFailListShown && m_listFail.GetCount() > 0) {
        m_listFail.ShowWindow(SW_SHOW);
        m_bFailListShown = 1;
    }
    SetValue(0, strTotal);

    if (nTotalBytes != 0) {
        m_nPercent = Percent(nDoneBytes, nTotalBytes);
        SetBar(m_barTotal, m_nPercent);
        // The file bar and the name beside it come from one reading of the engine: with
        // several files copied at once, the bytes, the size and the name are one file's.
        ULONGLONG nFileDone = 0, nFileBytes = 0;
        CString strFile;
        const bool bFileStarted = m_engine.ReadFileProgress(nFileDone, nFileBytes, &strFile);
        if (nFileBytes != 0) {
            m_nFilePercent = Percent(nFileDone, nFileBytes);
            SetBar(m_barFile, m_nFilePercent);
            m_nShownFileDone = nFileDone;
            m_nShownFileSize = nFileBytes;
            if (m_nFilePercent >= 100)
                m_nFilePercent = 0;
        } else if (bFileStarted && !strFile.IsEmpty()) {
            // An empty file has no bytes to show: the bar does not keep the previous file's.
            m_nFilePercent = 0;
            SetBar(m_barFile, 0);
            m_nShownFileDone = m_nShownFileSize = 0;
        }
        if (bFileStarted && !strFile.IsEmpty()) {
            SetFileText(strFile);
            m_strShownFile = strFile;
        }
        if (GetTickCount() - m_dwSecondStamp >= 1000) {
            ++m_nElapsed;
            SetValue(1, FormatElapsedTime(m_nElapsed));
            if (nDoneBytes != 0) {
                ULONGLONG nRate = nDoneBytes / m_nElapsed;
                ULONGLONG nDone = nDoneBytes > nTotalBytes ? nTotalBytes : nDoneBytes;
                if (nRate != 0) {
                    ULONGLONG nLeft = (nTotalBytes - nDone) / nRate;
                    SetValue(3, FormatElapsedTime(nLeft ? nLeft : 1));
                }
            }
            m_dwSecondStamp = GetTickCount();
        }
        if (nDoneFiles != m_nShownDoneFiles) {
            SetValue(2, FilesText(nDoneFiles < 0 ? 0 : nDoneFiles));
            m_nShownDoneFiles = nDoneFiles;
        }
        if (!bCancel)
            return;
        SetValue(3, L"00:00:00");
    } else {
        if (!bCancel)
            return;
        SetFileText(m_engine.GetCurrentFileName());
        SetValue(2, FilesText(nDoneFiles < 0 ? 0 : nDoneFiles));
    }
    RunOver();
}

void CPropressDlg::UpdateDiskCopyProgress()
{
    if (m_bPromptOpen) {
        m_dwSecondStamp = GetTickCount();
        return;
    }
    const ULONGLONG nTotal = m_job.m_nTotalBytes;
    ULONGLONG nCopied = m_job.GetCopiedBytes();
    const int bStop = m_job.m_bStop;
    if (nCopied > nTotal)
        nCopied = nTotal;
    SetValue(0, KbText(nTotal));
    if (nTotal == 0) {
        if (bStop)
            RunOver();
        return;
    }
    m_nPercent = Percent(nCopied, nTotal);
    SetBar(m_barTotal, m_nPercent);
    if (GetTickCount() - m_dwSecondStamp >= 1000) {
        ++m_nElapsed;
        SetValue(1, FormatElapsedTime(m_nElapsed));
        ULONGLONG nRate = nCopied / (m_nElapsed + 1);
        SetValue(3, nRate ? FormatElapsedTime((nTotal - nCopied) / nRate) : CString(L"00:00:00"));
        m_dwSecondStamp = GetTickCount();
    }
    SetValue(2, KbText(nCopied));
    if (!bStop)
        return;
    SetValue(3, L"00:00:00");
    RunOver();
}

void CPropressDlg::RunOver()
{
    KillTimer(kTimerId);
    m_bRunning = 0;
    // The worker has marked its end; let it return before the results are read.
    WaitForWorker(INFINITE);
    DrainFailLines();
    if (m_bDiskCopy && !m_job.m_bSuccess)
        m_bFailed = 1;
    m_btnCancel.ShowWindow(SW_HIDE);
    m_btnClose.ShowWindow(SW_SHOW);
    m_btnClose.SetFocus();
    Invalidate(FALSE);
    OnOperationFinished();
}

void CPropressDlg::OnOperationFinished()
{
    const int n = m_listFail.GetCount();
    if (n == 0 && !m_bFailed)
        SetBar(m_barTotal, 100);
    SetBar(m_barFile, 100);
    CString strDone = FilesText(m_engine.m_nDoneFiles.load());
    CString strTitle, strMessage;
    if (m_bDiskCopy) {
        strTitle = m_strTitle;
        strMessage = m_bFailed ? m_strDiskCopyFailed : m_strDiskCopyDone;
    } else if (n > 0) {
        SetValue(2, strDone);
        strMessage.Format(L"%d%ls", n, (const wchar_t*)(m_bBackUp ? m_strBackupFailed : m_strRestoreFailed));
        strTitle = m_bBackUp ? m_strBackupTitle : m_strRestoreTitle;
    } else {
        SetValue(2, strDone);
        strTitle = m_bBackUp ? m_strBackupTitle : m_strRestoreTitle;
        strMessage = m_bBackUp ? m_strBackupDone : m_strRestoreDone;
    }
    if (n > 0)
        m_listFail.ShowWindow(SW_SHOW);
    ShowPrompt(strTitle, strMessage, true);
    m_engine.m_arrFiles.RemoveAll();
    if (m_bDiskCopy && m_bFailed) {
        // A failed copy runs no finishing action: the slot goes back as after a cancel.
        if (m_pPanel) {
            m_pPanel->m_bBackupRunning = 0;
            m_pPanel->m_bRestoreRunning = 0;
        }
        m_nEnd = END_CANCELLED;
        GiveBackSlot();
        if (m_pPanel)
            m_pPanel->OnOperationCancelled();
        MarkMainWindowBusy(false);
        return;
    }
    if (n == 0)
        OnBnClickedClose();
}

void CPropressDlg::OnBnClickedClose()
{
    if (m_bRunning || IsWorkerAlive())
        return;
    RefreshTrees();
    if (m_pPanel)
        m_pPanel->m_bBackupRunning = 0;
    m_nEnd = (!m_bDiskCopy && !m_bBackUp) ? END_RESTORE : (m_bFromQuickPage ? END_QUICK : END_BACKUP);
    GiveBackSlot();
    if (m_pPanel) {
        if (m_nEnd == END_RESTORE)
            m_pPanel->OnRestoreFinished();
        else if (m_nEnd == END_QUICK)
            m_pPanel->OnQuickBackupFinished();
        else
            m_pPanel->OnBackupFinished();
    }
    MarkMainWindowBusy(false);
}

// ---------------------------------------------------------------------------------------
// Cancel and guards

void CPropressDlg::OnBnClickedCancel()
{
    if (!m_bRunning || m_bPromptOpen)
        return;
    m_bPromptOpen = 1;
    HANDLE hPause = m_bDiskCopy ? g_hDiskCopyPauseEvent : m_engine.m_hPauseEvent;
    if (hPause)
        ResetEvent(hPause);
    const CString& strQuestion = m_bDiskCopy ? m_strCancelDiskCopy : (m_bBackUp ? m_strPromptCancel : m_strCancelRestore);
    const unsigned nRun = m_nRunId;
    const bool bStop = m_bFinished || m_bTargetRemoved || ShowPrompt(m_strPromptTitle, strQuestion, false);
    // While the question was up the run may have been stopped another way (its target went
    // away), and another may have started since: the answer then belongs to no run.
    if (nRun != m_nRunId || !m_bRunning)
        return;
    if (!bStop) {
        if (hPause)
            SetEvent(hPause);
        m_bPromptOpen = 0;
        return;
    }
    StopOperation();
}

void CPropressDlg::StopOperation()
{
    m_bPromptOpen = 1;
    KillTimer(kTimerId);
    m_bRunning = 0;
    // The stop word goes first: once the pause is released the worker must already see it,
    // so nothing more is written after the user confirmed.
    if (m_bDiskCopy)
        m_job.m_bStop = 1;
    else
        m_engine.m_bCancel = 1;
    MemoryBarrier();
    HANDLE hPause = m_bDiskCopy ? g_hDiskCopyPauseEvent : m_engine.m_hPauseEvent;
    if (hPause)
        SetEvent(hPause);
    if (m_pPanel) {
        m_pPanel->m_bBackupRunning = 0;
        m_pPanel->m_bRestoreRunning = 0;
    }
    RefreshTrees();
    ShowWindow(SW_HIDE);
    m_nEnd = m_bFromQuickPage ? END_QUICK_CANCELLED : END_CANCELLED;
    GiveBackSlot();
    if (m_pPanel) {
        if (m_bFromQuickPage)
            m_pPanel->OnQuickBackupCancelled();
        else
            m_pPanel->OnOperationCancelled();
    }
    MarkMainWindowBusy(false);
}

void CPropressDlg::OnTargetDiskRemoved(const CString& strDrive)
{
    if (!m_bRunning || m_bDiskCopy || m_engine.m_bCancel || !IsSameDriveLetter(strDrive, m_strTargetPath))
        return;
    KillTimer(kTimerId);
    m_engine.m_bCancel = 1;
    m_bPromptOpen = 1;
    ShowPrompt(m_strPromptTitle, m_strRemoveDisk, false);
    m_bTargetRemoved = 1;
    StopOperation();
}

void CPropressDlg::GiveBackSlot()
{
    if (m_pPanel && m_nSlot >= 0)
        m_pPanel->RestoreSlot(m_nSlot);
    else if (m_hWnd)
        ShowWindow(SW_HIDE);
}

namespace {

CInitTreeCtrl* TreeOf(HWND hWnd)
{
    return hWnd && ::IsWindow(hWnd) ? dynamic_cast<CInitTreeCtrl*>(CWnd::FromHandlePermanent(hWnd)) : nullptr;
}

// Replaces the node of a drive root by a fresh one at the same place: the shell's current
// display name and small icon, the old item data and check image, and a placeholder child so
// that it is listed again when expanded. Nothing happens when the tree does not show the root.
void RebuildDriveNode(CInitTreeCtrl* pTree, const CString& strRoot)
{
    if (!pTree || strRoot.GetLength() < 2 || strRoot[1] != L':')
        return;
    CString strDrive = CInitTreeCtrl::WithBackslash(strRoot.Left(2));
    HTREEITEM hOld = pTree->FindListedItem(strDrive);
    if (!hOld)
        return;
    HTREEITEM hParent = pTree->GetParentItem(hOld);
    HTREEITEM hPrev = pTree->GetPrevSiblingItem(hOld);
    DWORD_PTR dwData = pTree->GetItemData(hOld);
    int nCheck = pTree->GetCheck(hOld);
    pTree->DeleteTreeItem(hOld);
    CString strText = strDrive.Left(2);
    int nIcon = 0;
    SHFILEINFOW sfi = {};
    if (ShellIo().FileInfo(strDrive, 0, &sfi, SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
        if (sfi.szDisplayName[0])
            strText = sfi.szDisplayName;
        nIcon = sfi.iIcon;
    }
    HTREEITEM hNew = pTree->InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE, strText,
                                       nIcon, nIcon, INDEXTOSTATEIMAGEMASK(nCheck), TVIS_STATEIMAGEMASK,
                                       (LPARAM)dwData, hParent ? hParent : TVI_ROOT, hPrev ? hPrev : TVI_FIRST);
    if (hNew)
        pTree->InsertTempChildItem(hNew);
}

}  // namespace

void CPropressDlg::RefreshTrees()
{
    // The trees that show the touched drives are brought up to date: the target in both
    // file-management trees, and every drive this or an earlier run touched in those and in the
    // backup tree, whose check images come from the selection again.
    CInitTreeCtrl* pManage1 = TreeOf(g_hManageTreeWnd);
    CInitTreeCtrl* pManage2 = TreeOf(g_hManageTree2Wnd);
    CInitTreeCtrl* pSource = TreeOf(g_hSourceTreeWnd);
    const bool bFileBackup = !m_bDiskCopy && m_bBackUp;
    CString strTargetRoot;
    if (m_strTargetPath.GetLength() >= 2 && m_strTargetPath[1] == L':')
        strTargetRoot = m_strTargetPath.Left(2) + L"\\";
    if (!strTargetRoot.IsEmpty()) {
        RebuildDriveNode(pManage1, strTargetRoot);
        RebuildDriveNode(pManage2, strTargetRoot);
        if (bFileBackup)
            m_engine.m_arrDriveRoots.Add(strTargetRoot);
    }
    for (INT_PTR i = 0; i < m_engine.m_arrDriveRoots.GetSize(); ++i) {
        const CString strRoot = m_engine.m_arrDriveRoots[i];
        RebuildDriveNode(pManage1, strRoot);
        RebuildDriveNode(pManage2, strRoot);
        RebuildDriveNode(pSource, strRoot);
    }
    if (CBackUpTreeCtrl* pBackUp = dynamic_cast<CBackUpTreeCtrl*>(pSource))
        pBackUp->ReloadCheckImages();
    if (bFileBackup && !strTargetRoot.IsEmpty()) {
        if (CUsbTreeCtrl* pDest = dynamic_cast<CUsbTreeCtrl*>(TreeOf(g_hDestTreeWnd))) {
            pDest->ShowDriveRoot(strTargetRoot.Left(2));
            if (HTREEITEM hRoot = pDest->GetDriveRootItem())
                pDest->Expand(hRoot, TVE_EXPAND);
        }
    }
}
