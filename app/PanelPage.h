#pragma once
// A page of the page panel: the quick-launch page, the backup page, the file-management page
// and the settings page each implement this beside their dialog class, so that the panel and
// the main window reach them without knowing their classes. Every call comes on the
// user-interface thread.

#include "afxwin.h"

#include <functional>
#include <memory>

class CPageBox;
class COtherSetDlg;

class IPanelPage {
public:
    virtual ~IPanelPage() = default;
    // Creates the page window as a child of the panel, placed in rcPage (panel coordinates),
    // hidden. FALSE when it cannot be created.
    virtual BOOL CreatePage(CPageBox* pPanel, const CRect& rcPage) = 0;
    // The page window (valid after CreatePage).
    virtual CWnd* PageWnd() = 0;

    // Texts of the page after a language change.
    virtual void ReloadLanguageText() {}
    // Backup page: re-check the destination drive list (a drive came or went).
    virtual void CheckDestination() {}
    // File-management page: the devices changed; refresh the drive trees.
    virtual void RefreshDriveTree() {}
    // The main window is about to close: release what the page lists for the shell.
    virtual void OnMainWindowClosing() {}
    // Settings page: the tab that holds the file-type choice of a file-type backup.
    virtual COtherSetDlg* GetOtherSettings() { return nullptr; }
};

// Makes the page of one slot (1 backup, 2 file management, 3 settings); slot 0 is the
// quick-launch page, which the panel makes itself.
typedef std::function<std::unique_ptr<IPanelPage>()> PanelPageFactory;

// Installs the factory of a slot; the pages that later parts of the program build register
// here before the main window is created. A slot without a factory shows an empty page.
void RegisterPanelPage(int nSlot, PanelPageFactory factory);
PanelPageFactory GetPanelPageFactory(int nSlot);
