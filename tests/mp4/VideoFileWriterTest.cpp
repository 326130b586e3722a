// The writer end to end: raw frames in, a plain MP4 out that ffmpeg decodes with every frame
// shown at its stamp (relative to the first), paused time left out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "H264Encoder.h"
#include "Mp4Muxer.h"
#include "Mp4TestSupport.h"
#include "SoundConverter.h"
#include "VideoFileWriter.h"

using namespace mp4test;

namespace {

constexpr int64_t kHour = 3600LL * 10'000'000;

struct Recording {
    const char* name;
    int width, height;
    std::vector<int64_t> times;
    std::vector<int64_t> shown;  // when it differs from times
};

std::vector<int64_t> irregularTimes() {
    // Closer than one 90 kHz tick, ten-second pauses, and everything in between.
    std::vector<int64_t> times = {2'000};
    const int64_t gaps[] = {10'000, 333'333, 100'000'000, 166'666, 400'001, 3'000'000, 12'345, 7, 110};
    for (int i = 1; i < 60; ++i) times.push_back(times.back() + gaps[i % 9]);
    return times;
}

// One sample lasts at most 2^31-1 ticks of 90 kHz; a longer gap is shortened to that, and only there.
const int64_t kLongestSample = 0x7FFF'FFFFLL * 10'000'000 / 90'000;

}  // namespace

TEST(VideoFileWriter, RecordingsPlayAsStamped) {
    const Recording recordings[] = {
        {"regular", 64, 48, regularTimes(150), {}},  // several fragments
        {"single", 64, 48, {0}, {}},
        {"irregular", 64, 48, irregularTimes(), {}},
        {"late-start", 64, 48, regularTimes(20, 50'000'000), {}},
        {"tiny", 16, 16, regularTimes(30), {}},
        {"odd-size", 34, 18, regularTimes(30), {}},
        // Over 2^32 ticks in all: 64-bit durations in the index.
        {"ten-hour-pauses", 64, 48, {0, 10 * kHour, 20 * kHour, 20 * kHour + 10'000'000},
         {0, kLongestSample, 2 * kLongestSample, 2 * kLongestSample + 10'000'000}},
        {"Aufnahme ü 录像", 64, 48, regularTimes(10), {}},
    };
    VideoFileWriter writer;  // one writer for all: it must be reusable after finalize
    for (const Recording& r : recordings) {
        const std::string path = scratchDirectory() + "/" + r.name + ".mp4";
        ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{r.width, r.height, 4'000'000, 333'333})) << r.name;
        for (size_t i = 0; i < r.times.size(); ++i) {
            const std::vector<uint8_t> frame = syntheticFrame(r.width, r.height, uint32_t(i));
            ASSERT_TRUE(writer.writeFrame(frame.data(), frame.size(), r.times[i])) << r.name << " frame " << i;
        }
        EXPECT_TRUE(writer.finalize()) << r.name;
        EXPECT_FALSE(writer.isOpen());
        EXPECT_EQ(writer.failure(), WriterFailure::None);
        expectPlaysAs(path, r.width, r.height, r.shown.empty() ? r.times : r.shown, true);
    }
}

TEST(VideoFileWriter, RejectsBadCallsWithoutHarm) {
    const std::string path = scratchDirectory() + "/rejects.mp4";
    VideoFileWriter writer;
    const std::vector<uint8_t> frame = syntheticFrame(64, 48, 0);
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 0));  // not open
    EXPECT_FALSE(writer.finalize());
    EXPECT_FALSE(writer.open(path, VideoFileWriterConfig{64, 0, 4'000'000, 333'333}));
    EXPECT_FALSE(writer.open(scratchDirectory() + "/missing/dir/x.mp4", VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));
    EXPECT_FALSE(writer.open("/dev/full", VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));  // every flush fails with ENOSPC
    zv::mp4::Mp4Muxer muxer;
    EXPECT_FALSE(muxer.open("/dev/full", zv::mp4::Mp4VideoTrack{64, 48, {0x67, 0x42, 0, 10}, {0x68}, 0, 333'333}));
    EXPECT_EQ(muxer.error(), ENOSPC);
    ASSERT_TRUE(writer.open(path, VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));
    EXPECT_FALSE(writer.open(path, VideoFileWriterConfig{64, 48, 4'000'000, 333'333}));  // already open
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size() - 4, 0));
    EXPECT_FALSE(writer.writeFrame(nullptr, frame.size(), 0));
    EXPECT_TRUE(writer.writeFrame(frame.data(), frame.size(), 5'000'000));
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 5'000'000));
    EXPECT_FALSE(writer.writeFrame(frame.data(), frame.size(), 4'000'000));
    EXPECT_FALSE(writer.writeAudio(std::vector<int16_t>(960).data(), 480, 5'000'000));  // no sound track
    EXPECT_TRUE(writer.writeFrame(frame.data(), frame.size(), 5'333'333));
    EXPECT_TRUE(writer.finalize());
    EXPECT_FALSE(writer.finalize());
    EXPECT_EQ(writer.failure(), WriterFailure::None);
    expectPlaysAs(path, 64, 48, {5'000'000, 5'333'333}, true);
}

TEST(Mp4Muxer, StoppedBetweenIndexAndCommitStillPlays) {
    // The final index typed as moov but the fragments not yet wrapped: what a crash in
    // finalize's last write leaves. Players must still take the fragments.
    zv::h264::H264Encoder encoder({64, 48, 4'000'000, 333'333});
    const std::string path = scratchDirectory() + "/half-finalized.mp4";
    const std::vector<int64_t> times = regularTimes(90);
    {
        zv::mp4::Mp4Muxer muxer;
        ASSERT_TRUE(muxer.open(path, zv::mp4::Mp4VideoTrack{64, 48, encoder.sps(), encoder.pps(), 0, 333'333}));
        zv::h264::EncodedFrame encoded;
        for (size_t i = 0; i < times.size(); ++i) {
            encoder.encode(syntheticFrame(64, 48, uint32_t(i)).data(), times[i], encoded);
            ASSERT_TRUE(muxer.writeSample(encoded.data.data(), encoded.data.size(), times[i], encoded.keyFrame));
        }
        ASSERT_TRUE(muxer.writeFinalIndex());
    }
    const std::vector<std::string> boxes = topLevelBoxes(path);
    EXPECT_EQ(boxes.back(), "moov");
    std::vector<std::string> fragments, numbered;  // fragment numbers count up from 1
    std::copy_if(boxes.begin(), boxes.end(), std::back_inserter(fragments), [](auto& b) { return b.starts_with("moof"); });
    for (size_t i = 1; i <= fragments.size(); ++i) numbered.push_back("moof" + std::to_string(i));
    EXPECT_GE(fragments.size(), 2u);
    EXPECT_EQ(fragments, numbered);
    expectPlaysAs(path, 64, 48, times, false);
}

TEST(Mp4Muxer, IndexReachesPastFourGigabytes) {
    using namespace zv::mp4;
    const uint8_t far[8] = {0, 0, 0, 1, 0x40, 0, 0, 0};  // 5 GiB, big-endian
    const std::vector<uint8_t> moov = buildFinalMoov(Mp4VideoTrack{64, 48, {0x67, 0x42, 0, 10}, {0x68}, 0, 333'333},
                                                     Mp4SampleTable{{{100, 3000, true}}, {{5ull << 30, 1}}});
    const auto co64 = std::search(moov.begin(), moov.end(), "co64", "co64" + 4);
    ASSERT_LE(co64 - moov.begin() + 20, moov.end() - moov.begin()) << "32-bit chunk offsets cannot reach past 4 GiB";
    EXPECT_EQ(std::memcmp(&*co64 + 12, far, 8), 0);  // after version/flags and entry count
    const std::vector<uint8_t> mdat = buildWrappingMdatHeader(5ull << 30);
    ASSERT_EQ(mdat.size(), 16u);  // size 1, 'mdat', 64-bit size
    EXPECT_EQ(std::memcmp(mdat.data(), "\0\0\0\1mdat", 8), 0);
    EXPECT_EQ(std::memcmp(mdat.data() + 8, far, 8), 0);
}

TEST(VideoFileWriter, SoundTrackKeepsToneSilenceAndTimeWithThePicture) {
    // Frames from 1 s on. Sound stamped on the same clock: a 1 kHz tone from 0.5 s to 2 s, nothing
    // until 2.5 s, the tone again until 3.9 s; the picture ends at 4 s. In the file: tone until 1 s,
    // silence until 1.5 s, tone until 2.9 s, silence to the end.
    const std::string path = scratchDirectory() + "/sound.mp4";
    VideoFileWriter writer;
    VideoFileWriterConfig config{64, 48, 4'000'000, 333'333};
    config.audio = true;
    ASSERT_TRUE(writer.open(path, config));
    ASSERT_TRUE(writer.hasAudio()) << writer.audioResult().message();
    for (int64_t frame = 24'000; frame < 187'200; frame += 480) {  // 10 ms buffers, as a capture thread sends
        if (frame >= 96'000 && frame < 120'000) continue;
        const std::vector<int16_t> tone = stereoTone(frame, 480, 1000, 16'384);
        ASSERT_TRUE(writer.writeAudio(tone.data(), 480, frame * 10'000'000 / 48'000));
    }
    const std::vector<int64_t> times = regularTimes(90, 10'000'000);
    for (size_t i = 0; i < times.size(); ++i)
        ASSERT_TRUE(writer.writeFrame(syntheticFrame(64, 48, uint32_t(i)).data(), 64 * 48 * 4, times[i]));
    ASSERT_TRUE(writer.finalize());
    EXPECT_TRUE(writer.audioResult().ok()) << writer.audioResult().message();
    expectPlaysAs(path, 64, 48, times, true, true);

    const std::vector<int16_t> sound = decodedSound(path);
    struct Span {
        double from, to;  // seconds in the file, 15 ms kept clear of the edges
        bool tone;
    };
    for (const Span span : {Span{0.015, 0.985, true}, Span{1.015, 1.485, false}, Span{1.515, 2.885, true},
                            Span{2.915, 2.985, false}}) {
        SCOPED_TRACE(span.from);
        double power[2] = {0, 0};
        int peak = 0, rises = 0;
        const size_t first = size_t(span.from * 48'000), last = std::min(size_t(span.to * 48'000), sound.size() / 2);
        for (size_t i = first; i < last; ++i) {
            for (int c = 0; c < 2; ++c) power[c] += double(sound[2 * i + c]) * sound[2 * i + c] / double(last - first);
            peak = std::max(peak, std::abs(int(sound[2 * i])));
            rises += i > first && sound[2 * i - 2] < 0 && sound[2 * i] >= 0;
        }
        EXPECT_NEAR(std::sqrt(power[0]), span.tone ? 16'384 / M_SQRT2 : 0, 600);
        EXPECT_NEAR(std::sqrt(power[1]), span.tone ? 8'192 / M_SQRT2 : 0, 300);
        EXPECT_NEAR(rises, span.tone ? 1000 * (span.to - span.from) : 0, 2);
        EXPECT_LE(peak, span.tone ? 18'000 : 16);  // AAC may overshoot a little
    }
    // Where the tone comes back tells whether the sound keeps its time against the picture.
    size_t onset = 72'000 - 2'400;
    while (onset < sound.size() / 2 && std::abs(sound[2 * onset]) < 8'192) ++onset;
    EXPECT_NEAR(double(onset), 72'000 + 4, 96) << "more than 2 ms off";
}

TEST(SoundConverter, CaptureFormatsBecome48kStereoAndFollowCompensation) {
    using namespace zv::audio;
    struct Case {
        SoundFormat from;
        double level;  // expected RMS on both sides, for a tone at half scale on the first two channels
    };
    const Case cases[] = {{{44'100, 1, SampleFormat::Float32}, 0.5 / M_SQRT2},
                          {{48'000, 2, SampleFormat::Int16}, 0.5 / M_SQRT2},
                          {{96'000, 2, SampleFormat::Int24In32}, 0.5 / M_SQRT2},
                          {{48'000, 6, SampleFormat::Int32}, NAN}};  // mixed down at a level of the library's choosing
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from.rate * 10 + c.from.channels);
        SoundConverter converter;
        ASSERT_TRUE(converter.open(c.from).ok());
        std::vector<int16_t> out;
        for (int second = 0; second < 2; ++second) {
            std::vector<int32_t> in(size_t(c.from.rate * c.from.channels));  // 4 bytes per sample holds every format
            for (int i = 0; i < c.from.rate; ++i) {
                const double v = 0.5 * std::sin(2 * M_PI * 1000 * (second * c.from.rate + i) / c.from.rate);
                for (int ch = 0; ch < std::min(2, c.from.channels); ++ch) {
                    if (c.from.format == SampleFormat::Float32) reinterpret_cast<float*>(in.data())[i * c.from.channels + ch] = float(v);
                    if (c.from.format == SampleFormat::Int16) reinterpret_cast<int16_t*>(in.data())[i * c.from.channels + ch] = int16_t(v * 32767);
                    if (c.from.format >= SampleFormat::Int24In32) in[size_t(i * c.from.channels + ch)] = int32_t(v * 2147483647.0);
                }
            }
            const int64_t before = converter.framesProduced();
            ASSERT_TRUE(converter.convert(in.data(), size_t(c.from.rate), out).ok());
            // Second two: 480 frames more, as asked to make up for a device clock 1 % slow.
            EXPECT_NEAR(double(converter.framesProduced() - before), second == 0 ? 48'000 : 48'480, 64);
            ASSERT_TRUE(second == 1 || converter.setCompensation(480, 48'000).ok());
        }
        // At the stop, what the resampler still owes comes out, all of it and no more.
        const int64_t owed = converter.framesProduced() + converter.framesHeld();
        ASSERT_TRUE(converter.flush(out).ok());
        EXPECT_NEAR(double(owed), 96'480, 2);
        EXPECT_NEAR(double(converter.framesProduced()), 96'480, 2);
        EXPECT_EQ(out.size(), size_t(converter.framesProduced()) * 2);
        double power[2] = {0, 0};
        int rises = 0;
        for (size_t i = 4'800; i < 43'200; ++i) {  // 0.1 s to 0.9 s: clear of the resampler's start
            for (int ch = 0; ch < 2; ++ch) power[ch] += std::pow(out[2 * i + ch] / 32768.0, 2) / 38'400;
            rises += out[2 * i - 2] < 0 && out[2 * i] >= 0;
        }
        EXPECT_NEAR(rises, 800, 2);
        for (double p : power) EXPECT_NEAR(std::sqrt(p), std::isnan(c.level) ? 0.25 : c.level, std::isnan(c.level) ? 0.2 : 0.01);
    }
}
