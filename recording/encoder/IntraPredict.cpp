#include "IntraPredict.h"

#include <algorithm>
#include <cstring>

namespace zv::h264 {

// A gradient fitted to the row above and the column to the left; size 16 (luma) or 8 (chroma).
static void predictPlane(const uint8_t* plane, int stride, int size, uint8_t* prediction) {
    const uint8_t* top = plane - stride;
    const int half = size / 2;
    int h = 0, v = 0;
    for (int i = 0; i < half; ++i) {
        // Index -1 is the corner sample above-left.
        const int before = half - 2 - i;
        h += (i + 1) * (top[half + i] - (before >= 0 ? top[before] : top[-1]));
        v += (i + 1) * (plane[(half + i) * stride - 1] - (before >= 0 ? plane[before * stride - 1] : top[-1]));
    }
    const int a = 16 * (plane[(size - 1) * stride - 1] + top[size - 1]);
    const int b = size == 16 ? (5 * h + 32) >> 6 : (34 * h + 32) >> 6;
    const int c = size == 16 ? (5 * v + 32) >> 6 : (34 * v + 32) >> 6;
    const int center = half - 1;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            prediction[y * size + x] = uint8_t(std::clamp((a + b * (x - center) + c * (y - center) + 16) >> 5, 0, 255));
}

void predictLuma16x16(const uint8_t* plane, int stride, bool leftAvailable, bool topAvailable, int mode,
                      uint8_t prediction[256]) {
    const uint8_t* top = plane - stride;
    if (mode == kLumaVertical) {
        for (int y = 0; y < 16; ++y) std::memcpy(prediction + y * 16, top, 16);
        return;
    }
    if (mode == kLumaHorizontal) {
        for (int y = 0; y < 16; ++y) std::memset(prediction + y * 16, plane[y * stride - 1], 16);
        return;
    }
    if (mode == kLumaPlane) {
        predictPlane(plane, stride, 16, prediction);
        return;
    }
    int sum = 0;
    if (topAvailable)
        for (int x = 0; x < 16; ++x) sum += top[x];
    if (leftAvailable)
        for (int y = 0; y < 16; ++y) sum += plane[y * stride - 1];
    int dc = 128;
    if (topAvailable && leftAvailable) dc = (sum + 16) >> 5;
    else if (topAvailable || leftAvailable) dc = (sum + 8) >> 4;
    std::memset(prediction, dc, 256);
}

void predictChroma8x8(const uint8_t* plane, int stride, bool leftAvailable, bool topAvailable, int mode,
                      uint8_t prediction[64]) {
    const uint8_t* top = plane - stride;
    if (mode == kChromaVertical) {
        for (int y = 0; y < 8; ++y) std::memcpy(prediction + y * 8, top, 8);
        return;
    }
    if (mode == kChromaHorizontal) {
        for (int y = 0; y < 8; ++y) std::memset(prediction + y * 8, plane[y * stride - 1], 8);
        return;
    }
    if (mode == kChromaPlane) {
        predictPlane(plane, stride, 8, prediction);
        return;
    }
    // DC per 4x4 quarter: the top-right quarter prefers the row above, the bottom-left the column to the left.
    for (int by = 0; by < 2; ++by) {
        for (int bx = 0; bx < 2; ++bx) {
            int sumTop = 0, sumLeft = 0;
            if (topAvailable)
                for (int i = 0; i < 4; ++i) sumTop += top[bx * 4 + i];
            if (leftAvailable)
                for (int i = 0; i < 4; ++i) sumLeft += plane[(by * 4 + i) * stride - 1];
            int dc = 128;
            const bool preferTop = bx == 1 && by == 0, preferLeft = bx == 0 && by == 1;
            if (preferTop) {
                dc = topAvailable ? (sumTop + 2) >> 2 : leftAvailable ? (sumLeft + 2) >> 2 : 128;
            } else if (preferLeft) {
                dc = leftAvailable ? (sumLeft + 2) >> 2 : topAvailable ? (sumTop + 2) >> 2 : 128;
            } else if (topAvailable && leftAvailable) {
                dc = (sumTop + sumLeft + 4) >> 3;
            } else if (topAvailable || leftAvailable) {
                dc = (sumTop + sumLeft + 2) >> 2;
            }
            for (int y = 0; y < 4; ++y) std::memset(prediction + (by * 4 + y) * 8 + bx * 4, dc, 4);
        }
    }
}

}  // namespace zv::h264
