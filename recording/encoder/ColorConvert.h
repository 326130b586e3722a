#pragma once
#include <cstddef>
#include <cstdint>

#include "Picture.h"

namespace zv::h264 {

// The frame as the recorder hands it over: rows bottom-up, 4 bytes per pixel (B, G, R, unused).
struct BgraFrame {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    const uint8_t* row(int topDownY) const { return pixels + size_t(height - 1 - topDownY) * width * 4; }
};

// Converts macroblocks [firstMb, endMb) of macroblock row mbY to BT.601 limited-range 4:2:0 (chroma is the
// 2x2 average, so a macroblock depends only on its own pixels). Pixels beyond the frame repeat the edge.
void convertMacroblocks(const BgraFrame& frame, int mbY, int firstMb, int endMb, YuvPicture& out);

}  // namespace zv::h264
