#include <gtest/gtest.h>
#include "afx.h"

TEST(CStringTest, SearchAndExtractionStayInsideTheText)
{
    CString s(L"C:\\dir\\name.txt");
    EXPECT_EQ(s.Find(L'\\'), 2);
    EXPECT_EQ(s.Find(L'\\', 3), 6);
    EXPECT_EQ(s.Find(L"dir"), 3);
    EXPECT_EQ(s.Find(L'x', 100), -1);
    EXPECT_EQ(s.ReverseFind(L'.'), 11);
    EXPECT_EQ(s.Left(2), L"C:");
    EXPECT_EQ(s.Right(3), L"txt");
    EXPECT_EQ(s.Mid(7), L"name.txt");
    EXPECT_EQ(s.Mid(7, 4), L"name");
    // Counts past either end are clamped.
    EXPECT_EQ(s.Left(100), s);
    EXPECT_EQ(s.Right(-1), L"");
    EXPECT_EQ(s.Mid(100), L"");
    EXPECT_EQ(s.Mid(-5, 2), L"C:");
    EXPECT_EQ(s.GetAt(100), L'\0');
}

TEST(CStringTest, EditingMembers)
{
    CString s(L"C\\dir");
    EXPECT_EQ(s.Insert(1, L':'), 6);
    EXPECT_EQ(s, L"C:\\dir");
    s.Insert(100, L"\\x");
    EXPECT_EQ(s, L"C:\\dir\\x");
    s.Delete(1);
    EXPECT_EQ(s, L"C\\dir\\x");
    s.Delete(3, 100);
    EXPECT_EQ(s, L"C\\d");
    s.Delete(10, 1);
    EXPECT_EQ(s, L"C\\d");

    CString t(L"Program Files");
    t.MakeLower();
    EXPECT_EQ(t, L"program files");
    t.MakeUpper();
    EXPECT_EQ(t, L"PROGRAM FILES");

    CString u(L"  text \r\n");
    u.TrimRight();
    EXPECT_EQ(u, L"  text");
    u.TrimLeft();
    EXPECT_EQ(u, L"text");
    CString v(L"a,b,,c");
    EXPECT_EQ(v.Replace(L",", L";"), 3);
    EXPECT_EQ(v, L"a;b;;c");
}

TEST(CStringTest, FormatTakesWideAndNarrowTextAnd64BitValues)
{
    CString s;
    s.Format(L"%ls;%d;%lld;%hs", L"C:\\f.txt", -5, 5000000000LL, "abc");
    EXPECT_EQ(s, L"C:\\f.txt;-5;5000000000;abc");
    s.AppendFormat(L"/%02d:%02d", 7, 5);
    EXPECT_EQ(s, L"C:\\f.txt;-5;5000000000;abc/07:05");

    // Longer than any first guess at the buffer.
    std::wstring longText(5000, L'x');
    s.Format(L"[%ls]", longText.c_str());
    EXPECT_EQ(s.GetLength(), 5002);
}

TEST(CStringTest, BufferAccessAndAnsiConversion)
{
    CString s;
    wchar_t* p = s.GetBuffer(10);
    wcscpy(p, L"abc");
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(s, L"abc");
    p = s.GetBuffer(10);
    p[1] = L'X';
    s.ReleaseBuffer(2);
    EXPECT_EQ(s, L"aX");

    CString w("plain ascii");
    EXPECT_EQ(w, L"plain ascii");
    CStringA a(w);
    EXPECT_STREQ(a, "plain ascii");
}

TEST(CArrayTest, ChecksIndexes)
{
    CStringArray arr;
    arr.Add(L"one");
    arr.Add(CString(L"two"));
    arr.InsertAt(0, CString(L"zero"));
    ASSERT_EQ(arr.GetSize(), 3);
    EXPECT_EQ(arr[0], L"zero");
    EXPECT_EQ(arr.GetAt(5), L"");
    arr.RemoveAt(1);
    EXPECT_EQ(arr[1], L"two");
    arr.RemoveAt(7);
    EXPECT_EQ(arr.GetSize(), 2);

    CArray<int> n;
    n.SetAtGrow(3, 7);
    EXPECT_EQ(n.GetSize(), 4);
    EXPECT_EQ(n[3], 7);
    EXPECT_EQ(n[0], 0);
}
