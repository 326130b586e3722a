// The capture worker's pacing and pause accounting against a simulated clock.
#include "SimulatedRecorder.h"

#include <gtest/gtest.h>

namespace {

std::vector<int64_t> RunLoop(SimulatedWorld& world) {
    RunCaptureLoop(world.shared, world);
    return world.sampleTimesMs();
}

TEST(CapturePacing, FiveMillisecondGrabsLandOnTheGrid) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 4};
    EXPECT_EQ(RunLoop(world), (std::vector<int64_t>{0, 34, 67, 100}));
    EXPECT_EQ(world.sampleTimes[1], 340'000);
    EXPECT_EQ(world.sampleTimes[3], 1'000'000);
}

TEST(CapturePacing, SlowGrabsGoBackToBackWithoutSleeping) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{50}; }, 6};
    EXPECT_EQ(RunLoop(world), (std::vector<int64_t>{0, 79, 129, 179, 229, 279}));
    // One sleep of 29 ms after the first frame, then none while behind.
    EXPECT_EQ(world.sleeps.front(), 29);
    for (size_t i = 1; i < world.sleeps.size(); ++i) EXPECT_EQ(world.sleeps[i], 0) << "sleep " << i;
}

TEST(CapturePacing, InstantGrabsSleepNineTenthsThenYield) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{0}; }, 2};
    EXPECT_EQ(RunLoop(world), (std::vector<int64_t>{0, 33}));
    ASSERT_GE(world.sleeps.size(), 3u);
    EXPECT_EQ(world.sleeps[0], 29);
    EXPECT_EQ(world.sleeps[1], 3);
    EXPECT_EQ(world.sleeps[2], 0);
}

TEST(CapturePacing, OneLongGrabIsFollowedByABurstThenTheGrid) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t i) { return i == 1 ? int64_t{1000} : int64_t{5}; }, 60};
    const std::vector<int64_t> t = RunLoop(world);
    // The second frame (at 34 ms) took a second; the sleep planned before it still follows.
    ASSERT_EQ(t[2], 1062);
    size_t burst = 0;
    size_t i = 3;
    while (i < t.size() && t[i] - t[i - 1] <= 5) {
        ++burst;
        ++i;
    }
    // Back-to-back 5 ms grabs catch the frame count up with t / 33 + 1.
    EXPECT_GE(burst, 33u);
    EXPECT_LE(burst, 37u);
    // Then the 33 ms grid again.
    for (size_t k = i + 1; k < t.size(); ++k) {
        EXPECT_GE(t[k] - t[k - 1], 32) << "frame " << k;
        EXPECT_LE(t[k] - t[k - 1], 34) << "frame " << k;
    }
}

TEST(CapturePause, FiveSecondPauseLeavesOnlyAGridGap) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 60};
    world.actions.emplace(1000, [&] { BeginPause(shared); });
    world.actions.emplace(6000, [&] { FoldResume(shared); });
    const std::vector<int64_t> t = RunLoop(world);
    size_t largest = 1;
    for (size_t k = 2; k < t.size(); ++k)
        if (t[k] - t[k - 1] > t[largest] - t[largest - 1]) largest = k;
    const int64_t gap = t[largest] - t[largest - 1];
    EXPECT_GE(gap, 33);
    EXPECT_LE(gap, 50);
    // The whole recording is about 5 s shorter than the clock.
    EXPECT_GE(world.nowMs() - t.back(), 4950);
    for (size_t k = 1; k < t.size(); ++k) EXPECT_GT(t[k], t[k - 1]);
}

TEST(CapturePause, PausedPassesMeasureThePauseAndGrabNothing) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 1000};
    world.actions.emplace(100, [&] { BeginPause(shared); });
    world.actions.emplace(700, [&] { shared.stopRequested = true; });
    RunCaptureLoop(shared, world);
    for (int64_t t : world.sampleTimesMs()) EXPECT_LE(t, 100);
    EXPECT_GE(shared.pauseStartMs, 100);
    EXPECT_LE(shared.pauseStartMs, 135);
    EXPECT_GE(shared.currentPauseMs, 550);
    EXPECT_LE(shared.currentPauseMs, 600);
    EXPECT_EQ(shared.totalPausedMs, 0);  // folded only by a resume
}

TEST(CapturePause, ResumeBeforeTheWorkerSawThePauseChangesNothing) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 3};
    world.actions.emplace(10, [&] {
        BeginPause(shared);
        FoldResume(shared);
    });
    const std::vector<int64_t> t = RunLoop(world);
    EXPECT_EQ(t, (std::vector<int64_t>{0, 34, 67}));
    EXPECT_EQ(shared.totalPausedMs, 0);
}

TEST(CapturePause, SeveralPausesAddUp) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 40};
    for (int64_t start : {200, 1200, 2200}) {
        world.actions.emplace(start, [&] { BeginPause(shared); });
        world.actions.emplace(start + 700, [&] { FoldResume(shared); });
    }
    const std::vector<int64_t> t = RunLoop(world);
    // Each pause is seen up to one sleep late and last measured up to 10 ms early.
    EXPECT_GE(shared.totalPausedMs, 3 * 650);
    EXPECT_LE(shared.totalPausedMs, 3 * 700);
    for (size_t k = 1; k < t.size(); ++k) EXPECT_LE(t[k] - t[k - 1], 50) << "frame " << k;
}

TEST(CapturePacing, StopIsSeenBeforeTheNextPass) {
    SharedFields shared;
    shared.stopRequested = true;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 100};
    RunCaptureLoop(shared, world);
    EXPECT_TRUE(world.sampleTimes.empty());
}

TEST(CapturePacing, ClockMultipliesBeforeDividing) {
    EXPECT_EQ(WorkerClockMs(3'000'000, 0, 10'000'000), 300);
    EXPECT_EQ(WorkerClockMs(10'000'001 + 5, 5, 10'000'000), 1000);
    EXPECT_EQ(WorkerClockMs(2'999, 0, 3'000), 999);  // truncated, not rounded
    EXPECT_EQ(SleepBeforeDueMs(1), 0);
    EXPECT_EQ(SleepBeforeDueMs(-20), 0);
    EXPECT_EQ(SleepBeforeDueMs(33), 29);
}

}  // namespace
