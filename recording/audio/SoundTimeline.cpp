#include "SoundTimeline.h"

#include <algorithm>
#include <cstdlib>

namespace zv::audio {
namespace {

constexpr int64_t kSnapFrames = kOutputRate / 50;         // 20 ms: above the stamps' jitter, below what is heard as out of sync
constexpr int kCompensationDistance = kOutputRate;        // the error is steered away over about a second
constexpr int kMaxCompensation = kCompensationDistance / 200;  // 0.5 %, a pitch change nobody hears
constexpr int64_t kSmoothingFrames = kOutputRate / 4;     // the stamps' jitter is averaged over about 250 ms
constexpr int64_t kErrorScale = 1024;                     // fixed point, so small errors are not rounded away

int64_t OutputFramesAt(int64_t time100ns) { return time100ns * kOutputRate / kTicksPerSecond; }

// The first frame of a packet captured at or after `instant`, within [0, frames].
int64_t FrameAt(int64_t instant, const DevicePacket& packet, int64_t rate) {
    if (instant <= packet.qpc100ns) return 0;
    const int64_t span = instant - packet.qpc100ns;
    if (span / kTicksPerSecond >= packet.frames / rate + 1) return packet.frames;  // also keeps INT64_MAX from overflowing
    return std::min(packet.frames, (span * rate + kTicksPerSecond - 1) / kTicksPerSecond);
}

void Append(std::vector<Step>& steps, StepKind kind, int64_t frames) {
    if (frames <= 0) return;
    if (!steps.empty() && steps.back().kind == kind)
        steps.back().frames += frames;
    else
        steps.push_back({kind, frames});
}

}  // namespace

int64_t FramesToTrackEnd(int64_t endRecordingTime100ns, int64_t outputFrames) {
    return OutputFramesAt(endRecordingTime100ns) - outputFrames;
}

SoundTimeline::SoundTimeline(int64_t startQpc100ns, int deviceRate, bool muted) : deviceRate_(deviceRate) {
    pauses_.push_back({0, startQpc100ns});
    if (muted) mutes_.push_back({startQpc100ns, INT64_MAX});
}

void SoundTimeline::Switch(std::vector<Interval>& list, bool on, int64_t qpc100ns) {
    const bool isOn = !list.empty() && list.back().end == INT64_MAX;
    if (on == isOn) return;
    const int64_t lastChange = list.empty() ? 0 : (isOn ? list.back().begin : list.back().end);
    const int64_t at = std::max(qpc100ns, lastChange);
    if (on)
        list.push_back({at, INT64_MAX});
    else
        list.back().end = at;
}

void SoundTimeline::pause(int64_t qpc100ns) {
    std::lock_guard<std::mutex> guard(lock_);
    Switch(pauses_, true, qpc100ns);
}

void SoundTimeline::resume(int64_t qpc100ns) {
    std::lock_guard<std::mutex> guard(lock_);
    Switch(pauses_, false, qpc100ns);
}

void SoundTimeline::setMuted(bool muted, int64_t qpc100ns) {
    std::lock_guard<std::mutex> guard(lock_);
    Switch(mutes_, muted, qpc100ns);
}

void SoundTimeline::deviceLost(int64_t qpc100ns) {
    std::lock_guard<std::mutex> guard(lock_);
    if (lostAt_ < 0) lostAt_ = qpc100ns;
}

int64_t SoundTimeline::soundMissingFrom() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lostAt_ < 0 ? -1 : recordingTime(lostAt_);
}

// The time before the start counts as paused, so this is 0 for any instant before it.
int64_t SoundTimeline::recordingTime(int64_t qpc100ns) const {
    int64_t paused = 0;
    for (const Interval& p : pauses_)
        if (p.begin < qpc100ns) paused += std::min(p.end, qpc100ns) - p.begin;
    return qpc100ns - paused;
}

void SoundTimeline::plan(const DevicePacket& packet, int64_t outputPosition, PacketPlan& out) {
    std::lock_guard<std::mutex> guard(lock_);
    out.steps.clear();
    const int64_t rate = deviceRate_;
    auto toDeviceFrames = [rate](int64_t outputFrames) { return (outputFrames * rate + kOutputRate / 2) / kOutputRate; };

    if (packet.frames <= 0) {
        // No device data: silence up to this instant, nothing to steer.
        // A wake-up that finds the track already past the instant changes nothing: the packets
        // still on their way keep being steered, not snapped into place.
        const int64_t gap = OutputFramesAt(recordingTime(packet.qpc100ns)) - outputPosition;
        if (toDeviceFrames(gap) > 0) {
            Append(out.steps, StepKind::Silence, toDeviceFrames(gap));
            synced_ = false;
            compensation_ = {0, kCompensationDistance};
        }
        out.compensation = compensation_;
        return;
    }

    // Cut the packet where a pause or the mute switch changes; a frame follows the state at
    // the instant it was captured.
    for (int64_t f = 0; f < packet.frames;) {
        int64_t next = packet.frames;
        auto stateAt = [&](const std::vector<Interval>& list) {
            bool inside = false;
            for (const Interval& i : list) {
                const int64_t begin = FrameAt(i.begin, packet, rate), end = FrameAt(i.end, packet, rate);
                if (begin <= f && f < end) inside = true, next = std::min(next, end);
                else if (begin > f) next = std::min(next, begin);
            }
            return inside;
        };
        const bool paused = stateAt(pauses_);
        const bool zeros = stateAt(mutes_) || packet.silent;
        Append(out.steps, paused ? StepKind::Drop : zeros ? StepKind::FeedZeros : StepKind::Feed, next - f);
        f = next;
    }

    const int64_t leadingDrop = out.steps.front().kind == StepKind::Drop ? out.steps.front().frames : 0;
    if (leadingDrop < packet.frames) {
        const int64_t firstFed = packet.qpc100ns + leadingDrop * kTicksPerSecond / rate;
        const int64_t error = OutputFramesAt(recordingTime(firstFed)) - outputPosition;
        if (!synced_ || packet.discontinuity || std::abs(error) > kSnapFrames) {
            if (toDeviceFrames(error) > 0) {
                out.steps.insert(out.steps.begin(), {StepKind::Silence, toDeviceFrames(error)});
            } else if (error < 0) {
                // Ahead of the picture: drop what would land too early (the next packet drops on, if need be).
                std::vector<Step> planned;
                planned.swap(out.steps);
                int64_t toDrop = toDeviceFrames(-error);
                for (Step s : planned) {
                    const int64_t dropped = s.kind == StepKind::Drop ? s.frames : std::min(s.frames, toDrop);
                    if (s.kind != StepKind::Drop) toDrop -= dropped;
                    Append(out.steps, StepKind::Drop, dropped);
                    Append(out.steps, s.kind, s.frames - dropped);
                }
            }
            smoothedError_ = 0;
            synced_ = true;
        } else {
            const int64_t weightFrames = packet.frames * kOutputRate / rate;
            smoothedError_ += (error * kErrorScale - smoothedError_) * weightFrames / (weightFrames + kSmoothingFrames);
        }
        const int64_t delta = smoothedError_ / kErrorScale;
        compensation_ = {static_cast<int>(std::clamp<int64_t>(delta, -kMaxCompensation, kMaxCompensation)),
                         kCompensationDistance};
    }
    out.compensation = compensation_;
}

}  // namespace zv::audio
