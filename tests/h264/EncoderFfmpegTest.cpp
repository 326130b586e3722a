// The built-in encoder judged from outside: ffmpeg must decode every stream without a word and produce
// exactly the pictures the encoder reconstructed (any disagreement in prediction, transform, entropy coding
// or cropping shows here and would drift); the pictures must be close to ffmpeg's own conversion of the
// input; the rate bound and the key-frame interval hold on the encoder's output as timestamped.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "EncoderReconstruction.h"
#include "H264Encoder.h"

using namespace zv::h264;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kFrame30 = 333'333;  // 100 ns units

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("zv-h264-" + std::to_string(getpid()) + "-" +
                                                 std::to_string(std::random_device{}()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Every external tool runs under `timeout`, so a hung decoder fails the test instead of stalling it.
int run(const std::string& command) {
    const int status = std::system((std::string(ZV_TIMEOUT) + " 300 " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t nalLength(const std::vector<uint8_t>& d, size_t at) {
    return size_t(d[at]) << 24 | size_t(d[at + 1]) << 16 | size_t(d[at + 2]) << 8 | d[at + 3];
}

// Length-prefixed NAL units that fill the access unit exactly, with no start-code prefix inside any of them.
bool wellFormed(const std::vector<uint8_t>& d) {
    size_t at = 0;
    while (at + 4 <= d.size()) {
        const size_t length = nalLength(d, at);
        if (length == 0 || at + 4 + length > d.size()) return false;
        for (size_t i = at + 4; i + 2 < at + 4 + length; ++i)
            if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] < 3) return false;
        at += 4 + length;
    }
    return at == d.size() && at > 0;
}

struct Rgb {
    int r, g, b;
};
using Painter = std::function<Rgb(int x, int y, int frame)>;

uint32_t hash(uint32_t v) {
    v = (v ^ (v >> 16)) * 0x7feb352d;
    v = (v ^ (v >> 15)) * 0x846ca68b;
    return v ^ (v >> 16);
}

// Dark pseudo-glyphs on white, 7x12 cells: the sharp, high-contrast texture of a window of text.
Rgb text(int x, int y) {
    const int cellX = x / 7, cellY = y / 12, u = x % 7, v = y % 12;
    const bool ink = u > 0 && u < 6 && v > 1 && v < 11 && hash(uint32_t(cellX * 977 + cellY * 131 + u * 13 + v)) % 5 < 2;
    return ink ? Rgb{30, 30, 90 + (cellY * 40) % 160} : Rgb{250, 250, 250};
}

Rgb desktop(int x, int y) { return (x / 32 + y / 24) % 3 ? Rgb{(x * 3) & 0xFF, (y * 2) & 0xFF, 200} : text(x + 3, y + 5); }

// Bottom-up BGRA with a noisy unused byte, as a screen grab may deliver.
std::vector<uint8_t> paint(int width, int height, int frame, const Painter& painter) {
    std::vector<uint8_t> out(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = painter(x, y, frame);
            uint8_t* p = &out[(size_t(height - 1 - y) * width + x) * 4];
            p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r), p[3] = uint8_t(x * 7 + y * 13);
        }
    return out;
}

Rgb noise(int x, int y, int frame) {
    const uint32_t h = hash(uint32_t(frame * 1000003 + y * 4099 + x));
    return {int(h & 0xFF), int(h >> 8 & 0xFF), int(h >> 16 & 0xFF)};
}

// A text window dragged by whole pixels, changing direction every 20 frames, with smaller objects crossing
// it: neighbours of every kind of motion for the P_Skip and P_L0_16x16 vector predictions.
Rgb drag(int x, int y, int i) {
    static constexpr int kSteps[][2] = {{3, 2}, {-4, 0}, {0, -3}, {2, -1}, {-1, 3}};
    int wx = 20, wy = 12;
    for (int k = 0; k < i; k += 20) {
        const int n = std::min(20, i - k);
        wx += kSteps[k / 20 % 5][0] * n, wy += kSteps[k / 20 % 5][1] * n;
    }
    struct Mover {
        int x, y, dx, dy, size;
    };
    for (const Mover m : {Mover{10, 10, 3, 1, 20}, Mover{150, 20, -2, 2, 16}, Mover{40, 90, 4, -1, 24}}) {
        const int u = x - m.x - m.dx * i, v = y - m.y - m.dy * i;
        if (u >= 0 && u < m.size && v >= 0 && v < m.size) return {(u * 9 + v * 3) & 0xFF, (v * 11) & 0xFF, ((u ^ v) * 5) & 0xFF};
    }
    if (x >= wx && x < wx + 96 && y >= wy && y < wy + 64) return y < wy + 10 ? Rgb{200, 210, 230} : text(x - wx, y - wy);
    return desktop(x, y);
}

// A document scrolled by wheel steps and a page jump, under macroblock-sized static icons: below an icon
// the left and upper-right neighbours move while the one above does not (skip vector zero, median not).
Rgb scroll(int x, int y, int i) {
    for (auto [mbX, mbY] : {std::pair{3, 2}, {6, 3}, {4, 5}, {8, 1}})
        if (x / 16 == mbX && y / 16 == mbY) return {250, (x * 16) & 0xFF, (y * 16) & 0xFF};
    const int offset = (i % 10 < 4 ? i % 10 : 4) * 5 + i / 10 * 20 + (i >= 20 ? 90 : 0);
    return text(x, y + offset);
}

Rgb fade(int x, int y, int i) {
    const Rgb c = desktop(x, y);
    const int alpha = 256 - std::abs(i % 40 - 20) * 12;
    return {c.r * alpha >> 8, c.g * alpha >> 8, c.b * alpha >> 8};
}

struct Sequence {
    const char* name;
    int width, height, frames;
    uint32_t bitrate;
    Painter painter;
    double minPsnr;                    // luma, every frame from `judgedFrom` on
    int judgedFrom = 0;
    bool irregularTimes = false;       // 5 to 100 ms apart with a 2 s pause, instead of 30 per second
    int64_t keyInterval = 20'000'000;
    size_t maxBytesAfterFirst = SIZE_MAX;
};

void PrintTo(const Sequence& s, std::ostream* out) { *out << s.name; }

std::vector<Sequence> sequences() {
    auto still = [](int x, int y, int) { return desktop(x, y); };
    auto moving = [](int x, int y, int i) { return x / 8 == i % 3 ? Rgb{230, x * 20, 40} : desktop(x, y); };
    // Noise at 5 kbit/s, then still: postponed macroblocks must arrive once the content holds still.
    auto starved = [](int x, int y, int i) { return i == 0 ? Rgb{90, 90, 90} : noise(x, y, std::min(i, 4)); };
    return {
        {"static", 64, 48, 30, 500'000, still, 46, 0, false, 20'000'000, 12},  // a skip run: header and one byte
        {"drag", 192, 128, 100, 400'000, drag, 36},
        {"drag_one_idr", 80, 64, 300, 600'000, drag, 34, 0, false, 1'000'000'000},
        {"scroll", 160, 112, 40, 1'000'000, scroll, 25},
        {"fade", 96, 64, 60, 300'000, fade, 36},
        // Overspent by a fade-in, then still: the picture is refined within half a second, not once the debt is paid.
        {"fade_then_still", 192, 128, 120, 100'000, [](int x, int y, int i) { return fade(x, y, std::min(i, 20)); }, 26, 35, false, 1'000'000'000},
        {"noise", 96, 64, 450, 400'000, noise, 0},
        {"noise_irregular", 64, 48, 500, 300'000, noise, 0, 0, true, 10'000'000},
        {"starved", 128, 128, 400, 5'000, starved, 15, 399, false, 1'000'000'000},
        {"one_macroblock", 16, 16, 3, 4'000'000, moving, 44},
        {"crop_18x34", 18, 34, 6, 4'000'000, moving, 40},
        {"crop_100x36", 100, 36, 6, 4'000'000, moving, 40},
        {"crop_1366x768", 1366, 768, 3, 4'000'000, drag, 36},
    };
}

// Every 10 s window of the stream, starting at any frame, holds at most 110 % of the target.
void expectRateBound(const std::vector<int64_t>& times, const std::vector<EncodedFrame>& frames, uint32_t bitrate) {
    for (size_t first = 0; first < times.size(); ++first) {
        int64_t bits = 0;
        for (size_t i = first; i < times.size() && times[i] - times[first] < 100'000'000; ++i)
            bits += int64_t(frames[i].data.size()) * 8;
        ASSERT_LE(bits, int64_t(bitrate) * 11) << "10 s window from frame " << first;
    }
}

double psnr(const uint8_t* a, const uint8_t* b, size_t samples) {
    double squared = 0;
    for (size_t i = 0; i < samples; ++i) squared += double(a[i] - b[i]) * double(a[i] - b[i]);
    return squared == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(samples) / squared);
}

// The encoder's own reconstruction, cropped to the visible size, as yuv420p.
void appendReconstruction(const H264Encoder& encoder, int width, int height, std::vector<uint8_t>& out) {
    const YuvPicture* picture = lastReconstruction(encoder);
    ASSERT_NE(picture, nullptr);
    for (int y = 0; y < height; ++y) out.insert(out.end(), picture->lumaAt(0, y), picture->lumaAt(0, y) + width);
    for (const std::vector<uint8_t>* plane : {&picture->u, &picture->v})
        for (int y = 0; y < height / 2; ++y) {
            const uint8_t* row = plane->data() + size_t(y) * picture->chromaStride();
            out.insert(out.end(), row, row + width / 2);
        }
}

class EncoderFfmpeg : public ::testing::TestWithParam<Sequence> {};

TEST_P(EncoderFfmpeg, DecodesToTheEncodersPicturesWithinRateAndKeyFrameBounds) {
    const Sequence& s = GetParam();
    H264EncoderConfig config;
    config.width = s.width, config.height = s.height, config.bitrate = s.bitrate, config.keyFrameInterval100ns = s.keyInterval;
    config.frameDuration100ns = kFrame30;
    H264Encoder encoder(config);
    ASSERT_TRUE(encoder.valid());
    std::mt19937 random(7);
    std::vector<uint8_t> input, stream, reconstructions;
    std::vector<int64_t> times;
    std::vector<EncodedFrame> frames(size_t(s.frames));
    int64_t time = 0, lastKey = 0;
    for (int i = 0; i < s.frames; ++i) {
        if (i > 0) time += !s.irregularTimes ? kFrame30 : i == s.frames / 2 ? 20'000'000 : 50'000 + random() % 950'000;
        const std::vector<uint8_t> pixels = paint(s.width, s.height, i, s.painter);
        input.insert(input.end(), pixels.begin(), pixels.end());
        EncodedFrame& frame = frames[size_t(i)];
        encoder.encode(pixels.data(), time, frame);
        ASSERT_TRUE(wellFormed(frame.data)) << "frame " << i;
        EXPECT_EQ(frame.keyFrame, i == 0 || time - lastKey >= s.keyInterval - kFrame30 / 2) << "frame " << i;
        if (frame.keyFrame) lastKey = time;
        if (i > 0) {
            EXPECT_LE(frame.data.size(), s.maxBytesAfterFirst) << "frame " << i;
        }
        times.push_back(time);
        appendReconstruction(encoder, s.width, s.height, reconstructions);
        for (const std::vector<uint8_t>* set : {&encoder.sps(), &encoder.pps()}) {
            if (!frame.keyFrame) break;
            stream.insert(stream.end(), {0, 0, 0, 1});
            stream.insert(stream.end(), set->begin(), set->end());
        }
        for (size_t at = 0; at < frame.data.size(); at += 4 + nalLength(frame.data, at)) {
            stream.insert(stream.end(), {0, 0, 0, 1});
            stream.insert(stream.end(), frame.data.begin() + long(at + 4), frame.data.begin() + long(at + 4 + nalLength(frame.data, at)));
        }
    }
    expectRateBound(times, frames, s.bitrate);

    TempDir dir;
    const fs::path h264 = dir.path / "stream.h264", bgra = dir.path / "input.bgra";
    writeFile(h264, stream);
    writeFile(bgra, input);
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    const std::string ffmpeg = std::string(ZV_FFMPEG) + " -nostdin -y -v error ";
    ASSERT_EQ(run(ffmpeg + "-f h264 -i " + h264.string() + " -f rawvideo -pix_fmt yuv420p " + (dir.path / "decoded.yuv").string() +
                  " 2>" + (dir.path / "decode.log").string()), 0);
    EXPECT_TRUE(readFile(dir.path / "decode.log").empty()) << "ffmpeg complained decoding " << s.name;
    // The quality reference is ffmpeg's own BT.601 conversion of the frames, not the encoder's.
    ASSERT_EQ(run(ffmpeg + "-f rawvideo -pix_fmt bgr0 -s " + size + " -i " + bgra.string() +
                  " -vf vflip -pix_fmt yuv420p -f rawvideo " + (dir.path / "expected.yuv").string()), 0);
    ASSERT_EQ(run(std::string(ZV_FFPROBE) + " -v error -count_frames -show_entries stream=profile,width,height,nb_read_frames"
                  " -of csv=p=0 " + h264.string() + " >" + (dir.path / "probe.txt").string()), 0);
    const std::vector<uint8_t> probe = readFile(dir.path / "probe.txt");
    EXPECT_EQ(std::string(probe.begin(), probe.end()),
              "Constrained Baseline," + std::to_string(s.width) + "," + std::to_string(s.height) + "," + std::to_string(s.frames) + "\n");

    const std::vector<uint8_t> decoded = readFile(dir.path / "decoded.yuv"), expected = readFile(dir.path / "expected.yuv");
    ASSERT_EQ(decoded.size(), reconstructions.size());
    ASSERT_EQ(expected.size(), reconstructions.size());
    const size_t lumaSize = size_t(s.width) * s.height, frameSize = lumaSize * 3 / 2;
    for (int i = 0; i < s.frames; ++i) {
        const size_t at = size_t(i) * frameSize;
        ASSERT_TRUE(std::equal(decoded.begin() + long(at), decoded.begin() + long(at + frameSize), reconstructions.begin() + long(at)))
            << "decoder output differs from the encoder's reconstruction in frame " << i;
        if (i < s.judgedFrom) continue;
        EXPECT_GE(psnr(&decoded[at], &expected[at], lumaSize), s.minPsnr) << "luma, frame " << i;
        // Chroma is held to a lower bar: quantised more coarsely, and ffmpeg subsamples it with its own filter.
        EXPECT_GE(psnr(&decoded[at + lumaSize], &expected[at + lumaSize], lumaSize / 2), s.minPsnr - 6) << "chroma, frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, EncoderFfmpeg, ::testing::ValuesIn(sequences()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncoderConfig, RejectsUnusableSizesAndNamesTheLevel) {
    for (auto [width, height] : {std::pair{15, 16}, {16, 14}, {17, 32}, {0, 0}, {-16, 16}, {16386, 64}}) {
        H264EncoderConfig config;
        config.width = width, config.height = height;
        H264Encoder encoder(config);
        EXPECT_FALSE(encoder.valid()) << width << "x" << height;
        EXPECT_TRUE(encoder.sps().empty());
        const std::vector<uint8_t> pixels(64 * 64 * 4);
        EncodedFrame frame;
        frame.data = {1, 2, 3};
        frame.keyFrame = true;
        encoder.encode(pixels.data(), 0, frame);
        EXPECT_TRUE(frame.data.empty());
        EXPECT_FALSE(frame.keyFrame);
    }
    // The level players check against: the smallest that holds the frame size, the frame rate and the bit rate.
    for (auto [width, height, bitrate, frame, level] : {std::tuple{16, 16, 60'000u, kFrame30, 10}, {1920, 1080, 4'000'000u, kFrame30, 40},
                                                         {1920, 1080, 4'000'000u, kFrame30 / 2, 42}, {3840, 2160, 4'000'000u, kFrame30, 51}}) {
        H264EncoderConfig config;
        config.width = width, config.height = height, config.bitrate = bitrate, config.frameDuration100ns = frame;
        H264Encoder encoder(config);
        EXPECT_EQ(encoder.levelIdc(), level) << width << "x" << height;
        ASSERT_GE(encoder.sps().size(), 4u);
        EXPECT_EQ(encoder.sps()[3], level);
    }
}

}  // namespace
