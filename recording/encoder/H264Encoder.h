#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace zv::h264 {

struct H264EncoderConfig {
    int width = 0, height = 0;                    // even, >= 16; not necessarily multiples of 16 (use frame cropping)
    uint32_t bitrate = 0;                         // target bits per second (average); required
    int64_t frameDuration100ns = 0;               // nominal spacing of frames, the frame rate; required
    int64_t keyFrameInterval100ns = 20'000'000;  // an IDR at least this often (2 s), by timestamp
};

struct EncodedFrame {
    std::vector<uint8_t> data;  // the access unit as 4-byte big-endian length-prefixed NAL units (MP4 "avcC" style,
                                // no start codes, no SPS/PPS inside: those go to avcC)
    bool keyFrame = false;      // IDR
};

struct H264EncoderState;
struct YuvPicture;

// Constrained Baseline H.264 from bottom-up BGRA frames. Single-threaded; one access unit per frame (an
// unchanged frame gives a P frame of a few bytes). An invalid encoder, or a null frame, gives empty data.
class H264Encoder {
public:
    explicit H264Encoder(const H264EncoderConfig& config);
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    bool valid() const;                       // false for unusable configs (odd/too small/too large sizes)
    const std::vector<uint8_t>& sps() const;  // NAL incl. its 1-byte header, no start code/length
    const std::vector<uint8_t>& pps() const;
    uint8_t profileIdc() const;
    uint8_t constraintFlags() const;
    uint8_t levelIdc() const;

    // One frame: rows bottom-up (first row in memory is the bottom row), width*4 bytes per row, bytes B,G,R,unused.
    // time100ns = the frame's presentation time (irregular spacing; gaps of seconds possible), increasing.
    void encode(const uint8_t* bgraBottomUp, int64_t time100ns, EncodedFrame& out);

private:
    friend const YuvPicture* lastReconstruction(const H264Encoder& encoder);
    std::unique_ptr<H264EncoderState> state_;
};

}  // namespace zv::h264
