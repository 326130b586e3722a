#include "AudioResult.h"

extern "C" {
#include <libavutil/error.h>
}

namespace zv::audio {

AudioResult checked(int code, const char* step) { return code < 0 ? AudioResult{step, code} : AudioResult{}; }

std::string AudioResult::message() const {
    if (ok()) return {};
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return std::string(failedStep) + ": " + text;
}

}  // namespace zv::audio
