// The capture worker's pacing and pause accounting: against a simulated clock (time moves
// only when the loop sleeps or grabs; scheduled actions, a user's clicks, run as soon as the
// clock reaches them), and against a real second thread pausing and resuming fast.
#include "recording/CaptureLoop.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace {

// The fields the capture loop shares with the UI thread; `State` is how the state is held.
template <typename State>
struct SharedFieldsOf {
    State state{Recording};
    std::atomic<bool> stopRequested{false};
    int64_t pauseStartMs = 0;
    int64_t currentPauseMs = 0;
    int64_t totalPausedMs = 0;
    std::mutex pauseLock;
};
using SharedFields = SharedFieldsOf<std::atomic<int32_t>>;

struct SimulatedWorld {
    SimulatedWorld(SharedFields& fields, std::function<int64_t(size_t)> cost, size_t stopAfter)
        : shared(fields), grabCostMs(std::move(cost)), stopAfterGrabs(stopAfter) {}

    SharedFields& shared;
    std::function<int64_t(size_t)> grabCostMs;
    size_t stopAfterGrabs;
    size_t failAtGrab = SIZE_MAX;  // this grab's write fails
    int64_t clockUs = 0;
    std::vector<int64_t> timesMs;
    std::vector<int64_t> sleeps;
    std::multimap<int64_t, std::function<void()>> actions;

    int64_t nowMs() const { return clockUs / 1000; }
    void sleepMs(int64_t ms) {
        sleeps.push_back(ms);
        advanceUs(ms == 0 ? 10 : ms * 1000);
    }
    bool grab(int64_t sampleTime) {
        timesMs.push_back(sampleTime / kTicksPerMs);
        advanceUs(grabCostMs(timesMs.size() - 1) * 1000);
        if (timesMs.size() >= stopAfterGrabs) shared.stopRequested = true;
        return timesMs.size() != failAtGrab + 1;
    }
    void advanceUs(int64_t us) {
        clockUs += us;
        while (!actions.empty() && actions.begin()->first <= nowMs()) {
            auto action = actions.begin()->second;
            actions.erase(actions.begin());
            action();
        }
    }
};

int64_t LargestGap(const std::vector<int64_t>& t) {
    int64_t largest = 0;
    for (size_t k = 1; k < t.size(); ++k) largest = std::max(largest, t[k] - t[k - 1]);
    return largest;
}

TEST(CapturePacing, GrabsFollowTheGridWhateverTheyCost) {
    struct Case {
        int64_t costMs;
        std::vector<int64_t> times;
        int64_t firstSleep;
    };
    const Case cases[] = {
        {0, {0, 33, 66}, 29},        // 9/10 of the time left, then short sleeps and yields
        {5, {0, 34, 67, 100}, 29},   // stamped with the time of the pass that took them
        {50, {0, 79, 129, 179}, 29}, // behind the grid: back to back, no sleep
    };
    for (const Case& c : cases) {
        SharedFields shared;
        SimulatedWorld world{shared, [&](size_t) { return c.costMs; }, c.times.size()};
        RunCaptureLoop(shared, world);
        EXPECT_EQ(world.timesMs, c.times) << "grab cost " << c.costMs;
        EXPECT_EQ(world.sleeps.front(), c.firstSleep) << "grab cost " << c.costMs;
        if (c.costMs == 50) {
            EXPECT_EQ(world.sleeps.back(), 0);
        }
    }
}

TEST(CapturePause, PausesAreLeftOutOfTheTimelineAndAddUp) {
    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 70};
    for (int64_t start : {200, 1200, 2200}) {
        world.actions.emplace(start, [&] { BeginPause(shared); });
        world.actions.emplace(start + 700, [&] { FoldResume(shared); });
    }
    // A pause and a resume before the worker saw the pause change nothing.
    world.actions.emplace(3500, [&] { BeginPause(shared); FoldResume(shared); });
    RunCaptureLoop(shared, world);
    // Each pause is seen up to one sleep late and last measured up to 10 ms early.
    EXPECT_GE(shared.totalPausedMs, 3 * 650);
    EXPECT_LE(shared.totalPausedMs, 3 * 700);
    EXPECT_LE(LargestGap(world.timesMs), 50);
    EXPECT_GE(world.nowMs() - world.timesMs.back(), 3 * 650);
}

TEST(CaptureEnd, AStopOrAFailedWriteEndsTheLoopAtOnce) {
    SharedFields stopped;
    stopped.stopRequested = true;
    SimulatedWorld idle{stopped, [](size_t) { return int64_t{5}; }, 100};
    RunCaptureLoop(stopped, idle);
    EXPECT_TRUE(idle.timesMs.empty());

    SharedFields shared;
    SimulatedWorld world{shared, [](size_t) { return int64_t{5}; }, 100};
    world.failAtGrab = 4;
    RunCaptureLoop(shared, world);
    EXPECT_EQ(world.timesMs.size(), 5u) << "no grab after the one whose write failed";
}


// The state as the recorder holds it, but giving the other thread a chance to run right
// after every read: that is where an unguarded pass and a resume would interleave.
struct YieldingState {
    YieldingState(int32_t initial) : value(initial) {}
    std::atomic<int32_t> value;
    int32_t load() {
        const int32_t v = value.load();
        std::this_thread::yield();
        return v;
    }
    YieldingState& operator=(int32_t v) { return value.store(v), *this; }
};

using StressFields = SharedFieldsOf<YieldingState>;

// The clock is advanced by the "user" thread only, so the test knows exactly how much time
// was spent recording; the worker reads it concurrently.
struct ThreadedWorld {
    std::atomic<int64_t>& clock;
    std::vector<int64_t> sampleTimes;  // read only after the worker has ended
    std::atomic<size_t> grabs{0};

    int64_t nowMs() { return clock.load(); }
    void sleepMs(int64_t) { std::this_thread::yield(); }
    bool grab(int64_t sampleTime) { return sampleTimes.push_back(sampleTime), ++grabs, true; }
};

TEST(CaptureStress, FastPauseResumeCyclesKeepTheTimelineSound) {
    StressFields shared;
    std::atomic<int64_t> clock{1};
    ThreadedWorld world{clock, {}, {0}};
    std::thread worker([&] { RunCaptureLoop(shared, world); });

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> step(0, 3);
    int64_t recordedMs = 0;
    int64_t pausedMs = 0;
    for (int cycle = 0; cycle < 20000; ++cycle) {
        const bool recording = shared.state.load() == Recording;
        const int64_t advance = step(random);
        clock += advance;
        (recording ? recordedMs : pausedMs) += advance;
        if (random() % 2 == 0) std::this_thread::yield();
        if (recording)
            BeginPause(shared);
        else
            FoldResume(shared);
    }
    if (shared.state.load() == Paused) FoldResume(shared);
    // One more long stretch of recording so the worker takes a last frame at a known time.
    clock += 1000;
    recordedMs += 1000;
    const size_t before = world.grabs.load();
    for (int wait = 0; wait < 2000 && world.grabs.load() == before; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(world.grabs.load(), before) << "the worker took no frame after the last resume";
    shared.stopRequested = true;
    worker.join();

    ASSERT_FALSE(world.sampleTimes.empty());
    for (size_t k = 1; k < world.sampleTimes.size(); ++k)
        ASSERT_GE(world.sampleTimes[k], world.sampleTimes[k - 1]) << "frame " << k << " runs backwards";
    // Parts of pauses the worker did not see count as recording, never the other way round.
    EXPECT_LE(shared.totalPausedMs, pausedMs);
    const int64_t lastMs = world.sampleTimes.back() / kTicksPerMs;
    EXPECT_GE(lastMs, recordedMs);
    EXPECT_LE(lastMs, clock.load());
}

}  // namespace
