// The tooltip helpers: one tool per window, white, and a text that a language change replaces
// rather than adds to.

#include "LanguageText.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

CString ToolText(HWND hTip, HWND hTool)
{
    wchar_t szText[512] = {};
    TOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = ::GetParent(hTool);
    ti.uId = reinterpret_cast<UINT_PTR>(hTool);
    ti.lpszText = szText;
    ::SendMessageW(hTip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
    return CString(szText);
}

} // namespace

TEST(ToolTip, InitAddsOneToolAndUpdateReplacesItsText)
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ASSERT_TRUE(::InitCommonControlsEx(&icc));
    HWND hParent = ::CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                     nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, hParent);
    HWND hButton = ::CreateWindowExW(0, L"BUTTON", L"b", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, hParent,
                                     nullptr, ::GetModuleHandleW(nullptr), nullptr);
    HWND hOther = ::CreateWindowExW(0, L"BUTTON", L"c", WS_CHILD | WS_VISIBLE, 60, 0, 50, 20, hParent,
                                    nullptr, ::GetModuleHandleW(nullptr), nullptr);

    HWND hTip = nullptr;
    ASSERT_TRUE(InitToolTip(hTip, hParent, hButton, L"Quit"));
    ASSERT_NE(nullptr, hTip);
    EXPECT_EQ(1, ::SendMessageW(hTip, TTM_GETTOOLCOUNT, 0, 0));
    EXPECT_EQ(CString(L"Quit"), ToolText(hTip, hButton));
    EXPECT_EQ(RGB(255, 255, 255), static_cast<COLORREF>(::SendMessageW(hTip, TTM_GETTIPBKCOLOR, 0, 0)));
    EXPECT_EQ(500, ::SendMessageW(hTip, TTM_GETDELAYTIME, TTDT_INITIAL, 0));

    // A second window joins the same control as its own tool.
    HWND hSame = hTip;
    ASSERT_TRUE(InitToolTip(hTip, hParent, hOther, L"Help"));
    EXPECT_EQ(hSame, hTip);
    EXPECT_EQ(2, ::SendMessageW(hTip, TTM_GETTOOLCOUNT, 0, 0));

    // Repeated language changes keep one tool per window with the latest text.
    for (const wchar_t* psz : {L"\x9000\x51FA", L"Beenden", L""}) {
        ASSERT_TRUE(UpdateToolTipText(hTip, hButton, psz));
        EXPECT_EQ(2, ::SendMessageW(hTip, TTM_GETTOOLCOUNT, 0, 0));
        EXPECT_EQ(CString(psz), ToolText(hTip, hButton));
        EXPECT_EQ(CString(L"Help"), ToolText(hTip, hOther));
    }
    EXPECT_FALSE(UpdateToolTipText(nullptr, hButton, L"x"));

    // A window the control does not hold yet becomes its tool with the text.
    HWND hThird = ::CreateWindowExW(0, L"BUTTON", L"d", WS_CHILD | WS_VISIBLE, 120, 0, 50, 20, hParent,
                                    nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(UpdateToolTipText(hTip, hThird, L"Later"));
    EXPECT_EQ(3, ::SendMessageW(hTip, TTM_GETTOOLCOUNT, 0, 0));
    EXPECT_EQ(CString(L"Later"), ToolText(hTip, hThird));
    // A control made with an extra style keeps the usual ones.
    HWND hPlain = nullptr;
    ASSERT_TRUE(InitToolTip(hPlain, hParent, hThird, L"R & D", TTS_NOPREFIX));
    const LONG style = ::GetWindowLongW(hPlain, GWL_STYLE);
    EXPECT_EQ((LONG)(TTS_NOPREFIX | TTS_ALWAYSTIP), style & (TTS_NOPREFIX | TTS_ALWAYSTIP));
    EXPECT_EQ(CString(L"R & D"), ToolText(hPlain, hThird));
    ::DestroyWindow(hPlain);

    ::DestroyWindow(hTip);
    ::DestroyWindow(hParent);
}
