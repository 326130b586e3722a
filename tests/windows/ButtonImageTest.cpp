// Button pictures made from the PNG resources: tile size, where the icon lands, and fading.
// The rounded corners are left alone: only the tile's edges and the icon are checked.
#include "app/images/ButtonImage.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <tuple>
#include <vector>

namespace {

struct Pixel { BYTE b, g, r, a; };

// The 48 x 48 picture's pixels top-down.
std::vector<Pixel> ReadPixels(HBITMAP picture) {
    BITMAP info{};
    GetObjectW(picture, sizeof(info), &info);
    EXPECT_EQ(std::pair(info.bmWidth, info.bmHeight), std::pair(48L, 48L));
    BITMAPINFO header{};
    header.bmiHeader = {sizeof(BITMAPINFOHEADER), 48, -48, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<Pixel> pixels(48 * 48);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, picture, 0, 48, pixels.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(picture);
    return pixels;
}

bool IsTile(const Pixel& p) { return p.r == 45 && p.g == 45 && p.b == 48; }

TEST(ButtonImage, IconsLandInTheirFittedBoxOnA48PixelTileAndFadeOverIt) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    struct { WORD resource; int x, y, width, height; } cases[] = {
        {IDP_RECORD, 6, 6, 36, 35}, {IDP_PAUSE, 6, 6, 35, 35}, {IDP_FULLSCREEN, 6, 8, 36, 32},
        {IDP_MIC_ON, 6, 6, 36, 36}};
    for (const auto& c : cases) {
        const std::vector<Pixel> pixels = ReadPixels(makeButtonImage(c.resource, 1.0f));
        EXPECT_TRUE(IsTile(pixels[24 * 48 + 1])) << "resource " << c.resource;
        // The rounded corners show the window's background (the same dark grey), not black.
        for (int corner : {0, 47, 47 * 48, 48 * 48 - 1})
            EXPECT_TRUE(IsTile(pixels[corner])) << "resource " << c.resource << ", corner pixel " << corner;
        // Bounding box of the icon, away from the rounded corners.
        int left = 48, top = 48, right = -1, bottom = -1;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                if (!((x >= 10 && x < 38) || (y >= 10 && y < 38)) || IsTile(pixels[y * 48 + x])) continue;
                left = std::min(left, x), top = std::min(top, y);
                right = std::max(right, x), bottom = std::max(bottom, y);
            }
        // Inside its box; the artwork fills its canvas, so the icon reaches close to the box's sides.
        EXPECT_TRUE(top >= c.y && bottom < c.y + c.height && left >= c.x && left <= c.x + 3 &&
                    right < c.x + c.width && right >= c.x + c.width - 4)
            << "resource " << c.resource << ": icon at " << left << "," << top << " to " << right << "," << bottom;
    }
    const std::vector<Pixel> solid = ReadPixels(makeButtonImage(IDP_RECORD, 1.0f));
    const std::vector<Pixel> faded = ReadPixels(makeButtonImage(IDP_RECORD, 0.3f));
    EXPECT_TRUE(IsTile(faded[24 * 48 + 2])) << "the tile stays opaque and unchanged";
    // The green disc (away from the white triangle) shows at 30 % over the tile.
    const Pixel& full = solid[24 * 48 + 10];
    const Pixel& dim = faded[24 * 48 + 10];
    EXPECT_GT(full.g, 150);
    for (auto [icon, tile, shown] : {std::tuple{full.r, 45, dim.r}, {full.g, 45, dim.g}, {full.b, 48, dim.b}})
        EXPECT_NEAR(shown, tile + (icon - tile) * 3 / 10, 6);
    Gdiplus::GdiplusShutdown(token);
}

}  // namespace
