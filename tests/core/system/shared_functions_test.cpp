#include <gtest/gtest.h>

#include "SharedFunctions.h"

TEST(SharedFunctionsTest, SystemErrorTexts)
{
    CString missing = FormatSystemError(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(missing.IsEmpty());
    EXPECT_NE(missing, L"Fail(2)");
    EXPECT_EQ(missing.FindOneOf(L"\r\n"), -1);
    EXPECT_EQ(FormatSystemError(123456), L"Fail(123456)");
}

TEST(SharedFunctionsTest, SettingTextParsers)
{
    int h = -1, m = -1;
    ParseHourMinute(L"07:30", h, m);
    EXPECT_EQ(h, 7);
    EXPECT_EQ(m, 30);
    ParseHourMinute(L"7", h, m);
    EXPECT_EQ(h, 7);
    EXPECT_EQ(m, 0);
    ParseHourMinute(L"1:2:3", h, m);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(m, 23);

    int v = -1;
    ParseDecimal(L"", v);
    EXPECT_EQ(v, 0);
    ParseDecimal(L"0042", v);
    EXPECT_EQ(v, 42);

    EXPECT_EQ(RemoveSpaces(L"Ctrl + Alt + B"), L"Ctrl+Alt+B");
    EXPECT_EQ(RemoveSpaces(L"\tA\t"), L"\tA\t"); // only code 32 is a blank
    EXPECT_EQ(RemoveSpaces(CString(L'x', 200) + L" y").GetLength(), 127);

    EXPECT_TRUE(IsSystemFolderName(L"Program Files"));
    EXPECT_TRUE(IsSystemFolderName(L"WINDOWS"));
    EXPECT_TRUE(IsSystemFolderName(L"Documents and Settings"));
    EXPECT_FALSE(IsSystemFolderName(L"Program Files (x86)"));
    EXPECT_FALSE(IsSystemFolderName(L"windows2"));
}

TEST(SharedFunctionsTest, PremultiplyRoundsAndKeepsAlpha)
{
    CImage image;
    ASSERT_TRUE(image.Create(3, 2, 32, CImage::createAlphaChannel));
    EXPECT_LT(image.GetPitch(), 0); // bottom-up for a positive height
    BYTE* p = static_cast<BYTE*>(image.GetPixelAddress(1, 1));
    p[0] = 50; p[1] = 100; p[2] = 200; p[3] = 128; // blue, green, red, alpha
    BYTE* q = static_cast<BYTE*>(image.GetPixelAddress(0, 0));
    q[0] = 255; q[1] = 1; q[2] = 0; q[3] = 255;
    PremultiplyAlpha(image);
    EXPECT_EQ(p[0], 25);
    EXPECT_EQ(p[1], 50);
    EXPECT_EQ(p[2], 100);
    EXPECT_EQ(p[3], 128);
    EXPECT_EQ(q[0], 255);
    EXPECT_EQ(q[1], 1);
    EXPECT_EQ(q[3], 255);
    // Fully transparent pixels become black; other depths are untouched.
    EXPECT_EQ(static_cast<BYTE*>(image.GetPixelAddress(2, 1))[0], 0);
    EXPECT_EQ(image.GetPixelAddress(3, 0), nullptr);
    CImage rgb;
    ASSERT_TRUE(rgb.Create(1, -1, 24));
    static_cast<BYTE*>(rgb.GetBits())[0] = 77;
    PremultiplyAlpha(rgb);
    EXPECT_EQ(static_cast<BYTE*>(rgb.GetBits())[0], 77);
}
