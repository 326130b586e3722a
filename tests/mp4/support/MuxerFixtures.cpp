#include "MuxerFixtures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace mp4test {

zv::mp4::Mp4VideoTrack trackFor(const TestH264Stream& stream, int width, int height) {
    zv::mp4::Mp4VideoTrack track;
    track.width = width;
    track.height = height;
    track.sps = stream.sps;
    track.pps = stream.pps;
    track.creationTime = 3'800'000'000u;
    return track;
}

bool feed(zv::mp4::Mp4Muxer& muxer, const TestH264Stream& stream, const std::vector<int64_t>& times) {
    bool ok = true;
    for (size_t i = 0; i < times.size(); ++i) {
        const TestAccessUnit& frame = stream.frames[i % stream.frames.size()];
        ok = muxer.writeSample(frame.data.data(), frame.data.size(), times[i], frame.keyFrame) && ok;
    }
    return ok;
}

std::vector<int64_t> regularTimes(int count, int64_t start, int64_t step) {
    std::vector<int64_t> times;
    for (int i = 0; i < count; ++i) times.push_back(start + i * step);
    return times;
}

std::vector<bool> keyFlags(const TestH264Stream& stream, size_t count) {
    std::vector<bool> keys;
    for (size_t i = 0; i < count; ++i) keys.push_back(stream.frames[i % stream.frames.size()].keyFrame);
    return keys;
}

bool expectPlaysAsStamped(const std::string& path, const Expectation& expected) {
    const int failuresBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    EXPECT_EQ(decodeErrors(path), "") << path;

    const auto streams = probe(path, "stream");
    EXPECT_EQ(streams.size(), 1u) << path;
    if (streams.size() == 1) {
        const ProbeSection& s = streams[0];
        EXPECT_EQ(s.at("codec_name"), "h264");
        EXPECT_NE(s.at("profile").find("Baseline"), std::string::npos) << s.at("profile");
        EXPECT_EQ(number(s, "width"), expected.width);
        EXPECT_EQ(number(s, "height"), expected.height);
        if (!expected.fragmented) {
            EXPECT_EQ(number(s, "nb_frames"), double(expected.times.size()));
        }
    }

    const auto frames = probe(path, "frame");
    EXPECT_EQ(frames.size(), expected.times.size()) << path;
    for (size_t i = 0; i < std::min(frames.size(), expected.times.size()); ++i) {
        const double want = double(expected.times[i] - expected.times[0]) / 1e7;
        EXPECT_NEAR(number(frames[i], "pts_time"), want, 0.001) << "frame " << i;
        if (i < expected.keyFrames.size()) {
            EXPECT_EQ(number(frames[i], "key_frame"), expected.keyFrames[i] ? 1 : 0) << i;
        }
    }

    const auto packets = probe(path, "packet");
    EXPECT_EQ(packets.size(), expected.times.size());
    for (size_t i = 0; i < std::min(packets.size(), expected.times.size()); ++i) {
        const double gap = i + 1 < expected.times.size() ? double(expected.times[i + 1] - expected.times[i]) / 1e7
                                                         : 333'333 / 1e7;
        EXPECT_NEAR(number(packets[i], "duration_time"), gap, 0.001) << "packet " << i;
    }

    if (!expected.fragmented && !expected.times.empty()) {
        const auto format = probe(path, "format");
        EXPECT_EQ(format.size(), 1u);
        if (!format.empty()) {
            const double total = double(expected.times.back() - expected.times.front() + 333'333) / 1e7;
            EXPECT_NEAR(number(format[0], "duration"), total, 0.001);
        }
    }
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() == failuresBefore;
}

}  // namespace mp4test
