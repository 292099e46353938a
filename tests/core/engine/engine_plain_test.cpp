// The engine's own plain copy: a write that fails part-way, a source that cannot be read, and
// a pause in the middle of a large file. Neither the earlier stored copy nor the user's file
// may be lost, and no temporary copy may stay behind.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BackUpEngine.h"
#include "SharedFunctions.h"
#include "WriteQueue.h"
#include "engine_test_support.h"

namespace {

std::vector<CString> FailPaths(const CCapturedFailList& fails)
{
    std::vector<CString> paths;
    for (const CString& line : fails.lines)
        paths.push_back(line.Left(line.Find(L';')));
    return paths;
}

// A disk that fills up: every write of more than nLimit bytes into one file fails.
struct FullDisk : CSystemIoOver {
    static std::atomic<ULONGLONG> nLimit;
    static BOOL WINAPI Write(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o)
    {
        LARGE_INTEGER zero{}, pos{};
        SetFilePointerEx(h, zero, &pos, FILE_CURRENT);
        if (static_cast<ULONGLONG>(pos.QuadPart) + n > nLimit) {
            *pn = 0;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        return ::WriteFile(h, p, n, pn, o);
    }
    FullDisk(ULONGLONG limit)
    {
        nLimit = limit;
    }
    BOOL WriteBlock(HANDLE h, LPCVOID p, DWORD n, LPDWORD pn, LPOVERLAPPED o) override { return Write(h, p, n, pn, o); }
    CScopedSystemIo install{*this};
};
std::atomic<ULONGLONG> FullDisk::nLimit{0};

} // namespace

TEST(EnginePlainTest, AFailedWriteOrUnreadableSourceKeepsTheEarlierCopyAndTheUsersFile)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string small1 = Pattern(3000, 1), big1 = Pattern(3 * CBackUpEngine::COPY_CHUNK + 5, 2);
    WriteFileBytes(src + L"\\small.txt", small1);
    WriteFileBytes(src + L"\\big.bin", big1);
    const CString storedFolder = StoredName(root, src);
    CBackUpEngine engine;
    {
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
        ASSERT_TRUE(fails.lines.empty());
        EXPECT_EQ(ReadFileBytes(storedFolder + L"\\big.bin"), big1);
        EXPECT_EQ(engine.m_nDoneBytes, engine.m_nTotalBytes);
    }

    // Both change; the disk fills up after the first chunk of the big file: the small file is
    // stored anew, the big one keeps its earlier copy and is a fail line naming the source.
    const std::string small2 = Pattern(3000, 11), big2 = Pattern(3 * CBackUpEngine::COPY_CHUNK + 5, 12);
    WriteFileBytes(src + L"\\small.txt", small2);
    WriteFileBytes(src + L"\\big.bin", big2);
    {
        FullDisk disk(CBackUpEngine::COPY_CHUNK + 100);
        CCapturedFailList fails;
        RunBackUp(engine, root, {src}, RunOptions{}, &fails);
        EXPECT_EQ(FailPaths(fails), std::vector<CString>{src + L"\\big.bin"});
        EXPECT_EQ(fails.lines[0], src + L"\\big.bin;" + FormatSystemError(ERROR_DISK_FULL));
        EXPECT_EQ(engine.m_nDoneFiles, 1);
    }
    EXPECT_EQ(ReadFileBytes(storedFolder + L"\\small.txt"), small2);
    EXPECT_EQ(ReadFileBytes(storedFolder + L"\\big.bin"), big1);
    EXPECT_TRUE(Temporaries(t.Root()).empty());

    // A source that another program holds open for itself is a fail line; its copy stays.
    HANDLE locked = CreateFileW(src + L"\\small.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    {
        CCapturedFailList fails;
        engine.Reset();
        engine.m_pFailList = &fails;
        engine.m_strTargetRoot = root;
        engine.m_arrFiles.Add(src + L"\\small.txt");
        engine.BackUpFileList(root + L"\\VEZORI");
        EXPECT_EQ(FailPaths(fails), std::vector<CString>{src + L"\\small.txt"});
    }
    CloseHandle(locked);
    EXPECT_EQ(ReadFileBytes(storedFolder + L"\\small.txt"), small2);

    // A restore onto a disk that fills up keeps the user's file and names it.
    WriteFileBytes(src + L"\\big.bin", "the user's own newer file");
    {
        FullDisk disk(CBackUpEngine::COPY_CHUNK);
        CCapturedFailList fails;
        RunRestore(engine, root, {storedFolder + L"\\big.bin"}, RunOptions{}, &fails);
        EXPECT_EQ(FailPaths(fails), std::vector<CString>{src + L"\\big.bin"});
    }
    EXPECT_EQ(ReadFileBytes(src + L"\\big.bin"), "the user's own newer file");
    EXPECT_TRUE(Temporaries(t.Root()).empty());
}

TEST(EnginePlainTest, PauseHoldsALargeCopyBetweenChunksAndResumeCompletesIt)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const std::string bytes = Pattern(4 * CBackUpEngine::COPY_CHUNK + 17, 7);
    WriteFileBytes(src + L"\\big.bin", bytes);

    CUseTestCopy pieces;
    CBackUpEngine engine;
    HANDLE pause = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    std::atomic<int> pausedAt{0};
    TestCopy::OnPiece = [&](const wchar_t*, ULONGLONG done) {
        if (!pausedAt && done > CBackUpEngine::COPY_CHUNK) {
            pausedAt = 1;
            ResetEvent(pause);
        }
    };
    CCapturedFailList fails;
    std::thread worker([&] {
        engine.Reset();
        engine.m_pFailList = &fails;
        engine.m_hPauseEvent = pause;
        engine.m_strTargetRoot = root;
        engine.CollectBackUpFiles(src, root + L"\\VEZORI");
        engine.BackUpFileList(root + L"\\VEZORI");
    });
    while (!pausedAt)
        Sleep(5);
    Sleep(100);
    const ULONGLONG held = engine.m_nDoneBytes;
    Sleep(300);
    // Held after the chunk under way: nothing more is copied and nothing is in place yet.
    EXPECT_EQ(engine.m_nDoneBytes, held);
    EXPECT_LE(held, 2ull * CBackUpEngine::COPY_CHUNK);
    EXPECT_EQ(engine.m_bDone, 0);
    EXPECT_FALSE(Exists(StoredName(root, src + L"\\big.bin")));
    SetEvent(pause);
    worker.join();
    CloseHandle(pause);
    EXPECT_TRUE(fails.lines.empty());
    EXPECT_EQ(engine.m_nDoneBytes, bytes.size());
    EXPECT_EQ(ReadFileBytes(StoredName(root, src + L"\\big.bin")), bytes);
    EXPECT_TRUE(Temporaries(t.Root()).empty());
}
