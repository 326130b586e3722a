#pragma once
// Where each captured sound frame goes in the recording, so that the sound track stays on the
// picture's timeline: frames before the start or inside a pause are dropped, muted stretches
// and SILENT packets become zeros, gaps become silence, and the drift between the device's
// clock and the performance counter is steered away through the converter's compensation.
//
// Clocks. Instants ("qpc") are performance-counter times in 100 ns units, all >= 0: the
// recording's start, its pauses and resumes, the mute switch and the capture client's stamp of
// each packet's first frame (GetBuffer's QPC position). The recording time of an instant is
// the instant minus the start minus the paused time before it, the same clock the video frames
// are stamped on. The output is the track at kOutputRate, counted in frames from its start.
//
// The caller's loop, on the capture thread, per packet:
//   timeline.plan(packet, position, plan);      // position: see plan() below
//   converter.setCompensation(plan.compensation.sampleDelta, plan.compensation.distance);
//   for each step: Feed -> the packet's next `frames` into the converter; FeedZeros -> as many
//   zero frames into the converter, skipping them in the packet; Drop -> skip them in the
//   packet; Silence -> as many zero device frames into the converter, the packet untouched.
// Steps are in device frames and consume the packet in order; the frames of Feed, FeedZeros
// and Drop add up to packet.frames. Silence goes through the converter too, so the order of
// the sound is kept and the track's buffers stay contiguous.
// At stop: pause(stop instant), so nothing captured after it is taken; plan the packets
// captured before it; flush the converter; then FramesToTrackEnd() says how much silence to
// append or how much to cut for the track to end with the video.
//
// Threads. Every call takes the timeline's own lock for a few microseconds and waits on
// nothing else, so the UI thread (pause, resume, setMuted) and the capture thread (plan,
// deviceLost, soundMissingFrom) need no lock of their own.
#include <cstdint>
#include <mutex>
#include <vector>

namespace zv::audio {

constexpr int64_t kOutputRate = 48'000;          // frames per second of the recorded track
constexpr int64_t kTicksPerSecond = 10'000'000;  // instants and times are in 100 ns units

// The track's time at an output frame count: buffers stamped from the running count of frames
// written lie back to back, without rounding adding up.
inline int64_t TrackTime100ns(int64_t outputFrames) { return outputFrames * kTicksPerSecond / kOutputRate; }

// What the capture client handed out: `frames` device frames, the first captured at `qpc100ns`.
struct DevicePacket {
    int64_t frames = 0;
    int64_t qpc100ns = 0;
    bool silent = false;         // AUDCLNT_BUFFERFLAGS_SILENT: the data is to be read as zeros
    bool discontinuity = false;  // AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY: sound was lost before it
};

enum class StepKind { Feed, FeedZeros, Drop, Silence };

struct Step {
    StepKind kind = StepKind::Feed;
    int64_t frames = 0;  // device frames
};

// For swr_set_compensation: sampleDelta output frames more (or fewer, when negative) spread
// over the next `distance` output frames. Renewed with every packet; never more than 0.5 %.
struct Compensation {
    int sampleDelta = 0;
    int distance = 0;
};

struct PacketPlan {
    std::vector<Step> steps;  // cleared and refilled by plan(), so its memory is reused
    Compensation compensation;
};

// Output frames to add (> 0, zeros written after the converter's last frames) or to cut from
// the end (< 0) so that a track holding `outputFrames` ends at `endRecordingTime100ns`, the
// end of the video. Call it after the converter is flushed, when it holds nothing back.
int64_t FramesToTrackEnd(int64_t endRecordingTime100ns, int64_t outputFrames);

class SoundTimeline {
public:
    // `startQpc100ns` is the instant the picture's recording time 0 belongs to; `muted` is the
    // microphone switch at that instant; `deviceRate` the device's frames per second.
    SoundTimeline(int64_t startQpc100ns, int deviceRate, bool muted);
    SoundTimeline(const SoundTimeline&) = delete;
    SoundTimeline& operator=(const SoundTimeline&) = delete;

    // The pause's instants must be those the picture leaves out: the paused time the sound
    // skips is resume minus pause, exactly as the picture's. Frames captured in between are
    // dropped. Repeated calls in the same state change nothing; instants never go backwards
    // (an earlier one counts as the previous change's).
    void pause(int64_t qpc100ns);
    void resume(int64_t qpc100ns);
    // Frames captured from `qpc100ns` on are zeros while muted. An instant already planned
    // past takes effect with the next packet, at most one packet plus the capture latency late.
    void setMuted(bool muted, int64_t qpc100ns);

    // Decides where `packet` goes. `outputPosition` is the output frame the converter's next
    // input frame will land on: the frames it has given out so far plus those it still holds
    // (swr_get_delay(context, kOutputRate)). An error under 20 ms is steered away through the
    // compensation (averaged over about 250 ms of packets against the stamps' jitter, a small
    // one gone within about a second, at most 0.5 % faster or slower); a larger one, the first
    // packet and a packet flagged with a discontinuity are put right at once with silence
    // before the packet or frames dropped from its start.
    // While no packets come (the device is lost; loopback sends nothing while nothing plays),
    // call it with an empty packet (frames 0) stamped with an instant before which every frame
    // has been delivered, e.g. every 50 ms: the track goes on with silence up to that instant,
    // and the next real packet is put in place at once. One that finds the track already past
    // its instant changes nothing.
    void plan(const DevicePacket& packet, int64_t outputPosition, PacketPlan& out);

    // The capture client reported the device gone (AUDCLNT_E_DEVICE_INVALIDATED) at this
    // instant. Only the first call counts.
    void deviceLost(int64_t qpc100ns);
    // The recording time from which sound is missing, for the message at the end; -1 while the
    // device is there.
    int64_t soundMissingFrom() const;

private:
    struct Interval {
        int64_t begin = 0, end = INT64_MAX;  // [begin, end); end stays INT64_MAX while open
    };
    static void Switch(std::vector<Interval>& list, bool on, int64_t qpc100ns);
    int64_t recordingTime(int64_t qpc100ns) const;

    mutable std::mutex lock_;
    const int64_t deviceRate_;
    std::vector<Interval> pauses_;  // the first is the time before the start
    std::vector<Interval> mutes_;
    int64_t smoothedError_ = 0;     // output frames, fixed point, averaged over packets
    bool synced_ = false;
    int64_t lostAt_ = -1;
    Compensation compensation_;
};

}  // namespace zv::audio
