#pragma once
// The one place where the program asks the system to power off or restart the machine,
// and asks who is logged on. The program always takes the real path; tests install a
// double that records the request (under Wine a real shutdown ends the whole session).

#include <windows.h>
#include "afx.h"

class ISystemIo {
public:
    virtual ~ISystemIo() = default;
    // Enables the shutdown privilege and calls ExitWindowsEx with the given flags
    // (EWX_POWEROFF, EWX_REBOOT, possibly with EWX_FORCE...). FALSE on failure.
    virtual BOOL ShutDown(UINT uFlags, DWORD dwReason) = 0;
    // The user name of the current terminal-services session; FALSE when the query fails.
    virtual BOOL QuerySessionUserName(CString& strUser) = 0;
    // The local date and time (same contract as GetLocalTime).
    virtual void GetLocalTime(SYSTEMTIME* pst) { ::GetLocalTime(pst); }
};

// The system in use: the real one unless a test has installed another.
ISystemIo& SystemIo();

// Installs a replacement (nullptr restores the system's). Only tests call this.
void SetSystemIoForTesting(ISystemIo* pSystemIo);
