#pragma once
// Writes one H.264 track, and optionally one AAC track beside it, to an MP4 file that stays playable while it grows: an initial moov
// announcing fragments, then a moof+mdat pair at most about every two seconds, each flushed.
// finalize() appends a complete index and turns the file into a plain MP4 in one last write.
// After a failed write the file keeps every complete fragment; finalize then cuts off the
// half-written rest and still tries to index what is there.
// Every box a reader could trip over goes down as 'free' and gets its real type in a single
// 4-byte write once complete, so a file cut at any byte still plays up to its last fragment.
//
// With sound, a fragment carries the video samples gathered since the last one and the sound that
// starts before its end, and it waits (within maximumBytes) until that sound has come, so a file cut
// anywhere ends with both tracks together. Past the time limit it waits no longer: it ends at the
// last frame the sound already covers and leaves the later frames to the next one. Both are
// indexed at finalize.
//
// Times: video samples carry 100 ns presentation stamps that must increase. The first sample is
// shown at time 0 and every later one at (stamp - first stamp), so a recording whose first
// frame came late does not open on a frozen picture. Sound samples follow one another without
// gaps from time 0; the caller aligns the sound's start with the first video stamp.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "Mp4Boxes.h"
#include "OutputFile.h"

namespace zv::mp4 {

struct Mp4FragmentLimits {
    int64_t preferred100ns = 10'000'000;  // cut at the first key frame after this much
    int64_t maximum100ns = 20'000'000;    // cut here even without a key frame
    size_t maximumBytes = 32u << 20;
};

class Mp4Muxer {
public:
    Mp4Muxer() = default;
    ~Mp4Muxer();  // without finalize: writes what is complete and closes, leaving a fragmented file
    Mp4Muxer(const Mp4Muxer&) = delete;
    Mp4Muxer& operator=(const Mp4Muxer&) = delete;

    // With `audio`, the file gets a sound track too.
    bool open(const std::filesystem::path& path, const Mp4VideoTrack& track, const Mp4AudioTrack* audio = nullptr,
              Mp4FragmentLimits limits = {});

    // sample: 4-byte big-endian length-prefixed NAL units of one picture, no SPS/PPS.
    // Returns false, and writes nothing, for an empty sample or a stamp not after the previous one;
    // also false once any I/O has failed.
    bool writeSample(const uint8_t* sample, size_t size, int64_t time100ns, bool keyFrame);

    // One encoded sound packet of `frames` frames, right after the previous one. False for an empty
    // packet, without a sound track, and once any I/O has failed.
    bool writeAudioSample(const uint8_t* sample, size_t size, uint32_t frames);
    // How many frames of sound (after the priming) the finished file shows; the rest is padding.
    void setAudioLength(uint64_t frames) { audio_.lengthFrames = frames; }
    // No more sound will come (its source failed): fragments stop waiting for it.
    void endAudio() { audioEnded_ = true; }

    // = writeFinalIndex() + commitFinalIndex() + close, tried once more without the samples not yet
    // on disk if that fails. False whenever any I/O failed since open, even if the retry worked.
    bool finalize();

    // The two halves of finalize, apart so tests can stop between them as a crash would.
    bool writeFinalIndex();   // flushes the held samples, appends the complete moov
    bool commitFinalIndex();  // hides the fragment boxes inside one mdat

    // Closes without finalizing; safe to call more than once.
    bool close();

    bool isOpen() const { return file_.isOpen(); }
    bool failed() const { return file_.failed(); }
    int error() const { return file_.error(); }  // errno of the first I/O failure since open; 0 if none

private:
    // Takes the first videoCount held frames and the sound that starts before untilTicks.
    bool writeFragment(uint64_t untilTicks, size_t videoCount = SIZE_MAX);
    bool closeFragmentAt(uint64_t nextTicks);
    bool cutBackToLastFragment();
    uint64_t ticksFor(int64_t time100ns);
    uint64_t audioShownTicks(uint64_t frame) const;  // when the sound at this frame of its track is shown

    OutputFile file_;
    Mp4VideoTrack track_;
    Mp4FragmentLimits limits_;
    Mp4SampleTable table_;  // samples already on disk
    uint64_t wrapOffset_ = 0;
    uint64_t finalMoovOffset_ = 0;
    uint64_t committedEnd_ = 0;  // end of the last complete fragment (or of the file start)
    uint32_t nextSequence_ = 1;

    // Samples gathered for the next fragment; the last of them waits for the next stamp to know its duration.
    std::vector<Mp4Sample> pending_;
    std::vector<uint8_t> pendingBytes_;
    uint64_t pendingStartTicks_ = 0;
    uint64_t lastTicks_ = 0;

    bool hasSamples_ = false;
    int64_t firstTime100ns_ = 0;
    int64_t lastTime100ns_ = 0;
    uint64_t skippedTicks_ = 0;  // only grows past a gap too long for one sample duration
    bool indexWritten_ = false;

    bool hasAudio_ = false;
    Mp4AudioTrack audio_;
    Mp4SampleTable audioTable_;
    std::vector<Mp4Sample> audioPending_;
    std::vector<uint8_t> audioPendingBytes_;
    uint64_t audioFrames_ = 0;  // frames in all sound samples taken so far: the sound track's time
    bool audioEnded_ = false;
};

}  // namespace zv::mp4
