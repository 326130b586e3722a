// Button pictures made from the PNG resources: tile size, where the icon lands, and fading.
#include "app/images/ButtonImage.h"
#include "app/images/IconFit.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <vector>

namespace {

struct Pixel {
    BYTE b, g, r, a;
};

// The picture's pixels top-down.
std::vector<Pixel> ReadPixels(HBITMAP picture, int& width, int& height) {
    BITMAP info{};
    GetObjectW(picture, sizeof(info), &info);
    width = info.bmWidth;
    height = info.bmHeight;
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = -height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<Pixel> pixels(size_t(width) * height);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, picture, 0, height, pixels.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    return pixels;
}

bool IsTile(const Pixel& p) { return p.r == 45 && p.g == 45 && p.b == 48; }

struct Box {
    int left = 1000, top = 1000, right = -1, bottom = -1;  // right/bottom inclusive
};

// Bounding box of the pixels inside the tile that are not tile-coloured.
Box IconBounds(const std::vector<Pixel>& pixels, int width, int height) {
    Box box;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Pixel& p = pixels[size_t(y) * width + x];
            const bool insideCorner = (x >= 10 && x < 38) || (y >= 10 && y < 38);  // away from the rounded corners
            if (!insideCorner || IsTile(p)) continue;
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x);
            box.bottom = std::max(box.bottom, y);
        }
    return box;
}

class ButtonImage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }
    static ULONG_PTR token_;
};
ULONG_PTR ButtonImage::token_ = 0;

struct Placement {
    WORD resource;
    int x, y, width, height;
};

TEST_F(ButtonImage, IconsLandInTheirFittedBoxOnA48PixelTile) {
    const Placement cases[] = {
        {IDP_RECORD, 6, 6, 36, 35},     {IDP_PAUSE, 6, 6, 35, 35},     {IDP_FULLSCREEN, 6, 8, 36, 32},
        {IDP_MIC_ON, 6, 6, 36, 36},     {IDP_STOP, 0, 0, 0, 0},        {IDP_WEBCAM, 0, 0, 0, 0},
    };
    for (const Placement& c : cases) {
        HBITMAP picture = makeButtonImage(c.resource, 1.0f);
        ASSERT_NE(picture, nullptr) << "resource " << c.resource;
        int width = 0, height = 0;
        const std::vector<Pixel> pixels = ReadPixels(picture, width, height);
        EXPECT_EQ(width, 48);
        EXPECT_EQ(height, 48);
        // The tile fills the middle of every edge; its rounded corners show the window's background
        // (the same dark grey), not black, in all four corners.
        EXPECT_TRUE(IsTile(pixels[24 * 48 + 1])) << "resource " << c.resource;
        for (int corner : {0, 47, 47 * 48, 48 * 48 - 1})
            EXPECT_TRUE(IsTile(pixels[corner])) << "resource " << c.resource << ", corner pixel " << corner;
        if (c.width) {
            const Box box = IconBounds(pixels, width, height);
            EXPECT_GE(box.left, c.x) << "resource " << c.resource;
            EXPECT_GE(box.top, c.y) << "resource " << c.resource;
            EXPECT_LE(box.right, c.x + c.width - 1) << "resource " << c.resource;
            EXPECT_LE(box.bottom, c.y + c.height - 1) << "resource " << c.resource;
            // The artwork fills its canvas, so the icon reaches close to its box's edges.
            EXPECT_LE(box.left, c.x + 3) << "resource " << c.resource;
            EXPECT_GE(box.right, c.x + c.width - 4) << "resource " << c.resource;
        }
        DeleteObject(picture);
    }
}

TEST_F(ButtonImage, FadingDimsOnlyTheIcon) {
    HBITMAP full = makeButtonImage(IDP_RECORD, 1.0f);
    HBITMAP faded = makeButtonImage(IDP_RECORD, 0.3f);
    ASSERT_NE(full, nullptr);
    ASSERT_NE(faded, nullptr);
    int w = 0, h = 0;
    const std::vector<Pixel> a = ReadPixels(full, w, h);
    const std::vector<Pixel> b = ReadPixels(faded, w, h);
    // The tile stays opaque and unchanged.
    EXPECT_TRUE(IsTile(b[24 * 48 + 2]));
    EXPECT_TRUE(IsTile(b[2 * 48 + 24]));
    // The green disc (away from the white triangle) shows at 30 % over the tile.
    const Pixel& solid = a[24 * 48 + 10];
    const Pixel& dim = b[24 * 48 + 10];
    EXPECT_GT(solid.g, 150);
    auto blend = [](int icon, int tile) { return tile + (icon - tile) * 3 / 10; };
    EXPECT_NEAR(dim.r, blend(solid.r, 45), 6);
    EXPECT_NEAR(dim.g, blend(solid.g, 45), 6);
    EXPECT_NEAR(dim.b, blend(solid.b, 48), 6);
    // Opacity 1.0 or more draws plainly.
    HBITMAP over = makeButtonImage(IDP_RECORD, 1.5f);
    const std::vector<Pixel> c = ReadPixels(over, w, h);
    EXPECT_EQ(c[24 * 48 + 10].g, solid.g);
    DeleteObject(full);
    DeleteObject(faded);
    DeleteObject(over);
}

TEST_F(ButtonImage, MissingResourceGivesNoPicture) {
    EXPECT_EQ(makeButtonImage(200, 1.0f), nullptr);
}

TEST_F(ButtonImage, AttachingSetsThePictureAndTheRoundedRegionEvenWithoutOne) {
    HWND button = CreateWindowExW(0, L"BUTTON", L"", WS_POPUP | BS_BITMAP | BS_FLAT, 0, 0, 48, 48, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(button, nullptr);
    HBITMAP picture = makeButtonImage(IDP_REGION, 1.0f);
    attachButtonImage(button, picture);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageW(button, BM_GETIMAGE, IMAGE_BITMAP, 0)), picture);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    EXPECT_NE(GetWindowRgn(button, region), ERROR);
    RECT box{};
    GetRgnBox(region, &box);
    EXPECT_EQ(box.right - box.left, 48);  // (0,0)-(49,49) round rectangle: 48 pixels inside
    EXPECT_FALSE(PtInRegion(region, 0, 0)) << "corners are cut";
    EXPECT_TRUE(PtInRegion(region, 24, 0));
    attachButtonImage(button, nullptr);  // keeps the picture, still sets a region
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageW(button, BM_GETIMAGE, IMAGE_BITMAP, 0)), picture);
    DeleteObject(region);
    DestroyWindow(button);
    DeleteObject(picture);
}

}  // namespace
