#pragma once
// What a sound library call said, kept so the recorder can log it and a test can see it.
#include <string>

namespace zv::audio {

struct AudioResult {
    const char* failedStep = nullptr;  // the call that failed; null while all is well
    int error = 0;                     // FFmpeg's (negative) error code
    bool ok() const { return failedStep == nullptr; }
    std::string message() const;  // "step: library's text", or "" when ok
};

// Turns a library return code into a result: negative codes are failures of `step`.
AudioResult checked(int code, const char* step);

}  // namespace zv::audio

// Early return of the first failed step, as for platform results.
#define ZV_RETURN_IF_AUDIO_FAILED(expr)              \
    do {                                             \
        const ::zv::audio::AudioResult zvResult_ = (expr); \
        if (!zvResult_.ok()) return zvResult_;       \
    } while (0)
