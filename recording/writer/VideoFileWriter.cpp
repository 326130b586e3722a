#include "VideoFileWriter.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "FrameQueue.h"
#include "H264Encoder.h"
#include "Mp4Muxer.h"

using namespace zv::h264;

namespace {

uint64_t secondsSince1904() {
    constexpr int64_t kUnixEpochFrom1904 = 2'082'844'800;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return uint64_t(std::chrono::duration_cast<std::chrono::seconds>(now).count() + kUnixEpochFrom1904);
}

}  // namespace

struct VideoFileWriterState {
    VideoFileWriterState(const H264EncoderConfig& encoderConfig, size_t queueFrames)
        : encoder(encoderConfig), queue(queueFrames) {}

    H264Encoder encoder;
    zv::mp4::Mp4Muxer muxer;
    zv::mp4::FrameQueue queue;
    std::thread thread;
    std::atomic<bool> failed{false};
    size_t frameBytes = 0;
    bool hasFrames = false;
    int64_t lastTime100ns = 0;  // of the last frame accepted by writeFrame
};

namespace {

void encodeQueuedFrames(VideoFileWriterState& state) {
    zv::mp4::QueuedFrame frame;
    EncodedFrame encoded;
    while (state.queue.pop(frame)) {
        state.encoder.encode(frame.pixels.data(), frame.time100ns, encoded);
        if (encoded.data.empty()) continue;  // the encoder may drop a frame; the timeline simply skips it
        if (!state.muxer.writeSample(encoded.data.data(), encoded.data.size(), frame.time100ns, encoded.keyFrame) &&
            state.muxer.failed()) {
            state.failed = true;
            state.queue.close(true);  // unblocks the capture thread; nothing more can be written
        }
    }
}

}  // namespace

VideoFileWriter::VideoFileWriter() = default;

VideoFileWriter::~VideoFileWriter() { stop(false); }

bool VideoFileWriter::isOpen() const { return state_ != nullptr; }

bool VideoFileWriter::open(const std::filesystem::path& path, const VideoFileWriterConfig& config) {
    if (state_ || config.width <= 0 || config.height <= 0 || config.width > 0xFFFF || config.height > 0xFFFF)
        return false;
    H264EncoderConfig encoderConfig;
    encoderConfig.width = config.width;
    encoderConfig.height = config.height;
    encoderConfig.bitrate = config.bitrate;
    auto state = std::make_unique<VideoFileWriterState>(encoderConfig, config.queueFrames);
    if (!state->encoder.valid()) return false;

    zv::mp4::Mp4VideoTrack track;
    track.width = config.width;
    track.height = config.height;
    track.sps = state->encoder.sps();
    track.pps = state->encoder.pps();
    track.creationTime = secondsSince1904();
    if (!state->muxer.open(path, track)) return false;

    state->frameBytes = size_t(config.width) * size_t(config.height) * 4;
    state->thread = std::thread(encodeQueuedFrames, std::ref(*state));
    state_ = std::move(state);
    finalizeResult_ = false;
    return true;
}

bool VideoFileWriter::writeFrame(const uint8_t* bgraBottomUp, size_t length, int64_t time100ns) {
    if (!state_ || state_->failed || !bgraBottomUp || length != state_->frameBytes) return false;
    if (state_->hasFrames && time100ns <= state_->lastTime100ns) return false;
    if (!state_->queue.push(bgraBottomUp, length, time100ns)) return false;
    state_->hasFrames = true;
    state_->lastTime100ns = time100ns;
    return true;
}

bool VideoFileWriter::finalize() {
    if (!state_) return false;
    stop(true);
    return finalizeResult_;
}

void VideoFileWriter::stop(bool finalizeFile) {
    if (!state_) return;
    state_->queue.close(!finalizeFile);
    if (state_->thread.joinable()) state_->thread.join();
    // The muxer is only touched by the encoding thread until here.
    finalizeResult_ = finalizeFile ? state_->muxer.finalize() && !state_->failed : false;
    state_->muxer.close();
    state_.reset();
}
