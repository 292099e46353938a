// The page panel's end handlers: what follows a finished or cancelled operation. The progress
// dialog has already given its slot back when they run; each one leaves the panel idle with
// its page buttons enabled and, after a completed backup or disk copy, carries out the
// finishing action of the settings.
#include "PageBox.h"

#include "DataFiles.h"
#include "SystemIo.h"
#include "XmlDocument.h"

namespace {

// "BackupFinish": what follows a completed backup.
enum FinishAction { FINISH_NONE, FINISH_STAY, FINISH_QUICK_PAGE, FINISH_POWER_OFF, FINISH_RESTART };

FinishAction ParseFinishAction(const CString& s)
{
    if (s == L"0")
        return FINISH_STAY;
    if (s == L"1")
        return FINISH_QUICK_PAGE;
    if (s == L"2")
        return FINISH_POWER_OFF;
    if (s == L"3")
        return FINISH_RESTART;
    return FINISH_NONE;
}

void BackToAppFolder()
{
    if (!g_strAppDir.IsEmpty())
        ::SetCurrentDirectoryW(g_strAppDir);
}

void FocusIfShown(CWnd& w)
{
    if (w.m_hWnd && w.IsWindowVisible() && w.IsWindowEnabled())
        w.SetFocus();
}

}  // namespace

CString CPageBox::ReadBackupFinish()
{
    CXmlDocument doc;
    if (!doc.LoadFile(JoinPath(GetDataFolder(), kSettingsFile)))
        return CString();
    return GetSettingText(doc, L"BackupFinish");
}

void CPageBox::OnBackupFinished()
{
    UpdateBackupFolderHidden();
    EnablePageButtons();
    m_bBackupRunning = 0;
    RestoreSlot(PAGE_BACKUP);
    FinishAction action = ParseFinishAction(ReadBackupFinish());
    switch (action) {
    case FINISH_STAY:
    case FINISH_POWER_OFF:
    case FINISH_RESTART:
        if (m_nCurPage == PAGE_BACKUP)
            OnBnClickedBackupPage();
        else
            UpdateActionButtons();
        break;
    case FINISH_QUICK_PAGE:
        OnBnClickedQuickPage();
        break;
    default:
        UpdateActionButtons();
        break;
    }
    if (action == FINISH_POWER_OFF)
        SystemIo().ShutDown(EWX_POWEROFF, 4);
    else if (action == FINISH_RESTART)
        SystemIo().ShutDown(EWX_REBOOT, 4);
    BackToAppFolder();
    FocusIfShown(m_btnStart);
}

void CPageBox::OnQuickBackupFinished()
{
    UpdateBackupFolderHidden();
    EnablePageButtons();
    m_bQuickRunning = 0;
    m_bBackupRunning = 0;
    RestoreSlot(PAGE_QUICK);
    if (m_nCurPage == PAGE_QUICK)
        OnBnClickedQuickPage();
    else
        UpdateActionButtons();
    switch (ParseFinishAction(ReadBackupFinish())) {
    case FINISH_QUICK_PAGE:
        OnBnClickedQuickPage();
        break;
    case FINISH_POWER_OFF:
        SystemIo().ShutDown(EWX_POWEROFF, 0);
        break;
    case FINISH_RESTART:
        SystemIo().ShutDown(EWX_REBOOT, 0);
        break;
    default:
        break;
    }
    FocusIfShown(m_dlgQuick.m_btnQuick);
    BackToAppFolder();
}

void CPageBox::OnOperationCancelled()
{
    UpdateBackupFolderHidden();
    EnablePageButtons();
    RestoreSlot(PAGE_BACKUP);
    if (m_nCurPage == PAGE_BACKUP)
        OnBnClickedBackupPage();
    else
        UpdateActionButtons();
    BackToAppFolder();
    if (m_nLastAction == 1)
        FocusIfShown(m_btnStart);
    else if (m_nLastAction == 3)
        FocusIfShown(m_btnRestore);
    m_bBackupRunning = 0;
    m_bRestoreRunning = 0;
    if (m_hWnd)
        Invalidate(FALSE);
}

void CPageBox::OnRestoreFinished()
{
    EnablePageButtons();
    m_bRestoreRunning = 0;
    RestoreSlot(PAGE_BACKUP);
    if (m_nCurPage == PAGE_BACKUP)
        OnBnClickedBackupPage();
    else
        UpdateActionButtons();
    FocusIfShown(m_btnRestore);
    BackToAppFolder();
}

void CPageBox::OnQuickBackupCancelled()
{
    EnablePageButtons();
    m_bQuickRunning = 0;
    RestoreSlot(PAGE_QUICK);
    if (m_nCurPage == PAGE_QUICK)
        OnBnClickedQuickPage();
    else
        UpdateActionButtons();
    BackToAppFolder();
    FocusIfShown(m_dlgQuick.m_btnQuick);
    m_bBackupRunning = 0;
    UpdateBackupFolderHidden();
    if (m_hWnd)
        Invalidate(FALSE);
}
