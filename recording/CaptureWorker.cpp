// The capture worker thread and stop().
#include "CaptureLoop.h"
#include "Recorder.h"

namespace {

constexpr int kStopCheckIntervalMs = 10;
constexpr int kStopChecks = 100;

// The worker's view of the platform: performance-counter clock, Sleep and the grab.
struct WorkerEnvironment {
    Recorder& recorder;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};

    int64_t nowMs() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return WorkerClockMs(now.QuadPart, start.QuadPart, frequency.QuadPart);
    }
    void sleepMs(int64_t ms) { Sleep(static_cast<DWORD>(ms)); }
    void grab(int64_t sampleTime) { recorder.captureFrame(sampleTime); }
};

}  // namespace

void CaptureWorker(Recorder* recorder) {
    WorkerEnvironment env{*recorder};
    QueryPerformanceFrequency(&env.frequency);
    QueryPerformanceCounter(&env.start);
    RunCaptureLoop(*recorder, env);
    // Last touch of the recorder: stop() may hand the writer on as soon as it sees this.
    recorder->workerActive.store(false);
}

void Recorder::stop() {
    if (state.load() == Ready) return;
    stopRequested.exchange(true);
    state = Ready;
    if (workerThread.joinable()) {
        for (int check = 0; check < kStopChecks && workerActive.load(); ++check)
            Sleep(kStopCheckIntervalMs);
        if (workerActive.load())
            workerThread.detach();  // still inside a long grab; it ends by itself
        else
            workerThread.join();
    }
    // Taking the writer under the lock waits for a WriteSample in progress; a detached worker
    // finds the slot empty afterwards and drops its frame instead of touching this writer.
    ComRef<IMFSinkWriter> writer;
    {
        std::lock_guard<std::mutex> guard(writerLock);
        writer = std::move(sinkWriter);
    }
    if (writer) writer->Finalize();
}
