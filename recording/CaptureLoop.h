#pragma once
// The capture worker's pacing and pause accounting, free of any platform call so that it
// runs against a simulated clock in tests. `Shared` is the recorder (fields state,
// stopRequested, pauseStartMs, currentPauseMs, totalPausedMs, pauseLock); `Env` supplies
// nowMs(), sleepMs(ms) and grab(sampleTime100ns), which returns false when the recording
// cannot go on (the writer failed); the loop then ends as if told to stop.
#include "recording/RecorderState.h"
#include "recording/RecordingFormat.h"

#include <atomic>
#include <cstdint>
#include <mutex>

constexpr int64_t kIdleSleepMs = 10;
constexpr int64_t kTicksPerMs = 10'000;  // sample times are in 100 ns units

// Milliseconds since `start`, multiplied before dividing so nothing is lost to rounding.
inline int64_t WorkerClockMs(int64_t counterNow, int64_t counterStart, int64_t frequency) {
    return (counterNow - counterStart) * 1000 / frequency;
}

// Sleep before the next due frame: 9/10 of the time left, none in the last millisecond.
inline int64_t SleepBeforeDueMs(int64_t remainingMs) {
    return remainingMs <= 1 ? 0 : remainingMs * 9 / 10;
}

// What one pass decided, read under the pause lock so the UI thread's resume fold is
// never seen half done.
struct PassPlan {
    RecorderState state = Ready;
    int64_t recordingTimeMs = 0;
};

template <typename Shared, typename Env>
PassPlan PlanPass(Shared& r, Env& env) {
    std::lock_guard<std::mutex> guard(r.pauseLock);
    PassPlan plan;
    plan.state = static_cast<RecorderState>(r.state.load());
    if (plan.state != Recording && plan.state != Paused) return plan;
    // The clock is read after the state, so a measured pause never starts before the pause did.
    const int64_t nowMs = env.nowMs();
    if (plan.state == Recording) {
        plan.recordingTimeMs = nowMs - r.totalPausedMs - r.currentPauseMs;
    } else if (plan.state == Paused) {
        if (r.pauseStartMs == 0)
            r.pauseStartMs = nowMs;
        else
            r.currentPauseMs = nowMs - r.pauseStartMs;
    }
    return plan;
}

template <typename Shared, typename Env>
void RunCaptureLoop(Shared& r, Env& env) {
    {
        std::lock_guard<std::mutex> guard(r.pauseLock);
        r.currentPauseMs = 0;
        r.pauseStartMs = 0;
        r.totalPausedMs = 0;
    }
    int64_t frameIndex = 0;
    while (!r.stopRequested.load()) {
        PassPlan plan = PlanPass(r, env);
        int64_t sleep = kIdleSleepMs;
        if (plan.state == Recording) {
            int64_t t = plan.recordingTimeMs;
            if (t >= frameIndex * kFrameGridMs) {
                if (!env.grab(t * kTicksPerMs)) return;
                ++frameIndex;
            }
            sleep = SleepBeforeDueMs(frameIndex * kFrameGridMs - t);
        }
        env.sleepMs(sleep);
    }
}

// The UI thread's side of a pause: the worker measures it from its next pass on.
template <typename Shared>
void BeginPause(Shared& r) {
    std::lock_guard<std::mutex> guard(r.pauseLock);
    r.state = Paused;
}

// The UI thread's side of a resume: fold the measured pause into the total and carry on.
// Done under the lock the worker's pass holds, so a pass that saw Paused can neither
// restart the pause clock nor store a measurement after the fold.
template <typename Shared>
void FoldResume(Shared& r) {
    std::lock_guard<std::mutex> guard(r.pauseLock);
    r.totalPausedMs += r.currentPauseMs;
    r.currentPauseMs = 0;
    r.pauseStartMs = 0;
    r.state = Recording;
}
