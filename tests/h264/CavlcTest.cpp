#include <gtest/gtest.h>

#include <string>

#include "BitWriter.h"
#include "Cavlc.h"
#include "CavlcTables.h"

using namespace zv::h264;

namespace {

std::string text(VlcCode code) {
    std::string s;
    for (int i = code.length - 1; i >= 0; --i) s += (code.bits >> i) & 1 ? '1' : '0';
    return s;
}

std::string bitsOf(const int16_t* coefficients, int count, int nC) {
    BitWriter w;
    writeResidualBlock(w, coefficients, count, nC);
    const int64_t length = w.bitCount();
    w.putTrailingBits();
    std::string s;
    for (int64_t i = 0; i < length; ++i) s += (w.bytes()[size_t(i / 8)] >> (7 - i % 8)) & 1 ? '1' : '0';
    return s;
}

// Rows picked from each table of the reference rendering, including its corners.
TEST(CavlcTables, SpotChecksAgainstReference) {
    EXPECT_EQ(text(coeffTokenCode(0, 0, 0)), "1");
    EXPECT_EQ(text(coeffTokenCode(1, 1, 1)), "01");
    EXPECT_EQ(text(coeffTokenCode(0, 0, 16)), "0000000000000100");
    EXPECT_EQ(text(coeffTokenCode(0, 1, 13)), "000000000000001");
    EXPECT_EQ(text(coeffTokenCode(3, 3, 15)), "0000000000001");
    EXPECT_EQ(text(coeffTokenCode(2, 0, 5)), "00000100");
    EXPECT_EQ(text(coeffTokenCode(5, 0, 16)), "0000000001");
    EXPECT_EQ(text(coeffTokenCode(7, 3, 3)), "1100");
    EXPECT_EQ(text(coeffTokenCode(8, 0, 1)), "000000");
    EXPECT_EQ(text(coeffTokenCode(20, 0, 0)), "000011");
    EXPECT_EQ(text(coeffTokenCode(8, 3, 16)), "111111");
    EXPECT_EQ(text(coeffTokenCode(-1, 0, 0)), "01");
    EXPECT_EQ(text(coeffTokenCode(-1, 1, 1)), "1");
    EXPECT_EQ(text(coeffTokenCode(-1, 3, 4)), "0000000");
    EXPECT_EQ(coeffTokenCode(-1, 0, 5).length, 0);
    EXPECT_EQ(text(totalZerosCode(1, 0)), "1");
    EXPECT_EQ(text(totalZerosCode(1, 15)), "000000001");
    EXPECT_EQ(text(totalZerosCode(3, 6)), "100");
    EXPECT_EQ(text(totalZerosCode(11, 4)), "1");
    EXPECT_EQ(text(totalZerosCode(15, 1)), "1");
    EXPECT_EQ(text(chromaDcTotalZerosCode(1, 3)), "000");
    EXPECT_EQ(text(chromaDcTotalZerosCode(3, 1)), "0");
    EXPECT_EQ(text(runBeforeCode(1, 1)), "0");
    EXPECT_EQ(text(runBeforeCode(6, 1)), "000");
    EXPECT_EQ(text(runBeforeCode(6, 5)), "101");
    EXPECT_EQ(text(runBeforeCode(7, 0)), "111");
    EXPECT_EQ(text(runBeforeCode(12, 14)), "00000000001");
    EXPECT_EQ(interCbpCodeNum(0), 0);
    EXPECT_EQ(interCbpCodeNum(47), 12);
    EXPECT_EQ(interCbpCodeNum(16), 1);
    EXPECT_EQ(intraCbpCodeNum(47), 0);
    EXPECT_EQ(intraCbpCodeNum(0), 3);
}

// Every codeword within one table and context must be prefix-free, or a decoder could not tell them apart.
TEST(CavlcTables, CoeffTokenCodesArePrefixFree) {
    for (int nC : {0, 2, 4, 8, -1}) {
        std::vector<std::string> codes;
        for (int ones = 0; ones < 4; ++ones)
            for (int total = ones; total <= 16; ++total)
                if (coeffTokenCode(nC, ones, total).length) codes.push_back(text(coeffTokenCode(nC, ones, total)));
        for (size_t i = 0; i < codes.size(); ++i)
            for (size_t j = 0; j < codes.size(); ++j)
                if (i != j) {
                    EXPECT_NE(codes[j].rfind(codes[i], 0), 0u) << nC << ": " << codes[i] << " / " << codes[j];
                }
    }
}

TEST(Cavlc, BlockWithThreeTrailingOnes) {
    // Raster 0 3 -1 0 / 0 -1 1 0 / 1 0 0 0 / 0 0 0 0 in zig-zag order.
    const int16_t scan[16] = {0, 3, 0, 1, -1, -1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bitsOf(scan, 16, 0), "000010001110010111101101");
}

TEST(Cavlc, BlockWithGrowingSuffixLength) {
    const int16_t scan[16] = {-2, 4, 3, -3, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bitsOf(scan, 16, 0), "000000011010001001000010111001100");
}

TEST(Cavlc, EmptyBlocksPerContext) {
    const int16_t zeros[16] = {};
    EXPECT_EQ(bitsOf(zeros, 16, 0), "1");
    EXPECT_EQ(bitsOf(zeros, 15, 3), "11");
    EXPECT_EQ(bitsOf(zeros, 4, -1), "01");
}

TEST(Cavlc, LargeLevelsUseEscape) {
    int16_t scan[16] = {};
    scan[0] = 2047;
    scan[1] = -2047;
    const std::string bits = bitsOf(scan, 16, 0);
    // coeff_token (0 trailing ones, 2 coefficients) then two 16-bit-prefix escapes.
    EXPECT_EQ(bits.substr(0, 8), "00000111");
    EXPECT_EQ(bits.substr(8, 16), "0000000000000001");
}

TEST(Cavlc, ChromaDcFullBlockHasNoTotalZeros) {
    const int16_t dc[4] = {1, -1, 1, 1};
    // coeff_token (3 trailing ones, 4 coefficients), signs + + - from the end, then level +1; no total_zeros.
    EXPECT_EQ(bitsOf(dc, 4, -1), "0000000" "001" "1");
}

}  // namespace
