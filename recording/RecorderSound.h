#pragma once
// The sound of a recording: the capture thread's packets placed on the picture's timeline,
// converted to 48 kHz stereo 16-bit and written as the sink writer's second stream.
#include "recording/audio/AudioCapture.h"
#include "recording/audio/SoundConverter.h"
#include "recording/audio/SoundTimeline.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct RecorderSound {
    AudioCapture capture;
    zv::audio::SoundConverter converter;
    // Made at the recording's start; the capture thread's packets before that are dropped.
    std::unique_ptr<zv::audio::SoundTimeline> timeline;
    zv::audio::PacketPlan plan;
    std::vector<int16_t> converted;
    std::vector<BYTE> zeros;  // device frames of silence
    int64_t framesWritten = 0;
    bool writing = false;     // false once the writer refused a buffer: the picture goes on alone
    // Between the capture thread and the start and end of the recording.
    std::mutex lock;
};

class Recorder;

// Opens the recorder's chosen source; on failure the recording goes without sound.
HRESULT OpenRecordingSound(Recorder& recorder);
// At the recording's start instant (the picture's time 0).
void StartRecordingSound(Recorder& recorder, int64_t startQpc100ns);
// The pause, resume and mute instants, as the picture takes them.
void PauseRecordingSound(Recorder& recorder, int64_t qpc100ns);
void ResumeRecordingSound(Recorder& recorder, int64_t qpc100ns);
void MuteRecordingSound(Recorder& recorder, bool muted, int64_t qpc100ns);
// At stop, before the writer is finalized: the track ends with the picture at `videoEnd100ns`.
void FinishRecordingSound(Recorder& recorder, int64_t stopQpc100ns, int64_t videoEnd100ns);
