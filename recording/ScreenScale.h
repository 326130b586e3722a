#pragma once
// From the screen as a thread sees it to the physical pixels under it. Windows shows a
// DPI-unaware program a scaled-down screen (1280x720 for a 1920x1080 panel at 150 %) while
// BitBlt copies physical pixels; a thread or window that runs per-monitor aware sees the
// physical screen itself, and then every mapping below is the identity.
#include <cstdint>

struct ScreenSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Edges, not pixels, as RECT holds them: right and bottom lie one past the last pixel.
struct ScreenEdges {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// A position along one axis, `seenLength` long as seen and `physicalLength` long physically,
// rounded to the nearest physical pixel. The scale comes from the two lengths rather than from
// a DPI figure, so 0 and the seen length land exactly on the physical screen's edges; positions
// beyond the screen (another monitor) are scaled alike.
constexpr int32_t SeenToPhysical(int32_t seen, int32_t seenLength, int32_t physicalLength) {
    if (seenLength <= 0 || physicalLength <= 0 || seenLength == physicalLength) return seen;
    const int64_t numerator = int64_t{seen} * physicalLength * 2 + seenLength;
    const int64_t denominator = int64_t{seenLength} * 2;
    const int64_t quotient = numerator / denominator;
    return static_cast<int32_t>(numerator % denominator < 0 ? quotient - 1 : quotient);  // floor for negatives
}

constexpr ScreenEdges SeenToPhysical(ScreenEdges seen, ScreenSize seenScreen, ScreenSize physicalScreen) {
    return {SeenToPhysical(seen.left, seenScreen.width, physicalScreen.width),
            SeenToPhysical(seen.top, seenScreen.height, physicalScreen.height),
            SeenToPhysical(seen.right, seenScreen.width, physicalScreen.width),
            SeenToPhysical(seen.bottom, seenScreen.height, physicalScreen.height)};
}
