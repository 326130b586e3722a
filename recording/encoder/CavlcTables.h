#pragma once
#include <cstdint>

namespace zv::h264 {

// One variable-length codeword: the low `length` bits of `bits`. length 0 marks a combination that cannot occur.
struct VlcCode {
    uint16_t bits = 0;
    uint8_t length = 0;
};

// nC >= 0 for 4x4 blocks; nC == -1 for chroma DC.
VlcCode coeffTokenCode(int nC, int trailingOnes, int totalCoeff);
VlcCode totalZerosCode(int totalCoeff, int totalZeros);          // 4x4 and AC blocks
VlcCode chromaDcTotalZerosCode(int totalCoeff, int totalZeros);  // 2x2 chroma DC
VlcCode runBeforeCode(int zerosLeft, int runBefore);
// codeNum for coded_block_pattern of inter macroblocks (the inverse of the mapping table).
int interCbpCodeNum(int codedBlockPattern);
int intraCbpCodeNum(int codedBlockPattern);

}  // namespace zv::h264
