#pragma once
// Builders for the boxes of a single-video-track MP4, first written as fragments and
// finally indexed as a plain file. Pure functions over plain records: no I/O here.
#include <cstdint>
#include <span>
#include <vector>

namespace zv::mp4 {

// Media and movie time units per second. 90 kHz keeps a single 32-bit sample duration
// good for 13 hours while staying well inside 1 ms of the 100 ns input stamps.
constexpr uint32_t kTimescale = 90'000;
constexpr uint32_t kTrackId = 1;

struct Mp4VideoTrack {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> sps;  // NAL units including their header byte, no start code
    std::vector<uint8_t> pps;
    uint64_t creationTime = 0;  // seconds since 1904-01-01 UTC
    int64_t lastSampleDuration100ns = 0;  // the final sample has no successor to end it
};

struct Mp4Sample {
    uint32_t size = 0;
    uint32_t duration = 0;  // in kTimescale units
    bool keyFrame = false;
};

// A run of consecutive samples stored back to back at an absolute file offset.
struct Mp4Chunk {
    uint64_t offset = 0;
    uint32_t firstSample = 0;  // index into Mp4SampleTable::samples
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

bool isValidTrack(const Mp4VideoTrack& track);

Mp4FileStart buildFileStart(const Mp4VideoTrack& track);

// moof followed by the mdat header; the payload (the samples' bytes in order) goes right after.
std::vector<uint8_t> buildFragmentHeader(uint32_t sequenceNumber, uint64_t baseDecodeTime,
                                         std::span<const Mp4Sample> samples);
// Offset of the first payload byte from the start of what buildFragmentHeader returned.
uint64_t fragmentPayloadOffset(std::span<const Mp4Sample> samples);

// The complete index of a plain MP4, chunk offsets pointing at payloads already on disk.
std::vector<uint8_t> buildFinalMoov(const Mp4VideoTrack& track, const Mp4SampleTable& table);

// Header of one mdat spanning spanBytes from the placeholder free box onwards: written over
// that placeholder, it swallows the fragmented moov and every moof in a single write.
std::vector<uint8_t> buildWrappingMdatHeader(uint64_t spanBytes);

uint64_t totalDuration(const Mp4SampleTable& table);

}  // namespace zv::mp4
