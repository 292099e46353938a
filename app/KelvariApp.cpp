#include "KelvariApp.h"

#include "ButtonWatch.h"
#include "KelvariDlg.h"
#include "SingleInstance.h"
#include "StartupData.h"

#include <ole2.h>

BOOL CKelvariApp::InitInstance()
{
    // Probing an empty removable drive must not raise the system's "no disk" box.
    ::SetErrorMode(SEM_FAILCRITICALERRORS);

    CSingleInstance instance;
    if (!instance.Acquire()) {
        ActivateRunningInstance(5000);
        return FALSE;
    }

    INITCOMMONCONTROLSEX icc = {8, 0xFF};
    ::InitCommonControlsEx(&icc);
    if (FAILED(::OleInitialize(nullptr)))
        return FALSE;

    CString strError;
    bool bGoOn = PrepareProgramFolders(strError);
    if (!strError.IsEmpty())
        ::MessageBoxW(nullptr, strError, L"KVR ZUL", MB_OK | MB_ICONERROR);
    if (bGoOn) {
        CKelvariDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
        // No watcher thread outlives the device records it reads.
        StopButtonWatchAndClose();
    }
    ::OleUninitialize();
    return FALSE;
}
