#pragma once
// For tests: what the encoder itself reconstructed, which any conforming decoder must reproduce exactly.
#include "H264Encoder.h"
#include "Picture.h"

namespace zv::h264 {

// The reconstruction of the last encoded frame at coded size (whole macroblocks); null before the first frame.
const YuvPicture* lastReconstruction(const H264Encoder& encoder);

}  // namespace zv::h264
