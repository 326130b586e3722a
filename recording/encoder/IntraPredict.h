#pragma once
#include <cstdint>

namespace zv::h264 {

// Intra prediction modes as coded in the stream.
enum LumaIntraMode : int { kLumaVertical = 0, kLumaHorizontal = 1, kLumaDc = 2, kLumaPlane = 3 };
enum ChromaIntraMode : int { kChromaDc = 0, kChromaHorizontal = 1, kChromaVertical = 2, kChromaPlane = 3 };

// `plane` points at the macroblock's top-left sample in the reconstructed picture; neighbours are read above
// and to the left of it when available (plane needs both and the corner). Output is a packed 16x16 / 8x8 block.
void predictLuma16x16(const uint8_t* plane, int stride, bool leftAvailable, bool topAvailable, int mode,
                      uint8_t prediction[256]);
void predictChroma8x8(const uint8_t* plane, int stride, bool leftAvailable, bool topAvailable, int mode,
                      uint8_t prediction[64]);

}  // namespace zv::h264
