#include "driver_bmp.h"

namespace zvdriver {

namespace {

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

size_t BmpRowStride(int width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
}

std::vector<uint8_t> BmpHeader(int width, int height) {
    constexpr uint32_t kHeaderSize = 14 + 40;
    const uint32_t imageSize = static_cast<uint32_t>(BmpRowStride(width) * static_cast<size_t>(height));
    std::vector<uint8_t> out;
    out.reserve(kHeaderSize);
    out.push_back('B');
    out.push_back('M');
    PutLe(out, kHeaderSize + imageSize, 4);
    PutLe(out, 0, 4);  // reserved
    PutLe(out, kHeaderSize, 4);
    PutLe(out, 40, 4);  // BITMAPINFOHEADER
    PutLe(out, static_cast<uint32_t>(width), 4);
    PutLe(out, static_cast<uint32_t>(height), 4);  // positive: bottom-up rows
    PutLe(out, 1, 2);
    PutLe(out, 24, 2);
    PutLe(out, 0, 4);  // BI_RGB
    PutLe(out, imageSize, 4);
    PutLe(out, 2835, 4);  // 72 dpi
    PutLe(out, 2835, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    return out;
}

}  // namespace zvdriver
