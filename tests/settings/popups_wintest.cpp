// The pop-ups of the settings page: the hot-key dialog registers, stores and gives the old key
// back; the time editor stores canonical times for one day or all (the week in one write); the
// password form keeps its fields masked and stays open on Enter.

#include "HotKeyDlg.h"
#include "PasswordSetDlg.h"
#include "SetDialog.h"
#include "SettingsStore.h"
#include "TimeSet.h"
#include "settings_test_util.h"

#include <gtest/gtest.h>

namespace {

class PopupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_HOTKEY_CLASS | ICC_UPDOWN_CLASS};
        ::InitCommonControlsEx(&icc);
        m_other.CreateEx(0, nullptr, L"other", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0);
    }
    void TearDown() override { m_other.DestroyWindow(); }

    // Whether the combination is registered on some window: another window cannot take it.
    bool IsTaken(int nMods, int nKey)
    {
        if (::RegisterHotKey(m_other.m_hWnd, 77, nMods, nKey)) {
            ::UnregisterHotKey(m_other.m_hWnd, 77);
            return false;
        }
        return true;
    }
    void StoreAndRegister(const wchar_t* pszName, int nKey, int nMods)
    {
        ASSERT_EQ(SettingsWrite::Saved, SaveHotKey(pszName, nKey, nMods));
        ASSERT_TRUE(::RegisterHotKey(m_env.m_main.m_hWnd, ID_BACKUP_HOTKEY, nMods, nKey));
    }

    SettingsEnv m_env;
    CWnd m_other;
};

} // namespace

TEST_F(PopupTest, HotKeyShowsTheStoredCombinationAndEnterStoresAndRegisters)
{
    StoreAndRegister(L"Shift + Alt + B", 'B', MOD_SHIFT | MOD_ALT);
    CHotKey dlg(&m_env.m_main);
    DWORD dwShown = 0;
    bool bFreeWhileOpen = false;
    ScriptNextPopup([&](HWND) {
        dwShown = dlg.m_hotKey.GetHotKey();
        bFreeWhileOpen = !IsTaken(MOD_SHIFT | MOD_ALT, 'B');   // unregistered while open
        dlg.m_hotKey.SetHotKey(VK_F9, HOTKEYF_CONTROL | HOTKEYF_SHIFT);
        PostKey(dlg.m_hotKey.m_hWnd, VK_RETURN);
    });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ((DWORD)MAKEWORD('B', HOTKEYF_SHIFT | HOTKEYF_ALT), dwShown);
    EXPECT_TRUE(bFreeWhileOpen);
    int nKey = 0, nMods = 0;
    ReadHotKey(nKey, nMods);
    EXPECT_EQ(VK_F9, nKey);
    EXPECT_EQ(MOD_CONTROL | MOD_SHIFT, nMods);
    EXPECT_FALSE(ReadHotKeyText().IsEmpty());
    EXPECT_TRUE(IsTaken(MOD_CONTROL | MOD_SHIFT, VK_F9));
    EXPECT_FALSE(IsTaken(MOD_SHIFT | MOD_ALT, 'B'));
}

TEST_F(PopupTest, HotKeyEscAndRefusedCombinationKeepTheOldKey)
{
    StoreAndRegister(L"Ctrl + Alt + K", 'K', MOD_CONTROL | MOD_ALT);
    std::string before = m_env.SettingsBytes();
    {
        CHotKey dlg(&m_env.m_main);
        ScriptNextPopup([&](HWND) {
            dlg.m_hotKey.SetHotKey('J', HOTKEYF_CONTROL);
            PostKey(dlg.m_hotKey.m_hWnd, VK_ESCAPE);
        });
        EXPECT_EQ(IDCANCEL, dlg.DoModal());
    }
    EXPECT_EQ(before, m_env.SettingsBytes());
    EXPECT_TRUE(IsTaken(MOD_CONTROL | MOD_ALT, 'K'));

    // Another window holds Ctrl+Alt+T: OK is refused, nothing is stored, the old key is back.
    ASSERT_TRUE(::RegisterHotKey(m_other.m_hWnd, 5, MOD_CONTROL | MOD_ALT, 'T'));
    {
        CHotKey dlg(&m_env.m_main);
        ScriptNextPopup([&](HWND) {
            dlg.m_hotKey.SetHotKey('T', HOTKEYF_CONTROL | HOTKEYF_ALT);
            Click(::GetDlgItem(dlg.m_hWnd, IDC_POPUP_OK));
        });
        EXPECT_EQ(IDCANCEL, dlg.DoModal());
    }
    ::UnregisterHotKey(m_other.m_hWnd, 5);
    EXPECT_EQ(before, m_env.SettingsBytes());
    EXPECT_TRUE(IsTaken(MOD_CONTROL | MOD_ALT, 'K'));

    // A bare key clears the hot key.
    {
        CHotKey dlg(&m_env.m_main);
        ScriptNextPopup([&](HWND) {
            dlg.m_hotKey.SetHotKey('Q', 0);
            Click(::GetDlgItem(dlg.m_hWnd, IDC_POPUP_OK));
        });
        EXPECT_EQ(IDOK, dlg.DoModal());
    }
    int nKey = -1, nMods = -1;
    ReadHotKey(nKey, nMods);
    EXPECT_EQ(0, nKey);
    EXPECT_EQ(0, nMods);
    EXPECT_EQ(L"", m_env.StoredAttribute(L"HotKey", L"Str"));
    EXPECT_FALSE(IsTaken(MOD_CONTROL | MOD_ALT, 'K'));
}

TEST_F(PopupTest, HotKeyWithNothingStoredOffersCtrlAltAndTheTabShowsTheResult)
{
    CSetDialog page;
    m_env.m_host.m_pPage = &page;
    ASSERT_TRUE(page.CreatePage(&m_env.m_main, 10, 10));
    CHotKey* pSeen = nullptr;
    DWORD dwShown = 0;
    ScriptNextPopup([&](HWND hDlg) {
        pSeen = static_cast<CHotKey*>(CWnd::FromHandlePermanent(hDlg));
        if (pSeen)
            dwShown = pSeen->m_hotKey.GetHotKey();
        ::SendDlgItemMessageW(hDlg, IDC_HOTKEY_CTRL, HKM_SETHOTKEY, MAKEWORD(VK_F7, HOTKEYF_ALT), 0);
        Click(::GetDlgItem(hDlg, IDC_POPUP_OK));
    });
    Click(page.m_dlgBackUpSet.Button(IDC_HOTKEY_BUTTON).m_hWnd);
    ASSERT_NE(nullptr, pSeen);
    EXPECT_EQ(0x0600u, dwShown);
    EXPECT_TRUE(IsTaken(MOD_ALT, VK_F7));
    CString strShown = page.m_dlgBackUpSet.GetHotKeyText();
    EXPECT_FALSE(strShown.IsEmpty());
    EXPECT_EQ(-1, strShown.Find(L' '));   // shown without blanks
}

TEST_F(PopupTest, TimeEditorClampsAndStoresCanonicalTimes)
{
    CStringArray names;
    for (const wchar_t* d : kScheduleDays)
        names.Add(d);
    struct {
        const wchar_t* hour;
        const wchar_t* minute;
        const wchar_t* shownHour;
        const wchar_t* timing;
    } cases[] = {{L"99", L"5", L"23", L"23:05"},
                 {L"1:", L"ab", L"1", L"01:00"},
                 {L"4294967308", L"012", L"23", L"23:12"},
                 {L"7", L"", L"7", L"07:00"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(CStringA(c.timing).GetString());
        int nDay = 2;
        CTimeSet dlg(L"Wednesday", &names, &nDay);
        CString strShownHour;
        bool bStillOpen = false;
        ScriptNextPopup([&](HWND hDlg) {
            dlg.m_editHour.SetWindowText(c.hour);    // a paste: no digit filter applies
            dlg.m_editMinute.SetWindowText(c.minute);
            Pump(100);                                // the deferred rewrite
            strShownHour = dlg.m_editHour.GetWindowText();
            PostKey(dlg.m_editHour.m_hWnd, VK_RETURN);   // Enter and Esc do nothing
            PostKey(dlg.m_editHour.m_hWnd, VK_ESCAPE);
            Pump(100);
            bStillOpen = ::IsWindowVisible(hDlg) != FALSE;
            Click(::GetDlgItem(hDlg, IDC_POPUP_OK));
        });
        EXPECT_EQ(IDOK, dlg.DoModal());
        EXPECT_TRUE(bStillOpen);
        EXPECT_EQ(c.shownHour, strShownHour);
        EXPECT_EQ(2, nDay);
        EXPECT_EQ(c.timing, m_env.StoredAttribute(L"Wednesday", L"Timing"));
        EXPECT_EQ(L"1", m_env.StoredAttribute(L"Wednesday", L"IsSet"));
        EXPECT_EQ(L"0", m_env.StoredAttribute(L"Thursday", L"IsSet"));
    }
}

TEST_F(PopupTest, TimeEditorAllDaysSpinLimitsAndCancel)
{
    CSetDialog page;
    m_env.m_host.m_pPage = &page;
    ASSERT_TRUE(page.CreatePage(&m_env.m_main, 10, 10));
    CTimingSetDlg& tab = page.m_dlgTiming;
    // The autostart check of the page stores its cleared box first (the Run value is missing
    // here); a store of its own while the file is locked below would count as a second report.
    ASSERT_TRUE(PumpUntil([&] { return !page.m_dlgOther.m_chkAutoStart.GetCheckState(); }, 3000));

    // Cancel changes nothing.
    std::string before = m_env.SettingsBytes();
    ScriptNextPopup([&](HWND hDlg) {
        ::SetDlgItemTextW(hDlg, IDC_HOUR_EDIT, L"5");
        Click(::GetDlgItem(hDlg, IDC_POPUP_CANCEL));
    });
    Click(tab.m_btnTimes[4].m_hWnd);
    EXPECT_EQ(before, m_env.SettingsBytes());
    EXPECT_EQ(L"00:00", tab.m_btnTimes[4].GetWindowText());

    // "All": every day armed with the same time, and the tab shows the file.
    CString strMinuteAfterUp, strMinuteAfterDown;
    ScriptNextPopup([&](HWND hDlg) {
        ::SetDlgItemTextW(hDlg, IDC_HOUR_EDIT, L"6");
        ::SetDlgItemTextW(hDlg, IDC_MINUTE_EDIT, L"59");
        NMUPDOWN ud = {};
        ud.hdr.hwndFrom = ::GetDlgItem(hDlg, IDC_MINUTE_SPIN);
        ud.hdr.idFrom = IDC_MINUTE_SPIN;
        ud.hdr.code = UDN_DELTAPOS;
        ud.iDelta = -1;   // the upper arrow
        ::SendMessageW(hDlg, WM_NOTIFY, IDC_MINUTE_SPIN, (LPARAM)&ud);
        wchar_t buf[16] = {};
        ::GetDlgItemTextW(hDlg, IDC_MINUTE_EDIT, buf, 16);
        strMinuteAfterUp = buf;
        ud.iDelta = 1;
        ::SendMessageW(hDlg, WM_NOTIFY, IDC_MINUTE_SPIN, (LPARAM)&ud);
        ::GetDlgItemTextW(hDlg, IDC_MINUTE_EDIT, buf, 16);
        strMinuteAfterDown = buf;
        ::SendDlgItemMessageW(hDlg, IDC_DAY_COMBO, CB_SETCURSEL, 1, 0);
        Click(::GetDlgItem(hDlg, IDC_POPUP_OK));
    });
    Click(tab.m_btnTimes[4].m_hWnd);
    EXPECT_EQ(L"59", strMinuteAfterUp);
    EXPECT_EQ(L"58", strMinuteAfterDown);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(L"06:58", m_env.StoredAttribute(kScheduleDays[i], L"Timing"));
        EXPECT_EQ(L"1", m_env.StoredAttribute(kScheduleDays[i], L"IsSet"));
        EXPECT_EQ(L"06:58", tab.m_btnTimes[i].GetWindowText());
        EXPECT_TRUE(tab.m_chkDays[i].GetCheckState());
    }

    // "All" on a file that cannot be written: one report for the week, and no day changed.
    std::string stored = m_env.SettingsBytes();
    HANDLE h = ::CreateFileW(m_env.SettingsPath(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    int nFailures = m_env.m_host.m_nWriteFailures;
    ScriptNextPopup([&](HWND hDlg) {
        ::SetDlgItemTextW(hDlg, IDC_HOUR_EDIT, L"9");
        ::SendDlgItemMessageW(hDlg, IDC_DAY_COMBO, CB_SETCURSEL, 1, 0);
        Click(::GetDlgItem(hDlg, IDC_POPUP_OK));
    });
    Click(tab.m_btnTimes[2].m_hWnd);
    ::CloseHandle(h);
    EXPECT_EQ(nFailures + 1, m_env.m_host.m_nWriteFailures);
    EXPECT_EQ(stored, m_env.SettingsBytes());
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(L"06:58", tab.m_btnTimes[i].GetWindowText());

    // A day whose store failed is not shown armed: the tab reads the file back.
    ::DeleteFileW(m_env.SettingsPath());
    m_env.WriteSettingsBytes("<InitInfo><Monday IsSet=\"0\" Timing=\"00:00\"/></InitInfo>");
    tab.ShowStoredSchedule();
    std::string damaged = "<InitInfo><Monday";
    m_env.WriteSettingsBytes(damaged);
    ScriptNextPopup([&](HWND hDlg) { Click(::GetDlgItem(hDlg, IDC_POPUP_OK)); });
    Click(tab.m_btnTimes[0].m_hWnd);
    EXPECT_EQ(damaged, m_env.SettingsBytes());
    EXPECT_FALSE(tab.m_chkDays[0].GetCheckState());
}

TEST_F(PopupTest, TimeEditorDragEndsWhenTheButtonIsReleased)
{
    CStringArray names;
    names.Add(L"Monday");
    int nDay = 0;
    CTimeSet dlg(L"Monday", &names, &nDay);
    bool bArmed = false, bAfterUp = true, bAfterPlainMove = true;
    HWND hOwner = nullptr;
    ScriptNextPopup([&](HWND hDlg) {
        hOwner = ::GetWindow(hDlg, GW_OWNER);
        ::SendMessageW(hDlg, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 10));
        bArmed = dlg.IsDragging();
        ::SendMessageW(hDlg, WM_LBUTTONUP, 0, MAKELPARAM(40, 10));
        bAfterUp = dlg.IsDragging();
        ::SendMessageW(hDlg, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 10));
        ::SendMessageW(hDlg, WM_MOUSEMOVE, 0, MAKELPARAM(60, 60));   // released outside
        bAfterPlainMove = dlg.IsDragging();
        Click(::GetDlgItem(hDlg, IDC_POPUP_CLOSE));
    });
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_TRUE(bArmed);
    EXPECT_FALSE(bAfterUp);
    EXPECT_FALSE(bAfterPlainMove);
    EXPECT_EQ(m_env.m_main.m_hWnd, hOwner);   // owned by the main window
}

TEST_F(PopupTest, PasswordFormIsMaskedAndOnlyCancelCloses)
{
    CPasswordSetDlg dlg(&m_env.m_main);
    bool bMasked = true, bOpenAfterEnter = false, bOpenAfterOk = false;
    ScriptNextPopup([&](HWND hDlg) {
        for (UINT id : {IDC_OLD_PASSWORD, IDC_NEW_PASSWORD, IDC_NEW_PASSWORD2, IDC_PASSWORD_HINT}) {
            HWND hEdit = ::GetDlgItem(hDlg, id);
            bMasked = bMasked && (::GetWindowLongW(hEdit, GWL_STYLE) & ES_PASSWORD) &&
                      ::SendMessageW(hEdit, EM_GETPASSWORDCHAR, 0, 0) == L'*' && ::IsWindowEnabled(hEdit);
            ::SetWindowTextW(hEdit, L"secret");
        }
        PostKey(::GetDlgItem(hDlg, IDC_NEW_PASSWORD), VK_RETURN);
        Pump(150);
        bOpenAfterEnter = ::IsWindowVisible(hDlg) != FALSE;
        Click(::GetDlgItem(hDlg, IDOK));
        Pump(50);
        bOpenAfterOk = ::IsWindowVisible(hDlg) != FALSE;
        PostKey(::GetDlgItem(hDlg, IDC_NEW_PASSWORD), VK_ESCAPE);
    });
    std::string before = m_env.SettingsBytes();
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_TRUE(bMasked);
    EXPECT_TRUE(bOpenAfterEnter);
    EXPECT_TRUE(bOpenAfterOk);
    EXPECT_EQ(before, m_env.SettingsBytes());
}
