#pragma once
// AAC-LC at 48 kHz stereo, 160 kbit/s, through FFmpeg's libavcodec: interleaved 16-bit PCM in,
// one packet per 1024 frames out, in order and back to back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AudioResult.h"
#include "LibavHandles.h"

namespace zv::audio {

constexpr int kSampleRate = 48'000;
constexpr int kChannels = 2;
constexpr int kAacBitrate = 160'000;
constexpr int kAacFrames = 1024;  // PCM frames per AAC packet

using AacPackets = std::vector<std::vector<uint8_t>>;

class AacEncoder {
public:
    AudioResult open();
    bool isOpen() const { return context_ != nullptr; }

    // The AudioSpecificConfig that the MP4 track's decoder configuration carries.
    std::vector<uint8_t> audioSpecificConfig() const;
    // Frames of encoder delay ahead of the first input frame in what a decoder puts out.
    int primingFrames() const;

    // Appends a packet to `packets` for every 1024 frames completed; keeps the rest for later.
    AudioResult encode(const int16_t* interleavedStereo, size_t frames, AacPackets& packets);
    // Encodes what is held, padded with silence, and drains the encoder. Closes it.
    AudioResult finish(AacPackets& packets);

private:
    AudioResult sendHeldFrame(AacPackets& packets);
    AudioResult receivePackets(AacPackets& packets);

    LibavRef<AVCodecContext> context_;
    LibavRef<AVFrame> frame_;
    LibavRef<AVPacket> packet_;
    int held_ = 0;  // frames in frame_ not yet sent
    int64_t framesSent_ = 0;
};

}  // namespace zv::audio
