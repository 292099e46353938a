#include "SystemIo.h"

#include "afxhandle.h"

#include <wtsapi32.h>
#include <atomic>

namespace {

class CRealSystemIo final : public ISystemIo {
public:
    BOOL ShutDown(UINT uFlags, DWORD dwReason) override
    {
        HANDLE hRaw = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hRaw)) {
            CKernelHandle token(hRaw);
            TOKEN_PRIVILEGES tp = {};
            if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid)) {
                tp.PrivilegeCount = 1;
                tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
                AdjustTokenPrivileges(token.Get(), FALSE, &tp, 0, nullptr, nullptr);
            }
        }
        return ::ExitWindowsEx(uFlags, dwReason);
    }

    BOOL QuerySessionUserName(CString& strUser) override
    {
        LPWSTR pszName = nullptr;
        DWORD nBytes = 0;
        if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION,
                                         WTSUserName, &pszName, &nBytes) || !pszName)
            return FALSE;
        strUser = pszName;
        WTSFreeMemory(pszName);
        return TRUE;
    }
};

CRealSystemIo g_realSystemIo;
std::atomic<ISystemIo*> g_pSystemIo{nullptr};

} // namespace

ISystemIo& SystemIo()
{
    ISystemIo* p = g_pSystemIo.load();
    return p ? *p : g_realSystemIo;
}

ISystemIo* SetSystemIoForTesting(ISystemIo* pSystemIo) { return g_pSystemIo.exchange(pSystemIo); }
