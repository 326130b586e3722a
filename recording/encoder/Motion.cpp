#include "Motion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <emmintrin.h>

#include "BitWriter.h"

namespace zv::h264 {

int sad16x16(const uint8_t* a, int strideA, const uint8_t* b, int strideB) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * strideA));
        const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * strideB));
        sum = _mm_add_epi64(sum, _mm_sad_epu8(ra, rb));
    }
    return _mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8));
}

int sad8x8(const uint8_t* a, int strideA, const uint8_t* b, int strideB) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2) {
        const __m128i ra = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + y * strideA)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + (y + 1) * strideA)));
        const __m128i rb = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + y * strideB)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + (y + 1) * strideB)));
        sum = _mm_add_epi64(sum, _mm_sad_epu8(ra, rb));
    }
    return _mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8));
}

int meanRemovedSad16x16(const uint8_t* block, int stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero;
    for (int y = 0; y < 16; ++y)
        sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + y * stride)), zero));
    const int total = _mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8));
    const __m128i mean = _mm_set1_epi8(char((total + 128) >> 8));
    __m128i sad = zero;
    for (int y = 0; y < 16; ++y)
        sad = _mm_add_epi64(sad, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + y * stride)), mean));
    return _mm_cvtsi128_si32(sad) + _mm_cvtsi128_si32(_mm_srli_si128(sad, 8));
}

int dcDifference16x16(const uint8_t* a, int strideA, const uint8_t* b, int strideB) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero;
    for (int y = 0; y < 16; ++y) {
        const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * strideA));
        const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * strideB));
        sum = _mm_add_epi64(sum, _mm_sub_epi64(_mm_sad_epu8(ra, zero), _mm_sad_epu8(rb, zero)));
    }
    return std::abs(_mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8)));
}

bool motionVectorInside(const YuvPicture& reference, int mbX, int mbY, MotionVector mv, int verticalLimit) {
    const int x = mbX * 16 + mv.x / 4, y = mbY * 16 + mv.y / 4;
    return x >= 0 && y >= 0 && x <= reference.width - 16 && y <= reference.height - 16 && mv.x % 4 == 0 &&
           mv.y % 4 == 0 && mv.y >= -verticalLimit * 4 && mv.y < verticalLimit * 4 && mv.x >= -2048 * 4 && mv.x < 2048 * 4;
}

int motionCost(const YuvPicture& source, const YuvPicture& reference, int mbX, int mbY, MotionVector mv,
               MotionVector predicted, int lambda) {
    const uint8_t* src = source.lumaAt(mbX * 16, mbY * 16);
    const uint8_t* ref = reference.lumaAt(mbX * 16 + mv.x / 4, mbY * 16 + mv.y / 4);
    const int bits = seBitLength(mv.x - predicted.x) + seBitLength(mv.y - predicted.y);
    return sad16x16(src, source.width, ref, reference.width) + lambda * bits;
}

MotionSearchResult searchMotion(const YuvPicture& source, const YuvPicture& reference, int mbX, int mbY,
                                MotionVector predicted, const MotionVector* candidates, int candidateCount,
                                int lambda, int verticalLimit) {
    MotionSearchResult best;
    best.cost = motionCost(source, reference, mbX, mbY, best.mv, predicted, lambda);
    for (int i = 0; i < candidateCount; ++i) {
        MotionVector mv{int16_t(candidates[i].x & ~3), int16_t(candidates[i].y & ~3)};
        if (mv == best.mv || !motionVectorInside(reference, mbX, mbY, mv, verticalLimit)) continue;
        const int cost = motionCost(source, reference, mbX, mbY, mv, predicted, lambda);
        if (cost < best.cost) {
            best.cost = cost;
            best.mv = mv;
        }
    }
    // Diamond descent down to single-sample steps, then the diagonals. Far jumps of whole windows come in
    // through the candidates (findDominantMotion), so the descent itself stays short.
    static constexpr int kDiamond[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    static constexpr int kDiagonals[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    auto tryOffsets = [&](const int (*offsets)[2], int count, int step) {
        const MotionVector center = best.mv;
        bool moved = false;
        for (int i = 0; i < count; ++i) {
            const MotionVector mv{int16_t(center.x + offsets[i][0] * step * 4), int16_t(center.y + offsets[i][1] * step * 4)};
            if (!motionVectorInside(reference, mbX, mbY, mv, verticalLimit)) continue;
            const int cost = motionCost(source, reference, mbX, mbY, mv, predicted, lambda);
            if (cost < best.cost) {
                best.cost = cost;
                best.mv = mv;
                moved = true;
            }
        }
        return moved;
    };
    // A near-perfect match from the predictors (moved windows, scrolled text) needs no wide search.
    const bool goodMatch = best.cost < 2 * 256;
    for (int step : {4, 2, 1}) {
        if (goodMatch && step > 2) continue;
        for (int iteration = 0; iteration < 8 && tryOffsets(kDiamond, 4, step); ++iteration) {
        }
    }
    tryOffsets(kDiagonals, 4, 1);
    best.sad = best.cost - lambda * (seBitLength(best.mv.x - predicted.x) + seBitLength(best.mv.y - predicted.y));
    return best;
}

int findDominantMotion(const YuvPicture& source, const YuvPicture& reference, const uint8_t* changed,
                       const int* texture, int mbWidth, int mbHeight, int verticalLimit, MotionVector* out, int maxCount) {
    constexpr int kSamples = 16, kRangeX = 32, kRangeY = 32, kMinTexture = 1500;
    std::vector<int> textured;
    for (int i = 0; i < mbWidth * mbHeight; ++i)
        if (changed[i] && texture[i] >= kMinTexture) textured.push_back(i);
    if (textured.empty()) return 0;
    struct Vote {
        MotionVector mv;
        int count;
    };
    std::vector<Vote> votes;
    const size_t stride = std::max<size_t>(1, textured.size() / kSamples);
    int searched = 0;
    for (size_t k = stride / 2; k < textured.size(); k += stride) {
        // Content that moves as a whole shows in the first samples; noise or new content would only cost time.
        if (++searched > kSamples / 2 && votes.empty()) break;
        const int mbX = textured[k] % mbWidth, mbY = textured[k] / mbWidth;
        const uint8_t* src = source.lumaAt(mbX * 16, mbY * 16);
        // A near-exact match only: content that really moved as a whole, not the best of a poor lot.
        int bestSad = texture[textured[k]] / 8;
        MotionVector best;
        bool found = false;
        for (int dy = -kRangeY; dy <= kRangeY && bestSad > 0; ++dy)
            for (int dx = -kRangeX; dx <= kRangeX; ++dx) {
                const MotionVector mv{int16_t(dx * 4), int16_t(dy * 4)};
                if ((dx == 0 && dy == 0) || !motionVectorInside(reference, mbX, mbY, mv, verticalLimit)) continue;
                const int sad = sad16x16(src, source.width, reference.lumaAt(mbX * 16 + dx, mbY * 16 + dy), reference.width);
                if (sad < bestSad) bestSad = sad, best = mv, found = true;
            }
        if (!found) continue;
        auto vote = std::find_if(votes.begin(), votes.end(), [&](const Vote& v) { return v.mv == best; });
        if (vote == votes.end()) votes.push_back({best, 1});
        else ++vote->count;
    }
    std::sort(votes.begin(), votes.end(), [](const Vote& a, const Vote& b) { return a.count > b.count; });
    int count = 0;
    for (const Vote& v : votes)
        if (count < maxCount && v.count >= 2) out[count++] = v.mv;
    return count;
}

static void predictChroma(const std::vector<uint8_t>& plane, int stride, int planeHeight, int mbX, int mbY,
                          MotionVector mv, uint8_t out[64]) {
    const int fx = mv.x & 7, fy = mv.y & 7;
    const int x0 = mbX * 8 + (mv.x >> 3), y0 = mbY * 8 + (mv.y >> 3);
    const uint8_t* p = plane.data();
    if (fx == 0 && fy == 0 && x0 >= 0 && y0 >= 0 && x0 + 8 <= stride && y0 + 8 <= planeHeight) {
        for (int y = 0; y < 8; ++y) std::memcpy(out + y * 8, p + (y0 + y) * stride + x0, 8);
        return;
    }
    const int w00 = (8 - fx) * (8 - fy), w10 = fx * (8 - fy), w01 = (8 - fx) * fy, w11 = fx * fy;
    for (int y = 0; y < 8; ++y) {
        const int ya = std::clamp(y0 + y, 0, planeHeight - 1), yb = std::clamp(y0 + y + 1, 0, planeHeight - 1);
        for (int x = 0; x < 8; ++x) {
            const int xa = std::clamp(x0 + x, 0, stride - 1), xb = std::clamp(x0 + x + 1, 0, stride - 1);
            out[y * 8 + x] = uint8_t((w00 * p[ya * stride + xa] + w10 * p[ya * stride + xb] + w01 * p[yb * stride + xa] +
                                      w11 * p[yb * stride + xb] + 32) >> 6);
        }
    }
}

void predictInter(const YuvPicture& reference, int mbX, int mbY, MotionVector mv, uint8_t luma[256], uint8_t cb[64],
                  uint8_t cr[64]) {
    const uint8_t* src = reference.lumaAt(mbX * 16 + mv.x / 4, mbY * 16 + mv.y / 4);
    for (int y = 0; y < 16; ++y) std::memcpy(luma + y * 16, src + y * reference.width, 16);
    predictChroma(reference.u, reference.chromaStride(), reference.height / 2, mbX, mbY, mv, cb);
    predictChroma(reference.v, reference.chromaStride(), reference.height / 2, mbX, mbY, mv, cr);
}

}  // namespace zv::h264
