// The progress dialog with the real backup/restore worker on temporary folders: a run to its
// result, failed files keeping the dialog open, a cancel answered no and then yes (nothing
// written after the yes, the worker joined, no new run over a live worker), the free-space
// and target-removed guards, a disk copy that cannot start reported as a failure, the main
// window marked busy for exactly as long as an operation holds it, the panel's skinned fields
// and buttons where they belong, the file bar with several files copied at once and with an
// empty file, and the current file's name drawn and tipped as it is written.

#include "AppTestUtil.h"
#include "BackUpThread.h"
#include "DataFiles.h"
#include "MakeSureDlg.h"
#include "ProgressDlg.h"
#include "SettingsStore.h"
#include "WriteQueue.h"
#include "LangTestFolder.h"
#include "backup_folders.h"
#include "test_pump.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

using langtest::FileExists;
using langtest::ReadBytes;
using langtest::WriteBytes;

namespace {

struct CTestApp : CWinApp {
    CTestApp() { m_hInstance = ::GetModuleHandleW(nullptr); }
} g_app;

// Answers every prompt that opens on this thread: records its message and presses the button
// the script returns (IDOK or IDCANCEL).
std::function<int(const CString&)> g_answer;
std::vector<CString> g_messages;
HWND g_hAnswered = nullptr;

BOOL CALLBACK FindPrompt(HWND hWnd, LPARAM lParam)
{
    // A prompt already answered may still be up under one opened from its answer.
    if (hWnd != g_hAnswered && ::IsWindowVisible(hWnd) && ::GetDlgItem(hWnd, IDC_MAKESURE_OK)) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerProc(HWND, UINT, UINT_PTR, DWORD)
{
    HWND hPrompt = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindPrompt, reinterpret_cast<LPARAM>(&hPrompt));
    if (!hPrompt || hPrompt == g_hAnswered)
        return;
    g_hAnswered = hPrompt;
    wchar_t szText[512] = {};
    ::GetDlgItemTextW(hPrompt, IDC_MAKESURE_MESSAGE, szText, 512);
    g_messages.push_back(szText);
    int nAnswer = g_answer ? g_answer(szText) : IDOK;
    int nId = nAnswer == IDOK ? IDC_MAKESURE_OK : IDC_MAKESURE_CANCEL;
    ::PostMessageW(hPrompt, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)::GetDlgItem(hPrompt, nId));
}

using testsupport::PumpUntil;

// Free space as the test sets it; a negative value makes the query fail.
class CFreeSpaceShell : public CShellIoTable {
public:
    LONGLONG m_nFree = -2;  // -2: the real answer
    BOOL DiskFreeSpace(const wchar_t* pszPath, ULARGE_INTEGER* a, ULARGE_INTEGER* b, ULARGE_INTEGER* c) override
    {
        if (m_nFree == -2)
            return SystemShellIo().DiskFreeSpace(pszPath, a, b, c);
        if (m_nFree < 0)
            return FALSE;
        if (a)
            a->QuadPart = (ULONGLONG)m_nFree;
        if (b)
            b->QuadPart = (ULONGLONG)m_nFree * 2;
        if (c)
            c->QuadPart = (ULONGLONG)m_nFree;
        return TRUE;
    }
};

// The main window as the dialog sees it: records whether it was marked busy.
class CBusyHost : public CWnd, public IBusyWindow {
public:
    void SetBusy(bool bBusy) override
    {
        m_bBusy = bBusy;
        ++m_nCalls;
    }
    bool m_bBusy = false;
    int m_nCalls = 0;
};

// A slow disk: every block write takes a little while, so that the copy threads overlap.
BOOL WINAPI SlowWrite(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes, LPDWORD pnWritten, LPOVERLAPPED pOverlapped)
{
    ::Sleep(10);
    return ::WriteFile(hFile, pBuffer, nBytes, pnWritten, pOverlapped);
}

class CSlowLanes : public CSystemIoOver {
public:
    CSlowLanes() : m_nOld(CBackUpEngine::s_nCopyLanes) { CBackUpEngine::s_nCopyLanes = 3; }
    ~CSlowLanes() override { CBackUpEngine::s_nCopyLanes = m_nOld; }
    BOOL WriteBlock(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o) override { return SlowWrite(h, p, n, pn, o); }

private:
    int m_nOld;
    CScopedSystemIo m_install{*this};
};

// A child's rectangle in its parent's client coordinates.
CRect ChildRect(HWND hChild)
{
    CRect rc;
    ::GetWindowRect(hChild, &rc);
    ::MapWindowPoints(nullptr, ::GetParent(hChild), (LPPOINT)&rc, 2);
    return rc;
}

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folders.Open());
        ASSERT_TRUE(langtest::MakeFolder(m_strSource));
        g_messages.clear();
        g_answer = nullptr;
        g_hAnswered = nullptr;
        m_nAnswerTimer = ::SetTimer(nullptr, 0, 30, AnswerProc);
        ASSERT_TRUE(m_parent.CreateEx(0, L"STATIC", L"host", WS_POPUP, CRect(0, 0, 600, 320), nullptr, 0));
        ASSERT_TRUE(m_dlg.CreateInPanel(&m_parent, nullptr, 1, CRect(0, 0, 542, 284)));
    }
    void TearDown() override
    {
        ::KillTimer(nullptr, m_nAnswerTimer);
        EXPECT_TRUE(m_dlg.WaitForWorker(20000));
        m_dlg.DestroyWindow();
        m_parent.DestroyWindow();
    }

    void MakeFiles(int nCount, size_t nSize)
    {
        for (int i = 0; i < nCount; ++i) {
            CString strName;
            strName.Format(L"\\f%03d.bin", i);
            strName = m_strSource + strName;
            ASSERT_TRUE(WriteBytes(strName, std::string(nSize, (char)('a' + i % 26))));
        }
    }

    void SelectForBackup(std::initializer_list<CString> paths)
    {
        ASSERT_TRUE(testsupport::WritePathList(JoinPath(m_strData, kFullPathFile), paths));
    }

    CString StorePath(const CString& strSource) const
    {
        CString strRest(strSource);
        strRest.Delete(1);
        return m_strTarget + L"\\VEZORI\\" + strRest;
    }

    int CountStored() const
    {
        int n = 0;
        WIN32_FIND_DATAW fd;
        HANDLE h = ::FindFirstFileW(StorePath(m_strSource) + L"\\*", &fd);
        if (h == INVALID_HANDLE_VALUE)
            return 0;
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && wcsstr(fd.cFileName, L".bin"))
                ++n;
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
        return n;
    }

    void StartBackup()
    {
        ASSERT_TRUE(m_dlg.InitOperation(FALSE, FALSE, L"File Backup", TRUE, m_strTarget, -1, -1));
        ASSERT_TRUE(m_dlg.StartOperation());
    }

    CString ValueText(int i)
    {
        CString s;
        m_dlg.m_btnValue[i].GetWindowText(s);
        return s;
    }

    // The text the current file's tooltip holds.
    CString FileToolTip()
    {
        wchar_t szText[1024] = {};
        TOOLINFOW ti = {};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.hwnd = m_dlg.m_hWnd;
        ti.uId = reinterpret_cast<UINT_PTR>(m_dlg.m_btnFile.m_hWnd);
        ti.lpszText = szText;
        ::SendMessageW(m_dlg.m_hToolTip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&ti));
        return szText;
    }

    testsupport::CBackupFolders m_folders{L"progress"};
    const CString& m_strApp = m_folders.strApp;
    const CString& m_strData = m_folders.strData;
    const CString& m_strSource = m_folders.strSource;
    const CString& m_strTarget = m_folders.strTarget;
    UINT_PTR m_nAnswerTimer = 0;
    CBusyHost m_parent;
    CPropressDlg m_dlg;
};

}  // namespace

TEST(ProgressText, GroupsDigitsFormatsTimesAndComparesDriveLetters)
{
    EXPECT_EQ(CString(L"0"), GroupDigits(0));
    EXPECT_EQ(CString(L"999"), GroupDigits(999));
    EXPECT_EQ(CString(L"1,234"), GroupDigits(1234));
    EXPECT_EQ(CString(L"123,456,789"), GroupDigits(123456789));
    // Over 2 TiB in KiB and bytes stays positive.
    EXPECT_EQ(CString(L"3,298,534,883,328"), GroupDigits(3ull << 40));
    EXPECT_EQ(CString(L"00:00:00"), FormatElapsedTime(0));
    EXPECT_EQ(CString(L"01:02:05"), FormatElapsedTime(3725));
    EXPECT_EQ(CString(L"100:00:59"), FormatElapsedTime(360059));
    EXPECT_TRUE(IsSameDriveLetter(L"E:", L"e:\\"));
    EXPECT_TRUE(IsSameDriveLetter(L"E:\\", L"E:\\dir\\x"));
    EXPECT_FALSE(IsSameDriveLetter(L"E:", L"F:\\"));
    EXPECT_FALSE(IsSameDriveLetter(L"", L"E:\\"));
}

TEST_F(ProgressTest, BackupRunsToItsResultAndGivesTheSlotBack)
{
    MakeFiles(5, 3000);
    SelectForBackup({m_strSource});
    StartBackup();
    EXPECT_TRUE(m_parent.m_bBusy);
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_nEnd != CPropressDlg::END_NONE; }));
    EXPECT_FALSE(m_parent.m_bBusy);
    EXPECT_EQ(CPropressDlg::END_BACKUP, m_dlg.m_nEnd);
    EXPECT_FALSE(m_dlg.IsWorkerAlive());
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_EQ(CString(L"The backup for selected files has been finished !"), g_messages[0]);
    EXPECT_EQ(5, CountStored());
    EXPECT_EQ(CString(L"5 Files"), ValueText(0));
    EXPECT_EQ(CString(L"5 Files"), ValueText(2));
    EXPECT_EQ(100, m_dlg.m_barTotal.m_nPos);
    EXPECT_FALSE(::IsWindowVisible(m_dlg.m_hWnd));

    // A restore of the store brings a deleted file back.
    ASSERT_TRUE(::DeleteFileW(m_strSource + L"\\f001.bin"));
    ASSERT_TRUE(testsupport::WritePathList(JoinPath(m_strApp, kRestoreListFile), {m_strTarget + L"\\VEZORI"}));
    g_messages.clear();
    ASSERT_TRUE(m_dlg.InitOperation(FALSE, FALSE, L"File Restore", FALSE, m_strTarget, -1, -1));
    ASSERT_TRUE(m_dlg.StartOperation());
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_nEnd != CPropressDlg::END_NONE; }));
    EXPECT_EQ(CPropressDlg::END_RESTORE, m_dlg.m_nEnd);
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_EQ(CString(L"The restore for selected files has been finished "), g_messages[0]);
    EXPECT_EQ(std::string(3000, 'b'), ReadBytes(m_strSource + L"\\f001.bin"));
}

TEST_F(ProgressTest, FailedFilesAreListedAndTheDialogWaitsForClose)
{
    MakeFiles(3, 100);
    // A file held open with no sharing cannot be read by the backup.
    HANDLE hHeld = ::CreateFileW(m_strSource + L"\\f002.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    SelectForBackup({m_strSource + L"\\f000.bin", m_strSource + L"\\f002.bin", m_strSource + L"\\f001.bin"});
    StartBackup();
    ASSERT_TRUE(PumpUntil([&] { return !g_messages.empty() && !m_dlg.IsRunning(); }));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(CPropressDlg::END_NONE, m_dlg.m_nEnd);  // stays open with its list
    EXPECT_TRUE(m_parent.m_bBusy);                    // and nothing quits under it
    EXPECT_EQ(CString(L"1 file(s) backup fail!"), g_messages[0]);
    ASSERT_EQ(1, m_dlg.m_listFail.GetCount());
    CString strLine;
    m_dlg.m_listFail.GetText(0, strLine);
    EXPECT_EQ(0, strLine.Find(m_strSource + L"\\f002.bin;"));
    ::CloseHandle(hHeld);
    EXPECT_TRUE(m_dlg.m_btnClose.GetStyle() & WS_VISIBLE);
    EXPECT_EQ(2, CountStored());
    m_dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CLOSE, BN_CLICKED), (LPARAM)m_dlg.m_btnClose.m_hWnd);
    EXPECT_EQ(CPropressDlg::END_BACKUP, m_dlg.m_nEnd);
    EXPECT_FALSE(m_parent.m_bBusy);
}

TEST_F(ProgressTest, CancelPausesAndANoResumesAYesStopsWithNothingMoreWritten)
{
    MakeFiles(200, 64 * 1024);
    SelectForBackup({m_strSource});
    StartBackup();

    // First question answered no: the run goes on to its end.
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_engine.m_nDoneFiles > 0; }));
    g_answer = [](const CString&) { return IDCANCEL; };
    m_dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CANCEL, BN_CLICKED), (LPARAM)m_dlg.m_btnCancel.m_hWnd);
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_EQ(CString(L"Cancel the backup operation?"), g_messages[0]);
    EXPECT_EQ(0, m_dlg.m_bPromptOpen);
    EXPECT_TRUE(m_dlg.IsRunning());
    EXPECT_TRUE(m_parent.m_bBusy);

    // Second question answered yes while the worker is held: no new run over the live worker,
    // and what was stored when the answer came is all there is once the worker has ended.
    int nStoredAtYes = -1;
    BOOL bInitRefused = TRUE;
    g_answer = [&](const CString&) {
        ::Sleep(300);  // the worker reaches its pause point
        nStoredAtYes = CountStored();
        bInitRefused = !m_dlg.InitOperation(FALSE, FALSE, L"x", TRUE, m_strTarget, -1, -1);
        return IDOK;
    };
    m_dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CANCEL, BN_CLICKED), (LPARAM)m_dlg.m_btnCancel.m_hWnd);
    EXPECT_EQ(CPropressDlg::END_CANCELLED, m_dlg.m_nEnd);
    EXPECT_FALSE(m_parent.m_bBusy);
    EXPECT_TRUE(bInitRefused);
    ASSERT_TRUE(m_dlg.WaitForWorker(20000));
    EXPECT_EQ(nStoredAtYes, CountStored());
    EXPECT_LT(CountStored(), 200);
    EXPECT_EQ(1, m_dlg.m_engine.m_bDone.load());
    // Once it has ended a new run may start.
    EXPECT_TRUE(m_dlg.InitOperation(FALSE, FALSE, L"x", TRUE, m_strTarget, -1, -1));
}

TEST_F(ProgressTest, CancelQuestionOutlivedByItsRunStopsNoOtherRun)
{
    MakeFiles(200, 64 * 1024);
    SelectForBackup({m_strSource});
    StartBackup();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_engine.m_nDoneFiles > 0; }));

    // While the question is up the target goes away, which stops the run; a new run starts
    // before the question is answered yes. The answer was for the run that has gone.
    bool bRestarted = false;
    g_answer = [&](const CString& strMessage) {
        if (strMessage != L"Cancel the backup operation?")
            return IDOK;
        m_dlg.OnTargetDiskRemoved(m_strTarget.Left(2));
        EXPECT_EQ(CPropressDlg::END_CANCELLED, m_dlg.m_nEnd);
        EXPECT_TRUE(m_dlg.WaitForWorker(20000));
        bRestarted = m_dlg.InitOperation(FALSE, FALSE, L"File Backup", TRUE, m_strTarget, -1, -1) &&
                     m_dlg.StartOperation();
        return IDOK;
    };
    m_dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CANCEL, BN_CLICKED), (LPARAM)m_dlg.m_btnCancel.m_hWnd);
    ASSERT_TRUE(bRestarted);
    ASSERT_GE(g_messages.size(), 2u);
    EXPECT_EQ(CString(L"Backup terminated: Disk has already been removed!"), g_messages[1]);
    EXPECT_TRUE(m_dlg.IsRunning());
    EXPECT_TRUE(m_parent.m_bBusy);
    g_answer = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_nEnd != CPropressDlg::END_NONE; }, 60000));
    EXPECT_EQ(CPropressDlg::END_BACKUP, m_dlg.m_nEnd);
    EXPECT_EQ(200, CountStored());
}

TEST_F(ProgressTest, LowSpaceStopsBelowFourMebibytesOnly)
{
    CFreeSpaceShell shell;
    MakeFiles(100, 64 * 1024);
    SelectForBackup({m_strSource});

    shell.m_nFree = CPropressDlg::kMinFreeBytes - 1;
    StartBackup();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_nEnd != CPropressDlg::END_NONE; }));
    EXPECT_EQ(CPropressDlg::END_CANCELLED, m_dlg.m_nEnd);
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_EQ(CString(L"Backup terminated:No enough free disk space!"), g_messages[0]);
    EXPECT_EQ(1, m_dlg.m_bFinished);
    ASSERT_TRUE(m_dlg.WaitForWorker(20000));

    // Exactly 4 MiB free: the rest of the files are copied.
    g_messages.clear();
    shell.m_nFree = CPropressDlg::kMinFreeBytes;
    StartBackup();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_nEnd != CPropressDlg::END_NONE; }));
    EXPECT_EQ(CPropressDlg::END_BACKUP, m_dlg.m_nEnd);
    EXPECT_EQ(100, CountStored());
}

TEST_F(ProgressTest, TargetRemovedGuardComparesDriveLettersAndCatchesAFailingQuery)
{
    CFreeSpaceShell shell;
    MakeFiles(100, 64 * 1024);
    SelectForBackup({m_strSource});
    StartBackup();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_engine.m_nDoneFiles > 0; }));
    CString strOther = m_strTarget[0] == L'Q' ? L"R:" : L"Q:";
    m_dlg.OnTargetDiskRemoved(strOther);
    EXPECT_TRUE(m_dlg.IsRunning());
    m_dlg.OnTargetDiskRemoved(m_strTarget.Left(3));  // "C:\" names the target's drive too
    EXPECT_EQ(CPropressDlg::END_CANCELLED, m_dlg.m_nEnd);
    EXPECT_EQ(1, m_dlg.m_bTargetRemoved);
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_EQ(CString(L"Backup terminated: Disk has already been removed!"), g_messages[0]);
    ASSERT_TRUE(m_dlg.WaitForWorker(20000));

    // A free-space query that fails is a target gone, not a full disk.
    g_messages.clear();
    shell.m_nFree = -1;
    StartBackup();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg.m_nEnd != CPropressDlg::END_NONE; }));
    EXPECT_EQ(1, m_dlg.m_bTargetRemoved);
    EXPECT_EQ(0, m_dlg.m_bFinished);
}

TEST_F(ProgressTest, DiskCopyThatCannotStartEndsAsFailure)
{
    ASSERT_TRUE(m_dlg.InitOperation(TRUE, FALSE, L"Disk Copy", TRUE, CString(), 0, 1));
    EXPECT_FALSE(m_dlg.StartOperation());
    EXPECT_FALSE(m_dlg.IsWorkerAlive());
    EXPECT_EQ(CPropressDlg::END_CANCELLED, m_dlg.m_nEnd);
    EXPECT_FALSE(m_parent.m_bBusy);
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_EQ(CString(L"The disk copy has failed!"), g_messages[0]);
}

TEST_F(ProgressTest, FieldsAreSkinnedLabelsAndTheButtonsSkinnedButtonsInTheirPlaces)
{
    CRect rcClient;
    m_dlg.GetClientRect(&rcClient);
    ASSERT_EQ(CPropressDlg::kWidth, rcClient.Width());

    // The four value fields and the current file: skinned buttons that only show text.
    const UINT kFields[5] = {IDC_PROGRESS_TOTAL_VALUE, IDC_PROGRESS_SPENT_VALUE, IDC_PROGRESS_DONE_VALUE,
                             IDC_PROGRESS_LEFT_VALUE, IDC_PROGRESS_FILE};
    for (UINT id : kFields) {
        SCOPED_TRACE(id);
        HWND h = ::GetDlgItem(m_dlg.m_hWnd, id);
        CButtonST* p = dynamic_cast<CButtonST*>(CWnd::FromHandlePermanent(h));
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(BS_OWNERDRAW, p->GetStyle() & BS_TYPEMASK);
        EXPECT_FALSE(p->GetTracking());          // no hover, no press
        EXPECT_TRUE(p->IsTransparent());         // drawn over the dialog's picture
        EXPECT_FALSE(p->IsSkinned());
        EXPECT_EQ(0u, p->GetStyle() & WS_TABSTOP);
    }
    EXPECT_EQ(CRect(25, 70, CPropressDlg::kWidth - 25, 82), ChildRect(m_dlg.m_btnFile.m_hWnd));

    // Each value field 5 pixels after its label: two rows, the second 6 pixels below the first.
    const int kWidths[4] = {150, 100, 150, 100};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        CRect rcLabel = ChildRect(m_dlg.m_stLabel[i].m_hWnd);
        CRect rcValue = ChildRect(m_dlg.m_btnValue[i].m_hWnd);
        EXPECT_EQ(i % 2 ? 300 : 25, rcLabel.left);
        EXPECT_EQ(i < 2 ? 88 : 88 + rcLabel.Height() + 6, rcLabel.top);
        EXPECT_EQ(rcLabel.right + 5, rcValue.left);
        EXPECT_EQ(rcLabel.top, rcValue.top);
        EXPECT_EQ(kWidths[i], rcValue.Width());
    }
    EXPECT_EQ(50, ChildRect(m_dlg.m_stTitle.m_hWnd).bottom);

    // The title and the labels are see-through.
    HDC hdc = ::GetDC(m_dlg.m_hWnd);
    for (CStatic* p : {&m_dlg.m_stTitle, &m_dlg.m_stLabel[0], &m_dlg.m_stLabel[1], &m_dlg.m_stLabel[2],
                       &m_dlg.m_stLabel[3]}) {
        ::SetBkMode(hdc, OPAQUE);
        LRESULT hbr = m_dlg.SendMessage(WM_CTLCOLORSTATIC, (WPARAM)hdc, (LPARAM)p->m_hWnd);
        EXPECT_EQ((LRESULT)::GetStockObject(NULL_BRUSH), hbr);
        EXPECT_EQ(TRANSPARENT, ::GetBkMode(hdc));
    }
    ::ReleaseDC(m_dlg.m_hWnd, hdc);

    // Cancel and close: skinned push buttons; the close button ends 10 pixels from the right.
    for (CButtonST* p : {&m_dlg.m_btnCancel, &m_dlg.m_btnClose}) {
        EXPECT_TRUE(p->IsSkinned());
        EXPECT_TRUE(p->GetTracking());
        EXPECT_EQ(BS_OWNERDRAW, p->GetStyle() & BS_TYPEMASK);
    }
    EXPECT_EQ(CPropressDlg::kWidth - 10, ChildRect(m_dlg.m_btnClose.m_hWnd).right);
    CString strCaption;
    m_dlg.m_btnCancel.GetWindowText(strCaption);
    EXPECT_EQ(CString(L"Cancel"), strCaption);
    m_dlg.m_btnClose.GetWindowText(strCaption);
    EXPECT_EQ(CString(L"Close"), strCaption);
}

TEST_F(ProgressTest, FileBarShowsTheNamedFilesBytesWhileSeveralFilesAreCopiedAtOnce)
{
    // Small files of different sizes with a few larger ones among them: the small ones are
    // copied three at a time, each larger one alone while the others wait with their next
    // file open.
    std::map<CString, ULONGLONG> sizes;
    ULONGLONG nTotal = 0;
    const int kFiles = 40;
    for (int i = 0; i < kFiles; ++i) {
        const size_t nSize = i % 10 == 5 ? CBackUpEngine::COPY_CHUNK * 2 + 1000 + i : 700 + 97 * i;
        CString strName;
        strName.Format(L"\\f%03d.bin", i);
        strName = m_strSource + strName;
        ASSERT_TRUE(WriteBytes(strName, std::string(nSize, (char)('a' + i % 26))));
        sizes[strName] = nSize;
        nTotal += nSize;
    }
    SelectForBackup({m_strSource});
    // Several files at once is the plain backup's way.
    ASSERT_TRUE(WriteSucceeded(SaveInitValueIn(m_strData, L"CompressFile", L"0")));
    CSlowLanes slow;
    StartBackup();

    // After every timer step: the bar's bytes and size are the shown file's.
    int nChecked = 0;
    std::vector<CString> mismatches;
    std::vector<CString> shown;
    ASSERT_TRUE(PumpUntil([&] {
        const CString strFile = m_dlg.m_strShownFile;
        if (!strFile.IsEmpty() && m_dlg.m_nShownFileSize != 0) {
            ++nChecked;
            auto it = sizes.find(strFile);
            if (it == sizes.end() || it->second != m_dlg.m_nShownFileSize ||
                m_dlg.m_nShownFileDone > m_dlg.m_nShownFileSize) {
                CString s;
                s.Format(L"%ls: %llu of %llu", (const wchar_t*)strFile, m_dlg.m_nShownFileDone,
                         m_dlg.m_nShownFileSize);
                mismatches.push_back(s);
            }
            if (shown.empty() || shown.back() != strFile)
                shown.push_back(strFile);
        }
        return m_dlg.m_nEnd != CPropressDlg::END_NONE;
    }, 60000));
    EXPECT_EQ(CPropressDlg::END_BACKUP, m_dlg.m_nEnd);
    EXPECT_GT(nChecked, 0);
    EXPECT_GT(shown.size(), 1u);
    for (const CString& s : mismatches)
        ADD_FAILURE() << CStringA(s).GetString();
    EXPECT_TRUE(mismatches.empty());

    // The totals stay exact.
    EXPECT_EQ(nTotal, m_dlg.m_engine.m_nDoneBytes.load());
    EXPECT_EQ(nTotal, m_dlg.m_engine.m_nTotalBytes.load());
    EXPECT_EQ(kFiles, m_dlg.m_engine.m_nDoneFiles.load());
    EXPECT_EQ(kFiles, CountStored());

    // The tooltip follows the name shown.
    CString strText;
    m_dlg.m_btnFile.GetWindowText(strText);
    EXPECT_EQ(m_dlg.m_strShownFile, strText);
    EXPECT_EQ(strText, FileToolTip());
}

namespace {

// The engine as a worker leaves it while it copies: the named file has started, with its size
// and the bytes of it copied so far.
void SetCurrentFile(CBackUpEngine& engine, const CString& strName, ULONGLONG nSize, ULONGLONG nDone)
{
    engine.m_strCurrentFile = strName;
    engine.m_nFileBytes = nSize;
    engine.m_nFileDoneBytes = nDone;
    engine.m_bFileStarted = 1;
}

}  // namespace

TEST_F(ProgressTest, FileBarShowsOnlyTheNamedFilesBytesEvenForAnEmptyFile)
{
    // A run whose copying has begun, its steps driven here (a restore: no free-space guard).
    ASSERT_TRUE(m_dlg.InitOperation(FALSE, FALSE, L"File Restore", FALSE, m_strTarget, -1, -1));
    m_dlg.m_bRunning = 1;
    m_dlg.m_engine.m_nTotalFiles = 3;
    m_dlg.m_engine.m_nTotalBytes = 1000;
    m_dlg.m_engine.m_nDoneBytes = 60;
    auto shownFile = [&] {
        CString s;
        m_dlg.m_btnFile.GetWindowText(s);
        return s;
    };

    SetCurrentFile(m_dlg.m_engine, L"C:\\data\\a.bin", 100, 60);
    m_dlg.TimerStep();
    EXPECT_EQ(CString(L"C:\\data\\a.bin"), shownFile());
    EXPECT_EQ(60, m_dlg.m_barFile.m_nPos);

    // An empty file next: its name with an empty bar, not with the 60 % of the file before.
    SetCurrentFile(m_dlg.m_engine, L"C:\\data\\empty.bin", 0, 0);
    m_dlg.TimerStep();
    EXPECT_EQ(CString(L"C:\\data\\empty.bin"), shownFile());
    EXPECT_EQ(CString(L"C:\\data\\empty.bin"), FileToolTip());
    EXPECT_EQ(0, m_dlg.m_barFile.m_nPos);
    m_dlg.TimerStep();
    EXPECT_EQ(0, m_dlg.m_barFile.m_nPos);

    // A file that grew while it was copied fills its bar and no more.
    SetCurrentFile(m_dlg.m_engine, L"C:\\data\\grown.log", 200, 350);
    m_dlg.TimerStep();
    EXPECT_EQ(100, m_dlg.m_barFile.m_nPos);
    EXPECT_EQ(CString(L"C:\\data\\grown.log"), FileToolTip());
    m_dlg.m_bRunning = 0;
}

namespace {

// The leftmost and rightmost pixel columns where a field's caption is drawn: the field is
// drawn once with its text and once without, over the same background.
std::pair<int, int> InkColumns(CButtonST& field)
{
    CRect rc;
    field.GetClientRect(&rc);
    const int w = rc.Width(), h = rc.Height();
    auto draw = [&](std::vector<DWORD>& pixels) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* pBits = nullptr;
        HDC hdc = ::CreateCompatibleDC(nullptr);
        HBITMAP hbm = ::CreateDIBSection(hdc, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
        HGDIOBJ old = ::SelectObject(hdc, hbm);
        DRAWITEMSTRUCT dis = {ODT_BUTTON, (UINT)field.GetDlgCtrlID(), 0, ODA_DRAWENTIRE, 0, field.m_hWnd, hdc, rc, 0};
        field.DrawItem(&dis);
        ::GdiFlush();
        const DWORD* p = static_cast<const DWORD*>(pBits);
        pixels.assign(p, p + w * h);
        ::SelectObject(hdc, old);
        ::DeleteObject(hbm);
        ::DeleteDC(hdc);
    };
    CString strText;
    field.GetWindowText(strText);
    std::vector<DWORD> with, without;
    draw(with);
    field.SetWindowText(L"");
    draw(without);
    field.SetWindowText(strText);
    int left = w, right = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (with[y * w + x] != without[y * w + x]) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

// The advance width of the text in the field's font, every character counted as written.
int TextWidth(CWnd& field, const CString& strText)
{
    HDC hdc = ::GetDC(field.m_hWnd);
    HGDIOBJ old = ::SelectObject(hdc, (HFONT)field.SendMessage(WM_GETFONT));
    SIZE size = {};
    ::GetTextExtentPoint32W(hdc, strText, strText.GetLength(), &size);
    ::SelectObject(hdc, old);
    ::ReleaseDC(field.m_hWnd, hdc);
    return size.cx;
}

}  // namespace

TEST_F(ProgressTest, CurrentFileIsShownAndTippedWithItsAmpersandsAndTheTipStaysUp)
{
    ASSERT_TRUE(m_dlg.InitOperation(FALSE, FALSE, L"File Restore", FALSE, m_strTarget, -1, -1));
    m_dlg.m_bRunning = 1;
    m_dlg.m_engine.m_nTotalBytes = 1000;

    // A file name is data: every "&" in it is drawn, none taken as a mnemonic prefix.
    const CString strName = L"C:\\R & D\\W & W & W.txt";
    SetCurrentFile(m_dlg.m_engine, strName, 100, 10);
    m_dlg.TimerStep();
    const std::pair<int, int> ink = InkColumns(m_dlg.m_btnFile);
    ASSERT_GE(ink.second, ink.first);
    const int nWritten = TextWidth(m_dlg.m_btnFile, strName);
    const int nWithoutAmpersands = TextWidth(m_dlg.m_btnFile, L"C:\\R  D\\W  W  W.txt");
    ASSERT_GT(nWritten - nWithoutAmpersands, 6);
    EXPECT_NEAR(nWritten, ink.second - ink.first + 1, 3);
    EXPECT_TRUE(::GetWindowLongW(m_dlg.m_hToolTip, GWL_STYLE) & TTS_NOPREFIX);
    EXPECT_EQ(strName, FileToolTip());

    // The tip shown over the name stays up when the next file is named, with the new name.
    m_parent.ShowWindow(SW_SHOWNOACTIVATE);
    m_dlg.ShowWindow(SW_SHOW);
    m_parent.UpdateWindow();
    CRect rc;
    m_dlg.m_btnFile.GetWindowRect(&rc);
    ::SetCursorPos(rc.left + 20, rc.CenterPoint().y);
    m_dlg.m_btnFile.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(20, rc.Height() / 2));
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(m_dlg.m_hToolTip) != FALSE; }, 5000));
    SetCurrentFile(m_dlg.m_engine, L"C:\\data\\next.bin", 100, 20);
    m_dlg.TimerStep();
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(::IsWindowVisible(m_dlg.m_hToolTip));
    EXPECT_EQ(CString(L"C:\\data\\next.bin"), FileToolTip());
    m_dlg.m_bRunning = 0;
}
