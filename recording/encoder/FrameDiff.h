#pragma once
#include <cstdint>
#include <vector>

#include "ColorConvert.h"

namespace zv::h264 {

// Marks macroblocks whose pixels differ from `previous` (same layout as the frame, the unused byte ignored)
// with changed[mb] = 1 and copies those macroblocks into `previous`. Entries already set stay set.
void detectChangedMacroblocks(const BgraFrame& frame, std::vector<uint8_t>& previous, int mbWidth, int mbHeight,
                              std::vector<uint8_t>& changed);

}  // namespace zv::h264
