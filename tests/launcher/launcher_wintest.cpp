// The launcher started for real: it starts "KVR ZUL.exe" from its own folder, whatever the
// current folder, without arguments, and starts nothing when its own path does not fit its
// buffer.

#include "LangTestFolder.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

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

// What the marker wrote: its own path and the command line it was started with.
struct MarkerRecord {
    CString strPath;
    CString strCommandLine;
};

MarkerRecord ReadMarkerRecord(const CString& strFile)
{
    std::string bytes = langtest::ReadBytes(strFile);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    MarkerRecord r;
    size_t nBreak = text.find(L'\n');
    r.strPath = text.substr(0, nBreak).c_str();
    if (nBreak != std::wstring::npos)
        r.strCommandLine = text.substr(nBreak + 1).c_str();
    return r;
}

// The command line split as a started program splits it.
std::vector<CString> Arguments(const CString& strCommandLine)
{
    std::vector<CString> args;
    int n = 0;
    LPWSTR* argv = ::CommandLineToArgvW(strCommandLine, &n);
    for (int i = 0; argv && i < n; ++i)
        args.push_back(argv[i]);
    ::LocalFree(argv);
    return args;
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
    MarkerRecord started = ReadMarkerRecord(home / L"started.txt");
    EXPECT_EQ(0, started.strPath.CompareNoCase(home / L"KVR ZUL.exe")) << CStringA(started.strPath).GetString();
    // The program named and nothing after it: the launcher passes no arguments on.
    std::vector<CString> args = Arguments(started.strCommandLine);
    ASSERT_EQ(1u, args.size()) << CStringA(started.strCommandLine).GetString();
    EXPECT_EQ(0, args[0].CompareNoCase(started.strPath)) << CStringA(started.strCommandLine).GetString();
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
