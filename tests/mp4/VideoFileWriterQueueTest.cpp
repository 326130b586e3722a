// The writer's thread hand-off, seen through the canned encoder stand-in that can be held
// mid-frame and that records every frame it was given.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <future>
#include <thread>

#include "H264Encoder.h"
#include "MuxerFixtures.h"
#include "VideoFileWriter.h"
#include "WriterFixtures.h"

using namespace mp4test;
using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 64, kHeight = 48;

std::vector<uint8_t> frameNumber(uint32_t i) { return syntheticFrame(kWidth, kHeight, i); }

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void expectCallsInOrder(const std::vector<int64_t>& times) {
    const auto calls = fake_encoder::calls();
    ASSERT_EQ(calls.size(), times.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].time100ns, times[i]) << i;
        EXPECT_EQ(calls[i].firstPixel, uint32_t(i)) << "frame copied whole and in order";
        EXPECT_EQ(calls[i].lastPixel, ~uint32_t(i));
    }
}

}  // namespace

TEST(VideoFileWriterQueue, WriteFrameWaitsWhileQueueIsFullAndLosesNothing) {
    prepareEncoder(kWidth, kHeight);
    const std::string path = scratchDirectory() + "/queue-full.mp4";
    VideoFileWriterConfig config{kWidth, kHeight};
    config.queueFrames = 3;
    VideoFileWriter writer;
    ASSERT_TRUE(writer.open(path, config));
    fake_encoder::hold(true);

    const std::vector<int64_t> times = regularTimes(8);
    std::atomic<size_t> accepted{0};
    auto producer = std::async(std::launch::async, [&] {
        for (size_t i = 0; i < times.size(); ++i) {
            const std::vector<uint8_t> frame = frameNumber(uint32_t(i));
            if (!writer.writeFrame(frame.data(), frame.size(), times[i])) return false;
            ++accepted;
        }
        return true;
    });
    // One frame sits in the held encoder, three in the queue; the fifth writeFrame must wait.
    ASSERT_TRUE(fake_encoder::waitForCalls(1, 10'000));
    ASSERT_TRUE(waitUntil([&] { return accepted == 4; }, 10s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(accepted, 4u);

    fake_encoder::hold(false);
    ASSERT_EQ(producer.wait_for(30s), std::future_status::ready);
    EXPECT_TRUE(producer.get());
    ASSERT_TRUE(writer.finalize());
    expectCallsInOrder(times);
    Expectation expected{kWidth, kHeight, times, keyFlags(testStream(kWidth, kHeight, 60, 30), times.size())};
    EXPECT_TRUE(expectPlaysAsStamped(path, expected));
}

TEST(VideoFileWriterQueue, FinalizeEncodesEverythingStillQueued) {
    prepareEncoder(kWidth, kHeight);
    const std::string path = scratchDirectory() + "/queue-drain.mp4";
    VideoFileWriter writer;
    ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{kWidth, kHeight}));
    fake_encoder::hold(true);
    const std::vector<int64_t> times = regularTimes(4);
    for (size_t i = 0; i < times.size(); ++i) {
        const std::vector<uint8_t> frame = frameNumber(uint32_t(i));
        ASSERT_TRUE(writer.writeFrame(frame.data(), frame.size(), times[i]));
    }
    ASSERT_TRUE(fake_encoder::waitForCalls(1, 10'000));
    auto release = std::async(std::launch::async, [] {
        std::this_thread::sleep_for(50ms);
        fake_encoder::hold(false);
    });
    ASSERT_TRUE(writer.finalize());
    release.wait();
    expectCallsInOrder(times);
    Expectation expected{kWidth, kHeight, times, {true}};
    EXPECT_TRUE(expectPlaysAsStamped(path, expected));
}

TEST(VideoFileWriterQueue, DiskFullStopsTheWriterAndIsReported) {
    prepareEncoder(kWidth, kHeight);
    const std::string path = scratchDirectory() + "/disk-full.mp4";
    // A file size limit makes writes past it fail like a full disk (with SIGXFSZ ignored).
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 3000;
    bool writeFailed = false;
    bool finalized = true;
    {
        VideoFileWriter writer;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const bool opened = writer.open(path, VideoFileWriterConfig{kWidth, kHeight});
        for (uint32_t i = 0; opened && i < 2000 && !writeFailed; ++i) {
            const std::vector<uint8_t> frame = frameNumber(i);
            writeFailed = !writer.writeFrame(frame.data(), frame.size(), int64_t(i) * 333'333);
        }
        finalized = writer.finalize();
        setrlimit(RLIMIT_FSIZE, &previous);
        EXPECT_TRUE(opened);
    }
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(writeFailed);
    EXPECT_FALSE(finalized);
}
