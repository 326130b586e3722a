#pragma once
// A recorder's shared fields and a simulated clock for driving the capture loop in tests.
#include "recording/CaptureLoop.h"

#include <functional>
#include <map>
#include <vector>

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

// Time moves only when the loop sleeps or grabs. Actions scheduled at a clock time run as
// soon as the clock reaches it, like a user clicking while the worker sleeps.
struct SimulatedWorld {
    SimulatedWorld(SharedFields& fields, std::function<int64_t(size_t)> cost, size_t stopAfter)
        : shared(fields), grabCostMs(std::move(cost)), stopAfterGrabs(stopAfter) {}

    SharedFields& shared;
    std::function<int64_t(size_t)> grabCostMs;  // cost of grab number i
    size_t stopAfterGrabs;
    int64_t clockUs = 0;  // finer than the loop's clock, so a yielding Sleep(0) costs almost nothing
    std::vector<int64_t> sampleTimes;  // in 100 ns units
    std::vector<int64_t> sleeps;
    std::multimap<int64_t, std::function<void()>> actions;

    int64_t nowMs() const { return clockUs / 1000; }
    void sleepMs(int64_t ms) {
        sleeps.push_back(ms);
        advanceUs(ms == 0 ? 10 : ms * 1000);
    }
    void grab(int64_t sampleTime) {
        sampleTimes.push_back(sampleTime);
        advanceUs(grabCostMs(sampleTimes.size() - 1) * 1000);
        if (sampleTimes.size() >= stopAfterGrabs) shared.stopRequested = true;
    }
    void advanceUs(int64_t us) {
        clockUs += us;
        while (!actions.empty() && actions.begin()->first <= nowMs()) {
            auto action = actions.begin()->second;
            actions.erase(actions.begin());
            action();
        }
    }
    std::vector<int64_t> sampleTimesMs() const {
        std::vector<int64_t> ms;
        for (int64_t t : sampleTimes) ms.push_back(t / kTicksPerMs);
        return ms;
    }
};
