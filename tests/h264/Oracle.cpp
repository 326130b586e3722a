#include "Oracle.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

#include "ColorConvert.h"

using namespace zv::h264;

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path = fs::temp_directory_path() / ("zv-h264-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::vector<uint8_t> toAnnexB(const H264Encoder& encoder, const std::vector<EncodedFrame>& frames) {
    std::vector<uint8_t> out;
    auto startCode = [&] { out.insert(out.end(), {0, 0, 0, 1}); };
    for (const EncodedFrame& frame : frames) {
        if (frame.keyFrame) {
            startCode();
            out.insert(out.end(), encoder.sps().begin(), encoder.sps().end());
            startCode();
            out.insert(out.end(), encoder.pps().begin(), encoder.pps().end());
        }
        size_t at = 0;
        while (at + 4 <= frame.data.size()) {
            const size_t length = size_t(frame.data[at]) << 24 | size_t(frame.data[at + 1]) << 16 |
                                  size_t(frame.data[at + 2]) << 8 | frame.data[at + 3];
            startCode();
            out.insert(out.end(), frame.data.begin() + long(at + 4), frame.data.begin() + long(at + 4 + length));
            at += 4 + length;
        }
    }
    return out;
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

static std::string readText(const fs::path& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

static int run(const std::string& command) {
    // Every external tool runs under `timeout`, so a hung decoder fails the test instead of stalling it.
    const int status = std::system((std::string(ZV_TIMEOUT) + " 300 " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

DecodeResult decodeWithFfmpeg(const fs::path& h264File, const fs::path& workDir) {
    DecodeResult result;
    const fs::path yuv = workDir / "decoded.yuv", log = workDir / "ffmpeg.log";
    result.exitCode = run(std::string(ZV_FFMPEG) + " -nostdin -y -v error -f h264 -i '" + h264File.string() +
                          "' -f rawvideo -pix_fmt yuv420p '" + yuv.string() + "' 2>'" + log.string() + "'");
    result.messages = readText(log);
    result.yuv = readFile(yuv);
    return result;
}

ProbeResult probe(const fs::path& h264File, const fs::path& workDir) {
    ProbeResult result;
    const fs::path out = workDir / "probe.txt";
    run(std::string(ZV_FFPROBE) + " -v error -count_frames -select_streams v:0 -show_entries "
        "stream=profile,width,height,nb_read_frames -of default=noprint_wrappers=1 '" + h264File.string() + "' >'" +
        out.string() + "' 2>&1");
    std::istringstream lines(readText(out));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "profile") result.profile = value;
        else if (key == "width") result.width = std::atoi(value.c_str());
        else if (key == "height") result.height = std::atoi(value.c_str());
        else if (key == "nb_read_frames") result.frames = std::atoi(value.c_str());
    }
    return result;
}

std::vector<uint8_t> expectedYuv(const uint8_t* bgra, int width, int height) {
    std::vector<uint8_t> yuv(size_t(width) * height * 3 / 2);
    uint8_t* y = yuv.data();
    uint8_t* u = y + size_t(width) * height;
    uint8_t* v = u + size_t(width / 2) * (height / 2);
    const BgraFrame frame{bgra, width, height};
    for (int row = 0; row < height; row += 2) {
        for (int x = 0; x < width; x += 2) {
            uint8_t luma[4];
            convertQuadScalar(frame.row(row) + x * 4, frame.row(row) + x * 4 + 4, frame.row(row + 1) + x * 4,
                              frame.row(row + 1) + x * 4 + 4, luma, u[(row / 2) * (width / 2) + x / 2],
                              v[(row / 2) * (width / 2) + x / 2]);
            y[row * width + x] = luma[0];
            y[row * width + x + 1] = luma[1];
            y[(row + 1) * width + x] = luma[2];
            y[(row + 1) * width + x + 1] = luma[3];
        }
    }
    return yuv;
}

double lumaPsnr(const uint8_t* a, const uint8_t* b, int width, int height) {
    return planePsnr(a, b, size_t(width) * height);
}

double planePsnr(const uint8_t* a, const uint8_t* b, size_t samples) {
    double squared = 0;
    for (size_t i = 0; i < samples; ++i) {
        const double d = double(a[i]) - double(b[i]);
        squared += d * d;
    }
    if (squared == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 * double(samples) / squared);
}

bool lengthPrefixedNalsWellFormed(const std::vector<uint8_t>& data, int& nalCount) {
    nalCount = 0;
    size_t at = 0;
    while (at < data.size()) {
        if (at + 4 > data.size()) return false;
        const size_t length = size_t(data[at]) << 24 | size_t(data[at + 1]) << 16 | size_t(data[at + 2]) << 8 | data[at + 3];
        if (length == 0 || at + 4 + length > data.size()) return false;
        // No start-code prefix may appear inside a NAL unit.
        for (size_t i = at + 4; i + 2 < at + 4 + length; ++i)
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] <= 3 && data[i + 2] != 3) return false;
        at += 4 + length;
        ++nalCount;
    }
    return nalCount > 0;
}
