#pragma once
// What the settings windows need from the main program above them. The main program installs
// one object at start-up (SetSettingsHost); until then, and in tests that install none, the
// settings windows fall back to doing nothing beyond storing their settings.

#include "afxwin.h"

class ISettingsHost {
public:
    virtual ~ISettingsHost() = default;

    // The window that owns the pop-ups and on which the backup hot key is registered.
    virtual CWnd* GetMainWindow() = 0;
    // The enclosure-button switch: sets the program-wide flag; on: starts the button watch
    // when disks are present; off: stops the watchers and then closes their devices.
    virtual void SetButtonWatch(bool bOn) = 0;
    // The language changed (already stored): load its string table and renew every text of
    // the main window, its tray menu and its pages, the settings pages included.
    virtual void ApplyLanguage(const CString& strLanguageId) = 0;
    // "HideBackupFiles" changed: apply it to the store folder of the selected target.
    virtual void UpdateBackupFolderHidden() = 0;
    // A settings write failed (the file is locked or damaged); the control already shows the
    // stored value again.
    virtual void ReportSettingsWriteFailure(const CString& strPath) = 0;
};

void SetSettingsHost(ISettingsHost* pHost);
ISettingsHost* GetSettingsHost();

// The owner of the settings pop-ups: the host's main window, else the application's.
CWnd* GetSettingsOwnerWindow();
