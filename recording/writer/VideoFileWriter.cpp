#include "VideoFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "AacEncoder.h"
#include "FrameQueue.h"
#include "H264Encoder.h"
#include "Mp4Muxer.h"

using namespace zv::h264;
using zv::audio::AacEncoder;
using zv::audio::AacPackets;
using zv::audio::AudioResult;

namespace zv::writer {

struct AudioChunk {
    std::vector<int16_t> samples;  // interleaved stereo
    int64_t time100ns = 0;
};

// Sound on its way from writeAudio to the sound thread, and what that thread needs to know of the picture.
struct AudioInbox {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<AudioChunk> chunks;
    size_t queuedFrames = 0;
    bool hasOrigin = false;
    int64_t origin100ns = 0;  // the first frame's stamp: time 0 of both tracks
    bool closed = false;
    bool finishing = false;     // closed by finalize: drain, then end with the picture
    int64_t videoEnd100ns = 0;  // when finishing: where the last frame ends
};

struct VideoFileWriterState {
    VideoFileWriterState(const H264EncoderConfig& encoderConfig, size_t queueFrames,
                         std::atomic<WriterFailure>& failureOfWriter)
        : encoder(encoderConfig), queue(queueFrames), failure(failureOfWriter) {}

    H264Encoder encoder;
    std::mutex muxerMutex;  // the video and the sound thread share the muxer
    zv::mp4::Mp4Muxer muxer;
    FrameQueue queue;
    std::thread thread;
    std::atomic<WriterFailure>& failure;
    size_t frameBytes = 0;
    int64_t frameDuration100ns = 0;
    bool hasFrames = false;
    int64_t lastTime100ns = 0;  // of the last frame accepted by writeFrame

    bool hasAudio = false;
    AacEncoder aac;
    AudioInbox audio;
    std::thread audioThread;
    AudioResult audioResult;  // written by the sound thread, read after it is joined
};

namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;

// Sound frames in a span of 100 ns units, to the nearest frame (negative spans too).
int64_t audioFramesIn(int64_t span100ns) {
    const int64_t scaled = span100ns * zv::audio::kSampleRate;
    return scaled >= 0 ? (scaled + kUnitsPerSecond / 2) / kUnitsPerSecond : -((kUnitsPerSecond / 2 - scaled) / kUnitsPerSecond);
}

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
        } else {
            std::lock_guard lock(state.muxerMutex);
            if (!state.muxer.writeSample(encoded.data.data(), encoded.data.size(), frame.time100ns, encoded.keyFrame) &&
                state.muxer.failed())
                failure = failureForError(state.muxer.error());
        }
        if (failure != WriterFailure::None) {
            recordFailure(state.failure, failure);
            state.queue.close(true);  // unblocks the capture thread; nothing more can be written
            return;
        }
    }
}

// The sound thread's side: places each chunk on the track's timeline (frames since the origin),
// fills gaps with silence, drops what lies before the origin or overlaps, and hands AAC to the muxer.
class SoundTrackBuilder {
public:
    explicit SoundTrackBuilder(VideoFileWriterState& state) : state_(state) {}

    // False once the sound or the file failed: nothing more is taken.
    bool add(const AudioChunk& chunk) {
        const int64_t frames = int64_t(chunk.samples.size() / zv::audio::kChannels);
        const int64_t at = audioFramesIn(chunk.time100ns - state_.audio.origin100ns);
        const int64_t skip = std::clamp<int64_t>(next_ - at, 0, frames);
        if (skip == frames) return true;
        if (at > next_ && !addSilence(at - next_)) return false;
        next_ = std::max(next_, at) + (frames - skip);
        return encode(chunk.samples.data() + skip * zv::audio::kChannels, size_t(frames - skip));
    }

    // Pads with silence up to the picture's end, drains the encoder, and cuts the track there.
    bool finish(int64_t endFrame) {
        if (endFrame > next_ && !addSilence(endFrame - next_)) return false;
        AacPackets packets;
        if (!check(state_.aac.finish(packets))) return false;
        std::lock_guard lock(state_.muxerMutex);
        state_.muxer.setAudioLength(uint64_t(std::max<int64_t>(endFrame, 0)));
        return writePackets(packets);
    }

private:
    bool addSilence(int64_t frames) {
        static const std::vector<int16_t> silence(zv::audio::kAacFrames * zv::audio::kChannels);
        for (; frames > 0; frames -= zv::audio::kAacFrames)
            if (!encode(silence.data(), size_t(std::min<int64_t>(frames, zv::audio::kAacFrames)))) return false;
        return true;
    }

    bool encode(const int16_t* samples, size_t frames) {
        AacPackets packets;
        if (!check(state_.aac.encode(samples, frames, packets))) return false;
        std::lock_guard lock(state_.muxerMutex);
        return writePackets(packets);
    }

    bool writePackets(const AacPackets& packets) {
        for (const auto& packet : packets) {
            if (state_.muxer.writeAudioSample(packet.data(), packet.size(), zv::audio::kAacFrames)) continue;
            if (state_.muxer.failed()) {
                recordFailure(state_.failure, failureForError(state_.muxer.error()));
                state_.queue.close(true);  // as the video thread does: nothing more can be written
            }
            return false;
        }
        return true;
    }

    bool check(const AudioResult& result) {
        if (result.ok()) return true;
        if (state_.audioResult.ok()) state_.audioResult = result;
        std::lock_guard lock(state_.muxerMutex);
        state_.muxer.endAudio();  // the picture goes on without waiting for sound
        return false;
    }

    VideoFileWriterState& state_;
    int64_t next_ = 0;  // the track's frame the encoder takes next
};

void encodeQueuedSound(VideoFileWriterState& state) {
    SoundTrackBuilder track(state);
    AudioInbox& inbox = state.audio;
    std::unique_lock lock(inbox.mutex);
    for (;;) {
        inbox.changed.wait(lock, [&] { return inbox.closed || (inbox.hasOrigin && !inbox.chunks.empty()); });
        if (!inbox.hasOrigin || inbox.chunks.empty()) break;  // closed, and nothing (more) to place
        AudioChunk chunk = std::move(inbox.chunks.front());
        inbox.chunks.pop_front();
        inbox.queuedFrames -= chunk.samples.size() / zv::audio::kChannels;
        lock.unlock();
        const bool going = track.add(chunk);
        lock.lock();
        if (!going) return;
    }
    if (inbox.finishing && inbox.hasOrigin) {
        const int64_t endFrame = audioFramesIn(inbox.videoEnd100ns - inbox.origin100ns);
        lock.unlock();
        track.finish(endFrame);
    }
}

}  // namespace

VideoFileWriter::VideoFileWriter() = default;

VideoFileWriter::~VideoFileWriter() { stop(false); }

bool VideoFileWriter::isOpen() const { return state_ != nullptr; }

bool VideoFileWriter::hasAudio() const { return state_ && state_->hasAudio; }

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
    // A sound encoder that will not start costs the sound, never the recording.
    audioResult_ = {};
    zv::mp4::Mp4AudioTrack audio;
    if (config.audio) {
        audioResult_ = state->aac.open();
        state->hasAudio = audioResult_.ok();
        audio.decoderConfig = state->aac.audioSpecificConfig();
        audio.sampleRate = zv::audio::kSampleRate;
        audio.channels = zv::audio::kChannels;
        audio.bitrate = zv::audio::kAacBitrate;
        audio.primingFrames = uint32_t(state->aac.primingFrames());
    }
    if (!state->muxer.open(path, track, state->hasAudio ? &audio : nullptr)) return false;

    state->frameBytes = size_t(config.width) * size_t(config.height) * 4;
    state->frameDuration100ns = config.frameDuration100ns;
    state->thread = std::thread(encodeQueuedFrames, std::ref(*state));
    if (state->hasAudio) state->audioThread = std::thread(encodeQueuedSound, std::ref(*state));
    state_ = std::move(state);
    finalizeResult_ = false;
    return true;
}

bool VideoFileWriter::writeFrame(const uint8_t* bgraBottomUp, size_t length, int64_t time100ns) {
    if (!state_ || failure_ != WriterFailure::None || !bgraBottomUp || length != state_->frameBytes) return false;
    if (state_->hasFrames && time100ns <= state_->lastTime100ns) return false;
    if (!state_->queue.push(bgraBottomUp, length, time100ns)) return false;
    if (!state_->hasFrames && state_->hasAudio) {
        std::lock_guard lock(state_->audio.mutex);
        state_->audio.hasOrigin = true;
        state_->audio.origin100ns = time100ns;
        state_->audio.changed.notify_all();
    }
    state_->hasFrames = true;
    state_->lastTime100ns = time100ns;
    // A failure that came while this frame went in has already closed the queue behind it.
    return failure_ == WriterFailure::None;
}

bool VideoFileWriter::writeAudio(const int16_t* interleavedStereo, size_t frames, int64_t time100ns) {
    if (!state_ || !state_->hasAudio || failure_ != WriterFailure::None || !interleavedStereo) return false;
    AudioInbox& inbox = state_->audio;
    std::lock_guard lock(inbox.mutex);
    if (inbox.closed || inbox.queuedFrames + frames > kMaxQueuedAudioFrames) return false;
    inbox.chunks.push_back(AudioChunk{std::vector<int16_t>(interleavedStereo, interleavedStereo + frames * zv::audio::kChannels), time100ns});
    inbox.queuedFrames += frames;
    inbox.changed.notify_all();
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
    if (state_->hasAudio) {
        AudioInbox& inbox = state_->audio;
        {
            std::lock_guard lock(inbox.mutex);
            inbox.closed = true;
            inbox.finishing = finalizeFile;
            if (!finalizeFile) inbox.chunks.clear();
            inbox.videoEnd100ns = state_->lastTime100ns + state_->frameDuration100ns;
            inbox.changed.notify_all();
        }
        state_->audioThread.join();
        if (audioResult_.ok()) audioResult_ = state_->audioResult;
    }
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
