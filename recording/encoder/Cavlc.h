#pragma once
#include <cstdint>

namespace zv::h264 {

class BitWriter;

// Writes one residual_block_cavlc for `count` coefficients given in scan order (16, 15 for AC blocks, 4 for
// chroma DC). nC is the predicted non-zero count, -1 for chroma DC. Returns TotalCoeff.
// Levels must lie within [-2047, 2047], which the quantiser guarantees.
int writeResidualBlock(BitWriter& out, const int16_t* coefficients, int count, int nC);

}  // namespace zv::h264
