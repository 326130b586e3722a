#pragma once
// The video every recording is written as, for the writer set-up, the grabber and the worker.
#include <cstdint>

constexpr uint32_t kFramesPerSecond = 30;
constexpr int64_t kFrameDuration100ns = 10'000'000 / kFramesPerSecond;  // 333,333: 1/30 s, rounded down
constexpr int64_t kFrameGridMs = 1000 / kFramesPerSecond;               // 33 ms between grabs
constexpr uint32_t kTargetBitrate = 4'000'000;                          // average bits per second

// The sound of a recording with a source: AAC-LC from 16-bit PCM, 48 kHz stereo.
constexpr uint32_t kSoundRate = 48'000;
constexpr uint32_t kSoundChannels = 2;
constexpr uint32_t kSoundBytesPerSecond = 20'000;  // 160 kbit/s of AAC
