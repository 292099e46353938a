// The page panel's end handlers: what follows a finished or cancelled operation.
#include "PageBox.h"

namespace {

void ClearOperationWords(CPageBox* pPanel)
{
    pPanel->m_bBackupRunning = 0;
    pPanel->m_bRestoreRunning = 0;
    pPanel->m_bQuickRunning = 0;
    pPanel->m_bStartedByKey = 0;
    pPanel->EnablePageButtons();
    pPanel->UpdateActionButtons();
}

}  // namespace

void CPageBox::OnBackupFinished()
{
    ClearOperationWords(this);
}

void CPageBox::OnQuickBackupFinished()
{
    ClearOperationWords(this);
}

void CPageBox::OnRestoreFinished()
{
    ClearOperationWords(this);
}

void CPageBox::OnOperationCancelled()
{
    ClearOperationWords(this);
}

void CPageBox::OnQuickBackupCancelled()
{
    ClearOperationWords(this);
}
