#pragma once
// Encodes raw frames to H.264 on its own thread and writes them to a crash-safe MP4
// (see Mp4Muxer.h for the file layout and how stamps map to presentation times).
// With sound on, a second thread encodes 48 kHz stereo PCM to AAC for a second track that shares
// the video's time origin: the first frame's stamp is time 0 for both, sound before it is dropped,
// and the sound is made to end with the last frame.
// open, writeFrame, finalize and the destructor are meant for one thread (the capture thread);
// writeAudio may come from another one, as long as it has stopped before finalize or destruction.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "AudioResult.h"

namespace zv::writer {

struct VideoFileWriterConfig {
    int width = 0;
    int height = 0;
    uint32_t bitrate = 0;               // target bits per second; required
    int64_t frameDuration100ns = 0;     // the frame rate, and how long the last frame lasts in the file; required
    size_t queueFrames = 3;
    bool audio = false;  // a sound track, fed by writeAudio
};

// Why a writer stopped taking frames; None while all is well. Set once, by the first failure.
enum class WriterFailure { None, DiskFull, Unreachable, Encoder };

struct VideoFileWriterState;

class VideoFileWriter {
public:
    VideoFileWriter();
    ~VideoFileWriter();  // without finalize: drops queued frames, keeps what is encoded, file stays playable
    VideoFileWriter(const VideoFileWriter&) = delete;
    VideoFileWriter& operator=(const VideoFileWriter&) = delete;

    // Creates or truncates the file and starts the encoding thread. False if already open,
    // on a bad size, when the encoder refuses the configuration, or when the file can't be created.
    bool open(const std::filesystem::path& path, const VideoFileWriterConfig& config);

    // Copies a frame (rows bottom-up, width*4 bytes each, B,G,R,x) and queues it; waits while
    // the queue is full. False, with nothing queued, when not open, when length is not
    // width*height*4, when time100ns is not after the last accepted frame's, or once failure() is set.
    bool writeFrame(const uint8_t* bgraBottomUp, size_t length, int64_t time100ns);

    // Queues sound: 48 kHz stereo 16-bit frames, interleaved, the first stamped time100ns on the
    // frames' clock. Buffers follow one another; a gap between them is filled with silence and an
    // overlap dropped. False, with nothing queued, without a sound track, once failure() is set,
    // or while more than kMaxQueuedAudioFrames wait for the encoder.
    bool writeAudio(const int16_t* interleavedStereo, size_t frames, int64_t time100ns);
    static constexpr size_t kMaxQueuedAudioFrames = 10 * 48'000;

    // Encodes everything queued, writes the complete index and closes. After a failure the file
    // keeps every complete fragment and gets an index if the disk still takes one; the result is
    // then false all the same. True only when the complete file is on disk.
    bool finalize();

    bool isOpen() const;
    WriterFailure failure() const;  // safe to call from any thread at any time
    bool hasAudio() const;          // open with a sound track
    // The sound path's first failure: the encoder refusing at open (the file then has no sound
    // track) or while recording (the rest of the sound is missing). Read it after finalize.
    zv::audio::AudioResult audioResult() const { return audioResult_; }

private:
    void stop(bool finalizeFile);

    std::unique_ptr<VideoFileWriterState> state_;
    std::atomic<WriterFailure> failure_{WriterFailure::None};
    bool finalizeResult_ = false;
    zv::audio::AudioResult audioResult_;
};

}  // namespace zv::writer

using zv::writer::VideoFileWriter;
using zv::writer::VideoFileWriterConfig;
using zv::writer::WriterFailure;
