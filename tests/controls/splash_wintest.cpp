// The splash on its own thread, the About box, and the link helpers.
#include <gtest/gtest.h>

#include "AboutDlg.h"
#include "SharedFunctions.h"
#include "Splash.h"
#include "wintest_util.h"

#include <vector>

TEST(SplashTest, RunsOnItsOwnThreadIgnoresClicksAndEndsWhenAsked)
{
    CSplash splash;
    ASSERT_TRUE(splash.Start());
    CAboutDlg* dlg = splash.Dialog();
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_hWnd && ::IsWindowVisible(dlg->m_hWnd) && dlg->m_nFrame > 3; }, 5000));
    HWND h = dlg->m_hWnd;
    EXPECT_NE(::GetWindowThreadProcessId(h, nullptr), ::GetCurrentThreadId());
    CRect rc;
    ::GetWindowRect(h, &rc);
    EXPECT_EQ(rc.Width(), CAboutDlg::kWidth);
    EXPECT_EQ(rc.Height(), CAboutDlg::kHeight);
    // The picture, stretched from (-4, -4) over the window plus 8 (a spot without text).
    COLORREF expect = ImagePixel(IDB_SPLASH_BACKGROUND, (200 + 4) * 407 / 415, (20 + 4) * 271 / 279);
    EXPECT_TRUE(Near(ScreenPixel(h, 200, 20), expect, 12)) << ColorText(ScreenPixel(h, 200, 20));
    // The running bar shows; the link does not.
    EXPECT_TRUE(::IsWindowVisible(dlg->m_progress.m_hWnd));
    EXPECT_FALSE(::IsWindowVisible(dlg->m_btnLink.m_hWnd));

    // A click does not close the splash.
    ::PostMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(100, 100));
    Pump(200);
    EXPECT_TRUE(splash.IsRunning());

    // The main window's first paint asks it to close; it ends at its next tick.
    splash.RequestClose();
    // (Wine without a window manager takes up to two seconds to take a window down.)
    EXPECT_TRUE(PumpUntil([&] { return !splash.IsRunning(); }, 6000));
    EXPECT_FALSE(::IsWindow(h));
    splash.Close();
    EXPECT_EQ(splash.Dialog(), nullptr);
}

TEST(SplashTest, ObjectGoesOnlyAfterItsThreadEnded)
{
    HWND h = nullptr;
    {
        CSplash splash;
        ASSERT_TRUE(splash.Start());
        ASSERT_TRUE(PumpUntil([&] { return splash.Dialog()->m_hWnd != nullptr; }, 5000));
        h = splash.Dialog()->m_hWnd;
    }  // the destructor asks the splash to close and waits for its thread
    EXPECT_FALSE(::IsWindow(h));
}

namespace {

CAboutDlg* g_dlg = nullptr;
std::vector<int> g_positions;
bool g_clickToClose = false;

void CALLBACK DriveDialog(HWND, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(nullptr, id);
    HWND h = g_dlg->m_hWnd;
    if (g_clickToClose) {
        ::PostMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(50, 50));
        return;
    }
    ::KillTimer(h, 1);  // drive the ticks by hand
    g_dlg->m_nFrame = 0;
    for (int i = 0; i < 130; ++i) {
        ::SendMessageW(h, WM_TIMER, 1, 0);
        g_positions.push_back(g_dlg->m_progress.m_nPos);
    }
    g_dlg->m_bCloseRequest = 1;
    ::SendMessageW(h, WM_TIMER, 1, 0);
}

void CALLBACK Safety(HWND, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(nullptr, id);
    if (g_dlg && g_dlg->m_hWnd)
        ::PostMessageW(g_dlg->m_hWnd, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

TEST(AboutDlgTest, BarRunsFrom1To125AndAgain)
{
    CAboutDlg dlg(nullptr, CAboutDlg::MODE_SPLASH);
    g_dlg = &dlg;
    g_positions.clear();
    g_clickToClose = false;
    ::SetTimer(nullptr, 0, 100, DriveDialog);
    UINT_PTR safety = ::SetTimer(nullptr, 0, 5000, Safety);
    EXPECT_EQ(dlg.DoModal(), IDOK);
    ::KillTimer(nullptr, safety);
    ASSERT_EQ(g_positions.size(), 130u);
    for (int i = 0; i < 125; ++i)
        EXPECT_EQ(g_positions[i], i + 1);
    EXPECT_EQ(g_positions[125], 1);
    EXPECT_EQ(g_positions[129], 5);
}

TEST(AboutDlgTest, ClickClosesTheAboutBox)
{
    CHostWnd owner;
    ASSERT_TRUE(owner.CreateHost(50, 50, 500, 400));
    CAboutDlg dlg(&owner, CAboutDlg::MODE_ABOUT);
    g_dlg = &dlg;
    g_clickToClose = true;
    ::SetTimer(nullptr, 0, 300, DriveDialog);
    UINT_PTR safety = ::SetTimer(nullptr, 0, 5000, Safety);
    EXPECT_EQ(dlg.DoModal(), IDOK);
    ::KillTimer(nullptr, safety);
    EXPECT_TRUE(owner.IsWindowEnabled());
}

TEST(HyperlinkTest, ErrorTextsAndTheBrowserCommand)
{
    EXPECT_EQ(HyperlinkErrorText(26), CString(L"A sharing violation occurred. "));
    EXPECT_EQ(HyperlinkErrorText(4), CString(L"Unknown Error (4) occurred."));
    EXPECT_EQ(HyperlinkErrorText(2), CString(L"The specified file was not found."));
    EXPECT_EQ(HyperlinkErrorText(0), CString(L"The operating system is out\nof memory or resources."));

    const CString link = L"http://www.kvrzul.example/";
    EXPECT_EQ(BuildBrowserCommand(L"\"C:\\Browser\\b.exe\" -url \"%1\"", link),
              CString(L"\"C:\\Browser\\b.exe\" -url http://www.kvrzul.example/"));
    EXPECT_EQ(BuildBrowserCommand(L"C:\\b.exe %1", link), CString(L"C:\\b.exe http://www.kvrzul.example/"));
    EXPECT_EQ(BuildBrowserCommand(L"C:\\b.exe", link), CString(L"C:\\b.exe http://www.kvrzul.example/"));
}

// A registry key of this test program's own, removed with everything below it however the
// test ends.
class CScratchKey {
public:
    CScratchKey() { m_strPath.Format(L"Software\\ZulTest_%lu", GetCurrentProcessId()); }
    ~CScratchKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, m_strPath); }
    CString Path(const wchar_t* pszSub) const { return m_strPath + L"\\" + pszSub; }

private:
    CString m_strPath;
};

TEST(HyperlinkTest, RegistryDefaultValueOfAnyLengthIsReadWhole)
{
    CScratchKey scratch;
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyW(HKEY_CURRENT_USER, scratch.Path(L"Link"), &key), ERROR_SUCCESS);
    std::wstring longValue(400, L'c');  // longer than a 260-byte buffer would take
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, (const BYTE*)longValue.c_str(),
                     (DWORD)((longValue.size() + 1) * sizeof(wchar_t)));
    CString value;
    EXPECT_EQ(ReadRegistryDefaultValue(key, value), 0);  // closes the key
    EXPECT_EQ(value.GetLength(), 400);
}
