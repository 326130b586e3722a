// The writer end to end: raw frames in, an MP4 out that ffprobe/ffmpeg accept, every frame shown at its stamp.
// Built twice: with the real encoder, and with a canned stand-in (ZV_FAKE_ENCODER).
#include <gtest/gtest.h>

#include "MuxerFixtures.h"
#include "VideoFileWriter.h"
#include "WriterFixtures.h"

using namespace mp4test;

namespace {

std::string pathFor(const std::string& name) {
#ifdef ZV_FAKE_ENCODER
    return scratchDirectory() + "/writer-fake-" + name + ".mp4";
#else
    return scratchDirectory() + "/writer-" + name + ".mp4";
#endif
}

// Writes one synthetic frame per stamp and finalizes; checks the file like a player would.
void recordAndCheck(const std::string& name, int width, int height, const std::vector<int64_t>& times) {
    prepareEncoder(width, height);
    const std::string path = pathFor(name);
    VideoFileWriter writer;
    VideoFileWriterConfig config;
    config.width = width;
    config.height = height;
    ASSERT_TRUE(writer.open(path, config));
    for (size_t i = 0; i < times.size(); ++i) {
        const std::vector<uint8_t> frame = syntheticFrame(width, height, uint32_t(i));
        ASSERT_TRUE(writer.writeFrame(frame.data(), frame.size(), times[i])) << i;
    }
    ASSERT_TRUE(writer.finalize());
    EXPECT_FALSE(writer.isOpen());
    Expectation expected{width, height, times, {true}};
    EXPECT_TRUE(expectPlaysAsStamped(path, expected));
}

}  // namespace

TEST(VideoFileWriter, RegularFrames) { recordAndCheck("regular", 64, 48, regularTimes(90)); }

TEST(VideoFileWriter, SingleFrame) { recordAndCheck("single", 64, 48, {0}); }

TEST(VideoFileWriter, IrregularStamps) {
    std::vector<int64_t> times = {2'000};
    const int64_t gaps[] = {10'000, 333'333, 25'000'000, 166'666, 400'001, 3'000'000, 12'345};
    for (int i = 1; i < 50; ++i) times.push_back(times.back() + gaps[i % 7]);
    recordAndCheck("irregular", 64, 48, times);
}

TEST(VideoFileWriter, OneSecondGap) {
    std::vector<int64_t> times = regularTimes(20);
    for (int64_t t : regularTimes(20, times.back() + 10'000'000)) times.push_back(t);
    recordAndCheck("gap", 64, 48, times);
}

TEST(VideoFileWriter, SixteenBySixteen) { recordAndCheck("tiny", 16, 16, regularTimes(30)); }

TEST(VideoFileWriter, SizeNotMultipleOfSixteen) { recordAndCheck("odd", 34, 18, regularTimes(30)); }

TEST(VideoFileWriter, RejectsBadCallsWithoutHarm) {
    prepareEncoder(64, 48);
    const std::string path = pathFor("rejects");
    VideoFileWriter writer;
    const std::vector<uint8_t> frame = syntheticFrame(64, 48, 0);
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 0));  // not open
    EXPECT_FALSE(writer.finalize());
    EXPECT_FALSE(writer.open(path, VideoFileWriterConfig{0, 48}));
    EXPECT_FALSE(writer.open(path, VideoFileWriterConfig{64, -2}));
    EXPECT_FALSE(writer.open(scratchDirectory() + "/missing/dir/x.mp4", VideoFileWriterConfig{64, 48}));
    ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{64, 48}));
    EXPECT_FALSE(writer.open(path, VideoFileWriterConfig{64, 48}));  // already open
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size() - 4, 0));
    EXPECT_FALSE(writer.writeFrame(nullptr, frame.size(), 0));
    EXPECT_TRUE(writer.writeFrame(frame.data(), frame.size(), 5'000'000));
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 5'000'000));
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 4'000'000));
    EXPECT_TRUE(writer.writeFrame(frame.data(), frame.size(), 5'333'333));
    EXPECT_TRUE(writer.finalize());
    EXPECT_FALSE(writer.finalize());
    Expectation expected{64, 48, {5'000'000, 5'333'333}, {true}};
    EXPECT_TRUE(expectPlaysAsStamped(path, expected));
}

TEST(VideoFileWriter, DestroyedWithoutFinalizeLeavesAPlayablePrefix) {
    prepareEncoder(64, 48);
    const std::string path = pathFor("destroyed");
    const std::vector<int64_t> times = regularTimes(100);
    {
        VideoFileWriter writer;
        ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{64, 48}));
        for (size_t i = 0; i < times.size(); ++i) {
            const std::vector<uint8_t> frame = syntheticFrame(64, 48, uint32_t(i));
            ASSERT_TRUE(writer.writeFrame(frame.data(), frame.size(), times[i]));
        }
    }
    EXPECT_EQ(decodeErrors(path), "");
    const auto frames = probe(path, "frame");
    // Frames still queued are dropped; what was encoded is all there, in order.
    EXPECT_GE(frames.size(), 1u);
    EXPECT_LE(frames.size(), times.size());
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_NEAR(number(frames[i], "pts_time"), times[i] / 1e7, 0.001);
}

TEST(VideoFileWriter, ReusableAfterFinalize) {
    prepareEncoder(64, 48);
    VideoFileWriter writer;
    for (int round = 0; round < 2; ++round) {
        const std::string path = pathFor("reuse" + std::to_string(round));
        ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{64, 48}));
        for (int i = 0; i < 5; ++i) {
            const std::vector<uint8_t> frame = syntheticFrame(64, 48, uint32_t(i));
            ASSERT_TRUE(writer.writeFrame(frame.data(), frame.size(), i * 333'333));
        }
        ASSERT_TRUE(writer.finalize());
        Expectation expected{64, 48, regularTimes(5), {true}};
        EXPECT_TRUE(expectPlaysAsStamped(path, expected));
    }
}
