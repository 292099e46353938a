#include "Splash.h"

#include <process.h>

unsigned __stdcall SplashThreadProc(void* pSplashDlg)
{
    auto* dlg = static_cast<CAboutDlg*>(pSplashDlg);
    dlg->DoModal();
    return 0;
}

bool CSplash::Start()
{
    if (m_hThread)
        return true;
    m_pDlg = std::make_unique<CAboutDlg>(nullptr, CAboutDlg::MODE_SPLASH);
    m_hThread = (HANDLE)_beginthreadex(nullptr, 0, SplashThreadProc, m_pDlg.get(), 0, nullptr);
    if (!m_hThread) {
        m_pDlg.reset();
        return false;
    }
    return true;
}

void CSplash::RequestClose()
{
    if (m_pDlg)
        m_pDlg->m_bCloseRequest = 1;
}

bool CSplash::IsRunning() const
{
    return m_hThread && ::WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT;
}

void CSplash::Close()
{
    RequestClose();
    if (m_hThread) {
        // The splash ends at its next 30 ms tick; its object must outlive its thread.
        ::WaitForSingleObject(m_hThread, INFINITE);
        ::CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    m_pDlg.reset();
}
