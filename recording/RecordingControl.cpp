// StartRecording, PauseRecording and ResumeRecording: a recording as the main window drives it.
#include "recording/CaptureLoop.h"
#include "recording/DiskSpace.h"
#include "recording/Recorder.h"
#include "recording/RecordingGeometry.h"

namespace {

constexpr DWORD kLateWorkerWaitMs = 2000;

bool Refuse(HRESULT why, HRESULT* failure) {
    if (failure) *failure = why;
    return false;
}

}  // namespace

bool StartRecording(Recorder& r, int32_t x, int32_t y, int32_t width, int32_t height,
                    const std::wstring& outputPath, HRESULT* failure) {
    if (failure) *failure = S_OK;
    if (r.state.load() != Ready) return Refuse(MF_E_INVALIDREQUEST, failure);
    // A worker detached by an earlier stop may still be finishing a long grab; a new recording
    // must not start under it, or it would write into the new file.
    if (!WaitForWorker(r, kLateWorkerWaitMs)) return Refuse(HRESULT_FROM_WIN32(ERROR_BUSY), failure);
    if (FreeSpaceBelow(outputPath, kFreeSpaceToStart)) return Refuse(kLowDiskSpace, failure);
    const FrameSize size = FrameSizeFromRegion(width, height);
    r.captureX = x;
    r.captureY = y;
    r.outputPath = outputPath;
    r.frameWidth = size.width;
    r.frameHeight = size.height;
    // A source that cannot be opened, or a writer that takes no sound, leaves the picture alone.
    r.soundStartFailure = S_OK;
    r.soundMissingFromMs = -1;
    bool withSound = false;
    if (r.soundSource.kind != SoundSourceKind::None) {
        r.soundStartFailure = OpenRecordingSound(r);
        withSound = SUCCEEDED(r.soundStartFailure);
    }
    HRESULT setUp = r.setupSinkWriter(withSound);
    if (FAILED(setUp) && withSound) {
        StopAudioCapture(r.sound.capture);
        r.soundStartFailure = setUp;
        withSound = false;
        setUp = r.setupSinkWriter(false);
    }
    if (FAILED(setUp)) {
        StopAudioCapture(r.sound.capture);
        return Refuse(setUp, failure);
    }
    r.writerFailure = S_OK;
    r.videoEnd100ns = 0;
    r.pauseStartMs = r.currentPauseMs = r.totalPausedMs = 0;
    QueryPerformanceFrequency(&r.clockFrequency);
    QueryPerformanceCounter(&r.clockStart);
    if (withSound) StartRecordingSound(r, RecordingInstant100ns(r, 0));
    r.state = Recording;
    r.stopRequested.exchange(false);
    r.workerActive.store(true);
    try {
        r.workerThread = std::thread(CaptureWorker, &r);
    } catch (const std::system_error&) {
        // No thread: close the file we just began so it is not left half written.
        r.workerActive.store(false);
        r.stop();
        return Refuse(E_OUTOFMEMORY, failure);
    }
    return true;
}

// The sound is cut at the very instants the picture is.
void PauseRecording(Recorder& r) {
    if (r.state.load() != Recording) return;
    const int64_t pausedMs = BeginPause(r, [&r] { return RecordingClockMs(r); });
    PauseRecordingSound(r, RecordingInstant100ns(r, pausedMs));
}

void ResumeRecording(Recorder& r) {
    if (r.state.load() != Paused) return;
    const int64_t resumedMs = FoldResume(r, [&r] { return RecordingClockMs(r); });
    ResumeRecordingSound(r, RecordingInstant100ns(r, resumedMs));
}

void SetRecordingMuted(Recorder& r, bool muted) {
    r.soundMuted = muted;
    MuteRecordingSound(r, muted, PerformanceCounterNow100ns());
}
