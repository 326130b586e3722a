// The capture worker's pacing and pause accounting: against a simulated clock (time moves
// only when the loop sleeps or grabs; scheduled actions, a user's clicks, run as soon as the
// clock reaches them), and against a real second thread pausing and resuming fast.
#include "recording/CaptureLoop.h"
#include "recording/ScreenScale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// The fields the capture loop shares with the UI thread; `State` is how the state is held.
template <typename State>
struct SharedFieldsOf {
    State state{Recording};
    std::atomic<bool> stopRequested{false};
    int64_t pauseStartMs = 0, currentPauseMs = 0, totalPausedMs = 0;
    std::mutex pauseLock;
};
using SharedFields = SharedFieldsOf<std::atomic<int32_t>>;

struct SimulatedWorld {
    SimulatedWorld(SharedFields& s, int64_t costMs, size_t stopAfter)
        : shared(s), grabCostMs(costMs), stopAfterGrabs(stopAfter) {}
    SharedFields& shared;
    int64_t grabCostMs;
    size_t stopAfterGrabs;
    size_t failAtGrab = SIZE_MAX;  // this grab's write fails
    int64_t tickUs = 1;  // sleeps end on this grid (Windows: the 15.6 ms timer tick)
    int64_t clockUs = 0;
    std::vector<int64_t> timesMs, sleeps;
    std::multimap<int64_t, std::function<void()>> actions;

    int64_t nowMs() const { return clockUs / 1000; }
    void sleepMs(int64_t ms) {
        sleeps.push_back(ms);
        advanceUs(ms == 0 ? 10 : (clockUs + ms * 1000 + tickUs - 1) / tickUs * tickUs - clockUs);
    }
    bool grab(int64_t sampleTime) {
        timesMs.push_back(sampleTime / kTicksPerMs);
        advanceUs(grabCostMs * 1000);
        if (timesMs.size() >= stopAfterGrabs) shared.stopRequested = true;
        return timesMs.size() != failAtGrab + 1;
    }
    void advanceUs(int64_t us) {
        clockUs += us;
        for (auto next = actions.begin(); next != actions.end() && next->first <= nowMs(); next = actions.begin()) {
            auto action = next->second;
            actions.erase(next);
            action();
        }
    }
};

TEST(CapturePacing, GrabsFollowTheGridWhateverTheyCost) {
    const std::pair<int64_t, std::vector<int64_t>> cases[] = {
        {0, {0, 33, 66}},        // 9/10 of the time left first, then short sleeps and yields
        {5, {0, 34, 67, 100}},   // stamped with the time of the pass that took them
        {50, {0, 79, 129, 179}}, // behind the grid: back to back, no sleep
    };
    for (const auto& [costMs, times] : cases) {
        SharedFields shared;
        SimulatedWorld world{shared, costMs, times.size()};
        RunCaptureLoop(shared, world);
        EXPECT_EQ(world.timesMs, times) << "grab cost " << costMs;
        // Asleep for most of the time it does not grab, rather than spinning.
        const int64_t slept = std::accumulate(world.sleeps.begin(), world.sleeps.end(), int64_t{0});
        EXPECT_GE(slept, (world.nowMs() - costMs * int64_t(times.size())) * 8 / 10) << "grab cost " << costMs;
    }
}

TEST(CapturePacing, SleepsEndingOnTimerTicksStillGiveThirtyFramesASecond) {
    for (int64_t costMs : {20, 32}) {  // up to nearly the whole 33 ms interval
        SharedFields shared;
        SimulatedWorld world{shared, costMs, 300};
        world.tickUs = 15'625;
        RunCaptureLoop(shared, world);
        const double seconds = (world.timesMs.back() - world.timesMs.front()) / 1000.0;
        EXPECT_GE((world.timesMs.size() - 1) / seconds, 29.5) << "grab cost " << costMs;
    }
}

// Panels at 125 % to 200 %: what a DPI-unaware program is shown (as Windows rounds it) maps back
// onto the physical pixels, edge on edge, and elsewhere within a pixel of the true scale.
TEST(ScreenScale, RectanglesTouchingEveryEdgeLandOnThePhysicalScreen) {
    for (const ScreenSize panel : {ScreenSize{1920, 1080}, ScreenSize{2560, 1440}, ScreenSize{1366, 768}}) {
        for (const int percent : {100, 125, 150, 175, 200}) {
            const int32_t w = (panel.width * 100 + percent / 2) / percent, h = (panel.height * 100 + percent / 2) / percent;
            const std::string what = std::to_string(panel.width) + " at " + std::to_string(percent) + " %";
            // Seen, and the physical edges known exactly (-1: only within a pixel of the true scale).
            const std::pair<ScreenEdges, ScreenEdges> cases[] = {
                {{0, 0, w, h}, {0, 0, panel.width, panel.height}},
                {{0, 0, 1, 1}, {0, 0, -1, -1}},                                  // top-left pixel
                {{w - 1, h - 1, w, h}, {-1, -1, panel.width, panel.height}},     // bottom-right pixel
                {{w / 3, h / 4, w / 2, h * 3 / 4}, {-1, -1, -1, -1}},
                {{-w / 2, -h / 3, w / 5, h / 6}, {-1, -1, -1, -1}},              // from a monitor left of it
            };
            for (const auto& [seen, known] : cases) {
                const ScreenEdges mapped = SeenToPhysical(seen, ScreenSize{w, h}, panel);
                const int32_t in[] = {seen.left, seen.top, seen.right, seen.bottom};
                const int32_t out[] = {mapped.left, mapped.top, mapped.right, mapped.bottom};
                const int32_t exact[] = {known.left, known.top, known.right, known.bottom};
                for (int e = 0; e < 4; ++e) {
                    if (exact[e] >= 0) { EXPECT_EQ(out[e], exact[e]) << what << ", edge " << e << " of " << in[0]; }
                    EXPECT_LE(std::abs(out[e] - in[e] * percent / 100.0), 1.0) << what << ", edge " << e;
                }
                EXPECT_GT(mapped.right, mapped.left) << what;
                EXPECT_LT(mapped.left, panel.width) << what << ": a pointer on the last pixel stays in the frame";
            }
        }
    }
}

TEST(CapturePause, PausesAreLeftOutOfTheTimelineAndAddUp) {
    SharedFields shared;
    SimulatedWorld world{shared, 5, 70};
    const auto clock = [&] { return world.nowMs(); };
    for (int64_t start : {200, 1200, 2200}) {
        world.actions.emplace(start, [&] { BeginPause(shared, clock); });
        world.actions.emplace(start + 700, [&] { FoldResume(shared, clock); });
    }
    // A pause and a resume at one instant cut nothing.
    world.actions.emplace(3500, [&] { BeginPause(shared, clock); FoldResume(shared, clock); });
    RunCaptureLoop(shared, world);
    // Each pause is seen up to one sleep late and last measured up to 10 ms early.
    EXPECT_GE(shared.totalPausedMs, 3 * 650);
    EXPECT_LE(shared.totalPausedMs, 3 * 700);
    for (size_t k = 1; k < world.timesMs.size(); ++k) EXPECT_LE(world.timesMs[k] - world.timesMs[k - 1], 50);
    EXPECT_GE(world.nowMs() - world.timesMs.back(), 3 * 650);
}

TEST(CaptureEnd, AStopOrAFailedWriteEndsTheLoopAtOnce) {
    SharedFields stopped, shared;
    stopped.stopRequested = true;
    SimulatedWorld idle{stopped, 5, 100}, world{shared, 5, 100};
    world.failAtGrab = 4;
    RunCaptureLoop(stopped, idle);
    EXPECT_TRUE(idle.timesMs.empty());
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
        return std::this_thread::yield(), v;
    }
    YieldingState& operator=(int32_t v) { return value.store(v), *this; }
};

using StressFields = SharedFieldsOf<YieldingState>;

// The clock is advanced by the "user" thread only, so the test knows exactly how much time
// was spent recording; the worker reads it concurrently.
struct ThreadedWorld {
    std::atomic<int64_t>& clock;
    StressFields& shared;
    std::vector<int64_t> sampleTimes;  // read only after the worker has ended
    std::atomic<size_t> grabs{0}, pausesMet{0};  // passes that found the recording paused

    int64_t nowMs() { return pausesMet += shared.state.value.load() == Paused, clock.load(); }
    void sleepMs(int64_t) { std::this_thread::yield(); }
    bool grab(int64_t sampleTime) { return sampleTimes.push_back(sampleTime), ++grabs, true; }
};

TEST(CaptureStress, FastPauseResumeCyclesKeepTheTimelineSound) {
    StressFields shared;
    std::atomic<int64_t> clock{1};
    ThreadedWorld world{clock, shared, {}, {0}, {0}};
    std::thread worker([&] { RunCaptureLoop(shared, world); });
    const auto now = [&] { return clock.load(); };

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> step(0, 3);
    int64_t recordedMs = 0, pausedMs = 0;
    // Until the worker has met pauses often enough for a resume to have crossed its passes.
    for (int cycle = 0; cycle < 20000 || (world.pausesMet < 1000 && cycle < 5'000'000); ++cycle) {
        const bool recording = shared.state.load() == Recording;
        const int64_t advance = step(random);
        clock += advance;
        (recording ? recordedMs : pausedMs) += advance;
        if (random() % 2 == 0) std::this_thread::yield();
        recording ? BeginPause(shared, now) : FoldResume(shared, now);
    }
    if (shared.state.load() == Paused) FoldResume(shared, now);
    // One more long stretch of recording so the worker takes a last frame at a known time.
    clock += 1000;
    recordedMs += 1000;
    const size_t before = world.grabs.load();
    for (int wait = 0; wait < 2000 && world.grabs.load() == before; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(world.grabs.load(), before) << "the worker took no frame after the last resume";
    ASSERT_GE(world.pausesMet.load(), 1000u) << "the worker hardly met a pause: the race was not tried";
    shared.stopRequested = true;
    worker.join();

    for (size_t k = 1; k < world.sampleTimes.size(); ++k)
        ASSERT_GE(world.sampleTimes[k], world.sampleTimes[k - 1]) << "frame " << k << " runs backwards";
    // Pauses are cut at the instants of the clicks, whatever the worker saw of them.
    EXPECT_EQ(shared.totalPausedMs, pausedMs);
    const int64_t lastMs = world.sampleTimes.back() / kTicksPerMs;
    EXPECT_GE(lastMs, recordedMs);
    EXPECT_LE(lastMs, clock.load());
}

}  // namespace
