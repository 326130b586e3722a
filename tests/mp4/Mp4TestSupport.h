#pragma once
// What the MP4 tests share: frames to record, and ffmpeg/ffprobe as the outside judge of the files.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mp4test {

std::string scratchDirectory();  // a fresh directory for this test process, removed at exit

// Runs a shell command (killed after two minutes), returns its standard output.
std::string runCommand(const std::string& command, int* exitCode = nullptr);

// Bottom-up BGRx picture with a moving gradient, different for every tag.
std::vector<uint8_t> syntheticFrame(int width, int height, uint32_t tag);

std::vector<int64_t> regularTimes(int count, int64_t start = 0);  // 30 fps stamps in 100 ns

using ProbeSection = std::map<std::string, std::string>;
// ffprobe's sections of one kind: "streams" (frames counted by decoding), "packets" or "format".
std::vector<ProbeSection> probe(const std::string& path, const std::string& sections);
double number(const ProbeSection& section, const std::string& key);  // NaN if absent

std::vector<std::string> topLevelBoxes(const std::string& path);  // a moof with its number: "moof1"

// ffmpeg decodes it without a word, ffprobe sees one H.264 stream of this size whose packets
// are shown at `shown` (100 ns from the first) for as long as the gap to the next (the last
// for 333,333). A plain file must also carry the frame count and total duration in its index.
// With sound: next to it one AAC stream, 48 kHz stereo, ending within a frame of the picture.
void expectPlaysAs(const std::string& path, int width, int height, const std::vector<int64_t>& shown, bool plain,
                   bool withSound = false);

// Sound for the writer: a sine on each channel (left at `amplitude`, right at half of it).
std::vector<int16_t> stereoTone(int64_t firstFrame, size_t frames, double hz, double amplitude);
// The file's sound decoded by ffmpeg to 48 kHz stereo 16-bit.
std::vector<int16_t> decodedSound(const std::string& path);

}  // namespace mp4test
