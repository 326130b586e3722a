#include "MacroblockEncoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>

#include "BitWriter.h"
#include "Cavlc.h"
#include "CavlcTables.h"
#include "IntraPredict.h"
#include "Transform.h"

namespace zv::h264 {

namespace {

// Coding order of the 16 luma blocks (8x8 quadrants, then 4x4 inside each) as raster positions.
constexpr uint8_t kBlockX[16] = {0, 1, 0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3};
constexpr uint8_t kBlockY[16] = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};

struct LumaResidual {
    int16_t levels[16][16];  // per raster block, scan order
    int16_t dcLevels[16];    // intra 16x16 only
    int cbp = 0;
};

struct ChromaResidual {
    int16_t dcLevels[2][4];
    int16_t levels[2][4][16];  // AC in scan positions 1..15
    int cbp = 0;               // 0 nothing, 1 DC only, 2 AC too
};

struct MacroblockPlanes {
    const uint8_t *srcY, *srcU, *srcV;
    uint8_t *dstY, *dstU, *dstV;
    int strideY, strideC;
};

MacroblockPlanes planesOf(const FrameCoding& f, int mbX, int mbY) {
    const int sc = f.source->chromaStride();
    const size_t chromaOffset = size_t(mbY) * 8 * sc + mbX * 8;
    return {f.source->lumaAt(mbX * 16, mbY * 16), f.source->u.data() + chromaOffset, f.source->v.data() + chromaOffset,
            f.recon->lumaAt(mbX * 16, mbY * 16),  f.recon->u.data() + chromaOffset,  f.recon->v.data() + chromaOffset,
            f.source->width, sc};
}

MacroblockInfo& infoAt(const FrameCoding& f, int mbX, int mbY) { return f.macroblocks[mbY * f.mbWidth + mbX]; }

int averageNc(int sum, int count) { return count == 2 ? (sum + 1) >> 1 : sum; }

int lumaNc(const FrameCoding& f, int mbX, int mbY, const uint8_t* current, int bx, int by) {
    int sum = 0, count = 0;
    if (bx > 0) sum += current[by * 4 + bx - 1], ++count;
    else if (mbX > 0) sum += infoAt(f, mbX - 1, mbY).lumaCoeffs[by * 4 + 3], ++count;
    if (by > 0) sum += current[(by - 1) * 4 + bx], ++count;
    else if (mbY > 0) sum += infoAt(f, mbX, mbY - 1).lumaCoeffs[12 + bx], ++count;
    return averageNc(sum, count);
}

int chromaNc(const FrameCoding& f, int mbX, int mbY, int plane, const uint8_t* current, int bx, int by) {
    int sum = 0, count = 0;
    if (bx > 0) sum += current[by * 2], ++count;
    else if (mbX > 0) sum += infoAt(f, mbX - 1, mbY).chromaCoeffs[plane][by * 2 + 1], ++count;
    if (by > 0) sum += current[bx], ++count;
    else if (mbY > 0) sum += infoAt(f, mbX, mbY - 1).chromaCoeffs[plane][2 + bx], ++count;
    return averageNc(sum, count);
}

// Cost of keeping a block of small levels; a few isolated +-1 cost more bits than they return in quality.
int decimationScore(const int16_t* levels, int count) {
    static constexpr int kRunScore[16] = {3, 2, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    int score = 0, run = 0;
    for (int i = 0; i < count; ++i) {
        if (levels[i] == 0) {
            ++run;
            continue;
        }
        if (std::abs(levels[i]) > 1) return 64;
        score += kRunScore[run];
        run = 0;
    }
    return score;
}

void encodeChromaResidual(const FrameCoding& f, const MacroblockPlanes& p, const uint8_t* predU, const uint8_t* predV,
                          bool intra, ChromaResidual& r) {
    const int qpc = chromaQp(f.qp);
    bool anyDc = false, anyAc = false;
    int acScore = 0;
    if (sad8x8(p.srcU, p.strideC, predU, 8) == 0 && sad8x8(p.srcV, p.strideC, predV, 8) == 0) {
        r = ChromaResidual{};  // exact prediction, common on flat screen areas
        return;
    }
    for (int plane = 0; plane < 2; ++plane) {
        const uint8_t* src = plane == 0 ? p.srcU : p.srcV;
        const uint8_t* pred = plane == 0 ? predU : predV;
        int16_t dc[4];
        for (int b = 0; b < 4; ++b) {
            const int bx = b & 1, by = b >> 1;
            int16_t coefficients[16];
            forwardTransform4x4(src + by * 4 * p.strideC + bx * 4, p.strideC, pred + by * 32 + bx * 4, 8, coefficients);
            dc[b] = coefficients[0];
            if (quantize4x4(coefficients, qpc, intra, 1, r.levels[plane][b]) > 0) {
                anyAc = true;
                acScore += decimationScore(r.levels[plane][b] + 1, 15);
            }
        }
        anyDc |= quantizeChromaDc(dc, qpc, intra, r.dcLevels[plane]) > 0;
    }
    // Chroma errors are hard to see; a handful of +-1 AC levels in an inter block is not worth their bits.
    if (anyAc && !intra && acScore < 7) {
        anyAc = false;
        std::memset(r.levels, 0, sizeof r.levels);
    }
    r.cbp = anyAc ? 2 : anyDc ? 1 : 0;
}

void copyBlock(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int size) {
    for (int y = 0; y < size; ++y) std::memcpy(dst + y * dstStride, src + y * srcStride, size);
}

void reconstructChroma(const FrameCoding& f, const MacroblockPlanes& p, const uint8_t* predU, const uint8_t* predV,
                       const ChromaResidual& r) {
    if (r.cbp == 0) {
        copyBlock(predU, 8, p.dstU, p.strideC, 8);
        copyBlock(predV, 8, p.dstV, p.strideC, 8);
        return;
    }
    const int qpc = chromaQp(f.qp);
    for (int plane = 0; plane < 2; ++plane) {
        const uint8_t* pred = plane == 0 ? predU : predV;
        uint8_t* dst = plane == 0 ? p.dstU : p.dstV;
        int32_t dc[4] = {};
        if (r.cbp > 0) dequantizeChromaDc(r.dcLevels[plane], qpc, dc);
        for (int b = 0; b < 4; ++b) {
            const int bx = b & 1, by = b >> 1;
            int32_t coefficients[16] = {};
            if (r.cbp == 2) dequantize4x4(r.levels[plane][b], qpc, 1, coefficients);
            coefficients[0] = dc[b];
            inverseTransformAdd4x4(coefficients, pred + by * 32 + bx * 4, 8, dst + by * 4 * p.strideC + bx * 4, p.strideC);
        }
    }
}

void setChromaCoeffCounts(MacroblockInfo& info, const ChromaResidual& r) {
    for (int plane = 0; plane < 2; ++plane)
        for (int b = 0; b < 4; ++b) {
            int count = 0;
            if (r.cbp == 2)
                for (int k = 1; k < 16; ++k) count += r.levels[plane][b][k] != 0;
            info.chromaCoeffs[plane][b] = uint8_t(count);
        }
}

void writeChroma(FrameCoding& f, int mbX, int mbY, const ChromaResidual& r) {
    if (r.cbp == 0) return;
    for (int plane = 0; plane < 2; ++plane) writeResidualBlock(*f.bits, r.dcLevels[plane], 4, -1);
    if (r.cbp < 2) return;
    const MacroblockInfo& info = infoAt(f, mbX, mbY);
    for (int plane = 0; plane < 2; ++plane)
        for (int b = 0; b < 4; ++b)
            writeResidualBlock(*f.bits, r.levels[plane][b] + 1, 15,
                               chromaNc(f, mbX, mbY, plane, info.chromaCoeffs[plane], b & 1, b >> 1));
}

void copyReference(const FrameCoding& f, int mbX, int mbY, MotionVector mv) {
    const MacroblockPlanes p = planesOf(f, mbX, mbY);
    alignas(16) uint8_t luma[256], cb[64], cr[64];
    predictInter(*f.reference, mbX, mbY, mv, luma, cb, cr);
    copyBlock(luma, 16, p.dstY, p.strideY, 16);
    copyBlock(cb, 8, p.dstU, p.strideC, 8);
    copyBlock(cr, 8, p.dstV, p.strideC, 8);
}

// Skipped macroblocks are only counted; the count goes out in front of the next coded one (or at slice end).
void flushSkipRun(FrameCoding& f) {
    if (f.pSlice) f.bits->putUe(uint32_t(f.skipRun));
    f.skipRun = 0;
}

struct NeighbourMotion {
    bool available = false;
    int refIdx = -1;
    MotionVector mv;
};

NeighbourMotion neighbourMotion(const FrameCoding& f, int mbX, int mbY) {
    NeighbourMotion n;
    if (mbX < 0 || mbY < 0 || mbX >= f.mbWidth) return n;
    n.available = true;
    const MacroblockInfo& info = infoAt(f, mbX, mbY);
    if (info.kind != MacroblockKind::Intra) {
        n.refIdx = 0;
        n.mv = info.mv;
    }
    return n;
}

int median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

int bestLumaMode(int mbX, int mbY, const MacroblockPlanes& p, uint8_t prediction[256], int& cost) {
    cost = 1 << 30;
    int best = kLumaDc;
    alignas(16) uint8_t candidate[256];
    for (int mode : {kLumaDc, kLumaVertical, kLumaHorizontal, kLumaPlane}) {
        if ((mode != kLumaDc && mode != kLumaHorizontal && mbY == 0) || (mode != kLumaDc && mode != kLumaVertical && mbX == 0))
            continue;
        predictLuma16x16(p.dstY, p.strideY, mbX > 0, mbY > 0, mode, candidate);
        const int sad = sad16x16(p.srcY, p.strideY, candidate, 16);
        if (sad < cost) {
            cost = sad;
            best = mode;
            std::memcpy(prediction, candidate, 256);
        }
    }
    return best;
}

}  // namespace

MotionVector predictMotionVector(const FrameCoding& f, int mbX, int mbY) {
    const NeighbourMotion a = neighbourMotion(f, mbX - 1, mbY);
    NeighbourMotion b = neighbourMotion(f, mbX, mbY - 1);
    NeighbourMotion c = neighbourMotion(f, mbX + 1, mbY - 1);
    if (!c.available) c = neighbourMotion(f, mbX - 1, mbY - 1);
    if (!b.available && !c.available && a.available) b = c = a;
    const int matches = (a.refIdx == 0) + (b.refIdx == 0) + (c.refIdx == 0);
    if (matches == 1) return a.refIdx == 0 ? a.mv : b.refIdx == 0 ? b.mv : c.mv;
    return {int16_t(median(a.mv.x, b.mv.x, c.mv.x)), int16_t(median(a.mv.y, b.mv.y, c.mv.y))};
}

MotionVector predictSkipMotionVector(const FrameCoding& f, int mbX, int mbY) {
    if (mbX == 0 || mbY == 0) return {};
    const MacroblockInfo& a = infoAt(f, mbX - 1, mbY);
    const MacroblockInfo& b = infoAt(f, mbX, mbY - 1);
    const MotionVector zero;
    if ((a.kind != MacroblockKind::Intra && a.mv == zero) || (b.kind != MacroblockKind::Intra && b.mv == zero)) return {};
    return predictMotionVector(f, mbX, mbY);
}

bool encodeSkipMacroblock(FrameCoding& f, int mbX, int mbY, bool reconAlreadyMatches) {
    MacroblockInfo& info = infoAt(f, mbX, mbY);
    const MotionVector mv = predictSkipMotionVector(f, mbX, mbY);
    info = MacroblockInfo{};
    info.kind = MacroblockKind::Skip;
    info.mv = mv;
    ++f.skipRun;
    const bool zero = mv == MotionVector{};
    if (!(zero && reconAlreadyMatches)) copyReference(f, mbX, mbY, mv);
    return zero;
}

bool encodeZeroMotionMacroblock(FrameCoding& f, int mbX, int mbY, bool reconAlreadyMatches) {
    const MotionVector predicted = predictMotionVector(f, mbX, mbY);
    flushSkipRun(f);
    f.bits->putUe(0);  // P_L0_16x16
    f.bits->putSe(-predicted.x);
    f.bits->putSe(-predicted.y);
    f.bits->putUe(uint32_t(interCbpCodeNum(0)));
    MacroblockInfo& info = infoAt(f, mbX, mbY);
    info = MacroblockInfo{};
    info.kind = MacroblockKind::Inter;
    if (!reconAlreadyMatches) copyReference(f, mbX, mbY, {});
    return true;
}

bool encodeInterMacroblock(FrameCoding& f, int mbX, int mbY, MotionVector mv) {
    const MacroblockPlanes p = planesOf(f, mbX, mbY);
    alignas(16) uint8_t predY[256], predU[64], predV[64];
    predictInter(*f.reference, mbX, mbY, mv, predY, predU, predV);

    LumaResidual luma;
    int counts[16] = {};
    int blockScore[4] = {};
    const bool exact = sad16x16(p.srcY, p.strideY, predY, 16) == 0;
    if (exact) std::memset(luma.levels, 0, sizeof luma.levels);
    for (int r = 0; r < 16 && !exact; ++r) {
        const int bx = r & 3, by = r >> 2;
        int16_t coefficients[16];
        forwardTransform4x4(p.srcY + by * 4 * p.strideY + bx * 4, p.strideY, predY + by * 64 + bx * 4, 16, coefficients);
        counts[r] = quantize4x4(coefficients, f.qp, false, 0, luma.levels[r]);
        if (counts[r]) blockScore[(by >> 1) * 2 + (bx >> 1)] += decimationScore(luma.levels[r], 16);
    }
    int totalScore = 0;
    for (int q = 0; q < 4; ++q) {
        // Same idea per 8x8 and for the whole macroblock: sparse +-1 levels cost more than they repair.
        if (blockScore[q] < 4) blockScore[q] = 0;
        totalScore += blockScore[q];
    }
    for (int r = 0; r < 16; ++r) {
        const int quadrant = ((r >> 2) >> 1) * 2 + ((r & 3) >> 1);
        if (blockScore[quadrant] == 0 || totalScore < 6) {
            counts[r] = 0;
            std::memset(luma.levels[r], 0, sizeof luma.levels[r]);
        }
        if (counts[r]) luma.cbp |= 1 << quadrant;
    }
    ChromaResidual chroma;
    encodeChromaResidual(f, p, predU, predV, false, chroma);
    const int cbp = luma.cbp | chroma.cbp << 4;

    MacroblockInfo& info = infoAt(f, mbX, mbY);
    info = MacroblockInfo{};
    info.mv = mv;
    const MotionVector zero;
    // P_Skip only when the decoder's own skip vector is the one we used; otherwise say the vector explicitly.
    if (cbp == 0 && mv == predictSkipMotionVector(f, mbX, mbY)) {
        info.kind = MacroblockKind::Skip;
        ++f.skipRun;
    } else {
        info.kind = MacroblockKind::Inter;
        for (int r = 0; r < 16; ++r) info.lumaCoeffs[r] = uint8_t(counts[r]);
        setChromaCoeffCounts(info, chroma);
        const MotionVector predicted = predictMotionVector(f, mbX, mbY);
        flushSkipRun(f);
        f.bits->putUe(0);
        f.bits->putSe(mv.x - predicted.x);
        f.bits->putSe(mv.y - predicted.y);
        f.bits->putUe(uint32_t(interCbpCodeNum(cbp)));
        if (cbp != 0) {
            f.bits->putSe(0);  // mb_qp_delta
            for (int blk = 0; blk < 16; ++blk) {
                const int bx = kBlockX[blk], by = kBlockY[blk];
                if (!(luma.cbp & (1 << (blk >> 2)))) continue;
                writeResidualBlock(*f.bits, luma.levels[by * 4 + bx], 16, lumaNc(f, mbX, mbY, info.lumaCoeffs, bx, by));
            }
            writeChroma(f, mbX, mbY, chroma);
        }
    }

    for (int r = 0; r < 16; ++r) {
        const int bx = r & 3, by = r >> 2;
        const uint8_t* pred = predY + by * 64 + bx * 4;
        uint8_t* dst = p.dstY + by * 4 * p.strideY + bx * 4;
        if (counts[r] == 0) {
            for (int y = 0; y < 4; ++y) std::memcpy(dst + y * p.strideY, pred + y * 16, 4);
            continue;
        }
        int32_t coefficients[16];
        dequantize4x4(luma.levels[r], f.qp, 0, coefficients);
        inverseTransformAdd4x4(coefficients, pred, 16, dst, p.strideY);
    }
    reconstructChroma(f, p, predU, predV, chroma);
    return cbp == 0 && mv == zero;
}

int intraCost(const FrameCoding& f, int mbX, int mbY) {
    const MacroblockPlanes p = planesOf(f, mbX, mbY);
    alignas(16) uint8_t prediction[256];
    int cost = 0;
    bestLumaMode(mbX, mbY, p, prediction, cost);
    return cost;
}

void encodeIntraMacroblock(FrameCoding& f, int mbX, int mbY) {
    const MacroblockPlanes p = planesOf(f, mbX, mbY);
    alignas(16) uint8_t predY[256], predU[64], predV[64];
    int lumaCost = 0;
    const int lumaMode = bestLumaMode(mbX, mbY, p, predY, lumaCost);

    int chromaMode = kChromaDc, bestChromaCost = 1 << 30;
    for (int mode : {kChromaDc, kChromaHorizontal, kChromaVertical, kChromaPlane}) {
        if ((mode != kChromaDc && mode != kChromaHorizontal && mbY == 0) ||
            (mode != kChromaDc && mode != kChromaVertical && mbX == 0))
            continue;
        alignas(16) uint8_t u[64], v[64];
        predictChroma8x8(p.dstU, p.strideC, mbX > 0, mbY > 0, mode, u);
        predictChroma8x8(p.dstV, p.strideC, mbX > 0, mbY > 0, mode, v);
        const int cost = sad8x8(p.srcU, p.strideC, u, 8) + sad8x8(p.srcV, p.strideC, v, 8);
        if (cost < bestChromaCost) {
            bestChromaCost = cost;
            chromaMode = mode;
            std::memcpy(predU, u, 64);
            std::memcpy(predV, v, 64);
        }
    }

    LumaResidual luma;
    int16_t dc[16] = {};
    int acCounts[16] = {};
    bool anyAc = false;
    const bool exact = lumaCost == 0;
    if (exact) std::memset(luma.levels, 0, sizeof luma.levels);
    for (int r = 0; r < 16 && !exact; ++r) {
        const int bx = r & 3, by = r >> 2;
        int16_t coefficients[16];
        forwardTransform4x4(p.srcY + by * 4 * p.strideY + bx * 4, p.strideY, predY + by * 64 + bx * 4, 16, coefficients);
        dc[r] = coefficients[0];
        acCounts[r] = quantize4x4(coefficients, f.qp, true, 1, luma.levels[r]);
        anyAc |= acCounts[r] > 0;
    }
    quantizeLumaDc(dc, f.qp, luma.dcLevels);
    luma.cbp = anyAc ? 15 : 0;
    ChromaResidual chroma;
    encodeChromaResidual(f, p, predU, predV, true, chroma);

    MacroblockInfo& info = infoAt(f, mbX, mbY);
    info = MacroblockInfo{};
    info.kind = MacroblockKind::Intra;
    for (int r = 0; r < 16; ++r) info.lumaCoeffs[r] = uint8_t(anyAc ? acCounts[r] : 0);
    setChromaCoeffCounts(info, chroma);

    flushSkipRun(f);
    const int mbType = 1 + lumaMode + 4 * chroma.cbp + (anyAc ? 12 : 0);
    f.bits->putUe(uint32_t(f.pSlice ? 5 + mbType : mbType));
    f.bits->putUe(uint32_t(chromaMode));
    f.bits->putSe(0);  // mb_qp_delta
    writeResidualBlock(*f.bits, luma.dcLevels, 16, lumaNc(f, mbX, mbY, info.lumaCoeffs, 0, 0));
    if (anyAc) {
        for (int blk = 0; blk < 16; ++blk) {
            const int bx = kBlockX[blk], by = kBlockY[blk];
            writeResidualBlock(*f.bits, luma.levels[by * 4 + bx] + 1, 15, lumaNc(f, mbX, mbY, info.lumaCoeffs, bx, by));
        }
    }
    writeChroma(f, mbX, mbY, chroma);

    if (exact) {
        copyBlock(predY, 16, p.dstY, p.strideY, 16);
        reconstructChroma(f, p, predU, predV, chroma);
        return;
    }
    int32_t dcValues[16];
    dequantizeLumaDc(luma.dcLevels, f.qp, dcValues);
    for (int r = 0; r < 16; ++r) {
        const int bx = r & 3, by = r >> 2;
        int32_t coefficients[16] = {};
        if (anyAc) dequantize4x4(luma.levels[r], f.qp, 1, coefficients);
        coefficients[0] = dcValues[r];
        inverseTransformAdd4x4(coefficients, predY + by * 64 + bx * 4, 16, p.dstY + by * 4 * p.strideY + bx * 4, p.strideY);
    }
    reconstructChroma(f, p, predU, predV, chroma);
}

}  // namespace zv::h264
