#pragma once
// The one object through which the program records the screen: capture rectangle, output
// file, sink writer, worker thread and the pause bookkeeping that keeps paused time out of
// the video's timeline, and the sound path beside it. Its operations, by file: Recorder.cpp
// (construction, setupSinkWriter), FrameGrabber.cpp (captureFrame, ReleaseGrabSurface),
// CaptureWorker.cpp (the worker, stop, WaitForWorker, DiscardRecorder), RecordingControl.cpp
// (StartRecording, PauseRecording, ResumeRecording, SetRecordingMuted), RecorderSound.cpp (the sound).
#include "common/ComRef.h"
#include "common/WinHandles.h"
#include "recording/RecorderSound.h"
#include "recording/RecorderState.h"
#include "recording/ScreenScale.h"
#include "recording/audio/SoundSource.h"

#include <windows.h>
#include "recording/mediafoundation/MediaFoundation.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class Recorder {
public:
    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // With sound, the writer gets a second stream (AAC from 16-bit PCM) at soundStreamIndex.
    HRESULT setupSinkWriter(bool withSound = false);
    HRESULT captureFrame(int64_t sampleTime);
    // Ends the recording and finalizes the file. The result is the first failure of this
    // recording (the writer's during it, else Finalize's); S_OK when nothing was recording.
    HRESULT stop();
    // Finalize's result at the last stop: after a failed one the file may not play.
    HRESULT finalizeResult = S_OK;

    std::atomic<int32_t> state{Ready};
    int32_t captureX = 0;
    int32_t captureY = 0;
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    std::wstring outputPath;
    ComRef<IMFSinkWriter> sinkWriter;
    DWORD streamIndex = 0;
    DWORD soundStreamIndex = 0;
    std::atomic<bool> stopRequested{false};
    std::thread workerThread;
    // The recording's clock, shared by the frames and the sound: performance-counter ticks at its start.
    LARGE_INTEGER clockStart{};
    LARGE_INTEGER clockFrequency{};
    int64_t pauseStartMs = 0;
    int64_t currentPauseMs = 0;
    int64_t totalPausedMs = 0;
    // The grab's surface, made by the first grab of a recording and kept until the worker ends
    // (ReleaseGrabSurface): the screen's DC, a memory DC and, selected into it, a bottom-up
    // 32-bit DIB section that bitmapInfo describes and whose bits (frameBits) are the frame.
    UniqueScreenDc screenDC;
    UniqueMemoryDc memoryDC;
    UniqueBitmap frameBitmap;
    BITMAPINFO bitmapInfo{};
    BYTE* frameBits = nullptr;
    // The screen as the grabbing thread sees it and physically, for the pointer's position.
    ScreenSize seenScreen;
    ScreenSize physicalScreen;
    // The built-in writer copies each frame inside WriteSample and keeps no reference to the
    // sample, so its samples may lend it frameBits; the platform's writer gets a copy.
    bool writerCopiesFrame = false;

    // Guards the pause fields between the worker's pass and the UI thread's pause/resume.
    std::mutex pauseLock;
    // Serialises the worker's WriteSample with stop's hand-over of the writer, so a grab in
    // progress finishes before Finalize and no later grab reaches a finalized writer.
    std::mutex writerLock;
    // True from the start of a worker until it has left its loop.
    std::atomic<bool> workerActive{false};
    // The first failure of the writer (or the disk guard) in this recording; the worker ends
    // its loop once it is set and posts notifyMessage to notifyWindow (if any).
    std::atomic<HRESULT> writerFailure{S_OK};
    HWND notifyWindow = nullptr;
    UINT notifyMessage = 0;

    // Sound: the source chosen for the next recording and the mute switch (both set by the UI).
    SoundSource soundSource;
    std::atomic<bool> soundMuted{false};
    // Why this recording goes on without sound although a source was chosen (S_OK: it has sound,
    // or none was chosen).
    HRESULT soundStartFailure = S_OK;
    // Recording time from which the source was gone, -1 while it is there.
    std::atomic<int64_t> soundMissingFromMs{-1};
    RecorderSound sound;
    // The end of the last frame written (its time plus its duration), where the sound ends too.
    std::atomic<int64_t> videoEnd100ns{0};

private:
    bool comInitialized_ = false;
    bool mediaStarted_ = false;
};

void CaptureWorker(Recorder* recorder);
// Milliseconds since the recording's start, paused time included, and such a time as an
// instant of the performance counter in 100 ns units.
int64_t RecordingClockMs(const Recorder& recorder);
int64_t RecordingInstant100ns(const Recorder& recorder, int64_t clockMs);

// Lets go of the grab's surface; the worker calls it when it leaves its loop, the destructor
// once more. The next grab makes a new one.
void ReleaseGrabSurface(Recorder& recorder);

// Waits up to limitMs for the worker to leave its loop; true when no worker runs. The limits
// of the callers: stop() 1 s (then it detaches the worker), a new recording 2 s behind a
// worker an earlier stop() left behind, DiscardRecorder 2 s (then the Recorder is leaked),
// the destructor without limit (its memory must outlive any worker).
bool WaitForWorker(Recorder& recorder, DWORD limitMs);

// Stops and deletes a Recorder at the end of the program. A worker still stuck in a grab
// keeps reading it, so then it is deliberately left in place for the process's end.
void DiscardRecorder(Recorder* recorder);

// Starts a recording from the given rectangle into outputPath; false leaves the recorder Ready,
// with the reason in *failure when given.
bool StartRecording(Recorder& recorder, int32_t x, int32_t y, int32_t width, int32_t height,
                    const std::wstring& outputPath, HRESULT* failure = nullptr);
void PauseRecording(Recorder& recorder);
void ResumeRecording(Recorder& recorder);
// The mute switch, during a recording too: silence from this instant on, or sound again.
void SetRecordingMuted(Recorder& recorder, bool muted);
