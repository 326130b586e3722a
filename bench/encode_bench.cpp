// Encodes a raw bottom-up BGRA file with the built-in encoder on one thread, timing only encode() calls
// (colour conversion included), and writes an Annex-B stream for the decoder-side measurements.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "H264Encoder.h"

using namespace zv::h264;

constexpr int64_t kFrame100ns = 10'000'000 / 30;  // the sequences are 30 frames per second

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: encode_bench INPUT.bgra WIDTH HEIGHT FRAMES BITRATE OUTPUT.h264\n");
        return 2;
    }
    H264EncoderConfig config;
    config.width = std::atoi(argv[2]);
    config.height = std::atoi(argv[3]);
    config.bitrate = uint32_t(std::atol(argv[5]));
    config.frameDuration100ns = kFrame100ns;
    const int frames = std::atoi(argv[4]);
    H264Encoder encoder(config);
    if (!encoder.valid()) return 1;
    using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    const File inFile(std::fopen(argv[1], "rb"), &std::fclose);
    const File outFile(std::fopen(argv[6], "wb"), &std::fclose);
    if (!inFile || !outFile) return 1;
    std::FILE* in = inFile.get();
    std::FILE* out = outFile.get();
    std::vector<uint8_t> pixels(size_t(config.width) * config.height * 4);
    EncodedFrame frame;
    // Thread CPU time, comparable with ffmpeg's utime when other work shares the machine; wall time as well.
    auto cpuNow = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    };
    double seconds = 0, cpuSeconds = 0, keyCpuSeconds = 0, slowest = 0;
    size_t bytes = 0;
    size_t keyBytes = 0;
    int encoded = 0, keyFrames = 0, emptyFrames = 0;  // empty: P frames of a few bytes, nothing coded
    std::vector<size_t> frameBytes;
    const uint8_t startCode[4] = {0, 0, 0, 1};
    for (; encoded < frames && std::fread(pixels.data(), 1, pixels.size(), in) == pixels.size(); ++encoded) {
        const auto begin = std::chrono::steady_clock::now();
        const double cpuBegin = cpuNow();
        encoder.encode(pixels.data(), int64_t(encoded) * kFrame100ns, frame);
        const double cpuTook = cpuNow() - cpuBegin;
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        seconds += took;
        cpuSeconds += cpuTook;
        if (frame.keyFrame) keyCpuSeconds += cpuTook;
        if (took > slowest) slowest = took;
        if (frame.keyFrame) {
            ++keyFrames;
            for (const auto* nal : {&encoder.sps(), &encoder.pps()}) {
                std::fwrite(startCode, 1, 4, out);
                std::fwrite(nal->data(), 1, nal->size(), out);
            }
        }
        for (size_t at = 0; at + 4 <= frame.data.size();) {
            const size_t length = size_t(frame.data[at]) << 24 | size_t(frame.data[at + 1]) << 16 |
                                  size_t(frame.data[at + 2]) << 8 | frame.data[at + 3];
            std::fwrite(startCode, 1, 4, out);
            std::fwrite(frame.data.data() + at + 4, 1, length, out);
            at += 4 + length;
        }
        bytes += frame.data.size();
        if (frame.keyFrame) keyBytes += frame.data.size();
        else if (frame.data.size() < 64) ++emptyFrames;
        frameBytes.push_back(frame.data.size());
    }
    // Highest rate over any 10 s window (300 frames), the bound the rate controller promises.
    const size_t window = 300;
    size_t windowBytes = 0, maxWindowBytes = 0;
    for (size_t i = 0; i < frameBytes.size(); ++i) {
        windowBytes += frameBytes[i];
        if (i >= window) windowBytes -= frameBytes[i - window];
        maxWindowBytes = std::max(maxWindowBytes, windowBytes);
    }
    const double windowSeconds = double(std::min(window, frameBytes.size())) / 30.0;
    std::printf("frames=%d cpu_seconds=%.3f fps=%.1f wall_fps=%.1f kbps=%.0f keyframes=%d key_kb=%.0f empty=%d key_ms=%.1f "
                "other_ms=%.2f slowest_ms=%.1f max10s_kbps=%.0f\n",
                encoded, cpuSeconds, encoded / cpuSeconds, encoded / seconds, bytes * 8.0 / (encoded / 30.0) / 1000.0,
                keyFrames, keyFrames ? double(keyBytes) / 1000 / keyFrames : 0.0, emptyFrames, keyFrames ? keyCpuSeconds * 1000 / keyFrames : 0.0,
                encoded > keyFrames ? (cpuSeconds - keyCpuSeconds) * 1000 / (encoded - keyFrames) : 0.0, slowest * 1000,
                maxWindowBytes * 8.0 / windowSeconds / 1000.0);
    return 0;
}
