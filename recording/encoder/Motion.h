#pragma once
#include <cstdint>

#include "Picture.h"

namespace zv::h264 {

struct MotionVector {
    int16_t x = 0, y = 0;  // quarter samples
    bool operator==(const MotionVector&) const = default;
};

int sad16x16(const uint8_t* a, int strideA, const uint8_t* b, int strideB);
int sad8x8(const uint8_t* a, int strideA, const uint8_t* b, int strideB);
// Sum of |sample - mean| over a 16x16 block: a cheap stand-in for the cost of coding it intra.
int meanRemovedSad16x16(const uint8_t* block, int stride);
// |sum(a) - sum(b)| over 16x16: the part of their difference that is a uniform brightness change.
int dcDifference16x16(const uint8_t* a, int strideA, const uint8_t* b, int strideB);

struct MotionSearchResult {
    MotionVector mv;
    int cost = 0;  // SAD + lambda * motion vector bits
    int sad = 0;
};

// Integer-sample search for the macroblock at (mbX, mbY) around the best of `candidates`, keeping the block
// inside the reference picture and the vertical component within +-verticalLimit samples (a level limit).
// lambda weighs the bits of (mv - predicted).
MotionSearchResult searchMotion(const YuvPicture& source, const YuvPicture& reference, int mbX, int mbY,
                                MotionVector predicted, const MotionVector* candidates, int candidateCount,
                                int lambda, int verticalLimit);
int motionCost(const YuvPicture& source, const YuvPicture& reference, int mbX, int mbY, MotionVector mv,
               MotionVector predicted, int lambda);
bool motionVectorInside(const YuvPicture& reference, int mbX, int mbY, MotionVector mv, int verticalLimit);

// Whole-sample vectors that move many textured changed macroblocks exactly or nearly (a dragged window,
// scrolled text), strongest first, at most `maxCount`. Found by an exhaustive search of a few sampled
// macroblocks, so a descent from the usual predictors cannot get stuck in the many local minima of text.
int findDominantMotion(const YuvPicture& source, const YuvPicture& reference, const uint8_t* changed,
                       const int* texture, int mbWidth, int mbHeight, int verticalLimit, MotionVector* out, int maxCount);

// Motion-compensated prediction (integer luma vector, eighth-sample chroma), packed 16x16 and 8x8 blocks.
void predictInter(const YuvPicture& reference, int mbX, int mbY, MotionVector mv, uint8_t luma[256],
                  uint8_t cb[64], uint8_t cr[64]);

}  // namespace zv::h264
