// The delivered language folder: the list names every table, every table loads well-formed and
// carries exactly the keys of the English table, once each, directly under its top element; every
// key the program asks for is listed, and every table has a text for each listed key. The
// gathering of those keys is tried on sample sources that ask for keys in every way they can.

#include "LangTestFolder.h"
#include "LanguageKeys.h"
#include "LanguageText.h"
#include "SettingsStore.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Every key argument of the lookup functions and their wrappers in the program's sources,
// gathered by the build.
struct KeyUse {
    const wchar_t* pszFile;
    const wchar_t* pszFunction;   // the lookup or wrapper called
    const wchar_t* pszArgument;   // the key for a literal, else the expression as written
    bool bLiteral;
    bool bWithEnglish;            // with the built-in English text (GetLanguageTextOr)
};
const KeyUse kKeyUses[] = {
#include "language_keys_used.inc"
};
// The same, of the sample sources in lang_scan_sample/.
const KeyUse kSampleKeyUses[] = {
#include "language_keys_sample.inc"
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

// What is wrong with the keys the sources ask for, one line each; the keys asked for go to asked.
template <size_t N>
std::vector<std::string> KeyProblems(const KeyUse (&uses)[N], std::set<std::wstring>& asked)
{
    std::vector<std::string> problems;
    for (const KeyUse& use : uses) {
        std::string where = CStringA(use.pszFile).GetString() + std::string(": ") +
                            CStringA(use.pszFunction).GetString() + "(" + CStringA(use.pszArgument).GetString() + ")";
        // A window that looks a text up without its English text shows nothing where the
        // table has nothing.
        if (!use.bWithEnglish)
            problems.push_back("looked up without its English text: " + where);
        if (use.bLiteral) {
            if (!IsListedKey(use.pszArgument))
                problems.push_back("key not in LanguageKeys.h: " + where);
            asked.insert(use.pszArgument);
        } else if (wcsncmp(use.pszArgument, L"kScheduleDays[", 14) == 0) {
            // The schedule's day names, passed through their array.
            for (const wchar_t* day : kScheduleDays)
                asked.insert(day);
        } else {
            problems.push_back("a key that is not a literal: list what it can be and teach this test: " + where);
        }
    }
    return problems;
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
    for (const std::string& problem : KeyProblems(kKeyUses, asked))
        ADD_FAILURE() << problem;
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

TEST(LanguageTables, KeysAreFoundHoweverTheSourcesAskForThem)
{
    std::map<std::wstring, const KeyUse*> literal;
    std::set<std::wstring> other;
    for (const KeyUse& use : kSampleKeyUses) {
        if (use.bLiteral)
            EXPECT_TRUE(literal.emplace(use.pszArgument, &use).second) << CStringA(use.pszArgument).GetString();
        else
            other.insert(std::wstring(use.pszFunction) + L"(" + use.pszArgument + L")");
    }

    // With blanks or a line break before "(", through a wrapper (a function, a member, one with
    // the key in second place, a wrapper of a wrapper), and after a call with a comment behind it.
    // Nothing from a comment, a declaration or a wrapper passing its key on, and nothing from a
    // function that merely has a parameter of the same name.
    std::map<std::wstring, std::wstring> expected = {
        {L"SampleSpaced", L"GetLanguageText"}, {L"SampleSpacedOr", L"GetLanguageTextOr"},
        {L"SampleWrapped", L"Caption"},        {L"SampleMember", L"Title"},
        {L"SampleDeep", L"SetCaption"},        {L"SamplePlain", L"Plain"},
        {L"SampleBeforeComment", L"Caption"},
    };
    std::map<std::wstring, std::wstring> found;
    for (const auto& [key, use] : literal)
        found[key] = use->pszFunction;
    EXPECT_EQ(expected, found);
    // The English text comes with the wrappers of the lookup that carries it, and only with them.
    for (const auto& [key, use] : literal)
        EXPECT_EQ(key != L"SampleSpaced" && key != L"SamplePlain", use->bWithEnglish) << CStringA(key.c_str()).GetString();
    // A key passed on through a loop variable or a lambda's parameter is seen for what it is.
    EXPECT_EQ((std::set<std::wstring>{L"GetLanguageTextOr(key)", L"Caption(k)"}), other);

    // Each of those keys, missing from the key list, fails the check.
    std::set<std::wstring> asked;
    std::vector<std::string> problems = KeyProblems(kSampleKeyUses, asked);
    for (const auto& [key, function] : expected) {
        std::string line = "key not in LanguageKeys.h: app/Sample.cpp: " + std::string(CStringA(function.c_str())) + "(" +
                           std::string(CStringA(key.c_str())) + ")";
        EXPECT_EQ(1, std::count(problems.begin(), problems.end(), line)) << line;
    }
    EXPECT_EQ(1, std::count(problems.begin(), problems.end(),
                            "looked up without its English text: app/Sample.cpp: Plain(SamplePlain)"));
}
