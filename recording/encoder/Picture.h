#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv::h264 {

// A YUV 4:2:0 picture whose size is a whole number of macroblocks.
struct YuvPicture {
    int width = 0;   // luma samples, multiple of 16
    int height = 0;
    std::vector<uint8_t> y, u, v;  // strides: width and width / 2

    void allocate(int codedWidth, int codedHeight) {
        width = codedWidth;
        height = codedHeight;
        y.assign(size_t(width) * height, 0);
        u.assign(size_t(width / 2) * (height / 2), 128);
        v.assign(size_t(width / 2) * (height / 2), 128);
    }
    int chromaStride() const { return width / 2; }
    uint8_t* lumaAt(int x, int yPos) { return y.data() + size_t(yPos) * width + x; }
    const uint8_t* lumaAt(int x, int yPos) const { return y.data() + size_t(yPos) * width + x; }
};

}  // namespace zv::h264
