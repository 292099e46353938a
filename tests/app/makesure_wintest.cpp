// The prompt: the countdown that confirms by itself, the OK-only layout, and every way of
// refusing (Esc, the close button, a main window that went away, a cancel from outside).

#include "AppTestUtil.h"
#include "LanguageText.h"
#include "MakeSureDlg.h"
#include "XmlDocument.h"
#include "wintest_util.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// The application object the prompt asks for the main window.
struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

// Runs the prompt modally and calls step every 20 ms from inside its modal loop, with the
// number of the call, until the prompt ends.
std::function<void(CMakeSureDlg&, int)> g_step;
CMakeSureDlg* g_pDlg = nullptr;
int g_nCalls = 0;

void CALLBACK StepProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_pDlg && g_pDlg->m_hWnd && g_step)
        g_step(*g_pDlg, ++g_nCalls);
}

INT_PTR RunPrompt(CMakeSureDlg& dlg, std::function<void(CMakeSureDlg&, int)> step)
{
    g_step = std::move(step);
    g_pDlg = &dlg;
    g_nCalls = 0;
    UINT_PTR t = ::SetTimer(nullptr, 0, 20, StepProc);
    INT_PTR r = dlg.DoModal();
    ::KillTimer(nullptr, t);
    g_pDlg = nullptr;
    g_step = nullptr;
    return r;
}

void Tick(CMakeSureDlg& dlg) { dlg.SendMessage(WM_TIMER, 1); }

CRect ChildRect(CWnd& parent, CWnd& child)
{
    CRect rc;
    child.GetWindowRect(&rc);
    parent.ScreenToClient(&rc);
    return rc;
}

}  // namespace

TEST(MakeSure, CountdownConfirmsOnTheThirtiethTickAndShowsTheCount)
{
    CMakeSureDlg dlg(L"File Backup", L"Start backup now ?", 0);
    dlg.m_bCountDown = 1;
    dlg.m_nCountDown = 30;
    std::vector<CString> shown;
    bool bOpenAfter29 = false;
    INT_PTR r = RunPrompt(dlg, [&](CMakeSureDlg& d, int n) {
        if (n == 1) {
            shown.push_back(d.m_strCountDown);
            EXPECT_NE(0, d.m_nTimer);
            for (int i = 0; i < 29; ++i) {
                Tick(d);
                shown.push_back(d.m_strCountDown);
            }
            bOpenAfter29 = d.m_hWnd != nullptr && ::IsWindowVisible(d.m_hWnd);
        } else if (n == 2) {
            Tick(d);
        }
    });
    EXPECT_EQ(IDOK, r);
    EXPECT_TRUE(bOpenAfter29);
    ASSERT_EQ(30u, shown.size());
    EXPECT_EQ(CString(L"30"), shown[0]);
    EXPECT_EQ(CString(L"29"), shown[1]);
    EXPECT_EQ(CString(L"1"), shown[29]);
    EXPECT_EQ(0, dlg.m_nTimer);

    // A start value of 1 or less confirms on the first tick.
    CMakeSureDlg quick(L"T", L"M", 0);
    quick.m_bCountDown = 1;
    quick.m_nCountDown = 0;
    EXPECT_EQ(IDOK, RunPrompt(quick, [](CMakeSureDlg& d, int) { Tick(d); }));

    // Without a countdown no digits show and ticks change nothing.
    CMakeSureDlg plain(L"T", L"M", 0);
    INT_PTR rPlain = RunPrompt(plain, [](CMakeSureDlg& d, int n) {
        Tick(d);
        EXPECT_TRUE(d.m_strCountDown.IsEmpty());
        if (n == 40)
            d.CancelFromOutside();
    });
    EXPECT_EQ(IDCANCEL, rPlain);
}

TEST(MakeSure, LayoutWithOkAloneAndWithBothButtons)
{
    CRect rcOkOnly, rcCancelBoth, rcOkBoth, rcMessage;
    bool bCancelHidden = false;
    CMakeSureDlg single(L"Tips", L"A message", 1);
    INT_PTR r = RunPrompt(single, [&](CMakeSureDlg& d, int) {
        rcOkOnly = ChildRect(d, d.m_btnOk);
        bCancelHidden = !d.m_btnCancel.IsWindowVisible();
        CRect rc;
        d.GetWindowRect(&rc);
        EXPECT_EQ(CMakeSureDlg::kWidth, rc.Width());
        EXPECT_EQ(CMakeSureDlg::kHeight, rc.Height());
        d.m_btnClose.SendMessage(BM_CLICK);  // the close button still refuses
    });
    EXPECT_EQ(IDCANCEL, r);
    EXPECT_TRUE(bCancelHidden);

    CString strLong;
    for (int i = 0; i < 40; ++i)
        strLong += L"word ";
    CMakeSureDlg both(L"Tips", strLong, 0);
    RunPrompt(both, [&](CMakeSureDlg& d, int) {
        rcCancelBoth = ChildRect(d, d.m_btnCancel);
        rcOkBoth = ChildRect(d, d.m_btnOk);
        rcMessage = ChildRect(d, d.m_stMessage);
        d.m_btnOk.SendMessage(BM_CLICK);
    });
    // OK alone stands where Cancel stands with both.
    EXPECT_EQ(rcCancelBoth, rcOkOnly);
    EXPECT_EQ(rcCancelBoth.left - 10, rcOkBoth.right);
    EXPECT_EQ(CMakeSureDlg::kWidth - 15, rcCancelBoth.right);
    EXPECT_EQ(CMakeSureDlg::kHeight - 10, rcCancelBoth.bottom);
    // A long message wraps and keeps 10 pixels from the right edge.
    EXPECT_LE(rcMessage.right, CMakeSureDlg::kWidth - 10);
    EXPECT_GT(rcMessage.Height(), 20);
}

TEST(MakeSure, OnlyOkIsConsent)
{
    // Esc refuses; Enter on the focused close button confirms nothing.
    CMakeSureDlg esc(L"Tips", L"Esc", 0);
    INT_PTR r = RunPrompt(esc, [](CMakeSureDlg& d, int n) {
        HWND hFocus = ::GetFocus();
        if (n == 1) {
            ::PostMessageW(hFocus ? hFocus : d.m_hWnd, WM_KEYDOWN, VK_RETURN, 0);
        } else if (n == 5) {
            EXPECT_TRUE(d.m_hWnd && ::IsWindow(d.m_hWnd));
            ::PostMessageW(hFocus ? hFocus : d.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
        }
    });
    EXPECT_EQ(IDCANCEL, r);

    // A prompt whose main window is gone is a refusal, even while it counts down.
    CWinApp* app = &g_app;
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(0, 0, 50, 50));
    app->m_pMainWnd = &host;
    CMakeSureDlg orphan(L"Tips", L"Orphan", 0);
    orphan.m_bCountDown = 1;
    orphan.m_nCountDown = 30;
    r = RunPrompt(orphan, [&](CMakeSureDlg& d, int n) {
        if (n == 1) {
            host.DestroyWindow();
            Tick(d);
        }
    });
    app->m_pMainWnd = nullptr;
    EXPECT_EQ(IDCANCEL, r);

    // Confirmed from outside during the countdown: OK at once, no timer left.
    CMakeSureDlg outside(L"Tips", L"Outside", 0);
    outside.m_bCountDown = 1;
    outside.m_nCountDown = 30;
    r = RunPrompt(outside, [](CMakeSureDlg& d, int) { d.ConfirmFromOutside(); });
    EXPECT_EQ(IDOK, r);
    EXPECT_EQ(0, outside.m_nTimer);
}

TEST(MakeSure, CaptionsComeFromTheActiveTable)
{
    CMakeSureDlg english(L"T", L"M", 0);
    EXPECT_EQ(CString(L"OK"), english.OkCaption());
    EXPECT_EQ(CString(L"Cancel"), english.CancelCaption());

    CXmlDocument* old = g_pLanguageDoc;
    g_pLanguageDoc = new CXmlDocument;
    g_pLanguageDoc->SetDocText(L"<T>\r\n<Cancel>Abbrechen</Cancel>\r\n</T>\r\n");
    g_bLanguageLoaded = 1;
    CMakeSureDlg table(L"T", L"M", 0);
    EXPECT_EQ(CString(L"OK"), table.OkCaption());  // a key the table lacks keeps the English text
    EXPECT_EQ(CString(L"Abbrechen"), table.CancelCaption());
    g_bLanguageLoaded = 0;
    delete g_pLanguageDoc;
    g_pLanguageDoc = old;
}

TEST(MakeSure, DraggedOnlyByItsTopBandAndRounded)
{
    CMakeSureDlg dlg(L"Tips", L"Drag", 0);
    bool bArmedInBand = false, bArmedBelow = true, bAfterRelease = true, bAfterPlainMove = true;
    bool bRounded = false;
    RunPrompt(dlg, [&](CMakeSureDlg& d, int n) {
        if (n != 1)
            return;
        const int y = CMakeSureDlg::kDragBand - 1;
        d.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, y));
        bArmedInBand = d.IsDragging();
        d.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(60, y));
        bAfterRelease = d.IsDragging();
        d.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, CMakeSureDlg::kDragBand));
        bArmedBelow = d.IsDragging();
        // Pressed in the band, released outside the window: the next move, without the button,
        // must not start a drag.
        d.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, y));
        d.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(70, y));
        bAfterPlainMove = d.IsDragging();
        HRGN hRgn = ::CreateRectRgn(0, 0, 0, 0);
        bRounded = ::GetWindowRgn(d.m_hWnd, hRgn) == COMPLEXREGION;
        ::DeleteObject(hRgn);
        d.m_btnClose.SendMessage(BM_CLICK);
    });
    EXPECT_TRUE(bArmedInBand);
    EXPECT_FALSE(bAfterRelease);
    EXPECT_FALSE(bArmedBelow);
    EXPECT_FALSE(bAfterPlainMove);
    EXPECT_TRUE(bRounded);
}
