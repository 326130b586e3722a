// The sound timeline against a simulated device: its clock drifts against the performance
// counter, its stamps jitter, its packets arrive 10 ms after they end, and a resampler stretches
// by the compensation asked for, as libswresample does. Pauses, mute clicks and the stop arrive
// on the clock like a user's. Every device frame knows when it was really captured, so where
// it lands in the track is checked against the picture's time of that instant.
#include "recording/audio/SoundTimeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <random>

using namespace zv::audio;

namespace {

constexpr int64_t kMs = 10'000;
constexpr int64_t kStart = 91'234'567;  // the performance counter at the recording's start

enum What { Pause, Mute, Silent, Gap, FlaggedGap, Lost, Wakeups };
struct Span {
    What what;
    int64_t fromMs, toMs;  // performance counter, ms after the start
};
struct Case {
    const char* name;
    int rate, driftPpm;
    int64_t jitter, seconds, deviceStartMs;
    std::vector<Span> spans;
    double maxOffsetMs, maxCompensationPercent;
};

// Output frames = input frames * 48000 / rate, `sampleDelta` more over the next `distance`.
struct Resampler {
    int64_t rate;
    double out = 0, left = 0, stretch = 1;
    void set(Compensation c) { stretch = 1 + double(c.sampleDelta) / c.distance, left = c.distance; }
    void feed(int64_t frames) {
        const double nominal = double(frames) * kOutputRate / rate, stretched = nominal * stretch;
        out += stretched <= left ? stretched : left + nominal - left / stretch;
        left = std::max(0.0, left - stretched);
    }
};

void Simulate(const Case& c) {
    SCOPED_TRACE(c.name);
    auto at = [](int64_t ms) { return kStart + ms * kMs; };
    auto in = [&](What what, int64_t instant, int64_t scale = 1) {  // instant * scale inside a span
        for (const Span& s : c.spans)
            if (s.what == what && at(s.fromMs) * scale <= instant && instant < at(s.toMs) * scale) return true;
        return false;
    };
    auto recordingTime = [&](double instant) {
        double paused = 0;
        for (const Span& s : c.spans)
            if (s.what == Pause) paused += std::clamp<double>(instant, at(s.fromMs), at(s.toMs)) - at(s.fromMs);
        return instant - kStart - paused;
    };
    SoundTimeline timeline(kStart, c.rate, false);
    std::multimap<int64_t, std::function<void()>> clicks;
    for (const Span& s : c.spans) {
        if (s.what == Pause) clicks.insert({{at(s.fromMs), [&, s] { timeline.pause(at(s.fromMs)); }},
                                            {at(s.toMs), [&, s] { timeline.resume(at(s.toMs)); }}});
        if (s.what == Mute) clicks.insert({{at(s.fromMs), [&, s] { timeline.setMuted(true, at(s.fromMs)); }},
                                           {at(s.toMs), [&, s] { timeline.setMuted(false, at(s.toMs)); }}});
    }
    const int64_t stop = at(c.seconds * 1000);
    clicks.insert({stop, [&] { timeline.pause(stop); }});

    // A step is right when its first frame's fate is its kind and no edge of a fate lies within it.
    std::vector<int64_t> edges{kStart, stop};
    for (const Span& s : c.spans)
        if (s.what == Pause || s.what == Mute) edges.insert(edges.end(), {at(s.fromMs), at(s.toMs)});
    auto fate = [&](int64_t stamp, bool silent) {  // a frame's capture instant, scaled by the rate: exact
        if (stamp < kStart * c.rate || stamp >= stop * c.rate || in(Pause, stamp, c.rate)) return StepKind::Drop;
        return in(Mute, stamp, c.rate) || silent ? StepKind::FeedZeros : StepKind::Feed;
    };
    auto percent = [](Compensation k) { return 100.0 * k.sampleDelta / k.distance; };

    Resampler resampler{c.rate};
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> jitter(-c.jitter, c.jitter);
    const int64_t frames = c.rate / 100;
    const double tick = 1e7 / c.rate / (1 + c.driftPpm * 1e-6);  // a device frame on the performance counter
    double maxOffset = 0, maxCompensation = 0, maxWobble = 0;
    int64_t wrongSteps = 0, needlessSilences = 0;
    bool skipped = false, flagged = false, fed = false;
    PacketPlan plan;
    for (int64_t frame = 0;; frame += frames) {
        const double captured = at(c.deviceStartMs) + 567 + frame * tick;
        const int64_t stamp = std::llround(captured), delivered = std::llround(captured + frames * tick) + 10 * kMs;
        if (captured > stop + 20 * kMs) break;
        while (!clicks.empty() && clicks.begin()->first <= delivered) clicks.begin()->second(), clicks.erase(clicks.begin());
        if (in(Gap, stamp) || in(FlaggedGap, stamp)) {
            skipped = true, flagged = in(FlaggedGap, stamp);
            continue;
        }
        if (in(Wakeups, stamp)) {  // the capture thread woke between two late bursts: nothing to fill
            timeline.plan({0, stamp - 100 * kMs}, int64_t(resampler.out), plan);
            needlessSilences += !plan.steps.empty();
        }
        const bool lost = in(Lost, stamp);
        if (lost) timeline.deviceLost(stamp);
        const DevicePacket packet{lost ? 0 : frames, lost ? delivered - 10 * kMs : stamp + jitter(random), in(Silent, stamp), flagged};
        timeline.plan(packet, int64_t(resampler.out), plan);
        maxWobble = std::max(maxWobble, std::abs(percent(plan.compensation) - 100 * (resampler.stretch - 1)));
        maxCompensation = std::max(maxCompensation, std::abs(percent(plan.compensation)));
        resampler.set(plan.compensation);
        int64_t f = 0;
        for (const Step& s : plan.steps) {
            needlessSilences += s.kind == StepKind::Silence && fed && !skipped && !lost;
            if (s.kind == StepKind::Feed) {  // where the step's first frame lands against the picture's time of its capture
                const double truth = recordingTime(captured + f * tick) * kOutputRate / 1e7;
                maxOffset = std::max(maxOffset, std::abs(resampler.out - truth) * 1000 / kOutputRate);
            }
            if (s.kind != StepKind::Silence) {
                const int64_t first = packet.qpc100ns * c.rate + f * 10'000'000, last = first + (s.frames - 1) * 10'000'000;
                wrongSteps += s.kind != fate(first, packet.silent) ||
                              std::any_of(edges.begin(), edges.end(), [&](int64_t e) { return first < e * c.rate && e * c.rate <= last; });
                f += s.frames;
            }
            if (s.kind != StepKind::Drop) resampler.feed(s.frames);
            fed = fed || s.kind == StepKind::Feed;
        }
        EXPECT_EQ(f, packet.frames);
        skipped = flagged = false;
    }
    EXPECT_EQ(wrongSteps, 0) << "frames dropped, zeroed or kept where they should not be";
    EXPECT_EQ(needlessSilences, 0) << "silence put in where no sound was missing";
    EXPECT_LE(maxOffset, c.maxOffsetMs) << "sound against picture";
    EXPECT_LE(maxCompensation, c.maxCompensationPercent) << "a pitch change nobody hears";
    EXPECT_LE(maxWobble, 0.05) << "the speed wobbles with the stamps' jitter";
    // Stop: the sound reaches the picture's end by itself, and the padding or trim ends it there.
    const int64_t end = std::llround(recordingTime(stop)), produced = int64_t(resampler.out);
    const int64_t toEnd = FramesToTrackEnd(end, produced);
    EXPECT_LE(std::abs(toEnd), 33 * kOutputRate / 1000);
    EXPECT_NEAR((produced + toEnd) * 1e7 / kOutputRate, end, 333'333);
    const auto lost = std::find_if(c.spans.begin(), c.spans.end(), [](const Span& s) { return s.what == Lost; });
    if (lost != c.spans.end()) EXPECT_NEAR(timeline.soundMissingFrom(), recordingTime(at(lost->fromMs)), 10 * kMs);
    else EXPECT_EQ(timeline.soundMissingFrom(), -1);
}

TEST(SoundTimeline, FollowsThePictureThroughStartPausesMuteGapsLossDriftAndStop) {
    const Case cases[] = {
        {"device starts before the start", 48000, 0, 0, 2, -30, {}, 1, 0.01},
        {"device starts after the start", 44100, 0, 0, 2, 50, {}, 1, 0.01},
        {"two pauses cutting packets", 44100, 0, 0, 4, 0, {{Pause, 1003, 1507}, {Pause, 2001, 2650}}, 1, 0.01},
        {"mute within a packet and over many", 48000, 0, 0, 3, 0, {{Mute, 503, 507}, {Mute, 1001, 1733}}, 1, 0.01},
        {"silent packets, a stall, a flagged glitch", 48000, 0, 0, 4, 0,
         {{Silent, 300, 700}, {Gap, 1000, 1300}, {FlaggedGap, 2000, 2008}, {Gap, 3000, 3030}}, 1, 0.01},
        {"device lost after a pause", 44100, 0, 0, 3, 0, {{Pause, 500, 800}, {Lost, 1500, 9999}}, 1, 0.01},
        {"stamps jitter by 2 ms, wake-ups between bursts", 48000, 0, 2 * kMs, 60, 0, {{Wakeups, 5000, 40000}}, 40, 0.2},
        {"device 0.1 % fast for an hour", 44100, 1000, 2 * kMs, 3600, 0, {}, 40, 0.2},
        // Past what compensation may steer: it stays at its limit, and the rest is snapped at 20 ms.
        {"device 0.6 % fast", 48000, 6000, 0, 10, 0, {}, 20, 0.5},
        {"device 0.1 % slow for an hour", 48000, -1000, 2 * kMs, 3600, 0, {}, 40, 0.2},
    };
    for (const Case& c : cases) Simulate(c);
}

}  // namespace
