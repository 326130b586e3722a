// Random recordings through the muxer, read back from the bytes on disk: the fragments while
// recording and the final index must both describe exactly the samples that went in.
#include <gtest/gtest.h>

#include <random>

#include "BoxParser.h"
#include "Mp4Muxer.h"
#include "TestStreams.h"

using namespace zv::mp4;
using namespace mp4test;

namespace {

struct InputSample {
    std::vector<uint8_t> bytes;
    int64_t time100ns = 0;
    bool keyFrame = false;
};

std::vector<InputSample> randomRecording(std::mt19937_64& rng) {
    std::vector<InputSample> samples;
    const int count = std::uniform_int_distribution<int>(1, 400)(rng);
    int64_t time = std::uniform_int_distribution<int64_t>(0, 50'000'000)(rng);
    for (int i = 0; i < count; ++i) {
        InputSample s;
        s.bytes.resize(std::uniform_int_distribution<size_t>(1, i % 37 == 0 ? 200'000 : 3'000)(rng));
        for (auto& b : s.bytes) b = uint8_t(rng());
        s.keyFrame = i == 0 || rng() % 20 == 0;
        s.time100ns = time;
        samples.push_back(std::move(s));
        switch (rng() % 6) {
            case 0: time += 1 + rng() % 200; break;               // closer than one 90 kHz tick
            case 1: time += 10'000'000 + rng() % 60'000'000; break;  // seconds without a new frame
            default: time += 150'000 + rng() % 400'000; break;
        }
    }
    return samples;
}

// The durations the file must hold, worked out independently: stamps rounded to ticks from the first,
// forced apart by at least one tick, the last frame lasting 1/30 s.
std::vector<uint32_t> expectedDurations(const std::vector<InputSample>& samples) {
    std::vector<uint64_t> ticks;
    for (const InputSample& s : samples) {
        const int64_t since = s.time100ns - samples.front().time100ns;
        uint64_t t = uint64_t((since * 9 + 500) / 1000);
        if (!ticks.empty() && t <= ticks.back()) t = ticks.back() + 1;
        ticks.push_back(t);
    }
    std::vector<uint32_t> durations;
    for (size_t i = 0; i + 1 < ticks.size(); ++i) durations.push_back(uint32_t(ticks[i + 1] - ticks[i]));
    durations.push_back(3000);
    return durations;
}

void expectTableMatches(const std::vector<uint8_t>& file, const std::vector<InputSample>& input,
                        const std::vector<Mp4Sample>& samples, const std::vector<uint64_t>& sampleOffsets,
                        const char* what) {
    const std::vector<uint32_t> durations = expectedDurations(input);
    ASSERT_EQ(samples.size(), input.size()) << what;
    ASSERT_EQ(sampleOffsets.size(), input.size()) << what;
    for (size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(samples[i].size, input[i].bytes.size()) << what << " sample " << i;
        ASSERT_EQ(samples[i].duration, durations[i]) << what << " sample " << i;
        ASSERT_EQ(samples[i].keyFrame, input[i].keyFrame) << what << " sample " << i;
        ASSERT_LE(sampleOffsets[i] + samples[i].size, file.size());
        ASSERT_TRUE(std::equal(input[i].bytes.begin(), input[i].bytes.end(), file.begin() + sampleOffsets[i]))
            << what << " sample " << i << " bytes";
    }
}

void checkFragmentedFile(const std::vector<uint8_t>& file, const std::vector<InputSample>& input) {
    auto boxes = parseBoxes(file, 0, file.size());
    ASSERT_TRUE(boxes);
    std::vector<Mp4Sample> samples;
    std::vector<uint64_t> offsets;
    uint64_t decodeTime = 0;
    for (size_t b = 0; b < boxes->size(); ++b) {
        if ((*boxes)[b].type != "moof") continue;
        auto fragment = readFragment(file, (*boxes)[b]);
        ASSERT_TRUE(fragment);
        ASSERT_LT(b + 1, boxes->size());
        const Box& mdat = (*boxes)[b + 1];
        ASSERT_EQ(mdat.type, "mdat");
        ASSERT_EQ(fragment->dataOffset, mdat.payload());
        ASSERT_EQ(fragment->baseDecodeTime, decodeTime);
        uint64_t at = fragment->dataOffset, duration = 0;
        for (const Mp4Sample& s : fragment->samples) {
            samples.push_back(s);
            offsets.push_back(at);
            at += s.size;
            duration += s.duration;
        }
        ASSERT_EQ(at, mdat.end()) << "mdat holds exactly the fragment's samples";
        // Longer than two seconds only when a single frame alone lasts that long.
        if (fragment->samples.size() > 1) {
            ASSERT_LE(duration - fragment->samples.back().duration, 2ull * kTimescale);
        }
        decodeTime += duration;
    }
    expectTableMatches(file, input, samples, offsets, "fragments");
}

void checkFinalFile(const std::vector<uint8_t>& file, const std::vector<InputSample>& input) {
    auto moov = findTop(file, "moov");
    auto mdat = findTop(file, "mdat");
    ASSERT_TRUE(moov && mdat);
    ASSERT_TRUE(treeIsConsistent(file, *moov));
    auto table = readSampleTable(file, *moov);
    ASSERT_TRUE(table);
    std::vector<uint64_t> offsets(table->samples.size());
    for (const Mp4Chunk& c : table->chunks) {
        uint64_t at = c.offset;
        for (uint32_t i = c.firstSample; i < c.firstSample + c.sampleCount; ++i) {
            offsets[i] = at;
            at += table->samples[i].size;
        }
        ASSERT_GE(c.offset, mdat->payload());
        ASSERT_LE(at, mdat->end());
    }
    expectTableMatches(file, input, table->samples, offsets, "final index");
    uint64_t total = 0;
    for (uint32_t d : expectedDurations(input)) total += d;
    EXPECT_EQ(headerDuration(file, *findPath(file, *moov, {"mvhd"})), total);
    EXPECT_EQ(headerDuration(file, *findPath(file, *moov, {"trak", "mdia", "mdhd"})), total);
}

}  // namespace

TEST(Mp4TablesProperty, RandomRecordingsReadBackExactly) {
    Mp4VideoTrack track;
    track.width = 64;
    track.height = 48;
    track.sps = {0x67, 0x42, 0xC0, 0x1E, 0x01};
    track.pps = {0x68, 0xCE};
    const uint64_t seed = std::random_device{}();
    std::mt19937_64 rng(seed);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
        const std::vector<InputSample> input = randomRecording(rng);
        const std::string fragmented = scratchDirectory() + "/property-fragmented.mp4";
        const std::string finished = scratchDirectory() + "/property-final.mp4";
        Mp4FragmentLimits limits;
        limits.maximumBytes = 1 + rng() % (1 << 20);  // sometimes cut by size too
        {
            Mp4Muxer a, b;
            ASSERT_TRUE(a.open(fragmented, track, limits));
            ASSERT_TRUE(b.open(finished, track, limits));
            for (const InputSample& s : input) {
                ASSERT_TRUE(a.writeSample(s.bytes.data(), s.bytes.size(), s.time100ns, s.keyFrame));
                ASSERT_TRUE(b.writeSample(s.bytes.data(), s.bytes.size(), s.time100ns, s.keyFrame));
            }
            ASSERT_TRUE(a.close());
            ASSERT_TRUE(b.finalize());
        }
        checkFragmentedFile(readFile(fragmented), input);
        checkFinalFile(readFile(finished), input);
        if (HasFatalFailure()) return;
    }
}

TEST(Mp4TablesProperty, RandomSyntheticTablesSurviveTheBuilders) {
    // Large offsets and durations that no test file could reach.
    const uint64_t seed = std::random_device{}();
    std::mt19937_64 rng(seed);
    Mp4VideoTrack track;
    track.width = 1920;
    track.height = 1080;
    track.sps = {0x67, 0x64, 0x00, 0x28, 0xAC};
    track.pps = {0x68, 0xEE, 0x3C};
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
        Mp4SampleTable table;
        uint64_t offset = rng() % 2 ? rng() % (uint64_t(1) << 33) : rng() % 100000;
        const int chunks = 1 + int(rng() % 50);
        for (int c = 0; c < chunks; ++c) {
            const uint32_t n = 1 + uint32_t(rng() % (rng() % 2 ? 3 : 90));
            table.chunks.push_back(Mp4Chunk{offset, uint32_t(table.samples.size()), n});
            for (uint32_t i = 0; i < n; ++i) {
                Mp4Sample s;
                s.size = 1 + uint32_t(rng() % (rng() % 50 ? 100'000 : 0xFFFF'FFFF));
                s.duration = rng() % 3 ? 3000 : 1 + uint32_t(rng() % 0xFFFF'FFFF);
                s.keyFrame = rng() % 10 == 0;
                offset += s.size;
                table.samples.push_back(s);
            }
            offset += rng() % 5000;
        }
        const std::vector<uint8_t> moov = buildFinalMoov(track, table);
        auto boxes = parseBoxes(moov, 0, moov.size());
        ASSERT_TRUE(boxes && boxes->size() == 1);
        ASSERT_TRUE(treeIsConsistent(moov, boxes->front()));
        auto back = readSampleTable(moov, boxes->front());
        ASSERT_TRUE(back);
        ASSERT_EQ(back->samples.size(), table.samples.size());
        for (size_t i = 0; i < table.samples.size(); ++i) {
            ASSERT_EQ(back->samples[i].size, table.samples[i].size);
            ASSERT_EQ(back->samples[i].duration, table.samples[i].duration);
            ASSERT_EQ(back->samples[i].keyFrame, table.samples[i].keyFrame);
        }
        ASSERT_EQ(back->chunks.size(), table.chunks.size());
        for (size_t c = 0; c < table.chunks.size(); ++c) {
            ASSERT_EQ(back->chunks[c].offset, table.chunks[c].offset);
            ASSERT_EQ(back->chunks[c].firstSample, table.chunks[c].firstSample);
            ASSERT_EQ(back->chunks[c].sampleCount, table.chunks[c].sampleCount);
        }
        const uint64_t total = totalDuration(table);
        auto mvhd = findPath(moov, boxes->front(), {"mvhd"});
        EXPECT_EQ(headerDuration(moov, *mvhd), total);
        EXPECT_EQ(fullBoxHeader(moov, *mvhd).version, total > 0xFFFF'FFFFull ? 1 : 0);
    }
}
