// Decodes residual blocks the way a decoder does (prefix matching against the code tables, level_prefix /
// suffix rules, total_zeros and run_before) and checks that random blocks survive the encoder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "BitWriter.h"
#include "Cavlc.h"
#include "CavlcTables.h"

using namespace zv::h264;

namespace {

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    int bit() {
        if (position_ >= bytes_.size() * 8) {
            failed = true;
            return 0;
        }
        const int b = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1;
        ++position_;
        return b;
    }
    uint32_t bits(int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) v = v << 1 | uint32_t(bit());
        return v;
    }
    // Reads bits until they equal one of the candidate codes; returns its index or -1.
    template <typename CodeOf>
    int match(int candidates, CodeOf codeOf) {
        uint32_t value = 0;
        for (int length = 1; length <= 16; ++length) {
            value = value << 1 | uint32_t(bit());
            for (int i = 0; i < candidates; ++i) {
                const VlcCode code = codeOf(i);
                if (code.length == length && code.bits == value) return i;
            }
        }
        failed = true;
        return -1;
    }
    bool failed = false;

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
};

std::vector<int> decodeBlock(Reader& r, int count, int nC) {
    std::vector<int> coefficients(size_t(count), 0);
    const int token = r.match(4 * 17, [&](int i) { return coeffTokenCode(nC, i / 17, i % 17); });
    if (token < 0) return coefficients;
    const int trailingOnes = token / 17, total = token % 17;
    if (total == 0) return coefficients;
    int levels[16];
    int suffixLength = total > 10 && trailingOnes < 3 ? 1 : 0;
    for (int i = 0; i < total; ++i) {
        if (i < trailingOnes) {
            levels[i] = r.bit() ? -1 : 1;
            continue;
        }
        int prefix = 0;
        while (r.bit() == 0 && !r.failed) ++prefix;
        int levelCode = (std::min(15, prefix) << suffixLength);
        int suffixSize = suffixLength;
        if (prefix == 14 && suffixLength == 0) suffixSize = 4;
        if (prefix >= 15) suffixSize = prefix - 3;
        if (suffixSize > 0) levelCode += int(r.bits(suffixSize));
        if (prefix >= 15 && suffixLength == 0) levelCode += 15;
        if (prefix >= 16) levelCode += (1 << (prefix - 3)) - 4096;
        if (i == trailingOnes && trailingOnes < 3) levelCode += 2;
        levels[i] = levelCode % 2 == 0 ? (levelCode + 2) >> 1 : (-levelCode - 1) >> 1;
        if (suffixLength == 0) suffixLength = 1;
        if (std::abs(levels[i]) > (3 << (suffixLength - 1)) && suffixLength < 6) ++suffixLength;
    }
    int zerosLeft = 0;
    if (total < count) {
        zerosLeft = count == 4 ? r.match(4, [&](int z) { return chromaDcTotalZerosCode(total, z); })
                               : r.match(16, [&](int z) { return totalZerosCode(total, z); });
    }
    int runs[16];
    for (int i = 0; i < total - 1; ++i) {
        runs[i] = zerosLeft > 0 ? r.match(15, [&](int run) { return runBeforeCode(zerosLeft, run); }) : 0;
        zerosLeft -= runs[i];
    }
    runs[total - 1] = zerosLeft;
    int position = -1;
    for (int i = total - 1; i >= 0; --i) {
        position += runs[i] + 1;
        if (position >= count) {
            r.failed = true;
            return coefficients;
        }
        coefficients[size_t(position)] = levels[i];
    }
    return coefficients;
}

TEST(CavlcRoundTrip, RandomBlocksDecodeToWhatWasWritten) {
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        struct Block {
            int count, nC;
            std::vector<int16_t> levels;
        };
        std::vector<Block> blocks;
        BitWriter w;
        const int blockCount = 1 + int(random() % 6);
        for (int b = 0; b < blockCount; ++b) {
            Block block;
            const int shape = int(random() % 3);
            block.count = shape == 0 ? 16 : shape == 1 ? 15 : 4;
            block.nC = block.count == 4 ? -1 : int(random() % 17);
            block.levels.assign(size_t(block.count), 0);
            const int density = int(random() % 100);
            for (int16_t& level : block.levels) {
                if (int(random() % 100) >= density) continue;
                const int kind = int(random() % 10);
                const int magnitude = kind < 6 ? 1 : kind < 9 ? 2 + int(random() % 20) : 1 + int(random() % 2047);
                level = int16_t(random() % 2 ? magnitude : -magnitude);
            }
            const int total = writeResidualBlock(w, block.levels.data(), block.count, block.nC);
            int expectedTotal = 0;
            for (int16_t level : block.levels) expectedTotal += level != 0;
            ASSERT_EQ(total, expectedTotal);
            blocks.push_back(std::move(block));
        }
        w.putTrailingBits();
        const std::vector<uint8_t> bytes = w.bytes();
        Reader r(bytes);
        for (const Block& block : blocks) {
            const std::vector<int> decoded = decodeBlock(r, block.count, block.nC);
            ASSERT_FALSE(r.failed) << "round " << round;
            for (int i = 0; i < block.count; ++i) ASSERT_EQ(decoded[size_t(i)], block.levels[size_t(i)]) << "round " << round << " coefficient " << i;
        }
        EXPECT_EQ(r.bit(), 1);  // the stop bit follows the last block directly
    }
}

}  // namespace
