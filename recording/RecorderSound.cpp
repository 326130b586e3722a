// The recording's sound path, from the capture thread to the sink writer's second stream.
#include "recording/RecorderSound.h"

#include "recording/mediafoundation/MediaFoundationApi.h"
#include "recording/Recorder.h"
#include "recording/RecordingFormat.h"

#include "common/Result.h"

#include <algorithm>
#include <cstring>

namespace {

using zv::audio::StepKind;
using zv::audio::TrackTime100ns;

// Silence is converted in pieces of at most this many device frames.
constexpr int64_t kSilencePiece = 4800;
// Output frames held back from the writer until the next packet or the stop (50 ms).
constexpr int64_t kTailFrames = 2400;

HRESULT WriteSoundSample(Recorder& r, const int16_t* frames, int64_t count, int64_t firstFrame) {
    const DWORD length = static_cast<DWORD>(count * kSoundChannels * sizeof(int16_t));
    ComRef<IMFMediaBuffer> buffer;
    ZV_RETURN_IF_FAILED(NewMemoryBuffer(length, buffer.put()));
    BYTE* target = nullptr;
    ZV_RETURN_IF_FAILED(buffer->Lock(&target, nullptr, nullptr));
    std::memcpy(target, frames, length);
    buffer->Unlock();
    ZV_RETURN_IF_FAILED(buffer->SetCurrentLength(length));
    ComRef<IMFSample> sample;
    ZV_RETURN_IF_FAILED(NewSample(sample.put()));
    ZV_RETURN_IF_FAILED(sample->AddBuffer(buffer.get()));
    // Stamped from the count of frames written, so buffers lie back to back.
    ZV_RETURN_IF_FAILED(sample->SetSampleTime(TrackTime100ns(firstFrame)));
    ZV_RETURN_IF_FAILED(sample->SetSampleDuration(TrackTime100ns(firstFrame + count) - TrackTime100ns(firstFrame)));
    std::lock_guard<std::mutex> guard(r.writerLock);
    if (!r.sinkWriter) return MF_E_SHUTDOWN;
    return r.sinkWriter->WriteSample(r.soundStreamIndex, sample.get());
}

// Hands what the converter gave out to the writer, all but the last `keep` frames, which wait
// so that the stop can still cut the track to the picture's end. A refused buffer ends the
// sound, never the picture: the rest of the recording is silent and the user is told from when.
void WriteConverted(Recorder& r, RecorderSound& s, int64_t keep = kTailFrames) {
    const int64_t count = static_cast<int64_t>(s.converted.size() / kSoundChannels) - keep;
    if (!s.writing) return s.converted.clear();
    if (count <= 0) return;
    if (FAILED(WriteSoundSample(r, s.converted.data(), count, s.framesWritten))) {
        s.writing = false;
        int64_t none = -1;
        r.soundMissingFromMs.compare_exchange_strong(none, TrackTime100ns(s.framesWritten) / 10'000);
    }
    s.framesWritten += count;
    s.converted.erase(s.converted.begin(), s.converted.begin() + count * kSoundChannels);
}

const BYTE* Zeros(RecorderSound& s, int64_t frames) {
    const size_t bytes = static_cast<size_t>(frames) * s.capture.format.bytesPerFrame;
    if (s.zeros.size() < bytes) s.zeros.assign(bytes, 0);
    return s.zeros.data();
}

// One packet (or an empty one for a wake-up without sound) through the timeline's plan.
void PlacePacket(Recorder& r, const CapturedPacket& packet) {
    RecorderSound& s = r.sound;
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.timeline) return;
    const zv::audio::DevicePacket device{packet.frames, packet.time100ns, packet.silent, packet.discontinuity};
    s.timeline->plan(device, s.converter.framesProduced() + s.converter.framesHeld(), s.plan);
    s.converter.setCompensation(s.plan.compensation.sampleDelta, s.plan.compensation.distance);
    const uint32_t bytesPerFrame = s.capture.format.bytesPerFrame;
    int64_t offset = 0;
    for (const zv::audio::Step& step : s.plan.steps) {
        switch (step.kind) {
        case StepKind::Feed:
            s.converter.convert(packet.data ? packet.data + offset * bytesPerFrame : Zeros(s, step.frames),
                                static_cast<size_t>(step.frames), s.converted);
            offset += step.frames;
            break;
        case StepKind::FeedZeros:
            s.converter.convert(Zeros(s, step.frames), static_cast<size_t>(step.frames), s.converted);
            offset += step.frames;
            break;
        case StepKind::Drop:
            offset += step.frames;
            break;
        case StepKind::Silence:
            for (int64_t left = step.frames; left > 0; left -= kSilencePiece) {
                const int64_t piece = std::min(left, kSilencePiece);
                s.converter.convert(Zeros(s, piece), static_cast<size_t>(piece), s.converted);
                WriteConverted(r, s);
            }
            break;
        }
    }
    WriteConverted(r, s);
}

void SourceLost(Recorder& r, int64_t time100ns) {
    std::lock_guard<std::mutex> guard(r.sound.lock);
    if (!r.sound.timeline) return;
    r.sound.timeline->deviceLost(time100ns);
    int64_t none = -1;
    r.soundMissingFromMs.compare_exchange_strong(none, r.sound.timeline->soundMissingFrom() / 10'000);
}

}  // namespace

HRESULT OpenRecordingSound(Recorder& r) {
    RecorderSound& s = r.sound;
    AudioCaptureCallbacks callbacks;
    callbacks.packet = [&r](const CapturedPacket& packet) { PlacePacket(r, packet); };
    callbacks.lost = [&r](int64_t time100ns, HRESULT) { SourceLost(r, time100ns); };
    callbacks.idle = [&r](int64_t settled100ns) {
        CapturedPacket nothing;
        nothing.time100ns = std::max<int64_t>(0, settled100ns);
        PlacePacket(r, nothing);
    };
    ZV_RETURN_IF_FAILED(StartAudioCapture(s.capture, r.soundSource, std::move(callbacks)));
    if (!s.converter.open(s.capture.format.sound).ok()) {
        StopAudioCapture(s.capture);
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    return S_OK;
}

void StartRecordingSound(Recorder& r, int64_t startQpc100ns) {
    RecorderSound& s = r.sound;
    std::lock_guard<std::mutex> guard(s.lock);
    s.timeline = std::make_unique<zv::audio::SoundTimeline>(startQpc100ns, s.capture.format.sound.rate,
                                                             r.soundMuted.load());
    s.framesWritten = 0;
    s.writing = true;
}

void PauseRecordingSound(Recorder& r, int64_t qpc100ns) {
    std::lock_guard<std::mutex> guard(r.sound.lock);
    if (r.sound.timeline) r.sound.timeline->pause(qpc100ns);
}

void ResumeRecordingSound(Recorder& r, int64_t qpc100ns) {
    std::lock_guard<std::mutex> guard(r.sound.lock);
    if (r.sound.timeline) r.sound.timeline->resume(qpc100ns);
}

void MuteRecordingSound(Recorder& r, bool muted, int64_t qpc100ns) {
    std::lock_guard<std::mutex> guard(r.sound.lock);
    if (r.sound.timeline) r.sound.timeline->setMuted(muted, qpc100ns);
}

void FinishRecordingSound(Recorder& r, int64_t stopQpc100ns, int64_t videoEnd100ns) {
    RecorderSound& s = r.sound;
    PauseRecordingSound(r, stopQpc100ns);
    // Its last drain places what was captured before the stop.
    StopAudioCapture(s.capture);
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.timeline) return;
    // A failed flush loses only the few frames the resampler held: the padding below makes them up.
    (void)s.converter.flush(s.converted);
    // Silence added, or the held-back tail cut, so that the track ends with the picture.
    const int64_t held = static_cast<int64_t>(s.converted.size() / kSoundChannels);
    const int64_t toEnd = std::max(-held, zv::audio::FramesToTrackEnd(videoEnd100ns, s.framesWritten + held));
    s.converted.resize(static_cast<size_t>(held + toEnd) * kSoundChannels, 0);
    WriteConverted(r, s, 0);
    s.timeline.reset();
}
