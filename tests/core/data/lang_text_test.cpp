// Looking texts up by key and the fallback rules: English while no table is loaded and for a key
// the loaded table lacks or leaves blank, and nothing left over from a table that failed.

#include "LangTestFolder.h"
#include "LanguageText.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

namespace {

class LanguageTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_pLanguageDoc = &m_doc;
        g_bLanguageLoaded = 0;
    }
    void TearDown() override
    {
        g_pLanguageDoc = nullptr;
        g_bLanguageLoaded = 0;
    }
    CString WriteTable(const wchar_t* pszName, const std::string& bytes)
    {
        CString strPath = m_dir / pszName;
        EXPECT_TRUE(langtest::WriteBytes(strPath, bytes));
        return strPath;
    }

    CXmlDocument m_doc;
    langtest::TempFolder m_dir{L"langtext"};
};

} // namespace

TEST_F(LanguageTextTest, LookupRulesOfALoadedTable)
{
    CString strPath = WriteTable(L"t.xml",
        "<T>\r\n<Backup>Sauvegarde</Backup>\r\n<Backup>second</Backup>\r\n<BackupTip>Astuce</BackupTip>\r\n"
        "<Outer><Inner>deep</Inner></Outer>\r\n<Amp>A &amp; B &#x41;</Amp>\r\n<Blank>  </Blank>\r\n"
        "<Empty></Empty>\r\n<Closed/>\r\n<Lead> file(s) failed </Lead>\r\n</T>\r\n");
    g_bLanguageLoaded = LoadLanguageFile(strPath);
    ASSERT_EQ(1, g_bLanguageLoaded);

    EXPECT_EQ(CString(L"Sauvegarde"), GetLanguageText(L"Backup"));   // the first of two wins
    EXPECT_EQ(CString(L"Astuce"), GetLanguageText(L"BackupTip"));    // whole names, not prefixes
    EXPECT_EQ(CString(), GetLanguageText(L"Back"));
    EXPECT_EQ(CString(), GetLanguageText(L"Inner"));                 // only direct children count
    EXPECT_EQ(CString(L"A & B A"), GetLanguageText(L"Amp"));
    EXPECT_EQ(CString(L"  "), GetLanguageText(L"Blank"));
    // Each lookup starts again at the top, whatever the previous one found.
    EXPECT_EQ(CString(L"Astuce"), GetLanguageText(L"BackupTip"));
    EXPECT_EQ(CString(L"Sauvegarde"), GetLanguageText(L"Backup"));
    // No key is no element: neither null nor an empty name picks the first element.
    EXPECT_EQ(CString(), GetLanguageText(nullptr));
    EXPECT_EQ(CString(), GetLanguageText(L""));

    // What a window shows: the table's text as written, blanks at its ends included; the
    // built-in English text where the table has nothing to show (no element, or one that is
    // empty or blank), never an empty caption or message.
    EXPECT_EQ(CString(L"Astuce"), GetLanguageTextOr(L"BackupTip", L"Tip"));
    EXPECT_EQ(CString(L" file(s) failed "), GetLanguageTextOr(L"Lead", L"English text"));
    for (const wchar_t* key : {L"Missing", L"Inner", L"Blank", L"Empty", L"Closed"})
        EXPECT_EQ(CString(L"English text"), GetLanguageTextOr(key, L"English text")) << CStringA(key).GetString();
    EXPECT_EQ(CString(), GetLanguageText(L"Empty"));
    EXPECT_EQ(CString(), GetLanguageText(L"Closed"));
}

TEST_F(LanguageTextTest, FailedTablesLeaveTheEnglishTexts)
{
    EXPECT_EQ(CString(L"Quit"), GetLanguageTextOr(L"Quit", L"Quit"));

    CString strGood = WriteTable(L"good.xml", "<T>\r\n<Quit>Beenden</Quit>\r\n</T>\r\n");
    g_bLanguageLoaded = LoadLanguageFile(strGood);
    ASSERT_EQ(1, g_bLanguageLoaded);
    EXPECT_EQ(CString(L"Beenden"), GetLanguageTextOr(L"Quit", L"Quit"));

    // A damaged table (unended element, two top elements) or a missing one does not load, and
    // no text of the table loaded before survives in the document.
    const char* damaged[] = {"<T>\r\n<Quit>Ende</Quit>\r\n", "<T><Quit>Ende</Quit></T><U/>", ""};
    for (const char* bytes : damaged) {
        g_bLanguageLoaded = LoadLanguageFile(strGood);
        ASSERT_EQ(1, g_bLanguageLoaded);
        g_bLanguageLoaded = LoadLanguageFile(WriteTable(L"bad.xml", bytes));
        EXPECT_EQ(0, g_bLanguageLoaded) << bytes;
        EXPECT_EQ(CString(L"Quit"), GetLanguageTextOr(L"Quit", L"Quit")) << bytes;
        EXPECT_EQ(CString(), GetLanguageText(L"Quit")) << bytes;
    }
    EXPECT_EQ(0, LoadLanguageFile(m_dir / L"none.xml"));
    EXPECT_EQ(0, LoadLanguageFile(nullptr));

    // Without a document nothing loads and nothing is found.
    g_pLanguageDoc = nullptr;
    EXPECT_EQ(0, LoadLanguageFile(strGood));
    EXPECT_EQ(CString(), GetLanguageText(L"Quit"));
}
