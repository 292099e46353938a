// Parsing, well-formedness, the result log, navigation and reading of CXmlDocument.

#include <gtest/gtest.h>

#include "XmlDocument.h"
#include "XmlInspector.h"

#include <string>

namespace {

bool LogHas(const CXmlDocument& doc, const wchar_t* entry)
{
    return doc.GetResultLog().Find(entry) >= 0;
}

} // namespace

TEST(XmlParse, EmptyElementFormsAndAttributes)
{
    CXmlDocument doc(L"<r><a/><a /><a x=\"1\"/><a x=1/></r>");
    // <a x=1/> is not empty: its start tag opens an element that is never closed.
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_TRUE(LogHas(doc, L"unended_start_tag"));
    ASSERT_TRUE(doc.FindElement(L"r"));
    ASSERT_TRUE(doc.EnterElement());
    int nA = 0;
    while (doc.FindElement(L"a"))
        ++nA;
    EXPECT_EQ(nA, 4);
    EXPECT_EQ(doc.GetAttributeAt(doc.GetCurrentPos(), L"x"), L"1/");   // unquoted: up to whitespace or ">"

    CXmlDocument good(L"<r><a/><a /><a x=\"1\"/><b y='q' z = \"2\" w=\"a&amp;b&lt;\"/></r>");
    ASSERT_TRUE(good.IsWellFormed()) << good.GetResultLog().GetString();
    int n = 0;
    while (good.FindChildElement(L"a")) {
        ++n;
        EXPECT_EQ(good.GetChildData(), L"");
    }
    EXPECT_EQ(n, 3);
    good.ResetPosition();
    ASSERT_TRUE(good.FindChildElement(L"b"));
    EXPECT_EQ(good.GetChildAttribute(L"y"), L"q");
    EXPECT_EQ(good.GetChildAttribute(L"z"), L"2");
    EXPECT_EQ(good.GetChildAttribute(L"w"), L"a&b<");
    EXPECT_EQ(good.GetChildAttribute(L"missing"), L"");
    EXPECT_EQ(good.GetTagNameAt(good.GetChildPos()), L"b");
    EXPECT_EQ(good.GetTagNameAt(0), L"");
    EXPECT_EQ(CXmlDocumentInspector::Check(good), "");
}

TEST(XmlParse, UnendedLoneAndSiblingFaults)
{
    CXmlDocument unended(L"<r><a></r>");
    EXPECT_FALSE(unended.IsWellFormed());
    EXPECT_EQ(unended.GetResultLog(), L"<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"6\"/>");
    // The unended element keeps only its start tag and is still navigable.
    ASSERT_TRUE(unended.FindChildElement(L"a"));
    EXPECT_EQ(unended.GetChildData(), L"");

    CXmlDocument lone(L"<r></a></r>");
    EXPECT_FALSE(lone.IsWellFormed());
    EXPECT_EQ(lone.GetResultLog(), L"<lone_end_tag tagname=\"a\" offset=\"3\"/>");

    CXmlDocument two(L"<a>1</a><b>2</b>");
    EXPECT_FALSE(two.IsWellFormed());
    EXPECT_TRUE(LogHas(two, L"root_has_sibling"));
    ASSERT_TRUE(two.FindElement(L"b"));
    EXPECT_EQ(two.GetDataAt(two.GetCurrentPos()), L"2");

    CXmlDocument none(L"just text");
    EXPECT_FALSE(none.IsWellFormed());
    EXPECT_EQ(none.GetResultLog(), L"<no_root_element/>");
    EXPECT_FALSE(none.FindElement(nullptr));
    EXPECT_FALSE(none.FindChildElement(nullptr));

    // Children of an unended element move up to follow it, in order.
    CXmlDocument moved(L"<r><u><c1/><c2>x</c2></r>");
    EXPECT_FALSE(moved.IsWellFormed());
    std::wstring order;
    while (moved.FindChildElement(nullptr))
        order += moved.GetTagNameAt(moved.GetChildPos()).GetString() + std::wstring(L",");
    EXPECT_EQ(order, L"u,c1,c2,");
    EXPECT_EQ(CXmlDocumentInspector::Check(moved), "");
}

TEST(XmlParse, MarkupFaultsAreLoggedAndParsingGoesOn)
{
    CXmlDocument doc(L"<r><1/><!x><!-x><![x]><ok/></r>");
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_EQ(doc.GetResultLog(),
              L"<first_tag_syntax offset=\"3\"/><exclamation_tag_syntax offset=\"7\"/>"
              L"<comment_tag_syntax offset=\"11\"/><cdata_section_syntax offset=\"16\"/>");
    EXPECT_TRUE(doc.FindChildElement(L"ok"));

    const struct {
        const wchar_t* text;
        const wchar_t* type;
    } cut[] = {
        {L"<r><a x=\"1>", L"start_tag"}, {L"<r></r", L"end_tag"}, {L"<r><![CDATA[x", L"cdata_section"},
        {L"<r><?pi", L"processing_instruction"}, {L"<r><!-- x", L"comment"},
        {L"<!DOCTYPE r [<!ELEMENT r ANY>", L"document_type"}, {L"<r><", L"tag"},
    };
    for (const auto& c : cut) {
        CXmlDocument d(c.text);
        EXPECT_FALSE(d.IsWellFormed()) << c.text;
        std::wstring want = std::wstring(L"<unterminated_tag_syntax type=\"") + c.type + L"\"";
        EXPECT_NE(d.GetResultLog().Find(want.c_str()), -1) << d.GetResultLog().GetString();
    }

    // Comments, instructions, CDATA and a document type with an internal subset take no records.
    CXmlDocument mixed(L"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"a>b\"><!-- c -->]>"
                       L"<r><!-- c --><?p x?>a<![CDATA[<b>&amp;]]>&amp;<![CDATA[]]></r>");
    ASSERT_TRUE(mixed.IsWellFormed()) << mixed.GetResultLog().GetString();
    ASSERT_TRUE(mixed.FindElement(L"r"));
    EXPECT_EQ(mixed.GetDataAt(mixed.GetCurrentPos()), L"a<b>&amp;&");
    EXPECT_FALSE(mixed.FindChildElement(nullptr));
}

TEST(XmlParse, DeclaredEntitiesAreNeverExpanded)
{
    std::wstring text = L"<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
    for (int i = 1; i < 10; ++i)
        text += L"<!ENTITY a" + std::to_wstring(i) + L" \"&a" + std::to_wstring(i - 1) + L";&a" +
            std::to_wstring(i - 1) + L";&a" + std::to_wstring(i - 1) + L";\">";
    text += L"]><r>&a9;</r>";
    CXmlDocument doc(text.c_str());
    ASSERT_TRUE(doc.IsWellFormed()) << doc.GetResultLog().GetString();
    ASSERT_TRUE(doc.FindElement(L"r"));
    EXPECT_EQ(doc.GetDataAt(doc.GetCurrentPos()), L"&a9;");
}

TEST(XmlParse, ResultLogStopsGrowing)
{
    std::wstring text = L"<r>";
    for (int i = 0; i < 5000; ++i)
        text += L"</x>";
    text += L"</r>";
    CXmlDocument doc(text.c_str());
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_GT(doc.GetResultLog().GetLength(), 999);
    EXPECT_LT(doc.GetResultLog().GetLength(), 1200);
}

TEST(XmlParse, ReferencesDecode)
{
    EXPECT_EQ(CXmlDocument::UnescapeText(L"&#x41;&#65;&AMP;&amp;&lt;&gt;&quot;&apos;"), L"AA&&<>\"'");
    EXPECT_EQ(CXmlDocument::UnescapeText(L"&eacute;&Eacute;&nbsp;&euro;&hearts;"), L"\u00e9\u00c9\u00a0\u20ac\u2665");
    EXPECT_EQ(CXmlDocument::UnescapeText(L"&#x1F600;&#128512;"), L"\xD83D\xDE00\xD83D\xDE00");
    // Not references: they stay as written.
    EXPECT_EQ(CXmlDocument::UnescapeText(L"&unknown;&#0;&#x110000;&#1114112;&#xD800;&#57343;&#x;&#;&amp"),
              L"&unknown;&#0;&#x110000;&#1114112;&#xD800;&#57343;&#x;&#;&amp");
    EXPECT_EQ(CXmlDocument::UnescapeText(L"a & b &toolongname; &#99999999999;"), L"a & b &toolongname; &#99999999999;");
    // Highest code point still decodes.
    EXPECT_EQ(CXmlDocument::UnescapeText(L"&#x10FFFF;"), L"\xDBFF\xDFFF");
    EXPECT_EQ(CXmlDocument::UnescapeText(L"x&am\u00e9;y"), L"x&am\u00e9;y");
    EXPECT_EQ(CXmlDocument::UnescapeText(L"abc&lt;def", 5), L"abc&l");
}

TEST(XmlParse, NavigationFollowsTheCallersIdioms)
{
    CXmlDocument doc(L"<InitInfo>\r\n<Compress>1</Compress>\r\n<CompressLevel>3</CompressLevel>\r\n"
                     L"<List><path path=\"C:\\\"><path path=\"a\"/></path><path path=\"D:\\\"/></List>\r\n</InitInfo>\r\n");
    ASSERT_TRUE(doc.IsWellFormed());
    // One setting: whole names only, "Compress" does not find "CompressLevel" nor the reverse.
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindChildElement(L"Compress"));
    EXPECT_EQ(doc.GetChildData(), L"1");
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindChildElement(L"CompressLevel"));
    EXPECT_EQ(doc.GetChildData(), L"3");
    doc.ResetPosition();
    EXPECT_FALSE(doc.FindChildElement(L"Compr"));
    EXPECT_FALSE(doc.FindChildElement(L"CompressLevelX"));
    EXPECT_FALSE(doc.FindChildElement(L"/Compress"));
    EXPECT_TRUE(doc.FindChildElement(L"List[@x]"));   // a bracketed condition is not evaluated

    // A nested walk.
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindChildElement(L"List"));
    ASSERT_TRUE(doc.EnterElement());
    std::wstring seen;
    while (doc.FindChildElement(L"path")) {
        seen += doc.GetChildAttribute(L"path").GetString();
        seen += L";";
    }
    EXPECT_EQ(seen, L"C:\\;D:\\;");
    // Sibling walk one level further down.
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindChildElement(L"List"));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.GetCurrentPos(), 0);
    seen.clear();
    while (doc.FindElement(L"path"))
        seen += doc.GetAttributeAt(doc.GetCurrentPos(), L"path").GetString();
    EXPECT_EQ(seen, L"C:\\D:\\");
    ASSERT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.GetTagNameAt(doc.GetCurrentPos()), L"List");
    EXPECT_EQ(doc.GetChildAttribute(L"path"), L"D:\\");
    ASSERT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.GetTagNameAt(doc.GetCurrentPos()), L"InitInfo");
    EXPECT_EQ(doc.GetTagNameAt(doc.GetChildPos()), L"List");
    EXPECT_FALSE(doc.LeaveElement());
    EXPECT_EQ(doc.GetDataAt(doc.GetCurrentPos()), L"");   // it has child elements

    // Enter with no child: nothing current, then leave returns.
    doc.ResetPosition();
    doc.FindChildElement(L"Compress");
    doc.EnterElement();
    doc.EnterElement();
    EXPECT_EQ(doc.GetCurrentPos(), 0);
    EXPECT_FALSE(doc.EnterElement());
    EXPECT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.GetTagNameAt(doc.GetCurrentPos()), L"Compress");

    // SetDocText(nullptr) empties everything.
    EXPECT_FALSE(doc.SetDocText(nullptr));
    EXPECT_EQ(doc.GetDocText(), L"");
    EXPECT_FALSE(doc.FindChildElement(nullptr));
}

TEST(XmlParse, DeepAndWideDocumentsStayIndexed)
{
    // 100,000 levels, closed and unclosed: no recursion, no quadratic work.
    std::wstring deep;
    for (int i = 0; i < 100000; ++i)
        deep += L"<a>";
    std::wstring closed = deep;
    for (int i = 0; i < 100000; ++i)
        closed += L"</a>";
    CXmlDocument d1(closed.c_str());
    EXPECT_TRUE(d1.IsWellFormed());
    int depth = 0;
    d1.ResetPosition();
    d1.FindElement(nullptr);
    while (d1.FindChildElement(nullptr) && d1.EnterElement())
        ++depth;
    EXPECT_EQ(depth, 99999);
    EXPECT_EQ(CXmlDocumentInspector::Check(d1), "");

    CXmlDocument d2(deep.c_str());
    EXPECT_FALSE(d2.IsWellFormed());
    int n = 0;
    while (d2.FindElement(nullptr))
        ++n;
    EXPECT_EQ(n, 100000);   // all unended, all moved up to the top level
    EXPECT_EQ(CXmlDocumentInspector::Check(d2), "");

    std::wstring lone = deep;
    for (int i = 0; i < 100000; ++i)
        lone += L"</b>";
    CXmlDocument d3(lone.c_str());
    EXPECT_FALSE(d3.IsWellFormed());
    EXPECT_EQ(CXmlDocumentInspector::Check(d3), "");

    // More records than one segment holds.
    std::wstring wide = L"<r>";
    for (int i = 0; i < 200000; ++i)
        wide += L"<p/>";
    wide += L"</r>";
    CXmlDocument d4(wide.c_str());
    ASSERT_TRUE(d4.IsWellFormed());
    n = 0;
    while (d4.FindChildElement(L"p"))
        ++n;
    EXPECT_EQ(n, 200000);
    EXPECT_EQ(CXmlDocumentInspector::Check(d4), "");

    // A start tag and an end tag longer than any packed field could hold.
    std::wstring name(5000, L'n');
    std::wstring longTag = L"<" + name + L" v=\"" + std::wstring(5000000, L'x') + L"\">t</" + name + L">";
    CXmlDocument d5(longTag.c_str());
    ASSERT_TRUE(d5.IsWellFormed());
    ASSERT_TRUE(d5.FindElement(name.c_str()));
    EXPECT_EQ(d5.GetDataAt(d5.GetCurrentPos()), L"t");
    EXPECT_EQ(d5.GetAttributeAt(d5.GetCurrentPos(), L"v").GetLength(), 5000000);
}
