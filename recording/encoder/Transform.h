#pragma once
#include <cstdint>

namespace zv::h264 {

// 4x4 blocks are stored row by row (index y * 4 + x); "scan" arrays follow the zig-zag order.
extern const uint8_t kZigzag4x4[16];  // scan position -> raster index

// Forward core transform of (source - prediction).
void forwardTransform4x4(const uint8_t* source, int sourceStride, const uint8_t* prediction, int predictionStride,
                         int16_t coefficients[16]);

// Quantises raster coefficients into scan order from scan position `first` on (0, or 1 when the DC goes
// elsewhere). Returns the number of non-zero levels.
int quantize4x4(const int16_t coefficients[16], int qp, bool intra, int first, int16_t levels[16]);
// Scan-order levels back to raster coefficients ready for the inverse transform (position 0 included
// only when first == 0).
void dequantize4x4(const int16_t levels[16], int qp, int first, int32_t coefficients[16]);

// Luma DC of a 16x16 intra macroblock: raster 4x4 of the blocks' DC coefficients.
int quantizeLumaDc(const int16_t dc[16], int qp, int16_t levels[16]);
void dequantizeLumaDc(const int16_t levels[16], int qp, int32_t dc[16]);  // raster, scaled
// Chroma DC, 2x2 in raster order.
int quantizeChromaDc(const int16_t dc[4], int qp, bool intra, int16_t levels[4]);
void dequantizeChromaDc(const int16_t levels[4], int qp, int32_t dc[4]);

// Inverse transform, adds the residual to the prediction and clips into `destination`.
void inverseTransformAdd4x4(const int32_t coefficients[16], const uint8_t* prediction, int predictionStride,
                            uint8_t* destination, int destinationStride);

// Chroma QP for a luma QP (no offset).
int chromaQp(int qp);

}  // namespace zv::h264
