// The backup/restore worker end to end on a private program folder: a backup followed by a
// restore gives back identical files, plainly and compressed; the options come from the
// settings file; a cancelled collection copies nothing; every run ends with the engine's end
// flags set and the restore list deleted.

#include "BackUpEngine.h"
#include "BackUpThread.h"
#include "DataFiles.h"
#include "LangTestFolder.h"
#include "backup_folders.h"

#include <gtest/gtest.h>
#include <process.h>

#include <vector>

using langtest::FileExists;
using langtest::ReadBytes;
using langtest::WriteBytes;

namespace {

class LinesSink : public CFailSink {
public:
    void InsertStringAndSelect(const CString& strLine) override { m_arrLines.Add(strLine); }
    CStringArray m_arrLines;
};

// A program folder with its per-user data folder, a source folder and a target "drive".
class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folders.Open());   // the default settings: skip unchanged, compress
        m_hPause = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    }
    void TearDown() override { ::CloseHandle(m_hPause); }

    void MakeSourceFiles()
    {
        ASSERT_TRUE(langtest::MakeFolder(m_strSource));
        ASSERT_TRUE(langtest::MakeFolder(m_strSource + L"\\sub"));
        ASSERT_TRUE(langtest::MakeFolder(m_strSource + L"\\sub\\deep"));
        std::string text;
        for (int i = 0; i < 5000; ++i)
            text += "line " + std::to_string(i % 37) + " of a compressible text\r\n";
        std::string noise(70000, '\0');
        unsigned x = 12345;
        for (char& c : noise)
            c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        m_files = {{L"a.txt", text}, {L"empty.txt", ""}, {L"sub\\noise.bin", noise},
                   {L"sub\\deep\\block.dat", std::string(65536, 'z')}};
        for (const auto& f : m_files)
            ASSERT_TRUE(WriteBytes(m_strSource + L"\\" + f.first.c_str(), f.second));
    }

    void SetSetting(const wchar_t* pszName, const wchar_t* pszValue)
    {
        ASSERT_TRUE(m_folders.SetSetting(pszName, pszValue));
    }

    static void WriteList(const CString& strPath, std::initializer_list<CString> paths)
    {
        ASSERT_TRUE(testsupport::WritePathList(strPath, paths));
    }

    // Starts the worker the way the progress dialog does and waits for its end.
    void Run(bool bRestore, bool bCancelFirst = false)
    {
        m_engine.Reset();
        m_engine.m_pFailList = &m_sink;
        m_engine.m_hPauseEvent = m_hPause;
        m_engine.m_strTargetRoot = m_strTarget;
        m_engine.m_bRestore = bRestore ? 1 : 0;
        if (bCancelFirst)
            m_engine.m_bCancel = 1;
        g_bBackUpThreadDone = 0;
        ASSERT_NE(static_cast<uintptr_t>(-1), _beginthread(BackUpThreadProc, 0, &m_engine));
        for (int i = 0; i < 3000 && !g_bBackUpThreadDone; ++i)
            ::Sleep(10);
        ASSERT_EQ(1, g_bBackUpThreadDone);
        EXPECT_EQ(1, m_engine.m_bDone);
        EXPECT_EQ(1, m_engine.m_bCancel);
        EXPECT_EQ(0, m_engine.m_bScanning);
        EXPECT_FALSE(FileExists(m_strApp + kRestoreListFile));
    }

    // The store path of a source path: the store folder, then the path without its colon.
    CString StorePath(const CString& strSource) const
    {
        CString strRest(strSource);
        strRest.Delete(1);
        return m_strTarget + L"\\VEZORI\\" + strRest;
    }

    void ExpectSourceFiles()
    {
        for (const auto& f : m_files)
            EXPECT_TRUE(f.second == ReadBytes(m_strSource + L"\\" + f.first.c_str()))
                << CStringA(f.first.c_str()).GetString() << " differs";
    }

    testsupport::CBackupFolders m_folders{L"worker"};
    const testsupport::CTempFolder& m_root = m_folders.root;
    const CString& m_strApp = m_folders.strApp;
    const CString& m_strData = m_folders.strData;
    const CString& m_strSource = m_folders.strSource;
    const CString& m_strTarget = m_folders.strTarget;
    std::vector<std::pair<std::wstring, std::string>> m_files;
    HANDLE m_hPause = nullptr;
    LinesSink m_sink;
    CBackUpEngine m_engine;
};

} // namespace

TEST_F(WorkerTest, BackupThenRestoreGivesIdenticalFilesPlainAndCompressed)
{
    for (const wchar_t* pszCompress : {L"0", L"1"}) {
        SCOPED_TRACE(CStringA(pszCompress).GetString());
        MakeSourceFiles();
        SetSetting(L"CompressFile", pszCompress);
        const bool bCompress = pszCompress[0] == L'1';
        WriteList(JoinPath(m_strData, kFullPathFile), {m_strSource});
        WriteList(m_strApp + kRestoreListFile, {StorePath(m_strSource)});   // left over: deleted by a backup too

        Run(false);
        EXPECT_EQ(0, m_sink.m_arrLines.GetSize());
        EXPECT_EQ(4, m_engine.m_nTotalFiles);
        EXPECT_EQ(4, m_engine.m_nDoneFiles);
        EXPECT_EQ(bCompress ? 1 : 0, m_engine.m_bCompress);
        for (const auto& f : m_files) {
            CString strStored = StorePath(m_strSource + L"\\" + f.first.c_str());
            EXPECT_EQ(bCompress, FileExists(strStored + L".zip")) << CStringA(strStored).GetString();
            EXPECT_EQ(!bCompress, FileExists(strStored)) << CStringA(strStored).GetString();
        }

        // The sources go; restoring the store's copy of their folder brings them back.
        ASSERT_TRUE(langtest::RemoveTree(m_strSource));
        WriteList(m_strApp + kRestoreListFile, {StorePath(m_strSource)});
        m_engine.m_arrDriveRoots.RemoveAll();
        Run(true);
        EXPECT_EQ(0, m_sink.m_arrLines.GetSize());
        ExpectSourceFiles();
        ASSERT_EQ(1, m_engine.m_arrDriveRoots.GetSize());
        EXPECT_EQ(m_strSource, m_engine.m_arrDriveRoots[0]);

        ASSERT_TRUE(langtest::RemoveTree(m_strSource));
        ASSERT_TRUE(langtest::RemoveTree(m_strTarget + L"\\VEZORI"));
    }
}

TEST_F(WorkerTest, SkipUnchangedFollowsTheSettingsFile)
{
    MakeSourceFiles();
    WriteList(JoinPath(m_strData, kFullPathFile), {m_strSource});
    Run(false);
    EXPECT_EQ(4, m_engine.m_nDoneFiles);
    EXPECT_EQ(1, m_engine.m_bChangedOnly);
    EXPECT_EQ(1, m_engine.m_bCompress);

    // "BackupStatus" 1 (the default): nothing changed, nothing collected.
    Run(false);
    EXPECT_EQ(0, m_engine.m_nTotalFiles);

    // "0": every file again.
    SetSetting(L"BackupStatus", L"0");
    Run(false);
    EXPECT_EQ(0, m_engine.m_bChangedOnly);
    EXPECT_EQ(4, m_engine.m_nTotalFiles);

    // Without a loadable settings file both options stay off.
    ASSERT_TRUE(WriteBytes(JoinPath(m_strData, kSettingsFile), "<InitInfo><BackupStatus>1</BackupStatus>"));
    Run(false);
    EXPECT_EQ(0, m_engine.m_bChangedOnly);
    EXPECT_EQ(0, m_engine.m_bCompress);
    EXPECT_EQ(4, m_engine.m_nTotalFiles);
}

TEST_F(WorkerTest, CancelledCollectionCopiesNothingAndStillEnds)
{
    MakeSourceFiles();
    WriteList(JoinPath(m_strData, kFullPathFile), {m_strSource});
    WriteList(m_strApp + kRestoreListFile, {StorePath(m_strSource)});
    Run(false, true);
    EXPECT_EQ(0, m_engine.m_nDoneFiles);
    EXPECT_EQ(L"", langtest::ListFolder(m_strTarget));

    // The same for a restore: nothing comes back, the restore list is gone.
    Run(false);
    ASSERT_TRUE(langtest::RemoveTree(m_strSource));
    WriteList(m_strApp + kRestoreListFile, {StorePath(m_strSource)});
    m_engine.m_arrDriveRoots.RemoveAll();
    Run(true, true);
    EXPECT_FALSE(FileExists(m_strSource));
    EXPECT_EQ(0, m_engine.m_arrDriveRoots.GetSize());
}

TEST_F(WorkerTest, RestoreDriveRootsAndUnusableSelections)
{
    MakeSourceFiles();
    WriteList(JoinPath(m_strData, kFullPathFile), {m_strSource});
    Run(false);
    const CString strStore = m_strTarget + L"\\VEZORI";
    const CString strDrive = m_strSource.Left(1);

    // The whole store lists its drive-letter folders; the drive folder alone gives "X:\".
    ASSERT_TRUE(langtest::MakeFolder(strStore + L"\\Q"));
    ASSERT_TRUE(langtest::MakeFolder(strStore + L"\\notadrive"));
    WriteList(m_strApp + kRestoreListFile, {strStore, strStore + L"\\" + strDrive});
    m_engine.m_arrDriveRoots.RemoveAll();
    SetSetting(L"BackupStatus", L"1");   // sources unchanged: nothing is written back
    Run(true);
    std::vector<std::wstring> roots;
    for (INT_PTR i = 0; i < m_engine.m_arrDriveRoots.GetSize(); ++i)
        roots.push_back(m_engine.m_arrDriveRoots[i].GetString());
    std::sort(roots.begin(), roots.end());
    std::vector<std::wstring> expected = {std::wstring(strDrive) + L":\\", std::wstring(strDrive) + L":\\",
                                          L"Q:\\"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, roots);
    ExpectSourceFiles();

    // Selections that name nothing usable restore and back up nothing: paths outside the
    // store, empty and relative paths (which would be walked from the current folder).
    ASSERT_TRUE(langtest::RemoveTree(m_strSource));
    ::SetCurrentDirectoryW(m_root.Path());
    WriteList(m_strApp + kRestoreListFile, {m_root.Path(), L"", L"dst\\VEZORI", m_strTarget});
    Run(true);
    EXPECT_EQ(0, m_engine.m_nTotalFiles);
    EXPECT_FALSE(FileExists(m_strSource));
    WriteList(JoinPath(m_strData, kFullPathFile), {L"", L"src", L"dst", L"\\\\server\\share"});
    Run(false);
    EXPECT_EQ(0, m_engine.m_nTotalFiles);
    // A selection file that does not load is an empty selection.
    ASSERT_TRUE(WriteBytes(JoinPath(m_strData, kFullPathFile), "<filepath><path path=\"C:\\\"/>"));
    Run(false);
    EXPECT_EQ(0, m_engine.m_nTotalFiles);
}
