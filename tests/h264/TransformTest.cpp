#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "Transform.h"

using namespace zv::h264;

namespace {

// Fine quantisation must bring a residual back to within a sample or two: catches sign, scale and
// position-class mistakes in any of the forward, quantise, dequantise and inverse steps.
TEST(Transform, FineQuantisationRoundTripsResidual) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        uint8_t source[16], prediction[16], out[16];
        for (int i = 0; i < 16; ++i) {
            source[i] = uint8_t(random());
            prediction[i] = uint8_t(random());
        }
        for (bool intra : {true, false}) {
            int16_t coefficients[16], levels[16];
            forwardTransform4x4(source, 4, prediction, 4, coefficients);
            quantize4x4(coefficients, 4, intra, 0, levels);
            int32_t back[16];
            dequantize4x4(levels, 4, 0, back);
            inverseTransformAdd4x4(back, prediction, 4, out, 4);
            for (int i = 0; i < 16; ++i) ASSERT_LE(std::abs(out[i] - source[i]), 2) << "round " << round;
        }
    }
}

TEST(Transform, CoarseQuantisationErrorGrowsWithQp) {
    std::mt19937 random(8);
    double previous = 0;
    for (int qp : {10, 22, 34, 46}) {
        double squared = 0;
        for (int round = 0; round < 500; ++round) {
            uint8_t source[16], prediction[16], out[16];
            for (int i = 0; i < 16; ++i) {
                source[i] = uint8_t(random() % 64 + 96);
                prediction[i] = 128;
            }
            int16_t coefficients[16], levels[16];
            forwardTransform4x4(source, 4, prediction, 4, coefficients);
            quantize4x4(coefficients, qp, false, 0, levels);
            int32_t back[16];
            dequantize4x4(levels, qp, 0, back);
            inverseTransformAdd4x4(back, prediction, 4, out, 4);
            for (int i = 0; i < 16; ++i) squared += (out[i] - source[i]) * (out[i] - source[i]);
        }
        EXPECT_GT(squared, previous) << "qp " << qp;
        previous = squared;
    }
}

// A flat 16x16 residual carried only by the luma DC path comes back flat.
TEST(Transform, LumaDcPathReconstructsFlatBlocks) {
    for (int qp : {12, 26, 40}) {
        for (int value : {-100, -7, 0, 5, 60}) {
            int16_t dc[16];
            uint8_t source[16], prediction[16];
            std::fill(source, source + 16, uint8_t(128 + value));
            std::fill(prediction, prediction + 16, uint8_t(128));
            int16_t coefficients[16];
            forwardTransform4x4(source, 4, prediction, 4, coefficients);
            std::fill(dc, dc + 16, coefficients[0]);
            int16_t levels[16];
            quantizeLumaDc(dc, qp, levels);
            int32_t scaled[16];
            dequantizeLumaDc(levels, qp, scaled);
            for (int b = 0; b < 16; ++b) {
                int32_t block[16] = {};
                block[0] = scaled[b];
                uint8_t out[16];
                inverseTransformAdd4x4(block, prediction, 4, out, 4);
                const int tolerance = qp >= 40 ? 12 : qp >= 26 ? 3 : 1;
                for (int i = 0; i < 16; ++i) ASSERT_NEAR(out[i], 128 + value, tolerance) << qp << " " << value;
            }
        }
    }
}

TEST(Transform, ChromaDcPathReconstructsFlatBlocks) {
    for (int qp : {12, 29, 39}) {
        for (int value : {-90, -3, 0, 9, 70}) {
            uint8_t source[16], prediction[16];
            std::fill(source, source + 16, uint8_t(128 + value));
            std::fill(prediction, prediction + 16, uint8_t(128));
            int16_t coefficients[16];
            forwardTransform4x4(source, 4, prediction, 4, coefficients);
            const int16_t dc[4] = {coefficients[0], coefficients[0], coefficients[0], coefficients[0]};
            int16_t levels[4];
            quantizeChromaDc(dc, qp, true, levels);
            int32_t scaled[4];
            dequantizeChromaDc(levels, qp, scaled);
            for (int b = 0; b < 4; ++b) {
                int32_t block[16] = {};
                block[0] = scaled[b];
                uint8_t out[16];
                inverseTransformAdd4x4(block, prediction, 4, out, 4);
                const int tolerance = qp >= 39 ? 8 : qp >= 29 ? 3 : 1;
                for (int i = 0; i < 16; ++i) ASSERT_NEAR(out[i], 128 + value, tolerance) << qp << " " << value;
            }
        }
    }
}

TEST(Transform, FastQuantiserMatchesPlainOne) {
    std::mt19937 random(21);
    for (int round = 0; round < 20000; ++round) {
        int16_t coefficients[16];
        const int range = round % 3 == 0 ? 9000 : round % 3 == 1 ? 300 : 20;
        for (int16_t& c : coefficients) c = int16_t(int(random() % (2 * range + 1)) - range);
        const int qp = int(random() % 52);
        const bool intra = random() % 2;
        const int first = int(random() % 2);
        int16_t fast[16], plain[16];
        const int fastCount = quantize4x4(coefficients, qp, intra, first, fast);
        const int plainCount = quantize4x4Scalar(coefficients, qp, intra, first, plain);
        ASSERT_EQ(fastCount, plainCount) << "round " << round;
        for (int k = 0; k < 16; ++k) ASSERT_EQ(fast[k], plain[k]) << "round " << round << " position " << k;
    }
}

TEST(Transform, ChromaQpTable) {
    EXPECT_EQ(chromaQp(0), 0);
    EXPECT_EQ(chromaQp(29), 29);
    EXPECT_EQ(chromaQp(30), 29);
    EXPECT_EQ(chromaQp(34), 32);
    EXPECT_EQ(chromaQp(51), 39);
}

}  // namespace
