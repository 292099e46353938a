// The one-element settings writes on a private data folder: each write changes exactly its
// element, an unchanged value writes nothing, a missing file gets its defaults first, a locked
// or damaged file is never replaced, and a missing element lands under the root.

#include "DataFiles.h"
#include "HotKeyDlg.h"
#include "LangTestFolder.h"
#include "SettingsCommon.h"
#include "SettingsStore.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

using langtest::ReadBytes;
using langtest::TempFolder;
using langtest::WriteBytes;

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_strAppDir = m_root.Dir();
        g_strUserName = L"user";
        ASSERT_TRUE(langtest::MakeFolder(m_root / L"user"));
        CXmlDocument doc;
        ASSERT_TRUE(WriteDefaultSettings(doc, m_root / L"user"));
    }
    void TearDown() override
    {
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }
    CString Path() const { return m_root / L"user\\init.xml"; }
    // The defaults file with one element's text replaced, as the document class writes it.
    std::string Expected(const wchar_t* pszName, const wchar_t* pszValue)
    {
        CXmlDocument doc;
        EXPECT_TRUE(doc.LoadFile(Path()));
        doc.ResetPosition();
        EXPECT_TRUE(doc.FindChildElement(pszName));
        doc.SetChildData(pszValue);
        CString strTmp = m_root / L"expected.xml";
        doc.SaveFile(strTmp);
        return ReadBytes(strTmp);
    }
    CString Stored(const wchar_t* pszName)
    {
        CXmlDocument doc;
        if (!doc.LoadFile(Path()))
            return L"<unloadable>";
        return GetSettingText(doc, pszName);
    }

    TempFolder m_root{L"store"};
};

} // namespace

TEST_F(StoreTest, WriteChangesExactlyItsElementAndSameValueWritesNothing)
{
    for (const wchar_t* pszName : {L"BackupFinish", L"USBHotKey", L"BackupDatas"}) {
        SCOPED_TRACE(CStringA(pszName).GetString());
        std::string expected = Expected(pszName, L"3");
        EXPECT_EQ(SettingsWrite::Saved, SaveInitValue(pszName, L"3"));
        EXPECT_EQ(expected, ReadBytes(Path()));

        // The value already stored: not even the write time changes.
        WIN32_FILE_ATTRIBUTE_DATA before = {}, after = {};
        ::GetFileAttributesExW(Path(), GetFileExInfoStandard, &before);
        ::Sleep(20);
        EXPECT_EQ(SettingsWrite::Unchanged, SaveInitValue(pszName, L"3"));
        ::GetFileAttributesExW(Path(), GetFileExInfoStandard, &after);
        EXPECT_EQ(0, ::CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime));
        EXPECT_EQ(expected, ReadBytes(Path()));
    }
}

TEST_F(StoreTest, DeletedLockedOrDamagedFileNeverBecomesEmptyOrRootless)
{
    // Deleted: the defaults come back with the one change.
    ASSERT_TRUE(::DeleteFileW(Path()));
    EXPECT_EQ(SettingsWrite::Saved, SaveInitValue(L"MakeSure", L"1"));
    EXPECT_EQ(L"1", Stored(L"MakeSure"));
    EXPECT_EQ(L"1", Stored(L"CompressFile"));   // a default, not lost
    EXPECT_EQ(L"00:00", [&] {
        CString t;
        bool b;
        ReadDaySchedule(L"Sunday", t, b);
        return t;
    }());

    // Locked: the write fails and the file keeps its bytes.
    std::string before = ReadBytes(Path());
    HANDLE h = ::CreateFileW(Path(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(SettingsWrite::Failed, SaveInitValue(L"MakeSure", L"0"));
    EXPECT_EQ(SettingsWrite::Failed, SaveHotKey(L"Ctrl + B", 'B', MOD_CONTROL));
    EXPECT_EQ(SettingsWrite::Failed, SaveDayTiming(L"Monday", 7, 5));
    ::CloseHandle(h);
    EXPECT_EQ(before, ReadBytes(Path()));

    // Damaged (two top-level elements, or cut short): left exactly as it is.
    for (const char* damaged : {"<InitInfo><MakeSure>1</MakeSure></InitInfo>\r\n<InitInfo/>\r\n",
                                "<InitInfo>\r\n<MakeSure>1</MakeSure>\r\n<Compre"}) {
        ASSERT_TRUE(WriteBytes(Path(), damaged));
        EXPECT_EQ(SettingsWrite::Failed, SaveInitValue(L"MakeSure", L"0"));
        EXPECT_EQ(SettingsWrite::Failed, SaveDayIsSet(L"Friday", true));
        EXPECT_EQ(damaged, ReadBytes(Path()));
    }
}

TEST_F(StoreTest, MissingElementLandsUnderTheRootAndTheFileReloads)
{
    ASSERT_TRUE(WriteBytes(Path(), "<InitInfo>\r\n<BackupFinish>0</BackupFinish>\r\n</InitInfo>\r\n"));
    EXPECT_EQ(SettingsWrite::Saved, SaveInitValue(L"AutoStart", L"1"));
    EXPECT_EQ(SettingsWrite::Saved, SaveHotKey(L"Alt + F2", VK_F2, MOD_ALT));
    EXPECT_EQ(SettingsWrite::Saved, SaveDayTiming(L"Tuesday", 9, 0));
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(Path()));
    ASSERT_TRUE(doc.IsWellFormed());
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindElement(nullptr));
    EXPECT_EQ(L"InitInfo", doc.GetTagNameAt(doc.GetCurrentPos()));
    EXPECT_FALSE(doc.FindElement(nullptr));   // still one top-level element
    EXPECT_EQ(L"1", Stored(L"AutoStart"));
    int nKey = 0, nMods = 0;
    ReadHotKey(nKey, nMods);
    EXPECT_EQ(VK_F2, nKey);
    EXPECT_EQ(MOD_ALT, nMods);
    EXPECT_NE(std::string::npos,
              ReadBytes(Path()).find("<HotKey Str=\"Alt + F2\" VirtualKeyCode=\"113\" keyModifiers=\"1\"/>"));
    EXPECT_NE(std::string::npos, ReadBytes(Path()).find("<Tuesday IsSet=\"1\" Timing=\"09:00\"/>"));
}

TEST_F(StoreTest, HotKeyAndTimingKeepTheirPlaceAndStoreCanonicalValues)
{
    std::string before = ReadBytes(Path());
    size_t nHotKeyAt = before.find("<HotKey");
    ASSERT_EQ(SettingsWrite::Saved, SaveHotKey(L"Ctrl + Shift + F9", VK_F9, MOD_CONTROL | MOD_SHIFT));
    std::string after = ReadBytes(Path());
    EXPECT_EQ(nHotKeyAt, after.find("<HotKey Str=\"Ctrl + Shift + F9\" VirtualKeyCode=\"120\" keyModifiers=\"6\""));

    struct {
        int h, m;
        const wchar_t* timing;
    } cases[] = {{7, 5, L"07:05"}, {12, 30, L"12:30"}, {99, -4, L"23:00"}, {0, 75, L"00:59"}};
    for (const auto& c : cases) {
        ASSERT_EQ(SettingsWrite::Saved, SaveDayTiming(L"Wednesday", c.h, c.m));
        CString t;
        bool bSet = false;
        ASSERT_TRUE(ReadDaySchedule(L"Wednesday", t, bSet));
        EXPECT_EQ(c.timing, t);
        EXPECT_TRUE(bSet);
    }
    EXPECT_EQ(SettingsWrite::Failed, SaveDayTiming(L"Someday", 1, 1));
}

TEST_F(StoreTest, WeekTimingIsOneWriteOfEveryDayOrOfNone)
{
    // One day missing from the file: added with the others' time, under the root.
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(Path()));
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindChildElement(L"Thursday"));
    ASSERT_TRUE(doc.RemoveChildElement());
    ASSERT_TRUE(doc.SaveFile(Path()));
    ASSERT_EQ(SettingsWrite::Saved, SaveDaysTiming(kScheduleDays, 7, 6, 5));
    for (const wchar_t* day : kScheduleDays) {
        CString t;
        bool bSet = false;
        EXPECT_TRUE(ReadDaySchedule(day, t, bSet)) << CStringA(day).GetString();
        EXPECT_EQ(L"06:05", t) << CStringA(day).GetString();
        EXPECT_TRUE(bSet) << CStringA(day).GetString();
    }
    EXPECT_EQ(SettingsWrite::Unchanged, SaveDaysTiming(kScheduleDays, 7, 6, 5));

    // A locked file, or a list with a day that is no day, changes no day at all.
    std::string before = ReadBytes(Path());
    HANDLE h = ::CreateFileW(Path(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(SettingsWrite::Failed, SaveDaysTiming(kScheduleDays, 7, 8, 0));
    ::CloseHandle(h);
    const wchar_t* withOdd[] = {L"Monday", L"Funday", L"Tuesday"};
    EXPECT_EQ(SettingsWrite::Failed, SaveDaysTiming(withOdd, 3, 8, 0));
    EXPECT_EQ(SettingsWrite::Failed, SaveDaysTiming(kScheduleDays, 0, 8, 0));
    EXPECT_EQ(before, ReadBytes(Path()));
}

TEST(SettingsHelpers, ExtensionTestIsExactAndPicturesTakeJpeg)
{
    const CString pictures = L"Picture:bmp,jpg,png,jepg,jpeg";
    for (const wchar_t* e : {L"bmp", L"jpg", L"jepg", L"jpeg"})
        EXPECT_TRUE(IsExtensionInList(pictures, e)) << CStringA(e).GetString();
    for (const wchar_t* e : {L"JPG", L".jpg", L"jp", L"", L"Picture"})
        EXPECT_FALSE(IsExtensionInList(pictures, e)) << CStringA(e).GetString();
    EXPECT_TRUE(IsExtensionInList(L"Data:txt,doc,docx", L"docx"));
    EXPECT_FALSE(IsExtensionInList(L"Data:txt,doc,docx", L"doc "));
    EXPECT_TRUE(IsExtensionInList(L"mp3,wma", L"mp3"));   // no colon: the whole list
    EXPECT_FALSE(IsExtensionInList(L"Others:", L"txt"));
}

TEST(SettingsHelpers, TimeFieldsClampWithoutOverflow)
{
    struct {
        const wchar_t* text;
        int max, value;
        bool rewrite;
    } cases[] = {{L"7", 23, 7, false},   {L"99", 23, 23, true}, {L"", 59, 0, true},
                 {L"012", 23, 12, true}, {L"1:", 23, 1, true},  {L"ab", 59, 0, true},
                 {L"4294967308", 23, 23, true}, {L"05", 59, 5, true}, {L"0", 59, 0, false}};
    for (const auto& c : cases) {
        bool bRewrite = false;
        EXPECT_EQ(c.value, ClampTimeField(c.text, c.max, bRewrite)) << CStringA(c.text).GetString();
        EXPECT_EQ(c.rewrite, bRewrite) << CStringA(c.text).GetString();
    }
}

TEST(SettingsHelpers, HotKeyModifierMappingSwapsShiftAndAlt)
{
    EXPECT_EQ(MOD_SHIFT, HotKeyFlagsToModifiers(HOTKEYF_SHIFT));
    EXPECT_EQ(MOD_ALT, HotKeyFlagsToModifiers(HOTKEYF_ALT));
    EXPECT_EQ(MOD_CONTROL, HotKeyFlagsToModifiers(HOTKEYF_CONTROL));
    EXPECT_EQ(MOD_CONTROL | MOD_SHIFT, HotKeyFlagsToModifiers(HOTKEYF_CONTROL | HOTKEYF_SHIFT | HOTKEYF_EXT));
    EXPECT_EQ(HOTKEYF_ALT, ModifiersToHotKeyFlags(MOD_ALT));
    EXPECT_EQ(HOTKEYF_SHIFT | HOTKEYF_ALT, ModifiersToHotKeyFlags(MOD_SHIFT | MOD_ALT));
    EXPECT_EQ(0, ModifiersToHotKeyFlags(MOD_WIN));
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(n, HotKeyFlagsToModifiers(ModifiersToHotKeyFlags(n)));
}

TEST(SettingsHelpers, LauncherCommandIsQuotedBesideTheProgram)
{
    EXPECT_EQ(L"\"C:\\Program Files\\KVR\\ZULTray.exe\"",
              BuildLauncherCommand(CString(L"C:\\Program Files\\KVR\\KVR ZUL.exe")));
    CString strLong = L"C:\\" + CString(std::wstring(250, L'd').c_str()) + L"\\KVR ZUL.exe";
    EXPECT_EQ(L"\"C:\\" + CString(std::wstring(250, L'd').c_str()) + L"\\ZULTray.exe\"", BuildLauncherCommand(strLong));
}

TEST(SettingsHelpers, StoreFolderHiddenKeepsOtherAttributesAndLeavesMissingFoldersAlone)
{
    TempFolder root(L"hidden");
    CString strStore = root / L"VEZORI";
    ASSERT_TRUE(langtest::MakeFolder(strStore));
    ASSERT_TRUE(::SetFileAttributesW(strStore, FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(SetStoreFolderHidden(strStore, true));
    DWORD dw = ::GetFileAttributesW(strStore);
    EXPECT_TRUE(dw & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(dw & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(SetStoreFolderHidden(strStore, false));
    dw = ::GetFileAttributesW(strStore);
    EXPECT_FALSE(dw & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(dw & FILE_ATTRIBUTE_SYSTEM);
    ::SetFileAttributesW(strStore, FILE_ATTRIBUTE_NORMAL);

    // Nothing there: nothing set, and no file appears.
    CString strMissing = root / L"none\\VEZORI";
    EXPECT_FALSE(SetStoreFolderHidden(strMissing, true));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(strMissing));
}
