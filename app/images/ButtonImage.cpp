#include "app/images/ButtonImage.h"

#include "app/AppState.h"
#include "app/images/IconFit.h"
#include "common/ComRef.h"
#include "common/WinHandles.h"
#include "ui/DarkTheme.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <memory>

namespace {

constexpr Gdiplus::ARGB kTileColour = 0xFF000000u | GetRValue(kDarkBackground) << 16 | GetGValue(kDarkBackground) << 8 |
                                      GetBValue(kDarkBackground);
constexpr int kCornerBox = 20;  // corner arcs of radius 10
constexpr int kRegionSize = 49;
constexpr int kRegionCorner = 10;

// The PNG bytes of a resource in a stream that owns a movable copy of them.
ComRef<IStream> OpenPngResource(WORD resourceId) {
    HMODULE module = app.moduleInstance ? app.moduleInstance : GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"PNG");
    if (!info) return {};
    HGLOBAL loaded = LoadResource(module, info);
    const DWORD size = SizeofResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return {};
    UniqueGlobal copy(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!copy) return {};
    void* target = GlobalLock(copy.get());
    if (!target) return {};
    std::memcpy(target, bytes, size);
    GlobalUnlock(copy.get());
    ComRef<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(copy.get(), TRUE, stream.put()))) return {};
    copy.release();  // the stream frees it now
    return stream;
}

void FillTile(Gdiplus::Graphics& graphics) {
    Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
    const int farEdge = kTileSize - kCornerBox;
    path.AddArc(0, 0, kCornerBox, kCornerBox, 180, 90);
    path.AddArc(farEdge, 0, kCornerBox, kCornerBox, 270, 90);
    path.AddArc(farEdge, farEdge, kCornerBox, kCornerBox, 0, 90);
    path.AddArc(0, farEdge, kCornerBox, kCornerBox, 90, 90);
    path.CloseFigure();
    Gdiplus::SolidBrush brush{Gdiplus::Color{kTileColour}};
    graphics.FillPath(&brush, &path);
}

void DrawIcon(Gdiplus::Graphics& graphics, Gdiplus::Bitmap& icon, float opacity) {
    const int w = static_cast<int>(icon.GetWidth());
    const int h = static_cast<int>(icon.GetHeight());
    const IconPlacement place = FitIcon(w, h);
    const Gdiplus::Rect target(place.x, place.y, place.width, place.height);
    if (opacity < 1.0f) {
        // Identity but for alpha: colours stay, only the icon's coverage fades.
        Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0},
                                        {0, 1, 0, 0, 0},
                                        {0, 0, 1, 0, 0},
                                        {0, 0, 0, opacity, 0},
                                        {0, 0, 0, 0, 1}}};
        Gdiplus::ImageAttributes attributes;
        attributes.SetColorMatrix(&matrix, Gdiplus::ColorMatrixFlagsDefault, Gdiplus::ColorAdjustTypeDefault);
        graphics.DrawImage(&icon, target, 0, 0, w, h, Gdiplus::UnitPixel, &attributes);
    } else {
        graphics.DrawImage(&icon, target);
    }
}

}  // namespace

HBITMAP makeButtonImage(WORD resourceId, float opacity) {
    ComRef<IStream> stream = OpenPngResource(resourceId);
    if (!stream) return nullptr;
    std::unique_ptr<Gdiplus::Bitmap> icon(Gdiplus::Bitmap::FromStream(stream.get()));
    stream.reset();
    if (!icon || icon->GetLastStatus() != Gdiplus::Ok) return nullptr;

    Gdiplus::Bitmap tile(kTileSize, kTileSize, PixelFormat32bppARGB);
    if (tile.GetLastStatus() != Gdiplus::Ok) return nullptr;
    {
        Gdiplus::Graphics graphics(&tile);
        // GDI bitmaps have no transparency and Wine's conversion ignores its background colour: the
        // corners outside the rounded tile are laid on the window's background here, or they turn black.
        graphics.Clear(Gdiplus::Color{kTileColour});
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        FillTile(graphics);
        DrawIcon(graphics, *icon, opacity);
    }
    HBITMAP picture = nullptr;
    if (tile.GetHBITMAP(Gdiplus::Color{kTileColour}, &picture) != Gdiplus::Ok) return nullptr;
    return picture;
}

void SetButtonPicture(HWND button, HBITMAP picture) {
    if (picture) SendMessageW(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
}

void attachButtonImage(HWND button, HBITMAP picture) {
    SetButtonPicture(button, picture);
    HRGN region = CreateRoundRectRgn(0, 0, kRegionSize, kRegionSize, kRegionCorner, kRegionCorner);
    // The system owns the region once it is set; only a refused one is ours to delete.
    if (region && !SetWindowRgn(button, region, TRUE)) DeleteObject(region);
}
