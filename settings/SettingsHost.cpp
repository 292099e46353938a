#include "SettingsHost.h"

namespace {
ISettingsHost* g_pSettingsHost = nullptr;
}

void SetSettingsHost(ISettingsHost* pHost) { g_pSettingsHost = pHost; }

ISettingsHost* GetSettingsHost() { return g_pSettingsHost; }

CWnd* GetSettingsOwnerWindow()
{
    if (g_pSettingsHost) {
        if (CWnd* p = g_pSettingsHost->GetMainWindow())
            return p;
    }
    return AfxGetMainWnd();
}
