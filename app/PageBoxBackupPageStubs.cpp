// Panel calls the backup page makes; their bodies come with the panel's start handling.
#include "PageBox.h"

void CPageBox::EnableActionButtons(BOOL) {}
void CPageBox::UpdateBackupFolderHidden() {}
void CPageBox::StartScheduledBackup() {}
