// A run whose memory runs out, end to end through the worker: this program replaces the global
// operator new, so that allocations of one chosen thread fail from a chosen point on. Memory
// that runs out while the selection is collected, or while a file is copied (one file at a
// time, on a further copy lane, compressed, or restored), ends the run as failed with the fail
// line that says so: the run's end flags are set, the restore list is gone, no temporary copy
// is left, the file whose copy was under way keeps its earlier copy, nothing after it is copied,
// and the engine runs again afterwards as if nothing had happened.

#include <optional>

#include "BackUpEngine.h"
#include "BackUpThread.h"
#include "DataFiles.h"
#include "LangTestFolder.h"
#include "TempCopies.h"
#include "XmlDocument.h"
#include "engine_test_support.h"

#include <gtest/gtest.h>

// The replacements of operator new and delete below pair malloc with free themselves.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

// The thread whose allocations fail (0: none), how many it may still make before they do, and
// whether they go on failing after the first (else the first failure disarms).
std::atomic<DWORD> g_dwFailThread{0};
std::atomic<long> g_nAllowed{0};
std::atomic<bool> g_bKeepFailing{false};
std::atomic<int> g_nFailures{0};

// The thread whose allocations are counted (0: none), and how many it has made.
std::atomic<DWORD> g_dwCountThread{0};
std::atomic<long> g_nCounted{0};

bool AllocationFails()
{
    if (g_dwCountThread.load(std::memory_order_relaxed) == ::GetCurrentThreadId())
        ++g_nCounted;
    const DWORD t = g_dwFailThread.load(std::memory_order_relaxed);
    if (t == 0 || t != ::GetCurrentThreadId())
        return false;
    if (g_nAllowed.fetch_sub(1) > 0)
        return false;
    if (!g_bKeepFailing)
        g_dwFailThread = 0;
    ++g_nFailures;
    return true;
}

void ArmFailure(DWORD dwThread, long nAllowed, bool bKeepFailing)
{
    g_nAllowed = nAllowed;
    g_bKeepFailing = bKeepFailing;
    g_dwFailThread = dwThread;
}

void Disarm()
{
    g_dwFailThread = 0;
    g_dwCountThread = 0;
}

void* Allocate(std::size_t n)
{
    if (AllocationFails())
        return nullptr;
    return std::malloc(n ? n : 1);
}

} // namespace

void* operator new(std::size_t n)
{
    if (void* p = Allocate(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    if (void* p = Allocate(n))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// The engine's folder listings and flushes, passed on to the system's, with a test's action:
// the listings note the worker thread (the collectors list on it) and count the entries read,
// the flushes come when a copy is complete and still only a temporary file.
std::atomic<DWORD> g_dwWorker{0};
std::atomic<int> g_nEntriesRead{0};
std::function<void(int nEntry)> g_onEntry;
std::function<void(HANDLE hFile)> g_onFlush;

HANDLE WINAPI ListFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData)
{
    g_dwWorker = ::GetCurrentThreadId();
    return ::FindFirstFileW(pszPattern, pData);
}

BOOL WINAPI ListNext(HANDLE hFind, LPWIN32_FIND_DATAW pData)
{
    const BOOL ok = ::FindNextFileW(hFind, pData);
    const int n = ++g_nEntriesRead;
    if (ok && g_onEntry)
        g_onEntry(n);
    return ok;
}

BOOL WINAPI Flush(HANDLE hFile)
{
    const BOOL ok = ::FlushFileBuffers(hFile);
    if (ok && g_onFlush)
        g_onFlush(hFile);
    return ok;
}

ULONGLONG SizeOf(HANDLE hFile)
{
    LARGE_INTEGER size{};
    ::GetFileSizeEx(hFile, &size);
    return static_cast<ULONGLONG>(size.QuadPart);
}

const int kFolders = 3;
const int kFilesPerFolder = 12;
const wchar_t kFailText[] = L"(test) out of memory";

// A program folder with its data folder, a source tree and a target drive whose store holds an
// earlier backup of every source file.
class EngineMemoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strApp = m_root.Dir() + L"app\\";
        m_strData = m_strApp + L"user";
        m_strSource = m_root / L"src";
        m_strTarget = m_root / L"dst";
        ASSERT_TRUE(langtest::MakeFolder(m_strApp));
        ASSERT_TRUE(langtest::MakeFolder(m_strData));
        ASSERT_TRUE(langtest::MakeFolder(m_strTarget));
        ASSERT_TRUE(langtest::MakeFolder(m_strSource));
        CXmlDocument settings;
        ASSERT_TRUE(WriteDefaultSettings(settings, m_strData));
        SetSetting(L"BackupStatus", L"0");   // every file is copied
        SetSetting(L"CompressFile", L"0");
        m_hPause = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
        g_strAppDir = m_strApp;
        g_strUserName = L"user";
        m_install.emplace(m_io);
        for (int f = 0; f < kFolders; ++f) {
            ASSERT_TRUE(langtest::MakeFolder(m_strSource + L"\\" + FolderName(f)));
            for (int i = 0; i < kFilesPerFolder; ++i)
                m_files.push_back(FolderName(f) + L"\\" + FileName(i));
        }
        WriteSources(false);
        WriteSelection();
    }
    void TearDown() override
    {
        Disarm();
        g_onEntry = nullptr;
        g_onFlush = nullptr;
        m_install.reset();
        ::CloseHandle(m_hPause);
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }

    static CString FolderName(int f)
    {
        CString s;
        s.Format(L"folder %d", f);
        return s;
    }
    static CString FileName(int i)
    {
        CString s;
        s.Format(L"file %02d.txt", i);
        return s;
    }
    // Contents of every size apart, so that a flush can tell the file by its size: the earlier
    // ones, and the newer ones that the runs under test copy.
    std::string Content(size_t k, bool bNew) const
    {
        return std::string(bNew ? 3000 + 41 * k : 1000 + 29 * k, bNew ? 'N' : static_cast<char>('a' + k % 26));
    }
    size_t IndexOfNewSize(ULONGLONG n) const
    {
        return n >= 3000 && (n - 3000) % 41 == 0 ? static_cast<size_t>((n - 3000) / 41) : m_files.size();
    }
    void WriteSources(bool bNew)
    {
        for (size_t k = 0; k < m_files.size(); ++k)
            ASSERT_TRUE(langtest::WriteBytes(m_strSource + L"\\" + m_files[k], Content(k, bNew)));
    }
    void SetSetting(const wchar_t* pszName, const wchar_t* pszValue)
    {
        CXmlDocument doc;
        ASSERT_TRUE(doc.LoadFile(JoinPath(m_strData, kSettingsFile)));
        doc.ResetPosition();
        ASSERT_TRUE(doc.FindChildElement(pszName));
        ASSERT_TRUE(doc.SetChildData(pszValue));
        ASSERT_TRUE(doc.SaveFile(JoinPath(m_strData, kSettingsFile)));
    }
    static void WriteList(const CString& strPath, const CString& strSelected)
    {
        CXmlDocument doc;
        doc.AddElement(L"filepath");
        doc.EnterElement();
        doc.AddElement(L"path");
        doc.SetAttributeAt(doc.GetCurrentPos(), L"path", strSelected);
        doc.LeaveElement();
        ASSERT_TRUE(doc.SaveFile(strPath));
    }
    void WriteSelection() { WriteList(JoinPath(m_strData, kFullPathFile), m_strSource); }
    CString Stored(size_t k, bool bCompressed = false) const
    {
        return StoredName(m_strTarget, m_strSource + L"\\" + m_files[k]) + (bCompressed ? L".zip" : L"");
    }

    // Starts the worker as the progress dialog does and waits for the end it marks.
    void Run(bool bRestore)
    {
        m_sink.lines.clear();
        m_engine.Reset();
        m_engine.m_pFailList = &m_sink;
        m_engine.m_hPauseEvent = m_hPause;
        m_engine.m_strTargetRoot = m_strTarget;
        m_engine.m_strMemoryFailText = kFailText;
        m_engine.m_bRestore = bRestore ? 1 : 0;
        // Left over from an earlier run: deleted by every run.
        WriteList(m_strApp + kRestoreListFile, StoredName(m_strTarget, m_strSource));
        g_nEntriesRead = 0;
        g_nFailures = 0;
        g_bBackUpThreadDone = 0;
        ASSERT_NE(static_cast<uintptr_t>(-1), _beginthread(BackUpThreadProc, 0, &m_engine));
        for (int i = 0; i < 3000 && !g_bBackUpThreadDone; ++i)
            ::Sleep(10);
        Disarm();
        g_onEntry = nullptr;
        g_onFlush = nullptr;
        ASSERT_EQ(1, g_bBackUpThreadDone);
        EXPECT_EQ(1, m_engine.m_bDone);
        EXPECT_EQ(1, m_engine.m_bCancel);
        EXPECT_EQ(0, m_engine.m_bScanning);
        EXPECT_FALSE(langtest::FileExists(m_strApp + kRestoreListFile));
    }
    // The end of a run that ran out of memory: its fail line last, nothing half-written left.
    void ExpectRanOutOfMemory(const CString& strFolder)
    {
        EXPECT_GT(g_nFailures.load(), 0) << "no allocation failed: the test did not reach its point";
        ASSERT_FALSE(m_sink.lines.empty());
        EXPECT_EQ(m_strTarget + L";" + kFailText, m_sink.lines.back());
        EXPECT_EQ(0, m_engine.m_arrFiles.GetSize());
        EXPECT_TRUE(Temporaries(strFolder).empty());
    }
    // Every stored copy holds one whole version of its file; the one at nOld the earlier one.
    void ExpectWholeCopies(size_t nOld)
    {
        ASSERT_LT(nOld, m_files.size());
        for (size_t k = 0; k < m_files.size(); ++k) {
            const std::string stored = ReadFileBytes(Stored(k));
            EXPECT_TRUE(stored == Content(k, false) || stored == Content(k, true))
                << CStringA(m_files[k]).GetString() << ": " << stored.size() << " bytes";
        }
        EXPECT_TRUE(Content(nOld, false) == ReadFileBytes(Stored(nOld))) << CStringA(m_files[nOld]).GetString();
    }
    // A run without failure afterwards copies everything: no lock, disk turn or list is left
    // over from the failed one.
    void ExpectRunsAgain()
    {
        WriteSources(true);
        Run(false);
        EXPECT_TRUE(m_sink.lines.empty());
        EXPECT_EQ(static_cast<int>(m_files.size()), m_engine.m_nDoneFiles);
        for (size_t k = 0; k < m_files.size(); ++k)
            EXPECT_TRUE(Content(k, true) == ReadFileBytes(Stored(k))) << CStringA(m_files[k]).GetString();
        EXPECT_TRUE(Temporaries(m_strTarget).empty());
    }

    langtest::TempFolder m_root{L"memory"};
    CString m_strApp, m_strData, m_strSource, m_strTarget;
    std::vector<CString> m_files;
    HANDLE m_hPause = nullptr;
    CCapturedFailList m_sink;
    CBackUpEngine m_engine;
    // The listings and flushes of the tests' runs, and the number of files they copy at once.
    struct CListsAndFlushes : CSystemIoOver {
        HANDLE FindFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData) override { return ListFirst(pszPattern, pData); }
        BOOL FindNext(HANDLE hFind, LPWIN32_FIND_DATAW pData) override { return ListNext(hFind, pData); }
        BOOL FlushFile(HANDLE hFile) override { return Flush(hFile); }
    } m_io;
    std::optional<CScopedSystemIo> m_install;
    CScopedSetting<int> m_lanes{CBackUpEngine::s_nCopyLanes, CBackUpEngine::s_nCopyLanes};
};

} // namespace

TEST_F(EngineMemoryTest, CollectionThatRunsOutOfMemoryCopiesNothing)
{
    CBackUpEngine::s_nCopyLanes = 1;
    Run(false);   // the earlier backup
    ASSERT_TRUE(m_sink.lines.empty());
    WriteSources(true);

    // At points all over the walk: between the entries of a folder, at a folder's end, in a
    // folder below; the first allocation after the point, or one a little later.
    for (int nEntry : {1, 6, 14, 27, 40}) {
        for (long nAllowed : {0L, 1L, 4L}) {
            SCOPED_TRACE(testing::Message() << "entry " << nEntry << ", allocation " << nAllowed);
            g_onEntry = [nEntry, nAllowed](int n) {
                if (n == nEntry)
                    ArmFailure(::GetCurrentThreadId(), nAllowed, false);
            };
            Run(false);
            ExpectRanOutOfMemory(m_strTarget);
            EXPECT_EQ(0, m_engine.m_nDoneFiles);
            for (size_t k = 0; k < m_files.size(); ++k)
                EXPECT_TRUE(Content(k, false) == ReadFileBytes(Stored(k))) << CStringA(m_files[k]).GetString();
        }
    }
    ExpectRunsAgain();
}

TEST_F(EngineMemoryTest, RunEndsEvenWhenTheFailLineFindsNoMemory)
{
    // From the 10th entry on, every allocation of the worker fails, the fail line's too.
    g_onEntry = [](int n) {
        if (n == 10)
            ArmFailure(::GetCurrentThreadId(), 0, true);
    };
    Run(false);
    EXPECT_GT(g_nFailures.load(), 1);
    EXPECT_TRUE(m_sink.lines.empty());
    EXPECT_EQ(0, m_engine.m_nDoneFiles);
    EXPECT_FALSE(langtest::FileExists(m_strTarget + L"\\VEZORI"));
    ExpectRunsAgain();
}

TEST_F(EngineMemoryTest, CopyOneAtATimeThatRunsOutOfMemoryKeepsTheEarlierCopy)
{
    CBackUpEngine::s_nCopyLanes = 1;
    Run(false);
    ASSERT_TRUE(m_sink.lines.empty());
    WriteSources(true);

    // The 5th copy is complete, flushed, and still a temporary file when memory runs out.
    std::atomic<size_t> failed{m_files.size()};
    int flushes = 0;
    g_onFlush = [&](HANDLE hFile) {
        if (++flushes == 5) {
            failed = IndexOfNewSize(SizeOf(hFile));
            ArmFailure(::GetCurrentThreadId(), 0, false);
        }
    };
    Run(false);
    ExpectRanOutOfMemory(m_strTarget);
    ExpectWholeCopies(failed);
    EXPECT_EQ(5, flushes) << "files copied after the failure";
    ExpectRunsAgain();
}

TEST_F(EngineMemoryTest, CopyLaneThatRunsOutOfMemoryStopsTheRun)
{
    CBackUpEngine::s_nCopyLanes = 3;
    Run(false);
    ASSERT_TRUE(m_sink.lines.empty());
    WriteSources(true);

    // The first copy a further lane completes: memory runs out on that lane, not the worker.
    std::atomic<size_t> failed{m_files.size()};
    std::atomic<bool> armed{false};
    g_onFlush = [&](HANDLE hFile) {
        if (::GetCurrentThreadId() != g_dwWorker && !armed.exchange(true)) {
            failed = IndexOfNewSize(SizeOf(hFile));
            ArmFailure(::GetCurrentThreadId(), 0, false);
        }
    };
    Run(false);
    ASSERT_TRUE(armed) << "no further lane copied a file";
    ExpectRanOutOfMemory(m_strTarget);
    ExpectWholeCopies(failed);
    // The lanes stopped: the files after those under way at the failure were not copied.
    size_t copied = 0;
    for (size_t k = 0; k < m_files.size(); ++k)
        copied += ReadFileBytes(Stored(k)) == Content(k, true);
    EXPECT_LT(copied, m_files.size() - 3);
    ExpectRunsAgain();
}

TEST_F(EngineMemoryTest, CompressedCopyThatRunsOutOfMemoryKeepsTheEarlierCopy)
{
    SetSetting(L"CompressFile", L"1");
    Run(false);
    ASSERT_TRUE(m_sink.lines.empty());
    std::vector<std::string> before;
    for (size_t k = 0; k < m_files.size(); ++k)
        before.push_back(ReadFileBytes(Stored(k, true)));
    WriteSources(true);

    // The writer thread flushes the 3rd copy; the worker's next allocation, as it moves the
    // copy into place, fails.
    int flushes = 0;
    g_onFlush = [&](HANDLE) {
        if (++flushes == 3)
            ArmFailure(g_dwWorker, 0, false);
    };
    Run(false);
    ExpectRanOutOfMemory(m_strTarget);
    EXPECT_EQ(3, flushes);
    size_t unchanged = 0;
    for (size_t k = 0; k < m_files.size(); ++k)
        unchanged += ReadFileBytes(Stored(k, true)) == before[k];
    EXPECT_EQ(m_files.size() - 2, unchanged);

    // Back to plain copies: the run after it replaces the compressed ones.
    SetSetting(L"CompressFile", L"0");
    ExpectRunsAgain();
}

TEST_F(EngineMemoryTest, RestoreThatRunsOutOfMemoryKeepsTheUsersFile)
{
    CBackUpEngine::s_nCopyLanes = 1;
    Run(false);   // the store holds the earlier files
    WriteSources(true);

    std::atomic<size_t> failed{m_files.size()};
    int flushes = 0;
    g_onFlush = [&](HANDLE hFile) {
        if (++flushes == 2) {
            const ULONGLONG n = SizeOf(hFile);
            for (size_t k = 0; k < m_files.size(); ++k)
                if (n == Content(k, false).size())
                    failed = k;
            ArmFailure(::GetCurrentThreadId(), 0, false);
        }
    };
    Run(true);
    ExpectRanOutOfMemory(m_strSource);
    ASSERT_LT(failed.load(), m_files.size());
    size_t restored = 0;
    for (size_t k = 0; k < m_files.size(); ++k) {
        const std::string now = ReadFileBytes(m_strSource + L"\\" + m_files[k]);
        EXPECT_TRUE(now == Content(k, false) || now == Content(k, true)) << CStringA(m_files[k]).GetString();
        restored += now == Content(k, false);
    }
    EXPECT_TRUE(Content(failed, true) == ReadFileBytes(m_strSource + L"\\" + m_files[failed]));
    EXPECT_EQ(1u, restored);
    EXPECT_TRUE(Temporaries(m_strTarget).empty());
    ExpectRunsAgain();
}

TEST_F(EngineMemoryTest, MemoryRunningOutAtAnyAllocationOfACopyEndsTheRunCleanly)
{
    CBackUpEngine::s_nCopyLanes = 1;
    Run(false);
    ASSERT_TRUE(m_sink.lines.empty());

    // The allocations the worker makes from the first copy's flush to the second's: moving the
    // first copy into place, then everything the second needs before its data is on the disk
    // (its folders, its temporary name and the record's note of it, its handles and buffers).
    WriteSources(false);
    long nCycle = 0;
    {
        int flushes = 0;
        g_onFlush = [&](HANDLE) {
            ++flushes;
            if (flushes == 1) {
                g_nCounted = 0;
                g_dwCountThread = ::GetCurrentThreadId();
            } else if (flushes == 2) {
                nCycle = g_nCounted;
                g_dwCountThread = 0;
            }
        };
        Run(false);
        ASSERT_TRUE(m_sink.lines.empty());
        ASSERT_GT(nCycle, 0);
    }

    // Each of them fails once in turn. Every run ends with the fail line and nothing
    // half-written, every stored copy is one whole version of its file, and the next run finds
    // no lock held or list left over by the failed one.
    for (long nAllowed = 0; nAllowed < nCycle; ++nAllowed) {
        SCOPED_TRACE(testing::Message() << "allocation " << nAllowed << " of " << nCycle);
        if (nAllowed == 0)
            std::printf("failing each of the %ld allocations of a copy in turn\n", nCycle);
        WriteSources((nAllowed & 1) == 0);
        int flushes = 0;
        g_onFlush = [&](HANDLE) {
            if (++flushes == 1)
                ArmFailure(::GetCurrentThreadId(), nAllowed, false);
        };
        Run(false);
        ExpectRanOutOfMemory(m_strTarget);
        for (size_t k = 0; k < m_files.size(); ++k) {
            const std::string stored = ReadFileBytes(Stored(k));
            EXPECT_TRUE(stored == Content(k, false) || stored == Content(k, true))
                << CStringA(m_files[k]).GetString() << ": " << stored.size() << " bytes";
        }
        if (HasFailure())
            break;
    }
    ExpectRunsAgain();
}

namespace {

// Random values that make every second name a restore draws for a temporary the name of a
// user's file: an even draw gives kClash, an odd one a value of its own.
std::atomic<unsigned> g_nDraws{0};
const BYTE kClash = 0x5A;

BOOLEAN WINAPI ClashingRandom(PVOID pBuffer, ULONG nBytes)
{
    const unsigned n = g_nDraws++;
    BYTE* p = static_cast<BYTE*>(pBuffer);
    for (ULONG i = 0; i < nBytes; ++i)
        p[i] = n % 2 == 0 ? kClash : static_cast<BYTE>(n >> (8 * (i % 4)));
    return TRUE;
}

CString ClashName()
{
    CString hex;
    for (int i = 0; i < 16; ++i)
        hex += L"5a";
    return L"~zu" + hex + L".tmp";
}

} // namespace

// A restore beside user's files that carry the names of its temporaries (each name is drawn
// again then), with memory running out at each allocation from one copy's flush to the next in
// turn: making the next temporary, noting it, finding its name taken, dropping it, moving the
// copy into place and striking its name. No run, neither the failing one nor the next that
// clears it, removes a user's file.
TEST_F(EngineMemoryTest, MemoryRunningOutAtEachStepOfARestoresTemporaryKeepsTheUsersFiles)
{
    CBackUpEngine::s_nCopyLanes = 1;
    Run(false);
    ASSERT_TRUE(m_sink.lines.empty());
    std::vector<CString> clashes;
    for (int f = 0; f < kFolders; ++f) {
        clashes.push_back(m_strSource + L"\\" + FolderName(f) + L"\\" + ClashName());
        ASSERT_TRUE(langtest::WriteBytes(clashes.back(), "the user's"));
    }
    struct CUseRandom : CSystemIoOver {
        BOOLEAN RandomBytes(PVOID pBuffer, ULONG nBytes) override { return ClashingRandom(pBuffer, nBytes); }
        CScopedSystemIo install{*this};
    } useRandom;
    auto expectUsersFiles = [&] {
        for (const CString& clash : clashes)
            EXPECT_EQ(ReadFileBytes(clash), "the user's") << CStringA(clash).GetString();
    };

    long nCycle = 0;
    {
        WriteSources(true);
        int flushes = 0;
        g_onFlush = [&](HANDLE) {
            ++flushes;
            if (flushes == 1) {
                g_nCounted = 0;
                g_dwCountThread = ::GetCurrentThreadId();
            } else if (flushes == 2) {
                nCycle = g_nCounted;
                g_dwCountThread = 0;
            }
        };
        Run(true);
        ASSERT_TRUE(m_sink.lines.empty()) << CStringA(m_sink.lines[0]).GetString();
        ASSERT_GT(nCycle, 0);
        expectUsersFiles();
        std::printf("failing each of the %ld allocations of a restored copy in turn\n", nCycle);
    }
    for (long nAllowed = 0; nAllowed < nCycle; ++nAllowed) {
        SCOPED_TRACE(testing::Message() << "allocation " << nAllowed << " of " << nCycle);
        WriteSources(true);
        int flushes = 0;
        g_onFlush = [&](HANDLE) {
            if (++flushes == 1)
                ArmFailure(::GetCurrentThreadId(), nAllowed, false);
        };
        // (Each run first clears what the failed one before it left.)
        Run(true);
        ExpectRanOutOfMemory(m_strTarget);
        expectUsersFiles();
        std::vector<CString> left;
        for (const CString& name : ListTree(m_strSource))
            if (IsEngineTemporary(L"\\" + name) && name.Find(ClashName()) < 0)
                left.push_back(name);
        EXPECT_TRUE(left.empty()) << CStringA(left[0]).GetString();
        if (HasFailure())
            break;
    }
    Run(true);
    EXPECT_TRUE(m_sink.lines.empty());
    expectUsersFiles();
    EXPECT_TRUE(ListTree(m_strData + L"\\Temporaries").empty());
}

// Several files at once; one copy thread runs out of memory while another's copy is complete
// and not yet in place. That copy is thrown away with a fail line saying memory ran out, and
// the done count holds only the copies that reached their names.
TEST_F(EngineMemoryTest, FinishedCopyOfALaneThrownAwayWhenAnotherRunsOutOfMemoryIsAFailLine)
{
    CBackUpEngine::s_nCopyLanes = 3;
    Run(false);
    WriteSources(true);
    std::atomic<int> flushes{0};
    std::atomic<size_t> waiting{m_files.size()};
    g_onFlush = [&](HANDLE hFile) {
        const int n = ++flushes;
        if (n == 1) {
            for (int i = 0; i < 500 && flushes < 2; ++i)
                ::Sleep(10);
            ArmFailure(::GetCurrentThreadId(), 0, false);
        } else if (n == 2) {
            waiting = IndexOfNewSize(SizeOf(hFile));
            for (int i = 0; i < 500 && !m_engine.m_bCancel; ++i)
                ::Sleep(10);
        }
    };
    Run(false);
    ExpectRanOutOfMemory(m_strTarget);
    ASSERT_LT(waiting.load(), m_files.size());
    const CString line = m_strSource + L"\\" + m_files[waiting] + L";" + kFailText;
    EXPECT_NE(std::find(m_sink.lines.begin(), m_sink.lines.end(), line), m_sink.lines.end());
    EXPECT_TRUE(Content(waiting, false) == ReadFileBytes(Stored(waiting)));
    int inPlace = 0;
    for (size_t k = 0; k < m_files.size(); ++k)
        inPlace += ReadFileBytes(Stored(k)) == Content(k, true);
    EXPECT_EQ(m_engine.m_nDoneFiles, inPlace);
    ExpectRunsAgain();
}
