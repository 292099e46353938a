// OLE drag and drop of the class layer under Wine: the real drag loop between a data
// source and a registered drop target, the effect the target's OnDrop is handed, and the
// registration's lifetime.
#include <gtest/gtest.h>

#include "afxole.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const CLIPFORMAT CF_TEST = (CLIPFORMAT)::RegisterClipboardFormatW(L"ZulOleTestFormat");

// A target that answers every enter and over with one effect and records what it saw.
class CRecordingTarget : public COleDropTarget {
public:
    DROPEFFECT answer = DROPEFFECT_COPY;
    BOOL dropResult = TRUE;
    std::vector<std::string> log;
    DROPEFFECT droppedEffect = 0xFFFFFFFF;
    std::string droppedText;
    CPoint lastPoint;

    DROPEFFECT OnDragEnter(CWnd*, COleDataObject*, DWORD, CPoint point) override
    {
        log.push_back("enter");
        lastPoint = point;
        return answer;
    }
    DROPEFFECT OnDragOver(CWnd*, COleDataObject*, DWORD, CPoint point) override
    {
        if (log.empty() || log.back() != "over")
            log.push_back("over");
        lastPoint = point;
        return answer;
    }
    BOOL OnDrop(CWnd*, COleDataObject* pData, DROPEFFECT effect, CPoint point) override
    {
        log.push_back("drop");
        droppedEffect = effect;
        lastPoint = point;
        if (HGLOBAL h = pData->GetGlobalData(CF_TEST)) {
            droppedText = static_cast<const char*>(::GlobalLock(h));
            ::GlobalUnlock(h);
            ::GlobalFree(h);
        }
        return dropResult;
    }
    void OnDragLeave(CWnd*) override { log.push_back("leave"); }
};

// Holds the drag for a few rounds of the loop, then drops or cancels.
class CScriptedSource : public COleDropSource {
public:
    int rounds = 0;
    int holdFor = 6;
    SCODE finish = DRAGDROP_S_DROP;
    SCODE QueryContinueDrag(BOOL, DWORD) override { return ++rounds < holdFor ? S_OK : finish; }
};

class COleTest : public ::testing::Test {
protected:
    CWnd host;
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        ASSERT_TRUE(host.CreateEx(0, nullptr, L"drop host", WS_POPUP | WS_VISIBLE, CRect(100, 100, 400, 300),
                                  nullptr, 0));
        ::SetForegroundWindow(host.m_hWnd);
        ::UpdateWindow(host.m_hWnd);
        ::SetCursorPos(250, 200);  // the middle of the host
    }
    void TearDown() override
    {
        host.DestroyWindow();
        ::OleUninitialize();
    }
};

HGLOBAL GlobalText(const char* s)
{
    size_t n = strlen(s) + 1;
    HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE, n);
    memcpy(::GlobalLock(h), s, n);
    ::GlobalUnlock(h);
    return h;
}

TEST(OleEffects, TheLoopSeesRunAsLinkAndNothingTheSourceForbids)
{
    EXPECT_EQ(DROPEFFECT_LINK, COleDropTarget::MaskEffect(DROPEFFECT_RUN, 7));
    EXPECT_EQ(DROPEFFECT_NONE, COleDropTarget::MaskEffect(DROPEFFECT_RUN, DROPEFFECT_COPY | DROPEFFECT_MOVE));
    EXPECT_EQ(DROPEFFECT_COPY, COleDropTarget::MaskEffect(DROPEFFECT_COPY, 7));
    EXPECT_EQ(DROPEFFECT_NONE, COleDropTarget::MaskEffect(DROPEFFECT_MOVE, DROPEFFECT_COPY));
    EXPECT_EQ(DROPEFFECT_NONE, COleDropTarget::MaskEffect(DROPEFFECT_NONE, 7));
}

TEST_F(COleTest, DropHandsTheTargetItsOwnEffectAndTheSourceSeesTheMaskedOne)
{
    CRecordingTarget target;
    target.answer = DROPEFFECT_RUN;
    ASSERT_TRUE(target.Register(&host));

    COleDataSource source;
    source.CacheGlobalData(CF_TEST, GlobalText("payload"));
    CScriptedSource dropSource;
    DROPEFFECT result = source.DoDragDrop(7, nullptr, &dropSource);

    ASSERT_FALSE(target.log.empty());
    EXPECT_EQ("enter", target.log.front());
    EXPECT_EQ("drop", target.log.back());
    EXPECT_EQ(DROPEFFECT_RUN, target.droppedEffect);  // not the link the loop was shown
    EXPECT_EQ(DROPEFFECT_LINK, result);
    EXPECT_EQ("payload", target.droppedText);
    EXPECT_EQ(CPoint(150, 100), target.lastPoint);  // client coordinates of the host
}

TEST_F(COleTest, RefusedOrCancelledDropsReportNoEffect)
{
    CRecordingTarget target;
    ASSERT_TRUE(target.Register(&host));
    COleDataSource source;

    // The target takes the drop but says it failed.
    target.answer = DROPEFFECT_MOVE;
    target.dropResult = FALSE;
    CScriptedSource drop1;
    EXPECT_EQ(DROPEFFECT_NONE, source.DoDragDrop(7, nullptr, &drop1));
    EXPECT_EQ("drop", target.log.back());

    // The target offers nothing: it never sees a drop, only the leave.
    target.log.clear();
    target.answer = DROPEFFECT_NONE;
    CScriptedSource drop2;
    EXPECT_EQ(DROPEFFECT_NONE, source.DoDragDrop(7, nullptr, &drop2));
    EXPECT_EQ(0, std::count(target.log.begin(), target.log.end(), std::string("drop")));

    // The user cancels: leave, no drop.
    target.log.clear();
    target.answer = DROPEFFECT_COPY;
    CScriptedSource cancel;
    cancel.finish = DRAGDROP_S_CANCEL;
    EXPECT_EQ(DROPEFFECT_NONE, source.DoDragDrop(7, nullptr, &cancel));
    ASSERT_FALSE(target.log.empty());
    EXPECT_EQ("leave", target.log.back());
    EXPECT_EQ(0, std::count(target.log.begin(), target.log.end(), std::string("drop")));
}

TEST_F(COleTest, RegistrationLastsUntilRevokeOrDestruction)
{
    {
        CRecordingTarget first;
        ASSERT_TRUE(first.Register(&host));
        EXPECT_EQ(host.m_hWnd, first.GetRegisteredWnd()->m_hWnd);
        CRecordingTarget second;
        EXPECT_FALSE(second.Register(&host));  // one target per window
        first.Revoke();
        EXPECT_TRUE(second.Register(&host));
        EXPECT_FALSE(second.Register(&host));  // and one window per target
    }
    // Both went out of scope: the window is free again.
    CRecordingTarget third;
    EXPECT_TRUE(third.Register(&host));
    CRecordingTarget orphan;
    EXPECT_FALSE(orphan.Register(nullptr));
}

TEST(OleData, TheSourceOffersCopiesOfWhatItCaches)
{
    COleDataSource source;
    source.CacheGlobalData(CF_TEST, GlobalText("first"));
    source.CacheGlobalData(CF_TEST, GlobalText("second"));  // replaces
    COleDataObject data;
    data.Attach(source.GetInterface(), FALSE);
    EXPECT_TRUE(data.IsDataAvailable(CF_TEST));
    EXPECT_FALSE(data.IsDataAvailable(CF_TEXT));
    HGLOBAL h = data.GetGlobalData(CF_TEST);
    ASSERT_NE(nullptr, h);
    EXPECT_STREQ("second", static_cast<const char*>(::GlobalLock(h)));
    ::GlobalUnlock(h);
    ::GlobalFree(h);
    EXPECT_EQ(nullptr, data.GetGlobalData(CF_TEXT));

    IEnumFORMATETC* pEnum = nullptr;
    ASSERT_EQ(S_OK, source.GetInterface()->EnumFormatEtc(DATADIR_GET, &pEnum));
    FORMATETC fmt;
    ULONG n = 0;
    EXPECT_EQ(S_OK, pEnum->Next(1, &fmt, &n));
    EXPECT_EQ(CF_TEST, fmt.cfFormat);
    EXPECT_EQ(S_FALSE, pEnum->Next(1, &fmt, &n));
    pEnum->Release();
    data.Detach();
}

TEST(WaitCursor, ShowsTheHourglassForItsScope)
{
    HCURSOR hArrow = ::LoadCursorW(nullptr, IDC_ARROW);
    ::SetCursor(hArrow);
    {
        CWaitCursor wait;
        EXPECT_EQ(::LoadCursorW(nullptr, IDC_WAIT), ::GetCursor());
        ::SetCursor(hArrow);
        wait.Restore();
        EXPECT_EQ(::LoadCursorW(nullptr, IDC_WAIT), ::GetCursor());
    }
    EXPECT_EQ(hArrow, ::GetCursor());
}

} // namespace
