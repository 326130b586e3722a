#include "Transform.h"

#include <algorithm>
#include <cstdlib>
#include <emmintrin.h>

namespace zv::h264 {

const uint8_t kZigzag4x4[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};

namespace {

// Position class: 0 both coordinates even, 1 both odd, 2 mixed.
constexpr uint8_t kPositionClass[16] = {0, 2, 0, 2, 2, 1, 2, 1, 0, 2, 0, 2, 2, 1, 2, 1};
constexpr int kQuantScale[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490}, {10082, 4194, 6554},
                                   {9362, 3647, 5825},  {8192, 3355, 5243},  {7282, 2893, 4559}};
constexpr int kDequantScale[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16},
                                     {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
constexpr int kMaxLevel = 2047;

int16_t quantizeOne(int value, int scale, int offset, int shift) {
    const int magnitude = std::min((std::abs(value) * scale + offset) >> shift, kMaxLevel);
    return int16_t(value < 0 ? -magnitude : magnitude);
}

}  // namespace

int chromaQp(int qp) {
    static constexpr uint8_t kAbove29[22] = {29, 30, 31, 32, 32, 33, 34, 34, 35, 35, 36,
                                             36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};
    return qp < 30 ? qp : kAbove29[qp - 30];
}

void forwardTransform4x4(const uint8_t* source, int sourceStride, const uint8_t* prediction, int predictionStride,
                         int16_t coefficients[16]) {
    int d[16];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) d[y * 4 + x] = source[y * sourceStride + x] - prediction[y * predictionStride + x];
    int t[16];
    for (int y = 0; y < 4; ++y) {
        const int* r = d + y * 4;
        const int s03 = r[0] + r[3], d03 = r[0] - r[3], s12 = r[1] + r[2], d12 = r[1] - r[2];
        t[y * 4 + 0] = s03 + s12;
        t[y * 4 + 1] = 2 * d03 + d12;
        t[y * 4 + 2] = s03 - s12;
        t[y * 4 + 3] = d03 - 2 * d12;
    }
    for (int x = 0; x < 4; ++x) {
        const int s03 = t[x] + t[12 + x], d03 = t[x] - t[12 + x], s12 = t[4 + x] + t[8 + x], d12 = t[4 + x] - t[8 + x];
        coefficients[x] = int16_t(s03 + s12);
        coefficients[4 + x] = int16_t(2 * d03 + d12);
        coefficients[8 + x] = int16_t(s03 - s12);
        coefficients[12 + x] = int16_t(d03 - 2 * d12);
    }
}

namespace {

struct RasterScales {
    alignas(16) uint16_t values[6][16];
};

constexpr RasterScales buildRasterScales() {
    RasterScales t{};
    for (int m = 0; m < 6; ++m)
        for (int i = 0; i < 16; ++i) t.values[m][i] = uint16_t(kQuantScale[m][kPositionClass[i]]);
    return t;
}

constexpr RasterScales kRasterScales = buildRasterScales();

// Eight coefficients at once: |c| * scale + offset >> shift, capped, sign restored.
__m128i quantizeEight(__m128i c, __m128i scale, __m128i offset, __m128i shift) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i sign = _mm_srai_epi16(c, 15);
    const __m128i magnitude = _mm_max_epi16(c, _mm_sub_epi16(zero, c));
    const __m128i low = _mm_mullo_epi16(magnitude, scale), high = _mm_mulhi_epu16(magnitude, scale);
    const __m128i q0 = _mm_srl_epi32(_mm_add_epi32(_mm_unpacklo_epi16(low, high), offset), shift);
    const __m128i q1 = _mm_srl_epi32(_mm_add_epi32(_mm_unpackhi_epi16(low, high), offset), shift);
    const __m128i q = _mm_min_epi16(_mm_packs_epi32(q0, q1), _mm_set1_epi16(kMaxLevel));
    return _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
}

}  // namespace

int quantize4x4(const int16_t coefficients[16], int qp, bool intra, int first, int16_t levels[16]) {
    const int shift = 15 + qp / 6;
    // Rounding below one half (a dead zone), wider for inter blocks whose residual is mostly noise.
    const int rounding = (1 << shift) / (intra ? 3 : 6);
    const __m128i offset = _mm_set1_epi32(rounding);
    const __m128i shiftCount = _mm_cvtsi32_si128(shift);
    const uint16_t* scale = kRasterScales.values[qp % 6];
    alignas(16) int16_t raster[16];
    const __m128i* in = reinterpret_cast<const __m128i*>(coefficients);
    const __m128i* scales = reinterpret_cast<const __m128i*>(scale);
    const __m128i a = quantizeEight(_mm_loadu_si128(in), _mm_load_si128(scales), offset, shiftCount);
    const __m128i b = quantizeEight(_mm_loadu_si128(in + 1), _mm_load_si128(scales + 1), offset, shiftCount);
    levels[0] = 0;
    // Most blocks quantise to nothing; leave early for those.
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_or_si128(a, b), _mm_setzero_si128())) == 0xFFFF) {
        for (int k = 0; k < 16; ++k) levels[k] = 0;
        return 0;
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(raster), a);
    _mm_store_si128(reinterpret_cast<__m128i*>(raster + 8), b);
    int nonZero = 0;
    for (int k = first; k < 16; ++k) {
        levels[k] = raster[kZigzag4x4[k]];
        nonZero += levels[k] != 0;
    }
    return nonZero;
}

void dequantize4x4(const int16_t levels[16], int qp, int first, int32_t coefficients[16]) {
    const int* scale = kDequantScale[qp % 6];
    const int shift = qp / 6;
    if (first == 0) coefficients[0] = 0;
    for (int k = first; k < 16; ++k) {
        const int i = kZigzag4x4[k];
        coefficients[i] = (levels[k] * scale[kPositionClass[i]]) << shift;
    }
}

static void hadamard4x4(const int32_t in[16], int32_t out[16]) {
    int32_t t[16];
    for (int y = 0; y < 4; ++y) {
        const int32_t* r = in + y * 4;
        const int32_t s01 = r[0] + r[1], d01 = r[0] - r[1], s23 = r[2] + r[3], d23 = r[2] - r[3];
        t[y * 4 + 0] = s01 + s23;
        t[y * 4 + 1] = s01 - s23;
        t[y * 4 + 2] = d01 - d23;
        t[y * 4 + 3] = d01 + d23;
    }
    for (int x = 0; x < 4; ++x) {
        const int32_t s01 = t[x] + t[4 + x], d01 = t[x] - t[4 + x], s23 = t[8 + x] + t[12 + x], d23 = t[8 + x] - t[12 + x];
        out[x] = s01 + s23;
        out[4 + x] = s01 - s23;
        out[8 + x] = d01 - d23;
        out[12 + x] = d01 + d23;
    }
}

int quantizeLumaDc(const int16_t dc[16], int qp, int16_t levels[16]) {
    int32_t in[16], h[16];
    for (int i = 0; i < 16; ++i) in[i] = dc[i];
    hadamard4x4(in, h);
    const int shift = 16 + qp / 6;
    const int offset = (1 << shift) / 3;
    const int scale = kQuantScale[qp % 6][0];
    int nonZero = 0;
    for (int k = 0; k < 16; ++k) {
        levels[k] = quantizeOne(h[kZigzag4x4[k]] / 2, scale, offset, shift);
        nonZero += levels[k] != 0;
    }
    return nonZero;
}

void dequantizeLumaDc(const int16_t levels[16], int qp, int32_t dc[16]) {
    int32_t c[16], f[16];
    for (int k = 0; k < 16; ++k) c[kZigzag4x4[k]] = levels[k];
    hadamard4x4(c, f);
    const int levelScale = kDequantScale[qp % 6][0] * 16;
    for (int i = 0; i < 16; ++i) {
        if (qp >= 36) {
            dc[i] = (f[i] * levelScale) << (qp / 6 - 6);
        } else {
            dc[i] = (f[i] * levelScale + (1 << (5 - qp / 6))) >> (6 - qp / 6);
        }
    }
}

int quantizeChromaDc(const int16_t dc[4], int qp, bool intra, int16_t levels[4]) {
    const int32_t h[4] = {dc[0] + dc[1] + dc[2] + dc[3], dc[0] - dc[1] + dc[2] - dc[3],
                          dc[0] + dc[1] - dc[2] - dc[3], dc[0] - dc[1] - dc[2] + dc[3]};
    const int shift = 16 + qp / 6;
    const int offset = (1 << shift) / (intra ? 3 : 6);
    const int scale = kQuantScale[qp % 6][0];
    int nonZero = 0;
    for (int k = 0; k < 4; ++k) {
        levels[k] = quantizeOne(h[k], scale, offset, shift);
        nonZero += levels[k] != 0;
    }
    return nonZero;
}

void dequantizeChromaDc(const int16_t levels[4], int qp, int32_t dc[4]) {
    const int32_t c[4] = {levels[0], levels[1], levels[2], levels[3]};
    const int32_t f[4] = {c[0] + c[1] + c[2] + c[3], c[0] - c[1] + c[2] - c[3], c[0] + c[1] - c[2] - c[3],
                          c[0] - c[1] - c[2] + c[3]};
    const int levelScale = kDequantScale[qp % 6][0] * 16;
    for (int i = 0; i < 4; ++i) dc[i] = ((f[i] * levelScale) << (qp / 6)) >> 5;
}

void inverseTransformAdd4x4(const int32_t c[16], const uint8_t* prediction, int predictionStride,
                            uint8_t* destination, int destinationStride) {
    int32_t t[16];
    for (int y = 0; y < 4; ++y) {
        const int32_t* r = c + y * 4;
        const int32_t e = r[0] + r[2], f = r[0] - r[2], g = (r[1] >> 1) - r[3], h = r[1] + (r[3] >> 1);
        t[y * 4 + 0] = e + h;
        t[y * 4 + 1] = f + g;
        t[y * 4 + 2] = f - g;
        t[y * 4 + 3] = e - h;
    }
    for (int x = 0; x < 4; ++x) {
        const int32_t e = t[x] + t[8 + x], f = t[x] - t[8 + x], g = (t[4 + x] >> 1) - t[12 + x],
                      h = t[4 + x] + (t[12 + x] >> 1);
        const int32_t r[4] = {e + h, f + g, f - g, e - h};
        for (int y = 0; y < 4; ++y) {
            const int value = prediction[y * predictionStride + x] + ((r[y] + 32) >> 6);
            destination[y * destinationStride + x] = uint8_t(std::clamp(value, 0, 255));
        }
    }
}

}  // namespace zv::h264
