#include <gtest/gtest.h>

#include <random>

#include "ColorConvert.h"
#include "Picture.h"

using namespace zv::h264;

namespace {

std::vector<uint8_t> solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> frame(size_t(width) * height * 4);
    for (size_t i = 0; i < frame.size(); i += 4) {
        frame[i] = b;
        frame[i + 1] = g;
        frame[i + 2] = r;
        frame[i + 3] = 0x5A;
    }
    return frame;
}

TEST(ColorConvert, KnownColours) {
    struct Case {
        uint8_t r, g, b, y, u, v;
    };
    for (const Case c : {Case{0, 0, 0, 16, 128, 128}, Case{255, 255, 255, 235, 128, 128}, Case{255, 0, 0, 81, 90, 240},
                         Case{0, 255, 0, 144, 54, 34}, Case{0, 0, 255, 41, 240, 110}}) {
        const auto frame = solid(32, 16, c.r, c.g, c.b);
        YuvPicture picture;
        picture.allocate(32, 16);
        convertMacroblocks(BgraFrame{frame.data(), 32, 16}, 0, 0, 2, picture);
        for (uint8_t y : picture.y) ASSERT_NEAR(y, c.y, 1);
        for (uint8_t u : picture.u) ASSERT_NEAR(u, c.u, 1);
        for (uint8_t v : picture.v) ASSERT_NEAR(v, c.v, 1);
    }
}

// The SSE2 path and the scalar path must agree exactly, including the right and bottom padding.
TEST(ColorConvert, FastPathMatchesScalarAndPadsEdges) {
    std::mt19937 random(3);
    for (int width : {16, 18, 40, 54}) {
        const int height = 22;
        std::vector<uint8_t> frame(size_t(width) * height * 4);
        for (uint8_t& byte : frame) byte = uint8_t(random());
        const BgraFrame input{frame.data(), width, height};
        YuvPicture picture;
        const int mbWidth = (width + 15) / 16;
        picture.allocate(mbWidth * 16, 32);
        for (int mbY = 0; mbY < 2; ++mbY) convertMacroblocks(input, mbY, 0, mbWidth, picture);
        for (int y = 0; y < 32; y += 2) {
            for (int x = 0; x < mbWidth * 16; x += 2) {
                auto at = [&](int px, int py) {
                    return input.row(std::min(py, height - 1)) + std::min(px, width - 1) * 4;
                };
                uint8_t luma[4], u, v;
                convertQuadScalar(at(x, y), at(x + 1, y), at(x, y + 1), at(x + 1, y + 1), luma, u, v);
                ASSERT_EQ(picture.y[y * picture.width + x], luma[0]) << width << " " << x << "," << y;
                ASSERT_EQ(picture.y[y * picture.width + x + 1], luma[1]);
                ASSERT_EQ(picture.y[(y + 1) * picture.width + x], luma[2]);
                ASSERT_EQ(picture.y[(y + 1) * picture.width + x + 1], luma[3]);
                ASSERT_EQ(picture.u[(y / 2) * picture.chromaStride() + x / 2], u);
                ASSERT_EQ(picture.v[(y / 2) * picture.chromaStride() + x / 2], v);
            }
        }
    }
}

}  // namespace
