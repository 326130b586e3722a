#include "AacEncoder.h"

#include <algorithm>

extern "C" {
#include <libavutil/log.h>
}

namespace zv::audio {

AudioResult AacEncoder::open() {
    context_.reset();
    held_ = 0;
    framesSent_ = 0;
    av_log_set_level(AV_LOG_ERROR);  // the encoder's statistics would otherwise go to stderr
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) return {"avcodec_find_encoder(aac)", AVERROR_ENCODER_NOT_FOUND};
    LibavRef<AVCodecContext> context(avcodec_alloc_context3(codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!context || !frame_ || !packet_) return {"allocating the encoder", AVERROR(ENOMEM)};
    context->profile = FF_PROFILE_AAC_LOW;
    context->sample_rate = kSampleRate;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;  // the only input the native AAC encoder takes
    context->bit_rate = kAacBitrate;
    context->time_base = AVRational{1, kSampleRate};
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // the decoder configuration goes into the MP4 index
    av_channel_layout_default(&context->ch_layout, kChannels);
    ZV_RETURN_IF_AUDIO_FAILED(checked(avcodec_open2(context.get(), codec, nullptr), "avcodec_open2(aac)"));
    if (context->frame_size != kAacFrames || context->extradata_size <= 0)
        return {"avcodec_open2(aac): unexpected frame size or no decoder configuration", AVERROR_BUG};

    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->nb_samples = kAacFrames;
    frame_->sample_rate = kSampleRate;
    ZV_RETURN_IF_AUDIO_FAILED(checked(av_channel_layout_copy(&frame_->ch_layout, &context->ch_layout), "av_channel_layout_copy"));
    ZV_RETURN_IF_AUDIO_FAILED(checked(av_frame_get_buffer(frame_.get(), 0), "av_frame_get_buffer"));
    context_ = std::move(context);
    return {};
}

std::vector<uint8_t> AacEncoder::audioSpecificConfig() const {
    if (!context_) return {};
    return std::vector<uint8_t>(context_->extradata, context_->extradata + context_->extradata_size);
}

int AacEncoder::primingFrames() const { return context_ ? context_->initial_padding : 0; }

AudioResult AacEncoder::encode(const int16_t* interleavedStereo, size_t frames, AacPackets& packets) {
    if (!context_) return {"AacEncoder::encode: not open", AVERROR(EINVAL)};
    while (frames > 0) {
        // The encoder may still hold a reference to the last frame it was sent.
        ZV_RETURN_IF_AUDIO_FAILED(checked(av_frame_make_writable(frame_.get()), "av_frame_make_writable"));
        const int take = int(std::min<size_t>(frames, size_t(kAacFrames - held_)));
        float* left = reinterpret_cast<float*>(frame_->data[0]) + held_;
        float* right = reinterpret_cast<float*>(frame_->data[1]) + held_;
        for (int i = 0; i < take; ++i) {
            left[i] = interleavedStereo[2 * i] / 32768.0f;
            right[i] = interleavedStereo[2 * i + 1] / 32768.0f;
        }
        interleavedStereo += 2 * take;
        frames -= size_t(take);
        held_ += take;
        if (held_ == kAacFrames) ZV_RETURN_IF_AUDIO_FAILED(sendHeldFrame(packets));
    }
    return {};
}

AudioResult AacEncoder::finish(AacPackets& packets) {
    if (!context_) return {"AacEncoder::finish: not open", AVERROR(EINVAL)};
    if (held_ > 0) {
        ZV_RETURN_IF_AUDIO_FAILED(checked(av_frame_make_writable(frame_.get()), "av_frame_make_writable"));
        for (int channel = 0; channel < kChannels; ++channel)
            std::fill_n(reinterpret_cast<float*>(frame_->data[channel]) + held_, kAacFrames - held_, 0.0f);
        ZV_RETURN_IF_AUDIO_FAILED(sendHeldFrame(packets));
    }
    ZV_RETURN_IF_AUDIO_FAILED(checked(avcodec_send_frame(context_.get(), nullptr), "avcodec_send_frame(end)"));
    const AudioResult drained = receivePackets(packets);
    context_.reset();
    return drained;
}

AudioResult AacEncoder::sendHeldFrame(AacPackets& packets) {
    frame_->pts = framesSent_;
    ZV_RETURN_IF_AUDIO_FAILED(checked(avcodec_send_frame(context_.get(), frame_.get()), "avcodec_send_frame"));
    framesSent_ += kAacFrames;
    held_ = 0;
    return receivePackets(packets);
}

AudioResult AacEncoder::receivePackets(AacPackets& packets) {
    for (;;) {
        const int code = avcodec_receive_packet(context_.get(), packet_.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return {};
        ZV_RETURN_IF_AUDIO_FAILED(checked(code, "avcodec_receive_packet"));
        packets.emplace_back(packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_.get());
    }
}

}  // namespace zv::audio
