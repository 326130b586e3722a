#pragma once
#include <cstdint>
#include <vector>

#include "Motion.h"
#include "Picture.h"

namespace zv::h264 {

class BitWriter;

enum class MacroblockKind : uint8_t { Skip, Inter, Intra };

// What neighbouring macroblocks need to know about one already coded.
struct MacroblockInfo {
    MacroblockKind kind = MacroblockKind::Intra;
    MotionVector mv;
    uint8_t lumaCoeffs[16] = {};      // TotalCoeff per 4x4 block, raster order
    uint8_t chromaCoeffs[2][4] = {};  // Cb, Cr AC blocks
};

struct FrameCoding {
    const YuvPicture* source = nullptr;
    const YuvPicture* reference = nullptr;  // null for IDR pictures
    YuvPicture* recon = nullptr;
    MacroblockInfo* macroblocks = nullptr;
    int mbWidth = 0, mbHeight = 0;
    int qp = 26;
    int lambda = 4;  // weighs bits against SAD in decisions
    BitWriter* bits = nullptr;
    int skipRun = 0;  // skipped macroblocks not yet announced by mb_skip_run
    bool pSlice = false;
};

MotionVector predictMotionVector(const FrameCoding& frame, int mbX, int mbY);
MotionVector predictSkipMotionVector(const FrameCoding& frame, int mbX, int mbY);

// Each call codes one macroblock in raster order into frame.bits and its reconstruction into frame.recon.
// Returns true when the reconstruction is an exact copy of the reference at the same place.
bool encodeSkipMacroblock(FrameCoding& frame, int mbX, int mbY, bool reconAlreadyMatches);
bool encodeZeroMotionMacroblock(FrameCoding& frame, int mbX, int mbY, bool reconAlreadyMatches);
// Inter with the given integer vector; may turn into a skip when nothing is left to code.
bool encodeInterMacroblock(FrameCoding& frame, int mbX, int mbY, MotionVector mv);
void encodeIntraMacroblock(FrameCoding& frame, int mbX, int mbY);
// Cost of the best 16x16 intra mode (SAD plus a mode bias), for the inter/intra choice.
int intraCost(const FrameCoding& frame, int mbX, int mbY);

}  // namespace zv::h264
