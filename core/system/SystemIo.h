#pragma once
// The one place where the program asks the system to power off or restart the machine,
// and asks who is logged on, and where the copy engine makes the file-system calls whose
// faults a test cannot bring about on a real disk (a flush or a block write that fails, a
// listing that meets a placeholder, a writer thread that cannot start, random names that
// clash). The program always takes the real path; tests install a double that records the
// request (under Wine a real shutdown ends the whole session) or fails on demand.

#include <windows.h>
#include <ntsecapi.h>
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

    // --- The copy engine's file-system calls ---
    // The copy of a source with further data streams (same contract as CopyFileExW).
    virtual BOOL CopyWithStreams(LPCWSTR pszSource, LPCWSTR pszTarget, LPPROGRESS_ROUTINE pfnProgress,
                                 LPVOID pData, LPBOOL pbCancel, DWORD dwFlags)
    {
        return ::CopyFileExW(pszSource, pszTarget, pfnProgress, pData, pbCancel, dwFlags);
    }
    // Puts a finished copy's data on the disk (same contract as FlushFileBuffers).
    virtual BOOL FlushFile(HANDLE hFile) { return ::FlushFileBuffers(hFile); }
    // The folder listing of the engine's walks (same contracts as FindFirstFileW, FindNextFileW).
    virtual HANDLE FindFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData) { return ::FindFirstFileW(pszPattern, pData); }
    virtual BOOL FindNext(HANDLE hFind, LPWIN32_FIND_DATAW pData) { return ::FindNextFileW(hFind, pData); }
    // A write of copied bytes to a target, plain or compressed (same contract as WriteFile).
    virtual BOOL WriteBlock(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes, LPDWORD pnWritten,
                            LPOVERLAPPED pOverlapped)
    {
        return ::WriteFile(hFile, pBuffer, nBytes, pnWritten, pOverlapped);
    }
    // The writer thread of a compressed backup (same contract as CreateThread).
    virtual HANDLE StartThread(LPSECURITY_ATTRIBUTES pAttributes, SIZE_T nStack, LPTHREAD_START_ROUTINE pfnStart,
                               LPVOID pParam, DWORD dwFlags, LPDWORD pdwThreadId)
    {
        return ::CreateThread(pAttributes, nStack, pfnStart, pParam, dwFlags, pdwThreadId);
    }
    // Random bytes for the names of temporary copies (same contract as RtlGenRandom).
    virtual BOOLEAN RandomBytes(PVOID pBuffer, ULONG nBytes) { return ::RtlGenRandom(pBuffer, nBytes); }
};

// The system in use: the real one unless a test has installed another.
ISystemIo& SystemIo();

// Installs a replacement (nullptr restores the system's) and answers the one it replaces.
// Only tests call this.
ISystemIo* SetSystemIoForTesting(ISystemIo* pSystemIo);

// For tests: installs a double for the life of the object and puts back the one it replaced,
// also when the test fails on the way.
class CScopedSystemIo {
public:
    explicit CScopedSystemIo(ISystemIo& io) : m_pPrevious(SetSystemIoForTesting(&io)) {}
    ~CScopedSystemIo() { SetSystemIoForTesting(m_pPrevious); }
    CScopedSystemIo(const CScopedSystemIo&) = delete;
    CScopedSystemIo& operator=(const CScopedSystemIo&) = delete;

private:
    ISystemIo* m_pPrevious;
};

// For tests: a double over the system in use when it is made (the real one, or the double of
// an enclosing scope): every call it does not override goes there, so doubles of two scopes
// that fake different calls both hold.
class CSystemIoOver : public ISystemIo {
public:
    CSystemIoOver() : m_below(SystemIo()) {}
    BOOL ShutDown(UINT uFlags, DWORD dwReason) override { return m_below.ShutDown(uFlags, dwReason); }
    BOOL QuerySessionUserName(CString& strUser) override { return m_below.QuerySessionUserName(strUser); }
    void GetLocalTime(SYSTEMTIME* pst) override { m_below.GetLocalTime(pst); }
    BOOL CopyWithStreams(LPCWSTR pszSource, LPCWSTR pszTarget, LPPROGRESS_ROUTINE pfnProgress, LPVOID pData,
                         LPBOOL pbCancel, DWORD dwFlags) override
    {
        return m_below.CopyWithStreams(pszSource, pszTarget, pfnProgress, pData, pbCancel, dwFlags);
    }
    BOOL FlushFile(HANDLE hFile) override { return m_below.FlushFile(hFile); }
    HANDLE FindFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData) override { return m_below.FindFirst(pszPattern, pData); }
    BOOL FindNext(HANDLE hFind, LPWIN32_FIND_DATAW pData) override { return m_below.FindNext(hFind, pData); }
    BOOL WriteBlock(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes, LPDWORD pnWritten, LPOVERLAPPED pOverlapped) override
    {
        return m_below.WriteBlock(hFile, pBuffer, nBytes, pnWritten, pOverlapped);
    }
    HANDLE StartThread(LPSECURITY_ATTRIBUTES pAttributes, SIZE_T nStack, LPTHREAD_START_ROUTINE pfnStart,
                       LPVOID pParam, DWORD dwFlags, LPDWORD pdwThreadId) override
    {
        return m_below.StartThread(pAttributes, nStack, pfnStart, pParam, dwFlags, pdwThreadId);
    }
    BOOLEAN RandomBytes(PVOID pBuffer, ULONG nBytes) override { return m_below.RandomBytes(pBuffer, nBytes); }

protected:
    ISystemIo& Below() { return m_below; }

private:
    ISystemIo& m_below;
};
