#include "PanelPages.h"

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

}  // namespace

void InstallPanelPages()
{
    RegisterPanelPage(CPageBox::PAGE_SETTINGS, [] { return std::make_unique<CSettingsPanelPage>(); });
}
