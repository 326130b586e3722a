#pragma once
// Stand-in for the real encoder with the same interface, so the writer's threading, queue and
// file handling can be tested on their own: it hands out pictures from a canned H.264 stream
// in turn, and records what it was given.
#include <cstdint>
#include <vector>

#include "TestStreams.h"

struct H264EncoderConfig {
    int width = 0, height = 0;
    uint32_t bitrate = 4'000'000;
    int64_t keyFrameInterval100ns = 20'000'000;
};

struct EncodedFrame {
    std::vector<uint8_t> data;
    bool keyFrame = false;
};

class H264Encoder {
public:
    explicit H264Encoder(const H264EncoderConfig& config);
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    bool valid() const { return valid_; }
    const std::vector<uint8_t>& sps() const;
    const std::vector<uint8_t>& pps() const;
    uint8_t profileIdc() const { return sps()[1]; }
    uint8_t constraintFlags() const { return sps()[2]; }
    uint8_t levelIdc() const { return sps()[3]; }

    void encode(const uint8_t* bgraBottomUp, int64_t time100ns, EncodedFrame& out);

private:
    bool valid_ = false;
    size_t next_ = 0;
    size_t frameBytes_ = 0;
};

namespace fake_encoder {

// The stream the next encoders serve from; must outlive them.
void useStream(const mp4test::TestH264Stream* stream);
// While held, encode() waits (at most 60 s) before returning.
void hold(bool held);
void reset();

struct Call {
    int64_t time100ns = 0;
    uint32_t firstPixel = 0;  // bytes 0..3 of the frame, little-endian: the tests' frame tag
    uint32_t lastPixel = 0;
};
std::vector<Call> calls();
// Blocks (at most timeoutMs) until encode() has been entered `count` times.
bool waitForCalls(size_t count, int timeoutMs);

}  // namespace fake_encoder
