#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "Motion.h"
#include "Picture.h"

using namespace zv::h264;

namespace {

// Structure without slopes: only a predictor can lead the search to the match.
uint8_t scramble(int x, int y) { return uint8_t((x * 7 + y * 13 + (x * y) / 5 + (x / 9) * (y / 7) * 31) & 0xFF); }

template <typename Texture>
void fill(YuvPicture& picture, int shiftX, int shiftY, Texture texture) {
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) picture.y[size_t(y) * picture.width + x] = texture(x + shiftX, y + shiftY);
}

TEST(Motion, PredictorsLeadToDistantMatches) {
    YuvPicture reference, source;
    reference.allocate(256, 192);
    source.allocate(256, 192);
    fill(reference, 0, 0, scramble);
    fill(source, -50, 21, scramble);
    const MotionVector candidates[] = {{int16_t(8), int16_t(8)}, {int16_t(-50 * 4), int16_t(21 * 4)}};
    const MotionSearchResult found = searchMotion(source, reference, 6, 5, {}, candidates, 2, 4, 512);
    // Exact match beats the zero vector and the wrong candidate whatever its vector costs in bits.
    EXPECT_EQ(found.mv.x, -50 * 4);
    EXPECT_EQ(found.mv.y, 21 * 4);
    EXPECT_EQ(found.sad, 0);
}

TEST(Motion, StaysInsidePictureAndVerticalLimit) {
    YuvPicture reference, source;
    reference.allocate(128, 256);
    source.allocate(128, 256);
    std::mt19937 random(4);
    for (uint8_t& v : reference.y) v = uint8_t(random());
    for (uint8_t& v : source.y) v = uint8_t(random());
    for (int mbY = 0; mbY < 16; ++mbY)
        for (int mbX = 0; mbX < 8; ++mbX) {
            const MotionVector far[] = {{int16_t(-400), int16_t(-800)}, {int16_t(400), int16_t(800)}};
            const MotionSearchResult found = searchMotion(source, reference, mbX, mbY, {}, far, 2, 1, 64);
            EXPECT_TRUE(motionVectorInside(reference, mbX, mbY, found.mv, 64));
            EXPECT_GE(mbX * 16 + found.mv.x / 4, 0);
            EXPECT_LE(mbX * 16 + found.mv.x / 4, 128 - 16);
            EXPECT_GE(found.mv.y, -64 * 4);
            EXPECT_LT(found.mv.y, 64 * 4);
        }
}

TEST(Motion, ChromaPredictionInterpolatesAndClampsAtEdges) {
    YuvPicture reference;
    reference.allocate(32, 32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            reference.u[size_t(y) * 16 + x] = uint8_t(x * 10);
            reference.v[size_t(y) * 16 + x] = uint8_t(y * 10);
        }
    uint8_t luma[256], cb[64], cr[64];
    // Luma one sample right = half a chroma sample: the average of neighbours, rounded up.
    predictInter(reference, 0, 0, {4, 0}, luma, cb, cr);
    EXPECT_EQ(cb[0], 5);
    EXPECT_EQ(cb[7], 75);
    EXPECT_EQ(cr[8], 10);
    // At the bottom-right macroblock a vector pointing outward reads the repeated edge.
    predictInter(reference, 1, 1, {0, 0}, luma, cb, cr);
    EXPECT_EQ(cb[63], 150);
    EXPECT_EQ(cr[63], 150);
}

}  // namespace
