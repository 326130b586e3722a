#pragma once
// The capture worker's pacing and pause accounting, free of any platform call so that it
// runs against a simulated clock in tests. `Shared` is the recorder (fields state,
// stopRequested, pauseStartMs, currentPauseMs, totalPausedMs, pauseLock); `Env` supplies
// nowMs(), sleepMs(ms) and grab(sampleTime100ns), which returns false when the recording
// cannot go on (the writer failed); the loop then ends as if told to stop. The pause fields
// start at zero: the recording's start clears them before the worker runs.
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
        r.currentPauseMs = nowMs - r.pauseStartMs;
    }
    return plan;
}

template <typename Shared, typename Env>
void RunCaptureLoop(Shared& r, Env& env) {
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

// The UI thread's side of a pause, at the instant `nowMs()` gives (the worker's clock). The
// instants of the click are the ones the sound is cut at too; read under the lock the worker's
// pass holds, so no frame is stamped after a pause's start.
template <typename Shared, typename Clock>
int64_t BeginPause(Shared& r, Clock nowMs) {
    std::lock_guard<std::mutex> guard(r.pauseLock);
    r.pauseStartMs = nowMs();
    r.currentPauseMs = 0;
    r.state = Paused;
    return r.pauseStartMs;
}

// The UI thread's side of a resume: fold the pause into the total and carry on; gives the
// instant of the resume.
template <typename Shared, typename Clock>
int64_t FoldResume(Shared& r, Clock nowMs) {
    std::lock_guard<std::mutex> guard(r.pauseLock);
    const int64_t resumedMs = nowMs();
    r.totalPausedMs += resumedMs - r.pauseStartMs;
    r.currentPauseMs = 0;
    r.pauseStartMs = 0;
    r.state = Recording;
    return resumedMs;
}
