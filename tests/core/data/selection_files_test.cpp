// The selection files on their own: the nested and flat forms of the examples, byte for byte;
// the edits that keep both forms in step; unloadable files kept aside; failed writes that leave
// the two files agreeing.

#include "DataFiles.h"
#include "LangTestFolder.h"
#include "SelectionFiles.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using langtest::ReadBytes;
using langtest::TempFolder;
using langtest::WriteBytes;

namespace {

std::vector<std::wstring> Wide(const std::vector<CString>& v)
{
    std::vector<std::wstring> out;
    for (const CString& s : v)
        out.push_back(s.str());
    return out;
}

std::string NestedText(const CSelection& sel)
{
    CXmlDocument doc;
    sel.ToNestedDocument(doc);
    return CStringA(doc.GetDocText()).GetString();
}

class SelectionFilesTest : public ::testing::Test {
protected:
    TempFolder m_dir{L"sel"};
    CSelectionFiles Files() const { return CSelectionFiles(m_dir.Path()); }
    std::string Nested() const { return ReadBytes(Files().NestedPath()); }
    std::string Flat() const { return ReadBytes(Files().FlatPath()); }
};

} // namespace

TEST(SelectionModel, SplitsPathsAndFlatForms)
{
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\", L"A\\", L"b.txt\\"}), Wide(CSelection::SplitPath(L"C:\\A\\b.txt")));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\", L"A\\", L"b.txt\\"}), Wide(CSelection::SplitPath(L"C:\\A\\b.txt\\")));
    EXPECT_TRUE(CSelection::SplitPath(L"Disk( 2 )\\").empty());
    EXPECT_TRUE(CSelection::SplitPath(L"").empty());
    EXPECT_EQ(CString(L"C:\\"), CSelection::FlatForm(L"C:\\"));
    EXPECT_EQ(CString(L"C:\\"), CSelection::FlatForm(L"C:"));
    EXPECT_EQ(CString(L"C:\\A"), CSelection::FlatForm(L"C:\\A\\"));
    EXPECT_TRUE(CSelection::IsAtOrBelow(L"C:\\Docs\\b\\c", L"C:\\Docs"));
    EXPECT_TRUE(CSelection::IsAtOrBelow(L"c:\\docs", L"C:\\Docs\\"));
    EXPECT_FALSE(CSelection::IsAtOrBelow(L"C:\\Docs2", L"C:\\Docs"));
    EXPECT_TRUE(CSelection::IsAtOrBelow(L"C:\\x", L"C:\\"));
}

TEST(SelectionModel, CheckingAFolderReplacesWhatLayBelowIt)
{
    CSelection sel;
    sel.Check(L"C:\\Docs\\a");
    sel.Check(L"C:\\Docs\\b\\c");
    sel.Check(L"C:\\Docs2");
    EXPECT_EQ(CSelection::MIXED, sel.StateOf(L"C:\\Docs"));
    sel.Check(L"C:\\Docs");
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Docs", L"C:\\Docs2"}), Wide(sel.CheckedPaths()));
    EXPECT_EQ(CSelection::CHECKED, sel.StateOf(L"C:\\Docs\\b\\c"));
    // Checking below a checked folder changes nothing.
    sel.Check(L"C:\\Docs\\z");
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Docs", L"C:\\Docs2"}), Wide(sel.CheckedPaths()));
    EXPECT_EQ(CSelection::NOT_SELECTED, sel.StateOf(L"D:\\"));
}

TEST(SelectionModel, RemovingLeavesNoEmptiedElementBehind)
{
    CSelection sel;
    sel.Check(L"C:\\A\\B\\x.txt");
    sel.Check(L"C:\\A\\y.txt");
    EXPECT_TRUE(sel.Remove(L"C:\\A\\B\\x.txt"));
    // B had nothing else: it goes rather than turn into a checked element.
    EXPECT_EQ(nullptr, sel.Find(L"C:\\A\\B"));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\A\\y.txt"}), Wide(sel.CheckedPaths()));
    // A path inside a checked element has no element of its own.
    sel.Check(L"C:\\K");
    EXPECT_FALSE(sel.Remove(L"C:\\K\\inner.txt"));
    EXPECT_EQ(CSelection::CHECKED, sel.StateOf(L"C:\\K"));
    EXPECT_TRUE(sel.Remove(L"C:\\A\\y.txt"));
    EXPECT_TRUE(sel.Remove(L"C:\\K"));
    EXPECT_TRUE(sel.IsEmpty());
}

TEST(SelectionModel, RenameKeepsTheSelectionAndGraftCopiesASubtree)
{
    CSelection sel;
    sel.Check(L"C:\\Old\\in\\f.txt");
    EXPECT_TRUE(sel.Rename(L"C:\\Old", L"C:\\New"));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\New\\in\\f.txt"}), Wide(sel.CheckedPaths()));
    EXPECT_FALSE(sel.Rename(L"C:\\Missing", L"C:\\Other"));

    CSelection other;
    other.Graft(L"D:\\X", *sel.Find(L"C:\\New"));
    EXPECT_EQ((std::vector<std::wstring>{L"D:\\X\\in\\f.txt"}), Wide(other.CheckedPaths()));
}

TEST(SelectionModel, ReadsDuplicatesAndOddNamesSafely)
{
    CXmlDocument doc(L"<filepath><path path=\"C:\\\"><path path=\"A\\\"><path path=\"x\\\"/></path>"
                     L"<path path=\"A\\\"/><path path=\"\"/><other path=\"B\\\"/></path></filepath>");
    CSelection sel;
    ASSERT_TRUE(sel.FromNestedDocument(doc));
    // A second element naming A as checked wins; nameless and foreign elements are ignored.
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\A"}), Wide(sel.CheckedPaths()));
    CXmlDocument bad(L"<other/>");
    EXPECT_FALSE(sel.FromNestedDocument(bad));
    EXPECT_TRUE(sel.IsEmpty());
}

TEST_F(SelectionFilesTest, ExampleSelectionGivesTheGoldenFiles)
{
    CSelection sel;
    sel.Check(L"C:\\Data");
    sel.Check(L"C:\\Users\\Me\\notes.txt");
    ASSERT_TRUE(Files().Write(sel));
    EXPECT_EQ("<filepath>\r\n"
              "<path path=\"C:\\\">\r\n"
              "<path path=\"Data\\\"/>\r\n"
              "<path path=\"Users\\\">\r\n"
              "<path path=\"Me\\\">\r\n"
              "<path path=\"notes.txt\\\"/>\r\n"
              "</path>\r\n"
              "</path>\r\n"
              "</path>\r\n"
              "</filepath>\r\n",
              Nested());
    EXPECT_EQ("<filepath>\r\n"
              "<path path=\"C:\\Data\"/>\r\n"
              "<path path=\"C:\\Users\\Me\\notes.txt\"/>\r\n"
              "</filepath>\r\n",
              Flat());

    // Read back, the selection is the same.
    CSelection back;
    ASSERT_TRUE(Files().Read(back));
    EXPECT_EQ(NestedText(sel), NestedText(back));
}

TEST_F(SelectionFilesTest, FlatEntriesKeepTheirOrderAndNewOnesFollow)
{
    CSelection sel;
    sel.Check(L"D:\\b");
    ASSERT_TRUE(Files().Write(sel));
    sel.Check(L"C:\\a");   // earlier in the nested document, later in the flat one
    ASSERT_TRUE(Files().Write(sel));
    EXPECT_EQ("<filepath>\r\n<path path=\"D:\\b\"/>\r\n<path path=\"C:\\a\"/>\r\n</filepath>\r\n", Flat());
    // Checking every drive whole: one entry per drive, nothing below them (the new entries in
    // the order of the nested file, where D: came first).
    sel.Check(L"C:\\");
    sel.Check(L"D:\\");
    ASSERT_TRUE(Files().Write(sel));
    EXPECT_EQ("<filepath>\r\n<path path=\"D:\\\"/>\r\n<path path=\"C:\\\"/>\r\n</filepath>\r\n", Flat());
}

TEST_F(SelectionFilesTest, EmptySelectionRemovesBothFiles)
{
    CSelection sel;
    sel.Check(L"C:\\a");
    ASSERT_TRUE(Files().Write(sel));
    sel.Clear();
    ASSERT_TRUE(Files().Write(sel));
    EXPECT_FALSE(langtest::FileExists(Files().NestedPath()));
    EXPECT_FALSE(langtest::FileExists(Files().FlatPath()));
    CSelection back;
    EXPECT_TRUE(Files().Read(back));
    EXPECT_TRUE(back.IsEmpty());
}

TEST_F(SelectionFilesTest, UnloadableFilesAreKeptAsBad)
{
    ASSERT_TRUE(WriteBytes(Files().NestedPath(), "<filepath><path path=\"C:\\x\\\">"));
    ASSERT_TRUE(WriteBytes(Files().FlatPath(), "garbage"));
    CSelection sel;
    bool bUnloadable = false;
    ASSERT_TRUE(Files().Read(sel, &bUnloadable));
    EXPECT_TRUE(bUnloadable);
    EXPECT_TRUE(sel.IsEmpty());
    EXPECT_FALSE(langtest::FileExists(Files().NestedPath() + L".bad"));   // reading moves nothing
    sel.Check(L"C:\\y");
    ASSERT_TRUE(Files().Write(sel));
    EXPECT_EQ("<filepath><path path=\"C:\\x\\\">", ReadBytes(Files().NestedPath() + L".bad"));
    EXPECT_EQ("garbage", ReadBytes(Files().FlatPath() + L".bad"));
    EXPECT_EQ("<filepath>\r\n<path path=\"C:\\y\"/>\r\n</filepath>\r\n", Flat());
}

TEST_F(SelectionFilesTest, FailedFlatWriteLeavesTheOldPairInPlace)
{
    CSelection sel;
    sel.Check(L"C:\\old");
    ASSERT_TRUE(Files().Write(sel));
    const std::string strNested = Nested();
    // The flat file held open without sharing cannot be replaced.
    HANDLE hHold = ::CreateFileW(Files().FlatPath(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHold);
    sel.Check(L"C:\\new");
    DWORD dwError = 0;
    EXPECT_FALSE(Files().Write(sel, &dwError));
    EXPECT_NE(0u, dwError);
    EXPECT_EQ(strNested, Nested());   // the nested file does not claim what was not written

    // With no earlier nested file, a failed flat write leaves none.
    ASSERT_TRUE(::DeleteFileW(Files().NestedPath()));
    EXPECT_FALSE(Files().Write(sel));
    EXPECT_FALSE(langtest::FileExists(Files().NestedPath()));
    ::CloseHandle(hHold);
}

TEST_F(SelectionFilesTest, RestoreListIsWrittenWholeOrReported)
{
    CString strList = m_dir.Path() + L"\\restoreTempPath.xml";
    ASSERT_TRUE(WritePathListFile(strList, {L"G:\\VEZORI\\C\\Data", L"G:\\VEZORI\\C\\Mixed\\f.txt"}));
    EXPECT_EQ("<filepath>\r\n<path path=\"G:\\VEZORI\\C\\Data\"/>\r\n"
              "<path path=\"G:\\VEZORI\\C\\Mixed\\f.txt\"/>\r\n</filepath>\r\n",
              ReadBytes(strList));
    DWORD dwError = 0;
    EXPECT_FALSE(WritePathListFile(m_dir.Path() + L"\\missing\\list.xml", {L"x"}, &dwError));
    EXPECT_NE(0u, dwError);
}
