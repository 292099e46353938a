// "Skip unchanged" against a store on FAT32 or exFAT, whose file system keeps a stored copy's
// time only to 2 s or 10 ms. Under Wine a store is an ordinary folder, so the tests put the
// stored copies' times on the grid after each run, as the file system would.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "StoreTimes.h"
#include "engine_test_support.h"

namespace {

constexpr ULONGLONG kSecond = 10000000ull;
constexpr ULONGLONG kMs = 10000ull;
// 2020-01-01 00:00:00 UTC, a whole even second.
constexpr ULONGLONG kJan2020 = 132223104000000000ull;

ULONGLONG Ticks(const FILETIME& ft)
{
    return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME Time(ULONGLONG t)
{
    FILETIME ft;
    ft.dwLowDateTime = DWORD(t);
    ft.dwHighDateTime = DWORD(t >> 32);
    return ft;
}

// How a store's file system keeps times.
struct Grid {
    const char* name;
    ULONGLONG step;   // 0: kept as given
    bool bUp;         // rounded up (FAT32 under Windows) or down
};

// Puts every stored file's time on the grid, as the store's file system would have kept it.
void KeepTimesAsStore(const CString& strStore, const Grid& grid)
{
    if (!grid.step)
        return;
    for (const CString& rel : ListTree(strStore)) {
        const CString path = strStore + L"\\" + rel;
        ULONGLONG t = Ticks(LastWriteOf(path));
        ULONGLONG down = t - t % grid.step;
        SetLastWrite(path, grid.bUp && down != t ? down + grid.step : down);
    }
}

// Source file i: a time well off every grid, so the store's copy reads back differently.
ULONGLONG SourceTime(int i)
{
    return kJan2020 + ULONGLONG(i) * 37 * kSecond + 1234567 + ULONGLONG(i) * 1111;
}

// The one file a run collected (a note of how many, when it was not one).
CString OnlyCollected(const CBackUpEngine& engine)
{
    if (engine.m_arrFiles.GetSize() == 1)
        return engine.m_arrFiles[0];
    CString note;
    note.Format(L"(%d files)", int(engine.m_arrFiles.GetSize()));
    return note;
}

CString SourceName(int i)
{
    CString name;
    name.Format(L"f%02d.txt", i);
    return name;
}

} // namespace

TEST(EngineTimesTest, StoredTimeOnAGridMatchesWithinItsStepAndOtherwiseExactly)
{
    const ULONGLONG fat = kJan2020, exfat = kJan2020 + 30 * kMs, ntfs = kJan2020 + 1234567;
    // FAT's grid: less than 2 s either way.
    EXPECT_TRUE(StoredTimeMatches(Time(fat), Time(fat - 2 * kSecond + 1)));
    EXPECT_TRUE(StoredTimeMatches(Time(fat), Time(fat + 2 * kSecond - 1)));
    EXPECT_FALSE(StoredTimeMatches(Time(fat), Time(fat - 2 * kSecond)));
    EXPECT_FALSE(StoredTimeMatches(Time(fat), Time(fat + 2 * kSecond)));
    // exFAT's grid: less than 10 ms either way.
    EXPECT_TRUE(StoredTimeMatches(Time(exfat), Time(exfat + 10 * kMs - 1)));
    EXPECT_TRUE(StoredTimeMatches(Time(exfat), Time(exfat - 10 * kMs + 1)));
    EXPECT_FALSE(StoredTimeMatches(Time(exfat), Time(exfat + 10 * kMs)));
    EXPECT_FALSE(StoredTimeMatches(Time(exfat), Time(exfat - 10 * kMs)));
    // Off both grids (NTFS keeps the time given): only the same time.
    EXPECT_TRUE(StoredTimeMatches(Time(ntfs), Time(ntfs)));
    EXPECT_FALSE(StoredTimeMatches(Time(ntfs), Time(ntfs + 1)));
    EXPECT_FALSE(StoredTimeMatches(Time(ntfs), Time(ntfs - 1)));
    // The grid is the stored time's, not the source's.
    EXPECT_FALSE(StoredTimeMatches(Time(ntfs), Time(fat)));
}

// Thirty files backed up, then backed up again with skip-unchanged; three change and the next
// run copies exactly those; a restore onto the unchanged files writes nothing.
TEST(EngineTimesTest, SkipUnchangedOnCoarseStoresCopiesOnlyWhatChanged)
{
    const Grid grids[] = {{"FAT32 rounded up", 2 * kSecond, true},
                          {"FAT32 rounded down", 2 * kSecond, false},
                          {"exFAT rounded up", 10 * kMs, true},
                          {"exFAT rounded down", 10 * kMs, false},
                          {"NTFS", 0, false}};
    constexpr int kFiles = 30;
    for (const Grid& grid : grids) {
        for (bool bCompress : {false, true}) {
            SCOPED_TRACE(std::string(grid.name) + (bCompress ? ", compressed" : ", plain"));
            CTempTree t;
            const CString src = t.Path(L"src"), root = t.Path(L"dst");
            MakeFolders(src);
            MakeFolders(root);
            for (int i = 0; i < kFiles; ++i) {
                WriteFileBytes(src + L"\\" + SourceName(i), "content " + std::to_string(i));
                SetLastWrite(src + L"\\" + SourceName(i), SourceTime(i));
            }
            const CString store = root + L"\\VEZORI";
            CBackUpEngine engine;
            CCapturedFailList fails;
            RunOptions opt;
            opt.bCompress = bCompress;
            opt.bChangedOnly = true;
            RunBackUp(engine, root, {src}, opt, &fails);
            ASSERT_EQ(engine.m_nDoneFiles, kFiles);
            KeepTimesAsStore(store, grid);

            RunBackUp(engine, root, {src}, opt, &fails);
            EXPECT_EQ(engine.m_nTotalFiles, 0);
            // A file chosen by itself is compared the same way.
            RunBackUp(engine, root, {src + L"\\" + SourceName(5)}, opt, &fails);
            EXPECT_EQ(engine.m_nTotalFiles, 0);
            KeepTimesAsStore(store, grid);

            // Three files change; each time lies exactly one step of the grid from its stored
            // copy's (2 s, 10 ms, or 100 ns on NTFS), the least change that must be seen.
            const CString storedSrc = StoredName(root, src) + L"\\";
            const CString suffix = bCompress ? L".zip" : L"";
            const ULONGLONG step = grid.step ? grid.step : 1;
            for (int i : {3, 11, 27}) {
                const CString name = SourceName(i);
                const ULONGLONG stored = Ticks(LastWriteOf(storedSrc + name + suffix));
                WriteFileBytes(src + L"\\" + name, "changed " + std::to_string(i));
                SetLastWrite(src + L"\\" + name, (i == 11 ? stored - step : stored + step));
            }
            RunBackUp(engine, root, {src}, opt, &fails);
            std::vector<CString> copied(engine.m_arrFiles.GetData(),
                                        engine.m_arrFiles.GetData() + engine.m_arrFiles.GetSize());
            std::sort(copied.begin(), copied.end());
            EXPECT_EQ(copied, (std::vector<CString>{src + L"\\" + SourceName(3), src + L"\\" + SourceName(11),
                                                    src + L"\\" + SourceName(27)}));
            EXPECT_EQ(engine.m_nDoneFiles, 3);
            KeepTimesAsStore(store, grid);
            if (!bCompress) {
                EXPECT_EQ(ReadFileBytes(storedSrc + SourceName(11)), "changed 11");
            }

            // The restore compares the user's files (the source times) with the stored ones.
            RunRestore(engine, root, {StoredName(root, src)}, opt, &fails);
            EXPECT_EQ(engine.m_nTotalFiles, 0);
            // Restored with the new content, as stored, once the user's copy is gone.
            DeleteFileW(src + L"\\" + SourceName(27));
            RunRestore(engine, root, {StoredName(root, src)}, opt, &fails);
            EXPECT_EQ(engine.m_nDoneFiles, 1);
            EXPECT_EQ(ReadFileBytes(src + L"\\" + SourceName(27)), "changed 27");
            EXPECT_TRUE(fails.lines.empty());
        }
    }
}

// A plain copy of another size than its source is stale whatever the times say: an edit within
// the grid's step (FAT32, exFAT), or a stored time that only looks like a grid's on a store that
// keeps times as given (a file from an archive or a FAT stick, a time a tool set). Backed up as a
// file chosen by itself and by the folder walk, in a plain run and in a compressed one (which
// meets the plain copies of the earlier run), and restored onto the user's file both ways.
TEST(EngineTimesTest, SkipUnchangedCopiesAPlainCopyOfAnotherSize)
{
    struct Case {
        Grid grid;
        ULONGLONG storedAt;   // a time the stored copies are given before each edit (NTFS), or 0
        ULONGLONG within;     // how far an edit moves the time from its stored copy's
    };
    const Case cases[] = {{{"FAT32", 2 * kSecond, true}, 0, 1500 * kMs},
                          {{"exFAT", 10 * kMs, false}, 0, 4 * kMs},
                          {{"NTFS, stored on a whole second", 0, false}, kJan2020, 1500 * kMs},
                          {{"NTFS, stored on a whole 10 ms", 0, false}, kJan2020 + 1230 * kMs, 4 * kMs}};
    for (const Case& c : cases) {
        for (bool bCompress : {false, true}) {
            SCOPED_TRACE(std::string(c.grid.name) + (bCompress ? ", compressed" : ", plain"));
            CTempTree t;
            const CString src = t.Path(L"src"), root = t.Path(L"dst"), store = root + L"\\VEZORI";
            MakeFolders(src);
            MakeFolders(root);
            const CString a = src + L"\\a.txt", b = src + L"\\b.txt", d = src + L"\\d.txt";
            int i = 0;
            for (const CString& f : {a, b, d}) {
                WriteFileBytes(f, "old");
                SetLastWrite(f, SourceTime(++i));
            }
            const CString storedA = StoredName(root, a), storedD = StoredName(root, d);
            CBackUpEngine engine;
            CCapturedFailList fails;
            RunOptions opt;
            opt.bChangedOnly = true;
            RunBackUp(engine, root, {src}, opt, &fails);
            ASSERT_EQ(engine.m_nDoneFiles, 3);
            KeepTimesAsStore(store, c.grid);
            auto edit = [&](const CString& file, const CString& stored, const char* bytes) {
                if (c.storedAt)
                    SetLastWrite(stored, c.storedAt);
                WriteFileBytes(file, bytes);
                SetLastWrite(file, Ticks(LastWriteOf(stored)) + c.within);
            };
            edit(a, storedA, "new a");
            edit(d, storedD, "new d");

            opt.bCompress = bCompress;
            RunBackUp(engine, root, {a}, opt, &fails);
            EXPECT_EQ(engine.m_nDoneFiles, 1);
            KeepTimesAsStore(store, c.grid);
            // The copy just made and the unchanged file stay skipped.
            RunBackUp(engine, root, {src}, opt, &fails);
            EXPECT_STREQ(OnlyCollected(engine), d);
            EXPECT_EQ(engine.m_nDoneFiles, 1);
            KeepTimesAsStore(store, c.grid);
            if (bCompress)
                continue;
            EXPECT_EQ(ReadFileBytes(storedA), "new a");
            EXPECT_EQ(ReadFileBytes(storedD), "new d");

            edit(a, storedA, "user's a");
            edit(d, storedD, "user's d");
            RunRestore(engine, root, {storedA}, opt, &fails);
            EXPECT_EQ(engine.m_nDoneFiles, 1);
            RunRestore(engine, root, {StoredName(root, src)}, opt, &fails);
            EXPECT_STREQ(OnlyCollected(engine), storedD);
            EXPECT_EQ(ReadFileBytes(a), "new a");
            EXPECT_EQ(ReadFileBytes(d), "new d");
            EXPECT_TRUE(fails.lines.empty());
        }
    }
}
