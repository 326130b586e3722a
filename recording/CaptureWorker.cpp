// Recorder::stop, the capture worker thread (CaptureWorker), the one wait for it (WaitForWorker), DiscardRecorder.
#include "recording/CaptureLoop.h"
#include "recording/DiskSpace.h"
#include "recording/Recorder.h"
#include "recording/ScreenPixels.h"

namespace {

constexpr DWORD kWorkerCheckIntervalMs = 10;
constexpr DWORD kStopWaitMs = 1000;
constexpr DWORD kDiscardWaitMs = 2000;

// The worker's view of the platform: the recording's clock, Sleep, the grab and the
// free-space guard, checked about once a second rather than per frame.
struct WorkerEnvironment {
    Recorder& recorder;
    int64_t nextDiskCheckMs = 0;

    int64_t nowMs() { return RecordingClockMs(recorder); }
    void sleepMs(int64_t ms) { Sleep(static_cast<DWORD>(ms)); }
    bool grab(int64_t sampleTime) {
        recorder.captureFrame(sampleTime);
        if (FAILED(recorder.writerFailure.load())) return false;
        const int64_t now = nowMs();
        if (now < nextDiskCheckMs) return true;
        nextDiskCheckMs = now + kDiskCheckIntervalMs;
        if (!FreeSpaceBelow(recorder.outputPath, kFreeSpaceToGoOn)) return true;
        HRESULT none = S_OK;
        recorder.writerFailure.compare_exchange_strong(none, kLowDiskSpace);
        return false;
    }
};

}  // namespace

void CaptureWorker(Recorder* recorder) {
    // Physical pixels for the screen's size, the pointer and the copy; the thread ends with it.
    PerMonitorAwareThread physicalPixels;
    WorkerEnvironment env{*recorder};
    RunCaptureLoop(*recorder, env);
    // The main window ends the recording on its own thread; the worker never touches windows.
    if (FAILED(recorder->writerFailure.load()) && !recorder->stopRequested.load() && recorder->notifyWindow)
        PostMessageW(recorder->notifyWindow, recorder->notifyMessage, 0, 0);
    ReleaseGrabSurface(*recorder);
    // Last touch of the recorder: stop() may hand the writer on as soon as it sees this.
    recorder->workerActive.store(false);
}

int64_t RecordingClockMs(const Recorder& r) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return WorkerClockMs(now.QuadPart, r.clockStart.QuadPart, r.clockFrequency.QuadPart);
}

int64_t RecordingInstant100ns(const Recorder& r, int64_t clockMs) {
    return PerformanceCounter100ns(r.clockStart.QuadPart, r.clockFrequency.QuadPart) + clockMs * kTicksPerMs;
}

bool WaitForWorker(Recorder& r, DWORD limitMs) {
    const ULONGLONG start = GetTickCount64();
    while (r.workerActive.load()) {
        if (limitMs != INFINITE && GetTickCount64() - start >= limitMs) return false;
        Sleep(kWorkerCheckIntervalMs);
    }
    return true;
}

HRESULT Recorder::stop() {
    if (state.load() == Ready) return S_OK;
    const int64_t stoppedAt = RecordingInstant100ns(*this, RecordingClockMs(*this));
    stopRequested.exchange(true);
    state = Ready;
    if (workerThread.joinable()) {
        if (WaitForWorker(*this, kStopWaitMs))
            workerThread.join();
        else
            workerThread.detach();  // still inside a long grab; it ends by itself
    }
    // The sound ends with the picture's last frame, written before the writer is taken away.
    FinishRecordingSound(*this, stoppedAt, videoEnd100ns.load());
    // Taking the writer under the lock waits for a WriteSample in progress; a detached worker
    // finds the slot empty afterwards and drops its frame instead of touching this writer.
    ComRef<IMFSinkWriter> writer;
    {
        std::lock_guard<std::mutex> guard(writerLock);
        writer = std::move(sinkWriter);
    }
    // After a failed write the writer still closes the file as well as the disk allows.
    const HRESULT finalized = writer ? writer->Finalize() : S_OK;
    finalizeResult = finalized;
    const HRESULT failure = WriteFailureOnVolume(writerFailure.load(), outputPath);
    return FAILED(failure) ? failure : WriteFailureOnVolume(finalized, outputPath);
}

void DiscardRecorder(Recorder* recorder) {
    if (!recorder) return;
    recorder->stop();
    if (WaitForWorker(*recorder, kDiscardWaitMs)) delete recorder;
}
