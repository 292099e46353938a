// The launcher started for real: it starts "KVR ZUL.exe" from its own folder, whatever the
// current folder, and starts nothing when its own path does not fit its buffer.

#include "LangTestFolder.h"

#include <gtest/gtest.h>

using langtest::FileExists;
using langtest::TempFolder;

namespace {

CString BinFolder()
{
    wchar_t buf[4096] = {};
    ::GetModuleFileNameW(nullptr, buf, 4096);
    CString s(buf);
    return s.Left(s.ReverseFind(L'\\') + 1);
}

// Copies the launcher and the marker (as "KVR ZUL.exe") into a folder.
bool Install(const CString& strFolder)
{
    return ::CopyFileW(BinFolder() + L"ZULTray.exe", strFolder + L"\\ZULTray.exe", FALSE) &&
           ::CopyFileW(BinFolder() + L"zul_marker.exe", strFolder + L"\\KVR ZUL.exe", FALSE);
}

// Runs the launcher from another current folder; its exit code, or -1.
int RunLauncher(const CString& strFolder, const CString& strCurrent)
{
    CString strExe = strFolder + L"\\ZULTray.exe";
    CString strLine = L"\"" + strExe + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    wchar_t* buf = strLine.GetBuffer(strLine.GetLength() + 1);
    BOOL ok = ::CreateProcessW(strExe, buf, nullptr, nullptr, FALSE, 0, nullptr, strCurrent, &si, &pi);
    strLine.ReleaseBuffer();
    if (!ok)
        return -1;
    ::CloseHandle(pi.hThread);
    int code = -1;
    if (::WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) {
        DWORD c = 0;
        ::GetExitCodeProcess(pi.hProcess, &c);
        code = (int)c;
    }
    ::CloseHandle(pi.hProcess);
    return code;
}

bool WaitForFile(const CString& strPath, DWORD ms)
{
    DWORD end = ::GetTickCount() + ms;
    while (!FileExists(strPath)) {
        if ((int)(end - ::GetTickCount()) <= 0)
            return false;
        ::Sleep(50);
    }
    return true;
}

}  // namespace

TEST(Launcher, StartsTheMainProgramFromItsOwnFolder)
{
    TempFolder home(L"tray");
    TempFolder elsewhere(L"cwd");
    ASSERT_TRUE(Install(home.Path()));
    EXPECT_EQ(0, RunLauncher(home.Path(), elsewhere.Path()));
    ASSERT_TRUE(WaitForFile(home / L"started.txt", 15000));
    EXPECT_FALSE(FileExists(elsewhere / L"started.txt"));
    std::string written = langtest::ReadBytes(home / L"started.txt");
    std::wstring path(reinterpret_cast<const wchar_t*>(written.data()), written.size() / sizeof(wchar_t));
    EXPECT_EQ(0, CString(path.c_str()).CompareNoCase(home / L"KVR ZUL.exe"));
}

TEST(Launcher, StartsNothingWhenItsPathDoesNotFit)
{
    TempFolder home(L"traylong");
    // A folder whose launcher path is longer than 127 characters.
    CString strDeep = home.Path();
    while (strDeep.GetLength() < 130) {
        strDeep += L"\\deeper_folder";
        ASSERT_TRUE(::CreateDirectoryW(strDeep, nullptr));
    }
    ASSERT_TRUE(Install(strDeep));
    EXPECT_EQ(0, RunLauncher(strDeep, home.Path()));
    ::Sleep(2000);
    EXPECT_FALSE(FileExists(strDeep + L"\\started.txt"));

}
