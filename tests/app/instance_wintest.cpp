// One main program per session, with two processes: a stand-in program built from the same
// start-up check (tests/app/helpers) is started beside this test.

#include "SingleInstance.h"
#include "StartupData.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Process {
    HANDLE h = nullptr;
    ~Process()
    {
        if (h) {
            if (::WaitForSingleObject(h, 0) == WAIT_TIMEOUT)
                ::TerminateProcess(h, 99);
            ::CloseHandle(h);
        }
    }
    // The exit code, or -1 when the process did not end within ms.
    int Wait(DWORD ms)
    {
        if (::WaitForSingleObject(h, ms) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(h, &code);
        return (int)code;
    }
};

// This test program's own mark and mutex for its stand-ins.
const CString& Tag()
{
    static CString s_tag = [] {
        CString s;
        s.Format(L"%lu", ::GetCurrentProcessId());
        return s;
    }();
    return s_tag;
}

CString Property() { return L"KvrZul.Test." + Tag(); }

HWND FindStandIn() { return FindMainWindow(Property()); }

bool Start(Process& p, const wchar_t* pszArgs)
{
    CString strModule;
    if (!GetModulePath(nullptr, strModule))
        return false;
    CString strExe = FolderOfPath(strModule) + L"zul_instance_helper.exe";
    CString strLine = L"\"" + strExe + L"\" -tag " + Tag() + L" " + pszArgs;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    wchar_t* buf = strLine.GetBuffer(strLine.GetLength() + 1);
    BOOL ok = ::CreateProcessW(strExe, buf, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    strLine.ReleaseBuffer();
    if (!ok)
        return false;
    ::CloseHandle(pi.hThread);
    p.h = pi.hProcess;
    return true;
}

BOOL CALLBACK CountMarked(HWND h, LPARAM l)
{
    if (::GetPropW(h, Property()))
        ++*(int*)l;
    return TRUE;
}

int CountMainWindows()
{
    int n = 0;
    ::EnumWindows(CountMarked, (LPARAM)&n);
    return n;
}

HWND WaitForMainWindow(DWORD ms)
{
    DWORD end = ::GetTickCount() + ms;
    for (;;) {
        if (HWND h = FindStandIn())
            return h;
        if ((int)(end - ::GetTickCount()) <= 0)
            return nullptr;
        ::Sleep(20);
    }
}

void CloseMain(Process& p)
{
    if (HWND h = FindStandIn())
        ::PostMessageW(h, WM_APP, 0, 0);
    EXPECT_EQ(0, p.Wait(10000));
}

}  // namespace

TEST(SingleInstance, ForeignWindowsTitledLikeTheProgramDoNotStopIt)
{
    // An Explorer-like window and a dialog (the splash, the About box) with the same title.
    HWND hPlain = ::CreateWindowExW(0, L"STATIC", L"KVR ZUL", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                    nullptr, nullptr);
    HWND hDialog = ::CreateWindowExW(0, L"#32770", L"KVR ZUL", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                     nullptr, nullptr, nullptr);
    ASSERT_TRUE(hPlain && hDialog);
    EXPECT_EQ(nullptr, FindStandIn());

    Process first;
    ASSERT_TRUE(Start(first, L""));
    HWND hMain = WaitForMainWindow(15000);
    ASSERT_NE(nullptr, hMain);
    EXPECT_NE(hDialog, hMain);
    EXPECT_EQ(1, CountMainWindows());
    CloseMain(first);
    ::DestroyWindow(hPlain);
    ::DestroyWindow(hDialog);
}

TEST(SingleInstance, SecondStartShowsTheFirstAndEnds)
{
    Process first;
    ASSERT_TRUE(Start(first, L"-hidden"));
    HWND hMain = WaitForMainWindow(15000);
    ASSERT_NE(nullptr, hMain);
    EXPECT_FALSE(::IsWindowVisible(hMain));

    Process second;
    ASSERT_TRUE(Start(second, L"-hidden"));
    EXPECT_EQ(3, second.Wait(15000));
    EXPECT_TRUE(::IsWindowVisible(hMain));
    EXPECT_EQ(1, CountMainWindows());
    EXPECT_EQ(-1, first.Wait(0));  // the first one runs on
    CloseMain(first);
}

TEST(SingleInstance, TwoStartsCloseTogetherGiveOneMainWindow)
{
    // The first start takes its time to make its window, as the real one does while loading.
    // Started 50 ms apart, either may take the mutex first on a loaded machine: the one that
    // ends with 3 is the later start, and the other is the one whose window stays.
    Process a, b;
    ASSERT_TRUE(Start(a, L"-delay 800"));
    ::Sleep(50);
    ASSERT_TRUE(Start(b, L"-delay 800"));
    HANDLE both[2] = {a.h, b.h};
    DWORD first = ::WaitForMultipleObjects(2, both, FALSE, 15000);
    ASSERT_TRUE(first == WAIT_OBJECT_0 || first == WAIT_OBJECT_0 + 1) << "neither start ended";
    Process& later = first == WAIT_OBJECT_0 ? a : b;
    Process& running = first == WAIT_OBJECT_0 ? b : a;
    EXPECT_EQ(3, later.Wait(0));
    ASSERT_NE(nullptr, WaitForMainWindow(15000));
    EXPECT_EQ(1, CountMainWindows());
    EXPECT_EQ(-1, running.Wait(0));
    CloseMain(running);
    EXPECT_EQ(0, CountMainWindows());
}
