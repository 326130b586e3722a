#pragma once
// Placement of the main window's square image buttons: equal gaps across the strip.
#include "app/images/IconFit.h"

constexpr int kStripLeft = 20;
constexpr int kStripWidth = 480;
constexpr int kImageButtonSize = kTileSize;

constexpr int StripGap(int count) { return (kStripWidth - kImageButtonSize * count) / (count + 1); }

// x of button `index` (counted from 1) among `count` buttons.
constexpr int StripButtonX(int index, int count) {
    return kStripLeft + index * StripGap(count) + (index - 1) * kImageButtonSize;
}
