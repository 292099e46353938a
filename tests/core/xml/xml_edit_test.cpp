// Editing CXmlDocument: every edit is checked against the exact text it leaves and against a
// fresh parse of that text.

#include <gtest/gtest.h>

#include "XmlDocument.h"
#include "XmlInspector.h"

namespace {

// The edited records must be what a fresh parse of the edited text gives.
::testing::AssertionResult Consistent(const CXmlDocument& doc)
{
    std::string s = CXmlDocumentInspector::Check(doc);
    if (!s.empty())
        return ::testing::AssertionFailure() << s;
    CXmlDocument fresh(doc.GetDocText());
    if (CXmlDocumentInspector::Shape(fresh) != CXmlDocumentInspector::Shape(doc))
        return ::testing::AssertionFailure() << "records differ from a fresh parse:\n"
                                             << CXmlDocumentInspector::Shape(doc) << "\n"
                                             << CXmlDocumentInspector::Shape(fresh);
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(XmlEdit, BuildingAFileLineByLine)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.AddElement(L"InitInfo"));
    EXPECT_EQ(doc.GetDocText(), L"<InitInfo/>\r\n");
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.AddElement(L"BackupFinish", L"0"));
    EXPECT_EQ(doc.GetDocText(), L"<InitInfo>\r\n<BackupFinish>0</BackupFinish>\r\n</InitInfo>\r\n");
    ASSERT_TRUE(doc.AddElement(L"WindowsFile", L"0"));
    EXPECT_EQ(doc.GetDocText(),
              L"<InitInfo>\r\n<BackupFinish>0</BackupFinish>\r\n<WindowsFile>0</WindowsFile>\r\n</InitInfo>\r\n");
    EXPECT_TRUE(Consistent(doc));
    EXPECT_TRUE(doc.LeaveElement());
    EXPECT_TRUE(doc.IsWellFormed());

    // Nested list entries as children of the current element.
    CXmlDocument sel;
    sel.AddElement(L"path");
    sel.EnterElement();
    sel.AddElement(L"path");
    sel.SetAttributeAt(sel.GetCurrentPos(), L"path", L"C:\\");
    ASSERT_TRUE(sel.AddChildElement(L"path"));
    sel.SetChildAttribute(L"path", L"a & b.txt");
    ASSERT_TRUE(sel.AddChildElement(L"path"));
    sel.SetChildAttribute(L"path", L"c.txt");
    EXPECT_EQ(sel.GetDocText(), L"<path>\r\n<path path=\"C:\\\">\r\n<path path=\"a &amp; b.txt\"/>\r\n"
                                L"<path path=\"c.txt\"/>\r\n</path>\r\n</path>\r\n");
    EXPECT_TRUE(Consistent(sel));
}

TEST(XmlEdit, AddForms)
{
    CXmlDocument a;
    a.AddElement(L"a", nullptr, CXmlDocument::ADD_SPACED_EMPTY);
    EXPECT_EQ(a.GetDocText(), L"<a />\r\n");
    CXmlDocument b;
    b.AddElement(L"a", L"x<y", 0);
    EXPECT_EQ(b.GetDocText(), L"<a>x&lt;y</a>\r\n");
    ASSERT_NE(b.GetCurrentPos(), 0);
    EXPECT_EQ(b.GetDataAt(b.GetCurrentPos()), L"x<y");
    CXmlDocument c;
    c.AddElement(L"a", L"]]>", CXmlDocument::ADD_CDATA);
    EXPECT_EQ(c.GetDocText(), L"<a><![CDATA[]]]]><![CDATA[>]]></a>\r\n");
    EXPECT_EQ(c.GetDataAt(c.GetCurrentPos()), L"]]>");
    CXmlDocument d;
    d.AddElement(L"a", L"&amp;&#65;&x & y", CXmlDocument::ADD_KEEP_REFS);
    EXPECT_EQ(d.GetDocText(), L"<a>&amp;&#65;&amp;x &amp; y</a>\r\n");
    CXmlDocument e;
    EXPECT_FALSE(e.AddElement(L"a", L"v", CXmlDocument::ADD_NO_END_TAG));
    EXPECT_EQ(e.GetDocText(), L"");
    EXPECT_TRUE(e.AddElement(L"a", nullptr, CXmlDocument::ADD_NO_END_TAG));
    EXPECT_EQ(e.GetDocText(), L"<a>\r\n");
    EXPECT_FALSE(CXmlDocument(e.GetDocText()).IsWellFormed());
    // Names that would break the markup are refused.
    CXmlDocument f;
    EXPECT_FALSE(f.AddElement(L"", L"1"));
    EXPECT_FALSE(f.AddElement(L"a b"));
    EXPECT_FALSE(f.AddElement(L"1a"));
    EXPECT_FALSE(f.AddElement(L"a>"));
    EXPECT_EQ(f.GetDocText(), L"");
    // A child needs a current element.
    EXPECT_FALSE(f.AddChildElement(L"c"));
}

TEST(XmlEdit, AddChildToEmptyAndUnendedParents)
{
    CXmlDocument a(L"<r/>");
    a.FindElement(L"r");
    ASSERT_TRUE(a.AddChildElement(L"c"));
    EXPECT_EQ(a.GetDocText(), L"<r>\r\n<c/>\r\n</r>");
    EXPECT_TRUE(Consistent(a));

    CXmlDocument b(L"<r/>");
    b.FindElement(L"r");
    ASSERT_TRUE(b.AddElement(L"c", nullptr, CXmlDocument::ADD_AS_CHILD | CXmlDocument::ADD_NO_LINEBREAK));
    EXPECT_EQ(b.GetDocText(), L"<r><c/></r>");
    EXPECT_TRUE(Consistent(b));

    CXmlDocument c(L"<r x=\"1\" />");
    c.FindElement(L"r");
    ASSERT_TRUE(c.AddChildElement(L"c", L"v"));
    EXPECT_EQ(c.GetDocText(), L"<r x=\"1\" >\r\n<c>v</c>\r\n</r>");
    EXPECT_TRUE(Consistent(c));

    CXmlDocument d(L"<r></r>");
    d.FindElement(L"r");
    ASSERT_TRUE(d.AddChildElement(L"c"));
    EXPECT_EQ(d.GetDocText(), L"<r>\r\n<c/>\r\n</r>");
    EXPECT_TRUE(Consistent(d));

    CXmlDocument e(L"<top><r></top>");
    ASSERT_TRUE(e.FindChildElement(L"r"));
    ASSERT_TRUE(e.EnterElement());
    ASSERT_TRUE(e.AddChildElement(L"c"));
    EXPECT_EQ(e.GetDocText(), L"<top><r>\r\n<c/>\r\n</r></top>");
    EXPECT_TRUE(e.IsWellFormed() || CXmlDocument(e.GetDocText()).IsWellFormed());
    EXPECT_EQ(CXmlDocumentInspector::Check(e), "");
}

TEST(XmlEdit, InsertBeforeAfterAndRemove)
{
    const wchar_t* base = L"<r>\r\n<a>1</a>\r\n<b>2</b>\r\n<c>3</c>\r\n</r>\r\n";
    {
        CXmlDocument doc(base);
        doc.FindChildElement(L"b");
        doc.EnterElement();   // parent r, current b
        ASSERT_TRUE(doc.AddElement(L"x", L"0", CXmlDocument::ADD_BEFORE));
        EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<a>1</a>\r\n<x>0</x>\r\n<b>2</b>\r\n<c>3</c>\r\n</r>\r\n");
        EXPECT_TRUE(Consistent(doc));
        ASSERT_TRUE(doc.AddElement(L"y"));   // after x
        EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<a>1</a>\r\n<x>0</x>\r\n<y/>\r\n<b>2</b>\r\n<c>3</c>\r\n</r>\r\n");
        EXPECT_TRUE(Consistent(doc));
    }
    {
        // With no current element: after the last child, or before the first.
        CXmlDocument doc(base);
        doc.FindElement(L"r");
        doc.EnterElement();
        ASSERT_TRUE(doc.AddElement(L"z"));
        EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<a>1</a>\r\n<b>2</b>\r\n<c>3</c>\r\n<z/>\r\n</r>\r\n");
        doc.ResetPosition();
        doc.FindElement(L"r");
        ASSERT_TRUE(doc.AddElement(L"f", L"0", CXmlDocument::ADD_AS_CHILD | CXmlDocument::ADD_BEFORE));
        EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<f>0</f>\r\n<a>1</a>\r\n<b>2</b>\r\n<c>3</c>\r\n<z/>\r\n</r>\r\n");
        EXPECT_TRUE(Consistent(doc));
        EXPECT_EQ(doc.GetTagNameAt(doc.GetChildPos()), L"f");
    }
    {
        // Removing the middle line keeps the others and their line breaks.
        CXmlDocument doc(base);
        doc.FindChildElement(L"b");
        ASSERT_TRUE(doc.RemoveChildElement());
        EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<a>1</a>\r\n<c>3</c>\r\n</r>\r\n");
        EXPECT_TRUE(Consistent(doc));
        EXPECT_TRUE(doc.FindChildElement(nullptr));
        EXPECT_EQ(doc.GetTagNameAt(doc.GetChildPos()), L"c");
    }
    {
        // Removing in a find loop visits every remaining sibling once.
        CXmlDocument doc(L"<r>\r\n<p>1</p>\r\n<q/>\r\n<p>2</p>\r\n<p>3</p>\r\n<q/>\r\n</r>\r\n");
        int visited = 0;
        while (doc.FindChildElement(nullptr)) {
            ++visited;
            if (doc.GetTagNameAt(doc.GetChildPos()) == L"p") {
                ASSERT_TRUE(doc.RemoveChildElement());
            }
        }
        EXPECT_EQ(visited, 5);
        EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<q/>\r\n<q/>\r\n</r>\r\n");
        EXPECT_TRUE(Consistent(doc));
        // A removed position reads as nothing.
        doc.ResetPosition();
        doc.FindChildElement(L"q");
        int gone = doc.GetChildPos();
        doc.RemoveChildElement();
        EXPECT_EQ(doc.GetTagNameAt(gone), L"");
        EXPECT_FALSE(doc.SetDataAt(gone, L"x"));
        EXPECT_EQ(doc.RemoveElementAt(gone), 0);
        EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<q/>\r\n</r>\r\n");
    }
}

TEST(XmlEdit, SetDataAndAttributes)
{
    CXmlDocument doc(L"<r>\r\n<e/>\r\n<f a='1' b=2>old</f>\r\n<g x=\"1\" />\r\n<h><i/></h>\r\n</r>\r\n");
    ASSERT_TRUE(doc.FindChildElement(L"e"));
    ASSERT_TRUE(doc.SetChildAttribute(L"x", L"a\"b"));
    EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<e x=\"a&quot;b\"/>\r\n<f a='1' b=2>old</f>\r\n<g x=\"1\" />\r\n<h><i/></h>\r\n</r>\r\n");
    ASSERT_TRUE(doc.SetChildAttribute(L"x", L"<'>"));
    EXPECT_EQ(doc.GetChildAttribute(L"x"), L"<'>");
    ASSERT_TRUE(doc.SetChildData(L"1"));
    EXPECT_EQ(doc.GetChildData(), L"1");
    EXPECT_TRUE(Consistent(doc));
    EXPECT_EQ(doc.GetDocText(),
              L"<r>\r\n<e x=\"&lt;&apos;&gt;\">1</e>\r\n<f a='1' b=2>old</f>\r\n<g x=\"1\" />\r\n<h><i/></h>\r\n</r>\r\n");

    ASSERT_TRUE(doc.FindChildElement(L"f"));
    ASSERT_TRUE(doc.SetChildAttribute(L"a", L"one"));
    ASSERT_TRUE(doc.SetChildAttribute(L"b", L"two"));
    ASSERT_TRUE(doc.SetChildData(L"a&b"));
    ASSERT_TRUE(doc.FindChildElement(L"g"));
    ASSERT_TRUE(doc.SetChildAttribute(L"y", L"2"));
    ASSERT_TRUE(doc.SetChildData(L""));
    EXPECT_EQ(doc.GetDocText(), L"<r>\r\n<e x=\"&lt;&apos;&gt;\">1</e>\r\n<f a=\"one\" b=\"two\">a&amp;b</f>\r\n"
                                L"<g x=\"1\" y=\"2\"></g>\r\n<h><i/></h>\r\n</r>\r\n");
    EXPECT_TRUE(Consistent(doc));

    // Not on an element with children, not at position 0.
    ASSERT_TRUE(doc.FindChildElement(L"h"));
    EXPECT_FALSE(doc.SetChildData(L"x"));
    EXPECT_FALSE(doc.SetDataAt(0, L"x"));
    EXPECT_FALSE(doc.SetAttributeAt(0, L"a", L"1"));
    ASSERT_TRUE(doc.SetAttributeInt(L"n", -12));   // on the current element r
    EXPECT_EQ(doc.GetAttributeAt(doc.GetCurrentPos(), L"n"), L"-12");
    EXPECT_TRUE(Consistent(doc));
    EXPECT_TRUE(doc.IsWellFormed());

    // An end tag written with blanks keeps its own length.
    CXmlDocument spaced(L"<r>\r\n<v>old</v   >\r\n</r >");
    ASSERT_TRUE(spaced.FindChildElement(L"v"));
    ASSERT_TRUE(spaced.SetChildData(L"new"));
    ASSERT_TRUE(spaced.SetDataAt(spaced.GetCurrentPos(), L"x") == false);
    EXPECT_EQ(spaced.GetDocText(), L"<r>\r\n<v>new</v   >\r\n</r >");
    EXPECT_TRUE(Consistent(spaced));

    // An unended element gets its end tag, and its fault flag goes.
    CXmlDocument u(L"<r><u></r>");
    ASSERT_TRUE(u.FindChildElement(L"u"));
    ASSERT_TRUE(u.SetChildData(L"v"));
    EXPECT_EQ(u.GetDocText(), L"<r><u>v</u></r>");
    EXPECT_EQ(u.GetChildData(), L"v");
    EXPECT_EQ(CXmlDocumentInspector::Check(u), "");
}

TEST(XmlEdit, AppendingManyEntriesStaysFastAndExact)
{
    CXmlDocument doc;
    doc.AddElement(L"path");
    doc.EnterElement();
    for (int i = 0; i < 20000; ++i) {
        ASSERT_TRUE(doc.AddElement(L"path"));
        ASSERT_TRUE(doc.SetAttributeAt(doc.GetCurrentPos(), L"path", L"C:\\dir\\file.txt"));
    }
    doc.LeaveElement();
    EXPECT_TRUE(Consistent(doc));
    const int line = static_cast<int>(wcslen(L"<path path=\"C:\\dir\\file.txt\"/>\r\n"));
    EXPECT_EQ(doc.GetDocText().GetLength(), 8 + 20000 * line + 9);
}
