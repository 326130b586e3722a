#pragma once
// Shared steps of the muxer tests: feed a test stream at given stamps, then check a file
// against ffprobe/ffmpeg.
#include <cstdint>
#include <string>
#include <vector>

#include "Mp4Muxer.h"
#include "TestStreams.h"

namespace mp4test {

zv::mp4::Mp4VideoTrack trackFor(const TestH264Stream& stream, int width, int height);

// Writes frames[i % size] at times[i]; returns false if any writeSample failed.
bool feed(zv::mp4::Mp4Muxer& muxer, const TestH264Stream& stream, const std::vector<int64_t>& times);

// Stamps 0, 333333, 666666, ... (30 fps).
std::vector<int64_t> regularTimes(int count, int64_t start = 0, int64_t step = 333'333);

struct Expectation {
    int width = 0;
    int height = 0;
    std::vector<int64_t> times;  // every frame's stamp; shown at (stamp - first)
    std::vector<bool> keyFrames;
    bool fragmented = false;  // no final index: no frame count or duration in the header
};

// ffmpeg decodes without a word, ffprobe sees one h264 stream of the right size and
// frames shown at their stamps within 1 ms. Adds gtest failures; returns true if all held.
bool expectPlaysAsStamped(const std::string& path, const Expectation& expected);

std::vector<bool> keyFlags(const TestH264Stream& stream, size_t count);

}  // namespace mp4test
