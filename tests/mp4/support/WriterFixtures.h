#pragma once
// Frames for the writer tests, and the encoder set-up that differs between the real encoder
// and the canned stand-in (ZV_FAKE_ENCODER).
#include <cstdint>
#include <vector>

namespace mp4test {

// Bottom-up BGRx picture with a moving gradient; bytes 0..3 hold `tag`, the last 4 bytes ~tag.
std::vector<uint8_t> syntheticFrame(int width, int height, uint32_t tag);

// Makes the next writer's encoder produce pictures of this size.
void prepareEncoder(int width, int height);

}  // namespace mp4test
