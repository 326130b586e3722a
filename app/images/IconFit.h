#pragma once
// Where an icon lands on a 48 x 48 button tile: fitted into the centred 36 x 36 box with its
// aspect ratio kept. Single precision on purpose: 36/139*139 comes out just below 36, and
// the drawn size is truncated, exactly as the pictures have always been drawn.
constexpr int kTileSize = 48;
constexpr int kIconBox = 36;

struct IconPlacement {
    int x, y, width, height;
};

constexpr IconPlacement FitIcon(int iconWidth, int iconHeight) {
    const float sx = static_cast<float>(kIconBox) / static_cast<float>(iconWidth);
    const float sy = static_cast<float>(kIconBox) / static_cast<float>(iconHeight);
    const float s = sx < sy ? sx : sy;
    const int w = static_cast<int>(s * static_cast<float>(iconWidth));
    const int h = static_cast<int>(s * static_cast<float>(iconHeight));
    return {(kTileSize - w) / 2, (kTileSize - h) / 2, w, h};
}
