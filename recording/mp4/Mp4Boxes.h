#pragma once
// Builders for the boxes of an MP4 with one video track and optionally one AAC track, first
// written as fragments and finally indexed as a plain file. Pure functions over plain records.
#include <cstdint>
#include <span>
#include <vector>

namespace zv::mp4 {

// Movie and video time units per second (a sound track counts in its sample rate). 90 kHz keeps a single 32-bit sample duration
// good for 13 hours while staying well inside 1 ms of the 100 ns input stamps.
constexpr uint32_t kTimescale = 90'000;
constexpr uint32_t kVideoTrackId = 1;
constexpr uint32_t kAudioTrackId = 2;

struct Mp4VideoTrack {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> sps;  // NAL units including their header byte, no start code
    std::vector<uint8_t> pps;
    uint64_t creationTime = 0;  // seconds since 1904-01-01 UTC
    int64_t lastSampleDuration100ns = 0;  // the final sample has no successor to end it
};

struct Mp4AudioTrack {
    std::vector<uint8_t> decoderConfig;  // AAC AudioSpecificConfig
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint32_t bitrate = 0;
    uint32_t primingFrames = 0;  // encoder delay at the start, hidden by an edit list
    uint64_t lengthFrames = 0;   // frames to present after the priming; 0: all there are
};

struct Mp4Sample {
    uint32_t size = 0;
    uint32_t duration = 0;  // in the track's units: kTimescale, or the sample rate for sound
    bool keyFrame = false;
};

// A run of consecutive samples stored back to back at an absolute file offset.
struct Mp4Chunk {
    uint64_t offset = 0;
    uint32_t sampleCount = 0;
};

struct Mp4SampleTable {
    std::vector<Mp4Sample> samples;
    std::vector<Mp4Chunk> chunks;
};

struct Mp4FileStart {
    std::vector<uint8_t> bytes;  // ftyp, an 8-byte free box, moov announcing fragments
    uint64_t wrapOffset = 0;     // where the free box sits; see buildWrappingMdatHeader
};

// One track's share of a fragment: its samples, back to back in the payload after the previous run's.
struct Mp4TrackRun {
    uint32_t trackId = kVideoTrackId;
    uint64_t baseDecodeTime = 0;  // in the track's units
    std::span<const Mp4Sample> samples;  // a run without samples is left out of the fragment
};

bool isValidTrack(const Mp4VideoTrack& track);
bool isValidTrack(const Mp4AudioTrack& track);

Mp4FileStart buildFileStart(const Mp4VideoTrack& video, const Mp4AudioTrack* audio = nullptr);

// moof followed by the mdat header; the payload (the runs' samples in order) goes right after.
std::vector<uint8_t> buildFragmentHeader(uint32_t sequenceNumber, std::span<const Mp4TrackRun> runs);
// Offset of the first payload byte from the start of what buildFragmentHeader returned.
uint64_t fragmentPayloadOffset(std::span<const Mp4TrackRun> runs);

// The complete index of a plain MP4, chunk offsets pointing at payloads already on disk.
std::vector<uint8_t> buildFinalMoov(const Mp4VideoTrack& video, const Mp4SampleTable& videoTable,
                                    const Mp4AudioTrack* audio = nullptr, const Mp4SampleTable* audioTable = nullptr);

// Header of one mdat spanning spanBytes from the placeholder free box onwards: written over
// that placeholder, it swallows the fragmented moov and every moof in a single write.
std::vector<uint8_t> buildWrappingMdatHeader(uint64_t spanBytes);

uint64_t totalDuration(const Mp4SampleTable& table);  // in the track's units
// kTimescale ticks from the start of a sound track of this rate to the given frame.
uint64_t ticksAtFrame(uint64_t frame, uint32_t sampleRate);

}  // namespace zv::mp4
