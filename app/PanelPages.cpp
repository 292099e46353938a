#include "PanelPages.h"

#include "BackUpDialog.h"
#include "MangeDialog.h"
#include "PageBox.h"
#include "SetDialog.h"

namespace {

// The settings page in the panel's last slot.
class CSettingsPanelPage : public IPanelPage {
public:
    ~CSettingsPanelPage() override { m_dlg.DestroyWindow(); }
    BOOL CreatePage(CPageBox* pPanel, const CRect& rcPage) override
    {
        return m_dlg.CreatePage(pPanel, rcPage.left, rcPage.top);
    }
    CWnd* PageWnd() override { return &m_dlg; }
    void ReloadLanguageText() override { m_dlg.ReloadLanguageText(); }

private:
    CSetDialog m_dlg;
};

// The backup page in the panel's second slot.
class CBackUpPanelPage : public IPanelPage {
public:
    ~CBackUpPanelPage() override { m_dlg.DestroyWindow(); }
    BOOL CreatePage(CPageBox* pPanel, const CRect& rcPage) override { return m_dlg.CreatePage(pPanel, rcPage); }
    CWnd* PageWnd() override { return &m_dlg; }
    void ReloadLanguageText() override { m_dlg.ReloadLanguageText(); }
    void CheckDestination() override { m_dlg.CheckDestination(); }

private:
    CBackUpDialog m_dlg;
};

// The file-management page in the panel's third slot.
class CManagePanelPage : public IPanelPage {
public:
    ~CManagePanelPage() override { m_dlg.DestroyWindow(); }
    BOOL CreatePage(CPageBox* pPanel, const CRect& rcPage) override
    {
        return m_dlg.CreatePage(pPanel, rcPage);
    }
    CWnd* PageWnd() override { return m_dlg.PageWnd(); }
    void RefreshDriveTree() override { m_dlg.RefreshDriveTree(); }
    void OnMainWindowClosing() override { m_dlg.OnMainWindowClosing(); }

private:
    CMangeDialog m_dlg;
};

}  // namespace

void InstallPanelPages()
{
    RegisterPanelPage(CPageBox::PAGE_BACKUP, [] { return std::make_unique<CBackUpPanelPage>(); });
    RegisterPanelPage(CPageBox::PAGE_MANAGE, [] { return std::make_unique<CManagePanelPage>(); });
    RegisterPanelPage(CPageBox::PAGE_SETTINGS, [] { return std::make_unique<CSettingsPanelPage>(); });
}
