// 24-bit bottom-up BMP files, the simplest format every image tool reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvdriver {

// Bytes per pixel row, padded to 4 bytes as BMP requires.
size_t BmpRowStride(int width);
// File header + BITMAPINFOHEADER (54 bytes) for width x height; pixel rows follow.
std::vector<uint8_t> BmpHeader(int width, int height);

}  // namespace zvdriver
