#pragma once
// One running main program per session. The first start holds a named per-session mutex for
// its whole life; a later start finds the running main window (by its title, its dialog class
// and a property only the main window sets), shows it and ends. The window is looked for a few
// seconds, because the first start may still be loading.

#include "afxwin.h"

extern const wchar_t kMainWindowTitle[];      // "KVR ZUL"
extern const wchar_t kMainWindowProperty[];   // set on the main window only
extern const wchar_t kSingleInstanceMutex[];  // per session

class CSingleInstance {
public:
    CSingleInstance() = default;
    ~CSingleInstance() { Release(); }
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // true for the first start (the mutex is now held); false when another start holds it.
    bool Acquire(const wchar_t* pszName = kSingleInstanceMutex);
    void Release();

private:
    HANDLE m_hMutex = nullptr;
};

// Marks a window as the program's main window (and unmarks it when it goes).
void MarkMainWindow(HWND hWnd);
void UnmarkMainWindow(HWND hWnd);
// The marked main window of this session, or null.
HWND FindMainWindow();
// Looks for the running main window for up to nWaitMs, then shows and raises it. true when it
// was found.
bool ActivateRunningInstance(DWORD nWaitMs);
