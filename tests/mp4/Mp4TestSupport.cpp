#include "Mp4TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mp4test {
namespace {

std::string decodeErrors(const std::string& path) {
    // What ffmpeg says while decoding the whole file. Passthrough timing: the null muxer would
    // otherwise round close stamps together and complain.
    int exitCode = 0;
    const std::string out = runCommand(
        "ffmpeg -nostdin -v error -i '" + path + "' -fps_mode passthrough -enc_time_base -1 -f null - 2>&1",
        &exitCode);
    return exitCode != 0 && out.empty() ? "ffmpeg exited with " + std::to_string(exitCode) : out;
}

}  // namespace

std::string scratchDirectory() {
    // Never freed: the exit handler runs after static strings are gone.
    static const std::string* dir = [] {
        auto path = std::filesystem::temp_directory_path() / ("zv-mp4-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(*dir, ignored);
        });
        return new std::string(path.string());
    }();
    return *dir;
}

std::string runCommand(const std::string& command, int* exitCode) {
    std::string output;
    FILE* pipe = popen(("timeout -s KILL 120 " + command).c_str(), "r");
    char buffer[4096];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::vector<uint8_t> syntheticFrame(int width, int height, uint32_t tag) {
    std::vector<uint8_t> frame(size_t(width) * size_t(height) * 4);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i % 4 == 3 ? 0 : (i / 4 % width) * 4 + tag * (i % 4 + 1));
    return frame;
}

std::vector<int64_t> regularTimes(int count, int64_t start) {
    std::vector<int64_t> times;
    for (int i = 0; i < count; ++i) times.push_back(start + i * 333'333);
    return times;
}

std::vector<ProbeSection> probe(const std::string& path, const std::string& sections) {
    const std::string flag = sections == "format" ? "-show_format" : "-count_frames -show_" + sections;
    std::istringstream lines(runCommand("ffprobe -v error " + flag + " -of compact=p=0 '" + path + "'"));
    std::vector<ProbeSection> result;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;  // ffprobe ends a packet with side data with an empty line
        ProbeSection& section = result.emplace_back();
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');) {
            const size_t eq = field.find('=');
            if (eq != std::string::npos) section[field.substr(0, eq)] = field.substr(eq + 1);
        }
    }
    return result;
}

double number(const ProbeSection& section, const std::string& key) {
    const auto found = section.find(key);
    char* end = nullptr;
    const double v = found == section.end() ? NAN : std::strtod(found->second.c_str(), &end);
    return end && *end == '\0' && end != found->second.c_str() ? v : NAN;
}

std::vector<std::string> topLevelBoxes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> types;
    uint8_t header[8];  // the tests' files stay far below 4 GiB: no 64-bit box sizes
    for (uint64_t at = 0; in.seekg(std::streamoff(at)) && in.read(reinterpret_cast<char*>(header), 8);) {
        const uint32_t size = uint32_t(header[0]) << 24 | header[1] << 16 | header[2] << 8 | header[3];
        types.emplace_back(reinterpret_cast<char*>(header + 4), 4);
        uint8_t n[4];  // a fragment's number, from its mfhd (after moof and mfhd headers and version/flags)
        if (types.back() == "moof" && in.seekg(std::streamoff(at + 20)) && in.read(reinterpret_cast<char*>(n), 4)) {
            types.back() += std::to_string(uint32_t(n[0]) << 24 | n[1] << 16 | n[2] << 8 | n[3]);
        }
        if (size < 8) break;
        at += size;
    }
    return types;
}

std::vector<int16_t> stereoTone(int64_t firstFrame, size_t frames, double hz, double amplitude) {
    std::vector<int16_t> samples;
    for (int64_t i = firstFrame; i < firstFrame + int64_t(frames); ++i) {
        const double v = amplitude * std::sin(2 * M_PI * hz * double(i) / 48'000);
        samples.insert(samples.end(), {int16_t(std::lround(v)), int16_t(std::lround(v / 2))});
    }
    return samples;
}

std::vector<int16_t> decodedSound(const std::string& path) {
    const std::string raw = runCommand("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -f s16le -ar 48000 -ac 2 -");
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

void expectPlaysAs(const std::string& path, int width, int height, const std::vector<int64_t>& shown, bool plain,
                   bool withSound) {
    SCOPED_TRACE(path);
    EXPECT_EQ(decodeErrors(path), "");
    const auto streams = probe(path, "streams");
    ASSERT_EQ(streams.size(), withSound ? 2u : 1u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(number(streams[0], "width"), width);
    EXPECT_EQ(number(streams[0], "height"), height);
    EXPECT_EQ(number(streams[0], "nb_read_frames"), double(shown.size()));
    std::vector<ProbeSection> packets, sound;
    for (ProbeSection& packet : probe(path, "packets")) (packet.at("stream_index") == "0" ? packets : sound).push_back(packet);
    const double end = (shown.back() - shown[0] + 333'333) / 1e7;
    if (withSound) {
        EXPECT_EQ(streams[1].at("codec_name") + " " + streams[1].at("sample_rate") + " " + streams[1].at("channels"), "aac 48000 2");
        ASSERT_FALSE(sound.empty());
        const double last = number(sound.back(), "pts_time") + number(sound.back(), "duration_time");
        EXPECT_NEAR(last, end, 1 / 30.0) << "sound and picture end together";
    }
    ASSERT_EQ(packets.size(), shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const int64_t duration = i + 1 < shown.size() ? shown[i + 1] - shown[i] : 333'333;
        EXPECT_NEAR(number(packets[i], "pts_time"), (shown[i] - shown[0]) / 1e7, 0.001) << "packet " << i;
        // Without an index ffmpeg takes durations from the stream, and our encoder's carries no timing.
        if (plain) {
            EXPECT_NEAR(number(packets[i], "duration_time"), duration / 1e7, 0.001) << "packet " << i;
        }
    }
    if (!plain) return;
    EXPECT_EQ(topLevelBoxes(path), (std::vector<std::string>{"ftyp", "mdat", "moov"}));
    EXPECT_EQ(number(streams[0], "nb_frames"), double(shown.size()));
    EXPECT_NEAR(number(probe(path, "format").at(0), "duration"), end, withSound ? 1 / 30.0 : 0.001);
}

}  // namespace mp4test
