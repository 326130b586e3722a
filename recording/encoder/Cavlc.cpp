#include "Cavlc.h"

#include <cstdlib>

#include "BitWriter.h"
#include "CavlcTables.h"

namespace zv::h264 {

static void put(BitWriter& out, VlcCode code) { out.putBits(code.bits, code.length); }

static void writeLevel(BitWriter& out, int levelCode, int suffixLength) {
    if (suffixLength == 0) {
        if (levelCode < 14) {
            out.putBits(1, levelCode + 1);
        } else if (levelCode < 30) {
            out.putBits(1, 15);
            out.putBits(uint32_t(levelCode - 14), 4);
        } else {
            out.putBits(1, 16);
            out.putBits(uint32_t(levelCode - 30), 12);
        }
        return;
    }
    const int prefix = levelCode >> suffixLength;
    if (prefix < 15) {
        out.putBits(1, prefix + 1);
        out.putBits(uint32_t(levelCode) & ((1u << suffixLength) - 1), suffixLength);
    } else {
        out.putBits(1, 16);
        out.putBits(uint32_t(levelCode - (15 << suffixLength)), 12);
    }
}

int writeResidualBlock(BitWriter& out, const int16_t* coefficients, int count, int nC) {
    // Gather non-zero levels from the highest frequency down, with the zero run below each one.
    int levels[16];
    int runs[16];
    int total = 0;
    int last = count - 1;
    while (last >= 0 && coefficients[last] == 0) --last;
    for (int i = last; i >= 0; --i) {
        if (coefficients[i] != 0) {
            levels[total] = coefficients[i];
            runs[total] = 0;
            ++total;
        } else {
            ++runs[total - 1];
        }
    }
    int trailingOnes = 0;
    while (trailingOnes < total && trailingOnes < 3 && std::abs(levels[trailingOnes]) == 1) ++trailingOnes;

    put(out, coeffTokenCode(nC, trailingOnes, total));
    if (total == 0) return 0;

    for (int i = 0; i < trailingOnes; ++i) out.putBit(levels[i] < 0);

    int suffixLength = total > 10 && trailingOnes < 3 ? 1 : 0;
    for (int i = trailingOnes; i < total; ++i) {
        const int level = levels[i];
        int levelCode = level > 0 ? 2 * level - 2 : -2 * level - 1;
        // The first level after fewer than three trailing ones cannot be +-1, so its code is shifted down.
        if (i == trailingOnes && trailingOnes < 3) levelCode -= 2;
        writeLevel(out, levelCode, suffixLength);
        if (suffixLength == 0) suffixLength = 1;
        if (std::abs(level) > (3 << (suffixLength - 1)) && suffixLength < 6) ++suffixLength;
    }

    int zerosLeft = last + 1 - total;
    if (total < count) {
        put(out, count == 4 ? chromaDcTotalZerosCode(total, zerosLeft) : totalZerosCode(total, zerosLeft));
    }
    for (int i = 0; i < total - 1 && zerosLeft > 0; ++i) {
        put(out, runBeforeCode(zerosLeft, runs[i]));
        zerosLeft -= runs[i];
    }
    return total;
}

}  // namespace zv::h264
