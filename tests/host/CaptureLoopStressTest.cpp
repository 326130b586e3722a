// Many fast pause/resume cycles from another thread while the worker runs: sample times
// never run backwards, and recorded time is never counted as paused.
#include "SimulatedRecorder.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace {

// The state as the recorder holds it, but giving the other thread a chance to run right
// after every read: that is where an unguarded pass and a resume would interleave.
struct YieldingState {
    explicit YieldingState(int32_t initial) : value(initial) {}
    std::atomic<int32_t> value;
    int32_t load() {
        const int32_t v = value.load();
        std::this_thread::yield();
        return v;
    }
    YieldingState& operator=(int32_t v) {
        value.store(v);
        return *this;
    }
};

using StressFields = SharedFieldsOf<YieldingState>;

// The clock is advanced by the "user" thread only, so the test knows exactly how much time
// was spent recording; the worker reads it concurrently.
struct ThreadedWorld {
    ThreadedWorld(StressFields& fields, std::atomic<int64_t>& time) : shared(fields), clock(time) {}

    StressFields& shared;
    std::atomic<int64_t>& clock;
    std::vector<int64_t> sampleTimes;  // read only after the worker has ended
    std::atomic<size_t> grabs{0};

    int64_t nowMs() { return clock.load(); }
    void sleepMs(int64_t) { std::this_thread::yield(); }
    void grab(int64_t sampleTime) {
        sampleTimes.push_back(sampleTime);
        ++grabs;
    }
};

TEST(CaptureStress, FastPauseResumeCyclesKeepTheTimelineSound) {
    StressFields shared;
    std::atomic<int64_t> clock{1};
    ThreadedWorld world{shared, clock};
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
