// The end of every copied file: the new copy takes the source's times and attributes and replaces
// the old copy in one step, whatever attributes the old copy has, and no temporary file stays.
// A source that changes while it is being copied is not taken for copied by the next run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BackUpEngine.h"
#include "engine_test_support.h"

namespace {

const DWORD kSticky = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

ULONGLONG Time100ns(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

} // namespace

TEST(EngineSettleTest, NewCopiesReplaceOldOnesOfAnyAttributesInBothForms)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    struct F {
        const wchar_t* name;
        DWORD attrs;
    };
    const F files[] = {{L"plain.txt", 0},
                       {L"ro.txt", FILE_ATTRIBUTE_READONLY},
                       {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
                       {L"both.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}};
    for (bool bCompress : {false, true}) {
        for (int round = 1; round <= 2; ++round) {
            for (const F& f : files) {
                const CString path = src + L"\\" + f.name;
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                WriteFileBytes(path, Pattern(5000 + round * 100, round + (bCompress ? 10 : 0)));
                SetLastWrite(path, 132000000000000000ull + round * 10000000ull);
                SetFileAttributesW(path, f.attrs ? f.attrs : FILE_ATTRIBUTE_NORMAL);
            }
            CBackUpEngine engine;
            CCapturedFailList fails;
            RunOptions opt;
            opt.bCompress = bCompress;
            RunBackUp(engine, root, {src}, opt, &fails);
            EXPECT_TRUE(fails.lines.empty()) << CStringA(fails.lines.empty() ? CString() : fails.lines[0]).GetString();
            for (const F& f : files) {
                const CString stored = StoredName(root, src + L"\\" + f.name) + (bCompress ? L".zip" : L"");
                EXPECT_EQ(AttributesOf(stored) & kSticky, f.attrs) << CStringA(stored).GetString();
                EXPECT_EQ(Time100ns(LastWriteOf(stored)), Time100ns(LastWriteOf(src + L"\\" + f.name))) << CStringA(stored).GetString() << " round " << round << " zip " << bCompress;
                if (!bCompress) {
                    EXPECT_TRUE(ReadFileBytes(stored) == ReadFileBytes(src + L"\\" + f.name)) << CStringA(stored).GetString();
                }
                // The next round finds an old copy that is read-only, hidden and system at once (system
                // files are not collected, but a stored copy can be made one).
                SetFileAttributesW(stored, kSticky);
            }
            EXPECT_TRUE(Temporaries(root).empty());
        }
    }
    // Switching to compressed copies left one form of each file.
    for (const F& f : files)
        EXPECT_FALSE(Exists(StoredName(root, src + L"\\" + f.name)));
}

TEST(EngineSettleTest, ASourceThatChangesDuringItsCopyIsCopiedAgainByTheNextRun)
{
    CTempTree t;
    const CString src = t.Path(L"src"), root = t.Path(L"dst");
    MakeFolders(src);
    const CString path = src + L"\\growing.log";
    WriteFileBytes(path, Pattern(5 * TestCopy::PieceSize, 3));
    SetLastWrite(path, 132000000000000000ull);
    const ULONGLONG before = Time100ns(LastWriteOf(path));

    CUseTestCopy copy;
    bool changed = false;
    // Someone writes to the file while its copy is half done.
    TestCopy::OnPiece = [&](const wchar_t*, ULONGLONG done) {
        if (!changed && done >= 2 * TestCopy::PieceSize) {
            changed = true;
            SetLastWrite(path, 132000000000000000ull + 50000000ull);
        }
    };
    CBackUpEngine engine;
    CCapturedFailList fails;
    RunBackUp(engine, root, {src}, RunOptions{}, &fails);
    ASSERT_TRUE(changed);
    EXPECT_TRUE(fails.lines.empty());
    // The copy carries the time of what it read, not the newer one.
    EXPECT_EQ(Time100ns(LastWriteOf(StoredName(root, path))), before);

    TestCopy::OnPiece = nullptr;
    TestCopy::nCalls = 0;
    RunOptions changedOnly;
    changedOnly.bChangedOnly = true;
    RunBackUp(engine, root, {src}, changedOnly, &fails);
    EXPECT_EQ(TestCopy::nCalls, 1);
    EXPECT_EQ(Time100ns(LastWriteOf(StoredName(root, path))), Time100ns(LastWriteOf(path)));
}
