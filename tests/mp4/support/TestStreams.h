#pragma once
// H.264 for the tests, made by the ffmpeg binary (an outside oracle, not part of the program),
// and ffprobe/ffmpeg run over the files we write.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mp4test {

struct TestAccessUnit {
    std::vector<uint8_t> data;  // 4-byte big-endian length-prefixed NAL units
    bool keyFrame = false;
};

struct TestH264Stream {
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
    std::vector<TestAccessUnit> frames;
};

// Splits Annex-B into SPS, PPS and one access unit per picture. Empty optional without SPS/PPS.
std::optional<TestH264Stream> parseAnnexB(const std::vector<uint8_t>& bytes);

// Baseline H.264 of ffmpeg's testsrc2 pattern, a key frame every `gop` frames. Cached per process.
const TestH264Stream& testStream(int width, int height, int frameCount, int gop);

// A fresh directory for this test process's files.
std::string scratchDirectory();

// Runs a shell command, returns its standard output; exitCode gets the exit status.
std::string runCommand(const std::string& command, int* exitCode = nullptr);

// What `ffmpeg -v error -i file -f null -` prints, output timing passed through, (empty when the file decodes cleanly).
std::string decodeErrors(const std::string& path);

using ProbeSection = std::map<std::string, std::string>;
// ffprobe sections of one kind ("stream", "frame", "packet", "format") as key=value maps.
std::vector<ProbeSection> probe(const std::string& path, const std::string& section);

double number(const ProbeSection& section, const std::string& key);  // NaN if absent or not a number

}  // namespace mp4test
