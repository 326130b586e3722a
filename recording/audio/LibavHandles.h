#pragma once
// Owners for the FFmpeg objects the sound adapters hold, each freed by the library's own function.
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace zv::audio {

struct LibavFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
    void operator()(AVFrame* p) const { av_frame_free(&p); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(SwrContext* p) const { swr_free(&p); }
};

template <typename T>
using LibavRef = std::unique_ptr<T, LibavFree>;

}  // namespace zv::audio
