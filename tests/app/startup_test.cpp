// Start-up without windows: the data the main window loads before it opens, the program and
// data folders, pruning of the selection files, the help command and the last-backup time.

#include "AppTestUtil.h"
#include "DataFiles.h"
#include "HelpCommand.h"
#include "LangTestFolder.h"
#include "LanguageText.h"
#include "ProgramWide.h"
#include "QuickDialog.h"
#include "SelectionPrune.h"
#include "StartupData.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

using langtest::FileExists;
using langtest::ReadBytes;
using langtest::TempFolder;
using langtest::WriteBytes;

namespace {

const char kDefaultSettings[] =
    "<InitInfo>\r\n<BackupFinish>0</BackupFinish>\r\n<WindowsFile>0</WindowsFile>\r\n"
    "<ProgramFiles>0</ProgramFiles>\r\n<DocAndSetFiles>0</DocAndSetFiles>\r\n<BackupStatus>1</BackupStatus>\r\n"
    "<HideBackupFiles>1</HideBackupFiles>\r\n<MakeSure>0</MakeSure>\r\n<CompressFile>1</CompressFile>\r\n"
    "<SetPassword>0</SetPassword>\r\n<PasswordStyle>0</PasswordStyle>\r\n"
    "<HotKey Str=\"\" VirtualKeyCode=\"\" keyModifiers=\"\"/>\r\n"
    "<Monday IsSet=\"0\" Timing=\"00:00\"/>\r\n<Tuesday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Wednesday IsSet=\"0\" Timing=\"00:00\"/>\r\n<Thursday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Friday IsSet=\"0\" Timing=\"00:00\"/>\r\n<Saturday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Sunday IsSet=\"0\" Timing=\"00:00\"/>\r\n<USBHotKey>1</USBHotKey>\r\n<AutoStart>1</AutoStart>\r\n"
    "<BackupImages>0</BackupImages>\r\n<BackupAudios>0</BackupAudios>\r\n<BackupVedios>0</BackupVedios>\r\n"
    "<BackupDatas>0</BackupDatas>\r\n</InitInfo>\r\n";

const char kEmptyBackUpInfo[] = "<BackUpInfo>\r\n<Time/>\r\n<Path>\r\n<path/>\r\n</Path>\r\n</BackUpInfo>\r\n";

// Points the program-wide folders at a temporary program folder for one test.
struct ProgramFolder {
    TempFolder app{L"app"};
    ProgramFolder(const wchar_t* pszUser = L"tester")
    {
        g_strAppDir = app.Dir();
        g_strUserName = pszUser;
        ::CreateDirectoryW(GetDataFolder(), nullptr);
    }
    ~ProgramFolder()
    {
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }
    CString Data(const wchar_t* pszName) const { return JoinPath(GetDataFolder(), pszName); }
};

}  // namespace

TEST(StartupData, EmptyDataFolderGetsEveryDefaultFileByteForByte)
{
    ProgramFolder folder;
    g_bDefaultsWritten = 0;
    CXmlDocument settings;
    LoadProgramData(settings);

    EXPECT_EQ(kDefaultSettings, ReadBytes(folder.Data(L"init.xml")));
    EXPECT_EQ(kEmptyBackUpInfo, ReadBytes(folder.Data(L"backupinfo.xml")));
    // No string table beside the program: English is chosen and no table is active.
    EXPECT_EQ("<Language>\r\n<LanguageSelect>0x0409</LanguageSelect>\r\n</Language>\r\n",
              ReadBytes(folder.app / L"language.xml"));
    EXPECT_EQ(CString(L"0x0409"), g_strLanguage);
    EXPECT_EQ(0, g_bLanguageLoaded);
    EXPECT_EQ(1, g_bDefaultsWritten);
    // Language choice is shared by all users; the settings are per user.
    EXPECT_FALSE(FileExists(folder.app / L"init.xml"));

    // A second start keeps what is there.
    g_bDefaultsWritten = 0;
    ASSERT_TRUE(WriteBytes(folder.Data(L"init.xml"), "<InitInfo>\r\n<MakeSure>1</MakeSure>\r\n</InitInfo>\r\n"));
    CXmlDocument again;
    LoadProgramData(again);
    EXPECT_EQ(0, g_bDefaultsWritten);
    EXPECT_EQ(CString(L"1"), GetSettingText(again, L"MakeSure"));
}

TEST(StartupData, SessionQueryDecidesTheDataFolder)
{
    CString strError;
    {
        // Failing query: the data files live in the program folder itself.
        CSystemIoDouble system(false);
        ASSERT_TRUE(PrepareProgramFolders(strError));
        EXPECT_TRUE(strError.IsEmpty());
        EXPECT_TRUE(g_strUserName.IsEmpty());
        EXPECT_EQ(g_strAppDir, GetDataFolder());
        EXPECT_EQ(L'\\', g_strAppDir[g_strAppDir.GetLength() - 1]);
    }
    {
        // Working query: the folder is made by absolute path, whatever the current folder was,
        // and making it again is no failure.
        TempFolder elsewhere(L"cwd");
        ::SetCurrentDirectoryW(elsewhere.Path());
        CSystemIoDouble system(true, L"zul_startup_user");
        ASSERT_TRUE(PrepareProgramFolders(strError));
        EXPECT_TRUE(strError.IsEmpty());
        CString strData = GetDataFolder();
        EXPECT_EQ(g_strAppDir + L"zul_startup_user", strData);
        EXPECT_TRUE(FileExists(strData));
        EXPECT_FALSE(FileExists(elsewhere / L"zul_startup_user"));
        ASSERT_TRUE(PrepareProgramFolders(strError));
        EXPECT_TRUE(strError.IsEmpty());
        ::RemoveDirectoryW(strData);
    }
    g_strAppDir.Empty();
    g_strUserName.Empty();
}

TEST(StartupData, ModulePathIsNeverCut)
{
    CString strPath;
    ASSERT_TRUE(GetModulePath(nullptr, strPath));
    EXPECT_TRUE(FileExists(strPath));
    // A buffer too small for the path is reported, not cut.
    EXPECT_FALSE(GetModulePath(nullptr, strPath, 8));
    EXPECT_EQ(CString(L"C:\\a\\"), FolderOfPath(L"C:\\a\\b.exe"));
    EXPECT_EQ(CString(), FolderOfPath(L"b.exe"));
}

// ---------------------------------------------------------------------------------------
// Pruning the selection
// ---------------------------------------------------------------------------------------

namespace {

std::vector<std::wstring> g_gone;
bool IsGoneForTest(const CString& strPath)
{
    for (auto& s : g_gone) {
        if (strPath == s.c_str())
            return true;
    }
    return false;
}

std::string FullPathFile(std::initializer_list<const char*> paths)
{
    std::string s = "<filepath>\r\n";
    for (const char* p : paths)
        s += std::string("<path path=\"") + p + "\"/>\r\n";
    return s + "</filepath>\r\n";
}

}  // namespace

TEST(SelectionPrune, GonePathsLeaveNoEmptiedAncestorBehind)
{
    ProgramFolder folder;
    // C:\Data\a.txt and C:\Data\b.txt selected inside C:\Data; C:\Users\Me\notes.txt alone in its
    // chain; D:\ keeps an unrelated folder.
    ASSERT_TRUE(WriteBytes(folder.Data(L"filepath.xml"),
                           "<filepath>\r\n"
                           "<path path=\"C:\\\">\r\n"
                           "<path path=\"Data\\\">\r\n<path path=\"a.txt\\\"/>\r\n<path path=\"b.txt\\\"/>\r\n</path>\r\n"
                           "<path path=\"Users\\\">\r\n<path path=\"Me\\\">\r\n<path path=\"notes.txt\\\"/>\r\n"
                           "</path>\r\n</path>\r\n"
                           "</path>\r\n"
                           "<path path=\"D:\\\">\r\n<path path=\"Keep\\\"/>\r\n</path>\r\n"
                           "</filepath>\r\n"));
    ASSERT_TRUE(WriteBytes(folder.Data(L"backupfullpath.xml"),
                           FullPathFile({"C:\\Data\\a.txt", "C:\\Data\\b.txt", "C:\\Users\\Me\\notes.txt", "D:\\Keep"})));

    // A leaf under a mixed parent goes alone; a leaf whose chain empties takes the chain with it.
    g_gone = {L"C:\\Data\\a.txt", L"C:\\Users\\Me\\notes.txt"};
    EXPECT_EQ(2, PruneMissingPaths(GetDataFolder(), IsGoneForTest));
    EXPECT_EQ("<filepath>\r\n"
              "<path path=\"C:\\\">\r\n"
              "<path path=\"Data\\\">\r\n<path path=\"b.txt\\\"/>\r\n</path>\r\n"
              "</path>\r\n"
              "<path path=\"D:\\\">\r\n<path path=\"Keep\\\"/>\r\n</path>\r\n"
              "</filepath>\r\n",
              ReadBytes(folder.Data(L"filepath.xml")));
    EXPECT_EQ(FullPathFile({"C:\\Data\\b.txt", "D:\\Keep"}), ReadBytes(folder.Data(L"backupfullpath.xml")));

    // The last selected item of a drive takes the drive element too: an empty drive element
    // would mean the whole drive.
    g_gone = {L"C:\\Data\\b.txt"};
    EXPECT_EQ(1, PruneMissingPaths(GetDataFolder(), IsGoneForTest));
    EXPECT_EQ("<filepath>\r\n<path path=\"D:\\\">\r\n<path path=\"Keep\\\"/>\r\n</path>\r\n</filepath>\r\n",
              ReadBytes(folder.Data(L"filepath.xml")));
}

TEST(SelectionPrune, DriveRootIsRemovedFromBothFiles)
{
    ProgramFolder folder;
    ASSERT_TRUE(WriteBytes(folder.Data(L"filepath.xml"),
                           "<filepath>\r\n<path path=\"E:\\\"/>\r\n<path path=\"F:\\\"/>\r\n</filepath>\r\n"));
    ASSERT_TRUE(WriteBytes(folder.Data(L"backupfullpath.xml"), FullPathFile({"E:\\", "F:\\"})));
    g_gone = {L"E:\\"};
    EXPECT_EQ(1, PruneMissingPaths(GetDataFolder(), IsGoneForTest));
    EXPECT_EQ("<filepath>\r\n<path path=\"F:\\\"/>\r\n</filepath>\r\n", ReadBytes(folder.Data(L"filepath.xml")));
    EXPECT_EQ(FullPathFile({"F:\\"}), ReadBytes(folder.Data(L"backupfullpath.xml")));
}

TEST(SelectionPrune, OnlyPathsThatAreReallyGoneArePruned)
{
    ProgramFolder folder;
    CShellIoTable shell;
    // The temporary folder's drive is present; Q: is absent; R: is a card reader without a card.
    CString strTempRoot = folder.app.Path().Left(3);
    shell.drives[(const wchar_t*)strTempRoot] = DriveFacts();
    DriveFacts reader;
    reader.type = DRIVE_REMOVABLE;
    reader.ready = false;
    shell.drives[L"R:\\"] = reader;

    CString strKept = folder.app / L"kept.txt";
    CString strGone = folder.app / L"gone.txt";
    ASSERT_TRUE(WriteBytes(strKept, "x"));
    EXPECT_FALSE(IsSelectedPathGone(strKept));
    EXPECT_TRUE(IsSelectedPathGone(strGone));
    EXPECT_TRUE(IsSelectedPathGone(folder.app / L"no\\such\\folder"));
    EXPECT_FALSE(IsSelectedPathGone(L"Q:\\Photos"));
    EXPECT_FALSE(IsSelectedPathGone(L"R:\\Cards"));
    EXPECT_FALSE(IsSelectedPathGone(L"\\\\server\\share\\x"));

    // Through the whole pruning: the missing drive keeps its selection.
    ASSERT_TRUE(WriteBytes(folder.Data(L"backupfullpath.xml"),
                           FullPathFile({"Q:\\Photos", Narrow(strGone).c_str(), Narrow(strKept).c_str()})));
    EXPECT_EQ(1, PruneMissingPaths(GetDataFolder()));
    EXPECT_EQ(FullPathFile({"Q:\\Photos", Narrow(strKept).c_str()}), ReadBytes(folder.Data(L"backupfullpath.xml")));
}

TEST(SelectionPrune, FilesThatDoNotLoadAreLeftAlone)
{
    ProgramFolder folder;
    ASSERT_TRUE(WriteBytes(folder.Data(L"filepath.xml"), "<filepath><path path=\"C:\\\">"));
    ASSERT_TRUE(WriteBytes(folder.Data(L"backupfullpath.xml"), FullPathFile({"C:\\x"})));
    g_gone = {L"C:\\x"};
    EXPECT_EQ(1, PruneMissingPaths(GetDataFolder(), IsGoneForTest));
    EXPECT_EQ("<filepath><path path=\"C:\\\">", ReadBytes(folder.Data(L"filepath.xml")));
    EXPECT_EQ(0, PruneMissingPaths(folder.app / L"nowhere", IsGoneForTest));
}

// ---------------------------------------------------------------------------------------
// Help
// ---------------------------------------------------------------------------------------

TEST(Help, FileFollowsTheLanguageAndTheCommandLineIsQuotedWhole)
{
    EXPECT_EQ(CString(L"KVR_ZUL_HELP_CHS.chm"), HelpFileForLanguage(L"0x0804"));
    EXPECT_EQ(CString(L"KVR_ZUL_HELP_CHS.chm"), HelpFileForLanguage(L"0X0804"));
    EXPECT_EQ(CString(L"KVR_ZUL_HELP_CHT.chm"), HelpFileForLanguage(L"0x0404"));
    EXPECT_EQ(CString(L"KVR_ZUL_HELP_ENG.chm"), HelpFileForLanguage(L"0x0409"));
    EXPECT_EQ(CString(L"KVR_ZUL_HELP_ENG.chm"), HelpFileForLanguage(L""));

    CString viewer, line;
    BuildHelpCommand(L"C:\\windows", L"C:\\Program Files\\KVR\\", L"0x0804", viewer, line);
    EXPECT_EQ(CString(L"C:\\windows\\hh.exe"), viewer);
    EXPECT_EQ(CString(L"\"C:\\windows\\hh.exe\" \"C:\\Program Files\\KVR\\KVR_ZUL_HELP_CHS.chm\""), line);

    // A program folder of 250 characters is carried whole.
    CString folder = L"C:\\";
    while (folder.GetLength() < 249)
        folder += L"x";
    folder += L"\\";
    ASSERT_EQ(250, folder.GetLength());
    BuildHelpCommand(L"C:\\windows\\", folder, L"0x0404", viewer, line);
    EXPECT_EQ(CString(L"\"C:\\windows\\hh.exe\" \"") + folder + L"KVR_ZUL_HELP_CHT.chm\"", line);
    EXPECT_GT(line.GetLength(), 260);

    // The viewer is started from the Windows folder, never by bare name.
    CShellIoTable shell;
    ASSERT_TRUE(OpenHelp(folder, L"0x0409"));
    ASSERT_EQ(1u, shell.started.size());
    wchar_t win[MAX_PATH + 1] = {};
    ::GetWindowsDirectoryW(win, MAX_PATH);
    EXPECT_EQ(CString(win) + L"\\hh.exe", shell.started[0].application);
    EXPECT_EQ(CString(L"\"") + win + L"\\hh.exe\" \"" + folder + L"KVR_ZUL_HELP_ENG.chm\"", shell.started[0].commandLine);
}

// ---------------------------------------------------------------------------------------
// Last-backup time
// ---------------------------------------------------------------------------------------

TEST(LastBackupTime, StoredZeroPaddedAndReplacedInPlace)
{
    ProgramFolder folder;
    SYSTEMTIME st = {};
    st.wYear = 2026;
    st.wMonth = 3;
    st.wDay = 7;
    st.wHour = 8;
    st.wMinute = 5;
    st.wSecond = 9;
    EXPECT_EQ(CString(L"2026-03-07 08:05:09"), FormatBackupTime(st));
    st.wHour = 12;
    st.wMonth = 11;
    EXPECT_EQ(CString(L"2026-11-07 12:05:09"), FormatBackupTime(st));

    // Missing file: the record is created and the time goes into it.
    ASSERT_TRUE(SaveLastBackupTime(st, GetDataFolder()));
    EXPECT_EQ("<BackUpInfo>\r\n<Path>\r\n<path/>\r\n</Path>\r\n<Time>2026-11-07 12:05:09</Time>\r\n</BackUpInfo>\r\n",
              ReadBytes(folder.Data(L"backupinfo.xml")));
    // A second save replaces the time, never adds a second one.
    st.wYear = 2027;
    ASSERT_TRUE(SaveLastBackupTime(st, GetDataFolder()));
    EXPECT_EQ(CString(L"2027-11-07 12:05:09"), ReadLastBackupTime(GetDataFolder()));
    EXPECT_EQ(1, (int)[&] {
        std::string s = ReadBytes(folder.Data(L"backupinfo.xml"));
        size_t n = 0;
        for (size_t p = s.find("<Time>"); p != std::string::npos; p = s.find("<Time>", p + 1))
            ++n;
        return n;
    }());

    // A broken record is kept aside and never written into.
    ASSERT_TRUE(WriteBytes(folder.Data(L"backupinfo.xml"), "<BackUpInfo><Time>broken"));
    ASSERT_TRUE(SaveLastBackupTime(st, GetDataFolder()));
    EXPECT_EQ("<BackUpInfo><Time>broken", ReadBytes(folder.Data(L"backupinfo.xml.bad")));
    EXPECT_EQ(CString(L"2027-11-07 12:05:09"), ReadLastBackupTime(GetDataFolder()));
}
