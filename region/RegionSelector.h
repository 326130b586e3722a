#pragma once
// The translucent full-screen window on which the user drags out the capture rectangle.
#include <windows.h>

#include <cstdint>

struct RegionSelector {
    HWND window = nullptr;
    int32_t startX = 0;
    int32_t startY = 0;
    int32_t currentX = 0;
    int32_t currentY = 0;
    bool dragging = false;
    RECT selection{};  // normalised; all zero when nothing was chosen

    RegionSelector() = default;
    RegionSelector(const RegionSelector&) = delete;
    RegionSelector& operator=(const RegionSelector&) = delete;
    ~RegionSelector();

    // Shows the selector and returns once it is gone; true when the selection has an area.
    bool run();
};
