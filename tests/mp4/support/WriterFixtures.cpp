#include "WriterFixtures.h"

#include <cstring>

#ifdef ZV_FAKE_ENCODER
#include "H264Encoder.h"
#include "TestStreams.h"
#endif

namespace mp4test {

std::vector<uint8_t> syntheticFrame(int width, int height, uint32_t tag) {
    std::vector<uint8_t> frame(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &frame[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x * 4 + tag * 3);
            p[1] = uint8_t(y * 4 + tag);
            p[2] = uint8_t((x + y) * 2);
            p[3] = 0;
        }
    }
    const uint32_t inverse = ~tag;
    std::memcpy(frame.data(), &tag, 4);
    std::memcpy(frame.data() + frame.size() - 4, &inverse, 4);
    return frame;
}

void prepareEncoder([[maybe_unused]] int width, [[maybe_unused]] int height) {
#ifdef ZV_FAKE_ENCODER
    fake_encoder::reset();
    fake_encoder::useStream(&testStream(width, height, 60, 30));
#endif
}

}  // namespace mp4test
