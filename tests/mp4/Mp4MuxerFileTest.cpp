// The muxer writing real files, checked with our box reader and with ffprobe/ffmpeg as oracle.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "BoxParser.h"
#include "MuxerFixtures.h"

using namespace zv::mp4;
using namespace mp4test;

namespace {

std::string pathFor(const std::string& name) { return scratchDirectory() + "/" + name + ".mp4"; }

std::vector<std::string> topLevelTypes(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> types;
    auto boxes = parseBoxes(bytes, 0, bytes.size());
    EXPECT_TRUE(boxes) << "top-level boxes don't add up to the file size";
    if (!boxes) return types;
    for (const Box& b : *boxes) types.push_back(b.type);
    return types;
}

struct Recorded {
    std::string path;
    Expectation expected;
};

Recorded record(const std::string& name, int width, int height, const std::vector<int64_t>& times, int gop = 30,
                bool finalize = true) {
    const TestH264Stream& stream = testStream(width, height, 60, gop);
    Recorded r{pathFor(name), Expectation{width, height, times, keyFlags(stream, times.size())}};
    Mp4Muxer muxer;
    EXPECT_TRUE(muxer.open(r.path, trackFor(stream, width, height)));
    EXPECT_TRUE(feed(muxer, stream, times));
    if (finalize) {
        EXPECT_TRUE(muxer.finalize());
    }
    return r;
}

}  // namespace

TEST(Mp4MuxerFile, RegularRecordingPlaysAsStamped) {
    const Recorded r = record("regular", 320, 240, regularTimes(150));
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));
}

TEST(Mp4MuxerFile, FinalizedFileIsPlainWithOneCompleteIndex) {
    const Recorded r = record("plain", 320, 240, regularTimes(150));
    const std::vector<uint8_t> bytes = readFile(r.path);
    EXPECT_EQ(topLevelTypes(bytes), (std::vector<std::string>{"ftyp", "mdat", "moov"}));
    auto moov = findTop(bytes, "moov");
    ASSERT_TRUE(moov);
    EXPECT_TRUE(treeIsConsistent(bytes, *moov));
    EXPECT_FALSE(findPath(bytes, *moov, {"mvex"}));
    auto table = readSampleTable(bytes, *moov);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->samples.size(), 150u);
    // Chunks land inside the mdat that now wraps the fragments, and hold the samples' bytes.
    const Box mdat = *findTop(bytes, "mdat");
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    for (const Mp4Chunk& chunk : table->chunks) {
        uint64_t at = chunk.offset;
        for (uint32_t i = chunk.firstSample; i < chunk.firstSample + chunk.sampleCount; ++i) {
            const auto& want = stream.frames[i % 60].data;
            ASSERT_EQ(table->samples[i].size, want.size());
            ASSERT_GE(at, mdat.payload());
            ASSERT_LE(at + want.size(), mdat.end());
            EXPECT_TRUE(std::equal(want.begin(), want.end(), bytes.begin() + at)) << "sample " << i;
            at += want.size();
        }
    }
    auto stss = findPath(bytes, *moov, {"trak", "mdia", "minf", "stbl", "stss"});
    ASSERT_TRUE(stss);
    EXPECT_EQ(be32(bytes, stss->payload() + 4), 5u);  // key frames 0, 30, 60, 90, 120
    auto mvhd = findPath(bytes, *moov, {"mvhd"});
    EXPECT_EQ(headerDuration(bytes, *mvhd), 149u * 3000 + 3000);
}

TEST(Mp4MuxerFile, SingleFrame) {
    const Recorded r = record("single", 320, 240, {0});
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));
}

TEST(Mp4MuxerFile, IrregularStampsAreKept) {
    std::vector<int64_t> times = {0};
    const int64_t gaps[] = {10'000, 333'333, 1'000'000, 166'666, 20'000'000, 500'000, 12'345, 3'000'000, 400'001};
    for (int i = 1; i < 60; ++i) times.push_back(times.back() + gaps[i % 9]);
    const Recorded r = record("irregular", 320, 240, times);
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));
}

TEST(Mp4MuxerFile, OneSecondGap) {
    std::vector<int64_t> times = regularTimes(30);
    for (int64_t t : regularTimes(30, times.back() + 10'000'000)) times.push_back(t);
    const Recorded r = record("gap", 320, 240, times);
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));
}

TEST(Mp4MuxerFile, SixteenBySixteen) {
    const Recorded r = record("tiny", 16, 16, regularTimes(45));
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));
}

TEST(Mp4MuxerFile, SizeNotMultipleOfSixteen) {
    const Recorded r = record("odd", 34, 18, regularTimes(45));
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));
}

TEST(Mp4MuxerFile, LateFirstFrameIsShownAtZero) {
    const Recorded r = record("late", 320, 240, regularTimes(40, 50'000'000));
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));  // expectations count from the first stamp
    const auto frames = probe(r.path, "frame");
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(number(frames[0], "pts_time"), 0.0, 1e-9);
}

TEST(Mp4MuxerFile, ClosedWithoutFinalizeIsFragmentedAndPlaysEverything) {
    const Recorded r = record("unfinished", 320, 240, regularTimes(200), 30, false);
    const std::vector<uint8_t> bytes = readFile(r.path);
    const std::vector<std::string> types = topLevelTypes(bytes);
    ASSERT_GE(types.size(), 5u);
    EXPECT_EQ(types[0], "ftyp");
    EXPECT_EQ(types[1], "free");
    EXPECT_EQ(types[2], "moov");
    for (size_t i = 3; i < types.size(); ++i) EXPECT_EQ(types[i], i % 2 ? "moof" : "mdat");
    Expectation e = r.expected;
    e.fragmented = true;
    EXPECT_TRUE(expectPlaysAsStamped(r.path, e));
}

TEST(Mp4MuxerFile, CrashBetweenIndexAndCommitStillPlays) {
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    const std::string path = pathFor("half-finalized");
    {
        Mp4Muxer muxer;
        ASSERT_TRUE(muxer.open(path, trackFor(stream, 320, 240)));
        ASSERT_TRUE(feed(muxer, stream, regularTimes(100)));
        ASSERT_TRUE(muxer.writeFinalIndex());
    }  // as if the process died before the last write
    const std::vector<uint8_t> bytes = readFile(path);
    const std::vector<std::string> types = topLevelTypes(bytes);
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.back(), "moov");
    Expectation e{320, 240, regularTimes(100), keyFlags(stream, 100), true};
    EXPECT_TRUE(expectPlaysAsStamped(path, e));
}

TEST(Mp4MuxerFile, FragmentsStayShortAndStartAtKeyFrames) {
    const TestH264Stream& stream = testStream(320, 240, 60, 30);  // key frame every second
    const std::string path = pathFor("fragments");
    {
        Mp4Muxer muxer;
        ASSERT_TRUE(muxer.open(path, trackFor(stream, 320, 240)));
        ASSERT_TRUE(feed(muxer, stream, regularTimes(300)));
        ASSERT_TRUE(muxer.close());
    }
    const std::vector<uint8_t> bytes = readFile(path);
    auto boxes = parseBoxes(bytes, 0, bytes.size());
    ASSERT_TRUE(boxes);
    uint32_t expectedSequence = 1;
    uint64_t expectedBase = 0;
    size_t total = 0;
    for (const Box& box : *boxes) {
        if (box.type != "moof") continue;
        auto f = readFragment(bytes, box);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->sequence, expectedSequence++);
        EXPECT_EQ(f->baseDecodeTime, expectedBase);
        EXPECT_TRUE(f->samples.front().keyFrame) << "fragment " << f->sequence;
        uint64_t duration = 0;
        for (const Mp4Sample& s : f->samples) duration += s.duration;
        EXPECT_LE(duration, 2u * kTimescale);
        expectedBase += duration;
        total += f->samples.size();
    }
    EXPECT_EQ(total, 300u);
    EXPECT_GE(expectedSequence, 9u);
}

TEST(Mp4MuxerFile, FragmentsAreCutWithoutKeyFramesAfterTwoSeconds) {
    const TestH264Stream& stream = testStream(320, 240, 90, 250);  // one key frame only
    const std::string path = pathFor("no-keys");
    {
        Mp4Muxer muxer;
        ASSERT_TRUE(muxer.open(path, trackFor(stream, 320, 240)));
        ASSERT_TRUE(feed(muxer, stream, regularTimes(90)));
        ASSERT_TRUE(muxer.close());
    }
    const std::vector<uint8_t> bytes = readFile(path);
    auto boxes = parseBoxes(bytes, 0, bytes.size());
    ASSERT_TRUE(boxes);
    int fragments = 0;
    for (const Box& box : *boxes) {
        if (box.type != "moof") continue;
        auto f = readFragment(bytes, box);
        ASSERT_TRUE(f);
        ++fragments;
        uint64_t duration = 0;
        for (const Mp4Sample& s : f->samples) duration += s.duration;
        EXPECT_LE(duration, 2u * kTimescale);
    }
    EXPECT_GE(fragments, 2);
    Expectation e{320, 240, regularTimes(90), keyFlags(stream, 90), true};
    EXPECT_TRUE(expectPlaysAsStamped(path, e));
}

TEST(Mp4MuxerFile, RejectsStampsThatDoNotIncreaseAndEmptySamples) {
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    const std::string path = pathFor("rejects");
    Mp4Muxer muxer;
    ASSERT_TRUE(muxer.open(path, trackFor(stream, 320, 240)));
    const auto& f = stream.frames;
    EXPECT_TRUE(muxer.writeSample(f[0].data.data(), f[0].data.size(), 1'000'000, true));
    EXPECT_FALSE(muxer.writeSample(f[1].data.data(), f[1].data.size(), 1'000'000, false));
    EXPECT_FALSE(muxer.writeSample(f[1].data.data(), f[1].data.size(), 999'999, false));
    EXPECT_FALSE(muxer.writeSample(f[1].data.data(), 0, 2'000'000, false));
    EXPECT_FALSE(muxer.writeSample(nullptr, 10, 2'000'000, false));
    EXPECT_TRUE(muxer.writeSample(f[1].data.data(), f[1].data.size(), 1'333'333, false));
    EXPECT_TRUE(muxer.finalize());
    EXPECT_FALSE(muxer.writeSample(f[2].data.data(), f[2].data.size(), 1'666'666, false));
    EXPECT_FALSE(muxer.finalize());
    Expectation e{320, 240, {1'000'000, 1'333'333}, {true, false}};
    EXPECT_TRUE(expectPlaysAsStamped(path, e));
}

TEST(Mp4MuxerFile, OpenFailsForBadTrackOrPath) {
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    Mp4Muxer muxer;
    Mp4VideoTrack track = trackFor(stream, 320, 240);
    track.pps.clear();
    EXPECT_FALSE(muxer.open(pathFor("bad-track"), track));
    EXPECT_FALSE(std::filesystem::exists(pathFor("bad-track")));
    EXPECT_FALSE(muxer.open(scratchDirectory() + "/no/such/dir/x.mp4", trackFor(stream, 320, 240)));
    EXPECT_FALSE(muxer.writeSample(stream.frames[0].data.data(), stream.frames[0].data.size(), 0, true));
    EXPECT_FALSE(muxer.finalize());
}

TEST(Mp4MuxerFile, WriteErrorsAreReported) {
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    Mp4Muxer muxer;
    // /dev/full accepts the open and fails the first flush, like a full disk.
    ASSERT_FALSE(muxer.open("/dev/full", trackFor(stream, 320, 240)));
    EXPECT_TRUE(muxer.failed());
    EXPECT_FALSE(muxer.writeSample(stream.frames[0].data.data(), stream.frames[0].data.size(), 0, true));
    EXPECT_FALSE(muxer.finalize());
}

TEST(Mp4MuxerFile, NonAsciiFileName) {
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    const std::filesystem::path path = std::filesystem::path(scratchDirectory()) / u8"Aufnahme ü 录像.mp4";
    Mp4Muxer muxer;
    ASSERT_TRUE(muxer.open(path, trackFor(stream, 320, 240)));
    ASSERT_TRUE(feed(muxer, stream, regularTimes(10)));
    ASSERT_TRUE(muxer.finalize());
    Expectation e{320, 240, regularTimes(10), keyFlags(stream, 10)};
    EXPECT_TRUE(expectPlaysAsStamped(path.string(), e));
}

TEST(Mp4MuxerFile, CutAtAnyPointWhileWritingStillDecodes) {
    // Rebuilds each state a crash can leave behind (everything written so far, the box being
    // written still marked 'free') and checks ffmpeg reads exactly the complete fragments.
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    const std::string fragmentedPath = pathFor("cut-source-fragmented");
    const std::string finalPath = pathFor("cut-source-final");
    for (const std::string& path : {fragmentedPath, finalPath}) {
        Mp4Muxer muxer;
        ASSERT_TRUE(muxer.open(path, trackFor(stream, 320, 240)));
        ASSERT_TRUE(feed(muxer, stream, regularTimes(100)));
        ASSERT_TRUE(path == finalPath ? muxer.finalize() : muxer.close());
    }
    const std::vector<uint8_t> fragmented = readFile(fragmentedPath);
    const std::vector<uint8_t> finished = readFile(finalPath);
    auto boxes = parseBoxes(fragmented, 0, fragmented.size());
    ASSERT_TRUE(boxes);
    const std::string cutPath = pathFor("cut");
    auto checkState = [&](std::vector<uint8_t> state, uint64_t boxAt, const char* type, size_t framesExpected) {
        std::memcpy(state.data() + boxAt + 4, type, std::min<size_t>(4, state.size() - (boxAt + 4)));
        FILE* f = std::fopen(cutPath.c_str(), "wb");
        ASSERT_TRUE(f);
        ASSERT_EQ(std::fwrite(state.data(), 1, state.size(), f), state.size());
        std::fclose(f);
        SCOPED_TRACE("cut at " + std::to_string(state.size()) + " of box at " + std::to_string(boxAt));
        if (framesExpected > 0) {
            EXPECT_EQ(decodeErrors(cutPath), "");
        } else {
            EXPECT_EQ(probe(cutPath, "stream").size(), 1u);  // nothing to decode yet, but a valid file
        }
        EXPECT_EQ(probe(cutPath, "frame").size(), framesExpected);
    };
    size_t complete = 0;
    for (size_t b = 0; b + 1 < boxes->size(); ++b) {
        const Box& moof = (*boxes)[b];
        if (moof.type != "moof") continue;
        const Box& mdat = (*boxes)[b + 1];
        for (uint64_t cut : {moof.offset + 5, moof.offset + 8, moof.offset + moof.size / 2, moof.end() - 1, moof.end(),
                             mdat.offset + 8, mdat.offset + mdat.size / 2, mdat.end() - 1, mdat.end()}) {
            if (cut - moof.offset <= 4) continue;
            checkState(std::vector<uint8_t>(fragmented.begin(), fragmented.begin() + cut), moof.offset, "free", complete);
        }
        complete += readFragment(fragmented, moof)->samples.size();
    }
    EXPECT_EQ(complete, 100u);
    // The final index being appended, then in place but not yet committed.
    auto finalMoov = findTop(finished, "moov");
    ASSERT_TRUE(finalMoov);
    ASSERT_EQ(finalMoov->offset, fragmented.size());
    for (uint64_t cut : {finalMoov->offset + 6, finalMoov->offset + 8, finalMoov->offset + finalMoov->size / 2,
                         finalMoov->end() - 1, finalMoov->end()}) {
        std::vector<uint8_t> state = fragmented;  // before the commit, the start of the file is as while recording
        state.insert(state.end(), finished.begin() + finalMoov->offset, finished.begin() + cut);
        checkState(state, finalMoov->offset, "free", 100);
    }
    std::vector<uint8_t> uncommitted = fragmented;
    uncommitted.insert(uncommitted.end(), finished.begin() + finalMoov->offset, finished.end());
    checkState(uncommitted, finalMoov->offset, "moov", 100);
}

TEST(Mp4MuxerFile, RecordingLongerThanThirtyTwoBitsOfTicks) {
    // 20 hours in three frames: the headers must switch to 64-bit durations and players agree.
    const int64_t hour = 3600LL * 10'000'000;
    const std::vector<int64_t> times = {0, 10 * hour, 20 * hour};
    const Recorded r = record("twenty-hours", 320, 240, times);
    EXPECT_TRUE(expectPlaysAsStamped(r.path, r.expected));
    const std::vector<uint8_t> bytes = readFile(r.path);
    auto moov = findTop(bytes, "moov");
    ASSERT_TRUE(moov);
    auto mvhd = findPath(bytes, *moov, {"mvhd"});
    auto mdhd = findPath(bytes, *moov, {"trak", "mdia", "mdhd"});
    ASSERT_TRUE(mvhd && mdhd);
    EXPECT_EQ(fullBoxHeader(bytes, *mvhd).version, 1);
    EXPECT_EQ(fullBoxHeader(bytes, *mdhd).version, 1);
    EXPECT_EQ(headerDuration(bytes, *mvhd), 20ull * 3600 * kTimescale + 3000);
}

TEST(Mp4MuxerFile, GapTooLongForOneSampleShortensTheTimelineOnlyThere) {
    // A single sample can last at most 2^32-1 ticks (13.25 h); beyond that the excess is dropped
    // and later frames keep their spacing.
    const TestH264Stream& stream = testStream(320, 240, 60, 30);
    const std::string path = pathFor("huge-gap");
    const int64_t fifteenHours = 15LL * 3600 * 10'000'000;
    {
        Mp4Muxer muxer;
        ASSERT_TRUE(muxer.open(path, trackFor(stream, 320, 240)));
        ASSERT_TRUE(feed(muxer, stream, {0, fifteenHours, fifteenHours + 10'000'000, fifteenHours + 20'000'000}));
        ASSERT_TRUE(muxer.finalize());
    }
    const std::vector<uint8_t> bytes = readFile(path);
    auto moov = findTop(bytes, "moov");
    ASSERT_TRUE(moov);
    auto table = readSampleTable(bytes, *moov);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->samples.size(), 4u);
    EXPECT_EQ(table->samples[0].duration, 0xFFFF'FFFFu);
    EXPECT_EQ(table->samples[1].duration, kTimescale);
    EXPECT_EQ(table->samples[2].duration, kTimescale);
    EXPECT_EQ(table->samples[3].duration, 3000u);
}
