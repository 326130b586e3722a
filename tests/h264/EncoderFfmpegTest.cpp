#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "H264Encoder.h"
#include "Oracle.h"

namespace {

constexpr int64_t kFrame30 = 333'333;  // 100 ns units

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

struct Encoded {
    std::vector<EncodedFrame> frames;
    std::vector<std::vector<uint8_t>> inputs;
};

struct Decoded {
    DecodeResult result;
    ProbeResult probe;
};

Decoded decodeAll(const H264Encoder& encoder, const std::vector<EncodedFrame>& frames, const TempDir& dir) {
    const auto file = dir.path / "stream.h264";
    writeFile(file, toAnnexB(encoder, frames));
    return {decodeWithFfmpeg(file, dir.path), probe(file, dir.path)};
}

// Luma PSNR of each decoded frame against the converted input.
std::vector<double> framePsnrs(const Decoded& decoded, const std::vector<std::vector<uint8_t>>& inputs, int width,
                               int height) {
    std::vector<double> psnrs;
    const size_t frameSize = size_t(width) * height * 3 / 2;
    for (size_t i = 0; i < inputs.size() && (i + 1) * frameSize <= decoded.result.yuv.size(); ++i) {
        const std::vector<uint8_t> expected = expectedYuv(inputs[i].data(), width, height);
        psnrs.push_back(lumaPsnr(expected.data(), decoded.result.yuv.data() + i * frameSize, width, height));
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

H264EncoderConfig configFor(int width, int height, uint32_t bitrate = 4'000'000) {
    H264EncoderConfig config;
    config.width = width;
    config.height = height;
    config.bitrate = bitrate;
    return config;
}

void encodeFrames(H264Encoder& encoder, const std::vector<std::vector<uint8_t>>& inputs, std::vector<EncodedFrame>& out,
                  int64_t step = kFrame30) {
    for (size_t i = 0; i < inputs.size(); ++i) {
        EncodedFrame frame;
        encoder.encode(inputs[i].data(), int64_t(i) * step, frame);
        int nals = 0;
        EXPECT_TRUE(lengthPrefixedNalsWellFormed(frame.data, nals)) << "frame " << i;
        out.push_back(std::move(frame));
    }
}

TEST(EncoderFfmpeg, SingleMacroblockFrameDecodesClose) {
    const auto input = paint(16, 16, [](int x, int y) { return Rgb{x * 16, y * 16, 128}; });
    H264Encoder encoder(configFor(16, 16));
    ASSERT_TRUE(encoder.valid());
    std::vector<EncodedFrame> frames;
    encodeFrames(encoder, {input}, frames);
    ASSERT_TRUE(frames[0].keyFrame);
    TempDir dir;
    const Decoded decoded = decodeAll(encoder, frames, dir);
    expectCleanDecode(decoded, 16, 16, 1);
    const auto psnrs = framePsnrs(decoded, {input}, 16, 16);
    ASSERT_EQ(psnrs.size(), 1u);
    EXPECT_GE(psnrs[0], 40.0);
}

}  // namespace
