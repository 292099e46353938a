#pragma once
// The start-up splash on a thread of its own: the dialog runs its own modal loop there
// while the main window loads. The thread is always joined before the dialog object goes.

#include "AboutDlg.h"

#include <memory>

// Runs the splash dialog modally on the calling thread (the splash thread's body).
unsigned __stdcall SplashThreadProc(void* pSplashDlg);

class CSplash {
public:
    CSplash() = default;
    ~CSplash() { Close(); }
    CSplash(const CSplash&) = delete;
    CSplash& operator=(const CSplash&) = delete;

    // Creates the splash dialog and starts its thread; false when the thread cannot start.
    bool Start();
    // Asks the splash to close at its next timer tick (the main window's first paint).
    void RequestClose();
    // Asks it to close, waits for its thread and frees the dialog.
    void Close();
    bool IsRunning() const;
    CAboutDlg* Dialog() const { return m_pDlg.get(); }

private:
    std::unique_ptr<CAboutDlg> m_pDlg;
    HANDLE m_hThread = nullptr;
};
