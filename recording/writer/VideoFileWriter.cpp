#include "VideoFileWriter.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <thread>

#include "FrameQueue.h"
#include "H264Encoder.h"
#include "Mp4Muxer.h"

using namespace zv::h264;

namespace zv::writer {

struct VideoFileWriterState {
    VideoFileWriterState(const H264EncoderConfig& encoderConfig, size_t queueFrames,
                         std::atomic<WriterFailure>& failureOfWriter)
        : encoder(encoderConfig), queue(queueFrames), failure(failureOfWriter) {}

    H264Encoder encoder;
    zv::mp4::Mp4Muxer muxer;
    FrameQueue queue;
    std::thread thread;
    std::atomic<WriterFailure>& failure;
    size_t frameBytes = 0;
    bool hasFrames = false;
    int64_t lastTime100ns = 0;  // of the last frame accepted by writeFrame
};

namespace {

uint64_t secondsSince1904() {
    constexpr int64_t kUnixEpochFrom1904 = 2'082'844'800;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return uint64_t(std::chrono::duration_cast<std::chrono::seconds>(now).count() + kUnixEpochFrom1904);
}

// EFBIG counts as a full disk: it is how a volume says a single file can grow no further (FAT32).
WriterFailure failureForError(int error) {
    return error == ENOSPC || error == EFBIG ? WriterFailure::DiskFull : WriterFailure::Unreachable;
}

// Only the first failure is kept, so the caller hears the cause and not its echoes.
void recordFailure(std::atomic<WriterFailure>& failure, WriterFailure what) {
    WriterFailure none = WriterFailure::None;
    failure.compare_exchange_strong(none, what);
}

bool encodeFrame(H264Encoder& encoder, const QueuedFrame& frame, EncodedFrame& encoded) {
    try {
        encoder.encode(frame.pixels.data(), frame.time100ns, encoded);
    } catch (const std::exception&) {
        return false;
    }
    // A valid encoder gives an access unit for every frame; none means the frame would be lost unseen.
    return !encoded.data.empty();
}

void encodeQueuedFrames(VideoFileWriterState& state) {
    QueuedFrame frame;
    EncodedFrame encoded;
    while (state.queue.pop(frame)) {
        WriterFailure failure = WriterFailure::None;
        if (!encodeFrame(state.encoder, frame, encoded)) {
            failure = WriterFailure::Encoder;
        } else if (!state.muxer.writeSample(encoded.data.data(), encoded.data.size(), frame.time100ns,
                                            encoded.keyFrame) &&
                   state.muxer.failed()) {
            failure = failureForError(state.muxer.error());
        }
        if (failure != WriterFailure::None) {
            recordFailure(state.failure, failure);
            state.queue.close(true);  // unblocks the capture thread; nothing more can be written
            return;
        }
    }
}

}  // namespace

VideoFileWriter::VideoFileWriter() = default;

VideoFileWriter::~VideoFileWriter() { stop(false); }

bool VideoFileWriter::isOpen() const { return state_ != nullptr; }

WriterFailure VideoFileWriter::failure() const { return failure_.load(); }

bool VideoFileWriter::open(const std::filesystem::path& path, const VideoFileWriterConfig& config) {
    if (state_ || config.width <= 0 || config.height <= 0 || config.width > 0xFFFF || config.height > 0xFFFF ||
        config.frameDuration100ns <= 0)
        return false;
    failure_ = WriterFailure::None;
    H264EncoderConfig encoderConfig;
    encoderConfig.width = config.width;
    encoderConfig.height = config.height;
    encoderConfig.bitrate = config.bitrate;
    encoderConfig.frameDuration100ns = config.frameDuration100ns;
    auto state = std::make_unique<VideoFileWriterState>(encoderConfig, config.queueFrames, failure_);
    if (!state->encoder.valid()) return false;

    zv::mp4::Mp4VideoTrack track;
    track.width = config.width;
    track.height = config.height;
    track.sps = state->encoder.sps();
    track.pps = state->encoder.pps();
    track.creationTime = secondsSince1904();
    track.lastSampleDuration100ns = config.frameDuration100ns;
    if (!state->muxer.open(path, track)) return false;

    state->frameBytes = size_t(config.width) * size_t(config.height) * 4;
    state->thread = std::thread(encodeQueuedFrames, std::ref(*state));
    state_ = std::move(state);
    finalizeResult_ = false;
    return true;
}

bool VideoFileWriter::writeFrame(const uint8_t* bgraBottomUp, size_t length, int64_t time100ns) {
    if (!state_ || failure_ != WriterFailure::None || !bgraBottomUp || length != state_->frameBytes) return false;
    if (state_->hasFrames && time100ns <= state_->lastTime100ns) return false;
    if (!state_->queue.push(bgraBottomUp, length, time100ns)) return false;
    state_->hasFrames = true;
    state_->lastTime100ns = time100ns;
    // A failure that came while this frame went in has already closed the queue behind it.
    return failure_ == WriterFailure::None;
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
    zv::mp4::Mp4Muxer& muxer = state_->muxer;
    if (finalizeFile) {
        const bool finalized = muxer.finalize();
        if (!finalized && muxer.error() != 0) recordFailure(failure_, failureForError(muxer.error()));
        finalizeResult_ = finalized && failure_ == WriterFailure::None;
    } else {
        muxer.close();
        finalizeResult_ = false;
    }
    state_.reset();
}

}  // namespace zv::writer
