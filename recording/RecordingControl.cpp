// Start, pause and resume of a recording, as the main window drives them.
#include "CaptureLoop.h"
#include "RecordingGeometry.h"
#include "Recorder.h"

namespace {

// A worker detached by an earlier stop may still be finishing a long grab; a new recording
// must not start under it, or it would write into the new file.
bool WaitForPreviousWorker(Recorder& r) {
    for (int check = 0; check < 200 && r.workerActive.load(); ++check) Sleep(10);
    return !r.workerActive.load();
}

}  // namespace

bool StartRecording(Recorder& r, int32_t x, int32_t y, int32_t width, int32_t height,
                    const std::wstring& outputPath) {
    if (r.state.load() != Ready) return false;
    if (!WaitForPreviousWorker(r)) return false;
    const FrameSize size = FrameSizeFromRegion(width, height);
    r.captureX = x;
    r.captureY = y;
    r.outputPath = outputPath;
    r.frameWidth = size.width;
    r.frameHeight = size.height;
    if (FAILED(r.setupSinkWriter())) return false;
    r.state = Recording;
    r.stopRequested.exchange(false);
    r.workerActive.store(true);
    try {
        r.workerThread = std::thread(CaptureWorker, &r);
    } catch (const std::system_error&) {
        // No thread: close the file we just began so it is not left half written.
        r.workerActive.store(false);
        r.stop();
        return false;
    }
    return true;
}

void PauseRecording(Recorder& r) {
    if (r.state.load() == Recording) BeginPause(r);
}

void ResumeRecording(Recorder& r) {
    if (r.state.load() == Paused) FoldResume(r);
}
