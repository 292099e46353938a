#include <gtest/gtest.h>

#include "LongPath.h"

TEST(LongPathTest, DrivePathsTakeTheLongFormWithEveryNameKept)
{
    EXPECT_EQ(ExtendedPath(L"C:\\dir\\name"), L"\\\\?\\C:\\dir\\name");
    // Trailing dots and spaces and device names are the user's names, kept as they are.
    EXPECT_EQ(ExtendedPath(L"C:\\dir\\foo."), L"\\\\?\\C:\\dir\\foo.");
    EXPECT_EQ(ExtendedPath(L"C:\\dir\\foo \\aux"), L"\\\\?\\C:\\dir\\foo \\aux");
    EXPECT_EQ(ExtendedPath(L"e:\\VEZORI\\C\\con.txt"), L"\\\\?\\e:\\VEZORI\\C\\con.txt");
    // Roots, slashes, doubled separators, "." and "..".
    EXPECT_EQ(ExtendedPath(L"C:"), L"\\\\?\\C:\\");
    EXPECT_EQ(ExtendedPath(L"C:\\"), L"\\\\?\\C:\\");
    EXPECT_EQ(ExtendedPath(L"C:/a//b\\\\c\\"), L"\\\\?\\C:\\a\\b\\c\\");
    EXPECT_EQ(ExtendedPath(L"C:\\a\\.\\b\\..\\c"), L"\\\\?\\C:\\a\\c");
    EXPECT_EQ(ExtendedPath(L"C:\\..\\..\\a"), L"\\\\?\\C:\\a");
    EXPECT_EQ(ExtendedPath(L"C:\\a\\.."), L"\\\\?\\C:\\");
    EXPECT_EQ(ExtendedPath(L"C:\\a\\..."), L"\\\\?\\C:\\a\\...");
}

TEST(LongPathTest, NetworkPathsTakeTheUncForm)
{
    EXPECT_EQ(ExtendedPath(L"\\\\srv\\share\\d\\f."), L"\\\\?\\UNC\\srv\\share\\d\\f.");
    EXPECT_EQ(ExtendedPath(L"\\\\srv\\share"), L"\\\\?\\UNC\\srv\\share");
    EXPECT_EQ(ExtendedPath(L"\\\\srv\\share\\..\\..\\x"), L"\\\\?\\UNC\\srv\\share\\x");
}

TEST(LongPathTest, OtherPathsStayAsTheyAre)
{
    for (const wchar_t* p : {L"", L"dir\\x", L"C:x", L"\\\\?\\C:\\a\\.\\b", L"\\\\.\\PhysicalDrive1",
                             L"\\\\?\\UNC\\s\\h", L"\\x"})
        EXPECT_EQ(ExtendedPath(p), p) << CStringA(CString(p)).GetString();
}

TEST(LongPathTest, DisplayPathUndoesTheLongForm)
{
    for (const wchar_t* p : {L"C:\\dir\\foo.", L"\\\\srv\\share\\x", L"C:\\"})
        EXPECT_EQ(DisplayPath(ExtendedPath(p)), p);
    EXPECT_EQ(DisplayPath(L"\\\\?\\Volume{1}\\x"), L"\\\\?\\Volume{1}\\x");
    EXPECT_EQ(DisplayPath(L"dir\\x"), L"dir\\x");
}
