#pragma once
// Frame size of a recording, from the selected rectangle alone.
#include <cstdint>

struct FrameSize {
    int32_t width;
    int32_t height;
};

// Even (the encoder works on 2x2 chroma blocks) and at least 16 pixels each way.
constexpr int32_t EvenFrameDimension(int32_t length) {
    return length < 16 ? 16 : (length & ~int32_t{1});
}

constexpr FrameSize FrameSizeFromRegion(int32_t width, int32_t height) {
    return {EvenFrameDimension(width), EvenFrameDimension(height)};
}
