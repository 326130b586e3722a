// The writer end to end: raw frames in, a plain MP4 out that ffmpeg decodes with every frame
// shown at its stamp (relative to the first), paused time left out.
#include <gtest/gtest.h>

#include <cstring>

#include "H264Encoder.h"
#include "Mp4Muxer.h"
#include "Mp4TestSupport.h"
#include "VideoFileWriter.h"

using namespace mp4test;

namespace {

constexpr int64_t kHour = 3600LL * 10'000'000;

struct Recording {
    const char* name;
    int width, height;
    std::vector<int64_t> times;
    std::vector<int64_t> shown;  // when it differs from times
};

std::vector<int64_t> irregularTimes() {
    // Closer than one 90 kHz tick, ten-second pauses, and everything in between.
    std::vector<int64_t> times = {2'000};
    const int64_t gaps[] = {10'000, 333'333, 100'000'000, 166'666, 400'001, 3'000'000, 12'345, 7, 110};
    for (int i = 1; i < 60; ++i) times.push_back(times.back() + gaps[i % 9]);
    return times;
}

// One sample lasts at most 2^31-1 ticks of 90 kHz; a longer gap is shortened to that, and only there.
const int64_t kLongestSample = 0x7FFF'FFFFLL * 10'000'000 / 90'000;

}  // namespace

TEST(VideoFileWriter, RecordingsPlayAsStamped) {
    const Recording recordings[] = {
        {"regular", 64, 48, regularTimes(150), {}},  // several fragments
        {"single", 64, 48, {0}, {}},
        {"irregular", 64, 48, irregularTimes(), {}},
        {"late-start", 64, 48, regularTimes(20, 50'000'000), {}},
        {"tiny", 16, 16, regularTimes(30), {}},
        {"odd-size", 34, 18, regularTimes(30), {}},
        // Over 2^32 ticks in all: 64-bit durations in the index.
        {"ten-hour-pauses", 64, 48, {0, 10 * kHour, 20 * kHour, 20 * kHour + 10'000'000},
         {0, kLongestSample, 2 * kLongestSample, 2 * kLongestSample + 10'000'000}},
        {"Aufnahme ü 录像", 64, 48, regularTimes(10), {}},
    };
    VideoFileWriter writer;  // one writer for all: it must be reusable after finalize
    for (const Recording& r : recordings) {
        const std::string path = scratchDirectory() + "/" + r.name + ".mp4";
        ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{r.width, r.height, 4'000'000, 333'333})) << r.name;
        for (size_t i = 0; i < r.times.size(); ++i) {
            const std::vector<uint8_t> frame = syntheticFrame(r.width, r.height, uint32_t(i));
            ASSERT_TRUE(writer.writeFrame(frame.data(), frame.size(), r.times[i])) << r.name << " frame " << i;
        }
        EXPECT_TRUE(writer.finalize()) << r.name;
        EXPECT_FALSE(writer.isOpen());
        EXPECT_EQ(writer.failure(), WriterFailure::None);
        expectPlaysAs(path, r.width, r.height, r.shown.empty() ? r.times : r.shown, true);
    }
}

TEST(VideoFileWriter, RejectsBadCallsWithoutHarm) {
    const std::string path = scratchDirectory() + "/rejects.mp4";
    VideoFileWriter writer;
    const std::vector<uint8_t> frame = syntheticFrame(64, 48, 0);
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 0));  // not open
    EXPECT_FALSE(writer.finalize());
    EXPECT_FALSE(writer.open(path, VideoFileWriterConfig{64, 0, 4'000'000, 333'333}));
    EXPECT_FALSE(writer.open(scratchDirectory() + "/missing/dir/x.mp4", VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));
    EXPECT_FALSE(writer.open("/dev/full", VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));  // every flush fails with ENOSPC
    zv::mp4::Mp4Muxer muxer;
    EXPECT_FALSE(muxer.open("/dev/full", zv::mp4::Mp4VideoTrack{64, 48, {0x67, 0x42, 0, 10}, {0x68}, 0, 333'333}));
    EXPECT_EQ(muxer.error(), ENOSPC);
    ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));
    EXPECT_FALSE(writer.open(path, VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));  // already open
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size() - 4, 0));
    EXPECT_FALSE(writer.writeFrame(nullptr, frame.size(), 0));
    EXPECT_TRUE(writer.writeFrame(frame.data(), frame.size(), 5'000'000));
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 5'000'000));
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 4'000'000));
    EXPECT_TRUE(writer.writeFrame(frame.data(), frame.size(), 5'333'333));
    EXPECT_TRUE(writer.finalize());
    EXPECT_FALSE(writer.finalize());
    EXPECT_EQ(writer.failure(), WriterFailure::None);
    expectPlaysAs(path, 64, 48, {5'000'000, 5'333'333}, true);
}

TEST(Mp4Muxer, StoppedBetweenIndexAndCommitStillPlays) {
    // The final index typed as moov but the fragments not yet wrapped: what a crash in
    // finalize's last write leaves. Players must still take the fragments.
    zv::h264::H264Encoder encoder({64, 48, 4'000'000, 333'333});
    const std::string path = scratchDirectory() + "/half-finalized.mp4";
    const std::vector<int64_t> times = regularTimes(90);
    {
        zv::mp4::Mp4Muxer muxer;
        ASSERT_TRUE(muxer.open(path, zv::mp4::Mp4VideoTrack{64, 48, encoder.sps(), encoder.pps(), 0, 333'333}));
        zv::h264::EncodedFrame encoded;
        for (size_t i = 0; i < times.size(); ++i) {
            encoder.encode(syntheticFrame(64, 48, uint32_t(i)).data(), times[i], encoded);
            ASSERT_TRUE(muxer.writeSample(encoded.data.data(), encoded.data.size(), times[i], encoded.keyFrame));
        }
        ASSERT_TRUE(muxer.writeFinalIndex());
    }
    EXPECT_EQ(topLevelBoxes(path).back(), "moov");
    expectPlaysAs(path, 64, 48, times, false);
}

TEST(Mp4Muxer, IndexReachesPastFourGigabytes) {
    using namespace zv::mp4;
    const uint8_t far[8] = {0, 0, 0, 1, 0x40, 0, 0, 0};  // 5 GiB, big-endian
    const std::vector<uint8_t> moov = buildFinalMoov(Mp4VideoTrack{64, 48, {0x67, 0x42, 0, 10}, {0x68}, 0, 333'333},
                                                     Mp4SampleTable{{{100, 3000, true}}, {{5ull << 30, 0, 1}}});
    const auto co64 = std::search(moov.begin(), moov.end(), "co64", "co64" + 4);
    ASSERT_LE(co64 - moov.begin() + 20, moov.end() - moov.begin()) << "32-bit chunk offsets cannot reach past 4 GiB";
    EXPECT_EQ(std::memcmp(&*co64 + 12, far, 8), 0);  // after version/flags and entry count
    const std::vector<uint8_t> mdat = buildWrappingMdatHeader(5ull << 30);
    ASSERT_EQ(mdat.size(), 16u);  // size 1, 'mdat', 64-bit size
    EXPECT_EQ(std::memcmp(mdat.data(), "\0\0\0\1mdat", 8), 0);
    EXPECT_EQ(std::memcmp(mdat.data() + 8, far, 8), 0);
}
