#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "EncoderReconstruction.h"
#include "H264Encoder.h"
#include "Oracle.h"

using namespace zv::h264;

namespace {

constexpr int64_t kFrame30 = 333'333;  // 100 ns units

// Every 10 s window of the stream, starting at any frame, holds at most 110 % of the target.
void ExpectTenSecondWindowsWithinRate(const std::vector<int64_t>& times, const std::vector<size_t>& sizes,
                                      uint32_t bitrate) {
    for (size_t first = 0; first < times.size(); ++first) {
        int64_t bits = 0;
        for (size_t i = first; i < times.size() && times[i] - times[first] < 100'000'000; ++i)
            bits += int64_t(sizes[i]) * 8;
        EXPECT_LE(bits, int64_t(bitrate) * 10 * 11 / 10) << "window from frame " << first;
    }
}

std::vector<int64_t> ThirtyPerSecondTimes(size_t count) {
    std::vector<int64_t> times;
    for (size_t i = 0; i < count; ++i) times.push_back(int64_t(i) * kFrame30);
    return times;
}

std::vector<size_t> SizesOf(const std::vector<EncodedFrame>& frames) {
    std::vector<size_t> sizes;
    for (const EncodedFrame& frame : frames) sizes.push_back(frame.data.size());
    return sizes;
}

struct Rgb {
    int r, g, b;
};
using Painter = std::function<Rgb(int x, int y)>;

// Bottom-up BGRA with a noisy unused byte, as a screen grab may deliver.
std::vector<uint8_t> paint(int width, int height, const Painter& painter) {
    std::vector<uint8_t> frame(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.data() + size_t(height - 1 - y) * width * 4;
        for (int x = 0; x < width; ++x) {
            const Rgb c = painter(x, y);
            row[x * 4] = uint8_t(c.b);
            row[x * 4 + 1] = uint8_t(c.g);
            row[x * 4 + 2] = uint8_t(c.r);
            row[x * 4 + 3] = uint8_t((x * 7 + y * 13) & 0xFF);
        }
    }
    return frame;
}

Painter texturedBackground() {
    return [](int x, int y) {
        const bool text = ((x / 3 + y / 5) % 7 == 0) && (y % 12 < 8);
        return text ? Rgb{20, 20, 30} : Rgb{(x * 3) & 0xFF, (y * 2) & 0xFF, 200};
    };
}

Painter withBox(Painter background, int boxX, int boxY, int size) {
    return [=](int x, int y) {
        if (x >= boxX && x < boxX + size && y >= boxY && y < boxY + size) return Rgb{230, (x - boxX) * 4 & 0xFF, 40};
        return background(x, y);
    };
}

struct Decoded {
    DecodeResult result;
    ProbeResult probe;
};

Decoded decodeAll(const H264Encoder& encoder, const std::vector<EncodedFrame>& frames, const TempDir& dir) {
    const auto file = dir.path / "stream.h264";
    writeFile(file, toAnnexB(encoder, frames));
    return {decodeWithFfmpeg(file, dir.path), probe(file, dir.path)};
}

struct FramePsnr {
    double y = 0, u = 0, v = 0;
};

// PSNR of each decoded frame against the converted input, per plane.
std::vector<FramePsnr> framePsnrs(const Decoded& decoded, const std::vector<std::vector<uint8_t>>& inputs, int width,
                                  int height) {
    std::vector<FramePsnr> psnrs;
    const size_t lumaSize = size_t(width) * height, chromaSize = lumaSize / 4, frameSize = lumaSize + 2 * chromaSize;
    for (size_t i = 0; i < inputs.size() && (i + 1) * frameSize <= decoded.result.yuv.size(); ++i) {
        const std::vector<uint8_t> expected = expectedYuv(inputs[i].data(), width, height);
        const uint8_t* got = decoded.result.yuv.data() + i * frameSize;
        psnrs.push_back({lumaPsnr(expected.data(), got, width, height),
                         planePsnr(expected.data() + lumaSize, got + lumaSize, chromaSize),
                         planePsnr(expected.data() + lumaSize + chromaSize, got + lumaSize + chromaSize, chromaSize)});
    }
    return psnrs;
}

void expectCleanDecode(const Decoded& decoded, int width, int height, size_t frames) {
    EXPECT_EQ(decoded.result.exitCode, 0);
    EXPECT_EQ(decoded.result.messages, "");
    EXPECT_EQ(decoded.result.yuv.size(), size_t(width) * height * 3 / 2 * frames);
    EXPECT_EQ(decoded.probe.profile, "Constrained Baseline");
    EXPECT_EQ(decoded.probe.width, width);
    EXPECT_EQ(decoded.probe.height, height);
    EXPECT_EQ(decoded.probe.frames, int(frames));
}

// Chroma is held to a slightly lower bar: it is quantised more coarsely and averaged from 2x2 pixels.
void expectPsnrAtLeast(const std::vector<FramePsnr>& psnrs, double lumaThreshold) {
    for (size_t i = 0; i < psnrs.size(); ++i) {
        EXPECT_GE(psnrs[i].y, lumaThreshold) << "frame " << i;
        EXPECT_GE(psnrs[i].u, lumaThreshold - 4) << "frame " << i;
        EXPECT_GE(psnrs[i].v, lumaThreshold - 4) << "frame " << i;
    }
}

H264EncoderConfig configFor(int width, int height, uint32_t bitrate = 4'000'000) {
    H264EncoderConfig config;
    config.width = width;
    config.height = height;
    config.bitrate = bitrate;
    return config;
}

// The encoder's own reconstruction, cropped to the visible size, as yuv420p.
std::vector<uint8_t> visibleReconstruction(const H264Encoder& encoder, int width, int height) {
    const YuvPicture* picture = lastReconstruction(encoder);
    std::vector<uint8_t> out;
    if (!picture) return out;
    for (int y = 0; y < height; ++y) out.insert(out.end(), picture->lumaAt(0, y), picture->lumaAt(0, y) + width);
    for (const std::vector<uint8_t>* plane : {&picture->u, &picture->v})
        for (int y = 0; y < height / 2; ++y) {
            const uint8_t* row = plane->data() + size_t(y) * picture->chromaStride();
            out.insert(out.end(), row, row + width / 2);
        }
    return out;
}

std::vector<std::vector<uint8_t>> encodeFrames(H264Encoder& encoder, int width, int height,
                                               const std::vector<std::vector<uint8_t>>& inputs,
                                               std::vector<EncodedFrame>& out, int64_t step = kFrame30) {
    std::vector<std::vector<uint8_t>> reconstructions;
    for (size_t i = 0; i < inputs.size(); ++i) {
        EncodedFrame frame;
        encoder.encode(inputs[i].data(), int64_t(i) * step, frame);
        int nals = 0;
        EXPECT_TRUE(lengthPrefixedNalsWellFormed(frame.data, nals)) << "frame " << i;
        out.push_back(std::move(frame));
        reconstructions.push_back(visibleReconstruction(encoder, width, height));
    }
    return reconstructions;
}

// Bit-exact agreement between decoder output and the encoder's reference pictures: any mismatch would drift.
void expectDecoderMatchesEncoder(const Decoded& decoded, const std::vector<std::vector<uint8_t>>& reconstructions) {
    size_t at = 0;
    for (size_t i = 0; i < reconstructions.size(); ++i) {
        const std::vector<uint8_t>& expected = reconstructions[i];
        ASSERT_LE(at + expected.size(), decoded.result.yuv.size()) << "frame " << i;
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), decoded.result.yuv.begin() + long(at)))
            << "decoder output differs from the encoder's reconstruction in frame " << i;
        at += expected.size();
    }
}

// ffmpeg decodes the stream without a word, its pictures equal the encoder's own reconstruction, and each
// frame is at least `minPsnr` dB from its input.
void expectFaithfulDecode(const H264Encoder& encoder, const std::vector<EncodedFrame>& frames,
                          const std::vector<std::vector<uint8_t>>& reconstructions,
                          const std::vector<std::vector<uint8_t>>& inputs, int width, int height, double minPsnr) {
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, width, height, inputs.size());
    expectDecoderMatchesEncoder(decoded, reconstructions);
    expectPsnrAtLeast(framePsnrs(decoded, inputs, width, height), minPsnr);
}

TEST(EncoderFfmpeg, SingleMacroblockFrameDecodesClose) {
    const auto input = paint(16, 16, [](int x, int y) { return Rgb{x * 16, y * 16, 128}; });
    H264Encoder encoder(configFor(16, 16));
    ASSERT_TRUE(encoder.valid());
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, 16, 16, {input}, frames);
    ASSERT_TRUE(frames[0].keyFrame);
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, 16, 16, 1);
    expectDecoderMatchesEncoder(decoded, reconstructions);
    const auto psnrs = framePsnrs(decoded, {input}, 16, 16);
    ASSERT_EQ(psnrs.size(), 1u);
    expectPsnrAtLeast(psnrs, 50.0);
}


std::vector<std::vector<uint8_t>> movingBoxSequence(int width, int height, int frames, int step) {
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < frames; ++i) {
        const int size = std::min(width, height) / 2;
        const int x = (i * step) % std::max(1, width - size);
        inputs.push_back(paint(width, height, withBox(texturedBackground(), x, (i * step / 2) % std::max(1, height - size), size)));
    }
    return inputs;
}


// Sizes that are not whole macroblocks go through cropping; the decoder must give back exactly that size.
class OddSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(OddSizes, CroppedSizeDecodesClean) {
    const auto [width, height] = GetParam();
    const auto inputs = movingBoxSequence(width, height, 4, 6);
    H264Encoder encoder(configFor(width, height));
    ASSERT_TRUE(encoder.valid());
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, width, height, inputs, frames);
    expectFaithfulDecode(encoder, frames, reconstructions, inputs, width, height, 40.0);
}

INSTANTIATE_TEST_SUITE_P(EncoderFfmpeg, OddSizes,
                         ::testing::Values(std::make_pair(18, 18), std::make_pair(100, 36), std::make_pair(16, 16),
                                           std::make_pair(1366, 768)));

TEST(EncoderFfmpeg, StaticFramesCostAlmostNothing) {
    const auto still = paint(64, 48, texturedBackground());
    std::vector<std::vector<uint8_t>> inputs(30, still);
    H264Encoder encoder(configFor(64, 48, 500'000));
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, 64, 48, inputs, frames);
    ASSERT_TRUE(frames[0].keyFrame);
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_FALSE(frames[i].keyFrame);
        EXPECT_LE(frames[i].data.size(), 12u) << "frame " << i;  // length, header, slice header, one skip run
    }
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, 64, 48, inputs.size());
    expectDecoderMatchesEncoder(decoded, reconstructions);
    const auto psnrs = framePsnrs(decoded, inputs, 64, 48);
    expectPsnrAtLeast(psnrs, 46.0);
    for (const FramePsnr& psnr : psnrs) EXPECT_DOUBLE_EQ(psnr.y, psnrs[0].y);
}

TEST(EncoderFfmpeg, MovingBoxKeepsQuality) {
    const auto inputs = movingBoxSequence(160, 96, 60, 3);
    H264Encoder encoder(configFor(160, 96, 1'000'000));
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, 160, 96, inputs, frames);
    expectFaithfulDecode(encoder, frames, reconstructions, inputs, 160, 96, 44.0);
}

// Noise cannot be compressed; the rate controller must still hold every 10 s window to 110 % of the target.
TEST(EncoderFfmpeg, NoiseStaysWithinRateBound) {
    const int width = 96, height = 64;
    const uint32_t bitrate = 400'000;
    std::mt19937 random(5);
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < 450; ++i) {
        std::vector<uint8_t> frame(size_t(width) * height * 4);
        for (uint8_t& byte : frame) byte = uint8_t(random());
        inputs.push_back(std::move(frame));
    }
    H264Encoder encoder(configFor(width, height, bitrate));
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, width, height, inputs, frames);
    ExpectTenSecondWindowsWithinRate(ThirtyPerSecondTimes(frames.size()), SizesOf(frames), bitrate);
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, width, height, inputs.size());
    expectDecoderMatchesEncoder(decoded, reconstructions);
}

// The same bound with frames arriving at random intervals (5 to 100 ms) and a 2 s pause: the budget follows
// the clock, not the frame count.
TEST(EncoderFfmpeg, NoiseAtIrregularTimesStaysWithinRateBound) {
    const int width = 64, height = 48;
    const uint32_t bitrate = 300'000;
    std::mt19937 random(9);
    H264Encoder encoder(configFor(width, height, bitrate));
    std::vector<int64_t> times;
    std::vector<size_t> sizes;
    std::vector<uint8_t> noise(size_t(width) * height * 4);
    int64_t time = 0;
    for (int i = 0; i < 500; ++i) {
        time += i == 250 ? 20'000'000 : int64_t(50'000 + random() % 950'000);
        for (uint8_t& byte : noise) byte = uint8_t(random());
        EncodedFrame frame;
        encoder.encode(noise.data(), time, frame);
        ASSERT_FALSE(frame.data.empty());
        times.push_back(time);
        sizes.push_back(frame.data.size());
    }
    ExpectTenSecondWindowsWithinRate(times, sizes, bitrate);
}

// Far too little budget for a change: the encoder may postpone macroblocks but must bring the picture up to
// date once the content holds still, and never break the rate bound doing so.
TEST(EncoderFfmpeg, StarvedRateCatchesUpWhenContentStops) {
    const int width = 128, height = 128;
    const uint32_t bitrate = 5'000;
    std::mt19937 random(17);
    std::vector<std::vector<uint8_t>> inputs;
    inputs.push_back(paint(width, height, [](int, int) { return Rgb{90, 90, 90}; }));
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> noise(size_t(width) * height * 4);
        for (uint8_t& byte : noise) byte = uint8_t(random());
        inputs.push_back(std::move(noise));
    }
    for (int i = 0; i < 150; ++i) inputs.push_back(inputs.back());  // 5 s unchanged
    H264EncoderConfig config = configFor(width, height, bitrate);
    config.keyFrameInterval100ns = 1'000'000'000;
    H264Encoder encoder(config);
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, width, height, inputs, frames);
    ExpectTenSecondWindowsWithinRate(ThirtyPerSecondTimes(frames.size()), SizesOf(frames), bitrate);
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, width, height, inputs.size());
    expectDecoderMatchesEncoder(decoded, reconstructions);
    const auto psnrs = framePsnrs(decoded, inputs, width, height);
    ASSERT_EQ(psnrs.size(), inputs.size());
    // Noise at the coarsest quantiser stays noisy, but the postponed macroblocks must have arrived.
    EXPECT_GT(psnrs.back().y, psnrs[4].y + 1.0);
    EXPECT_GE(psnrs.back().y, 15.0);
}

TEST(EncoderFfmpeg, KeyFramesFollowTimestampsNotFrameCount) {
    H264EncoderConfig config = configFor(48, 32, 300'000);
    config.keyFrameInterval100ns = 10'000'000;  // 1 s
    H264Encoder encoder(config);
    // 20 fps, a 1.5 s gap, a burst at 100 fps, a 0.4 s gap, a gap of exactly 1 s, 30 fps again.
    std::vector<int64_t> times;
    for (int i = 0; i < 30; ++i) times.push_back(int64_t(i) * 500'000);
    times.push_back(times.back() + 15'000'000);
    for (int i = 0; i < 150; ++i) times.push_back(times.back() + 100'000);
    times.push_back(times.back() + 4'000'000);
    times.push_back(times.back() + 10'000'000);
    for (int i = 0; i < 20; ++i) times.push_back(times.back() + kFrame30);
    std::vector<std::vector<uint8_t>> inputs, reconstructions;
    std::vector<EncodedFrame> frames;
    int64_t lastKey = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        inputs.push_back(paint(48, 32, withBox(texturedBackground(), int(i % 30), 4, 12)));
        EncodedFrame frame;
        encoder.encode(inputs.back().data(), times[i], frame);
        const bool expectKey = i == 0 || times[i] - lastKey >= config.keyFrameInterval100ns;
        EXPECT_EQ(frame.keyFrame, expectKey) << "frame " << i << " at " << times[i];
        if (frame.keyFrame) lastKey = times[i];
        frames.push_back(std::move(frame));
        reconstructions.push_back(visibleReconstruction(encoder, 48, 32));
    }
    expectFaithfulDecode(encoder, frames, reconstructions, inputs, 48, 32, 44.0);
}

// Objects moving in different directions give neighbours of every kind of motion, exercising the predicted
// vectors of P_Skip and P_L0_16x16, where encoder and decoder must agree exactly.
TEST(EncoderFfmpeg, CrossingObjectsAgreeWithDecoder) {
    const int width = 192, height = 128;
    struct Mover {
        int x, y, dx, dy, size;
    };
    const Mover movers[] = {{10, 10, 3, 1, 40}, {150, 20, -2, 2, 32}, {40, 90, 4, -1, 24}, {120, 100, -1, -3, 36}};
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < 90; ++i) {
        inputs.push_back(paint(width, height, [&](int x, int y) {
            for (const Mover& m : movers) {
                const int left = m.x + m.dx * i, top = m.y + m.dy * i;
                if (x >= left && x < left + m.size && y >= top && y < top + m.size) {
                    const int u = x - left, v = y - top;
                    return Rgb{(u * 9 + v * 3) & 0xFF, (v * 11) & 0xFF, ((u ^ v) * 5) & 0xFF};
                }
            }
            return texturedBackground()(x, y);
        }));
    }
    H264EncoderConfig config = configFor(width, height, 400'000);
    config.keyFrameInterval100ns = 1'000'000'000;
    H264Encoder encoder(config);
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, width, height, inputs, frames);
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, width, height, inputs.size());
    expectDecoderMatchesEncoder(decoded, reconstructions);
    const auto psnrs = framePsnrs(decoded, inputs, width, height);
    ASSERT_EQ(psnrs.size(), inputs.size());
    expectPsnrAtLeast(psnrs, 38.0);
}

// Panning content under static macroblock-sized icons: below an icon the left and upper-right neighbours move
// while the one above does not, the case where the skip vector is zero although the median is not.
TEST(EncoderFfmpeg, PanningUnderStaticIconsAgreesWithDecoder) {
    const int width = 160, height = 112;
    const std::pair<int, int> icons[] = {{3, 2}, {6, 3}, {4, 5}, {8, 1}};
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < 40; ++i) {
        inputs.push_back(paint(width, height, [&](int x, int y) {
            for (auto [mbX, mbY] : icons)
                if (x / 16 == mbX && y / 16 == mbY) return Rgb{250, (x * 16) & 0xFF, (y * 16) & 0xFF};
            const int u = x + 3 * i, v = y - 2 * i + 200;
            return Rgb{(u * 5 + v * 3) & 0xFF, ((u / 4) * (v / 4) * 7) & 0xFF, (u ^ v) & 0xFF};
        }));
    }
    H264Encoder encoder(configFor(width, height, 300'000));
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, width, height, inputs, frames);
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, width, height, inputs.size());
    expectDecoderMatchesEncoder(decoded, reconstructions);
    // A busy texture panning at a low rate: quality is modest, exactness is the point here.
    expectPsnrAtLeast(framePsnrs(decoded, inputs, width, height), 25.0);
}

// A reconstruction that differs from the decoder's drifts further with every P frame; the last frames show it.
TEST(EncoderFfmpeg, LongSequenceDoesNotDrift) {
    const int width = 80, height = 64;
    H264EncoderConfig config = configFor(width, height, 600'000);
    config.keyFrameInterval100ns = 1'000'000'000;  // one IDR only
    H264Encoder encoder(config);
    std::mt19937 random(11);
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < 300; ++i) {
        const int phase = i;
        inputs.push_back(paint(width, height, [&](int x, int y) {
            const int wave = (x * 5 + y * 3 + phase * 2) % 256;
            const bool box = x >= (phase % 60) && x < (phase % 60) + 16 && y >= 20 && y < 40;
            return box ? Rgb{250, 250, int(random() % 40)} : Rgb{wave, (y * 4 + phase) & 0xFF, (x * 2) & 0xFF};
        }));
    }
    std::vector<EncodedFrame> frames;
    const auto reconstructions = encodeFrames(encoder, width, height, inputs, frames);
    for (size_t i = 1; i < frames.size(); ++i) EXPECT_FALSE(frames[i].keyFrame);
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, width, height, inputs.size());
    expectDecoderMatchesEncoder(decoded, reconstructions);
    const auto psnrs = framePsnrs(decoded, inputs, width, height);
    ASSERT_EQ(psnrs.size(), inputs.size());
    expectPsnrAtLeast(std::vector<FramePsnr>(psnrs.end() - 10, psnrs.end()), 44.0);
    // The content's statistics do not change over the sequence, so neither may the quality.
    double early = 0, late = 0;
    for (size_t i = 1; i <= 30; ++i) early += psnrs[i].y / 30, late += psnrs[psnrs.size() - i].y / 30;
    EXPECT_GE(late, early - 1.5);
}

TEST(EncoderFfmpeg, RejectsUnusableSizes) {
    for (auto [width, height] : {std::make_pair(15, 16), std::make_pair(16, 14), std::make_pair(17, 32),
                                 std::make_pair(32, 33), std::make_pair(0, 0), std::make_pair(-16, 16),
                                 std::make_pair(16386, 64)}) {
        H264Encoder encoder(configFor(width, height));
        EXPECT_FALSE(encoder.valid()) << width << "x" << height;
        EXPECT_TRUE(encoder.sps().empty());
        const std::vector<uint8_t> pixels(64 * 64 * 4);
        EncodedFrame frame;
        frame.data = {1, 2, 3};
        encoder.encode(pixels.data(), 0, frame);
        EXPECT_TRUE(frame.data.empty());
        EXPECT_FALSE(frame.keyFrame);
    }
}

TEST(EncoderFfmpeg, ParameterSetsDescribeTheStream) {
    struct Case {
        int width, height;
        uint32_t bitrate;
        int level;
    };
    for (const Case c : {Case{16, 16, 60'000, 10}, Case{16, 16, 4'000'000, 21}, Case{1280, 720, 4'000'000, 31},
                         Case{1920, 1080, 4'000'000, 40}, Case{1920, 1080, 30'000'000, 41},
                         Case{2560, 1440, 4'000'000, 50}, Case{3840, 2160, 4'000'000, 51},
                         Case{7680, 4320, 4'000'000, 52}}) {
        H264Encoder encoder(configFor(c.width, c.height, c.bitrate));
        ASSERT_TRUE(encoder.valid());
        EXPECT_EQ(encoder.profileIdc(), 66);
        EXPECT_EQ(encoder.constraintFlags() & 0xC0, 0xC0);
        EXPECT_EQ(encoder.levelIdc(), c.level) << c.width << "x" << c.height;
        ASSERT_GE(encoder.sps().size(), 4u);
        EXPECT_EQ(encoder.sps()[0], 0x67);
        EXPECT_EQ(encoder.sps()[1], 66);
        EXPECT_EQ(encoder.sps()[2], encoder.constraintFlags());
        EXPECT_EQ(encoder.sps()[3], encoder.levelIdc());
        EXPECT_EQ(encoder.pps()[0], 0x68);
    }
}

}  // namespace
