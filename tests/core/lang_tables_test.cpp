// The delivered language folder: the list names every table, every table loads well-formed and
// carries exactly the keys of the English table, once each, directly under its top element; every
// key the program asks for is listed, and every table has a text for each listed key.

#include "LangTestFolder.h"
#include "LanguageKeys.h"
#include "LanguageText.h"
#include "SettingsStore.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

#include <iterator>
#include <cwchar>
#include <map>
#include <set>
#include <string>

namespace {

// Every first argument of the lookup functions in the program's sources, gathered by the build.
struct KeyUse {
    const wchar_t* pszFile;
    const wchar_t* pszArgument;   // the key for a literal, else the expression as written
    bool bLiteral;
    bool bWithEnglish;            // GetLanguageTextOr, with the built-in English text
};
const KeyUse kKeyUses[] = {
#include "language_keys_used.inc"
};

bool IsListedKey(const std::wstring& key)
{
    for (const wchar_t* k : kLanguageKeys)
        if (key == k)
            return true;
    return false;
}

// The build copies the folder "Language" beside the programs, where the tests run too.
CString ProgramFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    CString str(szPath);
    return str.Left(str.ReverseFind(L'\\') + 1);
}

// Key -> text of every element under the top element; duplicates and elements with child
// elements are reported through the test.
std::map<std::wstring, std::wstring> ReadTable(const CString& strPath)
{
    std::map<std::wstring, std::wstring> table;
    CXmlDocument doc;
    EXPECT_TRUE(doc.LoadFile(strPath)) << "not loadable: " << CStringA(strPath).GetString();
    doc.ResetPosition();
    while (doc.FindChildElement(nullptr)) {
        std::wstring key = doc.GetTagNameAt(doc.GetChildPos()).GetString();
        std::wstring text = doc.GetChildData().GetString();
        EXPECT_TRUE(table.emplace(key, text).second) << "key twice: " << CStringA(key.c_str()).GetString();
        EXPECT_FALSE(text.empty()) << "empty text: " << CStringA(key.c_str()).GetString();
        doc.EnterElement();
        EXPECT_FALSE(doc.FindChildElement(nullptr)) << "nested: " << CStringA(key.c_str()).GetString();
        doc.LeaveElement();
    }
    return table;
}

} // namespace

TEST(LanguageTables, ListedTablesLoadAndCarryTheSameKeys)
{
    CString strDir = ProgramFolder() + L"Language\\";
    CXmlDocument list;
    ASSERT_TRUE(list.LoadFile(strDir + L"Language.xml"));

    std::map<std::wstring, std::wstring> names;   // id -> shown name
    list.ResetPosition();
    while (list.FindChildElement(L"Language"))
        names[list.GetChildAttribute(L"LanguageID").GetString()] = list.GetChildAttribute(L"value").GetString();
    // The help files and the language codes written at first start rely on these three ids.
    ASSERT_EQ(3u, names.size());
    EXPECT_EQ(L"English", names[L"0x0409"]);
    EXPECT_FALSE(names[L"0x0804"].empty());
    EXPECT_FALSE(names[L"0x0404"].empty());

    std::map<std::wstring, std::wstring> english = ReadTable(strDir + L"0x0409.xml");
    EXPECT_GE(english.size(), 100u);
    for (const auto& [id, name] : names) {
        std::map<std::wstring, std::wstring> table = ReadTable(strDir + id.c_str() + L".xml");
        std::set<std::wstring> missing, extra;
        for (const auto& kv : english)
            if (!table.count(kv.first))
                missing.insert(kv.first);
        for (const auto& kv : table)
            if (!english.count(kv.first))
                extra.insert(kv.first);
        EXPECT_TRUE(missing.empty()) << CStringA(id.c_str()).GetString() << " lacks "
                                     << CStringA(missing.begin()->c_str()).GetString();
        EXPECT_TRUE(extra.empty()) << CStringA(id.c_str()).GetString() << " has extra "
                                   << CStringA(extra.begin()->c_str()).GetString();
    }
}

TEST(LanguageTables, EnglishTextsKeepTheirExactSpacingAndPunctuation)
{
    // The windows append counts and paths to these texts, so blanks at either end matter.
    CXmlDocument doc;
    g_pLanguageDoc = &doc;
    ASSERT_EQ(1, LoadLanguageFile(LanguageTablePath(ProgramFolder(), L"0x0409")));
    EXPECT_EQ(CString(L" file(s) backup fail!"), GetLanguageText(L"BackupFailed"));
    EXPECT_EQ(CString(L" file(s) restore fail!"), GetLanguageText(L"RestoreFailed"));
    EXPECT_EQ(CString(L"The restore for selected files has been finished "), GetLanguageText(L"RestoreFinishTipMessage"));
    EXPECT_EQ(CString(L"Set password  succeeded!"), GetLanguageText(L"PasswordSetSuccess"));
    EXPECT_EQ(CString(L"Determine to copy the selected disk\xFF1F"), GetLanguageText(L"DiskCopyMessage"));
    // The Chinese tables are read as UTF-8 and keep the leading blank before the count suffix.
    ASSERT_EQ(1, LoadLanguageFile(LanguageTablePath(ProgramFolder(), L"0x0804")));
    EXPECT_EQ(CString(L" \x4E2A\x6587\x4EF6\x5907\x4EFD\x5931\x8D25\xFF01"), GetLanguageText(L"BackupFailed"));
    g_pLanguageDoc = nullptr;
}

TEST(LanguageTables, KeyListMatchesTheKeysTheSourcesAskFor)
{
    // A scan that finds nothing would let every key through.
    ASSERT_GE(std::size(kKeyUses), 100u);

    std::set<std::wstring> asked;
    for (const KeyUse& use : kKeyUses) {
        std::string where = CStringA(use.pszFile).GetString() + std::string(": ") + CStringA(use.pszArgument).GetString();
        // A window that looks a text up without its English text shows nothing where the
        // table has nothing.
        EXPECT_TRUE(use.bWithEnglish) << "looked up without its English text: " << where;
        if (use.bLiteral) {
            EXPECT_TRUE(IsListedKey(use.pszArgument)) << "key not in LanguageKeys.h: " << where;
            asked.insert(use.pszArgument);
        } else if (wcsncmp(use.pszArgument, L"kScheduleDays[", 14) == 0) {
            // The schedule's day names, passed through their array.
            for (const wchar_t* day : kScheduleDays)
                asked.insert(day);
        } else {
            ADD_FAILURE() << "a key that is not a literal: list what it can be and teach this test: " << where;
        }
    }
    for (const wchar_t* day : kScheduleDays)
        EXPECT_TRUE(IsListedKey(day)) << CStringA(day).GetString();

    std::set<std::wstring> listed;
    for (const wchar_t* k : kLanguageKeys) {
        EXPECT_TRUE(listed.insert(k).second) << "listed twice: " << CStringA(k).GetString();
        EXPECT_TRUE(asked.count(k)) << "listed but asked for nowhere: " << CStringA(k).GetString();
    }
}

TEST(LanguageTables, EveryListedTableHasATextForEveryKeyTheProgramAsksFor)
{
    CString strDir = ProgramFolder();
    CXmlDocument list;
    ASSERT_TRUE(list.LoadFile(strDir + L"Language\\Language.xml"));
    std::set<std::wstring> ids;
    list.ResetPosition();
    while (list.FindChildElement(L"Language"))
        ids.insert(list.GetChildAttribute(L"LanguageID").GetString());
    ASSERT_EQ(3u, ids.size());

    CXmlDocument doc;
    g_pLanguageDoc = &doc;
    for (const std::wstring& id : ids) {
        g_bLanguageLoaded = LoadLanguageFile(LanguageTablePath(strDir, id.c_str()));
        ASSERT_EQ(1, g_bLanguageLoaded) << CStringA(id.c_str()).GetString();
        for (const wchar_t* key : kLanguageKeys) {
            CString strText = GetLanguageText(key);
            EXPECT_FALSE(strText.Trim().IsEmpty()) << CStringA(id.c_str()).GetString() << " has no text for "
                                                   << CStringA(key).GetString();
        }
    }
    g_bLanguageLoaded = 0;
    g_pLanguageDoc = nullptr;
}
