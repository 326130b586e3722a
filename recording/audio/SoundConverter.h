#pragma once
// Any shared-mode capture format to what the encoder takes: 48 kHz stereo 16-bit, through
// libswresample. A mono source goes to both channels at full level; more channels are mixed down.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AudioResult.h"
#include "LibavHandles.h"

namespace zv::audio {

enum class SampleFormat { Float32, Int16, Int24In32, Int32 };

struct SoundFormat {
    int rate = 0;      // frames per second
    int channels = 0;  // 1..8, interleaved
    SampleFormat format = SampleFormat::Float32;
};

class SoundConverter {
public:
    AudioResult open(const SoundFormat& from);
    bool isOpen() const { return context_ != nullptr; }

    // Appends the converted frames (interleaved stereo) to `out`.
    AudioResult convert(const void* interleaved, size_t frames, std::vector<int16_t>& out);
    // Stretches or shrinks the output by sampleDelta frames spread over the next `distance`
    // output frames, to follow a device clock that runs off the system's.
    AudioResult setCompensation(int sampleDelta, int distance);
    // What the resampler still holds at the end: appends its last frames to `out`.
    AudioResult flush(std::vector<int16_t>& out);
    // Output frames produced since open.
    int64_t framesProduced() const { return produced_; }
    // Output frames the input given so far still owes (the resampler's filter holds them back).
    int64_t framesHeld() const;

private:
    AudioResult run(const void* interleaved, int frames, std::vector<int16_t>& out);  // null: drain
    LibavRef<SwrContext> context_;
    int bytesPerFrame_ = 0;
    int64_t produced_ = 0;
};

}  // namespace zv::audio
