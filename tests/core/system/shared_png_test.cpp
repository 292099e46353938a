#include <gtest/gtest.h>

#include "SharedFunctions.h"

namespace {

struct Bgra {
    int b, g, r, a;
    bool operator==(const Bgra&) const = default;
};

Bgra PixelAt(CImage& image, int x, int y)
{
    const BYTE* p = static_cast<const BYTE*>(image.GetPixelAddress(x, y));
    return {p[0], p[1], p[2], p[3]};
}

} // namespace

TEST(SharedPngTest, LoadsAPngResourceWithAlphaAndPremultipliesIt)
{
    CImage image;
    ASSERT_TRUE(LoadPngResource(501, image));
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(image.GetBPP(), 32);
    EXPECT_TRUE(image.HasAlphaChannel());
    EXPECT_EQ(PixelAt(image, 0, 0), (Bgra{50, 100, 200, 128}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Bgra{0, 0, 255, 255}));
    EXPECT_EQ(PixelAt(image, 0, 1), (Bgra{30, 20, 10, 40}));
    PremultiplyAlpha(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Bgra{25, 50, 100, 128}));
    EXPECT_EQ(PixelAt(image, 2, 0), (Bgra{0, 0, 0, 0}));
    EXPECT_EQ(PixelAt(image, 0, 1), (Bgra{5, 3, 2, 40}));

    // Drawn with alpha blending over white: half-covered red-orange pixel.
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    CImage canvas;
    ASSERT_TRUE(canvas.Create(3, -2, 32));
    memset(canvas.GetBits(), 255, 3 * 2 * 4);
    HGDIOBJ old = SelectObject(dc, static_cast<HBITMAP>(canvas));
    EXPECT_TRUE(image.Draw(dc, 0, 0));
    SelectObject(dc, old);
    DeleteDC(dc);
    Bgra blended = PixelAt(canvas, 0, 0);
    EXPECT_NEAR(blended.r, 100 + 127, 2);
    EXPECT_NEAR(blended.b, 25 + 127, 2);
    EXPECT_EQ(PixelAt(canvas, 2, 0).r, 255); // transparent pixel leaves white

    // A missing resource leaves the image as it was.
    EXPECT_FALSE(LoadPngResource(502, image));
    EXPECT_EQ(image.GetWidth(), 3);
}
