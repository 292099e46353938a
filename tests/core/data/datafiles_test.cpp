// The main program's data files: exact bytes of every file written with its defaults, files
// that do not load kept as ".bad" before their defaults replace them, and the language code
// chosen at first start.

#include "DataFiles.h"
#include "LangTestFolder.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

using langtest::FileExists;
using langtest::ReadBytes;
using langtest::TempFolder;
using langtest::WriteBytes;

namespace {

const char kDefaultSettings[] =
    "<InitInfo>\r\n"
    "<BackupFinish>0</BackupFinish>\r\n"
    "<WindowsFile>0</WindowsFile>\r\n"
    "<ProgramFiles>0</ProgramFiles>\r\n"
    "<DocAndSetFiles>0</DocAndSetFiles>\r\n"
    "<BackupStatus>1</BackupStatus>\r\n"
    "<HideBackupFiles>1</HideBackupFiles>\r\n"
    "<MakeSure>0</MakeSure>\r\n"
    "<CompressFile>1</CompressFile>\r\n"
    "<SetPassword>0</SetPassword>\r\n"
    "<PasswordStyle>0</PasswordStyle>\r\n"
    "<HotKey Str=\"\" VirtualKeyCode=\"\" keyModifiers=\"\"/>\r\n"
    "<Monday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Tuesday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Wednesday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Thursday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Friday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Saturday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<Sunday IsSet=\"0\" Timing=\"00:00\"/>\r\n"
    "<USBHotKey>1</USBHotKey>\r\n"
    "<AutoStart>1</AutoStart>\r\n"
    "<BackupImages>0</BackupImages>\r\n"
    "<BackupAudios>0</BackupAudios>\r\n"
    "<BackupVedios>0</BackupVedios>\r\n"
    "<BackupDatas>0</BackupDatas>\r\n"
    "</InitInfo>\r\n";

const char kEmptyBackUpInfo[] =
    "<BackUpInfo>\r\n<Time/>\r\n<Path>\r\n<path/>\r\n</Path>\r\n</BackUpInfo>\r\n";

std::string LanguageSelectFile(const char* pszCode)
{
    return std::string("<Language>\r\n<LanguageSelect>") + pszCode + "</LanguageSelect>\r\n</Language>\r\n";
}

// A program folder holding string tables for the given codes.
void AddTables(const TempFolder& app, std::initializer_list<const wchar_t*> codes)
{
    ASSERT_TRUE(langtest::MakeFolder(app / L"Language"));
    for (const wchar_t* pszCode : codes)
        ASSERT_TRUE(WriteBytes(app.Dir() + L"Language\\" + pszCode + L".xml", "<T>\r\n<OK>OK</OK>\r\n</T>\r\n"));
}

} // namespace

TEST(DataFiles, FirstStartWritesEveryFileByteExact)
{
    TempFolder app(L"first");
    CString strData = app.Path() + L"\\user";
    AddTables(app, {L"0x0409", L"0x0804"});

    g_bDefaultsWritten = 0;
    CXmlDocument settings;
    bool bDefaults = false;
    ASSERT_TRUE(LoadSettings(settings, strData, &bDefaults));   // creates the missing data folder
    EXPECT_TRUE(bDefaults);
    EXPECT_EQ(1, g_bDefaultsWritten);
    EXPECT_EQ(kDefaultSettings, ReadBytes(strData + L"\\init.xml"));
    EXPECT_EQ(CString(L"1"), GetSettingText(settings, L"BackupStatus"));
    EXPECT_EQ(CString(L"1"), GetSettingText(settings, L"CompressFile"));
    EXPECT_EQ(CString(), GetSettingText(settings, L"Backup"));   // whole names only

    CXmlDocument info;
    ASSERT_TRUE(LoadBackUpInfo(info, strData));
    EXPECT_EQ(kEmptyBackUpInfo, ReadBytes(strData + L"\\backupinfo.xml"));

    // The system language is kept when its table exists, else English; codes have four digits.
    EXPECT_EQ(CString(L"0x0804"), ReadLanguageSelect(app.Dir(), 0x804));
    EXPECT_EQ(LanguageSelectFile("0x0804"), ReadBytes(app / L"language.xml"));
    ASSERT_TRUE(WriteLanguageSelect(app.Dir(), 0x404));
    EXPECT_EQ(LanguageSelectFile("0x0409"), ReadBytes(app / L"language.xml"));
    EXPECT_EQ(CString(L"0x0004"), FormatLanguageCode(0x4));
    EXPECT_EQ(CString(L"0x0c0a"), FormatLanguageCode(0xC0A));

    // Nothing but the files themselves is left in the folders (no temporary files, no ".bad").
    EXPECT_EQ(L"backupinfo.xml|init.xml", langtest::ListFolder(strData));
    EXPECT_EQ(L"Language|language.xml|user", langtest::ListFolder(app.Path()));

    // The next start finds the files, keeps them as they are and writes no defaults.
    g_bDefaultsWritten = 0;
    ASSERT_TRUE(WriteBytes(strData + L"\\init.xml", "\xEF\xBB\xBF<InitInfo><BackupStatus>0</BackupStatus></InitInfo>"));
    ASSERT_TRUE(LoadSettings(settings, strData, &bDefaults));
    EXPECT_FALSE(bDefaults);
    EXPECT_EQ(0, g_bDefaultsWritten);
    EXPECT_EQ(CString(L"0"), GetSettingText(settings, L"BackupStatus"));
    EXPECT_EQ(CString(L"0x0409"), ReadLanguageSelect(app.Dir(), 0x804));
    EXPECT_EQ(L"backupinfo.xml|init.xml", langtest::ListFolder(strData));
}

TEST(DataFiles, UnloadableFilesAreKeptAsBadBeforeDefaults)
{
    // Truncated, two top elements, binary, empty: each is treated as missing, but kept.
    const std::string damaged[] = {
        "<InitInfo>\r\n<BackupFinish>2</BackupFinish>\r\n<Backup",
        "<InitInfo/><InitInfo/>",
        std::string("\x00\xFF\xFE\x01<\x80\x81", 7),
        "",
    };
    for (const std::string& bytes : damaged) {
        TempFolder data(L"bad");
        ASSERT_TRUE(WriteBytes(data / L"init.xml", bytes));
        ASSERT_TRUE(WriteBytes(data / L"backupinfo.xml", bytes));
        ASSERT_TRUE(WriteBytes(data / L"language.xml", bytes));
        // An older ".bad" that a person made read-only is replaced all the same.
        ASSERT_TRUE(WriteBytes(data / L"init.xml.bad", "old"));
        ::SetFileAttributesW(data / L"init.xml.bad", FILE_ATTRIBUTE_READONLY);

        CXmlDocument doc;
        bool bDefaults = false;
        ASSERT_TRUE(LoadSettings(doc, data.Path(), &bDefaults));
        EXPECT_TRUE(bDefaults);
        EXPECT_EQ(kDefaultSettings, ReadBytes(data / L"init.xml"));
        EXPECT_EQ(bytes, ReadBytes(data / L"init.xml.bad"));

        CXmlDocument info;
        ASSERT_TRUE(LoadBackUpInfo(info, data.Path()));
        EXPECT_EQ(kEmptyBackUpInfo, ReadBytes(data / L"backupinfo.xml"));
        EXPECT_EQ(bytes, ReadBytes(data / L"backupinfo.xml.bad"));

        EXPECT_EQ(CString(L"0x0409"), ReadLanguageSelect(data.Dir(), 0x804));
        EXPECT_EQ(LanguageSelectFile("0x0409"), ReadBytes(data / L"language.xml"));
        EXPECT_EQ(bytes, ReadBytes(data / L"language.xml.bad"));
    }
    // A file held open by another program can neither be read nor set aside: it is left as
    // it is and the defaults serve from memory.
    {
        TempFolder data(L"locked");
        ASSERT_TRUE(WriteBytes(data / L"init.xml", "<InitInfo><MakeSure>1</MakeSure></InitInfo>"));
        HANDLE hLock = ::CreateFileW(data / L"init.xml", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
        CXmlDocument doc;
        EXPECT_TRUE(LoadSettings(doc, data.Path()));
        EXPECT_EQ(CString(L"1"), GetSettingText(doc, L"CompressFile"));
        ::CloseHandle(hLock);
        EXPECT_EQ("<InitInfo><MakeSure>1</MakeSure></InitInfo>", ReadBytes(data / L"init.xml"));
    }
    // A language file without a choice gets one.
    TempFolder app(L"nochoice");
    ASSERT_TRUE(WriteBytes(app / L"language.xml", "<Language>\r\n<LanguageSelect/>\r\n</Language>\r\n"));
    EXPECT_EQ(CString(L"0x0409"), ReadLanguageSelect(app.Dir(), 0x804));
    EXPECT_EQ(LanguageSelectFile("0x0409"), ReadBytes(app / L"language.xml"));
}

namespace {

// Sends this process's machine-wide and current-user registry roots to keys of its own for
// the life of the object, so that the logon values the code under test deletes are never the
// real ones, nor those of another test running at the same time. The private keys go with it,
// however the test ends.
class CPrivateRegistryRoots {
public:
    CPrivateRegistryRoots()
    {
        m_strBase.Format(L"Software\\ZulTest_%lu_roots", GetCurrentProcessId());
        if (::RegCreateKeyW(HKEY_CURRENT_USER, m_strBase + L"\\machine", &m_hMachine) != ERROR_SUCCESS ||
            ::RegCreateKeyW(HKEY_CURRENT_USER, m_strBase + L"\\user", &m_hUser) != ERROR_SUCCESS)
            return;
        m_bMachine = ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_hMachine) == ERROR_SUCCESS;
        m_bUser = ::RegOverridePredefKey(HKEY_CURRENT_USER, m_hUser) == ERROR_SUCCESS;
    }
    ~CPrivateRegistryRoots()
    {
        if (m_bMachine)
            ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (m_bUser)
            ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (m_hMachine)
            ::RegCloseKey(m_hMachine);
        if (m_hUser)
            ::RegCloseKey(m_hUser);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, m_strBase);
    }
    bool Ready() const { return m_bMachine && m_bUser; }
    // The private key that stands for the machine-wide root.
    HKEY Machine() const { return m_hMachine; }

private:
    CString m_strBase;
    HKEY m_hMachine = nullptr, m_hUser = nullptr;
    bool m_bMachine = false, m_bUser = false;
};

} // namespace

TEST(DataFiles, DefaultsDeleteOnlyTheMachineWideLogonValue)
{
    const wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const wchar_t kValue[] = L"C:\\Prog\\ZULTray.exe";
    CPrivateRegistryRoots roots;
    if (!roots.Ready())
        GTEST_SKIP() << "the registry roots cannot be redirected here";
    HKEY hMachine = nullptr, hUser = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_LOCAL_MACHINE, kRun, &hMachine));
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_CURRENT_USER, kRun, &hUser));
    HKEY hCheck = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(roots.Machine(), kRun, 0, KEY_READ, &hCheck))
        << "the machine-wide root is not the private one";
    ::RegCloseKey(hCheck);
    DWORD cb = sizeof(kValue);
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(hMachine, L"KVR_ZUL", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(kValue), cb));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(hUser, L"KVR_ZUL", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(kValue), cb));

    TempFolder data(L"run");
    CXmlDocument doc;
    EXPECT_TRUE(WriteDefaultSettings(doc, data.Path()));
    EXPECT_NE(ERROR_SUCCESS, ::RegQueryValueExW(hMachine, L"KVR_ZUL", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(hUser, L"KVR_ZUL", nullptr, nullptr, nullptr, nullptr));
    // Without the value the deletion is harmless.
    EXPECT_TRUE(WriteDefaultSettings(doc, data.Path()));

    ::RegCloseKey(hUser);
    ::RegCloseKey(hMachine);
}

// A name in no folder stays a relative name: no separator is put in front of it.
TEST(DataFiles, JoinPathPutsOneSeparatorBetween)
{
    EXPECT_EQ(CString(L"x"), JoinPath(CString(), L"x"));
    EXPECT_EQ(CString(L"C:\\d\\x"), JoinPath(CString(L"C:\\d"), L"x"));
    EXPECT_EQ(CString(L"C:\\d\\x"), JoinPath(CString(L"C:\\d\\"), L"x"));
}
