#include "TestStreams.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "BoxParser.h"

namespace mp4test {
namespace {

void appendLengthPrefixed(std::vector<uint8_t>& out, const uint8_t* nal, size_t size) {
    const uint8_t prefix[4] = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
    out.insert(out.end(), prefix, prefix + 4);
    out.insert(out.end(), nal, nal + size);
}

std::vector<std::pair<size_t, size_t>> splitNals(const std::vector<uint8_t>& b) {
    std::vector<size_t> starts;  // first byte after each 00 00 01
    for (size_t i = 0; i + 2 < b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) starts.push_back(i + 3);
    std::vector<std::pair<size_t, size_t>> nals;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : b.size();
        while (end > starts[k] && b[end - 1] == 0) --end;  // zero bytes of the next start code
        if (end > starts[k]) nals.push_back({starts[k], end - starts[k]});
    }
    return nals;
}

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

std::optional<TestH264Stream> parseAnnexB(const std::vector<uint8_t>& bytes) {
    TestH264Stream stream;
    std::vector<uint8_t> prefix;  // non-picture NAL units waiting for the next picture
    for (auto [at, size] : splitNals(bytes)) {
        const uint8_t* nal = &bytes[at];
        const int type = nal[0] & 0x1F;
        if (type == 7) {
            if (stream.sps.empty()) stream.sps.assign(nal, nal + size);
        } else if (type == 8) {
            if (stream.pps.empty()) stream.pps.assign(nal, nal + size);
        } else if (type == 9) {
            // access unit delimiters are not carried in MP4 samples
        } else if (type == 1 || type == 5) {
            const bool firstSliceOfPicture = size > 1 && (nal[1] & 0x80);  // first_mb_in_slice == 0
            if (firstSliceOfPicture || stream.frames.empty()) {
                stream.frames.push_back(TestAccessUnit{std::move(prefix), false});
                prefix.clear();
            }
            appendLengthPrefixed(stream.frames.back().data, nal, size);
            if (type == 5) stream.frames.back().keyFrame = true;
        } else {
            appendLengthPrefixed(prefix, nal, size);
        }
    }
    if (stream.sps.size() < 4 || stream.pps.empty()) return std::nullopt;
    return stream;
}

std::string scratchDirectory() {
    // Kept alive on purpose: the exit handler below runs after static strings are gone.
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
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode) *exitCode = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

const TestH264Stream& testStream(int width, int height, int frameCount, int gop) {
    static std::map<std::string, TestH264Stream> cache;
    const std::string key = std::to_string(width) + "x" + std::to_string(height) + "-" +
                            std::to_string(frameCount) + "-" + std::to_string(gop);
    if (auto found = cache.find(key); found != cache.end()) return found->second;
    const std::string file = scratchDirectory() + "/" + key + ".h264";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(width) +
                                "x" + std::to_string(height) + ":rate=30 -frames:v " + std::to_string(frameCount) +
                                " -pix_fmt yuv420p -c:v libx264 -profile:v baseline -g " + std::to_string(gop) +
                                " -bsf:v h264_mp4toannexb -f h264 " + shellQuote(file) + " 2>&1";
    int exitCode = 0;
    const std::string output = runCommand(command, &exitCode);
    auto stream = parseAnnexB(readFile(file));
    if (exitCode != 0 || !stream || int(stream->frames.size()) != frameCount)
        throw std::runtime_error("could not make a test stream with ffmpeg: " + output);
    return cache.emplace(key, std::move(*stream)).first->second;
}

std::string decodeErrors(const std::string& path) {
    // Passthrough timing: ffmpeg's null output would otherwise round close stamps together and complain.
    int exitCode = 0;
    std::string out = runCommand("ffmpeg -nostdin -v error -i " + shellQuote(path) + " -fps_mode passthrough -enc_time_base -1 -f null - 2>&1", &exitCode);
    if (exitCode != 0 && out.empty()) out = "ffmpeg exited with " + std::to_string(exitCode);
    return out;
}

std::vector<ProbeSection> probe(const std::string& path, const std::string& section) {
    const std::string flag = section == "format" ? "-show_format" : "-show_" + section + "s";
    const std::string out = runCommand("ffprobe -v error " + flag + " " + shellQuote(path) + " 2>/dev/null");
    std::vector<ProbeSection> sections;
    std::istringstream lines(out);
    std::string line;
    std::string open = "[" + section;
    for (auto& c : open) c = char(std::toupper(c));
    open += "]";
    bool inside = false;
    while (std::getline(lines, line)) {
        if (line == open) {
            sections.emplace_back();
            inside = true;
        } else if (!line.empty() && line[0] == '[') {
            inside = false;
        } else if (inside) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) sections.back()[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return sections;
}

double number(const ProbeSection& section, const std::string& key) {
    auto found = section.find(key);
    if (found == section.end()) return std::nan("");
    char* end = nullptr;
    const double v = std::strtod(found->second.c_str(), &end);
    return end && *end == '\0' && end != found->second.c_str() ? v : std::nan("");
}

}  // namespace mp4test
