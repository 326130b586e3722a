#include "SoundConverter.h"

extern "C" {
#include <libavutil/opt.h>
}

#include "AacEncoder.h"

#include <algorithm>

namespace zv::audio {
namespace {

// WASAPI's 24-bit samples sit in the upper bits of a 32-bit container, so they read as 32-bit ones.
AVSampleFormat libavFormat(SampleFormat format) {
    switch (format) {
        case SampleFormat::Float32: return AV_SAMPLE_FMT_FLT;
        case SampleFormat::Int16: return AV_SAMPLE_FMT_S16;
        case SampleFormat::Int24In32:
        case SampleFormat::Int32: return AV_SAMPLE_FMT_S32;
    }
    return AV_SAMPLE_FMT_NONE;
}

}  // namespace

AudioResult SoundConverter::open(const SoundFormat& from) {
    context_.reset();
    produced_ = 0;
    const AVSampleFormat format = libavFormat(from.format);
    if (from.rate <= 0 || from.channels < 1 || from.channels > 8 || format == AV_SAMPLE_FMT_NONE)
        return {"SoundConverter::open: unsupported format", AVERROR(EINVAL)};
    AVChannelLayout in{}, out{};
    av_channel_layout_default(&in, from.channels);
    av_channel_layout_default(&out, kChannels);
    SwrContext* raw = nullptr;
    const int allocated = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_S16, kSampleRate, &in, format, from.rate, 0, nullptr);
    LibavRef<SwrContext> context(raw);
    if (allocated < 0) return checked(allocated, "swr_alloc_set_opts2");
    // Resampling always on, so drift compensation works from the first call also at 48 kHz.
    if (const int code = av_opt_set_int(context.get(), "swr_flags", SWR_FLAG_RESAMPLE, 0); code < 0)
        return checked(code, "av_opt_set_int(swr_flags)");
    if (from.channels == 1) {
        // The default mix puts mono at -3 dB on each side; a microphone should keep its level.
        const double bothSides[2] = {1.0, 1.0};
        if (const int code = swr_set_matrix(context.get(), bothSides, 1); code < 0) return checked(code, "swr_set_matrix");
    }
    if (const int code = swr_init(context.get()); code < 0) return checked(code, "swr_init");
    bytesPerFrame_ = av_get_bytes_per_sample(format) * from.channels;
    context_ = std::move(context);
    return {};
}

AudioResult SoundConverter::convert(const void* interleaved, size_t frames, std::vector<int16_t>& out) {
    if (!context_) return {"SoundConverter::convert: not open", AVERROR(EINVAL)};
    if (frames == 0) return {};  // a null input would mean "drain" to the library
    if (frames > size_t(INT32_MAX / bytesPerFrame_)) return {"SoundConverter::convert: too many frames", AVERROR(EINVAL)};
    return run(interleaved, int(frames), out);
}

AudioResult SoundConverter::flush(std::vector<int16_t>& out) {
    if (!context_) return {"SoundConverter::flush: not open", AVERROR(EINVAL)};
    return run(nullptr, 0, out);
}

int64_t SoundConverter::framesHeld() const {
    return context_ ? std::max<int64_t>(0, swr_get_delay(context_.get(), kSampleRate)) : 0;
}

AudioResult SoundConverter::run(const void* interleaved, int frames, std::vector<int16_t>& out) {
    const int room = swr_get_out_samples(context_.get(), frames);
    if (room < 0) return checked(room, "swr_get_out_samples");
    const size_t before = out.size();
    out.resize(before + size_t(room) * kChannels);
    uint8_t* outPlane = reinterpret_cast<uint8_t*>(out.data() + before);
    const uint8_t* inPlane = static_cast<const uint8_t*>(interleaved);
    const int made = swr_convert(context_.get(), &outPlane, room, interleaved ? &inPlane : nullptr, frames);
    out.resize(before + size_t(made > 0 ? made : 0) * kChannels);
    if (made < 0) return checked(made, "swr_convert");
    produced_ += made;
    return {};
}

AudioResult SoundConverter::setCompensation(int sampleDelta, int distance) {
    if (!context_) return {"SoundConverter::setCompensation: not open", AVERROR(EINVAL)};
    return checked(swr_set_compensation(context_.get(), sampleDelta, distance), "swr_set_compensation");
}

}  // namespace zv::audio
