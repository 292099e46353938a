// The running main window, with all its pages, under input that comes from outside: Escape
// pressed on the keyboard in every part of the window and in the pop-ups over it, and change
// messages that another program posts to it as if the shell had sent them.

#include "AppTestUtil.h"
#include "BackUpSetDialog.h"
#include "DataFiles.h"
#include "HotKeyDlg.h"
#include "KelvariDlg.h"
#include "LangTestFolder.h"
#include "PanelPages.h"
#include "PasswordSetDlg.h"
#include "SelectionFiles.h"
#include "SetDialog.h"
#include "TreeShared.h"
#include "usb_fake_disk.h"
#include "wintest_util.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

using langtest::ReadBytes;

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

// Every key-down of a cancel key (Escape, Ctrl+Break) that this thread takes from its queue, by
// the window it was for.
std::vector<HWND> g_escapesTaken;
HHOOK g_hKeyHook = nullptr;

LRESULT CALLBACK NoteEscape(int nCode, WPARAM wParam, LPARAM lParam)
{
    const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
    if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->message == WM_KEYDOWN &&
        (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_CANCEL))
        g_escapesTaken.push_back(pMsg->hwnd);
    return ::CallNextHookEx(g_hKeyHook, nCode, wParam, lParam);
}

// A key as the keyboard gives it: to the focused window of the foreground window. Where this
// program cannot have the foreground of the shared desktop, the key is posted to the focused
// window, which is where the keyboard would have sent it.
void PressKey(HWND hTop, WORD vk = VK_ESCAPE)
{
    ::SetForegroundWindow(hTop);
    HWND hFocus = ::GetFocus();
    if (::GetForegroundWindow() == hTop) {
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = vk;
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, in, sizeof(INPUT));
    } else {
        HWND h = hFocus ? hFocus : hTop;
        ::PostMessageW(h, WM_KEYDOWN, vk, 0x00010001);
        ::PostMessageW(h, WM_KEYUP, vk, 0xC0010001);
    }
}

std::wstring ClassOf(HWND h)
{
    wchar_t sz[64] = {};
    ::GetClassNameW(h, sz, 64);
    return sz;
}

// The controls of a page that are on screen and can take the focus (nested dialogs and labels
// are not controls here).
std::vector<HWND> ShownControls(HWND hPage)
{
    std::vector<HWND> found;
    ::EnumChildWindows(
        hPage,
        [](HWND h, LPARAM lParam) CALLBACK -> BOOL {
            std::wstring cls = ClassOf(h);
            if (cls != L"#32770" && _wcsicmp(cls.c_str(), L"Static") != 0 && ::IsWindowVisible(h) &&
                ::IsWindowEnabled(h))
                reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A pop-up of this thread, other than the main window, that is on screen.
struct PopupSearch {
    HWND hMain;
    std::function<bool(HWND)> match;
    HWND hFound;
};

BOOL CALLBACK FindPopup(HWND h, LPARAM lParam)
{
    auto* s = reinterpret_cast<PopupSearch*>(lParam);
    if (h != s->hMain && ::IsWindowVisible(h) && ClassOf(h) == L"#32770" && s->match(h)) {
        s->hFound = h;
        return FALSE;
    }
    return TRUE;
}

// Presses Escape once in the next pop-up that opens and matches; a pop-up that Escape left open
// is ended after a few seconds so that the test goes on.
struct EscapeHand {
    static EscapeHand* s_pCurrent;
    HWND hMain = nullptr;
    std::function<bool(HWND)> match;
    HWND hPopup = nullptr;
    DWORD dwPressedAt = 0;
    bool bForced = false;
    UINT_PTR nTimer = 0;

    EscapeHand(HWND hMainWnd, std::function<bool(HWND)> fn) : hMain(hMainWnd), match(std::move(fn))
    {
        s_pCurrent = this;
        nTimer = ::SetTimer(nullptr, 0, 40, Tick);
    }
    ~EscapeHand()
    {
        ::KillTimer(nullptr, nTimer);
        s_pCurrent = nullptr;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        EscapeHand* p = s_pCurrent;
        if (!p)
            return;
        if (!p->hPopup) {
            PopupSearch s = {p->hMain, p->match, nullptr};
            ::EnumThreadWindows(::GetCurrentThreadId(), FindPopup, reinterpret_cast<LPARAM>(&s));
            if (!s.hFound)
                return;
            p->hPopup = s.hFound;
            p->dwPressedAt = ::GetTickCount();
            PressKey(s.hFound);
            return;
        }
        if (!p->bForced && ::IsWindow(p->hPopup) && ::IsWindowVisible(p->hPopup) &&
            ::GetTickCount() - p->dwPressedAt > 3000) {
            p->bForced = true;
            if (CDialog* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(p->hPopup)))
                pDlg->EndDialog(-2);
        }
    }
};
EscapeHand* EscapeHand::s_pCurrent = nullptr;

class MainWindowInput : public ::testing::Test {
protected:
    langtest::TempFolder root{L"maininput"};
    CString strData, strChosen;
    FakeDeviceStack devices;  // no bridge disk; no real disk is opened
    CKelvariDlg* dlg = nullptr;
    HWND hMain = nullptr;

    void SetUp() override
    {
        g_strAppDir = root.Dir();
        g_strUserName = L"tester";
        strData = GetDataFolder();
        ASSERT_TRUE(::CreateDirectoryW(strData, nullptr));
        CXmlDocument settings;
        ASSERT_TRUE(WriteDefaultSettings(settings, strData));
        // A folder chosen for backup.
        strChosen = root / L"chosen";
        ASSERT_TRUE(::CreateDirectoryW(strChosen, nullptr));
        ASSERT_TRUE(langtest::WriteBytes(strChosen + L"\\a.txt", "some text"));
        CSelection sel;
        sel.Check(strChosen);
        ASSERT_TRUE(CSelectionFiles(strData).Write(sel));

        g_hKeyHook = ::SetWindowsHookExW(WH_GETMESSAGE, NoteEscape, nullptr, ::GetCurrentThreadId());
        g_escapesTaken.clear();
        CKelvariDlg::s_bShowSplash = false;
        InstallPanelPages();
        g_bDefaultsWritten = 0;
        dlg = new CKelvariDlg;
        ASSERT_TRUE(dlg->Create(CKelvariDlg::IDD, nullptr));
        hMain = dlg->m_hWnd;
        g_app.m_pMainWnd = dlg;
        dlg->ShowWindow(SW_SHOW);
        dlg->SetForegroundWindow();
        Pump(100);
    }
    void TearDown() override
    {
        g_app.m_pMainWnd = nullptr;
        if (dlg) {
            if (dlg->m_hWnd)
                dlg->DestroyWindow();
            delete dlg;
        }
        if (g_hKeyHook)
            ::UnhookWindowsHookEx(g_hKeyHook);
        g_hKeyHook = nullptr;
        RegisterPanelPage(CPageBox::PAGE_BACKUP, nullptr);
        RegisterPanelPage(CPageBox::PAGE_MANAGE, nullptr);
        RegisterPanelPage(CPageBox::PAGE_SETTINGS, nullptr);
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }

    CPageBox* Box() { return dlg->m_pPageBox; }
    CBackUpSetDialog& BackUpSettings()
    {
        return dynamic_cast<CSetDialog*>(Box()->GetSlotWnd(CPageBox::PAGE_SETTINGS))->m_dlgBackUpSet;
    }

    // Escape with the focus on a window of the main window: the key reached that window, and the
    // main window is still there and shows the same page.
    void EscapeAt(HWND hFocus, const std::string& where, WORD vk = VK_ESCAPE)
    {
        SCOPED_TRACE(where);
        size_t nBefore = g_escapesTaken.size();
        int nPage = Box()->m_nCurPage;
        PressKey(hMain, vk);
        PumpUntil([&] { return g_escapesTaken.size() > nBefore; }, 2000);
        Pump(60);
        ASSERT_TRUE(::IsWindow(hMain)) << "Escape closed the main window";
        ASSERT_EQ(nBefore + 1, g_escapesTaken.size()) << "the key did not arrive";
        EXPECT_EQ(hFocus, g_escapesTaken.back());
        EXPECT_TRUE(::IsWindowVisible(hMain));
        EXPECT_EQ(nPage, Box()->m_nCurPage);
        EXPECT_TRUE(Box()->GetSlotWnd(nPage)->IsWindowVisible());
    }

    // Runs an action that opens a pop-up, has Escape pressed in the pop-up, and tells whether
    // Escape ended it (and nothing else had to).
    bool EscapeEnds(const std::function<void()>& open, const std::function<bool(HWND)>& match)
    {
        EscapeHand hand(hMain, match);
        open();
        EXPECT_NE(nullptr, hand.hPopup) << "no pop-up opened";
        EXPECT_TRUE(::IsWindow(hMain));
        return hand.hPopup && !hand.bForced && (!::IsWindow(hand.hPopup) || !::IsWindowVisible(hand.hPopup));
    }
};

// The line of a text that holds a tag, or empty text.
std::string LineWith(const std::string& text, const char* pszTag)
{
    size_t nAt = text.find(pszTag);
    if (nAt == std::string::npos)
        return std::string();
    size_t nStart = text.rfind('\n', nAt);
    nStart = nStart == std::string::npos ? 0 : nStart + 1;
    return text.substr(nStart, text.find('\n', nAt) - nStart);
}

template <class T>
bool IsPopupOf(HWND h)
{
    return dynamic_cast<T*>(CWnd::FromHandlePermanent(h)) != nullptr;
}

}  // namespace

TEST_F(MainWindowInput, EscapeNeverClosesTheMainWindowButStillEndsThePopupsOverIt)
{
    const char* names[CPageBox::PAGE_COUNT] = {"quick launch", "file backup", "file management", "settings"};
    for (int nPage = 0; nPage < CPageBox::PAGE_COUNT; ++nPage) {
        // A click on the page button leaves the focus on it, in the page panel.
        CButtonST* pButton = Box()->PageButton(nPage);
        pButton->SetFocus();
        pButton->SendMessage(BM_CLICK);
        Pump(30);
        ASSERT_EQ(nPage, Box()->m_nCurPage);
        ASSERT_EQ(pButton->m_hWnd, ::GetFocus());
        EscapeAt(pButton->m_hWnd, std::string(names[nPage]) + " page button");
        if (HasFatalFailure())
            return;
        // Ctrl+Break, which the dialog manager takes for Escape.
        EscapeAt(pButton->m_hWnd, std::string(names[nPage]) + " page button, Ctrl+Break", VK_CANCEL);
        if (HasFatalFailure())
            return;

        // Every control the page shows: buttons, lists, trees, the settings tabs' controls.
        std::vector<HWND> controls = ShownControls(Box()->GetSlotWnd(nPage)->m_hWnd);
        EXPECT_FALSE(controls.empty()) << names[nPage];
        for (HWND h : controls) {
            ::SetFocus(h);
            if (::GetFocus() != h)
                continue;
            wchar_t szText[64] = {};
            ::GetWindowTextW(h, szText, 64);
            std::string where = std::string(names[nPage]) + " page, " + Narrow(ClassOf(h).c_str()) + " \"" +
                                Narrow(szText) + "\"";
            EscapeAt(h, where);
            if (HasFatalFailure())
                return;
        }
    }
    // The caption buttons of the main window itself.
    dlg->m_btnHelp.SetFocus();
    EscapeAt(dlg->m_btnHelp.m_hWnd, "caption button");
    if (HasFatalFailure())
        return;

    // A list dropped down on the backup page takes Escape itself: the list closes, nothing else.
    Box()->OnBnClickedBackupPage();
    ASSERT_NE(nullptr, g_hDestComboWnd);
    ::SetFocus(g_hDestComboWnd);
    ::SendMessageW(g_hDestComboWnd, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(::SendMessageW(g_hDestComboWnd, CB_GETDROPPEDSTATE, 0, 0));
    EscapeAt(g_hDestComboWnd, "dropped-down destination list");
    if (HasFatalFailure())
        return;
    EXPECT_FALSE(::SendMessageW(g_hDestComboWnd, CB_GETDROPPEDSTATE, 0, 0));

    // A message of the page panel: the start with no target disk is refused with a message.
    EXPECT_TRUE(EscapeEnds([&] { Box()->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_ACTION_START, BN_CLICKED)); },
                           IsPopupOf<CMakeSureDlg>));
    EXPECT_EQ(0, Box()->m_bBackupRunning);
    EXPECT_EQ(0, Box()->m_bPromptOpen);

    // The settings page's pop-ups: the hot key and the password. Escape is a cancel, which
    // stores neither.
    Box()->OnBnClickedSetPage();
    const CString strSettings = JoinPath(strData, kSettingsFile);
    const std::string hotKeyBefore = LineWith(ReadBytes(strSettings), "<HotKey");
    const std::string passwordBefore = LineWith(ReadBytes(strSettings), "<SetPassword>");
    EXPECT_TRUE(EscapeEnds([&] { BackUpSettings().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_HOTKEY_BUTTON, BN_CLICKED)); },
                           IsPopupOf<CHotKey>));
    EXPECT_TRUE(EscapeEnds(
        [&] { BackUpSettings().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_REVISE_PASSWORD, BN_CLICKED)); },
        IsPopupOf<CPasswordSetDlg>));
    EXPECT_EQ(hotKeyBefore, LineWith(ReadBytes(strSettings), "<HotKey"));
    EXPECT_EQ(passwordBefore, LineWith(ReadBytes(strSettings), "<SetPassword>"));
    EXPECT_TRUE(::IsWindowVisible(hMain));
}

TEST_F(MainWindowInput, ChangeMessagesThatTheShellDidNotSendAreIgnored)
{
    const CSelectionFiles files(strData);
    const std::string nestedBefore = ReadBytes(files.NestedPath());
    const std::string flatBefore = ReadBytes(files.FlatPath());
    ASSERT_NE(std::string::npos, flatBefore.find("chosen"));

    // What another program can post: small numbers, null, pointers to nothing, bytes that are no
    // item lists, and item lists of the chosen folder that look as the shell's would.
    LPITEMIDLIST pidlChosen = ::ILCreateFromPathW(strChosen);
    LPITEMIDLIST pidlRoot = ::ILCreateFromPathW(root.Path());
    ASSERT_NE(nullptr, pidlChosen);
    ASSERT_NE(nullptr, pidlRoot);
    LPCITEMIDLIST lists[2] = {pidlChosen, pidlRoot};
    BYTE junk[64];
    memset(junk, 0xFF, sizeof(junk));
    const LPARAM self = (LPARAM)::GetCurrentProcessId();
    struct Forged {
        WPARAM wParam;
        LPARAM lParam;
    } forged[] = {
        {0x10, SHCNE_RMDIR},
        {0x10, 0},
        {0x10, SHCNE_DELETE},
        {0, SHCNE_RMDIR},
        {0, self},
        {(WPARAM)0xDEADBEE0, SHCNE_UPDATEDIR},
        {(WPARAM)junk, SHCNE_RENAMEFOLDER},
        {(WPARAM)junk, self},
        {(WPARAM)lists, SHCNE_RMDIR},
        {(WPARAM)lists, SHCNE_DELETE},
        {(WPARAM)lists, SHCNE_RENAMEFOLDER},
        {(WPARAM)lists, SHCNE_DRIVEREMOVED},
        {(WPARAM)lists, self},
    };
    for (const Forged& f : forged) {
        ::PostMessageW(hMain, WM_SHELL_NOTIFY, f.wParam, f.lParam);
        Pump(40);
        ASSERT_TRUE(::IsWindow(hMain)) << std::hex << f.wParam << " " << f.lParam;
    }
    Pump(200);
    ::ILFree(pidlChosen);
    ::ILFree(pidlRoot);
    EXPECT_TRUE(::IsWindowVisible(hMain));
    EXPECT_EQ(nestedBefore, ReadBytes(files.NestedPath()));
    EXPECT_EQ(flatBefore, ReadBytes(files.FlatPath()));

    // The shell's own word still counts: the chosen folder deleted through the shell leaves the
    // selection.
    SHFILEOPSTRUCTW op = {};
    CString strFrom = strChosen;
    strFrom.AppendChar(L'\0');
    op.wFunc = FO_DELETE;
    op.pFrom = strFrom;
    op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    ASSERT_EQ(0, ::SHFileOperationW(&op));
    ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW | SHCNF_FLUSH, (const wchar_t*)strChosen, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return ReadBytes(files.FlatPath()).find("chosen") == std::string::npos; }, 5000));
}
