// The progress bar, the failure list box, the skinned edit and combo box.
#include <gtest/gtest.h>

#include "SharedFunctions.h"
#include "SkinControls.h"
#include "wintest_util.h"

namespace {

void LoadBarImages(CProgressCtrlX& bar)
{
    ASSERT_TRUE(LoadPngResource(285, bar.m_imgLeft));
    PremultiplyAlpha(bar.m_imgLeft);
    ASSERT_TRUE(LoadPngResource(286, bar.m_imgBar));
    ASSERT_TRUE(LoadPngResource(287, bar.m_imgRight));
    PremultiplyAlpha(bar.m_imgRight);
    ASSERT_TRUE(LoadPngResource(284, bar.m_imgBack));
    PremultiplyAlpha(bar.m_imgBack);
}

void Show(CWnd& w, int pos, CProgressCtrlX& bar)
{
    bar.m_nPos = pos;
    bar.Invalidate(FALSE);
    w.UpdateWindow();
    bar.UpdateWindow();
}

}  // namespace

TEST(ProgressCtrlXTest, BarEndClampsAndNeverDividesByZero)
{
    CProgressCtrlX bar;
    bar.m_nPos = 50;
    EXPECT_EQ(bar.BarEnd(200), 100);
    bar.m_nPos = 150;
    EXPECT_EQ(bar.BarEnd(200), 200);  // clamped to the maximum
    bar.m_nPos = -20;
    EXPECT_EQ(bar.BarEnd(200), 0);
    bar.m_nMin = bar.m_nMax = 30;  // empty range: no bar, no division
    bar.m_nPos = 30;
    EXPECT_EQ(bar.BarEnd(200), 0);
    bar.m_nMin = 50;
    bar.m_nMax = 10;  // reversed range
    EXPECT_EQ(bar.BarEnd(200), 0);
    bar.m_nMin = 0;
    bar.m_nMax = 2000000000;
    bar.m_nPos = 1999999999;
    EXPECT_EQ(bar.BarEnd(1000), 999);  // no overflow on large ranges
}

TEST(ProgressCtrlXTest, PixelsAtGivenPositions)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 260, 120));
    CProgressCtrlX bar;
    ASSERT_TRUE(bar.Create(WS_VISIBLE, CRect(20, 20, 220, 44), &host, 400));
    LoadBarImages(bar);
    const COLORREF track = ImagePixel(284, 178, 12);
    const COLORREF body = ImagePixel(286, 6, 12);
    ASSERT_FALSE(Near(track, body));

    Show(host, 0, bar);  // position 0: the background only
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 20, 12), track)) << ColorText(ScreenPixel(bar.m_hWnd, 20, 12));
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 180, 12), track));
    // The track's rounded corner lets the parent's captured background show. The bar lays it
    // down from the picture it kept at its first paint: with the parent now painted in another
    // colour, the corner still shows the kept one, so the pixel is the bar's own drawing.
    const COLORREF kept = host.m_crFill;
    host.m_crFill = RGB(20, 40, 230);
    host.Invalidate(TRUE);
    host.UpdateWindow();
    Show(host, 0, bar);
    EXPECT_TRUE(Near(ScreenPixel(host.m_hWnd, 5, 5), host.m_crFill)) << ColorText(ScreenPixel(host.m_hWnd, 5, 5));
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 0, 0), kept)) << ColorText(ScreenPixel(bar.m_hWnd, 0, 0));

    Show(host, 50, bar);
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 50, 12), body)) << ColorText(ScreenPixel(bar.m_hWnd, 50, 12));
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 150, 12), track));

    Show(host, 100, bar);  // the maximum: the bar reaches the right end
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 150, 12), body));
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 195, 12), ImagePixel(287, 2, 12), 10));

    Show(host, 1000, bar);  // past the maximum: drawn as the maximum
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 195, 12), ImagePixel(287, 2, 12), 10));

    bar.m_nMin = bar.m_nMax = 100;  // empty range: background only, no crash
    Show(host, 100, bar);
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 50, 12), track));
}

TEST(ProgressCtrlXTest, SegmentedBarLeavesGaps)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 260, 80));
    CProgressCtrlX bar;
    ASSERT_TRUE(bar.Create(WS_VISIBLE, CRect(10, 10, 210, 28), &host, 401));
    ASSERT_TRUE(LoadPngResource(281, bar.m_imgBack));
    PremultiplyAlpha(bar.m_imgBack);
    ASSERT_TRUE(LoadPngResource(282, bar.m_imgBar));
    PremultiplyAlpha(bar.m_imgBar);
    ASSERT_TRUE(LoadPngResource(283, bar.m_imgLeft));
    PremultiplyAlpha(bar.m_imgLeft);
    bar.m_bSegmented = TRUE;
    bar.m_nSegmentGap = 2;
    Show(host, 100, bar);
    // Left end 1..4, segments of 8 from x 4 with gaps of 2: 4..12, 14..22, ...
    const COLORREF segment = ImagePixel(282, 4, 8);
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 8, 9), segment, 10)) << ColorText(ScreenPixel(bar.m_hWnd, 8, 9));
    EXPECT_FALSE(Near(ScreenPixel(bar.m_hWnd, 13, 9), segment, 10)) << ColorText(ScreenPixel(bar.m_hWnd, 13, 9));
    EXPECT_TRUE(Near(ScreenPixel(bar.m_hWnd, 18, 9), segment, 10));
}

TEST(MyListboxTest, HorizontalExtentIsTheWidestLine)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 300, 200));
    CMyListbox list;
    ASSERT_TRUE(list.Create(WS_VISIBLE | WS_BORDER | WS_HSCROLL | WS_VSCROLL | LBS_NOTIFY, CRect(10, 10, 210, 150),
                            &host, 410));
    CFont font;
    font.CreateFont(14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    list.SetFont(&font);
    auto width = [&](const wchar_t* s) {
        HDC hdc = ::GetDC(list.m_hWnd);
        HGDIOBJ old = ::SelectObject(hdc, font.m_hObject);
        SIZE sz = {};
        ::GetTextExtentPoint32W(hdc, s, (int)wcslen(s), &sz);
        ::SelectObject(hdc, old);
        ::ReleaseDC(list.m_hWnd, hdc);
        return (int)sz.cx;
    };
    list.UpdateHorizontalExtent();
    EXPECT_EQ(list.GetHorizontalExtent(), 0);

    const wchar_t* longLine = L"C:\\a rather long folder name\\with a longer file name than the list is wide.txt;"
                              L"The system cannot find the file specified.";
    EXPECT_EQ(list.InsertStringAndSelect(-1, longLine), 0);
    EXPECT_EQ(list.GetHorizontalExtent(), width(longLine));
    EXPECT_EQ(list.GetCurSel(), 0);
    // A shorter line keeps the extent and is selected.
    EXPECT_EQ(list.InsertStringAndSelect(-1, L"C:\\x.txt;Access is denied."), 1);
    EXPECT_EQ(list.GetHorizontalExtent(), width(longLine));
    EXPECT_EQ(list.GetCurSel(), 1);
    // Through the copy engine's interface the line goes to the end.
    CFailSink* sink = &list;
    sink->InsertStringAndSelect(CString(L"C:\\y.txt;Fail(5)"));
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetCurSel(), 2);
    // Removing the widest line shrinks the extent; an empty list has none.
    list.DeleteString(0);
    EXPECT_EQ(list.GetHorizontalExtent(), width(L"C:\\x.txt;Access is denied."));
    list.ResetContent();
    EXPECT_EQ(list.GetHorizontalExtent(), 0);
}

TEST(MyEditTest, ReadOnlyBoxIgnoresClicksAndStatesFollowTheWindow)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 300, 120));
    CMyEdit ro, rw;
    ASSERT_TRUE(ro.Create(WS_VISIBLE | ES_READONLY, CRect(10, 10, 150, 32), &host, 420));
    ASSERT_TRUE(rw.Create(WS_VISIBLE, CRect(10, 50, 150, 72), &host, 421));
    ro.LoadImages(258);
    rw.LoadImages(258);
    ro.SetWindowText(L"read only");
    host.SetFocus();
    ro.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 10));
    ro.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(20, 10));
    EXPECT_NE(::GetFocus(), ro.m_hWnd);
    rw.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 10));
    rw.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(20, 10));
    EXPECT_EQ(::GetFocus(), rw.m_hWnd);

    // The frame is drawn from the state's image: focused, then disabled.
    rw.Invalidate();
    rw.UpdateWindow();
    EXPECT_EQ(rw.GetStateIndex(), 2);
    EXPECT_TRUE(Near(ScreenPixel(rw.m_hWnd, 60, 1), ImagePixel(257, 60, 1), 12))
        << ColorText(ScreenPixel(rw.m_hWnd, 60, 1));
    rw.EnableWindow(FALSE);
    rw.Invalidate();
    rw.UpdateWindow();
    EXPECT_EQ(rw.GetStateIndex(), 3);
}

TEST(MyComboBoxTest, PaintsItsSlicesAndRemembersTheDropArea)
{
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(100, 100, 300, 200));
    CMyComboBox combo;
    ASSERT_TRUE(combo.Create(WS_VISIBLE | CBS_DROPDOWNLIST, CRect(10, 10, 160, 150), &host, 430));
    combo.LoadSkinImages();
    combo.AddString(L"E:\\");
    combo.SetCurSel(0);
    combo.Invalidate();
    combo.UpdateWindow();
    CRect rc;
    combo.GetClientRect(&rc);
    EXPECT_EQ(combo.GetDropRect().right, rc.right);
    EXPECT_EQ(combo.GetDropRect().Width(), 18);  // its image less 2 pixels
    // The middle of the drop button is the normal drop image's.
    int y = rc.Height() / 2;
    COLORREF expect = ImagePixel(265, 17, 22 * y / rc.Height());
    EXPECT_TRUE(Near(ScreenPixel(combo.m_hWnd, rc.right - 2, y), expect, 12))
        << ColorText(ScreenPixel(combo.m_hWnd, rc.right - 2, y));
    combo.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(20, 5));
    EXPECT_TRUE(combo.IsHover());
    combo.SendMessage(WM_MOUSELEAVE);
    EXPECT_FALSE(combo.IsHover());
}
